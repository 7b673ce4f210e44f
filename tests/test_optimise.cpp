// Optimisation library: problems with known minima and small problems traced by hand for every
// minimiser, the bracketing branches, the tie rule, and the iteration limits.
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

// The routines take plain function pointers; these record every call.
int dim = 0, gradient_calls = 0;
Objective objective_f;
Gradient gradient_f;
std::vector<Vec> calls;
double recorded_objective(double* p) {
  calls.emplace_back(p, p + dim + 1)[0] = 0;
  return objective_f(calls.back());
}
void recorded_gradient(double* p, double* out) {
  Vec d = gradient_f(Vec(p, p + dim + 1));
  std::copy(d.begin() + 1, d.end(), out + 1), gradient_calls++;
}
double recorded_line(double x) { return objective_f(calls.emplace_back(Vec{0, x})); }

struct Result {
  Vec p;
  std::vector<Vec> xi;  // [j][i]: component j of direction i
  int iter = 0;
  double fret = 0;
};
// The routine from p (1-based); for brent, mnbrak from p[1] and p[2] first, then brent to
// tolerance ftol; any other name only sets the objective and clears the record.
Result run(const std::string& routine, Vec p, double ftol, Objective f, Gradient g = {}) {
  dim = int(p.size()) - 1, objective_f = f, gradient_f = g, gradient_calls = 0, calls.clear();
  Result r{p, std::vector<Vec>(dim + 1, Vec(dim + 1, 0.0))};
  std::vector<double*> rows;
  for (int i = 0; i <= dim; i++) r.xi[i][i] = 1, rows.push_back(r.xi[i].data());
  if (routine == "Powell")
    Powell(r.p.data(), rows.data(), dim, ftol, &r.iter, &r.fret, recorded_objective);
  if (routine == "Frprmn")
    Frprmn(r.p.data(), dim, ftol, &r.iter, &r.fret, recorded_objective, recorded_gradient);
  if (routine != "brent") return r;
  double ax = p[1], bx = p[2], cx, fa, fb, fc;
  mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line), r.p.resize(2);
  r.fret = brent(ax, bx, cx, recorded_line, ftol, &r.p[1]);
  return r;
}

// The objectives of the tables; "coupled c" is (x - 1)^2 + (y - 1)^2 + c (x - 1) y.
std::pair<Objective, Gradient> objective(const std::string& name) {
  double c = name.starts_with("coupled ") ? std::stod(name.substr(8)) : 0;
  if (name == "rosenbrock")
    return {[](const Vec& p) { return 100 * sq(p[2] - p[1] * p[1]) + sq(1 - p[1]); },
            [](const Vec& p) {
              return Vec{0, -400 * p[1] * (p[2] - p[1] * p[1]) - 2 * (1 - p[1]),
                         200 * (p[2] - p[1] * p[1])};
            }};
  if (name == "quadratic_ab")
    return {
        [](const Vec& p) { return 0.5 * (p[1] * p[1] + 2 * p[1] * p[2] + 2 * p[2] * p[2]) - p[1]; },
        [](const Vec& p) {
          return Vec{0, p[1] + p[2] - 1, p[1] + 2 * p[2]};
        }};
  const std::map<std::string, Objective> others = {
      {"powell_quartic",
       [](const Vec& x) {
         return sq(x[1] + 10 * x[2]) + 5 * sq(x[3] - x[4]) + std::pow(x[2] - 2 * x[3], 4) +
                10 * std::pow(x[1] - x[4], 4);
       }},
      {"kink_at_1", [](const Vec& p) { return (p[1] <= 1 ? 1 : 0.25) * sq(p[1] - 1); }},
      {"cosine", [](const Vec& p) { return std::cos(p[1]); }},
      {"square", [](const Vec& p) { return sq(p[1]); }},
      {"square_at_2", [](const Vec& p) { return sq(p[1] - 2); }},
      {"quartic_minus_x", [](const Vec& p) { return p[1] * p[1] * p[1] * p[1] - p[1]; }},
      {"exp_minus_20x", [](const Vec& p) { return std::exp(p[1]) - 20 * p[1]; }},
      {"kink_at_0.7", [](const Vec& p) { return std::pow(std::fabs(p[1] - 0.7), 1.5); }}};
  if (others.contains(name)) return {others.at(name), {}};
  double scale = name == "tiny coupled 0" ? 1e-20 : 1;
  return {[c, scale](const Vec& p) {
            return scale * (sq(p[1] - 1) + sq(p[2] - 1) + c * (p[1] - 1) * p[2]);
          },
          {}};
}

