// The companions' common base: files written whole or not at all (modes,
// failures, interrupts), files read with a reason, strict numbers, the CPUs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "interrupts.hpp"
#include "report_runs.hpp"
#include "text.hpp"
#include "write_whole.hpp"

namespace zelk8::report::testing {
namespace {

fs::path fresh_folder(const std::string& name) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("base." + name);
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
  } catch (const OutputError& error) {
    EXPECT_EQ(error.status(), exit_output);
    return error.what();
  }
  return "";
}

// Runs `write` with files limited to 4 KiB, so that a larger write fails half
// way as on a full disk.
template <class Write>
void under_small_file_limit(Write write) {
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  write();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
}

mode_t mode_of(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(WriteWhole, ReplacesAFileAndLeavesNothingBeside) {
  const fs::path folder = fresh_folder("replace");
  write_whole(folder / "map.svg", "a much longer first version\n");
  write_whole(folder / "map.svg", "second\n");
  EXPECT_EQ(read_text(folder / "map.svg"), "second\n");
  EXPECT_EQ(entries(folder), 1u);
}

// A new file gets what the umask leaves of 0666; a file replaced keeps its
// mode, whatever the umask.
TEST(WriteWhole, OneRuleForModes) {
  const fs::path folder = fresh_folder("modes");
  const mode_t old_mask = ::umask(027);
  write_whole(folder / "new.csv", "x\n");
  ::umask(old_mask);
  EXPECT_EQ(mode_of(folder / "new.csv"), 0640u);

  write_text(folder / "kept.csv", "old\n");
  ::chmod((folder / "kept.csv").c_str(), 0604);
  write_whole(folder / "kept.csv", "new\n");
  EXPECT_EQ(mode_of(folder / "kept.csv"), 0604u);
  EXPECT_EQ(read_text(folder / "kept.csv"), "new\n");
}

TEST(WriteWhole, FailuresNameTheFileAndLeaveThePreviousOne) {
  const fs::path folder = fresh_folder("failures");
  EXPECT_EQ(failure("/dev/full", "text"), "cannot write /dev/full: no space left on the device");
  EXPECT_EQ(failure(folder, "text"),
            "cannot write " + folder.string() + ": it is a folder, not a file");
  EXPECT_EQ(failure(folder / "missing" / "map.svg", "text"),
            "cannot write " + (folder / "missing" / "map.svg").string() +
                ": no such file (check the name and the folder)");

  // A file size limit makes the write fail half way, as a full disk does.
  write_text(folder / "map.svg", "previous\n");
  std::string too_large;
  under_small_file_limit(
      [&] { too_large = failure(folder / "map.svg", std::string(100000, 'x')); });
  EXPECT_EQ(too_large, "cannot write " + (folder / "map.svg").string() + ": File too large");
  EXPECT_EQ(read_text(folder / "map.svg"), "previous\n");
  EXPECT_EQ(entries(folder), 1u);  // the temporary file is gone
}

// A file of a folder that is built and then renamed whole: written in place
// with the umask's mode; a failure leaves no part of it, and a file of that
// name already there is an error, never overwritten.
TEST(WriteStaged, WholeFilesOrNoneInAFolderBuiltAside) {
  const fs::path folder = fresh_folder("staged");
  const mode_t old_mask = ::umask(027);
  write_staged(folder / "at8.dat", "report\n");
  ::umask(old_mask);
  EXPECT_EQ(mode_of(folder / "at8.dat"), 0640u);
  EXPECT_EQ(read_text(folder / "at8.dat"), "report\n");
  EXPECT_THROW(write_staged(folder / "at8.dat", "again\n"), OutputError);
  EXPECT_EQ(read_text(folder / "at8.dat"), "report\n");

  std::string message;
  under_small_file_limit([&] {
    try {
      write_staged(folder / "map.svg", std::string(100000, 'x'));
    } catch (const OutputError& error) {
      message = error.what();
    }
  });
  EXPECT_EQ(message, "cannot write " + (folder / "map.svg").string() + ": File too large");
  EXPECT_FALSE(fs::exists(folder / "map.svg"));
  EXPECT_EQ(entries(folder), 1u);

  // The folder is opened before its files are written and synced once;
  // a folder that is not there is an error naming it.
  const fs::path built = fresh_folder("staged-sync");
  const StagedFolder staged(built);
  write_staged(built / "at8.dat", "report\n");
  write_staged(built / "map.svg", "<svg/>\n");
  EXPECT_NO_THROW(staged.sync());
  EXPECT_EQ(entries(built), 2u);
  try {
    const StagedFolder missing(built / "missing");
    ADD_FAILURE() << "a missing folder was opened";
  } catch (const OutputError& error) {
    EXPECT_EQ(std::string(error.what()), "cannot write " + (built / "missing").string() +
                                             ": no such file (check the name and the folder)");
  }
}

// On a full file system the previous file stays as it was and no temporary
// file is left. Needs a small tmpfs, which only root may mount.
TEST(WriteWhole, FullDiskKeepsThePreviousFile) {
  const fs::path folder = fresh_folder("full");
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=8k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  write_whole(folder / "zelk8.dat", "previous\n");
  EXPECT_EQ(failure(folder / "zelk8.dat", std::string(64 * 1024, 'x')),
            "cannot write " + (folder / "zelk8.dat").string() + ": no space left on the device");
  EXPECT_EQ(read_text(folder / "zelk8.dat"), "previous\n");
  EXPECT_EQ(entries(folder), 1u);
  ::umount(folder.c_str());
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
    EXPECT_NE(message.find("permission denied"), std::string::npos) << message;
  } else {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) {
        _exit(3);
      }
      const std::string message = failure(folder / "map.svg", "new\n");
      _exit(message.find("permission denied") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) {
      GTEST_SKIP() << "cannot become the user nobody to test without root's rights";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "no \"permission denied\" error";
  }
  EXPECT_EQ(read_text(folder / "map.svg"), "previous\n");
  EXPECT_EQ(entries(folder), 1u);
}

