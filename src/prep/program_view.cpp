#include "program_view.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "crystal.hpp"
#include "stages.hpp"

namespace zelk8::prep {

ProgramView view_in_program(const std::string& input) {
  auto s = std::make_unique<zelk8::RunState>();
  records::InputFile in("zelk8.dat", input);
  std::string report;
  try {
    zelk8::read_molecule(*s, in);
    zelk8::read_cell(*s, in, report);
    zelk8::build_atom_table(*s, report);
    zelk8::build_transfer_matrix(*s, report);
    zelk8::count_heavy_atoms(*s);
    zelk8::build_molecular_frame(*s, report);
    zelk8::build_frame_coordinates(*s);
    zelk8::read_unit_list(*s, in, report);
    zelk8::assign_partial_charges(*s);
  } catch (const records::ReadError& e) {
    throw PrepError(std::string("the written file would not run: ") + e.what());
  }

  ProgramView view;
  auto symbol = [](const records::Text4& text) {
    std::string name(records::view(text));
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
  };
  for (int k = 0; k < s->atom_count; ++k) {
    view.charges.push_back(s->atom_charge[k]);
    view.net_charge += s->atom_charge[k];
    view.central_atoms.push_back({s->frame_l[k], s->frame_s[k], s->frame_v[k]});
    view.symbols.push_back(symbol(s->atom_symbol[k]));
  }
  for (int i = 0; i < 3; ++i)
    view.moments[i] = static_cast<double>(s->axis_length[i]) * s->axis_length[i];
  // Each unit's atoms placed in the central frame as the unit report places
  // them: the operation on the fractional coordinates, the cell's Cartesian
  // position, its offset from the centre of gravity along VL, VS and VV. The
  // marker unit (a11 = 5) places the second atom set as read, and the units
  // after it move that set.
  const auto& c = s->centre_of_gravity;
  bool second_set = false;
  zelk8::AtomArray<float> l{}, sv{}, v{};
  for (int u = 0; u < s->unit_count; ++u) {
    const auto& op = s->unit_ops[u];
    const bool marker = !second_set && op[0] == 5.0f;
    if (marker) second_set = true;
    const auto& [a11, a12, a13, a21, a22, a23, a31, a32, a33, t1, t2, t3, x13, x14, x15] = op;
    for (int k = 0; k < s->atom_count; ++k) {
      const int slot = second_set ? s->atom_count + k : k;
      float x = second_set ? s->frac_x_full[slot] : s->frac_x[k];
      float y = second_set ? s->frac_y_full[slot] : s->frac_y[k];
      float z = second_set ? s->frac_z_full[slot] : s->frac_z[k];
      if (!marker) {
        const float p = ((a11 * x + a12 * y) + a13 * z) + t1;
        const float q = ((a21 * x + a22 * y) + a23 * z) + t2;
        const float r = ((a31 * x + a32 * y) + a33 * z) + t3;
        x = p;
        y = q;
        z = r;
      }
      const zelk8::Cartesian p = zelk8::to_cartesian(*s, x, y, z);
      const float X = p.x - c[0], Y = p.y - c[1], Z = p.z - c[2];
      l[k] = (s->VL[0] * X + s->VL[1] * Y) + s->VL[2] * Z;
      sv[k] = (s->VS[0] * X + s->VS[1] * Y) + s->VS[2] * Z;
      v[k] = (s->VV[0] * X + s->VV[1] * Y) + s->VV[2] * Z;
    }
    std::vector<FramePoint> atoms;
    for (int k = 0; k < s->atom_count; ++k) atoms.push_back({l[k], sv[k], v[k]});
    view.unit_atoms.push_back(std::move(atoms));
    view.unit_centres.push_back(
        zelk8::plain_mean(l.data(), sv.data(), v.data(), s->molecule_atom_count));
  }
  return view;
}

std::vector<int> hydrogen_bonded_units(const ProgramView& view, double contact_max,
                                       std::vector<std::string>* acceptors) {
  auto is_hydrogen = [](const std::string& symbol) { return symbol == "H" || symbol == "D"; };
  auto is_acceptor = [](const std::string& symbol) {
    return symbol == "O" || symbol == "N" || symbol == "S";
  };
  std::vector<int> units;
  const size_t n = view.central_atoms.size();
  for (size_t u = 0; u < view.unit_atoms.size(); ++u) {
    bool bonded = false;
    for (size_t i = 0; i < n; ++i)
      for (size_t k = 0; k < n; ++k) {
        const std::string& a = view.symbols[i];
        const std::string& b = view.symbols[k];
        const bool pair = (is_hydrogen(a) && is_acceptor(b)) || (is_acceptor(a) && is_hydrogen(b));
        if (!pair) continue;
        const FramePoint& p = view.central_atoms[i];
        const FramePoint& q = view.unit_atoms[u][k];
        const double dl = p[0] - q[0], ds = p[1] - q[1], dv = p[2] - q[2];
        if (std::sqrt(dl * dl + ds * ds + dv * dv) >= contact_max) continue;
        bonded = true;
        const std::string& acceptor = is_acceptor(a) ? a : b;
        if (acceptors &&
            std::find(acceptors->begin(), acceptors->end(), acceptor) == acceptors->end())
          acceptors->push_back(acceptor);
      }
    if (bonded) units.push_back(static_cast<int>(u) + 1);
  }
  return units;
}

StackChoice auto_stack(const std::vector<Unit>& units, const ProgramView& view, double min_offset) {
  auto offset_text = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f A", value);
    return std::string(text);
  };
  const Unit* nearest_flat = nullptr;  // the nearest translation too little off along VV
  double nearest_flat_offset = 0.0;
  for (size_t i = 0; i < units.size() && i < view.unit_centres.size(); ++i) {
    const Unit& unit = units[i];
    if (!unit.translation || unit.second || unit.marker) continue;
    const double offset = std::fabs(view.unit_centres[i][2]);
    if (offset < min_offset) {
      if (!nearest_flat) {
        nearest_flat = &unit;
        nearest_flat_offset = offset;
      }
      continue;
    }
    StackChoice choice;
    choice.unit = static_cast<int>(i) + 1;
    choice.reason = unit.name + ", the nearest lattice translation " + offset_text(offset) +
                    " off along VV (face to face)";
    if (nearest_flat)
      choice.reason += "; the nearer " + nearest_flat->name + " is only " +
                       offset_text(nearest_flat_offset) + " off";
    return choice;
  }
  StackChoice none;
  if (!nearest_flat)
    none.reason = "no unit is a pure lattice translation";
  else
    none.reason = "no lattice translation among the units lies " + offset_text(min_offset) +
                  " or more off along VV (the nearest, " + nearest_flat->name + ", " +
                  offset_text(nearest_flat_offset) + "): no face-to-face partner";
  return none;
}

std::string degenerate_axes(const std::array<double, 3>& moments, double tolerance) {
  // Rounding a coordinate moves every moment by an amount that grows with
  // the molecule's size, not with that moment: the scale is the largest.
  const double scale = std::max({moments[0], moments[1], moments[2]});
  auto equal = [&](int i, int j) {
    return std::fabs(moments[i] - moments[j]) <= tolerance * scale;
  };
  const bool first = equal(0, 1), second = equal(1, 2);
  if (first && second) return "VL, VS and VV";
  if (first) return "VL and VS";
  if (second) return "VS and VV";
  return "";
}

}  // namespace zelk8::prep
