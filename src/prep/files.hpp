// Files the user names, through the companions' common whole-file reader and
// writer.
#pragma once

#include <string>

#include "crystal.hpp"
#include "interrupts.hpp"
#include "write_whole.hpp"

namespace zelk8::prep {

// An output file that cannot be written: the tool ends with status 3.
using report::OutputError;

// report::read_whole, its failure (missing, a folder, no permission) thrown
// as PrepError "cannot read WHAT PATH: REASON".
std::string read_whole_file(const std::string& path, const std::string& what);

// An interrupt (SIGINT, SIGTERM or SIGHUP) removes the temporary file being
// written, if any, and ends the process with status 130.
inline void end_on_interrupt() {
  report::end_on_interrupt("zelk8-prep: interrupted; nothing was written\n");
}

}  // namespace zelk8::prep
