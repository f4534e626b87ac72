// qorv/foundation/transfo3d.h
//
// The transformations of space: the abstract maps ERTr3D and ERTr3DRev (invertible), the
// envelopes ERPmSimilitude3D and ERPmIsometrie3D that callers hold, and the representation
// bases ERTr3DRevRep, ERAnySimilitude3D and ERAnyIsometrie3D whose kinds (identity,
// translation, rotation, workplane, scaling, symmetry, similitude) live in transfo3d_kinds.h.
// Points, vectors, poles and boxes move with T >> x (local to global, TransFrom) and
// T << x (global to local, TransTo); T * P is T >> P.
//
// Conventions a caller gets wrong:
// - A transformation maps LOCAL coordinates to GLOBAL ones. A * B is "B first, then A":
//   (A * B) >> P equals A >> (B >> P).
// - A similitude is P -> R (k P) + t: getMatrix() is R alone (orthogonal), the factor k comes
//   from getFactHomo(), the translation from getTrans(). Vectors take R k v, no translation.
// - An envelope always holds its representation reduced to the simplest kind: a similitude with
//   k = 1 and det R > 0 is held as a workplane, a workplane with t = 0 as a rotation, and so on
//   down to the identity, each time within equalityTolerance. Ask getRep()->isA() for the kind.
// - Representations are shared between envelopes (copying an envelope copies a pointer). Only
//   representations created with new are counted and deleted; one on the stack handed to an
//   envelope is copied to the heap first. The identity is one object per thread.
// - An envelope whose product could not be allocated holds no representation: isValid() is 0
//   and it maps nothing (points come back unchanged).
// - Poles move as their Cartesian point and keep their weight.
//
// Stored form of any envelope (ERFile, little-endian), whatever its kind:
//   SIZE  FIELD
//      4  r = 3   rows of getMatrix()
//      4  c = 3   columns
//      4  72      byte length of the elements
//     72  R       nine doubles, row after row
//     24  t       translation x, y, z
//      8  k       factor
// binaryStoreSize() is 116. Reading builds a similitude (R, t, k) and reduces it, so what comes
// back may be a simpler kind than what was written, never a different map. A short record or a
// matrix record that does not hold rows x columns doubles leaves the envelope as it was.
//
// GetOrthogonalDirections completes a normal n into a right-handed frame (u, v, n^) from a seed
// picked by the largest component of n^; it is deterministic, so frames built from the same
// normal agree between runs and between stored and recomputed geometry.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <new>
#include <utility>

#include "qorv/foundation/boxes.h"
#include "qorv/foundation/object.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class ERTr3DRevRep;
class ERTr3DRevEnveloppe;
class ERAnySimilitude3D;
class ERAnyIsometrie3D;
class _ERIdentity3D;
class _ERTranslation3D;
class _ERRotation3D;
class _ERWorkplane;
class _ERScaling3D;
class _ERSymetrie3D;
class _ERSimilitude3D;

namespace qorv::detail {
// Any representation as the similitude P -> r (k P) + t, r row-major.
struct SimilitudeParts {
  double r[9];
  double t[3];
  double k;
};
}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// A map from local to global coordinates; only its global-to-local side is required.
class QORV_API ERTr3D : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERTr3D, ERObject);

  // The array forms apply the single-point form to every element; a pole moves as its
  // Cartesian point and keeps its weight.
  virtual void TransTo(QuickAlgebra::ERVec<ERPole3DH>& poles) const;
  virtual void TransTo(ERPoint3D* points, int n) const;
  virtual void TransTo(QuickAlgebra::ERVec<ERPoint3D>& points) const;
  virtual void TransTo(ERVector3D& v) const = 0;
  virtual void TransTo(ERPoint3D& p) const = 0;
  // The same map within equalityTolerance; at this level, the same object.
  virtual int isEqual(const ERTr3D& other) const;
  // The local x and y of a global point (or pole).
  virtual ERPole2DH Project(const ERPole3DH& h) const;
  virtual ERPoint2D Project(const ERPoint3D& p) const;

  void TransTo(ERPole3DH& h) const;
};

// ---------------------------------------------------------------------------------------------
// An invertible map: TransFrom (local to global) and its parts.
class QORV_API ERTr3DRev : public ERTr3D {
 public:
  QORV_DECLARE_CLASS(ERTr3DRev, ERTr3D);
  using ERTr3D::TransTo;

 protected:
  // The inverse map as a representation: a new heap object, this one, or the shared identity.
  virtual const ERTr3DRevRep* getInverse() const = 0;

