#include "page.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelk8::view {
namespace {

TEST(Page, DataCannotEndItsScriptElement) {
  const nlohmann::json data = {{"crystal", "a</script><b>"}, {"units", {"</SCRIPT", "<\\/"}}};
  const std::string text = script_safe_json(data);
  EXPECT_EQ(text.find("</"), std::string::npos) << text;
  EXPECT_EQ(nlohmann::json::parse(text), data);
  // Every "</" escaped, side by side or at either end, and nothing else.
  EXPECT_EQ(script_safe_json("<</a<//</"), "\"<<\\/a<\\//<\\/\"");
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

}  // namespace
}  // namespace zelk8::view
