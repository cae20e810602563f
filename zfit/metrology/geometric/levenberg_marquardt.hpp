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
//   4. Convergence: the cosine between r and every column of J is at most
//      1e-10 (|g_k| <= 1e-10 sqrt(A_kk RSS)); or RSS is below 1e-28 of the
//      weight sum (an exact fit in the unit-spread coordinates the models
//      use); or an accepted near-Gauss-Newton step (lambda <= 1e-2) moved no
//      parameter by more than 1e-12 (|x_k| + 1); or lambda passed 1e16, when
//      no step, however short, lowers RSS any more.
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
    double rss = 0.0;   // sum w r^2
    Matrix<P> jtj{};    // J^T W J, lower triangle while accumulating
    Vector<P> jtr{};    // J^T W r

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
    Normal<P> normal;      // at x
    int32_t iterations = 0;
    bool converged = false;
};

namespace lm {
inline constexpr double kGradientCosine = 1e-10;
inline constexpr double kExactRss = 1e-28;
inline constexpr double kStep = 1e-12;
inline constexpr double kNearGaussNewton = 1e-2;
inline constexpr double kHopeless = 1e16;
inline constexpr double kDiagonalFloor = 1e-12;
}  // namespace lm

template <int P>
bool gradientVanishes(const Normal<P>& n, double weightSum)
{
    if (n.rss <= lm::kExactRss * weightSum) return true;
    for (int k = 0; k < P; ++k)
        if (std::fabs(n.jtr[k]) > lm::kGradientCosine * std::sqrt(n.jtj[k][k] * n.rss)) return false;
    return true;
}

// Model requirements:
//   static constexpr int parameters;                 P
//   bool evaluate(const Vector<P>& x, Normal<P>& n) const;
//       fills n at x (n starts zeroed); false when x is not admissible
//   double weightSum() const;                         sum of the weights
// Returns the outcome, or false when the start itself is not admissible.
template <class Model>
bool levenbergMarquardt(const Model& model, const Vector<Model::parameters>& start, int32_t maxIterations,
                        LmOutcome<Model::parameters>& out)
{
    constexpr int P = Model::parameters;
    out = LmOutcome<P>{};
    out.x = start;
    if (!model.evaluate(out.x, out.normal)) return false;
    double lambda = 1e-3;
    while (!gradientVanishes(out.normal, model.weightSum())) {
        if (out.iterations >= maxIterations) return true;
        ++out.iterations;

        const Normal<P>& here = out.normal;
        double largest = 0.0;
        for (int k = 0; k < P; ++k) largest = std::max(largest, here.jtj[k][k]);
        Matrix<P> damped = here.jtj;
        for (int k = 0; k < P; ++k) damped[k][k] += lambda * std::max(here.jtj[k][k], lm::kDiagonalFloor * largest);
        Matrix<P> factor{};
        bool improved = false;
        Vector<P> step{};
        Vector<P> trial{};
        Normal<P> there;
        if (choleskyFactor<P>(damped, factor) == P) {
            Vector<P> minusGradient;
            for (int k = 0; k < P; ++k) minusGradient[k] = -here.jtr[k];
            step = choleskySolve<P>(factor, minusGradient);
            for (int k = 0; k < P; ++k) trial[k] = out.x[k] + step[k];
            improved = model.evaluate(trial, there) && there.rss < here.rss;
        }
        if (!improved) {
            lambda *= 10.0;
            if (lambda > lm::kHopeless) break;
            continue;
        }
        bool small = lambda <= lm::kNearGaussNewton;
        for (int k = 0; k < P && small; ++k) small = std::fabs(step[k]) <= lm::kStep * (std::fabs(out.x[k]) + 1.0);
        out.x = trial;
        out.normal = there;
        lambda = std::max(lambda * 0.1, 1e-15);
        if (small) break;
    }
    out.converged = true;
    return true;
}

}  // namespace zmet
