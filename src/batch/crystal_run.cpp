#include "crystal_run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "contacts.hpp"
#include "hints.hpp"
#include "process.hpp"
#include "report.hpp"

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

std::string json_text(const nlohmann::json& json, const char* key) {
  auto found = json.find(key);
  if (found == json.end() || found->is_null()) return "";
  if (found->is_string()) return found->get<std::string>();
  if (found->is_array()) {
    std::string joined;
    for (const nlohmann::json& item : *found)
      joined +=
          (joined.empty() ? "" : " ") + (item.is_string() ? item.get<std::string>() : item.dump());
    return joined;
  }
  return found->dump();
}

// How a program ended, for a message; empty when it exited with status 0.
std::string failure(const std::string& tool, const Outcome& outcome, const std::string& log) {
  if (!outcome.error.empty()) return tool + ": " + outcome.error;
  std::string why;
  if (outcome.signal)
    why = tool + " was ended by signal " + std::to_string(outcome.signal) + " (" +
          strsignal(outcome.signal) + ")";
  else if (outcome.status != 0)
    why = tool + " exited with status " + std::to_string(outcome.status);
  else
    return "";
  const std::string text = diagnostic(log);
  return text.empty() ? why : why + ": " + text;
}

bool interrupted(const Outcome& outcome) {
  return commands_stopped() && (outcome.signal || !outcome.error.empty() || outcome.status != 0);
}

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
  }
  ~Folder() {
    std::error_code error;
    fs::remove_all(outer_, error);
  }
  const fs::path& path() const { return path_; }
  // Puts the folder in place of `target`, atomically where the file system
  // allows it (an exchange of the two names); what was there is removed with
  // the temporary folder.
  void publish(const fs::path& target) {
    if (::rename(path_.c_str(), target.c_str()) == 0) return;
    if (errno == ENOTEMPTY || errno == EEXIST) {
      if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
        return;
      // No exchange on this file system: move the old folder aside first.
      const fs::path aside = outer_ / ".old";
      if (::rename(target.c_str(), aside.c_str()) == 0 &&
          ::rename(path_.c_str(), target.c_str()) == 0)
        return;
    }
    throw std::runtime_error("cannot rename " + path_.string() + " to " + target.string() + ": " +
                             strerror(errno));
  }

 private:
  fs::path outer_;
  fs::path path_;
};

struct Step {
  std::string message;       // empty when the step succeeded
  bool interrupted = false;  // the batch was stopped meanwhile
};

// One zelk8 run in `dir` (prepared zelk8.dat there), its report read back.
Step run_zelk8(const Tools& tools, const fs::path& dir, const std::vector<int>& cpus,
               report::Report& report) {
  Command command;
  command.argv = {tools.zelk8};
  command.directory = dir.string();
  command.stderr_path = (dir / ".zelk8.err").string();
  command.cpus = cpus;
  const Outcome outcome = run_command(command);
  const std::string log = read_text(command.stderr_path);
  fs::remove(command.stderr_path);
  if (interrupted(outcome)) return {"", true};
  if (std::string why = failure("zelk8", outcome, log); !why.empty()) return {why};
  try {
    report = report::read_report_file(dir / "at8.dat");
  } catch (const report::ReportError& error) {
    return {std::string("cannot read the report: ") + error.what()};
  }
  if (!report.complete) return {"the report ends early"};
  if (!report.lattice_etot || !report.lattice_etot->finite())
    return {"the report's Etot total is not a number"};
  return {};
}

// zelk8-prep for `cif` with `options`; writes DIR/zelk8.dat and reads its
// JSON summary into `summary`. Its error output goes to `log`.
Step run_prep(const Tools& tools, const std::string& cif, const std::vector<std::string>& options,
              const fs::path& dir, const fs::path& log, const std::vector<int>& cpus,
              nlohmann::json& summary) {
  Command command;
  command.argv = {tools.prep, cif};
  command.argv.insert(command.argv.end(), options.begin(), options.end());
  const fs::path json = dir / ".prep.json";
  for (const std::string& arg :
       {std::string("-o"), (dir / "zelk8.dat").string(), std::string("--json"), json.string()})
    command.argv.push_back(arg);
  command.stderr_path = log.string();
  command.cpus = cpus;
  const Outcome outcome = run_command(command);
  if (interrupted(outcome)) return {"", true};
  if (std::string why = failure("zelk8-prep", outcome, read_text(log)); !why.empty()) {
    // The tool's own diagnostic is the message; the exit status adds nothing.
    const std::string text = diagnostic(read_text(log));
    return {outcome.status == 2 && !text.empty() ? text : why};
  }
  try {
    summary = nlohmann::json::parse(read_text(json));
  } catch (const nlohmann::json::exception& error) {
    return {"zelk8-prep wrote an unreadable summary: " + std::string(error.what())};
  }
  fs::remove(json);
  return {};
}

