// qorv/exchange/face_group.h
//
// ERFaceGroup: several faces of a CAD model inspected as one feature (a bore written as two
// half cylinders, the faces a side file selects together). Each face keeps its own surface;
// the group lays their parameter rectangles side by side in u so that one (u, v) names one
// point of one face.
//
// Conventions a caller gets wrong:
// - Face k occupies u in [start_k, start_k + width_k] (width_k its u range), the next face
//   starting 1 further on; v is each face's own v. A u in a gap belongs to the nearer face.
// - A face added with flip = true is read with u reversed (u_face = end_k - (U - start_k)):
//   its normal Su x Sv turns, so that every face of the group can show its outward normal as
//   the group's own.
// - PtCur accepts (u, v) outside a face's limits (the face's base surface evaluates there).
// - nearest(p, uv) is the nearest of the faces' global nearest points (a tie: the first face);
//   single is that face's. The box is the union of the faces' boxes.
// - Iso-curves are null (the sample grid evaluates the surface instead); splitting answers 0.
//
// Stored image: none. A group is built from a model each time the model is read; saveGuts
// writes nothing and restoreGuts leaves the group empty.
#pragma once

#include <vector>

#include "qorv/surfaces/parametric_surface.h"

class QORV_API ERFaceGroup : public ERAnyBoundedSurface {
 public:
  QORV_DECLARE_CLASS(ERFaceGroup, ERAnyBoundedSurface);
  using ERAnyBoundedSurface::nearest;
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;

  ERFaceGroup() = default;
  ERFaceGroup(const ERFaceGroup& o);
  ERFaceGroup& operator=(const ERFaceGroup& o);

  // Appends a face (shared); 0 for a null face or one without finite limits.
  int add(const t_SmartPtr<ERAnyBoundedSurface>& face, bool flip);
  int count() const { return static_cast<int>(faces_.size()); }
  const t_SmartPtr<ERAnyBoundedSurface>& face(int k) const { return faces_[k].s; }
  // The face that (u, v) lies on and its parameters there.
  int locate(double u, double v, ERPoint2D& faceUV) const;

  double udeb() const override { return 0.0; }
  double ufin() const override {
    return faces_.empty() ? 0.0 : faces_.back().start + faces_.back().width;
  }
  double vdeb() const override { return v0_; }
  double vfin() const override { return v1_; }
  ERInfoPoint3DSurf PtCur(double u, double v) const override;
  ERMinimax3D getBox() const override { return box_; }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double) const override { return {}; }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double) const override { return {}; }
  double nearest(const ERPoint3D& p, ERPoint2D& uv) const override {
    int single = 1;
    return nearest(p, uv, single);
  }
  double nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const override;
  ERPoint3D project_inbound(const ERPoint3D& p) const override;
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;
  int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int flag) const override;
  void CleanUpTemporaries(int level) override;
  // The longest of the faces' estimates.
  double upperEstimateInU() const override;
  double upperEstimateInV() const override;
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&,
               double) const override {
    return 0;
  }
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&,
               double) const override {
    return 0;
  }

  QORV_DECLARE_COPYABLE(ERFaceGroup);
  void printOn(std::ostream& os) const override;

 private:
  struct Member {
    t_SmartPtr<ERAnyBoundedSurface> s;
    bool flip = false;
    double start = 0, width = 0, u0 = 0, u1 = 0;
  };
  std::vector<Member> faces_;
  double v0_ = 0, v1_ = 0;
  ERMinimax3D box_;
};
