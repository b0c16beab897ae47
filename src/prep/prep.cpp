#include "prep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>

#include "checks.hpp"
#include "contacts.hpp"
#include "crystal.hpp"
#include "files.hpp"
#include "map_range.hpp"
#include "model.hpp"
#include "program_view.hpp"
#include "units.hpp"
#include "vdw_params.hpp"
#include "warnings.hpp"

namespace zelk8::prep {

namespace {

std::string printf_string(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// Refuses implausible bonds unless --accept-bonds; with it they are warnings.
void check_bonds(const Options& options, const std::vector<std::string>& bonds,
                 const std::function<void(const std::string&)>& warn) {
  if (!bonds.empty() && !options.accept_bonds) {
    std::string text;
    for (const std::string& bond : bonds) text += "; " + bond;
    throw PrepError("implausible molecule: " + text.substr(2) +
                    ". Check the sites in the CIF, or give --accept-bonds to write it anyway");
  }
  for (const std::string& bond : bonds) warn(bond);
}

// Two principal moments equal within this fraction make their axes
// arbitrary (see the README's Methods).
constexpr double degenerate_tolerance = 1e-3;
// A stacking partner lies at least this far off the central plane.
constexpr double face_to_face_offset = 3.0;

double rounded(double value, double scale) { return std::round(value * scale) / scale; }

// Everything the run decided, for the summary and the JSON file.
struct Outcome {
  const Options& options;
  const Crystal& crystal;
  const Molecule& molecule;
  const UnitSearch& search;
  const RunParams& run;
  const ProgramView& view;
  const std::vector<std::string>& warnings;
  const Molecule* second;  // the second molecule, when written
  std::string stack_reason;
  std::vector<int> hbond_units;
  std::string degenerate_axes;
  bool formula_accepted = false;
};

// How many of the CIF's sites the molecule's atoms come from.
int sites_used(const Molecule& molecule) {
  std::vector<int> sites;
  for (const MoleculeAtom& atom : molecule.atoms) sites.push_back(atom.site);
  std::sort(sites.begin(), sites.end());
  return static_cast<int>(std::unique(sites.begin(), sites.end()) - sites.begin());
}

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
  err << "  molecule     " << o.molecule.number << ": " << o.molecule.atoms.size()
      << " atoms from ";
  const int used = sites_used(o.molecule);
  if (used == static_cast<int>(o.crystal.sites.size()))
    err << used << " sites";
  else
    err << used << " of the " << o.crystal.sites.size() << " sites (the asymmetric unit holds "
        << o.molecule.molecule_count << " molecules)";
  err << "; element types";
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
      err << ", ranks " << skip + 1 << " to "
          << std::max_element(o.search.units.begin(), o.search.units.end(),
                              [](const Unit& p, const Unit& q) { return p.rank < q.rank; })
                 ->rank
          << " written";
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
    err << "  stack unit   0 (no shift map)";
  } else if (stack <= static_cast<int>(o.search.units.size())) {
    const std::array<float, 3>& c = o.view.unit_centres[stack - 1];
    std::snprintf(line, sizeof line, " at VL %.3f VS %.3f VV %.3f A", c[0], c[1], c[2]);
    err << "  stack unit   " << stack << " (" << o.search.units[stack - 1].name << ")" << line;
  } else {
    err << "  stack unit   " << stack;
  }
  err << ": " << o.stack_reason << '\n';
  if (stack != 0 && o.run.map) {
    const auto& m = o.run.map_values;
    std::snprintf(line, sizeof line,
                  "  map          VL %g to %g by %g, VS %g to %g by %g, height %g%s\n", m[0], m[1],
                  m[2], m[3], m[4], m[5], m[6],
                  o.options.map_given ? "" : " (around the stacking unit)");
    err << line;
  }
}

Summary summary_of(const Outcome& o) {
  Summary j;
  auto text_or_null = [](const std::string& text) {
    return text.empty() ? std::optional<std::string>() : std::optional<std::string>(text);
  };
  std::string compact = formula(o.molecule);
  compact.erase(std::remove(compact.begin(), compact.end(), ' '), compact.end());
  j.cif = o.options.cif_path;
  j.block = o.crystal.name;
  j.other_blocks = o.crystal.other_blocks;
  j.formula = compact;
  j.cif_formula = text_or_null(o.crystal.formula_sum.empty() ? o.crystal.formula_moiety
                                                             : o.crystal.formula_sum);
  j.space_group = text_or_null(o.crystal.spacegroup);
  j.molecules_in_asymmetric_unit = o.molecule.molecule_count;
  j.z_prime_written = o.second ? 2 : 1;
  j.atoms = static_cast<int>(o.molecule.atoms.size());
  j.element_types = static_cast<int>(o.molecule.elements.size());
  j.within_cutoff = o.search.inside_cutoff;
  for (const Unit& unit : o.search.units)
    j.units.push_back({unit.rank, unit.name, unit.second ? 2 : 1, rounded(unit.distance, 1e4),
                       unit_triplet(unit)});
  j.unit_cutoff = o.options.cutoff;
  j.stack_unit = o.run.stack_unit;
  j.stack_reason = o.stack_reason;
  j.net_charge = rounded(o.view.net_charge, 1e4);
  j.model = o.options.model;
  j.charges = o.run.charges;
  j.hbond_units = o.hbond_units;
  j.degenerate_axes = o.degenerate_axes;
  j.formula_accepted = o.formula_accepted;
  j.warnings = o.warnings;
  return j;
}

// What the crystal and the options make of the molecule before any unit
// is chosen: the same for every shell of units around it.
struct Chemistry {
  MoleculeOptions molecule_options;
  Molecule molecule;
  Model model;
  VdwTable vdw;
  std::optional<std::array<double, 4>> model_charges;
  // Two molecules in the asymmetric unit, the second written as the second
  // atom set: that molecule, and its atoms in the first's order.
  std::optional<Molecule> other;
  std::vector<gemmi::Fractional> second_set;
  bool formula_accepted = false;
};

Chemistry chemistry(const Crystal& crystal, const Options& options, Warnings& warnings) {
  auto warn = [&](const std::string& text) { warnings.add(text); };
  for (const std::string& text : crystal.warnings) warn(text);
  for (const Site& site : crystal.sites)
    if (site.occ < 1.0 - 1e-6) {
      const std::string occ = printf_string(site.occ);
      if (!options.ignore_occupancy)
        throw PrepError("site " + site.label + " has occupancy " + occ +
                        " (disorder); resolve it in the CIF or give --ignore-occupancy");
      warnings.add_to("occupancy " + occ, site.label, [occ](const std::vector<std::string>& s) {
        return s.size() == 1 ? "site " + s[0] + " has occupancy " + occ + "; taken as a whole atom"
                             : std::to_string(s.size()) + " sites (" + listed(s) +
                                   ") have occupancy " + occ + "; taken as whole atoms";
      });
    }

  Chemistry c;
  c.molecule_options.number = options.molecule;
  c.molecule_options.bond_tolerance = options.bond_tolerance;
  c.molecule = build_molecule(crystal, c.molecule_options);
  Molecule& molecule = c.molecule;

  // The built molecule against the CIF's own formula, before anything
  // else is said about it: a molecule that is not the CIF's (a file cut
  // short, sites missing) is an error unless accepted.
  const std::string& cif_formula =
      crystal.formula_sum.empty() ? crystal.formula_moiety : crystal.formula_sum;
  if (!cif_formula.empty()) {
    std::optional<std::string> mismatch = formula_mismatch(
        molecule, cif_formula,
        crystal.formula_sum.empty() ? "_chemical_formula_moiety" : "_chemical_formula_sum");
    if (mismatch && !parse_formula(cif_formula)) {
      warn(*mismatch);  // not a formula this tool reads: not compared
    } else if (mismatch && !options.accept_formula) {
      throw PrepError(*mismatch + "; or give --accept-formula to write this molecule anyway");
    } else if (mismatch) {
      warn(*mismatch + " (written as built: --accept-formula)");
      c.formula_accepted = true;
    }
  }
  check_bonds(options, implausible_bonds(crystal, molecule, options.bond_tolerance), warn);

  c.model = find_model(options.model);
  c.vdw = c.model.vdw;
  if (!options.params_path.empty()) read_vdw_params(options.params_path, c.vdw);
  // A model with bond increments orders the types (a polar hydrogen type
  // of its own) and chooses the increments that keep the molecule neutral.
  if (!c.model.increments.empty()) {
    Layout layout = choose_layout(crystal.cell, molecule, c.model, options.bond_tolerance);
    const std::vector<double> target = target_charges(crystal.cell, layout.molecule, layout.keys,
                                                      c.model.increments, options.bond_tolerance);
    c.model_charges = written_increments(increments_for(layout, target),
                                         static_cast<int>(layout.molecule.elements.size()));
    molecule = std::move(layout.molecule);
  }

  // Two molecules in the asymmetric unit: the second is written as the
  // second atom set, atom for atom in the first's order, and its images
  // join the units.
  if (molecule.molecule_count == 2 && !options.single) {
    MoleculeOptions other_options = c.molecule_options;
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
               : "the asymmetric unit holds 2 molecules that differ (" + formula(molecule) + "; " +
                     formula(candidate) + "); " + only);
    } else if (2 * molecule.atoms.size() > 200) {
      warn("two molecules of " + std::to_string(molecule.atoms.size()) +
           " atoms exceed the 100 atoms a second atom set allows; " + only);
    } else {
      check_bonds(options, implausible_bonds(crystal, candidate, options.bond_tolerance), warn);
      for (int k : *order) c.second_set.push_back(candidate.atoms[k].fract);
      c.other = std::move(candidate);
    }
  } else if (molecule.molecule_count > 2) {
    warn("the asymmetric unit holds " + std::to_string(molecule.molecule_count) +
         " molecules; only molecule " + std::to_string(molecule.number) +
         "'s neighbours are written (--molecule N chooses)");
  }
  return c;
}

