// Format compilation, the field writers and the write-statement rules.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "records.hpp"

namespace records {
namespace {

std::string bits(float v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(std::bit_cast<std::uint32_t>(v)));
  return buf;
}

// The edits of a literal in a compact spelling: "2F10.5", "3X", "'text'", "/".
std::string spell(const Format& f) {
  std::string s;
  for (const Edit& e : f.edits()) {
    if (!s.empty()) s += ' ';
    if (e.repeat != 1) s += std::to_string(e.repeat);
    switch (e.kind) {
      case Edit::Kind::X:
        s += std::to_string(e.w) + "X";
        break;
      case Edit::Kind::Slash:
        s += "/";
        break;
      case Edit::Kind::Text:
        s += "'" + e.text + "'";
        break;
      default:
        s += char(e.kind) + std::to_string(e.w) +
             (e.kind == Edit::Kind::F ? "." + std::to_string(e.d) : "");
    }
  }
  return s;
}

TEST(Format, CompilesToEdits) {
  const std::vector<std::tuple<const char*, const char*>> cases = {
      {"(I4,X,3F10.5,4X,A4,X,A4,2I5)", "I4 1X 3F10.5 4X A4 1X A4 2I5"},
      {"(1H0,'a')", "'0' 'a'"},
      {"(1H,,I3)", "',' I3"},
      {"(3H'a',i2)", "''a'' I2"},
      {"('it''s',\"say \"\"hi\"\"\")", "'it's' 'say \"hi\"'"},
      {"(' AM1 1SCF VECTORS XYZ',//)", "' AM1 1SCF VECTORS XYZ' / /"},
      {"( 1 2 F 1 0 . 3 , a , 2/ )", "12F10.3 A0 2/"},
      {"()", ""},
  };
  for (const auto& [literal, expected] : cases)
    EXPECT_EQ(spell(Format(literal)), expected) << "format " << literal;
  for (const char* literal :
       {"I4", "(I4", "(I4))", "(2(I4))", "(I)", "(F10)", "(F10.)", "(I0)", "(0X)", "(I4.2)",
        "(E10.3)", "('open)", "(5Hab)", "(H)", "(3'x')", "(I99999999)"}) {
    EXPECT_THROW(Format{literal}, std::invalid_argument) << "format " << literal;
  }
}

TEST(PutReal, FieldsAreRoundedAndLaidOut) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::tuple<int, int, float, const char*>> cases = {
      {10, 5, -1.5f, "  -1.50000"},
      // Exact ties go to even: 0.125, 2.5 and 3.5 are exact in binary.
      {5, 2, 0.125f, " 0.12"},
      {4, 0, 2.5f, "  2."},
      {4, 0, 3.5f, "  4."},
      // Not ties: 0.145f is 0.14499999582767486572265625, 1.005f is 1.00499999523162841796875.
      {5, 2, 0.145f, " 0.14"},
      {6, 2, 1.005f, "  1.00"},
      {10, 5, -0.000001f, "  -0.00000"},
      {10, 5, -0.0f, "  -0.00000"},
      // The 0 before the point only where the width allows.
      {7, 5, 0.12345f, "0.12345"},
      {6, 5, 0.12345f, ".12345"},
      {5, 5, 0.12345f, "*****"},
      {4, 2, -0.5f, "-.50"},
      {5, 2, -0.5f, "-0.50"},
      {2, 0, 0.25f, "0."},
      {3, 0, -0.25f, "-0."},
      {3, 0, 12.0f, "12."},
      {2, 0, 12.0f, "**"},
      {10, 3, 1000000.0f, "**********"},
      {10, 3, -99999.992f, "-99999.992"},  // -99999.9921875, the float nearest to -99999.992
      {12, 0, 3.0e9f, " 3000000000."},
      {50, 40, 1.0f, "        1.0000000000000000000000000000000000000000"},
      {10, 3, inf, "  Infinity"},
      {7, 3, inf, "    Inf"},
      {10, 3, -inf, " -Infinity"},
      {8, 3, -inf, "    -Inf"},
      {3, 0, -inf, "***"},
      {10, 5, nan, "       NaN"},
      {2, 0, nan, "**"},
  };
  for (const auto& [w, d, value, expected] : cases) {
    std::string out = "|";
    put_real(out, value, w, d);
    EXPECT_EQ(out, std::string("|") + expected)
        << "F" << w << "." << d << " of " << value << " (bits " << bits(value) << ") wrote \""
        << out.substr(1) << "\"";
  }
  // printf's %.*f rounds the exact binary value as well; walk a spread of floats.
  char ref[64];
  for (std::uint32_t b = 0x3A000000; b < 0x4B000000; b += 0x00731A5B) {
    const float v = std::bit_cast<float>(b);
    std::snprintf(ref, sizeof ref, "%15.4f", static_cast<double>(v));
    std::string out;
    put_real(out, v, 15, 4);
    EXPECT_EQ(out, ref) << "F15.4 of bits " << bits(v);
  }
}

