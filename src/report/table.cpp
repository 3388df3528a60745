// Reals are written in their shortest form that reads back to the same
// double; ids are whole numbers.
#include "report/table.h"

#include <charconv>
#include <cmath>

#include "search/energy.h"

namespace {

void put(std::string& s, double v) {
    char buf[32];
    s.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

void put_id(std::string& s, double id) { s += std::to_string(static_cast<long long>(id)); }

}  // namespace

const char* type_check(int restype, double x) {
    if (!is_typed(restype)) return "";
    return window_excess(restype, x) != 0.0 ? "penalised" : "ok";
}

namespace {

// Ids as the table prints them: 0 for an entry that pads the search.
struct Ids {
    const ProfileTable& sim;
    const ProfileTable& obs;
    int peaks, residues;
    double peak(int j) const { return j < peaks ? obs[0].id[j] : 0.0; }
    double residue(int r) const { return r < residues ? sim[0].id[r] : 0.0; }
};

// The posterior's cells of peak j: its most probable residue, the runner-up,
// the optimum, and the chance that it is no residue's. Cells that cannot be
// given (no such peak, no optimum, no balanced probabilities) stay empty.
void put_posterior(std::string& t, const Posterior& p, const Ids& sim, int j) {
    const bool real = j < p.peaks;
    const bool probs = real && p.usable();
    int best = -1, second = -1;
    for (int r = 0; probs && r < p.residues; ++r) {
        if (p.p(j, r) <= 0.0) continue;
        if (best < 0 || p.p(j, r) > p.p(j, best)) {
            second = best;
            best = r;
        } else if (second < 0 || p.p(j, r) > p.p(j, second)) {
            second = r;
        }
    }
    // More probably no residue's than any residue's: no residue, and that
    // probability. (With its probability spread over residues, a peak whose
    // chance of being no residue's is below one half still names the best.)
    if (best >= 0 && p.unassigned(j) > p.p(j, best) && p.unassigned(j) >= 0.5) {
        second = best;
        best = -1;
    }
    t += "\t";
    if (best >= 0) {
        t += std::to_string(best) + "\t";
        put_id(t, sim.residue(best));
    } else {
        t += "\t";
    }
    t += "\t";
    if (probs) put(t, best >= 0 ? p.p(j, best) : p.unassigned(j));
    t += "\t";
    if (second >= 0) {
        put_id(t, sim.residue(second));
        t += "\t";
        put(t, p.p(j, second));
    } else {
        t += "\t";
    }
    t += "\t";
    if (real && p.computed && p.optimum[j] >= 0) put_id(t, sim.residue(p.optimum[j]));
    t += "\t";
    if (probs) put(t, p.unassigned(j));
}

}  // namespace

std::string results_table(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                          Shape shape, const TableColumns& more) {
    const int n = shape.maxres;
    const Ids ids{sim, obs, more.peak_records, more.residue_records};
    const double samples = s.samples();
    const std::vector<int>& optimal = more.optimal;
    const bool optimal_known = optimal.size() == size_t(n);
    std::string t =
        "peak_index\tpeak_id\tresidue_index\tresidue_number\tfrequency\trunner_up_residue_number\t"
        "runner_up_frequency\tentropy\ttype_check";
    if (more.optimal_column) t += "\toptimal_residue_number";
    if (more.posterior) {
        t += "\tposterior_residue_index\tposterior_residue_number\tposterior_probability\t"
             "posterior_runner_up_residue_number\tposterior_runner_up_probability\tposterior_optimum_residue_number\t"
             "posterior_unassigned_probability";
    }
    if (!more.fixed.empty()) t += "\tfixed";
    t += "\n";
    for (int j = 0; j < n; ++j) {
        const int r = s.assign[j];
        int second = -1;
        double entropy = 0.0;
        for (int c = 0; c < n; ++c) {
            const double v = s.visit(j, c);
            if (v <= 0) continue;
            const double f = v / samples;
            entropy -= f * std::log(f);
            if (c != r && (second < 0 || v > s.visit(j, second))) second = c;
        }
        t += std::to_string(j) + "\t";
        put_id(t, ids.peak(j));
        t += "\t" + std::to_string(r) + "\t";
        put_id(t, ids.residue(r));
        t += "\t";
        put(t, s.visit(j, r) / samples);
        t += "\t";
        if (second >= 0) {
            put_id(t, ids.residue(second));
            t += "\t";
            put(t, s.visit(j, second) / samples);
        } else {
            t += "\t";
        }
        t += "\t";
        put(t, entropy == 0.0 ? 0.0 : entropy);
        t += "\t";
        t += type_check(sim[0].restype[r], obs[0].type_value[j]);
        if (more.optimal_column) {
            t += "\t";
            if (optimal_known) put_id(t, ids.residue(optimal[j]));
        }
        if (more.posterior) put_posterior(t, *more.posterior, ids, j);
        if (!more.fixed.empty()) t += j < int(more.fixed.size()) && more.fixed[j] ? "\tfixed" : "\t";
        t += "\n";
    }
    return t;
}

void write_table(OutputFile& file, const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                 Shape shape, const TableColumns& more) {
    const std::string text = results_table(s, sim, obs, shape, more);
    file.write(text.data(), text.size());
    file.close();
}
