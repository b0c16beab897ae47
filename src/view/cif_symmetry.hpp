// The symmetry operations of the CIF a run's input was made from, for the
// framework: they place the molecules that no unit's operation reaches.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "framework.hpp"
#include "report.hpp"

namespace zelk8::view {

// A CIF that cannot serve the report: unreadable, without operations, of
// another cell, or of a symmetry that lacks one of the units' operations.
class CifError : public report::InputError {
 public:
  using report::InputError::InputError;
};

// The operations of the CIF at `path` (read as zelk8-prep reads it), checked
// against the report: the same cell, and every unit's operation among them.
std::vector<Operation> cif_operations(const std::string& path, const report::Report& report);

}  // namespace zelk8::view
