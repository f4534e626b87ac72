// The composite curves: one template body (CompBody) for the four chain classes.
#include "qorv/curves/composite_curves.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "qorv/freeform/pole_curves.h"
#include "qorv/persistence/file.h"

using QuickAlgebra::ERVec;

QORV_DEFINE_CLASS(ERCompCurve2D);
QORV_DEFINE_CLASS(ERCompCurve3D);
QORV_DEFINE_CLASS(ERCrvCompPoly2D);
QORV_DEFINE_CLASS(ERCrvCompPoly3D);

namespace qorv::detail {

// What differs between the four chains: the finite class of the dimension, the twin chain of the
// other dimension and its element class.
template <class C>
struct CompTraits;
template <>
struct CompTraits<ERCompCurve2D> {
  using Finite = ERFiniteEntity2DWF;
  using Limited = ERLimitedEntity2DWF;
  using Twin = ERCompCurve3D;
  using Nurbs = ERCpoleNURBS2D;
};
template <>
struct CompTraits<ERCompCurve3D> {
  using Finite = ERFiniteEntity3DWF;
  using Limited = ERLimitedEntity3DWF;
  using Twin = ERCompCurve2D;
  using Nurbs = ERCpoleNURBS3D;
};
template <>
struct CompTraits<ERCrvCompPoly2D> {
  using Finite = ERFiniteEntity2DWF;
  using Limited = ERLimitedEntity2DWF;
  using Twin = ERCrvCompPoly3D;
  using Nurbs = ERCpoleNURBS2D;
};
template <>
struct CompTraits<ERCrvCompPoly3D> {
  using Finite = ERFiniteEntity3DWF;
  using Limited = ERLimitedEntity3DWF;
  using Twin = ERCrvCompPoly2D;
  using Nurbs = ERCpoleNURBS3D;
};

// An element runs backwards when its start parameter exceeds its end (a reversed arc).
template <class E>
bool runsBackwards(const E& e) {
  return e.udeb() > e.ufin();
}

// The local parameter at the fraction f of the element's way, in its direction of travel.
template <class E>
double localParam(const E& e, double f) {
  const ERLimites b = e.getBound();
  const double a = b.start(), c = b.end();
  double u = runsBackwards(e) ? (1.0 - f) * c + f * a : (1.0 - f) * a + f * c;
  if (f >= 0.0 && f <= 1.0) u = std::max(std::min(a, c), std::min(u, std::max(a, c)));
  return u;
}

// The fraction of the element's way at the local parameter u; 0 for an element of zero width.
template <class E>
double fractionOf(const E& e, double u) {
  const ERLimites b = e.getBound();
  const double w = b.end() - b.start();
  if (!(w != 0.0) || !std::isfinite(w)) return 0.0;
  return runsBackwards(e) ? (b.end() - u) / w : (u - b.start()) / w;
}

template <class C>
struct CompBody {
  using Element = typename C::ElementType;
  using ElementType = Element;
  using Ptr = typename C::ElementPtr;
  using Finite = typename CompTraits<C>::Finite;
  using Limited = typename CompTraits<C>::Limited;
  using Twin = typename CompTraits<C>::Twin;
  using Nurbs = typename CompTraits<C>::Nurbs;

  static Ptr copyOf(const ElementType& e, bool reversed) {
    ERObject* raw = e.getCopy();
    Element* copy = raw != nullptr ? Element::castdown(raw) : nullptr;
    if (copy == nullptr) {
      delete raw;
      return {};
    }
    Ptr p(copy);
    if (reversed) p->reverse();
    return p;
  }

  static void reindex(C& c) {
    c.index_.clear();
    c.index_.reserve(static_cast<std::size_t>(c.elements_.entries()));
    for (const Ptr& e : c.elements_) c.index_.push_back(&e);
  }

  static void resetLimits(C& c) {
    reindex(c);
    const double n = c.elements_.entries();
    setLimits(c, ERLimites(0.0, n), ERLimites(0.0, n));
  }

  // The domain and the trim bounds as given (the chain's adjust() does nothing).
  static void setLimits(C& c, const ERLimites& domain, const ERLimites& bounds) {
    c.Limited::redefineDomain(domain);
    c.setBound(bounds);
  }

