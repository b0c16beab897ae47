#include "crystal_run.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;

using Words = std::vector<std::string>;

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

}  // namespace
}  // namespace zelk8::batch
