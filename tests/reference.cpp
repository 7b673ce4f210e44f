#include "reference.hpp"

#include <algorithm>
#include <cmath>

namespace reference {
namespace {

using Matrix = std::vector<std::vector<Real>>;

// B_i of degree p at u on the knots t, by the recurrence on degree (0 / 0 taken as 0).
Real bspline(const std::vector<Real>& t, int i, int p, Real u) {
  if (p == 0) return t[i] <= u && u < t[i + 1] ? 1 : 0;
  Real left = 0, right = 0;
  if (t[i + p] != t[i]) left = (u - t[i]) / (t[i + p] - t[i]) * bspline(t, i, p - 1, u);
  if (t[i + p + 1] != t[i + 1])
    right = (t[i + p + 1] - u) / (t[i + p + 1] - t[i + 1]) * bspline(t, i + 1, p - 1, u);
  return left + right;
}

// Householder QR with column pivoting of A (rows x columns): A P = Q R. Returns the rank at a
// relative tolerance of 1e-12; A becomes R (upper part) and the reflectors are applied to b.
int pivoted_qr(Matrix& A, std::vector<Real>& b, std::vector<int>& perm) {
  const int m = static_cast<int>(A.size()), n = static_cast<int>(A[0].size());
  perm.resize(n);
  for (int j = 0; j < n; j++) perm[j] = j;
  Real first = -1;
  int k = 0;
  for (; k < std::min(m, n); k++) {
    int best = k;
    Real most = -1;
    for (int j = k; j < n; j++) {
      Real s = 0;
      for (int i = k; i < m; i++) s += A[i][j] * A[i][j];
      if (s > most) most = s, best = j;
    }
    if (first < 0) first = std::sqrt(most);
    if (!(std::sqrt(most) > 1e-16L * first)) break;
    for (auto& row : A) std::swap(row[k], row[best]);
    std::swap(perm[k], perm[best]);
    Real norm = std::sqrt(most), alpha = A[k][k] > 0 ? -norm : norm;
    std::vector<Real> v(m, 0);
    for (int i = k; i < m; i++) v[i] = A[i][k];
    v[k] -= alpha;
    Real vv = 0;
    for (int i = k; i < m; i++) vv += v[i] * v[i];
    if (vv == 0) continue;
    for (int j = k; j < n; j++) {
      Real s = 0;
      for (int i = k; i < m; i++) s += v[i] * A[i][j];
      for (int i = k; i < m; i++) A[i][j] -= 2 * s / vv * v[i];
    }
    Real s = 0;
    for (int i = k; i < m; i++) s += v[i] * b[i];
    for (int i = k; i < m; i++) b[i] -= 2 * s / vv * v[i];
  }
  return k;
}

// The least-squares solution of A z = b of full column rank, by the same QR.
std::vector<Real> least_squares(Matrix A, std::vector<Real> b) {
  std::vector<int> perm;
  const int n = static_cast<int>(A[0].size()), r = pivoted_qr(A, b, perm);
  std::vector<Real> z(n, 0), solution(n, 0);
  for (int i = r - 1; i >= 0; i--) {
    Real s = b[i];
    for (int j = i + 1; j < r; j++) s -= A[i][j] * z[j];
    z[i] = s / A[i][i];
  }
  for (int j = 0; j < n; j++) solution[perm[j]] = z[j];
  return solution;
}

}  // namespace

Real Spline::value(Real at) const {
  Real s = 0;
  for (std::size_t i = 0; i < coefficients.size(); i++) s += coefficients[i] * bspline(t, i, M, at);
  return s;
}

Spline fit(const std::vector<double>& x, const std::vector<double>& y,
           const std::vector<double>& w, int M, const std::vector<double>& X) {
  std::vector<Real> breaks;
  std::vector<int> count;
  for (std::size_t j = 1; j + 1 < X.size(); j++) {
    if (!breaks.empty() && breaks.back() == X[j]) {
      count.back()++;
    } else {
      breaks.push_back(X[j]), count.push_back(1);
    }
  }
  Real lo = std::min<Real>(X.front(), *std::min_element(x.begin(), x.end()));
  Real hi = std::max<Real>(X.back(), *std::max_element(x.begin(), x.end()));
  const Real low = std::min(lo, breaks.empty() ? lo : breaks.front());
  const Real high = std::max(hi, breaks.empty() ? hi : breaks.back());
  // The ends beyond every point and knot by the width of the piece beside them, so that every
  // value is a polynomial's and the end pieces are not much wider than their neighbours.
  const Real first = breaks.empty() ? high - low : breaks.front() - low;
  const Real last = breaks.empty() ? high - low : high - breaks.back();
  const Real before = low - std::max(first, (high - low) / 1024);
  const Real after = high + std::max(last, (high - low) / 1024);
  Spline s;
  s.M = M;
  s.t.assign(M + 1, before);
  s.t.insert(s.t.end(), breaks.begin(), breaks.end());
  s.t.insert(s.t.end(), M + 1, after);
  const int n = static_cast<int>(s.t.size()) - M - 1, m = static_cast<int>(x.size());
  Matrix A(m, std::vector<Real>(n));
  std::vector<Real> b(m);
  for (int i = 0; i < m; i++) {
    Real root = w.empty() ? 1 : std::sqrt(static_cast<Real>(w[i]));
    for (int k = 0; k < n; k++) A[i][k] = root * bspline(s.t, k, M, x[i]);
    b[i] = root * y[i];
  }
  std::vector<int> perm;
  Matrix R = A;
  std::vector<Real> qb = b;
  const int r = pivoted_qr(R, qb, perm);
  s.rank = r;
  // Solutions: P [R11^-1 (qb - R12 f); f] for the free part f.
  auto solve_pivots = [&](const std::vector<Real>& rhs, const std::vector<Real>& f) {
    std::vector<Real> z(n, 0);
    for (int j = r; j < n; j++) z[j] = f[j - r];
    for (int i = r - 1; i >= 0; i--) {
      Real sum = rhs[i];
      for (int j = i + 1; j < n; j++) sum -= R[i][j] * z[j];
      z[i] = sum / R[i][i];
    }
    std::vector<Real> a(n);
    for (int j = 0; j < n; j++) a[perm[j]] = z[j];
    return a;
  };
  std::vector<Real> a = solve_pivots(qb, std::vector<Real>(n - r, 0));
  if (r < n) {
    // The jump of the top coefficient at break q, from the M-th divided difference of each
    // B-spline on the pieces beside it.
    auto top = [&](int k, Real from, Real to) {
      std::vector<Real> u(M + 1), d(M + 1);
      for (int p = 0; p <= M; p++) u[p] = from + (to - from) * (p + 1) / (M + 2);
      for (int p = 0; p <= M; p++) d[p] = bspline(s.t, k, M, u[p]);
      for (int level = 1; level <= M; level++)
        for (int p = M; p >= level; p--) d[p] = (d[p] - d[p - 1]) / (u[p] - u[p - level]);
      return d[M];
    };
    const int L = static_cast<int>(breaks.size());
    std::vector<Real> edges = {lo};
    edges.insert(edges.end(), breaks.begin(), breaks.end());
    edges.push_back(hi);
    Matrix P(L, std::vector<Real>(n, 0));
    for (int q = 0; q < L; q++) {
      Real left = edges[q + 1] - edges[q], right = edges[q + 2] - edges[q + 1];
      Real h = left > 0 && right > 0 ? std::min(left, right) : std::max(left, right);
      Real scale = std::pow(h, M) / std::sqrt(static_cast<Real>(count[q]));
      Real a0 = q == 0 ? before : breaks[q - 1];
      Real b1 = q + 1 == L ? after : breaks[q + 1];
      for (int k = 0; k < n; k++)
        P[q][k] = scale * (top(k, breaks[q], b1) - top(k, a0, breaks[q]));
    }
    // Minimise |P (a + N f)| over f, N the null-space basis P [-R11^-1 R12; I].
    Matrix PN(L, std::vector<Real>(n - r, 0));
    std::vector<Real> zero(n, 0), rhs(L, 0);
    for (int c = 0; c < n - r; c++) {
      std::vector<Real> f(n - r, 0);
      f[c] = 1;
      std::vector<Real> column = solve_pivots(zero, f);
      for (int q = 0; q < L; q++)
        for (int k = 0; k < n; k++) PN[q][c] += P[q][k] * column[k];
    }
    for (int q = 0; q < L; q++)
      for (int k = 0; k < n; k++) rhs[q] -= P[q][k] * a[k];
    a = solve_pivots(qb, least_squares(PN, rhs));
  }
  s.coefficients = a;
  return s;
}

}  // namespace reference
