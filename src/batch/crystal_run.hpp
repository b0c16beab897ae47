// One crystal of a batch: prepare its input, run zelk8, draw its map, sum
// its lattice energy, and leave the whole folder OUT/NAME or nothing.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "manifest.hpp"
#include "summary.hpp"

namespace zelk8::batch {

struct Settings {
  std::string out;                        // the batch's output folder
  std::vector<std::string> prep_options;  // for every crystal, before its own
  double lattice_radius = 25.0;           // 0: no lattice energy
  bool force = false;                     // redo crystals already done
  // Each crystal's page (report.html), referring to the batch's one copy of
  // the viewer library, OUT/viewer_library_name; false where the pages are
  // not built.
  bool pages = false;
};

// The viewer library every page of a batch refers to, in OUT.
inline constexpr const char* viewer_library_name = "3Dmol-min.js";

// Writes OUT/viewer_library_name unless it is there already as this
// version's. Throws report::WriteError.
void write_viewer_library(const std::string& out);

// The units zelk8 takes per run, and so per shell of the lattice sum.
constexpr int shell_units = 20;

struct CrystalOutcome {
  Row row;
  bool skipped = false;      // done before with the same inputs
  bool interrupted = false;  // stopped by a signal: nothing was written
};

// Asks every crystal in progress to stop at its next step, and the batch to
// start no other: the batch is interrupted by `signal` (SIGINT for Ctrl-C,
// also when it comes through the Python interpreter). A new batch starts
// with allow_crystals(), so that an interrupted one does not stop the next
// in the same process.
void stop_all_crystals(int signal);
bool crystals_stopped();
int stop_signal();  // 0 while the crystals may run
void allow_crystals();

// Processes one crystal: prep, the program, the map picture, the lattice
// sum and the page, all in this process. The folder is built as
// OUT/.NAME.tmp-XXXXXX and renamed to OUT/NAME when complete; a crystal
// whose result.json says ok for the same inputs is skipped unless forced.
// While it runs, OUT/.NAME.running marks it: a marker left by a batch that
// died (a crash of this crystal, a kill) makes it a failed row, not run
// again unless forced.
CrystalOutcome process_crystal(const Crystal& crystal, const Settings& settings);

// The marker of a crystal in progress.
std::string running_marker(const std::string& out, const std::string& name);

// The layout of the rows this version writes; raised when columns change.
inline constexpr int row_layout = 2;

// What decides whether an earlier result still holds: the CIF's content, the
// prep options in the order given, the lattice radius and the row layout.
nlohmann::json input_fingerprint(const Crystal& crystal, const Settings& settings);

// The largest net charge (e) of a molecule whose lattice energy is summed:
// beyond it the electrostatic sum does not converge.
inline constexpr double neutral_charge_max = 0.005;

// The options as one line, each word that holds a blank or a quote quoted.
std::string options_text(const std::vector<std::string>& options);

// The value of the last `--name VALUE` or `--name=VALUE` among `options`,
// empty when none.
std::string option_value(const std::vector<std::string>& options, const std::string& name);

// The row of a finished crystal folder (its result.json), or nullopt when
// the folder is not complete.
std::optional<Row> read_finished_row(const std::string& folder);

}  // namespace zelk8::batch
