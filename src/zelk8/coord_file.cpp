// "coord.xyz": count line, comment line and the central molecule.
#include "stages.hpp"

namespace zelk8 {

namespace {
const Text4 carbon = records::text4("C");
const Text4 hydrogen = records::text4("H");
const Text4 sulphur = records::text4("S");
}  // namespace

const Text4* central_symbol(const RunState& s, int k) {
  switch (s.element_count) {
    case 0:
    case 1:
      return nullptr;
    case 2:
      return k < s.heavy_atom_count ? &carbon : &hydrogen;
    case 3:
      if (k < s.element_atom_count[0]) return &sulphur;
      return k < s.heavy_atom_count ? &carbon : &hydrogen;
    default:
      return &s.atom_symbol[k];
  }
}

void write_coord_header(const RunState& s, std::string& coord) {
  // The count states the atom lines the central molecule and the units
  // write; a count past three digits is written in full.
  const int blocks = s.element_count >= 2 ? s.unit_count + 1 : s.unit_count;
  const int count = s.atom_count * blocks;
  static const records::Format count_line("(I3,/)");
  if (count <= 999) {
    put(coord, count_line, count);
  } else {
    coord += std::to_string(count);
    coord += "\n\n";
  }

  static const records::Format atom_line("(A4,3F12.7)");
  for (int k = 0; k < s.atom_count; ++k) {
    if (const Text4* symbol = central_symbol(s, k)) {
      put(coord, atom_line, *symbol, s.frame_l[k], s.frame_s[k], s.frame_v[k]);
    }
  }
}

}  // namespace zelk8
