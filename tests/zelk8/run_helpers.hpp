// Runs the zelk8 program in a scratch folder of its own and collects what it
// wrote.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "stages.hpp"

namespace zelk8::testing {

namespace fs = std::filesystem;

inline std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_text(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

inline std::string example_input(const std::string& name) {
  return read_text(fs::path(ZELK8_SOURCE_DIR) / "examples" / name / "zelk8.dat");
}

struct RunResult {
  int status = -1;
  std::string report, mopac, coord, out, err;
  bool has_report = false, has_mopac = false, has_coord = false;
};

// A fresh folder under the test temp dir, named after the running test.
inline fs::path scratch_folder(const std::string& tag = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::path(::testing::TempDir()) / "zelk8_runs" /
                 (std::string(info->test_suite_name()) + "." + info->name() + tag);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Runs the program in `dir`, which already holds its files, with the
// command-line arguments `args` (words for the shell). Standard output and
// error go to files beside `dir`, so that the folder holds only what the
// program itself left there.
inline RunResult run_in(const fs::path& dir, const std::string& args = "") {
  const fs::path out = dir.string() + ".stdout", err = dir.string() + ".stderr";
  const std::string cmd = "cd '" + dir.string() + "' && '" + ZELK8_BINARY + "' " + args + " > '" +
                          out.string() + "' 2> '" + err.string() + "'";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_text(out);
  r.err = read_text(err);
  // Only plain files are read back (a test may point an output at a device).
  auto plain = [&](const char* name) {
    return fs::is_regular_file(fs::symlink_status(dir / name));
  };
  if ((r.has_report = plain("at8.dat"))) r.report = read_text(dir / "at8.dat");
  if ((r.has_mopac = plain("mopac.dat"))) r.mopac = read_text(dir / "mopac.dat");
  if ((r.has_coord = plain("coord.xyz"))) r.coord = read_text(dir / "coord.xyz");
  return r;
}

// Writes `input` as zelk8.dat in a fresh folder and runs the program there.
inline RunResult run_program(const std::string& input, const std::string& tag = "") {
  const fs::path dir = scratch_folder(tag);
  write_text(dir / "zelk8.dat", input);
  return run_in(dir);
}

// Runs zelk8::run() in this process, in a folder of its own: cheaper than a
// process per run when a test makes thousands of them. Standard error goes
// to a file while a run lasts; the folder keeps the outputs of the last run.
class InProcessRunner {
 public:
  explicit InProcessRunner(const std::string& tag = "")
      : dir_(scratch_folder(tag + "-in-process")) {}

  RunResult run(const std::string& input, int map_threads = 1) {
    write_text(dir_ / "zelk8.dat", input);
    return run_existing(map_threads);
  }

  // Runs on whatever the folder holds; previous outputs are removed first.
  RunResult run_existing(int map_threads = 1) {
    for (const char* name : {"at8.dat", "mopac.dat", "coord.xyz"}) fs::remove(dir_ / name);
    const fs::path here = fs::current_path();
    const fs::path err_file = dir_ / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int fd = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 2);
    ::close(fd);
    fs::current_path(dir_);
    RunResult r;
    r.status = zelk8::run(map_threads);
    fs::current_path(here);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    r.err = read_text(err_file);
    if ((r.has_report = fs::exists(dir_ / "at8.dat"))) r.report = read_text(dir_ / "at8.dat");
    if ((r.has_mopac = fs::exists(dir_ / "mopac.dat"))) r.mopac = read_text(dir_ / "mopac.dat");
    if ((r.has_coord = fs::exists(dir_ / "coord.xyz"))) r.coord = read_text(dir_ / "coord.xyz");
    return r;
  }

  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

// Lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace zelk8::testing
