// Sets the spline model's program-wide state (Model.hpp) directly, for tests of the model and of
// the fits that work on it.
#pragma once

#include <vector>

#include "Model.hpp"
#include "Numutil.hpp"
#include "Splinefit.hpp"

// Model state of degree `degree` for points sorted by abscissa: the given knots, with each point
// assigned to its interval from them, or when `knots` is empty `automatic_J` intervals placed as
// the driver places them. The coefficients c are allocated, not set.
inline void set_model(int degree, const std::vector<double>& xs, const std::vector<double>& ys,
                      const std::vector<double>& knots, int automatic_J = 0) {
  release_model();
  M = degree;
  N = static_cast<int>(xs.size());
  J = knots.empty() ? automatic_J : static_cast<int>(knots.size()) - 1;
  NN = J + M;
  x = dvector(1, N);
  y = dvector(1, N);
  I = ivector(1, N);
  for (int i = 1; i <= N; i++) {
    x[i] = xs[i - 1];
    y[i] = ys[i - 1];
  }
  X = dvector(1, J + 1);
  X0 = X + 1;
  if (knots.empty()) {
    place_knots_evenly();
  } else {
    for (int j = 1; j <= J + 1; j++) X[j] = knots[j - 1];
    if (N > 0) assign_intervals_from_knots();
  }
  delta = dvector(1, J);
  for (int j = 1; j <= J; j++) delta[j] = X[j + 1] - X[j];
  c = dmatrix(1, J + 1, 0, M);
}
