// End-to-end tests of the built splinefit program, each in a fresh working directory.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class Splinefit : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / "splinefit-e2e" / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work" / "data");
  }

  fs::path path(const std::string& name) const { return dir_ / "work" / name; }

  void write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }

  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool exists(const std::string& name) const { return fs::exists(path(name)); }

  // Control.dat for data set data/run1 and the parameter file, from their value lines.
  void configure(const std::string& control, const std::string& parameters) const {
    write("Control.dat", control);
    write("Computational-parameters.dat", "Parameters\n" + parameters);
  }

  Outcome run() const {
    std::string command = "cd '" + (dir_ / "work").string() + "' && '" SPLINEFIT_EXE
                          "' </dev/null >'" + (dir_ / "out").string() + "' 2>'" +
                          (dir_ / "err").string() + "'";
    int raw = std::system(command.c_str());
    Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "out"), slurp(dir_ / "err")};
    return o;
  }

 private:
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

const std::string standard_parameters = "2 Nout\n6 Precision\n1e-8 criterion\n0 Envelope\n100 Nmax\n";

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
            "\n  1.00000e+00\t" + zero + zero + zero +
            "\n  2.50000e+00\t" + zero + zero + zero +
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
    configure("data/ run1 1 2 0 2 3 1",
              std::string("3 Nout\n10 Precision\n1e-8 criterion\n") + sign + " Envelope\n100 Nmax\n");
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
  configure("data/ run1 1 2 0 2 2 1", "5 Nout\n15 Precision\n1e-14 criterion\n0 Envelope\n1000 Nmax\n");
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

std::string example_data(int rows, bool crlf = false, bool final_break = true) {
  std::string eol = crlf ? "\r\n" : "\n", data = "Title line" + eol;
  for (int i = 0; i < rows; i++) {
    double t = 0.1 * i;
    data += std::to_string(t) + "\t" + std::to_string(std::sin(t)) + eol;
  }
  if (!final_break) data.resize(data.size() - eol.size());
  return data;
}

// Spellings of the same settings and data give byte-identical results.
TEST_F(Splinefit, EquivalentSpellingsOfTheInputGiveIdenticalResults) {
  configure("data/ run1 1 2 0 2 3 4", standard_parameters);
  write("data/run1.dat", example_data(30));
  ASSERT_EQ(run().status, 0);
  const std::string reference = read("data/run1.res");
  struct Variant {
    const char* what;
    std::string control, parameters, data;
  };
  std::string wide;  // rows with more columns than read, blank lines in between
  for (int i = 0; i < 30; i++) {
    double t = 0.1 * i;
    wide += std::to_string(t) + "  " + std::to_string(std::sin(t)) + " 99 text\n\n";
  }
  const Variant variants[] = {
      {"items on many lines", "data/\nrun1\n1\n2\n0\n2\n3\n4\ntrailing text\n", standard_parameters,
       example_data(30)},
      {"text glued to values", "data/ run1 1 2 0 2 3 4",
       "\n\n2digits\n6digits of precision\n1.0E-8tolerance\n0\tenvelope\n100 rows at most\n",
       example_data(30)},
      {"criterion spelled out", "data/ run1 1 2 0 2 3 4",
       "2 Nout\n6 Precision\n0.00000001 criterion\n0 Envelope\n100 Nmax\n", example_data(30)},
      {"CR LF line ends", "data/ run1 1 2 0 2 3 4", standard_parameters, example_data(30, true)},
      {"extra columns and blank lines", "data/ run1 1 2 0 2 3 4", standard_parameters,
       "Title line\n\n" + wide},
  };
  for (const Variant& v : variants) {
    configure(v.control, v.parameters);
    write("data/run1.dat", v.data);
    Outcome o = run();
    ASSERT_EQ(o.status, 0) << v.what << ": " << o.err;
    EXPECT_EQ(read("data/run1.res"), reference) << v.what;
  }
}

TEST_F(Splinefit, ALastRowWithoutALineBreakIsReadLikeAnyOther) {
  configure("data/ run1 1 2 0 2 2 1", standard_parameters);
  write("data/run1.dat", example_data(5, false, false));
  ASSERT_EQ(run().status, 0);
  std::string results = read("data/run1.res");
  EXPECT_NE(results.find("\n0.4\t0.389418\n\n# All spline"), std::string::npos);
}

