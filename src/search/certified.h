// The walk's two decisions settled by bounds, without its exact energies.
// Only the decisions reach the output (E_cur > E_swap, and exp(x) > u), so
// an approximation of the energies serves wherever its error bound leaves
// no doubt; elsewhere the walk falls back to the exact, fixed-order sums.
//
// Error analysis. For one pairing let T be its terms: the squares
// fl(fl(Q - O)^2) over the measured profiles and the two type penalties, all
// non-negative, at most K = 2 * 20 + 2 = 42 of them, with true sum S.
//  - The walk's exact energy E is a floating sum of T in a fixed order. For
//    non-negative terms every addition has a relative error of at most
//    u = 2^-53, so any order gives S (1 + t), |t| <= (K - 1) u / (1 - (K - 1) u)
//    < 4.6e-15, plus at most 41 * 2^-1075 where results are subnormal.
//  - The approximation A = C[M][aM] + C[N][aN] adds two per-peak costs, each a
//    floating sum of its share of T (the same squares, in another order)
//    rounded to float: relative 2^-24, or absolute 2^-150 below FLT_MIN;
//    costs beyond 1e37 make the table unusable, so nothing overflows.
//    Their double sum adds u.
//  So |A - E| <= 6.0e-8 S + 1e-43 <= 6.1e-8 A + 1e-43. The bound used,
//  kRelative A + kAbsolute with kRelative = 2^-20 (9.5e-7) and kAbsolute =
//  1e-40, is over ten times that, which also covers the few roundings of
//  the comparisons themselves.
//
//  The acceptance test is exp(x) > u with x = -fl(E_swap - E_cur) * beta,
//  reached only once E_cur < E_swap is settled. From the bounds, E_swap -
//  E_cur lies in [dlo, dhi], and x within a relative 1e-12 of [-dhi beta,
//  -dlo beta]. glibc's exp is within 1 ulp (2^-52 relative) of e^x, and ln u
//  lies in a bracket [llo, lhi] read from a table of ln(1 + i/256) (each
//  entry within 1 ulp; the bracket is widened by 1e-13). Then x < llo -
//  1e-12 makes exp(x) < u, and x > lhi + 1e-12 makes exp(x) > u; anything
//  between, and u = 0, goes to the exact test.
#pragma once

#include <vector>

#include "profiles/profile.h"

// Per (peak, residue) cost of the energy, in float.
struct PairCosts {
    int n = 0;
    bool usable = false;   // worth it (see the constructor), every cost finite and below 1e37
    std::vector<float> c;  // [peak * n + residue]

    PairCosts(const ProfileTable& sim, const ProfileTable& obs, int numprofiles, int n);
    double at(int j, int r) const { return c[size_t(j) * n + r]; }
    // Starts loading the four costs of swapping peaks j and k under assign.
    void prefetch(int j, int k, const int* assign) const {
        const float* rj = c.data() + size_t(j) * n;
        const float* rk = c.data() + size_t(k) * n;
        touch(rj + assign[j]);
        touch(rj + assign[k]);
        touch(rk + assign[j]);
        touch(rk + assign[k]);
    }

private:
    // GCC 12 drops __builtin_prefetch in loops like the walk's.
    static void touch(const float* p) {
#if defined(__x86_64__) || defined(__i386__)
        asm volatile("prefetcht0 %0" : : "m"(*p));
#else
        __builtin_prefetch(p);
#endif
    }
};

inline constexpr double kRelative = 0x1p-20;
inline constexpr double kAbsolute = 1e-40;

enum class Verdict { Accept, Reject, Uphill, Unsure };

// A pair's approximate energies and how far each may lie from the exact one.
struct PairBounds {
    double cur = 0.0, swp = 0.0, bc = 0.0, bs = 0.0;
    PairBounds() = default;
    PairBounds(double c, double s) : cur(c), swp(s), bc(kRelative * c + kAbsolute), bs(kRelative * s + kAbsolute) {}
};

// E_cur > E_swap: Accept when the bounds settle it true, Uphill when they
// settle it false (a uniform draw decides), else Unsure.
inline Verdict downhill(const PairBounds& b) {
    if (b.cur - b.bc > b.swp + b.bs) return Verdict::Accept;
    if (b.cur + b.bc < b.swp - b.bs) return Verdict::Uphill;
    return Verdict::Unsure;
}

// ln u lies in [lo, hi] for u > 0.
struct LnBracket {
    double lo, hi;
};
LnBracket bracket_ln(double u);

// exp(-(E_swap - E_cur) * beta) > u for u = draw / 2147483647, once
// downhill() said Uphill: Accept, Reject, or Unsure.
inline Verdict metropolis(const PairBounds& b, double beta, int draw) {
    if (draw == 0) return Verdict::Unsure;
    const double dlo = (b.swp - b.bs) - (b.cur + b.bc), dhi = (b.swp + b.bs) - (b.cur - b.bc);
    const double xlo = -(dhi * beta) * (1.0 + 1e-12), xhi = -(dlo * beta) * (1.0 - 1e-12);
    // Below every draw's logarithm (at least ln(1 / 2147483647) = -21.49)
    // without working out the draw: the common case at low temperature.
    if (xhi < -22.0) return Verdict::Reject;
    const LnBracket l = bracket_ln(draw / 2147483647.0);
    if (xhi < l.lo - 1e-12) return Verdict::Reject;
    if (xlo > l.hi + 1e-12) return Verdict::Accept;
    return Verdict::Unsure;
}
