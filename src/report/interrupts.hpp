// Interrupts (Ctrl-C, SIGTERM, SIGHUP) of a tool that reads, then writes its
// files at the end. While it reads and computes, nothing has been written: an
// interrupt ends it at once with status 130, removing the temporary file of a
// write_whole() in progress. While it holds interrupts (HeldInterrupts), an
// interrupt waits until every file is whole, and the tool then ends with 130.
#pragma once

#include <signal.h>

#include "errors.hpp"

namespace zelk8::report {

// Ends the tool with exit_interrupted and `message` (a whole line, kept by
// the caller: a string literal) on standard error at the first interrupt
// from now on, removing the temporary files of the writes in progress.
void end_on_interrupt(const char* message);

// Holds interrupts back while it lives; interrupted() says whether one came.
class HeldInterrupts {
 public:
  HeldInterrupts();
  // An interrupt that came meanwhile is the caller's to act on (it has asked
  // interrupted()): it is dropped, not handled once more.
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;

  bool interrupted() const;

 private:
  sigset_t old_{};
};

namespace detail {
// The temporary files being written, for the interrupt handler to remove:
// claim_temporary() records a path and returns its slot (-1 when every slot
// is taken or the path is too long),
// release_temporary() forgets it. Both are safe from any thread.
int claim_temporary(const char* path);
void release_temporary(int slot);
}  // namespace detail

}  // namespace zelk8::report
