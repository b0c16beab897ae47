#include "interrupts.hpp"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace zelk8::report {

namespace {

constexpr int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP};

// One slot per write in progress: the path is copied before the slot is
// marked in use, so the handler only ever reads a whole path.
constexpr int slot_count = 64;
constexpr std::size_t path_size = 4096;
std::atomic<bool> slot_taken[slot_count];
std::atomic<bool> slot_ready[slot_count];
char slot_path[slot_count][path_size];

std::atomic<const char*> interrupt_message{"interrupted; nothing was written\n"};

void end_interrupted(int) {
  for (int slot = 0; slot < slot_count; ++slot) {
    if (slot_ready[slot].load(std::memory_order_acquire)) {
      ::unlink(slot_path[slot]);
    }
  }
  const char* message = interrupt_message.load();
  const ssize_t ignored = ::write(STDERR_FILENO, message, std::strlen(message));
  static_cast<void>(ignored);
  ::_exit(exit_interrupted);
}

sigset_t signal_set() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : interrupt_signals) {
    sigaddset(&signals, signal);
  }
  return signals;
}

}  // namespace

namespace detail {

int claim_temporary(const char* path) {
  if (std::strlen(path) >= path_size) {
    return -1;
  }
  for (int slot = 0; slot < slot_count; ++slot) {
    bool expected = false;
    if (slot_taken[slot].compare_exchange_strong(expected, true)) {
      std::strcpy(slot_path[slot], path);
      slot_ready[slot].store(true, std::memory_order_release);
      return slot;
    }
  }
  return -1;
}

void release_temporary(int slot) {
  if (slot < 0) {
    return;
  }
  slot_ready[slot].store(false, std::memory_order_release);
  slot_taken[slot].store(false, std::memory_order_release);
}

}  // namespace detail

void end_on_interrupt(const char* message) {
  interrupt_message = message;
  struct sigaction action {};
  action.sa_handler = end_interrupted;
  sigemptyset(&action.sa_mask);
  for (const int signal : interrupt_signals) {
    sigaction(signal, &action, nullptr);
  }
}

HeldInterrupts::HeldInterrupts() {
  const sigset_t signals = signal_set();
  pthread_sigmask(SIG_BLOCK, &signals, &old_);
}

HeldInterrupts::~HeldInterrupts() {
  if (interrupted()) {
    for (const int signal : interrupt_signals) {
      std::signal(signal, SIG_IGN);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

bool HeldInterrupts::interrupted() const {
  sigset_t pending;
  sigpending(&pending);
  for (const int signal : interrupt_signals) {
    if (sigismember(&pending, signal) == 1) {
      return true;
    }
  }
  return false;
}

}  // namespace zelk8::report
