// Target points, probe points, gap and flush: compensation on bores and shafts in turned frames
// against the geometry worked out here, normals of every length, records and archives byte for
// byte, print forms, moves of the stored results, database round trips.
#include "qorv/measurement/target_points.h"

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/measurement/gap_and_flush.h"
#include "qorv/measurement/probe_points.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/archive.h"
#include "tests/in_order.h"
#include "tests/measurement/inspection_draws.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using namespace qorv::platform;
using qorv_test::appendDouble, qorv_test::Bytes, qorv_test::imageOf, qorv_test::printed;
using qorv_test::restoreFrom;

namespace {

using qorv_test::put32;
void putPoint(Bytes& b, const ERPoint3D& p) {
  appendDouble(b, p.x()), appendDouble(b, p.y()), appendDouble(b, p.z());
}

std::string text(const auto& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

// A random orthonormal frame, one in three mirrored, off the origin by about offset.
struct Frame {
  ERVector3D x, y, z;
  ERPoint3D o;
  ERPoint3D at(double a, double b, double c) const { return o + a * x + b * y + c * z; }
};
Frame randomFrame(std::mt19937_64& rng, double offset) {
  const ERPmIsometrie3D F = qorv_test::randomFrame(rng, offset);
  return {F.getVector(Coord3D::X), F.getVector(Coord3D::Y), F.getVector(Coord3D::Z), F.origine()};
}

}  // namespace

TEST(TargetPoint, TheWorkedExamples) {
  const ERCMMPointWithDiameter probe(ERPoint3D(0, 0, 1.5), ERPoint3D(0, 0, 3), 1.0, 4);
  const gmTargetPoint on(ERPoint3D(), probe, ERVector3D(0, 0, 2));
  EXPECT_EQ(on.calculated_point(), ERPoint3D(0, 0, 1));
  double d = -7;
  ASSERT_TRUE(on.get_distance_to_plane(d));
  EXPECT_EQ(d, 1.0);
  ASSERT_TRUE(on.get_distance_on_plane(d));
  EXPECT_EQ((Seq{d, on.acceptance_distance(), on.distance_to_point()}), (Seq{0.0, 0.0, 1.0}));
  ERVector3D n;
  ASSERT_TRUE(on.get_surface_normal(n));
  EXPECT_EQ(n, ERVector3D(0, 0, 1));

  const gmTargetPoint direct(ERPoint3D(), probe);
  EXPECT_EQ(direct.calculated_point(), ERPoint3D(0, 0, 1.5));
  EXPECT_EQ(direct.acceptance_distance(), 1.5);
  d = -7;
  EXPECT_EQ((Seq{bool(direct.get_distance_to_plane(d)), bool(direct.get_distance_on_plane(d)),
                 bool(direct.get_surface_normal(n)), d, bool(direct.is_compensated())}),
            (Seq{false, false, false, -7, false}));

  const gmTargetPoint side(
      ERPoint3D(), ERCMMPointWithDiameter(ERPoint3D(3, 4, 0.5), ERVector3D(0, 0, 1), 1.0, 1),
      ERVector3D(0, 0, 1));
  EXPECT_EQ(side.calculated_point(), ERPoint3D(3, 4, 0));
  side.get_distance_to_plane(d);
  EXPECT_EQ(d, 0.0);
  side.get_distance_on_plane(d);
  EXPECT_EQ(d, 5.0);

  ERCMMPointWithDiameter scaled = probe;
  scaled.scale(2);
  EXPECT_EQ(scaled.probe_diameter(), 2.0);
  ERCMMPointWithDiameter compensated = probe;
  compensated.compensate(2);
  EXPECT_EQ(compensated.probe_diameter(), 1.0);
  EXPECT_EQ(compensated.probe_center(), ERPoint3D(0, 0, 3));
  const ERCMMPoint approach(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 1), 9);
  EXPECT_EQ((Seq{approach.pretouch_point(), approach.IJK(),
                 approach == ERCMMPoint(ERPoint3D(7, 7, 7), ERPoint3D(), 9)}),
            (Seq{ERPoint3D(1, 2, 4), ERVector3D(0, 0, 1), true}));
}

