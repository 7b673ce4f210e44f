// Interpolation library: cubic spline tables, their evaluation and integral, and local
// interpolation. Checked by exact reproduction of polynomials, an independent dense solve of the
// piecewise spline system, Gauss-Legendre quadrature, hand-derived values and the limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Interpolation.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Polynomial sum of c[k] t^k, with its derivatives.
struct Poly {
  std::vector<double> c;
  double at(double t, int d = 0) const {
    double sum = 0;
    for (int k = static_cast<int>(c.size()) - 1; k >= d; k--) {
      double factor = 1;
      for (int j = 0; j < d; j++) factor *= k - j;
      sum = sum * t + factor * c[k];
    }
    return sum;
  }
};

Poly random_poly(std::mt19937_64& rng, int degree) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  Poly p;
  for (int k = 0; k <= degree; k++) p.c.push_back(u(rng));
  return p;
}

// n + 1 strictly increasing abscissae with random widths.
std::vector<double> random_abscissae(std::mt19937_64& rng, int n, double start = -1.0) {
  std::uniform_real_distribution<double> width(0.1, 0.6), shift(-0.5, 0.5);
  std::vector<double> x{start + shift(rng)};
  for (int i = 1; i <= n; i++) x.push_back(x.back() + width(rng));
  return x;
}

// Row-pointer table whose rows lie in reverse order with gaps between them, so that only the
// pointers can find them. Everything starts as NaN: what the routines must ignore stays unread.
struct RowTable {
  std::vector<double> storage;
  std::vector<double*> rows;
  explicit RowTable(int n) : storage(6 * (n + 1), kNaN), rows(n + 1) {
    for (int i = 0; i <= n; i++) rows[i] = &storage[6 * (n - i)];
  }
  RowTable(RowTable&&) = default;  // moving keeps the storage, and so the row pointers, valid
  RowTable(const RowTable&) = delete;
  double** A() { return rows.data(); }
};

// Every number of two tables of n + 1 rows, bit for bit.
template <class T, class U>
void expect_identical(T& a, U& b, int n) {
  for (int i = 0; i <= n; i++)
    for (int col = 0; col < 4; col++) ASSERT_EQ(a.A()[i][col], b.A()[i][col]) << i << "," << col;
}

// Block of rows of four, the layout of the lower-case twins.
struct BlockTable {
  std::unique_ptr<double[][4]> rows;
  explicit BlockTable(int n) : rows(std::make_unique<double[][4]>(n + 1)) {
    for (int i = 0; i <= n; i++) std::fill(rows[i], rows[i] + 4, kNaN);
  }
  double (*A())[4] { return rows.get(); }
};

// Fills column 0 (and the end slopes that codes other than 0 read) of either layout.
template <class Table>
void fill(Table& t, const std::vector<double>& y, double s0, double sn) {
  int n = static_cast<int>(y.size()) - 1;
  for (int i = 0; i <= n; i++) t.A()[i][0] = y[i];
  t.A()[0][1] = s0;
  t.A()[n][1] = sn;
}

RowTable spline_table(std::vector<double> tau, const std::vector<double>& y, int ibcbeg, int ibcend,
                      double s0 = kNaN, double sn = kNaN) {
  int n = static_cast<int>(tau.size()) - 1;
  RowTable t(n);
  fill(t, y, s0, sn);
  Spline(tau.data(), t.A(), n, ibcbeg, ibcend);
  return t;
}

// Random table: abscissae, values in [-1, 1] and two end slopes in [-1, 1].
struct Sample {
  std::vector<double> tau, y;
  double s0, sn;
};

Sample random_sample(std::mt19937_64& rng, int n) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Sample d{random_abscissae(rng, n), std::vector<double>(n + 1), u(rng), u(rng)};
  for (double& v : d.y) v = u(rng);
  return d;
}

std::vector<double> values_of(const Poly& p, const std::vector<double>& x) {
  std::vector<double> y;
  for (double t : x) y.push_back(p.at(t));
  return y;
}

