// The generator must give exactly rand()'s numbers, seed for seed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "search/rng.h"

TEST(Rng, SameSequenceAsRand) {
    for (unsigned seed : {10000u, 0u, 1u, 12345u, 2147483647u, 2147483648u, 4294967295u}) {
        Rng rng(seed);
        std::srand(seed);
        const long n = seed == 10000u ? 25000000 : 200000;  // a whole run draws about 18 million
        long differ = 0;
        for (long k = 0; k < n; ++k) differ += rng.next() != std::rand();
        EXPECT_EQ(differ, 0) << "seed " << seed;
    }
#ifdef __GLIBC__
    EXPECT_EQ(Rng(10000).next(), 595422259);  // prints as "first RANDOM number:  0.277265"
#endif
}

TEST(Rng, UniformIsRandOverItsMaximum) {
    Rng rng(10000);
    std::srand(10000);
    for (int k = 0; k < 1000; ++k) EXPECT_EQ(rng.uniform(), std::rand() / 2147483647.0) << k;
}

TEST(Rng, PeekShowsTheNextThreeDraws) {
    Rng rng(10000);
    for (int k = 0; k < 100000; ++k) {
        const int a = rng.peek(0), b = rng.peek(1), c = rng.peek(2);
        const int x = rng.next();
        ASSERT_EQ(a, x) << k;
        if (k % 2) continue;  // peek from every other position
        ASSERT_EQ(rng.peek(0), b) << k;
        ASSERT_EQ(rng.peek(1), c) << k;
    }
}
