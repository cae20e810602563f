// The certificate of a reference circle: its radii measured over every
// point, and the contacts that prove it optimal.
//
//   circumscribed  the outer contacts surround the centre: no gap between
//                  their directions exceeds a half turn, so no move of the
//                  centre brings all of them closer;
//   inscribed      the same for the inner contacts: no move takes the
//                  centre away from all of them;
//   minimum zone   the outer and inner contacts cannot be separated by a
//                  line through the centre: going round the centre, the
//                  roles change at least four times (an outer, inner,
//                  outer, inner quadruple), or an outer and an inner
//                  contact lie on one ray. Then no move shrinks the outer
//                  radius and grows the inner one at once. Every point on
//                  one circle within the tolerance is the trivial case.
//
// The search's own points are tried first (two to four of them, no
// storage); only when they fail is every contact gathered, sorted by angle
// and tried, which settles ties such as those of pixel-grid profiles.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "roundness_internal.hpp"

namespace zmet::roundness {

namespace {

constexpr double kPi = std::numbers::pi;
// Angles within this many radians count as one direction.
constexpr double kAngle = 1e-9;

struct Contact {
    double angle;
    int32_t index;
    int32_t outer;
};

struct Radii {
    double nearest = HUGE_VAL, farthest = 0.0;
};

double distance(const Profile& profile, const zmath_vect& centre, int32_t k)
{
    const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
    const double dx = p.x - centre.x, dy = p.y - centre.y;
    return std::sqrt(dx * dx + dy * dy);
}

Radii radiiAbout(const Profile& profile, const zmath_vect& centre)
{
    Radii r;
    const auto n = static_cast<int32_t>(profile.points.size());
    for (int32_t k = 0; k < n; ++k) {
        const double d = distance(profile, centre, k);
        r.nearest = d < r.nearest ? d : r.nearest;
        r.farthest = d > r.farthest ? d : r.farthest;
    }
    return r;
}

Contact contactOf(const Profile& profile, const zmath_vect& centre, int32_t k, int32_t outer)
{
    const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
    return {std::atan2(p.y - centre.y, p.x - centre.x), k, outer};
}

bool before(const Contact& a, const Contact& b) { return a.angle < b.angle || (a.angle == b.angle && a.index < b.index); }

void sortByAngle(std::span<Contact> contacts) { std::sort(contacts.begin(), contacts.end(), before); }

// The search's own two to four points.
void sortFewByAngle(Contact* contacts, int32_t count)
{
    for (int32_t j = 1; j < count; ++j)
        for (int32_t k = j; k > 0 && before(contacts[k], contacts[k - 1]); --k) std::swap(contacts[k], contacts[k - 1]);
}

// The counterclockwise gap from contact k to the next one (wrapping).
double gapAfter(std::span<const Contact> sorted, std::size_t k)
{
    const std::size_t next = (k + 1) % sorted.size();
    return next == 0 ? sorted[0].angle + 2.0 * kPi - sorted[k].angle : sorted[next].angle - sorted[k].angle;
}

// Two or three sorted contacts that surround the centre: from the first,
// the farthest one within a half turn, and from that one the farthest
// again; when no gap exceeds a half turn the third closes the circle.
bool chooseSurrounding(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    if (sorted.size() < 2) return false;
    for (std::size_t k = 0; k < sorted.size(); ++k)
        if (gapAfter(sorted, k) > kPi + kAngle) return false;
    const auto farthestWithinHalfTurn = [&](std::size_t from) {
        std::size_t to = from;
        while (to + 1 < sorted.size() && sorted[to + 1].angle - sorted[from].angle <= kPi + kAngle) ++to;
        return to;
    };
    const std::size_t second = farthestWithinHalfTurn(0);
    chosen[0] = sorted[0];
    chosen[1] = sorted[second];
    if (sorted[second].angle - sorted[0].angle >= kPi - kAngle) {
        *count = 2;
        return true;
    }
    chosen[2] = sorted[farthestWithinHalfTurn(second)];
    *count = 3;
    return true;
}

// Four sorted contacts whose roles alternate (the first of each of four
// consecutive runs of one role), else an outer and an inner contact on one
// ray.
bool chooseAlternating(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    const std::size_t n = sorted.size();
    std::size_t runStarts[4] = {0, 0, 0, 0};
    std::size_t runs = 0, first = n;
    for (std::size_t k = 0; k < n; ++k)
        if (sorted[k].outer != sorted[(k + n - 1) % n].outer) {
            first = k;
            break;
        }
    if (first < n) {
        for (std::size_t step = 0; step < n && runs < 4; ++step) {
            const std::size_t k = (first + step) % n;
            if (sorted[k].outer != sorted[(k + n - 1) % n].outer) runStarts[runs++] = k;
        }
    }
    if (runs == 4) {
        for (std::size_t r = 0; r < 4; ++r) chosen[r] = sorted[runStarts[r]];
        *count = 4;
        return true;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t next = (k + 1) % n;
        if (sorted[k].outer != sorted[next].outer && gapAfter(sorted, k) <= kAngle) {
            chosen[0] = sorted[k];
            chosen[1] = sorted[next];
            *count = 2;
            return true;
        }
    }
    return false;
}

// Every point on one circle: up to four points spread around it, with the
// roles alternating by angle.
bool chooseSpread(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    const std::size_t n = sorted.size();
    if (n < 3) return false;
    const std::size_t take = std::min<std::size_t>(n, 4);
    for (std::size_t r = 0; r < take; ++r) {
        chosen[r] = sorted[r * n / take];
        chosen[r].outer = (r % 2 == 0) ? 1 : 0;
    }
    *count = static_cast<int32_t>(take);
    return true;
}

struct Condition {
    int32_t method;
    bool zeroZone;
};

bool choose(const Condition& condition, std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    if (condition.zeroZone) return chooseSpread(sorted, chosen, count);
    if (condition.method == zmet_roundnessMinimumZone) return chooseAlternating(sorted, chosen, count);
    return chooseSurrounding(sorted, chosen, count);
}

// Whether point k at distance d touches the circle of its role; a point on
// the centre has no direction and touches nothing.
struct Touch {
    Radii radii;
    double tolerance;
    bool outer(double d) const { return d > 0.0 && d >= radii.farthest - tolerance; }
    bool inner(double d) const { return d > 0.0 && d <= radii.nearest + tolerance; }
};

// The search's own points, when each touches the circle of its role.
bool ownContacts(const Profile& profile, const Candidate& candidate, const Touch& touch, const Condition& condition,
                 Contact* own, int32_t* count)
{
    for (int32_t k = 0; k < candidate.count; ++k) {
        const int32_t outer = condition.method == zmet_roundnessCircumscribed ? 1
                              : condition.method == zmet_roundnessInscribed ? 0
                                                                             : candidate.outer[k];
        const double d = distance(profile, candidate.centre, candidate.index[k]);
        const bool touches = condition.zeroZone ? d > 0.0 : outer ? touch.outer(d) : touch.inner(d);
        if (!touches) return false;
        own[k] = contactOf(profile, candidate.centre, candidate.index[k], outer);
    }
    *count = candidate.count;
    return candidate.count > 0;
}

// Every point that touches a circle the method uses (both roles when the
// zone is zero, so the outer one is taken), gathered into storage.
zfit_status allContacts(const Profile& profile, const zmath_vect& centre, const Touch& touch, const Condition& condition,
                        Owned<zstd_vector_>& storage, std::span<Contact>* contacts)
{
    const bool outerCounts = condition.method != zmet_roundnessInscribed;
    const bool innerCounts = condition.method != zmet_roundnessCircumscribed;
    const auto n = static_cast<int32_t>(profile.points.size());
    const auto role = [&](int32_t k) {
        const double d = distance(profile, centre, k);
        if (outerCounts && touch.outer(d)) return 1;
        if (innerCounts && touch.inner(d)) return 0;
        return -1;
    };
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) count += role(k) >= 0 ? 1 : 0;
    ZMET_TRY(storage.construct(zstd_vector__constructWithVtable, static_cast<int64_t>(count), sizeof(Contact),
                               static_cast<const void*>(nullptr)));
    void* begin = nullptr;
    ZMET_TRY(zstd_vector__getBeginEnd(storage.get(), &begin, nullptr));
    auto* out = static_cast<Contact*>(begin);
    int32_t filled = 0;
    for (int32_t k = 0; k < n && filled < count; ++k) {
        const int32_t r = role(k);
        if (r >= 0) out[filled++] = contactOf(profile, centre, k, r);
    }
    *contacts = std::span<Contact>(out, static_cast<std::size_t>(filled));
    return zfit_ok;
}

void write(const Profile& profile, const zmath_vect& centre, const Radii& radii, const Contact* chosen,
           int32_t count, zmet_roundnessResult* result)
{
    result->centre = {profile.origin.x + profile.scale * centre.x, profile.origin.y + profile.scale * centre.y};
    result->innerRadius = profile.scale * radii.nearest;
    result->outerRadius = profile.scale * radii.farthest;
    result->roundness = result->outerRadius - result->innerRadius;
    result->contactCount = count;
    for (int32_t k = 0; k < 4; ++k) {
        result->contacts[k] = k < count ? chosen[k].index : -1;
        result->contactOnOuter[k] = k < count ? chosen[k].outer : 0;
    }
}

}  // namespace

