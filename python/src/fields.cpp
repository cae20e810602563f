// Result objects and columns from the field tables (fields.hpp).
#include "fields.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace zpy {

namespace {

struct ResultTable {
    std::string name, doc;
    std::vector<FieldInfo> fields;
};

std::vector<ResultTable>& resultTables()
{
    static std::vector<ResultTable> tables;
    return tables;
}

// The classes zfit/__init__.py made, by name (owned for the process's life).
std::map<std::string, py::handle, std::less<>>& resultClasses()
{
    static std::map<std::string, py::handle, std::less<>> classes;
    return classes;
}

py::dtype dtypeOf(Element element)
{
    switch (element) {
    case Element::flag: return py::dtype::of<bool>();
    case Element::integer: return py::dtype::of<int64_t>();
    case Element::real:
    case Element::text: break;
    }
    return py::dtype::of<double>();
}

// The padding of a column: what an item without the value holds.
double paddingOf(Element element)
{
    switch (element) {
    case Element::flag: return 0.0;
    case Element::integer: return -1.0;
    case Element::real:
    case Element::text: break;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// Writes `values` as T from `data[at]` on.
template <class T>
void fill(void* data, size_t at, std::span<const double> values)
{
    std::transform(values.begin(), values.end(), static_cast<T*>(data) + at,
                   [](double v) { return static_cast<T>(v); });
}

void fillElements(Element element, void* data, size_t at, std::span<const double> values)
{
    switch (element) {
    case Element::flag: fill<bool>(data, at, values); return;
    case Element::integer: fill<int64_t>(data, at, values); return;
    case Element::real:
    case Element::text: break;
    }
    fill<double>(data, at, values);
}

// Fills `count` elements of `data` from `data[at]` on with the padding.
void padElements(Element element, void* data, size_t at, size_t count)
{
    switch (element) {
    case Element::flag: std::fill_n(static_cast<bool*>(data) + at, count, false); return;
    case Element::integer: std::fill_n(static_cast<int64_t*>(data) + at, count, int64_t{-1}); return;
    case Element::real:
    case Element::text: break;
    }
    std::fill_n(static_cast<double*>(data) + at, count, paddingOf(element));
}

// The dimensions of one value: the field's, with the varying ones given in
// order (0 past the rank).
std::array<int32_t, 2> valueDims(const Shape& shape, std::initializer_list<int32_t> varying)
{
    std::array<int32_t, 2> dims{};
    auto next = varying.begin();
    for (size_t k = 0; k < static_cast<size_t>(shape.rank); ++k)
        dims[k] = shape.dims[k] == kVaries ? *next++ : shape.dims[k];
    return dims;
}

}  // namespace

void addResultTable(const char* name, const char* doc, std::vector<FieldInfo> fields)
{
    resultTables().push_back({name, doc, std::move(fields)});
}

py::handle resultClass(const char* name)
{
    const auto found = resultClasses().find(name);
    if (found == resultClasses().end()) throw std::logic_error(std::string("zfit: no result class ") + name);
    return found->second;
}

void registerResultTables(py::module_& m)
{
    m.def(
        "_result_tables",
        [] {
            py::list tables;
            for (const ResultTable& t : resultTables()) {
                py::list fields;
                for (const FieldInfo& f : t.fields) {
                    py::object shape = py::none();
                    if (f.shape.rank > 0) {
                        py::list dims;
                        for (int32_t k = 0; k < f.shape.rank; ++k) dims.append(f.shape.dims[static_cast<size_t>(k)]);
                        shape = py::tuple(dims);
                    }
                    fields.append(py::make_tuple(f.name, dtypeOf(f.element), shape, f.doc));
                }
                tables.append(py::make_tuple(t.name, t.doc, fields));
            }
            return tables;
        },
        "The result classes to make: (name, doc, [(field, dtype, shape, doc), ...]).");
    m.def(
        "_bind_results",
        [](const py::dict& classes) {
            for (auto [name, cls] : classes) resultClasses()[name.cast<std::string>()] = cls.inc_ref();
        },
        "Hands over the result classes made from _result_tables().");
}

// ---- objects -------------------------------------------------------------------

void ObjectSink::real(double value) { value_ = py::float_(value); }
void ObjectSink::flag(bool value) { value_ = py::bool_(value); }
void ObjectSink::integer(int64_t value) { value_ = py::int_(value); }
void ObjectSink::text(const std::string& value) { value_ = py::str(value); }
void ObjectSink::none() { value_ = py::none(); }

void ObjectSink::reals(std::span<const double> values, std::initializer_list<int32_t>)
{
    switch (element_) {
    case Element::flag: {
        std::string bytes(values.size(), '\0');
        for (size_t k = 0; k < values.size(); ++k) bytes[k] = values[k] != 0.0 ? 1 : 0;
        value_ = py::bytes(bytes);
        return;
    }
    case Element::integer:  // integer fields write through integers()
    case Element::real:
    case Element::text: break;
    }
    value_ = py::bytes(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double));
}

void ObjectSink::integers(std::span<const int32_t> values)
{
    std::vector<int64_t> wide(values.begin(), values.end());
    value_ = py::bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(int64_t));
}

