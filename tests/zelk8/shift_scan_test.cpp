// The scan export against a listing written field by field with the
// records formats: the same bytes of "coord.xyz".
#include <gtest/gtest.h>

#include <random>

#include "run_helpers.hpp"
#include "shift_map.hpp"
#include "stage_runner.hpp"
#include "stages.hpp"

namespace zelk8 {
namespace {

// The export's lines through records::format, one write per line.
std::string listed_scan(const RunState& s) {
  static const records::Format atom_line("(A4,3F12.7)");
  static const records::Format grid_line("(5F10.4)");
  std::string out;
  if (s.element_count < 2) return out;
  if (s.element_count > 3) {
    if (s.unit_count == 0) return out;
    for (int k = 0; k < s.atom_count; ++k) {
      put(out, atom_line, s.atom_symbol[k], s.unit_frame_l[k] + s.map_l_start,
          s.unit_frame_s[k] + s.map_s_start, s.unit_frame_v[k]);
    }
    return out;
  }
  for (int k = 0; k < s.atom_count; ++k) {
    put(out, atom_line, *central_symbol(s, k), s.frame_l[k], s.frame_s[k], s.frame_v[k]);
  }
  if (s.unit_count == 0) return out;
  const ShiftGrid g = make_shift_grid(s);
  for (int iy = 0; iy < g.rows; ++iy) {
    for (int ix = 0; ix < g.columns; ++ix) {
      put(out, grid_line, g.l_shift[ix], g.s_shift[iy]);
      for (int k = 0; k < s.atom_count; ++k) {
        put(out, atom_line, *central_symbol(s, k), s.unit_frame_l[k] + g.l_shift[ix],
            s.unit_frame_s[k] + g.s_shift[iy], s.unit_frame_v[k]);
      }
    }
  }
  return out;
}

std::string exported_scan(const RunState& s) {
  const auto file = zelk8::testing::scratch_folder() / "coord.xyz";
  {
    records::OutputFile coord(file.string());
    std::string buffer;
    write_shift_scan(s, coord, buffer);
    coord.close();
  }
  return zelk8::testing::read_text(file);
}

TEST(ShiftScan, BundledScanGivesTheListedCoordFile) {
  const std::string input = zelk8::testing::example_input("anthracene-scan");
  const zelk8_bench::PreparedRun run = zelk8_bench::prepare_map(input);
  const zelk8::testing::RunResult result = zelk8::testing::run_program(input);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.coord == run.coord + listed_scan(*run.state));
}

TEST(ShiftScan, RandomUnitsAndGridsGiveTheListedLines) {
  const struct {
    int atoms, elements, units;
    float spread;  // coordinates up to this size: 1000 and more overflow F12.7
    float l_start, l_end, l_step, s_start, s_end, s_step;
  } cases[] = {
      {24, 2, 1, 8.0f, -5.0f, 4.9f, 0.1f, -0.3f, 0.0f, 0.1f},
      {30, 3, 2, 12.0f, 0.0f, 1.0f, 0.3f, 0.0f, 1.0f, 0.5f},
      {17, 3, 1, 2000.0f, -1.0f, 1.0f, 0.25f, -1.0f, 1.0f, 0.5f},
      {9, 2, 1, 1e-6f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
      {12, 5, 1, 6.0f, 0.7f, 0.0f, 0.1f, -0.2f, 0.0f, 0.1f},
      {12, 2, 0, 6.0f, 0.0f, 1.0f, 0.5f, 0.0f, 1.0f, 0.5f},
      {12, 1, 1, 6.0f, 0.0f, 1.0f, 0.5f, 0.0f, 1.0f, 0.5f},
  };
  std::mt19937 rng(99);
  int index = 0;
  for (const auto& [atoms, elements, units, spread, l_start, l_end, l_step, s_start, s_end,
                    s_step] : cases) {
    std::uniform_real_distribution<float> coordinate(-spread, spread);
    RunState s;
    s.atom_count = atoms;
    s.element_count = elements;
    s.unit_count = units;
    s.element_atom_count[0] = atoms / 4;
    s.heavy_atom_count = atoms / 2;
    for (int k = 0; k < atoms; ++k) {
      s.atom_symbol[k] = records::text4(k % 2 ? "N" : "Cl");
      for (auto* table : {&s.frame_l, &s.frame_s, &s.frame_v, &s.unit_frame_l, &s.unit_frame_s,
                          &s.unit_frame_v}) {
        (*table)[k] = coordinate(rng);
      }
    }
    s.unit_frame_l[0] = -0.0f;
    s.map_l_start = l_start, s.map_l_end = l_end, s.map_l_step = l_step;
    s.map_s_start = s_start, s.map_s_end = s_end, s.map_s_step = s_step;
    EXPECT_TRUE(exported_scan(s) == listed_scan(s)) << "case " << index;
    ++index;
  }
}

}  // namespace
}  // namespace zelk8
