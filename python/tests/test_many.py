"""zfit.fit_many: every item equals its single fit (results and failures
alike), options carry the single fits' names and defaults, and a timeout,
the host's attention check or Ctrl-C stops the whole batch."""
import ctypes
import os
import pickle
import signal
import threading

import numpy as np
import pytest

import zfit
from test_fits import KINDS, NAMES, noisy
from test_runtime import noisy_circle, sigint

PAIRS = {"point_to_point", "point_to_line"}
LONG = noisy_circle(800)  # with ignore=3, a search of about a minute


def single_fit(name, args, weights, options):
    """The single fit of one item: its result, or the FitError it raises."""
    extra = {} if weights is None else {"weights": weights}
    try:
        return getattr(zfit, "fit_" + name)(*args, **extra, **options)
    except zfit.FitError as error:
        return error


def assert_same(got, expected, context):
    assert type(got) is type(expected), context
    if isinstance(expected, zfit.FitError):
        assert got.code == expected.code, "%s: the code" % context
        assert got.name == expected.name, "%s: the name" % context
        return
    for key, value in expected.to_dict().items():
        np.testing.assert_array_equal(got.to_dict()[key], value, err_msg="%s: %s" % (context, key))


# Where batches() puts its failing item: a worker reuses its result record
# for the items after it.
FAILING = 1


def batches(name, rng):
    """Batches of three noisy items of each kind of fit of the family
    (test_fits' KINDS), with an item of no points, which fails, after the
    first."""
    empty = [np.empty((0, 2))] * (2 if name in PAIRS else 1)
    for options in KINDS[name][1]:
        items = []
        for _ in range(3):
            args = noisy(rng, name)
            items.append((args, rng.uniform(0.5, 2, len(args[0])) if options.get("weights") else None))
        items.insert(FAILING, (empty, None))
        yield {key: value for key, value in options.items() if key != "weights"}, items


def assert_row(columns, i, expected, context):
    """Row i of fit_many's columns holds the single fit (or its status)."""
    if isinstance(expected, zfit.FitError):
        assert columns["status"][i] == expected.code, context
        return
    assert columns["status"][i] == 0, context
    for key in expected._fields:
        value = getattr(expected, key)
        if value is None:
            continue
        value = np.asarray(value)
        # A field that varies in length is padded to the longest item.
        got = columns[key][i][tuple(slice(0, d) for d in value.shape)]
        np.testing.assert_array_equal(got, value, err_msg="%s: %s" % (context, key))
        assert got.dtype == value.dtype, "%s: %s" % (context, key)


@pytest.mark.parametrize("threads", [1, 2, 8])
@pytest.mark.parametrize("name", NAMES)
def test_every_item_and_row_equals_its_single_fit(rng, name, threads):
    for options, items in batches(name, rng):
        point_sets = [tuple(args) if name in PAIRS else args[0] for args, _ in items]
        weights = [w for _, w in items]
        given = {"weights": weights} if any(w is not None for w in weights) else {}
        results = zfit.fit_many(name, point_sets, threads, **given, **options)
        columns = zfit.fit_many(name, point_sets, threads, columns=True, **given, **options)
        assert len(results) == len(items), options
        for key, column in columns.items():
            assert len(column) == len(items), "%s: one row per item" % key
        assert isinstance(results[FAILING], zfit.FitError), "%s: an item of no points fails" % options
        travelled = pickle.loads(pickle.dumps(results))  # as a process scheduler sends them
        for i, (args, w) in enumerate(items):
            expected = single_fit(name, args, w, options)
            context = "%s item %d %s" % (name, i, options)
            assert_same(results[i], expected, context)
            assert_same(travelled[i], expected, context + ", pickled")
            assert_row(columns, i, expected, context + ", columns")


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_a_long_batch_fits_every_item_into_its_own_row(rng, threads):
    """Long enough (some milliseconds) for the threads the calling thread
    starts after its first tenth of a millisecond to take runs of items too,
    even on a busy machine, and of a count no number of threads divides: a
    row left out or written for another item shows (a row never fitted holds
    NaN)."""
    items = [rng.normal(size=(int(rng.integers(3, 9)), 2)) * [10.0, 1.0] + rng.uniform(-50, 50, 2)
             for _ in range(12007)]
    refused = {5: np.array([[0.0, 0.0], [1.0, np.nan]]), 7000: np.ones((1, 2)), 12006: np.zeros((0, 2))}
    items = [refused.get(i, points) for i, points in enumerate(items)]
    columns = zfit.fit_many("line", items, threads, columns=True)
    singles = [single_fit("line", [points], None, {}) for points in items]
    for i in refused:
        assert_row(columns, i, singles[i], "refused item %d, %d threads" % (i, threads))
    fitted = [i for i in range(len(items)) if i not in refused]
    for key in ("angle", "distance", "rms_error", "covariance"):
        expected = np.array([getattr(singles[i], key) for i in fitted])
        np.testing.assert_array_equal(columns[key][fitted], expected, err_msg="%s, %d threads" % (key, threads))


