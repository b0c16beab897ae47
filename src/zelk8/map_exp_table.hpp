// Constants shared by the lane kernels: the exponential's table and
// coefficients (the C library's expf algorithm, see shift_map_fast.cpp), and
// the lane kernels of each instruction set, which shift_map_fast.cpp
// dispatches to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "map_lanes.hpp"

namespace zelk8::lane_detail {

// 2^(i/32) rounded to double, less i << 47, so that adding k << 47 to the
// bits of entry k mod 32 gives 2^(k/32) for any integer k in range.
alignas(64) inline constexpr std::uint64_t exp2_table[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51,
    0x3fef72b83c7d517b, 0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1,
    0x3fef06fe0a31b715, 0x3feef1a7373aa9cb, 0x3feedea64c123422, 0x3feece086061892d,
    0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429, 0x3feea47eb03a5585,
    0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d,
    0x3feee89f995ad3ad, 0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069,
    0x3fef5818dcfba487, 0x3fef7c97337b9b5f, 0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};
inline constexpr double inv_ln2_32 = 0x1.71547652b82fep+0 * 32;
inline constexpr double round_shift = 0x1.8p+52;  // adding it rounds to an integer in the low bits
inline constexpr double C0 = 0x1.c6af84b912394p-5 / 32 / 32 / 32;
inline constexpr double C1 = 0x1.ebfce50fac4f3p-3 / 32 / 32;
inline constexpr double C2 = 0x1.62e42ff0c52d6p-1 / 32;
// Below this the library's expf returns +0 (e^x < 2^-150).
inline constexpr float underflow_threshold = -0x1.9fe368p6f;

// The eight-lane kernel (map_lanes8.cpp); callable only where the CPU has
// AVX2 and FMA.
void map_lane_energies_avx2(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                            float* estat);
void exp_lanes_avx2(const float* x, float* out, std::size_t count);
void repulsion_bounds_lanes_avx2(const float* x, float* low, float* high, std::size_t count);
void reduced_distance_lanes_avx2(const float* r, float r0, float* rho, std::size_t count);

// The sixteen-lane kernel (map_lanes16.cpp); callable only where the CPU
// has AVX-512 F, DQ and VL.
void map_lane_energies_avx512(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                              float* estat);
void exp_lanes_avx512(const float* x, float* out, std::size_t count);
void repulsion_bounds_lanes_avx512(const float* x, float* low, float* high, std::size_t count);
void reduced_distance_lanes_avx512(const float* r, float r0, float* rho, std::size_t count);

}  // namespace zelk8::lane_detail
