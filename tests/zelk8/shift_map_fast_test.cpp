// The fast shift map against the plain one: the same bits in every table
// cell and minimum, on the bundled crystals and on random molecules and
// grids, with any number of threads; and the lane exponential against the
// C library's expf over every argument the map can meet.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "map_lanes.hpp"
#include "run_helpers.hpp"
#include "shift_map.hpp"
#include "stage_runner.hpp"
#include "stages.hpp"

namespace zelk8 {
namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

// Compares two maps cell by cell over the whole 100 x 100 table, and the
// minima with their positions.
void expect_same_map(const ShiftMap& fast, const ShiftMap& plain, const std::string& what) {
  ASSERT_EQ(fast.grid.columns, plain.grid.columns) << what;
  ASSERT_EQ(fast.grid.rows, plain.grid.rows) << what;
  int differing = 0;
  for (int at = 0; at < map_points * map_points && differing < 5; ++at) {
    const struct {
      const char* table;
      float f, p;
    } cells[] = {{"EvdW", fast.evdw[at], plain.evdw[at]},
                 {"Estat", fast.estat[at], plain.estat[at]},
                 {"Etot", fast.etot[at], plain.etot[at]}};
    for (const auto& [table, f, p] : cells) {
      // Which of two NaN operands an addition passes on is the compiler's
      // choice of operand order, not arithmetic; the report prints every
      // NaN alike. Everything else must match bit for bit.
      if (bits(f) != bits(p) && !(std::isnan(f) && std::isnan(p))) {
        ++differing;
        ADD_FAILURE() << what << ": " << table << " at column " << at % map_points + 1 << " row "
                      << at / map_points + 1 << ": fast " << f << " (0x" << std::hex << bits(f)
                      << "), plain " << p << " (0x" << bits(p) << std::dec << ")";
      }
    }
  }
  const struct {
    const char* name;
    float f, p;
  } minima[] = {{"min_evdw", fast.min_evdw, plain.min_evdw},
                {"min_evdw_l", fast.min_evdw_l, plain.min_evdw_l},
                {"min_evdw_s", fast.min_evdw_s, plain.min_evdw_s},
                {"min_etot", fast.min_etot, plain.min_etot},
                {"min_etot_l", fast.min_etot_l, plain.min_etot_l},
                {"min_etot_s", fast.min_etot_s, plain.min_etot_s}};
  for (const auto& [name, f, p] : minima) {
    EXPECT_EQ(bits(f), bits(p)) << what << ": " << name << " fast " << f << " plain " << p;
  }
}

// The lane paths this CPU runs, and every path including the plain one.
std::vector<MapPath> lane_paths() {
  std::vector<MapPath> paths;
  for (MapPath p : {MapPath::lanes8, MapPath::lanes16}) {
    if (map_path_supported(p)) paths.push_back(p);
  }
  return paths;
}
std::vector<MapPath> all_paths() {
  std::vector<MapPath> paths = lane_paths();
  paths.insert(paths.begin(), MapPath::plain);
  return paths;
}
std::string path_name(MapPath p) { return std::to_string(map_path_lanes(p)) + " lanes"; }

// Chooses the map's path for one scope and restores the previous one.
class PathScope {
 public:
  explicit PathScope(MapPath p) : saved_(map_path()) { set_map_path(p); }
  ~PathScope() { set_map_path(saved_); }

