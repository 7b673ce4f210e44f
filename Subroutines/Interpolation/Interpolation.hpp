// Interpolation library: the knot interval search shared by the spline model and the library,
// the cubic interpolating spline with its evaluation and integral, and local interpolation.
//
// Program-wide state: `ilo`, the position where the previous interval search ended. It is 0 when
// the program starts, shared by every caller and every breakpoint array, and never reset.
// Single-threaded use only.
//
// Tables of points are numbered 0..n. A cubic spline table A has rows 0..n of four doubles: row i
// holds the value and the first, second and third derivatives of the spline at x[i], taken on
// piece i (x[i] to x[i + 1]); row n continues the last piece. On piece i, with h = t - x[i], the
// spline is A[i][0] + h * A[i][1] + h * h * A[i][2] / 2 + h * h * h * A[i][3] / 6.
// Two layouts hold the same numbers: the capitalised routines take an array of row pointers
// (double**, e.g. dmatrix(0, n, 0, 3)), the lower-case twins a contiguous block of rows of four
// (double (*)[4], e.g. new double[n + 1][4], row i starting at element 4 * i).
//
// Every routine reports an input outside its limits through numerror, naming itself and the limit
// broken; the checks are constant work per call or one comparison per point of a spline.
//
// Methods, from C. de Boor, A Practical Guide to Splines (1978): interval hunts and bisects as
// INTERV does; Spline/spline solve for the slopes by the tridiagonal elimination of CUBSPL (the
// end conditions are this library's own, listed below); Value/value evaluate a Taylor row by
// nested multiplication as PPVALU does. Quadratic and polynomial use Newton's divided-difference
// form of the interpolating polynomial, evaluated by nested multiplication.
#pragma once

extern int ilo;

// Locates x among the breakpoints xt[1..lxt] (non-decreasing, lxt >= 1): returns 0 when
// x < xt[1], lxt when x >= xt[lxt], and otherwise the i with xt[i] <= x < xt[i+1]; that is, the
// number of breakpoints not greater than x. A point on a breakpoint belongs to the piece on its
// right. The search starts from `ilo` (hunting outwards with doubling steps, then bisecting) and
// leaves in it where it ended. While ilo is still 0, xt[0] is compared with x, so it must exist;
// the result never depends on it.
int interval(const double* xt, int lxt, double x);

// Interpolating cubic spline through (tau[i], A[i][0]), i = 0..n: fills columns 1..3 of each row.
// End codes: 0 not-a-knot; 1 slope given in A[0][1] / A[n][1]; other start codes read the equation
// A[0][3] s(0) + A[0][2] s(1) = A[0][1] from row 0, other end codes act as 1. Ends the run unless
// n >= 1 (2 with a code 0, 3 with both), tau rises strictly and a given equation is solvable.
void Spline(const double* tau, double** A, int n, int ibcbeg, int ibcend);
// The same on a block of rows of four; the numbers are identical to Spline's.
void spline(const double* tau, double (*A)[4], int n, int ibcbeg, int ibcend);

// Derivative of order jderiv (0 for the value) at xx of the spline table A over x[0..n]: the
// Taylor polynomial of row interval(x, n, xx), so piece 0 extends left and row n right. Uses
// columns 0..3, but only 0..1 when n == 1; orders above that give 0. Ends the run unless n >= 1
// and jderiv >= 0.
double Value(const double* x, const double* const* A, int n, double xx, int jderiv);
// The same on a block of rows of four, always using columns 0..3 (so it differs from Value only
// when n == 1).
double value(const double* x, const double (*A)[4], int n, double xx, int jderiv);

// Running integral of the spline table A: Ix[i] = integral from x[0] to x[i], i = 0..n (Ix holds
// n + 1 doubles and is overwritten; row n of A is not read). Ends the run unless n >= 1.
void Integral(const double* x, const double* const* A, int n, double* Ix);

// Straight line through points i and i + 1 of (x, A) around xx, over points 0..n + 1 (the first
// segment below x[1], the segment n..n + 1 from x[n] on): its value for jderiv 0, its slope for
// any other order below 2, 0 for 2 and above. Ends the run unless n >= 1 and x[i] < x[i + 1].
double linear(const double* x, const double* A, int n, double xx, int jderiv);

// Parabola through three neighbouring points of (x, y), points 0..n, evaluated at xx: points 0..2
// below x[1], n - 2..n from x[n - 1] on, otherwise the interval of xx and its neighbour on the
// side of the nearer half (the right one at the middle). jderiv has no effect. Ends the run unless
// n >= 2 and the three abscissae increase strictly.
double Quadratic(const double* x, const double* y, int n, double xx, int jderiv);

// Polynomial of degree m through m + 1 consecutive points of (x, A), points 0..n, evaluated at
// xx: the window starts m / 2 points left of the left point of xx and is shifted inward at the
// ends of the table. Ends the run unless 0 <= m <= 9, m <= n and the window's abscissae increase
// strictly.
double polynomial(const double* x, const double* A, int n, double xx, int m);
