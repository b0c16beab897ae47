// Fixed-format and free-format reads, and their diagnostics.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "records.hpp"

namespace records {
namespace {

// The message of the ReadError that `read` raises.
template <typename Read>
std::string error_of(Read read) {
  try {
    read();
  } catch (const ReadError& e) {
    return e.what();
  }
  return "no error";
}

// A text with its control characters escaped, for failure messages.
std::string shown(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

TEST(FixedRead, NumberFields) {
  const std::vector<std::tuple<const char*, const char*, float>> reals = {
      // d places the point when none is typed, in the mantissa before the exponent.
      {"(F10.5)", "12345", 0.12345f},
      {"(F5.0)", "12345", 12345.0f},
      {"(F5.3)", "  150", 0.15f},
      {"(F5.3)", "  1.5", 1.5f},
      {"(F10.5)", "1.5-3", 1.5e-3f},
      {"(F10.0)", "2+2", 200.0f},
      {"(F10.1)", "2+2", 20.0f},
      {"(F10.0)", "1.5d+3", 1500.0f},
      {"(F10.0)", "-1.5e-3", -1.5e-3f},
      // Blanks are ignored anywhere; an empty field is zero.
      {"(F10.0)", "1.5 D 3", 1500.0f},
      {"(F10.0)", " 1 2 3", 123.0f},
      {"(F10.0)", "  -  1.5", -1.5f},
      {"(F10.0)", ".5", 0.5f},
      {"(F10.0)", "", 0.0f},
      {"(F10.0)", "     -", 0.0f},
      {"(F10.0)", "1e-50", 0.0f},
      {"(F3.0)", "12345", 123.0f},  // columns beyond the field are not read
      // Correctly rounded: 2^24 + 1 is a tie to even, 2^24 + 3 rounds up.
      {"(F10.0)", "16777217", 16777216.0f},
      {"(F10.0)", "16777219", 16777220.0f},
      {"(F10.0)", "0.1", 0.1f},
      {"(F20.0)", "0.30000001192092896", 0.3f},
  };
  for (const auto& [literal, line, expected] : reals) {
    InputFile in("t.dat", std::string(line) + "\n");
    float v = -7.0f;
    in.read("test record", Format(literal), &v);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(v), std::bit_cast<std::uint32_t>(expected))
        << "format " << literal << " line \"" << line << "\" read " << v << ", expected "
        << expected;
  }
  const std::vector<std::tuple<const char*, const char*, int>> ints = {
      {"(I4)", " -12", -12}, {"(I4)", "+  7", 7},  {"(I4)", "1 2 ", 12},
      {"(I4)", "", 0},       {"(I2)", "1234", 12}, {"(I11)", "-2147483648", -2147483648},
  };
  for (const auto& [literal, line, expected] : ints) {
    InputFile in("t.dat", std::string(line) + "\n");
    int v = -7;
    in.read("test record", Format(literal), &v);
    EXPECT_EQ(v, expected) << "format " << literal << " line \"" << line << "\"";
  }
}

TEST(FixedRead, BadFieldsNameFileLineRecordAndColumns) {
  const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
      {"(I4)", " 1.0", "line 2: unit record: \"1.0\" is not an integer (columns 1-4)"},
      {"(I12)", " 2147483648",
       "line 2: unit record: \"2147483648\" is out of range (columns 1-12)"},
      {"(X,F4.0)", " 1.2.", "line 2: unit record: \"1.2.\" is not a number (columns 2-5)"},
      {"(F5.0)", "  NaN", "line 2: unit record: \"NaN\" is not a number (columns 1-5)"},
      {"(F5.0)", "  1e", "line 2: unit record: \"1e\" is not a number (columns 1-5)"},
      {"(F5.0)", "1e99", "line 2: unit record: \"1e99\" is out of range (columns 1-5)"},
      {"(F1.0)", "x", "line 2: unit record: \"x\" is not a number (column 1)"},
      {"(F4.0)", std::string("1\0\t5", 4),
       "line 2: unit record: \"1\\x00\\x095\" is not a number (columns 1-4)"},
      {"(3F10.0)", "      10.0      10.0      9o.0",
       "line 2: unit record: \"9o.0\" is not a number (columns 21-30)"},
      {"(3F10.0)", "", "line 2: unit record: end of file"},
  };
  for (const auto& [literal, line, expected] : cases) {
    InputFile in("zelk8.dat", "first\n" + (line.empty() ? "" : line + "\n"));
    in.read("skip", Format("(A4)"));
    float r[3];
    int i = 0;
    const Target reals[] = {&r[0], &r[1], &r[2]};
    const Target one = literal[1] == 'I' ? Target(&i) : Target(&r[0]);
    const std::span<const Target> targets =
        literal[1] == '3' ? std::span<const Target>(reals) : std::span(&one, 1);
    EXPECT_EQ(error_of([&] { in.read(Format(literal), targets, "unit record"); }),
              std::string("zelk8.dat ") + expected)
        << "format " << literal;
  }
}

TEST(FixedRead, AtomRecordShortLinesAndCrLf) {
  const Format atom("(I4,X,3F10.5,4X,A4,X,A4,2I5)");
  InputFile in("zelk8.dat",
               // I4 X F10.5 F10.5 F10.5 4X A4 X A4 I5
               "   1"
               " "
               "     12345"
               "       0.5"
               "     -0.25"
               "    "
               "C1  "
               " "
               "C   "
               "99999\r\n"
               "  -1\r\n"
               "   2 junk\n");
  int element = 9;
  float x = 9, y = 9, z = 9;
  Text4 label = text4("????"), symbol = text4("????");
  in.read("atom record", atom, &element, &x, &y, &z, &label, &symbol);
  EXPECT_EQ(std::tie(element, x, y, z), std::make_tuple(1, 0.12345f, 0.5f, -0.25f));
  EXPECT_EQ(std::string(view(label)).append(view(symbol)), "C1  C   ");
  // A short line reads as blanks; the '\r' of a CR LF line is not a character.
  in.read("atom record", atom, &element, &x, &y, &z, &label, &symbol);
  EXPECT_EQ(std::tie(element, x), std::make_tuple(-1, 0.0f));
  EXPECT_EQ(view(label), "    ");
  in.read("atom record", atom, &element);  // targets used up: the rest of the line is ignored
  EXPECT_EQ(element, 2);
  EXPECT_EQ(in.line_number(), 3);
}

TEST(FixedRead, TextWidthsSlashAndReversion) {
  InputFile in("t.dat", "abcdef\nab\n  1  2\n  3\n 10 xx\n 20\n\n");
  Text4 t;
  in.read("r", Format("(A6)"), &t);
  EXPECT_EQ(view(t), "cdef");  // the last four of a wider field
  in.read("r", Format("(A2)"), &t);
  EXPECT_EQ(view(t), "ab  ");
  int a = 0, b = 0, c = 0;
  in.read("r", Format("(2I3)"), &a, &b, &c);
  EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 2, 3));
  in.read("r", Format("(I3,/,I3)"), &a, &b);
  EXPECT_EQ(std::tie(a, b), std::make_tuple(10, 20));
  float f = 0.0f;
  EXPECT_THROW(in.read("r", Format("(I3)"), &f), std::logic_error);
}

