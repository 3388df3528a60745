// The assignment solver against brute force over all permutations.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "optimum/costs.h"
#include "optimum/lap.h"

namespace {

double brute_force_min(const std::vector<double>& cost, int n) {
    std::vector<int> a(n);
    std::iota(a.begin(), a.end(), 0);
    double best = 1e300;
    do best = std::min(best, assignment_energy(cost, n, a));
    while (std::next_permutation(a.begin(), a.end()));
    return best;
}

bool is_permutation(std::vector<int> a, int n) {
    std::sort(a.begin(), a.end());
    for (int i = 0; i < n; ++i)
        if (a[i] != i) return false;
    return int(a.size()) == n;
}

TEST(Optimal, MatchesBruteForceOnRandomAndTiedCosts) {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> real(0, 1000);
    std::uniform_int_distribution<int> few(0, 2);
    for (int n = 1; n <= 8; ++n)
        for (int trial = 0; trial < 20; ++trial) {
            const bool tied = trial % 2;
            std::vector<double> cost(size_t(n) * n);
            for (double& c : cost) c = tied ? few(gen) : real(gen);
            if (trial == 3) std::fill(cost.begin(), cost.end(), 5.0);
            if (trial == 5) cost[0] = 1e6;  // a type penalty
            std::vector<int> a = solve_assignment(cost, n);
            ASSERT_TRUE(is_permutation(a, n)) << n;
            EXPECT_EQ(assignment_energy(cost, n, a), brute_force_min(cost, n)) << "n " << n << " trial " << trial;
        }
}

TEST(Optimal, EdgeCases) {
    EXPECT_TRUE(solve_assignment({}, 0).empty());
    EXPECT_EQ(solve_assignment({1e300, 0, 0, 1e300}, 2), (std::vector<int>{1, 0}));
    EXPECT_TRUE(solve_assignment({1, HUGE_VAL, 2, 3}, 2).empty());  // not finite: not solved
}

TEST(Optimal, CostsFollowTheSwapEnergyTerms) {
    auto sim = make_table(), obs = make_table();
    (*obs)[0].pre[0] = 1;
    (*obs)[0].pre[1] = MISSING_PRE;
    (*obs)[1].pre[0] = 2;
    (*obs)[1].pre[1] = 5;
    (*sim)[0].pre[0] = 3;
    (*sim)[0].pre[1] = 4;
    (*sim)[1].pre[0] = 1;
    (*sim)[1].pre[1] = 1;
    (*sim)[0].restype[1] = 2;              // Val
    (*obs)[0].type_value[0] = 24.66 + 1;   // too high for Val
    (*obs)[0].type_value[1] = 20;
    std::vector<double> c = assignment_costs(*sim, *obs, Shape{2, 2});
    EXPECT_EQ(c[0], 4 + 1);                              // peak 0, residue 0
    EXPECT_NEAR(c[1], 9 + 1 + 1000000, 1e-6);             // peak 0, residue 1: Val penalty
    EXPECT_EQ(c[2], 16);                                 // peak 1 unmeasured in profile 0
    EXPECT_EQ(c[3], 16);
}

TEST(Optimal, UnboundedCostsAreFoundExactly) {
    auto sim = make_table(), obs = make_table();
    // Each profile's largest term is near the largest double, but no residue
    // has both: the quick bound overflows, the costs themselves do not.
    (*sim)[0].pre[1] = 1.3e154;
    (*sim)[1].pre[0] = 1.3e154;
    EXPECT_TRUE(peaks_with_unbounded_cost(*sim, *obs, Shape{2, 2}).empty());
    (*obs)[0].pre[1] = -1.3e154;  // peak 1 on residue 1 now overflows
    EXPECT_EQ(peaks_with_unbounded_cost(*sim, *obs, Shape{2, 2}), (std::vector<int>{1}));
    (*obs)[0].type_value[0] = -1e300;  // as does any typed residue on peak 0
    EXPECT_EQ(peaks_with_unbounded_cost(*sim, *obs, Shape{2, 2}), (std::vector<int>{1}));
    (*sim)[0].restype[1] = 1;
    EXPECT_EQ(peaks_with_unbounded_cost(*sim, *obs, Shape{2, 2}), (std::vector<int>{0, 1}));
    // The bound must hold each term's other extreme, and the Val window too.
    auto sim2 = make_table(), obs2 = make_table();
    (*obs2)[0].pre[0] = 1.5e154;   // fits the highest prediction, overflows on the lowest
    (*sim2)[0].pre[0] = 1.5e154;
    (*sim2)[0].pre[1] = -1.5e154;
    (*obs2)[0].type_value[1] = 1e300;  // far above the Val window only
    (*obs2)[0].pre[1] = MISSING_PRE;
    (*sim2)[0].restype[0] = 2;
    EXPECT_EQ(peaks_with_unbounded_cost(*sim2, *obs2, Shape{1, 2}), (std::vector<int>{0, 1}));
}

}  // namespace
