"""The module splinefit against a dense least-squares solve in NumPy (truncated powers), the C++
program's fit reports of golden cases, and the library's and the module's tables of refusals."""
import math
import pathlib
import re
import threading
import tracemalloc
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import splinefit

TESTS = pathlib.Path(__file__).resolve().parent.parent
KINDS = [(2, None), (3, None), (3, 'w'), (3, 'sigma')]


def problem(n=400, seed=1):  # unsorted abscissae, ordinates, weights or sigmas
    rng = np.random.default_rng(seed)
    x = rng.uniform(0, 10, n)
    return x, np.sin(x) + 0.1 * rng.standard_normal(n), rng.uniform(0.5, 2, n)


def basis(t, knots, M, nu=0):
    """(t - knots[0])^m, m = 0..M, and (t - k)_+^M, k inner, over h; d^nu/dt^nu (-1: integral)"""
    h = knots[-1] - knots[0]
    u = (np.reshape(t, (-1, 1)) - np.r_[np.full(M + 1, knots[0]), knots[1:-1]]) / h
    power = np.r_[np.arange(M + 1), np.full(len(knots) - 2, M)]
    scale = [math.factorial(m) / math.factorial(m - nu) if m >= nu else 0 for m in power]
    on = (np.arange(len(power)) <= M) | (u > 0)
    return np.where(on, u ** np.maximum(power - nu, 0), 0) * scale / h ** nu


def dense(degree, kind):
    """The module's fit on 8 intervals, 200 abscissae t inside, and its answers by a dense solve."""
    x, y, v = problem()
    s = splinefit.fit(x, y, degree, 8, **({kind: v} if kind else {}))
    w = np.sqrt({'w': v, 'sigma': v ** -2.0, None: np.ones_like(v)}[kind])
    t = np.random.default_rng(7).uniform(s.knots[0], s.knots[-1], 200)
    B = lambda at, nu=0: basis(at, s.knots, degree, nu)  # noqa: E731
    A = B(x) * w[:, None]
    c, rss = np.linalg.lstsq(A, y * w, rcond=None)[:2]
    P = B(t) @ np.linalg.pinv(A)
    return s, t, {'derivatives': [B(t, nu) @ c for nu in range(4)], 'integrals': B(t, -1) @ c,
                  'residuals in the order given': y - B(x) @ c,
                  'coefficients about the left knot': B(t) @ c,
                  'standard error': np.sqrt((P * P).sum(1) * (
                      1 if kind == 'sigma' else rss[0] / (len(x) - A.shape[1])))}


MINE = {
    'derivatives': lambda s, t: [s(t, nu) for nu in range(4)],
    'integrals': lambda s, t: [s.integral(s.knots[0], u) for u in t],
    'residuals in the order given': lambda s, t: s.residuals,
    'coefficients about the left knot': lambda s, t: [
        np.polyval(s.coefficients[j][::-1], u - s.knots[j])
        for j, u in zip(np.clip(np.searchsorted(s.knots, t, 'right') - 1, 0, 7), t)],
    'standard error': lambda s, t: s.standard_error(t),
}


@pytest.mark.parametrize('answer', MINE)
@pytest.mark.parametrize('degree,kind', KINDS)
def test_the_answers_are_the_dense_solves(degree, kind, answer):
    s, t, answers = dense(degree, kind)
    assert np.allclose(MINE[answer](s, t), answers[answer], rtol=0, atol=1e-9)


@pytest.mark.parametrize('case,options', [
    ('n250-m3-j6-sigmas', dict(intervals=6, sigma=2)),
    ('n300-m3-j30-weights-bisquare-knots', dict(intervals=30, w=2, knots_by='count',
                                                robust='bisquare'))])
