#include "qorv/exchange/cad_reader.h"

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepTools.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Geom2dConvert.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_TrimmedCurve.hxx>
#include <GeomConvert.hxx>
#include <GeomLProp_SLProps.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_BezierSurface.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_OffsetSurface.hxx>
#include <Geom_Plane.hxx>
#include <Geom_RectangularTrimmedSurface.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfLinearExtrusion.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <Standard_Failure.hxx>
#include <StepRepr_RepresentationItem.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Wire.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <thread>
#include <unordered_map>

#include "qorv/exchange/face_group.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/pole_surfaces.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "qorv/surfaces/offset_surface.h"
#include "qorv/surfaces/revolution_surface.h"
#include "qorv/surfaces/trimmed_surface.h"

namespace qorv::exchange {

namespace {

constexpr double kPi = std::numbers::pi;

ERPoint3D pt(const gp_Pnt& p) { return ERPoint3D(p.X(), p.Y(), p.Z()); }
ERVector3D vec(const gp_XYZ& v) { return ERVector3D(v.X(), v.Y(), v.Z()); }

// qorv's parameters of the point at OpenCASCADE's (u, v): u' = a u + b v + c, v' = d u + e v + f.
struct Affine {
  double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;
  ERPoint2D operator()(double u, double v) const {
    return ERPoint2D(a * u + b * v + c, d * u + e * v + f);
  }
  double det() const { return a * e - b * d; }
};

// What makes two faces lie on one analytic surface.
struct Analytic {
  int type = 0;  // 0 none, 1 plane, 2 cylinder, 3 cone, 4 sphere, 5 torus
  gp_Pnt o;      // origin, apex or centre
  gp_Dir z;
  double r1 = 0, r2 = 0;
};

struct Base {
  t_SmartPtr<ERAnyBoundedSurface> s;
  Affine map;
  std::string kind;
  Analytic analytic;
};

// The right-handed placement whose x axis is X and whose z axis is z.
ERPmIsometrie3D frame(const gp_Pnt& o, const gp_Dir& X, const gp_Dir& z) {
  const gp_Dir y = z.Crossed(X);
  return ERChgRepere3D(vec(X.XYZ()), vec(y.XYZ()), pt(o));
}

// +1 when the axes X, Y turn about z counter-clockwise, -1 otherwise.
double turn(const gp_Ax3& ax) { return ax.Direct() ? 1.0 : -1.0; }

ERLimites sorted(double a, double b) { return a <= b ? ERLimites(a, b) : ERLimites(b, a); }

template <class T>
void setLimits(T* s, const ERLimites& U, const ERLimites& V) {
  s->setBound(U, V);
  s->adjust();
}

bool convertBase(const Handle(Geom_Surface) & surface, double u1, double u2, double v1, double v2,
                 Base& out, std::string& why) {
  Handle(Geom_Surface) s = surface;
  while (auto t = Handle(Geom_RectangularTrimmedSurface)::DownCast(s)) s = t->BasisSurface();
  if (auto off = Handle(Geom_OffsetSurface)::DownCast(s)) {
    Base b;
    if (!convertBase(off->BasisSurface(), u1, u2, v1, v2, b, why)) return false;
    GeomLProp_SLProps props(off->BasisSurface(), 0.5 * (u1 + u2), 0.5 * (v1 + v2), 1, 1e-12);
    if (!props.IsNormalDefined()) {
      why = "offset surface without a normal at the middle of its face";
      return false;
    }
    out.s = new EROffsetSurface(*b.s, off->Offset(), vec(props.Normal().XYZ()));
    out.map = b.map, out.kind = "offset";
    return true;
  }
  if (auto p = Handle(Geom_Plane)::DownCast(s)) {
    const gp_Ax3 ax = p->Position();
    const gp_Dir z = ax.XDirection().Crossed(ax.YDirection());
    out.s = new ERBoundedPlane(frame(ax.Location(), ax.XDirection(), z), ERLimites(u1, u2),
                               ERLimites(v1, v2));
    out.kind = "plane", out.analytic = {1, ax.Location(), z, 0, 0};
    return true;
  }
  if (auto c = Handle(Geom_CylindricalSurface)::DownCast(s)) {
    const gp_Ax3 ax = c->Position();
    const double sg = turn(ax);
    auto* q = new ERBoundedCylinder(frame(ax.Location(), ax.XDirection(), ax.Direction()), 1.0,
                                    c->Radius(), ERRadian(0), ERRadian(2 * kPi));
    setLimits(q, ERLimites(v1, v2), sorted(sg * u1, sg * u2));
    out.s = q, out.map = {0, 1, 0, sg, 0, 0};
    out.kind = "cylinder", out.analytic = {2, ax.Location(), ax.Direction(), c->Radius(), 0};
    return true;
  }
  if (auto c = Handle(Geom_ConicalSurface)::DownCast(s)) {
    const gp_Ax3 ax = c->Position();
    const double sg = turn(ax), a = c->SemiAngle(), R = c->RefRadius();
    const double h0 = R / std::tan(a), ca = std::cos(a);
    const gp_Pnt apex = ax.Location().Translated(gp_Vec(ax.Direction()) * -h0);
    auto* q = new ERBoundedCone(frame(apex, ax.XDirection(), ax.Direction()), ERRadian(a),
                                ca * v1 + h0, ca * v2 + h0);
    setLimits(q, sorted(ca * v1 + h0, ca * v2 + h0), sorted(sg * u1, sg * u2));
    out.s = q, out.map = {0, ca, h0, sg, 0, 0};
    out.kind = "cone", out.analytic = {3, apex, ax.Direction(), std::fabs(a), 0};
    return true;
  }
  if (auto c = Handle(Geom_SphericalSurface)::DownCast(s)) {
    const gp_Ax3 ax = c->Position();
    const double sg = turn(ax);
    out.s = new ERBoundedSphere(frame(ax.Location(), ax.XDirection(), ax.Direction()), c->Radius(),
                                sorted(sg * u1, sg * u2), ERLimites(v1, v2));
    out.map = {sg, 0, 0, 0, 1, 0};
    out.kind = "sphere", out.analytic = {4, ax.Location(), ax.Direction(), c->Radius(), 0};
    return true;
  }
  if (auto c = Handle(Geom_ToroidalSurface)::DownCast(s)) {
    const gp_Ax3 ax = c->Position();
    const double sg = turn(ax);
    out.s =
        new ERBoundedTorus(frame(ax.Location(), ax.XDirection(), ax.Direction()), c->MajorRadius(),
                           c->MinorRadius(), sorted(sg * u1, sg * u2), ERLimites(v1, v2));
    out.map = {sg, 0, 0, 0, 1, 0};
    out.kind = "torus",
    out.analytic = {5, ax.Location(), ax.Direction(), c->MajorRadius(), c->MinorRadius()};
    return true;
  }
  if (auto rev = Handle(Geom_SurfaceOfRevolution)::DownCast(s)) {
    // The meridian over the face's range as a pole curve (its parameter kept for pole curves
    // and lines; the check of the caller refuses the others), swept right-handed about the
    // axis as OpenCASCADE's u sweeps it: qorv's (u, v) is (v, u).
    Handle(Geom_BSplineCurve) c =
        GeomConvert::CurveToBSplineCurve(new Geom_TrimmedCurve(rev->BasisCurve(), v1, v2));
    if (c.IsNull()) {
      why = "surface of revolution whose meridian has no B-spline form";
      return false;
    }
    if (c->IsPeriodic()) c->SetNotPeriodic();
    QuickAlgebra::ERVec<ERPole3DH> poles(c->NbPoles());
    for (int i = 1; i <= c->NbPoles(); ++i) {
      const gp_Pnt p = c->Pole(i);
      const double w = c->Weight(i);
      poles[i - 1] = ERPole3DH(w * p.X(), w * p.Y(), w * p.Z(), w);
    }
    const TColStd_Array1OfReal& k = c->KnotSequence();
    std::vector<double> K(k.begin(), k.end());
    t_SmartPtr<ERFiniteEntity3DWF> g(
        new ERCpoleNURBS3D(poles, ERKnotVector(c->Degree(), K.data(), static_cast<int>(K.size()))));
    const gp_Ax1 axis = rev->Axis();
    out.s = new ERSurOfRevolution(g, ERInfLine3D(vec(axis.Direction().XYZ()), pt(axis.Location())),
                                  ERLimites(u1, u2));
    out.map = {0, 1, 0, 1, 0, 0};
    out.kind = "revolution";
    return true;
  }
  Handle(Geom_BSplineSurface) bs = Handle(Geom_BSplineSurface)::DownCast(s);
  if (bs.IsNull()) {
    if (!Handle(Geom_BezierSurface)::DownCast(s).IsNull()) {
      bs = GeomConvert::SurfaceToBSplineSurface(s);
    } else if (!Handle(Geom_SurfaceOfLinearExtrusion)::DownCast(s).IsNull()) {
      // Exact NURBS forms; the parameter check below refuses those whose parameters moved.
      bs = GeomConvert::SurfaceToBSplineSurface(
          new Geom_RectangularTrimmedSurface(s, u1, u2, v1, v2));
    } else {
      why = std::string("surface kind ") + s->DynamicType()->Name() + " is not converted";
      return false;
    }
  } else {
    bs = Handle(Geom_BSplineSurface)::DownCast(bs->Copy());
  }
  if (bs.IsNull()) {
    why = "no B-spline form";
    return false;
  }
  if (bs->IsUPeriodic()) bs->SetUNotPeriodic();
  if (bs->IsVPeriodic()) bs->SetVNotPeriodic();
  const int nu = bs->NbUPoles(), nv = bs->NbVPoles();
  QuickAlgebra::ERMatrix<ERPole3DH> poles(nv, nu);
  for (int j = 1; j <= nv; ++j)
    for (int i = 1; i <= nu; ++i) {
      const gp_Pnt p = bs->Pole(i, j);
      const double w = bs->Weight(i, j);
      poles(j - 1, i - 1) = ERPole3DH(w * p.X(), w * p.Y(), w * p.Z(), w);
    }
  const TColStd_Array1OfReal& ku = bs->UKnotSequence();
  const TColStd_Array1OfReal& kv = bs->VKnotSequence();
  std::vector<double> KU(ku.begin(), ku.end()), KV(kv.begin(), kv.end());
  auto* q = new ERSpoleNURBS3D(poles, ERKnotVector(bs->UDegree(), KU.data(), int(KU.size())),
                               ERKnotVector(bs->VDegree(), KV.data(), int(KV.size())));
  const double U0 = q->udeb(), U1 = q->ufin(), V0 = q->vdeb(), V1 = q->vfin();
  q->setBound(ERLimites(std::clamp(u1, U0, U1), std::clamp(u2, U0, U1)),
              ERLimites(std::clamp(v1, V0, V1), std::clamp(v2, V0, V1)));
  out.s = q, out.kind = "nurbs";
  return true;
}

// One closed loop from the wire's pcurves: each edge's 2D curve as an exact B-spline in qorv's
// parameters, raised to a common degree and joined at C0 knots.
t_SmartPtr<ERCpoleNURBS2D> loopOf(const TopoDS_Wire& w, const TopoDS_Face& f, const Affine& m,
                                  bool outer, std::string& why) {
  std::vector<Handle(Geom2d_BSplineCurve)> pieces;
  int p = 1;
  for (BRepTools_WireExplorer ex(w, f); ex.More(); ex.Next()) {
    const TopoDS_Edge& E = ex.Current();
    double a = 0, b = 0;
    Handle(Geom2d_Curve) c = BRep_Tool::CurveOnSurface(E, f, a, b);
    if (c.IsNull()) {
      why = "an edge without a curve in the face's parameters";
      return {};
    }
    if (!(b > a)) continue;
    Handle(Geom2d_BSplineCurve) bs =
        Geom2dConvert::CurveToBSplineCurve(new Geom2d_TrimmedCurve(c, a, b));
    if (bs.IsNull()) {
      why = "an edge's 2D curve has no B-spline form";
      return {};
    }
    if (bs->IsPeriodic()) bs->SetNotPeriodic();
    if (E.Orientation() == TopAbs_REVERSED) bs->Reverse();
    p = std::max(p, bs->Degree());
    pieces.push_back(bs);
  }
  if (pieces.empty()) {
    why = "a wire without edges";
    return {};
  }
  std::vector<double> x, y, wt, knots;
  double t = 0;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    Handle(Geom2d_BSplineCurve) bs = pieces[k];
    if (bs->Degree() < p) bs->IncreaseDegree(p);
    const TColStd_Array1OfReal& K = bs->KnotSequence();
    const int n = bs->NbPoles();
    const double shift = t - K.First();
    double scale = 1;
    if (k > 0) {
      // The joint: this piece's weights scaled to meet the previous end, the two ends averaged.
      scale = wt.back() / bs->Weight(1);
      const gp_Pnt2d q = bs->Pole(1);
      const ERPoint2D qm = m(q.X(), q.Y());
      x.back() = 0.5 * (x.back() + qm.x()), y.back() = 0.5 * (y.back() + qm.y());
    }
    for (int i = k > 0 ? 2 : 1; i <= n; ++i) {
      const gp_Pnt2d q = bs->Pole(i);
      const ERPoint2D qm = m(q.X(), q.Y());
      x.push_back(qm.x()), y.push_back(qm.y()), wt.push_back(scale * bs->Weight(i));
    }
    const int from = k > 0 ? p + 1 : 0;
    for (int i = K.Lower() + from; i <= K.Upper(); ++i) knots.push_back(K(i) + shift);
    if (k + 1 < pieces.size()) knots.pop_back();
    t = K.Last() + shift;
  }
  // Closed: the last pole is the first (the edges' ends agree within the model's tolerance).
  const double gap = std::hypot(x.back() - x.front(), y.back() - y.front());
  double span = 0;
  for (std::size_t i = 0; i < x.size(); ++i)
    span = std::max({span, std::fabs(x[i] - x[0]), std::fabs(y[i] - y[0])});
  if (gap > 1e-4 * std::max(span, 1.0)) {
    why = "a wire that does not close in the face's parameters";
    return {};
  }
  x.back() = x.front(), y.back() = y.front();
  // The signed area of the polygon of the poles' images sampled along the curve.
  const int n = static_cast<int>(x.size());
  QuickAlgebra::ERVec<ERPole2DH> poles(n);
  for (int i = 0; i < n; ++i) poles[i] = ERPole2DH(wt[i] * x[i], wt[i] * y[i], wt[i]);
  t_SmartPtr<ERCpoleNURBS2D> c(
      new ERCpoleNURBS2D(poles, ERKnotVector(p, knots.data(), static_cast<int>(knots.size()))));
  if (!c->isValid()) {
    why = "a wire whose joined curve is not a valid B-spline";
    return {};
  }
  double area = 0;
  const int samples = 64 * static_cast<int>(pieces.size());
  const double t0 = c->udeb(), t1 = c->ufin();
  ERPoint2D prev = c->PtCur(t0).point();
  for (int i = 1; i <= samples; ++i) {
    const ERPoint2D q = c->PtCur(t0 + (t1 - t0) * i / samples).point();
    area += prev.x() * q.y() - q.x() * prev.y();
    prev = q;
  }
  if ((area > 0) != outer) c->reverse();
  return c;
}

// OpenCASCADE reports its progress on standard output: a reader keeps only its failures.
void quietMessages() {
  static const bool done = [] {
    for (Message_SequenceOfPrinters::Iterator it(Message::DefaultMessenger()->Printers());
         it.More(); it.Next())
      it.Value()->SetTraceLevel(Message_Fail);
    return true;
  }();
  (void)done;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// The outward normal and the side of the material at the face's middle, for merging.
struct Side {
  gp_Pnt p;
  gp_Vec outward;
};

double sideSign(const Analytic& a, const Side& s) {
  gp_Vec r(a.o, s.p);
  const gp_Vec z(a.z);
  switch (a.type) {
    case 1:
      return s.outward.Dot(z) > 0 ? 1 : -1;
    case 2:
    case 3:
      r -= z * r.Dot(z);
      return s.outward.Dot(r) > 0 ? 1 : -1;
    case 4:
      return s.outward.Dot(r) > 0 ? 1 : -1;
    case 5: {
      gp_Vec radial = r - z * r.Dot(z);
      if (radial.Magnitude() > 0) radial.Normalize();
      return s.outward.Dot(r - radial * a.r1) > 0 ? 1 : -1;
    }
  }
  return 0;
}

bool sameSurface(const Analytic& a, const Analytic& b, double tol) {
  if (a.type != b.type || a.type == 0) return false;
  const bool parallel = std::fabs(std::fabs(a.z.Dot(b.z)) - 1) < 1e-12;
  const gp_Vec d(a.o, b.o);
  switch (a.type) {
    case 1:
      return parallel && std::fabs(d.Dot(gp_Vec(a.z))) <= tol;
    case 2:
      return parallel && d.Crossed(gp_Vec(a.z)).Magnitude() <= tol && std::fabs(a.r1 - b.r1) <= tol;
    case 3:
      return parallel && d.Magnitude() <= tol && std::fabs(a.r1 - b.r1) <= 1e-12;
    case 4:
      return d.Magnitude() <= tol && std::fabs(a.r1 - b.r1) <= tol;
    case 5:
      return parallel && d.Magnitude() <= tol && std::fabs(a.r1 - b.r1) <= tol &&
             std::fabs(a.r2 - b.r2) <= tol;
  }
  return false;
}

struct Converted {
  CadFace face;
  Analytic analytic;
  Side side;
};

bool convertFace(const TopoDS_Face& face, double size, Converted& out, std::string& why) {
  const TopoDS_Face F = TopoDS::Face(face.Oriented(TopAbs_FORWARD));
  Handle(Geom_Surface) S = BRep_Tool::Surface(F);
  if (S.IsNull()) {
    why = "no surface";
    return false;
  }
  double u1, u2, v1, v2;
  BRepTools::UVBounds(F, u1, u2, v1, v2);
  if (!(std::isfinite(u1) && std::isfinite(u2) && std::isfinite(v1) && std::isfinite(v2)) ||
      u2 < u1 || v2 < v1 || std::fabs(u1) > 1e100 || std::fabs(v1) > 1e100 ||
      std::fabs(u2) > 1e100 || std::fabs(v2) > 1e100) {
    why = "unbounded parameters (a face without wires)";
    return false;
  }
  Base base;
  if (!convertBase(S, u1, u2, v1, v2, base, why)) return false;
  // The conversion must give the model's points: 5 x 5 samples of the face's parameter box.
  const double tol = 1e-9 * std::max(1.0, size);
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      const double u = u1 + (u2 - u1) * i / 4, v = v1 + (v2 - v1) * j / 4;
      const gp_Pnt P = S->Value(u, v);
      const ERPoint2D q = base.map(u, v);
      const ERPoint3D Q = (*base.s)(q.x(), q.y());
      const double d = std::hypot(P.X() - Q.x(), P.Y() - Q.y(), P.Z() - Q.z());
      if (!(d <= tol * std::max(1.0, gp_Vec(P.XYZ()).Magnitude() / std::max(1.0, size)))) {
        why = base.kind + " conversion does not keep the parameters (off by " + std::to_string(d) +
              " mm)";
        return false;
      }
    }
  t_SmartPtr<ERTrimmedSurface> trimmed(new ERTrimmedSurface(*base.s));
  const TopoDS_Wire outer = BRepTools::OuterWire(F);
  // The orientation of the loops in qorv's parameters: a mirror of (u, v) turns them.
  for (TopExp_Explorer ex(F, TopAbs_WIRE); ex.More(); ex.Next()) {
    const TopoDS_Wire& w = TopoDS::Wire(ex.Current());
    const bool isOuter = w.IsSame(outer);
    t_SmartPtr<ERCpoleNURBS2D> loop = loopOf(w, F, base.map, isOuter, why);
    if (!loop) return false;
    if (!trimmed->addBound(loop.get(),
                           isOuter ? ERSurfaceBoundary::OUTER : ERSurfaceBoundary::INNER)) {
      why = isOuter ? "the outer loop is refused" : "a hole is refused";
      return false;
    }
  }
  // The outward normal: OpenCASCADE's, turned for a reversed face; found where it exists.
  bool found = false;
  for (int k = 0; k < 25 && !found; ++k) {
    const double u = u1 + (u2 - u1) * (0.5 + 0.37 * ((k % 5) - 2) / 2.0),
                 v = v1 + (v2 - v1) * (0.5 + 0.37 * ((k / 5) - 2) / 2.0);
    GeomLProp_SLProps props(S, u, v, 1, 1e-12);
    if (!props.IsNormalDefined()) continue;
    gp_Vec n(props.Normal());
    if (face.Orientation() == TopAbs_REVERSED) n.Reverse();
    const ERPoint2D q = base.map(u, v);
    const ERVector3D qn = base.s->PtCur(q.x(), q.y()).normale();
    const double dot = qn.x() * n.X() + qn.y() * n.Y() + qn.z() * n.Z();
    if (!(std::fabs(dot) > 0.5)) continue;
    out.face.normalInward = dot < 0;
    out.side = {props.Value(), n};
    found = true;
  }
  if (!found) {
    why = "no normal found on the face";
    return false;
  }
  out.face.kind = base.kind;
  out.face.surface = trimmed.get();
  out.analytic = base.analytic;
  if (const Analytic& a = base.analytic; a.type >= 1 && a.type <= 4) {
    static const char* const kinds[] = {"", "plane", "cylinder", "cone", "sphere"};
    out.face.element = {kinds[a.type], pt(a.o), ERVector3D(a.z.X(), a.z.Y(), a.z.Z()), a.r1};
  }
  GProp_GProps props;
  BRepGProp::SurfaceProperties(face, props);
  out.face.area = props.Mass();
  Bnd_Box box;
  BRepBndLib::AddOptimal(face, box, false, false);
  if (!box.IsVoid()) {
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    out.face.box = ERMinimax3D(ERPoint3D(x0, y0, z0), ERPoint3D(x1, y1, z1));
  }
  return true;
}

// A model read through OpenCASCADE's XDE document: the shape exactly as the plain reader makes
// it (the order of its faces is qorv's numbering), the colour of each placed face and the STEP
// name of each face.
struct Document {
  TopoDS_Shape shape;
  TopTools_IndexedMapOfShape placed;  // the faces as placed in shape
  std::vector<std::string> colours;   // of placed's faces, "" for none
  // A face's colour whatever its placement (the first met), should a placement compose apart.
  std::unordered_map<const TopoDS_TShape*, std::string> anyPlacement;
  std::unordered_map<const TopoDS_TShape*, std::string> names;

