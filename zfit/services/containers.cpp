// Container services. The four typed arrays and the local record array share
// one byte-level implementation; the typed C entries only fix the element
// size.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <zfit/frame/status.hpp>
#include <zfit/services/containers.h>
#include <zfit/services/system.h>

namespace {

// The storage of any array, seen as bytes. The typed arrays copy their
// members in and out of a Block around each operation.
struct Block {
    void* begin;
    int32_t size;
    int32_t capacity;
};

zfit_status checkedCount(int64_t count) { return (count < 0 || count > INT32_MAX) ? zstd_errBadCount : zfit_ok; }

// Moves the elements into a block of exactly `capacity` elements.
zfit_status reallocate(Block& b, size_t elementSize, int32_t capacity)
{
    void* block = nullptr;
    ZFIT_TRY(zsys_memory_allocate(static_cast<size_t>(capacity) * elementSize, &block));
    if (b.size > 0) std::memcpy(block, b.begin, static_cast<size_t>(b.size) * elementSize);
    zsys_memory_release(b.begin);
    b.begin = block;
    b.capacity = capacity;
    return zfit_ok;
}

// Exactly `count` elements; new ones are zero. `spare` lets pushBack grow
// geometrically while resize asks for the exact size. On failure the block
// is unchanged.
zfit_status resizeTo(Block& b, size_t elementSize, int64_t count, bool spare)
{
    ZFIT_TRY(checkedCount(count));
    const auto n = static_cast<int32_t>(count);
    if (n > b.capacity) {
        int64_t capacity = n;
        if (spare) capacity = count < 8 ? 8 : (count * 3) / 2;
        if (capacity > INT32_MAX) capacity = INT32_MAX;
        ZFIT_TRY(reallocate(b, elementSize, static_cast<int32_t>(capacity)));
    }
    if (n > b.size)
        std::memset(static_cast<char*>(b.begin) + static_cast<size_t>(b.size) * elementSize, 0,
                    static_cast<size_t>(n - b.size) * elementSize);
    b.size = n;
    return zfit_ok;
}

// The typed arrays: V is one of the zstd_vector... structs.
template <class V>
struct Typed {
    using Element = std::remove_pointer_t<decltype(V::begin)>;

    static zfit_status resize(V* v, int64_t count, bool spare = false)
    {
        Block b{v->begin, v->size, v->capacity};
        const zfit_status status = resizeTo(b, sizeof(Element), count, spare);
        *v = V{static_cast<Element*>(b.begin), b.size, b.capacity};
        return status;
    }

    static zfit_status construct(V* v, int64_t count)
    {
        *v = V{};
        return resize(v, count);
    }

    static zfit_status constructCopy(V* v, const V* source)
    {
        *v = V{};
        return assign(v, source);
    }

    static zfit_status destruct(V* v)
    {
        zsys_memory_release(v->begin);
        *v = V{};
        return zfit_ok;
    }

    static zfit_status assign(V* v, const V* source)
    {
        if (v == source) return zfit_ok;
        ZFIT_TRY(resize(v, source->size));
        if (source->size > 0) std::memcpy(v->begin, source->begin, static_cast<size_t>(source->size) * sizeof(Element));
        return zfit_ok;
    }

    static zfit_status pushBack(V* v, const Element* item)
    {
        const Element copy = *item;  // the item may live inside v
        ZFIT_TRY(resize(v, static_cast<int64_t>(v->size) + 1, true));
        v->begin[v->size - 1] = copy;
        return zfit_ok;
    }
};

}  // namespace

#define ZSTD_VECTOR_DEFINE_(name)                                                                                     \
    zfit_status name##_construct(name* v, int64_t count) { return Typed<name>::construct(v, count); }                 \
    zfit_status name##_constructCopy(name* v, const name* source) { return Typed<name>::constructCopy(v, source); }   \
    zfit_status name##_destruct(name* v) { return Typed<name>::destruct(v); }                                         \
    zfit_status name##_resize(name* v, int64_t count) { return Typed<name>::resize(v, count); }                       \
    zfit_status name##_assign(name* v, const name* source) { return Typed<name>::assign(v, source); }                 \
    zfit_status name##_pushBack(name* v, const Typed<name>::Element* item) { return Typed<name>::pushBack(v, item); } \
    zfit_status name##_getSize(const name* v, int32_t* size)                                                          \
    {                                                                                                                 \
        *size = v->size;                                                                                              \
        return zfit_ok;                                                                                               \
    }                                                                                                                 \
    zfit_status name##_getBegin(name* v, Typed<name>::Element** begin)                                                \
    {                                                                                                                 \
        *begin = v->begin;                                                                                            \
        return zfit_ok;                                                                                               \
    }                                                                                                                 \
    zfit_status name##_getBeginConst(const name* v, const Typed<name>::Element** begin)                               \
    {                                                                                                                 \
        *begin = v->begin;                                                                                            \
        return zfit_ok;                                                                                               \
    }                                                                                                                 \
    zfit_status name##_getBeginSizeConst(const name* v, const Typed<name>::Element** begin, int32_t* size)            \
    {                                                                                                                 \
        *begin = v->begin;                                                                                            \
        *size = v->size;                                                                                              \
        return zfit_ok;                                                                                               \
    }                                                                                                                 \
    void zsys_typeCheck_##name(const name*) {}                                                                        \
    void zsys_typeCheckFunc_##name(zfit_status (*)(name*)) {}

extern "C" {

ZSTD_VECTOR_DEFINE_(zstd_vector_zmath_vect)
ZSTD_VECTOR_DEFINE_(zstd_vectord)
ZSTD_VECTOR_DEFINE_(zstd_vector32)
ZSTD_VECTOR_DEFINE_(zstd_vector_zmath_shapeFLine)

zfit_status zstd_vector__constructWithVtable(zstd_vector_* v, int64_t count, size_t elementSize, const void* vtable)
{
    *v = zstd_vector_{nullptr, 0, 0, elementSize};
    if (vtable != nullptr || elementSize == 0) {
        zstd_assert_(__LINE__);
        return zstd_errBrokenPrecondition;
    }
    Block b{nullptr, 0, 0};
    const zfit_status status = resizeTo(b, elementSize, count, false);
    *v = zstd_vector_{b.begin, b.size, b.capacity, elementSize};
    return status;
}

zfit_status zstd_vector__getBeginEnd(zstd_vector_* v, void** begin, void** end)
{
    *begin = v->begin;
    if (end) *end = v->begin ? static_cast<char*>(v->begin) + static_cast<size_t>(v->size) * v->elementSize : nullptr;
    return zfit_ok;
}

zfit_status zstd_vector__destruct(zstd_vector_* v)
{
    zsys_memory_release(v->begin);
    *v = zstd_vector_{nullptr, 0, 0, v->elementSize};
    return zfit_ok;
}

}  // extern "C"
