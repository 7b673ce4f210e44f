// The Python module splinefit: the least-squares splines of LsqSpline.hpp and the knots the data
// choose (KnotChoice.hpp) over NumPy arrays, in SciPy users' conventions.
//
// Float64 C-contiguous arrays reach the library as std::span over their own buffers; any other
// array-like of real numbers is converted once. Fits and evaluations at arrays of abscissae run
// without the GIL, so Python threads fit and evaluate in parallel. Every refusal of the library
// (lsq::SplineError, a std::invalid_argument, which pybind11 raises as ValueError) arrives as
// ValueError with the library's message.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "KnotChoice.hpp"
#include "LsqSpline.hpp"

namespace py = pybind11;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> span(const Array& a) {
  return {a.data(), static_cast<std::size_t>(a.size())};
}

// `obj` as a float64 C-contiguous array: itself when it is one (no copy), else converted once.
// TypeError for what does not hold real numbers (complex, strings, booleans, dates); ValueError
// for a number of dimensions other than `ndim` (any number when ndim < 0).
Array real_array(py::handle obj, const std::string& name, int ndim) {
  py::array a = py::module_::import("numpy").attr("asarray")(obj);
  const char kind = a.dtype().kind();
  if (kind == 'O')  // Python objects: NumPy's float() of each, or its error
    a = a.attr("astype")(py::dtype::of<double>());
  else if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(name + " must hold real numbers, not " +
                         py::str(a.dtype()).cast<std::string>());
  if (ndim >= 0 && a.ndim() != ndim)
    throw py::value_error(name + " must be a " + std::to_string(ndim) +
                          "-D array, not one of shape " +
                          py::str(a.attr("shape")).cast<std::string>());
  return Array::ensure(a);
}

// A fitted spline and, when the data chose its knots, how.
struct Fitted {
  lsq::Spline spline;
  std::optional<lsq::KnotChoice> choice;
};

Fitted fit(const py::object& x_, const py::object& y_, int degree, std::optional<int> intervals,
           const py::object& knots_, const py::object& w_, const py::object& sigma_,
           std::optional<std::string> knots_by, std::optional<std::string> robust_) {
  const Array x = real_array(x_, "x", 1), y = real_array(y_, "y", 1);
  if (!w_.is_none() && !sigma_.is_none())
    throw py::value_error("give w (weights) or sigma (standard deviations), not both");
  const lsq::Weights kind = !w_.is_none()       ? lsq::Weights::weights
                            : !sigma_.is_none() ? lsq::Weights::sigmas
                                                : lsq::Weights::none;
  const Array w = kind == lsq::Weights::none      ? Array(0)
                  : kind == lsq::Weights::weights ? real_array(w_, "w", 1)
                                                  : real_array(sigma_, "sigma", 1);
  const bool given = !knots_.is_none();
  const Array knots = given ? real_array(knots_, "knots", 1) : Array(0);
  const std::string way = knots_by.value_or("");
  if (knots_by && way != "count" && way != "free")
    throw py::value_error("knots_by must be None, 'count' or 'free', not '" + way + "'");
  lsq::Robust robust = lsq::Robust::none;
  for (lsq::Robust psi : {lsq::Robust::huber, lsq::Robust::bisquare})
    if (robust_ == lsq::robust_name(psi)) robust = psi;
  if (robust_ && robust == lsq::Robust::none)
    throw py::value_error("robust must be None, 'huber' or 'bisquare', not '" + *robust_ + "'");
  if (way == "count" && given)
    throw py::value_error("knots_by='count' places equal-count knots: give intervals, not knots");
  if (intervals && given) throw py::value_error("give intervals or knots, not both");
  if (!intervals && !given)
    throw py::value_error(way == "count"
                              ? "knots_by='count' needs intervals, the most intervals to try"
                              : "give intervals (that many intervals, each holding the same "
                                "number of points) or knots");

  const std::span<const double> xs = span(x), ys = span(y), ws = span(w), ks = span(knots);
  std::optional<Fitted> f;
  {
    py::gil_scoped_release nogil;
    if (way.empty() && given) {
      f.emplace(Fitted{lsq::fit(xs, ys, degree, ks, ws, kind, robust), {}});
    } else if (way.empty()) {
      f.emplace(Fitted{lsq::fit(xs, ys, degree, *intervals, ws, kind, robust), {}});
    } else {
      lsq::ChosenSpline c = lsq::fit_choosing_knots(
          xs, ys, degree, way == "count" ? lsq::Knots::count : lsq::Knots::free,
          intervals.value_or(0), ws, kind, ks, robust);
      f.emplace(Fitted{std::move(c.spline), std::move(c.choice)});
    }
  }
  return std::move(*f);
}

