// `zfit circle`: the circle through points (free radius, fixed radius, or
// weighted), discarding the worst points on request.
#include <cmath>
#include <memory>

#include <CLI/CLI.hpp>
#include <zfit/circle/circle.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct CircleOptions {
    Common common;
    int32_t numIgnore = 0;
    double maxRmsError = HUGE_VAL;
    double fixedRadius = 1.0;
    bool fixed = false;  // --fixed-radius was given
};

using CircleResult = Record<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

// The free- and fixed-radius searches poll once per first point of a triple;
// with nothing to discard they stop after the first pass.
SearchPlan circlePlan(const zmath_circleFitParams& params, int64_t n, bool weighted)
{
    if (weighted) return SearchPlan::uniform("circle fit", 0);
    if (params.numIgnore == 0) return SearchPlan::uniform("circle search", 1);
    return SearchPlan::nested("circle search", n > 2 ? n - 2 : 0, n, 2);
}

int runCircle(const CircleOptions& o)
{
    if (o.fixed && o.common.weights)
        throw UsageError("circle: --fixed-radius and --weights cannot be combined (the weighted fit frees the radius)");
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, o.common.weights, true});
    const std::vector<zmath_vect> points = table.points();

    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = o.numIgnore;
    params.maxRmsError = o.maxRmsError;
    if (o.fixed) {
        params.mode = 1;
        params.fixedRadius = o.fixedRadius;
    }

    CircleResult result;
    zfit_status status = result.status();
    if (!ZFIT_FAILED(status)) {
        Watch watch(o.common, circlePlan(params, table.count(), o.common.weights));
        if (o.common.weights) {
            const std::vector<double> weights = table.column(2);
            status = zmath_circleFitWeighted(points.data(), table.count(), weights.data(), &params, &result.record);
        } else {
            status = zmath_circleFit(points.data(), table.count(), &params, &result.record);
        }
    }
    const zmath_circleFitResult& r = result.record;

    Outcome out;
    out.command = "circle";
    out.common = &o.common;
    out.count = table.rows();
    out.status = status;
    out.valid = r.isValid != 0;
    out.params = Json{{"numIgnore", params.numIgnore},
                      {"maxRmsError", number(params.maxRmsError)},
                      {"mode", params.mode},
                      {"fixedRadius", number(params.fixedRadius)},
                      {"weighted", o.common.weights}};
    const std::string kind = o.common.weights ? "weighted" : params.mode == 1 ? "fixed radius" : "free radius";
    if (!ZFIT_FAILED(status)) {
        const std::vector<int32_t> ignored = indicesOf(r.ignoredIndices);
        out.result = Json{{"isValid", r.isValid},
                          {"centre", vectJson(r.centre)},
                          {"radius", number(r.radius)},
                          {"rmsError", number(r.rmsError)},
                          {"ignoredIndices", ignored}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)}};
        Summary s("circle fit: " + kind + ", " + std::to_string(table.rows()) + " points, " +
                  std::to_string(ignored.size()) + " discarded");
        s.row("centre", fmtPoint(r.centre));
        s.row("radius", fmt(r.radius) + "   (diameter " + fmt(2 * r.radius) + ")");
        s.row("rmsError", fmt(r.rmsError) + (o.common.weights ? "   (weighted radial RMS)" : "   (radial RMS)"));
        s.row("valid", std::string(r.isValid ? "yes" : "no") + "   (limit " + fmtLimit(params.maxRmsError) + ")");
        s.row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    }
    if (!o.common.svg.empty()) {
        if (ZFIT_FAILED(status))
            failureFigure("circle", points, status).write(o.common.svg);
        else
            circleFigure(points, r, kind).write(o.common.svg);
    }
    return finish(out);
}

}  // namespace

Figure circleFigure(const std::vector<zmath_vect>& points, const zmath_circleFitResult& r, const std::string& kind)
{
    const std::vector<int32_t> ignored = indicesOf(r.ignoredIndices);
    Figure f("Circle (" + kind + ")");
    f.note("centre " + fmtPoint(r.centre) + ", radius " + fmt(r.radius));
    f.note("rmsError " + fmt(r.rmsError) + ", " + std::to_string(points.size()) + " points, " +
           std::to_string(ignored.size()) + " discarded" + (r.isValid ? "" : ", not valid"));
    f.circle(r.centre, r.radius);
    f.cross(r.centre, "centre");
    addPoints(f, points, ignored);
    f.legend("fitted circle", "fit");
    f.legend("centre", "centre");
    return f;
}

void addCircleCommand(CLI::App& app, Registry& registry)
{
    auto o = std::make_shared<CircleOptions>();
    zmath_circleFitParams defaults;
    zmath_circleFitParams_init(&defaults);
    o->numIgnore = defaults.numIgnore;
    o->maxRmsError = defaults.maxRmsError;

    CLI::App* command =
        app.add_subcommand("circle", "fit a circle to points (columns: x, y [, weight])");
    command->add_option("--ignore", o->numIgnore, "discard the N points that fit worst (numIgnore)")
        ->type_name("N")
        ->capture_default_str();
    command->add_option("--max-rms", o->maxRmsError, "the fit is valid only when rmsError is below R (maxRmsError)")
        ->type_name("R")
        ->capture_default_str();
    o->fixedRadius = defaults.fixedRadius;
    CLI::Option* fixed = command->add_option("--fixed-radius", o->fixedRadius,
                                             "impose the radius R and fit only the centre (mode 1, fixedRadius)")
                             ->type_name("R");
    addCommonOptions(*command, o->common, true);
    registry.add(command, [o, fixed] {
        o->fixed = fixed->count() > 0;
        return runCircle(*o);
    });
}

}  // namespace zcli

