// Tables of numbers as text, one row after another, written from a list of column formats: the
// data points, coefficients and spline table of the results file, the envelope file, and the fit
// report's band and residuals. Each number has printf's bytes (Format.hpp). Large tables are
// formatted a block of rows per thread on parallel::threads() threads while the calling thread
// writes the blocks before, in row order: the bytes are those of the serial loop whatever the
// number of threads.
//
//   const RowFormat row{.columns = {{Conversion::g, 10}, {Conversion::g, 10}}, .after = "\n"};
//   write_rows(out, row, n, [x, y](std::size_t i, double* values) {
//     values[0] = x[i], values[1] = y[i];
//     return true;
//   });
//
// Program-wide state: the threads' blocks of text, kept from one table to the next so that their
// memory is not faulted in again; one table is formatted on threads at a time, and calls from
// several threads take their turns.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Format.hpp"

// A column's conversion: printf's %.*g or %*.*e, or the shortest text that reads back as the
// same double (append_shortest).
enum class Conversion { g, e, shortest };

// A column's format. precision as printf's: g, significant digits (1 to 99); e, digits after the
// point (0 to 98); not used by shortest. width, for e: the number is right-aligned with spaces to
// it (0: no padding).
struct ColumnFormat {
  Conversion conversion;
  int precision;
  int width = 0;
};

inline constexpr std::size_t max_columns = 8, max_separator_bytes = 8;

// A row's text: `before`, then each column's number followed by `between`, the last one by
// `after` instead. 1 to max_columns columns; before, between and after hold at most
// max_separator_bytes bytes each.
struct RowFormat {
  std::vector<ColumnFormat> columns;
  std::string before = "", between = "\t", after = "";
};

// Puts the numbers of row `row` (from 0) into values[0..columns-1] and returns true, or returns
// false to leave the row out: nothing of it is written, not even `before` and `after`.
using RowValues = std::function<bool(std::size_t row, double* values)>;

// Appends rows 0..n-1 to out in order. Above 20,000 rows, blocks of rows are formatted on
// `threads` threads at once (0: parallel::threads()), so `values` must be safe to call
// concurrently for different rows and must not throw; each thread calls a copy of it, which
// should hold what it reads by value (an array's address rather than the vector), so that no
// thread reads memory next to what the caller writes meanwhile. Throws std::invalid_argument for
// a format outside the limits of RowFormat, before writing anything.
void write_rows(OutputBuffer& out, const RowFormat& format, std::size_t n, const RowValues& values,
                unsigned threads = 0);

// Rows that a serial loop computes one after another, written as write_rows writes them, a block
// of 65,536 rows at a time: the loop and the formatting take turns, and the values held are one
// block's whatever the number of rows.
//
//   RowStream rows(out, format);
//   for (...) { double* v = rows.next(); v[0] = ...; v[1] = ...; }
//   rows.finish();
class RowStream {
 public:
  // Throws std::invalid_argument as write_rows does. out must outlive the stream.
  RowStream(OutputBuffer& out, RowFormat format, unsigned threads = 0);

  // Room for the next row's values, one per column, to fill before the next call of next or
  // finish (which may write the rows before it).
  double* next();

  // Writes the rows not written yet. Call it after the last row: the destructor does not.
  void finish();

 private:
  OutputBuffer& out_;
  RowFormat format_;
  unsigned threads_;
  std::size_t rows_ = 0;
  std::unique_ptr<double[]> block_;  // rows_ rows of values, row after row
};
