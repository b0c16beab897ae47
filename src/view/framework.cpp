#include "framework.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

namespace zelk8::view {

using nlohmann::json;

namespace {

// Two molecule centres closer than this (fractional) are one molecule.
constexpr double same_centre = 1e-3;
// How far outside a block's edge a centre may lie and still count (fractional).
constexpr double edge_tolerance = 1e-4;
// More cosets than any space group has over its lattice: the operations do
// not close into a crystal's symmetry.
constexpr std::size_t most_cosets = 192;

Vec3 times(const Mat3& m, const Vec3& x) {
  Vec3 out{};
  for (int r = 0; r < 3; ++r) {
    out[r] = (m[r][0] * x[0]) + (m[r][1] * x[1]) + (m[r][2] * x[2]);
  }
  return out;
}

Mat3 times(const Mat3& a, const Mat3& b) {
  Mat3 out{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      out[r][c] = (a[r][0] * b[0][c]) + (a[r][1] * b[1][c]) + (a[r][2] * b[2][c]);
    }
  }
  return out;
}

std::optional<Mat3> inverse(const Mat3& m) {
  const double det = (m[0][0] * ((m[1][1] * m[2][2]) - (m[1][2] * m[2][1]))) -
                     (m[0][1] * ((m[1][0] * m[2][2]) - (m[1][2] * m[2][0]))) +
                     (m[0][2] * ((m[1][0] * m[2][1]) - (m[1][1] * m[2][0])));
  if (!std::isfinite(det) || std::abs(det) < 1e-12) {
    return std::nullopt;
  }
  Mat3 out{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      // The cofactor of (c, r) over the determinant.
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      out[r][c] = ((m[r1][c1] * m[r2][c2]) - (m[r1][c2] * m[r2][c1])) / det;
    }
  }
  return out;
}

double length(const Vec3& v) { return std::sqrt((v[0] * v[0]) + (v[1] * v[1]) + (v[2] * v[2])); }

Vec3 minus(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

// The key of an operation's coset over the lattice: its rotation and its
// translation modulo whole cells, in 48ths of a cell.
using CosetKey = std::array<long long, 12>;

CosetKey coset_key(const Operation& op) {
  CosetKey key{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      key[(r * 3) + c] = std::llround(op.rotation[r][c]);
    }
    long long t = std::llround(op.translation[r] * 48.0) % 48;
    key[9 + r] = t < 0 ? t + 48 : t;
  }
  return key;
}

// The operation with its translation brought into [0, 1).
Operation reduced(Operation op) {
  for (double& t : op.translation) {
    t -= std::floor(t + 1e-6);
  }
  return op;
}

// A crystallographic rotation in fractional coordinates: whole numbers and a
// determinant of 1 or -1.
bool crystallographic(const Operation& op) {
  for (const Vec3& row : op.rotation) {
    for (double x : row) {
      if (!std::isfinite(x) || std::abs(x - std::round(x)) > 1e-3) {
        return false;
      }
    }
  }
  const std::optional<Mat3> inv = inverse(op.rotation);
  if (!inv) {
    return false;
  }
  for (double t : op.translation) {
    if (!std::isfinite(t)) {
      return false;
    }
  }
  return true;
}

// Molecule centres by position, found again within `same_centre`. The
// centres are kept in cubes of edge 2 * same_centre, so that a search looks
// in the two cubes per axis its tolerance reaches (with a margin for the
// rounding of the division, rarely three): 8 cubes rather than 27. A
// position outside the box of the centres (a partner beyond the block, about
// half of all searches) is answered without a search.
class CentreIndex {
 public:
  void add(const Vec3& f, std::size_t index) {
    std::array<long long, 3> k{};
    for (int axis = 0; axis < 3; ++axis) {
      k[axis] = cube(f[axis] / edge);
      box_low_[axis] = std::min(box_low_[axis], f[axis]);
      box_high_[axis] = std::max(box_high_[axis], f[axis]);
    }
    cells_[k].push_back({f, index});
  }

