// zelk8-batch's results folder: a summary of every crystal in it with the
// options each was made with, prep's and the lattice sum's files beside
// the report, prep's hints in the batch's words, and the exit statuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "batch_testing.hpp"
#include "contacts.hpp"
#include "report.hpp"

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;
using namespace zelk8::batch::testing;

const fs::path pyrazole_cif =
    fs::path(ZELK8_SOURCE_DIR) / "tests" / "batch" / "cif" / "pyrazole.cif";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST_F(BatchRun, TheSummaryCoversTheFolderWithEachRowsOptions) {
  ASSERT_EQ(run({input("in/naphthalene.cif"), "-o", out(), "--lattice-radius", "0", "--charges",
                 "0.1,0,0,0"})
                .status,
            0);
  const Result second = run({input("in/anthracene.cif"), "-o", out(), "--lattice-radius", "12",
                             "--prep-option=--bond-tolerance", "--prep-option=0.45"});
  ASSERT_EQ(second.status, 0) << second.err;
  const Table table = read_csv(out() / "summary.csv");
  EXPECT_EQ(table.header, expected_columns());
  ASSERT_EQ(table.column("name"), (std::vector<std::string>{"anthracene", "naphthalene"}));
  const auto& anthracene = table.row("anthracene");
  const auto& naphthalene = table.row("naphthalene");
  EXPECT_EQ(naphthalene.at("lattice_radius"), "0");
  EXPECT_EQ(naphthalene.at("prep_options"), "--charges 0.1,0,0,0");
  EXPECT_EQ(naphthalene.at("lattice_energy"), "");
  EXPECT_EQ(naphthalene.at("message"), "");  // none asked for: nothing to explain
  EXPECT_EQ(anthracene.at("lattice_radius"), "12");
  EXPECT_EQ(anthracene.at("prep_options"), "--bond-tolerance 0.45");
  for (const auto* row : {&anthracene, &naphthalene}) {
    EXPECT_EQ(row->at("model"), "mm3");          // prep's default
    EXPECT_EQ(row->at("charges"), "0.1,0,0,0");  // as the report echoes them
    EXPECT_EQ(row->at("net_charge"), "0.0000");
    EXPECT_EQ(row->at("map_overlap_points"), "0");
  }
  EXPECT_NE(anthracene.at("lattice_energy"), "");
  EXPECT_NE(read_text(out() / "index.html").find(">naphthalene</a>"), std::string::npos);

  // --model goes to prep; the row records it and the increments it chose.
  const Result fitted = run({input("in/naphthalene.cif"), "-o", out(), "--lattice-radius", "0",
                             "--model", "x23", "--force"});
  ASSERT_EQ(fitted.status, 0) << fitted.err;
  const auto x23 = read_csv(out() / "summary.csv").row("naphthalene");
  EXPECT_EQ(x23.at("model"), "x23");
  EXPECT_EQ(x23.at("prep_options"), "--model x23");
  EXPECT_NE(x23.at("charges"), "0.1,0,0,0");
  EXPECT_EQ(x23.at("net_charge"), "0.0000");

  // Counts are integers, never 24.0; no text where a number belongs.
  const nlohmann::json json = nlohmann::json::parse(read_text(out() / "summary.json"));
  ASSERT_EQ(json.size(), 2u);
  for (const nlohmann::json& row : json) {
    for (const char* key : {"atoms", "element_types", "units", "stack_unit", "map_overlap_points"})
      EXPECT_TRUE(row[key].is_number_integer()) << key << " " << row[key];
    for (const char* key : {"etot_units", "net_charge", "lattice_radius", "map_min_evdw"})
      EXPECT_TRUE(row[key].is_number()) << key << " " << row[key];
    EXPECT_TRUE(row["warnings"].is_array());
  }
  EXPECT_EQ(json[0]["lattice_molecules"].get<int>(), std::stoi(anthracene.at("lattice_molecules")));

  // prep's summary and the lattice sum, beside the report and in result.json.
  const nlohmann::json result =
      nlohmann::json::parse(read_text(out() / "anthracene" / "result.json"));
  const nlohmann::json prep = nlohmann::json::parse(read_text(out() / "anthracene" / "prep.json"));
  EXPECT_EQ(prep, result["prep"]);
  EXPECT_EQ(prep["formula"], "C14H10");
  const nlohmann::json lattice =
      nlohmann::json::parse(read_text(out() / "anthracene" / "lattice.json"));
  EXPECT_EQ(lattice, result["lattice"]);
  EXPECT_EQ(lattice["radius"], 12.0);
  EXPECT_EQ(lattice["molecules"].get<int>(), std::stoi(anthracene.at("lattice_molecules")));
  EXPECT_EQ(lattice["lattice_energy"].get<double>(), std::stod(anthracene.at("lattice_energy")));
  EXPECT_EQ(lattice["net_charge"], 0.0);
  EXPECT_EQ(lattice["message"], "");
  const nlohmann::json none =
      nlohmann::json::parse(read_text(out() / "naphthalene" / "lattice.json"));
  EXPECT_TRUE(none["lattice_energy"].is_null());
  EXPECT_EQ(none["molecules"], 0);

  // Collecting the folder gives the same table.
  const std::string summary = without_time_column(read_text(out() / "summary.csv"));
  ASSERT_EQ(run({"-o", out(), "--collect"}).status, 0);
  EXPECT_EQ(without_time_column(read_text(out() / "summary.csv")), summary);
}

