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
