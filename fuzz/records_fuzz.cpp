// The records engine alone: every read statement of the program, fixed and
// free format, on arbitrary text. The formats are the program's own; only
// the input is arbitrary. Each value read is written back with its format,
// so the field writers see every value the readers can produce.
#include <cstdint>
#include <string>
#include <string_view>

#include "records.hpp"

namespace {

using records::Format;
using records::InputFile;
using records::ReadError;
using records::Text4;

struct Values {
  int i[2] = {};
  float f[12] = {};
  Text4 t[2] = {};
};

constexpr int read_kinds = 7;

// Read statement `kind` on `in`, then its values written back.
void read_one(int kind, InputFile& in, Values& v, std::string& out) {
  static const Format atom("(I4,X,3F10.5,4X,A4,X,A4,2I5)");
  static const Format cell("(7F10.0)");
  static const Format unit("(12F5.0,A4)");
  static const Format parameters("(I5,4F10.5)");
  static const Format map("(9F5.3)");
  static const Format element_echo("(2X,A4,2F10.5)");
  static const Format size_echo("(I5)");
  float* f = v.f;
  switch (kind) {
    case 0:
      in.read("atom record", atom, &v.i[0], &f[0], &f[1], &f[2], &v.t[0], &v.t[1]);
      out += records::format(atom, v.i[0], f[0], f[1], f[2], v.t[0], v.t[1]);
      break;
    case 1:
      in.read("cell record", cell, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
      out += records::format(cell, f[0], f[1], f[2], f[3], f[4], f[5]);
      break;
    case 2:
      in.read("unit record", unit, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8],
              &f[9], &f[10], &f[11], &v.t[0]);
      out += records::format(unit, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9],
                             f[10], f[11], v.t[0]);
      break;
    case 3:
      in.read("run-parameter record", parameters, &v.i[0], &f[0], &f[1], &f[2], &f[3]);
      out += records::format(parameters, v.i[0], f[0], f[1], f[2], f[3]);
      break;
    case 4:
      in.read("map record", map, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8]);
      out += records::format(map, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]);
      break;
    case 5:
      in.read_list("molecule size record", &v.i[0]);
      out += records::format(size_echo, v.i[0]);
      break;
    default:
      in.read_list("element record", &v.t[0], &f[0], &f[1]);
      out += records::format(element_echo, v.t[0], f[0], f[1]);
      break;
  }
}

// Reads with one statement kind, or with the kinds in turn, until the input
// fails or ends; every read takes at least one line, so this ends.
void read_all(std::string_view text, int kind) {
  InputFile in("zelk8.dat", std::string(text));
  Values v;
  std::string out;
  for (int k = 0;; ++k) {
    try {
      read_one(kind < 0 ? k % read_kinds : kind, in, v, out);
    } catch (const ReadError& e) {
      // Every diagnostic names the file and a line.
      if (std::string_view(e.what()).substr(0, 15) != "zelk8.dat line ") __builtin_trap();
      return;
    }
    if (out.size() > (1u << 16)) out.clear();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the statement kind, or all kinds in turn; the rest
  // is the file.
  if (size == 0) return 0;
  const int kind = data[0] % (read_kinds + 1) - 1;
  read_all(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), kind);
  return 0;
}
