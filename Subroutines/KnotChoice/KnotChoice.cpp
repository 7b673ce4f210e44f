#include "KnotChoice.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "Parallel.hpp"

namespace lsq {
namespace {

// The row of a fit on knots X[1..J+1] with intervals I[1..N]: the exact solve, and its sum of
// squares as lsq::fit sums it (each point on its own interval's polynomial, in point order), so
// that a row's statistics are those of the report of a fit on the same knots. Its criterion is
// GCV with each inner knot counted as knot_cost parameters more: GCV itself for knot_cost 0.
ScanRow row_of(const Problem& p, Weights weights, int J, const double* X, const int* I,
               double knot_cost = 0.0) {
  Problem q = p;
  q.J = J, q.X = X, q.I = I;
  Statistics s;
  s.rank = rank(q);
  const Solution solution = solve(q, s.rank);
  s.weights = weights;
  s.N = s.counted = p.N;
  for (int i = 1; i <= p.N; i++) {
    const double r = polynomial(solution.coefficients(I[i]), p.M, X[I[i]], p.x[i]) - p.y[i];
    s.RSS += p.w != nullptr ? p.w[i] * (r * r) : r * r;
    s.counted -= p.w != nullptr && p.w[i] == 0.0;
  }
  const double n = s.counted, left = n - s.rank - knot_cost * (J - 1);
  return {.J = J,
          .rank = s.rank,
          .RSS = s.RSS,
          .AIC = s.AIC(),
          .BIC = s.BIC(),
          .GCV = s.GCV(),
          .criterion = knot_cost == 0.0 ? s.GCV()
                       : left > 0.0     ? n * s.RSS / (left * left)
                                        : NAN};
}

// The row of least criterion, the first of several equal ones; row 0 when none is defined.
std::size_t least(const std::vector<ScanRow>& rows) {
  std::size_t best = 0;
  for (std::size_t k = 0; k < rows.size(); k++)
    if (!std::isnan(rows[k].criterion) &&
        (std::isnan(rows[best].criterion) || rows[k].criterion < rows[best].criterion))
      best = k;
  return best;
}

// Knots X[1..J+1] 1-based as a plain list, and back.
std::vector<double> plain(const std::vector<double>& X) { return {X.begin() + 1, X.end()}; }

// The numbers of intervals the scan tries: every J up to every_J_up_to, then steps of about
// J_step of J (the largest J included), and afterwards every J between the neighbours of the best.
constexpr int every_J_up_to = 100;
constexpr double J_step = 0.03;

KnotChoice choose_count(const Problem& p, Weights weights, int J) {
  KnotChoice c;
  c.way = Knots::count, c.asked = J, c.largest = std::min(J, 2 * p.N - 1);
  std::vector<int> tried;
  for (int j = 1; j <= c.largest;
       j = j < every_J_up_to ? j + 1 : std::max(j + 1, static_cast<int>(j * (1 + J_step))))
    tried.push_back(j);
  if (tried.back() != c.largest) tried.push_back(c.largest);
  auto scan = [&](const std::vector<int>& Js) {  // the rows of Js, on every core
    std::vector<ScanRow> rows(Js.size());
    const int shares = std::min(static_cast<int>(parallel::threads()), static_cast<int>(Js.size()));
    parallel::run(shares, [&](int k) {
      std::vector<double> X;
      std::vector<int> I(static_cast<std::size_t>(p.N) + 1);
      for (std::size_t n = static_cast<std::size_t>(k); n < Js.size();
           n += static_cast<std::size_t>(shares)) {
        X.assign(static_cast<std::size_t>(Js[n]) + 2, 0.0);
        place_knots_evenly(p.x, p.N, Js[n], X.data(), I.data());
        rows[n] = row_of(p, weights, Js[n], X.data(), I.data());
      }
    });
    return rows;
  };
  c.scan = scan(tried);
  const std::size_t best = least(c.scan);
  if (best > 0 && tried[best] > every_J_up_to) {  // every J between the best's neighbours
    std::vector<int> between;
    const int last = best + 1 < tried.size() ? tried[best + 1] : tried[best];
    for (int j = tried[best - 1] + 1; j < last; j++)
      if (j != tried[best]) between.push_back(j);
    std::vector<ScanRow> more = scan(between);
    c.scan.insert(c.scan.end(), more.begin(), more.end());
    std::sort(c.scan.begin(), c.scan.end(),
              [](const ScanRow& a, const ScanRow& b) { return a.J < b.J; });
  }
  c.chosen = least(c.scan);
  std::vector<double> X(static_cast<std::size_t>(c.scan[c.chosen].J) + 2);
  std::vector<int> I(static_cast<std::size_t>(p.N) + 1);
  place_knots_evenly(p.x, p.N, c.scan[c.chosen].J, X.data(), I.data());
  c.knots = plain(X);
  return c;
}

// The free-knot search: Levenberg-Marquardt steps at most, and the relative fall of the sum of
// squares below which a step ends the search; every J up to every_free_J_up_to, then J growing
// by about free_J_step a step.
constexpr int max_steps = 12;
constexpr double settled_below = 1e-7;
constexpr int every_free_J_up_to = 20;
constexpr double free_J_step = 0.1;

// The free-knot search for the points of p: residuals for given knots, and the Levenberg-Marquardt
// steps on the logarithms of the widths.
class FreeKnots {
 public:
  FreeKnots(const Problem& p, Weights weights) : p_(p), weights_(weights) {}

