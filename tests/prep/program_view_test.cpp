#include "program_view.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crystal.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;
namespace fs = std::filesystem;

// The centres the program's own report prints for every unit of the bundled
// inputs (column "X Y Z" of each unit block) and the charges of its
// Molecular Coordinates table sum to the view's.
TEST(ProgramView, CentresMatchTheProgramsReport) {
  for (const char* example : {"anthracene-nomap", "quinacridone"}) {
    const std::string input = slurp(source_path(std::string("examples/") + example + "/zelk8.dat"));
    zelk8::prep::ProgramView view = zelk8::prep::view_in_program(input);
    fs::path dir = fs::temp_directory_path() / (std::string("zelk8-prep-view-") + example);
    fs::create_directories(dir);
    std::ofstream(dir / "zelk8.dat") << input;
    const std::string command = "cd '" + dir.string() + "' && " ZELK8_BINARY " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << example;
    std::istringstream report(slurp((dir / "at8.dat").string()));
    std::string line;
    size_t unit = 0;
    while (std::getline(report, line)) {
      if (line.find("TH UNIT ") != 3) continue;
      ASSERT_LT(unit, view.unit_centres.size()) << example;
      char expected[64];
      const auto& c = view.unit_centres[unit];
      std::snprintf(expected, sizeof expected, "(%10.5f%10.5f%10.5f )", c[0], c[1], c[2]);
      EXPECT_EQ(line.substr(line.find('('), 33), expected) << example << " unit " << unit + 1;
      ++unit;
    }
    EXPECT_EQ(unit, view.unit_centres.size()) << example;
    EXPECT_NEAR(view.net_charge, 0.0, 1e-5) << example;
  }
}

TEST(ProgramView, ChargesFollowTheIncrements) {
  std::string input = slurp(source_path("examples/anthracene-nomap/zelk8.dat"));
  // Ten C-H bonds of anthracene, each giving the hydrogen +0.1: the molecule
  // stays neutral, the hydrogens carry +0.1 each.
  zelk8::prep::ProgramView view = zelk8::prep::view_in_program(input);
  ASSERT_EQ(view.charges.size(), 24u);
  for (size_t k = 14; k < 24; ++k) EXPECT_NEAR(view.charges[k], 0.1, 1e-6) << k;
  // A file the program refuses is an error that carries its diagnostic.
  EXPECT_THROW(zelk8::prep::view_in_program(input.substr(0, 200)), zelk8::prep::PrepError);
}

namespace {

using zelk8::prep::FramePoint;
using zelk8::prep::ProgramView;

// A view of a central molecule and its units, atoms given per unit.
ProgramView view_of(const std::vector<std::string>& symbols, const std::vector<FramePoint>& central,
                    const std::vector<std::vector<FramePoint>>& units) {
  ProgramView view;
  view.symbols = symbols;
  view.central_atoms = central;
  view.unit_atoms = units;
  for (const auto& atoms : units) {
    FramePoint c{0, 0, 0};
    for (const FramePoint& p : atoms)
      for (int i = 0; i < 3; ++i) c[i] += p[i] / static_cast<float>(atoms.size());
    view.unit_centres.push_back(c);
  }
  return view;
}

std::vector<FramePoint> moved(const std::vector<FramePoint>& atoms, float l, float s, float v) {
  std::vector<FramePoint> out;
  for (const FramePoint& p : atoms) out.push_back({p[0] + l, p[1] + s, p[2] + v});
  return out;
}

}  // namespace

