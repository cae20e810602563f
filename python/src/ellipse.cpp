// zfit.fit_ellipse and its result, EllipseFit.
#include <cmath>

#include "fields.hpp"
#include "keywords.hpp"
#include "many.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

using EllipseRecords =
    ShapeRecords<zmath_ellipseFitResult, zmet_geometricEllipseIgnoringResult, zmet_robustEllipseResult>;

// The ellipse, its error and validity, and what the fit added.
struct EllipseFit {
    static constexpr const char* name = "EllipseFit";

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
            uncertainty = Uncertainty(e.robust.uncertainty, {x, y, radius1, radius2, angle});
            robust = Robust(e.robust);
            return;
        }
        if (r.geometric.made()) {
            const zmet_geometricEllipseResult& g = r.geometric->fit;
            ignored = ignoredOf(*r.geometric);
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
    // The getters of an ellipse the fit filled cannot fail.
    void setShape(const zmath_shapeEllipse& ellipse, double rms, int32_t valid)
    {
        zmath_vect centre{};
        double radii[2] = {};
        (void)zmath_shapeEllipse_getCenter(&ellipse, &centre);
        (void)zmath_shapeEllipse_getRadii(&ellipse, radii);
        (void)zmath_shapeEllipse_getAngle(&ellipse, &angle);
        x = centre.x;
        y = centre.y;
        radius1 = radii[0];
        radius2 = radii[1];
        rmsError = rms;
        isValid = valid != 0;
    }

    static const Fields<EllipseFit>& fields()
    {
        static const Fields<EllipseFit> table = [] {
            Fields<EllipseFit> f = {
                centreField<EllipseFit>(),
                {"radii", Element::real, vector(2),
                 "(radius1, radius2): the semi-axis along `angle`, then the\n"
                 "one at right angles to it (either may be the larger)",
                 [](const EllipseFit& r, auto& s) {
                     s.reals(std::array{r.radius1, r.radius2});
                 }},
                {"angle", Element::real, scalar(), "direction of radius1, radians in [0, pi)",
                 [](const EllipseFit& r, auto& s) { s.real(r.angle); }},
                rmsErrorField<EllipseFit>("RMS residual of the points used"),
                isValidField<EllipseFit>(),
                ignoredField<EllipseFit>("indices of the points left out, in decreasing order"),
            };
            addUncertaintyFields(f, "of a geometric fit: x, y, radius1, radius2,\nangle", 5);
            addRobustFields(f);
            return f;
        }();
        return table;
    }
};

// fit_ellipse's options as the library's parameter records: the algebraic
// fit's (also the subset search of a geometric fit) and the geometric fit's.
struct EllipseOptions {
    zmath_ellipseFitParams params{};
    bool geometric = false;
    zmet_geometricEllipseParams geometricParams{};
    RobustOptions robust;
    // The largest coordinate magnitude: the geometric fit alone centres and
    // scales the points; the algebraic ellipse, and the search in front of
    // a geometric fit, sums eighth powers of the coordinates.
    double coordinateLimit = limit::eighthPowers;

    EllipseOptions(double maxRms, bool isGeometric, int64_t maxIterations, RobustOptions robustOptions)
        : geometric(isGeometric), robust(std::move(robustOptions))
    {
        check(zmath_ellipseFitParams_init(&params));
        params.numIgnore = robust.ignore;
        if (geometric && !robust.robust && robust.ignore == 0 && !robust.autoIgnore) coordinateLimit = limit::squares;
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
        : points(pointsArg, "points", options.coordinateLimit)
    {
        if (!weightsLeftToTheFit(weightsArg, options.robust, points, weights)) return;
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

    static const Signature& signature()
    {
        static const Signature s(
            "fit_ellipse", {"points"},
            joined({{{"ignore", "0",
                      "how many points to leave out: every subset of that many is\n"
                      "tried and the fit of the rest with the smallest RMS wins\n"
                      "(the number of subsets grows as n**ignore)" ZPY_AUTO_IGNORE_HELP},
                     {"max_rms", "inf", "is_valid is True only when rms_error < max_rms"},
                     {"timeout", "None", "seconds after which the subset search stops with Cancelled"},
                     {"geometric", "False",
                      "False: the algebraic ellipse; True: the orthogonal-distance\n"
                      "ellipse (Levenberg-Marquardt with the contact point of every\n"
                      "point), unbiased on partial arcs, with covariance, std_errors\n"
                      "and intervals; radius1 is then the semi-major axis and\n"
                      "rms_error the RMS orthogonal distance. With ignore, it fits\n"
                      "the points the subset search keeps"},
                     {"weights", "None", "None, or one weight >= 0 per point (geometric only)"},
                     {"max_iterations", "100", "the geometric fit's limit of trial steps"}},
                    robustKeywords()}));
        return s;
    }
    static py::object item(const py::tuple& items) { return items[0]; }
    static Options readOptions(Keywords& k)
    {
        const double maxRms = k.take<double>("max_rms");
        const bool geometric = k.take<bool>("geometric");
        const auto maxIterations = k.take<int64_t>("max_iterations");
        return Options(maxRms, geometric, maxIterations, readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle weights, const Options& o) { return Input(item, weights, o); }
    static zfit_status fit(const Options& o, const Input& in, EllipseRecords* r)
    {
        zmath_ellipseFitParams searchParams = o.params;
        if (o.robust.robust || o.robust.autoIgnore) {
            if (const zfit_status made = r->robust.make(); ZFIT_FAILED(made)) return made;
            const zfit_status robust = zmet_robustEllipseFit(
                in.points.data(), in.points.size(), in.weights ? in.weights->data() : nullptr, &o.robust.params,
                o.geometric ? zmet_robustGeometric : zmet_robustAlgebraic, r->robust.get());
            // Written for every item: fit_many reuses the records.
            r->isRobust = ZFIT_FAILED(robust) || o.robust.robust;
            if (r->isRobust) return robust;
            searchParams.numIgnore = outlierCount((*r->robust).robust);
        }
        if (!o.geometric) return zmath_ellipseFitVector(in.points.vector(), &searchParams, r->algebraic.get());
        // The subset search (when it leaves any out), then the geometric fit
        // of the kept points.
        if (const zfit_status made = r->geometric.make(); ZFIT_FAILED(made)) return made;
        zmet_geometricEllipseParams params = o.geometricParams;
        params.numIgnore = searchParams.numIgnore;
        return zmet_geometricEllipseFitIgnoring(in.points.data(), in.points.size(),
                                                in.weights ? in.weights->data() : nullptr, &params, r->geometric.get());
    }
};

}  // namespace

void registerEllipse(py::module_& m)
{
    addBatchFamily<Ellipse>();
    addResultTable<EllipseFit>("A fitted ellipse.");
    defineFit<Ellipse>(m, "Fits an ellipse to points, an (n, 2) array-like: the algebraic least-\n"
                          "squares ellipse.\n\n"
                          "Returns an EllipseFit. Raises DegenerateError for fewer than ignore + 5\n"
                          "points (ignore + 6 when geometric) or points that do not determine an\n"
                          "ellipse, ParameterError for negative ignore or max_rms and for\n"
                          "coordinates that are not finite or beyond 1e35 in magnitude (1e145 for\n"
                          "the geometric fit without ignore or robust), ValueError for input of\n"
                          "the wrong shape.");
}

}  // namespace zpy
