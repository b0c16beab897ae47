// The errors and exit statuses every zelk8 tool shares.
#pragma once

#include <stdexcept>

namespace zelk8::report {

// How a tool ends; the README's table of exit statuses lists these.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;         // zelk8-batch: some crystal failed
inline constexpr int exit_input = 2;          // bad arguments or input
inline constexpr int exit_output = 3;         // an output file cannot be written
inline constexpr int exit_interrupted = 130;  // SIGINT, SIGTERM or SIGHUP

// A failure a tool reports in one line and ends with status(). The message
// names the file, the line or the option, and what to do.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual int status() const = 0;
};

// Bad arguments or input.
class InputError : public Error {
 public:
  using Error::Error;
  int status() const override { return exit_input; }
};

// An output file that cannot be written.
class OutputError : public Error {
 public:
  using Error::Error;
  int status() const override { return exit_output; }
};

}  // namespace zelk8::report
