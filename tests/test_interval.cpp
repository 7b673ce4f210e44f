// Knot interval search: the contract against a linear scan, and the remembered position.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "Interpolation.hpp"

namespace {

// Number of breakpoints xt[1..lxt] not greater than x: the whole contract of interval().
int linear_scan(const std::vector<double>& xt, double x) {
  int count = 0;
  for (std::size_t k = 1; k < xt.size(); k++)
    if (xt[k] <= x) count++;
  return count;
}

// 1-based breakpoints; element 0 is a deliberately misleading value that must not matter.
std::vector<double> breakpoints(std::vector<double> values, double element0) {
  values.insert(values.begin(), element0);
  return values;
}

int lxt_of(const std::vector<double>& xt) { return static_cast<int>(xt.size()) - 1; }

TEST(Interval, SmallCasesFromTheContract) {
  for (double x0 : {-1e300, 0.0, 1e300}) {
    auto one = breakpoints({2.0}, x0);
    auto five = breakpoints({1.0, 2.0, 3.0, 3.0, 5.0}, x0);
    for (int start : {0, 1, 2, 4, 7}) {
      ilo = start;
      EXPECT_EQ(interval(one.data(), 1, 1.0), 0);
      EXPECT_EQ(interval(one.data(), 1, 2.0), 1);
      EXPECT_EQ(interval(one.data(), 1, 9.0), 1);
      ilo = start;
      EXPECT_EQ(interval(five.data(), 5, 0.5), 0);
      EXPECT_EQ(interval(five.data(), 5, 1.0), 1);  // on the first breakpoint
      EXPECT_EQ(interval(five.data(), 5, 2.0), 2);  // on an inner breakpoint: piece to its right
      EXPECT_EQ(interval(five.data(), 5, 2.5), 2);
      EXPECT_EQ(interval(five.data(), 5, 3.0), 4);  // repeated breakpoint: the largest index
      EXPECT_EQ(interval(five.data(), 5, 5.0), 5);
      EXPECT_EQ(interval(five.data(), 5, 6.0), 5);
    }
  }
}

TEST(Interval, AgreesWithALinearScanOverLongSequencesOfCalls) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> u(-1.0, 11.0);
  for (int lxt : {1, 2, 3, 5, 17, 100, 1000}) {
    std::vector<double> values(lxt);
    for (auto& v : values) v = std::floor(u(rng) * 4.0) / 4.0;  // coarse grid: many repeats
    std::sort(values.begin(), values.end());
    auto xt = breakpoints(values, 1e9);
    std::vector<double> probes;
    for (int k = 0; k < 3000; k++) probes.push_back(u(rng));
    for (double v : values) probes.push_back(v);  // exactly on every breakpoint
    std::vector<double> increasing = probes, decreasing = probes;
    std::sort(increasing.begin(), increasing.end());
    std::sort(decreasing.rbegin(), decreasing.rend());
    for (const auto* sequence : {&probes, &increasing, &decreasing}) {
      ilo = 0;
      for (double x : *sequence) ASSERT_EQ(interval(xt.data(), lxt, x), linear_scan(xt, x)) << x;
    }
  }
}

TEST(Interval, AlternatingBetweenTwoArraysOfDifferentLengths) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 100.0);
  std::vector<double> long_values(500), short_values(4);
  for (auto& v : long_values) v = u(rng);
  for (auto& v : short_values) v = u(rng);
  std::sort(long_values.begin(), long_values.end());
  std::sort(short_values.begin(), short_values.end());
  auto a = breakpoints(long_values, -5.0), b = breakpoints(short_values, 500.0);
  ilo = 0;
  for (int k = 0; k < 5000; k++) {
    double x = u(rng) * 1.1 - 5.0;
    const auto& xt = (k % 3 == 0) ? b : a;
    ASSERT_EQ(interval(const_cast<double*>(xt.data()), lxt_of(xt), x), linear_scan(xt, x));
  }
}

TEST(Interval, RemembersWhereEachSearchEnded) {
  auto xt = breakpoints({0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0}, 100.0);
  const int lxt = 9;
  ilo = 3;
  EXPECT_EQ(interval(xt.data(), lxt, 3.5), 4);  // hunted one piece upwards
  EXPECT_EQ(ilo, 4);
  EXPECT_EQ(interval(xt.data(), lxt, 3.7), 4);  // same piece: early return
  EXPECT_EQ(ilo, 4);
  EXPECT_EQ(interval(xt.data(), lxt, 8.0), 9);  // upward hunt reaching the last breakpoint
  EXPECT_EQ(interval(xt.data(), lxt, 8.5), 9);
  ilo = 8;  // at or past the last piece: early return leaves ilo unchanged
  EXPECT_EQ(interval(xt.data(), lxt, 9.0), 9);
  EXPECT_EQ(ilo, 8);
  ilo = 12;  // beyond the array: brought back to the last piece, then searched
  EXPECT_EQ(interval(xt.data(), lxt, 2.5), 3);
  EXPECT_EQ(ilo, 3);
  EXPECT_EQ(interval(xt.data(), lxt, -1.0), 0);  // downward hunt below the first: ilo becomes 1
  EXPECT_EQ(ilo, 1);
  ilo = 0;  // before any search: x >= xt[0] makes the first piece's early return give 0 here
  auto low0 = breakpoints({0.0, 1.0, 2.0}, -100.0);
  EXPECT_EQ(interval(low0.data(), 3, -1.0), 0);
  EXPECT_EQ(ilo, 0);
}

}  // namespace