def test_a_long_batch_with_an_item_of_the_wrong_shape_is_refused_whole():
    """Its threads, which fit the items read while the calling thread reads
    on, are joined before the ValueError naming the item is raised."""
    before = task_count()
    items = [noisy_circle(12)] * 3000 + [np.ones((4, 3))] + [noisy_circle(12)] * 10
    with pytest.raises(ValueError, match=r"^point_sets\[3000\]: "):
        zfit.fit_many("circle", items, threads=3, columns=True)
    assert task_count() == before, "every thread was joined"


@pytest.mark.parametrize("name", ["line", "circle", "ellipse"])
def test_a_row_after_a_failed_robust_count_is_its_own_fit(rng, name):
    """With ignore="auto" an item whose robust fit fails makes the robust
    record the answer; the item after it, on the same thread, takes the
    count to the search again."""
    items = [noisy(rng, name)[0], np.empty((0, 2)), noisy(rng, name)[0]]
    columns = zfit.fit_many(name, items, 1, columns=True, ignore="auto")
    for i, points in enumerate(items):
        assert_row(columns, i, single_fit(name, [points], None, {"ignore": "auto"}), "%s item %d" % (name, i))


def test_columns_pad_what_an_item_lacks_and_count_failures():
    sets = [noisy_circle(12), np.ones((5, 2)), noisy_circle(30)[[0, 5, 10, 15, 20, 25]] + 0.5]
    sets[2][0] = (np.nan, 0)
    columns = zfit.fit_many("line", sets, columns=True, ignore=1)
    assert columns["status"][0] == 0, "a result"
    assert isinstance(zfit.error_for_status(columns["status"][1]), zfit.DegenerateError), "five equal points"
    assert columns["ignored"].shape == (3, 1), "one discarded point each"
    assert columns["ignored"][1:].tolist() == [[-1], [-1]], "failed items hold -1"
    assert np.isnan(columns["angle"][1:]).all(), "and NaN"
    assert columns["scale"].dtype == float, "no robust fit: a float column"
    assert np.isnan(columns["scale"]).all(), "no robust fit: NaN"
    assert columns["iterations"].tolist() == [-1] * 3, "no robust fit: -1"
    assert columns["covariance"].shape == (3, 2, 2), "angle and distance"
    assert np.isnan(columns["covariance"][1:]).all(), "failed items hold NaN in every place"
    # Two of the three parameters a circle's uncertainty can have.
    circles = zfit.fit_many("circle", [np.ones((5, 2)), noisy_circle(12)], columns=True, geometric=True,
                            fixed_radius=5.0)
    assert circles["intervals"].shape == (2, 2, 2), "x and y: as long as the longest item"
    assert np.isnan(circles["intervals"][0]).all(), "a failed item holds NaN in every place"
    assert not np.isnan(circles["intervals"][1]).any(), "the item's intervals"


