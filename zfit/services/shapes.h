/* Shape services: the line, ellipse and parabola that the fits return.
 *
 * Conventions: angles in radians, counterclockwise positive; every operation
 * returns a zfit_status. */
#ifndef ZFIT_SERVICES_SHAPES_H
#define ZFIT_SERVICES_SHAPES_H

#include <zfit/services/math.h>

ZFIT_EXTERN_C_BEGIN

/* A line in normal form. Its points (x, y) satisfy
 *
 *     -x*sin(angle) + y*cos(angle) = d
 *
 * so (cos, sin) is its direction and (-sin, cos) its unit normal; the signed
 * offset of a point along that normal is -x*sin + y*cos - d. d is the first
 * member and may be read and written directly; set the angle through the
 * operations so that sine and cosine stay in step. The angle is stored
 * exactly as given (never folded into a range). */
typedef struct zmath_shapeFLine {
    double d;
    double angle;
    double sine;
    double cosine;
} zmath_shapeFLine;

/* The initial line of a fresh result: angle 0, d 0 (the x axis). */
ZFIT_API zfit_status zmath_shapeFLine_init(zmath_shapeFLine* line);
/* Sets the angle (*angle, stored as given) and d. */
ZFIT_API zfit_status zmath_shapeFLine_initAngleDistance(zmath_shapeFLine* line, const double* angle, double d);
/* Sets the angle (and its sine and cosine); d is left to the caller. */
ZFIT_API zfit_status zmath_shapeFLine_setAngle(zmath_shapeFLine* line, const double* angle);
/* *angle = the angle exactly as it was set. */
ZFIT_API zfit_status zmath_shapeFLine_getAngle(const zmath_shapeFLine* line, double* angle);
/* *out = d. */
ZFIT_API zfit_status zmath_shapeFLine_getDistance(const zmath_shapeFLine* line, double* out);
/* *out = sin(angle). */
ZFIT_API zfit_status zmath_shapeFLine_getSine(const zmath_shapeFLine* line, double* out);
/* *out = cos(angle). */
ZFIT_API zfit_status zmath_shapeFLine_getCosine(const zmath_shapeFLine* line, double* out);
/* *out = d + x*sin - y*cos for point (x, y): zero on the line, d at the
 * origin, and minus the offset along the normal. */
ZFIT_API zfit_status zmath_shapeFLine_distanceFrom(const zmath_shapeFLine* line, const zmath_vect* point, double* out);

/* An ellipse: its centre, radius1 (the semi-axis along the direction
 * `angle`), radius2 (the semi-axis at right angles to it) and the angle,
 * which the operations keep in [0, pi). Both radii are >= 0; either may be
 * the larger. Copy the record as a whole. */
typedef struct zmath_shapeEllipse {
    zmath_vect center;
    double radius1;
    double radius2;
    double angle;
} zmath_shapeEllipse;

/* Sets centre, radii (both >= 0) and angle (brought into [0, pi)).
 * zmath_errServiceDegenerateB when a radius is negative or a value is not
 * finite (ellipse untouched). */
ZFIT_API zfit_status zmath_shapeEllipse_init(zmath_shapeEllipse* ellipse, const zmath_vect* center, double radius1,
                                             double radius2, double angle);
/* The image of the unit circle under the transform: centre t, radii the
 * singular values of M (radius1 the larger), angle the direction of the
 * larger one. Never fails for finite input. */
ZFIT_API zfit_status zmath_shapeEllipse_initFromXform(zmath_shapeEllipse* ellipse, const zmath_xformLinear* xf);
/* The ellipse of the conic a*x^2 + b*xy + c*y^2 + d*x + e*y + f = 0.
 * Refuses, leaving the ellipse untouched:
 *   zmath_errServiceDegenerateA  when b^2 - 4ac >= 0 (or NaN): a parabola,
 *                                hyperbola or line pair, not an ellipse;
 *   zmath_errServiceDegenerateB  when the conic is an imaginary ellipse
 *                                (no real point), a single point, or its
 *                                centre or radii are not finite.
 * radius1 is the semi-major axis and angle its direction (the conic's scale
 * and sign do not matter). */
ZFIT_API zfit_status zmath_shapeEllipse_initAlgebraic(zmath_shapeEllipse* ellipse, double a, double b, double c,
                                                      double d, double e, double f);
/* *center = the centre. */
ZFIT_API zfit_status zmath_shapeEllipse_getCenter(const zmath_shapeEllipse* ellipse, zmath_vect* center);
/* Moves the ellipse to *center; radii and angle unchanged. */
ZFIT_API zfit_status zmath_shapeEllipse_setCenter(zmath_shapeEllipse* ellipse, const zmath_vect* center);
/* radii[0] = radius1 (along the angle), radii[1] = radius2. */
ZFIT_API zfit_status zmath_shapeEllipse_getRadii(const zmath_shapeEllipse* ellipse, double radii[2]);
/* *angle = the direction of radius1, in [0, pi). */
ZFIT_API zfit_status zmath_shapeEllipse_getAngle(const zmath_shapeEllipse* ellipse, double* angle);
/* The transform that maps the unit circle onto the ellipse:
 * M = R(angle) * diag(radius1, radius2), t = centre. */
ZFIT_API zfit_status zmath_shapeEllipse_getXform(const zmath_shapeEllipse* ellipse, zmath_xformLinear* xf);

/* A parabola: `pose` places the parabola's own frame in the plane, and in
 * that frame the curve is y = coefficient * x^2 (vertex at the origin). */
typedef struct zmath_shapeParabola {
    zmath_xformRigid pose;
    double coefficient;
} zmath_shapeParabola;

/* The initial parabola of a fresh result: identity pose, coefficient 0. */
ZFIT_API zfit_status zmath_shapeParabola_init(zmath_shapeParabola* parabola);

ZFIT_EXTERN_C_END

#endif
