// The run's warnings: each once, repeats of a kind in one line.
#include "warnings.hpp"

#include <gtest/gtest.h>

namespace {

using zelk8::prep::InexactField;
using zelk8::prep::Warnings;

std::string sites_line(const std::vector<std::string>& items) {
  return std::to_string(items.size()) + " sites: " + zelk8::prep::listed(items);
}

}  // namespace

TEST(Warnings, EachOnceAndGroupsInThePlaceOfTheirFirstItem) {
  Warnings w;
  w.add("first");
  w.add_to("occupancy 0.5", "C1", sites_line);
  w.add("second");
  w.add("first");
  w.add_to("occupancy 0.5", "C2", sites_line);
  w.add_to("occupancy 0.25", "H1", sites_line);
  w.add_to("occupancy 0.5", "C1", sites_line);  // an item twice counts once
  // A plain warning whose text is a group's key stays a warning of its own.
  w.add("occupancy 0.5");
  EXPECT_EQ(w.lines(), (std::vector<std::string>{"first", "2 sites: C1 and C2", "second",
                                                 "1 sites: H1", "occupancy 0.5"}));
}

TEST(Warnings, ListsShortenAfterTheFirstFew) {
  using zelk8::prep::listed;
  EXPECT_EQ(listed({}), "");
  EXPECT_EQ(listed({"1"}), "1");
  EXPECT_EQ(listed({"1", "4"}), "1 and 4");
  EXPECT_EQ(listed({"1", "4", "7"}), "1, 4 and 7");
  EXPECT_EQ(listed({"a", "b", "c", "d", "e"}, 3), "a, b, c and 2 more");
  EXPECT_EQ(listed({"a", "b", "c", "d"}, 3), "a, b, c and 1 more");
}

// Fifteen values of an R3 crystal's units become one line that names each
// value once, with its field and its units.
TEST(Warnings, InexactFieldsMakeOneLine) {
  std::vector<InexactField> fields;
  for (int u = 1; u <= 5; ++u) {
    const std::string name = "R0" + std::to_string(u);
    fields.push_back({name, 1.0 / 3, ".3333"});
    fields.push_back({name, 2.0 / 3, ".6667"});
    fields.push_back({name, -1.0 / 3, "-.333"});
  }
  EXPECT_EQ(zelk8::prep::inexact_warning(fields),
            "15 unit values are written as the nearest a 5-column field holds: 0.333333 is "
            "written as .3333 (units R01, R02, R03, R04 and R05); 0.666667 is written as .6667 "
            "(units R01, R02, R03, R04 and R05); -0.333333 is written as -.333 (units R01, R02, "
            "R03, R04 and R05); equivalent units may differ");
  EXPECT_EQ(zelk8::prep::inexact_warning({{"T07", -2.0 / 3, "-.667"}}),
            "1 unit value is written as the nearest a 5-column field holds: -0.666667 is written "
            "as -.667 (unit T07); equivalent units may differ");
  EXPECT_EQ(zelk8::prep::inexact_warning({}), "");
}
