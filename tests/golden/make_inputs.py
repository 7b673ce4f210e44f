#!/usr/bin/env python3
"""Writes the inputs of the golden fits into tests/golden/<case>/input/.

Deterministic: the noise comes from a fixed 64-bit linear congruential generator, not from
Python's random module, and every number is written with Python's correctly rounded formatting,
so the files are the same on every run and every machine. The expected outputs beside them
(tests/golden/<case>/expected/) are produced by make_expected.sh.
"""
import math
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


class Lcg:
    """x <- 6364136223846793005 x + 1442695040888963407 (mod 2^64); uniform in [0, 1)."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def uniform(self):
        self.state = (6364136223846793005 * self.state + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return (self.state >> 11) / float(1 << 53)


def curve(t):
    """A damped oscillation with a narrow peak and a kink in slope: hard enough for a spline."""
    return (math.exp(-0.15 * t) * math.sin(1.3 * t) + 0.8 * math.exp(-((t - 6.0) / 0.35) ** 2)
            + 0.05 * abs(t - 3.0))


def spell(value, k, style):
    """One number in one of several spellings that the reader accepts (all exact)."""
    if style == "plain" or k % 7 not in (1, 3, 5):
        return "%.6f" % value
    if k % 7 == 1:
        return "%+.9e" % value
    if k % 7 == 3:
        return value.hex()  # hexadecimal floating point, the exact value
    return repr(value)  # shortest round-trip decimal


def data_file(name, n, seed, x_range, noise, style, shuffle, duplicates, columns, crlf, title,
              grid=False, gap=None):
    rng = Lcg(seed)
    a, b = x_range
    rows = []
    for i in range(n):
        t = a + (b - a) * (i + rng.uniform()) / n
        if grid:
            t = a + (b - a) * i / (n - 1)  # on a grid that holds every knot
        if gap and gap[0] < t < gap[1]:
            continue  # no point here: an interval without data
        if duplicates and i % 9 == 4 and rows:
            t = rows[-1][0]  # repeated abscissa, own ordinate
        y = curve(t) + noise * (rng.uniform() - 0.5)
        rows.append((t, y))
    if shuffle:
        for i in range(len(rows) - 1, 0, -1):  # Fisher-Yates with the same generator
            j = int(rng.uniform() * (i + 1))
            rows[i], rows[j] = rows[j], rows[i]
    end = "\r\n" if crlf else "\n"
    lines = [title]
    for k, (t, y) in enumerate(rows):
        if columns == 3:
            # ii = 3: a row number first, then x and y (ix = 2, iy = 3)
            items = [str(k + 1), spell(t, k, style), spell(y, k + 1, style)]
        else:
            items = [spell(t, k, style), spell(y, k + 1, style)]
        sep = "\t" if k % 5 == 2 else " "
        line = sep.join(items)
        if style != "plain" and k % 11 == 6:
            line = "  " + line + "   reading " + str(k)  # leading blanks, trailing text
        lines.append(line)
        if style != "plain" and k % 97 == 50:
            lines.append("")  # a blank line between rows
    return end.join(lines) + end


CASES = [
    # name, N, M, J (0: knots file), Envelope, Precision, Nout, criterion, options
    dict(name="n20-m2-j3", n=20, M=2, J=3, env=1, prec=6, nout=4, crit="1e-8", seed=11),
    dict(name="n20-m3-j1", n=20, M=3, J=1, env=0, prec=10, nout=5, crit="1.0E-10", seed=12),
    dict(name="n60-m3-j5-knots", n=60, M=3, J=0, env=-1, prec=7, nout=3, crit="1e-8", seed=13,
         knots=[-0.5, 1.5, 3.0, 4.5, 5.8, 6.2, 8.0]),
    dict(name="n200-m3-j8", n=200, M=3, J=8, env=-1, prec=6, nout=10, crit="1e-8", seed=14,
         style="mixed", shuffle=True),
    dict(name="n500-m2-j12", n=500, M=2, J=12, env=2, prec=12, nout=6, crit="0.00000001",
         seed=15, style="mixed", columns=3, duplicates=True),
    dict(name="n1000-m3-j9-knots", n=1000, M=3, J=0, env=-3, prec=8, nout=8, crit="1e-8",
         seed=16, style="mixed", shuffle=True, crlf=True,
         knots=[-1.0, 0.9, 2.0, 3.1, 4.4, 5.6, 6.1, 6.5, 8.0, 9.5]),
    dict(name="n2000-m2-j6-knots", n=2000, M=2, J=0, env=1, prec=6, nout=7, crit="1e-7", seed=17,
         knots=[0.0, 1.5, 3.0, 5.0, 5.9, 6.3, 9.0]),
    dict(name="n3000-m3-j20", n=3000, M=3, J=20, env=1, prec=6, nout=3, crit="1e-8", seed=18,
         shuffle=True, duplicates=True),
    dict(name="n4000-m2-j25", n=4000, M=2, J=25, env=-1, prec=15, nout=2, crit="1e-9", seed=19,
         style="mixed"),
    # Method 1 with an interval that holds no point (4.5 to 5.5).
    dict(name="n80-m3-j6-knots-exact-gap", n=80, M=3, J=0, env=1, prec=9, nout=4, crit="1e-8",
         seed=20, method=1, gap=(4.3, 5.7), knots=[0.0, 2.0, 3.5, 4.5, 5.5, 7.0, 10.0]),
    # Points exactly on every knot, the end knots included.
    dict(name="n101-m2-j5-knots-on-points", n=101, M=2, J=0, env=1, prec=8, nout=5,
         crit="1e-9", seed=21, grid=True, knots=[0.0, 2.0, 3.5, 5.0, 7.5, 10.0]),
]


def main():
    for case in CASES:
        root = os.path.join(HERE, case["name"], "input")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "data"))
        columns = case.get("columns", 2)
        ix, iy = (2, 3) if columns == 3 else (1, 2)
        name = "set"
        with open(os.path.join(root, "Control.dat"), "w", newline="") as f:
            f.write("data/ %s\n%d %d 0 %d %d %d\n" % (name, ix, iy, columns, case["M"], case["J"]))
        with open(os.path.join(root, "Computational-parameters.dat"), "w", newline="") as f:
            f.write("Computational parameters\n%d Nout\n%d Precision\n%s criterion\n"
                    "%d Envelope\n%d Nmax\n" % (case["nout"], case["prec"], case["crit"],
                                                case["env"], case["n"] + 10))
            if "method" in case:
                f.write("%d Method\n" % case["method"])
        title = "Golden %s: %d readings" % (case["name"], case["n"])
        text = data_file(name, case["n"], case["seed"], (0.0, 10.0), 0.08,
                         case.get("style", "plain"), case.get("shuffle", False),
                         case.get("duplicates", False), columns, case.get("crlf", False), title,
                         case.get("grid", False), case.get("gap"))
        with open(os.path.join(root, "data", name + ".dat"), "w", newline="") as f:
            f.write(text)
        if case["J"] <= 0:
            with open(os.path.join(root, "data", name + ".knots"), "w", newline="") as f:
                f.write("Knots\n")
                for k, knot in enumerate(case["knots"]):
                    f.write("%r%s\n" % (knot, "   knot %d" % (k + 1) if k % 2 else ""))


if __name__ == "__main__":
    main()
