// Two molecules in the asymmetric unit: the second as the program's second
// atom set, placed by the marker unit, and the images of both as units.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "crystal.hpp"
#include "molecule.hpp"
#include "prep.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;
namespace fs = std::filesystem;

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

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string pair_cif = source_path("tests/prep/cif/acetylene-pair.cif");

}  // namespace

TEST(SecondMolecule, AtomsCorrespondByBonds) {
  zelk8::prep::Crystal c = zelk8::prep::read_crystal(pair_cif);
  zelk8::prep::Molecule a = zelk8::prep::build_molecule(c, {});
  zelk8::prep::MoleculeOptions second;
  second.number = 2;
  zelk8::prep::Molecule b = zelk8::prep::build_molecule(c, second);
  ASSERT_EQ(a.molecule_count, 2);
  auto order = zelk8::prep::corresponding_atoms(c.cell, a, b, 0.4);
  ASSERT_TRUE(order);
  // Atom k of the first and its counterpart in the second have the same
  // element, and each hydrogen's counterpart is bonded to its carbon's.
  for (size_t k = 0; k < a.atoms.size(); ++k)
    EXPECT_EQ(b.atoms[(*order)[k]].element.name(), std::string(a.atoms[k].element.name()));
  for (size_t h : {2u, 3u}) {
    const size_t carbon = h - 2;  // C1-H1, C2-H2
    const auto d = c.cell.orthogonalize_difference(b.atoms[(*order)[h]].fract -
                                                   b.atoms[(*order)[carbon]].fract);
    EXPECT_NEAR(d.length(), 1.06, 0.001) << h;
  }
  // A molecule with other bonds has no counterpart.
  zelk8::prep::Crystal bent = zelk8::prep::read_crystal_text(
      replace_all(slurp(pair_cif), "H4 H 0.5 0.77667 0.75", "H4 H 0.5 0.22333 0.9"), "bent.cif");
  zelk8::prep::Molecule b2 = zelk8::prep::build_molecule(bent, second);
  EXPECT_FALSE(zelk8::prep::corresponding_atoms(bent.cell, a, b2, 0.4));
}

// The file runs, and the program's own distances of every unit (d center)
// are the ones the summary gives: the marker places the second molecule,
// and every later operation moves it.
TEST(SecondMolecule, WrittenAsTheSecondAtomSetAndRunByTheProgram) {
  const fs::path dir = fs::temp_directory_path() / "zelk8-prep-pair";
  fs::remove_all(dir);
  fs::create_directories(dir);
  Result r = run({pair_cif, "-o", (dir / "zelk8.dat").string(), "--json",
                  (dir / "prep.json").string(), "--no-map"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> input = lines_of(slurp((dir / "zelk8.dat").string()));
  EXPECT_EQ(input[5], "  -1");
  EXPECT_EQ(input[6], "   1    0.50000   0.40000  -0.25000    C1   C");
  EXPECT_EQ(input[8], "   2    0.50000   0.22333  -0.25000    H1   H");
  nlohmann::json j = nlohmann::json::parse(slurp((dir / "prep.json").string()));
  EXPECT_EQ(j["z_prime_written"], 2);
  EXPECT_EQ(j["molecules_in_asymmetric_unit"], 2);
  ASSERT_EQ(j["units"].size(), 20u);
  // First the images of the first molecule, then the marker, then the
  // second's; the nearest 20 of all together.
  int molecule = 1;
  bool marker_seen = false;
  for (const auto& unit : j["units"]) {
    EXPECT_GE(unit["molecule"].get<int>(), molecule);
    molecule = unit["molecule"];
    if (unit["name"].get<std::string>()[0] == 'M') marker_seen = true;
    EXPECT_LE(unit["rank"].get<int>(), 20);
  }
  EXPECT_TRUE(marker_seen);
  EXPECT_NE(r.err.find("    M01    4.0000 A   the second molecule as written\n"), std::string::npos)
      << r.err;

  const std::string command = "cd '" + dir.string() + "' && " ZELK8_BINARY " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  size_t unit = 0;
  for (const std::string& line : lines_of(slurp((dir / "at8.dat").string()))) {
    if (line.find("TH UNIT ") != 3) continue;
    ASSERT_LT(unit, j["units"].size());
    EXPECT_EQ(line.substr(11, 4), j["units"][unit]["name"].get<std::string>() + " ");
    EXPECT_NEAR(std::stod(line.substr(25, 10)), j["units"][unit]["distance"].get<double>(), 1e-4)
        << line;
    ++unit;
  }
  EXPECT_EQ(unit, 20u);
}

TEST(SecondMolecule, SingleAndOtherCompositionsWriteOneMolecule) {
  Result single = run({pair_cif, "--single", "--no-map"});
  ASSERT_EQ(single.status, 0) << single.err;
  EXPECT_EQ(single.out.find("  -1\n"), std::string::npos);
  EXPECT_EQ(single.out.find("M0"), std::string::npos);
  // A linear molecule: only the axis along it means anything.
  EXPECT_NE(single.err.find("warning: the molecule's principal moments along VS and VV are equal"),
            std::string::npos)
      << single.err;
  // The first molecule's images are those of a file without the second.
  std::string alone_cif = without_lines(slurp(pair_cif), " 0.75\n");
  for (const char* label : {"H4 H", "C3 C", "H3 H", "C4 C"})
    alone_cif = without_lines(alone_cif, label);
  Result alone = run({write_temp_file("alone.cif", alone_cif), "--no-map"});
  EXPECT_EQ(single.out, alone.out);

  // A second molecule of another composition: one molecule, with a warning.
  Result other = run(
      {write_temp_file("other.cif", replace_all(slurp(pair_cif), "H4 H 0.5 0.77667 0.75\n", "")),
       "--no-map"});
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(other.out.find("  -1\n"), std::string::npos);
  EXPECT_NE(
      other.err.find("warning: the asymmetric unit holds 2 molecules that differ (C2 H2; "
                     "C2 H); only molecule 1's neighbours are written (--molecule N chooses)"),
      std::string::npos)
      << other.err;
}
