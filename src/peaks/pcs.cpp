// PCS tables read line by line, the form of each line told by its second
// field; diamagnetic and paramagnetic peaks paired along the diagonal.
#include "peaks/pcs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

#include "io/failure.h"

namespace {

[[noreturn]] void fail(const std::string& path, int line, const std::string& why) {
    throw Failure{kStatusInput, path + ":" + std::to_string(line) + ": " + why};
}

// Fields split on white space or commas, after a '#' comment is cut.
std::vector<std::string> fields(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string> out;
    size_t i = 0;
    auto gap = [&](size_t k) { return line[k] == ' ' || line[k] == '\t' || line[k] == '\r' || line[k] == ','; };
    while (i < line.size()) {
        while (i < line.size() && gap(i)) ++i;
        const size_t start = i;
        while (i < line.size() && !gap(i)) ++i;
        if (i > start) out.emplace_back(line.substr(start, i - start));
    }
    return out;
}

bool is_nan(const std::string& s) { return s == "nan" || s == "NaN" || s == "NAN"; }

// A finite number as tables write it ("+0.12" included); false otherwise.
bool number(const std::string& s, double& v) {
    const char* first = s.data() + (!s.empty() && s[0] == '+' ? 1 : 0);
    const char* last = s.data() + s.size();
    const auto r = std::from_chars(first, last, v);
    return r.ec == std::errc() && r.ptr == last && std::isfinite(v);
}

bool numeric(const std::string& s) {
    double v;
    return is_nan(s) || number(s, v);
}

// A header's value field: a name, not a number with a unit.
bool word(const std::string& s) { return std::isalpha(static_cast<unsigned char>(s[0])) && !is_nan(s); }

// The value and optional error of one line; nan is no value, no error is 0.
PcsValue value_of(const std::vector<std::string>& f, size_t at, const std::string& path, int line) {
    PcsValue v;
    if (!is_nan(f[at]) && !number(f[at], v.ppm))
        fail(path, line, "expected a number (the PCS in ppm, without a unit), found '" + f[at] + "'");
    if (is_nan(f[at])) v.ppm = kNoPcs;
    if (at + 1 < f.size() && !is_nan(f[at + 1])) {
        if (!number(f[at + 1], v.err))
            fail(path, line, "expected a number (the PCS's error in ppm, without a unit), found '" + f[at + 1] + "'");
        if (v.err < 0.0) fail(path, line, "the error " + f[at + 1] + " is below 0");
    }
    if (v.ppm == kNoPcs) v.err = 0.0;  // no value, no error: as every other -999
    return v;
}

// True for 1H, false for the heavy atom, from the atom name's first letter.
bool is_proton(const std::string& atom, const std::string& path, int line) {
    const char c = char(std::toupper(static_cast<unsigned char>(atom[0])));
    if (c == 'H') return true;
    if (c == 'N' || c == 'C') return false;
    fail(path, line, "atom '" + atom + "' is neither 1H (H, HN, HD1 ...) nor a heavy atom (N, C, CD1 ...)");
}

}  // namespace

PcsTable read_pcs_table(std::string_view text, const std::string& path) {
    PcsTable table;
    table.path = path;
    std::map<std::string, size_t> row_of;
    std::map<std::pair<std::string, bool>, int> given;  // (label, 1H?) -> its line
    bool first = true;
    size_t start = 0;
    for (int n = 1; start <= text.size(); ++n) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::vector<std::string> f = fields(text.substr(start, end - start));
        start = end + 1;
        if (f.empty()) continue;
        const bool with_atom = f.size() >= 2 && !numeric(f[1]);
        const size_t at = with_atom ? 2 : 1;
        if (first && (at >= f.size() || word(f[at]))) {
            first = false;
            table.notes.push_back("line " + std::to_string(n) + " read as a header");
            continue;
        }
        first = false;
        if (f.size() < 2) fail(path, n, "a label without a PCS");
        if (at >= f.size()) fail(path, n, "atom '" + f[1] + "' without a PCS");
        if (f.size() > at + 2)
            fail(path, n, std::to_string(f.size()) + " fields where a PCS table has label, ppm and an optional "
                                                     "error, or label, atom, ppm and an optional error");
        const bool proton = !with_atom || is_proton(f[1], path, n);
        const auto [twice, fresh_atom] = given.emplace(std::make_pair(f[0], proton), n);
        if (!fresh_atom)
            fail(path, n, "label '" + f[0] + "' is given twice for " + (proton ? "1H" : "the heavy atom") +
                              " (first on line " + std::to_string(twice->second) + ")");
        const auto [it, fresh] = row_of.emplace(f[0], table.rows.size());
        if (fresh) table.rows.push_back({f[0], {}, {}, n});
        PcsRow& row = table.rows[it->second];
        (proton ? row.h : row.x) = value_of(f, at, path, n);
    }
    if (table.rows.empty()) throw Failure{kStatusInput, path + ": holds no PCS"};
    return table;
}

