#!/usr/bin/env python3
"""Writes the bundled example data sets: 300 noisy readings of a damped oscillation with a narrow
peak on it, in random order of abscissa (splinefit sorts them), with a third column of estimated
uncertainties (standard deviations), which the knots-file example fits with; 2,000 readings of
a temperature over one day at Unix times with milliseconds, whose abscissae need 13 significant
digits; and 400 readings of a spectrum line with detector glitches, spikes far above the noise,
which the robust example fits.

    python3 examples/make_example.py     # rewrites examples/*/data/damped.*, temps.dat, line.dat

The numbers depend only on the fixed seed, so the files are reproducible.
"""
import math
import pathlib
import random

HERE = pathlib.Path(__file__).resolve().parent


def curve(t):
    return math.exp(-t / 4.0) * math.sin(2.0 * t) + 0.8 * math.exp(-(((t - 6.0) / 0.5) ** 2))


def main():
    rng = random.Random(20261206)
    rows = []
    for _ in range(300):
        t = rng.uniform(0.0, 10.0)
        sigma = 0.03
        rows.append((t, curve(t) + rng.gauss(0.0, sigma), sigma))
    text = "Damped oscillation with a peak at t = 6 (300 readings, noise 0.03)\n"
    text += "".join(f"{t:.6f}\t{v:.6f}\t{s:.3f}\n" for t, v, s in rows)
    knots = "Knots for the damped oscillation: denser around the peak at t = 6\n"
    knots += "".join(f"{k}\n" for k in (0, 1, 2, 3, 4, 5, 5.5, 6, 6.5, 7, 8, 9, 10))
    for example in ("automatic", "knots-file", "free-knots"):
        data = HERE / example / "data"
        data.mkdir(parents=True, exist_ok=True)
        (data / "damped.dat").write_text(text)
    (HERE / "knots-file" / "data" / "damped.knots").write_text(knots)

    start, t, temps = 1733529600.0, 1733529600.0, []  # 2024-12-07 00:00 UTC
    for _ in range(2000):
        t += rng.uniform(20.0, 66.0)
        day = (t - start) / 86400.0
        warm = 20.0 + 5.0 * math.sin(2.0 * math.pi * day - 1.2)
        temps.append((t, warm + 0.8 * math.exp(-(((t - start - 50000.0) / 3000.0) ** 2))
                      + rng.gauss(0.0, 0.25)))
    text = "Temperature over one day: 2,000 readings at Unix times with milliseconds\n"
    text += "".join(f"{t:.3f}\t{v:.4f}\n" for t, v in temps)
    (HERE / "unix-time" / "data").mkdir(parents=True, exist_ok=True)
    (HERE / "unix-time" / "data" / "temps.dat").write_text(text)
    write_line_with_glitches()


def spectrum_line(x):
    """A Gaussian emission line at 656.28 nm on a sloping background, in counts."""
    return 120.0 + 1.5 * (x - 650.0) + 900.0 * math.exp(-0.5 * ((x - 656.28) / 0.6) ** 2)


def write_line_with_glitches():
    """400 readings from 650 to 662 nm, noise 6 counts; each reading is hit by a glitch with
    probability 0.07, which adds 40 to 400 counts (about 7 to 65 noise widths)."""
    rng = random.Random(20260311)
    rows, spikes = [], 0
    for i in range(400):
        x = 650.0 + 12.0 * i / 399.0
        v = spectrum_line(x) + rng.gauss(0.0, 6.0)
        if rng.random() < 0.07:
            v += rng.uniform(40.0, 400.0)
            spikes += 1
        rows.append((x, v))
    text = (f"Spectrum line at 656.28 nm with detector glitches (400 readings, noise 6 counts, "
            f"{spikes} spikes)\n")
    text += "".join(f"{x:.3f}\t{v:.2f}\n" for x, v in rows)
    (HERE / "robust" / "data").mkdir(parents=True, exist_ok=True)
    (HERE / "robust" / "data" / "line.dat").write_text(text)


if __name__ == "__main__":
    main()
