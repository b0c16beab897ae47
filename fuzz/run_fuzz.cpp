// The whole program on one input file: the bytes become "zelk8.dat" in a
// scratch folder of its own and zelk8::run() reads it and writes its outputs
// there. A read failure ends the run with status 2; anything but 0 or 2
// (a failing write) is a fault, and so is every sanitizer report.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "stages.hpp"

namespace {
std::string scratch;  // removed at a normal exit; kept after a crash
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  scratch = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zelk8-fuzz-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr || chdir(scratch.c_str()) != 0) {
    std::perror("run_fuzz: scratch folder");
    std::abort();
  }
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen("zelk8.dat", "wb");
  if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
    std::perror("run_fuzz: zelk8.dat");
    std::abort();
  }
  // One thread for the map: the fuzzer runs one input at a time anyway.
  const int status = zelk8::run(1);
  if (status != 0 && status != 2) {
    std::fprintf(stderr, "run_fuzz: exit status %d\n", status);
    std::abort();
  }
  return 0;
}
