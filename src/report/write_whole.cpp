#include "write_whole.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

namespace zelk8::report {

namespace {

namespace fs = std::filesystem;

std::string reason(int error) { return error != 0 ? std::strerror(error) : "the write failed"; }

[[noreturn]] void fail(const fs::path& target, const std::string& why) {
  throw WriteError("cannot write '" + target.string() + "': " + why);
}

// Writes and closes `out`; the error number of the first failure, or 0.
int write_and_close(std::ofstream& out, std::string_view text) {
  errno = 0;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  int error = out ? 0 : (errno != 0 ? errno : EIO);
  errno = 0;
  out.close();
  if (!out && error == 0) {
    error = errno != 0 ? errno : EIO;
  }
  return error;
}

fs::path temporary_beside(const fs::path& target) {
  std::random_device random;
  const std::string tag = std::to_string(random()) + std::to_string(random());
  return target.parent_path() / ("." + target.filename().string() + ".tmp" + tag);
}

}  // namespace

void write_whole(const fs::path& target, std::string_view text) {
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) {
    fail(target, "it is a folder; name a file");
  }
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    std::ofstream out(target, std::ios::binary);
    if (!out) {
      fail(target, reason(errno));
    }
    if (const int error = write_and_close(out, text)) {
      fail(target, reason(error));
    }
    return;
  }

  const fs::path temporary = temporary_beside(target);
  errno = 0;
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) {
    fail(target, reason(errno) + " (in its folder '" + temporary.parent_path().string() + "')");
  }
  if (const int error = write_and_close(out, text)) {
    fs::remove(temporary, ec);
    fail(target, reason(error));
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    fail(target, ec.message());
  }
}

}  // namespace zelk8::report
