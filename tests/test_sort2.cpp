// Paired sort: key order and pairing against std::stable_sort, and the order of equal keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "Sort2.hpp"

namespace {

using Pairs = std::vector<std::pair<double, double>>;

// sort2 on 1-based copies of the pairs; element 0 (-1, -1) is returned too and must stay.
Pairs sorted_by_sort2(Pairs in) {
  std::vector<double> a{-1}, b{-1};
  for (auto [key, value] : in) a.push_back(key), b.push_back(value);
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
      Pairs in, out;
      for (int k = 0; k < n; k++)
        in.emplace_back(distinct > 0 ? int(rng() % distinct) * 0.25 : distinct ? n - k : k, k);
      out = sorted_by_sort2(in);
      in.insert(in.begin(), {-1, -1});
      std::stable_sort(in.begin() + 1, in.end(), [](auto p, auto q) { return p.first < q.first; });
      for (std::size_t k = 0; k < in.size(); k++) ASSERT_EQ(out[k].first, in[k].first) << n;
      std::sort(out.begin(), out.end()), std::sort(in.begin(), in.end());
      ASSERT_EQ(out, in) << "n " << n << ", distinct " << distinct;
    }
}

TEST(Sort2, EqualKeysLeaveInTheTracedOrder) {
  std::ifstream in(TEST_DATA "/library/sort2_ties.txt");
  ASSERT_TRUE(in.is_open());
  for (std::string line, word; std::getline(in, line);) {
    std::istringstream fields(line);
    Pairs input, expected{{-1, -1}};
    for (double v = 1; line[0] != '#' && fields >> word && word != "|"; v++)
      input.emplace_back(std::stod(word), v);
    for (double v; fields >> v;) expected.emplace_back(0, v);
    Pairs out = sorted_by_sort2(input);
    ASSERT_EQ(out.size(), expected.size()) << line;
    for (std::size_t k = 0; k < expected.size(); k++)
      EXPECT_EQ(out[k].second, expected[k].second) << line;
  }
}

}  // namespace
