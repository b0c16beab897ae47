#include "units.hpp"

#include "crystal.hpp"
#include "molecule.hpp"
#include "prep_test_util.hpp"

#include <gtest/gtest.h>

using namespace prep_test;

namespace {

std::vector<std::string> unit_fields(const std::vector<prep::Unit>& units) {
  std::vector<std::string> fields;
  for (const prep::Unit& unit : units) {
    char line[128];
    int n = 0;
    for (double v : unit.op)
      n += std::snprintf(line + n, sizeof line - n, "%5.1f", v);
    fields.push_back(line);
  }
  std::sort(fields.begin(), fields.end());
  return fields;
}

prep::UnitSearch units_of(const std::string& text, double cutoff = 10.0) {
  prep::Crystal c = prep::read_crystal_text(text, "test.cif");
  return prep::find_units(c, prep::build_molecule(c, {}), cutoff);
}

}  // namespace

// The same set of operations as the bundled input files (written with one
// decimal there), whatever their order.
TEST(Units, MatchTheBundledInputFiles) {
  for (const auto& [crystal, count, inside, stack] : {std::tuple{"anthracene", 14, 14, 5},
                                                      std::tuple{"naphthalene", 20, 20, 5},
                                                      std::tuple{"quinacridone", 14, 14, 1}}) {
    prep::UnitSearch search = units_of(cif_text(crystal));
    EXPECT_EQ(static_cast<int>(search.units.size()), count) << crystal;
    EXPECT_EQ(search.inside_cutoff, inside) << crystal;
    EXPECT_EQ(prep::nearest_translation(search.units), stack) << crystal;
    InputContents expected = read_input_contents(slurp(source_path(std::string("examples/") + crystal + "/zelk8.dat")));
    EXPECT_EQ(unit_fields(search.units), expected.units) << crystal;
    for (size_t i = 1; i < search.units.size(); ++i)
      EXPECT_LE(search.units[i - 1].distance, search.units[i].distance + 1e-9) << crystal;
  }
}

// The glide of P 21/a maps the centrosymmetric anthracene onto the same
// molecules as the screw axis, and the inversion onto itself: each molecule
// is listed once, by the first operation that makes it.
TEST(Units, ImagesAreMoleculesNotOperations) {
  prep::UnitSearch search = units_of(cif_text("anthracene"));
  for (const prep::Unit& unit : search.units) {
    EXPECT_NE(unit.symop, 2) << unit.name << " is the inversion";
    EXPECT_NE(unit.symop, 3) << unit.name << " is the glide";
    EXPECT_EQ(unit.name[0], unit.translation ? 'T' : 'R');
  }
  // Nearest first, ties by translation: the four screw neighbours at 5.24 A.
  ASSERT_GE(search.units.size(), 4u);
  EXPECT_EQ(prep::unit_triplet(search.units[0]), "-x-1/2,y-1/2,-z");
  EXPECT_EQ(prep::unit_triplet(search.units[3]), "-x+1/2,y+1/2,-z");
  EXPECT_NEAR(search.units[0].distance, 5.2384, 1e-4);
}

// Operations from the space-group symbol alone (old "P2(1)/c" spelling) or
// from the Hall symbol give the same units as the listed operations.
TEST(Units, OperationsFromTheSymbol) {
  const std::string listed = cif_text("quinacridone");
  const std::string no_loop = replace_all(without_lines(listed, ", "), "loop_\n_symmetry_equiv_pos_as_xyz\n", "");
  const std::string hall = replace_all(without_lines(no_loop, "_symmetry_space_group_name_H-M"), "data_quinacridone\n",
                                       "data_quinacridone\n_symmetry_space_group_name_Hall '-P 2ybc'\n");
  prep::Crystal from_symbol = prep::read_crystal_text(no_loop, "symbol.cif");
  prep::Crystal from_hall = prep::read_crystal_text(hall, "hall.cif");
  EXPECT_EQ(from_symbol.ops.size(), 4u);
  EXPECT_EQ(from_symbol.ops_source, "space-group symbol 'P2(1)/c'");
  EXPECT_EQ(from_hall.ops_source, "_symmetry_space_group_name_Hall '-P 2ybc'");
  EXPECT_EQ(unit_fields(units_of(no_loop).units), unit_fields(units_of(listed).units));
  EXPECT_EQ(unit_fields(units_of(hall).units), unit_fields(units_of(listed).units));
}

TEST(Units, AtMostTwentyNearestFirst) {
  prep::UnitSearch search = units_of(cif_text("naphthalene"), 12.0);
  EXPECT_GT(search.inside_cutoff, prep::max_units);
  ASSERT_EQ(static_cast<int>(search.units.size()), prep::max_units);
  EXPECT_EQ(search.units.back().name, "R20");
  // The twenty written are the twenty nearest of the larger search.
  EXPECT_EQ(unit_fields(search.units), unit_fields(units_of(cif_text("naphthalene"), 10.0).units));
}
