#include "map_report.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

namespace zelk8::map {

namespace {

constexpr std::string_view map_heading = " Map of the stacked molecule shift at Z =";
constexpr std::size_t field_width = 10;
constexpr std::size_t fields_per_line = 100;  // "(100F10.3)"
constexpr std::size_t minimum_indent = 110;   // "(/,110X,3F10.3)"

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The report split into lines, without line terminators or trailing blanks.
class ReportLines {
 public:
  explicit ReportLines(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
      }
      lines_.push_back(std::move(line));
    }
  }

  std::size_t size() const { return lines_.size(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }

 private:
  std::vector<std::string> lines_;
};

[[noreturn]] void malformed(std::size_t line_index, const std::string& what) {
  throw ReportError(ReportError::Kind::malformed,
                    "line " + std::to_string(line_index + 1) + ": " + what);
}

// The fields of 10 columns from column `first` (0-based) to the end of the line.
std::vector<Field> split_fields(const std::string& line, std::size_t first,
                                std::size_t line_index) {
  if (line.size() < first || (line.size() - first) % field_width != 0) {
    malformed(line_index, "expected fields of " + std::to_string(field_width) +
                              " columns, the line has " + std::to_string(line.size()) +
                              " characters");
  }
  std::vector<Field> fields;
  for (std::size_t at = first; at < line.size(); at += field_width) {
    const std::string text(trim(std::string_view(line).substr(at, field_width)));
    if (text.empty()) {
      malformed(line_index, "blank field at column " + std::to_string(at + 1));
    }
    try {
      fields.push_back(parse_field(text));
    } catch (const ReportError& error) {
      malformed(line_index, std::string(error.what()) + " at column " + std::to_string(at + 1));
    }
  }
  return fields;
}

std::size_t skip_empty(const ReportLines& lines, std::size_t i) {
  while (i < lines.size() && lines[i].empty()) {
    ++i;
  }
  return i;
}

// Reads one table starting at line i (its header, possibly after empty lines);
// returns the index of the first line after its last row.
std::size_t read_table(const ReportLines& lines, std::size_t i, const std::string& name,
                       MapTable& table) {
  // Header: the name in a field of 10 columns (" EvdW     ", " Estat    ", " Etot     ").
  std::string label = " " + name;
  label.resize(field_width, ' ');
  i = skip_empty(lines, i);
  if (i >= lines.size()) {
    throw ReportError(ReportError::Kind::malformed,
                      "the report ends before the " + name + " table");
  }
  if (lines[i].compare(0, field_width, label) != 0) {
    malformed(i, "expected the header of the " + name + " table");
  }
  table.name = name;
  table.l_shifts = split_fields(lines[i], field_width, i);
  if (table.l_shifts.empty()) {
    malformed(i, "the " + name + " table has no columns");
  }
  ++i;

  // Rows: the row label and one energy per column, wrapped after 100 fields.
  const std::size_t row_fields = table.columns() + 1;
  while (i < lines.size() && !lines[i].empty()) {
    std::vector<Field> fields;
    while (fields.size() < row_fields) {
      if (i >= lines.size() || lines[i].empty()) {
        malformed(i, "row " + std::to_string(table.rows() + 1) + " of the " + name +
                         " table is cut short");
      }
      const std::size_t wanted = std::min(row_fields - fields.size(), fields_per_line);
      std::vector<Field> more = split_fields(lines[i], 0, i);
      if (more.size() != wanted) {
        malformed(i, "row " + std::to_string(table.rows() + 1) + " of the " + name +
                         " table: expected " + std::to_string(wanted) + " fields, found " +
                         std::to_string(more.size()));
      }
      fields.insert(fields.end(), std::make_move_iterator(more.begin()),
                    std::make_move_iterator(more.end()));
      ++i;
    }
    table.s_shifts.push_back(std::move(fields.front()));
    table.cells.emplace_back(std::make_move_iterator(fields.begin() + 1),
                             std::make_move_iterator(fields.end()));
  }
  if (table.rows() == 0) {
    malformed(i, "the " + name + " table has no rows");
  }
  return i;
}

std::size_t read_minimum(const ReportLines& lines, std::size_t i, const std::string& name,
                         MapMinimum& minimum) {
  i = skip_empty(lines, i);
  if (i >= lines.size()) {
    throw ReportError(ReportError::Kind::malformed,
                      "the report ends before the " + name + " minimum line");
  }
  const std::string& line = lines[i];
  if (line.size() <= minimum_indent ||
      !trim(std::string_view(line).substr(0, minimum_indent)).empty()) {
    malformed(i, "expected the " + name + " minimum line (110 blanks and three fields)");
  }
  std::vector<Field> fields = split_fields(line, minimum_indent, i);
  if (fields.size() != 3) {
    malformed(i, "the " + name + " minimum line holds " + std::to_string(fields.size()) +
                     " fields instead of 3");
  }
  minimum = MapMinimum{std::move(fields[0]), std::move(fields[1]), std::move(fields[2])};
  return i + 1;
}

bool same_labels(const std::vector<Field>& a, const std::vector<Field>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].text != b[k].text) {
      return false;
    }
  }
  return true;
}

}  // namespace

