// The swap energy laid out for the walk: each peak's values over all
// profiles side by side, stored twice over with their missing-value masks so
// that one vector operation serves the current and the swapped pairing, and
// the type penalties worked out once per peak. Bit-identical to swap_energy:
// the same operations in the same order, a square masked to +0.0 adding
// nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>
// The vector path is the default wherever SSE2 is; PREASSIGN_SCALAR_ENERGY
// builds the portable path instead, so that it can be tested here too.
#if defined(__SSE2__) && !defined(PREASSIGN_SCALAR_ENERGY)
#define PREASSIGN_SSE2_ENERGY 1
#include <emmintrin.h>
#endif

#include "profiles/profile.h"
#include "search/energy.h"

struct EnergyModel {
#if defined(PREASSIGN_SSE2_ENERGY)
    static constexpr bool kVectorPath = true;
#else
    static constexpr bool kVectorPath = false;
#endif
    // One peak in one profile: its measured PRE twice, then a mask twice
    // (all ones where measured).
    struct alignas(16) Obs {
        double pre[2];
        uint64_t mask[2];
    };
    int np = 0;
    std::vector<Obs> obs;      // [peak * np + profile]
    std::vector<double> sim;   // [residue * np + profile]
    std::vector<double> pen;   // [type class * maxres + peak]; class 0 costs nothing
    std::vector<int> cls;      // type class of each residue: 0, 1 Leu, 2 Val
    size_t maxres = 0;

    EnergyModel(const ProfileTable& simt, const ProfileTable& obst, int numprofiles, int maxres);

    SwapEnergy swap(int M, int N, int aM, int aN) const {
        // Through data(): with no profiles the vectors are empty.
        const Obs* o = obs.data() + size_t(M) * np;
        const Obs* p = obs.data() + size_t(N) * np;
        const double* q = sim.data() + size_t(aM) * np;
        const double* r = sim.data() + size_t(aN) * np;
        double cur, swp;
#if defined(PREASSIGN_SSE2_ENERGY)
        // Lanes: (cur, swp). (Q - O, R - O) squared and masked by O, plus
        // (R - P, Q - P) squared and masked by P, gives ((Q-O)² + (R-P)², (R-O)² + (Q-P)²).
        __m128d acc = _mm_setzero_pd();
        for (int m = 0; m < np; ++m) {
            const __m128d qr = _mm_set_pd(r[m], q[m]);
            const __m128d rq = _mm_shuffle_pd(qr, qr, 1);
            __m128d x = _mm_sub_pd(qr, _mm_load_pd(o[m].pre));
            __m128d y = _mm_sub_pd(rq, _mm_load_pd(p[m].pre));
            x = _mm_and_pd(_mm_mul_pd(x, x), _mm_load_pd(reinterpret_cast<const double*>(o[m].mask)));
            y = _mm_and_pd(_mm_mul_pd(y, y), _mm_load_pd(reinterpret_cast<const double*>(p[m].mask)));
            acc = _mm_add_pd(acc, _mm_add_pd(x, y));
        }
        cur = _mm_cvtsd_f64(acc);
        swp = _mm_cvtsd_f64(_mm_unpackhi_pd(acc, acc));
#else
        cur = 0.0;
        swp = 0.0;
        for (int m = 0; m < np; ++m) {
            const double O = o[m].pre[0], P = p[m].pre[0], Q = q[m], R = r[m];
            cur += keep((Q - O) * (Q - O), o[m].mask[0]) + keep((R - P) * (R - P), p[m].mask[0]);
            swp += keep((R - O) * (R - O), o[m].mask[0]) + keep((Q - P) * (Q - P), p[m].mask[0]);
        }
#endif
        const double* p0 = pen.data() + cls[aM] * maxres;
        const double* p1 = pen.data() + cls[aN] * maxres;
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
