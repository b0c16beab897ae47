// What zelk8 itself makes of a prepared input file: its molecular frame, the
// centre of every unit in that frame and the partial charges. The program's
// own stages run on the text in memory, so the numbers are the ones its
// report will print.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "units.hpp"

namespace zelk8::prep {

using FramePoint = std::array<float, 3>;  // along VL, VS and VV, Angstrom

struct ProgramView {
  // Per unit, in file order: the centre (plain mean of the molecule's atoms)
  // along VL, VS and VV, Angstrom, as the unit block prints it.
  std::vector<FramePoint> unit_centres;
  // The central molecule's atoms and, per unit, the unit's atoms, placed as
  // above; the element symbol of each atom from the file's symbol column.
  std::vector<FramePoint> central_atoms;
  std::vector<std::vector<FramePoint>> unit_atoms;
  std::vector<std::string> symbols;
  // The eigenvalues of the molecule's second-moment tensor along VL, VS and
  // VV (A^2, the squares of the axis lengths the report prints).
  std::array<double, 3> moments{};
  std::vector<float> charges;  // per atom of the central molecule
  double net_charge = 0.0;     // their sum
};

// Reads `input` (a whole zelk8.dat up to its run-parameter record) with the
// program's stages. Throws PrepError with the program's diagnostic when it
// would refuse the file.
ProgramView view_in_program(const std::string& input);

// The units (1-based, in file order) that hold an atom within
// `contact_max` Angstrom of an atom of the central molecule, one of the two
// a hydrogen and the other an O, N or S, by the atoms' own symbols.
// `acceptors` receives the symbols of the O, N and S atoms in such contacts.
std::vector<int> hydrogen_bonded_units(const ProgramView& view, double contact_max,
                                       std::vector<std::string>* acceptors = nullptr);

// The stacking unit `--stack auto` takes: the nearest unit that is a pure
// lattice translation of the central molecule and lies at least
// `min_offset` Angstrom off along the normal VV (a face-to-face partner), 0
// when none does; the reason says which and why, or why none.
struct StackChoice {
  int unit = 0;  // 1-based, 0 for none
  std::string reason;
};
StackChoice auto_stack(const std::vector<Unit>& units, const ProgramView& view, double min_offset);

// Which of the principal axes are arbitrary: two moments equal within
// `tolerance` relative to the largest moment make the axes of that pair any
// two perpendicular lines of their plane. "VL and VS", "VS and VV", "VL, VS and
// VV", or empty.
std::string degenerate_axes(const std::array<double, 3>& moments, double tolerance);

}  // namespace zelk8::prep
