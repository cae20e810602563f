// Levenberg-Marquardt for the geometric fits: minimises RSS(x) = sum w_i r_i(x)^2
// over the P parameters x of a model that evaluates its residuals and their
// Jacobian in one pass over the points.
//
// Method (Levenberg 1944, Marquardt 1963), with the symbols of the code:
//   1. At the current x the model accumulates the normal equations
//      A = J^T W J, g = J^T W r and RSS (struct Normal), and bounds the
//      rounding of RSS (each residual is the difference of terms of the
//      size of the coordinates, so it carries their rounding).
//   2. The trial step solves (A + lambda D) delta = -g, with Marquardt's
//      scaling D = diag(A) (each entry floored at 1e-12 of the largest, so
//      that a parameter the data do not move still has a damped step).
//      The first steps are Gauss-Newton (lambda at its floor): the
//      algebraic start is usually close.
//   3. While the linear model promises a decrease of RSS larger than its
//      rounding, x + delta is accepted only when the model admits it and
//      its RSS is smaller; lambda then shrinks tenfold (the step turns
//      towards Gauss-Newton). Otherwise lambda grows tenfold (the step
//      shortens and turns towards steepest descent), from 1e-3 after a
//      Gauss-Newton step.
//   4. Once the promised decrease is below the rounding of RSS, RSS can no
//      longer judge a step, but the gradient still points the way: the
//      steps are Gauss-Newton steps, each taken unless it raises RSS beyond
//      its rounding (or the start's RSS beyond that one's). The iteration ends at the
//      first one that does, or that is not shorter than the one before by a
//      tenth (the steps have reached the rounding noise of the gradient).
//      A step whose successor the observed rate of convergence (its size
//      over the last step's) puts at the rounding level is the last one,
//      taken without another pass: the sum cannot tell it apart, and the
//      Jacobian, hence the covariance, moves only by its relative size.
//   5. Convergence: the next step is at the rounding level of the
//      parameters (no parameter would move by more than 32 units in its
//      last place; parameters below 1 in the unit-spread frame count as 1),
//      so it is not taken; or RSS is below 1e-28 of the weight sum (an
//      exact fit in the unit-spread coordinates the models use); or step 4
//      ended; or lambda passed 1e16, when no step, however short, lowers
//      RSS any more. The parameters keep the digits the data give them.
// Each trial step counts as one iteration and costs one evaluation (the
// last step of 4 none). Nothing is allocated; the accepted iterate's normal
// equations are kept, so the covariance at the solution needs no further
// pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "small_matrix.hpp"

namespace zmet {

// The normal equations of a least-squares problem at one parameter vector.
template <int P>
struct Normal {
    double rss = 0.0;       // sum w r^2
    double rounding = 0.0;  // a bound on the rounding of rss (boundRounding)
    Matrix<P> jtj{};        // J^T W J, lower triangle while accumulating
    Vector<P> jtr{};        // J^T W r

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

