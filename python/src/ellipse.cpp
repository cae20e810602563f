// zfit.fit_ellipse and its result, EllipseFit.
#include <cmath>

#include "many.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

// What one ellipse fit leaves: the algebraic record (the whole fit, or the
// subset search in front of a geometric fit, which then lists the points
// left out) and, with geometric=True, the geometric fit.
struct EllipseRecords {
    zfit::EllipseResult algebraic;
    bool isGeometric = false;
    zmet_geometricEllipseResult geometric{};
    bool isRobust = false;
    RobustEllipseRecord robust;

    zfit_status status() const { return ZFIT_FAILED(algebraic.status()) ? algebraic.status() : robust.status(); }
};

struct EllipseFit {
    static constexpr const char* name = "EllipseFit";
    using State = std::tuple<double, double, double, double, double, double, bool, std::vector<int32_t>,
                             Uncertainty::State, Robust::State>;

    double x = 0.0, y = 0.0, radius1 = 0.0, radius2 = 0.0, angle = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;
    Robust robust;

    explicit EllipseFit(const EllipseRecords& r) : ignored(ignoredOf(*r.algebraic))
    {
        if (r.isRobust) {
            const zmet_robustEllipseResult& e = *r.robust;
            setShape(e.ellipse, e.rmsError, e.isValid);
            ignored = Robust::outliers(e.robust);
            if (e.robust.uncertainty.parameterCount > 0)
                uncertainty = Uncertainty(e.robust.uncertainty, {x, y, radius1, radius2, angle});
            robust = Robust(e.robust);
            return;
        }
        if (r.isGeometric) {
            const zmet_geometricEllipseResult& g = r.geometric;
            x = g.ellipse.center.x;
            y = g.ellipse.center.y;
            radius1 = g.ellipse.radius1;
            radius2 = g.ellipse.radius2;
            angle = g.ellipse.angle;
            rmsError = g.rmsError;
            isValid = g.isValid != 0;
            uncertainty = Uncertainty(g.uncertainty, {x, y, radius1, radius2, angle});
            return;
        }
        setShape(r.algebraic->ellipse, r.algebraic->rmsError, r.algebraic->isValid);
    }
    void setShape(const zmath_shapeEllipse& ellipse, double rms, int32_t valid)
    {
        zmath_vect centre;
        double radii[2];
        check(zmath_shapeEllipse_getCenter(&ellipse, &centre));
        check(zmath_shapeEllipse_getRadii(&ellipse, radii));
        check(zmath_shapeEllipse_getAngle(&ellipse, &angle));
        x = centre.x;
        y = centre.y;
        radius1 = radii[0];
        radius2 = radii[1];
        rmsError = rms;
        isValid = valid != 0;
    }
    explicit EllipseFit(const State& s)
    {
        Uncertainty::State u;
        Robust::State rb;
        std::tie(x, y, radius1, radius2, angle, rmsError, isValid, ignored, u, rb) = s;
        uncertainty = Uncertainty(u);
        robust = Robust(rb);
    }
    State state() const
    {
        return {x, y, radius1, radius2, angle, rmsError, isValid, ignored, uncertainty.state(), robust.state()};
    }

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
        robust.addTo(d);
        return d;
    }
};

// fit_ellipse's options as the library's parameter records: the algebraic
// fit's (also the subset search of a geometric fit) and the geometric fit's.
struct EllipseOptions {
    zmath_ellipseFitParams params{};
    bool geometric = false;
    zmet_geometricEllipseParams geometricParams{};
    RobustOptions robust;

    EllipseOptions(double maxRms, bool isGeometric, int64_t maxIterations, RobustOptions robustOptions)
        : geometric(isGeometric), robust(std::move(robustOptions))
    {
        check(zmath_ellipseFitParams_init(&params));
        params.numIgnore = robust.ignore;
        params.maxRmsError = maxRms;
        robust.params.maxRmsError = maxRms;
        if (!geometric) return;
        check(zmet_geometricEllipseParams_init(&geometricParams));
        geometricParams.maxRmsError = params.maxRmsError;
        geometricParams.maxIterations = toInt32(maxIterations, "max_iterations");
    }
};

// One ellipse's points, and its weights for the weighted geometric fit.
struct EllipseInput {
    Points points;
    std::optional<Weights> weights;

    EllipseInput(py::handle pointsArg, py::handle weightsArg, const EllipseOptions& options)
        : points(pointsArg, "points")
    {
        if (weightsArg.is_none()) return;
        if (options.robust.autoIgnore)
            raiseValue("ignore: \"auto\" counts for the unweighted search; give weights or it");
        if (options.robust.robust) {
            weights.emplace(weightsArg, "weights", points.size(), "point");
            return;
        }
        if (!options.geometric) raiseValue("weights: the algebraic ellipse is unweighted; weights need geometric=True");
        if (options.params.numIgnore != 0)
            raiseValue("ignore: a weighted fit discards no points; give weights or ignore");
        weights.emplace(weightsArg, "weights", points.size(), "point");
    }
};