// A bore measured oversize and a shaft measured undersize both read negative on the normal; the
// deviation is the same on every side, in every frame, for normals of any length.
TEST(TargetPoint, BoresAndShaftsInTurnedFrames) {
  QORV_SEEDED(std::mt19937_64 rng, 2601);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double lengths[] = {1e-200, 1e-8, 1.0, 3e5, 1e200};
  for (int round = 0; round < 2000; ++round) {
    const double scale = std::pow(10.0, -3.0 + 6.0 * u(rng));
    const Frame f = randomFrame(rng, scale * std::pow(10.0, 4.0 * u(rng)));
    const double R = scale * (1.0 + 10.0 * u(rng)), D = R * (0.05 + 0.5 * u(rng));
    const double e = R * 0.01 * (u(rng) - 0.5), theta = 2 * M_PI * u(rng), h = R * (u(rng) - 0.5);
    const bool bore = rng() % 2 == 0;
    const ERVector3D radial = std::cos(theta) * f.x + std::sin(theta) * f.y;
    const ERPoint3D T = f.at(R * std::cos(theta), R * std::sin(theta), h);
    // Out of the material: towards the axis in a bore, away from it on a shaft.
    const ERVector3D out = bore ? -1.0 * radial : radial;
    // The real surface lies e outside the nominal one for the bore (oversize), e inside for the
    // shaft (undersize); the probe centre sits a radius out of the material from it.
    const double actual = bore ? R + e : R - e;
    const ERPoint3D surface = f.at(actual * std::cos(theta), actual * std::sin(theta), h);
    const ERPoint3D centre = surface + (D / 2) * out;
    const double len = lengths[round % 5];
    const gmTargetPoint t(T, ERCMMPointWithDiameter(centre, 2.0 * D * out, D, round), len * out);
    ASSERT_EQ(t.mode(), gmTargetPoint::ON_PLANE);
    const double tol = 1e-12 * (f.o.x() * 0 + qorv::distance(ERPoint3D(), T) + R);
    EXPECT_NEAR(qorv::distance(t.calculated_point(), surface), 0.0, tol) << round;
    double toPlane = 0, onPlane = 0;
    ASSERT_TRUE(t.get_distance_to_plane(toPlane));
    ASSERT_TRUE(t.get_distance_on_plane(onPlane));
    EXPECT_NEAR(toPlane, -e, tol) << round << (bore ? " bore" : " shaft");
    EXPECT_NEAR(onPlane, 0.0, tol) << round;
    EXPECT_NEAR(t.acceptance_distance(), 0.0, tol);
    EXPECT_NEAR(t.distance_to_point(), std::fabs(e), tol);
    ERVector3D n;
    t.get_surface_normal(n);
    EXPECT_NEAR(n.norme(), 1.0, 1e-15);
  }
}

TEST(TargetPoint, DegenerateNormalsNeverGiveANaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ERCMMPointWithDiameter probe(ERPoint3D(3, 4, 5), ERPoint3D(3, 4, 6), 2.0, 1);
  for (const ERVector3D& n : {ERVector3D(), ERVector3D(nan, 0, 1), ERVector3D(0, inf, 1)}) {
    const gmTargetPoint t(ERPoint3D(), probe, n);
    EXPECT_TRUE(t.is_compensated());
    EXPECT_EQ(t.calculated_point(), ERPoint3D(3, 4, 5));
    ERVector3D stored(1, 1, 1);
    t.get_surface_normal(stored);
    EXPECT_EQ(stored, ERVector3D());
    double d = -1;
    t.get_distance_to_plane(d);
    EXPECT_EQ(d, 0.0);
    t.get_distance_on_plane(d);
    EXPECT_DOUBLE_EQ(d, std::sqrt(50.0));
  }
  // Tiny and huge normals compensate as their direction.
  for (double len : {1e-300, 1e-200, 1e200, 1e300}) {
    const gmTargetPoint t(ERPoint3D(), probe, ERVector3D(0, 0, len));
    EXPECT_EQ(t.calculated_point(), ERPoint3D(3, 4, 4)) << len;
  }
}

