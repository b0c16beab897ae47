// Writing the input file: fixed columns, each number with its decimal point.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "molecule.hpp"
#include "units.hpp"
#include "vdw_params.hpp"

namespace zelk8::prep {

struct RunParams {
  int stack_unit = 0;
  std::array<double, 4> charges{0.1, 0.0, 0.0, 0.0};  // charge_h, charge_1, charge_2, charge_3
  bool map = true;  // write the map record (only when stack_unit is not 0)
  // L0 L1 DL S0 S1 DS H
  std::array<double, 7> map_values{-3.0, 3.0, 0.25, -2.0, 2.0, 0.25, 0.0};
};

// A value in a 5-column field with its decimal point: the fewest decimals
// (at least one) that write it exactly, else as many as fit. `exact` tells
// which. " -1.0", " 0.25", "0.333", "-.333".
std::string format_f5(double value, bool* exact = nullptr);

// A unit value that its 5-column field holds only approximately.
struct InexactField {
  std::string unit;  // the unit's name
  double value = 0.0;
  std::string field;  // as written, without its leading blanks
};

// The whole input file, record by record. `vdw` must hold every element of
// the molecule (throws PrepError otherwise). A unit value that its field
// cannot hold exactly is added to `inexact`, when given. A second atom
// set (the molecule's atoms in the same order, other positions) follows a
// negative terminator.
std::string write_input(const gemmi::UnitCell& cell, const Molecule& molecule, const VdwTable& vdw,
                        const std::vector<Unit>& units, const RunParams& params,
                        std::vector<InexactField>* inexact = nullptr,
                        const std::vector<gemmi::Fractional>* second_set = nullptr);

}  // namespace zelk8::prep
