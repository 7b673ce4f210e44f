#!/usr/bin/python3
"""splinefit's choice of knots against peer smoothers: the error to the true curve.

    bench/knots_peers.py [--only doppler,bumps] [--n 256,2048] [--seeds 3] [--snr 7,3]
                         [--variants scan,knots1,knots2] [--splinefit PATH] [--jmax 200]
                         [--jfree J] [--timeout 300] [--real] [--no-sim] [--keep]

A benchmark, not a test: it prints numbers to read and asserts nothing.

What is measured (the simulation)
  Five test functions on [0, 1]: Doppler, HeaviSine and Bumps as Donoho & Johnstone define them
  (Doppler sqrt(x(1-x)) sin(2.1 pi / (x + 0.05)); HeaviSine 4 sin(4 pi x) - sgn(x - 0.3)
  - sgn(0.72 - x); Bumps, eleven bumps (1 + |x - t_j| / w_j)^-4 of heights h_j), a sine
  sin(4 pi x) and a logistic step 1 / (1 + exp(-(x - 0.5) / 0.02)). Each is standardised over the
  design: centred and scaled to unit standard deviation (population SD) over its N points, so a
  signal-to-noise ratio SNR means Gaussian noise of sigma = 1 / SNR (the default SNRs 7 and 3
  give sigma = 0.143 and 0.333). The design is N equally spaced abscissae x_i = i / (N - 1),
  N = 256 and 2048 by default; each (function, N, SNR) case is drawn for --seeds seeds (3 by
  default), every data set from its own seeded generator, so a run is reproducible. The numbers
  are written with 17 significant digits, so every method reads the same data.

  The error of a fit is the RMSE of the fitted curve to the true (standardised) function at the
  N design points. splinefit's fitted values are the third column of its fit report's residual
  block. A case's RMSE is the mean over its seeds; its ratio is that RMSE over the least of the
  peers that need no noise level ("best peer", a ratio of 1 is as good as the best of them).

  Peers that need no noise level:
    scipy-GCV       scipy.interpolate.make_smoothing_spline, smoothing parameter by GCV, called
                    as a user calls it (with SciPy 1.10 its GCV search goes astray on the
                    logistic step at N = 2048, a far too smooth fit with ratios above 20,
                    where a fixed lam would do 25 times better: shown as it comes)
    R-smooth.spl    R's smooth.spline with its defaults (GCV; its own subset of knots for
                    N > 49)
    mgcv-REML       mgcv gam(y ~ s(x, k = K), method = "REML"), thin-plate basis, K = min(N/4, 100)
    mgcv-ad         mgcv gam(y ~ s(x, k = K, bs = "ad"), method = "REML"), adaptive smoother
  and one that is handed the true noise level (so it is not in "best peer"):
    FITPACK-sigma   scipy.interpolate.splrep(x, y, k = 3, s = N sigma^2)
  splinefit, cubic (M = 3), exact least squares (Method 1):
    sf-scan         (variant "scan" or "a") Knots 0, equal-count knots, one run for each
                    J = 1 .. Jmax, the J of least GCV in its report taken, as a user scanning
                    by hand would; Jmax = min(N/4, --jmax), --jmax 200 by default
    sf-knots1       (variant "knots1" or "b") Knots 1, one run with J = Jmax in Control.dat
    sf-knots2       (variant "knots2" or "c") Knots 2, free knots, one run with J = Jfree in
                    Control.dat, Jfree = min(Jmax, --jfree) (--jfree defaults to Jmax)
  Before the runs a probe on a small data set asks the program whether it takes the Knots
  line: a variant whose Knots value it refuses (status 2) is shown as "refused", and one whose
  fit comes out the same as Knots 0 with the same J (a program that reads no Knots line) as
  "ignored"; neither is run further. A run refused or failing on one case only is shown so in
  that case's row and the benchmark goes on.

  Printed: for each case, each method's seed-mean RMSE, its ratio to the best peer, the RMSE
  of each seed and, for splinefit, the J of each seed (the number of knot intervals of the fit,
  read from its results file). Then for each method the geometric mean of its ratios over the
  cases and the largest ratio (with its case). Then timing: for each splinefit variant the
  median wall clock of one run (the whole process, start to exit) and of one case (for sf-scan
  the whole scan of Jmax runs); for the peers, the median time of one fit inside their process
  (no interpreter start), for reference.

  The R fits of a whole run are done by one Rscript process, started in the background while
  this script runs splinefit and SciPy one after the other: on the 2 cores of this machine R
  keeps one core busy while splinefit is timed on the other.

The real data (--real)
  MASS's mcycle (head acceleration against time, 133 points, 39 repeated abscissae), exported
  through Rscript. Each method predicts every point from a fit to the other 132 (leave-one-out);
  printed is the RMSE of those predictions and its ratio to the best of R's smooth.spline and
  mgcv (REML, and bs = "ad", K = min(n/4, 100) = 33). splinefit's prediction at the left-out x is
  the spline read back from its results file (Precision 17: the knots and the coefficients of
  each interval in powers of x - X[j]), evaluated on the interval holding x (the first below
  X[1], the last at and above X[J]); before the loop the script checks that this reading
  reproduces the fit report's fitted values on the whole data set. SciPy's smoothers are left
  out here: make_smoothing_spline wants strictly increasing abscissae. The leave-one-out loop
  with sf-scan takes 133 x 33 runs (two to four minutes).

Run
  bench/knots_peers.py                         the full default run (about 7 to 8 minutes)
  bench/knots_peers.py --only doppler --n 256 --seeds 1          a quick look
  bench/knots_peers.py --real --no-sim         the mcycle comparison only
  --splinefit PATH names the program (default: the default preset's build). It is copied to a
  scratch directory first (retried while a rebuild is writing it), and that copy is run.

Needs /usr/bin/python3 with numpy and SciPy (python3-numpy, python3-scipy), and for the R peers
and --real, Rscript with mgcv and MASS (r-base-core, r-cran-mgcv, r-cran-mass); without Rscript
the R peers are left out. None of these is a dependency of the build or of the tests.
"""
import argparse
import contextlib
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np
from scipy.interpolate import make_smoothing_spline, splev, splrep

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PROGRAM = os.path.join(HERE, "..", "build", "default", "Mathematics",
                               "Interpolation-Approximation", "splinefit")
