"""The geometric (orthogonal-distance) circle and ellipse against scipy
references on the same seeded data, and the uncertainty every result
carries: its shape, its agreement with the fitted values, and the errors it
raises."""
import math
import pickle

import numpy as np
import pytest
from scipy.optimize import least_squares

import zfit


def arc(rng, centre, radii, angle, start, span, n, sigma):
    t = start + span * np.arange(n) / (n - 1)
    c, s = math.cos(angle), math.sin(angle)
    x, y = radii[0] * np.cos(t), radii[1] * np.sin(t)
    points = np.column_stack([centre[0] + c * x - s * y, centre[1] + s * x + c * y])
    return points + rng.normal(0.0, sigma, points.shape)


def scipy_circle(points, start):
    """The orthogonal-distance circle by scipy's Levenberg-Marquardt, started
    from `start` (cx, cy, r)."""
    def residuals(q):
        return np.hypot(points[:, 0] - q[0], points[:, 1] - q[1]) - q[2]

    def jacobian(q):
        dx, dy = points[:, 0] - q[0], points[:, 1] - q[1]
        d = np.hypot(dx, dy)
        return np.column_stack([-dx / d, -dy / d, -np.ones_like(d)])

    return least_squares(residuals, start, jac=jacobian, method="lm", xtol=1e-12, ftol=1e-12).x


def scipy_ellipse(points, start):
    """The parametric orthogonal-distance ellipse (Gander, Golub and Strebel):
    least squares over centre, semi-axes, angle and one curve parameter per
    point, started from `start` (cx, cy, a, b, angle)."""
    n = len(points)
    c, s = math.cos(start[4]), math.sin(start[4])
    local = (points - start[:2]) @ np.array([[c, -s], [s, c]])
    phases = np.arctan2(local[:, 1] / start[3], local[:, 0] / start[2])

    def model(q):
        cx, cy, a, b, alpha = q[:5]
        t = q[5:]
        c, s = math.cos(alpha), math.sin(alpha)
        return cx + c * a * np.cos(t) - s * b * np.sin(t), cy + s * a * np.cos(t) + c * b * np.sin(t), c, s, t

    def residuals(q):
        x, y, *_ = model(q)
        return np.concatenate([points[:, 0] - x, points[:, 1] - y])

    def jacobian(q):
        x, y, c, s, t = model(q)
        a, b, cx, cy = q[2], q[3], q[0], q[1]
        ct, st = np.cos(t), np.sin(t)
        j = np.zeros((2 * n, 5 + n))
        j[:n, 0], j[n:, 1] = -1.0, -1.0
        j[:n, 2], j[n:, 2] = -c * ct, -s * ct
        j[:n, 3], j[n:, 3] = s * st, -c * st
        j[:n, 4], j[n:, 4] = y - cy, -(x - cx)
        rows = np.arange(n)
        j[rows, 5 + rows] = c * a * st + s * b * ct
        j[n + rows, 5 + rows] = s * a * st - c * b * ct
        return j

    return least_squares(residuals, np.concatenate([start, phases]), jac=jacobian, method="lm",
                         xtol=1e-12, ftol=1e-12).x[:5]


@pytest.mark.parametrize("degrees", [30, 60, 120, 360])
def test_circle_matches_the_scipy_orthogonal_distance_fit(degrees):
    rng = np.random.default_rng(degrees)
    ours, reference = [], []
    for _ in range(200):
        points = arc(rng, (0, 0), (100, 100), 0.0, rng.uniform(0, 2 * math.pi), math.radians(degrees), 50, 0.5)
        algebraic = zfit.fit_circle(points)
        ours.append(zfit.fit_circle(points, geometric=True).radius - 100)
        reference.append(scipy_circle(points, [*algebraic.centre, algebraic.radius])[2] - 100)
    ours, reference = np.array(ours), np.array(reference)
    rmse, reference_rmse = np.sqrt(np.mean(ours ** 2)), np.sqrt(np.mean(reference ** 2))
    report = "seed %d: median %.3f (scipy %.3f), RMSE %.3f (scipy %.3f)" % (
        degrees, np.median(ours), np.median(reference), rmse, reference_rmse)
    assert abs(np.median(ours)) <= max(1.0, 2 * abs(np.median(reference))), report
    assert rmse <= 1.05 * reference_rmse, report


def test_ellipse_matches_a_parametric_orthogonal_distance_fit():
    rng = np.random.default_rng(90)
    ours, reference = [], []
    for _ in range(100):
        points = arc(rng, (0, 0), (100, 50), 0.0, 0.0, math.pi / 2, 100, 0.1)
        a = zfit.fit_ellipse(points)
        start = np.array([*a.centre, *a.radii, a.angle])
        ours.append(zfit.fit_ellipse(points, geometric=True).radii[0] - 100)
        q = scipy_ellipse(points, start)
        reference.append(max(abs(q[2]), abs(q[3])) - 100)
    ours, reference = np.array(ours), np.array(reference)
    rmse, reference_rmse = np.sqrt(np.mean(ours ** 2)), np.sqrt(np.mean(reference ** 2))
    report = "seed 90: median %.3f (reference %.3f), RMSE %.3f (reference %.3f)" % (
        np.median(ours), np.median(reference), rmse, reference_rmse)
    assert rmse <= 1.1 * reference_rmse, report
    assert abs(np.median(ours) - np.median(reference)) <= 0.5, report