  // sqrt(w) (y - s(x)) at every point for the least-squares spline on knots X[1..J+1] (1-based),
  // into r[1..N]; returns their sum of squares, in point order.
  double residuals(const std::vector<double>& X, std::vector<double>& r) const {
    const int J = static_cast<int>(X.size()) - 2;
    std::vector<int> I(static_cast<std::size_t>(p_.N) + 1);
    assign_intervals(p_.x, p_.N, X.data(), J, I.data());
    Problem q = p_;
    q.J = J, q.X = X.data(), q.I = I.data();
    const Solution s = solve(q);
    r.assign(static_cast<std::size_t>(p_.N) + 1, 0.0);
    double sum = 0.0;
    for (int i = 1; i <= p_.N; i++) {
      const double w = p_.w != nullptr ? p_.w[i] : 1.0;
      r[static_cast<std::size_t>(i)] = std::sqrt(w) * (p_.y[i] - s.value(I[i], p_.x[i]));
      sum += r[static_cast<std::size_t>(i)] * r[static_cast<std::size_t>(i)];
    }
    return sum;
  }

  // The best knots found from X (1-based, J + 1 of them, ends kept), and their sum of squares:
  // never above that of X itself.
  std::pair<std::vector<double>, double> search(std::vector<double> X) const {
    std::vector<double> r;
    double best_RSS = residuals(X, r);
    const int J = static_cast<int>(X.size()) - 2;
    if (J < 2) return {X, best_RSS};
    const double lo = X[1], hi = X[static_cast<std::size_t>(J) + 1];
    const double delta = min_separation * (hi - lo), room = (hi - lo) - J * delta;
    if (!(room > 0.0)) return {X, best_RSS};
    // Widths delta + room e^theta_j / sum e^theta: ordered knots, delta apart, ends in place.
    auto knots_of = [&](const std::vector<double>& theta) {
      std::vector<double> K(X.size());
      const double top = *std::max_element(theta.begin(), theta.end());
      double total = 0.0;
      for (double t : theta) total += std::exp(t - top);
      K[1] = lo;
      for (int j = 1; j < J; j++)
        K[static_cast<std::size_t>(j) + 1] = std::min(
            hi, K[static_cast<std::size_t>(j)] + delta +
                    room * (std::exp(theta[static_cast<std::size_t>(j) - 1] - top) / total));
      K[static_cast<std::size_t>(J) + 1] = hi;
      return K;
    };
    std::vector<double> theta(static_cast<std::size_t>(J));
    for (int j = 1; j <= J; j++) {
      const double width = X[static_cast<std::size_t>(j) + 1] - X[static_cast<std::size_t>(j)];
      theta[static_cast<std::size_t>(j) - 1] =
          std::log(std::max(width - delta, 1e-3 * delta) / room);
    }
    std::vector<double> at = knots_of(theta), r_at;
    double RSS = residuals(at, r_at);
    if (RSS < best_RSS) best_RSS = RSS, X = at;
    const std::size_t n = static_cast<std::size_t>(p_.N), m = theta.size();
    std::vector<std::vector<double>> columns(m);
    double lambda = 1e-3;
    for (int iteration = 0; iteration < max_steps && lambda < 1e12; iteration++) {
      // The Jacobian of the residuals by forward differences, a column per width.
      const double h = 1e-6;
      const int shares = parallel::workers(m * n, 1 << 14);
      parallel::run(shares, [&](int k) {
        std::vector<double> shifted, r_shifted;
        for (std::size_t j = static_cast<std::size_t>(k); j < m;
             j += static_cast<std::size_t>(shares)) {
          std::vector<double> t = theta;
          t[j] += h;
          residuals(knots_of(t), r_shifted);
          columns[j].resize(n + 1);
          for (std::size_t i = 1; i <= n; i++) columns[j][i] = (r_shifted[i] - r_at[i]) / h;
        }
      });
      std::vector<double> A(m * m, 0.0), g(m, 0.0);
      for (std::size_t a = 0; a < m; a++) {
        for (std::size_t i = 1; i <= n; i++) g[a] += columns[a][i] * r_at[i];
        for (std::size_t b = 0; b <= a; b++) {
          double sum = 0.0;
          for (std::size_t i = 1; i <= n; i++) sum += columns[a][i] * columns[b][i];
          A[a * m + b] = A[b * m + a] = sum;
        }
      }
      bool stepped = false;
      while (!stepped && lambda < 1e12) {
        // (A + lambda diag A) step = g by Cholesky; the residuals are y - s, so theta - step.
        std::vector<double> L(A), step(g);
        for (std::size_t a = 0; a < m; a++) L[a * m + a] += lambda * A[a * m + a] + 1e-300;
        bool positive = true;
        for (std::size_t a = 0; a < m && positive; a++) {
          for (std::size_t b = 0; b <= a; b++) {
            double sum = L[a * m + b];
            for (std::size_t k = 0; k < b; k++) sum -= L[a * m + k] * L[b * m + k];
            if (a == b) {
              positive = sum > 0.0;
              L[a * m + a] = std::sqrt(sum);
            } else {
              L[a * m + b] = sum / L[b * m + b];
            }
          }
        }
        if (positive) {
          for (std::size_t a = 0; a < m; a++) {
            for (std::size_t k = 0; k < a; k++) step[a] -= L[a * m + k] * step[k];
            step[a] /= L[a * m + a];
          }
          for (std::size_t a = m; a-- > 0;) {
            for (std::size_t k = a + 1; k < m; k++) step[a] -= L[k * m + a] * step[k];
            step[a] /= L[a * m + a];
          }
          std::vector<double> trial(theta), r_trial;
          for (std::size_t a = 0; a < m; a++) trial[a] -= step[a];
          std::vector<double> K = knots_of(trial);
          const double trial_RSS = residuals(K, r_trial);
          if (trial_RSS < RSS) {
            const bool settled = RSS - trial_RSS <= settled_below * RSS;
            theta = std::move(trial), r_at = std::move(r_trial), RSS = trial_RSS;
            if (RSS < best_RSS) best_RSS = RSS, X = std::move(K);
            lambda = std::max(lambda / 3.0, 1e-12);
            stepped = true;
            if (settled) lambda = 1e12;  // done: the sum no longer falls
            continue;
          }
        }
        lambda *= 4.0;
      }
    }
    return {X, best_RSS};
  }

