// The robust options of the fitting subcommands (--robust, --clip, --scale,
// --ignore auto) and what a robust fit adds to the report.
#include <CLI/CLI.hpp>

#include "cli.hpp"

namespace zcli {

void RobustChoice::add(CLI::App& command)
{
    command
        .add_option("--robust", estimator,
                    "find the outliers by tolerance: iterated huber, tukey or clip weights from a deterministic "
                    "least-median start; reports the weights, the scale and the outliers")
        ->type_name("huber|tukey|clip");
    clipOption = command
                     .add_option("--clip", clip,
                                 "the clipping factor c in units of the scale (defaults 1.345 huber, 4.685 "
                                 "tukey, 3 clip): outliers lie beyond c * scale")
                     ->type_name("C");
    scaleOption = command
                      .add_option("--scale", scale,
                                  "the noise level in data units (default: estimated from the residuals of the "
                                  "points in play)")
                      ->type_name("S");
}

void RobustChoice::addIgnore(CLI::App& command, const std::string& help)
{
    command
        .add_option("--ignore", ignore, help + "; auto: the outlier count of a robust fit (--robust, tukey by default)")
        ->type_name("N|auto")
        ->default_str("0");
}

int32_t RobustChoice::ignoreCount() const
{
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(ignore, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != ignore.size() || value < INT32_MIN || value > INT32_MAX)
        throw UsageError("--ignore: a count of points or \"auto\", not \"" + ignore + "\"");
    return static_cast<int32_t>(value);
}

zmet_robustParams RobustChoice::params(double maxRmsError) const
{
    const int32_t chosen = estimator.empty()      ? zmet_robustTukey
                           : estimator == "huber" ? zmet_robustHuber
                           : estimator == "tukey" ? zmet_robustTukey
                           : estimator == "clip"  ? zmet_robustClip
                                                  : -1;
    zmet_robustParams p;
    zmet_robustParams_init(&p, chosen);
    if (clipOption && clipOption->count() > 0) p.clip = clip;
    if (scaleOption && scaleOption->count() > 0) {
        p.scaleMode = zmet_robustScaleGiven;
        p.scale = scale;
    }
    p.maxRmsError = maxRmsError;
    refuseParams("robust fit", zmet_robustParams_validate(&p));
    return p;
}

Json robustParamsJson(const zmet_robustParams& p)
{
    static const char* const names[] = {"huber", "tukey", "clip"};
    return Json{{"estimator", p.estimator >= 0 && p.estimator <= 2 ? Json(names[p.estimator]) : Json(p.estimator)},
                {"clip", number(p.clip)},
                {"scale", p.scaleMode == zmet_robustScaleGiven ? number(p.scale) : Json("estimated")},
                {"maxIterations", p.maxIterations},
                {"tolerance", number(p.tolerance)},
                {"maxRmsError", number(p.maxRmsError)}};
}

int autoFailed(const std::string& command, const Common& common, const Table& table,
               const std::vector<zmath_vect>& points, zfit_status status)
{
    Outcome out(command, common, table.rows(), status, 0, Json{{"ignore", "auto"}});
    return conclude(
        out, points, [](Outcome&) {}, [] { return Figure(""); });
}

void describeRobust(Outcome& out, Summary& summary, const zmet_robustOutcome& o, const std::vector<zmath_vect>& points)
{
    const std::span<const int32_t> outliers = zfit::outliers(o);
    Json weights = Json::array(), residuals = Json::array();
    for (int32_t i = 0; i < o.weights.size; ++i) weights.push_back(number(o.weights.begin[i]));
    for (int32_t i = 0; i < o.residuals.size; ++i) residuals.push_back(number(o.residuals.begin[i]));
    out.result["scale"] = number(o.scale);
    out.result["inlierCount"] = o.inlierCount;
    out.result["iterations"] = o.iterations;
    out.result["converged"] = o.converged != 0;
    out.result["outliers"] = indicesJson(outliers);
    out.result["weights"] = weights;
    out.result["residuals"] = residuals;
    out.extra["outliers"] = discardedJson(outliers, points);
    summary.row("scale", fmt(o.scale) + "   (robust noise level)");
    summary.row("inliers", std::to_string(o.inlierCount) + " of " + std::to_string(points.size()));
    summary.row("iterations", std::to_string(o.iterations) + (o.converged ? "   (converged)" : "   (not converged)"));
    summary.row("outliers", discardedText(outliers, points));
}

}  // namespace zcli
