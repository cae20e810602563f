"""What every fit function shares: statuses as exceptions, input
conversion, result objects, threads."""
import concurrent.futures
import math
import pickle
import tracemalloc

import numpy as np
import pytest

import zfit


def signed(bits):
    return bits - 2**32


# The exception class of every status of the library's table. A code added
# to the table makes test_every_status_has_its_class fail until it is placed.
DEGENERATE = {
    "zmath_errDegenerate", "zmath_errServiceDegenerateA", "zmath_errServiceDegenerateB",
    "zmath_errFitSolveFailed", "zmath_errMatrixSingular", "zmath_errMatrixIllConditioned",
    "zmath_errNoConvergence", "zmath_errZeroLength",
}
PARAMETER = {
    "zmath_errFitMaxRmsErrorNegative", "zmath_errFitNumIgnoreNegative", "zmath_errFitWeightedIgnore",
    "zmath_errFitWeightCount", "zmath_errFitWeightNegative", "zmath_errFitBadMode",
    "zmath_errFitFixedRadiusNegative", "zmath_errFitSizeMismatch", "zmath_errFitMaxIterations",
    "zstd_errBadCount", "zstd_errBrokenPrecondition",
}
CANCELLED = {"zsys_errCancelled"}
PLAIN = {"zstd_errOutOfMemory", "zmath_errMatrixShape"}


def test_every_status_has_its_class():
    assert set(zfit.STATUS_NAMES.values()) == DEGENERATE | PARAMETER | CANCELLED | PLAIN
    for code, name in zfit.STATUS_NAMES.items():
        assert code < 0
        error = zfit.error_for_status(code)
        expected = (
            zfit.DegenerateError if name in DEGENERATE
            else zfit.ParameterError if name in PARAMETER
            else zfit.Cancelled if name in CANCELLED
            else zfit.FitError
        )
        assert type(error) is expected, name
        assert isinstance(error, zfit.FitError)
        assert isinstance(error, ValueError) == (name in PARAMETER), name
        assert (error.code, error.name) == (code, name)
        assert name in str(error) and "0x%08x" % (code + 2**32) in str(error)
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is expected and (copy.code, copy.name, str(copy)) == (code, name, str(error))


def test_status_codes_are_the_tables():
    assert zfit.STATUS_NAMES[signed(0x80000582)] == "zmath_errDegenerate"
    assert zfit.STATUS_NAMES[signed(0x80000B21)] == "zmath_errFitMaxRmsErrorNegative"
    assert zfit.STATUS_NAMES[signed(0x80001201)] == "zsys_errCancelled"


def test_error_for_status_refuses_success_and_names_unknown_codes():
    with pytest.raises(ValueError):
        zfit.error_for_status(0)
    with pytest.raises(ValueError):
        zfit.error_for_status(5)
    unknown = zfit.error_for_status(-7)
    assert type(unknown) is zfit.FitError and unknown.name == "unknown status"


# ---- inputs ------------------------------------------------------------------

POINTS = np.array([(0.0, 0.1), (1.0, 0.9), (2.0, 2.2), (3.0, 2.8), (4.0, 4.1)])
INT_POINTS = np.array([(0, 0), (1, 1), (2, 3), (3, 3), (5, 4)])


@pytest.mark.parametrize(
    "convert",
    [
        lambda p: p.tolist(),
        lambda p: [tuple(row) for row in p],
        lambda p: np.asfortranarray(p),
        lambda p: np.repeat(p, 2, axis=0)[::2],
        lambda p: np.hstack([p, p])[:, :2],
        lambda p: p.astype(">f8"),
        lambda p: p.astype(np.float32) if p.dtype.kind in "iu" else p,
        lambda p: p.astype(np.int64) if p.dtype.kind in "iu" else p,
        lambda p: p.astype(np.uint8) if p.dtype.kind in "iu" else p,
    ],
    ids=["list", "tuples", "fortran", "strided rows", "strided columns", "big endian", "float32", "int64", "uint8"],
)
@pytest.mark.parametrize("points", [POINTS, INT_POINTS], ids=["float", "int"])
def test_array_likes_give_the_same_fit(points, convert):
    expected = zfit.fit_line(np.ascontiguousarray(points, dtype=np.float64)).to_dict()
    got = zfit.fit_line(convert(points)).to_dict()
    for key in expected:
        np.testing.assert_array_equal(got[key], expected[key], err_msg=key)


