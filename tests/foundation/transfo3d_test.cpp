#include "qorv/foundation/transfo3d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using qorv_test::Bytes, QuickAlgebra::ERMatrix;

// ---------------------------------------------------------------------------------------------
// A plain 4 x 4 homogeneous model of every map, built without the library's algebra.
struct M4 {
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  // k R, t.
  static M4 of(const double* R, const ERPoint3D& t, double k) {
    M4 a;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) a.m[4 * i + j] = k * R[3 * i + j];
      a.m[4 * i + 3] = t[static_cast<Coord3D>(i)];
    }
    return a;
  }
  M4 operator*(const M4& b) const {
    M4 c;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double s = 0;
        for (int k = 0; k < 4; ++k) s += m[4 * i + k] * b.m[4 * k + j];
        c.m[4 * i + j] = s;
      }
    return c;
  }
  ERPoint3D operator*(const ERPoint3D& p) const {
    double r[3];
    for (int i = 0; i < 3; ++i)
      r[i] = m[4 * i] * p.x() + m[4 * i + 1] * p.y() + m[4 * i + 2] * p.z() + m[4 * i + 3];
    return ERPoint3D(r[0], r[1], r[2]);
  }
};

struct Sample {
  ERPmSimilitude3D T;
  M4 model;
  const char* kind;
};

class Random {
 public:
  explicit Random(unsigned seed) : gen_(seed) {}
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen_); }
  ERPoint3D point(double r = 10.0) {
    return ERPoint3D(uniform(-r, r), uniform(-r, r), uniform(-r, r));
  }
  // A rotation by Rodrigues' formula about a random axis.
  void rotation(double* R) {
    ERVector3D a(point(1.0));
    a.normalize();
    const double th = uniform(0.1, 3.0), c = std::cos(th), s = std::sin(th);
    const double x = a.x(), y = a.y(), z = a.z();
    const double r[9] = {c + x * x * (1 - c),     x * y * (1 - c) - z * s, x * z * (1 - c) + y * s,
                         y * x * (1 - c) + z * s, c + y * y * (1 - c),     y * z * (1 - c) - x * s,
                         z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)};
    std::copy(r, r + 9, R);
  }
  // One envelope of the given kind, 0 to 6: identity, translation, rotation, workplane,
  // scaling, symmetry, similitude.
  Sample sample(int kind) {
    static const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double R[9];
    rotation(R);
    const ERPoint3D t = point();
    const double k = uniform(0.5, 3.0);
    const ERMatrix<double> Rm(3, 3, R);
    switch (kind) {
      case 0:
        return {ERPmSimilitude3D(), M4(), "_ERIdentity3D"};
      case 1:
        return {ERPmSimilitude3D(_ERTranslation3D(t)), M4::of(I, t, 1), "_ERTranslation3D"};
      case 2:
        return {ERPmSimilitude3D(_ERRotation3D(Rm)), M4::of(R, ERPoint3D(), 1), "_ERRotation3D"};
      case 3:
        return {ERPmSimilitude3D(_ERSimilitude3D(Rm, t, 1.0)), M4::of(R, t, 1), "_ERWorkplane"};
      case 4:
        return {ERPmSimilitude3D(_ERScaling3D(k)), M4::of(I, ERPoint3D(), k), "_ERScaling3D"};
      case 5: {  // the reflection across a random plane: I - 2 n n^T
        ERVector3D n(point(1.0));
        n.normalize();
        double S[9];
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) S[3 * i + j] = I[3 * i + j] - 2 * n.data()[i] * n.data()[j];
        return {ERPmSimilitude3D(_ERSimilitude3D(ERMatrix<double>(3, 3, S), ERPoint3D(), 1.0)),
                M4::of(S, ERPoint3D(), 1), "_ERSymetrie3D"};
      }
      default:
        return {ERPmSimilitude3D(_ERSimilitude3D(Rm, t, k)), M4::of(R, t, k), "_ERSimilitude3D"};
    }
  }

 private:
  std::mt19937 gen_;
};

// A quarter turn about z, row by row.
const double kQuarterZ[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};

const char* kindOf(const ERTr3DRevEnveloppe& T) { return T.getRep()->className(); }

