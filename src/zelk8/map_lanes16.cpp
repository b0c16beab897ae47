// The sixteen-lane set of the map kernel (map_kernel.hpp): AVX-512 F, DQ and
// VL registers of sixteen floats, with masks where the eight-lane set
// compares lanes. The kernel's operations and their order are the same, so
// the sums carry the same bits.
//
// What AVX-512 changes besides the width: the exponential's 32-entry table
// lives in four registers and is looked up by two two-register permutations
// and a blend on bit 4 of the index, instead of one scalar load per lane.
#include "map_lanes.hpp"

#if ZELK8_MAP_LANES

// Every standard header the kernel uses comes before the target region, so
// that no inline function of theirs is compiled for AVX-512.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "map_exp_table.hpp"

// GCC 12's AVX-512 intrinsics start many results from a self-initialised
// "undefined" register, which its own -Wmaybe-uninitialized then reports
// at every use; nothing here reads an undefined value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma,avx512f,avx512dq,avx512vl"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma,avx512f,avx512dq,avx512vl")
#endif

#include "map_kernel.hpp"

namespace zelk8::lane_detail {

namespace {

struct Lanes16 {
  static constexpr int width = 16;
  static constexpr unsigned all = 0xFFFF;
  using F = __m512;
  using D = __m512d;
  using DI = __m512i;
  using Mask = __mmask16;

  static F set1(float x) { return _mm512_set1_ps(x); }
  static F load(const float* p) { return _mm512_loadu_ps(p); }
  static void store(float* p, F a) { _mm512_storeu_ps(p, a); }
  static F zero() { return _mm512_setzero_ps(); }
  static F add(F a, F b) { return _mm512_add_ps(a, b); }
  static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
  static F div(F a, F b) { return _mm512_div_ps(a, b); }
  static F sqrt(F a) { return _mm512_sqrt_ps(a); }
  static F max(F a, F b) { return _mm512_max_ps(a, b); }
  static F neg(F a) { return _mm512_xor_ps(a, _mm512_set1_ps(-0.0f)); }
  static F fmadd(F a, F b, F c) { return _mm512_fmadd_ps(a, b, c); }
  static F fnmadd(F a, F b, F c) { return _mm512_fnmadd_ps(a, b, c); }

  static Mask ge(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
  static Mask lt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  static Mask nle(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NLE_UQ); }
  static Mask outside(F r, float low, float high) {
    return _mm512_cmp_ps_mask(r, set1(low), _CMP_NGE_UQ) |
           _mm512_cmp_ps_mask(r, set1(high), _CMP_NLE_UQ);
  }
  static Mask not_positive(F r) { return _mm512_cmp_ps_mask(r, _mm512_setzero_ps(), _CMP_NGT_UQ); }
  static Mask no_lanes() { return 0; }
  static Mask mask_or(Mask a, Mask b) { return a | b; }
  static unsigned bits(Mask m) { return m; }
  static F zero_where(Mask m, F a) { return _mm512_maskz_mov_ps(static_cast<Mask>(~m), a); }
  static Mask bits_equal(F a, F b) {
    return _mm512_cmpeq_epi32_mask(_mm512_castps_si512(a), _mm512_castps_si512(b));
  }

  static F round_nearest(F a) {
    return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
  static F scale_by_power_of_two(F p, F k) {
    const __m512i scale = _mm512_slli_epi32(_mm512_cvtps_epi32(k), 23);
    return _mm512_castsi512_ps(_mm512_add_epi32(_mm512_castps_si512(p), scale));
  }

  static D lower_doubles(F x) { return _mm512_cvtps_pd(_mm512_castps512_ps256(x)); }
  static D upper_doubles(F x) { return _mm512_cvtps_pd(_mm512_extractf32x8_ps(x, 1)); }
  static F to_floats(D lo, D hi) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
  }
  static D d_set1(double x) { return _mm512_set1_pd(x); }
  static D d_fmadd(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
  static D d_fmsub(D a, D b, D c) { return _mm512_fmsub_pd(a, b, c); }
  static D d_sub(D a, D b) { return _mm512_sub_pd(a, b); }
  static D d_mul(D a, D b) { return _mm512_mul_pd(a, b); }
  static DI d_bits(D a) { return _mm512_castpd_si512(a); }
  static D d_from_bits(DI a) { return _mm512_castsi512_pd(a); }
  static DI di_add(DI a, DI b) { return _mm512_add_epi64(a, b); }
  static DI di_shift47(DI a) { return _mm512_slli_epi64(a, 47); }
  // Entry k mod 32: the permutations read bits 0-3 of each index, bit 4
  // picks the half of the table.
  static DI exp2_entries(DI k) {
    const auto* table = reinterpret_cast<const double*>(exp2_table);
    const __m512d t0 = _mm512_load_pd(table), t1 = _mm512_load_pd(table + 8);
    const __m512d t2 = _mm512_load_pd(table + 16), t3 = _mm512_load_pd(table + 24);
    const __m512d low_half = _mm512_permutex2var_pd(t0, k, t1);
    const __m512d high_half = _mm512_permutex2var_pd(t2, k, t3);
    const __mmask8 upper = _mm512_test_epi64_mask(k, _mm512_set1_epi64(16));
    return _mm512_castpd_si512(_mm512_mask_blend_pd(upper, low_half, high_half));
  }
};

}  // namespace

void map_lane_energies_avx512(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                              float* estat) {
  map_lane_energies<Lanes16>(t, l, sh, evdw, estat);
}

void exp_lanes_avx512(const float* x, float* out, std::size_t count) {
  exp_lanes<Lanes16>(x, out, count);
}

void repulsion_bounds_lanes_avx512(const float* x, float* low, float* high, std::size_t count) {
  repulsion_bounds_lanes<Lanes16>(x, low, high, count);
}

void reduced_distance_lanes_avx512(const float* r, float r0, float* rho, std::size_t count) {
  reduced_distance_lanes<Lanes16>(r, r0, rho, count);
}

}  // namespace zelk8::lane_detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // ZELK8_MAP_LANES
