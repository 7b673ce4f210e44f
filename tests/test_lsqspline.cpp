// The least-squares spline library against an independent dense solve; undetermined fits; the
// automatic knots; fits from several threads; bad input refused with a message.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "LsqSpline.hpp"
#include "reference.hpp"

namespace {

using Weights = lsq::Weights;
using Vec = std::vector<long double>;

// The basis 1, t, .., t^M, (t - k)_+^M (inner knots k >= 0), derivative d, or (-1) integral from 0.
Vec basis(double t, int M, const std::vector<double>& knots, int d) {
  auto power = [d](long double u, int m) -> long double {  // d-th derivative of u^m, or integral
    long double f = d < 0 ? 1.0L / (m + 1) : 1;
    for (int k = 0; k < d; k++) f *= m - k;
    return m < d ? 0 : f * std::pow(u, m - d);
  };
  Vec b;
  for (int m = 0; m <= M; m++) b.push_back(power(t, m));
  for (std::size_t k = 1; k + 1 < knots.size(); k++)
    b.push_back(t > knots[k] ? power(t - knots[k], M) : 0);
  return b;
}

long double dot(const Vec& a, const Vec& b) {
  long double s = 0;
  for (std::size_t k = 0; k < a.size(); k++) s += a[k] * b[k];
  return s;
}

// The weighted least-squares coefficients (row n) and (A^T W A)^-1 (rows 0..n-1), by Gauss-Jordan
// on the normal equations in long double.
std::vector<Vec> dense_fit(const std::vector<double>& x, const std::vector<double>& y,
                           const std::vector<double>& w, int M, const std::vector<double>& knots) {
  const std::size_t n = M + knots.size() - 1;
  std::vector<Vec> a(n, Vec(2 * n + 1, 0)), result(n + 1, Vec(n));
  for (std::size_t i = 0; i < x.size(); i++) {
    Vec b = basis(x[i], M, knots, 0);
    for (std::size_t r = 0; r < n; r++) {
      for (std::size_t c = 0; c < n; c++) a[r][c] += w[i] * b[r] * b[c];
      a[r][2 * n] += w[i] * b[r] * y[i];
    }
  }
  for (std::size_t p = 0; p < n; p++) a[p][n + p] = 1;
  for (std::size_t p = 0; p < n; p++) {
    for (std::size_t c = 2 * n + 1; c-- > p;) a[p][c] /= a[p][p];
    for (std::size_t r = 0; r < n; r++)
      for (std::size_t c = 2 * n + 1; r != p && c-- > p;) a[r][c] -= a[r][p] * a[p][c];
  }
  for (std::size_t r = 0; r < n; r++) {
    result[n][r] = a[r][2 * n];
    std::copy(a[r].begin() + n, a[r].begin() + 2 * n, result[r].begin());
  }
  return result;
}

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
      std::vector<Vec> dense = dense_fit(d.x, d.y, weight, M, d.knots);
      const Vec& coef = dense.back();
      long double rss = 0, mean = 0, total = 0, tss = 0;
      for (std::size_t i = 0; i < d.x.size(); i++) {
        rss += weight[i] * std::pow(dot(coef, basis(d.x[i], M, d.knots, 0)) - d.y[i], 2);
        mean += weight[i] * d.y[i], total += weight[i];
      }
      for (std::size_t i = 0; i < d.x.size(); i++)
        tss += weight[i] * std::pow(d.y[i] - mean / total, 2);
      ASSERT_EQ(s.statistics().rank, M + 4);
      EXPECT_NEAR(s.statistics().RSS, rss, 1e-10 * rss);
      EXPECT_NEAR(s.statistics().R2(), 1 - rss / tss, 1e-10);
      long double sigma2 = kind == Weights::sigmas ? 1 : rss / (d.x.size() - M - 4);
      for (double t = 0.0; t <= 4.3; t += 0.05) {
        for (int order = -1; order <= M; order++)  // the integral, the value, the derivatives
          EXPECT_NEAR(order < 0 ? s.integral(t) : s.value(t, order),
                      dot(coef, basis(t, M, d.knots, order)), 1e-8)
              << t << " " << order;
        Vec b = basis(t, M, d.knots, 0);
        long double se = 0;
        for (std::size_t r = 0; r < b.size(); r++) se += b[r] * dot(dense[r], b);
        se = std::sqrt(sigma2 * se);
        EXPECT_NEAR(s.standard_error(t), se, 1e-7 * se);
      }
    }
  }
}

