// The run's one source of randomness: the libc generator, seeded once.
#pragma once

#include <cstdlib>

struct Rng {
    explicit Rng(unsigned seed) { std::srand(seed); }
    int next() { return std::rand(); }
    // A uniform draw in [0, 1].
    double uniform() { return next() / 2147483647.0; }
};
