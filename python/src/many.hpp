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

// Reads the items 0..count-1 in order on the calling thread, with the GIL
// (read(i) is true for an item to fit), and runs fit(k) for the k-th item
// to fit, with the GIL released. A batch read within a tenth of a
// millisecond is small: the calling thread fits its first items itself, and
// only when items remain after another tenth of a millisecond does it start
// a pool of `threads` native threads for the rest (0: one per core; never
// more than there are items left), so a small batch starts no thread. In a
// larger batch the pool starts at once (with `threads` 1, once every item
// is read) and fits the items read so far while the calling thread reads
// the rest. The calling thread then waits for the pool; every thread is
// joined before it returns, also when read() throws, which stops the batch
// and is thrown again. The timeout covers the whole batch: once it passes,
// searches stop at their next poll and no further item starts. The
// attention check the host installed on the calling thread is asked, and
// on the main thread pending signals are looked for, every few milliseconds
// after the reading: a failure it reports, or a signal handler that raises
// (Ctrl-C), stops the batch, and the handler's exception is raised once the
// workers are joined. An item's result never depends on the thread that
// fitted it. The outcome has one status per item to fit.
BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout,
                      const std::function<bool(std::size_t)>& read, const std::function<zfit_status(std::size_t)>& fit);

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
    // The items to fit, in the order read: the first `reading` are written
    // (the workers read only those the batch has published).
    std::vector<std::size_t> toFit(n);
    std::size_t reading = 0;
    // Item i read into inputs[i] (or refused[i]); true when it is to be fitted.
    const auto read = [&](std::size_t i) {
        readItem(i, refused[i], [&] { inputs[i].emplace(F::input(items[i], itemWeights[i], familyOptions)); });
        if (inputs[i]) toFit[reading++] = i;
        return inputs[i].has_value();
    };
    // Each item's status (0 for a result), once the batch has run.
    const auto statusesOf = [&](const BatchOutcome& outcome) {
        std::vector<zfit_status> statuses(n, zfit_ok);
        for (std::size_t i = 0; i < n; ++i)
            if (refused[i]) statuses[i] = refused[i].attr("code").cast<zfit_status>();
        for (std::size_t k = 0; k < outcome.statuses.size(); ++k)
            statuses[toFit[k]] = outcome.statuses[k].value_or(outcome.stop);
        return statuses;
    };

    if (asColumns) {
        std::vector<Column> columns = columnsOf<typename F::Result>(n);
        const auto& fields = F::Result::fields();
        const BatchOutcome outcome = runBatch(n, threads, timeout, read, [&](std::size_t k) {
            typename F::Record record;
            zfit_status status = constructed(record);
            if (ZFIT_FAILED(status)) return status;
            status = F::fit(familyOptions, *inputs[toFit[k]], record.get());
            if (ZFIT_FAILED(status)) return status;
            const typename F::Result result(*record);
            for (std::size_t f = 0; f < fields.size(); ++f) columns[f].put(toFit[k], fields[f], result);
            return status;
        });
        return columnDict(columns, statusesOf(outcome));
    }

    // One record per item, made where it is fitted.
    std::vector<std::optional<typename F::Record>> records(n);
    const BatchOutcome outcome = runBatch(n, threads, timeout, read, [&](std::size_t k) {
        const typename F::Record& record = records[k].emplace();
        const zfit_status status = constructed(record);
        return ZFIT_FAILED(status) ? status : F::fit(familyOptions, *inputs[toFit[k]], records[k]->get());
    });

    const std::vector<zfit_status> statuses = statusesOf(outcome);
    py::list results(n);
    for (std::size_t i = 0; i < n; ++i)
        if (refused[i]) results[i] = refused[i];
    for (std::size_t k = 0; k < outcome.statuses.size(); ++k) {
        const std::size_t i = toFit[k];
        results[i] =
            ZFIT_FAILED(statuses[i]) ? errorInstance(statuses[i]) : resultObject(typename F::Result(**records[k]));
    }
    return results;
}

template <class F>
void addBatchFamily()
{
    addBatchFamily(F::name, &fitManyOf<F>);
}

}  // namespace zpy
