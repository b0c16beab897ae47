// Interrupts (Ctrl-C, SIGTERM, SIGHUP) of a companion tool that reads, then
// writes its files at the end. While it reads and computes, nothing has been
// written: an interrupt ends it at once with status 130. While it writes, an
// interrupt waits until every file is whole, and then ends it with 130.
#pragma once

#include <unistd.h>

#include <csignal>
#include <cstring>

namespace zelk8::report {

inline constexpr int exit_interrupted = 130;

namespace detail {
inline const char* interrupt_message = "interrupted; nothing was written\n";
inline void end_interrupted(int) {
  const ssize_t ignored = ::write(STDERR_FILENO, interrupt_message, std::strlen(interrupt_message));
  static_cast<void>(ignored);
  ::_exit(exit_interrupted);
}
inline sigset_t interrupt_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&signals, signal);
  }
  return signals;
}
}  // namespace detail

// Ends the tool with status 130 and `message` (a whole line, kept by the
// caller) on standard error at the first interrupt from now on.
inline void end_on_interrupt(const char* message) {
  detail::interrupt_message = message;
  struct sigaction action {};
  action.sa_handler = detail::end_interrupted;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
}

// Holds interrupts back while it lives; interrupted() says whether one came.
class HeldInterrupts {
 public:
  HeldInterrupts() {
    const sigset_t signals = detail::interrupt_signals();
    sigprocmask(SIG_BLOCK, &signals, &old_);
  }
  // An interrupt that came meanwhile is the caller's to act on (it has asked
  // interrupted()): it is dropped, not handled once more.
  ~HeldInterrupts() {
    if (interrupted()) {
      for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, SIG_IGN);
      }
    }
    sigprocmask(SIG_SETMASK, &old_, nullptr);
  }
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;

  bool interrupted() const {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
           sigismember(&pending, SIGHUP) == 1;
  }

 private:
  sigset_t old_{};
};

}  // namespace zelk8::report
