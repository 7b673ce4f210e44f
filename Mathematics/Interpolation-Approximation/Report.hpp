// The fit report <Path><Inputfile>.fit and the warnings that judge a fit: how close the fit came
// to the least-squares minimum, how well it describes the data, and how uncertain the fitted
// curve is. Everything is computed from the model state after the fit and from the exact solve's
// orthogonal factor, in time linear in N.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "LsqSpline.hpp"

// Statistics of the fitted spline (coefficients rows 1..J of c) over the N points. With weights
// (kind 1: w, kind 2: w = 1 / sigma^2) the sums are weighted, points of weight 0 do not count as
// observations, and for kind 2 RSS is chi^2.
struct FitAssessment {
  lsq::Statistics stats;  // RSS: of the spline as written
  int method = 0, iterations = 0;
  double RSS_min = 0.0;              // the same sum for the exact least-squares parameters
  double excess = 0.0;               // RSS / RSS_min - 1, NaN when RSS_min is 0
  std::vector<int> undetermined;     // intervals the data leave free, when rank < parameters
  lsq::Solution exact;               // the least-squares solution and its covariance
  std::unique_ptr<double[]> fitted;  // P0(x[i], I[i]): the spline as written at point i = 1..N
};

// Assesses the fit that fit_model(method, ...) left in c after `iterations` iterations, with the
// weights w of kind `weights`. Runs the exact solve (after a Method 0 fit too) for RSS_min and
// the covariance, unless `exact` holds its result already; c is left as it was.
FitAssessment assess_fit(int method, int iterations, int weights = 0, lsq::Solution exact = {});

// Writes the report: the title; one "name<TAB>value" line per statistic (10 significant digits,
// "undefined" and a comment line where a value has no meaning; with weights a line naming their
// kind, and for standard deviations chi2, chi2/dof and the probability of a chi^2 at least as
// large); after two blank lines the confidence band on the abscissae of the results table (x,
// s(x), se(x), lower, upper: s -/+ the 0.975 quantile of Student's t with dof degrees of freedom
// times se, or of the normal distribution when standard deviations are given and se uses them
// as they are), or a comment why it is left out; after two more blank lines every point with its
// fitted value and residual.
void write_fit_report(std::FILE* f, const std::string& Title, const FitAssessment& fit, int Nout);

// One line "splinefit: warning: ..." on standard error for each of: a Method 0 fit more than 1%
// above the least-squares minimum; a spline the data leave undetermined (rank below NN).
void warn_about_fit(const FitAssessment& fit);
