// The shift map spread over the CPUs the process may use and over vector
// lanes. Grid points are independent; each is summed in the same pair order
// as the plain path, with the same single-precision operations, so the
// numbers are the same bit for bit.
//
// Lanes: a work item is eight grid points, one per lane of an AVX2
// register, or sixteen in an AVX-512 one (map_lanes16.cpp), the widest the
// CPU runs; a tile of 4 columns by 2 or 4 rows where the grid divides into
// such tiles, consecutive points in scan order elsewhere. All lanes step
// through the same pair sequence (central atom i outer, copy atom j inner)
// together; only the copy's shifts differ between lanes. Square root,
// division, addition and multiplication are correctly rounded in the vector
// unit exactly as in the scalar one, no product is fused into an addition
// and no sum is reordered. The one division taken off the divider, rho =
// r / r0, is formed from the reciprocal of r0 by a sequence proven to give
// the same correctly rounded quotient (reduced_distance_avx2). (When both
// operands of an addition are NaN, which one is passed on depends on the
// operand order the compiler picks, in either path; the report prints every
// NaN alike.)
//
// The exponential is the one part that is not a single instruction. The
// plain path calls std::exp on a float, which is the C library's expf; on
// x86-64 with AVX2 and FMA the library picks its FMA build of the
// table-driven algorithm:
//   k = round(x * 32 / ln 2), r = x * 32 / ln 2 - k      (both by FMA, in double)
//   2^(k/32) from a 32-entry table of 2^(i/32) with the exponent added,
//   2^(r/32) ~ 1 + C2 r + C1 r^2 + C0 r^3               (in double)
//   e^x = float(2^(k/32) * 2^(r/32))
// exp_avx2 below does those double operations lane by lane (the table holds
// 2^(i/32) correctly rounded; which operations are fused was settled by
// comparing with the library over every argument). The tests compare it with
// the library's std::exp, called at run time, for every float from 0 down to
// -104, and below that (where the library's result is +0, and so is ours)
// for one float in 61. Arguments the map cannot be sure of (x > 0, NaN) go
// to std::exp one lane at a time.
//
// Pairs beyond map_far_rho contact distances need no exponential at all: the
// repulsion cannot change repulsion - dispersion (map_lanes.hpp). A group of
// lanes skips it when all of them are that far. Between map_mid_rho and
// map_far_rho the repulsion is small against the dispersion, so the rounded
// difference repulsion - dispersion depends on the repulsion only through a
// few units in the last place of the dispersion: a short single-precision
// exponential bounds the repulsion from both sides, and when both bounds give
// the same rounded difference, so does the library's value between them. When
// they do not (about one group in a thousand) the group takes the exponential.
//
// CPUs without AVX2 and FMA (where the library also takes its other build)
// run the plain kernel per grid point, on the same threads.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "map_exp_table.hpp"
#include "map_lanes.hpp"
#include "shift_map.hpp"

#if ZELK8_MAP_LANES
#include <immintrin.h>
#endif

