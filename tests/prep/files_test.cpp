#include "files.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "crystal.hpp"
#include "prep_test_util.hpp"

namespace fs = std::filesystem;
using zelk8::prep::PrepError;

namespace {

std::string error_of(auto&& action) {
  try {
    action();
  } catch (const PrepError& e) {
    return e.what();
  }
  return "(no error)";
}

fs::path fresh_folder(const std::string& name) {
  fs::path dir = fs::temp_directory_path() / ("zelk8-prep-files-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The names in `dir`, to see that no temporary file is left behind.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(Files, ReadErrorsSayWhy) {
  fs::path dir = fresh_folder("read");
  EXPECT_EQ(
      error_of([&] { zelk8::prep::read_whole_file((dir / "nosuch.cif").string(), "the CIF"); }),
      "cannot read the CIF " + (dir / "nosuch.cif").string() +
          ": no such file (check the name and the folder)");
  EXPECT_EQ(error_of([&] { zelk8::prep::read_whole_file(dir.string(), "the CIF"); }),
            "cannot read the CIF " + dir.string() + ": it is a folder, not a file");
  std::ofstream(dir / "a.cif") << "data_a\n";
  EXPECT_EQ(zelk8::prep::read_whole_file((dir / "a.cif").string(), "the CIF"), "data_a\n");
  if (::geteuid() != 0) {
    ::chmod((dir / "a.cif").c_str(), 0);
    EXPECT_NE(error_of([&] {
                zelk8::prep::read_whole_file((dir / "a.cif").string(), "the CIF");
              }).find(": permission denied"),
              std::string::npos);
  }
}

TEST(Files, WritesReplaceWholeFilesOnly) {
  fs::path dir = fresh_folder("write");
  std::string target = (dir / "zelk8.dat").string();
  zelk8::prep::write_whole_file(target, "first\n");
  zelk8::prep::write_whole_file(target, "second\n");
  EXPECT_EQ(zelk8::prep::testing::slurp(target), "second\n");
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"zelk8.dat"});
  struct stat st {};
  ::stat(target.c_str(), &st);
  EXPECT_NE(st.st_mode & S_IRGRP, 0u) << "a new file keeps the permissions the umask gives";

  EXPECT_EQ(error_of([&] { zelk8::prep::write_whole_file(dir.string(), "x"); }),
            "cannot write " + dir.string() + ": it is a folder, not a file");
  std::string missing = (dir / "no" / "zelk8.dat").string();
  EXPECT_EQ(error_of([&] { zelk8::prep::write_whole_file(missing, "x"); }),
            "cannot write " + missing + ": no such file (check the name and the folder)");
  // A device is written in place, and its failure is reported.
  EXPECT_EQ(error_of([&] { zelk8::prep::write_whole_file("/dev/full", "x"); }),
            "cannot write /dev/full: no space left on the device");
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"zelk8.dat"});
}

// On a full file system the previous file stays as it was and no temporary
// file is left. Needs a small tmpfs, which only root may mount.
TEST(Files, FullDiskKeepsThePreviousFile) {
  fs::path dir = fresh_folder("full");
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  std::string target = (dir / "zelk8.dat").string();
  zelk8::prep::write_whole_file(target, "previous\n");
  std::string big(64 * 1024, 'x');
  EXPECT_EQ(error_of([&] { zelk8::prep::write_whole_file(target, big); }),
            "cannot write " + target + ": no space left on the device");
  EXPECT_EQ(zelk8::prep::testing::slurp(target), "previous\n");
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"zelk8.dat"});
  ::umount(dir.c_str());
}

// An interrupt while an output blocks (a pipe nobody reads) ends the tool
// with status 130, and one during a write leaves no temporary file behind.
TEST(Files, InterruptEndsWithStatus130) {
  fs::path dir = fresh_folder("interrupt");
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    zelk8::prep::end_on_interrupt();
    zelk8::prep::write_whole_file(fifo, "never read\n");  // blocks in open
    ::_exit(0);
  }
  ::usleep(200000);
  ASSERT_EQ(::kill(child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  fs::remove(fifo);
  EXPECT_TRUE(fs::is_empty(dir));
}
