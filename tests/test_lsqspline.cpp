// The least-squares spline library against an independent dense solve; undetermined fits; the
// automatic knots; fits from several threads; bad input refused with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "LsqSpline.hpp"
#include "reference.hpp"
#include "table.hpp"

namespace {

using Weights = lsq::Weights;
// Noisy samples of sin 2x on [0, 4] in random order, with weights of every kind.
struct Data {
  std::vector<double> x, y, w, knots = {0.0, 0.7, 1.5, 2.6, 4.0};
  Data(unsigned seed, int n) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 4.0), s(0.5, 2.0);
    for (int i = 0; i < n; i++) x.push_back(u(rng)), w.push_back(s(rng));
    for (double t : x) y.push_back(std::sin(2 * t) + 0.1 * (u(rng) - 2.0));
  }
};

TEST(LsqSpline, MatchesADenseLeastSquaresSolveWithItsCovariance) {
  for (Weights kind : {Weights::none, Weights::weights, Weights::sigmas}) {
    for (int M : {2, 3}) {
      Data d(7 + M, 200);
      std::span<const double> w = kind == Weights::none ? std::span<const double>() : d.w;
      lsq::Spline s = lsq::fit(d.x, d.y, M, d.knots, w, kind);
      std::vector<double> weight(d.x.size(), 1.0);
      for (std::size_t i = 0; kind != Weights::none && i < d.x.size(); i++)
        weight[i] = kind == Weights::sigmas ? 1.0 / (d.w[i] * d.w[i]) : d.w[i];
      const reference::Spline r = reference::fit(d.x, d.y, weight, M, d.knots);
      long double rss = 0, mean = 0, total = 0, tss = 0;
      for (std::size_t i = 0; i < d.x.size(); i++) {
        rss += weight[i] * std::pow(r.value(d.x[i]) - d.y[i], 2);
        mean += weight[i] * d.y[i], total += weight[i];
      }
      for (std::size_t i = 0; i < d.x.size(); i++)
        tss += weight[i] * std::pow(d.y[i] - mean / total, 2);
      ASSERT_EQ(s.statistics().rank, M + 4);
      EXPECT_NEAR(s.statistics().RSS, rss, 1e-10 * rss);
      EXPECT_NEAR(s.statistics().R2(), 1 - rss / tss, 1e-10);
      long double sigma2 = kind == Weights::sigmas ? 1 : rss / (d.x.size() - M - 4);
      long double area = 0, from = 0;  // Simpson's rule, exact on each piece, from knot 0
      for (double t = 0.0; t <= 4.3; t += 0.05) {
        for (double at : {0.7, 1.5, 2.6, t})
          if (at > from && at <= t)
            area += (at - from) / 6 * (r.value(from) + 4 * r.value((from + at) / 2) + r.value(at)),
                from = at;
        EXPECT_NEAR(s.integral(t), area, 1e-8) << t;
        for (int order = 0; order <= M; order++)
          EXPECT_NEAR(s.value(t, order), r.value(t, order), 1e-8) << t << " " << order;
        const long double se = std::sqrt(sigma2 * r.variance(t));
        EXPECT_NEAR(s.standard_error(t), se, 1e-7 * se);
      }
    }
  }
}

// Data(seed, n) with 8% of the points thrown off by 2 to 5 noise widths (0.115) and three by 30.
Data with_outliers(unsigned seed, int n) {
  Data d(seed, n);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (double& v : d.y)
    if (u(rng) < 0.08) v += (u(rng) < 0.5 ? -0.115 : 0.115) * (2.0 + 3.0 * u(rng));
  for (int k : {5, 50, 77}) d.y[k] += 3.5;
  return d;
}

