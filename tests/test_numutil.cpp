// The Numeric modules. Offset-indexed arrays and numerror: every index of every shape addresses
// its row-major place, views alias their parent, and every broken limit ends the run with a
// message naming it. The paired sort: keys in order, each with its value.
#include <algorithm>
#include <array>
#include <iterator>
#include <random>

#include "Numutil.hpp"
#include "Sort2.hpp"
#include "table.hpp"

// The allocation-failure deaths need the leak checker's or the address sanitizer's allocator to
// return null, as malloc does, rather than abort.
extern "C" const char* __lsan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// Index ranges {low, high}: negative, single and empty (high = low - 1) ones among them.
const std::pair<long, long> kRanges[] = {{1, 9}, {-5, 3}, {100, 103}, {3, 3}, {0, 0}, {1, 0}};

// Element (i, j, k) must lie n places after the first, n counting in row-major order. Each is
// written: under AddressSanitizer a write outside the block or a wrong release is reported.
template <class T, class At>
void expect_row_major(long rl, long rh, long cl, long ch, long dl, long dh, At at) {
  for (long i = rl, n = 0; i <= rh; i++)
    for (long j = cl; j <= ch; j++)
      for (long k = dl; k <= dh; k++, n++)
        EXPECT_EQ(&(at(i, j, k) = static_cast<T>(n % 100)), &at(rl, cl, dl) + n);
}

// Every shape the element type has (null: none), over every combination of the ranges that holds
// a row (and a column, for three indices), released by its own free_ routine.
template <class T>
void expect_shapes(T* (*v)(long, long), void (*free_v)(T*, long, long),
                   T** (*m)(long, long, long, long), void (*free_m)(T**, long, long, long, long),
                   T*** (*t)(long, long, long, long, long, long),
                   void (*free_t)(T***, long, long, long, long, long, long)) {
  for (auto [l, h] : kRanges) {
    if (!v) break;
    T* a = v(l, h);
    expect_row_major<T>(0, 0, 0, 0, l, h, [&](long, long, long k) -> T& { return a[k]; });
    free_v(a, l, h);
  }
  for (auto [rl, rh] : kRanges)
    for (auto [cl, ch] : kRanges) {
      if (rh < rl) break;  // the empty ranges come last
      if (m) {
        T** a = m(rl, rh, cl, ch);
        expect_row_major<T>(rl, rh, cl, ch, 0, 0,
                            [&](long i, long j, long) -> T& { return a[i][j]; });
        free_m(a, rl, rh, cl, ch);
      }
      for (auto [dl, dh] : kRanges) {
        if (!t || ch < cl) break;
        T*** a = t(rl, rh, cl, ch, dl, dh);
        expect_row_major<T>(rl, rh, cl, ch, dl, dh,
                            [&](long i, long j, long k) -> T& { return a[i][j][k]; });
        free_t(a, rl, rh, cl, ch, dl, dh);
      }
    }
}

TEST(OffsetArrays, EveryIndexAddressesItsRowMajorPlaceForEveryShapeAndElementType) {
  expect_shapes<float>(vector, free_vector, matrix, free_matrix, f3tensor, free_f3tensor);
  expect_shapes<double>(dvector, free_dvector, dmatrix, free_dmatrix, Array3, free_Array3);
  expect_shapes<int>(ivector, free_ivector, imatrix, free_imatrix, nullptr, nullptr);
  expect_shapes<char>(nullptr, nullptr, cmatrix, free_cmatrix, nullptr, nullptr);
  expect_shapes<unsigned char>(cvector, free_cvector, nullptr, nullptr, nullptr, nullptr);
  expect_shapes<unsigned long>(lvector, free_lvector, nullptr, nullptr, nullptr, nullptr);
}

