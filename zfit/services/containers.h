/* Container services: contiguous growable arrays.
 *
 * Four element types share one operation set (named zstd_vector<type>_<op>):
 *
 *   construct(v, count)          an array of count elements (values zero);
 *                                count is 64-bit so that a negative 32-bit
 *                                count arrives sign-extended: a negative
 *                                count or one above INT32_MAX returns
 *                                zstd_errBadCount, a failed allocation
 *                                zstd_errOutOfMemory; on failure v is left
 *                                empty but valid to destruct.
 *   constructCopy(v, source)     an independent copy of source.
 *   destruct(v)                  releases the storage; v may then only be
 *                                constructed again.
 *   resize(v, count)             exactly count elements; leading elements
 *                                keep their values, new ones are zero;
 *                                count 0 empties (the storage is kept).
 *   assign(v, source)            v becomes an element-wise copy of source;
 *                                v may be source.
 *   pushBack(v, element)         appends a copy of *element (which may lie
 *                                inside v).
 *   getSize(v, &size)            the element count.
 *   getBegin(v, &ptr)            writable pointer to the first element (NULL
 *                                when empty); valid until the size changes.
 *   getBeginConst(v, &ptr)       the same, read-only.
 *   getBeginSizeConst(v, &ptr, &size)   both at once.
 *
 * Every allocation goes through zsys_memory_allocate (zfit/services/system.h),
 * so that a host or a test can make allocations fail. Containers are plain
 * structs; read them only through the operations. */
#ifndef ZFIT_SERVICES_CONTAINERS_H
#define ZFIT_SERVICES_CONTAINERS_H

#include <stddef.h>
#include <stdint.h>
#include <zfit/services/math.h>
#include <zfit/services/shapes.h>

ZFIT_EXTERN_C_BEGIN

#define ZSTD_VECTOR_STRUCT_(name, element) \
    typedef struct name {                  \
        element* begin;                    \
        int32_t size;                      \
        int32_t capacity;                  \
    } name;

#define ZSTD_VECTOR_OPERATIONS_(name, element)                                                          \
    ZFIT_API zfit_status name##_construct(name* v, int64_t count);                                      \
    ZFIT_API zfit_status name##_constructCopy(name* v, const name* source);                             \
    ZFIT_API zfit_status name##_destruct(name* v);                                                      \
    ZFIT_API zfit_status name##_resize(name* v, int64_t count);                                         \
    ZFIT_API zfit_status name##_assign(name* v, const name* source);                                    \
    ZFIT_API zfit_status name##_pushBack(name* v, const element* item);                                 \
    ZFIT_API zfit_status name##_getSize(const name* v, int32_t* size);                                  \
    ZFIT_API zfit_status name##_getBegin(name* v, element** begin);                                     \
    ZFIT_API zfit_status name##_getBeginConst(const name* v, const element** begin);                    \
    ZFIT_API zfit_status name##_getBeginSizeConst(const name* v, const element** begin, int32_t* size); \
    ZFIT_API void zsys_typeCheck_##name(const name* v);                                                 \
    ZFIT_API void zsys_typeCheckFunc_##name(zfit_status (*destruct)(name*));

/* Points. */
ZSTD_VECTOR_STRUCT_(zstd_vector_zmath_vect, zmath_vect)
ZSTD_VECTOR_OPERATIONS_(zstd_vector_zmath_vect, zmath_vect)
/* Doubles (weights, scratch, eigenvalues). */
ZSTD_VECTOR_STRUCT_(zstd_vectord, double)
ZSTD_VECTOR_OPERATIONS_(zstd_vectord, double)
/* 32-bit signed integers (index lists). */
ZSTD_VECTOR_STRUCT_(zstd_vector32, int32_t)
ZSTD_VECTOR_OPERATIONS_(zstd_vector32, int32_t)
/* Lines (the targets of the point-to-line fit). */
ZSTD_VECTOR_STRUCT_(zstd_vector_zmath_shapeFLine, zmath_shapeFLine)
ZSTD_VECTOR_OPERATIONS_(zstd_vector_zmath_shapeFLine, zmath_shapeFLine)

#undef ZSTD_VECTOR_STRUCT_
#undef ZSTD_VECTOR_OPERATIONS_

/* A local record array: count records of elementSize bytes each, for work
 * records of the fits' own making. */
typedef struct zstd_vector_ {
    void* begin;
    int32_t size;
    int32_t capacity;
    size_t elementSize;
} zstd_vector_;

/* count records of elementSize bytes (zeroed). The element-operation table
 * must be NULL: records are plain data. Same failures as construct above. */
ZFIT_API zfit_status zstd_vector__constructWithVtable(zstd_vector_* v, int64_t count, size_t elementSize,
                                                      const void* vtable);
/* *begin = the first record; *end (if end is not NULL) = one past the last. */
ZFIT_API zfit_status zstd_vector__getBeginEnd(zstd_vector_* v, void** begin, void** end);
/* Releases the storage. */
ZFIT_API zfit_status zstd_vector__destruct(zstd_vector_* v);

ZFIT_EXTERN_C_END

#endif
