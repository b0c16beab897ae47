#include "coord_file.hpp"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "text.hpp"

namespace zelk8::view {

namespace {

enum class Coordinate { number, off_scale, invalid };

// One F12.7 field: a number, or asterisks when the value did not fit.
Coordinate read_coordinate(std::string_view field, double& value) {
  const std::string_view text = report::trim(field);
  if (text.empty()) {
    return Coordinate::invalid;
  }
  if (text.find_first_not_of('*') == std::string_view::npos) {
    return Coordinate::off_scale;
  }
  const std::optional<double> number = report::number_of<double>(text);
  if (!number) {
    return Coordinate::invalid;
  }
  value = *number;
  return Coordinate::number;
}

// An atom line: symbol in columns 1-4, three fields of 12 columns. Returns
// nullopt for a line of another layout; `off_scale` is set when a field holds
// asterisks.
std::optional<XyzAtom> read_atom_line(std::string_view line, bool& off_scale) {
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  if (line.size() != 40) {
    return std::nullopt;
  }
  XyzAtom atom;
  atom.symbol = std::string(report::trim(line.substr(0, 4)));
  double* targets[3] = {&atom.l, &atom.s, &atom.v};
  off_scale = false;
  for (std::size_t k = 0; k < 3; ++k) {
    switch (read_coordinate(line.substr(4 + (12 * k), 12), *targets[k])) {
      case Coordinate::number:
        break;
      case Coordinate::off_scale:
        off_scale = true;
        break;
      case Coordinate::invalid:
        return std::nullopt;
    }
  }
  return atom;
}

}  // namespace

NeighbourMolecules read_neighbours(std::istream& in, std::size_t atom_count, std::size_t unit_count,
                                   bool central_block) {
  NeighbourMolecules result;
  std::string line;
  std::size_t line_number = 0;
  auto stop = [&](const std::string& why) {
    result.note = "coord.xyz line " + std::to_string(line_number) + ": " + why + "; " +
                  std::to_string(result.units.size()) + " of " + std::to_string(unit_count) +
                  " neighbour molecules read";
  };
  // The count line and the empty comment line.
  for (int k = 0; k < 2; ++k) {
    ++line_number;
    if (!std::getline(in, line)) {
      stop("the file ends before its atom lines");
      return result;
    }
  }
  const std::size_t skip = central_block ? atom_count : 0;
  for (std::size_t k = 0; k < skip; ++k) {
    ++line_number;
    bool off_scale = false;
    if (!std::getline(in, line)) {
      stop("the file ends within the central molecule");
      return result;
    }
    if (!read_atom_line(line, off_scale)) {
      stop("not an atom line");
      return result;
    }
  }
  for (std::size_t u = 0; u < unit_count; ++u) {
    std::vector<XyzAtom> atoms;
    std::size_t dropped = 0;
    for (std::size_t k = 0; k < atom_count; ++k) {
      ++line_number;
      if (!std::getline(in, line)) {
        stop("the file ends within unit " + std::to_string(u + 1));
        return result;
      }
      bool off_scale = false;
      std::optional<XyzAtom> atom = read_atom_line(line, off_scale);
      if (!atom) {
        stop("not an atom line in unit " + std::to_string(u + 1));
        return result;
      }
      if (off_scale) {
        ++dropped;
      } else {
        atoms.push_back(std::move(*atom));
      }
    }
    result.dropped_atoms += dropped;
    result.units.push_back(std::move(atoms));
  }
  return result;
}

}  // namespace zelk8::view
