#include "process.hpp"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

namespace zelk8::batch {

namespace {

std::mutex children_mutex;
std::set<pid_t> children;
std::atomic<bool> stopped{false};

// In the child between fork and exec only async-signal-safe calls are made.
[[noreturn]] void child(const Command& command, char* const* argv, const cpu_set_t* cpus) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (cpus) sched_setaffinity(0, sizeof(cpu_set_t), cpus);
  if (!command.directory.empty() && chdir(command.directory.c_str()) != 0) _exit(126);
  const int in = open("/dev/null", O_RDONLY);
  const char* out_path = command.stdout_path.empty() ? "/dev/null" : command.stdout_path.c_str();
  const char* err_path = command.stderr_path.empty() ? "/dev/null" : command.stderr_path.c_str();
  const int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_flags = O_WRONLY | O_CREAT | (command.append_stderr ? O_APPEND : O_TRUNC);
  const int err = open(err_path, err_flags, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  execv(argv[0], argv);
  _exit(127);
}

}  // namespace

Outcome run_command(const Command& command) {
  Outcome outcome;
  if (stopped) {
    outcome.error = "interrupted";
    return outcome;
  }
  std::vector<char*> argv;
  for (const std::string& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : command.cpus) CPU_SET(cpu, &set);

  pid_t pid;
  {
    // Under the lock, so that stop_all_commands sees every child it must stop.
    std::lock_guard<std::mutex> lock(children_mutex);
    if (stopped) {
      outcome.error = "interrupted";
      return outcome;
    }
    pid = fork();
    if (pid == 0) child(command, argv.data(), command.cpus.empty() ? nullptr : &set);
    if (pid < 0) {
      outcome.error = std::string("cannot start ") + command.argv[0] + ": " + std::strerror(errno);
      return outcome;
    }
    children.insert(pid);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  {
    std::lock_guard<std::mutex> lock(children_mutex);
    children.erase(pid);
  }
  if (WIFEXITED(status)) {
    outcome.status = WEXITSTATUS(status);
    if (outcome.status == 127) outcome.error = "cannot run " + command.argv[0];
    if (outcome.status == 126) outcome.error = "cannot prepare the files of " + command.argv[0];
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

void stop_all_commands() {
  std::lock_guard<std::mutex> lock(children_mutex);
  stopped = true;
  for (pid_t pid : children) kill(pid, SIGTERM);
}

bool commands_stopped() { return stopped; }

std::vector<int> usable_cpus() {
  std::vector<int> cpus;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
      if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  if (cpus.empty()) cpus.push_back(0);
  return cpus;
}

std::vector<int> worker_cpus(const std::vector<int>& cpus, int jobs, int slot) {
  const int count = static_cast<int>(cpus.size());
  if (jobs >= count) return {cpus[slot % count]};
  const int first = slot * count / jobs;
  const int last = (slot + 1) * count / jobs;
  return std::vector<int>(cpus.begin() + first, cpus.begin() + last);
}

}  // namespace zelk8::batch
