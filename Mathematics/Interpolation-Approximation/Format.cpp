#include "Format.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

namespace {

// Moves [out, end) right to end at out + width, filling the gap with spaces, as printf pads.
char* pad_left(char* out, char* end, int width) {
  std::ptrdiff_t gap = width - (end - out);
  if (gap <= 0) return end;
  std::memmove(out + gap, out, static_cast<std::size_t>(end - out));
  std::memset(out, ' ', static_cast<std::size_t>(gap));
  return end + gap;
}

// Up to 15 significant digits by a short path, used when it provably rounds as printf: the
// value times 10^k with |k| <= 27 (exact in a 64-bit significand) is rounded once in long double,
// so it is within 2^-15 of the exact product below 10^15; only a fraction within 1e-3 of one half
// (a tie, or too close to tell) is left to std::to_chars.
constexpr int max_short_digits = 15;
constexpr long double power10[28] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                     1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                     1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                     1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};

// |v| rounded to P significant digits (1 <= P <= max_short_digits) to nearest: the digits into
// s[0..P-1] and the decimal exponent X of the rounded value. False when the short path cannot
// decide (v zero, subnormal, not finite, too large or small, or near a tie).
bool round_to_digits(double v, int P, char* s, int& X) {
  if (std::numeric_limits<long double>::digits < 64 || !std::isnormal(v)) return false;
  int e;
  std::frexp(v, &e);
  X = ((e - 1) * 78913) >> 18;  // floor((e - 1) log10 2), or one above
  long double a = std::fabs(static_cast<long double>(v)), y;
  for (int tries = 0;; tries++) {
    int k = P - 1 - X;
    if (tries == 3 || k < -27 || k > 27) return false;
    y = k >= 0 ? a * power10[k] : a / power10[-k];
    if (y >= power10[P]) {
      X++;
    } else if (y < power10[P - 1]) {
      X--;
    } else {
      break;
    }
  }
  auto q = static_cast<std::uint64_t>(y);
  long double fraction = y - static_cast<long double>(q);
  if (std::fabs(fraction - 0.5L) < 1e-3L) return false;
  if (fraction > 0.5L && ++q == static_cast<std::uint64_t>(power10[P])) q /= 10, X++;
  for (int i = P - 1; i >= 0; i--, q /= 10) s[i] = static_cast<char>('0' + q % 10);
  return true;
}

char* copy(char* out, const char* s, int n) {
  std::memcpy(out, s, static_cast<std::size_t>(n));
  return out + n;
}

// d[.ddd]e+XX from the digits s[0..n-1], the exponent with at least two digits as printf's.
char* scientific(char* out, const char* s, int n, int X) {
  *out++ = s[0];
  if (n > 1) *out++ = '.', out = copy(out, s + 1, n - 1);
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
  char s[max_short_digits];
  if (P > max_short_digits || !round_to_digits(v, P, s, X))
    return std::to_chars(out, out + max_number_chars, v, std::chars_format::general, precision).ptr;
  if (std::signbit(v)) *out++ = '-';
  int n = P;  // digits left when trailing zeros are dropped, as %g does without '#'
  while (n > 1 && s[n - 1] == '0') n--;
  if (X < -4 || X >= P) return scientific(out, s, n, X);
  if (X < 0) {
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', static_cast<std::size_t>(-X - 1));
    return copy(out - X - 1, s, n);
  }
  out = copy(out, s, X + 1);
  if (n > X + 1) *out++ = '.', out = copy(out, s + X + 1, n - X - 1);
  return out;
}

char* append_e(char* out, double v, int width, int precision) {
  char s[max_short_digits];
  int X;
  if (precision + 1 > max_short_digits || !round_to_digits(v, precision + 1, s, X)) {
    char* end =
        std::to_chars(out, out + max_number_chars, v, std::chars_format::scientific, precision).ptr;
    return pad_left(out, end, width);
  }
  char* start = out;
  if (std::signbit(v)) *out++ = '-';
  return pad_left(start, scientific(out, s, precision + 1, X), width);
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
  char* at = room(text.size());
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
}

void OutputBuffer::write_block() {
  if (ok_ && used_ > 0 && std::fwrite(block_.data(), 1, used_, f_) != used_) ok_ = false;
  used_ = 0;
}

bool OutputBuffer::flush() {
  write_block();
  if (ok_ && std::fflush(f_) != 0) ok_ = false;
  return ok_;
}

unsigned format_threads() {
  if (const char* setting = std::getenv("SPLINEFIT_THREADS")) {
    unsigned threads = 0;
    const char* end = setting + std::strlen(setting);
    auto [stop, error] = std::from_chars(setting, end, threads);
    if (error == std::errc() && stop == end && threads > 0) return threads;
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// Rows one thread formats per round: enough work to outweigh starting a thread, while the text
// held at once stays a few megabytes per thread.
constexpr std::size_t rows_per_block = 32768;
constexpr std::size_t serial_rows = 20000;

// Formats rows [first, last) into text, which grows as needed and keeps its memory across calls;
// returns the length written.
std::size_t format_block(std::vector<char>& text, std::size_t first, std::size_t last,
                         std::size_t max_row_chars, const RowText& row_text) {
  std::size_t used = 0;
  for (std::size_t i = first; i < last; i++) {
    if (text.size() - used < max_row_chars)
      text.resize(std::max(2 * text.size(), used + max_row_chars));
    used = static_cast<std::size_t>(row_text(text.data() + used, i) - text.data());
  }
  return used;
}

}  // namespace

void format_rows(OutputBuffer& out, std::size_t n, std::size_t max_row_chars,
                 const RowText& row_text, unsigned threads) {
  if (threads == 0) threads = format_threads();
  if (threads == 1 || n <= serial_rows) {
    for (std::size_t i = 0; i < n; i++) out.advance_to(row_text(out.room(max_row_chars), i));
    return;
  }
  // Each round gives thread t the rows from first + t * rows_per_block; the calling thread takes
  // block 0, then the blocks are appended in row order.
  std::vector<std::vector<char>> text(threads);
  std::vector<std::size_t> used(threads);
  for (std::size_t first = 0; first < n; first += threads * rows_per_block) {
    auto block = [&](unsigned t) {
      std::size_t begin = std::min(n, first + t * rows_per_block);
      std::size_t end = std::min(n, begin + rows_per_block);
      used[t] = format_block(text[t], begin, end, max_row_chars, row_text);
    };
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; t++) workers.emplace_back(block, t);
    block(0);
    for (std::thread& worker : workers) worker.join();
    for (unsigned t = 0; t < threads; t++) out.put(std::string_view(text[t].data(), used[t]));
  }
}
