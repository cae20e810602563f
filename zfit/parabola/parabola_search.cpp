// The parabola fit: centring, the two starting directions, the search over
// the axis angle, the fit at one angle and its normal equations.
//
// One chain of templates serves both fits. The unweighted fit runs it with
// UnitWeights, whose constant 1.0 folds out of every product, so its sums
// are exactly the plain ones; the weighted fit runs the same code with the
// caller's weights. (The weighted twins of the functions below are these
// templates over GivenWeights.)
#include <algorithm>
#include <cmath>
#include <numbers>

#include <zfit/family/frame.hpp>
#include <zfit/line/line.h>
#include <zfit/parabola/parabola_internal.hpp>
#include <zfit/services/math.hpp>
#include <zfit/services/weights.hpp>

// The destruct of the line result this fit keeps for a scope, for
// zsvc::Owned (found by argument-dependent lookup, so at global scope).
static zfit_status destruct(zmath_lineFitResult* result) { return zmath_lineFitResult_destruct(result); }

namespace {

// The caller's weights (zsvc::GivenWeights): weight i belongs to point i,
// also after the points have been centred and turned.
using zsvc::GivenWeights;
using zsvc::UnitWeights;

constexpr double kHalfTurn = std::numbers::pi;
constexpr double kQuarterTurn = std::numbers::pi / 2.0;

// The storage of one fit, made once and reused at every angle: the centred
// points with their weights and total weight, the power of two that brings
// their spread near 1, and the 3x3 normal equations.
template <class Weights>
struct Work {
    const zmath_vect* points = nullptr;
    int32_t count = 0;
    Weights weights{};
    double totalWeight = 0.0;
    double unit = 1.0;
    zsvc::Owned<zmath_nmmatrix> normal, rhs, solution;

