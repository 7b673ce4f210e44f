#include "LsqSpline.hpp"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace lsq {

// Method. Write a_j for the coefficients c[j][0..M] of interval j. The residual of a point of
// interval j is linear in a_j, and the continuity conditions give a_j = (S_j a_{j-1}, c[j][M]),
// where S_j holds the first M rows of the Taylor shift by delta[j-1]. First the rows of each
// interval's points are rotated (Givens) into a small upper-triangular block. Then, from
// interval J down to 1, each block joins the factor that holds the information about a_j; a_j
// is replaced by (c[j][M], a_{j-1}), and one more QR step splits off the row that gives c[j][M]
// from a_{j-1}, leaving the factor for a_{j-1}. This is the QR factorisation of the whole
// N x NN parameter map, columns taken in the order Z[NN], ..., Z[M+2], Z[1..M+1]; back
// substitution then runs the continuity recurrence forward. Time O(N (M+1)^2), storage
// O(J (M+1)^2); monomial normal equations are never formed.
//
// Scaling: interval j works with a_j[m] * h[j]^m, h[j] its width or the farthest point assigned
// to it, whichever is larger, so every data row holds powers of a u with |u| <= 1. The scaling
// changes only rounding, not the minimiser.
//
// Degenerate problems: a penalty row (weight 1e-12 against 1 for a data row) on each jump
// c[j][M] - c[j-1][M], scaled by the M-th power of the smaller of h[j-1] and h[j], makes every
// factor nonsingular when the points hold at least M + 1 distinct abscissae. The elimination
// over the blocks runs four times, each penalty pulling towards the jump of the previous
// solution (iterated Tikhonov regularisation, from 0): this converges, fast, to the least-squares
// minimiser with the smallest jumps, so the penalty leaves no bias on fits that the data
// determine, and continues a neighbour's polynomial across intervals without data. With fewer
// than M + 1 distinct abscissae no function fits better than the polynomial through the mean
// ordinate at each, which is taken directly.

namespace {

constexpr int max_size = 5;  // M + 2 for M = 3: one top coefficient and the 4 of an interval
constexpr double jump_weight = 1e-12;
constexpr int passes = 4;

using Triangle = double[max_size][max_size];

// The rows of one interval's points, compressed: R^T R and R^T d equal their sums.
struct Block {
  Triangle R;
  double d[max_size];
};

// Rotation k of rotate_in: zeroes v[k] against the factor's row k.
inline void rotation(Triangle& R, double* d, int n, double* v, double& rhs, int k) {
  if (v[k] == 0.0) return;
  double r = std::sqrt(R[k][k] * R[k][k] + v[k] * v[k]);
  if (!(r > 1e-150 && r < 1e150)) r = std::hypot(R[k][k], v[k]);  // no underflow or overflow
  double cs = R[k][k] / r, sn = v[k] / r;
  R[k][k] = r;
  for (int l = k + 1; l < n; l++) {
    double t = R[k][l];
    R[k][l] = cs * t + sn * v[l];
    v[l] = cs * v[l] - sn * t;
  }
  double t = d[k];
  d[k] = cs * t + sn * rhs;
  rhs = cs * rhs - sn * t;
}

// Rotates the row (v, rhs) into the upper-triangular n x n factor (R, d); v is overwritten.
// Afterwards R^T R and R^T d have grown by v v^T and v rhs.
void rotate_in(Triangle& R, double* d, int n, double* v, double rhs) {
  for (int k = 0; k < n; k++) rotation(R, d, n, v, rhs, k);
}

// rotate_in for `count` rows into the factors of as many different blocks: rotation k of each
// in turn, so that the processor overlaps their chains of square roots and divisions (one
// row's chain alone leaves it waiting most of the time). Each factor gets rotate_in's bits.
constexpr int max_lanes = 4;
void rotate_in_lanes(Block* const* b, double (*v)[max_size], double* rhs, int count, int n) {
  for (int k = 0; k < n; k++)
    for (int s = 0; s < count; s++) rotation(b[s]->R, b[s]->d, n, v[s], rhs[s], k);
}

// The problem's arrays under the names of the spline model, so that the solver reads as the
// model's formulas; delta[j] = X[j+1] - X[j].
struct Context {
  int M, J, N, NN, threads;
  const double *x, *y, *w, *X;
  const int* I;
  std::vector<double> widths;
  const double* delta;

