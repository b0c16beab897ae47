#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "stages.hpp"

namespace zelk8 {
namespace {

struct Atom {
  int element;
  float l, s, v;
};

RunState molecule(int element_count, const std::vector<Atom>& atoms) {
  RunState s;
  s.element_count = element_count;
  s.atom_count = static_cast<int>(atoms.size());
  for (int i = 0; i < s.atom_count; ++i) {
    s.atom_element[i] = atoms[i].element;
    s.frame_l[i] = atoms[i].l;
    s.frame_s[i] = atoms[i].s;
    s.frame_v[i] = atoms[i].v;
    s.element_atom_count[atoms[i].element - 1] += 1;
  }
  count_heavy_atoms(s);
  return s;
}

void expect_charges(const RunState& s, const std::vector<float>& expected) {
  for (int i = 0; i < s.atom_count; ++i) {
    EXPECT_NEAR(s.atom_charge[i], expected[i], 2e-7f) << "atom " << i + 1;
  }
}

// The float whose square is exactly `r2`, near its square root.
float side_with_square(float r2) {
  float x = std::sqrt(r2);
  for (int i = 0; i < 64 && x * x != r2; ++i) x = std::nextafter(x, x * x < r2 ? 10.0f : 0.0f);
  EXPECT_EQ(x * x, r2);
  return x;
}

TEST(PartialCharges, HydrogenRuleCountsHydrogensStrictlyWithin1414) {
  // H2 lies at r2 = 2.0 exactly from the carbon: no bond; the two hydrogens
  // are bonded to each other and cancel.
  RunState s = molecule(2, {{1, 0, 0, 0}, {2, 1, 0, 0}, {2, 1, 1, 0}});
  s.charge_h = 0.1f;
  assign_partial_charges(s);
  expect_charges(s, {-0.1f, 0.0f, 0.0f});
}

TEST(PartialCharges, FourElementSchemePairedAndSharedRules) {
  const float d = 1.2f;
  const float at_limit = side_with_square(2.4f);  // r2 = 2.4 is a bond
  RunState s = molecule(4, {{1, 0, 0, 0},
                            {2, 10, 0, 0},
                            {3, d, 0, 0},  // three partners of atom 1
                            {3, 0, d, 0},
                            {3, 0, 0, at_limit},
                            {3, 10 + d, 0, 0},  // four partners of atom 2
                            {3, 10, d, 0},
                            {3, 10, 0, d},
                            {3, 10, -d, 0},
                            {4, 50, 50, 50}});
  s.charge_1 = 0.2f;
  s.charge_2 = 0.3f;
  s.charge_3 = 0.05f;
  assign_partial_charges(s);
  // Paired: three partners end at 0, -q, -q. Shared: with four partners the
  // first, the second and the last take a third each.
  expect_charges(s, {0.2f, 0.3f, 0.0f, -0.2f, -0.2f, -0.1f, -0.1f, 0.0f, -0.1f, 0.0f});
}

TEST(PartialCharges, Charge1Of007SelectsTheFiveElementSchemeWithFourTypes) {
  const float d = 1.2f;
  RunState s = molecule(4, {{1, 0, 0, 0},
                            {2, 10, 0, 0},
                            {3, d, 0, 0},
                            {3, 0, d, 0},
                            {3, 0, 0, d},
                            {3, 10 + d, 0, 0},
                            {4, d + 1.0f, 0, 0}});  // hydrogen partner of atom 3
  s.charge_1 = 0.07f;
  s.charge_2 = 0.3f;
  s.charge_3 = 0.05f;
  assign_partial_charges(s);
  expect_charges(s, {0.07f, 0.3f, 0.05f, -0.02f, -0.02f, 0.05f, -0.3f});
}

TEST(PartialCharges, FiveElementSchemeSharesCharge3WithTheLastElement) {
  // Element 3 at the origin with one element-4 and one element-5 partner.
  RunState s =
      molecule(5, {{1, 20, 0, 0}, {2, 40, 0, 0}, {3, 0, 0, 0}, {4, 1, 0, 0}, {5, 0, 1.5f, 0}});
  s.charge_1 = 0.1f;
  s.charge_2 = 0.2f;
  s.charge_3 = 0.3f;
  assign_partial_charges(s);
  expect_charges(s, {0.1f, 0.2f, 0.3f, -0.2f, -0.3f});
}

TEST(PartialCharges, DefaultSchemeBySevenTypesGoesByPosition) {
  // Atoms 2 and 3 lie within 1.871 A of atom 1; atom 4 at r2 = 3.5 exactly
  // does not.
  RunState s = molecule(7, {{1, 0, 0, 0},
                            {2, 1.5f, 0, 0},
                            {3, 0, 1.8f, 0},
                            {4, 1.5f, 1.0f, 0.5f},
                            {5, 9, 0, 0},
                            {6, 0, 9, 0},
                            {7, 0, 0, 9}});
  s.charge_1 = 0.5f;
  assign_partial_charges(s);
  expect_charges(s, {0.5f, -0.25f, -0.25f, 0.0f, 0.0f, 0.0f, 0.0f});
}

TEST(PartialCharges, SharedRuleCentreWithoutPartnerKeepsItsIncrement) {
  RunState s = molecule(4, {{1, 0, 0, 0}, {2, 5, 0, 0}, {3, 10, 0, 0}, {4, 20, 0, 0}});
  s.charge_1 = 0.2f;
  s.charge_2 = 0.3f;
  assign_partial_charges(s);
  expect_charges(s, {0.2f, 0.3f, 0.0f, 0.0f});
}

}  // namespace
}  // namespace zelk8
