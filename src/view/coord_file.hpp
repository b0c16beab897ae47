// Reading the neighbour molecules back from a run's coordinate file
// ("coord.xyz"): a count line, an empty line, then atom lines "(A4,3F12.7)"
// (symbol in columns 1-4, the VL, VS and VV coordinates in fields of 12 after
// it), all in the central molecule's frame. The central molecule comes first
// when the crystal has two element types or more, then `atom_count` lines per
// unit in list order; a shift scan export may follow, which is not read.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace zelk8::view {

struct XyzAtom {
  std::string symbol;  // the A4 field, blanks removed
  double l = 0.0;
  double s = 0.0;
  double v = 0.0;
};

struct NeighbourMolecules {
  // units[u]: the atoms of unit u + 1 that the file holds with three numbers
  // (a coordinate printed as asterisks drops its atom).
  std::vector<std::vector<XyzAtom>> units;
  std::size_t dropped_atoms = 0;  // atoms with an off-scale coordinate
  std::string note;               // why the file holds fewer units than asked, or empty
};

// Reads the blocks of `unit_count` units of `atom_count` atoms each, after a
// central block of `atom_count` lines when `central_block` is set. A file that
// ends early, or a line that is not an atom line, ends the reading: the units
// read whole are kept and `note` says where the file stopped.
NeighbourMolecules read_neighbours(std::istream& in, std::size_t atom_count, std::size_t unit_count,
                                   bool central_block);

}  // namespace zelk8::view
