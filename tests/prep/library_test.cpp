// prep as a library: prepare() is what the tool prints and writes, and the
// lattice shells found once on the crystal are the inputs the tool writes
// shell by shell.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "crystal.hpp"
#include "prep.hpp"
#include "prep_test_util.hpp"

using namespace zelk8::prep;
using namespace zelk8::prep::testing;

namespace {

Options options_of(std::vector<std::string> args) {
  Command command = parse_command_line(args);
  return command.options;
}

TEST(Prepare, IsWhatTheToolWritesAndPrints) {
  const std::string json = write_temp_file("library.json", "");
  for (const std::string& path :
       {source_path("examples/cif/naphthalene.cif"),
        source_path("tests/prep/cif/acetylene-pair.cif"), source_path("tests/prep/cif/urea.cif")}) {
    SCOPED_TRACE(path);
    std::ostringstream out, err;
    ASSERT_EQ(run({path, "--json", json}, out, err), 0);
    const Prepared prepared = prepare(read_crystal(path), options_of({path}));
    EXPECT_EQ(prepared.input, out.str());
    std::string printed = prepared.summary_text;
    for (const std::string& text : prepared.warnings)
      printed += "zelk8-prep: warning: " + text + "\n";
    EXPECT_EQ(printed, err.str());
    EXPECT_EQ(prepared.json(), slurp(json));
    // The typed summary says what the file says.
    const nlohmann::json file = nlohmann::json::parse(slurp(json));
    EXPECT_EQ(prepared.summary.units.size(), file["units"].size());
    EXPECT_EQ(prepared.summary.stack_unit, file["stack_unit"].get<int>());
    EXPECT_EQ(prepared.summary.warnings, prepared.warnings);
  }
}

TEST(Prepare, RefusesWhatTheToolRefuses) {
  const std::string path = source_path("tests/prep/cif/short-bond.cif");
  std::ostringstream out, err;
  ASSERT_EQ(run({path}, out, err), 2);
  try {
    prepare(read_crystal(path), options_of({path}));
    FAIL() << "prepare accepted " << path;
  } catch (const PrepError& error) {
    EXPECT_EQ("zelk8-prep: error: " + std::string(error.what()) + "\n", err.str());
  }
}

// Every shell's input is the one the tool writes with that shell's options,
// and the shells together hold every molecule within the radius once.
void expect_shells_as_written(const std::string& path, const std::vector<std::string>& extra,
                              int molecule) {
  SCOPED_TRACE(path + " molecule " + std::to_string(molecule));
  const Crystal crystal = read_crystal(path);
  std::vector<std::string> args = {path, "--stack", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  const LatticeShells lattice = lattice_shell_inputs(crystal, options_of(args), 12.0, molecule);
  ASSERT_GT(lattice.shells.size(), 1u);
  std::set<int> summed;
  for (const LatticeShell& shell : lattice.shells) {
    std::vector<std::string> shell_args = {path, "--no-map",     "--cutoff",
                                           "12", "--skip-units", std::to_string(shell.skip)};
    shell_args.insert(shell_args.end(), extra.begin(), extra.end());
    if (molecule) {
      shell_args.push_back("--molecule");
      shell_args.push_back(std::to_string(molecule));
    }
    const Prepared written = prepare(crystal, options_of(shell_args));
    EXPECT_EQ(shell.input, written.input) << "shell after " << shell.skip;
    ASSERT_EQ(shell.ranks.size(), written.summary.units.size());
    for (size_t k = 0; k < shell.ranks.size(); ++k) {
      EXPECT_EQ(shell.ranks[k], written.summary.units[k].rank);
      if (shell.ranks[k] > shell.skip) {
        EXPECT_TRUE(summed.insert(shell.ranks[k]).second);
      }
    }
    EXPECT_EQ(lattice.within, written.summary.within_cutoff);
  }
  EXPECT_EQ(static_cast<int>(summed.size()), lattice.within);
  EXPECT_EQ(*summed.rbegin(), lattice.within);
}

TEST(LatticeShells, AreTheInputsTheToolWritesShellByShell) {
  expect_shells_as_written(source_path("examples/cif/naphthalene.cif"), {}, 0);
  expect_shells_as_written(source_path("tests/prep/cif/urea.cif"), {"--model", "x23"}, 0);
  for (int molecule : {1, 2})
    expect_shells_as_written(source_path("tests/prep/cif/acetylene-pair.cif"), {}, molecule);
}

}  // namespace
