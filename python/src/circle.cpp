// zfit.fit_circle and its result, CircleFit.
#include <cmath>

#include "binding.hpp"

namespace zpy {

namespace {

struct CircleFit {
    static constexpr const char* name = "CircleFit";
    using State = std::tuple<double, double, double, double, bool, std::vector<int32_t>>;

    double x = 0.0, y = 0.0, radius = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;

    explicit CircleFit(const zmath_circleFitResult& r)
        : x(r.centre.x), y(r.centre.y), radius(r.radius), rmsError(r.rmsError), isValid(r.isValid != 0),
          ignored(indicesOf(r.ignoredIndices))
    {
    }
    explicit CircleFit(const State& s) { std::tie(x, y, radius, rmsError, isValid, ignored) = s; }
    State state() const { return {x, y, radius, rmsError, isValid, ignored}; }

    py::dict toDict() const
    {
        py::dict d;
        d["centre"] = vector2(x, y);
        d["radius"] = radius;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        return d;
    }
};

using CircleResult = Record<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

CircleFit fitCircle(const py::object& points, const py::object& weights, int64_t ignore,
                    std::optional<double> fixedRadius, double maxRms, std::optional<double> timeout)
{
    const Points pts(points, "points");
    zmath_circleFitParams params;
    check(zmath_circleFitParams_init(&params));
    params.numIgnore = toInt32(ignore, "ignore");
    params.maxRmsError = maxRms;
    if (fixedRadius) {
        params.mode = 1;
        params.fixedRadius = *fixedRadius;
    }
    CircleResult result;
    if (weights.is_none()) {
        FitScope scope(timeout);
        scope.run([&] { return zmath_circleFitVector(pts.vector(), &params, result.get()); });
    } else {
        if (fixedRadius) raiseValue("fixed_radius: the weighted fit has a free radius; give weights or fixed_radius");
        const Weights w(weights, "weights", pts.size(), "point");
        FitScope scope(timeout);
        scope.run([&] { return zmath_circleFitWeightedVector(pts.vector(), w.vector(), &params, result.get()); });
    }
    return CircleFit(*result);
}

}  // namespace

void registerCircle(py::module_& m)
{
    defineResult<CircleFit>(m,
                            "A fitted circle.\n\n"
                            "centre     (x, y)\n"
                            "radius     the fitted radius (fixed_radius when one was imposed)\n"
                            "rms_error  RMS radial residual |p - centre| - radius of the points used\n"
                            "           (weighted in the weighted fit)\n"
                            "is_valid   rms_error < max_rms\n"
                            "ignored    indices of the discarded points (np.ndarray of int)")
        .def_property_readonly("centre", [](const CircleFit& r) { return vector2(r.x, r.y); })
        .def_readonly("radius", &CircleFit::radius)
        .def_readonly("rms_error", &CircleFit::rmsError)
        .def_readonly("is_valid", &CircleFit::isValid)
        .def_property_readonly("ignored", [](const CircleFit& r) { return indexArray(r.ignored); });

    m.def("fit_circle", &fitCircle, py::arg("points"), py::kw_only(), py::arg("weights") = py::none(),
          py::arg("ignore") = 0, py::arg("fixed_radius") = py::none(), py::arg("max_rms") = HUGE_VAL,
          py::arg("timeout") = py::none(),
          "Fits a circle to points, an (n, 2) array-like.\n\n"
          "weights       None, or one weight >= 0 per point: the weighted algebraic\n"
          "              circle (nothing discarded, so ignore must be 0)\n"
          "ignore        how many points to discard as outliers: every triple of\n"
          "              points proposes a centre and the best window of ranked\n"
          "              points wins (cubic in the number of points)\n"
          "fixed_radius  None: the radius is fitted; a number: the circle has this\n"
          "              radius and only the centre is fitted\n"
          "max_rms       is_valid is True only when rms_error < max_rms\n"
          "timeout       seconds after which the search stops with Cancelled\n\n"
          "Returns a CircleFit. Raises DegenerateError when fewer than three\n"
          "non-collinear points remain, ParameterError for negative ignore,\n"
          "max_rms, fixed_radius or weights, ValueError for input of the wrong\n"
          "shape or length.");
}

}  // namespace zpy
