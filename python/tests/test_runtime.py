"""Long searches: the GIL is released while they run, a timeout stops them
with Cancelled, Ctrl-C with KeyboardInterrupt, and a check the host
installed keeps working."""
import ctypes
import os
import signal
import threading
import time

import numpy as np
import pytest

import zfit

CANCELLED = 0x80001201 - 2**32


@pytest.fixture(scope="module")
def long_search():
    """A circle search that runs for half a minute unless stopped; it polls
    several times a second."""
    rng = np.random.default_rng(7)
    a = rng.uniform(0, 2 * np.pi, 200)
    points = 5 * np.column_stack([np.cos(a), np.sin(a)]) + rng.normal(0, 0.05, (200, 2))
    return lambda **options: zfit.fit_circle(points, ignore=3, **options)


def test_timeout_raises_cancelled(long_search):
    start = time.monotonic()
    with pytest.raises(zfit.Cancelled) as raised:
        long_search(timeout=0.3)
    elapsed = time.monotonic() - start
    assert raised.value.code == CANCELLED and raised.value.name == "zsys_errCancelled"
    assert 0.3 <= elapsed < 10, elapsed


def test_a_passed_deadline_stops_at_the_first_poll(long_search):
    start = time.monotonic()
    with pytest.raises(zfit.Cancelled):
        long_search(timeout=0)
    assert time.monotonic() - start < 5


def test_other_threads_run_while_a_fit_runs(long_search):
    outcome = []

    def fit():
        try:
            long_search(timeout=1.5)
        except zfit.Cancelled:
            outcome.append("cancelled")

    worker = threading.Thread(target=fit)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.monotonic())
        time.sleep(0.01)
    worker.join()
    assert outcome == ["cancelled"]
    gaps = np.diff(ticks)
    assert len(ticks) > 50 and gaps.max() < 0.75, (len(ticks), gaps.max())


def interrupt_after(seconds):
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


@pytest.fixture
def sigint_handler():
    previous = signal.getsignal(signal.SIGINT)
    yield lambda handler: signal.signal(signal.SIGINT, handler)
    signal.signal(signal.SIGINT, previous)


def test_ctrl_c_raises_keyboard_interrupt(long_search, sigint_handler):
    sigint_handler(signal.default_int_handler)
    start = time.monotonic()
    timer = interrupt_after(0.3)
    try:
        with pytest.raises(KeyboardInterrupt):
            long_search(timeout=60)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 10


def test_a_signal_handler_decides(long_search, sigint_handler):
    class Stop(Exception):
        pass

    def raising(signum, frame):
        raise Stop()

    sigint_handler(raising)
    timer = interrupt_after(0.2)
    try:
        with pytest.raises(Stop):
            long_search(timeout=60)
    finally:
        timer.cancel()

    seen = []
    sigint_handler(lambda signum, frame: seen.append(signum))
    timer = interrupt_after(0.2)
    try:
        with pytest.raises(zfit.Cancelled):  # the handler did not raise: the search went on to its timeout
            long_search(timeout=1.0)
    finally:
        timer.cancel()
    assert seen == [signal.SIGINT]


def test_the_hosts_attention_check_is_kept_and_obeyed(clib, long_search):
    lib = clib.lib
    check_type = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)
    calls = []

    def host_check(context):
        calls.append(context)
        return -5 if len(calls) >= 3 else 0

    check = check_type(host_check)
    lib.zsys_attention_install(check, ctypes.c_void_p(1234))
    try:
        with pytest.raises(zfit.FitError) as raised:
            long_search(timeout=60)
        assert raised.value.code == -5 and len(calls) == 3 and calls[0] == 1234
        fn, context = ctypes.c_void_p(), ctypes.c_void_p()
        lib.zsys_attention_installed(ctypes.byref(fn), ctypes.byref(context))
        assert fn.value == ctypes.cast(check, ctypes.c_void_p).value and context.value == 1234
    finally:
        lib.zsys_attention_install(None, None)
