// zfit.fit_circle and its result, CircleFit.
#include <cmath>

#include "fields.hpp"
#include "keywords.hpp"
#include "many.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

using CircleRecords = ShapeRecords<zmath_circleFitResult, zmet_geometricCircleIgnoringResult, zmet_robustCircleResult>;

// The circle, its error and validity, and what the fit added.
struct CircleFit {
    static constexpr const char* name = "CircleFit";

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
            uncertainty = Uncertainty(c.robust.uncertainty, {x, y, radius});
            robust = Robust(c.robust);
        } else if (r.geometric.made()) {
            set(r.geometric->fit);
            ignored = ignoredOf(*r.geometric);
            uncertainty = Uncertainty(r.geometric->fit.uncertainty, {x, y, radius});
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

    static const Fields<CircleFit>& fields()
    {
        static const Fields<CircleFit> table = [] {
            Fields<CircleFit> f = {
                centreField<CircleFit>(),
                {"radius", Element::real, scalar(), "the fitted radius (fixed_radius when one was imposed)",
                 [](const CircleFit& r, auto& s) { s.real(r.radius); }},
                rmsErrorField<CircleFit>("RMS radial residual |p - centre| - radius of the points used\n"
                                         "(weighted in the weighted fit)"),
                isValidField<CircleFit>(),
                ignoredField<CircleFit>("indices of the discarded points"),
            };
            addUncertaintyFields(f,
                                 "of a geometric or robust fit: x, y, radius\n"
                                 "(x, y with a fixed radius)",
                                 3);
            addRobustFields(f);
            return f;
        }();
        return table;
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
    // The largest coordinate magnitude: the geometric fit alone centres and
    // scales the points; every other circle, and the search in front of a
    // geometric fit, sums fourth powers of the coordinates.
    double coordinateLimit = limit::fourthPowers;

    CircleOptions(std::optional<double> radius, double maxRms, bool isGeometric, int64_t maxIterations,
                  RobustOptions robustOptions)
        : geometric(isGeometric), robust(std::move(robustOptions))
    {
        check(zmath_circleFitParams_init(&params));
        params.numIgnore = robust.ignore;
        if (geometric && !robust.robust && robust.ignore == 0 && !robust.autoIgnore) coordinateLimit = limit::squares;
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

    CircleInput(py::handle pointsArg, py::handle weightsArg, const CircleOptions& options)
        : points(pointsArg, "points", options.coordinateLimit)
    {
        if (!weightsLeftToTheFit(weightsArg, options.robust, points, weights)) return;
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

    static const Signature& signature()
    {
        static const Signature s("fit_circle", {"points"},
                                 joined({{{"weights", "None",
                                           "None, or one weight >= 0 per point: the weighted algebraic\n"
                                           "circle (nothing discarded, so ignore must be 0)"},
                                          {"ignore", "0",
                                           "how many points to discard as outliers: every triple of\n"
                                           "points proposes a centre and the best window of ranked\n"
                                           "points wins (cubic in the number of points)" ZPY_AUTO_IGNORE_HELP},
                                          {"fixed_radius", "None",
                                           "None: the radius is fitted; a number: the circle has this\n"
                                           "radius and only the centre is fitted (not with weights,\n"
                                           "unless geometric)"},
                                          {"max_rms", "inf", "is_valid is True only when rms_error < max_rms"},
                                          {"timeout", "None", "seconds after which the search stops with Cancelled"},
                                          {"geometric", "False",
                                           "False: the algebraic circle; True: the orthogonal-distance\n"
                                           "circle (Levenberg-Marquardt from the Hyper circle), unbiased\n"
                                           "on short arcs, with covariance, std_errors and intervals;\n"
                                           "rms_error is then the RMS orthogonal distance. With ignore,\n"
                                           "it fits the points the algebraic search keeps; with robust,\n"
                                           "it picks the fit inside the robust loop"},
                                          {"max_iterations", "100",
                                           "the geometric fit's limit of trial steps (FitError\n"
                                           "zmet_errNotConverged beyond it)"}},
                                         robustKeywords()}));
        return s;
    }
    static py::object item(const py::tuple& items) { return items[0]; }
    static Options readOptions(Keywords& k)
    {
        const auto fixedRadius = k.take<std::optional<double>>("fixed_radius");
        const double maxRms = k.take<double>("max_rms");
        const bool geometric = k.take<bool>("geometric");
        const auto maxIterations = k.take<int64_t>("max_iterations");
        return Options(fixedRadius, maxRms, geometric, maxIterations, readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options& o) { return Input(item, weights, o); }

    // The robust circle of the options' flavour and radius.
    static zfit_status fitRobust(const Options& o, const Input& in, CircleRecords* r)
    {
        if (const zfit_status made = r->robust.make(); ZFIT_FAILED(made)) return made;
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
            // Written for every item: fit_many reuses the records.
            r->isRobust = ZFIT_FAILED(robust) || o.robust.robust;
            if (r->isRobust) return robust;
            searchParams.numIgnore = outlierCount((*r->robust).robust);
        }
        if (!o.geometric) {
            if (in.weights)
                return zmath_circleFitWeightedVector(in.points.vector(), in.weights->vector(), &o.params,
                                                     r->algebraic.get());
            return zmath_circleFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        }
        // The outlier search (when it discards any), then the geometric fit
        // of the kept points.
        if (const zfit_status made = r->geometric.make(); ZFIT_FAILED(made)) return made;
        zmet_geometricCircleParams params = o.geometricParams;
        params.numIgnore = searchParams.numIgnore;
        return zmet_geometricCircleFitIgnoring(in.points.data(), in.points.size(),
                                               in.weights ? in.weights->data() : nullptr, &params, r->geometric.get());
    }
};

}  // namespace

void registerCircle(py::module_& m)
{
    addBatchFamily<Circle>();
    addResultTable<CircleFit>("A fitted circle.");
    defineFit<Circle>(m, "Fits a circle to points, an (n, 2) array-like.\n\n"
                         "Returns a CircleFit. Raises DegenerateError when fewer than three\n"
                         "non-collinear points remain (the geometric fit needs one more than its\n"
                         "parameters: four, or three with a fixed radius), ParameterError for\n"
                         "negative ignore, max_rms, fixed_radius or weights and for coordinates\n"
                         "that are not finite or beyond 1e55 in magnitude (1e145 for the\n"
                         "geometric fit without ignore or robust), ValueError for input of the\n"
                         "wrong shape or length.");
}

}  // namespace zpy
