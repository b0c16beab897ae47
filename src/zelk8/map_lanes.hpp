// The shift map's lane kernel: eight grid points summed side by side, one
// per vector lane, each lane doing exactly the operations of the plain path
// (molecule_pair_energy) in the same order, so every lane's sums carry the
// same bits.
#pragma once

#include <cstddef>
#include <vector>

#include "pair_energy.hpp"
#include "run_state.hpp"

namespace zelk8 {

constexpr int map_lanes = 8;

// From this reduced distance on, 184000 exp(-12 rho) is less than
// 2.25 / rho^6 times 2^-25 (at 3.0 the ratio is 1.4e-8, and it falls with
// rho), which is under half a unit in the last place of the dispersion:
// repulsion - dispersion rounds to -dispersion, the same float as
// 0 - dispersion. The kernel skips the exponential when all eight lanes are
// this far; the tests check the claim for every float rho from 3.0 up.
constexpr float map_far_rho = 3.0f;

// From this reduced distance up to map_far_rho, bounds on the repulsion
// from a short single-precision exponential settle repulsion - dispersion
// for most pairs; the library's exponential is taken when they do not.
constexpr float map_mid_rho = 2.0f;

// True when this CPU runs the lane kernel (AVX2 and FMA); otherwise the
// callers below do the work one value at a time with the plain code.
bool map_lanes_available();

// What the kernel needs of one run, laid out in pair order: central atom i
// pairs with copy atom j at [i * n + j]; eps and r0 of central element e
// with copy atom j at [(e - 1) * n + j]. Small enough to stay in the cache
// of one core for a 200-atom molecule.
struct MapPairTables {
  int n = 0;
  const float* frame_l = nullptr;
  const float* frame_s = nullptr;
  const int* element = nullptr;  // 1-based element indices
  const float* charge = nullptr;
  std::vector<float> dv2;          // dv * dv, dv = (frame_v(j) + map_height) - frame_v(i)
  std::vector<float> charge_1380;  // q(j) * 1380
  std::vector<float> eps;          // eps and r0 of the element pair (e, e(j))
  std::vector<float> r0;
};
MapPairTables make_map_pair_tables(const RunState& s, const PairTable& table);

// EvdW and Estat of the central molecule and the copy shifted by
// (l[k], sh[k]) for k = 0..7, the values molecule_pair_energy gives for
// each grid point. Needs map_lanes_available().
void map_lane_energies(const MapPairTables& t, const float* l, const float* sh, float* evdw,
                       float* estat);

// out[k] = std::exp(x[k]) of this machine's library for every k, eight
// values at a time where the lane kernel runs. Exposed so that the lane
// exponential can be checked against the library over every argument.
void exp_lanes(const float* x, float* out, std::size_t count);

// low[k] <= 184000 * std::exp(x[k]) <= high[k] for x[k] from
// -12 map_far_rho to -12 map_mid_rho: the kernel's repulsion bounds, eight
// values at a time (count a multiple of eight). Needs map_lanes_available().
void repulsion_bounds_lanes(const float* x, float* low, float* high, std::size_t count);

}  // namespace zelk8
