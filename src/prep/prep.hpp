// zelk8-prep: a CIF in, a zelk8.dat input file out.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "input_file.hpp"
#include "molecule.hpp"

namespace zelk8::prep {

struct Options {
  std::string cif_path;
  std::string output_path;  // empty: standard output
  std::string params_path;  // empty: the built-in table only
  int molecule = 1;
  double cutoff = 10.0;
  double bond_tolerance = 0.4;
  std::optional<int> stack;  // empty: auto
  bool no_map = false;
  bool ignore_occupancy = false;
  bool help = false;
  RunParams run;  // charges and map values
};

// Throws PrepError for an option it cannot use.
Options parse_options(const std::vector<std::string>& args);

std::string usage_text();

// The whole tool: returns the exit status (0, or 2 after an error, with
// nothing written to `out`). The input file goes to `out` unless -o names a
// file; the summary, warnings and errors go to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zelk8::prep
