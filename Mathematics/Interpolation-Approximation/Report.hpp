// The fit report <Path><Inputfile>.fit and the warnings that judge a fit: how close the fit came
// to the least-squares minimum, how well it describes the data, and how uncertain the fitted
// curve is. Everything is written from the fit and its assessment (lsq::fit) and the problem's
// points; nothing here computes a statistic.
#pragma once

#include <cstdio>
#include <string>

#include "KnotChoice.hpp"
#include "LsqSpline.hpp"

// Writes the report: the title; one "name<TAB>value" line per statistic (counts, then 10
// significant digits but for `at`, an abscissa in full; with a comment line that says which
// intervals the data leave free where they do;
// "undefined" and a comment line where a value has no meaning; with weights a line naming their
// kind, and for standard deviations chi2, chi2/dof and the probability of a chi^2 at least as
// large); after two blank lines the confidence band on the abscissae of the results table (x,
// s(x), se(x), lower, upper: s -/+ the 0.975 quantile of Student's t with dof degrees of freedom
// times se, or of the normal distribution when standard deviations are given and se uses them
// as they are), or a comment why it is left out; after two more blank lines every point with its
// fitted value and residual.
// A robust fit adds, after the counts, the lines robust (huber or bisquare, with a comment
// saying what was done), scale, robust_iterations, downweighted and rejected; its band is
// s -/+ z se with Huber's covariance and the normal quantile z; and its residual block has a
// fifth column, the robust weight of each point.
// With knots chosen by the data (`choice`; null otherwise) the counts are followed by the line
// "knots<TAB>1" or 2 and a comment saying how they were chosen, and the residuals by two blank
// lines and the scan: J, RSS, rank, AIC, BIC, GCV, the criterion the choice minimised and 1 on the
// chosen row, 0 on the others.
void write_fit_report(std::FILE* f, const std::string& Title, const lsq::Problem& p,
                      const lsq::Fit& fit, int Nout, const lsq::KnotChoice* choice = nullptr);

// One line "splinefit: warning: ..." on standard error, of at most about 200 characters, for
// each of: a Method 0 fit more than 1% above the least-squares minimum, or above a minimum at
// rounding level (then with the sums of squares, as the ratio means nothing); a Method 0 fit
// below the minimum, or R2 below 0, which are faults unless Powell's search stopped far off; a
// spline the data leave undetermined (rank below the number of parameters), whose full account
// is the comment line of the fit report, named `report`.
void warn_about_fit(const lsq::Problem& p, const lsq::Fit& fit, const std::string& report);

// The warnings about a robust fit (called by warn_about_fit): a scale of 0, which keeps the
// least-squares fit or stops the steps; steps that did not settle; points rejected so that the
// data leave the robust spline undetermined.
void warn_about_robust(const lsq::Fit& fit, const std::string& report);

// The warnings about knots the data chose: the choice fell on the largest J tried (the data may
// want more intervals); more knots than a knots file holds, so that `knots_file` cannot be read
// back as one.
void warn_about_choice(const lsq::KnotChoice& choice, const std::string& knots_file);
