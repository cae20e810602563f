// `zfit roundness`: the reference circle of a measured profile (minimum
// zone, circumscribed or inscribed) and the roundness about it.
#include <algorithm>
#include <cmath>
#include <memory>

#include <CLI/CLI.hpp>
#include <zfit/metrology/metrology.h>

#include "cli.hpp"

namespace zcli {

namespace {

struct RoundnessOptions : FitOptions<zmet_roundnessParams, zmet_roundnessParams_init> {
    std::string method = "zone";

    void add(CLI::App& command)
    {
        addValue(command, "--method", method,
                 "zone (or minimum_zone): the two concentric circles closest together that hold every point "
                 "(default); circumscribed: the smallest circle around the points; inscribed: the largest circle "
                 "inside them",
                 "zone|minimum_zone|circumscribed|inscribed");
        addValue(command, "--max-roundness", params.maxRoundness,
                 "the profile is valid only when its roundness is below T", "T");
    }
};

struct Method {
    const char* option;  // --method, as the JSON's params give it
    const char* alias;   // the same method under the binding's name
    const char* name;    // in the summary
    int32_t value;
};

constexpr Method kMethods[] = {
    {"zone", "minimum_zone", "minimum zone", zmet_roundnessMinimumZone},
    {"circumscribed", "circumscribed", "circumscribed", zmet_roundnessCircumscribed},
    {"inscribed", "inscribed", "inscribed", zmet_roundnessInscribed},
};

const Method& methodOf(const std::string& option)
{
    for (const Method& m : kMethods)
        if (option == m.option || option == m.alias) return m;
    throw UsageError("roundness: --method must be zone (or minimum_zone), circumscribed or inscribed");
}

const char* circleOf(const zmet_roundnessResult& r, int k) { return r.contactOnOuter[k] ? "outer" : "inner"; }

Json contactsJson(const zmet_roundnessResult& r, const std::vector<zmath_vect>& points)
{
    Json out = Json::array();
    for (int k = 0; k < r.contactCount; ++k) {
        const zmath_vect& p = points[static_cast<std::size_t>(r.contacts[k])];
        out.push_back(
            Json{{"index", r.contacts[k]}, {"x", number(p.x)}, {"y", number(p.y)}, {"circle", circleOf(r, k)}});
    }
    return out;
}

std::string contactsText(const zmet_roundnessResult& r, const std::vector<zmath_vect>& points)
{
    std::string text;
    for (int k = 0; k < r.contactCount; ++k) {
        if (k > 0) text += "\n                  ";
        text += '#' + std::to_string(r.contacts[k]) + ' ' + fmtPoint(points[static_cast<std::size_t>(r.contacts[k])]) +
                " on the " + circleOf(r, k) + " circle";
    }
    return text;
}

int runRoundness(const RoundnessOptions& o)
{
    const Method& method = methodOf(o.method);
    zmet_roundnessParams params = o.params;
    params.method = method.value;
    refuseParams("roundness", zmet_roundnessParams_validate(&params));
    const Table table = readTable(o.common.input, Layout{{"x", "y"}, false, false});
    const std::vector<zmath_vect> points = table.points();

    zmet_roundnessResult r{};
    zfit_status status;
    {
        // Its passes depend on the profile: no count is known beforehand.
        Watch watch(o.common, SearchPlan{"roundness search", -1, {}});
        status = zmet_roundness(points.data(), table.count(), &params, &r);
    }

    Outcome out("roundness", o.common, table.rows(), status, r.isValid,
                Json{{"method", method.option}, {"maxRoundness", number(params.maxRoundness)}});
    const auto describe = [&](Outcome& out) {
        Json onOuter = Json::array();
        for (int k = 0; k < r.contactCount; ++k) onOuter.push_back(r.contactOnOuter[k] != 0);
        out.result = Json{{"isValid", r.isValid != 0},
                          {"centre", vectJson(r.centre)},
                          {"innerRadius", number(r.innerRadius)},
                          {"outerRadius", number(r.outerRadius)},
                          {"roundness", number(r.roundness)},
                          {"contactCount", r.contactCount},
                          {"contacts", std::vector<int32_t>(r.contacts, r.contacts + r.contactCount)},
                          {"contactOnOuter", onOuter}};
        out.extra = Json{{"contactPoints", contactsJson(r, points)}};
        Summary s("roundness: " + std::string(method.name) + ", " + std::to_string(table.rows()) + " points");
        s.row("centre", fmtPoint(r.centre));
        s.row("inner radius", fmt(r.innerRadius) + "   (diameter " + fmt(2 * r.innerRadius) + ")");
        s.row("outer radius", fmt(r.outerRadius) + "   (diameter " + fmt(2 * r.outerRadius) + ")");
        s.row("roundness", fmt(r.roundness) + "   (outer - inner radius)");
        out.summary = s.validity(r.isValid, params.maxRoundness).row("contacts", contactsText(r, points)).text();
    };
    return conclude(out, points, describe, [&] { return roundnessFigure(points, r, method.name); });
}

}  // namespace

Figure roundnessFigure(const std::vector<zmath_vect>& points, const zmet_roundnessResult& r, const std::string& method)
{
    Figure f("Roundness (" + method + ")");
    f.note("centre " + fmtPoint(r.centre) + ", radii " + fmt(r.innerRadius) + " to " + fmt(r.outerRadius));
    f.note("roundness " + fmt(r.roundness) + ", " + std::to_string(points.size()) + " points" +
           (r.isValid ? "" : ", not valid"));

    // Form errors are far below the radius: enlarge every point's distance
    // from the mid radius (by 10, 100, ...) until the zone shows, keeping the
    // inner circle well away from the centre.
    const double middle = 0.5 * (r.innerRadius + r.outerRadius), width = r.roundness;
    double magnify = 1.0;
    while (width > 0.0 && magnify * 10.0 * width <= 0.5 * middle && magnify < 1e6) magnify *= 10.0;
    const auto shown = [&](const zmath_vect& p) {
        const double dx = p.x - r.centre.x, dy = p.y - r.centre.y, d = std::hypot(dx, dy);
        const double scale = d > 0.0 ? (middle + magnify * (d - middle)) / d : 1.0;
        return zmath_vect{r.centre.x + scale * dx, r.centre.y + scale * dy};
    };
    const double inner = middle - magnify * (middle - r.innerRadius);
    const double outer = middle + magnify * (r.outerRadius - middle);
    if (magnify > 1.0) {
        f.note("distances from the mid radius drawn " + fmt(magnify) + " times enlarged");
        f.hideTickLabels(true, true);
    }
    f.annulus(r.centre, inner, outer);
    const bool circumscribed = method == "circumscribed", inscribed = method == "inscribed";
    if (circumscribed || inscribed) f.circle(r.centre, circumscribed ? outer : inner);
    f.cross(r.centre, "centre");
    std::vector<zmath_vect> moved;
    for (const zmath_vect& p : points) moved.push_back(shown(p));
    addPoints(f, moved, {});
    for (int k = 0; k < r.contactCount; ++k)
        f.point(moved[static_cast<std::size_t>(r.contacts[k])], Figure::Mark::target);
    f.legend("zone between the inner and the outer circle", "strip");
    if (circumscribed || inscribed)
        f.legend(std::string(circumscribed ? "circumscribed" : "inscribed") + " circle", "fit");
    f.legend("centre", "centre");
    f.legend("contacts that fix the reference circle", "target");
    return f;
}

void addRoundnessCommand(CLI::App& app, Registry& registry)
{
    addFitCommand(app, registry, "roundness", "the roundness of a profile about its reference circle (columns: x, y)",
                  Offers{.search = true, .limit = "--max-roundness"}, runRoundness);
}

}  // namespace zcli
