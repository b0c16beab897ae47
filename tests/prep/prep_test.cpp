#include "prep.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

#include "input_file.hpp"
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

std::string write_temp(const std::string& name, const std::string& text) {
  std::string path =
      (std::filesystem::temp_directory_path() / ("zelk8-prep-test-" + name)).string();
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(FormatF5, FewestDecimalsThatFit) {
  for (const auto& [value, expected, exact] : {
           std::tuple{-1.0, " -1.0", true},
           std::tuple{-0.0, "  0.0", true},
           std::tuple{-0.25, "-0.25", true},
           std::tuple{0.125, "0.125", true},
           std::tuple{-0.125, "-.125", true},
           std::tuple{1.0 / 3, ".3333", false},
           std::tuple{-2.0 / 3, "-.667", false},
           std::tuple{-0.0625, "-.062", false},
           std::tuple{-10.5, "-10.5", true},
           std::tuple{123456.0, "*****", false},
       }) {
    bool is_exact = !exact;
    EXPECT_EQ(zelk8::prep::format_f5(value, &is_exact), expected) << value;
    EXPECT_EQ(is_exact, exact) << value;
  }
}

// The whole file equals the hand-checked input files of the same crystals;
// their maps are the fixed grid around the origin, their units those within
// 10 A, their stacking units the nearest translations.
TEST(Run, WritesTheBundledInputFiles) {
  const std::string old_map = "-3:3:0.25,-2:2:0.25";
  for (const auto& [crystal, folder, options] : {
           std::tuple{"anthracene", "anthracene",
                      std::vector<std::string>{"--stack", "5", "--map", old_map}},
           std::tuple{"anthracene", "anthracene-nomap", std::vector<std::string>{"--no-map"}},
           std::tuple{"anthracene", "anthracene-scan",
                      std::vector<std::string>{"--stack", "45", "--map=-1:1:0.5,0:0.5:0.5"}},
           std::tuple{"naphthalene", "naphthalene",
                      std::vector<std::string>{"--stack", "5", "--map", old_map}},
           std::tuple{"quinacridone", "quinacridone",
                      std::vector<std::string>{"--charges", "0.1,-0.4,-0.3,0", "--map", old_map}},
       }) {
    std::vector<std::string> args{source_path(std::string("examples/cif/") + crystal + ".cif"),
                                  "--cutoff", "10"};
    args.insert(args.end(), options.begin(), options.end());
    Result result = run(args);
    EXPECT_EQ(result.status, 0) << folder << "\n" << result.err;
    EXPECT_EQ(result.out, slurp(source_path(std::string("examples/") + folder + "/zelk8.dat")))
        << folder;
  }
}

TEST(Run, SummaryOutputFileAndHelp) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "zelk8-prep-test-out.dat").string();
  std::remove(path.c_str());
  Result result = run({source_path("examples/cif/quinacridone.cif"), "-o", path, "--charges",
                       "0.1,-0.4,-0.3,0", "--map", "-3:3:0.25,-2:2:0.25", "--cutoff", "10"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(slurp(path), slurp(source_path("examples/quinacridone/zelk8.dat")));
  for (const char* expected :
       {"  space group  P2(1)/c, 4 operations from _symmetry_equiv_pos_as_xyz\n",
        "  molecule     1: 36 atoms from 18 sites; element types 1=O 2=N 3=C 4=H\n",
        "    T01    3.9750 A   x,y-1,z\n",
        "  stack unit   1 (T01) at VL -0.132 VS 2.109 VV -3.367 A: T01, the nearest lattice "
        "translation 3.37 A off along VV (face to face)\n",
        // N-H...O between the chains: units 6 and 7 (the glide images).
        "warning: the model has no hydrogen-bond term: units 6 and 7 have H...O contacts below "
        "2.5 A, their energies are repulsive artefacts of that\n"})
    EXPECT_NE(result.err.find(expected), std::string::npos) << expected << "\nin:\n" << result.err;
  Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--stack auto|N"), std::string::npos) << help.out;
}

// The default map is laid around the stacking partner's offset in the
// program's frame: for anthracene's b translation (--stack 5) VL 0.82, VS
// -5.42; its own choice is the a translation at VL 4.24, VS -2.56.
TEST(Run, DefaultMapAroundTheStackingPartner) {
  using Options = std::vector<std::string>;
  for (const auto& [crystal, options, record] : {
           std::tuple{"anthracene", Options{"--stack", "5"},
                      "-2.25 3.75 0.25 -7.5 -3.5 0.25  0.0  0.0  0.0\n"},
           {"anthracene", Options{}, " 1.25 7.25 0.25 -4.5 -0.5 0.25  0.0  0.0  0.0\n"},
           {"quinacridone", Options{}, "-3.25 2.75 0.25  0.0  4.0 0.25  0.0  0.0  0.0\n"},
       }) {
    Options args{source_path(std::string("examples/cif/") + crystal + ".cif")};
    args.insert(args.end(), options.begin(), options.end());
    Result r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(record).size()), record) << crystal;
  }
  Result given = run({source_path("examples/cif/anthracene.cif"), "--map", "-1:1:0.5,0:1:0.5,3"});
  EXPECT_EQ(given.out.substr(given.out.rfind("\n", given.out.size() - 2) + 1),
            " -1.0  1.0  0.5  0.0  1.0  0.5  3.0  0.0  0.0\n");
}

