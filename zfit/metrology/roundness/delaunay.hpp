// The Delaunay triangulation of the profile: the dual of its Voronoi
// diagram, whose vertices are the centres of the empty circles through
// three points.
#pragma once

#include <cstdint>
#include <span>

#include "roundness_internal.hpp"

namespace zmet::roundness {

// Triangles as corners: triangle t has the vertices corner[3t],
// corner[3t + 1], corner[3t + 2], counterclockwise. Half-edge h = 3t + j
// runs from corner[h] to the next corner of its triangle; twin[h] is the
// half-edge of the neighbouring triangle along the same edge, or -1 on the
// hull. Duplicate points take part once.
struct Triangulation {
    std::span<const int32_t> corner, twin;
    int32_t triangles = 0;
};

// A point of the profile as the sweep keeps it: in sorted order, with its
// position in the profile.
struct SweepPoint {
    zmath_vect at;
    int32_t index;
};

// Index storage for n points: triangulationStorage(n) entries.
int64_t triangulationStorage(int32_t n);

// Triangulates the points of the profile at the positions `subset` (all of
// them when it is empty), with `sorted` (one record per point) and `work`
// (triangulationStorage(n) entries) as storage; the corners are positions
// in the profile. zmath_errDegenerate when all the points lie on one line;
// the attention check's status when it stops the work.
zfit_status triangulate(const Profile& profile, std::span<const int32_t> subset, std::span<SweepPoint> sorted,
                        std::span<int32_t> work, Triangulation* triangulation);

}  // namespace zmet::roundness
