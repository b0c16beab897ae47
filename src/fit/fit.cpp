#include "fit.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "contacts.hpp"
#include "crystal.hpp"
#include "input_file.hpp"
#include "molecule.hpp"
#include "text.hpp"

namespace zelk8::fit {

namespace {

constexpr double bond_tolerance = 0.4;  // prep's default
constexpr double near_limit = 10.0;     // A: the repulsion beyond is below 1e-6 kJ/mol a pair

struct Bounds {
  const char* key;
  double emin_lo, emin_hi, r0_lo, r0_hi;
};
// Physical ranges: well depths of first-row atoms from a hundredth to about
// one and a half kJ/mol, radii around the van der Waals radii; a polar
// hydrogen may shrink, as it does in force fields whose hydrogen bond is
// electrostatic.
constexpr Bounds vdw_bounds[] = {
    {"C", 0.1, 1.0, 1.7, 2.2},  {"N", 0.1, 1.0, 1.6, 2.1},   {"O", 0.1, 1.0, 1.5, 2.0},
    {"H", 0.02, 0.3, 1.3, 1.8}, {"HN", 0.02, 0.3, 0.3, 1.6}, {"HO", 0.02, 0.3, 0.3, 1.6},
};

std::vector<std::string> split_csv(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  return fields;
}

int key_pair(int a, int b, int keys) { return a < b ? a * keys + b : b * keys + a; }

gemmi::Position mean(const std::vector<gemmi::Position>& atoms) {
  gemmi::Position sum;
  for (const gemmi::Position& p : atoms) sum += p;
  return sum / static_cast<double>(atoms.size());
}

Terms make_terms(const Crystal& c, int keys, double scale) {
  Terms t;
  const size_t pairs = static_cast<size_t>(keys) * keys;
  const size_t n = c.keys.size();
  t.near.assign(pairs, {});
  t.inverse6.assign(pairs, 0.0);
  t.nearest.assign(pairs, 1e9);
  t.coulomb.assign(n, std::vector<double>(n, 0.0));
  for (const Crystal::Image& image : c.neighbours) {
    const std::vector<gemmi::Position>& central = c.centrals[image.central];
    const gemmi::Position shift =
        (image.centroid - c.central_centroids[image.central]) * (scale - 1.0);
    for (size_t j = 0; j < n; ++j) {
      const gemmi::Position pj = image.atoms[j] + shift;
      for (size_t i = 0; i < n; ++i) {
        const double r = pj.dist(central[i]);
        const int kp = key_pair(c.key_index[i], c.key_index[j], keys);
        const double r2 = r * r;
        t.inverse6[kp] += 1.0 / (r2 * r2 * r2);
        if (r < near_limit) t.near[kp].push_back(r);
        t.nearest[kp] = std::min(t.nearest[kp], r);
        t.coulomb[i][j] += 1.0 / r;
      }
    }
  }
  return t;
}

}  // namespace

std::vector<Entry> read_entries(const std::string& folder) {
  const std::string path = folder + "/reference.csv";
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error(path + ": cannot be read; give a folder with reference.csv and cif/");
  std::vector<Entry> entries;
  std::string line;
  std::getline(in, line);
  for (int number = 2; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    const std::vector<std::string> f = split_csv(line);
    Entry e;
    try {
      if (f.size() != 4) throw std::invalid_argument("fields");
      e.reference = report::number_of<double>(report::trim(f[3])).value();
    } catch (const std::exception&) {
      throw std::runtime_error(path + ":" + std::to_string(number) +
                               ": expected name,formula,class,lattice energy");
    }
    e.name = f[0];
    e.formula = f[1];
    e.group = f[2];
    e.cif = folder + "/cif/" + e.name + ".cif";
    entries.push_back(e);
  }
  return entries;
}

Layout parameter_layout(const prep::Model& model) {
  Layout layout;
  for (const Bounds& b : vdw_bounds) {
    const std::string key = b.key;
    if ((key == "HN" || key == "HO") && !model.polar_hydrogen_type) continue;
    layout.keys.push_back(b.key);
    layout.lower.insert(layout.lower.end(), {b.emin_lo, b.r0_lo});
    layout.upper.insert(layout.upper.end(), {b.emin_hi, b.r0_hi});
    layout.names.insert(layout.names.end(), {key + ".emin", key + ".r0"});
  }
  for (const prep::BondIncrement& inc : model.increments) {
    layout.increments.push_back(inc.from + "-" + inc.to);
    // An X-H bond gives its hydrogen a positive charge; a heavy atom pair
    // may go either way.
    const bool hydrogen = inc.to == "H" || inc.to == "HN" || inc.to == "HO";
    layout.lower.push_back(hydrogen ? -0.2 : -0.4);
    layout.upper.push_back(hydrogen ? 0.7 : 0.9);
    layout.names.push_back(layout.increments.back());
  }
  return layout;
}

std::vector<double> prior_parameters(const Layout& layout) {
  const prep::VdwTable mm3 = prep::builtin_vdw_table();
  const std::map<std::string, double> polarity = {
      {"C-H", 0.1}, {"N-HN", 0.3}, {"O-HO", 0.4}, {"O-C", 0.4}, {"N-C", 0.3}};
  std::vector<double> prior;
  for (size_t k = 0; k < layout.keys.size(); ++k) {
    const auto found = mm3.find(layout.keys[k]);
    for (int j = 0; j < 2; ++j)
      prior.push_back(found != mm3.end()
                          ? (j == 0 ? found->second.emin : found->second.r0)
                          : 0.5 * (layout.lower[2 * k + j] + layout.upper[2 * k + j]));
  }
  for (const std::string& name : layout.increments) {
    const auto found = polarity.find(name);
    prior.push_back(found != polarity.end() ? found->second : 0.0);
  }
  return prior;
}

int Freedom::free() const {
  int count = 0;
  for (size_t k = 0; k < source.size(); ++k) count += source[k] == static_cast<int>(k);
  return count;
}

Freedom make_freedom(const Layout& layout, const std::vector<std::string>& fixed,
                     const std::vector<std::string>& tied) {
  Freedom f;
  f.source.resize(layout.size());
  std::iota(f.source.begin(), f.source.end(), 0);
  // A parameter name, or a type key for its Emin and R0.
  auto lookup = [&](const std::string& name, const char* option) {
    std::vector<int> found;
    for (size_t k = 0; k < layout.size(); ++k)
      if (layout.names[k] == name || layout.names[k] == name + ".emin" ||
          layout.names[k] == name + ".r0")
        found.push_back(static_cast<int>(k));
    if (found.empty()) {
      std::string known;
      for (const std::string& n : layout.names) known += (known.empty() ? "" : ", ") + n;
      throw std::invalid_argument(std::string(option) + ": no parameter '" + name +
                                  "'; the parameters are " + known + " (or a type key)");
    }
    return found;
  };
  for (const std::string& name : fixed)
    for (int k : lookup(name, "--fix")) f.source[k] = -1;
  for (const std::string& pair : tied) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos)
      throw std::invalid_argument("--tie: '" + pair + "' is not A=B (for instance HO=HN)");
    const std::vector<int> a = lookup(pair.substr(0, eq), "--tie");
    const std::vector<int> b = lookup(pair.substr(eq + 1), "--tie");
    if (a.size() != b.size() || a == b)
      throw std::invalid_argument("--tie: '" + pair + "' does not pair distinct parameters");
    for (size_t i = 0; i < a.size(); ++i) f.source[a[i]] = b[i];
  }
  // Follow chains of ties to a free or a fixed parameter.
  const std::vector<int> given = f.source;
  for (size_t k = 0; k < given.size(); ++k) {
    int at = static_cast<int>(k);
    for (size_t step = 0; step <= given.size(); ++step) {
      if (given[at] == -1 || given[at] == at) break;
      at = given[at];
      if (step == given.size())
        throw std::invalid_argument("--tie: the ties of " + layout.names[k] + " form a circle");
    }
    if (at != static_cast<int>(k)) f.source[k] = at;
  }
  return f;
}