TEST(TargetPoint, RecordsArchivesAndPrintForms) {
  const ERCMMPointWithDiameter probe(ERPoint3D(0.5, 1, 1.5), ERPoint3D(0.5, 1, 2.5), 1.0, 70000);
  const gmTargetPoint t(ERPoint3D(0.5, 1, 0.25), probe, ERVector3D(0, 0, 4));
  Bytes b{1};
  putPoint(b, ERPoint3D(0.5, 1, 0.25));
  put32(b, 70000);
  putPoint(b, ERPoint3D(0.5, 1, 1.5));
  putPoint(b, ERPoint3D(0.5, 1, 2.5));
  putPoint(b, ERPoint3D(0.5, 1, 1.0));
  putPoint(b, ERPoint3D(0, 0, 1));
  ASSERT_EQ(b.size(), 125u);
  EXPECT_EQ((Seq{imageOf(t), t.binaryStoreSize()}), (Seq{b, 125u}));

  // Restoring keeps the diameter; every truncation leaves the point as it was.
  gmTargetPoint back;
  ERCMMPointWithDiameter keep;
  keep.probe_diameter(7.0);
  back = gmTargetPoint(ERPoint3D(), keep);
  const Bytes before = imageOf(back);
  for (std::size_t n = 0; n < b.size(); ++n) {
    restoreFrom(back, Bytes(b.begin(), b.begin() + static_cast<long>(n)));
    ASSERT_EQ(imageOf(back), before) << n;
  }
  restoreFrom(back, b);
  EXPECT_EQ((Seq{imageOf(back), back.measured_point().probe_diameter()}), (Seq{b, 7.0}));
  EXPECT_EQ(back.measured_point().id(), 70000);

  // Archive: the probe point in its 16-bit form, 1 + 24 + 58 + 48 bytes.
  CArchive out;
  t.write_serialize(out);
  Bytes a{1};
  putPoint(a, ERPoint3D(0.5, 1, 0.25));
  a.push_back(70000 & 0xFF), a.push_back((70000 >> 8) & 0xFF);
  putPoint(a, ERPoint3D(0.5, 1, 1.5));
  putPoint(a, ERPoint3D(0.5, 1, 2.5));
  appendDouble(a, 1.0);
  putPoint(a, ERPoint3D(0.5, 1, 1.0));
  putPoint(a, ERPoint3D(0, 0, 1));
  EXPECT_EQ(Bytes(out.buffer().begin(), out.buffer().end()), a);
  gmTargetPoint loaded;
  CArchive in(a.data(), a.size());
  loaded.read_serialize(in);
  EXPECT_EQ((Seq{loaded.measured_point().id(), loaded.measured_point().probe_diameter(),
                 loaded.calculated_point()}),
            (Seq{70000 - 65536, 1.0, ERPoint3D(0.5, 1, 1.0)}));
  for (std::size_t n = 0; n < a.size(); ++n) {
    gmTargetPoint target(ERPoint3D(9, 9, 9), probe);
    CArchive cut(a.data(), n);
    EXPECT_THROW(target.read_serialize(cut), CArchiveException);
    EXPECT_EQ(target.target_point(), ERPoint3D(9, 9, 9));
  }
  Bytes old{1};
  putPoint(old, ERPoint3D(1, 2, 3));
  putPoint(old, ERPoint3D(4, 5, 6));
  putPoint(old, ERPoint3D(0, 1, 0));
  CArchive oldIn(old.data(), old.size());
  gmTargetPoint fromOld;
  fromOld.read_serialize_old(oldIn);
  EXPECT_EQ((Seq{fromOld.measured_point().probe_center(), fromOld.measured_point().pretouch_point(),
                 fromOld.measured_point().id(), fromOld.measured_point().probe_diameter()}),
            (Seq{ERPoint3D(4, 5, 6), ERPoint3D(4, 5, 7), 0, 0.0}));

  const std::string point = "CMM Point  " + text(probe.probe_center()) +
                            " pretouch=" + text(probe.pretouch_point()) + "\n";
  EXPECT_EQ(printed(t),
            "gmTargetPoint {\n  ON PLANE\n  Target:        " + text(t.target_point()) +
                "\n  Point:         " + point + "  Calc:          " + text(t.calculated_point()) +
                "\n  Distance:      0.75\n" + "  Normal:        " + text(ERVector3D(0, 0, 1)) +
                "\n  Dist to plane: 0.75\n  Dist on plane: 0\n}\n");
  const gmTargetPoint direct(ERPoint3D(0.5, 1, 0.25), probe);
  EXPECT_EQ(printed(direct),
            "gmTargetPoint {\n  DIRECT\n  Target:   " + text(direct.target_point()) +
                "\n  Point:    " + point + "  Calc:     " + text(probe.probe_center()) +
                "\n  Distance: 1.25\n}\n");
  Bytes odd = b;
  odd[0] = 7;
  gmTargetPoint strange;
  restoreFrom(strange, odd);
  EXPECT_EQ(printed(strange), "gmTargetPoint {\n}\n");
  double d;
  EXPECT_EQ((Seq{strange.get_distance_on_plane(d), strange.is_compensated()}), (Seq{false, false}));
}

