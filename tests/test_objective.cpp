// The objective Eqn against the formulas it stands for, bit for bit: coefficients from the
// parameters by the continuity sums with pow, then the plain sum of squared residuals of P0 in
// point order. Eqn takes shortcuts (powers of the widths kept between calls, residuals by runs
// of points in one interval); these tests set the model state directly, change it between
// calls, and check that every value is still exactly the formula's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "model_setup.hpp"

namespace {

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Model state of degree m with n points on [0, 10) and j intervals of uneven widths, each point
// in the interval from its knots (sorted runs); released on destruction.
struct State {
  State(int n, int j, int m, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> knots = {0.0}, xs, ys;
    for (int k = 1; k <= j; k++) knots.push_back(knots.back() + 0.2 + u(rng) * 10.0 / j);
    for (int i = 1; i <= n; i++) {
      xs.push_back(knots.back() * (i - 1 + u(rng)) / n);
      ys.push_back(std::sin(xs.back()) + 0.1 * (u(rng) - 0.5));
    }
    set_model(m, xs, ys, knots);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { release_model(); }
};

// The objective as the formulas state it, on a private coefficient matrix: row 1 and the top
// coefficients from the parameters, the other coefficients by the continuity sums with
// pow(delta[j], power) accumulated from 0.0 in ascending power, then sum += (P0 - y)^2 with P0's
// running power t1 = (x - X[j]) * t1.
double reference_objective(const std::vector<double>& Z) {
  std::vector<std::vector<double>> k(static_cast<std::size_t>(J) + 1,
                                     std::vector<double>(static_cast<std::size_t>(M) + 1));
  int next = 0;
  for (int i = 0; i <= M; i++) k[1][i] = Z[++next];
  for (int i = 2; i <= J; i++) k[i][M] = Z[++next];
  for (int j = 1; j <= J - 1; j++) {
    k[j + 1][0] = 0.0;
    for (int m = 0; m <= M; m++) k[j + 1][0] += std::pow(delta[j], double(m)) * k[j][m];
    if (M > 1) {
      k[j + 1][1] = 0.0;
      for (int m = 1; m <= M; m++) k[j + 1][1] += std::pow(delta[j], double(m - 1)) * (m * k[j][m]);
    }
    if (M > 2) {
      k[j + 1][2] = 0.0;
      for (int m = 2; m <= M; m++)
        k[j + 1][2] += std::pow(delta[j], double(m - 2)) * (m * 0.5 * (m - 1) * k[j][m]);
    }
  }
  double sum = 0.0;
  for (int i = 1; i <= N; i++) {
    const std::vector<double>& row = k[static_cast<std::size_t>(I[i])];
    double value = row[0], t1 = 1.0;
    for (int m = 1; m <= M; m++) {
      t1 = (x[i] - X[I[i]]) * t1;
      value += row[m] * t1;
    }
    double r = value - y[i];
    sum += r * r;
  }
  return sum;
}

std::vector<double> random_parameters(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> Z(static_cast<std::size_t>(NN) + 1);
  for (double& z : Z) z = u(rng);
  return Z;
}

void expect_exact_objective(std::mt19937_64& rng) {
  for (int trial = 0; trial < 3; trial++) {
    std::vector<double> Z = random_parameters(rng);
    double expected = reference_objective(Z);
    EXPECT_EQ(bits(Eqn(Z.data())), bits(expected)) << "N " << N << " J " << J << " M " << M;
  }
}

TEST(Objective, EqualsTheFormulaBitForBitForEverySizeAndDegree) {
  std::mt19937_64 rng(1);
  for (int m : {1, 2, 3})
    for (int n : {1, 2, 3, 7, 8, 100, 1001})
      for (int j : {1, 2, 5, 40}) {
        State state(n, j, m, rng);
        expect_exact_objective(rng);
      }
}

TEST(Objective, StaysExactWhenPointsOfOneIntervalAreNotContiguous) {
  std::mt19937_64 rng(2);
  for (int m : {2, 3}) {
    State state(301, 9, m, rng);
    std::uniform_int_distribution<int> interval(1, J);
    for (int i = 1; i <= N; i++) I[i] = interval(rng);  // any interval, in any order
    expect_exact_objective(rng);
    for (int i = 1; i <= N; i++) I[i] = 1 + (i / 2) % J;  // runs of two, misaligned by one
    I[1] = J;
    expect_exact_objective(rng);
  }
}

TEST(Objective, FollowsWidthsKnotsAndDegreeChangedBetweenCalls) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int m : {2, 3}) {
    State state(200, 12, m, rng);
    expect_exact_objective(rng);
    // Move the inner knots and their widths in place, as a test or a second fit might.
    for (int k = 2; k <= J; k++) X[k] += 0.1 * (u(rng) - 0.5);
    for (int k = 1; k <= J; k++) delta[k] = X[k + 1] - X[k];
    expect_exact_objective(rng);
    delta[3] = 0.0;  // a zero width: d^0 is still 1
    expect_exact_objective(rng);
  }
  // A new state of another degree and interval count over the same process-wide tables.
  for (int j : {30, 4, 50}) {
    State state(150, j, 2 + j % 2, rng);
    expect_exact_objective(rng);
  }
}

}  // namespace
