// The spline model and its fits: evaluators, continuity, the objective against its defining sum,
// knot placement, fit_model against the normal equations and Powell's fit, the end row.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Model.hpp"

namespace {

using Vec = std::vector<double>;

// The rows of numbers of tests/data/<file>, comment lines (#) left out.
std::vector<Vec> data_rows(const char* file) {
  std::ifstream in(std::string(TEST_DATA) + "/" + file);
  std::vector<Vec> rows;
  for (std::string line; std::getline(in, line);)
    if (std::istringstream row(line); line[0] != '#')
      rows.emplace_back(std::istream_iterator<double>(row), std::istream_iterator<double>());
  return rows;
}

// A model of degree m on the points (xs, ys), ascending in x, with the knots given or, when there
// are none, `intervals` placed evenly.
void set_up(int m, const Vec& xs, const Vec& ys, const Vec& knots, int intervals = 0) {
  allocate_points(static_cast<int>(xs.size()), m);
  std::copy(xs.begin(), xs.end(), x + 1);
  std::copy(ys.begin(), ys.end(), y + 1);
  if (knots.empty()) place_knots_evenly(intervals);
  if (!knots.empty()) place_knots(knots.data(), static_cast<int>(knots.size()));
}

// n points of sin plus noise on [origin, origin + 10), j intervals: automatic, or given knots at
// random over [origin - 5, origin + 15] with the second repeated.
void set_up_random(int m, int n, int j, bool given, double origin, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 10.0);
  Vec xs(n), ys, knots(given ? j + 1 : 0);
  for (double& t : xs) t = origin + u(rng);
  for (double& k : knots) k = origin + 2 * u(rng) - 5;
  std::sort(xs.begin(), xs.end());
  std::sort(knots.begin(), knots.end());
  if (j >= 3 && given) knots[2] = knots[1];
  for (double t : xs) ys.push_back(std::sin(t - origin) + 0.1 * u(rng));
  set_up(m, xs, ys, knots, j);
}

Vec random_vector(int n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Vec v(n);
  for (double& e : v) e = u(rng);
  return v;
}

double residual_sum() {
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += (P0(x[i], I[i]) - y[i]) * (P0(x[i], I[i]) - y[i]);
  return sum;
}

double binomial(int m, int k) { return k == 0 ? 1 : k == 1 ? m : m * (m - 1) / 2; }

// Coefficient k (value, slope, half curvature) of the polynomial sum of a[m] s^m at s = d.
double shifted(const double* a, int degree, int k, double d) {
  double sum = 0.0;
  for (int m = k; m <= degree; m++) sum += binomial(m, k) * a[m] * std::pow(d, m - k);
  return sum;
}

TEST(Evaluators, TakeThePieceRightOfAKnotAndPieceJAtAndBeyondTheEnd) {
  std::mt19937_64 rng(1);
  for (int m : {2, 3}) {
    set_up(m, {1.5}, {0.0}, {1.0, 2.0, 3.0, 4.0});
    for (int j = 1; j <= J; j++) std::ranges::copy(random_vector(m + 1, rng), c[j]);
    for (const Vec& probe : data_rows("evaluator_probes.txt")) {
      int j = static_cast<int>(probe[1]);
      double t = probe[0];
      EXPECT_EQ(P(t), P0(t, j)) << "M " << m << ", t " << t;
      for (int k = 0; k <= 2; k++)
        EXPECT_NEAR(k == 0 ? P0(t, j) : Pd(t, k) / k, shifted(c[j], M, k, t - X[j]), 1e-11)
            << "M " << m << ", t " << t << ", order " << k;
    }
  }
}

TEST(Continuity, KeepsValueSlopeAndCubicCurvatureAtEveryInnerKnot) {
  std::mt19937_64 rng(11);
  for (int m : {2, 3}) {
    set_up(m, {0.5}, {0.0}, {0.0, 0.7, 1.1, 2.0, 2.05, 3.5, 3.5, 4.0});
    for (int trial = 0; trial < 20; trial++) {
      Vec Z = random_vector(NN + 1, rng);
      Transfer(Z.data());
      Continuity();
      for (int j = 2; j <= J; j++)
        for (int k = 0; k < M && k <= 2; k++)
          EXPECT_NEAR(c[j][k], shifted(c[j - 1], M, k, delta[j - 1]), 1e-12) << j;
    }
  }
}

