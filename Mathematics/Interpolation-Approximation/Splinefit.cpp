#include "Splinefit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Format.hpp"
#include "Input.hpp"
#include "Interpolation.hpp"
#include "Model.hpp"
#include "Output.hpp"
#include "Parallel.hpp"
#include "Report.hpp"
#include "Sort2.hpp"
#include "Table.hpp"

namespace {

const char* const control_file = "Control.dat";
const char* const parameter_file = "Computational-parameters.dat";

// Output files under construction, each in the place of its entry in output_files. Declared
// before anything that writes to them, so that they are removed only after it has stopped.
class Outputs {
 public:
  explicit Outputs(const RunControl& rc) : rc_(rc) {}
  // Creates the temporary of output_files[index] (OutputFile).
  OutputFile& open(OutputFileIndex index) {
    return files_[index].emplace(output_name(output_files[index], rc_));
  }
  // Puts every file opened in place together, in the order of output_files (commit_outputs).
  void commit() {
    std::vector<OutputFile*> opened;
    for (std::optional<OutputFile>& file : files_)
      if (file) opened.push_back(&*file);
    commit_outputs(opened);
  }

 private:
  const RunControl& rc_;
  std::optional<OutputFile> files_[std::size(output_files)];
};

// The run's settings from the environment, taken before any file is touched: SPLINEFIT_THREADS
// (parallel::threads) and SPLINEFIT_WRITE_LIMIT (take_write_limit). "" when both are usable, else
// the sentence that refuses the first bad one.
std::string environment_fault() {
  try {
    parallel::threads();
  } catch (const parallel::SettingError& error) {
    return error.what() + std::string(".");
  }
  std::string fault = take_write_limit();
  return fault.empty() ? fault : fault + ".";
}

// "Dir = '<Path>'", a line break and "Name = '<Inputfile>'", without a final line break; put in
// place on its own.
void write_plot_control(const RunControl& rc) {
  Outputs outputs(rc);
  std::FILE* plt = outputs.open(plot_control_output).get();
  std::fprintf(plt, "Dir = '%s'", rc.Path.c_str());
  std::fprintf(plt, "\nName = '%s'", rc.Inputfile.c_str());
  outputs.commit();
}

// Reads the data file and hands its columns to the model (take_points: x, y and,
// for a weighted fit, w, sorted by x). Returns false when the file holds too many rows, after the
// console messages and the wait for a key. *title_is_a_row: the title line reads as a row of
// numbers.
bool load_data(const RunControl& rc, const ComputationalParameters& cp, const std::string& name,
               std::string* Title, bool* title_is_a_row) {
  DataFile data;
  const bool weighted = cp.Weights != lsq::Weights::none;
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
  *Title = std::move(data.Title);
  *title_is_a_row = data.title_is_a_row;
  if (!weighted) {
    take_points(std::move(data.x), std::move(data.y), {}, rc.M);
    sort2(N, x, y, static_cast<int>(parallel::threads()));
    return true;
  }
  // The paired sort's moves depend on the keys alone: sorting the abscissae with the points'
  // numbers gives the permutation that sort2(N, x, y) applies, and ordinates and weights follow
  // it, so equal abscissae keep the order of an unweighted run.
  take_points(std::move(data.x), data.y, data.w, rc.M);
  std::vector<double> number(static_cast<std::size_t>(N) + 1);
  for (int i = 1; i <= N; i++) number[static_cast<std::size_t>(i)] = i;
  sort2(N, x, number.data(), static_cast<int>(parallel::threads()));
  for (int i = 1; i <= N; i++) {
    const auto from = static_cast<std::size_t>(number[static_cast<std::size_t>(i)]);
    y[i] = data.y[from];
    w[i] = data.w[from];
  }
  return true;
}

// Knots and intervals: automatic when J from Control.dat is positive, else from the knots file;
// with Knots 1 or 2 in the parameter file, chosen by the data (lsq::choose_knots, on J intervals
// at most or from the knots file's knots) and set as a knots file sets them, so that the chosen
// knots written to <Path><Inputfile>-fit.knots give the same fit when read back.
std::optional<lsq::KnotChoice> set_up_knots(int intervals, const ComputationalParameters& cp,
                                            const std::string& data_name,
                                            const std::string& knots_name) {
  const bool chosen = cp.Knots != lsq::Knots::given;
  if (intervals <= 0 && cp.Knots == lsq::Knots::count)
    input_fault(control_file, 0,
                "J is " + std::to_string(intervals) +
                    "; with Knots 1 the data choose the number of intervals, up to J, which must "
                    "be 1 or more");
  if (intervals > 0) {
    if (intervals >= 2 * static_cast<long long>(N) && !chosen)
      input_fault(control_file, 0,
                  "J is " + std::to_string(intervals) + ", too many intervals for the " +
                      std::to_string(N) + " data points of " + data_name +
                      " (automatic knots need J below 2N = " +
                      std::to_string(2 * static_cast<long long>(N)) + ")");
    place_knots_evenly(chosen ? 1 : intervals);  // for a choice, the points' single interval
  } else {
    std::vector<double> knots = parse_knots(read_file(knots_name), knots_name);
    if (knots.front() == knots.back())
      input_fault(knots_name, 0, "all its knots are equal; the last knot must lie above the first");
    place_knots(knots.data(), static_cast<int>(knots.size()));
  }
  if (!chosen) return std::nullopt;
  std::optional<lsq::KnotChoice> choice;
  try {
    choice = lsq::choose_knots(model_problem(), cp.Weights, cp.Knots, intervals, cp.Robust);
  } catch (const lsq::SplineError& error) {
    input_fault(data_name, 0, error.what());
  }
  place_knots(choice->knots.data(), static_cast<int>(choice->knots.size()));
  return choice;
}

// The chosen knots as a knots file: a heading, then each knot in the shortest text that reads
// back as the same double.
void write_chosen_knots(std::FILE* f, const std::string& Title, const lsq::KnotChoice& choice) {
  std::fprintf(
      f, "Knots chosen by splinefit (%s) for: %s\n",
      choice.way == lsq::Knots::count ? "Knots 1, the number of intervals" : "Knots 2, free knots",
      Title.c_str());
  for (double knot : choice.knots) {
    char text[max_number_chars];
    *append_shortest(text, knot) = '\0';
    std::fprintf(f, "%s\n", text);
  }
}

// Refuses a results table of more than 10^7 rows. (A problem that the fit cannot represent is
// refused by the fit itself, lsq::problem_fault.)
void check_table_size(int Nout) {
  const long long max_rows = 10000000;
  long long rows = static_cast<long long>(Nout) * J + 1;
  if (rows > max_rows)
    input_fault(parameter_file, 0,
                "Nout " + std::to_string(Nout) + " with " + std::to_string(J) +
                    " intervals makes a results table of " + std::to_string(rows) +
                    " rows; at most " + std::to_string(max_rows) + " are allowed");
}

// Point row + 1's abscissa and ordinate: a row of the data points and of the envelope.
bool point_values(std::size_t row, double* values) {
  values[0] = x[row + 1];
  values[1] = y[row + 1];
  return true;
}

// The results file's title and data points (each "\n%g\t%g"), which need the sorted points only:
// the program writes them on a thread of its own while the fit runs, one row after the other.
void write_data_points(std::FILE* f, const std::string& Title) {
  OutputBuffer out(f);
  out.put(Title);
  out.put("\n\n# Data points\n");
  const RowFormat point{.columns = {{Conversion::g, 6}, {Conversion::g, 6}}, .before = "\n"};
  write_rows(out, point, static_cast<std::size_t>(N), point_values, 1);
  out.flush();
}

// Warns when the knots as the results file writes them (Precision significant digits) lie more
// than 1% of the narrowest interval from the knots of the fit (abscissae far from 0 against their
// spread, such as Unix times): the coefficients about them and the table's abscissae cannot be
// read back. Names the Precision that would keep them.
void warn_about_precision(int Precision, const std::string& results, const std::string& report) {
  double narrowest = HUGE_VAL;
  for (int j = 1; j <= J; j++)
    if (X[j + 1] > X[j]) narrowest = std::min(narrowest, X[j + 1] - X[j]);
  auto rounding = [](int digits) {  // the largest error of the knots written with `digits`
    double largest = 0.0;
    for (int j = 1; j <= J + 1; j++) {
      char text[max_number_chars];
      *append_e(text, X[j], 0, digits - 1) = '\0';
      largest = std::max(largest, std::fabs(std::strtod(text, nullptr) - X[j]));
    }
    return largest;
  };
  const double lost = rounding(Precision);
  if (lost <= 0.01 * narrowest) return;
  int needed = Precision;
  while (needed < 17 && rounding(needed) > 0.01 * narrowest) needed++;
  std::fprintf(stderr,
               "splinefit: warning: Precision %d rounds the knots in %s by up to %.2g, %.2g of the "
               "narrowest interval; Precision %d keeps them (%s has every point in full)\n",
               Precision, results.c_str(), lost, lost / narrowest, needed, report.c_str());
}

// The rest of the results file: knots with coefficients (each "%*.*e\t" of width Precision + 7
// with Precision - 1 decimals), and the table of the spline with its derivatives (each "%.*g\t"
// with Precision digits), Nout rows per interval plus the last knot. The spline is evaluated in
// order, a block of rows at a time, and each block of rows is formatted on every core.
void write_spline(std::FILE* f, int Precision, int Nout) {
  OutputBuffer out(f);
  out.put("\n\n# All spline data - knots and coefficients\n\n#\t");
  out.d(J);
  out.put('\t');
  out.d(M);
  const ColumnFormat coefficient{Conversion::e, Precision - 1, Precision + 7};
  const RowFormat knot{.columns = std::vector(M + 2, coefficient), .before = "\n", .after = "\t"};
  write_rows(out, knot, static_cast<std::size_t>(J) + 1, [](std::size_t row, double* values) {
    const int j = static_cast<int>(row) + 1;
    values[0] = X[j];
    std::copy(c[j], c[j] + M + 1, values + 1);
    return true;
  });
  out.put("\n\n# Computed splines - values and derivatives\n");
  const std::size_t columns = M == 3 ? 5 : 4;
  RowStream rows(out, {.columns = std::vector(columns, ColumnFormat{Conversion::g, Precision}),
                       .before = "\n",
                       .after = "\t"});
  for_each_table_row(Nout, [&](double at) {
    xx = at;
    double* values = rows.next();
    values[0] = xx;
    values[1] = P(xx);
    values[2] = Pd(xx, 1);
    values[3] = Pd(xx, 2);
    if (M == 3) values[4] = 6.0 * c[interval(X0, J, xx) + 1][3];
  });
  rows.finish();
  out.flush();
}

// The data points on or above (Envelope > 0) or on or below (Envelope < 0) the fitted curve,
// judged by the polynomial of each point's own interval (fitted[i] = P0(x[i], I[i])); the first
// and last points always (N is at least 2 here). Each point is a line break and "%.*g\t%.*g" with
// Precision digits. Every point is a row of the table, left out when it is not chosen, so the
// judging runs on every core too.
void write_envelope(std::FILE* f, const std::string& Title, int Precision, int Envelope,
                    const double* fitted) {
  OutputBuffer out(f);
  out.put(Title);
  out.put(" envelope curve calculations\n");
  const ColumnFormat number{Conversion::g, Precision};
  const RowFormat point{.columns = {number, number}, .before = "\n"};
  write_rows(out, point, static_cast<std::size_t>(N),
             [Envelope, fitted](std::size_t row, double* values) {
               const int i = static_cast<int>(row) + 1;
               if (i != 1 && i != N) {
                 const double r = fitted[i];
                 if (!(Envelope > 0 ? y[i] >= r : y[i] <= r)) return false;
               }
               return point_values(row, values);
             });
  out.flush();
}

int run() {
  RunControl rc = parse_run_control(read_file(control_file), control_file);
  std::string Inputpath_1 = parameter_file;
  std::string Inputpath_2 = rc.Path + rc.Inputfile + ".dat";
  std::string Inputpath_3 = rc.Path + rc.Inputfile + ".knots";
  ComputationalParameters cp = parse_computational_parameters(read_file(Inputpath_1), Inputpath_1);
  if (cp.Weights != lsq::Weights::none && rc.iw == 0)
    input_fault(Inputpath_1, 0,
                "Weights is " + std::to_string(static_cast<int>(cp.Weights)) +
                    ", but Control.dat names no weight column (iw is 0)");
  for (const OutputFileKind& kind : output_files) remove_stale_temporaries(output_name(kind, rc));
  write_plot_control(rc);

  std::string Title;
  bool title_is_a_row = false;
  if (!load_data(rc, cp, Inputpath_2, &Title, &title_is_a_row)) return 3;
  const std::optional<lsq::KnotChoice> choice = set_up_knots(rc.J, cp, Inputpath_2, Inputpath_3);
  // The results file's data points are written while the input is checked and the exact fit runs
  // (the thread ends before `results` is closed, also when an input fault ends the run). Powell's
  // search waits for them: it may end the run through numerror, whose exit flushes the open files,
  // which must not find another thread writing to one.
  Outputs outputs(rc);
  OutputFile& results = outputs.open(results_output);
  std::jthread data_points(write_data_points, results.get(), std::cref(Title));
  check_table_size(cp.Nout);
  if (cp.Method == lsq::Method::powell) data_points.join();

  const lsq::Settings settings{cp.Method, cp.Weights, cp.criterion, cp.Robust};
  lsq::Fit fit;
  try {
    fit = fit_model(settings);
  } catch (const lsq::SplineError& error) {
    input_fault(Inputpath_2, 0, error.what());
  }
  std::printf("\n%s\n", Title.c_str());
  std::printf("\nIterations in optimisation: %3d\n", fit.iterations);
  complete_end_row();

  // Each file is synced to disk while the next is written.
  if (data_points.joinable()) data_points.join();
  write_spline(results.get(), cp.Precision, cp.Nout);
  // Without an envelope file, the results file ends with a line break.
  const bool with_envelope = writes(output_files[envelope_output], cp);
  if (!with_envelope) std::fprintf(results.get(), "\n");
  results.finish();
  OutputFile& report = outputs.open(report_output);
  write_fit_report(report.get(), Title, model_problem(), fit, cp.Nout, choice ? &*choice : nullptr);
  report.finish();
  if (with_envelope) {
    OutputFile& envelope = outputs.open(envelope_output);
    write_envelope(envelope.get(), Title, cp.Precision, cp.Envelope, fit.fitted.data());
    std::fprintf(envelope.get(), "\n");  // the line break that ends the envelope file
    envelope.finish();
  }
  if (choice) {
    OutputFile& knots = outputs.open(knots_output);
    write_chosen_knots(knots.get(), Title, *choice);
    knots.finish();
  }
  outputs.commit();
  if (cp.Weights == lsq::Weights::none && rc.iw > 0)
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
  warn_about_fit(model_problem(), fit, report.name());
  warn_about_precision(cp.Precision, results.name(), report.name());
  if (choice) warn_about_choice(*choice, output_name(output_files[knots_output], rc));

  // The model arrays are released before the wait rather than left to the exit, so that a leak
  // checker sees every block freed (the handle of c points inside its block).
  release_model();

  std::printf("\nPress enter key");
  std::fflush(stdout);
  std::getchar();
  return 0;
}

}  // namespace

std::string output_name(const OutputFileKind& kind, const RunControl& rc) {
  constexpr std::string_view data_set = "<Path><Inputfile>";
  std::string_view name = kind.name;
  if (!name.starts_with(data_set)) return std::string(name);
  return rc.Path + rc.Inputfile + std::string(name.substr(data_set.size()));
}

// Every refusal ends here: its one line on standard error, after what the console holds.
int splinefit_main() {
  std::string fault = environment_fault();
  try {
    if (fault.empty()) return run();
  } catch (const InputError& error) {
    fault = error.what();
  } catch (const OutputError& error) {
    fault = error.what();
  }
  std::fflush(stdout);
  std::fprintf(stderr, "splinefit: %s\n", fault.c_str());
  return 2;
}
