#include "crystal_run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "contacts.hpp"
#include "crystal.hpp"
#include "hints.hpp"
#include "map_svg.hpp"
#include "prep.hpp"
#include "program.hpp"
#include "report.hpp"
#include "report_layout.hpp"
#include "text.hpp"
#include "write_whole.hpp"
#ifdef ZELK8_BATCH_PAGES
#include "coord_file.hpp"
#include "embedded.hpp"
#include "page.hpp"
#include "page_data.hpp"
#endif

namespace zelk8::batch {

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// FNV-1a, 64 bits: enough to tell an edited CIF from the one that was run.
std::string content_hash(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The signal that stopped the crystals, 0 while they may run.
std::atomic<int> stop_signal_number{0};

// A crystal folder under construction: OUT/.NAME.tmp-XXXXXX/NAME, so that
// the tools see the crystal's own folder name; renamed to OUT/NAME when
// complete.
class Folder {
 public:
  // Leftovers of an earlier, interrupted run of this crystal are removed first.
  Folder(const std::string& out, const std::string& name) {
    std::error_code error;
    const std::string prefix = "." + name + ".tmp-";
    for (const fs::directory_entry& entry : fs::directory_iterator(out, error)) {
      // Exactly the prefix and mkdtemp's six characters: not another crystal's.
      const std::string leaf = entry.path().filename().string();
      if (leaf.size() == prefix.size() + 6 && leaf.rfind(prefix, 0) == 0)
        fs::remove_all(entry.path(), error);
    }
    std::string pattern = (fs::path(out) / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("cannot make a folder in " + out + ": " + strerror(errno));
    outer_ = pattern;
    path_ = outer_ / name;
    if (!fs::create_directory(path_, error))
      throw std::runtime_error("cannot make the folder " + path_.string() + ": " + error.message());
    staged_.emplace(path_);
  }
  ~Folder() {
    std::error_code error;
    fs::remove_all(outer_, error);
  }
  const fs::path& path() const { return path_; }

  bool move_to(const fs::path& target) {
    if (::rename(path_.c_str(), target.c_str()) == 0) return true;
    if (errno == ENOTEMPTY || errno == EEXIST) {
      if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
        return true;
      // No exchange on this file system: move the old folder aside first.
      const fs::path aside = outer_ / ".old";
      if (::rename(target.c_str(), aside.c_str()) == 0 &&
          ::rename(path_.c_str(), target.c_str()) == 0)
        return true;
    }
    return false;
  }

  // Puts the folder in place of `target`, atomically where the file system
  // allows it (an exchange of the two names); what was there is removed with
  // the temporary folder.
  // Its files and entries are put on disk before the rename. The results
  // folder's entries (the renames) are synced once at the end of the batch:
  // a rename lost to a power cut leaves the temporary folder, which the next
  // run removes and redoes, never a part of a crystal.
  void publish(const fs::path& target) {
    staged_->sync();
    if (move_to(target)) return;
    throw std::runtime_error("cannot rename " + path_.string() + " to " + target.string() + ": " +
                             strerror(errno));
  }

 private:
  fs::path outer_;
  fs::path path_;
  std::optional<report::StagedFolder> staged_;
};

struct Step {
  std::string message;       // empty when the step succeeded
  bool interrupted = false;  // the batch was stopped meanwhile
};

Step stopped_step() { return {"", true}; }

// The file a run leaves, written into the crystal's folder.
void write_file(const fs::path& dir, const char* name, std::string_view text) {
  report::write_staged(dir / name, text);
}

// The program on `input`; its report read back as the companions read it.
Step run_program(const std::string& input, zelk8::RunResult& run, report::Report& report) {
  run = zelk8::run_text(input, 1);
  if (run.status != 0)
    return {"zelk8: " + run.diagnostic + " (status " + std::to_string(run.status) + ")"};
  try {
    std::istringstream text(run.at8);
    report = report::read_report(text, "at8.dat");
  } catch (const report::ReportError& error) {
    return {std::string("cannot read the report: ") + error.what()};
  }
  if (!report.complete) return {"the report ends early"};
  if (!report.lattice_etot || !report.lattice_etot->finite())
    return {"the report's Etot total is not a number"};
  return {};
}

// The crystal's options as zelk8-prep reads them, its CIF named first.
prep::Options prep_options(const std::string& cif, const std::vector<std::string>& options) {
  std::vector<std::string> args = {cif};
  args.insert(args.end(), options.begin(), options.end());
  return prep::parse_command_line(args).options;
}

// zelk8-prep's error line for what prep refused.
std::string prep_error(const std::string& cif, const std::exception& error) {
  if (dynamic_cast<const prep::PrepError*>(&error))
    return std::string("zelk8-prep: error: ") + error.what();
  // What the CIF library refuses that prep's own checks did not foresee.
  return "zelk8-prep: error: " + cif + ": " + error.what();
}

// The last real field (Fw.d) of a report layout: the unit block's ends with
// Etot, the lattice sum line has only the sum.
records::Edit last_real_field(std::string_view literal) {
  const records::Format format(literal);
  const records::Edit* last = nullptr;
  for (const records::Edit& edit : format.edits())
    if (edit.kind == records::Edit::Kind::F) last = &edit;
  return *last;
}
const records::Edit& layout_unit_etot() {
  static const records::Edit edit = last_real_field(records::report_layout::unit_block);
  return edit;
}
const records::Edit& layout_lattice_sum() {
  static const records::Edit edit = last_real_field(records::report_layout::lattice_sum);
  return edit;
}

// `value` as the report prints it in that field, read back as the report
// reader reads it.
report::Field as_printed(float value, const records::Edit& field) {
  std::string text;
  records::put_real(text, value, field.w, field.d);
  return report::parse_field(text);
}

// The lattice sum around one molecule by shells of units out to the
// radius: every molecule whose centroid lies within it, taken by zelk8
// itself, at most 20 per run.
struct ShellSum {
  double sum = 0.0;   // of Etot over the molecules, kJ/mol
  int molecules = 0;  // summed over
  std::string none;   // why there is no sum (not a failure), when set
};

// `molecule` 0: the one molecule of the asymmetric unit; 1 or 2: that one
// of two, whose neighbours of both kinds are summed.
Step shell_sum(const prep::Crystal& crystal, const prep::Options& options, const Settings& settings,
               int molecule, ShellSum& total) {
  auto where = [&](int shell) {
    return "lattice shell " + std::to_string(shell) +
           (molecule ? " of molecule " + std::to_string(molecule) : std::string()) + ": ";
  };
  prep::LatticeShells lattice;
  try {
    lattice = prep::lattice_shell_inputs(crystal, options, settings.lattice_radius, molecule);
  } catch (const std::exception& error) {
    return {where(1) + batch_words(prep_error(options.cif_path, error), PrepRun::lattice_shell)};
  }
  if (molecule && !lattice.second_written) {
    total.none =
        "no lattice energy: zelk8-prep writes only one of the asymmetric unit's two "
        "molecules (they differ in composition or bonds, or are too large together)";
    return {};
  }
  int shell = 0;
  for (const prep::LatticeShell& input : lattice.shells) {
    ++shell;
    if (crystals_stopped()) return stopped_step();
    // The program's own results, not its report read back: a shell's report
    // is never kept.
    const zelk8::RunResult run = zelk8::run_text(input.input, 1, zelk8::RunStages::through_units);
    if (run.status != 0)
      return {where(shell) + "zelk8: " + run.diagnostic + " (status " + std::to_string(run.status) +
              ")"};
    if (!run.lattice_etot) return {where(shell) + "the report ends early"};
    if (input.ranks.size() != run.units.size())
      return {where(shell) + "zelk8-prep lists " + std::to_string(input.ranks.size()) +
              " units, the report " + std::to_string(run.units.size())};
    // A unit ranked at most `skip` is the second molecule's marker, written
    // again only to place that molecule's images: summed in an earlier shell.
    // The sums are of the energies as the report prints them.
    const report::Field lattice_sum = as_printed(*run.lattice_etot, layout_lattice_sum());
    if (!lattice_sum.finite()) return {where(shell) + "the report's Etot total is not a number"};
    double sum = *lattice_sum.value;
    for (size_t k = 0; k < input.ranks.size(); ++k) {
      if (input.ranks[k] > input.skip) {
        ++total.molecules;
        continue;
      }
      const report::Field etot = as_printed(run.units[k].etot, layout_unit_etot());
      if (!etot.finite())
        return {where(shell) + "unit " +
                std::string(report::trim(records::view(run.units[k].name))) + " has Etot " +
                etot.text};
      sum -= *etot.value;
    }
    total.sum += sum;
  }
  if (total.molecules != lattice.within)
    return {"the lattice shells hold " + std::to_string(total.molecules) + " molecules of the " +
            std::to_string(lattice.within) + " within " + fixed(settings.lattice_radius, 1) + " A"};
  return {};
}

struct Lattice {
  std::optional<double> energy;  // kJ/mol
  int molecules = 0;
  std::string none;  // why there is no lattice energy
};

// One molecule in the asymmetric unit: half its lattice sum. Two: the mean
// of the two molecules' halves, each over the molecules of both kinds.
Step lattice_energy(const prep::Crystal& crystal, const prep::Options& options,
                    const Settings& settings, int in_asymmetric_unit, Lattice& lattice) {
  if (in_asymmetric_unit < 1 || in_asymmetric_unit > 2) {
    lattice.none =
        "no lattice energy: it needs one or two molecules in the asymmetric unit, the "
        "CIF has " +
        std::to_string(in_asymmetric_unit);
    return {};
  }
  double energy = 0.0;
  for (int molecule = in_asymmetric_unit == 1 ? 0 : 1;
       molecule <= (in_asymmetric_unit == 1 ? 0 : 2); ++molecule) {
    ShellSum shells;
    Step step = shell_sum(crystal, options, settings, molecule, shells);
    if (step.interrupted || !step.message.empty()) return step;
    if (!shells.none.empty()) {
      lattice.none = shells.none;
      return {};
    }
    energy += 0.5 * shells.sum / in_asymmetric_unit;
    lattice.molecules += shells.molecules;
  }
  lattice.energy = energy;
  return {};
}

#ifdef ZELK8_BATCH_PAGES
// The crystal's page, as zelk8-view makes it in the crystal's folder, but
// referring to the batch's copy of the viewer library.
Step write_page(const fs::path& dir, const std::string& name, const zelk8::RunResult& run,
                const report::Report& report, const std::string& prep_json,
                const std::string& lattice_json,
                const std::optional<report::MapContacts>& contacts) {
  view::PageSource source;
  source.crystal = name;
  source.report_name = "./at8.dat";
  if (run.coord) {
    std::istringstream coord(*run.coord);
    source.neighbours = view::read_neighbours(coord, report.coordinates.size(), report.units.size(),
                                              report.elements.rows.size() >= 2);
  }
  source.prep = nlohmann::json::parse(prep_json);
  source.lattice = nlohmann::json::parse(lattice_json);
  source.cif_accepted = true;
  source.contacts = contacts;
  try {
    const nlohmann::json data = view::page_data(report, source);
    write_file(dir, "report.html",
               view::render_page(data, std::string("../") + viewer_library_name));
  } catch (const view::PageDataError& error) {
    return {"zelk8-view: at8.dat: " + std::string(error.what())};
  }
  return {};
}
#endif

std::string signed_fixed(double value, int decimals) {
  std::string text = fixed(value, decimals);
  if (report::number_of<double>(text) == 0.0) text = fixed(0.0, decimals);
  return text;
}

// A number as %g writes it: 25, 12.5.
std::string fixed_trimmed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The map's minima over the grid points where no two atoms overlap, as the
// report printed their energies and shifts; empty when no such point is
// below zero. Overlap points and a printed minimum that is one are noted.
void map_minima(const report::Report& report, const report::MapContacts& contacts, Row& row,
                std::vector<std::string>& warnings) {
  const report::ShiftMap& map = *report.map;
  struct Minimum {
    const report::MapTable& table;
    const report::MapMinimum& printed;
    std::string column;
  };
  const Minimum minima[] = {{map.evdw, map.evdw_minimum, "map_min_evdw"},
                            {map.etot, map.etot_minimum, "map_min_etot"}};
  if (!contacts.checked) {
    // Nothing to tell overlap points by: the minima as printed, and why.
    for (const Minimum& minimum : minima) {
      row[minimum.column] = minimum.printed.energy.text;
      row[minimum.column + "_l"] = minimum.printed.l.text;
      row[minimum.column + "_s"] = minimum.printed.s.text;
    }
    warnings.push_back("the map minima are as printed, overlap points not excluded: " +
                       contacts.note);
    return;
  }
  row["map_overlap_points"] = static_cast<long long>(contacts.overlap_points);
  for (const Minimum& minimum : minima) {
    const auto low = report::lowest_clear_point(minimum.table, contacts);
    if (low) {
      row[minimum.column] = minimum.table.cells[low->row][low->column].text;
      row[minimum.column + "_l"] = minimum.table.l_shifts[low->column].text;
      row[minimum.column + "_s"] = minimum.table.s_shifts[low->row].text;
    }
    if (report::printed_minimum_is_overlap(minimum.printed, minimum.table, contacts))
      warnings.push_back(
          "the report's lowest " + minimum.table.name + " (" + minimum.printed.energy.text +
          " at VL " + minimum.printed.l.text + ", VS " + minimum.printed.s.text +
          ") is an overlap point, where atoms come closer than the exp-6 "
          "maximum; " +
          (low ? minimum.column + " is the lowest of the other points"
               : "no other point is below zero, so " + minimum.column + " is empty"));
  }
}

}  // namespace

nlohmann::json input_fingerprint(const Crystal& crystal, const Settings& settings) {
  std::vector<std::string> options = settings.prep_options;
  options.insert(options.end(), crystal.options.begin(), crystal.options.end());
  // A row of an earlier layout lacks columns: such a crystal is run again.
  return {{"cif_content", content_hash(read_text(crystal.cif))},
          {"prep_options", options},
          {"lattice_radius", settings.lattice_radius},
          {"row_layout", row_layout}};
}

std::string options_text(const std::vector<std::string>& options) {
  std::string text;
  for (const std::string& word : options) {
    if (!text.empty()) text += ' ';
    if (!word.empty() && word.find_first_of(" \t'\"") == std::string::npos) {
      text += word;
    } else if (word.find('\'') == std::string::npos) {
      text += "'" + word + "'";
    } else {
      text += '"' + word + '"';
    }
  }
  return text;
}

std::string option_value(const std::vector<std::string>& options, const std::string& name) {
  std::string value;
  for (size_t k = 0; k < options.size(); ++k) {
    if (options[k] == name && k + 1 < options.size())
      value = options[k + 1];
    else if (options[k].rfind(name + "=", 0) == 0)
      value = options[k].substr(name.size() + 1);
  }
  return value;
}

std::optional<Row> read_finished_row(const std::string& folder) {
  const fs::path path = fs::path(folder) / "result.json";
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  try {
    nlohmann::json result = nlohmann::json::parse(read_text(path));
    if (!result.contains("summary") || !result["summary"].is_object()) return std::nullopt;
    return Row::from_json(result["summary"]);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

void stop_all_crystals(int signal) { stop_signal_number = signal; }
bool crystals_stopped() { return stop_signal_number != 0; }
int stop_signal() { return stop_signal_number; }
void allow_crystals() { stop_signal_number = 0; }

std::string running_marker(const std::string& out, const std::string& name) {
  return (fs::path(out) / ("." + name + ".running")).string();
}

void write_viewer_library(const std::string& out) {
#ifdef ZELK8_BATCH_PAGES
  const fs::path path = fs::path(out) / viewer_library_name;
  std::error_code error;
  if (fs::file_size(path, error) == view::threedmol_js.size() &&
      read_text(path) == view::threedmol_js)
    return;
  report::write_whole(path, view::threedmol_js);
#else
  (void)out;
#endif
}

namespace {

// Marks a crystal in progress for as long as it lives: a marker that
// outlives its batch tells the next one that this crystal stopped it. Only
// its name counts, and it is not synced: it must outlive a crashed process,
// which the page cache does, but not a power cut, after which the crystals
// then in progress are run again rather than blamed.
class RunningMarker {
 public:
  explicit RunningMarker(std::string path) : path_(std::move(path)) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
      throw report::OutputError("cannot write " + path_ + ": " + report::file_error_reason(errno));
    const std::string pid = std::to_string(getpid()) + "\n";
    const bool written = ::write(fd, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
    const int error = written ? 0 : errno;
    ::close(fd);
    if (!written) {
      ::unlink(path_.c_str());
      throw report::OutputError("cannot write " + path_ + ": " + report::file_error_reason(error));
    }
  }
  ~RunningMarker() { ::unlink(path_.c_str()); }
  RunningMarker(const RunningMarker&) = delete;
  RunningMarker& operator=(const RunningMarker&) = delete;

 private:
  std::string path_;
};

}  // namespace

CrystalOutcome process_crystal(const Crystal& crystal, const Settings& settings) {
  const auto start = std::chrono::steady_clock::now();
  const fs::path target = fs::path(settings.out) / crystal.name;
  const std::string cif_text = read_text(crystal.cif);
  const nlohmann::json inputs = input_fingerprint(crystal, settings);
  CrystalOutcome outcome;
  if (!settings.force) {
    try {
      nlohmann::json old = nlohmann::json::parse(read_text(target / "result.json"));
      if (old.value("inputs", nlohmann::json()) == inputs && old.contains("summary") &&
          old["summary"].value("status", "") == "ok") {
        outcome.row = Row::from_json(old["summary"]);
        outcome.skipped = true;
        return outcome;
      }
    } catch (const nlohmann::json::exception&) {
      // No earlier result, or one that cannot be read: run the crystal.
    }
  }
  const std::string marker_path = running_marker(settings.out, crystal.name);
  std::error_code exists_error;
  if (fs::exists(marker_path, exists_error)) {
    if (!settings.force) {
      outcome.row = empty_row(crystal.name);
      outcome.row["status"] = "run_failed";
      outcome.row["message"] =
          "the batch stopped while this crystal ran (it may have ended the batch: a crash, or a "
          "kill); --force retries it";
      return outcome;
    }
  }
  const RunningMarker running(marker_path);

  Folder folder(settings.out, crystal.name);
  const fs::path& dir = folder.path();
  Row row = empty_row(crystal.name);
  nlohmann::json result = {{"name", crystal.name}, {"inputs", inputs}};
  std::vector<std::string> options = settings.prep_options;
  options.insert(options.end(), crystal.options.begin(), crystal.options.end());

  auto finish = [&](const std::string& status, const std::string& message) {
    row["status"] = status;
    if (!message.empty()) row["message"] = message;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    row["seconds"] = fixed(seconds, 1);
    result["summary"] = row.to_json();
    try {
      write_file(dir, "result.json", result.dump(1) + "\n");
      folder.publish(target);
    } catch (const std::runtime_error& error) {
      // Nothing is kept; the row still says what went wrong first.
      throw std::runtime_error(message.empty() ? error.what() : message + "; " + error.what());
    }
    outcome.row = row;
    return outcome;
  };
  auto stopped = [&]() {
    outcome.interrupted = true;
    return outcome;
  };

  row["lattice_radius"] = fixed_trimmed(settings.lattice_radius);
  row["prep_options"] = options_text(options);
  row["charges"] = option_value(options, "--charges");
  row["cutoff"] = option_value(options, "--cutoff");

  // The CIF is read once: the crystal's own input and every lattice shell
  // are made from it.
  prep::Options prep_settings;
  std::optional<prep::Crystal> parsed;
  prep::Prepared prepared;
  try {
    prep_settings = prep_options(crystal.cif, options);
    parsed = prep::read_crystal_text(cif_text, crystal.cif, prep_settings.block);
    prepared = prep::prepare(*parsed, prep_settings);
  } catch (const std::exception& error) {
    const std::string line = prep_error(crystal.cif, error);
    write_file(dir, "prep.log", line + "\n");
    return finish("prep_failed", batch_words(line));
  }
  {
    std::string log = prepared.summary_text;
    for (const std::string& text : prepared.warnings) log += "zelk8-prep: warning: " + text + "\n";
    write_file(dir, "prep.log", log);
  }
  write_file(dir, "zelk8.dat", prepared.input);
  const std::string prep_text = prepared.json();
  const nlohmann::json prep = nlohmann::json::parse(prep_text);
  const prep::Summary& summary = prepared.summary;
  result["prep"] = prep;
  write_file(dir, "prep.json", prep.dump(2) + "\n");
  row["formula"] = summary.formula;
  row["space_group"] = summary.space_group.value_or("");
  row["atoms"] = static_cast<long long>(summary.atoms);
  row["element_types"] = static_cast<long long>(summary.element_types);
  row["model"] = summary.model;  // the parameter model prep wrote
  row["hbond_units"] = static_cast<long long>(summary.hbond_units.size());
  row["cutoff"] = fixed_trimmed(summary.unit_cutoff);
  const double net_charge = summary.net_charge;
  row["net_charge"] = signed_fixed(net_charge, 4);
  std::vector<std::string> warnings;
  for (const std::string& text : summary.warnings) warnings.push_back(batch_words(text));
  auto set_warnings = [&] { row["warnings"] = grouped(warnings); };
  set_warnings();

  if (crystals_stopped()) return stopped();
  zelk8::RunResult run;
  report::Report report;
  Step step = run_program(prepared.input, run, report);
  write_file(dir, "at8.dat", run.at8);
  if (run.mopac) write_file(dir, "mopac.dat", *run.mopac);
  if (run.coord) write_file(dir, "coord.xyz", *run.coord);
  if (!step.message.empty()) return finish("run_failed", step.message);
  row["units"] = static_cast<long long>(report.units.size());
  row["etot_units"] = report.lattice_etot->text;
  row["stack_unit"] = report.run_parameters.stack_unit.text;
  {
    // As --charges takes them: 0.1,-0.4,-0.3,0.
    const report::RunParameters& run_parameters = report.run_parameters;
    std::string charges;
    for (const report::Field* field : {&run_parameters.charge_h, &run_parameters.charge_1,
                                       &run_parameters.charge_2, &run_parameters.charge_3})
      charges += (charges.empty() ? "" : ",") +
                 (field->finite() ? fixed_trimmed(*field->value) : field->text);
    row["charges"] = charges;
  }
  if (const report::Unit* unit = report.stacking_unit()) row["stack_etot"] = unit->etot.text;
  // Found once for the summary's minima, the picture and the page.
  std::optional<report::MapContacts> contacts;
  if (report.map) {
    contacts = report::map_contacts(report);
    map_minima(report, *contacts, row, warnings);
    set_warnings();
    try {
      write_file(dir, "map.svg",
                 map::render_svg(map::stack_map_of(report, *contacts), {std::nullopt, "at8.dat"}));
    } catch (const map::NoMap& error) {
      return finish("run_failed", std::string("zelk8-map: ") + error.what());
    }
  }

  Lattice lattice;
  if (settings.lattice_radius <= 0.0) {
    lattice.none = "no lattice energy: --lattice-radius 0";
  } else if (std::fabs(net_charge) > neutral_charge_max) {
    lattice.none = "no lattice energy: the molecule's net charge is " +
                   signed_fixed(net_charge, 4) +
                   " e, and its electrostatic lattice sum does not converge; give charge "
                   "increments that add up to zero with --charges (or in the manifest's options "
                   "column)";
  } else {
    step = lattice_energy(*parsed, prep_settings, settings, summary.molecules_in_asymmetric_unit,
                          lattice);
    if (step.interrupted) return stopped();
    if (!step.message.empty()) return finish("run_failed", step.message);
  }
  if (lattice.energy) {
    row["lattice_energy"] = fixed(*lattice.energy, 5);
    row["lattice_molecules"] = static_cast<long long>(lattice.molecules);
  }
  // --lattice-radius 0 asks for no lattice energy: nothing to explain. A
  // lattice energy at or above zero is a number the model gives, not a bound
  // crystal: the message says so, and why when hydrogen bonds are the likely cause.
  std::string message = settings.lattice_radius > 0.0 ? lattice.none : "";
  if (lattice.energy && *lattice.energy >= 0.0) {
    const std::string bonded = std::to_string(summary.hbond_units.size());
    message = "the lattice energy is not negative: the crystal is not bound in this model";
    if (bonded != "0") {
      message += "; its " + bonded +
                 " hydrogen-bonded units sit on the repulsive wall (the model has no "
                 "hydrogen-bond term)";
    }
  }
  nlohmann::ordered_json lattice_json;
  lattice_json["lattice_energy"] =
      lattice.energy ? nlohmann::ordered_json(*report::number_of<double>(fixed(*lattice.energy, 5)))
                     : nlohmann::ordered_json(nullptr);
  lattice_json["molecules"] = lattice.molecules;
  lattice_json["radius"] = settings.lattice_radius;
  lattice_json["net_charge"] = net_charge;
  lattice_json["message"] = lattice.none;
  const std::string lattice_text = lattice_json.dump(2) + "\n";
  write_file(dir, "lattice.json", lattice_text);
  result["lattice"] = lattice_json;

  // A page needs at least one unit to draw.
#ifdef ZELK8_BATCH_PAGES
  if (settings.pages && !report.units.empty()) {
    if (crystals_stopped()) return stopped();
    step = write_page(dir, crystal.name, run, report, prep_text, lattice_text, contacts);
    if (!step.message.empty()) return finish("run_failed", step.message);
  }
#endif
  return finish("ok", message);
}

}  // namespace zelk8::batch
