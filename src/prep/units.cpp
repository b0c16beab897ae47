#include "units.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace zelk8::prep {

namespace {

struct Image {
  int symop = 0;
  std::array<double, 12> op{};
  std::vector<gemmi::Fractional> atoms;
  gemmi::Fractional centroid;
  double distance = 0.0;
  long long distance_key = 0;  // distance in units of 1e-4 Angstrom, for ties
};

gemmi::Fractional apply_op(const std::array<double, 12>& op, const gemmi::Fractional& f) {
  return gemmi::Fractional(((op[0] * f.x + op[1] * f.y) + op[2] * f.z) + op[9],
                           ((op[3] * f.x + op[4] * f.y) + op[5] * f.z) + op[10],
                           ((op[6] * f.x + op[7] * f.y) + op[8] * f.z) + op[11]);
}

// Plain mean of the atoms.
gemmi::Fractional centroid(const std::vector<gemmi::Fractional>& atoms) {
  gemmi::Fractional sum(0, 0, 0);
  for (const gemmi::Fractional& f : atoms)
    sum = gemmi::Fractional(sum.x + f.x, sum.y + f.y, sum.z + f.z);
  double n = static_cast<double>(atoms.size());
  return gemmi::Fractional(sum.x / n, sum.y / n, sum.z / n);
}

// Same molecule: every atom of one lies on an atom of the same element of
// the other (atoms are compared in Cartesian space to 0.01 Angstrom).
bool same_molecule(const gemmi::UnitCell& cell, const std::vector<int>& types,
                   const std::vector<gemmi::Fractional>& p,
                   const std::vector<gemmi::Fractional>& q) {
  constexpr double tolerance = 0.01;
  for (size_t i = 0; i < p.size(); ++i) {
    bool found = false;
    for (size_t j = 0; j < q.size() && !found; ++j)
      found =
          types[i] == types[j] && cell.orthogonalize_difference(q[j] - p[i]).length() < tolerance;
    if (!found) return false;
  }
  return true;
}

// Every image of the molecule `source` (element types `types`) under an
// operation and a lattice translation whose centroid lies within `cutoff`
// of `centre`, nearest first, each molecule once; images that coincide with
// `excluded` are dropped.
std::vector<Image> images_within(const Crystal& crystal, const std::vector<int>& types,
                                 const std::vector<gemmi::Fractional>& central,
                                 const gemmi::Fractional& centre, double cutoff,
                                 const std::vector<gemmi::Fractional>& excluded) {
  const gemmi::UnitCell& cell = crystal.cell;
  char cutoff_text[32];
  std::snprintf(cutoff_text, sizeof cutoff_text, "%g", cutoff);
  const gemmi::Fractional excluded_centre = centroid(excluded);
  auto too_many = [&] {
    return PrepError("more than " + std::to_string(max_distinct_images) +
                     " molecules lie within the cutoff of " + cutoff_text +
                     " A; the cell is too small for this cutoff (give a smaller --cutoff)");
  };
  // A molecule on a special position is made by several operations: each
  // distinct image turns up at most once per operation, so past this many
  // candidates the distinct ones are certainly too many.
  const size_t max_candidates = max_distinct_images * crystal.ops.size();

  std::vector<Image> candidates;
  for (int s = 0; s < static_cast<int>(crystal.ops.size()); ++s) {
    const gemmi::Op& op = crystal.ops[s];
    std::array<double, 12> base{};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j)
        base[3 * i + j] = static_cast<double>(op.rot[i][j]) / gemmi::Op::DEN;
      base[9 + i] = static_cast<double>(op.tran[i]) / gemmi::Op::DEN;
    }
    gemmi::Fractional moved = centroid([&] {
      std::vector<gemmi::Fractional> atoms;
      for (const gemmi::Fractional& f : central) atoms.push_back(apply_op(base, f));
      return atoms;
    }());
    // Translations that can bring the image's centroid within the cutoff:
    // along each axis, the cutoff spans cutoff * |a*| cells.
    double delta[3] = {centre.x - moved.x, centre.y - moved.y, centre.z - moved.z};
    double reach[3] = {cutoff * cell.ar, cutoff * cell.br, cutoff * cell.cr};
    int lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
      if (!(reach[i] < 1000.0))
        throw PrepError(std::string("the cell is too small for a cutoff of ") + cutoff_text +
                        " A (over 1000 cells along an axis); give a smaller --cutoff");
      lo[i] = static_cast<int>(std::floor(delta[i] - reach[i]));
      hi[i] = static_cast<int>(std::ceil(delta[i] + reach[i]));
    }
    for (int t0 = lo[0]; t0 <= hi[0]; ++t0)
      for (int t1 = lo[1]; t1 <= hi[1]; ++t1)
        for (int t2 = lo[2]; t2 <= hi[2]; ++t2) {
          gemmi::Fractional c(moved.x + t0, moved.y + t1, moved.z + t2);
          double d = cell.orthogonalize_difference(c - centre).length();
          if (d > cutoff) continue;
          if (candidates.size() == max_candidates) throw too_many();
          Image image;
          image.symop = s;
          image.op = base;
          image.op[9] += t0;
          image.op[10] += t1;
          image.op[11] += t2;
          image.centroid = c;
          image.distance = d;
          image.distance_key = std::llround(d * 1e4);
          candidates.push_back(image);
        }
  }
  // Nearest first; ties by operation in the CIF's order, then by translation.
  std::sort(candidates.begin(), candidates.end(), [](const Image& p, const Image& q) {
    return std::tie(p.distance_key, p.symop, p.op[9], p.op[10], p.op[11]) <
           std::tie(q.distance_key, q.symop, q.op[9], q.op[10], q.op[11]);
  });

  // Coinciding molecules have centroids within 0.01 A, so their distances
  // from the centre differ by less: only the kept images of about the same
  // distance (the last ones kept) need comparing.
  constexpr double same = 0.01;
  std::vector<Image> kept;
  // An image's atoms are placed only when its centroid meets another's: most
  // images are never compared atom by atom.
  auto placed = [&](Image& image) -> const std::vector<gemmi::Fractional>& {
    if (image.atoms.empty()) {
      image.atoms.reserve(central.size());
      for (const gemmi::Fractional& f : central) image.atoms.push_back(apply_op(image.op, f));
    }
    return image.atoms;
  };
  auto near = [&](const Image& image, const gemmi::Fractional& c) {
    return cell.orthogonalize_difference(c - image.centroid).length() < same;
  };
  for (Image& image : candidates) {
    bool seen = !excluded.empty() && near(image, excluded_centre) &&
                same_molecule(cell, types, placed(image), excluded);
    for (auto other = kept.rbegin();
         !seen && other != kept.rend() && other->distance > image.distance - 2 * same; ++other)
      seen =
          near(image, other->centroid) && same_molecule(cell, types, placed(image), placed(*other));
    if (seen) {
      image.atoms = {};  // the positions of a duplicate are not kept
      continue;
    }
    if (kept.size() == max_distinct_images) throw too_many();
    kept.push_back(std::move(image));
  }
  return kept;
}

