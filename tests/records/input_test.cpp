// Fixed-format and free-format reads, and their diagnostics.
#include "records.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

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

TEST(FixedRead, RealFields) {
  const std::vector<std::tuple<const char*, const char*, float>> cases = {
      {"(F10.5)", "12345", 0.12345f},
      {"(F5.0)", "12345", 12345.0f},
      {"(F5.3)", "  150", 0.15f},
      {"(F5.3)", "  1.5", 1.5f},
      {"(F10.5)", "     50000", 0.5f},
      {"(F10.0)", "        90", 90.0f},
      {"(F10.2)", "     12345", 123.45f},
      {"(F10.5)", "1.5-3", 1.5e-3f},
      {"(F10.0)", "2+2", 200.0f},
      {"(F10.1)", "2+2", 20.0f},  // d places the point in the mantissa first
      {"(F10.0)", "1.5d+3", 1500.0f},
      {"(F10.0)", "-1.5e-3", -1.5e-3f},
      {"(F10.0)", "1.5 D 3", 1500.0f},
      {"(F10.0)", " 1 2 3", 123.0f},
      {"(F10.0)", "  -  1.5", -1.5f},
      {"(F10.0)", ".5", 0.5f},
      {"(F10.0)", "5.", 5.0f},
      {"(F10.0)", "", 0.0f},
      {"(F10.0)", "     -", 0.0f},
      {"(F10.0)", "1e-50", 0.0f},
      // One correctly rounded conversion: 2^24 + 1 is a tie, 2^24 + 3 rounds up.
      {"(F10.0)", "16777217", 16777216.0f},
      {"(F10.0)", "16777219", 16777220.0f},
      {"(F10.0)", "0.1", 0.1f},
      {"(F20.0)", "0.30000001192092896", 0.3f},
      {"(F3.0)", "12345", 123.0f},  // columns beyond the field are not read
  };
  for (const auto& [literal, line, expected] : cases) {
    InputFile in("t.dat", std::string(line) + "\n");
    float v = -7.0f;
    in.read("test record", Format(literal), &v);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(v), std::bit_cast<std::uint32_t>(expected))
        << "format " << literal << " line \"" << line << "\" read " << v << ", expected " << expected;
  }
}

TEST(FixedRead, IntegerFields) {
  const std::vector<std::tuple<const char*, const char*, int>> cases = {
      {"(I4)", "  12", 12}, {"(I4)", " -12", -12}, {"(I4)", "+  7", 7}, {"(I4)", "1 2 ", 12},
      {"(I4)", "", 0},      {"(I4)", "   -", 0},   {"(I2)", "1234", 12},
      {"(I11)", "-2147483648", -2147483648},
  };
  for (const auto& [literal, line, expected] : cases) {
    InputFile in("t.dat", std::string(line) + "\n");
    int v = -7;
    in.read("test record", Format(literal), &v);
    EXPECT_EQ(v, expected) << "format " << literal << " line \"" << line << "\"";
  }
}

TEST(FixedRead, BadFieldsNameFileLineRecordAndColumns) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"(I4)", " END", "\"END\" is not an integer (columns 1-4)"},
      {"(I4)", " 1.0", "\"1.0\" is not an integer (columns 1-4)"},
      {"(I12)", " 2147483648", "\"2147483648\" is out of range (columns 1-12)"},
      {"(X,F4.0)", " 1.2.", "\"1.2.\" is not a number (columns 2-5)"},
      {"(F5.0)", "  NaN", "\"NaN\" is not a number (columns 1-5)"},
      {"(F5.0)", "  1e", "\"1e\" is not a number (columns 1-5)"},
      {"(F5.0)", "1e5x", "\"1e5x\" is not a number (columns 1-5)"},
      {"(F5.0)", "    .", "\".\" is not a number (columns 1-5)"},
      {"(F5.0)", "1e99", "\"1e99\" is out of range (columns 1-5)"},
      {"(F1.0)", "x", "\"x\" is not a number (column 1)"},
  };
  for (const auto& [literal, line, expected] : cases) {
    InputFile in("zelk8.dat", std::string("first\n") + line + "\n");
    in.read("skip", Format("(A4)"));
    float r = 0.0f;
    int i = 0;
    const Target target = Format(literal).edits().back().kind == Edit::Kind::I ? Target(&i) : Target(&r);
    EXPECT_EQ(error_of([&] { in.read(Format(literal), {&target, 1}, "unit record"); }),
              std::string("zelk8.dat line 2: unit record: ") + expected)
        << "format " << literal;
  }

  // Embedded bytes outside printable ASCII are shown escaped.
  InputFile raw("zelk8.dat", std::string("1\0\t5", 4));
  float r = 0.0f;
  const Target target(&r);
  EXPECT_EQ(error_of([&] { raw.read(Format("(F4.0)"), {&target, 1}, "map record"); }),
            "zelk8.dat line 1: map record: \"1\\x00\\x095\" is not a number (columns 1-4)");
}

