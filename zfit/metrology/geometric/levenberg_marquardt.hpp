// Levenberg-Marquardt for the geometric fits: minimises RSS(x) = sum w_i r_i(x)^2
// over the P parameters x of a model that evaluates its residuals and their
// Jacobian in one pass over the points.
//
// Method (Levenberg 1944, Marquardt 1963), with the symbols of the code:
//   1. At the current x the model accumulates the normal equations
//      A = J^T W J, g = J^T W r and RSS (struct Normal).
//   2. The trial step solves (A + lambda D) delta = -g, with Marquardt's
//      scaling D = diag(A) (each entry floored at 1e-12 of the largest, so
//      that a parameter the data do not move still has a damped step).
//   3. x + delta is accepted only when the model admits it and its RSS is
//      smaller; lambda then shrinks tenfold (the step turns towards
//      Gauss-Newton). Otherwise lambda grows tenfold (the step shortens and
//      turns towards steepest descent).
//   4. Convergence: the Gauss-Newton step from x, A delta = -g, would move
//      the parameters by less than 1e-6 of their standard errors
//      (-g . delta = delta^T A delta <= 1e-12 RSS / (m - P), m the number of
//      residuals of positive weight: the step measured in the metric of the
//      covariance); or RSS is below 1e-28 of the weight sum (an exact fit in
//      the unit-spread coordinates the models use); or lambda passed 1e16,
//      when no step, however short, lowers RSS any more. The first test is
//      statistical rather than one on the gradient alone, so it is met as
//      readily for a million points as for ten: what the sum of squares can
//      no longer resolve is far below the scatter of the fit.
// Each trial step is one evaluation and counts as one iteration. Nothing is
// allocated; the accepted iterate's normal equations are kept, so the
// covariance at the solution needs no further pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "small_matrix.hpp"

namespace zmet {

// The normal equations of a least-squares problem at one parameter vector.
template <int P>
struct Normal {
    double rss = 0.0;  // sum w r^2
    Matrix<P> jtj{};   // J^T W J, lower triangle while accumulating
    Vector<P> jtr{};   // J^T W r

    // Adds one residual r with its Jacobian row j and weight w.
    void add(const Vector<P>& j, double r, double w)
    {
        rss += w * r * r;
        for (int a = 0; a < P; ++a) {
            const double wja = w * j[a];
            jtr[a] += wja * r;
            for (int b = 0; b <= a; ++b) jtj[a][b] += wja * j[b];
        }
    }

    // Copies the lower triangle into the upper one.
    void mirror()
    {
        for (int a = 0; a < P; ++a)
            for (int b = 0; b < a; ++b) jtj[b][a] = jtj[a][b];
    }
};

template <int P>
struct LmOutcome {
    Vector<P> x{};
    Normal<P> normal;  // at x
    int32_t iterations = 0;
    bool converged = false;
};

namespace lm {
// The first damping: small, since the algebraic start is usually close.
inline constexpr double kFirstLambda = 1e-3;
// Damping falls tenfold after a step that lowers the RSS and rises tenfold
// after one that does not, never below kLeastLambda (Gauss-Newton, give or
// take the rounding of the diagonal).
inline constexpr double kLambdaDown = 0.1;
inline constexpr double kLambdaUp = 10.0;
inline constexpr double kLeastLambda = 1e-15;
inline constexpr double kStepInStandardErrors2 = 1e-12;
inline constexpr double kExactRss = 1e-28;
inline constexpr double kHopeless = 1e16;
inline constexpr double kDiagonalFloor = 1e-12;
}  // namespace lm

// A + lambda D, D the diagonal of A floored at kDiagonalFloor of its largest
// entry.
template <int P>
Matrix<P> damped(const Matrix<P>& a, double lambda)
{
    double largest = 0.0;
    for (int k = 0; k < P; ++k) largest = std::max(largest, a[k][k]);
    Matrix<P> out = a;
    for (int k = 0; k < P; ++k) out[k][k] += lambda * std::max(a[k][k], lm::kDiagonalFloor * largest);
    return out;
}

// Convergence test 4 at the normal equations n of m residuals.
template <int P>
bool stationary(const Normal<P>& n, double weightSum, int32_t m)
{
    if (n.rss <= lm::kExactRss * weightSum) return true;
    Matrix<P> factor{};
    if (choleskyFactor<P>(damped<P>(n.jtj, lm::kDiagonalFloor), factor) < P) return false;
    const Vector<P> step = choleskySolve<P>(factor, n.jtr);
    double decrement = 0.0;
    for (int k = 0; k < P; ++k) decrement += n.jtr[k] * step[k];
    return decrement <= lm::kStepInStandardErrors2 * n.rss / (m - P);
}

// Model requirements:
//   static constexpr int parameters;                 P
//   bool evaluate(const Vector<P>& x, Normal<P>& n) const;
//       fills n at x (n starts zeroed); false when x is not admissible
//   double weightSum() const;                         sum of the weights
//   int32_t residuals() const;                        m (> P)
// Returns false when the start itself is not admissible.
template <class Model>
bool levenbergMarquardt(const Model& model, const Vector<Model::parameters>& start, int32_t maxIterations,
                        LmOutcome<Model::parameters>& out)
{
    constexpr int P = Model::parameters;
    out = LmOutcome<P>{};
    out.x = start;
    if (!model.evaluate(out.x, out.normal)) return false;
    double lambda = lm::kFirstLambda;
    while (!stationary(out.normal, model.weightSum(), model.residuals())) {
        if (out.iterations >= maxIterations) return true;
        ++out.iterations;
        Matrix<P> factor{};
        Vector<P> trial{};
        Normal<P> there;
        bool improved = false;
        if (choleskyFactor<P>(damped<P>(out.normal.jtj, lambda), factor) == P) {
            Vector<P> minusGradient;
            for (int k = 0; k < P; ++k) minusGradient[k] = -out.normal.jtr[k];
            const Vector<P> step = choleskySolve<P>(factor, minusGradient);
            for (int k = 0; k < P; ++k) trial[k] = out.x[k] + step[k];
            improved = model.evaluate(trial, there) && there.rss < out.normal.rss;
        }
        if (improved) {
            out.x = trial;
            out.normal = there;
            lambda = std::max(lambda * lm::kLambdaDown, lm::kLeastLambda);
        } else {
            lambda *= lm::kLambdaUp;
            if (lambda > lm::kHopeless) break;
        }
    }
    out.converged = true;
    return true;
}

}  // namespace zmet
