// Input files: fixed-format reads driven by a compiled format, and
// free-format (list-directed) reads. Every failure goes through one function
// that names the file, the line and the record.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "records.hpp"

namespace records {

namespace {

// The whole of a regular file. A file that cannot be opened, is no regular
// file (a folder, a device, a pipe: opened without waiting for a writer) or
// cannot be read raises ReadError with the system's reason.
std::string read_whole_file(const std::string& name) {
  auto failure = [&](const char* why) { return ReadError(name + ": " + why); };
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw failure(std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    throw failure(std::strerror(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    throw failure(S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
  }
  std::string contents;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw failure(std::strerror(error));
    }
    if (n == 0) break;
    contents.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return contents;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field or token as it appears in a diagnostic: bytes outside printable
// ASCII escaped, a long one cut.
std::string quote_for_message(std::string_view s) {
  constexpr std::size_t max_shown = 40;
  std::string q = "\"";
  for (std::size_t i = 0; i < s.size() && i < max_shown; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7f) {
      q += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      q += esc;
    }
  }
  if (s.size() > max_shown) q += "...";
  q += '"';
  return q;
}

std::string columns(std::size_t first, std::size_t width) {
  if (width == 1) return "(column " + std::to_string(first + 1) + ")";
  return "(columns " + std::to_string(first + 1) + "-" + std::to_string(first + width) + ")";
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

enum class Parse { ok, bad, out_of_range };

// An integer: optional sign, then digits. Blanks are ignored; an empty or
// sign-only field reads 0 when `blank_is_zero`.
Parse parse_int(std::string_view s, bool blank_is_zero, int& value) {
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && s[i] == ' ') ++i;
  };
  skip();
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
    skip();
  }
  std::int64_t n = 0;
  bool any = false;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    if (s[i] == ' ') continue;
    if (!is_digit(s[i])) return Parse::bad;
    any = true;
    if (!overflow) {
      n = n * 10 + (s[i] - '0');
      overflow = n > std::int64_t{INT_MAX} + 1;
    }
  }
  if (!any) {
    if (!blank_is_zero) return Parse::bad;
    value = 0;
    return Parse::ok;
  }
  if (negative) n = -n;
  if (overflow || n > INT_MAX || n < INT_MIN) return Parse::out_of_range;
  value = static_cast<int>(n);
  return Parse::ok;
}

// A real in the forms of Fw.d input: optional sign, digits with an optional
// point, an optional exponent (E or D with an optional sign, or a sign
// alone). Blanks are ignored. Without a typed point the last d digits are
// the fraction. The number is rewritten as "<sign><digits>e<exponent>" and
// converted once, correctly rounded, by from_chars.
Parse parse_real(std::string_view s, int d, bool blank_is_zero, float& value) {
  std::string canon;
  canon.reserve(s.size() + 24);
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && s[i] == ' ') ++i;
  };
  skip();
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') canon += '-';
    ++i;
    skip();
  }
  if (i == s.size()) {
    if (!blank_is_zero) return Parse::bad;
    value = 0.0f;
    return Parse::ok;
  }

  // Mantissa.
  std::int64_t fraction_digits = 0;
  std::size_t digit_count = 0;
  std::size_t significant = 0;  // digits from the first non-zero one on
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ' ') continue;
    if (is_digit(c)) {
      canon += c;
      ++digit_count;
      if (significant > 0 || c != '0') ++significant;
      if (point) ++fraction_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digit_count == 0) return Parse::bad;
  if (!point) fraction_digits = d;

  // Exponent.
  std::int64_t exponent = 0;
  if (i < s.size()) {
    const char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      skip();
    } else if (c != '+' && c != '-') {
      return Parse::bad;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      negative = s[i] == '-';
      ++i;
    }
    bool any = false;
    for (; i < s.size(); ++i) {
      if (s[i] == ' ') continue;
      if (!is_digit(s[i])) return Parse::bad;
      any = true;
      if (exponent < 100'000'000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (!any) return Parse::bad;
    if (negative) exponent = -exponent;
  }
  exponent -= fraction_digits;
  canon += 'e';
  canon += std::to_string(exponent);

  float v = 0.0f;
  const auto r = std::from_chars(canon.data(), canon.data() + canon.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    // The value is about 10^(significant - 1 + exponent): below 1 it
    // underflowed to zero, above it overflowed.
    if (static_cast<std::int64_t>(significant) - 1 + exponent >= 0) return Parse::out_of_range;
    v = canon.front() == '-' ? -0.0f : 0.0f;
  } else if (r.ec != std::errc() || r.ptr != canon.data() + canon.size()) {
    return Parse::bad;
  }
  value = v;
  return Parse::ok;
}

