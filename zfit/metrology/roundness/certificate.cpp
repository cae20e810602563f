// The certificate of a reference circle: its radii measured over every
// point, and the contacts that prove it optimal.
//
//   circumscribed  the outer contacts surround the centre: no gap between
//                  their directions exceeds a half turn (within the
//                  tolerance), so no move of the centre brings all of them
//                  closer; as the farthest distance is convex in the
//                  centre, this proves the global optimum;
//   inscribed      the inner contacts surround the centre strictly: every
//                  gap is short of a half turn, so every move brings one of
//                  them nearer (two contacts at the ends of a diameter do
//                  not hold a circle: it grows by moving across);
//   minimum zone   four contacts in distinct directions alternate between
//                  the outer and the inner circle, so every move takes an
//                  outer one farther or brings an inner one nearer at a
//                  rate in proportion to the move; or every point lies on
//                  one circle within the tolerance. The zone is proved
//                  global by the search over all centres before it comes
//                  here; where its contacts share rays (an outer and an
//                  inner one in one direction, as a few grid points give)
//                  they are reported as they touch.
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

double distance(const Profile& profile, const zmath_vect& centre, int32_t k)
{
    const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
    const double dx = p.x - centre.x, dy = p.y - centre.y;
    return std::sqrt(dx * dx + dy * dy);
}

Contact contactOf(const Profile& profile, const zmath_vect& centre, int32_t k, int32_t outer)
{
    const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
    return {std::atan2(p.y - centre.y, p.x - centre.x), k, outer};
}

bool before(const Contact& a, const Contact& b)
{
    return a.angle < b.angle || (a.angle == b.angle && a.index < b.index);
}

void sortByAngle(std::span<Contact> contacts) { std::sort(contacts.begin(), contacts.end(), before); }

// The search's own two to four points.
void sortFewByAngle(Contact* contacts, int32_t count)
{
    for (int32_t j = 1; j < count; ++j)
        for (int32_t k = j; k > 0 && before(contacts[k], contacts[k - 1]); --k) std::swap(contacts[k], contacts[k - 1]);
}

// The counterclockwise angle from sorted contact `from` to sorted contact
// `to`, both taken as turns from `from` (so in [0, 2 pi)).
double turn(std::span<const Contact> sorted, std::size_t from, std::size_t to)
{
    const double a = sorted[to].angle - sorted[from].angle;
    return a < 0.0 ? a + 2.0 * kPi : a;
}

// A chain of at most `longest` sorted contacts that goes round the centre
// with no step wider than `reach` (strictly narrower when `strict`),
// written to `chain`; its length, or 0 when there is none. Each next
// contact is the farthest within reach, which closes the turn soonest;
// when some gap between neighbours is already too wide there is no chain,
// and otherwise one of the first few starts closes it (the first one,
// unless steps fall within rounding of the reach).
int32_t closingChain(std::span<const Contact> sorted, double reach, bool strict, int32_t longest, std::size_t* chain)
{
    constexpr std::size_t kStarts = 8;
    const std::size_t n = sorted.size();
    const auto within = [&](double step) { return strict ? step < reach : step <= reach; };
    for (std::size_t k = 0; k < n; ++k) {
        const double gap =
            k + 1 < n ? sorted[k + 1].angle - sorted[k].angle : sorted[0].angle + 2.0 * kPi - sorted[k].angle;
        if (!within(gap)) return 0;
    }
    for (std::size_t start = 0; start < n && start < kStarts; ++start) {
        int32_t length = 1;
        chain[0] = start;
        std::size_t at = 0;  // steps from start
        while (length <= longest) {
            if (length > 1 && within(2.0 * kPi - turn(sorted, start, (start + at) % n))) return length;
            std::size_t next = at;
            while (next + 1 < n && within(turn(sorted, (start + at) % n, (start + next + 1) % n))) ++next;
            if (next == at || length == longest) break;
            at = next;
            chain[length++] = (start + at) % n;
        }
    }
    return 0;
}

// Circumscribed: the contacts surround the centre within the tolerance (no
// gap beyond a half turn); two at the ends of a diameter, or three.
bool chooseEnclosing(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    std::size_t chain[4];
    const int32_t length = closingChain(sorted, kPi + kAngle, false, 3, chain);
    for (int32_t k = 0; k < length; ++k) chosen[k] = sorted[chain[k]];
    *count = length;
    return length >= 2;
}

// Inscribed: the contacts surround the centre strictly (every gap short of
// a half turn by more than the tolerance), so that every move of the centre
// brings one of them nearer; three, or four (a square's corners need all
// four).
bool chooseHolding(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    std::size_t chain[4];
    const int32_t length = closingChain(sorted, kPi - kAngle, true, 4, chain);
    for (int32_t k = 0; k < length; ++k) chosen[k] = sorted[chain[k]];
    *count = length;
    return length >= 3;
}

