#include "Report.hpp"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstring>
#include <vector>

#include "Format.hpp"
#include "Interpolation.hpp"
#include "Model.hpp"

namespace {

// The sum of squared residuals r = P0(x[i], I[i]) - y[i] in point order, with the objective's
// arithmetic (w[i] * (r * r) with weights); the largest |r| and its abscissa go to *largest, *at.
double residual_sum(double* largest, double* at) {
  double sum = 0.0;
  *largest = -1.0;
  for (int i = 1; i <= N; i++) {
    double r = P0(x[i], I[i]) - y[i];
    sum += w != nullptr ? w[i] * (r * r) : r * r;
    if (std::fabs(r) > *largest) {
      *largest = std::fabs(r);
      *at = x[i];
    }
  }
  return sum;
}

// The interval whose polynomial P uses at t.
int evaluation_interval(double t) {
  int j = interval(X0, J, t) + 1;
  return j == J + 1 ? J : j;
}

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

void statistic(std::FILE* f, const char* name, double value, bool defined, const char* why) {
  if (defined) {
    std::fprintf(f, "%s\t%.10g\n", name, value);
  } else {
    std::fprintf(f, "%s\tundefined\n# %s: %s\n", name, name, why);
  }
}

}  // namespace

FitAssessment assess_fit(int method, int iterations, int weights, ExactSolution exact) {
  FitAssessment fit;
  fit.N = fit.counted = N;
  if (w != nullptr)
    for (int i = 1; i <= N; i++) fit.counted -= w[i] == 0.0;
  fit.parameters = NN;
  fit.rank = least_squares_rank(&fit.undetermined);
  fit.dof = fit.counted - fit.rank;
  fit.method = method;
  fit.iterations = iterations;
  fit.weights = weights;
  fit.RSS = residual_sum(&fit.max_residual, &fit.at);
  fit.exact = exact.Z.empty() ? exact_solution() : std::move(exact);
  // RSS_min from the exact parameters' coefficients, with c restored afterwards.
  const std::size_t count = static_cast<std::size_t>(J) * (M + 1);
  std::vector<double> kept(c[1], c[1] + count);
  Transfer(fit.exact.Z.data());
  Continuity();
  double ignored_largest, ignored_at;
  fit.RSS_min = residual_sum(&ignored_largest, &ignored_at);
  std::memcpy(c[1], kept.data(), count * sizeof(double));
  double mean = 0.0, total = 0.0;
  for (int i = 1; i <= N; i++) {
    mean += w != nullptr ? w[i] * y[i] : y[i];
    total += w != nullptr ? w[i] : 1.0;
  }
  mean /= total;
  for (int i = 1; i <= N; i++)
    fit.TSS += (w != nullptr ? w[i] : 1.0) * ((y[i] - mean) * (y[i] - mean));
  return fit;
}

