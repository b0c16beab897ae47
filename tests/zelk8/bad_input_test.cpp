// Broken input files: truncated examples, bad characters in every numeric
// field, input beyond the fixed capacities, garbage. Every one must end with
// the read-failure diagnostic naming file, line and record, status 2, and a
// report holding exactly the lines written before the failing read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <set>

#include "run_helpers.hpp"

namespace zelk8::testing {
namespace {

const std::string molecule_size = "molecule size record";
const std::string atom = "atom record";
const std::string element = "element record";
const std::string cell = "cell record";
const std::string unit = "unit record";
const std::string parameters = "run-parameter record";
const std::string map = "map record";

// The report lines written before a read of `record` fails: nothing before
// the cell line; up to the VV axis before the unit records and the
// run-parameter record; up to the "Etot = " total line and its empty line
// before the map record.
std::string report_before(const std::string& full_report, const std::string& record) {
  if (record == unit || record == parameters) {
    const auto vv = full_report.find("A  VV =");
    if (vv == std::string::npos) {
      ADD_FAILURE() << "no VV axis in the report";
      return "";
    }
    return full_report.substr(0, full_report.find('\n', vv) + 1);
  }
  if (record == map) {
    const auto heading = full_report.find(" Map of the stacked molecule shift");
    if (heading == std::string::npos) {
      ADD_FAILURE() << "no map heading in the report";
      return "";
    }
    return full_report.substr(0, heading);
  }
  return "";
}

// Which record each line of a well-formed input file is, by the layout of
// the input file alone.
std::vector<std::string> record_of_lines(const std::vector<std::string>& lines) {
  std::vector<std::string> kind{molecule_size};
  std::size_t i = 1;
  auto number = [&](std::size_t width) { return std::atof(lines[i].substr(0, width).c_str()); };
  int atoms = 0, highest = 0;
  for (;; ++i) {
    kind.push_back(atom);
    const int e = static_cast<int>(number(4));
    highest = std::max(highest, e);
    if (e <= 0) break;
    ++atoms;
  }
  const bool second_set = number(4) < 0;
  ++i;
  if (second_set) {
    kind.insert(kind.end(), atoms, atom);
    i += atoms;
  }
  kind.insert(kind.end(), highest, element);
  i += highest;
  kind.push_back(cell);
  ++i;
  for (int j = 0; j < 20; ++j) {
    kind.push_back(unit);
    const bool terminator = number(5) >= 10.0;
    ++i;
    if (terminator) break;
  }
  kind.push_back(parameters);
  if (static_cast<int>(number(5)) != 0) kind.push_back(map);
  return kind;
}

std::string join_lines(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t k = from; k < to; ++k) out += lines[k] + "\n";
  return out;
}

std::string diagnostic(std::size_t line, const std::string& record, const std::string& what) {
  return "zelk8: zelk8.dat line " + std::to_string(line) + ": " + record + ": " + what + "\n";
}

// A read-failure diagnostic taken apart: one line naming zelk8.dat, a line
// number and one of the record names.
struct Diagnostic {
  std::size_t line;
  std::string record, what;
};
std::optional<Diagnostic> parse_diagnostic(const std::string& err) {
  static const std::set<std::string> records = {
      molecule_size, atom, "atom record (second set)", element, cell, unit, parameters, map};
  const std::string start = "zelk8: zelk8.dat line ";
  if (err.rfind(start, 0) != 0 || err.empty() || err.back() != '\n' ||
      err.find('\n') != err.size() - 1) {
    return std::nullopt;
  }
  std::size_t at = start.size();
  const std::size_t digits_end = err.find_first_not_of("0123456789", at);
  if (digits_end == at || err.compare(digits_end, 2, ": ") != 0) return std::nullopt;
  const std::size_t record_end = err.find(": ", digits_end + 2);
  if (record_end == std::string::npos) return std::nullopt;
  Diagnostic d{std::stoul(err.substr(at, digits_end - at)),
               err.substr(digits_end + 2, record_end - digits_end - 2),
               err.substr(record_end + 2, err.size() - record_end - 3)};
  if (!records.contains(d.record)) return std::nullopt;
  return d;
}

struct Example {
  std::string name;
  std::string input;
};

// The bundled examples, and anthracene with its atom list given twice (a
// negative terminator and a second atom set).
std::vector<Example> examples() {
  std::vector<Example> list;
  for (const char* name :
       {"anthracene", "anthracene-nomap", "anthracene-scan", "naphthalene", "quinacridone"}) {
    list.push_back({name, example_input(name)});
  }
  const auto lines = lines_of(example_input("anthracene"));
  list.push_back({"anthracene with a second set", join_lines(lines, 0, 25) + "  -1\n" +
                                                      join_lines(lines, 1, 25) +
                                                      join_lines(lines, 26, lines.size())});
  return list;
}

TEST(BadInput, EveryLineBoundaryOfTheExamples) {
  InProcessRunner runner;
  for (const auto& [name, input] : examples()) {
    const RunResult full = runner.run(input);
    ASSERT_EQ(full.status, 0) << name << ": " << full.err;
    const auto lines = lines_of(input);
    const auto kind = record_of_lines(lines);
    ASSERT_EQ(kind.size(), lines.size()) << name;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      const std::string expected_err = diagnostic(k + 1, kind[k], "end of file");
      const std::string expected_report = report_before(full.report, kind[k]);
      // The first k lines, then also without the last line end.
      std::string cut = join_lines(lines, 0, k);
      for (int pass = 0; pass < 2; ++pass) {
        const RunResult r = runner.run(cut);
        EXPECT_EQ(r.status, 2) << name << " cut after line " << k;
        EXPECT_EQ(r.err, expected_err) << name << " cut after line " << k;
        EXPECT_EQ(r.report, expected_report) << name << " cut after line " << k;
        // "coord.xyz" is opened after the run-parameter record; before the
        // map record it holds its count line, its empty line and the atom
        // lines of the central molecule and every unit that the count states.
        EXPECT_EQ(r.has_coord, kind[k] == map) << name << " cut after line " << k;
        if (r.has_coord) {
          const auto coord = lines_of(r.coord);
          ASSERT_GE(coord.size(), 2u);
          EXPECT_EQ(coord.size(), 2 + std::stoul(coord[0])) << name;
          EXPECT_EQ(full.coord.substr(0, r.coord.size()), r.coord) << name;
        }
        if (cut.empty()) break;
        cut.pop_back();
      }
    }
  }
}

