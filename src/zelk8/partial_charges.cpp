// Partial charges by bond increments, bonds recognised by distance alone.
#include "stages.hpp"

namespace zelk8 {

namespace {

// Squared distance between atoms i and k of the central molecule.
float r2(const RunState& s, int i, int k) {
  const float dl = s.frame_l[k] - s.frame_l[i];
  const float ds = s.frame_s[k] - s.frame_s[i];
  const float dv = s.frame_v[k] - s.frame_v[i];
  return (dl * dl + ds * ds) + dv * dv;
}

// Paired rule: every partner of a centre loses q; from the second partner on,
// the first partner gets q / 2 back for each.
void paired_rule(RunState& s, int centre_element, int partner_element, float q, float limit) {
  for (int i = 0; i < s.atom_count; ++i) {
    if (s.atom_element[i] != centre_element) continue;
    int first = -1;
    for (int k = 0; k < s.atom_count; ++k) {
      if (s.atom_element[k] != partner_element || !(r2(s, k, i) <= limit)) continue;
      s.atom_charge[k] -= q;
      if (first < 0) {
        first = k;
      } else {
        s.atom_charge[first] += q / 2.0f;
      }
    }
  }
}

// Shared rule: a centre's increment is shared by its first, second and last
// partner within 1.549 A.
void shared_rule(RunState& s, int centre_element, int partner_element, float q) {
  for (int i = 0; i < s.atom_count; ++i) {
    if (s.atom_element[i] != centre_element) continue;
    int slot[3] = {-1, -1, -1};
    int found = 0;
    for (int k = 0; k < s.atom_count; ++k) {
      if (s.atom_element[k] != partner_element || !(r2(s, k, i) <= 2.4f)) continue;
      slot[found < 2 ? found : 2] = k;
      ++found;
    }
    if (slot[2] >= 0) {
      s.atom_charge[slot[2]] -= q / 3.0f;
      s.atom_charge[slot[1]] -= q / 3.0f;
      s.atom_charge[slot[0]] -= q / 3.0f;
    } else if (slot[1] >= 0) {
      s.atom_charge[slot[1]] -= q / 2.0f;
      s.atom_charge[slot[0]] -= q / 2.0f;
    } else if (slot[0] >= 0) {
      s.atom_charge[slot[0]] -= q;
    }
  }
}

void add_increments(RunState& s, int last_element) {
  const float increment[3] = {s.charge_1, s.charge_2, s.charge_3};
  for (int i = 0; i < s.atom_count; ++i) {
    const int e = s.atom_element[i];
    if (e >= 1 && e <= last_element) s.atom_charge[i] += increment[e - 1];
  }
}

}  // namespace

void assign_partial_charges(RunState& s) {
  const int hydrogen = s.element_count;

  // Hydrogen rule: each hydrogen +charge_h, each atom within 1.414 A of a
  // hydrogen -charge_h per such hydrogen.
  for (int i = 0; i < s.atom_count; ++i) {
    s.atom_charge[i] = 0.0f;
    if (s.atom_element[i] == hydrogen) s.atom_charge[i] = s.charge_h;
    for (int k = 0; k < s.atom_count; ++k) {
      if (s.atom_element[k] == hydrogen && k != i && r2(s, i, k) < 2.0f) {
        s.atom_charge[i] -= s.charge_h;
      }
    }
  }

  enum class Scheme { none, default_scheme, four_element, five_element };
  Scheme scheme;
  if (s.element_count > 3 && s.charge_1 == 0.07f) {
    scheme = Scheme::five_element;
  } else if (s.element_count <= 2) {
    scheme = Scheme::none;
  } else if (s.element_count == 4) {
    scheme = Scheme::four_element;
  } else if (s.element_count == 5) {
    scheme = Scheme::five_element;
  } else {
    scheme = Scheme::default_scheme;
  }

  switch (scheme) {
    case Scheme::none:
      break;
    case Scheme::default_scheme: {
      // By position: element-1 atoms first, the other heavy atoms after them.
      const int n1 = s.element_atom_count[0];
      for (int i = 0; i < n1; ++i) s.atom_charge[i] += s.charge_1;
      for (int i = n1; i < s.heavy_atom_count; ++i) {
        for (int k = 0; k < n1; ++k) {
          if (r2(s, k, i) < 3.5f) s.atom_charge[i] -= 0.5f * s.charge_1;
        }
      }
      break;
    }
    case Scheme::four_element:
      add_increments(s, 2);
      paired_rule(s, 1, 3, s.charge_1, 2.4f);
      shared_rule(s, 2, 3, s.charge_2);
      break;
    case Scheme::five_element:
      add_increments(s, 3);
      paired_rule(s, 1, 3, s.charge_1, 3.25f);
      shared_rule(s, 3, 4, s.charge_2);
      if (s.element_count != 4) shared_rule(s, 3, s.element_count, s.charge_3);
      break;
  }
}

}  // namespace zelk8
