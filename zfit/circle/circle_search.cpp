// The outlier searches of modes 0 and 1: candidate centres from point
// triples, a ranking of all points by distance from each candidate, and a
// window of n - m consecutive ranks slid over the ranking. The two modes
// differ only in how a window is solved; the windows are swept by the
// search engine (zfit/services/window_search.hpp).
//
// The answers are those of the plain loops (every triple i < j < k in turn,
// a full sort of the ranking, every window solved and measured); what makes
// the search fast:
//   - a window depends only on the m + 1 nearest and m + 1 farthest ranks.
//     The candidates of a block of pairs are visited in the order of their
//     centres along a space-filling curve, so that one centre follows
//     another close by (inlier triples propose nearly the same centre), and
//     the curve's cells form a quadtree: by the triangle inequality, only a
//     point within twice a cell's half-diagonal of the (m + 1)-th nearest or
//     farthest distance from the cell's centre can rank among the extremes
//     anywhere in the cell. Cells are split while that narrows the points;
//     the candidates of a cell are ranked among its few points only, kept in
//     order from one candidate to the next (a pass to check, an insertion
//     sort to repair), by the distances the plain loop computes;
//   - before its candidates are ranked, a cell is judged
//     (zfit/circle/cell_bounds.hpp): every window there keeps the points
//     that can reach no extreme in it, and one of the few that can be its
//     nearest (or farthest) point. A lower bound on
//     the error of every circle over such points (zfit_circleKeptMoments)
//     tells the windows that can neither beat nor tie the best error so far;
//     where none is left the cell is passed over, and where the others are
//     the same sets at every candidate of the cell only the first of them
//     in loop order is offered;
//   - a window is fixed by the points it leaves out, and one already scored
//     is not scored again; only the windows whose points changed are looked
//     at (the engine);
//   - the error of a solved window is bounded from below by its algebraic
//     objective, read from the sums: |d - r| = |d^2 - r^2| / (d + r), and
//     the sum of (d^2 - r^2)^2 is what the algebraic circle minimises. A
//     window whose bound reaches the best error so far needs no pass over
//     its points;
//   - without anything to discard there is no search: every candidate has
//     the one window of all points, solved once.
// The attention check is polled 4 (n - 2) times, spread evenly over the
// triples; the polls due within a cell passed over are made at the next
// candidate ranked or at the end of the block.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include <zfit/circle/cell_bounds.hpp>
#include <zfit/circle/circle_internal.hpp>
#include <zfit/circle/ordered_points.hpp>
#include <zfit/family/search_plan.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/ranking.hpp>
#include <zfit/services/system.h>
#include <zfit/services/window_search.hpp>

