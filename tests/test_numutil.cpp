// Offset-indexed arrays and numerror: index ranges, contiguity, views, failures.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "Numutil.hpp"

namespace {

template <class T>
struct VectorFamily;
template <>
struct VectorFamily<float> {
  static float* make(long l, long h) { return vector(l, h); }
  static void release(float* v, long l, long h) { free_vector(v, l, h); }
};
template <>
struct VectorFamily<int> {
  static int* make(long l, long h) { return ivector(l, h); }
  static void release(int* v, long l, long h) { free_ivector(v, l, h); }
};
template <>
struct VectorFamily<unsigned char> {
  static unsigned char* make(long l, long h) { return cvector(l, h); }
  static void release(unsigned char* v, long l, long h) { free_cvector(v, l, h); }
};
template <>
struct VectorFamily<unsigned long> {
  static unsigned long* make(long l, long h) { return lvector(l, h); }
  static void release(unsigned long* v, long l, long h) { free_lvector(v, l, h); }
};
template <>
struct VectorFamily<double> {
  static double* make(long l, long h) { return dvector(l, h); }
  static void release(double* v, long l, long h) { free_dvector(v, l, h); }
};

template <class T>
class OffsetVector : public ::testing::Test {};
using VectorTypes = ::testing::Types<float, int, unsigned char, unsigned long, double>;
TYPED_TEST_SUITE(OffsetVector, VectorTypes);

// Under AddressSanitizer every write below outside the allocated block, and every release of a
// pointer that is not the block's start, is reported; the values read back prove the indices are
// distinct and usable.
TYPED_TEST(OffsetVector, EveryRequestedIndexIsUsableAndReleasable) {
  using F = VectorFamily<TypeParam>;
  const long ranges[][2] = {{1, 10}, {0, 10}, {-5, 3}, {-7, -2}, {100, 103}, {1, 1}, {3, 3}};
  for (auto& r : ranges) {
    TypeParam* v = F::make(r[0], r[1]);
    for (long k = r[0]; k <= r[1]; k++) v[k] = static_cast<TypeParam>(k - r[0] + 1);
    for (long k = r[0]; k <= r[1]; k++) {
      EXPECT_EQ(v[k], static_cast<TypeParam>(k - r[0] + 1));
      if (k > r[0]) {
        EXPECT_EQ(&v[k], &v[k - 1] + 1);
      }
    }
    F::release(v, r[0], r[1]);
  }
}

TYPED_TEST(OffsetVector, EmptyRangeGivesAReleasableHandle) {
  using F = VectorFamily<TypeParam>;
  for (long nl : {1L, 0L, -3L, 50L}) {
    TypeParam* v = F::make(nl, nl - 1);
    ASSERT_NE(v, nullptr);
    v[nl - 1] = TypeParam{};  // the slack element in front of the range exists
    F::release(v, nl, nl - 1);
  }
}

TEST(OffsetMatrix, RowsAreOneContiguousRowMajorRun) {
  const long J = 6, M = 3;
  double** c = dmatrix(1, J + 1, 0, M);
  for (long i = 1; i <= J; i++) EXPECT_EQ(&c[i + 1][0], &c[i][M] + 1);
  EXPECT_EQ(&c[J][M] - &c[1][0], J * (M + 1) - 1);
  for (long i = 1; i <= J + 1; i++)
    for (long m = 0; m <= M; m++) c[i][m] = 10.0 * i + m;
  const double* flat = &c[1][0];
  for (long k = 0; k < (J + 1) * (M + 1); k++)
    EXPECT_EQ(flat[k], 10.0 * (1 + k / (M + 1)) + k % (M + 1));
  free_dmatrix(c, 1, J + 1, 0, M);
}

TEST(OffsetMatrix, EveryElementTypeAndOffsetWorks) {
  float** f = matrix(-2, 1, 3, 5);
  int** n = imatrix(0, 2, -1, 1);
  char** s = cmatrix(1, 3, 1, 4);
  for (long i = -2; i <= 1; i++)
    for (long j = 3; j <= 5; j++) f[i][j] = static_cast<float>(i * 10 + j);
  for (long i = 0; i <= 2; i++)
    for (long j = -1; j <= 1; j++) n[i][j] = static_cast<int>(i * 10 + j);
  for (long i = 1; i <= 3; i++)
    for (long j = 1; j <= 4; j++) s[i][j] = static_cast<char>('a' + i * 4 + j);
  EXPECT_EQ(&f[1][5] - &f[-2][3], 4 * 3 - 1);
  EXPECT_EQ(f[-1][4], -6.0f);
  EXPECT_EQ(n[2][-1], 19);
  EXPECT_EQ(&s[2][1], &s[1][4] + 1);
  EXPECT_EQ(s[3][4], 'a' + 16);
  free_matrix(f, -2, 1, 3, 5);
  free_imatrix(n, 0, 2, -1, 1);
  free_cmatrix(s, 1, 3, 1, 4);
}

TEST(MatrixViews, SubmatrixSharesStorageAndLeavesTheParentIntact) {
  float** a = matrix(1, 3, 1, 3);
  for (long i = 1; i <= 3; i++)
    for (long j = 1; j <= 3; j++) a[i][j] = static_cast<float>(10 * i + j);
  float** b = submatrix(a, 2, 3, 2, 3, 1, 1);
  EXPECT_EQ(b[1][1], a[2][2]);
  EXPECT_EQ(b[2][2], a[3][3]);
  EXPECT_EQ(b[1][2], a[2][3]);
  b[2][1] = -1.0f;
  EXPECT_EQ(a[3][2], -1.0f);
  free_submatrix(b, 1, 2, 1, 2);
  EXPECT_EQ(a[3][3], 33.0f);
  a[1][1] = 0.5f;
  EXPECT_EQ(a[1][1], 0.5f);
  free_matrix(a, 1, 3, 1, 3);
}

TEST(MatrixViews, ConvertMatrixAddressesAFlatArrayRowByRow) {
  float flat[6] = {0, 1, 2, 3, 4, 5};
  float** m = convert_matrix(flat, 1, 2, 1, 3);
  EXPECT_EQ(m[2][1], flat[3]);
  EXPECT_EQ(&m[1][1], &flat[0]);
  EXPECT_EQ(&m[2][3], &flat[5]);
  free_convert_matrix(m, 1, 2, 1, 3);
  float** z = convert_matrix(flat, 0, 1, -1, 1);
  EXPECT_EQ(z[1][-1], flat[3]);
  EXPECT_EQ(z[0][1], flat[2]);
  free_convert_matrix(z, 0, 1, -1, 1);
}

TEST(ThreeDimensional, ElementsAreConsecutiveWithTheLastIndexFastest) {
  float*** t = f3tensor(1, 2, 1, 3, 1, 4);
  double*** d = Array3(0, 1, -1, 1, 2, 5);
  const float* first = &t[1][1][1];
  const double* dfirst = &d[0][-1][2];
  long k = 0;
  for (long i = 1; i <= 2; i++)
    for (long j = 1; j <= 3; j++)
      for (long l = 1; l <= 4; l++, k++) {
        EXPECT_EQ(&t[i][j][l], first + k);
        t[i][j][l] = static_cast<float>(k);
      }
  EXPECT_EQ(k, 24);
  k = 0;
  for (long i = 0; i <= 1; i++)
    for (long j = -1; j <= 1; j++)
      for (long l = 2; l <= 5; l++, k++) {
        EXPECT_EQ(&d[i][j][l], dfirst + k);
        d[i][j][l] = static_cast<double>(k);
      }
  EXPECT_EQ(t[2][3][4], 23.0f);
  EXPECT_EQ(d[1][1][5], 23.0);
  free_f3tensor(t, 1, 2, 1, 3, 1, 4);
  free_Array3(d, 0, 1, -1, 1, 2, 5);
}

using ::testing::ExitedWithCode;

TEST(NumerrorDeathTest, WritesExactlyThreeLinesAndExitsWithStatusOne) {
  EXPECT_EXIT(numerror("powell exceeding maximum iterations."), ExitedWithCode(1),
              "^Numerical run-time error\\.\\.\\.\npowell exceeding maximum iterations\\.\n"
              "\\.\\.\\.now exiting to system\\.\\.\\.\n$");
  EXPECT_EXIT(numerror(""), ExitedWithCode(1),
              "^Numerical run-time error\\.\\.\\.\n\n\\.\\.\\.now exiting to system\\.\\.\\.\n$");
}

TEST(NumerrorDeathTest, FlushesStreamsTheCallerLeftOpen) {
  std::string path = ::testing::TempDir() + "numerror_flush.txt";
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        std::FILE* f = std::fopen(path.c_str(), "w");
        std::fputs("written before the error", f);
        numerror("stop");
      },
      ExitedWithCode(1), "stop");
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "written before the error");
  std::remove(path.c_str());
}

