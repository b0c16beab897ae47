#include "files.hpp"

namespace zelk8::prep {

std::string read_whole_file(const std::string& path, const std::string& what) {
  try {
    return report::read_whole(path, what);
  } catch (const report::InputError& e) {
    throw PrepError(e.what());
  }
}

}  // namespace zelk8::prep
