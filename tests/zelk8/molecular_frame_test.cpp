#include <gtest/gtest.h>

#include <vector>

#include "stages.hpp"

namespace zelk8 {
namespace {

// A cell whose transfer matrix is the identity: fractional = Cartesian.
RunState unit_cell_molecule(const std::vector<std::array<float, 3>>& atoms) {
  RunState s;
  s.T11 = s.T22 = s.T33 = 1.0f;
  s.atom_count = s.element_total = s.molecule_atom_count = static_cast<int>(atoms.size());
  for (int i = 0; i < s.atom_count; ++i) {
    s.frac_x[i] = atoms[i][0];
    s.frac_y[i] = atoms[i][1];
    s.frac_z[i] = atoms[i][2];
  }
  return s;
}

void expect_vector(const std::array<float, 3>& v, const std::array<float, 3>& expected,
                   const char* name) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(v[k], expected[k], 1e-6f) << name << " component " << k;
}

TEST(MolecularFrame, FourAtomCrossGivesAxesAlongTheArms) {
  RunState s = unit_cell_molecule({{1, 0, 0}, {-1, 0, 0}, {0, 2, 0}, {0, -2, 0}});
  std::string report;
  build_molecular_frame(s, report);
  // The tensor is diagonal 2, 8, 0; lengths are square roots of the sums.
  EXPECT_EQ(report.substr(0, report.find(" Molecular orientation")),
            "\n CENTER OF GRAVITY= (   0.00000   0.00000   0.00000  )\n"
            "\n Molecular moments\n"
            "   2.00000   0.00000   0.00000\n"
            "   0.00000   8.00000   0.00000\n"
            "   0.00000   0.00000   0.00000\n\n");
  expect_vector(s.VL, {0, 1, 0}, "VL");
  expect_vector(s.VS, {1, 0, 0}, "VS");
  expect_vector(s.VV, {0, 0, 1}, "VV");
  EXPECT_NEAR(s.axis_length[0], 2.82843f, 1e-5f);
  EXPECT_NEAR(s.axis_length[1], 1.41421f, 1e-5f);
  EXPECT_LT(s.axis_length[2], 1e-3f);
  EXPECT_NE(report.find("   2.82843 A  VL = "), std::string::npos) << report;
  EXPECT_NE(report.find("   1.41421 A  VS = "), std::string::npos) << report;
}

TEST(MolecularFrame, CentreWithin032AngstromLeavesTheAtomsInPlace) {
  // Mean (0.2, 0.2, 0.1): r2 = 0.09 is not above 0.1.
  RunState s = unit_cell_molecule({{1.2f, 0.2f, 0.1f}, {-0.8f, 0.2f, 0.1f}});
  std::string report;
  build_molecular_frame(s, report);
  EXPECT_EQ(report.substr(0, 56), "\n CENTER OF GRAVITY= (   0.00000   0.00000   0.00000  )\n");
  EXPECT_EQ(s.cart_x[0], 1.2f);
  EXPECT_EQ(s.cart_z[1], 0.1f);
}

TEST(MolecularFrame, LeadingAtomsSetTheCentreButAllAtomsMove) {
  RunState s = unit_cell_molecule({{2, 0, 0}, {4, 0, 0}, {10, 1, 0}});
  s.molecule_atom_count = 2;
  std::string report;
  build_molecular_frame(s, report);
  EXPECT_EQ(s.centre_of_gravity, (std::array<float, 3>{3, 0, 0}));
  EXPECT_EQ(s.cart_x[2], 7.0f);
  EXPECT_EQ(s.cart_y[2], 1.0f);
  // Only the two leading atoms enter the tensor: (1,1) = 1 + 1.
  EXPECT_NE(report.find("\n   2.00000   0.00000   0.00000\n"), std::string::npos) << report;
}

TEST(MolecularFrame, FrameCoordinatesProjectOnTheAxes) {
  RunState s;
  s.atom_count = 1;
  s.cart_x[0] = 1.0f, s.cart_y[0] = 2.0f, s.cart_z[0] = 3.0f;
  s.VL = {0, 1, 0};
  s.VS = {-1, 0, 0};
  s.VV = {0, 0, 1};
  build_frame_coordinates(s);
  EXPECT_EQ(s.frame_l[0], 2.0f);
  EXPECT_EQ(s.frame_s[0], -1.0f);
  EXPECT_EQ(s.frame_v[0], 3.0f);
}

}  // namespace
}  // namespace zelk8
