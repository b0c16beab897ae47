#include "molecule.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <numeric>

namespace zelk8::prep {

NearestImage nearest_image(const gemmi::UnitCell& cell, const gemmi::Fractional& from,
                           const gemmi::Fractional& to) {
  // Rounding the fractional difference gives the nearest image in an
  // orthogonal cell; in an oblique one it may be a neighbour of it.
  int base[3] = {static_cast<int>(std::lround(from.x - to.x)),
                 static_cast<int>(std::lround(from.y - to.y)),
                 static_cast<int>(std::lround(from.z - to.z))};
  NearestImage best;
  best.distance = INFINITY;
  for (int i = -1; i <= 1; ++i)
    for (int j = -1; j <= 1; ++j)
      for (int k = -1; k <= 1; ++k) {
        int t[3] = {base[0] + i, base[1] + j, base[2] + k};
        gemmi::Fractional delta(to.x + t[0] - from.x, to.y + t[1] - from.y, to.z + t[2] - from.z);
        double d = cell.orthogonalize_difference(delta).length();
        if (d < best.distance) {
          best.distance = d;
          std::copy(t, t + 3, best.t);
        }
      }
  return best;
}

namespace {

// No image of `to` comes nearer `from` than this: along each axis, the
// distance between the lattice planes through them (the fractional
// difference to the nearest whole number, over the reciprocal length).
// It spares the search of the nearest image for atoms plainly far apart.
double image_distance_bound(const gemmi::UnitCell& cell, const gemmi::Fractional& from,
                            const gemmi::Fractional& to) {
  auto off = [](double d) { return std::abs(d - std::round(d)); };
  return std::max(
      {off(to.x - from.x) / cell.ar, off(to.y - from.y) / cell.br, off(to.z - from.z) / cell.cr});
}

// Beyond rounding: an atom pair this much past the bound is certainly apart.
constexpr double bound_margin = 1e-6;

}  // namespace

std::vector<CellAtom> expand_sites(const Crystal& crystal, double merge_distance,
                                   std::vector<int>* orbit) {
  std::vector<int> parent(crystal.sites.size());
  std::iota(parent.begin(), parent.end(), 0);
  auto root = [&](int s) {
    while (parent[s] != s) s = parent[s] = parent[parent[s]];
    return s;
  };

  // The merge below is quadratic in the cell's atoms.
  constexpr size_t max_cell_atoms = 40000;
  if (crystal.ops.size() * crystal.sites.size() > max_cell_atoms)
    throw PrepError(std::to_string(crystal.sites.size()) + " sites under " +
                    std::to_string(crystal.ops.size()) + " operations exceed the " +
                    std::to_string(max_cell_atoms) + " cell atoms this tool expands");
  std::vector<CellAtom> atoms;
  // Operations outer, sites inner: the identity comes first, so every listed
  // site keeps the coordinates it is listed with.
  for (int o = 0; o < static_cast<int>(crystal.ops.size()); ++o) {
    for (int s = 0; s < static_cast<int>(crystal.sites.size()); ++s) {
      const Site& site = crystal.sites[s];
      std::array<double, 3> p =
          crystal.ops[o].apply_to_xyz({site.fract.x, site.fract.y, site.fract.z});
      gemmi::Fractional fract(p[0], p[1], p[2]);
      bool merged = false;
      for (const CellAtom& other : atoms)
        if (image_distance_bound(crystal.cell, other.fract, fract) <
                merge_distance + bound_margin &&
            nearest_image(crystal.cell, other.fract, fract).distance < merge_distance) {
          if (other.element != site.element)
            throw PrepError("sites " + crystal.sites[other.site].label + " and " + site.label +
                            " of different elements fall on one position");
          int a = root(other.site), b = root(s);
          parent[std::max(a, b)] = std::min(a, b);
          merged = true;
          break;
        }
      if (!merged) atoms.push_back({s, o, site.element, fract});
    }
  }
  if (orbit) {
    orbit->resize(crystal.sites.size());
    for (int s = 0; s < static_cast<int>(parent.size()); ++s) (*orbit)[s] = root(s);
  }
  return atoms;
}

namespace {

double round5(double v) {
  double r = std::round(v * 1e5) / 1e5;
  return r == 0.0 ? 0.0 : r;  // no negative zero
}

// Breadth-first walk over bonds from one cell atom; returns, per cell atom,
// the lattice translation it is placed with (or nothing when not reached).
std::map<int, std::array<int, 3>> gather(const Crystal& crystal, const std::vector<CellAtom>& atoms,
                                         int start, const MoleculeOptions& options) {
  std::map<int, std::array<int, 3>> placed;
  placed[start] = {0, 0, 0};
  std::deque<int> queue{start};
  auto position = [&](int a) {
    const std::array<int, 3>& t = placed.at(a);
    return gemmi::Fractional(atoms[a].fract.x + t[0], atoms[a].fract.y + t[1],
                             atoms[a].fract.z + t[2]);
  };
  while (!queue.empty()) {
    int a = queue.front();
    queue.pop_front();
    gemmi::Fractional p = position(a);
    for (int b = 0; b < static_cast<int>(atoms.size()); ++b) {
      double bond =
          (atoms[a].element.covalent_r() + atoms[b].element.covalent_r()) + options.bond_tolerance;
      if (image_distance_bound(crystal.cell, p, atoms[b].fract) >= bond + bound_margin) continue;
      NearestImage near = nearest_image(crystal.cell, p, atoms[b].fract);
      // Bonds are far shorter than any cell edge: only the nearest image of
      // b, and its neighbours one cell away, can be bonded to a.
      for (int i = -1; i <= 1; ++i)
        for (int j = -1; j <= 1; ++j)
          for (int k = -1; k <= 1; ++k) {
            std::array<int, 3> t = {near.t[0] + i, near.t[1] + j, near.t[2] + k};
            gemmi::Fractional q(atoms[b].fract.x + t[0], atoms[b].fract.y + t[1],
                                atoms[b].fract.z + t[2]);
            double d = crystal.cell.orthogonalize_difference(q - p).length();
            if (d >= bond || d < options.merge_distance) continue;
            auto found = placed.find(b);
            if (found == placed.end()) {
              placed[b] = t;
              queue.push_back(b);
              if (static_cast<int>(placed.size()) > max_molecule_atoms)
                throw PrepError("the molecule of site " + crystal.sites[atoms[start].site].label +
                                " has more than " + std::to_string(max_molecule_atoms) + " atoms");
            } else if (found->second != t) {
              throw PrepError("the atoms of site " + crystal.sites[atoms[start].site].label +
                              " bond into an endless chain or network, not a molecule");
            }
          }
    }
  }
  return placed;
}

}  // namespace

Molecule build_molecule(const Crystal& crystal, const MoleculeOptions& options) {
  std::vector<int> orbit;
  std::vector<CellAtom> atoms = expand_sites(crystal, options.merge_distance, &orbit);
  // The identity is operation 0 and sites are expanded in order, so the
  // listed position of site s is the first cell atom made from it.
  auto listed = [&](int s) {
    for (int a = 0; a < static_cast<int>(atoms.size()); ++a)
      if (atoms[a].op == 0 && atoms[a].site == s) return a;
    return -1;
  };

  std::vector<bool> covered(crystal.sites.size(), false);
  std::map<int, std::array<int, 3>> placed;
  int found = 0;
  for (int s = 0; s < static_cast<int>(crystal.sites.size()); ++s) {
    if (covered[orbit[s]] || listed(s) < 0) continue;
    std::map<int, std::array<int, 3>> here;
    if (found < options.number) {
      here = gather(crystal, atoms, listed(s), options);
    } else {
      // The molecules after the one asked for are only counted; one that is
      // not a molecule ends the count.
      try {
        here = gather(crystal, atoms, listed(s), options);
      } catch (const PrepError&) {
        break;
      }
    }
    ++found;
    for (const auto& [a, t] : here) covered[orbit[atoms[a].site]] = true;
    if (found == options.number) placed = std::move(here);
  }
  if (found < options.number)
    throw PrepError("molecule " + std::to_string(options.number) +
                    " asked for, but the asymmetric unit holds " + std::to_string(found) +
                    (found == 1 ? " molecule" : " molecules"));

  Molecule molecule;
  molecule.number = options.number;
  molecule.molecule_count = found;
  for (const auto& [a, t] : placed) {
    MoleculeAtom atom;
    atom.element = atoms[a].element;
    atom.cell_atom = a;
    atom.site = atoms[a].site;
    atom.fract = gemmi::Fractional(round5(atoms[a].fract.x + t[0]), round5(atoms[a].fract.y + t[1]),
                                   round5(atoms[a].fract.z + t[2]));
    molecule.atoms.push_back(atom);
  }
  // Element order: descending atomic number, which puts hydrogen last, C
  // before H, and S before C before H, as the input file's conventions ask.
  auto z = [](gemmi::Element e) { return e.atomic_number(); };
  std::stable_sort(molecule.atoms.begin(), molecule.atoms.end(),
                   [&](const MoleculeAtom& p, const MoleculeAtom& q) {
                     return z(p.element) != z(q.element) ? z(p.element) > z(q.element)
                                                         : p.cell_atom < q.cell_atom;
                   });
  std::map<int, int> running;
  for (MoleculeAtom& atom : molecule.atoms) {
    if (molecule.elements.empty() || z(molecule.elements.back()) != z(atom.element))
      molecule.elements.push_back(atom.element);
    atom.type = static_cast<int>(molecule.elements.size());
    atom.label = std::string(atom.element.name()) + std::to_string(++running[z(atom.element)]);
  }
  if (static_cast<int>(molecule.elements.size()) > max_element_types)
    throw PrepError("the molecule has " + std::to_string(molecule.elements.size()) +
                    " element types; the input file holds at most " +
                    std::to_string(max_element_types));
  return molecule;
}

std::vector<std::string> element_warnings(const Molecule& molecule) {
  std::vector<std::string> warnings;
  std::string names;
  for (gemmi::Element e : molecule.elements)
    names += (names.empty() ? "" : ", ") + std::string(e.name());
  const auto& el = molecule.elements;
  auto is = [&](size_t i, gemmi::El e) {
    return el[i].atomic_number() == gemmi::Element(e).atomic_number();
  };
  if (el.empty() || !is(el.size() - 1, gemmi::El::H))
    warnings.push_back(
        "no hydrogen in the molecule (" + names + "); the program takes the last element type, " +
        (el.empty() ? std::string("none") : std::string(el.back().name())) + ", for hydrogen");
  if (el.size() == 1)
    warnings.push_back("one element type only (" + names + "): the report prints no element rows");
  if (el.size() == 2 && !(is(0, gemmi::El::C) && is(1, gemmi::El::H)))
    warnings.push_back("two element types (" + names + ") print as C, H in the report");
  if (el.size() == 3 && !(is(0, gemmi::El::S) && is(1, gemmi::El::C) && is(2, gemmi::El::H)))
    warnings.push_back("three element types (" + names + ") print as S, C, H in the report");
  return warnings;
}

std::string formula(const Molecule& molecule) {
  std::map<std::string, int> counts;
  for (const MoleculeAtom& atom : molecule.atoms) ++counts[atom.element.name()];
  // Hill order: carbon, hydrogen, then alphabetical; alphabetical throughout
  // when there is no carbon.
  std::vector<std::string> order;
  if (counts.count("C")) {
    order.push_back("C");
    if (counts.count("H")) order.push_back("H");
  }
  for (const auto& [symbol, n] : counts)
    if (std::find(order.begin(), order.end(), symbol) == order.end()) order.push_back(symbol);
  std::string text;
  for (const std::string& symbol : order) {
    int n = counts[symbol];
    text += (text.empty() ? "" : " ") + symbol + (n > 1 ? std::to_string(n) : "");
  }
  return text;
}

}  // namespace zelk8::prep