TEST(Run, StackAutoUnitLimitAndWarnings) {
  // Without a pure translation inside the cutoff: no stacking unit, no map record.
  Result near = run({source_path("examples/cif/anthracene.cif"), "--cutoff", "5.5"});
  ASSERT_EQ(near.status, 0) << near.err;
  const std::string tail = " 99.0\n    0   0.10000   0.00000   0.00000   0.00000\n";
  EXPECT_EQ(near.out.substr(near.out.size() - tail.size()), tail);
  EXPECT_NE(near.err.find("warning: no unit is a pure lattice translation"), std::string::npos)
      << near.err;
  // Translations that all lie nearly in the molecular plane are no
  // stacking partner: anthracene's b translation is 2.53 A off along VV.
  Result flat = run({source_path("examples/cif/anthracene.cif"), "--cutoff", "6.1"});
  ASSERT_EQ(flat.status, 0) << flat.err;
  EXPECT_EQ(flat.out.substr(flat.out.size() - tail.size()), tail);
  EXPECT_NE(flat.err.find("stack unit   0 (no shift map): no lattice translation among the units "
                          "lies 3.00 A or more off along VV (the nearest, T05, 2.53 A)"),
            std::string::npos)
      << flat.err;
  // More units than twenty are cut, with no terminator; the nearest twenty
  // are the cut's purpose now, not a warning.
  Result far = run({source_path("examples/cif/naphthalene.cif"), "--cutoff", "12"});
  ASSERT_EQ(far.status, 0) << far.err;
  EXPECT_EQ(far.out.find(" 99.0"), std::string::npos);
  EXPECT_NE(far.err.find("  units        46 within 12.00 A, the nearest 20 written\n"),
            std::string::npos)
      << far.err;
  EXPECT_EQ(far.err.find("warning"), std::string::npos) << far.err;
  // A stacking unit must name a unit that is written (above 40: the scan).
  Result beyond =
      run({source_path("examples/cif/anthracene.cif"), "--cutoff", "10", "--stack", "15"});
  EXPECT_EQ(beyond.status, 2);
  EXPECT_EQ(beyond.out, "");
  EXPECT_NE(beyond.err.find("error: --stack 15 names no unit: there are 14 units (1 to 14)"),
            std::string::npos)
      << beyond.err;
  Result chosen =
      run({source_path("examples/cif/anthracene.cif"), "--cutoff", "10", "--stack", "14"});
  EXPECT_NE(chosen.err.find("  stack unit   14 (R14) at "), std::string::npos) << chosen.err;
  EXPECT_NE(chosen.err.find(" A: given by --stack 14\n"), std::string::npos) << chosen.err;

  Result no_h = run(
      {write_temp("no-h.cif", without_lines(cif_text("anthracene"), " H ")), "--accept-formula"});
  EXPECT_EQ(no_h.status, 0) << no_h.err;
  EXPECT_NE(no_h.err.find("zelk8-prep: warning: no hydrogen in the molecule (C)"),
            std::string::npos)
      << no_h.err;
  EXPECT_NE(no_h.out.find("   0\nC    0.23430   1.960\n    8.5620"), std::string::npos) << no_h.out;

  const std::string params =
      write_temp("params.txt", "# my carbon\nC 0.3 1.975\n\nH 0.05 1.6  # hydrogen\n");
  Result own = run({source_path("examples/cif/anthracene.cif"), "--params", params});
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_NE(own.out.find("\nC    0.30000   1.975\nH    0.05000   1.600\n"), std::string::npos)
      << own.out;
}

