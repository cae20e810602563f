"""fit_point_to_line: the same results as the C entries on the same data."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c


def cross_lines(points):
    """Each point paired once with the horizontal and once with the vertical
    line through it: (angle, distance) rows and the repeated points."""
    lines = []
    for x, y in points:
        lines += [(0.0, y), (math.pi / 2, -x)]
    return np.repeat(np.asarray(points, dtype=float), 2, axis=0), np.array(lines)


def random_problem(rng, n):
    """Points, and lines through their images under a random affine map."""
    m = np.eye(2) + rng.normal(0, 0.2, (2, 2))
    t = rng.uniform(-5, 5, 2)
    points = rng.uniform(-10, 10, (n, 2))
    images = points @ m.T + t
    angles = rng.uniform(0, 2 * math.pi, n)
    distances = -images[:, 0] * np.sin(angles) + images[:, 1] * np.cos(angles) + rng.normal(0, 0.01, n)
    return points, np.column_stack([angles, distances]), m, t


def test_identity_and_translation():
    points, lines = cross_lines([(0, 0), (4, 1), (1, 3)])
    r = zfit.fit_point_to_line(points, lines)
    np.testing.assert_allclose(r.matrix, np.eye(2), atol=1e-12)
    np.testing.assert_allclose(r.translation, [0, 0], atol=1e-12)
    assert r.rms_error < 1e-12 and r.is_valid
    moved = lines.copy()
    moved[0::2, 1] += 2.0  # horizontal lines y = d: up by 2
    moved[1::2, 1] += 1.5  # vertical lines x = -d: left by 1.5
    r = zfit.fit_point_to_line(points, moved)
    np.testing.assert_allclose(r.matrix, np.eye(2), atol=1e-12)
    np.testing.assert_allclose(r.translation, [-1.5, 2.0], atol=1e-12)
    np.testing.assert_allclose(r.apply(points), points + [-1.5, 2.0], atol=1e-12)


def test_fits_equal_c(clib, rng):
    for trial in range(20):
        points, lines, _, _ = random_problem(rng, 6 + trial)
        weights = rng.uniform(0.1, 3, len(points))
        context = "trial %d" % trial
        check_against_c(lambda: zfit.fit_point_to_line(points, lines), lambda: clib.point_to_line(points, lines), context)
        check_against_c(lambda: zfit.fit_point_to_line(points, lines, weights=weights, max_rms=0.01),
                        lambda: clib.point_to_line(points, lines, weights=weights, max_rms=0.01), context)


@pytest.mark.parametrize(
    "what,points,lines,options",
    [
        ("three pairs", [(0, 0), (1, 0), (0, 1)], [(0, 0), (0, 1), (1, 0)], {}),
        ("no pairs", np.empty((0, 2)), np.empty((0, 2)), {}),
        ("all weights 0", *cross_lines([(0, 0), (4, 1), (1, 3)]), {"weights": np.zeros(6)}),
        ("negative limit", *cross_lines([(0, 0), (4, 1), (1, 3)]), {"max_rms": -1.0}),
    ],
)
def test_failures_equal_c(clib, what, points, lines, options):
    check_against_c(lambda: zfit.fit_point_to_line(points, lines, **options),
                    lambda: clib.point_to_line(points, lines, **options), what)


def test_unit_weights_equal_the_unweighted_fit(rng):
    points, lines, _, _ = random_problem(rng, 15)
    plain = zfit.fit_point_to_line(points, lines)
    weighted = zfit.fit_point_to_line(points, lines, weights=np.ones(15))
    np.testing.assert_allclose(weighted.matrix, plain.matrix, rtol=0, atol=1e-12)
    np.testing.assert_allclose(weighted.translation, plain.translation, rtol=0, atol=1e-12)
    assert weighted.rms_error == pytest.approx(plain.rms_error, rel=1e-12)


def test_lines_of_another_length_name_the_argument():
    points, lines = cross_lines([(0, 0), (4, 1), (1, 3)])
    with pytest.raises(ValueError, match="^lines: expected 6 lines, one per point, got 5"):
        zfit.fit_point_to_line(points, lines[:5])
    with pytest.raises(ValueError, match="^weights: "):
        zfit.fit_point_to_line(points, lines, weights=np.ones(7))
