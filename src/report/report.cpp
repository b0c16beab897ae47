#include "report.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace zelk8::report {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The spellings of non-finite values; the sign stays in the text only.
constexpr std::array<std::string_view, 9> non_finite_spellings = {
    "NaN", "Infinity", "-Infinity", "+Infinity", "Inf", "-Inf", "+Inf", "-NaN", "+NaN"};

}  // namespace

bool Field::overflow() const {
  return !text.empty() && text.find_first_not_of('*') == std::string::npos;
}

bool Field::non_finite() const {
  return std::find(non_finite_spellings.begin(), non_finite_spellings.end(), text) !=
         non_finite_spellings.end();
}

Field parse_field(std::string_view text) {
  Field field;
  field.text = std::string(trim(text));
  if (field.text.empty()) {
    throw std::invalid_argument("blank field");
  }
  if (field.overflow() || field.non_finite()) {
    return field;
  }
  std::string_view digits = field.text;
  if (digits.size() > 1 && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  double value = 0.0;
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, value, std::chars_format::general);
  if (error != std::errc() || stop != end || !std::isfinite(value)) {
    throw std::invalid_argument("unreadable number \"" + field.text + "\"");
  }
  field.value = value;
  return field;
}

std::string_view section_name(Section section) {
  switch (section) {
    case Section::cell:
      return "the cell line";
    case Section::atoms:
      return "the atom list";
    case Section::elements:
      return "the element table";
    case Section::transfer_matrix:
      return "the TRANSFER MATRIX";
    case Section::centre_of_gravity:
      return "the CENTER OF GRAVITY line";
    case Section::moments:
      return "the Molecular moments";
    case Section::orientation:
      return "the Molecular orientation vectors";
    case Section::run_parameters:
      return "the run-parameter line";
    case Section::coordinates:
      return "the Molecular Coordinates";
    case Section::extents:
      return "the extents line";
    case Section::units_heading:
      return "the Intermolecular potentials heading";
    case Section::units:
      return "the unit blocks";
    case Section::lattice_sum:
      return "the total line \"Etot = \"";
    case Section::map_heading:
      return "the map heading";
    case Section::evdw_table:
      return "the EvdW table";
    case Section::evdw_minimum:
      return "the EvdW minimum line";
    case Section::estat_table:
      return "the Estat table";
    case Section::etot_table:
      return "the Etot table";
    case Section::etot_minimum:
      return "the Etot minimum line";
  }
  return "an unknown section";
}

ReportError::ReportError(std::string source, std::size_t line, const std::string& what)
    : std::runtime_error(source + (line > 0 ? " line " + std::to_string(line) : std::string()) +
                         ": " + what),
      source_(std::move(source)),
      line_(line) {}

bool Report::has(Section section) const {
  switch (section) {
    case Section::lattice_sum:
      return lattice_etot.has_value();
    case Section::map_heading:
      return map_height.has_value();
    case Section::evdw_table:
    case Section::evdw_minimum:
    case Section::estat_table:
    case Section::etot_table:
    case Section::etot_minimum:
      return map.has_value();
    default:
      return complete || (stopped_at && section < stopped_at->expected);
  }
}

const Unit* Report::stacking_unit() const {
  const auto& stack = run_parameters.stack_unit.value;
  if (!stack || *stack == 0.0) {
    return nullptr;
  }
  for (const Unit& unit : units) {
    if (unit.number.value && *unit.number.value == *stack) {
      return &unit;
    }
  }
  return nullptr;
}

namespace {

constexpr std::string_view element_heading = "  Atom       NEL NOBL     Emin      R0";
constexpr std::string_view transfer_heading = " TRANSFER MATRIX";
constexpr std::string_view centre_heading = " CENTER OF GRAVITY= (";
constexpr std::string_view moments_heading = " Molecular moments";
constexpr std::string_view orientation_heading = " Molecular orientation vectors";
constexpr std::string_view coordinates_heading = " Molecular Coordinates";
constexpr std::string_view coordinates_columns = "       VL//      VS//      VV//";
constexpr std::string_view units_heading =
    "Intermolecular potentials                X         Y         Z       Dihedral Angle";
constexpr std::string_view units_columns =
    "                d shortest  d center (A)                      kJ/mol";
constexpr std::string_view map_heading = " Map of the stacked molecule shift at Z =";
constexpr std::size_t map_field_width = 10;
constexpr std::size_t map_fields_per_line = 100;  // "(100F10.3)"
constexpr std::size_t minimum_indent = 110;       // "(/,110X,3F10.3)"
constexpr std::size_t total_indent = 51;          // "(51X,'Etot = ',F10.5,/)"

// The report has no more lines where the current section needs one.
struct EndOfReport {};

class Reader {
 public:
  Reader(std::istream& in, std::string source) : source_(std::move(source)) {
    std::string line;
    while (std::getline(in, line)) {
      // A last line without its line end is where the writing stopped: what
      // it holds may be any part of a line, so it is not read, and the report
      // counts as cut short there.
      if (in.eof()) {
        break;
      }
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
      }
      lines_.push_back(std::move(line));
    }
    if (in.bad()) {
      throw ReportError(source_, 0, "cannot read the report");
    }
  }

