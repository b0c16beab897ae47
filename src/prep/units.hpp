// Neighbour units: the images of the central molecule around it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "crystal.hpp"
#include "molecule.hpp"

namespace zelk8::prep {

constexpr int max_units = 20;
// The most distinct molecules the unit search keeps within the cutoff, far
// more than any molecular crystal has within 35 A.
constexpr size_t max_distinct_images = 20000;

struct Unit {
  // a11 a12 a13 a21 a22 a23 a31 a32 a33 t1 t2 t3: the fractional operation
  // that maps the central molecule's written coordinates onto the image.
  std::array<double, 12> op{};
  std::string name;       // R01, T05: R for a rotation part, T for a pure translation
  int rank = 0;           // 1 for the nearest image within the cutoff
  double distance = 0.0;  // between the centroids, Angstrom
  int symop = 0;          // index into Crystal::ops
  bool translation = false;
  bool second = false;  // an image of the second molecule (after the marker)
  bool marker = false;  // the marker unit: the second atom set as written
};

struct UnitSearch {
  // With two molecules: the second atom set as written (the second
  // molecule's image nearest to the first), atoms in the first's order.
  std::vector<gemmi::Fractional> second_set;
  std::vector<Unit> units;        // nearest first, at most max_units after the skipped ones
  int inside_cutoff = 0;          // distinct images within the cutoff
  std::vector<double> distances;  // of every one of them, nearest first
};

// Every image of the molecule under an operation and a lattice translation
// whose centroid lies within `cutoff` of the central one. Images that
// coincide with the central molecule or with a nearer (or equally near,
// earlier) image are dropped. The units are the images ranked skip + 1 to
// skip + max_units, each named by its rank.
UnitSearch find_units(const Crystal& crystal, const Molecule& molecule, double cutoff,
                      int skip = 0);

// Two molecules in the asymmetric unit: the units of the first molecule
// `first` among the images of both, nearest first within the cutoff, at
// most max_units together, written as the images of the first, the marker
// unit (the second molecule's image nearest to the first, as the second
// atom set) and the images of the second. `second` holds its atoms in the
// order of the first's. With `skip`, the units ranked skip + 1 on; when
// they hold images of the second molecule but not the marker, the marker is
// written as well, under its own rank (at most skip), in place of the 20th.
UnitSearch find_pair_units(const Crystal& crystal, const Molecule& first,
                           const std::vector<gemmi::Fractional>& second, double cutoff,
                           int skip = 0);

// Every image within a cutoff, ranked once; the units of any shell are
// taken from it.
struct UnitImages {
  std::vector<gemmi::Fractional> second_set;  // as UnitSearch::second_set
  std::vector<Unit> ranked;                   // every image, named by its rank
  std::vector<double> distances;              // of every one, nearest first
  bool pair = false;                          // two molecules (find_pair_unit_images)
};
UnitImages find_unit_images(const Crystal& crystal, const Molecule& molecule, double cutoff);
UnitImages find_pair_unit_images(const Crystal& crystal, const Molecule& first,
                                 const std::vector<gemmi::Fractional>& second, double cutoff);
// The units of a search that skips the `skip` nearest, as find_units and
// find_pair_units choose and name them.
UnitSearch take_units(const UnitImages& images, int skip);

// The operation as a triplet, e.g. "-x-1/2,y-1/2,-z".
std::string unit_triplet(const Unit& unit);

}  // namespace zelk8::prep
