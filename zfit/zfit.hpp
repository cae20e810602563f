// zfit/zfit.hpp: the C++ face of the C API (zfit/zfit.h), header-only and
// without exceptions.
//
//   zfit::Result<R>       a result record of family R, constructed when made
//                         and destructed when it goes out of scope;
//   zfit::Vector<V>       a container (zfit::Points, Doubles, Indices, Lines)
//                         owned the same way, viewed as a std::span;
//   zfit::view(v)         a span over any container of the C API;
//   zfit::ignored(r)      the discarded indices of a result, as a span;
//   zfit::statusName(s), zfit::statusText(s), zfit::failed(s)
//                         what a status is called and what it means;
//   zfit::ScopedTrace     a failure trace installed on the thread for a scope.
//
// Construction can fail (out of memory): an owner records the status of its
// construction, status() reports it, and an owner whose construction failed
// holds an empty record that it does not destruct. Owners are neither
// copied nor moved: the records they hold are handed to the C API by
// address.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include <zfit/frame/status_names.h>
#include <zfit/frame/trace.h>
#include <zfit/zfit.h>

namespace zfit {

// The name of a status ("zmath_errDegenerate"), or "unknown status".
inline const char* statusName(zfit_status status)
{
    const char* name = zfit_statusName(status);
    return name ? name : "unknown status";
}

// What a status means ("out of memory"), or "unknown status".
inline const char* statusText(zfit_status status)
{
    const char* text = zfit_statusText(status);
    return text ? text : "unknown status";
}

// ---- failure trace -------------------------------------------------------------

// Installs a failure trace (zfit/frame/trace.h) on the calling thread for a
// scope and puts back whatever was installed before, so traces nest:
//
//   zfit::ScopedTrace trace(print, &log);   // every failing step goes to print
//
// Per thread: a trace installed here says nothing about fits on other threads.
class ScopedTrace {
public:
    ScopedTrace(zsys_traceFn fn, void* context)
    {
        zsys_trace_installed(&previousFn_, &previousContext_);
        zsys_trace_install(fn, context);
    }
    ScopedTrace(const ScopedTrace&) = delete;
    ScopedTrace& operator=(const ScopedTrace&) = delete;
    ~ScopedTrace() { zsys_trace_install(previousFn_, previousContext_); }

private:
    zsys_traceFn previousFn_ = nullptr;
    void* previousContext_ = nullptr;
};

// ---- containers --------------------------------------------------------------

template <class V>
struct VectorTraits;

#define ZFIT_VECTOR_TRAITS_(V, E)                                                             \
    template <>                                                                               \
    struct VectorTraits<V> {                                                                  \
        using Element = E;                                                                    \
        static zfit_status construct(V* v, int64_t count) { return V##_construct(v, count); } \
        static zfit_status destruct(V* v) { return V##_destruct(v); }                         \
        static zfit_status resize(V* v, int64_t count) { return V##_resize(v, count); }       \
        static zfit_status view(const V* v, const E** begin, int32_t* size)                   \
        {                                                                                     \
            return V##_getBeginSizeConst(v, begin, size);                                     \
        }                                                                                     \
    };
ZFIT_VECTOR_TRAITS_(zstd_vector_zmath_vect, zmath_vect)
ZFIT_VECTOR_TRAITS_(zstd_vectord, double)
ZFIT_VECTOR_TRAITS_(zstd_vector32, int32_t)
ZFIT_VECTOR_TRAITS_(zstd_vector_zmath_shapeFLine, zmath_shapeFLine)
#undef ZFIT_VECTOR_TRAITS_

// The elements of a container of the C API, read-only.
template <class V>
std::span<const typename VectorTraits<V>::Element> view(const V& vector)
{
    const typename VectorTraits<V>::Element* begin = nullptr;
    int32_t size = 0;
    if (failed(VectorTraits<V>::view(&vector, &begin, &size)) || begin == nullptr) return {};
    return {begin, static_cast<size_t>(size)};
}

// A container owned for a scope.
template <class V>
class Vector {
public:
    using Element = typename VectorTraits<V>::Element;

    explicit Vector(int64_t count = 0) : status_(VectorTraits<V>::construct(&vector_, count)) {}
    // A copy of the elements (status() tells whether it could be made).
    explicit Vector(std::span<const Element> elements) : Vector(static_cast<int64_t>(elements.size()))
    {
        if (!failed(status_)) std::copy(elements.begin(), elements.end(), span().begin());
    }
    Vector(const Vector&) = delete;
    Vector& operator=(const Vector&) = delete;
    ~Vector()
    {
        if (!failed(status_)) VectorTraits<V>::destruct(&vector_);
    }

    zfit_status status() const { return status_; }
    zfit_status resize(int64_t count) { return VectorTraits<V>::resize(&vector_, count); }
    // The elements, writable; valid until the size changes.
    std::span<Element> span()
    {
        const std::span<const Element> elements = view(vector_);
        return {const_cast<Element*>(elements.data()), elements.size()};
    }
    std::span<const Element> span() const { return view(vector_); }

    V* get() { return &vector_; }
    const V* get() const { return &vector_; }

private:
    V vector_{};
    zfit_status status_;
};

using Points = Vector<zstd_vector_zmath_vect>;
using Doubles = Vector<zstd_vectord>;
using Indices = Vector<zstd_vector32>;
using Lines = Vector<zstd_vector_zmath_shapeFLine>;

// ---- result records ------------------------------------------------------------

template <class R>
struct ResultTraits;

#define ZFIT_RESULT_TRAITS_(R)                                          \
    template <>                                                         \
    struct ResultTraits<R> {                                            \
        static zfit_status construct(R* r) { return R##_construct(r); } \
        static zfit_status destruct(R* r) { return R##_destruct(r); }   \
    };
ZFIT_RESULT_TRAITS_(zmath_lineFitResult)
ZFIT_RESULT_TRAITS_(zmath_circleFitResult)
ZFIT_RESULT_TRAITS_(zmath_ellipseFitResult)
ZFIT_RESULT_TRAITS_(zmath_parabolaFitResult)
ZFIT_RESULT_TRAITS_(zmath_pointToPointFitResult)
ZFIT_RESULT_TRAITS_(zmath_pointToLineFitResult)
#undef ZFIT_RESULT_TRAITS_

// A result record owned for a scope.
template <class R>
class Result {
public:
    Result() : status_(ResultTraits<R>::construct(&record_)) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result()
    {
        if (!failed(status_)) ResultTraits<R>::destruct(&record_);
    }

    zfit_status status() const { return status_; }
    R* get() { return &record_; }
    const R* get() const { return &record_; }
    R* operator->() { return &record_; }
    const R* operator->() const { return &record_; }
    R& operator*() { return record_; }
    const R& operator*() const { return record_; }

private:
    R record_{};
    zfit_status status_;
};

using LineResult = Result<zmath_lineFitResult>;
using CircleResult = Result<zmath_circleFitResult>;
using EllipseResult = Result<zmath_ellipseFitResult>;
using ParabolaResult = Result<zmath_parabolaFitResult>;
using PointToPointResult = Result<zmath_pointToPointFitResult>;
using PointToLineResult = Result<zmath_pointToLineFitResult>;

// The indices of the points a fit discarded (line, circle and ellipse
// results), in the order the fit lists them.
template <class R>
std::span<const int32_t> ignored(const R& result)
{
    return view(result.ignoredIndices);
}

}  // namespace zfit
