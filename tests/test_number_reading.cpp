// The readers' number conversion against the C library's strtod, the reference for "%le": every
// spelling must give the same double, bit for bit, and the same longest-prefix decision, however
// the reader converts it internally.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Input.hpp"

namespace {

// What strtod makes of an item (no whitespace, at most 511 bytes are looked at): the value when
// it converts a non-empty prefix to a finite number, else nothing.
std::optional<double> strtod_reference(const std::string& item) {
  std::string head = item.substr(0, 511);
  char* stop = nullptr;
  double value = std::strtod(head.c_str(), &stop);
  if (stop == head.c_str() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// The first knot of a knots file whose first knot line is the item followed by text; the second
// knot is the largest double, so every finite first knot is in order.
std::optional<double> first_knot(const std::string& item) {
  try {
    std::string text = "Knots\n";
    text += item;
    text += "  knot one\n1.7976931348623157e308\n";
    return parse_knots(text, "test.knots")[0];
  } catch (const InputError&) {
    return std::nullopt;
  }
}

void expect_as_strtod(const std::string& item) {
  std::optional<double> expected = strtod_reference(item);
  std::optional<double> got = first_knot(item);
  ASSERT_EQ(got.has_value(), expected.has_value()) << "item \"" << item << "\"";
  if (expected) {
    EXPECT_EQ(bits(*got), bits(*expected)) << "item \"" << item << "\"";
  }
}

std::string format(const char* conversion, double v) {
  char buffer[1200];
  std::snprintf(buffer, sizeof buffer, conversion, v);
  return buffer;
}

TEST(NumberReading, HandPickedSpellingsReadAsStrtodReadsThem) {
  const std::vector<std::string> items = {
      "0", "-0", "+0", "0.0", "-0.0", ".5", "5.", "+.5", "-.5", "+5", "-5", "1e5", "1E+5",
      "1e-5", "1e", "1e+", "1.5e-", "1.e5", ".e5", "e5", ".", "+", "-", "+-1", "-+1", "++1",
      "0x1p3", "0X1.8P+1", "-0x.8p1", "+0x10", "0x", "0xg", "0x.p1", "0x1.fffffffffffffp1023",
      "0x1p-1074", "0x1p-1075", "inf", "-Infinity", "+INF", "nan", "NAN(123)", "-nan", "1e400",
      "-1e400", "1e-400", "-1e-400", "4.9e-324", "2.4703282292062327e-324",
      "2.4703282292062328e-324", "2.2250738585072011e-308", "2.2250738585072012e-308",
      "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
      "9007199254740993", "9007199254740993.0000000000000000000000001", "0.1", "1.5,",
      "12abc", "1_000", "1.5e5.3", "00000123.4500000e0003", "1e0000000000000000000005",
      "1e99999999999999999999", "1e-99999999999999999999", "0e99999999999999999999",
      "6digits", "1.0E-8tolerance", "3.14159x", "2e3x4", "1d5", "0.000000000000000000000001e24",
      std::string(600, '9'), std::string(511, '1') + "e5"};
  for (const std::string& item : items) expect_as_strtod(item);
  // Long items: only their first 511 bytes count.
  std::string tiny = "0.", rounding = "1";
  tiny.append(520, '0');
  tiny += '1';
  rounding.append(509, '0');
  rounding += "5";
  expect_as_strtod(tiny);
  expect_as_strtod(rounding);
}

TEST(NumberReading, RandomStringsOfNumberCharactersReadAsStrtodReadsThem) {
  const std::string alphabet = "0123456789012345.+-eExXpPabcdfinty.e";
  std::mt19937_64 rng(2024);
  std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(1, 14);
  for (int trial = 0; trial < 100000; trial++) {
    std::string item;
    for (int k = length(rng); k > 0; k--) item += alphabet[letter(rng)];
    expect_as_strtod(item);
    if (HasFatalFailure()) return;
  }
}

TEST(NumberReading, EveryPrintedDoubleReadsBackAsStrtodReadsIt) {
  std::mt19937_64 rng(99);
  const char* specs[] = {"%.17g", "%.16g", "%.6e", "%a", "%.25e", "%.3f", "%+.9e", "%.40g"};
  for (int trial = 0; trial < 20000; trial++) {
    std::uint64_t b = rng();
    double v;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v)) continue;
    for (const char* conversion : specs) expect_as_strtod(format(conversion, v));
    if (HasFatalFailure()) return;
  }
}

// Long random digit strings land close to halfway between doubles, where a conversion that is
// not correctly rounded would show.
TEST(NumberReading, LongDecimalsNearHalfwayPointsReadAsStrtodReadsThem) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> digit(0, 9), digits(16, 60), exponent(-345, 320);
  for (int trial = 0; trial < 50000; trial++) {
    std::string item(1, static_cast<char>('1' + digit(rng) % 9));
    item += '.';
    for (int k = digits(rng); k > 0; k--) item += static_cast<char>('0' + digit(rng));
    item += 'e';
    item += std::to_string(exponent(rng));
    expect_as_strtod(item);
    if (HasFatalFailure()) return;
  }
}

// A data row's columns go through the same conversion; rows of two plain numbers.
TEST(NumberReading, DataRowsReadTheirColumnsAsStrtodReadsThem) {
  RunControl control;
  control.ix = 1;
  control.iy = 2;
  control.ii = 2;
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1e6, 1e6);
  std::string text = "Title\n";
  std::vector<std::string> items;
  for (int k = 0; k < 2000; k++) {
    items.push_back(format(k % 3 == 0 ? "%.17g" : k % 3 == 1 ? "%a" : "%+.8e", u(rng)));
    if (k % 2 == 1) text += items[items.size() - 2] + " " + items.back() + "\n";
  }
  DataFile data = parse_data(text, "test.dat", control, 100000);
  ASSERT_EQ(data.x.size(), items.size() / 2);
  for (std::size_t k = 0; k < data.x.size(); k++) {
    EXPECT_EQ(bits(data.x[k]), bits(*strtod_reference(items[2 * k]))) << items[2 * k];
    EXPECT_EQ(bits(data.y[k]), bits(*strtod_reference(items[2 * k + 1]))) << items[2 * k + 1];
  }
}

}  // namespace
