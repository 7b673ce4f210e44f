// Least-squares splines: the spline of degree 2 or 3 on given knots (or on J intervals holding
// equal numbers of points) whose pieces join with continuous value, slope and, for cubics,
// curvature, and that minimises the (weighted) sum of squared residuals; with the statistics of
// the fit and the standard error of the fitted curve.
//
//   lsq::Spline s = lsq::fit(x, y, 3, 12);          // cubic, 12 intervals placed automatically
//   double v = s.value(2.5), slope = s.value(2.5, 1), area = s.integral(2.5);
//   double se = s.standard_error(2.5);
//   auto [low, high] = s.confidence_limits(2.5);    // 95%
//   lsq::Spline r = lsq::fit(x, y, 3, 12, {}, lsq::Weights::none, lsq::Robust::bisquare);
//
// Beneath lsq::Spline lies the fit layer that splinefit itself calls: a Problem in the spline
// model's 1-based arrays, the rules that place knots and weigh points, and fit(Problem, Settings),
// which returns the fit with its assessment (statistics, residuals, the band's covariance).
//
// The solve is a banded QR factorisation by Givens rotations in the B-spline basis of the
// spline space (time O(N), storage O(J)); normal equations are never formed. There is no state
// outside the objects: several threads may fit and evaluate at once. Bad input throws
// lsq::SplineError, whose what() says what is wrong; nothing here ends the process.
#pragma once

#include <cmath>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace lsq {

struct SplineError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// What the weights given to fit() are: none, weights w >= 0 (minimising the sum of w r^2), or
// standard deviations sigma > 0 of the ordinates, taken as known (w = 1 / sigma^2).
enum class Weights { none, weights, sigmas };

// How the spline is fitted: Powell's direction-set search (splinefit's Method 0), or the exact
// least-squares solve (Method 1).
enum class Method { powell, exact };

// The weight w of a point from its value in a weight column of `kind` (weights or sigmas), or
// NaN when the value is not usable: a weight below 0, a standard deviation not above 0 or whose
// 1 / sigma^2 is not a finite number above 0. `why` then says so, in words for a message.
double weight_of(Weights kind, double value, const char** why = nullptr);

// A least-squares problem in the spline model's terms, with 1-based arrays: N points x[1..N]
// ascending, y, weights w (null: all 1), the interval I[i] in 1..J of each point, the knots
// X[1..J+1] non-decreasing, degree M (2 or 3).
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

  // The interval splinefit evaluates at t: 1 below X[2], the last j with X[j] <= t, J from X[J].
  int interval(double at) const;
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
// The same for a problem whose rank() the caller has already counted.
Solution solve(const Problem& p, int problem_rank);

// The rank of the problem: the dimension of the spline space (the distinct inner knots, M - 1
// continuous derivatives) on the distinct abscissae of the points whose weight is not 0, counted
// exactly by matching B-splines with abscissae inside their supports in order (Schoenberg and
// Whitney's condition; de Boor, A Practical Guide to Splines, ch. XIII). With `undetermined`,
// the ascending list of intervals where the data leave the spline free.
int rank(const Problem& p, std::vector<int>* undetermined = nullptr);

// Equal-count knots for x[1..N] ascending and 1 <= J < 2N: point i goes to interval j when
// round((j - 1) N / J) < i <= round(j N / J) (halves away from zero); the inner knots are the
// midpoints between the last point of one group and the first of the next, X[1] and X[J+1] the
// smallest and largest abscissa. Fills X[1..J+1] and I[1..N].
void place_knots_evenly(const double* x, int N, int J, double* X, int* I);

// For x[1..N] ascending and knots X[1..J+1]: each point goes to the last interval whose left
// knot is at or below it, a point below X[2] to interval 1. Fills I[1..N].
void assign_intervals(const double* x, int N, const double* X, int J, int* I);

