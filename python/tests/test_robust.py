"""Robust fits: outliers found by tolerance, ignore="auto", the same bits on
any number of threads, and the keywords' refusals."""
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


def edge_in_clutter(seed=2):
    rng = np.random.default_rng(seed)
    x = np.linspace(0, 100, 300)
    edge = np.c_[x, 0.5 * x + rng.normal(0, 0.3, x.size)]
    return np.r_[edge, rng.uniform(0, 100, (120, 2))]


def test_robust_fits_list_their_outliers_with_weights_and_residuals():
    points, spurs = circle_with_spurs()
    for fit in (zfit.fit_circle(points, robust="tukey"), zfit.fit_circle(points, robust="clip", geometric=True),
                zfit.fit_ellipse(points, robust="tukey", geometric=True)):
        assert set(spurs) <= set(fit.ignored.tolist()), "the pushed points are outliers"
        assert fit.weights.shape == (len(points),), "a weight per point"
        assert np.all(fit.weights[spurs] == 0), "an outlier of tukey or clip weighs 0"
        outside = np.flatnonzero(~(np.abs(fit.residuals) < fit.scale * (4.685 if fit.weights.max() < 1 else 3)))
        assert fit.ignored.tolist() == outside.tolist(), "the outliers are the points beyond c * scale"
        assert fit.std_errors is not None, "the final weighted problem's standard errors"
        copy = pickle.loads(pickle.dumps(fit))
        assert copy.weights.tolist() == fit.weights.tolist(), "pickled with its weights"
    plain = zfit.fit_circle(points)
    assert plain.weights is None, "a least-squares fit has no weights"
    assert "scale" not in plain.to_dict(), "nor a scale"


def test_robust_line_and_transform_recover_through_clutter():
    line = zfit.fit_line(edge_in_clutter(), robust="tukey")
    assert line.angle == pytest.approx(np.arctan(0.5) + np.pi, abs=3e-3) or line.angle == pytest.approx(
        np.arctan(0.5), abs=3e-3)
    assert line.scale == pytest.approx(0.3, rel=0.15), "the edge's noise"
    rng = np.random.default_rng(3)
    source = rng.uniform(-10, 10, (60, 2))
    target = source @ np.array([[0.9, -0.2], [0.2, 0.9]]).T + [1, 2]
    target[::5] += rng.uniform(3, 6, (12, 2))
    fit = zfit.fit_point_to_point(target, source, dof=4, robust="tukey")
    assert fit.ignored.tolist() == list(range(0, 60, 5)), "the wrong pairs"
    np.testing.assert_allclose(fit.matrix, [[0.9, -0.2], [0.2, 0.9]], atol=1e-9)


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


@pytest.mark.parametrize("family, sets, options", [
    ("line", [edge_in_clutter(s) for s in range(6)], {"robust": "tukey"}),
    ("circle", [circle_with_spurs(s)[0] for s in range(6)], {"robust": "huber", "geometric": True}),
    ("ellipse", [circle_with_spurs(s)[0] for s in range(6)], {"robust": "clip", "scale": 0.05}),
])
def test_fit_many_is_bit_identical_on_any_number_of_threads(family, sets, options):
    runs = [zfit.fit_many(family, sets, threads=threads, **options) for threads in (1, 2, 8)]
    for fits in runs[1:]:
        for one, other in zip(runs[0], fits):
            assert pickle.dumps(one) == pickle.dumps(other), "the same bits on every thread count"


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
    with pytest.raises(TypeError, match="ignore"):
        zfit.fit_circle(points, ignore="most")
    with pytest.raises(ValueError, match="ignore"):
        zfit.fit_line(points, robust="tukey", ignore=2)
