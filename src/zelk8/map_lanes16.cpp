// The sixteen-lane kernel, for CPUs with AVX-512 F, DQ and VL: the eight-lane
// kernel of shift_map_fast.cpp step for step, with sixteen grid points per
// register and masks where that one compares lanes. Every operation and its
// order per lane are the same as there, so the sums carry the same bits; see
// shift_map_fast.cpp for why each step rounds as the plain path does.
//
// What AVX-512 changes besides the width: the exponential's 32-entry table
// lives in four registers and is looked up by two two-register permutations
// and a blend on bit 4 of the index, instead of one scalar load per lane.
#include "map_exp_table.hpp"
#include "map_lanes.hpp"

#if ZELK8_MAP_LANES
#include <immintrin.h>

#include <cmath>
#include <cstdint>

// GCC 12's AVX-512 intrinsics start many results from a self-initialised
// "undefined" register, which its own -Wmaybe-uninitialized then reports
// at every use; nothing here reads an undefined value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace zelk8::lane_detail {

namespace {

constexpr int lanes = 16;

#define ZELK8_LANES16 __attribute__((target("avx2,fma,avx512f,avx512dq,avx512vl")))

// e^x of eight floats widened to double; the result still to be rounded.
// The same operations as exp_double_avx2.
ZELK8_LANES16 inline __m512d exp_double_avx512(__m512d xd, __m512d t0, __m512d t1, __m512d t2,
                                               __m512d t3) {
  const __m512d shift = _mm512_set1_pd(round_shift);
  const __m512d scale = _mm512_set1_pd(inv_ln2_32);
  __m512d kd = _mm512_fmadd_pd(scale, xd, shift);
  const __m512i ki = _mm512_castpd_si512(kd);
  kd = _mm512_sub_pd(kd, shift);
  const __m512d r = _mm512_fmsub_pd(scale, xd, kd);
  // Entry k mod 32: the permutations read bits 0-3 of each index, bit 4
  // picks the half of the table.
  const __m512d low_half = _mm512_permutex2var_pd(t0, ki, t1);
  const __m512d high_half = _mm512_permutex2var_pd(t2, ki, t3);
  const __mmask8 upper = _mm512_test_epi64_mask(ki, _mm512_set1_epi64(16));
  __m512i t = _mm512_castpd_si512(_mm512_mask_blend_pd(upper, low_half, high_half));
  t = _mm512_add_epi64(t, _mm512_slli_epi64(ki, 47));
  const __m512d s = _mm512_castsi512_pd(t);
  const __m512d z = _mm512_fmadd_pd(_mm512_set1_pd(C0), r, _mm512_set1_pd(C1));
  const __m512d r2 = _mm512_mul_pd(r, r);
  __m512d y = _mm512_fmadd_pd(_mm512_set1_pd(C2), r, _mm512_set1_pd(1.0));
  y = _mm512_fmadd_pd(z, r2, y);
  return _mm512_mul_pd(y, s);
}

// std::exp of sixteen floats.
ZELK8_LANES16 inline __m512 exp_avx512(__m512 x) {
  const __m512d t0 = _mm512_load_pd(reinterpret_cast<const double*>(exp2_table));
  const __m512d t1 = _mm512_load_pd(reinterpret_cast<const double*>(exp2_table + 8));
  const __m512d t2 = _mm512_load_pd(reinterpret_cast<const double*>(exp2_table + 16));
  const __m512d t3 = _mm512_load_pd(reinterpret_cast<const double*>(exp2_table + 24));
  const __m256 lo = _mm512_cvtpd_ps(
      exp_double_avx512(_mm512_cvtps_pd(_mm512_castps512_ps256(x)), t0, t1, t2, t3));
  const __m256 hi = _mm512_cvtpd_ps(
      exp_double_avx512(_mm512_cvtps_pd(_mm512_extractf32x8_ps(x, 1)), t0, t1, t2, t3));
  const __mmask16 kept = _mm512_cmp_ps_mask(x, _mm512_set1_ps(underflow_threshold), _CMP_NLT_UQ);
  __m512 e = _mm512_maskz_mov_ps(kept, _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1));
  // Not x <= 0: x > 0 or NaN, for the library lane by lane.
  const __mmask16 other = _mm512_cmp_ps_mask(x, _mm512_setzero_ps(), _CMP_NLE_UQ);
  if (other != 0) [[unlikely]] {
    alignas(64) float xs[lanes], es[lanes];
    _mm512_store_ps(xs, x);
    _mm512_store_ps(es, e);
    for (int k = 0; k < lanes; ++k) {
      if (other & (1 << k)) es[k] = std::exp(xs[k]);
    }
    e = _mm512_load_ps(es);
  }
  return e;
}

