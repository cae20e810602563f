"""Two-dimensional geometric fitting for machine vision.

Points are (n, 2) array-likes of numbers, weights (n,) array-likes;
contiguous float64 arrays are used without copying. Every coordinate must be
finite, and each fit takes coordinates up to a magnitude beyond which its
sums overflow (1e145 for lines, parabolas, the transform onto lines and the
geometric fits; 1e55 for the algebraic circle and the point-to-point
transform; 1e35 for the algebraic ellipse): other input raises
ParameterError naming the row. Angles are in radians, counterclockwise;
lines are in normal form -x*sin(angle) + y*cos(angle) = distance.

A failed fit raises FitError (DegenerateError, ParameterError, Cancelled); a
fit that succeeds with rms_error not below max_rms returns normally with
is_valid False. The GIL is released while a fit runs; fit_many fits many
point sets in one call on native threads, as result objects or as columns.
"""
import math

import numpy as _np

from . import _zfit
from ._zfit import (STATUS_NAMES, __version__, error_for_status, fit_circle, fit_ellipse, fit_line, fit_parabola,
                    fit_point_to_line, fit_point_to_point, roundness, student_t_quantile)

__all__ = ["FitError", "DegenerateError", "ParameterError", "Cancelled", "STATUS_NAMES", "error_for_status",
           "fit_line", "fit_circle", "fit_ellipse", "fit_parabola", "fit_point_to_point", "fit_point_to_line",
           "fit_many", "roundness", "student_t_quantile"]


class FitError(Exception):
    """A fit failed.

    code    the library's status code (a negative int, e.g. -2147482238)
    name    its name in the library's status table (e.g. "zmath_errDegenerate")
    message what went wrong, in words
    """

    def __init__(self, code, name, message):
        super().__init__(code, name, message)
        self.code = code
        self.name = name
        self.message = message

    def __str__(self):
        return "%s (%s, 0x%08x)" % (self.message, self.name, self.code & 0xFFFFFFFF)


class DegenerateError(FitError):
    """The data do not determine the shape or transform: too few points,
    points all alike or in a configuration with no unique solution, or an
    outlier search that found no candidate it could solve."""


class ParameterError(FitError, ValueError):
    """The library refused a parameter or an input: a negative limit or
    count, an unknown mode or number of degrees of freedom, a negative
    weight, inputs of different lengths, a coordinate or weight that is not
    finite, or coordinates beyond the magnitude the fit takes."""


class Cancelled(FitError):
    """A search was stopped before it finished: its timeout passed, or an
    attention check the host installed asked it to stop."""


_zfit._bind_errors(FitError, DegenerateError, ParameterError, Cancelled)


def _format(value):
    """A field's value as a repr shows it: numbers to six digits."""
    if isinstance(value, bool) or value is None:
        return repr(value)
    if isinstance(value, float):
        return "%.6g" % value
    if hasattr(value, "tolist"):
        return _format(value.tolist())
    if isinstance(value, list):
        return "[%s]" % ", ".join(_format(v) for v in value)
    return repr(value)


class _Result:
    """What every result class shares: read-only fields, to_dict, repr and
    pickling by the class's name with the field values (an array field as
    the bytes of its values, shown as a read-only array when read)."""

    __slots__ = ("_values",)
    _fields = ()

    def __init__(self, values):
        if len(values) != len(self._fields):
            raise TypeError("%s takes %d field values, got %d" % (type(self).__name__, len(self._fields), len(values)))
        object.__setattr__(self, "_values", tuple(values))

    def __setattr__(self, name, value):
        raise AttributeError("%s is read-only" % type(self).__name__)

    def to_dict(self):
        """The result's fields as a dict of floats, bools and numpy arrays
        (the fields this fit has no value for are left out)."""
        return {name: getattr(self, name) for name, value in zip(self._fields, self._values) if value is not None}

    def __repr__(self):
        return "%s(%s)" % (type(self).__name__,
                           ", ".join("%s=%s" % (k, _format(v)) for k, v in self.to_dict().items()))

    def __reduce__(self):
        return type(self), (self._values,)


class _Transform(_Result):
    __slots__ = ()

    def apply(self, points):
        """The transform applied to points, an (n, 2) array-like: an (n, 2)
        array of matrix @ p + translation."""
        return _zfit._map_points(self.matrix, self.translation, points)


