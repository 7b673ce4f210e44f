#include "Splinefit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

#include "Format.hpp"
#include "Input.hpp"
#include "Interpolation.hpp"
#include "Model.hpp"
#include "Output.hpp"
#include "Report.hpp"
#include "Sort2.hpp"

namespace {

const char* const control_file = "Control.dat";
const char* const parameter_file = "Computational-parameters.dat";
const char* const plot_control_file = "Control.plt";

// "Dir = '<Path>'", a line break and "Name = '<Inputfile>'", without a final line break.
void write_plot_control(const RunControl& rc) {
  remove_stale_temporaries(plot_control_file);
  OutputFile plt(plot_control_file);
  std::fprintf(plt.get(), "Dir = '%s'", rc.Path.c_str());
  std::fprintf(plt.get(), "\nName = '%s'", rc.Inputfile.c_str());
  commit_outputs({&plt});
}

// Reads the data file and sets up the model's points from it (allocate_points, then x, y and,
// for a weighted fit, w, sorted by x). Returns false when the file holds too many rows, after the
// console messages and the wait for a key. *title_is_a_row: the title line reads as a row of
// numbers.
bool load_data(const RunControl& rc, const ComputationalParameters& cp, const std::string& name,
               std::string* Title, bool* title_is_a_row) {
  DataFile data;
  const bool weighted = cp.Weights > 0;
  try {
    data = read_data(name, rc, cp.Nmax, cp.Weights);
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
  allocate_points(static_cast<int>(data.x.size()), rc.M, weighted);
  std::copy(data.x.begin(), data.x.end(), x + 1);
  *Title = std::move(data.Title);
  *title_is_a_row = data.title_is_a_row;
  if (!weighted) {
    std::copy(data.y.begin(), data.y.end(), y + 1);
    sort2(N, x, y, static_cast<int>(format_threads()));
    return true;
  }
  // The paired sort's moves depend on the keys alone: sorting the abscissae with the points'
  // numbers gives the permutation that sort2(N, x, y) applies, and ordinates and weights follow
  // it, so equal abscissae keep the order of an unweighted run.
  std::vector<double> number(static_cast<std::size_t>(N) + 1);
  for (int i = 1; i <= N; i++) number[static_cast<std::size_t>(i)] = i;
  sort2(N, x, number.data(), static_cast<int>(format_threads()));
  for (int i = 1; i <= N; i++) {
    std::size_t from = static_cast<std::size_t>(number[static_cast<std::size_t>(i)]) - 1;
    y[i] = data.y[from];
    w[i] = data.w[from];
  }
  return true;
}

// Knots and intervals: automatic when J from Control.dat is positive, else from the knots file.
void choose_knots(int intervals, const std::string& data_name, const std::string& knots_name) {
  if (intervals > 0) {
    if (intervals >= 2 * static_cast<long long>(N))
      input_fault(control_file, 0,
                  "J is " + std::to_string(intervals) + ", too many intervals for the " +
                      std::to_string(N) + " data points of " + data_name +
                      " (automatic knots need J below 2N = " +
                      std::to_string(2 * static_cast<long long>(N)) + ")");
    place_knots_evenly(intervals);
  } else {
    std::vector<double> knots = parse_knots(read_file(knots_name), knots_name);
    if (knots.front() == knots.back())
      input_fault(knots_name, 0, "all its knots are equal; the last knot must lie above the first");
    place_knots(knots.data(), static_cast<int>(knots.size()));
  }
}

// Refuses a run that cannot give a sound result: all points at one abscissa (the curve would be
// fixed at that point alone), numbers so large that the objective overflows (the sum of squared
// ordinates, or the M-th power of the span of points and knots), or a results table of more than
// 10^7 rows.
void check_fit_input(const std::string& data_name, int Nout) {
  if (x[1] == x[N]) {
    char at[32];
    std::snprintf(at, sizeof at, "%g", x[1]);
    input_fault(data_name, 0,
                (N == 1 ? "its only point lies" : "all " + std::to_string(N) + " points lie") +
                    " at the abscissa " + at +
                    "; a spline needs points at two different abscissae at least");
  }
  if (w != nullptr) {  // the same for the points that count
    int first = 0, second = 0;
    for (int i = 1; i <= N && second == 0; i++) {
      if (w[i] == 0.0) continue;
      if (first == 0)
        first = i;
      else if (x[i] != x[first])
        second = i;
    }
    if (second == 0)
      input_fault(data_name, 0,
                  first == 0 ? "every weight is 0; at least the points at two different "
                               "abscissae must have weights above 0"
                             : "the points of weight above 0 all lie at one abscissa; a spline "
                               "needs points at two different abscissae at least");
  }
  double sum = 0.0;
  for (int i = 1; i <= N; i++) sum += y[i] * y[i];
  if (!std::isfinite(sum))
    input_fault(data_name, 0,
                "the ordinates are too large for the fit: the sum of their squares overflows");
  double span = std::fmax(x[N], X[J + 1]) - std::fmin(x[1], X[1]);
  if (!std::isfinite(std::pow(span, M)))
    input_fault(data_name, 0,
                "the abscissae are too far apart for the fit: the power " + std::to_string(M) +
                    " of their span overflows");
  const long long max_rows = 10000000;
  long long rows = static_cast<long long>(Nout) * J + 1;
  if (rows > max_rows)
    input_fault(parameter_file, 0,
                "Nout " + std::to_string(Nout) + " with " + std::to_string(J) +
                    " intervals makes a results table of " + std::to_string(rows) +
                    " rows; at most " + std::to_string(max_rows) + " are allowed");
}

// The results file's title and data points (each "\n%g\t%g"), which need the sorted points only:
// the program writes them on a thread of its own while the fit runs, one row after the other.
void write_data_points(std::FILE* f, const std::string& Title) {
  OutputBuffer out(f);
  out.put(Title);
  out.put("\n\n# Data points\n");
  format_rows(
      out, static_cast<std::size_t>(N), 2 * max_number_chars + 2,
      [](char* text, std::size_t row) {
        const int i = static_cast<int>(row) + 1;
        *text++ = '\n';
        text = append_g(text, x[i]);
        *text++ = '\t';
        return append_g(text, y[i]);
      },
      1);
  out.flush();
}

// The rest of the results file: knots with coefficients (each "%*.*e\t" of width Precision + 7
// with Precision - 1 decimals), and the table of the spline with its derivatives (each "%.*g\t"
// with Precision digits), Nout rows per interval plus the last knot. The spline is evaluated in
// order, a block of rows at a time, and each block of rows is formatted on every core.
void write_spline(std::FILE* f, int Precision, int Nout) {
  OutputBuffer out(f);
  const int width = Precision + 7, decimals = Precision - 1, columns = M == 3 ? 5 : 4;
  out.put("\n\n# All spline data - knots and coefficients\n\n#\t");
  out.d(J);
  out.put('\t');
  out.d(M);
  for (int j = 1; j <= J + 1; j++) {
    out.put('\n');
    out.e(X[j], width, decimals);
    out.put('\t');
    for (int m = 0; m <= M; m++) {
      out.e(c[j][m], width, decimals);
      out.put('\t');
    }
  }
  out.put("\n\n# Computed splines - values and derivatives\n");
  std::vector<double> block;
  auto format_block = [&] {
    format_rows(out, block.size() / columns, columns * (max_number_chars + 1) + 1,
                [values = block.data(), columns, Precision](char* text, std::size_t row) {
                  *text++ = '\n';
                  for (int k = 0; k < columns; k++) {
                    text = append_g(text, values[row * columns + k], Precision);
                    *text++ = '\t';
                  }
                  return text;
                });
    block.clear();
  };
  for_each_table_row(Nout, [&](double at) {
    xx = at;
    block.insert(block.end(), {xx, P(xx), Pd(xx, 1), Pd(xx, 2)});
    if (M == 3) block.push_back(6.0 * c[interval(X0, J, xx) + 1][3]);
    if (block.size() >= (std::size_t{1} << 16) * columns) format_block();
  });
  format_block();
  out.flush();
}

// The data points on or above (Envelope > 0) or on or below (Envelope < 0) the fitted curve,
// judged by the polynomial of each point's own interval (fitted[i] = P0(x[i], I[i])); the first
// and last points always (N is at least 2 here). Each point is a line break and "%.*g\t%.*g" with
// Precision digits. Every point is a row of the table, empty when it is not chosen, so the
// judging runs on every core too.
void write_envelope(std::FILE* f, const std::string& Title, int Precision, int Envelope,
                    const double* fitted) {
  OutputBuffer out(f);
  out.put(Title);
  out.put(" envelope curve calculations\n");
  format_rows(out, static_cast<std::size_t>(N), 2 * max_number_chars + 2,
              [Precision, Envelope, fitted](char* text, std::size_t row) {
                const int i = static_cast<int>(row) + 1;
                if (i != 1 && i != N) {
                  const double r = fitted[i];
                  if (!(Envelope > 0 ? y[i] >= r : y[i] <= r)) return text;
                }
                *text++ = '\n';
                text = append_g(text, x[i], Precision);
                *text++ = '\t';
                return append_g(text, y[i], Precision);
              });
  out.flush();
}

int run() {
  RunControl rc = parse_run_control(read_file(control_file), control_file);
  std::string Inputpath_1 = parameter_file;
  std::string Inputpath_2 = rc.Path + rc.Inputfile + ".dat";
  std::string Inputpath_3 = rc.Path + rc.Inputfile + ".knots";
  std::string Outputpath = rc.Path + rc.Inputfile + ".res";
  ComputationalParameters cp = parse_computational_parameters(read_file(Inputpath_1), Inputpath_1);
  if (cp.Weights > 0 && rc.iw == 0)
    input_fault(Inputpath_1, 0,
                "Weights is " + std::to_string(cp.Weights) +
                    ", but Control.dat names no weight column (iw is 0)");
  for (const char* ending : {".res", ".fit", "-1.dat"})
    remove_stale_temporaries(rc.Path + rc.Inputfile + ending);
  write_plot_control(rc);

  std::string Title;
  bool title_is_a_row = false;
  if (!load_data(rc, cp, Inputpath_2, &Title, &title_is_a_row)) return 3;
  choose_knots(rc.J, Inputpath_2, Inputpath_3);
  // The results file's data points are written while the input is checked and the fit runs
  // (the thread ends before `results` is closed, also when an input fault ends the run).
  OutputFile results(Outputpath);
  std::jthread data_points(write_data_points, results.get(), std::cref(Title));
  check_fit_input(Inputpath_2, cp.Nout);

  lsq::Solution exact;
  int iter = fit_model(cp.Method, cp.criterion, &exact);
  std::printf("\n%s\n", Title.c_str());
  std::printf("\nIterations in optimisation: %3d\n", iter);
  complete_end_row();
  FitAssessment fit = assess_fit(cp.Method, iter, cp.Weights, std::move(exact));

  // Each file is synced to disk while the next is written.
  data_points.join();
  write_spline(results.get(), cp.Precision, cp.Nout);
  // Without an envelope file, the results file ends with a line break.
  if (cp.Envelope == 0) std::fprintf(results.get(), "\n");
  results.finish();
  OutputFile report(rc.Path + rc.Inputfile + ".fit");
  write_fit_report(report.get(), Title, fit, cp.Nout);
  report.finish();
  if (cp.Envelope != 0) {
    OutputFile envelope(rc.Path + rc.Inputfile + "-1.dat");
    write_envelope(envelope.get(), Title, cp.Precision, cp.Envelope, fit.fitted.get());
    std::fprintf(envelope.get(), "\n");  // the line break that ends the envelope file
    commit_outputs({&results, &report, &envelope});
  } else {
    commit_outputs({&results, &report});
  }
  if (cp.Weights == 0 && rc.iw > 0)
    std::fprintf(stderr,
                 "splinefit: warning: column %d (iw) is read but not used; to fit with it, add a "
                 "line after Method in %s: 1 Weights for weights, 2 Weights for standard "
                 "deviations\n",
                 rc.iw, parameter_file);
  if (title_is_a_row)
    std::fprintf(stderr,
                 "splinefit: warning: the first line of %s reads as a row of numbers; it was "
                 "taken as the title, and its row was not fitted (give the file a title line)\n",
                 Inputpath_2.c_str());
  warn_about_fit(fit);

  // The model arrays are released before the wait rather than left to the exit, so that a leak
  // checker sees every block freed (the handle of c points inside its block).
  release_model();

  std::printf("\nPress enter key");
  std::fflush(stdout);
  std::getchar();
  return 0;
}

}  // namespace

int splinefit_main() {
  try {
    return run();
  } catch (const InputError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "splinefit: %s\n", error.what());
    return 2;
  }
}
