#include "vdw_params.hpp"

#include <fstream>
#include <sstream>

#include "crystal.hpp"
#include "files.hpp"

namespace zelk8::prep {

VdwTable builtin_vdw_table() {
  // MM3 van der Waals parameters (N. L. Allinger, Y. H. Yuh, J.-H. Lii,
  // J. Am. Chem. Soc. 111 (1989) 8551, and the papers of the MM3 series that
  // add heteroatoms): R0 is the r* of the exp-6 term, Emin its epsilon,
  // published in kcal/mol and converted here with 4.184 kJ/kcal. Carbon takes
  // the aromatic / sp2 type, the natural one for molecular crystals of
  // aromatics; nitrogen and oxygen share one value over their types.
  // The values are written down from the published set as the author knows
  // it, not generated from a machine-readable copy; H, C, O and B were checked
  // against a published listing of the set. Check the other heteroatoms
  // against the papers before relying on them, or give your own with --params.
  constexpr double kj = 4.184;
  return {
      {"H", {0.020 * kj, 1.62}},  {"D", {0.020 * kj, 1.62}},  {"C", {0.056 * kj, 1.96}},
      {"N", {0.043 * kj, 1.93}},  {"O", {0.059 * kj, 1.82}},  {"F", {0.075 * kj, 1.71}},
      {"Cl", {0.240 * kj, 2.07}}, {"Br", {0.320 * kj, 2.22}}, {"I", {0.424 * kj, 2.36}},
      {"S", {0.202 * kj, 2.15}},  {"P", {0.168 * kj, 2.22}},  {"Si", {0.140 * kj, 2.29}},
      {"B", {0.014 * kj, 2.15}},
  };
}

void parse_vdw_params(const std::string& text, const std::string& name, VdwTable& table) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string symbol;
    if (!(fields >> symbol)) continue;
    VdwParams params;
    std::string rest;
    if (!(fields >> params.emin >> params.r0) || (fields >> rest))
      throw PrepError(name + ":" + std::to_string(number) + ": expected 'symbol Emin R0', got '" +
                      line + "'");
    if (symbol.size() > 4)
      throw PrepError(name + ":" + std::to_string(number) + ": symbol '" + symbol +
                      "' is longer than 4 characters");
    table[symbol] = params;
  }
}

void read_vdw_params(const std::string& path, VdwTable& table) {
  parse_vdw_params(read_whole_file(path, "the parameter file"), path, table);
}

}  // namespace zelk8::prep
