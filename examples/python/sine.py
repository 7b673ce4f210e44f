# Fits cubic splines to 500 noisy readings of sin x, two of them wild: least squares, robust, and
# with the number of intervals chosen by the data; evaluates, differentiates and integrates one,
# with its 95% band and statistics, and draws it when matplotlib is installed.
import numpy as np

import splinefit

rng = np.random.default_rng(1)
x = rng.uniform(0, 2 * np.pi, 500)  # in any order
y = np.sin(x) + 0.05 * rng.standard_normal(x.size)
y[[10, 20]] += 1.5  # two wild readings

s = splinefit.fit(x, y, degree=3, intervals=8)  # least squares on 8 equal-count intervals
r = splinefit.fit(x, y, intervals=8, robust="bisquare")  # the wild readings rejected
c = splinefit.fit(x, y, intervals=40, knots_by="count", robust="huber")  # J <= 40 by GCV
print(s, r, c, sep="\n")

t = np.linspace(0, 2 * np.pi, 5)
lower, upper = r.confidence_band(t)  # s(t) -/+ z se(t)
print("s(t)   ", np.round(r(t), 4))
print("s'(t)  ", np.round(r(t, nu=1), 4))
print("band   ", np.round(upper - lower, 4))
print("integral 0..pi %.4f" % r.integral(0, np.pi))
print({k: r.statistics[k] for k in ("sigma", "scale", "downweighted", "rejected")})
print("knots", np.round(r.knots, 3), "coefficients", r.coefficients.shape)

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    plt = None
if plt is not None:
    grid = np.linspace(x.min(), x.max(), 400)
    lower, upper = r.confidence_band(grid)
    plt.fill_between(grid, lower, upper, color="0.6", label="95% band (bisquare)")
    plt.scatter(x, y, s=6, c=r.robust_weights, cmap="autumn", label="readings, by robust weight")
    plt.plot(grid, s(grid), "C0--", label="least squares")
    plt.plot(grid, r(grid), "k", lw=1, label="bisquare")
    plt.legend(loc="lower left")
    plt.title("splinefit.fit(x, y, intervals=8, robust='bisquare')")
    plt.savefig("sine.png", dpi=80)
