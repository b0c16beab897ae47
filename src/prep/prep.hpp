// zelk8-prep: a CIF in, a zelk8.dat input file out. The tool (run,
// run_on_text) and the same work as a library on a crystal already read
// (prepare, lattice_shell_inputs).
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "crystal.hpp"
#include "options.hpp"

namespace zelk8::prep {

// One written unit, as the summary lists it.
struct SummaryUnit {
  int rank = 0;
  std::string name;
  int molecule = 1;       // 2 for an image of the second molecule (and the marker)
  double distance = 0.0;  // between the centroids, Angstrom, rounded to 1e-4
  std::string operation;  // as a triplet
};

// What the tool's --json file holds, field for field.
struct Summary {
  std::string cif;  // the CIF as named on the command line
  std::string block;
  std::vector<std::string> other_blocks;
  std::string formula;                     // the written molecule, e.g. "C6H6"
  std::optional<std::string> cif_formula;  // the CIF's sum (or else moiety) formula
  std::optional<std::string> space_group;
  int molecules_in_asymmetric_unit = 0;
  int z_prime_written = 1;  // 2 when the second molecule is the second atom set
  int atoms = 0;
  int element_types = 0;
  int within_cutoff = 0;  // distinct images within the unit cutoff
  std::vector<SummaryUnit> units;
  double unit_cutoff = 0.0;
  int stack_unit = 0;
  std::string stack_reason;
  double net_charge = 0.0;  // e, rounded to 1e-4
  std::string model;
  std::array<double, 4> charges{};
  std::vector<int> hbond_units;  // 1-based; the JSON writes their count and the list
  std::string degenerate_axes;   // empty when no two principal moments are equal
  bool formula_accepted = false;
  std::vector<std::string> warnings;
};

struct Prepared {
  std::string input;  // the zelk8.dat text
  Summary summary;
  // As printed, without the "zelk8-prep: warning: " prefix (summary.warnings too).
  std::vector<std::string> warnings;
  // What the tool prints on standard error before the warnings.
  std::string summary_text;
  // Exactly the text of the --json file.
  std::string json() const;
};

// The tool's work on a crystal already read (options.cif_path names it in
// the summary). Throws PrepError with the tool's message when it would end
// with status 2. Writes no file: options.output_path and json_path are not used.
Prepared prepare(const Crystal& crystal, const Options& options);

// The inputs of the lattice shells around a molecule: every image whose
// centroid lies within `radius` Angstrom, at most 20 per input, each shell
// the units ranked after the last one of the shell before, as
// `zelk8-prep --no-map --cutoff RADIUS --skip-units SKIP` writes them.
// The units are found once on the crystal. `molecule` 1 or 2 (two molecules
// in the asymmetric unit) centres the shells on that molecule and sums
// the images of both; 0 keeps the options' choice.
struct LatticeShell {
  std::string input;       // the zelk8.dat text
  int skip = 0;            // the units ranked at most this were summed before
  std::vector<int> ranks;  // of the written units, in file order
};
struct LatticeShells {
  int within = 0;               // molecules within the radius
  bool second_written = false;  // both molecules written (z_prime_written 2)
  std::vector<LatticeShell> shells;
};
LatticeShells lattice_shell_inputs(const Crystal& crystal, const Options& options, double radius,
                                   int molecule = 0);

// The whole tool: returns the exit status (0, or 2 after an error, with
// nothing written to `out`). The input file goes to `out` unless -o names a
// file; the summary, warnings and errors go to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same on a CIF given as text; the CIF argument of `args` names it in
// messages and the JSON summary.
int run_on_text(const std::string& cif_text, const std::vector<std::string>& args,
                std::ostream& out, std::ostream& err);

}  // namespace zelk8::prep
