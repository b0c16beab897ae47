// The whole program on the bundled crystals and on broken inputs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string_view>

#include "run_helpers.hpp"

namespace zelk8::testing {
namespace {

// The lattice sum of the "Etot = " total line.
double lattice_sum(const std::string& report) {
  const auto at = report.find("Etot = ", report.find("Intermolecular potentials"));
  const auto total = report.find("\n", at);
  // The unit blocks also hold "Etot = "; the total is the last before the map.
  auto last = at;
  for (auto p = at; p != std::string::npos && p < report.find(" Map of");
       p = report.find("Etot = ", p + 1)) {
    last = p;
  }
  (void)total;
  return std::atof(report.c_str() + last + 7);
}

std::vector<double> unit_energies(const std::string& report) {
  std::vector<double> e;
  for (const auto& line : lines_of(report)) {
    const auto at = line.find("   Etot = ");
    if (at != std::string::npos && line.rfind("     (", 0) == 0)
      e.push_back(std::atof(line.c_str() + at + 10));
  }
  return e;
}

TEST(Run, LatticeSumsAgreeWithIndependentDoublePrecisionValues) {
  // Independent double-precision evaluations of the same model and units
  // (shared crystal data README); single precision agrees to about 0.01.
  const struct {
    const char* example;
    double etot;
  } cases[] = {{"anthracene", -154.585}, {"naphthalene", -117.739}, {"quinacridone", -183.082}};
  for (const auto& [example, etot] : cases) {
    const RunResult r = run_program(example_input(example), std::string("-") + example);
    ASSERT_EQ(r.status, 0) << example << ": " << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NEAR(lattice_sum(r.report), etot, 0.015) << example;
  }
}

TEST(Run, AnthraceneReportOpensWithTheCellAndTheAtomList) {
  const std::string input = example_input("anthracene");
  const RunResult r = run_program(input);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto report = lines_of(r.report);
  const auto in = lines_of(input);
  EXPECT_EQ(report[0], "    8.5620    6.0380   11.1840   90.0000  124.7000   90.0000");
  for (int i = 1; i <= 24; ++i) {
    // The symbol is echoed in its four columns, trailing blanks included.
    EXPECT_EQ(report[i], (in[i] + "   ").substr(0, 48)) << "atom " << i;
  }
  EXPECT_EQ(report[25], "");
  EXPECT_EQ(report[26], "  Atom       NEL NOBL     Emin      R0    0.0000");
  EXPECT_EQ(report[29], "  Sum    24   66   66   14   24    0   24");
  EXPECT_EQ(r.mopac, " AM1 1SCF VECTORS XYZ\n\n\n");

  // The nearest pairs of the independent evaluation.
  const auto e = unit_energies(r.report);
  ASSERT_EQ(e.size(), 14u);
  for (double expected : {-21.828, -17.993}) {
    EXPECT_TRUE(
        std::any_of(e.begin(), e.end(), [&](double v) { return std::abs(v - expected) < 0.01; }))
        << "no unit near " << expected;
  }
  // Every hydrogen carries +charge_h: the Molecular Coordinates lines of
  // element 2 end in a charge of 0.10000.
  int hydrogens = 0;
  for (const auto& line : report) {
    if (line.size() == 57 && line.rfind("   2 ", 0) == 0) {
      EXPECT_EQ(line.substr(35, 10), "   0.10000") << line;
      ++hydrogens;
    }
  }
  EXPECT_EQ(hydrogens, 10);
}

TEST(Run, StackUnitZeroEndsWithTheTotalLineAndLeavesCoordAlone) {
  const fs::path dir = scratch_folder();
  write_text(dir / "zelk8.dat", example_input("anthracene-nomap"));
  write_text(dir / "coord.xyz", "old coordinates\n");
  const RunResult r = run_in(dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.coord, "old coordinates\n");
  const auto lines = lines_of(r.report);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], std::string(51, ' ') + "Etot = -154.58475");
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(r.report.find("Map of"), std::string::npos);
}

