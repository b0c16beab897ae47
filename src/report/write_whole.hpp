// Writing a file that a user keeps: whole or not at all.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelk8::report {

// A file that could not be written; the message names it and gives the reason.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `text` to `target` through a temporary file beside it, renamed over
// the target once complete, so that a failure (a full disk, no permission, an
// interrupt) leaves the previous file or none, never part of one. A target
// that exists and is neither a regular file nor a folder (a device such as
// /dev/stdout, a pipe) is written directly. Throws WriteError.
void write_whole(const std::filesystem::path& target, std::string_view text);

}  // namespace zelk8::report
