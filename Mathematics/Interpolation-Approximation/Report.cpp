#include "Report.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Format.hpp"
#include "Model.hpp"  // for_each_table_row
#include "Table.hpp"

namespace {

// "3", "3, 5" or "3 to 7, 9" for an ascending list of intervals.
std::string list_of(const std::vector<int>& ascending) {
  std::string text;
  for (std::size_t k = 0; k < ascending.size();) {
    std::size_t run = k;
    while (run + 1 < ascending.size() && ascending[run + 1] == ascending[run] + 1) run++;
    if (!text.empty()) text += ", ";
    text += std::to_string(ascending[k]);
    if (run > k) text.append(run == k + 1 ? ", " : " to ").append(std::to_string(ascending[run]));
    k = run + 1;
  }
  return text;
}

// "name<TAB>value", or "undefined" and a comment saying why when the value is NaN.
void statistic(std::FILE* f, const char* name, double value, const char* why) {
  if (!std::isnan(value)) {
    std::fprintf(f, "%s\t%.10g\n", name, value);
  } else {
    std::fprintf(f, "%s\tundefined\n# %s: %s\n", name, name, why);
  }
}

// A row of the report's band or residuals: `columns` numbers of 10 significant digits, separated
// by tabs, and a line break.
RowFormat report_row(std::size_t columns) {
  return {.columns = std::vector(columns, ColumnFormat{Conversion::g, 10}), .after = "\n"};
}

}  // namespace