TEST(Run, ScanExportWritesTheCentralBlockAndTheShiftedLastUnit) {
  const RunResult r = run_program(example_input("anthracene-scan"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.report.substr(r.report.rfind("\n Map of") + 1),
            " Map of the stacked molecule shift at Z =   0.00000\n\n");
  const auto coord = lines_of(r.coord);
  // Count line: 24 atoms x (14 units + the central molecule).
  EXPECT_EQ(coord[0], "360");
  EXPECT_EQ(coord[1], "");
  // Central molecule, 14 units, central block again, then the grid:
  // VL -1, -0.5, 0, 0.5, 1 by VS 0, 0.5: ten grid points.
  const std::size_t grid_lines = 10 * 25;
  ASSERT_EQ(coord.size(), 2 + 24 * 15 + 24 + grid_lines);
  for (int k = 0; k < 24; ++k) EXPECT_EQ(coord[2 + k], coord[2 + 24 * 15 + k]);
  const std::size_t first_grid = 2 + 24 * 16;
  EXPECT_EQ(coord[first_grid], "   -1.0000    0.0000");
  EXPECT_EQ(coord[first_grid + 25], "   -0.5000    0.0000");
  EXPECT_EQ(coord[first_grid + 5 * 25], "   -1.0000    0.5000");
  EXPECT_EQ(coord[first_grid + 1].substr(0, 4), "C   ");
  EXPECT_EQ(coord[first_grid + 24].substr(0, 4), "H   ");
}

TEST(Run, MapTablesFollowTheHeightLine) {
  const RunResult r = run_program(example_input("anthracene"));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto map = r.report.substr(r.report.find(" Map of"));
  const auto lines = lines_of(map);
  // -3..3 by 0.25 is 25 columns, -2..2 by 0.25 is 17 rows.
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3].substr(0, 30), " EvdW         -3.000    -2.750");
  EXPECT_EQ(lines[3].size(), 10u + 25 * 10);
  EXPECT_EQ(lines[4].substr(0, 10), "    -2.000");
  EXPECT_EQ(lines[4].size(), 10u + 25 * 10);
  EXPECT_EQ(lines[20].substr(0, 10), "     2.000");
  EXPECT_EQ(lines[21], "");
  EXPECT_EQ(lines[22].size(), 140u);
  EXPECT_EQ(lines[22].substr(0, 110), std::string(110, ' '));
  EXPECT_EQ(lines[24].substr(0, 10), " Estat    ");
  EXPECT_EQ(lines[43].substr(0, 10), " Etot     ");
  EXPECT_EQ(lines[62].size(), 140u);
  EXPECT_EQ(lines.size(), 63u);
}

TEST(Run, ReadFailuresKeepTheReportWrittenSoFar) {
  const std::string input = example_input("anthracene");
  const auto in = lines_of(input);
  auto first_lines = [&](int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += in[i] + "\n";
    return out;
  };
  const struct {
    std::string input;
    std::string message;
    std::string report_start;  // what the report holds, or its start
  } cases[] = {
      {"", "zelk8: zelk8.dat line 1: molecule size record: end of file\n", ""},
      // stops after the atom list: the cell line is not written yet
      {first_lines(26), "zelk8: zelk8.dat line 27: element record: end of file\n", ""},
      {first_lines(28) + "    8.5620    6.0380   11.1840   9o.0000  124.7000   90.0000\n",
       "zelk8: zelk8.dat line 29: cell record: \"9o.0000\" is not a number (columns 31-40)\n", ""},
      {first_lines(29), "zelk8: zelk8.dat line 30: unit record: end of file\n",
       "    8.5620    6.0380   11.1840   90.0000  124.7000   90.0000\n"},
      {first_lines(44), "zelk8: zelk8.dat line 45: run-parameter record: end of file\n",
       "    8.5620    6.0380   11.1840   90.0000  124.7000   90.0000\n"},
      {first_lines(45), "zelk8: zelk8.dat line 46: map record: end of file\n",
       "    8.5620    6.0380   11.1840   90.0000  124.7000   90.0000\n"},
  };
  int n = 0;
  for (const auto& [text, message, report_start] : cases) {
    const RunResult r = run_program(text, "-" + std::to_string(n++));
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err, message);
    EXPECT_TRUE(r.has_report);
    EXPECT_EQ(r.report.substr(0, report_start.size()), report_start) << message;
    if (report_start.empty()) {
      EXPECT_EQ(r.report, "") << message;
    }
  }
}