Field parse_field(const std::string& text) {
  Field field;
  field.text = text;
  if (!text.empty() && text.find_first_not_of('*') == std::string::npos) {
    field.kind = FieldKind::overflow;
    return field;
  }
  // The spellings of non-finite values; the sign is kept in the text only.
  static constexpr std::array<std::string_view, 9> non_finite = {
      "NaN", "Infinity", "-Infinity", "+Infinity", "Inf", "-Inf", "+Inf", "-NaN", "+NaN"};
  for (std::string_view spelling : non_finite) {
    if (text == spelling) {
      field.kind = FieldKind::non_finite;
      return field;
    }
  }
  std::string_view digits = text;
  if (digits.size() > 1 && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, field.value, std::chars_format::general);
  if (error != std::errc() || stop != end || !std::isfinite(field.value)) {
    throw ReportError(ReportError::Kind::malformed, "unreadable field \"" + text + "\"");
  }
  return field;
}

StackMap read_stack_map(std::istream& report) {
  const ReportLines lines(report);

  std::size_t i = 0;
  while (i < lines.size() && lines[i].compare(0, map_heading.size(), map_heading) != 0) {
    ++i;
  }
  if (i == lines.size()) {
    throw ReportError(ReportError::Kind::no_map,
                      "the report has no stacking shift map (no line \"" +
                          std::string(trim(map_heading)) +
                          "\"): the run had stack_unit 0 or did not get that far");
  }

  StackMap map;
  const std::string height_text(trim(std::string_view(lines[i]).substr(map_heading.size())));
  if (height_text.empty()) {
    malformed(i, "the map heading has no height");
  }
  try {
    map.height = parse_field(height_text);
  } catch (const ReportError& error) {
    malformed(i, std::string(error.what()) + " in the map heading");
  }

  ++i;
  if (skip_empty(lines, i) == lines.size()) {
    throw ReportError(ReportError::Kind::no_tables,
                      "the report has the map heading (Z = " + map.height.text +
                          ") but no tables: the run had stack_unit above 40 and wrote the "
                          "shift scan to coord.xyz instead");
  }

  i = read_table(lines, i, "EvdW", map.evdw);
  i = read_minimum(lines, i, "EvdW", map.evdw_minimum);
  i = read_table(lines, i, "Estat", map.estat);
  i = read_table(lines, i, "Etot", map.etot);
  read_minimum(lines, i, "Etot", map.etot_minimum);

  for (const MapTable* table : {&map.estat, &map.etot}) {
    if (!same_labels(table->l_shifts, map.evdw.l_shifts) ||
        !same_labels(table->s_shifts, map.evdw.s_shifts)) {
      throw ReportError(ReportError::Kind::malformed,
                        "the " + table->name + " table has other shifts than the EvdW table");
    }
  }
  return map;
}

}  // namespace zelk8::map