// Errors the user can act on: status 2, the message, nothing on standard output.
TEST(Run, ErrorsEndWithStatusTwo) {
  const std::string anthracene = cif_text("anthracene");
  std::string eight_types = anthracene;
  for (const auto& [label, element] : {std::pair{"C1", "N"},
                                       {"C2", "O"},
                                       {"C3", "S"},
                                       {"C4", "F"},
                                       {"C5", "Cl"},
                                       {"C6", "Br"},
                                       {"C7", "P"}})
    for (const std::string& site :
         {std::string(label), std::string(label) + "B"})  // and its inversion image
      eight_types =
          replace_all(eight_types, "\n" + site + " C ", "\n" + site + " " + element + " ");
  const std::string no_ops =
      replace_all(without_lines(anthracene, "'"), "loop_\n_symmetry_equiv_pos_as_xyz\n", "");
  const std::string partial = replace_all(cif_text("quinacridone"), "0.0847(2) 1", "0.0847(2) 0.5");
  using Options = std::vector<std::string>;
  for (const auto& [name, text, options, message] : {
           std::tuple{"broken.cif", std::string("data_x\n_cell_length_a 'unterminated\n"),
                      Options{}, "error: not a CIF: "},
           std::tuple{"no-ops.cif", no_ops, Options{},
                      "error: no symmetry operations: the CIF has neither "
                      "_space_group_symop_operation_xyz nor "
                      "_symmetry_equiv_pos_as_xyz nor a space-group symbol that is known\n"},
           std::tuple{"no-cell.cif", without_lines(anthracene, "_cell_length_b"), Options{},
                      "missing cell: no value for _cell_length_b\n"},
           std::tuple{"no-cell.cif",
                      replace_all(anthracene, "_cell_angle_beta 124.70", "_cell_angle_beta ?"),
                      Options{}, "missing cell: no value for _cell_angle_beta\n"},
           std::tuple{"no-sites.cif", anthracene.substr(0, anthracene.find("loop_\n_atom_site")),
                      Options{}, "missing sites: no _atom_site_fract_x/y/z loop\n"},
           std::tuple{"partial.cif", partial, Options{},
                      "error: site C09 has occupancy 0.5 (disorder); resolve it in the CIF or give "
                      "--ignore-occupancy\n"},
           std::tuple{"eight.cif", eight_types, Options{},
                      "error: the molecule has 8 element types; the input file holds at most 7\n"},
           std::tuple{"flat.cif",
                      replace_all(anthracene, "_cell_angle_beta 124.70", "_cell_angle_beta 180"),
                      Options{}, "the cell parameters do not describe a cell"},
           std::tuple{"long-op.cif",
                      replace_all(anthracene, "'1/2-x,1/2+y,-z'",
                                  "'1/2-x,1/2+y,-z-12222222222222222222/2'"),
                      Options{},
                      "error: bad symmetry operation '1/2-x,1/2+y,-z-12222222222222222222/2' in "
                      "_symmetry_equiv_pos_as_xyz: a number of more than three digits\n"},
           std::tuple{"ok.cif", anthracene, Options{"--molecule", "2"},
                      "error: molecule 2 asked for, but the asymmetric unit holds 1 molecule\n"},
           std::tuple{"ok.cif", anthracene, Options{"--map", "1:2"},
                      "error: --map: expected L0:L1:DL,S0:S1:DS[,H], got '1:2'\n"},
           std::tuple{"ok.cif", anthracene, Options{"--map", "-3:3:0.25,-2.125:2:0.25"},
                      "error: --map: -2.125 does not fit a 5-column field exactly\n"},
           std::tuple{"ok.cif", anthracene, Options{"--charges", "0.1,0,0"},
                      "error: --charges: expected four values H,C1,C2,C3\n"},
           std::tuple{"ok.cif", anthracene, Options{"--no-map", "--stack", "3"},
                      "error: --no-map and --stack 3 contradict each other\n"},
           std::tuple{
               "ok.cif", anthracene, Options{"--frobnicate"},
               "error: The following argument was not expected: --frobnicate (see --help)\n"},
           std::tuple{"ok.cif", anthracene, Options{"--params", "/nonexistent/params"},
                      "error: cannot read the parameter file /nonexistent/params: no such file"},
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
  EXPECT_EQ(missing.err,
            "zelk8-prep: error: cannot read the CIF /nonexistent/crystal.cif: no such file (check "
            "the name and the folder)\n");

  // --ignore-occupancy takes the site as a whole atom, with a warning.
  Result accepted = run({write_temp("partial.cif", partial), "--ignore-occupancy"});
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_NE(accepted.err.find("warning: site C09 has occupancy 0.5; taken as a whole atom"),
            std::string::npos);
}
