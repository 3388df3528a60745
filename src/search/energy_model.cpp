#include "search/energy_model.h"

EnergyModel::EnergyModel(const ProfileTable& simt, const ProfileTable& obst, int numprofiles, int maxres)
    : np(numprofiles),
      obs(size_t(maxres) * numprofiles),
      present(obs.size()),
      sim(obs.size()),
      pen(size_t(3) * maxres, 0.0),
      cls(maxres) {
    for (int j = 0; j < maxres; ++j) {
        for (int m = 0; m < np; ++m) {
            obs[size_t(j) * np + m] = obst[m].pre[j];
            present[size_t(j) * np + m] = obst[m].pre[j] != MISSING_PRE ? ~uint64_t(0) : 0;
            sim[size_t(j) * np + m] = simt[m].pre[j];
        }
        const int t = simt[0].restype[j];
        cls[j] = (t == 1 || t == 2) ? t : 0;
        pen[size_t(maxres) + j] = type_penalty(1, obst[0].type_value[j]);
        pen[size_t(2) * maxres + j] = type_penalty(2, obst[0].type_value[j]);
    }
}
