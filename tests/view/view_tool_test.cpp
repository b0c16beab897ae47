// zelk8-view as a user runs it: on real runs of zelk8, on reports cut short,
// and on input and output it cannot use.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace zelk8::view {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Result {
  int status = -1;
  std::string errors;
};

// Runs a command with its standard error in a file; returns the exit status.
Result run(const std::string& command, const fs::path& dir) {
  const fs::path errors = dir / "stderr.txt";
  const int raw = std::system((command + " 2>'" + errors.string() + "'").c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.errors = slurp(errors);
  fs::remove(errors);
  return result;
}

// A run folder: zelk8 run on `input` (an example's zelk8.dat, possibly edited).
fs::path run_folder(const std::string& name, const std::string& input) {
  const fs::path dir =
      fs::temp_directory_path() / ("zelk8-view-tool-" + std::to_string(::getpid())) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "zelk8.dat", std::ios::binary) << input;
  run("cd '" + dir.string() + "' && '" ZELK8_BINARY "'", dir);
  return dir;
}

std::string example(const std::string& name) {
  return slurp(fs::path(ZELK8_SOURCE_DIR) / "examples" / name / "zelk8.dat");
}

std::string view(const fs::path& dir, const std::string& args) {
  return "'" ZELK8_VIEW_BINARY "' '" + dir.string() + "' " + args;
}

TEST(ViewTool, PageAndJsonOfARunWithAMap) {
  const fs::path dir = run_folder("anthracene", example("anthracene"));
  const fs::path page = dir / "page.html";
  const fs::path json_file = dir / "data.json";
  const Result r =
      run(view(dir, "-o '" + page.string() + "' --json '" + json_file.string() + "'"), dir);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  const nlohmann::json data = nlohmann::json::parse(slurp(json_file));
  EXPECT_EQ(data["crystal"], "anthracene");
  EXPECT_EQ(data["formula"], "C14H10");
  ASSERT_EQ(data["units"].size(), 14u);
  EXPECT_EQ(data["units"][4]["name"], "T05");
  EXPECT_EQ(data["units"][4]["operation_text"], "x, y-1, z");
  EXPECT_DOUBLE_EQ(data["units"][4]["Etot"].get<double>(), -17.9927);
  // The neighbours are the unit blocks of coord.xyz, 24 atoms each.
  ASSERT_EQ(data["neighbours"].size(), 14u);
  EXPECT_EQ(data["neighbours"][13]["atoms"].size(), 24u);
  const nlohmann::json& map = data["map"];
  EXPECT_DOUBLE_EQ(map["height"].get<double>(), 2.52907);
  EXPECT_EQ(map["Etot"]["values"].size(), map["s_shifts"].size());
  EXPECT_EQ(map["Etot"]["values"][0].size(), map["l_shifts"].size());
  // The page embeds the same document.
  EXPECT_NE(slurp(page).find(data.dump()), std::string::npos);
}

