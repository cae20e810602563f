// Delaunay triangulation by a sweep over the points in lexicographic order
// with Lawson's edge flips (the incremental method of Lawson, 1977, with
// the points presorted; see de Berg et al., "Computational Geometry",
// chapter 9, for the flips and their termination).
//
// Each new point is the rightmost so far (ties: the topmost), so it lies
// outside the triangulation built so far and sees the hull from the
// outside: it only has to be joined to the hull edges it sees, and the
// previous point, the rightmost vertex of the hull, always ends one of
// them. Steps, as in the code below:
//   1. sortPoints: a copy of the points (all, or a subset) in lexicographic
//      order (x, then y), each with its position in the profile; equal
//      points meet there and all but the first are left out.
//   2. startFan: the leading points on one line, joined to the first point
//      off that line as a fan of triangles; its boundary is the first hull
//      (a counterclockwise ring: next, previous, and hullEdge[v], the
//      half-edge from v to its successor).
//   3. addPoint: from the previous point, the hull edges that the new point
//      p sees (p strictly to their right) form one run; each edge v->w of
//      it gets the triangle (v, p, w), linked to the previous one through
//      the edge p-w, and is legalised; p replaces the run's inner vertices
//      on the hull.
//   4. legalise: an edge opposite p is flipped while the vertex across it
//      lies surely inside the circle of p's triangle (predicates.hpp); the
//      two edges that then face p are checked in turn.
//
// Half-edges: h is in triangle h / 3 and runs from corner[h] to
// corner[next(h)]; twin[h] is the opposite half-edge, or none on the hull.
#include "delaunay.hpp"

#include <algorithm>

#include "predicates.hpp"

namespace zmet::roundness {

namespace {

constexpr int32_t kNone = -1;
constexpr int32_t kPollEvery = 4096;

int32_t nextEdge(int32_t h) { return h % 3 == 2 ? h - 2 : h + 1; }
int32_t previousEdge(int32_t h) { return h % 3 == 0 ? h + 2 : h - 1; }

class Sweep {
public:
    Sweep(std::span<SweepPoint> sorted, std::span<int32_t> work) : points_(sorted)
    {
        const std::size_t n = points_.size();
        std::size_t at = 0;
        const auto take = [&](std::size_t count) {
            const std::span<int32_t> part = work.subspan(at, count);
            at += count;
            return part;
        };
        corner_ = take(6 * n);
        twin_ = take(6 * n);
        hullNext_ = take(n);
        hullPrevious_ = take(n);
        hullEdge_ = take(n);
        stack_ = take(n + 8);
    }

    zfit_status run(const Profile& profile, std::span<const int32_t> subset, Triangulation* triangulation)
    {
        sortPoints(profile, subset);
        int32_t next = 0;
        ZFIT_FAIL_IF(!startFan(&next), zmath_errDegenerate);
        int32_t sincePoll = 0;
        for (const auto n = static_cast<int32_t>(points_.size()); next < n; ++next) {
            if (++sincePoll == kPollEvery) {
                sincePoll = 0;
                const zfit_status status = zsys_attention_check();
                if (ZFIT_FAILED(status)) return status;
            }
            if (sameAs(next, last_)) continue;
            addPoint(next);
        }
        // Corners from sorted positions to positions in the profile.
        const std::span<int32_t> used = corner_.first(static_cast<std::size_t>(3 * triangles_));
        for (int32_t& k : used) k = points_[static_cast<std::size_t>(k)].index;
        triangulation->corner = used;
        triangulation->twin = twin_.first(used.size());
        triangulation->triangles = triangles_;
        return zfit_ok;
    }

private:
    const zmath_vect& at(int32_t k) const { return points_[static_cast<std::size_t>(k)].at; }
    bool sameAs(int32_t a, int32_t b) const { return at(a).x == at(b).x && at(a).y == at(b).y; }
    int32_t& nextOf(int32_t v) { return hullNext_[static_cast<std::size_t>(v)]; }
    int32_t& previousOf(int32_t v) { return hullPrevious_[static_cast<std::size_t>(v)]; }
    int32_t& edgeOf(int32_t v) { return hullEdge_[static_cast<std::size_t>(v)]; }
    int32_t& corner(int32_t h) { return corner_[static_cast<std::size_t>(h)]; }
    int32_t& twin(int32_t h) { return twin_[static_cast<std::size_t>(h)]; }

