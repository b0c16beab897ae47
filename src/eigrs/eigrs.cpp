// EIGRS: Householder tridiagonalisation, Sturm-sequence bisection and inverse
// iteration for a real symmetric matrix (see eigrs.hpp for the arguments).
//
// Every stored value is single precision; inner products and sums of squares
// add single-precision products into a double accumulator, and the few
// scalars built from them are rounded to single once. The operations are
// written in the order that defines the results, with their parentheses.
//
// Overflow: the back-substitution and the Sturm sequence treat a result of
// +Inf or -Inf (never NaN) as an overflow. The back-substitution then scales
// the right-hand side by 1e-5 and recomputes, at most 64 times per solve; the
// Sturm sequence counts the term as non-negative and restarts the recurrence.

#include "eigrs.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "records.hpp"

namespace {

// Column-major view with 1-based indices: (i, j) lies at (j - 1) * n1 + (i - 1).
struct Matrix {
  float* data;
  int n1;
  float& operator()(int i, int j) const { return data[static_cast<long>(j - 1) * n1 + (i - 1)]; }
};

constexpr float kSmall = 1e-6f;       // replaces a negative EPS; closeness factor
constexpr float kZeroPivot = 1e-30f;  // stands for an exactly zero pivot
constexpr float kRescale = 1e-5f;     // overflow recovery in the back-substitution
constexpr int kMaxRescales = 64;      // per back-substitution
constexpr int kSeed = 584287;         // random restart, reset on every call
constexpr std::uint32_t kMultiplier = 48828125u;
constexpr float kTwoToMinus31 = 0x1p-31f;

bool overflowed(float value) { return std::isinf(value); }

bool all_finite(const Matrix& V, int k, int N) {
  for (int j = 1; j <= N; ++j) {
    if (!std::isfinite(V(j, k))) return false;
  }
  return true;
}

void write_message(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Householder reduction to tridiagonal form, reading and updating only the
// lower triangle. Column i of A keeps the Householder vector of step i in rows
// i+1..N; W(i, 1) = e_i (= -g), W(j, 6) = d_j.
void reduce_to_tridiagonal(const Matrix& A, int N, const Matrix& W) {
  for (int i = 1; i <= N - 2; ++i) {
    double s = 0.0;
    for (int j = i + 1; j <= N; ++j) {
      const float a = A(j, i);
      s += static_cast<double>(a * a);
    }
    W(i, 1) = 0.0f;
    if (s == 0.0) continue;  // column already reduced
    float g = static_cast<float>(std::sqrt(s));
    const float h = A(i + 1, i);
    if (h < 0.0f) g = -g;  // g takes the sign of h, so h + g never cancels
    W(i, 1) = -g;
    const float f = static_cast<float>(1.0 / (static_cast<double>(h * g) + s));
    A(i + 1, i) = h + g;

    // p = A u / (h g + s), A taken from its lower triangle.
    for (int j = i + 1; j <= N; ++j) {
      double sum = 0.0;
      for (int k = i + 1; k <= j; ++k) sum += static_cast<double>(A(k, i) * A(j, k));
      for (int k = j + 1; k <= N; ++k) sum += static_cast<double>(A(k, i) * A(k, j));
      W(j, 1) = static_cast<float>(static_cast<double>(f) * sum);
    }
    double up = 0.0;
    for (int j = i + 1; j <= N; ++j) up += static_cast<double>(A(j, i) * W(j, 1));
    const float K = static_cast<float>(static_cast<double>(f) * (0.5 * up));
    // q = p - K u
    for (int j = i + 1; j <= N; ++j) W(j, 1) = W(j, 1) - (A(j, i) * K);
    // A := A - u q' - q u' on the lower triangle.
    for (int k = i + 1; k <= N; ++k) {
      const float qk = W(k, 1);
      for (int j = k; j <= N; ++j) {
        A(j, k) = (A(j, k) - (A(j, i) * qk)) - (W(j, 1) * A(k, i));
      }
    }
  }
  W(N - 1, 1) = A(N, N - 1);
  for (int j = 1; j <= N; ++j) W(j, 6) = A(j, j);
}

// Largest row sum of absolute values of the tridiagonal matrix.
float tridiagonal_norm(int N, const Matrix& W) {
  const float first = std::fabs(W(1, 6)) + std::fabs(W(1, 1));
  const float last = std::fabs(W(N - 1, 1)) + std::fabs(W(N, 6));
  float norm = first;
  if (last > first) norm = last;
  for (int j = 2; j <= N - 1; ++j) {
    const float row = (std::fabs(W(j - 1, 1)) + std::fabs(W(j, 6))) + std::fabs(W(j, 1));
    if (row > norm) norm = row;
  }
  return norm;
}

// Count sign changes of the Sturm sequence: the number of eigenvalues of T
// not below mu. W(j, 2) holds e_j squared.
int sturm_count(int N, const Matrix& W, float mu) {
  int j = 1;
  float q = W(1, 6) - mu;
  int count = 0;
  for (;;) {
    if (q >= 0.0f) ++count;
    if (q == 0.0f) {
      j += 2;  // the term after a zero term is skipped
      if (j > N) break;
      q = W(j, 6) - mu;
      continue;
    }
    j += 1;
    if (j > N) break;
    q = (W(j, 6) - mu) - (W(j - 1, 2) / q);
    if (overflowed(q)) {
      ++count;  // an overflowing term counts as non-negative
      j += 1;
      if (j > N) break;
      q = W(j, 6) - mu;
    }
  }
  return count;
}

// Bisection for the abs(NE) largest (NE > 0) or smallest (NE < 0) eigenvalues.
// The outer bound is shared by all eigenvalues; E holds the inner bounds.
void bisect(int N, int NE, float norm, float tol, const Matrix& W, float* E) {
  const int count_wanted = NE > 0 ? NE : -NE;
  for (int j = 1; j <= N - 1; ++j) W(j, 2) = W(j, 1) * W(j, 1);
  float b = NE > 0 ? norm : -norm;
  for (int j = 1; j <= count_wanted; ++j) E[j - 1] = NE > 0 ? -norm : norm;
  for (int i = 1; i <= count_wanted; ++i) {
    float l = E[i - 1];
    for (;;) {
      const float mu = 0.5f * (l + b);
      if (std::fabs(l - b) <= tol || mu == l || mu == b || std::isnan(mu)) {
        E[i - 1] = mu;
        break;
      }
      int count = sturm_count(N, W, mu);
      if (NE < 0) count = N - count;
      if (count < i) {
        b = mu;
      } else {
        l = mu;
        const int last = count < count_wanted ? count : count_wanted;
        for (int j = i; j <= last; ++j) E[j - 1] = mu;
      }
    }
  }
}

// Solves U y = v in place, U upper triangular with diagonal W(., 2) and
// super-diagonals W(., 3), W(., 4). An infinite component scales the
// right-hand side by 1e-5 and is computed again.
void back_substitute(int N, const Matrix& W, float* v) {
  int rescales = 0;
  float t = v[N - 1];
  float s = v[N - 2];
  for (;;) {
    v[N - 1] = t / W(N, 2);
    v[N - 2] = (s - (W(N - 1, 3) * v[N - 1])) / W(N - 1, 2);
    if (!(overflowed(v[N - 1]) || overflowed(v[N - 2])) || rescales == kMaxRescales) break;
    ++rescales;
    for (int j = 1; j <= N - 2; ++j) v[j - 1] = v[j - 1] * kRescale;
    t = t * kRescale;
    s = s * kRescale;
  }
  for (int j = N - 2; j >= 1; --j) {
    t = v[j - 1];
    for (;;) {
      v[j - 1] = ((t - (W(j, 3) * v[j])) - (W(j, 4) * v[j + 1])) / W(j, 2);
      if (!overflowed(v[j - 1]) || rescales == kMaxRescales) break;
      ++rescales;
      for (int i = 1; i <= N; ++i) v[i - 1] = v[i - 1] * kRescale;
      t = t * kRescale;
    }
  }
}

// Two steps of inverse iteration on T - lambda I for every wanted vector.
void inverse_iteration(int N, int NV, float delta, const Matrix& W, int* IW, const float* E,
                       const Matrix& V) {
  const int vectors = NV > 0 ? NV : -NV;
  W(N, 1) = 0.0f;
  std::int32_t x = kSeed;
  for (int k = 1; k <= vectors; ++k) {
    const float lambda = E[k - 1];
    for (int j = 1; j <= N; ++j) {
      W(j, 2) = W(j, 6) - lambda;
      W(j, 3) = W(j, 1);
      V(j, k) = 1.0f;
    }

    // Gaussian elimination with partial pivoting.
    for (int j = 1; j <= N - 1; ++j) {
      const float b = W(j, 2);
      const float e = W(j, 1);
      float m;
      if (std::fabs(e) > std::fabs(b)) {
        m = b / e;
        IW[j - 1] = 1;
        W(j, 2) = e;
        const float t = W(j, 3);
        W(j, 3) = W(j + 1, 2);
        W(j, 4) = W(j + 1, 3);
        W(j + 1, 2) = t - (m * W(j, 3));
        W(j + 1, 3) = -(m * W(j, 4));
      } else {
        if (b == 0.0f) W(j, 2) = kZeroPivot;
        m = e / W(j, 2);
        IW[j - 1] = 0;
        W(j + 1, 2) = W(j + 1, 2) - (m * W(j, 3));
        W(j, 4) = 0.0f;
      }
      W(j, 5) = m;
    }
    if (W(N, 2) == 0.0f) W(N, 2) = kZeroPivot;

    // A close eigenvalue starts from random components instead of ones.
    if (k > 1) {
      const float gap = std::fabs(E[k - 1] - E[k - 2]);
      if (gap < delta || std::isnan(gap)) {
        for (int j = 1; j <= N; ++j) {
          x = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) * kMultiplier);
          V(j, k) = static_cast<float>(x) * kTwoToMinus31;
        }
      }
    }

    float* v = &V(1, k);
    back_substitute(N, W, v);
    for (int j = 1; j <= N - 1; ++j) {
      if (IW[j - 1] == 1) {
        const float upper = v[j];
        const float lower = v[j - 1] - (W(j, 5) * v[j]);
        v[j - 1] = upper;
        v[j] = lower;
      } else {
        v[j] = v[j] - (v[j - 1] * W(j, 5));
      }
    }
    back_substitute(N, W, v);
  }
}

