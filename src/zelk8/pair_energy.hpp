// Exp-6 van der Waals plus point-charge energy of atom pairs and of two
// molecules, in kJ/mol, all in single precision.
#pragma once

#include <array>
#include <cmath>

#include "run_state.hpp"

namespace zelk8 {

struct PairEnergy {
  float evdw;
  float estat;
};

// eps and r0 for every pair of element indices: eps = sqrt(Emin(b) * Emin(a)),
// r0 = R0(b) + R0(a). Index [(e_a - 1) * 7 + (e_b - 1)].
struct PairTable {
  std::array<float, element_slots * element_slots> eps{};
  std::array<float, element_slots * element_slots> r0{};
};
PairTable make_pair_table(const RunState& s);

// One atom pair at distance r: a is the atom of the outer loop, b of the inner.
PairEnergy pair_energy(const RunState& s, float r, int e_a, int e_b, float q_a, float q_b);

// The pair term with eps and r0 already looked up.
inline PairEnergy pair_term(float r, float eps, float r0, float q_a, float q_b) {
  const float rho = r / r0;
  const float repulsion = 184000.0f * std::exp(-(12.0f * rho));
  const float rho2 = rho * rho;
  const float rho4 = rho2 * rho2;
  const float rho6 = rho2 * rho4;
  const float dispersion = 2.25f / rho6;
  return {eps * (repulsion - dispersion), ((q_b * 1380.0f) * q_a) / r};
}

// The atoms of one molecule, in the central molecule's frame.
struct MoleculeView {
  const float* l;
  const float* s;
  const float* v;
  const int* element;  // 1-based element indices
  const float* charge;
  int count;
};

struct MoleculeEnergy {
  float evdw;
  float estat;
  float etot;
  float shortest;  // shortest pair distance, 100.0 when none is shorter
};

// Every atom of `outer` with every atom of `inner`, outer loop first; the
// sums run in that order.
MoleculeEnergy molecule_pair_energy(const PairTable& table, const MoleculeView& outer,
                                    const MoleculeView& inner);

}  // namespace zelk8
