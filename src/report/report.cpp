#include "report.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "report_layout.hpp"
#include "text.hpp"

namespace zelk8::report {

namespace {

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
  field.value = number_of<double>(field.text);
  if (!field.value) {
    throw std::invalid_argument("unreadable number \"" + field.text + "\"");
  }
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
    : InputError(source + (line > 0 ? " line " + std::to_string(line) : std::string()) + ": " +
                 what),
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

using records::Placement;

// One format of the report as the program writes it, compiled: its fields
// and its texts in order, each with its record and columns.
class Layout {
 public:
  explicit Layout(std::string_view literal) {
    for (Placement& p : records::placements(records::Format(literal))) {
      (p.text ? texts_ : fields_).push_back(std::move(p));
    }
  }
  const Placement& field(std::size_t k) const { return fields_.at(k); }
  const Placement& text(std::size_t k) const { return texts_.at(k); }
  std::size_t field_count() const { return fields_.size(); }

  // The texts of record `record` before its first field, blanks between
  // them as written: the heading a reader looks for.
  std::string lead(int record) const {
    std::size_t stop = std::string::npos;
    for (const Placement& f : fields_) {
      if (f.record == record) {
        stop = f.column;
        break;
      }
    }
    std::string line;
    for (const Placement& t : texts_) {
      if (t.record == record && t.column < stop) {
        line.resize(t.column, ' ');
        line += t.literal;
      }
    }
    return line;
  }

