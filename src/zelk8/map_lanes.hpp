// The shift map's lane kernels: 8 or 16 grid points summed side by side, one
// per vector lane, each lane doing exactly the operations of the plain path
// (molecule_pair_energy) in the same order, so every lane's sums carry the
// same bits.
#pragma once

#include <cstddef>
#include <vector>

#include "pair_energy.hpp"
#include "run_state.hpp"

// The lane kernels are x86-64 code (AVX2 and FMA, AVX-512): they are built
// there unless the build sets ZELK8_MAP_LANES to 0, and nowhere else. Without
// them the plain path is the only one, on the same threads.
#ifndef ZELK8_MAP_LANES
#if defined(__x86_64__) || defined(_M_X64)
#define ZELK8_MAP_LANES 1
#else
#define ZELK8_MAP_LANES 0
#endif
#endif

namespace zelk8 {

// The ways through the map: the plain kernel per grid point, eight lanes
// (AVX2 and FMA), sixteen lanes (AVX-512 F, DQ and VL).
enum class MapPath { plain, lanes8, lanes16 };

constexpr int map_max_lanes = 16;

// Grid points per work item on the path: 1, 8 or 16.
int map_path_lanes(MapPath path);

// True when this CPU can run the path (plain always; the lane paths only in
// a build with the lane kernels).
bool map_path_supported(MapPath path);

// The path compute_shift_map takes: the widest this CPU runs, unless
// set_map_path chose another or the environment variable ZELK8_MAP_PATH
// names one ("plain", "8" or "16"); a path the CPU cannot run gives way to
// the widest narrower one it can. The numbers are the same on every path.
MapPath map_path();
void set_map_path(MapPath path);

// From this reduced distance on, 184000 exp(-12 rho) is less than
// 2.25 / rho^6 times 2^-25 (at 3.0 the ratio is 1.4e-8, and it falls with
// rho), which is under half a unit in the last place of the dispersion:
// repulsion - dispersion rounds to -dispersion, the same float as
// 0 - dispersion. The kernel skips the exponential when all lanes of a
// group are this far; the tests check the claim for every float rho from 3.0 up.
constexpr float map_far_rho = 3.0f;

// From this reduced distance up to map_far_rho, bounds on the repulsion
// from a short single-precision exponential settle repulsion - dispersion
// for most pairs; the library's exponential is taken when they do not.
constexpr float map_mid_rho = 2.0f;

// Distances and contact distances whose quotient r / r0 the kernels form by
// multiplying with the reciprocal of r0 and two fused corrections
// (reduced_distance_lanes); outside this range they divide.
constexpr float map_quotient_low = 0x1p-40f;
constexpr float map_quotient_high = 0x1p40f;

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
  std::vector<float> r0_reciprocal;  // 1 / r0, correctly rounded
  // Every r0 lies within the quotient range, so rho = r / r0 may be formed
  // from the reciprocal for every r in that range.
  bool r0_in_quotient_range = false;
  // The largest |frame_l| and |frame_s|, the least and largest dv * dv
  // (NaN when some value is NaN), for map_distances_in_range.
  float frame_l_max = 0, frame_s_max = 0, dv2_min = 0, dv2_max = 0;
};
MapPairTables make_map_pair_tables(const RunState& s, const PairTable& table);

// True when every distance r of the copy shifted by (l[k], sh[k]),
// k < count, lies in the quotient range, from bounds on the coordinates
// alone: r^2 = (dl^2 + ds^2) + dv^2 rounds to at least dv^2 >= 2^-80, and
// |dl|, |ds| <= 2^32 with dv^2 <= 2^76 keep it below 2^80. A lane kernel
// that knows this checks no r. False for NaN anywhere.
bool map_distances_in_range(const MapPairTables& t, const float* l, const float* sh, int count);

// EvdW and Estat of the central molecule and the copy shifted by
// (l[k], sh[k]) for k = 0 .. map_path_lanes(path) - 1, the values
// molecule_pair_energy gives for each grid point. The path must be a lane
// path this CPU supports.
void map_lane_energies(MapPath path, const MapPairTables& t, const float* l, const float* sh,
                       float* evdw, float* estat);

// out[k] = std::exp(x[k]) of this machine's library for every k, a group of
// lanes at a time on a lane path. Exposed so that the lane exponential can
// be checked against the library over every argument.
void exp_lanes(MapPath path, const float* x, float* out, std::size_t count);

// low[k] <= 184000 * std::exp(x[k]) <= high[k] for x[k] from
// -12 map_far_rho to -12 map_mid_rho: the kernel's repulsion bounds, a
// group of lanes at a time (count a multiple of the path's lanes).
void repulsion_bounds_lanes(MapPath path, const float* x, float* low, float* high,
                            std::size_t count);

// rho[k] = r[k] / r0 as the kernels form it: from the correctly rounded
// reciprocal where r[k] and r0 lie in the quotient range, by division
// elsewhere (count a multiple of the path's lanes).
void reduced_distance_lanes(MapPath path, const float* r, float r0, float* rho, std::size_t count);

}  // namespace zelk8
