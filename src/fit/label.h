// A fitted spin label as one parameter vector: one to three weighted points
// in its residue's frame (a nitroxide on its flexible linker samples several
// places), an amplitude on the formula's Gamma2 and the site's residual
// scale; its prior and the Gamma2 it gives.
#pragma once

#include <vector>

#include "structure/predict.h"

namespace label {

// [u (A, residue frame), ln amplitude, ln scale], then for each further
// point [u, ln of its weight against the first's].
using Params = std::vector<double>;
constexpr int kBase = 5;
// The prior's range for each point, A from CB.
constexpr double kNearest = 3.0, kFarthest = 8.0;
constexpr int kPerPoint = 4;
constexpr int kMostPoints = 3;

inline int points(const Params& p) { return 1 + (int(p.size()) - kBase) / kPerPoint; }
Point point(const Params& p, int k);
// The points' weights, which sum to 1.
std::vector<double> weights(const Params& p);
// p with one more point at u, its weight exp(ln_weight) against the first's.
Params with_point(const Params& p, const Point& u, double ln_weight);

// -2 ln of the prior: each point 3 to 8 A from CB and not behind CA, each
// of several points a tenth of the label or more, the amplitude near the
// formula's.
double prior_cost(const Params& p);

// The label placed in each model of site s, for `gamma2`.
struct Placed {
    std::vector<std::vector<Point>> at;  // [point][model]
    std::vector<double> weight;          // per point
    double factor = 0;                   // on the weighted <r^-6>, s^-1 A^6
};
// `factor`: the formula's, s^-1 A^6.
void place(const Geometry& g, size_t s, const Params& p, double factor, Placed& out);

// Gamma2 of nucleus n (s^-1) from the label placed, over the first `models`
// models (0: all).
double gamma2(const Geometry& g, size_t n, const Placed& label, size_t models = 0);

}  // namespace label
