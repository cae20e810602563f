// zfit.fit_many: many fits of one family in one call, spread over a pool of
// native threads with the GIL released. Every item runs the family's F::fit
// (binding.hpp), the very call its fit_<family> makes, so an item's result
// is the single fit's.
//
// The calling thread reads the items with the GIL held, which only one
// thread can do (in a long batch, while the other workers fit the items
// read so far); everything else runs on the workers: the checks of the
// items' values (finite, within the fit's limit), the fits, and with
// columns=True the results, whose fields each worker writes into numpy
// arrays allocated before they start (fields.hpp), reusing one result
// record from item to item: no Python object is made per item.
//
// A family takes part by providing, beside the members binding.hpp lists,
//   static constexpr const char* name;      // "circle": fit_many's family word
//   static const Signature& signature();    // fit_<family>'s keywords (keywords.hpp)
//   static Options readOptions(Keywords&);  // the options read through it
//   static Input input(py::handle item, py::handle weights, const Options&);
//                                           // one entry of point_sets
// and calling addBatchFamily<F>() from its register function.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "binding.hpp"
#include "fields.hpp"
#include "keywords.hpp"

namespace zpy {

// An item of the pair families: a sequence of two array-likes.
std::pair<py::object, py::object> pairOf(py::handle item, const char* what);

// How a batch ended: each item's status, or nullopt for an item the batch
// stopped before it ran; `stop` is what stopped it (zsys_errCancelled when
// the timeout passed, or the failure the host's attention check reported).
struct BatchOutcome {
    std::vector<std::optional<zfit_status>> statuses;
    zfit_status stop = zfit_ok;
};

// What runBatch runs for each item: fit(item, worker) fits item < count on
// worker, 0 for the calling thread and 1, 2, ... for the pool's threads
// (worker < batchWorkers(count, threads)); a
// worker fits one item at a time, so what it keeps between items (a result
// record) needs no lock.
using BatchFit = std::function<zfit_status(std::size_t item, std::size_t worker)>;

// Runs fit for every item < count with the GIL released, on `threads`
// workers (0: one per core; never more than there are items left), the
// calling thread one of them. The calling thread fits the first items
// itself; only when items remain after a tenth of a millisecond does it
// start the other workers' threads and go on fitting beside them, so a
// small batch (or threads=1) starts no thread. When the system gives fewer
// threads than asked, fewer workers do the work. Every thread is joined
// before it returns. The timeout covers the whole batch: once it passes, searches stop
// at their next poll and no further item starts. The attention check the
// host installed on the calling thread is asked, and on the main thread
// pending signals are looked for, every few milliseconds: a failure it
// reports, or a signal handler that raises (Ctrl-C), stops the batch, and
// the handler's exception is raised once the workers are joined. An item's
// result never depends on the thread that fitted it.
//
// readItems, with the GIL, reads the items: a batch of at least
// kReadAlongsideFrom items that has threads to start starts them first,
// and they fit the items read while the calling thread reads the rest (fit
// waits for its item: BatchItems::waitFor); any other batch is read before
// any item is fitted. When readItems raises, the batch stops and its
// threads are joined before the exception goes on.
BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout, const BatchFit& fit,
                      const std::function<void()>& readItems);

// The fewest items for which fit_many starts its threads before it reads
// them: the fits of that many items outlast starting a thread.
constexpr std::size_t kReadAlongsideFrom = 1024;

// How many workers runBatch(count, threads, ...) may use at most, the
// calling thread included.
std::size_t batchWorkers(std::size_t count, std::size_t threads);

// Reads item `index` with `read`. A FitError it raises becomes the item's
// outcome (`refused`); a ValueError is raised again naming the item.
void readItem(std::size_t index, py::object& refused, const std::function<void()>& read);

// How far the calling thread has read a batch's items, for the workers that
// fit them meanwhile: a worker that catches up with the reading waits.
class ReadProgress {
public:
    // With the GIL: items [0, count) are read (count grows), or the reading
    // has ended, early when it failed.
    void publish(std::size_t count);
    void end();
    // On a worker: waits until item i is read or the reading ended; true
    // when item i is read.
    bool waitFor(std::size_t i);

private:
    bool readAlready(std::size_t i) const { return read_.load(std::memory_order_acquire) > i; }
    void wake();

    std::atomic<std::size_t> read_{0};
    std::atomic<bool> ended_{false};
    std::atomic<int> waiting_{0};
    std::mutex mutex_;
    std::condition_variable progressed_;
};

