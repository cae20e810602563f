"""What every fit function shares: statuses as exceptions, input
conversion, coordinate limits, result objects."""
import math
import pickle
import tracemalloc

import numpy as np
import pytest

import zfit

# One status of each exception class (the binding's table places every code
# of the status table, or it does not build).
CLASSES = {"zmath_errDegenerate": zfit.DegenerateError, "zmet_errNotFinite": zfit.ParameterError,
           "zsys_errCancelled": zfit.Cancelled, "zmet_errNotConverged": zfit.FitError}


def test_every_status_has_its_class():
    for code, name in zfit.STATUS_NAMES.items():
        error = zfit.error_for_status(code)
        if name in CLASSES:
            assert type(error) is CLASSES[name], name
        assert isinstance(error, zfit.FitError), name
        assert isinstance(error, ValueError) == isinstance(error, zfit.ParameterError), name
        assert error.code == code, "%s: the code" % name
        assert error.name == name, "%s: the name" % name
        assert name in str(error), "the message names the status"
        assert "0x%08x" % (code + 2**32) in str(error), "the message gives the code in hex"
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error), "%s pickled" % name
        assert str(copy) == str(error), "%s pickled: the message" % name


def test_error_for_status_refuses_success_and_names_unknown_codes():
    for success in (0, 5):
        with pytest.raises(ValueError):
            zfit.error_for_status(success)
    unknown = zfit.error_for_status(-7)
    assert type(unknown) is zfit.FitError
    assert unknown.name == "unknown status"


POINTS = np.array([(0, 0), (1, 1), (2, 3), (3, 3), (5, 4)])


@pytest.mark.parametrize("convert", [
    lambda p: p.tolist(), np.asfortranarray, lambda p: np.repeat(p, 2, axis=0)[::2], lambda p: np.hstack([p, p])[:, :2],
    lambda p: p.astype(">f8"), lambda p: p.astype(np.float32), lambda p: p.astype(np.uint8), lambda p: p,
], ids=["list", "fortran", "strided rows", "strided columns", "big endian", "float32", "uint8", "int64"])
def test_array_likes_and_integers_give_the_same_fit(convert):
    weights = np.arange(10)[::2] + 1
    expected = zfit.fit_point_to_point(POINTS.astype(float), POINTS[::-1].astype(float), weights=weights.astype(float))
    got = zfit.fit_point_to_point(convert(POINTS), convert(POINTS[::-1]), weights=weights)
    for key, value in expected.to_dict().items():
        np.testing.assert_array_equal(got.to_dict()[key], value, err_msg=key)
    readonly = POINTS.astype(float)
    readonly.flags.writeable = False
    assert zfit.fit_line(readonly).angle == zfit.fit_line(convert(POINTS)).angle


FIVE = np.ones((5, 2))
NAN_ROW = np.array([(0, 0), (1, 1), (np.nan, 1), (3, 2), (4, 4)])
INF_ROW = NAN_ROW * [1, 1] + [0, 0]
INF_ROW[2] = (2, -np.inf)
LINES = np.array([(0.0, 1.0)] * 5)
LINES[3, 1] = 1e150
# (call, exception, status name or None, message): one row per kind of bad
# input; the message names the argument at fault (and the row), on one line
# (each fit's own limit: test_each_fit_takes_coordinates_up_to_its_limit).
BAD_INPUT = [
    (lambda: zfit.fit_line(np.zeros(4)), ValueError, None, "^points: "),
    (lambda: zfit.fit_line([[1, 2], [3]]), ValueError, None, "^points: "),
    (lambda: zfit.fit_line(np.zeros((3, 2), dtype=complex)), ValueError, None, "^points: "),
    (lambda: zfit.fit_circle(FIVE, weights=np.ones(4)), ValueError, None,
     "^weights: expected 5 values, one per point, got 4"),
    (lambda: zfit.fit_parabola(FIVE, weights=np.ones((5, 1))), ValueError, None, "^weights: expected shape"),
    (lambda: zfit.fit_circle(FIVE, weights=np.ones(5), fixed_radius=1.0), ValueError, None, "fixed_radius"),
    (lambda: zfit.fit_point_to_line(FIVE, FIVE[:4]), ValueError, None,
     "^lines: expected 5 lines, one per point, got 4"),
    (lambda: zfit.fit_point_to_point(FIVE, FIVE[:3]), ValueError, None,
     "^source: expected 5 points, one per target point, got 3"),
    (lambda: zfit.fit_point_to_point(FIVE, FIVE, weights=np.ones(6)), ValueError, None,
     "^weights: expected 5 values, one per pair"),
    (lambda: zfit.fit_line(FIVE, ignore=2**31), ValueError, None, "ignore"),
    (lambda: zfit.fit_line(FIVE, timeout=math.nan), ValueError, None, "timeout"),
    (lambda: zfit.fit_line(NAN_ROW), zfit.ParameterError, "zmet_errNotFinite", r"points row 2 is \(nan, 1\)"),
    (lambda: zfit.fit_point_to_point(FIVE, INF_ROW), zfit.ParameterError, "zmet_errNotFinite",
     r"source row 2 is \(2, -inf\)"),
    (lambda: zfit.fit_point_to_line(FIVE, LINES * [np.nan, 1]), zfit.ParameterError, "zmet_errNotFinite",
     r"lines row 0 is \(nan, 1\)"),
    (lambda: zfit.fit_parabola(FIVE, weights=[1, np.inf, 1, 1, 1]), zfit.ParameterError, "zmet_errWeightNotFinite",
     "weights row 1 is inf"),
    (lambda: zfit.roundness(NAN_ROW), zfit.ParameterError, "zmet_errNotFinite", "points row 2"),
    # A row exactly at the limit is within it: the row named is the one beyond.
    (lambda: zfit.fit_circle([(0, 0), (1e55, -1e55), (1e60, 0), (0, 1)]), zfit.ParameterError, "zmet_errOutOfRange",
     r"points row 2 is \(1e\+60, 0\); this fit takes coordinates up to 1e\+55 in magnitude"),
    (lambda: zfit.fit_point_to_line(FIVE, LINES), zfit.ParameterError, "zmet_errOutOfRange",
     r"lines row 3 is \(0, 1e\+150\)"),
    (lambda: zfit.fit_line(FIVE, ignore=2.5), TypeError, None,
     r"^fit_line: ignore must be a whole number of points or \"auto\", got 2.5 \(float\)$"),
    (lambda: zfit.fit_circle(np.zeros((10**5, 2)), ignore=np.ones(1000)), TypeError, None,
     r"^fit_circle: ignore must be a whole number of points or \"auto\", got a ndarray$"),
    (lambda: zfit.fit_line(FIVE, max_rms="0.1"), TypeError, None, r"^fit_line: max_rms must be a number, got '0.1'"),
    (lambda: zfit.fit_line(FIVE, max_rms="x" * 50), TypeError, None, r"^fit_line: max_rms must be a number, got a str$"),
    # The largest count a 32-bit record holds reaches the library (which
    # finds too few points left), one more is refused before it.
    (lambda: zfit.fit_line(FIVE, ignore=2**31 - 1), zfit.DegenerateError, "zmath_errDegenerate", ""),
    # The smallest 32-bit count, likewise, reaches the library, which refuses it.
    (lambda: zfit.fit_parabola(FIVE, max_iterations=-2**31), zfit.ParameterError, "zmath_errFitMaxIterations", ""),
]


