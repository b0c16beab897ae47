#include "hints.hpp"

#include <gtest/gtest.h>

#include "crystal_run.hpp"

namespace zelk8::batch {
namespace {

// Each hint of zelk8-prep, as the batch reports it, names an option the
// batch takes: its own, or one passed through with --prep-option.
TEST(BatchWords, PrepHintsNameOptionsTheBatchTakes) {
  EXPECT_EQ(batch_words("site C1 has occupancy 0.5 (disorder); resolve it in the CIF or give "
                        "--ignore-occupancy"),
            "site C1 has occupancy 0.5 (disorder); resolve it in the CIF or give "
            "--prep-option=--ignore-occupancy");
  // Prep's --force writes implausible bonds; the batch's --force redoes crystals.
  EXPECT_EQ(batch_words("Check the sites in the CIF, or give --force to write it anyway"),
            "Check the sites in the CIF, or give --prep-option=--accept-bonds to write it anyway");
  EXPECT_EQ(batch_words("or give --accept-bonds."), "or give --prep-option=--accept-bonds.");
  EXPECT_EQ(batch_words("the formula differs; give --accept-formula to write it"),
            "the formula differs; give --prep-option=--accept-formula to write it");
  // An option with its value is passed as one quoted word.
  EXPECT_EQ(batch_words("only molecule 1's neighbours are written (--molecule N chooses)"),
            "only molecule 1's neighbours are written (--prep-option='--molecule N' chooses)");
  EXPECT_EQ(batch_words("try --bond-tolerance 0.5."), "try --prep-option='--bond-tolerance 0.5'.");
  // The batch's own options stay; the units beyond 20 are the lattice sum's.
  EXPECT_EQ(batch_words("--cutoff 8.25 writes none of the set, or take the rest with "
                        "--skip-units 20"),
            "--cutoff 8.25 writes none of the set, or the lattice energy (--lattice-radius) "
            "takes them all");
  EXPECT_EQ(batch_words("does not converge (check --charges)"),
            "does not converge (check --charges)");
  // In a lattice shell, the cutoff is the batch's lattice radius.
  const std::string small = "the cell is too small for this cutoff (give a smaller --cutoff)";
  EXPECT_EQ(batch_words(small, PrepRun::lattice_shell),
            "the cell is too small for this cutoff (give a smaller --lattice-radius)");
  EXPECT_EQ(batch_words(small), small);
  // Dashes that are no option stay.
  EXPECT_EQ(batch_words("a -- b, x--y, C-H --"), "a -- b, x--y, C-H --");
}

TEST(BatchWords, WarningsOnceEachWithTheirCount) {
  EXPECT_EQ(grouped({"a", "b", "a", "c", "a", "b"}),
            (std::vector<std::string>{"a (3 times)", "b (2 times)", "c"}));
  EXPECT_TRUE(grouped({}).empty());
}

TEST(OptionColumns, ValuesAndTheLineAsGiven) {
  const std::vector<std::string> options = {"--charges", "0.1,0,0,0", "--cutoff=12", "--molecule",
                                            "2",         "--charges", "0.2,0,0,0"};
  EXPECT_EQ(option_value(options, "--charges"), "0.2,0,0,0");  // the last one counts
  EXPECT_EQ(option_value(options, "--cutoff"), "12");
  EXPECT_EQ(option_value(options, "--stack"), "");
  EXPECT_EQ(options_text({"--map", "a b", "it's", ""}), "--map 'a b' \"it's\" ''");
}

}  // namespace
}  // namespace zelk8::batch