    // Step 1. From here on a point is known by its sorted position. A bucket
    // sort on x (the normalised x lies in (-1, 1); one bucket per point on
    // average), then each bucket in full order: linear time on profiles,
    // with std::sort for a crowded bucket. The triangle arrays are still
    // free and serve as counts and permutation.
    void sortPoints(const Profile& profile, std::span<const int32_t> subset)
    {
        const auto n = static_cast<int32_t>(points_.size());
        const auto source = [&](int32_t k) { return subset.empty() ? k : subset[static_cast<std::size_t>(k)]; };
        const auto pointAt = [&](int32_t k) -> const zmath_vect& {
            return profile.points[static_cast<std::size_t>(source(k))];
        };
        const std::span<int32_t> start = twin_.first(static_cast<std::size_t>(n) + 1);
        const std::span<int32_t> permutation = corner_.first(static_cast<std::size_t>(n));
        const auto bucketOf = [n](double x) {
            const auto b = static_cast<int32_t>((x + 1.0) * 0.5 * n);
            return b < 0 ? 0 : b >= n ? n - 1 : b;
        };
        std::fill(start.begin(), start.end(), 0);
        for (int32_t k = 0; k < n; ++k) ++start[static_cast<std::size_t>(bucketOf(pointAt(k).x)) + 1];
        for (int32_t b = 0; b < n; ++b) start[static_cast<std::size_t>(b) + 1] += start[static_cast<std::size_t>(b)];
        for (int32_t k = 0; k < n; ++k) {
            int32_t& slot = start[static_cast<std::size_t>(bucketOf(pointAt(k).x))];
            permutation[static_cast<std::size_t>(slot++)] = k;
        }
        for (int32_t k = 0; k < n; ++k) {
            const int32_t from = permutation[static_cast<std::size_t>(k)];
            points_[static_cast<std::size_t>(k)] = {pointAt(from), source(from)};
        }
        // After the scatter, start[b] is the end of bucket b.
        const auto before = [](const SweepPoint& a, const SweepPoint& b) {
            if (a.at.x != b.at.x) return a.at.x < b.at.x;
            if (a.at.y != b.at.y) return a.at.y < b.at.y;
            return a.index < b.index;
        };
        int32_t begin = 0;
        for (int32_t b = 0; b < n; ++b) {
            const int32_t end = start[static_cast<std::size_t>(b)];
            const auto first = points_.begin() + begin, last = points_.begin() + end;
            if (end - begin > 32) {
                std::sort(first, last, before);
            } else {
                for (auto i = first + (end > begin ? 1 : 0); i < last; ++i)
                    for (auto j = i; j > first && before(*j, *(j - 1)); --j) std::swap(*j, *(j - 1));
            }
            begin = end;
        }
    }

    // Step 2. `next` is left at the first point after the fan.
    bool startFan(int32_t* next)
    {
        const auto n = static_cast<int32_t>(points_.size());
        int32_t second = 1;
        while (second < n && sameAs(second, 0)) ++second;
        if (second == n) return false;
        // The points on the line through the first two, in order.
        int32_t apex = second + 1;
        while (apex < n && orientation(at(0), at(second), at(apex)) == 0) ++apex;
        if (apex == n) return false;
        const bool counterclockwise = orientation(at(0), at(second), at(apex)) > 0;
        int32_t previous = 0;
        int32_t previousTriangle = kNone;
        for (int32_t v = 1; v < apex; ++v) {
            if (sameAs(v, previous)) continue;
            const int32_t t = counterclockwise ? addTriangle(previous, v, apex) : addTriangle(v, previous, apex);
            // The edge from the line to the apex is shared with the previous triangle.
            if (previousTriangle != kNone) {
                const int32_t mine = counterclockwise ? 3 * t + 2 : 3 * t + 1;
                const int32_t theirs = counterclockwise ? 3 * previousTriangle + 1 : 3 * previousTriangle + 2;
                twin(mine) = theirs;
                twin(theirs) = mine;
            }
            previous = v;
            previousTriangle = t;
        }
        for (int32_t h = 0; h < 3 * triangles_; ++h)
            if (twin(h) == kNone) {
                const int32_t from = corner(h), to = corner(nextEdge(h));
                nextOf(from) = to;
                previousOf(to) = from;
                edgeOf(from) = h;
            }
        last_ = apex;
        *next = apex + 1;
        return true;
    }