  // The first / last non-null element, null when none.
  static const Element* firstElement(const C& c) {
    for (const Ptr& e : c.elements_)
      if (e) return e.get();
    return nullptr;
  }
  static const Element* lastElement(const C& c) {
    const Element* last = nullptr;
    for (const Ptr& e : c.elements_)
      if (e) last = e.get();
    return last;
  }

  static int add(C& c, const Ptr& e, double tol, bool atTail) {
    if (!e) return 0;
    const Element* end = atTail ? lastElement(c) : firstElement(c);
    bool reversed = false;
    if (end != nullptr && !(tol < 0.0)) {
      const auto P = atTail ? end->lastPt() : end->firstPt();
      // Append tries the element's start first, prepend its end.
      const auto near = atTail ? e->firstPt() : e->lastPt();
      const auto far = atTail ? e->lastPt() : e->firstPt();
      if (qorv::distance(P, near) <= tol) {
        reversed = false;
      } else if (qorv::distance(P, far) <= tol) {
        reversed = true;
      } else {
        return 0;
      }
    }
    Ptr copy = copyOf(*e, reversed);
    if (!copy) return 0;
    if (atTail)
      c.elements_.append(copy);
    else
      c.elements_.prepend(copy);
    resetLimits(c);
    return 1;
  }

  // The element index covering the natural parameter t and the fraction through it; -1 for an
  // empty chain.
  static int locate(const C& c, double t, double& f) {
    const int n = c.elements_.entries();
    f = 0.0;
    if (n == 0) return -1;
    const double t0 = c.Ndeb(), t1 = c.Nfin();
    const double x = (t - t0) / (t1 - t0) * n;
    if (!std::isfinite(x)) return 0;
    if (t <= t0) {
      f = x;
      return 0;
    }
    if (t >= t1) {
      f = x - n + 1;
      return n - 1;
    }
    const int i = std::clamp(static_cast<int>(std::floor(x)), 0, n - 1);
    f = x - i;
    return i;
  }

  template <class Info>
  static Info ptCur(const C& c, double t) {
    double f = 0.0;
    const int i = locate(c, t, f);
    const Ptr& e = c.at(i);
    if (!e) {
      Info info;
      info.setParameter(t);
      return info;
    }
    return e->PtCur(localParam(*e, f));
  }

  template <class Point>
  static Point point(const C& c, double t) {
    double f = 0.0;
    const int i = locate(c, t, f);
    const Ptr& e = c.at(i);
    if (!e) return Point();
    return (*e)(localParam(*e, f));
  }

  template <class Point>
  static int project(const C& c, const Point& p, ERVec<double>& params, double tol) {
    params.clear();
    if (c.elements_.isEmpty()) return 0;
    if (tol > 0.0) {
      auto pointBox = decltype(c.getBox())();
      pointBox.Update(p);
      pointBox.Inflate(tol);
      const auto box = c.getBox();
      if (box.invalid() || qorv::RelativePosition(pointBox, box) == 0) return 0;
    }
    int i = 0, asked = 0, everywhere = 0;
    constexpr double slack = 1e-9;
    for (const Ptr& e : c.elements_) {
      if (e) {
        ++asked;
        ERVec<double> local;
        const int r = e->ProjectPoint(p, local, tol > 0.0 ? tol : reach(*e, p));
        if (r == -1 && equidistant(*e, p)) {
          ++everywhere;
          params.append(i + 0.5);
        } else {
          for (int k = 0; k < local.length(); ++k) {
            if (!std::isfinite(local[k])) continue;
            const double f = fractionOf(*e, local[k]);
            if (!(f >= -slack && f <= 1.0 + slack)) continue;
            params.append(i + std::clamp(f, 0.0, 1.0));
          }
        }
      }
      ++i;
    }
    if (asked > 0 && everywhere == asked) return -1;
    return params.length();
  }

  // A tolerance under which the element's box gate lets every foot through.
  template <class Point>
  static double reach(const Element& e, const Point& p) {
    auto b = e.getBox();
    b.Update(p);
    const double d = qorv::distance(decltype(p)(b.MinPoint()), decltype(p)(b.MaxPoint()));
    return std::isfinite(d) ? 2.0 * d + 1.0 : d;
  }

