#include "page.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "embedded.hpp"

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

std::string html_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string system_error(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

}  // namespace

std::string script_safe_json(const nlohmann::json& data) {
  // Invalid UTF-8 from a report (a label of odd bytes) is replaced, not fatal.
  const std::string text = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    out += text[k];
    if (text[k] == '<' && k + 1 < text.size() && text[k + 1] == '/') {
      out += '\\';
    }
  }
  return out;
}

std::string render_page(const nlohmann::json& data) {
  // The template's markers are filled in this order, so that nothing put in
  // can be taken for a later marker.
  std::string page(page_html);
  fill(page, "@@TITLE@@", html_escape(data.value("crystal", std::string("zelk8 report"))));
  fill(page, "@@CSS@@", page_css);
  std::string scripts;
  scripts += "<script id=\"zelk8-data\" type=\"application/json\">";
  scripts += script_safe_json(data);
  scripts += "</script>\n<script>";
  scripts += threedmol_js;
  scripts += "</script>\n<script>";
  scripts += page_js;
  scripts += "</script>";
  fill(page, "@@SCRIPTS@@", scripts);
  return page;
}

namespace {

// Writes all of `text` to `fd`; returns 0 or the error number.
int write_all(int fd, std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace

void write_whole_file(const std::filesystem::path& given, std::string_view text) {
  std::error_code ec;
  std::filesystem::path path = given;
  // A link is followed, so that the file it names is replaced, not the link.
  if (std::filesystem::is_symlink(given, ec)) {
    path = std::filesystem::weakly_canonical(given, ec);
    if (ec) {
      path = given;
    }
  }
  // A device or a pipe (/dev/stdout, /dev/full) cannot be replaced by a
  // rename: it is written in place.
  const auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      throw WriteError(system_error("cannot write '" + given.string() + "'", errno));
    }
    int error = write_all(fd, text);
    if (::close(fd) != 0 && error == 0) {
      error = errno;
    }
    if (error != 0) {
      throw WriteError(system_error("cannot write '" + given.string() + "'", error));
    }
    return;
  }

  // The temporary file lies beside the target, so that the rename stays
  // within one file system and replaces the target in one step.
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    throw WriteError(system_error("cannot write '" + given.string() + "'", errno));
  }
  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw WriteError(system_error("cannot write '" + given.string() + "'", error));
  };
  if (const int error = write_all(fd, text); error != 0) {
    fail(error);
  }
  // Readable like any file the user creates (mkstemp makes it private).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0 || ::fsync(fd) != 0) {
    fail(errno);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw WriteError(system_error("cannot write '" + given.string() + "'", error));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw WriteError(system_error("cannot write '" + given.string() + "'", error));
  }
}

}  // namespace zelk8::view
