// Reports cut short, damaged reports, single fields and the symmetry text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "report.hpp"
#include "report_runs.hpp"

namespace zelk8::report::testing {
namespace {

Report read_text_report(const std::string& text) {
  std::istringstream in(text);
  return read_report(in, "at8.dat");
}

std::string first_lines(const std::vector<std::string>& lines, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += lines[i] + "\n";
  }
  return text;
}

// The section that starts at each line of a report, found by its text.
std::vector<std::pair<std::size_t, Section>> section_starts(const std::vector<std::string>& lines) {
  const std::pair<std::string, Section> headings[] = {
      {" TRANSFER MATRIX", Section::transfer_matrix},
      {" CENTER OF GRAVITY", Section::centre_of_gravity},
      {" Molecular moments", Section::moments},
      {" Molecular orientation vectors", Section::orientation},
      {" Molecular Coordinates", Section::coordinates},
      {" VV = ", Section::extents},
      {"Intermolecular potentials", Section::units_heading},
      // The unit list has no count: before the total line, more blocks may follow.
      {std::string(51, ' ') + "Etot = ", Section::units},
      {" Map of the stacked", Section::map_heading},
      {" EvdW ", Section::evdw_table},
      {" Estat ", Section::estat_table},
  };
  std::vector<std::pair<std::size_t, Section>> starts = {{0, Section::cell}, {1, Section::atoms}};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The empty line after the atoms ends the atom list.
    // The empty line after the atoms ends the atom list, the one after the
    // Estat rows ends that table.
    if (lines[i].rfind("  Atom ", 0) == 0) {
      starts.emplace_back(i, Section::elements);
    }
    if (lines[i].rfind(" Etot  ", 0) == 0) {
      starts.emplace_back(i, Section::etot_table);
    }
    for (const auto& [text, section] : headings) {
      if (lines[i].rfind(text, 0) == 0) {
        // Empty lines before a heading belong to it.
        std::size_t first = i;
        while (first > 0 && lines[first - 1].empty()) {
          --first;
        }
        starts.emplace_back(first, section);
      }
    }
    if (i > 0 && lines[i - 1].rfind("    ", 0) == 0 && lines[i - 1].size() == 45) {
      starts.emplace_back(i, Section::run_parameters);  // after the VV axis line
    }
  }
  return starts;
}

void expect_cut_everywhere(const std::string& text, bool ends_after_total, const char* what) {
  SCOPED_TRACE(what);
  const std::vector<std::string> lines = split_lines(text);
  const auto starts = section_starts(lines);
  Section last = Section::cell;
  for (std::size_t count = 0; count <= lines.size(); ++count) {
    SCOPED_TRACE("first " + std::to_string(count) + " lines");
    Report report;
    ASSERT_NO_THROW(report = read_text_report(first_lines(lines, count)));
    if (report.complete) {
      EXPECT_FALSE(report.stopped_at.has_value());
      // Only the empty lines at the end may be missing from a complete report.
      for (std::size_t i = count; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].empty());
      }
      continue;
    }
    ASSERT_TRUE(report.stopped_at.has_value());
    EXPECT_EQ(report.stopped_at->line, count + 1);
    EXPECT_GE(report.stopped_at->expected, last);
    last = report.stopped_at->expected;
    EXPECT_FALSE(report.has(report.stopped_at->expected));
    for (const auto& [start, section] : starts) {
      if (start == count) {
        EXPECT_EQ(report.stopped_at->expected, section) << section_name(section);
        // The map's parts are kept only once the whole map has been read.
        if (section > Section::cell && section <= Section::evdw_table) {
          EXPECT_TRUE(report.has(static_cast<Section>(static_cast<int>(section) - 1)));
        }
      }
    }
    if (ends_after_total) {
      EXPECT_LE(report.stopped_at->expected, Section::lattice_sum);
    }
  }
}

TEST(CutReport, EveryLineOfAReportWithAMap) {
  expect_cut_everywhere(run_zelk8(example_input("anthracene"), ""), false, "anthracene");
}

TEST(CutReport, EveryLineOfAReportWithoutAMap) {
  expect_cut_everywhere(run_zelk8(example_input("anthracene-nomap"), ""), true, "nomap");
  expect_cut_everywhere(run_zelk8(example_input("anthracene-scan"), "-scan"), false, "scan");
}

TEST(CutReport, EveryLineOfAHundredColumnMap) {
  std::vector<std::string> input = split_lines(example_input("naphthalene"));
  input.back() = "-2.50 9.00 0.05-1.00-0.90 0.05 3.50  0.0  0.0";  // 100 columns, 3 rows
  std::string text;
  for (const std::string& line : input) {
    text += line + "\n";
  }
  const std::string report = run_zelk8(text, "");
  ASSERT_NE(report.find("\n    -0.900"), std::string::npos);
  expect_cut_everywhere(report, false, "100 columns");
}

