// The parameter checks of the geometric fits, shared by their plain entries
// and the entries that discard points first (ignoring_fit.cpp).
#pragma once

#include <zfit/metrology/geometric/geometric.h>

namespace zmet {

// Every field in the order geometric.h lists the statuses, numIgnore's
// sign included; the plain entries then refuse a numIgnore above 0.
zfit_status checkParams(const zmet_geometricCircleParams& p);
zfit_status checkParams(const zmet_geometricEllipseParams& p);

}  // namespace zmet
