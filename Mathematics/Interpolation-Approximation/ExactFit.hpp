// The exact least-squares fit of the spline model: the parameters that minimise Eqn, found by a
// direct orthogonal solve instead of an iterative search.
#pragma once

// Fills Z[1..NN] with parameters that minimise Eqn (same points, intervals I and knots) in O(N)
// time; reads M (2 or 3), J, N, x, y, I, X, delta and writes nothing else. Where
// the data leave the spline undetermined: the minimiser with the smallest jumps of the M-th
// derivative at inner knots, below M + 1 distinct abscissae a polynomial of lowest degree.
void exact_fit(double* Z);
