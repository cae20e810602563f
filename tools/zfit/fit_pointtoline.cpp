// `zfit p2l`: the transform that moves points onto given lines.
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>
#include <zfit/pointtoline/pointtoline.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct PointToLineOptions : FitOptions<zmath_pointToLineFitParams, zmath_pointToLineFitParams_init> {
    bool degrees = false;

    void add(CLI::App& command)
    {
        addValue(command, "--dof", params.dof, "degrees of freedom; 6 (a general linear map and translation) (dof)",
                 "N");
        addMaxRms(command, params.maxRmsError);
        command.add_flag("--degrees", degrees, "the line angles of the input are in degrees (default radians)");
    }
};

zmath_vect mapPoint(const zmath_xformLinear& x, const zmath_vect& p)
{
    zmath_vect out{};
    zmath_xformLinear_mapPoint(&x, &p, &out);
    return out;
}

// The point of the line nearest to p.
zmath_vect footOn(const zmath_shapeFLine& line, const zmath_vect& p)
{
    const double offset = -p.x * line.sine + p.y * line.cosine - line.d;
    return {p.x + offset * line.sine, p.y - offset * line.cosine};
}

int runPointToLine(const PointToLineOptions& o)
{
    refuseParams("p2l", zmath_pointToLineFitParams_validate(&o.params));
    const Table table = readTable(o.common.input, Layout{{"x", "y", "angle", "distance"}, o.common.weights, true});
    const std::vector<zmath_vect> points = table.points(0);
    std::vector<zmath_shapeFLine> lines(table.rows());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double angle = o.degrees ? table.at(i, 2) * std::numbers::pi / 180.0 : table.at(i, 2);
        zmath_shapeFLine_initAngleDistance(&lines[i], &angle, table.at(i, 3));
    }

    const zmath_pointToLineFitParams& params = o.params;

    zfit::PointToLineResult result;
    const zfit_status status = fitInto(result, [&](auto* r) {
        if (!o.common.weights) return zmath_pointToLineFit(&params, points.data(), lines.data(), table.count(), r);
        const std::vector<double> weights = table.column(4);
        return zmath_pointToLineFitWeighted(&params, points.data(), lines.data(), weights.data(), table.count(), r);
    });
    const zmath_pointToLineFitResult& r = *result;

    Outcome out("p2l", o.common, table.rows(), status, r.isValid,
                Json{{"maxRmsError", number(params.maxRmsError)}, {"dof", params.dof}, {"weighted", o.common.weights}});
    const auto describe = [&](Outcome& out) {
        Json residuals = Json::array();
        for (std::size_t i = 0; i < points.size(); ++i) {
            const zmath_vect mapped = mapPoint(r.xform, points[i]);
            const zmath_vect foot = footOn(lines[i], mapped);
            residuals.push_back(number(std::hypot(mapped.x - foot.x, mapped.y - foot.y)));
        }
        out.result = Json{{"isValid", r.isValid != 0}, {"xform", xformJson(r.xform)}, {"rmsError", number(r.rmsError)}};
        out.extra = Json{{"residuals", residuals}};
        Summary s("point-to-line fit: " + std::to_string(params.dof) + " degrees of freedom, " +
                  std::to_string(table.rows()) + " pairs" + (o.common.weights ? ", weighted" : ""));
        s.row("matrix M", fmtMatrix(r.xform.matrix));
        s.row("translation t", fmtPoint(r.xform.translation));
        s.row("maps", "point (x, y) to M*(x, y) + t, onto its line");
        s.row("rmsError", fmt(r.rmsError) + "   (RMS distance of the mapped points from their lines)");
        out.summary = s.validity(r.isValid, params.maxRmsError).text();
    };
    return conclude(out, points, describe, [&] { return pointToLineFigure(points, lines, r); });
}

}  // namespace

Figure pointToLineFigure(const std::vector<zmath_vect>& points, const std::vector<zmath_shapeFLine>& lines,
                         const zmath_pointToLineFitResult& r)
{
    Figure f("Point-to-line transform");
    f.note("M " + fmtMatrix(r.xform.matrix) + ", t " + fmtPoint(r.xform.translation));
    f.note("rmsError " + fmt(r.rmsError) + ", " + std::to_string(points.size()) + " pairs" +
           (r.isValid ? "" : ", not valid"));
    for (const zmath_shapeFLine& line : lines) f.line(line, "given");
    std::vector<zmath_vect> mapped, feet;
    for (std::size_t i = 0; i < points.size() && i < lines.size(); ++i) {
        mapped.push_back(mapPoint(r.xform, points[i]));
        feet.push_back(footOn(lines[i], mapped.back()));
    }
    const double k = enlargement(feet, mapped);
    if (k > 1.0) f.note("residuals drawn " + fmt(k) + " times enlarged");
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        const zmath_vect shown{feet[i].x + k * (mapped[i].x - feet[i].x), feet[i].y + k * (mapped[i].y - feet[i].y)};
        f.segment(feet[i], shown, "residual");
        f.point(shown, Figure::Mark::mapped);
    }
    f.legend("target lines", "given");
    f.legend("points mapped by the transform", "mapped");
    f.legend(k > 1.0 ? "residual to the point's line (enlarged)" : "residual to the point's line", "residual");
    return f;
}

void addPointToLineCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "p2l",
                  "fit the transform that moves points onto lines (columns: x, y, line angle, line distance [, "
                  "weight]; the line is -x*sin(angle) + y*cos(angle) = distance)",
                  Offers{.weights = true}, runPointToLine)
        ->alias("point-to-line");
}

}  // namespace zcli
