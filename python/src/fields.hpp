// The fields of the result classes, each written once in its family's table:
// a row gives the field's Python name, the type and shape of its values, its
// help text and the writer that reads it from the family's result (a plain
// C++ struct filled from the library's records). The same table makes
//   - the result object of a single fit or of fit_many's list: a tuple of
//     the values, handed to the Python class zfit/__init__.py generates from
//     the table (attributes, repr, to_dict, pickling and the docstring);
//   - the columns of fit_many(..., columns=True): one numpy array per field,
//     filled by the worker threads without touching a Python object.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "binding.hpp"

namespace zpy {

// The type of a field's values: float64, bool, int64 (indices and counts)
// or, for the objects only, str.
enum class Element : uint8_t { real, flag, integer, text };

// A field's shape after the item axis: rank 0 (a scalar), 1 or 2; a
// dimension of kVaries is a count that changes from fit to fit (the
// discarded points, the parameters of an uncertainty).
constexpr int32_t kVaries = -1;
struct Shape {
    int32_t rank = 0;
    std::array<int32_t, 2> dims{};
    // For a varying shape: the most each varying dimension can be (0: no
    // bound).
    int32_t most = 0;

    bool fixed() const { return std::find(dims.begin(), dims.begin() + rank, kVaries) == dims.begin() + rank; }
};

// Where a writer puts one field's value of one result. The shape of every
// call matches the field's row (the varying dimensions given).
class Sink {
public:
    virtual void real(double value) = 0;
    virtual void flag(bool value) = 0;
    virtual void integer(int64_t value) = 0;
    virtual void text(const std::string& value) = 0;
    // A real array of the field's shape, row-major; `varying` gives the
    // varying dimensions in order.
    virtual void reals(std::span<const double> values, std::initializer_list<int32_t> varying = {}) = 0;
    // Indices or counts: a rank-1 field of varying length.
    virtual void integers(std::span<const int32_t> values) = 0;
    // The fit has no such value (None in an object; NaN, -1 or False in a column).
    virtual void none() = 0;

protected:
    ~Sink() = default;
};

class ColumnSink;

// A row's writer is a lambda generic in its sink, `[](const R& r, auto& s)`,
// made into two functions: one for any sink (the objects), one for a
// column's, whose calls need no virtual dispatch (a batch makes them for
// every field of every item).
template <class R>
struct Field {
    template <class Writer>
    Field(const char* name, Element element, Shape shape, const char* doc, Writer writer)
        : name(name), element(element), shape(shape), doc(doc), write(writer), writeColumn(writer)
    {}