py::object makeResult(py::handle cls, py::tuple values)
{
    // As cls(values) would, without running __init__ in the interpreter:
    // a bare instance with its one slot set.
    static const py::str slot("_values");
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    py::object result = py::reinterpret_steal<py::object>(type->tp_alloc(type, 0));
    if (!result || PyObject_GenericSetAttr(result.ptr(), slot.ptr(), values.ptr()) != 0) throw py::error_already_set();
    return result;
}

// ---- columns -------------------------------------------------------------------

Column::Column(const char* name, Element element, Shape shape, size_t count)
    : name_(name), element_(element), shape_(shape), count_(count)
{
    if (!shape.fixed()) varying_ = std::make_unique<Varying>();
    if (!shape.fixed() && shape.most == 0) return;
    std::vector<py::ssize_t> dims{static_cast<py::ssize_t>(count)};
    for (size_t k = 0; k < static_cast<size_t>(shape.rank); ++k)
        dims.push_back(shape.dims[k] == kVaries ? shape.most : shape.dims[k]);
    if (shape.rank > 0) row_.rows = static_cast<size_t>(dims[1]);
    if (shape.rank > 1) row_.cols = static_cast<size_t>(dims[2]);
    // Unwritten: each row is written by its item's worker (or padded at the
    // end), so that the pages are first touched on the workers, in parallel.
    array_ = py::array(dtypeOf(element), dims);
    data_ = array_.mutable_data();
    rowSize_ = row_.rows * row_.cols;
    rowBytes_ = rowSize_ * static_cast<size_t>(array_.itemsize());
    if (varying_) varying_->written.resize(count);
}

void Column::padRow(void* data, size_t item, Block row) const
{
    const size_t size = row.rows * row.cols;
    padElements(element_, data, item * size, size);
}

void ColumnSink::integers(std::span<const int32_t> values)
{
    if (values.empty()) return;
    // One buffer per worker thread, grown once: no allocation per item.
    thread_local std::vector<double> wide;
    wide.assign(values.begin(), values.end());
    store(wide, {static_cast<int32_t>(values.size())});
}

