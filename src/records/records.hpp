// Text records driven by format strings.
//
// A format literal such as "(I4,X,3F10.5,4X,A4,X,A4,2I5)" is compiled once into
// a short list of edit descriptors; the same list then drives writing a
// statement's items to text and reading a line's fields into variables.
// Free-format (list-directed) reads serve the records that have no columns.
#pragma once

#include <array>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace records {

// A unit record whose first rotation element (a11) is this value places no
// unit: it marks where the units of the molecule's second atom set begin.
inline constexpr float second_set_marker = 5.0f;

// One edit descriptor: a kind letter, its width and decimals, how often it
// repeats, and the text of a quoted literal or Hollerith constant.
struct Edit {
  enum class Kind : char {
    I = 'I',      // integer, w columns
    F = 'F',      // real, w columns, d decimals
    A = 'A',      // characters, w columns
    X = 'X',      // w blanks on output, w skipped columns on input
    Slash = '/',  // end of record
    Text = '\'',  // quoted text or nH Hollerith, written as it stands
  };
  Kind kind;
  int w = 0;
  int d = 0;
  int repeat = 1;
  std::string text;
};

// A compiled format. Blanks outside quotes are ignored; texts may be quoted
// with ' or " (a doubled quote inside stands for one).
class Format {
 public:
  // Throws std::invalid_argument for a literal it cannot compile.
  explicit Format(std::string_view literal);
  const std::vector<Edit>& edits() const { return edits_; }
  std::string_view literal() const { return literal_; }

 private:
  std::string literal_;
  std::vector<Edit> edits_;
};

// Where a write statement of a format puts what it writes, for a reader of
// the same layout: each data field (I, F, A; repeats counted one by one) and
// each text, on its record (0 for the first, one more after each '/') from
// its first column (0-based) over its width.
struct Placement {
  bool text = false;  // a text written as it stands, else a data field
  int record = 0;
  std::size_t column = 0;
  std::size_t width = 0;
  std::string literal;  // what a text writes
  std::size_t end() const { return column + width; }
};
// The placements of `f` in order, through its closing parenthesis (a reader
// takes a statement's items from one pass through the format). An A without
// a width counts as A4.
std::vector<Placement> placements(const Format& f);

// Every character value of the system: four characters, blank-padded.
using Text4 = std::array<char, 4>;
Text4 text4(std::string_view s);  // cut or blank-padded to 4
inline std::string_view view(const Text4& t) { return {t.data(), t.size()}; }

// ---- Output ----------------------------------------------------------------

using Item = std::variant<int, float, std::string_view>;

// Appends the records of one write statement to `out`; every record, the
// last included, ends with '\n'. Items run out at the next data descriptor;
// items left at the closing parenthesis start a new record at the beginning
// of the format.
void format_to(std::string& out, const Format& f, std::span<const Item> items);

// The same statement with every field given as the text it was printed as
// (a reader's fields written back): each right-justified in its width, cut
// to it when longer.
void format_printed_to(std::string& out, const Format& f,
                       std::span<const std::string_view> printed);

inline Item to_item(int v) { return v; }
inline Item to_item(float v) { return v; }
inline Item to_item(std::string_view v) { return v; }
inline Item to_item(const Text4& v) { return view(v); }
inline Item to_item(const char* v) { return std::string_view(v); }

template <typename... Ts>
std::string format(const Format& f, const Ts&... items) {
  std::string out;
  if constexpr (sizeof...(Ts) == 0) {
    format_to(out, f, {});
  } else {
    const Item list[] = {to_item(items)...};
    format_to(out, f, list);
  }
  return out;
}

// Field writers, usable on their own by code that formats many values of one
// fixed layout. Both append exactly w characters.
// Iw: right-justified, asterisks when it does not fit.
void put_int(std::string& out, int value, int w);
// Fw.d: correctly rounded to d decimals (an exact tie goes to even); a minus
// sign whenever the sign bit is set; "0" before the point only when there is
// room; NaN / Infinity / -Infinity (Inf / -Inf when the long form does not
// fit) right-justified; asterisks when nothing fits.
void put_real(std::string& out, float value, int w, int d);

// Raised when an output file cannot be created or written.
struct WriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An output file replaced from its start. Writes are buffered; any failure,
// at open, write, flush or close, raises WriteError naming the file.
class OutputFile {
 public:
  explicit OutputFile(std::string name);
  ~OutputFile();  // flushes and closes, never throws
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  template <typename... Ts>
  void write(const Format& f, const Ts&... items) {
    buffer_.clear();
    if constexpr (sizeof...(Ts) == 0) {
      format_to(buffer_, f, {});
    } else {
      const Item list[] = {to_item(items)...};
      format_to(buffer_, f, list);
    }
    write_text(buffer_);
  }
  void write_text(std::string_view text);
  void flush();
  void close();  // flush and close; raises WriteError on failure
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
};

// ---- Input -----------------------------------------------------------------

// Raised by a read that fails. what() reads like
//   zelk8.dat line 14: cell record: "9o.0" is not a number (columns 31-40)
//   zelk8.dat line 15: cell record: end of file
struct ReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Target = std::variant<int*, float*, Text4*>;

// An input file read line by line. A line's end is '\n'; a '\r' before it
// is not part of the record.
class InputFile {
 public:
  // From the file system, read whole at once. A file that is missing,
  // unreadable or no regular file raises ReadError, reading like
  //   zelk8.dat: No such file or directory
  explicit InputFile(std::string name);
  InputFile(std::string name, std::string contents);  // from memory

  // One fixed-format read statement: starts at the next line; `record` names
  // the record in diagnostics ("cell record").
  void read(const Format& f, std::span<const Target> targets, std::string_view record);
  template <typename... Ts>
  void read(std::string_view record, const Format& f, Ts*... targets) {
    if constexpr (sizeof...(Ts) == 0) {
      read(f, {}, record);  // skips a line
    } else {
      const Target list[] = {Target(targets)...};
      read(f, list, record);
    }
  }

  // One free-format (list-directed) read statement: values separated by
  // blanks, commas or line ends; empty lines skipped; a read takes as many
  // lines as it needs and ignores the rest of its last line. Text values
  // stand bare or quoted and are cut or padded to 4 characters. An empty
  // item (a comma first on a line, two commas with only blanks between, a
  // comma with only blanks after it while values are still needed) fails
  // with "empty value"; so do repeat counts and '/', as tokens that are no
  // value.
  void read_list(std::span<const Target> targets, std::string_view record);
  template <typename... Ts>
  void read_list(std::string_view record, Ts*... targets) {
    if constexpr (sizeof...(Ts) == 0) {
      read_list({}, record);  // skips a line
    } else {
      const Target list[] = {Target(targets)...};
      read_list(list, record);
    }
  }

  const std::string& name() const { return name_; }
  int line_number() const { return line_number_; }  // last line taken, 1-based

 private:
  bool next_line(std::string_view& line);
  // The next line of a statement, or the end-of-file failure.
  void take_line(std::string_view& line, std::string_view record);
  [[noreturn]] void fail(int line, std::string_view record, const std::string& what) const;
  [[noreturn]] void bad_field(std::string_view record, std::string_view field, int result,
                              const char* expected, std::size_t first, std::size_t width) const;
  [[noreturn]] static void mismatch(const Format& f, const Edit& e, const Target& target);

  std::string name_;
  std::string contents_;
  std::size_t pos_ = 0;
  int line_number_ = 0;
};

}  // namespace records