TEST(LsqSpline, RobustFitsAreThoseOfADenseIndependentReweighting) {
  for (lsq::Robust robust : {lsq::Robust::huber, lsq::Robust::bisquare}) {
    for (Weights kind : {Weights::none, Weights::sigmas}) {
      Data d = with_outliers(31 + static_cast<int>(kind), 200);
      std::span<const double> w = kind == Weights::none ? std::span<const double>() : d.w;
      lsq::Spline s = lsq::fit(d.x, d.y, 3, d.knots, w, kind, robust);
      std::vector<double> weight;
      for (double v : w) weight.push_back(1.0 / (v * v));
      const bool bisquare = robust == lsq::Robust::bisquare;
      const reference::RobustSpline r =
          reference::robust_fit(d.x, d.y, weight, 3, d.knots, bisquare);
      EXPECT_NEAR(s.robust().scale, r.scale, 1e-9 * r.scale);
      for (std::size_t i = 0; i < d.x.size(); i++)
        EXPECT_NEAR(s.robust_weights()[i], r.weights[i], 1e-8) << i;
      auto count = [&r](auto rule) {
        return std::count_if(r.weights.begin(), r.weights.end(), rule);
      };
      EXPECT_EQ(s.robust().downweighted, count([](auto v) { return v < 1; }));
      EXPECT_EQ(s.robust().rejected, count([](auto v) { return v == 0; }));
      for (double t = -0.2; t <= 4.2; t += 0.05) {
        EXPECT_NEAR(s.value(t), r.curve.value(t), 1e-9) << t;
        const long double se = std::sqrt(r.band_factor * r.least_squares.variance(t));
        EXPECT_NEAR(s.standard_error(t), se, 1e-7 * se) << t;
        EXPECT_NEAR(s.confidence_limits(t).second - s.value(t), 1.959963984540054 * se, 1e-7 * se);
      }
    }
  }
}

// Huber's fit is 95% efficient at normal errors: on clean data it stays near least squares.
TEST(LsqSpline, HuberOnCleanNormalDataStaysCloseToLeastSquares) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<double> x, y;
  for (int i = 0; i < 2000; i++)
    x.push_back(i / 500.0), y.push_back(std::sin(2 * x.back()) + noise(rng));
  const lsq::Spline ls = lsq::fit(x, y, 3, 10),
                    huber = lsq::fit(x, y, 3, 10, {}, Weights::none, lsq::Robust::huber);
  for (double t = 0; t <= 4; t += 0.02)
    EXPECT_LT(std::fabs(huber.value(t) - ls.value(t)), ls.standard_error(t)) << t;
}

// A scale of 0: on exact data the least-squares fit is kept as it is; on exact data with wild
// points the steps find the curve through the others and stop there.
TEST(LsqSpline, ARobustScaleOfZeroStopsTheSteps) {
  std::vector<double> x, y;
  for (int i = 0; i < 60; i++)
    x.push_back(i / 15.0), y.push_back(1 + x.back() - std::pow(x.back(), 3) / 8);
  for (lsq::Robust robust : {lsq::Robust::huber, lsq::Robust::bisquare}) {
    const lsq::Spline ls = lsq::fit(x, y, 3, 4),
                      s = lsq::fit(x, y, 3, 4, {}, Weights::none, robust);
    EXPECT_TRUE(s.robust().scale_vanished && s.robust().iterations == 0);
    for (double t = 0; t <= 4; t += 0.1)
      EXPECT_TRUE(s.value(t) == ls.value(t) && s.standard_error(t) == ls.standard_error(t)) << t;
    std::vector<double> wild = y;
    for (int k : {3, 20, 21, 40}) wild[k] += 2.0;
    const lsq::Spline w = lsq::fit(x, wild, 3, 4, {}, Weights::none, robust);
    EXPECT_TRUE(w.robust().scale_vanished && w.robust().iterations > 0);
    for (double t = 0; t <= 4; t += 0.1) EXPECT_NEAR(w.value(t), 1 + t - t * t * t / 8, 1e-9) << t;
  }
}

// Below M + 1 distinct abscissae the fit is the lowest-degree polynomial through the mean
// ordinates (a point of weight 0 counts for nothing). (Intervals without points: the hostile
// designs.)
TEST(LsqSpline, TooFewAbscissaeGiveThePolynomialThroughTheMeans) {
  std::vector<double> x = {2, 0, 2, 1, 0, 2, -1}, y = {5, 1, 7, 3, 3, 3, 99}, w(7, 1.0);
  w[6] = 0;  // means 2, 3 and 5 at 0, 1 and 2: the quadratic 2 + t / 2 + t^2 / 2
  lsq::Spline s = lsq::fit(x, y, 3, 2, w, Weights::weights);
  EXPECT_EQ(s.statistics().rank, 3);
  for (double t : {0.0, 1.0, 2.0, 3.0}) EXPECT_NEAR(s.value(t), 2 + t / 2 + t * t / 2, 1e-12);
  EXPECT_NEAR(s.value(3, 3), 0, 1e-12);
}

