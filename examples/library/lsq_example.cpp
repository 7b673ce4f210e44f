// Fits a cubic least-squares spline to noisy samples of sin x, then evaluates, differentiates and
// integrates it, with the standard error of the fitted curve.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "LsqSpline.hpp"

int main() {
  const double pi = std::numbers::pi;
  std::vector<double> x, y;
  for (int i = 0; i <= 400; i++) {
    x.push_back(0.0025 * i * pi);                                  // 0 to pi
    y.push_back(std::sin(x.back()) + 0.001 * std::sin(97.0 * i));  // a little deterministic noise
  }
  lsq::Spline s = lsq::fit(x, y, 3, 8);  // cubic, 8 intervals with equal numbers of points
  double t = pi / 2;
  std::printf("s(pi/2) = %.4f +- %.4f, s'(pi/2) = %.4f, integral 0..pi = %.4f, sigma = %.4f\n",
              s.value(t), s.standard_error(t), s.value(t, 1), s.integral(pi),
              s.statistics().sigma());
}
