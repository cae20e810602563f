// The roundness entries: parameter checks, the work storage of one call,
// the search of the chosen reference circle and its certificate.
#include <cmath>

#include "delaunay.hpp"
#include "roundness_internal.hpp"

#include <zfit/services/require.hpp>

namespace zmet::roundness {

namespace {

bool knownMethod(int32_t method)
{
    return method == zmet_roundnessMinimumZone || method == zmet_roundnessCircumscribed ||
           method == zmet_roundnessInscribed;
}

// The circumscribed circle with its shuffle order.
zfit_status circumscribedWithStorage(const Profile& profile, Candidate* candidate)
{
    Owned<zstd_vector32> storage;
    std::span<int32_t> order;
    ZFIT_TRY(makeIndices(storage, static_cast<int64_t>(profile.points.size()), &order));
    return searchCircumscribed(profile, order, candidate);
}

// The inscribed circle with its triangulation's storage.
zfit_status inscribedWithStorage(const Profile& profile, const zmath_vect& start, Candidate* candidate)
{
    const auto n = static_cast<int32_t>(profile.points.size());
    Owned<zstd_vector_> sortedStorage;
    ZFIT_TRY(sortedStorage.construct(zstd_vector__constructWithVtable, static_cast<int64_t>(n), sizeof(SweepPoint),
                                     static_cast<const void*>(nullptr)));
    void* sorted = nullptr;
    ZFIT_TRY(zstd_vector__getBeginEnd(sortedStorage.get(), &sorted, nullptr));
    Owned<zstd_vector32> workStorage;
    std::span<int32_t> work;
    ZFIT_TRY(makeIndices(workStorage, inscribedStorage(n), &work));
    const std::span<SweepPoint> records(static_cast<SweepPoint*>(sorted), static_cast<std::size_t>(n));
    return searchInscribed(profile, start, records, work, candidate);
}

// Normalises the points, checks them through the least-squares circle
// (which also gives the searches their start), runs the method's search
// and certifies its result. Every piece of work storage is allocated once
// per call.
zfit_status evaluate(int32_t method, const zmath_vect* points, int32_t count, zmet_roundnessResult* found)
{
    Owned<zstd_vector_zmath_vect> moved;
    Profile profile;
    ZFIT_TRY(normaliseProfile(points, count, moved, &profile));

    // Scratch doubles: unit weights for the least-squares start, then the
    // minimum zone's linearisation.
    const int64_t perPoint = method == zmet_roundnessMinimumZone ? 3 : 1;
    Owned<zstd_vectord> scratchStorage;
    std::span<double> scratch;
    ZFIT_TRY(makeScratch(scratchStorage, perPoint * count, &scratch));
    zmath_vect start;
    ZFIT_TRY(leastSquaresCentre(profile, scratch.first(static_cast<std::size_t>(count)), &start));

    Candidate candidate;
    if (method == zmet_roundnessMinimumZone) {
        Linearisation lin = linearisationIn(scratch, count);
        ZFIT_TRY(searchMinimumZone(profile, start, lin, &candidate));
        Owned<zstd_vector32> proofStorage;
        std::span<int32_t> proofScratch;
        ZFIT_TRY(makeIndices(proofStorage, zoneStorage(count), &proofScratch));
        ZFIT_TRY(proveMinimumZone(profile, lin, proofScratch, &candidate));
    } else if (method == zmet_roundnessCircumscribed) {
        ZFIT_TRY(circumscribedWithStorage(profile, &candidate));
    } else {
        ZFIT_TRY(inscribedWithStorage(profile, start, &candidate));
    }
    ZFIT_TRY(certify(method, profile, candidate, found));
    // Points spread near the largest double can have a reference circle
    // beyond it.
    const bool finite = std::isfinite(found->centre.x) && std::isfinite(found->centre.y) &&
                        std::isfinite(found->outerRadius) && std::isfinite(found->roundness);
    return finite ? zfit_ok : zmet_errNotFinite;
}

}  // namespace

}  // namespace zmet::roundness

extern "C" {

zfit_status zmet_roundnessParams_init(zmet_roundnessParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    params->method = zmet_roundnessMinimumZone;
    params->maxRoundness = HUGE_VAL;
    return zfit_ok;
}

zfit_status zmet_roundnessParams_validate(const zmet_roundnessParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    ZFIT_FAIL_IF(0.0 > params->maxRoundness, zmet_errMaxRoundnessNegative);
    ZFIT_FAIL_IF(!zmet::roundness::knownMethod(params->method), zmath_errFitBadMode);
    return zfit_ok;
}

zfit_status zmet_roundness(const zmath_vect* points, int32_t count, const zmet_roundnessParams* params,
                           zmet_roundnessResult* result)
{
    ZFIT_REQUIRE(params != nullptr && result != nullptr);
    ZFIT_TRY(zmet_roundnessParams_validate(params));
    if (count < 0) count = 0;
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    zmet_roundnessResult found{};
    ZFIT_TRY(zmet::roundness::evaluate(params->method, points, count, &found));
    found.isValid = params->maxRoundness > found.roundness ? 1 : 0;
    *result = found;
    return zfit_ok;
}

zfit_status zmet_roundnessVector(const zstd_vector_zmath_vect* points, const zmet_roundnessParams* params,
                                 zmet_roundnessResult* result)
{
    ZFIT_REQUIRE(points != nullptr);
    const zmath_vect* begin = nullptr;
    int32_t size = 0;
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginSizeConst(points, &begin, &size));
    return zmet_roundness(begin, size, params, result);
}

}  // extern "C"