void write_fit_report(std::FILE* f, const std::string& Title, const FitAssessment& fit, int Nout) {
  std::fprintf(f, "%s\n", Title.c_str());
  for (auto [name, value] : {std::pair{"N", fit.N}, {"parameters", fit.parameters},
                             {"rank", fit.rank}, {"dof", fit.dof}, {"method", fit.method},
                             {"iterations", fit.iterations}})
    std::fprintf(f, "%s\t%d\n", name, value);
  if (fit.weights > 0)
    std::fprintf(f, "weights\t%s\n# weights: %s\n", fit.weights == 1 ? "w" : "sigma",
                 fit.weights == 1 ? "the fit minimises the sum of w r^2; points of weight 0 do "
                                    "not count in N - rank and the criteria"
                                  : "standard deviations sigma, taken as known; the fit "
                                    "minimises chi2, the sum of (r / sigma)^2");
  const double n = fit.counted, log_term = n * std::log(fit.RSS / n);
  const bool dof = fit.dof > 0, rss = fit.RSS > 0.0;
  const double sigma = dof ? std::sqrt(fit.RSS / fit.dof) : 0.0;
  statistic(f, "RSS", fit.RSS, true, "");
  statistic(f, "RSS_min", fit.RSS_min, true, "");
  statistic(f, "excess", fit.RSS / fit.RSS_min - 1.0, fit.RSS_min > 0.0,
            "RSS_min is 0: the least-squares spline passes through every point");
  statistic(f, "sigma", sigma, dof, "no degrees of freedom are left (dof = 0)");
  statistic(f, "R2", 1.0 - fit.RSS / fit.TSS, fit.TSS > 0.0,
            "the ordinates are all equal (TSS = 0)");
  statistic(f, "max_residual", fit.max_residual, true, "");
  statistic(f, "at", fit.at, true, "");
  statistic(f, "AIC", log_term + 2.0 * fit.rank, rss, "RSS is 0, so ln(RSS / N) is not finite");
  statistic(f, "BIC", log_term + fit.rank * std::log(n), rss,
            "RSS is 0, so ln(RSS / N) is not finite");
  statistic(f, "GCV", n * fit.RSS / ((n - fit.rank) * (n - fit.rank)), dof,
            "N equals the rank, so N - rank is 0");
  if (fit.weights == 2) {
    statistic(f, "chi2", fit.RSS, true, "");
    statistic(f, "chi2/dof", fit.RSS / fit.dof, dof, "no degrees of freedom are left (dof = 0)");
    statistic(f, "p_chi2",
              dof ? boost::math::cdf(boost::math::complement(
                        boost::math::chi_squared(fit.dof), fit.RSS))
                  : 0.0,
              dof, "no degrees of freedom are left (dof = 0)");
  }

  std::fprintf(f, "\n\n# Confidence band of the fitted curve, 95%%: s -/+ t se\n");
  if (fit.rank < fit.parameters) {
    std::fprintf(f, "# left out: the data leave the spline undetermined (rank %d of %d)\n",
                 fit.rank, fit.parameters);
  } else if (!dof) {
    std::fprintf(f, "# left out: no degrees of freedom are left to estimate sigma (dof = 0)\n");
  } else {
    // Known standard deviations: se from them as they are, and the normal quantile.
    const bool known = fit.weights == 2;
    const double t = known ? boost::math::quantile(boost::math::normal(), 0.975)
                           : boost::math::quantile(boost::math::students_t(fit.dof), 0.975);
    const double scale = known ? 1.0 : sigma;
    std::fprintf(f, "# x\ts(x)\tse(x)\tlower\tupper\n");
    OutputBuffer out(f);
    std::vector<double> block;  // rows of x, s, se, lower, upper
    auto format_block = [&] {
      format_rows(out, block.size() / 5, 5 * (max_number_chars + 1), [&block](char* text,
                                                                          std::size_t row) {
        for (int k = 0; k < 5; k++) {
          text = append_g(text, block[row * 5 + k], 10);
          *text++ = k < 4 ? '\t' : '\n';
        }
        return text;
      });
      block.clear();
    };
    for_each_table_row(Nout, [&](double at) {
      double s = P(at);
      double se = scale * std::sqrt(fit.exact.variance_factor(evaluation_interval(at), at));
      block.insert(block.end(), {at, s, se, s - t * se, s + t * se});
      if (block.size() >= std::size_t{5} << 16) format_block();
    });
    format_block();
    out.flush();
  }

  std::fprintf(f, "\n\n# Residuals, in ascending abscissa\n# x\ty\tfit\tresidual\n");
  OutputBuffer out(f);
  format_rows(out, static_cast<std::size_t>(N), 4 * (max_number_chars + 1),
              [](char* text, std::size_t row) {
                const int i = static_cast<int>(row) + 1;
                const double fitted = P0(x[i], I[i]);
                for (double v : {x[i], y[i], fitted, y[i] - fitted}) {
                  text = append_g(text, v, 10);
                  *text++ = '\t';
                }
                text[-1] = '\n';
                return text;
              });
  out.flush();
}

void warn_about_fit(const FitAssessment& fit) {
  // An excess below 10^-9 of the spread of the ordinates is rounding, not a stopped search.
  const double spread = fit.TSS > 0.0 ? fit.TSS : fit.RSS_min;
  if (fit.method == 0 && fit.RSS > 1.01 * fit.RSS_min && fit.RSS - fit.RSS_min > 1e-9 * spread) {
    double ratio = fit.RSS / fit.RSS_min;
    if (fit.RSS_min == 0.0)
      std::fprintf(stderr,
                   "splinefit: warning: Powell's fit (Method 0) stopped at a sum of squares of "
                   "%.4g where the least-squares minimum is 0;",
                   fit.RSS);
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
  if (fit.rank < fit.parameters) {
    std::vector<int> points(static_cast<std::size_t>(J) + 1, 0), empty, narrow;
    for (int i = 1; i <= N; i++) points[static_cast<std::size_t>(I[i])]++;
    for (int j : fit.undetermined) {
      if (points[static_cast<std::size_t>(j)] == 0) empty.push_back(j);
      if (X[j + 1] == X[j]) narrow.push_back(j);
    }
    std::string where = fit.undetermined.size() > 1 ? " in intervals " : " in interval ";
    where += list_of(fit.undetermined);
    int distinct = 0;  // of the points that count
    for (int i = 1, last = 0; i <= N; i++) {
      if (w != nullptr && w[i] == 0.0) continue;
      distinct += distinct == 0 || x[i] != x[last];
      last = i;
    }
    std::string why = where + " (" + std::to_string(distinct) + " distinct abscissae in all";
    if (!empty.empty()) why.append("; without points: ").append(list_of(empty));
    if (!narrow.empty()) why.append("; of zero width: ").append(list_of(narrow));
    why += ")";
    const char* exact =
        fit.exact.covariance.empty()
            ? "the polynomial of lowest degree through the mean ordinate at each abscissa"
            : "the least-squares spline with the smallest jumps of the highest derivative at the "
              "knots, which carries a neighbour's polynomial across an interval without points";
    std::string remedy = fit.method == 1 ? std::string("the fit is ") + exact
                                         : std::string("Powell's fit leaves the free combinations "
                                                       "where its search stopped; Method 1 gives ") +
                                               exact;
    std::fprintf(stderr,
                 "splinefit: warning: the data leave the spline undetermined (rank %d of %d "
                 "parameters)%s; %s\n",
                 fit.rank, fit.parameters, why.c_str(), remedy.c_str());
  }
}
