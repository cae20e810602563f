// The result of the transform fits (point-to-point, point-to-line): an
// affine transform p -> matrix @ p + translation with its RMS error.
#pragma once

#include "binding.hpp"
#include "robust.hpp"
#include "uncertainty.hpp"

namespace zpy {

// A transform fit's result record (R, a zfit::Result) and the uncertainty
// the companion library reported for it, when it has one; or the robust
// fit (point to point only).
template <class R>
struct UncertainTransformRecords {
    R fit;
    bool hasUncertainty = false;
    zmet_uncertainty uncertainty{};
    bool isRobust = false;
    RobustTransformRecord robust;

    zfit_status status() const { return ZFIT_FAILED(fit.status()) ? fit.status() : robust.status(); }
};

template <class Tag>
struct TransformFit {
    static constexpr const char* name = Tag::name;
    using State = std::tuple<double, double, double, double, double, double, double, bool, Uncertainty::State,
                             std::vector<int32_t>, Robust::State>;

    zmath_xformLinear xform{};
    double rmsError = 0.0;
    bool isValid = false;
    Uncertainty uncertainty;       // set by the fits that report one
    std::vector<int32_t> ignored;  // the outliers of a robust fit
    Robust robust;

    template <class R>
    explicit TransformFit(const R& r) : xform(r.xform), rmsError(r.rmsError), isValid(r.isValid != 0)
    {}
    // The parameters of the uncertainty: with 4 of them tx, ty, a, b of the
    // matrix (a, -b; b, a), with 6 tx, ty, m00, m01, m10, m11.
    template <class R>
    explicit TransformFit(const UncertainTransformRecords<R>& r)
        : TransformFit(r.isRobust ? TransformFit(*r.robust) : TransformFit(*r.fit))
    {
        if (r.isRobust) {
            ignored = Robust::outliers((*r.robust).robust);
            robust = Robust((*r.robust).robust);
            setUncertainty((*r.robust).robust.uncertainty);
        } else if (r.hasUncertainty) {
            setUncertainty(r.uncertainty);
        }
    }
    void setUncertainty(const zmet_uncertainty& u)
    {
        if (u.parameterCount == 0) return;
        const auto& t = xform.translation;
        const auto& m = xform.matrix;
        uncertainty = Uncertainty(u, u.parameterCount == 4 ? std::vector<double>{t.x, t.y, m.m00, m.m10}
                                                           : std::vector<double>{t.x, t.y, m.m00, m.m01, m.m10, m.m11});
    }
    explicit TransformFit(const State& s)
    {
        auto& t = xform.translation;
        auto& m = xform.matrix;
        Uncertainty::State u;
        Robust::State rb;
        std::tie(t.x, t.y, m.m00, m.m01, m.m10, m.m11, rmsError, isValid, u, ignored, rb) = s;
        uncertainty = Uncertainty(u);
        robust = Robust(rb);
    }
    State state() const
    {
        const auto& t = xform.translation;
        const auto& m = xform.matrix;
        return {t.x, t.y, m.m00, m.m01, m.m10, m.m11, rmsError, isValid, uncertainty.state(), ignored, robust.state()};
    }

    py::array_t<double> matrix() const
    {
        const auto& m = xform.matrix;
        return matrix2(m.m00, m.m01, m.m10, m.m11);
    }
    py::array_t<double> translation() const { return vector2(xform.translation.x, xform.translation.y); }

    // The transform applied to (n, 2) points by the library's own mapping.
    py::array_t<double> apply(const py::object& points) const
    {
        const Points pts(points, "points");
        py::array_t<double> out({static_cast<py::ssize_t>(pts.size()), py::ssize_t{2}});
        auto* mapped = reinterpret_cast<zmath_vect*>(out.mutable_data());
        for (int32_t i = 0; i < pts.size(); ++i) check(zmath_xformLinear_mapPoint(&xform, pts.data() + i, mapped + i));
        return out;
    }

    py::dict toDict() const
    {
        py::dict d;
        d["matrix"] = matrix();
        d["translation"] = translation();
        d["rms_error"] = rmsError;
        d["is_valid"] = isValid;
        uncertainty.addTo(d);
        robust.addTo(d);
        return d;
    }

    static py::class_<TransformFit> define(py::module_& m, const char* doc)
    {
        auto cls = defineResult<TransformFit>(m, doc);
        cls.def_property_readonly("matrix", &TransformFit::matrix)
            .def_property_readonly("translation", &TransformFit::translation)
            .def_readonly("rms_error", &TransformFit::rmsError)
            .def_readonly("is_valid", &TransformFit::isValid)
            .def("apply", &TransformFit::apply, py::arg("points"),
                 "The transform applied to points, an (n, 2) array-like: an (n, 2)\n"
                 "array of matrix @ p + translation.");
        defineUncertainty(cls);
        return cls;
    }
};

}  // namespace zpy
