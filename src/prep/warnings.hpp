// The warnings of one run: each once, in the order they arise, and repeats
// of one kind (a value per unit, a site per occupancy) gathered into one line.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "input_file.hpp"

namespace zelk8::prep {

class Warnings {
 public:
  // Makes the line of a group from its items, in the order they came.
  using Render = std::function<std::string(const std::vector<std::string>& items)>;

  // A warning of its own; the same text twice is one warning.
  void add(const std::string& text);
  // An item of the group `key`: the group is one warning, in the place of
  // its first item, whose line `render` makes. An item given twice counts once.
  void add_to(const std::string& key, const std::string& item, const Render& render);

  std::vector<std::string> lines() const;

 private:
  struct Entry {
    std::string key;
    std::vector<std::string> items;  // empty for a warning of its own
    Render render;
  };
  std::vector<Entry> entries_;
};

// "C01, C02 and C03"; "C01" alone; the first `shown` and "N more" after them.
std::string listed(const std::vector<std::string>& items, size_t shown = 8);

// One line for every unit value written inexactly: how many, which values
// become which fields, in which units.
std::string inexact_warning(const std::vector<InexactField>& fields);

}  // namespace zelk8::prep