const char* kind_name(const Target& t) {
  switch (t.index()) {
    case 0:
      return "an integer";
    case 1:
      return "a real";
    default:
      return "a text";
  }
}

}  // namespace

InputFile::InputFile(std::string name)
    : name_(std::move(name)), contents_(read_whole_file(name_)) {}

InputFile::InputFile(std::string name, std::string contents)
    : name_(std::move(name)), contents_(std::move(contents)) {}

// The next line without its '\n' and without a '\r' before it.
bool InputFile::next_line(std::string_view& line) {
  if (pos_ >= contents_.size()) return false;
  const std::string_view all(contents_);
  std::size_t end = all.find('\n', pos_);
  std::size_t next = end + 1;
  if (end == std::string_view::npos) end = next = all.size();
  line = all.substr(pos_, end - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos_ = next;
  ++line_number_;
  return true;
}

[[noreturn]] void InputFile::fail(int line, std::string_view record,
                                  const std::string& what) const {
  throw ReadError(name_ + " line " + std::to_string(line) + ": " + std::string(record) + ": " +
                  what);
}

void InputFile::take_line(std::string_view& line, std::string_view record) {
  if (!next_line(line)) fail(line_number_ + 1, record, "end of file");
}

// One read statement: each data descriptor fills the next target, X skips
// columns, '/' moves to the next line. When the targets are used up the
// statement ends at the next data descriptor; when targets remain at the
// closing parenthesis, reading goes on from the start of the format on the
// next line.
void InputFile::read(const Format& f, std::span<const Target> targets, std::string_view record) {
  std::string_view line;
  take_line(line, record);
  std::size_t col = 0;
  std::size_t next = 0;
  for (;;) {
    bool any_data = false;
    for (const Edit& e : f.edits()) {
      for (int r = 0; r < e.repeat; ++r) {
        switch (e.kind) {
          case Edit::Kind::I:
          case Edit::Kind::F:
          case Edit::Kind::A: {
            any_data = true;
            if (next == targets.size()) return;
            const Target& target = targets[next++];
            std::size_t w = static_cast<std::size_t>(e.w);
            if (e.kind == Edit::Kind::A && w == 0) w = 4;
            // The field, as if the line were padded with blanks.
            const std::string_view field =
                col < line.size() ? line.substr(col, w) : std::string_view();
            const std::size_t first = col;
            col += w;
            if (e.kind == Edit::Kind::I) {
              int* const* p = std::get_if<int*>(&target);
              if (p == nullptr) mismatch(f, e, target);
              const Parse result = parse_int(field, true, **p);
              if (result != Parse::ok)
                bad_field(record, field, static_cast<int>(result), "an integer", first, w);
            } else if (e.kind == Edit::Kind::F) {
              float* const* p = std::get_if<float*>(&target);
              if (p == nullptr) mismatch(f, e, target);
              const Parse result = parse_real(field, e.d, true, **p);
              if (result != Parse::ok)
                bad_field(record, field, static_cast<int>(result), "a number", first, w);
            } else {
              Text4* const* p = std::get_if<Text4*>(&target);
              if (p == nullptr) mismatch(f, e, target);
              // Aw into four characters: the last four of a wider field, a
              // narrower one padded with blanks.
              Text4& t = **p;
              t = Text4{' ', ' ', ' ', ' '};
              const std::size_t skip = w > 4 ? w - 4 : 0;
              for (std::size_t k = 0; k + skip < w && k < 4; ++k) {
                if (k + skip < field.size()) t[k] = field[k + skip];
              }
            }
            break;
          }
          case Edit::Kind::X:
            col += static_cast<std::size_t>(e.w);
            break;
          case Edit::Kind::Text:  // a text in an input format skips its own width
            col += e.text.size();
            break;
          case Edit::Kind::Slash:
            take_line(line, record);
            col = 0;
            break;
        }
      }
    }
    if (next == targets.size()) return;
    if (!any_data) {
      throw std::logic_error("format \"" + std::string(f.literal()) +
                             "\" has no data descriptor for " +
                             std::to_string(targets.size() - next) + " targets");
    }
    take_line(line, record);
    col = 0;
  }
}

void InputFile::mismatch(const Format& f, const Edit& e, const Target& target) {
  throw std::logic_error("format \"" + std::string(f.literal()) + "\": " + kind_name(target) +
                         " target at the " + static_cast<char>(e.kind) + std::to_string(e.w) +
                         " descriptor");
}

void InputFile::bad_field(std::string_view record, std::string_view field, int result,
                          const char* expected, std::size_t first, std::size_t width) const {
  const std::string shown = quote_for_message(trim_blanks(field));
  const std::string why = static_cast<Parse>(result) == Parse::out_of_range
                              ? " is out of range "
                              : std::string(" is not ") + expected + " ";
  fail(line_number_, record, shown + why + columns(first, width));
}

// One list-directed read statement. Values are separated by blanks, tabs,
// commas and line ends; a value may be quoted with ' or " (a doubled quote
// inside stands for one), and then holds blanks and commas.
//
// A comma with no value before it on its line, a second comma after a value
// (blanks between them or not), and a comma followed only by blanks up to the
// line end while the statement needs more values each stand for an empty
// item, which list-directed input would read as "leave the variable as it
// is". Such an item is nearly always a typo, so the read fails instead.
void InputFile::read_list(std::span<const Target> targets, std::string_view record) {
  std::string_view line;
  std::size_t col = 0;
  bool have_line = false;
  bool value_on_line = false;  // a value of this statement stands earlier on `line`
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  auto separator = [&](char c) { return blank(c) || c == ','; };
  auto empty_value = [&](std::size_t comma) {
    fail(line_number_, record, "empty value " + columns(comma, 1));
  };
  if (targets.empty()) take_line(line, record);  // an empty statement still takes its line
  for (const Target& target : targets) {
    // Next value, on this line or a later one. One comma may stand between
    // two values; a comma that follows nothing on its line, or another comma,
    // ends an empty item.
    std::size_t comma = std::string_view::npos;
    for (;;) {
      if (have_line) {
        for (; col < line.size() && separator(line[col]); ++col) {
          if (line[col] != ',') continue;
          if (!value_on_line || comma != std::string_view::npos) empty_value(col);
          comma = col;
        }
        if (col < line.size()) break;
        if (comma != std::string_view::npos) empty_value(comma);
      }
      take_line(line, record);
      have_line = true;
      value_on_line = false;
      col = 0;
    }
    value_on_line = true;
    const std::size_t first = col;
    const char c = line[col];
    if (c == '\'' || c == '"') {
      // Quoted text, ended by the matching quote on the same line.
      std::string text;
      std::size_t k = col + 1;
      bool closed = false;
      while (k < line.size()) {
        if (line[k] != c) {
          if (text.size() < 4) text += line[k];
          ++k;
        } else if (k + 1 < line.size() && line[k + 1] == c) {
          if (text.size() < 4) text += c;
          k += 2;
        } else {
          closed = true;
          ++k;
          break;
        }
      }
      const std::string_view token = line.substr(first, k - first);
      col = k;
      if (!closed)
        fail(line_number_, record,
             quote_for_message(token) + " has no closing quote " + columns(first, token.size()));
      Text4* const* p = std::get_if<Text4*>(&target);
      if (p == nullptr) {
        fail(line_number_, record,
             quote_for_message(token) + " is not " +
                 (target.index() == 0 ? "an integer " : "a number ") +
                 columns(first, token.size()));
      }
      **p = text4(text);
      continue;
    }
    std::size_t k = col;
    while (k < line.size() && !separator(line[k])) ++k;
    const std::string_view token = line.substr(first, k - first);
    col = k;
    if (int* const* p = std::get_if<int*>(&target)) {
      const Parse result = parse_int(token, false, **p);
      if (result != Parse::ok)
        bad_field(record, token, static_cast<int>(result), "an integer", first, token.size());
    } else if (float* const* p = std::get_if<float*>(&target)) {
      const Parse result = parse_real(token, 0, false, **p);
      if (result != Parse::ok)
        bad_field(record, token, static_cast<int>(result), "a number", first, token.size());
    } else {
      *std::get<Text4*>(target) = text4(token);
    }
  }
}

}  // namespace records
