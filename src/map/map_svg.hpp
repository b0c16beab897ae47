// Drawing the stacking shift map as one self-contained SVG picture: the EvdW,
// Estat and Etot tables side by side as heat maps, VL shift across, VS shift up.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "contacts.hpp"
#include "report.hpp"

namespace zelk8::map {

using report::Field;
using report::MapMinimum;
using report::MapTable;

// What the picture shows of a report: the three tables, both minimum lines
// and the height of the heading.
struct StackMap : report::ShiftMap {
  Field height;      // the Z of the map heading (Å)
  Field stack_unit;  // as the run-parameter line echoes it
  // The crystal's own stacking offset: the VL and VS components of the
  // stacking unit's centre, as its unit block prints them; absent when the
  // stacking unit names no unit of the report.
  struct Crystal {
    Field l;
    Field s;
    std::string unit;  // number and name, e.g. "5 T05"
  };
  std::optional<Crystal> crystal;
  // The shortest atom-atom contact of every grid point and the overlap
  // points among them (from the report's frame coordinates).
  report::MapContacts contacts;
};

// A report that holds no map to draw; the message says why.
class NoMap : public report::InputError {
 public:
  using report::InputError::InputError;
};

// The map of a report read by the report library; throws NoMap when the
// report has none (a run without stacking unit, a shift scan, a report cut
// short before or inside its map).
StackMap stack_map_of(const report::Report& report);
// The same with the report's map contacts already found (map_contacts).
StackMap stack_map_of(const report::Report& report, report::MapContacts contacts);

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
  bool operator==(const Rgb&) const = default;
};

// Colour of off-scale fields (asterisks, NaN, Infinity): a grey that belongs
// to neither side of the scale.
inline constexpr Rgb off_scale_colour{140, 140, 140};

// Overlap points (two atoms inside the maximum of the exp-6 term) are drawn
// with this pale grey under dark hatching: no colour of the energy scale,
// and apart from the off-scale grey.
inline constexpr Rgb overlap_colour{214, 214, 214};
inline constexpr Rgb overlap_hatch_colour{90, 90, 90};

// Whether grid point (row, column) is an overlap point of `contacts`.
bool is_overlap(const report::MapContacts& contacts, std::size_t row, std::size_t column);

// Which energies a panel holds, and so where its scale starts.
enum class ScaleSpan {
  around_zero,      // both signs (or zeros): the pale centre colour is 0 kJ/mol
  attractive_only,  // every finite energy below 0: blue from the shallowest to the deepest
  repulsive_only,   // every finite energy above 0: red from the lowest to the clip
};

// A colour scale. Around zero, attractive energies run from the pale centre
// colour at 0 to deep blue at `deepest`, repulsive energies to deep red at
// `clip` and stay there above it. A panel of one sign spans its data instead:
// the pale colour sits at `base`, the panel's energy nearest to 0, so that the
// shape of a well that lies wholly below 0 (or a slope wholly above) shows.
struct ColourScale {
  float deepest = 0.0f;     // the lowest finite energy of the panel, or 0 when none is negative
  float clip = 1.0f;        // repulsive energy drawn at full red (> 0)
  bool clip_given = false;  // from --max rather than from the panel
  ScaleSpan span = ScaleSpan::around_zero;
  float base = 0.0f;  // the pale end: 0 around zero, else the energy nearest 0
};

// The scale of one table: `deepest` from its finite cells; `clip` is `max`
// when given, otherwise the larger of the depth of the deepest well and the
// median of the repulsive (positive) energies; a table without a well clips
// at its largest energy, so that nothing is clipped. A table whose finite
// energies all lie below 0 (or all above) gets a one-sided span. Overlap
// points of `contacts`, when given, take no part.
ColourScale panel_scale(const MapTable& table, std::optional<float> max,
                        const report::MapContacts* contacts = nullptr);

Rgb energy_colour(float energy, const ColourScale& scale);

// "#rrggbb", as the picture and the page write a colour; append_hex_colour
// puts it at the end of `out`.
std::string hex_colour(const Rgb& c);
void append_hex_colour(std::string& out, const Rgb& c);

// A coordinate as the picture writes it: "%.2f" without trailing zeros and
// point, "-0" written "0".
std::string svg_number(double v);
Rgb field_colour(const Field& field, const ColourScale& scale);

struct CellBox {
  std::size_t row = 0;     // 0 = first row of the table (first VS shift)
  std::size_t column = 0;  // 0 = first column (first VL shift)
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  Rgb fill;
  bool overlap = false;  // drawn hatched in overlap_colour
};

struct MinimumMarker {
  std::size_t row = 0;
  std::size_t column = 0;
  double x = 0.0;  // centre of the marked cell
  double y = 0.0;
  std::string label;  // the energy as the report prints it
};

// A grid point of a panel.
struct GridPoint {
  std::size_t row = 0;
  std::size_t column = 0;
};

// Where the crystal's own offset falls in a panel.
struct CrystalMarker {
  double x = 0.0;
  double y = 0.0;
};

struct Panel {
  const MapTable* table = nullptr;
  const MapMinimum* minimum = nullptr;  // EvdW and Etot only
  ColourScale scale;
  double x = 0.0;  // plot area
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  double cell_width = 0.0;
  double cell_height = 0.0;
  std::vector<CellBox> cells;  // row by row, columns in order
  // The lowest point below zero that is not an overlap point (EvdW and Etot
  // only); absent when there is none.
  std::optional<MinimumMarker> marker;
  std::optional<GridPoint> printed_point;  // where the report's minimum line points
  bool printed_minimum_overlap = false;    // that point is an overlap point
  std::size_t overlap_cells = 0;
  std::optional<CrystalMarker> crystal;  // absent when outside the grid or unknown
  std::size_t overflow_cells = 0;        // asterisks
  std::size_t non_finite_cells = 0;      // NaN, Infinity
  std::size_t clipped_cells = 0;         // finite and above scale.clip
};

struct RenderOptions {
  std::optional<float> max;  // --max: repulsive clip in kJ/mol for all panels
  std::string source;        // report name shown in the picture
};

// Places the three panels and their cells; the SVG writer draws exactly this.
std::vector<Panel> layout_panels(const StackMap& map, const RenderOptions& options);

// The note on the crystal's own offset: where it lies, and whether it is
// `inside` the grid ("...: outside the grid" when not).
std::string crystal_text(const StackMap& map, bool inside);

// The line under each panel that counts its overlap points, or says why
// they could not be checked.
std::string overlap_text(std::size_t points, const report::MapContacts& contacts);

// The lines under a panel about its minimum: the lowest non-overlap point
// (or that no point lies below zero), and whether the report's own printed
// minimum is an overlap point or no grid point. Empty for the Estat panel.
std::vector<std::string> minimum_lines(const Panel& panel, bool overlap_checked);

std::string render_svg(const StackMap& map, const RenderOptions& options);

}  // namespace zelk8::map
