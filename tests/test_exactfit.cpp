// The exact least-squares fit: against an independent dense solve and Powell's fit, exact
// reproduction of polynomials, the choice in undetermined problems, and the Method setting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ExactFit.hpp"
#include "Input.hpp"
#include "Optimise.hpp"
#include "model_setup.hpp"

namespace {

std::vector<double> exact_parameters() {
  std::vector<double> Z(NN + 1, 0.0);
  exact_fit(Z.data());
  return Z;
}

double objective(std::vector<double> Z) { return Eqn(Z.data()); }

// Eqn at the end of the driver's Powell fit. Powell ends the process when it exhausts its
// iterations, which it does on some badly scaled problems; so it runs in a child process, and
// the result is NaN when the child ends that way.
double powell_minimum(double criterion) {
  int channel[2];
  if (pipe(channel) != 0) return std::nan("");
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    dup2(open("/dev/null", O_WRONLY), 2);
    double* Z = dvector(1, NN);
    double** A = dmatrix(1, NN, 1, NN);
    for (int i = 1; i <= NN; i++) {
      Z[i] = 0.0;
      for (int j = 1; j <= NN; j++) A[i][j] = i == j ? 1.0 : 0.0;
    }
    int iter = 0;
    double fret = 0.0;
    Powell(Z, A, NN, criterion, &iter, &fret, Eqn);
    double f = Eqn(Z);
    _exit(write(channel[1], &f, sizeof f) == sizeof f ? 0 : 1);
  }
  close(channel[1]);
  double f = std::nan("");
  if (child < 0 || read(channel[0], &f, sizeof f) != sizeof f) f = std::nan("");
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return f;
}

// The least sum of squares by Householder QR with column pivoting of the whole N x NN parameter
// map. Column k is the model at every point for the unit parameter vector e_k, scaled to unit
// length; columns left shorter than 1e-12 after the projections count as dependent.
double dense_minimum() {
  std::vector<std::vector<double>> A(NN, std::vector<double>(N));
  for (int k = 0; k < NN; k++) {
    std::vector<double> e(NN + 1, 0.0);
    e[k + 1] = 1.0;
    Transfer(e.data());
    Continuity();
    double norm = 0.0;
    for (int i = 0; i < N; i++) norm += std::pow(A[k][i] = P0(x[i + 1], I[i + 1]), 2);
    for (double& a : A[k]) a /= norm > 0.0 ? std::sqrt(norm) : 1.0;
  }
  std::vector<double> b(y + 1, y + N + 1);
  int rank = 0;
  for (; rank < NN && rank < N; rank++) {
    auto tail = [&](const std::vector<double>& v) {
      double s = 0.0;
      for (int i = rank; i < N; i++) s += v[i] * v[i];
      return s;
    };
    auto pivot = std::max_element(A.begin() + rank, A.end(),
                                  [&](const auto& p, const auto& q) { return tail(p) < tail(q); });
    std::swap(A[rank], *pivot);
    double norm = std::sqrt(tail(A[rank]));
    if (norm <= 1e-12) break;
    std::vector<double> v(A[rank].begin() + rank, A[rank].end());
    double alpha = v[0] > 0.0 ? -norm : norm;
    v[0] -= alpha;
    double vv = 0.0;
    for (double t : v) vv += t * t;
    auto reflect = [&](std::vector<double>& col) {
      double s = 0.0;
      for (int i = rank; i < N; i++) s += v[i - rank] * col[i];
      for (int i = rank; i < N; i++) col[i] -= 2.0 * s / vv * v[i - rank];
    };
    for (int k = rank + 1; k < NN; k++) reflect(A[k]);
    reflect(b);
  }
  double sum = 0.0;
  for (int i = rank; i < N; i++) sum += b[i] * b[i];
  return sum;
}

// Random problems: both degrees; automatic knots, or file knots that may leave the data, hold a
// repeated knot or bound an interval whose points were removed.
struct Problem {
  int M, automatic_J;
  std::vector<double> x, y, knots;
};