namespace zelk8 {

namespace {

using namespace lane_detail;

int usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

#if ZELK8_MAP_LANES

#define ZELK8_LANES __attribute__((target("avx2,fma")))

// e^x of four floats widened to double; the result still to be rounded.
ZELK8_LANES inline __m256d exp_double_avx2(__m256d xd) {
  const __m256d shift = _mm256_set1_pd(round_shift);
  const __m256d scale = _mm256_set1_pd(inv_ln2_32);
  __m256d kd = _mm256_fmadd_pd(scale, xd, shift);
  const __m256i ki = _mm256_castpd_si256(kd);
  kd = _mm256_sub_pd(kd, shift);
  const __m256d r = _mm256_fmsub_pd(scale, xd, kd);
  const __m256i index = _mm256_and_si256(ki, _mm256_set1_epi64x(31));
  // Four scalar loads: quicker here than a gather instruction.
  const __m128i index_lo = _mm256_castsi256_si128(index);
  const __m128i index_hi = _mm256_extracti128_si256(index, 1);
  const __m128i t01 = _mm_set_epi64x(exp2_table[_mm_extract_epi64(index_lo, 1)],
                                     exp2_table[_mm_cvtsi128_si64(index_lo)]);
  const __m128i t23 = _mm_set_epi64x(exp2_table[_mm_extract_epi64(index_hi, 1)],
                                     exp2_table[_mm_cvtsi128_si64(index_hi)]);
  __m256i t = _mm256_set_m128i(t23, t01);
  t = _mm256_add_epi64(t, _mm256_slli_epi64(ki, 47));
  const __m256d s = _mm256_castsi256_pd(t);
  const __m256d z = _mm256_fmadd_pd(_mm256_set1_pd(C0), r, _mm256_set1_pd(C1));
  const __m256d r2 = _mm256_mul_pd(r, r);
  __m256d y = _mm256_fmadd_pd(_mm256_set1_pd(C2), r, _mm256_set1_pd(1.0));
  y = _mm256_fmadd_pd(z, r2, y);
  return _mm256_mul_pd(y, s);
}

// std::exp of eight floats.
ZELK8_LANES inline __m256 exp_avx2(__m256 x) {
  const __m128 lo = _mm256_cvtpd_ps(exp_double_avx2(_mm256_cvtps_pd(_mm256_castps256_ps128(x))));
  const __m128 hi = _mm256_cvtpd_ps(exp_double_avx2(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1))));
  __m256 e = _mm256_set_m128(hi, lo);
  const __m256 under = _mm256_cmp_ps(x, _mm256_set1_ps(underflow_threshold), _CMP_LT_OQ);
  e = _mm256_andnot_ps(under, e);
  // Not x <= 0: x > 0 or NaN, for the library lane by lane.
  const int other = _mm256_movemask_ps(_mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_NLE_UQ));
  if (other != 0) [[unlikely]] {
    alignas(32) float xs[8], es[8];
    _mm256_store_ps(xs, x);
    _mm256_store_ps(es, e);
    for (int k = 0; k < 8; ++k) {
      if (other & (1 << k)) es[k] = std::exp(xs[k]);
    }
    e = _mm256_load_ps(es);
  }
  return e;
}

// r / r0 without the divider, from y = 1/r0 correctly rounded (precomputed
// by a division), for r and |r0| from map_quotient_low to map_quotient_high:
//   q0 = RN(r y), e0 = RN(r - r0 q0), q1 = RN(q0 + e0 y),
//   e1 = r - r0 q1 (exact), rho = RN(q1 + e1 y),
// each line but the first a single fused operation. This is the divider's
// r / r0, bit for bit:
// - y has relative error below 2^-24 (a correctly rounded value), so r y is
//   within one ulp of r / r0, and q0 within two.
// - q0 + e0 y differs from r / r0 by (r / r0 - q0) ((1 + d1)(1 + d2) - 1),
//   |d1|, |d2| <= 2^-24 being the rounding errors of e0 and y: by less than
//   2^-21 ulp. The float nearest to it, q1, is therefore one of the two
//   floats around r / r0, a faithful quotient.
// - Markstein's theorem (binary, precision p = 24): when q is a faithful
//   quotient a / b and y approximates 1/b with relative error below 2^-p,
//   and nothing overflows or underflows, the remainder a - b q is a float,
//   so the fused e1 is exact, and RN(q + e1 y) = RN(a / b).
// - In the range every quotient lies in [2^-80, 2^80] and every nonzero
//   remainder is a multiple of 2^-87 (the products of the operands'
//   last places), far from underflow and overflow.
// The same scaling of r by a power of two scales every step exactly, so a
// check of one binade of r for a given r0 covers the whole range; the tests
// check every float r of the map's distances for each r0 of the bundled
// crystals, and r and r0 drawn at random.
ZELK8_LANES inline __m256 reduced_distance_avx2(__m256 r, __m256 r0, __m256 y) {
  const __m256 q0 = _mm256_mul_ps(r, y);
  const __m256 q1 = _mm256_fmadd_ps(_mm256_fnmadd_ps(q0, r0, r), y, q0);
  return _mm256_fmadd_ps(_mm256_fnmadd_ps(q1, r0, r), y, q1);
}

