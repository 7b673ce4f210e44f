#include "Table.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "Parallel.hpp"

namespace {

// Rows one thread formats per round: enough work to outweigh starting a thread, while the text
// held at once stays a few megabytes per thread. Up to serial_rows, no thread is started.
constexpr std::size_t rows_per_block = 32768;
constexpr std::size_t serial_rows = 20000;
// Rows a RowStream collects before it writes them.
constexpr std::size_t stream_rows = std::size_t{1} << 16;

// A text of up to 8 bytes, written by one 8-byte store of which `size` bytes count: the room
// of a row allows for the rest, which what follows overwrites.
struct Separator {
  std::uint64_t bytes = 0;
  std::size_t size = 0;
  char* put(char* out) const {
    std::memcpy(out, &bytes, sizeof bytes);
    return out + size;
  }
};
static_assert(max_separator_bytes == sizeof(std::uint64_t));

Separator separator(const std::string& text) {
  if (text.size() > max_separator_bytes)
    throw std::invalid_argument("a table row's text \"" + text + "\" has " +
                                std::to_string(text.size()) + " bytes; at most " +
                                std::to_string(max_separator_bytes) + " are allowed");
  Separator s;
  std::memcpy(&s.bytes, text.data(), text.size());
  s.size = text.size();
  return s;
}

// A column as it is written: the number in its format, then the text after it.
struct Cell {
  ColumnFormat format;
  Separator end;
};

// A row format in plain arrays, which each thread copies whole: nothing it reads while it
// formats lies beside what another thread writes.
struct RowWriter {
  Separator before, between, after;
  std::size_t count;
  std::array<Cell, max_columns> cells{};
  int same_g = 0;  // the precision when every column is %.*g with the same one, else 0

  explicit RowWriter(const RowFormat& format)
      : before(separator(format.before)),
        between(separator(format.between)),
        after(separator(format.after)),
        count(format.columns.size()) {
    if (count < 1 || count > max_columns)
      throw std::invalid_argument("a table row has " + std::to_string(count) +
                                  " columns; it must have 1 to " + std::to_string(max_columns));
    for (std::size_t k = 0; k < count; k++)
      cells[k] = {format.columns[k], k + 1 < count ? between : after};
    const ColumnFormat& first = format.columns[0];
    if (first.conversion == Conversion::g &&
        std::all_of(format.columns.begin(), format.columns.end(), [&](const ColumnFormat& c) {
          return c.conversion == Conversion::g && c.precision == first.precision;
        }))
      same_g = first.precision;
  }

  // The room one row is written in: each number may take max_number_chars bytes, and each text
  // is stored as 8 bytes.
  std::size_t max_chars() const {
    return max_separator_bytes + count * (max_number_chars + max_separator_bytes);
  }

