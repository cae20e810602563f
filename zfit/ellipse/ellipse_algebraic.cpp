// The algebraic ellipse fit of one point set and its radial RMS error.
//
// Method: the direct ellipse-specific least-squares fit of Fitzgibbon, Pilu
// and Fisher ("Direct least square fitting of ellipses", IEEE Transactions
// on Pattern Analysis and Machine Intelligence 21, 1999), in the numerically
// stable partitioned form of Halir and Flusser ("Numerically stable direct
// least squares fitting of ellipses", WSCG 1998), which keeps the singular
// constraint matrix and the scatter matrix's ill-conditioned blocks out of
// the eigenproblem:
// The conic a*x^2 + b*xy + c*y^2 + d*x + e*y + f = 0 minimising the sum of
// squared algebraic residuals v*S*v^T (v = (a, b, c, d, e, f), S the 6x6
// scatter matrix of (x^2, xy, y^2, x, y, 1)) under 4ac - b^2 > 0, solved in
// the partitioned form: with S = [S1, S2; S2^T, S3] the linear part
// (d, e, f) = -S3^-1 S2^T (a, b, c) is eliminated, which leaves the 3x3
// reduced scatter M = S1 - S2 S3^-1 S2^T, and (a, b, c) is an eigenvector of
// C1^-1 M for the constraint matrix C1 of 4ac - b^2. Everything is built
// from the 14 power sums of the centred points.
#include <algorithm>
#include <cmath>

#include <zfit/ellipse/ellipse_internal.hpp>
#include <zfit/frame/status.hpp>
#include <zfit/services/math.hpp>

using zfit::ellipse::Conic;
using zfit::ellipse::Matrix;
using zfit::ellipse::Work;

namespace {

// out = a * b; the column count of a is the row count of b by type.
template <std::size_t R, std::size_t K, std::size_t C>
void zfit_matrixMultiply_(const Matrix<R, K>& a, const Matrix<K, C>& b, Matrix<R, C>* out)
{
    for (std::size_t i = 0; i < R; ++i)
        for (std::size_t j = 0; j < C; ++j) {
            double sum = 0.0;
            for (std::size_t k = 0; k < K; ++k) sum += a[i][k] * b[k][j];
            (*out)[i][j] = sum;
        }
}

// out = a - b, element by element; out may be b.
template <std::size_t R, std::size_t C>
void zfit_matrixSubtract_(const Matrix<R, C>& a, const Matrix<R, C>& b, Matrix<R, C>* out)
{
    for (std::size_t i = 0; i < R; ++i)
        for (std::size_t j = 0; j < C; ++j) (*out)[i][j] = a[i][j] - b[i][j];
}

template <std::size_t R, std::size_t C>
bool allFinite(const Matrix<R, C>& m)
{
    for (const auto& row : m)
        for (double value : row)
            if (!std::isfinite(value)) return false;
    return true;
}

zmath_vect3 row(const Matrix<3, 3>& m, int i) { return {m[i][0], m[i][1], m[i][2]}; }

}  // namespace

zfit_status zmath_ellipseFitPoints_(std::span<const zmath_vect> points, Work& work, zmath_shapeEllipse* ellipse)
{
    const double n = static_cast<double>(points.size());
    zmath_vect centroid{0.0, 0.0};
    for (const zmath_vect& p : points) centroid = zsvc::add(centroid, p);
    centroid.x /= n;
    centroid.y /= n;

    zfit_ellipseVals sums;
    zfit_ellipseVals_init_(&sums);
    for (const zmath_vect& p : points) zmath_ellipseFitUpdateVals_(&sums, zsvc::subtract(p, centroid));
    ZFIT_TRY(zmath_ellipseFitAlgebraic_(&sums, work, ellipse));

    // The fit worked on centred points: move the centre back; shape, size
    // and angle do not change.
    zmath_vect center;
    ZFIT_TRY(zmath_shapeEllipse_getCenter(ellipse, &center));
    center = zsvc::add(center, centroid);
    return zmath_shapeEllipse_setCenter(ellipse, &center);
}