DEGREE = 3
SEED_BASE = 20240607

# ----------------------------------------------------------------------------- test functions


def doppler(x):
    eps = 0.05
    return np.sqrt(x * (1.0 - x)) * np.sin(2.0 * np.pi * (1.0 + eps) / (x + eps))


def heavisine(x):
    return 4.0 * np.sin(4.0 * np.pi * x) - np.sign(x - 0.3) - np.sign(0.72 - x)


BUMPS_T = np.array([0.10, 0.13, 0.15, 0.23, 0.25, 0.40, 0.44, 0.65, 0.76, 0.78, 0.81])
BUMPS_H = np.array([4.0, 5.0, 3.0, 4.0, 5.0, 4.2, 2.1, 4.3, 3.1, 5.1, 4.2])
BUMPS_W = np.array([0.005, 0.005, 0.006, 0.01, 0.01, 0.03, 0.01, 0.01, 0.005, 0.008, 0.005])


def bumps(x):
    total = np.zeros_like(x)
    for t, h, w in zip(BUMPS_T, BUMPS_H, BUMPS_W):
        total += h * (1.0 + np.abs((x - t) / w)) ** -4
    return total


def sine(x):
    return np.sin(4.0 * np.pi * x)


def logistic(x):
    return 1.0 / (1.0 + np.exp(-(x - 0.5) / 0.02))


FUNCTIONS = {"doppler": doppler, "heavisine": heavisine, "bumps": bumps, "sine": sine,
             "logistic": logistic}

VARIANTS = {"scan": "scan", "a": "scan", "knots1": "knots1", "b": "knots1", "knots2": "knots2",
            "c": "knots2"}
VARIANT_LABEL = {"scan": "sf-scan", "knots1": "sf-knots1", "knots2": "sf-knots2"}
VARIANT_KNOTS = {"scan": 0, "knots1": 1, "knots2": 2}
PEERS = ["scipy-GCV", "R-smooth.spl", "mgcv-REML", "mgcv-ad"]
R_PEERS = PEERS[1:]
SIGMA_PEER = "FITPACK-sigma"


def design(fname, n, snr, seed):
    """The abscissae, the standardised true curve, the noisy ordinates and sigma."""
    x = np.arange(n, dtype=float) / (n - 1)
    f = FUNCTIONS[fname](x)
    f = (f - f.mean()) / f.std()
    sigma = 1.0 / snr
    fi = list(FUNCTIONS).index(fname)
    rng = np.random.default_rng([SEED_BASE, fi, n, int(round(snr * 1000)), seed])
    y = f + sigma * rng.standard_normal(n)
    return x, f, y, sigma


@contextlib.contextmanager
def scratch_directory(prefix, keep):
    """A fresh scratch directory for the runs, removed afterwards unless `keep`."""
    scratch = tempfile.mkdtemp(prefix=prefix)
    try:
        yield scratch
    finally:
        if keep:
            print("scratch kept in %s" % scratch, file=sys.stderr)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


def write_data(path, title, x, y):
    with open(path, "w") as out:
        out.write(title + "\n")
        out.write("".join("%.17g %.17g\n" % (a, b) for a, b in zip(x, y)))


def rmse(a, b):
    return math.sqrt(float(np.mean((np.asarray(a) - np.asarray(b)) ** 2)))


# ----------------------------------------------------------------------------- splinefit


