// Runs the zelk8 program in a scratch folder of its own and collects what it
// wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zelk8_test {

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
  std::string report, mopac, coord, err;
  bool has_report = false, has_mopac = false, has_coord = false;
};

// A fresh folder under the test temp dir, named after the running test.
inline fs::path scratch_folder(const std::string& tag = "") {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::path(testing::TempDir()) / "zelk8_runs" /
                 (std::string(info->test_suite_name()) + "." + info->name() + tag);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Runs the program in `dir`, which already holds its files.
inline RunResult run_in(const fs::path& dir) {
  const std::string cmd = "cd '" + dir.string() + "' && '" + ZELK8_BINARY + "' 2> stderr.txt";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = read_text(dir / "stderr.txt");
  // Only plain files are read back (a test may point an output at a device).
  auto plain = [&](const char* name) { return fs::is_regular_file(fs::symlink_status(dir / name)); };
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

// Lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace zelk8_test