 private:
  std::vector<Placement> fields_;
  std::vector<Placement> texts_;
};

namespace layout = records::report_layout;
const Layout cell_layout(layout::cell);
const Layout atom_layout(layout::atom);
const Layout element_heading_layout(layout::element_heading);
const Layout element_row_layout(layout::element_row);
const Layout element_sum_layout(layout::element_sum);
const Layout transfer_layout(layout::transfer_matrix);
const Layout centre_layout(layout::centre_of_gravity);
const Layout moments_heading_layout(layout::moments_heading);
const Layout moments_layout(layout::moments_row);
const Layout orientation_layouts[] = {
    Layout(layout::orientation_vl), Layout(layout::orientation_vs), Layout(layout::orientation_vv)};
const Layout run_parameters_layout(layout::run_parameters);
const Layout coordinates_heading_layout(layout::coordinates_heading);
const Layout coordinates_atom_layout(layout::coordinates_atom);
const Layout extents_layout(layout::extents);
const Layout units_heading_layout(layout::units_heading);
const Layout unit_layout(layout::unit_block);
const Layout lattice_sum_layout(layout::lattice_sum);
const Layout map_heading_layout(layout::map_heading);
const Layout map_row_layout(layout::map_row);
const Layout map_minimum_layout(layout::map_minimum);

const std::string element_heading = element_heading_layout.lead(1);
const std::string transfer_heading = transfer_layout.lead(2);
const std::string centre_heading = centre_layout.lead(1);
const std::string moments_heading = moments_heading_layout.lead(1);
const std::string orientation_heading = orientation_layouts[0].lead(1);
const std::string coordinates_heading = coordinates_heading_layout.lead(1);
const std::string coordinates_columns = coordinates_heading_layout.lead(2);
const std::string units_heading = units_heading_layout.lead(1);
const std::string units_columns = units_heading_layout.lead(2);
const std::string map_heading = map_heading_layout.lead(0);
const std::size_t map_field_width = map_row_layout.field(0).width;
const std::size_t map_fields_per_line = map_row_layout.field_count();

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
      report.centre_of_gravity = vector3(line, at, centre_layout, 0, "the centre of gravity");
      literal(line, at, centre_layout.text(1));
      ends(line, at, centre_layout.text(1).end());
    }
    begin(Section::moments);
    heading(moments_heading);
    for (Vector3& row : report.moments) {
      const std::size_t at = take();
      row = vector3(lines_[at], at, moments_layout, 0, "a moment line");
      ends(lines_[at], at, moments_layout.field(2).end());
    }
    begin(Section::orientation);
    read_orientation(report.orientation);
    begin(Section::run_parameters);
    {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      RunParameters& p = report.run_parameters;
      const Layout& l = run_parameters_layout;
      p.stack_unit = field(line, at, l.field(0), "the stacking unit");
      blank(line, at, l.field(0).end(), l.field(1).column - l.field(0).end());
      p.charge_h = field(line, at, l.field(1), "the hydrogen charge increment");
      p.charge_1 = field(line, at, l.field(2), "the first charge increment");
      p.charge_2 = field(line, at, l.field(3), "the second charge increment");
      p.charge_3 = field(line, at, l.field(4), "the third charge increment");
      ends(line, at, l.field(4).end());
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
      const Layout& l = extents_layout;
      literal(line, at, l.text(0));
      report.extents.vs = field(line, at, l.field(0), "the extent along VS");
      literal(line, at, l.text(1));
      report.extents.vl = field(line, at, l.field(1), "the extent along VL");
      ends(line, at, l.field(1).end());
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
      const Placement& mark = unit_layout.text(0);
      if (lines_[at].size() < mark.end() ||
          lines_[at].compare(mark.column, mark.width, mark.literal) != 0) {
        break;
      }
      report.units.push_back(unit_block());
    }
    begin(Section::lattice_sum);
    {
      const std::size_t at = skip_empty();
      const std::string& line = lines_[at];
      const Layout& l = lattice_sum_layout;
      blank(line, at, 0, l.text(0).column);
      literal(line, at, l.text(0));
      report.lattice_etot = field(line, at, l.field(0), "the lattice sum");
      ends(line, at, l.field(0).end());
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
      report.map_height = field(line, at, map_heading_layout.field(0), "the map height");
      ends(line, at, map_heading_layout.field(0).end());
    }
    // A stacking unit above 40 (four asterisks when it does not fit) writes a
    // coordinate scan in place of the tables.
    begin(Section::evdw_table);
    if (remaining_empty() && (!stack || *stack > 40.0)) {
      return;
    }
    ShiftMap map;
    read_table("EvdW", Layout(layout::map_evdw_header), map.evdw);
    begin(Section::evdw_minimum);
    read_minimum("EvdW", map.evdw_minimum);
    begin(Section::estat_table);
    read_table("Estat", Layout(layout::map_estat_header), map.estat, &map.evdw);
    begin(Section::etot_table);
    read_table("Etot", Layout(layout::map_etot_header), map.etot, &map.evdw);
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
      *fields[k] = field(line, at, cell_layout.field(k), "a cell parameter");
    }
    ends(line, at, cell_layout.field(5).end());
  }

  // One line per atom up to an empty line; the counts at the end of its
  // format are never written.
  void read_atoms(std::vector<Atom>& atoms) {
    while (true) {
      const std::size_t at = take();
      const std::string& line = lines_[at];
      if (line.empty()) {
        return;
      }
      const Layout& l = atom_layout;
      Atom atom;
      atom.element = field(line, at, l.field(0), "the element index");
      blank_between(line, at, l.field(0), l.field(1));
      atom.x = field(line, at, l.field(1), "the fractional x");
      atom.y = field(line, at, l.field(2), "the fractional y");
      atom.z = field(line, at, l.field(3), "the fractional z");
      blank_between(line, at, l.field(3), l.field(4));
      atom.label = text(line, l.field(4));
      blank_between(line, at, l.field(4), l.field(5));
      atom.symbol = text(line, l.field(5));
      ends(line, at, l.field(5).end());
      atoms.push_back(std::move(atom));
    }
  }

  void read_elements(ElementTable& table) {
    const std::size_t at = heading(element_heading, false);
    const Placement& value = element_heading_layout.field(0);
    table.heading_value = field(lines_[at], at, value, "the heading value");
    ends(lines_[at], at, value.end());
    while (true) {
      const std::size_t row = peek();
      const std::string& line = lines_[row];
      if (line.empty()) {
        return;
      }
      ++next_;
      const Layout& l = element_row_layout;
      blank(line, row, 0, l.field(0).column);
      const std::string symbol = text(line, l.field(0));
      // The Sum line holds seven integers; a row has two reals after three
      // integers (an element record may itself be named "Sum").
      const Placement& sum_label = element_sum_layout.text(0);
      if (symbol == trim(sum_label.literal) && line.size() > l.field(4).column &&
          line.substr(l.field(4).column).find('.') == std::string::npos) {
        ElementSum sum;
        Field* fields[] = {&sum.atoms,          &sum.nel,  &sum.nobl,      &sum.heavy,
                           &sum.molecule_atoms, &sum.zero, &sum.atom_count};
        for (std::size_t k = 0; k < 7; ++k) {
          *fields[k] = field(line, row, element_sum_layout.field(k), "a count of the Sum line");
        }
        ends(line, row, element_sum_layout.field(6).end());
        table.sum = std::move(sum);
        return;
      }
      ElementRow element;
      element.symbol = symbol;
      element.atoms = field(line, row, l.field(1), "the atom count");
      element.nel = field(line, row, l.field(2), "the NEL count");
      element.nobl = field(line, row, l.field(3), "the NOBL count");
      element.emin = field(line, row, l.field(4), "Emin");
      element.r0 = field(line, row, l.field(5), "R0");
      ends(line, row, l.field(5).end());
      table.rows.push_back(std::move(element));
    }
  }

  void read_transfer_matrix(TransferMatrix& t) {
    heading(transfer_heading);
    const std::pair<Field*, const char*> elements[] = {{&t.t11, "T11"}, {&t.t12, "T12"},
                                                       {&t.t13, "T13"}, {&t.t22, "T22"},
                                                       {&t.t23, "T23"}, {&t.t33, "T33"}};
    std::size_t at = 0;
    for (std::size_t k = 0; k < 6; ++k) {
      const Placement& p = transfer_layout.field(k);
      const bool first = k == 0 || transfer_layout.field(k - 1).record != p.record;
      const bool last = k == 5 || transfer_layout.field(k + 1).record != p.record;
      if (first) {
        at = take();
        blank(lines_[at], at, 0, p.column);
      }
      *elements[k].first = field(lines_[at], at, p, elements[k].second);
      if (last) {
        ends(lines_[at], at, p.end());
      }
    }
  }

  void read_orientation(Orientation& orientation) {
    heading(orientation_heading);
    Axis* axes[] = {&orientation.vl, &orientation.vs, &orientation.vv};
    for (std::size_t k = 0; k < 3; ++k) {
      const Layout& l = orientation_layouts[k];
      const std::size_t at = take();
      const std::string& line = lines_[at];
      axes[k]->length = field(line, at, l.field(0), "the axis length");
      literal(line, at, l.text(l.field(0).record == 0 ? 0 : 1));
      axes[k]->direction = vector3(line, at, l, 1, "the axis direction");
      ends(line, at, l.field(3).end());
    }
  }

  FrameAtom frame_atom(std::size_t at) {
    const std::string& line = lines_[at];
    const Layout& l = coordinates_atom_layout;
    FrameAtom atom;
    atom.element = field(line, at, l.field(0), "the element index");
    blank_between(line, at, l.field(0), l.field(1));
    atom.l = field(line, at, l.field(1), "the VL coordinate");
    atom.s = field(line, at, l.field(2), "the VS coordinate");
    atom.v = field(line, at, l.field(3), "the VV coordinate");
    atom.charge = field(line, at, l.field(4), "the charge");
    blank_between(line, at, l.field(4), l.field(5));
    atom.label = text(line, l.field(5));
    atom.symbol = text(line, l.field(6));
    ends(line, at, l.field(6).end());
    return atom;
  }

  // Five lines: the unit line, three operation lines with the energies, an
  // empty line.
  Unit unit_block() {
    // The unit line: 8 fields and 3 texts; then per operation line 5 fields
    // and 3 texts.
    const Layout& l = unit_layout;
    Unit unit;
    std::size_t at = take();
    const std::string& first = lines_[at];
    unit.number = field(first, at, l.field(0), "the unit number");
    literal(first, at, l.text(0));
    unit.name = text(first, l.field(1));
    unit.shortest_distance = field(first, at, l.field(2), "d shortest");
    unit.centre_distance = field(first, at, l.field(3), "d center");
    literal(first, at, l.text(1));
    unit.centre = vector3(first, at, l, 4, "the unit centre");
    literal(first, at, l.text(2));
    unit.dihedral_angle = field(first, at, l.field(7), "the dihedral angle");
    ends(first, at, l.field(7).end());
    Field* energies[] = {&unit.evdw, &unit.estat, &unit.etot};
    for (std::size_t row = 0; row < 3; ++row) {
      const std::size_t f = 8 + 5 * row;
      const std::size_t t = 3 + 3 * row;
      at = take();
      const std::string& line = lines_[at];
      blank(line, at, 0, l.text(t).column);
      literal(line, at, l.text(t));
      for (std::size_t k = 0; k < 3; ++k) {
        unit.operation[3 * row + k] =
            field(line, at, l.field(f + k), "an element of the unit's operation");
      }
      literal(line, at, l.text(t + 1));
      unit.operation[9 + row] =
          field(line, at, l.field(f + 3), "a translation of the unit's operation");
      literal(line, at, l.text(t + 2));
      *energies[row] = field(line, at, l.field(f + 4), "an energy of the unit");
      ends(line, at, l.field(f + 4).end());
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
  void read_table(const std::string& name, const Layout& header, MapTable& table,
                  const MapTable* like = nullptr) {
    const std::size_t first_shift = header.field(0).column;
    std::string label = header.lead(1);
    label.resize(first_shift, ' ');
    const std::size_t at = skip_empty();
    if (lines_[at].compare(0, first_shift, label) != 0) {
      fail(at, "expected the header of the " + name + " table (\"" + std::string(trim(label)) +
                   "\" and the VL shifts)");
    }
    table.name = name;
    table.l_shifts = map_fields(at, first_shift);
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
    const Layout& l = map_minimum_layout;
    blank(line, at, 0, l.field(0).column);
    minimum.l = field(line, at, l.field(0), "the " + name + " minimum's VL shift");
    minimum.s = field(line, at, l.field(1), "the " + name + " minimum's VS shift");
    minimum.energy = field(line, at, l.field(2), "the " + name + " minimum");
    ends(line, at, l.field(2).end());
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

  Field field(const std::string& line, std::size_t at, const Placement& p,
              const std::string& what) const {
    return field(line, at, p.column, p.width, what);
  }

  // Three fields of `l` from its field `first`.
  Vector3 vector3(const std::string& line, std::size_t at, const Layout& l, std::size_t first,
                  const std::string& what) const {
    return {field(line, at, l.field(first), what), field(line, at, l.field(first + 1), what),
            field(line, at, l.field(first + 2), what)};
  }

  static std::string text(const std::string& line, const Placement& p) {
    return text(line, p.column, p.width);
  }

  void literal(const std::string& line, std::size_t at, const Placement& p) const {
    literal(line, at, p.column, p.literal);
  }

  // The columns between two fields are blank.
  void blank_between(const std::string& line, std::size_t at, const Placement& before,
                     const Placement& after) const {
    blank(line, at, before.end(), after.column - before.end());
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
