// zfit.fit_circle and its result, CircleFit.
#include <cmath>

#include "many.hpp"

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

// fit_circle's options as the library's parameter record.
struct CircleOptions {
    zmath_circleFitParams params{};
    bool fixedRadius = false;

    CircleOptions(int64_t ignore, std::optional<double> radius, double maxRms)
    {
        check(zmath_circleFitParams_init(&params));
        params.numIgnore = toInt32(ignore, "ignore");
        params.maxRmsError = maxRms;
        if (radius) {
            fixedRadius = true;
            params.mode = 1;
            params.fixedRadius = *radius;
        }
    }
};

// One circle's points, and its weights for the weighted fit.
struct CircleInput {
    Points points;
    std::optional<Weights> weights;

    CircleInput(py::handle pointsArg, py::handle weightsArg, const CircleOptions& options)
        : points(pointsArg, "points")
    {
        if (weightsArg.is_none()) return;
        if (options.fixedRadius)
            raiseValue("fixed_radius: the weighted fit has a free radius; give weights or fixed_radius");
        weights.emplace(weightsArg, "weights", points.size(), "point");
    }
};

struct Circle {
    static constexpr const char* name = "circle";
    static constexpr bool weighted = true;
    using Options = CircleOptions;
    using Input = CircleInput;
    using Record = CircleResult;
    using Result = CircleFit;

    static Options readOptions(Keywords& k)
    {
        return Options(k.take<int64_t>("ignore", 0), k.take<std::optional<double>>("fixed_radius", std::nullopt),
                       k.take("max_rms", HUGE_VAL));
    }
    static Input input(py::handle item, py::handle weights, const Options& o) { return Input(item, weights, o); }
    static zfit_status fit(const Options& o, const Input& in, zmath_circleFitResult* result)
    {
        if (in.weights)
            return zmath_circleFitWeightedVector(in.points.vector(), in.weights->vector(), &o.params, result);
        return zmath_circleFitVector(in.points.vector(), &o.params, result);
    }
};

CircleFit fitCircle(const py::object& points, const py::object& weights, int64_t ignore,
                    std::optional<double> fixedRadius, double maxRms, std::optional<double> timeout)
{
    const CircleOptions options(ignore, fixedRadius, maxRms);
    return fitOne<Circle>(options, CircleInput(points, weights, options), timeout);
}

}  // namespace

void registerCircle(py::module_& m)
{
    addBatchFamily<Circle>();
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