// Applies the reflections I - u u' / h_i, i = N-2 down to 1, to column k of V.
// W(i, 1) holds h_i, 0 for a skipped step.
void apply_reflections(int N, const Matrix& A, const Matrix& W, const Matrix& V, int k) {
  for (int i = N - 2; i >= 1; --i) {
    if (W(i, 1) == 0.0f) continue;
    const float r = 1.0f / W(i, 1);
    double sum = 0.0;
    for (int j = i + 1; j <= N; ++j) sum += static_cast<double>(A(j, i) * V(j, k));
    const float f = static_cast<float>(static_cast<double>(r) * sum);
    for (int j = i + 1; j <= N; ++j) V(j, k) = V(j, k) - (A(j, i) * f);
  }
}

// Index of the largest-magnitude component of column k; the first on ties.
int largest_component(int N, const Matrix& V, int k) {
  int m = 1;
  for (int j = 2; j <= N; ++j) {
    if (std::fabs(V(j, k)) > std::fabs(V(m, k))) m = j;
  }
  return m;
}

void scale_by_reciprocal(int N, const Matrix& V, int k, int m) {
  const float r = 1.0f / V(m, k);
  for (int j = 1; j <= N; ++j) V(j, k) = V(j, k) * r;
}

// Back-transformation through the Householder reflections. A vector that was
// finite but overflows on the way is restored from W column 2 (free once the
// inverse iteration is done), scaled to largest component 1 and transformed
// again; every other vector is left exactly as the plain transformation gives.
void back_transform(int N, int vectors, const Matrix& A, const Matrix& W, const Matrix& V) {
  for (int i = 1; i <= N - 2; ++i) W(i, 1) = -(A(i + 1, i) * W(i, 1));
  for (int k = 1; k <= vectors; ++k) {
    const bool finite = all_finite(V, k, N);
    for (int j = 1; j <= N; ++j) W(j, 2) = V(j, k);
    apply_reflections(N, A, W, V, k);
    if (!finite || all_finite(V, k, N)) continue;
    for (int j = 1; j <= N; ++j) V(j, k) = W(j, 2);
    scale_by_reciprocal(N, V, k, largest_component(N, V, k));
    apply_reflections(N, A, W, V, k);
  }
}

