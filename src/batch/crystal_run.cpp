#include "crystal_run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

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

struct Lattice {
  double sum = 0.0;  // of the shells' Etot totals, kJ/mol
  int molecules = 0;
};

// The lattice sum by shells of 20 units out to `radius`: every molecule
// whose centroid lies within it, taken by zelk8 itself, 20 per run.
Step lattice_sum(const Crystal& crystal, const std::vector<std::string>& options,
                 const Settings& settings, const Tools& tools, const fs::path& dir,
                 const std::vector<int>& cpus, Lattice& lattice) {
  const fs::path shell_dir = dir / ".lattice";
  fs::create_directory(shell_dir);
  int within = -1;
  for (int skip = 0;; skip += shell_units) {
    nlohmann::json summary;
    const std::string where = "lattice shell " + std::to_string(skip / shell_units + 1) + ": ";
    Step step = run_prep(tools, crystal.cif, shell_options(options, settings.lattice_radius, skip),
                         shell_dir, shell_dir / "prep.log", cpus, summary);
    if (step.interrupted) return step;
    if (!step.message.empty()) return {where + step.message};
    if (within < 0) within = summary.value("within_cutoff", 0);
    report::Report report;
    step = run_zelk8(tools, shell_dir, cpus, report);
    if (step.interrupted) return step;
    if (!step.message.empty()) return {where + step.message};
    const int units = static_cast<int>(report.units.size());
    lattice.sum += *report.lattice_etot->value;
    lattice.molecules += units;
    if (units < shell_units || lattice.molecules >= within) break;
  }
  std::error_code error;
  fs::remove_all(shell_dir, error);
  if (lattice.molecules != within)
    return {"the lattice shells hold " + std::to_string(lattice.molecules) + " molecules of the " +
            std::to_string(within) + " within " + fixed(settings.lattice_radius, 1) + " A"};
  return {};
}

}  // namespace

nlohmann::json input_fingerprint(const Crystal& crystal, const Settings& settings) {
  std::vector<std::string> options = settings.prep_options;
  options.insert(options.end(), crystal.options.begin(), crystal.options.end());
  return {{"cif_content", content_hash(read_text(crystal.cif))},
          {"prep_options", options},
          {"lattice_radius", settings.lattice_radius}};
}

std::vector<std::string> shell_options(const std::vector<std::string>& options, double radius,
                                       int skip) {
  std::vector<std::string> kept;
  for (size_t k = 0; k < options.size(); ++k) {
    const std::string& word = options[k];
    const std::string name = word.substr(0, word.find('='));
    const bool with_value = name == "--cutoff" || name == "--stack" || name == "--map";
    if (with_value) {
      if (name == word) ++k;  // the value is the next word
      continue;
    }
    if (word == "--no-map") continue;
    kept.push_back(word);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%g", radius);
  for (const std::string& word :
       {std::string("--no-map"), std::string("--cutoff"), std::string(text),
        std::string("--skip-units"), std::to_string(skip)})
    kept.push_back(word);
  return kept;
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

  nlohmann::json prep;
  Step step = run_prep(tools, crystal.cif, options, dir, dir / "prep.log", cpus, prep);
  if (step.interrupted) return stopped();
  if (!step.message.empty()) return finish("prep_failed", step.message);
  result["prep"] = prep;
  row["formula"] = json_text(prep, "formula");
  row["space_group"] = json_text(prep, "space_group");
  row["atoms"] = json_text(prep, "atoms");
  row["element_types"] = json_text(prep, "element_types");

  report::Report report;
  step = run_zelk8(tools, dir, cpus, report);
  if (step.interrupted) return stopped();
  if (!step.message.empty()) return finish("run_failed", step.message);
  row["units"] = std::to_string(report.units.size());
  row["etot_units"] = report.lattice_etot->text;
  row["stack_unit"] = report.run_parameters.stack_unit.text;
  if (const report::Unit* unit = report.stacking_unit()) row["stack_etot"] = unit->etot.text;
  if (report.map) {
    row["map_min_evdw"] = report.map->evdw_minimum.energy.text;
    row["map_min_evdw_l"] = report.map->evdw_minimum.l.text;
    row["map_min_evdw_s"] = report.map->evdw_minimum.s.text;
    row["map_min_etot"] = report.map->etot_minimum.energy.text;
    row["map_min_etot_l"] = report.map->etot_minimum.l.text;
    row["map_min_etot_s"] = report.map->etot_minimum.s.text;
    step = run_tool("zelk8-map", {tools.map, "at8.dat", "-o", "map.svg"}, dir, cpus);
    if (step.interrupted) return stopped();
    if (!step.message.empty()) return finish("run_failed", step.message);
  }

  std::string message;
  if (settings.lattice_radius > 0.0) {
    const int molecules = prep.value("molecules_in_asymmetric_unit", 0);
    if (molecules == 1) {
      Lattice lattice;
      step = lattice_sum(crystal, options, settings, tools, dir, cpus, lattice);
      if (step.interrupted) return stopped();
      if (!step.message.empty()) return finish("run_failed", step.message);
      row["lattice_energy"] = fixed(0.5 * lattice.sum, 5);
      row["lattice_molecules"] = std::to_string(lattice.molecules);
    } else {
      message = "no lattice energy: it needs one molecule in the asymmetric unit, the CIF has " +
                std::to_string(molecules);
    }
  }

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