Problem random_problem(std::mt19937_64& rng, int trial) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);
  Problem p{2 + trial % 2, 0, {}, {}, {}};
  double a = std::vector<double>{0.0, -3.0, 100.0}[trial % 3], L = 1.0 + 19.0 * unit(rng);
  int n = 8 + static_cast<int>(rng() % 150);
  for (int i = 0; i < n; i++) p.x.push_back(a + L * unit(rng));
  std::sort(p.x.begin(), p.x.end());
  if ((trial / 2) % 2 == 0) {
    p.automatic_J = 1 + static_cast<int>(rng() % 8);
  } else {
    int J = 1 + static_cast<int>(rng() % 7);
    for (int j = 0; j <= J; j++) p.knots.push_back(a - 0.1 * L + 1.2 * L * unit(rng));
    std::sort(p.knots.begin(), p.knots.end());
    if (J >= 3 && trial % 5 == 1) p.knots[2] = p.knots[1];
    if (trial % 3 != 2) {  // empty one interval
      std::size_t j = rng() % J;
      std::erase_if(p.x, [&](double t) { return t >= p.knots[j] && t < p.knots[j + 1]; });
      if (p.x.empty()) p.x.push_back(a);
    }
  }
  double frequency = 0.5 + 2.0 * unit(rng);
  for (double t : p.x) p.y.push_back(std::sin(frequency * (t - a)) + noise(rng));
  return p;
}

TEST(ExactFit, MatchesADenseSolveAndIsNeverAbovePowell) {
  std::mt19937_64 rng(20240611);
  int with_empty_interval = 0, powell_gave_up = 0;
  for (int trial = 0; trial < 60; trial++) {
    Problem p = random_problem(rng, trial);
    set_model(p.M, p.x, p.y, p.knots, p.automatic_J);
    std::vector<int> points(J + 1, 0);
    for (int i = 1; i <= N; i++) points[I[i]]++;
    with_empty_interval += std::count(points.begin() + 1, points.end(), 0) > 0;
    double dense = dense_minimum();
    std::vector<double> Z = exact_parameters();
    for (int k = 1; k <= NN; k++) ASSERT_TRUE(std::isfinite(Z[k])) << trial;
    double exact = objective(Z);
    double scale = 1e-12 * std::max(1.0, dense);
    EXPECT_NEAR(exact, dense, 1e-9 * dense + scale)
        << "trial " << trial << ", M " << M << ", J " << J;
    double powell = powell_minimum(1e-8);
    if (std::isnan(powell))
      powell_gave_up++;
    else
      EXPECT_LE(exact, powell * (1 + 1e-12) + scale) << "trial " << trial;
  }
  EXPECT_GE(with_empty_interval, 10);  // the table really holds intervals without data
  EXPECT_LE(powell_gave_up, 10);       // and most trials were compared with Powell
}

TEST(ExactFit, ReproducesPolynomialDataOfItsDegree) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int degree : {2, 3})
    for (double origin : {0.0, 1e6})
      for (double width : {1.0, 1e3})
        for (bool automatic : {true, false}) {
          // y = sum of a[m] u^m, u = (t - centre) / (5 width) in [-1, 1]
          std::vector<double> a, xs, ys, knots;
          for (int m = 0; m <= degree; m++) a.push_back(unit(rng));
          for (int i = 0; i < 120; i++) xs.push_back(origin + 10 * width * (unit(rng) + 1) / 2);
          std::sort(xs.begin(), xs.end());
          for (double t : xs) {
            double u = (t - origin - 5 * width) / (5 * width);
            ys.push_back(a[0] + u * (a[1] + u * (a[2] + u * (degree == 3 ? a[3] : 0.0))));
          }
          if (!automatic)
            for (double k : {0.0, 1.0, 2.5, 2.5, 6.0, 9.0, 9.5, 10.0})
              knots.push_back(origin + k * width);
          set_model(degree, xs, ys, knots, 9);
          double worst = 0.0;
          Eqn(exact_parameters().data());
          for (int i = 1; i <= N; i++) worst = std::max(worst, std::fabs(P0(x[i], I[i]) - y[i]));
          EXPECT_LT(worst, 1e-11) << "M " << degree << ", origin " << origin << ", width " << width;
        }
}

