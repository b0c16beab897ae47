#include "manifest.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace zelk8::batch {
namespace {

namespace fs = std::filesystem;

TEST(Manifest, ColumnsInAnyOrderQuotingAndDefaults) {
  const std::string text =
      "# crystals of the acene series\n"
      "cif,options,name\r\n"
      "cifs/anthracene.cif,--charges 0.1;0;0;0 --no-map,anth\n"
      "\n"
      "/abs/naphthalene.cif,,\n"
      "\"odd, name.cif\",\"--map '-1:1:0.5,-1:1:0.5' --cutoff 12\",quoted\n"
      "\"multi\nline.cif\",\"say \"\"x\"\"\",ml\n";
  const std::vector<Crystal> crystals = parse_manifest(text, "m.csv", "base");
  ASSERT_EQ(crystals.size(), 4u);
  EXPECT_EQ(crystals[0].name, "anth");
  EXPECT_EQ(crystals[0].cif, "base/cifs/anthracene.cif");
  EXPECT_EQ(crystals[0].options, (std::vector<std::string>{"--charges", "0.1;0;0;0", "--no-map"}));
  // An empty name is the CIF's stem; an absolute path stays as it is.
  EXPECT_EQ(crystals[1].name, "naphthalene");
  EXPECT_EQ(crystals[1].cif, "/abs/naphthalene.cif");
  EXPECT_TRUE(crystals[1].options.empty());
  EXPECT_EQ(crystals[2].cif, "base/odd, name.cif");
  EXPECT_EQ(crystals[2].options,
            (std::vector<std::string>{"--map", "-1:1:0.5,-1:1:0.5", "--cutoff", "12"}));
  EXPECT_EQ(crystals[3].cif, "base/multi\nline.cif");
  EXPECT_EQ(crystals[3].options, (std::vector<std::string>{"say", "x"}));
}

TEST(Manifest, ErrorsNameTheLineAndTheRemedy) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "m.csv: no header; the first line names the columns name,cif,options"},
      {"name,path\n", "m.csv:1: unknown column 'path'; the columns are name,cif,options"},
      {"name,options\n",
       "m.csv:1: no 'cif' column; the first line names the columns "
       "name,cif,options"},
      {"cif,cif\n", "m.csv:1: column 'cif' named twice"},
      {"name,cif\n\na,x.cif,extra\n",
       "m.csv:3: 3 fields for 2 columns; quote a field that holds a comma"},
      {"name,cif\nb,\n", "m.csv:2: no CIF given"},
      {"name,cif\n.hidden,x.cif\n", "m.csv:2: crystal '.hidden': the name starts with '.'"},
      {"name,cif\na/b,x.cif\n",
       "m.csv:2: crystal 'a/b': the name holds '/' (use letters, digits and . _ + -)"},
      {"name,cif\nsummary.csv,x.cif\n",
       "m.csv:2: crystal 'summary.csv': the name is one of the batch's own files"},
      {"name,cif,options\na,x.cif,-o there\n",
       "m.csv:2: option -o is set by zelk8-batch itself; remove it from the options column"},
      {"name,cif,options\na,x.cif,--skip-units=20\n",
       "m.csv:2: option --skip-units=20 is set by zelk8-batch itself; remove it from the options "
       "column"},
      {"name,cif,options\na,x.cif,--map 'a\n", "m.csv:2: unclosed ' in the options"},
      {"name,cif\n\"a,x.cif\n",
       "m.csv:2: a quoted field is not closed; end it with a double quote"},
      {"name,cif\n\"a\"b,x.cif\n",
       "m.csv:2: text after a closing quote; double a quote inside a quoted field"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      parse_manifest(text, "m.csv", "");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const InputError& error) {
      EXPECT_EQ(error.what(), expected) << text;
    }
  }
}

class CollectCrystals : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        fs::temp_directory_path() /
        ("zelk8-batch-inputs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "set");
    for (const char* name : {"b.cif", "a.CIF", "notes.txt"}) std::ofstream(root_ / "set" / name);
    std::ofstream(root_ / "single.cif");
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  fs::path root_;
};

TEST_F(CollectCrystals, FoldersFilesAndManifestsInNameOrder) {
  std::ofstream(root_ / "list.csv") << "name,cif,options\nzz,set/b.cif,--no-map\n";
  const std::vector<Crystal> crystals =
      collect_crystals({path("set"), path("list.csv"), path("single.cif")});
  ASSERT_EQ(crystals.size(), 4u);
  EXPECT_EQ(crystals[0].name, "a");
  EXPECT_EQ(crystals[1].name, "b");
  EXPECT_EQ(crystals[2].name, "single");
  EXPECT_EQ(crystals[3].name, "zz");
  EXPECT_EQ(crystals[3].cif, path("set/b.cif"));
  EXPECT_EQ(crystals[3].options, std::vector<std::string>{"--no-map"});
}

TEST_F(CollectCrystals, MissingInputsEmptyFoldersAndTwins) {
  fs::create_directories(root_ / "empty");
  fs::create_directories(root_ / "other");
  std::ofstream(root_ / "other" / "b.cif");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{path("nothing.cif")}, path("nothing.cif") + ": no such file or folder"},
      {{path("empty")}, path("empty") + ": the folder holds no *.cif file"},
      {{path("set"), path("other")},
       "two crystals named 'b' (" + path("set/b.cif") + " and " + path("other/b.cif") +
           "); name them apart in a manifest"},
  };
  for (const auto& [inputs, expected] : cases) {
    try {
      collect_crystals(inputs);
      ADD_FAILURE() << "accepted " << inputs[0];
    } catch (const InputError& error) {
      EXPECT_EQ(error.what(), expected);
    }
  }
}

}  // namespace
}  // namespace zelk8::batch
