#include "tool.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

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
    const Layout layout = parameter_layout(model);
    const std::vector<Entry> entries = read_entries(folder);
    std::vector<Crystal> crystals;
    for (const Entry& entry : entries)
      crystals.push_back(load_crystal(entry, model, layout, radius, {1.0, 0.98, 1.02}));
    std::vector<double> p = parameters_of(model, layout);
    if (fit) {
      auto whole = [&](const std::vector<double>& x) {
        return objective(crystals, layout, x, -1, checks);
      };
      const Minimum m = minimise(whole, layout, p, evaluations, restarts);
      p = m.parameters;
      out << format("fit: objective %.3f after %d evaluations\n", m.value, m.evaluations);
    }
    out << format("%-20s %-16s %9s %9s %8s %8s %8s %8s %8s %6s %6s %s\n", "crystal", "class",
                  "reference", "energy", "error", "E(0.98)", "E(1.02)", "U(0.98)", "U(1.02)", "rho",
                  "dq", "types");
    std::vector<double> energies;
    for (const Crystal& c : crystals) {
      const double e = lattice_energy(c, layout, p, 0);
      energies.push_back(e);
      out << format("%-20s %-16s %9.2f %9.2f %8.2f %8.2f %8.2f %8.2f %8.2f %6.3f %6.3f %s\n",
                    c.entry.name.c_str(), c.entry.group.c_str(), c.entry.reference, e,
                    e - c.entry.reference, lattice_energy(c, layout, p, 1),
                    lattice_energy(c, layout, p, 2), lattice_energy_uniform(c, layout, p, 0.98),
                    lattice_energy_uniform(c, layout, p, 1.02), shortest_rho(c, layout, p, 0),
                    charge_misfit(c, layout, p), c.types.c_str());
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
        const Minimum m = minimise(without, layout, p, evaluations / 2, restarts);
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
