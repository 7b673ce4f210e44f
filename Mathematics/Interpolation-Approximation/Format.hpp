// Text output that writes the same bytes as the C library's printf ("C" locale) for the
// conversions the program uses, %.*g, %*.*e and %*d, without printf's cost: numbers are appended
// to a caller's buffer (up to 15 digits in 128-bit integer arithmetic where that provably rounds
// as printf, else by std::to_chars, which does) and collected in a large block before each fwrite.
// Rows of a table can be formatted on several threads.
//
//   OutputBuffer out(f);
//   out.put("# x\ty\n");
//   for (...) { out.g(x, 10); out.put('\t'); out.g(y, 10); out.put('\n'); }
//   if (!out.flush()) ... the write failed (f's error indicator is set too)
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string_view>
#include <thread>
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

// Writes a row's text from out (at most the max_row_chars given with it) and returns its end.
using RowText = std::function<char*(char* out, std::size_t row)>;

// The number of threads format_rows uses for large tables: SPLINEFIT_THREADS from the
// environment when it is a positive integer (1 forces serial output), else every core.
unsigned format_threads();

// The number of threads for `work` units that split into independent pieces: format_threads(),
// at most 64, or 1 below `least` units, where starting threads costs more than they save.
int worker_count(std::size_t work, std::size_t least);

// Runs task(k) for k = 0..count-1, each on a thread of its own (k = 0 on the calling one). A task
// should keep what it writes in its own variables until it ends: a store to a cache line that
// another thread reads or writes moves the line between the cores.
template <class Task>
void run_in_parallel(int count, const Task& task) {
  std::vector<std::thread> threads;
  for (int k = 1; k < count; k++) threads.emplace_back(task, k);
  task(0);
  for (std::thread& thread : threads) thread.join();
}

// Appends row_text(., i) for rows i = 0..n-1 to out, in order: the same bytes as the serial
// loop. Above 20,000 rows, blocks of rows are formatted on `threads` threads (0: format_threads())
// at once, so row_text must be safe to call concurrently for different rows and must not throw;
// it is copied to each thread, and should take what it reads by value (a vector's data() rather
// than the vector), so that no thread reads memory next to what the caller writes meanwhile. The
// threads' blocks of text are kept for the next table, and calls from several threads take
// their turns.
void format_rows(OutputBuffer& out, std::size_t n, std::size_t max_row_chars,
                 const RowText& row_text, unsigned threads = 0);
