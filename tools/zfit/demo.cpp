#include "demo.hpp"

#include <filesystem>
#include <system_error>

#include <zfit/frame/status_names.h>

namespace demo {

namespace {
std::string pictureDirectory;
}

int report(const char* what, zfit_status status)
{
    if (!ZFIT_FAILED(status)) return 0;
    const char* name = zfit_statusName(status);
    std::fprintf(stderr, "%s failed: %s (0x%08x)\n", what, name ? name : "unknown status",
                 static_cast<unsigned>(status));
    return 1;
}

int picture(const char* name, const zcli::Figure& figure)
{
    if (pictureDirectory.empty()) return 0;
    const std::string path = (std::filesystem::path(pictureDirectory) / (std::string(name) + ".svg")).string();
    try {
        figure.write(path);
    } catch (const zcli::UsageError& e) {
        std::fprintf(stderr, "zfit: %s\n", e.what());
        return 1;
    }
    std::printf("  picture      %s\n", path.c_str());
    return 0;
}

}  // namespace demo

int runDemo(const std::string& svgDirectory)
{
    if (!svgDirectory.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(svgDirectory, ec);
        if (ec) {
            std::fprintf(stderr, "zfit: cannot create %s: %s\n", svgDirectory.c_str(), ec.message().c_str());
            return 2;
        }
    }
    demo::pictureDirectory = svgDirectory;
    using Family = int (*)();
    const Family families[] = {
        demo::line, demo::circle, demo::ellipse, demo::pointToPoint, demo::pointToLine, demo::parabola, demo::roundness,
    };
    int failures = 0;
    for (Family family : families) failures += family();
    return failures == 0 ? 0 : 1;
}
