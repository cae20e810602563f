// Scoped ownership of service containers and matrices.
//
// A fit that creates a temporary holds it in an Owned<T>: the container is
// destructed on every exit path, after the status has been fixed, so no
// function needs a clean-up ladder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include <zfit/frame/status.hpp>
#include <zfit/services/containers.h>
#include <zfit/services/nmmatrix.h>

// Under AddressSanitizer the arrays of an Arena are kept apart by poisoned
// gaps, so that running past the end of one is reported rather than
// landing in the next.
#if defined(__SANITIZE_ADDRESS__)
#define ZSVC_ARENA_GAPS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZSVC_ARENA_GAPS 1
#endif
#endif
#ifdef ZSVC_ARENA_GAPS
#include <sanitizer/asan_interface.h>
#endif

namespace zsvc {

// The C operations of each container type, found by overload.
inline zfit_status destruct(zstd_vector_zmath_vect* v) { return zstd_vector_zmath_vect_destruct(v); }
inline zfit_status destruct(zstd_vectord* v) { return zstd_vectord_destruct(v); }
inline zfit_status destruct(zstd_vector32* v) { return zstd_vector32_destruct(v); }
inline zfit_status destruct(zstd_vector_zmath_shapeFLine* v) { return zstd_vector_zmath_shapeFLine_destruct(v); }
inline zfit_status destruct(zstd_vector_* v) { return zstd_vector__destruct(v); }
inline zfit_status destruct(zmath_nmmatrix* m) { return zmath_nmmatrix_destruct(m); }

// The elements of a service vector, read-only, as one span. The services'
// getBeginSizeConst only reads the vector's fields and cannot fail, so the
// view needs no status of its own.
#define ZSVC_VIEW_(V, E)                           \
    inline std::span<const E> view(const V* v)     \
    {                                              \
        const E* begin = nullptr;                  \
        int32_t size = 0;                          \
        V##_getBeginSizeConst(v, &begin, &size);   \
        return {begin, static_cast<size_t>(size)}; \
    }
ZSVC_VIEW_(zstd_vector_zmath_vect, zmath_vect)
ZSVC_VIEW_(zstd_vectord, double)
ZSVC_VIEW_(zstd_vector32, int32_t)
ZSVC_VIEW_(zstd_vector_zmath_shapeFLine, zmath_shapeFLine)
#undef ZSVC_VIEW_

// The number of elements of a view, as the C interface counts them.
template <class E>
int32_t size32(std::span<E> elements)
{
    return static_cast<int32_t>(elements.size());
}

// A container or matrix that lives for one scope. Construct it with one of
// the C construct operations through `construct`; only a successfully
// constructed object is destructed.
template <class T>
class Owned {
public:
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned()
    {
        if (live_) destruct(&object_);
    }

    // Runs a construct operation on the held object, e.g.
    //   ZFIT_TRY(work.construct(zstd_vector32_construct, m));
    template <class Construct, class... Args>
    zfit_status construct(Construct constructFn, Args... args)
    {
        const zfit_status status = constructFn(&object_, args...);
        if (!zfit::failed(status)) live_ = true;
        return status;
    }

    T* get() { return &object_; }
    const T* get() const { return &object_; }
    T* operator->() { return &object_; }

private:
    T object_{};
    bool live_ = false;
};

// Work storage for one call: `count` elements of a trivially copyable T
// from the services' allocator (so allocation failures come back as
// zstd_errOutOfMemory), released at scope end. The elements start
// unspecified.
template <class T>
class Scratch {
public:
    zfit_status allocate(int64_t count)
    {
        ZFIT_TRY(
            store_.construct(zstd_vector__constructWithVtable, count, sizeof(T), static_cast<const void*>(nullptr)));
        void* begin = nullptr;
        ZFIT_TRY(zstd_vector__getBeginEnd(store_.get(), &begin, nullptr));
        elements_ = std::span<T>(static_cast<T*>(begin), static_cast<size_t>(count));
        return zfit_ok;
    }
    std::span<T> span() const { return elements_; }
    T* data() const { return elements_.data(); }
    T& operator[](size_t k) const { return elements_[k]; }

private:
    Owned<zstd_vector_> store_;
    std::span<T> elements_;
};

// Work storage for one call in a single allocation: arrays of several
// trivially copyable types laid out one after another. Each array is
// planned with reserve(span, count); allocate() makes the block and points
// every planned span at its array, so the spans must stay where they are in
// between (members of an object that lives through the call).
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
#ifdef ZSVC_ARENA_GAPS
    ~Arena()
    {
        if (block_.data() != nullptr) ASAN_UNPOISON_MEMORY_REGION(block_.data(), size_);
    }
#endif

    template <class T>
    void reserve(std::span<T>& target, int64_t count)
    {
        static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= alignof(std::max_align_t));
        size_ = (size_ + alignof(T) - 1) / alignof(T) * alignof(T);
        const size_t bytes = static_cast<size_t>(count) * sizeof(T);
        if (planned_ < kMostArrays) arrays_[planned_] = {size_, static_cast<size_t>(count), bytes, &target, &point<T>};
        ++planned_;
        size_ += bytes + kGap;
    }

    // zstd_errBrokenPrecondition when more arrays were planned than an
    // Arena keeps track of (a programming error).
    zfit_status allocate()
    {
        if (planned_ > kMostArrays) return zstd_errBrokenPrecondition;
        ZFIT_TRY(
            block_.allocate(static_cast<int64_t>((size_ + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t))));
        std::byte* base = reinterpret_cast<std::byte*>(block_.data());
        for (size_t a = 0; a < planned_; ++a) {
            arrays_[a].point(arrays_[a].target, base + arrays_[a].offset, arrays_[a].count);
#ifdef ZSVC_ARENA_GAPS
            ASAN_POISON_MEMORY_REGION(base + arrays_[a].offset + arrays_[a].bytes, kGap);
#endif
        }
        return zfit_ok;
    }

private:
    static constexpr size_t kMostArrays = 64;
#ifdef ZSVC_ARENA_GAPS
    static constexpr size_t kGap = 16;
#else
    static constexpr size_t kGap = 0;
#endif

    struct Planned {
        size_t offset, count, bytes;
        void* target;
        void (*point)(void* target, std::byte* at, size_t count);
    };

    template <class T>
    static void point(void* target, std::byte* at, size_t count)
    {
        *static_cast<std::span<T>*>(target) = std::span<T>(reinterpret_cast<T*>(at), count);
    }

    size_t size_ = 0, planned_ = 0;
    Planned arrays_[kMostArrays];
    Scratch<std::max_align_t> block_;
};

}  // namespace zsvc
