"""The geometric (orthogonal-distance) circle and ellipse through the
binding, and the uncertainty every result carries: its shape, its agreement
with the fitted values, and the errors it raises."""
import pickle

import numpy as np
import pytest

import zfit
from references import arc
from test_many import assert_same


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
        assert "intervals" in result.to_dict(), name


def test_fits_without_an_uncertainty_say_so(rng):
    points = arc(rng, (0, 0), (10, 10), 0.0, 0.0, 3.0, 20, 0.05)
    for result in (zfit.fit_circle(points), zfit.fit_ellipse(points), zfit.fit_line(points[:8], min_zone=True),
                   zfit.fit_line(points[:2]), zfit.fit_point_to_point(points, points, dof=5)):
        assert result.covariance is None, repr(result)
        assert result.std_errors is None, repr(result)
        assert result.intervals is None, repr(result)


def test_a_robust_search_hands_its_kept_points_to_the_geometric_fit(rng):
    points = arc(rng, (1, 2), (30, 30), 0.0, 0.0, 2.5, 30, 0.05)
    points[[4, 17]] += [[6.0, -5.0], [-8.0, 4.0]]
    robust = zfit.fit_circle(points, geometric=True, ignore=2)
    assert sorted(robust.ignored.tolist()) == [4, 17]
    kept = zfit.fit_circle(np.delete(points, [4, 17], axis=0), geometric=True)
    assert robust.radius == kept.radius
    assert robust.rms_error == kept.rms_error


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


def geometric_batch(rng, family):
    """Arcs of several sizes and spans, one with two gross outliers, and a set
    of three points (too few for most geometric fits)."""
    def shape():
        r = rng.uniform(8, 40)
        return (r, r) if family == "circle" else (r, r * rng.uniform(0.4, 0.8))

    sets = [arc(rng, rng.uniform(-50, 50, 2), shape(), rng.uniform(0, 3), rng.uniform(0, 6), rng.uniform(1.5, 5), 24,
                0.05) for _ in range(6)]
    outliers = sets[0].copy()
    outliers[[3, 11]] += [[9.0, -7.0], [-6.0, 8.0]]
    return sets + [outliers, sets[1][:3]]


def single_geometric_fits(family, sets, weights, options):
    """fit_<family>(geometric=True) of every set: its result or its FitError."""
    single = getattr(zfit, "fit_" + family)
    expected = []
    for points, w in zip(sets, weights):
        try:
            expected.append(single(points, geometric=True, weights=w, **options))
        except zfit.FitError as error:
            expected.append(error)
    return expected


def check_fit_many_geometric(family, sets, weights, options, expected):
    given = {"weights": weights} if any(w is not None for w in weights) else {}
    for threads in (1, 3):
        results = zfit.fit_many(family, sets, threads, geometric=True, **given, **options)
        travelled = pickle.loads(pickle.dumps(results))
        for i, want in enumerate(expected):
            context = "%s %s item %d, %d threads" % (family, options, i, threads)
            assert_same(results[i], want, context)
            assert_same(travelled[i], want, context + ", pickled")


# (family, options, weighted); a weighted fit discards no points, so the
# outlier searches run unweighted.
GEOMETRIC_BATCHES = [
    ("circle", {}, True),
    ("circle", {"fixed_radius": 20.0}, True),
    ("circle", {"ignore": 2, "max_rms": 0.06}, False),
    ("ellipse", {}, True),
    ("ellipse", {"ignore": 1, "max_rms": 0.06}, False),
]


@pytest.mark.parametrize("family,options,weighted", GEOMETRIC_BATCHES,
                         ids=["%s%s%s" % (f, o, " weighted" if w else "") for f, o, w in GEOMETRIC_BATCHES])
def test_fit_many_geometric_items_equal_their_single_fits(rng, family, options, weighted):
    sets = geometric_batch(rng, family)
    weights = [rng.uniform(0.5, 2.0, len(s)) if weighted and i % 3 != 1 else None for i, s in enumerate(sets)]
    expected = single_geometric_fits(family, sets, weights, options)
    fitted = [r for r in expected if not isinstance(r, zfit.FitError)]
    assert len(fitted) >= 6, "%s %s: most arcs are fitted" % (family, options)
    for r in fitted:
        assert r.covariance is not None, "%s %s: a geometric fit carries its covariance" % (family, options)
    check_fit_many_geometric(family, sets, weights, options, expected)


@pytest.mark.parametrize("family,iterations", [("circle", 1), ("ellipse", 2)])
def test_fit_many_gives_every_item_its_max_iterations(rng, family, iterations):
    sets = geometric_batch(rng, family)[:-1]
    weights = [None] * len(sets)
    options = {"max_iterations": iterations}
    expected = single_geometric_fits(family, sets, weights, options)
    for i, error in enumerate(expected):
        assert isinstance(error, zfit.FitError), "%s item %d: %r" % (family, i, error)
        assert error.name == "zmet_errNotConverged", "%s item %d: %r" % (family, i, error)
    check_fit_many_geometric(family, sets, weights, options, expected)


def test_fit_many_refuses_geometric_options_as_the_single_fits_do(rng):
    points = arc(rng, (0, 0), (10, 6), 0.2, 0.0, 3.0, 20, 0.05)
    with pytest.raises(ValueError, match=r"^point_sets\[0\]: weights: the algebraic ellipse is unweighted"):
        zfit.fit_many("ellipse", [points], weights=[np.ones(20)])
    with pytest.raises(ValueError, match=r"^point_sets\[0\]: ignore: a weighted fit discards no points"):
        zfit.fit_many("ellipse", [points], geometric=True, ignore=1, weights=[np.ones(20)])
    refused = zfit.fit_many("circle", [points], geometric=True, ignore=1, weights=[np.ones(20)])
    assert isinstance(refused[0], zfit.ParameterError), repr(refused[0])
    assert refused[0].name == "zmath_errFitWeightedIgnore", repr(refused[0])
    with pytest.raises(ValueError, match="^max_iterations must fit in a 32-bit signed integer"):
        zfit.fit_many("circle", [points], geometric=True, max_iterations=2 ** 40)
    with pytest.raises(TypeError, match="^fit_many: geometric must be True or False, got 'yes'"):
        zfit.fit_many("circle", [points], geometric="yes")


# Not converging and max_iterations: test_fit_many_gives_every_item_its_max_iterations.
@pytest.mark.parametrize("call,error,name", [
    (lambda: zfit.fit_circle([(0, 0), (1, 1), (2, 0)], geometric=True), zfit.DegenerateError, "zmet_errTooFewPoints"),
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