TEST(FreeRead, ElementRecordsAndSizes) {
  InputFile in("zelk8.dat",
               "  12   rest of line\n"
               "C    0.23430   1.960\n"
               "\n"
               " \t \r\n"
               "'H' , 0.1\n"
               "\t5.0D-1 ignored words\n"
               "Carbon,1,2E0\n"
               "\"a\"\"b\"  +1.5  -2.\n"
               "'S  x' .5 1.5-1\n");
  int n = 0;
  in.read_list("molecule size", &n);
  EXPECT_EQ(n, 12);
  const std::vector<std::tuple<const char*, float, float>> expected = {
      {"C   ", 0.2343f, 1.96f}, {"H   ", 0.1f, 0.5f},  {"Carb", 1.0f, 2.0f},
      {"a\"b ", 1.5f, -2.0f},   {"S  x", 0.5f, 0.15f},
  };
  for (const auto& [symbol, emin, r0] : expected) {
    Text4 s;
    float e = 0, r = 0;
    in.read_list("element record", &s, &e, &r);
    EXPECT_EQ(std::make_tuple(std::string(view(s)), e, r),
              std::make_tuple(std::string(symbol), emin, r0));
  }
  EXPECT_EQ(in.line_number(), 9);
}

TEST(FreeRead, BadTokensAndEndOfFile) {
  const std::vector<std::tuple<const char*, const char*>> cases = {
      {"C x1.5 2\n", "line 1: element record: \"x1.5\" is not a number (columns 3-6)"},
      {"\n\nC 1.0,NaN\n", "line 3: element record: \"NaN\" is not a number (columns 7-9)"},
      {"C 1.0 -\n", "line 1: element record: \"-\" is not a number (column 7)"},
      {"'C 1 2\n", "line 1: element record: \"'C 1 2\" has no closing quote (columns 1-6)"},
      {"C 1.0\n\n", "line 3: element record: end of file"},
      {"1e3\n", "line 1: molecule size: \"1e3\" is not an integer (columns 1-3)"},
  };
  for (const auto& [contents, expected] : cases) {
    InputFile in("zelk8.dat", contents);
    Text4 s;
    float e, r;
    int n;
    const Target targets[] = {&s, &e, &r};
    const bool size = contents[0] == '1';
    EXPECT_EQ(error_of([&] {
                size ? in.read_list("molecule size", &n) : in.read_list(targets, "element record");
              }),
              std::string("zelk8.dat ") + expected);
  }
}

