#include "Model.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Interpolation.hpp"
#include "Numutil.hpp"
#include "Optimise.hpp"

int M = 0, J = 0, N = 0, NN = 0;
double *x = nullptr, *y = nullptr, *w = nullptr, *X = nullptr, *X0 = nullptr, *delta = nullptr;
int* I = nullptr;
double** c = nullptr;
double xx = 0.0;

namespace {

// The storage of the points: element 0 of each is unused, so that x, y and w are 1-based views.
std::vector<double> x_storage, y_storage, w_storage;

}  // namespace

void release_model() {
  if (x == nullptr) return;
  if (c != nullptr) {
    free_dmatrix(c, 1, J + 1, 0, M);
    free_dvector(delta, 1, J);
    free_dvector(X, 1, J + 1);
  }
  free_ivector(I, 1, N);
  for (std::vector<double>* storage : {&x_storage, &y_storage, &w_storage})
    std::vector<double>().swap(*storage);
  x = y = w = X = X0 = delta = nullptr;
  I = nullptr;
  c = nullptr;
}

void take_points(std::vector<double> xs, std::vector<double> ys, std::vector<double> ws,
                 int degree) {
  release_model();
  N = static_cast<int>(xs.size()) - 1;
  M = degree;
  x_storage = std::move(xs);
  y_storage = std::move(ys);
  w_storage = std::move(ws);
  x = x_storage.data();
  y = y_storage.data();
  w = w_storage.empty() ? nullptr : w_storage.data();
  I = ivector(1, N);
}

void allocate_points(int n, int degree, bool weighted) {
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  take_points(std::vector<double>(size), std::vector<double>(size),
              weighted ? std::vector<double>(size) : std::vector<double>(), degree);
}

namespace {

// Allocates the knots X (1..J + 1) for `intervals` intervals, with the view X0, after releasing
// the knots and coefficients of an earlier placement (knots chosen by the data replace the
// single interval placed for their search).
void allocate_knots(int intervals) {
  if (c != nullptr) {
    free_dmatrix(c, 1, J + 1, 0, M);
    free_dvector(delta, 1, J);
    free_dvector(X, 1, J + 1);
    c = nullptr;
  }
  J = intervals;
  X = dvector(1, J + 1);
  X0 = X + 1;
}

// With the knots and intervals in place: the widths, the parameter count and the coefficients.
void allocate_coefficients() {
  delta = dvector(1, J);
  for (int j = 1; j <= J; j++) delta[j] = X[j + 1] - X[j];
  NN = J + M;
  c = dmatrix(1, J + 1, 0, M);
}

}  // namespace

void place_knots_evenly(int intervals) {
  allocate_knots(intervals);
  lsq::place_knots_evenly(x, N, J, X, I);
  allocate_coefficients();
}

void place_knots(const double* knots, int count) {
  allocate_knots(count - 1);
  for (int j = 1; j <= J + 1; j++) X[j] = knots[j - 1];
  lsq::assign_intervals(x, N, X, J, I);
  allocate_coefficients();
}

lsq::Problem model_problem() { return {M, J, N, x, y, w, I, X}; }

namespace {

// Powell's fit of the model: from zero parameters along the unit directions; the optimum's
// coefficients are left in rows 1..J of c and copied to out.
// Said after a numerical routine ends the run during Powell's search (its iteration limit, or
// Brent's within it).
void point_to_the_exact_fit() {
  std::fprintf(stderr,
               "splinefit: Powell's search (Method 0) did not converge; Method 1 in "
               "Computational-parameters.dat gives the least-squares spline for the same knots\n");
}

int powell_on_model(const lsq::Problem&, double criterion, std::vector<double>& out) {
  struct Note {  // set for the search only
    NumerrorNote previous = set_numerror_note(point_to_the_exact_fit);
    ~Note() { set_numerror_note(previous); }
  } note;
  double* Z = dvector(1, NN);
  double** A = dmatrix(1, NN, 1, NN);
  for (int i = 1; i <= NN; i++) {
    Z[i] = 0.0;
    for (int j = 1; j <= NN; j++) A[i][j] = 0.0;
    A[i][i] = 1.0;
  }
  int iter = 0;
  double fret = 0.0;
  Powell(Z, A, NN, criterion, &iter, &fret, Eqn);
  free_dmatrix(A, 1, NN, 1, NN);
  Transfer(Z);
  Continuity();
  free_dvector(Z, 1, NN);
  for (int j = 1; j <= J; j++)
    std::copy_n(c[j], M + 1, &out[static_cast<std::size_t>(j - 1) * (M + 1)]);
  return iter;
}

}  // namespace

lsq::Fit fit_model(const lsq::Settings& settings) {
  lsq::Fit fit = lsq::fit(model_problem(), settings, powell_on_model);
  for (int j = 1; j <= J; j++) std::copy_n(fit.coefficients(j), M + 1, c[j]);
  return fit;
}

void complete_end_row() {
  c[J + 1][0] = P0(X[J + 1], J);
  c[J + 1][1] = Pd(X[J + 1], 1);
  c[J + 1][2] = Pd(X[J + 1], 2) / 2.0;
  if (M == 3) c[J + 1][3] = c[J][3];
}

double P0(double t, int II) { return lsq::polynomial(c[II], M, X[II], t); }

int evaluation_interval(double t) {
  int II = interval(X0, J, t) + 1;
  return II == J + 1 ? J : II;
}

double P(double t) { return P0(t, evaluation_interval(t)); }

double Pd(double at, int D) {
  int II = evaluation_interval(at);
  double t = at - X[II];
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

void Transfer(const double* p) {
  int k = 0;
  for (int i = 0; i <= M; i++) c[1][i] = p[++k];
  for (int i = 2; i <= J; i++) c[i][M] = p[++k];
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

// The continuity sums for every inner knot, with the degree fixed at compile time so that the
// short sums unroll.
template <int degree>
void continuity_rows(const double* powers) {
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
    double slope = 0.0;
    for (int m = 1; m <= degree; m++) slope += d[m - 1] * (m * cj[m]);
    next[1] = slope;
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
  else
    continuity_rows<3>(powers);
}

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
T residual(T t, T data, T Xj, T c0, T c1, T c2, T c3) {
  const T d = t - Xj;
  T value = c0;
  value += c1 * d;
  const T d2 = d * d;
  value += c2 * d2;
  if constexpr (Degree == 3) value += c3 * (d * d2);
  return value - data;
}

// The objective's sum of squared residuals for degree 2 or 3: sum += r * r, one scalar addition
// per point in point order, while the residuals are computed two at a time. The points of one
// interval form runs in I (one run per interval for sorted data), so each run loads its
// coefficients once; any I with entries in 1..J gives the same sum, only in more runs. Each
// point's interval is tested inside the loop, where the test overlaps the chain of additions.
template <int Degree>
double residual_sum() {
  if (w != nullptr) {  // weighted: one point at a time, w[i] * (r * r) added in point order
    double sum = 0.0;
    for (int i = 1; i <= N; i++) {
      const double* cj = c[I[i]];
      const double r =
          residual<Degree>(x[i], y[i], X[I[i]], cj[0], cj[1], cj[2], Degree == 3 ? cj[3] : 0.0);
      sum += w[i] * (r * r);
    }
    return sum;
  }
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

// The sum is the plain sum of the squares of P0(x[i], I[i]) - y[i] in point order, with P0's
// arithmetic written out in residual().
double Eqn(double* p) {
  Transfer(p);
  Continuity();
  return M == 2 ? residual_sum<2>() : residual_sum<3>();
}