TEST_F(BatchRun, AChargedMoleculeHasNoLatticeEnergyAndTheMessageSaysWhy) {
  // Three element types (N, C, H): charge_1 on each N, half of it taken from
  // each of its C neighbours; pyrazole's two N have one C each, so the
  // molecule keeps 2 x (-0.2 + 0.1) = -0.2 e.
  const Result result =
      run({pyrazole_cif.string(), "-o", out(), "--no-map", "--charges", "0.1,-0.2,0,0"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto row = read_csv(out() / "summary.csv").row("pyrazole");
  EXPECT_EQ(row.at("status"), "ok");
  EXPECT_EQ(row.at("net_charge"), "-0.2000");
  EXPECT_EQ(row.at("lattice_energy"), "");
  EXPECT_EQ(row.at("lattice_molecules"), "");
  EXPECT_NE(row.at("message").find("net charge is -0.2000 e"), std::string::npos)
      << row.at("message");
  EXPECT_NE(row.at("message").find("--charges"), std::string::npos) << row.at("message");
  EXPECT_NE(row.at("etot_units"), "");
  const nlohmann::json lattice =
      nlohmann::json::parse(read_text(out() / "pyrazole" / "lattice.json"));
  EXPECT_TRUE(lattice["lattice_energy"].is_null());
  EXPECT_EQ(lattice["net_charge"], -0.2);
  EXPECT_EQ(lattice["message"], row.at("message"));
}

TEST_F(BatchRun, PrepHintsNameTheBatchsOptionsWhichPassThrough) {
  // A partly occupied site: prep refuses it, and the batch says how to accept it.
  write(root_ / "occ" / "pyrazole-occ.cif",
        replaced(read_text(pyrazole_cif), "H1 H 0.047351 0.234796 0.506648 1.0",
                 "H1 H 0.047351 0.234796 0.506648 0.5"));
  const std::vector<std::string> args = {input("occ"),       "-o", out(), "--no-map",
                                         "--lattice-radius", "0"};
  Result result = run(args);
  EXPECT_EQ(result.status, 1) << result.err;
  auto row = read_csv(out() / "summary.csv").row("pyrazole-occ");
  EXPECT_EQ(row.at("status"), "prep_failed");
  EXPECT_NE(row.at("message").find("give --prep-option=--ignore-occupancy"), std::string::npos)
      << row.at("message");

  std::vector<std::string> accepted = args;
  accepted.push_back("--prep-option=--ignore-occupancy");
  result = run(accepted);
  ASSERT_EQ(result.status, 0) << result.err;
  row = read_csv(out() / "summary.csv").row("pyrazole-occ");
  EXPECT_EQ(row.at("status"), "ok");
  EXPECT_EQ(row.at("prep_options"), "--no-map --ignore-occupancy");
  EXPECT_NE(row.at("warnings").find("site H1 has occupancy 0.5; taken as a whole atom"),
            std::string::npos)
      << row.at("warnings");
  // Every option a warning names is one the batch takes.
  for (const char* option : {"--skip-units", "--force"})
    EXPECT_EQ(row.at("warnings").find(option), std::string::npos) << row.at("warnings");

  // Options the batch sets itself cannot be passed through.
  for (const char* reserved : {"--prep-option=--json", "--prep-option=--skip-units 20"}) {
    result = run({input("occ"), "-o", out(), reserved});
    EXPECT_EQ(result.status, 2) << reserved;
    EXPECT_NE(result.err.find("set by zelk8-batch itself"), std::string::npos) << result.err;
  }
}

TEST_F(BatchRun, VersionAndASummaryThatCannotBeWritten) {
  FILE* version = popen(ZELK8_BATCH_BINARY " --version", "r");
  ASSERT_NE(version, nullptr);
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, version), nullptr);
  EXPECT_EQ(pclose(version), 0);
  EXPECT_EQ(std::string(line), "zelk8-batch " ZELK8_VERSION "\n");

  // A folder where summary.csv should be: the crystal is kept, the summary fails.
  fs::create_directories(out() / "summary.csv");
  const Result result = run({input("in/naphthalene.cif"), "-o", out(), "--lattice-radius", "0"});
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_NE(result.err.find("summary.csv"), std::string::npos) << result.err;
  EXPECT_TRUE(fs::exists(out() / "naphthalene" / "result.json"));
  EXPECT_EQ(run({"-o", out(), "--collect"}).status, 3);
}