// repulsion_bounds_avx2 on sixteen lanes, the same operations.
ZELK8_LANES16 inline void repulsion_bounds_avx512(__m512 x, __m512& low, __m512& high) {
  const __m512 k = _mm512_roundscale_ps(_mm512_mul_ps(x, _mm512_set1_ps(1.44269504f)),
                                        _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  __m512 r = _mm512_fmadd_ps(k, _mm512_set1_ps(-0.693359375f), x);
  r = _mm512_fmadd_ps(k, _mm512_set1_ps(2.12194440e-4f), r);
  __m512 p = _mm512_set1_ps(1.9875691500e-4f);
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.3981999507e-3f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(8.3334519073e-3f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(4.1665795894e-2f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(1.6666665459e-1f));
  p = _mm512_fmadd_ps(p, r, _mm512_set1_ps(5.0000001201e-1f));
  p = _mm512_fmadd_ps(p, _mm512_mul_ps(r, r), _mm512_add_ps(r, _mm512_set1_ps(1.0f)));
  const __m512i scale = _mm512_slli_epi32(_mm512_cvtps_epi32(k), 23);
  const __m512 e = _mm512_castsi512_ps(_mm512_add_epi32(_mm512_castps_si512(p), scale));
  const __m512 repulsion = _mm512_mul_ps(_mm512_set1_ps(184000.0f), e);
  low = _mm512_mul_ps(repulsion, _mm512_set1_ps(1.0f - 0x1p-21f));
  high = _mm512_mul_ps(repulsion, _mm512_set1_ps(1.0f + 0x1p-21f));
}

// r / r0 from the correctly rounded reciprocal y, for r and |r0| in the
// quotient range: the sequence of reduced_distance_avx2, whose comment
// shows that it gives the divider's quotient.
ZELK8_LANES16 inline __m512 reduced_distance_avx512(__m512 r, __m512 r0, __m512 y) {
  const __m512 q0 = _mm512_mul_ps(r, y);
  const __m512 q1 = _mm512_fmadd_ps(_mm512_fnmadd_ps(q0, r0, r), y, q0);
  return _mm512_fmadd_ps(_mm512_fnmadd_ps(q1, r0, r), y, q1);
}

// Lanes whose r lies in the quotient range (NaN does not).
ZELK8_LANES16 inline __mmask16 inside_quotient_range(__m512 r) {
  const __mmask16 above_low = _mm512_cmp_ps_mask(r, _mm512_set1_ps(map_quotient_low), _CMP_GE_OQ);
  return _mm512_mask_cmp_ps_mask(above_low, r, _mm512_set1_ps(map_quotient_high), _CMP_LE_OQ);
}

}  // namespace

ZELK8_LANES16 void exp_lanes_avx512(const float* x, float* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + lanes <= count; k += lanes) {
    _mm512_storeu_ps(out + k, exp_avx512(_mm512_loadu_ps(x + k)));
  }
  for (; k < count; ++k) out[k] = std::exp(x[k]);
}

