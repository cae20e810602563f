// `zfit circle`: the circle through points (free radius, fixed radius, or
// weighted), discarding the worst points on request; with --geometric the
// orthogonal-distance circle and the uncertainty of its parameters.
#include <cmath>
#include <memory>

#include <CLI/CLI.hpp>
#include <zfit/circle/circle.h>

#include <zfit/family/search_plan.hpp>

#include "cli.hpp"

namespace zcli {

namespace {

struct CircleOptions : FitOptions<zmath_circleFitParams, zmath_circleFitParams_init> {
    const CLI::Option* fixedOption = nullptr;  // --fixed-radius, given or not
    bool geometric = false;
    int32_t maxIterations = 100;
    RobustChoice robust;

    void add(CLI::App& command)
    {
        robust.addIgnore(command, "discard the N points that fit worst (numIgnore)");
        addMaxRms(command, params.maxRmsError);
        robust.add(command);
        fixedOption = command
                          .add_option("--fixed-radius", params.fixedRadius,
                                      "impose the radius R and fit only the centre (mode 1, fixedRadius)")
                          ->type_name("R");
        command.add_flag("--geometric", geometric,
                         "fit the orthogonal-distance circle (unbiased on short arcs) and report the uncertainty of "
                         "its parameters: standard errors and 95% intervals; with --ignore, of the points the "
                         "search keeps");
        addValue(command, "--max-iterations", maxIterations, "the geometric fit's limit of iterations", "N");
    }
};

// The plan of the free- and fixed-radius searches; the weighted fit does
// not search.
SearchPlan circlePlan(const zmath_circleFitParams& params, int64_t n, bool weighted)
{
    if (weighted) return {"circle fit", 0, {}};
    const int64_t m = params.numIgnore;
    return {"circle search", zfit::plan::circlePolls(n, m),
            [n, m](int64_t done) { return zfit::plan::circleShareDone(n, m, done); }};
}

Figure geometricCircleFigure(const std::vector<zmath_vect>& points, const zmet_geometricCircleResult& r,
                             std::span<const int32_t> ignored, const std::string& kind)
{
    Figure f("Geometric circle (" + kind + ")");
    const zmet_uncertainty& u = r.uncertainty;
    const int radiusAt = u.parameterCount - 1;
    f.note("centre " + fmtPoint(r.centre) + ", radius " + fmt(r.radius) +
           (u.parameterCount == 3 ? " ± " + fmt(u.halfWidth95[radiusAt]) + " (95%)" : " (imposed)"));
    f.note(errorNote("RMS orthogonal distance", r.rmsError, points.size(), ignored.size(), r.isValid));
    f.circle(r.centre, r.radius);
    addCentred(f, r.centre, points, ignored, "geometric circle");
    return f;
}

// --geometric: the orthogonal-distance circle; with --ignore, of the points
// the algebraic search keeps.
int runGeometricCircle(const CircleOptions& o, const Table& table, const std::vector<zmath_vect>& points,
                       const zmath_circleFitParams& params)
{
    zmet_geometricCircleParams geometric;
    zmet_geometricCircleParams_init(&geometric);
    geometric.maxRmsError = params.maxRmsError;
    geometric.mode = params.mode;
    geometric.fixedRadius = params.fixedRadius;
    geometric.maxIterations = o.maxIterations;
    geometric.numIgnore = params.numIgnore;
    const std::vector<double> weights = o.common.weights ? table.column(2) : std::vector<double>{};
    zfit::GeometricCircleIgnoringResult found;
    const zfit_status status = fitInto(found, o.common, circlePlan(params, table.count(), false), [&](auto* result) {
        return zmet_geometricCircleFitIgnoring(points.data(), table.count(),
                                               o.common.weights ? weights.data() : nullptr, &geometric, result);
    });
    const zmet_geometricCircleResult r = zfit::failed(found.status()) ? zmet_geometricCircleResult{} : found->fit;
    const std::span<const int32_t> ignored = zfit::failed(status) ? std::span<const int32_t>{} : zfit::ignored(*found);

    Outcome out("circle", o.common, table.rows(), status, r.isValid,
                Json{{"numIgnore", params.numIgnore},
                     {"maxRmsError", number(params.maxRmsError)},
                     {"mode", params.mode},
                     {"fixedRadius", number(params.fixedRadius)},
                     {"weighted", o.common.weights},
                     {"geometric", true},
                     {"maxIterations", geometric.maxIterations}});
    const std::string kind =
        std::string(params.mode == 1 ? "fixed radius" : "free radius") + (o.common.weights ? ", weighted" : "");
    const auto describe = [&](Outcome& out) {
        const zmet_uncertainty& u = r.uncertainty;
        std::vector<std::string> names = {"centre.x", "centre.y", "radius"};
        names.resize(static_cast<std::size_t>(u.parameterCount));
        const Json uncertainty = uncertaintyJson(u, names, {r.centre.x, r.centre.y, r.radius});
        out.result = Json{{"isValid", r.isValid != 0},
                          {"centre", vectJson(r.centre)},
                          {"radius", number(r.radius)},
                          {"rmsError", number(r.rmsError)},
                          {"iterations", r.iterations},
                          {"ignoredIndices", indicesJson(ignored)},
                          {"covariance", uncertainty["covariance"]},
                          {"std_errors", uncertainty["std_errors"]}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)}, {"uncertainty", uncertainty}};
        Summary s("geometric circle fit: " + kind + ", " + countText(table.rows(), ignored.size()));
        s.row("centre x", fmtMeasured(r.centre.x, u, 0));
        s.row("centre y", fmtMeasured(r.centre.y, u, 1));
        s.row("radius", u.parameterCount == 3 ? fmtMeasured(r.radius, u, 2) : fmt(r.radius) + "   (imposed)");
        if (u.parameterCount == 3)
            s.row("diameter", fmt(2 * r.radius) + " ± " + fmt(2 * u.standardErrors[2]) +
                                  "   (95%: " + fmt(2 * (r.radius - u.halfWidth95[2])) + " .. " +
                                  fmt(2 * (r.radius + u.halfWidth95[2])) + ")");
        s.row("rmsError", fmt(r.rmsError) + "   (orthogonal RMS" + (o.common.weights ? ", weighted)" : ")"));
        s.row("sigma", sigmaText(u));
        s.row("iterations", std::to_string(r.iterations));
        s.validity(r.isValid, params.maxRmsError).row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return geometricCircleFigure(points, r, ignored, kind); });
}

