// Reports written by the program itself, read back: printing the fields again
// in the report layout must give the program's text byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "report.hpp"
#include "report_runs.hpp"

namespace zelk8::report::testing {
namespace {

Report read_text_report(const std::string& text) {
  std::istringstream in(text);
  return read_report(in, "at8.dat");
}

// The input lines of an example, and helpers to make other inputs from it.
struct Input {
  std::vector<std::string> lines;

  static Input example(const std::string& name) { return {split_lines(example_input(name))}; }

  std::size_t find(const std::string& text) const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == text) {
        return i;
      }
    }
    ADD_FAILURE() << "no line \"" << text << "\"";
    return lines.size();
  }

  std::string text() const {
    std::string all;
    for (const std::string& line : lines) {
      all += line + "\n";
    }
    return all;
  }
};

// An atom record of the input, in the layout the report's atom list shares.
std::string atom_record(int element, double x, double y, double z, const std::string& label,
                        const std::string& symbol) {
  std::string text = records::format(
      records::Format(records::report_layout::atom), element, static_cast<float>(x),
      static_cast<float>(y), static_cast<float>(z), records::text4(label), records::text4(symbol));
  text.pop_back();  // the line end
  return text;
}

std::string unit_record(const std::vector<double>& values, const std::string& name) {
  std::string text;
  for (double value : values) {
    char field[16];
    std::snprintf(field, sizeof field, "%5.1f", value);
    text += field;
  }
  return text + name;
}

const std::vector<double> translation(double t1, double t2, double t3) {
  return {1, 0, 0, 0, 1, 0, 0, 0, 1, t1, t2, t3};
}

void expect_reprinted(const std::string& report_text, const std::string& what) {
  SCOPED_TRACE(what);
  const Report report = read_text_report(report_text);
  EXPECT_TRUE(report.complete);
  EXPECT_FALSE(report.stopped_at.has_value());
  EXPECT_EQ(Printer().print(report), report_text);
}

TEST(ReadReport, EveryBundledExamplePrintsBackByteForByte) {
  for (const char* name :
       {"anthracene", "anthracene-nomap", "anthracene-scan", "naphthalene", "quinacridone"}) {
    expect_reprinted(run_zelk8(example_input(name), name), name);
  }
}

// Counts and values the program printed, found in the report text by other means.
TEST(ReadReport, AnthraceneSectionsHoldThePrintedValues) {
  const Input input = Input::example("anthracene");
  const Report report = read_text_report(run_zelk8(input.text(), ""));

  const std::size_t first_atom = 1;
  const std::size_t terminator = input.find("   0");
  ASSERT_EQ(report.atoms.size(), terminator - first_atom);
  ASSERT_EQ(report.coordinates.size(), report.atoms.size());
  ASSERT_TRUE(report.elements.sum.has_value());
  EXPECT_EQ(report.elements.sum->atoms.value, static_cast<double>(report.atoms.size()));
  EXPECT_EQ(report.elements.rows.size(), 2u);
  EXPECT_EQ(report.atoms[0].label, "C1");
  EXPECT_EQ(report.atoms[0].symbol, "C");
  EXPECT_EQ(report.coordinates.back().label, "H10");

  const std::size_t units = input.find(" 99.0") - (terminator + 4);
  ASSERT_EQ(report.units.size(), units);
  for (std::size_t u = 0; u < units; ++u) {
    EXPECT_EQ(report.units[u].number.value, static_cast<double>(u + 1));
    EXPECT_EQ(report.units[u].name, input.lines[terminator + 4 + u].substr(60));
  }

  const Unit* stack = report.stacking_unit();
  ASSERT_EQ(stack, &report.units[4]);  // the echoed stacking unit 5
  ASSERT_TRUE(report.map_height.has_value());
  EXPECT_EQ(report.map_height->text, stack->centre[2].text);  // map height 0: the stack's v

  // The grid of the map record: -3 to 3 by 0.25 along VL, -2 to 2 by 0.25 along VS.
  ASSERT_TRUE(report.map.has_value());
  for (const MapTable* table : {&report.map->evdw, &report.map->estat, &report.map->etot}) {
    EXPECT_EQ(table->columns(), 25u);
    EXPECT_EQ(table->rows(), 17u);
    EXPECT_EQ(table->l_shifts.front().text, "-3.000");
    EXPECT_EQ(table->s_shifts.back().text, "2.000");
    ASSERT_EQ(table->cells.size(), table->rows());
    for (const auto& row : table->cells) {
      EXPECT_EQ(row.size(), table->columns());
    }
  }
}