std::vector<double> parameters_of(const prep::Model& model, const Layout& layout) {
  std::vector<double> p;
  for (const std::string& key : layout.keys) {
    const prep::VdwParams v = model.vdw.at(key);
    p.insert(p.end(), {v.emin, v.r0});
  }
  for (const prep::BondIncrement& inc : model.increments) p.push_back(inc.value);
  return p;
}

prep::Model model_with(const prep::Model& model, const Layout& layout,
                       const std::vector<double>& parameters) {
  prep::Model m = model;
  for (size_t k = 0; k < layout.keys.size(); ++k)
    m.vdw[layout.keys[k]] = {parameters[2 * k], parameters[2 * k + 1]};
  for (size_t b = 0; b < m.increments.size(); ++b)
    m.increments[b].value = parameters[2 * layout.keys.size() + b];
  return m;
}

Crystal load_crystal(const Entry& entry, const prep::Model& model, const Layout& layout,
                     double radius, const std::vector<double>& scales) {
  Crystal c;
  c.entry = entry;
  const prep::Crystal crystal = prep::read_crystal(entry.cif);
  prep::MoleculeOptions options;
  options.bond_tolerance = bond_tolerance;
  const prep::Molecule first = prep::build_molecule(crystal, options);
  const prep::Layout typed = prep::choose_layout(crystal.cell, first, model, bond_tolerance);
  const size_t n = first.atoms.size();

  // The independent molecules' fractional coordinates in the written order.
  std::vector<std::vector<gemmi::Fractional>> molecules(1);
  for (const prep::MoleculeAtom& atom : typed.molecule.atoms) molecules[0].push_back(atom.fract);
  if (first.molecule_count == 2) {
    options.number = 2;
    const prep::Molecule second = prep::build_molecule(crystal, options);
    const auto order = prep::corresponding_atoms(crystal.cell, first, second, bond_tolerance);
    if (!order) throw std::runtime_error(entry.cif + ": the two molecules differ");
    molecules.emplace_back();
    for (int k : typed.order) molecules[1].push_back(second.atoms[(*order)[k]].fract);
  } else if (first.molecule_count > 2) {
    throw std::runtime_error(entry.cif + ": more than two molecules in the asymmetric unit");
  }
  c.molecules = static_cast<int>(molecules.size());

  c.keys = typed.keys;
  for (const std::string& key : typed.molecule.type_keys)
    c.types += (c.types.empty() ? "" : " ") + key;
  for (const std::string& key : c.keys) {
    auto found = std::find(layout.keys.begin(), layout.keys.end(), key);
    if (found == layout.keys.end())
      throw std::runtime_error(entry.cif + ": type " + key + " has no fitted parameters");
    c.key_index.push_back(static_cast<int>(found - layout.keys.begin()));
  }

  // Charges: linear in the bond increments; a model without them takes the
  // run's default increments.
  c.fixed_charges.assign(n, 0.0);
  if (model.increments.empty()) {
    const prep::RunParams run;
    for (size_t k = 0; k < n; ++k)
      for (int j = 0; j < 4; ++j) c.fixed_charges[k] += typed.basis[k][j] * run.charges[j];
  }
  for (const prep::BondIncrement& inc : model.increments) {
    const std::vector<double> target = prep::target_charges(
        crystal.cell, typed.molecule, typed.keys, {{inc.from, inc.to, 1.0}}, bond_tolerance);
    const std::array<double, 4> x = prep::increments_for(typed, target);
    std::vector<double> q(n, 0.0);
    for (size_t k = 0; k < n; ++k)
      for (int j = 0; j < 4; ++j) q[k] += typed.basis[k][j] * x[j];
    c.charge_per_increment.push_back(q);
    c.target_per_increment.push_back(target);
  }

  for (const auto& fracts : molecules) {
    std::vector<gemmi::Position> atoms;
    for (const gemmi::Fractional& f : fracts) atoms.push_back(crystal.cell.orthogonalize(f));
    c.centrals.push_back(atoms);
    c.central_centroids.push_back(mean(atoms));
  }

  // Every image of every independent molecule within the radius of each
  // central one, each molecule once.
  std::vector<std::vector<gemmi::Position>> seen(c.centrals.size());
  for (size_t m = 0; m < molecules.size(); ++m)
    for (const gemmi::Op& op : crystal.ops) {
      std::vector<gemmi::Fractional> moved;
      double sum[3] = {0.0, 0.0, 0.0};
      for (const gemmi::Fractional& f : molecules[m]) {
        const std::array<double, 3> g = op.apply_to_xyz({f.x, f.y, f.z});
        moved.emplace_back(g[0], g[1], g[2]);
        for (int i = 0; i < 3; ++i) sum[i] += g[i];
      }
      const gemmi::Fractional centre(sum[0] / n, sum[1] / n, sum[2] / n);
      for (size_t ci = 0; ci < c.centrals.size(); ++ci) {
        const gemmi::Fractional target = crystal.cell.fractionalize(c.central_centroids[ci]);
        const double reach[3] = {radius * crystal.cell.ar, radius * crystal.cell.br,
                                 radius * crystal.cell.cr};
        const double delta[3] = {target.x - centre.x, target.y - centre.y, target.z - centre.z};
        int lo[3], hi[3];
        for (int i = 0; i < 3; ++i) {
          lo[i] = static_cast<int>(std::floor(delta[i] - reach[i]));
          hi[i] = static_cast<int>(std::ceil(delta[i] + reach[i]));
        }
        for (int t0 = lo[0]; t0 <= hi[0]; ++t0)
          for (int t1 = lo[1]; t1 <= hi[1]; ++t1)
            for (int t2 = lo[2]; t2 <= hi[2]; ++t2) {
              const gemmi::Position cc = crystal.cell.orthogonalize(
                  gemmi::Fractional(centre.x + t0, centre.y + t1, centre.z + t2));
              const double d = cc.dist(c.central_centroids[ci]);
              if (d > radius || d < 0.01) continue;
              bool again = false;
              for (const gemmi::Position& p : seen[ci]) again = again || p.dist(cc) < 0.01;
              if (again) continue;
              seen[ci].push_back(cc);
              Crystal::Image image;
              image.central = static_cast<int>(ci);
              image.centroid = cc;
              for (const gemmi::Fractional& f : moved)
                image.atoms.push_back(
                    crystal.cell.orthogonalize(gemmi::Fractional(f.x + t0, f.y + t1, f.z + t2)));
              c.neighbours.push_back(std::move(image));
            }
      }
    }
  c.images = static_cast<int>(seen[0].size());
  c.scales = scales;
  for (double s : scales) c.terms.push_back(make_terms(c, static_cast<int>(layout.keys.size()), s));
  return c;
}

