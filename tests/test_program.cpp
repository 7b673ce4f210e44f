// End-to-end tests of the built splinefit program on valid input: results derived by hand or
// against independent references, envelopes, knots files and the row and knot limits. Refusals
// and hostile input are in test_hostile.cpp.
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.hpp"

namespace {

using Splinefit = ProgramRun;

const std::string standard_parameters =
    "2 Nout\n6 Precision\n1e-8 criterion\n0 Envelope\n100 Nmax\n";

// Four points on y = 0, quadratic, two automatic intervals. Powell starts at its minimum, so
// every coefficient stays exactly 0 and the whole results file follows by hand: knots 1, 2.5
// (midpoint of x = 2 and 3) and 4; table abscissae 1, 1.75 | 2.5, 3.25, 4.
TEST_F(Splinefit, DataOnZeroGiveAResultsFileDerivedByHand) {
  configure("data/ run1\n1 2 0 2 2 2\n", standard_parameters);
  write("data/run1.dat", "Calibration run\n3 0\n1 0\n2 0\n4 0\n");
  Outcome o = run();
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "\nCalibration run\n\nIterations in optimisation:   1\n\nPress enter key");
  EXPECT_EQ(o.err, "");
  const std::string zero = "  0.00000e+00\t";
  EXPECT_EQ(read("data/run1.res"),
            "Calibration run\n\n# Data points\n\n1\t0\n2\t0\n3\t0\n4\t0"
            "\n\n# All spline data - knots and coefficients\n\n#\t2\t2"
            "\n  1.00000e+00\t" +
                zero + zero + zero + "\n  2.50000e+00\t" + zero + zero + zero +
                "\n  4.00000e+00\t" + zero + zero + zero +
                "\n\n# Computed splines - values and derivatives\n"
                "\n1\t0\t0\t0\t\n1.75\t0\t0\t0\t\n2.5\t0\t0\t0\t\n3.25\t0\t0\t0\t\n4\t0\t0\t0\t\n");
  EXPECT_EQ(read("Control.plt"), "Dir = 'data/'\nName = 'run1'");
  EXPECT_FALSE(exists("data/run1-1.dat"));
}

// Every point lies on the fitted curve, so both envelopes hold every point; the results file
// then ends with the tab of its last table row and the envelope file with a line break.
TEST_F(Splinefit, PointsOnTheCurveBelongToBothEnvelopes) {
  for (const char* sign : {"1", "-5"}) {
    configure("data/ run1 1 2 0 2 3 1", std::string("3 Nout\n10 Precision\n1e-8 criterion\n") +
                                            sign + " Envelope\n100 Nmax\n");
    write("data/run1.dat", "Zero\n0.5 0\n0.25 0\n1 0\n");
    Outcome o = run();
    ASSERT_EQ(o.status, 0) << o.err;
    std::string results = read("data/run1.res");
    const std::string zero = "  0.000000000e+00\t";
    EXPECT_NE(results.find("\n#\t1\t3\n  2.500000000e-01\t" + zero + zero + zero + zero +
                           "\n  1.000000000e+00\t"),
              std::string::npos);
    EXPECT_EQ(results.substr(results.size() - 11), "\n1\t0\t0\t0\t0\t");
    EXPECT_EQ(read("data/run1-1.dat"),
              "Zero envelope curve calculations\n\n0.25\t0\n0.5\t0\n1\t0\n");
  }
}

