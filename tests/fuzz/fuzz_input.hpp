// Decodes a fuzzer's bytes into the inputs of a fit: small integers for the
// parameters, then doubles for coordinates, weights and line values. Values
// come either as raw bit patterns (NaN, infinities, subnormals, huge
// numbers) or as small grid values, so that duplicated, collinear and
// cocircular points turn up often.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zfit/zfit.h>

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    int32_t smallInt(int32_t lo, int32_t hi)
    {
        const int32_t span = hi - lo + 1;
        return lo + static_cast<int32_t>(byte() % static_cast<uint32_t>(span));
    }

    double value()
    {
        const uint8_t kind = byte();
        if (kind < 200) return static_cast<double>(static_cast<int8_t>(byte())) / 4.0;  // grid
        if (kind < 230)
            return (static_cast<double>(static_cast<int8_t>(byte())) / 4.0) * std::ldexp(1.0, smallInt(-40, 40));
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    double weight()
    {
        const uint8_t kind = byte();
        if (kind < 220) return static_cast<double>(byte()) / 16.0;
        return value();
    }

    std::vector<zmath_vect> points(int32_t maxCount)
    {
        const int32_t n = smallInt(0, maxCount);
        std::vector<zmath_vect> p(static_cast<size_t>(n));
        for (zmath_vect& v : p) v = {value(), value()};
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// An invariant broken: report and stop so that the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)

// A status is 0 or one of the documented failure codes.
inline bool documented(zfit_status s)
{
    if (s == 0) return true;
#define FUZZ_KNOWN_(name, bits, text) \
    if (s == name) return true;
    ZFIT_STATUS_TABLE(FUZZ_KNOWN_)
#undef FUZZ_KNOWN_
    return false;
}

// isValid after a successful fit agrees with the limit.
inline bool validityAgrees(int32_t isValid, double maxRmsError, double rmsError)
{
    return isValid == (maxRmsError > rmsError ? 1 : 0);
}

// Indices are distinct, in range and as many as expected.
inline bool indicesSound(const zstd_vector32& v, int32_t n, int32_t expected)
{
    if (v.size != expected) return false;
    std::vector<bool> seen(static_cast<size_t>(n), false);
    for (int32_t i = 0; i < v.size; ++i) {
        const int32_t k = v.begin[i];
        if (k < 0 || k >= n || seen[static_cast<size_t>(k)]) return false;
        seen[static_cast<size_t>(k)] = true;
    }
    return true;
}

}  // namespace fuzz
