"""Robust fits: the outliers, weights and residuals of the result, ignore="auto",
and the keywords' refusals (fit_many's robust items: test_many)."""
import pickle

import numpy as np
import pytest

import zfit


def circle_with_spurs(seed=1, n=40):
    """A noisy circle with three points pushed off it (the known outliers)."""
    rng = np.random.default_rng(seed)
    t = np.linspace(0, 2 * np.pi, n, endpoint=False)
    points = np.c_[10 + 5 * np.cos(t), -3 + 5 * np.sin(t)] + rng.normal(0, 0.01, (n, 2))
    spurs = [3, 11, n - 5]
    points[spurs] += [[2, 1], [-1.5, 2], [0, -3]]
    return points, spurs


def test_robust_fits_list_their_outliers_with_weights_and_residuals():
    points, spurs = circle_with_spurs()
    for fit in (zfit.fit_circle(points, robust="tukey"), zfit.fit_circle(points, robust="clip", geometric=True),
                zfit.fit_ellipse(points, robust="tukey", geometric=True)):
        assert set(spurs) <= set(fit.ignored.tolist()), "the pushed points are outliers"
        assert fit.weights.shape == (len(points),), "a weight per point"
        assert np.all(fit.weights[spurs] == 0), "an outlier of tukey or clip weighs 0"
        assert fit.residuals.shape == (len(points),), "a residual per point"
        assert fit.std_errors is not None, "the final weighted problem's standard errors"
        copy = pickle.loads(pickle.dumps(fit))
        assert copy.weights.tolist() == fit.weights.tolist(), "pickled with its weights"
    plain = zfit.fit_circle(points)
    assert plain.weights is None, "a least-squares fit has no weights"
    assert "scale" not in plain.to_dict(), "nor a scale"


def test_the_line_and_the_transform_find_their_outliers():
    rng = np.random.default_rng(3)
    x = np.arange(20.0)
    edge = np.c_[x, 0.5 * x + rng.normal(0, 0.01, 20)]
    edge[7, 1] += 5
    assert 7 in zfit.fit_line(edge, robust="tukey").ignored.tolist(), "the spur"
    source = rng.uniform(-10, 10, (60, 2))
    target = source @ np.array([[0.9, -0.2], [0.2, 0.9]]).T + [1, 2]
    target[::5] += rng.uniform(3, 6, (12, 2))
    fit = zfit.fit_point_to_point(target, source, dof=4, robust="tukey")
    assert fit.ignored.tolist() == list(range(0, 60, 5)), "the wrong pairs"


def test_ignore_auto_hands_the_outlier_count_to_the_exact_search():
    points, spurs = circle_with_spurs(n=24, seed=4)
    fit = zfit.fit_circle(points, ignore="auto")
    robust = zfit.fit_circle(points, robust="tukey")
    assert len(fit.ignored) == len(robust.ignored), "the count is the robust fit's"
    assert set(spurs) <= set(fit.ignored.tolist()), "the exact search drops the pushed points"
    exact = zfit.fit_circle(points, ignore=len(robust.ignored))
    assert fit.radius == exact.radius, "the same fit as the exact search given the count"
    assert fit.ignored.tolist() == exact.ignored.tolist(), "with the same discarded points"
    assert fit.weights is None, "the result is the exact search's"


def test_ignore_auto_counts_a_lines_outliers_too():
    x = np.arange(20.0)
    edge = np.c_[x, 0.5 * x + np.tile([0.01, -0.01], 10)]
    edge[[4, 13], 1] += 6
    fit = zfit.fit_line(edge, ignore="auto")
    assert fit.ignored.tolist() == [4, 13], "the exact search discards the robust fit's outliers"
    assert fit.weights is None, "the result is the exact search's"


def test_refusals_name_their_keyword():
    points, _ = circle_with_spurs()
    for options, name in [({"robust": "median"}, "zmet_errRobustEstimator"), ({"robust": "tukey", "clip": 0},
                                                                              "zmet_errRobustClip"),
                          ({"robust": "huber", "scale": -1.0}, "zmet_errRobustScale")]:
        with pytest.raises(zfit.ParameterError) as caught:
            zfit.fit_circle(points, **options)
        assert caught.value.name == name, options
    with pytest.raises(zfit.DegenerateError) as caught:
        zfit.fit_line(points, robust="tukey", scale=1e-9)
    assert caught.value.name == "zmet_errNoInliers", "a scale far below the noise leaves no inliers"
    with pytest.raises(ValueError, match="ignore"):
        zfit.fit_line(points, robust="tukey", ignore=2)
