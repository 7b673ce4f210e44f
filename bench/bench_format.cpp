// printf's conversions against Format's: ns per number ("Time") for %.10g, %.6g and %13.5e over
// numbers of many magnitudes, and a table of 10^6 rows of four %.10g numbers written to /dev/null
// by fprintf and by write_rows on 1 thread and on every core (counter "per_number").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "Format.hpp"
#include "Parallel.hpp"
#include "Table.hpp"

namespace {

// Numbers with 17 significant digits and exponents from 1e-12 to 1e12, both signs.
const std::vector<double>& numbers() {
  static const std::vector<double> values = [] {
    std::vector<double> v(4 * 1000000);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> mantissa(-1, 1), exponent(-40, 40);
    for (double& x : v) x = std::ldexp(mantissa(rng), static_cast<int>(exponent(rng)));
    return v;
  }();
  return values;
}

// One conversion per iteration, cycling through numbers().
template <class Convert>
void per_number(benchmark::State& state, Convert convert) {
  const std::vector<double>& v = numbers();
  char s[max_number_chars];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(convert(s, v[i]));
    if (++i == v.size()) i = 0;
  }
}

void Printf_g10(benchmark::State& st) {
  per_number(st,
             [](char* s, double x) { return std::snprintf(s, max_number_chars, "%.*g", 10, x); });
}
void Format_g10(benchmark::State& st) {
  per_number(st, [](char* s, double x) { return append_g(s, x, 10); });
}
void Printf_g6(benchmark::State& st) {
  per_number(st, [](char* s, double x) { return std::snprintf(s, max_number_chars, "%g", x); });
}
void Format_g6(benchmark::State& st) {
  per_number(st, [](char* s, double x) { return append_g(s, x, 6); });
}
void Printf_e13_5(benchmark::State& st) {
  per_number(
      st, [](char* s, double x) { return std::snprintf(s, max_number_chars, "%*.*e", 13, 5, x); });
}
void Format_e13_5(benchmark::State& st) {
  per_number(st, [](char* s, double x) { return append_e(s, x, 13, 5); });
}
BENCHMARK(Printf_g10);
BENCHMARK(Format_g10);
BENCHMARK(Printf_g6);
BENCHMARK(Format_g6);
BENCHMARK(Printf_e13_5);
BENCHMARK(Format_e13_5);

constexpr std::size_t rows = 1000000;

// Row i of the table: numbers 4i..4i+3.
bool four_numbers(std::size_t i, double* values) {
  std::copy_n(numbers().data() + 4 * i, 4, values);
  return true;
}

void Table_fprintf(benchmark::State& state) {
  std::FILE* f = std::fopen("/dev/null", "w");
  const double* x = numbers().data();
  for (auto _ : state)
    for (std::size_t i = 0; i < rows; i++)
      std::fprintf(f, "%.10g\t%.10g\t%.10g\t%.10g\n", x[4 * i], x[4 * i + 1], x[4 * i + 2],
                   x[4 * i + 3]);
  std::fclose(f);
  state.counters["per_number"] = benchmark::Counter(
      4.0 * rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Argument: threads (0: every core).
void Table_write_rows(benchmark::State& state) {
  const RowFormat row{.columns = std::vector(4, ColumnFormat{Conversion::g, 10}), .after = "\n"};
  std::FILE* f = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    OutputBuffer out(f);
    write_rows(out, row, rows, four_numbers, static_cast<unsigned>(state.range(0)));
    if (!out.flush()) state.SkipWithError("write failed");
  }
  std::fclose(f);
  state.counters["per_number"] = benchmark::Counter(
      4.0 * rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["threads"] =
      static_cast<double>(state.range(0) ? state.range(0) : parallel::threads());
}
BENCHMARK(Table_fprintf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Table_write_rows)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