    int32_t addTriangle(int32_t a, int32_t b, int32_t c)
    {
        const int32_t t = triangles_++;
        corner(3 * t) = a;
        corner(3 * t + 1) = b;
        corner(3 * t + 2) = c;
        for (int32_t k = 0; k < 3; ++k) twin(3 * t + k) = kNone;
        return t;
    }

    // Makes x and y twins; y none makes x a hull edge.
    void link(int32_t x, int32_t y)
    {
        twin(x) = y;
        if (y != kNone)
            twin(y) = x;
        else
            edgeOf(corner(x)) = x;
    }

    // p lies strictly to the right of the hull edge from v to its successor.
    bool sees(int32_t p, int32_t v) { return orientation(at(v), at(nextOf(v)), at(p)) < 0; }

    // Step 3.
    void addPoint(int32_t p)
    {
        // A point outside a convex hull sees a run of its edges, never all;
        // the walks are bounded all the same.
        const auto steps = static_cast<int32_t>(points_.size());
        int32_t first = sees(p, last_) ? last_ : previousOf(last_);
        for (int32_t k = 0; k < steps && sees(p, previousOf(first)); ++k) first = previousOf(first);

        int32_t v = first;
        int32_t w = nextOf(v);
        int32_t t = addTriangle(v, p, w);
        link(3 * t + 2, edgeOf(v));
        link(3 * t, kNone);
        link(3 * t + 1, kNone);
        legalise(3 * t + 2);
        v = w;
        w = nextOf(v);
        for (int32_t k = 0; k < steps && v != first && sees(p, v); ++k) {
            t = addTriangle(v, p, w);
            link(3 * t + 2, edgeOf(v));
            link(3 * t, edgeOf(p));
            link(3 * t + 1, kNone);
            nextOf(v) = kNone;
            legalise(3 * t + 2);
            v = w;
            w = nextOf(v);
        }
        nextOf(first) = p;
        previousOf(p) = first;
        nextOf(p) = v;
        previousOf(v) = p;
        last_ = p;
    }

    // Step 4. `edge` lies opposite the new point in its triangle.
    void legalise(int32_t edge)
    {
        std::size_t depth = 0;
        stack_[depth++] = edge;
        while (depth > 0) {
            const int32_t a = stack_[--depth];
            const int32_t b = twin(a);
            if (b == kNone) continue;
            const int32_t an = nextEdge(a), ap = previousEdge(a), bn = nextEdge(b), bp = previousEdge(b);
            const int32_t p = corner(a), q = corner(an), r = corner(ap), s = corner(bp);
            if (!surelyInCircle(at(p), at(q), at(r), at(s))) continue;
            // Flip p-q to r-s: (s, r, p) in a's triangle, (r, s, q) in b's.
            const int32_t outerAn = twin(an), outerAp = twin(ap), outerBn = twin(bn), outerBp = twin(bp);
            corner(a) = s;
            corner(an) = r;
            corner(ap) = p;
            corner(b) = r;
            corner(bn) = s;
            corner(bp) = q;
            link(an, outerAp);
            link(ap, outerBn);
            link(bn, outerBp);
            link(bp, outerAn);
            if (depth + 2 <= stack_.size()) {
                stack_[depth++] = ap;
                stack_[depth++] = bn;
            }
        }
    }

    std::span<SweepPoint> points_;
    std::span<int32_t> corner_, twin_, hullNext_, hullPrevious_, hullEdge_, stack_;
    int32_t triangles_ = 0;
    int32_t last_ = kNone;
};

}  // namespace

int64_t triangulationStorage(int32_t n) { return 16 * static_cast<int64_t>(n) + 8; }

zfit_status triangulate(const Profile& profile, std::span<const int32_t> subset, std::span<SweepPoint> sorted,
                        std::span<int32_t> work, Triangulation* triangulation)
{
    const std::size_t count = subset.empty() ? profile.points.size() : subset.size();
    Sweep sweep(sorted.first(count), work);
    return sweep.run(profile, subset, triangulation);
}

}  // namespace zmet::roundness
