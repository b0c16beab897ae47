#include "contacts.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace zelk8::report {

namespace {

// The model's constants: eps * (A exp(-B rho) - C / rho^6).
constexpr double repulsion = 184000.0;
constexpr double steepness = 12.0;
constexpr double dispersion = 2.25;

// d/drho of the bracket: -A B exp(-B rho) + 6 C / rho^7. Positive below the
// maximum, negative between it and the well.
double slope(double rho) {
  return -repulsion * steepness * std::exp(-steepness * rho) + 6.0 * dispersion / std::pow(rho, 7);
}

struct Pair {
  double dl, ds, dv;  // copy minus central at zero shift
  double limit2;      // squared overlap distance of the pair
};

// min over lines of c + m x, as the lower envelope of the lines (the
// lines are given in order of falling slope).
class LowerEnvelope {
 public:
  void clear() {
    m_.clear();
    c_.clear();
  }
  void add(double m, double c) {
    if (!m_.empty() && m == m_.back()) {
      if (c >= c_.back()) return;
      m_.pop_back();
      c_.pop_back();
    }
    // The last line is never the lowest once the new one is added when the
    // new one meets the one before it no later than the last one does.
    while (m_.size() >= 2) {
      const std::size_t b = m_.size() - 1, a = b - 1;
      if ((c - c_[a]) * (m_[a] - m_[b]) > (c_[b] - c_[a]) * (m_[a] - m)) break;
      m_.pop_back();
      c_.pop_back();
    }
    m_.push_back(m);
    c_.push_back(c);
  }
  // Call after the last add, before at().
  void finish() {
    cross_.resize(m_.empty() ? 0 : m_.size() - 1);
    for (std::size_t i = 0; i + 1 < m_.size(); ++i) {
      cross_[i] = (c_[i + 1] - c_[i]) / (m_[i] - m_[i + 1]);
    }
  }
  double at(double x) const {
    const std::size_t i = std::upper_bound(cross_.begin(), cross_.end(), x) - cross_.begin();
    return c_[i] + m_[i] * x;
  }

 private:
  std::vector<double> m_, c_, cross_;  // lines; where line i + 1 takes over from line i
};

MapContacts unchecked(std::string note) {
  MapContacts contacts;
  contacts.note = std::move(note);
  return contacts;
}

}  // namespace

double exp6_maximum_rho() {
  // The slope changes sign once between 0.1 (rising) and 0.6 (falling);
  // bisection to the last bit of a double.
  static const double rho = [] {
    double low = 0.1;
    double high = 0.6;
    for (int step = 0; step < 200 && low < high; ++step) {
      const double mid = 0.5 * (low + high);
      if (mid == low || mid == high) break;
      (slope(mid) > 0.0 ? low : high) = mid;
    }
    return low;
  }();
  return rho;
}

