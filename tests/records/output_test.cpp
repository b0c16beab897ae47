// Output files: replaced from their start, failures raised as WriteError.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "records.hpp"

namespace records {
namespace {

template <typename Action>
std::string write_error_of(Action action) {
  try {
    action();
  } catch (const WriteError& e) {
    return e.what();
  }
  return "no error";
}

TEST(OutputFile, ReplacesFromStartAndWritesRecords) {
  const std::string path = ::testing::TempDir() + "records_output_test.dat";
  OutputFile(path).write_text(std::string(1000, 'x'));
  {
    OutputFile out(path);
    out.write(Format("(F10.5,1X,A4,I3)"), 1.5f, text4("C"), 7);
    out.write(Format("(' Sum',//)"));
    out.close();
    out.close();  // closing twice is harmless
    EXPECT_THROW(out.write_text("late"), WriteError);
  }
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str(), "   1.50000 C     7\n Sum\n\n\n");
  std::remove(path.c_str());
}

TEST(OutputFile, FailuresNameTheFile) {
  EXPECT_EQ(write_error_of([] { OutputFile("/nonexistent-dir/at8.dat"); }),
            "/nonexistent-dir/at8.dat: cannot create: No such file or directory");
  if (std::FILE* probe = std::fopen("/dev/full", "wb")) {
    std::fclose(probe);
  } else {
    GTEST_SKIP() << "no /dev/full";
  }
  OutputFile full("/dev/full");
  full.write_text("one line\n");
  EXPECT_EQ(write_error_of([&] { full.close(); }),
            "/dev/full: cannot write: No space left on device");
}

}  // namespace
}  // namespace records