namespace {

using zfit::circle::CellVerdict;
using zfit::circle::OrderedPoints;

// ---- the candidate centres ------------------------------------------------------

// What a window policy sees of a candidate.
struct Centre {
    zmath_vect at;
};

// The bisector of p[i] and p[j], as the plain loop forms it.
struct Bisector {
    zmath_vect mid, e, unit;
};

// The bisector of the pair (i, j); false when the points are equal.
zfit_status bisector(const zmath_vect* p, int32_t i, int32_t j, Bisector* b, bool* exists)
{
    const zmath_vect d1 = zsvc::subtract(p[j], p[i]);
    b->mid = {(p[j].x + p[i].x) * 0.5, (p[j].y + p[i].y) * 0.5};
    b->e = {-d1.y, d1.x};
    *exists = !(b->e.x == 0.0 && b->e.y == 0.0);
    if (!*exists) return zfit_ok;
    return zmath_vect_getUnit(&b->e, &b->unit);
}

zmath_vect along(const Bisector& b, double t) { return {b.mid.x + t * b.unit.x, b.mid.y + t * b.unit.y}; }

// The candidate centre of (i, j, k) along the bisector of (i, j), or false
// when the triple proposes none: k equal to i or j, the three collinear, or
// a centre that overflowed.
bool candidateAlong(const zmath_vect* p, int32_t i, int32_t k, const Bisector& b, double* t)
{
    const zmath_vect mid2{(p[k].x + p[i].x) * 0.5, (p[k].y + p[i].y) * 0.5};
    const zmath_vect d2 = zsvc::subtract(p[k], p[i]);
    const zmath_vect e2{-d2.y, d2.x};
    if (e2.x == 0.0 && e2.y == 0.0) return false;      // p[k] equals p[i]
    if (e2.x == b.e.x && e2.y == b.e.y) return false;  // p[k] equals p[j]
    const double c = zsvc::dot(b.unit, d2);
    if (zsvc::doubleEqual(c, 0.0)) return false;  // collinear: the bisectors are parallel
    *t = zsvc::dot(zsvc::subtract(mid2, b.mid), d2) / c;
    const zmath_vect centre = along(b, *t);
    return std::isfinite(centre.x) && std::isfinite(centre.y);
}

// Whether the first pair of distinct points has a candidate centre.
bool anyCandidate(std::span<const zmath_vect> points)
{
    const zmath_vect* p = points.data();
    const int32_t n = zsvc::size32(points);
    for (int32_t j = 1; j < n - 1; ++j) {
        Bisector b;
        bool exists = false;
        if (zfit::failed(bisector(p, 0, j, &b, &exists)) || !exists) continue;
        double t = 0.0;
        for (int32_t k = j + 1; k < n; ++k)
            if (candidateAlong(p, 0, k, b, &t)) return true;
        return false;
    }
    return false;
}

// Every triple (i, j, k) proposes the centre of the circle through it. The
// candidates of a block of pairs (i, j) (in loop order) are sorted along a
// space-filling curve over a grid of centres, which makes the grid's cells
// a quadtree: a cell is a run of the sorted candidates. A cell narrows the
// points that can rank among the m + 1 nearest or farthest from any centre
// in it: with the cell's centre C0 and half-diagonal h, a point at distance
// d from C0 is between d - h and d + h from every centre of the cell, so
// only a point within 2h of the (m + 1)-th nearest (or farthest) distance
// from C0 can ever be among the extremes there. Cells are split while that
// narrows the points; the candidates of a cell are then ranked among its
// few points only, in curve order, so that from one candidate to the next
// the centre moves little and the extremes are repaired rather than found
// afresh (zsvc::RankRepair), by the distances the plain loop computes.
class TripleCentres {
public:
    void reserve(zsvc::Arena& arena, const zsvc::SearchPoints& points)
    {
        const int64_t n = points.n, extremes = int64_t{points.m} + 1;
        // Room for a whole pair's candidates, and for the search's at once
        // when they are few.
        const int64_t triples = n < 2048 ? n * (n - 1) * (n - 2) / 6 : kBlockCandidates;
        const int64_t capacity = std::max<int64_t>(std::min<int64_t>(triples, kBlockCandidates), n);
        arena.reserve(candidates_, capacity);
        arena.reserve(sorted_, capacity);
        arena.reserve(counts_, kDigitValues);
        // One list of the points that can reach the extremes per level of
        // cells (a cell's list is never longer than its parent's).
        arena.reserve(reaching_, (kCellBits + 2) * n);
        arena.reserve(values_, std::max<int64_t>(2 * n, 512));
        arena.reserve(keys_, n);
        arena.reserve(ordered_.xs, n);
        arena.reserve(ordered_.ys, n);
        arena.reserve(ordered_.keys, n);
        arena.reserve(ordered_.ids, n);
        arena.reserve(ordered_.regions, n);
        arena.reserve(ordered_.pairs, n);
        arena.reserve(first_, extremes);
        arena.reserve(last_, extremes);
        rankingStorage_.reserve(arena, n, extremes);
    }

    zfit_status begin(const zsvc::SearchPoints& points)
    {
        points_ = &points;
        extremes_ = static_cast<size_t>(points.m) + 1;
        bounds_.emplace(points, zfit::circle::CellBounds::Storage{values_, ordered_.pairs});
        low_ = high_ = points.p[0];
        for (const zmath_vect& q : points.p) {
            low_ = {std::min(low_.x, q.x), std::min(low_.y, q.y)};
            high_ = {std::max(high_.x, q.x), std::max(high_.y, q.y)};
        }
        return zfit_ok;
    }

    template <class Sweep>
    zfit_status run(const zsvc::SearchPoints& points, Sweep& sweep)
    {
        const int32_t n = points.n;
        const std::span<int32_t> all = reaching_.first(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) all[static_cast<size_t>(k)] = k;
        // The plan's polls (four per first index), spread evenly over the
        // triples: poll p is due before triple p * triples / polls.
        const double triples = static_cast<double>(n) * (n - 1) * (n - 2) / 6.0;
        const int64_t polls = zfit::plan::circlePolls(n, points.m);
        int64_t pollsDue = 0;  // polls due before the blocks so far
        double triplesBefore = 0.0;
        int32_t i = 0, j = 1;
        while (i < n - 2) {
            // A block of pairs, in loop order, whose candidates fit the
            // storage.
            size_t count = 0;
            double blockTriples = 0.0;
            for (; i < n - 2 && count + static_cast<size_t>(n - 1 - j) <= candidates_.size();) {
                count = gather(i, j, count);
                blockTriples += n - 1 - j;
                if (++j == n - 1) j = ++i + 1;
            }
            block_ = order(candidates_.first(count));
            // The polls due within the block, spread evenly over its
            // candidates.
            int64_t due = pollsDue;
            while (due < polls &&
                   static_cast<double>(due) * triples / static_cast<double>(polls) < triplesBefore + blockTriples)
                ++due;
            polls_ = {due - pollsDue, 0, 0};
            pollsDue = due;
            triplesBefore += blockTriples;
            // The candidates on the grid by cells; those beyond it (far from
            // the points, and few) among all points.
            const size_t onGrid =
                static_cast<size_t>(std::partition_point(block_.begin(), block_.end(),
                                                         [](const Candidate& c) { return c.key != kBeyond; }) -
                                    block_.begin());
            if (onGrid > 0) ZFIT_TRY(cell(all, 0, onGrid, 0, 0, 0, zfit_circleKeptMoments{}, Judged{}, sweep));
            ZFIT_TRY(rankAmong(all, onGrid, block_.size(), sweep));
            ZFIT_TRY(poll(block_.size()));
        }
        return zfit_ok;
    }

private:
    // The last judgement that left a cell open: its level, the number of
    // points that reached its extremes, the best error then.
    struct Judged {
        uint32_t level = 0;
        size_t reaching = SIZE_MAX;
        double best = HUGE_VAL;
    };