UnitImages unit_images(const Crystal& crystal, const Chemistry& c, double cutoff) {
  return c.other ? find_pair_unit_images(crystal, c.molecule, c.second_set, cutoff)
                 : find_unit_images(crystal, c.molecule, cutoff);
}

}  // namespace

std::string Prepared::json() const {
  const Summary& s = summary;
  nlohmann::ordered_json j;
  auto text_or_null = [](const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
  };
  j["cif"] = s.cif;
  j["block"] = s.block;
  j["other_blocks"] = s.other_blocks;
  j["formula"] = s.formula;
  j["cif_formula"] = text_or_null(s.cif_formula);
  j["space_group"] = text_or_null(s.space_group);
  j["molecules_in_asymmetric_unit"] = s.molecules_in_asymmetric_unit;
  j["z_prime_written"] = s.z_prime_written;
  j["atoms"] = s.atoms;
  j["element_types"] = s.element_types;
  j["within_cutoff"] = s.within_cutoff;
  nlohmann::ordered_json units = nlohmann::ordered_json::array();
  for (const SummaryUnit& unit : s.units)
    units.push_back({{"rank", unit.rank},
                     {"name", unit.name},
                     {"molecule", unit.molecule},
                     {"distance", unit.distance},
                     {"operation", unit.operation}});
  j["units"] = units;
  j["unit_cutoff"] = s.unit_cutoff;
  j["stack_unit"] = s.stack_unit;
  j["stack_reason"] = s.stack_reason;
  j["net_charge"] = s.net_charge;
  j["model"] = s.model;
  j["charges"] = s.charges;
  j["hbond_units"] = s.hbond_units.size();
  j["hbond_unit_numbers"] = s.hbond_units;
  j["degenerate_axes"] = s.degenerate_axes;
  j["formula_accepted"] = s.formula_accepted;
  j["warnings"] = s.warnings;
  return j.dump(2) + "\n";
}