 public:
  virtual void TransFrom(QuickAlgebra::ERVec<ERPole3DH>& poles) const;
  virtual void TransFrom(QuickAlgebra::ERVec<ERPoint3D>& points) const;
  virtual void TransFrom(ERPoint3D* points, int n) const;
  virtual void TransFrom(ERVector3D& v) const = 0;
  virtual void TransFrom(ERPoint3D& p) const = 0;
  // The orthogonal part R (3 x 3), without the factor.
  virtual QuickAlgebra::ERMatrix<double> getMatrix() const = 0;
  virtual ERPoint3D getTrans() const = 0;
  // 1 for isometries and symmetries, k for scalings and similitudes.
  virtual double getFactHomo() const = 0;
  // 1 for isometries and scalings; det(R) > 0 for symmetries and similitudes.
  virtual int isDirect() const = 0;
  virtual ERPoint3D origine() const { return getTrans(); }
  // The image of the local unit axis (a vector: no translation).
  virtual ERVector3D getVector(Coord3D axis) const;

  void TransFrom(ERPole3DH& h) const;
  // Same R, t and k within equalityTolerance when other is invertible too.
  int isEqual(const ERTr3D& other) const override;
};

// ---------------------------------------------------------------------------------------------
// The representation side: immutable once shared, composed by double dispatch on both kinds.
class QORV_API ERTr3DRevRep : public ERTr3DRev {
 public:
  QORV_DECLARE_CLASS(ERTr3DRevRep, ERTr3DRev);
  using ERTr3DRev::TransFrom;
  using ERTr3DRev::TransTo;

  // The simplest kind of the same map: this object when it is reduced and on the heap, the
  // thread's identity, or a new heap object with no reference yet.
  virtual const ERTr3DRevRep* getReduced() const = 0;

  // This thread's identity: on the heap, held by the thread's data until the thread ends.
  static const ERTr3DRevRep* GetIdentity();

 protected:
  // this * b, the map P -> this(b(P)): b->multiplyWith_<kind of this>(*this). The result is
  // b, this, the thread's identity or a new heap object, not reduced; null when it could not be
  // allocated.
  virtual const ERTr3DRevRep* operator*(const ERTr3DRevRep* b) const = 0;
  // a * this (this applied first).
  virtual const ERTr3DRevRep* multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const = 0;
  virtual const ERTr3DRevRep* multiplyWith_ERRotation3D(const _ERRotation3D& a) const = 0;
  virtual const ERTr3DRevRep* multiplyWith_ERWorkplane(const _ERWorkplane& a) const = 0;
  virtual const ERTr3DRevRep* multiplyWith_ERScaling3D(const _ERScaling3D& a) const = 0;
  virtual const ERTr3DRevRep* multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const = 0;
  virtual const ERTr3DRevRep* multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const = 0;
  virtual void getParts(qorv::detail::SimilitudeParts& s) const = 0;

