#include "crystal_run.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "process.hpp"

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;

using Words = std::vector<std::string>;

TEST(ShellOptions, DropTheUnitAndMapChoicesKeepTheRest) {
  const Words options = {"--charges", "0.1,-0.4,-0.3,0",   "--cutoff", "12",         "--stack=3",
                         "--map",     "-1:1:0.5,-1:1:0.5", "--no-map", "--molecule", "2",
                         "--cutoff=8"};
  EXPECT_EQ(shell_options(options, 25.0, 40),
            (Words{"--charges", "0.1,-0.4,-0.3,0", "--molecule", "2", "--no-map", "--cutoff", "25",
                   "--skip-units", "40"}));
  EXPECT_EQ(shell_options({}, 12.5, 0),
            (Words{"--no-map", "--cutoff", "12.5", "--skip-units", "0"}));
  // Centred on one of two molecules: that one, and the images of both.
  EXPECT_EQ(shell_options({"--single", "--molecule=1", "--charges", "0,0,0,0", "--molecule", "1"},
                          25.0, 20, 2),
            (Words{"--charges", "0,0,0,0", "--molecule", "2", "--no-map", "--cutoff", "25",
                   "--skip-units", "20"}));
}

TEST(Fingerprint, ChangesWithTheCifOptionsAndRadius) {
  const fs::path cif = fs::temp_directory_path() / "zelk8-batch-fingerprint.cif";
  std::ofstream(cif) << "data_x\n";
  Crystal crystal{"x", cif.string(), {"--no-map"}};
  Settings settings;
  settings.prep_options = {"--cutoff", "12"};
  const nlohmann::json first = input_fingerprint(crystal, settings);
  EXPECT_EQ(first["prep_options"], (Words{"--cutoff", "12", "--no-map"}));
  EXPECT_EQ(input_fingerprint(crystal, settings), first);
  std::ofstream(cif) << "data_y\n";
  EXPECT_NE(input_fingerprint(crystal, settings), first);
  std::ofstream(cif) << "data_x\n";
  settings.lattice_radius = 20.0;
  EXPECT_NE(input_fingerprint(crystal, settings), first);
  settings.lattice_radius = 25.0;
  crystal.options.clear();
  EXPECT_NE(input_fingerprint(crystal, settings), first);
  // A result of an earlier row layout does not hold.
  crystal.options = {"--no-map"};
  nlohmann::json older = first;
  older["row_layout"] = row_layout - 1;
  EXPECT_EQ(input_fingerprint(crystal, settings), first);
  EXPECT_NE(input_fingerprint(crystal, settings), older);
  older.erase("row_layout");
  EXPECT_NE(input_fingerprint(crystal, settings), older);
  fs::remove(cif);
}

TEST(WorkerCpus, DisjointSlicesThatCoverEveryCpu) {
  const std::vector<int> cpus = {0, 1, 2, 4, 5, 7, 8};
  for (int jobs = 1; jobs <= static_cast<int>(cpus.size()); ++jobs) {
    std::vector<int> all;
    for (int slot = 0; slot < jobs; ++slot) {
      const std::vector<int> mine = worker_cpus(cpus, jobs, slot);
      EXPECT_FALSE(mine.empty()) << jobs << " jobs, slot " << slot;
      all.insert(all.end(), mine.begin(), mine.end());
    }
    EXPECT_EQ(all, cpus) << jobs << " jobs";
  }
  // More workers than CPUs: one CPU each, in turn.
  EXPECT_EQ(worker_cpus({3, 6}, 5, 4), std::vector<int>{3});
}

std::string read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RunCommand, StatusSignalFilesFolderAndCpus) {
  const fs::path dir = fs::temp_directory_path() / "zelk8-batch-run-command";
  fs::remove_all(dir);
  fs::create_directories(dir);
  Command command;
  command.argv = {"/bin/sh", "-c",
                  "pwd; grep Cpus_allowed_list /proc/self/status; echo oops >&2; exit 3"};
  command.directory = dir.string();
  command.stdout_path = (dir / "out").string();
  command.stderr_path = (dir / "err").string();
  const int cpu = usable_cpus().back();
  command.cpus = {cpu};
  Outcome outcome = run_command(command);
  EXPECT_EQ(outcome.status, 3);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(read(dir / "out"),
            fs::canonical(dir).string() + "\nCpus_allowed_list:\t" + std::to_string(cpu) + "\n");
  EXPECT_EQ(read(dir / "err"), "oops\n");

  command.argv = {"/bin/sh", "-c", "echo more >&2; kill -TERM $$"};
  command.append_stderr = true;
  outcome = run_command(command);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.signal, SIGTERM);
  EXPECT_EQ(read(dir / "err"), "oops\nmore\n");

  command.argv = {(dir / "no-such-program").string()};
  outcome = run_command(command);
  EXPECT_EQ(outcome.status, 127);
  EXPECT_NE(outcome.error.find("cannot run"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zelk8::batch
