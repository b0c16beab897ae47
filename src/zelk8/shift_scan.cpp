// The shift scan export: the last unit slid over the central molecule along
// the map grid, one block of atom lines per grid point.
#include <cstring>

#include "fixed_field.hpp"
#include "shift_map.hpp"
#include "stages.hpp"

namespace zelk8 {

namespace {

constexpr std::size_t flush_size = 1 << 20;

// One "(A4,3F12.7)" atom line.
void put_atom(std::string& out, const Text4& symbol, float l, float s, float v) {
  char line[4 + 3 * 12 + 1];
  std::memcpy(line, symbol.data(), 4);
  if (fixed_field(line + 4, l, 12, 7) && fixed_field(line + 16, s, 12, 7) &&
      fixed_field(line + 28, v, 12, 7)) {
    line[40] = '\n';
    out.append(line, sizeof line);
    return;
  }
  out.append(symbol.data(), symbol.size());
  records::put_real(out, l, 12, 7);
  records::put_real(out, s, 12, 7);
  records::put_real(out, v, 12, 7);
  out += '\n';
}

// One "(5F10.4)" grid-point line with the two shifts.
void put_grid_point(std::string& out, float l, float s) {
  put_fixed(out, l, 10, 4);
  put_fixed(out, s, 10, 4);
  out += '\n';
}

}  // namespace

void write_shift_scan(const RunState& s, const TextSink& coord, std::string& out) {
  if (s.element_count < 2) return;
  if (s.element_count > 3) {
    // One block only, at the first shifts of both axes.
    if (s.unit_count == 0) return;
    for (int k = 0; k < s.atom_count; ++k) {
      put_atom(out, s.atom_symbol[k], s.unit_frame_l[k] + s.map_l_start,
               s.unit_frame_s[k] + s.map_s_start, s.unit_frame_v[k]);
    }
    coord.write(out);
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
        put_grid_point(out, l, sh);
        for (int k = 0; k < s.atom_count; ++k) {
          put_atom(out, *central_symbol(s, k), s.unit_frame_l[k] + l, s.unit_frame_s[k] + sh,
                   s.unit_frame_v[k]);
        }
        if (out.size() >= flush_size) {
          coord.write(out);
          out.clear();
        }
      }
    }
  }
  coord.write(out);
  out.clear();
}

}  // namespace zelk8