    struct Candidate {
        zmath_vect centre;
        int32_t i, j, k;
        uint32_t key;  // the centre's cell, in curve order (kBeyond: off the grid)
    };

    // The most candidates gathered at a time (32 bytes each, twice).
    static constexpr int64_t kBlockCandidates = int64_t{1} << 18;
    // The grid: this many cells along each axis (a power of two), the
    // digits of the sort by cell, and the key of a centre beyond the grid.
    static constexpr uint32_t kCellBits = 16;
    static constexpr uint32_t kDigitBits = 16, kDigitValues = uint32_t{1} << kDigitBits;
    static constexpr uint32_t kBeyond = ~uint32_t{0};
    // A cell is not split further when it holds this few candidates, or this
    // few points per extreme rank can reach its extremes.
    static constexpr size_t kFewCandidates = 64, kFewPointsPerRank = 3;
    // Up to this many points (and kFewPointsPerRank per extreme rank), a
    // cell's points are kept in full order.
    static constexpr size_t kFewPoints = 64;

    // The grid reaches this many diameters of the points from the middle of
    // the centres: far enough that the few centres beyond it are rarely
    // worth a cell, near enough that its finest cells stay small.
    static constexpr double kGridReach = 8.0;
    // Cells with this many candidates are judged before they are ranked,
    // and cells of fewer where many points can reach the extremes.
    static constexpr size_t kJudgedCandidates = 64;

    struct Polls {
        int64_t count, done;
        size_t next;  // the candidate of the block before which the next poll is due
    };

    static size_t index(int32_t k) { return static_cast<size_t>(k); }

    // The polls due before candidate q of the block: poll p before
    // candidate ceil(p * count / polls).
    zfit_status poll(size_t q)
    {
        if (q < polls_.next) return zfit_ok;
        const size_t count = block_.size(), polls = static_cast<size_t>(polls_.count);
        while (polls_.done < polls_.count && static_cast<size_t>(polls_.done) * count <= q * polls) {
            ZFIT_TRY(zsys_attention_check());
            ++polls_.done;
        }
        const size_t done = static_cast<size_t>(polls_.done);
        polls_.next = polls_.done < polls_.count ? (done * count + polls - 1) / polls : SIZE_MAX;
        return zfit_ok;
    }

    // Appends the candidates of the pair (i, j) at `count`; returns the new
    // count.
    size_t gather(int32_t i, int32_t j, size_t count)
    {
        const zmath_vect* p = points_->p.data();
        Bisector b;
        bool exists = false;
        if (zfit::failed(bisector(p, i, j, &b, &exists)) || !exists) return count;
        for (int32_t k = j + 1; k < points_->n; ++k) {
            double t = 0.0;
            if (candidateAlong(p, i, k, b, &t)) candidates_[count++] = {along(b, t), i, j, k, 0};
        }
        return count;
    }

    // The candidates sorted by cell, equal cells in loop order, those
    // beyond the grid last. The grid is centred on the middle of the centres
    // (the coordinate-wise median of a sample of them) and reaches kGridReach
    // times the points' diameter from it: inlier triples put their centres close
    // together near the middle, the rest scatter.
    std::span<const Candidate> order(std::span<Candidate> block)
    {
        if (block.empty()) return block;
        return order(block, middleOf(block), kGridReach * points_->diameter);
    }

    // The coordinate-wise median of a sample of the centres.
    zmath_vect middleOf(std::span<const Candidate> block)
    {
        // At most 255 samples: both halves of them fit the values' 512.
        const size_t step = (block.size() + 254) / 255, samples = (block.size() + step - 1) / step;
        const std::span<double> xs = values_.first(samples), ys = values_.subspan(samples, samples);
        for (size_t q = 0; q < samples; ++q) {
            xs[q] = block[q * step].centre.x;
            ys[q] = block[q * step].centre.y;
        }
        std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(samples / 2), xs.end());
        std::nth_element(ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(samples / 2), ys.end());
        return {xs[samples / 2], ys[samples / 2]};
    }

