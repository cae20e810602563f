// zfit.fit_many: many fits of one family in one call, spread over a pool of
// native threads with the GIL released. Every item runs the family's F::fit
// (binding.hpp), the very call its fit_<family> makes, so an item's result
// is the single fit's.
//
// With columns=True the workers also turn each record into its result and
// write the fields into numpy arrays allocated before they start (fields.hpp):
// no Python object is made per item.
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
// worker, 0 for the calling thread and 1, 2, ... for the pool's threads; a
// worker fits one item at a time, so what it keeps between items (a result
// record) needs no lock.
using BatchFit = std::function<zfit_status(std::size_t item, std::size_t worker)>;

// Runs fit for every item < count with the GIL released. The calling thread
// fits the first items itself; only when items remain after a tenth of a
// millisecond does it start a pool of `threads` native threads for the rest
// (0: one per core; never more than there are items left) and wait for
// them, so a small batch starts no thread. Every thread is joined before it
// returns. The timeout covers the whole batch: once it passes, searches stop
// at their next poll and no further item starts. The attention check the
// host installed on the calling thread is asked, and on the main thread
// pending signals are looked for, every few milliseconds: a failure it
// reports, or a signal handler that raises (Ctrl-C), stops the batch, and
// the handler's exception is raised once the workers are joined. An item's
// result never depends on the thread that fitted it.
BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout, const BatchFit& fit);

// How many workers runBatch(count, threads, ...) may use at most: the
// calling thread and the pool.
std::size_t batchWorkers(std::size_t count, std::size_t threads);

// Reads item `index` with `read`. A FitError it raises becomes the item's
// outcome (`refused`); a ValueError is raised again naming the item.
void readItem(std::size_t index, py::object& refused, const std::function<void()>& read);

// The weights option of a batch: one entry per item (None for an item without
// weights); n Nones when the option was not given.
py::list weightsPerItem(const py::object& weights, std::size_t n);

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

    const py::list items(py::reinterpret_borrow<py::object>(pointSets));
    const std::size_t n = items.size();
    const py::list itemWeights = weightsPerItem(weights, n);
    std::vector<std::optional<typename F::Input>> inputs(n);
    std::vector<py::object> refused(n);
    std::vector<std::size_t> toFit;
    for (std::size_t i = 0; i < n; ++i) {
        readItem(i, refused[i], [&] { inputs[i].emplace(F::input(items[i], itemWeights[i], familyOptions)); });
        if (inputs[i]) toFit.push_back(i);
    }

    if (asColumns) {
        std::vector<Column> columns = columnsOf<typename F::Result>(n);
        const auto& fields = F::Result::fields();
        // One record per worker, made on its thread for its first item and
        // reused for the next: every fit writes all that its result reads.
        std::vector<WorkerSlot<typename F::Record>> records(batchWorkers(toFit.size(), threads));
        const BatchOutcome outcome = runBatch(toFit.size(), threads, timeout, [&](std::size_t k, std::size_t worker) {
            const std::size_t item = toFit[k];
            std::optional<typename F::Record>& record = records[worker].value;
            if (!record) record.emplace();
            zfit_status status = constructed(*record);
            if (!ZFIT_FAILED(status)) status = F::fit(familyOptions, *inputs[item], record->get());
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
        // The rows of the items refused before the batch and of those it
        // stopped before are padded here; the workers padded those that failed.
        std::vector<zfit_status> statuses(n, zfit_ok);
        for (std::size_t i = 0; i < n; ++i) {
            if (!refused[i]) continue;
            statuses[i] = refused[i].attr("code").cast<zfit_status>();
            for (Column& column : columns) column.pad(i);
        }
        for (std::size_t k = 0; k < toFit.size(); ++k) {
            statuses[toFit[k]] = outcome.statuses[k].value_or(outcome.stop);
            if (outcome.statuses[k]) continue;
            for (Column& column : columns) column.pad(toFit[k]);
        }
        return columnDict(columns, statuses);
    }

    std::vector<typename F::Record> records(toFit.size());
    for (const typename F::Record& record : records) check(constructed(record));
    const BatchOutcome outcome = runBatch(toFit.size(), threads, timeout, [&](std::size_t k, std::size_t) {
        return F::fit(familyOptions, *inputs[toFit[k]], records[k].get());
    });

    py::list results(n);
    for (std::size_t i = 0; i < n; ++i)
        if (refused[i]) results[i] = refused[i];
    for (std::size_t k = 0; k < toFit.size(); ++k) {
        const zfit_status status = outcome.statuses[k].value_or(outcome.stop);
        results[toFit[k]] = ZFIT_FAILED(status) ? errorInstance(status) : resultObject(typename F::Result(*records[k]));
    }
    return results;
}

template <class F>
void addBatchFamily()
{
    addBatchFamily(F::name, &fitManyOf<F>);
}

}  // namespace zpy