// The items of a batch as read with the GIL: the input of each item to fit,
// and the FitError of each item refused. The checks of the inputs' values
// are left to the workers, which make them (valuesPass) before they fit; an
// item that raises a FitError or ValueError while its checks wait is read
// again with them in place, so that it raises what its single fit raises.
// The items may be read while workers fit those read before (waitFor).
template <class Input>
class BatchItems {
public:
    explicit BatchItems(std::size_t count) : items_(count) {}

    // With the GIL: reads every item in order, read(i) returning item i's
    // input. The items read are offered to the workers as the reading goes
    // on; a ValueError (an item of the wrong shape) ends it early.
    template <class Read>
    void readAll(const Read& read)
    {
        constexpr std::size_t kPublishEvery = 16;
        try {
            for (std::size_t i = 0; i < items_.size(); ++i) {
                readDeferred(i, read);
                if ((i + 1) % kPublishEvery == 0) progress_.publish(i + 1);
            }
            progress_.publish(items_.size());
        } catch (...) {
            progress_.end();
            throw;
        }
        progress_.end();
    }

    std::size_t size() const { return items_.size(); }

    // On a worker: waits until item i is read; true when it has an input to
    // fit (false for an item refused as it was read, or not read at all).
    bool waitFor(std::size_t i) { return progress_.waitFor(i) && items_[i].input.has_value(); }
    const Input& input(std::size_t i) const { return *items_[i].input; }

    // On the worker fitting item i: zfit_ok when every check of its values
    // passes, else the status of the first that fails.
    zfit_status valuesPass(std::size_t i)
    {
        const zfit_status status = items_[i].checks.status();
        if (ZFIT_FAILED(status)) {
            items_[i].failedCheck = true;
            anyFailedCheck_.store(true, std::memory_order_relaxed);
        }
        return status;
    }

    // With the GIL, once the workers are done: each item whose values failed
    // a check is read again with every check in place, which refuses it.
    template <class Read>
    void readFailedAgain(const Read& read)
    {
        // Nearly every batch passes: no need to visit each item to know it.
        if (!anyFailedCheck_.load(std::memory_order_relaxed)) return;
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].failedCheck) readChecked(i, [&] { (void)read(i); });
    }

    // The items refused, each with its FitError.
    const std::vector<std::pair<std::size_t, py::object>>& refused() const { return refused_; }

private:
    struct Item {
        std::optional<Input> input;
        PendingChecks checks;
        bool failedCheck = false;  // written by the item's worker
    };

    // Reads item i with the checks left to the workers.
    template <class Read>
    void readDeferred(std::size_t i, const Read& read)
    {
        Item& item = items_[i];
        try {
            DeferredChecks deferred(&item.checks);
            item.input.emplace(read(i));
            return;
        } catch (py::error_already_set& e) {
            if (!e.matches(fitErrorClass())) throw;  // as readItem: not the item's fault
        } catch (const py::value_error&) {}
        item.checks.clear();
        readChecked(i, [&] { item.input.emplace(read(i)); });
    }

    // Reads item i with `readInto` and every check in place, as the single
    // fit reads it: an item it refuses joins the refused with its FitError.
    template <class ReadInto>
    void readChecked(std::size_t i, const ReadInto& readInto)
    {
        DeferredChecks none(nullptr);
        py::object refused;
        readItem(i, refused, readInto);
        if (refused) refused_.emplace_back(i, std::move(refused));
    }

    std::vector<Item> items_;
    std::atomic<bool> anyFailedCheck_{false};  // set by the workers; read once they are joined
    ReadProgress progress_;
    std::vector<std::pair<std::size_t, py::object>> refused_;
};

// The weights option of a batch: one entry per item, None for an item
// without weights (every item when the option was not given).
class ItemWeights {
public:
    // ValueError unless `weights` is None or has n entries.
    ItemWeights(const py::object& weights, std::size_t n);
    py::handle operator[](std::size_t item) const
    {
        return list_ ? py::handle(PyTuple_GET_ITEM(list_.ptr(), static_cast<py::ssize_t>(item))) : py::none();
    }

private:
    py::object list_;  // a tuple, when given
};

// fit_many's own keywords beside the family's: timeout, for every family.
const Signature& batchSignature(const Signature& family);

// The columns as fit_many returns them: a dict of the fields' arrays and
// `status`, each item's status (0 for a result).
py::dict columnDict(std::vector<Column>& columns, const std::vector<zfit_status>& statuses);

// What one worker keeps from item to item, on cache lines of its own.
template <class T>
struct alignas(64) WorkerSlot {
    std::optional<T> value;
};

