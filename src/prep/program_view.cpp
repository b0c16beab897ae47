#include "program_view.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "crystal.hpp"
#include "program.hpp"

namespace zelk8::prep {

ProgramView view_in_program(const std::string& input) {
  // The map is not needed here: the run stops after the unit report.
  const zelk8::RunResult run = zelk8::run_text(input, 1, zelk8::RunStages::through_units);
  if (run.status != 0 || !run.frame)
    throw PrepError("the written file would not run: " + run.diagnostic);

  ProgramView view;
  auto symbol = [](const records::Text4& text) {
    std::string name(records::view(text));
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
  };
  const zelk8::FrameResult& frame = *run.frame;
  for (size_t k = 0; k < frame.l.size(); ++k) {
    view.charges.push_back(frame.charge[k]);
    view.net_charge += frame.charge[k];
    view.central_atoms.push_back({frame.l[k], frame.s[k], frame.v[k]});
    view.symbols.push_back(symbol(frame.symbol[k]));
  }
  for (int i = 0; i < 3; ++i)
    view.moments[i] = static_cast<double>(frame.axis_length[i]) * frame.axis_length[i];
  // Each unit placed in the central frame by the program's unit report.
  for (const zelk8::PlacedUnit& unit : run.units) {
    std::vector<FramePoint> atoms;
    for (size_t k = 0; k < unit.l.size(); ++k) atoms.push_back({unit.l[k], unit.s[k], unit.v[k]});
    view.unit_atoms.push_back(std::move(atoms));
    view.unit_centres.push_back(unit.centre);
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