TEST(Minimisers, FindEveryKnownMinimumAndFollowEveryHandTrace) {
  for (const Row& row : table("minimisations.txt")) {
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
      EXPECT_TRUE(near(r.xi[1 + k / dim][1 + k % dim], xi[k], tol)) << k;
    EXPECT_EQ(r.fret, f(r.p));  // the value reported is the value at the point returned
    auto reflected = std::find(calls.begin(), calls.end(), Vec{0, 2, 2});
    EXPECT_TRUE(std::isnan(after[1]) || (calls.end() - reflected > 2 && reflected[2] == after));
  }
}

TEST(Mnbrak, EveryBranchGivesTheHandDerivedBracketAndNumberOfEvaluations) {
  for (const Row& row : table("mnbrak_branches.txt")) {
    Vec k = numbers(row[1]), start = numbers(row[2]), expected = numbers(row[4]);
    double ax = start[0], bx = start[1], cx, fa, fb, fc, tol = std::stod(row[5]);
    run("", {0}, 0, [k](const Vec& p) {
      return k[3] <= p[1] && p[1] < k[4] ? k[5] : k[0] * sq(p[1] - k[1]) + k[2] * p[1];
    });
    mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
    EXPECT_EQ(calls.size(), std::stoul(row[3])) << row[0];
    for (auto [got, e] : {std::pair{ax, expected[0]}, {bx, expected[1]}, {cx, expected[2]}})
      EXPECT_NEAR(got, e, tol * (1 + std::fabs(e))) << row[0];
    EXPECT_TRUE(fa == recorded_line(ax) && fb == recorded_line(bx) && fc == recorded_line(cx));
  }
}

TEST(Brent, StartsAtTheMiddlePointAndTiesMoveTheBestPointToTheNewOne) {
  // On a constant every step is golden, into the larger part: from x = 1 in [0, 3] the first lands
  // on u = 1 + 0.381966 2, and only if that tie moved x does the next go on from u towards 3.
  double xmin, u = 1 + 0.381966 * 2;
  run("", {0}, 0, [](const Vec&) { return 1.0; });
  brent(3, 1, 0, recorded_line, 0.0002, &xmin);
  EXPECT_EQ(Vec({calls[0][1], calls[1][1], calls[2][1]}), (Vec{1, u, u + 0.381966 * (3 - u)}));
}

// (y - x^2)^2 + exp(-x): its infimum 0 lies at infinity along y = x^2; no search converges.
double endless_valley(const Vec& p) { return sq(p[2] - p[1] * p[1]) + std::exp(-p[1]); }

void endless_powell() { run("Powell", {0, 0, 0}, 0, endless_valley); }

// Frprmn in the endless valley with a gradient of 0 from call K on: the line search along 0
// changes nothing, and iteration K ends the search; with ftol 0 nothing else can.
Result stopped_at(int K) {
  return run("Frprmn", {0, 0, 0}, 0, endless_valley, [K](const Vec& p) {
    double y = p[2] - p[1] * p[1], x = gradient_calls + 1 >= K ? 0 : 1;
    return Vec{0, x * (-4 * p[1] * y - std::exp(-p[1])), x * 2 * y};
  });
}

// brent on ever wider brackets of a rising line, with tolerance 0, prints its number of evaluations
// whenever it changes: the longest successful search makes 100.
void widen_brent() {
  run("", {0}, 0, [](const Vec& p) { return p[1]; });
  for (double w = 1e-9, last = 0; w < 1e30; w *= 1.01, last = double(calls.size())) {
    double xmin;
    calls.clear();
    brent(0, w / 2, w, recorded_line, 0.0, &xmin);
    if (double(calls.size()) != last) std::fprintf(stderr, "evaluations %zu\n", calls.size());
  }
}

TEST(IterationLimitsDeathTest, TheIterationAfterTheLastAllowedEndsTheRunNamingTheRoutine) {
  for (int K : {1, 2, 200}) EXPECT_EQ(stopped_at(K).iter, K);
  const std::pair<std::function<void()>, std::string> runs[] = {
      {endless_powell, numerror_report("powell exceeding maximum iterations.")},
      {[] { stopped_at(201); }, numerror_report("Too many iterations in frprmn")},
      {widen_brent, "evaluations 100\n" + numerror_report("Too many iterations in brent")}};
  for (const auto& [action, pattern] : runs)
    EXPECT_EXIT(action(), ::testing::ExitedWithCode(1), pattern);
}

}  // namespace
