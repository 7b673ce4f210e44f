// Optimisation library: bracketing, Brent, line minimisation, Powell and conjugate gradients.
// Every objective call is recorded and compared with points derived by hand or with the textbook
// recomputation in namespace textbook, so a change in the order of the arithmetic shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Optimise.hpp"

namespace {

constexpr double G = 1.618034;  // mnbrak's written magnification, not the golden ratio

using Vec = std::vector<double>;  // 1-based: element 0 is unused
using Line = std::function<double(double)>;
using Objective = std::function<double(const Vec&)>;
using Gradient = std::function<Vec(const Vec&)>;
using Directions = std::vector<Vec>;  // [j][i]: component j of direction i

double square(double x) { return x * x; }

// The routines take plain function pointers; these trampolines record every call.
Line line_f;
std::vector<double> line_calls;
double recorded_line(double x) {
  line_calls.push_back(x);
  return line_f(x);
}
void watch_line(Line f) {
  line_f = std::move(f);
  line_calls.clear();
}

int dim = 0;
Objective objective_f;
Gradient gradient_f;
std::vector<Vec> calls;
double record(const Vec& p) {
  calls.push_back(p);
  return objective_f(p);
}
Vec from_handle(const double* p) {
  Vec v(dim + 1, 0.0);
  for (int j = 1; j <= dim; j++) v[j] = p[j];
  return v;
}
double recorded_objective(double* p) { return record(from_handle(p)); }
void recorded_gradient(double* p, double* out) {
  const Vec d = gradient_f(from_handle(p));
  for (int j = 1; j <= dim; j++) out[j] = d[j];
}
void watch(int n, Objective f, Gradient g = {}) {
  dim = n;
  objective_f = std::move(f);
  gradient_f = std::move(g);
  calls.clear();
}
long count_calls_at(const Vec& point) { return std::count(calls.begin(), calls.end(), point); }

Directions identity(int n) {
  Directions xi(n + 1, Vec(n + 1, 0.0));
  for (int i = 1; i <= n; i++) xi[i][i] = 1.0;
  return xi;
}

struct Result {
  Vec p;
  Directions xi;
  int iter;
  double fret;
};
Result run_powell(int n, Objective f, Vec p, double ftol) {
  watch(n, std::move(f));
  Directions xi = identity(n);
  std::vector<double*> rows;
  for (auto& row : xi) rows.push_back(row.data());
  int iter = 0;
  double fret = 0.0;
  Powell(p.data(), rows.data(), n, ftol, &iter, &fret, recorded_objective);
  return {p, xi, iter, fret};
}
Result run_frprmn(int n, Objective f, Gradient g, Vec p, double ftol) {
  watch(n, std::move(f), std::move(g));
  int iter = 0;
  double fret = 0.0;
  Frprmn(p.data(), n, ftol, &iter, &fret, recorded_objective, recorded_gradient);
  return {p, {}, iter, fret};
}

// The line searches as the textbook states them, written independently of the library.
namespace textbook {

struct Bracket {
  double a, b, c, fa, fb, fc;
};

Bracket mnbrak(double a, double b, const Line& f) {
  Bracket k{a, b, 0.0, f(a), f(b), 0.0};
  if (k.fb > k.fa) std::swap(k.a, k.b), std::swap(k.fa, k.fb);
  k.c = k.b + G * (k.b - k.a);
  k.fc = f(k.c);
  while (k.fb > k.fc) {
    const double r = (k.b - k.a) * (k.fb - k.fc), q = (k.b - k.c) * (k.fb - k.fa);
    const float size = static_cast<float>(std::fabs(q - r)), floor = 1e-20f;
    const double magnitude = size > floor ? size : floor;  // chosen in single precision
    const double denominator = 2.0 * (q - r >= 0.0 ? magnitude : -magnitude);
    const double ulim = k.b + 100.0 * (k.c - k.b);
    double u = k.b - ((k.b - k.c) * q - (k.b - k.a) * r) / denominator, fu;
    if ((k.b - u) * (u - k.c) > 0.0) {
      fu = f(u);
      if (fu < k.fc) return {k.b, u, k.c, k.fb, fu, k.fc};
      if (fu > k.fb) return {k.a, k.b, u, k.fa, k.fb, fu};
      u = k.c + G * (k.c - k.b), fu = f(u);
    } else if ((k.c - u) * (u - ulim) > 0.0) {
      fu = f(u);
      if (fu < k.fc) {
        k.b = k.c, k.fb = k.fc, k.c = u, k.fc = fu;
        u = k.c + G * (k.c - k.b), fu = f(u);
      }
    } else if ((u - ulim) * (ulim - k.c) >= 0.0) {
      u = ulim, fu = f(u);
    } else {
      u = k.c + G * (k.c - k.b), fu = f(u);
    }
    k = {k.b, k.c, u, k.fb, k.fc, fu};
  }
  return k;
}

struct Minimum {
  double x, fx;
  int steps;  // evaluations after the one at the middle point
};

Minimum brent(double ax, double bx, double cx, const Line& f, double tol) {
  double a = std::min(ax, cx), b = std::max(ax, cx), d = 0.0, e = 0.0;
  double x = bx, w = bx, v = bx, fx = f(bx), fw = fx, fv = fx;
  for (int steps = 0; steps < 100; steps++) {
    const double xm = 0.5 * (a + b), tol1 = tol * std::fabs(x) + 1e-10, tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) return {x, fx, steps};
    bool parabolic = false;
    if (std::fabs(e) > tol1) {
      const double r = (x - w) * (fx - fv);
      double q = (x - v) * (fx - fw), p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      const double etemp = e;
      e = d;
      parabolic = std::fabs(p) < std::fabs(0.5 * q * etemp) && p > q * (a - x) && p < q * (b - x);
      if (parabolic) {
        d = p / q;
        if (x + d - a < tol2 || b - (x + d) < tol2) d = xm - x >= 0.0 ? tol1 : -tol1;
      }
    }
    if (!parabolic) e = x >= xm ? a - x : b - x, d = 0.381966 * e;
    const double u = std::fabs(d) >= tol1 ? x + d : (d >= 0.0 ? x + tol1 : x - tol1);
    const double fu = f(u);
    if (fu <= fx) {
      (u >= x ? a : b) = x;
      v = w, fv = fw, w = x, fw = fx, x = u, fx = fu;
    } else {
      (u < x ? a : b) = u;
      if (fu <= fw || w == x) {
        v = w, fv = fw, w = u, fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  ADD_FAILURE() << "textbook brent needs more than 100 iterations";
  return {x, fx, 100};
}

double linmin(Vec& p, Vec& xi) {
  const Vec start = p, direction = xi;
  const Line along = [&](double x) {
    Vec xt(start.size(), 0.0);
    for (std::size_t j = 1; j < xt.size(); j++) xt[j] = start[j] + x * direction[j];
    return record(xt);
  };
  const Bracket k = mnbrak(0.0, 1.0, along);
  const Minimum m = brent(k.a, k.b, k.c, along, 0.0002);
  for (std::size_t j = 1; j < p.size(); j++) xi[j] = xi[j] * m.x, p[j] = p[j] + xi[j];
  return m.fx;
}

}  // namespace textbook

std::string report(const std::string& text) {
  return "^Numerical run-time error\\.\\.\\.\n" + text +
         "\n\\.\\.\\.now exiting to system\\.\\.\\.\n$";
}

struct BracketCase {
  const char* branch;
  Line f;
  double ax, bx;
  std::size_t evaluations;
  double a, b, c, tol;  // expected bracket, within tol (a parabolic vertex is only near)
};

TEST(Mnbrak, EveryBranchMakesItsNumberOfEvaluationsAndReturnsTheHandDerivedBracket) {
  const double c1 = 1.0 + G;              // the first outward step from (0, 1)
  const double c2 = c1 + G * (c1 - 1.0);  // the default step after it
  const double c3 = c2 + G * (c2 - c1), c4 = c3 + G * (c3 - c2);
  const double ulim = 1.0 + 100.0 * (c1 - 1.0);
  const auto constant = [](double) { return 2.5; };
  const BracketCase cases[] = {
      {"equal starting abscissae", [](double x) { return square(x - 3); }, 1, 1, 3, 1, 1, 1, 0},
      {"constant", constant, 0, 1, 3, 0, 1, c1, 0},
      {"constant, decreasing start", constant, 2, -3, 3, 2, -3, -3 + G * (-3 - 2), 0},
      {"equal values: no exchange", [](double x) { return square(x - 0.5); }, 0, 1, 3, 0, 1, c1, 0},
      {"f(b) > f(a): exchange", [](double x) { return square(x + 0.5); }, 0, 1, 3, 1, 0, -G, 0},
      {"vertex between b and c, below fc", [](double x) { return square(x - 2); }, 0, 1, 4, 1, 2,
       c1, 1e-6},
      {"vertex between b and c, above fb",
       [](double x) { return x > 1.5 && x < 2.5 ? 5.0 : square(x - 2); }, 0, 1, 4, 0, 1, 2, 1e-6},
      {"vertex between b and c, of no use",
       [](double x) { return x > 1.5 && x < 2.5 ? 0.5 : square(x - 2); }, 0, 1, 5, 1, c1, c2, 0},
      {"vertex beyond c, below fc", [](double x) { return square(x - 10); }, 0, 1, 5, c1, 10,
       10 + G * (10 - c1), 1e-5},
      {"vertex beyond c, not below fc",
       [](double x) { return x > 8 && x < 12 ? 60.0 : square(x - 10); }, 0, 1, 4, 1, c1, 10, 1e-6},
      {"vertex beyond ulim, clipped", [](double x) { return x < 100 ? square(x - 1000) : 1e9; }, 0,
       1, 4, 1, c1, ulim, 0},
      {"vertex on the a side, default step", [](double x) { return x < 4 ? -x * x : 100.0; }, 0, 1,
       4, 1, c1, c2, 0},
      {"q = r, the positive floor throws u beyond ulim",
       [](double x) { return x < 100 ? -x : 1e3; }, 0, 1, 4, 1, c1, ulim, 0},
      {"q = r, the positive floor throws u to the a side",
       [](double x) { return x > -3 ? x : 1e2; }, 1, 0, 4, 0, -G, -G + G * -G, 0},
      {"|q - r| beyond single precision: D infinite, u = b, default steps",
       [](double x) { return 1e300 * square(x - 10); }, 0, 1, 6, c2, c3, c4, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.branch);
    watch_line(t.f);
    double ax = t.ax, bx = t.bx, cx, fa, fb, fc;
    mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
    EXPECT_EQ(line_calls.size(), t.evaluations);
    EXPECT_NEAR(ax, t.a, t.tol);
    EXPECT_NEAR(bx, t.b, t.tol);
    EXPECT_NEAR(cx, t.c, t.tol * std::fabs(t.c));
    EXPECT_TRUE(fb <= fa && fb <= fc && (bx - ax) * (cx - bx) >= 0.0);
    EXPECT_TRUE(fa == t.f(ax) && fb == t.f(bx) && fc == t.f(cx));
    const std::vector<double> library = line_calls;
    watch_line(t.f);
    textbook::mnbrak(t.ax, t.bx, recorded_line);
    EXPECT_EQ(library, line_calls);
  }
}

TEST(Mnbrak, ExactParabolaLandsNearTheVertexNotOnItBecauseTheDenominatorIsSingle) {
  // (x - 2)^2 from 0 and 1: q - r = 4.2360680251..., which single precision rounds up by 5e-8.
  watch_line([](double x) { return square(x - 2); });
  double ax = 0, bx = 1, cx, fa, fb, fc;
  mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
  const double c = 1 + G, r = 1.0 - square(c - 2), q = (1 - c) * -3.0;
  const double exact = 1 - ((1 - c) * q - r) / (2.0 * (q - r));
  const double single = 1 - ((1 - c) * q - r) / (2.0 * static_cast<float>(q - r));
  EXPECT_NEAR(exact, 2.0, 1e-15);
  EXPECT_EQ(bx, single);
  EXPECT_GT(std::fabs(bx - 2.0), 1e-8);
  EXPECT_LT(std::fabs(bx - 2.0), 1e-7);
}

struct BrentCase {
  const char* name;
  Line f;
  double a, b, c, tol;
};

TEST(Brent, EvaluatesOncePerStepPlusOnceFollowsTheTextbookAndIgnoresTheOrderOfTheEnds) {
  const BrentCase cases[] = {
      {"parabola, b on the midpoint", [](double x) { return square(x - 0.3); }, -1, 0.5, 2, 0.0002},
      {"quartic", [](double x) { return x * x * x * x - x; }, 0, 1, 2.5, 0.0002},
      {"cosine", [](double x) { return std::cos(x); }, 2, 3, 5, 1e-8},
      {"kink", [](double x) { return std::pow(std::fabs(x - 0.7), 1.5); }, 0, 0.2, 4, 0.0002},
      {"steep exponential", [](double x) { return std::exp(x) - 20 * x; }, -5, 1, 10, 1e-6},
      {"constant: golden steps only, ties move x", [](double) { return 1.0; }, 0, 1, 3, 0.0002},
      {"minimum at zero", [](double x) { return x * x; }, 1, 0.5, -3, 0.0}};
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    double xmin, reversed;
    watch_line(t.f);
    const double fmin = brent(t.a, t.b, t.c, recorded_line, t.tol, &xmin);
    const std::vector<double> library = line_calls;
    watch_line(t.f);
    EXPECT_EQ(brent(t.c, t.b, t.a, recorded_line, t.tol, &reversed), fmin);
    EXPECT_TRUE(library == line_calls && reversed == xmin);
    watch_line(t.f);
    const textbook::Minimum m = textbook::brent(t.a, t.b, t.c, recorded_line, t.tol);
    EXPECT_EQ(library.size(), static_cast<std::size_t>(m.steps) + 1);
    EXPECT_EQ(library, line_calls);
    EXPECT_TRUE(xmin == m.x && fmin == t.f(xmin));  // the stored value, no new evaluation
    // By hand: the middle point first, then a golden step into the larger part of the interval.
    const double lo = std::min(t.a, t.c), hi = std::max(t.a, t.c);
    ASSERT_GE(library.size(), 2u);
    EXPECT_EQ(library[0], t.b);
    EXPECT_EQ(library[1], t.b + 0.381966 * (t.b >= 0.5 * (lo + hi) ? lo - t.b : hi - t.b));
  }
}

TEST(Brent, NarrowBracketReturnsTheMiddlePointAfterOneEvaluation) {
  watch_line([](double x) { return square(x - 5); });
  double xmin;
  EXPECT_EQ(brent(0.9999, 1.0, 1.0001, recorded_line, 0.0002, &xmin), 16.0);
  EXPECT_EQ(xmin, 1.0);
  EXPECT_EQ(line_calls, std::vector<double>({1.0}));
}

TEST(BrentDeathTest, MoreThanOneHundredIterationsEndTheRun) {
  // Neighbouring doubles near 1e20 lie 16384 apart: the 1e-10 tolerance can never be met.
  const LineFunction rising = [](double x) { return x; };
  double xmin;
  EXPECT_EXIT(brent(1e20, 2e20, 3e20, rising, 0.0, &xmin), ::testing::ExitedWithCode(1),
              report("Too many iterations in brent"));
}

TEST(Linmin, MovesPToBrentsMinimumAndReturnsBrentsValueWithoutEvaluatingAgain) {
  watch(3, [](const Vec& p) { return std::exp(p[1]) + square(p[2] + p[3]) - p[2]; });
  Vec p = {0, 0.5, -1, 2}, xi = {0, -1, 0.5, 0.25}, q = p, xq = xi;
  double fret;
  linmin(p.data(), xi.data(), 3, &fret, recorded_objective);
  const std::vector<Vec> library = calls;
  calls.clear();
  EXPECT_EQ(fret, textbook::linmin(q, xq));
  EXPECT_EQ(library, calls);
  EXPECT_TRUE(p == q && xi == xq);
  // Along a direction of constant value p still moves, by brent's parameter in (0, 1 + G].
  watch(2, [](const Vec& v) { return square(v[1]); });
  p = {0, 0, 0}, xi = {0, 0, 1};
  linmin(p.data(), xi.data(), 2, &fret, recorded_objective);
  EXPECT_EQ(fret, 0.0);
  EXPECT_TRUE(p[1] == 0 && p[2] == xi[2] && xi[2] > 0 && xi[2] <= 1 + G);
}

TEST(Powell, StartedAtAStrictMinimumConvergesInTheFirstIterationUnchanged) {
  const Vec c = {0, 0.25, -1.5, 3};
  for (double floor : {0.0, 3.0}) {
    const Result r = run_powell(
        3,
        [&](const Vec& p) {
          return floor + square(p[1] - c[1]) + 4 * square(p[2] - c[2]) + 9 * square(p[3] - c[3]);
        },
        c, 1e-6);
    EXPECT_TRUE(r.iter == 1 && r.fret == floor && r.xi == identity(3));
    // Ties go to the new point, so p may move only where the value does not change: by less
    // than 2e-8, below which 3 + delta^2 rounds to 3.
    if (floor == 0.0) {
      EXPECT_EQ(r.p, c);
    }
    for (int j = 1; j <= 3; j++) EXPECT_NEAR(r.p[j], c[j], 2e-8);
  }
}

TEST(Powell, ZeroToleranceStopsOnlyAfterAnIterationThatLeavesTheValueUnchanged) {
  // By hand: along e1 and then e2 the middle points of the first brackets are the minima, so the
  // sweep ends on (1, 1) with value 0; f(ptt) = f(2, 2) = 2 is not below fp = 2 and the
  // directions stay; the second iteration starts and ends at 0, and 0 <= 0 * 0 ends the search.
  // The test is relative, without an absolute term: values of 1e-20 behave the same, and the
  // first iteration's fall from 2e-20 to 0 is not small against ftol = 0.5.
  for (auto setting : {std::pair{1.0, 0.0}, {1e-20, 0.5}}) {
    const double scale = setting.first, ftol = setting.second;
    const Result r = run_powell(
        2, [=](const Vec& p) { return scale * (square(p[1] - 1) + square(p[2] - 1)); }, {0, 0, 0},
        ftol);
    EXPECT_TRUE(r.iter == 2 && r.fret == 0.0 && r.p == Vec({0, 1, 1}) && r.xi == identity(2));
    // The start, mnbrak's 0, 1 and 1 + G along e1, brent's middle point and its golden step.
    const std::vector<Vec> first = {{0, 0, 0},     {0, 0, 0}, {0, 1, 0},
                                    {0, 1 + G, 0}, {0, 1, 0}, {0, 1 + 0.381966 * ((1 + G) - 1), 0}};
    ASSERT_GT(calls.size(), first.size());
    EXPECT_EQ(std::vector<Vec>(calls.begin(), calls.begin() + 6), first);
    EXPECT_EQ(count_calls_at({0, 2, 2}), 1);  // ptt, once
  }
}

TEST(Powell, ExtrapolationTestDecidesAndEqualDecreasesDiscardTheFirstDirection) {
  // By hand, for (x-1)^2 + (y-1)^2 + c (x-1) y from (0, 0): whatever c, the sweep stops on (1, 0)
  // with value 1 and (1, 1) with value 0, so both directions gain 1 and ibig = 1 (the first).
  // f(ptt) = f(2, 2) = 2 + 2c < fp = 2 and t = 2 (4 + 2c) 1 - 1 (2c)^2. When t < 0 the search
  // along (1, 1), where the value is (2 + c) s^2 + c s, ends near s = -c / (2 (2 + c)); column 1
  // takes the old e2 and column 2 becomes s (1, 1). The second iteration then gains at most a
  // quarter of its starting value (the minimum is -0.5625), so ftol = 0.5 ends the run.
  const struct { double c, t, s; } cases[] = {{-0.9, 1.16, 0}, {-1.2, -2.56, 0.75}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.c);
    const Result r = run_powell(
        2,
        [&](const Vec& p) { return square(p[1] - 1) + square(p[2] - 1) + k.c * (p[1] - 1) * p[2]; },
        {0, 0, 0}, 0.5);
    // After ptt comes either the search along (1, 1) from (1, 1) or the next sweep along e1.
    const auto ptt = std::find(calls.begin(), calls.end(), Vec{0, 2, 2});
    ASSERT_LT(ptt + 2, calls.end());
    EXPECT_EQ(ptt[1], Vec({0, 1, 1}));
    EXPECT_EQ(ptt[2], k.t < 0 ? Vec({0, 2, 2}) : Vec({0, 2, 1}));
    if (k.t >= 0) continue;
    EXPECT_EQ(r.iter, 2);
    EXPECT_TRUE(r.xi[1][1] == 0.0 && r.xi[2][1] == 1.0);
    EXPECT_EQ(r.xi[1][2], r.xi[2][2]);
    EXPECT_NEAR(r.xi[1][2], k.s, 1e-3);
  }
}

TEST(Powell, OneVariableReplacesItsOnlyDirectionWithTheScaledDisplacement) {
  // By hand, for (x-1)^2 left of 1 and (x-1)^2/4 right of it, from 0: the line search stops on 1
  // (value 0); f(ptt) = f(2) = 1/4 < 1 and t = -9/16 < 0, so a second search runs along the
  // displacement 1, finds nothing lower than its start, and the direction becomes 1 * 0.
  const Result r = run_powell(
      1, [](const Vec& p) { return p[1] <= 1 ? square(p[1] - 1) : 0.25 * square(p[1] - 1); },
      {0, 0}, 1e-8);
  EXPECT_TRUE(r.iter == 2 && r.p[1] == 1.0 && r.fret == 0.0 && r.xi[1][1] == 0.0);
  EXPECT_GE(count_calls_at({0, 2}), 2);  // ptt, and the second search's one full step
}

// (y - x^2)^2 + exp(-x): bounded below along every line, so each line search ends, but its
// infimum 0 lies at infinity along y = x^2 and the gradient never vanishes: the search goes on.
double endless_valley(const Vec& p) { return square(p[2] - p[1] * p[1]) + std::exp(-p[1]); }
Vec endless_valley_gradient(const Vec& p) {
  return {0, -4 * p[1] * (p[2] - p[1] * p[1]) - std::exp(-p[1]), 2 * (p[2] - p[1] * p[1])};
}

TEST(PowellDeathTest, ThousandIterationsWithoutConvergenceEndTheRun) {
  EXPECT_EXIT(run_powell(2, endless_valley, Vec(3, 0.0), 0.0), ::testing::ExitedWithCode(1),
              report("powell exceeding maximum iterations\\."));
}

TEST(Frprmn, ZeroGradientAtTheStartReturnsInTheFirstIterationUnchanged) {
  const Vec c = {0, 0.25, -1.5};
  const Result r = run_frprmn(
      2, [&](const Vec& p) { return 2 + square(p[1] - c[1]) + 3 * square(p[2] - c[2]); },
      [&](const Vec& p) {
        return Vec{0, 2 * (p[1] - c[1]), 6 * (p[2] - c[2])};
      },
      c, 1e-10);
  EXPECT_TRUE(r.iter == 1 && r.fret == 2.0 && r.p == c);
}

TEST(Frprmn, ConjugateDirectionsFollowTheHandDerivedSequence) {
  // f = p.A.p/2 - b.p, A = [[1, 1], [1, 2]], b = (1, 0). Steepest descent from 0 is (1, 0), least
  // at the bracket's middle point 1: p = (1, 0), gradient (0, 1), gam = ((0,1) + (1,0)).(0,1) / 1
  // = 1, direction (0, -1) + (1, 0) = (1, -1), least again at 1: p = (2, -1), the minimum, where
  // the gradient is 0; the third line search, along 0, leaves -1 unchanged and ends the search.
  const auto f = [](const Vec& p) {
    return 0.5 * (p[1] * p[1] + 2 * p[1] * p[2] + 2 * p[2] * p[2]) - p[1];
  };
  const auto gradient = [](const Vec& p) { return Vec{0, p[1] + p[2] - 1, p[1] + 2 * p[2]}; };
  Result r = run_frprmn(2, f, gradient, {0, 0, 0}, 0.0);
  EXPECT_TRUE(r.iter == 3 && r.fret == -1.0 && r.p == Vec({0, 2, -1}));
  for (const Vec& point : {Vec{0, 1 + G, 0}, Vec{0, 1 + (1 + G), -(1 + G)}})
    EXPECT_EQ(count_calls_at(point), 1);  // mnbrak's outward steps along (1, 0) and (1, -1)
  // At (1, 0): mnbrak's and brent's middle point, the fresh evaluation, the next start.
  EXPECT_EQ(count_calls_at({0, 1, 0}), 4);
  // The 1e-10 term is scaled by ftol: values near 1e-12 still need a relative change.
  r = run_frprmn(
      2, [&](const Vec& p) { return 1e-12 * f(p); },
      [&](const Vec& p) {
        Vec g = gradient(p);
        for (double& x : g) x *= 1e-12;
        return g;
      },
      {0, 0, 0}, 1e-6);
  EXPECT_GE(r.iter, 2);
  EXPECT_TRUE(std::fabs(r.p[1] - 2) < 1e-3 && std::fabs(r.p[2] + 1) < 1e-3);
}

TEST(FrprmnDeathTest, TwoHundredIterationsWithoutConvergenceEndTheRun) {
  EXPECT_EXIT(run_frprmn(2, endless_valley, endless_valley_gradient, Vec(3, 0.0), 0.0),
              ::testing::ExitedWithCode(1), report("Too many iterations in frprmn"));
}

struct Problem {
  std::string name;
  Vec start, minimiser;
  double fmin;
  Objective f;
  Gradient gradient;
};
void PrintTo(const Problem& problem, std::ostream* os) { *os << problem.name; }

Problem rosenbrock() {
  return {"Rosenbrock",
          {0, -1.2, 1},
          {0, 1, 1},
          0.0,
          [](const Vec& p) { return 100 * square(p[2] - p[1] * p[1]) + square(1 - p[1]); },
          [](const Vec& p) {
            return Vec{0, -400 * p[1] * (p[2] - p[1] * p[1]) - 2 * (1 - p[1]),
                       200 * (p[2] - p[1] * p[1])};
          }};
}

// 1 + sum_i lambda_i (h_i.(x - x*))^2, h_i the rows of the reflection I - 2 v v^T / v.v with
// v = (1, ..., 10): eigenvalues from 1 to 1e4 along axes that mix every variable.
Problem ill_conditioned_quadratic() {
  const int n = 10;
  Directions H(n + 1, Vec(n + 1, 0.0));
  Vec lambda(n + 1, 0.0), minimiser(n + 1, 0.0);
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) H[i][j] = (i == j ? 1.0 : 0.0) - 2.0 * i * j / 385.0;
    lambda[i] = std::pow(10.0, 4.0 * (i - 1) / (n - 1));
    minimiser[i] = (i % 2 ? 0.5 : -0.5) * i;
  }
  const auto axes = [=](const Vec& x) {
    Vec y(n + 1, 0.0);
    for (int i = 1; i <= n; i++)
      for (int j = 1; j <= n; j++) y[i] += H[i][j] * (x[j] - minimiser[j]);
    return y;
  };
  return {"IllConditionedQuadraticIn10Variables",
          Vec(n + 1, 0.0),
          minimiser,
          1.0,
          [=](const Vec& x) {
            const Vec y = axes(x);
            double sum = 1.0;
            for (int i = 1; i <= n; i++) sum += lambda[i] * y[i] * y[i];
            return sum;
          },
          [=](const Vec& x) {
            const Vec y = axes(x);
            Vec d(n + 1, 0.0);
            for (int i = 1; i <= n; i++)
              for (int j = 1; j <= n; j++) d[j] += 2.0 * lambda[i] * y[i] * H[i][j];
            return d;
          }};
}

