#include "pair_energy.hpp"

#include <cmath>

namespace zelk8 {

PairTable make_pair_table(const RunState& s) {
  PairTable t;
  for (int a = 0; a < s.element_count; ++a) {
    for (int b = 0; b < s.element_count; ++b) {
      t.eps[a * element_slots + b] = std::sqrt(s.element_emin[b] * s.element_emin[a]);
      t.r0[a * element_slots + b] = s.element_r0[b] + s.element_r0[a];
    }
  }
  return t;
}

PairEnergy pair_energy(const RunState& s, float r, int e_a, int e_b, float q_a, float q_b) {
  const float eps = std::sqrt(s.element_emin[e_b - 1] * s.element_emin[e_a - 1]);
  const float r0 = s.element_r0[e_b - 1] + s.element_r0[e_a - 1];
  return pair_term(r, eps, r0, q_a, q_b);
}

MoleculeEnergy molecule_pair_energy(const PairTable& table, const MoleculeView& outer,
                                    const MoleculeView& inner) {
  float evdw = 0.0f;
  float estat = 0.0f;
  float shortest = 100.0f;
  for (int i = 0; i < outer.count; ++i) {
    const int row = (outer.element[i] - 1) * element_slots;
    for (int j = 0; j < inner.count; ++j) {
      const float dl = inner.l[j] - outer.l[i];
      const float ds = inner.s[j] - outer.s[i];
      const float dv = inner.v[j] - outer.v[i];
      const float r = std::sqrt((dl * dl + ds * ds) + dv * dv);
      if (r < shortest) shortest = r;
      const int k = row + (inner.element[j] - 1);
      const PairEnergy e =
          pair_term(r, table.eps[k], table.r0[k], outer.charge[i], inner.charge[j]);
      evdw += e.evdw;
      estat += e.estat;
    }
  }
  return {evdw, estat, evdw + estat, shortest};
}

}  // namespace zelk8
