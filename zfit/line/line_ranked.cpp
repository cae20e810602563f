// zmath_lineFitRanked_: the least-squares line of the n - m points that fit
// best, found by sliding a window of n - m ranks over the ranking across
// every point-pair direction.
//
// A window is scored by the RMS distance of its points from their
// least-squares line: the smaller eigenvalue of the window's centred scatter
// matrix, over n - m, formed as the determinant over the larger eigenvalue
// so that points exactly on a line score exactly 0. The moment sums are
// taken about the points' coordinate-wise median, so that neither the place
// of the data nor its unit costs digits; those of a window are the sums of
// the middle ranks (in every window of the candidate) plus those of the
// window's points among the extreme ranks. The middle sums follow the
// ranking as points join or leave the middle; all of them are window
// points, so no far outlier is ever added and taken away again.
//
// A window already scored (the same set of discarded points, from another
// candidate) is not scored again: its score would be the same.
#include <algorithm>
#include <cmath>

#include <zfit/line/line_search.hpp>
#include <zfit/services/seen_sets.hpp>

namespace {

// Moment sums of offsets from a fixed origin near the data.
struct Moments {
    double count = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;

    void add(double dx, double dy)
    {
        count += 1.0;
        sx += dx;
        sy += dy;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    void remove(double dx, double dy)
    {
        count -= 1.0;
        sx -= dx;
        sy -= dy;
        sxx -= dx * dx;
        syy -= dy * dy;
        sxy -= dx * dy;
    }
    friend Moments operator+(const Moments& a, const Moments& b)
    {
        return {a.count + b.count, a.sx + b.sx, a.sy + b.sy, a.sxx + b.sxx, a.syy + b.syy, a.sxy + b.sxy};
    }
};

class RankedPolicy {
public:
    void reserve(zsvc::Arena& arena, int32_t n, int32_t m)
    {
        const int64_t extremes = int64_t{m} + 1;
        hashesSlot_ = arena.reserve<zsvc::SetHash>(n);
        windowHashesSlot_ = arena.reserve<zsvc::SetHash>(extremes);
        firstHashesSlot_ = arena.reserve<zsvc::SetHash>(extremes + 1);
        lastHashesSlot_ = arena.reserve<zsvc::SetHash>(extremes + 1);
        firstSumsSlot_ = arena.reserve<Moments>(extremes + 1);
        lastSumsSlot_ = arena.reserve<Moments>(extremes + 1);
        seenSlot_ = arena.reserve<zsvc::SetHash>(seenCapacity(n, m));
        recentSlot_ = arena.reserve<zsvc::SetHash>(kRecentWindows);
        keptSlot_ = arena.reserve<zmath_vect>(int64_t{n} - m);
        scratchSlot_ = arena.reserve<double>(n);
    }

    zfit_status begin(const zsvc::Arena& arena, const zfit::line::PairSearch& search)
    {
        n_ = search.n;
        m_ = search.m;
        xs_ = search.xs;
        ys_ = search.ys;
        hashes_ = arena.span<zsvc::SetHash>(hashesSlot_);
        windowHashes_ = arena.span<zsvc::SetHash>(windowHashesSlot_);
        firstHashes_ = arena.span<zsvc::SetHash>(firstHashesSlot_);
        lastHashes_ = arena.span<zsvc::SetHash>(lastHashesSlot_);
        firstSums_ = arena.span<Moments>(firstSumsSlot_);
        lastSums_ = arena.span<Moments>(lastSumsSlot_);
        kept_ = arena.span<zmath_vect>(keptSlot_);
        seen_ = zsvc::SeenSets(arena.span<zsvc::SetHash>(seenSlot_), arena.span<zsvc::SetHash>(recentSlot_));
        const std::span<double> scratch = arena.span<double>(scratchSlot_);
        const auto median = [&](std::span<const double> values) {
            std::copy(values.begin(), values.end(), scratch.begin());
            const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
            std::nth_element(scratch.begin(), middle, scratch.end());
            return *middle;
        };
        origin_ = {median(xs_), median(ys_)};
        for (int32_t k = 0; k < n_; ++k) hashes_[static_cast<size_t>(k)] = zsvc::indexHash(k);
        std::fill(windowHashes_.begin(), windowHashes_.end(), zsvc::SetHash{});
        return zfit_ok;
    }

