// A draw that lists other residues than the simulated file would be averaged
// against the wrong columns, so each is checked before the walk prints.
#include "driver/draws.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/failure.h"

void check_same_entries(const ProfileTable& ours, const ProfileTable& theirs, int n, const std::string& name,
                        const char* what) {
    for (int i = 0; i < n; ++i)
        if (theirs[0].id[i] != ours[0].id[i])
            throw Failure{kStatusInput, name + ": entry " + std::to_string(i + 1) + " is " + what + " " +
                                            std::to_string(static_cast<long long>(theirs[0].id[i])) + " where the PREs' file has " +
                                            std::to_string(static_cast<long long>(ours[0].id[i])) +
                                            ": every file lists the same entries in the same order (import --ids lines them up)"};
}

std::vector<std::string> read_draws(const std::string& name, const ProfileTable& sim, const ReadResult& simr) {
    std::vector<std::string> draws = split_draws(load_file(name), name);
    auto table = make_table();
    for (size_t k = 0; k < draws.size(); ++k) {
        const ReadResult r = read_simulated(draws[k], name, *table);
        if (r.profiles != simr.profiles || r.records != simr.records)
            throw Failure{kStatusInput, name + ": draw " + std::to_string(k + 1) + " holds " +
                                            std::to_string(r.profiles) + " profiles of " +
                                            std::to_string(r.records.empty() ? 0 : r.records[0]) +
                                            " records, not the simulated file's: draws come from the run that wrote it"};
        check_same_entries(sim, *table, simr.maxres, name, "residue number");
    }
    return draws;
}

void average_over_draws(Posterior& p, const std::vector<std::string>& draws, const std::string& name,
                        const std::function<Posterior(const ProfileTable& sim, const ReadResult& simr)>& posterior_of) {
    std::vector<double> sum(p.prob.size(), 0.0);
    auto table = make_table();
    bool failed = false;
    double squares = 0.0;  // of the draws' sampling errors
    for (const std::string& text : draws) {
        const ReadResult r = read_simulated(text, name, *table);
        const Posterior q = posterior_of(*table, r);
        if (!q.computed) p.computed = false;
        failed = failed || q.marginals.status == SampleStatus::Failed;
        squares += q.marginals.error * q.marginals.error;
        if (q.prob.size() != sum.size()) continue;  // not computed
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += q.prob[i];
    }
    const double n = double(draws.size());
    for (double& x : sum) x /= n;
    p.prob = sum;
    p.draws = int(draws.size());
    // Each draw's error is its worst row's, so this bounds the mean's.
    p.marginals.error = failed ? std::numeric_limits<double>::quiet_NaN() : std::sqrt(squares) / n;
    p.marginals.status = failed                                     ? SampleStatus::Failed
                         : p.marginals.error <= kMarginalTolerance ? SampleStatus::Converged
                                                                   : SampleStatus::NotConverged;
}