TEST(PutInt, RightJustifiedOrAsterisks) {
  const std::vector<std::tuple<int, int, const char*>> cases = {
      {5, 42, "   42"},
      {3, -42, "-42"},
      {2, -42, "**"},
      {11, std::numeric_limits<int>::min(), "-2147483648"},
  };
  for (const auto& [w, value, expected] : cases) {
    std::string out;
    put_int(out, value, w);
    EXPECT_EQ(out, expected) << "I" << w << " of " << value;
  }
}

TEST(WriteStatement, ItemsTextsSlashesAndReversion) {
  const std::vector<std::tuple<const char*, std::vector<Item>, std::string>> cases = {
      {"(' AM1 1SCF VECTORS XYZ',//)", {}, " AM1 1SCF VECTORS XYZ\n\n\n"},
      {"(51X,'Etot = ',F10.5,/)", {-12.5f}, std::string(51, ' ') + "Etot =  -12.50000\n\n"},
      // Items run out: the line ends at the next data descriptor; trailing X blanks are dropped.
      {"(I3,2X,I3,2X,'end',I3)", {1}, "  1\n"},
      {"(I3,' x',2X,/,I3)", {1}, "  1 x\n\n"},
      {"(1H0,I3,1H,,I3)", {7, 8}, "0  7,  8\n"},
      // Items left at the closing parenthesis start the format again on a new line.
      {"(2I3)", {1, 2, 3, 4, 5}, "  1  2\n  3  4\n  5\n"},
      {"('x',I2,'y')", {1, 2}, "x 1y\nx 2y\n"},
      {"(A4,X,A4,A2)", {"C   ", "ab", "long"}, "C      ablo\n"},
      {"(A,'|')", {"free width"}, "free width|\n"},
  };
  for (const auto& [literal, items, expected] : cases) {
    std::string out;
    format_to(out, Format(literal), items);
    EXPECT_EQ(out, expected) << "format " << literal;
  }
  std::vector<Item> items;
  for (int i = 1; i <= 101; ++i) items.push_back(static_cast<float>(i));
  std::string out;
  format_to(out, Format("(100F10.3)"), items);
  ASSERT_EQ(out.size(), 100 * 10 + 1 + 10 + 1u);
  EXPECT_EQ(out.substr(990), "   100.000\n   101.000\n");
}

TEST(WriteStatement, VariadicHelpersAndMismatches) {
  const Format f("(I4,X,F6.2,X,A4)");
  EXPECT_EQ(format(f, 3, 1.25f, text4("C")), "   3   1.25 C   \n");
  EXPECT_THROW(format(f, 3.0f), std::logic_error);
  EXPECT_THROW(format(f, 3, 1), std::logic_error);
  EXPECT_THROW(format(Format("('only text')"), 1), std::logic_error);
}

// A reader's columns come from the placements: each one must sit where a
// write statement of the same format puts its text.
TEST(Placements, MatchWhatAWriteStatementPuts) {
  const char* literals[] = {
      "(I3,'TH UNIT ',A4,2F10.5,'  (',3F10.5,' )',F10.5,/,5X,'(',3F10.5,' )',F10.5,'   EvdW = ',"
      "F10.4,/)",
      "(/,2X,'Atom',5X,'  NEL NOBL     Emin      R0',F10.4)", "(I4,1X,4F10.5,4X,2A4)",
      "(//,' TRANSFER MATRIX',/,3X,3F10.5,/,13X,2F10.5)"};
  for (const char* literal : literals) {
    SCOPED_TRACE(literal);
    const Format f(literal);
    const std::vector<Placement> placed = placements(f);
    // Write every field as a run of one distinct letter, then find each
    // field and text where its placement says.
    std::vector<std::string> texts;
    for (const Placement& p : placed) {
      if (!p.text) texts.push_back(std::string(p.width, static_cast<char>('a' + texts.size())));
    }
    const std::vector<std::string_view> printed(texts.begin(), texts.end());
    std::string out;
    format_printed_to(out, f, printed);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
      lines.push_back(out.substr(at, end - at));
    }
    std::size_t field = 0;
    for (const Placement& p : placed) {
      ASSERT_LT(static_cast<std::size_t>(p.record), lines.size());
      const std::string& line = lines[p.record];
      ASSERT_LE(p.end(), line.size());
      EXPECT_EQ(line.substr(p.column, p.width), p.text ? p.literal : texts[field++]);
    }
  }
}

// Texts printed before go back right-justified in their fields, cut to the
// width, and a statement longer than its format wraps as format_to does.
TEST(WriteStatement, PrintedTextsKeepTheLayout) {
  std::string out;
  const std::string_view fields[] = {"1.5", "****", "NaN", "-0.25"};
  format_printed_to(out, Format("(' x',2F6.2,/,F4.1)"), fields);
  EXPECT_EQ(out, " x   1.5  ****\n NaN\n x -0.25\n");
}

}  // namespace
}  // namespace records