// Data on one cubic: the fit reproduces it on every interval, in the coefficient block and in
// the table, to the printed precision.
TEST_F(Splinefit, DataOnACubicAreReproducedByTheFittedSpline) {
  auto p = [](double t) { return 1.0 + t * (-0.5 + t * (0.25 - 0.125 * t)); };
  auto d1 = [](double t) { return -0.5 + t * (0.5 - 0.375 * t); };
  auto d2 = [](double t) { return 0.5 - 0.75 * t; };
  configure("data/ run1 1 2 0 2 3 3",
            "4 Nout\n12 Precision\n1e-12 criterion\n0 Envelope\n1000 Nmax\n");
  std::string data = "Cubic\n";
  for (int i = 0; i <= 40; i++) {
    char row[64];
    std::snprintf(row, sizeof row, "%.17g %.17g\n", -1.0 + i * 0.1, p(-1.0 + i * 0.1));
    data += row;
  }
  write("data/run1.dat", data);
  Outcome o = run();
  ASSERT_EQ(o.status, 0) << o.err;
  std::istringstream in(read("data/run1.res"));
  std::string line;
  while (std::getline(in, line) && line != "#\t3\t3") {
  }
  for (int j = 1; j <= 4; j++) {
    double knot, c0, c1, c2, c3;
    in >> knot >> c0 >> c1 >> c2 >> c3;
    EXPECT_NEAR(c0, p(knot), 1e-6) << j;
    EXPECT_NEAR(c1, d1(knot), 1e-5) << j;
    EXPECT_NEAR(c2, d2(knot) / 2, 1e-4) << j;
    EXPECT_NEAR(c3, -0.125, 1e-4) << j;
  }
  while (std::getline(in, line) && line != "# Computed splines - values and derivatives") {
  }
  int rows = 0;
  double t, v, s, k, third;
  while (in >> t >> v >> s >> k >> third) {
    rows++;
    EXPECT_NEAR(v, p(t), 1e-6);
    EXPECT_NEAR(s, d1(t), 1e-5);
    EXPECT_NEAR(k, d2(t), 1e-4);
    EXPECT_NEAR(third, -0.75, 1e-3);
  }
  EXPECT_EQ(rows, 3 * 4 + 1);
}

// One interval: the fit is the ordinary least-squares polynomial, here solved in the test by
// Gaussian elimination on the normal equations in long double (well conditioned on [0, 1]).
TEST_F(Splinefit, OneIntervalGivesTheLeastSquaresPolynomial) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<double> xs, ys;
  std::string data = "Noisy parabola\n";
  for (int i = 0; i < 60; i++) {
    double t = i / 59.0;
    double v = std::round((2.0 - t + 3.0 * t * t + noise(rng)) * 1e6) / 1e6;
    xs.push_back(t);
    ys.push_back(v);
    char row[64];
    std::snprintf(row, sizeof row, "%.17g %.17g\n", t, v);
    data += row;
  }
  configure("data/ run1 1 2 0 2 2 1",
            "5 Nout\n15 Precision\n1e-14 criterion\n0 Envelope\n1000 Nmax\n");
  write("data/run1.dat", data);
  Outcome o = run();
  ASSERT_EQ(o.status, 0) << o.err;
  long double A[3][4] = {};
  for (std::size_t i = 0; i < xs.size(); i++) {
    long double b[3] = {1.0L, xs[i], static_cast<long double>(xs[i]) * xs[i]};
    for (int r = 0; r < 3; r++) {
      for (int col = 0; col < 3; col++) A[r][col] += b[r] * b[col];
      A[r][3] += b[r] * ys[i];
    }
  }
  for (int p = 0; p < 3; p++)
    for (int r = p + 1; r < 3; r++) {
      long double f = A[r][p] / A[p][p];
      for (int col = p; col < 4; col++) A[r][col] -= f * A[p][col];
    }
  long double a[3];
  for (int r = 2; r >= 0; r--) {
    a[r] = A[r][3];
    for (int col = r + 1; col < 3; col++) a[r] -= A[r][col] * a[col];
    a[r] /= A[r][r];
  }
  std::istringstream in(read("data/run1.res"));
  std::string line;
  while (std::getline(in, line) && line != "#\t1\t2") {
  }
  double knot, c0, c1, c2;
  in >> knot >> c0 >> c1 >> c2;
  EXPECT_EQ(knot, 0.0);
  EXPECT_NEAR(c0, static_cast<double>(a[0]), 1e-7);
  EXPECT_NEAR(c1, static_cast<double>(a[1]), 1e-6);
  EXPECT_NEAR(c2, static_cast<double>(a[2]), 1e-6);
}