zfit_status certify(int32_t method, const Profile& profile, const Candidate& candidate, zmet_roundnessResult* result)
{
    const Radii radii = radiiAbout(profile, candidate.centre);
    const Touch touch{radii, kContactTolerance * radii.farthest};
    const Condition condition{method, method == zmet_roundnessMinimumZone &&
                                          radii.farthest - radii.nearest <= 2.0 * touch.tolerance};
    Contact chosen[4];
    int32_t count = 0;

    Contact own[4];
    int32_t owned = 0;
    if (ownContacts(profile, candidate, touch, condition, own, &owned)) {
        sortFewByAngle(own, owned);
        if (choose(condition, std::span<const Contact>(own, static_cast<std::size_t>(owned)), chosen, &count)) {
            write(profile, candidate.centre, radii, chosen, count, result);
            return zfit_ok;
        }
    }

    Owned<zstd_vector_> storage;
    std::span<Contact> contacts;
    ZMET_TRY(allContacts(profile, candidate.centre, touch, condition, storage, &contacts));
    sortByAngle(contacts);
    if (!choose(condition, contacts, chosen, &count))
        return method == zmet_roundnessInscribed ? zmet_errProfileOpen : zmet_errNotCertified;
    write(profile, candidate.centre, radii, chosen, count, result);
    return zfit_ok;
}

}  // namespace zmet::roundness
