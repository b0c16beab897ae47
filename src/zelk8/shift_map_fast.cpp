// The shift map spread over the CPUs the process may use and over vector
// lanes. Grid points are independent; each is summed in the same pair order
// as the plain path, with the same single-precision operations, so the
// numbers are the same bit for bit.
//
// Lanes: a work item is eight grid points, one per lane of an AVX2
// register (map_lanes8.cpp), or sixteen in an AVX-512 one (map_lanes16.cpp),
// the widest the CPU runs, both through the one kernel of map_kernel.hpp; a tile of 4 columns by 2
// or 4 rows where the grid divides into such tiles, consecutive points in scan order elsewhere. All
// lanes step through the same pair sequence (central atom i outer, copy atom j inner) together;
// only the copy's shifts differ between lanes. Square root, division, addition and multiplication
// are correctly rounded in the vector unit exactly as in the scalar one, no product is fused into
// an addition and no sum is reordered. The one division taken off the divider, rho = r / r0, is
// formed from the reciprocal of r0 by a sequence proven to give the same correctly rounded quotient
// (reduced_distance in map_kernel.hpp). (When both operands of an addition are NaN, which one is
// passed on depends on the operand order the compiler picks, in either path; the report prints
// every NaN alike.)
//
// The exponential is the one part that is not a single instruction. The
// plain path calls std::exp on a float, which is the C library's expf; on
// x86-64 with AVX2 and FMA the library picks its FMA build of the
// table-driven algorithm:
//   k = round(x * 32 / ln 2), r = x * 32 / ln 2 - k      (both by FMA, in double)
//   2^(k/32) from a 32-entry table of 2^(i/32) with the exponent added,
//   2^(r/32) ~ 1 + C2 r + C1 r^2 + C0 r^3               (in double)
//   e^x = float(2^(k/32) * 2^(r/32))
// The kernel's exp does those double operations lane by lane (the table holds
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
// CPUs without AVX2 and FMA (where the library also takes its other build),
// and builds without the lane kernels (map_lanes.hpp), run the plain kernel
// per grid point, on the same threads.

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
#include "text.hpp"

namespace zelk8 {

namespace {

using namespace lane_detail;

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
  if (threads <= 0) threads = report::usable_cpu_count();
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
