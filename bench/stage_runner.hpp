// Runs the stages of one run on an input held in memory, up to and including
// the map record, so that the map or the scan export can be timed or checked
// on their own. The report and coordinate text of the earlier stages are
// kept, for callers that compare whole files.
#pragma once

#include <memory>
#include <string>

#include "stages.hpp"

namespace zelk8_bench {

struct PreparedRun {
  std::unique_ptr<zelk8::RunState> state = std::make_unique<zelk8::RunState>();
  std::string report;  // "at8.dat" up to the height line
  std::string coord;   // "coord.xyz" before the map stage
};

// The stage sequence of zelk8::run() up to the map record; the input must
// name a stacking unit.
inline PreparedRun prepare_map(const std::string& input) {
  using namespace zelk8;
  PreparedRun p;
  RunState& s = *p.state;
  records::InputFile in("zelk8.dat", input);
  read_molecule(s, in);
  read_cell(s, in, p.report);
  build_atom_table(s, p.report);
  build_transfer_matrix(s, p.report);
  count_heavy_atoms(s);
  build_molecular_frame(s, p.report);
  build_frame_coordinates(s);
  read_unit_list(s, in, p.report);
  assign_partial_charges(s);
  write_molecular_coordinates(s, p.report);
  write_coord_header(s, p.coord);
  write_unit_report(s, p.report, &p.coord);
  read_map_record(s, in, p.report);
  return p;
}

}  // namespace zelk8_bench
