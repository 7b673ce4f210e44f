#!/usr/bin/python3
"""splinefit's robust fits on data with outliers: the error to the true curve, the agreement with
statsmodels' and R's robust regressions on the same spline basis, and the cost.

    bench/robust_peers.py [--only sine,decay,peak] [--n 200,1000,5000] [--seeds 3]
                          [--sigma 0.2] [--fraction 0.08] [--jmax 60] [--no-r] [--no-cost]
                          [--cost-points 1000000] [--repeat 5] [--splinefit PATH] [--keep]

A benchmark, not a test: it prints numbers to read and asserts nothing.

What is measured
  Three smooth test functions on [0, 1], each standardised over its N design points (mean 0,
  population SD 1): a sine sin(4 pi x), a damped oscillation exp(-4x) cos(14x) and a narrow peak
  on a slope x + 2 exp(-((x - 0.6) / 0.06)^2). N equally spaced abscissae x_i = i / (N - 1),
  N = 200, 1000 and 5000 by default; Gaussian noise of sigma = 0.2 (--sigma); then 8% of the
  points (--fraction; round(0.08 N) of them, drawn without replacement) are thrown off by 2 to 5
  noise widths (uniform), each up or down at random. Every data set comes from its own seeded
  generator and is written with 17 significant digits, so every method reads the same numbers.

  splinefit, cubic, Method 1, on J equal-count intervals (Knots 0), J fixed per function so that
  the least-squares fit to clean data is near its best at N = 200 .. 5000 (sine 10, decay 12,
  peak 20):
    sf-LS         Robust 0, least squares
    sf-Huber      Robust 1, Huber's psi, c = 1.345
    sf-bisquare   Robust 2, Tukey's bisquare, c = 4.685
    LS-clean      Robust 0 on the points that were not thrown off, with the knots of sf-LS (given
                  in a knots file): what a fit that knew the outliers would do
  and on knots chosen by the data (Knots 1, J at most Jmax = min(N/4, --jmax)):
    LS-K1         Robust 0, Knots 1
    bisq-K1       Robust 2, Knots 1: the number of intervals chosen on the robust fit
  The error of a fit is the RMSE of its fitted values (the third column of the fit report's
  residual block) to the true curve at the N design points; a case shows the mean over its seeds
  and its ratio to LS-clean's, and the summary the geometric mean of those ratios over the cases.

  Peers on the identical design: the cubic B-spline basis on the knots splinefit used (read from
  its results file, written with 17 significant digits), with the same start (least squares),
  the same scale (median |r| / 0.6744897501960817, not centred, recomputed each step) and the
  same tuning constants:
    sm-Huber, sm-bisquare   statsmodels RLM(y, B, M=HuberT(1.345) / TukeyBiweight(4.685))
                            .fit(scale_est="mad", cov="H1", conv="coefs"), iterated until no
                            coefficient moves by more than 1e-14 max|y| (at most 200 steps)
    R-Huber, R-bisquare     MASS::rlm(B, y, psi = psi.huber / psi.bisquare, init = "ls",
                            scale.est = "MAD", maxit = 200, acc = 1e-13), B from
                            splines::splineDesign. rlm divides the MAD by 0.6745 rather than
                            0.6744897501960817, so it is given the tuning constants times
                            0.6745 / 0.6744897501960817 (the same weights at every step) and its
                            scale is multiplied by that factor before it is compared.
  For each peer: its RMSE to the true curve, and over all data sets the largest
  |fitted value of splinefit - the peer's| / max|y| and |s - s_peer| / s_peer (s: the report's
  `scale`); against statsmodels also the largest difference of the robust weights (the report's
  fifth residual column against psi(u)/u at statsmodels' final residuals and scale), whether the
  counts `downweighted` (weight below 1) and `rejected` (weight 0) agree, and the largest
  relative difference of the band's standard error se(x) (the report's band block) from
  statsmodels' H1 covariance, sqrt(b(x)^T bcov_scaled b(x)). Weighted fits are checked too: one
  data set per function at the middle N with weights w in [1/4, 4] (noise sigma / sqrt(w)),
  fitted with Weights 1 and compared with statsmodels on the whitened problem (sqrt(w) y,
  sqrt(w) B), where u = sqrt(w) r / s as in splinefit. The Knots 1 robust fits are compared on
  the knots they chose. The iteration counts are shown side by side.

  The cost (--cost-points, 10^6 by default): the whole splinefit run (reading, sorting, the fit,
  every output file with the fit report's residual block) on a noisy sine with 8% outliers, six
  significant digits, cubic, J = 50, Method 1, for Robust 0, 1 and 2, one after the other,
  --repeat times each; printed are the medians, the ratio to Robust 0 and the number of IRLS
  steps from the report.

Run
  bench/robust_peers.py                       the full default run (a few minutes)
  bench/robust_peers.py --only sine --n 1000 --seeds 1 --no-cost      a quick look
  --splinefit PATH names the program (default: the default preset's build); a copy is run.

Needs /usr/bin/python3 with numpy, SciPy and statsmodels (python3-numpy, python3-scipy,
python3-statsmodels), and for the R peers Rscript with MASS (r-base-core, r-cran-mass); without
Rscript the R peers are left out. None of these is a dependency of the build or of the tests.
"""
import argparse
import math
import os
import shutil
import statistics
import subprocess
import sys
import time