// A file that ends inside line L reads line L as a short line (padded with
// blanks), so it behaves as the same file with that line cut and the rest
// kept, up to the read after line L. That read meets the end of the file.
TEST(BadInput, EveryLineCutInTheMiddle) {
  InProcessRunner runner;
  const std::string small_map = " 0.0  0.0  1.0  0.0  0.0  1.0  0.0  0.0  0.0";
  for (const auto& [name, input] : examples()) {
    const auto lines = lines_of(input);
    const auto kind = record_of_lines(lines);
    for (std::size_t L = 0; L < lines.size(); ++L) {
      const std::string& line = lines[L];
      for (std::size_t c : std::set<std::size_t>{1, line.size() / 2, line.size() - 1}) {
        if (c == 0 || c >= line.size()) continue;
        const std::string where =
            name + " line " + std::to_string(L + 1) + " cut at column " + std::to_string(c);
        // The same file with line L cut and the rest kept; a one-point map
        // keeps it fast (the map record is read after every line it checks).
        std::vector<std::string> rest = lines;
        rest[L] = line.substr(0, c);
        if (kind.back() == map && L + 1 != lines.size()) rest.back() = small_map;
        const RunResult reference = runner.run(join_lines(rest, 0, rest.size()));

        const RunResult r = runner.run(join_lines(lines, 0, L) + line.substr(0, c));
        if (r.status == 0) {
          // A cut in the last record read (or one that makes it the last:
          // stack_unit 0) leaves a complete run, as with the rest there.
          EXPECT_EQ(reference.status, 0) << where;
          EXPECT_EQ(r.report, reference.report) << where;
          continue;
        }
        ASSERT_EQ(r.status, 2) << where << ": " << r.err;
        const auto d = parse_diagnostic(r.err);
        ASSERT_TRUE(d) << where << ": " << r.err;
        if (d->line == L + 1) {
          // The cut line itself does not read: the same failure with the
          // rest of the file there.
          EXPECT_EQ(r.err, reference.err) << where;
          EXPECT_EQ(r.report, reference.report) << where;
        } else {
          EXPECT_EQ(d->line, L + 2) << where << ": " << r.err;
          EXPECT_EQ(d->what, "end of file") << where;
          EXPECT_EQ(r.report, report_before(reference.report, d->record)) << where << ": " << r.err;
        }
      }
    }
  }
}