std::vector<double> charges(const Crystal& crystal, const Layout& layout,
                            const std::vector<double>& parameters) {
  std::vector<double> q = crystal.fixed_charges;
  const size_t first = 2 * layout.keys.size();
  for (size_t b = 0; b < crystal.charge_per_increment.size(); ++b)
    for (size_t k = 0; k < q.size(); ++k)
      q[k] += parameters[first + b] * crystal.charge_per_increment[b][k];
  return q;
}

double charge_misfit(const Crystal& crystal, const Layout& layout,
                     const std::vector<double>& parameters) {
  const std::vector<double> q = charges(crystal, layout, parameters);
  const size_t first = 2 * layout.keys.size();
  double sum = 0.0;
  for (size_t k = 0; k < q.size(); ++k) {
    double target = crystal.fixed_charges[k];
    for (size_t b = 0; b < crystal.target_per_increment.size(); ++b)
      target += parameters[first + b] * crystal.target_per_increment[b][k];
    sum += (q[k] - target) * (q[k] - target);
  }
  return std::sqrt(sum / static_cast<double>(q.size()));
}

double exp6_maximum_rho() { return report::exp6_maximum_rho(); }

namespace {

double energy(const Crystal& crystal, const Terms& t, const Layout& layout,
              const std::vector<double>& parameters, double scale) {
  const int keys = static_cast<int>(layout.keys.size());
  double vdw = 0.0;
  for (int a = 0; a < keys; ++a)
    for (int b = a; b < keys; ++b) {
      const int kp = a * keys + b;
      if (t.inverse6[kp] == 0.0) continue;
      const double eps = std::sqrt(parameters[2 * a] * parameters[2 * b]);
      const double r0 = parameters[2 * a + 1] + parameters[2 * b + 1];
      double repulsion = 0.0;
      const double steep = -12.0 * scale / r0;
      for (double r : t.near[kp]) repulsion += std::exp(steep * r);
      const double r06 = std::pow(r0 / scale, 6);
      vdw += eps * (184000.0 * repulsion - 2.25 * r06 * t.inverse6[kp]);
    }
  const std::vector<double> q = charges(crystal, layout, parameters);
  double stat = 0.0;
  for (size_t i = 0; i < q.size(); ++i)
    for (size_t j = 0; j < q.size(); ++j) stat += q[i] * q[j] * t.coulomb[i][j];
  return 0.5 * (vdw + 1380.0 * stat / scale) / crystal.molecules;
}

}  // namespace

