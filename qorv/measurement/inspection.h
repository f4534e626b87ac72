// qorv/measurement/inspection.h
//
// Inspection of measured probe points against nominal features: each point is assigned to a
// feature (the one named, else the nearest), given its foot on the feature within the feature's
// limits, compensated by the probe radius along the normal that points out of the material
// (gmTargetPoint, ON PLANE), and judged against the feature's tolerance band; each feature gets
// the statistics of its deviations and, for planes, cylinders and spheres, a least-squares fit.
//
// Conventions a caller gets wrong:
// - Points are probe CENTRES. The deviation is (calculated - foot) . outward normal: positive
//   where the part has more material than nominal (a shaft oversize, a bore undersize, a face
//   standing proud), negative where it has less.
// - "material" says on which side of a curved feature the part is: INSIDE for a shaft, a boss or
//   a ball (the outward normal points away from the axis or centre), OUTSIDE for a bore, a hole
//   or a seat. A plane's given normal points out of the material. A feature over any bounded
//   surface (SURFACE) takes the surface's own normal as pointing out of the material unless
//   told it points in; each thread works on its own copy of the surface.
// - Limits: a plane is the rectangle [u0, u1] x [v0, v1] of its frame's x and y; a cylinder the
//   angles [a0, a1] about its axis from its x axis and the heights [h0, h1] along it; a cone the
//   same angles and the distances [d0, d1] from its apex along a generator (d >= 0); a sphere the
//   longitudes [a0, a1] and the latitudes [b0, b1] (in [-pi/2, pi/2]); a torus the angles about
//   its axis and the tube angles [b0, b1] (0 on the outer equator, growing towards +z). Angles in
//   radians, each range at most one turn. The foot is the nearest point of the patch: the
//   global nearest point of the library's bounded surface of that kind and those limits (within
//   the patch, or on its border), so a point beside a patch is judged against the patch's edge.
//   A torus whose tube radius reaches its major radius and a point that sees a whole curve of
//   nearest points (on an axis, at a centre, on a torus's core circle) have no single foot: the
//   point is skipped.
// - A point names its feature by id; an unknown id skips it. Skipped points are reported with
//   their reason and counted; they never stop the run.
// - Statistics: count, min, max, mean, standard deviation (ERSerieStatistic), points out of the
//   band [lower, upper] (the band itself inclusive). Fits use the calculated points: a plane's
//   form error is the spread of signed distances to the fitted plane; a sphere's and a cylinder's
//   size is the fitted radius (Gauss-Newton from the nominal, at most 50 iterations, the count
//   reported) and their form error the spread of radial residuals. Fewer points than a fit needs
//   (3, 4, 5) leave it undone.
// - Form and size as a drawing asks (setForm): planes, cylinders, cones and spheres get the
//   form of their calculated points by the association chosen (form.h; minimum zone by
//   default) and, cylinders and spheres, their diameter by its own association; each judged
//   against its own tolerance (form: width <= formTolerance; size: the diameter's deviation
//   from the nominal 2 r1 within [sizeLower, sizeUpper]). A fit the points cannot make is not
//   judged: its result says why.
// - Orientation and location (setTolerances): judged against the datums that features carry by
//   letter, each datum the least-squares fit of its feature's calculated points (a plane, a
//   cylinder's or cone's axis, a sphere's centre), the feature's element the fit of its size
//   association, else of its form association, else least squares. "Profile of a surface" is
//   the band [lower, upper] itself.
// - run() splits the points over threads; results come back in input order whatever the count.
// - Clouds (runCloud): scanner points are surface points, named for no feature; a million cost
//   20 bytes each beyond their coordinates (12 of results, 8 the statistics keep). Their fits (and
//   form and size) use an even subset of at most fitPoints per feature: a fit's cost grows with its
//   points, its answer barely.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "qorv/foundation/boxes.h"
#include "qorv/foundation/points.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/measurement/form.h"
#include "qorv/measurement/measured_points.h"
#include "qorv/measurement/target_points.h"
#include "qorv/measurement/tolerances.h"
#include "qorv/support/serie_statistic.h"
#include "qorv/surfaces/parametric_surface.h"

