// What the report's numbers mean for the model: atom-atom contacts of the
// shift map's grid points and of the units, read back from a report alone.
//
// The exp-6 pair term eps * (184000 exp(-12 rho) - 2.25 / rho^6) has a
// maximum at a reduced distance rho of about 0.30 and falls towards minus
// infinity inside it. A grid point where two atoms come that close is an
// *overlap* point: its energy is an artefact of the functional form, not a
// result, and no companion shows it as a minimum or stretches a colour scale
// to it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "report.hpp"

namespace zelk8::report {

// An H...O, H...N or H...S contact shorter than this (Angstrom) marks a pair
// of molecules as hydrogen-bonded: the model has no hydrogen-bond term, and
// at such a contact its repulsive wall dominates the pair's energy.
inline constexpr double hbond_contact_max = 2.5;

// The reduced distance r / r0 at which the exp-6 term has its maximum
// (computed from the model's constants, about 0.303).
double exp6_maximum_rho();

// The shortest atom-atom contact of every grid point of the shift map: the
// central molecule (frame coordinates of the report) against its copy moved
// by (l, s, height). `overlap[row][column]` is true where some pair is closer
// than exp6_maximum_rho() times its contact distance R0(a) + R0(b).
struct MapContacts {
  std::vector<std::vector<double>> shortest;  // [row][column], Angstrom
  std::vector<std::vector<bool>> overlap;     // [row][column]
  std::size_t overlap_points = 0;
  bool checked = false;  // false when the report lacks what the check needs
  std::string note;      // why it could not be checked, when !checked
};

// Throws nothing; a report without a map gives empty tables and checked ==
// false with a note.
MapContacts map_contacts(const Report& report);

// The lowest energy of `table` over the grid points that are not overlap
// points, when it is below zero; nullopt otherwise (there is no minimum then,
// and nothing is to be printed in its place).
struct MapLow {
  std::size_t row = 0;
  std::size_t column = 0;
  double l = 0.0;
  double s = 0.0;
  double energy = 0.0;
};
std::optional<MapLow> lowest_clear_point(const MapTable& table, const MapContacts& contacts);

// Whether the minimum line the program printed names an overlap point (the
// first grid point, in scan order, at the printed shifts and energy).
bool printed_minimum_is_overlap(const MapMinimum& minimum, const MapTable& table,
                                const MapContacts& contacts);

}  // namespace zelk8::report
