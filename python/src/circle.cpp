// zfit.fit_circle and its result, CircleFit.
#include <cmath>

#include "many.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

// What one circle fit leaves: the algebraic record (the whole fit, or the
// outlier search in front of a geometric fit, which then lists the
// discarded points) and, with geometric=True, the geometric fit.
struct CircleRecords {
    zfit::CircleResult algebraic;
    bool isGeometric = false;
    zmet_geometricCircleResult geometric{};
    bool isRobust = false;
    RobustCircleRecord robust;

    zfit_status status() const { return ZFIT_FAILED(algebraic.status()) ? algebraic.status() : robust.status(); }
};

struct CircleFit {
    static constexpr const char* name = "CircleFit";
    using State =
        std::tuple<double, double, double, double, bool, std::vector<int32_t>, Uncertainty::State, Robust::State>;

    double x = 0.0, y = 0.0, radius = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;
    Robust robust;

    explicit CircleFit(const CircleRecords& r) : ignored(ignoredOf(*r.algebraic))
    {
        if (r.isRobust) {
            const zmet_robustCircleResult& c = *r.robust;
            set(c);
            ignored = Robust::outliers(c.robust);
            if (c.robust.uncertainty.parameterCount > 0)
                uncertainty = Uncertainty(c.robust.uncertainty, {x, y, radius});
            robust = Robust(c.robust);
        } else if (r.isGeometric) {
            set(r.geometric);
            uncertainty = Uncertainty(r.geometric.uncertainty, {x, y, radius});
        } else {
            set(*r.algebraic);
        }
    }
    // The circle, its error and validity from any of the three records.
    template <class R>
    void set(const R& record)
    {
        x = record.centre.x;
        y = record.centre.y;
        radius = record.radius;
        rmsError = record.rmsError;
        isValid = record.isValid != 0;
    }
    explicit CircleFit(const State& s)
    {
        Uncertainty::State u;
        Robust::State rb;
        std::tie(x, y, radius, rmsError, isValid, ignored, u, rb) = s;
        uncertainty = Uncertainty(u);
        robust = Robust(rb);
    }
    State state() const { return {x, y, radius, rmsError, isValid, ignored, uncertainty.state(), robust.state()}; }

    py::dict toDict() const
    {
        py::dict d;
        d["centre"] = vector2(x, y);
        d["radius"] = radius;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        uncertainty.addTo(d);
        robust.addTo(d);
        return d;
    }
};

// fit_circle's options as the library's parameter records: the algebraic
// fit's (also the outlier search of a geometric fit) and the geometric fit's.
struct CircleOptions {
    zmath_circleFitParams params{};
    bool fixedRadius = false;
    bool geometric = false;
    zmet_geometricCircleParams geometricParams{};
    RobustOptions robust;

    CircleOptions(std::optional<double> radius, double maxRms, bool isGeometric, int64_t maxIterations,
                  RobustOptions robustOptions)
        : geometric(isGeometric), robust(std::move(robustOptions))
    {
        check(zmath_circleFitParams_init(&params));
        params.numIgnore = robust.ignore;
        params.maxRmsError = maxRms;
        robust.params.maxRmsError = maxRms;
        if (radius) {
            fixedRadius = true;
            params.mode = 1;
            params.fixedRadius = *radius;
        }
        if (!geometric) return;
        check(zmet_geometricCircleParams_init(&geometricParams));
        geometricParams.maxRmsError = params.maxRmsError;
        geometricParams.mode = params.mode;
        geometricParams.fixedRadius = params.fixedRadius;
        geometricParams.maxIterations = toInt32(maxIterations, "max_iterations");
    }
};

// One circle's points, and its weights for the weighted fit.
struct CircleInput {
    Points points;
    std::optional<Weights> weights;

    CircleInput(py::handle pointsArg, py::handle weightsArg, const CircleOptions& options) : points(pointsArg, "points")
    {
        if (weightsArg.is_none()) return;
        if (options.robust.autoIgnore)
            raiseValue("ignore: \"auto\" counts for the unweighted search; give weights or it");
        if (options.robust.robust) {
            weights.emplace(weightsArg, "weights", points.size(), "point");
            return;
        }
        if (options.geometric) {
            if (options.params.numIgnore != 0) raiseStatus(zmath_errFitWeightedIgnore);
        } else if (options.fixedRadius) {
            raiseValue("fixed_radius: the weighted fit has a free radius; give weights or fixed_radius");
        }
        weights.emplace(weightsArg, "weights", points.size(), "point");
    }
};

struct Circle {
    static constexpr const char* name = "circle";
    static constexpr bool weighted = true;
    using Options = CircleOptions;
    using Input = CircleInput;
    using Record = Records<CircleRecords>;
    using Result = CircleFit;

