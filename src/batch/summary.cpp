#include "summary.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "markup.hpp"

namespace zelk8::batch {

namespace {

bool numeric(Kind kind) { return kind == Kind::number || kind == Kind::count; }

std::optional<double> as_number(const std::string& text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<long long> as_count(const std::string& text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// A link target relative to OUT: every byte outside the safe set escaped.
std::string url_escape(std::string_view path) {
  std::string out;
  for (unsigned char c : path) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '.' || c == '_' || c == '-';
    if (safe) {
      out += static_cast<char>(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      out += code;
    }
  }
  return out;
}

constexpr std::string_view page_head = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>zelk8-batch results</title>
<style>
body { font-family: sans-serif; margin: 1.5em; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.5em; }
th { background: #eee; cursor: pointer; user-select: none; position: sticky; top: 0; }
th.up::after { content: " \25B2"; }
th.down::after { content: " \25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.list { font-size: 0.85em; min-width: 20em; }
tr.failed td { background: #fdd; }
</style>
</head>
<body>
<h1>zelk8-batch results</h1>
<p>Energies in kJ/mol, shifts in Angstrom. Click a column heading to sort by it.</p>
<table id="summary">
<thead><tr>)";

// Sorting: numbers by value (empty cells last), other columns as text.
constexpr std::string_view page_tail = R"(</tbody>
</table>
<script>
(function () {
  const table = document.getElementById("summary");
  const headings = table.tHead.rows[0].cells;
  for (let k = 0; k < headings.length; k++) {
    headings[k].addEventListener("click", function () {
      const up = !headings[k].classList.contains("up");
      for (const h of headings) h.classList.remove("up", "down");
      headings[k].classList.add(up ? "up" : "down");
      const body = table.tBodies[0];
      const rows = Array.from(body.rows);
      const key = function (row) {
        const text = row.cells[k].textContent.trim();
        const value = Number(text);
        return text !== "" && !isNaN(value) ? [0, value, ""] : [text === "" ? 2 : 1, 0, text];
      };
      rows.sort(function (a, b) {
        const x = key(a), y = key(b);
        if (x[0] !== y[0]) return x[0] - y[0];
        const order = x[0] === 0 ? x[1] - y[1] : x[2].localeCompare(y[2]);
        return up ? order : -order;
      });
      for (const row of rows) body.appendChild(row);
    });
  }
})();
</script>
</body>
</html>
)";

}  // namespace

Cell& Cell::operator=(std::string text) {
  number_.reset();
  count_.reset();
  if (kind_ == Kind::list) {
    items_.clear();
    if (!text.empty()) items_.push_back(std::move(text));
    return *this;
  }
  if (kind_ == Kind::number) number_ = as_number(text);
  if (kind_ == Kind::count) count_ = as_count(text);
  text_ = std::move(text);
  return *this;
}

Cell& Cell::operator=(std::vector<std::string> items) {
  if (kind_ != Kind::list) throw std::logic_error("a list given to a cell that holds one value");
  items_ = std::move(items);
  return *this;
}

Cell& Cell::operator=(long long count) { return *this = std::to_string(count); }

std::string Cell::text() const {
  if (kind_ != Kind::list) return text_;
  std::string joined;
  for (const std::string& item : items_)
    joined += (joined.empty() ? "" : std::string(list_separator)) + item;
  return joined;
}

Row::Row(const std::string& name) {
  for (size_t k = 0; k < summary_columns.size(); ++k) cells_[k] = Cell(summary_columns[k].kind);
  (*this)["name"] = name;
}

Cell& Row::operator[](std::string_view column) {
  return const_cast<Cell&>(static_cast<const Row&>(*this)[column]);
}

const Cell& Row::operator[](std::string_view column) const {
  for (size_t k = 0; k < summary_columns.size(); ++k)
    if (summary_columns[k].name == column) return cells_[k];
  throw std::out_of_range("no summary column " + std::string(column));
}

nlohmann::json Row::to_json() const {
  nlohmann::json object = nlohmann::json::object();
  for (size_t k = 0; k < summary_columns.size(); ++k) {
    const std::string key(summary_columns[k].name);
    if (summary_columns[k].kind == Kind::list)
      object[key] = cells_[k].items();
    else
      object[key] = cells_[k].text();
  }
  return object;
}

Row Row::from_json(const nlohmann::json& object) {
  Row row;
  if (!object.is_object()) return row;
  for (const Column& column : summary_columns) {
    auto found = object.find(std::string(column.name));
    if (found == object.end()) continue;
    if (found->is_string()) {
      row[column.name] = found->get<std::string>();
    } else if (found->is_array() && column.kind == Kind::list) {
      std::vector<std::string> list;
      for (const nlohmann::json& item : *found)
        if (item.is_string()) list.push_back(item.get<std::string>());
      row[column.name] = std::move(list);
    }
  }
  return row;
}

Row empty_row(const std::string& name) { return Row(name); }

std::string cell(const Row& row, std::string_view column) { return row[column].text(); }

std::vector<std::string> items(const Row& row, std::string_view column) {
  const Cell& found = row[column];
  if (found.kind() == Kind::list) return found.items();
  const std::string text = found.text();
  return text.empty() ? std::vector<std::string>() : std::vector<std::string>{text};
}

std::string summary_csv(const std::vector<Row>& rows) {
  std::string text;
  for (size_t k = 0; k < summary_columns.size(); ++k)
    text += (k ? "," : "") + std::string(summary_columns[k].name);
  text += '\n';
  for (const Row& row : rows) {
    for (size_t k = 0; k < summary_columns.size(); ++k)
      text += (k ? "," : "") + csv_field(cell(row, summary_columns[k].name));
    text += '\n';
  }
  return text;
}

std::string summary_json(const std::vector<Row>& rows) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const Row& row : rows) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Column& column : summary_columns) {
      const std::string key(column.name);
      if (column.kind == Kind::list) {
        object[key] = items(row, column.name);
        continue;
      }
      const Cell& value = row[column.name];
      const std::string text = value.text();
      if (text.empty()) {
        object[key] = nullptr;
      } else if (column.kind == Kind::text) {
        object[key] = text;
      } else if (value.count()) {
        object[key] = *value.count();
      } else if (value.number()) {
        object[key] = *value.number();
      } else {
        // Off-scale or otherwise not a number of this kind: no number, and
        // the text as printed beside it.
        object[key] = nullptr;
        object[key + "_printed"] = text;
      }
    }
    all.push_back(std::move(object));
  }
  return all.dump(1) + '\n';
}