    // Only the order of the offsets matters: the pair's own normal will do.
    bool unitNormal() const { return false; }

    void moved(int32_t index, bool joined)
    {
        const double dx = xs_[static_cast<size_t>(index)] - origin_.x, dy = ys_[static_cast<size_t>(index)] - origin_.y;
        if (joined)
            middle_.add(dx, dy);
        else
            middle_.remove(dx, dy);
    }

    zfit_status candidate(const zfit::line::PairSearch& search, const zfit::line::Candidate& c)
    {
        const std::span<const int32_t> first = c.extremes->first(), last = c.extremes->last();
        zfit::line::Incumbent& incumbent = *search.incumbent;
        if (!c.freshRanking && !c.changedRanking) {
            // The same windows as at the previous candidate: nothing to
            // score, but the best window may be met here earlier in loop order.
            const zfit::line::Location at{c.first.i, c.first.j, bestSlot_};
            if (bestSlot_ >= 0 && at < incumbent.location()) ZFIT_TRY(incumbent.relocate(at, first, last));
            return zfit_ok;
        }
        if (c.freshRanking) sumMiddle(*c.extremes);
        // Window s discards first[0..s) and last(s..m]: its hash from the
        // prefix hashes of the two lists.
        firstHashes_[0] = {};
        for (size_t r = 0; r <= static_cast<size_t>(m_); ++r)
            firstHashes_[r + 1] = firstHashes_[r] + hashes_[static_cast<size_t>(first[r])];
        lastHashes_[static_cast<size_t>(m_) + 1] = {};
        for (size_t r = static_cast<size_t>(m_) + 1; r-- > 0;)
            lastHashes_[r] = lastHashes_[r + 1] + hashes_[static_cast<size_t>(last[r])];

        bool sumsReady = false;
        bestSlot_ = -1;
        for (int32_t s = 0; s <= m_; ++s) {
            const size_t slot = static_cast<size_t>(s);
            const zfit::line::Location at{c.first.i, c.first.j, s};
            const zsvc::SetHash h = firstHashes_[slot] + lastHashes_[slot + 1];
            // The best window met again earlier in loop order: a plain loop
            // would have found it here first.
            if (h == bestHash_) {
                bestSlot_ = s;
                if (at < incumbent.location()) ZFIT_TRY(incumbent.relocate(at, first, last));
            }
            if (h == windowHashes_[slot]) continue;  // the same window as at the previous candidate
            windowHashes_[slot] = h;
            if (!seen_.insert(h)) continue;
            if (!sumsReady) {
                boundarySums(first, last);
                sumsReady = true;
            }
            double rms = HUGE_VAL;
            ZFIT_TRY(score(windowSums(*c.extremes, s), incumbent.score(), &rms));
            if (rms == HUGE_VAL || !incumbent.beatenBy(rms, at)) continue;
            ZFIT_TRY(incumbent.take(rms, at, first, last));
            bestHash_ = h;
            bestSlot_ = s;
        }
        return zfit_ok;
    }

    // The winning window's line from its own points, about their centroid;
    // its error measured from them.
    zfit_status finish(const zfit::line::PairSearch& search, zmath_shapeFLine* line, double* rmsError)
    {
        ZFIT_TRY(search.incumbent->keptPoints(search.p, search.marks, kept_.data()));
        zmath_shapeFLine best{};
        ZFIT_TRY(zfit_lineFitCentred_(kept_, &best));
        *rmsError = zfit_lineRms_(best, kept_);
        *line = best;
        return zfit_ok;
    }

private:
    // The windows met most recently, answered from the nearest cache (16
    // bytes each).
    static constexpr int64_t kRecentWindows = 1024;