    zfit_status construct()
    {
        ZFIT_TRY(normal.construct(zmath_nmmatrix_constructRowsCols, 3, 3));
        ZFIT_TRY(rhs.construct(zmath_nmmatrix_constructRowsCols, 3, 1));
        return solution.construct(zmath_nmmatrix_constructRowsCols, 3, 1);
    }
};

// The outcome of one evaluation at one axis angle.
struct Candidate {
    zmath_xformRigid pose;
    double coefficient;
    double rms;
};

// Least-squares coefficients of y = a*x^2 + b*x + c over the centred points
// turned by `turn`. The points are turned on the fly, so no storage is
// needed per angle.
//
// x is measured in work.unit (a power of two, so the change of unit is
// exact): the powers of x up to x^4 then stay near 1 whatever the unit of
// the caller's coordinates, and the condition number that the solve judges
// reflects the shape of the point set rather than its scale.
template <class Weights>
zfit_status zmath_parabolaFitSolve_(Work<Weights>& work, const zmath_xformRigid& turn, double* a, double* b, double* c)
{
    double sx4 = 0.0, sx3 = 0.0, sx2 = 0.0, sx1 = 0.0, sw = 0.0, sx2y = 0.0, sxy = 0.0, sy = 0.0;
    const zmath_vect* p = work.points;
    const double unit = work.unit;
    for (int32_t i = 0; i < work.count; ++i) {
        const zmath_vect q = zsvc::mapPoint(turn, p[i]);
        const double x = q.x * unit;
        const double w = work.weights[i];
        const double wx = w * x, wx2 = wx * x, wx3 = wx2 * x;
        sx4 += wx3 * x;
        sx3 += wx3;
        sx2 += wx2;
        sx1 += wx;
        sw += w;
        sx2y += wx2 * q.y;
        sxy += wx * q.y;
        sy += w * q.y;
    }
    double* const* A = work.normal->rows;
    A[0][0] = sx4, A[0][1] = sx3, A[0][2] = sx2;
    A[1][0] = sx3, A[1][1] = sx2, A[1][2] = sx1;
    A[2][0] = sx2, A[2][1] = sx1, A[2][2] = sw;
    double* const* B = work.rhs->rows;
    B[0][0] = sx2y, B[1][0] = sxy, B[2][0] = sy;
    double condition = 0.0;
    ZFIT_TRY(
        zmath_nmmatrix_solve(work.normal.get(), work.rhs.get(), work.solution.get(), 1, &condition, kConditionLimit));
    double* const* X = work.solution->rows;
    *a = X[0][0] * (unit * unit);
    *b = X[1][0] * unit;
    *c = X[2][0];
    return zfit_ok;
}

// RMS of the vertical residuals y - a*x^2 in the parabola's own frame.
template <class Weights>
zfit_status zmath_parabolaFitRmsError_(const Work<Weights>& work, const zmath_xformRigid& pose, double a, double* rms)
{
    const zmath_xformRigid toFrame = zsvc::inverse(pose);
    const zmath_vect* p = work.points;
    const auto term = [&](int32_t i) {
        const zmath_vect q = zsvc::mapPoint(toFrame, p[i]);
        const double r = q.y - a * q.x * q.x;
        return work.weights[i] * (r * r);
    };
    // Four partial sums keep the pass from waiting on one long addition chain.
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    int32_t i = 0;
    for (; i + 4 <= work.count; i += 4) {
        partial[0] += term(i);
        partial[1] += term(i + 1);
        partial[2] += term(i + 2);
        partial[3] += term(i + 3);
    }
    for (; i < work.count; ++i) partial[i % 4] += term(i);
    *rms = std::sqrt(((partial[0] + partial[1]) + (partial[2] + partial[3])) / work.totalWeight);
    return zfit_ok;
}

// The candidate for the axis angle *theta: turn the points by -theta, fit
// the polynomial, make the coefficient non-negative by a half turn, and put
// the pose's origin on the vertex.
template <class Weights>
zfit_status zmath_parabolaFitAtAngle_(Work<Weights>& work, const double* theta, zmath_xformRigid* pose, double* a,
                                      double* rms)
{
    zmath_xformRigid turn = zsvc::rigid(-*theta, 0.0, 0.0);
    double b = 0.0, c = 0.0;
    ZFIT_TRY(zmath_parabolaFitSolve_(work, turn, a, &b, &c));
    if (*a < 0.0) {
        // Seen from the far side the same curve opens upwards: x and y change
        // sign, so a and c do and b keeps its value.
        *a = -*a;
        c = -c;
        turn = zsvc::compose(zsvc::rigid(kHalfTurn, 0.0, 0.0), turn);
    }
    const double x0 = *a == 0.0 ? 0.0 : -b / (2.0 * *a);
    const double y0 = *a * x0 * x0 + b * x0 + c;
    *pose = zsvc::compose(zsvc::inverse(turn), zsvc::rigid(0.0, x0, y0));
    return zmath_parabolaFitRmsError_(work, *pose, *a, rms);
}

// A bracketing line search with parabolic refinement on f(theta) = the RMS
// of the candidate at theta. The caller's pose, a and rms always hold one
// consistent evaluation: the one at the angle where the last pass started.
// An angle that a pass moves to becomes the caller's candidate only when a
// later pass starts there, so with maxIterations 1 the outputs are the fit
// at the starting angle.
template <class Weights>
zfit_status zmath_parabolaFitSearchAngle_(Work<Weights>& work, int32_t maxIterations, double* theta,
                                          zmath_xformRigid* pose, double* a, double* rms)
{
    double h = kInitialStep;
    bool started = false;
    double thetaLast = 0.0;
    // The evaluation at the angle the last pass moved to, so that the next
    // pass takes it over instead of repeating it (evaluations are exact
    // functions of the angle, so the outputs are the same).
    bool havePending = false;
    double pendingAngle = 0.0;
    Candidate pending{}, minus{}, plus{}, centre{};
    zfit_status status = zfit_ok;

    for (int32_t pass = 0; pass < maxIterations; ++pass) {
        double f0 = *rms;
        if (!started || *theta != thetaLast) {
            if (havePending && *theta == pendingAngle) {
                *pose = pending.pose, *a = pending.coefficient, *rms = pending.rms;
            } else {
                status = zmath_parabolaFitAtAngle_(work, theta, pose, a, rms);
                ZFIT_TRY(status);
            }
            f0 = *rms;
        }
        started = true;
        havePending = false;
        thetaLast = *theta;

        const double thetaMinus = *theta - h, thetaPlus = *theta + h;
        ZFIT_TRY(status = zmath_parabolaFitAtAngle_(work, &thetaMinus, &minus.pose, &minus.coefficient, &minus.rms));
        ZFIT_TRY(status = zmath_parabolaFitAtAngle_(work, &thetaPlus, &plus.pose, &plus.coefficient, &plus.rms));
        const double fm = minus.rms, fp = plus.rms;

        if ((fp < f0 && fp < fm) || (fm < f0 && fm < fp)) {
            const bool forward = fp < fm;  // the better neighbour; it beats the centre too
            *theta = forward ? thetaPlus : thetaMinus;
            pending = forward ? plus : minus;
            pendingAngle = *theta;
            havePending = true;
            if (kGrowthFactor * h < kInitialStep) h *= kGrowthFactor;
            continue;
        }

        // Neither neighbour beats the centre: one Newton step on the
        // parabola through the three values.
        const double g1 = (f0 - fm) / (h / 2.0), g2 = (fp - f0) / (h / 2.0);
        const double k = (g2 - g1) / h;
        const double delta = std::fabs(k) > kFlatCurvature * std::fabs(g1 + g2) ? ((g1 + g2) / 2.0) / k : 0.0;
        const double thetaC = *theta - delta;
        double fc = HUGE_VAL;
        if (zmath_radian_epsilonEqual(&thetaC, theta, &h)) {
            ZFIT_TRY(status = zmath_parabolaFitAtAngle_(work, &thetaC, &centre.pose, &centre.coefficient, &centre.rms));
            fc = centre.rms;
        }
        if (fc < f0) {
            *theta = thetaC;
            pending = centre;
            pendingAngle = thetaC;
            havePending = true;
            h *= kShrinkAccepted;
        } else {
            h *= kShrinkRejected;
        }
        if (h < kSmallestStep) break;
    }
    return status;
}

// The power of two 2^-e for a radius f * 2^e (f in [0.5, 1)), kept well
// inside the exponent range so that its square is exact too.
double unitFor(double radius)
{
    int exponent = 0;
    std::frexp(radius, &exponent);
    return std::ldexp(1.0, -std::clamp(exponent, -480, 480));
}

template <class Weights>
zfit_status fitParabola(const zstd_vector_zmath_vect* points, Weights weights, const zmath_parabolaFitParams* params,
                        zmath_xformRigid* pose, double* coefficient, double* rms)
{
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);

