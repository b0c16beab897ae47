// The options the batch tool drives: shells of units and the JSON summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "prep.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep::testing;
namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result run(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = zelk8::prep::run(args, out, err);
  return {status, out.str(), err.str()};
}

// The unit records of an input file (the lines with 12 five-column values
// and a name).
std::vector<std::string> unit_records(const std::string& input) {
  std::vector<std::string> records;
  std::istringstream in(input);
  std::string line;
  while (std::getline(in, line))
    if (line.size() > 60 && line.size() <= 64 && std::isalpha(static_cast<unsigned char>(line[60])))
      records.push_back(line);
  return records;
}

nlohmann::json json_of(const std::vector<std::string>& args, const std::string& name) {
  const std::string path = (fs::temp_directory_path() / ("zelk8-prep-" + name + ".json")).string();
  fs::remove(path);
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--json", path});
  Result r = run(all);
  EXPECT_EQ(r.status, 0) << r.err;
  return nlohmann::json::parse(slurp(path));
}

}  // namespace

// Successive shells of 20 cover every image within the cutoff once, nearest
// first; the first shell is the file written without the option.
TEST(BatchOptions, ShellsCoverEveryImageOnce) {
  const std::string cif = source_path("examples/cif/naphthalene.cif");
  std::vector<double> distances;
  std::set<std::string> operations;
  int within = 0;
  for (int skip = 0;; skip += 20) {
    nlohmann::json j = json_of({cif, "--cutoff", "14", "--skip-units", std::to_string(skip)},
                               "shell" + std::to_string(skip));
    within = j["within_cutoff"];
    if (skip > 0) {
      EXPECT_EQ(j["stack_unit"], 0) << skip;
    }
    for (const auto& unit : j["units"]) {
      EXPECT_EQ(unit["rank"], static_cast<int>(distances.size()) + 1);
      distances.push_back(unit["distance"]);
      EXPECT_TRUE(operations.insert(unit["operation"]).second) << unit["operation"];
    }
    if (j["units"].empty()) break;
    EXPECT_LT(skip, 100) << "the shells never end";
  }
  EXPECT_EQ(within, 56);
  EXPECT_EQ(static_cast<int>(distances.size()), within);
  EXPECT_TRUE(std::is_sorted(distances.begin(), distances.end()));
  EXPECT_LE(distances.back(), 14.0);

  Result plain = run({cif, "--cutoff", "14", "--no-map"});
  Result first = run({cif, "--cutoff", "14", "--skip-units", "0", "--no-map"});
  EXPECT_EQ(plain.out, first.out);
  Result second = run({cif, "--cutoff", "14", "--skip-units", "20"});
  std::vector<std::string> records = unit_records(second.out);
  ASSERT_EQ(records.size(), 20u);
  EXPECT_EQ(records[0].substr(60), "T21");
  EXPECT_EQ(second.out.substr(second.out.size() - 46),
            "    0   0.10000   0.00000   0.00000   0.00000\n");
  // The last shell is short and ends with the terminator.
  Result last = run({cif, "--cutoff", "14", "--skip-units", "40"});
  EXPECT_EQ(unit_records(last.out).size(), 16u);
  EXPECT_NE(last.out.find(" 99.0\n"), std::string::npos);
  // A stacking unit asked for is kept, with its map.
  Result stacked = run({cif, "--cutoff", "14", "--skip-units", "20", "--stack", "1"});
  const size_t map_line = stacked.out.rfind('\n', stacked.out.size() - 2) + 1;
  EXPECT_EQ(stacked.out.substr(map_line - 46, 5), "    1") << stacked.out;
  EXPECT_EQ(stacked.out.size() - map_line, 46u);
}

