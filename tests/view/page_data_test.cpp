#include "page_data.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "map_svg.hpp"

namespace zelk8::view {
namespace {

using nlohmann::json;
using report::parse_field;

report::Unit unit(int number, const std::string& name, std::vector<std::string> operation,
                  const std::string& evdw, const std::string& estat, const std::string& etot) {
  report::Unit u;
  u.number = parse_field(std::to_string(number));
  u.name = name;
  u.shortest_distance = parse_field("2.67700");
  u.centre_distance = parse_field("5.23845");
  u.centre = {parse_field("2.51920"), parse_field("-4.01870"), parse_field("-2.22373")};
  u.dihedral_angle = parse_field("49.52511");
  for (std::size_t k = 0; k < 12; ++k) {
    u.operation[k] = parse_field(operation[k]);
  }
  u.evdw = parse_field(evdw);
  u.estat = parse_field(estat);
  u.etot = parse_field(etot);
  return u;
}

const std::vector<std::string> identity_b = {"1.0", "0.0", "0.0", "0.0", "1.0",  "0.0",
                                             "0.0", "0.0", "1.0", "0.0", "-1.0", "0.0"};
const std::vector<std::string> glide = {"-1.0", "0.0", "0.0",  "0.0", "1.0", "0.0",
                                        "0.0",  "0.0", "-1.0", "0.5", "0.5", "0.0"};
const std::vector<std::string> marker = {"5.0", "0.0", "0.0", "0.0", "0.0", "0.0",
                                         "0.0", "0.0", "0.0", "0.0", "0.0", "0.0"};

// A finished report of two atoms, three units and no map.
report::Report small_report() {
  report::Report r;
  r.cell = {parse_field("8.5620"),  parse_field("6.0380"),   parse_field("11.1840"),
            parse_field("90.0000"), parse_field("124.7000"), parse_field("90.0000")};
  for (const auto& [label, symbol] :
       {std::pair{"C1", "C"}, std::pair{"C2", "C"}, std::pair{"H1", "H"}}) {
    report::Atom atom;
    atom.label = label;
    atom.symbol = symbol;
    r.atoms.push_back(atom);
    report::FrameAtom frame;
    frame.label = label;
    frame.symbol = symbol;
    frame.element = parse_field(symbol == std::string("H") ? "2" : "1");
    frame.l = parse_field("3.64608");
    frame.s = parse_field("************");
    frame.v = parse_field("-0.00913");
    frame.charge = parse_field("-0.10000");
    r.coordinates.push_back(frame);
  }
  r.run_parameters.stack_unit = parse_field("0");
  r.units = {unit(1, "T05", identity_b, "-14.3214", "-3.6713", "-17.9927"),
             unit(2, "R01", glide, "**********", "NaN", "-21.8278"),
             unit(3, "M01", marker, "-1.5561", "0.3387", "-1.2174")};
  r.lattice_etot = parse_field("-41.03790");
  r.complete = true;
  return r;
}

TEST(PageData, FieldsOffScaleAreNullWithTheirPrintedText) {
  const json data = page_data(small_report(), {"anthracene", "at8.dat", {}, {}});
  const json& u2 = data["units"][1];
  EXPECT_TRUE(u2["EvdW"].is_null());
  EXPECT_EQ(u2["EvdW_printed"], "**********");
  EXPECT_TRUE(u2["Estat"].is_null());
  EXPECT_EQ(u2["Estat_printed"], "NaN");
  EXPECT_DOUBLE_EQ(u2["Etot"].get<double>(), -21.8278);
  EXPECT_FALSE(u2.contains("Etot_printed"));
  EXPECT_FALSE(data["units"][0].contains("EvdW_printed"));
  // A list keeps its length; its texts stand at the null places only.
  const json& atom = data["atoms"][0];
  EXPECT_TRUE(atom["frame_s"].is_null());
  EXPECT_EQ(atom["frame_s_printed"], "************");
  EXPECT_EQ(data["units"][0]["centre"], json::parse("[2.5192, -4.0187, -2.22373]"));
  EXPECT_FALSE(data["units"][0].contains("centre_printed"));

  report::Unit u = unit(4, "X", glide, "1.0", "1.0", "2.0");
  u.centre[1] = parse_field("**********");
  const json again = page_data(
      [&] {
        report::Report r = small_report();
        r.units = {u};
        return r;
      }(),
      {"x", "at8.dat", {}, {}});
  EXPECT_EQ(again["units"][0]["centre"][1], nullptr);
  EXPECT_EQ(again["units"][0]["centre_printed"], json::parse(R"([null, "**********", null])"));
}

TEST(PageData, HeaderOfAFinishedReport) {
  const json data = page_data(small_report(), {"anthracene", "runs/a/at8.dat", {}, {}});
  EXPECT_DOUBLE_EQ(data["cell"]["beta"].get<double>(), 124.7);
  EXPECT_EQ(data["atom_count"], 3);
  EXPECT_DOUBLE_EQ(data["lattice_etot"].get<double>(), -41.0379);
  EXPECT_TRUE(data["stopped_at"].is_null());
  EXPECT_TRUE(data["map"].is_null());
  EXPECT_TRUE(data["neighbours"].is_null());
}

TEST(PageData, FormulaInHillOrder) {
  const auto formula_of = [](std::vector<std::string> symbols) {
    report::Report r;
    for (const auto& symbol : symbols) {
      r.atoms.push_back(report::Atom{{}, {}, {}, {}, "X1", symbol});
    }
    return formula(r);
  };
  EXPECT_EQ(formula_of({"O", "O", "N", "C", "C", "C", "H", "S"}), "C3HNO2S");
  EXPECT_EQ(formula_of({"O", "H", "H"}), "H2O");
  EXPECT_EQ(formula_of({"S", "Cl", "Cl", "Br"}), "BrCl2S");
}

TEST(PageData, OperationTextSecondAtomSetAndShare) {
  report::Report r = small_report();
  // A second unit with a11 = 5.0 after the marker is an ordinary operation.
  r.units.push_back(unit(4, "M02", marker, "-1.0", "0.0", "-1.0"));
  const json units = page_data(r, {"c", "at8.dat", {}, {}})["units"];
  EXPECT_EQ(units[0]["operation_text"], "x, y-1, z");
  EXPECT_EQ(units[1]["operation_text"], "-x+1/2, y+1/2, -z");
  EXPECT_EQ(units[2]["operation_text"], "second atom set as read");
  EXPECT_NE(units[3]["operation_text"], "second atom set as read");
  EXPECT_EQ(units[0]["atom_set"], 1);
  EXPECT_EQ(units[1]["atom_set"], 1);
  EXPECT_EQ(units[2]["atom_set"], 2);
  EXPECT_EQ(units[3]["atom_set"], 2);
  EXPECT_TRUE(units[2]["marker"].get<bool>());
  EXPECT_FALSE(units[3]["marker"].get<bool>());
  EXPECT_EQ(units[1]["operation"][9], 0.5);
  EXPECT_NEAR(units[0]["share"].get<double>(), -17.9927 / -41.0379, 1e-12);

  // Without a lattice sum (a report cut short) there is no share.
  r.lattice_etot.reset();
  r.complete = false;
  r.stopped_at = report::Stop{120, report::Section::lattice_sum};
  const json cut = page_data(r, {"c", "at8.dat", {}, {}});
  EXPECT_TRUE(cut["units"][0]["share"].is_null());
  EXPECT_TRUE(cut["lattice_etot"].is_null());
  EXPECT_FALSE(cut.contains("lattice_etot_printed"));
  EXPECT_EQ(cut["stopped_at"]["line"], 120);
  EXPECT_EQ(cut["stopped_at"]["message"],
            "The report stops at line 120, where the total line \"Etot = \" should follow: the "
            "run ended early. Everything before that line is shown.");
}

TEST(PageData, ReportsWithoutUnitsAreRefused) {
  report::Report r = small_report();
  r.units.clear();
  try {
    page_data(r, {"c", "at8.dat", {}, {}});
    ADD_FAILURE() << "accepted";
  } catch (const PageDataError& error) {
    EXPECT_STREQ(error.what(), "the report has no unit blocks (the input lists no units)");
  }
  r.complete = false;
  r.stopped_at = report::Stop{60, report::Section::units_heading};
  try {
    page_data(r, {"c", "at8.dat", {}, {}});
    ADD_FAILURE() << "accepted";
  } catch (const PageDataError& error) {
    EXPECT_NE(std::string(error.what()).find("line 60"), std::string::npos) << error.what();
  }
}

report::MapTable table(const std::string& name, std::vector<std::vector<std::string>> cells) {
  report::MapTable t;
  t.name = name;
  for (const char* l : {"-0.500", "0.000", "0.500"}) {
    t.l_shifts.push_back(parse_field(l));
  }
  for (const char* s : {"0.000", "1.000"}) {
    t.s_shifts.push_back(parse_field(s));
  }
  for (const auto& row : cells) {
    std::vector<report::Field> fields;
    for (const auto& c : row) {
      fields.push_back(parse_field(c));
    }
    t.cells.push_back(std::move(fields));
  }
  return t;
}

report::Report report_with_map() {
  report::Report r = small_report();
  r.run_parameters.stack_unit = parse_field("1");
  r.map_height = parse_field("3.50000");
  report::ShiftMap map;
  map.evdw = table("EvdW", {{"5.000", "-2.000", "**********"}, {"12.000", "-7.500", "40.000"}});
  map.evdw_minimum = {parse_field("0.000"), parse_field("1.000"), parse_field("-7.500")};
  map.estat = table("Estat", {{"1.000", "2.000", "3.000"}, {"4.000", "5.000", "6.000"}});
  map.etot = table("Etot", {{"6.000", "0.000", "NaN"}, {"16.000", "-2.500", "46.000"}});
  map.etot_minimum = {parse_field("0.000"), parse_field("0.000"), parse_field("0.000")};
  r.map = map;
  return r;
}

TEST(PageData, MapTablesMinimaAndColours) {
  const json data = page_data(report_with_map(), {"c", "at8.dat", {}, {}});
  const json& map = data["map"];
  EXPECT_DOUBLE_EQ(map["height"].get<double>(), 3.5);
  EXPECT_FALSE(map["scan_export"].get<bool>());
  EXPECT_EQ(map["l_shifts"], json::parse("[-0.5, 0.0, 0.5]"));
  EXPECT_EQ(map["s_shifts"], json::parse("[0.0, 1.0]"));
  // Rows are VS shifts, columns VL shifts, as printed.
  EXPECT_EQ(map["EvdW"]["values"], json::parse("[[5.0, -2.0, null], [12.0, -7.5, 40.0]]"));
  EXPECT_EQ(map["EvdW"]["off_scale"], json::parse(R"([[0, 2, "**********"]])"));
  EXPECT_EQ(map["Etot"]["off_scale"], json::parse(R"([[0, 2, "NaN"]])"));
  EXPECT_FALSE(map["Estat"].contains("minimum"));

  const json& evdw_min = map["EvdW"]["minimum"];
  EXPECT_TRUE(evdw_min["below_zero"].get<bool>());
  EXPECT_EQ(evdw_min["grid_point"], json::parse(R"({"row": 1, "column": 1})"));
  // A minimum line still at 0.000 names no grid point.
  const json& etot_min = map["Etot"]["minimum"];
  EXPECT_FALSE(etot_min["below_zero"].get<bool>());
  EXPECT_TRUE(etot_min["grid_point"].is_null());

  // The cells have the colours of zelk8-map's picture of the same table.
  const report::Report r = report_with_map();
  map::StackMap picture;
  static_cast<report::ShiftMap&>(picture) = *r.map;
  picture.height = *r.map_height;
  const std::string svg = map::render_svg(picture, {});
  for (const auto& [name, row, column, title] :
       {std::tuple{"EvdW", 1, 1, "VL 0.000, VS 1.000: -7.500"},
        std::tuple{"EvdW", 0, 2, "VL 0.500, VS 0.000: **********"},
        std::tuple{"Estat", 0, 0, "VL -0.500, VS 0.000: 1.000"},
        std::tuple{"Etot", 1, 2, "VL 0.500, VS 1.000: 46.000"}}) {
    const std::string colour = map[name]["colours"][row][column];
    EXPECT_NE(svg.find("fill=\"" + colour + "\"><title>" + title + "</title>"), std::string::npos)
        << name << " " << title << " " << colour;
  }
}

TEST(PageData, MapContactsFoundByTheCallerAreUsed) {
  const report::Report r = report_with_map();
  const json found = page_data(r, {"c", "at8.dat", {}, {}})["map"];
  report::MapContacts given;
  given.checked = true;
  given.note = "given";
  given.overlap_points = 1;
  given.overlap = {{false, false, false}, {false, true, false}};
  given.shortest = {{1.0, 2.0, 3.0}, {4.0, 0.5, 6.0}};
  PageSource source{"c", "at8.dat", {}, {}};
  source.contacts = given;
  const json map = page_data(r, source)["map"];
  EXPECT_EQ(map["overlap_note"], "given");
  EXPECT_EQ(map["overlap_points"], 1);
  EXPECT_EQ(map["overlap"], json(given.overlap));
  // The overlap point leaves the EvdW minimum, as in the picture.
  EXPECT_TRUE(map["EvdW"]["minimum"]["printed_is_overlap"].get<bool>());
  EXPECT_NE(map["overlap_note"], found["overlap_note"]);
  // Contacts equal to those found make the same data.
  source.contacts = report::map_contacts(r);
  EXPECT_EQ(page_data(r, source)["map"], found);
}

TEST(PageData, MapHeadingWithoutTables) {
  report::Report r = report_with_map();
  r.map.reset();
  r.run_parameters.stack_unit = parse_field("45");
  const json map = page_data(r, {"c", "at8.dat", {}, {}})["map"];
  EXPECT_TRUE(map["scan_export"].get<bool>());
  EXPECT_TRUE(map["EvdW"].is_null());
  EXPECT_TRUE(map["Etot"].is_null());
  // The same heading in a report cut short is no scan export.
  r.complete = false;
  r.stopped_at = report::Stop{99, report::Section::evdw_table};
  EXPECT_FALSE(page_data(r, {"c", "at8.dat", {}, {}})["map"]["scan_export"].get<bool>());
}

}  // namespace
}  // namespace zelk8::view