std::vector<int> types_of(const Molecule& molecule) {
  std::vector<int> types;
  for (const MoleculeAtom& atom : molecule.atoms) types.push_back(atom.type);
  return types;
}

std::vector<gemmi::Fractional> positions_of(const Molecule& molecule) {
  std::vector<gemmi::Fractional> positions;
  for (const MoleculeAtom& atom : molecule.atoms) positions.push_back(atom.fract);
  return positions;
}

Unit unit_of(const Crystal& crystal, const Image& image, int rank, bool second) {
  Unit unit;
  unit.op = image.op;
  unit.symop = image.symop;
  unit.distance = image.distance;
  unit.translation = crystal.ops[image.symop].rot == gemmi::Op::identity().rot;
  unit.second = second;
  unit.rank = rank;
  char name[16];
  // Images of the second molecule in lower case.
  std::snprintf(name, sizeof name, "%c%02d",
                unit.translation ? (second ? 't' : 'T') : (second ? 'r' : 'R'), rank % 1000);
  unit.name = name;
  return unit;
}

}  // namespace

namespace {

// The unit under `rank`: its name follows the rank.
Unit ranked_as(Unit unit, int rank) {
  unit.rank = rank;
  char name[16];
  std::snprintf(name, sizeof name, "%c%02d", unit.name[0], rank % 1000);
  unit.name = name;
  return unit;
}

}  // namespace

