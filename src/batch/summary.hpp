// The results table of a batch: OUT/summary.csv, OUT/summary.json and
// OUT/index.html, one row per crystal in name order.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace zelk8::batch {

// The columns, in the order of every table.
inline constexpr std::array<std::string_view, 20> summary_columns = {
    "name",         "status",         "message",           "formula",
    "space_group",  "atoms",          "element_types",     "units",
    "etot_units",   "lattice_energy", "lattice_molecules", "stack_unit",
    "stack_etot",   "map_min_evdw",   "map_min_evdw_l",    "map_min_evdw_s",
    "map_min_etot", "map_min_etot_l", "map_min_etot_s",    "seconds"};

// A row: one text per column, numbers exactly as the report printed them,
// empty where a value does not apply. Missing columns count as empty.
using Row = nlohmann::json;  // an object of strings

// A row with every column present and empty.
Row empty_row(const std::string& name);

// The text of `column` in `row`, empty when absent.
std::string cell(const Row& row, std::string_view column);

// summary.csv: a header line, then one line per row (RFC 4180 quoting for
// fields holding a comma, a quote or a line end).
std::string summary_csv(const std::vector<Row>& rows);

// summary.json: an array of objects with the same keys in the same order;
// number columns whose text is a number become JSON numbers, empty cells
// become null, everything else stays text.
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
