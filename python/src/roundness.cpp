// zfit.roundness and its result, Roundness (from libzfit_metrology.so).
#include <cmath>

#include <zfit/metrology/metrology.h>

#include "fields.hpp"
#include "keywords.hpp"

namespace zpy {

namespace {

// The reference circles by name; the first name of a method is the one a
// result reports ("zone" is what the command calls the minimum zone).
struct Method {
    const char* name;
    int32_t value;
};

constexpr Method kMethods[] = {{"minimum_zone", zmet_roundnessMinimumZone},
                               {"zone", zmet_roundnessMinimumZone},
                               {"circumscribed", zmet_roundnessCircumscribed},
                               {"inscribed", zmet_roundnessInscribed}};

int32_t methodOf(const std::string& name)
{
    for (const Method& m : kMethods)
        if (name == m.name) return m.value;
    raiseValue("method: expected 'minimum_zone' (or 'zone'), 'circumscribed' or 'inscribed', got '" + name + "'");
}

const char* nameOf(int32_t method)
{
    for (const Method& m : kMethods)
        if (method == m.value) return m.name;
    return "unknown";
}

struct RoundnessRecords {
    zmet_roundnessResult result{};
    int32_t method = 0;
    zfit_status status() const { return zfit_ok; }
};

struct Roundness {
    static constexpr const char* name = "Roundness";

    int32_t method = 0;
    double x = 0.0, y = 0.0, innerRadius = 0.0, outerRadius = 0.0;
    bool isValid = false;
    std::vector<int32_t> contacts;
    std::vector<double> onOuter;

    explicit Roundness(const RoundnessRecords& records)
        : method(records.method), x(records.result.centre.x), y(records.result.centre.y),
          innerRadius(records.result.innerRadius), outerRadius(records.result.outerRadius),
          isValid(records.result.isValid != 0),
          contacts(records.result.contacts, records.result.contacts + records.result.contactCount)
    {
        for (int32_t k = 0; k < records.result.contactCount; ++k)
            onOuter.push_back(records.result.contactOnOuter[k] != 0 ? 1.0 : 0.0);
    }

    static const Fields<Roundness>& fields()
    {
        static const Fields<Roundness> table = {
            {"method", Element::text, scalar(), "'minimum_zone', 'circumscribed' or 'inscribed'",
             [](const Roundness& r, auto& s) { s.text(nameOf(r.method)); }},
            centreField<Roundness>("(x, y) of the reference circle"),
            {"inner_radius", Element::real, scalar(), "the smallest distance of a point from the centre",
             [](const Roundness& r, auto& s) { s.real(r.innerRadius); }},
            {"outer_radius", Element::real, scalar(), "the largest distance of a point from the centre",
             [](const Roundness& r, auto& s) { s.real(r.outerRadius); }},
            {"roundness", Element::real, scalar(), "outer_radius - inner_radius",
             [](const Roundness& r, auto& s) { s.real(r.outerRadius - r.innerRadius); }},
            isValidField<Roundness>("roundness < max_roundness"),
            {"contacts", Element::integer, vector(kVaries),
             "indices of the points that fix the circle, counterclockwise",
             [](const Roundness& r, auto& s) { s.integers(r.contacts); }},
            {"contact_on_outer", Element::flag, vector(kVaries), "for each contact, True on the outer circle",
             [](const Roundness& r, auto& s) { s.reals(r.onOuter, {static_cast<int32_t>(r.onOuter.size())}); }},
        };
        return table;
    }
};

struct RoundnessFamily {
    using Options = zmet_roundnessParams;
    using Input = Points;
    using Record = Records<RoundnessRecords>;
    using Result = Roundness;

    static const Signature& signature()
    {
        static const Signature s("roundness", {"points"},
                                 {{"method", "'minimum_zone'",
                                   "'minimum_zone' (or 'zone'): the two concentric circles closest\n"
                                   "together that hold every point (four contacts alternate\n"
                                   "between them); 'circumscribed': the smallest circle around\n"
                                   "the points; 'inscribed': the largest empty circle the points hold"},
                                  {"max_roundness", "inf", "is_valid is True only when roundness < max_roundness"},
                                  {"timeout", "None", "seconds after which the search stops with Cancelled"}},
                                 1);
        return s;
    }
    static py::object item(const py::tuple& items) { return items[0]; }
    static Options readOptions(Keywords& k)
    {
        Options params;
        check(zmet_roundnessParams_init(&params));
        params.method = methodOf(k.take<std::string>("method"));
        params.maxRoundness = k.take<double>("max_roundness");
        return params;
    }
    static Input input(py::handle item, py::handle, const Options&) { return Points(item, "points"); }
    static zfit_status fit(const Options& o, const Input& points, RoundnessRecords* r)
    {
        r->method = o.method;
        return zmet_roundnessVector(points.vector(), &o, &r->result);
    }
};

}  // namespace

void registerRoundness(py::module_& m)
{
    addResultTable<Roundness>("The roundness of a profile about its reference circle.");
    defineFit<RoundnessFamily>(m, "The roundness of a profile, an (n, 2) array-like of points, about its\n"
                                  "reference circle.\n\n"
                                  "For every method inner_radius and outer_radius are the smallest and\n"
                                  "largest distance of a point from the centre. Returns a Roundness.\n"
                                  "Raises DegenerateError for fewer than three distinct points, points on\n"
                                  "one line, or (inscribed) points that do not surround their centre;\n"
                                  "ParameterError for a negative max_roundness or non-finite coordinates;\n"
                                  "ValueError for an unknown method or input of the wrong shape.");
}

}  // namespace zpy
