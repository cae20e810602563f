/* Record conventions shared by every fitting family.
 *
 * Parameter records are plain data: fill them with <family>FitParams_init,
 * change fields, and optionally check them with <family>FitParams_validate.
 *
 * Result records have a life cycle: construct (or constructCopy) before the
 * first fit, any number of fits, reset and assign as needed, destruct at the
 * end. Fields come in this order: isValid, the shape or transform, rmsError,
 * and in the families that discard points the owned ignoredIndices vector.
 * After a successful fit isValid is 1 exactly when maxRmsError > rmsError
 * (strict and ordered: equality or a NaN gives 0).
 *
 * Every result type T has four type-check hooks, exported for the tool set's
 * clean-up frames: they accept their argument and do nothing. */
#ifndef ZFIT_FRAME_RECORDS_H
#define ZFIT_FRAME_RECORDS_H

#include <zfit/frame/export.h>
#include <zfit/frame/status.h>

#define ZFIT_DECLARE_TYPE_CHECK_HOOKS(T)                               \
    ZFIT_API void zsys_typeCheck_##T(const T* record);                 \
    ZFIT_API void zsys_typeCheckPtr_##T(const T* const* record);       \
    ZFIT_API void zsys_typeCheckFunc_##T(zfit_status (*destruct)(T*)); \
    ZFIT_API void zsys_typeCheckFuncPtr_##T(zfit_status (*const* destruct)(T*));

/* Declares the life cycle of a result type T and its type-check hooks:
 *   T_construct(result)              prepares the record for its first fit;
 *   T_constructCopy(result, source)  constructs result as an independent
 *                                    copy of source; on failure result is
 *                                    left unconstructed;
 *   T_assign(result, source)         copies every field of source into the
 *                                    constructed result; self-assignment
 *                                    does nothing;
 *   T_destruct(result)               releases what the record owns; it may
 *                                    then only be constructed again.
 * A NULL argument is a broken precondition (assertion service). Each family
 * says what its records hold after construct and what assign copies. */
#define ZFIT_DECLARE_RESULT_LIFE_CYCLE(T)                               \
    ZFIT_API zfit_status T##_construct(T* result);                      \
    ZFIT_API zfit_status T##_constructCopy(T* result, const T* source); \
    ZFIT_API zfit_status T##_assign(T* result, const T* source);        \
    ZFIT_API zfit_status T##_destruct(T* result);                       \
    ZFIT_DECLARE_TYPE_CHECK_HOOKS(T)

#endif