// The robust circle of the options' flavour and radius into r.
zfit_status fitRobustCircle(const CircleOptions& o, const Table& table, const std::vector<zmath_vect>& points,
                            const zmet_robustParams& params, bool fixed, zmet_robustCircleResult* r)
{
    const std::vector<double> weights = o.common.weights ? table.column(2) : std::vector<double>{};
    const double* w = o.common.weights ? weights.data() : nullptr;
    const int32_t flavour = o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic;
    if (fixed)
        return zmet_robustCircleFitFixedRadius(points.data(), table.count(), w, &params, flavour, o.params.fixedRadius,
                                               r);
    return zmet_robustCircleFit(points.data(), table.count(), w, &params, flavour, r);
}

// --robust: the robust circle, its weights and outliers.
int runRobustCircle(const CircleOptions& o, const Table& table, const std::vector<zmath_vect>& points, bool fixed)
{
    const zmet_robustParams params = o.robust.params(o.params.maxRmsError);
    zfit::RobustCircleResult result;
    const zfit_status status =
        fitInto(result, [&](auto* r) { return fitRobustCircle(o, table, points, params, fixed, r); });
    const zmet_robustCircleResult& r = *result;
    Outcome out("circle", o.common, table.rows(), status, r.isValid,
                Json{{"robust", robustParamsJson(params)},
                     {"geometric", o.geometric},
                     {"fixedRadius", fixed ? number(o.params.fixedRadius) : Json(nullptr)},
                     {"weighted", o.common.weights}});
    const auto describe = [&](Outcome& out) {
        const zmet_uncertainty& u = r.robust.uncertainty;
        std::vector<std::string> names = {"centre.x", "centre.y", "radius"};
        names.resize(static_cast<std::size_t>(u.parameterCount));
        out.result = Json{{"isValid", r.isValid != 0},
                          {"centre", vectJson(r.centre)},
                          {"radius", number(r.radius)},
                          {"rmsError", number(r.rmsError)},
                          {"std_errors", uncertaintyJson(u, names, {r.centre.x, r.centre.y, r.radius})["std_errors"]}};
        out.extra = Json::object();
        Summary s("robust circle fit: " + o.robust.estimator + (o.geometric ? ", geometric" : ", algebraic") +
                  (fixed ? ", fixed radius, " : ", ") + std::to_string(table.rows()) + " points");
        s.row("centre x", fmtMeasured(r.centre.x, u, 0));
        s.row("centre y", fmtMeasured(r.centre.y, u, 1));
        s.row("radius", fixed ? fmt(r.radius) + "   (imposed)" : fmtMeasured(r.radius, u, 2));
        s.row("rmsError", fmt(r.rmsError) + "   (RMS orthogonal distance of the inliers)");
        s.validity(r.isValid, params.maxRmsError);
        describeRobust(out, s, r.robust, points);
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] {
        Figure f("Robust circle (" + o.robust.estimator + ")");
        f.note("centre " + fmtPoint(r.centre) + ", radius " + fmt(r.radius) + ", scale " + fmt(r.robust.scale));
        f.note(errorNote("inlier rmsError", r.rmsError, points.size(), zfit::outliers(r.robust).size(), r.isValid));
        f.circle(r.centre, r.radius);
        f.cross(r.centre, "centre");
        addWeightedPoints(f, points, r.robust);
        f.legend("fitted circle", "fit");
        f.legend("centre", "centre");
        return f;
    });
}