class RunResult:
    def __init__(self, status, message="", seconds=0.0, x=None, fit=None, gcv=None, J=None,
                 res_text=None):
        self.status = status  # "ok", "refused", "failed", "timeout"
        self.message = message
        self.seconds = seconds
        self.x = x
        self.fit = fit
        self.gcv = gcv
        self.J = J
        self.res_text = res_text


def parse_fit(text):
    """The report's name/value lines and the residual block's x and fitted columns."""
    lines = text.split("\n")
    values = {}
    for line in lines[1:]:
        if not line.strip():
            break
        parts = line.split("\t")
        if len(parts) == 2:
            values[parts[0]] = parts[1]
    try:
        start = lines.index("# x\ty\tfit\tresidual") + 1
    except ValueError:
        raise ValueError("the fit report has no residual block")
    xs, fits = [], []
    for line in lines[start:]:
        if not line.strip() or line.startswith("#"):
            break
        cols = line.split()
        xs.append(float(cols[0]))
        fits.append(float(cols[2]))
    return values, np.array(xs), np.array(fits)


def parse_spline(res_text):
    """The knots X[0..J] and the coefficient rows c[j][0..M] from a results file."""
    lines = res_text.split("\n")
    i = next(k for k, line in enumerate(lines)
             if line.startswith("# All spline data - knots and coefficients"))
    i += 1
    while not lines[i].strip():
        i += 1
    head = lines[i].split()
    if head[0] != "#":
        raise ValueError("no '#\\tJ\\tM' line after the spline heading")
    J, M = int(head[1]), int(head[2])
    rows = [[float(v) for v in lines[i + 1 + j].split()] for j in range(J + 1)]
    X = np.array([r[0] for r in rows])
    C = np.array([r[1:M + 2] for r in rows])
    return X, C


def eval_spline(X, C, x):
    """The spline at x: interval j with X[j] <= x < X[j+1], the first below X[1], the row of
    the last knot at and above X[J]; the value is sum over m of c[j][m] (x - X[j])^m."""
    x = np.atleast_1d(np.asarray(x, dtype=float))
    J = len(X) - 1
    j = np.clip(np.searchsorted(X, x, side="right") - 1, 0, J)
    d = x - X[j]
    value = np.zeros_like(x)
    power = np.ones_like(x)
    for m in range(C.shape[1]):
        value = value + C[j, m] * power
        power = power * d
    return value


class Splinefit:
    """One scratch working directory, one private copy of the program, runs one at a time."""

    def __init__(self, source, work, timeout):
        self.work = work
        self.timeout = timeout
        self.program = os.path.join(work, "splinefit")
        os.makedirs(os.path.join(work, "data"), exist_ok=True)
        self.knots_line = True
        self._copy(source)

    def _copy(self, source):
        # A rebuild may be writing the program: copy, check that the copy runs, else retry.
        x = np.linspace(0.0, 1.0, 20)
        write_data(os.path.join(self.work, "data", "probe0.dat"), "probe", x, np.sin(3 * x))
        last = ""
        for attempt in range(30):
            try:
                shutil.copyfile(source, self.program)
                os.chmod(self.program, 0o755)
                r = self.run("probe0", 20, 2, 0, with_knots_line=False)
                if r.status == "ok":
                    return
                last = r.message
            except OSError as error:
                last = str(error)
            time.sleep(3)
        raise SystemExit("cannot run a copy of %s: %s" % (source, last))

    def run(self, name, n, J, knots, with_knots_line=None, precision=17):
        if with_knots_line is None:
            with_knots_line = self.knots_line or knots != 0
        data = os.path.join(self.work, "data")
        for ext in (".fit", ".res"):
            try:
                os.remove(os.path.join(data, name + ext))
            except FileNotFoundError:
                pass
        with open(os.path.join(self.work, "Control.dat"), "w") as f:
            f.write("data/ %s 1 2 0 2 %d %d\n" % (name, DEGREE, J))
        with open(os.path.join(self.work, "Computational-parameters.dat"), "w") as f:
            f.write("Parameters of the knots benchmark\n1 Nout\n%d Precision\n1e-8 criterion\n"
                    "0 Envelope\n%d Nmax\n1 Method\n0 Weights\n" % (precision, n + 10))
            if with_knots_line:
                f.write("%d Knots\n" % knots)
        start = time.perf_counter()
        try:
            done = subprocess.run([self.program], cwd=self.work, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  timeout=self.timeout)
        except subprocess.TimeoutExpired:
            return RunResult("timeout", "over %g s" % self.timeout, self.timeout)
        seconds = time.perf_counter() - start
        err = done.stderr.decode(errors="replace").strip()
        first = err.splitlines()[0] if err else ""
        if done.returncode == 2:
            return RunResult("refused", first, seconds)
        if done.returncode != 0:
            return RunResult("failed", "status %d %s" % (done.returncode, first), seconds)
        try:
            with open(os.path.join(data, name + ".fit")) as f:
                values, xs, fits = parse_fit(f.read())
            with open(os.path.join(data, name + ".res")) as f:
                res_text = f.read()
            X, _ = parse_spline(res_text)
            gcv = float(values["GCV"]) if "GCV" in values else float("nan")
        except (OSError, ValueError, KeyError, IndexError, StopIteration) as error:
            return RunResult("failed", "unreadable output: %s" % error, seconds)
        return RunResult("ok", "", seconds, xs, fits, gcv, len(X) - 1, res_text)

    def scan(self, name, n, jmax):
        """Knots 0 for J = 1 .. jmax; the run of least GCV, all the run times, the J = jmax run."""
        best, times, last, failures = None, [], None, []
        for J in range(1, jmax + 1):
            r = self.run(name, n, J, 0)
            times.append(r.seconds)
            if r.status != "ok":
                failures.append("J=%d %s" % (J, r.status))
                continue
            last = r if J == jmax else last
            if math.isfinite(r.gcv) and (best is None or r.gcv < best.gcv):
                best = r
        if best is None:
            best = RunResult("failed", "; ".join(failures[:3]) or "no GCV")
        return best, times, last