// Gaussian elimination with partial pivoting on a dense system M z = r.
std::vector<double> dense_solve(std::vector<std::vector<double>> M, std::vector<double> r) {
  int size = static_cast<int>(r.size());
  for (int col = 0; col < size; col++) {
    int pivot = col;
    for (int row = col + 1; row < size; row++)
      if (std::fabs(M[row][col]) > std::fabs(M[pivot][col])) pivot = row;
    std::swap(M[col], M[pivot]);
    std::swap(r[col], r[pivot]);
    for (int row = col + 1; row < size; row++) {
      double f = M[row][col] / M[col][col];
      for (int k = col; k < size; k++) M[row][k] -= f * M[col][k];
      r[row] -= f * r[col];
    }
  }
  std::vector<double> z(size);
  for (int row = size - 1; row >= 0; row--) {
    double sum = r[row];
    for (int k = row + 1; k < size; k++) sum -= M[row][k] * z[k];
    z[row] = sum / M[row][row];
  }
  return z;
}

// Reference cubic spline: piece i is a + b h + c h^2 + d h^3 with h = t - tau[i]; the 4n unknowns
// come from interpolation at both ends of every piece, continuity of slope and curvature at the
// inner points, and the end conditions (0: equal third derivatives on the two end pieces, 1: the
// given end slope). Returns {a, b, c, d} per piece.
std::vector<std::array<double, 4>> reference_spline(const std::vector<double>& tau,
                                                    const std::vector<double>& y, int ibcbeg,
                                                    int ibcend, double s0, double sn) {
  int n = static_cast<int>(tau.size()) - 1, size = 4 * n;
  std::vector<std::vector<double>> M;
  std::vector<double> r;
  auto equation = [&](std::vector<std::pair<int, double>> terms, double rhs) {
    std::vector<double> row(size, 0.0);
    for (auto [k, v] : terms) row[k] += v;
    M.push_back(row);
    r.push_back(rhs);
  };
  for (int i = 0; i < n; i++) {
    double w = tau[i + 1] - tau[i];
    int p = 4 * i;
    equation({{p, 1}}, y[i]);
    equation({{p, 1}, {p + 1, w}, {p + 2, w * w}, {p + 3, w * w * w}}, y[i + 1]);
    if (i + 1 < n) {
      equation({{p + 1, 1}, {p + 2, 2 * w}, {p + 3, 3 * w * w}, {p + 5, -1}}, 0);
      equation({{p + 2, 2}, {p + 3, 6 * w}, {p + 6, -2}}, 0);
    }
  }
  double wl = tau[n] - tau[n - 1];
  int last = 4 * (n - 1);
  if (ibcbeg == 0) equation({{3, 1}, {7, -1}}, 0);
  if (ibcbeg == 1) equation({{1, 1}}, s0);
  if (ibcend == 0) equation({{last - 1, 1}, {last + 3, -1}}, 0);
  if (ibcend == 1) equation({{last + 1, 1}, {last + 2, 2 * wl}, {last + 3, 3 * wl * wl}}, sn);
  std::vector<double> z = dense_solve(M, r);
  std::vector<std::array<double, 4>> pieces(n);
  for (int i = 0; i < n; i++) pieces[i] = {z[4 * i], z[4 * i + 1], z[4 * i + 2], z[4 * i + 3]};
  return pieces;
}

struct EndCodes {
  int ibcbeg, ibcend, least_n;
};
const EndCodes kEndCodes[] = {{0, 0, 3}, {1, 1, 1}, {1, 0, 2}, {0, 1, 2}};

