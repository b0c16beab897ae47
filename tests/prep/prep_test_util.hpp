// Shared helpers of the zelk8-prep tests: the bundled CIFs and edits of them.
#pragma once

#include <filesystem>
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

// Writes `text` to a file of that name in the temporary folder; its path.
inline std::string write_temp_file(const std::string& name, const std::string& text) {
  std::string path =
      (std::filesystem::temp_directory_path() / ("zelk8-prep-test-" + name)).string();
  std::ofstream(path) << text;
  return path;
}

}  // namespace zelk8::prep::testing
