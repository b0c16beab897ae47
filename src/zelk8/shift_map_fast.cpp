// The shift map spread over the CPUs the process may use. Grid points are
// independent; each is summed in the same pair order as the plain path, so
// the numbers are the same bit for bit.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "pair_energy.hpp"
#include "shift_map.hpp"

namespace zelk8 {

namespace {

int usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

}  // namespace

ShiftMap compute_shift_map(const RunState& s, int threads) {
  ShiftMap map;
  map.grid = make_shift_grid(s);
  map.evdw.assign(map_points * map_points, 0.0f);
  map.estat.assign(map_points * map_points, 0.0f);
  map.etot.assign(map_points * map_points, 0.0f);
  const PairTable table = make_pair_table(s);
  const int points = map.grid.rows * map.grid.columns;
  if (threads <= 0) threads = usable_cpus();
  threads = std::clamp(threads, 1, std::max(1, points));

  std::atomic<int> next{0};
  auto work = [&] {
    AtomArray<float> copy_l{}, copy_s{}, copy_v{};
    const MoleculeView central{s.frame_l.data(), s.frame_s.data(), s.frame_v.data(),
                               s.atom_element.data(), s.atom_charge.data(), s.atom_count};
    const MoleculeView copy{copy_l.data(), copy_s.data(), copy_v.data(), s.atom_element.data(),
                            s.atom_charge.data(), s.atom_count};
    for (int p; (p = next.fetch_add(1)) < points;) {
      const int iy = p / map.grid.columns, ix = p % map.grid.columns;
      const float l = map.grid.l_shift[ix], sh = map.grid.s_shift[iy];
      for (int k = 0; k < s.atom_count; ++k) {
        copy_l[k] = s.frame_l[k] + l;
        copy_s[k] = s.frame_s[k] + sh;
        copy_v[k] = s.frame_v[k] + s.map_height;
      }
      const MoleculeEnergy e = molecule_pair_energy(table, central, copy);
      const int at = iy * map_points + ix;
      map.evdw[at] = e.evdw;
      map.estat[at] = e.estat;
      map.etot[at] = e.etot;
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
