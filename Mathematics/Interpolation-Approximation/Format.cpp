#include "Format.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Moves [out, end) right to end at out + width, filling the gap with spaces, as printf pads.
char* pad_left(char* out, char* end, int width) {
  std::ptrdiff_t gap = width - (end - out);
  if (gap <= 0) return end;
  std::memmove(out + gap, out, static_cast<std::size_t>(end - out));
  std::memset(out, ' ', static_cast<std::size_t>(gap));
  return end + gap;
}

// Up to 15 significant digits by a short path in integer arithmetic; ties and the values it
// does not take go to std::to_chars.
constexpr int max_short_digits = 15;
constexpr auto power10 = [] {
  std::array<std::uint64_t, max_short_digits + 2> powers{1};
  for (std::size_t i = 1; i < powers.size(); i++) powers[i] = 10 * powers[i - 1];
  return powers;
}();

// The eight digits of q < 10^8, most significant first, as the bytes of a little-endian word:
// the halves, quarters and digits are split in the word's lanes at once, each division by 100 or
// 10 a multiplication and a shift that are exact in that range.
static_assert(std::endian::native == std::endian::little, "digits assembled little-endian");
inline std::uint64_t eight_digits(std::uint64_t q) {
  std::uint64_t v = q / 10000 | q % 10000 << 32;
  std::uint64_t hundreds = (v * 10486 >> 20) & 0x0000007F0000007F;
  v = hundreds | (v - hundreds * 100) << 16;
  std::uint64_t tens = (v * 103 >> 10) & 0x000F000F000F000F;
  return (tens | (v - tens * 10) << 8) | 0x3030303030303030;
}

// The two digits of each number below 100, as the bytes of a little-endian 16-bit word.
constexpr auto digit_pairs = [] {
  std::array<std::uint16_t, 100> pairs{};
  for (int i = 0; i < 100; i++)
    pairs[static_cast<std::size_t>(i)] =
        static_cast<std::uint16_t>(('0' + i / 10) | ('0' + i % 10) << 8);
  return pairs;
}();

__extension__ typedef unsigned __int128 uint128;

// 10^k for |k| up to the range of doubles: a 128-bit significand with its top bit set, rounded
// down, and a binary exponent, 10^k = (significand + f) * 2^exponent with 0 <= f < 1. Built at
// compile time in 192 bits by repeated multiplication and division by ten, each step truncated:
// after 330 steps the error is far below the last of the 128 bits kept.
struct Power10 {
  uint128 significand;
  int exponent;
};
constexpr int min_power = -330, max_power = 330;

constexpr auto powers_of_ten = [] {
  std::array<Power10, max_power - min_power + 1> table{};
  auto keep = [&](int k, const std::uint64_t(&w)[3], int exponent) {
    table[static_cast<std::size_t>(k - min_power)] = {uint128{w[0]} << 64 | w[1], exponent + 64};
  };
  std::uint64_t w[3] = {std::uint64_t{1} << 63, 0, 0};  // 10^0 = 2^191 * 2^-191
  int exponent = -191;
  keep(0, w, exponent);
  for (int k = 1; k <= max_power; k++) {  // times ten; the carry word shifted back in
    std::uint64_t carry = 0;
    for (int i = 2; i >= 0; i--) {
      uint128 p = uint128{w[i]} * 10 + carry;
      w[i] = static_cast<std::uint64_t>(p);
      carry = static_cast<std::uint64_t>(p >> 64);
    }
    int shift = std::bit_width(carry);
    w[2] = w[2] >> shift | w[1] << (64 - shift);
    w[1] = w[1] >> shift | w[0] << (64 - shift);
    w[0] = w[0] >> shift | carry << (64 - shift);
    exponent += shift;
    keep(k, w, exponent);
  }
  w[0] = std::uint64_t{1} << 63, w[1] = w[2] = 0, exponent = -191;
  for (int k = -1; k >= min_power; k--) {  // over ten; shifted left until the top bit is set
    uint128 rest = 0;
    for (int i = 0; i <= 2; i++) {
      uint128 current = rest << 64 | w[i];
      w[i] = static_cast<std::uint64_t>(current / 10);
      rest = current % 10;
    }
    int shift = std::countl_zero(w[0]);
    w[0] = w[0] << shift | w[1] >> (64 - shift);
    w[1] = w[1] << shift | w[2] >> (64 - shift);
    w[2] <<= shift;
    exponent -= shift;
    keep(k, w, exponent);
  }
  return table;
}();

