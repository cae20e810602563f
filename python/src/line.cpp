// zfit.fit_line and its result, LineFit.
#include <cmath>

#include "many.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

// What one line fit leaves: the fitted line and, for a least-squares line
// with enough kept points to estimate the noise, its uncertainty; or the
// robust fit.
struct LineRecords {
    zfit::LineResult line;
    bool hasUncertainty = false;
    zmet_uncertainty uncertainty{};
    bool isRobust = false;
    RobustLineRecord robust;

    zfit_status status() const { return ZFIT_FAILED(line.status()) ? line.status() : robust.status(); }
};

struct LineFit {
    static constexpr const char* name = "LineFit";
    using State = std::tuple<double, double, double, double, double, bool, std::vector<int32_t>, Uncertainty::State,
                             Robust::State>;

    double angle = 0.0, distance = 0.0, cosine = 1.0, sine = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;
    Robust robust;

    explicit LineFit(const LineRecords& records)
    {
        if (records.isRobust) {
            const zmet_robustLineResult& r = *records.robust;
            setLine(r.line, r.rmsError, r.isValid);
            ignored = Robust::outliers(r.robust);
            if (r.robust.uncertainty.parameterCount > 0)
                uncertainty = Uncertainty(r.robust.uncertainty, {angle, distance});
            robust = Robust(r.robust);
            return;
        }
        const zmath_lineFitResult& r = *records.line;
        setLine(r.line, r.rmsError, r.isValid);
        ignored = ignoredOf(r);
        if (records.hasUncertainty) uncertainty = Uncertainty(records.uncertainty, {angle, distance});
    }
    explicit LineFit(const State& s)
    {
        Uncertainty::State u;
        Robust::State rb;
        std::tie(angle, distance, cosine, sine, rmsError, isValid, ignored, u, rb) = s;
        uncertainty = Uncertainty(u);
        robust = Robust(rb);
    }
    State state() const
    {
        return {angle, distance, cosine, sine, rmsError, isValid, ignored, uncertainty.state(), robust.state()};
    }

    void setLine(const zmath_shapeFLine& line, double rms, int32_t valid)
    {
        rmsError = rms;
        isValid = valid != 0;
        check(zmath_shapeFLine_getAngle(&line, &angle));
        check(zmath_shapeFLine_getDistance(&line, &distance));
        check(zmath_shapeFLine_getCosine(&line, &cosine));
        check(zmath_shapeFLine_getSine(&line, &sine));
    }

    py::dict toDict() const
    {
        py::dict d;
        d["angle"] = angle;
        d["distance"] = distance;
        d["direction"] = vector2(cosine, sine);
        d["normal"] = vector2(-sine, cosine);
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["ignored"] = indexArray(ignored);
        uncertainty.addTo(d);
        robust.addTo(d);
        return d;
    }
};

// fit_line's options as the library's parameter records.
struct LineOptions {
    zmath_lineFitParams params{};
    RobustOptions robust;

    LineOptions(bool minZone, double maxRms, RobustOptions robustOptions) : robust(std::move(robustOptions))
    {
        if (robust.robust && minZone) raiseValue("robust: the minimum-zone line is not a robust fit");
        check(zmath_lineFitParams_init(&params));
        params.numIgnore = robust.ignore;
        params.maxRmsError = maxRms;
        params.mode = minZone ? 1 : 0;
        robust.params.maxRmsError = maxRms;
    }
};

struct Line {
    static constexpr const char* name = "line";
    static constexpr bool weighted = false;
    using Options = LineOptions;
    using Input = Points;
    using Record = Records<LineRecords>;
    using Result = LineFit;

