#include "prep.hpp"

#include "input_file.hpp"
#include "prep_test_util.hpp"
#include "vdw_params.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace prep_test;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result run(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = prep::run(args, out, err);
  return {status, out.str(), err.str()};
}

std::string write_temp(const std::string& name, const std::string& text) {
  std::string path = (std::filesystem::temp_directory_path() / ("zelk8-prep-test-" + name)).string();
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(FormatF5, FewestDecimalsThatFit) {
  for (const auto& [value, expected, exact] : {
           std::tuple{-1.0, " -1.0", true},   std::tuple{0.0, "  0.0", true},    std::tuple{-0.0, "  0.0", true},
           std::tuple{0.5, "  0.5", true},    std::tuple{-0.5, " -0.5", true},   std::tuple{0.25, " 0.25", true},
           std::tuple{-0.25, "-0.25", true},  std::tuple{1.5, "  1.5", true},    std::tuple{0.125, "0.125", true},
           std::tuple{-0.125, "-.125", true}, std::tuple{1.0 / 3, ".3333", false}, std::tuple{-2.0 / 3, "-.667", false},
           std::tuple{0.0625, ".0625", true}, std::tuple{-0.0625, "-.062", false},
           std::tuple{-10.5, "-10.5", true},  std::tuple{99.0, " 99.0", true},   std::tuple{123456.0, "*****", false},
       }) {
    bool is_exact = !exact;
    EXPECT_EQ(prep::format_f5(value, &is_exact), expected) << value;
    EXPECT_EQ(is_exact, exact) << value;
  }
}

// The whole file equals the hand-checked input files of the same crystals.
TEST(Run, WritesTheBundledInputFiles) {
  for (const auto& [crystal, folder, options] : {
           std::tuple{"anthracene", "anthracene", std::vector<std::string>{}},
           std::tuple{"anthracene", "anthracene-nomap", std::vector<std::string>{"--no-map"}},
           std::tuple{"anthracene", "anthracene-scan", std::vector<std::string>{"--stack", "45", "--map=-1:1:0.5,0:0.5:0.5"}},
           std::tuple{"naphthalene", "naphthalene", std::vector<std::string>{}},
           std::tuple{"quinacridone", "quinacridone", std::vector<std::string>{"--charges", "0.1,-0.4,-0.3,0"}},
       }) {
    std::vector<std::string> args{source_path(std::string("examples/cif/") + crystal + ".cif")};
    args.insert(args.end(), options.begin(), options.end());
    Result result = run(args);
    EXPECT_EQ(result.status, 0) << folder << "\n" << result.err;
    EXPECT_EQ(result.out, slurp(source_path(std::string("examples/") + folder + "/zelk8.dat"))) << folder;
  }
}

TEST(Run, SummaryOnStandardError) {
  Result result = run({source_path("examples/cif/quinacridone.cif")});
  ASSERT_EQ(result.status, 0) << result.err;
  for (const char* expected : {"  formula      C20 H12 N2 O2\n",
                               "  cell         a 5.6920  b 3.9750  c 30.0200  alpha 90.000  beta 96.760  gamma 90.000\n",
                               "  space group  P2(1)/c, 4 operations from _symmetry_equiv_pos_as_xyz\n",
                               "  molecule     1: 36 atoms from 18 sites; element types 1=O 2=N 3=C 4=H\n",
                               "  units        14 within 10.00 A\n", "    T01    3.9750 A   x,y-1,z\n",
                               "  stack unit   1 (T01)\n"})
    EXPECT_NE(result.err.find(expected), std::string::npos) << expected << "\nin:\n" << result.err;
  EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
}

TEST(Run, OutputFileAndHelp) {
  std::string path = (std::filesystem::temp_directory_path() / "zelk8-prep-test-out.dat").string();
  std::remove(path.c_str());
  Result written = run({source_path("examples/cif/naphthalene.cif"), "-o", path});
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(slurp(path), slurp(source_path("examples/naphthalene/zelk8.dat")));

  Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--cutoff R", "(default 10)", "--stack auto|N", "(default auto)", "--charges",
                             "(default 0.1,0,0,0)", "(default -3:3:0.25,-2:2:0.25,0", "--no-map", "--params FILE",
                             "--molecule N", "-o, --output FILE", "--ignore-occupancy", "(default 0.4)"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// Without a pure translation inside the cutoff there is no stacking unit and
// no map record; more units than twenty are cut, with no terminator.
TEST(Run, StackAutoAndUnitLimit) {
  Result near = run({source_path("examples/cif/anthracene.cif"), "--cutoff", "5.5"});
  ASSERT_EQ(near.status, 0) << near.err;
  const std::string tail = " 99.0\n    0   0.10000   0.00000   0.00000   0.00000\n";
  EXPECT_EQ(near.out.substr(near.out.size() - tail.size()), tail);
  EXPECT_NE(near.err.find("warning: no unit is a pure lattice translation"), std::string::npos) << near.err;

  Result far = run({source_path("examples/cif/naphthalene.cif"), "--cutoff", "12"});
  ASSERT_EQ(far.status, 0) << far.err;
  EXPECT_EQ(far.out.find(" 99.0"), std::string::npos);
  EXPECT_NE(far.err.find("units lie within the cutoff; only the nearest 20 are written"), std::string::npos);
}

TEST(Run, HydrogenFreeMoleculeWarns) {
  std::string path = write_temp("no-h.cif", without_lines(cif_text("anthracene"), " H "));
  Result result = run({path});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("zelk8-prep: warning: no hydrogen in the molecule (C)"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("   0\nC    0.23430   1.960\n    8.5620"), std::string::npos) << result.out;
}

TEST(Run, ParamsFileOverridesTheTable) {
  std::string path = write_temp("params.txt", "# my carbon\nC 0.3 1.975\n\nH 0.05 1.6  # hydrogen\n");
  Result result = run({source_path("examples/cif/anthracene.cif"), "--params", path});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\nC    0.30000   1.975\nH    0.05000   1.600\n"), std::string::npos) << result.out;

  prep::VdwTable table = prep::builtin_vdw_table();
  EXPECT_NEAR(table.at("C").emin, 0.2343, 5e-5);
  EXPECT_NEAR(table.at("N").emin, 0.1799, 5e-5);
  EXPECT_NEAR(table.at("O").emin, 0.2469, 5e-5);
  EXPECT_NEAR(table.at("S").emin, 0.8452, 5e-5);
  EXPECT_EQ(table.at("S").r0, 2.15);
}

// Errors the user can act on: status 2, the message, nothing on standard
// output.
TEST(Run, ErrorsEndWithStatusTwo) {
  const std::string anthracene = cif_text("anthracene");
  const std::string quinacridone = cif_text("quinacridone");
  std::string eight_types = anthracene;
  for (const auto& [label, element] : {std::pair{"C1", "N"}, {"C2", "O"}, {"C3", "S"}, {"C4", "F"}, {"C5", "Cl"},
                                       {"C6", "Br"}, {"C7", "P"}})
    for (const std::string& site : {std::string(label), std::string(label) + "B"})  // and its inversion image
      eight_types = replace_all(eight_types, "\n" + site + " C ", "\n" + site + " " + element + " ");
  std::string no_ops = replace_all(without_lines(anthracene, "'"), "loop_\n_symmetry_equiv_pos_as_xyz\n", "");
  std::string partial = replace_all(quinacridone, "0.0847(2) 1", "0.0847(2) 0.5");

  for (const auto& [name, text, options, message] : {
           std::tuple{"broken.cif", std::string("data_x\n_cell_length_a 'unterminated\n"), std::vector<std::string>{},
                      "zelk8-prep: error: not a CIF: "},
           std::tuple{"text.cif", std::string("just some text\n"), std::vector<std::string>{},
                      "zelk8-prep: error: not a CIF: "},
           std::tuple{"no-ops.cif", no_ops, std::vector<std::string>{},
                      "zelk8-prep: error: no symmetry operations: the CIF has neither "
                      "_space_group_symop_operation_xyz nor _symmetry_equiv_pos_as_xyz nor a space-group symbol "
                      "that is known\n"},
           std::tuple{"no-cell.cif", without_lines(anthracene, "_cell_angle_beta"), std::vector<std::string>{},
                      "missing cell: no value for _cell_angle_beta\n"},
           std::tuple{"no-sites.cif", anthracene.substr(0, anthracene.find("loop_\n_atom_site")),
                      std::vector<std::string>{}, "missing sites: no _atom_site_fract_x/y/z loop\n"},
           std::tuple{"partial.cif", partial, std::vector<std::string>{},
                      "zelk8-prep: error: site C09 has occupancy 0.5 (disorder); resolve it in the CIF or give "
                      "--ignore-occupancy\n"},
           std::tuple{"eight.cif", eight_types, std::vector<std::string>{},
                      "zelk8-prep: error: the molecule has 8 element types; the input file holds at most 7\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--molecule", "2"},
                      "zelk8-prep: error: molecule 2 asked for, but the asymmetric unit holds 1 molecule\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--map", "1:2"},
                      "zelk8-prep: error: --map: expected L0:L1:DL,S0:S1:DS[,H], got '1:2'\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--map", "-3:3:0.25,-2.125:2:0.25"},
                      "zelk8-prep: error: --map: -2.125 does not fit a 5-column field exactly\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--map", "-3:3:0,-2:2:0.25"},
                      "zelk8-prep: error: --map: the step must be positive in '-3:3:0'\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--charges", "0.1,0,0"},
                      "zelk8-prep: error: --charges: expected four values H,C1,C2,C3\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--no-map", "--stack", "3"},
                      "zelk8-prep: error: --no-map and --stack 3 contradict each other\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--frobnicate"},
                      "zelk8-prep: error: unknown option --frobnicate (see --help)\n"},
           std::tuple{"ok.cif", anthracene, std::vector<std::string>{"--params", "/nonexistent/params"},
                      "zelk8-prep: error: cannot read the parameter file /nonexistent/params\n"},
       }) {
    std::vector<std::string> args{write_temp(name, text)};
    args.insert(args.end(), options.begin(), options.end());
    Result result = run(args);
    EXPECT_EQ(result.status, 2) << name;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_NE(result.err.find(message), std::string::npos) << name << ": " << result.err;
  }

  Result missing = run({"/nonexistent/crystal.cif"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "zelk8-prep: error: cannot read /nonexistent/crystal.cif\n");

  // --ignore-occupancy takes the site as a whole atom, with a warning.
  Result accepted = run({write_temp("partial.cif", partial), "--ignore-occupancy"});
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_NE(accepted.err.find("warning: site C09 has occupancy 0.5; taken as a whole atom"), std::string::npos);
}