ZELK8_LANES void reduced_distance_lanes_avx2(const float* r, float r0, float* rho,
                                             std::size_t count) {
  const __m256 b = _mm256_set1_ps(r0), y = _mm256_set1_ps(1.0f / r0);
  const bool r0_inside = std::fabs(r0) >= map_quotient_low && std::fabs(r0) <= map_quotient_high;
  for (std::size_t k = 0; k + 8 <= count; k += 8) {
    const __m256 a = _mm256_loadu_ps(r + k);
    const __m256 outside =
        _mm256_or_ps(_mm256_cmp_ps(a, _mm256_set1_ps(map_quotient_low), _CMP_NGE_UQ),
                     _mm256_cmp_ps(a, _mm256_set1_ps(map_quotient_high), _CMP_NLE_UQ));
    const __m256 q = r0_inside && _mm256_movemask_ps(outside) == 0 ? reduced_distance_avx2(a, b, y)
                                                                   : _mm256_div_ps(a, b);
    _mm256_storeu_ps(rho + k, q);
  }
}

// Bounds low <= 184000 * std::exp(x) <= high on the float the plain path
// forms, for every float x from -12 map_far_rho to -12 map_mid_rho, from a
// short single-precision exponential: e^x = 2^k e^r with k = round(x / ln 2),
// r = x - k ln 2 in two steps, e^r by a polynomial of degree 7. Within that
// range it is within 2^-22.4 of the rounded repulsion; the bounds widen it by
// 2^-21 either way. The tests check the bounds for every float of the range.
// Since rounding is monotonic, low - d and high - d rounding to the same
// float means repulsion - d rounds to it too.
ZELK8_LANES inline void repulsion_bounds_avx2(__m256 x, __m256& low, __m256& high) {
  const __m256 k = _mm256_round_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.44269504f)),
                                   _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  // ln 2 = 0.693359375 - 2.12194440e-4, the first part exact in few bits
  __m256 r = _mm256_fmadd_ps(k, _mm256_set1_ps(-0.693359375f), x);
  r = _mm256_fmadd_ps(k, _mm256_set1_ps(2.12194440e-4f), r);
  __m256 p = _mm256_set1_ps(1.9875691500e-4f);
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.3981999507e-3f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(8.3334519073e-3f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(4.1665795894e-2f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(1.6666665459e-1f));
  p = _mm256_fmadd_ps(p, r, _mm256_set1_ps(5.0000001201e-1f));
  p = _mm256_fmadd_ps(p, _mm256_mul_ps(r, r), _mm256_add_ps(r, _mm256_set1_ps(1.0f)));
  const __m256i scale = _mm256_slli_epi32(_mm256_cvtps_epi32(k), 23);
  const __m256 e = _mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(p), scale));
  const __m256 repulsion = _mm256_mul_ps(_mm256_set1_ps(184000.0f), e);
  low = _mm256_mul_ps(repulsion, _mm256_set1_ps(1.0f - 0x1p-21f));
  high = _mm256_mul_ps(repulsion, _mm256_set1_ps(1.0f + 0x1p-21f));
}

ZELK8_LANES void repulsion_bounds_lanes_avx2(const float* x, float* low, float* high,
                                             std::size_t count) {
  for (std::size_t k = 0; k + 8 <= count; k += 8) {
    __m256 l, h;
    repulsion_bounds_avx2(_mm256_loadu_ps(x + k), l, h);
    _mm256_storeu_ps(low + k, l);
    _mm256_storeu_ps(high + k, h);
  }
}

ZELK8_LANES void exp_lanes_avx2(const float* x, float* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    _mm256_storeu_ps(out + k, exp_avx2(_mm256_loadu_ps(x + k)));
  }
  for (; k < count; ++k) out[k] = std::exp(x[k]);
}