// Where the data leave it undetermined the fit is the smoothest least-squares spline: at fewer than
// M + 1 abscissae the lowest-degree polynomial through the mean ordinates (weight 0 counts for
// nothing); across intervals without points, points on a cubic give that cubic.
TEST(LsqSpline, UndeterminedFitsAreTheSmoothestLeastSquaresSplines) {
  std::vector<double> x = {2, 0, 2, 1, 0, 2, -1}, y = {5, 1, 7, 3, 3, 3, 99}, w(7, 1.0), cx, cy;
  w[6] = 0;  // means 2, 3 and 5 at 0, 1 and 2: the quadratic 2 + t / 2 + t^2 / 2
  lsq::Spline s = lsq::fit(x, y, 3, 2, w, Weights::weights);
  EXPECT_EQ(s.statistics().rank, 3);
  for (double t : {0.0, 1.0, 2.0, 3.0}) EXPECT_NEAR(s.value(t), 2 + t / 2 + t * t / 2, 1e-12);
  EXPECT_NEAR(s.value(3, 3), 0, 1e-12);
  for (double t = 0; t <= 6; t += 0.25)
    if (t <= 1 || t >= 5) cx.push_back(t), cy.push_back(t * t * t - 3 * t);
  lsq::Spline c = lsq::fit(cx, cy, 3, std::vector<double>{0, 1, 1.7, 3.1, 4, 5, 6});
  EXPECT_EQ(c.statistics().rank, 8);
  for (double t = 0; t <= 6; t += 0.1) EXPECT_NEAR(c.value(t), t * t * t - 3 * t, 1e-6) << t;
}

// With J intervals the knots are splinefit's (N 10, J 4: x[1], (x[3] + x[4]) / 2, (x[5] + x[6]) /
// 2, (x[8] + x[9]) / 2, x[10]), the fit on these knots; many abscissae give what each gives.
TEST(LsqSpline, AutomaticKnotsAreSplinefitsAndValuesOfManyAreThoseOfEach) {
  std::vector<double> x = {9, 1, 8, 2, 7, 3, 6, 4, 5, 10}, y = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3};
  lsq::Spline s = lsq::fit(x, y, 2, 4), on_knots = lsq::fit(x, y, 2, s.knots());
  EXPECT_EQ(std::vector<double>(s.knots().begin(), s.knots().end()),
            (std::vector<double>{1, 3.5, 5.5, 8.5, 10}));
  EXPECT_NEAR(s.statistics().RSS, on_knots.statistics().RSS, 1e-12);
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
  Data d(1, 70000);  // a long solve on 3 threads and on one: the same factors, the same bits
  std::sort(d.x.begin(), d.x.end());
  std::vector<int> I(d.x.size() + 1);
  for (std::size_t i = 1; i < I.size(); i++) I[i] = 1 + int(d.x[i - 1] > 1.5) + int(d.x[i - 1] > 3);
  std::vector<double> X = {0, 0, 1.5, 3, 4};
  lsq::Problem p{3, 3, 70000, d.x.data() - 1, d.y.data() - 1, nullptr, I.data(), X.data()};
  setenv("SPLINEFIT_THREADS", "3", 1);
  const std::vector<double> three = lsq::solve(p).covariance;
  setenv("SPLINEFIT_THREADS", "1", 1);
  EXPECT_EQ(three, lsq::solve(p).covariance);
  unsetenv("SPLINEFIT_THREADS");
}