import numpy as np
from scipy.interpolate import BSpline
import statsmodels.api as sm

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from knots_peers import (eval_spline, parse_spline, rmse, scratch_directory,  # noqa: E402
                         write_data)

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PROGRAM = os.path.join(HERE, "..", "build", "default", "Mathematics",
                               "Interpolation-Approximation", "splinefit")
DEGREE = 3
SEED_BASE = 20260311
MAD = 0.6744897501960817          # the normal quantile at 3/4, statsmodels' and splinefit's
R_MAD = 0.6745                    # MASS::rlm's
TUNING = {1: 1.345, 2: 4.685}
ROBUST_NAME = {0: "LS", 1: "Huber", 2: "bisquare"}

FUNCTIONS = {
    "sine": (lambda x: np.sin(4.0 * np.pi * x), 10),
    "decay": (lambda x: np.exp(-4.0 * x) * np.cos(14.0 * x), 12),
    "peak": (lambda x: x + 2.0 * np.exp(-(((x - 0.6) / 0.06) ** 2)), 20),
}
SF_METHODS = ["sf-LS", "sf-Huber", "sf-bisquare", "LS-clean", "LS-K1", "bisq-K1"]
PEER_METHODS = ["sm-Huber", "sm-bisquare", "R-Huber", "R-bisquare"]


def design(fname, n, sigma, fraction, seed, weighted=False):
    """Abscissae, true curve, ordinates, the indices thrown off, and weights (or None)."""
    x = np.arange(n, dtype=float) / (n - 1)
    f = FUNCTIONS[fname][0](x)
    f = (f - f.mean()) / f.std()
    fi = list(FUNCTIONS).index(fname)
    rng = np.random.default_rng([SEED_BASE, fi, n, seed, int(weighted)])
    w = np.exp(rng.uniform(math.log(0.25), math.log(4.0), n)) if weighted else None
    noise = sigma * rng.standard_normal(n)
    if weighted:
        noise /= np.sqrt(w)
    y = f + noise
    bad = np.sort(rng.choice(n, size=int(round(fraction * n)), replace=False))
    widths = sigma / np.sqrt(w[bad]) if weighted else sigma
    y[bad] += rng.choice([-1.0, 1.0], size=len(bad)) * rng.uniform(2.0, 5.0, len(bad)) * widths
    return x, f, y, bad, w


# ----------------------------------------------------------------------------- splinefit


def parse_report(text):
    """The report's name/value lines, its residual block (columns x, y, fit, residual[, weight])
    and its band block (x, s, se, lower, upper)."""
    lines = text.split("\n")
    values = {}
    for line in lines[1:]:
        if not line.strip():
            break
        parts = line.split("\t")
        if len(parts) == 2 and not line.startswith("#"):
            values[parts[0]] = parts[1]

    def block(header_start):
        k = next((i for i, line in enumerate(lines) if line.startswith(header_start)), None)
        if k is None:
            return None
        rows = []
        for line in lines[k + 1:]:
            if not line.strip() or line.startswith("#"):
                break
            rows.append([float(v) for v in line.split("\t")])
        return np.array(rows)

    head = next((i for i, line in enumerate(lines) if line.startswith("# Residuals")), None)
    if head is None or not lines[head + 1].startswith("# x\ty\tfit\tresidual"):
        raise ValueError("the fit report has no residual block")
    residuals = block(lines[head + 1])
    band = block("# x\ts(x)\tse(x)\tlower\tupper")
    return values, residuals, band