// What a folder holds: every entry's name, kind, bytes and time of last
// change. Every entry is first given the same old time, so that a file
// rewritten with the same bytes still shows.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const fs::path& dir) {
  Snapshot s;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const fs::path p = entry.path();
    const auto status = fs::symlink_status(p);
    std::string what = std::to_string(static_cast<int>(status.type()));
    if (fs::is_regular_file(status)) {
      what += " " + read_text(p) + " " +
              std::to_string(fs::last_write_time(p).time_since_epoch().count());
    }
    s[p.filename().string()] = what;
  }
  return s;
}

Snapshot age_and_snapshot(const fs::path& dir) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (fs::is_regular_file(fs::symlink_status(entry.path())))
      fs::last_write_time(entry.path(), old);
  }
  return snapshot(dir);
}

// A folder holding the input and the outputs of a run of the scan example
// (at8.dat, mopac.dat and coord.xyz).
fs::path folder_with_a_report(const std::string& tag = "") {
  const fs::path dir = scratch_folder(tag);
  write_text(dir / "zelk8.dat", example_input("anthracene-scan"));
  const RunResult r = run_in(dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.has_report && r.has_mopac && r.has_coord);
  return dir;
}

TEST(Run, HelpAndVersionOpenNoFileAndOtherArgumentsAreRefused) {
  const fs::path dir = folder_with_a_report();
  const Snapshot before = age_and_snapshot(dir);
  for (const char* args : {"-h", "--help", "--version", "input.dat --help", "--version -h"}) {
    const RunResult r = run_in(dir, args);
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_EQ(r.err, "") << args;
    EXPECT_EQ(snapshot(dir), before) << args;
    const std::string version = "zelk8 " ZELK8_VERSION;
    if (std::string_view(args).starts_with("--version")) {
      EXPECT_EQ(r.out, version + "\n") << args;
    } else {
      EXPECT_TRUE(r.out.starts_with(version + ": ")) << r.out;
      for (const char* name : {"zelk8.dat", "at8.dat", "mopac.dat", "coord.xyz", "README.md"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name << " not in the help text";
    }
  }
  // Standard output that cannot be written is a failure with a message.
  if (fs::exists("/dev/full")) {
    const fs::path err = dir.string() + ".full";
    const std::string cmd = "'" ZELK8_BINARY "' --version > /dev/full 2> '" + err.string() + "'";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3);
    EXPECT_EQ(read_text(err), "zelk8: standard output: cannot write: No space left on device\n");
  }

  // Nor in a folder without input.
  const fs::path empty = scratch_folder("-empty");
  EXPECT_EQ(run_in(empty, "--help").status, 0);
  EXPECT_TRUE(fs::is_empty(empty));

  // Any other argument ends the run before a file is touched: a file named
  // there would otherwise be ignored and the folder's own crystal computed.
  for (const char* args : {"-x", "other/zelk8.dat", "zelk8.dat at8.dat", "--helpme -v --", "-H"}) {
    const RunResult r = run_in(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_TRUE(r.err.starts_with("zelk8: unexpected argument \"")) << r.err;
    EXPECT_NE(r.err.find("reads zelk8.dat in the working directory"), std::string::npos) << r.err;
    EXPECT_EQ(snapshot(dir), before) << args;
  }
}

// An input that cannot be opened ends the run before any output is
// replaced: the outputs of the run before stay, byte for byte and time.
TEST(Run, AnInputThatCannotBeOpenedKeepsThePreviousOutputs) {
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* message;
  } cases[] = {
      {"missing", [](const fs::path&) {}, "No such file or directory"},
      {"a folder", [](const fs::path& p) { fs::create_directory(p); }, "Is a directory"},
      {"a dangling link", [](const fs::path& p) { fs::create_symlink("nowhere.dat", p); },
       "No such file or directory"},
      {"a link to a folder", [](const fs::path& p) { fs::create_directory_symlink("/", p); },
       "Is a directory"},
      {"a device", [](const fs::path& p) { fs::create_symlink("/dev/null", p); },
       "not a regular file"},
      // Opened without waiting for a writer that never comes.
      {"a pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       "not a regular file"},
  };
  int n = 0;
  for (const auto& [what, make, message] : cases) {
    const fs::path dir = folder_with_a_report("-" + std::to_string(n++));
    fs::remove(dir / "zelk8.dat");
    make(dir / "zelk8.dat");
    const Snapshot before = age_and_snapshot(dir);
    const RunResult r = run_in(dir);
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.err, std::string("zelk8: zelk8.dat: ") + message + "\n") << what;
    EXPECT_EQ(snapshot(dir), before) << what;
  }
}

TEST(Run, AnUnreadableInputKeepsThePreviousOutputs) {
  const fs::path dir = folder_with_a_report();
  fs::permissions(dir / "zelk8.dat", fs::perms::none);
  // Root reads any file: as root the program runs as an unprivileged user.
  std::string as_user;
  if (::geteuid() == 0) {
    if (std::system("command -v setpriv > /dev/null") != 0)
      GTEST_SKIP() << "running as root, and setpriv is not there to run as another user";
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  const Snapshot before = age_and_snapshot(dir);
  const fs::path out = dir.string() + ".stderr";
  const std::string cmd = "cd '" + dir.string() + "' && " + as_user + "'" + ZELK8_BINARY +
                          "' > /dev/null 2> '" + out.string() + "'";
  const int raw = std::system(cmd.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (status == 126 || status == 127)
    GTEST_SKIP() << "the program cannot be started as an unprivileged user: " << read_text(out);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(read_text(out), "zelk8: zelk8.dat: Permission denied\n");
  EXPECT_EQ(snapshot(dir), before);
}

TEST(Run, MapRecordFailureLeavesTheReportEndingWithTheTotalLine) {
  std::string input = example_input("anthracene");
  input = input.substr(0, input.rfind(" -3.0"));
  const RunResult r = run_program(input);
  EXPECT_EQ(r.status, 2);
  const auto lines = lines_of(r.report);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 58), std::string(51, ' ') + "Etot = ");
  EXPECT_EQ(lines.back(), "");
}

TEST(Run, ASecondRunReplacesEveryOutputCompletely) {
  const fs::path dir = scratch_folder();
  const std::string tail(1 << 20, 'x');
  write_text(dir / "at8.dat", tail);
  write_text(dir / "mopac.dat", tail);
  write_text(dir / "coord.xyz", tail);
  write_text(dir / "zelk8.dat", example_input("anthracene"));
  const RunResult r = run_in(dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.report.find('x'), std::string::npos);
  EXPECT_EQ(r.mopac, " AM1 1SCF VECTORS XYZ\n\n\n");
  EXPECT_EQ(r.coord.find('x'), std::string::npos);
  const RunResult again = run_in(dir);
  EXPECT_EQ(again.report, r.report);
  EXPECT_EQ(again.coord, r.coord);

  // Runs whose outputs get shorter, one after another in the same folder:
  // each output equals that of a run in a fresh folder, and stack_unit 0
  // leaves the coordinates of the run before.
  std::string previous_coord;
  for (const char* example : {"anthracene-scan", "anthracene", "anthracene-nomap"}) {
    const RunResult fresh = run_program(example_input(example), std::string("-fresh-") + example);
    ASSERT_EQ(fresh.status, 0) << example << ": " << fresh.err;
    write_text(dir / "zelk8.dat", example_input(example));
    const RunResult next = run_in(dir);
    ASSERT_EQ(next.status, 0) << example << ": " << next.err;
    EXPECT_EQ(next.report, fresh.report) << example;
    EXPECT_EQ(next.mopac, fresh.mopac) << example;
    EXPECT_EQ(next.coord, fresh.has_coord ? fresh.coord : previous_coord) << example;
    previous_coord = next.coord;
  }
}

TEST(Run, AFailingWriteIsNeverStatusZero) {
  // Every output file in turn is a full device (the write fails when the
  // file is flushed) or a folder (it cannot be created). Tests may run as
  // root, for whom permissions stop nothing.
  const bool have_full = fs::exists("/dev/full");
  const struct {
    const char* file;
    const char* example;
    bool device;
    const char* message;
  } cases[] = {
      {"at8.dat", "anthracene", true, "zelk8: at8.dat: cannot write: No space left on device\n"},
      {"mopac.dat", "anthracene", true,
       "zelk8: mopac.dat: cannot write: No space left on device\n"},
      {"coord.xyz", "anthracene", true,
       "zelk8: coord.xyz: cannot write: No space left on device\n"},
      {"coord.xyz", "anthracene-scan", true,
       "zelk8: coord.xyz: cannot write: No space left on device\n"},
      {"at8.dat", "anthracene", false, "zelk8: at8.dat: cannot create: Is a directory\n"},
      {"mopac.dat", "anthracene", false, "zelk8: mopac.dat: cannot create: Is a directory\n"},
      {"coord.xyz", "anthracene", false, "zelk8: coord.xyz: cannot create: Is a directory\n"},
  };
  int n = 0;
  for (const auto& [file, example, device, message] : cases) {
    if (device && !have_full) continue;
    const fs::path dir = scratch_folder("-" + std::to_string(n++));
    write_text(dir / "zelk8.dat", example_input(example));
    if (device) {
      fs::create_symlink("/dev/full", dir / file);
    } else {
      fs::create_directory(dir / file);
    }
    const RunResult r = run_in(dir);
    EXPECT_EQ(r.status, 3) << file;
    EXPECT_EQ(r.err, message) << file;
  }
  // A read failure after which the report cannot be written still ends
  // with the write failure.
  if (have_full) {
    const fs::path dir = scratch_folder("-read-then-write");
    write_text(dir / "zelk8.dat", example_input("anthracene").substr(0, 1500));
    fs::create_symlink("/dev/full", dir / "at8.dat");
    const RunResult r = run_in(dir);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("at8.dat"), std::string::npos) << r.err;
  }
}

// The map is spread over threads; the bytes of every output must not depend
// on how many, nor on the run.
TEST(Run, SameBytesOnEveryRunWhateverTheThreadCount) {
  InProcessRunner runner;
  for (const char* example : {"anthracene", "naphthalene", "quinacridone", "anthracene-scan"}) {
    const RunResult first = run_program(example_input(example), std::string("-") + example);
    ASSERT_EQ(first.status, 0) << example << ": " << first.err;
    for (int threads : {0, 0, 1, 2, 7}) {
      const RunResult r = runner.run(example_input(example), threads);
      ASSERT_EQ(r.status, 0) << example << ": " << r.err;
      EXPECT_EQ(r.report, first.report) << example << " with " << threads << " threads";
      EXPECT_EQ(r.mopac, first.mopac) << example;
      EXPECT_EQ(r.coord, first.coord) << example << " with " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace zelk8::testing