  std::string colourOf(const TopoDS_Shape& face) const {
    if (const int k = placed.FindIndex(face); k > 0)
      return colours[static_cast<std::size_t>(k - 1)];
    const auto it = anyPlacement.find(face.TShape().get());
    return it == anyPlacement.end() ? std::string() : it->second;
  }
  std::string nameOf(const TopoDS_Shape& face) const {
    const auto it = names.find(face.TShape().get());
    return it == names.end() ? std::string() : it->second;
  }
};

std::string hexColour(const Quantity_Color& c) {
  double rgb[3];
  c.Values(rgb[0], rgb[1], rgb[2], Quantity_TOC_sRGB);
  static const char digits[] = "0123456789abcdef";
  std::string out = "#";
  for (const double x : rgb) {
    const long v = x > 0 ? std::min(255L, std::lround(x * 255)) : 0;
    out += digits[v >> 4];
    out += digits[v & 15];
  }
  return out;
}

// A label's own colour: its surface colour, else its general one; "" when none.
std::string ownColour(XCAFDoc_ColorTool& tool, const TDF_Label& label) {
  Quantity_Color c;
  if (tool.GetColor(label, XCAFDoc_ColorSurf, c) || tool.GetColor(label, XCAFDoc_ColorGen, c))
    return hexColour(c);
  return "";
}

void colourFaces(const TopoDS_Shape& shape, const TopLoc_Location& at, const std::string& colour,
                 Document& d) {
  for (TopExp_Explorer ex(shape.Moved(at, false), TopAbs_FACE); ex.More(); ex.Next()) {
    const int k = d.placed.Add(ex.Current());
    d.colours.resize(static_cast<std::size_t>(d.placed.Extent()));
    d.colours[static_cast<std::size_t>(k - 1)] = colour;
    d.anyPlacement.emplace(ex.Current().TShape().get(), colour);
  }
}

// Down the document's tree, placements composed as the plain reader composes them: the colour a
// label inherits, or its own, on every face of its shape, then its sub-shapes' own colours over
// it (a solid's, a shell's, last a face's). An instance's colour holds for the labels below it.
void collectColours(XCAFDoc_ColorTool& tool, const TDF_Label& label, const TopLoc_Location& at,
                    std::string colour, bool fromInstance, Document& d, int depth) {
  if (depth > 64) return;  // no model nests so deep; a damaged one may loop
  const std::string own = fromInstance ? "" : ownColour(tool, label);
  if (!own.empty()) colour = own;
  TDF_Label referred;
  if (XCAFDoc_ShapeTool::IsReference(label) &&
      XCAFDoc_ShapeTool::GetReferredShape(label, referred)) {
    collectColours(tool, referred, at * XCAFDoc_ShapeTool::GetLocation(label), colour,
                   fromInstance || !own.empty(), d, depth + 1);
    return;
  }
  if (XCAFDoc_ShapeTool::IsAssembly(label)) {
    TDF_LabelSequence parts;
    XCAFDoc_ShapeTool::GetComponents(label, parts);
    for (const TDF_Label& p : parts)
      collectColours(tool, p, at, colour, fromInstance, d, depth + 1);
    return;
  }
  const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(label);
  if (shape.IsNull()) return;
  colourFaces(shape, at, colour, d);
  TDF_LabelSequence subs;
  XCAFDoc_ShapeTool::GetSubShapes(label, subs);
  std::vector<std::pair<TopoDS_Shape, std::string>> styled;
  for (const TDF_Label& sub : subs) {
    const TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(sub);
    std::string c = ownColour(tool, sub);
    if (!s.IsNull() && !c.empty()) styled.emplace_back(s, std::move(c));
  }
  std::stable_sort(styled.begin(), styled.end(), [](const auto& a, const auto& b) {
    return a.first.ShapeType() < b.first.ShapeType();
  });
  for (const auto& [s, c] : styled) colourFaces(s, at, c, d);
}

// The face items' names, from the transfer's map once (a search per face scans the whole map).
void collectNames(const Handle(XSControl_WorkSession) & ws, Document& d) {
  if (ws.IsNull() || ws->TransferReader().IsNull()) return;
  const Handle(Transfer_TransientProcess) tp = ws->TransferReader()->TransientProcess();
  if (tp.IsNull()) return;
  for (int j = 1; j <= tp->NbMapped(); ++j) {
    const auto item = Handle(StepRepr_RepresentationItem)::DownCast(tp->Mapped(j));
    if (item.IsNull() || item->Name().IsNull() || item->Name()->Length() == 0) continue;
    const Handle(Transfer_Binder) binder = tp->MapItem(j);
    if (binder.IsNull()) continue;
    const TopoDS_Shape s = TransferBRep::ShapeResult(binder);
    if (!s.IsNull() && s.ShapeType() == TopAbs_FACE)
      d.names.emplace(s.TShape().get(), item->Name()->ToCString());
  }
}

// "" when the file read, else why not.
std::string readDocument(const std::string& path, const std::string& format, Document& d) {
  Handle(TDocStd_Document) doc = new TDocStd_Document("BinXCAF");
  STEPCAFControl_Reader step;
  IGESCAFControl_Reader iges;
  // Only colours: the other layers cost time and give nothing here.
  step.SetColorMode(true), step.SetNameMode(false), step.SetLayerMode(false);
  step.SetPropsMode(false), step.SetSHUOMode(false), step.SetGDTMode(false);
  step.SetMatMode(false), step.SetViewMode(false);
  iges.SetColorMode(true), iges.SetNameMode(false), iges.SetLayerMode(false);
  XSControl_Reader& plain =
      format == "step" ? static_cast<XSControl_Reader&>(step.ChangeReader()) : iges;
  Interface_Static::SetCVal("xstep.cascade.unit", "MM");
  if (plain.ReadFile(path.c_str()) != IFSelect_RetDone)
    return std::string("not a readable ") + (format == "step" ? "STEP" : "IGES") + " file";
  if (format == "step" ? !step.Transfer(doc) : !iges.Transfer(doc)) return "";
  d.shape = plain.OneShape();
  const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  TDF_LabelSequence roots;
  XCAFDoc_DocumentTool::ShapeTool(doc->Main())->GetFreeShapes(roots);
  if (!colours.IsNull())
    for (const TDF_Label& root : roots) collectColours(*colours, root, {}, "", false, d, 0);
  if (format == "step") collectNames(plain.WS(), d);
  return "";
}

// OpenCASCADE's readers trust the files they read: a damaged one (a truncated IGES file) can
// make them read through a null pointer. The file is first read and transferred in a child
// process; only a file the child got through is read here. "" when it did, else why not.
std::string tryInChild(const std::string& path, const std::string& format, int seconds) {
  std::cout.flush(), std::cerr.flush();
  const pid_t pid = ::fork();
  if (pid < 0) return "";  // no child to spare: read it here
  if (pid == 0) {
    int status = 1;
    try {
      Document d;
      if (readDocument(path, format, d).empty()) status = 0;
    } catch (...) {
    }
    ::_exit(status);
  }
  int status = 0;
  for (int waited = 0;; ++waited) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return "";
    if (waited >= seconds * 100) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return "the reader did not finish within " + std::to_string(seconds) + " s";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFSIGNALED(status)) return "damaged or truncated: OpenCASCADE's reader fails on it";
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return std::string("not a readable ") + (format == "step" ? "STEP" : "IGES") + " file";
  return "";
}

}  // namespace