// Orthogonalisation within clusters of close eigenvalues, then unit length.
void orthonormalise(int N, int vectors, float delta, const float* E, const Matrix& V) {
  int cluster_start = 1;
  for (int k = 1; k <= vectors; ++k) {
    if (k == 1 || std::fabs(E[k - 1] - E[k - 2]) >= delta) {
      cluster_start = k;
    } else {
      for (int l = cluster_start; l <= k - 1; ++l) {
        double dot = 0.0;
        for (int j = 1; j <= N; ++j) dot += static_cast<double>(V(j, k) * V(j, l));
        for (int j = 1; j <= N; ++j) {
          V(j, k) = static_cast<float>(static_cast<double>(V(j, k)) -
                                       (static_cast<double>(V(j, l)) * dot));
        }
      }
    }
    double squares = 0.0;
    for (int j = 1; j <= N; ++j) squares += static_cast<double>(V(j, k) * V(j, k));
    const float r = squares != 0.0 ? static_cast<float>(std::sqrt(1.0 / squares)) : 0.0f;
    for (int j = 1; j <= N; ++j) V(j, k) = V(j, k) * r;
  }
}

// Eigenvectors of T by inverse iteration, carried back to A for N >= 3.
void eigenvectors(const Matrix& A, int N, int NV, float delta, const Matrix& W, int* IW,
                  const float* E, const Matrix& V) {
  const int vectors = NV > 0 ? NV : -NV;
  inverse_iteration(N, NV, delta, W, IW, E, V);
  if (N >= 3) back_transform(N, vectors, A, W, V);
  for (int k = 1; k <= vectors; ++k) scale_by_reciprocal(N, V, k, largest_component(N, V, k));
  if (NV < 0) return;
  orthonormalise(N, vectors, delta, E, V);
}

}  // namespace

