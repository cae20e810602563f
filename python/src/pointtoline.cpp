// zfit.fit_point_to_line and its result, PointToLineFit.
#include <cmath>

#include "transform.hpp"

namespace zpy {

namespace {

struct PointToLineTag {
    static constexpr const char* name = "PointToLineFit";
};
using PointToLineFit = TransformFit<PointToLineTag>;

using PointToLineResult =
    Record<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct>;

// The (angle, distance) rows of `lines` as the library's lines.
class Lines {
public:
    Lines(const py::object& object, int32_t expected)
    {
        const Points rows(object, "lines");
        if (rows.size() != expected)
            raiseValue("lines: expected " + std::to_string(expected) + " lines, one per point, got " +
                       std::to_string(rows.size()));
        lines_.resize(static_cast<size_t>(expected));
        for (int32_t i = 0; i < expected; ++i)
            check(zmath_shapeFLine_initAngleDistance(&lines_[static_cast<size_t>(i)], &rows.data()[i].x, rows.data()[i].y));
        view_.begin = expected ? lines_.data() : nullptr;
        view_.size = expected;
        view_.capacity = expected;
    }
    const zstd_vector_zmath_shapeFLine* vector() const { return &view_; }

private:
    std::vector<zmath_shapeFLine> lines_;
    zstd_vector_zmath_shapeFLine view_{};
};

PointToLineFit fitPointToLine(const py::object& points, const py::object& lines, const py::object& weights,
                              double maxRms)
{
    const Points pts(points, "points");
    const Lines targets(lines, pts.size());
    zmath_pointToLineFitParams params;
    check(zmath_pointToLineFitParams_init(&params));
    params.maxRmsError = maxRms;
    PointToLineResult result;
    FitScope scope;
    if (weights.is_none()) {
        scope.run([&] { return zmath_pointToLineFitVector(&params, pts.vector(), targets.vector(), result.get()); });
    } else {
        const Weights w(weights, "weights", pts.size(), "pair");
        scope.run([&] {
            return zmath_pointToLineFitWeightedVector(&params, pts.vector(), targets.vector(), w.vector(),
                                                      result.get());
        });
    }
    return PointToLineFit(*result);
}

}  // namespace

void registerPointToLine(py::module_& m)
{
    PointToLineFit::define(m,
                           "The fitted affine transform p -> matrix @ p + translation that moves\n"
                           "the points onto their lines.\n\n"
                           "matrix       2x2 array\n"
                           "translation  (tx, ty)\n"
                           "rms_error    RMS distance of the mapped points from their lines\n"
                           "             (weighted when weights were given)\n"
                           "is_valid     rms_error < max_rms\n"
                           "apply(pts)   the transform applied to an (n, 2) array-like");

    m.def("fit_point_to_line", &fitPointToLine, py::arg("points"), py::arg("lines"), py::kw_only(),
          py::arg("weights") = py::none(), py::arg("max_rms") = HUGE_VAL,
          "Fits the six-parameter affine transform that moves points[i] onto\n"
          "line i in the least-squares sense.\n\n"
          "points   (n, 2) array-like\n"
          "lines    (n, 2) array-like of (angle, distance): the line\n"
          "         -x*sin(angle) + y*cos(angle) = distance\n"
          "weights  None, or one weight per pair\n"
          "max_rms  is_valid is True only when rms_error < max_rms\n\n"
          "Returns a PointToLineFit. Raises DegenerateError (or FitError with the\n"
          "solver's status) when the lines do not pin down all six parameters,\n"
          "ParameterError for negative max_rms, ValueError for inputs of the\n"
          "wrong shape or length.");
}

}  // namespace zpy
