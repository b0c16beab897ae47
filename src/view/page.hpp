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

// The page for `data` (see page_data.hpp), with the viewer library inline;
// or, with `library`, referring to the library at that address (relative
// to the page), so that many pages share one copy.
std::string render_page(const nlohmann::json& data, std::string_view library = {});

}  // namespace zelk8::view