def test_refused_items_hold_their_single_fits_errors():
    """An item is refused as its single fit refuses it, with the same error
    and message, whichever of its checks fails first."""
    good = noisy_circle(12)
    nan = good.copy()
    nan[3] = (0, np.nan)
    far = good.copy()
    far[5] = (1e60, 0)  # beyond the algebraic circle's reach
    both = far.copy()
    both[7] = (np.inf, 0)  # the row that is not finite is named, though later
    cases = [(good, None), (nan, None), (far, None), (both, None), (nan, np.ones(3)), (good, None)]
    sets, weights = [p for p, _ in cases], [w for _, w in cases]
    results = zfit.fit_many("circle", sets, weights=weights)
    columns = zfit.fit_many("circle", sets, columns=True, weights=weights)
    for i, (points, w) in enumerate(cases):
        expected = single_fit("circle", [points], w, {})
        assert_same(results[i], expected, "item %d" % i)
        assert_row(columns, i, expected, "item %d, columns" % i)
        if isinstance(expected, zfit.FitError):
            assert str(results[i]) == str(expected), "item %d: the message" % i
    # The geometric circle refuses weights with a discard count item by item.
    refused = zfit.fit_many("circle", [good], geometric=True, ignore=1, weights=[np.ones(12)])
    assert isinstance(refused[0], zfit.ParameterError), repr(refused[0])
    assert refused[0].name == "zmath_errFitWeightedIgnore", repr(refused[0])
    # Pairs: each of an item's two point sets is held to its own limit.
    pairs = [(far, good + 1), (good, far), (good, good + 1)]
    columns = zfit.fit_many("point_to_point", pairs, columns=True)
    for i, (source, target) in enumerate(pairs):
        assert_row(columns, i, single_fit("point_to_point", [source, target], None, {}), "pair %d" % i)


def test_a_fit_called_back_while_the_items_are_read_checks_its_own_points():
    refusals = []

    class Fits:
        """An item whose conversion to an array fits on its own first."""

        def __array__(self, dtype=None):
            try:
                zfit.fit_line(np.array([[0, 0], [1, np.nan], [2, 2]]))
            except zfit.FitError as error:
                refusals.append(type(error))
            return noisy_circle(12)

    columns = zfit.fit_many("line", [Fits()], columns=True)
    assert refusals == [zfit.ParameterError], "the inner fit refused its NaN at once"
    assert_row(columns, 0, zfit.fit_line(noisy_circle(12)), "the item itself")


# (items, threads, threads started): a batch of one runs on the calling thread;
# a longer one, once the caller's first tenth of a millisecond is spent,
# starts the threads asked for but one, the calling thread being that one.
STARTED = [([LONG], 2, 0), ([noisy_circle(12)] * 200 + [LONG] * 3, 1, 0),
           ([noisy_circle(12)] * 200 + [LONG] * 3, 2, 1), ([noisy_circle(12)] * 200 + [LONG] * 3, 3, 2)]


@pytest.mark.parametrize("items,threads,started", STARTED, ids=["one item", "threads=1", "threads=2", "threads=3"])
def test_threads_are_started_only_as_asked(clib, items, threads, started):
    counts = []
    check = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)(lambda context: counts.append(task_count()) or 0)
    before = task_count()
    clib.zsys_attention_install(check, None)
    try:
        results = zfit.fit_many("circle", items, threads=threads, ignore=3, timeout=0.3)
    finally:
        clib.zsys_attention_install(None, None)
    assert isinstance(results[-1], zfit.Cancelled), repr(results[-1])
    assert counts, "the host's check was asked while the searches ran"
    assert max(counts) == before + started, "threads started"
    assert task_count() == before, "every thread was joined"


