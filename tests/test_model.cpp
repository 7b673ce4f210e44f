// The spline model: evaluators, parameter map, continuity, objective and knot placement.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "model_setup.hpp"

namespace {

// p(t) = a0 + a1 t + a2 t^2 + a3 t^3 and its derivatives.
struct Cubic {
  double a0, a1, a2, a3;
  double value(double t) const { return a0 + t * (a1 + t * (a2 + t * a3)); }
  double d1(double t) const { return a1 + t * (2 * a2 + t * 3 * a3); }
  double d2(double t) const { return 2 * a2 + 6 * a3 * t; }
};

// The parameters that make interval 1 the polynomial p expanded about X[1] and give every other
// interval p's leading coefficient: with them the whole spline is p.
std::vector<double> parameters_of(const Cubic& p, int degree) {
  double t = X[1];
  std::vector<double> Z = {0.0, p.value(t), p.d1(t), p.d2(t) / 2};
  if (degree == 3) Z.push_back(p.a3);
  for (int j = 2; j <= J; j++) Z.push_back(degree == 3 ? p.a3 : p.d2(t) / 2);
  return Z;
}

TEST(SplineModel, ZeroParametersGiveZeroCoefficientsAndTheSumOfSquaredOrdinates) {
  for (int degree : {2, 3}) {
    set_model(degree, {0.5, 1.0, 2.5, 3.0}, {1.0, -2.0, 3.0, 0.5}, {0.0, 1.0, 2.0, 4.0});
    std::vector<double> Z(NN + 1, 0.0);
    EXPECT_EQ(Eqn(Z.data()), 1.0 + 4.0 + 9.0 + 0.25);
    for (int j = 1; j <= J; j++)
      for (int m = 0; m <= M; m++) EXPECT_EQ(c[j][m], 0.0) << j << " " << m;
  }
}

TEST(SplineModel, APolynomialOfTheModelsDegreeIsReproducedOnEveryInterval) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int degree : {2, 3}) {
    for (int trial = 0; trial < 20; trial++) {
      Cubic p{u(rng), u(rng), u(rng), degree == 3 ? u(rng) : 0.0};
      std::vector<double> knots = {-1.0};
      for (int j = 0; j < 6; j++) knots.push_back(knots.back() + 0.1 + (u(rng) + 2.0) / 2.0);
      std::vector<double> xs, ys;
      for (double t = knots.front(); t <= knots.back(); t += 0.05) {
        xs.push_back(t);
        ys.push_back(p.value(t));
      }
      set_model(degree, xs, ys, knots);
      std::vector<double> Z = parameters_of(p, degree);
      ASSERT_EQ(static_cast<int>(Z.size()), NN + 1);
      EXPECT_LT(Eqn(Z.data()), 1e-18 * N);
      for (int j = 1; j <= J; j++) {
        EXPECT_NEAR(c[j][0], p.value(X[j]), 1e-12);
        EXPECT_NEAR(c[j][1], p.d1(X[j]), 1e-11);
        EXPECT_NEAR(c[j][2], p.d2(X[j]) / 2, 1e-11);
      }
      for (double t : {-1.5, knots[2], 0.3, knots.back(), knots.back() + 1.0}) {
        EXPECT_NEAR(P(t), p.value(t), 1e-10) << t;
        EXPECT_NEAR(Pd(t, 1), p.d1(t), 1e-10) << t;
        EXPECT_NEAR(Pd(t, 2), p.d2(t), 1e-10) << t;
      }
    }
  }
}

// Left limit of interval j - 1 at its right end against the start of interval j.
TEST(SplineModel, ValueSlopeAndForCubicsCurvatureAreContinuousAtEveryInnerKnot) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int degree : {2, 3}) {
    set_model(degree, {}, {}, {0.0, 0.7, 1.1, 2.0, 2.05, 3.5, 3.5, 4.0});
    for (int trial = 0; trial < 50; trial++) {
      std::vector<double> Z(NN + 1);
      for (auto& z : Z) z = u(rng);
      Transfer(Z.data());
      Continuity();
      for (int j = 2; j <= J; j++) {
        double d = X[j] - X[j - 1];
        double value = 0, slope = 0, curvature = 0;
        for (int m = 0; m <= M; m++) {
          value += c[j - 1][m] * std::pow(d, m);
          if (m >= 1) slope += m * c[j - 1][m] * std::pow(d, m - 1);
          if (m >= 2) curvature += m * (m - 1) * c[j - 1][m] * std::pow(d, m - 2);
        }
        double scale = 1.0 + std::fabs(value) + std::fabs(slope) + std::fabs(curvature);
        EXPECT_NEAR(P0(X[j], j), value, 1e-12 * scale);
        EXPECT_NEAR(Pd(X[j], 1), slope, 1e-12 * scale);
        if (M == 3) {
          EXPECT_NEAR(Pd(X[j], 2), curvature, 1e-12 * scale);
        }
      }
      // The top-degree parameters survive Continuity untouched.
      for (int j = 2; j <= J; j++) EXPECT_EQ(c[j][M], Z[M + j]);
    }
  }
}

