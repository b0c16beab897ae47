#include "summary.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch.hpp"
#include "progress.hpp"

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;

std::vector<Row> two_rows() {
  Row ok = empty_row("anthracene");
  ok["status"] = "ok";
  ok["formula"] = "C14 H10";
  ok["space_group"] = "P 1 21/a 1";
  ok["etot_units"] = "-154.58475";
  ok["map_min_evdw"] = "0.000";
  ok["element_types"] = "C H";
  ok["seconds"] = "1.5";
  Row failed = empty_row("broken");
  failed["status"] = "prep_failed";
  failed["message"] = "zelk8-prep: error: no cell, \"_cell_length_a\" <missing>";
  return {ok, failed};
}

TEST(Summary, CsvHasTheColumnsInOrderAndQuotes) {
  std::vector<Row> rows = two_rows();
  rows[0]["warnings"] = std::vector<std::string>{"first, with a comma", "second"};
  const std::string csv = summary_csv(rows);
  EXPECT_EQ(csv,
            "name,status,message,warnings,formula,space_group,atoms,element_types,net_charge,"
            "hbond_units,units,etot_units,lattice_energy,lattice_molecules,stack_unit,stack_etot,"
            "map_min_evdw,map_min_evdw_l,map_min_evdw_s,map_min_etot,map_min_etot_l,"
            "map_min_etot_s,map_overlap_points,charges,model,cutoff,lattice_radius,prep_options,"
            "seconds\n"
            "anthracene,ok,,\"first, with a comma | second\",C14 H10,P 1 21/a 1,,C H,,,,-154.58475,"
            ",,,,0.000,,,,,,,,,,,,1.5\n"
            "broken,prep_failed,\"zelk8-prep: error: no cell, \"\"_cell_length_a\"\" <missing>\","
            ",,,,,,,,,,,,,,,,,,,,,,,,,\n");
}

TEST(Summary, JsonTypesEachColumnByItsKindNotByItsText) {
  std::vector<Row> rows = two_rows();
  rows[0]["stack_etot"] = "**********";  // off-scale
  rows[0]["map_min_etot"] = "NaN";
  rows[0]["atoms"] = "24";
  rows[0]["units"] = "11.0";  // not a count: kept as printed, never a number
  rows[0]["lattice_molecules"] = "262";
  rows[0]["warnings"] = std::vector<std::string>{"w1", "w2"};
  rows[0]["charges"] = "0.1";  // a text column that reads as a number
  const nlohmann::ordered_json json = nlohmann::ordered_json::parse(summary_json(rows));
  ASSERT_EQ(json.size(), 2u);
  std::vector<std::string> keys;
  for (auto it = json[0].begin(); it != json[0].end(); ++it)
    if (it.key().find("_printed") == std::string::npos) keys.push_back(it.key());
  std::vector<std::string> names;
  for (const Column& column : summary_columns) names.emplace_back(column.name);
  EXPECT_EQ(keys, names);
  EXPECT_EQ(json[0]["etot_units"], -154.58475);
  EXPECT_EQ(json[0]["map_min_evdw"], 0.0);
  EXPECT_TRUE(json[0]["atoms"].is_number_integer());
  EXPECT_EQ(json[0]["atoms"], 24);
  EXPECT_TRUE(json[0]["lattice_molecules"].is_number_integer());
  EXPECT_EQ(json[0]["lattice_molecules"].dump(), "262");
  // Nothing off-scale or malformed becomes a number; its text stands beside it.
  for (const char* key : {"stack_etot", "map_min_etot", "units"}) {
    EXPECT_TRUE(json[0][key].is_null()) << key;
    EXPECT_EQ(json[0][std::string(key) + "_printed"], rows[0][key].text()) << key;
  }
  EXPECT_FALSE(json[0].contains("etot_units_printed"));
  EXPECT_EQ(json[0]["charges"], "0.1");
  EXPECT_EQ(json[0]["element_types"], nullptr);  // "C H" is no count
  EXPECT_EQ(json[0]["element_types_printed"], "C H");
  EXPECT_EQ(json[0]["warnings"], (nlohmann::json{"w1", "w2"}));
  EXPECT_EQ(json[1]["warnings"], nlohmann::json::array());
  EXPECT_EQ(json[0]["space_group"], "P 1 21/a 1");
  EXPECT_TRUE(json[0]["lattice_energy"].is_null());
  EXPECT_TRUE(json[1]["formula"].is_null());
  // A number-like name stays a name.
  rows[0]["name"] = "1234";
  EXPECT_EQ(nlohmann::json::parse(summary_json(rows))[0]["name"], "1234");
  // A row of an earlier version, without the newer columns, still reads.
  const Row old = Row::from_json({{"name", "old"}, {"atoms", "18"}, {"no_such_column", "x"}});
  const nlohmann::json read = nlohmann::json::parse(summary_json({old}));
  EXPECT_EQ(read[0]["atoms"], 18);
  EXPECT_TRUE(read[0]["net_charge"].is_null());
}

