// One crystal of a batch: prepare its input, run zelk8, draw its map, sum
// its lattice energy, and leave the whole folder OUT/NAME or nothing.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "manifest.hpp"
#include "summary.hpp"

namespace zelk8::batch {

// Paths of the programs a batch runs; `view` is empty when zelk8-view is
// not available.
struct Tools {
  std::string zelk8;
  std::string prep;
  std::string map;
  std::string view;
};

struct Settings {
  std::string out;                        // the batch's output folder
  std::vector<std::string> prep_options;  // for every crystal, before its own
  double lattice_radius = 25.0;           // 0: no lattice energy
  bool force = false;                     // redo crystals already done
};

// The units zelk8 takes per run, and so per shell of the lattice sum.
constexpr int shell_units = 20;

struct CrystalOutcome {
  Row row;
  bool skipped = false;      // done before with the same inputs
  bool interrupted = false;  // stopped by a signal: nothing was written
};

// Processes one crystal with its tools pinned to `cpus`. The folder is built
// as OUT/.NAME.tmp-XXXXXX and renamed to OUT/NAME when complete; a crystal
// whose result.json says ok for the same inputs is skipped unless forced.
CrystalOutcome process_crystal(const Crystal& crystal, const Settings& settings, const Tools& tools,
                               const std::vector<int>& cpus);

// The layout of the rows this version writes; raised when columns change.
inline constexpr int row_layout = 2;

// What decides whether an earlier result still holds: the CIF's content, the
// prep options in the order given, the lattice radius and the row layout.
nlohmann::json input_fingerprint(const Crystal& crystal, const Settings& settings);

// The prep options of one lattice shell: `options` without the ones that
// choose the units, the stacking unit or the map, then the shell's own.
// With `molecule` (1 or 2, two molecules in the asymmetric unit) the shell
// is centred on that molecule: --molecule and --single are replaced.
std::vector<std::string> shell_options(const std::vector<std::string>& options, double radius,
                                       int skip, int molecule = 0);

// The largest net charge (e) of a molecule whose lattice energy is summed:
// beyond it the electrostatic sum does not converge.
inline constexpr double neutral_charge_max = 0.005;

// The options as one line, each word that holds a blank or a quote quoted.
std::string options_text(const std::vector<std::string>& options);

// The value of the last `--name VALUE` or `--name=VALUE` among `options`,
// empty when none.
std::string option_value(const std::vector<std::string>& options, const std::string& name);

// The diagnostic to report from a tool's error output: its last line that
// says "error", else its last non-empty line.
std::string diagnostic(const std::string& log_text);

// The row of a finished crystal folder (its result.json), or nullopt when
// the folder is not complete.
std::optional<Row> read_finished_row(const std::string& folder);

}  // namespace zelk8::batch