// Intervals filled with unrelated constants show which one each evaluator picks.
TEST(SplineModel, EvaluatorsPickTheIntervalToTheRightOfAKnotAndTheLastAtTheEnd) {
  set_model(2, {}, {}, {1.0, 2.0, 3.0, 4.0});
  for (int j = 1; j <= J; j++) {
    c[j][0] = 10.0 * j;
    c[j][1] = 0.0;
    c[j][2] = 0.0;
  }
  const double probes[][2] = {{0.0, 10}, {1.0, 10}, {1.999, 10}, {2.0, 20}, {2.5, 20},
                              {3.0, 30}, {4.0, 30}, {9.0, 30},   {-5.0, 10}};
  for (auto& probe : probes) EXPECT_EQ(P(probe[0]), probe[1]) << probe[0];
  EXPECT_EQ(P0(3.25, 2), 20.0);  // P0 takes the interval it is given, not the one holding x
}

TEST(SplineModel, DerivativesAreThoseOfTheIntervalsPolynomial) {
  set_model(3, {}, {}, {0.0, 1.0, 3.0});
  double row1[] = {1.0, -2.0, 0.5, 0.25}, row2[] = {-1.0, 3.0, -0.75, 2.0};
  for (int m = 0; m <= 3; m++) {
    c[1][m] = row1[m];
    c[2][m] = row2[m];
  }
  for (double t : {1.0, 1.5, 2.75, 3.0, 3.5}) {
    double h = t - 1.0;
    Cubic q{row2[0], row2[1], row2[2], row2[3]};
    EXPECT_DOUBLE_EQ(P(t), q.value(h));
    EXPECT_DOUBLE_EQ(Pd(t, 1), q.d1(h));
    EXPECT_DOUBLE_EQ(Pd(t, 2), q.d2(h));
  }
  EXPECT_EQ(P0(0.0, 1), 1.0);  // exactly c[II][0] at the interval's own knot
  EXPECT_EQ(P0(1.0, 2), -1.0);
  M = 2;  // for quadratics the second derivative is constant on each interval
  EXPECT_EQ(Pd(0.2, 2), 1.0);
  EXPECT_EQ(Pd(0.9, 2), 1.0);
  EXPECT_DOUBLE_EQ(Pd(0.5, 1), -2.0 + 2 * 0.5 * 0.5);
  M = 3;
}

// Group ends of the automatic placement, worked out by hand from round(j * N / J).
TEST(KnotPlacement, EqualGroupsWithHalvesRoundedUpward) {
  struct Case {
    int n, intervals;
    std::vector<int> group_ends;
  };
  const Case cases[] = {
      {10, 4, {3, 5, 8, 10}}, {3, 5, {1, 1, 2, 2, 3}}, {7, 1, {7}},
      {6, 3, {2, 4, 6}},      {5, 2, {3, 5}},          {9, 6, {2, 3, 5, 6, 8, 9}}};
  for (const Case& k : cases) {
    std::vector<double> xs;
    for (int i = 1; i <= k.n; i++) xs.push_back(i * i);  // distinct, ascending
    set_model(3, xs, xs, {}, k.intervals);
    int first = 1;
    for (int j = 1; j <= J; j++) {
      for (int i = first; i <= k.group_ends[j - 1]; i++) EXPECT_EQ(I[i], j) << k.n << "/" << J;
      first = k.group_ends[j - 1] + 1;
      if (j < J) {
        int end = k.group_ends[j - 1];
        EXPECT_EQ(X[j + 1], 0.5 * (x[end] + x[end + 1]));
      }
    }
    EXPECT_EQ(X[1], x[1]);
    EXPECT_EQ(X[J + 1], x[N]);
  }
}

TEST(KnotPlacement, KnotsFromAFileAssignEachPointToTheIntervalStartingAtOrBelowIt) {
  // Points below the first knot join interval 1; points on a knot the interval it starts;
  // points at or above the last knot interval J; a zero-width interval gets no point.
  set_model(2, {-1.0, 0.0, 0.5, 1.0, 2.0, 2.0, 2.5, 3.0, 7.0}, std::vector<double>(9, 0.0),
            {0.0, 1.0, 2.0, 2.0, 3.0});
  std::vector<int> expected = {1, 1, 1, 2, 4, 4, 4, 4, 4};
  for (int i = 1; i <= N; i++) EXPECT_EQ(I[i], expected[i - 1]) << x[i];
}

}  // namespace
