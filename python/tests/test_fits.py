"""Every fit function: each field of the result on data whose fit is known
exactly, the library's status on data it cannot fit, and the random cases
test_many runs through fit_many."""
import math

import numpy as np
import pytest

import zfit


def conic(centre, radii, n, angle=0.0, start=0.3, span=2 * math.pi):
    t = start + span * np.arange(n) / n
    c, s = math.cos(angle), math.sin(angle)
    x, y = radii[0] * np.cos(t), radii[1] * np.sin(t)
    return np.column_stack([centre[0] + c * x - s * y, centre[1] + s * x + c * y])


def cross_lines(points):
    """The horizontal and the vertical line through each point, as
    (angle, distance) rows."""
    return np.array([row for x, y in points for row in ((0.0, y), (math.pi / 2, -x))])


S = math.sqrt(0.5)
CIRCLE = np.insert(conic((4, -3), (2, 2), 9), 3, (10, 10), axis=0)  # row 3 far off the circle
ELLIPSE = np.vstack([conic((1, -2), (3, 2), 7, 0.5), [(9, 9)]])
PARABOLA = np.array([(x, 0.5 * x * x) for x in np.linspace(-2, 2, 9)]) @ [[math.cos(0.3), math.sin(0.3)],
                                                                         [-math.sin(0.3), math.cos(0.3)]] + [2, -1]
AFFINE, SHIFT = np.array([[1.2, 0.4], [-0.3, 0.9]]), np.array([3.0, -1.0])
SOURCES = np.array([(0, 0), (4, 1), (1, 3), (2, -2), (5, 5)], dtype=float)
IMAGES = SOURCES @ AFFINE.T + SHIFT
IMAGES[4] += 7  # the last pair is wrong and weighs 0 where weights are given
SKIP_LAST = [1, 1, 1, 1, 0]
# (fit, its exact result): data whose fit is known, every field the binding
# converts (and its order in to_dict()) checked against it.
EXACT = [
    (lambda: zfit.fit_line([(0, 0.5), (1, 1.5), (2, 2.5), (3, 3.5), (1, 6)], ignore=1),
     {"angle": math.pi / 4, "distance": 0.5 * S, "direction": [S, S], "normal": [-S, S], "rms_error": 0.0,
      "is_valid": True, "ignored": [4]}),
    # rms_error is never below 0: not valid.
    (lambda: zfit.fit_line([(0, -1), (1, 1), (2, 3), (3, 5)], min_zone=True, max_rms=0.0),
     {"angle": math.atan2(2, 1), "distance": -1 / math.sqrt(5), "direction": np.array([1, 2]) / math.sqrt(5),
      "normal": np.array([-2, 1]) / math.sqrt(5), "rms_error": 0.0, "is_valid": False, "ignored": []}),
    (lambda: zfit.fit_circle(CIRCLE, ignore=1),
     {"centre": [4, -3], "radius": 2.0, "rms_error": 0.0, "is_valid": True, "ignored": [3]}),
    (lambda: zfit.fit_circle(CIRCLE, weights=[1, 2, 3, 0, 1, 2, 3, 0.5, 1, 1], max_rms=1e-3),
     {"centre": [4, -3], "radius": 2.0, "rms_error": 0.0, "is_valid": True, "ignored": []}),
    (lambda: zfit.fit_circle(np.delete(CIRCLE, 3, axis=0), fixed_radius=2.0),
     {"centre": [4, -3], "radius": 2.0, "rms_error": 0.0, "is_valid": True, "ignored": []}),
    (lambda: zfit.fit_ellipse(ELLIPSE, ignore=1),
     {"centre": [1, -2], "radii": [3, 2], "angle": 0.5, "rms_error": 0.0, "is_valid": True, "ignored": [7]}),
    (lambda: zfit.fit_parabola(np.vstack([PARABOLA, [(5, 5)]]), weights=[1] * 9 + [0]),
     {"pose": [[math.cos(0.3), -math.sin(0.3), 2], [math.sin(0.3), math.cos(0.3), -1], [0, 0, 1]], "angle": 0.3,
      "vertex": [2, -1], "coefficient": 0.5, "rms_error": 0.0, "is_valid": True, "converged": True}),
    (lambda: zfit.fit_parabola(PARABOLA),
     {"pose": [[math.cos(0.3), -math.sin(0.3), 2], [math.sin(0.3), math.cos(0.3), -1], [0, 0, 1]], "angle": 0.3,
      "vertex": [2, -1], "coefficient": 0.5, "rms_error": 0.0, "is_valid": True, "converged": True}),
    (lambda: zfit.fit_point_to_line(np.repeat(SOURCES, 2, axis=0), cross_lines(IMAGES),
                                    weights=np.repeat(SKIP_LAST, 2)),
     {"matrix": AFFINE, "translation": SHIFT, "rms_error": 0.0, "is_valid": True}),
    (lambda: zfit.fit_point_to_line(np.repeat(SOURCES[:4], 2, axis=0), cross_lines(IMAGES[:4])),
     {"matrix": AFFINE, "translation": SHIFT, "rms_error": 0.0, "is_valid": True}),
    # Two pairs fix a similarity (dof 4), not an affine map.
    (lambda: zfit.fit_point_to_point([(1, 1), (3, 2)], [(0, 0), (1, 0)], dof=4),
     {"matrix": [[2, -1], [1, 2]], "translation": [1, 1], "rms_error": 0.0, "is_valid": True, "ignored": []}),
    (lambda: zfit.fit_point_to_point(IMAGES, SOURCES, weights=SKIP_LAST),
     {"matrix": AFFINE, "translation": SHIFT, "rms_error": 0.0, "is_valid": True, "ignored": []}),
]


