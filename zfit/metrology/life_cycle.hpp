// What the life cycles of the companion's result records share.
#pragma once

#include <zfit/frame/status.hpp>
#include <zfit/services/require.hpp>

namespace zmet {

// R_constructCopy from the record's own construct and assign: on a failed
// assignment, release(result) gives back what construct took, and the
// record is left unconstructed.
template <class R, class Construct, class Assign, class Release>
zfit_status constructCopyOf(R* result, const R* source, Construct construct, Assign assign, Release release)
{
    ZFIT_REQUIRE(result != nullptr && source != nullptr);
    ZFIT_TRY(construct(result));
    if (const zfit_status status = assign(result, source); ZFIT_FAILED(status)) {
        release(result);
        return status;
    }
    return zfit_ok;
}

}  // namespace zmet