// Least-squares cubic through t = -3..3. The data are 1 - 2t + t^2/2 + t^3/4 plus 0.1 times the
// discrete quartic (3, -7, 1, 6, 1, -7, 3), orthogonal to 1, t, t^2 and t^3 on these points: the
// best cubic is the generating one, and its residual sum is 0.01 * 154.
Problem polynomial_fit() {
  const auto residual = [](const Vec& a, int k) {
    const double quartic[7] = {3, -7, 1, 6, 1, -7, 3}, t = k - 3;
    const double data = 1 - 2 * t + 0.5 * t * t + 0.25 * t * t * t + 0.1 * quartic[k];
    return data - (a[1] + t * (a[2] + t * (a[3] + t * a[4])));
  };
  return {"LeastSquaresCubicFit",
          Vec(5, 0.0),
          {0, 1, -2, 0.5, 0.25},
          1.54,
          [=](const Vec& a) {
            double sum = 0.0;
            for (int k = 0; k < 7; k++) sum += square(residual(a, k));
            return sum;
          },
          [=](const Vec& a) {
            Vec d(5, 0.0);
            for (int k = 0; k < 7; k++)
              for (int m = 1; m <= 4; m++) d[m] -= 2.0 * residual(a, k) * std::pow(k - 3.0, m - 1);
            return d;
          }};
}