  Report read() {
    Report report;
    try {
      read_sections(report);
    } catch (const EndOfReport&) {
      report.complete = false;
      report.stopped_at = Stop{lines_.size() + 1, section_};
      return report;
    }
    report.complete = true;
    return report;
  }

 private:
  void read_sections(Report& report) {
    begin(Section::cell);
    read_cell(report.cell);
    begin(Section::atoms);
    read_atoms(report.atoms);
    begin(Section::elements);
    read_elements(report.elements);
    begin(Section::transfer_matrix);
    read_transfer_matrix(report.transfer_matrix);
    begin(Section::centre_of_gravity);
    {
      const std::size_t at = heading(centre_heading, false);
      const std::string& line = lines_[at];
      report.centre_of_gravity = vector3(line, at, centre_heading.size(), "the centre of gravity");
      literal(line, at, centre_heading.size() + 30, "  )");
      ends(line, at, centre_heading.size() + 33);
    }
    begin(Section::moments);
    heading(moments_heading);
    for (Vector3& row : report.moments) {
      const std::size_t at = take();
      row = vector3(lines_[at], at, 0, "a moment line");
      ends(lines_[at], at, 30);
    }
    begin(Section::orientation);
    read_orientation(report.orientation);
    begin(Section::run_parameters);
    {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      RunParameters& p = report.run_parameters;
      p.stack_unit = field(line, at, 0, 4, "the stacking unit");
      blank(line, at, 4, 1);
      p.charge_h = field(line, at, 5, 10, "the hydrogen charge increment");
      p.charge_1 = field(line, at, 15, 10, "the first charge increment");
      p.charge_2 = field(line, at, 25, 10, "the second charge increment");
      p.charge_3 = field(line, at, 35, 10, "the third charge increment");
      ends(line, at, 45);
    }
    begin(Section::coordinates);
    heading(coordinates_heading);
    {
      const std::size_t at = take();
      if (lines_[at] != coordinates_columns) {
        fail(at, "expected the column header of the Molecular Coordinates (\"" +
                     std::string(coordinates_columns) + "\")");
      }
    }
    // One line per atom of the atom list.
    while (report.coordinates.size() < report.atoms.size()) {
      report.coordinates.push_back(frame_atom(take()));
    }
    begin(Section::extents);
    {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      literal(line, at, 0, " VV = ");
      report.extents.vs = field(line, at, 6, 10, "the extent along VS");
      literal(line, at, 16, "  VL = ");
      report.extents.vl = field(line, at, 23, 10, "the extent along VL");
      ends(line, at, 33);
    }
    begin(Section::units_heading);
    heading(units_heading);
    {
      const std::size_t at = take();
      if (lines_[at] != units_columns) {
        fail(at, "expected the second heading line of the Intermolecular potentials");
      }
    }
    begin(Section::units);
    while (true) {
      const std::size_t at = skip_empty();
      if (lines_[at].size() < 11 || lines_[at].compare(3, 8, "TH UNIT ") != 0) {
        break;
      }
      report.units.push_back(unit_block());
    }
    begin(Section::lattice_sum);
    {
      const std::size_t at = skip_empty();
      const std::string& line = lines_[at];
      blank(line, at, 0, total_indent);
      literal(line, at, total_indent, "Etot = ");
      report.lattice_etot = field(line, at, total_indent + 7, 10, "the lattice sum");
      ends(line, at, total_indent + 17);
      ++next_;
    }

    // A run without a stacking unit ends here; every other run goes on with
    // the map heading.
    const std::optional<double>& stack = report.run_parameters.stack_unit.value;
    begin(Section::map_heading);
    if (remaining_empty() && stack && *stack == 0.0) {
      return;
    }
    {
      const std::size_t at = heading(map_heading, false);
      const std::string& line = lines_[at];
      report.map_height = field(line, at, map_heading.size(), 10, "the map height");
      ends(line, at, map_heading.size() + 10);
    }
    // A stacking unit above 40 (four asterisks when it does not fit) writes a
    // coordinate scan in place of the tables.
    begin(Section::evdw_table);
    if (remaining_empty() && (!stack || *stack > 40.0)) {
      return;
    }
    ShiftMap map;
    read_table("EvdW", map.evdw);
    begin(Section::evdw_minimum);
    read_minimum("EvdW", map.evdw_minimum);
    begin(Section::estat_table);
    read_table("Estat", map.estat, &map.evdw);
    begin(Section::etot_table);
    read_table("Etot", map.etot, &map.evdw);
    begin(Section::etot_minimum);
    read_minimum("Etot", map.etot_minimum);
    report.map = std::move(map);
    if (!remaining_empty()) {
      fail(skip_empty(), "unexpected text after the Etot minimum line");
    }
  }

