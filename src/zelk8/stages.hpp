// The stages of one run, in the order the run sequence calls them. Each stage
// works on the run state; stages that write the report append to `report`,
// which the run sequence passes on to "at8.dat".
#pragma once

#include <string>
#include <vector>

#include "report_layout.hpp"
#include "run_state.hpp"

namespace zelk8 {

// atom_table.cpp: molecule size, atom list (and second set), element records.
void read_molecule(RunState& s, records::InputFile& in);
// atom list and element table with its "Sum" line
void build_atom_table(RunState& s, std::string& report);
// heavy_atom_count, after the TRANSFER MATRIX section
void count_heavy_atoms(RunState& s);
// NEL and NOBL factors of an element symbol, for four or more types
struct ValenceFactors {
  int nel;
  int nobl;
};
ValenceFactors valence_factors(const Text4& symbol);

// cell.cpp: cell record and line, transfer matrix, MOPAC header.
void read_cell(RunState& s, records::InputFile& in, std::string& report);
void build_transfer_matrix(RunState& s, std::string& report);
void write_mopac_header(std::string& mopac);
struct Cartesian {
  float x, y, z;
};
Cartesian to_cartesian(const RunState& s, float fx, float fy, float fz);

// molecular_frame.cpp: centre of gravity, orientation axes, frame coordinates.
void build_molecular_frame(RunState& s, std::string& report);
void build_frame_coordinates(RunState& s);
// Plain mean of the first `count` points (running sums in order, each divided
// by the count); not a number for no points.
std::array<float, 3> plain_mean(const float* x, const float* y, const float* z, int count);
// Sums over the first `count` points of the products of their offsets from
// `centre` (3 x 3, column-major, not divided by the count).
void second_moments(const float* x, const float* y, const float* z, int count,
                    const std::array<float, 3>& centre, std::array<float, 9>& m);

// unit_list.cpp: unit records, run-parameter record and its echo.
void read_unit_list(RunState& s, records::InputFile& in, std::string& report);

// partial_charges.cpp
void assign_partial_charges(RunState& s);

// molecular_coordinates.cpp: the Molecular Coordinates section and extents.
void write_molecular_coordinates(const RunState& s, std::string& report);

// coord_file.cpp: the count line and the central molecule of "coord.xyz".
void write_coord_header(const RunState& s, std::string& coord);
// Symbol of central-molecule position k (0-based) by element count; nullptr
// when no line is written for it.
const Text4* central_symbol(const RunState& s, int k);

// What the unit report computed for one unit, as it printed it (before
// rounding to the printed digits), with the unit's atoms in the central frame.
struct PlacedUnit {
  int number = 0;  // 1-based, in list order
  Text4 name{};
  bool second_set = false;  // the atoms are the second atom set's
  float shortest = 0, centre_distance = 0;
  std::array<float, 3> centre{};  // along VL, VS, VV
  float dihedral = 0;
  std::array<float, 12> operation{};
  float evdw = 0, estat = 0, etot = 0;
  std::vector<int> element;  // per atom position
  std::vector<float> l, s, v;
};

// unit_report.cpp: every unit's block and the lattice sum. Unit atom lines
// go to `coord` when `coord` is not null; each unit's results are appended to
// `placed` when it is not null.
void write_unit_report(RunState& s, std::string& report, std::string* coord,
                       std::vector<PlacedUnit>* placed = nullptr);
// Angle in degrees, folded to 0..90, between the central plane and a plane
// whose normal has component n_v along VV.
float dihedral_angle(float n_v);

// shift_map.cpp: map record and height line; the map tables.
void read_map_record(RunState& s, records::InputFile& in, std::string& report);
struct ShiftMap;
// `threads` as for compute_shift_map: 0 means every CPU the process may use.
// The computed map is moved to `computed` when it is not null.
void write_shift_map(const RunState& s, std::string& report, int threads = 0,
                     ShiftMap* computed = nullptr);

// Where a text output of the run goes: a file being written, or memory.
struct TextSink {
  records::OutputFile* file = nullptr;
  std::string* memory = nullptr;
  void write(std::string_view text) const {
    if (file != nullptr) file->write_text(text);
    if (memory != nullptr) memory->append(text);
  }
};

// shift_scan.cpp: the shifted geometries of the last unit, streamed to
// "coord.xyz" in pieces.
void write_shift_scan(const RunState& s, const TextSink& coord, std::string& coord_buffer);
inline void write_shift_scan(const RunState& s, records::OutputFile& coord,
                             std::string& coord_buffer) {
  write_shift_scan(s, TextSink{&coord, nullptr}, coord_buffer);
}

// run.cpp: the whole run in the working directory; returns the exit status.
// `map_threads` fixes the thread count of the shift map (0: every CPU the
// process may use); the tables are the same whatever it is. The program as a
// library, on an input in memory: program.hpp.
int run(int map_threads = 0);

}  // namespace zelk8