TEST(FixedRead, CellRecordMessages) {
  std::string contents(13, '\n');
  contents += "      10.0      10.0      10.0      9o.0      90.0      90.0\n";
  InputFile in("zelk8.dat", contents);
  for (int i = 0; i < 13; ++i) in.read("skip", Format("(A4)"));
  float cell[6];
  const Target targets[] = {&cell[0], &cell[1], &cell[2], &cell[3], &cell[4], &cell[5]};
  const Format f("(7F10.0)");
  EXPECT_EQ(error_of([&] { in.read(f, targets, "cell record"); }),
            "zelk8.dat line 14: cell record: \"9o.0\" is not a number (columns 31-40)");
  EXPECT_EQ(error_of([&] { in.read(f, targets, "cell record"); }), "zelk8.dat line 15: cell record: end of file");

  InputFile missing("/nonexistent/zelk8.dat");
  int n = 0;
  const Target one(&n);
  EXPECT_EQ(error_of([&] { missing.read_list({&one, 1}, "molecule size"); }),
            "/nonexistent/zelk8.dat line 1: molecule size: end of file");
}

TEST(FixedRead, AtomRecordLayoutShortLinesAndCrLf) {
  const Format atom("(I4,X,3F10.5,4X,A4,X,A4,2I5)");
  InputFile in("zelk8.dat",
               // I4 X F10.5 F10.5 F10.5 4X A4 X A4 I5
               "   1" " " "     12345" "       0.5" "     -0.25" "    " "C1  " " " "C   " "99999\r\n"
               "  -1\r\n"
               "   2 junk\n");
  int element = 9;
  float x = 9, y = 9, z = 9;
  Text4 label = text4("????"), symbol = text4("????");
  in.read("atom record", atom, &element, &x, &y, &z, &label, &symbol);
  EXPECT_EQ(element, 1);
  EXPECT_EQ(x, 0.12345f);
  EXPECT_EQ(y, 0.5f);
  EXPECT_EQ(z, -0.25f);
  EXPECT_EQ(view(label), "C1  ");
  EXPECT_EQ(view(symbol), "C   ");

  // A short line reads as blanks; the '\r' of a CR LF line is not a character.
  in.read("atom record", atom, &element, &x, &y, &z, &label, &symbol);
  EXPECT_EQ(element, -1);
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(view(label), "    ");
  EXPECT_EQ(in.line_number(), 2);

  // Targets used up: the rest of the line is ignored.
  in.read("atom record", atom, &element);
  EXPECT_EQ(element, 2);
  EXPECT_EQ(in.line_number(), 3);
}

TEST(FixedRead, TextWidthsSlashAndReversion) {
  InputFile in("t.dat", "abcdef\nabcdef\nab\n  1  2\n  3\n 10 xx\n 20\n\n\n");
  Text4 t;
  in.read("r", Format("(A6)"), &t);
  EXPECT_EQ(view(t), "cdef");  // the last four of a wider field
  in.read("r", Format("(A2)"), &t);
  EXPECT_EQ(view(t), "ab  ");
  in.read("r", Format("(A)"), &t);
  EXPECT_EQ(view(t), "ab  ");
  int a = 0, b = 0, c = 0;
  in.read("r", Format("(2I3)"), &a, &b, &c);
  EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 2, 3));
  in.read("r", Format("(I3,/,I3)"), &a, &b);
  EXPECT_EQ(std::tie(a, b), std::make_tuple(10, 20));
  EXPECT_EQ(in.line_number(), 7);

  float f = 0.0f;
  EXPECT_THROW(in.read("r", Format("(I3)"), &f), std::logic_error);
  EXPECT_THROW(in.read("r", Format("(A4)"), &a), std::logic_error);
}