 private:
  MapPath saved_;
};

std::string tables_text(const ShiftMap& map) {
  std::string text;
  write_map_tables(map, text);
  return text;
}

// ---- The lane exponential ---------------------------------------------------

// Compares exp_lanes with the library on the floats of bit patterns
// first, first + stride, ... up to last (all negative, so the patterns grow
// with the magnitude); returns the number of mismatches.
std::uint64_t exp_mismatches(MapPath path, std::uint32_t first, std::uint32_t last,
                             std::uint32_t stride) {
  constexpr std::uint32_t block = 1 << 16;
  std::vector<float> x(block), lanes(block);
  std::uint64_t mismatches = 0;
  for (std::uint64_t b = first; b <= last;) {
    std::uint32_t count = 0;
    for (; count < block && b <= last; ++count, b += stride)
      x[count] = std::bit_cast<float>(std::uint32_t(b));
    exp_lanes(path, x.data(), lanes.data(), count);
    for (std::uint32_t k = 0; k < count; ++k) {
      const float library = std::exp(x[k]);
      if (bits(lanes[k]) != bits(library) && ++mismatches <= 10) {
        ADD_FAILURE() << path_name(path) << ": exp(" << std::hexfloat << x[k] << "): lanes "
                      << lanes[k] << ", library " << library << std::defaultfloat;
      }
    }
  }
  return mismatches;
}

// Every float from -0 down to -104: every argument -(12 rho) of the map
// down to below the underflow threshold (about -103.97), where the
// library's result becomes +0.
TEST(ExpLanes, EqualsTheLibraryForEveryFloatFromMinus104To0) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map uses std::exp itself";
  for (MapPath path : lane_paths()) {
    EXPECT_EQ(exp_mismatches(path, bits(-0.0f), bits(-104.0f), 1), 0u) << path_name(path);
  }
}

// Below -104 the library's result is +0 for every argument (it returns the
// underflow result for anything below its threshold); one float in 61 and
// the ends stand for the rest.
TEST(ExpLanes, IsPlusZeroBelowMinus104AndAtMinusInfinity) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map uses std::exp itself";
  for (MapPath path : lane_paths()) {
    EXPECT_EQ(
        exp_mismatches(path, bits(-104.0f) + 1, bits(-std::numeric_limits<float>::infinity()), 61),
        0u)
        << path_name(path);
    // A whole group of lanes, so that the ends go through the vector code.
    std::vector<float> ends(map_max_lanes, -std::numeric_limits<float>::max());
    ends[1] = ends[map_max_lanes - 1] = -std::numeric_limits<float>::infinity();
    std::vector<float> out(ends.size(), 1.0f);
    exp_lanes(path, ends.data(), out.data(), ends.size());
    for (float e : out) EXPECT_EQ(bits(e), 0u) << path_name(path);
  }
}

TEST(ExpLanes, LanesOutsideTheMapsRangeGoToTheLibrary) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Mixed in one group of eight, so that one lane's fallback cannot disturb
  // its neighbours.
  const std::vector<float> x = {
      nan,
      -nan,
      inf,
      -inf,
      0.0f,
      -0.0f,
      1.0f,
      -1.0f,
      88.0f,
      88.8f,
      1e-30f,
      -1e-30f,
      -103.9f,
      -103.98f,
      -0x1.9fe368p6f,
      -0x1.9fe36ap6f,
      std::bit_cast<float>(0x7FA00000u),
      std::bit_cast<float>(0xFFC00001u),
      0.5f,
      0x1p-149f,
      42.0f,
      -42.0f,
      -87.0f,
      -104.0f,
      -3.0f,
      nan,
      -20.0f,
      2.0f,
      -0.25f,
      -inf,
      -60.0f,
      1e-3f,
  };
  for (MapPath path : all_paths()) {
    std::vector<float> out(x.size());
    exp_lanes(path, x.data(), out.data(), x.size());
    for (std::size_t k = 0; k < x.size(); ++k) {
      const float library = std::exp(x[k]);
      if (std::isnan(library)) {
        EXPECT_TRUE(std::isnan(out[k])) << path_name(path) << ": exp(" << x[k] << ")";
      } else {
        EXPECT_EQ(bits(out[k]), bits(library))
            << path_name(path) << std::hexfloat << ": exp(" << x[k] << ")";
      }
    }
  }
}

