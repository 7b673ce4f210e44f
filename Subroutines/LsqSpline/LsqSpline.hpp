// Least-squares splines: the spline of degree 2 or 3 on given knots (or on J intervals holding
// equal numbers of points) whose pieces join with continuous value, slope and, for cubics,
// curvature, and that minimises the (weighted) sum of squared residuals; with the statistics of
// the fit and the standard error of the fitted curve.
//
//   lsq::Spline s = lsq::fit(x, y, 3, 12);          // cubic, 12 intervals placed automatically
//   double v = s.value(2.5), slope = s.value(2.5, 1), area = s.integral(2.5);
//   double se = s.standard_error(2.5);
//   auto [low, high] = s.confidence_limits(2.5);    // 95%
//
// The solve is a banded QR factorisation by Givens rotations in the B-spline basis of the
// spline space (time O(N), storage O(J)); normal equations are never formed. There is no state
// outside the objects: several threads may fit and evaluate at once. Bad input throws
// lsq::SplineError, whose what() says what is wrong; nothing here ends the process.
#pragma once

#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lsq {

struct SplineError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// What the weights given to fit() are: none, weights w >= 0 (minimising the sum of w r^2), or
// standard deviations sigma > 0 of the ordinates, taken as known (w = 1 / sigma^2).
enum class Weights { none, weights, sigmas };

// A least-squares problem in the spline model's terms, with 1-based arrays: N points x[1..N]
// ascending, y, weights w (null: all 1), the interval I[i] in 1..J of each point, the knots
// X[1..J+1] non-decreasing, degree M (2 or 3). The spline's parameters are interval 1's M + 1
// coefficients and the top coefficient of each further interval: Z[1..M+1], Z[M+2..M+J].
struct Problem {
  int M = 3, J = 1, N = 0;
  const double* x = nullptr;
  const double* y = nullptr;
  const double* w = nullptr;
  const int* I = nullptr;
  const double* X = nullptr;
};

// The exact least-squares spline of a problem: its coefficients per interval, its B-spline form
// and what the uncertainty of the curve needs.
struct Solution {
  int M = 3, J = 1;
  std::vector<double> knots;  // X[1..J+1]; entry 0 unused
  std::vector<double> c;      // interval j's c[j][0..M], in powers of t - X[j], from (j - 1)(M + 1)
  // The B-spline form: extended knots, the distinct inner knots and the coefficients; empty below
  // M + 1 distinct abscissae, where the fit is a polynomial through means.
  std::vector<double> t, breaks, a;
  // The band of (A^T W A)^-1 next to the diagonal in the B-spline basis, times variance_scale;
  // empty where the data leave the spline undetermined.
  std::vector<double> covariance;
  double variance_scale = 1.0;

  // Interval j's coefficients c[j][0..M] (j = 1..J).
  const double* coefficients(int j) const {
    return &c[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(M + 1)];
  }
  // Interval j's polynomial at t (Horner), j = 1..J.
  double value(int j, double at) const {
    const double* cj = coefficients(j);
    const double d = at - knots[static_cast<std::size_t>(j)];
    double sum = 0.0;
    for (int m = M; m >= 0; m--) sum = sum * d + cj[m];
    return sum;
  }
  // b^T (A^T W A)^-1 b for the values b of the B-splines at t: the variance of the fitted curve
  // there over sigma^2. NaN where the data leave the spline undetermined.
  double variance_factor(double t) const;
};

// The least-squares spline of the problem: the minimiser of the sum of w[i] r[i]^2 of the
// residuals, in O(N (M+1)^2) time, by a banded Givens QR in the B-spline basis, with rows scaled
// by the square roots of the weights. Where the data leave the spline undetermined, the
// minimiser with the smallest jumps of the M-th derivative at the inner knots, each jump
// measured as the jump of the top coefficient times h^M for the narrower of the two intervals
// beside its knot (shared out among several knots at one abscissa); this carries a neighbour's
// polynomial across an interval without points. Below M + 1 distinct abscissae, the polynomial
// of lowest degree through the (weighted) mean ordinate at each. The result does not depend on
// the scale of the weights.
Solution solve(const Problem& p);

// The rank of the problem: the dimension of the spline space (the distinct inner knots, M - 1
// continuous derivatives) on the distinct abscissae of the points whose weight is not 0, counted
// exactly by matching B-splines with abscissae inside their supports in order (Schoenberg and
// Whitney's condition; de Boor, A Practical Guide to Splines, ch. XIII). With `undetermined`,
// the ascending list of intervals where the data leave the spline free.
int rank(const Problem& p, std::vector<int>* undetermined = nullptr);