  void read_cell(Cell& cell) {
    const std::size_t at = take();
    const std::string& line = lines_[at];
    Field* fields[] = {&cell.a, &cell.b, &cell.c, &cell.alpha, &cell.beta, &cell.gamma};
    for (std::size_t k = 0; k < 6; ++k) {
      *fields[k] = field(line, at, 10 * k, 10, "a cell parameter");
    }
    ends(line, at, 60);
  }

  // "(I4,X,3F10.5,4X,A4,X,A4)", one line per atom up to an empty line.
  void read_atoms(std::vector<Atom>& atoms) {
    while (true) {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      if (line.empty()) {
        return;
      }
      Atom atom;
      atom.element = field(line, at, 0, 4, "the element index");
      blank(line, at, 4, 1);
      atom.x = field(line, at, 5, 10, "the fractional x");
      atom.y = field(line, at, 15, 10, "the fractional y");
      atom.z = field(line, at, 25, 10, "the fractional z");
      blank(line, at, 35, 4);
      atom.label = text(line, 39, 4);
      blank(line, at, 43, 1);
      atom.symbol = text(line, 44, 4);
      ends(line, at, 48);
      atoms.push_back(std::move(atom));
    }
  }

  void read_elements(ElementTable& table) {
    const std::size_t at = heading(element_heading, false);
    table.heading_value = field(lines_[at], at, element_heading.size(), 10, "the heading value");
    ends(lines_[at], at, element_heading.size() + 10);
    while (true) {
      const std::size_t row = peek();
      const std::string& line = lines_[row];
      if (line.empty()) {
        return;
      }
      ++next_;
      blank(line, row, 0, 2);
      const std::string symbol = text(line, 2, 4);
      // The Sum line holds seven integers; a row has two reals after three
      // integers (an element record may itself be named "Sum").
      if (symbol == "Sum" && line.size() > 21 && line.substr(21).find('.') == std::string::npos) {
        ElementSum sum;
        Field* fields[] = {&sum.atoms,          &sum.nel,  &sum.nobl,      &sum.heavy,
                           &sum.molecule_atoms, &sum.zero, &sum.atom_count};
        for (std::size_t k = 0; k < 7; ++k) {
          *fields[k] = field(line, row, 6 + 5 * k, 5, "a count of the Sum line");
        }
        ends(line, row, 41);
        table.sum = std::move(sum);
        return;
      }
      ElementRow element;
      element.symbol = symbol;
      element.atoms = field(line, row, 6, 5, "the atom count");
      element.nel = field(line, row, 11, 5, "the NEL count");
      element.nobl = field(line, row, 16, 5, "the NOBL count");
      element.emin = field(line, row, 21, 10, "Emin");
      element.r0 = field(line, row, 31, 10, "R0");
      ends(line, row, 41);
      table.rows.push_back(std::move(element));
    }
  }

  void read_transfer_matrix(TransferMatrix& t) {
    heading(transfer_heading);
    std::size_t at = take();
    blank(lines_[at], at, 0, 3);
    t.t11 = field(lines_[at], at, 3, 10, "T11");
    t.t12 = field(lines_[at], at, 13, 10, "T12");
    t.t13 = field(lines_[at], at, 23, 10, "T13");
    ends(lines_[at], at, 33);
    at = take();
    blank(lines_[at], at, 0, 13);
    t.t22 = field(lines_[at], at, 13, 10, "T22");
    t.t23 = field(lines_[at], at, 23, 10, "T23");
    ends(lines_[at], at, 33);
    at = take();
    blank(lines_[at], at, 0, 23);
    t.t33 = field(lines_[at], at, 23, 10, "T33");
    ends(lines_[at], at, 33);
  }

