// The precondition check of the libraries' C++ sources.
#pragma once

#include <zfit/frame/status.h>
#include <zfit/frame/trace.h>
#include <zfit/services/services.h>

// Reports a broken precondition of the caller to the assertion service; if
// the host's handler returns, the function gives up with
// zstd_errBrokenPrecondition instead of running on bad input, telling the
// thread's trace which test refused, as ZFIT_FAIL_IF does:
// ZFIT_REQUIRE(count == 0 || points != nullptr).
#define ZFIT_REQUIRE(condition)                                                      \
    do {                                                                             \
        if (!(condition)) {                                                          \
            zstd_assert_(__LINE__);                                                  \
            zsys_trace_(__FILE__, __LINE__, #condition, zstd_errBrokenPrecondition); \
            return zstd_errBrokenPrecondition;                                       \
        }                                                                            \
    } while (0)