// Minimum zone: four contacts in distinct directions whose roles alternate
// around the centre (outer, inner, outer, inner), so that every move of the
// centre either takes an outer one farther or brings an inner one nearer.
// Contacts within the angular tolerance form one direction, which may hold
// both roles; going round from each direction in turn, each next direction
// that can take the other role is taken.
bool chooseAlternating(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    // Starts where the role changes (a few dozen at most): from one of them
    // the first four runs alternate unless the roles do not.
    constexpr int32_t kStarts = 64;
    const std::size_t n = sorted.size();
    int32_t tried = 0;
    for (std::size_t start = 0; start < n && tried < kStarts; ++start) {
        if (start > 0 && sorted[start].outer == sorted[start - 1].outer) continue;
        ++tried;
        for (const int32_t firstRole : {1, 0}) {
            if (sorted[start].outer != firstRole) continue;
            int32_t length = 0;
            int32_t role = firstRole;
            double lastAngle = 0.0;
            for (std::size_t step = 0; step < n && length < 4; ++step) {
                const Contact& c = sorted[(start + step) % n];
                const double at = turn(sorted, start, (start + step) % n);
                if (c.outer != role || (length > 0 && at - lastAngle <= kAngle)) continue;
                if (length == 3 && 2.0 * kPi - at <= kAngle) continue;
                chosen[length++] = c;
                lastAngle = at;
                role = 1 - role;
            }
            if (length == 4) {
                *count = 4;
                return true;
            }
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

// Up to four contacts spread around the centre, each with its own role,
// both roles among them when both touch.
bool chooseTouching(std::span<const Contact> sorted, Contact* chosen, int32_t* count)
{
    const std::size_t n = sorted.size();
    if (n == 0) return false;
    const std::size_t take = std::min<std::size_t>(n, 4);
    for (std::size_t r = 0; r < take; ++r) chosen[r] = sorted[r * n / take];
    const auto hasRole = [&](int32_t role) {
        for (std::size_t r = 0; r < take; ++r)
            if (chosen[r].outer == role) return true;
        return false;
    };
    for (const int32_t role : {0, 1})
        if (!hasRole(role))
            for (const Contact& c : sorted)
                if (c.outer == role) {
                    chosen[take - 1] = c;
                    break;
                }
    sortFewByAngle(chosen, static_cast<int32_t>(take));
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
    if (condition.method == zmet_roundnessInscribed) return chooseHolding(sorted, chosen, count);
    return chooseEnclosing(sorted, chosen, count);
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
                              : condition.method == zmet_roundnessInscribed   ? 0
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
zfit_status allContacts(const Profile& profile, const zmath_vect& centre, const Touch& touch,
                        const Condition& condition, Owned<zstd_vector_>& storage, std::span<Contact>* contacts)
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
    ZFIT_TRY(storage.construct(zstd_vector__constructWithVtable, static_cast<int64_t>(count), sizeof(Contact),
                               static_cast<const void*>(nullptr)));
    void* begin = nullptr;
    ZFIT_TRY(zstd_vector__getBeginEnd(storage.get(), &begin, nullptr));
    auto* out = static_cast<Contact*>(begin);
    int32_t filled = 0;
    for (int32_t k = 0; k < n && filled < count; ++k) {
        const int32_t r = role(k);
        if (r >= 0) out[filled++] = contactOf(profile, centre, k, r);
    }
    *contacts = std::span<Contact>(out, static_cast<std::size_t>(filled));
    return zfit_ok;
}

// The circle as the candidate's own points certify it, without storage:
// false when they do not.
bool ownCertificate(const Profile& profile, const Candidate& candidate, const Touch& touch, const Condition& condition,
                    Contact* chosen, int32_t* count)
{
    Contact own[4];
    int32_t owned = 0;
    if (!ownContacts(profile, candidate, touch, condition, own, &owned)) return false;
    sortFewByAngle(own, owned);
    return choose(condition, std::span<const Contact>(own, static_cast<std::size_t>(owned)), chosen, count);
}

Condition conditionOf(int32_t method, const Radii& radii, const Touch& touch)
{
    return {method, method == zmet_roundnessMinimumZone && radii.farthest - radii.nearest <= 2.0 * touch.tolerance};
}

void write(const Profile& profile, const zmath_vect& centre, const Radii& radii, const Contact* chosen, int32_t count,
           zmet_roundnessResult* result)
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
    const Condition condition = conditionOf(method, radii, touch);
    Contact chosen[4];
    int32_t count = 0;
    if (ownCertificate(profile, candidate, touch, condition, chosen, &count)) {
        write(profile, candidate.centre, radii, chosen, count, result);
        return zfit_ok;
    }

    Owned<zstd_vector_> storage;
    std::span<Contact> contacts;
    ZFIT_TRY(allContacts(profile, candidate.centre, touch, condition, storage, &contacts));
    sortByAngle(contacts);
    // A minimum zone arrives here proved global by the search over all
    // centres (zone_global.cpp); where its contacts share rays and so
    // cannot alternate in four distinct directions, they are reported as
    // they touch.
    if (!choose(condition, contacts, chosen, &count) &&
        !(method == zmet_roundnessMinimumZone && chooseTouching(contacts, chosen, &count)))
        return method == zmet_roundnessInscribed ? zmet_errProfileOpen : zmet_errNotCertified;
    write(profile, candidate.centre, radii, chosen, count, result);
    return zfit_ok;
}

bool certifiedByOwnPoints(int32_t method, const Profile& profile, const Candidate& candidate)
{
    const Radii radii = radiiAbout(profile, candidate.centre);
    const Touch touch{radii, kContactTolerance * radii.farthest};
    Contact chosen[4];
    int32_t count = 0;
    return ownCertificate(profile, candidate, touch, conditionOf(method, radii, touch), chosen, &count);
}

}  // namespace zmet::roundness
