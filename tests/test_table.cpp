// A table written through a RowStream on 3 threads, three blocks of rows and more, against the
// same rows made with snprintf one after another. (That a table comes out the same on one thread
// and on several, whatever its formats, the program's run of 10^5 points on 1 and 3 threads and
// the golden fits show; the numbers themselves, test_format.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Table.hpp"

namespace {

TEST(Table, ARowStreamWritesSnprintfsRowsAcrossItsBlocks) {
  const RowFormat format{{{Conversion::g, 6}, {Conversion::e, 5, 13}, {Conversion::g, 17}},
                         "\n", "\t", "\t"};
  auto value = [](std::size_t i, int k) { return std::ldexp(std::sin(0.001 * i + k), 40 * k - 20); };
  const std::size_t rows = 3 * 65536 + 7;
  std::string expected;
  for (std::size_t i = 0; i < rows; i++) {
    char text[128];
    const int n = std::snprintf(text, sizeof text, "\n%.6g\t%13.5e\t%.17g\t", value(i, 0),
                                value(i, 1), value(i, 2));
    expected.append(text, static_cast<std::size_t>(n));
  }
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* f = open_memstream(&data, &size);
  {
    OutputBuffer out(f, 4096);
    RowStream stream(out, format, 3);
    for (std::size_t i = 0; i < rows; i++) {
      double* values = stream.next();
      for (int k = 0; k < 3; k++) values[k] = value(i, k);
    }
    stream.finish();
    EXPECT_TRUE(out.flush());
  }
  std::fclose(f);
  const std::string text(data, size);
  std::free(data);
  const std::size_t at =
      std::mismatch(expected.begin(), expected.end(), text.begin(), text.end()).first -
      expected.begin();  // (not EXPECT_EQ, whose difference of megabytes is slow to print)
  EXPECT_TRUE(text == expected) << "differs from byte " << at << ": " << expected.substr(at, 40);
}

}  // namespace
