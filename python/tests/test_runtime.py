"""Long searches: the GIL is released while they run, a timeout stops them
with Cancelled, Ctrl-C with KeyboardInterrupt, and a check the host
installed keeps working."""
import contextlib
import ctypes
import os
import signal
import threading
import time

import numpy as np
import pytest

import zfit


def noisy_circle(n):
    a = np.random.default_rng(7).uniform(0, 2 * np.pi, n)
    return 5 * np.column_stack([np.cos(a), np.sin(a)]) + np.random.default_rng(8).normal(0, 0.05, (n, 2))


POINTS = noisy_circle(800)


def long_search(**options):
    """A circle search that runs for about a minute unless stopped; it polls
    several times a second."""
    return zfit.fit_circle(POINTS, ignore=3, **options)


@contextlib.contextmanager
def sigint(handler, after=0.2):
    """SIGINT handled by handler arrives `after` seconds into the block, sent
    by a Python thread that can run only while the fit has released the GIL."""
    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(after, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        yield
    finally:
        timer.cancel()
        timer.join()  # gone before the caller counts its threads
        signal.signal(signal.SIGINT, previous)


def test_ctrl_c_and_signal_handlers_decide():
    started = time.monotonic()
    with sigint(signal.default_int_handler), pytest.raises(KeyboardInterrupt):
        long_search(timeout=30)
    # Not a speed check: a search that ignored the interrupt would run on to
    # its deadline, 150 times later than the signal, and raise only then.
    assert time.monotonic() - started < 15, "the search stopped at the interrupt, long before its deadline"

    def raising(signum, frame):
        raise LookupError()

    with sigint(raising), pytest.raises(LookupError):
        long_search(timeout=60)
    seen = []
    with sigint(lambda signum, frame: seen.append(signum)), pytest.raises(zfit.Cancelled):
        long_search(timeout=1.0)  # the handler did not raise: the search went on to its timeout
    assert seen == [signal.SIGINT]


def test_the_hosts_attention_check_is_kept_and_obeyed(clib):
    calls = []
    check = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)(lambda context: calls.append(context) or
                                                              (-5 if len(calls) >= 3 else 0))
    clib.zsys_attention_install(check, ctypes.c_void_p(1234))
    try:
        with pytest.raises(zfit.FitError) as raised:
            long_search(timeout=60)
        assert raised.value.code == -5, "the check's status comes back"
        assert calls == [1234] * 3, "called with its context until it stopped the search"
        fn, context = ctypes.c_void_p(), ctypes.c_void_p()
        clib.zsys_attention_installed(ctypes.byref(fn), ctypes.byref(context))
        assert fn.value == ctypes.cast(check, ctypes.c_void_p).value, "the host's check is still installed"
        assert context.value == 1234, "with its context"
    finally:
        clib.zsys_attention_install(None, None)
