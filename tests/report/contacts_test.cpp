#include "contacts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "report_runs.hpp"

namespace zelk8::report {
namespace {

using testing::example_input;
using testing::run_zelk8;

// The anthracene example with its last record (the map) replaced.
std::string anthracene_with_map(const std::string& map_record) {
  std::string input = example_input("anthracene");
  const std::size_t last = input.rfind('\n', input.size() - 2);
  return input.substr(0, last + 1) + map_record + "\n";
}

Report read(const std::string& text) {
  std::istringstream in(text);
  return read_report(in);
}

double bracket(double rho) { return 184000.0 * std::exp(-12.0 * rho) - 2.25 / std::pow(rho, 6); }

TEST(MapContacts, TheExp6MaximumIsWhereTheWallTurnsOver) {
  const double rho = exp6_maximum_rho();
  EXPECT_NEAR(rho, 0.30, 0.01);
  // A maximum: lower on both sides, and inside it the term falls below zero
  // (the artefact the overlap points exist for).
  EXPECT_GT(bracket(rho), bracket(rho - 1e-4));
  EXPECT_GT(bracket(rho), bracket(rho + 1e-4));
  EXPECT_LT(bracket(0.2), 0.0);
  EXPECT_GT(bracket(rho), 1000.0);
}

TEST(MapContacts, TheBundledStackingMapHasNoOverlapAndKeepsItsMinimum) {
  const Report report = read(run_zelk8(example_input("quinacridone"), ""));
  const MapContacts contacts = map_contacts(report);
  ASSERT_TRUE(contacts.checked) << contacts.note;
  EXPECT_EQ(contacts.overlap_points, 0u);
  ASSERT_EQ(contacts.shortest.size(), report.map->evdw.rows());
  ASSERT_EQ(contacts.shortest[0].size(), report.map->evdw.columns());
  // Every contact is at least the pair at the same atom, lifted by the height.
  for (const auto& row : contacts.shortest) {
    for (double r : row) EXPECT_GT(r, 1.0);
  }
  const auto low = lowest_clear_point(report.map->etot, contacts);
  ASSERT_TRUE(low.has_value());
  const MapMinimum& printed = report.map->etot_minimum;
  EXPECT_NEAR(low->energy, *printed.energy.value, 1e-9);
  EXPECT_NEAR(low->l, *printed.l.value, 1e-9);
  EXPECT_NEAR(low->s, *printed.s.value, 1e-9);
  EXPECT_FALSE(printed_minimum_is_overlap(printed, report.map->etot, contacts));
}

TEST(MapContacts, ACopySlidThroughTheMoleculeIsCaughtAndLeftOutOfTheMinimum) {
  // Height 0.1 A: at zero shift every atom sits 0.1 A above itself.
  const Report report =
      read(run_zelk8(anthracene_with_map("-14.0 14.0 2.00 -8.0  8.0 2.00  0.1  0.0  0.0"), ""));
  ASSERT_TRUE(report.map.has_value());
  const MapContacts contacts = map_contacts(report);
  ASSERT_TRUE(contacts.checked) << contacts.note;
  const MapTable& evdw = report.map->evdw;
  // Column of l = 0, row of s = 0.
  std::size_t zero_row = 0, zero_column = 0;
  for (std::size_t r = 0; r < evdw.rows(); ++r)
    if (evdw.s_shifts[r].text == "0.000") zero_row = r;
  for (std::size_t c = 0; c < evdw.columns(); ++c)
    if (evdw.l_shifts[c].text == "0.000") zero_column = c;
  EXPECT_NEAR(contacts.shortest[zero_row][zero_column], 0.1, 1e-6);
  EXPECT_TRUE(contacts.overlap[zero_row][zero_column]);
  EXPECT_GT(contacts.overlap_points, 0u);
  EXPECT_LT(contacts.overlap_points, evdw.rows() * evdw.columns());

  // Every point left in is a real contact: none closer than a third of the
  // shortest contact distance in the table (H...H, 2 x 1.62 A).
  const auto low = lowest_clear_point(evdw, contacts);
  if (low) {
    EXPECT_FALSE(contacts.overlap[low->row][low->column]);
    EXPECT_GT(contacts.shortest[low->row][low->column], exp6_maximum_rho() * 3.24 - 1e-9);
  }
  // The program printed the collapsed point's energy, far below any real well
  // (asterisks: it does not fit its field); the clear minimum is a real one.
  EXPECT_FALSE(report.map->evdw_minimum.energy.finite());
  ASSERT_TRUE(low.has_value());
  EXPECT_GT(low->energy, -100.0);
  // The program's own minimum is one of the collapsed points, and is named so.
  EXPECT_TRUE(printed_minimum_is_overlap(report.map->evdw_minimum, evdw, contacts));
}

TEST(MapContacts, NoPointBelowZeroMeansNoMinimumAndNoMapMeansNoCheck) {
  // The bundled anthracene map lies 2.53 A up: every grid point is repulsive,
  // so there is no minimum, and the printed 0.000 at 0, 0 names no grid point.
  const Report lifted = read(run_zelk8(example_input("anthracene"), ""));
  ASSERT_EQ(lifted.map->evdw_minimum.energy.text, "0.000");
  const MapContacts contacts = map_contacts(lifted);
  ASSERT_TRUE(contacts.checked);
  EXPECT_FALSE(lowest_clear_point(lifted.map->evdw, contacts).has_value());
  EXPECT_FALSE(printed_minimum_is_overlap(lifted.map->evdw_minimum, lifted.map->evdw, contacts));

  const Report nomap = read(run_zelk8(example_input("anthracene-nomap"), ""));
  const MapContacts none = map_contacts(nomap);
  EXPECT_FALSE(none.checked);
  EXPECT_FALSE(none.note.empty());
  EXPECT_EQ(none.overlap_points, 0u);
}

}  // namespace
}  // namespace zelk8::report