  // The kinds reach the protected slots of another representation through these.
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERTranslation3D& a) {
    return b.multiplyWith_ERTranslation3D(a);
  }
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERRotation3D& a) {
    return b.multiplyWith_ERRotation3D(a);
  }
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERWorkplane& a) {
    return b.multiplyWith_ERWorkplane(a);
  }
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERScaling3D& a) {
    return b.multiplyWith_ERScaling3D(a);
  }
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERSymetrie3D& a) {
    return b.multiplyWith_ERSymetrie3D(a);
  }
  static const ERTr3DRevRep* dispatch(const ERTr3DRevRep& b, const _ERSimilitude3D& a) {
    return b.multiplyWith_ERSimilitude3D(a);
  }
  // a * b as the general similitude (R_a R_b, k_a R_a t_b + t_a, k_a k_b), new and unreduced.
  static const ERTr3DRevRep* similitudeProduct(const ERTr3DRevRep& a, const ERTr3DRevRep& b);
  // new T(args...); null when the heap is exhausted.
  template <class T, class... A>
  static const ERTr3DRevRep* create(A&&... args) noexcept {
    try {
      return new T(std::forward<A>(args)...);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

 private:
  friend class ERTr3DRevEnveloppe;
};

class QORV_API ERAnySimilitude3D : public ERTr3DRevRep {
 public:
  QORV_DECLARE_CLASS(ERAnySimilitude3D, ERTr3DRevRep);
};

class QORV_API ERAnyIsometrie3D : public ERAnySimilitude3D {
 public:
  QORV_DECLARE_CLASS(ERAnyIsometrie3D, ERAnySimilitude3D);
};

// ---------------------------------------------------------------------------------------------
// The value side: an envelope holds one reduced, shared representation.
class QORV_API ERTr3DRevEnveloppe : public ERTr3DRev {
 public:
  QORV_DECLARE_CLASS(ERTr3DRevEnveloppe, ERTr3DRev);
  using ERTr3DRev::TransFrom;
  using ERTr3DRev::TransTo;

  ~ERTr3DRevEnveloppe() override;

  // The representation held (reduced; null only after a failed allocation).
  const ERTr3DRevRep* getRep() const { return rep_; }
  // Replaces the representation by its reduction.
  void reduce();

  void TransTo(QuickAlgebra::ERVec<ERPole3DH>& poles) const override;
  void TransTo(ERPoint3D* points, int n) const override;
  void TransTo(QuickAlgebra::ERVec<ERPoint3D>& points) const override;
  void TransTo(ERVector3D& v) const override {
    if (rep_ != nullptr) rep_->TransTo(v);
  }
  void TransTo(ERPoint3D& p) const override {
    if (rep_ != nullptr) rep_->TransTo(p);
  }
  void TransFrom(QuickAlgebra::ERVec<ERPole3DH>& poles) const override;
  void TransFrom(QuickAlgebra::ERVec<ERPoint3D>& points) const override;
  void TransFrom(ERPoint3D* points, int n) const override;
  void TransFrom(ERVector3D& v) const override {
    if (rep_ != nullptr) rep_->TransFrom(v);
  }
  void TransFrom(ERPoint3D& p) const override {
    if (rep_ != nullptr) rep_->TransFrom(p);
  }
  QuickAlgebra::ERMatrix<double> getMatrix() const override;
  ERPoint3D getTrans() const override;
  double getFactHomo() const override;
  int isDirect() const override;

  int isValid() const override;
  // "Class :", the class name, "contents a", then the representation's own text.
  void printOn(std::ostream& os) const override;
  QORV_DECLARE_GUTS;

 protected:
  // The shared identity.
  ERTr3DRevEnveloppe();
  // Takes r (a heap copy of it when it is not on the heap), then reduces.
  explicit ERTr3DRevEnveloppe(const ERTr3DRevRep* r);
  ERTr3DRevEnveloppe(const ERTr3DRevEnveloppe& other);
  ERTr3DRevEnveloppe& operator=(const ERTr3DRevEnveloppe& other);

  const ERTr3DRevRep* getInverse() const override;
  // this * other as a new reduced representation (null when it could not be allocated).
  const ERTr3DRevRep* productRep(const ERTr3DRevEnveloppe& other) const;
  // Replaces the representation by r, held as the constructor holds it.
  void setRep(const ERTr3DRevRep* r);

 private:
  static void hold(const ERTr3DRevRep* r);
  static void release(const ERTr3DRevRep* r);

  const ERTr3DRevRep* rep_ = nullptr;
};

class QORV_API ERPmSimilitude3D : public ERTr3DRevEnveloppe {
 public:
  QORV_DECLARE_CLASS(ERPmSimilitude3D, ERTr3DRevEnveloppe);

  ERPmSimilitude3D() = default;
  explicit ERPmSimilitude3D(const ERAnySimilitude3D& s);
  ERPmSimilitude3D(const ERPmSimilitude3D&) = default;
  ERPmSimilitude3D& operator=(const ERPmSimilitude3D&) = default;
  ~ERPmSimilitude3D() override = default;

  QORV_DECLARE_COPYABLE(ERPmSimilitude3D);

 protected:
  explicit ERPmSimilitude3D(const ERTr3DRevRep* r) : ERTr3DRevEnveloppe(r) {}

  friend QORV_API ERPmSimilitude3D operator*(const ERPmSimilitude3D& a, const ERPmSimilitude3D& b);
  friend QORV_API ERPmSimilitude3D operator~(const ERPmSimilitude3D& a);
};

class QORV_API ERPmIsometrie3D : public ERPmSimilitude3D {
 public:
  QORV_DECLARE_CLASS(ERPmIsometrie3D, ERPmSimilitude3D);

  ERPmIsometrie3D() = default;
  explicit ERPmIsometrie3D(const ERAnyIsometrie3D& s);
  ERPmIsometrie3D(const ERPmIsometrie3D&) = default;
  ERPmIsometrie3D& operator=(const ERPmIsometrie3D&) = default;
  ~ERPmIsometrie3D() override = default;

  QORV_DECLARE_COPYABLE(ERPmIsometrie3D);

  // The rotation R alone and the translation t alone: this = translation * rotation.
  ERPmIsometrie3D get_rotation_matrix() const;
  ERPmIsometrie3D get_translation_matrix() const;

 protected:
  explicit ERPmIsometrie3D(const ERTr3DRevRep* r) : ERPmSimilitude3D(r) {}

  friend QORV_API ERPmIsometrie3D operator*(const ERPmIsometrie3D& a, const ERPmIsometrie3D& b);
  friend QORV_API ERPmIsometrie3D operator~(const ERPmIsometrie3D& a);
};

// a * b: b first, then a. ~a: the inverse.
QORV_API ERPmSimilitude3D operator*(const ERPmSimilitude3D& a, const ERPmSimilitude3D& b);
QORV_API ERPmIsometrie3D operator*(const ERPmIsometrie3D& a, const ERPmIsometrie3D& b);
QORV_API ERPmSimilitude3D operator~(const ERPmSimilitude3D& a);
QORV_API ERPmIsometrie3D operator~(const ERPmIsometrie3D& a);

// ---------------------------------------------------------------------------------------------
// T >> x: local to global. T << x: global to local. T * P: T >> P.
inline ERPoint3D operator>>(const ERTr3DRev& T, ERPoint3D p) { return T.TransFrom(p), p; }
inline ERVector3D operator>>(const ERTr3DRev& T, ERVector3D v) { return T.TransFrom(v), v; }
inline ERPole3DH operator>>(const ERTr3DRev& T, ERPole3DH h) { return T.TransFrom(h), h; }
inline ERPoint3D operator<<(const ERTr3D& T, ERPoint3D p) { return T.TransTo(p), p; }
inline ERVector3D operator<<(const ERTr3D& T, ERVector3D v) { return T.TransTo(v), v; }
inline ERPole3DH operator<<(const ERTr3D& T, ERPole3DH h) { return T.TransTo(h), h; }

// The envelope forms go straight to the representation: one virtual call per point.
inline ERPoint3D operator>>(const ERTr3DRevEnveloppe& T, ERPoint3D p) {
  if (const ERTr3DRevRep* r = T.getRep()) r->TransFrom(p);
  return p;
}
inline ERVector3D operator>>(const ERTr3DRevEnveloppe& T, ERVector3D v) {
  if (const ERTr3DRevRep* r = T.getRep()) r->TransFrom(v);
  return v;
}
inline ERPoint3D operator<<(const ERTr3DRevEnveloppe& T, ERPoint3D p) {
  if (const ERTr3DRevRep* r = T.getRep()) r->TransTo(p);
  return p;
}
inline ERVector3D operator<<(const ERTr3DRevEnveloppe& T, ERVector3D v) {
  if (const ERTr3DRevRep* r = T.getRep()) r->TransTo(v);
  return v;
}
inline ERPoint3D operator*(const ERTr3DRevEnveloppe& T, const ERPoint3D& p) { return T >> p; }
inline ERVector3D operator*(const ERTr3DRevEnveloppe& T, const ERVector3D& v) { return T >> v; }
inline ERPole3DH operator*(const ERTr3DRevEnveloppe& T, const ERPole3DH& h) { return T >> h; }

// The box of the eight mapped corners (so it contains the mapped box); an empty box stays empty.
QORV_API ERMinimax3D operator>>(const ERPmSimilitude3D& T, const ERMinimax3D& box);
QORV_API ERMinimax3D operator<<(const ERPmSimilitude3D& T, const ERMinimax3D& box);

// ---------------------------------------------------------------------------------------------
// Frames.

// Completes n into the right-handed orthonormal frame (u, v, n^). The seed s is
// (1, 0, n^y/n^z) when |n^z| is strictly the largest component, else (0, n^x/n^y, 1) when |n^y|
// is, else (n^z/n^x, 1, 0) when n^x != 0, else (1, 1, 1); v = normalise(n^ x s), u = v x n^.
// A zero n gives zero u and v.
namespace qorv {
QORV_API void GetOrthogonalDirections(const ERVector3D& n, ERVector3D& u, ERVector3D& v);
}  // namespace qorv

// The workplane whose Z axis is the normal (X and Y from GetOrthogonalDirections) at origin.
QORV_API ERPmIsometrie3D ERChgRepere3D(const ERVector3D& normal, const ERPoint3D& origin);
// The workplane with X along xAxis and Y in the (xAxis, yAxis) plane, on the side of yAxis.
QORV_API ERPmIsometrie3D ERChgRepere3D(const ERVector3D& xAxis, const ERVector3D& yAxis,
                                       const ERPoint3D& origin);
