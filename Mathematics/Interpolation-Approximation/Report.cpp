#include "Report.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Format.hpp"
#include "Input.hpp"  // max_knots
#include "Model.hpp"  // for_each_table_row
#include "Table.hpp"

namespace {

// "3", "3, 5" or "3 to 7, 9" for an ascending list of intervals; after `runs` runs of
// consecutive intervals, ", ..." for the rest.
std::string list_of(const std::vector<int>& ascending, std::size_t runs = SIZE_MAX) {
  std::string text;
  for (std::size_t k = 0; k < ascending.size(); runs--) {
    if (runs == 0) return text + ", ...";
    std::size_t run = k;
    while (run + 1 < ascending.size() && ascending[run + 1] == ascending[run] + 1) run++;
    if (!text.empty()) text += ", ";
    text += std::to_string(ascending[k]);
    if (run > k) text.append(run == k + 1 ? ", " : " to ").append(std::to_string(ascending[run]));
    k = run + 1;
  }
  return text;
}

// The shortest text that reads back as v.
std::string shortest(double v) {
  char text[max_number_chars];
  return {text, append_shortest(text, v)};
}

// "name<TAB>value", or "undefined" and a comment saying why when the value is NaN.
void statistic(std::FILE* f, const char* name, double value, const char* why) {
  if (!std::isnan(value)) {
    std::fprintf(f, "%s\t%.10g\n", name, value);
  } else {
    std::fprintf(f, "%s\tundefined\n# %s: %s\n", name, name, why);
  }
}

// A row of the report's band or residuals: `columns` numbers, each in the shortest text that
// reads back as the same double, separated by tabs, and a line break.
RowFormat report_row(std::size_t columns) {
  return {.columns = std::vector(columns, ColumnFormat{Conversion::shortest, 0}), .after = "\n"};
}

// Distinct abscissae among the points that count (weight above 0); x ascending.
int distinct_abscissae(const lsq::Problem& p) {
  int distinct = 0;
  for (int i = 1, last = 0; i <= p.N; i++) {
    if (p.w != nullptr && p.w[i] == 0.0) continue;
    distinct += distinct == 0 || p.x[i] != p.x[last];
    last = i;
  }
  return distinct;
}

// What the data leave free and what the fit did about it, for the report's comment line: every
// free interval, which of them hold no point or have zero width, and the spline chosen there.
std::string undetermined_detail(const lsq::Problem& p, const lsq::Fit& fit) {
  std::vector<int> points(static_cast<std::size_t>(p.J) + 1, 0), empty, narrow;
  for (int i = 1; i <= p.N; i++) points[static_cast<std::size_t>(p.I[i])]++;
  for (int j : fit.undetermined) {
    if (points[static_cast<std::size_t>(j)] == 0) empty.push_back(j);
    if (p.X[j + 1] == p.X[j]) narrow.push_back(j);
  }
  std::string text = "the data leave ";
  text += fit.undetermined.size() > 1 ? "intervals " : "interval ";
  text += list_of(fit.undetermined) + " free (" + std::to_string(distinct_abscissae(p)) +
          " distinct abscissae in all";
  if (!empty.empty()) text.append("; without points: ").append(list_of(empty));
  if (!narrow.empty()) text.append("; of zero width: ").append(list_of(narrow));
  const char* exact =
      fit.exact.a.empty()
          ? "the polynomial of lowest degree through the mean ordinate at each abscissa"
          : "the least-squares spline with the smallest jumps of the highest derivative at the "
            "knots, which carries a neighbour's polynomial across an interval without points";
  text += fit.method == lsq::Method::exact
              ? std::string("); the fit is ") + exact
              : std::string(
                    "); Powell's fit leaves the free combinations where its search "
                    "stopped; Method 1 gives ") +
                    exact;
  return text;
}

// How the knots were chosen, for the report's comment line.
std::string how_chosen(const lsq::KnotChoice& c) {
  const lsq::ScanRow& row = c.scan[c.chosen];
  char text[400];
  if (c.way == lsq::Knots::count) {
    std::snprintf(text, sizeof text, "J = %d chosen by the least GCV among J = 1 to %d", row.J,
                  c.largest);
  } else if (c.asked == 0) {
    std::snprintf(text, sizeof text,
                  "free knots from the knots file's %d, their number kept; RSS %.10g at the "
                  "chosen knots against %.10g at the knots file's",
                  row.J + 1, row.RSS, row.start_RSS);
  } else {
    std::snprintf(text, sizeof text,
                  "free knots; J = %d chosen by the least GCV counting each inner knot as %g "
                  "parameters, among J = 1 to %d; RSS %.10g at the chosen knots against %.10g at "
                  "equal-count knots",
                  row.J, lsq::free_knot_cost, c.scan.back().J, row.RSS, row.start_RSS);
  }
  std::string how = text;
  if (c.robust != lsq::Robust::none)
    how += "; chosen on the weights of the robust fit (" + std::to_string(c.rounds) +
           (c.rounds == 1 ? " round" : " rounds") +
           "), which weigh the sums of squares of the scan";
  if (c.asked > c.largest)
    how += " (J lowered from " + std::to_string(c.asked) + " to " + std::to_string(c.largest) +
           ", the most that equal-count knots allow for the points)";
  return how;
}

// The robust fit's lines: its kind with a comment saying what was done, its scale, steps and the
// points it weighed down.
void write_robust(std::FILE* f, const lsq::RobustFit& r) {
  char what[300];
  if (r.iterations == 0)
    std::snprintf(what, sizeof what,
                  "the scale of the residuals is 0 (more than half the points lie on the "
                  "least-squares curve): the least-squares fit is kept");
  else
    std::snprintf(what, sizeof what,
                  "%s with c = %g, by iteratively reweighted least squares from the "
                  "least-squares fit%s",
                  r.kind == lsq::Robust::huber ? "Huber's psi" : "Tukey's bisquare",
                  r.kind == lsq::Robust::huber ? lsq::huber_c : lsq::bisquare_c,
                  !r.settled         ? ", not settled after the most steps allowed"
                  : r.scale_vanished ? ", stopped where the scale of the residuals fell to 0"
                                     : "");
  std::fprintf(f,
               "robust\t%s\n# robust: %s; scale s = median |sqrt(w) r| / 0.6745 at the final "
               "curve; downweighted: points of robust weight below 1, rejected: of robust weight "
               "0; RSS and the statistics are those of the robust curve\n",
               lsq::robust_name(r.kind), what);
  statistic(f, "scale", r.scale, "");
  std::fprintf(f, "robust_iterations\t%d\ndownweighted\t%d\nrejected\t%d\n", r.iterations,
               r.downweighted, r.rejected);
}

// The scan after the residuals: a row per J tried.
void write_scan(std::FILE* f, const lsq::KnotChoice& c) {
  std::fprintf(f,
               "\n\n# Knot intervals tried: the criterion is %s; chosen is 1 for the knots "
               "taken\n# J\tRSS\trank\tAIC\tBIC\tGCV\tcriterion\tchosen\n",
               c.way == lsq::Knots::count ? "GCV" : "GCV counting each inner knot");
  auto number = [f](double v) {
    if (std::isnan(v))
      std::fprintf(f, "\tundefined");
    else
      std::fprintf(f, "\t%.10g", v);
  };
  for (std::size_t k = 0; k < c.scan.size(); k++) {
    const lsq::ScanRow& row = c.scan[k];
    std::fprintf(f, "%d", row.J);
    number(row.RSS);
    std::fprintf(f, "\t%d", row.rank);
    for (double v : {row.AIC, row.BIC, row.GCV, row.criterion}) number(v);
    std::fprintf(f, "\t%d\n", k == c.chosen ? 1 : 0);
  }
}

}  // namespace

