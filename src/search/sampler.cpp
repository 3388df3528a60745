// The schedule is fixed by the arithmetic of beta alone, so every run has the
// same length; only the draws and energies differ.
#include "search/sampler.h"

#include <cmath>

#include "search/energy.h"

void run_sampler(CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs, Rng& rng, Out& out) {
    const int maxres = CPREdata::maxres, np = CPREdata::numprofiles;
    s.assign.resize(maxres);
    for (int j = 0; j < maxres; ++j) s.assign[j] = j;
    out << "first RANDOM number:  " << rng.uniform() << eol;
    s.visits.assign(size_t(kMaxEntries) * kMaxEntries, 0.0);

    do {
        s.beta = s.beta / 0.999999;
        ++s.step;
        if (s.beta > 0.5) {
            if (s.ncool == 0) s.ncool = s.step;
            ++s.nequil;
            s.equilibrated = true;
            s.beta = 0.5;
        }
        const int M = pick_peak(maxres, rng.uniform());
        const int N = pick_peak(maxres, rng.uniform());
        if (M != N) {
            SwapEnergy e = swap_energy(M, N, s.assign.data(), sim, obs, np);
            s.E_cur = e.cur;
            s.E_swap = e.swp;
        }
        bool accept = s.E_cur > s.E_swap || std::exp(-(s.E_swap - s.E_cur) * s.beta) > rng.uniform();
        if (accept && M != N) std::swap(s.assign[M], s.assign[N]);
        if (s.equilibrated && s.nequil > kEquilSteps) {
            ++s.nstat;
            if (double(s.nstat) > double(kStatSteps)) break;
            for (int j = 0; j < maxres; ++j) s.visit(j, s.assign[j]) += 1.0;
        }
    } while (double(s.step) < 1000000000.0);
}