double lattice_energy(const Crystal& crystal, const Layout& layout,
                      const std::vector<double>& parameters, size_t s) {
  return energy(crystal, crystal.terms[s], layout, parameters, 1.0);
}

double lattice_energy_uniform(const Crystal& crystal, const Layout& layout,
                              const std::vector<double>& parameters, double scale) {
  return energy(crystal, crystal.terms[0], layout, parameters, scale);
}

double scale_of_minimum(const Crystal& crystal, const Layout& layout,
                        const std::vector<double>& parameters) {
  const double golden = 0.5 * (std::sqrt(5.0) - 1.0);
  double a = 0.9, b = 1.1;
  double x1 = b - golden * (b - a), x2 = a + golden * (b - a);
  double f1 = lattice_energy_uniform(crystal, layout, parameters, x1);
  double f2 = lattice_energy_uniform(crystal, layout, parameters, x2);
  while (b - a > 1e-4) {
    if (f1 < f2) {
      b = x2;
      x2 = x1;
      f2 = f1;
      x1 = b - golden * (b - a);
      f1 = lattice_energy_uniform(crystal, layout, parameters, x1);
    } else {
      a = x1;
      x1 = x2;
      f1 = f2;
      x2 = a + golden * (b - a);
      f2 = lattice_energy_uniform(crystal, layout, parameters, x2);
    }
  }
  return 0.5 * (a + b);
}

