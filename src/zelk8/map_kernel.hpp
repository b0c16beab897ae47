// The shift map's lane kernel, written once over the lane width. A lane set V
// (map_lanes8.cpp: eight lanes of AVX2 and FMA; map_lanes16.cpp: sixteen of
// AVX-512) supplies the register types and one wrapper per operation; every
// operation and its order are stated here, so both widths round alike, lane
// for lane, and each lane as the plain path (molecule_pair_energy).
//
// Include this only after the standard headers, inside the file's target
// region (the wrappers and the kernel are compiled for the lane set's
// instruction set, and no inline function of a standard header may be).
//
// What V provides (F: a register of floats, D: of doubles, DI: of 64-bit
// integers, Mask: one flag per float lane):
//   width, all (the Mask bits of every lane)
//   set1 load store zero add sub mul div sqrt max neg fmadd fnmadd
//   ge (ordered >=), lt (ordered <), nle (not <=, or NaN), no_lanes, outside (r not in [low, high],
//   or NaN), not_positive (r <= 0 or NaN), mask_or, bits (a Mask as lane bits), zero_where (0 in
//   the lanes of a Mask), bits_equal, round_nearest, scale_by_power_of_two (adds k to the exponent
//   field), lower_doubles, upper_doubles, to_floats (two halves widened / narrowed), d_set1 d_fmadd
//   d_fmsub d_sub d_mul, d_bits d_from_bits, di_add di_shift47, exp2_entries (entry k mod 32 of
//   exp2_table per lane).
#pragma once

#include <cmath>
#include <cstddef>

#include "map_exp_table.hpp"
#include "map_lanes.hpp"

