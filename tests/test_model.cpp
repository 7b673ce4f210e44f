// The spline model: evaluators, end row, the objective (continuity sums included) and the knot
// placements. The exact fit is tested in test_lsqspline and, through the program, by golden fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "Model.hpp"
#include "Numutil.hpp"
#include "Report.hpp"
#include "table.hpp"

namespace {

using Vec = std::vector<double>;
std::mt19937_64 rng(1);

// The rows of numbers of tests/data/<file>.
std::vector<Vec> data_rows(const char* file) {
  std::vector<Vec> rows;
  for (const Row& row : table(file)) rows.push_back(numbers(row[0]));
  return rows;
}

// Degree m on the abscissae xs (ascending) with ordinates sin(3 x) and, when weighted, weights
// 1, 2, 0, 1, ...; on the knots given or, when there are none, `intervals` placed evenly.
void set_up(int m, const Vec& xs, const Vec& knots, int intervals = 0, bool weighted = false) {
  allocate_points(static_cast<int>(xs.size()), m, weighted);
  for (int i = 1; i <= N; i++) x[i] = xs[i - 1], y[i] = std::sin(3 * x[i]);
  for (int i = 1; weighted && i <= N; i++) w[i] = i % 3;
  if (knots.empty()) place_knots_evenly(intervals);
  if (!knots.empty()) place_knots(knots.data(), static_cast<int>(knots.size()));
}

Vec random_vector(std::size_t n) {
  Vec v(n);
  for (double& e : v) e = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
  return v;
}

// Coefficient k (value, slope, half curvature) of the polynomial sum of a[m] s^m at s = d: the
// terms pow(d, m - k) times the coefficient's factor, added to 0.0 in ascending m.
double shifted(const double* a, int k, double d) {
  double sum = 0.0;
  for (int m = k; m <= M; m++)
    sum += std::pow(d, double(m - k)) * ((k == 0 ? 1 : k == 1 ? m : m * (m - 1) / 2) * a[m]);
  return sum;
}

// Random pieces; the probes of row J + 1 find the end row to be piece J about the last knot.
TEST(Evaluators, TakeThePieceRightOfAKnotAndPieceJAtAndBeyondTheEnd) {
  for (int m : {2, 3}) {
    set_up(m, {1.5}, {1.0, 2.0, 3.0, 4.0});
    for (int j = 1; j <= J; j++) std::ranges::copy(random_vector(M + 1), c[j]);
    complete_end_row();
    for (const Vec& row : data_rows("evaluator_probes.txt"))  // t, the row of c that holds P(t)
      for (int k = 0, j = static_cast<int>(row[1]); k <= 2; k++)
        EXPECT_NEAR(k == 0 ? P(row[0]) : Pd(row[0], k) / k, shifted(c[j], k, row[0] - X[j]), 1e-11)
            << "M " << m << ", t " << row[0] << ", order " << k;
  }
}

// The objective as defined: Transfer, each continuity sum the previous piece shifted to the
// knot, then r * r (w[i] * (r * r) with weights) summed in point order.
double defined_objective(const Vec& Z) {
  Transfer(Z.data());
  for (int j = 1; j < J; j++)
    for (int k = 0; k < M; k++) c[j + 1][k] = shifted(c[j], k, delta[j]);
  double sum = 0.0;
  for (int i = 1; i <= N; i++)  // unweighted, 1.0 * (r * r): the same digits as r * r
    sum += (w != nullptr ? w[i] : 1.0) * ((P0(x[i], I[i]) - y[i]) * (P0(x[i], I[i]) - y[i]));
  return sum;
}

// The objective keeps pow(delta, m) between calls, so the models on the same points are checked
// after each change: points of one interval apart, new widths, a zero width, widths restored.
TEST(Objective, EqualsItsDefiningSumBitForBit) {
  for (std::size_t n : {1, 2, 3, 8, 101})
    for (int j : {1, 2, 5, 40}) {
      Vec xs = random_vector(n);
      std::ranges::sort(xs);
      for (int model = 0; model < 4 && j < static_cast<int>(2 * n); model++) {
        set_up(2 + model % 2, xs, {}, j, model > 1);
        for (int change = 0; change <= 4; change++) {
          for (int i = 1; i <= N && change == 1; i++) I[i] = 1 + static_cast<int>(rng() % J);
          for (int k = 1; k <= J; k++)
            delta[k] = change == 4 ? X[k + 1] - X[k] : change == 2 ? 1.1 * delta[k] : delta[k];
          if (change == 3) delta[1] = 0.0;
          Vec Z = random_vector(NN + 1);
          EXPECT_EQ(Eqn(Z.data()), defined_objective(Z))
              << "N " << N << ", J " << J << ", model " << model << ", change " << change;
        }
      }
    }
}

// The points 1, 4, 9, ..., N^2 on J intervals, automatic or on the knots of the row.
TEST(KnotPlacement, GroupsThePointsAsTabledWithAutomaticKnotsMidwayBetweenGroups) {
  for (const Vec& row : data_rows("knot_groups.txt")) {
    const int intervals = static_cast<int>(row[1]);
    Vec xs, knots(row.begin() + 2 + intervals, row.end());
    for (int i = 1; i <= row[0]; i++) xs.push_back(i * i);
    set_up(3, xs, knots, intervals);
    EXPECT_TRUE(NN == J + 3 && J == intervals && X[1] == (knots.empty() ? x[1] : knots[0]));
    for (int j = 1, first = 1; j <= J; first = static_cast<int>(row[j + 1]) + 1, j++) {
      const int last = static_cast<int>(row[j + 1]);
      for (int i = first; i <= last; i++) EXPECT_EQ(I[i], j) << N << "/" << J << ": point " << i;
      EXPECT_EQ(X[j + 1], !knots.empty() ? knots[j] : j < J ? 0.5 * (x[last] + x[last + 1]) : x[N]);
      EXPECT_EQ(delta[j], X[j + 1] - X[j]);
    }
  }
}

// A fit farther from the points than their mean, or with a sum of squares below the least-squares
// minimum, cannot pass silently: after Powell's search (here one that stops far off) the warning
// points to Method 1; after the exact solve, or below the minimum (both planted in a correct
// fit), it calls the fit a fault.
TEST(Warnings, NameAFitWorseThanTheMeanAndOneBelowTheMinimum) {
  set_up(3, {0, 0.1, 0.25, 0.3, 0.5, 0.55, 0.7, 0.9, 1, 1.2, 1.3}, {}, 4);
  lsq::Fit powell =
      lsq::fit(model_problem(), {.method = lsq::Method::powell},
               [](const lsq::Problem&, double, Vec& c) { return c.assign(c.size(), 9.0), 1; });
  lsq::Fit exact = lsq::fit(model_problem(), {}), below = exact;
  exact.stats.RSS = 2.0 * exact.stats.TSS;
  below.method = lsq::Method::powell, below.RSS_min = 2.0 * below.stats.RSS;
  for (auto [fit, says] : {std::pair{&powell, "than their mean; Method 1 gives the least-squares"},
                           {&exact,
                            "than their mean, which a least-squares fit cannot; that is a "
                            "fault of splinefit"},
                           {&below, "Powell's fit has a smaller sum of squares"}}) {
    testing::internal::CaptureStderr();
    warn_about_fit(model_problem(), *fit, "run.fit");
    EXPECT_NE(testing::internal::GetCapturedStderr().find(says), std::string::npos) << says;
  }
}


// What the program says after a numerical failure in Powell's search is said in the search only.
TEST(PowellNoteDeathTest, IsNotSaidAfterTheSearch) {
  set_up(2, {0, 1, 2, 3, 4}, {}, 1);
  fit_model({.method = lsq::Method::powell});
  EXPECT_EXIT(numerror("later"), testing::ExitedWithCode(1), numerror_report("later"));
}
}  // namespace
