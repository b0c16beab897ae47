#include "page_data.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "framework.hpp"
#include "map_svg.hpp"
#include "page_checks.hpp"

namespace zelk8::view {

using nlohmann::json;

namespace {

json value_of(const report::Field& field) {
  return field.value ? json(*field.value) : json(nullptr);
}

// A list of fields: the values, and beside them the texts of the null ones.
template <typename Fields>
void put_fields(json& object, const std::string& key, const Fields& fields) {
  json values = json::array();
  json printed = json::array();
  bool off_scale = false;
  for (const report::Field& field : fields) {
    values.push_back(value_of(field));
    printed.push_back(field.value ? json(nullptr) : json(field.text));
    off_scale = off_scale || !field.value;
  }
  object[key] = std::move(values);
  if (off_scale) {
    object[key + "_printed"] = std::move(printed);
  }
}

// The colour bar of a scale, left to right in 21 steps: around zero, the
// deepest well to 0 and 0 to the clip in halves of equal length; for a panel
// of one sign, its data's span. `labels` are the energies at the left end,
// the middle (0, or null for one span) and the right end.
json scale_data(const map::ColourScale& scale) {
  const bool halves = scale.span == map::ScaleSpan::around_zero && scale.deepest < 0.0f;
  float left = 0.0f;
  float right = scale.clip;
  const char* span = "around_zero";
  if (scale.span == map::ScaleSpan::attractive_only) {
    span = "attractive_only";
    left = scale.deepest;
    right = scale.base;
  } else if (scale.span == map::ScaleSpan::repulsive_only) {
    span = "repulsive_only";
    left = scale.base;
  } else if (halves) {
    left = scale.deepest;
  }
  json bar = json::array();
  for (int k = 0; k <= 20; ++k) {
    const float t = static_cast<float>(k) / 20.0f;
    float energy = left + ((right - left) * t);
    if (halves) {
      energy = k <= 10 ? scale.deepest * (1.0f - (2.0f * t)) : scale.clip * ((2.0f * t) - 1.0f);
    }
    bar.push_back(map::hex_colour(map::energy_colour(energy, scale)));
  }
  return {{"span", span},
          {"deepest", scale.deepest},
          {"clip", scale.clip},
          {"base", scale.base},
          {"bar", std::move(bar)},
          {"labels", json::array({left, halves ? json(0.0) : json(nullptr), right})}};
}

// The overlap points of the map: "overlap" ([row][column] booleans) and
// "shortest_contact" (A), both null when they could not be checked,
// "overlap_points", "overlap_checked", "overlap_note" and "overlap_rho".
void add_overlap_grid(json& out, const report::MapContacts& contacts) {
  out["overlap_checked"] = contacts.checked;
  out["overlap_note"] = contacts.note;
  out["overlap_points"] = contacts.overlap_points;
  out["overlap_rho"] = report::exp6_maximum_rho();
  out["overlap"] = contacts.checked ? json(contacts.overlap) : json(nullptr);
  out["shortest_contact"] = contacts.checked ? json(contacts.shortest) : json(nullptr);
}

// What zelk8-map writes under a panel about overlap points, its minimum and
// the crystal: "clear_minimum" (the lowest non-overlap point below zero, or
// null), "minimum_lines", "overlap_line", "crystal_note".
void add_overlap_notes(json& out, const map::StackMap& single, const map::Panel& panel) {
  if (panel.marker) {
    const report::MapTable& table = *panel.table;
    const map::MinimumMarker& m = *panel.marker;
    json low = {{"row", m.row}, {"column", m.column}};
    put_field(low, "l", table.l_shifts[m.column]);
    put_field(low, "s", table.s_shifts[m.row]);
    put_field(low, "energy", table.cells[m.row][m.column]);
    out["clear_minimum"] = std::move(low);
  } else {
    out["clear_minimum"] = nullptr;
  }
  out["minimum_lines"] = map::minimum_lines(panel, single.contacts.checked);
  out["overlap_line"] = map::overlap_text(panel.overlap_cells, single.contacts);
  out["crystal_note"] = map::crystal_text(single, panel.crystal.has_value());
}

// One table of the map with the colours zelk8-map paints it in: the panel's
// own scale, the cell colours and the marked minimum, laid out by the
// picture's own code so that page and picture agree.
json table_data(const report::MapTable& table, const report::MapMinimum* minimum,
                const std::optional<map::StackMap::Crystal>& crystal,
                const report::MapContacts& contacts) {
  json out;
  json values = json::array();
  json off_scale = json::array();
  for (std::size_t r = 0; r < table.cells.size(); ++r) {
    json row = json::array();
    for (std::size_t c = 0; c < table.cells[r].size(); ++c) {
      const report::Field& cell = table.cells[r][c];
      row.push_back(value_of(cell));
      if (!cell.value) {
        off_scale.push_back(json::array({r, c, cell.text}));
      }
    }
    values.push_back(std::move(row));
  }
  out["values"] = std::move(values);
  out["off_scale"] = std::move(off_scale);

  map::StackMap single;
  single.evdw = table;
  single.estat = table;
  single.etot = table;
  if (minimum) {
    single.evdw_minimum = *minimum;
  }
  single.crystal = crystal;
  single.contacts = contacts;
  if (table.rows() == 0 || table.columns() == 0) {
    out["colours"] = json::array();
    return out;
  }
  map::Panel panel = std::move(map::layout_panels(single, {}).front());
  if (!minimum) {
    // The Estat table has no minimum line, and shows no minimum.
    panel.minimum = nullptr;
    panel.marker.reset();
  }
  json colours = json::array();
  for (std::size_t r = 0; r < table.rows(); ++r) {
    json row = json::array();
    for (std::size_t c = 0; c < table.columns(); ++c) {
      row.push_back(map::hex_colour(panel.cells[(r * table.columns()) + c].fill));
    }
    colours.push_back(std::move(row));
  }
  out["colours"] = std::move(colours);
  out["scale"] = scale_data(panel.scale);
  out["scale"]["clipped_cells"] = panel.clipped_cells;
  add_overlap_notes(out, single, panel);
  // The crystal's own stacking offset in cell units: column 0 is the centre
  // of the first column, row 0 the centre of the first row.
  if (panel.crystal) {
    out["crystal_offset"] = {{"column", ((panel.crystal->x - panel.x) / panel.cell_width) - 0.5},
                             {"row", static_cast<double>(table.rows()) - 0.5 -
                                         ((panel.crystal->y - panel.y) / panel.cell_height)}};
  } else {
    out["crystal_offset"] = nullptr;
  }
  if (minimum) {
    json m;
    put_field(m, "l", minimum->l);
    put_field(m, "s", minimum->s);
    put_field(m, "energy", minimum->energy);
    const std::string& text = minimum->energy.text;
    m["below_zero"] = minimum->energy.overflow() || (!text.empty() && text.front() == '-');
    m["grid_point"] = panel.printed_point ? json{{"row", panel.printed_point->row},
                                                 {"column", panel.printed_point->column}}
                                          : json(nullptr);
    m["printed_is_overlap"] = panel.printed_minimum_overlap;
    out["minimum"] = std::move(m);
  }
  return out;
}

json map_data(const report::Report& report, const std::optional<report::MapContacts>& found) {
  json out;
  put_field(out, "height", *report.map_height);
  const bool has_evdw = report.map && report.has(report::Section::evdw_table);
  const bool has_estat = report.map && report.has(report::Section::estat_table);
  const bool has_etot = report.map && report.has(report::Section::etot_table);
  // A report that ends after the heading, completely, is a shift scan export.
  out["scan_export"] = report.complete && !has_evdw;
  const report::MapTable* first = has_evdw    ? &report.map->evdw
                                  : has_estat ? &report.map->estat
                                  : has_etot  ? &report.map->etot
                                              : nullptr;
  if (first) {
    put_fields(out, "l_shifts", first->l_shifts);
    put_fields(out, "s_shifts", first->s_shifts);
  }
  std::optional<map::StackMap::Crystal> crystal;
  if (const report::Unit* unit = report.stacking_unit()) {
    crystal = map::StackMap::Crystal{unit->centre[0], unit->centre[1],
                                     unit->number.text + " " + unit->name};
  }
  const report::MapContacts contacts = !report.map ? report::MapContacts{}
                                       : found     ? *found
                                                   : report::map_contacts(report);
  add_overlap_grid(out, contacts);
  const bool evdw_minimum = report.has(report::Section::evdw_minimum);
  const bool etot_minimum = report.has(report::Section::etot_minimum);
  out["EvdW"] =
      has_evdw ? table_data(report.map->evdw, evdw_minimum ? &report.map->evdw_minimum : nullptr,
                            crystal, contacts)
               : json(nullptr);
  out["Estat"] =
      has_estat ? table_data(report.map->estat, nullptr, crystal, contacts) : json(nullptr);
  out["Etot"] =
      has_etot ? table_data(report.map->etot, etot_minimum ? &report.map->etot_minimum : nullptr,
                            crystal, contacts)
               : json(nullptr);
  return out;
}

json unit_data(const report::Unit& unit, int atom_set, bool marker,
               const std::optional<report::Field>& lattice) {
  json out;
  put_field(out, "number", unit.number);
  out["name"] = unit.name;
  put_field(out, "d_shortest", unit.shortest_distance);
  put_field(out, "d_center", unit.centre_distance);
  put_fields(out, "centre", unit.centre);
  put_field(out, "dihedral_angle", unit.dihedral_angle);
  put_fields(out, "operation", unit.operation);
  out["operation_text"] =
      marker ? std::string("second atom set as read") : report::symmetry_text(unit.operation);
  out["atom_set"] = atom_set;
  out["marker"] = marker;
  put_field(out, "EvdW", unit.evdw);
  put_field(out, "Estat", unit.estat);
  put_field(out, "Etot", unit.etot);
  if (lattice && lattice->value && *lattice->value != 0.0 && unit.etot.value) {
    out["share"] = *unit.etot.value / *lattice->value;
  } else {
    out["share"] = nullptr;
  }
  return out;
}

}  // namespace

void put_field(json& object, const std::string& key, const report::Field& field) {
  object[key] = value_of(field);
  if (!field.value) {
    object[key + "_printed"] = field.text;
  }
}

std::string formula(const report::Report& report) {
  std::vector<std::pair<std::string, std::size_t>> counts;
  for (const report::Atom& atom : report.atoms) {
    auto it = counts.begin();
    while (it != counts.end() && it->first != atom.symbol) {
      ++it;
    }
    if (it == counts.end()) {
      counts.emplace_back(atom.symbol, 1);
    } else {
      ++it->second;
    }
  }
  // Hill's order: carbon, then hydrogen, then the others alphabetically;
  // without carbon, all alphabetically.
  const bool carbon =
      std::any_of(counts.begin(), counts.end(), [](const auto& c) { return c.first == "C"; });
  auto rank = [carbon](const std::string& symbol) {
    return carbon && symbol == "C" ? 0 : carbon && symbol == "H" ? 1 : 2;
  };
  std::stable_sort(counts.begin(), counts.end(), [&](const auto& x, const auto& y) {
    return rank(x.first) != rank(y.first) ? rank(x.first) < rank(y.first) : x.first < y.first;
  });
  std::string text;
  for (const auto& [symbol, count] : counts) {
    text += symbol;
    if (count > 1) {
      text += std::to_string(count);
    }
  }
  return text;
}

std::string stop_message(const report::Report& report) {
  if (!report.stopped_at) {
    return {};
  }
  return "The report stops at line " + std::to_string(report.stopped_at->line) + ", where " +
         std::string(report::section_name(report.stopped_at->expected)) +
         " should follow: the run ended early. Everything before that line is shown.";
}

json page_data(const report::Report& report, const PageSource& source) {
  if (report.units.empty()) {
    throw PageDataError(report.has(report::Section::units)
                            ? "the report has no unit blocks (the input lists no units)"
                            : "the report stops before its unit blocks: " + stop_message(report));
  }
  json out;
  out["crystal"] = source.crystal;
  out["report"] = source.report_name;
  out["complete"] = report.complete;
  out["stopped_at"] = report.stopped_at
                          ? json{{"line", report.stopped_at->line},
                                 {"expected", report::section_name(report.stopped_at->expected)},
                                 {"message", stop_message(report)}}
                          : json(nullptr);

  json cell;
  put_field(cell, "a", report.cell.a);
  put_field(cell, "b", report.cell.b);
  put_field(cell, "c", report.cell.c);
  put_field(cell, "alpha", report.cell.alpha);
  put_field(cell, "beta", report.cell.beta);
  put_field(cell, "gamma", report.cell.gamma);
  out["cell"] = std::move(cell);
  out["formula"] = formula(report);
  out["atom_count"] = report.atoms.size();

  json elements = json::array();
  for (const report::ElementRow& row : report.elements.rows) {
    json e;
    e["symbol"] = row.symbol;
    put_field(e, "atoms", row.atoms);
    put_field(e, "NEL", row.nel);
    put_field(e, "NOBL", row.nobl);
    put_field(e, "Emin", row.emin);
    put_field(e, "R0", row.r0);
    elements.push_back(std::move(e));
  }
  out["elements"] = std::move(elements);

  json atoms = json::array();
  for (const report::FrameAtom& atom : report.coordinates) {
    json a;
    a["label"] = atom.label;
    a["symbol"] = atom.symbol;
    put_field(a, "element", atom.element);
    put_field(a, "frame_l", atom.l);
    put_field(a, "frame_s", atom.s);
    put_field(a, "frame_v", atom.v);
    put_field(a, "charge", atom.charge);
    atoms.push_back(std::move(a));
  }
  out["atoms"] = std::move(atoms);
  put_field(out, "stack_unit", report.run_parameters.stack_unit);

  // The first unit whose a11 is exactly 5.0 is the second atom set as read;
  // every later unit applies its operation to the second set.
  json units = json::array();
  bool second_set = false;
  for (const report::Unit& unit : report.units) {
    const bool marker = !second_set && unit.marks_second_set();
    second_set = second_set || marker;
    units.push_back(unit_data(unit, second_set ? 2 : 1, marker, report.lattice_etot));
  }
  out["units"] = std::move(units);
  if (report.lattice_etot) {
    put_field(out, "lattice_etot", *report.lattice_etot);
  } else {
    out["lattice_etot"] = nullptr;
  }
  out["map"] = report.map_height ? map_data(report, source.contacts) : json(nullptr);

  if (source.neighbours) {
    json neighbours = json::array();
    for (std::size_t u = 0; u < source.neighbours->units.size(); ++u) {
      json atoms_of_unit = json::array();
      for (const XyzAtom& atom : source.neighbours->units[u]) {
        atoms_of_unit.push_back(
            {{"symbol", atom.symbol}, {"l", atom.l}, {"s", atom.s}, {"v", atom.v}});
      }
      neighbours.push_back({{"unit", u + 1}, {"atoms", std::move(atoms_of_unit)}});
    }
    out["neighbours"] = std::move(neighbours);
  } else {
    out["neighbours"] = nullptr;
  }
  std::string note = source.coordinates_note;
  if (source.neighbours && !source.neighbours->note.empty()) {
    note = source.neighbours->note;
  }
  if (source.neighbours && source.neighbours->dropped_atoms > 0) {
    note += (note.empty() ? "" : "; ") + std::to_string(source.neighbours->dropped_atoms) +
            " atoms with off-scale coordinates left out";
  }
  out["neighbours_note"] = note;
  add_checks(out, report, source);
  out["framework"] = framework_data(build_framework(report, source.symmetry), report);
  out["framework"]["cif_accepted"] = source.cif_accepted;
  return out;
}

}  // namespace zelk8::view
