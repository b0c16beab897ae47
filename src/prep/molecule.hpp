// The central molecule: the sites expanded by symmetry, bonded by covalent
// radii and gathered into one whole molecule.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crystal.hpp"

namespace zelk8::prep {

// One atom of the unit cell's contents. `fract` is the position as the
// operation produced it (not wrapped into the cell).
struct CellAtom {
  int site = 0;  // index into Crystal::sites
  int op = 0;    // index into Crystal::ops
  gemmi::Element element{gemmi::El::X};
  gemmi::Fractional fract;
};

struct MoleculeAtom {
  int type = 0;  // element index, 1-based, in element order
  gemmi::Element element{gemmi::El::X};
  gemmi::Fractional fract;  // rounded to the 5 decimals written
  std::string label;        // symbol and running number within the element
  int cell_atom = 0;        // index into the expanded cell atoms
  int site = 0;             // the CIF site it was made from
};

struct Molecule {
  std::vector<MoleculeAtom> atoms;       // grouped by type, hydrogen last
  std::vector<gemmi::Element> elements;  // element order, index 0 is type 1
  // The parameter table's key per type when it is not the element's symbol
  // (a model that gives polar hydrogens a type of their own); empty: symbols.
  std::vector<std::string> type_keys;
  int number = 1;          // which molecule of the asymmetric unit
  int molecule_count = 1;  // molecules in the asymmetric unit
};

struct MoleculeOptions {
  int number = 1;               // 1 = the molecule of the first site
  double bond_tolerance = 0.4;  // Angstrom added to the sum of covalent radii
  double merge_distance = 0.4;  // positions closer than this are one atom
};

constexpr int max_molecule_atoms = 199;
constexpr int max_element_types = 7;

// Every site under every operation; positions that coincide modulo the
// lattice (and have the same element) are kept once, the first one made.
// `orbit` receives, per site, the smallest site index it is equivalent to.
std::vector<CellAtom> expand_sites(const Crystal& crystal, double merge_distance,
                                   std::vector<int>* orbit);

// The whole molecule that holds the first site (or the first site of
// molecule `number`). Throws PrepError for networks and oversized molecules.
Molecule build_molecule(const Crystal& crystal, const MoleculeOptions& options);

// The atoms of `b` in the order of the atoms of `a`: position k of the
// result is the atom of `b` that plays the part of atom k of `a` (same
// element, bonded to the counterparts of its neighbours; bonds as the
// molecules were gathered). Nothing when the two are not the same molecule.
std::optional<std::vector<int>> corresponding_atoms(const gemmi::UnitCell& cell, const Molecule& a,
                                                    const Molecule& b, double bond_tolerance);

// Warnings about compositions the input file's conventions do not cover.
std::vector<std::string> element_warnings(const Molecule& molecule);

// Hill formula, e.g. "C14 H10".
std::string formula(const Molecule& molecule);

// The cell translation that brings `to` nearest to `from`, and that distance.
struct NearestImage {
  int t[3] = {0, 0, 0};
  double distance = 0.0;
};
NearestImage nearest_image(const gemmi::UnitCell& cell, const gemmi::Fractional& from,
                           const gemmi::Fractional& to);

}  // namespace zelk8::prep