ZELK8_LANES16 void repulsion_bounds_lanes_avx512(const float* x, float* low, float* high,
                                                 std::size_t count) {
  for (std::size_t k = 0; k + lanes <= count; k += lanes) {
    __m512 l, h;
    repulsion_bounds_avx512(_mm512_loadu_ps(x + k), l, h);
    _mm512_storeu_ps(low + k, l);
    _mm512_storeu_ps(high + k, h);
  }
}

ZELK8_LANES16 void reduced_distance_lanes_avx512(const float* r, float r0, float* rho,
                                                 std::size_t count) {
  const __m512 b = _mm512_set1_ps(r0), y = _mm512_set1_ps(1.0f / r0);
  const bool r0_inside = std::fabs(r0) >= map_quotient_low && std::fabs(r0) <= map_quotient_high;
  for (std::size_t k = 0; k + lanes <= count; k += lanes) {
    const __m512 a = _mm512_loadu_ps(r + k);
    const __m512 q = r0_inside && inside_quotient_range(a) == 0xFFFF
                         ? reduced_distance_avx512(a, b, y)
                         : _mm512_div_ps(a, b);
    _mm512_storeu_ps(rho + k, q);
  }
}

namespace {

// The kernel; when in_range holds (map_distances_in_range), no r needs
// checking against the quotient range.
template <bool in_range>
ZELK8_LANES16 void lane_energies(const MapPairTables& t, const float* l, const float* sh,
                                 float* evdw_out, float* estat_out) {
  const int n = t.n;
  // The copy's coordinates, frame + shift rounded to float, per lane.
  __m512 copy_l[atom_slots], copy_s[atom_slots];
  const __m512 lane_l = _mm512_loadu_ps(l);
  const __m512 lane_s = _mm512_loadu_ps(sh);
  for (int j = 0; j < n; ++j) {
    copy_l[j] = _mm512_add_ps(_mm512_set1_ps(t.frame_l[j]), lane_l);
    copy_s[j] = _mm512_add_ps(_mm512_set1_ps(t.frame_s[j]), lane_s);
  }
  const __m512 sign = _mm512_set1_ps(-0.0f);
  const __m512 twelve = _mm512_set1_ps(12.0f);
  const __m512 repulsion_factor = _mm512_set1_ps(184000.0f);
  const __m512 dispersion_factor = _mm512_set1_ps(2.25f);
  const __m512 far = _mm512_set1_ps(map_far_rho);
  const __m512 mid = _mm512_set1_ps(map_mid_rho);
  __m512 evdw = _mm512_setzero_ps();
  __m512 estat = _mm512_setzero_ps();
  // The three passes per row of the eight-lane kernel.
  alignas(64) __m512 r[atom_slots], rho[atom_slots], diff[atom_slots];
  for (int i = 0; i < n; ++i) {
    const __m512 central_l = _mm512_set1_ps(t.frame_l[i]);
    const __m512 central_s = _mm512_set1_ps(t.frame_s[i]);
    const float* dv2 = t.dv2.data() + i * n;
    const float* eps = t.eps.data() + (t.element[i] - 1) * n;
    const float* r0 = t.r0.data() + (t.element[i] - 1) * n;
    const float* r0_reciprocal = t.r0_reciprocal.data() + (t.element[i] - 1) * n;
    const float q_i = t.charge[i];
    __mmask16 inside = 0xFFFF;  // lanes with every r of the row in the quotient range
    for (int j = 0; j < n; ++j) {
      const __m512 dl = _mm512_sub_ps(copy_l[j], central_l);
      const __m512 ds = _mm512_sub_ps(copy_s[j], central_s);
      r[j] = _mm512_sqrt_ps(_mm512_add_ps(
          _mm512_add_ps(_mm512_mul_ps(dl, dl), _mm512_mul_ps(ds, ds)), _mm512_set1_ps(dv2[j])));
      if constexpr (!in_range) inside &= inside_quotient_range(r[j]);
      rho[j] =
          reduced_distance_avx512(r[j], _mm512_set1_ps(r0[j]), _mm512_set1_ps(r0_reciprocal[j]));
    }
    // Lanes with r = 0 or NaN somewhere in the row (outside the range too).
    __mmask16 not_positive = 0;
    if (!in_range && (inside != 0xFFFF || !t.r0_in_quotient_range)) [[unlikely]] {
      for (int j = 0; j < n; ++j) {
        rho[j] = _mm512_div_ps(r[j], _mm512_set1_ps(r0[j]));
        not_positive |= _mm512_cmp_ps_mask(r[j], _mm512_setzero_ps(), _CMP_NGT_UQ);
      }
    }
    // Zero charge products over positive r's leave Estat as it is (see the
    // eight-lane kernel).
    const bool zero_terms_vanish = not_positive == 0;
    for (int j = 0; j < n; ++j) {
      const __m512 rho2 = _mm512_mul_ps(rho[j], rho[j]);
      const __m512 rho4 = _mm512_mul_ps(rho2, rho2);
      const __m512 rho6 = _mm512_mul_ps(rho2, rho4);
      const __m512 dispersion = _mm512_div_ps(dispersion_factor, rho6);
      // Far pairs need no exponential (see map_far_rho).
      const __mmask16 far_lanes = _mm512_cmp_ps_mask(rho[j], far, _CMP_GE_OQ);
      if (far_lanes == 0xFFFF) {
        diff[j] = _mm512_sub_ps(_mm512_setzero_ps(), dispersion);
        continue;
      }
      const __m512 x = _mm512_xor_ps(_mm512_mul_ps(twelve, rho[j]), sign);
      // Mid-range pairs: settled by the repulsion bounds where both give the
      // same rounded difference.
      if (_mm512_cmp_ps_mask(rho[j], mid, _CMP_GE_OQ) == 0xFFFF) {
        __m512 low, high;
        repulsion_bounds_avx512(_mm512_max_ps(x, _mm512_set1_ps(-12.0f * map_far_rho)), low, high);
        low = _mm512_maskz_mov_ps(__mmask16(~far_lanes), low);
        high = _mm512_maskz_mov_ps(__mmask16(~far_lanes), high);
        const __m512 diff_low = _mm512_sub_ps(low, dispersion);
        const __m512 diff_high = _mm512_sub_ps(high, dispersion);
        if (_mm512_cmpeq_epi32_mask(_mm512_castps_si512(diff_low),
                                    _mm512_castps_si512(diff_high)) == 0xFFFF) {
          diff[j] = diff_low;
          continue;
        }
      }
      diff[j] = _mm512_sub_ps(_mm512_mul_ps(repulsion_factor, exp_avx512(x)), dispersion);
    }
    for (int j = 0; j < n; ++j) {
      evdw = _mm512_add_ps(evdw, _mm512_mul_ps(_mm512_set1_ps(eps[j]), diff[j]));
      const float qq = t.charge_1380[j] * q_i;  // (q(j) * 1380) * q(i)
      if (qq != 0.0f || !zero_terms_vanish) {
        estat = _mm512_add_ps(estat, _mm512_div_ps(_mm512_set1_ps(qq), r[j]));
      }
    }
  }
  _mm512_storeu_ps(evdw_out, evdw);
  _mm512_storeu_ps(estat_out, estat);
}

}  // namespace

ZELK8_LANES16 void map_lane_energies_avx512(const MapPairTables& t, const float* l, const float* sh,
                                            float* evdw, float* estat) {
  if (map_distances_in_range(t, l, sh, lanes)) {
    lane_energies<true>(t, l, sh, evdw, estat);
  } else {
    lane_energies<false>(t, l, sh, evdw, estat);
  }
}

}  // namespace zelk8::lane_detail

#endif  // ZELK8_MAP_LANES
