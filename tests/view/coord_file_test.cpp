#include "coord_file.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace zelk8::view {
namespace {

// Two atoms per molecule: the central block, then two units.
constexpr const char* two_units =
    "  4\n"
    "\n"
    "C      3.6460750   0.7299725  -0.0091301\n"
    "H      4.5687399   1.3871123  -0.0707000\n"
    "C      6.1652827  -3.2887163  -2.2328663\n"
    "H   ************   1.0000000   2.0000000\n"
    "C     -1.0000000   2.0000000 -30.0000000\n"
    "H     -2.5000000   0.0000000   1.2500000\n"
    "  0.0000    0.0000\n";

NeighbourMolecules read(const std::string& text, std::size_t atoms, std::size_t units,
                        bool central) {
  std::istringstream in(text);
  return read_neighbours(in, atoms, units, central);
}

TEST(ReadNeighbours, UnitsAfterTheCentralBlock) {
  const NeighbourMolecules n = read(two_units, 2, 2, true);
  ASSERT_EQ(n.units.size(), 2u);
  // The atom with an off-scale coordinate is left out and counted.
  ASSERT_EQ(n.units[0].size(), 1u);
  EXPECT_EQ(n.units[0][0].symbol, "C");
  EXPECT_DOUBLE_EQ(n.units[0][0].l, 6.1652827);
  EXPECT_DOUBLE_EQ(n.units[0][0].v, -2.2328663);
  EXPECT_EQ(n.dropped_atoms, 1u);
  ASSERT_EQ(n.units[1].size(), 2u);
  EXPECT_DOUBLE_EQ(n.units[1][0].v, -30.0);
  EXPECT_EQ(n.units[1][1].symbol, "H");
  EXPECT_TRUE(n.note.empty()) << n.note;
}

TEST(ReadNeighbours, WithoutCentralBlockTheFirstLinesAreUnits) {
  const NeighbourMolecules n = read(two_units, 2, 3, false);
  ASSERT_EQ(n.units.size(), 3u);
  EXPECT_DOUBLE_EQ(n.units[0][0].l, 3.6460750);
}

TEST(ReadNeighbours, StopsWhereTheFileDoes) {
  // The scan's grid line is no atom line: two units of three are whole.
  NeighbourMolecules n = read(two_units, 2, 3, true);
  EXPECT_EQ(n.units.size(), 2u);
  EXPECT_EQ(n.note,
            "coord.xyz line 9: not an atom line in unit 3; 2 of 3 neighbour molecules read");

  // A file cut within a unit keeps the units before it.
  const std::string cut(two_units, std::string(two_units).find("C     -1.0"));
  n = read(cut, 2, 2, true);
  EXPECT_EQ(n.units.size(), 1u);
  EXPECT_EQ(n.note,
            "coord.xyz line 7: the file ends within unit 2; 1 of 2 neighbour molecules read");

  n = read("", 2, 2, true);
  EXPECT_TRUE(n.units.empty());
  EXPECT_EQ(
      n.note,
      "coord.xyz line 1: the file ends before its atom lines; 0 of 2 neighbour molecules read");
}

}  // namespace
}  // namespace zelk8::view