namespace {

void raiseTo(std::atomic<size_t>& longest, size_t value)
{
    size_t seen = longest.load(std::memory_order_relaxed);
    while (value > seen && !longest.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {}
}

}  // namespace

void ColumnSink::store(std::span<const double> values, std::initializer_list<int32_t> varying)
{
    Column& c = column_;
    if (!c.varying_) {
        fillElements(c.element_, c.data_, item_ * c.rowSize_, values);
        return;
    }
    const std::array<int32_t, 2> dims = valueDims(c.shape_, varying);
    Column::Block block{static_cast<size_t>(std::max(dims[0], 0)),
                        c.shape_.rank > 1 ? static_cast<size_t>(std::max(dims[1], 0)) : 1};
    if (block.rows * block.cols == 0) return;  // as no value
    Column::Varying& v = *c.varying_;
    if (!c.data_) {
        std::lock_guard lock(v.mutex);
        v.items.push_back({item_, block, {values.begin(), values.end()}});
        return;
    }
    // Within the bound: the value's block at the top left of the item's row,
    // the padding around it.
    block.rows = std::min(block.rows, c.row_.rows);
    block.cols = std::min(block.cols, c.row_.cols);
    const size_t row = item_ * c.rowSize_;
    const bool fillsRow = block.rows == c.row_.rows && block.cols == c.row_.cols;
    if (fillsRow && values.size() == block.rows * block.cols) {
        // The usual case, a value as large as the bound: its rows lie in the
        // item's row as they lie in `values`, one after the other.
        fillElements(c.element_, c.data_, row, values);
    } else {
        fillBlock(values, block, row);
    }
    v.written[item_] = 1;
    raiseTo(v.longest[0], block.rows);
    raiseTo(v.longest[1], block.cols);
}

void ColumnSink::fillBlock(std::span<const double> values, Column::Block block, size_t row)
{
    Column& c = column_;
    for (size_t r = 0; r < c.row_.rows; ++r) {
        const size_t first = r * block.cols;
        const size_t filled = r < block.rows && first < values.size() ? std::min(block.cols, values.size() - first) : 0;
        const size_t at = row + r * c.row_.cols;
        if (filled > 0) fillElements(c.element_, c.data_, at, values.subspan(first, filled));
        padElements(c.element_, c.data_, at + filled, c.row_.cols - filled);
    }
}

py::array Column::copyUsed(Block used) const
{
    std::vector<py::ssize_t> dims{static_cast<py::ssize_t>(count_)};
    if (shape_.rank > 0) dims.push_back(static_cast<py::ssize_t>(used.rows));
    if (shape_.rank > 1) dims.push_back(static_cast<py::ssize_t>(used.cols));
    py::array out(dtypeOf(element_), dims);
    auto* data = static_cast<char*>(out.mutable_data());
    const size_t size = used.rows * used.cols;
    const size_t width = static_cast<size_t>(out.itemsize());
    if (!data_) {
        padElements(element_, data, 0, count_ * size);
        for (const ItemValues& item : varying_->items) {
            const std::span<const double> v = item.values;
            const Block& b = item.block;
            for (size_t r = 0; r < b.rows && r * b.cols < v.size(); ++r)
                fillElements(element_, data, item.item * size + r * used.cols,
                             v.subspan(r * b.cols, std::min(b.cols, v.size() - r * b.cols)));
        }
        return out;
    }
    // The top left of each row written (the padding of a shorter item
    // included), the padding for the others.
    for (size_t i = 0; i < count_; ++i) {
        if (!varying_->written[i]) {
            padRow(data, i, used);
            continue;
        }
        const auto* from = static_cast<const char*>(data_) + i * rowSize_ * width;
        for (size_t r = 0; r < used.rows; ++r)
            std::copy_n(from + r * row_.cols * width, used.cols * width, data + (i * size + r * used.cols) * width);
    }
    return out;
}

py::array Column::finish()
{
    if (!varying_) return array_;
    // Each varying dimension as long as the longest item's.
    Block longest{0, 0};
    if (data_) {
        longest = {varying_->longest[0].load(), varying_->longest[1].load()};
    } else {
        for (const ItemValues& item : varying_->items)
            longest = {std::max(longest.rows, item.block.rows), std::max(longest.cols, item.block.cols)};
    }
    Block used;
    if (shape_.rank > 0) used.rows = shape_.dims[0] == kVaries ? longest.rows : static_cast<size_t>(shape_.dims[0]);
    if (shape_.rank > 1) used.cols = shape_.dims[1] == kVaries ? longest.cols : static_cast<size_t>(shape_.dims[1]);
    if (!data_ || used.rows != row_.rows || used.cols != row_.cols) return copyUsed(used);
    for (size_t i = 0; i < count_; ++i)
        if (!varying_->written[i]) padRow(data_, i, row_);
    return array_;
}

}  // namespace zpy