  // X with one more knot: in the middle of the interval whose residuals have the largest sum of
  // squares (among those wide enough to split).
  std::vector<double> split(const std::vector<double>& X) const {
    std::vector<double> r;
    residuals(X, r);
    const int J = static_cast<int>(X.size()) - 2;
    std::vector<int> I(static_cast<std::size_t>(p_.N) + 1);
    assign_intervals(p_.x, p_.N, X.data(), J, I.data());
    std::vector<double> sums(static_cast<std::size_t>(J) + 1, 0.0);
    for (int i = 1; i <= p_.N; i++)
      sums[static_cast<std::size_t>(I[i])] +=
          r[static_cast<std::size_t>(i)] * r[static_cast<std::size_t>(i)];
    const double span = X[static_cast<std::size_t>(J) + 1] - X[1];
    int widest = 1;
    for (int j = 1; j <= J; j++) {
      const bool wide = X[static_cast<std::size_t>(j) + 1] - X[static_cast<std::size_t>(j)] >
                        4 * min_separation * span;
      if (wide && sums[static_cast<std::size_t>(j)] > sums[static_cast<std::size_t>(widest)])
        widest = j;
    }
    std::vector<double> more(X);
    const std::size_t at = static_cast<std::size_t>(widest) + 1;
    more.insert(more.begin() + static_cast<std::ptrdiff_t>(at), 0.5 * (X[at - 1] + X[at]));
    return more;
  }