    // The candidates sorted by their cell on the grid about `middle` that
    // reaches `reach` from it, those beyond it last.
    std::span<const Candidate> order(std::span<Candidate> block, const zmath_vect& middle, double reach)
    {
        gridLow_ = {middle.x - reach, middle.y - reach};
        const double cells = static_cast<double>(uint32_t{1} << kCellBits);
        cellSize_ = std::max(2.0 * reach / cells, std::numeric_limits<double>::min());
        const double scale = 1.0 / cellSize_;
        for (Candidate& c : block) {
            const double x = (c.centre.x - gridLow_.x) * scale, y = (c.centre.y - gridLow_.y) * scale;
            c.key = x >= 0.0 && x < cells && y >= 0.0 && y < cells
                        ? interleave(static_cast<uint32_t>(x), static_cast<uint32_t>(y))
                        : kBeyond;
        }
        // The centres on the grid first, in loop order, then by cell: least
        // significant digit first, each pass stable.
        const auto onGrid =
            std::stable_partition(block.begin(), block.end(), [](const Candidate& c) { return c.key != kBeyond; });
        const size_t count = static_cast<size_t>(onGrid - block.begin());
        std::span<Candidate> from = block.first(count), to = sorted_.first(count);
        for (uint32_t shift = 0; shift < 2 * kCellBits; shift += kDigitBits) {
            std::fill(counts_.begin(), counts_.end(), 0u);
            for (const Candidate& c : from) ++counts_[(c.key >> shift) & (kDigitValues - 1)];
            uint32_t sum = 0;
            for (uint32_t& n : counts_) sum += std::exchange(n, sum);
            for (const Candidate& c : from) to[counts_[(c.key >> shift) & (kDigitValues - 1)]++] = c;
            std::swap(from, to);
        }
        if (from.data() != block.data()) std::copy(from.begin(), from.end(), block.begin());
        return block;
    }

    // The Morton code of a cell: the bits of x and y interleaved.
    static uint32_t interleave(uint32_t x, uint32_t y)
    {
        const auto spread = [](uint32_t v) {
            v = (v | (v << 8)) & 0x00ff00ffu;
            v = (v | (v << 4)) & 0x0f0f0f0fu;
            v = (v | (v << 2)) & 0x33333333u;
            return (v | (v << 1)) & 0x55555555u;
        };
        return spread(x) | (spread(y) << 1);
    }

    // The cell at `level` (0: the whole grid) with corner (x, y) in cells of
    // that level, holding the sorted candidates lo..hi-1; `lines` holds the
    // points that can reach the extremes in its parent, at the start of the
    // storage the lists of its descendants use.
    template <class Sweep>
    zfit_status cell(std::span<const int32_t> lines, size_t lo, size_t hi, uint32_t level, uint32_t x, uint32_t y,
                     zfit_circleKeptMoments kept, Judged judged, Sweep& sweep)
    {
        const double size = cellSize_ * static_cast<double>(uint32_t{1} << (kCellBits - level));
        const zmath_vect centre{gridLow_.x + (x + 0.5) * size, gridLow_.y + (y + 0.5) * size};
        // Half the diagonal, widened for the rounding of the cell a centre
        // was put in.
        const double halfDiagonal = size * (0.5 * std::sqrt(2.0) + 1e-6);
        const std::span<const int32_t> reaching = narrow(lines, centre, halfDiagonal, kept);
        if (hi - lo == 1 && reaching.size() > 4 * extremes_ && level < kCellBits && judging_.paying())
            return lone(reaching, lo, kept, sweep);
        // A cell left open is judged again two levels down, or once fewer
        // points reach its extremes or the best error has changed.
        const double best = *sweep.score();
        const bool worthJudging = hi - lo >= kJudgedCandidates || reaching.size() > 4 * extremes_;
        if (worthJudging &&
            (level >= judged.level + 2 || reaching.size() < judged.reaching || !(best == judged.best)) &&
            judging_.wanted()) {
            const CellVerdict verdict = judge(reaching, centre, halfDiagonal, kept, best);
            if (verdict == CellVerdict::noneCanWin) return zfit_ok;
            if (verdict == CellVerdict::sameWindows) return offerFirst(reaching, lo, hi, sweep);
            judged = {level, reaching.size(), best};
        }
        if (hi - lo <= kFewCandidates || reaching.size() <= kFewPointsPerRank * extremes_ || level == kCellBits)
            return rankAmong(reaching, lo, hi, sweep);
        // The four quarters, in curve order: the next two bits of the key.
        const uint32_t shift = 2 * (kCellBits - level - 1);
        size_t from = lo;
        for (uint32_t quarter = 0; quarter < 4; ++quarter) {
            const auto end = std::partition_point(
                block_.begin() + static_cast<std::ptrdiff_t>(from), block_.begin() + static_cast<std::ptrdiff_t>(hi),
                [&](const Candidate& c) { return ((c.key >> shift) & 3u) <= quarter; });
            const size_t to = static_cast<size_t>(end - block_.begin());
            if (to > from)
                ZFIT_TRY(cell(reaching, from, to, level + 1, 2 * x + (quarter & 1u), 2 * y + (quarter >> 1), kept,
                              judged, sweep));
            from = to;
        }
        return zfit_ok;
    }

