#include "Interpolation.hpp"

#include <cstdio>

#include "Numutil.hpp"

int ilo = 0;

int interval(const double* xt, int lxt, double x) {
  int ihi = ilo + 1;
  if (ihi >= lxt) {
    if (x >= xt[lxt]) return lxt;
    if (lxt <= 1) return 0;
    ilo = lxt - 1;
    ihi = lxt;
  }
  if (x >= xt[ihi]) {
    // Hunt upwards with doubling steps until x < xt[ihi].
    for (int istep = 1;; istep *= 2) {
      ilo = ihi;
      ihi = istep >= lxt - ilo ? lxt : ilo + istep;  // no int overflow near INT_MAX
      if (ihi >= lxt) {
        if (x >= xt[lxt]) return lxt;
        ihi = lxt;
        break;
      }
      if (x < xt[ihi]) break;
    }
  } else {
    if (x >= xt[ilo]) return ilo;
    // Hunt downwards with doubling steps until xt[ilo] <= x.
    for (int istep = 1;; istep *= 2) {
      ihi = ilo;
      ilo = ihi - istep;
      if (ilo <= 0) {
        ilo = 1;
        if (x < xt[1]) return 0;
        break;
      }
      if (x >= xt[ilo]) break;
    }
  }
  // Bisect the bracket xt[ilo] <= x < xt[ihi].
  for (;;) {
    int middle = (ilo + ihi) / 2;
    if (middle == ilo) return ilo;
    if (x < xt[middle])
      ihi = middle;
    else
      ilo = middle;
  }
}

namespace {

// Formats a message naming the routine and the broken limit, and ends the run through numerror.
template <class... Args>
[[noreturn, gnu::cold]] void fail(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  numerror(text);
}

// The least n for the end codes: one piece, and two more points for each not-a-knot end.
int least_points(int ibcbeg, int ibcend) {
  if (ibcbeg == 0 && ibcend == 0) return 3;
  if (ibcbeg == 0 || ibcend == 0) return 2;
  return 1;
}

// Ends the run unless x[first..last] increase strictly (which also rejects NaN abscissae).
void require_increasing(const char* who, const char* name, const double* x, int first, int last) {
  for (int i = first + 1; i <= last; i++)
    if (!(x[i] > x[i - 1]))
      fail("%s: abscissae not strictly increasing: %s[%d] = %.17g is not above %s[%d] = %.17g", who,
           name, i, x[i], name, i - 1, x[i - 1]);
}

// The cubic spline for both table layouts: Rows is double** or double (*)[4], read as A[i][j].
// Columns 2 and 3 are workspace until the last two steps; equation k of the tridiagonal system for
// the slopes s reads A[k][3] s(k) + A[k][2] s(k + 1) = A[k][1] during the elimination. The order
// of every operation is kept as it stands: the numbers are part of the output.
template <class Rows>
void cubic_spline(const char* who, const double* tau, Rows A, int n, int ibcbeg, int ibcend) {
  int least = least_points(ibcbeg, ibcend);
  if (n < least)
    fail("%s: n = %d is below %d, the least for end codes %d and %d", who, n, least, ibcbeg,
         ibcend);
  bool given_first = ibcbeg != 0 && ibcbeg != 1;
  if (given_first && A[0][3] == 0)
    fail(
        "%s: A[0][3] = 0, the coefficient of the slope at tau[0] in the first equation given "
        "with start code %d, must not be 0",
        who, ibcbeg);
  // Pivots are positive for codes 0 and 1 and strictly increasing tau; only a given first
  // equation can make one of them 0.
  auto check_pivot = [&](int k) {
    if (A[k][3] == 0)
      fail(
          "%s: the first equation given with start code %d makes the system singular (zero "
          "pivot in row %d)",
          who, ibcbeg, k);
  };

  // Widths and divided differences of the values.
  for (int i = 1; i <= n; i++) {
    if (!(tau[i] > tau[i - 1])) require_increasing(who, "tau", tau, i - 1, i);
    A[i][2] = tau[i] - tau[i - 1];
    A[i][3] = (A[i][0] - A[i - 1][0]) / A[i][2];
  }

  // First equation.
  if (ibcbeg == 0) {
    A[0][3] = A[2][2];
    A[0][2] = A[1][2] + A[2][2];
    A[0][1] = ((A[1][2] + 2 * A[0][2]) * A[1][3] * A[2][2] + A[1][2] * A[1][2] * A[2][3]) / A[0][2];
  } else if (ibcbeg == 1) {
    A[0][3] = 1;
    A[0][2] = 0;
  }

  // Forward elimination of the continuity equations of the second derivative at inner points.
  for (int i = 2; i <= n; i++) {
    int i1 = i - 1, i2 = i - 2;
    double g = -A[i][2] / A[i2][3];
    A[i1][1] = g * A[i2][1] + 3 * (A[i1][2] * A[i][3] + A[i][2] * A[i1][3]);
    A[i1][3] = g * A[i2][2] + 2 * (A[i1][2] + A[i][2]);
    if (given_first) check_pivot(i1);
  }

  // Last equation; for any non-zero end code A[n][1] already holds the slope s(n).
  if (ibcend == 0) {
    double g = A[n - 1][2] + A[n][2];
    A[n][1] = ((A[n][2] + 2 * g) * A[n][3] * A[n - 1][2] +
               A[n][2] * A[n][2] * (A[n - 1][0] - A[n - 2][0]) / A[n - 1][2]) /
              g;
    g = -g / A[n - 1][3];
    A[n][3] = g * A[n - 1][2] + A[n - 1][2];
    if (given_first) check_pivot(n);
    A[n][1] = (g * A[n - 1][1] + A[n][1]) / A[n][3];
  }

  // Back substitution: column 1 becomes every slope.
  for (int i = n; i >= 1; i--) A[i - 1][1] = (A[i - 1][1] - A[i - 1][2] * A[i][1]) / A[i - 1][3];

  // Second and third derivatives of every piece, from values and slopes; A[i][2] is still the
  // width of piece i - 1 when it is read.
  for (int i = 1; i <= n; i++) {
    int i1 = i - 1;
    double g = A[i][2];
    double divdf1 = (A[i][0] - A[i1][0]) / g;
    double divdf3 = A[i1][1] + A[i][1] - 2 * divdf1;
    A[i1][2] = 2 * (divdf1 - A[i1][1] - divdf3) / g;
    A[i1][3] = (divdf3 / g) * (6 / g);
  }

  // Row n continues the last piece.
  A[n][2] = A[n - 1][2] + (tau[n] - tau[n - 1]) * A[n - 1][3];
  A[n][3] = A[n - 1][3];
}

// Order jderiv derivative of the Taylor polynomial of the row that holds xx, truncated after
// column k, by nested multiplication; fmmjdr is kept as a double like the rest of the arithmetic.
template <class Rows>
double taylor_value(const char* who, const double* x, Rows A, int n, double xx, int jderiv, int k) {
  if (n < 1) fail("%s: n = %d is below 1, the least for a spline table", who, n);
  if (jderiv < 0) fail("%s: derivative order jderiv = %d is below 0", who, jderiv);
  double F = 0;
  double fmmjdr = k + 1 - jderiv;
  if (fmmjdr <= 0) return 0;
  int i = interval(x, n, xx);
  double h = xx - x[i];
  for (int m = k; m >= jderiv; m--) {
    F = (F / fmmjdr) * h + A[i][m];
    fmmjdr = fmmjdr - 1;
  }
  return F;
}

}  // namespace

