// Knots chosen by the data, against an independent dense solve: the number of intervals of least
// GCV, and free knots that are never worse than where they start, ordered, apart and the same on
// every call.
#include <gtest/gtest.h>
#include <stdlib.h>  // setenv

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "KnotChoice.hpp"
#include "reference.hpp"

namespace {

// n noisy samples of a narrow bump on a slow wave, in random order; `step` > 0 rounds the
// abscissae to its multiples, which makes replicates.
struct Data {
  std::vector<double> x, y, w;  // w: 0 for every fourth point, else 1 to 3, when weighted
  Data(int n, unsigned seed, double step = 0, bool weighted = false) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < n; i++) {
      const double t = step > 0 ? std::round(u(rng) / step) * step : u(rng);
      x.push_back(t);
      y.push_back(std::sin(6 * t) + std::exp(-std::pow((t - 0.7) / 0.03, 2)) +
                  0.1 * (u(rng) - 0.5));
      if (weighted) w.push_back(i % 4 == 0 ? 0 : 1 + i % 3);
    }
  }
  long double rss(const std::vector<double>& knots, int* rank = nullptr) const {
    const reference::Spline r = reference::fit(x, y, w, 3, knots);
    long double sum = 0;
    for (std::size_t i = 0; i < x.size(); i++)
      sum += (w.empty() ? 1 : w[i]) * std::pow(r.value(x[i]) - y[i], 2);
    if (rank != nullptr) *rank = r.rank;
    return sum;
  }
};

// Weighted, with points of weight 0, which do not count in n.
TEST(KnotChoice, TheNumberOfIntervalsHasTheLeastGCVOfAnIndependentSolveAtEveryJ) {
  const Data d(150, 3, 0, true);
  const auto c =
      lsq::fit_choosing_knots(d.x, d.y, 3, lsq::Knots::count, 60, d.w, lsq::Weights::weights);
  ASSERT_EQ(c.choice.scan.size(), 60u);
  int best = 0;
  long double least = INFINITY, n = 150 - 38;  // 38 points of weight 0
  for (int J = 1; J <= 60; J++) {
    const lsq::Spline fixed = lsq::fit(d.x, d.y, 3, J, d.w, lsq::Weights::weights);
    int rank = 0;
    const long double rss = d.rss({fixed.knots().begin(), fixed.knots().end()}, &rank);
    const long double gcv = n * rss / ((n - rank) * (n - rank));
    EXPECT_NEAR(c.choice.scan[static_cast<std::size_t>(J) - 1].GCV, gcv, 1e-9 * gcv) << J;
    if (gcv < least) least = gcv, best = J;
  }
  EXPECT_EQ(c.choice.scan[c.choice.chosen].J, best);
  EXPECT_EQ(c.spline.intervals(), best);
}

// Wild points neither add knots nor hide the curve's features: on data with spikes, the robust
// choices come near what least squares chooses without the spikes (28 intervals).
TEST(KnotChoice, ARobustChoiceOnSpikyDataFollowsTheChoiceOnCleanData) {
  Data d(150, 9);
  const int clean = lsq::fit_choosing_knots(d.x, d.y, 3, lsq::Knots::count, 30).spline.intervals();
  for (int k : {10, 40, 41, 90, 120}) d.y[static_cast<std::size_t>(k)] += 3.0;
  for (lsq::Robust robust : {lsq::Robust::huber, lsq::Robust::bisquare})
    EXPECT_NEAR(lsq::fit_choosing_knots(d.x, d.y, 3, lsq::Knots::count, 30, {}, {}, {}, robust)
                    .spline.intervals(),
                clean, clean / 4);
}

// Beyond 100 intervals the scan steps (a test of the other rows' values is the one above): the
// largest J is tried, and so is every J next to the chosen one.
TEST(KnotChoice, AScanBeyondAHundredIntervalsTriesTheLargestAndTheNeighboursOfTheChosen) {
  Data d(1200, 11);
  for (std::size_t i = 0; i < d.x.size(); i++) d.y[i] = std::sin(120 * d.x[i]) + 0.01 * d.y[i];
  const auto c = lsq::fit_choosing_knots(d.x, d.y, 3, lsq::Knots::count, 500);
  const int chosen = c.choice.scan[c.choice.chosen].J;
  ASSERT_GT(chosen, 100);
  std::vector<int> tried;
  for (const lsq::ScanRow& row : c.choice.scan) tried.push_back(row.J);
  EXPECT_TRUE(std::ranges::is_sorted(tried) && tried.back() == 500);
  EXPECT_TRUE(std::ranges::count(tried, chosen - 1) && std::ranges::count(tried, chosen + 1));
}

// From equal-count knots (distinct abscissae, replicates, enough points for the search to use
// several threads) and from given knots; J chosen by
// GCV with each inner knot counted as 1.5 parameters.
TEST(KnotChoice, FreeKnotsAreNeverWorseThanTheirStartOrderedApartAndTheSameOnOneThreadAndOnThree) {
  const Data smooth(200, 5), replicated(120, 7, 0.02), many(1500, 9);
  const std::vector<double> given = {0, 0.1, 0.5, 0.55, 0.9, 1};
  for (auto [d, start] : {std::pair{&smooth, std::vector<double>{}},
                          {&replicated, std::vector<double>{}},
                          {&many, std::vector<double>{}},
                          {&smooth, given}}) {
    setenv("SPLINEFIT_THREADS", "1", 1);  // and on three threads
    const auto a = lsq::fit_choosing_knots(d->x, d->y, 3, lsq::Knots::free, 30, {}, {}, start);
    setenv("SPLINEFIT_THREADS", "3", 1);
    const auto b = lsq::fit_choosing_knots(d->x, d->y, 3, lsq::Knots::free, 30, {}, {}, start);
    unsetenv("SPLINEFIT_THREADS");
    EXPECT_EQ(a.choice.knots, b.choice.knots);
    for (const lsq::ScanRow& row : a.choice.scan) {
      EXPECT_LE(row.RSS, row.start_RSS * (1 + 1e-12)) << row.J;
      const double left = d->x.size() - row.rank - 1.5 * (row.J - 1);  // 1.5 per inner knot
      EXPECT_NEAR(row.criterion, d->x.size() * row.RSS / (left * left), 1e-12 * row.criterion);
    }
    const std::vector<double>& k = a.choice.knots;
    const double span = k.back() - k.front();
    for (std::size_t j = 1; j < k.size(); j++)
      EXPECT_GE(k[j] - k[j - 1], lsq::min_separation * span * (1 - 1e-9)) << j;
    EXPECT_NEAR(double(d->rss(k)), a.choice.scan[a.choice.chosen].RSS, 1e-9);
    EXPECT_TRUE(start.empty() || (k.size() == given.size() && k.front() == 0 && k.back() == 1));
  }
}

}  // namespace
