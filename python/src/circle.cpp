// zfit.fit_circle and its result, CircleFit.
#include <cmath>

#include "binding.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

struct CircleFit {
    static constexpr const char* name = "CircleFit";
    using State = std::tuple<double, double, double, double, bool, std::vector<int32_t>, Uncertainty::State>;

    double x = 0.0, y = 0.0, radius = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;

    explicit CircleFit(const zmath_circleFitResult& r)
        : x(r.centre.x), y(r.centre.y), radius(r.radius), rmsError(r.rmsError), isValid(r.isValid != 0),
          ignored(indicesOf(r.ignoredIndices))
    {
    }
    // The geometric circle of the points that the robust search kept.
    CircleFit(const zmet_geometricCircleResult& r, std::vector<int32_t> discarded)
        : x(r.centre.x), y(r.centre.y), radius(r.radius), rmsError(r.rmsError), isValid(r.isValid != 0),
          ignored(std::move(discarded)), uncertainty(r.uncertainty, {x, y, radius})
    {
    }
    explicit CircleFit(const State& s)
    {
        Uncertainty::State u;
        std::tie(x, y, radius, rmsError, isValid, ignored, u) = s;
        uncertainty = Uncertainty(u);
    }
    State state() const { return {x, y, radius, rmsError, isValid, ignored, uncertainty.state()}; }

    py::dict toDict() const
    {
        py::dict d;
        d["centre"] = vector2(x, y);
        d["radius"] = radius;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        uncertainty.addTo(d);
        return d;
    }
};

using CircleResult = Record<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

// The geometric circle; with ignore > 0, of the points the algebraic search
// keeps.
CircleFit fitGeometric(const Points& pts, const py::object& weights, const zmath_circleFitParams& params,
                       int64_t maxIterations, std::optional<double> timeout)
{
    zmet_geometricCircleParams geometric;
    check(zmet_geometricCircleParams_init(&geometric));
    geometric.maxRmsError = params.maxRmsError;
    geometric.mode = params.mode;
    geometric.fixedRadius = params.fixedRadius;
    geometric.maxIterations = toInt32(maxIterations, "max_iterations");
    zmet_geometricCircleResult result{};
    FitScope scope(timeout);
    if (!weights.is_none()) {
        if (params.numIgnore != 0) raiseStatus(zmath_errFitWeightedIgnore);
        const Weights w(weights, "weights", pts.size(), "point");
        scope.run([&] { return zmet_geometricCircleFitWeighted(pts.data(), pts.size(), w.data(), &geometric, &result); });
        return CircleFit(result, {});
    }
    std::vector<int32_t> discarded;
    std::vector<zmath_vect> kept;
    if (params.numIgnore != 0) {
        CircleResult search;
        scope.run([&] { return zmath_circleFitVector(pts.vector(), &params, search.get()); });
        discarded = indicesOf(search->ignoredIndices);
        kept = keptPoints(pts, discarded);
    }
    const zmath_vect* data = params.numIgnore != 0 ? kept.data() : pts.data();
    const auto count = params.numIgnore != 0 ? static_cast<int32_t>(kept.size()) : pts.size();
    scope.run([&] { return zmet_geometricCircleFit(data, count, &geometric, &result); });
    return CircleFit(result, std::move(discarded));
}

CircleFit fitCircle(const py::object& points, const py::object& weights, int64_t ignore,
                    std::optional<double> fixedRadius, double maxRms, std::optional<double> timeout, bool geometric,
                    int64_t maxIterations)
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
    if (geometric) return fitGeometric(pts, weights, params, maxIterations, timeout);
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
    auto cls = defineResult<CircleFit>(m,
                            "A fitted circle.\n\n"
                            "centre     (x, y)\n"
                            "radius     the fitted radius (fixed_radius when one was imposed)\n"
                            "rms_error  RMS radial residual |p - centre| - radius of the points used\n"
                            "           (weighted in the weighted fit)\n"
                            "is_valid   rms_error < max_rms\n"
                            "ignored    indices of the discarded points (np.ndarray of int)\n"
                            ZPY_UNCERTAINTY_DOC
                            "           of a geometric fit: x, y, radius (x, y with a fixed radius)");
    cls.def_property_readonly("centre", [](const CircleFit& r) { return vector2(r.x, r.y); })
        .def_readonly("radius", &CircleFit::radius)
        .def_readonly("rms_error", &CircleFit::rmsError)
        .def_readonly("is_valid", &CircleFit::isValid)
        .def_property_readonly("ignored", [](const CircleFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);

    m.def("fit_circle", &fitCircle, py::arg("points"), py::kw_only(), py::arg("weights") = py::none(),
          py::arg("ignore") = 0, py::arg("fixed_radius") = py::none(), py::arg("max_rms") = HUGE_VAL,
          py::arg("timeout") = py::none(), py::arg("geometric") = false, py::arg("max_iterations") = 100,
          "Fits a circle to points, an (n, 2) array-like.\n\n"
          "weights       None, or one weight >= 0 per point: the weighted algebraic\n"
          "              circle (nothing discarded, so ignore must be 0)\n"
          "ignore        how many points to discard as outliers: every triple of\n"
          "              points proposes a centre and the best window of ranked\n"
          "              points wins (cubic in the number of points)\n"
          "fixed_radius  None: the radius is fitted; a number: the circle has this\n"
          "              radius and only the centre is fitted (not with weights,\n"
          "              unless geometric)\n"
          "max_rms       is_valid is True only when rms_error < max_rms\n"
          "timeout       seconds after which the search stops with Cancelled\n"
          "geometric     False: the algebraic circle; True: the orthogonal-distance\n"
          "              circle (Levenberg-Marquardt from the Hyper circle), unbiased\n"
          "              on short arcs, with covariance, std_errors and intervals;\n"
          "              rms_error is then the RMS orthogonal distance. With ignore,\n"
          "              it fits the points the algebraic search keeps\n"
          "max_iterations  the geometric fit's limit of trial steps (FitError\n"
          "              zmet_errNotConverged beyond it)\n\n"
          "Returns a CircleFit. Raises DegenerateError when fewer than three\n"
          "non-collinear points remain (the geometric fit needs one more than its\n"
          "parameters: four, or three with a fixed radius), ParameterError for negative ignore,\n"
          "max_rms, fixed_radius or weights, ValueError for input of the wrong\n"
          "shape or length.");
}

}  // namespace zpy