// A hydrogen-bonded crystal, with the files zelk8-batch leaves beside the
// report; then the same files damaged.
TEST(ViewTool, HydrogenBondsAndTheBatchFilesBesideTheReport) {
  const fs::path dir = run_folder("quinacridone", example("quinacridone"));
  const fs::path json_file = dir / "data.json";
  std::ofstream(dir / "prep.json") << R"({"warnings": ["2 atoms without bonds"], "net_charge": 0,
    "degenerate_axes": "", "hbond_units": 2, "stack_unit": 1})";
  std::ofstream(dir / "lattice.json") << R"({"lattice_energy": -171.25, "molecules": 98,
    "radius": 20.0, "net_charge": 0.0, "message": ""})";
  Result r = run(view(dir, "-o /dev/null --json '" + json_file.string() + "'"), dir);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  nlohmann::json data = nlohmann::json::parse(slurp(json_file));
  EXPECT_EQ(data["hbond_units"], 2);
  std::vector<std::string> bonded;
  for (const auto& unit : data["units"]) {
    if (!unit["hbond"]["distance"].is_null()) {
      bonded.push_back(unit["name"]);
      EXPECT_LT(unit["hbond"]["distance"].get<double>(), 2.5);
      // The contact is one of the unit's atom distances: never below the
      // shortest one the report printed.
      EXPECT_GE(unit["hbond"]["distance"].get<double>() + 1e-4, unit["d_shortest"].get<double>());
    }
  }
  EXPECT_EQ(bonded, (std::vector<std::string>{"T06", "T07"}));
  EXPECT_EQ(data["prep"]["warnings"][0], "2 atoms without bonds");
  EXPECT_DOUBLE_EQ(data["batch_lattice"]["lattice_energy"].get<double>(), -171.25);
  EXPECT_EQ(data["elements"][0]["name"], "O");

  std::ofstream(dir / "prep.json") << "{\"warnings\": [";
  r = run(view(dir, "-o /dev/null --json '" + json_file.string() + "'"), dir);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_NE(r.errors.find("prep.json is not a JSON object"), std::string::npos) << r.errors;
  data = nlohmann::json::parse(slurp(json_file));
  EXPECT_TRUE(data["prep"].is_null());
  EXPECT_NE(data["side_files_note"].get<std::string>().find("prep.json"), std::string::npos);
  EXPECT_FALSE(data["batch_lattice"].is_null());
}

// A map stacked 0.9 A apart: the overlap grid, its count, and the colours
// and minima that leave those points out.
TEST(ViewTool, OverlapPointsOfTheMap) {
  std::string input = example("anthracene");
  input = input.substr(0, input.rfind('\n', input.size() - 2) + 1) +
          " -3.0  3.0 0.25 -2.0  2.0 0.25  0.9  0.0  0.0\n";
  const fs::path dir = run_folder("overlap", input);
  const Result r =
      run(view(dir, "-o /dev/null --json '" + (dir / "data.json").string() + "'"), dir);
  ASSERT_EQ(r.status, 0) << r.errors;
  const nlohmann::json map = nlohmann::json::parse(slurp(dir / "data.json"))["map"];
  ASSERT_TRUE(map["overlap_checked"]);
  const auto& overlap = map["overlap"];
  ASSERT_EQ(overlap.size(), map["s_shifts"].size());
  std::size_t counted = 0;
  double lowest_clear = 1e300;
  for (std::size_t row = 0; row < overlap.size(); ++row) {
    ASSERT_EQ(overlap[row].size(), map["l_shifts"].size());
    for (std::size_t column = 0; column < overlap[row].size(); ++column) {
      const bool hatched = overlap[row][column];
      counted += hatched ? 1 : 0;
      EXPECT_EQ(map["EvdW"]["colours"][row][column] == "#d6d6d6", hatched) << row << " " << column;
      const auto& value = map["EvdW"]["values"][row][column];
      if (!hatched && !value.is_null()) {
        lowest_clear = std::min(lowest_clear, value.get<double>());
      }
      // Overlap points are the grid points with the shortest contacts.
      EXPECT_GT(map["shortest_contact"][row][column].get<double>(), 0.0);
    }
  }
  EXPECT_EQ(map["overlap_points"], counted);
  EXPECT_GT(counted, 400u);
  // The scale starts at the lowest point that is left, not at the artefact.
  EXPECT_GE(map["EvdW"]["scale"]["labels"][0].get<double>(), lowest_clear - 1e-3);
  EXPECT_TRUE(map["EvdW"]["minimum"]["printed_is_overlap"]);
  EXPECT_LT(map["EvdW"]["minimum"]["energy"].get<double>(), -1000.0);
  EXPECT_TRUE(map["EvdW"]["clear_minimum"].is_null());
  EXPECT_EQ(map["EvdW"]["minimum_lines"][0], "no point below zero outside the overlap points");
  EXPECT_EQ(map["Estat"]["minimum_lines"].size(), 0u);
  EXPECT_NE(map["Etot"]["overlap_line"].get<std::string>().find(std::to_string(counted) +
                                                                " overlap points"),
            std::string::npos);
}