def probe_knots(sf):
    """Whether the program takes Knots 0, 1 and 2: 'ok', 'refused', 'ignored' or 'failed ...'."""
    x, _, y, _ = design("sine", 200, 7.0, 0)
    write_data(os.path.join(sf.work, "data", "probe.dat"), "knots probe", x, y)
    base = sf.run("probe", 200, 50, 0, with_knots_line=False)
    if base.status != "ok":
        raise SystemExit("splinefit fails on the probe data set: %s %s"
                         % (base.status, base.message))
    zero = sf.run("probe", 200, 50, 0, with_knots_line=True)
    state = {}
    if zero.status == "ok":
        state[0] = "ok"
    else:
        sf.knots_line = False
        state[0] = "ok (without a Knots line; with '0 Knots': %s %s)" % (zero.status,
                                                                          zero.message)
    for knots in (1, 2):
        r = sf.run("probe", 200, 50, knots)
        if r.status == "ok":
            same = len(r.fit) == len(base.fit) and np.array_equal(r.fit, base.fit)
            state[knots] = ("ignored (same fit as Knots 0 with the same J: the Knots line is "
                            "not read)") if same else "ok"
        elif r.status == "refused":
            state[knots] = "refused" + (" (%s)" % r.message if r.message else "")
        else:
            state[knots] = "%s %s" % (r.status, r.message)
    return state


# ----------------------------------------------------------------------------- R

R_SIM = r"""
args <- commandArgs(TRUE)
man <- read.table(args[1], header = FALSE, sep = "\t", stringsAsFactors = FALSE, quote = "")
suppressPackageStartupMessages(library(mgcv))
el <- function(expr) { t0 <- proc.time()[[3]]; v <- expr; c(proc.time()[[3]] - t0) }
for (r in seq_len(nrow(man))) {
  d <- read.table(man[r, 1], skip = 1)
  dat <- data.frame(x = d[[1]], y = d[[2]])
  k <- man[r, 2]
  n <- nrow(dat)
  out <- matrix(NA_real_, n, 3)
  tm <- rep(NA_real_, 3)
  t0 <- proc.time()[[3]]
  v <- tryCatch(predict(smooth.spline(dat$x, dat$y), dat$x)$y, error = function(e) NULL)
  tm[1] <- proc.time()[[3]] - t0
  if (!is.null(v)) out[, 1] <- v
  t0 <- proc.time()[[3]]
  v <- tryCatch(as.numeric(fitted(gam(y ~ s(x, k = k), data = dat, method = "REML"))),
                error = function(e) NULL)
  tm[2] <- proc.time()[[3]] - t0
  if (!is.null(v)) out[, 2] <- v
  t0 <- proc.time()[[3]]
  v <- tryCatch(as.numeric(fitted(gam(y ~ s(x, k = k, bs = "ad"), data = dat,
                                      method = "REML"))), error = function(e) NULL)
  tm[3] <- proc.time()[[3]] - t0
  if (!is.null(v)) out[, 3] <- v
  lines <- c(paste("#", paste(sprintf("%.6g", tm), collapse = " ")),
             sprintf("%.17g %.17g %.17g", out[, 1], out[, 2], out[, 3]))
  writeLines(lines, man[r, 3])
  cat(sprintf("R: %d of %d\n", r, nrow(man)))
}
"""

R_EXPORT = r"""
args <- commandArgs(TRUE)
suppressPackageStartupMessages(library(MASS))
writeLines(c("MASS mcycle: accel against times",
             sprintf("%.17g %.17g", mcycle$times, mcycle$accel)), args[1])
"""

