#include "report.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

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

}  // namespace zelk8::report
