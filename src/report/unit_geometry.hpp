// Where the atoms of a unit lie, read back from a report alone: the atom
// list's fractional coordinates moved by the unit's operation, taken to
// Angstrom by the transfer matrix and expressed in the central molecule's
// frame (VL, VS, VV about the centre of gravity), as the Molecular Coordinates
// table expresses the central molecule.
//
// From these, the hydrogen-bond contacts of each unit: an H...O, H...N or
// H...S distance below hbond_contact_max between the central molecule and
// the unit.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "report.hpp"

namespace zelk8::report {

using Point = std::array<double, 3>;

// An atom placed in the central molecule's frame: coordinates along VL, VS
// and VV (Angstrom).
struct PlacedAtom {
  std::size_t index = 0;  // position in the atom list
  Point frame{};
};

// The frame of the central molecule: what places a fractional position.
struct MoleculeFrame {
  std::array<std::array<double, 3>, 3> transfer{};  // fractional to Cartesian
  Point centre{};                                   // centre of gravity, Cartesian
  std::array<Point, 3> axes{};                      // VL, VS, VV directions

  // A fractional position in frame coordinates.
  Point place(const Point& fractional) const;
  // The fractional position of a point given in frame coordinates.
  Point fractional_of(const Point& frame) const;
};

// Nullopt when a number it needs was printed off-scale or the transfer
// matrix is singular.
std::optional<MoleculeFrame> molecule_frame(const Report& report);

// The atoms of the atom list moved by `unit`'s operation, in the central
// molecule's frame; nullopt when an operation element or a coordinate has no
// value. The identity operation gives the central molecule itself.
std::optional<std::vector<PlacedAtom>> unit_atoms(const Report& report, const MoleculeFrame& frame,
                                                  const Unit& unit);

// Where the operation puts the centre of gravity, in frame coordinates: the
// unit's centre as its block should print it.
std::optional<Point> unit_centre(const MoleculeFrame& frame, const Unit& unit);

// Element kinds by the atom list's own symbol column.
bool is_hydrogen(const std::string& symbol);        // H or D
bool is_hbond_acceptor(const std::string& symbol);  // O, N or S

// The hydrogen-bond check of one unit.
struct UnitHbond {
  bool checked = false;  // false: the report cannot place this unit's atoms
  std::string note;      // why not, when !checked
  // The shortest H...O/N/S contact between the central molecule and the
  // unit (either molecule's hydrogen), when one is below hbond_contact_max.
  struct Contact {
    std::size_t central_atom = 0;  // index into the atom list
    std::size_t unit_atom = 0;     // index into the atom list
    double distance = 0.0;         // Angstrom
  };
  std::optional<Contact> contact;
};

// One entry per unit of the report, in order. Units of the second atom set
// (the marker unit, whose a11 is 5.0, and every unit after it) are not
// checked: that set's atoms are not in the report. Nor is a unit whose
// computed centre lies more than 0.01 A from its printed one, which would
// mean the report does not hold what placed it.
std::vector<UnitHbond> hbond_contacts(const Report& report);

}  // namespace zelk8::report