// An interrupt while a large file is being written ends the process with
// status 130 and takes the temporary file with it: the folder holds the
// previous file, whole, and nothing else.
TEST(WriteWhole, AnInterruptedWriteLeavesNoTemporaryFile) {
  const fs::path folder = fresh_folder("interrupted");
  write_text(folder / "page.html", "previous\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    end_on_interrupt("interrupted\n");
    const std::string text(64 << 20, 'x');
    for (;;) {
      write_whole(folder / "page.html", text);
    }
  }
  // Wait until a temporary file exists, then interrupt.
  bool seen = false;
  for (int wait = 0; wait < 5000 && !seen; ++wait) {
    seen = entries(folder) > 1;
    if (!seen) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ASSERT_EQ(::kill(child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(seen) << "no temporary file was ever seen";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), exit_interrupted);
  EXPECT_EQ(entries(folder), 1u) << "a temporary file was left";
  const std::string text = read_text(folder / "page.html");
  EXPECT_TRUE(text == "previous\n" || text == std::string(64 << 20, 'x'));
}

TEST(ReadWhole, ReadsWholeFilesAndSaysWhyNot) {
  const fs::path folder = fresh_folder("read");
  const std::string text(200000, 'r');  // more than one read
  write_text(folder / "a.cif", text);
  EXPECT_EQ(read_whole(folder / "a.cif", "the CIF"), text);
  try {
    read_whole(folder / "none.cif", "the CIF");
    ADD_FAILURE() << "read a missing file";
  } catch (const InputError& error) {
    EXPECT_EQ(error.status(), exit_input);
    EXPECT_EQ(std::string(error.what()), "cannot read the CIF " + (folder / "none.cif").string() +
                                             ": no such file (check the name and the folder)");
  }
  try {
    read_whole(folder);
    ADD_FAILURE() << "read a folder";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot read " + folder.string() + ": it is a folder, not a file");
  }
}

TEST(Numbers, OnlyAWholeFiniteNumberIsOne) {
  EXPECT_EQ(number_of<double>("2.5"), 2.5);
  EXPECT_EQ(number_of<double>("+2.5"), 2.5);
  EXPECT_EQ(number_of<double>("-1e3"), -1000.0);
  EXPECT_EQ(number_of<int>("-12"), -12);
  for (const char* junk : {"", " 1", "1 ", "1.5x", "1,5", "+", "+-1", "++1", "nan", "inf",
                           "-Infinity", "1e999", "0x10"}) {
    EXPECT_FALSE(number_of<double>(junk)) << "'" << junk << "'";
  }
  EXPECT_FALSE(number_of<float>("1e39")) << "out of float range";
  EXPECT_FALSE(number_of<int>("1.0"));
  EXPECT_FALSE(number_of<int>("99999999999"));
  EXPECT_FALSE(number_of<long long>("12 "));

  EXPECT_EQ(parse_number<double>("4.5", "--max", "a number of kJ/mol"), 4.5);
  try {
    parse_number<int>("3x", "--jobs", "a whole number");
    ADD_FAILURE() << "accepted trailing junk";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()), "--jobs: '3x' is not a whole number");
  }
}

TEST(Cpus, TheCountIsTheAffinityMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(usable_cpu_count(), CPU_COUNT(&set));
  const std::vector<int> cpus = usable_cpus();
  EXPECT_TRUE(std::is_sorted(cpus.begin(), cpus.end()));
  for (const int cpu : cpus) {
    EXPECT_TRUE(CPU_ISSET(cpu, &set)) << cpu;
  }
}

}  // namespace
}  // namespace zelk8::report::testing
