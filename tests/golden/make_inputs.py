#!/usr/bin/env python3
"""Writes the inputs of the golden cases of cases.txt into tests/golden/<case>/input/, the same on
every run and machine: the noise comes from a 64-bit linear congruential generator, and numbers
are written with Python's correctly rounded formatting. make_expected.sh makes the outputs."""
import math
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


class Lcg:
    """x <- 6364136223846793005 x + 1442695040888963407 (mod 2^64); uniform in [0, 1)."""
    def __init__(self, seed):
        self.state = seed

    def uniform(self):
        self.state = (6364136223846793005 * self.state + 1442695040888963407) % 2**64
        return (self.state >> 11) / float(1 << 53)


def curve(t):
    """A damped oscillation with a narrow peak and a kink in slope: hard enough for a spline."""
    return (math.exp(-0.15 * t) * math.sin(1.3 * t) + 0.8 * math.exp(-((t - 6.0) / 0.35) ** 2)
            + 0.05 * abs(t - 3.0))


def spell(value, k, mixed):
    """One number in one of several exact spellings: %.6f, %+.9e, hexadecimal, shortest."""
    kind = k % 7 if mixed else 0
    return {1: "%+.9e" % value, 3: value.hex(), 5: repr(value)}.get(kind, "%.6f" % value)


def data_text(c, title):
    rng, n, rows = Lcg(int(c["seed"])), int(c["N"]), []
    gap = [float(v) for v in c["gap"].split(":")] if "gap" in c else None
    for i in range(n):
        t = 10.0 * (i + rng.uniform()) / n
        if "grid" in c:
            t = 10.0 * i / (n - 1)
        if gap and gap[0] < t < gap[1]:
            continue
        if "duplicates" in c and i % 9 == 4 and rows:
            t = rows[-1][0]  # a repeated abscissa with its own ordinate
        rows.append((t, curve(t) + 0.08 * (rng.uniform() - 0.5)))
    if "shuffle" in c:
        for i in range(len(rows) - 1, 0, -1):  # Fisher-Yates with the same generator
            j = int(rng.uniform() * (i + 1))
            rows[i], rows[j] = rows[j], rows[i]
    mixed, lines = c.get("style") == "mixed", [title]
    for k, (t, y) in enumerate(rows):
        items = ([str(k + 1)] if c.get("columns") == "3" else []) + [spell(t, k, mixed),
                                                                      spell(y, k + 1, mixed)]
        line = ("\t" if k % 5 == 2 else " ").join(items)
        lines.append("  " + line + "   reading " + str(k) if mixed and k % 11 == 6 else line)
        if mixed and k % 97 == 50:
            lines.append("")  # a blank line between rows
    end = "\r\n" if "crlf" in c else "\n"
    return end.join(lines) + end


def main():
    columns = "name N M J Envelope Precision Nout criterion seed".split()
    for line in open(os.path.join(HERE, "cases.txt")):
        if line.startswith("#") or not line.strip():
            continue
        words = line.split()
        c = dict(zip(columns, words))
        c.update(w.split("=", 1) if "=" in w else (w, "") for w in words[len(columns):])
        root = os.path.join(HERE, c["name"], "input")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "data"))
        ix, iy, ii = (2, 3, 3) if c.get("columns") == "3" else (1, 2, 2)
        files = {
            "Control.dat": "data/ set\n%d %d 0 %d %s %s\n" % (ix, iy, ii, c["M"], c["J"]),
            "Computational-parameters.dat": "Computational parameters\n%s Nout\n%s Precision\n"
            "%s criterion\n%s Envelope\n%d Nmax\n" % (c["Nout"], c["Precision"], c["criterion"],
                                                      c["Envelope"], int(c["N"]) + 10)
            + ("%s Method\n" % c["method"] if "method" in c else ""),
            "data/set.dat": data_text(c, "Golden %s: %s readings" % (c["name"], c["N"]))}
        if "knots" in c:
            files["data/set.knots"] = "Knots\n" + "".join(
                "%r%s\n" % (float(v), "   knot %d" % (k + 1) if k % 2 else "")
                for k, v in enumerate(c["knots"].split(",")))
        for name, text in files.items():
            with open(os.path.join(root, name), "w", newline="") as f:
                f.write(text)


if __name__ == "__main__":
    main()
