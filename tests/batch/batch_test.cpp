// zelk8-batch as a user runs it: on the bundled CIFs, a broken one among
// them, interrupted and run again, forced, sharded and collected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "batch_testing.hpp"
#include "crystal_run.hpp"

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;
using namespace zelk8::batch::testing;

TEST_F(BatchRun, BrokenCifAmongGoodOnesGetsItsRowAndTheRestGoOn) {
  write(root_ / "in" / "broken.cif", "data_broken\n_cell_length_a 5.0\n");
  const Result result = run({input("in"), "-o", out(), "--lattice-radius", "0"});
  EXPECT_EQ(result.status, 1) << result.err;
  const Table table = read_csv(out() / "summary.csv");
  ASSERT_EQ(table.rows.size(), 4u) << result.err;
  EXPECT_EQ(table.header, expected_columns());
  const auto& anthracene = table.row("anthracene");
  const auto& broken = table.row("broken");
  EXPECT_EQ(broken.at("status"), "prep_failed");
  EXPECT_EQ(broken.at("message").rfind("zelk8-prep: error:", 0), 0u) << broken.at("message");
  EXPECT_EQ(broken.at("etot_units"), "");
  EXPECT_EQ(anthracene.at("status"), "ok");
  EXPECT_EQ(anthracene.at("formula"), "C14H10");
  EXPECT_EQ(anthracene.at("lattice_energy"), "");
  EXPECT_EQ(table.row("naphthalene").at("status"), "ok");
  // Names in order, and the folder of each crystal holds its files.
  EXPECT_EQ(table.column("name"),
            (std::vector<std::string>{"anthracene", "broken", "naphthalene", "quinacridone"}));
  for (const char* file :
       {"zelk8.dat", "at8.dat", "mopac.dat", "coord.xyz", "map.svg", "prep.log", "result.json"})
    EXPECT_TRUE(fs::exists(out() / "anthracene" / file)) << file;
  EXPECT_TRUE(fs::exists(out() / "broken" / "prep.log"));
  EXPECT_FALSE(fs::exists(out() / "broken" / "at8.dat"));
  EXPECT_TRUE(fs::exists(out() / "index.html"));
  EXPECT_TRUE(temporaries(out()).empty());

  // etot_units and the map minima are what zelk8 prints for the same file.
  const fs::path again = root_ / "again";
  fs::create_directories(again);
  fs::copy_file(out() / "anthracene" / "zelk8.dat", again / "zelk8.dat");
  ASSERT_EQ(run_in(again, {ZELK8_BINARY}), 0);
  const std::string report = read_text(again / "at8.dat");
  EXPECT_NE(report.find("Etot = " + pad(anthracene.at("etot_units"), 10) + "\n"),
            std::string::npos);
  EXPECT_EQ(anthracene.at("map_min_evdw"), last_minimum(report, 0));
  EXPECT_EQ(anthracene.at("map_min_etot"), last_minimum(report, 1));

  // The JSON summary holds the same rows.
  const nlohmann::json json = nlohmann::json::parse(read_text(out() / "summary.json"));
  ASSERT_EQ(json.size(), 4u);
  EXPECT_EQ(json[0]["name"], "anthracene");
  EXPECT_EQ(json[0]["etot_units"].get<double>(), std::stod(anthracene.at("etot_units")));
  EXPECT_EQ(json[1]["status"], "prep_failed");
  EXPECT_TRUE(json[1]["etot_units"].is_null());
}

TEST_F(BatchRun, ManifestWithOptionsAndBadArguments) {
  write(root_ / "list.csv",
        "name,cif,options\n"
        "quin,in/quinacridone.cif,\"--charges 0.1,-0.4,-0.3,0 --no-map\"\n"
        "naph,in/naphthalene.cif,\n");
  Result result = run({(root_ / "list.csv").string(), "-o", out(), "--lattice-radius", "0"});
  ASSERT_EQ(result.status, 0) << result.err;
  const Table table = read_csv(out() / "summary.csv");
  EXPECT_EQ(table.column("name"), (std::vector<std::string>{"naph", "quin"}));
  EXPECT_EQ(table.row("quin").at("stack_unit"), "0");
  EXPECT_EQ(table.row("quin").at("map_min_etot"), "");
  EXPECT_FALSE(fs::exists(out() / "quin" / "map.svg"));
  EXPECT_NE(read_text(out() / "quin" / "zelk8.dat").find("  -0.40000  -0.30000"),
            std::string::npos);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{input("in")},                         // no -o
        {input("in"), "-o", out(), "--shard", "3/2"},                  // no such shard
        {input("in"), "-o", out(), "--jobs", "0"},                     // no workers
        {(root_ / "missing.cif").string(), "-o", out()},               // no such input
        {input("in"), "-o", out(), "--shard", "1/2", "--collect"}}) {  // two things at once
    result = run(bad);
    EXPECT_EQ(result.status, 2) << bad.back() << "\n" << result.err;
    EXPECT_NE(result.err.find("zelk8-batch"), std::string::npos) << result.err;
  }
}

