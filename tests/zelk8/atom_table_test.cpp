#include <gtest/gtest.h>

#include "stages.hpp"

namespace zelk8 {
namespace {

// n atom records of element e, in the input's columns.
std::string atoms(int n, int e) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%4d %10.5f%10.5f%10.5f    A%-3d X   \n", e, 0.01 * i,
                  0.02 * i, 0.03 * i, i % 1000);
    out += line;
  }
  return out;
}

std::string element_table_of(const std::string& input) {
  RunState s;
  records::InputFile in("zelk8.dat", input);
  read_molecule(s, in);
  std::string report;
  build_atom_table(s, report);
  // Skip the atom list: the table starts at its empty line.
  return report.substr(report.find("\n\n") + 1);
}

TEST(ElementTable, TwoTypesPrintCarbonAndHydrogenWhateverTheirSymbols) {
  // 18 carbon and 12 hydrogen atoms, molecule size 0: the worked example.
  const std::string input =
      "0\n" + atoms(18, 1) + atoms(12, 2) + "   0\nXx 0.2343 1.96\n'Yy' 0.0837,1.62\n";
  EXPECT_EQ(element_table_of(input), R"(
  Atom       NEL NOBL     Emin      R0    0.0000
  C      18   72   72   0.23430   1.96000
  H      12   12   12   0.08370   1.62000
  Sum    30   84   84   18   30    0   30
)");
}

TEST(ElementTable, ThreeTypesAreSulphurCarbonHydrogenAndAnUnusedIndexShowsZero) {
  const std::string input =
      "2\n" + atoms(2, 1) + atoms(3, 3) + "\nS 0.8 2.15\nC 0.2 1.96\nH .08 1.62\n";
  EXPECT_EQ(element_table_of(input), R"(
  Atom       NEL NOBL     Emin      R0    0.0000
  S       2   12    8   0.80000   2.15000
  C       0    0    0   0.20000   1.96000
  H       3    3    3   0.08000   1.62000
  Sum     5   15   11    2    2    0    5
)");
}

TEST(ElementTable, FourOrMoreTypesTakeFactorsFromTheSymbol) {
  const std::string input = "0\n" + atoms(2, 1) + atoms(1, 2) + atoms(1, 3) + atoms(1, 4) +
                            atoms(2, 5) + "   0\n'o' 1 2\ncl 1 2\nXe 1 2\nSi 1 2\nH 1 2\n";
  EXPECT_EQ(element_table_of(input), R"(
  Atom       NEL NOBL     Emin      R0    0.0000
  o       2   12    8   1.00000   2.00000
  cl      1    7    4   1.00000   2.00000
  Xe      1    0    0   1.00000   2.00000
  Si      1    4    4   1.00000   2.00000
  H       2    2    2   1.00000   2.00000
  Sum     7   25   18    5    7    0    7
)");
}

TEST(ElementTable, OneTypeWritesOnlyTheHeading) {
  EXPECT_EQ(element_table_of("0\n" + atoms(3, 1) + "   0\nC 1 2\n"),
            "\n  Atom       NEL NOBL     Emin      R0    0.0000\n");
}

TEST(AtomList, EchoesTheRecordsAndReadsTheSecondSet) {
  const std::string input =
      "0\n" + atoms(2, 1) + atoms(1, 2) + "  -1\n" + atoms(2, 2) + atoms(1, 1) + "C 1 2\nH 1 2\n";
  RunState s;
  records::InputFile in("zelk8.dat", input);
  read_molecule(s, in);
  EXPECT_EQ(s.atom_count, 3);
  EXPECT_EQ(s.molecule_atom_count, 3);
  EXPECT_TRUE(s.second_set_read);
  EXPECT_EQ(s.atom_element_full[3], 2);
  EXPECT_EQ(s.atom_element_full[5], 1);
  EXPECT_FLOAT_EQ(s.frac_y_full[4], 0.02f);
  std::string report;
  build_atom_table(s, report);
  const std::string expected_list = atoms(2, 1) + atoms(1, 2);
  EXPECT_EQ(report.substr(0, expected_list.size()), expected_list);
  EXPECT_EQ(s.element_total, 3);
  count_heavy_atoms(s);
  EXPECT_EQ(s.heavy_atom_count, 2);
}

TEST(AtomList, InputBeyondTheLayoutIsRejected) {
  const struct {
    std::string input;
    std::string message;
  } cases[] = {
      {"0\n" + atoms(200, 1),
       "zelk8.dat line 201: atom record: no terminating record among the first 200 atom records"},
      {"0\n" + atoms(3, 1) + atoms(1, 8),
       "zelk8.dat line 5: atom record: element index 8 is above 7"},
      {"0\n" + atoms(101, 1) + "  -1\n",
       "zelk8.dat line 103: atom record: a second set of 101 atoms does not fit in 200 slots"},
      {"5\n" + atoms(3, 1) + "   0\n",
       "zelk8.dat line 5: atom record: molecule size 5 is not between 0 and the 3 atoms listed"},
      {"-1\n" + atoms(3, 1) + "   0\n",
       "zelk8.dat line 5: atom record: molecule size -1 is not between 0 and the 3 atoms listed"},
      {"0\n" + atoms(2, 1) + atoms(1, 2) + "  -1\n" + atoms(1, 1) + atoms(1, 3),
       "zelk8.dat line 7: atom record (second set): element index 3 is not between 1 and 2"},
      {"0\n" + atoms(2, 1) + "END\n",
       R"(zelk8.dat line 4: atom record: "END" is not an integer (columns 1-4))"},
  };
  for (const auto& [input, message] : cases) {
    RunState s;
    records::InputFile in("zelk8.dat", input);
    try {
      read_molecule(s, in);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const records::ReadError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

}  // namespace
}  // namespace zelk8
