// A spline model state for the benchmarks: n ascending points on [0, 10) with uneven spacing and
// noisy ordinates of a damped oscillation with a peak, j automatic intervals and degree m, set up
// through the model's own set-up and released on destruction.
#pragma once

#include <cmath>
#include <random>

#include "Model.hpp"

inline double bench_curve(double t) {
  return std::exp(-0.15 * t) * std::sin(1.3 * t) + 0.8 * std::exp(-std::pow((t - 6.0) / 0.35, 2));
}

struct ModelState {
  ModelState(int n, int j, int m, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    allocate_points(n, m);
    for (int i = 1; i <= N; i++) {
      x[i] = 10.0 * (i - 1 + u(rng)) / N;
      y[i] = bench_curve(x[i]) + 0.05 * (u(rng) - 0.5);
    }
    place_knots_evenly(j);
  }
  ModelState(const ModelState&) = delete;
  ModelState& operator=(const ModelState&) = delete;
  ~ModelState() { release_model(); }
};