TEST_F(BatchRun, InterruptedThenRunAgainLosesAndRedoesNothing) {
  // Enough crystals that the batch, which runs them in one process, is
  // still busy when the interrupt comes.
  for (int copy = 0; copy < 40; ++copy)
    fs::copy_file(root_ / "in" / "anthracene.cif",
                  root_ / "in" / ("copy" + std::to_string(copy) + ".cif"));
  const std::vector<std::string> args = {input("in"), "-o", out(), "-j", "1", "--no-map"};
  const pid_t pid = start(args, root_ / "first.err");
  // Interrupt once two crystals are complete (the lattice sums take a while).
  for (int wait = 0; wait < 3000 && complete_folders(out()) < 2; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGINT);
  const int status = finish(pid);
  const std::string first_err = read_text(root_ / "first.err");
  EXPECT_EQ(status, 130) << first_err;
  const int kept = complete_folders(out());
  EXPECT_GE(kept, 2);
  EXPECT_LT(kept, 43) << "the batch finished before it was interrupted";
  EXPECT_TRUE(temporaries(out()).empty());
  EXPECT_FALSE(fs::exists(out() / "summary.csv"));
  EXPECT_NE(first_err.find("interrupted"), std::string::npos) << first_err;

  // A folder left by a batch that was killed outright is cleared away.
  fs::create_directories(out() / ".naphthalene.tmp-stale1");
  fs::create_directories(out() / ".naphthalene.tmp-stale2" / "naphthalene");
  const Result second = run(args);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(count(second.err, " skipped\n"), kept) << second.err;
  EXPECT_TRUE(temporaries(out()).empty());
  const std::string summary = read_text(out() / "summary.csv");
  EXPECT_EQ(read_csv(out() / "summary.csv").rows.size(), 43u);

  // Nothing left to do: every crystal skipped, the same summary.
  const Result third = run(args);
  ASSERT_EQ(third.status, 0) << third.err;
  EXPECT_EQ(count(third.err, " skipped\n"), 43);
  EXPECT_EQ(read_text(out() / "summary.csv"), summary);

  // Every copy gives the same numbers as the original.
  const Table table = read_csv(out() / "summary.csv");
  for (const auto& row : table.rows) {
    if (row.at("name").rfind("copy", 0) == 0) {
      EXPECT_EQ(without_time(row, "anthracene"), without_time(table.row("anthracene")));
    }
  }
}

TEST_F(BatchRun, ForceRedoesAndChangedInputsAreRedone) {
  const std::vector<std::string> args = {input("in/naphthalene.cif"), "-o", out(),
                                         "--lattice-radius", "0"};
  ASSERT_EQ(run(args).status, 0);
  const std::string first = read_text(out() / "naphthalene" / "result.json");
  Result again = run(args);
  EXPECT_EQ(count(again.err, " skipped\n"), 1) << again.err;

  std::vector<std::string> forced = args;
  forced.push_back("--force");
  again = run(forced);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(count(again.err, " skipped\n"), 0) << again.err;
  EXPECT_EQ(count(again.err, "naphthalene ok"), 1) << again.err;
  EXPECT_EQ(without_time(read_csv(out() / "summary.csv").row("naphthalene")),
            without_time(nlohmann::json::parse(first)["summary"]));

  // Other options for the crystal: its earlier result no longer holds.
  std::vector<std::string> other = args;
  other.push_back("--no-map");
  again = run(other);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(count(again.err, " skipped\n"), 0) << again.err;
  EXPECT_EQ(read_csv(out() / "summary.csv").row("naphthalene").at("stack_unit"), "0");
  EXPECT_FALSE(fs::exists(out() / "naphthalene" / "map.svg"));
  EXPECT_TRUE(temporaries(out()).empty());
}

TEST_F(BatchRun, ShardsThenCollectGiveTheUnshardedSummary) {
  write(root_ / "in" / "broken.cif", "not a CIF at all\n");
  const std::vector<std::string> common = {"--lattice-radius", "12"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    return args;
  };
  const Result whole = run(with({input("in"), "-o", out()}));
  EXPECT_EQ(whole.status, 1) << whole.err;

  const std::string sharded = (root_ / "sharded").string();
  const Result one = run(with({input("in"), "-o", sharded, "--shard", "1/2"}));
  const Result two = run(with({input("in"), "-o", sharded, "--shard", "2/2"}));
  EXPECT_EQ(one.status + two.status, 1) << one.err << two.err;  // the broken CIF is in one
  EXPECT_FALSE(fs::exists(fs::path(sharded) / "summary.csv"));
  EXPECT_EQ(complete_folders(sharded), 4);
  const Result collected = run({"-o", sharded, "--collect"});
  EXPECT_EQ(collected.status, 1) << collected.err;
  EXPECT_EQ(without_time_column(read_text(fs::path(sharded) / "summary.csv")),
            without_time_column(read_text(out() / "summary.csv")));
  // Collecting for a list names what is missing.
  fs::remove_all(fs::path(sharded) / "naphthalene");
  const Result missing = run({input("in"), "-o", sharded, "--collect"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("naphthalene: no complete folder"), std::string::npos) << missing.err;
  EXPECT_EQ(read_csv(fs::path(sharded) / "summary.csv").rows.size(), 3u);
}

}  // namespace
}  // namespace zelk8::batch