TEST(ReadReport, SecondAtomSetWithMarkerUnit) {
  Input input = Input::example("anthracene");
  const std::size_t terminator = input.find("   0");
  std::vector<std::string> second;
  for (std::size_t i = 1; i < terminator; ++i) {
    const std::string& atom = input.lines[i];
    const int element = std::stoi(atom.substr(0, 4));
    const double x = std::stod(atom.substr(5, 10));
    const double y = std::stod(atom.substr(15, 10));
    const double z = std::stod(atom.substr(25, 10));
    second.push_back(
        atom_record(element, 0.5 - x, 0.5 + y, -z, atom.substr(39, 4) + "", atom.substr(44)));
  }
  input.lines[terminator] = "  -1";
  input.lines.insert(input.lines.begin() + terminator + 1, second.begin(), second.end());
  const std::size_t first_unit = input.find(" 99.0") - 14;
  input.lines.erase(input.lines.begin() + first_unit + 2, input.lines.begin() + first_unit + 14);
  input.lines.insert(
      input.lines.begin() + first_unit + 2,
      {unit_record({5.0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "M03"),
       unit_record(translation(0, 1, 0), "S04"), unit_record(translation(0, -1, 0), "S05")});
  input.lines[input.find(" 99.0") + 1] = "    3   0.10000   0.00000   0.00000   0.00000";

  const std::string text = run_zelk8(input.text(), "");
  expect_reprinted(text, "second atom set");
  const Report report = read_text_report(text);
  ASSERT_EQ(report.units.size(), 5u);
  EXPECT_EQ(report.atoms.size(), second.size());  // the second set is not listed
  EXPECT_EQ(report.units[2].name, "M03");
  EXPECT_EQ(report.units[2].operation[0].text, "5.00000");
  EXPECT_EQ(symmetry_text(report.units[3].operation), "x, y+1, z");
  // The marker unit is the second set as read: the first unit of its kind
  // (R02 of the example) at the same place.
  EXPECT_NE(report.units[2].centre[0].text, report.units[0].centre[0].text);
  EXPECT_EQ(report.stacking_unit(), &report.units[2]);
  EXPECT_EQ(report.map_height->text, report.units[2].centre[2].text);
}

TEST(ReadReport, TwentyUnitsAndAHundredByHundredMap) {
  Input input = Input::example("anthracene");
  const std::size_t end_of_units = input.find(" 99.0");
  input.lines[end_of_units] = unit_record(translation(0, -1, -1), "T15");
  input.lines.insert(
      input.lines.begin() + end_of_units + 1,
      {unit_record(translation(0, 1, 1), "T16"), unit_record(translation(-1, -1, 0), "T17"),
       unit_record(translation(1, 1, 0), "T18"), unit_record(translation(-1, 1, 0), "T19"),
       unit_record(translation(1, -1, 0), "T20")});
  // No terminator after 20 units: the next record is the run parameters.
  const std::size_t parameters = end_of_units + 6;
  input.lines[parameters] = "   20   0.10000   0.00000   0.00000   0.00000";
  input.lines[parameters + 1] = "-2.50 9.00 0.05-2.50 9.00 0.05 3.50  0.0  0.0";

  const std::string text = run_zelk8(input.text(), "");
  expect_reprinted(text, "20 units, 100 x 100 map");
  const Report report = read_text_report(text);
  ASSERT_EQ(report.units.size(), 20u);
  EXPECT_EQ(report.units[19].name, "T20");
  EXPECT_EQ(report.stacking_unit(), &report.units[19]);
  ASSERT_TRUE(report.map.has_value());
  EXPECT_EQ(report.map_height->text, "3.50000");
  for (const MapTable* table : {&report.map->evdw, &report.map->estat, &report.map->etot}) {
    EXPECT_EQ(table->columns(), 100u);
    EXPECT_EQ(table->rows(), 100u);
    EXPECT_EQ(table->l_shifts.back().text, "2.450");
    EXPECT_EQ(table->s_shifts.back().text, "2.450");
  }
  // Each row of 101 fields is two lines: 100 fields, then the last energy alone.
  const std::vector<std::string> lines = split_lines(text);
  std::size_t single = 0;
  for (const std::string& line : lines) {
    single += line.size() == 10 ? 1 : 0;
  }
  EXPECT_EQ(single, 300u);
  EXPECT_TRUE(report.map->etot.cells[99][99].finite());
}

// The fuzzer's seeds: small reports with three and four element types, a
// second atom set, a scan, a run cut short before its map, 100 map columns.
TEST(ReadReport, EverySeedReportPrintsBack) {
  std::size_t seeds = 0;
  for (const auto& entry :
       fs::directory_iterator(fs::path(ZELK8_SOURCE_DIR) / "fuzz" / "corpus" / "report_fuzz")) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string text = read_text(entry.path());
    const Report report = read_text_report(text);
    EXPECT_EQ(Printer().print(report), text);
    EXPECT_EQ(report.complete, entry.path().filename() != "cut-before-map.dat");
    ++seeds;
  }
  EXPECT_GE(seeds, 7u);
  const Report four = read_report_file(fs::path(ZELK8_SOURCE_DIR) / "fuzz" / "corpus" /
                                       "report_fuzz" / "four-types-flat-cell.dat");
  ASSERT_EQ(four.elements.rows.size(), 4u);
  EXPECT_EQ(four.elements.rows[1].symbol, "O");
  EXPECT_EQ(four.elements.sum->nel.text, "16");
}