  // Whether the element's ends and middle are equally near p (an arc about its centre): only
  // then does an answer of -1 mean "everywhere" (a pole curve also answers -1 when no span is
  // near).
  template <class Point>
  static bool equidistant(const Element& e, const Point& p) {
    const double d0 = qorv::distance(p, e.firstPt()), d1 = qorv::distance(p, e.lastPt());
    const double dm = qorv::distance(p, e(localParam(e, 0.5)));
    const double slack = 1e-9 * std::max({d0, d1, dm});
    return std::fabs(d0 - d1) <= slack && std::fabs(d0 - dm) <= slack;
  }

  // The crossings of every element (ask(e, local) fills local), in natural parameters.
  template <class Ask>
  static int crossings(const C& c, ERVec<double>& params, Ask ask) {
    const int n = c.elements_.entries();
    const double t0 = c.Ndeb(), w = c.Nfin() - c.Ndeb();
    std::vector<double> found;
    int i = 0;
    for (const Ptr& e : c.elements_) {
      if (e) {
        ERVec<double> local;
        ask(*e, local);
        std::vector<double> fs;
        for (int k = 0; k < local.length(); ++k) {
          if (!std::isfinite(local[k])) continue;
          const double f = fractionOf(*e, local[k]);
          if (f >= -1e-9 && f <= 1.0 + 1e-9) fs.push_back(std::clamp(f, 0.0, 1.0));
        }
        std::sort(fs.begin(), fs.end());
        for (double f : fs) {
          const double g = i + f;
          if (!found.empty() && std::fabs(g - found.back()) <= 1e-12 * (1.0 + g)) continue;
          found.push_back(g);
        }
      }
      ++i;
    }
    for (double g : found) params.append(t0 + g / n * w);
    return params.length();
  }

  template <class Box>
  static Box box(const C& c) {
    Box b;
    for (const Ptr& e : c.elements_)
      if (e) b.Update(e->getBox());
    return b;
  }

  static double length(const C& c) {
    double s = 0.0;
    for (const Ptr& e : c.elements_)
      if (e) s += e->arcLength(1e-7);
    return s;
  }

  template <class Point>
  static ERVec<Point> approx(const C& c, const ERLimites& range, double tol) {
    ERVec<Point> out;
    double lo = range.start(), hi = range.end();
    const bool swapped = lo > hi;
    if (swapped) std::swap(lo, hi);
    if (!(lo <= hi)) return out;
    int i = 0;
    bool begun = false;
    for (const Ptr& e : c.elements_) {
      const bool meets = i <= hi && i + 1 >= lo;
      if (!meets) {
        if (begun) break;
        ++i;
        continue;
      }
      const double fs = std::max<double>(i, lo) - i, fe = std::min<double>(i + 1, hi) - i;
      if (e && fs < fe) {
        const double us = localParam(*e, fs), ue = localParam(*e, fe);
        ERVec<Point> piece;
        if (us < ue) {
          piece = e->approxime(ERLimites(us, ue), tol);
        } else if (ue < us) {
          const ERVec<Point> back = e->approxime(ERLimites(ue, us), tol);
          for (int k = back.length() - 1; k >= 0; --k) piece.append(back[k]);
        }
        for (int k = 0; k < piece.length(); ++k) {
          if (k == 0 && out.length() > 0 && samePoint(out[out.length() - 1], piece[0])) continue;
          out.append(piece[k]);
        }
        begun = begun || piece.length() > 0;
      }
      ++i;
    }
    if (swapped) {
      ERVec<Point> rev;
      for (int k = out.length() - 1; k >= 0; --k) rev.append(out[k]);
      return rev;
    }
    return out;
  }

  template <class Point>
  static bool samePoint(const Point& a, const Point& b) {
    for (int k = 0; k < Point::kSize; ++k)
      if (!(std::fabs(a.data()[k] - b.data()[k]) <= 1e-11)) return false;
    return true;
  }

  static t_SmartPtr<Nurbs> nurbs(const C& c) {
    if (c.elements_.isEmpty()) return {};
    t_SmartPtr<Nurbs> result(new Nurbs);
    int i = 0, pieces = 0;
    for (const Ptr& e : c.elements_) {
      if (e) {
        ++pieces;
        t_SmartPtr<Nurbs> piece = e->ConvertToNurbs();
        if (!piece) return {};
        piece->adjust();
        piece->reparametrize(ERLimites(i, i + 1.0));
        if (!result->append(*piece, -1.0, 0)) return {};
      }
      ++i;
    }
    if (pieces == 0) return {};
    const int n = c.elements_.entries();
    const ERLimites natural = c.domain();
    if (natural != ERLimites(0.0, n)) result->reparametrize(natural);
    result->setBound(c.getBound());
    return result;
  }

