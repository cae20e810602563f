/* Two-dimensional math services: vectors, tolerant comparisons, 2x2
 * matrices, linear and rigid transforms.
 *
 * Conventions: angles are in radians, counterclockwise positive. Every
 * operation returns a zfit_status (0 on success) unless it is documented to
 * return a flag; out arguments may alias in arguments where stated. */
#ifndef ZFIT_SERVICES_MATH_H
#define ZFIT_SERVICES_MATH_H

#include <zfit/frame/export.h>
#include <zfit/frame/status.h>

ZFIT_EXTERN_C_BEGIN

/* A 2-D point or vector. Point arrays are arrays of these pairs. */
typedef struct zmath_vect {
    double x;
    double y;
} zmath_vect;

/* A 2x2 matrix, row by row: (m00 m01; m10 m11). */
typedef struct zmath_matrix {
    double m00;
    double m01;
    double m10;
    double m11;
} zmath_matrix;

/* The affine transform p -> M*p + t, stored as six consecutive doubles
 * tx, ty, m00, m01, m10, m11:  x' = m00*x + m01*y + tx,
 *                              y' = m10*x + m11*y + ty.
 * The layout is part of the interface. */
typedef struct zmath_xformLinear {
    zmath_vect translation;
    zmath_matrix matrix;
} zmath_xformLinear;

/* A rotation by `angle` (counterclockwise: x' = cos*x - sin*y,
 * y' = sin*x + cos*y) followed by a translation. cosine and sine always
 * hold cos(angle) and sin(angle); set the transform through its operations
 * so that they stay in step. */
typedef struct zmath_xformRigid {
    double angle;
    double cosine;
    double sine;
    zmath_vect translation;
} zmath_xformRigid;

/* ---- vectors ---------------------------------------------------------- */

/* out = (x, y). */
ZFIT_API zfit_status zmath_vect_init(zmath_vect* out, double x, double y);
/* out = a + b; out may be a or b. */
ZFIT_API zfit_status zmath_vect_initAdd(zmath_vect* out, const zmath_vect* a, const zmath_vect* b);
/* out = a - b; out may be a or b. */
ZFIT_API zfit_status zmath_vect_initSubtract(zmath_vect* out, const zmath_vect* a, const zmath_vect* b);
/* *out = a.x*b.x + a.y*b.y. */
ZFIT_API zfit_status zmath_vect_dot(const zmath_vect* a, const zmath_vect* b, double* out);
/* *out = |in| (hypot, no overflow for large components). */
ZFIT_API zfit_status zmath_vect_getLength(const zmath_vect* in, double* out);
/* out = in / |in|; out may be in. zmath_errZeroLength (out untouched) when
 * in is the zero vector or its length is not finite. */
ZFIT_API zfit_status zmath_vect_getUnit(const zmath_vect* in, zmath_vect* out);
/* *out = atan2(in.y, in.x), in (-pi, pi]. */
ZFIT_API zfit_status zmath_vect_getDirection(const zmath_vect* in, double* out);

/* ---- tolerant comparisons (flags, not statuses) ----------------------- */

/* The library's own equality of doubles: non-zero when
 * |a - b| <= 1e-12 * max(1, |a|, |b|), that is an absolute tolerance of
 * 1e-12 near zero and a relative one of 1e-12 for larger magnitudes.
 * A NaN is equal to nothing. */
ZFIT_API int zmath_double_equal(double a, double b);
/* Non-zero when |a - b| <= eps (ordered: a NaN anywhere gives 0). */
ZFIT_API int zmath_double_epsilonEqual(double a, double b, double eps);
/* Non-zero when the angles *a and *b are equal within *eps modulo 2*pi:
 * the difference is brought into [-pi, pi] before it is compared. */
ZFIT_API int zmath_radian_epsilonEqual(const double* a, const double* b, const double* eps);

/* ---- 2x2 matrices ----------------------------------------------------- */

/* Sets the matrix row by row. */
ZFIT_API zfit_status zmath_matrix_init(zmath_matrix* m, double m00, double m01, double m10, double m11);
/* out = M * point; out may be point. */
ZFIT_API zfit_status zmath_matrix_mapPoint(const zmath_matrix* m, const zmath_vect* point, zmath_vect* out);

/* ---- linear transforms ------------------------------------------------ */

/* M = identity, t = (0, 0). */
ZFIT_API zfit_status zmath_xformLinear_initIdentity(zmath_xformLinear* xf);
/* Sets matrix and translation. */
ZFIT_API zfit_status zmath_xformLinear_init(zmath_xformLinear* xf, const zmath_matrix* m, const zmath_vect* t);
/* out = the inverse transform; out may be xf. zmath_errMatrixSingular (out
 * untouched) when det M is 0 or not finite. */
ZFIT_API zfit_status zmath_xformLinear_getInverse(const zmath_xformLinear* xf, zmath_xformLinear* out);
/* out = M * point + t, exactly the formula of the layout; out may be point. */
ZFIT_API zfit_status zmath_xformLinear_mapPoint(const zmath_xformLinear* xf, const zmath_vect* point, zmath_vect* out);

/* ---- rigid transforms ------------------------------------------------- */

/* The identity (angle 0, no translation). */
ZFIT_API zfit_status zmath_xformRigid_initIdentity(zmath_xformRigid* xf);
/* Rotation by *angle (stored as given), then translation *t. */
ZFIT_API zfit_status zmath_xformRigid_initAngleTrans(zmath_xformRigid* xf, const double* angle, const zmath_vect* t);
/* The same with the translation given as tx, ty. */
ZFIT_API zfit_status zmath_xformRigid_initAngleTransElements(zmath_xformRigid* xf, const double* angle, double tx,
                                                             double ty);
/* Replaces the rotation angle, keeps the translation. */
ZFIT_API zfit_status zmath_xformRigid_setAngle(zmath_xformRigid* xf, const double* angle);
/* *angle = the rotation angle as stored. */
ZFIT_API zfit_status zmath_xformRigid_getAngle(const zmath_xformRigid* xf, double* angle);
/* out = first o second (apply second, then first); out may be either input.
 * The angle of the composition is brought into (-pi, pi]. */
ZFIT_API zfit_status zmath_xformRigid_initCompose(zmath_xformRigid* out, const zmath_xformRigid* first,
                                                  const zmath_xformRigid* second);
/* out = the inverse; out may be xf. Its angle is -angle brought into (-pi, pi]. */
ZFIT_API zfit_status zmath_xformRigid_getInverse(const zmath_xformRigid* xf, zmath_xformRigid* out);
/* out = R(angle) * point + t; out may be point. */
ZFIT_API zfit_status zmath_xformRigid_mapPoint(const zmath_xformRigid* xf, const zmath_vect* point, zmath_vect* out);

ZFIT_EXTERN_C_END

#endif
