#include "prep.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "crystal.hpp"
#include "files.hpp"
#include "map_range.hpp"
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

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    Command command = parse_command_line(args);
    if (command.print) {
      out << *command.print;
      return 0;
    }
    const Options& options = command.options;
    auto warn = [&](const std::string& text) { err << "zelk8-prep: warning: " << text << '\n'; };

    Crystal crystal = read_crystal(options.cif_path);
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

    VdwTable vdw = builtin_vdw_table();
    if (!options.params_path.empty()) read_vdw_params(options.params_path, vdw);

    UnitSearch search = find_units(crystal, molecule, options.cutoff);
    RunParams run = options.run;
    if (options.no_map)
      run.stack_unit = 0;
    else if (options.stack)
      run.stack_unit = *options.stack;
    else
      run.stack_unit = nearest_translation(search.units);
    run.map = !options.no_map;
    std::string text = write_input(crystal.cell, molecule, vdw, search.units, run);

    // The program reads the file back: its frame places the stacking
    // partner, around which the default map is laid.
    ProgramView view = view_in_program(text);
    const bool stack_names_unit = run.stack_unit >= 1 && run.stack_unit <= 40 &&
                                  run.stack_unit <= static_cast<int>(view.unit_centres.size());
    if (run.stack_unit != 0 && run.map && !options.map_given && stack_names_unit) {
      const std::array<float, 3>& c = view.unit_centres[run.stack_unit - 1];
      run.map_values = default_map(c[0], c[1]);
      text = write_input(crystal.cell, molecule, vdw, search.units, run);
    }

    // Summary.
    char line[200];
    err << "zelk8-prep: " << options.cif_path << '\n';
    err << "  formula      " << formula(molecule) << '\n';
    std::snprintf(line, sizeof line,
                  "  cell         a %.4f  b %.4f  c %.4f  alpha %.3f  beta %.3f  gamma %.3f\n",
                  crystal.cell.a, crystal.cell.b, crystal.cell.c, crystal.cell.alpha,
                  crystal.cell.beta, crystal.cell.gamma);
    err << line;
    err << "  space group  " << (crystal.spacegroup.empty() ? "?" : crystal.spacegroup) << ", "
        << crystal.ops.size() << " operations from " << crystal.ops_source << '\n';
    err << "  molecule     " << molecule.number << ": " << molecule.atoms.size() << " atoms from "
        << crystal.sites.size() << " sites; element types";
    for (size_t e = 0; e < molecule.elements.size(); ++e)
      err << ' ' << e + 1 << '=' << molecule.elements[e].name();
    err << '\n';
    std::snprintf(line, sizeof line, "  units        %d within %.2f A", search.inside_cutoff,
                  options.cutoff);
    err << line << (search.inside_cutoff > max_units ? ", the nearest 20 written" : "") << '\n';
    for (const Unit& unit : search.units) {
      std::snprintf(line, sizeof line, "    %-4s %8.4f A   %s\n", unit.name.c_str(), unit.distance,
                    unit_triplet(unit).c_str());
      err << line;
    }
    if (run.stack_unit == 0)
      err << "  stack unit   0 (no shift map)\n";
    else if (run.stack_unit <= static_cast<int>(search.units.size())) {
      std::snprintf(line, sizeof line, " at VL %.3f VS %.3f VV %.3f A",
                    view.unit_centres[run.stack_unit - 1][0],
                    view.unit_centres[run.stack_unit - 1][1],
                    view.unit_centres[run.stack_unit - 1][2]);
      err << "  stack unit   " << run.stack_unit << " (" << search.units[run.stack_unit - 1].name
          << ")" << line << "\n";
    } else
      err << "  stack unit   " << run.stack_unit << '\n';

    if (run.stack_unit != 0 && run.map) {
      const auto& m = run.map_values;
      std::snprintf(line, sizeof line,
                    "  map          VL %g to %g by %g, VS %g to %g by %g, height %g%s\n", m[0],
                    m[1], m[2], m[3], m[4], m[5], m[6],
                    options.map_given ? "" : " (around the stacking unit)");
      err << line;
    }
    for (const std::string& text : element_warnings(molecule)) warn(text);
    if (search.inside_cutoff > max_units)
      warn(std::to_string(search.inside_cutoff) +
           " units lie within the cutoff; only the nearest " + std::to_string(max_units) +
           " are written");
    if (search.units.empty()) warn("no unit lies within the cutoff");
    if (!options.stack && !options.no_map && run.stack_unit == 0)
      warn("no unit is a pure lattice translation: stacking unit 0, no shift map");
    if (run.stack_unit > static_cast<int>(search.units.size()) && run.stack_unit <= 40)
      warn("stacking unit " + std::to_string(run.stack_unit) + " names no unit (there are " +
           std::to_string(search.units.size()) + ")");

    if (options.output_path.empty()) {
      out << text;
    } else {
      write_whole_file(options.output_path, text);
    }
    return 0;
  } catch (const PrepError& e) {
    err << "zelk8-prep: error: " << e.what() << '\n';
    return 2;
  }
}

}  // namespace zelk8::prep