    const char* name;
    Element element;
    Shape shape;
    const char* doc;
    void (*write)(const R&, Sink&);
    void (*writeColumn)(const R&, ColumnSink&);
};

// Shorthands for the rows' shapes.
constexpr Shape scalar() { return {}; }
constexpr Shape vector(int32_t n) { return {1, {n, 0}}; }
constexpr Shape matrix(int32_t rows, int32_t cols) { return {2, {rows, cols}}; }
// A varying shape whose varying dimensions are never more than `most`.
constexpr Shape bounded(Shape shape, int32_t most)
{
    shape.most = most;
    return shape;
}

// The fields of a result class R, in order: R::fields() returns them.
template <class R>
using Fields = std::vector<Field<R>>;

// Rows most result classes share, read from R's members of the same name:
// the centre (x, y), rmsError, isValid and the ignored indices.
template <class R>
Field<R> centreField(const char* doc = "(x, y)")
{
    return {"centre", Element::real, vector(2), doc, [](const R& r, auto& s) { s.reals(std::array{r.x, r.y}); }};
}
template <class R>
Field<R> rmsErrorField(const char* doc)
{
    return {"rms_error", Element::real, scalar(), doc, [](const R& r, auto& s) { s.real(r.rmsError); }};
}
template <class R>
Field<R> isValidField(const char* doc = "rms_error < max_rms")
{
    return {"is_valid", Element::flag, scalar(), doc, [](const R& r, auto& s) { s.flag(r.isValid); }};
}
template <class R>
Field<R> ignoredField(const char* doc)
{
    return {"ignored", Element::integer, vector(kVaries), doc, [](const R& r, auto& s) { s.integers(r.ignored); }};
}

// ---- objects -------------------------------------------------------------------

// The Python class of each result (zfit/__init__.py makes them from the
// tables and hands them over at import).
py::handle resultClass(const char* name);

// The values of one result as the tuple its Python class is made from.
template <class R>
py::tuple fieldValues(const R& result);

// An instance of a result class holding `values` (the class's __init__
// would check their count, which the table fixes).
py::object makeResult(py::handle cls, py::tuple values);

// The object of one result: its Python class with the field values.
template <class R>
py::object resultObject(const R& result)
{
    static const py::handle cls = resultClass(R::name);
    return makeResult(cls, fieldValues(result));
}

// What zfit/__init__.py needs of a field to make its attribute.
struct FieldInfo {
    const char* name;
    Element element;
    Shape shape;
    const char* doc;
};

// Adds R's table to the list zfit/__init__.py reads: (class name, class doc,
// [(field name, dtype name, shape (-1: varies; None: a scalar), doc), ...]).
void addResultTable(const char* name, const char* doc, std::vector<FieldInfo> fields);

template <class R>
void addResultTable(const char* doc)
{
    std::vector<FieldInfo> rows;
    for (const Field<R>& f : R::fields()) rows.push_back({f.name, f.element, f.shape, f.doc});
    addResultTable(R::name, doc, std::move(rows));
}

// The value of one field in a Python object (with the GIL): a scalar as
// itself, an array as the bytes of its values, which the result class
// shows as a read-only numpy array of the field's type and shape when the
// field is read (making the array there spares a fit that nobody reads).
class ObjectSink final : public Sink {
public:
    explicit ObjectSink(Element element) : element_(element) {}
    void real(double value) override;
    void flag(bool value) override;
    void integer(int64_t value) override;
    void text(const std::string& value) override;
    void reals(std::span<const double> values, std::initializer_list<int32_t> varying) override;
    void integers(std::span<const int32_t> values) override;
    void none() override;

    py::object take() { return std::move(value_); }

private:
    Element element_;
    py::object value_;
};

template <class R>
py::tuple fieldValues(const R& result)
{
    const Fields<R>& fields = R::fields();
    py::tuple values(fields.size());
    for (size_t k = 0; k < fields.size(); ++k) {
        ObjectSink sink(fields[k].element);
        fields[k].write(result, sink);
        values[k] = sink.take();
    }
    return values;
}

// ---- columns -------------------------------------------------------------------

// One field's values over a batch of `count` items: a column of shape
// (count, ...), which the worker threads fill item by item, each item by
// one thread only; put() and pad() touch no Python object. A column of fixed
// shape, or of a varying one with a bound, is a numpy array allocated
// (unwritten) before the workers start, with every varying dimension at its
// bound, and each item's row is written in place: its values and the
// padding around them (NaN, -1, False). A column whose shape varies without
// a bound keeps the values of the items that have any until every item is
// in. finish() then makes the column padded to the longest item: the array
// itself when some item reached the bound, else a copy of the part used.
class Column {
public:
    Column(const char* name, Element element, Shape shape, size_t count);

    template <class R>
    void put(size_t item, const Field<R>& field, const R& result);
    // The item has no value (it failed, or was never fitted).
    void pad(size_t item);
    // Asks the processor to fetch the cache line of the item's row for
    // writing (a row written soon after, when its line is not in cache,
    // stalls the worker's stores).
    void prefetchRow(size_t item) const
    {
        if (data_ && item < count_) __builtin_prefetch(static_cast<char*>(data_) + item * rowBytes_, 1);
    }

