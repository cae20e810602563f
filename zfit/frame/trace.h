/* Failure trace: which step of the libraries refused, and where.
 *
 * The libraries print nothing. A host that wants to know why a call failed
 * installs a trace for its thread: every step that fails inside the
 * libraries (each ZFIT_TRY that passes a failure on, each ZFIT_FAIL_IF that
 * refuses) then reports its source file, line, the failing expression and
 * the status, innermost first. With no trace installed (the default) a
 * failing step costs one test of a per-thread slot. The hook lives in the
 * services library (libzfit_services.so) with the other per-thread hooks. */
#ifndef ZFIT_FRAME_TRACE_H
#define ZFIT_FRAME_TRACE_H

#include <stdint.h>
#include <zfit/frame/export.h>
#include <zfit/frame/status.h>

ZFIT_EXTERN_C_BEGIN

/* Told of one failing step: file and expression are the library's own
 * static texts (valid for the life of the process). */
typedef void (*zsys_traceFn)(void* context, const char* file, int32_t line, const char* expression, zfit_status status);

/* Installs fn (NULL removes it) with its context for the calling thread. */
ZFIT_API void zsys_trace_install(zsys_traceFn fn, void* context);
/* The trace installed on the calling thread (NULL when none). */
ZFIT_API void zsys_trace_installed(zsys_traceFn* fn, void** context);
/* Reports a failing step to the calling thread's trace, if any. Called by
 * ZFIT_TRY and ZFIT_FAIL_IF (zfit/frame/status.hpp). */
ZFIT_API void zsys_trace_(const char* file, int32_t line, const char* expression, zfit_status status);

ZFIT_EXTERN_C_END

#endif
