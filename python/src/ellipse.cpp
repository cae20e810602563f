// zfit.fit_ellipse and its result, EllipseFit.
#include <cmath>

#include "many.hpp"

namespace zpy {

namespace {

struct EllipseFit {
    static constexpr const char* name = "EllipseFit";
    using State = std::tuple<double, double, double, double, double, double, bool, std::vector<int32_t>>;

    double x = 0.0, y = 0.0, radius1 = 0.0, radius2 = 0.0, angle = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;

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
    explicit EllipseFit(const State& s) { std::tie(x, y, radius1, radius2, angle, rmsError, isValid, ignored) = s; }
    State state() const { return {x, y, radius1, radius2, angle, rmsError, isValid, ignored}; }

    py::dict toDict() const
    {
        py::dict d;
        d["centre"] = vector2(x, y);
        d["radii"] = vector2(radius1, radius2);
        d["angle"] = angle;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        return d;
    }
};

using EllipseResult = Record<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

// fit_ellipse's options as the library's parameter record.
struct EllipseOptions {
    zmath_ellipseFitParams params{};

    EllipseOptions(int64_t ignore, double maxRms)
    {
        check(zmath_ellipseFitParams_init(&params));
        params.numIgnore = toInt32(ignore, "ignore");
        params.maxRmsError = maxRms;
    }
};

struct Ellipse {
    static constexpr const char* name = "ellipse";
    static constexpr bool weighted = false;
    using Options = EllipseOptions;
    using Input = Points;
    using Record = EllipseResult;
    using Result = EllipseFit;

    static Options readOptions(Keywords& k) { return Options(k.take<int64_t>("ignore", 0), k.take("max_rms", HUGE_VAL)); }
    static Input input(py::handle item, py::handle, const Options&) { return Points(item, "points"); }
    static zfit_status fit(const Options& o, const Input& points, zmath_ellipseFitResult* result)
    {
        return zmath_ellipseFitVector(points.vector(), &o.params, result);
    }
};

EllipseFit fitEllipse(const py::object& points, int64_t ignore, double maxRms, std::optional<double> timeout)
{
    const Points pts(points, "points");
    return fitOne<Ellipse>(EllipseOptions(ignore, maxRms), pts, timeout);
}

}  // namespace

void registerEllipse(py::module_& m)
{
    addBatchFamily<Ellipse>();
    defineResult<EllipseFit>(m,
                             "A fitted ellipse.\n\n"
                             "centre     (x, y)\n"
                             "radii      (radius1, radius2): the semi-axis along `angle`, then the\n"
                             "           one at right angles to it (either may be the larger)\n"
                             "angle      direction of radius1, radians in [0, pi)\n"
                             "rms_error  RMS residual of the points used\n"
                             "is_valid   rms_error < max_rms\n"
                             "ignored    indices of the points left out, in decreasing order\n"
                             "           (np.ndarray of int)")
        .def_property_readonly("centre", [](const EllipseFit& r) { return vector2(r.x, r.y); })
        .def_property_readonly("radii", [](const EllipseFit& r) { return vector2(r.radius1, r.radius2); })
        .def_readonly("angle", &EllipseFit::angle)
        .def_readonly("rms_error", &EllipseFit::rmsError)
        .def_readonly("is_valid", &EllipseFit::isValid)
        .def_property_readonly("ignored", [](const EllipseFit& r) { return indexArray(r.ignored); });

    m.def("fit_ellipse", &fitEllipse, py::arg("points"), py::kw_only(), py::arg("ignore") = 0,
          py::arg("max_rms") = HUGE_VAL, py::arg("timeout") = py::none(),
          "Fits an ellipse to points, an (n, 2) array-like: the algebraic least-\n"
          "squares ellipse.\n\n"
          "ignore   how many points to leave out: every subset of that many is\n"
          "         tried and the fit of the rest with the smallest RMS wins\n"
          "         (the number of subsets grows as n**ignore)\n"
          "max_rms  is_valid is True only when rms_error < max_rms\n"
          "timeout  seconds after which the subset search stops with Cancelled\n\n"
          "Returns an EllipseFit. Raises DegenerateError for fewer than ignore + 5\n"
          "points or points that do not determine an ellipse, ParameterError for\n"
          "negative ignore or max_rms, ValueError for input of the wrong shape.");
}

}  // namespace zpy
