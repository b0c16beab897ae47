// Fw.d output for the long coordinate and table listings: the same
// characters as records::put_real, without its general digit generation.
//
// A finite float is m * 2^e with m < 2^24. For d <= 9, m * 10^d is below
// 2^54, so |value| * 10^d is an integer shifted by e, and rounding it to an
// integer (an exact tie to even) is a shift and a look at the bits shifted
// out. Values with e > 8 (|value| of 2^32 and more), non-finite values, and
// fields that do not fit go to records::put_real.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "records.hpp"

namespace zelk8 {

// Writes exactly w characters at `at` (room for them is the caller's) and
// returns true, or writes nothing and returns false when the value needs
// records::put_real.
inline bool fixed_field(char* at, float value, int w, int d) {
  constexpr std::uint64_t powers[] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};
  if (d < 0 || d > 9 || d >= w) return false;
  const std::uint32_t b = std::bit_cast<std::uint32_t>(value);
  const bool negative = (b >> 31) != 0;
  const int biased = int((b >> 23) & 0xFF);
  if (biased == 0xFF) return false;  // Inf, NaN
  std::uint64_t m = b & 0x7FFFFF;
  int e;
  if (biased == 0) {
    e = -149;  // subnormal
  } else {
    m |= 0x800000;
    e = biased - 150;
  }
  if (e > 8) return false;
  const std::uint64_t scaled = m * powers[d];
  std::uint64_t q;
  if (e >= 0) {
    q = scaled << e;
  } else if (-e >= 55) {
    q = 0;  // below half a unit of the last decimal: scaled < 2^54 <= half
  } else {
    const int shift = -e;
    q = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  }
  const std::uint64_t whole = q / powers[d];
  std::uint64_t fraction = q % powers[d];

  char digits[24];
  int whole_length = 0;
  if (whole != 0) {
    for (std::uint64_t v = whole; v != 0; v /= 10) digits[whole_length++] = char('0' + v % 10);
  }
  // Sign, integer digits, point, decimals; a zero integer part is written
  // only where there is room for it, or when there are no decimals.
  int length = (negative ? 1 : 0) + whole_length + 1 + d;
  const bool zero = whole == 0 && (d == 0 || length < w);
  if (zero) ++length;
  if (length > w) return false;
  char* p = at;
  for (int k = length; k < w; ++k) *p++ = ' ';
  if (negative) *p++ = '-';
  if (zero) *p++ = '0';
  for (int k = whole_length - 1; k >= 0; --k) *p++ = digits[k];
  *p++ = '.';
  for (int k = d - 1; k >= 0; --k) {
    p[k] = char('0' + fraction % 10);
    fraction /= 10;
  }
  return true;
}

// Appends the Fw.d field of `value` to `out`, as records::put_real does.
inline void put_fixed(std::string& out, float value, int w, int d) {
  char field[64];
  if (w <= int(sizeof field) && fixed_field(field, value, w, d)) {
    out.append(field, std::size_t(w));
  } else {
    records::put_real(out, value, w, d);
  }
}

}  // namespace zelk8