// The knots' fault, or "" when they are usable: at least 2, finite, non-decreasing, the last
// above the first (equal neighbours make an interval of no width). A sentence without a full
// stop, for a message.
std::string knots_fault(std::span<const double> knots);

// The problem's fault, or "" when the solve can represent it: the points of weight above 0 must
// lie at two different abscissae at least; the sum of the squared ordinates and the M-th power
// of the span of points and knots must be finite. A sentence without a full stop.
std::string problem_fault(const Problem& p);

// The exact least-squares spline of a problem, or SplineError when its coefficients cannot be
// represented (intervals too narrow for the ordinates: a coefficient overflows).
Solution solve_checked(const Problem& p);

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
  double chi2_per_dof() const { return dof() > 0 ? RSS / dof() : NAN; }
  // The (1 + level) / 2 quantile of Student's t with dof degrees of freedom, or of the normal
  // distribution when the sigmas are known: the factor of se in confidence limits of that level
  // (0 < level < 1, else SplineError); NaN without degrees of freedom.
  double quantile(double level = 0.95) const;
};

// TSS, the rank and the counts of statistics for the problem's points (with `undetermined` as
// for rank()); RSS and the residuals are the caller's, who evaluates the spline as it stands.
Statistics describe(const Problem& p, Weights weights, std::vector<int>* undetermined = nullptr);

// Interval j's polynomial at t from its coefficients c[0..M] about the knot Xj, with the powers of
// t - Xj built by repeated multiplication and the terms added in ascending degree: the
// arithmetic of splinefit's model, which its output files keep to the last bit.
inline double polynomial(const double* c, int M, double Xj, double t) {
  double sum = c[0], power = 1.0;
  for (int m = 1; m <= M; m++) {
    power = (t - Xj) * power;
    sum += c[m] * power;
  }
  return sum;
}

// How a fit treats wild points: least squares, or an M-estimator that bounds their pull, with
// Huber's psi (psi(u) = u for |u| <= 1.345, else 1.345 sign u) or Tukey's bisquare
// (psi(u) = u (1 - (u / 4.685)^2)^2 for |u| < 4.685, else 0; such a point is rejected). The
// constants give 95% efficiency at normal errors.
enum class Robust { none, huber, bisquare };

// "none", "huber" or "bisquare": the name of a robust choice in the fit report and in Python.
inline const char* robust_name(Robust kind) {
  return kind == Robust::huber ? "huber" : kind == Robust::bisquare ? "bisquare" : "none";
}

inline constexpr double huber_c = 1.345, bisquare_c = 4.685;
inline constexpr int max_robust_steps = 200;
// A fitted value that moves by at most this share of the largest |y| has settled; a residual of
// at most this share of it is 0 (the curve passes through the point to rounding).
inline constexpr double robust_settled = 1e-12;

// What a fit is asked to do. More settings join here as the fit learns them.
struct Settings {
  Method method = Method::exact;
  Weights weights = Weights::none;  // what the problem's w are, for the statistics
  double criterion = 1e-8;          // Powell's fractional tolerance
  Robust robust = Robust::none;     // needs Method::exact
};