// An array of the shape of t with per_point(t[k], out[k]) for every k, filled without the GIL;
// a float when t is a scalar.
template <typename PerPoint>
py::object map(const Array& t, PerPoint per_point) {
  Array out(std::vector<py::ssize_t>(t.shape(), t.shape() + t.ndim()));
  {
    py::gil_scoped_release nogil;
    per_point(span(t), std::span<double>(out.mutable_data(), span(t).size()));
  }
  if (t.ndim() == 0) return py::float_(*out.data());
  return out;
}

py::object evaluate(const Fitted& f, const py::object& t_, int nu) {
  const Array t = real_array(t_, "t", -1);
  f.spline.value(f.spline.knots()[0], nu);  // refuses a bad order also when t holds nothing
  return map(
      t, [&](std::span<const double> in, std::span<double> out) { f.spline.values(in, out, nu); });
}

py::object standard_error(const Fitted& f, const Array& t) {
  return map(t, [&](std::span<const double> in, std::span<double> out) {
    for (std::size_t k = 0; k < in.size(); k++) out[k] = f.spline.standard_error(in[k]);
  });
}

// value(t) -/+ quantile standard_error(t), as Spline::confidence_limits gives them, with the
// quantile found once for all abscissae.
py::tuple confidence_band(const Fitted& f, const py::object& t_, double level) {
  const Array t = real_array(t_, "t", -1);
  const double factor = f.spline.quantile(level);
  const std::vector<py::ssize_t> shape(t.shape(), t.shape() + t.ndim());
  Array lower(shape), upper(shape);
  {
    py::gil_scoped_release nogil;
    const std::span<const double> in = span(t);
    double* low = lower.mutable_data();
    double* high = upper.mutable_data();
    f.spline.values(in, std::span<double>(low, in.size()));
    for (std::size_t k = 0; k < in.size(); k++) {
      const double margin = factor * f.spline.standard_error(in[k]);
      high[k] = low[k] + margin;
      low[k] -= margin;
    }
  }
  if (t.ndim() == 0) return py::make_tuple(*lower.data(), *upper.data());
  return py::make_tuple(lower, upper);
}

Array copy(std::span<const double> v) {
  return Array(static_cast<py::ssize_t>(v.size()), v.data());
}

py::dict statistics(const Fitted& f) {
  const lsq::Statistics& s = f.spline.statistics();
  py::dict d;
  d["N"] = s.N;
  d["counted"] = s.counted;
  d["parameters"] = s.parameters;
  d["rank"] = s.rank;
  d["dof"] = s.dof();
  if (s.weights != lsq::Weights::none)
    d["weights"] = s.weights == lsq::Weights::weights ? "w" : "sigma";
  d["RSS"] = s.RSS;
  d["sigma"] = s.sigma();
  d["R2"] = s.R2();
  d["max_residual"] = s.max_residual;
  d["at"] = s.at;
  d["AIC"] = s.AIC();
  d["BIC"] = s.BIC();
  d["GCV"] = s.GCV();
  if (s.weights == lsq::Weights::sigmas) {
    d["chi2"] = s.RSS;
    d["chi2/dof"] = s.chi2_per_dof();
    d["p_chi2"] = s.p_chi2();
  }
  if (const lsq::RobustFit& r = f.spline.robust(); r.kind != lsq::Robust::none) {
    d["robust"] = lsq::robust_name(r.kind);
    d["scale"] = r.scale;
    d["robust_iterations"] = r.iterations;
    d["downweighted"] = r.downweighted;
    d["rejected"] = r.rejected;
  }
  return d;
}

