// Timings of the shift map and the scan export on a C150H30 flake (180
// atoms, 100 x 100 grid): the plain single-threaded path against the fast
// one in the same run, the pair-sum kernel alone, and whole runs.
//
//   cmake --workflow --preset bench
//   build/bench/bench/zelk8_bench --benchmark_repetitions=3
//
// Counters: pairs/s (atom pair terms per second), lines/s (lines of
// "coord.xyz" or "at8.dat" per second); for the lane kernels also
// divider_bound (the pair rate one core would reach if the divider and
// square-root unit were the only limit, measured in the same run by
// DividerBound) and bound_fraction (pairs/s over that bound; shown per
// second, it is the plain ratio).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "map_lanes.hpp"

// The divider bound and the lane kernel alone time AVX2 and AVX-512 code: they
// are built where the lane kernels are.
#if ZELK8_MAP_LANES
#include <immintrin.h>
#endif
#include "shift_map.hpp"
#include "stage_runner.hpp"

// GCC 12's AVX-512 intrinsics start results from a self-initialised
// "undefined" register and then warn about it; nothing reads such a value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

namespace fs = std::filesystem;
using zelk8_bench::PreparedRun;

const fs::path source_dir = ZELK8_SOURCE_DIR;

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const PreparedRun& map_run() {
  static const PreparedRun run =
      zelk8_bench::prepare_map(read_text(source_dir / "bench/map-180/zelk8.dat"));
  return run;
}

const PreparedRun& scan_run() {
  static const PreparedRun run =
      zelk8_bench::prepare_map(read_text(source_dir / "bench/scan-180/zelk8.dat"));
  return run;
}

zelk8::MapPath path_of(int lanes) {
  return lanes == 16  ? zelk8::MapPath::lanes16
         : lanes == 8 ? zelk8::MapPath::lanes8
                      : zelk8::MapPath::plain;
}

double map_pair_terms(const zelk8::RunState& s) {
  const zelk8::ShiftGrid g = zelk8::make_shift_grid(s);
  return double(g.columns) * g.rows * s.atom_count * s.atom_count;
}

