// What the tool says about real crystals: symmetric tops, hydrogen bonds,
// two molecules in the asymmetric unit, a sparse cell, a file cut short,
// and outputs it cannot write.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "crystal.hpp"
#include "molecule.hpp"
#include "prep.hpp"
#include "prep_test_util.hpp"
#include "units.hpp"

using namespace zelk8::prep::testing;
namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out, err;
  nlohmann::json json;
};

// The tool on `args` with a JSON summary, read back when it was written.
Result run_json(std::vector<std::string> args, const std::string& name) {
  const std::string path = (fs::temp_directory_path() / ("zelk8-prep-" + name + ".json")).string();
  fs::remove(path);
  args.insert(args.end(), {"--json", path});
  std::ostringstream out, err;
  Result r{zelk8::prep::run(args, out, err), out.str(), err.str(), nullptr};
  if (fs::exists(path)) r.json = nlohmann::json::parse(slurp(path));
  return r;
}

std::string test_cif(const std::string& name) {
  return source_path("tests/prep/cif/" + name + ".cif");
}

// A CIF of the anthracene molecule alone at a general position of P 21/c in
// a cell of 13.5 x 15 x 17 A: the room a molecule of about 45 heavy atoms
// takes, so that few neighbours lie within 10 A.
std::string sparse_cif() {
  zelk8::prep::Crystal own = zelk8::prep::read_crystal_text(cif_text("anthracene"), "a.cif");
  zelk8::prep::Molecule m = zelk8::prep::build_molecule(own, {});
  gemmi::UnitCell cell(13.5, 15.0, 17.0, 90.0, 95.0, 90.0);
  std::string text =
      "data_sparse\n_chemical_formula_sum 'C14 H10'\n_cell_length_a 13.5\n_cell_length_b "
      "15.0\n_cell_length_c 17.0\n_cell_angle_alpha 90\n_cell_angle_beta 95\n_cell_angle_gamma "
      "90\nloop_\n_symmetry_equiv_pos_as_xyz\n'x,y,z'\n'-x,y+1/2,-z+1/2'\n'-x,-y,-z'\n"
      "'x,-y+1/2,z+1/2'\nloop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
      "_atom_site_fract_y\n_atom_site_fract_z\n";
  const gemmi::Position shift = cell.orthogonalize(gemmi::Fractional(0.25, 0.25, 0.25));
  for (const zelk8::prep::MoleculeAtom& atom : m.atoms) {
    const gemmi::Fractional f = cell.fractionalize(own.cell.orthogonalize(atom.fract) + shift);
    char line[96];
    std::snprintf(line, sizeof line, "%s %s %.5f %.5f %.5f\n", atom.label.c_str(),
                  atom.element.name(), f.x, f.y, f.z);
    text += line;
  }
  return text;
}

}  // namespace

// Hexamine sits on a site of cubic symmetry: all three moments are one.
// Adamantane's site is fourfold: VL and VS are one, VV differs by 0.24 %
// (the measured geometry), beyond the tolerance.
TEST(Crystals, SymmetricTopsNameTheirArbitraryAxes) {
  for (const auto& [crystal, axes] :
       {std::pair{"hexamine", "VL, VS and VV"}, {"adamantane", "VL and VS"}, {"urea", ""}}) {
    Result r = run_json({test_cif(crystal), "-o", "/dev/null"}, crystal);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json["degenerate_axes"], axes) << crystal;
    const std::string warning = std::string("warning: the molecule's principal moments along ") +
                                axes + " are equal within 0.1 %";
    EXPECT_EQ(r.err.find(warning) != std::string::npos, *axes != '\0') << r.err;
  }
}

// Pyrazole's N-H...N chains: the units are named by their place in the
// file, whose three element types print as S, C, H; the contacts go by the
// atoms' own symbols, so they are H...N. Its 18 sites are two molecules.
TEST(Crystals, HydrogenBondsAndTwoMoleculesAreNamed) {
  Result r = run_json({test_cif("pyrazole"), "-o", "/dev/null"}, "pyrazole");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("  molecule     1: 9 atoms from 9 of the 18 sites (the asymmetric unit "
                       "holds 2 molecules)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.json["hbond_units"], 2);
  EXPECT_EQ(r.json["hbond_unit_numbers"], nlohmann::json({15, 16}));
  EXPECT_NE(r.err.find("warning: the model has no hydrogen-bond term: units 15 and 16 have "
                       "H...N contacts below 2.5 A"),
            std::string::npos)
      << r.err;
  // Each hydrogen-bonded unit holds a contact below 2.5 A that the units
  // not listed lack: urea's six neighbours of the tapes.
  Result urea = run_json({test_cif("urea"), "-o", "/dev/null"}, "urea");
  EXPECT_EQ(urea.json["hbond_unit_numbers"], nlohmann::json({5, 6, 7, 8, 9, 10}));
  // A molecule without O, N or S has none.
  Result none = run_json({test_cif("adamantane"), "-o", "/dev/null"}, "adamantane-h");
  EXPECT_EQ(none.json["hbond_units"], 0);
  EXPECT_EQ(none.err.find("hydrogen-bond"), std::string::npos);
}

// By default the nearest 20 images are written however far they lie, up to
// the bound; a cutoff given takes fewer, and says so.
TEST(Crystals, TwentyUnitsReachTheFirstShellOfALargeMolecule) {
  const std::string cif = write_temp_file("sparse.cif", sparse_cif());
  Result r = run_json({cif, "-o", "/dev/null"}, "sparse");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.json["units"].size(), 20u);
  EXPECT_EQ(r.json["unit_cutoff"], 30.0);
  EXPECT_GT(r.json["within_cutoff"].get<int>(), 20);
  const double last = r.json["units"][19]["distance"];
  EXPECT_GT(last, 10.0);
  EXPECT_LT(last, 30.0);
  Result near = run_json({cif, "-o", "/dev/null", "--cutoff", "10"}, "sparse-10");
  ASSERT_EQ(near.status, 0) << near.err;
  const size_t within = near.json["units"].size();
  EXPECT_LT(within, 20u);
  EXPECT_NE(near.err.find("warning: only " + std::to_string(within) +
                          " units lie within the cutoff of 10 A; a larger --cutoff writes the "
                          "nearest 20"),
            std::string::npos)
      << near.err;
}

