#include "map_range.hpp"

#include <cmath>

#include "input_file.hpp"

namespace zelk8::prep {

int scan_points(double start, double end, double step) {
  const float x_end = static_cast<float>(end), dx = static_cast<float>(step);
  float x = static_cast<float>(start);
  constexpr int limit = 100000;
  for (int i = 0; i < limit; ++i) {
    if (x >= x_end) return i + 1;
    x = x + dx;
  }
  return limit;
}

double fitting_step(double start, double end) {
  long thousandths = static_cast<long>(std::ceil((end - start) / (max_map_points - 1) * 1000.0));
  if (thousandths < 1) thousandths = 1;
  while (scan_points(start, end, thousandths / 1000.0) > max_map_points) ++thousandths;
  return thousandths / 1000.0;
}

std::array<double, 7> default_map(double l, double s) {
  constexpr double half_l = 3.0, half_s = 2.0;
  for (double grid : {0.25, 0.5}) {
    const double cl = std::round(l / grid) * grid, cs = std::round(s / grid) * grid;
    std::array<double, 7> map{cl - half_l, cl + half_l, 0.25, cs - half_s, cs + half_s, 0.25, 0.0};
    bool fits = true;
    for (double value : map) {
      bool exact = false;
      format_f5(value, &exact);
      fits = fits && exact;
    }
    if (fits) return map;
  }
  // Offsets beyond 90 A: no stacking partner is that far; the grid at the origin.
  return {-half_l, half_l, 0.25, -half_s, half_s, 0.25, 0.0};
}

}  // namespace zelk8::prep
