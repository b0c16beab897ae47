// Timings of the shift map and the scan export on a C150H30 flake (180
// atoms, 100 x 100 grid): the plain single-threaded path against the fast
// one in the same run, the pair-sum kernel alone, and whole runs.
//
//   cmake --workflow --preset bench
//   build/bench/bench/zelk8_bench --benchmark_repetitions=3
//
// Counters: pairs/s (atom pair terms per second), lines/s (lines of
// "coord.xyz" or "at8.dat" per second).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "map_lanes.hpp"
#include "shift_map.hpp"
#include "stage_runner.hpp"

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

// Argument: threads, 0 for every CPU the process may use.
void BM_MapFast(benchmark::State& state) {
  const zelk8::RunState& s = *map_run().state;
  for (auto _ : state) {
    zelk8::ShiftMap map = zelk8::compute_shift_map(s, int(state.range(0)));
    benchmark::DoNotOptimize(map.evdw.data());
  }
  set_pair_rate(state, map_pair_terms(s));
}
BENCHMARK(BM_MapFast)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
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
BENCHMARK(BM_PairSumScalar)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Eight grid points in the lanes.
void BM_PairSumLanes(benchmark::State& state) {
  if (!zelk8::map_lanes_available()) {
    state.SkipWithError("no AVX2/FMA on this CPU");
    return;
  }
  const zelk8::RunState& s = *map_run().state;
  const zelk8::MapPairTables pairs = zelk8::make_map_pair_tables(s, zelk8::make_pair_table(s));
  alignas(32) float l[zelk8::map_lanes], sh[zelk8::map_lanes];
  alignas(32) float evdw[zelk8::map_lanes], estat[zelk8::map_lanes];
  for (int k = 0; k < zelk8::map_lanes; ++k) l[k] = 0.1f * k, sh[k] = 0.25f;
  for (auto _ : state) {
    zelk8::map_lane_energies(pairs, l, sh, evdw, estat);
    benchmark::DoNotOptimize(evdw);
    benchmark::DoNotOptimize(estat);
  }
  set_pair_rate(state, double(zelk8::map_lanes) * s.atom_count * s.atom_count);
}
BENCHMARK(BM_PairSumLanes)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The lane exponential alone, on arguments the map meets.
void BM_ExpLanes(benchmark::State& state) {
  std::vector<float> x(1600), out(1600);
  for (std::size_t k = 0; k < x.size(); ++k) x[k] = -0.05f * float(k % 400);
  for (auto _ : state) {
    zelk8::exp_lanes(x.data(), out.data(), x.size());
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
