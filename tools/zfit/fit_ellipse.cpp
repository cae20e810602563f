// `zfit ellipse`: the algebraic ellipse through points, optionally leaving
// out the N points whose omission fits best; with --geometric the
// orthogonal-distance ellipse and the uncertainty of its parameters.
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>
#include <zfit/ellipse/ellipse.h>

#include <zfit/family/search_plan.hpp>

#include "cli.hpp"

namespace zcli {

namespace {

struct EllipseOptions : FitOptions<zmath_ellipseFitParams, zmath_ellipseFitParams_init> {
    bool geometric = false;
    int32_t maxIterations = 100;
    RobustChoice robust;

    void add(CLI::App& command)
    {
        robust.addIgnore(command, "leave out the N points whose omission fits best (numIgnore; tries every choice)");
        addMaxRms(command, params.maxRmsError);
        robust.add(command);
        command.add_flag("--geometric", geometric,
                         "fit the orthogonal-distance ellipse (unbiased on partial arcs) and report the uncertainty "
                         "of its parameters: standard errors and 95% intervals; with --ignore, of the points the "
                         "search keeps");
        addValue(command, "--max-iterations", maxIterations, "the geometric fit's limit of iterations", "N");
    }
};

// The plan of the subset search.
SearchPlan ellipsePlan(int32_t k, int64_t n)
{
    return {k > 0 ? "ellipse search" : "ellipse fit", zfit::plan::ellipsePolls(n, k),
            [n, k](int64_t done) { return zfit::plan::ellipseShareDone(n, k, done); }};
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

Json ellipseJson(const EllipseParts& e)
{
    return Json{{"center", vectJson(e.centre)},
                {"radius1", number(e.radii[0])},
                {"radius2", number(e.radii[1])},
                {"angle", number(e.angle)}};
}

Figure geometricEllipseFigure(const std::vector<zmath_vect>& points, const zmet_geometricEllipseResult& r,
                              std::span<const int32_t> ignored)
{
    const zmath_shapeEllipse& e = r.ellipse;
    const zmet_uncertainty& u = r.uncertainty;
    Figure f("Geometric ellipse");
    f.note("centre " + fmtPoint(e.center) + ", radii " + fmt(e.radius1) + " ± " + fmt(u.halfWidth95[2]) + " and " +
           fmt(e.radius2) + " ± " + fmt(u.halfWidth95[3]) + " (95%), angle " + fmtAngle(e.angle));
    f.note(errorNote("RMS orthogonal distance", r.rmsError, points.size(), ignored.size(), r.isValid));
    f.ellipse(e.center, e.radius1, e.radius2, e.angle);
    addCentred(f, e.center, points, ignored, "geometric ellipse");
    return f;
}

// --geometric: the orthogonal-distance ellipse; with --ignore, of the points
// the subset search keeps.
int runGeometricEllipse(const EllipseOptions& o, const Table& table, const std::vector<zmath_vect>& points,
                        const zmath_ellipseFitParams& params)
{
    zmet_geometricEllipseParams geometric;
    zmet_geometricEllipseParams_init(&geometric);
    geometric.maxRmsError = params.maxRmsError;
    geometric.maxIterations = o.maxIterations;
    geometric.numIgnore = params.numIgnore;
    zfit::GeometricEllipseIgnoringResult found;
    const zfit_status status =
        fitInto(found, o.common, ellipsePlan(params.numIgnore, table.count()), [&](auto* result) {
            return zmet_geometricEllipseFitIgnoring(points.data(), table.count(), nullptr, &geometric, result);
        });
    const zmet_geometricEllipseResult r = zfit::failed(found.status()) ? zmet_geometricEllipseResult{} : found->fit;
    const std::span<const int32_t> ignored = zfit::failed(status) ? std::span<const int32_t>{} : zfit::ignored(*found);

    Outcome out("ellipse", o.common, table.rows(), status, r.isValid,
                Json{{"numIgnore", params.numIgnore},
                     {"maxRmsError", number(params.maxRmsError)},
                     {"geometric", true},
                     {"maxIterations", geometric.maxIterations}});
    const auto describe = [&](Outcome& out) {
        const zmath_shapeEllipse& e = r.ellipse;
        const zmet_uncertainty& u = r.uncertainty;
        const Json uncertainty = uncertaintyJson(u, {"center.x", "center.y", "radius1", "radius2", "angle"},
                                                 {e.center.x, e.center.y, e.radius1, e.radius2, e.angle});
        out.result = Json{{"isValid", r.isValid != 0},
                          {"ellipse",
                           {{"center", vectJson(e.center)},
                            {"radius1", number(e.radius1)},
                            {"radius2", number(e.radius2)},
                            {"angle", number(e.angle)}}},
                          {"rmsError", number(r.rmsError)},
                          {"iterations", r.iterations},
                          {"ignoredIndices", indicesJson(ignored)},
                          {"covariance", uncertainty["covariance"]},
                          {"std_errors", uncertainty["std_errors"]}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)},
                         {"angleDegrees", number(e.angle * 180.0 / std::numbers::pi)},
                         {"uncertainty", uncertainty}};
        Summary s("geometric ellipse fit: " + countText(table.rows(), ignored.size()));
        s.row("centre x", fmtMeasured(e.center.x, u, 0));
        s.row("centre y", fmtMeasured(e.center.y, u, 1));
        s.row("radius1", fmtMeasured(e.radius1, u, 2) + "   (semi-major, along the angle)");
        s.row("radius2", fmtMeasured(e.radius2, u, 3));
        const double degrees = 180.0 / std::numbers::pi;
        s.row("angle", fmt(e.angle * degrees) + " ± " + fmt(u.standardErrors[4] * degrees) +
                           " deg   (95%: " + fmt((e.angle - u.halfWidth95[4]) * degrees) + " .. " +
                           fmt((e.angle + u.halfWidth95[4]) * degrees) + ")");
        s.row("rmsError", fmt(r.rmsError) + "   (orthogonal RMS)");
        s.row("sigma", sigmaText(u));
        s.row("iterations", std::to_string(r.iterations));
        s.validity(r.isValid, params.maxRmsError).row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return geometricEllipseFigure(points, r, ignored); });
}