namespace qorv::detail {
struct PlacementMap;
}
// The form and size a feature's drawing asks for; none by default.
struct QORV_API gmFeatureForm {
  bool form = false, size = false;
  gmForm::Association formAssociation = gmForm::MINIMUM_ZONE;
  gmForm::Association sizeAssociation = gmForm::LEAST_SQUARES;
  double formTolerance = HUGE_VAL;                     // the widest zone allowed
  double sizeLower = -HUGE_VAL, sizeUpper = HUGE_VAL;  // on the diameter's deviation
};

// One nominal feature: geometry in its own frame, limits, tolerance band, material side.
class QORV_API gmInspectionFeature {
 public:
  enum Kind { PLANE, CYLINDER, CONE, SPHERE, TORUS, SURFACE };
  enum Material { INSIDE, OUTSIDE };

  // frame: origin and axes (z the plane's normal or the axis); dimensions by kind:
  //   PLANE    none                        limits u (x), v (y)
  //   CYLINDER r1 = radius                 limits angle, height
  //   CONE     r1 = half-angle (0, pi/2)   limits angle, distance from the apex (>= 0)
  //   SPHERE   r1 = radius                 limits longitude, latitude
  //   TORUS    r1 = major, r2 = minor      limits angle, tube angle
  gmInspectionFeature(std::string id, Kind kind, const ERPmIsometrie3D& frame, double r1, double r2,
                      double u0, double u1, double v0, double v1, Material material, double lower,
                      double upper);

  // Any bounded surface: its own normal points out of the material unless normalInward. The
  // foot is the surface's global nearest point when it has a search of its own (pole surfaces,
  // surfaces of revolution, trimmed faces, whose nearest point may lie on a loop); otherwise the
  // surface's foot when it lies within the limits, else the nearest point of the four limit
  // curves (sampled, then refined to the parameter's rounding).
  gmInspectionFeature(std::string id, const t_SmartPtr<ERAnyBoundedSurface>& surface,
                      bool normalInward, double lower, double upper);

  const std::string& id() const { return id_; }
  const t_SmartPtr<ERAnyBoundedSurface>& surface() const { return surface_; }
  // The same feature over its own copy of the surface, for another thread.
  gmInspectionFeature clone() const;
  Kind kind() const { return kind_; }
  static const char* kindName(Kind k);
  // The kind in words for reports: a surface feature says what surface it is ("nurbs",
  // "bezier", "cylinder", ...; "faces" for a group of CAD faces; "surface" for any other).
  const char* label() const;
  Material material() const { return material_; }
  double lower() const { return lower_; }
  double upper() const { return upper_; }
  const ERPmIsometrie3D& frame() const { return frame_; }
  double r1() const { return r1_; }
  double r2() const { return r2_; }
  // The limits of the patch's parameters.
  double u0() const { return u0_; }
  double u1() const { return u1_; }
  double v0() const { return v0_; }
  double v1() const { return v1_; }
  // A box holding the patch.
  const ERMinimax3D& box() const { return box_; }
  // "" when the feature is usable, else why not.
  const std::string& problem() const { return problem_; }
  // The form and size to judge; "" or why the feature cannot have them (a torus, a surface; a
  // size on a plane or cone).
  std::string setForm(const gmFeatureForm& f);
  const gmFeatureForm& form() const { return form_; }
  // A feature over any surface that lies on one plane, cylinder, cone or sphere (faces of a CAD
  // model) may be told that element (frame and r1 as for that kind); it then carries form,
  // size, a datum and tolerances as that kind does. "" or why not.
  std::string setElement(Kind kind, const ERPmIsometrie3D& frame, double r1);
  // The kind, frame and r1 that form, size and tolerances see: the feature's own, or those set.
  Kind elementKind() const { return kind_ == SURFACE ? elementKind_ : kind_; }
  const ERPmIsometrie3D& elementFrame() const { return kind_ == SURFACE ? elementFrame_ : frame_; }
  double elementR1() const { return kind_ == SURFACE ? elementR1_ : r1_; }
  // The datum letter the feature carries ("" when none) and its orientation and location
  // tolerances (tolerances.h): "" or why the feature cannot carry them.
  std::string setTolerances(std::string datum, std::vector<gmToleranceSpec> tolerances);
  const std::string& datum() const { return datum_; }
  const std::vector<gmToleranceSpec>& tolerances() const { return tolerances_; }