void Spline(const double* tau, double** A, int n, int ibcbeg, int ibcend) {
  cubic_spline("Spline", tau, A, n, ibcbeg, ibcend);
}

void spline(const double* tau, double (*A)[4], int n, int ibcbeg, int ibcend) {
  cubic_spline("spline", tau, A, n, ibcbeg, ibcend);
}

double Value(const double* x, const double* const* A, int n, double xx, int jderiv) {
  return taylor_value("Value", x, A, n, xx, jderiv, n == 1 ? 1 : 3);
}

double value(const double* x, const double (*A)[4], int n, double xx, int jderiv) {
  return taylor_value("value", x, A, n, xx, jderiv, 3);
}

void Integral(const double* x, const double* const* A, int n, double* Ix) {
  if (n < 1) fail("Integral: n = %d is below 1, the least for a spline table", n);
  Ix[0] = 0;
  for (int i = 1; i <= n; i++) {
    double h = x[i] - x[i - 1];
    Ix[i] = Ix[i - 1] + h * (A[i - 1][0] +
                             h * (A[i - 1][1] / 2 + h * (A[i - 1][2] / 6 + h * A[i - 1][3] / 24)));
  }
}

double linear(const double* x, const double* A, int n, double xx, int jderiv) {
  if (n < 1) fail("linear: n = %d is below 1, the least (points 0..n + 1 are used)", n);
  if (jderiv >= 2) return 0;  // 2 - jderiv <= 0, without its overflow for the most negative int
  int i = interval(x, n, xx);
  double h = xx - x[i];
  if (!(x[i + 1] > x[i])) require_increasing("linear", "x", x, i, i + 1);
  double F = (A[i + 1] - A[i]) / (x[i + 1] - x[i]);
  if (jderiv == 0) F = A[i] + h * F;
  return F;
}

double Quadratic(const double* x, const double* y, int n, double xx, int /*jderiv: no effect*/) {
  if (n < 2) fail("Quadratic: n = %d is below 2, the least (three points 0..n are used)", n);
  int j = interval(x, n, xx);
  int ja;
  if (j == 0)
    ja = 0;
  else if (j >= n - 1)
    ja = n - 2;
  else if (0.5 * (x[j + 1] - x[j]) > xx - x[j])
    ja = j - 1;
  else
    ja = j;
  require_increasing("Quadratic", "x", x, ja, ja + 2);
  double fd[3];
  fd[0] = (y[ja + 1] - y[ja]) / (x[ja + 1] - x[ja]);
  fd[1] = (y[ja + 2] - y[ja + 1]) / (x[ja + 2] - x[ja + 1]);
  fd[2] = (fd[1] - fd[0]) / (x[ja + 2] - x[ja]);
  return y[ja] + (xx - x[ja]) * (fd[0] + (xx - x[ja + 1]) * fd[2]);
}

double polynomial(const double* x, const double* A, int n, double xx, int m) {
  if (m < 0 || m > 9) fail("polynomial: degree m = %d is outside 0..9", m);
  if (m > n) fail("polynomial: degree m = %d is above n = %d, the index of the last point", m, n);
  // interval needs a breakpoint x[1]; a single point (n == 0) is its own left point.
  int I = (n >= 1 ? interval(x, n, xx) : 0) - m / 2;
  if (I < 0) I = 0;
  if (I + m > n) I = n - m;
  double a[10], X[10];
  for (int j = 0; j <= m; j++) {
    a[j] = A[I + j];
    X[j] = x[I + j];
  }
  require_increasing("polynomial", "x", x, I, I + m);
  // Newton's divided differences in place, then nested evaluation.
  for (int i = 1; i <= m; i++)
    for (int j = m; j >= i; j--) a[j] = (a[j] - a[j - 1]) / (X[j] - X[j - i]);
  double b = a[m];
  for (int j = m - 1; j >= 0; j--) b = a[j] + (xx - X[j]) * b;
  return b;
}
