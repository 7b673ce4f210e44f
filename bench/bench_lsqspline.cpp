// The least-squares spline library: BM_LsqFit fits a cubic on 50 automatic intervals to N noisy
// points in ascending order (N = 10^3..10^6); BM_LsqValues evaluates the fitted spline at N
// sorted abscissae in one values() call; BM_LsqStandardError gives the standard error at N
// abscissae; BM_LsqRobustFit makes the fit of BM_LsqFit with 8% of the points thrown off by
// 2 to 5 noise widths, least squares (robust 0), Huber (1) or bisquare (2), and counts the
// reweighting steps. "per_point" is the time per point: a flat column means linear cost.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "LsqSpline.hpp"

namespace {

struct Points {
  std::vector<double> x, y;
  // `outliers`: that share of the points, one in every 1/outliers, is thrown off by 2 to 5 times
  // the noise, up or down at random.
  explicit Points(std::size_t n, double outliers = 0.0) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::uniform_real_distribution<double> off(0.2, 0.5);
    for (std::size_t i = 0; i < n; i++) {
      x.push_back(10.0 * (static_cast<double>(i) + 0.5) / static_cast<double>(n));
      y.push_back(std::sin(x.back()) + noise(rng));
      if (outliers > 0.0 && std::floor(static_cast<double>(i + 1) * outliers) >
                                std::floor(static_cast<double>(i) * outliers))
        y.back() += (rng() % 2 ? 1.0 : -1.0) * off(rng);
    }
  }
};

void per_point(benchmark::State& state, std::size_t n) {
  state.counters["per_point"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void BM_LsqFit(benchmark::State& state) {
  Points p(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(lsq::fit(p.x, p.y, 3, 50).statistics().RSS);
  per_point(state, p.x.size());
}

void BM_LsqRobustFit(benchmark::State& state) {
  Points p(static_cast<std::size_t>(state.range(0)), 0.08);
  const auto robust = static_cast<lsq::Robust>(state.range(1));
  int steps = 0;
  for (auto _ : state) {
    lsq::Spline s = lsq::fit(p.x, p.y, 3, 50, {}, lsq::Weights::none, robust);
    steps = s.robust().iterations;
    benchmark::DoNotOptimize(s.statistics().RSS);
  }
  state.counters["steps"] = steps;
  per_point(state, p.x.size());
}

void BM_LsqValues(benchmark::State& state) {
  Points p(static_cast<std::size_t>(state.range(0)));
  lsq::Spline s = lsq::fit(p.x, p.y, 3, 50);
  std::vector<double> out(p.x.size());
  for (auto _ : state) {
    s.values(p.x, out);
    benchmark::DoNotOptimize(out.data());
  }
  per_point(state, p.x.size());
}

void BM_LsqStandardError(benchmark::State& state) {
  Points p(static_cast<std::size_t>(state.range(0)));
  lsq::Spline s = lsq::fit(p.x, p.y, 3, 50);
  for (auto _ : state)
    for (double t : p.x) benchmark::DoNotOptimize(s.standard_error(t));
  per_point(state, p.x.size());
}

}  // namespace

BENCHMARK(BM_LsqFit)
    ->ArgName("N")
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LsqRobustFit)
    ->ArgNames({"N", "robust"})
    ->ArgsProduct({{10000, 1000000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LsqValues)->ArgName("N")->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_LsqStandardError)->ArgName("N")->RangeMultiplier(10)->Range(1000, 1000000);
