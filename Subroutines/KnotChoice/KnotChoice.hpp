// Knots chosen by the data for the least-squares splines of LsqSpline: the number of equal-count
// intervals with the least GCV, or free knots, whose number and places minimise the sum of
// squares and a criterion that counts each free knot as a parameter. Every fit on the way is the
// exact least-squares solve.
//
//   lsq::ChosenSpline c = lsq::fit_choosing_knots(x, y, 3, lsq::Knots::count, 100);
//   double v = c.spline.value(2.5);
//   for (const lsq::ScanRow& row : c.choice.scan) ... row.J, row.RSS, row.GCV
//
// The number of intervals (Knots::count): J intervals up to the J asked for (lowered to 2N - 1,
// the most that equal-count knots allow for N points) are fitted on equal-count knots, as
// place_knots_evenly places them, and the J of least GCV = n RSS / (n - rank)^2 among those tried
// is chosen (the smallest such J on a tie; J = 1 when no GCV is defined). Tried are every J up to
// 100, beyond that J growing by about 3% a step, the largest J included, and then every J between
// the two neighbours of the best J so found (beyond 100, GCV changes slowly with J).
//
// Free knots (Knots::free): for J intervals the ends stay at the first and last abscissa (or the
// given knots' ends) and the J - 1 inner knots move. Their places minimise the sum of squares by
// variable projection: the spline's coefficients are the exact least-squares solve for the knots
// at hand, and the knots are moved by Levenberg-Marquardt steps (12 at most) on the logarithms of
// the intervals' widths, with the Jacobian of the residuals by forward differences (one solve per
// knot, on every core). The widths are min_separation of the span and more, so the knots stay
// ordered and apart: knots that want to coalesce (the "lethargy" of free-knot fits) stop at that
// distance. A step is taken only when it lowers the sum of squares, so the knots found are never
// worse than where the search started. Against local minima each J starts from the better of two
// places: the equal-count knots, and the knots found for the J before with one knot added in the
// middle of the interval of largest residual sum of squares. The number of intervals minimises
//     GCV_free = n RSS / (n - rank - free_knot_cost (J - 1))^2,
// the GCV of Friedman's MARS (Friedman 1991, Ann. Statist. 19, 1-67), where each inner knot,
// being fitted, counts as free_knot_cost parameters besides the spline's own (Friedman advises 2
// to 4 for MARS; 1.5 gave the least error to the true curve on bench/knots_peers.py). J runs
// over every value up to 20 and then grows by about 10% a step, until stall_limit
// values in a row bring no improvement (but not before a quarter of the J that Knots::count
// chooses: where features are sharp and few, a few knots may be no better than one), or to the J
// asked for. The cost grows as N J^2: about 0.9 s for 2,048 points and 40 intervals on two cores.
// With given knots (fit_choosing_knots' start), their number is kept and their inner knots move.
//
// For a robust fit the choice is made on the robust fit's weights: a robust fit, the choice made
// again with each point's weight times its robust weight (so that wild points neither add knots
// nor count in the criterion; a rejected point does not count at all), a robust fit on the knots
// chosen, and so on until the knots no longer change, robust_rounds times at most. The first
// robust fit is made on the knots least squares chooses, or on equal-count knots of one
// interval per robust_start_points points that count (at most the J asked) when that is more:
// the few knots that least squares chooses in the presence of wild points would leave the
// curve's own features in the residuals, where the robust weights would take them for wild
// points and the choice would stay with too few knots.
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "LsqSpline.hpp"

namespace lsq {

// How the knots are found: as given (J equal-count intervals, or knots of the caller), the number
// of equal-count intervals chosen by the data, or free knots (number and places).
enum class Knots { given, count, free };

inline constexpr double free_knot_cost = 1.5;   // parameters per free knot in GCV_free
inline constexpr double min_separation = 1e-6;  // the narrowest free interval, of the span
inline constexpr int stall_limit = 6;           // J tried without improvement: free knots stop
inline constexpr int robust_rounds = 4;         // choices on robust weights at most
inline constexpr int robust_start_points = 5;   // points per interval of the first robust fit

// One fit of a scan: J intervals (equal-count ones, or for free knots the best places found)
// and its statistics, NaN where one has no meaning. `criterion` is what the choice minimised:
// GCV, or GCV_free for free knots. `start_RSS`: free knots, the sum of squares of the equal-count
// knots for the same J (or of the given knots).
struct ScanRow {
  int J = 0, rank = 0;
  double RSS = 0.0, AIC = NAN, BIC = NAN, GCV = NAN, criterion = NAN, start_RSS = NAN;
};

struct KnotChoice {
  Knots way = Knots::count;
  std::vector<double> knots;     // the chosen knots, ascending: knots.size() - 1 intervals
  std::vector<ScanRow> scan;     // every J tried, in ascending J
  std::size_t chosen = 0;        // the row of the chosen knots
  int asked = 0;                 // the J asked for (0 for given knots)
  int largest = 0;               // the largest J the scan could try: asked, lowered to 2N - 1
  Robust robust = Robust::none;  // the scan's sums of squares carry its robust weights
  int rounds = 0;                // choices made on robust weights
};

// Chooses knots for the points of p (x[1..N] ascending, y, w; degree p.M; `weights` says what w
// is) as `way` says: count and free with J >= 1 intervals at most; free with J <= 0 starts from
// p's knots X[1..p.J+1] and keeps their number; for a robust fit, on its weights. Throws
// SplineError for a problem_fault() of the points, for Knots::given, and for count with J < 1.
KnotChoice choose_knots(const Problem& p, Weights weights, Knots way, int J,
                        Robust robust = Robust::none);

// A spline fitted on knots chosen by the data, and how they were chosen.
struct ChosenSpline {
  Spline spline;
  KnotChoice choice;
};

// Chooses the knots for the points as choose_knots does (J intervals at most; for free knots
// with `start` given, from those knots, J not used) and fits the spline on them (lsq::fit with
// the knots, robustly for `robust`). Throws SplineError as lsq::fit does, and for a way or J that
// choose_knots refuses.
ChosenSpline fit_choosing_knots(std::span<const double> x, std::span<const double> y, int degree,
                                Knots way, int J, std::span<const double> w = {},
                                Weights kind = Weights::none, std::span<const double> start = {},
                                Robust robust = Robust::none);

}  // namespace lsq