TEST(ReadReport, OffScaleFieldsFromARunKeepTheirText) {
  // A stacking unit of 10000 does not fit the echo's four columns; it asks
  // for the coordinate scan, so the report ends with the map heading.
  Input input = Input::example("anthracene-scan");
  input.lines[input.find(" 99.0") + 1] = "10000   0.10000   0.00000   0.00000   0.00000";
  const std::string text = run_zelk8(input.text(), "");
  expect_reprinted(text, "stacking unit 10000");
  const Report report = read_text_report(text);
  EXPECT_EQ(report.run_parameters.stack_unit.text, "****");
  EXPECT_TRUE(report.run_parameters.stack_unit.overflow());
  EXPECT_FALSE(report.run_parameters.stack_unit.value.has_value());
  EXPECT_TRUE(report.map_height.has_value());
  EXPECT_FALSE(report.map.has_value());
  EXPECT_EQ(report.stacking_unit(), nullptr);

  // A degenerate cell (gamma 0) gives non-finite matrix elements.
  Input flat = Input::example("anthracene-nomap");
  flat.lines[flat.find(" 99.0") - 15] =
      "    8.5620    6.0380   11.1840   90.0000  124.7000    0.0000";
  const std::string flat_text = run_zelk8(flat.text(), "-flat");
  expect_reprinted(flat_text, "degenerate cell");
  const Report degenerate = read_text_report(flat_text);
  EXPECT_TRUE(degenerate.transfer_matrix.t33.non_finite()) << degenerate.transfer_matrix.t33.text;
  EXPECT_FALSE(degenerate.transfer_matrix.t33.value.has_value());
}

}  // namespace
}  // namespace zelk8::report::testing