// An O-H group and a C: contacts count between a hydrogen and an O, N or S
// by the atoms' own symbols, from either molecule, strictly below the limit.
TEST(ProgramView, HydrogenBondedUnitsByContact) {
  const std::vector<FramePoint> molecule{{0, 0, 0}, {0.96f, 0, 0}, {-1.4f, 0, 0}};
  const std::vector<std::string> symbols{"O", "H", "C"};
  const ProgramView view =
      view_of(symbols, molecule,
              {moved(molecule, 2.9f, 0, 0),     // H...O 1.94 A: bonded
               moved(molecule, 0, 3.0f, 0),     // O...O, H...H 3.0 A: not
               moved(molecule, -3.45f, 0, 0),   // its H 2.49 A from our O: bonded
               moved(molecule, 0, 0, 3.4f),     // stacked, H...O 3.53 A: not
               moved(molecule, 3.46f, 0, 0)});  // H...O exactly 2.50 A: not below
  std::vector<std::string> acceptors;
  EXPECT_EQ(zelk8::prep::hydrogen_bonded_units(view, 2.5, &acceptors), (std::vector<int>{1, 3}));
  EXPECT_EQ(acceptors, std::vector<std::string>{"O"});
  // Carbon is no acceptor: the same geometry with C in O's place bonds none.
  const ProgramView carbon = view_of({"C", "H", "C"}, molecule, view.unit_atoms);
  EXPECT_TRUE(zelk8::prep::hydrogen_bonded_units(carbon, 2.5).empty());
  // N and S are; a wider limit takes the stacked unit too.
  const ProgramView sulphur = view_of({"S", "H", "N"}, molecule, view.unit_atoms);
  acceptors.clear();
  EXPECT_EQ(zelk8::prep::hydrogen_bonded_units(sulphur, 3.6, &acceptors),
            (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(acceptors, (std::vector<std::string>{"S", "N"}));
}

TEST(ProgramView, DegenerateAxesWithinTheTolerance) {
  using zelk8::prep::degenerate_axes;
  for (const auto& [moments, expected] : {
           std::pair{std::array<double, 3>{33.4845, 33.4845, 33.4845}, "VL, VS and VV"},
           {std::array<double, 3>{45.8144, 45.8144, 45.7034}, "VL and VS"},  // 0.24 % apart
           {std::array<double, 3>{13.0, 5.0, 4.996}, "VS and VV"},
           {std::array<double, 3>{2.73, 0.0, 0.0}, "VS and VV"},  // a linear molecule
           // carbon dioxide: single-precision noise, 70 % apart but 1e-8 of VL
           {std::array<double, 3>{2.7298, 5.08465e-08, 1.52539e-08}, "VS and VV"},
           {std::array<double, 3>{100.0, 0.3, 0.05}, ""},
           {std::array<double, 3>{24.5377, 24.4538, 0.0008}, ""},  // 0.34 % apart
           {std::array<double, 3>{81.85, 42.22, 0.0005}, ""},
       })
    EXPECT_EQ(degenerate_axes(moments, 1e-3), expected) << moments[0] << " " << moments[2];
  EXPECT_EQ(degenerate_axes({24.5377, 24.4538, 0.0008}, 1e-2), "VL and VS");
}

// The stacking unit: the nearest translation of the first molecule that
// lies 3 A or more off along VV; rotations, the second molecule's images
// and flat translations are passed over, and the reason names them.
TEST(ProgramView, AutoStackTakesTheNearestFaceToFaceTranslation) {
  auto unit = [](const char* name, bool translation, bool second = false) {
    zelk8::prep::Unit u;
    u.name = name;
    u.translation = translation;
    u.second = second;
    return u;
  };
  ProgramView view;
  view.unit_centres = {{0, 5, 1}, {0.5f, 6, 2.53f}, {1, 1, -3.5f}, {0, 0, 4}, {2, 2, -3.1f}};
  const std::vector<zelk8::prep::Unit> units{unit("R01", false), unit("T02", true),
                                             unit("t03", true, true), unit("R04", false),
                                             unit("T05", true)};
  zelk8::prep::StackChoice choice = zelk8::prep::auto_stack(units, view, 3.0);
  EXPECT_EQ(choice.unit, 5);
  EXPECT_EQ(choice.reason,
            "T05, the nearest lattice translation 3.10 A off along VV (face to face); the nearer "
            "T02 is only 2.53 A off");
  choice = zelk8::prep::auto_stack(units, view, 3.2);
  EXPECT_EQ(choice.unit, 0);
  EXPECT_EQ(choice.reason,
            "no lattice translation among the units lies 3.20 A or more off along VV (the "
            "nearest, T02, 2.53 A): no face-to-face partner");
  choice = zelk8::prep::auto_stack({units[0], units[2], units[3]}, view, 3.0);
  EXPECT_EQ(choice.unit, 0);
  EXPECT_EQ(choice.reason, "no unit is a pure lattice translation");
}