TEST(AllocatorLimitsDeathTest, BoundsOutsideTheLimitsAreReported) {
  EXPECT_EXIT(dvector(5, 3), ExitedWithCode(1), "dvector: index range 5\\.\\.3");
  EXPECT_EXIT(ivector(1, -1), ExitedWithCode(1), "ivector: index range 1\\.\\.-1");
  EXPECT_EXIT(dmatrix(2, 1, 0, 3), ExitedWithCode(1), "dmatrix: row range 2\\.\\.1");
  EXPECT_EXIT(imatrix(1, 2, 3, 1), ExitedWithCode(1), "imatrix: column range 3\\.\\.1");
  EXPECT_EXIT(cmatrix(0, -1, 0, 0), ExitedWithCode(1), "cmatrix: row range");
  EXPECT_EXIT(f3tensor(1, 1, 2, 1, 1, 1), ExitedWithCode(1), "f3tensor: second range");
  EXPECT_EXIT(Array3(1, 0, 1, 1, 1, 1), ExitedWithCode(1), "Array3: first range");
  EXPECT_EXIT(dvector(LONG_MIN, LONG_MAX), ExitedWithCode(1), "dvector: index range .* too large");
}

TEST(AllocatorLimitsDeathTest, MemoryThatCannotBeHadIsReportedNotHandedOut) {
  EXPECT_EXIT(dvector(1, 1L << 59), ExitedWithCode(1), "dvector: allocation of [0-9]+ bytes failed");
  EXPECT_EXIT(dvector(0, LONG_MAX - 2), ExitedWithCode(1), "dvector: .* too large");
  EXPECT_EXIT(dmatrix(1, 2, 1, 1L << 62), ExitedWithCode(1), "dmatrix: .* too large");
  EXPECT_EXIT(Array3(1, 2, 1, 2, 1, 1L << 61), ExitedWithCode(1), "Array3: .* too large");
}

}  // namespace