// The least-squares polynomial of degree M is the one whose residuals are orthogonal to every
// power 0..M of the abscissa (taken here about the middle of the data, scaled to [-1, 1]).
TEST(ExactFit, WithOneIntervalIsTheLeastSquaresPolynomial) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int degree : {2, 3})
    for (double origin : {0.0, -50.0, 1e4}) {
      std::vector<double> xs, ys;
      for (int i = 0; i < 40; i++) xs.push_back(origin + 7 * unit(rng));
      std::sort(xs.begin(), xs.end());
      for (double t : xs) ys.push_back(std::exp(-(t - origin)) + 0.05 * unit(rng));
      set_model(degree, xs, ys, {}, 1);
      Eqn(exact_parameters().data());
      double mid = (xs.front() + xs.back()) / 2, half = (xs.back() - xs.front()) / 2;
      for (int m = 0; m <= degree; m++) {
        double sum = 0.0, size = 0.0;
        for (int i = 1; i <= N; i++) {
          double term = (P0(x[i], 1) - y[i]) * std::pow((x[i] - mid) / half, m);
          sum += term;
          size += std::fabs(term);
        }
        EXPECT_LT(std::fabs(sum), 1e-10 * size)
            << "M " << degree << ", origin " << origin << ", power " << m;
      }
      EXPECT_NEAR(Eqn(exact_parameters().data()), dense_minimum(), 1e-9 * dense_minimum());
    }
}

TEST(ExactFit, IntervalsWithoutDataContinueTheirNeighboursPolynomial) {
  for (int degree : {2, 3}) {
    std::vector<double> xs, ys;
    for (int i = 0; i < 60; i++) xs.push_back(2.0 + 4.0 * i / 59);  // all inside [2, 6]
    for (double t : xs) ys.push_back(std::cos(t) + 0.01 * std::sin(37 * t));
    set_model(degree, xs, ys, {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 9.0});
    std::vector<double> Z = exact_parameters();
    Eqn(Z.data());
    double top = std::fabs(c[3][degree]) + std::fabs(c[6][degree]);
    for (int j : {1, 2}) EXPECT_NEAR(c[j][degree], c[3][degree], 1e-9 * top) << "interval " << j;
    for (int j : {7, 8}) EXPECT_NEAR(c[j][degree], c[6][degree], 1e-9 * top) << "interval " << j;
    EXPECT_NEAR(objective(Z), dense_minimum(), 1e-9 * dense_minimum());
  }
}

TEST(ExactFit, DegenerateProblemsGiveAFiniteMinimiser) {
  struct Case {
    const char* what;
    std::vector<double> xs, knots;
  };
  const std::vector<Case> cases = {
      {"one point", {1.5}, {0.0, 1.0, 2.0, 3.0}},
      {"fewer points than parameters", {0.2, 1.1, 2.9}, {0.0, 1.0, 2.0, 3.0}},
      {"every point on one abscissa", {4.0, 4.0, 4.0, 4.0, 4.0}, {0.0, 2.0, 4.0, 6.0}},
      {"zero-width intervals", {0.1, 0.5, 0.9, 1.3, 1.7, 2.1, 2.6}, {0.0, 1.0, 1.0, 1.0, 3.0}},
      {"repeated last knot, points beyond it", {0.5, 1.0, 2.0, 3.5, 4.0}, {0.0, 1.0, 3.0, 3.0}},
      {"all knots on one point", {-1.0, 0.0, 0.0, 2.0}, {0.0, 0.0, 0.0}},
      {"points far outside the knots", {-100.0, -90.0, 50.0, 60.0, 70.0}, {0.0, 1.0, 2.0}},
      // Determined, but the lone point just right of knot 6 makes the minimiser's jumps huge.
      {"a lone point near its left knot",
       {-0.6, -0.2, -0.1, 1.2, 1.4, 1.6, 1.8, 1.9, 3.3, 5.5, 6.02},
       {0.0, 1.0, 3.0, 4.5, 6.0, 8.0, 10.0}},
  };
  for (int degree : {2, 3})
    for (const Case& k : cases) {
      std::vector<double> ys;
      for (double t : k.xs) ys.push_back(1.0 + t - 0.3 * t * t + std::sin(5 * t));
      set_model(degree, k.xs, ys, k.knots);
      std::vector<double> Z = exact_parameters();
      for (int j = 1; j <= NN; j++) ASSERT_TRUE(std::isfinite(Z[j])) << k.what;
      double dense = dense_minimum();
      EXPECT_NEAR(objective(Z), dense, 1e-9 * dense + 1e-18) << k.what << ", M " << degree;
    }
}

