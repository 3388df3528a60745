// The walk's schedule and bookkeeping, its order of draws, the distribution it
// samples, and that it finds a clear assignment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "search/assignment.h"
#include "search/energy.h"
#include "search/sampler.h"

namespace {

constexpr long kSteps = 7224605;

struct Problem {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    Shape shape;
    Problem(int maxres, int np) : shape{np, maxres} {}
    CAnnealingSampler run(Rng& rng) { return run_sampler(*sim, *obs, shape, rng); }
};

double row_sum(const CAnnealingSampler& s, int j) {
    double sum = 0;
    for (int r = 0; r < kMaxEntries; ++r) sum += s.visit(j, r);
    return sum;
}

// The value the generator gives after `skip` draws from a fresh seed.
int draw_after(long skip) {
    Rng r(10000);
    for (long k = 0; k < skip; ++k) r.next();
    return r.next();
}

TEST(Sampler, ScheduleIsTheSameForEveryInput) {
    Problem p(4, 1);
    for (int j = 0; j < 4; ++j) {
        (*p.obs)[0].pre[j] = j * 30;
        (*p.sim)[0].pre[j] = (3 - j) * 30;
    }
    Rng rng(10000);
    CAnnealingSampler s = p.run(rng);
    EXPECT_EQ(s.ncool, 6214605);
    EXPECT_EQ(s.step, kSteps);
    EXPECT_EQ(s.nequil, kSteps - 6214605 + 1);
    EXPECT_EQ(s.nstat, 1000001);
    EXPECT_EQ(s.samples(), 1000000);
    EXPECT_EQ(s.beta, 0.5);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(row_sum(s, j), 1000000) << "peak " << j;
    std::vector<int> sorted = s.assign;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3}));
    // The reversed profile is the only good fit, and the walk sits on it.
    EXPECT_EQ(s.visit(0, 3), 1000000);
    EXPECT_EQ(s.visit(3, 0), 1000000);
}

TEST(Sampler, NoPeaksOrOnePeakStillDrawsThreeTimesPerStep) {
    for (int maxres : {0, 1}) {
        Problem p(maxres, 1);
        Rng rng(10000);
        CAnnealingSampler s = p.run(rng);
        int next = rng.next();
        // Both picks are always 0, the stored energies stay equal, so every
        // step also makes the acceptance draw.
        EXPECT_EQ(next, draw_after(1 + 3 * kSteps)) << "maxres " << maxres;
        EXPECT_EQ(s.E_cur, 0.0);
        EXPECT_EQ(s.E_swap, 0.0);
        EXPECT_EQ(s.ncool, 6214605);
        EXPECT_EQ(s.samples(), 1000000);
        EXPECT_EQ(s.assign.size(), size_t(maxres));
        EXPECT_EQ(row_sum(s, 0), maxres == 1 ? 1000000 : 0);
        EXPECT_EQ(row_sum(s, 1), 0);
    }
}

TEST(Sampler, PickedPeakStaysInRange) {
    EXPECT_EQ(pick_peak(10, 1.0), 9);
    EXPECT_EQ(pick_peak(10, 0.99999), 9);
    EXPECT_EQ(pick_peak(10, 0.5), 5);
    EXPECT_EQ(pick_peak(10, 0.0), 0);
    EXPECT_EQ(pick_peak(1, 1.0), 0);
    EXPECT_EQ(pick_peak(0, 1.0), 0);
    EXPECT_EQ(pick_peak(800, 2147483646 / 2147483647.0), 799);
}

TEST(Sampler, AcceptanceShortcutAgreesWithExp) {
    const double tiny = 1 / 2147483647.0;
    int differ = 0;
    for (double x = -800; x <= 1; x += 0.0137)
        for (double u : {0.0, tiny, 2 * tiny, 1e-9, 1e-6, 0.3, 0.999, 1.0})
            differ += metropolis_accepts(x, u) != (std::exp(x) > u);
    EXPECT_EQ(differ, 0);
    EXPECT_TRUE(metropolis_accepts(-745.0, 0.0));
    EXPECT_FALSE(metropolis_accepts(-746.0, 0.0));
    EXPECT_FALSE(metropolis_accepts(-21.6, tiny));
    EXPECT_TRUE(metropolis_accepts(-21.4, tiny));
    EXPECT_TRUE(metropolis_accepts(0.0, 0.999));
    EXPECT_FALSE(metropolis_accepts(0.0, 1.0));
}

