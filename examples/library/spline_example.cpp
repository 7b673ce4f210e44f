// Interpolates points of y = x^3 - 2x + 1 with a cubic spline and evaluates it between them.
#include <cstdio>

#include "Interpolation.hpp"
#include "Numutil.hpp"

int main() {
  const int n = 5;  // points 0..n
  double* x = dvector(0, n);
  double** A = dmatrix(0, n, 0, 3);  // row i: value, y', y'', y''' at x[i]
  for (int i = 0; i <= n; i++) {
    x[i] = 0.5 * i;
    A[i][0] = x[i] * x[i] * x[i] - 2.0 * x[i] + 1.0;
  }
  Spline(x, A, n, 0, 0);  // not-a-knot at both ends: a cubic is reproduced exactly
  double t = 1.3;
  std::printf("s(1.3) = %.6f (exact %.6f), s'(1.3) = %.6f (exact %.6f)\n", Value(x, A, n, t, 0),
              t * t * t - 2.0 * t + 1.0, Value(x, A, n, t, 1), 3.0 * t * t - 2.0);
  free_dmatrix(A, 0, n, 0, 3);
  free_dvector(x, 0, n);
}
