// Files written whole or not at all.
#include "write_whole.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "report_runs.hpp"

namespace zelk8::report::testing {
namespace {

fs::path fresh_folder(const std::string& name) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("write_whole." + name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

std::size_t entries(const fs::path& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

std::string failure(const fs::path& target, const std::string& text) {
  try {
    write_whole(target, text);
  } catch (const WriteError& error) {
    return error.what();
  }
  return "";
}

TEST(WriteWhole, ReplacesAFileAndLeavesNothingBeside) {
  const fs::path folder = fresh_folder("replace");
  write_whole(folder / "map.svg", "a much longer first version\n");
  write_whole(folder / "map.svg", "second\n");
  EXPECT_EQ(read_text(folder / "map.svg"), "second\n");
  EXPECT_EQ(entries(folder), 1u);
}

TEST(WriteWhole, FailuresNameTheFileAndLeaveThePreviousOne) {
  const fs::path folder = fresh_folder("failures");
  const std::string device = failure("/dev/full", "text");
  EXPECT_EQ(device, "cannot write '/dev/full': No space left on device");
  EXPECT_NE(failure(folder, "text").find("it is a folder"), std::string::npos);
  EXPECT_NE(failure(folder / "missing" / "map.svg", "text").find("No such file or directory"),
            std::string::npos);

  // A file size limit makes the write fail half way, as a full disk does.
  write_text(folder / "map.svg", "previous\n");
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string too_large = failure(folder / "map.svg", std::string(100000, 'x'));
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(too_large, "cannot write '" + (folder / "map.svg").string() + "': File too large");
  EXPECT_EQ(read_text(folder / "map.svg"), "previous\n");
  EXPECT_EQ(entries(folder), 1u);  // the temporary file is gone
}

// Root writes into any folder: as root, the write is tried by a child that
// has become the unprivileged user "nobody" (65534).
TEST(WriteWhole, AFolderWithoutWritePermission) {
  const fs::path folder = fresh_folder("locked");
  write_text(folder / "map.svg", "previous\n");
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  if (geteuid() != 0) {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string message = failure(folder / "map.svg", "new\n");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  } else {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) {
        _exit(3);
      }
      const std::string message = failure(folder / "map.svg", "new\n");
      _exit(message.find("Permission denied") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) {
      GTEST_SKIP() << "cannot become the user nobody to test without root's rights";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "no \"Permission denied\" error";
  }
  EXPECT_EQ(read_text(folder / "map.svg"), "previous\n");
  EXPECT_EQ(entries(folder), 1u);
}

}  // namespace
}  // namespace zelk8::report::testing