std::string index_html(const std::vector<Row>& rows, const std::vector<Links>& links) {
  std::string page(page_head);
  for (const Column& column : summary_columns) page += "<th>" + std::string(column.name) + "</th>";
  page += "<th>picture</th></tr></thead>\n<tbody>\n";
  for (size_t r = 0; r < rows.size(); ++r) {
    const Row& row = rows[r];
    const Links link = r < links.size() ? links[r] : Links{};
    page += cell(row, "status") == "ok" ? "<tr>" : "<tr class=\"failed\">";
    for (const Column& column : summary_columns) {
      std::string text;
      if (column.kind == Kind::list) {
        // One line per item.
        for (const std::string& item : items(row, column.name))
          text += (text.empty() ? "" : "<br>") + report::markup_escape(item);
      } else {
        text = report::markup_escape(cell(row, column.name));
      }
      if (column.name == "name" && !link.page.empty())
        page += "<td><a href=\"" + url_escape(link.page) + "\">" + text + "</a></td>";
      else if (column.kind == Kind::list)
        page += "<td class=\"list\">" + text + "</td>";
      else
        page +=
            numeric(column.kind) ? "<td class=\"num\">" + text + "</td>" : "<td>" + text + "</td>";
    }
    if (link.picture.empty())
      page += "<td></td>";
    else
      page += "<td><a href=\"" + url_escape(link.picture) + "\">map</a></td>";
    page += "</tr>\n";
  }
  page += page_tail;
  return page;
}

void write_whole_file(const std::string& path, std::string_view text) {
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0)
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno) +
                             "; check that its folder exists and is writable");
  size_t written = 0;
  int error = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (!error && fsync(fd) != 0 && errno != EINVAL) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  // mkstemp makes the file private; a results file is as readable as any other.
  if (!error && chmod(temporary.c_str(), 0644) != 0) error = errno;
  if (!error && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(error) +
                             "; nothing was written (free some space or fix the permissions)");
  }
}

}  // namespace zelk8::batch
