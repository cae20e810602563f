// `zfit ellipse`: the algebraic ellipse through points, optionally leaving
// out the N points whose omission fits best.
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>
#include <zfit/ellipse/ellipse.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct EllipseOptions {
    Common common;
    int32_t numIgnore = 0;
    double maxRmsError = HUGE_VAL;
};

using EllipseResult =
    Record<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

// One poll per subset of k points left out: C(n, k) of them.
SearchPlan ellipsePlan(int32_t k, int64_t n)
{
    if (k <= 0 || n < k + 5) return SearchPlan::uniform("ellipse fit", 0);
    double subsets = 1.0;
    for (int32_t i = 0; i < k; ++i) subsets = subsets * static_cast<double>(n - i) / static_cast<double>(i + 1);
    const auto polls = subsets < 9e18 ? static_cast<int64_t>(std::llround(subsets)) : INT64_MAX;
    return SearchPlan::uniform("ellipse search", polls);
}

struct EllipseParts {
    zmath_vect centre{};
    double radii[2] = {0, 0};
    double angle = 0;
    zmath_xformLinear xform{};
};

EllipseParts partsOf(const zmath_shapeEllipse& e)
{
    EllipseParts p;
    zmath_shapeEllipse_getCenter(&e, &p.centre);
    zmath_shapeEllipse_getRadii(&e, p.radii);
    zmath_shapeEllipse_getAngle(&e, &p.angle);
    zmath_shapeEllipse_getXform(&e, &p.xform);
    return p;
}

int runEllipse(const EllipseOptions& o)
{
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, false, false});
    const std::vector<zmath_vect> points = table.points();

    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = o.numIgnore;
    params.maxRmsError = o.maxRmsError;

    EllipseResult result;
    zfit_status status = result.status();
    if (!ZFIT_FAILED(status)) {
        Watch watch(o.common, ellipsePlan(params.numIgnore, table.count()));
        status = zmath_ellipseFit(points.data(), table.count(), &params, &result.record);
    }
    const zmath_ellipseFitResult& r = result.record;

    Outcome out;
    out.command = "ellipse";
    out.common = &o.common;
    out.count = table.rows();
    out.status = status;
    out.valid = r.isValid != 0;
    out.params = Json{{"numIgnore", params.numIgnore}, {"maxRmsError", number(params.maxRmsError)}};
    if (!ZFIT_FAILED(status)) {
        const std::vector<int32_t> ignored = indicesOf(r.ignoredIndices);
        const EllipseParts e = partsOf(r.ellipse);
        out.result = Json{{"isValid", r.isValid},
                          {"ellipse",
                           {{"center", vectJson(e.centre)},
                            {"radius1", number(e.radii[0])},
                            {"radius2", number(e.radii[1])},
                            {"angle", number(e.angle)}}},
                          {"rmsError", number(r.rmsError)},
                          {"ignoredIndices", ignored}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)},
                         {"angleDegrees", number(e.angle * 180.0 / std::numbers::pi)},
                         {"xform", xformJson(e.xform)}};
        Summary s("ellipse fit: " + std::to_string(table.rows()) + " points, " + std::to_string(ignored.size()) +
                  " discarded");
        s.row("centre", fmtPoint(e.centre));
        s.row("radius1", fmt(e.radii[0]) + "   (along the angle)");
        s.row("radius2", fmt(e.radii[1]) + "   (across it)");
        s.row("angle", fmtAngle(e.angle));
        s.row("transform", "unit circle -> ellipse: M = " + fmtMatrix(e.xform.matrix) + ", t = " +
                               fmtPoint(e.xform.translation));
        s.row("rmsError", fmt(r.rmsError));
        s.row("valid", std::string(r.isValid ? "yes" : "no") + "   (limit " + fmtLimit(params.maxRmsError) + ")");
        s.row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    }
    if (!o.common.svg.empty()) {
        if (ZFIT_FAILED(status))
            failureFigure("ellipse", points, status).write(o.common.svg);
        else
            ellipseFigure(points, r).write(o.common.svg);
    }
    return finish(out);
}

}  // namespace

Figure ellipseFigure(const std::vector<zmath_vect>& points, const zmath_ellipseFitResult& r)
{
    const std::vector<int32_t> ignored = indicesOf(r.ignoredIndices);
    const EllipseParts e = partsOf(r.ellipse);
    Figure f("Ellipse");
    f.note("centre " + fmtPoint(e.centre) + ", radii " + fmt(e.radii[0]) + " and " + fmt(e.radii[1]) + ", angle " +
           fmtAngle(e.angle));
    f.note("rmsError " + fmt(r.rmsError) + ", " + std::to_string(points.size()) + " points, " +
           std::to_string(ignored.size()) + " discarded" + (r.isValid ? "" : ", not valid"));
    f.ellipse(e.centre, e.radii[0], e.radii[1], e.angle);
    f.cross(e.centre, "centre");
    addPoints(f, points, ignored);
    f.legend("fitted ellipse", "fit");
    f.legend("centre", "centre");
    return f;
}

void addEllipseCommand(CLI::App& app, Registry& registry)
{
    auto o = std::make_shared<EllipseOptions>();
    zmath_ellipseFitParams defaults;
    zmath_ellipseFitParams_init(&defaults);
    o->numIgnore = defaults.numIgnore;
    o->maxRmsError = defaults.maxRmsError;

    CLI::App* command = app.add_subcommand("ellipse", "fit an ellipse to points (columns: x, y)");
    command
        ->add_option("--ignore", o->numIgnore,
                     "leave out the N points whose omission fits best (numIgnore; tries every choice)")
        ->type_name("N")
        ->capture_default_str();
    command->add_option("--max-rms", o->maxRmsError, "the fit is valid only when rmsError is below R (maxRmsError)")
        ->type_name("R")
        ->capture_default_str();
    addCommonOptions(*command, o->common, false);
    registry.add(command, [o] { return runEllipse(*o); });
}

}  // namespace zcli

