#include "batch.hpp"

#include <pthread.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <thread>

#include "progress.hpp"
#include "text.hpp"
#include "write_whole.hpp"

namespace zelk8::batch {

namespace fs = std::filesystem;

namespace {

std::vector<Links> links_of(const std::string& out, const std::vector<Row>& rows) {
  std::vector<Links> links;
  for (const Row& row : rows) {
    const std::string name = cell(row, "name");
    Links link;
    std::error_code error;
    for (const char* page : {"report.html", "at8.dat", "prep.log"})
      if (fs::exists(fs::path(out) / name / page, error)) {
        link.page = name + "/" + page;
        break;
      }
    if (fs::exists(fs::path(out) / name / "map.svg", error)) link.picture = name + "/map.svg";
    links.push_back(link);
  }
  return links;
}

int count_failed(const std::vector<Row>& rows) {
  return static_cast<int>(std::count_if(
      rows.begin(), rows.end(), [](const Row& row) { return cell(row, "status") != "ok"; }));
}

int collect(const Parameters& parameters, std::ostream& err) {
  std::vector<Row> rows;
  int missing = 0;
  if (parameters.inputs.empty()) {
    rows = finished_rows(parameters.out);
  } else {
    for (const Crystal& crystal : collect_crystals(parameters.inputs)) {
      if (auto row = read_finished_row((fs::path(parameters.out) / crystal.name).string())) {
        rows.push_back(*row);
      } else {
        err << "zelk8-batch: " << crystal.name << ": no complete folder in " << parameters.out
            << "; run its shard again\n";
        ++missing;
      }
    }
  }
  try {
    write_summaries(parameters.out, rows);
  } catch (const std::exception& error) {
    err << "zelk8-batch: " << error.what() << '\n';
    return exit_output;
  }
  const int failed = count_failed(rows);
  err << "zelk8-batch: " << rows.size() << " crystals in " << parameters.out << "/summary.csv, "
      << failed << " failed";
  if (missing) err << ", " << missing << " missing";
  err << '\n';
  return failed || missing ? exit_failed : exit_ok;
}

// A crystal's page, picture and reports are strings of a few hundred kB, built
// and dropped for every crystal. The allocator's defaults map each one afresh
// and give it back at once, a page fault per 4 kB touched: a batch spent a
// sixth of its time so. Keeping freed memory for the next crystal costs a few
// MB of peak memory.
void keep_large_buffers() {
#if defined(__GLIBC__)
  static const bool once = [] {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    return true;
  }();
  (void)once;
#endif
}

}  // namespace

std::pair<size_t, size_t> shard_slice(size_t count, int k, int n) {
  const size_t first = count * static_cast<size_t>(k - 1) / static_cast<size_t>(n);
  const size_t last = count * static_cast<size_t>(k) / static_cast<size_t>(n);
  return {first, last};
}

std::pair<int, int> parse_shard(const std::string& text) {
  const size_t slash = text.find('/');
  const std::string_view whole = text;
  const auto k = report::number_of<int>(whole.substr(0, slash));
  const auto n =
      slash == std::string::npos ? std::nullopt : report::number_of<int>(whole.substr(slash + 1));
  if (!k || !n || *n < 1 || *k < 1 || *k > *n)
    throw InputError("--shard: expected K/N with 1 <= K <= N (e.g. 2/8), got '" + text + "'");
  return {*k, *n};
}

void write_summaries(const std::string& out, const std::vector<Row>& rows) {
  report::write_whole((fs::path(out) / "summary.csv").string(), summary_csv(rows));
  report::write_whole((fs::path(out) / "summary.json").string(), summary_json(rows));
  report::write_whole((fs::path(out) / "index.html").string(),
                      index_html(rows, links_of(out, rows)));
}

std::vector<Row> finished_rows(const std::string& out) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(out, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && !name.empty() && name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<Row> rows;
  for (const std::string& name : names)
    if (auto row = read_finished_row((fs::path(out) / name).string())) rows.push_back(*row);
  return rows;
}

std::vector<Row> folder_rows(const std::string& out, const std::vector<Row>& this_run) {
  std::vector<Row> rows = finished_rows(out);
  for (const Row& row : this_run) {
    const std::string name = cell(row, "name");
    auto same = std::find_if(rows.begin(), rows.end(),
                             [&](const Row& other) { return cell(other, "name") == name; });
    if (same != rows.end())
      *same = row;
    else
      rows.push_back(row);
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& p, const Row& q) { return cell(p, "name") < cell(q, "name"); });
  return rows;
}

