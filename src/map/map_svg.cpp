#include "map_svg.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "markup.hpp"

namespace zelk8::map {

namespace {

// The energies are drawn in single precision, as the program computed them.
float value_of(const Field& field) { return static_cast<float>(*field.value); }

// Colour stops from the pale centre outwards (a red-blue diverging ramp).
constexpr std::array<Rgb, 6> attractive_ramp = {Rgb{247, 247, 247}, Rgb{209, 229, 240},
                                                Rgb{146, 197, 222}, Rgb{67, 147, 195},
                                                Rgb{33, 102, 172},  Rgb{5, 48, 97}};
constexpr std::array<Rgb, 6> repulsive_ramp = {Rgb{247, 247, 247}, Rgb{253, 219, 199},
                                               Rgb{244, 165, 130}, Rgb{214, 96, 77},
                                               Rgb{178, 24, 43},   Rgb{103, 0, 31}};

// Page geometry, in SVG user units (pixels).
constexpr double page_margin = 20.0;
constexpr double axis_margin = 70.0;  // left of each plot: VS labels and title
constexpr double panel_gap = 30.0;    // right of each plot
constexpr double plot_top = 100.0;
constexpr double plot_size = 380.0;  // largest plot width and height
constexpr double largest_cell = 60.0;
constexpr double min_slot = 320.0;    // room for the colour bar and legend
constexpr double below_plot = 190.0;  // ticks, colour bar, legend (at least)

Rgb ramp_colour(const std::array<Rgb, 6>& ramp, float t) {
  t = std::clamp(t, 0.0f, 1.0f);
  const float at = t * static_cast<float>(ramp.size() - 1);
  const std::size_t k = std::min(static_cast<std::size_t>(at), ramp.size() - 2);
  const float f = at - static_cast<float>(k);
  auto mix = [f](int a, int b) {
    return static_cast<int>(std::lround(static_cast<float>(a) + (static_cast<float>(b - a) * f)));
  };
  return Rgb{mix(ramp[k].r, ramp[k + 1].r), mix(ramp[k].g, ramp[k + 1].g),
             mix(ramp[k].b, ramp[k + 1].b)};
}

// Appends a coordinate with at most two decimals: "%.2f" without its
// trailing zeros and point, "-0" written "0". std::to_chars rounds as printf
// does; what it cannot write (not finite, too long) goes through printf.
void append_num(std::string& out, double v) {
  char text[32];
  char* end = text;
  const std::to_chars_result done =
      std::isfinite(v) ? std::to_chars(text, text + sizeof text - 1, v, std::chars_format::fixed, 2)
                       : std::to_chars_result{text, std::errc::value_too_large};
  if (done.ec == std::errc()) {
    end = done.ptr;
  } else {
    const int length = std::snprintf(text, sizeof text, "%.2f", v);
    end = text + std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1);
  }
  while (end[-1] == '0') {
    --end;
  }
  if (end[-1] == '.') {
    --end;
  }
  const std::string_view s(text, static_cast<std::size_t>(end - text));
  out += s == "-0" ? std::string_view("0") : s;
}

std::string num(double v) { return svg_number(v); }

// An energy for the colour bar.
std::string energy_text(float v) {
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(v) >= 100.0f ? "%.0f" : "%.2f",
                static_cast<double>(v));
  return text;
}

// Spacing of the grid from its first two labels, when they are numbers.
std::optional<float> step_of(const std::vector<Field>& labels) {
  if (labels.size() < 2 || !labels[0].finite() || !labels[1].finite()) {
    return std::nullopt;
  }
  const float step = std::fabs(value_of(labels[1]) - value_of(labels[0]));
  return step > 0.0f ? std::optional<float>(step) : std::nullopt;
}

