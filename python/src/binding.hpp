// The machinery every fit function of the Python module shares: statuses
// raised as exceptions, numpy arrays viewed as the library's vectors, the
// scope a fit runs in (GIL released, attention and assertion hooks
// installed), owned result records and the common protocol of the result
// objects (repr, to_dict, pickling). The module computes nothing itself:
// every number it returns comes out of the library.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <zfit/zfit.hpp>

namespace zpy {

namespace py = pybind11;

// ---- errors ----------------------------------------------------------------

// Defines _bind_errors (zfit/__init__.py hands over FitError,
// DegenerateError, ParameterError and Cancelled, its own Python classes),
// STATUS_NAMES and error_for_status, and notes which thread is Python's main
// thread (the one that receives signals).
void registerRuntime(py::module_& m);

// Raises the exception of a failure status (FitError or one of its classes);
// detail, when given, is appended to the message.
[[noreturn]] void raiseStatus(zfit_status status, const std::string& detail = {});

inline void check(zfit_status status)
{
    if (ZFIT_FAILED(status)) raiseStatus(status);
}

// Raises ValueError with the message.
[[noreturn]] void raiseValue(const std::string& message);

// The exception instance (not raised) of a failure status, and the class
// every such instance belongs to.
py::object errorInstance(zfit_status status);
py::handle fitErrorClass();

// ---- inputs -----------------------------------------------------------------

// The argument as a read-only float64 array: an array that is already
// C-contiguous, aligned, native float64 is used as it is, anything else
// array-like is converted once. ValueError names the argument when the
// object is not numeric or not convertible.
py::array asFloat64(py::handle object, const char* name);

// The largest coordinate magnitude each fit takes. The library's sums run
// over powers of the coordinates: squares for the line, the transforms onto
// lines, the parabola and the geometric fits (which centre and scale the
// points before they iterate); fourth powers for the algebraic circle and
// the point-to-point transform; eighth for the algebraic ellipse. Beyond
// these limits (found by scaling a fit up until it failed, at 40 and 4,000
// points, and lowered for sums of up to 2**31 terms) the sums overflow and
// the fit would report the points degenerate, or return nonsense.
namespace limit {
constexpr double squares = 1e145;
constexpr double fourthPowers = 1e55;
constexpr double eighthPowers = 1e35;
}  // namespace limit

// A check of `count` doubles from `values` on: each finite and at most
// `limit` in magnitude. Made without the GIL, on any thread.
struct ValueCheck {
    const double* values;
    size_t count;
    double limit;

    bool passes() const;
    // zfit_ok, else zmet_errNotFinite when a value is not finite, else
    // zmet_errOutOfRange.
    zfit_status status() const;
};

// The checks of one item's values that its reading left to a worker, held
// in place: an item reads a few arrays at most.
class PendingChecks {
public:
    // False when it is full: the check is then made at once.
    bool add(const ValueCheck& check)
    {
        if (count_ == checks_.size()) return false;
        checks_[count_++] = check;
        return true;
    }
    // The check added last, or nullptr.
    ValueCheck* last() { return count_ ? &checks_[count_ - 1] : nullptr; }
    void clear() { count_ = 0; }

    // zfit_ok when every check passes, else the status of the first that fails.
    zfit_status status() const
    {
        for (size_t c = 0; c < count_; ++c)
            if (const zfit_status s = checks_[c].status(); ZFIT_FAILED(s)) return s;
        return zfit_ok;
    }

private:
    std::array<ValueCheck, 4> checks_{};
    size_t count_ = 0;
};

// While one is alive on a thread, the Points read there leave the checks of
// their values (finite, within the fit's limit) in `pending` instead of
// making them: fit_many's workers make them, in parallel and while the
// values are in their caches. Nothing is raised for those values meanwhile;
// an item that fails a check is read again without one, which raises what
// the single fit raises.
class DeferredChecks {
public:
    // nullptr: the checks are made at once again, until this one ends.
    explicit DeferredChecks(PendingChecks* pending);
    ~DeferredChecks();
    DeferredChecks(const DeferredChecks&) = delete;
    DeferredChecks& operator=(const DeferredChecks&) = delete;

private:
    PendingChecks* previous_;
};

// An (n, 2) array-like of points, viewed as the library's point vector
// without copying when the caller's array allows it. Every coordinate must
// be finite (else ParameterError zmet_errNotFinite naming the row) and, when
// a fit's limit is given, as checkRange(limit) says; under DeferredChecks
// both checks are left pending.
class Points {
public:
    Points(py::handle object, const char* name, double limit = std::numeric_limits<double>::max());

