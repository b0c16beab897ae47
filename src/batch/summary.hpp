// The results table of a batch: OUT/summary.csv, OUT/summary.json and
// OUT/index.html, one row per crystal in name order.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk8::batch {

// What a column holds, which decides how summary.json writes it.
enum class Kind {
  text,    // a string
  number,  // a real number, as printed
  count,   // a whole number
  list,    // several texts (summary.json: an array; the tables: joined by " | ")
};

struct Column {
  std::string_view name;
  Kind kind;
};

// The columns, in the order of every table.
inline constexpr std::array<Column, 29> summary_columns = {{
    {"name", Kind::text},
    {"status", Kind::text},
    {"message", Kind::text},
    {"warnings", Kind::list},
    {"formula", Kind::text},
    {"space_group", Kind::text},
    {"atoms", Kind::count},
    {"element_types", Kind::count},
    {"net_charge", Kind::number},
    {"hbond_units", Kind::count},
    {"units", Kind::count},
    {"etot_units", Kind::number},
    {"lattice_energy", Kind::number},
    {"lattice_molecules", Kind::count},
    {"stack_unit", Kind::count},
    {"stack_etot", Kind::number},
    {"map_min_evdw", Kind::number},
    {"map_min_evdw_l", Kind::number},
    {"map_min_evdw_s", Kind::number},
    {"map_min_etot", Kind::number},
    {"map_min_etot_l", Kind::number},
    {"map_min_etot_s", Kind::number},
    {"map_overlap_points", Kind::count},
    {"charges", Kind::text},
    {"model", Kind::text},
    {"cutoff", Kind::number},
    {"lattice_radius", Kind::number},
    {"prep_options", Kind::text},
    {"seconds", Kind::number},
}};

// The separator of a list column's items in summary.csv and index.html.
inline constexpr std::string_view list_separator = " | ";

// A cell of a row, typed by its column's kind. A text, number or count cell
// holds its text as printed (empty where a value does not apply); a number
// cell also holds the value when that text is a finite number, a count cell
// when it is a whole number (not for an off-scale field: asterisks, NaN). A
// list cell holds several texts.
class Cell {
 public:
  explicit Cell(Kind kind = Kind::text) : kind_(kind) {}
  Kind kind() const { return kind_; }
  // The text as printed; in a list cell, its one item (none when empty).
  Cell& operator=(std::string text);
  Cell& operator=(const char* text) { return *this = std::string(text); }
  // A list cell's items; throws std::logic_error for a cell of another kind.
  Cell& operator=(std::vector<std::string> items);
  // A count, as its decimal text.
  Cell& operator=(long long count);

  // The text; a list's items joined by list_separator.
  std::string text() const;
  std::optional<double> number() const { return number_; }
  std::optional<long long> count() const { return count_; }
  const std::vector<std::string>& items() const { return items_; }

 private:
  Kind kind_;
  std::string text_;
  std::optional<double> number_;
  std::optional<long long> count_;
  std::vector<std::string> items_;
};

// A row: one typed cell per column of summary_columns, each empty until set.
class Row {
 public:
  explicit Row(const std::string& name = "");
  // The cell of `column`; throws std::out_of_range for a name that is not a column.
  Cell& operator[](std::string_view column);
  const Cell& operator[](std::string_view column) const;

  // As result.json keeps it: an object of every column's text, a list
  // column's items as an array of texts.
  nlohmann::json to_json() const;
  // The row of such an object; a column it lacks (a row of an earlier
  // version) is empty, a key that is no column is left out.
  static Row from_json(const nlohmann::json& object);

 private:
  std::array<Cell, summary_columns.size()> cells_;
};

// A row with every column empty but the name.
Row empty_row(const std::string& name);

// The text of `column` in `row`; a list's items joined by list_separator.
std::string cell(const Row& row, std::string_view column);

// The items of a list column (a text cell counts as one item).
std::vector<std::string> items(const Row& row, std::string_view column);

// summary.csv: a header line, then one line per row (RFC 4180 quoting for
// fields holding a comma, a quote or a line end).
std::string summary_csv(const std::vector<Row>& rows);

// summary.json: an array of objects with the same keys in the same order.
// Empty cells are null; number columns are JSON numbers and count columns
// JSON integers, and a value printed off-scale (asterisks, NaN) is null
// with its text beside it under "<column>_printed"; list columns are arrays.
std::string summary_json(const std::vector<Row>& rows);

// What index.html links to for a crystal: its page and picture, relative to
// OUT, empty when the crystal has none.
struct Links {
  std::string page;
  std::string picture;
};

// index.html: the same table, sortable by any column (click its heading),
// with each crystal's name linking to its page and a picture column.
std::string index_html(const std::vector<Row>& rows, const std::vector<Links>& links);

// Writes `text` to `path` whole or not at all: a temporary file beside it,
// then a rename. Throws std::runtime_error naming the file on failure.
void write_whole_file(const std::string& path, std::string_view text);

}  // namespace zelk8::batch