// The label that names a shift of a minimum line: the same text, else the
// nearest value within half a step.
std::optional<std::size_t> find_label(const std::vector<Field>& labels, const Field& wanted) {
  for (std::size_t k = 0; k < labels.size(); ++k) {
    if (labels[k].text == wanted.text) {
      return k;
    }
  }
  const std::optional<float> step = step_of(labels);
  if (!wanted.finite() || !step) {
    return std::nullopt;
  }
  std::optional<std::size_t> best;
  float best_distance = *step / 2.0f;
  for (std::size_t k = 0; k < labels.size(); ++k) {
    if (labels[k].finite()) {
      const float distance = std::fabs(value_of(labels[k]) - value_of(wanted));
      if (distance <= best_distance) {
        best = k;
        best_distance = distance;
      }
    }
  }
  return best;
}

// A minimum line points at a grid point only when the scan met an energy
// below zero; otherwise it still holds its starting value 0.000.
bool minimum_is_real(const MapMinimum& minimum) {
  const Field& e = minimum.energy;
  return e.overflow() || (!e.text.empty() && e.text.front() == '-');
}

// Where a shift falls along an axis, in cells from the centre of the first
// (0 at the first label, one per label after it); nothing when it lies more
// than half a cell beyond the first or last label, or the labels do not say.
std::optional<double> axis_position(const std::vector<Field>& labels, const Field& shift) {
  if (!shift.finite() || labels.empty() || !labels.front().finite() || !labels.back().finite()) {
    return std::nullopt;
  }
  const double first = *labels.front().value;
  const double last = *labels.back().value;
  const double wanted = *shift.value;
  const double cells = static_cast<double>(labels.size());
  double at = 0.0;
  if (labels.size() == 1) {
    // No step to go by: inside only at the label itself, to its printed digits.
    if (std::fabs(wanted - first) > 0.0005) {
      return std::nullopt;
    }
  } else if (last == first) {
    return std::nullopt;
  } else {
    at = (wanted - first) / (last - first) * (cells - 1.0);
  }
  if (at < -0.5 || at > cells - 0.5) {
    return std::nullopt;
  }
  return at;
}

// Every label of an axis that fits at the given spacing: first, and every k-th.
std::size_t tick_every(double cell, double spacing) {
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(spacing / cell)));
}

}  // namespace

std::string svg_number(double v) {
  std::string text;
  append_num(text, v);
  return text;
}

void append_hex_colour(std::string& out, const Rgb& c) {
  static constexpr char digits[] = "0123456789abcdef";
  auto in_byte = [](int v) { return v >= 0 && v <= 255; };
  if (!in_byte(c.r) || !in_byte(c.g) || !in_byte(c.b)) {
    // Out of range: as printf writes it into eight bytes.
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    out += text;
    return;
  }
  const char text[7] = {'#',
                        digits[c.r >> 4],
                        digits[c.r & 15],
                        digits[c.g >> 4],
                        digits[c.g & 15],
                        digits[c.b >> 4],
                        digits[c.b & 15]};
  out.append(text, sizeof text);
}

std::string hex_colour(const Rgb& c) {
  std::string text;
  append_hex_colour(text, c);
  return text;
}

StackMap stack_map_of(const report::Report& report) {
  return stack_map_of(report, report.map && report.map_height ? report::map_contacts(report)
                                                              : report::MapContacts{});
}

StackMap stack_map_of(const report::Report& report, report::MapContacts contacts) {
  if (report.map && report.map_height) {
    StackMap map;
    static_cast<report::ShiftMap&>(map) = *report.map;
    map.height = *report.map_height;
    map.stack_unit = report.run_parameters.stack_unit;
    if (const report::Unit* unit = report.stacking_unit()) {
      map.crystal =
          StackMap::Crystal{unit->centre[0], unit->centre[1], unit->number.text + " " + unit->name};
    }
    map.contacts = std::move(contacts);
    return map;
  }
  if (!report.complete) {
    const report::Stop& stop = *report.stopped_at;
    std::string what = "the report ends at line " + std::to_string(stop.line) + " before " +
                       std::string(report::section_name(stop.expected));
    if (stop.expected <= report::Section::map_heading) {
      what += ": the run stopped before its map (see the run's error output)";
    }
    throw NoMap(what);
  }
  if (report.map_height) {
    throw NoMap("the report has the map heading (Z = " + report.map_height->text +
                ") but no tables: the run had stack_unit above 40 and wrote the shift scan to "
                "coord.xyz instead");
  }
  throw NoMap(
      "the report has no stacking shift map (no line \"Map of the stacked molecule shift at Z "
      "=\"): the run had stack_unit 0");
}

