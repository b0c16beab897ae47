// The program as a library: one run on an input held in memory, with the
// texts the program writes and what its stages computed. The stages and their
// order are the executable's own (run.cpp), so the texts are byte for byte
// those of `zelk8` run in a folder holding the same zelk8.dat.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shift_map.hpp"
#include "stages.hpp"

namespace zelk8 {

// The central molecule in its frame, as the report prints it.
struct FrameResult {
  std::array<float, 3> centre_of_gravity{};  // Cartesian, Angstrom
  std::array<float, 3> axis_length{};        // the extents printed before VL, VS, VV
  std::array<float, 3> VL{}, VS{}, VV{};     // Cartesian directions
  std::vector<int> element;                  // per atom position, 1-based index
  std::vector<Text4> label, symbol;
  std::vector<float> l, s, v;  // frame coordinates
  std::vector<float> charge;   // partial charges
};

struct RunResult {
  // The exit status the program ends with (0, 2 after a read failure) and
  // its one-line diagnostic, empty after a complete run.
  int status = 0;
  std::string diagnostic;
  // The files as the program leaves them: "at8.dat" always (cut short after a
  // read failure); "mopac.dat" once the TRANSFER MATRIX is written;
  // "coord.xyz" only with a stacking unit.
  std::string at8;
  std::optional<std::string> mopac;
  std::optional<std::string> coord;

  // What the stages computed, as far as the run got.
  std::optional<FrameResult> frame;
  int stack_unit = 0;
  std::vector<PlacedUnit> units;
  std::optional<float> lattice_etot;
  std::optional<float> map_height;
  std::optional<ShiftMap> map;  // with a stacking unit from 1 to 40
};

// How far run_text goes: the whole run, or its stages up to the lattice sum
// of the units (the texts end there, as after a run with stacking unit 0:
// no map record, no map, no shift scan).
enum class RunStages { all, through_units };

// Runs the program on `input` (the text of a zelk8.dat). Never throws for
// bad input: a read failure is status 2 with the diagnostic the program
// prints (without its "zelk8: " prefix). `map_threads` as for run().
RunResult run_text(std::string_view input, int map_threads = 0, RunStages stages = RunStages::all);

// The stages of a run up to and including the map record, in memory, for a
// caller that times or checks the map or the scan stage on its own: the run
// state, and "at8.dat" up to the height line and "coord.xyz" before the map
// stage. The input must name a stacking unit; a read failure throws
// records::ReadError.
struct StagedRun {
  std::unique_ptr<RunState> state;
  std::string report;
  std::string coord;
};
StagedRun run_through_map_record(std::string_view input);

}  // namespace zelk8
