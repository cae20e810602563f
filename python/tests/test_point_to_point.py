"""fit_point_to_point: the same results as the C entries on the same data,
for every number of degrees of freedom."""
import math

import numpy as np
import pytest

import zfit

from conftest import check_against_c


def random_transform(rng, dof):
    a = rng.uniform(0, 2 * math.pi)
    rotation = np.array([[math.cos(a), -math.sin(a)], [math.sin(a), math.cos(a)]])
    if dof == 3:
        m = rotation
    elif dof == 4:
        m = rng.uniform(0.5, 2) * rotation
    elif dof == 5:
        m = rotation @ np.diag(rng.uniform(0.5, 2, 2))
    else:
        m = rng.normal(0, 1, (2, 2)) + np.eye(2)
    return m, rng.uniform(-10, 10, 2)


@pytest.mark.parametrize("dof", [3, 4, 5, 6])
def test_fits_equal_c_and_recover_the_transform(clib, rng, dof):
    for trial in range(10):
        m, t = random_transform(rng, dof)
        source = rng.uniform(-5, 5, (8 + trial, 2))
        target = source @ m.T + t
        noisy = target + rng.normal(0, 0.01, target.shape)
        weights = rng.uniform(0.1, 2, len(source))
        context = "dof %d trial %d" % (dof, trial)
        r = check_against_c(lambda: zfit.fit_point_to_point(target, source, dof=dof),
                            lambda: clib.point_to_point(target, source, dof=dof), context)
        np.testing.assert_allclose(r.matrix, m, atol=1e-9, err_msg=context)
        np.testing.assert_allclose(r.translation, t, atol=1e-9, err_msg=context)
        np.testing.assert_allclose(r.apply(source), target, atol=1e-9, err_msg=context)
        check_against_c(lambda: zfit.fit_point_to_point(noisy, source, dof=dof, weights=weights, max_rms=0.01),
                        lambda: clib.point_to_point(noisy, source, dof=dof, weights=weights, max_rms=0.01), context)


def test_default_is_six_degrees_of_freedom(rng):
    m, t = random_transform(rng, 6)
    source = rng.uniform(-5, 5, (6, 2))
    r = zfit.fit_point_to_point(source @ m.T + t, source)
    np.testing.assert_allclose(r.matrix, m, atol=1e-9)


@pytest.mark.parametrize(
    "what,target,source,options",
    [
        ("two pairs, 4 dof", [(1, 1), (3, 2)], [(0, 0), (1, 0)], {"dof": 4}),
        ("two pairs, 3 dof", [(1, 1), (3, 2)], [(0, 0), (1, 0)], {"dof": 3}),
        ("two pairs, 5 dof", [(1, 1), (3, 2)], [(0, 0), (1, 0)], {"dof": 5}),
        ("two pairs, 6 dof", [(1, 1), (3, 2)], [(0, 0), (1, 0)], {"dof": 6}),
        ("sources on a line", [(0, 0), (1, 2), (2, 1)], [(0, 0), (1, 1), (2, 2)], {}),
        ("dof 2", [(0, 0), (1, 0), (0, 1)], [(0, 0), (1, 0), (0, 1)], {"dof": 2}),
        ("dof 7", [(0, 0), (1, 0), (0, 1)], [(0, 0), (1, 0), (0, 1)], {"dof": 7}),
        ("negative limit", [(0, 0), (1, 0), (0, 1)], [(0, 0), (1, 0), (0, 1)], {"max_rms": -1.0, "dof": 7}),
        ("all weights 0", [(0, 0), (1, 0), (0, 1)], [(0, 0), (1, 0), (0, 1)], {"weights": [0, 0, 0]}),
        ("negative weight", [(0, 0), (1, 0), (0, 1)], [(0, 0), (1, 0), (0, 1)], {"weights": [1, -1, 1]}),
        ("no pairs", np.empty((0, 2)), np.empty((0, 2)), {}),
    ],
)
def test_edge_cases_equal_c(clib, what, target, source, options):
    check_against_c(lambda: zfit.fit_point_to_point(target, source, **options),
                    lambda: clib.point_to_point(target, source, **options), what)


def test_unit_weights_equal_the_unweighted_fit(rng):
    for dof in (3, 4, 5, 6):
        m, t = random_transform(rng, dof)
        source = rng.uniform(-5, 5, (12, 2))
        target = source @ m.T + t + rng.normal(0, 0.05, (12, 2))
        plain = zfit.fit_point_to_point(target, source, dof=dof)
        weighted = zfit.fit_point_to_point(target, source, dof=dof, weights=np.ones(12))
        np.testing.assert_allclose(weighted.matrix, plain.matrix, rtol=0, atol=1e-12, err_msg="dof %d" % dof)
        np.testing.assert_allclose(weighted.translation, plain.translation, rtol=0, atol=1e-12)
        assert weighted.rms_error == pytest.approx(plain.rms_error, rel=1e-12)


def test_inputs_of_other_lengths_name_the_argument():
    square = [(0, 0), (1, 0), (1, 1), (0, 1)]
    with pytest.raises(ValueError, match="^source: expected 4 points, one per target point, got 3"):
        zfit.fit_point_to_point(square, square[:3])
    with pytest.raises(ValueError, match="^weights: expected 4 values, one per pair, got 5"):
        zfit.fit_point_to_point(square, square, weights=np.ones(5))
    with pytest.raises(ValueError, match="^target: "):
        zfit.fit_point_to_point(np.zeros((4, 3)), square)