TEST(Summary, RowCellsAreTypedByTheirColumnsAndKeptAsTheyWerePrinted) {
  Row row("anthracene");
  row["net_charge"] = "-0.0500";
  row["stack_etot"] = "**********";
  row["atoms"] = 24LL;
  row["units"] = "11.0";
  row["formula"] = "C14 H10";
  row["warnings"] = std::vector<std::string>{"one", "two"};
  EXPECT_EQ(row["net_charge"].number(), -0.05);
  EXPECT_EQ(row["net_charge"].text(), "-0.0500");
  EXPECT_FALSE(row["stack_etot"].number());
  EXPECT_EQ(row["atoms"].count(), 24);
  EXPECT_EQ(row["atoms"].text(), "24");
  EXPECT_FALSE(row["units"].count());
  EXPECT_FALSE(row["formula"].number());
  EXPECT_EQ(cell(row, "warnings"), "one | two");
  EXPECT_THROW(row["formula"] = std::vector<std::string>{"a"}, std::logic_error);
  EXPECT_THROW(row["no_such_column"], std::out_of_range);
  // result.json keeps texts; reading them back gives the same typed row.
  const nlohmann::json kept = row.to_json();
  EXPECT_EQ(kept["atoms"], "24");
  EXPECT_EQ(kept["warnings"], (nlohmann::json{"one", "two"}));
  const Row back = Row::from_json(kept);
  EXPECT_EQ(back.to_json(), kept);
  EXPECT_EQ(back["net_charge"].number(), -0.05);
  EXPECT_EQ(summary_json({back}), summary_json({row}));
}

TEST(Summary, IndexEscapesTextAndLinksPageAndPicture) {
  std::vector<Row> rows = two_rows();
  rows[1]["message"] = "<b>&";
  const std::string page =
      index_html(rows, {{"anthracene/report.html", "anthracene/map.svg"}, {"broken/prep log", ""}});
  EXPECT_NE(page.find("<td><a href=\"anthracene/report.html\">anthracene</a></td>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"anthracene/map.svg\">map</a>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"broken/prep%20log\">broken</a>"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;&amp;"), std::string::npos);
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"failed\">"), std::string::npos);
  EXPECT_NE(page.find("<th>prep_options</th><th>seconds</th><th>picture</th>"), std::string::npos);
  // Warnings one to a line, each escaped.
  rows[0]["warnings"] = std::vector<std::string>{"a<b", "c"};
  EXPECT_NE(index_html(rows, {}).find("<td class=\"list\">a&lt;b<br>c</td>"), std::string::npos);
}

TEST(Summary, WholeFileOrNothing) {
  const fs::path dir = fs::temp_directory_path() / "zelk8-batch-whole-file";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "summary.csv").string();
  write_whole_file(target, "old\n");
  write_whole_file(target, "new text\n");
  std::ifstream in(target);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "new text\n");
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  // A folder that does not exist: an error that names the file, no leftovers.
  try {
    write_whole_file((dir / "none" / "x.csv").string(), "x");
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find((dir / "none" / "x.csv").string()), std::string::npos);
  }
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1u);  // no temporary left beside the file
  fs::remove_all(dir);
}

TEST(Shards, SlicesCoverEveryCrystalOnceInOrder) {
  for (size_t count : {0u, 1u, 5u, 7u, 100u}) {
    for (int n : {1, 2, 3, 8}) {
      size_t expected_first = 0;
      for (int k = 1; k <= n; ++k) {
        auto [first, last] = shard_slice(count, k, n);
        EXPECT_EQ(first, expected_first) << count << " " << k << "/" << n;
        EXPECT_LE(last - first, count / n + 1);
        expected_first = last;
      }
      EXPECT_EQ(expected_first, count);
    }
  }
  EXPECT_EQ(parse_shard("2/8"), std::make_pair(2, 8));
  for (const char* bad : {"0/2", "3/2", "1/0", "1", "1/2x", "a/b", "/2", "-1/2"})
    EXPECT_THROW(parse_shard(bad), InputError) << bad;
}

TEST(Progress, PlainLinesAndTheTerminalLine) {
  std::ostringstream plain;
  Progress lines(plain, 3, false);
  lines.finished("a", "ok", "", 1.25);
  lines.finished("b", "skipped", "", 9.0);
  lines.finished("c", "prep_failed", "zelk8-prep: error: no cell", 0.04);
  EXPECT_EQ(plain.str(),
            "zelk8-batch: [1/3] a ok 1.2 s\n"
            "zelk8-batch: [2/3] b skipped\n"
            "zelk8-batch: [3/3] c prep_failed 0.0 s: zelk8-prep: error: no cell\n");
  EXPECT_EQ(lines.status_line(62.0), "[3/3] 1 failed, 1m02s elapsed");

  std::ostringstream screen;
  Progress terminal(screen, 10, true);
  terminal.finished("a", "skipped", "", 0.0);
  // Done before: no rate yet, so no estimate.
  EXPECT_EQ(terminal.status_line(1.0), "[1/10] 0 failed, 1s elapsed");
  terminal.finished("b", "ok", "", 4.0);
  terminal.finished("c", "run_failed", "zelk8 exited with status 2", 4.0);
  // Two crystals run in 30 s, seven left: about 105 s.
  EXPECT_EQ(terminal.status_line(30.0), "[3/10] 1 failed, 30s elapsed, about 1m45s left");
  EXPECT_NE(screen.str().find("\r\033[Kzelk8-batch: c: run_failed: zelk8 exited with status 2\n"),
            std::string::npos);
  EXPECT_EQ(screen.str().find("b ok"), std::string::npos);  // no line per crystal
  EXPECT_EQ(duration_text(3725.0), "1h02m");
}

}  // namespace
}  // namespace zelk8::batch
