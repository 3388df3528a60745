// PCS tables or lists into profiles: the peaks gathered with their ids
// first, then each metal's values found for them, then the two files.
#include "peaks/pcs_import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <tuple>

#include "io/failure.h"
#include "profiles/profile.h"

namespace {

std::string num(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Up to ten names, then "...".
std::string named(const std::vector<std::string>& names) {
    std::string list;
    for (size_t k = 0; k < names.size() && k < 10; ++k) list += (k ? ", " : "") + names[k];
    return list + (names.size() > 10 ? ", ..." : "");
}

std::string where(const Peak& p) { return p.label.empty() ? num(p.proton) + "/" + num(p.heavy) + " ppm" : p.label; }

// The peaks so far, with their ids; the map's come first.
struct Ledger {
    std::vector<MapPeak> peaks;
    size_t from_map = 0;
    int next_id = 1;
    std::vector<std::string> added;  // peaks given ids after the map's, named
    int found_in_map = 0;            // input peaks that found a map peak
};

Ledger start(const IdSource& ids) {
    Ledger l;
    l.peaks = ids.peaks;
    l.from_map = ids.peaks.size();
    if (!ids.peaks.empty()) l.next_id = ids.peaks.back().id + 1;
    return l;
}

// A new peak's index; a profile holds at most kMaxEntries.
size_t add(Ledger& l, MapPeak p, const std::string& path, const std::string& name) {
    if (l.peaks.size() >= size_t(kMaxEntries))
        throw Failure{kStatusInput, path + ": more than " + std::to_string(kMaxEntries) +
                                        " peaks in all, more than a profile holds"};
    p.id = l.next_id++;
    l.peaks.push_back(std::move(p));
    l.added.push_back(name);
    return l.peaks.size() - 1;
}

// Peaks that no map had: said once, counted, as they will not line up with
// the earlier import's file.
void warn_unmapped(const Ledger& l, const IdSource& ids, std::vector<std::string>& warnings) {
    if (ids.peaks.empty() || l.added.empty()) return;
    warnings.push_back(std::to_string(l.added.size()) + " peaks are not in " + ids.path + " (" + named(l.added) +
                       "): given ids after its " + std::to_string(l.from_map) + ", from " +
                       std::to_string(l.peaks[l.from_map].id) + " on" +
                       (l.found_in_map ? "" : "; none of its peaks was found: are the labels written alike?"));
}

// Two profiles per metal, 1H then heavy atom, every peak in each.
std::string profiles_text(const Ledger& l, const std::vector<std::vector<PcsValue>>& h,
                          const std::vector<std::vector<PcsValue>>& x) {
    std::string text;
    for (size_t m = 0; m < h.size(); ++m)
        for (const auto* values : {&h[m], &x[m]})
            for (size_t i = 0; i < l.peaks.size(); ++i) {
                const MapPeak& p = l.peaks[i];
                const PcsValue v = i < values->size() ? (*values)[i] : PcsValue{};
                // Without shifts, 23 ppm lies inside both the Leu and the Val
                // window, so it favours neither (as for a ratio table).
                text += std::to_string(p.id) + " " + num(v.ppm) + " " + num(v.err) + " " +
                        num(p.shifts ? p.heavy : 23.0) + " " + num(p.shifts ? p.proton : 0.0) + "\n";
            }
    return text;
}

// What the two files hold that a user should hear of: map peaks no metal
// measured, peaks written without shifts.
void close_notes(const Ledger& l, const IdSource& ids, const std::vector<std::vector<PcsValue>>& h,
                 const std::vector<std::vector<PcsValue>>& x, Imported& out) {
    int unmeasured = 0;
    for (size_t i = 0; i < l.from_map; ++i) {
        bool any = false;
        for (size_t m = 0; m < h.size(); ++m)
            any = any || (i < h[m].size() && h[m][i].ppm != kNoPcs) || (i < x[m].size() && x[m][i].ppm != kNoPcs);
        unmeasured += !any;
    }
    if (unmeasured)
        out.notes.push_back(std::to_string(unmeasured) + " of " + ids.path + "'s " + std::to_string(l.from_map) +
                            " peaks have no PCS: written as -999 in every profile");
    const auto shiftless = std::count_if(l.peaks.begin(), l.peaks.end(), [](const MapPeak& p) { return !p.shifts; });
    if (shiftless)
        out.notes.push_back(std::to_string(shiftless) + " peaks without shifts (a PCS table, or a map, gives none): 23 ppm "
                            "(inside both the Leu and the Val window) is written as their tested value");
}

Imported finish(const Ledger& l, const IdSource& ids, const std::vector<std::vector<PcsValue>>& h,
                const std::vector<std::vector<PcsValue>>& x, Imported out) {
    warn_unmapped(l, ids, out.warnings);
    close_notes(l, ids, h, x, out);
    out.profiles = profiles_text(l, h, x);
    out.map = peak_map_text(l.peaks);
    return out;
}

}  // namespace

Imported import_pcs_tables(const std::vector<PcsTable>& tables, const IdSource& ids) {
    Imported out;
    Ledger l = start(ids);
    std::map<std::string, size_t> index;
    for (size_t i = 0; i < l.peaks.size(); ++i)
        if (!l.peaks[i].label.empty()) index[l.peaks[i].label] = i;
    std::vector<std::vector<PcsValue>> h(tables.size()), x(tables.size());
    for (size_t m = 0; m < tables.size(); ++m) {
        int with_h = 0, with_x = 0;
        for (const PcsRow& row : tables[m].rows) {
            auto it = index.find(row.label);
            if (it != index.end() && it->second < l.from_map) ++l.found_in_map;
            if (it == index.end()) {
                MapPeak p;
                p.label = row.label;
                it = index.emplace(row.label, add(l, p, tables[m].path, row.label)).first;
            }
            h[m].resize(l.peaks.size());
            x[m].resize(l.peaks.size());
            h[m][it->second] = row.h;
            x[m][it->second] = row.x;
            with_h += row.h.ppm != kNoPcs;
            with_x += row.x.ppm != kNoPcs;
        }
        out.notes.push_back("metal " + std::to_string(m + 1) + " (" + tables[m].path + "): " +
                            std::to_string(tables[m].rows.size()) + " labels, " + std::to_string(with_h) +
                            " with a 1H PCS, " + std::to_string(with_x) + " with a heavy-atom PCS");
    }
    return finish(l, ids, h, x, std::move(out));
}

namespace {

// Each of a list's peaks' place in the ledger, or -1: by label, else by
// position within the tolerances (a scaled distance of 1 or less) among the
// ledger's peaks with shifts, peaks labelled both sides differently never;
// one to one, nearest first.
std::vector<int> find_in(const Ledger& l, const PeakList& list, const PcsOptions& o) {
    std::vector<int> at(list.peaks.size(), -1);
    std::vector<char> taken(l.peaks.size(), 0);
    std::map<std::string, int> by_label;
    for (size_t i = 0; i < l.peaks.size(); ++i)
        if (!l.peaks[i].label.empty()) by_label[l.peaks[i].label] = int(i);
    for (size_t k = 0; k < list.peaks.size(); ++k) {
        const auto it = list.peaks[k].label.empty() ? by_label.end() : by_label.find(list.peaks[k].label);
        if (it == by_label.end()) continue;
        at[k] = it->second;
        taken[size_t(it->second)] = 1;
    }
    std::vector<std::tuple<double, int, int>> near;
    for (size_t k = 0; k < list.peaks.size(); ++k) {
        if (at[k] >= 0) continue;
        const Peak& p = list.peaks[k];
        for (size_t i = 0; i < l.peaks.size(); ++i) {
            const MapPeak& q = l.peaks[i];
            if (taken[i] || !q.shifts || (!p.label.empty() && !q.label.empty())) continue;
            const double d = std::hypot((p.proton - q.proton) / o.tol_h, (p.heavy - q.heavy) / o.tol_x);
            if (d <= 1.0) near.emplace_back(d, int(k), int(i));
        }
    }
    std::sort(near.begin(), near.end());
    for (const auto& [d, k, i] : near) {
        if (at[size_t(k)] >= 0 || taken[size_t(i)]) continue;
        at[size_t(k)] = i;
        taken[size_t(i)] = 1;
    }
    return at;
}

void take_shifts(MapPeak& q, const Peak& p) {
    q.shifts = true;
    q.heavy = p.heavy;
    q.proton = p.proton;
}

// A metal's diamagnetic peaks that found no id get the next ones; those of a
// later metal are said where no map is given (with one, they are counted
// with the rest). Map peaks without shifts take their list peak's.
void give_ids(Ledger& l, const PeakList& dia, size_t m, const IdSource& ids, std::vector<int>& at,
              std::vector<std::string>& warnings) {
    std::vector<std::string> unmatched;
    for (size_t k = 0; k < at.size(); ++k) {
        const Peak& p = dia.peaks[k];
        if (at[k] >= 0) {
            MapPeak& q = l.peaks[size_t(at[k])];
            if (size_t(at[k]) < l.from_map) ++l.found_in_map;
            if (!q.shifts) take_shifts(q, p);
            continue;
        }
        MapPeak q;
        q.label = p.label;
        take_shifts(q, p);
        at[k] = int(add(l, q, dia.path, where(p)));
        unmatched.push_back(where(p));
    }
    if (m > 0 && ids.peaks.empty() && !unmatched.empty())
        warnings.push_back(dia.path + ": " + std::to_string(unmatched.size()) +
                           " diamagnetic peaks match none of an earlier metal's (" + named(unmatched) +
                           "): given ids of their own, after those");
}

// A PCS from two positions, ppm. Lists give shifts to three or four
// decimals; the difference's binary noise (0.05 as 0.04999999999999993) is
// cut at 1e-6 ppm, far below that (and a -0 that leaves is made 0).
double moved(double para, double dia) { return std::round((para - dia) * 1e6) / 1e6 + 0.0; }

// The metal's note accounts for every diamagnetic peak.
std::string metal_note(const PcsLists& ml, size_t m, const DiagonalPairs& pr, size_t absent, const PcsOptions& o) {
    auto names = [&](const std::vector<int>& peaks) {
        std::vector<std::string> n;
        for (int i : peaks) n.push_back(where(ml.dia.peaks[size_t(i)]));
        return n.empty() ? std::string() : " (" + named(n) + ")";
    };
    std::string note = "metal " + std::to_string(m + 1) + " (" + ml.dia.path + ", " + ml.para.path + "): " +
                       std::to_string(ml.dia.peaks.size()) + " diamagnetic peaks: " + std::to_string(pr.by_label) +
                       " paired by label, " + std::to_string(pr.by_position) + " by position (within " +
                       num(o.diagonal) + " ppm of the diagonal, shifts up to " + num(o.max_shift) + " ppm), " +
                       std::to_string(pr.ambiguous.size()) + " ambiguous" + names(pr.ambiguous) + ", " +
                       std::to_string(pr.alone.size()) + " with no partner" + names(pr.alone);
    if (absent) note += ", " + std::to_string(absent) + " peaks not in this metal's diamagnetic list";
    return note;
}

// What the pairing shows that a user must hear: paramagnetic peaks left
// over, and lists that do not meet at all.
void warn_pairing(const PcsLists& ml, size_t m, const DiagonalPairs& pr, std::vector<std::string>& warnings) {
    std::vector<char> claimed(ml.para.peaks.size(), 0);
    for (int k : pr.partner)
        if (k >= 0) claimed[size_t(k)] = 1;
    std::vector<std::string> left;
    for (size_t k = 0; k < claimed.size(); ++k)
        if (!claimed[k]) left.push_back(where(ml.para.peaks[k]));
    if (!left.empty())
        warnings.push_back(ml.para.path + ": " + std::to_string(left.size()) +
                           " paramagnetic peaks pair with no diamagnetic one (" + named(left) + "): left out");
    if (pr.by_label + pr.by_position == 0)
        warnings.push_back("metal " + std::to_string(m + 1) + " (" + ml.dia.path + ", " + ml.para.path +
                           "): no peak paired: check that the lists are of one sample, their axes, "
                           "--pcs-tolerance and --pcs-max");
}

// A list without a single peak is a wrong file.
void check_lists(const PcsLists& ml) {
    if (ml.dia.peaks.empty()) throw Failure{kStatusInput, ml.dia.path + ": holds no peaks"};
    if (ml.para.peaks.empty())
        throw Failure{kStatusInput, ml.para.path + ": holds no peaks: a paramagnetic list shows at least the peaks "
                                                   "far from the metal; is it the right file?"};
}

}  // namespace

Imported import_pcs_lists(const std::vector<PcsLists>& metals, const PcsOptions& o, const IdSource& ids) {
    Imported out;
    for (const PcsLists& ml : metals) check_lists(ml);
    Ledger l = start(ids);
    std::vector<std::vector<PcsValue>> h(metals.size()), x(metals.size());
    std::vector<DiagonalPairs> pairs;
    for (size_t m = 0; m < metals.size(); ++m) {
        const PcsLists& ml = metals[m];
        std::vector<int> at = find_in(l, ml.dia, o);
        give_ids(l, ml.dia, m, ids, at, out.warnings);
        pairs.push_back(pair_on_diagonal(ml.dia, ml.para, o.diagonal, o.max_shift));
        const DiagonalPairs& pr = pairs.back();
        h[m].resize(l.peaks.size());
        x[m].resize(l.peaks.size());
        for (size_t i = 0; i < pr.partner.size(); ++i) {
            if (pr.partner[i] < 0) continue;
            const Peak& d = ml.dia.peaks[i];
            const Peak& p = ml.para.peaks[size_t(pr.partner[i])];
            h[m][size_t(at[i])] = {moved(p.proton, d.proton), 0.0};
            x[m][size_t(at[i])] = {moved(p.heavy, d.heavy), 0.0};
        }
        warn_pairing(ml, m, pr, out.warnings);
    }
    // Said once all peaks are known: a later metal's may be absent here.
    for (size_t m = 0; m < metals.size(); ++m)
        out.notes.push_back(metal_note(metals[m], m, pairs[m], l.peaks.size() - metals[m].dia.peaks.size(), o));
    return finish(l, ids, h, x, std::move(out));
}