using BatchFn = py::object (*)(py::handle pointSets, const py::dict& options, std::size_t threads, bool columns);
void addBatchFamily(const char* name, BatchFn fit);

template <class F>
py::object fitManyOf(py::handle pointSets, const py::dict& options, std::size_t threads, bool asColumns)
{
    Keywords keywords(options, batchSignature(F::signature()), "fit_many");
    const auto timeout = keywords.take<std::optional<double>>("timeout");
    const py::object weights = F::signature().fallback("weights") ? keywords.take("weights") : py::object(py::none());
    const typename F::Options familyOptions = F::readOptions(keywords);
    keywords.finish();

    // Tuples: no other thread can change them while an item is read.
    const py::tuple items(py::reinterpret_borrow<py::object>(pointSets));
    const std::size_t n = items.size();
    const ItemWeights itemWeights(weights, n);
    const auto read = [&](std::size_t i) {
        const py::handle item = PyTuple_GET_ITEM(items.ptr(), static_cast<py::ssize_t>(i));
        return F::input(item, itemWeights[i], familyOptions);
    };
    BatchItems<typename F::Input> batch(n);
    const std::function<void()> readItems = [&] { batch.readAll(read); };

    if (asColumns) {
        std::vector<Column> columns = columnsOf<typename F::Result>(n);
        const auto& fields = F::Result::fields();
        // One record per worker, made on its thread for its first item and
        // reused for the next: every fit writes all that its result reads.
        std::vector<WorkerSlot<typename F::Record>> records(batchWorkers(n, threads));
        const auto padItem = [&](std::size_t item) {
            for (Column& column : columns) column.pad(item);
        };
        const auto fitItem = [&](std::size_t item, std::size_t worker) -> zfit_status {
            if (!batch.waitFor(item)) return zfit_ok;  // refused as it was read: its row is padded below
            std::optional<typename F::Record>& record = records[worker].value;
            if (!record) record.emplace();
            zfit_status status = batch.valuesPass(item);
            if (!ZFIT_FAILED(status)) status = constructed(*record);
            if (!ZFIT_FAILED(status)) status = F::fit(familyOptions, batch.input(item), record->get());
            if (ZFIT_FAILED(status)) {
                // A record that could not be made is made again for the next item.
                if (ZFIT_FAILED(constructed(*record))) record.reset();
                padItem(item);
                return status;
            }
            // The rows a few items on, which this worker is likely to write
            // next (its runs are long), start coming into cache now.
            constexpr std::size_t kWriteAhead = 16;
            for (const Column& column : columns) column.prefetchRow(item + kWriteAhead);
            const typename F::Result result(**record);
            for (std::size_t f = 0; f < fields.size(); ++f) columns[f].put(item, fields[f], result);
            return status;
        };
        const BatchOutcome outcome = runBatch(n, threads, timeout, fitItem, readItems);
        batch.readFailedAgain(read);
        // The rows of the items the batch stopped before, and of those
        // refused, are padded here; the workers padded the others that
        // failed.
        std::vector<zfit_status> statuses(n, zfit_ok);
        for (std::size_t i = 0; i < n; ++i) {
            statuses[i] = outcome.statuses[i].value_or(outcome.stop);
            if (!outcome.statuses[i]) padItem(i);
        }
        for (const auto& [item, error] : batch.refused()) {
            statuses[item] = py::cast<zfit_status>(error.attr("code"));
            padItem(item);
        }
        return columnDict(columns, statuses);
    }

    std::vector<typename F::Record> records(n);
    for (const typename F::Record& record : records) check(constructed(record));
    const auto fitItem = [&](std::size_t item, std::size_t) -> zfit_status {
        if (!batch.waitFor(item)) return zfit_ok;  // refused as it was read: its error is set below
        const zfit_status checked = batch.valuesPass(item);
        if (ZFIT_FAILED(checked)) return checked;
        return F::fit(familyOptions, batch.input(item), records[item].get());
    };
    const BatchOutcome outcome = runBatch(n, threads, timeout, fitItem, readItems);
    batch.readFailedAgain(read);

    py::list results(n);
    for (std::size_t i = 0; i < n; ++i) {
        const zfit_status status = outcome.statuses[i].value_or(outcome.stop);
        results[i] = ZFIT_FAILED(status) ? errorInstance(status) : resultObject(typename F::Result(*records[i]));
    }
    for (const auto& [item, error] : batch.refused()) results[item] = error;
    return results;
}

template <class F>
void addBatchFamily()
{
    addBatchFamily(F::name, &fitManyOf<F>);
}

}  // namespace zpy
