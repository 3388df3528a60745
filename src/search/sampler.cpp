// The schedule is fixed by the arithmetic of beta alone, so every run has the
// same length; only the draws and energies differ. Each step's decision
// comes from the exact energies or, where a cost table pays, from bounds on
// approximate ones (certified.h), with the exact energies worked out only
// where those leave doubt. Visits are counted per holding period: a peak's
// cell grows by the number of samples it held its residue when that residue
// changes, and once more at the end. The counts are whole numbers, exact in
// doubles, so they equal one 1.0 per sample.
#include "search/sampler.h"

#include <cmath>
#include <numeric>

#include "search/certified.h"
#include "search/energy.h"
#include "search/energy_model.h"

namespace {

// The last pair's energies, as the walk keeps them (0 and 0 before the first).
struct Energies {
    double E_cur = 0.0, E_swap = 0.0;
    int exact_pairs = 0;
};

// Decisions from the exact energies, step by step as written.
struct ExactDecisions : Energies {
    const EnergyModel& model;
    explicit ExactDecisions(const EnergyModel& m) : model(m) {}

    bool accept(int M, int N, const int* a, double beta, Rng& g) {
        if (M != N) {
            const SwapEnergy e = model.swap(M, N, a[M], a[N]);
            E_cur = e.cur;
            E_swap = e.swp;
            ++exact_pairs;
        }
        return E_cur > E_swap || metropolis_accepts(-(E_swap - E_cur) * beta, g.uniform());
    }
    void finish() {}
};

// Decisions from bounds on the table's costs; the exact energies of the last
// pair only where the bounds leave doubt, and at the end.
struct BoundedDecisions : Energies {
    const EnergyModel& model;
    const PairCosts& costs;
    int maxres;
    struct {
        int M, N, aM, aN;  // the last pair and its residues before the step
    } last{0, 0, 0, 0};
    PairBounds bounds;
    bool exact = true;  // E_cur and E_swap are the last pair's

    BoundedDecisions(const EnergyModel& m, const PairCosts& c, int n) : model(m), costs(c), maxres(n) {}

    void make_exact() {
        const SwapEnergy e = model.swap(last.M, last.N, last.aM, last.aN);
        E_cur = e.cur;
        E_swap = e.swp;
        exact = true;
        ++exact_pairs;
    }

    bool accept(int M, int N, const int* a, double beta, Rng& g) {
        // The next step's peaks come from the draws after this step's
        // acceptance draw, which most steps make: their costs are fetched
        // while this step decides.
        if (Rng::kCanPeek)
            costs.prefetch(pick_peak(maxres, g.peek(1) * (1.0 / 2147483647.0)),
                           pick_peak(maxres, g.peek(2) * (1.0 / 2147483647.0)), a);
        if (M != N) {
            last = {M, N, a[M], a[N]};
            bounds = PairBounds(costs.at(M, last.aM) + costs.at(N, last.aN),
                                costs.at(M, last.aN) + costs.at(N, last.aM));
            exact = false;
        }
        // A step with M = N decides on the last pair's energies, as they were.
        const Verdict v = exact ? Verdict::Unsure : downhill(bounds);
        if (v == Verdict::Accept) return true;
        if (v == Verdict::Uphill) {
            const int draw = g.next();
            const Verdict m = metropolis(bounds, beta, draw);
            if (m != Verdict::Unsure) return m == Verdict::Accept;
            make_exact();
            return metropolis_accepts(-(E_swap - E_cur) * beta, draw / 2147483647.0);
        }
        if (!exact) make_exact();
        return E_cur > E_swap || metropolis_accepts(-(E_swap - E_cur) * beta, g.uniform());
    }
    void finish() {
        if (!exact) make_exact();
    }
};

template <typename Decisions>
void walk(CAnnealingSampler& s, Decisions& d, Rng& rng, int maxres) {
    int* const a = s.assign.data();
    std::vector<int> since(maxres, 1);  // first sample of the current holding period
    auto close_period = [&](int j, int sample) {
        s.visit(j, a[j]) += sample - since[j];
        since[j] = sample;
    };

    // Working copies in locals: the compiler cannot keep state that might
    // alias the arrays in registers.
    Rng g = rng;
    double beta = s.beta;
    int step = s.step, ncool = s.ncool, nequil = s.nequil, nstat = s.nstat;
    bool equilibrated = s.equilibrated;
    do {
        beta = beta / 0.999999;
        ++step;
        if (beta > 0.5) {
            if (ncool == 0) ncool = step;
            ++nequil;
            equilibrated = true;
            beta = 0.5;
        }
        const int M = pick_peak(maxres, g.uniform());
        const int N = pick_peak(maxres, g.uniform());
        const bool accept = d.accept(M, N, a, beta, g);
        const bool sampling = equilibrated && nequil > kEquilSteps;
        if (accept && M != N) {
            if (sampling) {
                close_period(M, nstat + 1);
                close_period(N, nstat + 1);
            }
            std::swap(a[M], a[N]);
        }
        if (sampling && double(++nstat) > double(kStatSteps)) break;
    } while (double(step) < 1000000000.0);
    d.finish();

    rng = g;
    const int taken = nstat > kStatSteps ? kStatSteps : nstat;
    for (int j = 0; j < maxres; ++j) close_period(j, taken + 1);
    s.beta = beta;
    s.E_cur = d.E_cur;
    s.E_swap = d.E_swap;
    s.step = step;
    s.ncool = ncool;
    s.nequil = nequil;
    s.nstat = nstat;
    s.equilibrated = equilibrated;
    s.exact_pairs = d.exact_pairs;
}

}  // namespace

CAnnealingSampler run_sampler(const ProfileTable& sim, const ProfileTable& obs, Shape shape, Rng& rng,
                              const std::function<void(double)>& first_draw) {
    const int maxres = shape.maxres, np = shape.numprofiles;
    CAnnealingSampler s;
    s.assign.resize(maxres);
    std::iota(s.assign.begin(), s.assign.end(), 0);
    const double u0 = rng.uniform();
    if (first_draw) first_draw(u0);
    s.visits.assign(size_t(kMaxEntries) * kMaxEntries, 0.0);

    const EnergyModel model(sim, obs, np, maxres);
    const PairCosts costs(sim, obs, np, maxres);
    if (costs.usable) {
        BoundedDecisions d(model, costs, maxres);
        walk(s, d, rng, maxres);
    } else {
        ExactDecisions d(model);
        walk(s, d, rng, maxres);
    }
    return s;
}