// The far-pair shortcut of the lane kernel: for every float rho from
// map_far_rho to 16 (and one in 61 beyond, and +Inf), the van der Waals
// difference with the library's exponential equals the one with 0 in its
// place. Beyond 16 the exponential's argument is below -192 and the library
// gives +0 (checked above).
TEST(ExpLanes, FarPairsNeedNoExponential) {
  auto same_without_exponential = [](float rho) {
    const float repulsion = 184000.0f * std::exp(-(12.0f * rho));
    const float rho2 = rho * rho;
    const float rho4 = rho2 * rho2;
    const float rho6 = rho2 * rho4;
    const float dispersion = 2.25f / rho6;
    return bits(repulsion - dispersion) == bits(184000.0f * 0.0f - dispersion);
  };
  std::uint64_t failures = 0;
  for (std::uint32_t b = bits(map_far_rho); b <= bits(16.0f); ++b) {
    if (!same_without_exponential(std::bit_cast<float>(b)) && ++failures <= 5) {
      ADD_FAILURE() << "rho " << std::bit_cast<float>(b);
    }
  }
  for (std::uint64_t b = bits(16.0f); b <= bits(std::numeric_limits<float>::infinity()); b += 61) {
    if (!same_without_exponential(std::bit_cast<float>(std::uint32_t(b))) && ++failures <= 5) {
      ADD_FAILURE() << "rho " << std::bit_cast<float>(std::uint32_t(b));
    }
  }
  EXPECT_TRUE(same_without_exponential(std::numeric_limits<float>::infinity()));
  EXPECT_EQ(failures, 0u);
  // Just inside the threshold the shortcut would not hold everywhere: the
  // bound is not slack by orders of magnitude.
  int differing = 0;
  for (std::uint32_t b = bits(2.0f); b < bits(2.5f); b += 97) {
    differing += same_without_exponential(std::bit_cast<float>(b)) ? 0 : 1;
  }
  EXPECT_GT(differing, 0);
}

// The kernel's repulsion bounds hold for every argument -(12 rho) with rho
// from map_mid_rho to map_far_rho, and are tight enough to settle the
// rounded difference for most dispersions.
TEST(ExpLanes, RepulsionBoundsHoldForEveryFloatOfTheirRange) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map uses std::exp itself";
  std::vector<float> x;
  for (std::uint32_t b = bits(-(12.0f * map_mid_rho)); b <= bits(-12.0f * map_far_rho); ++b) {
    x.push_back(std::bit_cast<float>(b));
  }
  while (x.size() % map_max_lanes != 0) x.push_back(x.back());
  for (MapPath path : lane_paths()) {
    std::vector<float> low(x.size()), high(x.size());
    repulsion_bounds_lanes(path, x.data(), low.data(), high.data(), x.size());
    std::uint64_t failures = 0, settled = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
      const float repulsion = 184000.0f * std::exp(x[k]);
      if (!(low[k] <= repulsion && repulsion <= high[k]) && ++failures <= 5) {
        ADD_FAILURE() << path_name(path) << std::hexfloat << ": x " << x[k] << ": " << low[k]
                      << " <= " << repulsion << " <= " << high[k];
      }
      // The dispersion at this distance, as the kernel forms it.
      const float rho = -x[k] / 12.0f;
      const float rho2 = rho * rho;
      const float dispersion = 2.25f / (rho2 * (rho2 * rho2));
      settled += bits(low[k] - dispersion) == bits(high[k] - dispersion) ? 1 : 0;
    }
    EXPECT_EQ(failures, 0u) << path_name(path);
    EXPECT_GT(double(settled), 0.99 * double(x.size())) << path_name(path);
  }
}

// ---- The map on the bundled crystals -----------------------------------------

TEST(ShiftMapFast, BundledCrystalsGiveThePlainTablesAndReport) {
  for (const char* example : {"anthracene", "naphthalene", "quinacridone"}) {
    const std::string input = zelk8::testing::example_input(example);
    const zelk8_bench::PreparedRun run = zelk8_bench::prepare_map(input);
    const ShiftMap plain = compute_shift_map_reference(*run.state);
    for (MapPath path : all_paths()) {
      const PathScope scope(path);
      for (int threads : {1, 2, 7, 0}) {
        const ShiftMap fast = compute_shift_map(*run.state, threads);
        expect_same_map(
            fast, plain,
            std::string(example) + " " + path_name(path) + " threads " + std::to_string(threads));
      }
    }
    // The program's own "at8.dat" against the plain path's report, on the
    // path the program picks for this CPU.
    const zelk8::testing::RunResult result = zelk8::testing::run_program(input, example);
    ASSERT_EQ(result.status, 0) << example << ": " << result.err;
    EXPECT_TRUE(result.report == run.report + tables_text(plain)) << example;
  }
}

