// Text output that writes the same bytes as the C library's printf ("C" locale) for the
// conversions the program uses, %.*g, %*.*e and %*d, and numbers in their shortest round-trip form,
// without printf's cost: numbers are appended to a caller's buffer (up to 15 digits in 128-bit
// integer arithmetic where that provably rounds as printf, else by std::to_chars, which does) and
// collected in a large block before each fwrite. Tables of numbers are Table.hpp's.
//
//   OutputBuffer out(f);
//   out.put("# x\ty\n");
//   for (...) { out.g(x, 10); out.put('\t'); out.g(y, 10); out.put('\n'); }
//   if (!out.flush()) ... the write failed (f's error indicator is set too)
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

// Bytes that one append_g, append_e or append_d call may write, for every precision up to 99
// and every width up to this.
inline constexpr int max_number_chars = 128;

// Writes v as printf's "%.*g" with precision (1..99; plain "%g" is 6) from out, and returns the
// end of what it wrote (no terminating zero). out has room for max_number_chars bytes.
char* append_g(char* out, double v, int precision = 6);

// Writes v as printf's "%*.*e" with width (0..max_number_chars) and precision (0..98): the
// number right-aligned with spaces to width. Returns the end; out has max_number_chars of room.
char* append_e(char* out, double v, int width, int precision);

// Writes v in the fewest characters that read back (strtod) as exactly v: the shortest digits
// that round-trip, in plain or exponent notation, whichever is shorter (std::to_chars; inf, -inf,
// nan as printf spells them). Returns the end; out has max_number_chars of room.
char* append_shortest(char* out, double v);

// Writes v as printf's "%*d", right-aligned with spaces to width (0 for "%d", at most
// max_number_chars). Returns the end; out has max_number_chars of room.
char* append_d(char* out, int v, int width = 0);

// Collects text in one block and writes it with fwrite to f when the block fills and on flush. A
// failed write is never forgotten: flush() and ok() report it from then on, and f keeps its
// ferror indicator; what follows a failure is discarded. The destructor writes what is left
// without reporting: call flush() before closing f.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* f, std::size_t capacity = std::size_t{1} << 20);
  ~OutputBuffer() { write_block(); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // At least n free bytes (writing out the block first if needed); fill them, then call
  // advance_to with the end of what was written.
  char* room(std::size_t n);
  void advance_to(char* end) { used_ = static_cast<std::size_t>(end - block_.data()); }

  void put(std::string_view text);
  void put(char c) {
    *room(1) = c;
    ++used_;
  }
  void g(double v, int precision = 6) {
    advance_to(append_g(room(max_number_chars), v, precision));
  }
  void e(double v, int width, int precision) {
    advance_to(append_e(room(max_number_chars), v, width, precision));
  }
  void d(int v, int width = 0) { advance_to(append_d(room(max_number_chars), v, width)); }

  // Writes what is collected and fflushes f; false if this or any earlier write failed.
  bool flush();
  bool ok() const { return ok_; }

 private:
  void write(const char* data, std::size_t size);
  void write_block();
  std::FILE* f_;
  std::vector<char> block_;
  std::size_t used_ = 0;
  bool ok_ = true;
};