    // Judgements cost a sort of the points that reach a cell's extremes and
    // a few factorisations. Where they keep leaving cells open (points about
    // a curve whose windows all err alike) they are made only now and then.
    class Judging {
    public:
        bool wanted() { return credit_ > 0 || ++passed_ % kRetry == 0; }
        bool paying() const { return credit_ > 0; }
        void judged(bool decided) { credit_ = decided ? std::min(credit_ + kGain, kMost) : credit_ - 1; }

    private:
        static constexpr int64_t kGain = 16, kMost = 4096, kRetry = 64;
        int64_t credit_ = 256;
        uint64_t passed_ = 0;
    };

    // A lone candidate of a cell that many points reach: narrowed to the
    // points of its own extremes (a cell of no size), judged, and ranked
    // among them.
    template <class Sweep>
    zfit_status lone(std::span<const int32_t> lines, size_t q, zfit_circleKeptMoments kept, Sweep& sweep)
    {
        const zmath_vect centre = block_[q].centre;
        const std::span<const int32_t> reaching = narrow(lines, centre, 0.0, kept);
        if (judging_.wanted() && judge(reaching, centre, 0.0, kept, *sweep.score()) == CellVerdict::noneCanWin)
            return zfit_ok;
        return rankAmong(reaching, q, q + 1, sweep);
    }

    // The verdict on a cell (CellBounds::judge); judgements that leave
    // cells open are made less often.
    CellVerdict judge(std::span<const int32_t> reaching, const zmath_vect& centre, double h,
                      const zfit_circleKeptMoments& kept, double best)
    {
        if (!bounds_->canJudge(reaching.size(), kept, best)) return CellVerdict::open;
        const CellVerdict verdict = bounds_->judge(reaching, centre, h, kept, best);
        // A cell of no size has the same windows all over: only a cell
        // passed over pays there.
        judging_.judged(h > 0.0 ? verdict != CellVerdict::open : verdict == CellVerdict::noneCanWin);
        return verdict;
    }

    // The points of `lines` that can reach the extremes within `halfDiagonal`
    // of `centre` (CellBounds::narrow), written in the storage just past
    // that of `lines`; the others join `kept`.
    std::span<const int32_t> narrow(std::span<const int32_t> lines, const zmath_vect& centre, double halfDiagonal,
                                    zfit_circleKeptMoments& kept) const
    {
        const std::span<int32_t> rest =
            reaching_.subspan(static_cast<size_t>(lines.data() - reaching_.data()) + static_cast<size_t>(points_->n));
        return rest.first(bounds_->narrow(lines, centre, halfDiagonal, rest, kept));
    }

    // The candidates lo..hi-1 of a cell where every window that can win is
    // the same set at each of them: only the first in loop order is
    // offered, unless some of its windows have no solution from its centre
    // (another centre may give them one).
    template <class Sweep>
    zfit_status offerFirst(std::span<const int32_t> reaching, size_t lo, size_t hi, Sweep& sweep)
    {
        size_t first = lo;
        for (size_t q = lo + 1; q < hi; ++q) {
            const Candidate& a = block_[q];
            const Candidate& b = block_[first];
            if (std::tie(a.i, a.j, a.k) < std::tie(b.i, b.j, b.k)) first = q;
        }
        ZFIT_TRY(rankAmong(reaching, first, first + 1, sweep));
        if (sweep.pending()) return rankAmong(reaching, lo, hi, sweep);
        return zfit_ok;
    }

