#include "page.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zelk8::view {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh empty folder for one test.
fs::path scratch(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("zelk8-view-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(Page, DataCannotEndItsScriptElement) {
  const nlohmann::json data = {{"crystal", "a</script><b>"}, {"units", {"</SCRIPT", "<\\/"}}};
  const std::string text = script_safe_json(data);
  EXPECT_EQ(text.find("</"), std::string::npos) << text;
  EXPECT_EQ(nlohmann::json::parse(text), data);
}

TEST(Page, OneFileWithItsDataAndNothingToFetch) {
  const nlohmann::json data = {{"crystal", "beta & <quinacridone>"},
                               {"units", nlohmann::json::array()}};
  const std::string page = render_page(data);
  EXPECT_EQ(page.find("@@"), std::string::npos);
  EXPECT_NE(page.find("<title>beta &amp; &lt;quinacridone&gt; - zelk8 report</title>"),
            std::string::npos);
  const std::string start = "<script id=\"zelk8-data\" type=\"application/json\">";
  const std::size_t at = page.find(start);
  ASSERT_NE(at, std::string::npos);
  const std::size_t end = page.find("</script>", at);
  EXPECT_EQ(nlohmann::json::parse(page.substr(at + start.size(), end - at - start.size())), data);
  // Scripts and styles are inline: no element loads anything.
  for (const char* loader : {"<script src", "<link", "@import", "<iframe"}) {
    EXPECT_EQ(page.find(loader), std::string::npos) << loader;
  }
  EXPECT_NE(page.find("$3Dmol"), std::string::npos);
}

TEST(WriteWholeFile, WritesAndReplaces) {
  const fs::path dir = scratch("write");
  const fs::path target = dir / "report.html";
  write_whole_file(target, "first");
  write_whole_file(target, "second, longer");
  EXPECT_EQ(slurp(target), "second, longer");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // A link keeps pointing at the file it names, which gets the new text.
  fs::create_symlink(target, dir / "link.html");
  write_whole_file(dir / "link.html", "through the link");
  EXPECT_TRUE(fs::is_symlink(dir / "link.html"));
  EXPECT_EQ(slurp(target), "through the link");
  fs::remove_all(dir);
}

TEST(WriteWholeFile, AFailedWriteLeavesThePreviousFile) {
  const fs::path dir = scratch("full");
  const fs::path target = dir / "report.html";
  write_whole_file(target, "previous page");
  // A file size limit makes the disk "full" after 4 kB.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  try {
    write_whole_file(target, std::string(100000, 'x'));
    ADD_FAILURE() << "the write did not fail";
  } catch (const WriteError& error) {
    EXPECT_EQ(std::string(error.what()), "cannot write '" + target.string() + "': File too large");
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(slurp(target), "previous page");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
      << "a temporary file was left behind";
  fs::remove_all(dir);
}

TEST(WriteWholeFile, FullDeviceAndMissingFolderAreErrors) {
  try {
    write_whole_file("/dev/full", "text");
    ADD_FAILURE() << "/dev/full took the text";
  } catch (const WriteError& error) {
    EXPECT_STREQ(error.what(), "cannot write '/dev/full': No space left on device");
  }
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_THROW(write_whole_file("/nonexistent-folder/report.html", "text"), WriteError);
}

}  // namespace
}  // namespace zelk8::view
