#include "Splinefit.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "ExactFit.hpp"
#include "Input.hpp"
#include "Interpolation.hpp"
#include "Model.hpp"
#include "Numutil.hpp"
#include "Optimise.hpp"
#include "Sort2.hpp"

namespace {

const char* const control_file = "Control.dat";
const char* const parameter_file = "Computational-parameters.dat";
const char* const plot_control_file = "Control.plt";

[[noreturn]] void fail(const std::string& file, const std::string& what) {
  throw InputError(file + ": " + what + ".");
}

// An output file of the run. Unless it is closed, the destructor removes it, so that a run
// that stops early leaves no partial result behind.
class OutputFile {
 public:
  explicit OutputFile(std::string name) : name_(std::move(name)) {
    f_ = std::fopen(name_.c_str(), "w");
    if (f_ == nullptr) fail(name_, std::string("cannot be created: ") + std::strerror(errno));
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (f_ != nullptr) {
      std::fclose(f_);
      std::remove(name_.c_str());
    }
  }

  std::FILE* get() const { return f_; }

  // Closes the file and returns "" or, when the stream met a write error on the way, the
  // reason. The file itself stays; discard() removes it.
  std::string close() {
    std::string error;
    if (std::ferror(f_) != 0) error = std::strerror(errno);
    if (std::fclose(f_) != 0 && error.empty()) error = std::strerror(errno);
    f_ = nullptr;
    return error;
  }