    // The candidates lo..hi-1 of the block ranked among `lines` (all points
    // that can reach the extremes there), each offered to the sweep: a few
    // points kept in full order, many by their extremes only.
    template <class Sweep>
    zfit_status rankAmong(std::span<const int32_t> lines, size_t lo, size_t hi, Sweep& sweep)
    {
        if (lo == hi) return zfit_ok;
        const size_t count = lines.size();
        const std::span<double> localXs = ordered_.xs, localYs = ordered_.ys;
        for (size_t q = 0; q < count; ++q) {
            localXs[q] = points_->xs[index(lines[q])];
            localYs[q] = points_->ys[index(lines[q])];
        }
        const auto moved = [&](int32_t k, bool joined) { sweep.moved(lines[index(k)], joined); };
        if (count <= kFewPointsPerRank * extremes_ + kFewPoints && 2 * extremes_ <= count) {
            OrderedPoints ranking(ordered_, lines, points_->xs.data(), points_->ys.data(), extremes_);
            const size_t lastRank = count - extremes_;  // the rank of last()[0]
            for (size_t q = lo; q < hi; ++q) {
                const Candidate& c = block_[q];
                const OrderedPoints::Change change = ranking.rank(
                    c.centre.x, c.centre.y, q == lo, [&](int32_t k, bool joined) { sweep.moved(k, joined); });
                ZFIT_TRY(poll(q));
                zsvc::Candidate<Centre> offered{{c.i, c.j, c.k, 0}, {c.centre},   ranking.first(),
                                                ranking.last(),     change.fresh, change.changed};
                // The positions of the lists among the ranks that changed.
                const size_t from = change.lowest, to = change.highest + 1;
                offered.firstFrom = std::min(from, extremes_);
                offered.firstTo = std::min(to, extremes_);
                offered.lastFrom = from > lastRank ? from - lastRank : 0;
                offered.lastTo = to > lastRank ? to - lastRank : 0;
                ZFIT_TRY(sweep.offer(offered));
            }
            return zfit_ok;
        }
        zsvc::RankExtremes ranking(rankingStorage_.forPoints(count));
        zsvc::RankRepair repair(true);
        const double* xs = localXs.data();
        const double* ys = localYs.data();
        for (size_t q = lo; q < hi; ++q) {
            const zmath_vect centre = block_[q].centre;
            const double cx = centre.x, cy = centre.y;
            const auto keyOf = [&](int32_t k) { return zsvc::distanceKey(xs[index(k)], ys[index(k)], cx, cy); };
            const auto fillAll = [&] { zsvc::fillDistanceKeys(xs, ys, count, cx, cy, keys_.data()); };
            const auto hits = [&](double low, double high, zsvc::BoundHits& found) {
                zsvc::keyHits(keys_.data(), count, low, high, found);
            };
            // Two points' squared distances move against each other by at
            // most twice the diameter times the centre's step; a key carries
            // rounding of a few units of the largest key.
            const double reach =
                std::fabs(cx - points_->origin.x) + std::fabs(cy - points_->origin.y) + points_->diameter;
            const double rounding = zsvc::kKeyRoundingUlps * std::numeric_limits<double>::epsilon() * reach * reach;
            const zsvc::RankExtremes::Update update = repair.next(
                ranking, keys_.data(), centre, 2.0 * points_->diameter, 1.0, rounding, keyOf, fillAll, hits, moved);
            ZFIT_TRY(offer(q, lines, ranking.first(), ranking.last(), update, sweep));
        }
        return zfit_ok;
    }

    // Offers candidate q of the block, its extremes given among `lines`.
    template <class Sweep>
    zfit_status offer(size_t q, std::span<const int32_t> lines, std::span<const int32_t> first,
                      std::span<const int32_t> last, const zsvc::RankExtremes::Update& update, Sweep& sweep)
    {
        ZFIT_TRY(poll(q));
        if (update.fresh || update.changed)
            for (size_t r = 0; r < extremes_; ++r) {
                first_[r] = lines[index(first[r])];
                last_[r] = lines[index(last[r])];
            }
        const Candidate& c = block_[q];
        return sweep.offer(
            zsvc::Candidate<Centre>{{c.i, c.j, c.k, 0}, {c.centre}, first_, last_, update.fresh, update.changed});
    }

    const zsvc::SearchPoints* points_ = nullptr;
    size_t extremes_ = 0;
    std::optional<zfit::circle::CellBounds> bounds_;
    Judging judging_;
    zmath_vect low_{}, high_{};  // the points' bounding box
    zmath_vect gridLow_{};
    double cellSize_ = 0.0;
    std::span<const Candidate> block_;
    Polls polls_{};
    std::span<Candidate> candidates_, sorted_;
    std::span<uint32_t> counts_;
    std::span<int32_t> reaching_, first_, last_;
    OrderedPoints::Storage ordered_;
    std::span<double> values_, keys_;
    zsvc::RankExtremes::Storage rankingStorage_;
};

// ---- the windows ------------------------------------------------------------------

// Free radius: the algebraic circle of the window.
struct FreeRadius {
    // The circle of the sums (about `origin`), judged degenerate against the
    // given spread; false when the window has no circle.
    bool fromSums(const zfit_circleVals& sums, double spread, zfit_circle* circle) const
    {
        return zfit_circleVals_solveWithin_(&sums, spread, circle) == zfit_ok;
    }
    // The plain solve about an origin, as the weighted fit forms it.
    zfit_status fromPoints(std::span<const zmath_vect> points, const zmath_vect& origin, zfit_circle* circle) const
    {
        zfit_circleVals sums;
        ZFIT_TRY(zfit_circleVals_init_(&sums));
        sums.origin = origin;
        zfit_circleVals_addAll_(&sums, points);
        return zfit_circleVals_solve_(&sums, circle);
    }
};

// Fixed radius: the window's algebraic centre with the imposed radius.
struct FixedRadius {
    double radius;

    bool fromSums(const zfit_circleVals& s, double spread, zfit_circle* circle) const
    {
        // q = -dx^2 - dy^2, so S dx q = -S dx r2.
        zfit_circleFixedRadiusVals sums{static_cast<int32_t>(s.weightSum),
                                        s.sumX,
                                        s.sumY,
                                        s.sumXX,
                                        s.sumYY,
                                        s.sumXY,
                                        -s.sumXR,
                                        0.0,
                                        -s.sumYR,
                                        s.origin,
                                        radius};
        return zfit_circleFixedRadiusVals_solveWithin_(&sums, spread, circle) == zfit_ok;
    }
    zfit_status fromPoints(std::span<const zmath_vect> points, const zmath_vect& origin, zfit_circle* circle) const
    {
        zfit_circleFixedRadiusVals sums;
        ZFIT_TRY(zfit_circleFixedRadiusVals_init_(&sums));
        sums.origin = origin;
        sums.radius = radius;
        for (const zmath_vect& p : points) zfit_circleFixedRadiusVals_add_(&sums, p);
        return zfit_circleFixedRadiusVals_solve_(&sums, circle);
    }
};

