"""Test support: the C library itself, reached through ctypes, so that every
family can be checked against a direct C call on the same data.

ZFIT_LIBRARY names libzfit.so (the test command of the build sets it).
"""
import ctypes
import math
import os

import numpy as np
import pytest

from ctypes import POINTER, Structure, byref, c_double, c_int32

Status = c_int32


class Vect(Structure):
    _fields_ = [("x", c_double), ("y", c_double)]


class Vector32(Structure):
    _fields_ = [("begin", POINTER(c_int32)), ("size", c_int32), ("capacity", c_int32)]


class VectorVect(Structure):
    _fields_ = [("begin", POINTER(Vect)), ("size", c_int32), ("capacity", c_int32)]


class VectorD(Structure):
    _fields_ = [("begin", POINTER(c_double)), ("size", c_int32), ("capacity", c_int32)]


class FLine(Structure):
    _fields_ = [("d", c_double), ("angle", c_double), ("sine", c_double), ("cosine", c_double)]


class LineParams(Structure):
    _fields_ = [("numIgnore", c_int32), ("maxRmsError", c_double), ("mode", c_int32)]


class LineResult(Structure):
    _fields_ = [("isValid", c_int32), ("line", FLine), ("rmsError", c_double), ("ignoredIndices", Vector32)]

    def fields(self):
        line = self.line
        return {
            "angle": line.angle,
            "distance": line.d,
            "direction": np.array([line.cosine, line.sine]),
            "normal": np.array([-line.sine, line.cosine]),
            "rms_error": self.rmsError,
            "is_valid": bool(self.isValid),
            "ignored": _indices(self.ignoredIndices),
        }


class CircleParams(Structure):
    _fields_ = [("numIgnore", c_int32), ("maxRmsError", c_double), ("mode", c_int32), ("fixedRadius", c_double)]


class CircleResult(Structure):
    _fields_ = [("isValid", c_int32), ("centre", Vect), ("radius", c_double), ("rmsError", c_double),
                ("ignoredIndices", Vector32)]

    def fields(self):
        return {
            "centre": np.array([self.centre.x, self.centre.y]),
            "radius": self.radius,
            "rms_error": self.rmsError,
            "is_valid": bool(self.isValid),
            "ignored": _indices(self.ignoredIndices),
        }


class Ellipse(Structure):
    _fields_ = [("center", Vect), ("radius1", c_double), ("radius2", c_double), ("angle", c_double)]


class EllipseParams(Structure):
    _fields_ = [("numIgnore", c_int32), ("maxRmsError", c_double)]


class EllipseResult(Structure):
    _fields_ = [("isValid", c_int32), ("ellipse", Ellipse), ("rmsError", c_double), ("ignoredIndices", Vector32)]

    def fields(self):
        e = self.ellipse
        return {
            "centre": np.array([e.center.x, e.center.y]),
            "radii": np.array([e.radius1, e.radius2]),
            "angle": e.angle,
            "rms_error": self.rmsError,
            "is_valid": bool(self.isValid),
            "ignored": _indices(self.ignoredIndices),
        }


class XformLinear(Structure):
    _fields_ = [("tx", c_double), ("ty", c_double), ("m00", c_double), ("m01", c_double), ("m10", c_double),
                ("m11", c_double)]


class TransformParams(Structure):
    """The parameters of both transform fits."""
    _fields_ = [("maxRmsError", c_double), ("dof", c_int32)]


class TransformResult(Structure):
    """The result of both transform fits."""
    _fields_ = [("isValid", c_int32), ("xform", XformLinear), ("rmsError", c_double)]

    def fields(self):
        x = self.xform
        return {
            "matrix": np.array([[x.m00, x.m01], [x.m10, x.m11]]),
            "translation": np.array([x.tx, x.ty]),
            "rms_error": self.rmsError,
            "is_valid": bool(self.isValid),
        }


class XformRigid(Structure):
    _fields_ = [("angle", c_double), ("cosine", c_double), ("sine", c_double), ("translation", Vect)]


class Parabola(Structure):
    _fields_ = [("pose", XformRigid), ("coefficient", c_double)]


