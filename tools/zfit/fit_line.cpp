// `zfit line`: the straight line through points (least squares, with
// discarded outliers, or the minimum zone).
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include <CLI/CLI.hpp>

#include <zfit/family/search_plan.hpp>

#include "cli.hpp"

namespace zcli {

namespace {

struct LineOptions : FitOptions<zmath_lineFitParams, zmath_lineFitParams_init> {
    bool minZone = false;
    RobustChoice robust;

    void add(CLI::App& command)
    {
        robust.addIgnore(command, "discard the N points that fit worst (numIgnore)");
        addMaxRms(command, params.maxRmsError);
        robust.add(command);
        command.add_flag("--min-zone", minZone,
                         "the centre line of the narrowest strip holding the kept points (mode 1); rmsError is then "
                         "the strip's half-width");
    }
};

// The plan of the search that the parameters select.
SearchPlan linePlan(const zmath_lineFitParams& params, int64_t n)
{
    const int64_t m = params.numIgnore;
    const int32_t mode = params.mode;
    const char* label = mode == 1 ? "minimum-zone search" : m >= 4 ? "ranked search" : "outlier search";
    return {m == 0 && mode == 0 ? "line fit" : label, zfit::plan::linePolls(n, m, mode),
            [n, m, mode](int64_t done) { return zfit::plan::lineShareDone(n, m, mode, done); }};
}

Json lineJson(const zmath_shapeFLine& line)
{
    return Json{{"d", number(line.d)},
                {"angle", number(line.angle)},
                {"sine", number(line.sine)},
                {"cosine", number(line.cosine)}};
}

// --robust: the robust line, its weights and outliers.
int runRobustLine(const LineOptions& o, const Table& table, const std::vector<zmath_vect>& points)
{
    const zmet_robustParams params = o.robust.params(o.params.maxRmsError);
    zfit::RobustLineResult result;
    const zfit_status status =
        fitInto(result, [&](auto* r) { return zmet_robustLineFit(points.data(), table.count(), nullptr, &params, r); });
    const zmet_robustLineResult& r = *result;
    Outcome out("line", o.common, table.rows(), status, r.isValid, Json{{"robust", robustParamsJson(params)}});
    const auto describe = [&](Outcome& out) {
        out.result = Json{{"isValid", r.isValid != 0}, {"line", lineJson(r.line)}, {"rmsError", number(r.rmsError)}};
        out.extra = Json::object();
        Summary s("robust line fit: " + o.robust.estimator + ", " + std::to_string(table.rows()) + " points");
        s.row("angle", fmtAngle(r.line.angle) + "   (direction of the line)");
        s.row("distance d", fmt(r.line.d) + "   (-x*sin(angle) + y*cos(angle) = d)");
        s.row("rmsError", fmt(r.rmsError) + "   (RMS distance of the inliers)");
        s.validity(r.isValid, params.maxRmsError);
        describeRobust(out, s, r.robust, points);
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] {
        Figure f("Robust line (" + o.robust.estimator + ")");
        f.note("angle " + fmtAngle(r.line.angle) + ", d " + fmt(r.line.d) + ", scale " + fmt(r.robust.scale));
        f.note(errorNote("inlier rmsError", r.rmsError, points.size(), zfit::outliers(r.robust).size(), r.isValid));
        f.line(r.line, "fit");
        addWeightedPoints(f, points, r.robust);
        f.legend("fitted line", "fit");
        return f;
    });
}

int runLine(const LineOptions& o)
{
    zmath_lineFitParams params = o.params;
    params.mode = o.minZone ? 1 : 0;
    if (!o.robust.autoIgnore()) params.numIgnore = o.robust.ignoreCount();
    refuseParams("line", zmath_lineFitParams_validate(&params));
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, false, false});
    const std::vector<zmath_vect> points = table.points();
    if (o.robust.robust() && (o.minZone || o.robust.ignore != "0"))
        throw UsageError("line: --robust finds its outliers itself; drop --min-zone and --ignore");
    if (o.robust.robust()) return runRobustLine(o, table, points);

    const zfit_status counted = searchCount<zmet_robustLineResult>(
        o.robust, params.maxRmsError,
        [&](const zmet_robustParams& robust, auto* r) {
            return zmet_robustLineFit(points.data(), table.count(), nullptr, &robust, r);
        },
        params.numIgnore);
    if (zfit::failed(counted)) return autoFailed("line", o.common, table, points, counted);

    zfit::LineResult result;
    const zfit_status status = fitInto(result, o.common, linePlan(params, table.count()), [&](auto* r) {
        return zmath_lineFit(points.data(), table.count(), &params, r);
    });
    const zmath_lineFitResult& r = *result;

    Outcome out(
        "line", o.common, table.rows(), status, r.isValid,
        Json{{"numIgnore", params.numIgnore}, {"maxRmsError", number(params.maxRmsError)}, {"mode", params.mode}});
    const auto describe = [&](Outcome& out) {
        const std::span<const int32_t> ignored = zfit::ignored(r);
        out.result = Json{{"isValid", r.isValid != 0},
                          {"line", lineJson(r.line)},
                          {"rmsError", number(r.rmsError)},
                          {"ignoredIndices", indicesJson(ignored)}};
        out.extra = Json{{"discarded", discardedJson(ignored, points)},
                         {"angleDegrees", number(r.line.angle * 180.0 / std::numbers::pi)}};
        Summary s("line fit: " + std::string(params.mode == 1 ? "minimum zone" : "least squares") + ", " +
                  countText(table.rows(), ignored.size()));
        s.row("angle", fmtAngle(r.line.angle) + "   (direction of the line)");
        s.row("distance d", fmt(r.line.d) + "   (-x*sin(angle) + y*cos(angle) = d)");
        s.row("direction", fmtPoint({r.line.cosine, r.line.sine}));
        s.row("nearest origin", fmtPoint({-r.line.sine * r.line.d, r.line.cosine * r.line.d}));
        if (params.mode == 1)
            s.row("rmsError",
                  fmt(r.rmsError) + "   (half-width of the zone; its width is " + fmt(2 * r.rmsError) + ")");
        else
            s.row("rmsError", fmt(r.rmsError));
        s.validity(r.isValid, params.maxRmsError).row("discarded", discardedText(ignored, points));
        out.summary = s.text();
    };
    return conclude(out, points, describe, [&] { return lineFigure(points, r, params.mode); });
}

}  // namespace

