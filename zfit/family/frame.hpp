// The calling frame shared by every fitting family: the validity rule, the
// C-array entry, the result-record life cycle and the type-check hooks.
// Families write only what differs (their shape's reset and copy) and reuse
// the rest from here.
//
// It sits above the services (it owns temporaries through zsvc::Owned and
// checks preconditions through the assertion service), so it lives with the
// families rather than with the C basics of zfit/frame/.
#pragma once

#include <concepts>
#include <cstdint>

#include <zfit/frame/status.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/require.hpp>
#include <zfit/services/services.h>

namespace zfit {

// isValid after a successful fit: strict and ordered, so equality and NaN give 0.
constexpr int32_t validity(double maxRmsError, double rmsError) { return maxRmsError > rmsError ? 1 : 0; }

// Runs a fit into the result record and judges its error against the
// limit: isValid is set after a success and left as it was after a failure.
template <class R, class Fit>
zfit_status judged(double maxRmsError, R* result, Fit&& fit)
{
    const zfit_status status = fit();
    ZFIT_TRY(status);
    result->isValid = validity(maxRmsError, result->rmsError);
    return status;
}

// The C-array entry: copies count points into a temporary vector and runs
// the family's vector entry on it. A negative count is taken as 0, so the
// vector entry validates first and then fails as on no points.
template <class VectorEntry>
zfit_status withPointVector(const zmath_vect* points, int32_t count, VectorEntry&& vectorEntry)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    zsvc::Owned<zstd_vector_zmath_vect> temporary;
    ZFIT_TRY(temporary.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(count)));
    zmath_vect* copy = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getBegin(temporary.get(), &copy));
    for (int32_t i = 0; i < count; ++i) copy[i] = points[i];
    return vectorEntry(temporary.get());
}

// ---- result records ------------------------------------------------------
//
// A family describes its result record R by specialising ResultShape<R>:
//   static zfit_status reset(R&)                 the shape's initial value
//   static void copyShape(R& to, const R& from)  the shape's fields
// The frame copies isValid before the shape and rmsError after it.
// Records with an `ignoredIndices` member own that vector; the life cycle
// below handles it for them.

template <class R>
struct ResultShape;

// The ResultShape of a record whose shape is the one field `field`, reset by
// the services' initialiser `init` (for instance zmath_shapeFLine_init).
// Used at namespace scope.
#define ZFIT_DEFINE_RESULT_SHAPE(R, field, init)                               \
    template <>                                                                \
    struct zfit::ResultShape<R> {                                              \
        static zfit_status reset(R& r) { return init(&r.field); }              \
        static void copyShape(R& to, const R& from) { to.field = from.field; } \
    };

template <class R>
concept OwnsIndices = requires(R r)
{
    {
        r.ignoredIndices
        } -> std::convertible_to<zstd_vector32>;
};

template <class R>
zfit_status resultReset(R* result)
{
    result->isValid = 0;
    ZFIT_TRY(ResultShape<R>::reset(*result));
    result->rmsError = 0.0;
    if constexpr (OwnsIndices<R>) return zstd_vector32_resize(&result->ignoredIndices, 0);
    return zfit_ok;
}

template <class R>
zfit_status resultConstruct(R* result)
{
    if constexpr (OwnsIndices<R>) ZFIT_TRY(zstd_vector32_construct(&result->ignoredIndices, 0));
    return resultReset(result);
}

template <class R>
zfit_status resultAssign(R* result, const R* source)
{
    if (result == source) return zfit_ok;
    result->isValid = source->isValid;
    ResultShape<R>::copyShape(*result, *source);
    result->rmsError = source->rmsError;
    if constexpr (OwnsIndices<R>) return zstd_vector32_assign(&result->ignoredIndices, &source->ignoredIndices);
    return zfit_ok;
}

template <class R>
zfit_status resultDestruct(R* result)
{
    if constexpr (OwnsIndices<R>) {
        ZFIT_TRY(resultReset(result));
        return zstd_vector32_destruct(&result->ignoredIndices);
    }
    return zfit_ok;
}

// construct, then assign; a failed assign destructs the record again so the
// caller is left with nothing to release.
template <class R, void (*typeCheck)(const R*), void (*typeCheckFunc)(zfit_status (*)(R*)), zfit_status (*destruct)(R*)>
zfit_status resultConstructCopy(R* result, const R* source)
{
    ZFIT_REQUIRE(result != nullptr && source != nullptr);
    ZFIT_TRY(resultConstruct(result));
    typeCheck(result);
    typeCheck(result);
    typeCheckFunc(destruct);
    const zfit_status status = resultAssign(result, source);
    if (failed(status)) destruct(result);
    return status;
}

}  // namespace zfit

// Defines the four do-nothing type-check hooks of a result type.
#define ZFIT_DEFINE_TYPE_CHECK_HOOKS(T)                          \
    extern "C" {                                                 \
    void zsys_typeCheck_##T(const T*) {}                         \
    void zsys_typeCheckPtr_##T(const T* const*) {}               \
    void zsys_typeCheckFunc_##T(zfit_status (*)(T*)) {}          \
    void zsys_typeCheckFuncPtr_##T(zfit_status (*const*)(T*)) {} \
    }

// Defines construct, constructCopy, assign and destruct of a result type
// from the frame's templates.
#define ZFIT_DEFINE_RESULT_LIFE_CYCLE(T)                                                                               \
    extern "C" {                                                                                                       \
    zfit_status T##_construct(T* result) { return zfit::resultConstruct(result); }                                     \
    zfit_status T##_assign(T* result, const T* source) { return zfit::resultAssign(result, source); }                  \
    zfit_status T##_destruct(T* result) { return zfit::resultDestruct(result); }                                       \
    zfit_status T##_constructCopy(T* result, const T* source)                                                          \
    {                                                                                                                  \
        return zfit::resultConstructCopy<T, zsys_typeCheck_##T, zsys_typeCheckFunc_##T, T##_destruct>(result, source); \
    }                                                                                                                  \
    }

// Defines the parameter record's init: every field's default, in the
// record's order.
#define ZFIT_DEFINE_PARAMS_INIT(T, ...)        \
    extern "C" zfit_status T##_init(T* params) \
    {                                          \
        *params = T{__VA_ARGS__};              \
        return zfit_ok;                        \
    }

// Defines the C-array entry `name` over the vector entry `name`Vector.
#define ZFIT_DEFINE_ARRAY_ENTRY(name, Params, Result)                                                          \
    extern "C" zfit_status name(const zmath_vect* points, int32_t count, const Params* params, Result* result) \
    {                                                                                                          \
        return zfit::withPointVector(points, count, [&](const zstd_vector_zmath_vect* vector) {                \
            return name##Vector(vector, params, result);                                                       \
        });                                                                                                    \
    }

// Defines reset, for the families that offer it.
#define ZFIT_DEFINE_RESULT_RESET(T) \
    extern "C" zfit_status T##_reset(T* result) { return zfit::resultReset(result); }
