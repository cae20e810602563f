/* Roundness: the reference circles of form measurement.
 *
 * Given the points of a measured profile (the edge of a bore, a shaft, a
 * punched hole), a roundness evaluation places a reference circle and
 * reports how far the points stray from it. Three reference circles are
 * offered; for each of them the result holds
 *
 *   centre        the centre of the reference circle;
 *   innerRadius   the smallest distance of a point from the centre;
 *   outerRadius   the largest distance of a point from the centre;
 *   roundness     outerRadius - innerRadius, the width of the ring about
 *                 the centre that holds every point;
 *   contacts      the points that fix the reference circle.
 *
 * Methods (zmet_roundnessParams.method):
 *
 *   zmet_roundnessMinimumZone (0)     the two concentric circles closest
 *       together that hold every point between them: the centre minimises
 *       outerRadius - innerRadius. Optimality condition: four contacts in
 *       distinct directions alternate around the centre between the outer
 *       and the inner circle (outer, inner, outer, inner), so that every
 *       move of the centre widens the zone. The degenerate case of every
 *       point on one circle (roundness zero within the tolerance below) is
 *       reported with three or four points spread around it as contacts;
 *       a zone whose contacts share rays (an outer and an inner one in the
 *       same direction, as a few grid points give) with the points that
 *       touch it.
 *   zmet_roundnessCircumscribed (1)   the smallest circle that holds every
 *       point; its radius is outerRadius. Two or three contacts lie on it
 *       and surround the centre (two at the ends of a diameter, or three
 *       with the centre inside their triangle). This circle is unique and
 *       the result is the global optimum.
 *   zmet_roundnessInscribed (2)       the largest circle with no point
 *       inside it that the points hold: its contacts (normally three) lie
 *       on it and surround its centre, so it cannot grow by moving. The
 *       points must surround their least-squares centre (it lies inside
 *       their convex hull); an open arc has no inscribed circle.
 *
 * Guarantees. Every result is the global optimum of its method. The
 * circumscribed circle is unique (Welzl's algorithm). The inscribed circle
 * is the global optimum among the empty circles held by their contacts (the
 * largest circumcircle of a Delaunay triangle that holds its own centre).
 * The minimum zone is found by an exchange of contacts from the
 * least-squares centre (zmath_circleFitWeighted with unit weights), which
 * stops only where the optimality condition above holds, and then proved
 * global by a branch and bound over all centres: every centre that could
 * give a narrower zone lies within a bounded region (seen from far off the
 * zone tends to the width of a straight strip), a disc about the found
 * centre is shut out by its alternating contacts, and the rest is cut into
 * boxes until a lower bound on each box's zones reaches the found width, or
 * a box yields a narrower zone from which the exchange descends again. Full
 * profiles, open arcs of any length and scattered clouds alike: the
 * result's roundness is within 1e-12 of the profile's extent of the
 * narrowest zone over all centres (over centres so far from the points that
 * the zone about them rounds by more, within that rounding; centres more
 * than 65536 times the extent away are not taken).
 *
 * Contacts and tolerance. A point is a contact when its distance lies
 * within 1e-10 * outerRadius of the circle it touches. The certificates
 * are checked with that tolerance, so ties in pixel-grid (integer) profiles
 * are handled as such.
 *
 * Cost, for n points: the circumscribed circle takes expected linear time
 * (a few passes over a shuffled copy); the minimum zone takes one pass per
 * exchange of a contact and per relinearisation, typically 10 to 20 passes
 * in all, and one pass per box of its proof: a few dozen on a full profile,
 * up to some thousands on a short arc with a form error comparable to its
 * sagitta; at most 2^28 distances in all, about a second (then
 * zmet_errSearchBudget); the inscribed circle
 * takes O(n log n) for a Delaunay triangulation, of a fraction of the points
 * for a dense profile (the minimum zone sorts the points too when they
 * surround no centre: an open arc). Work storage: about 52 bytes per point
 * for the minimum zone, 30 for the circumscribed circle and 120 for the
 * inscribed one, allocated once per call. The searches poll
 * zsys_attention_check (zfit/services/system.h) once per exchange,
 * relinearisation and box, once per 4096 points of the triangulation, and
 * whenever the circumscribed circle is rebuilt.
 *
 * Compiles as C11 and as C++. */
#ifndef ZFIT_METROLOGY_ROUNDNESS_ROUNDNESS_H
#define ZFIT_METROLOGY_ROUNDNESS_ROUNDNESS_H

#include <zfit/zfit.h>

ZFIT_EXTERN_C_BEGIN

