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

std::string results_table(const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                          Shape shape, const std::vector<int>& optimal) {
    const int n = shape.maxres;
    const double samples = s.samples();
    std::string t =
        "peak_index\tpeak_id\tresidue_index\tresidue_number\tfrequency\trunner_up_residue_number\t"
        "runner_up_frequency\tentropy\ttype_check";
    t += optimal.empty() ? "\n" : "\toptimal_residue_number\n";
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
        put_id(t, obs[0].id[j]);
        t += "\t" + std::to_string(r) + "\t";
        put_id(t, sim[0].id[r]);
        t += "\t";
        put(t, s.visit(j, r) / samples);
        t += "\t";
        if (second >= 0) {
            put_id(t, sim[0].id[second]);
            t += "\t";
            put(t, s.visit(j, second) / samples);
        } else {
            t += "\t";
        }
        t += "\t";
        put(t, entropy == 0.0 ? 0.0 : entropy);
        t += "\t";
        t += type_check(sim[0].restype[r], obs[0].type_value[j]);
        if (!optimal.empty()) {
            t += "\t";
            put_id(t, sim[0].id[optimal[j]]);
        }
        t += "\n";
    }
    return t;
}

void write_table(OutputFile& file, const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                 Shape shape, const std::vector<int>& optimal) {
    const std::string text = results_table(s, sim, obs, shape, optimal);
    file.write(text.data(), text.size());
    file.close();
}
