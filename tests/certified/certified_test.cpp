// Every fit against certified references: data sets whose exact answers
// are known to 50 digits (certified_data.inc, written by make_certified.py
// beside it). A fit is scored by the log relative error (LRE) of each value
// it returns, the number of its correct digits, and must keep all but 1.5
// of the digits the data themselves determine: min(15, bound) - 1.5, the
// bound being what survives a one-ulp change of every number of the data.
//
// ZFIT_CERTIFIED_REPORT=1 prints every fit's worst LRE and the target.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "support.hpp"

namespace {

enum class Fit {
    line,
    circle,
    weightedCircle,
    ellipse,
    parabola,
    weightedParabola,
    p2p3,
    p2p4,
    p2p5,
    p2p6,
    weightedP2p6,
    p2l,
    weightedP2l,
    geometricCircle,
    geometricEllipse,
};

struct CertifiedValue {
    const char* name;
    const char* reference;  // 50 digits
    double bound;           // the digits a one-ulp change of the data leaves
};

struct CertifiedFit {
    Fit fit;
    int count;
    CertifiedValue value[6];
};

// Point i is (points[2i], points[2i + 1]); sources pair with the points as
// the targets of a point-to-point fit, lines[2i], lines[2i + 1] are the
// angle and distance of point i's line.
struct CertifiedSet {
    const char* name;
    int count;
    const double* points;
    const double* weights;
    const double* sources;
    const double* lines;
    CertifiedFit fit[5];
};

#include "certified_data.inc"

std::vector<zmath_vect> pairsOf(const double* xy, int n)
{
    std::vector<zmath_vect> out;
    for (int i = 0; i < n; ++i) out.push_back({xy[2 * i], xy[2 * i + 1]});
    return out;
}

struct Fitted {
    zfit_status status = zfit_ok;
    std::vector<double> values;
};

// A transform fit's status and its matrix and translation, read after the
// fit has run (the status is the fit's call).
Fitted transformFitted(zfit_status status, const zmath_xformLinear& t)
{
    const zmath_matrix& m = t.matrix;
    return {status, {m.m00, m.m01, m.m10, m.m11, t.translation.x, t.translation.y}};
}

std::vector<double> ellipseValues(const zmath_shapeEllipse& e)
{
    return {e.center.x, e.center.y, e.radius1, e.radius2, e.angle};
}

// The converged parabola (the binding's and the command's default):
// libzfit's axis search, refined to rounding.
Fitted fitParabola(const CertifiedSet& set, bool weighted)
{
    const std::vector<zmath_vect> p = pairsOf(set.points, set.count);
    zmet_parabolaParams params;
    zmet_parabolaParams_init(&params);
    zmet_parabolaResult r{};
    Fitted out;
    out.status = weighted ? zmet_parabolaFitWeighted(p.data(), set.count, set.weights, &params, &r)
                          : zmet_parabolaFit(p.data(), set.count, &params, &r);
    EXPECT_EQ(r.converged, 1) << "converged";
    const zmath_xformRigid& pose = r.parabola.pose;
    out.values = {pose.translation.x, pose.translation.y, pose.angle, r.parabola.coefficient};
    return out;
}

Fitted fitPointToPoint(const CertifiedSet& set, int32_t dof, bool weighted)
{
    const std::vector<zmath_vect> target = pairsOf(set.points, set.count), source = pairsOf(set.sources, set.count);
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    params.dof = dof;
    zfit::PointToPointResult r;
    return transformFitted(
        weighted ? zmath_pointToPointFitWeighted(&params, target.data(), source.data(), set.weights, set.count, r.get())
                 : zmath_pointToPointFit(&params, target.data(), source.data(), set.count, r.get()),
        r->xform);
}

Fitted fitPointToLine(const CertifiedSet& set, bool weighted)
{
    const std::vector<zmath_vect> points = pairsOf(set.points, set.count);
    std::vector<zmath_shapeFLine> lines;
    for (int i = 0; i < set.count; ++i) lines.push_back(zt::lineAt(set.lines[2 * i], set.lines[2 * i + 1]));
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    zfit::PointToLineResult r;
    return transformFitted(
        weighted ? zmath_pointToLineFitWeighted(&params, points.data(), lines.data(), set.weights, set.count, r.get())
                 : zmath_pointToLineFit(&params, points.data(), lines.data(), set.count, r.get()),
        r->xform);
}

Fitted run(Fit fit, const CertifiedSet& set)
{
    const std::vector<zmath_vect> p = pairsOf(set.points, set.count);
    Fitted out;
    switch (fit) {
    case Fit::line: {
        zmath_lineFitParams params;
        zmath_lineFitParams_init(&params);
        zfit::LineResult r;
        out.status = zmath_lineFit(p.data(), set.count, &params, r.get());
        out.values = {r->line.angle, r->line.d};
        return out;
    }
    case Fit::circle:
    case Fit::weightedCircle: {
        zmath_circleFitParams params;
        zmath_circleFitParams_init(&params);
        zfit::CircleResult r;
        out.status = fit == Fit::circle ? zmath_circleFit(p.data(), set.count, &params, r.get())
                                        : zmath_circleFitWeighted(p.data(), set.count, set.weights, &params, r.get());
        out.values = {r->centre.x, r->centre.y, r->radius};
        return out;
    }
    case Fit::ellipse: {
        zmath_ellipseFitParams params;
        zmath_ellipseFitParams_init(&params);
        zfit::EllipseResult r;
        out.status = zmath_ellipseFit(p.data(), set.count, &params, r.get());
        out.values = ellipseValues(r->ellipse);
        return out;
    }
    case Fit::parabola: return fitParabola(set, false);
    case Fit::weightedParabola: return fitParabola(set, true);
    case Fit::p2p3: return fitPointToPoint(set, 3, false);
    case Fit::p2p4: return fitPointToPoint(set, 4, false);
    case Fit::p2p5: return fitPointToPoint(set, 5, false);
    case Fit::p2p6: return fitPointToPoint(set, 6, false);
    case Fit::weightedP2p6: return fitPointToPoint(set, 6, true);
    case Fit::p2l: return fitPointToLine(set, false);
    case Fit::weightedP2l: return fitPointToLine(set, true);
    case Fit::geometricCircle: {
        zmet_geometricCircleParams params;
        zmet_geometricCircleParams_init(&params);
        zmet_geometricCircleResult r{};
        out.status = zmet_geometricCircleFit(p.data(), set.count, &params, &r);
        out.values = {r.centre.x, r.centre.y, r.radius};
        return out;
    }
    case Fit::geometricEllipse: {
        zmet_geometricEllipseParams params;
        zmet_geometricEllipseParams_init(&params);
        zmet_geometricEllipseResult r{};
        out.status = zmet_geometricEllipseFit(p.data(), set.count, &params, &r);
        out.values = ellipseValues(r.ellipse);
        return out;
    }
    }
    return out;
}

// The number of correct digits of `value` (at most 16). An angle is
// compared by its turn: a difference of a whole period is none.
double lre(double value, const char* reference, bool angle)
{
    const long double ref = std::strtold(reference, nullptr);
    long double error = static_cast<long double>(value) - ref;
    if (angle) error = std::remainder(error, 2.0L * std::numbers::pi_v<long double>);
    if (error == 0.0L) return 16.0;
    return std::min(16.0, static_cast<double>(-std::log10(std::fabs(error) / std::fabs(ref))));
}

// Ellipse angles repeat after a half turn, the others after a full one.
bool isAngle(const CertifiedValue& v) { return std::string(v.name).find("angle") != std::string::npos; }

double lreOf(Fit fit, double value, const CertifiedValue& v)
{
    if (!isAngle(v)) return lre(value, v.reference, false);
    if (fit == Fit::ellipse || fit == Fit::geometricEllipse) {
        const double turned = lre(value + std::numbers::pi, v.reference, true);
        return std::max(lre(value, v.reference, true), turned);
    }
    return lre(value, v.reference, true);
}

double target(const CertifiedValue& v) { return std::min(15.0, v.bound) - 1.5; }

class Certified : public ::testing::TestWithParam<std::pair<Fit, const char*>> {};

TEST_P(Certified, KeepsTheDigitsTheDataDetermine)
{
    const bool report = std::getenv("ZFIT_CERTIFIED_REPORT") != nullptr;
    int fitted = 0;
    for (const CertifiedSet& set : kCertifiedSets)
        for (const CertifiedFit& certified : set.fit) {
            if (certified.count == 0 || certified.fit != GetParam().first) continue;
            ++fitted;
            SCOPED_TRACE(set.name);
            const Fitted f = run(certified.fit, set);
            ASSERT_EQ(f.status, zfit_ok) << zfit::statusName(f.status);
            double worst = 16.0, worstTarget = 0.0, margin = HUGE_VAL;
            for (int k = 0; k < certified.count; ++k) {
                const CertifiedValue& v = certified.value[k];
                const double digits = lreOf(certified.fit, f.values[static_cast<size_t>(k)], v);
                EXPECT_GE(digits, target(v)) << v.name << ": " << digits << " digits, the data's bound " << v.bound;
                if (digits - target(v) < margin) {
                    margin = digits - target(v);
                    worst = digits;
                    worstTarget = target(v);
                }
            }
            if (report) std::printf("  %-28s LRE %5.1f  target %5.1f\n", set.name, worst, worstTarget);
        }
    EXPECT_GT(fitted, 0) << "a certified data set for this fit";
}

// Every fit, named for its test.
const std::pair<Fit, const char*> kFits[] = {{Fit::line, "Line"},
                                             {Fit::circle, "Circle"},
                                             {Fit::weightedCircle, "WeightedCircle"},
                                             {Fit::ellipse, "Ellipse"},
                                             {Fit::parabola, "Parabola"},
                                             {Fit::weightedParabola, "WeightedParabola"},
                                             {Fit::p2p3, "PointToPoint3"},
                                             {Fit::p2p4, "PointToPoint4"},
                                             {Fit::p2p5, "PointToPoint5"},
                                             {Fit::p2p6, "PointToPoint6"},
                                             {Fit::weightedP2p6, "WeightedPointToPoint6"},
                                             {Fit::p2l, "PointToLine"},
                                             {Fit::weightedP2l, "WeightedPointToLine"},
                                             {Fit::geometricCircle, "GeometricCircle"},
                                             {Fit::geometricEllipse, "GeometricEllipse"}};

INSTANTIATE_TEST_SUITE_P(EveryFit, Certified, ::testing::ValuesIn(kFits),
                         [](const auto& info) { return std::string(info.param.second); });

}  // namespace