    // ParameterError zmet_errOutOfRange naming the first row with a
    // coordinate beyond `limit` in magnitude (left pending under
    // DeferredChecks).
    void checkRange(double limit) const;

    int32_t size() const { return view_.size; }
    // Read only: the vector borrows the array's memory and is never handed
    // to an operation that could grow or release it.
    const zstd_vector_zmath_vect* vector() const { return &view_; }
    const zmath_vect* data() const { return view_.begin; }
    // The underlying array (the caller's own when no conversion was needed).
    const py::array& array() const { return array_; }

private:
    // The check of every coordinate against `limit`.
    ValueCheck coordinates(double limit) const;

    py::array array_;
    zstd_vector_zmath_vect view_{};
    const char* name_;
};

// An (n,) array-like of weights, one per point of `points`, each finite
// (else ParameterError zmet_errWeightNotFinite naming the row).
class Weights {
public:
    Weights(py::handle object, const char* name, int32_t expected, const char* perWhat);

    const zstd_vectord* vector() const { return &view_; }
    const double* data() const { return view_.begin; }

private:
    py::array array_;
    zstd_vectord view_{};
};

// A count argument that the library takes as a 32-bit signed integer.
int32_t toInt32(int64_t value, const char* name);

// ---- the fit scope -----------------------------------------------------------

// Checks a timeout argument (seconds >= 0, or None; ValueError otherwise) and
// sets `deadline` from it. False when there is no deadline (None or inf).
bool deadlineFrom(std::optional<double> timeout, zsys_deadline& deadline);

// True on Python's main thread, the one that receives signals.
bool onMainThread();

// Runs one call into the library with the GIL released. While it runs, the
// calling thread has an attention check installed that
//   - passes on a check the host had installed before,
//   - stops the search once `timeout` seconds have passed (zsys_errCancelled),
//   - on the main thread, looks every few milliseconds for a pending signal
//     (Ctrl-C) and stops the search when a handler raised;
// and an assertion handler that turns a broken precondition into a status
// instead of ending the process. Both are removed when the call returns.
class FitScope {
public:
    explicit FitScope(std::optional<double> timeout = std::nullopt);
    ~FitScope();
    FitScope(const FitScope&) = delete;
    FitScope& operator=(const FitScope&) = delete;

    // Runs fit() (a callable returning zfit_status) and raises on failure:
    // the handler's exception when a signal handler raised (KeyboardInterrupt),
    // else the status's exception.
    template <class Fit>
    void run(Fit&& fit)
    {
        zfit_status status;
        {
            py::gil_scoped_release released;
            Hooks hooks(*this);
            status = fit();
        }
        finish(status);
    }

private:
    class Hooks {
    public:
        explicit Hooks(FitScope& scope);
        ~Hooks();
        Hooks(const Hooks&) = delete;
        Hooks& operator=(const Hooks&) = delete;

    private:
        FitScope& scope_;
    };

    static zfit_status attention(void* context);
    static void brokenPrecondition(void* context, int32_t line);
    void finish(zfit_status status);

