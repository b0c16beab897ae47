#include "shift_map.hpp"

#include <utility>

#include "pair_energy.hpp"
#include "stages.hpp"

namespace zelk8 {

void read_map_record(RunState& s, records::InputFile& in, std::string& report) {
  static const records::Format map_record("(9F5.3)");
  in.read("map record", map_record, &s.map_l_start, &s.map_l_end, &s.map_l_step, &s.map_s_start,
          &s.map_s_end, &s.map_s_step, &s.map_height, &s.map_unused_8, &s.map_unused_9);
  if (s.map_height == 0.0f) s.map_height = s.stack_centre_v;
  static const records::Format height_line(records::report_layout::map_heading);
  put(report, height_line, s.map_height);
}

namespace {
// One axis of the scan: from start, step added after each point, ending at
// the first point at or beyond the end, or after 100 points.
int scan_axis(float start, float end, float step, std::array<float, map_points>& shift) {
  float x = start;
  for (int i = 0; i < map_points; ++i) {
    shift[i] = x;
    if (x >= end) return i + 1;
    x = x + step;
  }
  return map_points;
}
}  // namespace

ShiftGrid make_shift_grid(const RunState& s) {
  ShiftGrid g;
  g.columns = scan_axis(s.map_l_start, s.map_l_end, s.map_l_step, g.l_shift);
  g.rows = scan_axis(s.map_s_start, s.map_s_end, s.map_s_step, g.s_shift);
  return g;
}

ShiftMap empty_shift_map(const RunState& s) {
  ShiftMap map;
  map.grid = make_shift_grid(s);
  map.evdw.assign(map_points * map_points, 0.0f);
  map.estat.assign(map_points * map_points, 0.0f);
  map.etot.assign(map_points * map_points, 0.0f);
  return map;
}

ShiftMap compute_shift_map_reference(const RunState& s) {
  ShiftMap map = empty_shift_map(s);
  const PairTable table = make_pair_table(s);
  const MoleculeView central{s.frame_l.data(),      s.frame_s.data(),     s.frame_v.data(),
                             s.atom_element.data(), s.atom_charge.data(), s.atom_count};
  AtomArray<float> copy_l{}, copy_s{}, copy_v{};
  const MoleculeView copy{copy_l.data(),         copy_s.data(),        copy_v.data(),
                          s.atom_element.data(), s.atom_charge.data(), s.atom_count};
  for (int iy = 0; iy < map.grid.rows; ++iy) {
    const float sh = map.grid.s_shift[iy];
    for (int ix = 0; ix < map.grid.columns; ++ix) {
      const float l = map.grid.l_shift[ix];
      for (int k = 0; k < s.atom_count; ++k) {
        copy_l[k] = s.frame_l[k] + l;
        copy_s[k] = s.frame_s[k] + sh;
        copy_v[k] = s.frame_v[k] + s.map_height;
      }
      const MoleculeEnergy e = molecule_pair_energy(table, central, copy);
      const int at = iy * map_points + ix;
      map.evdw[at] = e.evdw;
      map.estat[at] = e.estat;
      map.etot[at] = e.etot;
    }
  }
  find_map_minima(map);
  return map;
}

void find_map_minima(ShiftMap& map) {
  map.min_evdw = map.min_etot = 0.0f;
  map.min_evdw_l = map.min_evdw_s = map.min_etot_l = map.min_etot_s = 0.0f;
  for (int iy = 0; iy < map.grid.rows; ++iy) {
    for (int ix = 0; ix < map.grid.columns; ++ix) {
      const int at = iy * map_points + ix;
      if (map.evdw[at] < map.min_evdw) {
        map.min_evdw = map.evdw[at];
        map.min_evdw_l = map.grid.l_shift[ix];
        map.min_evdw_s = map.grid.s_shift[iy];
      }
      if (map.etot[at] < map.min_etot) {
        map.min_etot = map.etot[at];
        map.min_etot_l = map.grid.l_shift[ix];
        map.min_etot_s = map.grid.s_shift[iy];
      }
    }
  }
}

namespace {
void write_table(const ShiftMap& map, const std::vector<float>& table,
                 const records::Format& header, std::string& report) {
  static const records::Format row_format(records::report_layout::map_row);
  std::vector<records::Item> items;
  items.reserve(map_points + 1);
  for (int ix = 0; ix < map.grid.columns; ++ix) items.emplace_back(map.grid.l_shift[ix]);
  records::format_to(report, header, items);
  for (int iy = 0; iy < map.grid.rows; ++iy) {
    items.clear();
    items.emplace_back(map.grid.s_shift[iy]);
    for (int ix = 0; ix < map.grid.columns; ++ix) items.emplace_back(table[iy * map_points + ix]);
    records::format_to(report, row_format, items);
  }
}
}  // namespace

void write_map_tables(const ShiftMap& map, std::string& report) {
  static const records::Format evdw_header(records::report_layout::map_evdw_header);
  static const records::Format estat_header(records::report_layout::map_estat_header);
  static const records::Format etot_header(records::report_layout::map_etot_header);
  static const records::Format minimum(records::report_layout::map_minimum);
  write_table(map, map.evdw, evdw_header, report);
  put(report, minimum, map.min_evdw_l, map.min_evdw_s, map.min_evdw);
  write_table(map, map.estat, estat_header, report);
  write_table(map, map.etot, etot_header, report);
  put(report, minimum, map.min_etot_l, map.min_etot_s, map.min_etot);
}

void write_shift_map(const RunState& s, std::string& report, int threads, ShiftMap* computed) {
  ShiftMap map = compute_shift_map(s, threads);
  write_map_tables(map, report);
  if (computed != nullptr) *computed = std::move(map);
}

}  // namespace zelk8