TEST_F(Splinefit, TheRowLimitAdmitsNmaxMinusTwoRows) {
  configure("data/ run1 1 2 0 2 2 1", "5 Nout\n6 Precision\n1e-6 criterion\n0 Envelope\n1000 Nmax\n");
  write("data/run1.dat", example_data(998, false, false));  // the unterminated row counts too
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
  for (const char* knots : {"Knots\n0\n0.5\n1.5\n2.0\n2.9\n", "Knots\n0\n0.5\n1.5\n\n2.0 two\n2.9"}) {
    write("data/run1.knots", knots);
    Outcome o = run();
    ASSERT_EQ(o.status, 0) << o.err;
    std::string results = read("data/run1.res");
    EXPECT_NE(results.find("\n#\t4\t2\n  0.00000e+00\t"), std::string::npos);
    EXPECT_NE(results.find("\n  2.90000e+00\t"), std::string::npos);
  }
}

TEST_F(Splinefit, TheEnvelopeFileIsAValidDataFileForAFurtherRun) {
  configure("data/ run1 1 2 0 2 3 3", "4 Nout\n6 Precision\n1e-8 criterion\n-1 Envelope\n100 Nmax\n");
  write("data/run1.dat", example_data(40));
  ASSERT_EQ(run().status, 0);
  std::string envelope = read("data/run1-1.dat");
  EXPECT_EQ(envelope.rfind("Title line envelope curve calculations\n\n0\t0\n", 0), 0u);
  configure("data/ run1-1 1 2 0 2 2 1", standard_parameters);
  Outcome again = run();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(exists("data/run1-1.res"));
}

