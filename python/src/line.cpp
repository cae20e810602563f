// zfit.fit_line and its result, LineFit.
#include <cmath>

#include "many.hpp"
#include "uncertainty.hpp"

namespace zpy {

namespace {

// What one line fit leaves: the fitted line and, for a least-squares line
// with enough kept points to estimate the noise, its uncertainty.
struct LineRecords {
    zfit::LineResult line;
    bool hasUncertainty = false;
    zmet_uncertainty uncertainty{};

    zfit_status status() const { return line.status(); }
};

struct LineFit {
    static constexpr const char* name = "LineFit";
    using State = std::tuple<double, double, double, double, double, bool, std::vector<int32_t>, Uncertainty::State>;

    double angle = 0.0, distance = 0.0, cosine = 1.0, sine = 0.0, rmsError = 0.0;
    bool isValid = false;
    std::vector<int32_t> ignored;
    Uncertainty uncertainty;

    explicit LineFit(const LineRecords& records)
    {
        const zmath_lineFitResult& r = *records.line;
        rmsError = r.rmsError;
        isValid = r.isValid != 0;
        ignored = ignoredOf(r);
        check(zmath_shapeFLine_getAngle(&r.line, &angle));
        check(zmath_shapeFLine_getDistance(&r.line, &distance));
        check(zmath_shapeFLine_getCosine(&r.line, &cosine));
        check(zmath_shapeFLine_getSine(&r.line, &sine));
        if (records.hasUncertainty) uncertainty = Uncertainty(records.uncertainty, {angle, distance});
    }
    explicit LineFit(const State& s)
    {
        Uncertainty::State u;
        std::tie(angle, distance, cosine, sine, rmsError, isValid, ignored, u) = s;
        uncertainty = Uncertainty(u);
    }
    State state() const { return {angle, distance, cosine, sine, rmsError, isValid, ignored, uncertainty.state()}; }

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
        return d;
    }
};

// fit_line's options as the library's parameter record.
struct LineOptions {
    zmath_lineFitParams params{};

    LineOptions(int64_t ignore, bool minZone, double maxRms)
    {
        check(zmath_lineFitParams_init(&params));
        params.numIgnore = toInt32(ignore, "ignore");
        params.maxRmsError = maxRms;
        params.mode = minZone ? 1 : 0;
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
        return Options(k.take<int64_t>("ignore", 0), k.take("min_zone", false), k.take("max_rms", HUGE_VAL));
    }
    static Input input(py::handle item, py::handle, const Options&) { return Points(item, "points"); }
    static zfit_status fit(const Options& o, const Input& points, LineRecords* r)
    {
        const zfit_status status = zmath_lineFitVector(points.vector(), &o.params, r->line.get());
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

LineFit fitLine(const py::object& points, int64_t ignore, bool minZone, double maxRms, std::optional<double> timeout)
{
    const Points pts(points, "points");
    return fitOne<Line>(LineOptions(ignore, minZone, maxRms), pts, timeout);
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
                                 "           angle, distance");
    cls.def_readonly("angle", &LineFit::angle)
        .def_readonly("distance", &LineFit::distance)
        .def_property_readonly("direction", [](const LineFit& r) { return vector2(r.cosine, r.sine); })
        .def_property_readonly("normal", [](const LineFit& r) { return vector2(-r.sine, r.cosine); })
        .def_readonly("rms_error", &LineFit::rmsError)
        .def_readonly("is_valid", &LineFit::isValid)
        .def_property_readonly("ignored", [](const LineFit& r) { return indexArray(r.ignored); });
    defineUncertainty(cls);

    m.def("fit_line", &fitLine, py::arg("points"), py::kw_only(), py::arg("ignore") = 0, py::arg("min_zone") = false,
          py::arg("max_rms") = HUGE_VAL, py::arg("timeout") = py::none(),
          "Fits a straight line to points, an (n, 2) array-like.\n\n"
          "ignore    how many points to discard as outliers (the worst fitting ones)\n"
          "min_zone  False: least squares (the line minimising the squared\n"
          "          perpendicular distances); True: the centre line of the\n"
          "          narrowest strip holding all but `ignore` points\n"
          "max_rms   is_valid is True only when rms_error < max_rms\n"
          "timeout   seconds after which an outlier search stops with Cancelled\n"
          "          (the plain least-squares fit does not search)\n\n"
          "Returns a LineFit. Raises DegenerateError for fewer than two distinct\n"
          "points or points without a preferred direction, ParameterError for\n"
          "negative ignore or max_rms, ValueError for input of the wrong shape.");
}

}  // namespace zpy
