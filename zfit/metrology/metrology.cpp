// The companion library's own identity: which version was loaded.
#include <zfit/metrology/metrology.h>

#ifndef ZFIT_METROLOGY_VERSION_MAJOR
#error "the build defines the version numbers"
#endif

extern "C" zfit_status zmet_version(int32_t* major, int32_t* minor, int32_t* patch)
{
    if (major) *major = ZFIT_METROLOGY_VERSION_MAJOR;
    if (minor) *minor = ZFIT_METROLOGY_VERSION_MINOR;
    if (patch) *patch = ZFIT_METROLOGY_VERSION_PATCH;
    return zfit_ok;
}