TEST(CubicSpline, ReproducesAnyCubicInEveryRowForEveryEndCodeWithExactSlopes) {
  std::mt19937_64 rng(11);
  for (const auto& codes : kEndCodes) {
    for (int n = codes.least_n; n <= 24; n += (n < 6 ? 1 : 7)) {
      for (int trial = 0; trial < 20; trial++) {
        Poly p = random_poly(rng, 3);
        std::vector<double> tau = random_abscissae(rng, n);
        RowTable t = spline_table(tau, values_of(p, tau), codes.ibcbeg, codes.ibcend,
                                  p.at(tau[0], 1), p.at(tau[n], 1));
        for (int i = 0; i <= n; i++) {
          ASSERT_EQ(t.A()[i][0], p.at(tau[i])) << "column 0 is never changed";
          for (int d = 1; d <= 3; d++)
            ASSERT_NEAR(t.A()[i][d], p.at(tau[i], d), 1e-9 * (1 + std::fabs(p.at(tau[i], d))))
                << "codes " << codes.ibcbeg << codes.ibcend << " n " << n << " row " << i;
        }
        if (n == 1) continue;  // Value then stops at column 1 (see the layout twins below)
        std::uniform_real_distribution<double> where(tau[0] - 1, tau[n] + 1);
        for (int k = 0; k < 10; k++) {
          double xx = where(rng);
          for (int d = 0; d <= 3; d++)
            ASSERT_NEAR(Value(tau.data(), t.A(), n, xx, d), p.at(xx, d),
                        1e-9 * (1 + std::fabs(p.at(xx, d))));
        }
      }
    }
  }
}

TEST(CubicSpline, AgreesWithADenseSolveOfThePiecewiseSystemOnRandomData) {
  std::mt19937_64 rng(12);
  for (const auto& codes : kEndCodes) {
    for (int n = codes.least_n; n <= 30; n += (n < 5 ? 1 : 5)) {
      auto [tau, y, s0, sn] = random_sample(rng, n);
      RowTable t = spline_table(tau, y, codes.ibcbeg, codes.ibcend, s0, sn);
      auto pieces = reference_spline(tau, y, codes.ibcbeg, codes.ibcend, s0, sn);
      for (int i = 0; i <= n; i++) {
        // Row n holds the last piece at its right end.
        auto [a, b, c, d] = pieces[std::min(i, n - 1)];
        double h = i < n ? 0.0 : tau[n] - tau[n - 1];
        double expected[4] = {a + h * (b + h * (c + h * d)), b + h * (2 * c + 3 * h * d),
                              2 * c + 6 * h * d, 6 * d};
        for (int col = 0; col < 4; col++)
          ASSERT_NEAR(t.A()[i][col], expected[col], 1e-9 * (1 + std::fabs(expected[col])))
              << "codes " << codes.ibcbeg << codes.ibcend << " n " << n << " row " << i;
      }
    }
  }
}

TEST(CubicSpline, AnyNonZeroEndCodeGivesTheSameNumbersAsCodeOne) {
  std::mt19937_64 rng(13);
  for (int n : {1, 2, 5, 17}) {
    auto [tau, y, s0, sn] = random_sample(rng, n);
    RowTable code1 = spline_table(tau, y, 1, 1, s0, sn);
    for (int ibcend : {2, -1, 99}) {
      RowTable other = spline_table(tau, y, 1, ibcend, s0, sn);
      expect_identical(other, code1, n);
    }
    // A first equation 1 * s(0) + 0 * s(1) = s0, given with any other start code.
    for (int ibcbeg : {2, -3}) {
      RowTable given(n);
      fill(given, y, s0, sn);
      given.A()[0][2] = 0;
      given.A()[0][3] = 1;
      Spline(tau.data(), given.A(), n, ibcbeg, 1);
      expect_identical(given, code1, n);
    }
  }
}

TEST(CubicSpline, AGivenFirstEquationImposesItsCondition) {
  // 2 s(0) + s(1) = 3 (y1 - y0) / (tau1 - tau0) makes the second derivative vanish at tau[0].
  std::mt19937_64 rng(14);
  for (int n : {1, 2, 3, 9}) {
    auto [tau, y, s0, sn] = random_sample(rng, n);
    double divdf = (y[1] - y[0]) / (tau[1] - tau[0]);
    RowTable t(n);
    fill(t, y, 3 * divdf, sn);
    t.A()[0][3] = 2;
    t.A()[0][2] = 1;
    Spline(tau.data(), t.A(), n, 2, 1);
    EXPECT_NEAR(2 * t.A()[0][1] + t.A()[1][1], 3 * divdf, 1e-12);
    EXPECT_NEAR(t.A()[0][2], 0.0, 1e-9);
  }
}