std::string cadFormatOf(const std::string& path) {
  const std::string ext = lower(std::filesystem::path(path).extension().string());
  if (ext == ".step" || ext == ".stp") return "step";
  if (ext == ".iges" || ext == ".igs") return "iges";
  return "";
}

CadGroup groupOf(const CadModel& model, const std::vector<int>& faces, const std::string& id) {
  CadGroup g;
  g.id = id, g.faces = faces;
  for (int k : faces) {
    const CadFace& f = model.faces[static_cast<std::size_t>(k)];
    g.area += f.area;
    g.box.Update(f.box);
    if (g.kind.empty()) g.kind = f.kind;
    if (g.kind != f.kind) g.kind = "mixed";
  }
  // One element when every face lies on the first's.
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const CadElement& e = model.faces[static_cast<std::size_t>(faces[i])].element;
    if (i == 0) {
      g.element = e;
      continue;
    }
    const CadElement& a = g.element;
    const ERVector3D d(a.origin, e.origin);
    const double tol = 1e-7 * std::max(1.0, g.box.invalid() ? 1.0 : g.box.diagonal());
    const double off = a.kind == "plane"      ? std::fabs(d * a.axis)
                       : a.kind == "cylinder" ? (d ^ a.axis).norme()
                                              : d.norme();
    if (e.kind != a.kind || (e.axis ^ a.axis).norme() > 1e-9 || std::fabs(e.r1 - a.r1) > tol ||
        !(off <= tol))
      g.element = CadElement();
  }
  if (faces.size() == 1) {
    const CadFace& f = model.faces[static_cast<std::size_t>(faces[0])];
    g.surface = f.surface, g.normalInward = f.normalInward;
    return g;
  }
  t_SmartPtr<ERFaceGroup> s(new ERFaceGroup);
  for (int k : faces) {
    const CadFace& f = model.faces[static_cast<std::size_t>(k)];
    s->add(f.surface, f.normalInward);
  }
  g.surface = s.get();
  return g;
}

