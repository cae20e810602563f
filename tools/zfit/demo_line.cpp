// Line demo: edge points along a slanted edge, with a little noise; the same
// edge with glare spots that the fit discards; and a straightness check of a
// machined edge by its minimum-zone strip.
#include <cmath>
#include <numbers>

#include "demo.hpp"

namespace {

void printLine(const zmath_lineFitResult& result)
{
    const zmath_shapeFLine& line = result.line;
    std::printf("  normal form  -x*sin(t) + y*cos(t) = d,  t = %.6f rad (%.3f deg), d = %.6f\n", line.angle,
                line.angle * 180.0 / std::numbers::pi, line.d);
    std::printf("  direction    (%.6f, %.6f)\n", std::cos(line.angle), std::sin(line.angle));
}

void printIgnored(const zmath_lineFitResult& result, const zmath_vect* points)
{
    std::printf("  discarded   ");
    const std::span<const int32_t> ignored = zfit::ignored(result);
    for (const int32_t i : ignored) std::printf(" #%d (%.2f, %.2f)", static_cast<int>(i), points[i].x, points[i].y);
    std::printf("%s\n", ignored.empty() ? " none" : "");
}

// Fits the points with the given parameters and prints the result.
// With a picture name, `zfit demo --svg DIR` also draws the fit.
int fitAndPrint(const char* title, const zmath_vect* points, int32_t count, const zmath_lineFitParams& params,
                const char* errorName, const char* picture = nullptr)
{
    zfit::Result<zmath_lineFitResult> owner;
    if (demo::report("line result", owner.status())) return 1;
    zmath_lineFitResult& result = *owner;
    int failed = demo::report(title, zmath_lineFit(points, count, &params, &result));
    if (!failed) {
        std::printf("%s, %d points", title, static_cast<int>(count));
        if (params.numIgnore > 0) std::printf(", %d discarded", static_cast<int>(params.numIgnore));
        std::printf("\n");
        printLine(result);
        if (params.numIgnore > 0) printIgnored(result, points);
        std::printf("  %-11s %.6f", errorName, result.rmsError);
        if (std::isfinite(params.maxRmsError)) std::printf("   limit %.3f", params.maxRmsError);
        std::printf("   valid %d\n", static_cast<int>(result.isValid));
        if (picture) failed = demo::picture(picture, zcli::lineFigure({points, points + count}, result, params.mode));
        std::printf("\n");
    }
    return failed;
}

}  // namespace

int demo::line()
{
    // Points on y = 0.5 x + 2 sampled at x = 0..11, perturbed by up to 0.02.
    const zmath_vect points[] = {
        {0.0, 2.013}, {1.0, 2.488}, {2.0, 3.006}, {3.0, 3.491}, {4.0, 4.017},  {5.0, 4.502},
        {6.0, 4.985}, {7.0, 5.509}, {8.0, 5.993}, {9.0, 6.511}, {10.0, 6.996}, {11.0, 7.504},
    };
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    int failed = fitAndPrint("line (least squares)", points, sizeof points / sizeof points[0], params, "rmsError");

    // The same edge with three glare spots among the edge points; the fit
    // tries every choice of three points to discard.
    const zmath_vect glare[] = {
        {0.0, 2.013}, {1.0, 2.488}, {2.0, 3.006},  {2.5, 6.200},  {3.0, 3.491},
        {4.0, 4.017}, {5.0, 4.502}, {6.0, 4.985},  {6.5, 1.100},  {7.0, 5.509},
        {8.0, 5.993}, {9.0, 6.511}, {10.0, 6.996}, {10.5, 9.800}, {11.0, 7.504},
    };
    params.numIgnore = 3;
    failed += fitAndPrint("line with outliers removed", glare, sizeof glare / sizeof glare[0], params, "rmsError");

    // A machined edge probed at 10 places, one probe on a burr: the narrowest
    // strip holding the other nine, checked against a straightness tolerance
    // of 0.05 (its half-width must stay below the limit).
    const zmath_vect edge[] = {
        {0.0, 10.012},  {5.0, 10.031}, {10.0, 9.994},  {15.0, 10.041}, {20.0, 10.008},
        {25.0, 10.187}, {30.0, 9.985}, {35.0, 10.022}, {40.0, 10.036}, {45.0, 9.991},
    };
    params.numIgnore = 1;
    params.mode = 1;
    params.maxRmsError = 0.05;
    failed += fitAndPrint("minimum-zone strip", edge, sizeof edge / sizeof edge[0], params, "half-width", "line");
    return failed;
}
