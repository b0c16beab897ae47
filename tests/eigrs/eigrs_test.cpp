#include "eigrs.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr float kUntouched = 12345.0f;

// One call of EIGRS on a copy of `A` (column-major, N1 x N); E and V start
// filled with kUntouched so that unwritten entries can be seen.
struct Call {
  std::vector<float> A;
  int N = 0;
  int N1 = 0;
  float EPS = 1e-8f;
  std::vector<float> E;
  std::vector<float> V;
  std::string out;

  float v(int i, int k) const { return V[(k - 1) * N1 + (i - 1)]; }
};

Call solve(const std::vector<float>& A, int N, int NE, int NV, float EPS = 1e-8f, int N1 = 0) {
  Call c{A, N, N1 == 0 ? N : N1, EPS, {}, {}, {}};
  const int columns = std::max(N, 1);
  c.E.assign(std::max(std::abs(NE), 1) + 1, kUntouched);
  c.V.assign(c.N1 * columns, kUntouched);
  std::vector<float> W(c.N1 * 6, kUntouched);
  std::vector<int> IW(std::max(c.N1, 1), -7);
  testing::internal::CaptureStdout();
  EIGRS(c.A.data(), N, c.N1, NE, NV, c.EPS, W.data(), IW.data(), c.E.data(), c.V.data());
  c.out = testing::internal::GetCapturedStdout();
  return c;
}

void expect_vector(const Call& c, int k, std::vector<float> expected) {
  for (int i = 1; i <= c.N; ++i) {
    EXPECT_NEAR(c.v(i, k), expected[i - 1], 3e-7f) << "component " << i << " of vector " << k;
  }
}

// Residual max |A v - lambda v|, unit length and mutual orthogonality, in double.
void expect_eigenpairs(const std::vector<float>& A, const Call& c, int count, double tolerance) {
  const int n = c.N;
  for (int k = 1; k <= count; ++k) {
    for (int i = 1; i <= n; ++i) {
      double av = 0.0;
      for (int j = 1; j <= n; ++j) {
        const int r = std::max(i, j), s = std::min(i, j);  // lower triangle
        av += double(A[(s - 1) * c.N1 + (r - 1)]) * c.v(j, k);
      }
      EXPECT_NEAR(av, double(c.E[k - 1]) * c.v(i, k), tolerance) << "row " << i << " vector " << k;
    }
    for (int l = 1; l <= k; ++l) {
      double dot = 0.0;
      for (int j = 1; j <= n; ++j) dot += double(c.v(j, k)) * c.v(j, l);
      EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-5 * n) << "vectors " << k << ", " << l;
    }
  }
}

const std::vector<float> kRank2 = {4, 1, 2, 1, 3, 0.5f, 2, 0.5f, 1};  // eigenvalues 5.5, 2.5, 0

TEST(Eigrs, BadSizesWriteTheirMessageAndReturn) {
  const std::string inequalities =
      ",\n NV, NE, N, N1 SHOULD SATISFY THE FOLLOWING INEQUALITIES, !NV! <= !NE! <= N <= N1.\n"
      " RETURN WITH NO CALCULATION.\n";
  const struct {
    int NE, NV, N, N1;
    std::string text;
    float E1;
  } cases[] = {
      {0, 3, 3, 3, "0(SUBR. EIGRS) NE=    0, NE SHOULD BE NON-ZERO. RETURN WITH NO CALCULATION.\n",
       kUntouched},
      {3, 4, 3, 3, "0(SUBR. EIGRS) NV=    4, NE=    3, N=    3, N1=    3" + inequalities, 0.0f},
      {-3, 3, 4, 3, "0(SUBR. EIGRS) NV=    3, NE=   -3, N=    4, N1=    3" + inequalities, 0.0f},
  };
  for (const auto& [NE, NV, N, N1, text, E1] : cases) {
    std::vector<float> A(N1 * N, 1.0f);
    const Call c = solve(A, N, NE, NV, -1.0f, N1);
    EXPECT_EQ(c.out, text);
    EXPECT_EQ(c.E[0], E1) << "NE=" << NE;
    EXPECT_EQ(c.E[1], kUntouched);
    EXPECT_EQ(c.EPS, -1.0f);
    EXPECT_EQ(c.A, A);
    EXPECT_TRUE(std::all_of(c.V.begin(), c.V.end(), [](float x) { return x == kUntouched; }));
  }
}