std::string shown(const std::string& s) {
  std::string q = "\"";
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f) {
      q += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      q += esc;
    }
  }
  return q + "\"";
}

std::string columns(std::size_t first, std::size_t width) {
  if (width == 1) return "(column " + std::to_string(first) + ")";
  return "(columns " + std::to_string(first) + "-" + std::to_string(first + width - 1) + ")";
}

TEST(BadInput, LettersAndStrayCharactersInEveryNumericField) {
  InProcessRunner runner;
  const std::string input = example_input("anthracene");
  const auto lines = lines_of(input);
  const RunResult full = runner.run(input);
  ASSERT_EQ(full.status, 0) << full.err;
  const std::string bad_values[] = {"abc", "1.5x", "#",  "1,5",
                                    "..",  "+-1",  "1e", std::string("\x01\xff\0", 3)};

  // Fixed-format records: line (1-based), record, integer fields, real
  // fields, as (first column, width).
  struct Field {
    std::size_t first, width;
  };
  const struct {
    std::size_t line;
    std::string record;
    std::vector<Field> integers, reals;
  } fixed[] = {
      {2, atom, {{1, 4}}, {{6, 10}, {16, 10}, {26, 10}}},
      {26, atom, {{1, 4}}, {}},  // the terminator
      {29, cell, {}, {{1, 10}, {11, 10}, {21, 10}, {31, 10}, {41, 10}, {51, 10}}},
      {30,
       unit,
       {},
       {{1, 5},
        {6, 5},
        {11, 5},
        {16, 5},
        {21, 5},
        {26, 5},
        {31, 5},
        {36, 5},
        {41, 5},
        {46, 5},
        {51, 5},
        {56, 5}}},
      {44, unit, {}, {{1, 5}}},  // the terminator
      {45, parameters, {{1, 5}}, {{6, 10}, {16, 10}, {26, 10}, {36, 10}}},
      {46,
       map,
       {},
       {{1, 5}, {6, 5}, {11, 5}, {16, 5}, {21, 5}, {26, 5}, {31, 5}, {36, 5}, {41, 5}}},
  };
  for (const auto& [line_no, record, integers, reals] : fixed) {
    for (int is_int = 0; is_int < 2; ++is_int) {
      for (const auto& [first, width] : is_int ? integers : reals) {
        for (const std::string& bad : bad_values) {
          std::vector<std::string> changed = lines;
          std::string& line = changed[line_no - 1];
          line.resize(std::max(line.size(), first - 1 + width), ' ');
          line.replace(first - 1, width, std::string(width - bad.size(), ' ') + bad);
          const RunResult r = runner.run(join_lines(changed, 0, changed.size()));
          const std::string what = shown(bad) +
                                   (is_int ? " is not an integer " : " is not a number ") +
                                   columns(first, width);
          EXPECT_EQ(r.status, 2) << line;
          EXPECT_EQ(r.err, diagnostic(line_no, record, what));
          EXPECT_EQ(r.report, report_before(full.report, record)) << line;
        }
      }
    }
  }

  // Free-format records: a bad value in place of a number, which stands
  // where it stands. A comma separates values there, so "1,5" is no fault.
  const struct {
    std::size_t line;
    std::string record;
    std::string before, after;
    bool is_int;
  } free_format[] = {
      {1, molecule_size, "", "", true},
      {27, element, "C    ", "   1.960", false},
      {27, element, "C    0.23430   ", "", false},
  };
  for (const auto& [line_no, record, before, after, is_int] : free_format) {
    for (const char* bad : {"abc", "1.5x", "#", "..", "+-1", "1e", "'12'", "\x01\xff"}) {
      std::vector<std::string> changed = lines;
      changed[line_no - 1] = before + bad + after;
      const RunResult r = runner.run(join_lines(changed, 0, changed.size()));
      const std::string what = shown(bad) + (is_int ? " is not an integer " : " is not a number ") +
                               columns(before.size() + 1, std::string(bad).size());
      EXPECT_EQ(r.status, 2) << changed[line_no - 1];
      EXPECT_EQ(r.err, diagnostic(line_no, record, what));
      EXPECT_EQ(r.report, "");
    }
  }

  // Columns that no read statement takes: letters there change nothing.
  const struct {
    std::size_t line, first;
  } unread[] = {{2, 49}, {26, 49}, {29, 61}, {30, 65}, {45, 46}, {46, 46}};
  for (const auto& [line_no, first] : unread) {
    std::vector<std::string> changed = lines;
    std::string& line = changed[line_no - 1];
    line.resize(first - 1, ' ');
    line += "xyz END ###";
    const RunResult r = runner.run(join_lines(changed, 0, changed.size()));
    EXPECT_EQ(r.status, 0) << line << ": " << r.err;
    EXPECT_EQ(r.report, full.report) << line;
  }
}

