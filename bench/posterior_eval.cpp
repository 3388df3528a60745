// The posterior alone on an input pair, without the walk: for measuring its
// calibration quickly over many generated sets.
// Usage: posterior_eval SIM OBS [MODEL_ERROR]. Prints "f chi2" and then,
// per peak, its most probable residue index (-1: no residue) and that
// probability.
#include <cstdio>
#include <cstdlib>

#include "io/failure.h"
#include "io/output.h"
#include "posterior/posterior.h"
#include "profiles/ceiling.h"
#include "profiles/reader.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: posterior_eval SIM OBS [MODEL_ERROR]\n");
        return 2;
    }
    try {
        auto sim = make_table(), obs = make_table();
        const ReadResult rs = read_simulated(load_file(argv[1]), argv[1], *sim);
        const ReadResult ro = read_experimental(load_file(argv[2]), argv[2], *obs);
        const Shape shape = combined_shape(rs, ro);
        Out quiet(kDiscard);
        apply_ceiling(*sim, *obs, ro.maxobs, shape, quiet, quiet);
        PosteriorOptions opt;
        if (argc > 3) opt.model_error = std::atof(argv[3]);
        const Posterior p = compute_posterior(posterior_data(*sim, rs, *obs, ro, shape), opt);
        std::printf("%g %g %d %d %g %g\n", p.f, p.chi2_per_value, int(p.marginals.status), int(p.marginals.sweeps), p.marginals.error, p.eta);
        for (int j = 0; j < p.peaks; ++j) {
            int best = -1;
            double pb = p.usable() ? p.unassigned(j) : 0.0;
            for (int r = 0; p.usable() && r < p.residues; ++r)
                if (p.p(j, r) > pb) {
                    pb = p.p(j, r);
                    best = r;
                }
            std::printf("%d %.17g %.6g\n", best, pb, p.usable() ? p.unassigned(j) : 0.0);
        }
    } catch (const Failure& f) {
        std::fprintf(stderr, "posterior_eval: %s\n", f.message.c_str());
        return 1;
    }
    return 0;
}