double shortest_rho(const Crystal& crystal, const Layout& layout,
                    const std::vector<double>& parameters, size_t s) {
  const Terms& t = crystal.terms[s];
  const int keys = static_cast<int>(layout.keys.size());
  double shortest = 1e9;
  for (int a = 0; a < keys; ++a)
    for (int b = a; b < keys; ++b)
      if (t.nearest[a * keys + b] < 1e8)
        shortest = std::min(
            shortest, t.nearest[a * keys + b] / (parameters[2 * a + 1] + parameters[2 * b + 1]));
  return shortest;
}

double objective(const std::vector<Crystal>& crystals, const Layout& layout,
                 const std::vector<double>& parameters, int left_out, const Checks& options) {
  static const double rho_max = exp6_maximum_rho();
  double sum = 0.0;
  int count = 0;
  for (size_t k = 0; k < crystals.size(); ++k) {
    if (static_cast<int>(k) == left_out) continue;
    const Crystal& c = crystals[k];
    const double e = lattice_energy(c, layout, parameters, 0);
    double penalty = 0.0;
    const double margin = options.margin;
    if (e > -2.0) penalty += 2.0 * (e + 2.0);
    // The observed structure near a minimum: every other scale higher, the
    // molecules moved rigidly and the cell scaled with them.
    auto rising = [&](double other) {
      const double rise = other - e;
      if (rise < margin) penalty += options.scale_weight * (margin - rise);
    };
    if (options.rigid)
      for (size_t s = 1; s < c.terms.size(); ++s) rising(lattice_energy(c, layout, parameters, s));
    if (options.uniform)
      for (double s : {0.98, 1.02}) rising(lattice_energy_uniform(c, layout, parameters, s));
    const double rho = shortest_rho(c, layout, parameters, 0);
    if (rho < rho_max + 0.1) penalty += 100.0 * (rho_max + 0.1 - rho);
    sum += options.error_weight * std::fabs(e - c.entry.reference) + penalty;
    ++count;
  }
  double prior = 0.0;
  if (!options.prior.empty())
    for (size_t k = 0; k < parameters.size(); ++k) {
      const double d = (parameters[k] - options.prior[k]) / (layout.upper[k] - layout.lower[k]);
      prior += d * d;
    }
  return (count ? sum / count : 0.0) + options.prior_weight * prior;
}