TEST(TargetPoint, MovesCarryTheStoredResults) {
  const ERCMMPointWithDiameter probe(ERPoint3D(1, 0, 2), ERPoint3D(1, 0, 3), 1.0, 3);
  gmTargetPoint t(ERPoint3D(1, 0, 1), probe, ERVector3D(0, 0, 1));
  gmTargetPoint s = t;
  s.scale(2);
  EXPECT_EQ(s.calculated_point(), ERPoint3D(2, 0, 3));
  EXPECT_EQ(s.measured_point().probe_diameter(), 2.0);
  ERVector3D n;
  s.get_surface_normal(n);
  EXPECT_EQ(n, ERVector3D(0, 0, 1));
  gmTargetPoint m = t;
  m.translate(ERPoint3D(1, 2, 3));
  EXPECT_EQ(m.measured_point().pretouch_point() - m.measured_point().probe_center(),
            ERVector3D(0, 0, 1));
  EXPECT_EQ(m.calculated_point(), ERPoint3D(2, 2, 4.5));

  // A rotation and a similitude move every point as a point, the normal as a direction.
  std::mt19937_64 rng(qorv_test::seedFor(2602));
  for (int round = 0; round < 200; ++round) {
    const Frame f = randomFrame(rng, 100.0);
    const ERPmIsometrie3D iso = ERChgRepere3D(f.x, f.y, f.o);
    gmTargetPoint r = t;
    r.transformFrom(iso);
    EXPECT_NEAR(qorv::distance(r.calculated_point(), iso >> t.calculated_point()), 0, 1e-12);
    EXPECT_NEAR(qorv::distance(r.target_point(), iso >> t.target_point()), 0, 1e-12);
    double before = 0, after = 0;
    t.get_distance_to_plane(before);
    r.get_distance_to_plane(after);
    EXPECT_NEAR(after, before, 1e-12);
    r.transformTo(iso);
    EXPECT_NEAR(qorv::distance(r.calculated_point(), t.calculated_point()), 0, 1e-12);
  }
  gmTargetPoint k = t;
  k.transformFrom(ERPmSimilitude3D(_ERScaling3D(3.0)));
  k.get_surface_normal(n);
  EXPECT_NEAR(n.norme(), 1.0, 1e-15);
  EXPECT_EQ(k.measured_point().probe_diameter(), 1.0);
  EXPECT_EQ(k.calculated_point(), ERPoint3D(3, 0, 4.5));
}

