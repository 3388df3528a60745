// Observed values are tested against a fixed 998.0 and simulated ones against
// the cap itself, but both are replaced by the cap.
#include "profiles/ceiling.h"

void apply_ceiling(ProfileTable& sim, ProfileTable& obs, double maxobs, Shape shape, Out& out, Out& err,
                   Out* echo_to) {
    Out& echo = echo_to ? *echo_to : err;
    const int np = shape.numprofiles, n = shape.maxres;
    const double cap = ceiling_cap(maxobs);
    for (int p = 0; p < np; ++p) {
        for (int i = 0; i < n; ++i) {
            double& v = obs[p].pre[i];
            if (v > 998.0) v = cap;
            echo << v << " ";
        }
        echo << eol;
    }
    echo << eol;
    err << "NUMPROFILES simulated, replacing large predicted PREs: " << np << eol;
    for (int p = 0; p < np; ++p) {
        for (int i = 0; i < n; ++i) {
            double& v = sim[p].pre[i];
            if (v > cap) v = cap;
            echo << v << " ";
        }
        echo << eol;
    }
    echo << eol;
    out << "COMPLETE" << eol;
}