zfit_status zmath_ellipseFitAlgebraic_(const zfit_ellipseVals* sums, Work& work, zmath_shapeEllipse* ellipse)
{
    Conic conic{};
    ZFIT_TRY(zmath_ellipseFitConic_(sums, work, &conic));
    const auto [a, b, c, d, e, f] = conic;
    const auto negligible = [](double ratio) { return zmath_double_epsilonEqual(ratio, 0.0, kSingleSquare) != 0; };
    // A quadratic part that is a*x^2 or c*y^2 alone, to the ratio tolerance,
    // describes a parabola or a line pair, whatever rounding made of it.
    if (negligible(c / a) && negligible(b / a)) return zmath_errDegenerate;
    if (negligible(b / c) && negligible(a / c)) return zmath_errDegenerate;
    return zmath_shapeEllipse_initAlgebraic(ellipse, a, b, c, d, e, f);
}

zfit_status zmath_ellipseFitConic_(const zfit_ellipseVals* sums, Work& work, Conic* conic)
{
    const zfit_ellipseVals& s = *sums;
    const double n = static_cast<double>(s.count);
    const Matrix<3, 3> s1{
        {{s.sumX4, s.sumX3Y, s.sumX2Y2}, {s.sumX3Y, s.sumX2Y2, s.sumXY3}, {s.sumX2Y2, s.sumXY3, s.sumY4}}};
    const Matrix<3, 3> s2{{{s.sumX3, s.sumX2Y, s.sumX2}, {s.sumX2Y, s.sumXY2, s.sumXY}, {s.sumXY2, s.sumY3, s.sumY2}}};
    Matrix<3, 3> s2t;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) s2t[i][j] = s2[j][i];

    // S3^-1 by cofactors; a vanishing determinant means (nearly) collinear
    // points. Sums beyond the range of doubles determine nothing either.
    const double sxx = s.sumX2, sxy = s.sumXY, sx = s.sumX, syy = s.sumY2, sy = s.sumY;
    const double c00 = syy * n - sy * sy, c01 = sxy * n - sy * sx, c02 = sxy * sy - syy * sx;
    const double det = sxx * c00 - sxy * c01 + sx * c02;
    const double spread = sxx + syy;
    if (!std::isfinite(det) || zmath_double_epsilonEqual(det, 0.0, kCollinear * spread * spread))
        return zmath_errDegenerate;
    const double c11 = sxx * n - sx * sx, c12 = sxx * sy - sxy * sx, c22 = sxx * syy - sxy * sxy;
    const double r = 1.0 / det;
    const Matrix<3, 3> s3inv{
        {{r * c00, r * -c01, r * c02}, {r * -c01, r * c11, r * -c12}, {r * c02, r * -c12, r * c22}}};

    // X = S2 S3^-1 and the reduced scatter M = S1 - X S2^T.
    Matrix<3, 3> x, m;
    zfit_matrixMultiply_(s2, s3inv, &x);
    zfit_matrixMultiply_(x, s2t, &m);
    zfit_matrixSubtract_(s1, m, &m);
    if (!allFinite(m)) return zmath_errDegenerate;  // a non-finite X leaves M non-finite too

    // A diagonal M couples none of x^2, xy, y^2 and holds no ellipse. M
    // scales with the fourth power of the points' spread, so "diagonal" is
    // judged against the size of its diagonal.
    const double offDiagonal = std::max({std::fabs(m[0][1]), std::fabs(m[0][2]), std::fabs(m[1][2])});
    const double scale = std::fabs(m[0][0]) + std::fabs(m[1][1]) + std::fabs(m[2][2]);
    if (!(offDiagonal > kDiagonal * scale)) return zmath_errDegenerate;

    // N = C1^-1 M for the constraint 4ac - b^2.
    Matrix<3, 3> nm;
    for (int j = 0; j < 3; ++j) {
        nm[0][j] = m[2][j] / 2.0;
        nm[1][j] = -m[1][j];
        nm[2][j] = m[0][j] / 2.0;
    }
    double** rows = work.n->rows;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rows[i][j] = nm[i][j];
    ZFIT_TRY(zmath_nmmatrix_eigenvalues(work.n.get(), 0, work.re.get(), work.im.get()));
    const double* re = work.re->begin;
    const double* im = work.im->begin;
    Matrix<3, 3> v{};
    ZFIT_TRY(zmath_ellipseFitEigenvectors_(nm, re, &v));

    Matrix<6, 6> scatter;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            scatter[i][j] = s1[i][j];
            scatter[i][j + 3] = s2[i][j];
            scatter[i + 3][j] = s2t[i][j];
        }
    scatter[3][3] = sxx, scatter[3][4] = sxy, scatter[3][5] = sx;
    scatter[4][3] = sxy, scatter[4][4] = syy, scatter[4][5] = sy;
    scatter[5][3] = sx, scatter[5][4] = sy, scatter[5][5] = n;

    // Every real eigenvector that satisfies the constraint is a candidate;
    // scaled to a common norm, the one with the smallest algebraic residual
    // that the shape services accept as an ellipse wins (the earlier on a tie).
    // The eigenvalues scale with the fourth power of the points' spread, and
    // so does the rounding noise in their imaginary parts: an imaginary part
    // counts as zero against the eigenvalues' size (but never less than an
    // absolute 1e-6).
    const double imaginaryTolerance =
        kImaginary * std::max(1.0, std::fabs(re[0]) + std::fabs(re[1]) + std::fabs(re[2]));
    double best = HUGE_VAL;
    Conic chosen{};
    for (int k = 0; k < 3; ++k) {
        if (!zmath_double_epsilonEqual(im[k], 0.0, imaginaryTolerance)) continue;
        const double a = v[0][k], b = v[1][k], c = v[2][k];
        const double d = -(a * x[0][0] + b * x[1][0] + c * x[2][0]);
        const double e = -(a * x[0][1] + b * x[1][1] + c * x[2][1]);
        const double f = -(a * x[0][2] + b * x[1][2] + c * x[2][2]);
        if (!(4.0 * a * c - b * b >= 0.0)) continue;
        const double q = a * a + b * b / 2.0 + c * c;  // squared Frobenius norm of [a, b/2; b/2, c]
        if (!(q >= kNormFloor)) continue;
        const double scaleTo = 2.0 / std::sqrt(q);
        if (!(std::fabs(scaleTo) >= kNormFloor)) continue;
        const Conic candidate{a * scaleTo, b * scaleTo, c * scaleTo, d * scaleTo, e * scaleTo, f * scaleTo};

        // cost = v S v^T, summed as S v^T first.
        double product[6];
        for (int i = 0; i < 6; ++i) {
            double sum = 0.0;
            for (int j = 0; j < 6; ++j) sum += scatter[i][j] * candidate[j];
            product[i] = sum;
        }
        double cost = 0.0;
        for (int i = 0; i < 6; ++i) cost += candidate[i] * product[i];

        if (cost < best) {
            int32_t isEllipse = 0;
            ZFIT_TRY(zmath_ellipseFitIsEllipse_(candidate, &isEllipse));
            if (isEllipse == 1) {
                best = cost;
                chosen = candidate;
            }
        }
    }
    // No candidate kept leaves a = c = 0.
    if (!(chosen[0] * chosen[2] > 0.0)) return zmath_errDegenerate;
    *conic = chosen;
    return zfit_ok;
}