Minimum minimise(const std::function<double(const std::vector<double>&)>& objective,
                 const Layout& layout, const std::vector<double>& start, int evaluations,
                 int restarts) {
  const size_t n = layout.size();
  // Box [lower, upper] from the angles u: p = lower + (upper - lower) (1 - cos u) / 2.
  auto to_box = [&](const std::vector<double>& u) {
    std::vector<double> p(n);
    for (size_t k = 0; k < n; ++k)
      p[k] = layout.lower[k] + (layout.upper[k] - layout.lower[k]) * 0.5 * (1.0 - std::cos(u[k]));
    return p;
  };
  std::vector<double> u(n);
  for (size_t k = 0; k < n; ++k) {
    const double f = (start[k] - layout.lower[k]) / (layout.upper[k] - layout.lower[k]);
    u[k] = std::acos(std::clamp(1.0 - 2.0 * f, -0.999, 0.999));
  }
  Minimum best;
  best.parameters = to_box(u);
  best.value = objective(best.parameters);
  int used = 1;
  for (int round = 0; round <= restarts && used < evaluations; ++round) {
    std::vector<std::vector<double>> simplex(n + 1, u);
    std::vector<double> value(n + 1);
    const double step = round == 0 ? 0.4 : 0.2;
    for (size_t k = 0; k < n; ++k) simplex[k + 1][k] += step;
    for (size_t k = 0; k <= n; ++k) value[k] = objective(to_box(simplex[k]));
    used += static_cast<int>(n) + 1;
    const int budget = used + (evaluations - used) / (restarts + 1 - round);
    while (used < budget) {
      std::vector<size_t> order(n + 1);
      std::iota(order.begin(), order.end(), 0);
      std::sort(order.begin(), order.end(),
                [&](size_t a, size_t b) { return value[a] < value[b]; });
      const size_t worst = order[n], second = order[n - 1], lowest = order[0];
      if (value[worst] - value[lowest] < 1e-7) break;
      std::vector<double> centre(n, 0.0);
      for (size_t k = 0; k <= n; ++k)
        if (k != worst)
          for (size_t i = 0; i < n; ++i) centre[i] += simplex[k][i] / static_cast<double>(n);
      auto along = [&](double t) {
        std::vector<double> x(n);
        for (size_t i = 0; i < n; ++i) x[i] = centre[i] + t * (simplex[worst][i] - centre[i]);
        return x;
      };
      const std::vector<double> reflected = along(-1.0);
      const double fr = objective(to_box(reflected));
      ++used;
      if (fr < value[lowest]) {
        const std::vector<double> expanded = along(-2.0);
        const double fe = objective(to_box(expanded));
        ++used;
        if (fe < fr) {
          simplex[worst] = expanded;
          value[worst] = fe;
        } else {
          simplex[worst] = reflected;
          value[worst] = fr;
        }
      } else if (fr < value[second]) {
        simplex[worst] = reflected;
        value[worst] = fr;
      } else {
        const std::vector<double> contracted = fr < value[worst] ? along(-0.5) : along(0.5);
        const double fc = objective(to_box(contracted));
        ++used;
        if (fc < std::min(fr, value[worst])) {
          simplex[worst] = contracted;
          value[worst] = fc;
        } else {
          for (size_t k = 0; k <= n; ++k) {
            if (k == lowest) continue;
            for (size_t i = 0; i < n; ++i)
              simplex[k][i] = simplex[lowest][i] + 0.5 * (simplex[k][i] - simplex[lowest][i]);
            value[k] = objective(to_box(simplex[k]));
            ++used;
          }
        }
      }
    }
    const size_t at =
        static_cast<size_t>(std::min_element(value.begin(), value.end()) - value.begin());
    if (value[at] < best.value) {
      best.value = value[at];
      best.parameters = to_box(simplex[at]);
    }
    u = simplex[at];
    if (value[at] > best.value) {
      for (size_t k = 0; k < n; ++k) {
        const double f =
            (best.parameters[k] - layout.lower[k]) / (layout.upper[k] - layout.lower[k]);
        u[k] = std::acos(std::clamp(1.0 - 2.0 * f, -0.999, 0.999));
      }
    }
  }
  best.evaluations = used;
  return best;
}

