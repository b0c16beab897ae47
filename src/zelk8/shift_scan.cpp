// The shift scan export: the last unit slid over the central molecule along
// the map grid, one block of atom lines per grid point.
#include "shift_map.hpp"
#include "stages.hpp"

namespace zelk8 {

namespace {

constexpr std::size_t flush_size = 1 << 20;

void put_atom(std::string& out, const Text4& symbol, float l, float s, float v) {
  out.append(symbol.data(), symbol.size());
  records::put_real(out, l, 12, 7);
  records::put_real(out, s, 12, 7);
  records::put_real(out, v, 12, 7);
  out += '\n';
}

}  // namespace

void write_shift_scan(const RunState& s, records::OutputFile& coord, std::string& out) {
  if (s.element_count < 2) return;
  if (s.element_count > 3) {
    // One block only, at the first shifts of both axes.
    if (s.unit_count == 0) return;
    for (int k = 0; k < s.atom_count; ++k) {
      put_atom(out, s.atom_symbol[k], s.unit_frame_l[k] + s.map_l_start,
               s.unit_frame_s[k] + s.map_s_start, s.unit_frame_v[k]);
    }
    coord.write_text(out);
    out.clear();
    return;
  }

  // Two or three types: the symbols go by position ranges, as in the
  // central molecule's block.
  for (int k = 0; k < s.atom_count; ++k) {
    put_atom(out, *central_symbol(s, k), s.frame_l[k], s.frame_s[k], s.frame_v[k]);
  }
  if (s.unit_count > 0) {
    const ShiftGrid grid = make_shift_grid(s);
    for (int iy = 0; iy < grid.rows; ++iy) {
      const float sh = grid.s_shift[iy];
      for (int ix = 0; ix < grid.columns; ++ix) {
        const float l = grid.l_shift[ix];
        records::put_real(out, l, 10, 4);
        records::put_real(out, sh, 10, 4);
        out += '\n';
        for (int k = 0; k < s.atom_count; ++k) {
          put_atom(out, *central_symbol(s, k), s.unit_frame_l[k] + l, s.unit_frame_s[k] + sh,
                   s.unit_frame_v[k]);
        }
        if (out.size() >= flush_size) {
          coord.write_text(out);
          out.clear();
        }
      }
    }
  }
  coord.write_text(out);
  out.clear();
}

}  // namespace zelk8