zfit_status zmath_ellipseFitEigenvectors_(const Matrix<3, 3>& n, const double* re, Matrix<3, 3>* v)
{
    *v = Matrix<3, 3>{};
    for (int k = 0; k < 3; ++k) {
        Matrix<3, 3> shifted = n;
        for (int i = 0; i < 3; ++i) shifted[i][i] -= re[k];
        const zmath_vect3 r0 = row(shifted, 0), r1 = row(shifted, 1), r2 = row(shifted, 2);
        zmath_vect3 w;
        ZFIT_TRY(zmath_ellipseFitNullVector_(&r0, &r1, &r2, &w));
        (*v)[0][k] = w.x;
        (*v)[1][k] = w.y;
        (*v)[2][k] = w.z;
    }
    return zfit_ok;
}

zfit_status zmath_ellipseFitNullVector_(const zmath_vect3* r0, const zmath_vect3* r1, const zmath_vect3* r2,
                                        zmath_vect3* out)
{
    // A row counts as zero against the longest row, not against an absolute
    // length: the rows scale with the fourth power of the points' spread, so
    // an ellipse a few nanometres across has rows near 1e-33 that still
    // carry all the information. The cross products below are of unit
    // vectors and need no such scale.
    const zmath_vect3* rows[3] = {r0, r1, r2};
    double lengths[3];
    for (int i = 0; i < 3; ++i) ZFIT_TRY(zmath_vect3_getLength(rows[i], &lengths[i]));
    // A NaN row stays zero, and an infinite one is refused by getUnit, as
    // before; fmax leaves a NaN length out of the longest.
    const double longest = std::fmax(std::fmax(lengths[0], lengths[1]), lengths[2]);
    zmath_vect3 unit[3];
    for (int i = 0; i < 3; ++i) {
        const double length = lengths[i];
        if (length > kTinyLength * longest || std::isinf(length)) {
            ZFIT_TRY(zmath_vect3_getUnit(rows[i], &unit[i]));
        } else {
            ZFIT_TRY(zmath_vect3_initClear(&unit[i]));
        }
    }
    zmath_vect3 c01, c02, c12;
    double l01 = 0.0, l02 = 0.0, l12 = 0.0;
    ZFIT_TRY(zmath_vect3_cross(&unit[0], &unit[1], &c01));
    ZFIT_TRY(zmath_vect3_cross(&unit[0], &unit[2], &c02));
    ZFIT_TRY(zmath_vect3_cross(&unit[1], &unit[2], &c12));
    ZFIT_TRY(zmath_vect3_getLength(&c01, &l01));
    ZFIT_TRY(zmath_vect3_getLength(&c02, &l02));
    ZFIT_TRY(zmath_vect3_getLength(&c12, &l12));
    if (l01 >= l02 && l01 >= l12 && l01 > kTinyLength) return zmath_vect3_getUnit(&c01, out);
    if (l02 >= l01 && l02 >= l12 && l02 > kTinyLength) return zmath_vect3_getUnit(&c02, out);
    if (l12 > kTinyLength) return zmath_vect3_getUnit(&c12, out);
    return zmath_vect3_initClear(out);
}