struct Ellipse {
    static constexpr const char* name = "ellipse";
    static constexpr bool weighted = true;
    using Options = EllipseOptions;
    using Input = EllipseInput;
    using Record = Records<EllipseRecords>;
    using Result = EllipseFit;

    static Options readOptions(Keywords& k)
    {
        return Options(k.take("max_rms", HUGE_VAL), k.take("geometric", false), k.take<int64_t>("max_iterations", 100),
                       readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options& o) { return Input(item, weights, o); }
    static zfit_status fit(const Options& o, const Input& in, EllipseRecords* r)
    {
        zmath_ellipseFitParams searchParams = o.params;
        if (o.robust.robust || o.robust.autoIgnore) {
            const zfit_status robust = zmet_robustEllipseFit(
                in.points.data(), in.points.size(), in.weights ? in.weights->data() : nullptr, &o.robust.params,
                o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic, r->robust.get());
            if (ZFIT_FAILED(robust) || o.robust.robust) {
                r->isRobust = true;
                return robust;
            }
            searchParams.numIgnore = outlierCount((*r->robust).robust);
        }
        if (!o.geometric) return zmath_ellipseFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        r->isGeometric = true;
        const zmet_geometricEllipseParams* params = &o.geometricParams;
        if (in.weights)
            return zmet_geometricEllipseFitWeighted(in.points.data(), in.points.size(), in.weights->data(), params,
                                                    &r->geometric);
        if (searchParams.numIgnore == 0)
            return zmet_geometricEllipseFit(in.points.data(), in.points.size(), params, &r->geometric);
        // The geometric ellipse of the points the subset search keeps.
        zfit_status status = zmath_ellipseFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        if (ZFIT_FAILED(status)) return status;
        std::vector<zmath_vect> kept;
        status = keptPoints(in.points, r->algebraic->ignoredIndices, kept);
        if (ZFIT_FAILED(status)) return status;
        return zmet_geometricEllipseFit(kept.data(), static_cast<int32_t>(kept.size()), params, &r->geometric);
    }
};

EllipseFit fitEllipse(const py::object& points, const py::object& ignore, double maxRms, std::optional<double> timeout,
                      bool geometric, const py::object& weights, int64_t maxIterations, const py::object& robust,
                      std::optional<double> clip, std::optional<double> scale)
{
    const EllipseOptions options(maxRms, geometric, maxIterations, RobustOptions(robust, clip, scale, ignore));
    return fitOne<Ellipse>(options, EllipseInput(points, weights, options), timeout);
}

}  // namespace

void registerEllipse(py::module_& m)
{
    addBatchFamily<Ellipse>();
    auto cls =
        defineResult<EllipseFit>(m, "A fitted ellipse.\n\n"
                                    "centre     (x, y)\n"
                                    "radii      (radius1, radius2): the semi-axis along `angle`, then the\n"
                                    "           one at right angles to it (either may be the larger)\n"
                                    "angle      direction of radius1, radians in [0, pi)\n"
                                    "rms_error  RMS residual of the points used\n"
                                    "is_valid   rms_error < max_rms\n"
                                    "ignored    indices of the points left out, in decreasing order\n"
                                    "           (np.ndarray of int)\n" ZPY_UNCERTAINTY_DOC
                                    "           of a geometric fit: x, y, radius1, radius2, angle\n" ZPY_ROBUST_DOC);
    cls.def_property_readonly("centre", [](const EllipseFit& r) { return vector2(r.x, r.y); })
        .def_property_readonly("radii", [](const EllipseFit& r) { return vector2(r.radius1, r.radius2); })
        .def_readonly("angle", &EllipseFit::angle)
        .def_readonly("rms_error", &EllipseFit::rmsError)
        .def_readonly("is_valid", &EllipseFit::isValid)
        .def_property_readonly("ignored", [](const EllipseFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);
    defineRobust(cls);

    m.def("fit_ellipse", &fitEllipse, py::arg("points"), py::kw_only(), py::arg("ignore") = 0,
          py::arg("max_rms") = HUGE_VAL, py::arg("timeout") = py::none(), py::arg("geometric") = false,
          py::arg("weights") = py::none(), py::arg("max_iterations") = 100, ZPY_ROBUST_ARGS,
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
          "max_iterations  the geometric fit's limit of trial steps\n" ZPY_ROBUST_HELP "\n"
          "Returns an EllipseFit. Raises DegenerateError for fewer than ignore + 5\n"
          "points (ignore + 6 when geometric) or points that do not determine an\n"
          "ellipse, ParameterError for negative ignore or max_rms, ValueError for\n"
          "input of the wrong shape.");
}

}  // namespace zpy
