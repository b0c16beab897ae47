// Shared helpers of the zelk8-prep tests: the bundled CIFs and input files.
#pragma once

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace prep_test {

inline std::string source_path(const std::string& relative) { return std::string(ZELK8_SOURCE_DIR) + "/" + relative; }

inline std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string cif_text(const std::string& crystal) { return slurp(source_path("examples/cif/" + crystal + ".cif")); }

// The text without the lines that contain `needle`.
inline std::string without_lines(const std::string& text, const std::string& needle) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line))
    if (line.find(needle) == std::string::npos)
      out += line + "\n";
  return out;
}

inline std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The atoms and units of an input file, read by their columns, each sorted,
// so that two files compare up to the order of atoms and units.
struct InputContents {
  std::vector<std::string> atoms;  // "C  0.08728  0.02712  0.36562"
  std::vector<std::string> units;  // the twelve values, names dropped
};

inline InputContents read_input_contents(const std::string& text) {
  InputContents contents;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // molecule size
  while (std::getline(in, line) && std::atoi(line.substr(0, 4).c_str()) > 0) {
    std::string symbol = line.size() > 44 ? line.substr(44, 4) : "";
    symbol.erase(symbol.find_last_not_of(' ') + 1);
    contents.atoms.push_back(symbol + " " + line.substr(5, 30));
  }
  while (std::getline(in, line) && line.size() != 60 && line.find("    ") != 0) {
  }  // element records, up to the cell record
  while (std::getline(in, line) && line.size() >= 60 && std::atof(line.substr(0, 5).c_str()) < 10.0)
    contents.units.push_back(line.substr(0, 60));
  std::sort(contents.atoms.begin(), contents.atoms.end());
  std::sort(contents.units.begin(), contents.units.end());
  return contents;
}

}  // namespace prep_test
