// Cubic spline tables of 10^3 to 10^6 points: building them (Spline, spline) and evaluating them
// once per piece in increasing order (Value, value) and in random order (Value). The counter
// "per_point" is the time per point; a flat column across sizes means linear cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "Interpolation.hpp"

namespace {

// n + 1 points of a wiggly curve over slightly uneven abscissae, in both table layouts.
struct Tables {
  std::vector<double> tau;
  std::unique_ptr<double[][4]> block;
  std::vector<double*> rows;
  explicit Tables(int n) : tau(n + 1), block(std::make_unique<double[][4]>(n + 1)), rows(n + 1) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> width(0.5, 1.5);
    tau[0] = 0;
    for (int i = 1; i <= n; i++) tau[i] = tau[i - 1] + width(rng);
    for (int i = 0; i <= n; i++) {
      rows[i] = block[i];
      block[i][0] = std::sin(0.3 * tau[i]) + 0.01 * tau[i];
    }
  }
};

void set_per_point(benchmark::State& state, int n) {
  state.counters["per_point"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The two table layouts: Spline and Value on row pointers, spline and value on the block.
struct RowPointers {
  static void build(Tables& t, int n) { Spline(t.tau.data(), t.rows.data(), n, 0, 0); }
  static double at(Tables& t, int n, double xx) {
    return Value(t.tau.data(), t.rows.data(), n, xx, 0);
  }
};
struct Block {
  static void build(Tables& t, int n) { spline(t.tau.data(), t.block.get(), n, 0, 0); }
  static double at(Tables& t, int n, double xx) {
    return value(t.tau.data(), t.block.get(), n, xx, 0);
  }
};

// Both end codes 0 read only column 0, which the spline never changes: the same table can be
// rebuilt on every iteration.
template <class Layout>
void BM_build(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  Tables t(n);
  for (auto _ : state) {
    Layout::build(t, n);
    benchmark::DoNotOptimize(t.block[n][3]);
    benchmark::ClobberMemory();
  }
  set_per_point(state, n);
}

// One evaluation per piece, at its middle, in increasing order or shuffled.
template <class Layout, bool Shuffled>
void BM_evaluate(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  Tables t(n);
  Layout::build(t, n);
  std::vector<double> xx;
  for (int i = 1; i <= n; i++) xx.push_back((t.tau[i - 1] + t.tau[i]) / 2);
  if (Shuffled) std::shuffle(xx.begin(), xx.end(), std::mt19937_64(2));
  for (auto _ : state) {
    double sum = 0;
    for (double v : xx) sum += Layout::at(t, n, v);
    benchmark::DoNotOptimize(sum);
  }
  set_per_point(state, n);
}

}  // namespace

BENCHMARK(BM_build<RowPointers>)->Name("Spline")->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_build<Block>)->Name("spline")->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_evaluate<RowPointers, false>)
    ->Name("Value")
    ->RangeMultiplier(10)
    ->Range(1000, 1000000);
BENCHMARK(BM_evaluate<Block, false>)->Name("value")->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_evaluate<RowPointers, true>)
    ->Name("Value_shuffled")
    ->RangeMultiplier(10)
    ->Range(1000, 1000000);