class KnownMinimiser : public ::testing::TestWithParam<Problem> {
 protected:
  static constexpr double ftol = 1e-12;
  // Near a minimum the value changes with the square of the distance: p to sqrt(ftol), the value
  // to a few ftol.
  void ExpectFound(const Result& r) {
    const Problem& problem = GetParam();
    for (std::size_t j = 1; j < r.p.size(); j++)
      EXPECT_NEAR(r.p[j], problem.minimiser[j], std::sqrt(ftol)) << "variable " << j;
    EXPECT_NEAR(r.fret, problem.fmin, 10 * ftol * (1 + problem.fmin));
    EXPECT_EQ(r.fret, problem.f(r.p));  // the value reported is the value at the point returned
    RecordProperty("iterations", r.iter);
    RecordProperty("evaluations", static_cast<int>(calls.size()));
  }
  int n() const { return static_cast<int>(GetParam().start.size()) - 1; }
};

TEST_P(KnownMinimiser, PowellFindsIt) {
  ExpectFound(run_powell(n(), GetParam().f, GetParam().start, ftol));
}

TEST_P(KnownMinimiser, FrprmnFindsIt) {
  ExpectFound(run_frprmn(n(), GetParam().f, GetParam().gradient, GetParam().start, ftol));
}

INSTANTIATE_TEST_SUITE_P(RealProblems, KnownMinimiser,
                         ::testing::Values(rosenbrock(), ill_conditioned_quadratic(),
                                           polynomial_fit()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