// The search limit counts molecules, not the operations that make them:
// hexamine's molecule is made by 24 operations each, and 35 A holds 1066.
TEST(Crystals, UnitSearchLimitCountsDistinctMolecules) {
  zelk8::prep::Crystal c = zelk8::prep::read_crystal(test_cif("hexamine"));
  zelk8::prep::Molecule m = zelk8::prep::build_molecule(c, {});
  zelk8::prep::UnitSearch search = zelk8::prep::find_units(c, m, 35.0);
  EXPECT_EQ(search.inside_cutoff, 1066);
  for (size_t i = 1; i < search.distances.size(); ++i)
    ASSERT_LE(search.distances[i - 1], search.distances[i] + 1e-4);
  zelk8::prep::UnitSearch first = zelk8::prep::find_units(c, m, 10.0);
  EXPECT_EQ(first.inside_cutoff, 26);  // 8 at 5.21, 6 at 6.02, 12 at 9.83 A: the bcc shells
  Result far = run_json({test_cif("hexamine"), "--cutoff", "120", "-o", "/dev/null"}, "limit");
  EXPECT_EQ(far.status, 2);
  EXPECT_NE(far.err.find("error: more than 20000 molecules lie within the cutoff of 120 A; the "
                         "cell is too small for this cutoff (give a smaller --cutoff)\n"),
            std::string::npos)
      << far.err;
}

// A CIF cut short after its ninth carbon, one hydrogen of the rest left
// over: the molecule built is not the CIF's, which is the error, not a
// second molecule in the asymmetric unit.
TEST(Crystals, AFileCutShortFailsOnItsFormula) {
  std::string text = replace_all(cif_text("quinacridone"), "_cell_length_a",
                                 "_chemical_formula_sum 'C20 H12 N2 O2'\n_cell_length_a");
  const std::string whole = write_temp_file("quinacridone-formula.cif", text);
  Result ok = run_json({whole, "-o", "/dev/null"}, "whole");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.json["formula_accepted"], false);

  text = text.substr(0, text.find("C10 C")) + "H10 H 0.1573 0.3033 0.0036 1\n";
  const std::string cut = write_temp_file("quinacridone-cut.cif", text);
  Result r = run_json({cut, "-o", "/dev/null"}, "cut");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("error: the molecule is C9 H5 N O but the CIF's _chemical_formula_sum is "
                       "'C20 H12 N2 O2'"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("asymmetric unit"), std::string::npos) << r.err;
  Result accepted = run_json({cut, "-o", "/dev/null", "--accept-formula"}, "cut-accepted");
  ASSERT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(accepted.json["formula_accepted"], true);
}

TEST(Crystals, OutputsThatCannotBeWrittenEndWithStatusThree) {
  const fs::path folder = fs::temp_directory_path() / "zelk8-prep-an-output-folder";
  fs::create_directories(folder);
  std::ostringstream out, err;
  const std::string cif = source_path("examples/cif/anthracene.cif");
  EXPECT_EQ(zelk8::prep::run({cif, "-o", folder.string()}, out, err), 3);
  EXPECT_NE(err.str().find("cannot write " + folder.string() + ": it is a folder"),
            std::string::npos)
      << err.str();
  // Standard output that fails.
  std::ostringstream err3;
  std::ostream closed(nullptr);
  EXPECT_EQ(zelk8::prep::run({cif}, closed, err3), 3);
  EXPECT_NE(err3.str().find("cannot write the input file to standard output"), std::string::npos);
}

// Sites of one partial occupancy accepted as whole atoms: one line for all.
TEST(Crystals, RepeatedWarningsAreGrouped) {
  std::string text = cif_text("quinacridone");
  for (const char* site : {"0.0847(2) 1", "0.0021(2) 1", "0.0385(2) 1"})
    text = replace_all(text, site, std::string(site).substr(0, 10) + "0.5");
  Result r = run_json(
      {write_temp_file("three-partial.cif", text), "-o", "/dev/null", "--ignore-occupancy"},
      "partial");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: 3 sites (C07, C09 and C10) have occupancy 0.5; taken as whole "
                       "atoms\n"),
            std::string::npos)
      << r.err;
  int lines = 0;
  for (const auto& w : r.json["warnings"])
    lines += w.get<std::string>().find("occupancy") != std::string::npos;
  EXPECT_EQ(lines, 1);
}
