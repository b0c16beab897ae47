// The page's pieces, compiled into the program from web/ and src/view/page/.
#pragma once

#include <string_view>

namespace zelk8::view {

extern const std::string_view threedmol_js;  // the 3Dmol.js library, minified
extern const std::string_view page_html;     // the page's body, with @@markers@@
extern const std::string_view page_css;
extern const std::string_view page_js;

}  // namespace zelk8::view
