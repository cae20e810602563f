// zfit.fit_many: many fits of one family in one call, spread over a pool of
// native threads with the GIL released. Every item runs the family's F::fit
// (binding.hpp), the very call its fit_<family> makes, so an item's result
// is the single fit's.
//
// The calling thread reads the items with the GIL held, which only one
// thread can do; everything else runs on the workers: the checks of the
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

#include <cstddef>
#include <functional>
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
BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout, const BatchFit& fit);

// How many workers runBatch(count, threads, ...) may use at most, the
// calling thread included.
std::size_t batchWorkers(std::size_t count, std::size_t threads);

// Reads item `index` with `read`. A FitError it raises becomes the item's
// outcome (`refused`); a ValueError is raised again naming the item.
void readItem(std::size_t index, py::object& refused, const std::function<void()>& read);

// The items of a batch as read with the GIL: the input of each item to
// fit, and the FitError of each item refused. The checks of the inputs'
// values are left to the workers, which make them (valuesPass) before they
// fit; an item that raises a FitError or ValueError while its checks wait
// is read again with them in place, so that it raises what its single fit
// raises.
template <class Input>
class BatchItems {
public:
    // read(i) returns item i's input.
    template <class Read>
    BatchItems(std::size_t count, const Read& read)
    {
        inputs_.reserve(count);
        toFit_.reserve(count);
        firstCheck_.reserve(count + 1);
        checks_.reserve(count);
        DeferredChecks deferred(&checks_);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t mark = checks_.size();
            if (!readDeferred(i, mark, read)) continue;
            toFit_.push_back(i);
            firstCheck_.push_back(mark);
        }
        firstCheck_.push_back(checks_.size());
        failedCheck_.resize(toFit_.size());
    }

    // The inputs read, k < size(): item(k) of the batch.
    std::size_t size() const { return toFit_.size(); }
    std::size_t item(std::size_t k) const { return toFit_[k]; }
    const Input& input(std::size_t k) const { return inputs_[k]; }

    // On the worker fitting input k: zfit_ok when every check of its values
    // passes, else the status of the first that fails.
    zfit_status valuesPass(std::size_t k)
    {
        for (std::size_t c = firstCheck_[k]; c < firstCheck_[k + 1]; ++c) {
            const zfit_status status = checks_[c].status();
            if (ZFIT_FAILED(status)) {
                failedCheck_[k] = 1;
                return status;
            }
        }
        return zfit_ok;
    }

    // Asks the memory for input k's values before its worker reads them
    // (reading the items left them to be fetched one by one).
    void prefetch(std::size_t k) const
    {
        constexpr std::size_t kLine = 64 / sizeof(double);
        for (std::size_t c = firstCheck_[k]; c < firstCheck_[k + 1]; ++c)
            for (std::size_t at = 0; at < checks_[c].count; at += kLine) __builtin_prefetch(checks_[c].values + at);
    }

    // With the GIL, once the workers are done: each item whose values failed
    // a check is read again with every check in place, which refuses it.
    template <class Read>
    void readFailedAgain(const Read& read)
    {
        DeferredChecks none(nullptr);
        for (std::size_t k = 0; k < toFit_.size(); ++k) {
            if (!failedCheck_[k]) continue;
            py::object refused;
            readItem(toFit_[k], refused, [&] { (void)read(toFit_[k]); });
            if (refused) refused_.emplace_back(toFit_[k], std::move(refused));
        }
    }

    // The items refused, each with its FitError.
    const std::vector<std::pair<std::size_t, py::object>>& refused() const { return refused_; }

private:
    // Reads item i with the checks left to the workers; true when its input
    // is in.
    template <class Read>
    bool readDeferred(std::size_t i, std::size_t mark, const Read& read)
    {
        try {
            inputs_.push_back(read(i));
            return true;
        } catch (py::error_already_set& e) {
            if (!e.matches(fitErrorClass())) throw;  // as readItem: not the item's fault
        } catch (const py::value_error&) {}
        checks_.resize(mark);
        DeferredChecks none(nullptr);
        py::object refused;
        readItem(i, refused, [&] { inputs_.push_back(read(i)); });
        if (!refused) return true;
        refused_.emplace_back(i, std::move(refused));
        return false;
    }

    std::vector<Input> inputs_;
    std::vector<std::size_t> toFit_;
    std::vector<ValueCheck> checks_;
    std::vector<std::size_t> firstCheck_;  // input k's checks: [firstCheck_[k], firstCheck_[k + 1])
    std::vector<char> failedCheck_;        // written by the input's worker
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
    BatchItems<typename F::Input> batch(n, read);

    if (asColumns) {
        std::vector<Column> columns = columnsOf<typename F::Result>(n);
        const auto& fields = F::Result::fields();
        // One record per worker, made on its thread for its first item and
        // reused for the next: every fit writes all that its result reads.
        std::vector<WorkerSlot<typename F::Record>> records(batchWorkers(batch.size(), threads));
        const BatchOutcome outcome = runBatch(batch.size(), threads, timeout, [&](std::size_t k, std::size_t worker) {
            const std::size_t item = batch.item(k);
            if (k + 1 < batch.size()) batch.prefetch(k + 1);  // most likely this worker's next
            std::optional<typename F::Record>& record = records[worker].value;
            if (!record) record.emplace();
            zfit_status status = batch.valuesPass(k);
            if (!ZFIT_FAILED(status)) status = constructed(*record);
            if (!ZFIT_FAILED(status)) status = F::fit(familyOptions, batch.input(k), record->get());
            if (ZFIT_FAILED(status)) {
                // A record that could not be made is made again for the next item.
                if (ZFIT_FAILED(constructed(*record))) record.reset();
                for (Column& column : columns) column.pad(item);
                return status;
            }
            const typename F::Result result(**record);
            for (std::size_t f = 0; f < fields.size(); ++f) columns[f].put(item, fields[f], result);
            return status;
        });
        batch.readFailedAgain(read);
        // The rows of the items the batch stopped before, and of those
        // refused before it, are padded here; the workers padded the others
        // that failed.
        std::vector<zfit_status> statuses(n, zfit_ok);
        for (std::size_t k = 0; k < batch.size(); ++k) {
            statuses[batch.item(k)] = outcome.statuses[k].value_or(outcome.stop);
            if (outcome.statuses[k]) continue;
            for (Column& column : columns) column.pad(batch.item(k));
        }
        for (const auto& [item, error] : batch.refused()) {
            statuses[item] = py::cast<zfit_status>(error.attr("code"));
            for (Column& column : columns) column.pad(item);
        }
        return columnDict(columns, statuses);
    }

    std::vector<typename F::Record> records(batch.size());
    for (const typename F::Record& record : records) check(constructed(record));
    const BatchOutcome outcome = runBatch(batch.size(), threads, timeout, [&](std::size_t k, std::size_t) {
        const zfit_status checked = batch.valuesPass(k);
        if (ZFIT_FAILED(checked)) return checked;
        return F::fit(familyOptions, batch.input(k), records[k].get());
    });
    batch.readFailedAgain(read);

    py::list results(n);
    for (std::size_t k = 0; k < batch.size(); ++k) {
        const zfit_status status = outcome.statuses[k].value_or(outcome.stop);
        results[batch.item(k)] =
            ZFIT_FAILED(status) ? errorInstance(status) : resultObject(typename F::Result(*records[k]));
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