// The short path's digits: the text of up to sixteen in one 128-bit integer, the first digit in
// its lowest byte (the order of bytes in memory), zero bytes after the last.
struct Digits {
  uint128 text;
  int count;
};

// |v| rounded to P significant digits (1 <= P <= max_short_digits) to nearest, and the decimal
// exponent X of the rounded value. |v| = m 2^e with m of 53 bits is multiplied by 10^(P-1-X) in
// 128-bit integers, which leaves at least 61 bits below the point with an error of a few units
// in the last of them; the top 64 of those bits decide the rounding. A fraction within 2^-52 of
// one half (a tie, or too close to tell) is left to the exact path, as are zero, subnormals,
// infinities and NaNs: false then.
bool round_to_digits(double v, int P, Digits& digits, int& X) {
  auto bits = std::bit_cast<std::uint64_t>(v);
  int biased = static_cast<int>(bits >> 52 & 0x7ff);
  if (biased == 0 || biased == 0x7ff) return false;
  std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
  int e = biased - 1075;
  X = ((e + 52) * 78913) >> 18;  // floor(log10 |v|), or one below
  std::uint64_t q, fraction;
  for (int tries = 0;; tries++) {
    if (tries == 3) return false;
    const Power10& p = powers_of_ten[static_cast<std::size_t>(P - 1 - X - min_power)];
    uint128 y = uint128{m} * static_cast<std::uint64_t>(p.significand >> 64) +
                (uint128{m} * static_cast<std::uint64_t>(p.significand) >> 64);
    // |v| 10^k = y 2^-shift with 61 <= shift <= 121, that is (y 2^3) 2^-(64 + s), 0 <= s <= 60.
    y <<= 3;
    const int s = -(e + p.exponent + 64) + 3 - 64;
    const auto high = static_cast<std::uint64_t>(y >> 64), low = static_cast<std::uint64_t>(y);
    q = high >> s;
    fraction = high << 1 << (63 - s) | low >> s;
    if (q >= power10[static_cast<std::size_t>(P)]) {
      X++;
    } else if (q < power10[static_cast<std::size_t>(P - 1)]) {
      X--;
    } else {
      break;
    }
  }
  constexpr std::uint64_t half = std::uint64_t{1} << 63, doubt = std::uint64_t{1} << 12;
  if (fraction - half + doubt < 2 * doubt) return false;
  q += fraction > half;
  if (q == power10[static_cast<std::size_t>(P)]) q /= 10, X++;
  if (P <= 8) {  // the last P of eight digits, moved down to the lowest bytes
    digits = {eight_digits(q) >> (8 * (8 - P)), P};
    return true;
  }
  // The last eight digits after the P - 8 before them; up to two of those from the table.
  const int s = 8 * (P - 8);  // 8..56 bits
  const std::uint64_t low = eight_digits(q % 100000000), top = q / 100000000;
  const std::uint64_t high = P <= 10 ? std::uint64_t{digit_pairs[top]} << 48 : eight_digits(top);
  digits = {uint128{low >> (64 - s)} << 64 | low << s | high >> (64 - s), P};
  return true;
}

// The count of digits without the zeros that end them, as %g keeps them without '#': the
// bytes equal to '0' at the top of the text, found without a loop (the first digit is not 0).
constexpr auto zeros_of_count = [] {  // count '0's from the lowest byte up
  std::array<uint128, 17> zeros{};
  for (std::size_t n = 1; n <= 16; n++) zeros[n] = zeros[n - 1] << 8 | '0';
  return zeros;
}();

