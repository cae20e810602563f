"""fit_line: the same results as the C entry on the same data, and the
documented conventions of the line."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c

# (what, points): data the C-level line tests use, plus degenerate sets.
DATA = [
    ("y = x + 1", [(0, 1), (1, 2), (2, 3)]),
    ("y = -2: turned to keep d >= 0", [(-1, -2), (0, -2), (3, -2)]),
    ("through the origin", [(-1, -1), (0, 0), (2, 2)]),
    ("vertical x = 3", [(3, 0), (3, 1), (3, 5)]),
    ("noisy", [(0, 0.1), (1, 0.9), (2, 2.2), (3, 2.8), (4, 4.1), (5, 5.3)]),
    ("one point", [(1, 1)]),
    ("equal points", [(2, 3)] * 4),
    ("square corners", [(0, 0), (1, 0), (1, 1), (0, 1)]),
    ("no points", np.empty((0, 2))),
    ("a NaN", [(0, 0), (1, math.nan), (2, 2)]),
]


@pytest.mark.parametrize("what,points", DATA, ids=[d[0] for d in DATA])
def test_least_squares_equals_c(clib, what, points):
    check_against_c(lambda: zfit.fit_line(points), lambda: clib.line(points), what)
    check_against_c(lambda: zfit.fit_line(points, max_rms=0.05), lambda: clib.line(points, max_rms=0.05), what)


def test_random_lines_equal_c(clib, rng):
    for trial in range(50):
        n = int(rng.integers(2, 40))
        angle = rng.uniform(0, 2 * math.pi)
        t = rng.uniform(-100, 100, n)
        noise = rng.normal(0, 0.5, n)
        base = rng.uniform(-50, 50, 2)
        points = base + np.outer(t, [math.cos(angle), math.sin(angle)]) + np.outer(noise, [-math.sin(angle), math.cos(angle)])
        check_against_c(lambda: zfit.fit_line(points), lambda: clib.line(points), "trial %d" % trial)


def test_documented_line():
    r = zfit.fit_line([(0, 1), (1, 2), (2, 3)])
    assert r.angle == pytest.approx(math.pi / 4, abs=1e-12)
    assert r.distance == pytest.approx(math.sqrt(0.5), abs=1e-12)
    np.testing.assert_allclose(r.direction, [math.sqrt(0.5)] * 2, atol=1e-12)
    np.testing.assert_allclose(r.normal, [-math.sqrt(0.5), math.sqrt(0.5)], atol=1e-12)
    assert r.is_valid and r.rms_error < 1e-12
    assert r.ignored.tolist() == []

    turned = zfit.fit_line([(-1, -2), (0, -2), (3, -2)])
    assert turned.angle == pytest.approx(math.pi) and turned.distance == pytest.approx(2.0)


def line_with_outliers(rng, n, k):
    angle = rng.uniform(0, 2 * math.pi)
    direction = np.array([math.cos(angle), math.sin(angle)])
    normal = np.array([-direction[1], direction[0]])
    points = rng.uniform(-20, 20, 2) + np.outer(rng.uniform(-10, 10, n), direction)
    points += np.outer(rng.normal(0, 0.01, n), normal)
    at = rng.choice(n, k, replace=False)
    points[at] += np.outer(rng.uniform(2, 5, k) * rng.choice([-1, 1], k), normal)
    return points, sorted(at.tolist())


@pytest.mark.parametrize("ignore,min_zone", [(1, False), (2, False), (3, False), (4, False), (6, False),
                                             (0, True), (1, True), (3, True), (5, True)])
def test_outlier_searches_equal_c(clib, rng, ignore, min_zone):
    for trial in range(10):
        points, outliers = line_with_outliers(rng, 12 + trial, ignore)
        r = check_against_c(lambda: zfit.fit_line(points, ignore=ignore, min_zone=min_zone),
                            lambda: clib.line(points, ignore=ignore, min_zone=min_zone),
                            "trial %d ignore %d min_zone %s" % (trial, ignore, min_zone))
        assert sorted(r.ignored.tolist()) == outliers, "trial %d" % trial


def test_searches_on_too_few_points_raise_as_in_c(clib):
    for ignore, min_zone in [(1, False), (4, False), (2, True)]:
        points = [(0, 0), (1, 1), (2, 2.5)]
        check_against_c(lambda: zfit.fit_line(points, ignore=ignore, min_zone=min_zone),
                        lambda: clib.line(points, ignore=ignore, min_zone=min_zone), "ignore %d" % ignore)


def test_search_timeout_raises_cancelled(rng):
    points, _ = line_with_outliers(rng, 3000, 10)
    with pytest.raises(zfit.Cancelled):
        zfit.fit_line(points, ignore=10, timeout=0)
