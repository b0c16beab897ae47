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
bool same_molecule(const gemmi::UnitCell& cell, const Molecule& molecule,
                   const std::vector<gemmi::Fractional>& p,
                   const std::vector<gemmi::Fractional>& q) {
  constexpr double tolerance = 0.01;
  for (size_t i = 0; i < p.size(); ++i) {
    bool found = false;
    for (size_t j = 0; j < q.size() && !found; ++j)
      found = molecule.atoms[i].type == molecule.atoms[j].type &&
              cell.orthogonalize_difference(q[j] - p[i]).length() < tolerance;
    if (!found) return false;
  }
  return true;
}

}  // namespace

UnitSearch find_units(const Crystal& crystal, const Molecule& molecule, double cutoff, int skip) {
  // Far more than any molecular crystal has within a cutoff of 30 A; the
  // duplicate search below is quadratic in it.
  constexpr size_t max_images = 20000;
  const gemmi::UnitCell& cell = crystal.cell;
  std::vector<gemmi::Fractional> central;
  for (const MoleculeAtom& atom : molecule.atoms) central.push_back(atom.fract);
  gemmi::Fractional centre = centroid(central);

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
        throw PrepError("the cell is too small for a cutoff of " + std::to_string(cutoff) +
                        " A (over 1000 cells along an axis)");
      lo[i] = static_cast<int>(std::floor(delta[i] - reach[i]));
      hi[i] = static_cast<int>(std::ceil(delta[i] + reach[i]));
    }
    for (int t0 = lo[0]; t0 <= hi[0]; ++t0)
      for (int t1 = lo[1]; t1 <= hi[1]; ++t1)
        for (int t2 = lo[2]; t2 <= hi[2]; ++t2) {
          gemmi::Fractional c(moved.x + t0, moved.y + t1, moved.z + t2);
          double d = cell.orthogonalize_difference(c - centre).length();
          if (d > cutoff) continue;
          if (candidates.size() == max_images)
            throw PrepError("more than " + std::to_string(max_images) +
                            " images lie within the cutoff of " + std::to_string(cutoff) +
                            " A; the cell is too small for this cutoff (give a smaller --cutoff)");
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

  UnitSearch search;
  std::vector<Image> kept;
  auto coincide = [&](const Image& image, const gemmi::Fractional& c,
                      const std::vector<gemmi::Fractional>& atoms) {
    return cell.orthogonalize_difference(c - image.centroid).length() < 0.01 &&
           same_molecule(cell, molecule, image.atoms, atoms);
  };
  for (Image& image : candidates) {
    for (const gemmi::Fractional& f : central) image.atoms.push_back(apply_op(image.op, f));
    if (coincide(image, centre, central)) continue;
    bool seen = false;
    for (const Image& other : kept) seen = seen || coincide(image, other.centroid, other.atoms);
    if (seen) continue;
    kept.push_back(image);
  }
  search.inside_cutoff = static_cast<int>(kept.size());
  for (const Image& image : kept) search.distances.push_back(image.distance);
  for (int rank = skip + 1; rank <= static_cast<int>(kept.size()); ++rank) {
    const Image& image = kept[rank - 1];
    if (static_cast<int>(search.units.size()) == max_units) break;
    Unit unit;
    unit.op = image.op;
    unit.symop = image.symop;
    unit.distance = image.distance;
    unit.translation = crystal.ops[image.symop].rot == gemmi::Op::identity().rot;
    char name[16];
    std::snprintf(name, sizeof name, "%c%02d", unit.translation ? 'T' : 'R', rank % 1000);
    unit.rank = rank;
    unit.name = name;
    search.units.push_back(unit);
  }
  return search;
}

std::string unit_triplet(const Unit& unit) {
  gemmi::Op op;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      op.rot[i][j] = static_cast<int>(std::lround(unit.op[3 * i + j] * gemmi::Op::DEN));
    op.tran[i] = static_cast<int>(std::lround(unit.op[9 + i] * gemmi::Op::DEN));
  }
  return op.triplet();
}

int nearest_translation(const std::vector<Unit>& units) {
  for (size_t i = 0; i < units.size(); ++i)
    if (units[i].translation) return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace zelk8::prep