// Weights of 2^1000 make rows past 10^150, which the factor takes by the overflow-safe path: the
// spline is that of equal weights of 1, to rounding.
TEST(LsqSpline, HugeEqualWeightsGiveTheSplineOfWeightsOfOne) {
  Data d(5, 300);
  std::vector<double> one(d.x.size(), 1.0), huge(d.x.size(), std::ldexp(1.0, 1000));
  lsq::Spline a = lsq::fit(d.x, d.y, 3, d.knots, one, Weights::weights);
  lsq::Spline b = lsq::fit(d.x, d.y, 3, d.knots, huge, Weights::weights);
  for (double t : {0.1, 1.0, 2.2, 3.9}) EXPECT_NEAR(a.value(t), b.value(t), 1e-12) << t;
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
    row >> kind;
    std::mt19937_64 rng(designs.size() + 1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (kind == "replicated") {
      int levels, replicates;
      row >> levels >> replicates;
      for (int l = 0; l < levels; l++)
        for (int r = 0; r < replicates; r++) d.x.push_back(l);
    } else if (kind == "jittered") {
      int n;
      row >> n;
      for (int i = 0; i < n; i++) d.x.push_back(i + 0.6 * u(rng));
    } else if (kind == "graded") {
      int decades, n;
      row >> decades >> n;
      for (int i = 0; i < n; i++) d.x.push_back(std::pow(10.0, decades * u(rng)));
      std::sort(d.x.begin(), d.x.end());
      for (int j = 0; j <= 20; j++) d.knots.push_back(d.x[static_cast<std::size_t>(j * (n - 1) / 20)]);
    } else if (kind == "close") {
      int n;
      row >> n;
      for (int i = 0; i < n; i++) d.x.push_back(u(rng));
      d.knots = {0, 0.3, 0.3 + 1e-6, 0.5, 0.5 + 1e-6, 0.5 + 2e-6, 0.8, 1};
    } else {  // empty
      int n;
      row >> n;
      for (int i = 0; i < n; i++) d.x.push_back(i % 2 ? u(rng) : 3 + u(rng));
      d.knots = {0, 0.5, 1.5, 2, 2.2, 3.5, 4};
    }
    for (double t : d.x) d.y.push_back(std::sin(3 * std::log1p(t)) + 0.2 * (u(rng) - 0.5));
    row >> d.M;
    for (int J; row >> J;) d.J.push_back(J);
    designs.push_back(d);
  }
  return designs;
}

// Calls check(design, fit, reference, scale, TSS) for every fit of every hostile design.
void for_each_hostile_fit(
    const std::function<void(const Design&, const lsq::Spline&, const reference::Spline&, double,
                             double)>& check) {
  for (const Design& d : hostile_designs()) {
    double scale = 0, mean = 0, tss = 0;
    for (double v : d.y) scale = std::max(scale, std::fabs(v)), mean += v / d.y.size();
    for (double v : d.y) tss += (v - mean) * (v - mean);
    for (int J : d.J) {
      lsq::Spline s = J > 0 ? lsq::fit(d.x, d.y, d.M, J) : lsq::fit(d.x, d.y, d.M, d.knots);
      std::vector<double> X(s.knots().begin(), s.knots().end());
      check(d, s, reference::fit(d.x, d.y, {}, d.M, X), scale, tss);
    }
  }
}

// At the points and at five places in every interval.
TEST(LsqSpline, HostileDesignsGiveTheCurveOfAnIndependentSolve) {
  for_each_hostile_fit([](const Design& d, const lsq::Spline& s, const reference::Spline& r,
                          double scale, double) {
    std::vector<double> at = d.x;
    for (std::size_t j = 0; j + 1 < s.knots().size(); j++)
      for (int k = 0; k <= 4; k++)
        at.push_back(s.knots()[j] + (s.knots()[j + 1] - s.knots()[j]) * k / 4);
    double worst = 0;
    for (double t : at) worst = std::max(worst, double(std::fabs(s.value(t) - r.value(t))));
    EXPECT_LE(worst, 1e-10 * scale) << d.line << ", J " << s.intervals();
  });
}

TEST(LsqSpline, HostileDesignsReachTheLeastSumOfSquares) {
  for_each_hostile_fit([](const Design& d, const lsq::Spline& s, const reference::Spline& r,
                          double, double tss) {
    long double least = 0;
    for (std::size_t i = 0; i < d.x.size(); i++) least += std::pow(r.value(d.x[i]) - d.y[i], 2);
    EXPECT_LE(std::fabs(s.statistics().RSS - least), 1e-12 * std::max<long double>(least, tss))
        << d.line << ", J " << s.intervals();
  });
}

