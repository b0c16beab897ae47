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
  size_t size() const { return lower.size(); }
};
Layout parameter_layout(const prep::Model& model);
std::vector<double> parameters_of(const prep::Model& model, const Layout& layout);
prep::Model model_with(const prep::Model& model, const Layout& layout,
                       const std::vector<double>& parameters);

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

// The fit's objective over `crystals` except the one at `left_out` (-1:
// none): the mean absolute error, plus penalties for an unbound crystal,
// a lattice energy lower at the scales other than 1, and a pair inside the
// exp-6 maximum.
struct Checks {
  bool rigid = false;          // the molecules' centres moved by 0.98 and 1.02
  bool uniform = true;         // the cell scaled, fractional coordinates kept
  double scale_weight = 30.0;  // penalty per kJ/mol that a scaled lattice lies lower
};
double objective(const std::vector<Crystal>& crystals, const Layout& layout,
                 const std::vector<double>& parameters, int left_out, const Checks& options = {});

}  // namespace zelk8::fit
