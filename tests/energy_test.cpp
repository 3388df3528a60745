// Swap energies against values worked out by hand.
#include <gtest/gtest.h>

#include "search/energy.h"

namespace {

struct Pair {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    int assign[2] = {0, 1};
    // Profile m: measured O (peak 0), P (peak 1); predicted Q (residue 0), R (residue 1).
    void set(int m, double O, double P, double Q, double R) {
        (*obs)[m].pre[0] = O;
        (*obs)[m].pre[1] = P;
        (*sim)[m].pre[0] = Q;
        (*sim)[m].pre[1] = R;
    }
    SwapEnergy at(int np) { return swap_energy(0, 1, assign, *sim, *obs, np); }
};

TEST(SwapEnergy, PreTermForEachCaseOfMissingValues) {
    Pair p;
    p.set(0, 1, 2, 2, 1);
    EXPECT_EQ(p.at(1).cur, 2);
    EXPECT_EQ(p.at(1).swp, 0);
    p.set(0, 1, -999, 3, 5);  // only O measured
    EXPECT_EQ(p.at(1).cur, 4);
    EXPECT_EQ(p.at(1).swp, 16);
    p.set(0, -999, 2, 3, 5);  // only P measured
    EXPECT_EQ(p.at(1).cur, 9);
    EXPECT_EQ(p.at(1).swp, 1);
    p.set(0, -999, -999, 3, 5);
    EXPECT_EQ(p.at(1).cur, 0);
    EXPECT_EQ(p.at(1).swp, 0);
    p.set(0, 0, 0, 3, 5);  // 0 is a measured value
    EXPECT_EQ(p.at(1).cur, 34);
    // The residues now held, not the peaks' own indices, give Q and R.
    p.assign[0] = 1;
    p.assign[1] = 0;
    p.set(0, 1, 2, 2, 1);
    EXPECT_EQ(p.at(1).cur, 0);
    EXPECT_EQ(p.at(1).swp, 2);
}

TEST(SwapEnergy, ProfilesAreAddedInOrderEachPairSummedFirst) {
    Pair p;
    p.set(0, 0, 0, 1e8, 0);  // cur = 1e16
    p.set(1, 0, 0, 1, 1);    // adds 1 + 1
    // 1e16 + 2 is exact; adding each 1 on its own would round back to 1e16.
    EXPECT_EQ(p.at(2).cur, 1e16 + 2);
    EXPECT_EQ(p.at(1).cur, 1e16);
}

TEST(SwapEnergy, TypeWindowsFromProfileZeroOnly) {
    Pair p;
    (*p.sim)[0].restype[0] = 1;  // residue 0 Leu
    (*p.sim)[0].restype[1] = 2;  // residue 1 Val
    auto both = [&](double x0, double x1) {
        (*p.obs)[0].type_value[0] = x0;
        (*p.obs)[0].type_value[1] = x1;
        return p.at(0);
    };
    // Leu on peak 0 at 20.32: one unit below the window, 1e6; Val on peak 1 fine.
    EXPECT_NEAR(both(20.32, 22).cur, 1000000, 1e-3);
    EXPECT_EQ(both(21.32, 24.66).cur, 0);  // window edges are inside
    // Swapped: Leu meets 24.66 (fine), Val meets 21.32 (fine).
    EXPECT_EQ(both(21.32, 24.66).swp, 0);
    // Val on peak 1 at 25.66 costs 1e6; swapped, Val on peak 0 at 20 is fine
    // and Leu on peak 1 at 25.66 is fine.
    EXPECT_NEAR(both(20, 25.66).cur, 1.32 * 1.32 * 1e6 + 1e6, 1e-3);
    EXPECT_EQ(both(20, 25.66).swp, 0);
    EXPECT_GT(both(21.3199, 22).cur, 0);
    EXPECT_GT(both(22, 24.6601).cur, 0);
    // Untyped residues never pay, and other profiles' types are not read.
    (*p.sim)[0].restype[0] = 3;
    (*p.sim)[1].restype[0] = 1;
    (*p.obs)[1].type_value[0] = 0;
    EXPECT_EQ(both(0, 22).cur, 0);
    // With profiles, the pair of penalties is added to the PRE sum.
    p.set(0, 1, 2, 2, 1);
    (*p.sim)[0].restype[0] = 1;
    SwapEnergy e = [&] {
        (*p.obs)[0].type_value[0] = 20.32;
        (*p.obs)[0].type_value[1] = 22;
        return p.at(1);
    }();
    EXPECT_EQ(e.cur, 2 + type_penalty(1, 20.32));
    EXPECT_EQ(e.swp, 0 + type_penalty(2, 20.32));
    EXPECT_EQ(type_penalty(2, 20.32), 0);
}

}  // namespace
