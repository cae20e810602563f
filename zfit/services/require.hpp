// The precondition check of the libraries' C++ sources.
#pragma once

#include <zfit/frame/status.h>
#include <zfit/services/services.h>

// Reports a broken precondition of the caller to the assertion service; if
// the host's handler returns, the function gives up with
// zstd_errBrokenPrecondition instead of running on bad input.
#define ZFIT_REQUIRE(condition)                \
    do {                                       \
        if (!(condition)) {                    \
            zstd_assert_(__LINE__);            \
            return zstd_errBrokenPrecondition; \
        }                                      \
    } while (0)