py::object scan(const Fitted& f) {
  if (!f.choice) return py::none();
  const std::vector<lsq::ScanRow>& rows = f.choice->scan;
  const auto column = [&](auto field) {
    using T = decltype(field(rows[0]));
    py::array_t<T> v(static_cast<py::ssize_t>(rows.size()));
    for (std::size_t k = 0; k < rows.size(); k++)
      v.mutable_at(static_cast<py::ssize_t>(k)) = field(rows[k]);
    return v;
  };
  py::dict d;
  d["J"] = column([](const lsq::ScanRow& r) { return r.J; });
  d["RSS"] = column([](const lsq::ScanRow& r) { return r.RSS; });
  d["rank"] = column([](const lsq::ScanRow& r) { return r.rank; });
  d["AIC"] = column([](const lsq::ScanRow& r) { return r.AIC; });
  d["BIC"] = column([](const lsq::ScanRow& r) { return r.BIC; });
  d["GCV"] = column([](const lsq::ScanRow& r) { return r.GCV; });
  d["criterion"] = column([](const lsq::ScanRow& r) { return r.criterion; });
  d["start_RSS"] = column([](const lsq::ScanRow& r) { return r.start_RSS; });
  d["chosen"] = f.choice->chosen;
  d["robust_rounds"] = f.choice->rounds;
  return d;
}

std::string repr(const Fitted& f) {
  char rss[32];
  std::snprintf(rss, sizeof rss, "%.10g", f.spline.statistics().RSS);
  const lsq::Robust kind = f.spline.robust().kind;
  return "Spline(degree=" + std::to_string(f.spline.degree()) +
         ", intervals=" + std::to_string(f.spline.intervals()) + ", RSS=" + rss +
         (kind == lsq::Robust::none ? ")"
                                    : ", robust='" + std::string(lsq::robust_name(kind)) + "')");
}

}  // namespace