class ParabolaParams(Structure):
    _fields_ = [("maxIterations", c_int32)]


class ParabolaResult(Structure):
    _fields_ = [("isValid", c_int32), ("parabola", Parabola), ("rmsError", c_double)]

    def fields(self):
        pose = self.parabola.pose
        t = pose.translation
        return {
            "pose": np.array([[pose.cosine, -pose.sine, t.x], [pose.sine, pose.cosine, t.y], [0.0, 0.0, 1.0]]),
            "angle": pose.angle,
            "vertex": np.array([t.x, t.y]),
            "coefficient": self.parabola.coefficient,
            "rms_error": self.rmsError,
            "is_valid": bool(self.isValid),
        }


def _indices(vector):
    return np.array([vector.begin[i] for i in range(vector.size)], dtype=np.int64)


def _weights(weights):
    weights = np.asarray(weights, dtype=np.float64)
    return (c_double * max(len(weights), 1))(*weights)


def _points(points):
    points = np.asarray(points, dtype=np.float64).reshape(-1, 2)
    array = (Vect * max(len(points), 1))()
    for i, (x, y) in enumerate(points):
        array[i] = Vect(x, y)
    return array, len(points)


class CFailure(Exception):
    """A C-level fit failed with `code`."""

    def __init__(self, code):
        super().__init__(code)
        self.code = code


