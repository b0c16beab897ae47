// Files the user names: read with a reason when they cannot be, written
// whole or not at all.
#pragma once

#include <string>

#include "crystal.hpp"

namespace zelk8::prep {

// An output file that cannot be written: the tool ends with status 3.
struct OutputError : PrepError {
  using PrepError::PrepError;
};

// Throws PrepError "cannot read WHAT PATH: REASON" when `path` cannot be
// opened for reading as a regular file (missing, a folder, no permission).
void check_readable(const std::string& path, const std::string& what);

// The whole contents of a readable file (check_readable first).
std::string read_whole_file(const std::string& path, const std::string& what);

// Writes `text` to `path` under a temporary name in the same folder and
// renames it when complete, so that a failure leaves the previous file (or
// none). A target that exists and is not a regular file (a device, a pipe)
// is written in place. Throws OutputError naming the file and the reason.
void write_whole_file(const std::string& path, const std::string& text);

// An interrupt (SIGINT, or SIGTERM or SIGHUP) removes the temporary file
// being written, if any, and ends the process with 128 + the signal: 130
// for an interrupt from the keyboard.
void end_on_interrupt();

}  // namespace zelk8::prep