@pytest.mark.parametrize("call,error,name,message", BAD_INPUT, ids=[r[3][:40] for r in BAD_INPUT])
def test_bad_input_is_refused_before_the_library_naming_the_row(call, error, name, message):
    with pytest.raises(error, match=message) as raised:
        call()
    assert "\n" not in str(raised.value), "one line"
    if name:
        assert raised.value.name == name


# (fit, the largest coordinate it takes, and whether a bigger one is refused
# as out of range): at the limit the fit is the scaled fit of the unit data.
SHAPE = np.array([(3 + (2 + 0.01 * math.sin(7 * t)) * math.cos(t), 1 + 1.5 * math.sin(t)) for t in np.linspace(0, 6, 40)])
LIMITS = [
    (lambda p: zfit.fit_line(p), 1e145),
    (lambda p: zfit.fit_circle(p), 1e55),
    (lambda p: zfit.fit_circle(p, geometric=True), 1e145),
    (lambda p: zfit.fit_ellipse(p), 1e35),
    (lambda p: zfit.fit_ellipse(p, geometric=True), 1e145),
    (lambda p: zfit.fit_parabola(p), 1e145),
    (lambda p: zfit.fit_point_to_point(p, p[::-1]), 1e55),
]


@pytest.mark.parametrize("fit,limit", LIMITS, ids=range(len(LIMITS)))
def test_each_fit_takes_coordinates_up_to_its_limit(fit, limit):
    scale = limit / abs(SHAPE).max() * (1 - 1e-9)
    unit, scaled = fit(SHAPE), fit(SHAPE * scale)
    assert scaled.rms_error == pytest.approx(unit.rms_error * scale, rel=1e-6), "the fit at the limit"
    with pytest.raises(zfit.ParameterError) as raised:
        fit(SHAPE * scale * 1.001)
    assert raised.value.name == "zmet_errOutOfRange", "beyond the limit"


def test_contiguous_float64_points_are_not_copied(rng):
    points, wide = rng.normal(size=(200_000, 2)), rng.normal(size=(200_000, 4))
    tracemalloc.start()
    try:
        zfit.fit_line(points)
        _, in_place = tracemalloc.get_traced_memory()
        tracemalloc.reset_peak()
        zfit.fit_line(wide[:, :2])
        _, copied = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert in_place < points.nbytes / 20, "contiguous float64 points are read in place"
    assert copied >= points.nbytes, "the measurement does see a conversion"


def test_results_repr_and_read_only_values():
    r = zfit.fit_line([(0, 1), (1, 2), (2, 3)])
    assert repr(r).startswith("LineFit(angle=0.785398, distance=0.707107, direction=[0.707107, 0.707107]")
    assert "is_valid=True, ignored=[], covariance=[[" in repr(r)
    with pytest.raises(AttributeError):
        r.angle = 1.0
    with pytest.raises(ValueError, match="read-only"):
        r.direction[0] = 99.0


def test_a_transform_applies_its_matrix_and_translation(rng):
    source = rng.normal(size=(7, 2))
    fit = zfit.fit_point_to_point(source @ [[1.2, 0.4], [-0.3, 0.9]] + [3, -1], source, dof=6)
    np.testing.assert_allclose(fit.apply(source), source @ fit.matrix.T + fit.translation, rtol=1e-13, atol=1e-13)