    // The (weighted) centroid m; everything below works on p - m.
    zmath_vect sum{0.0, 0.0};
    double total = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double w = weights[i];
        sum = zsvc::add(sum, zmath_vect{w * p[i].x, w * p[i].y});
        total += w;
    }
    const double scale = 1.0 / total;
    const zmath_vect m{sum.x * scale, sum.y * scale};

    zsvc::Owned<zstd_vector_zmath_vect> centred;
    ZFIT_TRY(centred.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(n)));
    zmath_vect* q = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getBegin(centred.get(), &q));
    double spread = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        q[i] = zsvc::subtract(p[i], m);
        spread += zsvc::dot(q[i], q[i]);
    }

    // The starting direction: the plain least-squares line through the
    // centred points (weights play no part in it). Points spread alike in
    // every direction (five points of y = sqrt(5/7) x^2 at x = -2..2) have
    // no such line, and the line fit refuses them; since the search starts
    // from a direction and from its normal alike, the x axis serves as well
    // as any. Points that do not spread at all still fail here.
    zmath_lineFitParams lineParams;
    ZFIT_TRY(zmath_lineFitParams_init(&lineParams));
    // The least-squares line result of the starting direction, released on
    // every exit path.
    zsvc::Owned<zmath_lineFitResult> line;
    ZFIT_TRY(line.construct(zmath_lineFitResult_construct));
    const zfit_status lineStatus = zmath_lineFitVector(centred.get(), &lineParams, line.get());
    const bool isotropic = lineStatus == zmath_errDegenerate && spread > 0.0 && std::isfinite(spread);
    double lineAngle = 0.0;
    if (!isotropic) {
        ZFIT_TRY(lineStatus);
        ZFIT_TRY(zmath_shapeFLine_getAngle(&line.get()->line, &lineAngle));
    }

    Work<Weights> work;
    work.points = q;
    work.count = n;
    work.weights = weights;
    work.totalWeight = total;
    work.unit = unitFor(n > 0 ? std::sqrt(spread / n) : 0.0);
    ZFIT_TRY(work.construct());

    // Along the line, then across it; the first start wins a tie.
    *rms = HUGE_VAL;
    for (int32_t start = 0; start < 2; ++start) {
        double theta = lineAngle + start * kQuarterTurn;
        Candidate candidate{zsvc::rigid(0.0, 0.0, 0.0), 0.0, 0.0};
        ZFIT_TRY(zmath_parabolaFitSearchAngle_(work, params->maxIterations, &theta, &candidate.pose,
                                               &candidate.coefficient, &candidate.rms));
        if (candidate.rms < *rms) {
            *rms = candidate.rms;
            *pose = candidate.pose;
            *coefficient = candidate.coefficient;
        }
    }
    // Neither start gave a finite error (overflowing coordinates): there is
    // no fit to report.
    ZFIT_FAIL_IF(!(*rms < HUGE_VAL), zmath_errDegenerate);

    *pose = zsvc::compose(zsvc::rigid(0.0, m.x, m.y), *pose);
    return zfit_ok;
}

}  // namespace

zfit_status zmath_parabolaFit_(const zstd_vector_zmath_vect* points, const zmath_parabolaFitParams* params,
                               zmath_xformRigid* pose, double* coefficient, double* rmsError)
{
    return fitParabola(points, UnitWeights{}, params, pose, coefficient, rmsError);
}

zfit_status zmath_parabolaFitWeighted_(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                       const zmath_parabolaFitParams* params, zmath_xformRigid* pose,
                                       double* coefficient, double* rmsError)
{
    const std::span<const double> w = zsvc::view(weights);
    ZFIT_REQUIRE(w.size() == zsvc::view(points).size());
    return fitParabola(points, GivenWeights{w.data()}, params, pose, coefficient, rmsError);
}
