// Minimises Rosenbrock's function with Powell's direction-set method.
#include <cstdio>

#include "Numutil.hpp"
#include "Optimise.hpp"

// f(x, y) = 100 (y - x^2)^2 + (1 - x)^2, least value 0 at (1, 1); p is 1-based.
double rosenbrock(double* p) {
  double a = p[2] - p[1] * p[1], b = 1.0 - p[1];
  return 100.0 * a * a + b * b;
}

int main() {
  const int n = 2;
  double* p = dvector(1, n);          // start point p[1..n]
  double** xi = dmatrix(1, n, 1, n);  // initial directions: the columns of the identity
  p[1] = -1.2;
  p[2] = 1.0;
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= n; j++) xi[i][j] = i == j ? 1.0 : 0.0;
  int iter = 0;
  double fret = 0.0;
  Powell(p, xi, n, 1e-12, &iter, &fret, rosenbrock);
  std::printf("minimum at x = %.4f, y = %.4f, f = %.1e after %d iterations\n", p[1], p[2], fret,
              iter);
  free_dmatrix(xi, 1, n, 1, n);
  free_dvector(p, 1, n);
}