std::vector<double> violations(const std::vector<Crystal>& crystals, const Layout& layout,
                               const std::vector<double>& parameters, int left_out,
                               const Checks& options) {
  const double rho_max = exp6_maximum_rho();
  std::vector<double> v;
  for (size_t k = 0; k < crystals.size(); ++k) {
    if (static_cast<int>(k) == left_out) continue;
    const Crystal& c = crystals[k];
    const double e = lattice_energy(c, layout, parameters, 0);
    v.push_back(std::max(0.0, e + 1.0));
    // The rises in per cent of the lattice energy, so that a weaker lattice
    // is no nearer to meeting them.
    const double per_cent = 100.0 / std::max(std::fabs(e), 1.0);
    if (options.rigid)
      for (size_t s = 1; s < c.terms.size(); ++s)
        v.push_back(per_cent *
                    std::max(0.0, options.margin - (lattice_energy(c, layout, parameters, s) - e)));
    if (options.uniform)
      for (double s : {0.98, 1.02})
        v.push_back(
            per_cent *
            std::max(0.0, options.margin - (lattice_energy_uniform(c, layout, parameters, s) - e)));
    v.push_back(100.0 * std::max(0.0, rho_max + 0.1 - shortest_rho(c, layout, parameters, 0)));
  }
  return v;
}