// --robust: the robust ellipse, its weights and outliers.
int runRobustEllipse(const EllipseOptions& o, const Table& table, const std::vector<zmath_vect>& points)
{
    const zmet_robustParams params = o.robust.params(o.params.maxRmsError);
    zfit::RobustEllipseResult result;
    const zfit_status status = fitInto(result, [&](auto* r) {
        return zmet_robustEllipseFit(points.data(), table.count(), nullptr, &params,
                                     o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic, r);
    });
    const zmet_robustEllipseResult& r = *result;
    Outcome out("ellipse", o.common, table.rows(), status, r.isValid,
                Json{{"robust", robustParamsJson(params)}, {"geometric", o.geometric}});
    const EllipseParts e = partsOf(r.ellipse);
    const auto describe = [&](Outcome& out) {
        out.result = Json{{"isValid", r.isValid != 0}, {"ellipse", ellipseJson(e)}, {"rmsError", number(r.rmsError)}};
        out.extra = Json::object();
        Summary s("robust ellipse fit: " + o.robust.estimator + (o.geometric ? ", geometric, " : ", algebraic, ") +
                  std::to_string(table.rows()) + " points");
        s.row("centre", fmtPoint(e.centre));
        s.row("radius1", fmt(e.radii[0]) + "   (along the angle)");
        s.row("radius2", fmt(e.radii[1]) + "   (across it)");
        s.row("angle", fmtAngle(e.angle));
        s.row("rmsError", fmt(r.rmsError) + "   (RMS orthogonal distance of the inliers)");
        s.validity(r.isValid, params.maxRmsError);
        describeRobust(out, s, r.robust, points);
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] {
        Figure f("Robust ellipse (" + o.robust.estimator + ")");
        f.note("centre " + fmtPoint(e.centre) + ", radii " + fmt(e.radii[0]) + ", " + fmt(e.radii[1]) + ", scale " +
               fmt(r.robust.scale));
        f.note(errorNote("inlier rmsError", r.rmsError, points.size(), zfit::outliers(r.robust).size(), r.isValid));
        f.ellipse(e.centre, e.radii[0], e.radii[1], e.angle);
        f.cross(e.centre, "centre");
        addWeightedPoints(f, points, r.robust);
        f.legend("fitted ellipse", "fit");
        f.legend("centre", "centre");
        return f;
    });
}

