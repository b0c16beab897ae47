// Reading a whole zelk8 report ("at8.dat") back into plain data.
//
// Every number of the report is kept as a Field: the text the program printed
// (blanks trimmed) and, when that text is a finite number, its value. A field
// printed as asterisks (the value did not fit), NaN or Infinity keeps its text
// and has no value, so nothing off-scale ever turns into a number silently.
//
// The sections come in the order the program writes them. A report that was
// cut short (the run ended on a read failure of its input) is read as far as
// it goes: `complete` is false and `stopped_at` names the line where it ends
// and the section that was expected there; the sections before it are filled,
// the ones after it are left empty. A last line without its line end counts
// as cut short too (the writing stopped inside it): the report stops at that
// line, whatever part of a line it holds. A line that does not follow the
// report layout is an error (ReportError) naming the line.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"
#include "records.hpp"

namespace zelk8::report {

// One number of the report.
struct Field {
  std::string text;             // as printed, leading and trailing blanks removed
  std::optional<double> value;  // empty for asterisks, NaN and Infinity

  bool finite() const { return value.has_value(); }
  bool overflow() const;    // the field was filled with asterisks
  bool non_finite() const;  // NaN, Infinity, -Infinity (or Inf, -Inf)
};

// Reads the text of one field (blanks around it are ignored): a number, all
// asterisks, or a non-finite spelling. Throws std::invalid_argument otherwise.
Field parse_field(std::string_view text);

// The sections of a report, in the order they are written. A list without a
// count of its own ends where the next section starts: a report cut right
// after the last atom line still expects the atom list (its empty line ends
// it), and one cut after a unit block expects the unit blocks (another block
// or the total line).
enum class Section {
  cell,               // the first line: a b c alpha beta gamma
  atoms,              // the atom list
  elements,           // element table heading, rows and the Sum line
  transfer_matrix,    // " TRANSFER MATRIX" and its three lines
  centre_of_gravity,  // " CENTER OF GRAVITY= (...)"
  moments,            // " Molecular moments" and three lines
  orientation,        // " Molecular orientation vectors", VL, VS, VV
  run_parameters,     // the echo of the run-parameter record
  coordinates,        // " Molecular Coordinates", the column header, one line per atom
  extents,            // " VV = ... VL = ..."
  units_heading,      // "Intermolecular potentials" and its second line
  units,              // one block per unit, up to the total line
  lattice_sum,        // the total line "Etot = "
  map_heading,        // " Map of the stacked molecule shift at Z ="
  evdw_table,         // " EvdW" header and rows
  evdw_minimum,       // its minimum line
  estat_table,        // " Estat" header and rows
  etot_table,         // " Etot" header and rows
  etot_minimum,       // its minimum line
};

// The name of a section as messages print it, e.g. "the TRANSFER MATRIX".
std::string_view section_name(Section section);

struct Cell {
  Field a, b, c;             // Å
  Field alpha, beta, gamma;  // degrees
};

// A line of the atom list (the first atom set).
struct Atom {
  Field element;       // element index
  Field x, y, z;       // fractional coordinates
  std::string label;   // 4 characters as printed (trailing blanks removed)
  std::string symbol;  // 4 characters as printed (trailing blanks removed)
};

// A row of the element table.
struct ElementRow {
  std::string symbol;  // "C", "H", "S" or the element record's symbol
  Field atoms;         // atoms of this element type
  Field nel;           // valence electrons of those atoms
  Field nobl;          // orbitals of those atoms
  Field emin;
  Field r0;
};

// The "Sum" line of the element table.
struct ElementSum {
  Field atoms;           // all atoms of the first set
  Field nel;             // NEL total
  Field nobl;            // NOBL total
  Field heavy;           // atoms other than the last element type
  Field molecule_atoms;  // atoms that make the molecule's centre and plane
  Field zero;            // always 0
  Field atom_count;      // equals the first field
};

struct ElementTable {
  Field heading_value;            // the number at the end of the heading (0.0000)
  std::vector<ElementRow> rows;   // none with fewer than two element types
  std::optional<ElementSum> sum;  // absent with fewer than two element types
};

// The upper triangle of the fractional-to-Cartesian matrix.
struct TransferMatrix {
  Field t11, t12, t13;
  Field t22, t23;
  Field t33;
};

using Vector3 = std::array<Field, 3>;

// An orientation axis: the extent printed before it (Å) and its direction.
struct Axis {
  Field length;
  Vector3 direction;
};

struct Orientation {
  Axis vl;  // long axis
  Axis vs;  // short axis
  Axis vv;  // normal of the molecular plane
};

// The echo of the run-parameter record.
struct RunParameters {
  Field stack_unit;  // 0: no map; 1..40: the map's stacking unit; above 40: scan export
  Field charge_h;
  Field charge_1;
  Field charge_2;
  Field charge_3;
};

// A line of the Molecular Coordinates table.
struct FrameAtom {
  Field element;       // element index
  Field l, s, v;       // coordinates along VL, VS, VV (Å)
  Field charge;        // partial charge
  std::string label;   // as printed (trailing blanks removed)
  std::string symbol;  // as printed (trailing blanks removed)
};

// The line after the Molecular Coordinates table. It prints the extent along
// VS after " VV = " and the extent along VL after "  VL = ".
struct Extents {
  Field vs;  // the value printed after " VV = "
  Field vl;  // the value printed after "  VL = "
};

// One block of the unit-by-unit interaction report.
struct Unit {
  Field number;
  std::string name;         // 4 characters as printed (trailing blanks removed)
  Field shortest_distance;  // d shortest (Å)
  Field centre_distance;    // d center (Å)
  Vector3 centre;           // X Y Z of the centre: its VL, VS and VV components (Å)
  Field dihedral_angle;     // degrees
  // a11 a12 a13 a21 a22 a23 a31 a32 a33 t1 t2 t3: the operation in
  // fractional coordinates, row by row, then its translation.
  std::array<Field, 12> operation;
  Field evdw;   // kJ/mol
  Field estat;  // kJ/mol, printed "Est  ="
  Field etot;   // kJ/mol

