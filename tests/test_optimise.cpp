// Optimisation library: problems with known minima and small problems traced by hand for Powell
// and Frprmn, the bracketing branches, and the iteration limits.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "Optimise.hpp"
#include "table.hpp"

namespace {

using Vec = std::vector<double>;  // 1-based: element 0 is unused and 0
using Objective = std::function<double(const Vec&)>;
using Gradient = std::function<Vec(const Vec&)>;
double sq(double x) { return x * x; }

// The routines take plain function pointers; these call the objective set here, recording every
// call. A new problem starts with state = {dim, f, g, {}, 0}.
struct Recording {
  int dim;
  Objective f;
  Gradient g;
  std::vector<Vec> calls;  // the points f was called at
  int gradient_calls = 0;
} state;
double recorded_objective(double* p) {
  state.calls.emplace_back(p, p + state.dim + 1)[0] = 0;
  return state.f(state.calls.back());
}
void recorded_gradient(double* p, double* out) {
  Vec d = state.g(Vec(p, p + state.dim + 1));
  std::copy(d.begin() + 1, d.end(), out + 1);
  state.gradient_calls++;
}
double recorded_line(double x) { return state.f(state.calls.emplace_back(Vec{0, x})); }

struct Result {
  Vec p;
  std::vector<Vec> xi;  // [j][i]: component j of direction i
  int iter = 0;
  double fret = 0;
};
// Powell (from the unit directions) or Frprmn from p (1-based).
Result run(const std::string& routine, Vec p, double ftol, Objective f, Gradient g = {}) {
  int n = int(p.size()) - 1;
  state = {n, f, g, {}, 0};
  Result r{p, std::vector<Vec>(n + 1, Vec(n + 1, 0.0))};
  std::vector<double*> rows;
  for (int i = 0; i <= n; i++) {
    r.xi[i][i] = 1;
    rows.push_back(r.xi[i].data());
  }
  if (routine == "Powell")
    Powell(r.p.data(), rows.data(), n, ftol, &r.iter, &r.fret, recorded_objective);
  else
    Frprmn(r.p.data(), n, ftol, &r.iter, &r.fret, recorded_objective, recorded_gradient);
  return r;
}

// The objectives of the table, with their gradients where Frprmn needs them.
const std::map<std::string, std::pair<Objective, Gradient>> kObjectives = {
    {"rosenbrock",
     {[](const Vec& p) { return 100 * sq(p[2] - p[1] * p[1]) + sq(1 - p[1]); },
      [](const Vec& p) {
        double y = p[2] - p[1] * p[1];
        return Vec{0, -400 * p[1] * y - 2 * (1 - p[1]), 200 * y};
      }}},
    {"powell_quartic",
     {[](const Vec& x) {
        return sq(x[1] + 10 * x[2]) + 5 * sq(x[3] - x[4]) + std::pow(x[2] - 2 * x[3], 4) +
               10 * std::pow(x[1] - x[4], 4);
      },
      {}}},
    {"quadratic_ab",
     {[](const Vec& p) { return (p[1] * p[1] + 2 * p[1] * p[2] + 2 * p[2] * p[2]) / 2 - p[1]; },
      [](const Vec& p) {
        return Vec{0, p[1] + p[2] - 1, p[1] + 2 * p[2]};
      }}},
    {"kink_at_1", {[](const Vec& p) { return (p[1] <= 1 ? 1 : 0.25) * sq(p[1] - 1); }, {}}}};

// A named objective, or "coupled c s": s ((x - 1)^2 + (y - 1)^2 + c (x - 1) y).
std::pair<Objective, Gradient> objective(const std::string& name) {
  if (kObjectives.contains(name)) return kObjectives.at(name);
  Vec cs = numbers(name.substr(8));
  return {[c = cs[0], s = cs[1]](const Vec& p) {
            return s * (sq(p[1] - 1) + sq(p[2] - 1) + c * (p[1] - 1) * p[2]);
          },
          {}};
}

TEST(Minimisers, FindEveryKnownMinimumAndFollowEveryHandTrace) {
  for (const Row& row : table("library/minimisations.txt")) {
    SCOPED_TRACE(row[0] + " " + row[1] + " from " + row[2] + ", ftol " + row[3]);
    auto [f, g] = objective(row[1]);
    Result r = run(row[0], numbers("0 " + row[2]), std::stod(row[3]), f, g);
    Vec p = numbers("0 " + row[5]), xi = numbers(row[7]), after = numbers("0 " + row[9]);
    double tol = std::stod(row[8]);
    auto near = [](double got, double want, double within) {  // NaN: not checked
      return std::isnan(want) || std::fabs(got - want) <= within;
    };
    EXPECT_TRUE(near(r.iter, numbers(row[4])[0], 0)) << r.iter;
    for (std::size_t j = 1; j < p.size(); j++) EXPECT_TRUE(near(r.p[j], p[j], tol)) << r.p[j];
    EXPECT_TRUE(near(r.fret, numbers(row[6])[0], tol * tol)) << r.fret;
    for (std::size_t k = 0; k < xi.size(); k++)
      EXPECT_TRUE(near(r.xi[1 + k / state.dim][1 + k % state.dim], xi[k], tol)) << k;
    EXPECT_EQ(r.fret, f(r.p));  // the value reported is the value at the point returned
    const std::vector<Vec>& calls = state.calls;
    auto reflected = std::find(calls.begin(), calls.end(), Vec{0, 2, 2});
    EXPECT_TRUE(std::isnan(after[1]) || (calls.end() - reflected > 2 && reflected[2] == after));
  }
}

TEST(Mnbrak, EveryBranchGivesTheHandDerivedBracketAndNumberOfEvaluations) {
  for (const Row& row : table("library/mnbrak_branches.txt")) {
    Vec k = numbers(row[1]), start = numbers(row[2]), expected = numbers(row[4]);
    double ax = start[0], bx = start[1], cx, fa, fb, fc, tol = std::stod(row[5]);
    Objective f = [k](const Vec& p) {
      return k[3] <= p[1] && p[1] < k[4] ? k[5] : k[0] * sq(p[1] - k[1]) + k[2] * p[1];
    };
    state = {1, f, {}, {}, 0};
    mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
    EXPECT_EQ(state.calls.size(), std::stoul(row[3])) << row[0];
    for (auto [got, e] : {std::pair{ax, expected[0]}, {bx, expected[1]}, {cx, expected[2]}})
      EXPECT_NEAR(got, e, tol * (1 + std::fabs(e))) << row[0];
    EXPECT_TRUE(fa == recorded_line(ax) && fb == recorded_line(bx) && fc == recorded_line(cx));
  }
}

// (y - x^2)^2 + exp(-x): its infimum 0 lies at infinity along y = x^2; no search converges.
double endless_valley(const Vec& p) { return sq(p[2] - p[1] * p[1]) + std::exp(-p[1]); }

// Frprmn in the endless valley with a gradient of 0 from call K on: the line search along 0
// changes nothing, and iteration K ends the search; with ftol 0 nothing else can.
Result stopped_at(int K) {
  return run("Frprmn", {0, 0, 0}, 0, endless_valley, [K](const Vec& p) {
    double y = p[2] - p[1] * p[1], x = state.gradient_calls + 1 >= K ? 0 : 1;
    return Vec{0, x * (-4 * p[1] * y - std::exp(-p[1])), x * 2 * y};
  });
}

// brent on ever wider brackets of a rising line, with tolerance 0, prints its number of evaluations
// whenever it changes: the longest successful search makes 100.
void widen_brent() {
  state = {1, [](const Vec& p) { return p[1]; }, {}, {}, 0};
  std::size_t last = 0;
  for (double w = 1e-9; w < 1e30; w *= 1.01) {
    double xmin;
    state.calls.clear();
    brent(0, w / 2, w, recorded_line, 0.0, &xmin);
    if (state.calls.size() != last) std::fprintf(stderr, "evaluations %zu\n", state.calls.size());
    last = state.calls.size();
  }
}

TEST(IterationLimitsDeathTest, TheIterationAfterTheLastAllowedEndsTheRunNamingTheRoutine) {
  for (int K : {1, 2, 200}) EXPECT_EQ(stopped_at(K).iter, K);
  const std::pair<std::function<void()>, std::string> runs[] = {
      {[] {
         run("Powell", {0, 0, 0}, 0, endless_valley);
       },
       numerror_report("powell exceeding maximum iterations.")},
      {[] { stopped_at(201); }, numerror_report("Too many iterations in frprmn")},
      {widen_brent, "evaluations 100\n" + numerror_report("Too many iterations in brent")}};
  for (const auto& [action, pattern] : runs)
    EXPECT_EXIT(action(), ::testing::ExitedWithCode(1), pattern);
}

}  // namespace
