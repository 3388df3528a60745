#include "search/energy_model.h"

EnergyModel::EnergyModel(const ProfileTable& simt, const ProfileTable& obst, int numprofiles, int n)
    : np(numprofiles), obs(size_t(n) * numprofiles), sim(obs.size()), pen(size_t(3) * n, 0.0), cls(n), maxres(n) {
    for (int j = 0; j < n; ++j) {
        for (int m = 0; m < np; ++m) {
            const double v = obst[m].pre[j];
            const uint64_t mask = is_measured(v) ? ~uint64_t(0) : 0;
            obs[size_t(j) * np + m] = Obs{{v, v}, {mask, mask}};
            sim[size_t(j) * np + m] = simt[m].pre[j];
        }
        const int t = simt[0].restype[j];
        cls[j] = is_typed(t) ? t : 0;
        pen[size_t(kLeu) * n + j] = type_penalty(kLeu, obst[0].type_value[j]);
        pen[size_t(kVal) * n + j] = type_penalty(kVal, obst[0].type_value[j]);
    }
}