  // The nearest point of the patch and the outward unit normal there; 0 when the point has no
  // single foot (on an axis) or is not finite.
  int foot(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& outward) const;
  // The point of the patch at its parameters (u, v) and the outward normal there.
  ERPoint3D point(double u, double v, ERVector3D* outward = nullptr) const;

 private:
  int surfaceFoot(const ERPoint3D& p, ERPoint3D& f, ERVector3D& n) const;
  void computeBox();
  void buildNominal();

  std::string id_;
  Kind kind_;
  ERPmIsometrie3D frame_;
  double r1_, r2_, u0_, u1_, v0_, v1_;
  double coneSin_ = 0, coneCos_ = 1;  // of the cone's half-angle
  Material material_;
  double lower_, upper_;
  ERMinimax3D box_;
  std::string problem_;
  t_SmartPtr<ERAnyBoundedSurface> surface_;
  // The library's surface of the kind's patch (shared by copies: its search keeps no state), and
  // its placement's map read into numbers (the frame's, without a call per point).
  t_SmartPtr<ERAnyBoundedSurface> nominal_;
  const qorv::detail::PlacementMap* map_ = nullptr;
  gmFeatureForm form_;
  std::string datum_;
  std::vector<gmToleranceSpec> tolerances_;
  Kind elementKind_ = SURFACE;
  ERPmIsometrie3D elementFrame_;
  double elementR1_ = 0;
};

// The usable feature whose foot is nearest p (the lowest index among equally near ones), with
// that foot and the outward normal there; -1 when none has a single foot. Features are visited
// by the distance to their boxes and the search stops at the first box farther than the best
// foot, so a part of many faces costs a few foot searches per point, not one per face.
// second, when given, receives a lower bound on the distance from p to every other usable
// feature (HUGE_VAL when there is none): a point moved by less than half the gap between it and
// the foot's distance keeps its feature, so a caller moving points a little need not search again.
QORV_API int gmNearestFeature(const std::vector<gmInspectionFeature>& features, const ERPoint3D& p,
                              ERPoint3D& foot, ERVector3D& outward, double* second = nullptr);

// Why a point was not judged.
enum class gmSkip : std::uint8_t {
  none,            // judged
  notFinite,       // a coordinate is not finite
  noDiameter,      // the probe diameter is not a number of 0 or more
  unknownFeature,  // it names a feature the nominal lacks
  noSingleFoot,    // on its named feature's axis or centre
  noFoot,          // no feature has a single foot for it
  unassigned,      // named none and lies farther than maxDistance() from each
};

// One point's result: a flat record (104 bytes, no allocation), so a million points cost little
// beyond their geometry. The stored form is gmInspection::target(), the words skipReason().
struct QORV_API gmInspectedPoint {
  ERPoint3D calculated;  // the probe centre compensated towards the material
  ERPoint3D nominal;     // its nearest point on the feature
  ERVector3D normal;     // the outward unit normal there
  double deviation = 0;  // (calculated - nominal) . normal; unassigned: the distance found
  double diameter = 0;   // the probe diameter used
  int feature = -1;      // index in the features; -1: not judged
  int nearest = -1;      // unassigned: the nearest feature's index
  bool inTolerance = false;
  gmSkip skip = gmSkip::none;
  bool unassigned() const { return skip == gmSkip::unassigned; }
};

struct QORV_API gmFeatureSummary {
  ERSerieStatistic stats;
  int outOfTolerance = 0;
  int skipped = 0;  // points that named this feature and could not be judged
  // The least-squares fit (planes, cylinders, spheres); fitted = 0 when not done.
  int fitted = 0;
  int iterations = 0;
  double size = 0;       // fitted radius (0 for a plane)
  double formError = 0;  // spread of the residuals
  ERPoint3D fitCentre;   // a point of the fitted axis, the sphere's centre, the plane's centroid
  ERVector3D fitAxis;    // the fitted axis or the plane's normal
  // Form and size as the feature asks (ok = 0 with a reason when not made); in tolerance:
  // 1 or 0, -1 when not judged.
  gmFormResult formFit, sizeFit;
  int formInTolerance = -1, sizeInTolerance = -1;
  // One per tolerances() of the feature, in order.
  std::vector<gmToleranceResult> tolerances;
};

