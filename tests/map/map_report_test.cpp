#include "map_report.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "map_reports.hpp"

namespace zelk8::map {
namespace {

using testing::f10_3;
using testing::map_3x2;
using testing::minimum_line;
using testing::report_before_map;

StackMap read(const std::string& text) {
  std::istringstream in(text);
  return read_stack_map(in);
}

ReportError::Kind error_kind(const std::string& text, std::string* message = nullptr) {
  try {
    read(text);
  } catch (const ReportError& error) {
    if (message) {
      *message = error.what();
    }
    return error.kind();
  }
  ADD_FAILURE() << "the report was accepted";
  return ReportError::Kind::malformed;
}

TEST(ParseField, NumbersAndOffScaleSpellings) {
  const std::vector<std::tuple<std::string, FieldKind, float>> cases = {
      {"-12.345", FieldKind::number, -12.345f},       {"-0.000", FieldKind::number, -0.0f},
      {"999999.999", FieldKind::number, 999999.999f}, {"**********", FieldKind::overflow, 0.0f},
      {"NaN", FieldKind::non_finite, 0.0f},           {"-Infinity", FieldKind::non_finite, 0.0f},
      {"Inf", FieldKind::non_finite, 0.0f},
  };
  for (const auto& [text, kind, value] : cases) {
    const Field field = parse_field(text);
    EXPECT_EQ(field.kind, kind) << text;
    EXPECT_EQ(field.text, text);
    if (kind == FieldKind::number) {
      EXPECT_EQ(field.value, value) << text;
    }
  }
  for (const std::string bad : {"1.2.3", "abc", "12-", "*** ", "nan"}) {
    EXPECT_THROW(parse_field(bad), ReportError) << bad;
  }
}

TEST(ReadStackMap, ThreeByTwoMap) {
  const StackMap map = read(map_3x2);
  EXPECT_EQ(map.height.text, "3.50000");
  const std::vector<std::tuple<const MapTable*, std::string, std::vector<std::vector<float>>>>
      tables = {
          {&map.evdw, "EvdW", {{-12.345f, -3.210f, 25.000f}, {-8.000f, -15.500f, 1.500f}}},
          {&map.estat, "Estat", {{1.200f, -0.400f, 0.000f}, {-2.100f, 0.300f, -0.250f}}},
          {&map.etot, "Etot", {{-11.145f, -3.610f, 25.000f}, {-10.100f, -15.200f, 1.250f}}},
      };
  for (const auto& [table, name, cells] : tables) {
    EXPECT_EQ(table->name, name);
    ASSERT_EQ(table->rows(), 2u) << name;
    EXPECT_EQ(table->l_shifts.back().value, 1.0f);
    EXPECT_EQ(table->s_shifts.back().value, -0.5f);
    for (std::size_t r = 0; r < 2; ++r) {
      std::vector<float> row;
      for (const Field& cell : table->cells[r]) {
        row.push_back(cell.value);
      }
      EXPECT_EQ(row, cells[r]) << name << " row " << r;
    }
  }
  EXPECT_EQ(map.evdw_minimum.l.text + " " + map.evdw_minimum.s.text, "0.500 -0.500");
  EXPECT_EQ(map.evdw_minimum.energy.value, -15.5f);
  EXPECT_EQ(map.etot_minimum.energy.text, "-15.200");
}

// 100 columns: each row continues on a second line holding its last energy.
TEST(ReadStackMap, HundredColumnsWithWrappedRows) {
  const StackMap map = read(testing::hundred_column_map());
  for (const auto& [table, offset] :
       {std::pair{&map.evdw, 0.0f}, {&map.estat, 0.5f}, {&map.etot, 0.25f}}) {
    ASSERT_EQ(table->rows(), 3u) << table->name;
    EXPECT_EQ(table->l_shifts[99].text, "4.900");
    for (std::size_t r = 0; r < 3; ++r) {
      ASSERT_EQ(table->cells[r].size(), 100u);
      EXPECT_EQ(table->cells[r][98].value, offset + 100.0f * r + 98.0f);  // last on the first line
      if (r != 1) {
        EXPECT_EQ(table->cells[r][99].value, offset + 100.0f * r + 99.0f);  // the line of its own
      }
    }
    EXPECT_EQ(table->cells[1][99].kind, FieldKind::overflow);
  }
}

// A report line of right-justified fields of 10.
std::string fields(const std::vector<std::string>& texts) {
  std::string line;
  for (const std::string& text : texts) {
    line += std::string(10 - text.size(), ' ') + text;
  }
  return line + "\n";
}

TEST(ReadStackMap, AsterisksAndNonFiniteFieldsAreOffScale) {
  std::string report =
      report_before_map + " Map of the stacked molecule shift at Z =   0.00000\n\n";
  for (const std::string name : {" EvdW     ", " Estat    ", " Etot     "}) {
    report += "\n" + name + fields({"0.000", "0.500", "1.000"}) +
              fields({"-1.000", "**********", "-3.210", "NaN"}) +
              fields({"-0.500", "-8.000", "Infinity", "-Inf"});
    if (name != " Estat    ") {
      report += "\n" + minimum_line(fields({"0.000", "-0.500", "-8.000"}).substr(0, 30));
    }
  }
  const StackMap map = read(report);
  const std::vector<std::tuple<std::size_t, std::size_t, FieldKind, std::string>> cells = {
      {0, 0, FieldKind::overflow, "**********"},
      {0, 1, FieldKind::number, "-3.210"},
      {0, 2, FieldKind::non_finite, "NaN"},
      {1, 2, FieldKind::non_finite, "-Inf"},
  };
  for (const MapTable* table : {&map.evdw, &map.estat, &map.etot}) {
    for (const auto& [row, column, kind, text] : cells) {
      EXPECT_EQ(table->cells[row][column].kind, kind) << table->name << " " << text;
      EXPECT_EQ(table->cells[row][column].text, text);
    }
  }
}

TEST(ReadStackMap, ReportsWithoutMap) {
  std::string message;
  // stack_unit 0: the report ends with the total line.
  EXPECT_EQ(error_kind(report_before_map, &message), ReportError::Kind::no_map);
  EXPECT_NE(message.find("stack_unit 0"), std::string::npos) << message;
  EXPECT_EQ(error_kind(""), ReportError::Kind::no_map);
  // stack_unit above 40: the heading and its empty line, no tables.
  EXPECT_EQ(
      error_kind(report_before_map + " Map of the stacked molecule shift at Z =   3.52041\n\n",
                 &message),
      ReportError::Kind::no_tables);
  EXPECT_NE(message.find("above 40"), std::string::npos) << message;
}

TEST(ReadStackMap, DamagedMapsNameTheLine) {
  auto cut = [](const std::string& from, const std::string& to) {
    std::string report = map_3x2;
    return report.replace(report.find(from), from.size(), to);
  };
  std::string wrapped = " Map of the stacked molecule shift at Z =   3.50000\n\n\n EvdW     ",
              row = f10_3(0.0);
  for (int c = 0; c < 100; ++c) {
    wrapped += f10_3(0.1 * c);
    row += c < 99 ? f10_3(1.0) : "";
  }
  // The heading is line 8 of map_3x2; the EvdW rows are lines 12 and 13.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {cut("    -3.210    25.000\n", "    -3.210\n"),
       "line 12: row 1 of the EvdW table: expected 4 fields, found 3"},
      {cut("   -15.500     1.500\n", "   -15.500   1.500\n"),
       "line 13: expected fields of 10 columns"},
      {cut("    -3.210    25.000\n", "    -3.210      12a3\n"),
       "line 12: unreadable field \"12a3\" at column 31"},
      {cut(" Estat    ", " Estatt   "), "expected the header of the Estat table"},
      {map_3x2.substr(0, map_3x2.find(" Etot          0.000")),
       "the report ends before the Etot table"},
      {cut("    -1.000     1.200", "    -0.900     1.200"),
       "the Estat table has other shifts than the EvdW table"},
      {wrapped + "\n" + row + "\n\n",
       "line 6: row 1 of the EvdW table is cut short"},  // no continuation line
  };
  for (const auto& [report, expected] : cases) {
    std::string message;
    EXPECT_EQ(error_kind(report, &message), ReportError::Kind::malformed) << expected;
    EXPECT_NE(message.find(expected), std::string::npos) << "got: " << message;
  }
}

}  // namespace
}  // namespace zelk8::map
