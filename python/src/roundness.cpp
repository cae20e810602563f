// zfit.roundness and its result, Roundness (from libzfit_metrology.so).
#include <cmath>

#include <zfit/metrology/metrology.h>

#include "binding.hpp"

namespace zpy {

namespace {

struct Method {
    const char* name;
    int32_t value;
};

constexpr Method kMethods[] = {{"minimum_zone", zmet_roundnessMinimumZone},
                               {"circumscribed", zmet_roundnessCircumscribed},
                               {"inscribed", zmet_roundnessInscribed}};

int32_t methodOf(const std::string& name)
{
    for (const Method& m : kMethods)
        if (name == m.name) return m.value;
    raiseValue("method: expected 'minimum_zone', 'circumscribed' or 'inscribed', got '" + name + "'");
}

struct Roundness {
    static constexpr const char* name = "Roundness";
    using State =
        std::tuple<std::string, double, double, double, double, bool, std::vector<int32_t>, std::vector<int32_t>>;

    std::string method;
    double x = 0.0, y = 0.0, innerRadius = 0.0, outerRadius = 0.0;
    bool isValid = false;
    std::vector<int32_t> contacts, onOuter;

    Roundness(std::string m, const zmet_roundnessResult& r)
        : method(std::move(m)), x(r.centre.x), y(r.centre.y), innerRadius(r.innerRadius), outerRadius(r.outerRadius),
          isValid(r.isValid != 0), contacts(r.contacts, r.contacts + r.contactCount),
          onOuter(r.contactOnOuter, r.contactOnOuter + r.contactCount)
    {}
    explicit Roundness(const State& s)
    {
        std::tie(method, x, y, innerRadius, outerRadius, isValid, contacts, onOuter) = s;
    }
    State state() const { return {method, x, y, innerRadius, outerRadius, isValid, contacts, onOuter}; }

    double roundness() const { return outerRadius - innerRadius; }
    py::array_t<bool> contactOnOuter() const
    {
        py::array_t<bool> a(static_cast<py::ssize_t>(onOuter.size()));
        auto v = a.mutable_unchecked<1>();
        for (size_t k = 0; k < onOuter.size(); ++k) v(static_cast<py::ssize_t>(k)) = onOuter[k] != 0;
        return a;
    }

    py::dict toDict() const
    {
        py::dict d;
        d["method"] = method;
        d["centre"] = vector2(x, y);
        d["inner_radius"] = innerRadius;
        d["outer_radius"] = outerRadius;
        d["roundness"] = roundness();
        d["is_valid"] = isValid;
        d["contacts"] = indexArray(contacts);
        d["contact_on_outer"] = contactOnOuter();
        return d;
    }
};

Roundness roundness(const py::object& points, const std::string& method, double maxRoundness,
                    std::optional<double> timeout)
{
    zmet_roundnessParams params;
    check(zmet_roundnessParams_init(&params));
    params.method = methodOf(method);
    params.maxRoundness = maxRoundness;
    const Points pts(points, "points");
    zmet_roundnessResult result{};
    FitScope scope(timeout);
    scope.run([&] { return zmet_roundnessVector(pts.vector(), &params, &result); });
    return Roundness(method, result);
}

}  // namespace

void registerRoundness(py::module_& m)
{
    defineResult<Roundness>(m, "The roundness of a profile about its reference circle.\n\n"
                               "method            'minimum_zone', 'circumscribed' or 'inscribed'\n"
                               "centre            (x, y) of the reference circle\n"
                               "inner_radius      the smallest distance of a point from the centre\n"
                               "outer_radius      the largest distance of a point from the centre\n"
                               "roundness         outer_radius - inner_radius\n"
                               "is_valid          roundness < max_roundness\n"
                               "contacts          indices of the points that fix the circle,\n"
                               "                  counterclockwise (np.ndarray of int)\n"
                               "contact_on_outer  for each contact, True on the outer circle\n"
                               "                  (np.ndarray of bool)")
        .def_readonly("method", &Roundness::method)
        .def_property_readonly("centre", [](const Roundness& r) { return vector2(r.x, r.y); })
        .def_readonly("inner_radius", &Roundness::innerRadius)
        .def_readonly("outer_radius", &Roundness::outerRadius)
        .def_property_readonly("roundness", &Roundness::roundness)
        .def_readonly("is_valid", &Roundness::isValid)
        .def_property_readonly("contacts", [](const Roundness& r) { return indexArray(r.contacts); })
        .def_property_readonly("contact_on_outer", &Roundness::contactOnOuter);

    m.def("roundness", &roundness, py::arg("points"), py::arg("method") = "minimum_zone", py::kw_only(),
          py::arg("max_roundness") = HUGE_VAL, py::arg("timeout") = py::none(),
          "The roundness of a profile, an (n, 2) array-like of points, about its\n"
          "reference circle.\n\n"
          "method         'minimum_zone': the two concentric circles closest together\n"
          "               that hold every point (four contacts alternate between them);\n"
          "               'circumscribed': the smallest circle around the points;\n"
          "               'inscribed': the largest empty circle the points hold\n"
          "max_roundness  is_valid is True only when roundness < max_roundness\n"
          "timeout        seconds after which the search stops with Cancelled\n\n"
          "For every method inner_radius and outer_radius are the smallest and\n"
          "largest distance of a point from the centre. Returns a Roundness.\n"
          "Raises DegenerateError for fewer than three distinct points, points on\n"
          "one line, or (inscribed) points that do not surround their centre;\n"
          "ParameterError for a negative max_roundness or non-finite coordinates;\n"
          "ValueError for an unknown method or input of the wrong shape.");
}

}  // namespace zpy