// An empty item in each position of the free-format records (the molecule
// size and the element records), written the ways a typo leaves one: the run
// stops at that record, before the report's first line.
TEST(BadInput, EmptyItemsInEveryFreeFormatPosition) {
  InProcessRunner runner;
  const std::string input = example_input("anthracene");
  const auto lines = lines_of(input);
  const struct {
    std::size_t line;
    std::string record, text;
    std::size_t column;
  } cases[] = {
      {1, molecule_size, "  ,", 3},
      {27, element, ",0.23430,1.960", 1},
      {27, element, "C    0.23430 , ,  1.960", 16},
      {28, element, "H,0.08368,", 10},
  };
  for (const auto& [line_no, record, text, column] : cases) {
    std::vector<std::string> changed = lines;
    changed[line_no - 1] = text;
    const RunResult r = runner.run(join_lines(changed, 0, changed.size()));
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_EQ(r.err, diagnostic(line_no, record, "empty value " + columns(column, 1))) << text;
    EXPECT_TRUE(r.has_report) << text;
    EXPECT_EQ(r.report, "") << text;
  }

  // The same records with commas that separate values read as the example.
  const RunResult full = runner.run(input);
  ASSERT_EQ(full.status, 0) << full.err;
  std::vector<std::string> changed = lines;
  changed[0] = "0,";
  changed[26] = "C,0.23430 ,\t1.960,,";
  changed[27] = "'H' , 0.08368,1.620";
  const RunResult r = runner.run(join_lines(changed, 0, changed.size()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.report, full.report);
}

std::string atom_lines(int count, const std::string& element_index = "   1") {
  std::string out;
  for (int k = 0; k < count; ++k)
    out += element_index + "    0.10000   0.20000   0.30000    C1   C   \n";
  return out;
}

TEST(BadInput, InputBeyondTheFixedCapacities) {
  InProcessRunner runner;
  const std::string input = example_input("anthracene");
  const auto lines = lines_of(input);
  const RunResult full = runner.run(input);
  ASSERT_EQ(full.status, 0) << full.err;
  auto with_line = [&](std::size_t line_no, const std::string& text) {
    std::vector<std::string> changed = lines;
    changed[line_no - 1] = text;
    return join_lines(changed, 0, changed.size());
  };
  const struct {
    std::string what;
    std::string input;
    std::string err;
    std::string report;
  } cases[] = {
      {"200 atom records without a terminator",
       "0\n" + atom_lines(200) + input.substr(input.find("C    0.23")),
       diagnostic(201, atom, "no terminating record among the first 200 atom records"), ""},
      {"element index 8", with_line(12, "   8" + lines[11].substr(4)),
       diagnostic(12, atom, "element index 8 is above 7"), ""},
      {"a second set beyond 200 slots", "0\n" + atom_lines(101) + "  -1\n" + atom_lines(101),
       diagnostic(103, atom, "a second set of 101 atoms does not fit in 200 slots"), ""},
      {"a second set of 100 atoms that stops short",
       "0\n" + atom_lines(100) + "  -1\n" + atom_lines(99), diagnostic(202, atom, "end of file"),
       ""},
      {"a second-set element index above the types",
       "0\n" + atom_lines(2) + atom_lines(1, "   2") + "  -1\n" + atom_lines(2) +
           atom_lines(1, "   3"),
       diagnostic(8, "atom record (second set)", "element index 3 is not between 1 and 2"), ""},
      {"a second-set element index 0", "0\n" + atom_lines(1) + "  -1\n" + atom_lines(1, "   0"),
       diagnostic(4, "atom record (second set)", "element index 0 is not between 1 and 1"), ""},
      {"molecule_atom_count too large", with_line(1, "25"),
       diagnostic(26, atom, "molecule size 25 is not between 0 and the 24 atoms listed"), ""},
      {"molecule_atom_count negative", with_line(1, "-1"),
       diagnostic(26, atom, "molecule size -1 is not between 0 and the 24 atoms listed"), ""},
      {"molecule_atom_count beyond 32 bits", with_line(1, "4294967296"),
       diagnostic(1, molecule_size, "\"4294967296\" is out of range (columns 1-10)"), ""},
      {"a unit with a11 = 5.0 and no second set", with_line(33, "  5.0" + lines[32].substr(5)),
       diagnostic(33, unit, "a11 = 5.0 places the second atom set, but the atom list has none"),
       report_before(full.report, unit)},
      {"a letter in the unit terminator", with_line(44, "  END"),
       diagnostic(44, unit, "\"END\" is not a number (columns 1-5)"),
       report_before(full.report, unit)},
      {"the map record missing with stack_unit 5", join_lines(lines, 0, 45),
       diagnostic(46, map, "end of file"), report_before(full.report, map)},
      {"an empty file", "", diagnostic(1, molecule_size, "end of file"), ""},
      {"only empty lines", "\n\n   \n\n", diagnostic(5, molecule_size, "end of file"), ""},
      {"a cell value of NUL and 0xFF bytes",
       with_line(29, lines[28].substr(0, 30) + std::string("\0\xff", 2)),
       diagnostic(29, cell, "\"\\x00\\xFF\" is not a number (columns 31-40)"), ""},
      {"a 1 MB line of letters", std::string(1 << 20, 'x') + "\n",
       diagnostic(1, molecule_size,
                  "\"" + std::string(40, 'x') + "...\" is not an integer (columns 1-1048576)"),
       ""},
      {"a 1 MB line of digits", std::string(1 << 20, '7') + "\n",
       diagnostic(1, molecule_size,
                  "\"" + std::string(40, '7') + "...\" is out of range (columns 1-1048576)"),
       ""},
      {"a 1 MB atom line", with_line(2, lines[1].substr(0, 5) + std::string(1 << 20, 'x')),
       diagnostic(2, atom, "\"xxxxxxxxxx\" is not a number (columns 6-15)"), ""},
  };
  for (const auto& [what, text, err, report] : cases) {
    const RunResult r = runner.run(text);
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.err, err) << what;
    EXPECT_TRUE(r.has_report) << what;
    EXPECT_EQ(r.report, report) << what;
  }

  // A missing input file is named with the reason; no report is written.
  fs::remove(runner.dir() / "zelk8.dat");
  const RunResult missing = runner.run_existing();
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "zelk8: zelk8.dat: No such file or directory\n");
  EXPECT_FALSE(missing.has_report);

  // Long lines that hold the right fields are read as usual: a 1 MB line of
  // blanks before the molecule size, a 1 MB tail after an atom record.
  const std::string atom_line_48 = lines[1] + std::string(48 - lines[1].size(), ' ');
  for (const std::string& text : {std::string(1 << 20, ' ') + "\n" + input,
                                  with_line(2, atom_line_48 + std::string(1 << 20, '#'))}) {
    const RunResult r = runner.run(text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.report, full.report);
  }
}

TEST(BadInput, BinaryGarbage) {
  InProcessRunner runner;
  const std::string example = example_input("anthracene");
  const RunResult full = runner.run(example);
  ASSERT_EQ(full.status, 0) << full.err;
  std::mt19937 random(20240607);
  for (int k = 0; k < 50; ++k) {
    std::string bytes(64 + random() % 4096, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Garbage alone, and garbage in place of the end of a good file.
    const std::size_t at = random() % example.size();
    for (const std::string& text : {bytes, example.substr(0, at) + bytes}) {
      const RunResult r = runner.run(text);
      EXPECT_EQ(r.status, 2) << "garbage " << k;
      const auto d = parse_diagnostic(r.err);
      ASSERT_TRUE(d) << "garbage " << k << ": " << r.err;
      EXPECT_EQ(r.report, report_before(full.report, d->record))
          << "garbage " << k << ": " << r.err;
    }
  }
}

}  // namespace
}  // namespace zelk8::testing
