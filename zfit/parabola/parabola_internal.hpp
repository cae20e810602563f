// Parabola family internals: the fit behind the two vector entries. Not
// exported.
//
// The unweighted and the weighted fit are one chain of templates (the
// search, the fit at an angle, the normal equations, the residual), run
// either with every weight 1 or with the caller's weights; see
// parabola_search.cpp.
#pragma once

#include <zfit/parabola/parabola.h>

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
