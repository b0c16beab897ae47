#include "tool.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "crystal.hpp"
#include "fit.hpp"
#include "write_whole.hpp"

namespace zelk8::fit {

namespace {

std::string format(const char* pattern, auto... values) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

// Mean absolute error per class and overall, as table lines.
std::string class_errors(const std::vector<Crystal>& crystals, const std::vector<double>& energies,
                         const std::string& label) {
  std::map<std::string, std::pair<double, int>> per;
  double total = 0.0;
  for (size_t k = 0; k < crystals.size(); ++k) {
    const double e = std::fabs(energies[k] - crystals[k].entry.reference);
    per[crystals[k].entry.group].first += e;
    per[crystals[k].entry.group].second += 1;
    total += e;
  }
  std::string text;
  for (const auto& [group, sum] : per)
    text += format("%s MAE %-16s %7.2f kJ/mol (%d)\n", label.c_str(), group.c_str(),
                   sum.first / sum.second, sum.second);
  text += format("%s MAE %-16s %7.2f kJ/mol (%d)\n", label.c_str(), "all",
                 total / static_cast<double>(crystals.size()), static_cast<int>(crystals.size()));
  return text;
}

std::string parameter_lines(const Layout& layout, const std::vector<double>& p) {
  std::string text;
  for (size_t k = 0; k < layout.keys.size(); ++k)
    text += format("%-4s %8.5f %6.3f\n", layout.keys[k].c_str(), p[2 * k], p[2 * k + 1]);
  for (size_t b = 0; b < layout.increments.size(); ++b)
    text += format("# increment %-6s %8.5f\n", layout.increments[b].c_str(),
                   p[2 * layout.keys.size() + b]);
  return text;
}

// Parameters in the format parameter_lines writes; those not named keep
// their values in `p`.
std::vector<double> read_parameters(const std::string& path, const Layout& layout,
                                    std::vector<double> p) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(path + ": cannot be read; give a file that -o wrote");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line);
    std::string first, name;
    double a = 0.0, b = 0.0;
    words >> first;
    bool ok = true;
    if (first == "#") {
      words >> name >> name >> a;
      auto at = std::find(layout.increments.begin(), layout.increments.end(), name);
      ok = !words.fail() && at != layout.increments.end();
      if (ok) p[2 * layout.keys.size() + (at - layout.increments.begin())] = a;
    } else if (!first.empty()) {
      words >> a >> b;
      auto at = std::find(layout.keys.begin(), layout.keys.end(), first);
      ok = !words.fail() && at != layout.keys.end();
      if (ok) {
        p[2 * (at - layout.keys.begin())] = a;
        p[2 * (at - layout.keys.begin()) + 1] = b;
      }
    }
    if (!ok)
      throw std::runtime_error(path + ":" + std::to_string(number) +
                               ": expected 'KEY EMIN R0' or '# increment FROM-TO VALUE' for a "
                               "parameter of this --model");
  }
  return p;
}

}  // namespace

