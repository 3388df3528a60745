// Both terms from their textbook forms, in SI units, converted to A^6 at
// the end so that callers work in the structure's units.
#include "metal/relax.h"

namespace metal {

namespace {
constexpr double kA6 = 1e60;  // m^6 in A^6
}

double curie_factor(const Relaxation& r) {
    const double mu = r.mueff * kBohrMagneton, w = kGammaH * r.field_t, t = r.taur_s;
    const double kt3 = 3.0 * kBoltzmann * r.temp_k;
    const double j = 4.0 * t + 3.0 * t / (1.0 + w * w * t * t);
    return 0.2 * kMu0Over4Pi * kMu0Over4Pi * w * w * mu * mu * mu * mu / (kt3 * kt3) * j * kA6;
}

double dipolar_factor(const Relaxation& r) {
    if (!(r.t1e_s > 0.0) || !(r.taur_s > 0.0)) return 0.0;
    const double mu = r.mueff * kBohrMagneton, wh = kGammaH * r.field_t, we = kGammaE * r.field_t;
    const double tc = 1.0 / (1.0 / r.taur_s + 1.0 / r.t1e_s);
    const double j = 4.0 * tc + 3.0 * tc / (1.0 + wh * wh * tc * tc) + 13.0 * tc / (1.0 + we * we * tc * tc);
    return kMu0Over4Pi * kMu0Over4Pi * kGammaH * kGammaH * mu * mu / 15.0 * j * kA6;
}

}  // namespace metal
