#include "write_whole.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "interrupts.hpp"

namespace zelk8::report {

namespace {

namespace fs = std::filesystem;

// Writes all of `text` to `fd`; 0, or the error number of the failure.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// fsync, where the file system syncs at all (a pipe or some mounts do not).
int sync_file(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno; }

// Writes a device or a pipe in place: it cannot be replaced by a rename.
int write_in_place(const fs::path& target, std::string_view text) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  int error = write_all(fd, text);
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  return error;
}

// The temporary file is made with O_EXCL and mode 0666, so that the kernel
// applies the umask; no process-wide umask() call races with other threads.
struct Temporary {
  std::string path;
  int fd = -1;
  int slot = -1;
};

int open_temporary(const fs::path& target, Temporary& temporary) {
  // An interrupt between making the file and recording it would leave it:
  // interrupts wait meanwhile, and are handled once it is recorded.
  sigset_t interrupts;
  sigset_t old;
  sigemptyset(&interrupts);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&interrupts, signal);
  }
  pthread_sigmask(SIG_BLOCK, &interrupts, &old);
  struct Restore {
    const sigset_t& old;
    ~Restore() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
  } restore{old};
  std::random_device random;
  const fs::path folder = target.parent_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary.path = (folder / ("." + target.filename().string() + ".tmp" +
                                std::to_string(random()) + std::to_string(random())))
                         .string();
    temporary.fd = ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (temporary.fd >= 0) {
      temporary.slot = detail::claim_temporary(temporary.path.c_str());
      return 0;
    }
    if (errno != EEXIST) {
      return errno;
    }
  }
  return EEXIST;
}

[[noreturn]] void fail(const fs::path& target, int error) {
  throw OutputError("cannot write " + target.string() + ": " + file_error_reason(error));
}

}  // namespace

std::string file_error_reason(int error) {
  switch (error) {
    case 0:
      return "the write failed";
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

void write_whole(const fs::path& target, std::string_view text) {
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) {
    fail(target, EISDIR);
  }
  if (exists && !S_ISREG(old.st_mode)) {
    if (const int error = write_in_place(target, text)) {
      fail(target, error);
    }
    return;
  }

  Temporary temporary;
  if (const int error = open_temporary(target, temporary)) {
    fail(target, error);
  }
  int error = 0;
  if (exists && ::fchmod(temporary.fd, old.st_mode & 07777) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = write_all(temporary.fd, text);
  }
  if (error == 0) {
    error = sync_file(temporary.fd);
  }
  if (::close(temporary.fd) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && ::rename(temporary.path.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.path.c_str());
    detail::release_temporary(temporary.slot);
    fail(target, error);
  }
  detail::release_temporary(temporary.slot);
  sync_folder(target.parent_path());
}

void sync_folder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void write_staged(const fs::path& target, std::string_view text) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    fail(target, errno);
  }
  int error = write_all(fd, text);
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(target.c_str());
    fail(target, error);
  }
}

StagedFolder::StagedFolder(const fs::path& folder)
    : folder_(folder), fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ < 0) {
    fail(folder_, errno);
  }
}

StagedFolder::~StagedFolder() { ::close(fd_); }

void StagedFolder::sync() const {
  std::vector<fs::path> files;
  std::error_code listed;
  for (fs::directory_iterator entry(folder_, listed), end; !listed && entry != end;
       entry.increment(listed)) {
    files.push_back(entry->path());
  }
  if (listed) {
    fail(folder_, listed.value());
  }
  // The files are synced side by side: the device then flushes its cache
  // once for all of them rather than once per file, and only this folder's
  // files are written (a sync of the whole file system would wait for every
  // other program's writes too).
  constexpr std::size_t at_once = 16;
  std::vector<int> errors(files.size(), 0);
  for (std::size_t first = 0; first < files.size(); first += at_once) {
    std::vector<std::jthread> syncs;
    for (std::size_t k = first; k < std::min(files.size(), first + at_once); ++k) {
      syncs.emplace_back([&files, &errors, k] {
        const int fd = ::open(files[k].c_str(), O_RDONLY | O_CLOEXEC);
        errors[k] = fd < 0 ? errno : sync_file(fd);
        if (fd >= 0) {
          ::close(fd);
        }
      });
    }
  }
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (errors[k] != 0) {
      fail(files[k], errors[k]);
    }
  }
  if (const int error = sync_file(fd_); error != 0) {
    fail(folder_, error);
  }
}

std::string read_whole(const fs::path& path, const std::string& what) {
  const std::string name = (what.empty() ? "" : what + " ") + path.string();
  auto fail_read = [&](int error) {
    return InputError("cannot read " + name + ": " + file_error_reason(error));
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw fail_read(errno);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw fail_read(error);
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw fail_read(error);
    }
    if (n == 0) {
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

}  // namespace zelk8::report
