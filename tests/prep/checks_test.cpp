// What the tool checks and says about a CIF: its blocks, its formula, the
// bonds of the molecule, split shells, inexact fields, the net charge.
#include "checks.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "prep.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result run(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = zelk8::prep::run(args, out, err);
  return {status, out.str(), err.str()};
}

std::string test_cif(const std::string& name) {
  return source_path("tests/prep/cif/" + name + ".cif");
}

int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(Checks, FormulasAreReadInEveryCommonSpelling) {
  using Counts = std::map<std::string, double>;
  for (const auto& [text, counts] : {
           std::pair{"C22 H22 O", Counts{{"C", 22}, {"H", 22}, {"O", 1}}},
           {"C14H10", Counts{{"C", 14}, {"H", 10}}},
           {"2(C7 H5 N), H2 O", Counts{{"C", 14}, {"H", 12}, {"N", 2}, {"O", 1}}},
           {"C6 H8 N+, Cl-", Counts{{"C", 6}, {"H", 8}, {"N", 1}, {"Cl", 1}}},
           {"C3.5 H4", Counts{{"C", 3.5}, {"H", 4}}},
       }) {
    auto parsed = zelk8::prep::parse_formula(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(*parsed, counts) << text;
  }
  for (const char* text : {"", "?", "unknown", "Xx2 H4", "2 C"})
    EXPECT_FALSE(zelk8::prep::parse_formula(text)) << text;
}

TEST(Checks, FormulaMismatchIsNamed) {
  Result ok = run({test_cif("acetylene"), "--no-map"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err.find("warning: the molecule is"), std::string::npos) << ok.err;

  // A molecule that is not the CIF's is refused, naming both formulas,
  // unless accepted.
  Result r = run({test_cif("formula-mismatch"), "--no-map"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("error: the molecule is C2 H2 but the CIF's _chemical_formula_sum is "
                       "'C2 H4'"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("give --accept-formula"), std::string::npos) << r.err;
  Result accepted = run({test_cif("formula-mismatch"), "--no-map", "--accept-formula"});
  ASSERT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_NE(accepted.err.find("warning: the molecule is C2 H2 but the CIF's"), std::string::npos)
      << accepted.err;
  // A formula the tool cannot read is not compared: a warning only.
  Result unread =
      run({write_temp_file("odd-formula.cif", replace_all(slurp(test_cif("formula-mismatch")),
                                                          "'C2 H4'", "'see text'")),
           "--no-map"});
  EXPECT_EQ(unread.status, 0) << unread.err;
  EXPECT_NE(unread.err.find("is not a formula this tool reads; not compared"), std::string::npos)
      << unread.err;
  // Two molecules per formula unit match; half a molecule (two molecules
  // bonded into one) does not.
  zelk8::prep::Crystal c = zelk8::prep::read_crystal(test_cif("acetylene"));
  zelk8::prep::Molecule m = zelk8::prep::build_molecule(c, {});
  EXPECT_FALSE(zelk8::prep::formula_mismatch(m, "C4 H4", "_chemical_formula_sum"));
  EXPECT_TRUE(zelk8::prep::formula_mismatch(m, "C H", "_chemical_formula_sum"));
  EXPECT_TRUE(zelk8::prep::formula_mismatch(m, "C2 H2 O", "_chemical_formula_sum"));
}

TEST(Checks, ImplausibleBondsAreRefusedUnlessForced) {
  Result r = run({test_cif("short-bond"), "--no-map"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("error: implausible molecule: the bond C2 (site C2) - H2 (site H2) is "
                       "0.650 A, below 0.8 A. Check the sites in the CIF, or give --accept-bonds"),
            std::string::npos)
      << r.err;
  for (const char* option : {"--accept-bonds", "--force"}) {
    Result forced = run({test_cif("short-bond"), "--no-map", option});
    EXPECT_EQ(forced.status, 0) << option;
    EXPECT_NE(forced.err.find("warning: the bond C2 (site C2) - H2 (site H2) is 0.650 A"),
              std::string::npos)
        << forced.err;
  }

  // A hydrogen bridging the two carbons, 1.1 A from each.
  std::string bridged =
      replace_all(slurp(test_cif("acetylene")), "H2 H 0.77667 0.5 0.5", "H2 H 0.5 0.65366 0.5");
  zelk8::prep::Crystal c = zelk8::prep::read_crystal_text(bridged, "bridged.cif");
  auto problems = zelk8::prep::implausible_bonds(c, zelk8::prep::build_molecule(c, {}), 0.4);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0],
            "the hydrogen H2 (site H2) is bonded to 2 atoms: C1 (site C1) 1.100 A, C2 (site C2) "
            "1.100 A");
  // The bundled crystals pass.
  for (const char* crystal : {"anthracene", "naphthalene", "quinacridone"}) {
    zelk8::prep::Crystal bundled = zelk8::prep::read_crystal_text(cif_text(crystal), crystal);
    EXPECT_TRUE(
        zelk8::prep::implausible_bonds(bundled, zelk8::prep::build_molecule(bundled, {}), 0.4)
            .empty())
        << crystal;
  }
}

TEST(Checks, BlocksAreChosenAndNamed) {
  Result r = run({test_cif("two-blocks"), "--no-map"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("  block        acetylene_1 (the file's other blocks: global)\n"),
            std::string::npos)
      << r.err;
  // Without angles, the cell is taken as rectangular: the same file as the
  // one-block crystal, with one warning per angle.
  EXPECT_EQ(r.out, run({test_cif("acetylene"), "--no-map"}).out);
  for (const char* angle : {"alpha", "beta", "gamma"})
    EXPECT_EQ(count_of(r.err, std::string("warning: no _cell_angle_") + angle +
                                  " in the CIF; taken as 90 degrees\n"),
              1)
        << r.err;

  Result named = run({test_cif("two-blocks"), "--no-map", "--block", "ACETYLENE_1"});
  EXPECT_EQ(named.status, 0) << named.err;
  Result wrong = run({test_cif("two-blocks"), "--block", "global"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("missing cell: no value for _cell_length_a"), std::string::npos)
      << wrong.err;
  Result missing = run({test_cif("two-blocks"), "--block", "other"});
  EXPECT_NE(missing.err.find("no data block 'other'; the blocks are global, acetylene_1"),
            std::string::npos)
      << missing.err;
  const std::string text_only = "data_a\n_journal_name_full x\ndata_b\n_cell_length_a 5\n";
  Result none = run({write_temp_file("text-only.cif", text_only)});
  EXPECT_NE(none.err.find("no data block holds both a cell and atom sites; the blocks are a, b"),
            std::string::npos)
      << none.err;
}

TEST(Checks, SplitShellsAndInexactFieldsAreWarned) {
  Result r = run({test_cif("acetylene"), "--cutoff", "11"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the 20 units written end inside a set of 8 units at 10.39 A, of "
                       "which 2 are written; --cutoff 10.38 writes none of the set"),
            std::string::npos)
      << r.err;
  Result whole = run({test_cif("acetylene"), "--cutoff", "10.38"});
  EXPECT_EQ(whole.err.find("inside a set"), std::string::npos) << whole.err;
  EXPECT_NE(whole.err.find("units        18 within 10.38 A"), std::string::npos) << whole.err;

  // A threefold screw axis: translations of 1/3 and 2/3 along c.
  std::string screw =
      replace_all(slurp(test_cif("acetylene")), "x,y,z\n", "x,y,z\n-y,x-y,z+1/3\n-x+y,-x,z+2/3\n");
  screw = replace_all(screw, "_cell_angle_gamma 90", "_cell_angle_gamma 120");
  screw = replace_all(screw, "'P 1'", "'P 31'");
  Result s = run({write_temp_file("screw.cif", screw), "--no-map"});
  ASSERT_EQ(s.status, 0) << s.err;
  // One line for them all: how many, each value with its field and units.
  EXPECT_EQ(count_of(s.err, "written as the nearest a 5-column field holds"), 1) << s.err;
  EXPECT_NE(s.err.find("warning: 12 unit values are written as the nearest a 5-column field "
                       "holds: 0.333333 is written as .3333 (units R01, R02, R09 and R10); "
                       "-0.333333 is written as -.333 (units R03, R04, R11 and R12);"),
            std::string::npos)
      << s.err;
  // Each warning once.
  std::istringstream lines(s.err);
  std::set<std::string> seen;
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
}

TEST(Checks, NetChargeIsPrintedAndWarned) {
  Result neutral = run({test_cif("acetylene"), "--no-map"});
  EXPECT_NE(neutral.err.find("  net charge   0.0000 e\n"), std::string::npos) << neutral.err;
  EXPECT_EQ(neutral.err.find("warning: the molecule's net charge"), std::string::npos);
  // Sulphur in the place of one carbon: S, C, H take the three-element
  // scheme, in which the sulphur's increment is only half given back by its
  // one carbon neighbour.
  const std::string thio = write_temp_file(
      "thio.cif", replace_all(replace_all(slurp(test_cif("acetylene")), "C1 C 0.4", "S1 S 0.4"),
                              "'C2 H2'", "'C H2 S'"));
  Result charged = run({thio, "--no-map", "--charges", "0.1,0.2,0,0"});
  ASSERT_EQ(charged.status, 0) << charged.err;
  EXPECT_NE(charged.err.find("  net charge   0.1000 e\n"), std::string::npos) << charged.err;
  // The warning says what to change: increments under which it is neutral.
  EXPECT_NE(charged.err.find("warning: the molecule's net charge is +0.1000 e with the charge "
                             "increments 0.1,0.2,0,0; its electrostatic lattice sum does not "
                             "converge: give --charges increments under which the molecule is "
                             "neutral (--charges 0.1,0,0,0 is)"),
            std::string::npos)
      << charged.err;
  Result small = run({thio, "--no-map", "--charges", "0.1,0.008,0,0"});
  EXPECT_NE(small.err.find("  net charge   0.0040 e\n"), std::string::npos) << small.err;
  EXPECT_EQ(small.err.find("net charge is"), std::string::npos) << small.err;
}
