/* Run-time services: attention poll, assertion, memory.
 *
 * Host hooks (attention check, assertion handler, allocator) are installed
 * per thread: a hook installed on one thread affects only calls made on that
 * thread. Nothing here starts threads or reads files. */
#ifndef ZFIT_SERVICES_SYSTEM_H
#define ZFIT_SERVICES_SYSTEM_H

#include <stddef.h>
#include <stdint.h>
#include <zfit/frame/export.h>
#include <zfit/frame/status.h>
#include <zfit/frame/trace.h>

ZFIT_EXTERN_C_BEGIN

/* ---- attention poll --------------------------------------------------- */

/* A host's attention check: return 0 to let the operation go on, or a
 * failure status (normally zsys_errCancelled) to make it stop; the long
 * searches return that status unchanged. */
typedef zfit_status (*zsys_attentionFn)(void* context);

/* Polled by the searching fits once per pass of their outer loop. Returns 0
 * when no check is installed on this thread, else what the check returns. */
ZFIT_API zfit_status zsys_attention_check(void);
/* Installs fn (NULL removes it) with its context for the calling thread. */
ZFIT_API void zsys_attention_install(zsys_attentionFn fn, void* context);
/* The check installed on the calling thread (NULL when none). */
ZFIT_API void zsys_attention_installed(zsys_attentionFn* fn, void** context);

/* A ready deadline check: install zsys_deadline_check with a zsys_deadline
 * as context and every poll after the deadline returns zsys_errCancelled. */
typedef struct zsys_deadline {
    int64_t expiresNs; /* on the monotonic clock */
} zsys_deadline;

/* Sets the deadline `seconds` from now (monotonic clock). A deadline
 * beyond the clock's range (or NaN) never expires; zero or a negative value
 * has expired already. */
ZFIT_API zfit_status zsys_deadline_init(zsys_deadline* deadline, double seconds);
/* Attention check: 0 before the deadline, zsys_errCancelled after it. */
ZFIT_API zfit_status zsys_deadline_check(void* deadline);

/* ---- assertion --------------------------------------------------------- */

/* A handler for broken preconditions, given the source line that detected
 * the fault. */
typedef void (*zsys_assertFn)(void* context, int32_t line);

/* Reports a programming error (a broken precondition of the caller). By
 * default it writes "zfit: broken precondition at line N" to standard error
 * and aborts. With a handler installed on this thread it calls the handler;
 * if the handler returns, the caller returns zstd_errBrokenPrecondition. */
ZFIT_API void zstd_assert_(int32_t line);
/* Installs a handler (NULL restores the default) for the calling thread. */
ZFIT_API void zstd_assert_install(zsys_assertFn fn, void* context);
/* The handler installed on the calling thread (NULL when the default). */
ZFIT_API void zstd_assert_installed(zsys_assertFn* fn, void** context);

/* ---- memory ------------------------------------------------------------ */

/* Sets count bytes at destination to value. Returns 0. */
ZFIT_API zfit_status zsys_memory_fill(int32_t value, size_t count, void* destination);

/* A host allocator: allocate returns NULL on failure. */
typedef struct zsys_allocator {
    void* (*allocate)(void* context, size_t bytes);
    void (*release)(void* context, void* block);
    void* context;
} zsys_allocator;

/* The one allocation path of the services: *block = bytes of storage, or
 * zstd_errOutOfMemory (and *block = NULL). bytes 0 yields NULL and 0. */
ZFIT_API zfit_status zsys_memory_allocate(size_t bytes, void** block);
/* Releases a block from zsys_memory_allocate (NULL is ignored). */
ZFIT_API void zsys_memory_release(void* block);
/* Installs an allocator for the calling thread (NULL restores malloc/free).
 * Blocks must be released by the allocator that made them. */
ZFIT_API void zsys_memory_install(const zsys_allocator* allocator);

ZFIT_EXTERN_C_END

#endif
