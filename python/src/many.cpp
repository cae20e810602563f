// zfit.fit_many: the keyword reader, the thread pool and the function itself
// (see many.hpp).
#include "many.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace zpy {

namespace {

// How often the calling thread, while the workers fit, looks for a signal and
// asks the host's attention check.
constexpr auto kCallerPoll = std::chrono::milliseconds(10);

// The items of one batch and what its workers share.
class Batch {
public:
    Batch(std::size_t count, std::optional<double> timeout, const std::function<zfit_status(std::size_t)>& fit)
        : fit_(fit), count_(count), statuses_(count)
    {
        hasDeadline_ = deadlineFrom(timeout, deadline_);
    }

    // Called before a worker thread starts, and again if it could not (the
    // workers started before may already be finishing).
    void workerStarting()
    {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    void workerFailedToStart()
    {
        std::lock_guard lock(mutex_);
        --running_;
    }

    // A worker's life: it takes the next item until none is left or the
    // batch stops. Searches on its thread stop when the batch does.
    void work()
    {
        zsys_attention_install(&Batch::attention, this);
        zstd_assert_install(&Batch::brokenPrecondition, nullptr);
        while (!ZFIT_FAILED(stopped())) {
            const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= count_) break;
            statuses_[i] = fit_(i);
        }
        zsys_attention_install(nullptr, nullptr);
        zstd_assert_install(nullptr, nullptr);
        {
            std::lock_guard lock(mutex_);
            --running_;
        }
        finished_.notify_all();
    }

    // Stops the batch for `reason`; the first reason given stays.
    void stop(zfit_status reason)
    {
        zfit_status running = zfit_ok;
        stop_.compare_exchange_strong(running, reason);
    }

    // Why the batch stopped, or zfit_ok while it goes on.
    zfit_status stopped()
    {
        if (hasDeadline_ && ZFIT_FAILED(zsys_deadline_check(&deadline_))) stop(zsys_errCancelled);
        return stop_.load();
    }

    // Waits until every worker has finished, calling poll() every few
    // milliseconds meanwhile.
    template <class Poll>
    void waitForWorkers(Poll&& poll)
    {
        std::unique_lock lock(mutex_);
        while (!finished_.wait_for(lock, kCallerPoll, [this] { return running_ == 0; })) {
            lock.unlock();
            poll();
            lock.lock();
        }
    }

    BatchOutcome outcome() { return {std::move(statuses_), stop_.load()}; }

private:
    static zfit_status attention(void* batch) { return static_cast<Batch*>(batch)->stopped(); }
    // The library then returns zstd_errBrokenPrecondition for the item.
    static void brokenPrecondition(void*, int32_t) {}

    const std::function<zfit_status(std::size_t)>& fit_;
    const std::size_t count_;
    std::vector<std::optional<zfit_status>> statuses_;
    std::atomic<std::size_t> next_{0};
    std::atomic<zfit_status> stop_{zfit_ok};
    bool hasDeadline_ = false;
    zsys_deadline deadline_{};
    std::mutex mutex_;
    std::condition_variable finished_;
    std::size_t running_ = 0;  // guarded by mutex_
};

// An exception a signal handler raised, held while the workers wind down.
class PendingSignal {
public:
    PendingSignal() = default;
    PendingSignal(const PendingSignal&) = delete;
    PendingSignal& operator=(const PendingSignal&) = delete;
    ~PendingSignal()
    {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(trace_);
    }

    // With the GIL: runs the handlers of pending signals; true when one raised.
    bool check()
    {
        if (type_ || PyErr_CheckSignals() == 0) return false;
        PyErr_Fetch(&type_, &value_, &trace_);
        return true;
    }
    // With the GIL: raises the held exception, if any.
    void raiseIfAny()
    {
        if (!type_) return;
        PyErr_Restore(type_, value_, trace_);
        type_ = value_ = trace_ = nullptr;
        throw py::error_already_set();
    }

private:
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* trace_ = nullptr;
};

std::size_t poolSize(std::size_t threads, std::size_t count)
{
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    return std::min(threads, count);
}

std::vector<std::pair<std::string, BatchFn>>& batchFamilies()
{
    static std::vector<std::pair<std::string, BatchFn>> families;
    return families;
}

constexpr const char* kFitManyDoc = R"(Fits every item of point_sets with one family, on a pool of native threads.

family      "line", "circle", "ellipse", "parabola": each item is an (n, 2)
            array-like of points;
            "point_to_point": each item is a pair (target, source);
            "point_to_line": each item is a pair (points, lines)
point_sets  a sequence (list, tuple, or an array whose first axis runs over
            the items)
threads     how many threads fit the items: 0 (the default) one per core,
            never more than there are items. The GIL is released while they
            run, so other Python threads go on meanwhile.
options     the keyword options of fit_<family>, with its defaults, applied
            to every item, and:
  weights   for the families that take weights: one entry per item, None or
            that item's weights (as fit_<family>'s weights=)
  timeout   seconds for the whole batch, for every family (see below)

Returns a list in the order of point_sets. Each entry is the result object
fit_<family> returns for the item (the same values: both run the same call),
or, when the item failed, the FitError instance that fit_<family> would have
raised (DegenerateError, ParameterError, ...): a failing item does not stop
the batch. Raises ValueError naming the item for an item of the wrong shape,
and TypeError for an option that fit_<family> does not take.

