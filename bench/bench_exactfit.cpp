// The exact least-squares fit (Method 1): BM_ExactFit solves the whole problem for N = 10^4..10^6
// points on J = 50 automatic intervals, M = 2 and 3. "per_point" is the time per point (a flat
// column means linear cost); "objective" the sum of squares reached, for comparison with Powell's
// fit on the same problem. Run with --benchmark_repetitions=3 and compare medians.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "ExactFit.hpp"
#include "Model.hpp"
#include "Numutil.hpp"
#include "Splinefit.hpp"

namespace {

double curve(double t) {
  return std::exp(-0.15 * t) * std::sin(1.3 * t) + 0.8 * std::exp(-std::pow((t - 6.0) / 0.35, 2));
}

// n ascending points on [0, 10) with noisy ordinates, j automatic intervals, degree m, set up as
// the driver does; released on destruction.
struct ModelState {
  ModelState(int n, int j, int m) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    M = m;
    N = n;
    J = j;
    NN = J + M;
    x = dvector(1, N);
    y = dvector(1, N);
    I = ivector(1, N);
    for (int i = 1; i <= N; i++) {
      x[i] = 10.0 * (i - 1 + u(rng)) / N;
      y[i] = curve(x[i]) + 0.05 * (u(rng) - 0.5);
    }
    X = dvector(1, J + 1);
    place_knots_evenly();
    X0 = X + 1;
    delta = dvector(1, J);
    for (int k = 1; k <= J; k++) delta[k] = X[k + 1] - X[k];
    c = dmatrix(1, J + 1, 0, M);
  }
  ModelState(const ModelState&) = delete;
  ModelState& operator=(const ModelState&) = delete;
  ~ModelState() {
    free_dmatrix(c, 1, J + 1, 0, M);
    free_dvector(delta, 1, J);
    free_dvector(X, 1, J + 1);
    free_ivector(I, 1, N);
    free_dvector(y, 1, N);
    free_dvector(x, 1, N);
  }
};

void BM_ExactFit(benchmark::State& state) {
  ModelState model(static_cast<int>(state.range(0)), 50, static_cast<int>(state.range(1)));
  std::vector<double> Z(static_cast<std::size_t>(NN) + 1, 0.0);
  for (auto _ : state) {
    exact_fit(Z.data());
    benchmark::DoNotOptimize(Z.data());
  }
  state.counters["per_point"] =
      benchmark::Counter(static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
  state.counters["objective"] = Eqn(Z.data());
}
BENCHMARK(BM_ExactFit)
    ->ArgsProduct({{10000, 100000, 1000000}, {2, 3}})
    ->ArgNames({"N", "M"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
