#include "options.hpp"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include "crystal.hpp"
#include "map_range.hpp"
#include "model.hpp"
#include "text.hpp"

namespace zelk8::prep {

namespace {

constexpr const char* version_text = "zelk8-prep " ZELK8_VERSION "\n";

std::string printf_string(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

double to_real(const std::string& text, const std::string& option) {
  if (const auto value = report::number_of<double>(text)) return *value;
  throw PrepError(option + ": '" + text + "' is not a number");
}

int to_int(const std::string& text, const std::string& option) {
  if (const auto value = report::number_of<int>(text)) return *value;
  throw PrepError(option + ": '" + text + "' is not a whole number");
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
  for (int g = 0; g < 2; ++g) {
    const double start = values[3 * g], end = values[3 * g + 1], step = values[3 * g + 2];
    const int points = scan_points(start, end, step);
    if (points > max_map_points)
      throw PrepError(
          "--map: " + std::string(points >= 100000 ? "100000 or more" : std::to_string(points)) +
          " points along " + (g == 0 ? "VL" : "VS") + " (" + printf_string(start) + " to " +
          printf_string(end) + " by " + printf_string(step) + "), but the program scans at most " +
          std::to_string(max_map_points) + " per axis; a step of " +
          printf_string(fitting_step(start, end)) + " would fit");
  }
  for (double value : values) {
    bool exact = false;
    format_f5(value, &exact);
    if (!exact)
      throw PrepError("--map: " + printf_string(value) + " does not fit a 5-column field exactly");
  }
  return values;
}

// The options as text, checked and converted after the parse, so that every
// message names the option the way the user typed it.
struct Texts {
  std::string molecule, cutoff, bond_tolerance, stack, charges, map, skip_units, model;
};

void define(CLI::App& app, Options& o, Texts& t) {
  app.add_option("CRYSTAL.cif", o.cif_path, "the crystal structure to read");
  app.add_option("-o,--output", o.output_path,
                 "write the input file to FILE instead of standard output")
      ->type_name("FILE");
  app.add_option("--molecule", t.molecule,
                 "the N-th molecule of the asymmetric unit (default 1, the one that holds the "
                 "first site)")
      ->type_name("N");
  app.add_option("--cutoff", t.cutoff,
                 "neighbour units: the nearest 20 images whose centroid lies within R Angstrom "
                 "of the central one (default 30)")
      ->type_name("R");
  app.add_option("--stack", t.stack,
                 "stacking unit: auto takes the nearest unit that is a pure lattice translation "
                 "at least 3 A off along the molecule's normal VV (face to face), 0 when there is "
                 "none (default auto)")
      ->type_name("auto|N");
  app.add_option("--charges", t.charges, "charge increments (default 0.1,0,0,0)")
      ->type_name("H,C1,C2,C3");
  app.add_option("--map", t.map,
                 "shift map ranges along VL and VS (at most 100 points each), and the height (0 "
                 "takes the stacking unit's). Default: centred on the stacking unit's own offset "
                 "along VL and VS (rounded to the step), 3 A either side along VL and 2 A along "
                 "VS, step 0.25, height 0")
      ->type_name("L0:L1:DL,S0:S1:DS[,H]");
  app.add_flag("--no-map", o.no_map, "no shift map: stacking unit 0, no map record");
  app.add_option("--model", t.model,
                 "parameter model: mm3 (the built-in MM3 values, one type per element, charges "
                 "from --charges) or x23 (fitted to the X23 lattice energies: polar hydrogens as "
                 "a type of their own, increments chosen per molecule to keep it neutral); "
                 "default mm3")
      ->type_name("NAME");
  app.add_option("--params", o.params_path,
                 "van der Waals parameters, one \"symbol Emin R0\" per line (kJ/mol, Angstrom), "
                 "replacing the built-in MM3 values for those elements")
      ->type_name("FILE");
  app.add_option("--bond-tolerance", t.bond_tolerance,
                 "atoms are bonded closer than the sum of their covalent radii plus T Angstrom "
                 "(default 0.4)")
      ->type_name("T");
  app.add_flag("--ignore-occupancy", o.ignore_occupancy,
               "accept sites of partial occupancy (disorder)");
  app.add_option("--block", o.block,
                 "the CIF data block to read (default: the first that holds a cell and atom "
                 "sites)")
      ->type_name("NAME");
  app.add_flag("--single", o.single,
               "write one molecule and its images only, also when the asymmetric unit holds two "
               "(by default both are written: the second as the second atom set)");
  app.add_flag("--accept-bonds", o.accept_bonds,
               "write the file even when a bond is implausibly short or a hydrogen has two "
               "neighbours (a warning instead of an error)");
  // The earlier name of --accept-bonds, for old scripts.
  app.add_flag("--force", o.accept_bonds)->group("");
  app.add_flag("--accept-formula", o.accept_formula,
               "write the file even when the molecule's formula disagrees with the CIF's "
               "_chemical_formula_sum or _chemical_formula_moiety (a warning instead of an "
               "error)");
  app.add_option("--skip-units", t.skip_units,
                 "write the units ranked N+1 to N+20 (nearest first) among the images within the "
                 "cutoff instead of the nearest 20; stacking unit 0 and no map unless --stack or "
                 "--map is given")
      ->type_name("N");
  app.add_option("--json", o.json_path,
                 "also write a machine-readable summary (formula, space group, molecules, units "
                 "written with their ranks, distances and operations, stacking unit and why, net "
                 "charge, hydrogen-bonded units, arbitrary axes, warnings) to FILE")
      ->type_name("FILE");
  app.set_version_flag("--version", "", "print the version and exit");
}

std::unique_ptr<CLI::App> make_app(Options& o, Texts& t) {
  auto app = std::make_unique<CLI::App>(
      "Writes a zelk8.dat input file for the crystal to standard output and a short summary to "
      "standard error.",
      "zelk8-prep");
  app->footer(
      "Exit status: 0 on success, 2 on an error in the CIF or the options, 3 when an output "
      "file cannot be written, 130 when interrupted.");
  app->get_formatter()->column_width(32);
  define(*app, o, t);
  return app;
}

}  // namespace

std::string usage_text() {
  Options o;
  Texts t;
  return make_app(o, t)->help();
}

Command parse_command_line(const std::vector<std::string>& args) {
  Command command;
  Options& o = command.options;
  Texts t;
  std::unique_ptr<CLI::App> owner = make_app(o, t);
  CLI::App& app = *owner;
  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    command.print = app.help();
    return command;
  } catch (const CLI::CallForVersion&) {
    command.print = version_text;
    return command;
  } catch (const CLI::ParseError& e) {
    throw PrepError(std::string(e.what()) + " (see --help)");
  }
  if (o.cif_path.empty()) throw PrepError("no CIF given (see --help)");
  if (app.count("--molecule")) {
    o.molecule = to_int(t.molecule, "--molecule");
    if (o.molecule < 1) throw PrepError("--molecule: the first molecule is 1");
  }
  if (app.count("--cutoff")) {
    o.cutoff = to_real(t.cutoff, "--cutoff");
    if (!(o.cutoff > 0.0)) throw PrepError("--cutoff must be positive");
  }
  if (app.count("--bond-tolerance")) {
    o.bond_tolerance = to_real(t.bond_tolerance, "--bond-tolerance");
    if (o.bond_tolerance < 0.0) throw PrepError("--bond-tolerance must not be negative");
  }
  if (app.count("--stack") && t.stack != "auto") {
    o.stack = to_int(t.stack, "--stack");
    if (*o.stack < 0 || *o.stack > 99999)
      throw PrepError("--stack: expected auto or a number from 0 to 99999");
  }
  if (app.count("--skip-units")) {
    o.skip_units = to_int(t.skip_units, "--skip-units");
    if (o.skip_units < 0) throw PrepError("--skip-units must not be negative");
  }
  if (app.count("--model")) {
    find_model(t.model);  // names --model and the models when unknown
    o.model = t.model;
  }
  if (app.count("--charges")) {
    o.charges_given = true;
    std::vector<std::string> parts = split(t.charges, ',');
    if (parts.size() != 4) throw PrepError("--charges: expected four values H,C1,C2,C3");
    for (int k = 0; k < 4; ++k) o.run.charges[k] = to_real(parts[k], "--charges");
  }
  if (app.count("--map")) {
    o.run.map_values = parse_map(t.map);
    o.map_given = true;
  }
  if (o.no_map && o.stack && *o.stack != 0)
    throw PrepError("--no-map and --stack " + std::to_string(*o.stack) + " contradict each other");
  if (o.no_map && o.map_given) throw PrepError("--no-map and --map contradict each other");
  return command;
}

}  // namespace zelk8::prep