    static Options readOptions(Keywords& k)
    {
        return Options(k.take<std::optional<double>>("fixed_radius", std::nullopt), k.take("max_rms", HUGE_VAL),
                       k.take("geometric", false), k.take<int64_t>("max_iterations", 100), readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options& o) { return Input(item, weights, o); }

    // The robust circle of the options' flavour and radius.
    static zfit_status fitRobust(const Options& o, const Input& in, CircleRecords* r)
    {
        const double* weights = in.weights ? in.weights->data() : nullptr;
        const int32_t flavour = o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic;
        if (o.fixedRadius)
            return zmet_robustCircleFitFixedRadius(in.points.data(), in.points.size(), weights, &o.robust.params,
                                                   flavour, o.params.fixedRadius, r->robust.get());
        return zmet_robustCircleFit(in.points.data(), in.points.size(), weights, &o.robust.params, flavour,
                                    r->robust.get());
    }

    static zfit_status fit(const Options& o, const Input& in, CircleRecords* r)
    {
        zmath_circleFitParams searchParams = o.params;
        if (o.robust.robust || o.robust.autoIgnore) {
            const zfit_status robust = fitRobust(o, in, r);
            if (ZFIT_FAILED(robust) || o.robust.robust) {
                r->isRobust = true;
                return robust;
            }
            searchParams.numIgnore = outlierCount((*r->robust).robust);
        }
        if (!o.geometric) {
            if (in.weights)
                return zmath_circleFitWeightedVector(in.points.vector(), in.weights->vector(), &o.params,
                                                     r->algebraic.get());
            return zmath_circleFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        }
        r->isGeometric = true;
        const zmet_geometricCircleParams* params = &o.geometricParams;
        if (in.weights)
            return zmet_geometricCircleFitWeighted(in.points.data(), in.points.size(), in.weights->data(), params,
                                                   &r->geometric);
        if (searchParams.numIgnore == 0)
            return zmet_geometricCircleFit(in.points.data(), in.points.size(), params, &r->geometric);
        // The geometric circle of the points the algebraic search keeps.
        zfit_status status = zmath_circleFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        if (ZFIT_FAILED(status)) return status;
        std::vector<zmath_vect> kept;
        status = keptPoints(in.points, r->algebraic->ignoredIndices, kept);
        if (ZFIT_FAILED(status)) return status;
        return zmet_geometricCircleFit(kept.data(), static_cast<int32_t>(kept.size()), params, &r->geometric);
    }
};

CircleFit fitCircle(const py::object& points, const py::object& weights, const py::object& ignore,
                    std::optional<double> fixedRadius, double maxRms, std::optional<double> timeout, bool geometric,
                    int64_t maxIterations, const py::object& robust, std::optional<double> clip,
                    std::optional<double> scale)
{
    const CircleOptions options(fixedRadius, maxRms, geometric, maxIterations,
                                RobustOptions(robust, clip, scale, ignore));
    return fitOne<Circle>(options, CircleInput(points, weights, options), timeout);
}

}  // namespace

void registerCircle(py::module_& m)
{
    addBatchFamily<Circle>();
    auto cls = defineResult<CircleFit>(
        m, "A fitted circle.\n\n"
           "centre     (x, y)\n"
           "radius     the fitted radius (fixed_radius when one was imposed)\n"
           "rms_error  RMS radial residual |p - centre| - radius of the points used\n"
           "           (weighted in the weighted fit)\n"
           "is_valid   rms_error < max_rms\n"
           "ignored    indices of the discarded points (np.ndarray of int)\n" ZPY_UNCERTAINTY_DOC
           "           of a geometric or robust fit: x, y, radius (x, y with a fixed radius)\n" ZPY_ROBUST_DOC);
    cls.def_property_readonly("centre", [](const CircleFit& r) { return vector2(r.x, r.y); })
        .def_readonly("radius", &CircleFit::radius)
        .def_readonly("rms_error", &CircleFit::rmsError)
        .def_readonly("is_valid", &CircleFit::isValid)
        .def_property_readonly("ignored", [](const CircleFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);
    defineRobust(cls);

    m.def("fit_circle", &fitCircle, py::arg("points"), py::kw_only(), py::arg("weights") = py::none(),
          py::arg("ignore") = 0, py::arg("fixed_radius") = py::none(), py::arg("max_rms") = HUGE_VAL,
          py::arg("timeout") = py::none(), py::arg("geometric") = false, py::arg("max_iterations") = 100,
          ZPY_ROBUST_ARGS,
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
          "              zmet_errNotConverged beyond it)\n" ZPY_ROBUST_HELP
          "              (with robust, geometric picks the fit inside the loop)\n\n"
          "Returns a CircleFit. Raises DegenerateError when fewer than three\n"
          "non-collinear points remain (the geometric fit needs one more than its\n"
          "parameters: four, or three with a fixed radius), ParameterError for negative ignore,\n"
          "max_rms, fixed_radius or weights, ValueError for input of the wrong\n"
          "shape or length.");
}

}  // namespace zpy