// ---- The map on random molecules and grids --------------------------------------

struct RandomCase {
  int atoms;
  int elements;
  float l_start, l_end, l_step;
  float s_start, s_end, s_step;
  float height;
  bool coincident_atoms;  // two atoms of the molecule at the same place
  bool odd_radii;         // an element with R0 0.0 and one with R0 < 0
};

RunState random_state(std::mt19937& rng, const RandomCase& c) {
  std::uniform_real_distribution<float> coordinate(-7.0f, 7.0f), emin(0.01f, 0.4f), r0(1.0f, 2.2f),
      charge(-0.3f, 0.3f);
  RunState s;
  s.atom_count = c.atoms;
  s.element_count = c.elements;
  for (int e = 0; e < c.elements; ++e) {
    s.element_emin[e] = emin(rng);
    s.element_r0[e] = r0(rng);
  }
  if (c.odd_radii && c.elements >= 3) {
    s.element_r0[0] = 0.0f;
    s.element_r0[1] = -0.4f;
  }
  for (int k = 0; k < c.atoms; ++k) {
    s.atom_element[k] = 1 + int(rng() % c.elements);
    s.frame_l[k] = coordinate(rng);
    s.frame_s[k] = coordinate(rng);
    s.frame_v[k] = coordinate(rng) * 0.2f;
    s.atom_charge[k] = (rng() % 4 == 0) ? 0.0f : charge(rng);
  }
  if (c.coincident_atoms && c.atoms >= 3) {
    s.frame_l[2] = s.frame_l[1];
    s.frame_s[2] = s.frame_s[1];
    s.frame_v[2] = s.frame_v[1];
    s.atom_charge[2] = 0.0f;  // 0 / 0 in the Coulomb term
  }
  s.map_l_start = c.l_start, s.map_l_end = c.l_end, s.map_l_step = c.l_step;
  s.map_s_start = c.s_start, s.map_s_end = c.s_end, s.map_s_step = c.s_step;
  s.map_height = c.height;
  return s;
}

