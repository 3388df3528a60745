// Reproducible random numbers, the same on every platform: splitmix64 for
// short streams and seeding, xoshiro256** for the sampler's long runs.
#pragma once

#include <cstdint>

// The next number of the splitmix64 stream whose state is `state`.
inline uint64_t splitmix64(uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A uniform number in [0, 1) from 64 random bits.
inline double unit_interval(uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

struct Random {
    uint64_t s[4];
    explicit Random(uint64_t seed) {
        for (uint64_t& x : s) x = splitmix64(seed);
    }
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t next() {
        const uint64_t result = rotl(s[1] * 5, 7) * 9, t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return result;
    }
    double uniform() { return unit_interval(next()); }
    int below(int n) { return int((next() >> 32) * uint64_t(n) >> 32); }
};