  void read_orientation(Orientation& orientation) {
    heading(orientation_heading);
    const std::pair<Axis*, std::string_view> axes[] = {{&orientation.vl, " A  VL = "},
                                                       {&orientation.vs, " A  VS = "},
                                                       {&orientation.vv, " A  VV = "}};
    for (const auto& [axis, label] : axes) {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      axis->length = field(line, at, 0, 10, "the axis length");
      literal(line, at, 10, label);
      axis->direction = vector3(line, at, 19, "the axis direction");
      ends(line, at, 49);
    }
  }

  // "(I4,1X,4F10.5,4X,2A4)"
  FrameAtom frame_atom(std::size_t at) {
    const std::string& line = lines_[at];
    FrameAtom atom;
    atom.element = field(line, at, 0, 4, "the element index");
    blank(line, at, 4, 1);
    atom.l = field(line, at, 5, 10, "the VL coordinate");
    atom.s = field(line, at, 15, 10, "the VS coordinate");
    atom.v = field(line, at, 25, 10, "the VV coordinate");
    atom.charge = field(line, at, 35, 10, "the charge");
    blank(line, at, 45, 4);
    atom.label = text(line, 49, 4);
    atom.symbol = text(line, 53, 4);
    ends(line, at, 57);
    return atom;
  }

  // Five lines: the unit line, three operation lines with the energies, an
  // empty line.
  Unit unit_block() {
    Unit unit;
    std::size_t at = take();
    const std::string& first = lines_[at];
    unit.number = field(first, at, 0, 3, "the unit number");
    unit.name = text(first, 11, 4);
    unit.shortest_distance = field(first, at, 15, 10, "d shortest");
    unit.centre_distance = field(first, at, 25, 10, "d center");
    literal(first, at, 35, "  (");
    unit.centre = vector3(first, at, 38, "the unit centre");
    literal(first, at, 68, " )");
    unit.dihedral_angle = field(first, at, 70, 10, "the dihedral angle");
    ends(first, at, 80);
    const std::string_view labels[] = {"   EvdW = ", "   Est  = ", "   Etot = "};
    Field* energies[] = {&unit.evdw, &unit.estat, &unit.etot};
    for (std::size_t row = 0; row < 3; ++row) {
      at = take();
      const std::string& line = lines_[at];
      blank(line, at, 0, 5);
      literal(line, at, 5, "(");
      for (std::size_t k = 0; k < 3; ++k) {
        unit.operation[3 * row + k] =
            field(line, at, 6 + 10 * k, 10, "an element of the unit's operation");
      }
      literal(line, at, 36, " )");
      unit.operation[9 + row] = field(line, at, 38, 10, "a translation of the unit's operation");
      literal(line, at, 48, labels[row]);
      *energies[row] = field(line, at, 58, 10, "an energy of the unit");
      ends(line, at, 68);
    }
    at = take();
    if (!lines_[at].empty()) {
      fail(at, "expected the empty line that ends a unit block");
    }
    return unit;
  }

  // A header line, rows of the row label and one energy per column (wrapped
  // after 100 fields), up to an empty line.
  // The tables after the first one must have its shifts (`like`).
  void read_table(const std::string& name, MapTable& table, const MapTable* like = nullptr) {
    std::string label = " " + name;
    label.resize(map_field_width, ' ');
    const std::size_t at = skip_empty();
    if (lines_[at].compare(0, map_field_width, label) != 0) {
      fail(at, "expected the header of the " + name + " table (\"" + std::string(trim(label)) +
                   "\" and the VL shifts)");
    }
    table.name = name;
    table.l_shifts = map_fields(at, map_field_width);
    if (table.l_shifts.empty()) {
      fail(at, "the " + name + " table has no columns");
    }
    ++next_;
    const std::size_t row_fields = table.columns() + 1;
    while (!lines_[peek()].empty()) {
      std::vector<Field> fields;
      while (fields.size() < row_fields) {
        const std::size_t line = peek();
        if (lines_[line].empty()) {
          fail(line, "row " + std::to_string(table.rows() + 1) + " of the " + name +
                         " table is cut short");
        }
        const std::size_t wanted = std::min(row_fields - fields.size(), map_fields_per_line);
        std::vector<Field> more = map_fields(line, 0);
        if (more.size() != wanted) {
          fail(line, "row " + std::to_string(table.rows() + 1) + " of the " + name +
                         " table: expected " + std::to_string(wanted) + " fields, found " +
                         std::to_string(more.size()));
        }
        fields.insert(fields.end(), std::make_move_iterator(more.begin()),
                      std::make_move_iterator(more.end()));
        ++next_;
      }
      table.s_shifts.push_back(std::move(fields.front()));
      table.cells.emplace_back(std::make_move_iterator(fields.begin() + 1),
                               std::make_move_iterator(fields.end()));
    }
    if (table.rows() == 0) {
      fail(next_, "the " + name + " table has no rows");
    }
    if (like && (!same_texts(table.l_shifts, like->l_shifts) ||
                 !same_texts(table.s_shifts, like->s_shifts))) {
      fail(at, "the " + name + " table has other shifts than the " + like->name + " table");
    }
  }

