// The walk as written plainly (rand(), floor, swap energies from the tables,
// one 1.0 per peak and sample) against the fast one: every visit count,
// counter and the generator's position must agree exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "search/energy_model.h"
#include "search/sampler.h"

namespace {

struct Reference {
    std::vector<int> assign;
    std::vector<double> visits = std::vector<double>(size_t(kMaxEntries) * kMaxEntries, 0.0);
    double beta = 0.001, E_cur = 0, E_swap = 0;
    int step = 0, ncool = 0, nequil = 0, nstat = 0;
    bool equilibrated = false;
};

Reference plain_walk(const ProfileTable& sim, const ProfileTable& obs, Shape shape) {
    const int maxres = shape.maxres;
    Reference s;
    for (int j = 0; j < maxres; ++j) s.assign.push_back(j);
    std::srand(10000);
    std::rand();  // the first draw, printed
    auto u = [] { return std::rand() / 2147483647.0; };
    do {
        s.beta = s.beta / 0.999999;
        s.step++;
        if (s.beta > 0.5) {
            if (s.ncool == 0) s.ncool = s.step;
            s.nequil++;
            s.equilibrated = true;
            s.beta = 0.5;
        }
        int M = (int)std::floor(maxres * u());
        int N = (int)std::floor(maxres * u());
        if (M != N) {
            SwapEnergy e = swap_energy(M, N, s.assign.data(), sim, obs, shape.numprofiles);
            s.E_cur = e.cur;
            s.E_swap = e.swp;
        }
        bool accept = s.E_cur > s.E_swap || std::exp(-(s.E_swap - s.E_cur) * s.beta) > u();
        if (accept && M != N) std::swap(s.assign[M], s.assign[N]);
        if (s.equilibrated && s.nequil > 10000) {
            s.nstat++;
            if ((double)s.nstat > 1000000.0) break;
            for (int j = 0; j < maxres; ++j) s.visits[j * kMaxEntries + s.assign[j]] += 1.0;
        }
    } while ((double)s.step < 1000000000.0);
    return s;
}

// Random tables with missing values, types near the window edges and the
// occasional extreme value.
struct RandomProblem {
    std::unique_ptr<ProfileTable> sim = make_table(), obs = make_table();
    Shape shape;
    RandomProblem(unsigned seed, int maxres, int np, double scale) : shape{np, maxres} {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> pre(0, scale), x(20.5, 25.5);
        std::uniform_int_distribution<int> type(0, 3), pick(0, 9);
        for (int m = 0; m < kMaxProfiles; ++m)
            for (int j = 0; j < maxres; ++j) {
                (*sim)[m].pre[j] = pre(gen);
                (*obs)[m].pre[j] = pick(gen) == 0 ? MISSING_PRE : pre(gen);
                (*sim)[m].restype[j] = type(gen);
                (*obs)[m].type_value[j] = x(gen);
            }
    }
};

// The swap energy and the optimum's per-peak costs must describe the same
// energy; only their order of additions differs.
bool same_energy(double swap, double a, double b) {
    const double sum = a + b;
    return std::isinf(swap) ? swap == sum : std::fabs(swap - sum) <= 1e-12 * std::fabs(sum);
}

TEST(Reference, EnergyModelIsBitIdentical) {
    // The build under test is the one asked for: the vector path, or the
    // portable one where the build turns it off.
#if defined(PREASSIGN_SCALAR_ENERGY) || !defined(__SSE2__)
    EXPECT_FALSE(EnergyModel::kVectorPath);
#else
    EXPECT_TRUE(EnergyModel::kVectorPath);
#endif
    for (int np : {0, 1, 2, 7, 20}) {
        RandomProblem p(np + 1, 30, np, 50);
        (*p.obs)[0].pre[3] = -1e200;  // squares overflow to infinity
        (*p.sim)[np > 1 ? 1 : 0].pre[4] = 1e300;
        (*p.obs)[0].pre[5] = -0.0;
        EnergyModel model(*p.sim, *p.obs, np, 30);
        std::vector<int> a(30);
        std::mt19937 gen(7);
        for (int j = 0; j < 30; ++j) a[j] = j;
        int differ = 0, other_energy = 0;
        auto cost = [&](int j, int r) { return peak_cost(*p.sim, *p.obs, np, j, r); };
        for (int k = 0; k < 20000; ++k) {
            std::shuffle(a.begin(), a.end(), gen);
            int M = k % 30, N = (k * 7 + 3) % 30;
            if (M == N) continue;
            SwapEnergy want = swap_energy(M, N, a.data(), *p.sim, *p.obs, np);
            SwapEnergy got = model.swap(M, N, a[M], a[N]);
            differ += std::memcmp(&want, &got, sizeof want) != 0;
            other_energy += !same_energy(want.cur, cost(M, a[M]), cost(N, a[N])) ||
                            !same_energy(want.swp, cost(M, a[N]), cost(N, a[M]));
        }
        EXPECT_EQ(differ, 0) << "profiles " << np;
        EXPECT_EQ(other_energy, 0) << "profiles " << np;
    }
}

TEST(Reference, FastWalkEqualsPlainWalk) {
    struct Case {
        unsigned seed;
        int maxres, np;
        double scale;
    } cases[] = {{1, 6, 3, 3.0}, {2, 9, 0, 1.0}, {3, 2, 1, 1.0}, {4, 12, 20, 10.0}};
    for (const Case& c : cases) {
        RandomProblem p(c.seed, c.maxres, c.np, c.scale);
        Reference want = plain_walk(*p.sim, *p.obs, p.shape);
        const int next_want = std::rand();

        Rng rng(10000);
        CAnnealingSampler got = run_sampler(*p.sim, *p.obs, p.shape, rng);
        EXPECT_EQ(rng.next(), next_want) << "seed " << c.seed;
        EXPECT_EQ(got.assign, want.assign) << "seed " << c.seed;
        EXPECT_EQ(got.visits, want.visits) << "seed " << c.seed;
        EXPECT_EQ(got.step, want.step);
        EXPECT_EQ(got.ncool, want.ncool);
        EXPECT_EQ(got.nequil, want.nequil);
        EXPECT_EQ(got.nstat, want.nstat);
        EXPECT_EQ(got.E_cur, want.E_cur);
        EXPECT_EQ(got.E_swap, want.E_swap);
    }
}

}  // namespace
