// The stages of one run on an input held in memory, up to and including the
// map record, so that the map or the scan export can be timed or checked on
// their own (the program library's own sequence).
#pragma once

#include <string>

#include "program.hpp"

namespace zelk8_bench {

using PreparedRun = zelk8::StagedRun;

// The input must name a stacking unit.
inline PreparedRun prepare_map(const std::string& input) {
  return zelk8::run_through_map_record(input);
}

}  // namespace zelk8_bench