void expectNear(const ERPoint3D& a, const ERPoint3D& b, double tol) {
  EXPECT_TRUE(Near(Seq{a.x(), a.y(), a.z()}, Seq{b.x(), b.y(), b.z()}, tol));
}

// ---------------------------------------------------------------------------------------------
// Stored images.

using qorv_test::imageOf, qorv_test::printed, qorv_test::restoreFrom;

using qorv_test::put32;
void putDoubles(Bytes& b, std::initializer_list<double> values) {
  for (double v : values) qorv_test::appendDouble(b, v);
}
void putMatrix(Bytes& b, std::initializer_list<double> rowMajor) {
  put32(b, 3), put32(b, 3), put32(b, 72);
  putDoubles(b, rowMajor);
}

// The envelope image of (R, t, k).
Bytes envelopeImage(std::initializer_list<double> R, const ERPoint3D& t, double k) {
  Bytes b;
  putMatrix(b, R);
  putDoubles(b, {t.x(), t.y(), t.z(), k});
  return b;
}

ERPmSimilitude3D restoredEnvelope(const Bytes& b) {
  ERPmSimilitude3D T;
  restoreFrom(T, b);
  return T;
}

// ---------------------------------------------------------------------------------------------

TEST(Transfo3DRegistry, ClassesAndBases) {
  struct Row {
    const ERClassRegistration* r;
    const char* name;
    const ERClassRegistration* base;
    bool creator;
  };
  const Row rows[] = {
      {ERTr3D::desc(), "ERTr3D", ERObject::desc(), false},
      {ERTr3DRev::desc(), "ERTr3DRev", ERTr3D::desc(), false},
      {ERTr3DRevEnveloppe::desc(), "ERTr3DRevEnveloppe", ERTr3DRev::desc(), false},
      {ERTr3DRevRep::desc(), "ERTr3DRevRep", ERTr3DRev::desc(), false},
      {ERAnySimilitude3D::desc(), "ERAnySimilitude3D", ERTr3DRevRep::desc(), false},
      {ERAnyIsometrie3D::desc(), "ERAnyIsometrie3D", ERAnySimilitude3D::desc(), false},
      {ERPmSimilitude3D::desc(), "ERPmSimilitude3D", ERTr3DRevEnveloppe::desc(), true},
      {ERPmIsometrie3D::desc(), "ERPmIsometrie3D", ERPmSimilitude3D::desc(), true},
      {_ERIdentity3D::desc(), "_ERIdentity3D", ERAnyIsometrie3D::desc(), true},
      {_ERTranslation3D::desc(), "_ERTranslation3D", ERAnyIsometrie3D::desc(), true},
      {_ERRotation3D::desc(), "_ERRotation3D", ERAnyIsometrie3D::desc(), true},
      {_ERWorkplane::desc(), "_ERWorkplane", ERAnyIsometrie3D::desc(), true},
      {_ERScaling3D::desc(), "_ERScaling3D", ERAnySimilitude3D::desc(), true},
      {_ERSymetrie3D::desc(), "_ERSymetrie3D", ERAnySimilitude3D::desc(), true},
      {_ERSimilitude3D::desc(), "_ERSimilitude3D", ERAnySimilitude3D::desc(), true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ((Seq{ERClassRegistration::findClassRegistration(row.name), row.r->bases()[0],
                   row.r->bases()[1], row.r->creator() != nullptr}),
              (Seq{row.r, row.base, nullptr, row.creator}))
        << row.name;
  }
}

TEST(Transfo3DReduction, IdentityIsSharedPerThreadAndNeverDies) {
  const ERTr3DRevRep* id = ERTr3DRevRep::GetIdentity();
  ERPmIsometrie3D a, b;
  EXPECT_EQ((Seq{a.getRep(), b.getRep()}), (Seq{id, id}));
  EXPECT_STREQ(kindOf(a), "_ERIdentity3D");
  const std::uint32_t held = id->references();
  {
    ERPmIsometrie3D c(a);
    EXPECT_EQ(id->references(), held + 1);
  }
  EXPECT_EQ(id->references(), held);
  const ERTr3DRevRep* other = nullptr;
  std::thread([&] { other = ERTr3DRevRep::GetIdentity(); }).join();
  EXPECT_NE(other, id);
}

TEST(Transfo3DReduction, EveryKindFallsToItsSimplestForm) {
  const ERPoint3D tiny(1e-12, 0, 0), t(1, 2, 3), O;
  const double nearI[9] = {1, 1e-12, 0, -1e-12, 1, 0, 0, 0, 1};
  const ERMatrix<double> R(3, 3, kQuarterZ), I = ERMatrix<double>::identity(3);
  const _ERRotation3D rot(R);
  const _ERTranslation3D tr(t), tr0(tiny);
  // Similitudes also as a file restores them.
  const std::initializer_list<double> Iv = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const std::initializer_list<double> Rv = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const std::initializer_list<double> mirror = {1, 0, 0, 0, 1, 0, 0, 0, -1};
  const std::initializer_list<double> rotoreflection = {0, -1, 0, 1, 0, 0, 0, 0, -1};
  const std::pair<ERPmSimilitude3D, const char*> cases[] = {
      {ERPmSimilitude3D(_ERTranslation3D(tiny)), "_ERIdentity3D"},
      {ERPmSimilitude3D(_ERTranslation3D(ERPoint3D(1e-10, 0, 0))), "_ERTranslation3D"},
      {ERPmSimilitude3D(_ERScaling3D(1 + 1e-12)), "_ERIdentity3D"},
      {ERPmSimilitude3D(_ERScaling3D(2)), "_ERScaling3D"},
      {ERPmSimilitude3D(_ERRotation3D(ERMatrix<double>(3, 3, nearI))), "_ERIdentity3D"},
      {ERPmIsometrie3D(_ERWorkplane(rot, tr)), "_ERWorkplane"},
      {ERPmIsometrie3D(_ERWorkplane(rot, tr0)), "_ERRotation3D"},
      {ERPmIsometrie3D(_ERWorkplane(_ERRotation3D(I), tr)), "_ERTranslation3D"},
      {ERPmIsometrie3D(_ERWorkplane(_ERRotation3D(I), tr0)), "_ERIdentity3D"},
      {restoredEnvelope(envelopeImage(Iv, O, 1)), "_ERIdentity3D"},
      {restoredEnvelope(envelopeImage(Iv, O, 2)), "_ERScaling3D"},
      {restoredEnvelope(envelopeImage(Iv, ERPoint3D(1, 0, 0), 1)), "_ERTranslation3D"},
      {restoredEnvelope(envelopeImage(Rv, O, 1)), "_ERRotation3D"},
      {restoredEnvelope(envelopeImage(Rv, t, 1 + 1e-12)), "_ERWorkplane"},
      {restoredEnvelope(envelopeImage(mirror, O, 1)), "_ERSymetrie3D"},
      {restoredEnvelope(envelopeImage(mirror, t, 1)), "_ERSimilitude3D"},
      {restoredEnvelope(envelopeImage(rotoreflection, O, 1)), "_ERSimilitude3D"},
      {restoredEnvelope(envelopeImage(Iv, t, 2)), "_ERSimilitude3D"},
      {restoredEnvelope(envelopeImage(Rv, O, 2)), "_ERSimilitude3D"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_STREQ(kindOf(cases[i].first), cases[i].second) << "case " << i;
}

TEST(Transfo3DReduction, ProductsKeepTheExactForms) {
  const ERMatrix<double> R(3, 3, kQuarterZ);
  const ERPmIsometrie3D rot{_ERRotation3D(R)}, t1{_ERTranslation3D(ERPoint3D(1, 2, 3))},
      t2{_ERTranslation3D(ERPoint3D(-1, -2, -3))}, id;
  const ERPmIsometrie3D rt = rot * t1;  // translate, then rotate: (R, R t)
  const ERPmIsometrie3D tr = t1 * rot;  // rotate, then translate: (R, t)
  EXPECT_EQ(
      (Seq{(t1 * t2).getRep(), rt.getTrans(), tr.getTrans(), tr.getMatrix(), (t2 * tr).getTrans()}),
      (Seq{ERTr3DRevRep::GetIdentity(), ERPoint3D(-2, 1, 3), ERPoint3D(1, 2, 3), R,
           ERPoint3D(0, 0, 0)}));
  // identity * X is X's own representation.
  EXPECT_EQ((Seq{(id * tr).getRep(), (tr * id).getRep()}), (Seq{tr.getRep(), tr.getRep()}));

  const ERPmSimilitude3D k2{_ERScaling3D(2)}, kHalf{_ERScaling3D(0.5)};
  const ERPmSimilitude3D mirror =
      restoredEnvelope(envelopeImage({1, 0, 0, 0, 1, 0, 0, 0, -1}, ERPoint3D(), 1));
  EXPECT_FALSE(mirror.isDirect());
  const std::pair<ERPmSimilitude3D, const char*> products[] = {
      {t1 * t2, "_ERIdentity3D"},
      {rt, "_ERWorkplane"},
      {tr, "_ERWorkplane"},
      {t2 * tr, "_ERRotation3D"},
      {rot * rot * rot * rot, "_ERIdentity3D"},
      {k2 * kHalf, "_ERIdentity3D"},
      {k2 * k2, "_ERScaling3D"},
      {k2 * t1, "_ERSimilitude3D"},
      {mirror * mirror, "_ERIdentity3D"},
      {~mirror, "_ERSymetrie3D"},
      {mirror * ERPmSimilitude3D(rot) * mirror, "_ERRotation3D"},
  };
  for (std::size_t i = 0; i < std::size(products); ++i)
    EXPECT_STREQ(kindOf(products[i].first), products[i].second) << "product " << i;
}

TEST(Transfo3DAlgebra, CompositionAndInverseMatchMatrixProducts) {
  QORV_SEEDED(Random rnd, 3101);
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < 7; ++i) {
      for (int j = 0; j < 7; ++j) {
        const Sample a = rnd.sample(i), b = rnd.sample(j);
        ASSERT_STREQ(kindOf(a.T), a.kind);
        const ERPmSimilitude3D ab = a.T * b.T;
        const M4 model = a.model * b.model;
        for (int n = 0; n < 3; ++n) {
          const ERPoint3D p = rnd.point();
          const ERPoint3D want = model * p;
          expectNear(ab >> p, want, 1e-11);
          expectNear(a.T >> (b.T >> p), want, 1e-11);
          expectNear(ab * p, want, 1e-11);
          expectNear(~ab >> (ab >> p), p, 1e-12);
          expectNear(ab << (ab >> p), p, 1e-12);
          expectNear(~a.T >> (a.T >> p), p, 1e-12);
          // Vectors take the linear part only; poles keep their weight.
          const ERVector3D v(p);
          const ERPoint3D o = model * ERPoint3D();
          expectNear(ERPoint3D(ab >> v), ERPoint3D(ERVector3D(o, model * p)), 1e-11);
          const ERPole3DH h = ab >> ERPole3DH(2 * p.x(), 2 * p.y(), 2 * p.z(), 2.0);
          EXPECT_EQ(h.w(), 2.0);
          expectNear(h.castToPoint(), want, 1e-11);
        }
        // The parts read back as the model: k R and t.
        const ERMatrix<double> R = ab.getMatrix();
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(ab.getFactHomo() * R(r, c), model.m[4 * r + c], 1e-11);
        expectNear(ab.getTrans(), ERPoint3D(model.m[3], model.m[7], model.m[11]), 1e-11);
        EXPECT_EQ(ab.isDirect(), int(a.T.isDirect() == b.T.isDirect()));
      }
    }
  }
}

TEST(Transfo3DAlgebra, ArrayFormsProjectionAndAxes) {
  QORV_SEEDED(Random rnd, 3102);
  const Sample s = rnd.sample(6);
  std::vector<ERPoint3D> pts;
  for (int i = 0; i < 5; ++i) pts.push_back(rnd.point());
  QuickAlgebra::ERVec<ERPoint3D> vec(pts.data(), 5);
  QuickAlgebra::ERVec<ERPole3DH> poles(5);
  for (int i = 0; i < 5; ++i) poles[i] = ERPole3DH(pts[i] * 3.0, 3.0);
  std::vector<ERPoint3D> arr = pts;
  s.T.TransFrom(arr.data(), 5);
  s.T.TransFrom(vec);
  s.T.TransFrom(poles);
  for (int i = 0; i < 5; ++i) {
    expectNear(arr[i], s.model * pts[i], 1e-11);
    EXPECT_EQ(vec[i], arr[i]);
    expectNear(poles[i].castToPoint(), arr[i], 1e-11);
    const ERPoint2D local = s.T.Project(arr[i]);
    EXPECT_TRUE(Near(Seq{local.x(), local.y()}, Seq{pts[i].x(), pts[i].y()}, 1e-11));
  }
  s.T.TransTo(arr.data(), 5);
  s.T.TransTo(vec);
  s.T.TransTo(poles);
  for (int i = 0; i < 5; ++i) {
    expectNear(arr[i], pts[i], 1e-12);
    expectNear(vec[i], pts[i], 1e-12);
    EXPECT_EQ(poles[i].w(), 3.0);
  }
  const ERVector3D ex = s.T.getVector(Coord3D::X);
  EXPECT_TRUE(Near(Seq{ex.x(), ex.z()}, Seq{s.model.m[0], s.model.m[8]}, 1e-14));
  EXPECT_EQ(s.T.origine(), s.T.getTrans());
}

TEST(Transfo3DSharing, RepresentationsLiveAsLongAsTheirHolders) {
  const _ERWorkplane onStack(_ERRotation3D(ERMatrix<double>(3, 3, kQuarterZ)),
                             _ERTranslation3D(ERPoint3D(1, 2, 3)));
  ERPmIsometrie3D* first = new ERPmIsometrie3D(onStack);
  const ERTr3DRevRep* rep = first->getRep();
  EXPECT_NE(rep, &onStack);  // a heap copy
  EXPECT_TRUE(rep->isOnTheHeap());
  EXPECT_EQ(rep->references(), 1u);
  ERPmIsometrie3D copy(*first), assigned;
  assigned = copy;
  const ERPmIsometrie3D& self = assigned;
  assigned = self;  // self-assignment keeps the count
  EXPECT_EQ(rep->references(), 3u);
  delete first;
  EXPECT_EQ(copy.getRep(), rep);
  EXPECT_EQ(copy >> ERPoint3D(1, 0, 0), ERPoint3D(1, 3, 3));  // rep still alive
  assigned = ERPmIsometrie3D();
  EXPECT_EQ(rep->references(), 1u);

  // A heap representation is shared, not copied.
  auto* heap = new _ERTranslation3D(ERPoint3D(4, 5, 6));
  {
    ERPmIsometrie3D a(*heap), b(*heap);
    EXPECT_EQ((Seq{a.getRep(), heap->references()}), (Seq{heap, 2u}));
  }  // deleted with its last holder (the sanitizer build reports a leak otherwise)

  // Envelopes made on another thread outlive it.
  ERPmSimilitude3D fromThread;
  std::thread([&] {
    fromThread = ERPmSimilitude3D() * ERPmSimilitude3D(_ERScaling3D(3));
    ERPmSimilitude3D identity;
    fromThread = fromThread * identity;
  }).join();
  EXPECT_EQ(fromThread >> ERPoint3D(1, 1, 1), ERPoint3D(3, 3, 3));
}

TEST(Transfo3DStorage, EnvelopeImageAndRoundTrip) {
  const ERPmSimilitude3D T(
      _ERSimilitude3D(ERMatrix<double>(3, 3, kQuarterZ), ERPoint3D(1, 2, 3), 2.5));
  const Bytes want = envelopeImage({0, -1, 0, 1, 0, 0, 0, 0, 1}, ERPoint3D(1, 2, 3), 2.5);
  EXPECT_EQ((Seq{imageOf(T), T.binaryStoreSize()}), (Seq{want, 116u}));
  const ERPmSimilitude3D back = restoredEnvelope(want);
  EXPECT_STREQ(kindOf(back), "_ERSimilitude3D");
  EXPECT_EQ((Seq{imageOf(back), bool(back.isEqual(T))}), (Seq{want, true}));

  // Any kind stores the same three fields.
  const ERPmIsometrie3D tr{_ERTranslation3D(ERPoint3D(1, 2, 3))};
  EXPECT_EQ(imageOf(tr), envelopeImage({1, 0, 0, 0, 1, 0, 0, 0, 1}, ERPoint3D(1, 2, 3), 1));
  EXPECT_EQ(imageOf(ERPmSimilitude3D(_ERScaling3D(4))),
            envelopeImage({1, 0, 0, 0, 1, 0, 0, 0, 1}, ERPoint3D(), 4));

  // Short or inconsistent records leave the envelope as it was.
  for (std::size_t cut : {0u, 5u, 20u, 84u, 100u, 115u}) {
    ERPmSimilitude3D kept(tr);
    restoreFrom(kept, Bytes(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_EQ(kept.getRep(), tr.getRep()) << cut;
  }
  Bytes bad = want;
  bad[8] = 71;  // byte length not a whole number of rows x cols doubles
  ERPmSimilitude3D kept(tr);
  restoreFrom(kept, bad);
  EXPECT_EQ(kept.getRep(), tr.getRep());
}

TEST(Transfo3DStorage, KindsOnTheirOwn) {
  const _ERSimilitude3D s(ERMatrix<double>(3, 3, kQuarterZ), ERPoint3D(1, 2, 3), 2.5);
  Bytes want;
  putDoubles(want, {2.5});
  putMatrix(want, {0, -1, 0, 1, 0, 0, 0, 0, 1});
  putDoubles(want, {1, 2, 3});
  EXPECT_EQ((Seq{imageOf(s), s.binaryStoreSize()}), (Seq{want, 116u}));
  _ERSimilitude3D back;
  restoreFrom(back, want);
  EXPECT_EQ(imageOf(back), want);

  Bytes wp;
  putMatrix(wp, {0, -1, 0, 1, 0, 0, 0, 0, 1});
  putDoubles(wp, {1, 2, 3});
  _ERWorkplane w;
  restoreFrom(w, wp);
  EXPECT_EQ((Seq{imageOf(w), w.binaryStoreSize()}), (Seq{wp, 108u}));
  EXPECT_EQ(imageOf(_ERTranslation3D(ERPoint3D(1, 2, 3))).size(), 24u);
  EXPECT_EQ((Seq{imageOf(_ERScaling3D(2)).size(), imageOf(_ERIdentity3D()).size()}), (Seq{8u, 0u}));
}

TEST(Transfo3DText, PrintForms) {
  const ERMatrix<double> R(3, 3, kQuarterZ);
  const std::string matrix = "( r= 3, c=3)\n0 -1 0\n1 0 0\n0 0 1\n";
  EXPECT_EQ(printed(_ERRotation3D(R)), "Matrice de Rotation : " + matrix);
  EXPECT_EQ(printed(_ERScaling3D(2.5)), "Homothetie de rapport :2.5");
  const _ERSimilitude3D s(R, ERPoint3D(1, 2, 3), 2);
  EXPECT_EQ(printed(s), "Matrice de Rotation    : \n" + matrix +
                            "Composante Translation : [1,2,3]\nfacteur d'homothetie   : 2\n");
  EXPECT_EQ(printed(ERPmSimilitude3D(s)), "Class :ERPmSimilitude3Dcontents a" + printed(s));
  EXPECT_EQ(printed(restoredEnvelope(envelopeImage({1, 0, 0, 0, 1, 0, 0, 0, -1}, ERPoint3D(), 1))),
            "Class :ERPmSimilitude3Dcontents aSymetrie de matrice : ( r= 3, c=3)\n1 0 0\n0 1 "
            "0\n0 0 -1\n");
}

TEST(Transfo3DFrames, OrthogonalDirectionsAndWorkplanes) {
  QORV_SEEDED(Random rnd, 3103);
  std::vector<ERVector3D> normals = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 0, -2},
                                     {1, 1, 1}, {0, 1, 1}, {1, 1, 0}, {-3, 0, 0}};
  for (int i = 0; i < 50; ++i) normals.emplace_back(rnd.point(1.0));
  for (const ERVector3D& n : normals) {
    ERVector3D u, v;
    qorv::GetOrthogonalDirections(n, u, v);
    const ERVector3D N = n.getnormalized();
    EXPECT_TRUE(Near(Seq{u.norme(), v.norme(), u * v, u * N}, Seq{1, 1, 0, 0}, 1e-14));
    EXPECT_NEAR((u ^ v) * N, 1, 1e-14);  // right-handed

    const ERPoint3D o = rnd.point();
    const ERPmIsometrie3D wp = ERChgRepere3D(n, o);
    expectNear(wp >> ERPoint3D(0, 0, 1), o + N, 1e-13);
    expectNear(wp >> ERPoint3D(1, 0, 0), o + u, 1e-13);
  }
  // The seeds: (1, 0, n.y/n.z) for a mostly-Z normal, (1, 1, 1) where no component leads.
  ERVector3D u, v;
  qorv::GetOrthogonalDirections(ERVector3D(0, 0, 1), u, v);
  EXPECT_EQ((Seq{v, u}), (Seq{ERVector3D(0, 1, 0), ERVector3D(1, 0, 0)}));
  qorv::GetOrthogonalDirections(ERVector3D(0, 0, 0), u, v);
  EXPECT_EQ((Seq{u, v}), (Seq{ERVector3D(), ERVector3D()}));

  // Two axes: X along the first, Y in their plane on the side of the second.
  const ERPmIsometrie3D xy = ERChgRepere3D(ERVector3D(2, 0, 0), ERVector3D(1, 1, 0), ERPoint3D());
  expectNear(ERPoint3D(xy >> ERVector3D(0, 1, 0)), ERPoint3D(0, 1, 0), 1e-15);
  expectNear(ERPoint3D(xy >> ERVector3D(0, 0, 1)), ERPoint3D(0, 0, 1), 1e-15);
  EXPECT_STREQ(kindOf(xy), "_ERIdentity3D");

  const ERPmIsometrie3D w =
      ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 0, 1), ERPoint3D(5, 6, 7));
  const ERPmIsometrie3D back = w.get_translation_matrix() * w.get_rotation_matrix();
  EXPECT_TRUE(back.isEqual(w));
  EXPECT_STREQ(kindOf(w.get_rotation_matrix()), "_ERRotation3D");
  EXPECT_STREQ(kindOf(w.get_translation_matrix()), "_ERTranslation3D");
}