UnitImages find_unit_images(const Crystal& crystal, const Molecule& molecule, double cutoff) {
  const std::vector<gemmi::Fractional> central = positions_of(molecule);
  std::vector<Image> kept =
      images_within(crystal, types_of(molecule), central, centroid(central), cutoff, central);
  UnitImages images;
  for (size_t k = 0; k < kept.size(); ++k) {
    images.distances.push_back(kept[k].distance);
    images.ranked.push_back(unit_of(crystal, kept[k], static_cast<int>(k) + 1, false));
  }
  return images;
}

UnitImages find_pair_unit_images(const Crystal& crystal, const Molecule& first,
                                 const std::vector<gemmi::Fractional>& second, double cutoff) {
  const gemmi::UnitCell& cell = crystal.cell;
  const std::vector<int> types = types_of(first);
  const std::vector<gemmi::Fractional> a = positions_of(first);
  const gemmi::Fractional centre = centroid(a);
  const gemmi::Fractional b_centre = centroid(second);

  // The second molecule's image nearest to the first.
  std::array<double, 12> placing{};
  double nearest = INFINITY;
  for (const gemmi::Op& op : crystal.ops) {
    std::array<double, 12> base{};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j)
        base[3 * i + j] = static_cast<double>(op.rot[i][j]) / gemmi::Op::DEN;
      base[9 + i] = static_cast<double>(op.tran[i]) / gemmi::Op::DEN;
    }
    const gemmi::Fractional moved = apply_op(base, b_centre);
    const NearestImage near = nearest_image(cell, centre, moved);
    if (near.distance < nearest - 1e-6) {
      nearest = near.distance;
      placing = base;
      for (int i = 0; i < 3; ++i) placing[9 + i] += near.t[i];
    }
  }
  UnitImages images;
  images.pair = true;
  for (const gemmi::Fractional& f : second) {
    const gemmi::Fractional p = apply_op(placing, f);
    auto round5 = [](double v) {
      const double r = std::round(v * 1e5) / 1e5;
      return r == 0.0 ? 0.0 : r;
    };
    images.second_set.emplace_back(round5(p.x), round5(p.y), round5(p.z));
  }
  const gemmi::Fractional placed_centre = centroid(images.second_set);
  const double marker_distance = cell.orthogonalize_difference(placed_centre - centre).length();

  std::vector<Image> own = images_within(crystal, types, a, centre, cutoff, a);
  std::vector<Image> others =
      images_within(crystal, types, images.second_set, centre, cutoff, images.second_set);
  // One ranking of all: the first molecule's images, the marker and the
  // second's, nearest first (at one distance in that order).
  struct Ranked {
    double distance;
    int kind;  // 0 first molecule, 1 marker, 2 second molecule
    size_t index;
  };
  std::vector<Ranked> ranked;
  for (size_t i = 0; i < own.size(); ++i) ranked.push_back({own[i].distance, 0, i});
  if (marker_distance <= cutoff) {
    ranked.push_back({marker_distance, 1, 0});
    for (size_t i = 0; i < others.size(); ++i) ranked.push_back({others[i].distance, 2, i});
  }
  // Distances to 1e-4 A, as for one molecule; each list keeps its own order.
  std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& p, const Ranked& q) {
    return std::make_tuple(std::llround(p.distance * 1e4), p.kind) <
           std::make_tuple(std::llround(q.distance * 1e4), q.kind);
  });
  for (size_t k = 0; k < ranked.size(); ++k) {
    const Ranked& r = ranked[k];
    const int rank = static_cast<int>(k) + 1;
    images.distances.push_back(r.distance);
    if (r.kind == 1) {
      Unit unit;
      unit.op[0] = 5.0;
      unit.marker = true;
      unit.second = true;
      unit.distance = marker_distance;
      unit.name = "M";
      images.ranked.push_back(ranked_as(unit, rank));
    } else {
      images.ranked.push_back(
          unit_of(crystal, r.kind == 0 ? own[r.index] : others[r.index], rank, r.kind == 2));
    }
  }
  return images;
}

