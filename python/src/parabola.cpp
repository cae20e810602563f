// zfit.fit_parabola and its result, ParabolaFit: by default the parabola
// with its axis converged to rounding (the companion library's
// zmet_parabolaFit), else libzfit's search with the passes given.
#include <zfit/metrology/metrology.h>

#include "many.hpp"

namespace zpy {

namespace {

// The parabola record, offered as a zfit::Result is (it needs no life cycle).
struct ParabolaRecords {
    zmet_parabolaResult result{};
    zfit_status status() const { return zfit_ok; }
};

struct ParabolaFit {
    static constexpr const char* name = "ParabolaFit";
    using State = std::tuple<double, double, double, double, double, double, double, bool, bool>;

    double angle = 0.0, cosine = 1.0, sine = 0.0, tx = 0.0, ty = 0.0, coefficient = 0.0, rmsError = 0.0;
    bool isValid = false, converged = false;

    explicit ParabolaFit(const ParabolaRecords& records) : ParabolaFit(records.result) {}
    explicit ParabolaFit(const zmet_parabolaResult& r)
        : cosine(r.parabola.pose.cosine), sine(r.parabola.pose.sine), tx(r.parabola.pose.translation.x),
          ty(r.parabola.pose.translation.y), coefficient(r.parabola.coefficient), rmsError(r.rmsError),
          isValid(r.isValid != 0), converged(r.converged != 0)
    {
        check(zmath_xformRigid_getAngle(&r.parabola.pose, &angle));
    }
    explicit ParabolaFit(const State& s)
    {
        std::tie(angle, cosine, sine, tx, ty, coefficient, rmsError, isValid, converged) = s;
    }
    State state() const { return {angle, cosine, sine, tx, ty, coefficient, rmsError, isValid, converged}; }

    py::array_t<double> pose() const
    {
        py::array_t<double> a({3, 3});
        auto v = a.mutable_unchecked<2>();
        const double rows[3][3] = {{cosine, -sine, tx}, {sine, cosine, ty}, {0.0, 0.0, 1.0}};
        for (py::ssize_t i = 0; i < 3; ++i)
            for (py::ssize_t j = 0; j < 3; ++j) v(i, j) = rows[i][j];
        return a;
    }

    py::dict toDict() const
    {
        py::dict d;
        d["pose"] = pose();
        d["angle"] = angle;
        d["vertex"] = vector2(tx, ty);
        d["coefficient"] = coefficient;
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        d["converged"] = converged;
        return d;
    }
};

// fit_parabola's options as the companion library's parameter record: no
// max_iterations converges the axis (its default search, then refined to
// rounding); a number of passes gives libzfit's search as it stands, and
// `converged` tells whether it is.
struct ParabolaOptions {
    zmet_parabolaParams params{};

    explicit ParabolaOptions(std::optional<int64_t> maxIterations)
    {
        check(zmet_parabolaParams_init(&params));
        if (!maxIterations) return;
        params.maxIterations = toInt32(*maxIterations, "max_iterations");
        params.maxRefinements = 0;
    }
};

// One parabola's points, and its weights for the weighted fit.
struct ParabolaInput {
    Points points;
    std::optional<Weights> weights;

    ParabolaInput(py::handle pointsArg, py::handle weightsArg) : points(pointsArg, "points")
    {
        if (!weightsArg.is_none()) weights.emplace(weightsArg, "weights", points.size(), "point");
    }
};

struct Parabola {
    static constexpr const char* name = "parabola";
    static constexpr bool weighted = true;
    using Options = ParabolaOptions;
    using Input = ParabolaInput;
    using Record = Records<ParabolaRecords>;
    using Result = ParabolaFit;

    static Options readOptions(Keywords& k)
    {
        return Options(k.take<std::optional<int64_t>>("max_iterations", std::nullopt));
    }
    static Input input(py::handle item, py::handle weights, const Options&) { return Input(item, weights); }
    static zfit_status fit(const Options& o, const Input& in, ParabolaRecords* r)
    {
        if (in.weights)
            return zmet_parabolaFitWeighted(in.points.data(), in.points.size(), in.weights->data(), &o.params,
                                            &r->result);
        return zmet_parabolaFit(in.points.data(), in.points.size(), &o.params, &r->result);
    }
};

ParabolaFit fitParabola(const py::object& points, const py::object& weights, std::optional<int64_t> maxIterations)
{
    const ParabolaInput input(points, weights);
    return fitOne<Parabola>(ParabolaOptions(maxIterations), input);
}

}  // namespace

void registerParabola(py::module_& m)
{
    addBatchFamily<Parabola>();
    defineResult<ParabolaFit>(m, "A fitted parabola in any orientation: in its own frame the curve is\n"
                                 "y = coefficient * x**2 with the vertex at the origin, and `pose` places\n"
                                 "that frame in the plane of the points.\n\n"
                                 "pose         3x3 homogeneous matrix of the rigid pose (rotation by\n"
                                 "             `angle`, then translation to `vertex`)\n"
                                 "angle        the pose's rotation, radians\n"
                                 "vertex       the vertex (x, y) in the plane\n"
                                 "coefficient  a of y = a*x**2 in the parabola's frame\n"
                                 "rms_error    RMS residual (weighted in the weighted fit)\n"
                                 "is_valid     True after a successful fit\n"
                                 "converged    True when the axis angle is converged to rounding (a\n"
                                 "             further step would not move it, or could not lower\n"
                                 "             the sum of squares)")
        .def_property_readonly("pose", &ParabolaFit::pose)
        .def_readonly("angle", &ParabolaFit::angle)
        .def_property_readonly("vertex", [](const ParabolaFit& r) { return vector2(r.tx, r.ty); })
        .def_readonly("coefficient", &ParabolaFit::coefficient)
        .def_readonly("rms_error", &ParabolaFit::rmsError)
        .def_readonly("is_valid", &ParabolaFit::isValid)
        .def_readonly("converged", &ParabolaFit::converged);

    m.def("fit_parabola", &fitParabola, py::arg("points"), py::kw_only(), py::arg("weights") = py::none(),
          py::arg("max_iterations") = py::none(),
          "Fits a parabola in any orientation to points, an (n, 2) array-like.\n\n"
          "weights         None, or one weight >= 0 per point\n"
          "max_iterations  None (the default): the axis converged to rounding, the\n"
          "                library's search over its direction followed by\n"
          "                Gauss-Newton steps on the angle; or the passes (>= 1)\n"
          "                of that search from each of its two starting\n"
          "                directions, as the C library runs it (with 1 the axis\n"
          "                stays at a starting direction; the search stops at a\n"
          "                step of 1e-7 rad), and `converged` tells whether the\n"
          "                result is converged anyway\n\n"
          "Returns a ParabolaFit. Raises DegenerateError for fewer than two points\n"
          "or points without a preferred direction, and for equations the solve\n"
          "judges singular (all points on one line); ParameterError for\n"
          "max_iterations < 1 or negative weights; ValueError for input of the\n"
          "wrong shape or length.");
}

}  // namespace zpy