TEST(ExactFit, BelowDegreePlusOneAbscissaeTheFitIsTheLowestPolynomialThroughTheMeans) {
  struct Case {
    int M;
    std::vector<double> xs, ys;
  };
  const std::vector<Case> cases = {
      {2, {1.5}, {2.0}},
      {3, {4.0, 4.0, 4.0}, {1.0, 2.0, 6.0}},
      {2, {1.0, 1.0, 5.0, 5.0, 5.0}, {0.0, 1.0, 2.0, 3.0, 7.0}},
      {3, {1.0, 5.0, 5.0}, {-1.0, 2.0, 4.0}},
      {3, {0.2, 1.1, 1.1, 2.9}, {0.5, -1.0, 0.0, 2.0}},
  };
  for (const Case& k : cases) {
    set_model(k.M, k.xs, k.ys, {0.0, 1.0, 2.0, 3.0, 4.0, 6.0});
    // Lagrange form through the distinct abscissae and their mean ordinates.
    std::vector<double> xi, mean, count;
    for (std::size_t i = 0; i < k.xs.size(); i++) {
      std::size_t p = std::find(xi.begin(), xi.end(), k.xs[i]) - xi.begin();
      if (p == xi.size()) xi.push_back(k.xs[i]), mean.push_back(0.0), count.push_back(0.0);
      mean[p] += k.ys[i];
      count[p] += 1.0;
    }
    auto through_means = [&](double t) {
      double s = 0.0;
      for (std::size_t p = 0; p < xi.size(); p++) {
        double l = mean[p] / count[p];
        for (std::size_t q = 0; q < xi.size(); q++)
          if (q != p) l *= (t - xi[q]) / (xi[p] - xi[q]);
        s += l;
      }
      return s;
    };
    Eqn(exact_parameters().data());
    for (int j = 1; j <= J; j++)
      for (double t : {X[j], (X[j] + X[j + 1]) / 2, X[j + 1]})
        EXPECT_NEAR(P0(t, j), through_means(t), 1e-12) << k.xs.size() << " points, interval " << j;
  }
}

