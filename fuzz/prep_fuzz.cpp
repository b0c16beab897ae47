// zelk8-prep's reading of a CIF: the bytes are the CIF, and the whole tool
// runs on them in memory (gemmi's parser, the block and site checks, the
// molecule, the units, the written file read back by the program's stages).
// Every outcome is an input file with status 0 or an error with status 2 and
// nothing written; anything else is a fault, and so is every sanitizer
// report.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "prep.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::ostringstream out, err;
  // Partial occupancy is let through so that the molecule and unit stages
  // see the disordered sites too.
  const int status = zelk8::prep::run_on_text(text, {"fuzz.cif", "--ignore-occupancy"}, out, err);
  const bool written = status == 0 && !out.str().empty();
  const bool refused = status == 2 && out.str().empty() &&
                       err.str().rfind("zelk8-prep: error: ") != std::string::npos;
  if (!written && !refused) {
    std::fprintf(stderr, "prep_fuzz: status %d, %zu bytes out, stderr:\n%s\n", status,
                 out.str().size(), err.str().c_str());
    std::abort();
  }
  return 0;
}
