// The swap energy laid out for the walk: each peak's and each residue's
// values over all profiles side by side, missing values as bit masks, and
// the type penalties worked out once per peak. Gives bit-identical results
// to swap_energy.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "profiles/profile.h"
#include "search/energy.h"

struct EnergyModel {
    int np = 0;
    std::vector<double> obs;       // [peak * np + profile]
    std::vector<uint64_t> present; // all ones where measured, else zero
    std::vector<double> sim;       // [residue * np + profile]
    std::vector<double> pen;       // [type class * maxres + peak]; class 0 costs nothing
    std::vector<int> cls;          // type class of each residue: 0, 1 Leu, 2 Val

    EnergyModel(const ProfileTable& simt, const ProfileTable& obst, int numprofiles, int maxres);

    SwapEnergy swap(int M, int N, int aM, int aN) const {
        const double* o = &obs[size_t(M) * np];
        const double* p = &obs[size_t(N) * np];
        const uint64_t* ho = &present[size_t(M) * np];
        const uint64_t* hp = &present[size_t(N) * np];
        const double* q = &sim[size_t(aM) * np];
        const double* r = &sim[size_t(aN) * np];
        double cur = 0.0, swp = 0.0;
        for (int m = 0; m < np; ++m) {
            // A square masked to +0.0 adds nothing: x + +0.0 is x exactly.
            const double a = keep((q[m] - o[m]) * (q[m] - o[m]), ho[m]);
            const double b = keep((r[m] - p[m]) * (r[m] - p[m]), hp[m]);
            const double c = keep((r[m] - o[m]) * (r[m] - o[m]), ho[m]);
            const double d = keep((q[m] - p[m]) * (q[m] - p[m]), hp[m]);
            cur += a + b;
            swp += c + d;
        }
        const size_t n = pen.size() / 3;
        const double* p0 = &pen[cls[aM] * n];
        const double* p1 = &pen[cls[aN] * n];
        return {cur + (p0[M] + p1[N]), swp + (p0[N] + p1[M])};
    }

private:
    static double keep(double v, uint64_t mask) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        bits &= mask;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};