// A report whose writing stopped inside a line: whatever part of the line is
// there, the report stops at that line, as if the line were missing.
TEST(CutReport, InsideALineStopsAtThatLine) {
  const std::string text = run_zelk8(example_input("anthracene"), "");
  const std::vector<std::string> lines = split_lines(text);
  std::size_t checked = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    // Unit lines, map rows and minimum lines: the places where a part of a
    // line could pass for a shorter, complete one.
    const std::string& line = lines[k];
    const bool wanted = line.find("TH UNIT") != std::string::npos ||
                        line.rfind("    -2.000", 0) == 0 ||
                        line.rfind(std::string(110, ' '), 0) == 0;
    if (!wanted) {
      continue;
    }
    ++checked;
    const std::string before = first_lines(lines, k);
    for (std::size_t cut = 1; cut < line.size(); cut += 7) {
      SCOPED_TRACE("line " + std::to_string(k + 1) + " cut after " + std::to_string(cut));
      Report report;
      ASSERT_NO_THROW(report = read_text_report(before + line.substr(0, cut)));
      EXPECT_FALSE(report.complete);
      ASSERT_TRUE(report.stopped_at.has_value());
      EXPECT_EQ(report.stopped_at->line, k + 1);
      EXPECT_EQ(report.stopped_at->expected, read_text_report(before).stopped_at->expected);
    }
  }
  EXPECT_GT(checked, 10u);
  // The same report with its line ends is whole.
  EXPECT_TRUE(read_text_report(text).complete);
}

TEST(CutReport, ARunWithoutItsMapRecordStopsBeforeTheMap) {
  std::vector<std::string> input = split_lines(example_input("anthracene"));
  input.pop_back();
  std::string text;
  for (const std::string& line : input) {
    text += line + "\n";
  }
  const Report report = read_text_report(run_zelk8(text, "", false));
  EXPECT_FALSE(report.complete);
  ASSERT_TRUE(report.stopped_at.has_value());
  EXPECT_EQ(report.stopped_at->expected, Section::map_heading);
  EXPECT_TRUE(report.has(Section::lattice_sum));
  EXPECT_FALSE(report.map_height.has_value());
  EXPECT_EQ(report.units.size(), 14u);
}

// Replaces the first occurrence of `from` in the text.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::size_t line_of(const std::string& text, const std::string& what) {
  const std::size_t at = text.find(what);
  EXPECT_NE(at, std::string::npos) << what;
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
}