int runEllipse(const EllipseOptions& o)
{
    zmath_ellipseFitParams params = o.params;
    if (!o.robust.autoIgnore()) params.numIgnore = o.robust.ignoreCount();
    refuseParams("ellipse", zmath_ellipseFitParams_validate(&params));
    if (o.geometric) refuseIterations("ellipse", o.maxIterations);
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, false, false});
    const std::vector<zmath_vect> points = table.points();
    if (o.robust.robust() && o.robust.ignore != "0")
        throw UsageError("ellipse: --robust finds its outliers itself; drop --ignore");
    if (o.robust.robust()) return runRobustEllipse(o, table, points);

    const zfit_status counted = searchCount<zmet_robustEllipseResult>(
        o.robust, params.maxRmsError,
        [&](const zmet_robustParams& robust, auto* r) {
            return zmet_robustEllipseFit(points.data(), table.count(), nullptr, &robust,
                                         o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic, r);
        },
        params.numIgnore);
    if (zfit::failed(counted)) return autoFailed("ellipse", o.common, table, points, counted);
    if (o.geometric) return runGeometricEllipse(o, table, points, params);

    zfit::EllipseResult result;
    const zfit_status status = fitInto(result, o.common, ellipsePlan(params.numIgnore, table.count()), [&](auto* r) {
        return zmath_ellipseFit(points.data(), table.count(), &params, r);
    });
    const zmath_ellipseFitResult& r = *result;

    Outcome out("ellipse", o.common, table.rows(), status, r.isValid,
                Json{{"numIgnore", params.numIgnore}, {"maxRmsError", number(params.maxRmsError)}});
    const auto describe = [&](Outcome& out) {
        const std::span<const int32_t> ignored = zfit::ignored(r);
        const EllipseParts e = partsOf(r.ellipse);
        out.result = Json{{"isValid", r.isValid != 0},
                          {"ellipse", ellipseJson(e)},
                          {"rmsError", number(r.rmsError)},
                          {"ignoredIndices", indicesJson(ignored)}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)},
                         {"angleDegrees", number(e.angle * 180.0 / std::numbers::pi)},
                         {"xform", xformJson(e.xform)}};
        Summary s("ellipse fit: " + countText(table.rows(), ignored.size()));
        s.row("centre", fmtPoint(e.centre));
        s.row("radius1", fmt(e.radii[0]) + "   (along the angle)");
        s.row("radius2", fmt(e.radii[1]) + "   (across it)");
        s.row("angle", fmtAngle(e.angle));
        s.row("transform",
              "unit circle -> ellipse: M = " + fmtMatrix(e.xform.matrix) + ", t = " + fmtPoint(e.xform.translation));
        s.row("rmsError", fmt(r.rmsError));
        s.validity(r.isValid, params.maxRmsError).row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return ellipseFigure(points, r); });
}

}  // namespace

Figure ellipseFigure(const std::vector<zmath_vect>& points, const zmath_ellipseFitResult& r)
{
    const std::span<const int32_t> ignored = zfit::ignored(r);
    const EllipseParts e = partsOf(r.ellipse);
    Figure f("Ellipse");
    f.note("centre " + fmtPoint(e.centre) + ", radii " + fmt(e.radii[0]) + " and " + fmt(e.radii[1]) + ", angle " +
           fmtAngle(e.angle));
    f.note(errorNote("rmsError", r.rmsError, points.size(), ignored.size(), r.isValid));
    f.ellipse(e.centre, e.radii[0], e.radii[1], e.angle);
    addCentred(f, e.centre, points, ignored, "fitted ellipse");
    return f;
}

void addEllipseCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(
        app, registry, "ellipse",
        "fit an ellipse to points (columns: x, y); radius1 >= radius2, angle (of radius1, radians) in [0, pi)",
        Offers{.search = true}, runEllipse);
}

}  // namespace zcli
