"""The geometric (orthogonal-distance) circle and ellipse through the
binding, and the uncertainty every result carries: its shape, its agreement
with the fitted values, and the errors it raises."""
import numpy as np
import pytest

import zfit
from test_fits import conic


def arc(rng, centre, radii, angle, start, span, n, sigma):
    return conic(centre, radii, n, angle, start, span) + rng.normal(0.0, sigma, (n, 2))


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
        assert result.std_errors.shape == (p,), name
        np.testing.assert_allclose(result.intervals.mean(axis=1), values(result), rtol=1e-12, atol=1e-12,
                                   err_msg=name)


def test_fits_without_an_uncertainty_say_so(rng):
    points = arc(rng, (0, 0), (10, 10), 0.0, 0.0, 3.0, 20, 0.05)
    for result in (zfit.fit_circle(points), zfit.fit_ellipse(points), zfit.fit_line(points[:8], min_zone=True),
                   zfit.fit_line(points[:2]), zfit.fit_point_to_point(points, points, dof=5)):
        assert result.covariance is None, repr(result)
        assert result.std_errors is None, repr(result)
        assert result.intervals is None, repr(result)


@pytest.mark.parametrize("call,error,name", [
    (lambda: zfit.fit_circle([(0, 0), (1, 1), (2, 0)], geometric=True), zfit.DegenerateError, "zmet_errTooFewPoints"),
    (lambda: zfit.fit_ellipse(arc(np.random.default_rng(1), (0, 0), (10, 6), 0.2, 0.0, 3.0, 20, 0.05), geometric=True,
                              max_iterations=1), zfit.FitError, "zmet_errNotConverged"),
    (lambda: zfit.student_t_quantile(1.5, 3), zfit.ParameterError, "zmet_errOutOfRange"),
])
def test_failures_raise_the_status_of_the_library(call, error, name):
    with pytest.raises(error) as raised:
        call()
    assert raised.value.name == name


def test_student_t_quantile_is_the_library_s():
    assert zfit.student_t_quantile(0.975, 10) == pytest.approx(2.2281388519862742, rel=1e-12)