// An empty item in any position of the two free-format records fails; the
// separators that stand between values keep their meaning.
TEST(FreeRead, EmptyItems) {
  const std::vector<std::tuple<bool, const char*, const char*>> refused = {
      // molecule size: a comma before the value, first on its line or after
      // skipped empty lines
      {true, ",24\n", "line 1: molecule size: empty value (column 1)"},
      {true, "  \t, 24\n", "line 1: molecule size: empty value (column 4)"},
      {true, "\n \n,\n24\n", "line 3: molecule size: empty value (column 1)"},
      // element record, each of the three positions
      {false, ",0.2343,1.96\n", "line 1: element record: empty value (column 1)"},
      {false, "C,,1.96\n", "line 1: element record: empty value (column 3)"},
      {false, "C , , 1.96\n", "line 1: element record: empty value (column 5)"},
      {false, "'C',,1.96\n", "line 1: element record: empty value (column 5)"},
      {false, "C,0.2343,\nH,0.1,1.2\n", "line 1: element record: empty value (column 9)"},
      {false, "C 0.2343 ,  \t\r\n1.96\n", "line 1: element record: empty value (column 10)"},
      {false, "C,\n\n0.2343 1.96\n", "line 1: element record: empty value (column 2)"},
      // a comma first on a continuation line
      {false, "C 0.2343\n,1.96\n", "line 2: element record: empty value (column 1)"},
      {false, "C\n  0.2343,,1.96\n", "line 2: element record: empty value (column 10)"},
      // repeat counts and the slash are not read as such
      {false, "C 2*0.4 1.96\n", "line 1: element record: \"2*0.4\" is not a number (columns 3-7)"},
      {false, "C 0.2343 /\n", "line 1: element record: \"/\" is not a number (column 10)"},
      {true, "2*3\n", "line 1: molecule size: \"2*3\" is not an integer (columns 1-3)"},
  };
  for (const auto& [size, contents, expected] : refused) {
    InputFile in("zelk8.dat", contents);
    Text4 s;
    float e = -1, r = -1;
    int n = -1;
    EXPECT_EQ(error_of([&] {
                size ? in.read_list("molecule size", &n)
                     : in.read_list("element record", &s, &e, &r);
              }),
              std::string("zelk8.dat ") + expected)
        << shown(contents);
  }

  // One comma between two values, with blanks around it or not, separates
  // them; commas after the last value are the ignored rest of the line.
  const std::vector<std::tuple<const char*, const char*, float, float>> accepted = {
      {"C,0.2343,1.96\n", "C   ", 0.2343f, 1.96f},
      {"C , 0.2343\t,\t1.96\n", "C   ", 0.2343f, 1.96f},
      {"'C, H',0.2343 1.96\n", "C, H", 0.2343f, 1.96f},
      {"C 0.2343\n1.96,,\n", "C   ", 0.2343f, 1.96f},
      {"C,0.2343,1.96,\n", "C   ", 0.2343f, 1.96f},
      {"C,\t0.2343,1.96 ,, ,x\n", "C   ", 0.2343f, 1.96f},
  };
  for (const auto& [contents, symbol, emin, r0] : accepted) {
    InputFile in("zelk8.dat", std::string(contents) + "24,\n");
    Text4 s;
    float e = -1, r = -1;
    int n = -1;
    in.read_list("element record", &s, &e, &r);
    in.read_list("molecule size", &n);
    EXPECT_EQ(std::make_tuple(std::string(view(s)), e, r, n),
              std::make_tuple(std::string(symbol), emin, r0, 24))
        << shown(contents);
  }
}

TEST(Input, FromTheFileSystemAndFromGarbage) {
  const std::string path = ::testing::TempDir() + "records_input_test.dat";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("   7\r\nH 1 2", file);  // CR LF, no final line end
  std::fclose(file);
  InputFile in(path);
  int n = 0;
  Text4 s;
  float e = 0, r = 0;
  in.read("r", Format("(I4)"), &n);
  in.read_list("r", &s, &e, &r);
  EXPECT_EQ(std::tie(n, r), std::make_tuple(7, 2.0f));
  std::remove(path.c_str());

  // A file that cannot be read is refused when it is opened, with the reason.
  const std::string folder = ::testing::TempDir() + "records_input_test.folder";
  std::filesystem::create_directories(folder);
  EXPECT_EQ(error_of([] { InputFile("/nonexistent/zelk8.dat"); }),
            "/nonexistent/zelk8.dat: No such file or directory");
  EXPECT_EQ(error_of([&] { InputFile{folder}; }), folder + ": Is a directory");
  EXPECT_EQ(error_of([] { InputFile("/dev/null"); }), "/dev/null: not a regular file");

  // Binary bytes, NULs and a long line either read or fail with ReadError.
  std::string garbage(1 << 20, '7');
  for (int i = 0; i < 4096; ++i) garbage[(i * 7919) % garbage.size()] = static_cast<char>(i * 37);
  garbage += std::string("\n'\0\0\n\r\r\n,,,\n", 12);
  const int lines = static_cast<int>(std::count(garbage.begin(), garbage.end(), '\n'));
  for (const bool free : {false, true}) {
    InputFile g("g.dat", garbage);
    for (int k = 0; k < 8; ++k) {
      try {
        free ? g.read_list("element record", &s, &s)
             : g.read("atom", Format("(I4,X,3F10.5,4X,A4)"), &n, &e, &r, &r, &s);
      } catch (const ReadError&) {
      }
    }
    if (free)
      EXPECT_LE(g.line_number(), lines);
    else
      EXPECT_EQ(g.line_number(), std::min(8, lines));
  }
}

}  // namespace
}  // namespace records