TEST(MatrixViews, EveryElementOfAViewIsTheElementOfItsParent) {
  float** a = matrix(1, 4, 1, 5);
  float flat[20];
  // Parent rows orl..orh from column ocl on, seen from row nrl and column ncl; one-row ones too.
  for (auto [orl, orh, ocl, nrl, ncl] : {std::array{2L, 3L, 2L, 1L, 1L},
                                         {4L, 4L, 3L, 0L, -2L},
                                         {1L, 4L, 1L, 1L, 1L},
                                         {3L, 3L, 5L, 7L, 7L}}) {
    long nrh = nrl + orh - orl, nch = ncl + 5 - ocl;
    float** b = submatrix(a, orl, orh, ocl, 5, nrl, ncl);
    float** c = convert_matrix(flat, nrl, nrh, ncl, nch);  // the same shape over flat
    for (long r = 0; r <= orh - orl; r++)
      for (long s = 0; s <= 5 - ocl; s++)
        EXPECT_TRUE(&b[nrl + r][ncl + s] == &a[orl + r][ocl + s] &&
                    &c[nrl + r][ncl + s] == &flat[r * (nch - ncl + 1) + s]);
    free_submatrix(b, nrl, nrh, ncl, nch);
    free_convert_matrix(c, nrl, nrh, ncl, nch);
  }
  free_matrix(a, 1, 4, 1, 5);
}

void allocate(const std::string& r, const std::vector<long>& b) {
  if (r == "submatrix") submatrix(nullptr, b[0], b[1], b[2], b[3], b[4], b[5]);
  if (r == "convert_matrix") convert_matrix(nullptr, b[0], b[1], b[2], b[3]);
  if (r == "dvector") dvector(b[0], b[1]);
  if (r == "ivector") ivector(b[0], b[1]);
  if (r == "dmatrix") dmatrix(b[0], b[1], b[2], b[3]);
  if (r == "imatrix") imatrix(b[0], b[1], b[2], b[3]);
  if (r == "cmatrix") cmatrix(b[0], b[1], b[2], b[3]);
  if (r == "matrix") matrix(b[0], b[1], b[2], b[3]);
  if (r == "f3tensor") f3tensor(b[0], b[1], b[2], b[3], b[4], b[5]);
  if (r == "Array3") Array3(b[0], b[1], b[2], b[3], b[4], b[5]);
}

TEST(AllocatorLimitsDeathTest, EveryBrokenLimitEndsTheRunWithNumerrorsReportNamingIt) {
  for (const Row& row : table("library/allocator_limits.txt")) {
    std::istringstream in(row[1]);
    const std::vector<long> bounds{std::istream_iterator<long>(in), {}};
    EXPECT_EXIT(allocate(row[0], bounds), ::testing::ExitedWithCode(1), numerror_report(row[2]))
        << row[1];
  }
}

// Random keys with 1 to 2^30 possible values, rising keys (0) and falling ones (-1); n <= 1 too.
// Each value names its key (4 key + (k % 3) / 8); element 0 (-1, -1) must stay.
TEST(Sort2, KeysComeOutInOrderWithTheirValues) {
  std::mt19937_64 rng(12345);
  for (int n : {0, 1, 2, 3, 7, 8, 9, 16, 100, 1001, 20000})
    for (int distinct : {1, 2, 5, 50, 1 << 30, 0, -1}) {
      std::vector<double> a{-1}, b{-1};
      for (int k = 0; k < n; k++) {
        a.push_back(distinct > 0 ? int(rng() % distinct) * 0.25 : distinct ? n - k : k);
        b.push_back(a.back() * 4 + (k % 3) / 8.0);
      }
      std::vector<double> keys = a, values = b;
      sort2(n, a.data(), b.data());
      std::sort(keys.begin() + 1, keys.end()), std::sort(values.begin() + 1, values.end());
      for (int k = 1; k <= n; k++) ASSERT_EQ(std::floor(b[k]) / 4, a[k]);
      std::sort(b.begin() + 1, b.end());
      EXPECT_TRUE(a == keys && b == values) << "n " << n << ", distinct " << distinct;
    }
}

// Split between threads, the parts take the same moves: equal keys leave in the serial order.
TEST(Sort2, OnSeveralThreadsEqualKeysLeaveInTheSerialOrder) {
  std::mt19937_64 rng(7);
  for (int distinct : {3, 1000, 1 << 30}) {
    std::vector<double> a{-1}, b{-1};
    for (int k = 0; k < 300000; k++) a.push_back(double(rng() % distinct)), b.push_back(k);
    std::vector<double> a4 = a, b4 = b;
    sort2(300000, a.data(), b.data());
    sort2(300000, a4.data(), b4.data(), 4);
    EXPECT_TRUE(a == a4 && b == b4) << "distinct " << distinct;
  }
}

}  // namespace
