"""fit_ellipse: the same results as the C entry on the same data."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c


def on_ellipse(centre, radii, angle, n, start=0.3):
    t = start + 2 * math.pi * np.arange(n) / n
    c, s = math.cos(angle), math.sin(angle)
    x, y = radii[0] * np.cos(t), radii[1] * np.sin(t)
    return np.column_stack([centre[0] + c * x - s * y, centre[1] + s * x + c * y])


DATA = [
    ("five on an ellipse", on_ellipse((1, -1), (3, 2), 0.0, 5), {}),
    ("rotated, far out", on_ellipse((250, -400), (7, 2), 1.1, 12), {}),
    ("four points", on_ellipse((0, 0), (3, 2), 0.0, 4), {}),
    ("five points, one to ignore", on_ellipse((0, 0), (3, 2), 0.0, 5), {"ignore": 1}),
    ("six points, one to ignore", on_ellipse((0, 0), (3, 2), 0.5, 6), {"ignore": 1}),
    ("collinear", [(i, 2 * i) for i in range(7)], {}),
    ("a circle", on_ellipse((2, 2), (1, 1), 0.0, 8), {}),
    ("NaN", np.vstack([on_ellipse((0, 0), (3, 2), 0.0, 6), [(math.nan, 0)]]), {}),
    ("negative ignore", on_ellipse((0, 0), (3, 2), 0.0, 6), {"ignore": -1}),
    ("negative limit", on_ellipse((0, 0), (3, 2), 0.0, 6), {"max_rms": -1.0}),
]


@pytest.mark.parametrize("what,points,options", DATA, ids=[d[0] for d in DATA])
def test_fit_equals_c(clib, what, points, options):
    check_against_c(lambda: zfit.fit_ellipse(points, **options), lambda: clib.ellipse(points, **options), what)


def test_subset_searches_equal_c(clib, rng):
    for trial in range(12):
        k = 1 + trial % 3
        n = 9 + trial % 3
        points = on_ellipse(rng.uniform(-50, 50, 2), rng.uniform(2, 6, 2), rng.uniform(0, math.pi), n, rng.uniform(0, 1))
        points += rng.normal(0, 0.005, points.shape)
        at = rng.choice(n, k, replace=False)
        points[at] *= rng.uniform(1.5, 2.0, (k, 1))
        r = check_against_c(lambda: zfit.fit_ellipse(points, ignore=k), lambda: clib.ellipse(points, ignore=k),
                            "trial %d" % trial)
        assert r.ignored.tolist() == sorted(at.tolist(), reverse=True), "trial %d" % trial


def test_subset_search_timeout_raises_cancelled(rng):
    points = on_ellipse((0, 0), (3, 2), 0.0, 400) + rng.normal(0, 0.01, (400, 2))
    with pytest.raises(zfit.Cancelled):
        zfit.fit_ellipse(points, ignore=3, timeout=0.05)
