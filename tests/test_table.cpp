// Tables of tests/data/table_rows.txt written through a RowStream on 3 threads, across its blocks,
// against the same rows made with snprintf one after another. (That a table comes out the same on
// one thread and on several, the program's run of 10^5 points on 1 and 3 threads shows too.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "Table.hpp"
#include "table.hpp"

namespace {

// Row i's number in column k.
double value(std::size_t i, std::size_t k) {
  return std::ldexp(std::sin(0.001 * static_cast<double>(i) + static_cast<double>(k)),
                    10 * static_cast<int>(k) - 12);
}

// A quoted text of the table, with \n, \r and \t.
std::string unquoted(const std::string& cell) {
  std::string text;
  for (std::size_t k = 1; k + 1 < cell.size(); k++) {
    const char code = cell[k] == '\\' ? cell[++k] : 0;
    text += code == 'n' ? '\n' : code == 'r' ? '\r' : code == 't' ? '\t' : cell[k];
  }
  return text;
}

struct Case {
  std::string line;
  RowFormat format;
  std::size_t rows;
  std::string expected;  // by snprintf
};

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const Row& row : table("table_rows.txt")) {
    Case c{row[0] + " | " + row[4], {}, std::stoul(row[4]), ""};
    std::istringstream words(row[0]);
    for (std::string word; words >> word;) {
      const std::size_t point = word.find('.');
      c.format.columns.push_back({word[0] == 'g' ? Conversion::g : Conversion::e,
                                  std::stoi(word.substr(1, point - 1)),
                                  point < word.size() ? std::stoi(word.substr(point + 1)) : 0});
    }
    c.format.before = unquoted(row[1]), c.format.between = unquoted(row[2]);
    c.format.after = unquoted(row[3]);
    for (std::size_t i = 0; i < c.rows; i++) {
      c.expected += c.format.before;
      for (std::size_t k = 0; k < c.format.columns.size(); k++) {
        const ColumnFormat& column = c.format.columns[k];
        char number[160];
        const int n =
            column.conversion == Conversion::g
                ? std::snprintf(number, sizeof number, "%.*g", column.precision, value(i, k))
                : std::snprintf(number, sizeof number, "%*.*e", column.width, column.precision,
                                value(i, k));
        c.expected.append(number, static_cast<std::size_t>(n));
        c.expected += k + 1 < c.format.columns.size() ? c.format.between : c.format.after;
      }
    }
    all.push_back(std::move(c));
  }
  return all;
}

// What `write` puts in an OutputBuffer of a small block (so that a block of rows is written past
// it), as the file receives it.
std::string written(const std::function<void(OutputBuffer&)>& write) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  {
    OutputBuffer out(f, 4096);
    write(out);
    EXPECT_TRUE(out.flush());
  }
  std::fclose(f);
  std::string text(data, size);
  std::free(data);
  return text;
}

// (not EXPECT_EQ: its difference of megabytes is slow to print)
std::string first_difference(const std::string& want, const std::string& got) {
  const std::size_t at =
      std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
  return "differs from byte " + std::to_string(at) + " of " + std::to_string(want.size()) + ": " +
         want.substr(at, 40);
}

TEST(Table, ARowStreamWritesSnprintfsRowsAcrossItsBlocks) {
  for (const Case& c : cases()) {
    std::string text = written([&c](OutputBuffer& out) {
      RowStream rows(out, c.format, 3);
      for (std::size_t i = 0; i < c.rows; i++) {
        double* values = rows.next();
        for (std::size_t k = 0; k < c.format.columns.size(); k++) values[k] = value(i, k);
      }
      rows.finish();
    });
    EXPECT_TRUE(text == c.expected) << c.line << ": " << first_difference(c.expected, text);
  }
}

}  // namespace