// A title and rows of (0.1 i, sin 0.1 i).
std::string example_data(int rows, bool final_break = true) {
  std::string data = "Title line\n";
  for (int i = 0; i < rows; i++)
    data += std::to_string(0.1 * i) + "\t" + std::to_string(std::sin(0.1 * i)) + "\n";
  if (!final_break) data.pop_back();
  return data;
}

TEST_F(Splinefit, TheRowLimitAdmitsNmaxMinusTwoRows) {
  configure("data/ run1 1 2 0 2 2 1",
            "5 Nout\n6 Precision\n1e-6 criterion\n0 Envelope\n1000 Nmax\n");
  write("data/run1.dat", example_data(998, false));  // the unterminated row counts too
  Outcome accepted = run();
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_TRUE(exists("data/run1.res"));
  fs::remove(path("data/run1.res"));
  write("data/run1.dat", example_data(999));
  Outcome refused = run();
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.out,
            "\nThe program thinks you have more than 1000 data points"
            "\nPlease check your data, or, increase the value in the last row in "
            "Computational-parameters.dat\nPaused: Press a key");
  EXPECT_FALSE(exists("data/run1.res"));
}

TEST_F(Splinefit, KnotsComeFromTheKnotsFileWhenJIsNotPositive) {
  configure("data/ run1 1 2 0 2 2 -3", standard_parameters);
  write("data/run1.dat", example_data(30));
  for (const char* knots :
       {"Knots\n0\n0.5\n1.5\n2.0\n2.9\n", "Knots\n0\n0.5\n1.5\n\n2.0 two\n2.9"}) {
    write("data/run1.knots", knots);
    Outcome o = run();
    ASSERT_EQ(o.status, 0) << o.err;
    std::string results = read("data/run1.res");
    EXPECT_NE(results.find("\n#\t4\t2\n  0.00000e+00\t"), std::string::npos);
    EXPECT_NE(results.find("\n  2.90000e+00\t"), std::string::npos);
  }
}

TEST_F(Splinefit, TheEnvelopeFileIsAValidDataFileForAFurtherRun) {
  configure("data/ run1 1 2 0 2 3 3",
            "4 Nout\n6 Precision\n1e-8 criterion\n-1 Envelope\n100 Nmax\n");
  write("data/run1.dat", example_data(40));
  ASSERT_EQ(run().status, 0);
  std::string envelope = read("data/run1-1.dat");
  EXPECT_EQ(envelope.rfind("Title line envelope curve calculations\n\n0\t0\n", 0), 0u);
  configure("data/ run1-1 1 2 0 2 2 1", standard_parameters);
  Outcome again = run();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(exists("data/run1-1.res"));
}

TEST_F(Splinefit, KnotsFilesWithMoreThan99KnotsAreRefusedNotCut) {
  configure("data/ run1 1 2 0 2 2 0", standard_parameters);
  write("data/run1.dat", example_data(30));
  std::string knots = "Knots\n";
  for (int k = 0; k < 99; k++) knots += std::to_string(k * 0.03) + "\n";
  write("data/run1.knots", knots);
  Outcome ninety_nine = run();
  EXPECT_EQ(ninety_nine.status, 0) << ninety_nine.err;
  EXPECT_NE(read("data/run1.res").find("\n#\t98\t2\n"), std::string::npos);
  write("data/run1.knots", knots + "3.0\n");
  Outcome hundred = run();
  EXPECT_EQ(hundred.status, 2);
  EXPECT_NE(hundred.err.find("run1.knots, line 101: holds more than 99 knots"), std::string::npos)
      << hundred.err;
}

}  // namespace
