"""Test support: the C library itself, reached through ctypes, so that every
family can be checked against a direct C call on the same data.

ZFIT_LIBRARY names libzfit.so (the test command of the build sets it).
"""
import ctypes
import os
import re
from ctypes import POINTER, Structure, byref, c_double, c_int32

import numpy as np
import pytest

import zfit

I = c_int32


def record(*fields):
    """A C record type; a bare name is a double member."""
    return type("Record", (Structure,), {"_fields_": [f if isinstance(f, tuple) else (f, c_double) for f in fields]})


def vector(element):
    return record(("begin", POINTER(element)), ("size", I), ("capacity", I))


Vect, FLine = record("x", "y"), record("d", "angle", "sine", "cosine")
NUM, RMS = ("numIgnore", I), "maxRmsError"
TRANSFORM = ([RMS, ("dof", I)], "tx ty m00 m01 m10 m11", False, lambda r: {
    "matrix": np.array([[r.m00, r.m01], [r.m10, r.m11]]), "translation": np.array([r.tx, r.ty])})
# family: (parameter members, result shape members (all doubles, nested records
# flattened), whether the result has ignoredIndices, the Python fields of the shape)
FAMILIES = {
    "line": ([NUM, RMS, ("mode", I)], "d angle sine cosine", True, lambda r: {
        "angle": r.angle, "distance": r.d, "direction": np.array([r.cosine, r.sine]),
        "normal": np.array([-r.sine, r.cosine])}),
    "circle": ([NUM, RMS, ("mode", I), "fixedRadius"], "cx cy radius", True, lambda r: {
        "centre": np.array([r.cx, r.cy]), "radius": r.radius}),
    "ellipse": ([NUM, RMS], "cx cy r1 r2 angle", True, lambda r: {
        "centre": np.array([r.cx, r.cy]), "radii": np.array([r.r1, r.r2]), "angle": r.angle}),
    "parabola": ([("maxIterations", I)], "angle cosine sine tx ty coefficient", False, lambda r: {
        "pose": np.array([[r.cosine, -r.sine, r.tx], [r.sine, r.cosine, r.ty], [0.0, 0.0, 1.0]]),
        "angle": r.angle, "vertex": np.array([r.tx, r.ty]), "coefficient": r.coefficient}),
    "pointToLine": TRANSFORM,
    "pointToPoint": TRANSFORM,
}
# Arguments of each entry, unweighted then weighted: p points, q source points or
# lines, w weights, n count, a params, r result; P and W the same as vectors.
ORDER = {"line": "pnar", "circle": "pnar pnwar", "ellipse": "pnar", "parabola": "Par PWar",
         "pointToLine": "apqnr apqwnr", "pointToPoint": "apqnr apqwnr"}
OPTION = {"ignore": "numIgnore", "max_rms": "maxRmsError", "min_zone": "mode", "fixed_radius": "fixedRadius",
          "dof": "dof", "max_iterations": "maxIterations"}


class CFailure(Exception):
    """A C call failed with the status args[0]."""


class CLibrary:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        tail = {True: [("ignoredIndices", vector(I))], False: []}
        self.types = {family: (record(*params), record(("isValid", I), *shape.split(), "rmsError", *tail[ignored]))
                      for family, (params, shape, ignored, _) in FAMILIES.items()}

    def call(self, name, *args):
        status = getattr(self.lib, name)(*args)
        if status < 0:
            raise CFailure(status)

    def fit(self, family, points, second=None, weights=None, **options):
        """Fits as a C program does; returns the fields the Python result
        should carry, in to_dict() order, or raises CFailure."""
        params_type, result_type = self.types[family]
        params, result = params_type(), result_type()
        self.call("zmath_%sFitParams_init" % family, byref(params))
        for key, value in options.items():
            setattr(params, OPTION[key], value)
        if "fixed_radius" in options:
            params.mode = 1
        p = np.ascontiguousarray(points, dtype=float).reshape(-1, 2)
        w = np.ascontiguousarray([] if weights is None else weights, dtype=float)
        n = len(p)
        q = np.ascontiguousarray([] if second is None else second, dtype=float).reshape(-1, 2)
        if family == "pointToLine":
            qarg = (FLine * max(n, 1))()
            for line, (angle, d) in zip(qarg, q):
                self.call("zmath_shapeFLine_initAngleDistance", byref(line), byref(c_double(angle)), c_double(d))
        else:
            qarg = q.ctypes.data_as(POINTER(Vect))
        ptr, wptr = p.ctypes.data_as(POINTER(Vect)), w.ctypes.data_as(POINTER(c_double))
        args = {"p": ptr, "q": qarg, "w": wptr, "n": n, "a": byref(params), "r": byref(result),
                "P": byref(vector(Vect)(ptr, n, n)), "W": byref(vector(c_double)(wptr, len(w), len(w)))}
        entry = "zmath_%sFit%s%s" % (family, "Weighted" if weights is not None else "",
                                     "Vector" if family == "parabola" else "")
        self.call("zmath_%sFitResult_construct" % family, byref(result))
        try:
            self.call(entry, *[args[c] for c in ORDER[family].split()[weights is not None]])
            fields = dict(FAMILIES[family][3](result), rms_error=result.rmsError, is_valid=bool(result.isValid))
            if FAMILIES[family][2]:
                ignored = result.ignoredIndices
                fields["ignored"] = np.array(ignored.begin[:ignored.size], dtype=np.int64)
            return fields
        finally:
            self.call("zmath_%sFitResult_destruct" % family, byref(result))


@pytest.fixture(scope="session")
def clib():
    path = os.environ.get("ZFIT_LIBRARY")
    if not path:
        raise RuntimeError("ZFIT_LIBRARY must name libzfit.so (the build's test command sets it)")
    return CLibrary(path)


@pytest.fixture
def check(clib):
    """check(name, *args, **options) runs zfit.fit_<name> and the C entry on
    the same data: either both succeed with equal fields (in to_dict() and
    as attributes) or both fail with the same status. Returns the result."""

    def run(name, *args, context="", **options):
        fit = getattr(zfit, "fit_" + name)
        try:
            expected = clib.fit(re.sub("_(.)", lambda m: m.group(1).upper(), name), *args, **options)
        except CFailure as failure:
            with pytest.raises(zfit.FitError) as raised:
                fit(*args, **options)
            assert raised.value.code == failure.args[0], context
            return None
        result = fit(*args, **options)
        fields = result.to_dict()
        # The uncertainty and the parabola's convergence come from the companion
        # library and have tests of their own.
        assert list(fields)[:len(expected)] == list(expected), context
        uncertainty = ["covariance", "std_errors", "intervals"]
        assert list(fields)[len(expected):] in ([], uncertainty, ["converged"], ["ignored"], uncertainty + ["ignored"]), context
        for key, value in expected.items():
            for got in (fields[key], getattr(result, key)):
                np.testing.assert_array_equal(got, value, err_msg="%s: %s" % (context, key))
                assert np.asarray(got).dtype.kind == np.asarray(value).dtype.kind, (context, key)
        return result

    return run


@pytest.fixture
def rng(request):
    """A generator seeded from the test's name, so a failure can be rerun."""
    seed = sum(ord(c) * (i + 1) for i, c in enumerate(request.node.name)) % 2**32
    return np.random.default_rng(seed)