  void read_minimum(const std::string& name, MapMinimum& minimum) {
    const std::size_t at = skip_empty();
    const std::string& line = lines_[at];
    blank(line, at, 0, minimum_indent);
    minimum.l = field(line, at, minimum_indent, 10, "the " + name + " minimum's VL shift");
    minimum.s = field(line, at, minimum_indent + 10, 10, "the " + name + " minimum's VS shift");
    minimum.energy = field(line, at, minimum_indent + 20, 10, "the " + name + " minimum");
    ends(line, at, minimum_indent + 30);
    ++next_;
  }

  // --- lines ---

  void begin(Section section) { section_ = section; }

  // The index of the next line, which is then consumed.
  std::size_t take() {
    const std::size_t at = peek();
    ++next_;
    return at;
  }

  std::size_t peek() const {
    if (next_ >= lines_.size()) {
      throw EndOfReport{};
    }
    return next_;
  }

  // Skips empty lines; the index of the first other line (not consumed).
  std::size_t skip_empty() {
    while (peek() < lines_.size() && lines_[next_].empty()) {
      ++next_;
    }
    return next_;
  }

  bool remaining_empty() const {
    for (std::size_t i = next_; i < lines_.size(); ++i) {
      if (!lines_[i].empty()) {
        return false;
      }
    }
    return true;
  }

  // A heading line after any number of empty lines; its index (consumed).
  // A heading that is a line of its own is compared whole, one followed by
  // fields only as far as its text goes.
  std::size_t heading(std::string_view text, bool whole_line = true) {
    const std::size_t at = skip_empty();
    const std::string& line = lines_[at];
    if (whole_line ? line != text : line.compare(0, text.size(), text) != 0) {
      fail(at, "expected " + std::string(section_name(section_)) + " (\"" +
                   std::string(trim(text)) + "\")");
    }
    ++next_;
    return at;
  }

  [[noreturn]] void fail(std::size_t index, const std::string& what) const {
    throw ReportError(source_, index + 1, what);
  }

  // --- fields ---

  static std::string columns(std::size_t column, std::size_t width) {
    return "columns " + std::to_string(column + 1) + "-" + std::to_string(column + width);
  }

  Field field(const std::string& line, std::size_t at, std::size_t column, std::size_t width,
              const std::string& what) const {
    if (line.size() < column + width) {
      fail(at, "the line ends before " + what + " (" + columns(column, width) + ") of " +
                   std::string(section_name(section_)));
    }
    try {
      return parse_field(std::string_view(line).substr(column, width));
    } catch (const std::invalid_argument& error) {
      fail(at, std::string(error.what()) + " where " + what + " belongs (" +
                   columns(column, width) + ")");
    }
  }

  Vector3 vector3(const std::string& line, std::size_t at, std::size_t column,
                  const std::string& what) const {
    return {field(line, at, column, 10, what), field(line, at, column + 10, 10, what),
            field(line, at, column + 20, 10, what)};
  }

  // A text field as printed, trailing blanks removed; the line may end in it.
  static std::string text(const std::string& line, std::size_t column, std::size_t width) {
    if (line.size() <= column) {
      return {};
    }
    std::string value = line.substr(column, width);
    while (!value.empty() && value.back() == ' ') {
      value.pop_back();
    }
    return value;
  }