def test_every_result_carries_its_uncertainty(rng):
    points = arc(rng, (3, 4), (20, 12), 0.4, 0.0, 4.0, 40, 0.05)
    line = points[:, 0:1] * [1.0, 0.5] + rng.normal(0, 0.1, (40, 2))
    noisy = points + rng.normal(0, 0.05, points.shape)
    cases = [
        (zfit.fit_circle(points, geometric=True), lambda r: [*r.centre, r.radius]),
        (zfit.fit_circle(points, geometric=True, fixed_radius=15.0), lambda r: [*r.centre]),
        (zfit.fit_ellipse(points, geometric=True), lambda r: [*r.centre, *r.radii, r.angle]),
        (zfit.fit_line(line), lambda r: [r.angle, r.distance]),
        (zfit.fit_point_to_point(noisy * 2 + 1, points, dof=4), lambda r: [*r.translation, *r.matrix[:, 0]]),
        (zfit.fit_point_to_point(noisy * 2 + 1, points, dof=6), lambda r: [*r.translation, *r.matrix.ravel()]),
    ]
    for result, values in cases:
        name = type(result).__name__
        p = len(values(result))
        assert result.covariance.shape == (p, p), name
        np.testing.assert_allclose(result.covariance, result.covariance.T, err_msg=name)
        np.testing.assert_allclose(result.std_errors, np.sqrt(np.diag(result.covariance)), rtol=1e-12, err_msg=name)
        np.testing.assert_allclose(result.intervals.mean(axis=1), values(result), rtol=1e-12, atol=1e-12,
                                   err_msg=name)
        assert np.all(result.intervals[:, 1] - result.intervals[:, 0] > 2 * result.std_errors), name
        copy = pickle.loads(pickle.dumps(result))
        np.testing.assert_array_equal(copy.covariance, result.covariance, err_msg=name)
        assert list(result.to_dict())[-3:] == ["covariance", "std_errors", "intervals"], name


def test_fits_without_an_uncertainty_say_so(rng):
    points = arc(rng, (0, 0), (10, 10), 0.0, 0.0, 3.0, 20, 0.05)
    for result in (zfit.fit_circle(points), zfit.fit_ellipse(points), zfit.fit_line(points[:8], min_zone=True),
                   zfit.fit_line(points[:2]), zfit.fit_point_to_point(points, points, dof=5)):
        assert result.covariance is None and result.std_errors is None and result.intervals is None, repr(result)


def test_a_robust_search_hands_its_kept_points_to_the_geometric_fit(rng):
    points = arc(rng, (1, 2), (30, 30), 0.0, 0.0, 2.5, 30, 0.05)
    points[[4, 17]] += [[6.0, -5.0], [-8.0, 4.0]]
    robust = zfit.fit_circle(points, geometric=True, ignore=2)
    assert sorted(robust.ignored.tolist()) == [4, 17]
    kept = zfit.fit_circle(np.delete(points, [4, 17], axis=0), geometric=True)
    assert robust.radius == kept.radius and robust.rms_error == kept.rms_error


def test_weights_reach_the_geometric_fits(rng):
    points = arc(rng, (1, 2), (30, 18), 0.3, 0.0, 3.0, 30, 0.05)
    weights = np.ones(30)
    weights[5] = 0.0
    moved = points.copy()
    moved[5] += 40.0
    for fit in (zfit.fit_circle, zfit.fit_ellipse):
        with_zero = fit(moved, geometric=True, weights=weights)
        without = fit(np.delete(points, 5, axis=0), geometric=True)
        np.testing.assert_allclose(with_zero.std_errors, without.std_errors, rtol=1e-9, err_msg=fit.__name__)


@pytest.mark.parametrize("call,error,name", [
    (lambda: zfit.fit_circle([(0, 0), (1, 1), (2, 0)], geometric=True), zfit.DegenerateError, "zmet_errTooFewPoints"),
    (lambda: zfit.fit_ellipse(arc(np.random.default_rng(1), (0, 0), (9, 4), 0, 0, 3, 20, 0.1), geometric=True,
                              max_iterations=1), zfit.FitError, "zmet_errNotConverged"),
    (lambda: zfit.fit_circle([(0, 0), (1, 1), (2, 0), (1, -1)], geometric=True, max_iterations=0),
     zfit.ParameterError, "zmath_errFitMaxIterations"),
    (lambda: zfit.fit_circle([(0, 0), (1, 1), (2, 0), (1, -1)], geometric=True, weights=[1, 1, 1, 1], ignore=1),
     zfit.ParameterError, "zmath_errFitWeightedIgnore"),
    (lambda: zfit.student_t_quantile(1.5, 3), zfit.ParameterError, "zmet_errOutOfRange"),
])
def test_failures_raise_the_status_of_the_library(call, error, name):
    with pytest.raises(error) as raised:
        call()
    assert raised.value.name == name


def test_student_t_quantile_is_the_library_s():
    assert zfit.student_t_quantile(0.975, 10) == pytest.approx(2.2281388519862742, rel=1e-12)
    assert zfit.student_t_quantile(0.025, 1) == pytest.approx(-12.706204736174707, rel=1e-12)