// Every malformed input stops the run with one line on standard error naming the file, exit
// status 2, and no results or envelope file.
TEST_F(Splinefit, MalformedInputStopsWithOneClearLineAndStatusTwo) {
  struct Case {
    const char* what;
    std::string control, parameters, data, knots, expected;
  };
  const std::string ok_control = "data/ run1 1 2 0 2 3 2", data = example_data(12);
  const std::string p = standard_parameters;
  auto params = [](const std::string& nout, const std::string& precision, const std::string& crit,
                   const std::string& nmax) {
    return nout + "\n" + precision + "\n" + crit + "\n1 Envelope\n" + nmax + "\n";
  };
  const Case cases[] = {
      {"M above 3", "data/ run1 1 2 0 2 4 2", p, data, "",
       "Control.dat, line 1: M (the degree) is 4; it must be 2 or 3."},
      {"ii below 2", "data/ run1 1 1 0 1 3 2", p, data, "", "Control.dat, line 1: ii "},
      {"ix beyond ii", "data/ run1 3 2 0 2 3 2", p, data, "", "ix is 3; it must be from 1 to ii = 2"},
      {"iy of 0", "data/ run1 1 0 0 2 3 2", p, data, "", "iy is 0"},
      {"negative iw", "data/ run1 1 2 -1 2 3 2", p, data, "", "iw is -1"},
      {"a missing integer", "data/ run1\n1 2 0 2 3\n", p, data, "",
       "Control.dat: J is missing (the file ends before it)."},
      {"a word for a number", "data/ run1 1 2 zero 2 3 2", p, data, "",
       "iw is not a whole number (found \"zero\")"},
      {"Nout of 0", ok_control, params("0", "6", "1e-8", "100"), data, "",
       "Computational-parameters.dat, line 2: Nout"},
      {"Precision of 0", ok_control, params("5", "0", "1e-8", "100"), data, "", "line 3: Precision is 0"},
      {"Precision of 100", ok_control, params("5", "100", "1e-8", "100"), data, "", "Precision is 100"},
      {"negative criterion", ok_control, params("5", "6", "-1e-8", "100"), data, "", "line 4: criterion"},
      {"criterion nan", ok_control, params("5", "6", "nan", "100"), data, "", "criterion is nan"},
      {"Nmax of 2", ok_control, params("5", "6", "1e-8", "2"), data, "", "Nmax is 2"},
      {"a text line between values", ok_control, "5\nnote\n6\n1e-8\n1\n100\n", data, "",
       "line 3: Precision is not a whole number (found \"note\")"},
      {"a row short of numbers", ok_control, p, "T\n1 2\n3\n4 5\n", "",
       "run1.dat, line 3: the row holds 1 number where ii = 2 are needed"},
      {"a word in a row", ok_control, p, "T\n1 2\n3 abc\n4 5\n", "",
       "line 3: column 2 is not a number (found \"abc\")"},
      {"an infinite number", ok_control, p, "T\n1 2\n1e999 3\n4 5\n", "",
       "line 3: column 1 is not a finite number"},
      {"not a number", ok_control, p, "T\n1 -nan\n", "", "line 2: column 2 is not a finite number"},
      {"a decimal comma", ok_control, p, "T\n1 2\n3 4,5\n", "", "line 3: column 2 is followed by a comma"},
      {"no rows", ok_control, p, "Title only\n\n\n", "", "run1.dat: holds no data rows"},
      {"J of 2N", "data/ run1 1 2 0 2 3 6", p, "T\n1 1\n2 2\n3 3\n", "",
       "J is 6, too many intervals for the 3 data points"},
      {"one knot", "data/ run1 1 2 0 2 3 0", p, data, "Knots\n0.5\n", "run1.knots: holds 1 knot;"},
      {"descending knots", "data/ run1 1 2 0 2 3 0", p, data, "Knots\n0\n1\n0.5\n2\n",
       "run1.knots, line 4: the knot \"0.5\" is below the knot before it"},
      {"a missing knots file", "data/ run1 1 2 0 2 3 0", p, data, "",
       "data/run1.knots: cannot be opened for reading: No such file or directory."},
  };
  for (const Case& k : cases) {
    configure(k.control, k.parameters);
    write("data/run1.dat", k.data);
    fs::remove(path("data/run1.knots"));
    if (!k.knots.empty()) write("data/run1.knots", k.knots);
    Outcome o = run();
    EXPECT_EQ(o.status, 2) << k.what;
    EXPECT_EQ(o.out, "") << k.what;
    EXPECT_EQ(o.err.rfind("splinefit: ", 0), 0u) << k.what << ": " << o.err;
    EXPECT_NE(o.err.find(k.expected), std::string::npos) << k.what << ": " << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << k.what << ": " << o.err;
    EXPECT_FALSE(exists("data/run1.res")) << k.what;
    EXPECT_FALSE(exists("data/run1-1.dat")) << k.what;
  }
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

TEST_F(Splinefit, MissingFilesAndUnwritableOutputsAreNamed) {
  Outcome no_control = run();
  EXPECT_EQ(no_control.status, 2);
  EXPECT_EQ(no_control.err,
            "splinefit: Control.dat: cannot be opened for reading: No such file or directory.\n");
  write("Control.dat", "nowhere/ run1 1 2 0 2 3 2");
  Outcome no_parameters = run();
  EXPECT_EQ(no_parameters.status, 2);
  EXPECT_NE(no_parameters.err.find("Computational-parameters.dat: cannot be opened"), std::string::npos);
  configure("nowhere/ run1 1 2 0 2 3 2", "2\n6\n1e-8\n1\n100\n");
  Outcome no_data = run();
  EXPECT_EQ(no_data.status, 2);
  EXPECT_NE(no_data.err.find("nowhere/run1.dat: cannot be opened"), std::string::npos);

  configure("data/ run1 1 2 0 2 3 2", "2\n6\n1e-8\n1\n100\n");
  write("data/run1.dat", example_data(12));
  fs::create_directory(path("data/run1.res"));  // the results file cannot be created
  Outcome no_results = run();
  EXPECT_EQ(no_results.status, 2);
  EXPECT_NE(no_results.err.find("data/run1.res: cannot be created: Is a directory."),
            std::string::npos);
  EXPECT_FALSE(exists("data/run1-1.dat"));
  fs::remove(path("data/run1.res"));
  fs::create_directory(path("data/run1-1.dat"));  // nor the envelope file: no results left
  Outcome no_envelope = run();
  EXPECT_EQ(no_envelope.status, 2);
  EXPECT_NE(no_envelope.err.find("data/run1-1.dat: cannot be created"), std::string::npos);
  EXPECT_FALSE(exists("data/run1.res"));
}

}  // namespace