class Run:
    def __init__(self, status, message="", seconds=0.0, values=None, residuals=None, band=None,
                 X=None):
        self.status, self.message, self.seconds = status, message, seconds
        self.values, self.residuals, self.band, self.X = values, residuals, band, X

    @property
    def fit(self):
        return self.residuals[:, 2]

    @property
    def J(self):
        return len(self.X) - 1


class Splinefit:
    """A scratch working directory and a private copy of the program, run one at a time."""

    def __init__(self, source, work, timeout=600.0):
        self.work, self.timeout = work, timeout
        self.data = os.path.join(work, "data")
        os.makedirs(self.data, exist_ok=True)
        self.program = os.path.join(work, "splinefit")
        shutil.copyfile(source, self.program)
        os.chmod(self.program, 0o755)

    def run(self, name, n, J, robust, knots=0, weights=False, nout=1, precision=17,
            keep_report=True):
        for ext in (".fit", ".res"):
            try:
                os.remove(os.path.join(self.data, name + ext))
            except FileNotFoundError:
                pass
        with open(os.path.join(self.work, "Control.dat"), "w") as f:
            f.write("data/ %s 1 2 %d %d %d %d\n" % (name, 3 if weights else 0,
                                                    3 if weights else 2, DEGREE, J))
        with open(os.path.join(self.work, "Computational-parameters.dat"), "w") as f:
            f.write("Parameters of the robust benchmark\n%d Nout\n%d Precision\n1e-8 criterion\n"
                    "0 Envelope\n%d Nmax\n1 Method\n%d Weights\n%d Knots\n%d Robust\n"
                    % (nout, precision, n + 10, 1 if weights else 0, knots, robust))
        start = time.perf_counter()
        try:
            done = subprocess.run([self.program], cwd=self.work, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  timeout=self.timeout)
        except subprocess.TimeoutExpired:
            return Run("timeout", "over %g s" % self.timeout, self.timeout)
        seconds = time.perf_counter() - start
        err = done.stderr.decode(errors="replace").strip()
        first = err.splitlines()[0] if err else ""
        if done.returncode != 0:
            return Run("refused" if done.returncode == 2 else "failed",
                       "status %d %s" % (done.returncode, first), seconds)
        if not keep_report:
            with open(os.path.join(self.data, name + ".fit")) as f:
                values = {}
                for line in f:
                    if line.startswith("robust_iterations\t"):
                        values["robust_iterations"] = line.split("\t")[1].strip()
                        break
            return Run("ok", "", seconds, values)
        try:
            with open(os.path.join(self.data, name + ".fit")) as f:
                values, residuals, band = parse_report(f.read())
            with open(os.path.join(self.data, name + ".res")) as f:
                X, _ = parse_spline(f.read())
        except (OSError, ValueError, IndexError, StopIteration) as error:
            return Run("failed", "unreadable output: %s" % error, seconds)
        return Run("ok", "", seconds, values, residuals, band, X)


def probe_robust(sf):
    """'ok' when the program fits with Robust 2 and says so in its report, else why not."""
    x, _, y, _, _ = design("sine", 200, 0.2, 0.08, 0)
    write_data(os.path.join(sf.data, "probe.dat"), "robust probe", x, y)
    r = sf.run("probe", 200, 10, 2)
    if r.status != "ok":
        return "%s %s" % (r.status, r.message)
    if r.values.get("robust") != "bisquare" or r.residuals.shape[1] < 5:
        return "ignored (the report has no robust line or no weight column: Robust not read)"
    return "ok"


def knot_vector(X):
    return np.r_[[X[0]] * DEGREE, X, [X[-1]] * DEGREE]


# ----------------------------------------------------------------------------- peers


