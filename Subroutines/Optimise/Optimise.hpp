// Optimisation library: bracketing and Brent's line minimisation, Powell's direction-set method
// and the Polak-Ribiere conjugate-gradient method.
//
// Methods: mnbrak brackets by golden-section steps outward (ratio 1.618034) with parabolic
// extrapolation; brent is Brent's method (R. P. Brent, Algorithms for Minimization without
// Derivatives, 1973, ch. 5): golden-section steps combined with parabolic interpolation. Powell
// is Powell's direction-set method (M. J. D. Powell, Computer Journal 7, 1964) with his test for
// discarding the direction of largest decrease; Frprmn is the conjugate-gradient method with the
// Polak-Ribiere update (E. Polak and G. Ribiere, 1969), its line searches by linmin.
//
// Vectors are 1-based offset-indexed arrays (dvector(1, n)); a direction set is an n x n matrix
// dmatrix(1, n, 1, n) whose columns are the directions. Every fatal condition (an exhausted
// iteration limit) ends the run through numerror with status 1.
//
// Program-wide state: the shared line-search state ncom, pcom, xicom and nrfunc, set by linmin
// and read by f1dim, valid only while one linmin call runs; so an objective must never start a
// minimisation itself. The storage behind pcom, xicom and f1dim's point is kept between line
// searches and grows with n; it is never shrunk. Single-threaded use only.
#pragma once

// Objective: reads entries 1..n of a 1-based vector, leaves them unchanged and does not keep the
// pointer.
using ObjectiveFunction = double (*)(double*);
// Function of one variable, as taken by mnbrak and brent.
using LineFunction = double (*)(double);
// Gradient routine: writes the gradient at the point (first argument) into entries 1..n of the
// second argument.
using GradientRoutine = void (*)(double*, double*);

extern int ncom;
extern double* pcom;
extern double* xicom;
extern ObjectiveFunction nrfunc;

// Searches downhill from *ax and *bx until (*ax, *bx, *cx) bracket a minimum of func: *bx lies
// between the outer points and *fb <= *fa, *fb <= *fc. Three evaluations before the loop, one or
// two per pass. The parabola's denominator is chosen in single precision (deliberately, for
// reproducible results). No failure path: on a function that decreases without end it runs until
// the values overflow.
void mnbrak(double* ax, double* bx, double* cx, double* fa, double* fb, double* fc,
            LineFunction func);

// Brent's method on the bracket ax, bx, cx (outer points in either order): returns the least value
// found and stores its abscissa in *xmin, to fractional tolerance tol (plus 1e-10 absolute).
// One evaluation at bx, then one per iteration; numerror "Too many iterations in brent" after 100.
double brent(double ax, double bx, double cx, LineFunction f, double tol, double* xmin);

// The objective restricted to the current line: nrfunc(pcom + x * xicom). Only while linmin runs.
double f1dim(double x);

// Moves p to the minimum of func along xi (mnbrak from 0 and 1, then brent with tolerance
// 0.0002); xi becomes the displacement taken (xi * xmin) and *fret brent's value there (the
// objective is not evaluated again at the new p).
void linmin(double* p, double* xi, int n, double* fret, ObjectiveFunction func);

// Powell's direction-set minimisation of func from p, with the directions in the columns of xi
// (both changed in place), fractional tolerance ftol >= 0 on the function value. On return p is
// the best point, *fret its value and *iter the number of iterations, the converging one
// included. numerror "powell exceeding maximum iterations." after 1000 iterations.
void Powell(double* p, double** xi, int n, double ftol, int* iter, double* fret,
            ObjectiveFunction func);

// Polak-Ribiere conjugate-gradient minimisation of func (gradient dfunc) from p, fractional
// tolerance ftol >= 0. On return p is the best point, *fret its value from the last line search
// and *iter the iteration in which the search ended. numerror "Too many iterations in frprmn"
// after 200 iterations.
void Frprmn(double* p, int n, double ftol, int* iter, double* fret, ObjectiveFunction func,
            GradientRoutine dfunc);
