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
#include "bench_model.hpp"

namespace {

void BM_ExactFit(benchmark::State& state) {
  ModelState model(static_cast<int>(state.range(0)), 50, static_cast<int>(state.range(1)),
                   20240611);
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
