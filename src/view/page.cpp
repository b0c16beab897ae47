#include "page.hpp"

#include <stdexcept>
#include <string>

#include "embedded.hpp"
#include "markup.hpp"

namespace zelk8::view {

namespace {

// Puts `value` in place of the first `marker` of `text`.
void fill(std::string& text, std::string_view marker, std::string_view value) {
  const std::size_t at = text.find(marker);
  if (at == std::string::npos) {
    throw std::logic_error("page template without " + std::string(marker));
  }
  text.replace(at, marker.size(), value);
}

}  // namespace

std::string script_safe_json(const nlohmann::json& data) {
  // Invalid UTF-8 from a report (a label of odd bytes) is replaced, not fatal.
  const std::string text = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size() + 64);
  std::size_t from = 0;
  for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 2)) {
    out.append(text, from, at + 1 - from);
    out += '\\';
    from = at + 1;
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string render_page(const nlohmann::json& data, std::string_view library) {
  // The template's markers are filled in this order, so that nothing put in
  // can be taken for a later marker.
  std::string page(page_html);
  fill(page, "@@TITLE@@",
       report::markup_escape(data.value("crystal", std::string("zelk8 report"))));
  fill(page, "@@CSS@@", page_css);
  std::string scripts;
  scripts += "<script id=\"zelk8-data\" type=\"application/json\">";
  scripts += script_safe_json(data);
  if (library.empty()) {
    scripts += "</script>\n<script>";
    scripts += threedmol_js;
  } else {
    scripts += "</script>\n<script src=\"";
    scripts += report::markup_escape(std::string(library));
    scripts += "\">";
  }
  scripts += "</script>\n<script>";
  scripts += page_js;
  scripts += "</script>";
  fill(page, "@@SCRIPTS@@", scripts);
  return page;
}

}  // namespace zelk8::view