Prepared prepare(const Crystal& crystal, const Options& options) {
  Warnings warnings;
  auto warn = [&](const std::string& text) { warnings.add(text); };
  const Chemistry c = chemistry(crystal, options, warnings);
  const Molecule& molecule = c.molecule;
  const VdwTable& vdw = c.vdw;
  const int skip = options.skip_units;
  UnitSearch search = take_units(unit_images(crystal, c, options.cutoff), skip);
  const std::vector<gemmi::Fractional>* second = c.other ? &search.second_set : nullptr;
  const int unit_count = static_cast<int>(search.units.size());
  // 1 to 40 name a unit (41 and above ask for the scan export).
  if (options.stack && *options.stack >= 1 && *options.stack <= 40 && *options.stack > unit_count)
    throw PrepError(
        "--stack " + std::to_string(*options.stack) + " names no unit: there " +
        (unit_count == 1 ? "is 1 unit" : "are " + std::to_string(unit_count) + " units") +
        (unit_count > 0 ? " (1 to " + std::to_string(unit_count) + ")" : std::string()) +
        "; give --stack auto, 0, or a unit that exists");

  RunParams run = options.run;
  if (c.model_charges && !options.charges_given) run.charges = *c.model_charges;
  run.map = !options.no_map;
  run.stack_unit = options.stack && !options.no_map ? *options.stack : 0;
  std::string text = write_input(crystal.cell, molecule, vdw, search.units, run, nullptr, second);

  // The program reads the file back: its frame places the stacking
  // partner, around which the default map is laid, and its charge stage
  // gives the net charge.
  ProgramView view = view_in_program(text);
  std::string stack_reason;
  if (options.no_map) {
    stack_reason = "given by --no-map";
  } else if (options.stack) {
    stack_reason = "given by --stack " + std::to_string(*options.stack);
  } else if (skip > 0 && !options.map_given) {
    stack_reason = "a further shell (--skip-units " + std::to_string(skip) +
                   "): no map unless --stack or --map is given";
  } else {
    StackChoice choice = auto_stack(search.units, view, face_to_face_offset);
    run.stack_unit = choice.unit;
    stack_reason = choice.reason;
    if (choice.unit == 0)
      warn(choice.reason + ": stacking unit 0, no shift map (--stack N names one)");
  }
  const bool stack_names_unit = run.stack_unit >= 1 && run.stack_unit <= 40 &&
                                run.stack_unit <= static_cast<int>(view.unit_centres.size());
  if (run.stack_unit != 0 && run.map && !options.map_given && stack_names_unit) {
    const std::array<float, 3>& c = view.unit_centres[run.stack_unit - 1];
    run.map_values = default_map(c[0], c[1]);
  }
  std::vector<InexactField> inexact;
  text = write_input(crystal.cell, molecule, vdw, search.units, run, &inexact, second);
  if (!inexact.empty()) warn(inexact_warning(inexact));
  if (c.model.increments.empty())
    for (const std::string& text : element_warnings(molecule)) warn(text);

  const std::string degenerate = degenerate_axes(view.moments, degenerate_tolerance);
  if (!degenerate.empty())
    warn("the molecule's principal moments along " + degenerate +
         " are equal within 0.1 % of the largest: those axes are " +
         (degenerate.find(',') == std::string::npos ? "any two perpendicular lines of their plane"
                                                    : "any three perpendicular directions") +
         ", so the dihedral angles and the map axes carry no meaning");

  std::vector<std::string> acceptors;
  const std::vector<int> hbonded =
      hydrogen_bonded_units(view, zelk8::report::hbond_contact_max, &acceptors);
  // A model with polar hydrogen types was fitted with its hydrogen bonds.
  if (!hbonded.empty() && !c.model.polar_hydrogen_type) {
    std::vector<std::string> numbers;
    for (int unit : hbonded) numbers.push_back(std::to_string(unit));
    std::string kinds;
    for (const std::string& acceptor : acceptors) kinds += (kinds.empty() ? "" : "/") + acceptor;
    warn("the model has no hydrogen-bond term: unit" +
         std::string(hbonded.size() == 1 ? " " : "s ") + listed(numbers, max_units) +
         (hbonded.size() == 1 ? " has" : " have") + " H..." + kinds + " contacts below " +
         printf_string(zelk8::report::hbond_contact_max) +
         " A, their energies are repulsive artefacts of that");
  }

  if (std::fabs(view.net_charge) > 0.005) {
    char line[320];
    std::snprintf(line, sizeof line,
                  "the molecule's net charge is %+.4f e with the charge increments %g,%g,%g,%g; "
                  "its electrostatic lattice sum does not converge: give --charges increments "
                  "under which the molecule is neutral",
                  view.net_charge, run.charges[0], run.charges[1], run.charges[2], run.charges[3]);
    std::string advice = line;
    // The hydrogen increment alone is given back by each hydrogen's
    // neighbour, unless the last element type is no hydrogen; without
    // increments there are no charges at all.
    for (const std::array<double, 4>& charges :
         {std::array<double, 4>{run.charges[0], 0.0, 0.0, 0.0}, std::array<double, 4>{}}) {
      if (charges == run.charges) continue;
      RunParams plain = run;
      plain.charges = charges;
      const std::string trial =
          write_input(crystal.cell, molecule, vdw, search.units, plain, nullptr, second);
      if (std::fabs(view_in_program(trial).net_charge) > 0.005) continue;
      advice += " (--charges " + printf_string(charges[0]) + ",0,0,0 is" +
                (charges[0] == 0.0 ? ", with no electrostatic term)" : ")");
      break;
    }
    warn(advice);
  }
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
                  "%s written; --cutoff %.2f writes none of the set, or take the rest with "
                  "--skip-units 20",
                  last - first + 1, d, max_units - first, max_units - first == 1 ? "is" : "are",
                  std::floor((search.distances[first] - 0.01) * 100.0) / 100.0);
    warn(line);
  }
  if (search.units.empty())
    warn(skip > 0 ? "no unit ranked above " + std::to_string(skip) + " lies within the cutoff"
                  : std::string("no unit lies within the cutoff (a larger --cutoff finds them)"));
  else if (skip == 0 && unit_count < max_units)
    warn("only " + std::to_string(unit_count) + " units lie within the cutoff of " +
         printf_string(options.cutoff) + " A; a larger --cutoff writes the nearest 20");

  Prepared prepared;
  prepared.warnings = warnings.lines();
  const Outcome outcome{options,      crystal, molecule,          search,
                        run,          view,    prepared.warnings, c.other ? &*c.other : nullptr,
                        stack_reason, hbonded, degenerate,        c.formula_accepted};
  std::ostringstream summary;
  write_summary(outcome, summary);
  prepared.summary_text = summary.str();
  prepared.summary = summary_of(outcome);
  prepared.input = std::move(text);
  return prepared;
}

