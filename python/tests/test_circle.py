"""fit_circle: the same results as the C entries on the same data, for the
free-radius and fixed-radius searches and the weighted fit."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c


def on_circle(centre, radius, n, start=0.0, span=2 * math.pi):
    a = start + span * np.arange(n) / n
    return np.column_stack([centre[0] + radius * np.cos(a), centre[1] + radius * np.sin(a)])


def with_outliers(rng, n=12, k=2):
    centre = rng.uniform(-20, 20, 2)
    points = on_circle(centre, 3.0, n, rng.uniform(0, 1), rng.uniform(4, 7)) + rng.normal(0, 0.01, (n, 2))
    at = rng.choice(n, k, replace=False)
    points[at] = centre + rng.uniform(7, 20, (k, 1)) * np.column_stack([np.ones(k), np.zeros(k)])
    return points, sorted(at.tolist())


# (what, points, options): the C-level circle tests' data and degenerate sets.
DATA = [
    ("nine on a circle", on_circle((4, -3), 2.0, 9), {}),
    ("fixed radius 1 of radius 2", on_circle((4, -3), 2.0, 9), {"fixed_radius": 1.0}),
    ("fixed radius 0", on_circle((4, -3), 2.0, 9), {"fixed_radius": 0.0}),
    ("one of eight discarded", on_circle((0, 0), 1.0, 8), {"ignore": 1}),
    ("duplicated points", np.insert(on_circle((2, 2), 1.5, 6), 1, on_circle((2, 2), 1.5, 6)[0], axis=0), {"ignore": 2}),
    ("no points", np.empty((0, 2)), {}),
    ("two points", [(0, 0), (1, 1)], {}),
    ("two left of five", on_circle((0, 0), 1, 5), {"ignore": 3}),
    ("all discarded", on_circle((0, 0), 1, 5), {"ignore": 5}),
    ("collinear", [(0, 0), (1, 2), (2, 4), (3, 6), (-1, -2)], {}),
    ("coincident", [(1, 1)] * 4, {"ignore": 1}),
    ("NaN coordinate", [(0, 0), (1, 0), (0, 1), (math.nan, 1)], {"ignore": 1}),
    ("negative ignore", on_circle((0, 0), 1, 5), {"ignore": -1}),
    ("negative fixed radius", on_circle((0, 0), 1, 5), {"fixed_radius": -1.0}),
    ("weighted", on_circle((1, 2), 3, 7), {"weights": [1, 2, 3, 1, 2, 3, 0.5]}),
    ("weighted with ignore", on_circle((1, 2), 3, 7), {"weights": [1] * 7, "ignore": 1}),
    ("negative weight", on_circle((1, 2), 3, 7), {"weights": [1, 1, -1, 1, 1, 1, 1]}),
    ("all weights 0", on_circle((1, 2), 3, 7), {"weights": [0] * 7}),
]


@pytest.mark.parametrize("what,points,options", DATA, ids=[d[0] for d in DATA])
def test_fit_equals_c(clib, what, points, options):
    check_against_c(lambda: zfit.fit_circle(points, **options), lambda: clib.circle(points, **options), what)
    check_against_c(lambda: zfit.fit_circle(points, max_rms=1e-3, **options),
                    lambda: clib.circle(points, max_rms=1e-3, **options), what)


def test_searches_with_outliers_equal_c(clib, rng):
    for trial in range(20):
        k = 1 + trial % 3
        points, outliers = with_outliers(rng, 10 + trial % 4, k)
        for options in ({"ignore": k}, {"ignore": k, "fixed_radius": 3.0}):
            r = check_against_c(lambda: zfit.fit_circle(points, **options), lambda: clib.circle(points, **options),
                                "trial %d %s" % (trial, options))
            assert sorted(r.ignored.tolist()) == outliers, "trial %d" % trial
            assert r.radius == pytest.approx(3.0, abs=0.05)


def test_unit_weights_equal_the_unweighted_fit(rng):
    points = on_circle((3, -1), 2.0, 15, 0.3) + rng.normal(0, 0.05, (15, 2))
    weighted = zfit.fit_circle(points, weights=np.ones(15))
    plain = zfit.fit_circle(points)
    np.testing.assert_allclose(weighted.centre, plain.centre, rtol=0, atol=1e-12)
    assert weighted.radius == pytest.approx(plain.radius, abs=1e-12)
    assert weighted.rms_error == pytest.approx(plain.rms_error, abs=1e-12)
    assert weighted.ignored.tolist() == plain.ignored.tolist() == []


@pytest.mark.parametrize(
    "weights,message",
    [(np.ones(4), "weights: expected 5 values, one per point, got 4"), (np.ones((5, 1)), "weights: expected shape")],
)
def test_weights_of_the_wrong_shape_name_the_argument(weights, message):
    with pytest.raises(ValueError, match="^" + message):
        zfit.fit_circle(on_circle((0, 0), 1, 5), weights=weights)


def test_weights_and_a_fixed_radius_do_not_combine():
    with pytest.raises(ValueError, match="fixed_radius"):
        zfit.fit_circle(on_circle((0, 0), 1, 5), weights=np.ones(5), fixed_radius=1.0)


