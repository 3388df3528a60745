// The run's one source of randomness: the libc generator's sequence, seeded
// once. On the GNU libc the same additive feedback generator is computed
// here without rand()'s lock (tests prove the numbers equal); elsewhere
// rand() itself is used.
#pragma once

#include <cstdint>
#include <cstdlib>

struct Rng {
#ifdef __GLIBC__
    explicit Rng(unsigned seed) {
        // srandom_r for the default 128-byte state: 31 words, separation 3.
        if (seed == 0) seed = 1;
        int32_t word = static_cast<int32_t>(seed);
        s[0] = static_cast<uint32_t>(word);
        for (int i = 1; i < kDeg; ++i) {
            long hi = word / 127773, lo = word % 127773;
            word = static_cast<int32_t>(16807 * lo - 2836 * hi);
            if (word < 0) word += 2147483647;
            s[i] = static_cast<uint32_t>(word);
        }
        for (int i = 0; i < kDeg * 10; ++i) next();
    }
    int next() {
        uint32_t v = s[f] += s[b];
        if (++f == kDeg) f = 0;
        if (++b == kDeg) b = 0;
        return static_cast<int>(v >> 1);
    }
    // The value that the k-th next() from here will return, k < 3: the
    // words it adds are not yet overwritten by the ones before it.
    static constexpr bool kCanPeek = true;
    int peek(int k) const {
        const int i = f + k >= kDeg ? f + k - kDeg : f + k, j = b + k >= kDeg ? b + k - kDeg : b + k;
        return static_cast<int>(uint32_t(s[i] + s[j]) >> 1);
    }

private:
    static constexpr int kDeg = 31;
    uint32_t s[kDeg];
    int f = 3, b = 0;

public:
#else
    explicit Rng(unsigned seed) { std::srand(seed); }
    int next() { return std::rand(); }
    static constexpr bool kCanPeek = false;
    int peek(int) const { return 0; }
#endif
    // A uniform draw in [0, 1].
    double uniform() { return next() / 2147483647.0; }
};