// Runs `argv` (a companion that draws or pages) and names its failure.
// It runs in `dir`.
Step run_tool(const std::string& tool, std::vector<std::string> argv, const fs::path& dir,
              const std::vector<int>& cpus) {
  Command command;
  command.argv = std::move(argv);
  command.directory = dir.string();
  command.stderr_path = (dir / ".tool.err").string();
  command.cpus = cpus;
  const Outcome outcome = run_command(command);
  const std::string log = read_text(command.stderr_path);
  fs::remove(command.stderr_path);
  if (interrupted(outcome)) return {"", true};
  return {failure(tool, outcome, log)};
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
Step shell_sum(const Crystal& crystal, const std::vector<std::string>& options,
               const Settings& settings, const Tools& tools, const fs::path& dir,
               const std::vector<int>& cpus, int molecule, ShellSum& total) {
  const fs::path shell_dir = dir / ".lattice";
  fs::create_directory(shell_dir);
  int within = -1;
  for (int skip = 0, shell = 1;; ++shell) {
    nlohmann::json summary;
    const std::string where = (molecule ? "lattice shell " + std::to_string(shell) +
                                              " of molecule " + std::to_string(molecule) + ": "
                                        : "lattice shell " + std::to_string(shell) + ": ");
    Step step = run_prep(tools, crystal.cif,
                         shell_options(options, settings.lattice_radius, skip, molecule), shell_dir,
                         shell_dir / "prep.log", cpus, summary);
    if (step.interrupted) return step;
    if (!step.message.empty()) return {where + batch_words(step.message, PrepRun::lattice_shell)};
    if (molecule && summary.value("z_prime_written", 1) != 2) {
      total.none =
          "no lattice energy: zelk8-prep writes only one of the asymmetric unit's two "
          "molecules (they differ in composition or bonds, or are too large together)";
      return {};
    }
    if (within < 0) within = summary.value("within_cutoff", 0);
    report::Report report;
    step = run_zelk8(tools, shell_dir, cpus, report);
    if (step.interrupted) return step;
    if (!step.message.empty()) return {where + step.message};
    const nlohmann::json units = summary.value("units", nlohmann::json::array());
    if (units.size() != report.units.size())
      return {where + "zelk8-prep lists " + std::to_string(units.size()) + " units, the report " +
              std::to_string(report.units.size())};
    // A unit ranked at most `skip` is the second molecule's marker, written
    // again only to place that molecule's images: summed in an earlier shell.
    double sum = *report.lattice_etot->value;
    int ranked = 0;
    int last = skip;
    for (size_t k = 0; k < units.size(); ++k) {
      const int rank = units[k].value("rank", 0);
      if (rank > skip) {
        ++ranked;
        last = std::max(last, rank);
      } else if (report.units[k].etot.finite()) {
        sum -= *report.units[k].etot.value;
      } else {
        return {where + "unit " + report.units[k].name + " has Etot " + report.units[k].etot.text};
      }
    }
    total.sum += sum;
    total.molecules += ranked;
    if (ranked == 0 || total.molecules >= within) break;
    skip = last;
  }
  std::error_code error;
  fs::remove_all(shell_dir, error);
  if (total.molecules != within)
    return {"the lattice shells hold " + std::to_string(total.molecules) + " molecules of the " +
            std::to_string(within) + " within " + fixed(settings.lattice_radius, 1) + " A"};
  return {};
}

struct Lattice {
  std::optional<double> energy;  // kJ/mol
  int molecules = 0;
  std::string none;  // why there is no lattice energy
};

// One molecule in the asymmetric unit: half its lattice sum. Two: the mean
// of the two molecules' halves, each over the molecules of both kinds.
Step lattice_energy(const Crystal& crystal, const std::vector<std::string>& options,
                    const Settings& settings, const Tools& tools, const fs::path& dir,
                    const std::vector<int>& cpus, int in_asymmetric_unit, Lattice& lattice) {
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
    Step step = shell_sum(crystal, options, settings, tools, dir, cpus, molecule, shells);
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

std::string signed_fixed(double value, int decimals) {
  std::string text = fixed(value, decimals);
  if (std::strtod(text.c_str(), nullptr) == 0.0) text = fixed(0.0, decimals);
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
void map_minima(const report::Report& report, Row& row, std::vector<std::string>& warnings) {
  const report::ShiftMap& map = *report.map;
  const report::MapContacts contacts = report::map_contacts(report);
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
  row["map_overlap_points"] = std::to_string(contacts.overlap_points);
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

std::vector<std::string> shell_options(const std::vector<std::string>& options, double radius,
                                       int skip, int molecule) {
  std::vector<std::string> kept;
  for (size_t k = 0; k < options.size(); ++k) {
    const std::string& word = options[k];
    const std::string name = word.substr(0, word.find('='));
    const bool with_value = name == "--cutoff" || name == "--stack" || name == "--map" ||
                            (molecule && name == "--molecule");
    if (with_value) {
      if (name == word) ++k;  // the value is the next word
      continue;
    }
    if (word == "--no-map" || (molecule && word == "--single")) continue;
    kept.push_back(word);
  }
  if (molecule) {
    kept.push_back("--molecule");
    kept.push_back(std::to_string(molecule));
  }
  char text[32];
  std::snprintf(text, sizeof text, "%g", radius);
  for (const std::string& word :
       {std::string("--no-map"), std::string("--cutoff"), std::string(text),
        std::string("--skip-units"), std::to_string(skip)})
    kept.push_back(word);
  return kept;
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

std::string diagnostic(const std::string& log_text) {
  std::string last, last_error;
  std::istringstream lines(log_text);
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    last = line;
    if (line.find("error") != std::string::npos) last_error = line;
  }
  return last_error.empty() ? last : last_error;
}

std::optional<Row> read_finished_row(const std::string& folder) {
  const fs::path path = fs::path(folder) / "result.json";
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  try {
    nlohmann::json result = nlohmann::json::parse(read_text(path));
    if (!result.contains("summary") || !result["summary"].is_object()) return std::nullopt;
    return result["summary"];
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

CrystalOutcome process_crystal(const Crystal& crystal, const Settings& settings, const Tools& tools,
                               const std::vector<int>& cpus) {
  const auto start = std::chrono::steady_clock::now();
  const fs::path target = fs::path(settings.out) / crystal.name;
  const nlohmann::json inputs = input_fingerprint(crystal, settings);
  CrystalOutcome outcome;
  if (!settings.force) {
    try {
      nlohmann::json old = nlohmann::json::parse(read_text(target / "result.json"));
      if (old.value("inputs", nlohmann::json()) == inputs && old.contains("summary") &&
          old["summary"].value("status", "") == "ok") {
        outcome.row = old["summary"];
        outcome.skipped = true;
        return outcome;
      }
    } catch (const nlohmann::json::exception&) {
      // No earlier result, or one that cannot be read: run the crystal.
    }
  }

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
    result["summary"] = row;
    try {
      write_whole_file((dir / "result.json").string(), result.dump(1) + "\n");
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

  nlohmann::json prep;
  Step step = run_prep(tools, crystal.cif, options, dir, dir / "prep.log", cpus, prep);
  if (step.interrupted) return stopped();
  if (!step.message.empty()) return finish("prep_failed", batch_words(step.message));
  result["prep"] = prep;
  write_whole_file((dir / "prep.json").string(), prep.dump(2) + "\n");
  row["formula"] = json_text(prep, "formula");
  row["space_group"] = json_text(prep, "space_group");
  row["atoms"] = json_text(prep, "atoms");
  row["element_types"] = json_text(prep, "element_types");
  row["model"] = json_text(prep, "model");  // the parameter model prep wrote
  row["hbond_units"] = json_text(prep, "hbond_units");
  if (const auto unit_cutoff = prep.find("unit_cutoff");
      unit_cutoff != prep.end() && unit_cutoff->is_number())
    row["cutoff"] = fixed_trimmed(unit_cutoff->get<double>());
  std::optional<double> net_charge;
  if (const auto charge = prep.find("net_charge"); charge != prep.end() && charge->is_number()) {
    net_charge = charge->get<double>();
    row["net_charge"] = signed_fixed(*net_charge, 4);
  }
  std::vector<std::string> warnings;
  if (const auto list = prep.find("warnings"); list != prep.end() && list->is_array())
    for (const nlohmann::json& text : *list)
      if (text.is_string()) warnings.push_back(batch_words(text.get<std::string>()));
  auto set_warnings = [&] { row["warnings"] = grouped(warnings); };
  set_warnings();

  report::Report report;
  step = run_zelk8(tools, dir, cpus, report);
  if (step.interrupted) return stopped();
  if (!step.message.empty()) return finish("run_failed", step.message);
  row["units"] = std::to_string(report.units.size());
  row["etot_units"] = report.lattice_etot->text;
  row["stack_unit"] = report.run_parameters.stack_unit.text;
  {
    // As --charges takes them: 0.1,-0.4,-0.3,0.
    const report::RunParameters& run = report.run_parameters;
    std::string charges;
    for (const report::Field* field : {&run.charge_h, &run.charge_1, &run.charge_2, &run.charge_3})
      charges += (charges.empty() ? "" : ",") +
                 (field->finite() ? fixed_trimmed(*field->value) : field->text);
    row["charges"] = charges;
  }
  if (const report::Unit* unit = report.stacking_unit()) row["stack_etot"] = unit->etot.text;
  if (report.map) {
    map_minima(report, row, warnings);
    set_warnings();
    step = run_tool("zelk8-map", {tools.map, "at8.dat", "-o", "map.svg"}, dir, cpus);
    if (step.interrupted) return stopped();
    if (!step.message.empty()) return finish("run_failed", step.message);
  }

  Lattice lattice;
  if (settings.lattice_radius <= 0.0) {
    lattice.none = "no lattice energy: --lattice-radius 0";
  } else if (net_charge && std::fabs(*net_charge) > neutral_charge_max) {
    lattice.none = "no lattice energy: the molecule's net charge is " +
                   signed_fixed(*net_charge, 4) +
                   " e, and its electrostatic lattice sum does not converge; give charge "
                   "increments that add up to zero with --charges (or in the manifest's options "
                   "column)";
  } else {
    step = lattice_energy(crystal, options, settings, tools, dir, cpus,
                          prep.value("molecules_in_asymmetric_unit", 0), lattice);
    if (step.interrupted) return stopped();
    if (!step.message.empty()) return finish("run_failed", step.message);
  }
  if (lattice.energy) {
    row["lattice_energy"] = fixed(*lattice.energy, 5);
    row["lattice_molecules"] = std::to_string(lattice.molecules);
  }
  // --lattice-radius 0 asks for no lattice energy: nothing to explain. A
  // lattice energy at or above zero is a number the model gives, not a bound
  // crystal: the message says so, and why when hydrogen bonds are the likely cause.
  std::string message = settings.lattice_radius > 0.0 ? lattice.none : "";
  if (lattice.energy && *lattice.energy >= 0.0) {
    const std::string bonded = json_text(prep, "hbond_units");
    message = "the lattice energy is not negative: the crystal is not bound in this model";
    if (!bonded.empty() && bonded != "0") {
      message += "; its " + bonded +
                 " hydrogen-bonded units sit on the repulsive wall (the model has no "
                 "hydrogen-bond term)";
    }
  }
  nlohmann::ordered_json lattice_json;
  lattice_json["lattice_energy"] =
      lattice.energy
          ? nlohmann::ordered_json(std::strtod(fixed(*lattice.energy, 5).c_str(), nullptr))
          : nlohmann::ordered_json(nullptr);
  lattice_json["molecules"] = lattice.molecules;
  lattice_json["radius"] = settings.lattice_radius;
  lattice_json["net_charge"] =
      net_charge ? nlohmann::ordered_json(*net_charge) : nlohmann::ordered_json(nullptr);
  lattice_json["message"] = lattice.none;
  write_whole_file((dir / "lattice.json").string(), lattice_json.dump(2) + "\n");
  result["lattice"] = lattice_json;

  // A page needs at least one unit to draw.
  if (!tools.view.empty() && !report.units.empty()) {
    // In the folder itself, so that the page names the run's files, not the
    // temporary folder they are written in.
    step = run_tool("zelk8-view", {tools.view, ".", "-o", "report.html"}, dir, cpus);
    if (step.interrupted) return stopped();
    if (!step.message.empty()) return finish("run_failed", step.message);
  }
  return finish("ok", message);
}

}  // namespace zelk8::batch
