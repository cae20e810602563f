// zfit.fit_many: many fits of one family in one call, spread over a pool of
// native threads with the GIL released. Every item runs the family's F::fit
// (binding.hpp), the very call its fit_<family> makes, so an item's result
// is the single fit's.
//
// A family takes part by providing, beside the members binding.hpp lists,
//   static constexpr const char* name;      // "circle": fit_many's family word
//   static constexpr bool weighted;         // whether it takes weights
//   static Options readOptions(Keywords&);  // fit_many's keywords, with the
//                                           // names and defaults of fit_<family>
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

namespace zpy {

// fit_many's keyword options, read by a family. An option of the wrong type,
// or one that no reader took, is a TypeError naming it.
class Keywords {
public:
    Keywords(const py::kwargs& given, const char* family);

    // The option converted as fit_<family> converts its argument, or
    // `fallback` (fit_<family>'s default) when it was not given.
    template <class T>
    T take(const char* name, T fallback)
    {
        const py::object value = take(name);
        if (!value) return fallback;
        try {
            return value.cast<T>();
        } catch (const py::cast_error&) {
            wrongType(name, value);
        }
    }
    // The option's value, or a null object when it was not given.
    py::object take(const char* name);
    // Raises TypeError naming every option that nobody took.
    void finish() const;
    // Raises TypeError: the option's value has the wrong type.
    [[noreturn]] void refuse(const char* name, py::handle value) const { wrongType(name, value); }

private:
    [[noreturn]] void wrongType(const char* name, py::handle value) const;

    py::dict left_;
    const char* family_;
};

// An item of the pair families: a sequence of two array-likes.
std::pair<py::object, py::object> pairOf(py::handle item, const char* what);

// How a batch ended: each item's status, or nullopt for an item the batch
// stopped before it ran; `stop` is what stopped it (zsys_errCancelled when
// the timeout passed, or the failure the host's attention check reported).
struct BatchOutcome {
    std::vector<std::optional<zfit_status>> statuses;
    zfit_status stop = zfit_ok;
};

// Runs fit(i) for every i < count on a pool of `threads` native threads
// (0: one per core; never more than there are items) with the GIL released;
// every thread is joined before it returns. The timeout covers the whole
// batch: once it passes, searches stop at their next poll and no further
// item starts. While the workers run, the calling thread polls every few
// milliseconds the attention check the host installed on it and, on the main
// thread, pending signals: a signal handler that raises (Ctrl-C) stops the
// batch, and its exception is raised once the workers are joined.
BatchOutcome runBatch(std::size_t count, std::size_t threads, std::optional<double> timeout,
                      const std::function<zfit_status(std::size_t)>& fit);

// Reads item `index` with `read`. A FitError it raises becomes the item's
// outcome (`refused`); a ValueError is raised again naming the item.
void readItem(std::size_t index, py::object& refused, const std::function<void()>& read);

// The weights option of a batch: one entry per item (None for an item without
// weights); n Nones when the option was not given.
py::list weightsPerItem(const py::object& weights, std::size_t n);

using BatchFn = py::list (*)(py::handle pointSets, const py::kwargs& options, std::size_t threads);
void addBatchFamily(const char* name, BatchFn fit);

template <class F>
py::list fitManyOf(py::handle pointSets, const py::kwargs& options, std::size_t threads)
{
    Keywords keywords(options, F::name);
    const auto timeout = keywords.take<std::optional<double>>("timeout", std::nullopt);
    const py::object weights = F::weighted ? keywords.take("weights") : py::object();
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

    std::vector<typename F::Record> records(toFit.size());
    for (const typename F::Record& record : records) check(constructed(record));
    const BatchOutcome outcome = runBatch(toFit.size(), threads, timeout, [&](std::size_t k) {
        return F::fit(familyOptions, *inputs[toFit[k]], records[k].get());
    });

    py::list results(n);
    for (std::size_t i = 0; i < n; ++i)
        if (refused[i]) results[i] = refused[i];
    for (std::size_t k = 0; k < toFit.size(); ++k) {
        const zfit_status status = outcome.statuses[k].value_or(outcome.stop);
        results[toFit[k]] = ZFIT_FAILED(status) ? errorInstance(status) : py::cast(typename F::Result(*records[k]));
    }
    return results;
}

template <class F>
void addBatchFamily()
{
    addBatchFamily(F::name, &fitManyOf<F>);
}

}  // namespace zpy
