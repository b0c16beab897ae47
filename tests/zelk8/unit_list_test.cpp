#include <gtest/gtest.h>

#include "stages.hpp"

namespace zelk8 {
namespace {

// A unit record whose first field is `a11` as typed.
std::string unit(const char* a11, const char* name = "U   ") {
  return std::string(a11) + "  0.0  0.0  0.0  1.0  0.0  0.0  0.0  1.0  0.0  1.0  0.0" + name + "\n";
}

std::string units(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += unit("  1.0");
  return out;
}

struct Read {
  RunState s;
  std::string report;
};

Read read_units(const std::string& text, bool second_set = false) {
  Read r;
  r.s.second_set_read = second_set;
  records::InputFile in("zelk8.dat", text);
  read_unit_list(r.s, in, r.report);
  return r;
}

TEST(UnitList, TerminatorAndCount) {
  const struct {
    std::string text;
    int unit_count;
    int stack_unit;
  } cases[] = {
      {" 99.0\n    2   0.10000\n", 0, 2},
      {units(3) + unit(" 9.99") + unit(" 10.0") + "    0\n", 4, 0},
      // 20 units end the list; the next record is the run parameters.
      {units(20) + "   -3   0.10000\n", 20, 3},
  };
  for (const auto& [text, unit_count, stack_unit] : cases) {
    const Read r = read_units(text);
    EXPECT_EQ(r.s.unit_count, unit_count) << text;
    EXPECT_EQ(r.s.stack_unit, stack_unit) << text;
  }
}

TEST(UnitList, RecordValuesAndEcho) {
  const Read r =
      read_units(unit(" -1.0", "R01 ") + "   99\n   -3   0.10000  -0.40000   -.3        1.\n");
  EXPECT_EQ(r.s.unit_count, 1);
  EXPECT_EQ(r.s.unit_ops[0][0], -1.0f);
  EXPECT_EQ(r.s.unit_ops[0][10], 1.0f);
  EXPECT_EQ(records::view(r.s.unit_names[0]), "R01 ");
  EXPECT_EQ(r.report, "   3    0.10000  -0.40000  -0.30000   1.00000\n");
  EXPECT_EQ(read_units(" 99.0\n10000\n").report, "****    0.00000   0.00000   0.00000   0.00000\n");
}

TEST(UnitList, MarkerUnitNeedsASecondAtomSet) {
  // Accepted with a second set; a later 5.0 is an ordinary unit.
  const Read r = read_units(unit("  5.0") + unit("  5.0") + " 99.0\n    0\n", true);
  EXPECT_EQ(r.s.unit_count, 2);
  try {
    read_units(units(2) + unit("  5.0") + " 99.0\n    0\n");
    ADD_FAILURE() << "marker unit without a second set accepted";
  } catch (const records::ReadError& e) {
    EXPECT_STREQ(
        e.what(),
        "zelk8.dat line 3: unit record: a11 = 5.0 places the second atom set, but the atom "
        "list has none");
  }
  // 5.001 is not the marker.
  EXPECT_EQ(read_units(unit("5.001") + " 99.0\n    0\n").s.unit_count, 1);
}

TEST(CoordFile, CountLineStatesTheAtomLinesThatFollow) {
  const struct {
    int element_count, atom_count, unit_count;
    std::string count_line;
  } cases[] = {
      {2, 24, 1, " 48\n\n"},
      {1, 24, 2, " 48\n\n"},
      {2, 199, 20, "4179\n\n"},
      {3, 0, 0, "  0\n\n"},
  };
  for (const auto& [element_count, atom_count, unit_count, count_line] : cases) {
    RunState s;
    s.element_count = element_count;
    s.atom_count = atom_count;
    s.unit_count = unit_count;
    std::string coord;
    write_coord_header(s, coord);
    EXPECT_EQ(coord.substr(0, count_line.size()), count_line);
  }
}

TEST(CoordFile, SymbolsGoByPositionRanges) {
  RunState s;
  s.element_count = 3;
  s.atom_count = 4;
  s.element_atom_count = {1, 1, 2};
  s.heavy_atom_count = 2;
  s.frame_l[0] = 1234.5f;
  s.frame_s[1] = -0.25f;
  std::string coord;
  write_coord_header(s, coord);
  EXPECT_EQ(coord,
            "  4\n\n"
            "S   1234.5000000   0.0000000   0.0000000\n"
            "C      0.0000000  -0.2500000   0.0000000\n"
            "H      0.0000000   0.0000000   0.0000000\n"
            "H      0.0000000   0.0000000   0.0000000\n");
  s.element_count = 1;
  coord.clear();
  write_coord_header(s, coord);
  EXPECT_EQ(coord, "  0\n\n");
}

}  // namespace
}  // namespace zelk8