Minimum make_feasible(const std::vector<Crystal>& crystals, const Layout& layout,
                      const Freedom& freedom, const std::vector<double>& start, int left_out,
                      const Checks& options, int iterations) {
  std::vector<size_t> free;
  for (size_t k = 0; k < layout.size(); ++k)
    if (freedom.source[k] == static_cast<int>(k)) free.push_back(k);
  auto with = [&](std::vector<double> p) {
    for (size_t k = 0; k < p.size(); ++k)
      if (freedom.source[k] >= 0 && freedom.source[k] != static_cast<int>(k))
        p[k] = p[freedom.source[k]];
    return p;
  };
  auto squared = [](const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x * x;
    return sum;
  };
  Minimum m;
  m.parameters = with(start);
  std::vector<double> v = violations(crystals, layout, m.parameters, left_out, options);
  m.value = squared(v);
  m.evaluations = 1;
  const size_t n = free.size();
  double damping = 1e-3;
  for (int it = 0; it < iterations && m.value > 0.0; ++it) {
    // Forward differences: J[i][j] = d v_i / d p_free[j].
    std::vector<std::vector<double>> jacobian(v.size(), std::vector<double>(n, 0.0));
    for (size_t j = 0; j < n; ++j) {
      const size_t k = free[j];
      std::vector<double> p = m.parameters;
      double h = 1e-5 * (layout.upper[k] - layout.lower[k]);
      if (p[k] + h > layout.upper[k]) h = -h;
      p[k] += h;
      const std::vector<double> w = violations(crystals, layout, with(p), left_out, options);
      ++m.evaluations;
      for (size_t i = 0; i < v.size(); ++i) jacobian[i][j] = (w[i] - v[i]) / h;
    }
    bool better = false;
    while (!better && damping < 1e8) {
      // (J^T J + damping diag) step = -J^T v, in units of each range.
      std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
      for (size_t r = 0; r < n; ++r) {
        const double sr = layout.upper[free[r]] - layout.lower[free[r]];
        for (size_t c = 0; c < n; ++c) {
          const double sc = layout.upper[free[c]] - layout.lower[free[c]];
          for (size_t i = 0; i < v.size(); ++i)
            a[r][c] += jacobian[i][r] * sr * jacobian[i][c] * sc;
        }
        a[r][r] += damping * (1.0 + a[r][r]);
        for (size_t i = 0; i < v.size(); ++i) a[r][n] -= jacobian[i][r] * sr * v[i];
      }
      for (size_t c = 0; c < n; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < n; ++r)
          if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (size_t r = 0; r < n; ++r)
          if (r != c && a[c][c] != 0.0) {
            const double f = a[r][c] / a[c][c];
            for (size_t k = c; k <= n; ++k) a[r][k] -= f * a[c][k];
          }
      }
      std::vector<double> p = m.parameters;
      for (size_t j = 0; j < n; ++j) {
        const size_t k = free[j];
        const double step = a[j][j] != 0.0 ? a[j][n] / a[j][j] : 0.0;
        p[k] = std::clamp(p[k] + step * (layout.upper[k] - layout.lower[k]), layout.lower[k],
                          layout.upper[k]);
      }
      p = with(p);
      const std::vector<double> w = violations(crystals, layout, p, left_out, options);
      ++m.evaluations;
      const double value = squared(w);
      if (value < m.value) {
        m.parameters = p;
        m.value = value;
        v = w;
        damping = std::max(1e-6, damping / 3.0);
        better = true;
      } else {
        damping *= 10.0;
      }
    }
    if (!better) break;
  }
  return m;
}

Minimum minimise(const std::function<double(const std::vector<double>&)>& objective,
                 const Layout& layout, const Freedom& freedom, const std::vector<double>& start,
                 int evaluations, int restarts) {
  Layout reduced;
  std::vector<double> reduced_start;
  std::vector<int> slot(layout.size(), -1);
  for (size_t k = 0; k < layout.size(); ++k)
    if (freedom.source[k] == static_cast<int>(k)) {
      slot[k] = static_cast<int>(reduced.lower.size());
      reduced.lower.push_back(layout.lower[k]);
      reduced.upper.push_back(layout.upper[k]);
      reduced_start.push_back(start[k]);
    }
  auto expand = [&](const std::vector<double>& x) {
    std::vector<double> p = start;
    for (size_t k = 0; k < layout.size(); ++k)
      if (freedom.source[k] >= 0 && slot[freedom.source[k]] >= 0)
        p[k] = x[slot[freedom.source[k]]];
      else if (freedom.source[k] >= 0)
        p[k] = start[freedom.source[k]];
    return p;
  };
  Minimum m = minimise([&](const std::vector<double>& x) { return objective(expand(x)); }, reduced,
                       reduced_start, evaluations, restarts);
  m.parameters = expand(m.parameters);
  return m;
}

}  // namespace zelk8::fit
