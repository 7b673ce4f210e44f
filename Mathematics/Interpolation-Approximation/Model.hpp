// The spline model: a piecewise polynomial of degree M on J knot intervals, fitted to N points.
//
// Interval j (1..J) spans X[j]..X[j+1]; its polynomial is the sum over m = 0..M of
// c[j][m] * (t - X[j])^m, so c[j][0] is the value, c[j][1] the slope and c[j][2] half the second
// derivative at the left knot. Row J + 1 of c is not an interval: after the fit it holds
// interval J's polynomial re-expanded about the last knot, for the results file.
//
// Program-wide state, filled by the driver and rewritten by every Eqn call; single-threaded:
//   M, J, N, NN    degree, intervals, data points, free parameters (J + M)
//   x, y           data, 1..N, ascending in x
//   w              weights of the points, 1..N, each >= 0; null for an unweighted fit
//   I              interval of each point, 1..N, each in 1..J
//   X              knots 1..J+1, ascending; X0 = X + 1, the zero-based view used with interval()
//   delta          interval widths 1..J
//   c              coefficients, rows 1..J+1, columns 0..M
//   xx             abscissa of the current row of the results table
// Continuity also keeps pow(delta[j], m) between calls, rebuilt for every width that changes.
// Only degrees 2 and 3 are supported.
#pragma once

#include <vector>

#include "LsqSpline.hpp"

extern int M, J, N, NN;
extern double *x, *y, *w, *X, *X0, *delta;
extern int* I;
extern double** c;
extern double xx;

// Set-up, in this order: allocate_points, then the caller fills x[1..N] and y[1..N] and sorts
// them by x, then one of the two knot placements (a later placement replaces an earlier one),
// then fit_model and complete_end_row.

// Allocates x, y and I (1..n) for n >= 1 points of degree M = degree (2 or 3), and the weights w
// (1..n) when `weighted`; x, y and w are the caller's to fill. Releases any model set up before.
void allocate_points(int n, int degree, bool weighted = false);

// The same with the points' columns handed over, 1-based (element 0 unused; w empty without
// weights): the model keeps them as x, y and w instead of copying. N is xs.size() - 1 >= 1.
void take_points(std::vector<double> xs, std::vector<double> ys, std::vector<double> ws,
                 int degree);

// Automatic knots for 1 <= intervals < 2N and x ascending, by lsq::place_knots_evenly (equal
// numbers of points per interval). Sets J, X, X0, I, delta, NN and allocates c.
void place_knots_evenly(int intervals);

// Knots knots[0..count-1] (count >= 2, non-decreasing) for x ascending, with the points assigned
// by lsq::assign_intervals. Sets J = count - 1, X, X0, I, delta, NN and allocates c.
void place_knots(const double* knots, int count);

// Fits the model's spline as the settings say, by one call to lsq::fit: Powell's method (numerror
// after 1000 iterations) from zero parameters along the unit directions with fractional
// tolerance criterion, on Eqn, or the exact least-squares solve. Leaves the fitted coefficients
// in rows 1..J of c and returns the fit with its assessment. SplineError (before Powell's search
// starts) when the solve cannot represent the spline's coefficients.
lsq::Fit fit_model(const lsq::Settings& settings);

// The model's points, weights, intervals and knots as a least-squares problem for the library.
lsq::Problem model_problem();

// Row J + 1 of c: interval J's polynomial re-expanded about the last knot (value, slope, half
// the second derivative and, for M = 3, interval J's cubic coefficient).
void complete_end_row();

// Calls row(xx) for the abscissa xx of every row of the results table in order: for interval
// j = 1..J the rows i = 0..Nout-1 (and i = Nout for j = J, the last knot) at
// X[j] + ((X[j+1] - X[j]) * i) / Nout, evaluated in that order of operations.
template <class Row>
void for_each_table_row(int Nout, Row&& row) {
  for (int j = 1; j <= J; j++)
    for (int i = 0, rows = j < J ? Nout : Nout + 1; i < rows; i++)
      row(X[j] + ((X[j + 1] - X[j]) * i) / Nout);
}

// Releases the arrays x, y, I (1..N), X (1..J + 1), delta (1..J) and c (rows 1..J + 1, columns
// 0..M) and clears their pointers, X0 included; does nothing when x is not allocated.
void release_model();

// Interval II's polynomial at t (extrapolated outside the interval); II in 1..J + 1. The
// arithmetic is lsq::polynomial's.
double P0(double t, int II);

// The interval P and Pd use at t: 1 below X[2], j on X[j] <= t < X[j+1], J from X[J] on.
int evaluation_interval(double t);

// The spline's value at t: P0(t, evaluation_interval(t)).
double P(double t);

// Derivative of order D (1 or 2) of the spline at t, on the interval P uses; terms up to the
// cubic, so exact for M = 2 and M = 3.
double Pd(double t, int D);

// Places a 1-based parameter vector of NN entries into c: parameters 1..M+1 into row 1, then
// parameter M + i into c[i][M] for i = 2..J. Writes nothing else.
void Transfer(const double* p);

// Derives columns 0..M-1 of rows 2..J (at most columns 0..2) from the row before, so that value,
// slope and, for M = 3, curvature are continuous at every inner knot. Run after Transfer. The
// powers of the widths are computed once (same pow calls, same digits) and reused while delta
// and M stay the same; any change of them is picked up at the next call.
void Continuity();

// The objective: Transfer and Continuity with the parameter vector p (1..NN), then the plain sum
// of squared residuals r = P0(x[i], I[i]) - y[i] over all points, in point order, digit for digit;
// with weights, the sum of w[i] * (r * r) in point order.
// Needs no preparation: it works on whatever state is set. Fastest when the points of each
// interval are contiguous in I, as sorted data make them.
double Eqn(double* p);
