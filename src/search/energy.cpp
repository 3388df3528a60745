// Straight from the tables, one profile at a time.
#include "search/energy.h"

SwapEnergy swap_energy(int M, int N, const int* assign, const ProfileTable& sim, const ProfileTable& obs,
                       int numprofiles) {
    const int aM = assign[M], aN = assign[N];
    double cur = 0.0, swp = 0.0;
    for (int m = 0; m < numprofiles; ++m) {
        const double O = obs[m].pre[M], P = obs[m].pre[N];
        const double Q = sim[m].pre[aM], R = sim[m].pre[aN];
        const bool hasO = is_measured(O), hasP = is_measured(P);
        if (hasO && hasP) {
            cur += pre_term(Q, O) + pre_term(R, P);
            swp += pre_term(R, O) + pre_term(Q, P);
        } else if (hasO) {
            cur += pre_term(Q, O);
            swp += pre_term(R, O);
        } else if (hasP) {
            cur += pre_term(R, P);
            swp += pre_term(Q, P);
        }
    }
    const int t0 = sim[0].restype[aM], t1 = sim[0].restype[aN];
    const double xM = obs[0].type_value[M], xN = obs[0].type_value[N];
    return {cur + (type_penalty(t0, xM) + type_penalty(t1, xN)),
            swp + (type_penalty(t0, xN) + type_penalty(t1, xM))};
}

double peak_cost(const ProfileTable& sim, const ProfileTable& obs, int numprofiles, int j, int r) {
    double c = 0.0;
    for (int m = 0; m < numprofiles; ++m)
        if (is_measured(obs[m].pre[j])) c += pre_term(sim[m].pre[r], obs[m].pre[j]);
    return c + type_penalty(sim[0].restype[r], obs[0].type_value[j]);
}
