#include "ExactFit.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Model.hpp"

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

// Rotates the row (v, rhs) into the upper-triangular n x n factor (R, d); v is overwritten.
// Afterwards R^T R and R^T d have grown by v v^T and v rhs.
void rotate_in(Triangle& R, double* d, int n, double* v, double rhs) {
  for (int k = 0; k < n; k++) {
    if (v[k] == 0.0) continue;
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
}

// S[l][m] (l < M, m <= M): scaled coefficient l of interval j from scaled coefficient m of
// interval j - 1, binom(m, l) (delta[j-1] / h[j-1])^(m-l) (h[j] / h[j-1])^l.
void scaled_shift(int j, const std::vector<double>& h, Triangle& S) {
  static const double binom[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
  double rd = std::fabs(delta[j - 1]) / h[j - 1], rh = h[j] / h[j - 1];
  double pd[4] = {1.0, rd, rd * rd, rd * rd * rd};
  double ph[4] = {1.0, rh, rh * rh, rh * rh * rh};
  for (int l = 0; l < M; l++)
    for (int m = 0; m <= M; m++) S[l][m] = m < l ? 0.0 : binom[m][l] * pd[m - l] * ph[l];
}

// The scale h[1..J] of every interval (see the comment at the top), floored at 2^-26 times the
// largest so that no ratio of neighbouring scales overflows; all 1 when every scale is 0.
std::vector<double> interval_scales() {
  std::vector<double> h(static_cast<std::size_t>(J) + 1, 0.0);
  for (int j = 1; j <= J; j++) h[j] = std::fabs(delta[j]);
  for (int i = 1; i <= N; i++) h[I[i]] = std::max(h[I[i]], std::fabs(x[i] - X[I[i]]));
  double largest = *std::max_element(h.begin() + 1, h.end());
  for (int j = 1; j <= J; j++)
    h[j] = std::isfinite(largest) && largest > 0.0 ? std::max(h[j], std::ldexp(largest, -26)) : 1.0;
  return h;
}

// Fewer than M + 1 distinct abscissae xi: the polynomial of lowest degree through the (weighted)
// mean ordinate at each (Newton's divided differences), as interval 1's coefficients about X[1], and
// every top coefficient 0, since its degree is below M. All 0 without any point.
void fit_polynomial_through_means(const std::vector<double>& xi, double* Z) {
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

// The rows of one interval's points, compressed: R^T R and R^T d equal their sums.
struct Block {
  Triangle R;
  double d[max_size];
};

// The covariance of the scaled coefficients of every interval, over sigma^2, from the factor R of
// interval 1 and the split-off rows: a_1 = R^-1 d, and a_j = G_j a_{j-1} + beta_j e_M / rho_j with
// G_j the first M rows of the shift and the row -r / rho_j, where d and every beta_j are distinct
// components of Q^T y, independent with variance sigma^2. So C_1 = R^-1 R^-T and
// C_j = G_j C_{j-1} G_j^T + e_M e_M^T / rho_j^2: O(J M^3).
std::vector<double> covariances(const Triangle& R, const std::vector<double>& split,
                                const std::vector<double>& h) {
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
void solve(const std::vector<Block>& blocks, const std::vector<double>& h, std::vector<double>& top,
           double* Z, std::vector<double>* covariance = nullptr) {
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
  double a[max_size], next[max_size];
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
    double w = row[0] != 0.0 ? s / row[0] : 0.0;
    for (int l = 0; l < M; l++) {
      next[l] = 0.0;
      for (int m = l; m <= M; m++) next[l] += S[l][m] * a[m];
    }
    next[M] = w;
    std::copy(next, next + n, a);
    Z[M + j] = w / std::pow(h[j], M);
    top[j] = w;
  }
}

}  // namespace

ExactSolution exact_solution() {
  ExactSolution solution;
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
  for (int i = 1; i <= N; i++) {
    Block& b = blocks[I[i]];
    double u = (x[i] - X[I[i]]) / h[I[i]], v[max_size];
    v[0] = 1.0;
    for (int m = 1; m <= M; m++) v[m] = v[m - 1] * u;
    if (w == nullptr) {
      rotate_in(b.R, b.d, n, v, y[i]);
    } else if (w[i] > 0.0) {  // the row scaled by the square root of its weight
      const double root = std::sqrt(w[i]);
      for (int m = 0; m <= M; m++) v[m] *= root;
      rotate_in(b.R, b.d, n, v, root * y[i]);
    }
  }
  std::vector<double> top(static_cast<std::size_t>(J) + 1, 0.0);
  for (int pass = 0; pass < passes; pass++)
    solve(blocks, h, top, Z, pass == passes - 1 ? &solution.covariance : nullptr);
  return solution;
}

double ExactSolution::variance_factor(int j, double t) const {
  const int n = M + 1;
  const double* C = &covariance[static_cast<std::size_t>(j - 1) * n * n];
  double u = (t - X[j]) / h[j], v[max_size];
  v[0] = 1.0;
  for (int m = 1; m <= M; m++) v[m] = v[m - 1] * u;
  double sum = 0.0;
  for (int a = 0; a < n; a++)
    for (int b = 0; b < n; b++) sum += v[a] * C[a * n + b] * v[b];
  return sum;
}

int least_squares_rank(std::vector<int>* undetermined) {
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
