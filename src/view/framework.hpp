// The energy framework of a crystal: the molecules whose centres lie in a
// block of unit cells around the central molecule, and every pair of them
// that one of the report's units relates, carrying that unit's energies.
//
// The molecules are the images of the central one under the operations the
// units print, composed with each other and with the lattice's translations
// (and, when given, the crystal's own symmetry operations): the molecule
// h(M) and its partner h(g(M)) are related as M and g(M) are, so the pair
// carries unit g's energy. Everything here is in fractional coordinates of
// the report's cell and, for drawing, Cartesian coordinates of its transfer
// matrix with the central molecule's centre at the origin.
#pragma once

#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "report.hpp"

namespace zelk8::view {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;  // rows

// A crystal operation on fractional coordinates: x' = rotation x + translation.
struct Operation {
  Mat3 rotation{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  Vec3 translation{0, 0, 0};

  Vec3 apply(const Vec3& x) const;
};

// outer(inner(x)).
Operation compose(const Operation& outer, const Operation& inner);

// The unit's printed operation, or nullopt when one of its fields is
// off-scale or the unit is the marker of the second atom set.
std::optional<Operation> unit_operation(const report::Unit& unit);

// The largest block the page offers, in cells along each axis.
constexpr int largest_block = 4;

// The cells [first, last] of a block of `cells` cells along one axis around
// a centre at fractional coordinate `centre`: the cell edges nearest to
// centre - cells/2 and centre + cells/2. A molecule belongs to the block when
// its centre lies between them, both edges included.
std::array<int, 2> block_cells(double centre, int cells);

struct FrameworkMolecule {
  Operation operation;  // maps the central molecule onto this one
  Vec3 fractional{};    // the centre
  Vec3 position{};      // the centre, Cartesian (Å), relative to the central one
};

struct FrameworkPair {
  std::size_t first = 0;  // indices into the molecules, first < second
  std::size_t second = 0;
  std::size_t unit = 0;   // index into the report's units
  double distance = 0.0;  // between the centres (Å)
};

struct Framework {
  std::string unavailable;  // why no framework can be drawn; empty when one can
  Vec3 centre{};            // the central molecule's centre, fractional
  Mat3 cell{};              // a, b, c as Cartesian vectors (Å)
  // blocks[axis][cells - 1]: the cells of a block of that many cells.
  std::array<std::array<std::array<int, 2>, largest_block>, 3> blocks{};
  std::size_t molecules_per_cell = 0;        // distinct molecules the operations reach in one cell
  bool crystal_symmetry = false;             // the crystal's own operations were used
  std::vector<FrameworkMolecule> molecules;  // the central one first; those of the largest block
  std::vector<FrameworkPair> pairs;
  std::vector<std::size_t> skipped_units;  // units without a usable operation
};

// Builds the framework of the largest block. `symmetry` holds the crystal's
// own operations when they are known (they add molecules that no unit
// reaches); the units' operations are always used.
Framework build_framework(const report::Report& report,
                          const std::vector<Operation>& symmetry = {});

// The units (indices) whose operation is not one of `symmetry`'s, up to
// whole-cell translations: operations that cannot belong to that crystal.
std::vector<std::size_t> units_outside(const report::Report& report,
                                       const std::vector<Operation>& symmetry);

// The framework for the page's JSON: "available", "reason", the geometry,
// the molecules and the pairs with their units' energies.
nlohmann::json framework_data(const Framework& framework, const report::Report& report);

}  // namespace zelk8::view