// values() with its remembered interval gives value() at every abscissa, in any order. (The
// automatic knots are the program's, lsq::place_knots_evenly: test_model and the golden fits.)
TEST(LsqSpline, ValuesOfManyAbscissaeAreThoseOfEach) {
  std::vector<double> x = {9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, y = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3};
  lsq::Spline s = lsq::fit(x, y, 2, 4);
  std::vector<double> t = {0.5, 3.5, 2, 12, 5.5, 5.6, 9, 1}, out(t.size());
  for (int order = 0; order <= 3; order++) {
    s.values(t, out, order);
    for (std::size_t k = 0; k < t.size(); k++) EXPECT_EQ(out[k], s.value(t[k], order)) << t[k];
  }
}

TEST(LsqSpline, FitsFromSeveralThreadsEqualTheSameFitsOnOneThread) {
  std::vector<double> alone(8), together(8);
  auto run = [](int k, double* out) {
    Data d(100 + k, 5000 + 1000 * k);
    lsq::Spline s = lsq::fit(d.x, d.y, 2 + k % 2, 5 + k, d.w, Weights::weights);
    *out = s.value(1.234, k % 3) + s.integral(3.5) + s.standard_error(2.0) + s.statistics().RSS;
  };
  for (int k = 0; k < 8; k++) run(k, &alone[k]);
  std::vector<std::thread> threads;
  for (int k = 0; k < 8; k++) threads.emplace_back(run, k, &together[k]);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(alone, together);
}

// A design of tests/data/library/hostile_designs.txt: points, knots (empty: automatic) and the
// fits asked for.
struct Design {
  std::string line;
  std::vector<double> x, y, knots;
  int M = 3;
  std::vector<int> J;
};

std::vector<Design> hostile_designs() {
  std::ifstream in(std::string(TEST_DATA) + "/library/hostile_designs.txt");
  std::vector<Design> designs;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    Design d;
    d.line = line;
    std::string kind;
    int a = 0, b = 0;
    row >> kind >> a;
    if (kind == "replicated" || kind == "graded") row >> b;
    std::mt19937_64 rng(designs.size() + 1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int n = kind == "replicated" ? a * b : kind == "graded" ? b : a;
    for (int i = 0; i < n; i++)
      d.x.push_back(kind == "replicated" ? i / b
                    : kind == "jittered" ? i + 0.6 * u(rng)
                    : kind == "graded"   ? std::pow(10.0, a * u(rng))
                    : kind == "close"    ? u(rng)
                                         : 2.0 * (i % 2) + u(rng));  // empty: [0, 1], [2, 3]
    std::sort(d.x.begin(), d.x.end());
    if (kind == "graded")
      for (int j = 0; j <= 20; j++)
        d.knots.push_back(d.x[static_cast<std::size_t>(j * (n - 1) / 20)]);
    if (kind == "close") d.knots = {0, 0.3, 0.3 + 1e-6, 0.5, 0.5 + 1e-6, 0.5 + 2e-6, 0.8, 1};
    if (kind == "empty") d.knots = {0, 0.5, 1.5, 1.6, 1.8, 2.5, 3};
    for (double t : d.x) d.y.push_back(std::sin(3 * std::log1p(t)) + 0.2 * (u(rng) - 0.5));
    row >> d.M;
    for (int J; row >> J;) d.J.push_back(J);
    designs.push_back(d);
  }
  return designs;
}

