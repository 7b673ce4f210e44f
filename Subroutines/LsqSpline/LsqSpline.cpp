#include "LsqSpline.hpp"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "Parallel.hpp"

namespace lsq {

// Method. The spline space of the model (degree M, M - 1 continuous derivatives, breakpoints at
// the distinct inner knots, its end pieces extended beyond the outer knots) has the B-spline
// basis B_0..B_{n-1}, n = L + M + 1 for L distinct inner knots, on the extended knots t: the
// left end a M + 1 times, the inner knots, the right end b M + 1 times (de Boor, A Practical
// Guide to Splines, ch. IX). Piece k (0..L) runs from t[M + k] to t[M + k + 1] and only
// B_k..B_{k+M} are not zero on it, so a point's row holds M + 1 consecutive numbers, each in
// [0, 1]: the matrix is banded and as well conditioned as the points allow, whatever the widths
// of the pieces. Rows are scaled by the square roots of the weights, after the weights were
// scaled by a power of 2 so that the largest is about 1 (an exact scaling: the fit does not
// depend on the scale of the weights).
//
// Points at one abscissa make one row: the sum of their weights and their weighted mean
// ordinate give the same least-squares problem. The rows of each piece are rotated (Givens)
// into a small triangle, on several threads for many points, and the triangles of the pieces,
// in order, into the banded triangular factor R of the whole problem: time O(N (M+1)^2),
// storage O(n (M+2)). A row that comes to rest on an empty row of R only as rounding (below
// 2^-40 of the row it was) is residual and dropped, so a column that the data do not determine
// keeps an exactly empty row.
//
// Where the data leave the spline undetermined (a row of R stays empty), rows for the jumps of
// the M-th derivative at the inner knots are rotated in as well, each jump measured in units of
// the ordinate (the jump of the top coefficient times h^M for the narrower of the two pieces
// beside its knot, divided by the square root of the number of knots at that abscissa, whose
// jumps share it), with a weight of 2^-12 against a data row of weight 1. Iterated Tikhonov
// steps, each pulling the jumps towards those of the step before, from 0, remove the bias the
// jump rows leave where the data determine the spline and converge to the least-squares spline
// with the smallest jumps, with no dependence on the scale of the weights or the ordinates. With
// fewer than M + 1 distinct abscissae no spline fits better than the polynomial of lowest degree
// through the (weighted) mean ordinate at each, which is taken.
//
// The per-interval coefficients are the piece's derivatives at the interval's left knot, from
// the differences of the B-spline coefficients; the variance b^T (A^T W A)^-1 b at t comes from
// the band of (R^T R)^-1 next to the diagonal, by the recurrence of Hutchinson and de Hoog
// (ACM TOMS 11, 1985), O(n M^2).

namespace {

constexpr int max_order = 4;         // M + 1 for M = 3
constexpr int max_width = 5;         // entries of a row of R: the data need M + 1, the jumps M + 2
constexpr double dropped = 0x1p-40;  // a remnant below this share of its row is rounding
constexpr double jump_weight = 0x1p-12;  // of a jump row against a data row of weight 1
constexpr int max_steps = 1000;
constexpr int lanes = 4;  // rows rotated in at once, into different triangles

// Values at x of the M + 1 B-splines of degree M that are not zero on the piece whose left end
// is t[left] (B_{left-M}..B_left), by the recurrence of de Boor's BSPLVB; x may lie outside the
// piece, where the values continue its polynomials.
// `inverse`, when given, holds the reciprocals of the knot differences in the order they are
// needed, which the recurrence then multiplies by.
void bspline_values(const double* t, int M, int left, double x, double* b,
                    const double* inverse = nullptr) {
  double dl[max_order], dr[max_order];
  b[0] = 1.0;
  for (int j = 1, at = 0; j <= M; j++) {
    dr[j - 1] = t[left + j] - x;
    dl[j - 1] = x - t[left + 1 - j];
    double saved = 0.0;
    for (int r = 0; r < j; r++) {
      const double term =
          inverse != nullptr ? b[r] * inverse[at++] : b[r] / (dr[r] + dl[j - 1 - r]);
      b[r] = saved + dr[r] * term;
      saved = dl[j - 1 - r] * term;
    }
    b[j] = saved;
  }
}

// A banded upper-triangular factor: row i holds R[i][i + d] at R[i * width + d], d < width, and
// the right-hand side z[i]. An empty row is all 0.
struct Band {
  int n = 0, width = 0;
  std::vector<double> R, z;
  Band() = default;
  Band(int rows, int columns) : n(rows), width(columns), R(std::size_t(rows) * columns), z(rows) {}
  double* row(int i) { return &R[static_cast<std::size_t>(i) * width]; }
  const double* row(int i) const { return &R[static_cast<std::size_t>(i) * width]; }
};

// The Givens rotation that zeroes b against a: a becomes r = sqrt(a^2 + b^2) (hypot where the
// squares would underflow or overflow); returns its cosine and sine.
std::pair<double, double> givens(double& a, double b) {
  double r = std::sqrt(a * a + b * b);
  if (!(r > 1e-150 && r < 1e150)) r = std::hypot(a, b);
  const double cs = a / r, sn = b / r;
  a = r;
  return {cs, sn};
}

// The rotation (cs, sn) applied to an entry of the factor's row and the same entry of the row
// rotated in.
void rotate_pair(double cs, double sn, double& in_factor, double& in_row) {
  const double t = in_factor;
  in_factor = cs * t + sn * in_row;
  in_row = cs * in_row - sn * t;
}

double largest_magnitude(const double* v, int count) {
  double m = 0.0;
  for (int d = 0; d < count; d++) m = std::max(m, std::fabs(v[d]));
  return m;
}

// a from R a = z by back substitution; 0 for a column whose row is empty.
void back_substitute(const Band& R, std::vector<double>& a) {
  for (int i = R.n - 1; i >= 0; i--) {
    const double* Ri = R.row(i);
    double sum = R.z[static_cast<std::size_t>(i)];
    for (int d = 1; d < R.width && i + d < R.n; d++)
      sum -= Ri[d] * a[static_cast<std::size_t>(i + d)];
    a[static_cast<std::size_t>(i)] = Ri[0] != 0.0 ? sum / Ri[0] : 0.0;
  }
}

// The rows of one piece, rotated into an upper-triangular (M + 1) x (M + 1) factor R with
// right-hand side z: R^T R and R^T z are the sums over the rows. An empty row is all 0.
struct Triangle {
  double R[max_order][max_order] = {};
  double z[max_order] = {};

