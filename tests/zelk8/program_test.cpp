// The program as a library: the texts of run_text against the files of the
// executable, and its typed results against the report it printed.
#include "program.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "report.hpp"
#include "run_helpers.hpp"

namespace zelk8::testing {
namespace {

// The anthracene example with a second atom set (the first set moved by half
// a cell along a) placed by a marker unit, which then stacks.
std::string with_second_set() {
  const std::vector<std::string> lines = lines_of(example_input("anthracene"));
  std::string text;
  std::size_t i = 0;
  std::vector<std::string> atoms;
  for (; lines[i] != "   0"; ++i) {
    text += lines[i] + "\n";
    if (i > 0) atoms.push_back(lines[i]);
  }
  text += "  -1\n";
  for (const std::string& atom : atoms) {
    char x[16];
    std::snprintf(x, sizeof x, "%10.5f", std::stod(atom.substr(5, 10)) + 0.5);
    text += atom.substr(0, 5) + x + atom.substr(15) + "\n";
  }
  for (++i; lines[i] != " 99.0"; ++i) text += lines[i] + "\n";
  text += "  5.0  0.0  0.0  0.0  1.0  0.0  0.0  0.0  1.0  0.0  0.0  0.0M15\n 99.0\n";
  text += "   15   0.10000   0.00000   0.00000   0.00000\n";
  text += " -1.0  1.0 0.50 -1.0  1.0 0.50  0.0  0.0  0.0\n";
  return text;
}

struct Case {
  std::string name;
  std::string input;
  int status = 0;  // the executable's
};

std::vector<Case> cases() {
  std::vector<Case> list;
  for (const char* name :
       {"anthracene", "anthracene-nomap", "anthracene-scan", "naphthalene", "quinacridone"})
    list.push_back({name, example_input(name)});
  list.push_back({"second set", with_second_set()});
  const std::vector<std::string> lines = lines_of(example_input("anthracene"));
  // Cut short in the element records, in the unit list and before the map.
  for (std::size_t keep : {std::size_t{26}, std::size_t{31}, lines.size() - 1}) {
    std::string text;
    for (std::size_t i = 0; i < keep; ++i) text += lines[i] + "\n";
    list.push_back({"cut after line " + std::to_string(keep), text, 2});
  }
  list.push_back({"a letter in the cell record",
                  [&] {
                    std::string text = example_input("anthracene");
                    text.replace(text.find("8.5620"), 1, "o");
                    return text;
                  }(),
                  2});
  return list;
}

TEST(Program, TheTextsAreTheFilesOfTheExecutable) {
  const std::vector<Case> all = cases();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Case& c = all[i];
    const RunResult files = run_program(c.input, "-" + std::to_string(i));
    EXPECT_EQ(files.status, c.status) << c.name << ": " << files.err;
    for (int threads : {1, 2}) {
      const zelk8::RunResult memory = run_text(c.input, threads);
      EXPECT_EQ(memory.status, files.status) << c.name;
      EXPECT_EQ(memory.status == 0 ? "" : "zelk8: " + memory.diagnostic + "\n", files.err)
          << c.name;
      EXPECT_EQ(memory.at8, files.report) << c.name;
      EXPECT_EQ(memory.mopac.has_value(), files.has_mopac) << c.name;
      EXPECT_EQ(memory.mopac.value_or(""), files.mopac) << c.name;
      EXPECT_EQ(memory.coord.has_value(), files.has_coord) << c.name;
      EXPECT_EQ(memory.coord.value_or(""), files.coord) << c.name;
    }
  }
}

// A value printed under Fw.d, read back, is within half a unit of its last
// decimal of the value computed.
void expect_printed(const report::Field& printed, float computed, int decimals,
                    const std::string& what) {
  ASSERT_TRUE(printed.finite()) << what << ": " << printed.text;
  EXPECT_LE(std::abs(*printed.value - computed), 0.5 * std::pow(10.0, -decimals) * 1.0001)
      << what << ": printed " << printed.text << ", computed " << computed;
}

TEST(Program, TheTypedResultsAreWhatTheReportPrints) {
  for (const char* name : {"anthracene", "quinacridone"}) {
    const zelk8::RunResult run = run_text(example_input(name));
    ASSERT_EQ(run.status, 0) << run.diagnostic;
    std::istringstream in(run.at8);
    const report::Report printed = report::read_report(in);

    ASSERT_TRUE(run.frame.has_value());
    ASSERT_EQ(run.frame->l.size(), printed.coordinates.size());
    for (std::size_t k = 0; k < printed.coordinates.size(); ++k) {
      expect_printed(printed.coordinates[k].l, run.frame->l[k], 5, "l");
      expect_printed(printed.coordinates[k].v, run.frame->v[k], 5, "v");
      expect_printed(printed.coordinates[k].charge, run.frame->charge[k], 5, "charge");
    }
    ASSERT_EQ(run.units.size(), printed.units.size()) << name;
    for (std::size_t u = 0; u < run.units.size(); ++u) {
      const PlacedUnit& unit = run.units[u];
      const report::Unit& line = printed.units[u];
      EXPECT_EQ(unit.number, static_cast<int>(u) + 1);
      expect_printed(line.shortest_distance, unit.shortest, 5, "d shortest");
      expect_printed(line.centre[2], unit.centre[2], 5, "centre v");
      expect_printed(line.dihedral_angle, unit.dihedral, 5, "dihedral");
      expect_printed(line.etot, unit.etot, 4, "Etot");
      // The atoms are placed where the report's distances say: the shortest
      // contact with the central molecule and the mean of the atoms.
      float shortest = INFINITY;
      double mean_v = 0.0;
      for (std::size_t a = 0; a < unit.l.size(); ++a) {
        mean_v += unit.v[a];
        for (std::size_t b = 0; b < run.frame->l.size(); ++b) {
          const float dl = unit.l[a] - run.frame->l[b], ds = unit.s[a] - run.frame->s[b],
                      dv = unit.v[a] - run.frame->v[b];
          shortest = std::min(shortest, std::sqrt(dl * dl + ds * ds + dv * dv));
        }
      }
      EXPECT_NEAR(shortest, unit.shortest, 1e-4) << name << " unit " << u + 1;
      EXPECT_NEAR(mean_v / unit.v.size(), unit.centre[2], 1e-3) << name << " unit " << u + 1;
    }
    expect_printed(*printed.lattice_etot, *run.lattice_etot, 5, "lattice sum");
    ASSERT_TRUE(run.map.has_value());
    expect_printed(*printed.map_height, *run.map_height, 5, "height");
    expect_printed(printed.map->etot_minimum.energy, run.map->min_etot, 3, "Etot minimum");
    EXPECT_EQ(static_cast<std::size_t>(run.map->grid.columns), printed.map->evdw.columns());
  }
}

TEST(Program, ARunStopsWhereTheInputStops) {
  const zelk8::RunResult nomap = run_text(example_input("anthracene-nomap"));
  EXPECT_EQ(nomap.status, 0);
  EXPECT_EQ(nomap.units.size(), 14u);
  EXPECT_FALSE(nomap.map.has_value());
  EXPECT_FALSE(nomap.coord.has_value());

  // Cut in the unit list: the frame is there, no unit and no mopac.dat is lost.
  const std::vector<std::string> lines = lines_of(example_input("anthracene"));
  std::string cut;
  for (std::size_t i = 0; i < 31; ++i) cut += lines[i] + "\n";
  const zelk8::RunResult run = run_text(cut);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.diagnostic.find("zelk8.dat line"), std::string::npos) << run.diagnostic;
  EXPECT_TRUE(run.mopac.has_value());
  EXPECT_FALSE(run.frame.has_value());
  EXPECT_TRUE(run.units.empty());
  EXPECT_FALSE(run.lattice_etot.has_value());
}

}  // namespace
}  // namespace zelk8::testing