def test_read_only_arrays_are_accepted():
    points = POINTS.copy()
    points.flags.writeable = False
    assert zfit.fit_line(points).angle == zfit.fit_line(POINTS).angle


@pytest.mark.parametrize(
    "bad",
    [
        np.zeros(4),
        np.zeros((3, 3)),
        np.zeros((3, 2, 1)),
        [[1, 2], [3]],
        [["a", "b"], ["c", "d"]],
        np.zeros((3, 2), dtype=complex),
        np.zeros((3, 2), dtype=bool),
        None,
        5.0,
    ],
    ids=["1-d", "3 columns", "3-d", "ragged", "strings", "complex", "bool", "None", "scalar"],
)
def test_bad_points_raise_value_error_naming_the_argument(bad):
    with pytest.raises(ValueError, match="^points: "):
        zfit.fit_line(bad)


def test_contiguous_float64_points_are_not_copied(rng):
    points = rng.normal(size=(200_000, 2))
    wide = rng.normal(size=(200_000, 4))
    tracemalloc.start()
    try:
        zfit.fit_line(points)
        _, in_place = tracemalloc.get_traced_memory()
        tracemalloc.reset_peak()
        zfit.fit_line(wide[:, :2])
        _, copied = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert in_place < points.nbytes / 20
    assert copied >= points.nbytes  # the measurement does see a conversion


def test_counts_must_fit_32_bits():
    with pytest.raises(ValueError, match="ignore"):
        zfit.fit_line(POINTS, ignore=2**31)


@pytest.mark.parametrize("timeout", [-1.0, math.nan, -math.inf])
def test_bad_timeouts_raise_value_error(timeout):
    with pytest.raises(ValueError, match="timeout"):
        zfit.fit_line(POINTS, timeout=timeout)


@pytest.mark.parametrize("timeout", [0.0, 5.0, 1e300, math.inf])
def test_timeouts_do_not_touch_a_fit_that_does_not_search(timeout):
    assert zfit.fit_line(POINTS, timeout=timeout).angle == zfit.fit_line(POINTS).angle


# ---- result objects --------------------------------------------------------------


def test_result_repr_to_dict_and_pickle():
    r = zfit.fit_line([(0, 1), (1, 2), (2, 3)])
    text = repr(r)
    assert text.startswith("LineFit(angle=0.785398, distance=0.707107, direction=[0.707107, 0.707107]")
    assert text.endswith("is_valid=True, ignored=[])")
    fields = r.to_dict()
    assert list(fields) == ["angle", "distance", "direction", "normal", "rms_error", "is_valid", "ignored"]
    copy = pickle.loads(pickle.dumps(r))
    assert type(copy) is zfit.LineFit
    for key, value in copy.to_dict().items():
        np.testing.assert_array_equal(value, fields[key])


def test_results_are_read_only_values():
    r = zfit.fit_line(POINTS)
    with pytest.raises(AttributeError):
        r.angle = 1.0
    r.direction[0] = 99.0
    r.ignored.resize(3, refcheck=False)
    assert r.direction[0] != 99.0 and len(r.ignored) == 0


# ---- threads ---------------------------------------------------------------------


def test_threads_fit_independently(rng):
    sets = [rng.normal(size=(int(n), 2)) * [10, 1] for n in rng.integers(2, 200, 64)]
    serial = [zfit.fit_line(p).to_dict() for p in sets]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda p: zfit.fit_line(p).to_dict(), sets))
    for i, (a, b) in enumerate(zip(serial, parallel)):
        for key in a:
            np.testing.assert_array_equal(a[key], b[key], err_msg="set %d %s" % (i, key))