  char* write(char* out, const double* values) const {
    out = before.put(out);
    // Every column %.*g of one precision, as in all the program's long tables: a loop that makes
    // no choice per number (a tenth of the instructions that a row costs besides its numbers).
    if (same_g > 0) {
      const std::size_t last = count - 1;
      for (std::size_t k = 0; k < last; k++) out = between.put(append_g(out, values[k], same_g));
      return after.put(append_g(out, values[last], same_g));
    }
    for (std::size_t k = 0; k < count; k++) {
      const Cell& cell = cells[k];
      switch (cell.format.conversion) {
        case Conversion::g:
          out = append_g(out, values[k], cell.format.precision);
          break;
        case Conversion::e:
          out = append_e(out, values[k], cell.format.width, cell.format.precision);
          break;
        case Conversion::shortest:
          out = append_shortest(out, values[k]);
          break;
      }
      out = cell.end.put(out);
    }
    return out;
  }
};

// A thread's text of one block of rows. It grows without clearing what it gains, and the blocks
// are kept from one table to the next: fresh memory costs a page fault every 4 KB, about as much
// as formatting the text that fills it.
struct TextBlock {
  std::unique_ptr<char[]> data;
  std::size_t capacity = 0, used = 0;
};

// The two sets of blocks of the rounds (below), `threads` blocks each; one table at a time.
std::mutex one_table_at_a_time;
std::vector<TextBlock> kept;

// Formats rows [first, last) into text with row_text(out, row), which writes a row from out and
// returns its end. The length so far stays in a local variable: the blocks of the threads lie
// side by side, and a store to a cache line that another core writes too would move the line
// between them at every row.
template <class RowText>
void format_block(TextBlock& text, std::size_t first, std::size_t last, std::size_t max_row_chars,
                  const RowText& row_text) {
  std::size_t used = 0, capacity = text.capacity;
  char* at = text.data.get();
  for (std::size_t i = first; i < last; i++) {
    if (capacity - used < max_row_chars) {
      capacity = std::max(2 * capacity, used + max_row_chars);
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      if (used > 0) std::memcpy(grown.get(), at, used);
      text.data = std::move(grown);
      text.capacity = capacity;
      at = text.data.get();
    }
    used = static_cast<std::size_t>(row_text(at + used, i) - at);
  }
  text.used = used;
}

// Appends row_text's rows 0..n-1 to out, in order, on `threads` threads (0: parallel::threads())
// above serial_rows rows; row_text is copied to each thread.
template <class RowText>
void format_rows(OutputBuffer& out, std::size_t n, std::size_t max_row_chars,
                 const RowText& row_text, unsigned threads) {
  if (threads == 0) threads = parallel::threads();
  if (threads == 1 || n <= serial_rows) {
    for (std::size_t i = 0; i < n; i++) out.advance_to(row_text(out.room(max_row_chars), i));
    return;
  }
  // Rounds of one block of rows per thread, the text of each round in one of two sets of
  // blocks: while the threads format a round, the calling thread appends the round before, in
  // row order, so that writing overlaps formatting.
  std::lock_guard<std::mutex> hold(one_table_at_a_time);
  if (kept.size() < 2 * threads) kept.resize(2 * threads);
  const std::size_t round_rows = threads * rows_per_block;
  auto start_round = [&](std::size_t first, unsigned side) {
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; t++) {
      std::size_t begin = std::min(n, first + t * rows_per_block);
      std::size_t end = std::min(n, begin + rows_per_block);
      TextBlock& text = kept[side * threads + t];
      text.used = 0;
      // Each thread formats with its own copy of row_text, made on its own stack: the one passed
      // in, and the thread's start-up object, lie among memory that the calling thread writes
      // meanwhile, and a cache line written on one core and read on another travels between
      // them at every row.
      if (begin < end)
        workers.emplace_back([&text, begin, end, max_row_chars, &row_text] {
          const RowText own = row_text;
          format_block(text, begin, end, max_row_chars, own);
        });
    }
    return workers;
  };
  std::vector<std::thread> running = start_round(0, 0);
  for (std::size_t first = 0; first < n; first += round_rows) {
    const unsigned side = static_cast<unsigned>(first / round_rows % 2);
    for (std::thread& worker : running) worker.join();
    running.clear();
    if (first + round_rows < n) running = start_round(first + round_rows, 1 - side);
    for (unsigned t = 0; t < threads; t++) {  // (a thread past the last row has no text)
      const TextBlock& text = kept[side * threads + t];
      if (text.used > 0) out.put(std::string_view(text.data.get(), text.used));
    }
  }
}

}  // namespace

void write_rows(OutputBuffer& out, const RowFormat& format, std::size_t n, const RowValues& values,
                unsigned threads) {
  const RowWriter writer(format);
  format_rows(
      out, n, writer.max_chars(),
      [writer, values](char* text, std::size_t row) {
        double row_values[max_columns];
        return values(row, row_values) ? writer.write(text, row_values) : text;
      },
      threads);
}

RowStream::RowStream(OutputBuffer& out, RowFormat format, unsigned threads)
    : out_(out), format_(std::move(format)), threads_(threads) {
  RowWriter{format_};  // refuses a format outside the limits
  block_ = std::make_unique_for_overwrite<double[]>(stream_rows * format_.columns.size());
}

double* RowStream::next() {
  if (rows_ == stream_rows) finish();
  return block_.get() + rows_++ * format_.columns.size();
}

void RowStream::finish() {
  const RowWriter writer(format_);
  format_rows(
      out_, rows_, writer.max_chars(),
      [writer, block = block_.get()](char* text, std::size_t row) {
        return writer.write(text, block + row * writer.count);
      },
      threads_);
  rows_ = 0;
}
