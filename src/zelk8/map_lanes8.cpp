// The eight-lane set of the map kernel (map_kernel.hpp): AVX2 and FMA
// registers of eight floats, for CPUs that have them.
#include "map_lanes.hpp"

#if ZELK8_MAP_LANES

// Every standard header the kernel uses comes before the target region, so
// that no inline function of theirs is compiled for AVX2.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "map_exp_table.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

#include "map_kernel.hpp"

namespace zelk8::lane_detail {

namespace {

struct Lanes8 {
  static constexpr int width = 8;
  static constexpr unsigned all = 0xFF;
  using F = __m256;
  using D = __m256d;
  using DI = __m256i;
  using Mask = __m256;  // all bits set in the lanes it holds

  static F set1(float x) { return _mm256_set1_ps(x); }
  static F load(const float* p) { return _mm256_loadu_ps(p); }
  static void store(float* p, F a) { _mm256_storeu_ps(p, a); }
  static F zero() { return _mm256_setzero_ps(); }
  static F add(F a, F b) { return _mm256_add_ps(a, b); }
  static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F div(F a, F b) { return _mm256_div_ps(a, b); }
  static F sqrt(F a) { return _mm256_sqrt_ps(a); }
  static F max(F a, F b) { return _mm256_max_ps(a, b); }
  static F neg(F a) { return _mm256_xor_ps(a, _mm256_set1_ps(-0.0f)); }
  static F fmadd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); }
  static F fnmadd(F a, F b, F c) { return _mm256_fnmadd_ps(a, b, c); }

  static Mask ge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
  static Mask lt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static Mask nle(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NLE_UQ); }
  static Mask outside(F r, float low, float high) {
    return _mm256_or_ps(_mm256_cmp_ps(r, set1(low), _CMP_NGE_UQ),
                        _mm256_cmp_ps(r, set1(high), _CMP_NLE_UQ));
  }
  static Mask not_positive(F r) { return _mm256_cmp_ps(r, _mm256_setzero_ps(), _CMP_NGT_UQ); }
  static Mask no_lanes() { return _mm256_setzero_ps(); }
  static Mask mask_or(Mask a, Mask b) { return _mm256_or_ps(a, b); }
  static unsigned bits(Mask m) { return static_cast<unsigned>(_mm256_movemask_ps(m)); }
  static F zero_where(Mask m, F a) { return _mm256_andnot_ps(m, a); }
  static Mask bits_equal(F a, F b) {
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_castps_si256(a), _mm256_castps_si256(b)));
  }

  static F round_nearest(F a) {
    return _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
  static F scale_by_power_of_two(F p, F k) {
    const __m256i scale = _mm256_slli_epi32(_mm256_cvtps_epi32(k), 23);
    return _mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(p), scale));
  }

  static D lower_doubles(F x) { return _mm256_cvtps_pd(_mm256_castps256_ps128(x)); }
  static D upper_doubles(F x) { return _mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)); }
  static F to_floats(D lo, D hi) {
    return _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
  }
  static D d_set1(double x) { return _mm256_set1_pd(x); }
  static D d_fmadd(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
  static D d_fmsub(D a, D b, D c) { return _mm256_fmsub_pd(a, b, c); }
  static D d_sub(D a, D b) { return _mm256_sub_pd(a, b); }
  static D d_mul(D a, D b) { return _mm256_mul_pd(a, b); }
  static DI d_bits(D a) { return _mm256_castpd_si256(a); }
  static D d_from_bits(DI a) { return _mm256_castsi256_pd(a); }
  static DI di_add(DI a, DI b) { return _mm256_add_epi64(a, b); }
  static DI di_shift47(DI a) { return _mm256_slli_epi64(a, 47); }
  // Four scalar loads: quicker here than a gather instruction.
  static DI exp2_entries(DI k) {
    const __m256i index = _mm256_and_si256(k, _mm256_set1_epi64x(31));
    const __m128i index_lo = _mm256_castsi256_si128(index);
    const __m128i index_hi = _mm256_extracti128_si256(index, 1);
    const __m128i t01 = _mm_set_epi64x(exp2_table[_mm_extract_epi64(index_lo, 1)],
                                       exp2_table[_mm_cvtsi128_si64(index_lo)]);
    const __m128i t23 = _mm_set_epi64x(exp2_table[_mm_extract_epi64(index_hi, 1)],
                                       exp2_table[_mm_cvtsi128_si64(index_hi)]);
    return _mm256_set_m128i(t23, t01);
  }
};

}  // namespace

void map_lane_energies_avx2(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                            float* estat) {
  map_lane_energies<Lanes8>(t, l, sh, evdw, estat);
}

void exp_lanes_avx2(const float* x, float* out, std::size_t count) {
  exp_lanes<Lanes8>(x, out, count);
}

void repulsion_bounds_lanes_avx2(const float* x, float* low, float* high, std::size_t count) {
  repulsion_bounds_lanes<Lanes8>(x, low, high, count);
}

void reduced_distance_lanes_avx2(const float* r, float r0, float* rho, std::size_t count) {
  reduced_distance_lanes<Lanes8>(r, r0, rho, count);
}

}  // namespace zelk8::lane_detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // ZELK8_MAP_LANES
