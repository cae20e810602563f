// Parabola family internals: the fit behind the two vector entries. Not
// exported.
//
// The unweighted and the weighted fit are one chain of templates (the
// search, the fit at an angle, the normal equations, the residual), run
// either with every weight 1 or with the caller's weights; see
// parabola_search.cpp.
#pragma once

#include <zfit/parabola/parabola.h>

// ---- the angle search and its tolerances ----------------------------------

// The first step of the axis-angle search, in radians, and its largest: the
// search starts next to the best axis (the line's direction or its normal),
// so it walks rather than jumps.
constexpr double kInitialStep = 0.1;
// The step grows by this after a move to a better neighbour.
constexpr double kGrowthFactor = 1.5;
// It shrinks by this after a parabolic step that improved the error...
constexpr double kShrinkAccepted = 0.1;
// ...and by this after one that did not.
constexpr double kShrinkRejected = 0.5;
// The search stops below this step (radians): far below the uncertainty of
// an axis fitted to measured points.
constexpr double kSmallestStep = 1e-7;
// No parabolic step is taken where the relative curvature of the error
// over three angles is below this: it is then the error's rounding.
constexpr double kFlatCurvature = 1e-12;
// The normal equations at an angle are refused above this condition number:
// beyond it their solution keeps no correct digit.
constexpr double kConditionLimit = 1e16;

// The unweighted fit: centres the points, finds the two starting directions
// from the least-squares line, searches the axis angle from each, keeps the
// better and moves it back by the centroid. Writes the caller's pose,
// coefficient and rmsError. The input must have passed the entry's checks
// (finite coordinates, maxIterations >= 1).
zfit_status zmath_parabolaFit_(const zstd_vector_zmath_vect* points, const zmath_parabolaFitParams* params,
                               zmath_xformRigid* pose, double* coefficient, double* rmsError);

// The same with one weight per point (checked by the entry: as many weights
// as points, all finite and >= 0, a positive finite total).
zfit_status zmath_parabolaFitWeighted_(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                       const zmath_parabolaFitParams* params, zmath_xformRigid* pose,
                                       double* coefficient, double* rmsError);
