// The fit's hot path and its floor:
//   BM_Eqn           one objective evaluation (Transfer, Continuity, N residuals), N = 10^2..10^6,
//                    J = 1, 10, 100, M = 2 and 3;
//   BM_SumOfSquares  the floor: the bare serial sum of squares over N doubles in point order, one
//                    dependent chain of additions, as the objective's own sum must be;
//   BM_Fit           whole fits as the driver runs them: Powell's (Method 0) and the exact solve
//                    (Method 1, N = 10^4..10^6 on 50 intervals);
//   BM_LoadData      reading a data file of 10^6 rows with the program's reader.
// The counter "per_point" (or "per_row") is the time per point (row); a flat column across sizes
// means linear cost. Run with --benchmark_repetitions=3 and compare medians: the machine is shared.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Input.hpp"
#include "Model.hpp"
#include "bench_model.hpp"

namespace {

void set_per_item(benchmark::State& state, const char* name, double items) {
  state.counters[name] = benchmark::Counter(
      items, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A parameter vector of modest values: interval 1 near the data, small top-degree coefficients.
std::vector<double> some_parameters() {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-0.05, 0.05);
  std::vector<double> Z(static_cast<std::size_t>(NN) + 1, 0.0);
  Z[1] = 0.1;
  Z[2] = 1.0;
  for (int k = 3; k <= NN; k++) Z[static_cast<std::size_t>(k)] = u(rng);
  return Z;
}

void BM_Eqn(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  ModelState model(n, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), 20240601);
  std::vector<double> Z = some_parameters();
  for (auto _ : state) benchmark::DoNotOptimize(Eqn(Z.data()));
  set_per_item(state, "per_point", n);
}

void BM_SumOfSquares(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> r(static_cast<std::size_t>(n));
  for (double& v : r) v = u(rng);
  for (auto _ : state) {
    double sum = 0.0;
    for (double v : r) sum += v * v;  // one dependent chain, in order
    benchmark::DoNotOptimize(sum);
  }
  set_per_item(state, "per_point", n);
}

// One whole fit per iteration, as the program runs it: Method 0 (Powell from zero along the unit
// directions, criterion 1e-8) or Method 1 (the exact solve). "objective" is the sum of squares
// reached, for comparing the two methods on one problem.
void BM_Fit(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ModelState model(n, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), 20240601);
  const lsq::Settings settings{state.range(3) == 1 ? lsq::Method::exact : lsq::Method::powell,
                               lsq::Weights::none, 1e-8};
  lsq::Fit fit;
  for (auto _ : state) {
    fit = fit_model(settings);
    benchmark::DoNotOptimize(c[1][0]);
  }
  state.counters["iterations"] = fit.iterations;
  set_per_item(state, "per_point", n);
  state.counters["objective"] = fit.stats.RSS;
}

// A data file of rows "x y" as an instrument might write them, kept for the whole run.
const std::string& data_file_of(int rows) {
  static std::string name;
  if (!name.empty()) return name;
  name = (std::filesystem::temp_directory_path() / "bench_fit_rows.dat").string();
  std::FILE* f = std::fopen(name.c_str(), "w");
  std::fprintf(f, "Benchmark data, %d rows\n", rows);
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < rows; i++) {
    double t = 10.0 * (i + u(rng)) / rows;
    std::fprintf(f, "%.6f %.9g\n", t, bench_curve(t) + 0.05 * (u(rng) - 0.5));
  }
  std::fclose(f);
  return name;
}

void BM_LoadData(benchmark::State& state) {
  int rows = static_cast<int>(state.range(0));
  const std::string& name = data_file_of(rows);
  RunControl control;
  control.ix = 1;
  control.iy = 2;
  control.ii = 2;
  for (auto _ : state) {
    DataFile data = read_data(name, control, rows + 2);
    benchmark::DoNotOptimize(data.x.data());
  }
  set_per_item(state, "per_row", rows);
}

}  // namespace

BENCHMARK(BM_Eqn)
    ->ArgNames({"N", "J", "M"})
    ->ArgsProduct({{100, 1000, 10000, 100000, 1000000}, {1, 10, 100}, {2, 3}});
BENCHMARK(BM_SumOfSquares)->ArgName("N")->RangeMultiplier(10)->Range(100, 1000000);
BENCHMARK(BM_Fit)
    ->ArgNames({"N", "J", "M", "Method"})
    ->Args({1000, 10, 3, 0})
    ->Args({10000, 10, 3, 0})
    ->Args({100000, 10, 3, 0})
    ->Args({10000, 5, 3, 0})
    ->Args({10000, 20, 3, 0})
    ->Args({10000, 10, 2, 0})
    ->ArgsProduct({{10000, 100000, 1000000}, {50}, {2, 3}, {1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadData)->ArgName("rows")->Arg(1000000)->Unit(benchmark::kMillisecond);