void write_fit_report(std::FILE* f, const std::string& Title, const lsq::Problem& p,
                      const lsq::Fit& fit, int Nout) {
  const lsq::Statistics& s = fit.stats;
  std::fprintf(f, "%s\n", Title.c_str());
  for (auto [name, value] : {std::pair{"N", s.N},
                             {"parameters", s.parameters},
                             {"rank", s.rank},
                             {"dof", s.dof()},
                             {"method", fit.method == lsq::Method::exact ? 1 : 0},
                             {"iterations", fit.iterations}})
    std::fprintf(f, "%s\t%d\n", name, value);
  if (s.weights != lsq::Weights::none)
    std::fprintf(f, "weights\t%s\n# weights: %s\n",
                 s.weights == lsq::Weights::weights ? "w" : "sigma",
                 s.weights == lsq::Weights::weights
                     ? "the fit minimises the sum of w r^2; points of weight 0 do not count in N - "
                       "rank and the criteria"
                     : "standard deviations sigma, taken as known; the fit minimises chi2, the "
                       "sum of (r / sigma)^2");
  const char* no_dof = "no degrees of freedom are left (dof = 0)";
  const char* no_log = "RSS is 0, so ln(RSS / N) is not finite";
  statistic(f, "RSS", s.RSS, "");
  statistic(f, "RSS_min", fit.RSS_min, "");
  statistic(f, "excess", fit.excess,
            "RSS_min is 0: the least-squares spline passes through every point");
  statistic(f, "sigma", s.sigma(), no_dof);
  statistic(f, "R2", s.R2(), "the ordinates are all equal (TSS = 0)");
  statistic(f, "max_residual", s.max_residual, "");
  statistic(f, "at", s.at, "");
  statistic(f, "AIC", s.AIC(), no_log);
  statistic(f, "BIC", s.BIC(), no_log);
  statistic(f, "GCV", s.GCV(), "N equals the rank, so N - rank is 0");
  if (s.weights == lsq::Weights::sigmas) {
    statistic(f, "chi2", s.RSS, "");
    statistic(f, "chi2/dof", s.dof() > 0 ? s.RSS / s.dof() : NAN, no_dof);
    statistic(f, "p_chi2", s.p_chi2(), no_dof);
  }

  std::fprintf(f, "\n\n# Confidence band of the fitted curve, 95%%: s -/+ t se\n");
  if (s.rank < s.parameters) {
    std::fprintf(f, "# left out: the data leave the spline undetermined (rank %d of %d)\n", s.rank,
                 s.parameters);
  } else if (s.dof() <= 0) {
    std::fprintf(f, "# left out: no degrees of freedom are left to estimate sigma (dof = 0)\n");
  } else {
    // Known standard deviations: se from them as they are, and the normal quantile.
    const double t = s.quantile();
    const double scale = s.weights == lsq::Weights::sigmas ? 1.0 : s.sigma();
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

  std::fprintf(f, "\n\n# Residuals, in ascending abscissa\n# x\ty\tfit\tresidual\n");
  OutputBuffer out(f);
  write_rows(out, report_row(4), static_cast<std::size_t>(p.N),
             [fitted = fit.fitted.data(), x = p.x, y = p.y](std::size_t row, double* values) {
               const int i = static_cast<int>(row) + 1;
               values[0] = x[i];
               values[1] = y[i];
               values[2] = fitted[i];
               values[3] = y[i] - fitted[i];
               return true;
             });
  out.flush();
}

void warn_about_fit(const lsq::Problem& p, const lsq::Fit& fit) {
  // An excess below 10^-9 of the spread of the ordinates is rounding, not a stopped search.
  const lsq::Statistics& s = fit.stats;
  const double spread = s.TSS > 0.0 ? s.TSS : fit.RSS_min;
  if (fit.method == lsq::Method::powell && s.RSS > 1.01 * fit.RSS_min &&
      s.RSS - fit.RSS_min > 1e-9 * spread) {
    double ratio = s.RSS / fit.RSS_min;
    if (fit.RSS_min == 0.0)
      std::fprintf(stderr,
                   "splinefit: warning: Powell's fit (Method 0) stopped at a sum of squares of "
                   "%.4g where the least-squares minimum is 0;",
                   s.RSS);
    else if (ratio < 2.0)
      std::fprintf(stderr,
                   "splinefit: warning: Powell's fit (Method 0) stopped %.3g%% above the "
                   "least-squares minimum;",
                   100.0 * (ratio - 1.0));
    else
      std::fprintf(stderr,
                   ratio < 1000.0 ? "splinefit: warning: Powell's fit (Method 0) stopped at %.3g "
                                    "times the least-squares minimum;"
                                  : "splinefit: warning: Powell's fit (Method 0) stopped at %.0f "
                                    "times the least-squares minimum;",
                   ratio);
    std::fprintf(stderr, " Method 1 in Computational-parameters.dat gives the minimum\n");
  }
  if (s.rank < s.parameters) {
    std::vector<int> points(static_cast<std::size_t>(p.J) + 1, 0), empty, narrow;
    for (int i = 1; i <= p.N; i++) points[static_cast<std::size_t>(p.I[i])]++;
    for (int j : fit.undetermined) {
      if (points[static_cast<std::size_t>(j)] == 0) empty.push_back(j);
      if (p.X[j + 1] == p.X[j]) narrow.push_back(j);
    }
    std::string where = fit.undetermined.size() > 1 ? " in intervals " : " in interval ";
    where += list_of(fit.undetermined);
    int distinct = 0;  // of the points that count
    for (int i = 1, last = 0; i <= p.N; i++) {
      if (p.w != nullptr && p.w[i] == 0.0) continue;
      distinct += distinct == 0 || p.x[i] != p.x[last];
      last = i;
    }
    std::string why = where + " (" + std::to_string(distinct) + " distinct abscissae in all";
    if (!empty.empty()) why.append("; without points: ").append(list_of(empty));
    if (!narrow.empty()) why.append("; of zero width: ").append(list_of(narrow));
    why += ")";
    const char* exact =
        fit.exact.a.empty()
            ? "the polynomial of lowest degree through the mean ordinate at each abscissa"
            : "the least-squares spline with the smallest jumps of the highest derivative at the "
              "knots, which carries a neighbour's polynomial across an interval without points";
    std::string remedy = fit.method == lsq::Method::exact
                             ? std::string("the fit is ") + exact
                             : std::string(
                                   "Powell's fit leaves the free combinations "
                                   "where its search stopped; Method 1 gives ") +
                                   exact;
    std::fprintf(stderr,
                 "splinefit: warning: the data leave the spline undetermined (rank %d of %d "
                 "parameters)%s; %s\n",
                 s.rank, s.parameters, why.c_str(), remedy.c_str());
  }
}