TEST(WorkedExample, TableValuesExtrapolationsAndIntegralMatchTheHandCalculation) {
  Poly p{{1.0, 0.5, -2.0, 1.0}};  // x^3 - 2x^2 + 0.5x + 1
  std::vector<double> tau{0.0, 0.7, 1.5, 2.2};
  RowTable t = spline_table(tau, values_of(p, tau), 0, 0);
  const double row0[4] = {1, 0.5, -4, 6}, row3[4] = {3.068, 6.22, 9.2, 6};
  for (int col = 0; col < 4; col++) {
    EXPECT_NEAR(t.A()[0][col], row0[col], 1e-12);
    EXPECT_NEAR(t.A()[3][col], row3[col], 1e-12);
    for (int i : {1, 2}) EXPECT_NEAR(t.A()[i][col], p.at(tau[i], col), 1e-12);
  }
  double* x = tau.data();
  EXPECT_NEAR(Value(x, t.A(), 3, 1.0, 0), 0.5, 1e-12);
  EXPECT_NEAR(Value(x, t.A(), 3, 1.0, 1), -0.5, 1e-12);
  EXPECT_NEAR(Value(x, t.A(), 3, 1.0, 2), 2.0, 1e-12);
  EXPECT_NEAR(Value(x, t.A(), 3, 1.0, 3), 6.0, 1e-12);
  EXPECT_EQ(Value(x, t.A(), 3, 1.0, 4), 0.0);
  EXPECT_NEAR(Value(x, t.A(), 3, 3.0, 0), 11.5, 1e-12);
  EXPECT_NEAR(Value(x, t.A(), 3, -1.0, 0), -2.5, 1e-12);
  // Antiderivative x^4/4 - 2x^3/3 + x^2/4 + x, and the seven-digit values worked by hand.
  auto P = [](double v) { return v * v * v * v / 4 - 2 * v * v * v / 3 + v * v / 4 + v; };
  const double by_hand[4] = {0, 0.6538583, 1.078125, 2.1677333};
  double Ix[4];
  Integral(x, t.A(), 3, Ix);
  for (int i = 0; i < 4; i++) {
    EXPECT_NEAR(Ix[i], P(tau[i]), 1e-12);
    EXPECT_NEAR(Ix[i], by_hand[i], 5e-8);
  }
}

// The lower-case twins work on a block of rows of four: the same tables and the same values.
TEST(SplineLayouts, BlockTwinsGiveTheSameTablesAndValuesAndValueGivesTheRowAtEveryTablePoint) {
  std::mt19937_64 rng(15);
  for (const auto& codes : kEndCodes) {
    for (int n = codes.least_n; n <= 40; n += 3) {
      auto [tau, y, s0, sn] = random_sample(rng, n);
      RowTable rows = spline_table(tau, y, codes.ibcbeg, codes.ibcend, s0, sn);
      BlockTable block(n);
      fill(block, y, s0, sn);
      spline(tau.data(), block.A(), n, codes.ibcbeg, codes.ibcend);
      expect_identical(block, rows, n);
      if (n == 1) continue;  // Value then stops at the slope (the next test)
      for (int i = 0; i <= n; i++) {
        for (int d = 0; d <= 3; d++) {
          ASSERT_EQ(Value(tau.data(), rows.A(), n, tau[i], d), rows.A()[i][d]);
          ASSERT_EQ(value(tau.data(), block.A(), n, tau[i], d), block.A()[i][d]);
        }
        ASSERT_EQ(Value(tau.data(), rows.A(), n, tau[i], 4), 0.0);
      }
      std::uniform_real_distribution<double> where(tau[0] - 1, tau[n] + 1);
      for (int k = 0; k < 50; k++) {
        double xx = where(rng);
        for (int d = 0; d <= 5; d++)
          ASSERT_EQ(Value(tau.data(), rows.A(), n, xx, d), value(tau.data(), block.A(), n, xx, d));
      }
    }
  }
}

