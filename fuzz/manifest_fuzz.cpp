// The batch manifest reader on arbitrary text: every outcome is a list of
// crystals that the batch can use, or an InputError; never a crash.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "manifest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    for (const zelk8::batch::Crystal& crystal :
         zelk8::batch::parse_manifest(text, "m.csv", "base")) {
      // What the reader accepts is what the batch relies on.
      if (!zelk8::batch::name_problem(crystal.name).empty() || crystal.cif.empty()) std::abort();
      for (const std::string& word : crystal.options)
        if (zelk8::batch::reserved_prep_option(word)) std::abort();
    }
  } catch (const zelk8::batch::InputError&) {
  }
  return 0;
}
