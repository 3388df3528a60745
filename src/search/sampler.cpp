// The schedule is fixed by the arithmetic of beta alone, so every run has the
// same length; only the draws and energies differ. Most decisions are
// settled by bounds on approximate energies (certified.h); the exact ones
// are worked out only where those leave doubt, and for the last pair. Visits are counted per
// holding period: a peak's cell grows by the number of samples it held its
// residue when that residue changes, and once more at the end. The counts
// are whole numbers, exact in doubles, so they equal one 1.0 per sample.
#include "search/sampler.h"

#include <cmath>
#include <numeric>

#include "search/energy.h"
#include "search/certified.h"
#include "search/energy_model.h"

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
    int* const a = s.assign.data();
    std::vector<int> since(maxres, 1);  // first sample of the current holding period
    auto close_period = [&](int j, int sample) {
        s.visit(j, a[j]) += sample - since[j];
        since[j] = sample;
    };

    // Working copies in locals: the compiler cannot keep state that might
    // alias the arrays in registers.
    Rng g = rng;
    double beta = s.beta, E_cur = s.E_cur, E_swap = s.E_swap;
    int step = s.step, ncool = s.ncool, nequil = s.nequil, nstat = s.nstat;
    bool equilibrated = s.equilibrated;
    // The last pair evaluated, its residues before the step, and whether its
    // exact energies are known (they are 0 and 0 before the first pair).
    struct {
        int M, N, aM, aN;
    } last{0, 0, 0, 0};
    double A_cur = 0.0, A_swap = 0.0;
    bool exact = true;
    int exact_pairs = 0;
    auto make_exact = [&] {
        ++exact_pairs;
        const SwapEnergy e = model.swap(last.M, last.N, last.aM, last.aN);
        E_cur = e.cur;
        E_swap = e.swp;
        exact = true;
    };
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
        // The next step's peaks come from the draws after this step's
        // acceptance draw, which most steps make: their costs are fetched
        // while this step decides.
        if (Rng::kCanPeek && costs.usable) {
            const int p1 = pick_peak(maxres, g.peek(1) * (1.0 / 2147483647.0));
            const int p2 = pick_peak(maxres, g.peek(2) * (1.0 / 2147483647.0));
            costs.prefetch(p1, p2, a);
        }
        if (M != N) {
            last = {M, N, a[M], a[N]};
            if (costs.usable) {
                A_cur = costs.at(M, last.aM) + costs.at(N, last.aN);
                A_swap = costs.at(M, last.aN) + costs.at(N, last.aM);
                exact = false;
            } else {
                make_exact();
            }
        }
        // A step with M = N decides on the last pair's energies, as they were.
        const Verdict v = exact ? Verdict::Unsure : downhill(A_cur, A_swap);
        bool accept = true;
        if (v == Verdict::Uphill) {
            const int draw = g.next();
            const Verdict m = metropolis(A_cur, A_swap, beta, draw);
            if (m == Verdict::Unsure) {
                make_exact();
                accept = metropolis_accepts(-(E_swap - E_cur) * beta, draw / 2147483647.0);
            } else {
                accept = m == Verdict::Accept;
            }
        } else if (v == Verdict::Unsure) {
            if (!exact) make_exact();
            if (!(E_cur > E_swap)) accept = metropolis_accepts(-(E_swap - E_cur) * beta, g.uniform());
        }
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

    if (!exact) make_exact();
    rng = g;
    const int taken = nstat > kStatSteps ? kStatSteps : nstat;
    for (int j = 0; j < maxres; ++j) close_period(j, taken + 1);
    s.beta = beta;
    s.E_cur = E_cur;
    s.E_swap = E_swap;
    s.step = step;
    s.ncool = ncool;
    s.nequil = nequil;
    s.nstat = nstat;
    s.equilibrated = equilibrated;
    s.exact_pairs = exact_pairs;
    return s;
}