bool is_overlap(const report::MapContacts& contacts, std::size_t row, std::size_t column) {
  return contacts.checked && row < contacts.overlap.size() &&
         column < contacts.overlap[row].size() && contacts.overlap[row][column];
}

ColourScale panel_scale(const MapTable& table, std::optional<float> max,
                        const report::MapContacts* contacts) {
  ColourScale scale;
  std::vector<float> repulsive;
  std::optional<float> lowest;
  std::optional<float> highest;
  for (std::size_t r = 0; r < table.cells.size(); ++r) {
    for (std::size_t c = 0; c < table.cells[r].size(); ++c) {
      const Field& cell = table.cells[r][c];
      if (cell.finite() && !(contacts && is_overlap(*contacts, r, c))) {
        const float value = value_of(cell);
        lowest = std::min(lowest.value_or(value), value);
        highest = std::max(highest.value_or(value), value);
        scale.deepest = std::min(scale.deepest, value);
        if (value > 0.0f) {
          repulsive.push_back(value);
        }
      }
    }
  }
  if (max) {
    scale.clip = *max;
    scale.clip_given = true;
  } else if (!repulsive.empty() && scale.deepest < 0.0f) {
    // At least the depth of the well; more when half the repulsive cells
    // lie above it, so that a shallow well does not paint the rest red.
    std::sort(repulsive.begin(), repulsive.end());
    const std::size_t half = repulsive.size() / 2;
    const float median = repulsive.size() % 2 == 1 ? repulsive[half]
                                                   : (repulsive[half - 1] + repulsive[half]) / 2.0f;
    scale.clip = std::max(-scale.deepest, median);
  } else if (scale.deepest < 0.0f) {
    scale.clip = -scale.deepest;
  } else if (!repulsive.empty()) {
    scale.clip = *std::max_element(repulsive.begin(), repulsive.end());
  }
  if (highest && *highest < 0.0f) {
    scale.span = ScaleSpan::attractive_only;
    scale.base = *highest;
  } else if (lowest && *lowest > 0.0f) {
    scale.span = ScaleSpan::repulsive_only;
    scale.base = *lowest;
  }
  return scale;
}

Rgb energy_colour(float energy, const ColourScale& scale) {
  // One-sided spans: the pale colour at `base`, the full colour at the far end.
  const auto fraction = [](float energy, float from, float to) {
    return to == from ? 1.0f : (energy - from) / (to - from);
  };
  if (scale.span == ScaleSpan::attractive_only) {
    return ramp_colour(attractive_ramp, fraction(energy, scale.base, scale.deepest));
  }
  if (scale.span == ScaleSpan::repulsive_only) {
    return ramp_colour(repulsive_ramp, fraction(energy, scale.base, scale.clip));
  }
  if (energy < 0.0f) {
    return scale.deepest < 0.0f ? ramp_colour(attractive_ramp, energy / scale.deepest)
                                : attractive_ramp.back();
  }
  return ramp_colour(repulsive_ramp, energy / scale.clip);
}

Rgb field_colour(const Field& field, const ColourScale& scale) {
  return field.finite() ? energy_colour(value_of(field), scale) : off_scale_colour;
}

std::string crystal_text(const StackMap& map, bool inside) {
  if (map.crystal) {
    return "crystal (unit " + map.crystal->unit + ") at VL " + map.crystal->l.text + ", VS " +
           map.crystal->s.text + " \u00c5" + (inside ? "" : ": outside the grid");
  }
  return "no crystal position: stacking unit " + map.stack_unit.text +
         " names no unit of the report";
}

