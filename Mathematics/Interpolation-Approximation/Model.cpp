#include "Model.hpp"

#include <cmath>

#include "Interpolation.hpp"

int M = 0, J = 0, N = 0, NN = 0;
double *x = nullptr, *y = nullptr, *X = nullptr, *X0 = nullptr, *delta = nullptr;
int* I = nullptr;
double** c = nullptr;
double xx = 0.0;

double P0(double x, int II) {
  double sum = c[II][0];
  double t1 = 1.0;
  for (int i = 1; i <= M; i++) {
    t1 = (x - X[II]) * t1;  // powers by repeated multiplication, terms in ascending degree
    sum += c[II][i] * t1;
  }
  return sum;
}

namespace {
// The interval P and Pd use: the one holding xx, capped at J at and beyond the last knot.
int evaluation_interval(double xx) {
  int II = interval(X0, J, xx) + 1;
  return II == J + 1 ? J : II;
}
}  // namespace

double P(double xx) { return P0(xx, evaluation_interval(xx)); }

double Pd(double xx, int D) {
  int II = evaluation_interval(xx);
  double t = xx - X[II];
  // Each term is evaluated left to right as written (2*t*c, 3*t*t*c, 6*t*c) for reproducible
  // digits.
  if (D == 1) {
    double d1 = c[II][1] + 2 * t * c[II][2];
    if (M > 2) d1 += 3 * t * t * c[II][3];
    return d1;
  }
  double d2 = 2 * c[II][2];
  if (M > 2) d2 += 6 * t * c[II][3];
  return d2;
}

void Transfer(double* x) {
  int k = 0;
  for (int i = 0; i <= M; i++) c[1][i] = x[++k];
  for (int i = 2; i <= J; i++) c[i][M] = x[++k];
}

void Continuity() {
  for (int j = 1; j <= J - 1; j++) {
    // Sums accumulate in the target coefficient, terms in ascending m; pow with a double
    // exponent, so d^0 is 1 even for a zero width.
    c[j + 1][0] = 0.0;
    for (int m = 0; m <= M; m++) c[j + 1][0] += std::pow(delta[j], double(m)) * c[j][m];
    if (M > 1) {
      c[j + 1][1] = 0.0;
      for (int m = 1; m <= M; m++) c[j + 1][1] += std::pow(delta[j], double(m - 1)) * (m * c[j][m]);
    }
    if (M > 2) {
      c[j + 1][2] = 0.0;
      for (int m = 2; m <= M; m++)
        c[j + 1][2] += std::pow(delta[j], double(m - 2)) * (m * 0.5 * (m - 1) * c[j][m]);
    }
  }
}

double Contribution(double x) { return x * x; }

double Eqn(double* X) {
  Transfer(X);
  Continuity();
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += Contribution(P0(x[i], I[i]) - y[i]);
  return sum;
}