// Quinacridone with its nitrogens made carbons: three element types, which
// the report prints as S, C and H although the first is oxygen.
TEST(ViewTool, ElementTypesByTheirAtomsOwnSymbols) {
  std::istringstream lines(example("quinacridone"));
  std::string input;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("N    ", 0) == 0) {
      continue;  // the nitrogen's element record
    }
    if (line.size() == 45 && line[3] >= '1' && line[3] <= '4') {
      const char type = line[3];
      line[3] = type == '1' ? '1' : type == '4' ? '3' : '2';
      if (type == '2') {
        line.back() = 'C';
      }
    }
    input += line + "\n";
  }
  const fs::path dir = run_folder("three-types", input);
  ASSERT_NE(slurp(dir / "at8.dat").find("\n  S       2   12"), std::string::npos)
      << "the report no longer prints its first type as S";
  const Result r =
      run(view(dir, "-o /dev/null --json '" + (dir / "data.json").string() + "'"), dir);
  ASSERT_EQ(r.status, 0) << r.errors;
  const nlohmann::json data = nlohmann::json::parse(slurp(dir / "data.json"));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"O", "O, printed as S"}, {"C", ""}, {"H", ""}};
  ASSERT_EQ(data["elements"].size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(data["elements"][k]["name"], expected[k].first);
    EXPECT_EQ(data["elements"][k]["name_note"], expected[k].second);
  }
  EXPECT_EQ(data["formula"], "C22H12O2");
}

// Ctrl-C while the page is being made (the overlap check of a 100 x 100 map
// of 180 atoms takes a while): status 130, and no file, whole or partial.
TEST(ViewTool, AnInterruptLeavesNoFile) {
  const fs::path dir = run_folder(
      "interrupt", slurp(fs::path(ZELK8_SOURCE_DIR) / "bench" / "map-180" / "zelk8.dat"));
  ASSERT_TRUE(fs::exists(dir / "at8.dat"));
  const std::string page = (dir / "page.html").string();
  const std::string errors = (dir / "stderr.txt").string();
  // The page of this report takes a tenth of a second or so: an interrupt sent
  // later and later lands, on some try, while the tool is at work. Whenever it
  // lands, the folder holds the whole page or none of it.
  bool interrupted = false;
  for (int delay_ms = 5; delay_ms <= 600 && !interrupted; delay_ms += 5) {
    fs::remove(page);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (std::freopen(errors.c_str(), "w", stderr) == nullptr) {
        _exit(99);
      }
      execl(ZELK8_VIEW_BINARY, "zelk8-view", dir.c_str(), "-o", page.c_str(), nullptr);
      _exit(98);
    }
    usleep(delay_ms * 1000);
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (!WIFEXITED(status)) continue;  // before the tool took over the signal
    const int code = WEXITSTATUS(status);
    ASSERT_TRUE(code == 0 || code == 130) << "status " << code << ": " << slurp(errors);
    if (code == 0) {
      const std::string text = slurp(page);
      EXPECT_NE(text.find("</html>"), std::string::npos) << "a page cut short";
      continue;
    }
    interrupted = true;
    EXPECT_EQ(slurp(errors), "zelk8-view: interrupted; nothing was written\n");
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_EQ(entry.path().filename().string().find("page.html"), std::string::npos)
          << entry.path();
    }
  }
  EXPECT_TRUE(interrupted) << "no interrupt landed while the tool was at work";
}