/* The reference circles (values of zmet_roundnessParams.method). */
enum { zmet_roundnessMinimumZone = 0, zmet_roundnessCircumscribed = 1, zmet_roundnessInscribed = 2 };

/* Fields in this order. */
typedef struct zmet_roundnessParams {
    /* Which reference circle: zmet_roundnessMinimumZone (default),
     * zmet_roundnessCircumscribed or zmet_roundnessInscribed. */
    int32_t method;
    /* isValid is 1 only when roundness < maxRoundness (>= 0; NaN and -0.0
     * pass the check). Default HUGE_VAL: every result is valid. */
    double maxRoundness;
} zmet_roundnessParams;

/* A plain record: it owns no storage and needs no life cycle. Fields in
 * this order; all of them are written together by a successful call and
 * none by a failed one. */
typedef struct zmet_roundnessResult {
    /* 1 when roundness < maxRoundness (strict; equality or NaN give 0). */
    int32_t isValid;
    /* Centre of the reference circle, in the units of the points. */
    zmath_vect centre;
    /* Smallest and largest distance of a point from centre. */
    double innerRadius;
    double outerRadius;
    /* outerRadius - innerRadius: the width of the zone about centre. */
    double roundness;
    /* How many entries of contacts are used: 2, 3 or 4; the others hold -1
     * (and contactOnOuter 0). */
    int32_t contactCount;
    /* 0-based positions, in the caller's list, of the points that fix the
     * reference circle, counterclockwise about the centre. */
    int32_t contacts[4];
    /* contactOnOuter[k] is 1 when contacts[k] lies on the outer circle
     * (distance outerRadius) and 0 when on the inner one. Circumscribed:
     * all 1; inscribed: all 0; minimum zone: alternating. */
    int32_t contactOnOuter[4];
} zmet_roundnessResult;

/* Defaults: method zmet_roundnessMinimumZone, maxRoundness HUGE_VAL.
 * Returns 0 (NULL is a broken precondition). */
ZFIT_API zfit_status zmet_roundnessParams_init(zmet_roundnessParams* params);

/* Checks in this order: maxRoundness below 0.0 ->
 * zmet_errMaxRoundnessNegative; method not one of the three ->
 * zmath_errFitBadMode. Else 0. NULL is a broken precondition. */
ZFIT_API zfit_status zmet_roundnessParams_validate(const zmet_roundnessParams* params);

/* The reference circle of count points (see the top of this header) and
 * the roundness about it.
 *
 * Returns 0, or the first failure:
 *   zmet_errMaxRoundnessNegative, zmath_errFitBadMode   the parameters;
 *   zmet_errNotFinite      a coordinate is NaN or infinite, or the points
 *                          spread so far that their extent, or the
 *                          reference circle found, is not finite in
 *                          doubles;
 *   zmath_errDegenerate    fewer than 3 distinct points, or all points on
 *                          one line (within the least-squares circle's
 *                          relative tolerance); a negative count counts as
 *                          0; minimum zone: no circle's zone is narrower
 *                          than the narrowest straight strip that holds the
 *                          points by more than 2^-30 of their extent (the
 *                          zone narrows as its centre recedes, as four
 *                          points two by two on two parallel lines give);
 *   zmet_errProfileOpen    inscribed circle only: the points do not
 *                          surround their least-squares centre (an open
 *                          arc of less than a half circle), or no empty
 *                          circle is held by contacts all around it. No
 *                          inscribed circle is defined;
 *   zmet_errNotCertified   circumscribed circle only: the search ended at a
 *                          centre whose contacts do not meet the optimality
 *                          condition within the tolerance (not met in
 *                          practice);
 *   zmet_errSearchBudget   minimum zone only: proving the zone global would
 *                          evaluate more than 2^28 distances (boxes of
 *                          centres times points). No zone is claimed;
 *   zsys_errCancelled (or the host's status)   the attention check stopped
 *                          the search;
 *   zstd_errOutOfMemory, zstd_errBadCount   work storage could not be had.
 * On success every field of the result is written. On failure the result
 * is as before the call. NULL params or result, or NULL points with a
 * positive count, are broken preconditions (assertion service). */
ZFIT_API zfit_status zmet_roundness(const zmath_vect* points, int32_t count, const zmet_roundnessParams* params,
                                    zmet_roundnessResult* result);

/* The same for the points of a vector (read only); contacts are positions
 * in the vector. A NULL vector is a broken precondition. */
ZFIT_API zfit_status zmet_roundnessVector(const zstd_vector_zmath_vect* points, const zmet_roundnessParams* params,
                                          zmet_roundnessResult* result);

ZFIT_EXTERN_C_END

#endif
