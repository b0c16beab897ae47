// The report reader on arbitrary text: every outcome is a report (complete,
// or cut short with the place it stops) or a ReportError naming a line;
// never a crash, a hang, another exception or a sanitizer report. What it
// returns must hold together.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "report.hpp"

namespace {

using zelk8::report::Report;
using zelk8::report::ReportError;
using zelk8::report::Section;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void check_report(const Report& report, std::size_t line_count) {
  check(report.complete != report.stopped_at.has_value());
  if (report.stopped_at) {
    check(report.stopped_at->line >= 1 && report.stopped_at->line <= line_count + 1);
    check(!report.has(report.stopped_at->expected));
  }
  check(report.coordinates.size() <= report.atoms.size());
  if (report.has(Section::coordinates)) {
    check(report.coordinates.size() == report.atoms.size());
  }
  for (const auto& unit : report.units) {
    (void)zelk8::report::symmetry_text(unit.operation);
  }
  if (report.map) {
    check(report.map_height.has_value());
    for (const auto* table : {&report.map->evdw, &report.map->estat, &report.map->etot}) {
      check(table->columns() > 0 && table->rows() > 0);
      check(table->cells.size() == table->rows());
      for (const auto& row : table->cells) {
        check(row.size() == table->columns());
      }
    }
  }
  (void)report.stacking_unit();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t lines = 0;
  for (char c : text) {
    lines += c == '\n' ? 1 : 0;
  }
  if (!text.empty() && text.back() != '\n') {
    ++lines;
  }
  std::istringstream in(text);
  try {
    check_report(zelk8::report::read_report(in, "fuzz"), lines);
  } catch (const ReportError& error) {
    check(error.line() >= 1 && error.line() <= lines + 1);
  }
  return 0;
}