// Total energy of a full assignment: the swap energy's terms for every peak.
double total_energy(const Problem& p, const std::vector<int>& a) {
    double e = 0;
    for (size_t j = 0; j < a.size(); ++j) {
        for (int m = 0; m < p.shape.numprofiles; ++m) {
            double O = (*p.obs)[m].pre[j];
            if (O != MISSING_PRE) e += ((*p.sim)[m].pre[a[j]] - O) * ((*p.sim)[m].pre[a[j]] - O);
        }
        e += type_penalty((*p.sim)[0].restype[a[j]], (*p.obs)[0].type_value[j]);
    }
    return e;
}

TEST(Sampler, VisitsFollowTheBoltzmannDistribution) {
    const int n = 5;
    Problem p(n, 2);
    const double o0[n] = {0, 1, 2, 3, -999}, s0[n] = {0.5, 1.5, 2.2, 2.9, 4.1};
    const double o1[n] = {2, -999, 1, 0.5, 1}, s1[n] = {1.6, 0.9, 1.1, 0.2, 2};
    for (int j = 0; j < n; ++j) {
        (*p.obs)[0].pre[j] = o0[j];
        (*p.sim)[0].pre[j] = s0[j];
        (*p.obs)[1].pre[j] = o1[j];
        (*p.sim)[1].pre[j] = s1[j];
        (*p.obs)[0].type_value[j] = 22;
    }
    (*p.sim)[0].restype[2] = 1;
    (*p.obs)[0].type_value[3] = 21.319;  // Leu residue 2 on peak 3 costs 1
    Rng rng(10000);
    CAnnealingSampler s = p.run(rng);

    std::vector<int> a(n);
    std::iota(a.begin(), a.end(), 0);
    double expect[n][n] = {}, z = 0;
    do {
        double w = std::exp(-0.5 * total_energy(p, a));
        z += w;
        for (int j = 0; j < n; ++j) expect[j][a[j]] += w;
    } while (std::next_permutation(a.begin(), a.end()));
    // 1e6 correlated samples of a walk that mixes within tens of steps leave
    // at least 2e4 effective samples: a standard error below 0.0036 per
    // frequency. 0.02 is over five of those, and far below any real error
    // (a wrong sign or factor in the energy shifts these by 0.1 or more).
    for (int j = 0; j < n; ++j)
        for (int r = 0; r < n; ++r)
            EXPECT_NEAR(s.visit(j, r) / s.samples(), expect[j][r] / z, 0.02) << j << "," << r;
}

TEST(Sampler, RecoversAClearAssignment) {
    const int n = 40, np = 5;
    Problem p(n, np);
    std::mt19937 gen(42);
    std::uniform_real_distribution<double> pre(0, 100), noise(-0.5, 0.5);
    std::vector<int> truth(n);
    std::iota(truth.begin(), truth.end(), 0);
    std::shuffle(truth.begin(), truth.end(), gen);
    for (int m = 0; m < np; ++m) {
        for (int r = 0; r < n; ++r) (*p.sim)[m].pre[r] = pre(gen);
        for (int j = 0; j < n; ++j) (*p.obs)[m].pre[j] = (*p.sim)[m].pre[truth[j]] + noise(gen);
    }
    (*p.obs)[2].pre[7] = MISSING_PRE;
    Rng rng(10000);
    CAnnealingSampler s = p.run(rng);
    most_probable_assignment(s, n);
    int right = 0;
    for (int j = 0; j < n; ++j) right += s.assign[j] == truth[j];
    EXPECT_GE(right, 38);  // 95%
}

TEST(MostProbable, TakesTheFirstLargestCountPerRow) {
    CAnnealingSampler s;
    s.visits.assign(size_t(kMaxEntries) * kMaxEntries, 0.0);
    s.assign = {7, 7, 7, 7, 7, 7, 7, 7};
    s.visit(0, 2) = 400000;
    s.visit(0, 5) = 600000;
    s.visit(1, 1) = 500000;
    s.visit(1, 3) = 500000;
    s.visit(2, 4) = 700000;
    s.visit(3, 4) = 600000;
    s.visit(3, 0) = 400000;
    s.visit(5, 6) = 1;
    s.visit(4, 8) = 1000000;  // beyond maxres: never looked at
    most_probable_assignment(s, 8);
    EXPECT_EQ(s.assign, (std::vector<int>{5, 1, 4, 4, 7, 6, 7, 7}));
}

}  // namespace
