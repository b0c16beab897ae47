#include "files.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    zelk8::report::write_whole(fifo, "never read\n");  // blocks in open
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