def statsmodels_fit(x, y, w, X, robust):
    """RLM on the B-spline basis of knots X (whitened by sqrt(w) when weighted): fitted values,
    scale, robust weights at the final residuals, the iteration count and the band's se at the
    abscissae asked for through the returned function."""
    B = BSpline.design_matrix(x, knot_vector(X), DEGREE).toarray()
    root = np.sqrt(w) if w is not None else np.ones_like(y)
    norm = sm.robust.norms.HuberT(t=TUNING[1]) if robust == 1 else \
        sm.robust.norms.TukeyBiweight(c=TUNING[2])
    model = sm.RLM(root * y, root[:, None] * B, M=norm)
    res = model.fit(maxiter=200, tol=1e-14 * np.max(np.abs(y)), scale_est="mad", cov="H1",
                    conv="coefs")
    fit = B @ res.params
    weights = norm.weights(res.sresid)
    cov = res.bcov_scaled

    def se(at):
        Bt = BSpline.design_matrix(at, knot_vector(X), DEGREE).toarray()
        return np.sqrt(np.einsum("ij,jk,ik->i", Bt, cov, Bt))

    return fit, res.scale, weights, res.fit_history["iteration"], se


R_FIT = r"""
args <- commandArgs(TRUE)
suppressPackageStartupMessages({ library(MASS); library(splines) })
man <- read.table(args[1], header = FALSE, sep = "\t", stringsAsFactors = FALSE, quote = "")
factor <- 0.6745 / 0.6744897501960817
for (r in seq_len(nrow(man))) {
  d <- read.table(man[r, 1], skip = 1)
  t <- scan(man[r, 2], quiet = TRUE)
  B <- splineDesign(t, d[[1]], ord = 4)
  t0 <- proc.time()[[3]]
  fit <- suppressWarnings(if (man[r, 3] == 1)
    rlm(B, d[[2]], psi = psi.huber, k = 1.345 * factor, init = "ls", scale.est = "MAD",
        maxit = 200, acc = 1e-13)
  else
    rlm(B, d[[2]], psi = psi.bisquare, c = 4.685 * factor, init = "ls", scale.est = "MAD",
        maxit = 200, acc = 1e-13))
  el <- proc.time()[[3]] - t0
  writeLines(c(sprintf("# %.17g %d %.6g", fit$s * factor, length(fit$conv), el),
               sprintf("%.17g", fitted(fit))), man[r, 4])
}
"""


# ----------------------------------------------------------------------------- simulation


class Agreement:
    """The largest differences found against one peer, with where they were found."""

    def __init__(self):
        self.worst = {}

    def note(self, what, value, where):
        if not math.isfinite(value):
            value = float("inf")
        if what not in self.worst or value > self.worst[what][0]:
            self.worst[what] = (value, where)


def compare_statsmodels(run, x, y, w, robust, agree, where):
    fit, s, weights, iters, se = statsmodels_fit(x, y, w, run.X, robust)
    scale = np.max(np.abs(y))
    agree.note("fit", np.max(np.abs(run.fit - fit)) / scale, where)
    agree.note("scale", abs(float(run.values["scale"]) - s) / s, where)
    agree.note("weight", np.max(np.abs(run.residuals[:, 4] - weights)), where)
    counts_ok = (int(run.values["downweighted"]) == int(np.sum(weights < 1.0))
                 and int(run.values["rejected"]) == int(np.sum(weights == 0.0)))
    agree.note("counts differ", 0.0 if counts_ok else 1.0, where)
    if run.band is not None and len(run.band):
        ref = se(run.band[:, 0])
        agree.note("se", np.max(np.abs(run.band[:, 2] - ref) / ref), where)
    return fit, iters