TEST(ShiftMapFast, RandomMoleculesAndGridsGiveThePlainTables) {
  const RandomCase cases[] = {
      // 100 columns (the end is never reached), a few rows.
      {24, 2, -5.0f, 4.9f, 0.1f, -1.0f, -0.5f, 0.25f, 3.5f, false, false},
      {7, 3, -2.0f, 2.0f, 0.05f, -2.0f, 2.0f, 1.0f, 3.4f, false, false},
      // Zero steps: 100 identical columns; one column and many rows.
      {30, 2, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f, 0.5f, 3.6f, false, false},
      {19, 4, 1.0f, 0.0f, 0.3f, -3.0f, 3.0f, 0.2f, 3.3f, false, false},
      // Height 0.0 with a zero shift: every atom meets its copy (r = 0).
      {17, 2, -1.0f, 1.0f, 0.5f, -1.0f, 1.0f, 0.5f, 0.0f, false, false},
      {40, 3, -1.0f, 1.0f, 0.25f, -0.5f, 0.5f, 0.5f, 0.0f, true, false},
      // R0 of 0 and below 0: rho infinite, NaN or negative, exp(x > 0).
      {13, 5, -1.0f, 1.0f, 0.5f, -1.0f, 1.0f, 1.0f, 0.0f, true, true},
      {23, 7, -3.0f, 3.0f, 0.4f, -2.0f, 2.0f, 0.5f, 3.4f, false, true},
      // Far copies: many exponents below the underflow threshold.
      {31, 2, 30.0f, 60.0f, 3.0f, -20.0f, 20.0f, 10.0f, 9.0f, false, false},
      // The largest molecule, a few points; a single atom; a grid of 1 x 1.
      {200, 3, 0.0f, 0.7f, 0.1f, 0.0f, 0.0f, 0.0f, 3.5f, false, false},
      {1, 1, -1.0f, 1.0f, 0.25f, -1.0f, 1.0f, 0.5f, 0.0f, false, false},
      {50, 2, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 3.5f, false, false},
      // Grids the lanes take in tiles of 4 x 4 and 4 x 2 points.
      {26, 3, -5.0f, 4.9f, 0.1f, -1.0f, 0.75f, 0.25f, 3.4f, false, false},
      {21, 2, -1.0f, 0.5f, 0.5f, -1.0f, 0.5f, 0.5f, 0.0f, true, false},
  };
  int tiled = 0;
  std::mt19937 rng(20240611);
  int index = 0;
  for (const RandomCase& c : cases) {
    const RunState s = random_state(rng, c);
    const ShiftMap plain = compute_shift_map_reference(s);
    tiled += plain.grid.columns % 4 == 0 && plain.grid.rows % 4 == 0 ? 1 : 0;
    for (MapPath path : all_paths()) {
      const PathScope scope(path);
      for (int threads : {1, 2, 7}) {
        const std::string what = "case " + std::to_string(index) + " " + path_name(path) +
                                 " threads " + std::to_string(threads);
        const ShiftMap fast = compute_shift_map(s, threads);
        expect_same_map(fast, plain, what);
        EXPECT_EQ(tables_text(fast), tables_text(plain)) << what;
      }
    }
    ++index;
  }
  EXPECT_GE(tiled, 2) << "the cases should include grids of whole tiles";
}

// The lane kernels alone, a group of arbitrary shifts per call against the
// scalar pair sum of each.
TEST(ShiftMapFast, LaneKernelEqualsThePairSumOfEachLane) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA";
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> shift(-6.0f, 6.0f);
  for (MapPath path : lane_paths()) {
    const int lanes = map_path_lanes(path);
    for (int atoms : {1, 5, 64, 181}) {
      RunState s = random_state(rng, {atoms, 3, 0, 0, 0, 0, 0, 0, 3.4f, true, false});
      const PairTable table = make_pair_table(s);
      const MapPairTables pairs = make_map_pair_tables(s, table);
      for (int trial = 0; trial < 4; ++trial) {
        alignas(64) float l[map_max_lanes], sh[map_max_lanes], evdw[map_max_lanes],
            estat[map_max_lanes];
        for (int k = 0; k < lanes; ++k) l[k] = shift(rng), sh[k] = shift(rng);
        sh[3] = sh[0], l[3] = l[0];  // two lanes at the same point
        map_lane_energies(path, pairs, l, sh, evdw, estat);
        for (int k = 0; k < lanes; ++k) {
          AtomArray<float> cl{}, cs{}, cv{};
          for (int j = 0; j < atoms; ++j) {
            cl[j] = s.frame_l[j] + l[k];
            cs[j] = s.frame_s[j] + sh[k];
            cv[j] = s.frame_v[j] + s.map_height;
          }
          const MoleculeView central{s.frame_l.data(),      s.frame_s.data(),     s.frame_v.data(),
                                     s.atom_element.data(), s.atom_charge.data(), atoms};
          const MoleculeView copy{
              cl.data(), cs.data(), cv.data(), s.atom_element.data(), s.atom_charge.data(), atoms};
          const MoleculeEnergy e = molecule_pair_energy(table, central, copy);
          EXPECT_EQ(bits(evdw[k]), bits(e.evdw))
              << path_name(path) << ", " << atoms << " atoms, lane " << k;
          EXPECT_EQ(bits(estat[k]), bits(e.estat))
              << path_name(path) << ", " << atoms << " atoms, lane " << k;
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelk8