zfit_status zmath_ellipseFitIsEllipse_(const Conic& conic, int32_t* flag)
{
    *flag = 0;
    zmath_shapeEllipse scratch;
    const zfit_status status =
        zmath_shapeEllipse_initAlgebraic(&scratch, conic[0], conic[1], conic[2], conic[3], conic[4], conic[5]);
    *flag = zfit::failed(status) ? 0 : 1;
    return zfit_ok;
}

zfit_status zmath_ellipseFitRmsError_(const zmath_shapeEllipse* ellipse, std::span<const zmath_vect> points,
                                      double* rms)
{
    *rms = 0.0;
    zmath_xformLinear toEllipse, toCircle;
    zmath_vect center;
    double radii[2];
    ZFIT_TRY(zmath_shapeEllipse_getXform(ellipse, &toEllipse));
    ZFIT_TRY(zmath_xformLinear_getInverse(&toEllipse, &toCircle));
    ZFIT_TRY(zmath_shapeEllipse_getCenter(ellipse, &center));
    ZFIT_TRY(zmath_shapeEllipse_getRadii(ellipse, radii));
    const double minorRadius = radii[0] >= radii[1] ? radii[1] : radii[0];

    // In the frame where the ellipse is the unit circle the ray from the
    // centre through p meets it at u/|u|; the residual is that offset mapped
    // back, so it is measured along the ray, not along the normal.
    double sum = 0.0;
    for (const zmath_vect& p : points) {
        const zmath_vect u = zsvc::mapPoint(toCircle.matrix, zsvc::subtract(p, center));
        if (u.x == 0.0 && u.y == 0.0) {
            sum += minorRadius * minorRadius;  // the centre: as far off as the ends of the minor axis
            continue;
        }
        const double length = zsvc::length(u);
        if (!(length > 0.0) || !std::isfinite(length)) return zmath_errZeroLength;
        const zmath_vect w = zsvc::subtract(u, zmath_vect{u.x / length, u.y / length});
        const zmath_vect r = zsvc::mapPoint(toEllipse.matrix, w);
        sum += r.x * r.x + r.y * r.y;
    }
    *rms = std::sqrt(sum / static_cast<double>(points.size()));
    return zfit_ok;
}