ZELK8_LANES void map_lane_energies_avx2(const MapPairTables& t, const float* l, const float* sh,
                                        float* evdw_out, float* estat_out) {
  const int n = t.n;
  // The copy's coordinates, frame + shift rounded to float, per lane.
  __m256 copy_l[atom_slots], copy_s[atom_slots];
  const __m256 lane_l = _mm256_loadu_ps(l);
  const __m256 lane_s = _mm256_loadu_ps(sh);
  for (int j = 0; j < n; ++j) {
    copy_l[j] = _mm256_add_ps(_mm256_set1_ps(t.frame_l[j]), lane_l);
    copy_s[j] = _mm256_add_ps(_mm256_set1_ps(t.frame_s[j]), lane_s);
  }
  const __m256 sign = _mm256_set1_ps(-0.0f);
  const __m256 twelve = _mm256_set1_ps(12.0f);
  const __m256 repulsion_factor = _mm256_set1_ps(184000.0f);
  const __m256 dispersion_factor = _mm256_set1_ps(2.25f);
  const __m256 far = _mm256_set1_ps(map_far_rho);
  const __m256 mid = _mm256_set1_ps(map_mid_rho);
  const __m256 quotient_low = _mm256_set1_ps(map_quotient_low);
  const __m256 quotient_high = _mm256_set1_ps(map_quotient_high);
  __m256 evdw = _mm256_setzero_ps();
  __m256 estat = _mm256_setzero_ps();
  // Each row of pairs in three passes, so that the long chain of one pair
  // (square root, divisions, exponential) does not hold up the next: the
  // distances, then the differences repulsion - dispersion, then the terms
  // summed in order.
  alignas(32) __m256 r[atom_slots], rho[atom_slots], diff[atom_slots];
  for (int i = 0; i < n; ++i) {
    const __m256 central_l = _mm256_set1_ps(t.frame_l[i]);
    const __m256 central_s = _mm256_set1_ps(t.frame_s[i]);
    const float* dv2 = t.dv2.data() + i * n;
    const float* eps = t.eps.data() + (t.element[i] - 1) * n;
    const float* r0 = t.r0.data() + (t.element[i] - 1) * n;
    const float* r0_reciprocal = t.r0_reciprocal.data() + (t.element[i] - 1) * n;
    const float q_i = t.charge[i];
    __m256 outside = _mm256_setzero_ps();  // lanes with some r of the row outside the range
    for (int j = 0; j < n; ++j) {
      const __m256 dl = _mm256_sub_ps(copy_l[j], central_l);
      const __m256 ds = _mm256_sub_ps(copy_s[j], central_s);
      r[j] = _mm256_sqrt_ps(_mm256_add_ps(
          _mm256_add_ps(_mm256_mul_ps(dl, dl), _mm256_mul_ps(ds, ds)), _mm256_set1_ps(dv2[j])));
      outside =
          _mm256_or_ps(outside, _mm256_or_ps(_mm256_cmp_ps(r[j], quotient_low, _CMP_NGE_UQ),
                                             _mm256_cmp_ps(r[j], quotient_high, _CMP_NLE_UQ)));
      rho[j] = reduced_distance_avx2(r[j], _mm256_set1_ps(r0[j]), _mm256_set1_ps(r0_reciprocal[j]));
    }
    // Lanes with r = 0 or NaN somewhere in the row; such an r is outside the
    // quotient range too, so only rows with lanes outside it need the look.
    __m256 not_positive = _mm256_setzero_ps();
    if (_mm256_movemask_ps(outside) != 0 || !t.r0_in_quotient_range) [[unlikely]] {
      for (int j = 0; j < n; ++j) {
        rho[j] = _mm256_div_ps(r[j], _mm256_set1_ps(r0[j]));
        not_positive =
            _mm256_or_ps(not_positive, _mm256_cmp_ps(r[j], _mm256_setzero_ps(), _CMP_NGT_UQ));
      }
    }
    // A zero charge product over a positive r adds a zero to Estat, which
    // leaves the sum as it is (the sum starts at +0 and is never -0, since a
    // rounded sum is -0 only when both terms are). Such terms are skipped
    // unless some r of the row is 0 or NaN, where the term is NaN.
    const bool zero_terms_vanish = _mm256_movemask_ps(not_positive) == 0;
    // The van der Waals difference repulsion - dispersion of each pair.
    for (int j = 0; j < n; ++j) {
      const __m256 rho2 = _mm256_mul_ps(rho[j], rho[j]);
      const __m256 rho4 = _mm256_mul_ps(rho2, rho2);
      const __m256 rho6 = _mm256_mul_ps(rho2, rho4);
      const __m256 dispersion = _mm256_div_ps(dispersion_factor, rho6);
      // Far pairs: the repulsion is below half a unit in the last place of
      // the dispersion, so repulsion - dispersion is -dispersion whether the
      // exponential is taken or replaced by 0 (see map_far_rho).
      const __m256 far_lanes = _mm256_cmp_ps(rho[j], far, _CMP_GE_OQ);
      if (_mm256_movemask_ps(far_lanes) == 0xFF) {
        diff[j] = _mm256_sub_ps(_mm256_setzero_ps(), dispersion);
        continue;
      }
      const __m256 x = _mm256_xor_ps(_mm256_mul_ps(twelve, rho[j]), sign);
      // Pairs between map_mid_rho and map_far_rho contact distances: the
      // rounded difference is settled by bounds on the repulsion when
      // both bounds round to the same float (see repulsion_bounds_avx2).
      if (_mm256_movemask_ps(_mm256_cmp_ps(rho[j], mid, _CMP_GE_OQ)) == 0xFF) {
        __m256 low, high;
        repulsion_bounds_avx2(_mm256_max_ps(x, _mm256_set1_ps(-12.0f * map_far_rho)), low, high);
        low = _mm256_andnot_ps(far_lanes, low);
        high = _mm256_andnot_ps(far_lanes, high);
        const __m256 diff_low = _mm256_sub_ps(low, dispersion);
        const __m256 diff_high = _mm256_sub_ps(high, dispersion);
        const __m256i same =
            _mm256_cmpeq_epi32(_mm256_castps_si256(diff_low), _mm256_castps_si256(diff_high));
        if (_mm256_movemask_ps(_mm256_castsi256_ps(same)) == 0xFF) {
          diff[j] = diff_low;
          continue;
        }
      }
      diff[j] = _mm256_sub_ps(_mm256_mul_ps(repulsion_factor, exp_avx2(x)), dispersion);
    }
    for (int j = 0; j < n; ++j) {
      evdw = _mm256_add_ps(evdw, _mm256_mul_ps(_mm256_set1_ps(eps[j]), diff[j]));
      const float qq = t.charge_1380[j] * q_i;  // (q(j) * 1380) * q(i)
      if (qq != 0.0f || !zero_terms_vanish) {
        estat = _mm256_add_ps(estat, _mm256_div_ps(_mm256_set1_ps(qq), r[j]));
      }
    }
  }
  _mm256_storeu_ps(evdw_out, evdw);
  _mm256_storeu_ps(estat_out, estat);
}

