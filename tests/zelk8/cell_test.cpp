#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "stages.hpp"

namespace zelk8 {
namespace {

TEST(Cell, DegreesToRadiansHasTheBitsOfPiOver180InSinglePrecision) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(deg_to_rad), 0x3C8EFA35u);
}

TEST(Cell, TransferMatrixSections) {
  const struct {
    float a, b, c, alpha, beta, gamma;
    const char* cell_line;
    const char* section;
  } cases[] = {
      // cos(90 degrees) in single precision is about -4.37e-8, not 0: the
      // off-diagonal elements are tiny negatives.
      {10, 12, 14, 90, 90, 90, "   10.0000   12.0000   14.0000   90.0000   90.0000   90.0000\n",
       "\n\n TRANSFER MATRIX\n"
       "     10.00000  -0.00000  -0.00000\n"
       "               12.00000  -0.00000\n"
       "                         14.00000\n"},
      {10, 12, 14, 90, 100, 90, "   10.0000   12.0000   14.0000   90.0000  100.0000   90.0000\n",
       "\n\n TRANSFER MATRIX\n"
       "     10.00000  -0.00000  -2.43107\n"
       "               12.00000  -0.00000\n"
       "                         13.78731\n"},
  };
  for (const auto& [a, b, c, alpha, beta, gamma, cell_line, section] : cases) {
    RunState s;
    std::string record;
    for (float v : {a, b, c, alpha, beta, gamma}) {
      char field[16];
      std::snprintf(field, sizeof field, "%10.0f", v);  // whole numbers without a point
      record += field;
    }
    records::InputFile in("zelk8.dat", record + "\n");
    std::string report;
    read_cell(s, in, report);
    EXPECT_EQ(report, cell_line);
    report.clear();
    build_transfer_matrix(s, report);
    EXPECT_EQ(report, section) << "cell " << a << " " << b << " " << c << " " << beta;
  }
}

TEST(Cell, FractionalToCartesianColumnByColumn) {
  RunState s;
  s.cell_a = 10, s.cell_b = 12, s.cell_c = 14, s.cell_alpha = 90, s.cell_beta = 100,
  s.cell_gamma = 90;
  std::string report;
  build_transfer_matrix(s, report);
  const Cartesian p = to_cartesian(s, 0.5f, 0.25f, 0.5f);
  EXPECT_EQ(p.x, (s.T11 * 0.5f + s.T12 * 0.25f) + s.T13 * 0.5f);
  EXPECT_NEAR(p.x, 5.0 - 7 * 0.173648, 1e-5);
  EXPECT_NEAR(p.y, 3.0, 1e-5);
  EXPECT_NEAR(p.z, 7 * 0.984808, 1e-5);
}

TEST(Cell, DegenerateCellPrintsNotANumber) {
  RunState s;
  s.cell_a = 10, s.cell_b = 12, s.cell_c = 14, s.cell_alpha = 0, s.cell_beta = 0, s.cell_gamma = 0;
  std::string report;
  build_transfer_matrix(s, report);
  EXPECT_NE(report.find("NaN"), std::string::npos) << report;
}

TEST(MopacHeader, ThreeLines) {
  std::string mopac;
  write_mopac_header(mopac);
  EXPECT_EQ(mopac, " AM1 1SCF VECTORS XYZ\n\n\n");
}

}  // namespace
}  // namespace zelk8