FIVE = np.ones((5, 2))
# (call, exception, message): the whole call is refused, naming what is wrong (an
# item's own refusals are the single fits', with its index as in the first row).
REFUSED = [
    (lambda: zfit.fit_many("line", [FIVE, np.zeros(4)]), ValueError, r"^point_sets\[1\]: points: expected shape"),
    (lambda: zfit.fit_many("point_to_point", [(FIVE, FIVE), FIVE[:3]]), ValueError,
     r"^point_sets\[1\]: expected a pair \(target, source\)"),
    (lambda: zfit.fit_many("circle", [FIVE], weights=[None, None]), ValueError, "^weights: expected 1 entries"),
    (lambda: zfit.fit_many("hexagon", [FIVE]), ValueError, "^family must be one of line, circle, ellipse, parabola"),
    (lambda: zfit.fit_many("line", [FIVE], threads=-1), ValueError, "^threads must be >= 0"),
    (lambda: zfit.fit_many("line", [FIVE], timeout=-1.0), ValueError, "^timeout must be"),
    (lambda: zfit.fit_many("line", [FIVE], weights=[None]), TypeError, "fit_line takes no option weights"),
    (lambda: zfit.fit_many("line", 5), TypeError, "not iterable"),
    (lambda: zfit.fit_many("ellipse", [FIVE], bogus=1), TypeError, "fit_ellipse takes no option bogus"),
    # The geometric options, refused as the single fits refuse them.
    (lambda: zfit.fit_many("ellipse", [FIVE], weights=[np.ones(5)]), ValueError,
     r"^point_sets\[0\]: weights: the algebraic ellipse is unweighted"),
    (lambda: zfit.fit_many("ellipse", [FIVE], geometric=True, ignore=1, weights=[np.ones(5)]), ValueError,
     r"^point_sets\[0\]: ignore: a weighted fit discards no points"),
    (lambda: zfit.fit_many("circle", [FIVE], geometric=True, max_iterations=2**40), ValueError,
     "^max_iterations must fit in a 32-bit signed integer"),
    (lambda: zfit.fit_many("circle", [FIVE], geometric="yes"), TypeError,
     "^fit_many: geometric must be True or False, got 'yes'"),
]


@pytest.mark.parametrize("call,error,message", REFUSED, ids=[m for _, _, m in REFUSED])
def test_malformed_batches_are_refused_whole(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_an_empty_batch_and_an_array_of_sets():
    assert zfit.fit_many("circle", []) == []
    stacked = np.stack([noisy_circle(12), noisy_circle(12) * 2])
    for got, points in zip(zfit.fit_many("circle", stacked), stacked):
        assert_same(got, zfit.fit_circle(points), "a (2, 12, 2) array")


def test_timeout_keeps_what_finished_and_cancels_the_rest():
    quick = noisy_circle(12)
    results = zfit.fit_many("circle", [quick] + [LONG] * 6, threads=2, ignore=3, timeout=0.5)
    assert_same(results[0], zfit.fit_circle(quick, ignore=3), "the quick item finished first")
    for i, result in enumerate(results[1:], 1):
        assert isinstance(result, zfit.Cancelled), "item %d: %r" % (i, result)
    # A deadline that has passed fits nothing, not even fits that never search.
    assert all(isinstance(r, zfit.Cancelled) for r in zfit.fit_many("line", [FIVE * [1, 2]] * 3, timeout=0))
    columns = zfit.fit_many("line", [FIVE * [1, 2]] * 3, columns=True, timeout=0)
    assert [zfit.STATUS_NAMES[s] for s in columns["status"]] == ["zsys_errCancelled"] * 3, "as columns"
    assert np.isnan(columns["angle"]).all(), "items never fitted hold NaN"


def task_count():
    return len(os.listdir("/proc/self/task"))


def test_ctrl_c_stops_the_batch_and_no_thread_outlives_it():
    before = task_count()
    with sigint(signal.default_int_handler, after=0.3), pytest.raises(KeyboardInterrupt):
        zfit.fit_many("circle", [LONG] * 4, threads=2, ignore=3)
    assert task_count() == before, "every worker was joined"


def test_the_hosts_attention_check_stops_the_batch(clib):
    asked = threading.Event()
    check = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)(lambda context: asked.set() or -5)
    clib.zsys_attention_install(check, None)
    try:
        results = zfit.fit_many("circle", [LONG] * 3, threads=2, ignore=3)
    finally:
        clib.zsys_attention_install(None, None)
    assert asked.is_set(), "the check was asked on the calling thread"
    assert [r.code for r in results] == [-5] * 3, "every item holds the check's status"