// Data p(t) on [origin, origin + 10), knots automatic or given (one repeated).
TEST(FitModel, ReproducesAPolynomialOfTheModelsDegree) {
  std::mt19937_64 rng(5);
  for (int m : {2, 3})
    for (double origin : {0.0, 1e4})
      for (const Vec& knots : {Vec{}, Vec{0.0, 1.0, 2.5, 2.5, 6.0, 9.0, 9.5, 10.0}}) {
        Vec a = random_vector(m + 1, rng), xs, ys, at_origin;
        for (int i = 0; i < 120; i++)
          xs.push_back(origin + i / 12.0), ys.push_back(shifted(a.data(), m, 0, i / 12.0 - 5));
        for (double k : knots) at_origin.push_back(origin + k);
        set_up(m, xs, ys, at_origin, 9);
        fit_model(1, 0.0);
        for (double t = -1.0; t <= 12.0; t += 0.75)
          for (int k = 0; k <= 2; k++)
            EXPECT_NEAR(k == 0 ? P(origin + t) : Pd(origin + t, k) / k,
                        shifted(a.data(), m, k, t - 5), 1e-7)
                << "M " << m << ", t " << t << ", order " << k;
      }
}

// The objective as defined: Transfer, the continuity sums of pow(delta[j], m - k) times the
// coefficient's factor from 0.0 in ascending m, then the squared residuals in point order.
double defined_objective(const Vec& Z) {
  Transfer(Z.data());
  for (int j = 1; j < J; j++)
    for (int k = 0; k < M; k++) {
      c[j + 1][k] = 0.0;
      for (int m = k; m <= M; m++)
        c[j + 1][k] += std::pow(delta[j], double(m - k)) * (binomial(m, k) * c[j][m]);
    }
  return residual_sum();
}

// The objective keeps pow(delta, m) between calls; so every model is checked after each change:
// points of one interval apart, new widths, a zero width, the widths restored, the other degree.
TEST(Objective, EqualsItsDefiningSumBitForBit) {
  std::mt19937_64 rng(2);
  for (int n : {1, 2, 3, 8, 101})
    for (int j : {1, 2, 5, 40}) {
      std::mt19937_64 same_model = rng;
      for (int m : {2, 3}) {
        set_up_random(m, n, j, true, 0.0, rng = same_model);
        for (int change = 0; change <= 4; change++) {
          for (int i = 1; i <= N && change == 1; i++) I[i] = 1 + static_cast<int>(rng() % J);
          for (int k = 1; k <= J; k++)
            delta[k] = change == 4 ? X[k + 1] - X[k] : change == 2 ? 1.1 * delta[k] : delta[k];
          if (change == 3) delta[1] = 0.0;
          Vec Z = random_vector(NN + 1, rng);
          double objective = Eqn(Z.data());
          EXPECT_EQ(objective, defined_objective(Z))
              << "change " << change << ": N " << N << ", J " << J << ", M " << M;
        }
      }
    }
}

TEST(KnotPlacement, EvenGroupsEndAtTheRoundedMultiplesOfNOverJWithKnotsMidway) {
  for (const Vec& row : data_rows("knot_groups.txt")) {
    Vec xs;
    for (int i = 1; i <= row[0]; i++) xs.push_back(i * i);
    set_up(3, xs, xs, {}, static_cast<int>(row[1]));
    EXPECT_TRUE(NN == J + 3 && X[1] == x[1]);
    for (int j = 1, first = 1; j <= J; first = static_cast<int>(row[j + 1]) + 1, j++) {
      int last = static_cast<int>(row[j + 1]);
      for (int i = first; i <= last; i++) EXPECT_EQ(I[i], j) << N << "/" << J << ": point " << i;
      EXPECT_EQ(X[j + 1], j < J ? 0.5 * (x[last] + x[last + 1]) : x[N]) << N << "/" << J;
      EXPECT_EQ(delta[j], X[j + 1] - X[j]);
    }
  }
}

