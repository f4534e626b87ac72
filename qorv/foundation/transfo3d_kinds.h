// qorv/foundation/transfo3d_kinds.h
//
// The seven representation kinds behind the envelopes of transfo3d.h, each the simplest form of
// a family of maps from local P to global P':
//   _ERIdentity3D      P' = P
//   _ERTranslation3D   P' = P + t
//   _ERRotation3D      P' = R P
//   _ERWorkplane       P' = R P + t          (a frame: the columns of R are its axes, t its origin)
//   _ERScaling3D       P' = k P
//   _ERSymetrie3D      P' = S P              (S orthogonal, det -1 in use)
//   _ERSimilitude3D    P' = R (k P) + t
// and the per-thread object that holds the thread's identity.
//
// Conventions a caller gets wrong:
// - A kind handed to an envelope on the stack is copied; on the heap it is shared and must not
//   be changed afterwards. Kinds are normally made by an envelope, not by callers.
// - Products keep the simplest exact form where one exists (a rotation after a translation is
//   the workplane (R, R t)); anything with a scaling, a symmetry or a similitude is computed as
//   the general similitude and left to the envelope to reduce.
// - getReduced() compares against equalityTolerance (1e-11), element by element: a rotation
//   whose matrix is within 1e-11 of I is the identity, a translation by (1e-12, 0, 0) too.
// - A similitude whose matrix is not 3 x 3, or has |det| away from 1, or k = 0, is invalid
//   (isValid() 0); it maps with the missing elements read as 0 and never reduces.
//
// Stored forms on their own (after the ERObject part; a matrix is r, c as 4-byte integers, a
// 4-byte byte length and the doubles row after row, 84 bytes for 3 x 3):
//   _ERIdentity3D     nothing
//   _ERTranslation3D  t (24)
//   _ERRotation3D     R (84)
//   _ERWorkplane      R (84), t (24)
//   _ERScaling3D      k (8)
//   _ERSymetrie3D     S (84)
//   _ERSimilitude3D   k (8), R (84), t (24)
// A short or inconsistent record leaves the object as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/platform/thread.h"
#include "qorv/foundation/transfo3d.h"

namespace qorv::detail {

// A 3 x 3 linear part: the ERMatrix that is stored, printed and handed out, and a copy of its
// nine elements row by row that the mapping loops read without touching shared storage (zeros
// where a matrix of another shape has no element).
class QORV_API Matrix33 {
 public:
  // The identity, sharing the thread's 3 x 3 identity matrix.
  Matrix33();
  explicit Matrix33(const QuickAlgebra::ERMatrix<double>& m);
  explicit Matrix33(const double* rowMajor);

  const QuickAlgebra::ERMatrix<double>& matrix() const { return m_; }
  const double* a() const { return a_; }
  int is3x3() const { return m_.rows() == 3 && m_.cols() == 3; }

  // A v + t and A^T (v - t), for points and vectors alike (t = 0 for vectors). The result is
  // built whole, component by component, so that it is assigned whole: a caller that reads the
  // point back as one wide load then finds it in one store.
  template <class V>
  V times(const V& v, double tx = 0.0, double ty = 0.0, double tz = 0.0) const {
    const double x = v.x(), y = v.y(), z = v.z();
    return V(a_[0] * x + a_[1] * y + a_[2] * z + tx, a_[3] * x + a_[4] * y + a_[5] * z + ty,
             a_[6] * x + a_[7] * y + a_[8] * z + tz);
  }
  template <class V>
  V transposedTimes(const V& v, double tx = 0.0, double ty = 0.0, double tz = 0.0) const {
    const double x = v.x() - tx, y = v.y() - ty, z = v.z() - tz;
    return V(a_[0] * x + a_[3] * y + a_[6] * z, a_[1] * x + a_[4] * y + a_[7] * z,
             a_[2] * x + a_[5] * y + a_[8] * z);
  }

  // The matrix record; 0, and nothing changed, when it is short or not rows x cols doubles.
  int restore(ERFile& f);

