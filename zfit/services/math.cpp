// Exported 2-D math services; the arithmetic lives in math.hpp.
#include <algorithm>
#include <cmath>
#include <numbers>

#include <zfit/frame/status.hpp>
#include <zfit/services/math.hpp>

extern "C" {

zfit_status zmath_vect_init(zmath_vect* out, double x, double y)
{
    *out = {x, y};
    return zfit_ok;
}

zfit_status zmath_vect_initAdd(zmath_vect* out, const zmath_vect* a, const zmath_vect* b)
{
    *out = zsvc::add(*a, *b);
    return zfit_ok;
}

zfit_status zmath_vect_initSubtract(zmath_vect* out, const zmath_vect* a, const zmath_vect* b)
{
    *out = zsvc::subtract(*a, *b);
    return zfit_ok;
}

zfit_status zmath_vect_dot(const zmath_vect* a, const zmath_vect* b, double* out)
{
    *out = zsvc::dot(*a, *b);
    return zfit_ok;
}

zfit_status zmath_vect_getLength(const zmath_vect* in, double* out)
{
    *out = zsvc::length(*in);
    return zfit_ok;
}

zfit_status zmath_vect_getUnit(const zmath_vect* in, zmath_vect* out)
{
    const double length = zsvc::length(*in);
    ZFIT_FAIL_IF(!(length > 0.0) || !std::isfinite(length), zmath_errZeroLength);
    *out = {in->x / length, in->y / length};
    return zfit_ok;
}

zfit_status zmath_vect_getDirection(const zmath_vect* in, double* out)
{
    *out = std::atan2(in->y, in->x);
    return zfit_ok;
}

int zmath_double_equal(double a, double b) { return zsvc::doubleEqual(a, b); }

int zmath_double_epsilonEqual(double a, double b, double eps) { return std::fabs(a - b) <= eps; }

int zmath_radian_epsilonEqual(const double* a, const double* b, const double* eps)
{
    return std::fabs(zsvc::foldAngle(*a - *b)) <= *eps;
}

zfit_status zmath_matrix_init(zmath_matrix* m, double m00, double m01, double m10, double m11)
{
    *m = {m00, m01, m10, m11};
    return zfit_ok;
}

zfit_status zmath_matrix_mapPoint(const zmath_matrix* m, const zmath_vect* point, zmath_vect* out)
{
    *out = zsvc::mapPoint(*m, *point);
    return zfit_ok;
}

zfit_status zmath_xformLinear_initIdentity(zmath_xformLinear* xf)
{
    *xf = {{0.0, 0.0}, {1.0, 0.0, 0.0, 1.0}};
    return zfit_ok;
}

zfit_status zmath_xformLinear_init(zmath_xformLinear* xf, const zmath_matrix* m, const zmath_vect* t)
{
    xf->matrix = *m;
    xf->translation = *t;
    return zfit_ok;
}

zfit_status zmath_xformLinear_getInverse(const zmath_xformLinear* xf, zmath_xformLinear* out)
{
    const zmath_matrix& m = xf->matrix;
    const double det = m.m00 * m.m11 - m.m01 * m.m10;
    ZFIT_FAIL_IF(det == 0.0 || !std::isfinite(det), zmath_errMatrixSingular);
    const zmath_matrix inv{m.m11 / det, -m.m01 / det, -m.m10 / det, m.m00 / det};
    const zmath_vect t = zsvc::mapPoint(inv, xf->translation);
    *out = {{-t.x, -t.y}, inv};
    return zfit_ok;
}

zfit_status zmath_xformLinear_mapPoint(const zmath_xformLinear* xf, const zmath_vect* point, zmath_vect* out)
{
    *out = zsvc::mapPoint(*xf, *point);
    return zfit_ok;
}

zfit_status zmath_xformRigid_initIdentity(zmath_xformRigid* xf)
{
    *xf = zsvc::rigid(0.0, 0.0, 0.0);
    return zfit_ok;
}

zfit_status zmath_xformRigid_initAngleTrans(zmath_xformRigid* xf, const double* angle, const zmath_vect* t)
{
    *xf = zsvc::rigid(*angle, t->x, t->y);
    return zfit_ok;
}

zfit_status zmath_xformRigid_initAngleTransElements(zmath_xformRigid* xf, const double* angle, double tx, double ty)
{
    *xf = zsvc::rigid(*angle, tx, ty);
    return zfit_ok;
}

zfit_status zmath_xformRigid_setAngle(zmath_xformRigid* xf, const double* angle)
{
    *xf = zsvc::rigid(*angle, xf->translation.x, xf->translation.y);
    return zfit_ok;
}

zfit_status zmath_xformRigid_getAngle(const zmath_xformRigid* xf, double* angle)
{
    *angle = xf->angle;
    return zfit_ok;
}

zfit_status zmath_xformRigid_initCompose(zmath_xformRigid* out, const zmath_xformRigid* first,
                                         const zmath_xformRigid* second)
{
    *out = zsvc::compose(*first, *second);
    return zfit_ok;
}

zfit_status zmath_xformRigid_getInverse(const zmath_xformRigid* xf, zmath_xformRigid* out)
{
    *out = zsvc::inverse(*xf);
    return zfit_ok;
}

zfit_status zmath_xformRigid_mapPoint(const zmath_xformRigid* xf, const zmath_vect* point, zmath_vect* out)
{
    *out = zsvc::mapPoint(*xf, *point);
    return zfit_ok;
}

}  // extern "C"
