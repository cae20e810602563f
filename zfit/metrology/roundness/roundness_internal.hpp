// The pieces of a roundness evaluation, shared by its sources: owned work
// storage, the profile in normalised coordinates, its linearisation about a
// centre, and the candidate circle each search hands to the certificate.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/metrology/roundness/roundness.h>
#include <zfit/services/containers.hpp>

// The destruct of the one result record the roundness keeps as work
// storage, for zsvc::Owned (found by argument-dependent lookup).
inline zfit_status destruct(zmath_circleFitResult* r) { return zmath_circleFitResult_destruct(r); }

namespace zmet::roundness {

// ---- owned service containers ---------------------------------------------

// Work storage lives in the services' zsvc::Owned, which finds the result
// record's destruct (declared at global scope, above) by its argument.
using zsvc::Owned;

// count doubles, or count indices, of scratch as a span.
zfit_status makeScratch(Owned<zstd_vectord>& storage, int64_t count, std::span<double>* scratch);
zfit_status makeIndices(Owned<zstd_vector32>& storage, int64_t count, std::span<int32_t>* indices);

// ---- the profile ------------------------------------------------------------

// The caller's points moved and scaled so that they lie within the unit
// square about the origin: original = origin + scale * normalised. The
// scale is a power of two, so scaling is exact and every search runs on
// numbers of the same size whatever the units of the caller.
struct Profile {
    std::span<const zmath_vect> points;
    zmath_vect origin{};
    double scale = 1.0;
};

// Copies and normalises count points into storage. zmet_errNotFinite for a
// NaN or infinite coordinate or an extent beyond the doubles;
// zmath_errDegenerate when all points coincide.
zfit_status normaliseProfile(const zmath_vect* points, int32_t count, Owned<zstd_vector_zmath_vect>& storage,
                             Profile* profile);

// The least-squares centre of the profile (the algebraic circle with unit
// weights, through the fitting library). zmath_errDegenerate for fewer than
// three distinct points or points on one line. `ones` is scratch of one
// double per point.
zfit_status leastSquaresCentre(const Profile& profile, std::span<double> ones, zmath_vect* centre);

// The smallest and largest distance of a point from a centre: the radii of
// the zone about it. One pass.
struct Radii {
    double nearest = HUGE_VAL, farthest = 0.0;
    double width() const { return farthest - nearest; }
};
Radii radiiAbout(const Profile& profile, const zmath_vect& centre);

// How the points surround a centre: their nearest and farthest distance,
// and a bound on the widest angle between the directions of two points next
// to each other around it (from buckets of a monotone stand-in for the
// angle: `marks` is scratch of one entry per bucket). One pass.
struct Surround {
    double nearest = 0.0, farthest = 0.0, widestGap = 0.0;
};
Surround surroundAbout(const Profile& profile, const zmath_vect& centre, std::span<int32_t> marks);
// The bucket of p's direction from `centre`, of `buckets` around it.
int32_t bucketOf(const zmath_vect& p, const zmath_vect& centre, int32_t buckets);

// ---- linearisation about a centre ---------------------------------------------

// Distance rho and unit direction u of every point from a centre c. About
// c, the distance of point k from a nearby centre c + delta is
// rho[k] - u[k] . delta up to a term of order |delta|^2 / rho[k]: the
// linear model in which the exchanges run.
struct Linearisation {
    std::span<double> rho, ux, uy;
    double nearest = 0.0, farthest = 0.0;
};

// Scratch for a linearisation of n points: 3n doubles.
Linearisation linearisationIn(std::span<double> scratch, int32_t n);

// Fills lin about centre; nearest and farthest are the smallest and largest
// distance. A point on the centre gets direction (0, 0).
void linearise(const Profile& profile, const zmath_vect& centre, Linearisation& lin);

// ---- searches ---------------------------------------------------------------

// What a search found: a centre and the points that it rests on (outer
// points first for the minimum zone), handed to the certificate.
struct Candidate {
    zmath_vect centre{};
    int32_t count = 0;
    int32_t index[4] = {0, 0, 0, 0};
    int32_t outer[4] = {0, 0, 0, 0};
};

// The minimum zone: a local optimum, by an exchange from `start` (the
// least-squares centre) in `lin`.
zfit_status searchMinimumZone(const Profile& profile, const zmath_vect& start, Linearisation& lin,
                              Candidate* candidate);
// The least over the square |D.x|, |D.y| <= half of max_k (c_k - w_k . D):
// the minimum of four planes' upper envelope, exact up to rounding; the branch
// and bound's lower bound rests on it (zone_global.cpp).
double leastOverSquare(const double (&c)[4], const zmath_vect (&w)[4], double half);
// The global minimum zone from the local optimum in *candidate (replaced
// when a narrower zone turns up): a branch and bound over the centres,
// zone_global.cpp. `scratch` holds zoneStorage(n) indices.
// zmet_errSearchBudget when it would evaluate more than 2^28 distances;
// zmath_errDegenerate when no circle's zone is narrower than the narrowest
// straight strip that holds the points.
int64_t zoneStorage(int32_t n);
zfit_status proveMinimumZone(const Profile& profile, Linearisation& lin, std::span<int32_t> scratch,
                             Candidate* candidate);
// The inscribed circle: zmet_errProfileOpen unless the points surround
// `start`; `sorted` (one record per point, delaunay.hpp) and `work`
// (inscribedStorage(n) indices) are its storage.
struct SweepPoint;
int64_t inscribedStorage(int32_t n);
zfit_status searchInscribed(const Profile& profile, const zmath_vect& start, std::span<SweepPoint> sorted,
                            std::span<int32_t> work, Candidate* candidate);
// The circumscribed circle; `order` is scratch of one index per point.
zfit_status searchCircumscribed(const Profile& profile, std::span<int32_t> order, Candidate* candidate);

// ---- certificate ------------------------------------------------------------

// The tolerance, relative to the outer radius, within which a point counts
// as touching a circle.
inline constexpr double kContactTolerance = 1e-10;

// Checks the optimality condition of `method` at the candidate's centre and
// writes the result in the caller's units (all but isValid): the radii from
// every point, and the contacts that certify the circle. The candidate's
// own points are tried first; when they do not certify it, every contact is
// considered. zmet_errNotCertified (or zmet_errProfileOpen for an inscribed
// circle whose contacts do not surround its centre) when the condition
// fails.
zfit_status certify(int32_t method, const Profile& profile, const Candidate& candidate, zmet_roundnessResult* result);

// Whether the candidate's own points certify it: certify's quick path, with
// no storage and no result.
bool certifiedByOwnPoints(int32_t method, const Profile& profile, const Candidate& candidate);

}  // namespace zmet::roundness