 private:
  QuickAlgebra::ERMatrix<double> m_;
  double a_[9];
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// The declarations every kind repeats, written once: the double-dispatch product table, the maps
// of points and vectors (a kind that moves them), and the stored image. A new kind lists them
// with one line each.
#define QORV_TR3D_PRODUCT_TABLE                                                               \
  const ERTr3DRevRep* getInverse() const override;                                            \
  const ERTr3DRevRep* operator*(const ERTr3DRevRep* b) const override;                        \
  const ERTr3DRevRep* multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const override; \
  const ERTr3DRevRep* multiplyWith_ERRotation3D(const _ERRotation3D& a) const override;       \
  const ERTr3DRevRep* multiplyWith_ERWorkplane(const _ERWorkplane& a) const override;         \
  const ERTr3DRevRep* multiplyWith_ERScaling3D(const _ERScaling3D& a) const override;         \
  const ERTr3DRevRep* multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const override;       \
  const ERTr3DRevRep* multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const override;   \
  void getParts(qorv::detail::SimilitudeParts& s) const override
#define QORV_TR3D_MAPS                                     \
  void TransTo(ERPoint3D* points, int n) const override;   \
  void TransTo(ERVector3D& v) const override;              \
  void TransTo(ERPoint3D& p) const override;               \
  void TransFrom(ERPoint3D* points, int n) const override; \
  void TransFrom(ERVector3D& v) const override;            \
  void TransFrom(ERPoint3D& p) const override

// ---------------------------------------------------------------------------------------------
class QORV_API _ERIdentity3D : public ERAnyIsometrie3D {
 public:
  QORV_DECLARE_CLASS(_ERIdentity3D, ERAnyIsometrie3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  _ERIdentity3D() = default;

  QORV_DECLARE_COPYABLE(_ERIdentity3D);
  // "Identite".
  void printOn(std::ostream& os) const override;

  void TransTo(ERPoint3D*, int) const override {}
  void TransTo(ERVector3D&) const override {}
  void TransTo(ERPoint3D&) const override {}
  void TransFrom(ERPoint3D*, int) const override {}
  void TransFrom(ERVector3D&) const override {}
  void TransFrom(ERPoint3D&) const override {}
  QuickAlgebra::ERMatrix<double> getMatrix() const override;
  ERPoint3D getTrans() const override { return ERPoint3D(); }
  double getFactHomo() const override { return 1.0; }
  int isDirect() const override { return 1; }
  const ERTr3DRevRep* getReduced() const override;

 protected:
  // identity * b is b itself; a * identity is a (a heap copy when a is not on the heap).
  QORV_TR3D_PRODUCT_TABLE;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERTranslation3D : public ERAnyIsometrie3D {
 public:
  QORV_DECLARE_CLASS(_ERTranslation3D, ERAnyIsometrie3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  _ERTranslation3D() = default;
  explicit _ERTranslation3D(const ERPoint3D& t) : t_(t) {}

  const ERPoint3D& translation() const { return t_; }

  // printOn: "Composante Translation : " t, a line end.
  QORV_DECLARE_STORED(_ERTranslation3D);

  void TransTo(ERPoint3D* points, int n) const override;
  void TransTo(ERVector3D&) const override {}
  void TransTo(ERPoint3D& p) const override;
  void TransFrom(ERPoint3D* points, int n) const override;
  void TransFrom(ERVector3D&) const override {}
  void TransFrom(ERPoint3D& p) const override;
  QuickAlgebra::ERMatrix<double> getMatrix() const override;
  ERPoint3D getTrans() const override { return t_; }
  double getFactHomo() const override { return 1.0; }
  int isDirect() const override { return 1; }
  const ERTr3DRevRep* getReduced() const override;

 protected:
  QORV_TR3D_PRODUCT_TABLE;

 private:
  ERPoint3D t_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERRotation3D : public ERAnyIsometrie3D {
 public:
  QORV_DECLARE_CLASS(_ERRotation3D, ERAnyIsometrie3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  _ERRotation3D() = default;
  // R is taken as given: orthogonal with det +1 is the caller's promise.
  explicit _ERRotation3D(const QuickAlgebra::ERMatrix<double>& R) : r_(R) {}

  const qorv::detail::Matrix33& rotation() const { return r_; }

  // printOn: "Matrice de Rotation : " and the matrix.
  QORV_DECLARE_STORED(_ERRotation3D);

  QORV_TR3D_MAPS;
  QuickAlgebra::ERMatrix<double> getMatrix() const override { return r_.matrix(); }
  ERPoint3D getTrans() const override { return ERPoint3D(); }
  double getFactHomo() const override { return 1.0; }
  int isDirect() const override { return 1; }
  const ERTr3DRevRep* getReduced() const override;

 protected:
  QORV_TR3D_PRODUCT_TABLE;

 private:
  qorv::detail::Matrix33 r_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERWorkplane : public ERAnyIsometrie3D {
 public:
  QORV_DECLARE_CLASS(_ERWorkplane, ERAnyIsometrie3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  _ERWorkplane() = default;
  // Z along the normal, X and Y from GetOrthogonalDirections, at origin. A zero normal gives a
  // zero matrix.
  _ERWorkplane(const ERVector3D& normal, const ERPoint3D& origin);
  // X along xAxis, Z = X x Y^ normalised, Y = Z x X.
  _ERWorkplane(const ERVector3D& xAxis, const ERVector3D& yAxis, const ERPoint3D& origin);
  // The rotation first, then the translation.
  _ERWorkplane(const _ERRotation3D& R, const _ERTranslation3D& t);
  explicit _ERWorkplane(const ERAnyIsometrie3D& iso);

  const qorv::detail::Matrix33& rotation() const { return r_; }
  const ERPoint3D& translation() const { return t_; }

  // printOn: "Matrice de Rotation    : ", a line end, the matrix, "Composante Translation : " t, a
  // line end.
  QORV_DECLARE_STORED(_ERWorkplane);

  QORV_TR3D_MAPS;
  QuickAlgebra::ERMatrix<double> getMatrix() const override { return r_.matrix(); }
  ERPoint3D getTrans() const override { return t_; }
  double getFactHomo() const override { return 1.0; }
  int isDirect() const override { return 1; }
  const ERTr3DRevRep* getReduced() const override;

 protected:
  _ERWorkplane(const QuickAlgebra::ERMatrix<double>& R, const ERPoint3D& t) : r_(R), t_(t) {}
  _ERWorkplane(const double* R, const ERPoint3D& t) : r_(R), t_(t) {}
  _ERWorkplane(const qorv::detail::Matrix33& R, const ERPoint3D& t) : r_(R), t_(t) {}

  QORV_TR3D_PRODUCT_TABLE;

 private:
  friend class ERTr3DRevRep;     // builds workplanes for the other kinds
  friend class _ERSimilitude3D;  // reduction makes workplanes

  qorv::detail::Matrix33 r_;
  ERPoint3D t_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERScaling3D : public ERAnySimilitude3D {
 public:
  QORV_DECLARE_CLASS(_ERScaling3D, ERAnySimilitude3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  _ERScaling3D() = default;
  explicit _ERScaling3D(double k) : k_(k) {}

  double factor() const { return k_; }

  // printOn: "Homothetie de rapport :" and k.
  QORV_DECLARE_STORED(_ERScaling3D);

  QORV_TR3D_MAPS;
  QuickAlgebra::ERMatrix<double> getMatrix() const override;
  ERPoint3D getTrans() const override { return ERPoint3D(); }
  double getFactHomo() const override { return k_; }
  int isDirect() const override { return 1; }
  const ERTr3DRevRep* getReduced() const override;

 protected:
  QORV_TR3D_PRODUCT_TABLE;

 private:
  double k_ = 1.0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERSymetrie3D : public ERAnySimilitude3D {
 public:
  QORV_DECLARE_CLASS(_ERSymetrie3D, ERAnySimilitude3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  // The identity matrix: what restoreGuts fills in.
  _ERSymetrie3D() = default;

  // printOn: "Symetrie de matrice : " and the matrix.
  QORV_DECLARE_STORED(_ERSymetrie3D);

  // TransTo applies S^T, which is S for the symmetric matrices that reduction produces.
  QORV_TR3D_MAPS;
  QuickAlgebra::ERMatrix<double> getMatrix() const override { return s_.matrix(); }
  ERPoint3D getTrans() const override { return ERPoint3D(); }
  double getFactHomo() const override { return 1.0; }
  int isDirect() const override;
  const ERTr3DRevRep* getReduced() const override;

 protected:
  explicit _ERSymetrie3D(const QuickAlgebra::ERMatrix<double>& S) : s_(S) {}
  explicit _ERSymetrie3D(const qorv::detail::Matrix33& S) : s_(S) {}

  // Its own inverse: the same matrix.
  QORV_TR3D_PRODUCT_TABLE;

 private:
  friend class ERTr3DRevRep;
  friend class _ERSimilitude3D;  // reduction makes symmetries

  qorv::detail::Matrix33 s_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API _ERSimilitude3D : public ERAnySimilitude3D {
 public:
  QORV_DECLARE_CLASS(_ERSimilitude3D, ERAnySimilitude3D);
  using ERTr3DRevRep::TransFrom;
  using ERTr3DRevRep::TransTo;

  // Identity matrix, zero translation, factor 1.
  _ERSimilitude3D() = default;
  explicit _ERSimilitude3D(const QuickAlgebra::ERMatrix<double>& R) : r_(R) {}
  _ERSimilitude3D(const QuickAlgebra::ERMatrix<double>& R, const ERPoint3D& t, double k)
      : r_(R), t_(t), k_(k) {}
  explicit _ERSimilitude3D(const ERAnySimilitude3D& s);

  double factor() const { return k_; }

  // ERObject::isValid, a 3 x 3 matrix, | |det R| - 1 | <= 1e-11 and k != 0.
  int isValid() const override;
  // printOn: "Matrice de Rotation    : ", a line end, the matrix, "Composante Translation : " t, a
  // line end, "facteur d'homothetie   : " k, a line end.
  QORV_DECLARE_STORED(_ERSimilitude3D);

  QORV_TR3D_MAPS;
  QuickAlgebra::ERMatrix<double> getMatrix() const override { return r_.matrix(); }
  ERPoint3D getTrans() const override { return t_; }
  double getFactHomo() const override { return k_; }
  int isDirect() const override;
  const ERTr3DRevRep* getReduced() const override;

 protected:
  _ERSimilitude3D(const double* R, const ERPoint3D& t, double k) : r_(R), t_(t), k_(k) {}

  QORV_TR3D_PRODUCT_TABLE;

 private:
  friend class ERTr3DRevRep;  // the general product

  qorv::detail::Matrix33 r_;
  ERPoint3D t_;
  double k_ = 1.0;
};

// ---------------------------------------------------------------------------------------------
// The transformations' per-thread object: the thread's identity, made on first request with one
// reference of its own, released when the thread ends (deleted then unless an envelope still
// holds it).
class QORV_API ERTr3DRevRep_ThreadLocalData : public ::qorv::platform::CNoTrackObject {
 public:
  ERTr3DRevRep_ThreadLocalData() = default;
  ~ERTr3DRevRep_ThreadLocalData() override;
  ERTr3DRevRep_ThreadLocalData(const ERTr3DRevRep_ThreadLocalData&) = delete;
  ERTr3DRevRep_ThreadLocalData& operator=(const ERTr3DRevRep_ThreadLocalData&) = delete;

  // This thread's object; null once the thread's objects are being destroyed, or when the heap
  // is exhausted.
  static ERTr3DRevRep_ThreadLocalData* get();
  // The thread's identity; null only when it cannot be allocated.
  const _ERIdentity3D* identity();

 private:
  _ERIdentity3D* identity_ = nullptr;
};
