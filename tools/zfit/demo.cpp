#include "demo.hpp"

#include <zfit/frame/status_names.h>

namespace demo {

int report(const char* what, zfit_status status)
{
    if (!ZFIT_FAILED(status)) return 0;
    const char* name = zfit_statusName(status);
    std::fprintf(stderr, "%s failed: %s (0x%08x)\n", what, name ? name : "unknown status",
                 static_cast<unsigned>(status));
    return 1;
}

}  // namespace demo

int runDemo()
{
    using Family = int (*)();
    const Family families[] = {
        demo::line,
        demo::circle,
        demo::ellipse,
        demo::pointToPoint,
        demo::pointToLine,
        demo::parabola,
    };
    int failures = 0;
    for (Family family : families) failures += family();
    return failures == 0 ? 0 : 1;
}