#endif  // ZELK8_MAP_LANES

}  // namespace

int map_path_lanes(MapPath path) {
  switch (path) {
    case MapPath::lanes8:
      return 8;
    case MapPath::lanes16:
      return 16;
    default:
      return 1;
  }
}

bool map_path_supported(MapPath path) {
#if ZELK8_MAP_LANES
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512dq") &&
                             __builtin_cpu_supports("avx512vl");
#else
  constexpr bool avx2 = false, avx512 = false;
#endif
  switch (path) {
    case MapPath::lanes8:
      return avx2;
    case MapPath::lanes16:
      return avx512;
    default:
      return true;
  }
}

namespace {

// The path asked for, or the widest one, narrowed to one the CPU runs.
MapPath runnable_path(MapPath wanted) {
  for (MapPath p : {MapPath::lanes16, MapPath::lanes8}) {
    if (map_path_lanes(p) <= map_path_lanes(wanted) && map_path_supported(p)) return p;
  }
  return MapPath::plain;
}

MapPath path_from_environment() {
  const char* name = std::getenv("ZELK8_MAP_PATH");
  const std::string wanted = name ? name : "";
  if (wanted == "plain") return MapPath::plain;
  if (wanted == "8") return runnable_path(MapPath::lanes8);
  return runnable_path(MapPath::lanes16);
}

std::atomic<MapPath> chosen_path{path_from_environment()};

}  // namespace

MapPath map_path() { return chosen_path.load(std::memory_order_relaxed); }

void set_map_path(MapPath path) { chosen_path.store(runnable_path(path)); }

