// zfit.fit_ellipse and its result, EllipseFit.
#include <cmath>

#include "binding.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

struct EllipseFit {
    static constexpr const char* name = "EllipseFit";
    using State = std::tuple<double, double, double, double, double, double, bool, std::vector<int32_t>,
                             Uncertainty::State>;

    double x = 0.0, y = 0.0, radius1 = 0.0, radius2 = 0.0, angle = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;

    explicit EllipseFit(const zmath_ellipseFitResult& r) : rmsError(r.rmsError), isValid(r.isValid != 0), ignored(indicesOf(r.ignoredIndices))
    {
        zmath_vect centre;
        double radii[2];
        check(zmath_shapeEllipse_getCenter(&r.ellipse, &centre));
        check(zmath_shapeEllipse_getRadii(&r.ellipse, radii));
        check(zmath_shapeEllipse_getAngle(&r.ellipse, &angle));
        x = centre.x;
        y = centre.y;
        radius1 = radii[0];
        radius2 = radii[1];
    }
    // The geometric ellipse of the points that the subset search kept.
    EllipseFit(const zmet_geometricEllipseResult& r, std::vector<int32_t> discarded)
        : x(r.ellipse.center.x), y(r.ellipse.center.y), radius1(r.ellipse.radius1), radius2(r.ellipse.radius2),
          angle(r.ellipse.angle), rmsError(r.rmsError), isValid(r.isValid != 0), ignored(std::move(discarded)),
          uncertainty(r.uncertainty, {x, y, radius1, radius2, angle})
    {
    }
    explicit EllipseFit(const State& s)
    {
        Uncertainty::State u;
        std::tie(x, y, radius1, radius2, angle, rmsError, isValid, ignored, u) = s;
        uncertainty = Uncertainty(u);
    }
    State state() const { return {x, y, radius1, radius2, angle, rmsError, isValid, ignored, uncertainty.state()}; }

    py::dict toDict() const
    {
        py::dict d;
        d["centre"] = vector2(x, y);
        d["radii"] = vector2(radius1, radius2);
        d["angle"] = angle;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        uncertainty.addTo(d);
        return d;
    }
};

using EllipseResult = Record<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

// The geometric ellipse; with ignore > 0, of the points the subset search
// keeps.
EllipseFit fitGeometric(const Points& pts, const py::object& weights, const zmath_ellipseFitParams& params,
                        int64_t maxIterations, std::optional<double> timeout)
{
    zmet_geometricEllipseParams geometric;
    check(zmet_geometricEllipseParams_init(&geometric));
    geometric.maxRmsError = params.maxRmsError;
    geometric.maxIterations = toInt32(maxIterations, "max_iterations");
    zmet_geometricEllipseResult result{};
    FitScope scope(timeout);
    if (!weights.is_none()) {
        if (params.numIgnore != 0) raiseValue("ignore: a weighted fit discards no points; give weights or ignore");
        const Weights w(weights, "weights", pts.size(), "point");
        scope.run([&] { return zmet_geometricEllipseFitWeighted(pts.data(), pts.size(), w.data(), &geometric, &result); });
        return EllipseFit(result, {});
    }
    std::vector<int32_t> discarded;
    std::vector<zmath_vect> kept;
    if (params.numIgnore != 0) {
        EllipseResult search;
        scope.run([&] { return zmath_ellipseFitVector(pts.vector(), &params, search.get()); });
        discarded = indicesOf(search->ignoredIndices);
        kept = keptPoints(pts, discarded);
    }
    const zmath_vect* data = params.numIgnore != 0 ? kept.data() : pts.data();
    const auto count = params.numIgnore != 0 ? static_cast<int32_t>(kept.size()) : pts.size();
    scope.run([&] { return zmet_geometricEllipseFit(data, count, &geometric, &result); });
    return EllipseFit(result, std::move(discarded));
}

EllipseFit fitEllipse(const py::object& points, int64_t ignore, double maxRms, std::optional<double> timeout,
                      bool geometric, const py::object& weights, int64_t maxIterations)
{
    const Points pts(points, "points");
    zmath_ellipseFitParams params;
    check(zmath_ellipseFitParams_init(&params));
    params.numIgnore = toInt32(ignore, "ignore");
    params.maxRmsError = maxRms;
    if (geometric) return fitGeometric(pts, weights, params, maxIterations, timeout);
    if (!weights.is_none()) raiseValue("weights: the algebraic ellipse is unweighted; weights need geometric=True");
    EllipseResult result;
    FitScope scope(timeout);
    scope.run([&] { return zmath_ellipseFitVector(pts.vector(), &params, result.get()); });
    return EllipseFit(*result);
}

}  // namespace

void registerEllipse(py::module_& m)
{
    auto cls = defineResult<EllipseFit>(m,
                             "A fitted ellipse.\n\n"
                             "centre     (x, y)\n"
                             "radii      (radius1, radius2): the semi-axis along `angle`, then the\n"
                             "           one at right angles to it (either may be the larger)\n"
                             "angle      direction of radius1, radians in [0, pi)\n"
                             "rms_error  RMS residual of the points used\n"
                             "is_valid   rms_error < max_rms\n"
                             "ignored    indices of the points left out, in decreasing order\n"
                             "           (np.ndarray of int)\n"
                             ZPY_UNCERTAINTY_DOC
                             "           of a geometric fit: x, y, radius1, radius2, angle");
    cls.def_property_readonly("centre", [](const EllipseFit& r) { return vector2(r.x, r.y); })
        .def_property_readonly("radii", [](const EllipseFit& r) { return vector2(r.radius1, r.radius2); })
        .def_readonly("angle", &EllipseFit::angle)
        .def_readonly("rms_error", &EllipseFit::rmsError)
        .def_readonly("is_valid", &EllipseFit::isValid)
        .def_property_readonly("ignored", [](const EllipseFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);

    m.def("fit_ellipse", &fitEllipse, py::arg("points"), py::kw_only(), py::arg("ignore") = 0,
          py::arg("max_rms") = HUGE_VAL, py::arg("timeout") = py::none(), py::arg("geometric") = false,
          py::arg("weights") = py::none(), py::arg("max_iterations") = 100,
          "Fits an ellipse to points, an (n, 2) array-like: the algebraic least-\n"
          "squares ellipse.\n\n"
          "ignore   how many points to leave out: every subset of that many is\n"
          "         tried and the fit of the rest with the smallest RMS wins\n"
          "         (the number of subsets grows as n**ignore)\n"
          "max_rms  is_valid is True only when rms_error < max_rms\n"
          "timeout  seconds after which the subset search stops with Cancelled\n"
          "geometric  False: the algebraic ellipse; True: the orthogonal-distance\n"
          "         ellipse (Levenberg-Marquardt with the contact point of every\n"
          "         point), unbiased on partial arcs, with covariance, std_errors and\n"
          "         intervals; radius1 is then the semi-major axis and rms_error the\n"
          "         RMS orthogonal distance. With ignore, it fits the points the\n"
          "         subset search keeps\n"
          "weights  None, or one weight >= 0 per point (geometric only)\n"
          "max_iterations  the geometric fit's limit of trial steps\n\n"
          "Returns an EllipseFit. Raises DegenerateError for fewer than ignore + 5\n"
          "points (ignore + 6 when geometric) or points that do not determine an\n"
          "ellipse, ParameterError for negative ignore or max_rms, ValueError for\n"
          "input of the wrong shape.");
}

}  // namespace zpy