// How well a spline fits, for N points of which `counted` have weights above 0.
struct Statistics {
  int N = 0, counted = 0, parameters = 0, rank = 0;
  Weights weights = Weights::none;
  double RSS = 0.0;  // sum of (weighted) squared residuals: chi^2 for known sigmas
  double TSS = 0.0;  // (weighted) sum of squares about the (weighted) mean ordinate
  double max_residual = 0.0, at = 0.0;  // the largest |residual| and its abscissa
  // Each is NaN where it has no meaning: sigma and GCV without degrees of freedom, R2 when
  // TSS = 0, AIC and BIC when RSS = 0.
  int dof() const { return counted - rank; }
  double sigma() const;   // sqrt(RSS / dof)
  double R2() const;      // 1 - RSS / TSS
  double AIC() const;     // n ln(RSS / n) + 2 rank, n = counted
  double BIC() const;     // n ln(RSS / n) + rank ln n
  double GCV() const;     // n RSS / (n - rank)^2
  double p_chi2() const;  // probability of a chi^2 with dof degrees of freedom above RSS
  // The 0.975 quantile of Student's t with dof degrees of freedom, or of the normal
  // distribution when the sigmas are known: the factor of se in 95% confidence limits.
  double quantile(double level = 0.95) const;
};

// TSS, the rank and the counts of statistics for the problem's points (with `undetermined` as
// for rank()); RSS and the residuals are the caller's, who evaluates the spline as it stands.
Statistics describe(const Problem& p, Weights weights, std::vector<int>* undetermined = nullptr);

// A fitted least-squares spline: the knots X[0..J] and, for interval j (0..J-1, from X[j] to
// X[j+1]), the coefficients of its polynomial in powers of t - X[j]; the rank, the statistics
// and the covariance of the fit.
class Spline {
 public:
  int degree() const { return solution_.M; }
  int intervals() const { return solution_.J; }
  std::span<const double> knots() const { return {solution_.knots.data() + 1, knots_count()}; }
  double coefficient(int j, int m) const { return c_[static_cast<std::size_t>(j) * 4 + m]; }
  int rank() const { return statistics_.rank; }
  const Statistics& statistics() const { return statistics_; }

  // The spline's derivative of order `order` (0 the value, up to 3) at t, on the interval that
  // holds t: the first below X[0], the last from X[J-1] on (so polynomials extend beyond the
  // ends); at an inner knot the interval that starts there.
  double value(double t, int order = 0) const;
  // The integral of the spline from X[0] to t (negative below X[0]).
  double integral(double t) const;
  // value(t[k], order) for every k into out (same size). Sorted abscissae cost O(1) each.
  void values(std::span<const double> t, std::span<double> out, int order = 0) const;
  // The standard error of the fitted curve at t: sigma sqrt(b^T (A^T W A)^-1 b) (the sigmas as
  // given when they are known). NaN where the data leave the spline undetermined or no degree of
  // freedom is left.
  double standard_error(double t) const;
  // value(t) -/+ statistics().quantile(level) * standard_error(t).
  std::pair<double, double> confidence_limits(double t, double level = 0.95) const;

 private:
  friend Spline fit_on(std::vector<double> order, std::span<const double> x,
                       std::span<const double> y, std::span<const double> w, Weights kind,
                       int degree, std::vector<double> knots, int intervals);
  std::size_t knots_count() const { return static_cast<std::size_t>(solution_.J) + 1; }
  int interval_of(double t, int hint = 0) const;
  double evaluate(int j, double t, int order) const;  // interval j's polynomial
  Solution solution_;
  std::vector<double> c_;          // 4 per interval
  std::vector<double> integrals_;  // integral from X[0] to X[j], j = 0..J
  Statistics statistics_;
};

// Fits a spline of degree 2 or 3 to the points (x[k], y[k]) on the given knots (ascending, at
// least 2); every point belongs to the last interval whose left knot is at or below it, and to
// the first when it lies below the first knot. w: weights or standard deviations of `kind`, one
// per point, or empty. Throws SplineError for sizes that differ, a degree other than 2 or 3,
// knots not ascending, a number that is not finite, a weight below 0 or a sigma not above 0, or
// fewer than two distinct abscissae (of the points that count).
Spline fit(std::span<const double> x, std::span<const double> y, int degree,
           std::span<const double> knots, std::span<const double> w = {},
           Weights kind = Weights::none);

// The same on `intervals` intervals (1 <= intervals < 2N) placed as splinefit places them:
// point i of the points in ascending abscissa goes to interval j when round((j-1) N / J) < i <=
// round(j N / J), and the inner knots are the midpoints between neighbouring groups.
Spline fit(std::span<const double> x, std::span<const double> y, int degree, int intervals,
           std::span<const double> w = {}, Weights kind = Weights::none);

}  // namespace lsq