TEST(ProbePoint, ArchivesWithAndWithoutTheClass) {
  for (long id : {7L, 65535L, 70000L, -1L}) {
    const ERCMMPointWithDiameter p(ERPoint3D(1, 2, 3), ERPoint3D(1, 2, 4), 0.5, id);
    CArchive out;
    out << p;
    ASSERT_EQ(out.buffer().size(), 58u);
    CArchive in(out.buffer().data(), out.buffer().size());
    ERCMMPointWithDiameter back;
    in >> back;
    EXPECT_EQ(back.id(), static_cast<long>(static_cast<std::uint32_t>(id) & 0xFFFF)) << id;
    EXPECT_EQ((Seq{back.probe_diameter(), back.pretouch_point()}), (Seq{0.5, ERPoint3D(1, 2, 4)}));
  }
  // Wrong direction: the framework's archive exception.
  ERCMMPointWithDiameter p;
  CArchive store;
  EXPECT_THROW(store >> p, CArchiveException);
  const unsigned char none = 0;
  CArchive load(&none, 0);
  EXPECT_THROW(load << p, CArchiveException);

  // With the class: the current name, written once, then referred to.
  const ERCMMPointWithDiameter a(ERPoint3D(1, 1, 1), ERPoint3D(1, 1, 2), 2.0, 5);
  CArchive out;
  out << static_cast<const CObject*>(&a) << static_cast<const CObject*>(&a);
  const auto& bytes = out.buffer();
  ASSERT_GE(bytes.size(), 6u + 22u + 58u + 2u);
  EXPECT_EQ((Seq{bytes[0], bytes[1]}), (Seq{0xFF, 0xFF}));
  EXPECT_EQ(bytes[2], 1);  // schema 1 (versionable)
  EXPECT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 28), "ERCMMPointWithDiameter");
  CArchive in(bytes.data(), bytes.size());
  CObject *first = nullptr, *second = nullptr;
  in >> first >> second;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(static_cast<ERCMMPointWithDiameter*>(first)->probe_diameter(), 2.0);
  delete first;

  // The two older names load as the same class; an unknown name is refused.
  for (const char* name :
       {"CMMPointWithDiameter", "PointMesureDegauSurForme", "NoSuchProbePoint"}) {
    Bytes b{0xFF, 0xFF, 0, 0, static_cast<unsigned char>(std::strlen(name)), 0};
    b.insert(b.end(), name, name + std::strlen(name));
    b.push_back(3), b.push_back(0);
    putPoint(b, ERPoint3D(1, 2, 3));
    putPoint(b, ERPoint3D(1, 2, 4));
    appendDouble(b, 0.25);
    CArchive old(b.data(), b.size());
    if (std::string(name) == "NoSuchProbePoint") {
      EXPECT_THROW(old.ReadObject(nullptr), CArchiveException);
      continue;
    }
    CObject* o = old.ReadObject(&ERCMMPointWithDiameter::classERCMMPointWithDiameter);
    ASSERT_NE(o, nullptr) << name;
    auto* q = static_cast<ERCMMPointWithDiameter*>(o);
    EXPECT_EQ((Seq{q->id(), q->probe_diameter(), o->GetRuntimeClass()}),
              (Seq{3, 0.25, &ERCMMPointWithDiameter::classERCMMPointWithDiameter}));
    delete o;
    // Cut anywhere: an exception, never a half-read object leaked.
    for (std::size_t n = 0; n < b.size(); ++n) {
      CArchive cut(b.data(), n);
      EXPECT_THROW(cut.ReadObject(nullptr), CArchiveException) << n;
    }
  }
  // The stored image through ERFile (52 bytes) is the middle of the target point's.
  const ERCMMPoint c(ERPoint3D(1, 2, 3), ERPoint3D(4, 5, 6), -2);
  EXPECT_EQ(c.binaryStoreSize(), 52u);
  EXPECT_EQ(text(c), "CMM Point  " + text(ERPoint3D(1, 2, 3)) +
                         " pretouch=" + text(ERPoint3D(4, 5, 6)) + "\n");
}