    // The finished column (with the GIL).
    py::array finish();
    const char* name() const { return name_; }

private:
    friend class ColumnSink;

    // An item's value as a (rows, cols) block of elements (a scalar is 1 by
    // 1, a vector a column).
    struct Block {
        size_t rows = 1, cols = 1;
    };
    // The values of one item of a column without a bound.
    struct ItemValues {
        size_t item;
        Block block;
        std::vector<double> values;
    };
    // What the workers share of a varying column.
    struct Varying {
        std::vector<char> written;                   // with a bound: the rows written
        std::array<std::atomic<size_t>, 2> longest;  // with a bound: the longest block written
        std::mutex mutex;                            // without a bound: guards `items`
        std::vector<ItemValues> items;               // without a bound: the items with values
    };

    void padRow(void* data, size_t item, Block row) const;
    py::array copyUsed(Block used) const;

    const char* name_;
    Element element_;
    Shape shape_;
    size_t count_;
    py::array array_;  // fixed, or varying with a bound: the rows in place
    void* data_ = nullptr;
    Block row_;                          // an item's row in array_
    size_t rowSize_ = 0, rowBytes_ = 0;  // its elements, its bytes
    std::unique_ptr<Varying> varying_;
};

// The sink of one item's row in a column. Defined here, so that the calls
// of the common values (a scalar, a fixed row of reals) are inlined into the
// fields' column writers.
class ColumnSink final : public Sink {
public:
    ColumnSink(Column& column, size_t item) : column_(column), item_(item) {}
    void real(double value) override
    {
        if (!scalar(Element::real, value)) store({&value, 1}, {});
    }
    void flag(bool value) override
    {
        if (scalar(Element::flag, value)) return;
        const double v = value ? 1.0 : 0.0;
        store({&v, 1}, {});
    }
    void integer(int64_t value) override
    {
        if (scalar(Element::integer, value)) return;
        const auto v = static_cast<double>(value);
        store({&v, 1}, {});
    }
    void text(const std::string&) override { column_.pad(item_); }
    void reals(std::span<const double> values, std::initializer_list<int32_t> varying = {}) override
    {
        Column& c = column_;
        if (!c.varying_ && c.element_ == Element::real && values.size() == c.rowSize_) {
            std::copy(values.begin(), values.end(), static_cast<double*>(c.data_) + item_ * c.rowSize_);
            return;
        }
        store(values, varying);
    }
    void integers(std::span<const int32_t> values) override;
    void none() override { column_.pad(item_); }

private:
    // Writes a scalar straight into a column of scalars of type T; false
    // for any other column.
    template <class T>
    bool scalar(Element element, T value)
    {
        Column& c = column_;
        if (c.element_ != element || c.shape_.rank != 0) return false;
        static_cast<T*>(c.data_)[item_] = value;
        return true;
    }
    void store(std::span<const double> values, std::initializer_list<int32_t> varying);
    // Writes a value smaller than the bound as the top left `block` of the
    // item's row (which starts at element `row`), padding the rest.
    void fillBlock(std::span<const double> values, Column::Block block, size_t row);

    Column& column_;
    size_t item_;
};

inline void Column::pad(size_t item)
{
    // A varying row left unwritten is padded when the column is finished.
    if (varying_) return;
    if (element_ == Element::real && rowSize_ == 1) {
        static_cast<double*>(data_)[item] = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    padRow(data_, item, row_);
}

template <class R>
void Column::put(size_t item, const Field<R>& field, const R& result)
{
    ColumnSink sink(*this, item);
    field.writeColumn(result, sink);
}

// The columns of every field of R over `count` items.
template <class R>
std::vector<Column> columnsOf(size_t count)
{
    std::vector<Column> columns;
    for (const Field<R>& f : R::fields()) columns.emplace_back(f.name, f.element, f.shape, count);
    return columns;
}

}  // namespace zpy
