// zfit.fit_many: the keyword reader, the thread pool and the function itself
// (see many.hpp).
#include "many.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <time.h>

namespace zpy {

namespace {

// How often the calling thread, while the batch runs, looks for a signal and
// asks the host's attention check.
constexpr auto kCallerPoll = std::chrono::milliseconds(10);
// How long the calling thread fits alone before it starts the pool: about
// what starting and joining two threads costs, so that a batch this small
// is done before threads would have paid off.
constexpr auto kInlineBudget = std::chrono::microseconds(100);
// The most items a worker takes at once. Items next to each other share the
// cache lines of every column (eight scalars to a line), and the processor
// fetches lines ahead of the ones a worker writes: runs of a few dozen items
// left the workers' writes interleaved closely enough that each run cost
// about a microsecond in lines moved between the cores (a fifth more time
// per item on two threads than on one), where runs of a few hundred cost
// next to nothing. Runs still shrink towards the end of the batch, so the
// workers finish together.
constexpr std::size_t kLongestRun = 256;

// The time of the calling thread's polls: a coarse monotonic clock (of a
// few milliseconds' resolution, which polls 10 ms apart allow) where the
// system has one. It is read between any two items, and next to a fit of a
// fraction of a microsecond the precise clock is not free.
std::chrono::nanoseconds pollClock()
{
#if defined(CLOCK_MONOTONIC_COARSE)
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
#else
    return std::chrono::steady_clock::now().time_since_epoch();
#endif
}

// The items of one batch and what its workers share.
class Batch {
public:
    Batch(std::size_t count, std::optional<double> timeout, const BatchFit& fit)
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

    // The life of pool thread `self` (1 to `workers` - 1; the calling thread
    // is worker 0): it takes the next run of items until none is left or the
    // batch stops. Searches on its thread stop when the batch does.
    void work(std::size_t workers, std::size_t self)
    {
        zsys_attention_install(&Batch::attention, this);
        zstd_assert_install(&Batch::brokenPrecondition, nullptr);
        for (;;) {
            const auto [first, end] = takeRun(workers);
            if (first == end) break;
            for (std::size_t i = first; i < end && !ZFIT_FAILED(stopped()); ++i) statuses_[i] = fit_(i, self);
        }
        zsys_attention_install(nullptr, nullptr);
        zstd_assert_install(nullptr, nullptr);
        {
            std::lock_guard lock(mutex_);
            --running_;
        }
        finished_.notify_all();
    }

    // The calling thread fits items itself until the budget is spent, all are
    // done or the batch stops; true when items are left for a pool. Searches
    // ask `poll` (with the batch's stop) through the attention check
    // installed meanwhile, and it is asked between items every `every`.
    template <class Poll>
    bool workInline(std::chrono::microseconds budget, std::chrono::milliseconds every, Poll& poll)
    {
        CallerHooks<Poll> hooks(*this, every, poll);
        const auto start = std::chrono::steady_clock::now();
        while (!ZFIT_FAILED(hooks.attention())) {
            const std::size_t i = next_.load(std::memory_order_relaxed);
            if (i >= count_) break;
            if (std::chrono::steady_clock::now() - start > budget) return true;
            next_.store(i + 1, std::memory_order_relaxed);
            statuses_[i] = fit_(i, 0);
        }
        return false;
    }

    // Once the pool runs, the calling thread is one of its `workers`: it takes
    // runs of items as they do, with the hooks of workInline, until none is
    // left or the batch stops.
    template <class Poll>
    void workAlongside(std::size_t workers, std::chrono::milliseconds every, Poll& poll)
    {
        CallerHooks<Poll> hooks(*this, every, poll);
        for (;;) {
            const auto [first, end] = takeRun(workers);
            if (first == end) break;
            for (std::size_t i = first; i < end && !ZFIT_FAILED(hooks.attention()); ++i) statuses_[i] = fit_(i, 0);
        }
    }