TEST(ViewTool, ReportsCutShortShowWhatTheyHold) {
  // A map record that cannot be read ends the run after the lattice sum.
  std::string input = example("anthracene");
  input.replace(input.rfind('\n', input.size() - 2) + 1, 5, "  x.0");
  const fs::path dir = run_folder("cut", input);
  const auto page_of = [&](const std::string& name) {
    const Result r = run(view(dir, "-o '" + (dir / (name + ".html")).string() + "' --json '" +
                                       (dir / (name + ".json")).string() + "'"),
                         dir);
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.errors.find("The report stops at line"), std::string::npos) << r.errors;
    return nlohmann::json::parse(slurp(dir / (name + ".json")));
  };
  nlohmann::json data = page_of("no-map");
  EXPECT_FALSE(data["complete"].get<bool>());
  EXPECT_EQ(data["units"].size(), 14u);
  EXPECT_DOUBLE_EQ(data["lattice_etot"].get<double>(), -154.58475);
  EXPECT_TRUE(data["map"].is_null());
  EXPECT_NE(data["stopped_at"]["message"].get<std::string>().find("the map heading"),
            std::string::npos)
      << data["stopped_at"];

  // A report that breaks off between two unit blocks (its disk was full)
  // shows the units before the break.
  const std::string report = slurp(dir / "at8.dat");
  const std::size_t seventh = report.find("  7TH UNIT");
  ASSERT_NE(seventh, std::string::npos);
  std::ofstream(dir / "at8.dat", std::ios::binary) << report.substr(0, seventh);
  data = page_of("six-units");
  EXPECT_EQ(data["units"].size(), 6u);
  EXPECT_TRUE(data["lattice_etot"].is_null());
  EXPECT_TRUE(data["units"][0]["share"].is_null());
  EXPECT_NE(data["stopped_at"]["message"].get<std::string>().find("unit"), std::string::npos)
      << data["stopped_at"];
}

TEST(ViewTool, BadInputAndOutputEndWithAStatusAndNoPage) {
  const fs::path base = run_folder("empty", "");
  const fs::path page = base / "out.html";

  Result r = run(view(base / "missing", "-o '" + page.string() + "'"), base);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.errors.find((base / "missing" / "at8.dat").string()), std::string::npos) << r.errors;

  // A run without units: the list's terminator comes first.
  std::string input = example("anthracene-nomap");
  const std::size_t units = input.find(" -1.0");
  const std::size_t terminator = input.find(" 99.0");
  input.erase(units, terminator - units);
  const fs::path no_units = run_folder("no-units", input);
  r = run(view(no_units, "-o '" + page.string() + "'"), base);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.errors.find("no unit blocks"), std::string::npos) << r.errors;

  // Not a report at all.
  const fs::path junk = base / "junk";
  fs::create_directories(junk);
  std::ofstream(junk / "at8.dat") << "hello\n";
  r = run(view(junk, "-o '" + page.string() + "'"), base);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.errors.find("at8.dat line 1"), std::string::npos) << r.errors;
  EXPECT_FALSE(fs::exists(page));

  // Output that cannot be written: status 3, the file named, nothing left.
  const fs::path run_dir = run_folder("nomap", example("anthracene-nomap"));
  r = run(view(run_dir, "-o /dev/full"), base);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.errors, "zelk8-view: cannot write /dev/full: no space left on the device\n");
  r = run(view(run_dir, "-o '" + (base / "no-folder" / "p.html").string() + "'"), base);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.errors.find("no-folder/p.html"), std::string::npos) << r.errors;

  // A full disk, made by a file size limit: the previous page stays, whole.
  const fs::path kept = base / "kept.html";
  std::ofstream(kept) << "previous page";
  r = run("trap '' XFSZ; ulimit -f 8; " + view(run_dir, "-o '" + kept.string() + "'"), base);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.errors, "zelk8-view: cannot write " + kept.string() + ": File too large\n");
  EXPECT_EQ(slurp(kept), "previous page");
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(base)) {
    files += entry.path().filename().string().find("kept.html") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(files, 1u) << "a temporary file was left beside the page";

  r = run(view(run_dir, "--frobnicate"), base);
  EXPECT_EQ(r.status, 2);
  fs::remove_all(base.parent_path());
}

}  // namespace
}  // namespace zelk8::view
