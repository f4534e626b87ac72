// The framework stand-ins: run-time classes, debug output, archives, per-thread data.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

#include "qorv/platform/afx.h"
#include "qorv/platform/archive.h"
#include "qorv/platform/debug.h"
#include "qorv/platform/module.h"
#include "qorv/platform/thread.h"
#include "tests/in_order.h"

using namespace qorv::platform;

TEST(RuntimeClass, ChainAndDerivation) {
  static CRuntimeClass derived = {
      "TDerived", 8, VERSIONABLE_SCHEMA | 1, nullptr, &CObject::classCObject, nullptr};
  static CRuntimeClass older = {"TOlderName", 8, 0, nullptr, &derived, nullptr};
  EXPECT_EQ(
      (Seq{bool(older.IsDerivedFrom(&derived)), bool(older.IsDerivedFrom(&CObject::classCObject)),
           bool(derived.IsDerivedFrom(&older))}),
      (Seq{true, true, false}));

  AfxClassInit(&derived);
  AfxClassInit(&older);
  AfxClassInit(&derived);  // twice is harmless
  EXPECT_EQ(CRuntimeClass::FromName("TDerived"), &derived);
  EXPECT_EQ(CRuntimeClass::FromName("TOlderName"), &older);
  EXPECT_EQ(CRuntimeClass::FromName("tderived"), nullptr);
  AfxClassTerm(&older);
  AfxClassTerm(&derived);
  EXPECT_EQ(CRuntimeClass::FromName("TDerived"), nullptr);
  EXPECT_EQ(derived.CreateObject(), nullptr);
}

TEST(DebugOutput, SilentUnlessCapturedAndRestoresThePreviousSink) {
  OutputDebugStringA(nullptr);  // tolerated
  std::string outer;
  auto previous = qorv::platform::setDebugSink([&](const char* t) { outer += t; });
  {
    qorv::platform::DebugCapture capture;
    OutputDebugStringA("inner\n");
    EXPECT_EQ(capture.text(), "inner\n");
  }
  OutputDebugStringA("outer\n");
  EXPECT_EQ(outer, "outer\n");
  qorv::platform::setDebugSink(std::move(previous));
}

TEST(Archive, ValuesHaveTheFrameworkWidths) {
  CArchive out;
  out << static_cast<std::uint8_t>(0xAB) << static_cast<std::int16_t>(-2) << 7 << 0x12345678L
      << static_cast<unsigned long>(0xFFFFFFFFu) << 1.5 << 2.5f << true;
  const std::uint8_t expected[] = {0xAB, 0xFE, 0xFF, 7,    0,    0, 0, 0x78, 0x56, 0x34, 0x12,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0,    0, 0, 0,    0,    0,    0xF8,
                                   0x3F, 0,    0,    0x20, 0x40, 1, 0, 0,    0};
  ASSERT_EQ(out.buffer().size(), sizeof expected);
  EXPECT_EQ(std::memcmp(out.buffer().data(), expected, sizeof expected), 0);

  CArchive in(out.buffer().data(), out.buffer().size());
  std::uint8_t b;
  std::int16_t s;
  int i;
  long l;
  unsigned long ul;
  double d;
  float f;
  bool flag;
  in >> b >> s >> i >> l >> ul >> d >> f >> flag;
  EXPECT_EQ((Seq{b, s, i, l, ul, d}), (Seq{0xAB, -2, 7, 0x12345678L, 0xFFFFFFFFul, 1.5}));
  EXPECT_EQ((Seq{f, bool(flag)}), (Seq{2.5f, true}));
}

TEST(Archive, NegativeLongSignExtendsAndTruncationThrows) {
  CArchive out;
  out << -5L << std::numeric_limits<double>::quiet_NaN();
  CArchive in(out.buffer().data(), out.buffer().size() - 1);
  long l = 0;
  in >> l;
  EXPECT_EQ(l, -5);
  double d = 0;
  try {
    in >> d;
    FAIL() << "a short archive must throw";
  } catch (CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
  try {
    out >> l;
    FAIL() << "loading from a storing archive must throw";
  } catch (CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::writeOnly);
  }
}

namespace {
std::atomic<int> g_created{0};
std::atomic<int> g_destroyed{0};
struct Counted : CNoTrackObject {
  Counted() { ++g_created; }
  ~Counted() override { ++g_destroyed; }
};
CNoTrackObject* makeCounted() { return new Counted; }
CNoTrackObject* makeNothing() { return nullptr; }
}  // namespace

TEST(ThreadLocal, OnePerThreadDestroyedAtThreadExit) {
  CThreadLocalObject slot;
  g_created = 0;
  g_destroyed = 0;
  CNoTrackObject* mine = slot.GetData(&makeCounted);
  EXPECT_EQ(mine, slot.GetData(&makeCounted));
  std::thread([&] {
    EXPECT_EQ(slot.GetDataNA(), nullptr);
    EXPECT_NE(slot.GetData(&makeCounted), mine);
  }).join();
  EXPECT_EQ(g_created, 2);
  EXPECT_EQ(g_destroyed, 1);  // the other thread's went with it

  CThreadLocalObject failing;
  EXPECT_EQ(failing.GetData(&makeNothing), nullptr);
  EXPECT_NE(failing.GetData(&makeCounted), nullptr);  // a later call tries again
}

TEST(ExtensionModule, LibrariesJoinAndLeaveTheChain) {
  AFX_EXTENSION_MODULE state;
  EXPECT_EQ((Seq{AfxInitExtensionModule(state, &state), state.bInitialized}), (Seq{1, 1}));
  CDynLinkLibrary* before = CDynLinkLibrary::first();
  {
    CDynLinkLibrary lib(state);
    EXPECT_EQ((Seq{CDynLinkLibrary::first(), lib.m_pNextDLL}), (Seq{&lib, before}));
  }
  EXPECT_EQ(CDynLinkLibrary::first(), before);
  AfxTermExtensionModule(state);
  EXPECT_EQ(state.bInitialized, 0);
}

TEST(Exceptions, InvalidArgumentIsThrownAsAPointer) {
  try {
    AfxThrowInvalidArgException();
  } catch (CException& e) {
    EXPECT_EQ(e.describe(), "invalid argument");
  }
}
