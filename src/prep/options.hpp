// The command line of zelk8-prep.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "input_file.hpp"
#include "model.hpp"

namespace zelk8::prep {

struct Options {
  std::string cif_path;
  std::string output_path;  // empty: standard output
  std::string params_path;  // empty: the built-in table only
  std::string json_path;    // empty: no machine-readable summary
  std::string block;        // empty: the first block with a cell and atom sites
  int skip_units = 0;       // the units ranked skip_units + 1 to skip_units + 20
  int molecule = 1;
  // Units are the nearest max_units images within this distance: an upper
  // bound, far enough for the first shell of any molecule the file holds.
  double cutoff = 30.0;
  double bond_tolerance = 0.4;
  std::optional<int> stack;  // empty: auto
  bool no_map = false;
  bool map_given = false;
  bool ignore_occupancy = false;
  bool single = false;                // one molecule even when the asymmetric unit holds two
  bool accept_bonds = false;          // write a molecule whose bonds look implausible
  bool accept_formula = false;        // write a molecule whose formula is not the CIF's
  RunParams run;                      // charges and map values
  std::string model = default_model;  // the parameter model (model.hpp)
  bool charges_given = false;         // --charges: the model does not choose them
};

// What the command line asks for: a run with `options`, or a text to print
// (--help, --version) and nothing else.
struct Command {
  Options options;
  std::optional<std::string> print;
};

// Throws PrepError, naming the option, for a command line it cannot use.
Command parse_command_line(const std::vector<std::string>& args);

// The --help text.
std::string usage_text();

}  // namespace zelk8::prep