// A robust fit: iteratively reweighted least squares from the (weighted) least-squares spline,
// the way the common robust-regression packages define it (R's MASS::rlm with weights as inverse
// variances, statsmodels' RLM). Each step takes the residuals r of the current curve at the
// points whose weight w is above 0, their scale s = median |sqrt(w) r| / 0.6744897501960817 (the
// median absolute deviation from 0, a standard deviation for normal errors), the standardised
// residuals u = sqrt(w) r / s and the robust weights psi(u) / u, and fits the next curve with
// the weights w psi(u) / u. The steps stop when no fitted value moves by more than
// robust_settled of the largest |y| (or after max_robust_steps); the scale and the robust
// weights are then those of the final curve. A scale of 0 (more than half the points on the
// curve, as for exact data; a residual within robust_settled of the largest |y| counts as 0)
// stops the steps where they are: at the start the least-squares fit is kept.
struct RobustFit {
  Robust kind = Robust::none;
  double scale = NAN;                  // s of the final curve
  int iterations = 0;                  // steps taken: 0 keeps the least-squares fit
  bool settled = true;                 // false: stopped after max_robust_steps
  bool scale_vanished = false;         // the steps stopped at a scale of 0
  int downweighted = 0, rejected = 0;  // points that count of robust weight below 1, and of 0
  std::vector<double> weights;         // psi(u) / u of each point, 1..N (1 at weight 0)
  int rank = 0;                        // of the last step's problem, with the robust weights
  // The variance of the fitted curve over b^T (A^T W A)^-1 b (b the B-splines' values, A the
  // design, W the prior weights): Huber's asymptotic covariance (Huber 1981, the packages' H1)
  //   K^2 [sum psi(u)^2 / (n - p)] s^2 / [sum psi'(u) / n]^2,  K = 1 + (p / n) var psi' / mean^2
  //   psi',
  // over the n points that count, p the rank of the least-squares problem, var the variance
  // about the mean (divisor n). NaN where it has no meaning: n <= p, mean psi' <= 0, s = 0.
  double band_factor = NAN;
};

// Powell's search works on splinefit's model, outside the library: it fits the problem's spline
// to the criterion, leaves interval j's coefficients at (j - 1)(M + 1) in c and returns its
// iteration count.
using Minimiser = std::function<int(const Problem&, double criterion, std::vector<double>& c)>;

// A fitted spline and its assessment.
struct Fit {
  Method method = Method::exact;
  int iterations = 0;          // Powell's; 0 for the exact solve
  std::vector<double> c;       // the spline as fitted, interval j's c[0..M] at (j - 1)(M + 1)
  Solution exact;              // the least-squares spline, with the covariance for the band
  std::vector<double> fitted;  // polynomial() of its own interval at each point, 1..N
  Statistics stats;            // of the spline as fitted
  double RSS_min = 0.0;        // the sum of (weighted) squared residuals of the exact spline
  // RSS / RSS_min - 1; NaN when RSS_min is at rounding level, where the ratio means nothing.
  double excess = 0.0;
  std::vector<int> undetermined;  // the intervals the data leave free, ascending
  RobustFit robust;               // a robust fit's steps, scale and weights

  // Whether RSS_min is at most rounding_level times TSS (or 0): the least-squares spline passes
  // through the points, or as near as the arithmetic can tell.
  static constexpr double rounding_level = 1e-12;
  bool exact_to_rounding() const { return !(RSS_min > rounding_level * stats.TSS); }

  const double* coefficients(int j) const {
    return &c[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(exact.M + 1)];
  }
  // Whether the curve is a robust one (the steps of a robust fit left the least-squares fit).
  bool is_robust() const { return robust.kind != Robust::none && robust.iterations > 0; }
  // The standard error of the fitted curve at t is error_scale() sqrt(exact.variance_factor(t)):
  // sigma of the fit, 1 for known sigmas, the root of a robust fit's band_factor; NaN where the
  // band has no meaning (the data leave the spline undetermined, no degree of freedom is left, a
  // robust scale of 0).
  double error_scale() const;
  // The factor of the standard error in confidence limits of that level (0 < level < 1): the
  // quantile of statistics, or of the normal distribution for a robust curve.
  double quantile(double level = 0.95) const;
};

// Fits the problem's spline as `settings` say and assesses it. Powell's search needs `powell`.
// Throws SplineError for a problem_fault(), for coefficients the solve cannot represent and for a
// robust fit by Powell's search.
Fit fit(const Problem& p, const Settings& settings, const Minimiser& powell = {});