std::string overlap_text(std::size_t points, const report::MapContacts& contacts) {
  if (!contacts.checked) {
    return "overlap points not checked: " + contacts.note;
  }
  char rho[16];
  std::snprintf(rho, sizeof rho, "%.2f", report::exp6_maximum_rho());
  return std::to_string(points) + (points == 1 ? " overlap point" : " overlap points") +
         " (hatched): atoms closer than " + rho + " of their contact distance";
}

std::vector<std::string> minimum_lines(const Panel& panel, bool overlap_checked) {
  std::vector<std::string> lines;
  if (!panel.minimum) {
    return lines;
  }
  const MapTable& table = *panel.table;
  const MapMinimum& printed = *panel.minimum;
  if (panel.marker) {
    const MinimumMarker& m = *panel.marker;
    lines.push_back((overlap_checked ? "minimum over the non-overlap points: " : "minimum: ") +
                    m.label + " kJ/mol at VL " + table.l_shifts[m.column].text + ", VS " +
                    table.s_shifts[m.row].text + " \u00c5" +
                    (overlap_checked ? "" : " (overlap points not checked)"));
  } else {
    lines.emplace_back(panel.overlap_cells > 0 ? "no point below zero outside the overlap points"
                                               : "no point below zero");
  }
  const std::string printed_text = printed.energy.text + " kJ/mol at VL " + printed.l.text +
                                   ", VS " + printed.s.text + " \u00c5";
  if (panel.printed_minimum_overlap) {
    lines.push_back("the report's printed minimum, " + printed_text + ", is an overlap point");
  } else if (minimum_is_real(printed) && !panel.printed_point) {
    lines.push_back("the report's printed minimum, " + printed_text + ", is not a grid point");
  }
  return lines;
}

std::vector<Panel> layout_panels(const StackMap& map, const RenderOptions& options) {
  const MapTable& first = map.evdw;
  const double columns = static_cast<double>(first.columns());
  const double rows = static_cast<double>(first.rows());

  // Cells keep the proportions of the two steps where the labels give them.
  double aspect = 1.0;  // cell width over cell height
  const std::optional<float> l_step = step_of(first.l_shifts);
  const std::optional<float> s_step = step_of(first.s_shifts);
  if (l_step && s_step) {
    aspect = std::clamp(static_cast<double>(*l_step) / static_cast<double>(*s_step), 0.25, 4.0);
  }
  double cell_height = std::min(plot_size / rows, plot_size / (columns * aspect));
  cell_height = std::min({cell_height, largest_cell, largest_cell / aspect});
  const double cell_width = cell_height * aspect;

  std::vector<Panel> panels;
  const std::array<std::pair<const MapTable*, const MapMinimum*>, 3> tables = {
      std::pair{&map.evdw, &map.evdw_minimum}, std::pair{&map.estat, nullptr},
      std::pair{&map.etot, &map.etot_minimum}};
  double left = page_margin;
  for (const auto& [table, minimum] : tables) {
    Panel panel;
    panel.table = table;
    panel.minimum = minimum;
    panel.scale = panel_scale(*table, options.max, &map.contacts);
    panel.cell_width = cell_width;
    panel.cell_height = cell_height;
    panel.width = cell_width * columns;
    panel.height = cell_height * rows;
    panel.x = left + axis_margin;
    panel.y = plot_top;
    left = panel.x + std::max(panel.width, min_slot) + panel_gap;

    // The first row at the bottom, so that the VS shift grows upwards.
    for (std::size_t r = 0; r < table->rows(); ++r) {
      for (std::size_t c = 0; c < table->columns(); ++c) {
        const Field& field = table->cells[r][c];
        CellBox box;
        box.row = r;
        box.column = c;
        box.x = panel.x + cell_width * static_cast<double>(c);
        box.y = panel.y + cell_height * static_cast<double>(table->rows() - 1 - r);
        box.width = cell_width;
        box.height = cell_height;
        box.overlap = is_overlap(map.contacts, r, c);
        box.fill = box.overlap ? overlap_colour : field_colour(field, panel.scale);
        panel.cells.push_back(box);
        if (box.overlap) {
          ++panel.overlap_cells;
        } else if (field.overflow()) {
          ++panel.overflow_cells;
        } else if (!field.finite()) {
          ++panel.non_finite_cells;
        } else if (value_of(field) > panel.scale.clip) {
          ++panel.clipped_cells;
        }
      }
    }

    if (minimum && minimum_is_real(*minimum)) {
      const auto column = find_label(table->l_shifts, minimum->l);
      const auto row = find_label(table->s_shifts, minimum->s);
      if (column && row) {
        panel.printed_point = GridPoint{*row, *column};
      }
      panel.printed_minimum_overlap = map.contacts.checked && report::printed_minimum_is_overlap(
                                                                  *minimum, *table, map.contacts);
    }
    // The minimum shown is the lowest point that is not an overlap point.
    if (minimum) {
      if (const auto low = report::lowest_clear_point(*table, map.contacts)) {
        const CellBox& box = panel.cells[(low->row * table->columns()) + low->column];
        panel.marker =
            MinimumMarker{low->row, low->column, box.x + (box.width / 2.0),
                          box.y + (box.height / 2.0), table->cells[low->row][low->column].text};
      }
    }
    if (map.crystal) {
      const auto column = axis_position(table->l_shifts, map.crystal->l);
      const auto row = axis_position(table->s_shifts, map.crystal->s);
      if (column && row) {
        panel.crystal = CrystalMarker{
            panel.x + (cell_width * (*column + 0.5)),
            panel.y + (cell_height * (static_cast<double>(table->rows()) - 0.5 - *row))};
      }
    }
    panels.push_back(std::move(panel));
  }
  return panels;
}

