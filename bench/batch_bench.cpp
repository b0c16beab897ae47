// Timings of zelk8-batch as a user runs it: the three bundled CIFs, and a
// batch of 100 crystals (the three CIFs copied under 100 names), each run
// from scratch (--force) with the default lattice radius and with none, with
// maps and (where zelk8-view is built) pages. Every zelk8-batch run uses all
// the CPUs this process may use.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path scratch = fs::temp_directory_path() / "zelk8-batch-bench";

int run_batch(const std::vector<std::string>& args) {
  std::vector<std::string> all = {ZELK8_BATCH_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stderr)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// in/: the bundled CIFs; hundred/: 100 copies of them.
void make_inputs() {
  static bool made = false;
  if (made) return;
  fs::remove_all(scratch);
  fs::create_directories(scratch / "hundred");
  const fs::path cifs = fs::path(ZELK8_SOURCE_DIR) / "examples" / "cif";
  const char* names[] = {"anthracene", "naphthalene", "quinacridone"};
  for (int k = 0; k < 100; ++k) {
    char name[64];
    std::snprintf(name, sizeof name, "%s-%03d.cif", names[k % 3], k);
    fs::copy_file(cifs / (std::string(names[k % 3]) + ".cif"), scratch / "hundred" / name);
  }
  made = true;
}

void batch(benchmark::State& state, const std::string& input, const std::string& radius) {
  make_inputs();
  const fs::path in =
      input == "bundled" ? fs::path(ZELK8_SOURCE_DIR) / "examples" / "cif" : scratch / input;
  const std::string out = (scratch / ("out-" + input + "-" + radius)).string();
  for (auto _ : state) {
    const int status = run_batch({in.string(), "-o", out, "--lattice-radius", radius, "--force"});
    if (status != 0) state.SkipWithError("zelk8-batch failed");
  }
}

}  // namespace

BENCHMARK_CAPTURE(batch, bundled_lattice_25, "bundled", "25")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(batch, bundled_no_lattice, "bundled", "0")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(batch, hundred_lattice_25, "hundred", "25")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(batch, hundred_no_lattice, "hundred", "0")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_MAIN();