  // The row of the fit on knots X (1-based), with GCV_free as its criterion.
  ScanRow row(const std::vector<double>& X, double start_RSS) const {
    const int J = static_cast<int>(X.size()) - 2;
    std::vector<int> I(static_cast<std::size_t>(p_.N) + 1);
    assign_intervals(p_.x, p_.N, X.data(), J, I.data());
    ScanRow row = row_of(p_, weights_, J, X.data(), I.data(), free_knot_cost);
    row.start_RSS = start_RSS;
    return row;
  }

 private:
  const Problem& p_;
  Weights weights_;
};

KnotChoice choose_free(const Problem& p, Weights weights, int J) {
  const FreeKnots search(p, weights);
  KnotChoice c;
  c.way = Knots::free, c.asked = std::max(J, 0);
  std::vector<std::vector<double>> found;  // the knots of each row
  if (J <= 0) {                            // the given knots, their number kept
    std::vector<double> start(p.X, p.X + p.J + 2), r;
    const double start_RSS = search.residuals(start, r);
    found.push_back(search.search(start).first);
    c.scan.push_back(search.row(found.back(), start_RSS));
    c.largest = p.J;
  } else {
    c.largest = std::min(J, 2 * p.N - 1);
    // Not before half the equal-count knots' best J does the search stop for want of progress:
    // where features are sharp and few, a few knots may be no better than one.
    const int at_least = static_cast<int>(choose_count(p, weights, J).knots.size() - 1) / 4;
    std::vector<int> I(static_cast<std::size_t>(p.N) + 1);
    std::size_t best = 0;
    for (int j = 1; j <= c.largest;
         j = j < every_free_J_up_to
                 ? j + 1
                 : std::max(j + 1, static_cast<int>(std::lround(j * (1 + free_J_step))))) {
      std::vector<double> even(static_cast<std::size_t>(j) + 2), r;
      place_knots_evenly(p.x, p.N, j, even.data(), I.data());
      const double even_RSS = search.residuals(even, r);
      std::vector<double> start = even;
      if (j > 1) {  // or the knots of j - 1 with one more, when they fit better
        std::vector<double> grown = search.split(found.back());
        if (search.residuals(grown, r) < even_RSS) start = std::move(grown);
      }
      found.push_back(search.search(std::move(start)).first);
      c.scan.push_back(search.row(found.back(), even_RSS));
      best = least(c.scan);
      if (static_cast<int>(c.scan.size() - 1 - best) >= stall_limit && j >= at_least) break;
    }
  }
  c.chosen = least(c.scan);
  c.knots = plain(found[c.chosen]);
  return c;
}

}  // namespace

KnotChoice choose_knots(const Problem& p, Weights weights, Knots way, int J, Robust robust) {
  if (std::string fault = problem_fault(p); !fault.empty()) throw SplineError(fault);
  if (way == Knots::count && J < 1)
    throw SplineError("the number of intervals to choose from must be 1 or more, not " +
                      std::to_string(J));
  if (way == Knots::free && J <= 0 && (p.X == nullptr || p.J < 1))
    throw SplineError("free knots need 1 or more intervals, or knots to start from");
  if (way != Knots::count && way != Knots::free)
    throw SplineError("choose_knots chooses the number of intervals or free knots");
  auto choose = [&](const Problem& q) {
    return way == Knots::count ? choose_count(q, weights, J) : choose_free(q, weights, J);
  };
  KnotChoice c = choose(p);
  if (robust == Robust::none) return c;
  // The first robust fit: on equal-count knots, one interval per robust_start_points points
  // that count or more (at most the J asked), unless least squares chose more.
  if (c.asked > 0) {
    int counted = 0;
    for (int i = 1; i <= p.N; i++) counted += p.w == nullptr || p.w[i] > 0.0;
    const int start = std::min(c.largest, counted / robust_start_points);
    if (start > static_cast<int>(c.knots.size()) - 1) {
      std::vector<double> X(static_cast<std::size_t>(start) + 2);
      std::vector<int> I(static_cast<std::size_t>(p.N) + 1);
      place_knots_evenly(p.x, p.N, start, X.data(), I.data());
      c.knots = plain(X);
    }
  }
  // The robust fit on the knots chosen, and the choice again on its weights.
  std::vector<double> combined(static_cast<std::size_t>(p.N) + 1), X(1, 0.0);
  std::vector<int> I(static_cast<std::size_t>(p.N) + 1);
  for (int round = 1; round <= robust_rounds; round++) {
    X.resize(1);
    X.insert(X.end(), c.knots.begin(), c.knots.end());
    const int knots_J = static_cast<int>(c.knots.size()) - 1;
    assign_intervals(p.x, p.N, X.data(), knots_J, I.data());
    Problem q = p;
    q.J = knots_J, q.X = X.data(), q.I = I.data();
    const Fit robust_fit = fit(q, {Method::exact, weights, 0.0, robust});
    for (int i = 1; i <= p.N; i++)
      combined[static_cast<std::size_t>(i)] =
          (p.w != nullptr ? p.w[i] : 1.0) * robust_fit.robust.weights[static_cast<std::size_t>(i)];
    q = p;
    q.w = combined.data();
    KnotChoice next = choose(q);
    next.robust = robust, next.rounds = round;
    const bool same = next.knots == c.knots;
    c = std::move(next);
    if (same || !robust_fit.is_robust()) break;
  }
  return c;
}

ChosenSpline fit_choosing_knots(std::span<const double> x, std::span<const double> y, int degree,
                                Knots way, int J, std::span<const double> w, Weights kind,
                                std::span<const double> start, Robust robust) {
  // A fit first, for its checks of the points, weights, degree and knots.
  const Spline checked =
      start.empty() ? fit(x, y, degree, 1, w, kind) : fit(x, y, degree, start, w, kind);
  (void)checked;
  const std::size_t n = x.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  std::vector<double> xs(n + 1), ys(n + 1), ws(w.empty() ? 0 : n + 1), X(1, 0.0);  // X 1-based
  for (std::size_t i = 0; i < n; i++) {
    xs[i + 1] = x[order[i]], ys[i + 1] = y[order[i]];
    if (!w.empty()) ws[i + 1] = weight_of(kind, w[order[i]]);
  }
  if (start.empty())  // one interval over the points, which only the checks of the points see
    X.insert(X.end(), {xs[1], xs[n]});
  else
    X.insert(X.end(), start.begin(), start.end());
  std::vector<int> I(n + 1, 1);
  const int given = static_cast<int>(X.size()) - 2;
  assign_intervals(xs.data(), static_cast<int>(n), X.data(), given, I.data());
  const Problem p{degree,    given,     static_cast<int>(n),
                  xs.data(), ys.data(), ws.empty() ? nullptr : ws.data(),
                  I.data(),  X.data()};
  KnotChoice choice = choose_knots(p, kind, way, start.empty() ? J : 0, robust);
  return {fit(x, y, degree, choice.knots, w, kind, robust), std::move(choice)};
}

}  // namespace lsq