TEST(Eigrs, OrdersOneAndTwoTakeClosedForms) {
  for (const int NV : {1, -1}) {
    const Call c = solve({-2.5f}, 1, 1, NV);
    EXPECT_EQ(c.E[0], -2.5f);
    EXPECT_EQ(c.v(1, 1), 1.0f);
    EXPECT_EQ(c.out, "");
  }
  const struct {
    float a11, a22, a21;
    int NE;
    float E1, E2;
  } cases[] = {
      {2, 2, 1, 2, 3, 1},    {2, 2, 1, -2, 1, 3}, {1, -1, 0, 2, 1, -1},
      {1, -1, 0, -2, -1, 1}, {0, 0, 0, 2, 0, 0},  {-2, -2, 1, 2, -1, -3},
  };
  for (const auto& [a11, a22, a21, NE, E1, E2] : cases) {
    const std::vector<float> A = {a11, a21, -99.0f, a22};
    const Call c = solve(A, 2, NE, 0);
    EXPECT_FLOAT_EQ(c.E[0], E1) << a11 << " " << a22 << " " << a21 << " NE=" << NE;
    EXPECT_FLOAT_EQ(c.E[1], E2) << a11 << " " << a22 << " " << a21 << " NE=" << NE;
    EXPECT_EQ(c.A, A);  // unchanged, upper triangle included
  }
  const Call exact = solve({2, 1, 1, 2}, 2, 2, 2);  // exact eigenvalues: a zero pivot
  expect_vector(exact, 1, {0.70710677f, 0.70710677f});
  expect_vector(exact, 2, {0.70710677f, -0.70710677f});
  const Call c = solve({2.1f, 0.3f, 0.3f, 1.7f}, 2, 2, 2);
  expect_vector(c, 1, {0.8816746f, 0.4718580f});
  expect_vector(c, 2, {-0.4718580f, 0.8816745f});
}

TEST(Eigrs, DiagonalAndZeroMatrices) {
  const std::vector<float> diagonal = {1, 0, 0, 0, 3, 0, 0, 0, 2};
  const Call down = solve(diagonal, 3, 3, 3);
  for (const auto& [k, value, unit] : {std::tuple{1, 3.0f, 2}, {2, 2.0f, 3}, {3, 1.0f, 1}}) {
    EXPECT_NEAR(down.E[k - 1], value, 1e-6f);
    std::vector<float> e(3, 0.0f);
    e[unit - 1] = 1.0f;
    expect_vector(down, k, e);
  }
  const Call up = solve(diagonal, 3, -3, 0);
  for (int k = 1; k <= 3; ++k) EXPECT_NEAR(up.E[k - 1], float(k), 1e-6f);
  const Call two = solve(diagonal, 3, 2, 0);
  EXPECT_NEAR(two.E[1], 2.0f, 1e-6f);
  EXPECT_EQ(two.E[2], kUntouched);

  const Call zero = solve(std::vector<float>(9, 0.0f), 3, 3, 3);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(zero.E[k - 1], 0.0f);
    expect_vector(zero, k, {0.57735026f, 0.57735026f, 0.57735026f});
  }
}

TEST(Eigrs, KnownVectorsOfARankTwoMatrix) {
  const float r6 = std::sqrt(6.0f), r30 = std::sqrt(30.0f), r5 = std::sqrt(5.0f);
  const std::vector<std::vector<float>> unit = {
      {2 / r6, 1 / r6, 1 / r6}, {-2 / r30, 5 / r30, -1 / r30}, {-1 / r5, 0, 2 / r5}};
  const Call c = solve(kRank2, 3, 3, 3);
  EXPECT_FLOAT_EQ(c.E[0], 5.5f);
  EXPECT_FLOAT_EQ(c.E[1], 2.5f);
  EXPECT_NEAR(c.E[2], 0.0f, 2e-7f);
  for (int k = 1; k <= 3; ++k) expect_vector(c, k, unit[k - 1]);

  const Call scaled = solve(kRank2, 3, 3, -3);
  expect_vector(scaled, 1, {1, 0.5f, 0.5f});
  expect_vector(scaled, 2, {-0.4f, 1, -0.2f});
  expect_vector(scaled, 3, {-0.5f, 0, 1});

  const Call ascending = solve(kRank2, 3, -3, 3);
  EXPECT_FLOAT_EQ(ascending.E[2], 5.5f);
  for (int k = 1; k <= 3; ++k) expect_vector(ascending, k, unit[3 - k]);

  const Call partial = solve(kRank2, 3, 3, 2);
  for (int k = 1; k <= 2; ++k) expect_vector(partial, k, unit[k - 1]);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(partial.v(i, 3), kUntouched);
}

TEST(Eigrs, RepeatedEigenvalueGivesAnOrthonormalSet) {
  const std::vector<float> A = {3, 1, 1, 1, 3, 1, 1, 1, 3};
  const Call c = solve(A, 3, 3, 3);
  EXPECT_FLOAT_EQ(c.E[0], 5.0f);
  EXPECT_FLOAT_EQ(c.E[1], 2.0f);
  EXPECT_FLOAT_EQ(c.E[2], 2.0f);
  expect_eigenpairs(A, c, 3, 5e-6);
}