LatticeShells lattice_shell_inputs(const Crystal& crystal, const Options& given, double radius,
                                   int molecule) {
  // The options of a shell: no map, the radius as the unit cutoff; the
  // units, the stacking unit and the map of the crystal's own run do not apply.
  Options options = given;
  options.no_map = true;
  options.stack.reset();
  options.map_given = false;
  options.run.map_values = RunParams{}.map_values;
  options.cutoff = radius;
  options.skip_units = 0;
  if (molecule) {
    options.molecule = molecule;
    options.single = false;
  }
  Warnings warnings;  // a shell's warnings are the crystal's own run's
  const Chemistry c = chemistry(crystal, options, warnings);
  RunParams run = options.run;
  if (c.model_charges && !options.charges_given) run.charges = *c.model_charges;
  run.map = false;
  run.stack_unit = 0;

  const UnitImages images = unit_images(crystal, c, radius);
  LatticeShells result;
  result.within = static_cast<int>(images.ranked.size());
  result.second_written = c.other.has_value();
  for (int skip = 0, molecules = 0;;) {
    const UnitSearch search = take_units(images, skip);
    LatticeShell& shell = result.shells.emplace_back();
    shell.skip = skip;
    shell.input = write_input(crystal.cell, c.molecule, c.vdw, search.units, run, nullptr,
                              c.other ? &search.second_set : nullptr);
    // A unit ranked at most `skip` is the second molecule's marker, written
    // again only to place that molecule's images.
    int ranked = 0, last = skip;
    for (const Unit& unit : search.units) {
      shell.ranks.push_back(unit.rank);
      if (unit.rank > skip) {
        ++ranked;
        last = std::max(last, unit.rank);
      }
    }
    molecules += ranked;
    if (ranked == 0 || molecules >= result.within) break;
    skip = last;
  }
  return result;
}

namespace {

int run_on(const std::vector<std::string>& args, const std::string* cif_text, std::ostream& out,
           std::ostream& err) {
  try {
    Command command = parse_command_line(args);
    if (command.print) {
      out << *command.print;
      return 0;
    }
    const Options& options = command.options;
    const Crystal crystal = cif_text ? read_crystal_text(*cif_text, options.cif_path, options.block)
                                     : read_crystal(options.cif_path, options.block);
    const Prepared prepared = prepare(crystal, options);
    err << prepared.summary_text;
    for (const std::string& text : prepared.warnings)
      err << "zelk8-prep: warning: " << text << '\n';
    if (!options.json_path.empty()) write_whole_file(options.json_path, prepared.json());
    if (options.output_path.empty()) {
      out << prepared.input;
      out.flush();
      if (!out) throw OutputError("cannot write the input file to standard output");
    } else {
      write_whole_file(options.output_path, prepared.input);
    }
    return 0;
  } catch (const OutputError& e) {
    err << "zelk8-prep: error: " << e.what() << '\n';
    return 3;
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
