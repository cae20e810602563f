// The status helpers every C++ source of the libraries uses.
#pragma once

#include <zfit/frame/status.h>

namespace zfit {

// A status is a failure exactly when its top bit is set.
constexpr bool failed(zfit_status status) { return status < 0; }

}  // namespace zfit

// Runs a step and returns its status from the enclosing function when it
// failed, unchanged: one line per fallible step.
#define ZFIT_TRY(expression)                                  \
    do {                                                      \
        const zfit_status zfit_try_status_ = (expression);    \
        if (::zfit::failed(zfit_try_status_)) return zfit_try_status_; \
    } while (0)
