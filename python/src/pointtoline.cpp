// zfit.fit_point_to_line and its result, PointToLineFit.
#include <cmath>

#include "fields.hpp"
#include "keywords.hpp"
#include "many.hpp"
#include "transform.hpp"

namespace zpy {

namespace {

struct PointToLineTag {
    static constexpr const char* name = "PointToLineFit";
    static constexpr bool robust = false;
    static constexpr const char* rmsDoc = "RMS distance of the mapped points from their lines\n"
                                          "(weighted when weights were given)";
    static constexpr const char* uncertaintyDoc = "the transform onto lines has none";
};
using PointToLineFit = TransformFit<PointToLineTag>;

// The (angle, distance) rows of `lines` as the library's lines.
class Lines {
public:
    Lines(py::handle object, int32_t expected)
    {
        const Points rows(object, "lines");
        rows.checkRange(limit::squares);
        if (rows.size() != expected)
            raiseValue("lines: expected " + std::to_string(expected) + " lines, one per point, got " +
                       std::to_string(rows.size()));
        lines_.resize(static_cast<size_t>(expected));
        for (int32_t i = 0; i < expected; ++i)
            check(zmath_shapeFLine_initAngleDistance(&lines_[static_cast<size_t>(i)], &rows.data()[i].x,
                                                     rows.data()[i].y));
        view_.begin = expected ? lines_.data() : nullptr;
        view_.size = expected;
        view_.capacity = expected;
    }
    // A move keeps the view valid (the storage moves along); a copy would not.
    Lines(Lines&&) = default;
    Lines(const Lines&) = delete;
    Lines& operator=(const Lines&) = delete;

    const zstd_vector_zmath_shapeFLine* vector() const { return &view_; }

private:
    std::vector<zmath_shapeFLine> lines_;
    zstd_vector_zmath_shapeFLine view_{};
};

// fit_point_to_line's options as the library's parameter record.
struct PointToLineOptions {
    zmath_pointToLineFitParams params{};

    explicit PointToLineOptions(double maxRms)
    {
        check(zmath_pointToLineFitParams_init(&params));
        params.maxRmsError = maxRms;
    }
};

// One fit's points and lines, and their weights for the weighted fit.
struct PointToLineInput {
    Points points;
    Lines lines;
    std::optional<Weights> weights;

    PointToLineInput(py::handle pointsArg, py::handle linesArg, py::handle weightsArg)
        : points(pointsArg, "points"), lines(linesArg, points.size())
    {
        if (!weightsArg.is_none()) weights.emplace(weightsArg, "weights", points.size(), "pair");
    }
};

struct PointToLine {
    static constexpr const char* name = "point_to_line";
    static constexpr bool weighted = true;
    using Options = PointToLineOptions;
    using Input = PointToLineInput;
    using Record = zfit::PointToLineResult;
    using Result = PointToLineFit;

    static const Signature& signature()
    {
        static const Signature s("fit_point_to_line", {"points", "lines"},
                                 {{"weights", "None", "None, or one weight per pair"},
                                  {"max_rms", "inf", "is_valid is True only when rms_error < max_rms"}});
        return s;
    }
    static py::object item(const py::tuple& items) { return items; }
    static Options readOptions(Keywords& k) { return Options(k.take<double>("max_rms")); }
    static Input input(py::handle item, py::handle weights, const Options&)
    {
        const auto [points, lines] = pairOf(item, "(points, lines)");
        Input in(points, lines, weights);
        in.points.checkRange(limit::squares);
        return in;
    }
    static zfit_status fit(const Options& o, const Input& in, zmath_pointToLineFitResult* result)
    {
        if (in.weights)
            return zmath_pointToLineFitWeightedVector(&o.params, in.points.vector(), in.lines.vector(),
                                                      in.weights->vector(), result);
        return zmath_pointToLineFitVector(&o.params, in.points.vector(), in.lines.vector(), result);
    }
};

}  // namespace

void registerPointToLine(py::module_& m)
{
    addBatchFamily<PointToLine>();
    addResultTable<PointToLineFit>("The fitted affine transform p -> matrix @ p + translation that moves\n"
                                   "the points onto their lines; apply(points) maps points.");
    defineFit<PointToLine>(m, "Fits the six-parameter affine transform that moves points[i] onto\n"
                              "line i in the least-squares sense. points: (n, 2) array-like; lines:\n"
                              "(n, 2) array-like of (angle, distance), the line\n"
                              "-x*sin(angle) + y*cos(angle) = distance.\n\n"
                              "Returns a PointToLineFit. Raises DegenerateError (or FitError with the\n"
                              "solver's status) when the lines do not pin down all six parameters,\n"
                              "ParameterError for negative max_rms and for coordinates or distances\n"
                              "that are not finite or beyond 1e145 in magnitude, ValueError for\n"
                              "inputs of the wrong shape or length.");
}

}  // namespace zpy
