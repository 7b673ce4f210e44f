// An independent least-squares spline for the tests: a dense solve in long double, with the
// B-splines of the textbook recurrence (Cox and de Boor) on knots that reach beyond every point,
// Householder QR with column pivoting, and, where the data leave the spline undetermined, the
// smallest jumps found over an explicit basis of the null space. Nothing here shares code or
// method with the library beyond the definitions of the answer.
#pragma once

#include <vector>

namespace reference {

using Real = long double;

struct Spline {
  int M = 3;
  std::vector<Real> t, coefficients;  // extended knots and B-spline coefficients
  int rank = 0;
  Real value(Real at) const;
};

// The least-squares spline of degree M with the model's knots X[0..J] (non-decreasing; inner
// knots X[1..J-1] are its breaks, one break per abscissa) for the points (x, y) with weights w
// (empty: all 1); where the data leave it undetermined, the one with the smallest sum of
// (h^M jump / sqrt(m))^2 over the breaks, jump the jump of the coefficient of (t - break)^M, h
// the narrower of the two intervals beside the break between distinct knots (the outer ones
// reaching to the outermost point or knot; the other when one has no width), m the number of
// knots at the break.
Spline fit(const std::vector<double>& x, const std::vector<double>& y,
           const std::vector<double>& w, int M, const std::vector<double>& X);

}  // namespace reference