    std::size_t remaining() const { return count_ - std::min(count_, next_.load()); }

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
    // The attention check of the calling thread while it fits: the batch's
    // stop, then every `every` the caller's poll. Installed, with the
    // assertion handler, for the life of the object; what was installed
    // before is put back at its end.
    template <class Poll>
    class CallerHooks {
    public:
        CallerHooks(Batch& batch, std::chrono::milliseconds every, Poll& poll)
            : batch_(batch), poll_(poll), every_(every), next_(pollClock() + every)
        {
            zsys_attention_installed(&previous_, &previousContext_);
            zsys_attention_install(&CallerHooks::check, this);
            zstd_assert_installed(&previousAssert_, &previousAssertContext_);
            zstd_assert_install(&Batch::brokenPrecondition, nullptr);
        }
        ~CallerHooks()
        {
            zsys_attention_install(previous_, previousContext_);
            zstd_assert_install(previousAssert_, previousAssertContext_);
        }
        CallerHooks(const CallerHooks&) = delete;
        CallerHooks& operator=(const CallerHooks&) = delete;

        // Asked by the searches, and between items.
        zfit_status attention()
        {
            const auto now = pollClock();
            if (now >= next_) {
                next_ = now + every_;
                poll_();
            }
            return batch_.stopped();
        }

    private:
        static zfit_status check(void* hooks) { return static_cast<CallerHooks*>(hooks)->attention(); }

        Batch& batch_;
        Poll& poll_;
        std::chrono::milliseconds every_;
        std::chrono::nanoseconds next_;
        zsys_attentionFn previous_ = nullptr;
        void* previousContext_ = nullptr;
        zsys_assertFn previousAssert_ = nullptr;
        void* previousAssertContext_ = nullptr;
    };

    // The next items [first, end) for one of `workers` threads: runs of up to
    // kLongestRun that shrink towards the end, a quarter of each worker's
    // share of what is left, so that the workers finish together. Empty when
    // the batch is done or has stopped.
    std::pair<std::size_t, std::size_t> takeRun(std::size_t workers)
    {
        std::size_t first = next_.load(std::memory_order_relaxed);
        std::size_t size = 0;
        do {
            if (first >= count_ || ZFIT_FAILED(stopped())) return {0, 0};
            size = std::clamp<std::size_t>((count_ - first) / (4 * workers), 1, kLongestRun);
        } while (!next_.compare_exchange_weak(first, first + size, std::memory_order_relaxed));
        return {first, first + size};
    }

    static zfit_status attention(void* batch) { return static_cast<Batch*>(batch)->stopped(); }
    // The library then returns zstd_errBrokenPrecondition for the item.
    static void brokenPrecondition(void*, int32_t) {}

