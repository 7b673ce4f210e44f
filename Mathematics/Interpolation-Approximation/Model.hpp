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
//   I              interval of each point, 1..N, each in 1..J
//   X              knots 1..J+1, ascending; X0 = X + 1, the zero-based view used with interval()
//   delta          interval widths 1..J
//   c              coefficients, rows 1..J+1, columns 0..M
//   xx             abscissa of the current row of the results table
// Continuity also keeps pow(delta[j], m) between calls, rebuilt for every width that changes.
#pragma once

extern int M, J, N, NN;
extern double *x, *y, *X, *X0, *delta;
extern int* I;
extern double** c;
extern double xx;

// Releases the arrays x, y, I (1..N), X (1..J + 1), delta (1..J) and c (rows 1..J + 1, columns
// 0..M) and clears their pointers, X0 included; does nothing when c is not allocated.
void release_model();

// Interval II's polynomial at x (extrapolated outside the interval); II in 1..J + 1.
double P0(double x, int II);

// The spline's value at xx: interval 1 below X[2], j on X[j] <= xx < X[j+1], J from X[J] on.
double P(double xx);

// Derivative of order D (1 or 2) of the spline at xx, on the interval P uses; terms up to the
// cubic, so exact for M = 2 and M = 3.
double Pd(double xx, int D);

// Places a 1-based parameter vector of NN entries into c: parameters 1..M+1 into row 1, then
// parameter M + i into c[i][M] for i = 2..J. Writes nothing else.
void Transfer(double* x);

// Derives columns 0..M-1 of rows 2..J (at most columns 0..2) from the row before, so that value,
// slope and, for M = 3, curvature are continuous at every inner knot. Run after Transfer. The
// powers of the widths are computed once (same pow calls, same digits) and reused while delta
// and M stay the same; any change of them is picked up at the next call.
void Continuity();

// The objective: Transfer and Continuity with the parameter vector X (1..NN), then the plain sum
// of squared residuals P0(x[i], I[i]) - y[i] over all points, in point order, digit for digit.
// Needs no preparation: it works on whatever state is set. Fastest when the points of each
// interval are contiguous in I, as the driver's sorted data make them.
double Eqn(double* X);

// The contribution of one residual to the objective: its square.
double Contribution(double x);
