// Paired sort: key order and pairing against std::stable_sort, and the order of equal keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "Sort2.hpp"

namespace {

using Pairs = std::vector<std::pair<double, double>>;

// Runs sort2 on 1-based copies of the pairs and returns the result as pairs.
Pairs sorted_by_sort2(const Pairs& in) {
  std::vector<double> a(in.size() + 1, -999.0), b(in.size() + 1, -999.0);
  for (std::size_t k = 0; k < in.size(); k++) {
    a[k + 1] = in[k].first;
    b[k + 1] = in[k].second;
  }
  sort2(static_cast<int>(in.size()), a.data(), b.data());
  EXPECT_EQ(a[0], -999.0);  // index 0 is never touched
  EXPECT_EQ(b[0], -999.0);
  Pairs out;
  for (std::size_t k = 1; k <= in.size(); k++) out.emplace_back(a[k], b[k]);
  return out;
}

// Keys in the order std::stable_sort gives them, and the same multiset of (key, value) pairs.
void expect_sorted_pairs(const Pairs& in, const Pairs& out) {
  Pairs reference = in;
  std::stable_sort(reference.begin(), reference.end(),
                   [](const auto& p, const auto& q) { return p.first < q.first; });
  ASSERT_EQ(out.size(), reference.size());
  for (std::size_t k = 0; k < out.size(); k++) ASSERT_EQ(out[k].first, reference[k].first) << k;
  Pairs got = out;
  std::sort(got.begin(), got.end());
  std::sort(reference.begin(), reference.end());
  EXPECT_EQ(got, reference);
}

// Random keys with few to many distinct values, and ordered, reversed and all-equal inputs.
TEST(Sort2, KeysComeOutInOrderWithTheirValues) {
  std::mt19937_64 rng(12345);
  for (int n : {2, 3, 6, 7, 8, 9, 15, 16, 64, 100, 1001, 20000}) {
    for (int distinct : {1, 2, 5, 50, 1 << 30}) {
      std::uniform_int_distribution<int> key(0, distinct - 1);
      Pairs in;
      for (int k = 0; k < n; k++) in.emplace_back(key(rng) * 0.25, k);
      expect_sorted_pairs(in, sorted_by_sort2(in));
    }
    Pairs ascending, descending;
    for (int k = 0; k < n; k++) {
      ascending.emplace_back(k, -k);
      descending.emplace_back(n - k, k);
    }
    EXPECT_EQ(sorted_by_sort2(ascending), ascending) << n;
    expect_sorted_pairs(descending, sorted_by_sort2(descending));
  }
}

TEST(Sort2, NothingChangesForOneElementOrFewer) {
  double a[2] = {7.0, 3.0}, b[2] = {8.0, 4.0};
  sort2(1, a, b);
  sort2(0, a, b);
  sort2(-5, a, b);
  EXPECT_EQ(a[1], 3.0);
  EXPECT_EQ(b[1], 4.0);
  EXPECT_EQ(a[0], 7.0);
}

TEST(Sort2, UpToSevenElementsInsertionKeepsEqualKeysInInputOrder) {
  Pairs in = {{2, 0}, {1, 1}, {2, 2}, {1, 3}, {0, 4}, {2, 5}, {1, 6}};
  Pairs expected = {{0, 4}, {1, 1}, {1, 3}, {1, 6}, {2, 0}, {2, 2}, {2, 5}};
  EXPECT_EQ(sorted_by_sort2(in), expected);
}

// Traced by hand: eight equal keys. The middle entry 4 goes to position 2, the scans exchange
// positions 3/7, 4/6 and 5 with itself, the partitioning element (value 1) lands at position 4,
// and both remaining parts are short and already "sorted".
TEST(Sort2, EqualKeysLeaveAPartitionInTheAlgorithmsOwnOrder) {
  Pairs in;
  for (int k = 1; k <= 8; k++) in.emplace_back(5.0, k);
  Pairs out = sorted_by_sort2(in);
  std::vector<double> carried;
  for (auto& p : out) carried.push_back(p.second);
  EXPECT_EQ(carried, (std::vector<double>{6, 4, 7, 1, 5, 2, 3, 8}));
}

// Traced by hand: keys 3 1 3 2 3 1 3 2 (values 1..8), one partition and two insertion passes.
TEST(Sort2, MixedKeysWithTiesLeaveInTheAlgorithmsOwnOrder) {
  Pairs in = {{3, 1}, {1, 2}, {3, 3}, {2, 4}, {3, 5}, {1, 6}, {3, 7}, {2, 8}};
  Pairs out = sorted_by_sort2(in);
  expect_sorted_pairs(in, out);
  // Partition: k = 4 exchanges entries 4 and 2 -> keys 3 2 3 1 3 1 3 2 (values 1 4 3 2 5 6 7 8);
  // arr[2]=2 > arr[8]=2 is false; arr[1]=3 > arr[8]=2 exchanges 1 and 8 -> values 8 4 3 2 5 6 7 1
  // (keys 2 2 3 1 3 1 3 3); arr[2]=2 > arr[1]=2 is false. a = 2 (value 8). Scans: i stops at 3
  // (key 3), j stops at 6 (key 1): exchange -> values 8 4 6 2 5 3 7 1; i stops at 5 (key 3),
  // j at 4 (key 1): j < i. Entry 4 (value 2) goes to 1 and the element to 4:
  // values 2 4 6 8 5 3 7 1 (keys 1 2 1 2 3 3 3 3). Entries 5..8 are pushed; entries 1..3 are
  // sorted by insertion -> keys 1 1 2 with values 2 6 4; then 5..8 (all key 3) stays 5 3 7 1.
  std::vector<double> carried;
  for (auto& p : out) carried.push_back(p.second);
  EXPECT_EQ(carried, (std::vector<double>{2, 6, 4, 8, 5, 3, 7, 1}));
}

}  // namespace