// A fitted least-squares spline: the knots X[0..J] and, for interval j (0..J-1, from X[j] to
// X[j+1]), the coefficients of its polynomial in powers of t - X[j]; the rank, the statistics
// and the covariance of the fit. Made by fit() only.
class Spline {
 public:
  int degree() const { return fit_.exact.M; }
  int intervals() const { return fit_.exact.J; }
  std::span<const double> knots() const {
    return {fit_.exact.knots.data() + 1, static_cast<std::size_t>(fit_.exact.J) + 1};
  }
  // Coefficient m (0..3; 0 above the degree) of interval j (0..J-1); SplineError outside.
  double coefficient(int j, int m) const;
  int rank() const { return fit_.stats.rank; }
  const Statistics& statistics() const { return fit_.stats; }
  // The residual y - s(x) of each point, in the order the points were given.
  const std::vector<double>& residuals() const { return residuals_; }
  // A robust fit's steps, scale and counts (kind none for least squares).
  const RobustFit& robust() const { return fit_.robust; }
  // The robust weight psi(u) / u of each point, in the order the points were given; empty for
  // least squares.
  const std::vector<double>& robust_weights() const { return robust_weights_; }

  // The spline's derivative of order `order` (0 the value, up to 3; SplineError otherwise) at t,
  // on the interval that holds t: the first below X[1], the last from X[J-1] on (so polynomials
  // extend beyond the ends); at an inner knot the interval that starts there.
  double value(double t, int order = 0) const;
  // The integral of the spline from X[0] to t (negative below X[0]).
  double integral(double t) const;
  // value(t[k], order) for every k into out (same size). Sorted abscissae cost O(1) each.
  void values(std::span<const double> t, std::span<double> out, int order = 0) const;
  // The standard error of the fitted curve at t: sigma sqrt(b^T (A^T W A)^-1 b) (the sigmas as
  // given when they are known; Huber's covariance for a robust fit, RobustFit::band_factor). NaN
  // where the data leave the spline undetermined or no degree of freedom is left.
  double standard_error(double t) const;
  // The factor of standard_error(t) in confidence limits of that level (0 < level < 1,
  // SplineError otherwise): statistics().quantile(level), or the normal quantile for a robust fit.
  double quantile(double level = 0.95) const { return fit_.quantile(level); }
  // value(t) -/+ quantile(level) * standard_error(t).
  std::pair<double, double> confidence_limits(double t, double level = 0.95) const;

 private:
  Spline() = default;
  friend Spline fit_on(std::vector<std::size_t> order, std::span<const double> x,
                       std::span<const double> y, std::span<const double> w, Weights kind,
                       int degree, std::vector<double> knots, int intervals, Robust robust);
  int interval_of(double t, int hint = 0) const;      // 0..J-1
  double evaluate(int j, double t, int order) const;  // interval j's polynomial
  Fit fit_;
  std::vector<double> integrals_;  // integral from X[0] to X[j], j = 0..J
  std::vector<double> residuals_, robust_weights_;
};

// Fits a spline of degree 2 or 3 to the points (x[k], y[k]) on the given knots (as
// knots_fault() accepts them); every point belongs to the last interval whose left knot is at or
// below it, and to the first when it lies below the first knot. w: weights or standard
// deviations of `kind`, one per point, or empty. Throws SplineError for sizes that differ, a
// degree other than 2 or 3, a number that is not finite, a weight that weight_of() refuses, and
// the faults of knots_fault(), problem_fault() and solve_checked(). `robust`: a robust fit
// (RobustFit) instead of least squares.
Spline fit(std::span<const double> x, std::span<const double> y, int degree,
           std::span<const double> knots, std::span<const double> w = {},
           Weights kind = Weights::none, Robust robust = Robust::none);

// The same on `intervals` intervals (1 <= intervals < 2N) placed as splinefit places them:
// point i of the points in ascending abscissa goes to interval j when round((j-1) N / J) < i <=
// round(j N / J), and the inner knots are the midpoints between neighbouring groups.
Spline fit(std::span<const double> x, std::span<const double> y, int degree, int intervals,
           std::span<const double> w = {}, Weights kind = Weights::none,
           Robust robust = Robust::none);

}  // namespace lsq
