// Running the tools of a batch as child processes, and stopping them all
// when the batch is interrupted.
#pragma once

#include <string>
#include <vector>

namespace zelk8::batch {

struct Command {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::string directory;          // working directory; empty: the batch's own
  std::string stdout_path;        // empty: /dev/null
  std::string stderr_path;        // empty: /dev/null
  bool append_stderr = false;     // add to stderr_path rather than replace it
  std::vector<int> cpus;          // the CPUs the child may use; empty: the batch's own
};

struct Outcome {
  int status = -1;    // exit status, or -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, 0 when it exited
  std::string error;  // why it could not start, empty when it ran
};

// Runs the command and waits for it. Safe to call from several threads.
Outcome run_command(const Command& command);

// Stops every running child (SIGTERM) and makes later run_command calls
// fail at once; used when the batch is interrupted.
void stop_all_commands();
bool commands_stopped();

// The CPUs this process may use, in ascending order (at least one).
std::vector<int> usable_cpus();

// The CPU set of worker `slot` of `jobs`: the usable CPUs cut into `jobs`
// contiguous, disjoint parts of nearly equal size; with more jobs than CPUs,
// each worker gets one CPU, taken in turn.
std::vector<int> worker_cpus(const std::vector<int>& cpus, int jobs, int slot);

}  // namespace zelk8::batch
