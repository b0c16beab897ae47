// Van der Waals parameters per element for the element records.
#pragma once

#include <map>
#include <string>

namespace zelk8::prep {

struct VdwParams {
  double emin = 0.0;  // well depth Emin, kJ/mol
  double r0 = 0.0;    // radius parameter R0, Angstrom
};

// Element symbol (as gemmi spells it: "C", "Cl") to parameters.
using VdwTable = std::map<std::string, VdwParams>;

// The built-in table: the MM3 exp-6 van der Waals set, one entry per element.
VdwTable builtin_vdw_table();

// Adds or replaces entries from a text file, one "symbol Emin R0" per line;
// blank lines and text after '#' are ignored. Throws PrepError.
void read_vdw_params(const std::string& path, VdwTable& table);
void parse_vdw_params(const std::string& text, const std::string& name, VdwTable& table);

}  // namespace zelk8::prep
