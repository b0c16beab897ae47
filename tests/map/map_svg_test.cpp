#include "map_svg.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "map_reports.hpp"

namespace zelk8::map {
namespace {

using report::parse_field;

StackMap read(const std::string& text) {
  std::istringstream in(text);
  return stack_map_of(report::read_report(in));
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

// The texts of a picture, one line each, legend lines wrapped by the
// picture joined again.
std::string legend_text(const std::string& svg) {
  std::string text;
  for (auto at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1)) {
    const std::size_t start = svg.find('>', at) + 1;
    const std::string line = svg.substr(start, svg.find("</text>", start) - start);
    text += line.rfind("  ", 0) == 0 ? " " + line.substr(2) : "\n" + line;
  }
  return text + "\n";
}

// How far a colour is from the pale centre, summed over the channels.
int distance_from_centre(const Rgb& c) { return (247 - c.r) + (247 - c.g) + (247 - c.b); }

std::tuple<float, float, bool> parts(const ColourScale& s) {
  return {s.deepest, s.clip, s.clip_given};
}

TEST(ColourScale, DivergesAroundZeroAndClipsTheRepulsiveSide) {
  const ColourScale scale{-20.0f, 10.0f, false};
  EXPECT_EQ(energy_colour(0.0f, scale), (Rgb{247, 247, 247}));
  EXPECT_EQ(energy_colour(-20.0f, scale), (Rgb{5, 48, 97}));
  EXPECT_EQ(energy_colour(5000.0f, scale), (Rgb{103, 0, 31}));
  // Deeper wells move steadily towards blue, repulsion towards red up to the clip.
  for (const auto& energies : {std::vector<float>{0.0f, -0.5f, -5.0f, -13.0f, -20.0f},
                               std::vector<float>{0.0f, 0.25f, 3.0f, 7.5f, 10.0f}}) {
    for (std::size_t k = 1; k < energies.size(); ++k) {
      const Rgb c = energy_colour(energies[k], scale);
      EXPECT_GT(distance_from_centre(c),
                distance_from_centre(energy_colour(energies[k - 1], scale)))
          << energies[k];
      EXPECT_EQ(c.b > c.r, energies[k] < 0.0f) << energies[k];
    }
  }
  // Off-scale fields are grey, which neither side of the scale reaches.
  EXPECT_EQ(field_colour(parse_field("**********"), scale), off_scale_colour);
  EXPECT_EQ(field_colour(parse_field("NaN"), scale), off_scale_colour);
  for (float e = -20.0f; e <= 10.0f; e += 0.25f) {
    EXPECT_NE(energy_colour(e, scale), off_scale_colour) << e;
  }
}

TEST(ColourScale, PanelDefaultsAndMaxOption) {
  const StackMap map = read(testing::map_3x2);
  EXPECT_EQ(parts(panel_scale(map.evdw, std::nullopt)),
            std::tuple(-15.5f, 15.5f, false));  // clip at the deepest well
  EXPECT_EQ(parts(panel_scale(map.evdw, 100.0f)), std::tuple(-15.5f, 100.0f, true));  // --max
  // A shallow well gives way to the median repulsion; without a well the
  // largest repulsion sets the clip.
  const std::vector<std::tuple<std::vector<std::string>, float, float>> tables = {
      {{"-0.500", "10.000", "30.000", "20.000", "0.000", "40.000"}, -0.5f, 25.0f},
      {{"-0.500", "10.000", "30.000", "20.000", "0.000", "NaN"}, -0.5f, 20.0f},
      {{"1.000", "10.000", "30.000", "20.000", "0.000", "**********"}, 0.0f, 30.0f},
  };
  for (const auto& [texts, deepest, clip] : tables) {
    MapTable table = map.evdw;
    for (std::size_t k = 0; k < 6; ++k) {
      table.cells[k / 3][k % 3] = parse_field(texts[k]);
    }
    EXPECT_EQ(parts(panel_scale(table, std::nullopt)), std::tuple(deepest, clip, false))
        << texts[0] << " " << texts[5];
  }
}

TEST(Layout, CellsRunAcrossAndUpAndPanelsSideBySide) {
  const StackMap map = read(testing::map_3x2);
  const std::vector<Panel> panels = layout_panels(map, {});  // panels point into the map
  ASSERT_EQ(panels.size(), 3u);
  EXPECT_EQ(panels[0].table->name + panels[1].table->name + panels[2].table->name, "EvdWEstatEtot");
  EXPECT_LT(panels[0].x + panels[0].width, panels[1].x);
  EXPECT_LT(panels[1].x + panels[1].width, panels[2].x);
  for (const Panel& panel : panels) {
    ASSERT_EQ(panel.cells.size(), 6u);
    EXPECT_EQ(panel.cell_width, panel.cell_height);  // steps of 0.5 A both ways
    EXPECT_EQ(panel.width, 3 * panel.cell_width);
    for (const CellBox& box : panel.cells) {
      // VL across from the left edge, VS upwards from the bottom edge.
      EXPECT_EQ(box.x, panel.x + box.column * panel.cell_width);
      EXPECT_EQ(box.y + box.height, panel.y + panel.height - box.row * panel.cell_height);
      EXPECT_EQ(box.fill, field_colour(panel.table->cells[box.row][box.column], panel.scale));
    }
  }
  // EvdW, row by row: the deepest cell is the darkest blue, the 25 kJ/mol
  // contact is clipped to full red and counted; colours ordered as the
  // energies -15.5 < -12.345 < -8 < -3.21.
  const Panel& evdw = panels[0];
  EXPECT_EQ(evdw.cells[4].fill, (Rgb{5, 48, 97}));
  EXPECT_EQ(evdw.cells[2].fill, (Rgb{103, 0, 31}));
  EXPECT_EQ(evdw.clipped_cells, 1u);
  EXPECT_EQ(evdw.overflow_cells + evdw.non_finite_cells, 0u);
  for (const auto& [bluer, paler] : {std::pair{4, 0}, {0, 3}, {3, 1}}) {
    EXPECT_GT(distance_from_centre(evdw.cells[bluer].fill),
              distance_from_centre(evdw.cells[paler].fill));
  }
}

// A table of the 3 x 2 map with the six energies given.
MapTable with_cells(const MapTable& table, const std::vector<std::string>& texts) {
  MapTable changed = table;
  for (std::size_t k = 0; k < 6; ++k) {
    changed.cells[k / 3][k % 3] = parse_field(texts[k]);
  }
  return changed;
}

TEST(Layout, MinimaMarkTheirCells) {
  const StackMap map = read(testing::map_3x2);
  const std::vector<Panel> panels = layout_panels(map, {});
  for (const auto& [index, label] : {std::pair{0, "-15.500"}, {2, "-15.200"}}) {
    const Panel& panel = panels[index];
    ASSERT_TRUE(panel.marker) << panel.table->name;
    EXPECT_EQ(panel.marker->label, label);
    const CellBox& box = panel.cells[1 * 3 + 1];  // VS -0.500, VL 0.500
    EXPECT_EQ(panel.marker->row * 3 + panel.marker->column, 4u);
    EXPECT_EQ(panel.marker->x, box.x + box.width / 2);
    EXPECT_EQ(panel.marker->y, box.y + box.height / 2);
  }
  EXPECT_FALSE(panels[1].marker);  // Estat has no minimum line
  ASSERT_TRUE(panels[0].printed_point);
  EXPECT_EQ(panels[0].printed_point->row * 3 + panels[0].printed_point->column, 4u);
  StackMap flat = map;  // a minimum line still at 0.000 points at no grid point
  flat.evdw_minimum.energy = parse_field("0.000");
  EXPECT_FALSE(layout_panels(flat, {})[0].printed_point);
  StackMap near = map;  // a shift printed differently from the labels is found by value
  near.etot_minimum.l = parse_field("0.5");
  ASSERT_TRUE(layout_panels(near, {})[2].printed_point);
  EXPECT_EQ(layout_panels(near, {})[2].printed_point->column, 1u);
  // The marker follows the table, not the line: no energy below zero, no marker.
  StackMap repulsive = map;
  repulsive.evdw = with_cells(map.evdw, {"1.0", "2.0", "3.0", "4.0", "5.0", "6.0"});
  EXPECT_FALSE(layout_panels(repulsive, {})[0].marker);
  EXPECT_EQ(minimum_lines(layout_panels(repulsive, {})[0], true)[0], "no point below zero");
}

// The 3 x 2 map with overlap points where `grid` says (rows of three).
StackMap with_overlaps(const std::vector<std::vector<bool>>& grid) {
  StackMap map = read(testing::map_3x2);
  map.contacts.checked = true;
  map.contacts.overlap = grid;
  map.contacts.shortest.assign(grid.size(), std::vector<double>(3, 1.0));
  map.contacts.overlap_points = 0;
  for (const auto& row : grid) {
    map.contacts.overlap_points +=
        static_cast<std::size_t>(std::count(row.begin(), row.end(), true));
  }
  return map;
}

TEST(Layout, OverlapPointsLeaveTheScaleAndTheMinima) {
  // The deepest point of every table (row 1, column 1) is an overlap point.
  const StackMap map = with_overlaps({{false, false, false}, {false, true, false}});
  const std::vector<Panel> panels = layout_panels(map, {});
  for (const Panel& panel : panels) {
    SCOPED_TRACE(panel.table->name);
    EXPECT_EQ(panel.overlap_cells, 1u);
    EXPECT_TRUE(panel.cells[4].overlap);
    EXPECT_EQ(panel.cells[4].fill, overlap_colour);
    for (std::size_t k = 0; k < 6; ++k) {
      EXPECT_EQ(panel.cells[k].overlap, k == 4);
    }
  }
  // EvdW: the well is now -12.345 (row 0, column 0); the scale ends there.
  EXPECT_EQ(panels[0].scale.deepest, -12.345f);
  EXPECT_EQ(panels[0].cells[0].fill, (Rgb{5, 48, 97}));
  ASSERT_TRUE(panels[0].marker);
  EXPECT_EQ(panels[0].marker->row * 3 + panels[0].marker->column, 0u);
  EXPECT_EQ(panels[0].marker->label, "-12.345");
  EXPECT_TRUE(panels[0].printed_minimum_overlap);
  const std::vector<std::string> lines = minimum_lines(panels[0], true);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "minimum over the non-overlap points: -12.345 kJ/mol at VL 0.000, VS -1.000 \u00c5");
  EXPECT_EQ(lines[1],
            "the report's printed minimum, -15.500 kJ/mol at VL 0.500, VS -0.500 \u00c5, is an "
            "overlap point");
  // Etot: -11.145 is the lowest clear point.
  ASSERT_TRUE(panels[2].marker);
  EXPECT_EQ(panels[2].marker->label, "-11.145");

