// The metal's own PRE of a proton: Curie relaxation (the moment's thermal
// average, tumbling with the protein) plus the dipolar term of the
// fluctuating moment (Solomon), Gamma2 in s^-1.
#pragma once

namespace metal {

// Constants (CODATA 2018): mu0 / 4 pi, T m / A; the Bohr magneton, J / T;
// Boltzmann's constant, J / K; the proton's and the electron's gyromagnetic
// ratios (magnitudes), rad s^-1 T^-1.
constexpr double kMu0Over4Pi = 1e-7;
constexpr double kBohrMagneton = 9.2740100783e-24;
constexpr double kBoltzmann = 1.380649e-23;
constexpr double kGammaH = 2.6752218744e8;
constexpr double kGammaE = 1.76085963023e11;

struct Relaxation {
    double mueff = 0.0;    // Bohr magnetons
    double taur_s = 0.0;   // rotational correlation time
    double t1e_s = 0.0;    // electronic relaxation time; 0: no dipolar term
    double temp_k = 298.15;
    double field_t = 14.1; // the field of the PRE measurement
};

// The factor K such that Gamma2 = K / r^6 with r in A, s^-1 A^6:
//   Curie:  (1/5) (mu0/4pi)^2 wH^2 mu^4 / (3 kB T)^2 [4 tr + 3 tr / (1 + wH^2 tr^2)]
//   dipolar: (1/15) (mu0/4pi)^2 gH^2 mu^2 [4 tc + 3 tc / (1 + wH^2 tc^2) + 13 tc / (1 + wE^2 tc^2)],
// tc = (1/tr + 1/te)^-1. 0 where the moment is 0.
double curie_factor(const Relaxation& r);
double dipolar_factor(const Relaxation& r);

}  // namespace metal
