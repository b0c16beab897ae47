// The energy framework against the report itself (each unit's printed centre)
// and against a brute-force count: every molecule of the crystal's own
// symmetry in the block, every pair of them tried against every unit.
#include "framework.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zelk8::view {
namespace {

namespace fs = std::filesystem;

report::Report run_example(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("zelk8-framework-" + std::to_string(::getpid())) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(fs::path(ZELK8_SOURCE_DIR) / "examples" / name / "zelk8.dat", dir / "zelk8.dat");
  const std::string command = "cd '" + dir.string() + "' && '" ZELK8_BINARY "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return report::read_report_file(dir / "at8.dat");
}

Operation op(Mat3 rotation, Vec3 translation) { return Operation{rotation, translation}; }

// The operations of the CIFs in examples/cif.
const std::vector<Operation> p21_a = {  // anthracene
    op({{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0, 0, 0}),
    op({{{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}}, {0.5, 0.5, 0}),
    op({{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}, {0, 0, 0}),
    op({{{1, 0, 0}, {0, -1, 0}, {0, 0, 1}}}, {0.5, 0.5, 0})};
const std::vector<Operation> p21_c = {  // quinacridone
    op({{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0, 0, 0}),
    op({{{1, 0, 0}, {0, -1, 0}, {0, 0, 1}}}, {0, 0.5, 0.5}),
    op({{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}, {0, 0, 0}),
    op({{{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}}, {0, -0.5, -0.5})};

Vec3 cartesian(const Framework& fw, const Vec3& f) {
  Vec3 out{};
  for (int axis = 0; axis < 3; ++axis) {
    for (int k = 0; k < 3; ++k) {
      out[k] += fw.cell[axis][k] * f[axis];
    }
  }
  return out;
}

double distance(const Vec3& a, const Vec3& b) {
  return std::sqrt(((a[0] - b[0]) * (a[0] - b[0])) + ((a[1] - b[1]) * (a[1] - b[1])) +
                   ((a[2] - b[2]) * (a[2] - b[2])));
}

// x such that o(x) = y, by solving with Cramer's rule.
Vec3 undo(const Operation& o, const Vec3& y) {
  const Vec3 d{y[0] - o.translation[0], y[1] - o.translation[1], y[2] - o.translation[2]};
  const Mat3& m = o.rotation;
  auto det = [](const Mat3& a) {
    return (a[0][0] * ((a[1][1] * a[2][2]) - (a[1][2] * a[2][1]))) -
           (a[0][1] * ((a[1][0] * a[2][2]) - (a[1][2] * a[2][0]))) +
           (a[0][2] * ((a[1][0] * a[2][1]) - (a[1][1] * a[2][0])));
  };
  Vec3 x{};
  for (int c = 0; c < 3; ++c) {
    Mat3 replaced = m;
    for (int r = 0; r < 3; ++r) {
      replaced[r][c] = d[r];
    }
    x[c] = det(replaced) / det(m);
  }
  return x;
}

struct Brute {
  std::size_t molecules = 0;
  std::size_t pairs = 0;
};

// Every image of the central molecule under the crystal's operations and
// lattice translations inside the block, and every pair of them whose one
// end, taken back to the central molecule, sees the other where a unit is.
Brute brute_force(const report::Report& report, const Framework& fw,
                  const std::vector<Operation>& symmetry, int cells) {
  struct Molecule {
    Operation placed;
    Vec3 f;
  };
  std::vector<Molecule> molecules;
  for (const Operation& s : symmetry) {
    for (int i = -6; i <= 6; ++i) {
      for (int j = -6; j <= 6; ++j) {
        for (int k = -6; k <= 6; ++k) {
          Operation placed = s;
          placed.translation = {s.translation[0] + i, s.translation[1] + j, s.translation[2] + k};
          const Vec3 f = placed.apply(fw.centre);
          bool inside = true;
          for (int axis = 0; axis < 3; ++axis) {
            const double first = std::floor(fw.centre[axis] - (cells / 2.0) + 0.5);
            inside = inside && f[axis] > first - 1e-4 && f[axis] < first + cells + 1e-4;
          }
          bool known = false;
          for (const Molecule& m : molecules) {
            known = known || distance(m.f, f) < 1e-3;
          }
          if (inside && !known) {
            molecules.push_back({placed, f});
          }
        }
      }
    }
  }
  std::vector<Vec3> partners;
  for (const report::Unit& unit : report.units) {
    const std::optional<Operation> g = unit_operation(unit);
    partners.push_back(g ? g->apply(fw.centre) : Vec3{1e9, 1e9, 1e9});
  }
  Brute out;
  out.molecules = molecules.size();
  for (std::size_t p = 0; p < molecules.size(); ++p) {
    for (std::size_t q = p + 1; q < molecules.size(); ++q) {
      const Vec3 seen_from_p = undo(molecules[p].placed, molecules[q].f);
      const Vec3 seen_from_q = undo(molecules[q].placed, molecules[p].f);
      for (const Vec3& partner : partners) {
        if (distance(partner, seen_from_p) < 1e-3 || distance(partner, seen_from_q) < 1e-3) {
          ++out.pairs;
          break;
        }
      }
    }
  }
  return out;
}

Brute in_block(const Framework& fw, int cells) {
  auto inside = [&](std::size_t m) {
    for (int axis = 0; axis < 3; ++axis) {
      const auto [first, last] = fw.blocks[axis][cells - 1];
      const double f = fw.molecules[m].fractional[axis];
      if (f < first - 1e-4 || f > last + 1e-4) {
        return false;
      }
    }
    return true;
  };
  Brute out;
  for (std::size_t m = 0; m < fw.molecules.size(); ++m) {
    out.molecules += inside(m) ? 1 : 0;
  }
  for (const FrameworkPair& p : fw.pairs) {
    out.pairs += inside(p.first) && inside(p.second) ? 1 : 0;
  }
  return out;
}

TEST(Framework, UnitsLandWhereTheReportPutsTheirCentres) {
  for (const std::string name : {"anthracene", "quinacridone"}) {
    const report::Report report = run_example(name);
    const Framework fw = build_framework(report);
    ASSERT_TRUE(fw.unavailable.empty()) << fw.unavailable;
    const report::Orientation& o = report.orientation;
    for (const report::Unit& unit : report.units) {
      const std::optional<Operation> g = unit_operation(unit);
      ASSERT_TRUE(g);
      const Vec3 d = cartesian(fw, g->apply(fw.centre));
      const Vec3 c = cartesian(fw, fw.centre);
      int k = 0;
      for (const report::Axis* axis : {&o.vl, &o.vs, &o.vv}) {
        double along = 0.0;
        for (int x = 0; x < 3; ++x) {
          along += (d[x] - c[x]) * *axis->direction[x].value;
        }
        EXPECT_NEAR(along, *unit.centre[k++].value, 3e-3) << name << " unit " << unit.name;
      }
    }
  }
}

TEST(Framework, PairsMatchABruteForceCountOverTheCrystalsSymmetry) {
  const report::Report anthracene = run_example("anthracene");
  const Framework fw = build_framework(anthracene);
  ASSERT_TRUE(fw.unavailable.empty()) << fw.unavailable;
  // Two molecules per cell, reached by the units' screw operations.
  EXPECT_EQ(fw.molecules_per_cell, 2u);
  EXPECT_EQ(fw.molecules.front().fractional, fw.centre);
  for (int cells = 1; cells <= largest_block; ++cells) {
    const Brute brute = brute_force(anthracene, fw, p21_a, cells);
    const Brute drawn = in_block(fw, cells);
    EXPECT_EQ(drawn.molecules, brute.molecules) << cells << " cells";
    EXPECT_EQ(drawn.pairs, brute.pairs) << cells << " cells";
    EXPECT_GT(brute.pairs, 0u);
  }
  // Each pair carries the energy of a unit whose partner lies at the pair's distance.
  for (const FrameworkPair& p : fw.pairs) {
    EXPECT_NEAR(p.distance, *anthracene.units[p.unit].centre_distance.value, 2e-3);
  }
}

TEST(Framework, CrystalSymmetryAddsTheMoleculesNoUnitReaches) {
  // The quinacridone run lists translations only: one molecule per cell
  // without the crystal's operations, both with them.
  const report::Report quinacridone = run_example("quinacridone");
  const Framework alone = build_framework(quinacridone);
  const Framework full = build_framework(quinacridone, p21_c);
  ASSERT_TRUE(alone.unavailable.empty() && full.unavailable.empty());
  EXPECT_EQ(alone.molecules_per_cell, 1u);
  EXPECT_EQ(full.molecules_per_cell, 2u);
  EXPECT_FALSE(alone.crystal_symmetry);
  EXPECT_TRUE(full.crystal_symmetry);
  for (int cells : {2, 3}) {
    const Brute brute = brute_force(quinacridone, full, p21_c, cells);
    const Brute drawn = in_block(full, cells);
    EXPECT_EQ(drawn.molecules, brute.molecules) << cells << " cells";
    EXPECT_EQ(drawn.pairs, brute.pairs) << cells << " cells";
    EXPECT_GT(drawn.pairs, in_block(alone, cells).pairs);
  }
}

TEST(Framework, UnitsOutsideTheCrystalsSymmetryAreNamed) {
  report::Report anthracene = run_example("anthracene");
  EXPECT_TRUE(units_outside(anthracene, p21_a).empty());
  // The quinacridone CIF's glide moves along c, anthracene's along a and b.
  EXPECT_FALSE(units_outside(anthracene, p21_c).empty());
  // A mirror without the glide's half translations is not in P2(1)/a.
  const std::vector<std::string> mirror = {"1.0", "0.0", "0.0", "0.0", "-1.0", "0.0",
                                           "0.0", "0.0", "1.0", "0.0", "0.0",  "0.0"};
  for (std::size_t k = 0; k < 12; ++k) {
    anthracene.units[2].operation[k] = report::parse_field(mirror[k]);
  }
  EXPECT_EQ(units_outside(anthracene, p21_a), std::vector<std::size_t>{2});
}

TEST(Framework, BlocksHoldTheirCentreAndTheirCellCount) {
  for (double centre : {-1.7, -0.5, -0.25, 0.0, 0.25, 0.4999, 0.5, 0.75, 1.0, 2.3}) {
    for (int cells = 1; cells <= largest_block; ++cells) {
      const auto [first, last] = block_cells(centre, cells);
      EXPECT_EQ(last - first, cells);
      // Inside, and as even around the centre as whole cells allow.
      EXPECT_TRUE(first <= centre && centre <= last) << centre << " " << cells;
      EXPECT_LE(std::abs(((first + last) / 2.0) - centre), 0.5) << centre << " " << cells;
    }
  }
}

TEST(Framework, RefusesWhatItCannotDrawAndSaysWhy) {
  report::Report two_sets = run_example("anthracene");
  const std::vector<std::string> marker = {"5.0", "0.0", "0.0", "0.0", "0.0", "0.0",
                                           "0.0", "0.0", "0.0", "0.0", "0.0", "0.0"};
  for (std::size_t k = 0; k < 12; ++k) {
    two_sets.units.back().operation[k] = report::parse_field(marker[k]);
  }
  const Framework fw = build_framework(two_sets);
  EXPECT_NE(fw.unavailable.find("two atom sets"), std::string::npos) << fw.unavailable;
  EXPECT_EQ(framework_data(fw, two_sets)["available"], false);

  report::Report odd = run_example("anthracene");
  odd.transfer_matrix.t22 = report::parse_field("*********");
  EXPECT_NE(build_framework(odd).unavailable.find("*********"), std::string::npos);

  // An operation that is no crystal symmetry is left out, named, not followed.
  report::Report skewed = run_example("anthracene");
  skewed.units[0].operation[1] = report::parse_field("0.5");
  const Framework without = build_framework(skewed);
  ASSERT_TRUE(without.unavailable.empty());
  ASSERT_EQ(without.skipped_units.size(), 1u);
  EXPECT_EQ(without.skipped_units[0], 0u);
  for (const FrameworkPair& p : without.pairs) {
    EXPECT_NE(p.unit, 0u);
  }
}

// The JSON's whole molecules: each pair's two molecules, built from the
// central one's atoms by their rotation and position, come as close as the
// report's d shortest of the pair's unit.
TEST(FrameworkData, WholeMoleculesTouchAsTheirUnitsDo) {
  const report::Report anthracene = run_example("anthracene");
  const nlohmann::json data = framework_data(build_framework(anthracene), anthracene);
  ASSERT_EQ(data["available"], true);
  ASSERT_EQ(data["atoms"].size(), anthracene.atoms.size());
  auto atoms_of = [&](std::size_t m) {
    const nlohmann::json& molecule = data["molecules"][m];
    std::vector<Vec3> out;
    for (const nlohmann::json& atom : data["atoms"]) {
      Vec3 p{};
      for (int r = 0; r < 3; ++r) {
        p[r] = molecule["position"][r].get<double>();
        for (int c = 0; c < 3; ++c) {
          p[r] +=
              molecule["rotation"][(r * 3) + c].get<double>() * atom["position"][c].get<double>();
        }
      }
      out.push_back(p);
    }
    return out;
  };
  std::size_t checked = 0;
  // A pair is [first, second, unit, distance between the centres].
  for (const nlohmann::json& pair : data["pairs"]) {
    ASSERT_EQ(pair.size(), 4u);
    const std::size_t first = pair[0];
    const std::size_t second = pair[1];
    const std::size_t unit = pair[2];
    ASSERT_LT(unit, anthracene.units.size());
    Vec3 a{};
    Vec3 b{};
    for (int r = 0; r < 3; ++r) {
      a[r] = data["molecules"][first]["position"][r].get<double>();
      b[r] = data["molecules"][second]["position"][r].get<double>();
    }
    EXPECT_NEAR(pair[3].get<double>(), distance(a, b), 1e-9);
    EXPECT_NEAR(pair[3].get<double>(), *anthracene.units[unit].centre_distance.value, 2e-3);
    if (checked++ % 7 != 0) {
      continue;  // a sample keeps the test quick
    }
    double shortest = 1e9;
    for (const Vec3& p : atoms_of(first)) {
      for (const Vec3& q : atoms_of(second)) {
        shortest = std::min(shortest, distance(p, q));
      }
    }
    EXPECT_NEAR(shortest, *anthracene.units[unit].shortest_distance.value, 2e-3)
        << "unit " << anthracene.units[unit].name;
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace zelk8::view

#ifdef ZELK8_VIEW_CIF
namespace zelk8::view {
namespace {

// zelk8-view --cif: the CIF the input was made from adds the molecules no
// unit reaches; a CIF of another crystal, or no CIF, is refused with status 2.
TEST(FrameworkTool, TakesTheCrystalsOwnOperationsFromItsCif) {
  run_example("quinacridone");
  const fs::path dir = fs::temp_directory_path() /
                       ("zelk8-framework-" + std::to_string(::getpid())) / "quinacridone";
  const fs::path cifs = fs::path(ZELK8_SOURCE_DIR) / "examples" / "cif";
  auto view = [&](const std::string& cif) {
    const std::string command = "'" ZELK8_VIEW_BINARY "' '" + dir.string() + "' -o '" +
                                (dir / "page.html").string() + "' --json '" +
                                (dir / "page.json").string() + "' --cif '" + cif + "' 2>'" +
                                (dir / "errors.txt").string() + "'";
    const int status = std::system(command.c_str());
    std::ifstream in(dir / "errors.txt");
    std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, errors};
  };
  const auto [ok, quiet] = view((cifs / "quinacridone.cif").string());
  ASSERT_EQ(ok, 0) << quiet;
  std::ifstream in(dir / "page.json");
  const nlohmann::json data = nlohmann::json::parse(in)["framework"];
  EXPECT_EQ(data["crystal_symmetry"], true);
  EXPECT_EQ(data["molecules_per_cell"], 2);

  const std::string other = (cifs / "anthracene.cif").string();
  const auto [status, errors] = view(other);
  EXPECT_EQ(status, 2);
  EXPECT_NE(errors.find(other), std::string::npos) << errors;
  EXPECT_NE(errors.find("--cif"), std::string::npos) << errors;

  const std::string not_a_cif = (dir / "at8.dat").string();
  const auto [bad, why] = view(not_a_cif);
  EXPECT_EQ(bad, 2);
  EXPECT_NE(why.find(not_a_cif), std::string::npos) << why;
}

}  // namespace
}  // namespace zelk8::view
#endif
