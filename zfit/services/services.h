/* All services: math, shapes, dense matrices, containers, run-time. */
#ifndef ZFIT_SERVICES_SERVICES_H
#define ZFIT_SERVICES_SERVICES_H

#include <zfit/services/containers.h>
#include <zfit/services/math.h>
#include <zfit/services/nmmatrix.h>
#include <zfit/services/shapes.h>
#include <zfit/services/system.h>

#endif