  // Every point below zero overlapping: no minimum at all, and no 0.000 at 0, 0.
  const StackMap all = with_overlaps({{true, true, false}, {true, true, true}});
  const Panel evdw = layout_panels(all, {})[0];
  EXPECT_FALSE(evdw.marker);
  EXPECT_EQ(minimum_lines(evdw, true)[0], "no point below zero outside the overlap points");
  EXPECT_EQ(evdw.scale.span, ScaleSpan::repulsive_only);  // only 25.000 is left
  EXPECT_EQ(evdw.clipped_cells, 0u);

  // Contacts that could not be checked: every point counts, and the panel says so.
  StackMap unchecked = read(testing::map_3x2);
  unchecked.contacts = report::MapContacts{};
  unchecked.contacts.note = "the report has no element table";
  const Panel plain = layout_panels(unchecked, {})[0];
  EXPECT_EQ(plain.overlap_cells, 0u);
  ASSERT_TRUE(plain.marker);
  EXPECT_EQ(plain.marker->label, "-15.500");
  EXPECT_NE(minimum_lines(plain, false)[0].find("(overlap points not checked)"), std::string::npos);
  EXPECT_EQ(overlap_text(0, unchecked.contacts),
            "overlap points not checked: the report has no element table");
}

TEST(Layout, HundredColumnsFitThePlot) {
  const std::vector<Panel> panels = layout_panels(read(testing::hundred_column_map()), {});
  for (const Panel& panel : panels) {
    EXPECT_EQ(panel.cells.size(), 300u);
    EXPECT_LE(panel.width, 380.0);
    EXPECT_EQ(panel.cells.back().x + panel.cell_width, panel.x + panel.width);
    EXPECT_EQ(panel.cells.back().y, panel.y);  // last row at the top
  }
  EXPECT_EQ(panels[0].cells[199].fill, off_scale_colour);  // row 1, column 99: asterisks
  EXPECT_EQ(panels[0].overflow_cells, 1u);
}

TEST(RenderSvg, OnePictureWithEveryCellTheTitleAndTheLegends) {
  const StackMap map = read(testing::map_3x2);
  const std::string svg = render_svg(map, {5.0f, "at8.dat"});
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(count(svg, "</svg>"), 1u);
  EXPECT_EQ(count(svg, "<title>VL "), 18u);
  EXPECT_EQ(count(svg, "<g class=\"minimum\">"), 2u);
  const std::string text = legend_text(svg);
  for (const char* line : {"\nStacked molecule shift map at Z = 3.50000 \u00c5\n",
                           "\nminimum over the non-overlap points: -15.200 kJ/mol at VL 0.500, VS "
                           "-0.500 \u00c5\n",
                           "repulsive side clipped at 5.00 kJ/mol"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_NE(svg.find("<title>VL 0.500, VS -0.500: -15.500</title>"), std::string::npos);
  EXPECT_EQ(count(text, "\noff-scale cells (grey): 0 (0 asterisks, 0 NaN/Infinity)\n"), 3u);
  EXPECT_EQ(
      count(text,
            "\n0 overlap points (hatched): atoms closer than 0.30 of their contact distance\n"),
      3u);
  EXPECT_EQ(count(svg, "url(#overlap)"), 0u);
  // Overlap points hatched, counted, left out of the minimum shown.
  const std::string hatched =
      render_svg(with_overlaps({{false, false, false}, {false, true, false}}), {});
  EXPECT_EQ(count(hatched, "fill=\"url(#overlap)\""), 3u);
  EXPECT_EQ(count(hatched, "<pattern id=\"overlap\""), 1u);
  EXPECT_EQ(count(legend_text(hatched), "\n1 overlap point (hatched)"), 3u);
  EXPECT_EQ(count(legend_text(hatched), ", is an overlap point\n"), 2u);
  // A line too long for its panel's room breaks after its colon, and reads
  // whole again.
  const std::string long_line =
      "minimum over the non-overlap points: -12.345 kJ/mol at VL 0.000, VS -1.000 \u00c5";
  EXPECT_EQ(hatched.find(long_line), std::string::npos);
  EXPECT_NE(hatched.find(">minimum over the non-overlap points:</text>"), std::string::npos);
  EXPECT_NE(hatched.find(">  -12.345 kJ/mol at VL 0.000, VS -1.000 \u00c5</text>"),
            std::string::npos);
  EXPECT_EQ(count(legend_text(hatched), "\n" + long_line + "\n"), 1u);
  EXPECT_EQ(count(hatched, "<title>VL 0.500, VS -0.500: -15.500 (overlap point)</title>"), 1u);
  // With --max 5: EvdW 25.0, Estat none, Etot 25.0 above the clip.
  EXPECT_EQ(count(text, "\ncells above 5.00 kJ/mol (full red): 1\n"), 2u);
  // The report name is text, not markup.
  EXPECT_NE(render_svg(map, {std::nullopt, "a<b>&c.dat"}).find("a&lt;b&gt;&amp;c.dat: "),
            std::string::npos);
}

// The picture's numbers and colours as printf writes them, which the
// picture's own writers must match byte for byte.
std::string printf_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

TEST(RenderSvg, NumbersAndColoursAreWrittenAsPrintfWritesThem) {
  // Halfway cases, values that round to zero from below, whole numbers,
  // values too long for the buffer, and what is not finite.
  std::vector<double> values = {0.0,   -0.0,   0.005, 0.015,  0.125, 2.675,    -0.004, -0.005,
                                -2.5,  100.0,  1e15,  -1e15,  1e20,  1e40,     -1e300, 123.455,
                                0.994, -0.995, 9.995, 379.99, 0.1,   1.0 / 3.0};
  for (int k = -20000; k <= 20000; k += 7) values.push_back(k / 1000.0 + 0.0005);
  values.push_back(std::numeric_limits<double>::infinity());
  values.push_back(-std::numeric_limits<double>::infinity());
  values.push_back(std::nan(""));
  for (double v : values) EXPECT_EQ(svg_number(v), printf_number(v)) << v;
  for (const Rgb c : {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{5, 48, 97}, Rgb{178, 24, 43},
                      Rgb{256, 0, 0}, Rgb{-1, 7, 300}}) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    EXPECT_EQ(hex_colour(c), text);
  }
}

TEST(ColourScale, OneSignedPanelsSpanTheirData) {
  const StackMap map = read(testing::map_3x2);
  EXPECT_EQ(panel_scale(map.evdw, std::nullopt).span, ScaleSpan::around_zero);
  EXPECT_EQ(
      panel_scale(with_cells(map.evdw, {"-1.0", "0.000", "-3", "-4", "-5", "-6"}), std::nullopt)
          .span,
      ScaleSpan::around_zero);  // a zero is not attractive

  // A well wholly below 0: pale at its shallowest energy, deep blue at its deepest.
  const ColourScale well = panel_scale(
      with_cells(map.evdw, {"-72.200", "-60.000", "-55.900", "NaN", "-64.000", "-70.000"}),
      std::nullopt);
  EXPECT_EQ(well.span, ScaleSpan::attractive_only);
  EXPECT_EQ(well.base, -55.9f);
  EXPECT_EQ(well.deepest, -72.2f);
  EXPECT_EQ(energy_colour(-55.9f, well), (Rgb{247, 247, 247}));
  EXPECT_EQ(energy_colour(-72.2f, well), (Rgb{5, 48, 97}));
  EXPECT_GT(distance_from_centre(energy_colour(-70.0f, well)),
            distance_from_centre(energy_colour(-64.0f, well)));

  // Repulsion wholly above 0: pale at its lowest energy, full red at the clip.
  const std::vector<std::string> slope = {"20.000", "25.000",     "30.000",
                                          "40.000", "**********", "60.000"};
  const ColourScale hill = panel_scale(with_cells(map.evdw, slope), std::nullopt);
  EXPECT_EQ(hill.span, ScaleSpan::repulsive_only);
  EXPECT_EQ(hill.base, 20.0f);
  EXPECT_EQ(hill.clip, 60.0f);
  EXPECT_EQ(energy_colour(20.0f, hill), (Rgb{247, 247, 247}));
  EXPECT_EQ(energy_colour(60.0f, hill), (Rgb{103, 0, 31}));
  const ColourScale clipped = panel_scale(with_cells(map.evdw, slope), 40.0f);
  EXPECT_EQ(energy_colour(40.0f, clipped), (Rgb{103, 0, 31}));
  EXPECT_EQ(energy_colour(30.0f, clipped), energy_colour(40.0f, hill));  // half way either way

  // One energy all over: the full colour of its side.
  const ColourScale flat = panel_scale(
      with_cells(map.evdw, {"-2.000", "-2.000", "-2.000", "-2.000", "-2.000", "-2.000"}),
      std::nullopt);
  EXPECT_EQ(energy_colour(-2.0f, flat), (Rgb{5, 48, 97}));
}

TEST(Layout, TheCrystalsOwnOffsetIsMarkedInsideTheGrid) {
  StackMap map = read(testing::map_3x2);
  // The three-atom report's stacking unit sits at VL 0, VS 0: beyond the
  // last VS row (-0.500) by more than half a cell.
  ASSERT_TRUE(map.crystal.has_value());
  EXPECT_EQ(map.crystal->unit, "1 T01");
  EXPECT_EQ(map.crystal->s.text, "-0.00000");
  for (const Panel& panel : layout_panels(map, {})) {
    EXPECT_FALSE(panel.crystal.has_value());
  }
  const std::string outside = render_svg(map, {});
  EXPECT_EQ(count(legend_text(outside),
                  "crystal (unit 1 T01) at VL -0.00000, VS -0.00000 \u00c5: outside the grid\n"),
            3u);
  EXPECT_EQ(count(outside, "<g class=\"crystal\">"), 0u);

  // On a label: the centre of that cell; between labels: in proportion.
  map.crystal->l = parse_field("0.50000");
  map.crystal->s = parse_field("-0.62500");
  for (const Panel& panel : layout_panels(map, {})) {
    ASSERT_TRUE(panel.crystal.has_value());
    const CellBox& box = panel.cells[1];  // VS -1.000, VL 0.500
    EXPECT_EQ(panel.crystal->x, box.x + box.width / 2);
    EXPECT_EQ(panel.crystal->y, box.y - box.height / 4);
  }
  // Half a cell beyond the first label is still inside, a little more is not.
  map.crystal->l = parse_field("-0.25000");
  EXPECT_TRUE(layout_panels(map, {})[0].crystal.has_value());
  map.crystal->l = parse_field("-0.26000");
  EXPECT_FALSE(layout_panels(map, {})[0].crystal.has_value());
  map.crystal->l = parse_field("NaN");
  EXPECT_FALSE(layout_panels(map, {})[0].crystal.has_value());

  map.crystal->l = parse_field("1.00000");
  const std::string inside = render_svg(map, {});
  EXPECT_EQ(count(inside, "<g class=\"crystal\">"), 3u);
  EXPECT_EQ(count(legend_text(inside), "crystal (unit 1 T01) at VL 1.00000, VS -0.62500 \u00c5\n"),
            3u);

  // On the minimum's own cell, the name leaves the minimum's value its side.
  map.crystal->l = parse_field("0.50000");
  map.crystal->s = parse_field("-0.50000");
  const std::string together = render_svg(map, {});
  std::vector<std::string> anchors;
  for (auto at = together.find("<g class=\"crystal\">"); at != std::string::npos;
       at = together.find("<g class=\"crystal\">", at + 1)) {
    const std::size_t text = together.find("text-anchor=\"", at) + 13;
    anchors.push_back(together.substr(text, together.find('"', text) - text));
  }
  EXPECT_EQ(anchors, (std::vector<std::string>{"end", "start", "end"}));

  map.crystal.reset();
  map.stack_unit = parse_field("25");
  EXPECT_EQ(count(legend_text(render_svg(map, {})),
                  "no crystal position: stacking unit 25 names no unit"),
            3u);
}

TEST(RenderSvg, EachPanelSaysHowItsScaleIsSpanned) {
  StackMap map = read(testing::map_3x2);
  map.estat = with_cells(map.estat, {"1.0", "2.0", "3.0", "4.0", "5.0", "6.0"});
  map.etot = with_cells(map.etot, {"-1.0", "-2.0", "-3.0", "-4.0", "-5.0", "-6.0"});
  const std::string svg = render_svg(map, {});
  EXPECT_EQ(count(legend_text(svg), "\nscale centred on 0 kJ/mol\n"), 1u);
  EXPECT_EQ(count(legend_text(svg), "\nrepulsive only: the scale spans the data, not 0\n"), 1u);
  EXPECT_EQ(count(legend_text(svg), "\nattractive only: the scale spans the data, not 0\n"), 1u);
  // The one-sided bars are labelled with the data's ends.
  EXPECT_NE(svg.find(">1.00</text>"), std::string::npos);
  EXPECT_NE(svg.find(">\u2265 6.00</text>"), std::string::npos);
  EXPECT_NE(svg.find(">-6.00</text>"), std::string::npos);
  EXPECT_NE(svg.find(">-1.00</text>"), std::string::npos);
}

}  // namespace
}  // namespace zelk8::map
