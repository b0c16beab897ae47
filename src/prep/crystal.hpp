// The crystal as a CIF describes it: cell, symmetry operations, atom sites.
#pragma once

#include <gemmi/elem.hpp>
#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>
#include <string>
#include <vector>

#include "errors.hpp"

namespace zelk8::prep {

// A problem with the input that the user can act on; the tool ends with
// status 2 and writes nothing to standard output.
struct PrepError : report::InputError {
  using report::InputError::InputError;
};

struct Site {
  std::string label;
  gemmi::Element element{gemmi::El::X};
  gemmi::Fractional fract;
  double occ = 1.0;
};

struct Crystal {
  std::string name;                       // data block name
  std::vector<std::string> other_blocks;  // the file's other data blocks
  std::vector<std::string> warnings;      // what was assumed while reading
  std::string spacegroup;                 // H-M symbol as written, may be empty
  std::string ops_source;                 // the tag or symbol the operations came from
  std::string formula_sum;                // _chemical_formula_sum, empty when absent
  std::string formula_moiety;             // _chemical_formula_moiety, empty when absent
  gemmi::UnitCell cell;
  std::vector<Site> sites;
  std::vector<gemmi::Op> ops;  // the identity comes first
};

// Reads one data block of a CIF file: the one named `block`, or else the
// first that holds a cell and atom sites. Throws PrepError when the file is
// not a CIF or the block lacks the cell, the sites or the symmetry
// operations. Missing cell angles are taken as 90 degrees, with a warning.
Crystal read_crystal(const std::string& path, const std::string& block = "");
Crystal read_crystal_text(const std::string& text, const std::string& name,
                          const std::string& block = "");

}  // namespace zelk8::prep