namespace zelk8::lane_detail {

// e^x of one half of the lanes widened to double, the result still to be
// rounded: the C library's expf algorithm (shift_map_fast.cpp).
//   k = round(x * 32 / ln 2), r = x * 32 / ln 2 - k      (both fused, in double)
//   2^(k/32) from the table with the exponent added,
//   2^(r/32) ~ 1 + C2 r + C1 r^2 + C0 r^3
template <class V>
inline typename V::D exp_double(typename V::D xd) {
  const auto shift = V::d_set1(round_shift);
  const auto scale = V::d_set1(inv_ln2_32);
  auto kd = V::d_fmadd(scale, xd, shift);
  const auto ki = V::d_bits(kd);
  kd = V::d_sub(kd, shift);
  const auto r = V::d_fmsub(scale, xd, kd);
  const auto t = V::di_add(V::exp2_entries(ki), V::di_shift47(ki));
  const auto s = V::d_from_bits(t);
  const auto z = V::d_fmadd(V::d_set1(C0), r, V::d_set1(C1));
  const auto r2 = V::d_mul(r, r);
  auto y = V::d_fmadd(V::d_set1(C2), r, V::d_set1(1.0));
  y = V::d_fmadd(z, r2, y);
  return V::d_mul(y, s);
}

// std::exp of every lane: +0 below the library's underflow threshold, and
// the library itself, lane by lane, for x > 0 and NaN.
template <class V>
inline typename V::F exp(typename V::F x) {
  auto e = V::to_floats(exp_double<V>(V::lower_doubles(x)), exp_double<V>(V::upper_doubles(x)));
  e = V::zero_where(V::lt(x, V::set1(underflow_threshold)), e);
  const auto other = V::bits(V::nle(x, V::zero()));  // not x <= 0
  if (other != 0) [[unlikely]] {
    alignas(64) float xs[V::width], es[V::width];
    V::store(xs, x);
    V::store(es, e);
    for (int k = 0; k < V::width; ++k) {
      if (other & (1u << k)) es[k] = std::exp(xs[k]);
    }
    e = V::load(es);
  }
  return e;
}

// Bounds low <= 184000 * std::exp(x) <= high on the float the plain path
// forms, for every float x from -12 map_far_rho to -12 map_mid_rho, from a
// short single-precision exponential: e^x = 2^k e^r with k = round(x / ln 2),
// r = x - k ln 2 in two steps, e^r by a polynomial of degree 7. Within that
// range it is within 2^-22.4 of the rounded repulsion; the bounds widen it by
// 2^-21 either way. The tests check the bounds for every float of the range.
// Since rounding is monotonic, low - d and high - d rounding to the same
// float means repulsion - d rounds to it too.
template <class V>
inline void repulsion_bounds(typename V::F x, typename V::F& low, typename V::F& high) {
  const auto k = V::round_nearest(V::mul(x, V::set1(1.44269504f)));
  // ln 2 = 0.693359375 - 2.12194440e-4, the first part exact in few bits
  auto r = V::fmadd(k, V::set1(-0.693359375f), x);
  r = V::fmadd(k, V::set1(2.12194440e-4f), r);
  auto p = V::set1(1.9875691500e-4f);
  p = V::fmadd(p, r, V::set1(1.3981999507e-3f));
  p = V::fmadd(p, r, V::set1(8.3334519073e-3f));
  p = V::fmadd(p, r, V::set1(4.1665795894e-2f));
  p = V::fmadd(p, r, V::set1(1.6666665459e-1f));
  p = V::fmadd(p, r, V::set1(5.0000001201e-1f));
  p = V::fmadd(p, V::mul(r, r), V::add(r, V::set1(1.0f)));
  const auto e = V::scale_by_power_of_two(p, k);
  const auto repulsion = V::mul(V::set1(184000.0f), e);
  low = V::mul(repulsion, V::set1(1.0f - 0x1p-21f));
  high = V::mul(repulsion, V::set1(1.0f + 0x1p-21f));
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
template <class V>
inline typename V::F reduced_distance(typename V::F r, typename V::F r0, typename V::F y) {
  const auto q0 = V::mul(r, y);
  const auto q1 = V::fmadd(V::fnmadd(q0, r0, r), y, q0);
  return V::fmadd(V::fnmadd(q1, r0, r), y, q1);
}

// The kernel: EvdW and Estat of V::width grid points, lane k the copy
// shifted by (l[k], sh[k]). With in_range (map_distances_in_range), no r
// needs checking against the quotient range.
template <class V, bool in_range>
inline void lane_energies(const MapPairTables& t, const float* l, const float* sh, float* evdw_out,
                          float* estat_out) {
  using F = typename V::F;
  using Mask = typename V::Mask;
  const int n = t.n;
  // The copy's coordinates, frame + shift rounded to float, per lane.
  F copy_l[atom_slots], copy_s[atom_slots];
  const F lane_l = V::load(l);
  const F lane_s = V::load(sh);
  for (int j = 0; j < n; ++j) {
    copy_l[j] = V::add(V::set1(t.frame_l[j]), lane_l);
    copy_s[j] = V::add(V::set1(t.frame_s[j]), lane_s);
  }
  const F twelve = V::set1(12.0f);
  const F repulsion_factor = V::set1(184000.0f);
  const F dispersion_factor = V::set1(2.25f);
  const F far = V::set1(map_far_rho);
  const F mid = V::set1(map_mid_rho);
  F evdw = V::zero();
  F estat = V::zero();
  // Each row of pairs in three passes, so that the long chain of one pair
  // (square root, divisions, exponential) does not hold up the next: the
  // distances, then the differences repulsion - dispersion, then the terms
  // summed in order.
  alignas(64) F r[atom_slots], rho[atom_slots], diff[atom_slots];
  for (int i = 0; i < n; ++i) {
    const F central_l = V::set1(t.frame_l[i]);
    const F central_s = V::set1(t.frame_s[i]);
    const float* dv2 = t.dv2.data() + i * n;
    const float* eps = t.eps.data() + (t.element[i] - 1) * n;
    const float* r0 = t.r0.data() + (t.element[i] - 1) * n;
    const float* r0_reciprocal = t.r0_reciprocal.data() + (t.element[i] - 1) * n;
    const float q_i = t.charge[i];
    Mask outside = V::no_lanes();  // lanes with some r of the row outside the range
    for (int j = 0; j < n; ++j) {
      const F dl = V::sub(copy_l[j], central_l);
      const F ds = V::sub(copy_s[j], central_s);
      r[j] = V::sqrt(V::add(V::add(V::mul(dl, dl), V::mul(ds, ds)), V::set1(dv2[j])));
      if constexpr (!in_range) {
        outside = V::mask_or(outside, V::outside(r[j], map_quotient_low, map_quotient_high));
      }
      rho[j] = reduced_distance<V>(r[j], V::set1(r0[j]), V::set1(r0_reciprocal[j]));
    }
    // Lanes with r = 0 or NaN somewhere in the row; such an r is outside the
    // quotient range too, so only rows with lanes outside it need the look.
    Mask not_positive = V::no_lanes();
    if (!in_range && (V::bits(outside) != 0 || !t.r0_in_quotient_range)) [[unlikely]] {
      for (int j = 0; j < n; ++j) {
        rho[j] = V::div(r[j], V::set1(r0[j]));
        not_positive = V::mask_or(not_positive, V::not_positive(r[j]));
      }
    }
    // A zero charge product over a positive r adds a zero to Estat, which
    // leaves the sum as it is (the sum starts at +0 and is never -0, since a
    // rounded sum is -0 only when both terms are). Such terms are skipped
    // unless some r of the row is 0 or NaN, where the term is NaN.
    const bool zero_terms_vanish = V::bits(not_positive) == 0;
    // The van der Waals difference repulsion - dispersion of each pair.
    for (int j = 0; j < n; ++j) {
      const F rho2 = V::mul(rho[j], rho[j]);
      const F rho4 = V::mul(rho2, rho2);
      const F rho6 = V::mul(rho2, rho4);
      const F dispersion = V::div(dispersion_factor, rho6);
      // Far pairs: the repulsion is below half a unit in the last place of
      // the dispersion, so repulsion - dispersion is -dispersion whether the
      // exponential is taken or replaced by 0 (see map_far_rho).
      const Mask far_lanes = V::ge(rho[j], far);
      if (V::bits(far_lanes) == V::all) {
        diff[j] = V::sub(V::zero(), dispersion);
        continue;
      }
      const F x = V::neg(V::mul(twelve, rho[j]));
      // Pairs between map_mid_rho and map_far_rho contact distances: the
      // rounded difference is settled by bounds on the repulsion when
      // both bounds round to the same float (see repulsion_bounds).
      if (V::bits(V::ge(rho[j], mid)) == V::all) {
        F low, high;
        repulsion_bounds<V>(V::max(x, V::set1(-12.0f * map_far_rho)), low, high);
        low = V::zero_where(far_lanes, low);
        high = V::zero_where(far_lanes, high);
        const F diff_low = V::sub(low, dispersion);
        const F diff_high = V::sub(high, dispersion);
        if (V::bits(V::bits_equal(diff_low, diff_high)) == V::all) {
          diff[j] = diff_low;
          continue;
        }
      }
      diff[j] = V::sub(V::mul(repulsion_factor, exp<V>(x)), dispersion);
    }
    for (int j = 0; j < n; ++j) {
      evdw = V::add(evdw, V::mul(V::set1(eps[j]), diff[j]));
      const float qq = t.charge_1380[j] * q_i;  // (q(j) * 1380) * q(i)
      if (qq != 0.0f || !zero_terms_vanish) {
        estat = V::add(estat, V::div(V::set1(qq), r[j]));
      }
    }
  }
  V::store(evdw_out, evdw);
  V::store(estat_out, estat);
}

// The entry points of one lane set, over arrays (counts a multiple of the
// width where so stated in map_lanes.hpp).
template <class V>
inline void map_lane_energies(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                              float* estat) {
  if (map_distances_in_range(t, l, sh, V::width)) {
    lane_energies<V, true>(t, l, sh, evdw, estat);
  } else {
    lane_energies<V, false>(t, l, sh, evdw, estat);
  }
}

template <class V>
inline void exp_lanes(const float* x, float* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + V::width <= count; k += V::width) V::store(out + k, exp<V>(V::load(x + k)));
  for (; k < count; ++k) out[k] = std::exp(x[k]);
}

template <class V>
inline void repulsion_bounds_lanes(const float* x, float* low, float* high, std::size_t count) {
  for (std::size_t k = 0; k + V::width <= count; k += V::width) {
    typename V::F lo, hi;
    repulsion_bounds<V>(V::load(x + k), lo, hi);
    V::store(low + k, lo);
    V::store(high + k, hi);
  }
}

template <class V>
inline void reduced_distance_lanes(const float* r, float r0, float* rho, std::size_t count) {
  const auto b = V::set1(r0), y = V::set1(1.0f / r0);
  const bool r0_inside = std::fabs(r0) >= map_quotient_low && std::fabs(r0) <= map_quotient_high;
  for (std::size_t k = 0; k + V::width <= count; k += V::width) {
    const auto a = V::load(r + k);
    const auto q = r0_inside && V::bits(V::outside(a, map_quotient_low, map_quotient_high)) == 0
                       ? reduced_distance<V>(a, b, y)
                       : V::div(a, b);
    V::store(rho + k, q);
  }
}

}  // namespace zelk8::lane_detail
