// Geometric predicates for the triangulation: the side of a line a point
// lies on (exact), and whether a point lies surely inside a circle.
#pragma once

#include <zfit/zfit.h>

namespace zmet::roundness {

// +1 when a, b, c turn counterclockwise, -1 when clockwise, 0 when they
// are collinear. Exact: a floating-point filter (Shewchuk's bound) decides
// most cases; the rest are settled in exact expansion arithmetic.
int orientation(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c);

// True only when d lies inside the circle through the counterclockwise
// triangle a, b, c by more than the rounding of the floating-point
// determinant (Shewchuk's error bound): a point on the circle, or too
// close to tell, counts as not inside. Flipping an edge only on a sure
// "inside" lowers the lifted triangulation strictly, so the flips end.
bool surelyInCircle(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c, const zmath_vect& d);

}  // namespace zmet::roundness