// Data on [0, 2] and [7, 9] with a knot at every integer: the spline over the gap is left to the
// choice of the smallest jumps, and rounding must not sway that choice.
TEST(ExactFit, PointOrderDoesNotSwayTheChoiceAcrossAGapWithoutData) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int degree : {2, 3}) {
    std::vector<double> xs, ys;
    for (int i = 0; i < 400; i++) xs.push_back(unit(rng) < 0.5 ? 2 * unit(rng) : 7 + 2 * unit(rng));
    std::sort(xs.begin(), xs.end());
    for (double t : xs) ys.push_back(std::sin(t) + 0.1 * unit(rng));
    set_model(degree, xs, ys, {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0});
    std::vector<double> sorted = exact_parameters();
    std::vector<int> perm(N);
    for (int i = 0; i < N; i++) perm[i] = i + 1;
    std::shuffle(perm.begin(), perm.end(), rng);
    std::vector<double> xs0(x + 1, x + N + 1), ys0(y + 1, y + N + 1);
    std::vector<int> is0(I + 1, I + N + 1);
    for (int i = 0; i < N; i++) {
      x[i + 1] = xs0[perm[i] - 1];
      y[i + 1] = ys0[perm[i] - 1];
      I[i + 1] = is0[perm[i] - 1];
    }
    std::vector<double> shuffled = exact_parameters();
    for (int k = 1; k <= NN; k++) EXPECT_NEAR(shuffled[k], sorted[k], 1e-9) << "M " << degree;
    double f = dense_minimum();
    EXPECT_NEAR(objective(shuffled), f, 1e-9 * f);
    Eqn(sorted.data());
    for (double t = 2.0; t <= 7.0; t += 0.25)
      EXPECT_LT(std::fabs(P(t)), 3.0) << t;  // a tame bridge
  }
}

TEST(MethodSetting, OptionalSixthValueAfterNmax) {
  const std::string values = "Parameters\n10 Nout\n6 Precision\n1e-8 criterion\n0 Envelope\n";
  struct Case {
    std::string tail;
    int Method;
  };
  const std::vector<Case> cases = {
      {"100 Nmax", 0},
      {"100 Nmax\n", 0},
      {"100 Nmax\n0 Powell\n", 0},
      {"100 Nmax\n1 exact\n", 1},
      {"100 Nmax\n\n\n1\n", 1},
      {"100 Nmax\r\n1 exact\r\n", 1},
      {"100 Nmax\nMethod 1\n", 0},
      {"100 Nmax\nnotes\n2\n", 0},
      {"100 Nmax\n-x\n", 0},
  };
  for (const Case& k : cases)
    EXPECT_EQ(parse_computational_parameters(values + k.tail, "p.dat").Method, k.Method) << k.tail;
  for (std::string bad : {"2 other", "-1", "99999999999"}) {
    try {
      parse_computational_parameters(values + "100 Nmax\n" + bad + "\n", "p.dat");
      ADD_FAILURE() << bad << " was accepted";
    } catch (const InputError& error) {
      std::string what = error.what();
      EXPECT_EQ(what.rfind("p.dat, line 7: Method is ", 0), 0u) << what;
    }
  }
}

// The whole program with Method 1 in a scratch directory: exit status, console line, results.
TEST(MethodSetting, TheProgramRunsTheExactFitWithZeroIterationsOrRefusesOtherMethods) {
  namespace fs = std::filesystem;
  fs::path dir =
      fs::path(::testing::TempDir()) / ("splinefit-exactfit-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "data");
  fs::path home = fs::current_path();
  fs::current_path(dir);
  std::ofstream("Control.dat") << "data/ run\n1 2 0 2 3 4\n";
  std::ofstream data("data/run.dat");
  data << "Test run\n";
  for (int i = 0; i < 50; i++) data << i * 0.2 << ' ' << std::sin(i * 0.2) << '\n';
  data.close();
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  release_model();  // the driver allocates its own state
  for (int method : {1, 2}) {
    std::ofstream("Computational-parameters.dat")
        << "Parameters\n4 Nout\n6 Precision\n1e-8 criterion\n0 Envelope\n100 Nmax\n"
        << method << " Method\n";
    fs::remove("data/run.res");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int status = splinefit_main();
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    if (method == 1) {
      EXPECT_EQ(status, 0) << err;
      EXPECT_NE(out.find("\nIterations in optimisation:   0\n"), std::string::npos) << out;
      EXPECT_TRUE(fs::exists("data/run.res"));
    } else {
      EXPECT_EQ(status, 2);
      EXPECT_NE(err.find("Computational-parameters.dat, line 7: Method is 2"), std::string::npos)
          << err;
      EXPECT_FALSE(fs::exists("data/run.res"));
    }
  }
  fs::current_path(home);
  if (!HasFailure()) fs::remove_all(dir);
}

}  // namespace
