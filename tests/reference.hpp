// An independent least-squares spline for the tests: a dense solve in long double, with the
// B-splines of the textbook recurrence (Cox and de Boor) on knots beyond every point, Householder
// QR with column pivoting and, where the data leave the spline undetermined, the smallest jumps
// over an explicit basis of the null space. It shares no code or method with the library beyond
// the definition of the answer.
#pragma once

#include <vector>

namespace reference {

using Real = long double;
using Matrix = std::vector<std::vector<Real>>;

struct Spline {
  int M = 3, rank = 0;
  std::vector<Real> t, coefficients;  // extended knots, B-spline coefficients
  Matrix R;                           // the pivoted factor of the weighted design
  std::vector<int> perm;
  Real value(Real at, int order = 0) const;  // the derivative of that order
  Real variance(Real at) const;              // b^T (A^T W A)^-1 b, when rank is full
};

// The least-squares spline of degree M with the model's knots X[0..J] (non-decreasing; the inner
// knots are its breaks) for the points (x, y) with weights w (empty: all 1); where the data leave
// it undetermined, the one with the smallest sum of (h^M jump / sqrt(m))^2 over the breaks: jump
// that of the coefficient of (t - break)^M, h the narrower of the two intervals beside the break
// between distinct knots (the outer ones reaching to the outermost point or knot; the other when
// one has no width), m the number of knots at the break.
Spline fit(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w,
           int M, const std::vector<double>& X);

// A robust fit by iteratively reweighted least squares, every step a fit() above: psi Huber's
// (c = 1.345) or, with `bisquare`, Tukey's (c = 4.685); the scale of each step the median of
// |sqrt(w) r| over the points of weight above 0, divided by the normal quartile 0.6744897501960817;
// steps until no fitted value moves by more than 1e-12 of the largest |y|. At the final curve:
// the scale, the robust weights psi(u) / u and Huber's H1 variance factor.
struct RobustSpline {
  Spline curve, least_squares;
  Real scale = 0, band_factor = 0;
  std::vector<Real> weights;
};
RobustSpline robust_fit(const std::vector<double>& x, const std::vector<double>& y,
                        const std::vector<double>& w, int M, const std::vector<double>& X,
                        bool bisquare);

}  // namespace reference