  static void appendAsIs(C& c, const Ptr& e) {
    c.elements_.append(e ? copyOf(*e, false) : Ptr());
    resetLimits(c);
  }

  static int split(const C& c, t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double t) {
    const int n = c.elements_.entries();
    if (!(t >= 0.0)) return 0;
    if (n == 0 || (t >= n && t - n > 1e-11)) {
      first = t_SmartPtr<Finite>(new C(c));
      return 0;
    }
    const int k = std::min(static_cast<int>(std::floor(t)), n);
    const bool cut = std::fabs(t - k) > 1e-11 && k < n;
    t_SmartPtr<C> a(new C), b(new C);
    int i = 0;
    for (const Ptr& e : c.elements_) {
      if (i < k) {
        appendAsIs(*a, e);
      } else if (i == k && cut && e) {
        const double f = t - k;
        t_SmartPtr<Finite> p1, p2;
        const Element* e1 = nullptr;
        const Element* e2 = nullptr;
        if (e->splitAt(p1, p2, localParam(*e, f))) {
          e1 = p1 ? Element::castdown(p1.get()) : nullptr;
          e2 = p2 ? Element::castdown(p2.get()) : nullptr;
        }
        if (e1 != nullptr && e2 != nullptr) {
          a->elements_.append(Ptr(const_cast<Element*>(e1)));
          b->elements_.append(Ptr(const_cast<Element*>(e2)));
          resetLimits(*a), resetLimits(*b);
        } else {
          appendAsIs(f < 0.5 ? *b : *a, e);
        }
      } else {
        appendAsIs(*b, e);
      }
      ++i;
    }
    first = t_SmartPtr<Finite>(a.get());
    second = t_SmartPtr<Finite>(b.get());
    return 1;
  }

  static void reverse(C& c) {
    ERTValDlist<Ptr> reversed;
    for (Ptr& e : c.elements_) {
      if (e) e->reverse();
      reversed.prepend(e);
    }
    c.elements_ = std::move(reversed);
    reindex(c);
    c.C::BaseCurve::reverse();
  }

  template <class Move>
  static void each(C& c, Move move) {
    for (Ptr& e : c.elements_)
      if (e) move(*e);
  }

  template <class Frame>
  static t_SmartPtr<Twin> twin(const C& c, const Frame& frame, bool up) {
    using TwinElement = typename Twin::ElementType;
    t_SmartPtr<Twin> out(new Twin);
    for (const Ptr& e : c.elements_) {
      if (!e) continue;
      t_SmartPtr<ERObject> other;
      if constexpr (requires { e->get3DEquiv(frame); }) {
        if (up) other = e->get3DEquiv(frame);
      }
      if constexpr (requires { e->get2DEntProjectedOn(frame); }) {
        if (!up) other = e->get2DEntProjectedOn(frame);
      }
      if (!other) continue;
      TwinElement* o = TwinElement::castdown(other.get());
      if (o != nullptr) out->append(t_SmartPtr<TwinElement>(o), -1.0);
    }
    return out;
  }

  static void print(const C& c, std::ostream& os) {
    static const char* const rule = "=====================================================";
    os << rule << '\n';
    os << c.className() << " with " << c.elements_.entries() << " elements" << '\n';
    c.C::BaseCurve::printOn(os);
    const Element* previous = nullptr;
    for (const Ptr& e : c.elements_) {
      if (!e) continue;
      os << "Start Point : " << e->firstPt() << '\n';
      os << "End Point   : " << e->lastPt() << '\n';
      if (previous != nullptr)
        os << " Dist = " << qorv::distance(previous->lastPt(), e->firstPt()) << '\n';
      os << "Curve     : ---------------- " << '\n';
      e->printOn(os);
      os << "End Curve : ---------------- " << '\n';
      previous = e.get();
    }
    os << rule << '\n';
  }

