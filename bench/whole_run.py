#!/usr/bin/python3
"""The whole splinefit run against the numpy + SciPy yardstick, measured side by side.

    bench/whole_run.py <splinefit> [--points 1000000] [--repeat 5] [--threads 0]

Writes a data set of N points (a noisy sine, six significant digits, in ascending abscissa) into
a scratch directory, then times, each --repeat times, one after the other, and reports the medians
in seconds:
  - splinefit, the whole run with Method 1 (cubic, J = 50): reading, sorting, the fit and every
    output file, the fit report included; with SPLINEFIT_THREADS set to --threads when it is not 0;
  - the yardstick, a Python script run as a user runs it (python3 fit.py): numpy.loadtxt of the
    same file, then SciPy's make_lsq_spline on the same knots. SciPy 1.10 wants strictly
    increasing abscissae, so repeated ones are merged first (mean ordinate, weight sqrt(count):
    the same least-squares spline), and that is counted in its time. Both programs are timed as
    processes, from start to exit; the script also reports its own time from the end of its
    imports to the fitted spline ("in process"), which leaves out the interpreter and the imports.
splinefit's peak memory (its largest resident set) is reported too.
The machine is shared, so the medians of several runs are compared.
Needs python3-numpy and python3-scipy (Debian packages); this script itself imports neither.
"""
import argparse
import math
import os
import shutil
import statistics
import subprocess
import tempfile
import time


# The data set, written by a python3 of its own: this process stays small, so that the largest
# resident set of its children (splinefit's peak memory) is splinefit's own.
DATA = """
import sys
import numpy as np
path, n = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(20261207)
x = np.sort(rng.uniform(0.0, 10.0, n))
y = np.sin(x) + rng.normal(0.0, 0.1, n)
with open(path, "w") as f:
    f.write("A noisy sine, %d points\\n" % n)
    f.write("".join("%.6g %.6g\\n" % (a, b) for a, b in zip(x, y)))
"""


def write_inputs(work, n, J):
    os.makedirs(os.path.join(work, "data"), exist_ok=True)
    subprocess.run(["/usr/bin/python3", "-c", DATA, os.path.join(work, "data", "sine.dat"), str(n)],
                   check=True)
    with open(os.path.join(work, "Control.dat"), "w") as f:
        f.write("data/ sine 1 2 0 2 3 %d\n" % J)
    with open(os.path.join(work, "Computational-parameters.dat"), "w") as f:
        f.write("P\n20 Nout\n6 Precision\n1e-8 criterion\n1 Envelope\n%d Nmax\n1 Method\n" % (n + 2))


def run_splinefit(program, work, threads):
    """The run's time from start to exit, and its peak memory in MB."""
    env = dict(os.environ)
    if threads:
        env["SPLINEFIT_THREADS"] = str(threads)
    start = time.perf_counter()
    child = subprocess.Popen([program], cwd=work, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit("splinefit ended with status %d" % child.returncode)
    return elapsed, usage.ru_maxrss / 1024.0


YARDSTICK = """
import math, sys, time
import numpy as np
from scipy.interpolate import make_lsq_spline
start = time.perf_counter()
data = np.loadtxt(sys.argv[1], skiprows=1)
x, y = data[:, 0], data[:, 1]
order = np.argsort(x, kind="stable")
x, y = x[order], y[order]
ux, first, count = np.unique(x, return_index=True, return_counts=True)
uy, w = np.add.reduceat(y, first) / count, np.sqrt(count)
n, J = len(x), int(sys.argv[2])  # the automatic knots: equal numbers of points per interval
ends = [int(math.floor(j * n / J + 0.5)) for j in range(1, J)]
inner = [0.5 * (x[e - 1] + x[e]) for e in ends]
t = np.r_[[x[0]] * 4, inner, [x[-1]] * 4]
spline = make_lsq_spline(ux, uy, t, k=3, w=w)
print(time.perf_counter() - start)
"""


def run_yardstick(work, J):
    """The process's time from start to exit, and the script's own time after its imports."""
    script = os.path.join(work, "fit.py")
    with open(script, "w") as f:
        f.write(YARDSTICK)
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/python3", script, os.path.join(work, "data", "sine.dat"),
                           str(J)], capture_output=True, text=True, check=True)
    return time.perf_counter() - start, float(done.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("program")
    ap.add_argument("--points", type=int, default=1000000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--threads", type=int, default=0)
    ap.add_argument("--no-yardstick", action="store_true")
    args = ap.parse_args()
    program = os.path.abspath(args.program)
    J = 50
    work = tempfile.mkdtemp(prefix="splinefit-whole-run-")
    try:
        write_inputs(work, args.points, J)
        ours, theirs, inside, memory = [], [], [], 0.0
        for _ in range(args.repeat):
            elapsed, peak = run_splinefit(program, work, args.threads)
            ours.append(elapsed)
            memory = max(memory, peak)
            if not args.no_yardstick:
                whole, fit = run_yardstick(work, J)
                theirs.append(whole)
                inside.append(fit)
        a = statistics.median(ours)
        line = "N = %d, threads %s: splinefit %.3f s (peak %.0f MB)" % (
            args.points, args.threads or "all", a, memory)
        if theirs:
            b, c = statistics.median(theirs), statistics.median(inside)
            line += (", python3 + numpy.loadtxt + make_lsq_spline %.3f s, ratio %.2f"
                     " (in process %.3f s, ratio %.2f)" % (b, a / b, c, a / c))
        print(line)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
