// The lane kernels' r / r0 without the divider, against the divider: every
// float r of the map's distances for each contact distance of the bundled
// crystals, random contact distances over the whole quotient range, and the
// values that must take the division (zero, subnormal, infinite, NaN).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "map_lanes.hpp"
#include "run_helpers.hpp"
#include "stage_runner.hpp"

namespace zelk8 {
namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

std::vector<MapPath> lane_paths() {
  std::vector<MapPath> paths;
  for (MapPath p : {MapPath::lanes8, MapPath::lanes16}) {
    if (map_path_supported(p)) paths.push_back(p);
  }
  return paths;
}

// Quotients of the lanes that differ from the divider's (NaN matches NaN);
// the first few are reported.
std::uint64_t quotient_mismatches(MapPath path, std::vector<float>& r, float r0) {
  while (r.size() % map_max_lanes != 0) r.push_back(1.0f);
  std::vector<float> rho(r.size());
  reduced_distance_lanes(path, r.data(), r0, rho.data(), r.size());
  std::uint64_t mismatches = 0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    const float divided = r[k] / r0;
    const bool same = bits(rho[k]) == bits(divided) || (std::isnan(rho[k]) && std::isnan(divided));
    if (!same && ++mismatches <= 5) {
      ADD_FAILURE() << map_path_lanes(path) << " lanes: " << std::hexfloat << r[k] << " / " << r0
                    << ": " << rho[k] << ", divider " << divided;
    }
  }
  return mismatches;
}

// Every float from first up to (not including) last, at the given stride.
std::vector<float> floats(float first, float last, std::uint32_t stride) {
  std::vector<float> v;
  for (std::uint32_t b = bits(first); b < bits(last); b += stride)
    v.push_back(std::bit_cast<float>(b));
  return v;
}

// The contact distances R0(b) + R0(a) of every element pair of the bundled
// crystals.
std::set<float> bundled_contact_distances() {
  std::set<float> r0;
  for (const char* example : {"anthracene", "naphthalene", "quinacridone"}) {
    const zelk8_bench::PreparedRun run =
        zelk8_bench::prepare_map(zelk8::testing::example_input(example));
    const PairTable table = make_pair_table(*run.state);
    const int elements = run.state->element_count;
    for (int a = 0; a < elements; ++a) {
      for (int b = 0; b < elements; ++b) r0.insert(table.r0[a * element_slots + b]);
    }
  }
  return r0;
}

// Each step of the sequence scales exactly with r by powers of two inside
// the quotient range, so one whole binade of r stands for all of it; the
// map's distances (1/4 to 128 A) are covered at a stride besides.
TEST(MapQuotient, EveryDistanceOverEachBundledContactDistance) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map divides";
  const std::set<float> contact = bundled_contact_distances();
  ASSERT_GE(contact.size(), 3u);
  std::vector<float> binade = floats(1.0f, 2.0f, 1);
  std::vector<float> range = floats(0.25f, 128.0f, 29);
  for (MapPath path : lane_paths()) {
    for (float r0 : contact) {
      EXPECT_EQ(quotient_mismatches(path, binade, r0), 0u) << "r0 " << r0;
      EXPECT_EQ(quotient_mismatches(path, range, r0), 0u) << "r0 " << r0;
    }
  }
}

// Contact distances and distances drawn from the whole quotient range (and
// a little beyond, where the lanes divide), both signs of r0.
TEST(MapQuotient, RandomDistancesAndContactDistances) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map divides";
  std::mt19937 rng(31);
  std::uniform_real_distribution<float> exponent(-42.0f, 42.0f), near_one(0.5f, 8.0f);
  for (MapPath path : lane_paths()) {
    for (int trial = 0; trial < 400; ++trial) {
      float r0 = trial % 2 ? near_one(rng) : std::exp2(exponent(rng));
      if (trial % 5 == 0) r0 = -r0;
      std::vector<float> r;
      for (int k = 0; k < 4096; ++k) r.push_back(k % 2 ? near_one(rng) : std::exp2(exponent(rng)));
      EXPECT_EQ(quotient_mismatches(path, r, r0), 0u) << "r0 " << r0;
    }
  }
}

// Values outside the range in the same group as ordinary ones: the group
// divides, and every lane still gets the divider's quotient.
TEST(MapQuotient, ValuesOutsideTheRangeGetTheDividersQuotient) {
  if (lane_paths().empty()) GTEST_SKIP() << "no AVX2/FMA: the map divides";
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float edge_low = map_quotient_low, edge_high = map_quotient_high;
  const std::vector<float> specials = {0.0f,
                                       -0.0f,
                                       0x1p-149f,
                                       0x1p-127f,
                                       std::nextafter(edge_low, 0.0f),
                                       edge_low,
                                       edge_high,
                                       std::nextafter(edge_high, inf),
                                       inf,
                                       nan,
                                       std::numeric_limits<float>::max()};
  for (MapPath path : lane_paths()) {
    for (float r0 : {3.4f, -0.8f, 0.0f, -0.0f, 0x1p-140f, edge_low, edge_high, 1e30f, inf, nan}) {
      for (float special : specials) {
        std::vector<float> r = {1.5f, 2.75f, special, 3.0f, 7.25f, 0.5f, 1.0f, 9.0f};
        EXPECT_EQ(quotient_mismatches(path, r, r0), 0u) << "r " << special << " r0 " << r0;
      }
    }
  }
}