int runCircle(const CircleOptions& o)
{
    const bool fixed = o.fixedOption->count() > 0;
    if (fixed && o.common.weights && !o.geometric && !o.robust.robust())
        throw UsageError("circle: --fixed-radius and --weights cannot be combined (the weighted fit frees the radius)");
    if (o.robust.robust() && o.robust.ignore != "0")
        throw UsageError("circle: --robust finds its outliers itself; drop --ignore");
    if (o.robust.autoIgnore() && o.common.weights)
        throw UsageError("circle: --ignore auto counts for the unweighted search; drop --weights");
    zmath_circleFitParams params = o.params;
    if (fixed) params.mode = 1;
    if (!o.robust.autoIgnore()) params.numIgnore = o.robust.ignoreCount();
    refuseParams("circle", zmath_circleFitParams_validate(&params));
    if (o.common.weights && params.numIgnore != 0) refuseParams("circle", zmath_errFitWeightedIgnore);
    if (o.geometric) refuseIterations("circle", o.maxIterations);
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, o.common.weights, true});
    const std::vector<zmath_vect> points = table.points();
    if (o.robust.robust()) return runRobustCircle(o, table, points, fixed);

    const zfit_status counted = searchCount<zmet_robustCircleResult>(
        o.robust, params.maxRmsError,
        [&](const zmet_robustParams& robust, auto* r) { return fitRobustCircle(o, table, points, robust, fixed, r); },
        params.numIgnore);
    if (zfit::failed(counted)) return autoFailed("circle", o.common, table, points, counted);
    if (o.geometric) return runGeometricCircle(o, table, points, params);

    zfit::CircleResult result;
    const zfit_status status =
        fitInto(result, o.common, circlePlan(params, table.count(), o.common.weights), [&](auto* r) {
            if (!o.common.weights) return zmath_circleFit(points.data(), table.count(), &params, r);
            const std::vector<double> weights = table.column(2);
            return zmath_circleFitWeighted(points.data(), table.count(), weights.data(), &params, r);
        });
    const zmath_circleFitResult& r = *result;

    Outcome out("circle", o.common, table.rows(), status, r.isValid,
                Json{{"numIgnore", params.numIgnore},
                     {"maxRmsError", number(params.maxRmsError)},
                     {"mode", params.mode},
                     {"fixedRadius", number(params.fixedRadius)},
                     {"weighted", o.common.weights}});
    const std::string kind = o.common.weights ? "weighted" : params.mode == 1 ? "fixed radius" : "free radius";
    const auto describe = [&](Outcome& out) {
        const std::span<const int32_t> ignored = zfit::ignored(r);
        out.result = Json{{"isValid", r.isValid != 0},
                          {"centre", vectJson(r.centre)},
                          {"radius", number(r.radius)},
                          {"rmsError", number(r.rmsError)},
                          {"ignoredIndices", indicesJson(ignored)}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)}};
        Summary s("circle fit: " + kind + ", " + countText(table.rows(), ignored.size()));
        s.row("centre", fmtPoint(r.centre));
        s.row("radius", fmt(r.radius) + "   (diameter " + fmt(2 * r.radius) + ")");
        s.row("rmsError", fmt(r.rmsError) + (o.common.weights ? "   (weighted radial RMS)" : "   (radial RMS)"));
        s.validity(r.isValid, params.maxRmsError).row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return circleFigure(points, r, kind); });
}

}  // namespace

Figure circleFigure(const std::vector<zmath_vect>& points, const zmath_circleFitResult& r, const std::string& kind)
{
    const std::span<const int32_t> ignored = zfit::ignored(r);
    Figure f("Circle (" + kind + ")");
    f.note("centre " + fmtPoint(r.centre) + ", radius " + fmt(r.radius));
    f.note(errorNote("rmsError", r.rmsError, points.size(), ignored.size(), r.isValid));
    f.circle(r.centre, r.radius);
    addCentred(f, r.centre, points, ignored, "fitted circle");
    return f;
}

void addCircleCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "circle", "fit a circle to points (columns: x, y [, weight])",
                  Offers{.weights = true, .search = true}, runCircle);
}

}  // namespace zcli