namespace {

void write_gradient(std::string& svg, const std::string& id, const std::array<Rgb, 6>& ramp,
                    bool outwards_left) {
  svg += "<linearGradient id=\"" + id + "\" x1=\"0\" x2=\"1\" y1=\"0\" y2=\"0\">\n";
  for (std::size_t k = 0; k < ramp.size(); ++k) {
    const std::size_t stop = outwards_left ? ramp.size() - 1 - k : k;
    svg += "<stop offset=\"" + num(static_cast<double>(k) / static_cast<double>(ramp.size() - 1)) +
           "\" stop-color=\"" + hex_colour(ramp[stop]) + "\"/>\n";
  }
  svg += "</linearGradient>\n";
}

// Dark diagonal lines on pale grey: the overlap points.
void write_hatch(std::string& svg) {
  svg +=
      "<pattern id=\"overlap\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
      "patternTransform=\"rotate(45)\">\n";
  svg += "<rect width=\"6\" height=\"6\" fill=\"" + hex_colour(overlap_colour) + "\"/>\n";
  svg += "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"" + hex_colour(overlap_hatch_colour) +
         "\" stroke-width=\"2\"/>\n";
  svg += "</pattern>\n";
}

void text_at(std::string& svg, double x, double y, const std::string& anchor,
             const std::string& text, const std::string& extra = {}) {
  svg += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" + anchor + "\"" + extra +
         ">" + report::markup_escape(text) + "</text>\n";
}

// Where a line of legend text breaks to stay within `width` pixels (about
// 6.2 pixels a character at 12 pixels): after the last colon that fits,
// else at the last blank. The lines after the first are indented by two
// blanks.
std::vector<std::string> wrapped(const std::string& text, double width) {
  const auto fits = static_cast<std::size_t>(std::max(20.0, width / 6.2));
  std::vector<std::string> lines;
  std::string rest = text;
  while (rest.size() > fits) {
    const std::size_t colon = rest.rfind(": ", fits - 1);
    std::size_t cut =
        colon != std::string::npos && colon > fits / 3 ? colon + 1 : rest.rfind(' ', fits);
    if (cut == std::string::npos || cut == 0) {
      cut = rest.find(' ', fits);
      if (cut == std::string::npos) {
        break;
      }
    }
    lines.push_back(rest.substr(0, cut));
    rest = "  " + rest.substr(cut + 1);
  }
  lines.push_back(rest);
  return lines;
}

// Draws one panel; returns the lowest point of its legend.
double write_panel(std::string& svg, const Panel& panel, const std::string& crystal_note,
                   bool overlap_checked, const std::string& overlap_line) {
  const MapTable& table = *panel.table;
  const double bottom = panel.y + panel.height;

  text_at(svg, panel.x + (panel.width / 2.0), panel.y - 12.0, "middle", table.name + " (kJ/mol)",
          " font-size=\"15\" font-weight=\"bold\"");

  // Cells.
  svg += "<g shape-rendering=\"crispEdges\" class=\"cells\">\n";
  for (const CellBox& box : panel.cells) {
    const Field& field = table.cells[box.row][box.column];
    svg += "<rect x=\"";
    append_num(svg, box.x);
    svg += "\" y=\"";
    append_num(svg, box.y);
    svg += "\" width=\"";
    append_num(svg, box.width);
    svg += "\" height=\"";
    append_num(svg, box.height);
    svg += "\" fill=\"";
    if (box.overlap) {
      svg += "url(#overlap)";
    } else {
      append_hex_colour(svg, box.fill);
    }
    svg += "\"><title>VL ";
    svg += report::markup_escape(table.l_shifts[box.column].text);
    svg += ", VS ";
    svg += report::markup_escape(table.s_shifts[box.row].text);
    svg += ": ";
    svg += report::markup_escape(field.text);
    svg += box.overlap ? " (overlap point)</title></rect>\n" : "</title></rect>\n";
  }
  svg += "</g>\n";
  svg += "<rect x=\"" + num(panel.x) + "\" y=\"" + num(panel.y) + "\" width=\"" + num(panel.width) +
         "\" height=\"" + num(panel.height) + "\" fill=\"none\" stroke=\"#333333\"/>\n";

  // Axes: report labels at the cell centres, thinned to keep them apart.
  const std::size_t every_column = tick_every(panel.cell_width, 42.0);
  for (std::size_t c = 0; c < table.columns(); c += every_column) {
    const double x = panel.x + (panel.cell_width * (static_cast<double>(c) + 0.5));
    svg += "<line x1=\"" + num(x) + "\" y1=\"" + num(bottom) + "\" x2=\"" + num(x) + "\" y2=\"" +
           num(bottom + 4.0) + "\" stroke=\"#333333\"/>\n";
    text_at(svg, x, bottom + 16.0, "middle", table.l_shifts[c].text);
  }
  const std::size_t every_row = tick_every(panel.cell_height, 16.0);
  for (std::size_t r = 0; r < table.rows(); r += every_row) {
    const double y = bottom - (panel.cell_height * (static_cast<double>(r) + 0.5));
    svg += "<line x1=\"" + num(panel.x - 4.0) + "\" y1=\"" + num(y) + "\" x2=\"" + num(panel.x) +
           "\" y2=\"" + num(y) + "\" stroke=\"#333333\"/>\n";
    text_at(svg, panel.x - 6.0, y + 4.0, "end", table.s_shifts[r].text);
  }
  text_at(svg, panel.x + (panel.width / 2.0), bottom + 34.0, "middle", "VL shift (\u00c5)");
  const double title_x = panel.x - 56.0;
  const double title_y = panel.y + (panel.height / 2.0);
  text_at(svg, title_x, title_y, "middle", "VS shift (\u00c5)",
          " transform=\"rotate(-90 " + num(title_x) + " " + num(title_y) + ")\"");

  // Minimum marker: a ring and a cross, its value beside it.
  if (panel.marker) {
    const MinimumMarker& m = *panel.marker;
    const double radius =
        std::clamp(std::min(panel.cell_width, panel.cell_height) * 0.4, 4.0, 12.0);
    svg += "<g class=\"minimum\">\n";
    svg += "<circle cx=\"" + num(m.x) + "\" cy=\"" + num(m.y) + "\" r=\"" + num(radius) +
           "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"3\"/>\n";
    svg += "<circle cx=\"" + num(m.x) + "\" cy=\"" + num(m.y) + "\" r=\"" + num(radius) +
           "\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
    svg += "<path d=\"M" + num(m.x - radius) + " " + num(m.y) + "H" + num(m.x + radius) + "M" +
           num(m.x) + " " + num(m.y - radius) + "V" + num(m.y + radius) +
           "\" stroke=\"#000000\"/>\n";
    const bool right_half = m.x > panel.x + (panel.width * 0.6);
    const double label_x = right_half ? m.x - radius - 3.0 : m.x + radius + 3.0;
    text_at(svg, label_x, m.y - radius, right_half ? "end" : "start", m.label,
            " font-weight=\"bold\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"");
    svg += "</g>\n";
  }

  // The crystal's own offset: a diamond, named beside it.
  if (panel.crystal) {
    const CrystalMarker& c = *panel.crystal;
    const double size = std::clamp(std::min(panel.cell_width, panel.cell_height) * 0.45, 5.0, 12.0);
    const std::string diamond = "M" + num(c.x) + " " + num(c.y - size) + "L" + num(c.x + size) +
                                " " + num(c.y) + "L" + num(c.x) + " " + num(c.y + size) + "L" +
                                num(c.x - size) + " " + num(c.y) + "Z";
    svg += "<g class=\"crystal\">\n";
    svg += "<path d=\"" + diamond + "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"3\"/>\n";
    svg +=
        "<path d=\"" + diamond + "\" fill=\"#ffd700\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
    bool right_half = c.x > panel.x + (panel.width * 0.6);
    // Beside a minimum marker, whose value is written on the same side, the
    // name goes to the other side.
    if (panel.marker && std::fabs(panel.marker->x - c.x) < 60.0 &&
        std::fabs(panel.marker->y - c.y) < 30.0) {
      right_half = panel.marker->x <= panel.x + (panel.width * 0.6);
    }
    text_at(svg, right_half ? c.x - size - 3.0 : c.x + size + 3.0, c.y + size + 10.0,
            right_half ? "end" : "start", "crystal",
            " stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"");
    svg += "</g>\n";
  }

  // Colour bar. Around zero: an attractive half (deepest to 0) and a
  // repulsive half (0 to the clip); one-sided: the whole bar spans the data.
  const ColourScale& scale = panel.scale;
  const double bar_y = bottom + 48.0;
  const double bar_width = std::clamp(panel.width, 200.0, 300.0);
  const double bar_x = panel.x;
  const std::string clip_text =
      "\u2265 " + energy_text(scale.clip) + (scale.clip_given ? " (--max)" : "");
  std::string span_text;
  if (scale.span == ScaleSpan::around_zero) {
    const bool has_well = scale.deepest < 0.0f;
    const double zero_x = has_well ? bar_x + (bar_width / 2.0) : bar_x;
    if (has_well) {
      svg += "<rect x=\"" + num(bar_x) + "\" y=\"" + num(bar_y) + "\" width=\"" +
             num(zero_x - bar_x) + "\" height=\"12\" fill=\"url(#attractive)\"/>\n";
      text_at(svg, bar_x, bar_y + 26.0, "start", energy_text(scale.deepest));
    }
    svg += "<rect x=\"" + num(zero_x) + "\" y=\"" + num(bar_y) + "\" width=\"" +
           num(bar_x + bar_width - zero_x) + "\" height=\"12\" fill=\"url(#repulsive)\"/>\n";
    text_at(svg, zero_x, bar_y + 26.0, has_well ? "middle" : "start", "0");
    text_at(svg, bar_x + bar_width, bar_y + 26.0, "end", clip_text);
    span_text = "scale centred on 0 kJ/mol";
  } else {
    const bool attractive = scale.span == ScaleSpan::attractive_only;
    svg += "<rect x=\"" + num(bar_x) + "\" y=\"" + num(bar_y) + "\" width=\"" + num(bar_width) +
           "\" height=\"12\" fill=\"url(#" + (attractive ? "attractive" : "repulsive") + ")\"/>\n";
    text_at(svg, bar_x, bar_y + 26.0, "start",
            energy_text(attractive ? scale.deepest : scale.base));
    text_at(svg, bar_x + bar_width, bar_y + 26.0, "end",
            attractive ? energy_text(scale.base) : clip_text);
    span_text = attractive ? "attractive only: the scale spans the data, not 0"
                           : "repulsive only: the scale spans the data, not 0";
  }
  svg += "<rect x=\"" + num(bar_x) + "\" y=\"" + num(bar_y) + "\" width=\"" + num(bar_width) +
         "\" height=\"12\" fill=\"none\" stroke=\"#333333\"/>\n";
  // Off-scale swatch beside the bar.
  svg += "<rect x=\"" + num(bar_x + bar_width + 10.0) + "\" y=\"" + num(bar_y) +
         "\" width=\"12\" height=\"12\" fill=\"" + hex_colour(off_scale_colour) +
         "\" stroke=\"#333333\"/>\n";
  text_at(svg, bar_x + bar_width + 16.0, bar_y + 26.0, "middle", "off");

  // Legend lines.
  double line_y = bar_y + 48.0;
  // Up to the next panel's legend (its plot's left edge), or the picture's edge.
  const double slot = std::max(panel.width, min_slot) + panel_gap + axis_margin - 10.0;
  auto legend = [&](const std::string& text) {
    for (const std::string& line : wrapped(text, slot)) {
      text_at(svg, panel.x, line_y, "start", line);
      line_y += 16.0;
    }
  };
  for (const std::string& line : minimum_lines(panel, overlap_checked)) {
    legend(line);
  }
  legend(span_text);
  legend(overlap_line);
  if (!crystal_note.empty()) {
    legend(crystal_note);
  }
  legend(
      "off-scale cells (grey): " + std::to_string(panel.overflow_cells + panel.non_finite_cells) +
      " (" + std::to_string(panel.overflow_cells) + " asterisks, " +
      std::to_string(panel.non_finite_cells) + " NaN/Infinity)");
  if (panel.clipped_cells > 0) {
    legend("cells above " + energy_text(scale.clip) +
           " kJ/mol (full red): " + std::to_string(panel.clipped_cells));
  }
  return line_y;
}

}  // namespace

std::string render_svg(const StackMap& map, const RenderOptions& options) {
  const std::vector<Panel> panels = layout_panels(map, options);
  const Panel& last = panels.back();
  const double width =
      last.x + std::max(last.width, min_slot) + panel_gap + axis_margin - page_margin;
  // The panels first: the picture is as tall as their longest legend.
  std::string body;
  double height = plot_top + last.height + below_plot;
  for (const Panel& panel : panels) {
    const std::string crystal_note = crystal_text(map, panel.crystal.has_value());
    height = std::max(height, write_panel(body, panel, crystal_note, map.contacts.checked,
                                          overlap_text(panel.overlap_cells, map.contacts)));
  }

  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
         num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
         "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\" font-size=\"12\">\n";
  svg += "<defs>\n";
  write_gradient(svg, "attractive", attractive_ramp, true);
  write_gradient(svg, "repulsive", repulsive_ramp, false);
  write_hatch(svg);
  svg += "</defs>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  text_at(svg, page_margin, 32.0, "start",
          "Stacked molecule shift map at Z = " + map.height.text + " \u00c5",
          " font-size=\"20\" font-weight=\"bold\"");
  std::string note =
      "EvdW, Estat, Etot in kJ/mol; blue attractive, red repulsive, centre 0; hatched: overlap "
      "points, outside every scale and minimum; ";
  note += options.max ? "repulsive side clipped at " + energy_text(*options.max) + " kJ/mol"
                      : "repulsive side clipped at each panel's well depth or its median repulsion";
  if (!options.source.empty()) {
    note = options.source + ": " + note;
  }
  text_at(svg, page_margin, 54.0, "start", note, " fill=\"#444444\"");

  svg += body;
  svg += "</svg>\n";
  return svg;
}

}  // namespace zelk8::map
