// The zelk8-map executable: files, messages and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "map_reports.hpp"

namespace zelk8::map {
namespace {

namespace fs = std::filesystem;

class MapTool : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("zelk8-map-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name) << text;
  }
  std::string slurp(const std::string& name) {
    std::ostringstream text;
    text << std::ifstream(folder_ / name).rdbuf();
    return text.str();
  }
  // Runs the tool in the test folder; returns its exit status, keeps stderr.
  int run(const std::string& arguments) {
    const int status = std::system(("cd '" + folder_.string() + "' && '" ZELK8_MAP_BINARY "' " +
                                    arguments + " >stdout.txt 2>stderr.txt")
                                       .c_str());
    stderr_ = slurp("stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string slurp_example(const std::string& name) {
    std::ostringstream text;
    text << std::ifstream(fs::path(ZELK8_SOURCE_DIR) / "examples" / name / "zelk8.dat").rdbuf();
    return text.str();
  }
  fs::path folder_;
  std::string stderr_;
};

TEST_F(MapTool, DefaultNamesOutputOptionAndHelp) {
  write("at8.dat", testing::map_3x2);
  EXPECT_EQ(run(""), 0) << stderr_;
  EXPECT_EQ(slurp("map.svg").rfind("<?xml", 0), 0u);
  EXPECT_TRUE(stderr_.empty()) << stderr_;
  write("other.dat", testing::map_3x2);
  EXPECT_EQ(run("other.dat -o pictures.svg --max 40"), 0) << stderr_;
  EXPECT_NE(slurp("pictures.svg").find("clipped at 40.00 kJ/mol"), std::string::npos);
  EXPECT_EQ(run("--help"), 0);
  for (const char* option : {"Usage: zelk8-map", "-o,--output FILE=map.svg", "--max KJ",
                             "REPORT FILE=at8.dat", "--version", "Exit status"}) {
    EXPECT_NE(slurp("stdout.txt").find(option), std::string::npos) << option;
  }
  EXPECT_EQ(run("--version"), 0);
  EXPECT_EQ(slurp("stdout.txt"), "zelk8-map " ZELK8_VERSION "\n");
}

TEST_F(MapTool, StatusAndMessages) {
  write("nomap.dat", testing::report_head(0));
  write("early.dat", testing::report_head(1));
  write("scan.dat",
        testing::report_head(45) + " Map of the stacked molecule shift at Z =   3.52041\n\n");
  write("bad.dat", "    8.0000    6.0000   10.0000   90.0000   90.0000   9x.0000\n");
  write("cut.dat", testing::map_3x2.substr(0, testing::map_3x2.find(" Estat")));
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"", 2, "zelk8-map: at8.dat: cannot open the report: No such file or directory"},
      {"nomap.dat", 2, "nomap.dat: the report has no stacking shift map"},
      {"scan.dat", 2, "scan.dat: the report has the map heading (Z = 3.52041) but no tables"},
      {"early.dat", 2, "early.dat: the report ends at line 46 before the map heading: the run"},
      {"cut.dat", 2, "cut.dat: the report ends at line 55 before the Estat table"},
      {"bad.dat", 2, "bad.dat line 1: unreadable number \"9x.0000\""},
      {"nomap.dat --max 0", 2, "--max: wants a positive number of kJ/mol, not '0'"},
      {"nomap.dat -o", 2, "--output: 1 required FILE missing"},
      {"nomap.dat --max=inf", 2, "--max: wants a positive number of kJ/mol, not 'inf'"},
      {"--colour", 2, "not expected: --colour"},
      {"a.dat b.dat", 2, "not expected: b.dat"},
  };
  for (const auto& [arguments, status, message] : cases) {
    EXPECT_EQ(run(arguments), status) << arguments;
    EXPECT_NE(stderr_.find(message), std::string::npos) << arguments << ": " << stderr_;
    EXPECT_FALSE(fs::exists(folder_ / "map.svg")) << arguments;
  }
}

// Anthracene stacked 0.9 A apart: nearly every grid point puts atoms inside the
// exp-6 maximum, and the report's printed minimum is one of those points.
TEST_F(MapTool, AMapOfOverlapPoints) {
  std::string input = slurp_example("anthracene");
  const std::size_t last = input.rfind('\n', input.size() - 2);
  input = input.substr(0, last + 1) + " -3.0  3.0 0.25 -2.0  2.0 0.25  0.9  0.0  0.0\n";
  write("zelk8.dat", input);
  ASSERT_EQ(
      std::system(("cd '" + folder_.string() + "' && '" ZELK8_BINARY "' >/dev/null 2>&1").c_str()),
      0);
  ASSERT_EQ(run(""), 0) << stderr_;
  const std::string svg = slurp("map.svg");
  // The count under each panel is the number of hatched cells of that panel.
  const std::string counted = " overlap points (hatched)";
  const std::size_t at = svg.find(counted);
  ASSERT_NE(at, std::string::npos);
  const std::size_t start = svg.rfind('>', at) + 1;  // the count starts its line
  const int points = std::stoi(svg.substr(start, at - start));
  EXPECT_GT(points, 50);
  EXPECT_LT(points, 17 * 25);
  std::size_t hatched = 0;
  for (auto k = svg.find("fill=\"url(#overlap)\""); k != std::string::npos;
       k = svg.find("fill=\"url(#overlap)\"", k + 1)) {
    ++hatched;
  }
  EXPECT_EQ(hatched, 3u * static_cast<std::size_t>(points));
  EXPECT_NE(svg.find("is an overlap point"), std::string::npos);
  EXPECT_NE(svg.find("no point below zero outside the overlap points"), std::string::npos);
  EXPECT_EQ(svg.find("minimum over the non-overlap points"), std::string::npos);
}

TEST_F(MapTool, APictureThatCannotBeWrittenWhole) {
  write("at8.dat", testing::map_3x2);
  write("map.svg", "previous picture\n");
  // A file size limit stops the write half way, as a full disk would.
  const int status =
      std::system(("cd '" + folder_.string() +
                   "' && (trap '' XFSZ; ulimit -f 2; exec '" ZELK8_MAP_BINARY "') 2>stderr.txt")
                      .c_str());
  stderr_ = slurp("stderr.txt");
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3);
  EXPECT_NE(stderr_.find("zelk8-map: cannot write map.svg: File too large"), std::string::npos)
      << stderr_;
  EXPECT_EQ(slurp("map.svg"), "previous picture\n");
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    files += entry.path().filename().string().find("map.svg") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(files, 1u);  // no temporary file left beside it
  EXPECT_EQ(run("-o /dev/full"), 3);
  EXPECT_NE(stderr_.find("cannot write /dev/full: no space left on the device"), std::string::npos)
      << stderr_;
}

}  // namespace
}  // namespace zelk8::map