    static Options readOptions(Keywords& k)
    {
        return Options(k.take("min_zone", false), k.take("max_rms", HUGE_VAL), readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle, const Options&) { return Points(item, "points"); }
    static zfit_status fit(const Options& o, const Input& points, LineRecords* r)
    {
        zmath_lineFitParams params = o.params;
        if (o.robust.robust || o.robust.autoIgnore) {
            const zfit_status robust =
                zmet_robustLineFit(points.data(), points.size(), nullptr, &o.robust.params, r->robust.get());
            if (ZFIT_FAILED(robust) || o.robust.robust) {
                r->isRobust = true;
                return robust;
            }
            params.numIgnore = outlierCount((*r->robust).robust);
        }
        const zfit_status status = zmath_lineFitVector(points.vector(), &params, r->line.get());
        if (ZFIT_FAILED(status) || o.params.mode != 0) return status;
        // The least-squares line's uncertainty from the points it kept; none
        // when they are too few to estimate the noise.
        std::vector<zmath_vect> kept;
        const zfit_status copied = keptPoints(points, r->line->ignoredIndices, kept);
        if (ZFIT_FAILED(copied)) return copied;
        r->hasUncertainty = !ZFIT_FAILED(
            zmet_lineFitUncertainty(kept.data(), static_cast<int32_t>(kept.size()), &r->line->line, &r->uncertainty));
        return status;
    }
};

LineFit fitLine(const py::object& points, const py::object& ignore, bool minZone, double maxRms,
                std::optional<double> timeout, const py::object& robust, std::optional<double> clip,
                std::optional<double> scale)
{
    const Points pts(points, "points");
    return fitOne<Line>(LineOptions(minZone, maxRms, RobustOptions(robust, clip, scale, ignore)), pts, timeout);
}

}  // namespace

void registerLine(py::module_& m)
{
    addBatchFamily<Line>();
    auto cls =
        defineResult<LineFit>(m, "A fitted line in normal form: its points (x, y) satisfy\n"
                                 "-x*sin(angle) + y*cos(angle) = distance.\n\n"
                                 "angle      radians; distance >= 0 after a least-squares fit\n"
                                 "distance   the line's distance from the origin\n"
                                 "direction  (cos(angle), sin(angle))\n"
                                 "normal     (-sin(angle), cos(angle))\n"
                                 "rms_error  least squares: RMS perpendicular distance of the kept points;\n"
                                 "           minimum zone: the strip's half-width\n"
                                 "is_valid   rms_error < max_rms\n"
                                 "ignored    indices of the discarded points (np.ndarray of int)\n" ZPY_UNCERTAINTY_DOC
                                 "           of a least-squares line with at least three kept points:\n"
                                 "           angle, distance\n" ZPY_ROBUST_DOC);
    cls.def_readonly("angle", &LineFit::angle)
        .def_readonly("distance", &LineFit::distance)
        .def_property_readonly("direction", [](const LineFit& r) { return vector2(r.cosine, r.sine); })
        .def_property_readonly("normal", [](const LineFit& r) { return vector2(-r.sine, r.cosine); })
        .def_readonly("rms_error", &LineFit::rmsError)
        .def_readonly("is_valid", &LineFit::isValid)
        .def_property_readonly("ignored", [](const LineFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);
    defineRobust(cls);

    m.def("fit_line", &fitLine, py::arg("points"), py::kw_only(), py::arg("ignore") = 0, py::arg("min_zone") = false,
          py::arg("max_rms") = HUGE_VAL, py::arg("timeout") = py::none(), ZPY_ROBUST_ARGS,
          "Fits a straight line to points, an (n, 2) array-like.\n\n"
          "ignore    how many points to discard as outliers (the worst fitting ones)\n"
          "min_zone  False: least squares (the line minimising the squared\n"
          "          perpendicular distances); True: the centre line of the\n"
          "          narrowest strip holding all but `ignore` points\n"
          "max_rms   is_valid is True only when rms_error < max_rms\n"
          "timeout   seconds after which an outlier search stops with Cancelled\n"
          "          (the plain least-squares fit does not search)\n" ZPY_ROBUST_HELP "\n"
          "Returns a LineFit. Raises DegenerateError for fewer than two distinct\n"
          "points or points without a preferred direction, ParameterError for\n"
          "negative ignore or max_rms, ValueError for input of the wrong shape.");
}

}  // namespace zpy
