// `zfit p2p`: the transform that maps source points onto target points.
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>
#include <zfit/pointtopoint/pointtopoint.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct PointToPointOptions : FitOptions<zmath_pointToPointFitParams, zmath_pointToPointFitParams_init> {
    RobustChoice robust;

    void add(CLI::App& command)
    {
        addValue(command, "--dof", params.dof,
                 "degrees of freedom: 3 rotation+translation, 4 with uniform scale, 5 two scales, 6 general (dof)",
                 "N");
        addMaxRms(command, params.maxRmsError);
        robust.add(command);
    }
};

const char* dofMeaning(int32_t dof)
{
    switch (dof) {
    case 3: return "rotation (or reflection) and translation";
    case 4: return "rotation, uniform scale and translation";
    case 5: return "orthogonal columns (rotation, two scales) and translation";
    case 6: return "general linear map and translation";
    default: return "unknown";
    }
}

zmath_vect mapPoint(const zmath_xformLinear& x, const zmath_vect& p)
{
    zmath_vect out{};
    zmath_xformLinear_mapPoint(&x, &p, &out);
    return out;
}

// --robust: the robust transform; its outliers are the wrong pairs.
int runRobustPointToPoint(const PointToPointOptions& o, const Table& table, const std::vector<zmath_vect>& targets,
                          const std::vector<zmath_vect>& sources)
{
    const zmet_robustParams params = o.robust.params(o.params.maxRmsError);
    zfit::RobustTransformResult result;
    const zfit_status status = fitInto(result, [&](auto* r) {
        const std::vector<double> weights = o.common.weights ? table.column(4) : std::vector<double>{};
        return zmet_robustPointToPointFit(targets.data(), sources.data(), table.count(),
                                          o.common.weights ? weights.data() : nullptr, o.params.dof, &params, r);
    });
    const zmet_robustTransformResult& r = *result;
    Outcome out("p2p", o.common, table.rows(), status, r.isValid,
                Json{{"robust", robustParamsJson(params)}, {"dof", o.params.dof}, {"weighted", o.common.weights}});
    const zmath_pointToPointFitResult plain{r.isValid, r.xform, r.rmsError};
    const auto describe = [&](Outcome& out) {
        out.result = Json{{"isValid", r.isValid != 0}, {"xform", xformJson(r.xform)}, {"rmsError", number(r.rmsError)}};
        out.extra = Json::object();
        Summary s("robust point-to-point fit: " + o.robust.estimator + ", " + std::to_string(o.params.dof) +
                  " degrees of freedom (" + dofMeaning(o.params.dof) + "), " + std::to_string(table.rows()) + " pairs");
        s.row("matrix M", fmtMatrix(r.xform.matrix));
        s.row("translation t", fmtPoint(r.xform.translation));
        s.row("rmsError", fmt(r.rmsError) + "   (RMS distance of the inlier pairs)");
        s.validity(r.isValid, params.maxRmsError);
        describeRobust(out, s, r.robust, targets);
        out.summary = s.text();
    };
    return conclude(out, targets, describe, [&] {
        Figure f = pointToPointFigure(targets, sources, plain, o.params.dof);
        for (int32_t i : zfit::outliers(r.robust))
            f.point(targets[static_cast<std::size_t>(i)], Figure::Mark::discarded);
        f.legend("wrong pairs (outliers)", "discarded");
        return f;
    });
}