  void literal(const std::string& line, std::size_t at, std::size_t column,
               std::string_view expected) const {
    if (line.size() < column + expected.size() ||
        line.compare(column, expected.size(), expected) != 0) {
      fail(at, "expected \"" + std::string(expected) + "\" in " + columns(column, expected.size()) +
                   " of " + std::string(section_name(section_)));
    }
  }

  void blank(const std::string& line, std::size_t at, std::size_t column, std::size_t width) const {
    const std::size_t end = std::min(line.size(), column + width);
    for (std::size_t k = column; k < end; ++k) {
      if (line[k] != ' ') {
        fail(at, "expected blanks in " + columns(column, width) + " of " +
                     std::string(section_name(section_)));
      }
    }
  }

  void ends(const std::string& line, std::size_t at, std::size_t column) const {
    if (line.size() > column) {
      fail(at, "unexpected text after column " + std::to_string(column) + " of " +
                   std::string(section_name(section_)));
    }
  }

  // The fields of 10 columns from `column` to the end of line `at`.
  std::vector<Field> map_fields(std::size_t at, std::size_t column) const {
    const std::string& line = lines_[at];
    if (line.size() < column || (line.size() - column) % map_field_width != 0) {
      fail(at, "expected fields of 10 columns in " + std::string(section_name(section_)) +
                   ", the line has " + std::to_string(line.size()) + " characters");
    }
    std::vector<Field> fields;
    for (std::size_t k = column; k < line.size(); k += map_field_width) {
      fields.push_back(field(line, at, k, map_field_width, "a field"));
    }
    return fields;
  }

  static bool same_texts(const std::vector<Field>& a, const std::vector<Field>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Field& x, const Field& y) { return x.text == y.text; });
  }

  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  std::string source_;
  Section section_ = Section::cell;
};

// "1/2", "1/3", ... for a magnitude that is one to five decimals; otherwise empty.
std::string fraction(double magnitude) {
  for (int denominator : {1, 2, 3, 4, 6, 8}) {
    const double numerator = std::round(magnitude * denominator);
    if (std::abs(numerator / denominator - magnitude) < 1e-4 && numerator < 1e6) {
      const long n = static_cast<long>(numerator);
      return denominator == 1 ? std::to_string(n)
                              : std::to_string(n) + "/" + std::to_string(denominator);
    }
  }
  return {};
}

// The magnitude of a value as symmetry text shows it.
std::string magnitude_text(const Field& field) {
  if (!field.value) {
    return "(" + field.text + ")";
  }
  const std::string as_fraction = fraction(std::abs(*field.value));
  if (!as_fraction.empty()) {
    return as_fraction;
  }
  const bool signed_text =
      !field.text.empty() && (field.text.front() == '-' || field.text.front() == '+');
  return signed_text ? field.text.substr(1) : field.text;
}

}  // namespace

Report read_report(std::istream& in, const std::string& source) {
  return Reader(in, source).read();
}

Report read_report_file(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw ReportError(path.string(), 0, "is a folder, not a report file");
  }
  std::ifstream in(path);
  if (!in) {
    const int code = errno;
    throw ReportError(
        path.string(), 0,
        std::string("cannot open the report: ") + std::generic_category().message(code));
  }
  return read_report(in, path.string());
}

std::string symmetry_text(const std::array<Field, 12>& operation) {
  static constexpr std::array<char, 3> axes = {'x', 'y', 'z'};
  std::string result;
  for (std::size_t row = 0; row < 3; ++row) {
    std::string term;
    const auto append = [&term](const Field& field, std::string_view suffix) {
      const bool negative =
          field.value ? *field.value < 0.0 : !field.text.empty() && field.text.front() == '-';
      if (negative) {
        term += '-';
      } else if (!term.empty()) {
        term += '+';
      }
      const std::string magnitude = magnitude_text(field);
      if (!(suffix.size() > 0 && magnitude == "1")) {
        term += magnitude;
      }
      term += suffix;
    };
    for (std::size_t column = 0; column < 3; ++column) {
      const Field& coefficient = operation[3 * row + column];
      if (coefficient.value && *coefficient.value == 0.0) {
        continue;
      }
      append(coefficient, std::string_view(&axes[column], 1));
    }
    const Field& translation = operation[9 + row];
    if (!(translation.value && *translation.value == 0.0)) {
      append(translation, {});
    }
    if (term.empty()) {
      term = "0";
    }
    result += (row == 0 ? "" : ", ") + term;
  }
  return result;
}

}  // namespace zelk8::report