MapPairTables make_map_pair_tables(const RunState& s, const PairTable& table) {
  MapPairTables t;
  const int n = s.atom_count;
  t.n = n;
  t.frame_l = s.frame_l.data();
  t.frame_s = s.frame_s.data();
  t.element = s.atom_element.data();
  t.charge = s.atom_charge.data();
  t.dv2.resize(n * n);
  t.charge_1380.resize(n);
  t.eps.resize(element_slots * n);
  t.r0.resize(element_slots * n);
  t.r0_reciprocal.resize(element_slots * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const float dv = (s.frame_v[j] + s.map_height) - s.frame_v[i];
      t.dv2[i * n + j] = dv * dv;
    }
  }
  for (int j = 0; j < n; ++j) t.charge_1380[j] = s.atom_charge[j] * 1380.0f;
  // The element rows the molecule uses, with the table index that
  // molecule_pair_energy forms; every element index must be 1..7.
  bool any_nan = false;
  t.frame_l_max = t.frame_s_max = 0.0f;
  for (int j = 0; j < n; ++j) {
    any_nan |= std::isnan(s.frame_l[j]) || std::isnan(s.frame_s[j]);
    t.frame_l_max = std::max(t.frame_l_max, std::fabs(s.frame_l[j]));
    t.frame_s_max = std::max(t.frame_s_max, std::fabs(s.frame_s[j]));
  }
  t.dv2_min = n > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
  t.dv2_max = 0.0f;
  for (const float d : t.dv2) {
    any_nan |= std::isnan(d);
    t.dv2_min = std::min(t.dv2_min, d);
    t.dv2_max = std::max(t.dv2_max, d);
  }
  if (any_nan) t.frame_l_max = t.frame_s_max = t.dv2_min = t.dv2_max = NAN;
  t.r0_in_quotient_range = true;
  for (int i = 0; i < n; ++i) {
    const int e = s.atom_element[i] - 1;
    for (int j = 0; j < n; ++j) {
      const int k = e * element_slots + (s.atom_element[j] - 1);
      const float r0 = table.r0[k];
      t.eps[e * n + j] = table.eps[k];
      t.r0[e * n + j] = r0;
      t.r0_reciprocal[e * n + j] = 1.0f / r0;
      // (NaN fails both tests.)
      if (!(std::fabs(r0) >= map_quotient_low && std::fabs(r0) <= map_quotient_high)) {
        t.r0_in_quotient_range = false;
      }
    }
  }
  return t;
}

bool map_distances_in_range(const MapPairTables& t, const float* l, const float* sh, int count) {
  // |frame| and |shift| up to 2^30 give |frame + shift| <= 2^31 and so
  // |dl| < 2^32 after rounding; every test is false for NaN.
  for (int k = 0; k < count; ++k) {
    if (!(std::fabs(l[k]) <= 0x1p30f && std::fabs(sh[k]) <= 0x1p30f)) return false;
  }
  return t.r0_in_quotient_range && t.frame_l_max <= 0x1p30f && t.frame_s_max <= 0x1p30f &&
         t.dv2_min >= 0x1p-80f && t.dv2_max <= 0x1p76f;
}

// Without the lane kernels no lane path is supported, so no caller asks for
// one: the lane entry points below are then never reached.
void map_lane_energies(MapPath path, const MapPairTables& t, const float* l, const float* sh,
                       float* evdw, float* estat) {
#if ZELK8_MAP_LANES
  if (path == MapPath::lanes16) {
    map_lane_energies_avx512(t, l, sh, evdw, estat);
  } else {
    map_lane_energies_avx2(t, l, sh, evdw, estat);
  }
#else
  (void)path, (void)t, (void)l, (void)sh, (void)evdw, (void)estat;
  std::abort();
#endif
}

void exp_lanes(MapPath path, const float* x, float* out, std::size_t count) {
#if ZELK8_MAP_LANES
  if (path == MapPath::lanes16) return exp_lanes_avx512(x, out, count);
  if (path == MapPath::lanes8) return exp_lanes_avx2(x, out, count);
#else
  (void)path;
#endif
  for (std::size_t k = 0; k < count; ++k) out[k] = std::exp(x[k]);
}

void repulsion_bounds_lanes(MapPath path, const float* x, float* low, float* high,
                            std::size_t count) {
#if ZELK8_MAP_LANES
  if (path == MapPath::lanes16) {
    repulsion_bounds_lanes_avx512(x, low, high, count);
  } else {
    repulsion_bounds_lanes_avx2(x, low, high, count);
  }
#else
  (void)path, (void)x, (void)low, (void)high, (void)count;
  std::abort();
#endif
}

void reduced_distance_lanes(MapPath path, const float* r, float r0, float* rho, std::size_t count) {
#if ZELK8_MAP_LANES
  if (path == MapPath::lanes16) return reduced_distance_lanes_avx512(r, r0, rho, count);
  if (path == MapPath::lanes8) return reduced_distance_lanes_avx2(r, r0, rho, count);
#else
  (void)path;
#endif
  for (std::size_t k = 0; k < count; ++k) rho[k] = r[k] / r0;
}

