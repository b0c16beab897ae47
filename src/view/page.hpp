// The report page: one HTML file that holds its data, its styles, its script
// and the 3Dmol.js library, so that it opens from a local file with no
// network.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelk8::view {

// The JSON text as it may stand inside a <script> element: every "</" is
// written "<\/", which JSON reads as the same two characters.
std::string script_safe_json(const nlohmann::json& data);

// The page for `data` (see page_data.hpp).
std::string render_page(const nlohmann::json& data);

// A file that could not be written; what() names it and says why.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `text` to `path` whole or not at all: into a temporary file beside
// it, flushed and closed, then renamed over it. On failure the temporary file
// is removed, a previous file at `path` is left as it was, and WriteError is
// thrown.
void write_whole_file(const std::filesystem::path& path, std::string_view text);

}  // namespace zelk8::view