PYBIND11_MODULE(splinefit, m) {
  m.doc() = R"(Least-squares splines of degree 2 or 3 over NumPy arrays.

    s = splinefit.fit(x, y, degree=3, intervals=12)
    s(t), s(t, nu=1), s.integral(a, b), s.standard_error(t), s.confidence_band(t)
    s.knots, s.coefficients, s.statistics, s.residuals

The fit is the exact least-squares spline (a banded QR factorisation in the B-spline basis),
whose pieces join with continuous value, slope and, for cubics, curvature. Fits and evaluations
release the GIL, so threads may fit and evaluate at once. Bad input raises ValueError (or
TypeError for what is not an array of real numbers) with a message that says what is wrong.)";

  py::class_<Fitted>(m, "Spline", R"(A fitted least-squares spline; made by splinefit.fit only.

Interval j (0..J-1) runs from knots[j] to knots[j+1]; its polynomial has the coefficients
coefficients[j] in powers of t - knots[j]. Outside the knots the end polynomials extend.)")
      .def("__call__", &evaluate, py::arg("t"), py::arg("nu") = 0,
           R"(The spline (nu = 0) or its derivative of order nu (up to 3) at t.

t: a number or an array of any shape; the result is a float, or a float64 array of t's shape.
Sorted abscissae cost O(1) each.)")
      .def(
          "integral",
          [](const Fitted& f, double a, double b) {
            return f.spline.integral(b) - f.spline.integral(a);
          },
          py::arg("a"), py::arg("b"), "The integral of the spline from a to b.")
      .def(
          "standard_error",
          [](const Fitted& f, const py::object& t) {
            return standard_error(f, real_array(t, "t", -1));
          },
          py::arg("t"),
          R"(The standard error of the fitted curve at t (a number or an array of any shape):
sigma sqrt(b(t)^T (A^T W A)^-1 b(t)), with the sigmas as given when they are known; for a
robust fit, Huber's covariance. NaN where the data leave the spline undetermined or no degree of
freedom is left.)")
      .def("confidence_band", &confidence_band, py::arg("t"), py::arg("level") = 0.95,
           R"((lower, upper): the spline at t -/+ q standard_error(t), q the (1 + level) / 2
quantile of Student's t with dof degrees of freedom (of the normal distribution when sigma was
given or a robust fit moved the curve). 0 < level < 1.)")
      .def_property_readonly(
          "knots", [](const Fitted& f) { return copy(f.spline.knots()); },
          "The knots, ascending: intervals + 1 of them.")
      .def_property_readonly(
          "coefficients",
          [](const Fitted& f) {
            const int J = f.spline.intervals(), M = f.spline.degree();
            Array c(std::vector<py::ssize_t>{J, M + 1});
            for (int j = 0; j < J; j++)
              for (int k = 0; k <= M; k++) c.mutable_at(j, k) = f.spline.coefficient(j, k);
            return c;
          },
          "Array (intervals, degree + 1): row j the polynomial of interval j in powers of "
          "t - knots[j], as splinefit's results file writes them.")
      .def_property_readonly("statistics", &statistics,
                             R"(The fit report's statistics by name: N, counted (the points of
weight above 0), parameters, rank, dof, weights ('w' or 'sigma', when given), RSS, sigma, R2,
max_residual and its abscissa at, AIC, BIC, GCV; with sigma, chi2, chi2/dof and p_chi2; for a
robust fit, robust ('huber' or 'bisquare'), scale, robust_iterations, downweighted (points of
robust weight below 1) and rejected (of robust weight 0). RSS and what follows from it are the
plain (weighted) sums of squares of the curve as fitted. NaN where one has no meaning.)")
      .def_property_readonly(
          "residuals", [](const Fitted& f) { return copy(f.spline.residuals()); },
          "y - s(x) for every point, in the order the points were given.")
      .def_property_readonly(
          "robust_weights",
          [](const Fitted& f) -> py::object {
            if (f.spline.robust().kind == lsq::Robust::none) return py::none();
            return copy(f.spline.robust_weights());
          },
          R"(A robust fit's weight psi(u) / u of every point at the final curve (1 for a point
of weight 0), in the order the points were given; None for least squares.)")
      .def_property_readonly(
          "degree", [](const Fitted& f) { return f.spline.degree(); }, "2 or 3.")
      .def_property_readonly(
          "intervals", [](const Fitted& f) { return f.spline.intervals(); },
          "The number of knot intervals, J.")
      .def_property_readonly("scan", &scan,
                             R"(For knots_by='count' or 'free': every number of intervals
tried, as a dict of arrays J, RSS, rank, AIC, BIC, GCV, criterion (what the choice minimised:
GCV, or for free knots GCV with each inner knot counted as 1.5 parameters) and start_RSS (free
knots: the RSS of the equal-count knots), chosen, the index of the chosen row, and
robust_rounds, the choices made on robust weights. None for knots as given.)")
      .def("__repr__", &repr);

  m.def("fit", &fit, py::arg("x"), py::arg("y"), py::arg("degree") = 3,
        py::arg("intervals") = py::none(), py::arg("knots") = py::none(), py::arg("w") = py::none(),
        py::arg("sigma") = py::none(), py::arg("knots_by") = py::none(),
        py::arg("robust") = py::none(),
        R"(The least-squares spline of degree 2 or 3 through the points (x[k], y[k]).

x, y: 1-D arrays of real numbers of one length, in any order.
intervals: that many intervals, each holding the same number of points (as splinefit places
    them: from 1 to below 2N); or
knots: the knots (ascending, at least 2): a point below the first belongs to the first
    interval, one at or beyond the last knot to the last. Give one of intervals and knots.
w: weights >= 0 (the fit minimises the sum of w r^2), or
sigma: standard deviations > 0 of y, taken as known (w = 1 / sigma^2; the statistics then give
    chi2, and the band uses the normal quantile). Not both.
knots_by: None, the knots as given; 'count', the data choose the number of equal-count
    intervals, at most `intervals`, by GCV; 'free', free knots, their number (at most
    `intervals`) and places chosen by the data, or, with `knots`, those knots' inner knots moved.
    Spline.scan then holds every fit tried.
robust: None, least squares; 'huber' or 'bisquare', an M-estimator with Huber's psi (1.345) or
    Tukey's bisquare (4.685), by iteratively reweighted least squares from the least-squares
    spline with the scale median |sqrt(w) r| / 0.6745, so that wild points pull the curve less
    (a bisquare rejects them). Spline.robust_weights holds the final weights, the statistics
    the scale, the steps and the points downweighted and rejected; the band is Huber's, with
    the normal quantile. With knots_by, the knots are chosen on the robust weights.

Raises ValueError with the library's message for input it refuses (sizes that differ, a number
that is not finite, a negative weight, knots that descend, fewer than two distinct abscissae).)");
}