    // Sets `rounding` for residuals that are differences of terms of at
    // most `magnitude`: each carries a few units in the last place of those
    // terms, so rss carries sum w (2 |r| magnitude + r^2) of them, and
    // sum w |r| <= sqrt(weightSum rss).
    void boundRounding(double magnitude, double weightSum)
    {
        rounding = kUlps * (2.0 * magnitude * std::sqrt(weightSum * rss) + rss);
    }

private:
    static constexpr double kUlps = 4.0 * 0x1p-52;
};

template <int P>
struct LmOutcome {
    Vector<P> x{};
    Normal<P> normal;  // at x
    int32_t iterations = 0;
    bool converged = false;
};

namespace lm {
// The damping after a Gauss-Newton step that failed: small, since the
// algebraic start is usually close.
inline constexpr double kFirstLambda = 1e-3;
// Damping falls tenfold after a step that lowers the RSS and rises tenfold
// after one that does not, never below kLeastLambda (Gauss-Newton, give or
// take the rounding of the diagonal).
inline constexpr double kLambdaDown = 0.1;
inline constexpr double kLambdaUp = 10.0;
inline constexpr double kLeastLambda = 1e-15;
inline constexpr double kExactRss = 1e-28;
inline constexpr double kHopeless = 1e16;
inline constexpr double kDiagonalFloor = 1e-12;
// A step that moves no parameter by more than this share of it (of 1, for
// parameters below 1) is the parameters' rounding: 32 units in the last
// place, the rounding noise of a step computed from the normal equations.
inline constexpr double kRoundingStep = 32.0 * 0x1p-52;
// Below RSS's resolution, a step that is not at least this much shorter
// than the one before (a tenth) is rounding noise, and ends the iteration.
inline constexpr double kShrinking = 0.9;
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

// The largest move of a parameter relative to it (to 1 for parameters
// below 1).
template <int P>
double relativeSize(const Vector<P>& step, const Vector<P>& x)
{
    double size = 0.0;
    for (int k = 0; k < P; ++k) size = std::max(size, std::fabs(step[k]) / std::max(std::fabs(x[k]), 1.0));
    return size;
}

// The step (A + lambda D) delta = -g from the normal equations n at x, and
// its relative size; false when A + lambda D is not positive definite.
template <int P>
bool dampedStep(const Normal<P>& n, double lambda, const Vector<P>& x, Vector<P>& step, double& size)
{
    Matrix<P> factor{};
    if (choleskyFactor<P>(damped<P>(n.jtj, lambda), factor) < P) return false;
    Vector<P> minusGradient;
    for (int k = 0; k < P; ++k) minusGradient[k] = -n.jtr[k];
    step = choleskySolve<P>(factor, minusGradient);
    size = relativeSize<P>(step, x);
    return true;
}

// Model requirements:
//   static constexpr int parameters;                 P
//   bool evaluate(const Vector<P>& x, Normal<P>& n) const;
//       fills n at x (n starts zeroed); false when x is not admissible
//   double weightSum() const;                         sum of the weights
// Returns false when the start itself is not admissible.
template <class Model>
bool levenbergMarquardt(const Model& model, const Vector<Model::parameters>& start, int32_t maxIterations,
                        LmOutcome<Model::parameters>& out)
{
    constexpr int P = Model::parameters;
    out = LmOutcome<P>{};
    out.x = start;
    if (!model.evaluate(out.x, out.normal)) return false;
    const Normal<P> first = out.normal;
    // Gauss-Newton first: the algebraic start is usually close.
    double lambda = lm::kLeastLambda;
    double lastStep = HUGE_VAL;  // the relative size of the last step taken
    while (out.normal.rss > lm::kExactRss * model.weightSum()) {
        Vector<P> step{};
        double size = HUGE_VAL;
        bool factored = dampedStep<P>(out.normal, lambda, out.x, step, size);
        if (factored && size <= lm::kRoundingStep) break;
        // The decrease of the linearised model, -g.delta - delta^T A delta / 2,
        // is at most -g.delta / 2: at or below RSS's rounding the sum cannot
        // judge the step, and the Gauss-Newton step is taken instead.
        double promised = 0.0;
        for (int k = 0; k < P; ++k) promised -= 0.5 * out.normal.jtr[k] * step[k];
        const bool fine = factored && promised <= out.normal.rounding;
        if (fine && lambda > lm::kLeastLambda) {
            lambda = lm::kLeastLambda;
            factored = dampedStep<P>(out.normal, lambda, out.x, step, size);
            if (factored && size <= lm::kRoundingStep) break;
        }
        if (out.iterations >= maxIterations) return true;
        ++out.iterations;
        Vector<P> trial{};
        for (int k = 0; k < P; ++k) trial[k] = out.x[k] + step[k];
        // A step whose successor the rate of convergence puts at the rounding
        // level is the last: taken without another pass, as the sum of
        // squares could not tell it apart and the Jacobian (hence the
        // covariance) moves only by its relative size.
        if (fine && size * (size / lastStep) <= lm::kRoundingStep) {
            out.x = trial;
            break;
        }
        Normal<P> there;
        const bool admitted = factored && model.evaluate(trial, there);
        const bool taken = admitted && (fine ? there.rss <= out.normal.rss + out.normal.rounding &&
                                                   there.rss <= first.rss + first.rounding
                                             : there.rss < out.normal.rss);
        if (taken) {
            out.x = trial;
            out.normal = there;
            lambda = std::max(lambda * lm::kLambdaDown, lm::kLeastLambda);
            if (fine && size > lm::kShrinking * lastStep) break;
            lastStep = size;
        } else {
            if (fine) break;
            lambda = lambda > lm::kLeastLambda ? lambda * lm::kLambdaUp : lm::kFirstLambda;
            if (lambda > lm::kHopeless) break;
        }
    }
    out.converged = true;
    return true;
}

}  // namespace zmet
