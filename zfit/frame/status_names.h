/* Names and texts of the status codes, for tools, bindings and tests.
 *
 * Header-only on purpose: the libraries return codes and hold no texts; a
 * program that wants to print a code includes this header, and only that
 * program's binary holds the texts. */
#ifndef ZFIT_FRAME_STATUS_NAMES_H
#define ZFIT_FRAME_STATUS_NAMES_H

#include <zfit/frame/status.h>

/* The name of a status ("zmath_errDegenerate"), "zfit_ok" for 0, or NULL for
 * a code that is not in the table. */
static inline const char* zfit_statusName(zfit_status status)
{
#define ZFIT_STATUS_NAME_CASE_(name, bits, text) \
    if (status == ZFIT_STATUS_BITS(bits)) return #name;
    if (status == 0) return "zfit_ok";
    ZFIT_STATUS_TABLE(ZFIT_STATUS_NAME_CASE_)
#undef ZFIT_STATUS_NAME_CASE_
    return (const char*)0;
}

/* What a status means, in one sentence without a full stop ("out of
 * memory"), "success" for 0, or NULL for a code that is not in the table. */
static inline const char* zfit_statusText(zfit_status status)
{
#define ZFIT_STATUS_TEXT_CASE_(name, bits, text) \
    if (status == ZFIT_STATUS_BITS(bits)) return text;
    if (status == 0) return "success";
    ZFIT_STATUS_TABLE(ZFIT_STATUS_TEXT_CASE_)
#undef ZFIT_STATUS_TEXT_CASE_
    return (const char*)0;
}

#endif
