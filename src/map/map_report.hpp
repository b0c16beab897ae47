// Reading the stacking shift map back from a zelk8 report ("at8.dat").
//
// The map part of a report is the heading line
//   " Map of the stacked molecule shift at Z =" F10.5, then an empty line,
// followed by three tables (EvdW, Estat, Etot), each an empty line, a header
// line (10 columns of name, then the VL shifts in fields of 10) and one row per
// VS shift (the row label, then the energies, all in fields of 10). A line holds
// at most 100 fields, so with 100 columns every row continues on a second line
// holding its last energy. EvdW and Etot are followed by a minimum line: an empty
// line, 110 blanks and the fields l, s, minimum.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelk8::map {

// What a fixed-width field of the report holds.
enum class FieldKind {
  number,      // a finite value
  overflow,    // all asterisks: the value did not fit the field
  non_finite,  // "NaN", "Infinity", "-Infinity", "Inf", "-Inf"
};

// One field of the report: its text as printed (blanks trimmed) and its value.
struct Field {
  std::string text;
  FieldKind kind = FieldKind::number;
  float value = 0.0f;  // meaningful only for FieldKind::number

  bool finite() const { return kind == FieldKind::number; }
};

// Reads one field of the report; throws ReportError (malformed) when the text
// is neither a number nor one of the off-scale spellings.
Field parse_field(const std::string& text);

// One of the three energy tables. cells[row][column], row 0 is the first row
// printed (the first VS shift), column 0 the first VL shift.
struct MapTable {
  std::string name;             // "EvdW", "Estat" or "Etot"
  std::vector<Field> l_shifts;  // column labels (VL shifts, Å)
  std::vector<Field> s_shifts;  // row labels (VS shifts, Å)
  std::vector<std::vector<Field>> cells;

  std::size_t columns() const { return l_shifts.size(); }
  std::size_t rows() const { return s_shifts.size(); }
};

// A minimum line: the shifts l and s and the lowest energy met.
struct MapMinimum {
  Field l;
  Field s;
  Field energy;
};

// The whole map part of a report.
struct StackMap {
  Field height;  // the Z of the heading line (Å)
  MapTable evdw;
  MapTable estat;
  MapTable etot;
  MapMinimum evdw_minimum;
  MapMinimum etot_minimum;
};

class ReportError : public std::runtime_error {
 public:
  enum class Kind {
    no_map,     // no map heading: the run ended after the unit report
    no_tables,  // the heading without tables: a shift scan export run
    malformed,  // the map part does not follow the report layout
  };
  ReportError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Reads a whole report and returns its map; throws ReportError.
StackMap read_stack_map(std::istream& report);

}  // namespace zelk8::map