  std::optional<std::size_t> find(const Vec3& f) const {
    for (int axis = 0; axis < 3; ++axis) {
      if (f[axis] < box_low_[axis] - edge || f[axis] > box_high_[axis] + edge) {
        return std::nullopt;
      }
    }
    std::array<long long, 3> low{};
    std::array<long long, 3> high{};
    for (int axis = 0; axis < 3; ++axis) {
      const double at = f[axis] / edge;
      low[axis] = cube(at - 0.5 - margin);
      high[axis] = cube(at + 0.5 + margin);
    }
    for (long long x = low[0]; x <= high[0]; ++x) {
      for (long long y = low[1]; y <= high[1]; ++y) {
        for (long long z = low[2]; z <= high[2]; ++z) {
          const auto it = cells_.find({x, y, z});
          if (it == cells_.end()) {
            continue;
          }
          for (const auto& [centre, index] : it->second) {
            const Vec3 d = minus(centre, f);
            if (std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])}) < same_centre) {
              return index;
            }
          }
        }
      }
    }
    return std::nullopt;
  }

 private:
  static constexpr double edge = 2 * same_centre;
  Vec3 box_low_{HUGE_VAL, HUGE_VAL, HUGE_VAL};
  Vec3 box_high_{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  static constexpr double margin = 1e-6;
  // A position far out (or not a number, which matches nothing) falls in a
  // cube at the edge of the range rather than overflowing the cube number.
  static long long cube(double at) {
    return std::isnan(at) ? 0 : static_cast<long long>(std::floor(std::clamp(at, -1e15, 1e15)));
  }
  struct KeyHash {
    std::size_t operator()(const std::array<long long, 3>& k) const {
      // Mixes the three cell numbers; any spread will do, the keys are compared whole.
      std::uint64_t h = static_cast<std::uint64_t>(k[0]) * 0x9e3779b97f4a7c15ull;
      h ^= static_cast<std::uint64_t>(k[1]) + 0x7f4a7c159e3779b9ull + (h << 6) + (h >> 2);
      h ^= static_cast<std::uint64_t>(k[2]) + 0x94d049bb133111ebull + (h << 6) + (h >> 2);
      return static_cast<std::size_t>(h);
    }
  };
  std::unordered_map<std::array<long long, 3>, std::vector<std::pair<Vec3, std::size_t>>, KeyHash>
      cells_;
};

json vec_json(const Vec3& v) {
  json out = json::array();
  out.get_ref<json::array_t&>().reserve(3);
  for (double x : v) {
    out.push_back(x);
  }
  return out;
}

std::optional<Vec3> field_vector(const report::Vector3& v) {
  if (!v[0].value || !v[1].value || !v[2].value) {
    return std::nullopt;
  }
  return Vec3{*v[0].value, *v[1].value, *v[2].value};
}

}  // namespace

Vec3 Operation::apply(const Vec3& x) const {
  Vec3 out = times(rotation, x);
  for (int r = 0; r < 3; ++r) {
    out[r] += translation[r];
  }
  return out;
}

Operation compose(const Operation& outer, const Operation& inner) {
  Operation out;
  out.rotation = times(outer.rotation, inner.rotation);
  out.translation = outer.apply(inner.translation);
  return out;
}

std::optional<Operation> unit_operation(const report::Unit& unit) {
  Operation op;
  for (std::size_t k = 0; k < 12; ++k) {
    if (!unit.operation[k].value) {
      return std::nullopt;
    }
  }
  if (unit.marks_second_set()) {
    return std::nullopt;
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      op.rotation[r][c] = *unit.operation[(r * 3) + c].value;
    }
    op.translation[r] = *unit.operation[9 + r].value;
  }
  return op;
}

std::array<int, 2> block_cells(double centre, int cells) {
  const int first = static_cast<int>(std::floor(centre - (cells / 2.0) + 0.5));
  return {first, first + cells};
}