TEST(KnotPlacement, GivenKnotsPutEachPointInTheLastPieceStartingAtOrBelowIt) {
  set_up(2, {-1.0, 0.0, 0.5, 1.0, 2.0, 2.0, 2.5, 3.0, 7.0}, Vec(9), {0.0, 1.0, 2.0, 2.0, 3.0});
  const int expected[] = {1, 1, 1, 2, 4, 4, 4, 4, 4};
  for (int i = 1; i <= N; i++) EXPECT_EQ(I[i], expected[i - 1]) << "x " << x[i];
  EXPECT_EQ(delta[3], 0.0);
}

// The normal equations: the residuals are orthogonal to the model's response to each parameter
// (Transfer and Continuity of a unit vector), which for this quadratic objective makes the fit a
// least-squares minimum, unique or not. J = 1 among them: the least-squares polynomial.
TEST(FitModel, ExactFitSolvesTheNormalEquations) {
  std::mt19937_64 rng(20240611);
  int with_empty_interval = 0;
  for (int trial = 0; trial < 60; trial++) {
    set_up_random(2 + trial % 2, 8 + static_cast<int>(rng() % 150), 1 + trial % 7, trial % 4 > 1,
                  std::array{0.0, -3.0, 100.0}[trial % 3], rng);
    std::vector<int> points(J + 1);
    for (int i = 1; i <= N; i++) points[I[i]]++;
    with_empty_interval += std::count(points.begin() + 1, points.end(), 0) > 0;
    EXPECT_EQ(fit_model(1, 0.0), 0);
    Vec r(N + 1);
    for (int i = 1; i <= N; i++) r[i] = P0(x[i], I[i]) - y[i];
    for (int k = 1; k <= NN; k++) {
      Vec e(NN + 1);
      e[k] = 1.0;
      Transfer(e.data());
      Continuity();
      double sum = 0.0, size = 0.0;
      for (int i = 1; i <= N; i++)
        sum += r[i] * P0(x[i], I[i]), size += std::fabs(r[i] * P0(x[i], I[i]));
      EXPECT_LE(std::fabs(sum), 1e-9 * size + 1e-12)
          << "trial " << trial << ", M " << M << ", J " << J << ", parameter " << k;
    }
  }
  EXPECT_GE(with_empty_interval, 10);  // the problems really hold intervals without data
}

TEST(FitModel, ExactFitIsNeverAbovePowellsFit) {
  for (int trial = 0; trial < 8; trial++) {
    Vec xs, ys;
    for (int i = 0; i < 30; i++)
      xs.push_back(i / 29.0), ys.push_back(std::sin(3 * i / 29.0 + trial));
    set_up(2 + trial % 2, xs, ys, {}, 1 + trial % 3);
    EXPECT_GT(fit_model(0, 1e-8), 0);
    double powell = residual_sum();
    fit_model(1, 0.0);
    EXPECT_LE(residual_sum(), powell * (1 + 1e-12)) << "trial " << trial;
  }
}

TEST(FitModel, BelowDegreePlusOneAbscissaeIsTheLowestPolynomialThroughTheMeans) {
  for (const Vec& row : data_rows("few_abscissae.txt")) {
    std::size_t n = static_cast<std::size_t>(row[1]);
    Vec xs, ys, a(row.begin() + 2 + 2 * n, row.end());
    for (std::size_t i = 0; i < n; i++) xs.push_back(row[2 + 2 * i]), ys.push_back(row[3 + 2 * i]);
    set_up(static_cast<int>(row[0]), xs, ys, {-0.5, 1.0, 2.0, 3.0, 4.0, 6.0});
    fit_model(1, 0.0);
    for (double t = -1.0; t <= 7.0; t += 0.5)
      EXPECT_NEAR(P(t), shifted(a.data(), static_cast<int>(a.size()) - 1, 0, t), 1e-12)
          << n << " points, t " << t;
  }
}

TEST(CompleteEndRow, ReExpandsTheLastPieceAboutTheLastKnot) {
  std::mt19937_64 rng(3);
  for (int m : {2, 3}) {
    set_up(m, {0.5}, {0.0}, {0.0, 1.0, 2.5, 4.0});
    for (int j = 1; j <= J; j++) std::ranges::copy(random_vector(m + 1, rng), c[j]);
    complete_end_row();
    for (double t : {2.5, 3.0, 4.0, 5.5})
      EXPECT_NEAR(P0(t, J + 1), P0(t, J), 1e-12) << "M " << m << ", t " << t;
  }
}

}  // namespace
