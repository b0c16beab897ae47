// Fitting a model's parameters to reference lattice energies: the crystals'
// lattice energies summed in double precision over every molecule within a
// radius, with the molecule, its images and the charges as prep and the
// program make them.
#pragma once

#include <array>
#include <functional>
#include <gemmi/unitcell.hpp>
#include <string>
#include <vector>

#include "model.hpp"

namespace zelk8::fit {

// One crystal with its reference lattice energy (kJ/mol, negative = bound).
struct Entry {
  std::string name;
  std::string formula;
  std::string group;  // the class column: hydrocarbon, other polar, H-bonded
  double reference = 0.0;
  std::string cif;  // DIR/cif/NAME.cif
};

// reference.csv of a data folder (name,formula,class,lattice_energy...);
// throws std::runtime_error naming the file and line.
std::vector<Entry> read_entries(const std::string& folder);

// The free parameters of a model: Emin and R0 per type key, then the bond
// increments in the model's order.
struct Layout {
  std::vector<std::string> keys;        // type keys with van der Waals parameters
  std::vector<std::string> increments;  // "from-to" per bond increment
  std::vector<double> lower, upper;     // bounds per parameter
  std::vector<std::string> names;       // per parameter: KEY.emin, KEY.r0 or FROM-TO
  size_t size() const { return lower.size(); }
};
Layout parameter_layout(const prep::Model& model);
std::vector<double> parameters_of(const prep::Model& model, const Layout& layout);
prep::Model model_with(const prep::Model& model, const Layout& layout,
                       const std::vector<double>& parameters);

// Typical values that owe nothing to a fit: the MM3 well depths and radii of
// C, N, O and H, the middle of the bounds for the polar hydrogens, and bond
// polarities of the size common in force fields.
std::vector<double> prior_parameters(const Layout& layout);

// Which parameters a fit varies. Each parameter takes the value of
// `source[k]`: itself when free, another parameter when tied to it, -1 when
// fixed at its start value.
struct Freedom {
  std::vector<int> source;
  int free() const;
};
// `fixed`: parameter names, or a type key for both its Emin and R0.
// `tied`: A=B, each a parameter name or a type key (A takes B's values).
// Throws std::invalid_argument naming the option and the unknown name.
Freedom make_freedom(const Layout& layout, const std::vector<std::string>& fixed,
                     const std::vector<std::string>& tied);

// The pair sums of one crystal that the lattice energy needs, for one model
// typing, at one scale of the lattice: the molecules' centroids are moved
// apart by `scale`, each molecule kept rigid.
struct Terms {
  std::vector<std::vector<double>> near;     // per key pair: distances below 10 A
  std::vector<double> inverse6;              // per key pair: sum of r^-6 over all pairs
  std::vector<double> nearest;               // per key pair: the shortest distance
  std::vector<std::vector<double>> coulomb;  // [i][j]: sum of 1/r, atom i central, j image
};

struct Crystal {
  Entry entry;
  std::vector<std::string> keys;  // per atom, in the written order
  std::string types;              // the written type order, e.g. "O N C HN H"
  std::vector<int> key_index;     // per atom: index into Layout::keys
  int molecules = 1;              // independent molecules (1 or 2)
  int images = 0;                 // molecules within the radius, per central molecule
  // The charges: fixed, plus one vector per bond increment (linear).
  std::vector<double> fixed_charges;
  std::vector<std::vector<double>> charge_per_increment;
  std::vector<std::vector<double>> target_per_increment;  // the model's own charges
  // Every molecule within the radius of a central one, atoms in the written
  // order, Cartesian (A).
  struct Image {
    std::vector<gemmi::Position> atoms;
    gemmi::Position centroid;
    int central = 0;  // which central molecule it pairs with
  };
  std::vector<std::vector<gemmi::Position>> centrals;
  std::vector<gemmi::Position> central_centroids;
  std::vector<Image> neighbours;
  std::vector<Terms> terms;  // at `scales`
  std::vector<double> scales;
};

// Reads the crystal's CIF and builds its molecule(s) and every image whose
// centroid lies within `radius`, typed by `model`; precomputes the terms at
// each scale. Throws on a CIF prep refuses.
Crystal load_crystal(const Entry& entry, const prep::Model& model, const Layout& layout,
                     double radius, const std::vector<double>& scales = {1.0});

// The charges of the central molecule for these parameters.
std::vector<double> charges(const Crystal& crystal, const Layout& layout,
                            const std::vector<double>& parameters);

// The position of the exp-6 term's maximum, r / (R0(a) + R0(b)): inside it
// the term falls towards minus infinity (the report library's value).
double exp6_maximum_rho();

// The root mean square difference between the charges the program gets and
// the model's bond-increment charges (0 for a model without increments).
double charge_misfit(const Crystal& crystal, const Layout& layout,
                     const std::vector<double>& parameters);

// The lattice energy (kJ/mol per molecule) at scale index `s`.
double lattice_energy(const Crystal& crystal, const Layout& layout,
                      const std::vector<double>& parameters, size_t s = 0);

// The lattice energy with the cell scaled by `scale` and the fractional
// coordinates kept: every distance, within the molecule too, times `scale`
// (the charges as at scale 1).
double lattice_energy_uniform(const Crystal& crystal, const Layout& layout,
                              const std::vector<double>& parameters, double scale);

// The scale of the cell (fractional coordinates kept) between 0.9 and 1.1
// at which the lattice energy is lowest, by golden-section search: within
// 0.01 of 1 the energy rises at 0.98 and 1.02 when it is near a parabola.
double scale_of_minimum(const Crystal& crystal, const Layout& layout,
                        const std::vector<double>& parameters);

// The smallest r / (R0(a) + R0(b)) over intermolecular pairs at scale index s.
double shortest_rho(const Crystal& crystal, const Layout& layout,
                    const std::vector<double>& parameters, size_t s = 0);

// Nelder-Mead on the bounded parameters (a smooth periodic map of the
// box), from `start`, with `restarts` fresh simplices around the best.
struct Minimum {
  std::vector<double> parameters;
  double value = 0.0;
  int evaluations = 0;
};
Minimum minimise(const std::function<double(const std::vector<double>&)>& objective,
                 const Layout& layout, const std::vector<double>& start, int evaluations,
                 int restarts);
// The same over the free parameters only; the others follow `freedom`
// from `start`. The result holds every parameter.
Minimum minimise(const std::function<double(const std::vector<double>&)>& objective,
                 const Layout& layout, const Freedom& freedom, const std::vector<double>& start,
                 int evaluations, int restarts);

// The fit's objective over `crystals` except the one at `left_out` (-1:
// none): the mean absolute error, plus penalties for an unbound crystal,
// a lattice energy that does not rise by `margin` at the scales other than
// 1, and a pair inside the exp-6 maximum; plus `prior_weight` times the sum
// of the squared distances of the parameters from `prior`, each in units
// of its range.
struct Checks {
  bool rigid = false;          // the molecules' centres moved by 0.98 and 1.02
  bool uniform = true;         // the cell scaled, fractional coordinates kept
  double scale_weight = 30.0;  // penalty per kJ/mol that a scaled lattice lies lower
  double margin = 0.01;        // kJ/mol the scaled lattices must lie higher
  double error_weight = 1.0;   // 0: the penalties alone (a search for a feasible set)
  double prior_weight = 0.0;   // kJ/mol per squared range
  std::vector<double> prior;   // empty: no prior term
};
double objective(const std::vector<Crystal>& crystals, const Layout& layout,
                 const std::vector<double>& parameters, int left_out, const Checks& options = {});

// How far each crystal but `left_out` misses the physical checks, each term
// zero when met: a lattice energy above -1 kJ/mol, the rise at the checked
// scales short of the margin (in per cent of the lattice energy), and the
// shortest pair's rho short of 0.1 above the exp-6 maximum (times 100).
std::vector<double> violations(const std::vector<Crystal>& crystals, const Layout& layout,
                               const std::vector<double>& parameters, int left_out,
                               const Checks& options);

// The nearest point to `start` (in the free parameters) that meets the
// checks, by damped Gauss-Newton steps on the violations inside the
// bounds; `value` is the sum of the squared violations left.
Minimum make_feasible(const std::vector<Crystal>& crystals, const Layout& layout,
                      const Freedom& freedom, const std::vector<double>& start, int left_out,
                      const Checks& options, int iterations);

}  // namespace zelk8::fit