MapContacts map_contacts(const Report& report) {
  if (!report.map || !report.map_height) return unchecked("the report has no shift map");
  if (!report.map_height->finite()) {
    return unchecked("the map's height is printed as " + report.map_height->text);
  }
  const auto& rows = report.elements.rows;
  if (rows.empty()) {
    return unchecked("the report has no element table (one element type), so no contact distances");
  }
  // Contact distance R0(a) + R0(b) per element index, as the element table prints it.
  std::vector<double> r0;
  for (const ElementRow& row : rows) {
    if (!row.r0.finite()) return unchecked("R0 of element " + row.symbol + " is " + row.r0.text);
    r0.push_back(*row.r0.value);
  }
  struct Placed {
    double l, s, v, r0;
  };
  std::vector<Placed> atoms;
  for (const FrameAtom& atom : report.coordinates) {
    if (!atom.element.finite() || !atom.l.finite() || !atom.s.finite() || !atom.v.finite()) {
      return unchecked("a frame coordinate of atom " + atom.label + " is not a number");
    }
    const double index = *atom.element.value;
    if (index < 1.0 || index > static_cast<double>(r0.size()) || index != std::floor(index)) {
      return unchecked("atom " + atom.label + " has element index " + atom.element.text);
    }
    atoms.push_back(
        {*atom.l.value, *atom.s.value, *atom.v.value, r0[static_cast<std::size_t>(index) - 1]});
  }
  if (atoms.empty()) return unchecked("the report has no frame coordinates");

  const double height = *report.map_height->value;
  const double rho_max = exp6_maximum_rho();
  std::vector<Pair> pairs;
  pairs.reserve(atoms.size() * atoms.size());
  for (const Placed& a : atoms) {
    for (const Placed& b : atoms) {
      const double limit = rho_max * (a.r0 + b.r0);
      pairs.push_back({b.l - a.l, b.s - a.s, b.v - a.v + height, limit * limit});
    }
  }

  const MapTable& grid = report.map->evdw;
  MapContacts contacts;
  contacts.checked = true;
  contacts.shortest.assign(grid.rows(), std::vector<double>(grid.columns(), 0.0));
  contacts.overlap.assign(grid.rows(), std::vector<bool>(grid.columns(), false));
  // For a grid point (l, s), the squared distance of a pair is
  //   (dl + l)^2 + (ds + s)^2 + dv^2 = l^2 + [dl^2 + (ds + s)^2 + dv^2] + 2 dl l,
  // a line in l per pair and row: the shortest contact of every point of a
  // row is l^2 plus the lower envelope of the pairs' lines, and the point is
  // an overlap point where the same with the pair's limit taken off is
  // below zero. The slopes 2 dl are the same in every row.
  std::vector<std::size_t> order(pairs.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return pairs[a].dl > pairs[b].dl; });
  LowerEnvelope nearest, deepest;
  for (std::size_t row = 0; row < grid.rows(); ++row) {
    const Field& s_field = grid.s_shifts[row];
    const double s = s_field.value.value_or(0.0);
    nearest.clear();
    deepest.clear();
    for (const std::size_t p : order) {
      const Pair& pair = pairs[p];
      const double ds = pair.ds + s;
      const double base = pair.dl * pair.dl + ds * ds + pair.dv * pair.dv;
      nearest.add(2.0 * pair.dl, base);
      deepest.add(2.0 * pair.dl, base - pair.limit2);
    }
    nearest.finish();
    deepest.finish();
    for (std::size_t column = 0; column < grid.columns(); ++column) {
      const Field& l_field = grid.l_shifts[column];
      if (!s_field.finite() || !l_field.finite()) {
        // A shift printed as asterisks lies far outside any molecule.
        contacts.shortest[row][column] = std::numeric_limits<double>::infinity();
        continue;
      }
      const double l = *l_field.value;
      const double shortest2 = l * l + nearest.at(l);
      const bool overlap = l * l + deepest.at(l) < 0.0;
      contacts.shortest[row][column] = std::sqrt(std::max(shortest2, 0.0));
      contacts.overlap[row][column] = overlap;
      if (overlap) ++contacts.overlap_points;
    }
  }
  return contacts;
}

namespace {

bool is_overlap(const MapContacts& contacts, std::size_t row, std::size_t column) {
  return contacts.checked && row < contacts.overlap.size() &&
         column < contacts.overlap[row].size() && contacts.overlap[row][column];
}

}  // namespace

std::optional<MapLow> lowest_clear_point(const MapTable& table, const MapContacts& contacts) {
  std::optional<MapLow> low;
  for (std::size_t row = 0; row < table.rows() && row < table.cells.size(); ++row) {
    for (std::size_t column = 0; column < table.columns() && column < table.cells[row].size();
         ++column) {
      const Field& cell = table.cells[row][column];
      if (!cell.finite() || is_overlap(contacts, row, column)) continue;
      const double energy = *cell.value;
      if (energy < 0.0 && (!low || energy < low->energy)) {
        const Field& l = table.l_shifts[column];
        const Field& s = table.s_shifts[row];
        low = MapLow{row, column, l.value.value_or(std::nan("")), s.value.value_or(std::nan("")),
                     energy};
      }
    }
  }
  return low;
}

bool printed_minimum_is_overlap(const MapMinimum& minimum, const MapTable& table,
                                const MapContacts& contacts) {
  if (!contacts.checked) return false;
  // The program's minimum starts at zero and moves only on a lower value:
  // an energy that is not below zero names no grid point.
  if (minimum.energy.finite() && *minimum.energy.value >= 0.0) return false;
  for (std::size_t row = 0; row < table.rows() && row < table.cells.size(); ++row) {
    if (table.s_shifts[row].text != minimum.s.text) continue;
    for (std::size_t column = 0; column < table.columns() && column < table.cells[row].size();
         ++column) {
      if (table.l_shifts[column].text != minimum.l.text) continue;
      if (table.cells[row][column].text != minimum.energy.text) continue;
      return is_overlap(contacts, row, column);
    }
  }
  return false;
}

}  // namespace zelk8::report
