#include "progress.hpp"

#include <cmath>
#include <cstdio>

namespace zelk8::batch {

std::string duration_text(double seconds) {
  const long whole = std::lround(seconds < 0.0 ? 0.0 : seconds);
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%ldh%02ldm", whole / 3600, whole / 60 % 60);
  else if (whole >= 60)
    std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lds", whole);
  return text;
}

Progress::Progress(std::ostream& out, int total, bool terminal)
    : out_(out), total_(total), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

std::string Progress::status_line(double elapsed) const {
  std::string line = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " +
                     std::to_string(failed_) + " failed, " + duration_text(elapsed) + " elapsed";
  // The rate counts only the crystals that were run, not those done before.
  const int run = done_ - skipped_;
  if (done_ < total_ && run > 0)
    line += ", about " + duration_text(elapsed / run * (total_ - done_)) + " left";
  return line;
}

void Progress::draw() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // Carriage return, the line, then erase what an older, longer line left.
  out_ << '\r' << "zelk8-batch: " << status_line(elapsed) << "\033[K" << std::flush;
}

void Progress::finished(const std::string& name, const std::string& status,
                        const std::string& message, double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (status == "skipped") ++skipped_;
  const bool failed = status != "ok" && status != "skipped";
  if (failed) ++failed_;
  if (terminal_) {
    // Failures stay on the screen above the progress line.
    if (failed)
      out_ << "\r\033[Kzelk8-batch: " << name << ": " << status << ": " << message << '\n';
    draw();
    return;
  }
  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", seconds);
  out_ << "zelk8-batch: [" << done_ << '/' << total_ << "] " << name << ' ' << status;
  if (status != "skipped") out_ << ' ' << time;
  if (!message.empty()) out_ << ": " << message;
  out_ << '\n' << std::flush;
}

void Progress::tick() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) draw();
}

void Progress::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) out_ << '\n' << std::flush;
}

}  // namespace zelk8::batch
