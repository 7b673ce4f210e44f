#include "reference.hpp"

#include <algorithm>
#include <cmath>

namespace reference {
namespace {

// Derivative `order` of B_i of degree p at u on the knots t, by the recurrences on the degree
// (0 / 0 taken as 0).
Real bspline(const std::vector<Real>& t, int i, int p, Real u, int order = 0) {
  if (p == 0) return order == 0 && t[i] <= u && u < t[i + 1] ? 1 : 0;
  Real left = 0, right = 0, a = t[i + p] - t[i], b = t[i + p + 1] - t[i + 1];
  if (order > 0) {
    if (a != 0) left = p / a * bspline(t, i, p - 1, u, order - 1);
    if (b != 0) right = p / b * bspline(t, i + 1, p - 1, u, order - 1);
    return left - right;
  }
  if (a != 0) left = (u - t[i]) / a * bspline(t, i, p - 1, u);
  if (b != 0) right = (t[i + p + 1] - u) / b * bspline(t, i + 1, p - 1, u);
  return left + right;
}

// Householder QR with column pivoting, A P = Q R: A becomes R and b Q^T b. Returns the rank at a
// relative tolerance of 1e-16.
int pivoted_qr(Matrix& A, std::vector<Real>& b, std::vector<int>& perm) {
  const int m = static_cast<int>(A.size()), n = static_cast<int>(A[0].size());
  perm.resize(n);
  for (int j = 0; j < n; j++) perm[j] = j;
  Real first = -1;
  int k = 0;
  for (; k < std::min(m, n); k++) {
    int best = k;
    std::vector<Real> norms(n, 0);
    for (int j = k; j < n; j++)
      for (int i = k; i < m; i++) norms[j] += A[i][j] * A[i][j];
    for (int j = k; j < n; j++) best = norms[j] > norms[best] ? j : best;
    const Real norm = std::sqrt(norms[best]);
    if (first < 0) first = norm;
    if (!(norm > 1e-16L * first)) break;
    for (auto& row : A) std::swap(row[k], row[best]);
    std::swap(perm[k], perm[best]);
    std::vector<Real> v(m, 0);
    for (int i = k; i < m; i++) v[i] = A[i][k];
    v[k] += A[k][k] > 0 ? norm : -norm;
    Real vv = 0;
    for (int i = k; i < m; i++) vv += v[i] * v[i];
    auto reflect = [&](auto at) {
      Real s = 0;
      for (int i = k; i < m; i++) s += v[i] * at(i);
      for (int i = k; i < m; i++) at(i) -= 2 * s / vv * v[i];
    };
    for (int j = k; j < n; j++) reflect([&](int i) -> Real& { return A[i][j]; });
    reflect([&](int i) -> Real& { return b[i]; });
  }
  return k;
}

// The solution of the factored system with the free (pivoted) variables r..n-1 set to f.
std::vector<Real> solution(const Matrix& R, const std::vector<Real>& qb,
                           const std::vector<int>& perm, int r, const std::vector<Real>& f) {
  const int n = static_cast<int>(perm.size());
  std::vector<Real> z(n, 0), a(n);
  for (int j = r; j < n; j++) z[j] = f[j - r];
  for (int i = r - 1; i >= 0; i--) {
    Real s = qb[i];
    for (int j = i + 1; j < n; j++) s -= R[i][j] * z[j];
    z[i] = s / R[i][i];
  }
  for (int j = 0; j < n; j++) a[perm[j]] = z[j];
  return a;
}

}  // namespace

Real Spline::value(Real at, int order) const {
  Real s = 0;
  for (std::size_t i = 0; i < coefficients.size(); i++)
    s += coefficients[i] * bspline(t, i, M, at, order);
  return s;
}

Real Spline::variance(Real at) const {  // |R^-T P^T b|^2
  const std::size_t n = coefficients.size();
  std::vector<Real> z(n);
  for (std::size_t i = 0; i < n; i++) {
    Real s = bspline(t, perm[i], M, at);
    for (std::size_t j = 0; j < i; j++) s -= R[j][i] * z[j];
    z[i] = s / R[i][i];
  }
  Real sum = 0;
  for (Real v : z) sum += v * v;
  return sum;
}

Spline fit(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w,
           int M, const std::vector<double>& X) {
  std::vector<Real> breaks;
  std::vector<int> count;
  for (std::size_t j = 1; j + 1 < X.size(); j++)
    if (!breaks.empty() && breaks.back() == X[j])
      count.back()++;
    else
      breaks.push_back(X[j]), count.push_back(1);
  const Real lo = std::min<Real>(X.front(), *std::min_element(x.begin(), x.end()));
  const Real hi = std::max<Real>(X.back(), *std::max_element(x.begin(), x.end()));
  // The ends beyond every point and knot by the width of the piece beside them.
  const Real low = std::min(lo, breaks.empty() ? lo : breaks.front());
  const Real high = std::max(hi, breaks.empty() ? hi : breaks.back());
  const Real before =
      low - std::max((breaks.empty() ? high : breaks.front()) - low, (high - low) / 1024);
  const Real after =
      high + std::max(high - (breaks.empty() ? low : breaks.back()), (high - low) / 1024);
  Spline s;
  s.M = M;
  s.t.assign(M + 1, before);
  s.t.insert(s.t.end(), breaks.begin(), breaks.end());
  s.t.insert(s.t.end(), M + 1, after);
  const int n = static_cast<int>(s.t.size()) - M - 1, m = static_cast<int>(x.size());
  s.R.assign(m, std::vector<Real>(n));
  std::vector<Real> qb(m);
  for (int i = 0; i < m; i++) {
    const Real root = w.empty() ? 1 : std::sqrt(static_cast<Real>(w[i]));
    for (int k = 0; k < n; k++) s.R[i][k] = root * bspline(s.t, k, M, x[i]);
    qb[i] = root * y[i];
  }
  const int r = s.rank = pivoted_qr(s.R, qb, s.perm);
  s.coefficients = solution(s.R, qb, s.perm, r, std::vector<Real>(n - r, 0));
  if (r == n) return s;
  // Minimise |P (a + N f)| over f, N the null-space basis, P the weighted jumps of the M-th
  // derivative (constant on each piece, so taken mid-piece) at the breaks; then a + N f.
  const int L = static_cast<int>(breaks.size());
  Matrix PN(L, std::vector<Real>(n - r, 0));
  std::vector<Real> rhs(L, 0), zero(n, 0);
  std::vector<std::vector<Real>> null(n - r);
  for (int c = 0; c < n - r; c++) {
    std::vector<Real> f(n - r, 0);
    f[c] = 1;
    null[c] = solution(s.R, zero, s.perm, r, f);
  }
  for (int q = 0; q < L; q++) {
    const Real a0 = q == 0 ? before : breaks[q - 1], b1 = q + 1 == L ? after : breaks[q + 1];
    const Real left = breaks[q] - (q == 0 ? lo : a0), right = (q + 1 == L ? hi : b1) - breaks[q];
    const Real h = left > 0 && right > 0 ? std::min(left, right) : std::max(left, right);
    const Real scale = std::pow(h, M) / std::sqrt(static_cast<Real>(count[q]));
    for (int k = 0; k < n; k++) {
      const Real p = scale * (bspline(s.t, k, M, (breaks[q] + b1) / 2, M) -
                              bspline(s.t, k, M, (a0 + breaks[q]) / 2, M));
      rhs[q] -= p * s.coefficients[k];
      for (int c = 0; c < n - r; c++) PN[q][c] += p * null[c][k];
    }
  }
  std::vector<int> perm;
  const int used = pivoted_qr(PN, rhs, perm);
  const std::vector<Real> f = solution(PN, rhs, perm, used, std::vector<Real>(n - r - used, 0));
  for (int c = 0; c < n - r; c++)
    for (int k = 0; k < n; k++) s.coefficients[k] += f[c] * null[c][k];
  return s;
}

RobustSpline robust_fit(const std::vector<double>& x, const std::vector<double>& y,
                        const std::vector<double>& w, int M, const std::vector<double>& X,
                        bool bisquare) {
  const Real c = bisquare ? 4.685L : 1.345L;
  auto psi = [&](Real u, bool slope) -> Real {  // psi(u), or psi'(u)
    const Real v = 1 - u * u / (c * c);
    if (bisquare) return std::fabs(u) >= c ? 0 : slope ? v * (1 - 5 * u * u / (c * c)) : u * v * v;
    return slope ? Real(std::fabs(u) <= c) : std::max(-c, std::min(c, u));
  };
  const std::size_t n = x.size();
  std::vector<Real> prior(n, 1), u(n);
  for (std::size_t i = 0; i < w.size(); i++) prior[i] = w[i];
  RobustSpline r;
  r.least_squares = r.curve = fit(x, y, w, M, X);
  const Real largest = std::fabs(*std::max_element(
      y.begin(), y.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); }));
  for (int step = 0; step <= 200; step++) {
    std::vector<Real> a;
    for (std::size_t i = 0; i < n; i++)
      if (prior[i] > 0) a.push_back(std::sqrt(prior[i]) * std::fabs(y[i] - r.curve.value(x[i])));
    std::sort(a.begin(), a.end());
    r.scale = (a[(a.size() - 1) / 2] + a[a.size() / 2]) / 2 / 0.6744897501960817L;
    r.weights.assign(n, 1);
    std::vector<double> next(n);
    for (std::size_t i = 0; i < n; i++) {
      u[i] = std::sqrt(prior[i]) * (y[i] - r.curve.value(x[i])) / r.scale;
      r.weights[i] = u[i] == 0 ? 1 : psi(u[i], false) / u[i];
      next[i] = static_cast<double>(prior[i] * r.weights[i]);
    }
    const Spline moved = fit(x, y, next, M, X);
    Real most = 0;
    for (std::size_t i = 0; i < n; i++)
      most = std::max(most, std::fabs(moved.value(x[i]) - r.curve.value(x[i])));
    if (most <= 1e-12L * largest) break;
    r.curve = moved;
  }
  Real count = 0, psi2 = 0, slopes = 0, spread = 0;
  for (std::size_t i = 0; i < n; i++)
    if (prior[i] > 0)
      count++, psi2 += psi(u[i], false) * psi(u[i], false), slopes += psi(u[i], true);
  const Real mean = slopes / count, p = r.least_squares.rank;
  for (std::size_t i = 0; i < n; i++)
    if (prior[i] > 0) spread += (psi(u[i], true) - mean) * (psi(u[i], true) - mean);
  const Real K = 1 + p / count * (spread / count) / (mean * mean);
  r.band_factor = K * K * psi2 / (count - p) * r.scale * r.scale / (mean * mean);
  return r;
}

}  // namespace reference
