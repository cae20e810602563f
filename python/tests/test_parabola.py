"""fit_parabola: the same results as the C entries on the same data."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c


def parabola_points(rng, n, coefficient, vertex, angle, noise=0.0):
    x = rng.uniform(-4, 4, n)
    local = np.column_stack([x, coefficient * x**2 + rng.normal(0, noise, n) if noise else coefficient * x**2])
    c, s = math.cos(angle), math.sin(angle)
    return local @ np.array([[c, s], [-s, c]]) + vertex


def test_documented_parabola():
    x = np.arange(-3.0, 4.0)
    r = zfit.fit_parabola(np.column_stack([x, 2 * x**2 + 1]))
    assert r.coefficient == pytest.approx(2.0, abs=1e-9)
    np.testing.assert_allclose(r.vertex, [0, 1], atol=1e-9)
    np.testing.assert_allclose(r.pose[:2, 2], r.vertex)
    np.testing.assert_array_equal(r.pose[2], [0, 0, 1])
    assert r.is_valid and r.rms_error < 1e-9


def test_fits_equal_c(clib, rng):
    for trial in range(16):
        points = parabola_points(rng, 10 + trial, rng.uniform(0.2, 2), rng.uniform(-20, 20, 2),
                                 rng.uniform(0, 2 * math.pi), 0.02)
        weights = rng.uniform(0.1, 2, len(points))
        for options in ({}, {"max_iterations": 30}, {"weights": weights}, {"weights": weights, "max_iterations": 30}):
            check_against_c(lambda: zfit.fit_parabola(points, **options), lambda: clib.parabola(points, **options),
                            "trial %d %s" % (trial, sorted(options)))


@pytest.mark.parametrize(
    "what,points,options",
    [
        ("one point", [(1, 2)], {}),
        ("no points", np.empty((0, 2)), {}),
        ("collinear", [(i, 3 * i - 1) for i in range(6)], {}),
        ("max_iterations 0", [(-1, 1), (0, 0), (1, 1), (2, 4)], {"max_iterations": 0}),
        ("negative weight", [(-1, 1), (0, 0), (1, 1), (2, 4)], {"weights": [1, 1, -1, 1]}),
        ("all weights 0", [(-1, 1), (0, 0), (1, 1), (2, 4)], {"weights": [0, 0, 0, 0]}),
        ("NaN", [(-1, 1), (0, math.nan), (1, 1), (2, 4)], {}),
    ],
)
def test_failures_equal_c(clib, what, points, options):
    check_against_c(lambda: zfit.fit_parabola(points, **options), lambda: clib.parabola(points, **options), what)


def test_unit_weights_equal_the_unweighted_fit(rng):
    points = parabola_points(rng, 20, 0.7, (3, -2), 0.6, 0.05)
    plain = zfit.fit_parabola(points, max_iterations=20)
    weighted = zfit.fit_parabola(points, weights=np.ones(20), max_iterations=20)
    np.testing.assert_allclose(weighted.pose, plain.pose, rtol=0, atol=1e-9)
    assert weighted.coefficient == pytest.approx(plain.coefficient, rel=1e-9)
    assert weighted.rms_error == pytest.approx(plain.rms_error, rel=1e-9)


def test_weights_of_another_length_name_the_argument():
    with pytest.raises(ValueError, match="^weights: expected 4 values, one per point, got 3"):
        zfit.fit_parabola([(-1, 1), (0, 0), (1, 1), (2, 4)], weights=[1, 1, 1])