namespace zelk8::prep {

namespace {

std::vector<std::vector<int>> bond_graph(const gemmi::UnitCell& cell, const Molecule& m,
                                         double bond_tolerance) {
  const size_t n = m.atoms.size();
  std::vector<std::vector<int>> graph(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      const double d = cell.orthogonalize_difference(m.atoms[j].fract - m.atoms[i].fract).length();
      const double bond =
          (m.atoms[i].element.covalent_r() + m.atoms[j].element.covalent_r()) + bond_tolerance;
      if (d < bond) {
        graph[i].push_back(static_cast<int>(j));
        graph[j].push_back(static_cast<int>(i));
      }
    }
  return graph;
}

}  // namespace

std::optional<std::vector<int>> corresponding_atoms(const gemmi::UnitCell& cell, const Molecule& a,
                                                    const Molecule& b, double bond_tolerance) {
  const size_t n = a.atoms.size();
  if (b.atoms.size() != n || n == 0) return std::nullopt;
  const auto ga = bond_graph(cell, a, bond_tolerance), gb = bond_graph(cell, b, bond_tolerance);
  // Colour refinement over both graphs with one dictionary: an atom's colour
  // is its element, then its colour with the sorted colours of its
  // neighbours, until the number of colours stops growing.
  std::vector<int> ca(n), cb(n);
  for (size_t k = 0; k < n; ++k) {
    ca[k] = a.atoms[k].element.atomic_number();
    cb[k] = b.atoms[k].element.atomic_number();
  }
  size_t colours = 0;
  for (size_t round = 0; round <= n; ++round) {
    std::map<std::vector<int>, int> dictionary;
    auto refine = [&](const std::vector<int>& c, const std::vector<std::vector<int>>& g) {
      std::vector<int> next(n);
      for (size_t k = 0; k < n; ++k) {
        std::vector<int> key{c[k]};
        std::vector<int> around;
        for (int j : g[k]) around.push_back(c[j]);
        std::sort(around.begin(), around.end());
        key.insert(key.end(), around.begin(), around.end());
        next[k] = dictionary.emplace(key, static_cast<int>(dictionary.size())).first->second;
      }
      return next;
    };
    ca = refine(ca, ga);
    cb = refine(cb, gb);
    if (dictionary.size() == colours) break;
    colours = dictionary.size();
  }
  std::vector<int> sa = ca, sb = cb;
  std::sort(sa.begin(), sa.end());
  std::sort(sb.begin(), sb.end());
  if (sa != sb) return std::nullopt;

  // Atoms of `a` in breadth-first order, so that each meets mapped neighbours.
  std::vector<int> order;
  std::vector<bool> queued(n, false);
  for (size_t start = 0; start < n; ++start) {
    if (queued[start]) continue;
    queued[start] = true;
    order.push_back(static_cast<int>(start));
    for (size_t at = order.size() - 1; at < order.size(); ++at)
      for (int j : ga[order[at]])
        if (!queued[j]) {
          queued[j] = true;
          order.push_back(j);
        }
  }
  std::vector<int> map(n, -1);
  std::vector<bool> used(n, false);
  long steps = 0;
  std::function<bool(size_t)> extend = [&](size_t depth) {
    if (depth == n) return true;
    if (++steps > 1000000) return false;
    const int i = order[depth];
    for (size_t j = 0; j < n; ++j) {
      if (used[j] || cb[j] != ca[i]) continue;
      bool fits = true;
      for (int k : ga[i])
        if (map[k] >= 0 && std::find(gb[j].begin(), gb[j].end(), map[k]) == gb[j].end())
          fits = false;
      if (!fits) continue;
      map[i] = static_cast<int>(j);
      used[j] = true;
      if (extend(depth + 1)) return true;
      map[i] = -1;
      used[j] = false;
    }
    return false;
  };
  if (!extend(0)) return std::nullopt;
  return map;
}

}  // namespace zelk8::prep