  // Whether this is the marker unit (a11 = records::second_set_marker),
  // where the units of the second atom set begin.
  bool marks_second_set() const {
    return operation[0].value && *operation[0].value == records::second_set_marker;
  }
};

// One of the three energy tables of the shift map. cells[row][column]: row 0
// is the first row printed (the first VS shift), column 0 the first VL shift.
struct MapTable {
  std::string name;             // "EvdW", "Estat" or "Etot"
  std::vector<Field> l_shifts;  // column labels: VL shifts (Å)
  std::vector<Field> s_shifts;  // row labels: VS shifts (Å)
  std::vector<std::vector<Field>> cells;

  std::size_t columns() const { return l_shifts.size(); }
  std::size_t rows() const { return s_shifts.size(); }
};

// A minimum line: the shifts l and s and the lowest energy met (0.000 with
// shifts 0.000 when no grid point was below zero).
struct MapMinimum {
  Field l;
  Field s;
  Field energy;
};

// The tables of the shift map (written when the stacking unit is 1 to 40).
struct ShiftMap {
  MapTable evdw;
  MapMinimum evdw_minimum;
  MapTable estat;
  MapTable etot;
  MapMinimum etot_minimum;
};

// Where a report that was cut short ends.
struct Stop {
  std::size_t line = 0;  // 1-based number of the first line that is missing
  Section expected = Section::cell;
};

// A whole report. Sections before `stopped_at->expected` are filled; the
// optional parts are present exactly when the report holds them.
struct Report {
  Cell cell;
  std::vector<Atom> atoms;
  ElementTable elements;
  TransferMatrix transfer_matrix;
  Vector3 centre_of_gravity;
  std::array<Vector3, 3> moments;  // the three printed lines (columns 1, 2, 3 of the tensor)
  Orientation orientation;
  RunParameters run_parameters;
  std::vector<FrameAtom> coordinates;
  Extents extents;
  std::vector<Unit> units;
  std::optional<Field> lattice_etot;  // the total line "Etot = "
  std::optional<Field> map_height;    // the Z of the map heading
  std::optional<ShiftMap> map;        // the three tables and both minimum lines

  bool complete = false;           // the report ends where a finished run ends it
  std::optional<Stop> stopped_at;  // set exactly when `complete` is false

  // Whether section `section` was read whole and is held here. The parts of
  // the map are held only together: for a map cut short, none of them is.
  bool has(Section section) const;
  // The stacking unit's block (the unit whose number is the echoed stacking
  // unit), or nullptr when the report has none.
  const Unit* stacking_unit() const;
};

// A line that does not follow the report layout.
class ReportError : public InputError {
 public:
  ReportError(std::string source, std::size_t line, const std::string& what);
  const std::string& source() const { return source_; }
  std::size_t line() const { return line_; }  // 1-based; 0 when the file could not be read

 private:
  std::string source_;
  std::size_t line_;
};

// Reads a report from `in`; `source` names it in error messages. Throws
// ReportError on a line that does not follow the layout.
Report read_report(std::istream& in, const std::string& source = "at8.dat");

// Reads the report file at `path`. Throws ReportError, also when the file
// cannot be opened (line 0, with the reason).
Report read_report_file(const std::filesystem::path& path);

// The unit's operation as symmetry text in the usual notation of crystallography,
// e.g. "-x+1/2, y+1/2, -z": coefficients of 1 and -1 as signs, other
// coefficients and translations as small fractions (halves, thirds, quarters,
// sixths, eighths) when they are one, otherwise as printed. A field without a
// value appears as its text.
std::string symmetry_text(const std::array<Field, 12>& operation);

}  // namespace zelk8::report
