// `zfit parabola`: the parabola in any orientation through points,
// unweighted or weighted; by default with its axis converged to rounding
// (the companion library's zmet_parabolaFit), with --max-iterations the
// fitting library's search as it stands.
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>
#include <zfit/metrology/metrology.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct ParabolaOptions : FitOptions<zmet_parabolaParams, zmet_parabolaParams_init> {
    const CLI::Option* passesOption = nullptr;  // --max-iterations, given or not

    void add(CLI::App& command)
    {
        addValue(command, "--max-iterations", params.maxIterations,
                 "search the axis angle in at most N passes per starting direction and report that search as it "
                 "stands (maxIterations); without it the axis is converged to rounding",
                 "N");
        passesOption = command.get_option("--max-iterations");
    }
};

Json poseJson(const zmath_xformRigid& pose)
{
    return Json{{"angle", number(pose.angle)},
                {"cosine", number(pose.cosine)},
                {"sine", number(pose.sine)},
                {"translation", vectJson(pose.translation)}};
}

int runParabola(const ParabolaOptions& o)
{
    refuseIterations("parabola", o.params.maxIterations);
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, o.common.weights, true});
    const std::vector<zmath_vect> points = table.points();

    zmet_parabolaParams params = o.params;
    if (o.passesOption->count() > 0) params.maxRefinements = 0;  // the search as it stands
    zmet_parabolaResult fitted{};
    std::vector<double> weights;
    if (o.common.weights) weights = table.column(2);
    const zfit_status status =
        o.common.weights ? zmet_parabolaFitWeighted(points.data(), table.count(), weights.data(), &params, &fitted)
                         : zmet_parabolaFit(points.data(), table.count(), &params, &fitted);
    // The fitting library's result record, which the picture draws.
    const zmath_parabolaFitResult r{fitted.isValid, fitted.parabola, fitted.rmsError};

    Outcome out("parabola", o.common, table.rows(), status, r.isValid,
                Json{{"maxIterations", params.maxIterations},
                     {"maxRefinements", params.maxRefinements},
                     {"weighted", o.common.weights}});
    const auto describe = [&](Outcome& out) {
        const zmath_xformRigid& pose = r.parabola.pose;
        const double a = r.parabola.coefficient;
        const zmath_vect axis{-pose.sine, pose.cosine};  // the frame's y axis: the axis of symmetry
        out.result = Json{{"isValid", r.isValid != 0},
                          {"parabola", {{"pose", poseJson(pose)}, {"coefficient", number(a)}}},
                          {"rmsError", number(r.rmsError)}};
        out.extra = Json{{"vertex", vectJson(pose.translation)},
                         {"angleDegrees", number(pose.angle * 180.0 / std::numbers::pi)},
                         {"axis", vectJson(axis)},
                         {"converged", fitted.converged != 0},
                         {"refinements", fitted.refinements}};
        Summary s("parabola fit: " + std::string(o.common.weights ? "weighted, " : "") + std::to_string(table.rows()) +
                  " points");
        s.row("curve", "y' = a*x'^2 in the frame placed by the pose (vertex at its origin)");
        s.row("coefficient a", fmt(a) + (a != 0.0 ? "   (focal length " + fmt(1.0 / (4.0 * std::abs(a))) + ")" : ""));
        s.row("vertex", fmtPoint(pose.translation));
        s.row("pose angle", fmtAngle(pose.angle) + "   (rotation of the frame)");
        s.row("axis", fmtPoint(axis) + (a >= 0 ? "   (opens this way)" : "   (opens the other way)"));
        s.row("rmsError", fmt(r.rmsError));
        s.row("converged", fitted.converged ? "yes   (the axis angle to rounding)"
                                            : "no   (a further step would still move the axis angle)");
        s.row("valid", r.isValid ? "yes" : "no");
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return parabolaFigure(points, r, o.common.weights); });
}

}  // namespace

Figure parabolaFigure(const std::vector<zmath_vect>& points, const zmath_parabolaFitResult& r, bool weighted)
{
    const zmath_xformRigid& pose = r.parabola.pose;
    Figure f(weighted ? "Parabola (weighted)" : "Parabola");
    f.note("y' = a*x'^2 with a = " + fmt(r.parabola.coefficient) + " in the frame turned by " + fmtAngle(pose.angle));
    f.note("vertex " + fmtPoint(pose.translation) + ", rmsError " + fmt(r.rmsError) + ", " +
           std::to_string(points.size()) + " points");
    f.parabola(pose, r.parabola.coefficient);
    addPoints(f, points, {});
    f.legend("fitted parabola", "fit");
    // Mark the vertex when it lies near the points (a flat arc's vertex can be far away).
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
    for (const zmath_vect& p : points)
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    const double reach = std::max(x1 - x0, y1 - y0);
    const zmath_vect v = pose.translation;
    if (v.x >= x0 - reach && v.x <= x1 + reach && v.y >= y0 - reach && v.y <= y1 + reach) {
        f.cross(v, "centre");
        f.legend("vertex", "centre");
    }
    return f;
}

void addParabolaCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "parabola",
                  "fit a parabola in any orientation to points (columns: x, y [, weight]); pose angle (radians, the "
                  "direction of the frame's x axis, the parabola opening towards its +y) in (-pi, pi]",
                  Offers{.weights = true, .limit = nullptr}, runParabola);
}

}  // namespace zcli
