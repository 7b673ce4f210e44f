#include "Model.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Interpolation.hpp"
#include "Numutil.hpp"

int M = 0, J = 0, N = 0, NN = 0;
double *x = nullptr, *y = nullptr, *X = nullptr, *X0 = nullptr, *delta = nullptr;
int* I = nullptr;
double** c = nullptr;
double xx = 0.0;

void release_model() {
  if (c == nullptr) return;
  free_dmatrix(c, 1, J + 1, 0, M);
  free_dvector(delta, 1, J);
  free_dvector(X, 1, J + 1);
  free_ivector(I, 1, N);
  free_dvector(y, 1, N);
  free_dvector(x, 1, N);
  x = y = X = X0 = delta = nullptr;
  I = nullptr;
  c = nullptr;
}

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

namespace {

// pow(delta[j], m) for m = 0..M, kept between Continuity calls: the widths are fixed for a whole
// fit, and the pow calls would otherwise dominate an evaluation with many intervals. A row is
// recomputed, with the same pow calls, whenever the width it was made from (compared bit for bit)
// or the degree has changed, so the table always agrees with the current delta.
struct WidthPowers {
  int degree = -1;
  std::vector<std::uint64_t> width_bits;  // interval j at j - 1
  std::vector<double> powers;             // interval j at (j - 1) * (degree + 1) + m

  // The table for intervals 1..intervals, brought up to date with delta and M.
  const double* update(int intervals) {
    if (degree != M) {
      degree = M;
      width_bits.clear();
    }
    std::size_t known = width_bits.size();
    std::size_t wanted = intervals > 0 ? static_cast<std::size_t>(intervals) : 0;
    if (wanted > known) {
      width_bits.resize(wanted);
      powers.resize(wanted * static_cast<std::size_t>(M + 1));
    }
    for (std::size_t k = 0; k < wanted; k++) {
      std::uint64_t bits = std::bit_cast<std::uint64_t>(delta[k + 1]);
      if (k < known && width_bits[k] == bits) continue;
      width_bits[k] = bits;
      double* row = &powers[k * static_cast<std::size_t>(M + 1)];
      // The exponent as a double, as the sums below have always used it: d^0 is 1 even for a
      // zero width.
      for (int m = 0; m <= M; m++) row[m] = std::pow(delta[k + 1], double(m));
    }
    return powers.data();
  }
} width_powers;

// The continuity sums for every inner knot, with the degree fixed at compile time for M = 2 and
// M = 3 (Degree 0 reads M), so that the short sums unroll.
template <int Degree>
void continuity_rows(const double* powers) {
  const int degree = Degree > 0 ? Degree : M;
  for (int j = 1; j <= J - 1; j++) {
    const double* d =
        powers + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(degree + 1);
    const double* cj = c[j];
    double* next = c[j + 1];
    // Sums accumulate from 0.0, terms in ascending m, each term pow(delta[j], power) times the
    // coefficient factor, exactly as written out here, for reproducible digits.
    double value = 0.0;
    for (int m = 0; m <= degree; m++) value += d[m] * cj[m];
    next[0] = value;
    if (degree > 1) {
      double slope = 0.0;
      for (int m = 1; m <= degree; m++) slope += d[m - 1] * (m * cj[m]);
      next[1] = slope;
    }
    if (degree > 2) {
      double curvature = 0.0;
      for (int m = 2; m <= degree; m++) curvature += d[m - 2] * (m * 0.5 * (m - 1) * cj[m]);
      next[2] = curvature;
    }
  }
}

}  // namespace

void Continuity() {
  if (J < 2) return;
  const double* powers = width_powers.update(J - 1);
  if (M == 2)
    continuity_rows<2>(powers);
  else if (M == 3)
    continuity_rows<3>(powers);
  else
    continuity_rows<0>(powers);
}

double Contribution(double x) { return x * x; }

namespace {

// Two doubles in one SSE2 register (a GCC and Clang vector extension). Arithmetic on it is
// lane-wise IEEE double arithmetic, bit for bit the same as two scalar operations.
typedef double Pair __attribute__((vector_size(16)));

Pair load_pair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The residual of one point, or of two points of one interval at once, with P0's arithmetic
// written out: the distance d = x - X[j], the powers d (d * 1.0 is d exactly), d * d and
// d * (d * d), the terms added to c[j][0] in ascending degree, then r = value - y.
template <int Degree, typename T>
T residual(T x, T y, T Xj, T c0, T c1, T c2, T c3) {
  const T d = x - Xj;
  T value = c0;
  value += c1 * d;
  const T d2 = d * d;
  value += c2 * d2;
  if constexpr (Degree == 3) value += c3 * (d * d2);
  return value - y;
}

// The objective's sum of squared residuals for degree 2 or 3: sum += r * r, one scalar addition
// per point in point order, while the residuals are computed two at a time. The points of one
// interval form runs in I (one run per interval for sorted data), so each run loads its
// coefficients once; any I with entries in 1..J gives the same sum, only in more runs. Each
// point's interval is tested inside the loop, where the test overlaps the chain of additions.
template <int Degree>
double residual_sum() {
  double sum = 0.0;
  int i = 1;
  while (i <= N) {
    const int j = I[i];
    const double Xj = X[j];
    const double c0 = c[j][0], c1 = c[j][1], c2 = c[j][2];
    const double c3 = Degree == 3 ? c[j][3] : 0.0;
    const Pair Xj2 = {Xj, Xj}, c02 = {c0, c0}, c12 = {c1, c1}, c22 = {c2, c2}, c32 = {c3, c3};
    // Here I[i] == j.
    while (i < N && I[i + 1] == j) {
      const Pair r = residual<Degree>(load_pair(&x[i]), load_pair(&y[i]), Xj2, c02, c12, c22, c32);
      const Pair squares = r * r;
      sum += squares[0];
      sum += squares[1];
      i += 2;
      if (i > N || I[i] != j) break;
    }
    if (i <= N && I[i] == j) {
      const double r = residual<Degree>(x[i], y[i], Xj, c0, c1, c2, c3);
      sum += r * r;
      i++;
    }
  }
  return sum;
}

}  // namespace

double Eqn(double* X) {
  Transfer(X);
  Continuity();
  if (M == 2) return residual_sum<2>();
  if (M == 3) return residual_sum<3>();
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += Contribution(P0(x[i], I[i]) - y[i]);
  return sum;
}
