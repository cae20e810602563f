// Sets of point indices, recognised when they come again.
//
// A window of an outlier search is fixed by the points it leaves out, and
// many candidates produce the same window: every triple of inliers proposes
// nearly the same centre, every pair of inliers nearly the same direction.
// A window whose set was scored once needs no second score, since the score
// depends on the set alone.
//
// A set is known by the sum, modulo 2^64 in each of two lanes, of fixed
// random keys of its members. The sum is order-free and can be formed
// incrementally (prefix sums over a ranking). Two different sets share a
// hash with a chance of about 2^-128 per pair of sets; a search of this
// library meets far fewer than 2^40 sets, so a false "seen" is out of reach.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zsvc {

struct SetHash {
    uint64_t a = 0;
    uint64_t b = 0;

    friend SetHash operator+(SetHash x, SetHash y) { return {x.a + y.a, x.b + y.b}; }
    friend bool operator==(SetHash x, SetHash y) = default;
};

// The key of one index: two independent mixes of it (the splitmix64
// finaliser), never zero in both lanes.
inline SetHash indexHash(int32_t index)
{
    const auto mix = [](uint64_t z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    };
    const uint64_t x = static_cast<uint64_t>(static_cast<uint32_t>(index));
    return {mix(x * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL),
            mix(x * 0xd1b54a32d192ed03ULL + 0x8cb92ba72f3d8dd7ULL) | 1};
}

// A fixed-capacity set of hashes in open addressing, behind a small
// direct-mapped table of the sets met most recently: a search meets the same
// few windows again and again, and the small table answers those from the
// processor's nearest cache. The storage lives with the caller (made once):
// `slots` a power of two of them, `recent` a power of two too. When the
// slots fill past half their capacity everything is forgotten: a forgotten
// set is only scored once more.
class SeenSets {
public:
    SeenSets(std::span<SetHash> slots, std::span<SetHash> recent)
        : slots_(slots), recent_(recent), mask_(slots.size() - 1), recentMask_(recent.size() - 1)
    {
        clear();
    }

    void clear()
    {
        std::fill(slots_.begin(), slots_.end(), SetHash{});
        std::fill(recent_.begin(), recent_.end(), SetHash{});
        used_ = 0;
    }

    bool contains(SetHash h)
    {
        SetHash& recent = recent_[static_cast<size_t>(h.b) & recentMask_];
        if (recent == h) return true;
        for (size_t slot = static_cast<size_t>(h.a) & mask_;; slot = (slot + 1) & mask_) {
            if (slots_[slot] == h) {
                recent = h;
                return true;
            }
            if (slots_[slot] == SetHash{}) return false;
        }
    }

    // True when the set is new (and now recorded), false when it was seen.
    bool insert(SetHash h)
    {
        if (contains(h)) return false;
        if (2 * (used_ + 1) > slots_.size()) clear();
        size_t slot = static_cast<size_t>(h.a) & mask_;
        while (slots_[slot] != SetHash{}) slot = (slot + 1) & mask_;
        slots_[slot] = h;
        recent_[static_cast<size_t>(h.b) & recentMask_] = h;
        ++used_;
        return true;
    }

private:
    std::span<SetHash> slots_, recent_;
    size_t mask_, recentMask_;
    size_t used_ = 0;
};

}  // namespace zsvc
