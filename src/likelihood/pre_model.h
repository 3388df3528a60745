// The terms by which a measured PRE is weighed against a prediction, shared
// by the posterior and the label fit: the error a value is taken to have,
// the residuals' Student t, and the bound that a broadened peak gives.
#pragma once

// The error of a measured PRE: its own when positive, else 0.1 |PRE| + 0.5.
double pre_error(double pre, double err);

// Degrees of freedom of the Student t that residuals follow: a normal with
// the same spread gives the few large misfits of real predictions so little
// chance that it is sure of wrong pairings.
inline constexpr double kResidualDegrees = 4.0;

// -2 ln of the t's density of a residual x standard units off (x2 = x^2),
// less its constant and scale: (nu + 1) ln(1 + x^2 / nu).
double t_cost(double x2);

// -2 ln Phi(z), Phi the standard normal distribution function, exact far
// into the lower tail: the cost of a broadened peak, which says only that
// the PRE is at least a bound, against a prediction z spreads above it.
double minus_two_ln_phi(double z);
