// The shift map's ranges: how many points the program scans, and the
// default map around the stacking partner.
#pragma once

#include <array>

namespace zelk8::prep {

// The program scans at most this many points along each axis.
constexpr int max_map_points = 100;

// The points along one axis as the program counts them: from the start, the
// step added in single precision after each point, up to the first point at
// or beyond the end (a count above max_map_points is returned as such, up
// to 100000).
int scan_points(double start, double end, double step);

// The smallest step in thousandths of an Angstrom that scans start..end in
// at most max_map_points points.
double fitting_step(double start, double end);

// The default map: L0 L1 DL S0 S1 DS H centred on the stacking partner's
// offset (l, s) along VL and VS, rounded to the step of 0.25 A (to 0.5 A
// when the ends would not fit their 5-column fields exactly), 3 A either
// side along VL and 2 A along VS; height 0 (the partner's own).
std::array<double, 7> default_map(double l, double s);

}  // namespace zelk8::prep
