// The run sequence: one call per stage, in order, over one run state. The
// same sequence writes the files of the working directory (the executable)
// or keeps the texts in memory (the library call of program.hpp).
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "errors.hpp"
#include "program.hpp"
#include "stages.hpp"

namespace zelk8 {

namespace {

// The outputs of a run and the report text not yet passed on. Each output is
// a file, opened at the point of the sequence where the program opens it, or,
// with `memory` set, a text of that result.
struct RunFiles {
  RunFiles(records::InputFile in, RunResult* keep) : input(std::move(in)), memory(keep) {
    if (memory == nullptr) report_file.emplace("at8.dat");
  }

  records::InputFile input;
  RunResult* memory;
  std::optional<records::OutputFile> report_file;
  std::optional<records::OutputFile> mopac_file;
  std::optional<records::OutputFile> coord_file;
  bool coord_open = false;
  std::string report;
  std::string coord_text;

  void pass_report() {
    if (memory != nullptr) {
      memory->at8 += report;
    } else {
      report_file->write_text(report);
    }
    report.clear();
  }
  void write_mopac(const std::string& text) {
    if (memory != nullptr) {
      memory->mopac = text;
    } else {
      mopac_file.emplace("mopac.dat");
      mopac_file->write_text(text);
    }
  }
  void open_coord() {
    coord_open = true;
    if (memory != nullptr) {
      memory->coord.emplace();
    } else {
      coord_file.emplace("coord.xyz");
    }
  }
  TextSink coord_sink() {
    if (memory != nullptr) return TextSink{nullptr, &*memory->coord};
    return TextSink{&*coord_file, nullptr};
  }
  void pass_coord() {
    if (coord_open) coord_sink().write(coord_text);
    coord_text.clear();
  }
  void close_all() {
    if (report_file) report_file->close();
    if (mopac_file) mopac_file->close();
    if (coord_file) coord_file->close();
  }
};

FrameResult frame_of(const RunState& s) {
  FrameResult f;
  f.centre_of_gravity = s.centre_of_gravity;
  f.axis_length = s.axis_length;
  f.VL = s.VL;
  f.VS = s.VS;
  f.VV = s.VV;
  const int n = s.atom_count;
  f.element.assign(s.atom_element.begin(), s.atom_element.begin() + n);
  f.label.assign(s.atom_label.begin(), s.atom_label.begin() + n);
  f.symbol.assign(s.atom_symbol.begin(), s.atom_symbol.begin() + n);
  f.l.assign(s.frame_l.begin(), s.frame_l.begin() + n);
  f.s.assign(s.frame_s.begin(), s.frame_s.begin() + n);
  f.v.assign(s.frame_v.begin(), s.frame_v.begin() + n);
  f.charge.assign(s.atom_charge.begin(), s.atom_charge.begin() + n);
  return f;
}

// How far run_stages goes: as RunStages, or through the map record only.
enum class Through { all, units, map_record };

void run_stages(RunState& s, RunFiles& f, int map_threads, Through stages) {
  RunResult* const keep = f.memory;
  read_molecule(s, f.input);
  read_cell(s, f.input, f.report);
  build_atom_table(s, f.report);
  build_transfer_matrix(s, f.report);
  count_heavy_atoms(s);
  f.pass_report();

  std::string mopac_text;
  write_mopac_header(mopac_text);
  f.write_mopac(mopac_text);

  build_molecular_frame(s, f.report);
  build_frame_coordinates(s);
  f.pass_report();
  read_unit_list(s, f.input, f.report);
  assign_partial_charges(s);
  write_molecular_coordinates(s, f.report);
  f.pass_report();
  if (keep != nullptr) {
    keep->frame = frame_of(s);
    keep->stack_unit = s.stack_unit;
  }

  if (s.stack_unit != 0) {
    f.open_coord();
    write_coord_header(s, f.coord_text);
  }
  write_unit_report(s, f.report, s.stack_unit != 0 ? &f.coord_text : nullptr,
                    keep != nullptr ? &keep->units : nullptr);
  if (keep != nullptr) keep->lattice_etot = s.lattice_etot;
  f.pass_report();
  f.pass_coord();
  if (s.stack_unit == 0) return;  // first stop
  if (stages == Through::units) return;

  read_map_record(s, f.input, f.report);
  if (keep != nullptr) keep->map_height = s.map_height;
  f.pass_report();
  if (stages == Through::map_record) return;
  if (s.stack_unit > 40) {
    write_shift_scan(s, f.coord_sink(), f.coord_text);  // second stop
  } else {
    ShiftMap* map = nullptr;
    if (keep != nullptr) map = &keep->map.emplace();
    write_shift_map(s, f.report, map_threads, map);  // first stop
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
    return report::exit_input;
  }
  std::unique_ptr<RunFiles> files;
  try {
    files = std::make_unique<RunFiles>(std::move(*input), nullptr);
    auto state = std::make_unique<RunState>();
    try {
      run_stages(*state, *files, map_threads, Through::all);
    } catch (const records::ReadError& e) {
      // What the report holds so far stays in "at8.dat".
      files->pass_report();
      files->pass_coord();
      files->close_all();
      std::fprintf(stderr, "zelk8: %s\n", e.what());
      return report::exit_input;
    }
    files->close_all();
    return report::exit_ok;
  } catch (const records::WriteError& e) {
    std::fprintf(stderr, "zelk8: %s\n", e.what());
    return report::exit_output;
  }
}

RunResult run_text(std::string_view input, int map_threads, RunStages stages) {
  RunResult result;
  RunFiles files(records::InputFile("zelk8.dat", std::string(input)), &result);
  auto state = std::make_unique<RunState>();
  try {
    run_stages(*state, files, map_threads,
               stages == RunStages::through_units ? Through::units : Through::all);
  } catch (const records::ReadError& e) {
    files.pass_report();
    files.pass_coord();
    result.status = report::exit_input;
    result.diagnostic = e.what();
  }
  return result;
}

StagedRun run_through_map_record(std::string_view input) {
  RunResult texts;
  RunFiles files(records::InputFile("zelk8.dat", std::string(input)), &texts);
  StagedRun run{std::make_unique<RunState>(), {}, {}};
  run_stages(*run.state, files, 0, Through::map_record);
  run.report = std::move(texts.at8);
  run.coord = texts.coord.value_or(std::string());
  return run;
}

}  // namespace zelk8
