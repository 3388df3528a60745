// Label draws: read and checked against the simulated file before the walk
// prints (a draw that lists other residues would be averaged against the
// wrong columns), then each one's posterior and their mean.
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

std::vector<Draw> read_draws(const std::string& name, const ProfileTable& sim, const ReadResult& simr) {
    std::vector<Draw> draws = split_draws(load_file(name), name);
    auto table = make_table();
    for (size_t k = 0; k < draws.size(); ++k) {
        const ReadResult r = read_simulated(draws[k].text, name, *table, draws[k].first_line);
        const std::string which = name + ": draw " + std::to_string(k + 1);
        if (r.profiles != simr.profiles || r.records != simr.records)
            throw Failure{kStatusInput, which + " holds " + std::to_string(r.profiles) + " profiles of " +
                                            std::to_string(r.records.empty() ? 0 : r.records[0]) +
                                            " records, not the simulated file's: draws come from the run that wrote it"};
        for (int m = 0; m < r.profiles; ++m)
            for (int i = 0; i < r.records[size_t(m)]; ++i)
                if ((*table)[m].id[i] != sim[m].id[i] || (*table)[m].restype[i] != sim[m].restype[i])
                    throw Failure{kStatusInput,
                                  which + ", profile " + std::to_string(m + 1) + ", entry " + std::to_string(i + 1) +
                                      ": residue " + std::to_string(static_cast<long long>((*table)[m].id[i])) +
                                      " of type " + std::to_string((*table)[m].restype[i]) +
                                      " where the simulated file has residue " +
                                      std::to_string(static_cast<long long>(sim[m].id[i])) + " of type " +
                                      std::to_string(sim[m].restype[i]) + ": draws come from the run that wrote it"};
    }
    return draws;
}

void average_over_draws(
    Posterior& p, const std::vector<Draw>& draws, const std::string& name,
    const std::function<Posterior(const ProfileTable& sim, const ReadResult& simr, int k)>& posterior_of) {
    std::vector<double> sum(p.prob.size(), 0.0);
    auto table = make_table();
    bool failed = false;
    double squares = 0.0;  // of the draws' sampling errors
    long sweeps = 0;
    for (size_t k = 0; k < draws.size(); ++k) {
        const ReadResult r = read_simulated(draws[k].text, name, *table, draws[k].first_line);
        const Posterior q = posterior_of(*table, r, int(k));
        if (!q.computed) p.computed = false;
        failed = failed || q.marginals.status == SampleStatus::Failed;
        squares += q.marginals.error * q.marginals.error;
        sweeps += q.marginals.sweeps;
        if (q.prob.size() != sum.size()) continue;  // not computed
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += q.prob[i];
    }
    const double n = double(draws.size());
    for (double& x : sum) x /= n;
    p.prob = sum;
    p.draws = int(draws.size());
    p.marginals.sweeps = sweeps;
    // Each draw's error is its worst row's, and their streams are their
    // own, so this bounds the mean's.
    p.marginals.error = failed ? std::numeric_limits<double>::quiet_NaN() : std::sqrt(squares) / n;
    p.marginals.status = failed                                     ? SampleStatus::Failed
                         : p.marginals.error <= kMarginalTolerance ? SampleStatus::Converged
                                                                   : SampleStatus::NotConverged;
}