// Weights of 10^k for k from -300 to 300 (all equal, and a random spread of 10^4 times that):
// the fit of the weights as they are, since only their ratios matter.
TEST(LsqSpline, TheScaleOfTheWeightsDoesNotChangeTheFit) {
  Data d(11, 150);
  for (std::vector<double> spread : {std::vector<double>(150, 1.0), d.w}) {
    for (double& v : spread) v = std::pow(v, 13.3);  // ratios up to 10^8 in the spread
    lsq::Spline base = lsq::fit(d.x, d.y, 3, 12, spread, Weights::weights);
    for (int k = -300; k <= 300; k += 20) {
      std::vector<double> w = spread;
      for (double& v : w) v *= std::pow(10.0, k - 4 * (k > 0));
      lsq::Spline s = lsq::fit(d.x, d.y, 3, 12, w, Weights::weights);
      double worst = 0;
      for (double t = 0; t <= 4; t += 0.01) worst = std::max(worst, std::fabs(s.value(t) - base.value(t)));
      EXPECT_LE(worst, 1e-12) << k;
    }
  }
}

TEST(LsqSpline, BadInputIsRefusedWithAMessage) {
  std::vector<double> x = {0, 1, 2, 3}, y = {0, 1, 4, 9}, three = {0, 1, 2}, k = {0, 3};
  std::vector<double> same = {1, 1, 1, 1}, nan = {0, NAN, 2, 3}, desc = {0, 2, 1, 3};
  std::vector<double> negative = {-1, 1, 1, 1}, zero = {1, 0, 1, 1}, huge = {1, 1, 1, 1e200};
  std::vector<double> far = {0, 1e200, 2e200, 3e200}, near = {0, 1e-200, 2e-200, 3e-200};
  const lsq::Spline fitted = lsq::fit(x, y, 3, k);
  static_assert(!std::is_default_constructible_v<lsq::Spline>);  // only fit() makes one
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { lsq::fit(x, three, 3, k); }, "x holds 4 values but y 3"},
      {[&] { lsq::fit(x, y, 4, k); }, "the degree must be 2 or 3, not 4"},
      {[&] { lsq::fit(x, y, 3, desc); }, "knot 2 is below the knot before it"},
      {[&] { lsq::fit(nan, y, 3, k); }, "point 1 is not finite"},
      {[&] { lsq::fit(same, y, 3, 1); }, "two different abscissae at least"},
      {[&] { lsq::fit(x, y, 3, 8); }, "from 1 to below twice the number of points"},
      {[&] { lsq::fit(x, y, 3, k, negative, Weights::weights); }, "weight of point 0 is not a usable weight"},
      {[&] { lsq::fit(x, y, 3, k, zero, Weights::sigmas); }, "1 is not a usable standard deviation"},
      {[&] { lsq::fit(x, y, 3, k, three, Weights::weights); }, "w holds 3 values for 4 points"},
      {[&] { lsq::fit(x, y, 3, k, huge, Weights::sigmas); }, "3 is not a usable standard deviation"},
      {[&] { lsq::fit(far, y, 3, 1); }, "the power 3 of their span overflows"},
      {[&] { lsq::fit(near, y, 3, 2); }, "the coefficients of interval 1 (of width 1.5e-200) overflow"},
      {[&] { fitted.value(1, -1); }, "order of a derivative must be from 0 to 3, not -1"},
      {[&] { fitted.value(1, 4); }, "order of a derivative must be from 0 to 3, not 4"},
      {[&] { fitted.coefficient(1, 0); }, "coefficient(1, 0): the interval must be from 0 to 0"},
      {[&] { fitted.coefficient(0, -1); }, "and the power from 0 to 3"},
      {[&] { fitted.confidence_limits(1, -0.5); }, "level must lie between 0 and 1, not -0.5"},
      {[&] { fitted.confidence_limits(1, NAN); }, "level must lie between 0 and 1, not nan"}};
  for (const auto& [call, message] : cases) {
    try {
      call();
      ADD_FAILURE() << "accepted: " << message;
    } catch (const lsq::SplineError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
