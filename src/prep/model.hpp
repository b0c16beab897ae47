// Named parameter sets: the van der Waals parameters per element type, the
// typing of the atoms and the rule that chooses the charge increments.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "molecule.hpp"
#include "vdw_params.hpp"

namespace zelk8::prep {

// Charge moved along every bond between an atom of type key `from` and one
// of `to`: `from` gets -value, `to` +value. The bonds are those prep gathers
// the molecule by.
struct BondIncrement {
  std::string from;
  std::string to;
  double value = 0.0;
};

struct Model {
  std::string name;
  VdwTable vdw;  // by type key: the element symbol, "HN" and "HO" for polar hydrogens
  // A hydrogen bonded to N or O becomes a type of its own, key "HN" or "HO".
  bool polar_hydrogen_type = false;
  // Empty: the element types in prep's order and the run's --charges as
  // given. Otherwise the types are ordered, and the four increments chosen,
  // so that the program's charges come nearest to these bond increments
  // with the molecule neutral.
  std::vector<BondIncrement> increments;
};

// The model named `name` ("mm3", "x23"); throws PrepError naming --model.
Model find_model(const std::string& name);
std::vector<std::string> model_names();
inline constexpr const char* default_model = "mm3";

// The type key of every atom of `molecule` under `model` (bonds from the
// covalent radii plus `bond_tolerance`).
std::vector<std::string> type_keys(const gemmi::UnitCell& cell, const Molecule& molecule,
                                   const Model& model, double bond_tolerance);

// The target charge of every atom: the sum of the model's bond increments.
std::vector<double> target_charges(const gemmi::UnitCell& cell, const Molecule& molecule,
                                   const std::vector<std::string>& keys,
                                   const std::vector<BondIncrement>& increments,
                                   double bond_tolerance);

// A molecule typed for the program: atoms regrouped by type, `order[k]`
// the index in the original molecule of atom k. `basis[j][k]` is the
// program's charge on atom k for increment j set to 1 and the others to 0;
// the charges are linear in the increments.
struct Layout {
  Molecule molecule;
  std::vector<int> order;
  std::vector<std::string> keys;             // per atom, in the new order
  std::vector<std::array<double, 4>> basis;  // per atom, in the new order
  std::vector<std::array<double, 4>> solve;  // increment j = sum over k of solve[k][j] target[k]
};

// The type order whose program charges come nearest to the model's own
// bond increments under neutrality (prep's element order first among
// equals). The choice depends on the molecule only.
Layout choose_layout(const gemmi::UnitCell& cell, const Molecule& molecule, const Model& model,
                     double bond_tolerance);

// The four increments for target charges (in the layout's atom order),
// neutral to the program's rules.
std::array<double, 4> increments_for(const Layout& layout, const std::vector<double>& target);

// The four increments rounded to the five decimals written, never 0.07 for
// increment 1 with four or more types (the program's switch to its
// five-type rules).
std::array<double, 4> written_increments(const std::array<double, 4>& increments,
                                         int element_types);

}  // namespace zelk8::prep