int run_batch(const Parameters& parameters, std::ostream& err) {
  keep_large_buffers();
  allow_crystals();  // an earlier batch of this process may have been interrupted
  std::vector<Crystal> crystals;
  try {
    std::error_code error;
    fs::create_directories(parameters.out, error);
    if (error || !fs::is_directory(parameters.out))
      throw InputError("-o " + parameters.out + ": cannot make the folder: " + error.message());
    if (parameters.collect) return collect(parameters, err);
    crystals = collect_crystals(parameters.inputs);
  } catch (const InputError& error) {
    err << "zelk8-batch: " << error.what() << '\n';
    return exit_input;
  } catch (const std::exception& error) {
    err << "zelk8-batch: " << error.what() << '\n';
    return exit_failed;
  }
  if (parameters.shards > 0) {
    auto [first, last] = shard_slice(crystals.size(), parameters.shard, parameters.shards);
    crystals = std::vector<Crystal>(crystals.begin() + static_cast<long>(first),
                                    crystals.begin() + static_cast<long>(last));
  }

  Settings settings;
  settings.out = fs::absolute(parameters.out).lexically_normal().string();
  settings.prep_options = parameters.prep_options;
  settings.lattice_radius = parameters.lattice_radius;
  settings.force = parameters.force;
#ifdef ZELK8_BATCH_PAGES
  settings.pages = true;
#endif
  if (settings.pages && !crystals.empty()) {
    try {
      write_viewer_library(settings.out);
    } catch (const std::exception& error) {
      err << "zelk8-batch: " << error.what() << '\n';
      return exit_output;
    }
  }

  int jobs = parameters.jobs > 0 ? parameters.jobs : report::usable_cpu_count();
  jobs = std::max(1, std::min(jobs, static_cast<int>(crystals.size())));

  // Interrupts are taken by one watcher thread, which asks every crystal in
  // progress to stop; the workers then leave their temporary folders and stop.
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  sigset_t old_mask;
  pthread_sigmask(SIG_BLOCK, &signals, &old_mask);

  Progress progress(err, static_cast<int>(crystals.size()), isatty(STDERR_FILENO) == 1);
  std::vector<CrystalOutcome> outcomes(crystals.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> done{false};

  std::thread watcher([&] {
    timespec wait{0, 250'000'000};
    int quarter = 0;
    while (!done) {
      const int signal = sigtimedwait(&signals, nullptr, &wait);
      if (signal > 0 && done) break;  // the wake-up below: every crystal is done
      if (signal > 0) {
        stop_all_crystals(signal);
      } else if (++quarter % 4 == 0) {
        progress.tick();
      }
    }
  });
  std::vector<std::thread> workers;
  for (int worker = 0; worker < jobs; ++worker) {
    workers.emplace_back([&] {
      for (size_t k; (k = next++) < crystals.size() && !crystals_stopped();) {
        CrystalOutcome& outcome = outcomes[k];
        try {
          outcome = process_crystal(crystals[k], settings);
        } catch (const std::exception& error) {
          // Nothing could be kept for this crystal (no folder, a write that
          // failed): it still gets its row.
          outcome.row = empty_row(crystals[k].name);
          outcome.row["status"] = "run_failed";
          outcome.row["message"] = error.what();
        }
        if (outcome.interrupted) continue;
        progress.finished(crystals[k].name,
                          outcome.skipped ? "skipped" : cell(outcome.row, "status"),
                          outcome.skipped ? "" : cell(outcome.row, "message"),
                          report::number_of<double>(cell(outcome.row, "seconds")).value_or(0.0));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  done = true;
  // Wakes the watcher now rather than at the end of its quarter second; the
  // signal is blocked in every thread, so it only ends that wait.
  pthread_kill(watcher.native_handle(), SIGTERM);
  watcher.join();
  // The crystal folders' renames, synced once for the whole batch.
  report::sync_folder(settings.out);
  const int caught = stop_signal();
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  progress.close();

  std::vector<Row> rows;
  for (const CrystalOutcome& outcome : outcomes)
    if (!cell(outcome.row, "name").empty() && !outcome.interrupted) rows.push_back(outcome.row);
  if (caught) {
    err << "zelk8-batch: interrupted (" << strsignal(caught) << "): " << rows.size() << " of "
        << crystals.size() << " crystals finished and kept; run the same command again to do the "
        << "rest\n";
    return exit_interrupted;
  }
  const int failed = count_failed(rows);
  if (parameters.shards > 0) {
    err << "zelk8-batch: shard " << parameters.shard << '/' << parameters.shards << ": "
        << rows.size() << " crystals, " << failed << " failed; build the summary with --collect\n";
  } else {
    // The summary covers the whole folder: crystals of earlier runs too.
    const std::vector<Row> all = folder_rows(parameters.out, rows);
    try {
      write_summaries(parameters.out, all);
    } catch (const std::exception& error) {
      err << "zelk8-batch: " << error.what() << '\n';
      return exit_output;
    }
    err << "zelk8-batch: " << rows.size() << " crystals, " << failed << " failed; see "
        << (fs::path(parameters.out) / "summary.csv").string();
    if (all.size() > rows.size()) err << " (" << all.size() << " crystals in the folder)";
    err << '\n';
  }
  return failed ? exit_failed : exit_ok;
}

}  // namespace zelk8::batch