    // Room for every window of a few hundred candidates before the set of
    // seen windows starts over.
    static int64_t seenCapacity(int32_t n, int32_t m)
    {
        int64_t capacity = 1024;
        while (capacity < 8 * (int64_t{m} + 1) * n && capacity < (int64_t{1} << 18)) capacity *= 2;
        return capacity;
    }

    void addPoint(Moments& sums, int32_t k) const
    {
        sums.add(xs_[static_cast<size_t>(k)] - origin_.x, ys_[static_cast<size_t>(k)] - origin_.y);
    }

    void sumMiddle(const zsvc::RankExtremes& extremes)
    {
        middle_ = {};
        for (int32_t k = 0; k < n_; ++k)
            if (extremes.inMiddle(k)) addPoint(middle_, k);
    }

    // firstSums_[s] = ranks s..m (the window's points among the first
    // ranks), lastSums_[s] = ranks n-m-1 .. n-m-1+s (those among the last).
    void boundarySums(std::span<const int32_t> first, std::span<const int32_t> last)
    {
        const size_t extremes = static_cast<size_t>(m_) + 1;
        firstSums_[extremes] = {};
        for (size_t r = extremes; r-- > 0;) {
            Moments sums = firstSums_[r + 1];
            addPoint(sums, first[r]);
            firstSums_[r] = sums;
        }
        Moments sums{};
        for (size_t r = 0; r < extremes; ++r) {
            addPoint(sums, last[r]);
            lastSums_[r] = sums;
        }
    }

    // The sums of window s: ranks s .. s + n - m - 1.
    Moments windowSums(const zsvc::RankExtremes& extremes, int32_t s) const
    {
        if (!extremes.overlapping())
            return middle_ + firstSums_[static_cast<size_t>(s)] + lastSums_[static_cast<size_t>(s)];
        // More than half the points discarded: every rank is an extreme one
        // and the window is summed rank by rank.
        Moments sums{};
        for (int32_t r = s; r < s + n_ - m_; ++r) {
            addPoint(sums, extremes.atRank(static_cast<size_t>(r)));
        }
        return sums;
    }

    // The window's RMS distance from its least-squares line, from its
    // centred second moments a, b/2, c: the smaller eigenvalue of
    // [[a, b/2], [b/2, c]] is the sum of squared distances. HUGE_VAL (the
    // window is skipped) when the spread has no preferred direction within
    // the rounding floor of the moments, as the least-squares solve judges.
    zfit_status score(const Moments& w, double, double* rms) const
    {
        *rms = HUGE_VAL;
        const double mx = w.sx / w.count, my = w.sy / w.count;
        const double a = w.sxx - w.sx * mx, c = w.syy - w.sy * my, b = 2.0 * (w.sxy - w.sx * my);
        const double r = std::hypot(b, a - c);
        if (!(r > kLineDirectionFloor * (a + c))) return zfit_ok;
        const double largest = 0.5 * (a + c + r);
        const double smallest = std::max(0.0, a * c - 0.25 * b * b) / largest;
        *rms = std::sqrt(smallest / w.count);
        return zfit_ok;
    }

    int32_t n_ = 0, m_ = 0;
    std::span<const double> xs_, ys_;
    zmath_vect origin_{};
    Moments middle_{};
    zsvc::Arena::Slot hashesSlot_, windowHashesSlot_, firstHashesSlot_, lastHashesSlot_, firstSumsSlot_, lastSumsSlot_,
        seenSlot_, recentSlot_, keptSlot_, scratchSlot_;
    std::span<zsvc::SetHash> hashes_, windowHashes_, firstHashes_, lastHashes_;
    std::span<Moments> firstSums_, lastSums_;
    std::span<zmath_vect> kept_;
    zsvc::SeenSets seen_{{}, {}};
    zsvc::SetHash bestHash_{};
    int32_t bestSlot_ = -1;  // where the best window lies among the present candidate's
};

}  // namespace

zfit_status zmath_lineFitRanked_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices)
{
    RankedPolicy policy;
    return zfit::line::searchPairDirections(points, numIgnore, line, rmsError, ignoredIndices, policy);
}