// A window is solved from its sums, bounded from below, and only then
// measured from its points.
template <class Solve>
class CircleWindows {
public:
    // w, S dx, S dy, S dx^2, S dy^2, S dx dy, S dx r2, S dy r2, S r2^2 about
    // the search's origin (r2 = dx^2 + dy^2).
    static constexpr size_t kTerms = 9;
    static constexpr bool kScoreOfSet = true;
    using Window = zsvc::Window<Centre, kTerms>;

    CircleWindows(Solve solve, zfit_circle* circle) : solve_(solve), circle_(circle) {}

    void reserve(zsvc::Arena& arena, const zsvc::SearchPoints& points)
    {
        arena.reserve(kept_, int64_t{points.n} - points.m);
        arena.reserve(excluded_, points.n);
    }

    zfit_status begin(const zsvc::SearchPoints& points)
    {
        points_ = &points;
        std::fill(excluded_.begin(), excluded_.end(), uint64_t{0});
        return zfit_ok;
    }

    std::array<double, kTerms> terms(double dx, double dy) const
    {
        const double r2 = dx * dx + dy * dy;
        return {1.0, dx, dy, dx * dx, dy * dy, dx * dy, dx * r2, dy * r2, r2 * r2};
    }

    zsvc::Verdict score(const Window& window)
    {
        const auto& [w, sx, sy, sxx, syy, sxy, sxr, syr, sr4] = window.sums;
        const zmath_vect origin = points_->origin, centre = window.candidate.payload.at;
        // The window's spread about the candidate centre judges whether it
        // has a circle, as it would with its sums taken about it.
        const double ox = centre.x - origin.x, oy = centre.y - origin.y;
        const double spread = sxx + syy - 2.0 * (ox * sx + oy * sy) + w * (ox * ox + oy * oy);
        // A window without a circle here may have one from another centre:
        // it is not remembered.
        if (!solve_.fromSums({origin, w, sx, sy, sxx, syy, sxy, sxr, syr}, spread, &scored_)) return {HUGE_VAL, false};
        // The farthest window point lies at rank s + L - 1, last[s].
        const int32_t far = window.candidate.last[static_cast<size_t>(window.s)];
        const double farthest =
            std::sqrt(zsvc::distanceKey(points_->xs[static_cast<size_t>(far)], points_->ys[static_cast<size_t>(far)],
                                        centre.x, centre.y)) *
                (1.0 + kCircleReachMargin) +
            zsvc::length(zsvc::subtract(centre, scored_.centre)) * (1.0 + kCircleReachMargin);
        if (errorBound(window.sums, origin, scored_, farthest) >= window.best) return {};
        return {windowRms(window)};
    }

    void keep(const Window&) {}

    // The winner solved again from its own points, about their centroid:
    // the sums of the search carry the rounding of every point that passed
    // through them, these only the window's own, and sums about the
    // centroid keep the most digits.
    // Its discarded points are listed by distance from the circle's centre,
    // nearest first (those inside the kept points' ring, then those outside
    // it): the ranking of any candidate centre that proposed the window,
    // made independent of which of them was met first.
    template <class Sweep>
    zfit_status finish(Sweep& sweep)
    {
        const std::span<const zmath_vect> kept = sweep.keptPoints(kept_);
        zmath_vect centroid{0.0, 0.0};
        for (const zmath_vect& q : kept) centroid = zsvc::add(centroid, q);
        const double count = static_cast<double>(kept.size());
        zfit_circle solved;
        ZFIT_TRY(solve_.fromPoints(kept, {centroid.x / count, centroid.y / count}, &solved));
        int32_t* ignored = sweep.ignoredIndices()->begin;
        const double* xs = points_->xs.data();
        const double* ys = points_->ys.data();
        const double cx = solved.centre.x, cy = solved.centre.y;
        std::sort(ignored, ignored + points_->m, [&](int32_t a, int32_t b) {
            return zsvc::rankBefore(zsvc::distanceKey(xs[a], ys[a], cx, cy), a, zsvc::distanceKey(xs[b], ys[b], cx, cy),
                                    b);
        });
        *sweep.score() = zfit_circleRms_(solved, kept);
        *circle_ = solved;
        return zfit_ok;
    }

private:
    // A lower bound on the RMS of |p - centre| - r over the window's points,
    // from its sums about `origin`: the algebraic objective
    // A = S (d^2 - r^2)^2 (d the distance from the centre) less a generous
    // allowance for its rounding, over w, divided by the largest d + r.
    // farthest bounds d from above.
    static double errorBound(const std::array<double, kTerms>& m, const zmath_vect& origin, const zfit_circle& circle,
                             double farthest)
    {
        const auto& [w, sx, sy, sxx, syy, sxy, sxr, syr, sr4] = m;
        const double cx = circle.centre.x - origin.x, cy = circle.centre.y - origin.y, r = circle.radius;
        // d^2 - r^2 = r2 + D dx + E dy + F in origin offsets.
        const double D = -2.0 * cx, E = -2.0 * cy, F = cx * cx + cy * cy - r * r;
        const double spread = sxx + syy;
        const double A = sr4 + D * D * sxx + E * E * syy + F * F * w + 2.0 * D * sxr + 2.0 * E * syr +
                         2.0 * F * spread + 2.0 * D * E * sxy + 2.0 * D * F * sx + 2.0 * E * F * sy;
        const double magnitude = sr4 + D * D * sxx + E * E * syy + F * F * w + std::fabs(2.0 * D * sxr) +
                                 std::fabs(2.0 * E * syr) + std::fabs(2.0 * F * spread) + std::fabs(2.0 * D * E * sxy) +
                                 std::fabs(2.0 * D * F * sx) + std::fabs(2.0 * E * F * sy);
        const double lower = A - kCircleBoundRounding * magnitude;
        const double reach = (farthest + r) * (1.0 + kCircleReachMargin);
        if (!(lower > 0.0) || !(reach > 0.0)) return 0.0;
        return std::sqrt(lower / w) / reach * (1.0 - kCircleReachMargin);
    }