Timeout: once `timeout` seconds have passed, no further item starts and the
outlier searches that are running stop at their next poll. Items finished
before then keep their results; every other item holds a Cancelled instance.
A fit that does not search (least squares, parabola, transforms) is not
interrupted once started, so it finishes and keeps its result. With
timeout=0 no item is fitted. An attention check the host installed on the
calling thread is asked every 10 ms; the failure it reports stops the batch
in the same way, the items not fitted holding that status.

Ctrl-C (a signal handler that raises) on the main thread stops the batch as
the timeout does; once every worker has stopped, fit_many raises the
handler's exception (KeyboardInterrupt). No thread outlives the call.)";

}  // namespace

// ---- keywords -----------------------------------------------------------------

Keywords::Keywords(const py::kwargs& given, const char* family) : left_(py::dict(given)), family_(family) {}

py::object Keywords::take(const char* name)
{
    if (!left_.contains(name)) return py::object();
    return left_.attr("pop")(name);
}

void Keywords::finish() const
{
    if (left_.empty()) return;
    std::string names;
    for (auto item : left_) names += (names.empty() ? "" : ", ") + std::string(py::str(item.first));
    throw py::type_error(std::string("fit_many: fit_") + family_ + " takes no option " + names);
}

void Keywords::wrongType(const char* name, py::handle value) const
{
    throw py::type_error(std::string("fit_many: option ") + name + " of fit_" + family_ + " cannot be " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
}

// ---- items --------------------------------------------------------------------

std::pair<py::object, py::object> pairOf(py::handle item, const char* what)
{
    if (!PySequence_Check(item.ptr()) || PySequence_Size(item.ptr()) != 2) {
        PyErr_Clear();
        raiseValue(std::string("expected a pair ") + what);
    }
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(item);
    return {pair[0], pair[1]};
}

void readItem(std::size_t index, py::object& refused, const std::function<void()>& read)
{
    try {
        read();
    } catch (py::error_already_set& e) {
        if (!e.matches(fitErrorClass())) throw;
        refused = e.value();
    } catch (const py::value_error& e) {
        raiseValue("point_sets[" + std::to_string(index) + "]: " + e.what());
    }
}

py::list weightsPerItem(const py::object& weights, std::size_t n)
{
    if (!weights || weights.is_none()) {
        py::list none(n);
        for (std::size_t i = 0; i < n; ++i) none[i] = py::none();
        return none;
    }
    py::list list(weights);
    if (list.size() != n)
        raiseValue("weights: expected " + std::to_string(n) + " entries, one per item (None or its weights), got " +
                   std::to_string(list.size()));
    return list;
}

// ---- the pool -------------------------------------------------------------------

BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout,
                      const std::function<zfit_status(std::size_t)>& fit)
{
    Batch batch(count, timeout, fit);
    if (count == 0) return batch.outcome();
    const bool watchSignals = onMainThread();
    PendingSignal signal;
    bool noThread = false;
    {
        py::gil_scoped_release released;
        const std::size_t wanted = poolSize(threads, count);
        std::vector<std::thread> pool;
        pool.reserve(wanted);
        for (std::size_t t = 0; t < wanted; ++t) {
            batch.workerStarting();
            try {
                pool.emplace_back([&batch] { batch.work(); });
            } catch (const std::system_error&) {
                // The system has no more threads to give: fewer do the work.
                batch.workerFailedToStart();
                break;
            }
        }
        noThread = pool.empty();
        batch.waitForWorkers([&] {
            zsys_attentionFn hostCheck = nullptr;
            void* hostContext = nullptr;
            zsys_attention_installed(&hostCheck, &hostContext);
            if (hostCheck) {
                const zfit_status status = hostCheck(hostContext);
                if (ZFIT_FAILED(status)) batch.stop(status);
            }
            if (watchSignals) {
                py::gil_scoped_acquire gil;
                if (signal.check()) batch.stop(zsys_errCancelled);
            }
        });
        for (std::thread& worker : pool) worker.join();
    }
    signal.raiseIfAny();
    if (noThread) throw std::runtime_error("fit_many: the system could not start a thread");
    return batch.outcome();
}

void addBatchFamily(const char* name, BatchFn fit) { batchFamilies().emplace_back(name, fit); }

void registerFitMany(py::module_& m)
{
    m.def(
        "_fit_many",
        [](const std::string& family, py::handle pointSets, int64_t threads, const py::kwargs& options) {
            if (threads < 0) raiseValue("threads must be >= 0 (0: one per core), got " + std::to_string(threads));
            std::string known;
            for (const auto& [name, fitMany] : batchFamilies()) {
                if (name == family) return fitMany(pointSets, options, static_cast<std::size_t>(threads));
                known += (known.empty() ? "" : ", ") + name;
            }
            raiseValue("family must be one of " + known + ", got " + std::string(py::repr(py::str(family))));
        },
        py::arg("family"), py::arg("point_sets"), py::arg("threads") = 0, "zfit.fit_many without its name.");
    // A Python function, because the functions of an extension module do not
    // pickle and fit_many is what a scheduler sends to its worker processes
    // (functools.partial(zfit.fit_many, "circle")); a Python function pickles
    // by its name.
    py::exec(R"PY(
def fit_many(family, point_sets, threads=0, **options):
    return _fit_many(family, point_sets, threads, **options)
)PY",
             m.attr("__dict__"));
    m.attr("fit_many").attr("__doc__") = kFitManyDoc;
}

}  // namespace zpy