TEST(GapAndFlush, FramesValuesAndMoves) {
  const gmGapAndFlush g(ERPoint3D(), ERVector3D(1, 0, 0), ERVector3D(0, 0, 1), 0.5, -0.1);
  EXPECT_EQ((Seq{g.direction(), g.auxiliary_direction(), g.normal()}),
            (Seq{ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERVector3D(0, 0, 1)}));
  EXPECT_EQ(g.centre(), ERPoint3D());
  EXPECT_FALSE(g.get2DEntProjectedOn(ERPmIsometrie3D()));
  // Not perpendicular, any normal length: the same frame.
  const gmGapAndFlush tilted(ERPoint3D(), ERVector3D(1, 0, 1), ERVector3D(0, 0, 1e-250), 0.5, -0.1);
  EXPECT_NEAR(qorv::distance(ERPoint3D(tilted.direction()), ERPoint3D(1, 0, 0)), 0, 1e-15);
  EXPECT_NEAR(qorv::distance(ERPoint3D(tilted.normal()), ERPoint3D(0, 0, 1)), 0, 1e-15);
  // Parallel: the normal stays the z axis, the frame has no NaN.
  const gmGapAndFlush parallel(ERPoint3D(1, 2, 3), ERVector3D(0, 0, 5), ERVector3D(0, 0, 1), 1, 2);
  EXPECT_NEAR(qorv::distance(ERPoint3D(parallel.normal()), ERPoint3D(0, 0, 1)), 0, 1e-15);
  EXPECT_NEAR(parallel.direction().norme(), 1.0, 1e-15);
  EXPECT_NEAR(parallel.direction() * parallel.normal(), 0.0, 1e-15);

  // Random frames: orthonormal, right-handed, x along the part of d across n.
  std::mt19937_64 rng(qorv_test::seedFor(2603));
  for (int round = 0; round < 500; ++round) {
    const Frame f = randomFrame(rng, 1e3);
    std::normal_distribution<double> gd;
    const ERVector3D d = f.x + gd(rng) * f.z;
    const gmGapAndFlush r(f.o, 1e-5 * d, 1e7 * f.z, 1, 1);
    EXPECT_NEAR(qorv::distance(ERPoint3D(r.direction()), ERPoint3D(f.x)), 0, 1e-13);
    EXPECT_NEAR(qorv::distance(ERPoint3D(r.normal()), ERPoint3D(f.z)), 0, 1e-13);
    EXPECT_NEAR(((r.direction() ^ r.auxiliary_direction()) - r.normal()).norme(), 0, 1e-13);
  }

  gmGapAndFlush s = g;
  s.scale(2);
  EXPECT_EQ((Seq{s.gap(), s.flush()}), (Seq{1.0, -0.2}));
  gmGapAndFlush iso =
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(-1, 0, 0), ERPoint3D(5, 5, 5)) >> g;
  EXPECT_EQ((Seq{iso.gap(), iso.flush()}), (Seq{0.5, -0.1}));
  EXPECT_NEAR(qorv::distance(ERPoint3D(iso.direction()), ERPoint3D(0, 1, 0)), 0, 1e-15);
  EXPECT_EQ(iso.centre(), ERPoint3D(5, 5, 5));
  gmGapAndFlush sim = g;
  sim.transformFrom(ERPmSimilitude3D(_ERScaling3D(4.0)));
  EXPECT_EQ(sim.gap(), 2.0);
  sim.transformTo(ERPmSimilitude3D(_ERScaling3D(4.0)));
  EXPECT_EQ(sim.gap(), 0.5);

  // Record: the frame's, then 16 bytes; every truncation leaves the object as it was.
  const Bytes image = imageOf(g);
  EXPECT_EQ(image.size(), g.binaryStoreSize());
  gmGapAndFlush back(ERPoint3D(1, 1, 1), ERVector3D(0, 1, 0), ERVector3D(1, 0, 0), 9, 9);
  const Bytes before = imageOf(back);
  for (std::size_t n = 0; n < image.size(); ++n) {
    restoreFrom(back, Bytes(image.begin(), image.begin() + static_cast<long>(n)));
    ASSERT_EQ(imageOf(back), before) << n;
  }
  restoreFrom(back, image);
  EXPECT_EQ((Seq{back.gap(), back.flush()}), (Seq{0.5, -0.1}));
  // The identity's, a translation's and a turned frame's forms: "Gap" always starts a line.
  for (const ERPmIsometrie3D& F :
       {ERPmIsometrie3D(), ERPmIsometrie3D(_ERTranslation3D(ERPoint3D(1, 2, 3))),
        ERPmIsometrie3D(
            ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(-1, 0, 0), ERPoint3D(5, 5, 5)))}) {
    const gmGapAndFlush h(F, 0.5, -0.1);
    std::ostringstream frame;
    F.printOn(frame);
    std::string form = frame.str();
    if (form.empty() || form.back() != '\n') form += '\n';
    EXPECT_EQ(printed(h), "Gap and Flush:\n" + form +
                              "               : Gap 0.5\n               : Flush -0.1\n");
  }
}