void write_fit_report(std::FILE* f, const std::string& Title, const lsq::Problem& p,
                      const lsq::Fit& fit, int Nout, const lsq::KnotChoice* choice) {
  const lsq::Statistics& s = fit.stats;
  std::fprintf(f, "%s\n", Title.c_str());
  for (auto [name, value] : {std::pair{"N", s.N},
                             {"counted", s.counted},
                             {"parameters", s.parameters},
                             {"rank", s.rank},
                             {"dof", s.dof()},
                             {"method", fit.method == lsq::Method::exact ? 1 : 0},
                             {"iterations", fit.iterations}})
    std::fprintf(f, "%s\t%d\n", name, value);
  if (!fit.undetermined.empty())
    std::fprintf(f, "# rank: %s\n", undetermined_detail(p, fit).c_str());
  if (choice != nullptr)
    std::fprintf(f, "knots\t%d\n# knots: %s\n", static_cast<int>(choice->way),
                 how_chosen(*choice).c_str());
  if (s.weights != lsq::Weights::none)
    std::fprintf(f, "weights\t%s\n# weights: %s\n",
                 s.weights == lsq::Weights::weights ? "w" : "sigma",
                 s.weights == lsq::Weights::weights
                     ? "the fit minimises the sum of w r^2; points of weight 0 do not count in "
                       "counted, dof and the criteria"
                     : "standard deviations sigma, taken as known; the fit minimises chi2, the "
                       "sum of (r / sigma)^2");
  if (fit.robust.kind != lsq::Robust::none) write_robust(f, fit.robust);
  const char* no_dof = "no degrees of freedom are left (dof = 0)";
  const char* no_log = "RSS is 0, so ln(RSS / N) is not finite";
  statistic(f, "RSS", s.RSS, "");
  statistic(f, "RSS_min", fit.RSS_min, "");
  statistic(f, "excess", fit.excess,
            "RSS_min is at rounding level (at most 1e-12 of TSS): the least-squares spline "
            "passes through the points");
  statistic(f, "sigma", s.sigma(), no_dof);
  statistic(f, "R2", s.R2(), "the ordinates are all equal (TSS = 0)");
  statistic(f, "max_residual", s.max_residual, "");
  std::fprintf(f, "at\t%s\n", shortest(s.at).c_str());
  statistic(f, "AIC", s.AIC(), no_log);
  statistic(f, "BIC", s.BIC(), no_log);
  statistic(f, "GCV", s.GCV(), "no degrees of freedom are left (dof = 0)");
  if (s.weights == lsq::Weights::sigmas) {
    statistic(f, "chi2", s.RSS, "");
    statistic(f, "chi2/dof", s.chi2_per_dof(), no_dof);
    statistic(f, "p_chi2", s.p_chi2(), no_dof);
  }

  if (fit.is_robust())
    std::fprintf(f,
                 "\n\n# Confidence band of the fitted curve, 95%%: s -/+ z se, with Huber's "
                 "covariance of the robust fit and the normal quantile z\n");
  else
    std::fprintf(f, "\n\n# Confidence band of the fitted curve, 95%%: s -/+ t se\n");
  if (s.rank < s.parameters) {
    std::fprintf(f, "# left out: the data leave the spline undetermined (rank %d of %d)\n", s.rank,
                 s.parameters);
  } else if (s.dof() <= 0) {
    std::fprintf(f, "# left out: no degrees of freedom are left to estimate sigma (dof = 0)\n");
  } else if (std::isnan(fit.error_scale())) {
    std::fprintf(f, "# left out: Huber's covariance has no meaning here (%s)\n",
                 fit.robust.scale_vanished ? "the scale of the residuals is 0"
                                           : "the mean of psi' is not above 0");
  } else {
    // Known standard deviations: se from them as they are, and the normal quantile; a robust
    // fit: Huber's covariance and the normal quantile.
    const double t = fit.quantile();
    const double scale = fit.error_scale();
    std::fprintf(f, "# x\ts(x)\tse(x)\tlower\tupper\n");
    OutputBuffer out(f);
    RowStream rows(out, report_row(5));  // x, s, se, lower, upper
    for_each_table_row(Nout, [&](double at) {
      const int j = fit.exact.interval(at);
      const double value = lsq::polynomial(fit.coefficients(j), p.M, p.X[j], at);
      const double se = scale * std::sqrt(fit.exact.variance_factor(at));
      double* values = rows.next();
      values[0] = at;
      values[1] = value;
      values[2] = se;
      values[3] = value - t * se;
      values[4] = value + t * se;
    });
    rows.finish();
    out.flush();
  }

  const bool robust = fit.robust.kind != lsq::Robust::none;
  std::fprintf(f, "\n\n# Residuals, in ascending abscissa\n# x\ty\tfit\tresidual%s\n",
               robust ? "\trobust_weight" : "");
  OutputBuffer out(f);
  write_rows(out, report_row(robust ? 5 : 4), static_cast<std::size_t>(p.N),
             [&fit, x = p.x, y = p.y, robust](std::size_t row, double* values) {
               const int i = static_cast<int>(row) + 1;
               const double fitted = fit.fitted[static_cast<std::size_t>(i)];
               values[0] = x[i];
               values[1] = y[i];
               values[2] = fitted;
               values[3] = y[i] - fitted;
               if (robust) values[4] = fit.robust.weights[static_cast<std::size_t>(i)];
               return true;
             });
  out.flush();
  if (choice != nullptr) write_scan(f, *choice);
}

