#!/usr/bin/python3
"""The Python module splinefit against the C++ library it wraps, and against SciPy.

    cmake --workflow --preset bench
    bench/python_peers.py [--build build/bench] [--repeat 7]

A benchmark, not a test: it prints figures to read and asserts nothing.

(a) The module's cost over the library's, at N = 10^6 points: a cubic fit on 50 equal-count
    intervals of y = sin x + noise at x = 10 (i + 1/2) / N, and the fitted spline at the same N
    sorted abscissae. The library's figures are Google Benchmark's BM_LsqFit and BM_LsqValues
    (bench/bench_lsqspline.cpp, the same problem and calls), run here as
    <build>/bench/bench_lsqspline: the wall-clock time (real_time) of each repetition. The
    module's are the times of single calls of splinefit.fit(x, y, 3, 50) and s(x) from NumPy
    float64 arrays. The two alternate, --repeat rounds of three repetitions each, since the
    machine is shared and its speed drifts; the least and the median of each are compared.
    s(x) allocates its result, the benchmark reuses one vector.
(b) The module's fit against scipy.interpolate.make_lsq_spline on the module's knots (the same
    least-squares problem) at N = 10^3, 10^5, 10^6: the median times of --repeat calls (the
    module's fit places its knots too) and the largest difference
    of the fitted values at the points over the largest |y|. The abscissae are sorted and
    distinct, as make_lsq_spline requires.
The module comes from <build>/Subroutines/Python (or from PYTHONPATH). Needs python3-numpy and
python3-scipy (Debian packages).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np


def times_of(call, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return times


def problem(n):
    x = 10.0 * (np.arange(n) + 0.5) / n
    return x, np.sin(x) + np.random.default_rng(42).normal(0.0, 0.1, n)


def library_times(program, repeat):
    """BM_LsqFit and BM_LsqValues at N = 10^6: the real time of each repetition in seconds."""
    out = subprocess.run([program, "--benchmark_filter=BM_Lsq(Fit|Values)/N:1000000$",
                          "--benchmark_repetitions=%d" % repeat, "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    times = {"BM_LsqFit": [], "BM_LsqValues": []}
    for b in json.loads(out)["benchmarks"]:
        if b["run_type"] == "iteration":
            times[b["run_name"].split("/")[0]].append(b["real_time"] * scale[b["time_unit"]])
    return times


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "bench"))
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "Subroutines", "Python"))
    import splinefit
    from scipy.interpolate import make_lsq_spline

    print("(a) the module against the C++ library, N = 10^6, cubic, 50 intervals (%d rounds)"
          % args.repeat)
    program = os.path.join(args.build, "bench", "bench_lsqspline")
    x, y = problem(10**6)
    s = splinefit.fit(x, y, 3, 50)
    module = {"BM_LsqFit": lambda: splinefit.fit(x, y, 3, 50), "BM_LsqValues": lambda: s(x)}
    cpp, py = {name: [] for name in module}, {name: [] for name in module}
    for _ in range(args.repeat):
        for name, times in library_times(program, 3).items():
            cpp[name] += times
        for name, call in module.items():
            py[name] += times_of(call, 3)
    print("  %-24s %21s %21s %14s" % ("", "C++ least, median ms", "module least, median",
                                      "ratio of both"))
    for name, what in (("BM_LsqFit", "fit"), ("BM_LsqValues", "values at 10^6 sorted t")):
        a, b = cpp[name], py[name]
        print("  %-24s %10.2f %10.2f %10.2f %10.2f %6.3f %6.3f"
              % (what, 1e3 * min(a), 1e3 * statistics.median(a), 1e3 * min(b),
                 1e3 * statistics.median(b), min(b) / min(a),
                 statistics.median(b) / statistics.median(a)))

    print("(b) the module against scipy.interpolate.make_lsq_spline on the same knots")
    print("  %9s %12s %12s %14s %26s" % ("N", "module ms", "SciPy ms", "SciPy / module",
                                         "max |difference| / max|y|"))
    for n in (10**3, 10**5, 10**6):
        x, y = problem(n)
        s = splinefit.fit(x, y, 3, 50)
        t = np.r_[[s.knots[0]] * 3, s.knots, [s.knots[-1]] * 3]
        ours = statistics.median(times_of(lambda: splinefit.fit(x, y, 3, 50), args.repeat))
        theirs = statistics.median(times_of(lambda: make_lsq_spline(x, y, t, k=3), args.repeat))
        apart = np.max(np.abs(s(x) - make_lsq_spline(x, y, t, k=3)(x))) / np.max(np.abs(y))
        print("  %9d %12.3f %12.3f %14.3f %26.2e" % (n, 1e3 * ours, 1e3 * theirs, theirs / ours,
                                                     apart))


if __name__ == "__main__":
    main()