TEST(BatchOptions, JsonSummaryDescribesTheWrittenFile) {
  const std::string path = (fs::temp_directory_path() / "zelk8-prep-anthracene.dat").string();
  nlohmann::json j = json_of(
      {source_path("examples/cif/anthracene.cif"), "-o", path, "--cutoff", "10"}, "anthracene");
  EXPECT_EQ(j["cif"], source_path("examples/cif/anthracene.cif"));
  EXPECT_EQ(j["formula"], "C14H10");
  EXPECT_EQ(j["space_group"], "P 21/a");
  EXPECT_EQ(j["molecules_in_asymmetric_unit"], 1);
  EXPECT_EQ(j["z_prime_written"], 1);
  EXPECT_EQ(j["atoms"], 24);
  EXPECT_EQ(j["element_types"], 2);
  EXPECT_EQ(j["within_cutoff"], 14);
  EXPECT_EQ(j["unit_cutoff"], 10.0);
  // The b translation (unit 5) lies only 2.53 A off the molecular plane:
  // the stacking unit is the nearer of the a translations, 6.98 A off.
  EXPECT_EQ(j["stack_unit"], 7);
  EXPECT_EQ(j["stack_reason"],
            "T07, the nearest lattice translation 6.98 A off along VV (face to face); the nearer "
            "T05 is only 2.53 A off");
  EXPECT_EQ(j["net_charge"], 0.0);
  EXPECT_EQ(j["hbond_units"], 0);
  EXPECT_TRUE(j["hbond_unit_numbers"].empty());
  EXPECT_EQ(j["degenerate_axes"], "");
  EXPECT_EQ(j["formula_accepted"], false);
  ASSERT_EQ(j["warnings"].size(), 1u) << j["warnings"];
  EXPECT_EQ(j["warnings"][0],
            "only 14 units lie within the cutoff of 10 A; a larger --cutoff writes the nearest 20");
  const std::vector<std::string> records = unit_records(slurp(path));
  ASSERT_EQ(j["units"].size(), records.size());
  for (size_t k = 0; k < records.size(); ++k) {
    EXPECT_EQ(j["units"][k]["name"], records[k].substr(60));
    EXPECT_EQ(j["units"][k]["rank"], static_cast<int>(k) + 1);
  }
  EXPECT_EQ(j["units"][0]["distance"], 5.2384);
  EXPECT_EQ(j["units"][0]["operation"], "-x-1/2,y-1/2,-z");
  EXPECT_EQ(j["units"][4]["operation"], "x,y-1,z");

  // The warnings the summary prints are listed.
  nlohmann::json far =
      json_of({source_path("examples/cif/naphthalene.cif"), "--cutoff", "12"}, "far");
  EXPECT_EQ(far["within_cutoff"], 46);
  EXPECT_TRUE(far["warnings"].empty()) << far["warnings"];

  // A summary that cannot be written is an error, and no input file is written.
  fs::remove(path);
  Result r = run({source_path("examples/cif/anthracene.cif"), "-o", path, "--json", "/dev/full"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot write /dev/full"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path));
}

// Two molecules in the asymmetric unit: the shells rank the images of both
// together and cover each once. A shell that holds images of the second
// molecule without the marker writes the marker again, under its own (lower)
// rank, so that the program can place them.
TEST(BatchOptions, ShellsOfTwoMoleculesCoverEveryImageOnce) {
  const std::string cif = source_path("tests/prep/cif/acetylene-pair.cif");
  for (const char* molecule : {"1", "2"}) {
    SCOPED_TRACE(molecule);
    std::vector<int> ranks;
    std::vector<double> distances;
    int within = 0, repeated_markers = 0;
    for (int skip = 0, shell = 0;; ++shell) {
      nlohmann::json j = json_of({cif, "--molecule", molecule, "--cutoff", "12", "--no-map",
                                  "--skip-units", std::to_string(skip)},
                                 "pair-shell" + std::to_string(shell));
      ASSERT_EQ(j["z_prime_written"], 2);
      within = j["within_cutoff"];
      ASSERT_LE(j["units"].size(), 20u);
      bool second = false, marker = false;
      int last = skip;
      for (const auto& unit : j["units"]) {
        const int rank = unit["rank"];
        const bool is_marker = unit["name"].get<std::string>()[0] == 'M';
        marker = marker || is_marker;
        second = second || (unit["molecule"] == 2 && !is_marker);
        if (rank <= skip) {
          EXPECT_TRUE(is_marker) << unit;
          ++repeated_markers;
          continue;
        }
        ranks.push_back(rank);
        distances.push_back(unit["distance"]);
        last = std::max(last, rank);
      }
      EXPECT_TRUE(!second || marker) << "images of the second molecule without the marker";
      if (last == skip) break;
      skip = last;
      ASSERT_LT(shell, 50) << "the shells never end";
    }
    std::sort(ranks.begin(), ranks.end());
    ASSERT_EQ(static_cast<int>(ranks.size()), within);
    for (int k = 0; k < within; ++k) EXPECT_EQ(ranks[k], k + 1);
    EXPECT_GT(within, 40);
    EXPECT_GT(repeated_markers, 0);  // the case that needs the marker again was met
    for (double d : distances) EXPECT_LE(d, 12.0);
  }
}