CadModel readCad(const std::string& path, const CadOptions& options) {
  CadModel model;
  const std::string format = cadFormatOf(path);
  if (format.empty()) {
    model.error = "not a STEP (.step, .stp) or IGES (.iges, .igs) file";
    return model;
  }
  {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      model.error = "cannot be read";
      return model;
    }
    // OpenCASCADE's readers answer a file of another format with a failure, but not always
    // quickly: the first bytes say what the file is.
    std::ifstream in(path, std::ios::binary);
    std::string head(80, '\0');
    in.read(head.data(), 80);
    head.resize(static_cast<std::size_t>(in.gcount()));
    const bool step = head.rfind("ISO-10303-21", 0) == 0;
    const bool iges = head.size() >= 73 && (head[72] == 'S' || head[72] == 's');
    if (format == "step" && !step) {
      model.error = "not a STEP file (no ISO-10303-21 header)";
      return model;
    }
    if (format == "iges" && !iges) {
      model.error = "not an IGES file (no start section)";
      return model;
    }
  }
  quietMessages();
  if (options.isolate) {
    model.error = tryInChild(path, format, options.seconds);
    if (!model.error.empty()) return model;
  }
  Document document;
  try {
    model.error = readDocument(path, format, document);
  } catch (const Standard_Failure& e) {
    model.error = std::string("cannot be read: ") + e.GetMessageString();
  }
  if (!model.error.empty()) return model;
  const TopoDS_Shape& shape = document.shape;
  if (shape.IsNull()) {
    model.error = "holds no shape";
    return model;
  }
  TopTools_IndexedMapOfShape faces, solids, shells;
  TopExp::MapShapes(shape, TopAbs_FACE, faces);
  TopExp::MapShapes(shape, TopAbs_SOLID, solids);
  TopExp::MapShapes(shape, TopAbs_SHELL, shells);
  model.solids = solids.Extent(), model.shells = shells.Extent(), model.faceCount = faces.Extent();
  if (faces.Extent() == 0) {
    model.error = "holds no faces";
    return model;
  }
  Bnd_Box all;
  BRepBndLib::Add(shape, all);
  double size = 1;
  if (!all.IsVoid()) size = std::sqrt(all.SquareExtent());
  std::vector<Analytic> analytic;
  std::vector<Side> sides;
  for (int i = 1; i <= faces.Extent(); ++i) {
    const TopoDS_Face& face = TopoDS::Face(faces(i));
    Converted c;
    std::string why;
    bool ok = false;
    try {
      ok = convertFace(face, size, c, why);
    } catch (const Standard_Failure& e) {
      ok = false, why = std::string("OpenCASCADE failed: ") + e.GetMessageString();
    }
    if (!ok) {
      model.problems.push_back("face " + std::to_string(i) + ": " + why);
      continue;
    }
    c.face.index = i;
    c.face.name = document.nameOf(face);
    c.face.colour = document.colourOf(face);
    model.faces.push_back(c.face);
    analytic.push_back(c.analytic);
    sides.push_back(c.side);
  }
  // Groups: faces on one analytic surface with the material on the same side.
  const double tol = 1e-9 * std::max(1.0, size);
  std::vector<int> first;  // each group's first face
  for (std::size_t k = 0; k < model.faces.size(); ++k) {
    int g = -1;
    if (options.merge)
      for (std::size_t j = 0; j < first.size() && g < 0; ++j) {
        const std::size_t f = static_cast<std::size_t>(first[j]);
        if (sameSurface(analytic[f], analytic[k], tol) &&
            sideSign(analytic[f], sides[f]) == sideSign(analytic[f], sides[k]))
          g = static_cast<int>(j);
      }
    if (g < 0) {
      g = static_cast<int>(first.size());
      first.push_back(static_cast<int>(k));
    }
    model.faces[k].group = g;
  }
  for (std::size_t j = 0; j < first.size(); ++j) {
    std::vector<int> members;
    for (std::size_t k = 0; k < model.faces.size(); ++k)
      if (model.faces[k].group == static_cast<int>(j)) members.push_back(static_cast<int>(k));
    model.groups.push_back(
        groupOf(model, members,
                "face" + std::to_string(model.faces[static_cast<std::size_t>(first[j])].index)));
  }
  return model;
}

}  // namespace qorv::exchange