int run_tool(std::vector<std::string> args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "zelk8-fit: lattice energies of crystals with reference values under a parameter model "
      "of zelk8-prep, and a fit of that model's parameters",
      "zelk8-fit"};
  std::string folder, model_name = prep::default_model, output;
  bool fit = false, loo = false;
  int evaluations = 4000, restarts = 2;
  double radius = 25.0;
  app.add_option("DATA", folder, "folder with reference.csv and cif/NAME.cif")->required();
  app.add_option("--model", model_name, "the model to evaluate or start the fit from (mm3, x23)");
  app.add_flag("--fit", fit, "fit the model's parameters to the reference energies");
  app.add_flag("--loo", loo, "with --fit: leave-one-out cross-validated errors per class");
  app.add_option("--evaluations", evaluations, "energy evaluations per fit (default 4000)");
  app.add_option("--restarts", restarts, "fresh simplices per fit (default 2)");
  app.add_option("--radius", radius, "molecules whose centroid lies within R A (default 25)");
  std::string check = "uniform";
  Checks checks;
  app.add_option("--check", check,
                 "near a minimum at scales 0.98 and 1.02: rigid (molecules moved), uniform "
                 "(cell scaled), both or none (default uniform)")
      ->check(CLI::IsMember({"rigid", "uniform", "both", "none"}));
  app.add_option("--check-weight", checks.scale_weight,
                 "penalty per kJ/mol a scaled lattice lies lower (default 30)");
  app.add_option("--margin", checks.margin,
                 "kJ/mol a scaled lattice must lie higher than the observed one (default 0.01)");
  int stages = 1, repair = 0;
  app.add_option("--repair", repair,
                 "after the fit, up to N damped Gauss-Newton steps towards the nearest set that "
                 "meets every check (default 0)");
  app.add_option("--stages", stages,
                 "fit N times, the scale penalty weight ten times larger each time and "
                 "--check-weight the last (default 1)")
      ->check(CLI::Range(1, 6));
  bool feasible_first = false;
  app.add_flag("--feasible-first", feasible_first,
               "before the stages, minimise the penalties alone (errors not counted)");
  std::vector<std::string> fixed, tied;
  app.add_option("--fix", fixed,
                 "keep a parameter at the model's value: KEY.emin, KEY.r0, an increment FROM-TO, "
                 "or a type key for both its Emin and R0 (repeatable)")
      ->type_name("NAME");
  app.add_option("--tie", tied, "A=B: parameter or type A takes the values of B (repeatable)")
      ->type_name("A=B");
  app.add_option("--prior-weight", checks.prior_weight,
                 "add WEIGHT times the squared distance of the parameters, each in units of its "
                 "range, from typical values (MM3 for C, N, O and H) (default 0)");
  std::vector<std::string> bounds;
  app.add_option("--bound", bounds, "NAME=LO:HI: other bounds for a parameter (repeatable)")
      ->type_name("NAME=LO:HI");
  std::string start_file;
  app.add_option("--start", start_file,
                 "start from the parameters in FILE (as -o writes them) instead of the model's")
      ->type_name("FILE");
  app.add_option("-o,--output", output, "write the fitted parameters to FILE")->type_name("FILE");
  try {
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      out << app.help();
      return report::exit_ok;
    }
    err << "zelk8-fit: " << e.what() << " (zelk8-fit --help lists the options)\n";
    return report::exit_input;
  }
  checks.rigid = check == "rigid" || check == "both";
  checks.uniform = check == "uniform" || check == "both";
  if (loo && !fit) {
    err << "zelk8-fit: --loo needs --fit\n";
    return report::exit_input;
  }
  try {
    const prep::Model model = prep::find_model(model_name);
    Layout layout = parameter_layout(model);
    for (const std::string& b : bounds) {
      const size_t eq = b.find('='), colon = b.find(':');
      const auto at = std::find(layout.names.begin(), layout.names.end(), b.substr(0, eq));
      double lo = 0.0, hi = 0.0;
      try {
        if (eq == std::string::npos || colon == std::string::npos || colon < eq)
          throw std::invalid_argument("form");
        lo = std::stod(b.substr(eq + 1, colon - eq - 1));
        hi = std::stod(b.substr(colon + 1));
      } catch (const std::exception&) {
        err << "zelk8-fit: --bound: '" << b << "' is not NAME=LO:HI (for instance O.emin=0.05:1)\n";
        return 2;
      }
      if (at == layout.names.end() || !(lo < hi)) {
        err << "zelk8-fit: --bound: '" << b
            << "' needs a parameter name of this --model and LO below HI\n";
        return 2;
      }
      layout.lower[at - layout.names.begin()] = lo;
      layout.upper[at - layout.names.begin()] = hi;
    }
    const std::vector<Entry> entries = read_entries(folder);
    std::vector<Crystal> crystals;
    for (const Entry& entry : entries)
      crystals.push_back(load_crystal(entry, model, layout, radius, {1.0, 0.98, 1.02}));
    std::vector<double> p = parameters_of(model, layout);
    if (!start_file.empty()) p = read_parameters(start_file, layout, p);
    const Freedom freedom = make_freedom(layout, fixed, tied);
    if (checks.prior_weight > 0.0) checks.prior = prior_parameters(layout);
    if (fit) {
      const double last_weight = checks.scale_weight;
      for (int stage = feasible_first ? -1 : 0; stage < stages; ++stage) {
        checks.scale_weight = last_weight * std::pow(10.0, std::max(stage, 0) + 1 - stages);
        checks.error_weight = stage < 0 ? 0.0 : 1.0;
        auto whole = [&](const std::vector<double>& x) {
          return objective(crystals, layout, x, -1, checks);
        };
        const Minimum m = minimise(whole, layout, freedom, p, evaluations, restarts);
        p = m.parameters;
        out << format(
            "fit: %d free parameters, scale penalty %g%s: objective %.3f after %d "
            "evaluations\n",
            freedom.free(), checks.scale_weight, stage < 0 ? ", errors not counted" : "", m.value,
            m.evaluations);
        out.flush();
      }
    }
    if (fit && repair > 0) {
      const Minimum m = make_feasible(crystals, layout, freedom, p, -1, checks, repair);
      p = m.parameters;
      out << format("repair: squared violations %.6f after %d evaluations\n", m.value,
                    m.evaluations);
    }
    out << format("%-20s %-16s %9s %9s %8s %8s %8s %8s %8s %6s %6s %6s %s\n", "crystal", "class",
                  "reference", "energy", "error", "E(0.98)", "E(1.02)", "U(0.98)", "U(1.02)",
                  "U_min", "rho", "dq", "types");
    std::vector<double> energies;
    for (const Crystal& c : crystals) {
      const double e = lattice_energy(c, layout, p, 0);
      energies.push_back(e);
      out << format("%-20s %-16s %9.2f %9.2f %8.2f %8.2f %8.2f %8.2f %8.2f %6.3f %6.3f %6.3f %s\n",
                    c.entry.name.c_str(), c.entry.group.c_str(), c.entry.reference, e,
                    e - c.entry.reference, lattice_energy(c, layout, p, 1),
                    lattice_energy(c, layout, p, 2), lattice_energy_uniform(c, layout, p, 0.98),
                    lattice_energy_uniform(c, layout, p, 1.02), scale_of_minimum(c, layout, p),
                    shortest_rho(c, layout, p, 0), charge_misfit(c, layout, p), c.types.c_str());
    }
    out << class_errors(crystals, energies, fit ? "fitted" : model.name);
    // The physical checks: bound, lower than at the scaled lattices, no pair
    // inside the exp-6 maximum.
    int unbound = 0, rigid = 0, uniform = 0, inside = 0;
    for (size_t k = 0; k < crystals.size(); ++k) {
      const Crystal& c = crystals[k];
      const double e = energies[k];
      unbound += e >= 0.0;
      rigid += !(lattice_energy(c, layout, p, 1) > e && lattice_energy(c, layout, p, 2) > e);
      uniform += !(lattice_energy_uniform(c, layout, p, 0.98) > e &&
                   lattice_energy_uniform(c, layout, p, 1.02) > e);
      inside += !(shortest_rho(c, layout, p, 0) > exp6_maximum_rho());
    }
    out << format(
        "checks: %d unbound, %d lower at a rigid scale (E), %d lower at a scaled cell (U), %d "
        "with a pair inside the exp-6 maximum (rho %.3f)\n",
        unbound, rigid, uniform, inside, exp6_maximum_rho());
    if (loo) {
      std::vector<double> predicted;
      for (size_t k = 0; k < crystals.size(); ++k) {
        auto without = [&](const std::vector<double>& x) {
          return objective(crystals, layout, x, static_cast<int>(k), checks);
        };
        const Minimum m = minimise(without, layout, freedom, p, evaluations / 2, restarts);
        predicted.push_back(lattice_energy(crystals[k], layout, m.parameters, 0));
        out << format("left out %-20s predicted %9.2f reference %9.2f\n",
                      crystals[k].entry.name.c_str(), predicted.back(),
                      crystals[k].entry.reference);
        out.flush();
      }
      out << class_errors(crystals, predicted, "leave-one-out");
    }
    out << parameter_lines(layout, p);
    if (!output.empty()) {
      try {
        report::write_whole(output, parameter_lines(layout, p));
      } catch (const report::OutputError& e) {
        err << "zelk8-fit: " << e.what() << '\n';
        return report::exit_output;
      }
    }
    return report::exit_ok;
  } catch (const std::exception& e) {
    err << "zelk8-fit: error: " << e.what() << '\n';
    return report::exit_input;
  }
}

}  // namespace zelk8::fit
