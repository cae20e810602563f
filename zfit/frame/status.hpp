// The status helpers every C++ source of the libraries uses.
#pragma once

#include <zfit/frame/status.h>
#include <zfit/frame/trace.h>

// Runs a step and returns its status from the enclosing function when it
// failed, unchanged: one line per fallible step. The failure is reported to
// the thread's trace (zfit/frame/trace.h), if one is installed.
#define ZFIT_TRY(expression)                                                \
    do {                                                                    \
        const zfit_status zfit_try_status_ = (expression);                  \
        if (::zfit::failed(zfit_try_status_)) {                             \
            zsys_trace_(__FILE__, __LINE__, #expression, zfit_try_status_); \
            return zfit_try_status_;                                        \
        }                                                                   \
    } while (0)

// Refuses with `status` when the condition holds, telling the thread's
// trace which test refused: ZFIT_FAIL_IF(n < 3, zmath_errDegenerate).
#define ZFIT_FAIL_IF(condition, status)                            \
    do {                                                           \
        if (condition) {                                           \
            zsys_trace_(__FILE__, __LINE__, #condition, (status)); \
            return (status);                                       \
        }                                                          \
    } while (0)