Figure lineFigure(const std::vector<zmath_vect>& points, const zmath_lineFitResult& r, int32_t mode)
{
    const std::span<const int32_t> ignored = zfit::ignored(r);
    Figure f(mode == 1 ? "Minimum-zone line" : "Least-squares line");
    f.note("angle " + fmtAngle(r.line.angle) + ", d " + fmt(r.line.d));
    f.note(errorNote(mode == 1 ? "zone half-width" : "rmsError", r.rmsError, points.size(), ignored.size(), r.isValid));

    // A point's position along the line (from the line's point nearest the
    // origin, in the line's direction) and its deviation from it (positive
    // on the side of the normal).
    const zmath_shapeFLine& line = r.line;
    const auto along = [&](const zmath_vect& p) { return p.x * line.cosine + p.y * line.sine; };
    const auto deviation = [&](const zmath_vect& p) { return -p.x * line.sine + p.y * line.cosine - line.d; };
    // Deviations of a straight edge are often far below the edge's length:
    // magnify them across the line (by 10, 100, ...) until they show.
    double lo = HUGE_VAL, hi = -HUGE_VAL, spread = 0.0;
    for (const zmath_vect& p : points) lo = std::min(lo, along(p)), hi = std::max(hi, along(p));
    const double extent = hi - lo;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (std::find(ignored.begin(), ignored.end(), static_cast<int32_t>(i)) == ignored.end())
            spread = std::max(spread, std::abs(deviation(points[i])));
    double magnify = 1.0;
    while (spread > 0.0 && spread * magnify * 40.0 < extent && magnify < 1e6) magnify *= 10.0;
    if (magnify == 1.0) {
        if (mode == 1) f.strip(line, r.rmsError);
        f.line(line, "fit");
        addPoints(f, points, ignored);
    } else {
        // Drawn in the line's own frame, whatever its angle: along the line
        // to the right, the deviation across it, enlarged; the tick labels
        // give both as they are. Kept points stay within a quarter of the
        // extent; a far discarded point is held at half of it.
        f.note("drawn along the line, deviations " + fmt(magnify) + " times enlarged");
        f.axisNames("position along the line", "deviation from the line");
        f.yMagnified(magnify);
        const double reach = 0.5 * extent;
        std::vector<zmath_vect> shown;
        for (const zmath_vect& p : points)
            shown.push_back({along(p), std::clamp(deviation(p) * magnify, -reach, reach)});
        zmath_shapeFLine axis{};
        const double flat = 0.0;
        zmath_shapeFLine_initAngleDistance(&axis, &flat, 0.0);
        if (mode == 1) f.strip(axis, r.rmsError * magnify);
        f.line(axis, "fit");
        addPoints(f, shown, ignored);
    }
    f.legend(mode == 1 ? "centre line of the zone" : "fitted line", "fit");
    if (mode == 1) f.legend("zone holding the kept points", "strip");
    return f;
}

void addLineCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "line",
                  "fit a straight line to points (columns: x, y). The line is -x*sin(angle) + y*cos(angle) = d, angle "
                  "in radians: in [0, 2pi) with d >= 0; with --min-zone in (-pi, pi], d of either sign; with "
                  "--robust in (-pi/2, 3pi/2] with d >= 0",
                  Offers{.search = true}, runLine);
}

}  // namespace zcli
