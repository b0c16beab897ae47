#include "units.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "crystal.hpp"
#include "molecule.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;

namespace {

// The operations of the units, "%5.1f" each as in the input file, sorted.
std::vector<std::string> unit_fields(const std::vector<zelk8::prep::Unit>& units) {
  std::vector<std::string> fields;
  for (const zelk8::prep::Unit& unit : units) {
    char line[128];
    int n = 0;
    for (double v : unit.op) n += std::snprintf(line + n, sizeof line - n, "%5.1f", v);
    fields.push_back(line);
  }
  std::sort(fields.begin(), fields.end());
  return fields;
}

zelk8::prep::UnitSearch units_of(const std::string& text, double cutoff = 10.0) {
  zelk8::prep::Crystal c = zelk8::prep::read_crystal_text(text, "test.cif");
  return zelk8::prep::find_units(c, zelk8::prep::build_molecule(c, {}), cutoff);
}

// The glide of P 21/a maps the centrosymmetric anthracene onto the same
// molecules as the screw axis, and the inversion onto itself: each molecule
// is listed once, by the first operation that makes it; nearest first.
TEST(Units, ImagesAreMoleculesNotOperations) {
  zelk8::prep::UnitSearch search = units_of(cif_text("anthracene"));
  ASSERT_EQ(search.units.size(), 14u);
  for (const zelk8::prep::Unit& unit : search.units) {
    EXPECT_TRUE(unit.symop != 2 && unit.symop != 3)
        << unit.name << " is the inversion or the glide";
    EXPECT_EQ(unit.name[0], unit.translation ? 'T' : 'R');
  }
  for (size_t i = 1; i < search.units.size(); ++i)
    EXPECT_LE(search.units[i - 1].distance, search.units[i].distance + 1e-9);
  // Ties by translation: the four screw neighbours at 5.24 A.
  EXPECT_EQ(zelk8::prep::unit_triplet(search.units[0]), "-x-1/2,y-1/2,-z");
  EXPECT_EQ(zelk8::prep::unit_triplet(search.units[3]), "-x+1/2,y+1/2,-z");
  EXPECT_NEAR(search.units[0].distance, 5.2384, 1e-4);
}

// Operations from the space-group symbol alone (old "P2(1)/c" spelling) or
// from the Hall symbol give the same units as the listed operations.
TEST(Units, OperationsFromTheSymbol) {
  const std::string listed = cif_text("quinacridone");
  const std::string no_loop =
      replace_all(without_lines(listed, ", "), "loop_\n_symmetry_equiv_pos_as_xyz\n", "");
  const std::string hall =
      replace_all(without_lines(no_loop, "_symmetry_space_group_name_H-M"), "data_quinacridone\n",
                  "data_quinacridone\n_symmetry_space_group_name_Hall '-P 2ybc'\n");
  EXPECT_EQ(zelk8::prep::read_crystal_text(no_loop, "symbol.cif").ops_source,
            "space-group symbol 'P2(1)/c'");
  EXPECT_EQ(zelk8::prep::read_crystal_text(hall, "hall.cif").ops_source,
            "_symmetry_space_group_name_Hall '-P 2ybc'");
  EXPECT_EQ(unit_fields(units_of(no_loop).units), unit_fields(units_of(listed).units));
  EXPECT_EQ(unit_fields(units_of(hall).units), unit_fields(units_of(listed).units));
}

// More units than twenty inside the cutoff: the twenty nearest are kept.
TEST(Units, AtMostTwentyNearestFirst) {
  zelk8::prep::UnitSearch search = units_of(cif_text("naphthalene"), 12.0);
  EXPECT_GT(search.inside_cutoff, zelk8::prep::max_units);
  ASSERT_EQ(static_cast<int>(search.units.size()), zelk8::prep::max_units);
  EXPECT_EQ(search.units.back().name, "R20");
  EXPECT_EQ(unit_fields(search.units), unit_fields(units_of(cif_text("naphthalene"), 10.0).units));
}

}  // namespace