@pytest.mark.parametrize("fit,expected", EXACT, ids=range(len(EXACT)))
def test_every_field_holds_the_exact_fit(fit, expected):
    result = fit()
    fields = result.to_dict()
    assert [key for key in fields if key in expected] == list(expected), "every field, in order"
    assert set(fields) - set(expected) <= {"covariance", "std_errors", "intervals"}, "no other field"
    for key, value in expected.items():
        for got in (fields[key], getattr(result, key)):
            np.testing.assert_allclose(got, value, rtol=1e-9, atol=1e-9, err_msg=key)
    assert type(result.is_valid) is bool, "is_valid is a bool"
    if "ignored" in expected:
        assert result.ignored.dtype == np.int64, "indices are int64"


NAMES = ["line", "circle", "ellipse", "parabola", "point_to_line", "point_to_point"]
EMPTY_FAILS = {"point_to_line": "zmath_errMatrixSingular", "point_to_point": "zmath_errFitSolveFailed"}


@pytest.mark.parametrize("name", NAMES)
def test_a_failed_fit_raises_the_library_status(name):
    with pytest.raises(zfit.FitError) as raised:
        getattr(zfit, "fit_" + name)(*[np.empty((0, 2))] * (2 if name.startswith("point_") else 1))
    assert raised.value.name == EMPTY_FAILS.get(name, "zmath_errDegenerate")


def outliers(rng, points, away, k, low, high, sides=(1,)):
    """Moves k random points by low..high times `away` (one vector, or one
    per point) to the given sides."""
    at = rng.choice(len(points), k, replace=False)
    points[at] += rng.uniform(low, high, (k, 1)) * rng.choice(sides, (k, 1)) * np.broadcast_to(away, points.shape)[at]


def line_case(rng, trial):
    k, n, a = trial % 4, 12 + trial, rng.uniform(0, 2 * math.pi)
    direction, normal = np.array([math.cos(a), math.sin(a)]), np.array([-math.sin(a), math.cos(a)])
    points = rng.uniform(-20, 20, 2) + np.outer(rng.uniform(-10, 10, n), direction)
    points += np.outer(rng.normal(0, 0.01, n), normal)
    outliers(rng, points, normal, k, 2, 5, (-1, 1))
    return [points], {"robust": "tukey"} if trial % 5 == 4 else {"ignore": k, "min_zone": trial % 3 == 1}