namespace zelk8::batch {
namespace {

using namespace zelk8::batch::testing;

// Anthracene in P1 with both molecules of the cell listed: two molecules in
// the asymmetric unit, the same crystal, so the same lattice energy: the
// mean of the two molecules' halves over the neighbours of both kinds.
TEST_F(BatchRun, TwoMoleculesInTheAsymmetricUnitGiveTheCrystalsLatticeEnergy) {
  std::istringstream lines(read_text(root_ / "in" / "anthracene.cif"));
  std::string cif, second;
  bool in_operations = false, in_sites = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("_symmetry_space_group_name_H-M", 0) == 0)
      line = "_symmetry_space_group_name_H-M 'P 1'";
    if (line == "_symmetry_equiv_pos_as_xyz") {
      in_operations = true;
      cif += line + "\n'x,y,z'\n";
      continue;
    }
    if (in_operations && line.rfind("'", 0) == 0) continue;
    in_operations = false;
    if (line.rfind("_atom_site_fract_z", 0) == 0) in_sites = true;
    cif += line + "\n";
    if (in_sites && line.rfind("_", 0) != 0) {
      // The molecule moved by 1/2-x, 1/2+y, -z, under labels of its own.
      std::istringstream words(line);
      std::string label, type;
      double x, y, z;
      words >> label >> type >> x >> y >> z;
      char site[128];
      std::snprintf(site, sizeof site, "%sM %s %.5f %.5f %.5f\n", label.c_str(), type.c_str(),
                    0.5 - x, 0.5 + y, -z);
      second += site;
    }
  }
  write(root_ / "p1" / "anthracene-p1.cif", cif + second);
  const Result result = run({input("p1"), input("in/anthracene.cif"), "-o", out(), "--no-map"});
  ASSERT_EQ(result.status, 0) << result.err;
  const Table table = read_csv(out() / "summary.csv");
  const auto& p1 = table.row("anthracene-p1");
  const auto& p21 = table.row("anthracene");
  EXPECT_EQ(p1.at("status"), "ok");
  EXPECT_EQ(p1.at("message"), "");
  ASSERT_NE(p1.at("lattice_energy"), "");
  // Single-precision shells over other operations: agreement to 0.001 kJ/mol.
  EXPECT_NEAR(std::stod(p1.at("lattice_energy")), std::stod(p21.at("lattice_energy")), 1e-3);
  // Each molecule's neighbours within the radius, both counted.
  EXPECT_EQ(std::stoi(p1.at("lattice_molecules")), 2 * std::stoi(p21.at("lattice_molecules")));
  const nlohmann::json lattice =
      nlohmann::json::parse(read_text(out() / "anthracene-p1" / "lattice.json"));
  EXPECT_EQ(lattice["lattice_energy"].get<double>(), std::stod(p1.at("lattice_energy")));
  EXPECT_EQ(lattice["molecules"], std::stoi(p1.at("lattice_molecules")));
}

TEST_F(BatchRun, ACrystalThatStoppedTheBatchIsAFailedRowUntilForced) {
  const std::vector<std::string> args = {input("in"), "-o", out(), "--lattice-radius", "0"};
  // What a batch that died in the middle of naphthalene (a crash, a kill)
  // leaves: its marker, and no folder.
  fs::create_directories(out());
  write(running_marker(out().string(), "naphthalene"), "12345\n");
  Result first = run(args);
  EXPECT_EQ(first.status, 1) << first.err;
  Table table = read_csv(out() / "summary.csv");
  EXPECT_EQ(table.row("naphthalene").at("status"), "run_failed");
  EXPECT_NE(table.row("naphthalene").at("message").find("--force retries it"), std::string::npos);
  EXPECT_EQ(table.row("anthracene").at("status"), "ok");
  EXPECT_FALSE(fs::exists(out() / "naphthalene"));

  // Not retried by a plain rerun; retried with --force, which clears the marker.
  Result again = run(args);
  EXPECT_EQ(again.status, 1) << again.err;
  EXPECT_EQ(read_csv(out() / "summary.csv").row("naphthalene").at("status"), "run_failed");
  std::vector<std::string> forced = args;
  forced.push_back("--force");
  again = run(forced);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(read_csv(out() / "summary.csv").row("naphthalene").at("status"), "ok");
  // No crystal is left marked as running.
  for (const fs::directory_entry& entry : fs::directory_iterator(out()))
    EXPECT_NE(entry.path().extension(), ".running") << entry.path();
}

}  // namespace
}  // namespace zelk8::batch
