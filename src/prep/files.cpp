#include "files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "crystal.hpp"

namespace zelk8::prep {

namespace {

std::string reason(int error) {
  switch (error) {
    case ENOENT:
      return "no such file (check the name and the folder)";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "it is a folder, not a file";
    case ENOSPC:
      return "no space left on the device";
    default:
      return std::strerror(error);
  }
}

// The temporary file being written, for the interrupt handler to remove;
// empty when there is none. Changed with the signals blocked.
char pending_temp[4096];

void on_interrupt(int signal) {
  if (pending_temp[0] != '\0') ::unlink(pending_temp);
  ::_exit(128 + signal);
}

// Sets (or with nullptr clears) the pending temporary file, the interrupt
// signals held meanwhile.
void set_pending(const char* path) {
  sigset_t block, old;
  sigemptyset(&block);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, signal);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  if (path && std::strlen(path) < sizeof pending_temp)
    std::strcpy(pending_temp, path);
  else
    pending_temp[0] = '\0';
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// Writes all of `text` to `fd`; false with errno set on failure.
bool write_all(int fd, const std::string& text) {
  const char* at = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, at, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void check_readable(const std::string& path, const std::string& what) {
  std::string name = (what.empty() ? "" : what + " ") + path;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw PrepError("cannot read " + name + ": " + reason(errno));
  if (S_ISDIR(st.st_mode)) throw PrepError("cannot read " + name + ": " + reason(EISDIR));
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw PrepError("cannot read " + name + ": " + reason(errno));
  ::close(fd);
}

std::string read_whole_file(const std::string& path, const std::string& what) {
  check_readable(path, what);
  std::string name = (what.empty() ? "" : what + " ") + path;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw PrepError("cannot read " + name + ": " + reason(errno));
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      throw PrepError("cannot read " + name + ": " + reason(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

void write_whole_file(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  auto fail = [&](int error) { throw OutputError("cannot write " + path + ": " + reason(error)); };
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) fail(EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe cannot be replaced by a rename: write it in place.
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) fail(errno);
    if (!write_all(fd, text)) {
      int error = errno;
      ::close(fd);
      fail(error);
    }
    if (::close(fd) != 0) fail(errno);
    return;
  }

  fs::path target(path);
  fs::path folder = target.parent_path();
  std::string pattern =
      (folder / ("." + target.filename().string() + ".zelk8-prep.XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd >= 0) set_pending(pattern.c_str());
  if (fd < 0) fail(errno);
  auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(pattern.c_str());
    set_pending(nullptr);
    fail(error);
  };
  // The permissions a new file gets from the umask, or the previous file's.
  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) abandon(errno);
  if (!write_all(fd, text)) abandon(errno);
  if (::fsync(fd) != 0) abandon(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(pattern.c_str());
    set_pending(nullptr);
    fail(error);
  }
  if (::rename(pattern.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(pattern.c_str());
    set_pending(nullptr);
    fail(error);
  }
  set_pending(nullptr);
}

void end_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace zelk8::prep