def circle_case(rng, trial):
    k, n, centre = 1 + trial % 3, 10 + trial % 4, rng.uniform(-20, 20, 2)
    points = conic(centre, (3, 3), n, 0, rng.uniform(0, 1), rng.uniform(4, 7)) + rng.normal(0, 0.01, (n, 2))
    outliers(rng, points, points - centre, k, 2, 5)
    weights = rng.uniform(0.5, 2, n)
    return [points], [{"ignore": k}, {"ignore": k, "fixed_radius": 3.0}, {"ignore": k, "geometric": True},
                      {"geometric": True, "weights": weights}, {"geometric": True, "fixed_radius": 3.0, "weights": weights},
                      {"geometric": True, "max_iterations": 1}, {"robust": "huber", "geometric": True}][trial % 7]


def ellipse_case(rng, trial):
    k, n = 1 + trial % 3, 9 + trial % 3
    points = conic(rng.uniform(-50, 50, 2), rng.uniform(2, 6, 2), n, rng.uniform(0, math.pi), rng.uniform(0, 1))
    points += rng.normal(0, 0.005, points.shape)
    centre = points.mean(axis=0)
    outliers(rng, points, points - centre, k, 0.5, 1.0)
    return [points], [{"ignore": k}, {"ignore": k, "geometric": True, "max_rms": 0.01},
                      {"geometric": True, "weights": rng.uniform(0.5, 2, n)}, {"geometric": True, "max_iterations": 2},
                      {"robust": "clip", "scale": 0.05}][trial % 5]


def parabola_case(rng, trial):
    n, a = 10 + trial, rng.uniform(0, 2 * math.pi)
    x = rng.uniform(-4, 4, n)
    local = np.column_stack([x, rng.uniform(0.2, 2) * x**2 + rng.normal(0, 0.02, n)])
    points = local @ np.array([[math.cos(a), math.sin(a)], [-math.sin(a), math.cos(a)]]) + rng.uniform(-20, 20, 2)
    options = [{}, {"max_iterations": 30}, {"weights": rng.uniform(0.1, 2, n)}][trial % 3]
    return [points], options


def point_to_line_case(rng, trial):
    n = 6 + trial
    m, t = np.eye(2) + rng.normal(0, 0.2, (2, 2)), rng.uniform(-5, 5, 2)
    points = rng.uniform(-10, 10, (n, 2))
    images, angles = points @ m.T + t, rng.uniform(0, 2 * math.pi, n)
    distances = -images[:, 0] * np.sin(angles) + images[:, 1] * np.cos(angles) + rng.normal(0, 0.01, n)
    options = {"weights": rng.uniform(0.1, 3, n), "max_rms": 0.01} if trial % 2 else {}
    return [points, np.column_stack([angles, distances])], options


def point_to_point_case(rng, trial):
    dof, a = 3 + trial % 4, rng.uniform(0, 2 * math.pi)
    m = np.array([[math.cos(a), -math.sin(a)], [math.sin(a), math.cos(a)]])
    m = [m, rng.uniform(0.5, 2) * m, m @ np.diag(rng.uniform(0.5, 2, 2)), rng.normal(0, 1, (2, 2)) + np.eye(2)][dof - 3]
    source = rng.uniform(-5, 5, (8 + trial, 2))
    target = source @ m.T + rng.uniform(-10, 10, 2)
    if trial % 2:
        noisy = target + rng.normal(0, 0.01, target.shape)
        return [noisy, source], {"dof": dof, "max_rms": 0.01, "weights": rng.uniform(0.1, 2, len(source))}
    return [target, source], {"dof": dof, **({"robust": "tukey"} if trial % 4 == 2 else {})}


CASES = {name: globals()[name + "_case"] for name in NAMES}


def test_parabola_with_passes_is_the_search_as_it_stands(rng):
    """With max_iterations the search stops where the passes leave it, and
    `converged` says that a search stopped at 1e-7 rad is not; without it
    the axis is converged."""
    [points], _ = parabola_case(rng, 0)
    assert not zfit.fit_parabola(points, max_iterations=100).converged, "the passes given"
    assert zfit.fit_parabola(points).converged, "by default"