def _field(index, dtype, shape, doc):
    """The attribute of field `index`: a scalar as stored; an array from
    the bytes of its values, of the field's dtype and shape (-1: a count
    that varies, found from the number of values)."""
    if shape is None:
        return property(lambda self: self._values[index], doc=doc)
    fixed = math.prod(d for d in shape if d >= 0)
    varying = shape.count(-1)

    def read(self):
        raw = self._values[index]
        if raw is None:
            return None
        values = _np.frombuffer(raw, dtype)
        count = len(values) // fixed
        if varying == 2:
            count = math.isqrt(count)
        return values.reshape(tuple(count if d < 0 else d for d in shape))

    return property(read, doc=doc)


def _result_class(name, doc, fields):
    width = max(len(field[0]) for field in fields) + 2
    lines = [doc, ""]
    for field, _, _, text in fields:
        lines.append(field.ljust(width) + text.replace("\n", "\n" + " " * width))
    namespace = {"__slots__": (), "__doc__": "\n".join(lines), "__module__": __name__,
                 "_fields": tuple(field[0] for field in fields)}
    for index, (field, dtype, shape, text) in enumerate(fields):
        namespace[field] = _field(index, dtype, shape, text)
    base = _Transform if name in ("PointToPointFit", "PointToLineFit") else _Result
    return type(name, (base,), namespace)


_classes = {name: _result_class(name, doc, fields) for name, doc, fields in _zfit._result_tables()}
globals().update(_classes)
__all__ += sorted(_classes)
_zfit._bind_results(_classes)


def fit_many(family, point_sets, threads=0, *, columns=False, **options):
    """Fits every item of point_sets with one family, on native threads.

    family      "line", "circle", "ellipse", "parabola": each item is an (n, 2)
                array-like of points;
                "point_to_point": each item is a pair (target, source);
                "point_to_line": each item is a pair (points, lines)
    point_sets  a sequence (list, tuple, or an array whose first axis runs over
                the items)
    threads     how many threads fit the items: 0 (the default) one per core,
                never more than there are items. The calling thread fits a
                batch that takes less than about a tenth of a millisecond
                alone, starting no thread. The GIL is released while they
                run, so other Python threads go on meanwhile.
    columns     False: a list of result objects; True: a dict of numpy arrays
                (below)
    options     the keyword options of fit_<family>, with its defaults, applied
                to every item, and:
      weights   for the families that take weights: one entry per item, None or
                that item's weights (as fit_<family>'s weights=)
      timeout   seconds for the whole batch, for every family (see below)

    Returns, by default, a list in the order of point_sets. Each entry is the
    result object fit_<family> returns for the item (the same values: both run
    the same call), or, when the item failed, the FitError instance that
    fit_<family> would have raised (DegenerateError, ParameterError, ...): a
    failing item does not stop the batch. Raises ValueError naming the item
    for an item of the wrong shape, and TypeError for an option that
    fit_<family> does not take.

    With columns=True it returns a dict with one numpy array per field of the
    result class, of shape (N, ...) for N items, and `status`, each item's
    status code (0 for a result, else the code of the error the item would
    hold). No Python object is made per item, so this is the fast way to fit
    many small sets. A field whose length varies from item to item (ignored,
    covariance, the robust weights) is padded to the longest; an item without
    a value holds NaN (floats), -1 (integers) or False there, and so does
    every field of an item that failed. The values are those of the single
    fits, bit for bit, whatever the number of threads.

    Timeout: once `timeout` seconds have passed, no further item starts and
    the outlier searches that are running stop at their next poll. Items
    finished before then keep their results; every other item holds a
    Cancelled instance (status zsys_errCancelled). A fit that does not search
    (least squares, parabola, transforms) is not interrupted once started, so
    it finishes and keeps its result. With timeout=0 no item is fitted. An
    attention check the host installed on the calling thread is asked every
    10 ms; the failure it reports stops the batch in the same way, the items
    not fitted holding that status.

    Ctrl-C (a signal handler that raises) on the main thread stops the batch
    as the timeout does; once every worker has stopped, fit_many raises the
    handler's exception (KeyboardInterrupt). No thread outlives the call.
    """
    # A Python function, because the functions of an extension module do not
    # pickle and fit_many is what a scheduler sends to its worker processes
    # (functools.partial(zfit.fit_many, "circle")); it pickles by its name.
    return _zfit._fit_many(family, point_sets, threads, columns, options)
