// The run sequence: one call per stage, in order, over one run state.
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "stages.hpp"

namespace zelk8 {

namespace {

// The files of a run and the report text not yet passed to "at8.dat".
struct RunFiles {
  explicit RunFiles(records::InputFile in) : input(std::move(in)) {}

  records::InputFile input;
  records::OutputFile report_file{"at8.dat"};
  std::optional<records::OutputFile> mopac;
  std::optional<records::OutputFile> coord;
  std::string report;
  std::string coord_text;

  void pass_report() {
    report_file.write_text(report);
    report.clear();
  }
  void pass_coord() {
    if (coord) coord->write_text(coord_text);
    coord_text.clear();
  }
  void close_all() {
    report_file.close();
    if (mopac) mopac->close();
    if (coord) coord->close();
  }
};

void run_stages(RunState& s, RunFiles& f, int map_threads) {
  read_molecule(s, f.input);
  read_cell(s, f.input, f.report);
  build_atom_table(s, f.report);
  build_transfer_matrix(s, f.report);
  count_heavy_atoms(s);
  f.pass_report();

  std::string mopac_text;
  write_mopac_header(mopac_text);
  f.mopac.emplace("mopac.dat");
  f.mopac->write_text(mopac_text);

  build_molecular_frame(s, f.report);
  build_frame_coordinates(s);
  f.pass_report();
  read_unit_list(s, f.input, f.report);
  assign_partial_charges(s);
  write_molecular_coordinates(s, f.report);
  f.pass_report();

  if (s.stack_unit != 0) {
    f.coord.emplace("coord.xyz");
    write_coord_header(s, f.coord_text);
  }
  write_unit_report(s, f.report, s.stack_unit != 0 ? &f.coord_text : nullptr);
  f.pass_report();
  f.pass_coord();
  if (s.stack_unit == 0) return;  // first stop

  read_map_record(s, f.input, f.report);
  f.pass_report();
  if (s.stack_unit > 40) {
    write_shift_scan(s, *f.coord, f.coord_text);  // second stop
  } else {
    write_shift_map(s, f.report, map_threads);  // first stop
    f.pass_report();
  }
}

}  // namespace

int run(int map_threads) {
  // The input is read whole before "at8.dat" is replaced: when it cannot be
  // opened, the report of the run before stays as it was.
  std::optional<records::InputFile> input;
  try {
    input.emplace("zelk8.dat");
  } catch (const records::ReadError& e) {
    std::fprintf(stderr, "zelk8: %s\n", e.what());
    return 2;
  }
  std::unique_ptr<RunFiles> files;
  try {
    files = std::make_unique<RunFiles>(std::move(*input));
    auto state = std::make_unique<RunState>();
    try {
      run_stages(*state, *files, map_threads);
    } catch (const records::ReadError& e) {
      // What the report holds so far stays in "at8.dat".
      files->pass_report();
      files->pass_coord();
      files->close_all();
      std::fprintf(stderr, "zelk8: %s\n", e.what());
      return 2;
    }
    files->close_all();
    return 0;
  } catch (const records::WriteError& e) {
    std::fprintf(stderr, "zelk8: %s\n", e.what());
    return 3;
  }
}

}  // namespace zelk8