TEST_F(BatchRun, MapMinimaLeaveOutOverlapPoints) {
  // The copy 0.3 A above the molecule: every grid point is an overlap point,
  // where the exp-6 term has passed its maximum and the report's minimum is
  // an artefact.
  const Result result = run({input("in/anthracene.cif"), "-o", out(), "--lattice-radius", "0",
                             "--map=-3:3:0.5,-2:2:0.5,0.3"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto row = read_csv(out() / "summary.csv").row("anthracene");
  const report::Report report = report::read_report_file(out() / "anthracene" / "at8.dat");
  ASSERT_TRUE(report.map);
  const report::MapContacts contacts = report::map_contacts(report);
  ASSERT_TRUE(contacts.checked);
  EXPECT_EQ(row.at("map_overlap_points"), std::to_string(contacts.overlap_points));
  EXPECT_EQ(contacts.overlap_points, report.map->evdw.rows() * report.map->evdw.columns());
  for (const char* column : {"map_min_evdw", "map_min_evdw_l", "map_min_evdw_s", "map_min_etot"})
    EXPECT_EQ(row.at(column), "") << column;
  EXPECT_NE(
      row.at("warnings").find("the report's lowest EvdW (" + report.map->evdw_minimum.energy.text),
      std::string::npos)
      << row.at("warnings");
  EXPECT_NE(row.at("warnings").find("no other point is below zero"), std::string::npos);

  // Around the stacking partner nothing overlaps: the minima are the printed ones.
  const Result plain = run({input("in/naphthalene.cif"), "-o", out(), "--lattice-radius", "0"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const auto normal = read_csv(out() / "summary.csv").row("naphthalene");
  const std::string text = read_text(out() / "naphthalene" / "at8.dat");
  EXPECT_EQ(normal.at("map_overlap_points"), "0");
  EXPECT_EQ(normal.at("map_min_evdw"), last_minimum(text, 0));
  EXPECT_EQ(normal.at("map_min_etot"), last_minimum(text, 1));
  EXPECT_EQ(normal.at("warnings"), "");
}

}  // namespace
}  // namespace zelk8::batch
