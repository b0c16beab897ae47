#include "warnings.hpp"

#include <algorithm>
#include <cstdio>

namespace zelk8::prep {

void Warnings::add(const std::string& text) {
  for (const Entry& entry : entries_)
    if (entry.items.empty() && entry.key == text) return;
  entries_.push_back({text, {}, nullptr});
}

void Warnings::add_to(const std::string& key, const std::string& item, const Render& render) {
  for (Entry& entry : entries_)
    if (!entry.items.empty() && entry.key == key) {
      if (std::find(entry.items.begin(), entry.items.end(), item) == entry.items.end())
        entry.items.push_back(item);
      return;
    }
  entries_.push_back({key, {item}, render});
}

std::vector<std::string> Warnings::lines() const {
  std::vector<std::string> lines;
  for (const Entry& entry : entries_)
    lines.push_back(entry.items.empty() ? entry.key : entry.render(entry.items));
  return lines;
}

std::string listed(const std::vector<std::string>& items, size_t shown) {
  std::string text;
  const size_t n = std::min(items.size(), shown);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) text += (i + 1 == items.size() ? " and " : ", ");
    text += items[i];
  }
  if (items.size() > n) text += " and " + std::to_string(items.size() - n) + " more";
  return text;
}

std::string inexact_warning(const std::vector<InexactField>& fields) {
  if (fields.empty()) return "";
  // The distinct values in the order met, each with its field and units.
  struct Value {
    std::string text, field;
    std::vector<std::string> units;
  };
  std::vector<Value> values;
  for (const InexactField& f : fields) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", f.value);
    auto at =
        std::find_if(values.begin(), values.end(), [&](const Value& v) { return v.text == text; });
    if (at == values.end()) at = values.insert(values.end(), {text, f.field, {}});
    if (std::find(at->units.begin(), at->units.end(), f.unit) == at->units.end())
      at->units.push_back(f.unit);
  }
  std::string line =
      fields.size() == 1 ? "1 unit value is" : std::to_string(fields.size()) + " unit values are";
  line += " written as the nearest a 5-column field holds: ";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += "; ";
    line += values[i].text + " is written as " + values[i].field + " (unit" +
            (values[i].units.size() == 1 ? " " : "s ") + listed(values[i].units) + ")";
  }
  return line + "; equivalent units may differ";
}

}  // namespace zelk8::prep
