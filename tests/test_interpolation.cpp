// Interpolation library: the cubic spline by the conditions that define it, its evaluation and
// integral against its own rows, local interpolation by reproduction of polynomials and the points
// it uses, and every limit. The interval search is exercised by every fit of the program.
#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <random>

#include "Interpolation.hpp"
#include "table.hpp"

namespace {

using Vec = std::vector<double>;
const double kNaN = std::nan("");
std::mt19937_64 rng(11);
double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
bool close(double a, double b) { return std::fabs(a - b) <= 1e-9 * (1 + std::fabs(b)); }

// Number of breakpoints xt[1..] not greater than x: the whole contract of interval.
int count_not_above(const Vec& xt, double x) {
  return int(std::count_if(xt.begin() + 1, xt.end(), [=](double t) { return t <= x; }));
}

// n + 1 random numbers in [lo, hi]; rising: the steps between them, from about -1.2.
Vec randoms(int n, double lo, double hi, bool rising = false) {
  Vec v;
  for (int i = 0; i <= n; i++) v.push_back((rising ? (i ? v.back() : -1.5) : 0) + uniform(lo, hi));
  return v;
}

// A spline table in both layouts: row pointers, each row a block of its own, and one block of rows
// of four. Column 0 holds y; row 0 holds e[0], e[2], e[3] and row n e[1] in column 1 (what the end
// codes read); everything else is NaN.
struct Tables {
  std::vector<Vec> storage;
  std::vector<double*> rows;
  std::unique_ptr<double[][4]> block;
};
Tables make_tables(const Vec& y, const Vec& e) {
  int n = int(y.size()) - 1;
  Tables t{std::vector<Vec>(n + 1, Vec(4, kNaN)), {}, std::make_unique<double[][4]>(n + 1)};
  t.storage[0] = {0, e[0], e[2], e[3]};
  t.storage[n][1] = e[1];
  for (int i = 0; i <= n; i++) {
    t.storage[i][0] = y[i];
    t.rows.push_back(t.storage[i].data());
    std::copy_n(t.rows[i], 4, t.block[i]);
  }
  return t;
}
// Spline and spline on the same inputs, which must give the same bits.
Tables spline_tables(const Vec& tau, const Vec& y, int ibcbeg, int ibcend, const Vec& e) {
  int n = int(y.size()) - 1;
  Tables t = make_tables(y, e);
  Spline(tau.data(), t.rows.data(), n, ibcbeg, ibcend);
  spline(tau.data(), t.block.get(), n, ibcbeg, ibcend);
  for (int i = 0; i <= n; i++) EXPECT_EQ(0, std::memcmp(t.rows[i], t.block[i], sizeof t.block[i]));
  return t;
}

// Derivative d of the sum of r[m] h^m / m! over m = 0..k, term by term.
double taylor(const double* r, double h, int d, int k) {
  double sum = 0, term = 1;
  for (int m = d; m <= k; m++, term *= h / (m - d)) sum += r[m] * term;
  return sum;
}

// Random data: a piecewise cubic through the points with continuous slope and curvature, and the
// end conditions of its codes (0: not-a-knot, 1: the slope, others at the start: a03 s(0) +
// a02 s(1) = s0, at the end as 1); these determine the spline.
TEST(CubicSpline, IsTheSmoothPiecewiseCubicWithTheEndConditionsOfItsCodes) {
  for (auto [ibcbeg, ibcend, least] :
       {std::array{0, 0, 3}, {1, 1, 1}, {1, 0, 2}, {0, 1, 2}, {2, 1, 1}, {2, 0, 2}, {-3, 99, 1}})
    for (int n = least; n <= 30; n += n < 5 ? 1 : 5) {
      Vec tau = randoms(n, 0.1, 0.6, true), y = randoms(n, -1, 1),
          e = {uniform(-1, 1), uniform(-1, 1), uniform(0, 2), uniform(1, 3)};
      Tables t = spline_tables(tau, y, ibcbeg, ibcend, e);
      double** A = t.rows.data();
      for (int i = 1; i <= n; i++)  // each row continues the one before it
        for (int d = 0; d <= 2; d++)
          ASSERT_TRUE(A[i][0] == y[i] &&
                      close(A[i][d], taylor(A[i - 1], tau[i] - tau[i - 1], d, 3)));
      double start = ibcbeg == 0   ? A[0][3] - A[1][3]
                     : ibcbeg == 1 ? A[0][1] - e[0]
                                   : e[3] * A[0][1] + e[2] * A[1][1] - e[0];
      double end = ibcend == 0 ? A[n - 1][3] - A[n - 2][3] : A[n][1] - e[1];
      EXPECT_TRUE(close(start, 0) && close(end, 0) && A[n][3] == A[n - 1][3])
          << ibcbeg << ibcend << n;
    }
}

// Value and value evaluate the row that holds xx (the one to its right at a breakpoint, the end
// rows beyond), Value truncated after the slope for a single piece; Integral sums the rows'
// integrals (two-point Gauss quadrature, exact for cubics).
TEST(SplineTable, ValueAndIntegralAreThoseOfItsTaylorRows) {
  for (int n : {1, 2, 3, 9, 40}) {
    Vec tau = randoms(n, 0.1, 0.6, true), probes = tau, Ix(n + 1);
    Tables t = spline_tables(tau, randoms(n, -1, 1), 1, 1, {0.5, -0.5, kNaN, kNaN});
    while (probes.size() < 60) probes.push_back(uniform(tau[0] - 1, tau[n] + 1));
    for (double xx : probes)
      for (int d = 0, i = count_not_above(tau, xx); d <= 5; d++) {
        double v = Value(tau.data(), t.rows.data(), n, xx, d), h = xx - tau[i];
        double w = value(tau.data(), t.block.get(), n, xx, d);
        ASSERT_TRUE(close(v, taylor(t.rows[i], h, d, n == 1 ? 1 : 3)) &&
                    close(w, taylor(t.rows[i], h, d, 3)) && (n == 1 || v == w))
            << n << " " << xx;
      }
    Integral(tau.data(), t.rows.data(), n, Ix.data());
    double sum = 0, node = (1 - 1 / std::sqrt(3.0)) / 2;
    for (int i = 1; i <= n; i++) {
      const double h = tau[i] - tau[i - 1], *r = t.rows[i - 1];
      sum += h / 2 * (taylor(r, h * node, 0, 3) + taylor(r, h * (1 - node), 0, 3));
      ASSERT_TRUE(Ix[0] == 0 && close(Ix[i], sum)) << n << " " << i;
    }
  }
}

// linear (over points 0..n + 1) gives the line's value for order 0, its slope for any other order
// below 2, and 0 from 2 on; Quadratic ignores its order argument.
TEST(LocalInterpolation, ReproducesEveryPolynomialOfItsDegree) {
  for (int m = 0; m <= 9; m++)
    for (int n : {m, m + 1, m + 6}) {
      Vec x = randoms(n, 0.1, 0.6, true), c = randoms(m, -1, 1), y;
      auto p = [&](double t, int d = 0) {  // the polynomial (d = 0) or its slope (d = 1)
        double sum = 0;
        for (int k = m; k >= d; k--) sum = sum * t + c[k] * (d ? k : 1);
        return sum;
      };
      double scale = 1;
      for (double t : x) y.push_back(p(t));
      for (double v : y) scale = std::max(scale, std::fabs(v));
      for (double xx = x[0] - 0.3; xx < x[n] + 0.3; xx += 0.05) {
        ASSERT_NEAR(polynomial(x.data(), y.data(), n, xx, m), p(xx), 1e-9 * scale) << m;
        for (int order : {0, 1, -4, 2, 3, 100}) {
          double expected = order == 0 ? p(xx) : order < 2 ? p(xx, 1) : 0;
          ASSERT_TRUE(m != 1 || n < 2 ||
                      close(linear(x.data(), y.data(), n - 1, xx, order), expected));
          ASSERT_TRUE(m != 2 || std::fabs(Quadratic(x.data(), y.data(), n, xx, order) - p(xx)) <
                                    1e-11 * scale);
        }
      }
    }
}

// The routine named in a table on abscissae x, ordinates y and the arguments a of its line.
double call(const std::string& routine, const Vec& x, const Vec& y, Vec a) {
  a.insert(a.end(), {0, 0, 0, 1});  // defaults for arguments a line leaves out
  Tables t = make_tables(y, {0.5, 0.5, a[3], a[4]});
  int n = int(a[0]), i1 = int(a[1]), i2 = int(a[2]);
  if (routine == "Spline") Spline(x.data(), t.rows.data(), n, i1, i2);
  if (routine == "spline") spline(x.data(), t.block.get(), n, i1, i2);
  if (routine == "Value") return Value(x.data(), t.rows.data(), n, 0.5, i1);
  if (routine == "value") return value(x.data(), t.block.get(), n, 0.5, i1);
  if (routine == "Integral") Integral(x.data(), t.rows.data(), n, a.data());
  if (routine == "linear") return linear(x.data(), y.data(), n, a[1], i2);
  if (routine == "Quadratic") return Quadratic(x.data(), y.data(), n, a[1], 0);
  return routine == "polynomial" ? polynomial(x.data(), y.data(), n, a[1], i2) : 0;
}

// A unit ordinate at point k changes polynomial's value at xx exactly when k is in its window.
TEST(LocalInterpolation, PolynomialDependsOnTheWindowOfPointsTheContractNames) {
  for (const Row& row : table("library/windows.txt")) {
    Vec a = numbers(row[0]), x(std::size_t(a[0] + 1));
    std::iota(x.begin(), x.end(), 0.0);
    for (int k = 0, first = std::stoi(row[1]); k < int(x.size()); k++) {
      Vec unit(x.size(), 0.0);
      unit[k] = 1;
      EXPECT_EQ(polynomial(x.data(), unit.data(), int(a[0]), a[1], int(a[2])) != 0,
                k >= first && k <= first + a[2])
          << row[0] << ", point " << k;
    }
  }
}

// Spline and Value limits hold for their lower-case twins too.
TEST(InterpolationLimitsDeathTest, EveryBrokenLimitEndsTheRunNamingTheRoutineAndTheLimit) {
  for (const Row& row : table("library/interpolation_limits.txt"))
    for (std::string routine : {row[0], row[0] == "Spline"  ? "spline"
                                        : row[0] == "Value" ? "value"
                                                            : row[0]})
      EXPECT_EXIT(call(routine, numbers(row[1]), {1, 2, 0, 1}, numbers(row[2])),
                  ::testing::ExitedWithCode(1), numerror_report(routine + ": " + row[3]));
}

}  // namespace
