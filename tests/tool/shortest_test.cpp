// The tool's double formatter against std::to_chars, whose text it must give byte for byte.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>

#include <gtest/gtest.h>

#include "tests/test_seed.h"
#include "tools/qorv/text.h"

namespace {

std::string_view viaToChars(char* p, double v) {
  return {p, static_cast<std::size_t>(std::to_chars(p, p + 32, v).ptr - p)};
}
std::string_view viaTool(char* p, double v) {
  return {p, static_cast<std::size_t>(qorv::tool::toShortest(p, v) - p)};
}

TEST(Shortest, SameTextAsToCharsForEveryKindOfDouble) {
  const unsigned seed = qorv_test::seedFor(38);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  long wrong = 0;
  auto check = [&](double v) {
    char a[32], b[qorv::tool::kShortestRoom];
    if (viaToChars(a, v) != viaTool(b, v) && ++wrong <= 10)
      ADD_FAILURE() << viaToChars(a, v) << " written " << viaTool(b, v);
  };
  auto fromBits = [](std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  };
  for (int i = 0; i < 1000000; ++i) {
    const std::uint64_t bits = random();
    check(fromBits(bits));                          // any double, NaN and inf too
    check(fromBits(bits & 0x801FFFFFFFFFFFFFull));  // subnormals, smallest normals
    check(std::ldexp(static_cast<double>(bits >> 11), -53) * 200 - 100);  // coordinates
  }
  // Powers of ten and their neighbours, whole numbers past 2^53 (written exactly), and both
  // sides of every switch between the fixed and the scientific forms.
  for (int k = -325; k <= 309; ++k)
    for (double m : {1.0, 2.0, 5.0, 9.5, 12.5, 123.0, 4503599627370497.0}) {
      const double v = m * std::pow(10.0, k);
      for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, HUGE_VAL)}) check(w), check(-w);
    }
  for (long i = -20000; i <= 20000; ++i)
    check(static_cast<double>(i)), check(i * 1e-4), check(i * 1e16), check(i / 1024.0);
  for (double v : {0.0, -0.0, 5e-324, 1.7976931348623157e308, 9007199254740993.0, 1e21, 1e22})
    check(v);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
