// Checks of the built molecule: against the CIF's own formula, and of its
// bonds against plausible lengths and valences.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crystal.hpp"
#include "molecule.hpp"

namespace zelk8::prep {

// Element counts of a CIF formula: "C22 H22 O", "C14H10", a moiety with
// parts and multipliers "2(C7 H5 N), H2 O". Nothing for text that is not a
// formula of known elements.
std::optional<std::map<std::string, double>> parse_formula(const std::string& text);

// A warning when `formula_text` (from `tag`) is not a whole multiple of the
// molecule's formula (the molecules of the formula unit), else nothing.
// Text that cannot be read as a formula gives a warning of its own.
std::optional<std::string> formula_mismatch(const Molecule& molecule,
                                            const std::string& formula_text,
                                            const std::string& tag);

// Implausible bonds of the molecule: an X-H bond below 0.8 A, a bond between
// heavy atoms below 1.0 A, a hydrogen bonded to more than one atom (bonds as
// the molecule was gathered: closer than the covalent radii plus
// `bond_tolerance`). Each entry names the atoms and the distances.
std::vector<std::string> implausible_bonds(const Crystal& crystal, const Molecule& molecule,
                                           double bond_tolerance);

}  // namespace zelk8::prep