TEST(SplineEvaluation, WithASinglePieceValueStopsAtTheSlopeWhileItsTwinUsesEveryColumn) {
  // One piece through a cubic's values and slopes: value follows the cubic, Value only the line
  // of columns 0 and 1 of the row that holds xx.
  Poly p{{0.3, -1.2, 0.8, 1.5}};
  std::vector<double> tau{0.5, 1.7};
  RowTable rows = spline_table(tau, values_of(p, tau), 1, 1, p.at(0.5, 1), p.at(1.7, 1));
  BlockTable block(1);
  for (int i = 0; i <= 1; i++) std::copy(rows.A()[i], rows.A()[i] + 4, block.A()[i]);
  for (double xx : {-1.0, 0.5, 0.9, 1.7, 2.5}) {
    int i = xx < 1.7 ? 0 : 1;
    double h = xx - tau[i];
    EXPECT_EQ(Value(tau.data(), rows.A(), 1, xx, 0), rows.A()[i][0] + h * rows.A()[i][1]);
    EXPECT_EQ(Value(tau.data(), rows.A(), 1, xx, 1), rows.A()[i][1]);
    EXPECT_EQ(Value(tau.data(), rows.A(), 1, xx, 2), 0.0);
    EXPECT_EQ(Value(tau.data(), rows.A(), 1, xx, 3), 0.0);
    for (int d = 0; d <= 3; d++)
      EXPECT_NEAR(value(tau.data(), block.A(), 1, xx, d), p.at(xx, d),
                  1e-11 * (1 + std::fabs(p.at(xx, d))));
  }
}

TEST(SplineIntegral, AgreesWithGaussLegendreQuadratureOfValueOnEveryPiece) {
  std::mt19937_64 rng(18);
  const double node = 1 / std::sqrt(3.0);  // two-point rule: exact for cubics
  for (int n : {3, 4, 10, 50}) {
    auto [tau, y, s0, sn] = random_sample(rng, n);
    RowTable t = spline_table(tau, y, 0, 0);
    std::vector<double> Ix(n + 1, kNaN);
    Integral(tau.data(), t.A(), n, Ix.data());
    EXPECT_EQ(Ix[0], 0.0);
    double sum = 0;
    for (int i = 0; i < n; i++) {
      double mid = (tau[i] + tau[i + 1]) / 2, half = (tau[i + 1] - tau[i]) / 2;
      sum += half * (Value(tau.data(), t.A(), n, mid - half * node, 0) +
                     Value(tau.data(), t.A(), n, mid + half * node, 0));
      ASSERT_NEAR(Ix[i + 1], sum, 1e-12 * (1 + std::fabs(sum))) << "n " << n << " point " << i;
    }
  }
}

TEST(LinearInterpolation, GivesValueSlopeOrZeroByOrderAndExtendsTheEndSegments) {
  std::vector<double> x{0.0, 1.0, 2.0, 4.0}, A{1.0, 3.0, 2.0, 6.0};  // slopes 2, -1, 2
  int n = 2;
  for (int i = 0; i <= n; i++) EXPECT_EQ(linear(x.data(), A.data(), n, x[i], 0), A[i]);
  const double slope[3] = {2, -1, 2};
  for (double xx : {-3.0, 0.0, 0.4, 1.0, 1.5, 2.0, 3.9, 4.0, 9.0}) {
    int segment = xx < 1 ? 0 : xx < 2 ? 1 : 2;
    for (int order : {1, -1, -50})
      EXPECT_EQ(linear(x.data(), A.data(), n, xx, order), slope[segment]) << xx;
    EXPECT_DOUBLE_EQ(linear(x.data(), A.data(), n, xx, 0),
                     A[segment] + (xx - x[segment]) * slope[segment]);
    for (int order : {2, 3, 100}) EXPECT_EQ(linear(x.data(), A.data(), n, xx, order), 0.0);
  }
  // n = 1 over points 0, 1, 2: from x[1] on, the segment from x[1] to x[2].
  std::vector<double> xs{0.0, 1.0, 2.0}, ys{0.0, 1.0, 0.0};
  EXPECT_DOUBLE_EQ(linear(xs.data(), ys.data(), 1, 0.5, 0), 0.5);
  EXPECT_DOUBLE_EQ(linear(xs.data(), ys.data(), 1, -1.0, 0), -1.0);
  EXPECT_DOUBLE_EQ(linear(xs.data(), ys.data(), 1, 1.5, 0), 0.5);
  EXPECT_DOUBLE_EQ(linear(xs.data(), ys.data(), 1, 3.0, 0), -1.0);
  EXPECT_EQ(linear(xs.data(), ys.data(), 1, 1.0, 1), -1.0);
}

