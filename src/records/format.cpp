// Format literals compiled into edit descriptors, and the writing side:
// field writers for Iw and Fw.d and the statement driver format_to.
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "records.hpp"

namespace records {

namespace {

// Widths, decimals and repeat counts above this are refused: no real layout
// comes near it, and it keeps every field a bounded amount of memory.
constexpr int max_count = 1'000'000;

class Compiler {
 public:
  explicit Compiler(std::string_view literal) : s_(literal) {}

  std::vector<Edit> run() {
    std::vector<Edit> edits;
    skip_blanks();
    if (at_end() || s_[pos_] != '(') fail("expected '(' at the start");
    ++pos_;
    for (;;) {
      skip_blanks();
      if (at_end()) fail("missing ')'");
      const char c = s_[pos_];
      if (c == ')') {
        ++pos_;
        skip_blanks();
        if (!at_end()) fail("text after the closing ')'");
        return edits;
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      edits.push_back(descriptor());
    }
  }

 private:
  bool at_end() const { return pos_ >= s_.size(); }
  void skip_blanks() {
    while (!at_end() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  [[noreturn]] void fail(const std::string& why) const {
    throw std::invalid_argument("format \"" + std::string(s_) + "\": " + why + " (column " +
                                std::to_string(pos_ + 1) + ")");
  }

  // Digits with blanks between them ignored; -1 when no digit stands here.
  int number() {
    skip_blanks();
    if (at_end() || !is_digit(s_[pos_])) return -1;
    long long n = 0;
    while (!at_end() && is_digit(s_[pos_])) {
      n = n * 10 + (s_[pos_] - '0');
      if (n > max_count) fail("number too large");
      ++pos_;
      skip_blanks();
    }
    return static_cast<int>(n);
  }

  int required_number(const char* what) {
    const int n = number();
    if (n < 0) fail(std::string("missing ") + what);
    return n;
  }

  Edit descriptor() {
    const int count = number();
    if (count == 0) fail("a count of zero");
    if (at_end()) fail("missing ')'");
    const char c = s_[pos_];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    Edit e{Edit::Kind::X, 0, 0, 1, {}};
    switch (upper) {
      case '/':
        ++pos_;
        e.kind = Edit::Kind::Slash;
        e.repeat = count > 0 ? count : 1;
        return e;
      case '\'':
      case '"':
        if (count > 0) fail("a count before quoted text");
        e.kind = Edit::Kind::Text;
        e.text = quoted(c);
        return e;
      case 'H': {
        // nH: the n characters after the H are taken as they stand, blanks
        // and commas included.
        if (count < 0) fail("H without a character count");
        ++pos_;
        if (s_.size() - pos_ < static_cast<std::size_t>(count))
          fail("Hollerith text runs past the end");
        e.kind = Edit::Kind::Text;
        e.text = std::string(s_.substr(pos_, count));
        pos_ += count;
        return e;
      }
      case 'X':
        ++pos_;
        e.kind = Edit::Kind::X;
        e.w = count > 0 ? count : 1;
        return e;
      case 'I':
        ++pos_;
        e.kind = Edit::Kind::I;
        e.w = required_number("width after I");
        if (e.w == 0) fail("a width of zero");
        skip_blanks();
        if (!at_end() && s_[pos_] == '.') fail("Iw.m is not supported");
        break;
      case 'F':
        ++pos_;
        e.kind = Edit::Kind::F;
        e.w = required_number("width after F");
        if (e.w == 0) fail("a width of zero");
        skip_blanks();
        if (at_end() || s_[pos_] != '.') fail("missing '.d' after Fw");
        ++pos_;
        e.d = required_number("decimals after Fw.");
        break;
      case 'A': {
        // A without a width takes the length of the item (4 on input).
        ++pos_;
        e.kind = Edit::Kind::A;
        const int w = number();
        if (w == 0) fail("a width of zero");
        e.w = w < 0 ? 0 : w;
        break;
      }
      case '(':
        fail("nested parentheses are not supported");
      default:
        fail(std::string("unknown edit descriptor '") + c + "'");
    }
    e.repeat = count > 0 ? count : 1;
    return e;
  }

  // A text quoted with `q`; a doubled quote inside stands for one.
  std::string quoted(char q) {
    std::string text;
    ++pos_;
    for (;;) {
      if (at_end()) fail("unterminated quoted text");
      const char c = s_[pos_++];
      if (c != q) {
        text += c;
      } else if (!at_end() && s_[pos_] == q) {
        text += q;
        ++pos_;
      } else {
        return text;
      }
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

void fill(std::string& out, char c, int n) {
  if (n > 0) out.append(static_cast<std::size_t>(n), c);
}

// Right-justifies `text` in w columns, or asterisks when it is longer.
void put_justified(std::string& out, std::string_view text, int w) {
  if (static_cast<int>(text.size()) > w) {
    fill(out, '*', w);
    return;
  }
  fill(out, ' ', w - static_cast<int>(text.size()));
  out.append(text);
}

// Aw output: a shorter value is right-justified, a longer one keeps its
// leftmost w characters; A without a width writes the value as it stands.
void put_text(std::string& out, std::string_view value, int w) {
  if (w == 0) {
    out.append(value);
  } else if (static_cast<int>(value.size()) >= w) {
    out.append(value.substr(0, w));
  } else {
    fill(out, ' ', w - static_cast<int>(value.size()));
    out.append(value);
  }
}

[[noreturn]] void mismatch(const Format& f, const Edit& e, const Item& item) {
  static const char* const names[] = {"an integer", "a real", "a text"};
  throw std::logic_error("format \"" + std::string(f.literal()) + "\": " + names[item.index()] +
                         " item at the " + static_cast<char>(e.kind) + std::to_string(e.w) +
                         " descriptor");
}

}  // namespace

Format::Format(std::string_view literal) : literal_(literal), edits_(Compiler(literal).run()) {}

Text4 text4(std::string_view s) {
  Text4 t{' ', ' ', ' ', ' '};
  for (std::size_t i = 0; i < t.size() && i < s.size(); ++i) t[i] = s[i];
  return t;
}

void put_int(std::string& out, int value, int w) {
  if (w <= 0) return;
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  put_justified(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), w);
}

void put_real(std::string& out, float value, int w, int d) {
  if (w <= 0) return;
  // Non-finite values first, before any digit logic.
  if (std::isnan(value)) {
    put_justified(out, "NaN", w);
    return;
  }
  const bool negative = std::signbit(value);
  if (std::isinf(value)) {
    const std::string_view full = negative ? "-Infinity" : "Infinity";
    const std::string_view brief = negative ? "-Inf" : "Inf";
    put_justified(out, static_cast<int>(full.size()) <= w ? full : brief, w);
    return;
  }
  // The point and d decimals alone must fit.
  if (d < 0 || d >= w) {
    fill(out, '*', w);
    return;
  }

  // Exact decimal digits, rounded once to d places (an exact tie to even).
  // A float has at most 149 fractional binary digits, so its exact decimal
  // expansion ends within 149 places; further decimals are zeros.
  constexpr int exact_places = 149;
  const int places = d < exact_places ? d : exact_places;
  char buf[64 + exact_places];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, places);
  const std::string_view digits(buf, static_cast<std::size_t>(r.ptr - buf));
  const std::size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);

  // Count the parts: sign, integer digits, point, fraction. A zero integer
  // part is optional unless there is no fraction to show.
  const bool zero_whole = whole == "0";
  if (zero_whole && d > 0) whole = {};
  const int length = (negative ? 1 : 0) + static_cast<int>(whole.size()) + 1 + d;
  if (length > w) {
    fill(out, '*', w);
    return;
  }
  const bool leading_zero = zero_whole && whole.empty() && length < w;
  fill(out, ' ', w - length - (leading_zero ? 1 : 0));
  if (negative) out += '-';
  if (leading_zero) out += '0';
  out.append(whole);
  out += '.';
  out.append(fraction);
  fill(out, '0', d - places);
}

namespace {

// Drives one write statement of `count` items; put(e, k) writes item k with
// the data descriptor e. Each data descriptor takes the next item; X, '/'
// and texts act as they are passed. When the items are used up, the record
// ends at the next data descriptor (or at the closing parenthesis), and
// blanks of X descriptors not followed by anything are dropped. When items
// remain at the closing parenthesis, the record ends and the format is used
// again from its start on a new record.
template <class Put>
void drive(std::string& out, const Format& f, std::size_t count, Put put) {
  const std::vector<Edit>& edits = f.edits();
  std::size_t next = 0;
  std::size_t blanks = 0;  // X blanks not yet written
  for (;;) {
    bool any_data = false;
    for (const Edit& e : edits) {
      for (int r = 0; r < e.repeat; ++r) {
        switch (e.kind) {
          case Edit::Kind::I:
          case Edit::Kind::F:
          case Edit::Kind::A:
            any_data = true;
            if (next == count) {
              out += '\n';
              return;
            }
            out.append(blanks, ' ');
            blanks = 0;
            put(e, next++);
            break;
          case Edit::Kind::X:
            blanks += static_cast<std::size_t>(e.w);
            break;
          case Edit::Kind::Slash:
            out += '\n';
            blanks = 0;
            break;
          case Edit::Kind::Text:
            if (!e.text.empty()) {
              out.append(blanks, ' ');
              blanks = 0;
              out += e.text;
            }
            break;
        }
      }
    }
    if (next == count) {
      out += '\n';
      return;
    }
    if (!any_data) {
      throw std::logic_error("format \"" + std::string(f.literal()) +
                             "\" has no data descriptor for " + std::to_string(count - next) +
                             " items");
    }
    out += '\n';
    blanks = 0;
  }
}

}  // namespace

void format_to(std::string& out, const Format& f, std::span<const Item> items) {
  drive(out, f, items.size(), [&](const Edit& e, std::size_t k) {
    const Item& item = items[k];
    if (e.kind == Edit::Kind::I) {
      const int* v = std::get_if<int>(&item);
      if (v == nullptr) mismatch(f, e, item);
      put_int(out, *v, e.w);
    } else if (e.kind == Edit::Kind::F) {
      const float* v = std::get_if<float>(&item);
      if (v == nullptr) mismatch(f, e, item);
      put_real(out, *v, e.w, e.d);
    } else {
      const std::string_view* v = std::get_if<std::string_view>(&item);
      if (v == nullptr) mismatch(f, e, item);
      put_text(out, *v, e.w);
    }
  });
}

void format_printed_to(std::string& out, const Format& f,
                       std::span<const std::string_view> printed) {
  drive(out, f, printed.size(),
        [&](const Edit& e, std::size_t k) { put_text(out, printed[k], e.w); });
}

std::vector<Placement> placements(const Format& f) {
  std::vector<Placement> out;
  int record = 0;
  std::size_t column = 0;
  for (const Edit& e : f.edits()) {
    for (int r = 0; r < e.repeat; ++r) {
      switch (e.kind) {
        case Edit::Kind::Slash:
          ++record;
          column = 0;
          break;
        case Edit::Kind::X:
          column += static_cast<std::size_t>(e.w);
          break;
        case Edit::Kind::Text:
          out.push_back({true, record, column, e.text.size(), e.text});
          column += e.text.size();
          break;
        case Edit::Kind::I:
        case Edit::Kind::F:
        case Edit::Kind::A: {
          const std::size_t w = e.kind == Edit::Kind::A && e.w == 0 ? 4 : e.w;
          out.push_back({false, record, column, w, {}});
          column += w;
          break;
        }
      }
    }
  }
  return out;
}

}  // namespace records