TEST(FreeRead, ElementRecordsAndSizes) {
  InputFile in("zelk8.dat",
               "skipped\n"
               "  12   rest of line\n"
               "C    0.23430   1.960\n"
               "\n"
               " \t \r\n"
               "'H' , 0.1\n"
               "\t5.0D-1 ignored words\n"
               "Carbon,1,2E0\n"
               "\"a\"\"b\"  +1.5  -2.\n"
               "'S  x' .5 1.5-1\n");
  in.read_list("nothing");
  int n = 0;
  in.read_list("molecule size", &n);
  EXPECT_EQ(n, 12);
  const std::vector<std::tuple<const char*, float, float>> expected = {
      {"C   ", 0.2343f, 1.96f}, {"H   ", 0.1f, 0.5f}, {"Carb", 1.0f, 2.0f},
      {"a\"b ", 1.5f, -2.0f}, {"S  x", 0.5f, 0.15f},
  };
  for (const auto& [symbol, emin, r0] : expected) {
    Text4 s;
    float e = 0, r = 0;
    in.read_list("element record", &s, &e, &r);
    EXPECT_EQ(view(s), symbol);
    EXPECT_EQ(e, emin) << "element " << symbol;
    EXPECT_EQ(r, r0) << "element " << symbol;
  }
  EXPECT_EQ(in.line_number(), 10);
}

TEST(FreeRead, BadTokensAndEndOfFile) {
  const std::vector<std::tuple<const char*, const char*>> cases = {
      {"C x1.5 2\n", "zelk8.dat line 1: element record: \"x1.5\" is not a number (columns 3-6)"},
      {"\n\nC 1.0,NaN\n", "zelk8.dat line 3: element record: \"NaN\" is not a number (columns 7-9)"},
      {"C 1.0 -\n", "zelk8.dat line 1: element record: \"-\" is not a number (column 7)"},
      {"C 'x' 1\n", "zelk8.dat line 1: element record: \"'x'\" is not a number (columns 3-5)"},
      {"'C 1 2\n", "zelk8.dat line 1: element record: \"'C 1 2\" has no closing quote (columns 1-6)"},
      {"C 1.0\n\n", "zelk8.dat line 3: element record: end of file"},
      {"", "zelk8.dat line 1: element record: end of file"},
  };
  for (const auto& [contents, expected] : cases) {
    InputFile in("zelk8.dat", contents);
    Text4 s;
    float e, r;
    const Target targets[] = {&s, &e, &r};
    EXPECT_EQ(error_of([&] { in.read_list(targets, "element record"); }), expected) << "input \"" << contents << "\"";
  }
  for (const char* bad : {"1.0", "1e3", "12a", "- 1"}) {
    InputFile in("zelk8.dat", bad);
    int n;
    const Target target(&n);
    const std::string message = error_of([&] { in.read_list({&target, 1}, "molecule size"); });
    EXPECT_NE(message.find("is not an integer"), std::string::npos) << bad;
  }
}

TEST(Input, FileAndGarbageStayInBounds) {
  const std::string path = ::testing::TempDir() + "records_input_test.dat";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("   7\r\nH 1 2", file);
  std::fclose(file);
  InputFile in(path);
  int n = 0;
  in.read("r", Format("(I4)"), &n);
  EXPECT_EQ(n, 7);
  Text4 s;
  float e = 0, r = 0;
  in.read_list("r", &s, &e, &r);
  EXPECT_EQ(r, 2.0f);
  std::remove(path.c_str());

  // Binary bytes, NULs and a long line either read or fail with ReadError.
  std::string garbage(1 << 20, '7');
  for (int i = 0; i < 4096; ++i) garbage[(i * 7919) % garbage.size()] = static_cast<char>(i * 37);
  const char tail[] = "\n'\0\0\n\r\r\n,,,\n";
  garbage.append(tail, sizeof tail - 1);
  const int lines = static_cast<int>(std::count(garbage.begin(), garbage.end(), '\n'));
  const Format f("(I4,X,3F10.5,4X,A4,X,A4,2I5)");
  for (int pass = 0; pass < 2; ++pass) {
    InputFile g("g.dat", garbage);
    int i = 0;
    float x[3];
    Text4 t[2];
    const Target targets[] = {&i, &x[0], &x[1], &x[2], &t[0], &t[1]};
    for (int k = 0; k < 8; ++k) {
      try {
        pass == 0 ? g.read(f, targets, "atom record") : g.read_list({targets + 4, 2}, "element record");
      } catch (const ReadError&) {
      }
    }
    if (pass == 0) {
      EXPECT_EQ(g.line_number(), std::min(8, lines));
    }
    EXPECT_LE(g.line_number(), lines) << "pass " << pass;
  }
}

}  // namespace
}  // namespace records