TEST(Eigrs, EpsAndStorage) {
  const Call rewritten = solve(kRank2, 3, 3, 3, -1.0f);
  EXPECT_EQ(rewritten.EPS, 1e-6f);
  EXPECT_EQ(rewritten.E, solve(kRank2, 3, 3, 3, 1e-6f).E);

  // Garbage above the diagonal: same results bit for bit, the garbage kept.
  const Call plain = solve(kRank2, 3, 3, 3);
  std::vector<float> garbage = kRank2;
  garbage[3] = 77.0f, garbage[6] = -1e30f, garbage[7] = NAN;
  const Call dirty = solve(garbage, 3, 3, 3);
  EXPECT_EQ(dirty.E, plain.E);
  EXPECT_EQ(dirty.V, plain.V);
  EXPECT_EQ(dirty.A[3], 77.0f);
  EXPECT_EQ(dirty.A[6], -1e30f);
  EXPECT_TRUE(std::isnan(dirty.A[7]));

  // The same matrix inside a 5-row array.
  std::vector<float> big(5 * 3, -5.0f);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) big[j * 5 + i] = kRank2[j * 3 + i];
  const Call inside = solve(big, 3, 3, 3, 1e-8f, 5);
  EXPECT_EQ(inside.E, plain.E);
  for (int k = 1; k <= 3; ++k) {
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(inside.v(i, k), plain.v(i, k));
    for (int i = 4; i <= 5; ++i) EXPECT_EQ(inside.v(i, k), kUntouched);
    for (int i = 4; i <= 5; ++i) EXPECT_EQ(inside.A[(k - 1) * 5 + (i - 1)], -5.0f);
  }
}

TEST(Eigrs, NearlyDiagonalMatricesGiveFiniteAxes) {
  // Moment tensor of four atoms at (+-1, 0, 0), (0, +-2, 0).
  const Call axes = solve({2, 0, 0, 0, 8, 0, 0, 0, 0}, 3, 3, 3);
  expect_vector(axes, 1, {0, 1, 0});
  expect_vector(axes, 2, {1, 0, 0});
  expect_vector(axes, 3, {0, 0, 1});

  // Exact eigenvalues after the reduction: the inverse iteration ends near the
  // top of the single-precision range and the reflections would overflow.
  const std::vector<float> A = {5, 2e-6f, 2e-6f, 0, 4, -1e-6f, 0, 0, 1.5f};
  const Call c = solve(A, 3, 3, 3);
  EXPECT_TRUE(std::all_of(c.V.begin(), c.V.end(), [](float x) { return std::isfinite(x); }));
  expect_eigenpairs(A, c, 3, 2e-6);
}

TEST(Eigrs, NonFiniteInputPropagatesAndEnds) {
  for (const float bad : {NAN, INFINITY, -INFINITY}) {
    for (const int at : {0, 1, 4}) {  // a diagonal and an off-diagonal element
      std::vector<float> A = kRank2;
      A[at] = bad;
      const Call c = solve(A, 3, 3, 3);
      // A non-finite diagonal element may leave the norm, and so E, finite.
      const bool finite =
          std::all_of(c.V.begin(), c.V.end(), [](float x) { return std::isfinite(x); });
      EXPECT_FALSE(finite) << bad << " at " << at;
    }
    const Call two = solve({bad, 1, 1, 2}, 2, 2, 2, 0.0f);
    EXPECT_FALSE(std::isfinite(two.v(1, 1))) << bad;
  }
}

TEST(Eigrs, RandomSymmetricMatrices) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
  for (int n = 3; n <= 12; ++n) {
    for (const int NE : {n, -n, n / 2, -(n / 2)}) {
      std::vector<float> A(n * n);
      for (float& a : A) a = entry(rng);
      const Call c = solve(A, n, NE, std::abs(NE));
      const int count = std::abs(NE);
      for (int k = 1; k < count; ++k) {
        EXPECT_TRUE(NE > 0 ? c.E[k - 1] >= c.E[k] : c.E[k - 1] <= c.E[k]) << "n=" << n;
      }
      double norm = 0.0;  // row sums of the symmetric matrix
      for (int i = 1; i <= n; ++i) {
        double row = 0.0;
        for (int j = 1; j <= n; ++j)
          row += std::fabs(A[(std::min(i, j) - 1) * n + std::max(i, j) - 1]);
        norm = std::max(norm, row);
      }
      SCOPED_TRACE("n=" + std::to_string(n) + " NE=" + std::to_string(NE));
      expect_eigenpairs(A, c, count, 8.0 * n * FLT_EPSILON * norm);
      for (int k = 1; k <= count; ++k) {
        const float* v = &c.V[(k - 1) * n];
        const float* big = std::max_element(
            v, v + n, [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_GT(*big, 0.0f) << "vector " << k;
      }
    }
  }
}

}  // namespace
