#include "eigrs.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr float kUntouched = 12345.0f;

// One call of EIGRS on a copy of `A` (column-major, N1 x N); E and V start as
// kUntouched so that unwritten entries show.
struct Call {
  std::vector<float> A;
  int N = 0, N1 = 0;
  float EPS = 1e-8f;
  std::vector<float> E, V;
  std::string out;
  float v(int i, int k) const { return V[(k - 1) * N1 + (i - 1)]; }
};

Call solve(const std::vector<float>& A, int N, int NE, int NV, float EPS = 1e-8f, int N1 = 0) {
  Call c{A, N, N1 == 0 ? N : N1, EPS, {}, {}, {}};
  c.E.assign(std::max(std::abs(NE), 1) + 1, kUntouched);
  c.V.assign(c.N1 * std::max(N, 1), kUntouched);
  std::vector<float> W(c.N1 * 6, kUntouched);
  std::vector<int> IW(std::max(c.N1, 1), -7);
  testing::internal::CaptureStdout();
  EIGRS(c.A.data(), N, c.N1, NE, NV, c.EPS, W.data(), IW.data(), c.E.data(), c.V.data());
  c.out = testing::internal::GetCapturedStdout();
  return c;
}

// Columns 1.. of V against `vectors`, and E(1..) against `values` when given.
void expect_pairs(const Call& c, std::vector<std::vector<float>> vectors,
                  std::vector<float> values = {}) {
  for (size_t k = 1; k <= values.size(); ++k)
    EXPECT_NEAR(c.E[k - 1], values[k - 1], 2e-6f) << "E(" << k << ")";
  for (int k = 1; k <= int(vectors.size()); ++k)
    for (int i = 1; i <= c.N; ++i)
      EXPECT_NEAR(c.v(i, k), vectors[k - 1][i - 1], 3e-7f) << "v(" << i << ", " << k << ")";
}

// |A v - lambda v| (A from its lower triangle), unit length, orthogonality; in double.
void expect_eigenpairs(const std::vector<float>& A, const Call& c, int count, double tolerance) {
  for (int k = 1; k <= count; ++k) {
    for (int i = 1; i <= c.N; ++i) {
      double av = 0.0;
      for (int j = 1; j <= c.N; ++j)
        av += double(A[(std::min(i, j) - 1) * c.N1 + std::max(i, j) - 1]) * c.v(j, k);
      EXPECT_NEAR(av, double(c.E[k - 1]) * c.v(i, k), tolerance) << "row " << i << " vector " << k;
    }
    for (int l = 1; l <= k; ++l) {
      double dot = 0.0;
      for (int j = 1; j <= c.N; ++j) dot += double(c.v(j, k)) * c.v(j, l);
      EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-5 * c.N) << "vectors " << k << ", " << l;
    }
  }
}