Framework build_framework(const report::Report& report, const std::vector<Operation>& symmetry) {
  Framework fw;
  for (const report::Unit& unit : report.units) {
    if (unit.marks_second_set()) {
      fw.unavailable =
          "The report has two atom sets: it lists the neighbours of the first molecule only, so "
          "the pairs between molecules of the second set are not known and a framework across "
          "the crystal would miss them.";
      return fw;
    }
  }
  const report::TransferMatrix& tm = report.transfer_matrix;
  for (const report::Field* f : {&tm.t11, &tm.t12, &tm.t13, &tm.t22, &tm.t23, &tm.t33}) {
    if (!f->value) {
      fw.unavailable = "The report's transfer matrix has an off-scale field (" + f->text + ").";
      return fw;
    }
  }
  const Mat3 to_cartesian{{{*tm.t11.value, *tm.t12.value, *tm.t13.value},
                           {0.0, *tm.t22.value, *tm.t23.value},
                           {0.0, 0.0, *tm.t33.value}}};
  const std::optional<Mat3> to_fractional = inverse(to_cartesian);
  const std::optional<Vec3> cog = field_vector(report.centre_of_gravity);
  if (!to_fractional || !cog) {
    fw.unavailable = !to_fractional ? "The report's transfer matrix is singular."
                                    : "The report's centre of gravity has an off-scale field.";
    return fw;
  }
  for (int axis = 0; axis < 3; ++axis) {
    fw.cell[axis] = {to_cartesian[0][axis], to_cartesian[1][axis], to_cartesian[2][axis]};
  }
  fw.centre = times(*to_fractional, *cog);

  // The operations that generate the molecules.
  std::vector<std::optional<Operation>> unit_ops;
  std::vector<Operation> generators = symmetry;
  for (std::size_t k = 0; k < report.units.size(); ++k) {
    std::optional<Operation> op = unit_operation(report.units[k]);
    if (op && !crystallographic(*op)) {
      op.reset();
    }
    if (!op) {
      fw.skipped_units.push_back(k);
    } else {
      generators.push_back(*op);
    }
    unit_ops.push_back(op);
  }
  fw.crystal_symmetry = !symmetry.empty();

  // The cosets over the lattice that the generators reach from the identity.
  std::vector<Operation> cosets{Operation{}};
  std::set<CosetKey> seen{coset_key(Operation{})};
  for (std::size_t k = 0; k < cosets.size(); ++k) {
    for (const Operation& g : generators) {
      const Operation next = reduced(compose(cosets[k], g));
      if (seen.insert(coset_key(next)).second) {
        cosets.push_back(next);
        if (cosets.size() > most_cosets) {
          fw.unavailable =
              "The units' operations do not close into a crystal's symmetry (more than " +
              std::to_string(most_cosets) + " distinct operations).";
          return fw;
        }
      }
    }
  }

  // The cells of every block size, and the range that holds them all.
  Vec3 low{}, high{};
  for (int axis = 0; axis < 3; ++axis) {
    for (int cells = 1; cells <= largest_block; ++cells) {
      fw.blocks[axis][cells - 1] = block_cells(fw.centre[axis], cells);
    }
    low[axis] = fw.blocks[axis][0][0];
    high[axis] = fw.blocks[axis][0][1];
    for (const auto& block : fw.blocks[axis]) {
      low[axis] = std::min<double>(low[axis], block[0]);
      high[axis] = std::max<double>(high[axis], block[1]);
    }
  }

  CentreIndex index;
  CentreIndex in_one_cell;
  auto add = [&](const Operation& op) {
    const Vec3 f = op.apply(fw.centre);
    if (index.find(f)) {
      return;
    }
    FrameworkMolecule m;
    m.operation = op;
    m.fractional = f;
    m.position = minus(times(to_cartesian, f), *cog);
    index.add(f, fw.molecules.size());
    fw.molecules.push_back(m);
  };
  add(Operation{});
  for (const Operation& coset : cosets) {
    const Vec3 f = coset.apply(fw.centre);
    Vec3 wrapped{};
    for (int axis = 0; axis < 3; ++axis) {
      wrapped[axis] = f[axis] - std::floor(f[axis] + same_centre);
    }
    if (!in_one_cell.find(wrapped)) {
      in_one_cell.add(wrapped, fw.molecules_per_cell++);
    }
    std::array<int, 3> first{}, last{};
    for (int axis = 0; axis < 3; ++axis) {
      first[axis] = static_cast<int>(std::ceil(low[axis] - f[axis] - edge_tolerance));
      last[axis] = static_cast<int>(std::floor(high[axis] - f[axis] + edge_tolerance));
    }
    for (int i = first[0]; i <= last[0]; ++i) {
      for (int j = first[1]; j <= last[1]; ++j) {
        for (int k = first[2]; k <= last[2]; ++k) {
          Operation op = coset;
          op.translation[0] += i;
          op.translation[1] += j;
          op.translation[2] += k;
          add(op);
        }
      }
    }
  }

  // Every molecule with each unit's partner: h(M) and h(g(M)) are related as
  // M and g(M) are.
  std::set<std::pair<std::size_t, std::size_t>> paired;
  for (std::size_t m = 0; m < fw.molecules.size(); ++m) {
    for (std::size_t u = 0; u < unit_ops.size(); ++u) {
      if (!unit_ops[u]) {
        continue;
      }
      const Vec3 partner = compose(fw.molecules[m].operation, *unit_ops[u]).apply(fw.centre);
      const std::optional<std::size_t> other = index.find(partner);
      if (!other || *other == m) {
        continue;
      }
      const auto key = std::minmax(m, *other);
      if (!paired.insert(key).second) {
        continue;
      }
      FrameworkPair pair;
      pair.first = key.first;
      pair.second = key.second;
      pair.unit = u;
      pair.distance =
          length(minus(fw.molecules[key.second].position, fw.molecules[key.first].position));
      fw.pairs.push_back(pair);
    }
  }
  return fw;
}