TEST(UncompensatedCurve, SpansPrintReverseAndBox) {
  gmUncompensatedCurve c;
  for (int s = 0; s < 3; ++s) {
    QuickAlgebra::ERVec<ERPole3DH> h(3);
    for (int i = 0; i < 3; ++i) h[i] = ERPole3DH(s * 2.0 + i, i % 2, 0.1 * s, 1.0);
    c.append_span(ERCpoleNURBS3D(h));
  }
  EXPECT_EQ((Seq{c.number_of_spans(), c.span(3)}), (Seq{3, nullptr}));
  const std::string p = printed(c);
  EXPECT_EQ(p.substr(0, 27), "gmUncompensatedCurve {\n(3)[");
  EXPECT_EQ(p.substr(p.size() - 4), "]\n}\n");
  gmUncompensatedCurve r = c;
  r.reverse();
  EXPECT_NEAR(qorv::distance(r.span(0)->PtCur(r.span(0)->udeb()).point(), ERPoint3D(6, 0, 0.2)), 0,
              1e-15);
  r.reverse();
  EXPECT_EQ(printed(r), p);
  const ERMinimax3D box = c.box();
  EXPECT_EQ((Seq{box.MinPoint().x(), box.MaxPoint().x()}), (Seq{0.0, 6.0}));
  EXPECT_FALSE(c.get2DEntProjectedOn(ERPmIsometrie3D()));
}

TEST(Measurement, DatabaseRoundTrips) {
  const gmTargetPoint t(ERPoint3D(1, 2, 3),
                        ERCMMPointWithDiameter(ERPoint3D(1, 2, 4), ERPoint3D(1, 2, 5), 1.0, 8),
                        ERVector3D(0, 0, 1));
  const gmGapAndFlush g(ERPoint3D(4, 5, 6), ERVector3D(1, 1, 0), ERVector3D(0, 0, 1), 0.3, 0.05);
  ERPersistentPoint2D p2(ERPoint2D(1, 2));
  ERPersistentPoint3D p3(ERPoint3D(1, 2, 3));
  ERPersistentVector3D v3(ERVector3D(0, 1, 0));
  gmPersistentPoint3DPair pair(ERPersistentPoint3D(ERPoint3D(1, 1, 1)),
                               ERPersistentPoint3D(ERPoint3D(2, 2, 2)));
  const std::vector<ERObject*> objects{
      const_cast<gmTargetPoint*>(&t), const_cast<gmGapAndFlush*>(&g), &p2, &p3, &v3, &pair};
  const qorv_test::DataBaseRoundTrip trip(objects);
  for (std::size_t k = 0; k < objects.size(); ++k) {
    t_SmartPtr<ERObject> o = trip.back(k);
    ASSERT_TRUE(o) << k;
    EXPECT_EQ(imageOf(*o), imageOf(*objects[k])) << o->className();
  }
  EXPECT_EQ(printed(p3), "(P) " + text(ERPoint3D(1, 2, 3)));
  EXPECT_EQ(printed(pair), "(P) " + text(ERPoint3D(1, 1, 1)) + "(P) " + text(ERPoint3D(2, 2, 2)));
}
