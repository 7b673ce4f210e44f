// The exact least-squares fit of the spline model: the parameters that minimise Eqn, found by a
// direct orthogonal solve instead of an iterative search.
#pragma once

#include <vector>

// The exact solve's result: the parameters, and what the uncertainty of the fitted curve needs.
struct ExactSolution {
  std::vector<double> Z;  // parameters 1..NN; entry 0 unused
  // Interval scales h[1..J], and for each interval j the covariance over sigma^2 of its
  // coefficients scaled by powers of h[j], (M + 1)^2 numbers from (j - 1) (M + 1)^2. Both are
  // empty below M + 1 distinct abscissae, where the fit is a polynomial through means.
  std::vector<double> h, covariance;

  // b^T (A^T A)^-1 b for the value b of interval j's polynomial at t, with A the map from the
  // parameters to the residuals: the variance of the fitted curve there, over sigma^2. Meaningful
  // only when the data determine the spline (least_squares_rank() == NN).
  double variance_factor(int j, double t) const;
};

// Parameters Z[1..NN] that minimise Eqn (same points, weights, intervals I and knots), in O(N)
// time, with the covariance that the orthogonal factorisation gives at no further pass over the
// data. Reads M (2 or 3), J, N, x, y, w, I, X, delta and writes nothing else. Points of weight 0
// have no influence. Where the data leave the spline undetermined: the minimiser with the
// smallest jumps of the M-th derivative at inner knots, below M + 1 distinct abscissae a
// polynomial of lowest degree.
ExactSolution exact_solution();

// The rank of the least-squares problem: the dimension of the spline space (degree M, M - 1
// continuous derivatives, the distinct inner knots) restricted to the data's distinct abscissae;
// NN when the data determine every parameter. Repeated knots leave parameters without effect, and
// intervals with too few points leave combinations of them free. Counted exactly, by matching the
// B-splines of the space with distinct abscissae (of points whose weight is not 0) inside their
// supports, in order (Schoenberg and Whitney's condition; de Boor, A Practical Guide to Splines,
// chapter XIII). Needs x ascending.
// When undetermined is given, it receives, ascending, the intervals where a B-spline without a
// point of its own lives: where the data leave the spline free.
int least_squares_rank(std::vector<int>* undetermined = nullptr);
