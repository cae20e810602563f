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
CIRCLE = np.insert(conic((4, -3), (2, 2), 9), 3, (4, -0.5), axis=0)  # row 3 off the circle
SKIP_ROW_3 = [1, 1, 1, 0, 1, 1, 1, 1, 1, 1]
ELLIPSE = np.vstack([conic((1, -2), (3, 2), 7, 0.5), [(9, 9)]])
PARABOLA = np.array([(x, 0.5 * x * x) for x in np.linspace(-2, 2, 9)]) @ [[math.cos(0.3), math.sin(0.3)],
                                                                         [-math.sin(0.3), math.cos(0.3)]] + [2, -1]
AFFINE, SHIFT = np.array([[1.2, 0.4], [-0.3, 0.9]]), np.array([3.0, -1.0])
SOURCES = np.array([(0, 0), (4, 1), (1, 3), (2, -2), (5, 5)], dtype=float)
IMAGES = SOURCES @ AFFINE.T + SHIFT
IMAGES[4] += 7  # the last pair is wrong and weighs 0 where weights are given
SKIP_LAST = [1, 1, 1, 1, 0]


def exact_circle(ignored):
    return {"centre": [4, -3], "radius": 2.0, "rms_error": 0.0, "is_valid": True, "ignored": ignored}


def exact_ellipse(ignored):
    return {"centre": [1, -2], "radii": [3, 2], "angle": 0.5, "rms_error": 0.0, "is_valid": True, "ignored": ignored}


EXACT_PARABOLA = {"pose": [[math.cos(0.3), -math.sin(0.3), 2], [math.sin(0.3), math.cos(0.3), -1], [0, 0, 1]],
                  "angle": 0.3, "vertex": [2, -1], "coefficient": 0.5, "rms_error": 0.0, "is_valid": True,
                  "converged": True}
EXACT_AFFINE = {"matrix": AFFINE, "translation": SHIFT, "rms_error": 0.0, "is_valid": True}
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
    (lambda: zfit.fit_circle(CIRCLE, ignore=1), exact_circle([3])),
    (lambda: zfit.fit_circle(CIRCLE, weights=[1, 2, 3, 0, 1, 2, 3, 0.5, 1, 1], max_rms=1e-3), exact_circle([])),
    (lambda: zfit.fit_circle(np.delete(CIRCLE, 3, axis=0), fixed_radius=2.0), exact_circle([])),
    # The geometric fits: of the points the search keeps, or weighted.
    (lambda: zfit.fit_circle(CIRCLE, ignore=1, geometric=True), exact_circle([3])),
    (lambda: zfit.fit_circle(CIRCLE, geometric=True, weights=SKIP_ROW_3), exact_circle([])),
    (lambda: zfit.fit_ellipse(ELLIPSE, geometric=True, weights=[1] * 7 + [0]), exact_ellipse([])),
    (lambda: zfit.fit_ellipse(ELLIPSE, ignore=1), exact_ellipse([7])),
    (lambda: zfit.fit_parabola(np.vstack([PARABOLA, [(5, 5)]]), weights=[1] * 9 + [0]), EXACT_PARABOLA),
    (lambda: zfit.fit_parabola(PARABOLA), EXACT_PARABOLA),
    (lambda: zfit.fit_point_to_line(np.repeat(SOURCES, 2, axis=0), cross_lines(IMAGES),
                                    weights=np.repeat(SKIP_LAST, 2)), EXACT_AFFINE),
    (lambda: zfit.fit_point_to_line(np.repeat(SOURCES[:4], 2, axis=0), cross_lines(IMAGES[:4])), EXACT_AFFINE),
    # Two pairs fix a similarity (dof 4), not an affine map.
    (lambda: zfit.fit_point_to_point([(1, 1), (3, 2)], [(0, 0), (1, 0)], dof=4),
     {"matrix": [[2, -1], [1, 2]], "translation": [1, 1], "rms_error": 0.0, "is_valid": True, "ignored": []}),
    (lambda: zfit.fit_point_to_point(IMAGES, SOURCES, weights=SKIP_LAST), {**EXACT_AFFINE, "ignored": []}),
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

LINE = np.column_stack([np.arange(12.0), 0.5 * np.arange(12.0) + 1])
LINE[[4, 9], 1] += [3, -2]
# The kinds of fit of each family that fit_many runs (test_many), on the data
# above made noisy; "weights": True gives each item weights of its own.
KINDS = {
    "line": ([LINE], [{"ignore": 2}, {"ignore": 2, "min_zone": True}, {"robust": "tukey"}]),
    "circle": ([CIRCLE], [{"ignore": 1}, {"ignore": 1, "fixed_radius": 2.0}, {"ignore": 2, "geometric": True},
                          {"geometric": True, "weights": True},
                          {"geometric": True, "fixed_radius": 2.0, "weights": True},
                          {"geometric": True, "max_iterations": 1}, {"robust": "huber", "geometric": True}]),
    "ellipse": ([ELLIPSE], [{"ignore": 1}, {"ignore": 1, "geometric": True, "max_rms": 0.01},
                            {"geometric": True, "weights": True}, {"geometric": True, "max_iterations": 2},
                            {"robust": "clip", "scale": 0.05}]),
    "parabola": ([PARABOLA], [{}, {"max_iterations": 30}, {"weights": True}]),
    "point_to_line": ([np.repeat(SOURCES, 2, axis=0), cross_lines(IMAGES)], [{}, {"weights": True, "max_rms": 0.01}]),
    "point_to_point": ([IMAGES, SOURCES], [{"dof": 3}, {"dof": 4}, {"dof": 5, "robust": "tukey"},
                                           {"dof": 6, "weights": True, "max_rms": 0.01}]),
}


def noisy(rng, name):
    """A family's data with noise of 0.01 added."""
    return [data + rng.normal(0, 0.01, data.shape) for data in KINDS[name][0]]


def test_parabola_with_passes_is_the_search_as_it_stands(rng):
    """With max_iterations the search stops where the passes leave it, and
    `converged` says that a search stopped at 1e-7 rad is not; without it
    the axis is converged."""
    [points] = noisy(rng, "parabola")
    assert not zfit.fit_parabola(points, max_iterations=100).converged, "the passes given"
    assert zfit.fit_parabola(points).converged, "by default"