namespace {

// A paramagnetic peak that may be a diamagnetic one's partner: its distance
// from the diagonal through the diamagnetic peak, ppm.
struct Candidate {
    double off;
    int k;
    bool operator<(const Candidate& o) const { return std::tie(off, k) < std::tie(o.off, o.k); }
};

// Each unpaired diamagnetic peak's candidates, nearest the diagonal first:
// those within twice the tolerance, as the nearest must lie within one and
// the next matters only within one more.
std::vector<std::vector<Candidate>> candidates(const PeakList& dia, const PeakList& para,
                                               const std::vector<int>& partner, const std::vector<char>& taken,
                                               double tol, double max_shift) {
    std::vector<std::vector<Candidate>> near(dia.peaks.size());
    for (size_t i = 0; i < dia.peaks.size(); ++i) {
        if (partner[i] >= 0) continue;
        for (size_t k = 0; k < para.peaks.size(); ++k) {
            if (taken[k] || (!dia.peaks[i].label.empty() && !para.peaks[k].label.empty())) continue;
            const double dh = para.peaks[k].proton - dia.peaks[i].proton;
            const double dx = para.peaks[k].heavy - dia.peaks[i].heavy;
            const double off = std::fabs(dh - dx) / std::sqrt(2.0);
            if (std::fabs(dh) <= max_shift && std::fabs(dx) <= max_shift && off <= 2.0 * tol)
                near[i].push_back({off, int(k)});
        }
        std::sort(near[i].begin(), near[i].end());
    }
    return near;
}

// The nearest two candidates not yet taken; the second's distance infinite
// where there is none.
std::pair<const Candidate*, double> nearest_two(const std::vector<Candidate>& near, const std::vector<char>& taken) {
    const Candidate* best = nullptr;
    for (const Candidate& c : near) {
        if (taken[size_t(c.k)]) continue;
        if (best) return {best, c.off};
        best = &c;
    }
    return {best, std::numeric_limits<double>::infinity()};
}

}  // namespace

DiagonalPairs pair_on_diagonal(const PeakList& dia, const PeakList& para, double tol, double max_shift) {
    DiagonalPairs out;
    out.partner.assign(dia.peaks.size(), -1);
    std::vector<char> taken(para.peaks.size(), 0);
    std::map<std::string, int> label_in_para;
    for (size_t k = 0; k < para.peaks.size(); ++k)
        if (!para.peaks[k].label.empty()) label_in_para[para.peaks[k].label] = int(k);
    for (size_t i = 0; i < dia.peaks.size(); ++i) {
        const auto it = dia.peaks[i].label.empty() ? label_in_para.end() : label_in_para.find(dia.peaks[i].label);
        if (it == label_in_para.end()) continue;
        out.partner[i] = it->second;
        taken[size_t(it->second)] = 1;
        ++out.by_label;
    }
    const std::vector<std::vector<Candidate>> near = candidates(dia, para, out.partner, taken, tol, max_shift);
    // Greedy on the margin between the nearest and the next: a pair made
    // takes its partner from the others, which may settle their doubt.
    for (;;) {
        int pick = -1;
        double margin = -1.0, off = 0.0;
        for (size_t i = 0; i < near.size(); ++i) {
            if (out.partner[i] >= 0) continue;
            const auto [best, second] = nearest_two(near[i], taken);
            if (!best || best->off > tol) continue;
            const double m = second - best->off;
            if (m > margin || (m == margin && best->off < off)) {
                pick = int(i);
                margin = m;
                off = best->off;
            }
        }
        if (pick < 0 || margin <= tol) break;
        const int k = nearest_two(near[size_t(pick)], taken).first->k;
        out.partner[size_t(pick)] = k;
        taken[size_t(k)] = 1;
        ++out.by_position;
    }
    for (size_t i = 0; i < near.size(); ++i) {
        if (out.partner[i] >= 0) continue;
        const Candidate* best = nearest_two(near[i], taken).first;
        (best && best->off <= tol ? out.ambiguous : out.alone).push_back(int(i));
    }
    return out;
}