namespace zelk8::report {
namespace {

Field number(double value) { return parse_field(std::to_string(value)); }

// A report holding only what the contact check reads: random atoms of two
// element types and a grid of shifts in no particular order.
TEST(MapContacts, EveryGridPointAgreesWithTheSumOverEveryPair) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-4.0, 4.0), shift(-6.0, 6.0);
  for (int trial = 0; trial < 5; ++trial) {
    Report report;
    report.elements.rows = {ElementRow{"C", {}, {}, {}, number(0.2343), number(1.96)},
                            ElementRow{"H", {}, {}, {}, number(0.0837), number(1.62)}};
    for (int k = 0; k < 40; ++k) {
      FrameAtom atom;
      atom.element = number(k % 3 == 0 ? 2 : 1);
      atom.l = number(coordinate(random));
      atom.s = number(coordinate(random));
      atom.v = number(0.3 * coordinate(random));
      report.coordinates.push_back(atom);
    }
    report.map_height = number(trial * 0.8);
    ShiftMap map;
    for (int c = 0; c < 23; ++c) map.evdw.l_shifts.push_back(number(shift(random)));
    for (int r = 0; r < 17; ++r) map.evdw.s_shifts.push_back(number(shift(random)));
    report.map = map;

    const MapContacts contacts = map_contacts(report);
    ASSERT_TRUE(contacts.checked) << contacts.note;
    std::size_t overlaps = 0;
    for (std::size_t r = 0; r < 17; ++r) {
      for (std::size_t c = 0; c < 23; ++c) {
        const double l = *map.evdw.l_shifts[c].value, s = *map.evdw.s_shifts[r].value;
        double shortest = INFINITY;
        bool overlap = false;
        for (const FrameAtom& a : report.coordinates) {
          for (const FrameAtom& b : report.coordinates) {
            const double dl = *b.l.value + l - *a.l.value, ds = *b.s.value + s - *a.s.value,
                         dv = *b.v.value + *report.map_height->value - *a.v.value;
            const double d = std::sqrt(dl * dl + ds * ds + dv * dv);
            const double r0 =
                (*a.element.value == 1 ? 1.96 : 1.62) + (*b.element.value == 1 ? 1.96 : 1.62);
            shortest = std::min(shortest, d);
            overlap = overlap || d < exp6_maximum_rho() * r0;
          }
        }
        EXPECT_NEAR(contacts.shortest[r][c], shortest, 1e-9) << trial << " " << r << " " << c;
        EXPECT_EQ(contacts.overlap[r][c], overlap) << trial << " " << r << " " << c;
        overlaps += overlap;
      }
    }
    EXPECT_EQ(contacts.overlap_points, overlaps);
    if (trial == 0) EXPECT_GT(overlaps, 0u);  // the flat copy in the plane meets itself
  }
}

}  // namespace
}  // namespace zelk8::report