bool all_finite(const std::vector<float>& x) {
  return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

const std::vector<float> kRank2 = {4, 1, 2, 1, 3, 0.5f, 2, 0.5f, 1};  // eigenvalues 5.5, 2.5, 0

TEST(Eigrs, BadSizesWriteTheirMessageAndReturn) {
  const std::string inequalities =
      ",\n NV, NE, N, N1 SHOULD SATISFY THE FOLLOWING INEQUALITIES, !NV! <= !NE! <= N <= N1.\n"
      " RETURN WITH NO CALCULATION.\n";
  for (const auto& [NE, NV, N, N1, text, E1] :
       {std::tuple{0, 3, 3, 3,
                   "0(SUBR. EIGRS) NE=    0, NE SHOULD BE NON-ZERO. RETURN WITH NO CALCULATION.\n" +
                       std::string(),
                   kUntouched},
        {3, 4, 3, 3, "0(SUBR. EIGRS) NV=    4, NE=    3, N=    3, N1=    3" + inequalities, 0.0f},
        {-3, 3, 4, 3, "0(SUBR. EIGRS) NV=    3, NE=   -3, N=    4, N1=    3" + inequalities,
         0.0f}}) {
    const std::vector<float> A(N1 * N, 1.0f);
    const Call c = solve(A, N, NE, NV, -1.0f, N1);
    EXPECT_EQ(c.out, text);
    EXPECT_EQ(c.E[0], E1) << "NE=" << NE;
    EXPECT_EQ(c.E[1], kUntouched);
    EXPECT_EQ(c.EPS, -1.0f);
    EXPECT_EQ(c.A, A);
    EXPECT_EQ(std::count(c.V.begin(), c.V.end(), kUntouched), long(c.V.size()));
  }
}

TEST(Eigrs, OrdersOneAndTwoTakeClosedForms) {
  const Call one = solve({-2.5f}, 1, 1, 1);
  expect_pairs(one, {{1.0f}}, {-2.5f});
  EXPECT_EQ(one.out, "");
  for (const auto& [a11, a22, a21, NE, E1, E2] : {std::tuple{2.0f, 2.0f, 1.0f, 2, 3.0f, 1.0f},
                                                  {2, 2, 1, -2, 1, 3},
                                                  {1, -1, 0, 2, 1, -1},
                                                  {-2, -2, 1, 2, -1, -3}}) {
    const std::vector<float> A = {a11, a21, -99.0f, a22};
    const Call c = solve(A, 2, NE, 0);
    SCOPED_TRACE(testing::Message() << a11 << " " << a22 << " " << a21 << " NE=" << NE);
    expect_pairs(c, {}, {E1, E2});
    EXPECT_EQ(c.A, A);  // unchanged, upper triangle included
  }
  const float h = 0.70710677f;  // exact eigenvalues: a zero pivot
  expect_pairs(solve({2, 1, 1, 2}, 2, 2, 2), {{h, h}, {h, -h}});
  expect_pairs(solve({2.1f, 0.3f, 0.3f, 1.7f}, 2, 2, 2),
               {{0.8816746f, 0.4718580f}, {-0.4718580f, 0.8816745f}});
}

TEST(Eigrs, DiagonalAndZeroMatrices) {
  const std::vector<float> diagonal = {1, 0, 0, 0, 3, 0, 0, 0, 2};
  expect_pairs(solve(diagonal, 3, 3, 3), {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, {3, 2, 1});
  expect_pairs(solve(diagonal, 3, -3, 0), {}, {1, 2, 3});
  const float r = 0.57735026f;
  expect_pairs(solve(std::vector<float>(9, 0.0f), 3, 3, 3), {{r, r, r}, {r, r, r}, {r, r, r}},
               {0, 0, 0});
}

TEST(Eigrs, KnownVectorsOfARankTwoMatrix) {
  const float r6 = std::sqrt(6.0f), r30 = std::sqrt(30.0f), r5 = std::sqrt(5.0f);
  const std::vector<float> u1 = {2 / r6, 1 / r6, 1 / r6}, u2 = {-2 / r30, 5 / r30, -1 / r30},
                           u3 = {-1 / r5, 0, 2 / r5};
  expect_pairs(solve(kRank2, 3, 3, 3), {u1, u2, u3}, {5.5f, 2.5f, 0.0f});
  expect_pairs(solve(kRank2, 3, 3, -3),
               {{1, 0.5f, 0.5f}, {-0.4f, 1, -0.2f}, {-0.5f, 0, 1}});  // largest component 1
  expect_pairs(solve(kRank2, 3, -3, 3), {u3, u2, u1}, {0.0f, 2.5f, 5.5f});
  const Call partial = solve(kRank2, 3, 3, 2);
  expect_pairs(partial, {u1, u2});
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(partial.v(i, 3), kUntouched);
}

TEST(Eigrs, RepeatedEigenvalueGivesAnOrthonormalSet) {
  const std::vector<float> A = {3, 1, 1, 1, 3, 1, 1, 1, 3};
  const Call c = solve(A, 3, 3, 3);
  expect_pairs(c, {}, {5, 2, 2});
  expect_eigenpairs(A, c, 3, 5e-6);
}

TEST(Eigrs, EpsAndStorage) {
  const Call plain = solve(kRank2, 3, 3, 3);
  const Call rewritten = solve(kRank2, 3, 3, 3, -1.0f);
  EXPECT_EQ(rewritten.EPS, 1e-6f);
  EXPECT_EQ(rewritten.E, solve(kRank2, 3, 3, 3, 1e-6f).E);

  // Garbage above the diagonal: same results bit for bit, the garbage kept.
  std::vector<float> garbage = kRank2;
  garbage[3] = 77.0f, garbage[6] = -1e30f, garbage[7] = NAN;
  const Call dirty = solve(garbage, 3, 3, 3);
  EXPECT_EQ(dirty.E, plain.E);
  EXPECT_EQ(dirty.V, plain.V);
  EXPECT_EQ(dirty.A[3], 77.0f);
  EXPECT_EQ(dirty.A[6], -1e30f);
  EXPECT_TRUE(std::isnan(dirty.A[7]));

  // The same matrix inside a 5-row array: rows 4 and 5 neither read nor written.
  std::vector<float> big(5 * 3, -5.0f);
  for (int j = 0; j < 3; ++j) std::copy_n(&kRank2[j * 3], 3, &big[j * 5]);
  const Call inside = solve(big, 3, 3, 3, 1e-8f, 5);
  EXPECT_EQ(inside.E, plain.E);
  for (int k = 1; k <= 3; ++k)
    for (int i = 1; i <= 5; ++i) {
      EXPECT_EQ(inside.v(i, k), i <= 3 ? plain.v(i, k) : kUntouched) << i << ", " << k;
      if (i > 3) {
        EXPECT_EQ(inside.A[(k - 1) * 5 + (i - 1)], -5.0f);
      }
    }
}

TEST(Eigrs, NearlyDiagonalMatricesGiveFiniteAxes) {
  // Moment tensor of four atoms at (+-1, 0, 0), (0, +-2, 0).
  expect_pairs(solve({2, 0, 0, 0, 8, 0, 0, 0, 0}, 3, 3, 3), {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}});

  // Exact eigenvalues after the reduction: the inverse iteration ends near the
  // top of the single-precision range and the reflections would overflow.
  const std::vector<float> A = {5, 2e-6f, 2e-6f, 0, 4, -1e-6f, 0, 0, 1.5f};
  const Call c = solve(A, 3, 3, 3);
  EXPECT_TRUE(all_finite(c.V));
  expect_eigenpairs(A, c, 3, 2e-6);
}

TEST(Eigrs, NonFiniteInputPropagatesAndEnds) {
  for (const auto& [bad, at] : {std::pair{NAN, 0}, {NAN, 1}, {INFINITY, 0}, {-INFINITY, 4}}) {
    std::vector<float> A = kRank2;
    A[at] = bad;
    EXPECT_FALSE(all_finite(solve(A, 3, 3, 3).V)) << bad << " at " << at;
  }
}

TEST(Eigrs, RandomSymmetricMatrices) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
  for (int n = 3; n <= 12; ++n) {
    for (const int NE : {n, -n, n / 2}) {
      SCOPED_TRACE("n=" + std::to_string(n) + " NE=" + std::to_string(NE));
      std::vector<float> A(n * n);
      for (float& a : A) a = entry(rng);
      const int count = std::abs(NE);
      const Call c = solve(A, n, NE, count);
      for (int k = 1; k < count; ++k)
        EXPECT_TRUE(NE > 0 ? c.E[k - 1] >= c.E[k] : c.E[k - 1] <= c.E[k]);
      expect_eigenpairs(A, c, count, 8.0 * n * FLT_EPSILON * n);  // n bounds the norm
      for (int k = 1; k <= count; ++k) {  // the largest component is positive
        const float* v = &c.V[(k - 1) * n];
        EXPECT_GT(*std::max_element(v, v + n,
                                    [](float a, float b) { return std::fabs(a) < std::fabs(b); }),
                  0.0f);
      }
    }
  }
}

}  // namespace
