// Errors, input views, the fit scope and result formatting of the Python
// module (see binding.hpp).
#include "binding.hpp"

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

#include <pythread.h>

#include <zfit/zfit.hpp>

namespace zpy {

namespace {

// ---- errors ----------------------------------------------------------------

enum class Kind { fit, degenerate, parameter, cancelled };

// The exception class of each failure status and, for a refused parameter,
// the keyword that carries it. What a status means comes from the status
// table (zfit::statusText); the keyword is added around it.
struct StatusClass {
    zfit_status code;
    Kind kind;
    const char* keyword;
};

constexpr StatusClass kStatusClasses[] = {
    {zmath_errDegenerate, Kind::degenerate, nullptr},
    {zmath_errServiceDegenerateA, Kind::degenerate, nullptr},
    {zmath_errServiceDegenerateB, Kind::degenerate, nullptr},
    {zmath_errFitMaxRmsErrorNegative, Kind::parameter, "max_rms"},
    {zmath_errFitNumIgnoreNegative, Kind::parameter, "ignore"},
    {zmath_errFitWeightedIgnore, Kind::parameter, "ignore"},
    {zmath_errFitWeightCount, Kind::parameter, nullptr},
    {zmath_errFitWeightNegative, Kind::parameter, nullptr},
    {zmath_errFitBadMode, Kind::parameter, nullptr},
    {zmath_errFitFixedRadiusNegative, Kind::parameter, "fixed_radius"},
    {zmath_errFitSolveFailed, Kind::degenerate, nullptr},
    {zmath_errFitSizeMismatch, Kind::parameter, nullptr},
    {zmath_errFitMaxIterations, Kind::parameter, "max_iterations"},
    {zstd_errBadCount, Kind::parameter, nullptr},
    {zstd_errOutOfMemory, Kind::fit, nullptr},
    {zstd_errBrokenPrecondition, Kind::parameter, nullptr},
    {zmath_errMatrixSingular, Kind::degenerate, nullptr},
    {zmath_errMatrixIllConditioned, Kind::degenerate, nullptr},
    {zmath_errMatrixShape, Kind::fit, nullptr},
    {zmath_errNoConvergence, Kind::degenerate, nullptr},
    {zmath_errZeroLength, Kind::degenerate, nullptr},
    {zsys_errCancelled, Kind::cancelled, nullptr},
    {zmet_errTooFewPoints, Kind::degenerate, nullptr},
    {zmet_errNotConverged, Kind::fit, "max_iterations"},
    {zmet_errOutOfRange, Kind::parameter, nullptr},
    {zmet_errNotFinite, Kind::parameter, nullptr},
    {zmet_errMaxRoundnessNegative, Kind::parameter, "max_roundness"},
    {zmet_errProfileOpen, Kind::degenerate, nullptr},
    {zmet_errNotCertified, Kind::fit, nullptr},
    {zmet_errSearchBudget, Kind::fit, nullptr},
    {zmet_errRobustEstimator, Kind::parameter, "robust"},
    {zmet_errRobustClip, Kind::parameter, "clip"},
    {zmet_errRobustScale, Kind::parameter, "scale"},
    {zmet_errRobustTolerance, Kind::parameter, "tolerance"},
    {zmet_errWeightNotFinite, Kind::parameter, "weights"},
    {zmet_errNoInliers, Kind::degenerate, "scale"},
};

// Every code of the status table has its class: a new code fails the build here.
#define ZPY_COUNT_STATUS_(name, bits, text) +1
static_assert(std::size(kStatusClasses) == 0 ZFIT_STATUS_TABLE(ZPY_COUNT_STATUS_));
#undef ZPY_COUNT_STATUS_

struct ErrorClasses {
    py::handle fit, degenerate, parameter, cancelled;
};

ErrorClasses& errorClasses()
{
    static ErrorClasses classes;
    return classes;
}

py::handle classOf(Kind kind)
{
    const ErrorClasses& c = errorClasses();
    switch (kind) {
    case Kind::degenerate: return c.degenerate;
    case Kind::parameter: return c.parameter;
    case Kind::cancelled: return c.cancelled;
    case Kind::fit: break;
    }
    return c.fit;
}

// The exception instance and its class for a failure status.
std::pair<py::object, py::handle> errorFor(zfit_status status, const std::string& detail)
{
    Kind kind = Kind::fit;
    const char* text = zfit_statusText(status);
    std::string message = text ? text : "the fit failed";
    for (const StatusClass& c : kStatusClasses) {
        if (c.code != status) continue;
        kind = c.kind;
        if (c.keyword) message += std::string(" (keyword ") + c.keyword + ")";
    }
    if (!detail.empty()) message += " (" + detail + ")";
    py::handle cls = classOf(kind);
    py::object error = cls(status, zfit::statusName(status), message);
    return {error, cls};
}

unsigned long& mainThread()
{
    static unsigned long ident = 0;
    return ident;
}

int64_t monotonicNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// How often the main thread looks for a pending signal while a search runs.
constexpr int64_t kSignalPollNs = 10'000'000;

std::string numberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string pointText(const zmath_vect& p) { return "(" + numberText(p.x) + ", " + numberText(p.y) + ")"; }

std::string shapeText(const py::array& a)
{
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

}  // namespace

// ---- errors ----------------------------------------------------------------

void registerRuntime(py::module_& m)
{
    m.def(
        "_bind_errors",
        [](py::handle fit, py::handle degenerate, py::handle parameter, py::handle cancelled) {
            // Owned for the process's life, as the module is.
            errorClasses() = {fit.inc_ref(), degenerate.inc_ref(), parameter.inc_ref(), cancelled.inc_ref()};
        },
        "Hands over the exception classes zfit/__init__.py defines.");

    py::dict names;
#define ZPY_STATUS_NAME_(name, bits, text) names[py::int_(ZFIT_STATUS_BITS(bits))] = #name;
    ZFIT_STATUS_TABLE(ZPY_STATUS_NAME_)
#undef ZPY_STATUS_NAME_
    m.attr("STATUS_NAMES") = names;

    m.def(
        "error_for_status",
        [](int64_t code) {
            if (code >= 0 || code < std::numeric_limits<int32_t>::min())
                raiseValue("code must be a failure status (a negative 32-bit value), got " + std::to_string(code));
            return errorFor(static_cast<zfit_status>(code), {}).first;
        },
        py::arg("code"),
        "The exception (not raised) that a fit failing with this status raises:\n"
        "FitError or one of DegenerateError, ParameterError, Cancelled.");

    mainThread() = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

void raiseStatus(zfit_status status, const std::string& detail)
{
    auto [error, cls] = errorFor(status, detail);
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
}

void raiseValue(const std::string& message) { throw py::value_error(message); }

py::object errorInstance(zfit_status status) { return errorFor(status, {}).first; }

py::handle fitErrorClass() { return errorClasses().fit; }

// ---- inputs -----------------------------------------------------------------

namespace {

// Anything array-like as an array; ValueError naming the argument otherwise.
py::array asArray(py::handle object, const char* name)
{
    // An array is taken as it is (asarray would return it unchanged): where
    // many small fits run, the import and the Python call would cost more
    // than the fit.
    if (py::isinstance<py::array>(object)) return py::reinterpret_borrow<py::array>(object);
    try {
        return py::module_::import("numpy").attr("asarray")(object);
    } catch (py::error_already_set& e) {
        raiseValue(std::string(name) + ": not an array of numbers (" + std::string(py::str(e.value())) + ")");
    }
}

}  // namespace

py::array asFloat64(py::handle object, const char* name)
{
    static_assert(sizeof(zmath_vect) == 2 * sizeof(double) && std::is_standard_layout_v<zmath_vect>);
    constexpr int needed =
        static_cast<int>(py::array::c_style) | static_cast<int>(py::detail::npy_api::NPY_ARRAY_ALIGNED_);
    py::array array = asArray(object, name);
    // The usual array first: numpy's own native float64 descriptor (kept for
    // the process's life), which asks no more of numpy than two fields.
    static const py::handle float64 = py::dtype::of<double>().release();
    if (array.dtype().is(float64) && (array.flags() & needed) == needed) return array;
    const char kind = array.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        raiseValue(std::string(name) + ": expected real numbers, got dtype " + std::string(py::str(array.dtype())));
    if (py::isinstance<py::array_t<double>>(array) && (array.flags() & needed) == needed) return array;
    py::module_ numpy = py::module_::import("numpy");
    return numpy.attr("require")(array, numpy.attr("float64"), "CA");
}

namespace {

// The value checks left pending on this thread (DeferredChecks), if any.
thread_local PendingChecks* pendingChecks = nullptr;

}  // namespace

bool ValueCheck::passes() const
{
    // Compared as the bits of |value|, which order non-negative doubles as
    // their values do and put NaN above infinity: the loop has no early exit
    // and no floating-point comparison, so it vectorises (nearly every array
    // passes).
    constexpr uint64_t kMagnitude = ~(uint64_t{1} << 63);
    const uint64_t most = std::bit_cast<uint64_t>(limit);
    uint64_t outside = 0;
    for (size_t k = 0; k < count; ++k) outside |= (most - (std::bit_cast<uint64_t>(values[k]) & kMagnitude)) >> 63;
    return outside == 0;
}

zfit_status ValueCheck::status() const
{
    if (passes()) return zfit_ok;
    for (size_t k = 0; k < count; ++k)
        if (!std::isfinite(values[k])) return zmet_errNotFinite;
    return zmet_errOutOfRange;
}

DeferredChecks::DeferredChecks(PendingChecks* pending) : previous_(pendingChecks) { pendingChecks = pending; }

DeferredChecks::~DeferredChecks() { pendingChecks = previous_; }

Points::Points(py::handle object, const char* name, double limit) : array_(asFloat64(object, name)), name_(name)
{
    if (array_.ndim() != 2 || array_.shape(1) != 2)
        raiseValue(std::string(name) + ": expected shape (n, 2), got " + shapeText(array_));
    if (array_.shape(0) > std::numeric_limits<int32_t>::max())
        raiseValue(std::string(name) + ": more points than the library takes (2147483647)");
    view_.size = static_cast<int32_t>(array_.shape(0));
    view_.capacity = view_.size;
    view_.begin = view_.size ? const_cast<zmath_vect*>(static_cast<const zmath_vect*>(array_.data())) : nullptr;
    if (pendingChecks && pendingChecks->add(coordinates(limit))) return;
    if (coordinates(limit).passes()) return;
    // The first non-finite row is named before any row out of range.
    for (int32_t i = 0; i < view_.size; ++i)
        if (!std::isfinite(view_.begin[i].x) || !std::isfinite(view_.begin[i].y))
            raiseStatus(zmet_errNotFinite,
                        std::string(name) + " row " + std::to_string(i) + " is " + pointText(view_.begin[i]));
    checkRange(limit);
}

ValueCheck Points::coordinates(double limit) const
{
    return {static_cast<const double*>(array_.data()), 2 * static_cast<size_t>(view_.size), limit};
}

void Points::checkRange(double limit) const
{
    if (pendingChecks) {
        // Usually a narrower limit for the points just read: one pass for both.
        ValueCheck* last = pendingChecks->last();
        if (last && last->values == coordinates(limit).values) {
            last->limit = std::min(last->limit, limit);
            return;
        }
        if (pendingChecks->add(coordinates(limit))) return;
    }
    if (coordinates(limit).passes()) return;
    for (int32_t i = 0; i < view_.size; ++i)
        if (!(std::fabs(view_.begin[i].x) <= limit && std::fabs(view_.begin[i].y) <= limit))
            raiseStatus(zmet_errOutOfRange, std::string(name_) + " row " + std::to_string(i) + " is " +
                                                pointText(view_.begin[i]) + "; this fit takes coordinates up to " +
                                                numberText(limit) + " in magnitude");
}

Weights::Weights(py::handle object, const char* name, int32_t expected, const char* perWhat)
    : array_(asFloat64(object, name))
{
    if (array_.ndim() != 1) raiseValue(std::string(name) + ": expected shape (n,), got " + shapeText(array_));
    if (array_.shape(0) != expected)
        raiseValue(std::string(name) + ": expected " + std::to_string(expected) + " values, one per " + perWhat +
                   ", got " + std::to_string(array_.shape(0)));
    view_.size = expected;
    view_.capacity = expected;
    view_.begin = expected ? const_cast<double*>(static_cast<const double*>(array_.data())) : nullptr;
    for (int32_t i = 0; i < expected; ++i)
        if (!std::isfinite(view_.begin[i]))
            raiseStatus(zmet_errWeightNotFinite,
                        std::string(name) + " row " + std::to_string(i) + " is " + numberText(view_.begin[i]));
}

int32_t toInt32(int64_t value, const char* name)
{
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        raiseValue(std::string(name) + " must fit in a 32-bit signed integer, got " + std::to_string(value));
    return static_cast<int32_t>(value);
}

// ---- the fit scope -----------------------------------------------------------

bool deadlineFrom(std::optional<double> timeout, zsys_deadline& deadline)
{
    if (!timeout) return false;
    const double seconds = *timeout;
    if (!(seconds >= 0.0))
        raiseValue("timeout must be a number of seconds >= 0, got " + std::string(py::repr(py::float_(seconds))));
    // An infinite timeout is no deadline at all.
    if (seconds == HUGE_VAL) return false;
    check(zsys_deadline_init(&deadline, seconds));
    return true;
}

bool onMainThread() { return PyThread_get_thread_ident() == mainThread(); }

FitScope::FitScope(std::optional<double> timeout)
{
    hasDeadline_ = deadlineFrom(timeout, deadline_);
    watchSignals_ = onMainThread();
}

FitScope::~FitScope()
{
    Py_XDECREF(pendingType_);
    Py_XDECREF(pendingValue_);
    Py_XDECREF(pendingTrace_);
}

FitScope::Hooks::Hooks(FitScope& scope) : scope_(scope)
{
    zsys_attention_installed(&scope.previous_, &scope.previousContext_);
    zsys_attention_install(&FitScope::attention, &scope);
    zstd_assert_installed(&scope.previousAssert_, &scope.previousAssertContext_);
    zstd_assert_install(&FitScope::brokenPrecondition, &scope);
}

FitScope::Hooks::~Hooks()
{
    zsys_attention_install(scope_.previous_, scope_.previousContext_);
    zstd_assert_install(scope_.previousAssert_, scope_.previousAssertContext_);
}

zfit_status FitScope::attention(void* context)
{
    FitScope& scope = *static_cast<FitScope*>(context);
    if (scope.previous_) {
        const zfit_status status = scope.previous_(scope.previousContext_);
        if (ZFIT_FAILED(status)) return status;
    }
    if (scope.hasDeadline_) {
        const zfit_status status = zsys_deadline_check(&scope.deadline_);
        if (ZFIT_FAILED(status)) return status;
    }
    if (scope.watchSignals_) {
        if (scope.pendingType_) return zsys_errCancelled;
        const int64_t now = monotonicNs();
        if (now >= scope.nextSignalPollNs_) {
            scope.nextSignalPollNs_ = now + kSignalPollNs;
            py::gil_scoped_acquire gil;
            if (PyErr_CheckSignals() != 0) {
                PyErr_Fetch(&scope.pendingType_, &scope.pendingValue_, &scope.pendingTrace_);
                return zsys_errCancelled;
            }
        }
    }
    return zfit_ok;
}

void FitScope::brokenPrecondition(void* context, int32_t line) { static_cast<FitScope*>(context)->brokenLine_ = line; }

void FitScope::finish(zfit_status status)
{
    if (pendingType_) {
        PyErr_Restore(pendingType_, pendingValue_, pendingTrace_);
        pendingType_ = pendingValue_ = pendingTrace_ = nullptr;
        throw py::error_already_set();
    }
    if (ZFIT_FAILED(status)) {
        if (status == zstd_errBrokenPrecondition && brokenLine_)
            raiseStatus(status, "reported at line " + std::to_string(brokenLine_));
        raiseStatus(status);
    }
}

}  // namespace zpy
