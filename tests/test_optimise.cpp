// Optimisation library: problems with known minima and small problems traced by hand for every
// minimiser, the bracketing branches, the tie rule, and the iteration limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "Optimise.hpp"

namespace {

using Vec = std::vector<double>;  // 1-based: element 0 is unused and 0
using Objective = std::function<double(const Vec&)>;
using Gradient = std::function<Vec(const Vec&)>;
double sq(double x) { return x * x; }

// The fields between " | " of every line of a data file but comments.
std::vector<std::vector<std::string>> table(const std::string& name) {
  std::ifstream in(TEST_DATA "/library/" + name);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);)
    for (std::size_t at = 0, bar = 0; line[0] != '#' && bar != std::string::npos; at = bar + 3)
      (at ? rows.back() : rows.emplace_back())
          .push_back(line.substr(at, (bar = line.find(" | ", at)) - at));
  EXPECT_GT(rows.size(), 5u) << name;
  return rows;
}
Vec numbers(const std::string& text) {
  std::istringstream in(text);
  Vec v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

// The routines take plain function pointers; these record every call.
std::function<double(double)> line_f;
Vec line_calls;
double recorded_line(double x) { return line_calls.push_back(x), line_f(x); }
int dim = 0, gradient_calls = 0;
Objective objective_f;
Gradient gradient_f;
std::vector<Vec> calls;
Vec from(const double* p) {
  Vec v(dim + 1, 0.0);
  std::copy(p + 1, p + dim + 1, v.begin() + 1);
  return v;
}
double recorded_objective(double* p) { return calls.push_back(from(p)), objective_f(calls.back()); }
void recorded_gradient(double* p, double* out) {
  Vec d = gradient_f(from(p));
  gradient_calls++;
  std::copy(d.begin() + 1, d.end(), out + 1);
}

struct Result {
  Vec p;
  std::vector<Vec> xi;  // [j][i]: component j of direction i
  int iter = 0;
  double fret = 0;
};
Result run(bool powell, Vec p, double ftol, Objective f, Gradient g = {}) {
  dim = int(p.size()) - 1, objective_f = f, gradient_f = g, gradient_calls = 0, calls.clear();
  Result r{p, std::vector<Vec>(dim + 1, Vec(dim + 1, 0.0))};
  std::vector<double*> rows;
  for (int i = 0; i <= dim; i++) r.xi[i][i] = 1, rows.push_back(r.xi[i].data());
  if (powell) Powell(r.p.data(), rows.data(), dim, ftol, &r.iter, &r.fret, recorded_objective);
  if (!powell)
    Frprmn(r.p.data(), dim, ftol, &r.iter, &r.fret, recorded_objective, recorded_gradient);
  return r;
}

// The objectives of the table; "coupled c" is (x - 1)^2 + (y - 1)^2 + c (x - 1) y.
std::pair<Objective, Gradient> objective(const std::string& name) {
  double c = name.starts_with("coupled ") ? std::stod(name.substr(8)) : 0;
  if (name == "rosenbrock")
    return {[](const Vec& p) { return 100 * sq(p[2] - p[1] * p[1]) + sq(1 - p[1]); },
            [](const Vec& p) {
              return Vec{0, -400 * p[1] * (p[2] - p[1] * p[1]) - 2 * (1 - p[1]),
                         200 * (p[2] - p[1] * p[1])};
            }};
  if (name == "powell_quartic")
    return {[](const Vec& x) {
              return sq(x[1] + 10 * x[2]) + 5 * sq(x[3] - x[4]) + std::pow(x[2] - 2 * x[3], 4) +
                     10 * std::pow(x[1] - x[4], 4);
            },
            {}};
  if (name == "kink_at_1")
    return {[](const Vec& p) { return (p[1] <= 1 ? 1 : 0.25) * sq(p[1] - 1); }, {}};
  if (name == "quadratic_ab")
    return {
        [](const Vec& p) { return 0.5 * (p[1] * p[1] + 2 * p[1] * p[2] + 2 * p[2] * p[2]) - p[1]; },
        [](const Vec& p) {
          return Vec{0, p[1] + p[2] - 1, p[1] + 2 * p[2]};
        }};
  double scale = name == "tiny coupled 0" ? 1e-20 : 1;
  return {[c, scale](const Vec& p) {
            return scale * (sq(p[1] - 1) + sq(p[2] - 1) + c * (p[1] - 1) * p[2]);
          },
          {}};
}

TEST(Minimisers, FindEveryKnownMinimumAndFollowEveryHandTrace) {
  for (const auto& row : table("minimisations.txt")) {
    SCOPED_TRACE(row[0] + " " + row[1] + " from " + row[2] + ", ftol " + row[3]);
    auto [f, g] = objective(row[1]);
    Result r = run(row[0] == "Powell", numbers("0 " + row[2]), std::stod(row[3]), f, g);
    Vec p = numbers("0 " + row[5]), xi = numbers(row[7]), after = numbers("0 " + row[9]);
    double tol = std::stod(row[8]);
    EXPECT_TRUE(row[4] == "-" || r.iter == std::stoi(row[4])) << r.iter;
    for (std::size_t j = 1; j < p.size(); j++) EXPECT_NEAR(r.p[j], p[j], tol);
    EXPECT_TRUE(row[6] == "-" || std::fabs(r.fret - std::stod(row[6])) <= tol * tol) << r.fret;
    for (std::size_t k = 0; k < xi.size(); k++)
      EXPECT_NEAR(r.xi[1 + k / dim][1 + k % dim], xi[k], tol);
    EXPECT_EQ(r.fret, f(r.p));  // the value reported is the value at the point returned
    auto reflected = std::find(calls.begin(), calls.end(), Vec{0, 2, 2});
    EXPECT_TRUE(after.size() == 1 || (calls.end() - reflected > 2 && reflected[2] == after));
  }
}

std::string report(const std::string& text) {
  return "Numerical run-time error\\.\\.\\.\n" + text +
         "\n\\.\\.\\.now exiting to system\\.\\.\\.\n$";
}

// (y - x^2)^2 + exp(-x): its infimum 0 lies at infinity along y = x^2; no search converges.
double endless_valley(const Vec& p) { return sq(p[2] - p[1] * p[1]) + std::exp(-p[1]); }

TEST(PowellDeathTest, AThousandIterationsWithoutConvergenceEndTheRun) {
  EXPECT_EXIT(run(true, {0, 0, 0}, 0, endless_valley), ::testing::ExitedWithCode(1),
              report("powell exceeding maximum iterations\\."));
}

// The endless valley, whose gradient routine reports 0 from its call K on: the line search along
// 0 then changes nothing and iteration K ends the search; with ftol 0 nothing else can.
Result stopped_at(int K) {
  return run(false, {0, 0, 0}, 0, endless_valley, [K](const Vec& p) {
    double y = p[2] - p[1] * p[1], x = gradient_calls + 1 >= K ? 0 : 1;
    return Vec{0, x * (-4 * p[1] * y - std::exp(-p[1])), x * 2 * y};
  });
}

TEST(FrprmnDeathTest, TwoHundredIterationsMaySucceedAndTheNextEndsTheRun) {
  for (int K : {1, 2, 200}) EXPECT_EQ(stopped_at(K).iter, K);
  EXPECT_EXIT(stopped_at(201), ::testing::ExitedWithCode(1),
              report("Too many iterations in frprmn"));
}

TEST(LineSearch, MnbrakAndBrentFindEveryKnownMinimum) {
  const std::map<std::string, std::function<double(double)>> lines = {
      {"cosine", [](double x) { return std::cos(x); }},
      {"square", [](double x) { return x * x; }},
      {"square_at_2", [](double x) { return sq(x - 2); }},
      {"quartic_minus_x", [](double x) { return x * x * x * x - x; }},
      {"exp_minus_20x", [](double x) { return std::exp(x) - 20 * x; }},
      {"kink_at_0.7", [](double x) { return std::pow(std::fabs(x - 0.7), 1.5); }}};
  for (const auto& row : table("line_minima.txt")) {
    Vec start = numbers(row[1]);
    double ax = start[0], bx = start[1], cx, fa, fb, fc, xmin, expected = std::stod(row[2]);
    line_f = lines.at(row[0]);
    mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
    EXPECT_TRUE(fb <= fa && fb <= fc && (bx - ax) * (cx - bx) >= 0) << row[0];
    double fmin = brent(ax, bx, cx, recorded_line, 1e-8, &xmin);
    EXPECT_TRUE(fmin == line_f(xmin) &&
                std::fabs(xmin - expected) < 1e-6 * (1 + std::fabs(expected)))
        << row[0];
  }
}

TEST(Mnbrak, EveryBranchGivesTheHandDerivedBracketAndNumberOfEvaluations) {
  for (const auto& row : table("mnbrak_branches.txt")) {
    Vec k = numbers(row[1]), start = numbers(row[2]), expected = numbers(row[4]);
    double ax = start[0], bx = start[1], cx, fa, fb, fc, tol = std::stod(row[5]);
    line_f = [k](double x) {
      return k[3] <= x && x < k[4] ? k[5] : k[0] * sq(x - k[1]) + k[2] * x;
    };
    line_calls.clear();
    mnbrak(&ax, &bx, &cx, &fa, &fb, &fc, recorded_line);
    EXPECT_EQ(line_calls.size(), std::stoul(row[3])) << row[0];
    for (auto [got, e] : {std::pair{ax, expected[0]}, {bx, expected[1]}, {cx, expected[2]}})
      EXPECT_NEAR(got, e, tol * (1 + std::fabs(e))) << row[0];
    EXPECT_TRUE(fa == line_f(ax) && fb == line_f(bx) && fc == line_f(cx)) << row[0];
  }
}

TEST(Brent, StartsAtTheMiddlePointAndTiesMoveTheBestPointToTheNewOne) {
  // On a constant every step is golden, into the larger part: from x = 1 in [0, 3] the first lands
  // on u = 1 + 0.381966 2, and only if that tie moved x does the next go on from u towards 3.
  double xmin, u = 1 + 0.381966 * 2;
  line_f = [](double) { return 1.0; }, line_calls.clear();
  brent(3, 1, 0, recorded_line, 0.0002, &xmin);
  EXPECT_EQ(Vec(line_calls.begin(), line_calls.begin() + 3), (Vec{1, u, u + 0.381966 * (3 - u)}));
}

TEST(BrentDeathTest, OneHundredEvaluationsMaySucceedAndTheNextIterationEndsTheRun) {
  // On a rising line with tolerance 0 the number of golden steps grows with the bracket's width:
  // widen it until the run ends. The longest successful search makes 100 evaluations.
  auto widen = [] {
    line_f = [](double x) { return x; };
    for (double w = 1e-9, last = 0; w < 1e30; w *= 1.01, last = double(line_calls.size())) {
      double xmin;
      line_calls.clear();
      brent(0, w / 2, w, recorded_line, 0.0, &xmin);
      if (double(line_calls.size()) != last)
        std::fprintf(stderr, "evaluations %zu\n", line_calls.size());
    }
  };
  EXPECT_EXIT(widen(), ::testing::ExitedWithCode(1),
              "evaluations 100\n" + report("Too many iterations in brent"));
}

}  // namespace
