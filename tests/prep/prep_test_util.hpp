// Shared helpers of the zelk8-prep tests: the bundled CIFs and edits of them.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace zelk8::prep::testing {

inline std::string source_path(const std::string& relative) {
  return std::string(ZELK8_SOURCE_DIR) + "/" + relative;
}

inline std::string slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

inline std::string cif_text(const std::string& crystal) {
  return slurp(source_path("examples/cif/" + crystal + ".cif"));
}

// The text without the lines that contain `needle`.
inline std::string without_lines(const std::string& text, const std::string& needle) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line))
    if (line.find(needle) == std::string::npos) out += line + "\n";
  return out;
}

inline std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace zelk8::prep::testing