int runPointToPoint(const PointToPointOptions& o)
{
    refuseParams("p2p", zmath_pointToPointFitParams_validate(&o.params));
    const Table table =
        readTable(o.common.input, Layout{{"targetX", "targetY", "sourceX", "sourceY"}, o.common.weights, true});
    const std::vector<zmath_vect> targets = table.points(0);
    const std::vector<zmath_vect> sources = table.points(2);
    if (o.robust.robust()) return runRobustPointToPoint(o, table, targets, sources);

    const zmath_pointToPointFitParams& params = o.params;

    zfit::PointToPointResult result;
    const zfit_status status = fitInto(result, [&](auto* r) {
        if (!o.common.weights) return zmath_pointToPointFit(&params, targets.data(), sources.data(), table.count(), r);
        const std::vector<double> weights = table.column(4);
        return zmath_pointToPointFitWeighted(&params, targets.data(), sources.data(), weights.data(), table.count(), r);
    });
    const zmath_pointToPointFitResult& r = *result;

    Outcome out("p2p", o.common, table.rows(), status, r.isValid,
                Json{{"maxRmsError", number(params.maxRmsError)}, {"dof", params.dof}, {"weighted", o.common.weights}});
    const auto describe = [&](Outcome& out) {
        const zmath_matrix& m = r.xform.matrix;
        const double det = m.m00 * m.m11 - m.m01 * m.m10;
        Json residuals = Json::array();
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const zmath_vect mapped = mapPoint(r.xform, sources[i]);
            residuals.push_back(number(std::hypot(mapped.x - targets[i].x, mapped.y - targets[i].y)));
        }
        out.result = Json{{"isValid", r.isValid != 0}, {"xform", xformJson(r.xform)}, {"rmsError", number(r.rmsError)}};
        out.extra = Json{{"rotationDegrees", number(std::atan2(m.m10, m.m00) * 180.0 / std::numbers::pi)},
                         {"scales", {number(std::hypot(m.m00, m.m10)), number(std::hypot(m.m01, m.m11))}},
                         {"reflection", det < 0.0},
                         {"residuals", residuals}};
        Summary s("point-to-point fit: " + std::to_string(params.dof) + " degrees of freedom (" +
                  dofMeaning(params.dof) + "), " + std::to_string(table.rows()) + " pairs" +
                  (o.common.weights ? ", weighted" : ""));
        s.row("matrix M", fmtMatrix(m));
        s.row("translation t", fmtPoint(r.xform.translation));
        s.row("maps", "source (x, y) to target M*(x, y) + t");
        s.row("rotation", fmtAngle(std::atan2(m.m10, m.m00)) + (det < 0.0 ? "   (with a reflection)" : ""));
        s.row("scales", fmt(std::hypot(m.m00, m.m10)) + " (x axis), " + fmt(std::hypot(m.m01, m.m11)) + " (y axis)");
        s.row("rmsError", fmt(r.rmsError));
        out.summary = s.validity(r.isValid, params.maxRmsError).text();
    };
    return conclude(out, targets, describe, [&] { return pointToPointFigure(targets, sources, r, params.dof); });
}

}  // namespace

Figure pointToPointFigure(const std::vector<zmath_vect>& targets, const std::vector<zmath_vect>& sources,
                          const zmath_pointToPointFitResult& r, int32_t dof)
{
    Figure f("Point-to-point transform (" + std::to_string(dof) + " degrees of freedom)");
    f.note("M " + fmtMatrix(r.xform.matrix) + ", t " + fmtPoint(r.xform.translation));
    f.note("rmsError " + fmt(r.rmsError) + ", " + std::to_string(targets.size()) + " pairs" +
           (r.isValid ? "" : ", not valid"));
    std::vector<zmath_vect> mapped;
    for (std::size_t i = 0; i < targets.size() && i < sources.size(); ++i)
        mapped.push_back(mapPoint(r.xform, sources[i]));
    const double k = enlargement(targets, mapped);
    if (k > 1.0) f.note("residuals drawn " + fmt(k) + " times enlarged");
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        const zmath_vect shown{targets[i].x + k * (mapped[i].x - targets[i].x),
                               targets[i].y + k * (mapped[i].y - targets[i].y)};
        f.segment(targets[i], shown, "residual");
        f.point(targets[i], Figure::Mark::target);
        f.point(shown, Figure::Mark::mapped);
    }
    f.legend("target points", "target");
    f.legend("source points mapped by the transform", "mapped");
    f.legend(k > 1.0 ? "residual (enlarged)" : "residual", "residual");
    return f;
}

void addPointToPointCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "p2p",
                  "fit the transform that maps source points onto target points (columns: target x, y, source x, "
                  "y [, weight])",
                  Offers{.weights = true}, runPointToPoint)
        ->alias("point-to-point");
}

}  // namespace zcli