class CLibrary:
    """The C entry points, called the way a C program calls them. Each fit
    returns the fields the Python result should carry (as its to_dict()
    would hold them) or raises CFailure with the status."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)

    def _call(self, name, *args):
        function = getattr(self.lib, name)
        function.restype = Status
        return function(*args)

    def _check(self, status):
        if status < 0:
            raise CFailure(status)

    def _fit(self, family, result, call):
        """Constructs the result, runs call(pointer to result) and destructs
        the result again; returns the fields read before destruction."""
        self._check(self._call("zmath_%sFitResult_construct" % family, byref(result)))
        try:
            self._check(call(byref(result)))
            return result.fields()
        finally:
            self._call("zmath_%sFitResult_destruct" % family, byref(result))

    def _params(self, family, cls, **fields):
        params = cls()
        self._check(self._call("zmath_%sFitParams_init" % family, byref(params)))
        for name, value in fields.items():
            setattr(params, name, value)
        return params

    def _lines(self, lines):
        lines = np.asarray(lines, dtype=np.float64).reshape(-1, 2)
        array = (FLine * max(len(lines), 1))()
        for i, (angle, distance) in enumerate(lines):
            self._check(self._call("zmath_shapeFLine_initAngleDistance", byref(array[i]), byref(c_double(angle)),
                                   c_double(distance)))
        return array

    def _vector(self, kind, element, values):
        """A library vector holding values (constructed here; the caller
        destructs it with _release)."""
        vector = {"zmath_vect": VectorVect, "d": VectorD}[kind]()
        name = "zstd_vector_zmath_vect" if kind == "zmath_vect" else "zstd_vectord"
        self._check(self._call(name + "_construct", byref(vector), ctypes.c_int64(len(values))))
        for i, value in enumerate(values):
            vector.begin[i] = element(*value) if kind == "zmath_vect" else float(value)
        return vector

    def _release(self, vector):
        name = "zstd_vector_zmath_vect" if isinstance(vector, VectorVect) else "zstd_vectord"
        self._call(name + "_destruct", byref(vector))

    def line(self, points, ignore=0, min_zone=False, max_rms=math.inf):
        array, n = _points(points)
        params = self._params("line", LineParams, numIgnore=ignore, maxRmsError=max_rms, mode=int(min_zone))
        return self._fit("line", LineResult(), lambda r: self._call("zmath_lineFit", array, n, byref(params), r))

    def circle(self, points, weights=None, ignore=0, fixed_radius=None, max_rms=math.inf):
        array, n = _points(points)
        params = self._params("circle", CircleParams, numIgnore=ignore, maxRmsError=max_rms)
        if fixed_radius is not None:
            params.mode, params.fixedRadius = 1, fixed_radius
        if weights is None:
            return self._fit("circle", CircleResult(), lambda r: self._call("zmath_circleFit", array, n, byref(params), r))
        w = _weights(weights)
        return self._fit("circle", CircleResult(),
                         lambda r: self._call("zmath_circleFitWeighted", array, n, w, byref(params), r))

    def ellipse(self, points, ignore=0, max_rms=math.inf):
        array, n = _points(points)
        params = self._params("ellipse", EllipseParams, numIgnore=ignore, maxRmsError=max_rms)
        return self._fit("ellipse", EllipseResult(), lambda r: self._call("zmath_ellipseFit", array, n, byref(params), r))

    def point_to_line(self, points, lines, weights=None, max_rms=math.inf):
        array, n = _points(points)
        targets = self._lines(lines)
        params = self._params("pointToLine", TransformParams, maxRmsError=max_rms)
        if weights is None:
            return self._fit("pointToLine", TransformResult(),
                             lambda r: self._call("zmath_pointToLineFit", byref(params), array, targets, n, r))
        w = _weights(weights)
        return self._fit("pointToLine", TransformResult(),
                         lambda r: self._call("zmath_pointToLineFitWeighted", byref(params), array, targets, w, n, r))

    def point_to_point(self, target, source, dof=None, weights=None, max_rms=math.inf):
        to, n = _points(target)
        source, _ = _points(source)
        params = self._params("pointToPoint", TransformParams, maxRmsError=max_rms)
        if dof is not None:
            params.dof = dof
        if weights is None:
            return self._fit("pointToPoint", TransformResult(),
                             lambda r: self._call("zmath_pointToPointFit", byref(params), to, source, n, r))
        w = _weights(weights)
        return self._fit("pointToPoint", TransformResult(),
                         lambda r: self._call("zmath_pointToPointFitWeighted", byref(params), to, source, w, n, r))

    def parabola(self, points, weights=None, max_iterations=None):
        params = self._params("parabola", ParabolaParams)
        if max_iterations is not None:
            params.maxIterations = max_iterations
        vectors = [self._vector("zmath_vect", Vect, np.asarray(points, dtype=float).reshape(-1, 2).tolist())]
        try:
            if weights is None:
                return self._fit("parabola", ParabolaResult(),
                                 lambda r: self._call("zmath_parabolaFitVector", byref(vectors[0]), byref(params), r))
            vectors.append(self._vector("d", None, list(weights)))
            return self._fit("parabola", ParabolaResult(),
                             lambda r: self._call("zmath_parabolaFitWeightedVector", byref(vectors[0]),
                                                  byref(vectors[1]), byref(params), r))
        finally:
            for vector in vectors:
                self._release(vector)


@pytest.fixture(scope="session")
def clib():
    path = os.environ.get("ZFIT_LIBRARY")
    if not path:
        raise RuntimeError("ZFIT_LIBRARY must name libzfit.so (the build's test command sets it)")
    return CLibrary(path)


@pytest.fixture
def rng(request):
    """A generator seeded from the test's name, so a failure can be rerun."""
    seed = sum(ord(c) * (i + 1) for i, c in enumerate(request.node.name)) % 2**32
    return np.random.default_rng(seed)


def assert_same(result, expected, context=""):
    """The Python result carries exactly the C result's values, in to_dict()
    and in the attributes of the same names."""
    fields = result.to_dict()
    assert list(fields) == list(expected), context
    for key, value in expected.items():
        np.testing.assert_array_equal(fields[key], value, err_msg="%s: %s" % (context, key))
        np.testing.assert_array_equal(getattr(result, key), value, err_msg="%s: %s" % (context, key))
        assert np.asarray(fields[key]).dtype.kind == np.asarray(value).dtype.kind, (context, key)


def check_against_c(python_fit, c_fit, context=""):
    """Runs both; either both succeed with equal fields or both fail with the
    same status code."""
    import zfit

    try:
        expected = c_fit()
    except CFailure as failure:
        with pytest.raises(zfit.FitError) as raised:
            python_fit()
        assert raised.value.code == failure.code, context
        return None
    result = python_fit()
    assert_same(result, expected, context)
    return result