// A molecule of three atoms, for the range precondition.
RunState small_molecule(float coordinate, float height) {
  RunState s;
  s.atom_count = 3;
  s.element_count = 2;
  s.element_emin[0] = s.element_emin[1] = 0.2f;
  s.element_r0[0] = 1.7f;
  s.element_r0[1] = 1.2f;
  const float l[] = {coordinate, -coordinate, 0.5f}, sv[] = {0.25f, coordinate, -coordinate};
  for (int k = 0; k < 3; ++k) {
    s.atom_element[k] = 1 + k % 2;
    s.frame_l[k] = l[k];
    s.frame_s[k] = sv[k];
    s.frame_v[k] = 0.1f * float(k);
    s.atom_charge[k] = 0.1f;
  }
  s.map_height = height;
  return s;
}

// Every r of the pairs the kernel forms for the given shifts.
std::vector<float> pair_distances(const RunState& s, const float* l, const float* sh, int count) {
  std::vector<float> r;
  for (int k = 0; k < count; ++k) {
    for (int i = 0; i < s.atom_count; ++i) {
      for (int j = 0; j < s.atom_count; ++j) {
        const float dl = (s.frame_l[j] + l[k]) - s.frame_l[i];
        const float ds = (s.frame_s[j] + sh[k]) - s.frame_s[i];
        const float dv = (s.frame_v[j] + s.map_height) - s.frame_v[i];
        r.push_back(std::sqrt((dl * dl + ds * ds) + dv * dv));
      }
    }
  }
  return r;
}

// The kernels skip the per-pair range check when map_distances_in_range
// holds: then every r must lie in the range, up to the largest coordinates
// and shifts it admits; and it must not hold where some r can fall outside.
TEST(MapQuotient, DistanceRangeHoldsOnlyWhereEveryDistanceIsInside) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float big = 0x1p30f;
  struct Case {
    float coordinate, height, shift_l, shift_s;
    bool holds;
  } cases[] = {
      {3.0f, 3.5f, 0.5f, -0.25f, true},
      {big, 3.5f, -big, big, true},           // the largest admitted
      {2.0f * big, 3.5f, 0.0f, 0.0f, false},  // coordinates too large
      {3.0f, 3.5f, 2.0f * big, 0.0f, false},  // a shift too large
      {3.0f, 3.5f, nan, 0.0f, false},
      {3.0f, 3.5f, 0.0f, -nan, false},
      {nan, 3.5f, 0.0f, 0.0f, false},
      {3.0f, 0.0f, 0.0f, 0.0f, false},     // dv 0 for an atom and its copy: r may be 0
      {3.0f, 0x1p50f, 0.0f, 0.0f, false},  // dv^2 too large
  };
  for (const Case& c : cases) {
    const RunState s = small_molecule(c.coordinate, c.height);
    const MapPairTables t = make_map_pair_tables(s, make_pair_table(s));
    float l[map_max_lanes], sh[map_max_lanes];
    for (int k = 0; k < map_max_lanes; ++k) {
      l[k] = k == 5 ? c.shift_l : 0.1f * float(k);
      sh[k] = k == 9 ? c.shift_s : -0.1f * float(k);
    }
    const std::string what = "coordinate " + std::to_string(c.coordinate) + " height " +
                             std::to_string(c.height) + " shifts " + std::to_string(c.shift_l) +
                             ", " + std::to_string(c.shift_s);
    EXPECT_EQ(map_distances_in_range(t, l, sh, map_max_lanes), c.holds) << what;
    if (c.holds) {
      for (float r : pair_distances(s, l, sh, map_max_lanes)) {
        EXPECT_TRUE(r >= map_quotient_low && r <= map_quotient_high) << what << ": r " << r;
      }
    }
  }
  // A contact distance of 0 (both radii 0) keeps the reciprocal out.
  RunState s = small_molecule(3.0f, 3.5f);
  s.element_r0[0] = s.element_r0[1] = 0.0f;
  const MapPairTables t = make_map_pair_tables(s, make_pair_table(s));
  const float l[1] = {0.5f}, sh[1] = {0.5f};
  EXPECT_FALSE(t.r0_in_quotient_range);
  EXPECT_FALSE(map_distances_in_range(t, l, sh, 1));
}

}  // namespace
}  // namespace zelk8