// A cloud's results, flat (12 bytes a point): the deviation, and the feature's index or, for a
// point not judged, -1 - its gmSkip (unassigned: the deviation is the distance found).
struct QORV_API gmCloudResults {
  std::vector<double> deviation;
  std::vector<std::int32_t> feature;
  static gmSkip skipOf(std::int32_t feature) {
    return feature >= 0 ? gmSkip::none : static_cast<gmSkip>(-1 - feature);
  }
};

class QORV_API gmInspection {
 public:
  explicit gmInspection(std::vector<gmInspectionFeature> features)
      : features_(std::move(features)) {}

  const std::vector<gmInspectionFeature>& features() const { return features_; }
  // -1 when absent.
  int featureIndex(const std::string& id) const;
  // A point that names no feature and whose compensated distance to the nearest one exceeds d
  // is unassigned (feature -1, never judged). A named point is judged at any distance: a gross
  // error on a known feature is a finding. Default: no limit.
  void setMaxDistance(double d) { maxDistance_ = d; }
  double maxDistance() const { return maxDistance_; }

  // progress(done) is called now and then from one of the threads, done counting points.
  std::vector<gmInspectedPoint> run(const std::vector<gmMeasuredPoint>& points,
                                    double defaultDiameter, int threads,
                                    const std::function<void(std::size_t)>& progress = {}) const;
  // Surface points (x0 y0 z0 x1 ...), none named, one diameter for all (0: uncompensated).
  gmCloudResults runCloud(const double* xyz, std::size_t n, double diameter, int threads,
                          const std::function<void(std::size_t)>& progress = {}) const;
  // The statistics of every judged point; the fits and the form and size of at most fitPoints
  // of each feature's points, taken at an even step in input order; the features shared out
  // over threads, one thread to a feature.
  std::vector<gmFeatureSummary> summarizeCloud(const double* xyz, const gmCloudResults& results,
                                               double diameter, std::size_t fitPoints = 20000,
                                               int threads = 1) const;
  gmInspectedPoint inspect(const gmMeasuredPoint& p, double defaultDiameter) const {
    return inspectWith(features_, p, defaultDiameter);
  }
  // The reason a point was not judged, in words ("" when it was).
  std::string skipReason(const gmInspectedPoint& r, const gmMeasuredPoint& p) const;
  // The target point the result stands for (foot, probe point, normal), as stored.
  gmTargetPoint target(const gmInspectedPoint& r, const gmMeasuredPoint& p) const;
  // The statistics, fits, form and size of every judged point; the fits shared out over
  // threads, one thread to a feature.
  std::vector<gmFeatureSummary> summarize(const std::vector<gmInspectedPoint>& results,
                                          const std::vector<gmMeasuredPoint>& points,
                                          int threads = 1) const;

 private:
  static void judgeForm(const gmInspectionFeature& f, const std::vector<ERPoint3D>& pts,
                        gmFeatureSummary& fs);
  void judgeTolerances(const std::vector<std::vector<ERPoint3D>>& pts,
                       std::vector<gmFeatureSummary>& s, int threads) const;
  gmInspectedPoint inspectWith(const std::vector<gmInspectionFeature>& features,
                               const gmMeasuredPoint& p, double defaultDiameter) const;
  gmInspectedPoint inspectAt(const std::vector<gmInspectionFeature>& features,
                             const ERPoint3D& centre, double diameter,
                             const std::string& named) const;
  void fitAll(const std::vector<std::vector<ERPoint3D>>& calculated,
              std::vector<gmFeatureSummary>& s, int threads) const;
  void fitOne(std::size_t k, const std::vector<ERPoint3D>& pts, gmFeatureSummary& fs) const;
  template <class Work>
  void forChunks(std::size_t n, int threads, const std::function<void(std::size_t)>& progress,
                 Work work) const;

  std::vector<gmInspectionFeature> features_;
  double maxDistance_ = HUGE_VAL;
};

// Least-squares fits of points (exposed for tests and hosts). Each returns 0 when it cannot fit.
QORV_API int gmFitPlane(const std::vector<ERPoint3D>& pts, ERPoint3D& centroid, ERVector3D& normal,
                        double& formError);
QORV_API int gmFitSphere(const std::vector<ERPoint3D>& pts, ERPoint3D& centre, double& radius,
                         double& formError, int& iterations);
QORV_API int gmFitCylinder(const std::vector<ERPoint3D>& pts, ERPoint3D& axisPoint,
                           ERVector3D& axis, double& radius, double& formError, int& iterations);