R_LOO = r"""
args <- commandArgs(TRUE)
suppressPackageStartupMessages(library(mgcv))
d <- read.table(args[1], skip = 1)
x <- d[[1]]; y <- d[[2]]; n <- length(x)
k <- min(floor(n / 4), 100)
pred <- matrix(NA_real_, n, 3)
tm <- matrix(NA_real_, n, 3)
for (i in seq_len(n)) {
  dat <- data.frame(x = x[-i], y = y[-i]); new <- data.frame(x = x[i])
  t0 <- proc.time()[[3]]
  pred[i, 1] <- tryCatch(predict(smooth.spline(dat$x, dat$y), x[i])$y, error = function(e) NA)
  tm[i, 1] <- proc.time()[[3]] - t0; t0 <- proc.time()[[3]]
  pred[i, 2] <- tryCatch(as.numeric(predict(gam(y ~ s(x, k = k), data = dat, method = "REML"),
                                            new)), error = function(e) NA)
  tm[i, 2] <- proc.time()[[3]] - t0; t0 <- proc.time()[[3]]
  pred[i, 3] <- tryCatch(as.numeric(predict(gam(y ~ s(x, k = k, bs = "ad"), data = dat,
                                                method = "REML"), new)), error = function(e) NA)
  tm[i, 3] <- proc.time()[[3]] - t0
}
writeLines(c(paste("# k", k),
             sprintf("%.17g %.17g %.17g %.6g %.6g %.6g", pred[, 1], pred[, 2], pred[, 3],
                     tm[, 1], tm[, 2], tm[, 3])), args[2])
"""


def read_r_output(path):
    with open(path) as f:
        head = f.readline()
        rest = np.loadtxt(f, ndmin=2)
    return head, rest


# ----------------------------------------------------------------------------- simulation