ShiftMap compute_shift_map(const RunState& s, int threads) {
  ShiftMap map = empty_shift_map(s);
  const PairTable table = make_pair_table(s);
  const int columns = map.grid.columns;
  const int points = map.grid.rows * columns;
  // Element indices outside the table leave the lanes without their eps and
  // r0 rows; such a molecule goes through the plain kernel as it stands.
  const bool elements_in_table =
      std::all_of(s.atom_element.begin(), s.atom_element.begin() + s.atom_count,
                  [](int e) { return e >= 1 && e <= element_slots; });
  const MapPath path = elements_in_table ? map_path() : MapPath::plain;
  const bool lanes = path != MapPath::plain;
  const int per_item = map_path_lanes(path);
  const int items = (points + per_item - 1) / per_item;
  if (threads <= 0) threads = usable_cpus();
  threads = std::clamp(threads, 1, std::max(1, items));
  const MapPairTables pairs = lanes ? make_map_pair_tables(s, table) : MapPairTables{};

  auto store = [&](int p, float evdw, float estat) {
    const int at = (p / columns) * map_points + p % columns;
    map.evdw[at] = evdw;
    map.estat[at] = estat;
    map.etot[at] = evdw + estat;
  };
  // A work item is 8 or 16 grid points. Where the grid divides into tiles
  // of 4 columns by 2 or 4 rows, an item is such a tile: its points lie
  // closer together than a run of one row, so more of its pair groups are
  // far apart in every lane and skip the exponential. Elsewhere an item is
  // a run of points in scan order, lanes past the last point repeating it.
  const int tile_rows = per_item / 4;
  const bool tiles = lanes && columns % 4 == 0 && map.grid.rows % tile_rows == 0;
  auto item_point = [&](int item, int k) {
    if (tiles) {
      const int tiles_per_row = columns / 4;
      const int row = (item / tiles_per_row) * tile_rows + k / 4;
      return row * columns + (item % tiles_per_row) * 4 + k % 4;
    }
    return std::min(item * per_item + k, points - 1);
  };
  auto lane_item = [&](int item) {
    alignas(64) float l[map_max_lanes], sh[map_max_lanes], evdw[map_max_lanes],
        estat[map_max_lanes];
    int p[map_max_lanes];
    for (int k = 0; k < per_item; ++k) {
      p[k] = item_point(item, k);
      l[k] = map.grid.l_shift[p[k] % columns];
      sh[k] = map.grid.s_shift[p[k] / columns];
    }
    map_lane_energies(path, pairs, l, sh, evdw, estat);
    for (int k = 0; k < per_item && item * per_item + k < points; ++k) {
      store(p[k], evdw[k], estat[k]);
    }
  };
  // One grid point with the plain kernel, for CPUs without the lanes.
  auto scalar_item = [&](int p, AtomArray<float>& copy_l, AtomArray<float>& copy_s,
                         AtomArray<float>& copy_v) {
    const float l = map.grid.l_shift[p % columns], sh = map.grid.s_shift[p / columns];
    for (int k = 0; k < s.atom_count; ++k) {
      copy_l[k] = s.frame_l[k] + l;
      copy_s[k] = s.frame_s[k] + sh;
      copy_v[k] = s.frame_v[k] + s.map_height;
    }
    const MoleculeView central{s.frame_l.data(),      s.frame_s.data(),     s.frame_v.data(),
                               s.atom_element.data(), s.atom_charge.data(), s.atom_count};
    const MoleculeView copy{copy_l.data(),         copy_s.data(),        copy_v.data(),
                            s.atom_element.data(), s.atom_charge.data(), s.atom_count};
    const MoleculeEnergy e = molecule_pair_energy(table, central, copy);
    store(p, e.evdw, e.estat);
  };

  std::atomic<int> next{0};
  auto work = [&] {
    AtomArray<float> copy_l{}, copy_s{}, copy_v{};
    for (int item; (item = next.fetch_add(1, std::memory_order_relaxed)) < items;) {
      if (lanes) {
        lane_item(item);
      } else {
        scalar_item(item, copy_l, copy_s, copy_v);
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  find_map_minima(map);
  return map;
}

}  // namespace zelk8