def test_the_statistics_band_and_robust_weights_are_the_programs_fit_report(case, options):
    case = TESTS / 'golden' / case
    data = np.loadtxt(case / 'input/data/set.dat', skiprows=1)
    options.update({k: data[:, v] for k, v in options.items() if k in ('w', 'sigma')})
    s = splinefit.fit(data[:, 0], data[:, 1], 3, **options)
    report, band, points = (case / 'expected/data/set.fit').read_text().split('\n\n\n')[:3]
    report = dict(line.split('\t') for line in report.splitlines()[1:] if '\t' in line)
    assert set(report) - set(s.statistics) <= {'method', 'iterations', 'RSS_min', 'excess', 'knots'}
    assert [pytest.approx(float(report[k]), rel=1e-9) if k not in ('weights', 'robust')
            else report[k] for k in s.statistics] == list(s.statistics.values())
    band = np.loadtxt(band.splitlines())  # x, s, se, lower, upper
    assert np.allclose(s.confidence_band(band[:, 0]), band[:, 3:].T, rtol=1e-13, atol=0)
    if 'robust' in options:  # the points in ascending abscissa: x, y, fit, residual, weight
        points = np.loadtxt(points.splitlines())
        assert np.array_equal(s.robust_weights[np.argsort(data[:, 0])], points[:, 4])


@pytest.mark.parametrize('t', [2.5, np.float32(2.5), np.array(2.5), [1, 2, 3], np.zeros((2, 0)),
                               np.arange(12).reshape(3, 4), np.linspace(0, 10, 20)[::3]])
def test_evaluations_have_the_shape_of_t_in_float64(t):
    s = splinefit.fit(*problem()[:2], 3, 8)
    for got in (s(t), s(t, 2), s.standard_error(t), *s.confidence_band(t)):
        assert type(got) is float if np.ndim(t) == 0 else (got.dtype, got.shape) == (
            np.float64, np.shape(t))


def test_float64_arrays_are_read_without_a_copy():
    x, y, _ = problem(100000)
    tracemalloc.start()
    splinefit.fit(x, y, 3, 8)
    assert tracemalloc.get_traced_memory()[1] < x.nbytes / 4
    tracemalloc.stop()


def table(name):  # rows of fields between |, without comments
    lines = (TESTS / name).read_text().splitlines()
    return [[f.strip() for f in line.split('|')] for line in lines if line[:1] not in '#']


def numbers(field):
    return np.array([math.nan if v == '-' else float(v) for v in field.split()])


@pytest.mark.parametrize('row', [r for r in table('data/library/refusals.txt') if r[0] == 'fit'],
                         ids=lambda r: r[-1])
def test_the_librarys_refusals_arrive_as_value_error_with_its_message(row):
    knots, kind = numbers(row[4]), {'weights': 'w', 'sigmas': 'sigma'}.get(row[6])
    size = {'knots': knots} if len(knots) > 1 else {'intervals': int(knots[0])}
    with pytest.raises(ValueError, match=re.escape(row[-1])):
        splinefit.fit(numbers(row[1]), numbers(row[2]), int(row[3]), **size,
                      **({kind: numbers(row[5])} if kind else {}))


@pytest.mark.parametrize('row', table('data/python/refusals.txt'), ids=lambda r: r[0])
def test_the_modules_refusals_say_what_is_wrong(row):
    X, Y, fit = np.arange(4.0), np.arange(4.0) ** 2, splinefit.fit
    names = {'np': np, 'X': X, 'Y': Y, 'S': fit(X, Y, 3, knots=[0, 3]), 'fit': fit}
    with pytest.raises({'ValueError': ValueError, 'TypeError': TypeError}[row[1]],
                       match=re.escape(row[2])):
        eval(row[0], names)


@pytest.mark.parametrize('way', ['count', 'free'])
def test_the_spline_of_a_choice_of_knots_is_the_scans_least_criterion(way):
    s = splinefit.fit(*problem(1000)[:2], 3, 30, knots_by=way)
    row = np.argmin(s.scan['criterion'])
    assert (row, s.scan['J'][row], s.scan['RSS'][row]) == (s.scan['chosen'], s.intervals,
                                                           s.statistics['RSS'])


def test_two_threads_fitting_at_once_give_the_answers_of_one():
    problems, barrier = [problem(200000, seed)[:2] for seed in (1, 2)], threading.Barrier(2)
    alone = [splinefit.fit(x, y, 3, 50).coefficients for x, y in problems]
    with ThreadPoolExecutor(2) as pool:  # the barrier starts both fits together
        together = pool.map(lambda p: (barrier.wait(), splinefit.fit(*p, 3, 50))[1], problems)
    assert all(np.array_equal(a, b.coefficients) for a, b in zip(alone, together))

