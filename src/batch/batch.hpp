// zelk8-batch: many crystals, one results table.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "crystal_run.hpp"

namespace zelk8::batch {

struct Parameters {
  std::vector<std::string> inputs;  // CIF files, folders, manifests
  std::string out;
  int jobs = 0;  // 0: one per usable CPU
  std::vector<std::string> prep_options;
  double lattice_radius = 25.0;
  int shard = 0;   // K of --shard K/N, 1-based; 0: no shard
  int shards = 0;  // N
  bool collect = false;
  bool force = false;
};

// Exit statuses.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;      // some crystal failed (or, collecting, is missing)
constexpr int exit_usage = 2;       // bad arguments or inputs
constexpr int exit_unwritable = 3;  // a summary file cannot be written
constexpr int exit_interrupted = 130;

// The crystals of shard `k` of `n` (1-based) out of `count` in name order:
// the k-th of n contiguous slices of nearly equal size, as [first, last).
std::pair<size_t, size_t> shard_slice(size_t count, int k, int n);

// Parses "K/N" with 1 <= K <= N; throws InputError otherwise.
std::pair<int, int> parse_shard(const std::string& text);

// Writes summary.csv, summary.json and index.html of `rows` into `out`.
void write_summaries(const std::string& out, const std::vector<Row>& rows);

// The rows of every complete crystal folder of `out`, in name order.
std::vector<Row> finished_rows(const std::string& out);

// The rows of the folder's summary: every complete crystal folder of `out`
// and this run's rows (which replace a folder's row of the same name; a
// crystal that failed before its folder was made has only this one), in
// name order.
std::vector<Row> folder_rows(const std::string& out, const std::vector<Row>& this_run);

// Runs the batch; progress and messages go to `err`. Returns the exit status.
int run_batch(const Parameters& parameters, std::ostream& err);

}  // namespace zelk8::batch
