// What the page says about a report's trustworthiness: element names, net
// charge and degenerate axes.
#include "page_checks.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "../map/map_reports.hpp"
#include "page_data.hpp"

namespace zelk8::view {
namespace {

using nlohmann::json;
using report::parse_field;

// A three-atom molecule (C, C, H; two element types) with one unit.
report::Report three_atoms() {
  std::istringstream in(map::testing::report_head(0));
  return report::read_report(in);
}

// The moment tensor, row by row.
void set_moments(report::Report& r, const std::array<double, 9>& m) {
  for (std::size_t k = 0; k < 9; ++k) {
    r.moments[k / 3][k % 3] = parse_field(std::to_string(m[k]));
  }
}

TEST(PageChecks, ElementTypesAreNamedByTheirAtoms) {
  report::Report r = three_atoms();
  json names = element_names(r);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0]["name"], "C");
  EXPECT_EQ(names[1]["note"], "");
  // The report prints the second type as S; its atom is an oxygen.
  r.elements.rows[1].symbol = "S";
  r.atoms[2].symbol = "O";
  names = element_names(r);
  EXPECT_EQ(names[1]["name"], "O");
  EXPECT_EQ(names[1]["printed"], "S");
  EXPECT_EQ(names[1]["note"], "O, printed as S");
  // A type that holds atoms of two symbols names both, first seen first.
  r.atoms[1].element = parse_field("2");
  r.atoms[1].symbol = "N";
  EXPECT_EQ(element_names(r)[1]["name"], "N/O");
  EXPECT_EQ(element_names(r)[0]["name"], "C");

  const json data = page_data(r, {"x", "at8.dat", {}, {}});
  EXPECT_EQ(data["elements"][1]["name"], "N/O");
  EXPECT_EQ(data["elements"][1]["symbol"], "S");
  EXPECT_EQ(data["elements"][1]["name_note"], "N/O, printed as S");
}

TEST(PageChecks, NetChargeAndItsWarning) {
  report::Report r = three_atoms();  // -0.1, -0.1, +0.1
  json q = net_charge(r);
  EXPECT_NEAR(q["value"].get<double>(), -0.1, 1e-12);
  EXPECT_TRUE(q["warning"]);
  for (const auto& [third, warning] : {std::pair{"0.20400", false}, std::pair{"0.19600", false},
                                       std::pair{"0.20600", true}, std::pair{"0.19400", true}}) {
    r.coordinates[2].charge = parse_field(third);
    q = net_charge(r);
    EXPECT_EQ(q["warning"].get<bool>(), warning) << third;
  }
  r.coordinates[0].charge = parse_field("**********");
  q = net_charge(r);
  EXPECT_TRUE(q["value"].is_null());
  EXPECT_FALSE(q["warning"]);
}

TEST(PageChecks, DegenerateAxesFromTheMomentsOrFromPrep) {
  report::Report r = three_atoms();
  // The printed tensor of a planar molecule: three distinct moments.
  AxisMoments m = axis_moments(r);
  ASSERT_TRUE(m.moments.has_value());
  EXPECT_NEAR((*m.moments)[2], 0.0, 1e-4);
  EXPECT_EQ(m.degenerate, "");
  EXPECT_TRUE(degenerate_axes(r, std::nullopt).is_null());

  // In-plane moments equal within 1e-3 (relative), and just outside it.
  set_moments(r, {2.0, 0.0, 0.0, 0.0, 2.001, 0.0, 0.0, 0.0, 0.5});
  EXPECT_EQ(axis_moments(r).degenerate, "VL and VS");
  set_moments(r, {2.0, 0.0, 0.0, 0.0, 2.01, 0.0, 0.0, 0.0, 0.5});
  EXPECT_EQ(axis_moments(r).degenerate, "");
  // A linear molecule along VL: VS and VV are both arbitrary.
  const double l = 0.86714, s = -0.49806;
  set_moments(r, {5 * l * l, 5 * l * s, 0.0, 5 * l * s, 5 * s * s, 0.0, 0.0, 0.0, 0.0});
  EXPECT_EQ(axis_moments(r).degenerate, "VS and VV");
  const json from_report = degenerate_axes(r, std::nullopt);
  EXPECT_EQ(from_report["source"], "the moment tensor");
  EXPECT_NE(from_report["message"].get<std::string>().find("VS and VV"), std::string::npos);
  EXPECT_NE(from_report["message"].get<std::string>().find("dihedral"), std::string::npos);

  // prep.json's word is taken when it names axes; an empty one leaves the tensor's.
  set_moments(r, {2.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0});
  const json from_prep = degenerate_axes(r, json{{"degenerate_axes", "VL and VS"}});
  EXPECT_EQ(from_prep["axes"], "VL and VS");
  EXPECT_EQ(from_prep["source"], "prep.json");
  EXPECT_TRUE(degenerate_axes(r, json{{"degenerate_axes", ""}}).is_null());
  r.moments[1][1] = parse_field("NaN");
  EXPECT_FALSE(axis_moments(r).moments.has_value());
}

}  // namespace
}  // namespace zelk8::view