void EIGRS(float* A, int N, int N1, int NE, int NV, float& EPS, float* W, int* IW, float* E,
           float* V) {
  if (NE == 0) {
    write_message(records::format(
        records::Format("(1H0,'(SUBR. EIGRS) NE=',I5,', NE SHOULD BE NON-ZERO. RETURN WITH NO "
                        "CALCULATION.' )"),
        NE));
    return;
  }
  const int values = NE > 0 ? NE : -NE;
  const int vectors = NV > 0 ? NV : -NV;
  if (!(vectors <= values && values <= N && N <= N1)) {
    write_message(records::format(
        records::Format("(1H0,'(SUBR. EIGRS) NV=',I5,', NE=',I5,', N=',I5,', N1=',I5,1H,/1H ,"
                        "'NV, NE, N, N1 SHOULD SATISFY THE FOLLOWING INEQUALITIES, !NV! <= !NE! "
                        "<= N <= N1.' /1H ,'RETURN WITH NO CALCULATION.' )"),
        NV, NE, N, N1));
    E[0] = 0.0f;
    return;
  }
  if (EPS < 0.0f) EPS = kSmall;

  const Matrix a{A, N1};
  const Matrix w{W, N1};
  const Matrix v{V, N1};

  if (N == 1) {
    E[0] = a(1, 1);
    if (NV != 0) v(1, 1) = 1.0f;
    return;
  }

  float norm;
  if (N == 2) {
    // Closed form: R is the root of larger magnitude, D / R the other one.
    const float t = 0.5f * (a(1, 1) + a(2, 2));
    const float D = (a(2, 2) * a(1, 1)) - (a(2, 1) * a(2, 1));
    float R = std::sqrt((t * t) - D) + std::fabs(t);
    if (t < 0.0f) R = -R;
    const float other = R == 0.0f ? 0.0f : D / R;  // the zero matrix: both roots 0
    const float larger = t >= 0.0f ? R : other;
    const float smaller = t >= 0.0f ? other : R;
    E[0] = NE > 0 ? larger : smaller;
    if (values == 2) E[1] = NE > 0 ? smaller : larger;
    w(1, 1) = a(2, 1);
    w(1, 6) = a(1, 1);
    w(2, 6) = a(2, 2);
    const float first = std::fabs(a(1, 1)) + std::fabs(a(2, 1));
    const float second = std::fabs(a(2, 1)) + std::fabs(a(2, 2));
    norm = first;
    if (second > first) norm = second;
  } else {
    reduce_to_tridiagonal(a, N, w);
    norm = tridiagonal_norm(N, w);
    const float tol = EPS * norm;
    bisect(N, NE, norm, tol, w, E);
  }
  const float delta = kSmall * norm;

  if (NV == 0) return;
  eigenvectors(a, N, NV, delta, w, IW, E, v);
}