std::vector<std::size_t> units_outside(const report::Report& report,
                                       const std::vector<Operation>& symmetry) {
  std::set<CosetKey> cosets;
  for (const Operation& op : symmetry) {
    cosets.insert(coset_key(reduced(op)));
  }
  std::vector<std::size_t> outside;
  for (std::size_t k = 0; k < report.units.size(); ++k) {
    const std::optional<Operation> op = unit_operation(report.units[k]);
    if (op && crystallographic(*op) && !cosets.count(coset_key(reduced(*op)))) {
      outside.push_back(k);
    }
  }
  return outside;
}

json framework_data(const Framework& fw, const report::Report& report) {
  json out;
  out["available"] = fw.unavailable.empty();
  out["reason"] = fw.unavailable;
  if (!fw.unavailable.empty()) {
    return out;
  }
  out["crystal_symmetry"] = fw.crystal_symmetry;
  out["molecules_per_cell"] = fw.molecules_per_cell;
  out["centre"] = vec_json(fw.centre);
  out["cell_vectors"] =
      json::array({vec_json(fw.cell[0]), vec_json(fw.cell[1]), vec_json(fw.cell[2])});
  json blocks = json::array();
  for (const auto& axis : fw.blocks) {
    json sizes = json::array();
    for (const auto& block : axis) {
      sizes.push_back(json::array({block[0], block[1]}));
    }
    blocks.push_back(std::move(sizes));
  }
  out["blocks"] = std::move(blocks);
  json axes;
  const report::Orientation& o = report.orientation;
  for (const auto& [name, axis] :
       {std::pair{"VL", &o.vl}, std::pair{"VS", &o.vs}, std::pair{"VV", &o.vv}}) {
    const std::optional<Vec3> v = field_vector(axis->direction);
    axes[name] = v ? vec_json(*v) : json(nullptr);
  }
  out["axes"] = std::move(axes);

  // The central molecule's atoms, Cartesian, around its centre.
  const Vec3 origin = fw.molecules.front().position;  // zero, up to rounding
  json atoms = json::array();
  const Mat3 to_cartesian{{{fw.cell[0][0], fw.cell[1][0], fw.cell[2][0]},
                           {fw.cell[0][1], fw.cell[1][1], fw.cell[2][1]},
                           {fw.cell[0][2], fw.cell[1][2], fw.cell[2][2]}}};
  const Vec3 cog = times(to_cartesian, fw.centre);
  for (const report::Atom& atom : report.atoms) {
    if (!atom.x.value || !atom.y.value || !atom.z.value) {
      continue;
    }
    const Vec3 p =
        minus(times(to_cartesian, Vec3{*atom.x.value, *atom.y.value, *atom.z.value}), cog);
    atoms.push_back({{"symbol", atom.symbol}, {"position", vec_json(minus(p, origin))}});
  }
  out["atoms"] = std::move(atoms);

  const std::optional<Mat3> to_fractional = inverse(to_cartesian);
  json molecules = json::array();
  for (const FrameworkMolecule& m : fw.molecules) {
    // The operation's rotation in Cartesian coordinates, row by row.
    const Mat3 r = times(times(to_cartesian, m.operation.rotation), *to_fractional);
    json rotation = json::array();
    rotation.get_ref<json::array_t&>().reserve(9);
    for (const Vec3& row : r) {
      for (double x : row) {
        rotation.push_back(x);
      }
    }
    json molecule = json::object();
    molecule["fractional"] = vec_json(m.fractional);
    molecule["position"] = vec_json(m.position);
    molecule["rotation"] = std::move(rotation);
    molecules.push_back(std::move(molecule));
  }
  out["molecules"] = std::move(molecules);

  // A pair is [first, second, unit, distance]: its name and energies are the
  // unit's, which the page takes from "units" rather than from a copy per pair
  // (a crystal has a thousand pairs or more).
  json pairs = json::array();
  pairs.get_ref<json::array_t&>().reserve(fw.pairs.size());
  for (const FrameworkPair& p : fw.pairs) {
    json pair = json::array();
    json::array_t& fields = pair.get_ref<json::array_t&>();
    fields.reserve(4);
    fields.emplace_back(p.first);
    fields.emplace_back(p.second);
    fields.emplace_back(p.unit);
    fields.emplace_back(p.distance);
    pairs.push_back(std::move(pair));
  }
  out["pairs"] = std::move(pairs);
  json skipped = json::array();
  for (std::size_t u : fw.skipped_units) {
    skipped.push_back(report.units[u].number.text + " " + report.units[u].name);
  }
  out["skipped_units"] = std::move(skipped);
  return out;
}

}  // namespace zelk8::view