UnitSearch take_units(const UnitImages& images, int skip) {
  UnitSearch search;
  search.second_set = images.second_set;
  search.inside_cutoff = static_cast<int>(images.ranked.size());
  search.distances = images.distances;
  const std::vector<Unit>& ranked = images.ranked;
  const size_t begin = std::min(ranked.size(), static_cast<size_t>(std::max(skip, 0)));
  size_t take = std::min(ranked.size() - begin, static_cast<size_t>(max_units));
  if (!images.pair) {
    for (size_t k = begin; k < begin + take; ++k) search.units.push_back(ranked[k]);
    return search;
  }
  auto kind = [](const Unit& unit) { return unit.marker ? 1 : unit.second ? 2 : 0; };
  // Positions in the ranking; the units are named by the rank of their place.
  std::vector<size_t> order(ranked.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  // Images of the second molecule need the marker before them.
  auto marker_at =
      std::find_if(ranked.begin(), ranked.end(), [](const Unit& unit) { return unit.marker; });
  const long marker_index = marker_at - ranked.begin();
  bool second_taken = std::any_of(ranked.begin() + static_cast<long>(begin),
                                  ranked.begin() + static_cast<long>(begin + take),
                                  [&](const Unit& unit) { return kind(unit) == 2; });
  std::vector<std::pair<int, size_t>> chosen;  // rank, position in `ranked`
  if (second_taken && marker_index < static_cast<long>(begin)) {
    // A further shell: the marker, ranked before it, is written again only
    // to place the second molecule, under its own rank, in the last place.
    if (take == static_cast<size_t>(max_units)) --take;
    chosen.push_back({static_cast<int>(marker_index) + 1, static_cast<size_t>(marker_index)});
  } else if (second_taken && marker_index >= static_cast<long>(begin + take)) {
    std::rotate(order.begin() + static_cast<long>(begin + take) - 1, order.begin() + marker_index,
                order.begin() + marker_index + 1);
  }
  for (size_t k = begin; k < begin + take; ++k)
    chosen.push_back({static_cast<int>(k) + 1, order[k]});
  for (int wanted : {0, 1, 2})
    for (const auto& [rank, at] : chosen)
      if (kind(ranked[at]) == wanted) search.units.push_back(ranked_as(ranked[at], rank));
  return search;
}

UnitSearch find_units(const Crystal& crystal, const Molecule& molecule, double cutoff, int skip) {
  return take_units(find_unit_images(crystal, molecule, cutoff), skip);
}

UnitSearch find_pair_units(const Crystal& crystal, const Molecule& first,
                           const std::vector<gemmi::Fractional>& second, double cutoff, int skip) {
  return take_units(find_pair_unit_images(crystal, first, second, cutoff), skip);
}

std::string unit_triplet(const Unit& unit) {
  if (unit.marker) return "the second molecule as written";
  gemmi::Op op;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      op.rot[i][j] = static_cast<int>(std::lround(unit.op[3 * i + j] * gemmi::Op::DEN));
    op.tran[i] = static_cast<int>(std::lround(unit.op[9 + i] * gemmi::Op::DEN));
  }
  return op.triplet();
}

}  // namespace zelk8::prep
