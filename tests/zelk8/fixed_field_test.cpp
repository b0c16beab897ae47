// The listing writer against records::put_real: the same characters for
// every value tried, in every layout the program uses and around them.
#include "fixed_field.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace zelk8 {
namespace {

std::string reference(float v, int w, int d) {
  std::string out;
  records::put_real(out, v, w, d);
  return out;
}

std::string fast(float v, int w, int d) {
  std::string out;
  put_fixed(out, v, w, d);
  return out;
}

// Values that stress rounding and layout: exact ties at 3, 4 and 7
// decimals (0.0625 * 1000 = 62.5), the largest values that fit, values just
// below a carry into a new integer digit, subnormals and the ends.
std::vector<float> edge_values() {
  std::vector<float> v = {0.0f,
                          1.0f,
                          0.5f,
                          0.0625f,
                          0.1875f,
                          0.03125f,
                          0.00048828125f,  // 2^-11
                          0.00000005f,
                          0.00000015f,
                          0x1p-24f,
                          0.0005f,
                          0.00005f,
                          9.9999999f,
                          99.99999f,
                          999.9999f,
                          999.99994f,
                          9999.9999f,
                          99999.99f,
                          999999.94f,
                          1e6f,
                          1e7f,
                          4294967040.0f,  // largest float below 2^32
                          4294967296.0f,
                          1e10f,
                          std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::min(),
                          std::numeric_limits<float>::denorm_min(),
                          0x1.fffffep-127f,
                          std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()};
  // Every multiple of 2^-k near small integers: the ties of every decimal
  // count up to 9 lie among them.
  for (int k = 1; k <= 12; ++k) {
    for (int n = 0; n < 64; ++n) v.push_back(std::ldexp(float(n), -k) + float(n % 5));
  }
  const std::size_t count = v.size();
  for (std::size_t k = 0; k < count; ++k) {
    v.push_back(-v[k]);
    v.push_back(std::nextafter(v[k], 0.0f));
    v.push_back(std::nextafter(v[k], std::numeric_limits<float>::infinity()));
  }
  return v;
}

TEST(FixedField, EdgeValuesInEveryLayoutMatchPutReal) {
  const std::vector<float> values = edge_values();
  int checked = 0;
  for (int w = 1; w <= 14; ++w) {
    for (int d = 0; d <= 10; ++d) {
      for (float v : values) {
        ASSERT_EQ(fast(v, w, d), reference(v, w, d))
            << "F" << w << "." << d << " of " << std::hexfloat << v << " (0x" << std::hex
            << std::bit_cast<std::uint32_t>(v) << ")";
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

TEST(FixedField, ExactTiesGoToTheEvenLastDigit) {
  const struct {
    float v;
    int w, d;
    const char* text;
  } cases[] = {{0.0625f, 10, 3, "     0.062"},  // 62.5 thousandths
               {0.1875f, 10, 3, "     0.188"},  // 187.5
               {-0.0625f, 10, 3, "    -0.062"},
               {0.03125f, 10, 4, "    0.0312"},  // 312.5 ten-thousandths
               {2.5f, 4, 0, "  2."},
               {3.5f, 4, 0, "  4."}};
  for (const auto& [v, w, d, text] : cases) {
    EXPECT_EQ(fast(v, w, d), text) << v;
    EXPECT_EQ(reference(v, w, d), text) << v;
  }
}

TEST(FixedField, RandomValuesInTheListingLayoutsMatchPutReal) {
  const struct {
    int w, d;
    float spread;  // typical magnitude of the listed values
  } layouts[] = {{12, 7, 30.0f}, {10, 4, 10.0f}, {10, 3, 2000.0f}, {10, 5, 50.0f}};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::uint32_t> any_bits;
  for (const auto& [w, d, spread] : layouts) {
    std::uniform_real_distribution<float> typical(-spread, spread);
    for (int k = 0; k < 300000; ++k) {
      // Half of the values where the listings have them, half anywhere.
      const float v = (k % 2 == 0) ? typical(rng) : std::bit_cast<float>(any_bits(rng));
      ASSERT_EQ(fast(v, w, d), reference(v, w, d))
          << "F" << w << "." << d << " of " << std::hexfloat << v << " (0x" << std::hex
          << std::bit_cast<std::uint32_t>(v) << ")";
    }
  }
}

}  // namespace
}  // namespace zelk8
