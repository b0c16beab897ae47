// What zelk8 itself makes of a prepared input file: its molecular frame, the
// centre of every unit in that frame and the partial charges. The program's
// own stages run on the text in memory, so the numbers are the ones its
// report will print.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace zelk8::prep {

struct ProgramView {
  // Per unit, in file order: the centre (plain mean of the molecule's atoms)
  // along VL, VS and VV, Angstrom, as the unit block prints it.
  std::vector<std::array<float, 3>> unit_centres;
  std::vector<float> charges;  // per atom of the central molecule
  double net_charge = 0.0;     // their sum
};

// Reads `input` (a whole zelk8.dat up to its run-parameter record) with the
// program's stages. Throws PrepError with the program's diagnostic when it
// would refuse the file.
ProgramView view_in_program(const std::string& input);

}  // namespace zelk8::prep
