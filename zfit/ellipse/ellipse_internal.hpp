// Ellipse family internals: the moment-sum record, the algebraic fit of one
// point set and the subset search behind zmath_ellipseFitVector. Not
// exported.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include <zfit/ellipse/ellipse.h>
#include <zfit/services/containers.hpp>
#include <zfit/services/nmmatrix.h>

// ---- tolerances -----------------------------------------------------------

// Points are collinear when det S3 is below this fraction of (Sxx + Syy)^2:
// the rounding of a determinant of sums of that size.
constexpr double kCollinear = 1e-12;
// M is diagonal (no ellipse singled out) when its off-diagonal is below this
// fraction of its diagonal: the rounding of the reduction that formed it.
constexpr double kDiagonal = 1e-14;
// An eigenvalue is real when its imaginary part is below this, per unit of
// its size: the QR sweep leaves such parts on real eigenvalues.
constexpr double kImaginary = 1e-6;
// A candidate (a unit eigenvector) whose quadratic part has a squared norm
// below this is a rounding residue, not a conic.
constexpr double kNormFloor = 1e-12;
// b/a and c/a (or b/c and a/c) below this count as zero: the conic is then
// a single square (a parabola or a line pair), whatever rounding made of it.
constexpr double kSingleSquare = 1e-10;
// Cross products, and rows per unit of the longest, below this are zero:
// far below any product of rounded rows of an ellipse a few nanometres wide.
constexpr double kTinyLength = 1e-32;

// The 14 power sums of a set of points (already moved to their centroid)
// from which the fit builds its scatter matrix.
struct zfit_ellipseVals {
    int32_t count;
    double sumX4;
    double sumX3;
    double sumX2;
    double sumX;
    double sumY4;
    double sumY3;
    double sumY2;
    double sumY;
    double sumX2Y2;
    double sumX2Y;
    double sumXY2;
    double sumXY;
    double sumX3Y;
    double sumXY3;
};

inline zfit_status zfit_ellipseVals_init_(zfit_ellipseVals* sums)
{
    *sums = zfit_ellipseVals{};
    return zfit_ok;
}

inline zfit_status zmath_ellipseFitUpdateVals_(zfit_ellipseVals* sums, const zmath_vect& p)
{
    const double x = p.x, y = p.y;
    const double x2 = x * x, y2 = y * y;
    sums->sumX4 += x2 * x2;
    sums->sumX3 += x2 * x;
    sums->sumX2 += x2;
    sums->sumX += x;
    sums->sumY4 += y2 * y2;
    sums->sumY3 += y2 * y;
    sums->sumY2 += y2;
    sums->sumY += y;
    sums->sumX2Y2 += x2 * y2;
    sums->sumX2Y += x2 * y;
    sums->sumXY2 += x * y2;
    sums->sumXY += x * y;
    sums->sumX3Y += x2 * x * y;
    sums->sumXY3 += x * y2 * y;
    sums->count += 1;
    return zfit_ok;
}

namespace zfit::ellipse {

template <std::size_t R, std::size_t C>
using Matrix = std::array<std::array<double, C>, R>;

// The conic's coefficients in the order a, b, c, d, e, f of
// a*x^2 + b*xy + c*y^2 + d*x + e*y + f = 0.
using Conic = std::array<double, 6>;

// Work storage of one fit call: the matrix handed to the eigenvalue service
// and the vectors that receive its eigenvalues. Created once per call and
// reused by every subset of a search.
struct Work {
    zsvc::Owned<zmath_nmmatrix> n;
    zsvc::Owned<zstd_vectord> re;
    zsvc::Owned<zstd_vectord> im;

    zfit_status construct()
    {
        ZFIT_TRY(n.construct(zmath_nmmatrix_constructRowsCols, 3, 3));
        ZFIT_TRY(re.construct(zstd_vectord_construct, int64_t{3}));
        return im.construct(zstd_vectord_construct, int64_t{3});
    }
};

}  // namespace zfit::ellipse

// The ellipse fitted to all given points (at least five), in the points'
// coordinates.
zfit_status zmath_ellipseFitPoints_(std::span<const zmath_vect> points, zfit::ellipse::Work& work,
                                    zmath_shapeEllipse* ellipse);

// *rms = RMS radial residual of the points against the ellipse.
zfit_status zmath_ellipseFitRmsError_(const zmath_shapeEllipse* ellipse, std::span<const zmath_vect> points,
                                      double* rms);

// The ellipse of the summed (centred) points: the chosen conic after the
// tests that refuse a quadratic part dominated by x^2 or y^2 alone.
zfit_status zmath_ellipseFitAlgebraic_(const zfit_ellipseVals* sums, zfit::ellipse::Work& work,
                                       zmath_shapeEllipse* ellipse);

// The least-squares conic of the summed points among the admissible
// eigenvectors of the reduced scatter matrix (see the source).
zfit_status zmath_ellipseFitConic_(const zfit_ellipseVals* sums, zfit::ellipse::Work& work,
                                   zfit::ellipse::Conic* conic);

// Column k of v = the unit null vector of n - re[k]*I (or zero).
zfit_status zmath_ellipseFitEigenvectors_(const zfit::ellipse::Matrix<3, 3>& n, const double* re,
                                          zfit::ellipse::Matrix<3, 3>* v);

// A unit vector orthogonal to the three rows, from the longest cross product
// of their unit vectors (earlier pair on a tie); zero when there is none.
zfit_status zmath_ellipseFitNullVector_(const zmath_vect3* r0, const zmath_vect3* r1, const zmath_vect3* r2,
                                        zmath_vect3* out);

// *flag = 1 when the shape services accept the conic as an ellipse, else 0.
// Always returns 0.
zfit_status zmath_ellipseFitIsEllipse_(const zfit::ellipse::Conic& conic, int32_t* flag);

// The best fit over every subset that leaves out exactly k of the points
// (n >= k + 5, k >= 1). Writes the caller's rms (also as scratch), ellipse
// (only on success) and indices (on every improvement).
zfit_status zmath_ellipseFitIgnore_(const zstd_vector_zmath_vect* points, int32_t k, double* rms,
                                    zmath_shapeEllipse* ellipse, zstd_vector32* indices);

// The first combination (k - 1, ..., 1, 0).
zfit_status zmath_ellipseFitFirstCombination_(std::span<int32_t> combination);

// Steps the strictly decreasing combination to the next k-subset of
// {0, ..., n - 1}; *more = 0 when the enumeration is over.
zfit_status zmath_ellipseFitNextCombination_(std::span<int32_t> combination, int32_t n, int32_t* more);