void warn_about_fit(const lsq::Problem& p, const lsq::Fit& fit, const std::string& report) {
  const lsq::Statistics& s = fit.stats;
  const char* prefix = "splinefit: warning: ";
  // A difference below 10^-9 of the spread of the ordinates is rounding, not a stopped search.
  const double spread = s.TSS > 0.0 ? s.TSS : fit.RSS_min, apart = s.RSS - fit.RSS_min;
  if (fit.method == lsq::Method::powell && apart < -1e-9 * spread) {
    // The exact solve's spline is the least-squares one: a search cannot get below it.
    std::fprintf(stderr,
                 "%sPowell's fit has a smaller sum of squares (%.10g) than the least-squares "
                 "solve (%.10g); that is a fault of splinefit, please report it\n",
                 prefix, s.RSS, fit.RSS_min);
  } else if (fit.method == lsq::Method::powell && apart > 1e-9 * spread &&
             (fit.exact_to_rounding() || s.RSS > 1.01 * fit.RSS_min)) {
    const double ratio = s.RSS / fit.RSS_min;
    if (fit.exact_to_rounding())
      std::fprintf(stderr,
                   "%sthe least-squares spline %s (RSS_min %.2g); Powell's fit (Method 0) "
                   "stopped at RSS %.4g, %.3g of TSS",
                   prefix,
                   distinct_abscissae(p) <= s.rank ? "interpolates the points"
                                                   : "fits the points to rounding",
                   fit.RSS_min, s.RSS, s.RSS / s.TSS);
    else if (ratio < 2.0)
      std::fprintf(stderr,
                   "%sPowell's fit (Method 0) stopped %.3g%% above the least-squares "
                   "minimum",
                   prefix, 100.0 * (ratio - 1.0));
    else
      std::fprintf(stderr,
                   "%sPowell's fit (Method 0) stopped at %.*f times the least-squares "
                   "minimum",
                   prefix, ratio < 1000.0 ? 3 : 0, ratio);
    std::fprintf(stderr, "; Method 1 in Computational-parameters.dat gives %s\n",
                 fit.exact_to_rounding() ? "it" : "the minimum");
  }
  // A least-squares spline is never farther from the points than their (weighted) mean, a
  // constant spline: R2 below 0 is Powell's search stopped far off, or a fault. (A robust curve
  // may be, when wild points weigh in the plain sum of squares.)
  if (s.R2() < -1e-9 && !fit.is_robust())
    std::fprintf(stderr,
                 "%sR2 is %.4g: the fitted spline lies farther from the points than their "
                 "mean%s\n",
                 prefix, s.R2(),
                 fit.method == lsq::Method::powell
                     ? "; Method 1 gives the least-squares spline"
                     : ", which a least-squares fit cannot; that is a fault of splinefit, please "
                       "report it");
  if (s.rank < s.parameters)
    std::fprintf(stderr,
                 "%sthe data leave the spline undetermined (rank %d of %d parameters) in %zu of "
                 "its %d intervals (%s); %s names them all and says what the fit did\n",
                 prefix, s.rank, s.parameters, fit.undetermined.size(), p.J,
                 list_of(fit.undetermined, 4).c_str(), report.c_str());
  warn_about_robust(fit, report);
}

