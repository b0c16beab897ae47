// Output files: replaced from their start, failures raised as WriteError.
#include "records.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace records {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(OutputFile, ReplacesFromStartAndWritesRecords) {
  const std::string path = ::testing::TempDir() + "records_output_test.dat";
  {
    OutputFile out(path);
    out.write_text(std::string(1000, 'x'));
  }
  {
    OutputFile out(path);
    out.write(Format("(F10.5,1X,A4,I3)"), 1.5f, text4("C"), 7);
    out.write(Format("(' Sum',//)"));
    out.close();
    out.close();  // closing twice is harmless
    EXPECT_THROW(out.write_text("late"), WriteError);
  }
  EXPECT_EQ(slurp(path), "   1.50000 C     7\n Sum\n\n\n");
  std::remove(path.c_str());
}

TEST(OutputFile, FailuresNameTheFile) {
  try {
    OutputFile out("/nonexistent-dir/at8.dat");
    FAIL() << "opened a file in a missing directory";
  } catch (const WriteError& e) {
    EXPECT_EQ(std::string(e.what()), "/nonexistent-dir/at8.dat: cannot create: No such file or directory");
  }

  std::FILE* probe = std::fopen("/dev/full", "wb");
  if (probe == nullptr) GTEST_SKIP() << "no /dev/full";
  std::fclose(probe);
  {
    OutputFile full("/dev/full");
    full.write_text("one line\n");
    EXPECT_THROW(full.flush(), WriteError);
  }
  OutputFile full("/dev/full");
  full.write_text("one line\n");
  try {
    full.close();
    FAIL() << "closing /dev/full succeeded";
  } catch (const WriteError& e) {
    EXPECT_EQ(std::string(e.what()), "/dev/full: cannot write: No space left on device");
  }
}

}  // namespace
}  // namespace records
