// Interpolation library: the knot interval search shared by the spline model and the library.
//
// Program-wide state: `ilo`, the position where the previous interval search ended. It is 0 when
// the program starts, shared by every caller and every breakpoint array, and never reset.
// Single-threaded use only.
#pragma once

extern int ilo;

// Locates x among the breakpoints xt[1..lxt] (non-decreasing, lxt >= 1): returns 0 when
// x < xt[1], lxt when x >= xt[lxt], and otherwise the i with xt[i] <= x < xt[i+1]; that is, the
// number of breakpoints not greater than x. A point on a breakpoint belongs to the piece on its
// right. The search starts from `ilo` (hunting outwards with doubling steps, then bisecting) and
// leaves in it where it ended. While ilo is still 0, xt[0] is compared with x, so it must exist;
// the result never depends on it.
int interval(double* xt, int lxt, double x);
