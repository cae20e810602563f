// zfit.fit_line and its result, LineFit.
#include <cmath>

#include "fields.hpp"
#include "keywords.hpp"
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
    bool isRobust = false;  // the robust fit is the answer
    OnDemand<zmet_robustLineResult> robust;

    zfit_status status() const { return line.status(); }
};

// The line, its error and validity, and what the fit added (discarded
// points, uncertainty, robust weights).
struct LineFit {
    static constexpr const char* name = "LineFit";

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
            uncertainty = Uncertainty(r.robust.uncertainty, {angle, distance});
            robust = Robust(r.robust);
            return;
        }
        const zmath_lineFitResult& r = *records.line;
        setLine(r.line, r.rmsError, r.isValid);
        ignored = ignoredOf(r);
        if (records.hasUncertainty) uncertainty = Uncertainty(records.uncertainty, {angle, distance});
    }

    // The getters of a line the fit filled cannot fail.
    void setLine(const zmath_shapeFLine& line, double rms, int32_t valid)
    {
        rmsError = rms;
        isValid = valid != 0;
        (void)zmath_shapeFLine_getAngle(&line, &angle);
        (void)zmath_shapeFLine_getDistance(&line, &distance);
        (void)zmath_shapeFLine_getCosine(&line, &cosine);
        (void)zmath_shapeFLine_getSine(&line, &sine);
    }

    static const Fields<LineFit>& fields()
    {
        static const Fields<LineFit> table = [] {
            Fields<LineFit> f = {
                {"angle", Element::real, scalar(), "radians; distance >= 0 after a least-squares fit",
                 [](const LineFit& r, auto& s) { s.real(r.angle); }},
                {"distance", Element::real, scalar(), "the line's distance from the origin",
                 [](const LineFit& r, auto& s) { s.real(r.distance); }},
                {"direction", Element::real, vector(2), "(cos(angle), sin(angle))",
                 [](const LineFit& r, auto& s) {
                     s.reals(std::array{r.cosine, r.sine});
                 }},
                {"normal", Element::real, vector(2), "(-sin(angle), cos(angle))",
                 [](const LineFit& r, auto& s) {
                     s.reals(std::array{-r.sine, r.cosine});
                 }},
                rmsErrorField<LineFit>("least squares: RMS perpendicular distance of the kept points;\n"
                                       "minimum zone: the strip's half-width"),
                isValidField<LineFit>(),
                ignoredField<LineFit>("indices of the discarded points"),
            };
            addUncertaintyFields(f,
                                 "of a least-squares line with at least three\n"
                                 "kept points: angle, distance",
                                 2);
            addRobustFields(f);
            return f;
        }();
        return table;
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

    static const Signature& signature()
    {
        static const Signature s(
            "fit_line", {"points"},
            joined({{{"ignore", "0",
                      "how many points to discard as outliers (the worst fitting\nones)" ZPY_AUTO_IGNORE_HELP},
                     {"min_zone", "False",
                      "False: least squares (the line minimising the squared\n"
                      "perpendicular distances); True: the centre line of the\n"
                      "narrowest strip holding all but `ignore` points"},
                     {"max_rms", "inf", "is_valid is True only when rms_error < max_rms"},
                     {"timeout", "None",
                      "seconds after which an outlier search stops with Cancelled\n"
                      "(the plain least-squares fit does not search)"}},
                    robustKeywords()}));
        return s;
    }
    static py::object item(const py::tuple& items) { return items[0]; }
    static Options readOptions(Keywords& k)
    {
        const bool minZone = k.take<bool>("min_zone");
        const double maxRms = k.take<double>("max_rms");
        return Options(minZone, maxRms, readRobustOptions(k));
    }
    static Input input(py::handle item, py::handle, const Options&) { return Points(item, "points", limit::squares); }
    static zfit_status fit(const Options& o, const Input& points, LineRecords* r)
    {
        zmath_lineFitParams params = o.params;
        if (o.robust.robust || o.robust.autoIgnore) {
            if (const zfit_status made = r->robust.make(); ZFIT_FAILED(made)) return made;
            const zfit_status robust =
                zmet_robustLineFit(points.data(), points.size(), nullptr, &o.robust.params, r->robust.get());
            // Written for every item: fit_many reuses the records.
            r->isRobust = ZFIT_FAILED(robust) || o.robust.robust;
            if (r->isRobust) return robust;
            params.numIgnore = outlierCount((*r->robust).robust);
        }
        const zfit_status status = zmath_lineFitVector(points.vector(), &params, r->line.get());
        if (ZFIT_FAILED(status) || o.params.mode != 0) return status;
        // The least-squares line's uncertainty from the points it kept (all
        // of them, without a copy, when none was discarded); none when they
        // are too few to estimate the noise.
        std::vector<zmath_vect> kept;
        std::span<const zmath_vect> used(points.data(), static_cast<size_t>(points.size()));
        if (r->line->ignoredIndices.size > 0) {
            const zfit_status copied = keptPoints(points, r->line->ignoredIndices, kept);
            if (ZFIT_FAILED(copied)) return copied;
            used = kept;
        }
        r->hasUncertainty = !ZFIT_FAILED(
            zmet_lineFitUncertainty(used.data(), static_cast<int32_t>(used.size()), &r->line->line, &r->uncertainty));
        return status;
    }
};

}  // namespace

void registerLine(py::module_& m)
{
    addBatchFamily<Line>();
    addResultTable<LineFit>("A fitted line in normal form: its points (x, y) satisfy\n"
                            "-x*sin(angle) + y*cos(angle) = distance.");
    defineFit<Line>(m, "Fits a straight line to points, an (n, 2) array-like.\n\n"
                       "Returns a LineFit. Raises DegenerateError for fewer than two distinct\n"
                       "points or points without a preferred direction, ParameterError for\n"
                       "negative ignore or max_rms or for coordinates that are not finite or\n"
                       "beyond 1e145 in magnitude, ValueError for input of the wrong shape.");
}

}  // namespace zpy
