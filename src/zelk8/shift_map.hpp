// The stacking shift map: EvdW, Estat and Etot of the central molecule and a
// copy of itself lifted along VV and slid along VL and VS.
#pragma once

#include <array>
#include <vector>

#include "run_state.hpp"

namespace zelk8 {

// The grid: column shifts along VL and row shifts along VS, by the serial
// single-precision additions of the scan, with its end tests.
struct ShiftGrid {
  int columns = 0;
  int rows = 0;
  std::array<float, map_points> l_shift{};
  std::array<float, map_points> s_shift{};
};
ShiftGrid make_shift_grid(const RunState& s);

struct ShiftMap {
  ShiftGrid grid;
  // Energies at [row * map_points + column].
  std::vector<float> evdw, estat, etot;
  float min_evdw = 0, min_evdw_l = 0, min_evdw_s = 0;
  float min_etot = 0, min_etot_l = 0, min_etot_s = 0;
};

// The grid of the map record with its tables zeroed.
ShiftMap empty_shift_map(const RunState& s);

// Grid point by grid point with molecule_pair_energy: the plain path.
ShiftMap compute_shift_map_reference(const RunState& s);
// The same numbers, spread over threads and vector lanes. threads <= 0 means
// every CPU the process may use.
ShiftMap compute_shift_map(const RunState& s, int threads = 0);

// The minima in scan order; ties keep the first grid point.
void find_map_minima(ShiftMap& map);
void write_map_tables(const ShiftMap& map, std::string& report);

}  // namespace zelk8
