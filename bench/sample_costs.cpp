// Samples the posterior over partial matchings for a cost matrix written by
// another model (a reference that knows how the data were made), the same
// way `--posterior` samples its own, so that both are compared on equal terms.
//
// Input (text, white space): P R, then the three prior costs (-2 ln: pair,
// peak alone, residue alone; or "default" for the run's own), then P rows of
// R + 1 numbers: -2 ln L of the peak on each residue, then of the peak being
// no residue's. Output: a line per peak, `residue probability unassigned`,
// residue the most probable one (0-based) or -1 where being no residue's is
// at least as likely.
#include <cstdio>
#include <cstring>
#include <string>

#include "posterior/posterior.h"
#include "posterior/weighing.h"

int main(int argc, char** argv) {
    FILE* in = argc > 1 ? std::fopen(argv[1], "r") : stdin;
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    CostMatrix q;
    if (std::fscanf(in, "%d %d", &q.P, &q.R) != 2 || q.P < 0 || q.R < 0) return 1;
    Priors pr = matching_priors(q.P, q.R);
    char word[64];
    if (std::fscanf(in, "%63s", word) != 1) return 1;
    if (std::strcmp(word, "default") != 0) {
        pr.pair = std::stod(word);
        if (std::fscanf(in, "%lf %lf", &pr.peak_alone, &pr.residue_alone) != 2) return 1;
    }
    q.cost.resize(size_t(q.P) * q.R);
    q.alone.resize(q.P);
    for (int i = 0; i < q.P; ++i) {
        for (int k = 0; k < q.R; ++k)
            if (std::fscanf(in, "%lf", &q.cost[size_t(i) * q.R + k]) != 1) return 1;
        if (std::fscanf(in, "%lf", &q.alone[i]) != 1) return 1;
    }
    const std::vector<int> start = best_matching(q, pr);
    if (start.size() != size_t(q.P)) {
        std::fprintf(stderr, "sample_costs: costs not finite\n");
        return 1;
    }
    Kernel k;
    const Marginals b = sample_marginals(q, pr, start, 1000, 3000, kMarginalTolerance, 20261207 + 1, k);
    for (int i = 0; i < q.P; ++i) {
        int best = -1;
        double p = b.row_alone[i], top = 0.0;
        for (int e = k.start[i]; e < k.start[i + 1]; ++e)
            if (b.pair[e] > top) {
                top = b.pair[e];
                best = k.col[e];
            }
        if (top > p) p = top;
        else best = -1;
        std::printf("%d %.6g %.6g\n", best, p, b.row_alone[i]);
    }
    std::fprintf(stderr, "sample_costs: sampling error %g after %ld sweeps\n", b.convergence.error,
                 b.convergence.sweeps);
    return 0;
}
