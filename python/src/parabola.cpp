// zfit.fit_parabola and its result, ParabolaFit.
#include "many.hpp"

namespace zpy {

namespace {

struct ParabolaFit {
    static constexpr const char* name = "ParabolaFit";
    using State = std::tuple<double, double, double, double, double, double, double, bool>;

    double angle = 0.0, cosine = 1.0, sine = 0.0, tx = 0.0, ty = 0.0, coefficient = 0.0, rmsError = 0.0;
    bool isValid = false;

    explicit ParabolaFit(const zmath_parabolaFitResult& r)
        : cosine(r.parabola.pose.cosine), sine(r.parabola.pose.sine), tx(r.parabola.pose.translation.x),
          ty(r.parabola.pose.translation.y), coefficient(r.parabola.coefficient), rmsError(r.rmsError),
          isValid(r.isValid != 0)
    {
        check(zmath_xformRigid_getAngle(&r.parabola.pose, &angle));
    }
    explicit ParabolaFit(const State& s) { std::tie(angle, cosine, sine, tx, ty, coefficient, rmsError, isValid) = s; }
    State state() const { return {angle, cosine, sine, tx, ty, coefficient, rmsError, isValid}; }

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
        return d;
    }
};

// fit_parabola's options as the library's parameter record.
struct ParabolaOptions {
    zmath_parabolaFitParams params{};

    explicit ParabolaOptions(int64_t maxIterations)
    {
        check(zmath_parabolaFitParams_init(&params));
        params.maxIterations = toInt32(maxIterations, "max_iterations");
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
    using Record = zfit::ParabolaResult;
    using Result = ParabolaFit;

    static Options readOptions(Keywords& k)
    {
        zmath_parabolaFitParams defaults;
        zmath_parabolaFitParams_init(&defaults);
        return Options(k.take<int64_t>("max_iterations", defaults.maxIterations));
    }
    static Input input(py::handle item, py::handle weights, const Options&) { return Input(item, weights); }
    static zfit_status fit(const Options& o, const Input& in, zmath_parabolaFitResult* result)
    {
        if (in.weights)
            return zmath_parabolaFitWeightedVector(in.points.vector(), in.weights->vector(), &o.params, result);
        return zmath_parabolaFitVector(in.points.vector(), &o.params, result);
    }
};

ParabolaFit fitParabola(const py::object& points, const py::object& weights, int64_t maxIterations)
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
                                 "is_valid     True after a successful fit")
        .def_property_readonly("pose", &ParabolaFit::pose)
        .def_readonly("angle", &ParabolaFit::angle)
        .def_property_readonly("vertex", [](const ParabolaFit& r) { return vector2(r.tx, r.ty); })
        .def_readonly("coefficient", &ParabolaFit::coefficient)
        .def_readonly("rms_error", &ParabolaFit::rmsError)
        .def_readonly("is_valid", &ParabolaFit::isValid);

    zmath_parabolaFitParams defaults;
    zmath_parabolaFitParams_init(&defaults);
    m.def("fit_parabola", &fitParabola, py::arg("points"), py::kw_only(), py::arg("weights") = py::none(),
          py::arg("max_iterations") = defaults.maxIterations,
          "Fits a parabola in any orientation to points, an (n, 2) array-like.\n\n"
          "weights         None, or one weight >= 0 per point\n"
          "max_iterations  passes of the search over the axis direction from each\n"
          "                of its two starting directions (>= 1); with 1 the axis\n"
          "                stays at a starting direction, more passes refine it\n\n"
          "Returns a ParabolaFit. Raises DegenerateError for fewer than two points\n"
          "or points without a preferred direction, and for equations the solve\n"
          "judges singular (all points on one line); ParameterError for\n"
          "max_iterations < 1 or negative weights; ValueError for input of the\n"
          "wrong shape or length.");
}

}  // namespace zpy
