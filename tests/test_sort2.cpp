// Paired sort: key order and pairing against the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Sort2.hpp"

namespace {

using Pairs = std::vector<std::pair<double, double>>;

// sort2 on 1-based copies of the pairs; element 0 (-1, -1) is returned too and must stay.
Pairs sorted_by_sort2(Pairs in) {
  std::vector<double> a{-1}, b{-1};
  for (auto [key, value] : in) {
    a.push_back(key);
    b.push_back(value);
  }
  sort2(static_cast<int>(in.size()), a.data(), b.data());
  in.resize(a.size());
  for (std::size_t k = 0; k < a.size(); k++) in[k] = {a[k], b[k]};
  return in;
}

// Random keys with 1 to 2^30 possible values, rising keys (0) and falling ones (-1); n <= 1 too.
TEST(Sort2, KeysComeOutInOrderWithTheirValues) {
  std::mt19937_64 rng(12345);
  for (int n : {0, 1, 2, 3, 6, 7, 8, 9, 15, 16, 64, 100, 1001, 20000})
    for (int distinct : {1, 2, 5, 50, 1 << 30, 0, -1}) {
      Pairs in{{-1, -1}};
      for (int k = 0; k < n; k++)
        in.emplace_back(distinct > 0 ? int(rng() % distinct) * 0.25 : distinct ? n - k : k, k);
      Pairs out = sorted_by_sort2({in.begin() + 1, in.end()});
      EXPECT_TRUE(
          std::is_sorted(out.begin(), out.end(), [](auto p, auto q) { return p.first < q.first; }));
      std::sort(out.begin(), out.end());
      std::sort(in.begin(), in.end());
      ASSERT_EQ(out, in) << "n " << n << ", distinct " << distinct;
    }
}

}  // namespace
