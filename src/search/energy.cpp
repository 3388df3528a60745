// Straight from the tables, one profile at a time.
#include "search/energy.h"

SwapEnergy swap_energy(int M, int N, const int* assign, const ProfileTable& sim, const ProfileTable& obs,
                       int numprofiles) {
    const int aM = assign[M], aN = assign[N];
    double cur = 0.0, swp = 0.0;
    for (int m = 0; m < numprofiles; ++m) {
        const double O = obs[m].pre[M], P = obs[m].pre[N];
        const double Q = sim[m].pre[aM], R = sim[m].pre[aN];
        const bool hasO = O != MISSING_PRE, hasP = P != MISSING_PRE;
        if (hasO && hasP) {
            cur += (Q - O) * (Q - O) + (R - P) * (R - P);
            swp += (R - O) * (R - O) + (Q - P) * (Q - P);
        } else if (hasO) {
            cur += (Q - O) * (Q - O);
            swp += (R - O) * (R - O);
        } else if (hasP) {
            cur += (R - P) * (R - P);
            swp += (Q - P) * (Q - P);
        }
    }
    const int t0 = sim[0].restype[aM], t1 = sim[0].restype[aN];
    const double xM = obs[0].type_value[M], xN = obs[0].type_value[N];
    return {cur + (type_penalty(t0, xM) + type_penalty(t1, xN)),
            swp + (type_penalty(t0, xN) + type_penalty(t1, xM))};
}