TEST(Transfo3DBoxes, MappedBoxHoldsTheMappedBox) {
  QORV_SEEDED(Random rnd, 3104);
  const ERMinimax3D box(ERPoint3D(-1, -2, -3), ERPoint3D(4, 5, 6));
  for (int kind = 0; kind < 7; ++kind) {
    const Sample s = rnd.sample(kind);
    const ERMinimax3D to = s.T >> box, back = s.T << to;
    for (int i = 0; i < 20; ++i) {
      const ERPoint3D p(rnd.uniform(-1, 4), rnd.uniform(-2, 5), rnd.uniform(-3, 6));
      ERMinimax3D grown = to;
      grown.Inflate(1e-9);
      EXPECT_TRUE(grown.contains(s.T >> p)) << s.kind;
    }
    ERMinimax3D outer = back;
    outer.Inflate(1e-9);
    EXPECT_EQ(qorv::RelativePosition(outer, box), 2) << s.kind;
    EXPECT_TRUE((s.T >> ERMinimax3D()).invalid());
  }
  const ERPmIsometrie3D quarter{_ERRotation3D(ERMatrix<double>(3, 3, kQuarterZ))};
  EXPECT_EQ(quarter >> box, ERMinimax3D(-5, -1, -3, 2, 4, 6));
}

TEST(Transfo3DValidity, SimilitudeChecksShapeDeterminantAndFactor) {
  const ERMatrix<double> R(3, 3, kQuarterZ);
  EXPECT_TRUE(_ERSimilitude3D(R, ERPoint3D(), 2).isValid());
  EXPECT_FALSE(_ERSimilitude3D(R, ERPoint3D(), 0).isValid());
  EXPECT_FALSE(_ERSimilitude3D(R * 2.0, ERPoint3D(), 1).isValid());
  const _ERSimilitude3D flat(ERMatrix<double>::identity(2), ERPoint3D(1, 2, 3), 1);
  EXPECT_FALSE(flat.isValid());
  // It maps with the missing elements read as 0 and stays what it is.
  const ERPmSimilitude3D T(flat);
  EXPECT_STREQ(kindOf(T), "_ERSimilitude3D");
  EXPECT_EQ(T >> ERPoint3D(1, 1, 1), ERPoint3D(2, 3, 3));
  EXPECT_TRUE(ERPmSimilitude3D().isValid());
}

}  // namespace