def jmax_for(n, cap):
    return max(1, min(n // 4, cap))


def fmt_ratio(v):
    return "%.3f" % v if math.isfinite(v) else "-"


def run_simulation(args, sf, knots_state, scratch, rscript):
    cases = [(f, n, snr) for f in args.only for n in args.n for snr in args.snr]
    seeds = list(range(args.seeds))
    datadir = os.path.join(scratch, "data")
    rdir = os.path.join(scratch, "r")
    os.makedirs(rdir, exist_ok=True)

    # All data sets first, so that R can fit them in the background.
    sets = {}
    manifest = []
    for (fname, n, snr) in cases:
        for seed in seeds:
            x, f, y, sigma = design(fname, n, snr, seed)
            name = "%s_%d_%g_%d" % (fname, n, snr, seed)
            write_data(os.path.join(datadir, name + ".dat"),
                       "%s N=%d SNR=%g seed %d" % (fname, n, snr, seed), x, y)
            sets[(fname, n, snr, seed)] = (name, x, f, y, sigma)
            manifest.append("%s\t%d\t%s" % (os.path.join(datadir, name + ".dat"),
                                            min(n // 4, 100), os.path.join(rdir, name + ".out")))
    r_proc = None
    if rscript:
        with open(os.path.join(rdir, "manifest.tsv"), "w") as f:
            f.write("\n".join(manifest) + "\n")
        with open(os.path.join(rdir, "sim.R"), "w") as f:
            f.write(R_SIM)
        r_log = open(os.path.join(rdir, "log.txt"), "w")
        r_proc = subprocess.Popen([rscript, os.path.join(rdir, "sim.R"),
                                   os.path.join(rdir, "manifest.tsv")],
                                  stdin=subprocess.DEVNULL, stdout=r_log, stderr=subprocess.STDOUT)

    err = {}      # (case, method) -> list of RMSE per seed (None where the run did not give one)
    note = {}     # (case, method) -> text shown instead of / beside the numbers
    chosen = {}   # (case, method) -> list of J per seed
    run_times = {v: [] for v in args.variants}
    case_times = {v: [] for v in args.variants}
    peer_times = {m: [] for m in PEERS + [SIGMA_PEER]}
    total = len(cases) * len(seeds)
    done = 0
    for case in cases:
        fname, n, snr = case
        jmax = jmax_for(n, args.jmax)
        jfree = max(1, min(jmax, args.jfree or jmax))
        for seed in seeds:
            name, x, f, y, sigma = sets[(fname, n, snr, seed)]
            # SciPy peers, timed in process.
            t0 = time.perf_counter()
            s = make_smoothing_spline(x, y)(x)
            peer_times["scipy-GCV"].append(time.perf_counter() - t0)
            err.setdefault((case, "scipy-GCV"), []).append(rmse(s, f))
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                t0 = time.perf_counter()
                tck = splrep(x, y, k=3, s=n * sigma ** 2)
                s = splev(x, tck)
                peer_times[SIGMA_PEER].append(time.perf_counter() - t0)
            if caught:
                note[(case, SIGMA_PEER)] = "warned: " + str(caught[0].message).split("\n")[0][:60]
            err.setdefault((case, SIGMA_PEER), []).append(rmse(s, f))
            chosen.setdefault((case, SIGMA_PEER), []).append(len(tck[0]) - 7)

            k0_at_jmax = None
            for v in args.variants:
                label = VARIANT_LABEL[v]
                knots = VARIANT_KNOTS[v]
                if not knots_state.get(knots, "").startswith("ok"):
                    note[(case, label)] = knots_state.get(knots, "not probed")
                    err.setdefault((case, label), []).append(None)
                    continue
                if v == "scan":
                    t0 = time.perf_counter()
                    r, times, k0_at_jmax = sf.scan(name, n, jmax)
                    case_times[v].append(time.perf_counter() - t0)
                    run_times[v].extend(times)
                else:
                    J = jmax if v == "knots1" else jfree
                    r = sf.run(name, n, J, knots)
                    if r.status == "ok":
                        case_times[v].append(r.seconds)
                        run_times[v].append(r.seconds)
                if r.status != "ok":
                    note[(case, label)] = "%s %s" % (r.status, r.message)
                    err.setdefault((case, label), []).append(None)
                    continue
                if len(r.x) != n or np.max(np.abs(r.x - x)) > 1e-12:
                    note[(case, label)] = "failed: the report's abscissae differ from the data"
                    err.setdefault((case, label), []).append(None)
                    continue
                err.setdefault((case, label), []).append(rmse(r.fit, f))
                chosen.setdefault((case, label), []).append(r.J)
            done += 1
            print("[%d/%d] %s N=%d SNR=%g seed %d" % (done, total, fname, n, snr, seed),
                  file=sys.stderr, flush=True)

    if r_proc is not None:
        print("waiting for R ...", file=sys.stderr, flush=True)
        r_proc.wait()
        r_log.close()
        if r_proc.returncode != 0:
            with open(os.path.join(rdir, "log.txt")) as f:
                print("Rscript ended with status %d:\n%s" % (r_proc.returncode, f.read()[-2000:]),
                      file=sys.stderr)
        for case in cases:
            fname, n, snr = case
            for seed in seeds:
                name, x, f, y, sigma = sets[(fname, n, snr, seed)]
                path = os.path.join(rdir, name + ".out")
                try:
                    head, out = read_r_output(path)
                except (OSError, ValueError):
                    for m in R_PEERS:
                        err.setdefault((case, m), []).append(None)
                        note[(case, m)] = "no R output"
                    continue
                times = [float(t) for t in head.split()[1:]]
                for i, m in enumerate(R_PEERS):
                    col = out[:, i]
                    if np.all(np.isfinite(col)):
                        err.setdefault((case, m), []).append(rmse(col, f))
                        peer_times[m].append(times[i])
                    else:
                        err.setdefault((case, m), []).append(None)
                        note[(case, m)] = "R fit failed"

    methods = PEERS + [SIGMA_PEER] + [VARIANT_LABEL[v] for v in args.variants]
    if not rscript:
        methods = [m for m in methods if m not in R_PEERS]
    print_simulation(args, cases, methods, err, note, chosen, run_times, case_times, peer_times)


def mean_or_none(values):
    if not values or any(v is None for v in values):
        return None
    return sum(values) / len(values)


def print_simulation(args, cases, methods, err, note, chosen, run_times, case_times, peer_times):
    print("splinefit's knots against peers: RMSE of the fit to the true curve at the design "
          "points")
    print("functions standardised (mean 0, SD 1 over the design), noise sigma = 1/SNR, "
          "N equally spaced x in [0, 1], %d seed(s); cubic; Jmax = min(N/4, %d)"
          % (args.seeds, args.jmax))
    print("ratio = the method's seed-mean RMSE / the least seed-mean RMSE of the peers that "
          "need no noise level (%s)" % ", ".join(m for m in PEERS if m in methods))
    ratios = {m: [] for m in methods}
    for case in cases:
        fname, n, snr = case
        means = {m: mean_or_none(err.get((case, m), [])) for m in methods}
        peer_means = [means[m] for m in PEERS if m in methods and means[m] is not None]
        best = min(peer_means) if peer_means else None
        print()
        print("%s  N=%d  SNR=%g (sigma=%.4f)  Jmax=%d  k=%d"
              % (fname, n, snr, 1.0 / snr, jmax_for(n, args.jmax), min(n // 4, 100)))
        print("  %-14s %11s %7s   %-30s %s" % ("method", "RMSE", "ratio", "RMSE per seed",
                                              "J per seed"))
        for m in methods:
            mean = means[m]
            per_seed = err.get((case, m), [])
            if mean is None:
                shown = note.get((case, m), "no result")
                print("  %-14s %11s %7s   %s" % (m, "-", "-", shown))
                continue
            ratio = mean / best if best else float("nan")
            ratios[m].append((ratio, case))
            seeds_text = " ".join("%.4g" % v for v in per_seed)
            js = chosen.get((case, m))
            js_text = ",".join(str(j) for j in js) if js and m != SIGMA_PEER else ""
            if m == SIGMA_PEER and js:
                js_text = "(%s interior knots)" % ",".join(str(j) for j in js)
            extra = ("   " + note[(case, m)]) if (case, m) in note else ""
            print("  %-14s %11.5g %7s   %-30s %s%s" % (m, mean, fmt_ratio(ratio), seeds_text,
                                                      js_text, extra))
    print()
    print("Summary over %d case(s): ratio to the best no-noise-level peer" % len(cases))
    print("  %-14s %6s %10s %10s   %s" % ("method", "cases", "geo-mean", "largest", "at"))
    for m in methods:
        rs = [(r, c) for r, c in ratios[m] if math.isfinite(r)]
        if not rs:
            states = sorted({note.get((c, m), "no result") for c in cases})
            print("  %-14s %6d %10s %10s   %s" % (m, 0, "-", "-", "; ".join(states)[:90]))
            continue
        geo = math.exp(sum(math.log(r) for r, _ in rs) / len(rs))
        worst, at = max(rs, key=lambda t: t[0])
        print("  %-14s %6d %10.3f %10.3f   %s N=%d SNR=%g" % (m, len(rs), geo, worst, *at))
    print()
    print("Timing (seconds, medians)")
    for v in args.variants:
        label = VARIANT_LABEL[v]
        if run_times[v]:
            per_case = statistics.median(case_times[v])
            print("  %-14s per run %.4f   per case %.3f   (%d runs, wall clock of the whole "
                  "process%s)" % (label, statistics.median(run_times[v]), per_case,
                                  len(run_times[v]), "; a case is the whole J scan"
                                  if v == "scan" else ""))
        else:
            print("  %-14s not run" % label)
    for m in PEERS + [SIGMA_PEER]:
        if m in methods and peer_times[m]:
            print("  %-14s per fit %.4f   (in process, %d fits)"
                  % (m, statistics.median(peer_times[m]), len(peer_times[m])))


# ----------------------------------------------------------------------------- real data


def run_real(args, sf, knots_state, scratch, rscript):
    print()
    print("Real data: MASS mcycle (accel against times), leave-one-out prediction error")
    if not rscript:
        print("  skipped: no Rscript (needed to export mcycle and for the R peers)")
        return
    rdir = os.path.join(scratch, "r")
    os.makedirs(rdir, exist_ok=True)
    full = os.path.join(scratch, "data", "mcycle.dat")
    with open(os.path.join(rdir, "export.R"), "w") as f:
        f.write(R_EXPORT)
    subprocess.run([rscript, os.path.join(rdir, "export.R"), full], check=True,
                   stdin=subprocess.DEVNULL)
    data = np.loadtxt(full, skiprows=1, ndmin=2)
    x, y = data[:, 0], data[:, 1]
    n = len(x)
    jmax = jmax_for(n, args.jmax)
    jfree = max(1, min(jmax, args.jfree or jmax))
    with open(os.path.join(rdir, "loo.R"), "w") as f:
        f.write(R_LOO)
    loo_out = os.path.join(rdir, "loo.out")
    r_log = open(os.path.join(rdir, "loo-log.txt"), "w")
    r_proc = subprocess.Popen([rscript, os.path.join(rdir, "loo.R"), full, loo_out],
                              stdin=subprocess.DEVNULL, stdout=r_log, stderr=subprocess.STDOUT)

    # The spline read back from the results file must give the report's fitted values.
    check = sf.run("mcycle", n, min(10, jmax), 0)
    if check.status == "ok":
        X, C = parse_spline(check.res_text)
        gap = np.max(np.abs(eval_spline(X, C, check.x) - check.fit))
        scale = np.max(np.abs(check.fit))
        print("  check: the spline read from the results file against the report's fitted "
              "values, J=%d: largest difference %.3g (%.3g relative)" % (check.J, gap,
                                                                         gap / scale))
    else:
        print("  check not made: splinefit %s %s" % (check.status, check.message))

    preds = {}
    notes = {}
    times = {}
    sub = os.path.join(scratch, "data", "loo.dat")
    for v in args.variants:
        label = VARIANT_LABEL[v]
        knots = VARIANT_KNOTS[v]
        if not knots_state.get(knots, "").startswith("ok"):
            notes[label] = knots_state.get(knots, "not probed")
            continue
        p = np.full(n, np.nan)
        times[label] = []
        chosen_j = []
        for i in range(n):
            keep = np.arange(n) != i
            write_data(sub, "mcycle without point %d" % i, x[keep], y[keep])
            t0 = time.perf_counter()
            if v == "scan":
                r, _, _ = sf.scan("loo", n - 1, jmax)
            else:
                r = sf.run("loo", n - 1, jmax if v == "knots1" else jfree, knots)
            times[label].append(time.perf_counter() - t0)
            if r.status != "ok":
                notes[label] = "%s %s" % (r.status, r.message)
                break
            X, C = parse_spline(r.res_text)
            p[i] = eval_spline(X, C, x[i])[0]
            chosen_j.append(r.J)
        if np.all(np.isfinite(p)):
            preds[label] = p
            notes[label] = "J median %g, range %d..%d" % (statistics.median(chosen_j),
                                                          min(chosen_j), max(chosen_j))
        print("  %s: leave-one-out done" % label, file=sys.stderr, flush=True)

    r_proc.wait()
    r_log.close()
    if r_proc.returncode == 0:
        with open(loo_out) as f:
            head = f.readline().split()
            out = np.loadtxt(f, ndmin=2)
        k = int(head[2])
        for i, m in enumerate(R_PEERS):
            if np.all(np.isfinite(out[:, i])):
                preds[m] = out[:, i]
                times[m] = list(out[:, 3 + i])
            else:
                notes[m] = "R fit failed on some point"
    else:
        k = min(n // 4, 100)
        with open(os.path.join(rdir, "loo-log.txt")) as f:
            print("  Rscript ended with status %d: %s" % (r_proc.returncode, f.read()[-500:]))

    print("  n=%d, Jmax=%d, Jfree=%d, mgcv k=%d; ratio = the method's LOO RMSE / the least "
          "of R's" % (n, jmax, jfree, k))
    errs = {m: rmse(p, y) for m, p in preds.items()}
    peers = [errs[m] for m in R_PEERS if m in errs]
    best = min(peers) if peers else float("nan")
    print("  %-14s %10s %7s %12s   %s" % ("method", "LOO RMSE", "ratio", "s per fit", ""))
    for m in R_PEERS + [VARIANT_LABEL[v] for v in args.variants]:
        if m in errs:
            print("  %-14s %10.4f %7s %12.4f   %s" % (m, errs[m], fmt_ratio(errs[m] / best),
                                                    statistics.median(times[m]),
                                                    notes.get(m, "")))
        else:
            print("  %-14s %10s %7s %12s   %s" % (m, "-", "-", "-", notes.get(m, "no result")))
    print("  (splinefit's time is the wall clock of the whole process, the scan's of all its "
          "runs; R's is inside the process)")


# ----------------------------------------------------------------------------- main


def parse_list(text, convert, allowed=None):
    items = [convert(t.strip()) for t in text.split(",") if t.strip()]
    if allowed is not None:
        for t in items:
            if t not in allowed:
                raise argparse.ArgumentTypeError("%r is not one of %s" % (t, ", ".join(allowed)))
    return items


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", type=lambda t: parse_list(t, str.lower, FUNCTIONS),
                    default=list(FUNCTIONS), help="test functions, comma-separated (%s)"
                    % ",".join(FUNCTIONS))
    ap.add_argument("--n", type=lambda t: parse_list(t, int), default=[256, 2048],
                    help="numbers of points, comma-separated (default 256,2048)")
    ap.add_argument("--snr", type=lambda t: parse_list(t, float), default=[7.0, 3.0],
                    help="signal-to-noise ratios SD(f)/sigma, comma-separated (default 7,3)")
    ap.add_argument("--seeds", type=int, default=3, help="data sets per case (default 3)")
    ap.add_argument("--variants", type=lambda t: parse_list(t, str.lower, VARIANTS),
                    default=["scan", "knots1", "knots2"],
                    help="splinefit variants: scan (a), knots1 (b), knots2 (c)")
    ap.add_argument("--splinefit", default=DEFAULT_PROGRAM, help="the program to copy and run")
    ap.add_argument("--jmax", type=int, default=200, help="cap on Jmax = min(N/4, cap)")
    ap.add_argument("--jfree", type=int, default=0,
                    help="cap on J for Knots 2 (default: Jmax)")
    ap.add_argument("--timeout", type=float, default=300.0,
                    help="seconds one splinefit run may take (default 300)")
    ap.add_argument("--real", action="store_true", help="also the mcycle leave-one-out test")
    ap.add_argument("--no-sim", action="store_true", help="skip the simulation")
    ap.add_argument("--keep", action="store_true", help="keep the scratch directory")
    args = ap.parse_args()
    seen = []
    for v in args.variants:
        if VARIANTS[v] not in seen:
            seen.append(VARIANTS[v])
    args.variants = seen
    if args.seeds < 1 or any(n < 8 for n in args.n):
        ap.error("--seeds must be at least 1 and every N at least 8")

    rscript = shutil.which("Rscript")
    if not rscript:
        print("no Rscript: the R peers are left out", file=sys.stderr)
    started = time.perf_counter()
    with scratch_directory("knots_peers.", args.keep) as scratch:
        sf = Splinefit(os.path.abspath(args.splinefit), scratch, args.timeout)
        state = probe_knots(sf)
        print("splinefit: %s (run from a copy)" % os.path.abspath(args.splinefit))
        print("probe of the Knots line: Knots 0 %s; Knots 1 %s; Knots 2 %s"
              % (state[0], state[1], state[2]))
        if not args.no_sim:
            run_simulation(args, sf, state, scratch, rscript)
        if args.real:
            run_real(args, sf, state, scratch, rscript)
        print()
        print("whole benchmark: %.1f s" % (time.perf_counter() - started))


if __name__ == "__main__":
    main()
