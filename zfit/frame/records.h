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

#endif