    const BatchFit& fit_;
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

}  // namespace

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

ItemWeights::ItemWeights(const py::object& weights, std::size_t n)
{
    if (!weights || weights.is_none()) return;
    py::tuple list(weights);
    if (list.size() != n)
        raiseValue("weights: expected " + std::to_string(n) + " entries, one per item (None or its weights), got " +
                   std::to_string(list.size()));
    list_ = std::move(list);
}

// ---- the pool -------------------------------------------------------------------

std::size_t batchWorkers(std::size_t count, std::size_t threads)
{
    return std::max<std::size_t>(1, poolSize(threads, count));
}

BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout, const BatchFit& fit,
                      const std::function<void()>& readItems)
{
    const bool readAlongside = count >= kReadAlongsideFrom && poolSize(threads, count) > 1;
    if (!readAlongside) readItems();
    Batch batch(count, timeout, fit);
    if (count == 0) return batch.outcome();
    const bool watchSignals = onMainThread();
    PendingSignal signal;
    // What the calling thread asks while the batch runs: the host's check
    // and, on the main thread, the signal handlers.
    zsys_attentionFn hostCheck = nullptr;
    void* hostContext = nullptr;
    zsys_attention_installed(&hostCheck, &hostContext);
    const auto poll = [&] {
        if (hostCheck) {
            const zfit_status status = hostCheck(hostContext);
            if (ZFIT_FAILED(status)) batch.stop(status);
        }
        if (watchSignals) {
            py::gil_scoped_acquire gil;
            if (signal.check()) batch.stop(zsys_errCancelled);
        }
    };
    // The calling thread is one of the workers: the pool has the others.
    std::vector<std::thread> pool;
    const auto startPool = [&] {
        const std::size_t workers = poolSize(threads, batch.remaining());
        pool.reserve(workers - 1);
        for (std::size_t self = 1; self < workers; ++self) {
            batch.workerStarting();
            try {
                pool.emplace_back([&batch, workers, self] { batch.work(workers, self); });
            } catch (const std::system_error&) {
                // The system has no more threads to give: fewer do the work.
                batch.workerFailedToStart();
                break;
            }
        }
    };
    const auto joinPool = [&](auto&& whileWaiting) {
        batch.waitForWorkers(whileWaiting);
        for (std::thread& worker : pool) worker.join();
    };
    if (readAlongside) {
        startPool();
        try {
            readItems();
        } catch (...) {
            batch.stop(zsys_errCancelled);
            py::gil_scoped_release released;
            joinPool([] {});
            throw;
        }
        py::gil_scoped_release released;
        batch.workAlongside(pool.size() + 1, kCallerPoll, poll);
        joinPool(poll);
    } else {
        py::gil_scoped_release released;
        if (batch.workInline(kInlineBudget, kCallerPoll, poll)) {
            startPool();
            batch.workAlongside(pool.size() + 1, kCallerPoll, poll);
            joinPool(poll);
        }
    }
    signal.raiseIfAny();
    return batch.outcome();
}

void ReadProgress::publish(std::size_t count)
{
    read_.store(count);
    wake();
}

void ReadProgress::end()
{
    ended_.store(true);
    wake();
}

void ReadProgress::wake()
{
    // A worker counts itself waiting before it looks at the progress again
    // (both sequentially consistent): it sees this progress, or is woken.
    if (waiting_.load() == 0) return;
    std::lock_guard lock(mutex_);
    progressed_.notify_all();
}

bool ReadProgress::waitFor(std::size_t i)
{
    if (readAlready(i)) return true;
    std::unique_lock lock(mutex_);
    ++waiting_;
    progressed_.wait(lock, [&] { return read_.load() > i || ended_.load(); });
    --waiting_;
    return read_.load() > i;
}

void addBatchFamily(const char* name, BatchFn fit) { batchFamilies().emplace_back(name, fit); }

const Signature& batchSignature(const Signature& family)
{
    // One per family, made the first time (with the GIL).
    static std::vector<std::pair<const Signature*, std::unique_ptr<Signature>>> made;
    for (const auto& [of, signature] : made)
        if (of == &family) return *signature;
    std::vector<Keyword> keywords = family.keywords();
    if (!family.fallback("timeout")) keywords.push_back({"timeout", "None", "seconds for the whole batch"});
    made.emplace_back(&family, std::make_unique<Signature>(family.function(), family.items(), keywords));
    return *made.back().second;
}

py::dict columnDict(std::vector<Column>& columns, const std::vector<zfit_status>& statuses)
{
    py::dict out;
    py::array_t<int32_t> status(static_cast<py::ssize_t>(statuses.size()));
    std::copy(statuses.begin(), statuses.end(), status.mutable_data());
    out["status"] = status;
    for (Column& column : columns) out[column.name()] = column.finish();
    return out;
}

void registerFitMany(py::module_& m)
{
    m.def(
        "_fit_many",
        [](const std::string& family, py::handle pointSets, int64_t threads, bool columns, const py::dict& options) {
            if (threads < 0) raiseValue("threads must be >= 0 (0: one per core), got " + std::to_string(threads));
            std::string known;
            for (const auto& [name, fitMany] : batchFamilies()) {
                if (name == family) return fitMany(pointSets, options, static_cast<std::size_t>(threads), columns);
                known += (known.empty() ? "" : ", ") + name;
            }
            raiseValue("family must be one of " + known + ", got " + std::string(py::repr(py::str(family))));
        },
        py::arg("family"), py::arg("point_sets"), py::arg("threads"), py::arg("columns"), py::arg("options"),
        "zfit.fit_many without its name (zfit/__init__.py).");
}

}  // namespace zpy
