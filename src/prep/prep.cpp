#include "prep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "checks.hpp"
#include "crystal.hpp"
#include "files.hpp"
#include "map_range.hpp"
#include "model.hpp"
#include "program_view.hpp"
#include "units.hpp"
#include "vdw_params.hpp"

namespace zelk8::prep {

namespace {

std::string printf_string(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// Warnings in the order they arise, each once.
struct Warnings {
  std::vector<std::string> list;
  void add(const std::string& text) {
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
  }
};

// Refuses implausible bonds unless --force; with it they are warnings.
void check_bonds(const Options& options, const std::vector<std::string>& bonds,
                 const std::function<void(const std::string&)>& warn) {
  if (!bonds.empty() && !options.force) {
    std::string text;
    for (const std::string& bond : bonds) text += "; " + bond;
    throw PrepError("implausible molecule: " + text.substr(2) +
                    ". Check the sites in the CIF, or give --force to write it anyway");
  }
  for (const std::string& bond : bonds) warn(bond);
}

double rounded(double value, double scale) { return std::round(value * scale) / scale; }

// Everything the run decided, for the summary and the JSON file.
struct Outcome {
  const Options& options;
  const Crystal& crystal;
  const Molecule& molecule;
  const UnitSearch& search;
  const RunParams& run;
  const ProgramView& view;
  const Warnings& warnings;
  const Molecule* second;  // the second molecule, when written
};

void write_summary(const Outcome& o, std::ostream& err) {
  char line[240];
  err << "zelk8-prep: " << o.options.cif_path << '\n';
  err << "  block        " << o.crystal.name;
  if (!o.crystal.other_blocks.empty()) {
    err << " (the file's other blocks:";
    for (const std::string& name : o.crystal.other_blocks) err << ' ' << name;
    err << ")";
  }
  err << '\n';
  err << "  formula      " << formula(o.molecule) << '\n';
  err << "  model        " << o.options.model << '\n';
  std::snprintf(line, sizeof line,
                "  cell         a %.4f  b %.4f  c %.4f  alpha %.3f  beta %.3f  gamma %.3f\n",
                o.crystal.cell.a, o.crystal.cell.b, o.crystal.cell.c, o.crystal.cell.alpha,
                o.crystal.cell.beta, o.crystal.cell.gamma);
  err << line;
  err << "  space group  " << (o.crystal.spacegroup.empty() ? "?" : o.crystal.spacegroup) << ", "
      << o.crystal.ops.size() << " operations from " << o.crystal.ops_source << '\n';
  err << "  molecule     " << o.molecule.number << ": " << o.molecule.atoms.size() << " atoms from "
      << o.crystal.sites.size() << " sites; element types";
  for (size_t e = 0; e < o.molecule.elements.size(); ++e)
    err << ' ' << e + 1 << '='
        << (o.molecule.type_keys.empty() ? std::string(o.molecule.elements[e].name())
                                         : o.molecule.type_keys[e]);
  err << '\n';
  if (o.second) {
    auto marker = std::find_if(o.search.units.begin(), o.search.units.end(),
                               [](const Unit& u) { return u.marker; });
    err << "  molecule     " << o.second->number << ": " << o.second->atoms.size()
        << " atoms, written as the second atom set (its image nearest to molecule "
        << o.molecule.number << ")";
    if (marker != o.search.units.end()) err << ", placed by the marker unit " << marker->name;
    err << '\n';
  }
  std::snprintf(line, sizeof line, "  net charge   %.4f e\n", o.view.net_charge);
  err << line;
  const int skip = o.options.skip_units;
  std::snprintf(line, sizeof line, "  units        %d within %.2f A", o.search.inside_cutoff,
                o.options.cutoff);
  err << line;
  if (skip > 0) {
    if (o.search.units.empty())
      err << ", none ranked above " << skip;
    else
      err << ", ranks " << skip + 1 << " to " << skip + o.search.units.size() << " written";
  } else if (o.search.inside_cutoff > max_units) {
    err << ", the nearest 20 written";
  }
  err << '\n';
  for (const Unit& unit : o.search.units) {
    std::snprintf(line, sizeof line, "    %-4s %8.4f A   %s\n", unit.name.c_str(), unit.distance,
                  unit_triplet(unit).c_str());
    err << line;
  }
  const int stack = o.run.stack_unit;
  if (stack == 0) {
    err << "  stack unit   0 (no shift map)\n";
  } else if (stack <= static_cast<int>(o.search.units.size())) {
    const std::array<float, 3>& c = o.view.unit_centres[stack - 1];
    std::snprintf(line, sizeof line, " at VL %.3f VS %.3f VV %.3f A", c[0], c[1], c[2]);
    err << "  stack unit   " << stack << " (" << o.search.units[stack - 1].name << ")" << line
        << "\n";
  } else {
    err << "  stack unit   " << stack << '\n';
  }
  if (stack != 0 && o.run.map) {
    const auto& m = o.run.map_values;
    std::snprintf(line, sizeof line,
                  "  map          VL %g to %g by %g, VS %g to %g by %g, height %g%s\n", m[0], m[1],
                  m[2], m[3], m[4], m[5], m[6],
                  o.options.map_given ? "" : " (around the stacking unit)");
    err << line;
  }
  for (const std::string& text : o.warnings.list) err << "zelk8-prep: warning: " << text << '\n';
}

std::string summary_json(const Outcome& o) {
  nlohmann::ordered_json j;
  auto text_or_null = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
  };
  std::string compact = formula(o.molecule);
  compact.erase(std::remove(compact.begin(), compact.end(), ' '), compact.end());
  j["cif"] = o.options.cif_path;
  j["block"] = o.crystal.name;
  j["other_blocks"] = o.crystal.other_blocks;
  j["formula"] = compact;
  j["cif_formula"] = text_or_null(o.crystal.formula_sum.empty() ? o.crystal.formula_moiety
                                                                : o.crystal.formula_sum);
  j["space_group"] = text_or_null(o.crystal.spacegroup);
  j["molecules_in_asymmetric_unit"] = o.molecule.molecule_count;
  j["z_prime_written"] = o.second ? 2 : 1;
  j["atoms"] = o.molecule.atoms.size();
  j["element_types"] = o.molecule.elements.size();
  j["within_cutoff"] = o.search.inside_cutoff;
  nlohmann::ordered_json units = nlohmann::ordered_json::array();
  for (const Unit& unit : o.search.units)
    units.push_back({{"rank", unit.rank},
                     {"name", unit.name},
                     {"molecule", unit.second ? 2 : 1},
                     {"distance", rounded(unit.distance, 1e4)},
                     {"operation", unit_triplet(unit)}});
  j["units"] = units;
  j["stack_unit"] = o.run.stack_unit;
  j["net_charge"] = rounded(o.view.net_charge, 1e4);
  j["model"] = o.options.model;
  j["charges"] = o.run.charges;
  j["warnings"] = o.warnings.list;
  return j.dump(2) + "\n";
}

int run_on(const std::vector<std::string>& args, const std::string* cif_text, std::ostream& out,
           std::ostream& err) {
  try {
    Command command = parse_command_line(args);
    if (command.print) {
      out << *command.print;
      return 0;
    }
    const Options& options = command.options;
    Warnings warnings;
    auto warn = [&](const std::string& text) { warnings.add(text); };

    Crystal crystal = cif_text ? read_crystal_text(*cif_text, options.cif_path, options.block)
                               : read_crystal(options.cif_path, options.block);
    for (const std::string& text : crystal.warnings) warn(text);
    for (const Site& site : crystal.sites)
      if (site.occ < 1.0 - 1e-6) {
        if (!options.ignore_occupancy)
          throw PrepError("site " + site.label + " has occupancy " + printf_string(site.occ) +
                          " (disorder); resolve it in the CIF or give --ignore-occupancy");
        warn("site " + site.label + " has occupancy " + printf_string(site.occ) +
             "; taken as a whole atom");
      }

    MoleculeOptions molecule_options;
    molecule_options.number = options.molecule;
    molecule_options.bond_tolerance = options.bond_tolerance;
    Molecule molecule = build_molecule(crystal, molecule_options);

    const std::string& cif_formula =
        crystal.formula_sum.empty() ? crystal.formula_moiety : crystal.formula_sum;
    if (!cif_formula.empty()) {
      std::optional<std::string> mismatch = formula_mismatch(
          molecule, cif_formula,
          crystal.formula_sum.empty() ? "_chemical_formula_moiety" : "_chemical_formula_sum");
      if (mismatch) warn(*mismatch);
    }
    check_bonds(options, implausible_bonds(crystal, molecule, options.bond_tolerance), warn);

    const Model model = find_model(options.model);
    VdwTable vdw = model.vdw;
    if (!options.params_path.empty()) read_vdw_params(options.params_path, vdw);
    // A model with bond increments orders the types (a polar hydrogen type
    // of its own) and chooses the increments that keep the molecule neutral.
    std::optional<std::array<double, 4>> model_charges;
    if (!model.increments.empty()) {
      Layout layout = choose_layout(crystal.cell, molecule, model, options.bond_tolerance);
      const std::vector<double> target = target_charges(crystal.cell, layout.molecule, layout.keys,
                                                        model.increments, options.bond_tolerance);
      model_charges = written_increments(increments_for(layout, target),
                                         static_cast<int>(layout.molecule.elements.size()));
      molecule = std::move(layout.molecule);
    }

    const int skip = options.skip_units;
    // Two molecules in the asymmetric unit: the second is written as the
    // second atom set, atom for atom in the first's order, and its images
    // join the units.
    std::optional<Molecule> other;
    std::vector<gemmi::Fractional> second_set;
    if (molecule.molecule_count == 2 && !options.single) {
      MoleculeOptions other_options = molecule_options;
      other_options.number = 3 - molecule.number;
      Molecule candidate = build_molecule(crystal, other_options);
      std::optional<std::vector<int>> order;
      if (formula(candidate) == formula(molecule))
        order = corresponding_atoms(crystal.cell, molecule, candidate, options.bond_tolerance);
      const std::string only = "only molecule " + std::to_string(molecule.number) +
                               "'s neighbours are written (--molecule N chooses)";
      if (!order) {
        warn(formula(candidate) == formula(molecule)
                 ? "the asymmetric unit holds 2 molecules of " + formula(molecule) +
                       " whose bonds differ; " + only
                 : "the asymmetric unit holds 2 molecules that differ (" + formula(molecule) +
                       "; " + formula(candidate) + "); " + only);
      } else if (skip > 0) {
        warn("--skip-units writes the images of molecule " + std::to_string(molecule.number) +
             " only; the asymmetric unit holds 2 molecules");
      } else if (2 * molecule.atoms.size() > 200) {
        warn("two molecules of " + std::to_string(molecule.atoms.size()) +
             " atoms exceed the 100 atoms a second atom set allows; " + only);
      } else {
        check_bonds(options, implausible_bonds(crystal, candidate, options.bond_tolerance), warn);
        for (int k : *order) second_set.push_back(candidate.atoms[k].fract);
        other = std::move(candidate);
      }
    } else if (molecule.molecule_count > 2) {
      warn("the asymmetric unit holds " + std::to_string(molecule.molecule_count) +
           " molecules; only molecule " + std::to_string(molecule.number) +
           "'s neighbours are written");
    }
    UnitSearch search = other ? find_pair_units(crystal, molecule, second_set, options.cutoff)
                              : find_units(crystal, molecule, options.cutoff, skip);
    const std::vector<gemmi::Fractional>* second = other ? &search.second_set : nullptr;
    RunParams run = options.run;
    if (model_charges && !options.charges_given) run.charges = *model_charges;
    if (options.no_map)
      run.stack_unit = 0;
    else if (options.stack)
      run.stack_unit = *options.stack;
    else if (skip > 0 && !options.map_given)
      run.stack_unit = 0;  // a further shell: its units only, no map
    else
      run.stack_unit = nearest_translation(search.units);
    run.map = !options.no_map;
    std::string text = write_input(crystal.cell, molecule, vdw, search.units, run, nullptr, second);

    // The program reads the file back: its frame places the stacking
    // partner, around which the default map is laid, and its charge stage
    // gives the net charge.
    ProgramView view = view_in_program(text);
    const bool stack_names_unit = run.stack_unit >= 1 && run.stack_unit <= 40 &&
                                  run.stack_unit <= static_cast<int>(view.unit_centres.size());
    if (run.stack_unit != 0 && run.map && !options.map_given && stack_names_unit) {
      const std::array<float, 3>& c = view.unit_centres[run.stack_unit - 1];
      run.map_values = default_map(c[0], c[1]);
      text = write_input(crystal.cell, molecule, vdw, search.units, run, nullptr, second);
    }

    std::vector<std::string> inexact;
    write_input(crystal.cell, molecule, vdw, search.units, run, &inexact, second);
    for (const std::string& text : inexact) warn(text);
    if (model.increments.empty())
      for (const std::string& text : element_warnings(molecule)) warn(text);
    if (std::fabs(view.net_charge) > 0.005) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "the molecule's net charge is %+.4f e with the charge increments %g,%g,%g,%g; "
                    "its electrostatic lattice sum does not converge (check --charges)",
                    view.net_charge, run.charges[0], run.charges[1], run.charges[2],
                    run.charges[3]);
      warn(line);
    }
    if (skip == 0 && search.inside_cutoff > max_units)
      warn(std::to_string(search.inside_cutoff) +
           " units lie within the cutoff; only the nearest " + std::to_string(max_units) +
           " are written");
    // A cut inside a set of units at one centroid distance (symmetry
    // equivalents) counts some of them and not the others.
    if (skip == 0 && search.inside_cutoff > max_units &&
        search.distances[max_units] - search.distances[max_units - 1] < 0.01) {
      const double d = search.distances[max_units - 1];
      int first = max_units - 1, last = max_units;
      while (first > 0 && d - search.distances[first - 1] < 0.01) --first;
      while (last + 1 < search.inside_cutoff && search.distances[last + 1] - d < 0.01) ++last;
      char line[240];
      std::snprintf(line, sizeof line,
                    "the 20 units written end inside a set of %d units at %.2f A, of which %d "
                    "are written; --cutoff %.2f writes none of the set, or take the rest with "
                    "--skip-units 20",
                    last - first + 1, d, max_units - first,
                    std::floor((search.distances[first] - 0.01) * 100.0) / 100.0);
      warn(line);
    }
    if (search.units.empty())
      warn(skip > 0 ? "no unit ranked above " + std::to_string(skip) + " lies within the cutoff"
                    : std::string("no unit lies within the cutoff"));
    if (!options.stack && !options.no_map && run.stack_unit == 0 &&
        (skip == 0 || options.map_given))
      warn("no unit is a pure lattice translation: stacking unit 0, no shift map");
    if (run.stack_unit > static_cast<int>(search.units.size()) && run.stack_unit <= 40)
      warn("stacking unit " + std::to_string(run.stack_unit) + " names no unit (there are " +
           std::to_string(search.units.size()) + ")");

    Outcome outcome{options, crystal, molecule, search,
                    run,     view,    warnings, other ? &*other : nullptr};
    write_summary(outcome, err);
    if (!options.json_path.empty()) write_whole_file(options.json_path, summary_json(outcome));
    if (options.output_path.empty()) {
      out << text;
    } else {
      write_whole_file(options.output_path, text);
    }
    return 0;
  } catch (const PrepError& e) {
    err << "zelk8-prep: error: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    // What the CIF library refuses that the checks above did not foresee.
    err << "zelk8-prep: error: " << (args.empty() ? std::string() : args.front() + ": ") << e.what()
        << '\n';
    return 2;
  }
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return run_on(args, nullptr, out, err);
}

int run_on_text(const std::string& cif_text, const std::vector<std::string>& args,
                std::ostream& out, std::ostream& err) {
  return run_on(args, &cif_text, out, err);
}

}  // namespace zelk8::prep