  void discard() const { std::remove(name_.c_str()); }

  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::FILE* f_ = nullptr;
};

// Closes the run's output files; if any of them cannot be written completely, removes them all
// and stops the run.
void finish(std::initializer_list<OutputFile*> files) {
  std::string failed, reason;
  for (OutputFile* file : files) {
    std::string error = file->close();
    if (!error.empty() && failed.empty()) {
      failed = file->name();
      reason = error;
    }
  }
  if (failed.empty()) return;
  for (OutputFile* file : files) file->discard();
  fail(failed, "cannot be written: " + reason);
}

// "Dir = '<Path>'", a line break and "Name = '<Inputfile>'", without a final line break.
void write_plot_control(const RunControl& rc) {
  OutputFile plt(plot_control_file);
  std::fprintf(plt.get(), "Dir = '%s'", rc.Path.c_str());
  std::fprintf(plt.get(), "\nName = '%s'", rc.Inputfile.c_str());
  finish({&plt});
}

// Fills x, y (sorted by x) and N from the data file. Returns false when the file holds too many
// rows, after the console messages and the wait for a key.
bool load_data(const RunControl& rc, const ComputationalParameters& cp, const std::string& name,
               std::string* Title) {
  DataFile data;
  try {
    data = parse_data(read_file(name), name, rc, cp.Nmax);
  } catch (const TooManyDataRows& too_many) {
    std::printf("\nThe program thinks you have more than %d data points", too_many.Nmax);
    std::printf(
        "\nPlease check your data, or, increase the value in the last row in "
        "Computational-parameters.dat");
    std::printf("\nPaused: Press a key");
    std::fflush(stdout);
    std::getchar();
    return false;
  }
  *Title = std::move(data.Title);
  N = static_cast<int>(data.x.size());
  x = dvector(1, N);
  y = dvector(1, N);
  I = ivector(1, N);
  for (int i = 1; i <= N; i++) {
    x[i] = data.x[static_cast<std::size_t>(i - 1)];
    y[i] = data.y[static_cast<std::size_t>(i - 1)];
  }
  sort2(N, x, y);
  return true;
}

// Knots and intervals: automatic when J from Control.dat is positive, else from the knots file.
void place_knots(const std::string& data_name, const std::string& knots_name) {
  if (J > 0) {
    if (J >= 2 * static_cast<long long>(N))
      fail(control_file, "J is " + std::to_string(J) + ", too many intervals for the " +
                             std::to_string(N) + " data points of " + data_name +
                             " (automatic knots need J below 2N = " +
                             std::to_string(2 * static_cast<long long>(N)) + ")");
    X = dvector(1, J + 1);
    place_knots_evenly();
  } else {
    std::vector<double> knots = parse_knots(read_file(knots_name), knots_name);
    if (knots.front() == knots.back())
      fail(knots_name, "all its knots are equal; the last knot must lie above the first");
    J = static_cast<int>(knots.size()) - 1;
    X = dvector(1, J + 1);
    for (int j = 1; j <= J + 1; j++) X[j] = knots[static_cast<std::size_t>(j - 1)];
    assign_intervals_from_knots();
  }
  X0 = X + 1;
}

// Refuses a run that cannot give a sound result: all points at one abscissa (the curve would be
// fixed at that point alone), numbers so large that the objective overflows (the sum of squared
// ordinates, or the M-th power of the span of points and knots), or a results table of more than
// 10^7 rows.
void check_fit_input(const std::string& data_name, int Nout) {
  if (x[1] == x[N]) {
    char at[32];
    std::snprintf(at, sizeof at, "%g", x[1]);
    fail(data_name, (N == 1 ? "its only point lies" : "all " + std::to_string(N) + " points lie") +
                        " at the abscissa " + at +
                        "; a spline needs points at two different abscissae at least");
  }
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += y[i] * y[i];
  if (!std::isfinite(sum))
    fail(data_name, "the ordinates are too large for the fit: the sum of their squares overflows");
  double span = std::fmax(x[N], X[J + 1]) - std::fmin(x[1], X[1]);
  if (!std::isfinite(std::pow(span, M)))
    fail(data_name, "the abscissae are too far apart for the fit: the power " + std::to_string(M) +
                        " of their span overflows");
  const long long max_rows = 10000000;
  long long rows = static_cast<long long>(Nout) * J + 1;
  if (rows > max_rows)
    fail(parameter_file, "Nout " + std::to_string(Nout) + " with " + std::to_string(J) +
                             " intervals makes a results table of " + std::to_string(rows) +
                             " rows; at most " + std::to_string(max_rows) + " are allowed");
}

// Writes the results file: title, data, knots with coefficients, and the table of the spline
// with its derivatives, Nout rows per interval plus the last knot.
void write_results(std::FILE* f, const std::string& Title, const char* Fn, const char* Mn,
                   int Nout) {
  std::fprintf(f, "%s\n\n", Title.c_str());
  std::fprintf(f, "# Data points\n");
  for (int i = 1; i <= N; i++) std::fprintf(f, "\n%g\t%g", x[i], y[i]);
  std::fprintf(f, "\n\n# All spline data - knots and coefficients\n");
  std::fprintf(f, "\n#\t%d\t%d", J, M);
  for (int j = 1; j <= J + 1; j++) {
    std::fprintf(f, "\n");
    std::fprintf(f, Mn, X[j]);
    for (int m = 0; m <= M; m++) std::fprintf(f, Mn, c[j][m]);
  }
  std::fprintf(f, "\n\n# Computed splines - values and derivatives\n");
  for (int j = 1; j <= J; j++) {
    int rows = j < J ? Nout : Nout + 1;
    for (int i = 0; i < rows; i++) {
      xx = X[j] + ((X[j + 1] - X[j]) * i) / Nout;
      std::fprintf(f, "\n");
      std::fprintf(f, Fn, xx);
      std::fprintf(f, Fn, P(xx));
      std::fprintf(f, Fn, Pd(xx, 1));
      std::fprintf(f, Fn, Pd(xx, 2));
      if (M == 3) std::fprintf(f, Fn, 6.0 * c[interval(X0, J, xx) + 1][3]);
    }
  }
}

// The data points on or above (Envelope > 0) or on or below (Envelope < 0) the fitted curve,
// judged by the polynomial of each point's own interval; the first and last points always.
void write_envelope(std::FILE* f, const std::string& Title, const char* Fn, int Envelope) {
  std::fprintf(f, "%s envelope curve calculations\n", Title.c_str());
  std::fprintf(f, Fn, x[1], y[1]);
  for (int i = 2; i <= N - 1; i++) {
    double r = P0(x[i], I[i]);
    if (Envelope > 0 ? y[i] >= r : y[i] <= r) std::fprintf(f, Fn, x[i], y[i]);
  }
  std::fprintf(f, Fn, x[N], y[N]);
}

// Fits the NN parameters by Powell's method from zero, along the unit directions (Method 0), or
// by the exact least-squares solve (Method 1, 0 iterations); leaves their coefficients in rows
// 1..J of c and returns the number of iterations.
int fit(double criterion, int Method) {
  double* Z = dvector(1, NN);
  double** A = dmatrix(1, NN, 1, NN);
  for (int i = 1; i <= NN; i++) {
    Z[i] = 0.0;
    for (int j = 1; j <= NN; j++) A[i][j] = 0.0;
    A[i][i] = 1.0;
  }
  int iter = 0;
  double fret = 0.0;
  if (Method == 1)
    exact_fit(Z);
  else
    Powell(Z, A, NN, criterion, &iter, &fret, Eqn);
  Transfer(Z);
  Continuity();
  free_dvector(Z, 1, NN);
  free_dmatrix(A, 1, NN, 1, NN);
  return iter;
}

int run() {
  RunControl rc = parse_run_control(read_file(control_file), control_file);
  M = rc.M;
  J = rc.J;
  std::string Inputpath_1 = parameter_file;
  std::string Inputpath_2 = rc.Path + rc.Inputfile + ".dat";
  std::string Inputpath_3 = rc.Path + rc.Inputfile + ".knots";
  std::string Outputpath = rc.Path + rc.Inputfile + ".res";
  ComputationalParameters cp = parse_computational_parameters(read_file(Inputpath_1), Inputpath_1);

  char Fn[32], Mn[32];  // room for any int, though Precision is 1..99
  std::snprintf(Fn, sizeof Fn, "%%.%dg\t", cp.Precision);
  std::snprintf(Mn, sizeof Mn, "%%%d.%de\t", cp.Precision + 7, cp.Precision - 1);
  write_plot_control(rc);

  std::string Title;
  if (!load_data(rc, cp, Inputpath_2, &Title)) return 3;
  place_knots(Inputpath_2, Inputpath_3);
  check_fit_input(Inputpath_2, cp.Nout);

  c = dmatrix(1, J + 1, 0, M);
  delta = dvector(1, J);
  for (int j = 1; j <= J; j++) delta[j] = X[j + 1] - X[j];
  NN = J + M;
  int iter = fit(cp.criterion, cp.Method);
  std::printf("\n%s\n", Title.c_str());
  std::printf("\nIterations in optimisation: %3d\n", iter);

  // End row: interval J's polynomial re-expanded about the last knot.
  c[J + 1][0] = P0(X[J + 1], J);
  c[J + 1][1] = Pd(X[J + 1], 1);
  c[J + 1][2] = Pd(X[J + 1], 2) / 2.0;
  if (M == 3) c[J + 1][3] = c[J][3];

  OutputFile results(Outputpath);
  write_results(results.get(), Title, Fn, Mn, cp.Nout);

  std::snprintf(Fn, sizeof Fn, "\n%%.%dg\t%%.%dg", cp.Precision, cp.Precision);
  if (cp.Envelope != 0) {
    OutputFile envelope(rc.Path + rc.Inputfile + "-1.dat");
    write_envelope(envelope.get(), Title, Fn, cp.Envelope);
    std::fprintf(envelope.get(), "\n");  // the line break that ends the output file opened last
    finish({&results, &envelope});
  } else {
    std::fprintf(results.get(), "\n");
    finish({&results});
  }

  // The model arrays are released before the wait rather than left to the exit, so that a leak
  // checker sees every block freed (the handle of c points inside its block).
  release_model();

  std::printf("\nPress enter key");
  std::fflush(stdout);
  std::getchar();
  return 0;
}

}  // namespace

void place_knots_evenly() {
  double NJ = static_cast<double>(N) / J;
  X[1] = x[1];
  int ia = 1;
  for (int j = 1; j <= J; j++) {
    int iz = static_cast<int>(std::round(j * NJ));  // halves away from zero
    for (int i = ia; i <= iz; i++) I[i] = j;
    ia = iz + 1;
    if (j < J) X[j + 1] = 0.5 * (x[iz] + x[iz + 1]);
  }
  X[J + 1] = x[N];
}

void assign_intervals_from_knots() {
  // x ascends, so the last interval whose left knot is at or below x[i] only moves forward.
  int j = 1;
  for (int i = 1; i <= N; i++) {
    while (j < J && X[j + 1] <= x[i]) j++;
    I[i] = j;
  }
}

int splinefit_main() {
  try {
    return run();
  } catch (const InputError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "splinefit: %s\n", error.what());
    return 2;
  }
}
