"""Test support: the C library itself, reached through ctypes, for the
host's attention check, and a generator seeded per test.

ZFIT_LIBRARY names libzfit.so (the test command of the build sets it).
"""
import ctypes
import os

import numpy as np
import pytest


@pytest.fixture(scope="session")
def clib():
    path = os.environ.get("ZFIT_LIBRARY")
    if not path:
        raise RuntimeError("ZFIT_LIBRARY must name libzfit.so (the build's test command sets it)")
    return ctypes.CDLL(path)


@pytest.fixture
def rng(request):
    """A generator seeded from the test's name, so a failure can be rerun."""
    seed = sum(ord(c) * (i + 1) for i, c in enumerate(request.node.name)) % 2**32
    return np.random.default_rng(seed)