def run_simulation(args, sf, scratch, rscript):
    cases = [(f, n) for f in args.only for n in args.n]
    seeds = list(range(args.seeds))
    rdir = os.path.join(scratch, "r")
    os.makedirs(rdir, exist_ok=True)
    err, note, chosen, iters, times = {}, {}, {}, {}, {}
    agree = {m: Agreement() for m in PEER_METHODS}
    manifest, r_jobs = [], {}

    def record(case, method, value, J=None, it=None, seconds=None):
        err.setdefault((case, method), []).append(value)
        if J is not None:
            chosen.setdefault((case, method), []).append(J)
        if it is not None:
            iters.setdefault((case, method), []).append(it)
        if seconds is not None:
            times.setdefault((case, method), []).append(seconds)

    total, done = len(cases) * len(seeds), 0
    for case in cases:
        fname, n = case
        J = FUNCTIONS[fname][1]
        jmax = max(1, min(n // 4, args.jmax))
        for seed in seeds:
            x, f, y, bad, _ = design(fname, n, args.sigma, args.fraction, seed)
            name = "%s_%d_%d" % (fname, n, seed)
            write_data(os.path.join(sf.data, name + ".dat"), "%s N=%d seed %d" % (fname, n, seed),
                       x, y)
            runs = {}
            for method, robust, knots, jj in (("sf-LS", 0, 0, J), ("sf-Huber", 1, 0, J),
                                              ("sf-bisquare", 2, 0, J), ("LS-K1", 0, 1, jmax),
                                              ("bisq-K1", 2, 1, jmax)):
                r = sf.run(name, n, jj, robust, knots)
                if r.status != "ok":
                    note[(case, method)] = "%s %s" % (r.status, r.message)
                    record(case, method, None)
                    continue
                if len(r.fit) != n or np.max(np.abs(r.residuals[:, 0] - x)) > 1e-12:
                    note[(case, method)] = "the report's abscissae differ from the data"
                    record(case, method, None)
                    continue
                runs[method] = r
                it = int(r.values.get("robust_iterations", 0))
                record(case, method, rmse(r.fit, f), r.J, it, r.seconds)
            # The clean points on the knots of the least-squares fit.
            if "sf-LS" in runs:
                keep = np.ones(n, bool)
                keep[bad] = False
                clean = name + "_clean"
                write_data(os.path.join(sf.data, clean + ".dat"), "clean", x[keep], y[keep])
                with open(os.path.join(sf.data, clean + ".knots"), "w") as k:
                    k.write("knots of %s\n" % name)
                    k.write("".join("%.17g\n" % v for v in runs["sf-LS"].X))
                r = sf.run(clean, n, 0, 0)
                if r.status == "ok":
                    # The clean fit at every design point: its spline from the results file.
                    with open(os.path.join(sf.data, clean + ".res")) as fres:
                        Xc, C = parse_spline(fres.read())
                    record(case, "LS-clean", rmse(eval_spline(Xc, C, x), f))
                else:
                    note[(case, "LS-clean")] = "%s %s" % (r.status, r.message)
                    record(case, "LS-clean", None)
            # Peers on the knots each robust fit used.
            for method, robust in (("sf-Huber", 1), ("sf-bisquare", 2), ("bisq-K1", 2)):
                if method not in runs:
                    continue
                run = runs[method]
                peer = "sm-" + ROBUST_NAME[robust]
                where = "%s N=%d seed %d%s" % (fname, n, seed, " Knots 1" if method == "bisq-K1"
                                               else "")
                t0 = time.perf_counter()
                fit, it = compare_statsmodels(run, x, y, None, robust, agree[peer], where)
                if method != "bisq-K1":
                    record(case, peer, rmse(fit, f), None, it, time.perf_counter() - t0)
                    kfile = os.path.join(rdir, name + ".t")
                    np.savetxt(kfile, knot_vector(run.X), fmt="%.17g")
                    out = os.path.join(rdir, "%s_%d.out" % (name, robust))
                    manifest.append("%s\t%s\t%d\t%s" % (os.path.join(sf.data, name + ".dat"),
                                                        kfile, robust, out))
                    r_jobs[out] = (case, "R-" + ROBUST_NAME[robust], run.fit, f, y,
                                   float(run.values["scale"]), where)
            done += 1
            print("[%d/%d] %s N=%d seed %d" % (done, total, fname, n, seed), file=sys.stderr,
                  flush=True)

    # Weighted fits, against statsmodels on the whitened problem.
    weighted = []
    n = args.n[len(args.n) // 2]
    for fname in args.only:
        x, f, y, bad, w = design(fname, n, args.sigma, args.fraction, 0, weighted=True)
        name = "%s_%d_weighted" % (fname, n)
        with open(os.path.join(sf.data, name + ".dat"), "w") as out:
            out.write("%s N=%d weighted\n" % (fname, n))
            out.write("".join("%.17g %.17g %.17g\n" % t for t in zip(x, y, w)))
        for robust in (1, 2):
            r = sf.run(name, n, FUNCTIONS[fname][1], robust, weights=True, nout=3)
            peer = "sm-" + ROBUST_NAME[robust]
            where = "%s N=%d weighted" % (fname, n)
            if r.status != "ok":
                weighted.append("%s %s: %s %s" % (where, ROBUST_NAME[robust], r.status,
                                                  r.message))
                continue
            compare_statsmodels(r, x, y, w, robust, agree[peer], where)

    if rscript and manifest:
        with open(os.path.join(rdir, "manifest.tsv"), "w") as m:
            m.write("\n".join(manifest) + "\n")
        with open(os.path.join(rdir, "fit.R"), "w") as m:
            m.write(R_FIT)
        done = subprocess.run([rscript, os.path.join(rdir, "fit.R"),
                               os.path.join(rdir, "manifest.tsv")], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if done.returncode != 0:
            print("Rscript ended with status %d: %s" % (done.returncode, done.stderr[-1000:]),
                  file=sys.stderr)
        for out, (case, method, sf_fit, f, y, s, where) in r_jobs.items():
            try:
                with open(out) as o:
                    head = o.readline().split()
                    fit = np.loadtxt(o)
            except (OSError, ValueError):
                record(case, method, None)
                note[(case, method)] = "no R output"
                continue
            s_r, it, el = float(head[1]), int(head[2]), float(head[3])
            record(case, method, rmse(fit, f), None, it, el)
            agree[method].note("fit", np.max(np.abs(sf_fit - fit)) / np.max(np.abs(y)), where)
            agree[method].note("scale", abs(s - s_r) / s_r, where)

    methods = SF_METHODS + [m for m in PEER_METHODS if rscript or not m.startswith("R-")]
    print_simulation(args, cases, methods, err, note, chosen, iters, times, agree, weighted)


def mean_or_none(values):
    if not values or any(v is None for v in values):
        return None
    return sum(values) / len(values)


def print_simulation(args, cases, methods, err, note, chosen, iters, times, agree, weighted):
    print("Robust fits: RMSE of the fit to the true curve at the design points")
    print("functions standardised (mean 0, SD 1 over the design), noise sigma %g, %g%% of the "
          "points thrown off by 2-5 sigma (random sign); N equally spaced x in [0, 1]; %d "
          "seed(s); cubic, Method 1; ratio = RMSE / LS-clean's"
          % (args.sigma, 100 * args.fraction, args.seeds))
    ratios = {m: [] for m in methods}
    for case in cases:
        fname, n = case
        means = {m: mean_or_none(err.get((case, m), [])) for m in methods}
        clean = means.get("LS-clean")
        print()
        print("%s  N=%d  J=%d (K1: J at most %d)  outliers %d" % (
            fname, n, FUNCTIONS[fname][1], max(1, min(n // 4, args.jmax)),
            int(round(args.fraction * n))))
        print("  %-12s %9s %7s   %-26s %-12s %-12s %s" % ("method", "RMSE", "ratio",
                                                        "RMSE per seed", "J per seed",
                                                        "steps", "s/fit"))
        for m in methods:
            mean = means[m]
            if mean is None:
                print("  %-12s %9s %7s   %s" % (m, "-", "-", note.get((case, m), "no result")))
                continue
            ratio = mean / clean if clean else float("nan")
            ratios[m].append(ratio)
            per_seed = " ".join("%.4f" % v for v in err[(case, m)])
            js = ",".join(str(j) for j in chosen.get((case, m), [])) if m.endswith("K1") else ""
            it = ",".join(str(i) for i in iters.get((case, m), [])) if m not in (
                "sf-LS", "LS-clean", "LS-K1") else ""
            tm = times.get((case, m))
            print("  %-12s %9.5f %7.3f   %-26s %-12s %-12s %s" % (
                m, mean, ratio, per_seed, js, it, "%.4f" % statistics.median(tm) if tm else ""))
    print()
    print("Summary over %d case(s): RMSE / LS-clean's RMSE" % len(cases))
    print("  %-12s %9s %9s" % ("method", "geo-mean", "largest"))
    for m in methods:
        rs = [r for r in ratios[m] if math.isfinite(r)]
        if rs:
            geo = math.exp(sum(math.log(r) for r in rs) / len(rs))
            print("  %-12s %9.3f %9.3f" % (m, geo, max(rs)))
    print()
    print("Agreement with the peers on the same B-spline basis and knots (largest over the data "
          "sets; fit relative to max|y|, scale and se relative, weight absolute; the report "
          "writes scale with 10 significant digits)")
    for m in agree:
        for what, (value, where) in sorted(agree[m].worst.items()):
            if what == "counts differ":
                print("  %-12s %-14s %10s%s" % (m, what, "YES" if value else "no",
                                                ("   at " + where) if value else ""))
            else:
                print("  %-12s %-14s %10.3g   at %s" % (m, what, value, where))
    for line in weighted:
        print("  weighted: " + line)
    print("  (splinefit's s/fit is the whole run, process start to exit; the peers' the fit in "
          "process)")


# ----------------------------------------------------------------------------- cost

COST_DATA = """
import sys
import numpy as np
path, n = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(20261207)
x = np.sort(rng.uniform(0.0, 10.0, n))
y = np.sin(x) + rng.normal(0.0, 0.1, n)
bad = rng.choice(n, size=int(round(0.08 * n)), replace=False)
y[bad] += rng.choice([-1.0, 1.0], size=len(bad)) * rng.uniform(0.2, 0.5, len(bad))
with open(path, "w") as f:
    f.write("A noisy sine with 8%% outliers, %d points\\n" % n)
    f.write("".join("%.6g %.6g\\n" % (a, b) for a, b in zip(x, y)))
"""


def run_cost(args, sf):
    n = args.cost_points
    subprocess.run(["/usr/bin/python3", "-c", COST_DATA, os.path.join(sf.data, "cost.dat"),
                    str(n)], check=True)
    seconds = {0: [], 1: [], 2: []}
    steps = {}
    for _ in range(args.repeat):
        for robust in (0, 1, 2):
            r = sf.run("cost", n, 50, robust, nout=20, precision=6, keep_report=False)
            if r.status != "ok":
                print("cost: Robust %d: %s %s" % (robust, r.status, r.message))
                return
            seconds[robust].append(r.seconds)
            steps[robust] = r.values.get("robust_iterations", "-")
    print()
    print("Cost: the whole run at N = %d (noisy sine, 8%% outliers, cubic, J = 50, Method 1), "
          "median of %d" % (n, args.repeat))
    base = statistics.median(seconds[0])
    for robust in (0, 1, 2):
        t = statistics.median(seconds[robust])
        print("  Robust %d %-9s %8.3f s   ratio %5.2f   IRLS steps %s" % (
            robust, ROBUST_NAME[robust], t, t / base, steps[robust] if robust else "-"))


# ----------------------------------------------------------------------------- main


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", type=lambda t: [v for v in t.split(",") if v],
                    default=list(FUNCTIONS), help="test functions (%s)" % ",".join(FUNCTIONS))
    ap.add_argument("--n", type=lambda t: [int(v) for v in t.split(",") if v],
                    default=[200, 1000, 5000])
    ap.add_argument("--seeds", type=int, default=3)
    ap.add_argument("--sigma", type=float, default=0.2)
    ap.add_argument("--fraction", type=float, default=0.08)
    ap.add_argument("--jmax", type=int, default=60, help="Knots 1: J at most min(N/4, JMAX)")
    ap.add_argument("--no-r", action="store_true", help="leave out the R peers")
    ap.add_argument("--no-cost", action="store_true")
    ap.add_argument("--no-sim", action="store_true")
    ap.add_argument("--cost-points", type=int, default=1000000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--splinefit", default=DEFAULT_PROGRAM)
    ap.add_argument("--keep", action="store_true", help="keep the scratch directory")
    args = ap.parse_args()
    for fname in args.only:
        if fname not in FUNCTIONS:
            ap.error("%r is not one of %s" % (fname, ", ".join(FUNCTIONS)))
    if args.seeds < 1 or any(n < 40 for n in args.n):
        ap.error("--seeds must be at least 1 and every N at least 40")

    rscript = None if args.no_r else shutil.which("Rscript")
    started = time.perf_counter()
    with scratch_directory("robust_peers.", args.keep) as scratch:
        sf = Splinefit(os.path.abspath(args.splinefit), scratch)
        state = probe_robust(sf)
        print("splinefit: %s (run from a copy); Robust: %s" % (os.path.abspath(args.splinefit),
                                                               state))
        if state != "ok":
            return
        if not args.no_sim:
            run_simulation(args, sf, scratch, rscript)
        if not args.no_cost:
            run_cost(args, sf)
        print()
        print("whole benchmark: %.1f s" % (time.perf_counter() - started))


if __name__ == "__main__":
    main()