// The points whose ordinate the result depends on: a unit ordinate at point k changes the
// interpolant at xx (not a table point) exactly when point k is in the window.
template <class Interpolate>
std::set<int> window_of(std::vector<double> x, Interpolate interpolate) {
  std::set<int> window;
  for (std::size_t k = 0; k < x.size(); k++) {
    std::vector<double> unit(x.size(), 0.0);
    unit[k] = 1;
    if (interpolate(x.data(), unit.data()) != 0) window.insert(static_cast<int>(k));
  }
  return window;
}

std::set<int> points(int first, int last) {
  std::set<int> s;
  for (int k = first; k <= last; k++) s.insert(k);
  return s;
}

TEST(QuadraticInterpolation, ReproducesAnyParabolaWhateverTheWindowAndTheOrder) {
  std::mt19937_64 rng(19);
  for (int n : {2, 3, 4, 7, 20}) {
    for (int trial = 0; trial < 20; trial++) {
      Poly p = random_poly(rng, 2);
      std::vector<double> x = random_abscissae(rng, n), y = values_of(p, x);
      std::uniform_real_distribution<double> where(x[0] - 1, x[n] + 1);
      for (int k = 0; k < 20; k++) {
        double xx = where(rng);
        double q = Quadratic(x.data(), y.data(), n, xx, 0);
        ASSERT_NEAR(q, p.at(xx), 1e-11 * (1 + std::fabs(p.at(xx))));
        for (int jderiv : {1, 2, -4}) ASSERT_EQ(Quadratic(x.data(), y.data(), n, xx, jderiv), q);
      }
    }
  }
}

TEST(QuadraticInterpolation, TakesTheWindowOnTheSideOfTheNearerHalfAndTheRightOneAtTheMiddle) {
  std::vector<double> x{0, 1, 2, 3, 4};
  const std::pair<double, int> cases[] = {{-3, 0},  {0.5, 0}, {1.4, 0}, {1.5, 1}, {1.6, 1},
                                          {2.4, 1}, {2.5, 2}, {3.2, 2}, {7, 2}};
  for (auto [xx, first] : cases) {
    auto window =
        window_of(x, [xx = xx](double* xs, double* y) { return Quadratic(xs, y, 4, xx, 0); });
    EXPECT_EQ(window, points(first, first + 2)) << "xx = " << xx;
  }
}

TEST(PolynomialInterpolation, ReproducesEveryPolynomialOfDegreeUpToM) {
  std::mt19937_64 rng(20);
  for (int m = 0; m <= 9; m++) {
    for (int degree = 0; degree <= m; degree++) {
      for (int n : {m, m + 1, m + 6}) {
        Poly p = random_poly(rng, degree);
        std::vector<double> x = random_abscissae(rng, n), y = values_of(p, x);
        double scale = 1;
        for (double v : y) scale = std::max(scale, std::fabs(v));
        std::uniform_real_distribution<double> where(x[0] - 0.3, x[n] + 0.3);
        for (int k = 0; k < 10; k++) {
          double xx = where(rng);
          ASSERT_NEAR(polynomial(x.data(), y.data(), n, xx, m), p.at(xx),
                      1e-9 * (scale + std::fabs(p.at(xx))))
              << "m " << m << " degree " << degree << " n " << n;
        }
      }
    }
  }
}