// Every fit of every hostile design: the curve at the points and at five places in every
// interval, and the least sum of squares.
TEST(LsqSpline, HostileDesignsGiveTheFitOfAnIndependentSolve) {
  for (const Design& d : hostile_designs()) {
    double scale = 0, mean = 0, tss = 0;
    for (double v : d.y) scale = std::max(scale, std::fabs(v)), mean += v / d.y.size();
    for (double v : d.y) tss += (v - mean) * (v - mean);
    for (int J : d.J) {
      lsq::Spline s = J > 0 ? lsq::fit(d.x, d.y, d.M, J) : lsq::fit(d.x, d.y, d.M, d.knots);
      std::vector<double> at = d.x, X(s.knots().begin(), s.knots().end());
      const reference::Spline r = reference::fit(d.x, d.y, {}, d.M, X);
      for (std::size_t j = 0; j + 1 < X.size(); j++)
        for (int k = 0; k <= 4; k++) at.push_back(X[j] + (X[j + 1] - X[j]) * k / 4);
      double worst = 0;
      for (double t : at) worst = std::max(worst, double(std::fabs(s.value(t) - r.value(t))));
      EXPECT_LE(worst, 1e-10 * scale) << d.line << ", J " << J;
      long double least = 0;
      for (std::size_t i = 0; i < d.x.size(); i++) least += std::pow(r.value(d.x[i]) - d.y[i], 2);
      EXPECT_LE(std::fabs(s.statistics().RSS - least), 1e-12 * std::max<long double>(least, tss))
          << d.line << ", J " << J;
    }
  }
}

// Weights of 10^k for k from -300 to 300 (all equal, and a random spread of 10^4 times that):
// the fit of the weights as they are, since only their ratios matter.
TEST(LsqSpline, TheScaleOfTheWeightsDoesNotChangeTheFit) {
  Data d = with_outliers(11, 150);
  for (lsq::Robust robust : {lsq::Robust::none, lsq::Robust::bisquare})
    for (std::vector<double> spread : {std::vector<double>(150, 1.0), d.w}) {
      for (double& v : spread) v = std::pow(v, 13.3);  // ratios up to 10^8 in the spread
      lsq::Spline base = lsq::fit(d.x, d.y, 3, 12, spread, Weights::weights, robust);
      for (int k = -300; k <= 300; k += 20) {
        std::vector<double> w = spread;
        for (double& v : w) v *= std::pow(10.0, k - 4 * (k > 0));
        lsq::Spline s = lsq::fit(d.x, d.y, 3, 12, w, Weights::weights, robust);
        double worst = 0;
        for (double t = 0; t <= 4; t += 0.01)
          worst = std::max(worst, std::fabs(s.value(t) - base.value(t)));
        EXPECT_LE(worst, 1e-12) << k;
      }
    }
}

// The calls of tests/data/library/refusals.txt.
TEST(LsqSpline, BadInputIsRefusedWithAMessage) {
  static_assert(!std::is_default_constructible_v<lsq::Spline>);  // only fit() makes one
  const std::vector<double> xs = {0, 1, 2, 3}, ys = {0, 1, 4, 9}, k = {0, 3};
  const lsq::Spline fitted = lsq::fit(xs, ys, 3, k);
  for (const Row& row : table("library/refusals.txt")) {
    const std::vector<double> a = numbers(row[1]);
    try {
      if (row[0] == "value") fitted.value(a[0], static_cast<int>(a[1]));
      if (row[0] == "coefficient")
        fitted.coefficient(static_cast<int>(a[0]), static_cast<int>(a[1]));
      if (row[0] == "limits") fitted.confidence_limits(a[0], a[1]);
      if (row[0] == "fit") {
        const std::vector<double> y = numbers(row[2]), knots = numbers(row[4]);
        const std::vector<double> w = row[5] == "-" ? std::vector<double>() : numbers(row[5]);
        const Weights kind = row[6] == "weights"  ? Weights::weights
                             : row[6] == "sigmas" ? Weights::sigmas
                                                  : Weights::none;
        const int degree = std::stoi(row[3]);
        if (knots.size() == 1)
          lsq::fit(a, y, degree, static_cast<int>(knots[0]), w, kind);
        else
          lsq::fit(a, y, degree, knots, w, kind);
      }
      ADD_FAILURE() << "accepted: " << row.back();
    } catch (const lsq::SplineError& error) {
      EXPECT_NE(std::string(error.what()).find(row.back()), std::string::npos) << error.what();
    }
  }
}

}  // namespace
