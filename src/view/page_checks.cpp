#include "page_checks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "contacts.hpp"
#include "unit_geometry.hpp"

namespace zelk8::view {

using nlohmann::json;

json element_names(const report::Report& report) {
  json out = json::array();
  for (std::size_t row = 0; row < report.elements.rows.size(); ++row) {
    const std::string& printed = report.elements.rows[row].symbol;
    std::vector<std::string> symbols;
    for (const report::Atom& atom : report.atoms) {
      if (atom.element.value && *atom.element.value == static_cast<double>(row + 1) &&
          std::find(symbols.begin(), symbols.end(), atom.symbol) == symbols.end()) {
        symbols.push_back(atom.symbol);
      }
    }
    std::string name;
    for (const std::string& symbol : symbols) {
      name += (name.empty() ? "" : "/") + symbol;
    }
    if (name.empty()) {
      name = printed;  // no atom of the list names it
    }
    out.push_back({{"name", name},
                   {"printed", printed},
                   {"note", name == printed ? std::string() : name + ", printed as " + printed}});
  }
  return out;
}

json net_charge(const report::Report& report) {
  double sum = 0.0;
  for (const report::FrameAtom& atom : report.coordinates) {
    if (!atom.charge.value) {
      return {{"value", nullptr}, {"warning", false}};
    }
    sum += *atom.charge.value;
  }
  return {{"value", sum}, {"warning", std::fabs(sum) > net_charge_tolerance}};
}

AxisMoments axis_moments(const report::Report& report) {
  AxisMoments out;
  double m[3][3];
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) {
      if (!report.moments[r][c].value) {
        return out;
      }
      m[r][c] = *report.moments[r][c].value;
    }
  }
  const report::Axis* axes[] = {&report.orientation.vl, &report.orientation.vs,
                                &report.orientation.vv};
  std::array<double, 3> moments{};
  for (std::size_t k = 0; k < 3; ++k) {
    double d[3];
    for (std::size_t j = 0; j < 3; ++j) {
      if (!axes[k]->direction[j].value) {
        return out;
      }
      d[j] = *axes[k]->direction[j].value;
    }
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        moments[k] += d[r] * m[r][c] * d[c];
      }
    }
  }
  out.moments = moments;
  const double largest =
      std::max({std::fabs(moments[0]), std::fabs(moments[1]), std::fabs(moments[2])});
  // Equal relative to the larger of the two; two moments that are both
  // nothing beside the largest (a linear molecule) are equal as well.
  const auto equal = [&](double a, double b) {
    const double larger = std::max(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) <= degenerate_moment_tolerance * larger ||
           larger <= degenerate_moment_tolerance * largest;
  };
  const bool ls = equal(moments[0], moments[1]);
  const bool sv = equal(moments[1], moments[2]);
  const bool lv = equal(moments[0], moments[2]);
  if (largest == 0.0 || (ls && sv) || (ls && lv) || (sv && lv)) {
    out.degenerate = "VL, VS and VV";
  } else if (ls) {
    out.degenerate = "VL and VS";
  } else if (sv) {
    out.degenerate = "VS and VV";
  } else if (lv) {
    out.degenerate = "VL and VV";
  }
  return out;
}

json degenerate_axes(const report::Report& report, const std::optional<json>& prep) {
  const AxisMoments moments = axis_moments(report);
  std::string axes = moments.degenerate;
  std::string source = "the moment tensor";
  if (prep && prep->contains("degenerate_axes") && (*prep)["degenerate_axes"].is_string() &&
      !(*prep)["degenerate_axes"].get<std::string>().empty()) {
    axes = (*prep)["degenerate_axes"].get<std::string>();
    source = "prep.json";
  }
  if (axes.empty()) {
    return nullptr;
  }
  return {{"axes", axes},
          {"source", source},
          {"moments", moments.moments ? json(*moments.moments) : json(nullptr)},
          {"message", "The molecule's moments along " + axes + " are equal (within a relative " +
                          "1e-3, from " + source + "): those axes are arbitrary, and the " +
                          "dihedral angles then carry no meaning."}};
}

json unit_hbonds(const report::Report& report) {
  json out = json::array();
  for (const report::UnitHbond& unit : report::hbond_contacts(report)) {
    json entry = {{"checked", unit.checked}, {"note", unit.note}};
    if (unit.contact) {
      entry["distance"] = unit.contact->distance;
      entry["contact"] = report.atoms[unit.contact->central_atom].label + "..." +
                         report.atoms[unit.contact->unit_atom].label;
    } else {
      entry["distance"] = nullptr;
      entry["contact"] = nullptr;
    }
    out.push_back(std::move(entry));
  }
  return out;
}

std::string hbond_explanation() {
  char limit[16];
  std::snprintf(limit, sizeof limit, "%.1f", report::hbond_contact_max);
  return std::string("H-bond: an H...O, H...N or H...S contact shorter than ") + limit +
         " \u00c5; the model has no hydrogen-bond term, so these units' energies are repulsive "
         "artefacts of the contact, not the strength of the bond.";
}

void add_checks(json& data, const report::Report& report, const PageSource& source) {
  const json names = element_names(report);
  if (data.contains("elements")) {
    for (std::size_t k = 0; k < data["elements"].size() && k < names.size(); ++k) {
      data["elements"][k]["name"] = names[k]["name"];
      data["elements"][k]["name_note"] = names[k]["note"];
    }
  }
  const json charge = net_charge(report);
  data["net_charge"] = charge["value"];
  data["net_charge_warning"] = charge["warning"];
  data["lattice_sum_units"] = report.units.size();
  data["degenerate_axes"] = degenerate_axes(report, source.prep);

  const json hbonds = unit_hbonds(report);
  std::size_t bonded = 0;
  for (std::size_t k = 0; k < hbonds.size() && k < data["units"].size(); ++k) {
    data["units"][k]["hbond"] = hbonds[k];
    bonded += hbonds[k]["distance"].is_null() ? 0 : 1;
  }
  data["hbond_units"] = bonded;
  data["hbond_note"] = hbond_explanation();

  data["prep"] = source.prep ? *source.prep : json(nullptr);
  data["batch_lattice"] = source.lattice ? *source.lattice : json(nullptr);
  data["side_files_note"] = source.side_files_note;
}

}  // namespace zelk8::view
