// The Molecular Coordinates section and the extents line.
#include "stages.hpp"

namespace zelk8 {

void write_molecular_coordinates(const RunState& s, std::string& report) {
  static const records::Format heading(records::report_layout::coordinates_heading);
  static const records::Format atom_line(records::report_layout::coordinates_atom);
  put(report, heading);
  for (int i = 0; i < s.atom_count; ++i) {
    put(report, atom_line, s.atom_element[i], s.frame_l[i], s.frame_s[i], s.frame_v[i],
        s.atom_charge[i], s.atom_label_full[i], s.atom_symbol_full[i]);
  }

  // Both bounds start at 0, so each extent spans the origin.
  float l_min = 0.0f, l_max = 0.0f, s_min = 0.0f, s_max = 0.0f;
  for (int i = 0; i < s.atom_count; ++i) {
    if (s_min > s.frame_s[i]) s_min = s.frame_s[i];
    if (s.frame_s[i] > s_max) s_max = s.frame_s[i];
    if (l_min > s.frame_l[i]) l_min = s.frame_l[i];
    if (s.frame_l[i] > l_max) l_max = s.frame_l[i];
  }
  const float extent_s = s_max - s_min;
  const float extent_l = l_max - l_min;
  // The value labelled VV is the extent along VS.
  static const records::Format extents(records::report_layout::extents);
  put(report, extents, extent_s, extent_l);
}

}  // namespace zelk8