  // Step k of rotating in the row (v, rhs) (overwritten), for degree M: zeroes v[k] against
  // row k, or fills row k when it is empty (unless what is left of the row is below `dropped`
  // times `size`). False once the row is used up.
  template <int M>
  bool step(int k, double* v, double& rhs, double size) {
    if (v[k] == 0.0) return true;
    if (R[k][k] == 0.0) {
      if (largest_magnitude(v + k, M + 1 - k) > dropped * size) {
        for (int l = k; l <= M; l++) R[k][l] = v[l];
        z[k] = rhs;
      }
      return false;
    }
    const auto [cs, sn] = givens(R[k][k], v[k]);
    for (int l = k + 1; l <= M; l++) rotate_pair(cs, sn, R[k][l], v[l]);
    rotate_pair(cs, sn, z[k], rhs);
    return true;
  }
};

// Rotates row s (v[s], rhs[s], size[s]) into *into[s] for s < count, different triangles, step
// by step across the rows in turn (each triangle gets the bits of rotating its row in alone).
template <int M>
void take_rows(Triangle* const* into, double (*v)[max_order], double* rhs, const double* size,
               int count) {
  bool going[lanes];
  std::fill_n(going, count, true);
  for (int k = 0; k <= M; k++)
    for (int s = 0; s < count; s++)
      if (going[s]) going[s] = into[s]->step<M>(k, v[s], rhs[s], size[s]);
}

// Rotates the row (v, rhs), whose entries v[0..width-1] stand in columns col.. (v is
// overwritten), into the factor: each entry in turn is zeroed against the factor's row of its
// column, or fills that row when it is empty, unless what is left of the row is below `dropped`
// times `size`, its largest entry before the rotations.
void rotate_in(Band& b, int col, double* v, double rhs, double size) {
  const int width = b.width;
  for (int i = col; i < b.n; i++) {
    if (v[0] != 0.0) {
      double* Ri = b.row(i);
      if (Ri[0] == 0.0) {
        if (largest_magnitude(v, width) <= dropped * size) return;
        for (int d = 0; d < width; d++) Ri[d] = v[d];
        b.z[i] = rhs;
        return;
      }
      const auto [cs, sn] = givens(Ri[0], v[0]);
      for (int d = 1; d < width; d++) rotate_pair(cs, sn, Ri[d], v[d]);
      rotate_pair(cs, sn, b.z[i], rhs);
    }
    bool rest = false;
    for (int d = 1; d < width; d++) rest = rest || v[d] != 0.0;
    if (!rest) return;
    for (int d = 1; d < width; d++) v[d - 1] = v[d];
    v[width - 1] = 0.0;
  }
}

// The extended knots of the spline space of a problem (see Method), with L distinct inner knots.
struct Basis {
  int M = 3, L = 0, n = 0;
  std::vector<double> t;
  std::vector<double> breaks;  // the distinct inner knots, t[M + 1 .. M + L]
  std::vector<int> multiplicity;
  double lowest = 0.0, highest = 0.0;  // the outermost point or knot on either side

  Basis(const Problem& p) : M(p.M) {
    for (int j = 2; j <= p.J; j++) {
      if (!breaks.empty() && breaks.back() == p.X[j]) {
        multiplicity.back()++;
      } else {
        breaks.push_back(p.X[j]);
        multiplicity.push_back(1);
      }
    }
    L = static_cast<int>(breaks.size());
    n = L + M + 1;
    double a = std::min(p.X[1], p.x[1]), b = std::max(p.X[p.J + 1], p.x[p.N]);  // x ascends
    lowest = a;
    highest = b;
    // The ends lie strictly outside the inner knots: a piece of no width has no B-spline basis.
    if (L > 0 && !(a < breaks.front())) {
      const double gap = (L > 1 ? breaks[1] : std::max(b, breaks.back())) - breaks.front();
      a = breaks.front() - (gap > 0.0 ? gap : std::max(1.0, std::fabs(breaks.front())));
    }
    if (L > 0 && !(b > breaks.back())) {
      const double gap = breaks.back() - (L > 1 ? breaks[L - 2] : std::min(a, breaks.front()));
      b = breaks.back() + (gap > 0.0 ? gap : std::max(1.0, std::fabs(breaks.back())));
    }
    t.assign(M + 1, a);
    t.insert(t.end(), breaks.begin(), breaks.end());
    t.insert(t.end(), M + 1, b);
  }

  // The piece that holds x: the last whose left end is at or below it (0 below every break).
  int piece(double x) const {
    return static_cast<int>(std::upper_bound(breaks.begin(), breaks.end(), x) - breaks.begin());
  }

  // The derivatives of order 0..M at x of a spline on piece k, divided by
  // m!: the coefficients of the piece's polynomial in powers of (t - x). The B-spline
  // coefficients of each derivative are the differences of the previous ones (de Boor, ch. X).
  // window[r] is the coefficient of B_{k+r}, r = 0..M.
  void taylor(const double* window, int k, double x, double* c) const {
    double alpha[max_order], b[max_order];
    for (int r = 0; r <= M; r++) alpha[r] = window[r];
    double factorial = 1.0;
    for (int d = 0; d <= M; d++) {
      if (d > 0) {
        factorial *= d;
        for (int r = M; r >= d; r--)
          alpha[r] =
              (M - d + 1) * (alpha[r] - alpha[r - 1]) /
              (t[static_cast<std::size_t>(k + r + M - d + 1)] - t[static_cast<std::size_t>(k + r)]);
      }
      bspline_values(t.data(), M - d, M + k, x, b);
      double s = 0.0;
      for (int r = d; r <= M; r++) s += alpha[r] * b[r - d];
      c[d] = s / factorial;
    }
  }

  // The top coefficient (the M-th derivative over M!) on piece k of B_{k+r}, r = 0..M, into g.
  void top_coefficients(int k, double* g) const {
    for (int r = 0; r <= M; r++) {
      double unit[max_order] = {}, c[max_order];
      unit[r] = 1.0;
      taylor(unit, k, t[static_cast<std::size_t>(M + k)], c);
      g[r] = c[M];
    }
  }