  explicit Context(const Problem& p)
      : M(p.M),
        J(p.J),
        N(p.N),
        NN(p.J + p.M),
        threads(p.threads),
        x(p.x),
        y(p.y),
        w(p.w),
        X(p.X),
        I(p.I),
        widths(static_cast<std::size_t>(p.J) + 1, 0.0),
        delta(widths.data()) {
    for (int j = 1; j <= J; j++) widths[static_cast<std::size_t>(j)] = X[j + 1] - X[j];
  }

  Solution exact_solution() const;

  // S[l][m] (l < M, m <= M): scaled coefficient l of interval j from scaled coefficient m of
  // interval j - 1, binom(m, l) (delta[j-1] / h[j-1])^(m-l) (h[j] / h[j-1])^l.
  void scaled_shift(int j, const std::vector<double>& h, Triangle& S) const {
    static const double binom[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
    double rd = std::fabs(delta[j - 1]) / h[j - 1], rh = h[j] / h[j - 1];
    double pd[4] = {1.0, rd, rd * rd, rd * rd * rd};
    double ph[3] = {1.0, rh, rh * rh};  // l < M <= 3
    for (int l = 0; l < M; l++)
      for (int m = 0; m <= M; m++) S[l][m] = m < l ? 0.0 : binom[m][l] * pd[m - l] * ph[l];
  }

  // The scale h[1..J] of every interval (see the comment at the top), floored at 2^-26 times the
  // largest so that no ratio of neighbouring scales overflows; all 1 when every scale is 0.
  std::vector<double> interval_scales() const {
    std::vector<double> h(static_cast<std::size_t>(J) + 1, 0.0);
    for (int j = 1; j <= J; j++) h[j] = std::fabs(delta[j]);
    for (int i = 1; i <= N; i++) h[I[i]] = std::max(h[I[i]], std::fabs(x[i] - X[I[i]]));
    double largest = *std::max_element(h.begin() + 1, h.end());
    for (int j = 1; j <= J; j++)
      h[j] =
          std::isfinite(largest) && largest > 0.0 ? std::max(h[j], std::ldexp(largest, -26)) : 1.0;
    return h;
  }

  // Fewer than M + 1 distinct abscissae xi: the polynomial of lowest degree through the (weighted)
  // mean ordinate at each (Newton's divided differences), as interval 1's coefficients about X[1],
  // and every top coefficient 0, since its degree is below M. All 0 without any point.
  void fit_polynomial_through_means(const std::vector<double>& xi, double* Z) const {
    const int k = static_cast<int>(xi.size());
    double d[max_size] = {}, count[max_size] = {};
    for (int i = 1; i <= N; i++) {
      if (w != nullptr && w[i] == 0.0) continue;
      int p = static_cast<int>(std::find(xi.begin(), xi.end(), x[i]) - xi.begin());
      d[p] += w != nullptr ? w[i] * y[i] : y[i];
      count[p] += w != nullptr ? w[i] : 1.0;
    }
    for (int p = 0; p < k; p++) d[p] /= count[p];
    for (int level = 1; level < k; level++)
      for (int p = k - 1; p >= level; p--) d[p] = (d[p] - d[p - 1]) / (xi[p] - xi[p - level]);
    // Horner on the Newton form in s = t - X[1]: q <- q (s - (xi[p] - X[1])) + d[p].
    double q[max_size] = {};
    for (int p = k - 1; p >= 0; p--) {
      double e = xi[p] - X[1];
      for (int m = M; m >= 1; m--) q[m] = q[m - 1] - e * q[m];
      q[0] = d[p] - e * q[0];
    }
    for (int m = 0; m <= M; m++) Z[1 + m] = q[m];
    for (int j = 2; j <= J; j++) Z[M + j] = 0.0;
  }

  // The covariance of the scaled coefficients of every interval, over sigma^2, from the factor R of
  // interval 1 and the split-off rows: a_1 = R^-1 d, and a_j = G_j a_{j-1} + beta_j e_M / rho_j
  // with G_j the first M rows of the shift and the row -r / rho_j, where d and every beta_j are
  // distinct components of Q^T y, independent with variance sigma^2. So C_1 = R^-1 R^-T and C_j =
  // G_j C_{j-1} G_j^T + e_M e_M^T / rho_j^2: O(J M^3).
  std::vector<double> covariances(const Triangle& R, const std::vector<double>& split,
                                  const std::vector<double>& h) const {
    const int n = M + 1, width = n + 2;
    std::vector<double> C(static_cast<std::size_t>(J) * n * n, 0.0);
    double Rinv[max_size][max_size] = {};
    for (int k = M; k >= 0; k--) {  // columns of R^-1 by back substitution
      if (R[k][k] == 0.0) return {};
      Rinv[k][k] = 1.0 / R[k][k];
      for (int l = k - 1; l >= 0; l--) {
        double s = 0.0;
        for (int m = l + 1; m <= k; m++) s += R[l][m] * Rinv[m][k];
        Rinv[l][k] = -s / R[l][l];
      }
    }
    for (int a = 0; a < n; a++)
      for (int b = 0; b < n; b++)
        for (int k = std::max(a, b); k < n; k++) C[a * n + b] += Rinv[a][k] * Rinv[b][k];
    Triangle S = {}, G = {};
    for (int j = 2; j <= J; j++) {
      scaled_shift(j, h, S);
      const double* row = &split[static_cast<std::size_t>(j) * width];
      if (row[0] == 0.0) return {};
      for (int m = 0; m <= M; m++) {
        for (int l = 0; l < M; l++) G[l][m] = S[l][m];
        G[M][m] = -row[1 + m] / row[0];
      }
      const double* before = &C[static_cast<std::size_t>(j - 2) * n * n];
      double* now = &C[static_cast<std::size_t>(j - 1) * n * n];
      double GC[max_size][max_size] = {};
      for (int a = 0; a < n; a++)
        for (int b = 0; b < n; b++)
          for (int k = 0; k < n; k++) GC[a][b] += G[a][k] * before[k * n + b];
      for (int a = 0; a < n; a++)
        for (int b = 0; b < n; b++)
          for (int k = 0; k < n; k++) now[a * n + b] += GC[a][k] * G[b][k];
      now[M * n + M] += 1.0 / (row[0] * row[0]);
    }
    return C;
  }

  // One elimination over the blocks, from interval J down to 1, with each jump penalty pulling
  // towards the jump between the scaled top coefficients top[j - 1] and top[j]; then back
  // substitution. Writes the solution to Z and its scaled top coefficients to top and, when
  // covariance is given, the coefficients' covariances to it.
  void solve(const std::vector<Block>& blocks, const std::vector<double>& h,
             std::vector<double>& top, double* Z, std::vector<double>* covariance = nullptr) const {
    const int n = M + 1, width = n + 2;
    // Per interval j >= 2, the split-off row (rho, r[0..M], beta): rho w + r . a_{j-1} = beta for
    // the scaled top coefficient w of interval j.
    std::vector<double> split(static_cast<std::size_t>(J + 1) * width, 0.0);
    Triangle R = {}, S = {};
    double d[max_size] = {};
    for (int j = J; j >= 1; j--) {
      for (int k = 0; k < n; k++) {
        double v[max_size] = {};
        for (int l = k; l < n; l++) v[l] = blocks[j].R[k][l];
        rotate_in(R, d, n, v, blocks[j].d[k]);
      }
      if (j == 1) break;

      // Columns (w, a_{j-1}[0..M]): the factor's rows in these variables, then the jump row.
      scaled_shift(j, h, S);
      Triangle T = {};
      double e[max_size] = {}, g[max_size];
      for (int k = 0; k < n; k++) {
        g[0] = R[k][M];
        for (int m = 0; m <= M; m++) {
          double s = 0.0;
          for (int l = k; l < M && l <= m; l++) s += R[k][l] * S[l][m];
          g[1 + m] = s;
        }
        rotate_in(T, e, n + 1, g, d[k]);
      }
      double narrower = std::min(h[j], h[j - 1]);
      double right = jump_weight * std::pow(narrower / h[j], M);
      double left = jump_weight * std::pow(narrower / h[j - 1], M);
      std::fill(g, g + max_size, 0.0);
      g[0] = right;
      g[1 + M] = -left;
      rotate_in(T, e, n + 1, g, right * top[j] - left * top[j - 1]);

      double* row = &split[static_cast<std::size_t>(j) * width];
      for (int l = 0; l <= n; l++) row[l] = T[0][l];
      row[n + 1] = e[0];
      for (int k = 0; k < n; k++) {
        for (int l = 0; l < n; l++) R[k][l] = T[k + 1][l + 1];
        d[k] = e[k + 1];
      }
    }

    if (covariance != nullptr) *covariance = covariances(R, split, h);
    // Back substitution: interval 1, then each top coefficient from its split-off row.
    double a[max_size] = {}, next[max_size] = {};
    for (int k = M; k >= 0; k--) {
      double s = d[k];
      for (int l = k + 1; l <= M; l++) s -= R[k][l] * a[l];
      a[k] = R[k][k] != 0.0 ? s / R[k][k] : 0.0;  // guard only: the penalty rows prevent 0
    }
    for (int m = 0; m <= M; m++) Z[1 + m] = a[m] / std::pow(h[1], m);
    top[1] = a[M];
    for (int j = 2; j <= J; j++) {
      scaled_shift(j, h, S);
      const double* row = &split[static_cast<std::size_t>(j) * width];
      double s = row[n + 1];
      for (int m = 0; m <= M; m++) s -= row[1 + m] * a[m];
      double top_j = row[0] != 0.0 ? s / row[0] : 0.0;
      for (int l = 0; l < M; l++) {
        next[l] = 0.0;
        for (int m = l; m <= M; m++) next[l] += S[l][m] * a[m];
      }
      next[M] = top_j;
      std::copy(next, next + n, a);
      Z[M + j] = top_j / std::pow(h[j], M);
      top[j] = top_j;
    }
  }
};

}  // namespace

Solution solve(const Problem& p) { return Context(p).exact_solution(); }

Solution Context::exact_solution() const {
  Solution solution;
  solution.M = M;
  solution.J = J;
  solution.knots.assign(X, X + J + 2);
  solution.Z.assign(static_cast<std::size_t>(NN) + 1, 0.0);
  double* Z = solution.Z.data();
  const int n = M + 1;
  std::vector<double> abscissae;  // up to M + 1 distinct ones
  for (int i = 1; i <= N && static_cast<int>(abscissae.size()) < n; i++)
    if ((w == nullptr || w[i] > 0.0) &&
        std::find(abscissae.begin(), abscissae.end(), x[i]) == abscissae.end())
      abscissae.push_back(x[i]);
  if (static_cast<int>(abscissae.size()) < n) {
    fit_polynomial_through_means(abscissae, Z);
    return solution;
  }

  solution.h = interval_scales();
  const std::vector<double>& h = solution.h;
  std::vector<Block> blocks(static_cast<std::size_t>(J) + 1, Block{});
  // Point i's row: the powers of its scaled abscissa, scaled by the square root of its weight;
  // false for a point of weight 0, which adds nothing.
  auto row_of = [&](int i, double* v, double& rhs) {
    if (w != nullptr && !(w[i] > 0.0)) return false;
    double u = (x[i] - X[I[i]]) / h[I[i]];
    v[0] = 1.0;
    for (int m = 1; m <= M; m++) v[m] = v[m - 1] * u;
    rhs = y[i];
    if (w != nullptr) {
      const double root = std::sqrt(w[i]);
      for (int m = 0; m <= M; m++) v[m] *= root;
      rhs = root * y[i];
    }
    return true;
  };
  // Points whose intervals never go back are cut into runs of whole intervals, max_lanes runs
  // per core; a thread takes the next point of each of its runs at once (different runs fill
  // different blocks). Each block still takes its rows in order, from one thread: the bits of
  // the serial loop over the points.
  bool ascending = true;
  for (int i = 2; i <= N && ascending; i++) ascending = I[i - 1] <= I[i];
  const int shares = !ascending || N < (1 << 16) ? 1
                     : threads > 0               ? threads
                                                 : int(std::thread::hardware_concurrency());
  const int runs = ascending ? shares * max_lanes : 1;
  std::vector<int> cuts = {1};  // run r holds the points cuts[r]..cuts[r + 1] - 1
  for (int r = 1; r < runs; r++) {
    int i = std::max(cuts.back(), 1 + static_cast<int>(static_cast<long long>(N) * r / runs));
    while (i <= N && I[i] == I[i - 1]) i++;
    cuts.push_back(i);
  }
  cuts.push_back(N + 1);
  auto rotate_share = [&](int share) {
    const int first = share * runs / shares, last = (share + 1) * runs / shares;
    int next[max_lanes];
    for (int r = first; r < last; r++) next[r - first] = cuts[static_cast<std::size_t>(r)];
    for (;;) {
      Block* b[max_lanes];
      double v[max_lanes][max_size], rhs[max_lanes];
      int count = 0;
      for (int r = first; r < last; r++) {
        int& i = next[r - first];
        while (i < cuts[static_cast<std::size_t>(r) + 1] && !row_of(i, v[count], rhs[count])) i++;
        if (i < cuts[static_cast<std::size_t>(r) + 1]) b[count++] = &blocks[I[i++]];
      }
      if (count == 0) return;
      rotate_in_lanes(b, v, rhs, count, n);
    }
  };
  std::vector<std::thread> workers;
  for (int t = 1; t < shares; t++) workers.emplace_back(rotate_share, t);
  rotate_share(0);
  for (std::thread& worker : workers) worker.join();
  std::vector<double> top(static_cast<std::size_t>(J) + 1, 0.0);
  for (int pass = 0; pass < passes; pass++)
    solve(blocks, h, top, Z, pass == passes - 1 ? &solution.covariance : nullptr);
  return solution;
}

double Solution::variance_factor(int j, double t) const {
  const int n = M + 1;
  const double* C = &covariance[static_cast<std::size_t>(j - 1) * n * n];
  double u = (t - knots[static_cast<std::size_t>(j)]) / h[static_cast<std::size_t>(j)], v[max_size];
  v[0] = 1.0;
  for (int m = 1; m <= M; m++) v[m] = v[m - 1] * u;
  double sum = 0.0;
  for (int a = 0; a < n; a++)
    for (int b = 0; b < n; b++) sum += v[a] * C[a * n + b] * v[b];
  return sum;
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
double Statistics::quantile(double level) const {
  using namespace boost::math;
  const double p = 0.5 + 0.5 * level;
  if (weights == Weights::sigmas) return boost::math::quantile(normal(), p);
  return dof() > 0 ? boost::math::quantile(students_t(dof()), p) : NAN;
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

int Spline::interval_of(double t, int hint) const {
  const double* X = solution_.knots.data() + 1;  // X[0..J]
  const int J = solution_.J;
  if (hint > 0 && hint < J && X[hint] <= t && (hint == J - 1 || t < X[hint + 1])) return hint;
  if (hint + 1 < J && X[hint + 1] <= t && (hint + 1 == J - 1 || t < X[hint + 2])) return hint + 1;
  return static_cast<int>(std::upper_bound(X + 1, X + J, t) - (X + 1));
}

double Spline::evaluate(int j, double t, int order) const {
  const double* a = &c_[static_cast<std::size_t>(j) * 4];
  const double d = t - solution_.knots[static_cast<std::size_t>(j) + 1];
  double sum = 0.0;
  for (int m = solution_.M; m >= order; m--) {  // Horner on the order-th derivative
    double factor = 1.0;
    for (int k = 0; k < order; k++) factor *= m - k;
    sum = sum * d + factor * a[m];
  }
  return sum;
}

double Spline::value(double t, int order) const { return evaluate(interval_of(t), t, order); }

double Spline::integral(double t) const {
  const int j = interval_of(t);
  const double* a = &c_[static_cast<std::size_t>(j) * 4];
  const double d = t - solution_.knots[static_cast<std::size_t>(j) + 1];
  double sum = 0.0;
  for (int m = solution_.M; m >= 0; m--) sum = sum * d + a[m] / (m + 1);
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
  if (statistics_.rank < statistics_.parameters || solution_.covariance.empty()) return NAN;
  const double scale = statistics_.weights == Weights::sigmas ? 1.0 : statistics_.sigma();
  return scale * std::sqrt(solution_.variance_factor(interval_of(t) + 1, t));
}

std::pair<double, double> Spline::confidence_limits(double t, double level) const {
  const double s = value(t), margin = statistics_.quantile(level) * standard_error(t);
  return {s - margin, s + margin};
}

namespace {

// Throws SplineError with `what` unless `rule` holds.
void require(bool rule, const std::string& what) {
  if (!rule) throw SplineError("lsq::fit: " + what);
}

}  // namespace

// The common part of both fits: the points in the ascending order `order` of their abscissae,
// the knots (automatic ones when intervals > 0), the assignment, the solve, the coefficients of
// every interval, their integrals and the statistics.
Spline fit_on(std::vector<double> order, std::span<const double> x, std::span<const double> y,
              std::span<const double> w, Weights kind, int degree, std::vector<double> knots,
              int intervals) {
  const std::size_t n = x.size();
  std::vector<double> xs(n + 1), ys(n + 1), ws(w.empty() ? 0 : n + 1);
  for (std::size_t i = 0; i < n; i++) {
    std::size_t k = static_cast<std::size_t>(order[i]);
    xs[i + 1] = x[k];
    ys[i + 1] = y[k];
    if (!w.empty()) ws[i + 1] = kind == Weights::sigmas ? 1.0 / (w[k] * w[k]) : w[k];
  }
  std::vector<int> I(n + 1, 1);
  if (intervals > 0) {  // splinefit's automatic placement
    knots.assign(static_cast<std::size_t>(intervals) + 1, 0.0);
    const double NJ = static_cast<double>(n) / intervals;
    knots.front() = xs[1];
    for (int j = 1, ia = 1; j <= intervals; j++) {
      int iz = static_cast<int>(std::round(j * NJ));
      for (int i = ia; i <= iz; i++) I[static_cast<std::size_t>(i)] = j;
      ia = iz + 1;
      if (j < intervals) knots[static_cast<std::size_t>(j)] = 0.5 * (xs[iz] + xs[iz + 1]);
    }
    knots.back() = xs[n];
  } else {
    for (std::size_t i = 1; i <= n; i++)
      I[i] = 1 + static_cast<int>(std::upper_bound(knots.begin() + 1, knots.end() - 1, xs[i]) -
                                  (knots.begin() + 1));
  }
  Spline s;
  const int J = static_cast<int>(knots.size()) - 1;
  knots.insert(knots.begin(), 0.0);  // 1-based
  Problem p{degree,    J,           static_cast<int>(n),
            xs.data(), ys.data(),   ws.empty() ? nullptr : ws.data(),
            I.data(),  knots.data()};
  s.solution_ = solve(p);
  s.statistics_ = describe(p, kind);
  // Interval 1 from Z[1..M+1]; interval j from interval j - 1 by the Taylor shift across its
  // width, with its own top coefficient Z[M + j].
  s.c_.assign(static_cast<std::size_t>(J) * 4, 0.0);
  s.integrals_.assign(static_cast<std::size_t>(J) + 1, 0.0);
  const std::vector<double>& Z = s.solution_.Z;
  for (int m = 0; m <= degree; m++)
    s.c_[static_cast<std::size_t>(m)] = Z[static_cast<std::size_t>(m) + 1];
  for (int j = 1; j <= J; j++) {
    const double* a = &s.c_[static_cast<std::size_t>(j - 1) * 4];
    const double d = knots[static_cast<std::size_t>(j) + 1] - knots[static_cast<std::size_t>(j)];
    double area = 0.0;
    for (int m = degree; m >= 0; m--) area = area * d + a[m] / (m + 1);
    s.integrals_[static_cast<std::size_t>(j)] =
        s.integrals_[static_cast<std::size_t>(j) - 1] + area * d;
    if (j == J) break;
    double* next = &s.c_[static_cast<std::size_t>(j) * 4];
    static const double binom[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
    for (int l = 0; l < degree; l++)
      for (int m = l; m <= degree; m++) next[l] += binom[m][l] * std::pow(d, m - l) * a[m];
    next[degree] = Z[static_cast<std::size_t>(degree + j + 1)];
  }
  double largest = -1.0;
  for (int i = 1; i <= p.N; i++) {
    const double r = s.value(xs[static_cast<std::size_t>(i)]) - ys[static_cast<std::size_t>(i)];
    s.statistics_.RSS += ws.empty() ? r * r : ws[static_cast<std::size_t>(i)] * (r * r);
    if (std::fabs(r) > largest) {
      largest = std::fabs(r);
      s.statistics_.max_residual = largest;
      s.statistics_.at = xs[static_cast<std::size_t>(i)];
    }
  }
  return s;
}

namespace {

// Checks the points and weights and returns the order of ascending abscissae (stable).
std::vector<double> checked_order(std::span<const double> x, std::span<const double> y,
                                  std::span<const double> w, Weights kind, int degree) {
  require(degree == 2 || degree == 3, "the degree must be 2 or 3, not " + std::to_string(degree));
  require(x.size() == y.size(),
          "x holds " + std::to_string(x.size()) + " values but y " + std::to_string(y.size()));
  require(w.empty() || w.size() == x.size(), "w holds " + std::to_string(w.size()) +
                                                 " values for " + std::to_string(x.size()) +
                                                 " points");
  require(kind == Weights::none || !w.empty(), "weights of a kind but no weights");
  for (std::size_t k = 0; k < x.size(); k++) {
    require(std::isfinite(x[k]) && std::isfinite(y[k]),
            "point " + std::to_string(k) + " is not finite");
    if (w.empty()) continue;
    require(std::isfinite(w[k]) && (kind == Weights::sigmas ? w[k] > 0.0 : w[k] >= 0.0),
            "the weight of point " + std::to_string(k) +
                (kind == Weights::sigmas ? " is not a standard deviation above 0"
                                         : " is not a finite number of at least 0"));
    require(kind != Weights::sigmas || std::isfinite(1.0 / (w[k] * w[k])),
            "the standard deviation of point " + std::to_string(k) + " is too small to square");
  }
  std::vector<std::size_t> index(x.size());
  std::iota(index.begin(), index.end(), std::size_t{0});
  std::stable_sort(index.begin(), index.end(),
                   [&x](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  double first = NAN;
  bool two = false;
  for (std::size_t k : index) {
    if (!w.empty() && w[k] == 0.0) continue;
    if (std::isnan(first)) first = x[k];
    two = two || x[k] != first;
  }
  require(two, "the points (of weight above 0) need two different abscissae at least");
  return std::vector<double>(index.begin(), index.end());
}

}  // namespace

Spline fit(std::span<const double> x, std::span<const double> y, int degree,
           std::span<const double> knots, std::span<const double> w, Weights kind) {
  std::vector<double> order = checked_order(x, y, w, kind, degree);
  require(knots.size() >= 2, "at least 2 knots are needed");
  for (std::size_t k = 0; k < knots.size(); k++)
    require(std::isfinite(knots[k]) && (k == 0 || knots[k - 1] < knots[k]),
            "knot " + std::to_string(k) + " is not finite and above the knot before it");
  return fit_on(std::move(order), x, y, w, kind, degree, {knots.begin(), knots.end()}, 0);
}

Spline fit(std::span<const double> x, std::span<const double> y, int degree, int intervals,
           std::span<const double> w, Weights kind) {
  std::vector<double> order = checked_order(x, y, w, kind, degree);
  require(intervals >= 1 && static_cast<std::size_t>(intervals) < 2 * x.size(),
          "the number of intervals must be from 1 to below twice the number of points");
  return fit_on(std::move(order), x, y, w, kind, degree, {}, intervals);
}

}  // namespace lsq