void warn_about_robust(const lsq::Fit& fit, const std::string& report) {
  const lsq::RobustFit& r = fit.robust;
  if (r.kind == lsq::Robust::none) return;
  const char* prefix = "splinefit: warning: ";
  if (r.scale_vanished && r.iterations == 0)
    std::fprintf(stderr,
                 "%sthe scale of the residuals is 0: more than half the points lie on the "
                 "least-squares curve, which a robust fit cannot weigh; the least-squares fit is "
                 "kept\n",
                 prefix);
  else if (r.scale_vanished)
    std::fprintf(stderr,
                 "%sthe scale of the residuals fell to 0 after %d robust steps (more than half "
                 "the points lie on the curve); the fit stops there, without a confidence band\n",
                 prefix, r.iterations);
  if (!r.settled)
    std::fprintf(stderr, "%sthe robust fit had not settled after %d steps; %s has its last step\n",
                 prefix, r.iterations, report.c_str());
  if (r.rank < fit.stats.rank)
    std::fprintf(stderr,
                 "%sthe points the robust fit rejects leave its spline undetermined (rank %d of "
                 "%d); it has the smallest jumps of the highest derivative there\n",
                 prefix, r.rank, fit.stats.rank);
}

void warn_about_choice(const lsq::KnotChoice& choice, const std::string& knots_file) {
  const lsq::ScanRow& row = choice.scan[choice.chosen];
  if (choice.asked > 0 && row.J == choice.largest)
    std::fprintf(stderr,
                 "splinefit: warning: the knots chosen have J = %d intervals, the largest tried; "
                 "the data may want more%s\n",
                 row.J,
                 choice.largest < choice.asked ? " than equal-count knots allow for the points"
                                               : " (raise J in Control.dat)");
  if (choice.knots.size() > static_cast<std::size_t>(max_knots))
    std::fprintf(stderr,
                 "splinefit: warning: the %zu knots chosen are more than a knots file holds (%d); "
                 "%s cannot be read back as one\n",
                 choice.knots.size(), max_knots, knots_file.c_str());
}