TEST(PolynomialInterpolation, CentresTheWindowAndShiftsItInwardAtTheEnds) {
  std::vector<double> x{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  // {m, xx, first point of the window}
  const std::tuple<int, double, int> cases[] = {
      {3, 5.5, 4}, {3, 0.5, 0}, {3, -2, 0},  {3, 1.5, 0}, {3, 9.2, 7}, {3, 12, 7}, {2, 5.5, 4},
      {2, 0.5, 0}, {2, 9.5, 8}, {9, 5.5, 1}, {0, 5.5, 5}, {0, -1, 0},  {0, 12, 10}};
  for (auto [m, xx, first] : cases) {
    auto window = window_of(
        x, [m = m, xx = xx](double* xs, double* A) { return polynomial(xs, A, 10, xx, m); });
    EXPECT_EQ(window, points(first, first + m)) << "m = " << m << ", xx = " << xx;
  }
  // Degree 0 is a step function: the ordinate at the left point of xx.
  std::vector<double> A{5, 4, 3, 2, 1, 0, -1, -2, -3, -4, -5};
  EXPECT_EQ(polynomial(x.data(), A.data(), 10, 5.0, 0), 0.0);
  EXPECT_EQ(polynomial(x.data(), A.data(), 10, 4.99, 0), 1.0);
  EXPECT_EQ(polynomial(x.data(), A.data(), 0, 3.0, 0), 5.0);  // a single point
}

using ::testing::ExitedWithCode;

TEST(SplineDeathTest, InputOutsideTheLimitsEndsTheRunNamingTheRoutineAndTheLimit) {
  struct Case {
    std::vector<double> tau;
    int n, ibcbeg, ibcend;
    double a02, a03;  // the first equation's coefficients, read for start codes other than 0, 1
    std::string message;
  };
  // With unit widths the pivot of row 1 is 4 - A[0][2] / A[0][3]; with end code 0 the last pivot
  // is 0 when the pivot of row 2, 4 - 1 / (pivot of row 1), is 2.
  const std::vector<double> unit{0, 1, 2, 3};
  // clang-format off
  const Case cases[] = {
      {unit, 2, 0, 0, 0, 1, "n = 2 is below 3, the least for end codes 0 and 0"},
      {unit, 1, 0, 1, 0, 1, "n = 1 is below 2, the least for end codes 0 and 1"},
      {unit, 1, 1, 0, 0, 1, "n = 1 is below 2, the least for end codes 1 and 0"},
      {unit, 0, 1, 1, 0, 1, "n = 0 is below 1, the least for end codes 1 and 1"},
      {unit, -4, 5, 7, 0, 1, "n = -4 is below 1, the least for end codes 5 and 7"},
      {{0, 1, 1, 2}, 3, 0, 0, 0, 1,
       "abscissae not strictly increasing: tau\\[2\\] = 1 is not above tau\\[1\\] = 1"},
      {{0, 2, 1.5, 3}, 3, 1, 1, 0, 1, "tau\\[2\\] = 1.5 is not above tau\\[1\\] = 2"},
      {{0, kNaN, 2, 3}, 3, 1, 0, 0, 1, "tau\\[1\\] = nan is not above tau\\[0\\] = 0"},
      {unit, 3, 2, 1, 1, 0, "A\\[0\\]\\[3\\] = 0, the coefficient of the slope at tau\\[0\\] "
                            "in the first equation given with start code 2, must not be 0"},
      {unit, 3, -1, 0, 1, 0, "A\\[0\\]\\[3\\] = 0, .* start code -1, must not be 0"},
      {unit, 3, 2, 1, 4, 1, "the first equation given with start code 2 makes the system "
                            "singular \\(zero pivot in row 1\\)"},
      {unit, 3, 3, 0, 3.5, 1, "start code 3 makes the system singular \\(zero pivot in row 3\\)"}};
  // clang-format on
  for (const auto& c : cases) {
    std::vector<double> tau = c.tau;
    RowTable rows(3);
    BlockTable block(3);
    fill(rows, {1, 2, 0, 1}, 0.5, 0.5);
    fill(block, {1, 2, 0, 1}, 0.5, 0.5);
    rows.A()[0][2] = block.A()[0][2] = c.a02;
    rows.A()[0][3] = block.A()[0][3] = c.a03;
    EXPECT_EXIT(Spline(tau.data(), rows.A(), c.n, c.ibcbeg, c.ibcend), ExitedWithCode(1),
                "Spline: .*" + c.message);
    EXPECT_EXIT(spline(tau.data(), block.A(), c.n, c.ibcbeg, c.ibcend), ExitedWithCode(1),
                "spline: .*" + c.message);
  }
}

TEST(SplineEvaluationDeathTest, ANegativeOrderOrATableWithoutAPieceEndsTheRun) {
  std::vector<double> tau{0, 1, 2, 3};
  RowTable rows = spline_table(tau, {1, 2, 0, 1}, 0, 0);
  BlockTable block(3);
  double Ix[4];
  EXPECT_EXIT(Value(tau.data(), rows.A(), 3, 0.5, -1), ExitedWithCode(1),
              "Value: derivative order jderiv = -1 is below 0");
  EXPECT_EXIT(value(tau.data(), block.A(), 3, 0.5, -2), ExitedWithCode(1),
              "value: derivative order jderiv = -2 is below 0");
  EXPECT_EXIT(Value(tau.data(), rows.A(), 0, 0.5, 0), ExitedWithCode(1),
              "Value: n = 0 is below 1, the least for a spline table");
  EXPECT_EXIT(value(tau.data(), block.A(), -1, 0.5, 0), ExitedWithCode(1),
              "value: n = -1 is below 1, the least for a spline table");
  EXPECT_EXIT(Integral(tau.data(), rows.A(), 0, Ix), ExitedWithCode(1),
              "Integral: n = 0 is below 1, the least for a spline table");
}

TEST(LocalInterpolationDeathTest, TooFewPointsABadDegreeOrRepeatedAbscissaeEndTheRun) {
  std::vector<double> x{0, 1, 2, 3}, A{1, 2, 3, 4}, flat_start{0, 0, 1, 2}, flat_end{0, 1, 2, 2};
  EXPECT_EXIT(linear(x.data(), A.data(), 0, 0.5, 0), ExitedWithCode(1),
              "linear: n = 0 is below 1, the least \\(points 0\\.\\.n \\+ 1 are used\\)");
  EXPECT_EXIT(linear(flat_start.data(), A.data(), 2, -1.0, 0), ExitedWithCode(1),
              "linear: abscissae not strictly increasing: x\\[1\\] = 0 is not above x\\[0\\] = 0");
  EXPECT_EXIT(linear(flat_end.data(), A.data(), 2, 5.0, 1), ExitedWithCode(1),
              "linear: abscissae not strictly increasing: x\\[3\\] = 2 is not above x\\[2\\] = 2");
  EXPECT_EXIT(Quadratic(x.data(), A.data(), 1, 0.5, 0), ExitedWithCode(1),
              "Quadratic: n = 1 is below 2, the least \\(three points 0\\.\\.n are used\\)");
  EXPECT_EXIT(Quadratic(flat_start.data(), A.data(), 3, -1.0, 0), ExitedWithCode(1),
              "Quadratic: abscissae not strictly increasing: x\\[1\\] = 0 is not above x\\[0\\]");
  EXPECT_EXIT(polynomial(x.data(), A.data(), 3, 0.5, 10), ExitedWithCode(1),
              "polynomial: degree m = 10 is outside 0\\.\\.9");
  EXPECT_EXIT(polynomial(x.data(), A.data(), 3, 0.5, -1), ExitedWithCode(1),
              "polynomial: degree m = -1 is outside 0\\.\\.9");
  EXPECT_EXIT(polynomial(x.data(), A.data(), 2, 0.5, 3), ExitedWithCode(1),
              "polynomial: degree m = 3 is above n = 2, the index of the last point");
  EXPECT_EXIT(polynomial(flat_end.data(), A.data(), 3, 2.5, 2), ExitedWithCode(1),
              "polynomial: abscissae not strictly increasing: x\\[3\\] = 2 is not above x\\[2\\]");
}

}  // namespace