  static void restore(C& c, ERFile& f) {
    const ERLimites domain = c.domain(), bounds = c.getBound();
    c.C::BaseCurve::restoreGuts(f);
    ERTValDlist<Ptr> read;
    if (!read.restoreGuts(f)) {
      setLimits(c, domain, bounds);
      return;
    }
    c.elements_ = std::move(read);
    reindex(c);
  }
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// The members of each chain, forwarding to the shared body.
#define QORV_COMP_BODIES(Class, Point, Info, Box)                                                 \
  Class::Class(const ElementType& e) { append(e, -1.0); }                                         \
  Class::Class(const Class& o) : BaseCurve(o) {                                                   \
    for (const ElementPtr& e : o.elements_)                                                       \
      elements_.append(e ? Body::copyOf(*e, false) : ElementPtr());                               \
    Body::reindex(*this);                                                                         \
  }                                                                                               \
  Class& Class::operator=(const Class& o) {                                                       \
    if (this != &o) {                                                                             \
      Class copy(o);                                                                              \
      BaseCurve::operator=(o);                                                                    \
      elements_ = std::move(copy.elements_);                                                      \
      Body::reindex(*this);                                                                       \
    }                                                                                             \
    return *this;                                                                                 \
  }                                                                                               \
  Class::~Class() = default;                                                                      \
  int Class::append(const ElementPtr& e, double tol) { return Body::add(*this, e, tol, true); }   \
  int Class::append(const ElementType& e, double tol) {                                           \
    return Body::add(*this, Body::copyOf(e, false), tol, true);                                   \
  }                                                                                               \
  int Class::prepend(const ElementPtr& e, double tol) { return Body::add(*this, e, tol, false); } \
  int Class::prepend(const ElementType& e, double tol) {                                          \
    return Body::add(*this, Body::copyOf(e, false), tol, false);                                  \
  }                                                                                               \
  const Class::ElementPtr& Class::at(int i) const {                                               \
    static const ElementPtr none;                                                                 \
    if (i < 0 || i >= static_cast<int>(index_.size())) return none;                               \
    return *index_[static_cast<std::size_t>(i)];                                                  \
  }                                                                                               \
  Point Class::operator()(double t) const { return Body::point<Point>(*this, t); }                \
  Info Class::PtCur(double t) const { return Body::ptCur<Info>(*this, t); }                       \
  int Class::ProjectPoint(const Point& p, ERVec<double>& params, double tol) const {              \
    return Body::project(*this, p, params, tol);                                                  \
  }                                                                                               \
  Box Class::getBox() const { return Body::box<Box>(*this); }                                     \
  double Class::arcLength(const ERLimites&, double) const { return Body::length(*this); }         \
  double Class::arcLength(double) const { return Body::length(*this); }                           \
  ERVec<Point> Class::approxime(const ERLimites& range, double tol) const {                       \
    return Body::approx<Point>(*this, range, tol);                                                \
  }                                                                                               \
  Class::NurbsPtr Class::ConvertToNurbs() const { return Body::nurbs(*this); }                    \
  int Class::splitAt(t_SmartPtr<Body::Finite>& first, t_SmartPtr<Body::Finite>& second, double t) \
      const {                                                                                     \
    return Body::split(*this, first, second, t);                                                  \
  }                                                                                               \
  void Class::reverse() { Body::reverse(*this); }                                                 \
  void Class::scale(double s) {                                                                   \
    Body::each(*this, [s](auto& e) { e.scale(s); });                                              \
  }                                                                                               \
  void Class::translate(const Point& v) {                                                         \
    Body::each(*this, [&v](auto& e) { e.translate(v); });                                         \
  }                                                                                               \
  QORV_DEFINE_COPYABLE(Class)                                                                     \
  void Class::printOn(std::ostream& os) const { Body::print(*this, os); }                         \
  void Class::saveGuts(ERFile& f) const {                                                         \
    BaseCurve::saveGuts(f);                                                                       \
    elements_.saveGuts(f);                                                                        \
  }                                                                                               \
  void Class::restoreGuts(ERFile& f) { Body::restore(*this, f); }                                 \
  std::uint32_t Class::binaryStoreSize() const {                                                  \
    return BaseCurve::binaryStoreSize() + elements_.binaryStoreSize();                            \
  }                                                                                               \
  Class::ElementPtr Class::findPatch(double t) const {                                            \
    double f = 0.0;                                                                               \
    return at(Body::locate(*this, t, f));                                                         \
  }                                                                                               \
  double Class::matchParamToPatch(double t) const {                                               \
    double f = 0.0;                                                                               \
    Body::locate(*this, t, f);                                                                    \
    return f;                                                                                     \
  }

#define QORV_COMP_BODIES_2D(Class)                                                               \
  int Class::intersectWithAxeY(double x, ERVec<double>& params) const {                          \
    return Body::crossings(*this, params,                                                        \
                           [x](const auto& e, ERVec<double>& l) { e.intersectWithAxeY(x, l); }); \
  }                                                                                              \
  void Class::transformFrom(const ERTransfo2D& T) {                                              \
    Body::each(*this, [&T](auto& e) { e.transformFrom(T); });                                    \
  }                                                                                              \
  void Class::transformTo(const ERTransfo2D& T) {                                                \
    Body::each(*this, [&T](auto& e) { e.transformTo(T); });                                      \
  }                                                                                              \
  t_SmartPtr<EREntity3DWF> Class::get3DEquiv(const ERPmIsometrie3D& frame) const {               \
    return t_SmartPtr<EREntity3DWF>(Body::twin(*this, frame, true).get());                       \
  }                                                                                              \
  Class operator>>(const ERTransfo2D& T, const Class& c) {                                       \
    Class out(c);                                                                                \
    out.transformFrom(T);                                                                        \
    return out;                                                                                  \
  }                                                                                              \
  Class operator<<(const ERTransfo2D& T, const Class& c) {                                       \
    Class out(c);                                                                                \
    out.transformTo(T);                                                                          \
    return out;                                                                                  \
  }

#define QORV_COMP_BODIES_3D(Class)                                                                \
  int Class::intersectWithPlanZ(double z, ERVec<double>& params) const {                          \
    return Body::crossings(*this, params,                                                         \
                           [z](const auto& e, ERVec<double>& l) { e.intersectWithPlanZ(z, l); }); \
  }                                                                                               \
  void Class::transformFrom(const ERPmSimilitude3D& T) {                                          \
    Body::each(*this, [&T](auto& e) { e.transformFrom(T); });                                     \
  }                                                                                               \
  void Class::transformFrom(const ERPmIsometrie3D& T) {                                           \
    Body::each(*this, [&T](auto& e) { e.transformFrom(T); });                                     \
  }                                                                                               \
  void Class::transformTo(const ERPmSimilitude3D& T) {                                            \
    Body::each(*this, [&T](auto& e) { e.transformTo(T); });                                       \
  }                                                                                               \
  void Class::transformTo(const ERPmIsometrie3D& T) {                                             \
    Body::each(*this, [&T](auto& e) { e.transformTo(T); });                                       \
  }                                                                                               \
  t_SmartPtr<EREntity2DWF> Class::get2DEntProjectedOn(const ERPmIsometrie3D& frame) const {       \
    return t_SmartPtr<EREntity2DWF>(Body::twin(*this, frame, false).get());                       \
  }                                                                                               \
  Class operator>>(const ERPmIsometrie3D& T, const Class& c) {                                    \
    Class out(c);                                                                                 \
    out.transformFrom(T);                                                                         \
    return out;                                                                                   \
  }                                                                                               \
  Class operator<<(const ERPmIsometrie3D& T, const Class& c) {                                    \
    Class out(c);                                                                                 \
    out.transformTo(T);                                                                           \
    return out;                                                                                   \
  }

#define Body qorv::detail::CompBody<ERCompCurve2D>
QORV_COMP_BODIES(ERCompCurve2D, ERPoint2D, ERInfoPoint2D, ERMinimax2D)
QORV_COMP_BODIES_2D(ERCompCurve2D)
#undef Body
#define Body qorv::detail::CompBody<ERCompCurve3D>
QORV_COMP_BODIES(ERCompCurve3D, ERPoint3D, ERInfoPoint3DWF, ERMinimax3D)
QORV_COMP_BODIES_3D(ERCompCurve3D)
#undef Body
#define Body qorv::detail::CompBody<ERCrvCompPoly2D>
QORV_COMP_BODIES(ERCrvCompPoly2D, ERPoint2D, ERInfoPoint2D, ERMinimax2D)
QORV_COMP_BODIES_2D(ERCrvCompPoly2D)
#undef Body
#define Body qorv::detail::CompBody<ERCrvCompPoly3D>
QORV_COMP_BODIES(ERCrvCompPoly3D, ERPoint3D, ERInfoPoint3DWF, ERMinimax3D)
QORV_COMP_BODIES_3D(ERCrvCompPoly3D)
#undef Body