  // The narrower of the two intervals between distinct knots beside break q (1..L), the outer
  // ones reaching to the outermost point or knot; the other one when one of them has no width.
  double narrower_width(int q) const {
    const double left = breaks[static_cast<std::size_t>(q - 1)] -
                        (q == 1 ? lowest : breaks[static_cast<std::size_t>(q - 2)]);
    const double right = (q == L ? highest : breaks[static_cast<std::size_t>(q)]) -
                         breaks[static_cast<std::size_t>(q - 1)];
    return left > 0.0 && right > 0.0 ? std::min(left, right) : std::max(left, right);
  }
};

// Fewer than M + 1 distinct abscissae x (weights w, mean ordinates y): the polynomial of lowest
// degree through the points (Newton's divided differences), as every interval's coefficients.
void polynomial_through_means(Solution& s, const std::vector<double>& x,
                              const std::vector<double>& y) {
  const int k = static_cast<int>(x.size()), M = s.M;
  const double X1 = s.knots[1];
  double d[max_order] = {};
  for (int p = 0; p < k; p++) d[p] = y[static_cast<std::size_t>(p)];
  for (int level = 1; level < k; level++)
    for (int p = k - 1; p >= level; p--)
      d[p] = (d[p] - d[p - 1]) /
             (x[static_cast<std::size_t>(p)] - x[static_cast<std::size_t>(p - level)]);
  // Horner on the Newton form in u = t - X[1]: q <- q (u - (x[p] - X[1])) + d[p].
  double q[max_order] = {};
  for (int p = k - 1; p >= 0; p--) {
    const double e = x[static_cast<std::size_t>(p)] - X1;
    for (int m = M; m >= 1; m--) q[m] = q[m - 1] - e * q[m];
    q[0] = d[p] - e * q[0];
  }
  // Interval j's coefficients: the Taylor shift of q by X[j] - X[1].
  static const double binom[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
  for (int j = 1; j <= s.J; j++) {
    const double shift = s.knots[static_cast<std::size_t>(j)] - X1;
    double* c = &s.c[static_cast<std::size_t>(j - 1) * (M + 1)];
    for (int l = 0; l <= M; l++) {
      double sum = 0.0;
      for (int m = M; m >= l; m--) sum = sum * shift + binom[m][l] * q[m];
      c[l] = sum;
    }
  }
}

// Interval j's coefficients from the B-spline form: its piece's Taylor coefficients at X[j]
// (interval 1: piece 0, whatever its width). Between the M + 1 coefficients of the pieces beside
// an abscissa of several knots, the intervals of no width there share the jump of the top
// coefficient in equal steps (the smallest sum of squared jumps); the lower coefficients are
// continuous.
void derive_coefficients(Solution& s, const Basis& basis) {
  const int M = s.M, J = s.J;
  const double* X = s.knots.data();
  auto window = [&](int k) { return &s.a[static_cast<std::size_t>(k)]; };
  for (int j = 1; j <= J; j++) {
    double* c = &s.c[static_cast<std::size_t>(j - 1) * (M + 1)];
    const int k = j == 1 ? 0 : basis.piece(X[j]);
    basis.taylor(window(k), k, X[j], c);
    if (j == 1 || j == J || X[j + 1] != X[j]) continue;
    // Interval j has no width: it is step `step` of the knots at X[j], whose last interval
    // carries piece k.
    int first = j;
    while (first > 2 && X[first - 1] == X[j]) first--;
    const int step = j - first + 1, steps = basis.multiplicity[static_cast<std::size_t>(k - 1)];
    double before[max_order];
    basis.taylor(window(k - 1), k - 1, X[j], before);
    c[M] = before[M] + (c[M] - before[M]) * step / steps;
  }
}

// The band of (R^T R)^-1 next to the diagonal, S[i][i + d] at i (M + 1) + d, d = 0..M, for a
// banded factor R without empty rows (Hutchinson and de Hoog): from R S = R^-T, row by row
// upwards, S[i][k] = (delta_ik / R[i][i] - sum_l R[i][l] S[l][k]) / R[i][i].
std::vector<double> covariance_band(const Band& R, int M) {
  const int n = R.n, order = M + 1;
  std::vector<double> S(static_cast<std::size_t>(n) * order, 0.0);
  auto at = [&](int i, int k) -> double& {  // S[i][k] for |i - k| <= M
    return i <= k ? S[static_cast<std::size_t>(i) * order + (k - i)]
                  : S[static_cast<std::size_t>(k) * order + (i - k)];
  };
  for (int i = n - 1; i >= 0; i--) {
    const double* Ri = R.row(i);
    for (int k = std::min(n - 1, i + M); k >= i; k--) {
      double sum = k == i ? 1.0 / Ri[0] : 0.0;
      for (int l = i + 1; l <= std::min(n - 1, i + M); l++)
        if (Ri[l - i] != 0.0) sum -= Ri[l - i] * at(l, k);
      at(i, k) = sum / Ri[0];
    }
  }
  return S;
}

}  // namespace

namespace {

// solve() for a problem whose rank() is known.
Solution solve_ranked(const Problem& p, int problem_rank) {
  const int M = p.M, J = p.J, N = p.N, order = p.M + 1;
  Solution s;
  s.M = M;
  s.J = J;
  s.knots.assign(p.X, p.X + J + 2);
  s.c.assign(static_cast<std::size_t>(J) * order, 0.0);

  // The weights scaled by an even power of 2 (so that their square roots scale exactly) that
  // brings the largest into [1/4, 1).
  double largest = 0.0;
  for (int i = 1; i <= N; i++) largest = std::max(largest, p.w != nullptr ? p.w[i] : 1.0);
  int exponent = 0;
  std::frexp(largest, &exponent);
  exponent += exponent & 1;
  s.variance_scale = std::ldexp(1.0, exponent);

  const double scale = std::ldexp(1.0, -exponent);
  // The points from i on (before `to`) at i's abscissa, merged: their scaled weights' sum and the
  // sum of weight times ordinate; i moves past them.
  auto merge = [&](int& i, int to, double& weight, double& sum) {
    const double at = p.x[i];
    weight = sum = 0.0;
    for (; i < to && p.x[i] == at; i++)
      if (const double wi = (p.w != nullptr ? p.w[i] : 1.0) * scale; wi > 0.0)
        weight += wi, sum += wi * p.y[i];
  };

  // Fewer than M + 1 distinct abscissae of weight above 0: the polynomial through the means.
  {
    std::vector<double> xs, ys;
    for (int i = 1; i <= N && static_cast<int>(xs.size()) < order;) {
      const double at = p.x[i];
      double weight, sum;
      merge(i, N + 1, weight, sum);
      if (weight > 0.0) xs.push_back(at), ys.push_back(sum / weight);
    }
    if (static_cast<int>(xs.size()) < order) {
      polynomial_through_means(s, xs, ys);
      return s;
    }
  }

  const Basis basis(p);
  const int n = basis.n, L = basis.L;
  // Per piece, the reciprocals of the knot differences that the B-spline recurrence divides by.
  constexpr int per_piece = max_order * (max_order - 1) / 2;
  std::vector<double> inverse(static_cast<std::size_t>(L + 1) * per_piece);
  for (int k = 0; k <= L; k++) {
    double* inv = &inverse[static_cast<std::size_t>(k) * per_piece];
    for (int j = 1, at = 0; j <= M; j++)
      for (int r = 0; r < j; r++)
        inv[at++] = 1.0 / (basis.t[static_cast<std::size_t>(M + k + r + 1)] -
                           basis.t[static_cast<std::size_t>(M + k + r + 1 - j)]);
  }

  // Each piece's rows into a triangle of its own, one row per abscissa (the sum of the weights and
  // the weighted mean ordinate). The points are cut into runs of whole pieces, `lanes` runs per
  // thread (several threads for many points); a thread rotates in the next row of each of its
  // runs at once, so that the processor overlaps their chains of square roots and divisions.
  // Every triangle gets its rows in order from one run: the result does not depend on the cuts.
  std::vector<Triangle> blocks(static_cast<std::size_t>(L) + 1);
  const int shares = parallel::workers(static_cast<std::size_t>(N), std::size_t{1} << 16);
  std::vector<int> cuts = {1};
  for (int run = 1; run < shares * lanes; run++) {
    int i = std::max(cuts.back(),
                     1 + static_cast<int>(static_cast<long long>(N) * run / (shares * lanes)));
    if (i <= N) {  // on to the first point of the next piece
      const int k = basis.piece(p.x[i - 1]);
      i = k == L ? N + 1
                 : static_cast<int>(std::lower_bound(p.x + i, p.x + N + 1, basis.breaks[k]) - p.x);
    }
    cuts.push_back(std::min(i, N + 1));
  }
  cuts.push_back(N + 1);
  struct Run {
    int i, to, k;  // the next point, the end of the run, the piece of its last row
  };
  // The next row of a run: its B-spline values v (scaled), right-hand side and triangle.
  auto next_row = [&](Run& run, double* v, double& rhs, double& size) {
    while (run.i < run.to) {
      const double at = p.x[run.i];
      double weight, sum;
      merge(run.i, run.to, weight, sum);
      if (!(weight > 0.0)) continue;
      while (run.k < L && basis.breaks[static_cast<std::size_t>(run.k)] <= at) run.k++;
      bspline_values(basis.t.data(), M, M + run.k, at, v,
                     &inverse[static_cast<std::size_t>(run.k) * per_piece]);
      const double root = std::sqrt(weight);
      for (int d = 0; d < order; d++) v[d] *= root;
      rhs = sum / root;
      size = root;  // the B-splines sum to 1: the largest entry lies in [root / (M + 1), root]
      return true;
    }
    return false;
  };
  parallel::run(shares, [&](int share) {
    Run runs[lanes];
    for (int r = 0; r < lanes; r++) {
      const int from = cuts[static_cast<std::size_t>(share * lanes + r)];
      runs[r] = {from, cuts[static_cast<std::size_t>(share * lanes + r + 1)],
                 from <= N ? basis.piece(p.x[from]) : 0};
    }
    for (;;) {
      Triangle* into[lanes];
      double v[lanes][max_order], rhs[lanes], size[lanes];
      int count = 0;
      for (Run& run : runs)
        if (next_row(run, v[count], rhs[count], size[count]))
          into[count++] = &blocks[static_cast<std::size_t>(run.k)];
      if (count == 0) return;
      if (M == 2)
        take_rows<2>(into, v, rhs, size, count);
      else
        take_rows<3>(into, v, rhs, size, count);
    }
  });

  Band R(n, M + 2);
  for (int k = 0; k <= L; k++) {
    const Triangle& block = blocks[static_cast<std::size_t>(k)];
    for (int i = 0; i < order; i++) {
      double v[max_width] = {};
      for (int d = 0; d < order - i; d++) v[d] = block.R[i][i + d];
      if (v[0] != 0.0) rotate_in(R, k + i, v, block.z[i], largest_magnitude(v, order));
    }
  }
  bool determined = problem_rank == n;
  for (int i = 0; i < n; i++) determined = determined && R.row(i)[0] != 0.0;
  s.a.assign(static_cast<std::size_t>(n), 0.0);
  if (determined) {
    back_substitute(R, s.a);
  } else {
    // Iterated Tikhonov regularisation: each step minimises |A a - b|^2 + |P (a - a_prev)|^2
    // for the jump rows P, from a = 0. Every step keeps the jumps of the previous one in the
    // directions the data leave free, so the steps converge to the least-squares spline with the
    // smallest jumps, geometrically in the directions the data determine.
    std::vector<double> jumps(static_cast<std::size_t>(L) * max_width, 0.0), next(s.a.size());
    for (int q = 1; q <= L; q++) {  // the jump at break q, from piece q - 1 to piece q
      double before[max_order], after[max_order];
      basis.top_coefficients(q - 1, before);
      basis.top_coefficients(q, after);
      const double h = basis.narrower_width(q);
      const double size = jump_weight * std::pow(h, M) /
                          std::sqrt(double(basis.multiplicity[static_cast<std::size_t>(q - 1)]));
      double* v = &jumps[static_cast<std::size_t>(q - 1) * max_width];
      for (int r = 0; r <= M; r++) v[r] -= size * before[r];
      for (int r = 0; r <= M; r++) v[r + 1] += size * after[r];
    }
    // The steps stop when they no longer move the coefficients, or move them by rounding only:
    // once a step moves them no less than the one before, at a relative 2^-30 or below.
    double moved = HUGE_VAL;
    for (int step = 0; step < max_steps; step++) {
      Band Rq = R;
      for (int q = 1; q <= L; q++) {
        double v[max_width];
        std::copy_n(&jumps[static_cast<std::size_t>(q - 1) * max_width], max_width, v);
        double target = 0.0;
        for (int d = 0; d <= M + 1; d++) target += v[d] * s.a[static_cast<std::size_t>(q - 1 + d)];
        rotate_in(Rq, q - 1, v, target, largest_magnitude(v, M + 2));
      }
      back_substitute(Rq, next);
      double change = 0.0, size = 0.0;
      for (std::size_t i = 0; i < next.size(); i++) {
        change = std::max(change, std::fabs(next[i] - s.a[i]));
        size = std::max(size, std::fabs(next[i]));
      }
      s.a.swap(next);
      if (change <= 0x1p-52 * size || (change >= moved && change <= 0x1p-30 * size)) break;
      moved = change;
    }
  }
  s.t = basis.t;
  s.breaks = basis.breaks;
  derive_coefficients(s, basis);
  if (determined) s.covariance = covariance_band(R, M);
  return s;
}

}  // namespace

Solution solve(const Problem& p) { return solve_ranked(p, rank(p)); }
Solution solve(const Problem& p, int problem_rank) { return solve_ranked(p, problem_rank); }

int Solution::interval(double at) const {
  const double* X = knots.data();
  return static_cast<int>(std::upper_bound(X + 2, X + J + 1, at) - (X + 1));
}

double Solution::variance_factor(double at) const {
  if (covariance.empty()) return NAN;
  const int order = M + 1;
  const int k =
      static_cast<int>(std::upper_bound(breaks.begin(), breaks.end(), at) - breaks.begin());
  double b[max_order];
  bspline_values(t.data(), M, M + k, at, b);
  double sum = 0.0;
  for (int r = 0; r < order; r++)
    for (int q = 0; q < order; q++) {
      const int i = k + std::min(r, q), d = std::abs(r - q);
      sum += b[r] * covariance[static_cast<std::size_t>(i) * order + d] * b[q];
    }
  return sum / variance_scale;
}

int rank(const Problem& p, std::vector<int>* undetermined) {
  const int M = p.M, J = p.J, N = p.N;
  const double *x = p.x, *w = p.w, *X = p.X;
  std::vector<double> knots(X + 2, X + J + 1);  // the inner knots, once each
  knots.erase(std::unique(knots.begin(), knots.end()), knots.end());
  const int L = static_cast<int>(knots.size());
  const double infinity = HUGE_VAL;
  int rank = 0, i = 1;
  for (int b = 1; b <= L + M + 1; b++) {
    // B-spline b is not zero strictly between these knots (none beyond the ends).
    double lo = b - M - 1 >= 1 ? knots[static_cast<std::size_t>(b - M - 2)] : -infinity;
    double hi = b <= L ? knots[static_cast<std::size_t>(b - 1)] : infinity;
    while (i <= N && (x[i] <= lo || (w != nullptr && w[i] == 0.0))) i++;
    if (i <= N && x[i] < hi) {
      rank++;
      for (double matched = x[i]; i <= N && x[i] == matched;) i++;
    } else if (undetermined != nullptr) {
      for (int j = 1; j <= J; j++) {  // the intervals where this B-spline lives
        double from = j == 1 ? -infinity : X[j], to = j == J ? infinity : X[j + 1];
        bool inside = from < to ? from < hi && to > lo : lo < from && from < hi;
        if (inside && (undetermined->empty() || undetermined->back() < j))
          undetermined->push_back(j);
      }
    }
  }
  if (undetermined != nullptr) {  // a repeated inner knot: its interval's top parameter is idle
    for (int j = 2; j < J; j++)
      if (X[j] == X[j + 1]) undetermined->push_back(j);
    std::sort(undetermined->begin(), undetermined->end());
    undetermined->erase(std::unique(undetermined->begin(), undetermined->end()),
                        undetermined->end());
  }
  return rank;
}

double Statistics::sigma() const { return dof() > 0 ? std::sqrt(RSS / dof()) : NAN; }
double Statistics::R2() const { return TSS > 0.0 ? 1.0 - RSS / TSS : NAN; }
double Statistics::AIC() const {
  return RSS > 0.0 ? counted * std::log(RSS / counted) + 2.0 * rank : NAN;
}
double Statistics::BIC() const {
  return RSS > 0.0 ? counted * std::log(RSS / counted) + rank * std::log(double(counted)) : NAN;
}
double Statistics::GCV() const {
  const double n = counted;
  return dof() > 0 ? n * RSS / ((n - rank) * (n - rank)) : NAN;
}
double Statistics::p_chi2() const {
  using namespace boost::math;
  return dof() > 0 ? cdf(complement(chi_squared(dof()), RSS)) : NAN;
}
namespace {

// The (1 + level) / 2 quantile of Student's t with dof degrees of freedom, or of the normal
// distribution for dof = infinity; SplineError unless 0 < level < 1.
double two_sided_quantile(double level, double dof) {
  using namespace boost::math;
  if (!(level > 0.0 && level < 1.0))
    throw SplineError("the confidence level must lie between 0 and 1, not " +
                      std::to_string(level));
  const double p = 0.5 + 0.5 * level;
  if (std::isnan(dof)) return NAN;
  return std::isinf(dof) ? boost::math::quantile(normal(), p)
                         : boost::math::quantile(students_t(dof), p);
}

}  // namespace

double Statistics::quantile(double level) const {
  return two_sided_quantile(level, weights == Weights::sigmas ? HUGE_VAL
                                   : dof() > 0                ? double(dof())
                                                              : NAN);
}

Statistics describe(const Problem& p, Weights weights, std::vector<int>* undetermined) {
  Statistics s;
  s.N = s.counted = p.N;
  s.parameters = p.J + p.M;
  s.weights = weights;
  if (p.w != nullptr)
    for (int i = 1; i <= p.N; i++) s.counted -= p.w[i] == 0.0;
  s.rank = rank(p, undetermined);
  double mean = 0.0, total = 0.0;
  for (int i = 1; i <= p.N; i++) {
    mean += p.w != nullptr ? p.w[i] * p.y[i] : p.y[i];
    total += p.w != nullptr ? p.w[i] : 1.0;
  }
  mean /= total;
  for (int i = 1; i <= p.N; i++)
    s.TSS += (p.w != nullptr ? p.w[i] : 1.0) * ((p.y[i] - mean) * (p.y[i] - mean));
  return s;
}

double weight_of(Weights kind, double value, const char** why) {
  const double w = kind == Weights::sigmas ? 1.0 / (value * value) : value;
  const bool usable = kind == Weights::sigmas ? value > 0.0 && w > 0.0 && std::isfinite(w)
                                              : value >= 0.0 && std::isfinite(value);
  if (usable) return w;
  if (why != nullptr)
    *why = kind == Weights::sigmas
               ? "not a usable standard deviation (it must be above 0, with a "
                 "finite 1 / sigma^2 above 0)"
               : "not a usable weight (it must be a finite number of 0 or more)";
  return NAN;
}

void place_knots_evenly(const double* x, int N, int J, double* X, int* I) {
  const double NJ = static_cast<double>(N) / J;
  X[1] = x[1];
  for (int j = 1, ia = 1; j <= J; j++) {
    const int iz = static_cast<int>(std::round(j * NJ));  // halves away from zero
    for (int i = ia; i <= iz; i++) I[i] = j;
    ia = iz + 1;
    if (j < J) X[j + 1] = 0.5 * (x[iz] + x[iz + 1]);
  }
  X[J + 1] = x[N];
}

void assign_intervals(const double* x, int N, const double* X, int J, int* I) {
  // x ascends, so the last interval whose left knot is at or below x[i] only moves forward.
  for (int i = 1, j = 1; i <= N; i++) {
    while (j < J && X[j + 1] <= x[i]) j++;
    I[i] = j;
  }
}

std::string knots_fault(std::span<const double> knots) {
  if (knots.size() < 2) return "at least 2 knots are needed";
  for (std::size_t k = 0; k < knots.size(); k++) {
    if (!std::isfinite(knots[k])) return "knot " + std::to_string(k) + " is not finite";
    if (k > 0 && knots[k] < knots[k - 1])
      return "knot " + std::to_string(k) + " is below the knot before it";
  }
  if (knots.front() == knots.back())
    return "all knots are equal; the last must lie above the first";
  return "";
}

std::string problem_fault(const Problem& p) {
  const int N = p.N;
  const double *x = p.x, *y = p.y, *w = p.w;
  if (x[1] == x[N]) {
    char at[32];
    std::snprintf(at, sizeof at, "%g", x[1]);
    return (N == 1 ? std::string("its only point lies")
                   : "all " + std::to_string(N) + " points lie") +
           " at the abscissa " + at + "; a spline needs points at two different abscissae at least";
  }
  if (w != nullptr) {  // the same for the points that count
    int first = 0, second = 0;
    for (int i = 1; i <= N && second == 0; i++) {
      if (w[i] == 0.0) continue;
      if (first == 0)
        first = i;
      else if (x[i] != x[first])
        second = i;
    }
    if (second == 0)
      return first == 0 ? "every weight is 0; at least the points at two different abscissae must "
                          "have weights above 0"
                        : "the points of weight above 0 all lie at one abscissa; a spline needs "
                          "points at two different abscissae at least";
  }
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += y[i] * y[i];
  if (!std::isfinite(sum))
    return "the ordinates are too large for the fit: the sum of their squares overflows";
  const double span = std::fmax(x[N], p.X[p.J + 1]) - std::fmin(x[1], p.X[1]);
  if (!std::isfinite(std::pow(span, p.M)))
    return "the abscissae are too far apart for the fit: the power " + std::to_string(p.M) +
           " of their span overflows";
  return "";
}

namespace {

// solve_checked() for a problem whose rank() is known.
Solution solve_ranked_checked(const Problem& p, int problem_rank) {
  Solution s = solve_ranked(p, problem_rank);
  for (int j = 1; j <= p.J; j++)
    for (int m = 0; m <= p.M; m++)
      if (!std::isfinite(s.coefficients(j)[m])) {
        char width[32];
        std::snprintf(width, sizeof width, "%g", p.X[j + 1] - p.X[j]);
        throw SplineError(
            "the knot intervals are too narrow for the fit: the coefficients of "
            "interval " +
            std::to_string(j) + " (of width " + width + ") overflow");
      }
  return s;
}

}  // namespace

Solution solve_checked(const Problem& p) { return solve_ranked_checked(p, rank(p)); }

namespace {

// The spline of coefficients c (interval j's at (j - 1)(M + 1)) at every point, each by
// polynomial() on its own interval, into fitted[1..N]; on every core for many points.
void values_at_points(const Problem& p, const std::vector<double>& c, std::vector<double>& fitted) {
  const int M = p.M, N = p.N;
  fitted.resize(static_cast<std::size_t>(N) + 1);
  const int shares = parallel::workers(static_cast<std::size_t>(N), std::size_t{1} << 16);
  parallel::run(shares, [&](int k) {
    const int last = static_cast<int>(static_cast<long long>(N) * (k + 1) / shares);
    for (int i = 1 + static_cast<int>(static_cast<long long>(N) * k / shares); i <= last; i++)
      fitted[static_cast<std::size_t>(i)] =
          polynomial(&c[static_cast<std::size_t>(p.I[i] - 1) * (M + 1)], M, p.X[p.I[i]], p.x[i]);
  });
}

// psi(u) / u and psi'(u) of a robust fit (see Robust).
double robust_weight(Robust kind, double u) {
  const double a = std::fabs(u);
  if (kind == Robust::huber) return a <= huber_c ? 1.0 : huber_c / a;
  if (a >= bisquare_c) return 0.0;
  const double q = u / bisquare_c, v = 1.0 - q * q;
  return v * v;
}
double psi_slope(Robust kind, double u) {
  const double a = std::fabs(u);
  if (kind == Robust::huber) return a <= huber_c ? 1.0 : 0.0;
  if (a >= bisquare_c) return 0.0;
  const double q2 = (u / bisquare_c) * (u / bisquare_c);
  return (1.0 - q2) * (1.0 - 5.0 * q2);
}

// The weight of point i, 1 without weights.
double weight(const Problem& p, int i) { return p.w != nullptr ? p.w[i] : 1.0; }

// median |sqrt(w) r| / 0.6744897501960817 over the points of weight above 0, for the residuals
// r = y - fitted (the mean of the two middle values for an even count), a residual of at most
// `zero` taken as 0: 0 when more than half the points lie on the curve to rounding.
double residual_scale(const Problem& p, const std::vector<double>& fitted, double zero) {
  std::vector<double> a;
  a.reserve(static_cast<std::size_t>(p.N));
  for (int i = 1; i <= p.N; i++)
    if (const double w = weight(p, i); w > 0.0) {
      const double r = p.y[i] - fitted[static_cast<std::size_t>(i)];
      a.push_back(std::fabs(r) > zero ? std::fabs(std::sqrt(w) * r) : 0.0);
    }
  const auto middle = a.begin() + static_cast<std::ptrdiff_t>(a.size() / 2);
  std::nth_element(a.begin(), middle, a.end());
  double median = *middle;
  if (a.size() % 2 == 0) median = 0.5 * (median + *std::max_element(a.begin(), middle));
  return median / 0.6744897501960817;
}

// The robust fit of p (RobustFit) from its least-squares spline f.exact: the steps, the robust
// weights and scale of the final curve, whose coefficients go to f.c, and Huber's band factor.
void fit_robustly(const Problem& p, Robust kind, Fit& f) {
  const int N = p.N;
  RobustFit& r = f.robust;
  r.kind = kind;
  r.weights.assign(static_cast<std::size_t>(N) + 1, 1.0);
  r.rank = f.stats.rank;
  f.c = f.exact.c;
  double largest = 0.0;
  for (int i = 1; i <= N; i++)
    if (weight(p, i) > 0.0) largest = std::max(largest, std::fabs(p.y[i]));
  const double still = robust_settled * largest;
  // u: the standardised residuals of the current curve.
  std::vector<double> fitted, next, combined(static_cast<std::size_t>(N) + 1),
      u(static_cast<std::size_t>(N) + 1, 0.0);
  values_at_points(p, f.c, fitted);
  Problem q = p;
  q.w = combined.data();
  for (bool settled = false;;) {
    r.scale = residual_scale(p, fitted, still);
    if (!(r.scale > 0.0)) {
      r.scale_vanished = true;
      break;
    }
    for (int i = 1; i <= N; i++) {
      const std::size_t k = static_cast<std::size_t>(i);
      u[k] = std::sqrt(weight(p, i)) * (p.y[i] - fitted[k]) / r.scale;
      r.weights[k] = robust_weight(kind, u[k]);
      combined[k] = weight(p, i) * r.weights[k];
    }
    if (settled) break;
    if (r.iterations == max_robust_steps) {
      r.settled = false;
      break;
    }
    r.rank = rank(q);
    Solution s = solve_ranked_checked(q, r.rank);
    values_at_points(p, s.c, next);
    double moved = 0.0;
    for (int i = 1; i <= N; i++)
      moved = std::max(moved, std::fabs(next[static_cast<std::size_t>(i)] -
                                        fitted[static_cast<std::size_t>(i)]));
    f.c = std::move(s.c);
    fitted.swap(next);
    r.iterations++;
    settled = moved <= still;
  }
  // The counts and Huber's band factor, at the final curve.
  const double n = f.stats.counted, rank_p = f.stats.rank;
  double psi2 = 0.0, slopes = 0.0, spread = 0.0;
  std::vector<double> slope(static_cast<std::size_t>(N) + 1, 0.0);
  for (int i = 1; i <= N; i++) {
    const std::size_t k = static_cast<std::size_t>(i);
    if (!(weight(p, i) > 0.0)) continue;
    r.downweighted += r.weights[k] < 1.0;
    r.rejected += r.weights[k] == 0.0;
    if (r.scale_vanished) continue;
    const double psi = u[k] * r.weights[k];
    psi2 += psi * psi;
    slope[k] = psi_slope(kind, u[k]);
    slopes += slope[k];
  }
  const double mean = slopes / n;
  if (r.scale_vanished || !(n > rank_p) || !(mean > 0.0)) return;
  for (int i = 1; i <= N; i++)
    if (weight(p, i) > 0.0) {
      const double d = slope[static_cast<std::size_t>(i)] - mean;
      spread += d * d;
    }
  const double K = 1.0 + rank_p / n * (spread / n) / (mean * mean);
  r.band_factor = K * K * (psi2 / (n - rank_p)) * (r.scale * r.scale) / (mean * mean);
}

}  // namespace

double Fit::error_scale() const {
  if (stats.rank < stats.parameters || exact.covariance.empty()) return NAN;
  if (is_robust()) return std::sqrt(robust.band_factor);
  return stats.weights == Weights::sigmas ? 1.0 : stats.sigma();
}

double Fit::quantile(double level) const {
  return is_robust() ? two_sided_quantile(level, HUGE_VAL) : stats.quantile(level);
}

Fit fit(const Problem& p, const Settings& settings, const Minimiser& powell) {
  if (std::string fault = problem_fault(p); !fault.empty()) throw SplineError(fault);
  if (settings.robust != Robust::none && settings.method != Method::exact)
    throw SplineError("a robust fit needs the exact least-squares solve, not Powell's search");
  const int N = p.N;
  Fit f;
  f.method = settings.method;
  f.stats = describe(p, settings.weights, &f.undetermined);
  f.exact = solve_ranked_checked(p, f.stats.rank);
  if (settings.method == Method::powell) {
    if (!powell) throw SplineError("Powell's search needs a minimiser");
    f.c.assign(f.exact.c.size(), 0.0);
    f.iterations = powell(p, settings.criterion, f.c);
  } else if (settings.robust != Robust::none) {
    fit_robustly(p, settings.robust, f);
  } else {
    f.c = f.exact.c;
  }

  values_at_points(p, f.c, f.fitted);
  // The sums in point order: the (weighted) squares, the largest residual.
  double largest = -1.0;
  for (int i = 1; i <= N; i++) {
    const double r = f.fitted[static_cast<std::size_t>(i)] - p.y[i];
    f.stats.RSS += p.w != nullptr ? p.w[i] * (r * r) : r * r;
    if (std::fabs(r) > largest) {
      largest = std::fabs(r);
      f.stats.max_residual = largest;
      f.stats.at = p.x[i];
    }
  }
  // After the exact solve the spline as fitted is the exact one: RSS_min is RSS, the excess 0.
  if (settings.method == Method::exact && settings.robust == Robust::none) {
    f.RSS_min = f.stats.RSS;
    return f;
  }
  // Powell's or the robust spline s and the least-squares spline s* both lie in the spline
  // space, and the
  // residuals of s* are orthogonal to it, so RSS - RSS_min is the (weighted) sum of (s - s*)^2
  // at the points: computed that way it carries no cancellation, and is never below 0.
  double apart = 0.0;
  for (int i = 1; i <= N; i++) {
    const double best = f.exact.value(p.I[i], p.x[i]), weight = p.w != nullptr ? p.w[i] : 1.0;
    const double r = best - p.y[i], d = f.fitted[static_cast<std::size_t>(i)] - best;
    f.RSS_min += weight * (r * r);
    apart += weight * (d * d);
  }
  f.excess = f.exact_to_rounding() ? NAN : apart / f.RSS_min;
  return f;
}

int Spline::interval_of(double t, int hint) const {
  const double* X = fit_.exact.knots.data() + 1;  // X[0..J]
  const int J = fit_.exact.J;
  if (hint > 0 && hint < J && X[hint] <= t && (hint == J - 1 || t < X[hint + 1])) return hint;
  if (hint + 1 < J && X[hint + 1] <= t && (hint + 1 == J - 1 || t < X[hint + 2])) return hint + 1;
  return static_cast<int>(std::upper_bound(X + 1, X + J, t) - (X + 1));
}

double Spline::evaluate(int j, double t, int order) const {
  if (order < 0 || order > 3)
    throw SplineError("the order of a derivative must be from 0 to 3, not " +
                      std::to_string(order));
  const double* a = fit_.coefficients(j + 1);
  const double d = t - fit_.exact.knots[static_cast<std::size_t>(j) + 1];
  double sum = 0.0;
  for (int m = fit_.exact.M; m >= order; m--) {  // Horner on the order-th derivative
    double factor = 1.0;
    for (int k = 0; k < order; k++) factor *= m - k;
    sum = sum * d + factor * a[m];
  }
  return sum;
}

double Spline::coefficient(int j, int m) const {
  if (j < 0 || j >= intervals() || m < 0 || m > 3)
    throw SplineError("coefficient(" + std::to_string(j) + ", " + std::to_string(m) +
                      "): the interval must be from 0 to " + std::to_string(intervals() - 1) +
                      " and the power from 0 to 3");
  return m <= degree() ? fit_.coefficients(j + 1)[m] : 0.0;
}

double Spline::value(double t, int order) const { return evaluate(interval_of(t), t, order); }

double Spline::integral(double t) const {
  const int j = interval_of(t);
  const double* a = fit_.coefficients(j + 1);
  const double d = t - fit_.exact.knots[static_cast<std::size_t>(j) + 1];
  double sum = 0.0;
  for (int m = degree(); m >= 0; m--) sum = sum * d + a[m] / (m + 1);
  return integrals_[static_cast<std::size_t>(j)] + sum * d;
}

void Spline::values(std::span<const double> t, std::span<double> out, int order) const {
  if (out.size() != t.size()) throw SplineError("values: out holds a different number of values");
  for (std::size_t k = 0, j = 0; k < t.size(); k++) {
    j = static_cast<std::size_t>(interval_of(t[k], static_cast<int>(j)));
    out[k] = evaluate(static_cast<int>(j), t[k], order);
  }
}

double Spline::standard_error(double t) const {
  return fit_.error_scale() * std::sqrt(fit_.exact.variance_factor(t));
}

std::pair<double, double> Spline::confidence_limits(double t, double level) const {
  const double factor = fit_.quantile(level);
  const double s = value(t), margin = factor * standard_error(t);
  return {s - margin, s + margin};
}

namespace {

// Throws SplineError with `what` unless `rule` holds.
void require(bool rule, const std::string& what) {
  if (!rule) throw SplineError("lsq::fit: " + what);
}

}  // namespace

// The common part of both fits: the points in the ascending order `order` of their abscissae,
// the knots (automatic ones when intervals > 0), the assignment, the fit, and the integrals.
Spline fit_on(std::vector<std::size_t> order, std::span<const double> x, std::span<const double> y,
              std::span<const double> w, Weights kind, int degree, std::vector<double> knots,
              int intervals, Robust robust) {
  const std::size_t n = x.size();
  const int N = static_cast<int>(n);
  std::vector<double> xs(n + 1), ys(n + 1), ws(w.empty() ? 0 : n + 1);
  for (std::size_t i = 0; i < n; i++) {
    xs[i + 1] = x[order[i]];
    ys[i + 1] = y[order[i]];
    if (!w.empty()) ws[i + 1] = weight_of(kind, w[order[i]]);
  }
  std::vector<int> I(n + 1, 1);
  if (intervals > 0) {
    knots.assign(static_cast<std::size_t>(intervals) + 2, 0.0);  // 1-based
    place_knots_evenly(xs.data(), N, intervals, knots.data(), I.data());
  } else {
    knots.insert(knots.begin(), 0.0);  // 1-based
    assign_intervals(xs.data(), N, knots.data(), static_cast<int>(knots.size()) - 2, I.data());
  }
  const int J = static_cast<int>(knots.size()) - 2;
  const Problem p{degree,   J,           N, xs.data(), ys.data(), ws.empty() ? nullptr : ws.data(),
                  I.data(), knots.data()};
  Spline s;
  try {
    s.fit_ = fit(p, {Method::exact, kind, 0.0, robust});
  } catch (const SplineError& error) {
    throw SplineError(std::string("lsq::fit: ") + error.what());
  }
  s.integrals_.assign(static_cast<std::size_t>(J) + 1, 0.0);
  for (int j = 1; j <= J; j++) {
    const double* a = s.fit_.coefficients(j);
    const double d = knots[static_cast<std::size_t>(j) + 1] - knots[static_cast<std::size_t>(j)];
    double area = 0.0;
    for (int m = degree; m >= 0; m--) area = area * d + a[m] / (m + 1);
    s.integrals_[static_cast<std::size_t>(j)] =
        s.integrals_[static_cast<std::size_t>(j) - 1] + area * d;
  }
  s.residuals_.resize(n);
  for (std::size_t i = 0; i < n; i++) s.residuals_[order[i]] = ys[i + 1] - s.fit_.fitted[i + 1];
  if (robust != Robust::none) {
    s.robust_weights_.resize(n);
    for (std::size_t i = 0; i < n; i++) s.robust_weights_[order[i]] = s.fit_.robust.weights[i + 1];
  }
  return s;
}

namespace {

// Checks the points and weights and returns the order of ascending abscissae (stable).
std::vector<std::size_t> checked_order(std::span<const double> x, std::span<const double> y,
                                       std::span<const double> w, Weights kind, int degree) {
  require(degree == 2 || degree == 3, "the degree must be 2 or 3, not " + std::to_string(degree));
  require(x.size() == y.size(),
          "x holds " + std::to_string(x.size()) + " values but y " + std::to_string(y.size()));
  require(!x.empty(), "there are no points");
  require(w.empty() || w.size() == x.size(), "w holds " + std::to_string(w.size()) +
                                                 " values for " + std::to_string(x.size()) +
                                                 " points");
  require(kind == Weights::none || !w.empty(), "weights of a kind but no weights");
  require(x.size() < std::size_t{1} << 31, "more points than an int counts");
  for (std::size_t k = 0; k < x.size(); k++) {  // (the messages are made only for a fault)
    if (!std::isfinite(x[k]) || !std::isfinite(y[k]))
      require(false, "point " + std::to_string(k) + " is not finite");
    const char* why = "";
    if (!w.empty() && std::isnan(weight_of(kind, w[k], &why)))
      require(false, "the weight of point " + std::to_string(k) + " is " + why);
  }
  std::vector<std::size_t> index(x.size());
  std::iota(index.begin(), index.end(), std::size_t{0});
  std::stable_sort(index.begin(), index.end(),
                   [&x](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  return index;
}

}  // namespace

Spline fit(std::span<const double> x, std::span<const double> y, int degree,
           std::span<const double> knots, std::span<const double> w, Weights kind, Robust robust) {
  std::vector<std::size_t> order = checked_order(x, y, w, kind, degree);
  const std::string fault = knots_fault(knots);
  require(fault.empty(), fault);
  return fit_on(std::move(order), x, y, w, kind, degree, {knots.begin(), knots.end()}, 0, robust);
}

Spline fit(std::span<const double> x, std::span<const double> y, int degree, int intervals,
           std::span<const double> w, Weights kind, Robust robust) {
  std::vector<std::size_t> order = checked_order(x, y, w, kind, degree);
  require(intervals >= 1 && static_cast<std::size_t>(intervals) < 2 * x.size(),
          "the number of intervals must be from 1 to below twice the number of points");
  return fit_on(std::move(order), x, y, w, kind, degree, {}, intervals, robust);
}

}  // namespace lsq