TEST(DamagedReport, ErrorsNameTheLine) {
  const std::string good = run_zelk8(example_input("anthracene"), "");
  const struct {
    std::string from, to, where, message;
  } cases[] = {
      {" TRANSFER MATRIX", " TRANSFER MATRICES", "", "TRANSFER MATRIX"},
      {"EvdW =   -19.3988", "EvdW =   -19.39x8", "EvdW =   -19.39x8", "unreadable number"},
      {"  5TH UNIT T05 ", "  5TH UNIT T05  ", "  5TH UNIT T05  ", "columns"},
      {"  1TH UNIT R01    2.67700   5.23845  (", "  1TH UNIT R01    2.67700   5.23845  [",
       "  1TH UNIT R01", "\"  (\""},
      {"    -2.000    86.415    86.529", "    -2.000    86.415", "    -2.000    86.415", "fields"},
      {" CENTER OF GRAVITY= (   0.00000", " CENTER OF GRAVITY= (          ", " CENTER OF GRAVITY",
       "blank field"},
      {"\n Estat        -3.000    -2.750", "\n Estat        -3.000    -2.700",
       " Estat        -3.000    -2.700", "other shifts than the EvdW table"},
  };
  try {
    read_text_report(good + "\n extra\n");
    ADD_FAILURE() << "no error";
  } catch (const ReportError& error) {
    EXPECT_EQ(error.line(), split_lines(good).size() + 2);
    EXPECT_NE(std::string(error.what()).find("after the Etot minimum"), std::string::npos);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    const std::string damaged = replaced(good, c.from, c.to);
    const std::size_t line = line_of(damaged, c.where.empty() ? c.to : c.where);
    try {
      read_text_report(damaged);
      ADD_FAILURE() << "no error";
    } catch (const ReportError& error) {
      EXPECT_EQ(error.line(), line) << error.what();
      EXPECT_EQ(error.source(), "at8.dat");
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("at8.dat line " + std::to_string(line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
  }
}

TEST(DamagedReport, AHundredColumnRowWithoutItsSecondLine) {
  std::vector<std::string> input = split_lines(example_input("naphthalene"));
  input.back() = "-2.50 9.00 0.05-1.00-0.90 0.05 3.50  0.0  0.0";  // 100 columns, 3 rows
  std::string text;
  for (const std::string& line : input) {
    text += line + "\n";
  }
  std::vector<std::string> lines = split_lines(run_zelk8(text, ""));
  // The EvdW table's last row: its 100-field line, then the line holding its
  // last energy, then the empty line before the minimum line.
  std::size_t last_row = 0;
  while (lines[last_row].rfind(" EvdW", 0) != 0) {
    ++last_row;
  }
  last_row += 5;
  ASSERT_EQ(lines[last_row + 1].size(), 10u);
  ASSERT_TRUE(lines[last_row + 2].empty());
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(last_row) + 1);
  try {
    read_text_report(first_lines(lines, lines.size()));
    ADD_FAILURE() << "no error";
  } catch (const ReportError& error) {
    EXPECT_EQ(error.line(), last_row + 2);
    EXPECT_NE(std::string(error.what()).find("row 3 of the EvdW table is cut short"),
              std::string::npos)
        << error.what();
  }
}

TEST(DamagedReport, OffScaleMapFieldsKeepTheirText) {
  const std::string good = run_zelk8(example_input("anthracene"), "");
  std::string text =
      replaced(good, "    86.415    86.529    88.408", "**********       NaN -Infinity");
  const Report report = read_text_report(text);
  ASSERT_TRUE(report.map.has_value());
  const std::vector<Field>& row = report.map->evdw.cells[0];
  EXPECT_TRUE(row[0].overflow());
  EXPECT_EQ(row[0].text, "**********");
  EXPECT_TRUE(row[1].non_finite());
  EXPECT_EQ(row[2].text, "-Infinity");
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(row[k].finite());
  }
  EXPECT_EQ(row[3].value, 92.774);
  EXPECT_EQ(Printer().print(report), text);
}

TEST(ReportFile, OpeningFailuresNameTheFileAndReason) {
  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir());
  try {
    read_report_file(folder / "no-such-report.dat");
    ADD_FAILURE() << "no error";
  } catch (const ReportError& error) {
    EXPECT_EQ(error.line(), 0u);
    EXPECT_NE(std::string(error.what()).find("no-such-report.dat"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos) << error.what();
  }
  EXPECT_THROW(read_report_file(folder), ReportError);
  const std::filesystem::path empty = folder / "empty-report.dat";
  write_text(empty, "");
  const Report report = read_report_file(empty);
  EXPECT_FALSE(report.complete);
  EXPECT_EQ(report.stopped_at->line, 1u);
  EXPECT_EQ(report.stopped_at->expected, Section::cell);
}

TEST(ParseField, NumbersAndOffScaleSpellings) {
  EXPECT_EQ(parse_field("   -2.43107").value, -2.43107);
  EXPECT_EQ(parse_field("   -2.43107").text, "-2.43107");
  EXPECT_EQ(parse_field("+12").value, 12.0);
  EXPECT_TRUE(std::signbit(*parse_field("  -0.00000").value));
  for (const char* off : {"****", "NaN", "Infinity", "-Infinity", "Inf", "-Inf"}) {
    const Field field = parse_field(off);
    EXPECT_FALSE(field.finite()) << off;
    EXPECT_EQ(field.text, off);
    EXPECT_NE(field.overflow(), field.non_finite()) << off;
  }
  for (const char* bad : {"", "    ", "1.2.3", "12 3", "abc", "1e999", "**1*", "nan"}) {
    EXPECT_THROW(parse_field(bad), std::invalid_argument) << bad;
  }
}

std::array<Field, 12> operation(const std::vector<std::string>& texts) {
  std::array<Field, 12> op;
  for (std::size_t k = 0; k < 12; ++k) {
    op[k] = parse_field(texts[k]);
  }
  return op;
}

TEST(SymmetryText, SignsFractionsAndOddValues) {
  EXPECT_EQ(symmetry_text(
                operation({"-1.00000", "0.00000", "0.00000", "0.00000", "1.00000", "0.00000",
                           "0.00000", "0.00000", "-1.00000", "0.50000", "0.50000", "-0.00000"})),
            "-x+1/2, y+1/2, -z");
  EXPECT_EQ(
      symmetry_text(operation({"0.00000", "-1.00000", "0.00000", "1.00000", "-1.00000", "0.00000",
                               "0.00000", "0.00000", "1.00000", "0.00000", "0.00000", "0.33333"})),
      "-y, x-y, z+1/3");
  EXPECT_EQ(symmetry_text(
                operation({"1.00000", "0.00000", "0.00000", "0.00000", "1.00000", "0.00000",
                           "0.00000", "0.00000", "1.00000", "-1.00000", "0.66667", "-0.25000"})),
            "x-1, y+2/3, z-1/4");
  EXPECT_EQ(
      symmetry_text(operation({"5.00000", "0.00000", "0.00000", "0.00000", "0.00000", "0.00000",
                               "0.00000", "0.00000", "0.12345", "0.00000", "2.00000", "NaN"})),
      "5x, 2, 0.12345z+(NaN)");
}

}  // namespace
}  // namespace zelk8::report::testing
