#include "prep.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>

#include "crystal.hpp"
#include "units.hpp"
#include "vdw_params.hpp"

namespace zelk8::prep {

namespace {

std::string printf_string(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

double to_real(const std::string& text, const std::string& option) {
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    throw PrepError(option + ": '" + text + "' is not a number");
  return value;
}

int to_int(const std::string& text, const std::string& option) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw PrepError(option + ": '" + text + "' is not a whole number");
  return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// L0:L1:DL,S0:S1:DS[,H]
std::array<double, 7> parse_map(const std::string& text) {
  std::vector<std::string> groups = split(text, ',');
  if (groups.size() != 2 && groups.size() != 3)
    throw PrepError("--map: expected L0:L1:DL,S0:S1:DS[,H], got '" + text + "'");
  std::array<double, 7> values{};
  for (int g = 0; g < 2; ++g) {
    std::vector<std::string> range = split(groups[g], ':');
    if (range.size() != 3)
      throw PrepError("--map: expected start:end:step, got '" + groups[g] + "'");
    for (int i = 0; i < 3; ++i) values[3 * g + i] = to_real(range[i], "--map");
    if (!(values[3 * g + 2] > 0.0))
      throw PrepError("--map: the step must be positive in '" + groups[g] + "'");
  }
  values[6] = groups.size() == 3 ? to_real(groups[2], "--map") : 0.0;
  for (double value : values) {
    bool exact = false;
    format_f5(value, &exact);
    if (!exact)
      throw PrepError("--map: " + printf_string(value) + " does not fit a 5-column field exactly");
  }
  return values;
}

}  // namespace

std::string usage_text() {
  return R"(usage: zelk8-prep CRYSTAL.cif [options]

Writes a zelk8.dat input file for the crystal to standard output and a short
summary to standard error.

options:
  -o, --output FILE        write the input file to FILE instead
  --molecule N             the N-th molecule of the asymmetric unit (default 1,
                           the one that holds the first site)
  --cutoff R               neighbour units: images whose centroid lies within
                           R Angstrom of the central one (default 10), at most 20
  --stack auto|N           stacking unit: auto takes the nearest unit that is a
                           pure lattice translation, 0 when there is none
                           (default auto)
  --charges H,C1,C2,C3     charge increments (default 0.1,0,0,0)
  --map L0:L1:DL,S0:S1:DS[,H]
                           shift map ranges along VL and VS, and the height
                           (default -3:3:0.25,-2:2:0.25,0; height 0 takes the
                           stacking unit's)
  --no-map                 no shift map: stacking unit 0, no map record
  --params FILE            van der Waals parameters, one "symbol Emin R0" per
                           line (kJ/mol, Angstrom), replacing the built-in
                           MM3 values for those elements
  --bond-tolerance T       atoms are bonded closer than the sum of their
                           covalent radii plus T Angstrom (default 0.4)
  --ignore-occupancy       accept sites of partial occupancy (disorder)
  -h, --help               this text

Exit status: 0 on success, 2 on an error in the CIF or the options.
)";
}

Options parse_options(const std::vector<std::string>& arguments) {
  Options options;
  bool map_given = false;
  // "--name=value" is the same as "--name value".
  std::vector<std::string> split_args;
  for (const std::string& arg : arguments) {
    size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      split_args.push_back(arg.substr(0, equals));
      split_args.push_back(arg.substr(equals + 1));
    } else {
      split_args.push_back(arg);
    }
  }
  const std::vector<std::string>& args = split_args;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw PrepError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "-o" || arg == "--output") {
      options.output_path = value();
    } else if (arg == "--molecule") {
      options.molecule = to_int(value(), arg);
      if (options.molecule < 1) throw PrepError("--molecule: the first molecule is 1");
    } else if (arg == "--cutoff") {
      options.cutoff = to_real(value(), arg);
      if (!(options.cutoff > 0.0)) throw PrepError("--cutoff must be positive");
    } else if (arg == "--bond-tolerance") {
      options.bond_tolerance = to_real(value(), arg);
      if (options.bond_tolerance < 0.0) throw PrepError("--bond-tolerance must not be negative");
    } else if (arg == "--stack") {
      const std::string& text = value();
      if (text == "auto") {
        options.stack.reset();
      } else {
        options.stack = to_int(text, arg);
        if (*options.stack < 0 || *options.stack > 99999)
          throw PrepError("--stack: expected auto or a number from 0 to 99999");
      }
    } else if (arg == "--charges") {
      std::vector<std::string> parts = split(value(), ',');
      if (parts.size() != 4) throw PrepError("--charges: expected four values H,C1,C2,C3");
      for (int k = 0; k < 4; ++k) options.run.charges[k] = to_real(parts[k], arg);
    } else if (arg == "--map") {
      options.run.map_values = parse_map(value());
      map_given = true;
    } else if (arg == "--no-map") {
      options.no_map = true;
    } else if (arg == "--params") {
      options.params_path = value();
    } else if (arg == "--ignore-occupancy") {
      options.ignore_occupancy = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      throw PrepError("unknown option " + arg + " (see --help)");
    } else if (options.cif_path.empty()) {
      options.cif_path = arg;
    } else {
      throw PrepError("one CIF only: '" + options.cif_path + "' and '" + arg + "'");
    }
  }
  if (options.help) return options;
  if (options.cif_path.empty()) throw PrepError("no CIF given (see --help)");
  if (options.no_map && options.stack && *options.stack != 0)
    throw PrepError("--no-map and --stack " + std::to_string(*options.stack) +
                    " contradict each other");
  if (options.no_map && map_given) throw PrepError("--no-map and --map contradict each other");
  return options;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    Options options = parse_options(args);
    if (options.help) {
      out << usage_text();
      return 0;
    }
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
    else if (run.stack_unit <= static_cast<int>(search.units.size()))
      err << "  stack unit   " << run.stack_unit << " (" << search.units[run.stack_unit - 1].name
          << ")\n";
    else
      err << "  stack unit   " << run.stack_unit << '\n';

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
      std::ofstream file(options.output_path);
      file << text;
      file.close();
      if (!file) throw PrepError("cannot write " + options.output_path);
    }
    return 0;
  } catch (const PrepError& e) {
    err << "zelk8-prep: error: " << e.what() << '\n';
    return 2;
  }
}

}  // namespace zelk8::prep