    // The window's RMS radial residual, measured from its points.
    double windowRms(const Window& window) const
    {
        const std::span<uint64_t> excluded = excluded_;
        const std::span<const int32_t> first = window.candidate.first, last = window.candidate.last;
        const int32_t s = window.s, m = points_->m;
        const auto mark = [&](uint64_t value) {
            for (int32_t r = 0; r < s; ++r) excluded[static_cast<size_t>(first[static_cast<size_t>(r)])] = value;
            for (int32_t r = s + 1; r <= m; ++r) excluded[static_cast<size_t>(last[static_cast<size_t>(r)])] = value;
        };
        mark(~uint64_t{0});
        const double sum = zfit_circleRadialSquares_(points_->xs.data(), points_->ys.data(), excluded.data(),
                                                     points_->xs.size(), scored_);
        mark(0);
        return std::sqrt(sum / static_cast<double>(points_->n - m));
    }

    Solve solve_;
    zfit_circle* circle_;
    const zsvc::SearchPoints* points_ = nullptr;
    std::span<zmath_vect> kept_;
    std::span<uint64_t> excluded_;  // all bits set for the points a window leaves out
    zfit_circle scored_{};
};

// Without anything to discard every candidate has the one window of all
// points: a circle exists when the first pair of distinct points has a
// candidate centre, and it is the window's circle, solved once about the
// first point as the weighted fit solves it.
template <class Solve>
zfit_status fitAll(std::span<const zmath_vect> points, const Solve& solve, zfit_circle* circle, double* rmsError)
{
    ZFIT_TRY(zsys_attention_check());
    ZFIT_FAIL_IF(!anyCandidate(points), zmath_errDegenerate);
    zfit_circle solved;
    ZFIT_TRY(solve.fromPoints(points, points[0], &solved));
    zfit_circle check;
    ZFIT_TRY(solve.fromPoints(points, solved.centre, &check));
    *rmsError = zfit_circleRms_(solved, points);
    *circle = solved;
    return zfit_ok;
}

template <class Solve>
zfit_status searchCircle(const zstd_vector_zmath_vect* points, Solve solve, bool fitsAtAll, int32_t numIgnore,
                         zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    *rmsError = HUGE_VAL;
    const std::span<const zmath_vect> all = zsvc::view(points);
    // No window to fit: numIgnore takes all points, or more than there are.
    ZFIT_FAIL_IF(zsvc::size32(all) - numIgnore <= 0, zmath_errDegenerate);
    // Refused before any ranking: a NaN distance would leave it without an
    // order.
    ZFIT_FAIL_IF(!fitsAtAll || !zsvc::allFinite(all), zmath_errDegenerate);
    if (numIgnore == 0) return fitAll(all, solve, circle, rmsError);
    TripleCentres centres;
    CircleWindows<Solve> windows(solve, circle);
    return zsvc::searchWindows(points, numIgnore, rmsError, ignoredIndices, centres, windows);
}

}  // namespace

zfit_status zmath_circleFitFreeRadius_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zfit_circle* circle,
                                       double* rmsError, zstd_vector32* ignoredIndices)
{
    return searchCircle(points, FreeRadius{}, true, numIgnore, circle, rmsError, ignoredIndices);
}

zfit_status zmath_circleFitFixedRadius_(const zstd_vector_zmath_vect* points, double fixedRadius, int32_t numIgnore,
                                        zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    // No circle has a NaN or infinite radius.
    return searchCircle(points, FixedRadius{fixedRadius}, std::isfinite(fixedRadius), numIgnore, circle, rmsError,
                        ignoredIndices);
}