int without_trailing_zeros(const Digits& digits) {
  uint128 differ = digits.text ^ zeros_of_count[static_cast<std::size_t>(digits.count)];
  auto high = static_cast<std::uint64_t>(differ >> 64), low = static_cast<std::uint64_t>(differ);
  return 16 - ((high != 0 ? std::countl_zero(high) : 64 + std::countl_zero(low)) >> 3);
}

// The digits from the k-th on (k < 16), as 16 bytes at out: no call, no loop; the bytes beyond
// the digits are room that what follows overwrites (out has max_number_chars of it).
void store(char* out, const Digits& digits, int k = 0) {
  uint128 text = digits.text >> (8 * k);
  std::memcpy(out, &text, 16);
}

// d[.ddd]e+XX from the first n digits, the exponent with at least two digits as printf's.
char* scientific(char* out, const Digits& digits, int n, int X) {
  store(out, digits);
  if (n > 1)
    out[1] = '.', store(out + 2, digits, 1), out += n + 1;
  else
    out += 1;
  *out++ = 'e';
  *out++ = X < 0 ? '-' : '+';
  X = std::abs(X);
  if (X >= 100) *out++ = static_cast<char>('0' + X / 100);
  *out++ = static_cast<char>('0' + X / 10 % 10);
  *out++ = static_cast<char>('0' + X % 10);
  return out;
}

}  // namespace

// Beyond the short path: libstdc++'s to_chars with a precision uses Ryu printf, exact as glibc's
// printf, and spells -0, inf, -inf, nan and -nan (sign bit set) as glibc does; test_format checks
// both paths against snprintf.
char* append_g(char* out, double v, int precision) {
  int P = std::max(precision, 1), X;
  Digits digits;
  if (P > max_short_digits || !round_to_digits(v, P, digits, X))
    return std::to_chars(out, out + max_number_chars, v, std::chars_format::general, precision).ptr;
  *out = '-';
  out += std::signbit(v);
  const int n = without_trailing_zeros(digits);
  if (X < -4 || X >= P) return scientific(out, digits, n, X);
  if (X < 0) {  // "0." and -X - 1 zeros, at most 3, before the digits
    std::memcpy(out, "0.000", 5);
    store(out + 1 - X, digits);
    return out + 1 - X + n;
  }
  store(out, digits);  // the whole part, then the point and the rest unless n ends there
  if (n <= X + 1) return out + X + 1;
  out[X + 1] = '.';
  store(out + X + 2, digits, X + 1);
  return out + n + 1;
}

char* append_e(char* out, double v, int width, int precision) {
  Digits digits;
  int X;
  if (precision + 1 > max_short_digits || !round_to_digits(v, precision + 1, digits, X)) {
    char* end =
        std::to_chars(out, out + max_number_chars, v, std::chars_format::scientific, precision).ptr;
    return pad_left(out, end, width);
  }
  char* start = out;
  *out = '-';
  out += std::signbit(v);
  return pad_left(start, scientific(out, digits, precision + 1, X), width);
}

char* append_shortest(char* out, double v) {
  return std::to_chars(out, out + max_number_chars, v).ptr;
}

char* append_d(char* out, int v, int width) {
  return pad_left(out, std::to_chars(out, out + max_number_chars, v).ptr, width);
}

OutputBuffer::OutputBuffer(std::FILE* f, std::size_t capacity)
    : f_(f), block_(std::max<std::size_t>(capacity, max_number_chars)) {}

char* OutputBuffer::room(std::size_t n) {
  if (block_.size() - used_ < n) {
    write_block();
    if (block_.size() < n) block_.resize(n);
  }
  return block_.data() + used_;
}

void OutputBuffer::put(std::string_view text) {
  if (text.size() >= block_.size()) {  // written as it is, after what was collected before it
    write_block();
    write(text.data(), text.size());
    return;
  }
  char* at = room(text.size());
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
}

void OutputBuffer::write(const char* data, std::size_t size) {
  if (ok_ && size > 0 && std::fwrite(data, 1, size, f_) != size) ok_ = false;
}

void OutputBuffer::write_block() {
  write(block_.data(), used_);
  used_ = 0;
}

bool OutputBuffer::flush() {
  write_block();
  if (ok_ && std::fflush(f_) != 0) ok_ = false;
  return ok_;
}
