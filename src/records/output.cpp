// Output files: replaced from their start, buffered by stdio, every failure
// reported as WriteError naming the file.
#include <cerrno>
#include <cstring>
#include <utility>

#include "records.hpp"

namespace records {

namespace {

[[noreturn]] void write_failure(const std::string& name, const char* what, int error) {
  throw WriteError(name + ": " + what + ": " + std::strerror(error));
}

}  // namespace

OutputFile::OutputFile(std::string name) : name_(std::move(name)) {
  file_ = std::fopen(name_.c_str(), "wb");
  if (file_ == nullptr) write_failure(name_, "cannot create", errno);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::write_text(std::string_view text) {
  if (file_ == nullptr) write_failure(name_, "cannot write", EBADF);
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    write_failure(name_, "cannot write", errno != 0 ? errno : EIO);
  }
}

void OutputFile::flush() {
  if (file_ == nullptr) write_failure(name_, "cannot write", EBADF);
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) {
    write_failure(name_, "cannot write", errno != 0 ? errno : EIO);
  }
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  std::FILE* file = std::exchange(file_, nullptr);
  errno = 0;
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  const int flush_error = errno;
  const bool closed = std::fclose(file) == 0;
  if (!flushed) write_failure(name_, "cannot write", flush_error != 0 ? flush_error : EIO);
  if (!closed) write_failure(name_, "cannot close", errno != 0 ? errno : EIO);
}

}  // namespace records
