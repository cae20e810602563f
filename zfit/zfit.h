/* zfit: two-dimensional geometric fitting for machine vision.
 *
 * The whole public C API: status codes, services (vectors, transforms,
 * shapes, matrices, containers, run-time hooks) and every fitting family.
 * Compiles as C11 and as C++. Link with -lzfit (or CMake target zfit::zfit).
 *
 * Conventions common to all entries:
 *   - every function returns a zfit_status: 0 on success, a negative value
 *     (top bit set) on failure; test with ZFIT_FAILED(status);
 *   - angles are in radians, counterclockwise positive;
 *   - lines are in normal form -x*sin(theta) + y*cos(theta) = d;
 *   - records: see zfit/frame/records.h. */
#ifndef ZFIT_ZFIT_H
#define ZFIT_ZFIT_H

#include <zfit/frame/records.h>
#include <zfit/frame/status.h>
#include <zfit/services/services.h>

#include <zfit/circle/circle.h>
#include <zfit/ellipse/ellipse.h>
#include <zfit/line/line.h>
#include <zfit/parabola/parabola.h>
#include <zfit/pointtoline/pointtoline.h>
#include <zfit/pointtopoint/pointtopoint.h>

#endif