    bool hasDeadline_ = false;
    zsys_deadline deadline_{};
    bool watchSignals_ = false;
    int64_t nextSignalPollNs_ = 0;
    zsys_attentionFn previous_ = nullptr;
    void* previousContext_ = nullptr;
    zsys_assertFn previousAssert_ = nullptr;
    void* previousAssertContext_ = nullptr;
    // The exception a signal handler raised during the fit (owned references).
    PyObject* pendingType_ = nullptr;
    PyObject* pendingValue_ = nullptr;
    PyObject* pendingTrace_ = nullptr;
    int32_t brokenLine_ = 0;
};

// ---- result records ----------------------------------------------------------

// The records of a fit that makes more than one library call (an outlier
// search and the fit of the points it kept, a fit and its uncertainty): S is
// a struct of them, default-constructed on entry and destructed on every
// exit like a zfit::Result, and offered in the same way (get() for the fit,
// * for the result object). S::status() is the status of its records'
// construction.
template <class S>
class Records {
public:
    Records() = default;
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    S* get() { return &records_; }
    const S& operator*() const { return records_; }
    const S* operator->() const { return &records_; }

private:
    S records_{};
};

// How the construction of a fit's records went: a failure (out of memory)
// is raised before the fit runs.
template <class R>
zfit_status constructed(const zfit::Result<R>& record)
{
    return record.status();
}
template <class S>
zfit_status constructed(const Records<S>& records)
{
    return records->status();
}

// A record that only some fits fill (the geometric fit after a search, a
// robust fit): made when the fit first needs it, so that the others pay
// neither its construction nor its destruction.
template <class R>
class OnDemand {
public:
    // Makes the record (once); a failure is its construction's (out of memory).
    zfit_status make()
    {
        if (!record_) record_.emplace();
        return record_->status();
    }
    bool made() const { return record_.has_value(); }
    R* get() { return record_->get(); }
    const R& operator*() const { return **record_; }
    const R* operator->() const { return record_->get(); }

private:
    std::optional<zfit::Result<R>> record_;
};

// What one circle or ellipse fit leaves: the algebraic record (the whole
// fit, or the outlier search in front of a geometric fit, which then lists
// the discarded points); with geometric=True the geometric fit of the kept
// points; and the robust fit, which is the answer with robust= and hands
// its outlier count to the search with ignore="auto".
template <class Algebraic, class Geometric, class Robust>
struct ShapeRecords {
    zfit::Result<Algebraic> algebraic;
    OnDemand<Geometric> geometric;
    OnDemand<Robust> robust;
    bool isRobust = false;  // the robust fit is the answer

    zfit_status status() const { return algebraic.status(); }
};

// The indices of the points a fit discarded, copied out of its record.
template <class R>
std::vector<int32_t> ignoredOf(const R& record)
{
    const std::span<const int32_t> ignored = zfit::ignored(record);
    return {ignored.begin(), ignored.end()};
}

// ---- one fit, alone or in a batch ------------------------------------------------

// fit_<family> and every item of fit_many run the same family type F:
//   F::Options  the keyword options, checked and converted (with the GIL)
//   F::Input    one item's arrays viewed as the library's vectors (with the GIL)
//   F::Record   the library's result record (a zfit::Result or Records)
//   F::Result   the result (fields.hpp), made from the filled record; the
//               table of its fields makes the Python object or the columns
//   static zfit_status fit(const Options&, const Input&, <record>*)
//               the library call alone: it touches no Python object, so it
//               runs with the GIL released, on any thread
// and, for fit_many (see many.hpp), its name, the keyword reader and the
// reader of one item.

// A single fit: the call runs in a FitScope; a failure raises.
template <class F>
typename F::Result fitOne(const typename F::Options& options, const typename F::Input& input,
                          std::optional<double> timeout = std::nullopt)
{
    typename F::Record record;
    check(constructed(record));
    FitScope scope(timeout);
    scope.run([&] { return F::fit(options, input, record.get()); });
    return typename F::Result(*record);
}

// ---- families ------------------------------------------------------------------

void registerLine(py::module_& m);
void registerCircle(py::module_& m);
void registerEllipse(py::module_& m);
void registerParabola(py::module_& m);
void registerPointToPoint(py::module_& m);
void registerPointToLine(py::module_& m);
// zfit.fit_many over the families registered with it (many.hpp).
void registerFitMany(py::module_& m);
// _result_tables and _bind_results (fields.hpp).
void registerResultTables(py::module_& m);
// zfit.roundness: the reference circles of form measurement.
void registerRoundness(py::module_& m);

}  // namespace zpy
