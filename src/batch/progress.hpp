// The progress of a batch on standard error: on a terminal one line that
// keeps being rewritten; otherwise one plain line per finished crystal.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

namespace zelk8::batch {

// "1h02m", "3m05s", "42s".
std::string duration_text(double seconds);

class Progress {
 public:
  Progress(std::ostream& out, int total, bool terminal);

  // A crystal is done: `status` ok, prep_failed, run_failed or skipped.
  void finished(const std::string& name, const std::string& status, const std::string& message,
                double seconds);
  // Rewrites the terminal line (elapsed time moves on); nothing otherwise.
  void tick();
  // Ends the terminal line before a closing message.
  void close();

  // The terminal line: "[3/10] 1 failed, 1m02s elapsed, about 2m30s left".
  std::string status_line(double elapsed) const;

 private:
  void draw();
  std::ostream& out_;
  const int total_;
  const bool terminal_;
  int done_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace zelk8::batch
