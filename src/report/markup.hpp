// Text placed in the companions' HTML and SVG output.
#pragma once

#include <string>
#include <string_view>

namespace zelk8::report {

// `text` with &, <, > and " written as character references, so that it can
// stand in element content and in a double-quoted attribute.
std::string markup_escape(std::string_view text);

}  // namespace zelk8::report
