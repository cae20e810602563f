// The result of the transform fits (point-to-point, point-to-line): an
// affine transform p -> matrix @ p + translation with its RMS error.
#pragma once

#include "binding.hpp"
#include "fields.hpp"
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

// Tag gives the class name and whether the fit can be robust (the
// point-to-point fit: its outliers are the wrong pairs).
template <class Tag>
struct TransformFit {
    static constexpr const char* name = Tag::name;

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

    static const Fields<TransformFit>& fields()
    {
        static const Fields<TransformFit> table = [] {
            Fields<TransformFit> f = {
                {"matrix", Element::real, matrix(2, 2), "2x2 array",
                 [](const TransformFit& r, auto& s) {
                     const auto& m = r.xform.matrix;
                     s.reals(std::array{m.m00, m.m01, m.m10, m.m11});
                 }},
                {"translation", Element::real, vector(2), "(tx, ty)",
                 [](const TransformFit& r, auto& s) {
                     s.reals(std::array{r.xform.translation.x, r.xform.translation.y});
                 }},
                rmsErrorField<TransformFit>(Tag::rmsDoc),
                isValidField<TransformFit>(),
            };
            addUncertaintyFields(f, Tag::uncertaintyDoc);
            if constexpr (Tag::robust) {
                f.push_back(ignoredField<TransformFit>("robust fits: the indices of the wrong pairs, else empty"));
                addRobustFields(f);
            }
            return f;
        }();
        return table;
    }
};

// zfit._map_points: the transform of a result applied to points by the
// library's own mapping (the results' apply()).
void registerMapPoints(py::module_& m);

}  // namespace zpy
