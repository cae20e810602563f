// The partial ranking behind the outlier searches: the extremes it keeps,
// found afresh or repaired from one set of keys to the next, are exactly the
// first and last ranks of a full sort in the same order (ascending key,
// equal keys by index, NaN last), also when many keys are equal; and the
// points it reports leaving and joining the middle keep the middle exact.
#include <algorithm>
#include <numeric>
#include <set>

#include <zfit/services/ranking.hpp>

#include "support.hpp"

namespace {

// Storage for a ranking of n points with extremes of R.
struct Storage {
    Storage(size_t n, size_t count)
        : first(count), last(count), member(n), inFirst(n), inLast(n), order(n), values(n),
          lowHits(zsvc::RankExtremes::hitCapacity(count)), highHits(zsvc::RankExtremes::hitCapacity(count))
    {}
    zsvc::RankExtremes ranking()
    {
        return zsvc::RankExtremes({first, last, member, inFirst, inLast, order, values, lowHits, highHits});
    }
    std::vector<int32_t> first, last;
    std::vector<uint8_t> member;
    std::vector<uint64_t> inFirst, inLast;
    std::vector<int32_t> order;
    std::vector<double> values;
    std::vector<int32_t> lowHits, highHits;
};

// The full sort the partial ranking stands for.
std::vector<int32_t> fullRanking(const std::vector<double>& keys)
{
    std::vector<int32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int32_t a, int32_t b) { return zsvc::rankBefore(keys[a], a, keys[b], b); });
    return order;
}

void expectExtremesOfFullSort(const zsvc::RankExtremes& ranking, const std::vector<double>& keys, size_t count)
{
    const std::vector<int32_t> all = fullRanking(keys);
    const std::vector<int32_t> first(ranking.first().begin(), ranking.first().end());
    const std::vector<int32_t> last(ranking.last().begin(), ranking.last().end());
    EXPECT_EQ(first, std::vector<int32_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)))
        << "the first ranks";
    EXPECT_EQ(last, std::vector<int32_t>(all.end() - static_cast<std::ptrdiff_t>(count), all.end()))
        << "the last ranks";
}

// Keys that drift from one step to the next, as the candidates of a search
// do, with many exact ties and now and then a NaN: the ranking found afresh
// and every repair give what a full sort gives, and the middle reported by joins and departures is
// the true middle.
TEST(RankExtremes, RepairedTheyStayTheFullSortsExtremes)
{
    zt::Rng rng(7);
    for (int trial = 0; trial < 60; ++trial) {
        const size_t n = static_cast<size_t>(rng.integer(8, 80));
        const size_t count = static_cast<size_t>(rng.integer(1, static_cast<int>(n) / 2));
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " n " << n << " R " << count);
        Storage storage(n, count);
        zsvc::RankExtremes ranking = storage.ranking();
        std::vector<double> base(n), keys(n);
        for (double& b : base) b = rng.integer(0, 20);
        if (trial % 5 == 0) base[static_cast<size_t>(rng.integer(0, static_cast<int>(n) - 1))] = std::nan("");
        std::vector<double> slope(n);
        for (double& s : slope) s = rng.integer(-3, 3);
        keys = base;
        ranking.reset(keys.data());
        expectExtremesOfFullSort(ranking, keys, count);
        std::set<int32_t> middle;
        for (int32_t k = 0; k < static_cast<int32_t>(n); ++k)
            if (ranking.inMiddle(k)) middle.insert(k);
        for (int step = 1; step <= 40; ++step) {
            SCOPED_TRACE(::testing::Message() << "step " << step);
            // Integer keys along straight paths: points keep crossing each
            // other and meeting in exact ties.
            std::vector<double> next(n);
            for (size_t k = 0; k < n; ++k) next[k] = base[k] + slope[k] * step * 0.5;
            const auto hits = [&](double low, double high, zsvc::BoundHits& found) {
                zsvc::keyHits(keys.data(), n, low, high, found);
            };
            const auto fillAll = [&] { std::copy(next.begin(), next.end(), keys.begin()); };
            const zsvc::RankExtremes::Update update =
                ranking.update(keys.data(), fillAll, hits, [&](int32_t k, bool joined) {
                    if (joined)
                        middle.insert(k);
                    else
                        middle.erase(k);
                });
            expectExtremesOfFullSort(ranking, keys, count);
            if (update.fresh) {
                middle.clear();
                for (int32_t k = 0; k < static_cast<int32_t>(n); ++k)
                    if (ranking.inMiddle(k)) middle.insert(k);
            }
            for (int32_t k = 0; k < static_cast<int32_t>(n); ++k)
                EXPECT_EQ(middle.count(k) == 1, ranking.inMiddle(k)) << "point " << k << " in the middle";
        }
    }
}

}  // namespace
