#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "pair_energy.hpp"
#include "shift_map.hpp"
#include "stages.hpp"

namespace zelk8 {
namespace {

std::string fixed(float v, int w, int d) {
  std::string out;
  records::put_real(out, v, w, d);
  return out;
}

TEST(PairEnergy, Exp6AndCoulombTerms) {
  RunState s;
  s.element_count = 2;
  s.element_emin = {1.0f, 1.0f};
  s.element_r0 = {1.7f, 1.7f};
  // At r = r0 the van der Waals term is -1.119465 eps; values to the digits
  // shown, in single precision.
  const struct {
    float r, q_a, q_b;
    double evdw, evdw_tolerance, estat;
  } cases[] = {
      {3.4f, 0.0f, 0.0f, -1.119465, 5e-7, 0.0},
      {2.0f, 0.0f, 0.5f, 103.8917, 5e-5, 0.0},
      {5.0f, 0.1f, 0.0f, -0.218463, 5e-7, 0.0},
      {3.0f, 0.1f, -0.1f, -0.1291147, 5e-6, -4.6},
  };
  for (const auto& [r, q_a, q_b, evdw, evdw_tolerance, estat] : cases) {
    const PairEnergy e = pair_energy(s, r, 1, 2, q_a, q_b);
    EXPECT_NEAR(e.evdw, evdw, evdw_tolerance) << "r " << r;
    EXPECT_NEAR(e.estat, estat, 1e-6) << "r " << r;
  }
}

TEST(PairEnergy, MoleculeSumRunsOuterThenInnerAndTracksTheShortestDistance) {
  RunState s;
  s.element_count = 2;
  s.element_emin = {0.2343f, 0.0837f};
  s.element_r0 = {1.96f, 1.62f};
  const PairTable table = make_pair_table(s);
  const float al[] = {0, 1.4f}, as[] = {0, 0}, av[] = {0, 0};
  const float bl[] = {0.3f, 2.0f}, bs[] = {0.5f, -1}, bv[] = {3.5f, 3.4f};
  const int ae[] = {1, 2}, be[] = {2, 1};
  const float aq[] = {-0.1f, 0.1f}, bq[] = {0.1f, -0.1f};
  const MoleculeView a{al, as, av, ae, aq, 2}, b{bl, bs, bv, be, bq, 2};
  const MoleculeEnergy e = molecule_pair_energy(table, a, b);
  float evdw = 0, estat = 0, shortest = 100;
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      const float dl = bl[j] - al[i], ds = bs[j] - as[i], dv = bv[j] - av[i];
      const float r = std::sqrt((dl * dl + ds * ds) + dv * dv);
      shortest = std::min(shortest, r);
      const PairEnergy p = pair_energy(s, r, ae[i], be[j], aq[i], bq[j]);
      evdw += p.evdw;
      estat += p.estat;
    }
  }
  EXPECT_EQ(std::bit_cast<std::uint32_t>(e.evdw), std::bit_cast<std::uint32_t>(evdw));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(e.estat), std::bit_cast<std::uint32_t>(estat));
  EXPECT_EQ(e.etot, evdw + estat);
  EXPECT_EQ(e.shortest, shortest);
}

TEST(UnitReport, DihedralAngleIsFoldedTo0To90) {
  const struct {
    float n_v;
    const char* printed;
  } cases[] = {{1.0f, "   0.00000"},      {-1.0f, "   0.00000"}, {0.0f, "  90.00000"},
               {0.5f, "  60.00000"},      {-0.9f, "  25.84193"}, {0.9f, "  25.84194"},
               {1.0000001f, "   0.00000"}};
  for (const auto& [n_v, printed] : cases) {
    EXPECT_EQ(fixed(dihedral_angle(n_v), 10, 5), printed) << "n_v " << n_v;
  }
}

TEST(UnitReport, NoUnitsGivesTheHeaderAndAZeroTotal) {
  RunState s;
  std::string report;
  write_unit_report(s, report, nullptr);
  EXPECT_EQ(
      report,
      "\nIntermolecular potentials                X         Y         Z       Dihedral Angle\n"
      "                d shortest  d center (A)                      kJ/mol\n"
      "                                                   Etot =    0.00000\n\n");
}

TEST(ShiftGrid, SteppingAndEndTests) {
  const struct {
    float start, end, step;
    std::vector<float> shifts;  // empty: 100 points, all checked against serial additions
  } cases[] = {
      {0.0f, 1.0f, 0.5f, {0.0f, 0.5f, 1.0f}},
      {0.0f, 1.0f, 0.3f, {0.0f, 0.3f, 0.6f, 0.90000004f, 1.2f}},
      {2.0f, 1.0f, 0.5f, {2.0f}},
      {1.0f, 1.0f, 0.5f, {1.0f}},
      {0.0f, 1.0f, 0.0f, {}},
      {0.0f, 1.0f, -0.1f, {}},
  };
  for (const auto& [start, end, step, shifts] : cases) {
    RunState s;
    s.map_l_start = start, s.map_l_end = end, s.map_l_step = step;
    s.map_s_start = start, s.map_s_end = end, s.map_s_step = step;
    const ShiftGrid g = make_shift_grid(s);
    const int expected = shifts.empty() ? 100 : static_cast<int>(shifts.size());
    ASSERT_EQ(g.columns, expected) << start << " " << end << " " << step;
    EXPECT_EQ(g.rows, expected);
    float x = start;
    for (int i = 0; i < expected; ++i) {
      if (!shifts.empty()) {
        EXPECT_NEAR(g.l_shift[i], shifts[i], 1e-6f);
      }
      EXPECT_EQ(g.l_shift[i], x);
      EXPECT_EQ(g.s_shift[i], x);
      x = x + step;
    }
  }
}

}  // namespace
}  // namespace zelk8