void set_pair_rate(benchmark::State& state, double pairs_per_iteration) {
  state.counters["pairs/s"] = benchmark::Counter(pairs_per_iteration * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

// ---- Whole map -------------------------------------------------------------------

void BM_MapReference(benchmark::State& state) {
  const zelk8::RunState& s = *map_run().state;
  for (auto _ : state) {
    zelk8::ShiftMap map = zelk8::compute_shift_map_reference(s);
    benchmark::DoNotOptimize(map.evdw.data());
  }
  set_pair_rate(state, map_pair_terms(s));
}
BENCHMARK(BM_MapReference)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arguments: lanes (1 for the plain kernel per grid point, 8, 16) and
// threads (0 for every CPU the process may use).
void BM_MapFast(benchmark::State& state) {
  const zelk8::MapPath path = path_of(int(state.range(0)));
  if (!zelk8::map_path_supported(path)) {
    state.SkipWithError("this CPU does not run the path");
    return;
  }
  const zelk8::MapPath saved = zelk8::map_path();
  zelk8::set_map_path(path);
  const zelk8::RunState& s = *map_run().state;
  for (auto _ : state) {
    zelk8::ShiftMap map = zelk8::compute_shift_map(s, int(state.range(1)));
    benchmark::DoNotOptimize(map.evdw.data());
  }
  zelk8::set_map_path(saved);
  set_pair_rate(state, map_pair_terms(s));
}
BENCHMARK(BM_MapFast)
    ->ArgNames({"lanes", "threads"})
    ->ArgsProduct({{16, 8, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ---- The pair-sum kernel alone ------------------------------------------------

// One grid point with the scalar molecule_pair_energy.
void BM_PairSumScalar(benchmark::State& state) {
  const zelk8::RunState& s = *map_run().state;
  const zelk8::PairTable table = zelk8::make_pair_table(s);
  zelk8::AtomArray<float> copy_l{}, copy_s{}, copy_v{};
  for (int k = 0; k < s.atom_count; ++k) {
    copy_l[k] = s.frame_l[k] + 0.5f;
    copy_s[k] = s.frame_s[k] + 0.25f;
    copy_v[k] = s.frame_v[k] + s.map_height;
  }
  const zelk8::MoleculeView central{s.frame_l.data(),      s.frame_s.data(),     s.frame_v.data(),
                                    s.atom_element.data(), s.atom_charge.data(), s.atom_count};
  const zelk8::MoleculeView copy{copy_l.data(),         copy_s.data(),        copy_v.data(),
                                 s.atom_element.data(), s.atom_charge.data(), s.atom_count};
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelk8::molecule_pair_energy(table, central, copy));
  }
  set_pair_rate(state, double(s.atom_count) * s.atom_count);
}
// Per core: the rate is taken over the CPU time of the one thread.
BENCHMARK(BM_PairSumScalar)->Unit(benchmark::kMicrosecond);

#if ZELK8_MAP_LANES
// The divider and square-root unit's share of one pair on one core. The
// lane kernels leave on it one square root (r) per pair, one division
// (2.25 / rho^6) per pair and one more (the charge product over r) per pair
// of charged atoms; rho = r / r0 is formed without it. Each operation's
// throughput is measured on independent data in the L1 cache, 16 lanes at a
// time where the CPU has AVX-512 and 8 otherwise; the bound on the pair
// rate of one core is then 1 / (t_sqrt + t_div (1 + charged fraction)).
template <class Op>
double ns_per_element(Op op) {
  alignas(64) float x[1024];
  for (int k = 0; k < 1024; ++k) x[k] = 1.0f + 0.001f * float(k);
  double best = 1e30;
  for (int trial = 0; trial < 5; ++trial) {  // the best of five: the host is shared
    const int rounds = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) op(x);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds * 1e9 / (double(rounds) * 1024));
  }
  return best;
}

#define ZELK8_BENCH_AVX512 __attribute__((target("avx2,fma,avx512f")))
#define ZELK8_BENCH_AVX2 __attribute__((target("avx2,fma")))

ZELK8_BENCH_AVX512 void sqrt_pass_avx512(float* x) {
  __m512 a0 = _mm512_setzero_ps(), a1 = a0;
  for (int k = 0; k < 1024; k += 32) {
    a0 = _mm512_add_ps(a0, _mm512_sqrt_ps(_mm512_load_ps(x + k)));
    a1 = _mm512_add_ps(a1, _mm512_sqrt_ps(_mm512_load_ps(x + k + 16)));
  }
  benchmark::DoNotOptimize(a0);
  benchmark::DoNotOptimize(a1);
}
ZELK8_BENCH_AVX512 void div_pass_avx512(float* x) {
  const __m512 c = _mm512_set1_ps(2.25f);
  __m512 a0 = _mm512_setzero_ps(), a1 = a0;
  for (int k = 0; k < 1024; k += 32) {
    a0 = _mm512_add_ps(a0, _mm512_div_ps(c, _mm512_load_ps(x + k)));
    a1 = _mm512_add_ps(a1, _mm512_div_ps(c, _mm512_load_ps(x + k + 16)));
  }
  benchmark::DoNotOptimize(a0);
  benchmark::DoNotOptimize(a1);
}
// The cheapest division without the divider for an arbitrary divisor: an
// approximate reciprocal, one Newton step and one fused correction (five
// operations, not proven correctly rounded); timed only to compare with the
// divider, which the kernels keep for 2.25 / rho^6 and q q' / r.
ZELK8_BENCH_AVX512 void reciprocal_pass_avx512(float* x) {
  const __m512 c = _mm512_set1_ps(2.25f), one = _mm512_set1_ps(1.0f);
  __m512 a0 = _mm512_setzero_ps(), a1 = a0;
  for (int k = 0; k < 1024; k += 32) {
    for (int h = 0; h < 2; ++h) {
      const __m512 b = _mm512_load_ps(x + k + 16 * h);
      const __m512 y0 = _mm512_rcp14_ps(b);
      const __m512 y1 = _mm512_fmadd_ps(_mm512_fnmadd_ps(b, y0, one), y0, y0);
      const __m512 q = _mm512_mul_ps(c, y1);
      const __m512 d = _mm512_fmadd_ps(_mm512_fnmadd_ps(q, b, c), y1, q);
      (h == 0 ? a0 : a1) = _mm512_add_ps(h == 0 ? a0 : a1, d);
    }
  }
  benchmark::DoNotOptimize(a0);
  benchmark::DoNotOptimize(a1);
}

ZELK8_BENCH_AVX2 void sqrt_pass_avx2(float* x) {
  __m256 a0 = _mm256_setzero_ps(), a1 = a0;
  for (int k = 0; k < 1024; k += 16) {
    a0 = _mm256_add_ps(a0, _mm256_sqrt_ps(_mm256_load_ps(x + k)));
    a1 = _mm256_add_ps(a1, _mm256_sqrt_ps(_mm256_load_ps(x + k + 8)));
  }
  benchmark::DoNotOptimize(a0);
  benchmark::DoNotOptimize(a1);
}
ZELK8_BENCH_AVX2 void div_pass_avx2(float* x) {
  const __m256 c = _mm256_set1_ps(2.25f);
  __m256 a0 = _mm256_setzero_ps(), a1 = a0;
  for (int k = 0; k < 1024; k += 16) {
    a0 = _mm256_add_ps(a0, _mm256_div_ps(c, _mm256_load_ps(x + k)));
    a1 = _mm256_add_ps(a1, _mm256_div_ps(c, _mm256_load_ps(x + k + 8)));
  }
  benchmark::DoNotOptimize(a0);
  benchmark::DoNotOptimize(a1);
}

struct DividerCost {
  double sqrt_ns, div_ns, charged;  // per element; fraction of pairs with a charge product
  double pairs_per_second() const { return 1e9 / (sqrt_ns + div_ns * (1.0 + charged)); }
};

DividerCost divider_cost(zelk8::MapPath path) {
  const bool wide = path == zelk8::MapPath::lanes16;
  DividerCost c;
  c.sqrt_ns = wide ? ns_per_element(sqrt_pass_avx512) : ns_per_element(sqrt_pass_avx2);
  c.div_ns = wide ? ns_per_element(div_pass_avx512) : ns_per_element(div_pass_avx2);
  const zelk8::RunState& s = *map_run().state;
  int charged = 0;
  for (int i = 0; i < s.atom_count; ++i) {
    for (int j = 0; j < s.atom_count; ++j) {
      charged += (s.atom_charge[j] * 1380.0f) * s.atom_charge[i] != 0.0f ? 1 : 0;
    }
  }
  c.charged = double(charged) / (double(s.atom_count) * s.atom_count);
  return c;
}

// Argument: lanes (8, 16).
void BM_DividerBound(benchmark::State& state) {
  const zelk8::MapPath path = path_of(int(state.range(0)));
  if (!zelk8::map_path_supported(path)) {
    state.SkipWithError("this CPU does not run the path");
    return;
  }
  DividerCost c{};
  for (auto _ : state) c = divider_cost(path);
  if (path == zelk8::MapPath::lanes16) {
    state.counters["reciprocal_ns"] = ns_per_element(reciprocal_pass_avx512);
  }
  state.counters["sqrt_ns"] = c.sqrt_ns;
  state.counters["div_ns"] = c.div_ns;
  state.counters["charged"] = c.charged;
  state.counters["pairs/s"] = c.pairs_per_second();
}
BENCHMARK(BM_DividerBound)->ArgName("lanes")->Arg(16)->Arg(8)->Iterations(1);

// One group of grid points in the lanes. Argument: lanes (8, 16).
void BM_PairSumLanes(benchmark::State& state) {
  const zelk8::MapPath path = path_of(int(state.range(0)));
  if (!zelk8::map_path_supported(path)) {
    state.SkipWithError("this CPU does not run the path");
    return;
  }
  const int lanes = zelk8::map_path_lanes(path);
  const zelk8::RunState& s = *map_run().state;
  const zelk8::MapPairTables pairs = zelk8::make_map_pair_tables(s, zelk8::make_pair_table(s));
  alignas(64) float l[zelk8::map_max_lanes], sh[zelk8::map_max_lanes];
  alignas(64) float evdw[zelk8::map_max_lanes], estat[zelk8::map_max_lanes];
  for (int k = 0; k < lanes; ++k) l[k] = 0.1f * float(k % 8), sh[k] = k < 8 ? 0.25f : 0.5f;
  for (auto _ : state) {
    zelk8::map_lane_energies(path, pairs, l, sh, evdw, estat);
    benchmark::DoNotOptimize(evdw);
    benchmark::DoNotOptimize(estat);
  }
  const double pairs_per_call = double(lanes) * s.atom_count * s.atom_count;
  set_pair_rate(state, pairs_per_call);
  const double bound = divider_cost(path).pairs_per_second();
  state.counters["divider_bound"] = bound;
  // (pairs / bound) per second of the run: pairs/s over the bound.
  state.counters["bound_fraction"] = benchmark::Counter(
      pairs_per_call * double(state.iterations()) / bound, benchmark::Counter::kIsRate);
}
// Per core, as BM_PairSumScalar.
BENCHMARK(BM_PairSumLanes)->ArgName("lanes")->Arg(16)->Arg(8)->Unit(benchmark::kMicrosecond);
#endif  // ZELK8_MAP_LANES

// The lane exponential alone, on arguments the map meets.
void BM_ExpLanes(benchmark::State& state) {
  std::vector<float> x(1600), out(1600);
  for (std::size_t k = 0; k < x.size(); ++k) x[k] = -0.05f * float(k % 400);
  for (auto _ : state) {
    zelk8::exp_lanes(zelk8::map_path(), x.data(), out.data(), x.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["exp/s"] = benchmark::Counter(double(x.size()) * double(state.iterations()),
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExpLanes)->Unit(benchmark::kMicrosecond);

// ---- Output ---------------------------------------------------------------------

std::size_t count_lines(const std::string& text) {
  return std::size_t(std::count(text.begin(), text.end(), '\n'));
}

void BM_MapTables(benchmark::State& state) {
  const zelk8::ShiftMap map = zelk8::compute_shift_map(*map_run().state);
  std::string report;
  std::size_t lines = 0;
  for (auto _ : state) {
    report.clear();
    zelk8::write_map_tables(map, report);
    lines = count_lines(report);
  }
  state.counters["lines/s"] =
      benchmark::Counter(double(lines) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MapTables)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole scan export of 10,000 blocks of 180 atoms into a file.
void BM_ScanExport(benchmark::State& state) {
  const zelk8::RunState& s = *scan_run().state;
  const fs::path file =
      fs::temp_directory_path() / ("zelk8_bench_scan_" + std::to_string(getpid()));
  std::uintmax_t lines = 0;
  for (auto _ : state) {
    {
      records::OutputFile coord(file.string());
      std::string buffer;
      zelk8::write_shift_scan(s, coord, buffer);
      coord.close();
    }
    state.PauseTiming();
    lines = count_lines(read_text(file));
    state.ResumeTiming();
  }
  fs::remove(file);
  state.counters["lines/s"] =
      benchmark::Counter(double(lines) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanExport)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Whole runs -------------------------------------------------------------------

// zelk8::run() in a scratch folder of its own, from opening the input to
// closing the last file.
void whole_run(benchmark::State& state, const char* input) {
  const fs::path dir = fs::temp_directory_path() / ("zelk8_bench_run_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::copy_file(source_dir / input, dir / "zelk8.dat", fs::copy_options::overwrite_existing);
  const fs::path home = fs::current_path();
  fs::current_path(dir);
  for (auto _ : state) {
    if (zelk8::run() != 0) state.SkipWithError("the run failed");
  }
  fs::current_path(home);
  fs::remove_all(dir);
}
BENCHMARK_CAPTURE(whole_run, map_180, "bench/map-180/zelk8.dat")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(whole_run, scan_180, "bench/scan-180/zelk8.dat")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
