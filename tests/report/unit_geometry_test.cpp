// Units placed from a report alone, checked against what the program itself
// printed and wrote: the Molecular Coordinates, the unit centres and the
// neighbour molecules of coord.xyz.
#include "unit_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "contacts.hpp"
#include "report_runs.hpp"

namespace zelk8::report::testing {
namespace {

Report read_text_report(const std::string& text) {
  std::istringstream in(text);
  return read_report(in, "at8.dat");
}

// The run folder run_zelk8 used for this test (and tag).
fs::path run_folder(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return fs::path(::testing::TempDir()) / "report_runs" /
         (std::string(info->test_suite_name()) + "." + info->name() + tag);
}

// The atom lines of coord.xyz as numbers: symbol, VL, VS, VV.
struct XyzLine {
  std::string symbol;
  Point at;
};
std::vector<XyzLine> xyz_lines(const fs::path& path) {
  std::vector<XyzLine> out;
  const std::vector<std::string> lines = split_lines(read_text(path));
  for (std::size_t k = 2; k < lines.size(); ++k) {
    std::istringstream in(lines[k]);
    XyzLine line;
    if (in >> line.symbol >> line.at[0] >> line.at[1] >> line.at[2]) {
      out.push_back(line);
    }
  }
  return out;
}

TEST(UnitGeometry, PlacesTheCentralMoleculeAndEveryUnitAsTheProgramDid) {
  for (const std::string name : {"anthracene", "quinacridone"}) {
    SCOPED_TRACE(name);
    const Report report = read_text_report(run_zelk8(example_input(name), name));
    const std::vector<XyzLine> xyz = xyz_lines(run_folder(name) / "coord.xyz");
    const std::optional<MoleculeFrame> frame = molecule_frame(report);
    ASSERT_TRUE(frame.has_value());
    const std::size_t n = report.atoms.size();
    ASSERT_EQ(xyz.size(), n * (report.units.size() + 1));

    // The identity: the Molecular Coordinates, printed to five decimals.
    Unit identity;
    for (std::size_t k = 0; k < 12; ++k) {
      identity.operation[k] = parse_field(k % 4 == 0 && k < 9 ? "1" : "0");
    }
    const auto central = unit_atoms(report, *frame, identity);
    ASSERT_TRUE(central.has_value());
    for (std::size_t a = 0; a < n; ++a) {
      const FrameAtom& printed = report.coordinates[a];
      EXPECT_NEAR((*central)[a].frame[0], *printed.l.value, 2e-4) << printed.label;
      EXPECT_NEAR((*central)[a].frame[1], *printed.s.value, 2e-4) << printed.label;
      EXPECT_NEAR((*central)[a].frame[2], *printed.v.value, 2e-4) << printed.label;
    }
    // Each unit: its printed centre, and its atoms as coord.xyz holds them.
    for (std::size_t u = 0; u < report.units.size(); ++u) {
      const Unit& unit = report.units[u];
      SCOPED_TRACE(unit.name);
      const auto centre = unit_centre(*frame, unit);
      ASSERT_TRUE(centre.has_value());
      for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR((*centre)[k], *unit.centre[k].value, 2e-4);
      }
      const auto atoms = unit_atoms(report, *frame, unit);
      ASSERT_TRUE(atoms.has_value());
      for (std::size_t a = 0; a < n; ++a) {
        const XyzLine& line = xyz[(u + 1) * n + a];
        for (std::size_t k = 0; k < 3; ++k) {
          EXPECT_NEAR((*atoms)[a].frame[k], line.at[k], 2e-4) << report.atoms[a].label;
        }
      }
    }
  }
}

// The hydrogen bonds found from the report, against a search of every
// H...O/N/S pair in coord.xyz.
TEST(UnitGeometry, HydrogenBondedUnitsAreThoseWithAShortContact) {
  const Report report = read_text_report(run_zelk8(example_input("quinacridone"), ""));
  const std::vector<XyzLine> xyz = xyz_lines(run_folder("") / "coord.xyz");
  const std::size_t n = report.atoms.size();
  const std::vector<UnitHbond> found = hbond_contacts(report);
  ASSERT_EQ(found.size(), report.units.size());
  std::size_t bonded = 0;
  for (std::size_t u = 0; u < found.size(); ++u) {
    SCOPED_TRACE(report.units[u].name);
    EXPECT_TRUE(found[u].checked) << found[u].note;
    double shortest = 1e9;
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < n; ++b) {
        const std::string& sa = xyz[a].symbol;
        const std::string& sb = xyz[(u + 1) * n + b].symbol;
        if ((sa == "H" && (sb == "O" || sb == "N")) || (sb == "H" && (sa == "O" || sa == "N"))) {
          const Point& p = xyz[a].at;
          const Point& q = xyz[(u + 1) * n + b].at;
          shortest = std::min(shortest, std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
        }
      }
    }
    ASSERT_EQ(found[u].contact.has_value(), shortest < hbond_contact_max) << shortest;
    if (found[u].contact) {
      ++bonded;
      EXPECT_NEAR(found[u].contact->distance, shortest, 1e-3);
      const std::string& sa = report.atoms[found[u].contact->central_atom].symbol;
      const std::string& sb = report.atoms[found[u].contact->unit_atom].symbol;
      EXPECT_NE(is_hydrogen(sa), is_hydrogen(sb)) << sa << "..." << sb;
    }
  }
  // The N-H...O chains of the crystal: one partner on each side.
  EXPECT_EQ(bonded, 2u);
  // A hydrocarbon has none.
  for (const UnitHbond& u :
       hbond_contacts(read_text_report(run_zelk8(example_input("anthracene"), "a")))) {
    EXPECT_TRUE(u.checked);
    EXPECT_FALSE(u.contact.has_value());
  }
}

TEST(UnitGeometry, UnitsThatCannotBePlacedSayWhy) {
  Report report = read_text_report(run_zelk8(example_input("quinacridone"), ""));
  ASSERT_GE(report.units.size(), 5u);
  report.units[1].operation[10] = parse_field("**********");
  report.units[2].centre[0] = parse_field("9.99999");  // not where its operation puts it
  report.units[3].operation[0] = parse_field("5.0");   // the second atom set from here on
  const std::vector<UnitHbond> found = hbond_contacts(report);
  EXPECT_TRUE(found[0].checked);
  EXPECT_NE(found[1].note.find("off-scale"), std::string::npos);
  EXPECT_NE(found[2].note.find("centre"), std::string::npos);
  for (std::size_t u = 3; u < found.size(); ++u) {
    EXPECT_FALSE(found[u].checked);
    EXPECT_NE(found[u].note.find("second atom set"), std::string::npos);
  }
  report.transfer_matrix.t22 = parse_field("NaN");
  for (const UnitHbond& u : hbond_contacts(report)) {
    EXPECT_FALSE(u.checked);
    EXPECT_FALSE(u.note.empty());
  }
  EXPECT_TRUE(is_hydrogen("D"));
  EXPECT_TRUE(is_hbond_acceptor("s"));
  EXPECT_FALSE(is_hbond_acceptor("Si"));
  EXPECT_FALSE(is_hydrogen("Hg"));
}

}  // namespace
}  // namespace zelk8::report::testing
