// Orientation and in-circle tests with Shewchuk's floating-point error
// bounds ("Adaptive precision floating-point arithmetic and fast robust
// geometric predicates", 1997). The orientation falls back to exact
// arithmetic on expansions (sums of non-overlapping doubles, built with
// the error-free sum of Knuth and the error-free product through fma).
#include "predicates.hpp"

#include <cmath>

namespace zmet::roundness {

namespace {

constexpr double kEpsilon = 0x1p-53;
constexpr double kOrientationBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;
constexpr double kInCircleBound = (10.0 + 96.0 * kEpsilon) * kEpsilon;

// a + b = sum + error exactly.
void twoSum(double a, double b, double& sum, double& error)
{
    sum = a + b;
    const double bVirtual = sum - a, aVirtual = sum - bVirtual;
    error = (a - aVirtual) + (b - bVirtual);
}

// a * b = product + error exactly.
void twoProduct(double a, double b, double& product, double& error)
{
    product = a * b;
    error = std::fma(a, b, -product);
}

// An exact sum of up to 32 doubles, kept as a non-overlapping expansion of
// increasing magnitude with zero terms dropped; its sign is the sign of
// its largest term.
class Expansion {
public:
    void add(double b)
    {
        double carry = b;
        int kept = 0;
        for (int i = 0; i < size_; ++i) {
            double low;
            twoSum(carry, term_[i], carry, low);
            if (low != 0.0) term_[kept++] = low;
        }
        if (carry != 0.0) term_[kept++] = carry;
        size_ = kept;
    }
    // Adds the exact product of (a1 + a0) and (b1 + b0).
    void addProduct(double a1, double a0, double b1, double b0, double sign)
    {
        const double left[2] = {a1, a0}, right[2] = {b1, b0};
        for (double x : left)
            for (double y : right) {
                double product, error;
                twoProduct(x, y, product, error);
                add(sign * error);
                add(sign * product);
            }
    }
    int sign() const { return size_ == 0 ? 0 : term_[size_ - 1] > 0.0 ? 1 : -1; }

private:
    double term_[32] = {};
    int size_ = 0;
};

}  // namespace

int orientation(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c)
{
    const double left = (a.x - c.x) * (b.y - c.y), right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    const double bound = kOrientationBound * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    // Every difference as an exact pair, then the determinant exactly.
    double acx, acx0, bcy, bcy0, acy, acy0, bcx, bcx0;
    twoSum(a.x, -c.x, acx, acx0);
    twoSum(b.y, -c.y, bcy, bcy0);
    twoSum(a.y, -c.y, acy, acy0);
    twoSum(b.x, -c.x, bcx, bcx0);
    Expansion exact;
    exact.addProduct(acx, acx0, bcy, bcy0, 1.0);
    exact.addProduct(acy, acy0, bcx, bcx0, -1.0);
    return exact.sign();
}

bool surelyInCircle(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c, const zmath_vect& d)
{
    const double adx = a.x - d.x, ady = a.y - d.y, bdx = b.x - d.x, bdy = b.y - d.y;
    const double cdx = c.x - d.x, cdy = c.y - d.y;
    const double bdxcdy = bdx * cdy, cdxbdy = cdx * bdy, alift = adx * adx + ady * ady;
    const double cdxady = cdx * ady, adxcdy = adx * cdy, blift = bdx * bdx + bdy * bdy;
    const double adxbdy = adx * bdy, bdxady = bdx * ady, clift = cdx * cdx + cdy * cdy;
    const double det = alift * (bdxcdy - cdxbdy) + blift * (cdxady - adxcdy) + clift * (adxbdy - bdxady);
    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * alift +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * blift +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * clift;
    return det > kInCircleBound * permanent;
}

}  // namespace zmet::roundness
