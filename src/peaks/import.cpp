// Errors come from the lists' noise and are propagated, never made up: a
// list without noise gives an error of 0, which the posterior reads as
// "not given". A peak that no partner list shows is said in a note or a
// warning, never dropped without a word.
#include "peaks/import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <tuple>

#include "io/failure.h"
#include "peaks/rates.h"

namespace {

std::string num(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string where(const Peak& p, bool positions) {
    if (!p.label.empty()) return p.label;
    if (!positions) return "line " + std::to_string(p.line);
    return num(p.proton) + "/" + num(p.heavy) + " ppm";
}

// A measured value and its error, or a marker.
struct Value {
    double pre = MISSING, err = 0.0;
    static constexpr double MISSING = -999.0;
};

}  // namespace

std::vector<int> pair_peaks(const PeakList& a, const PeakList& b, double tol_h, double tol_x, int* by_label) {
    std::vector<int> partner(a.peaks.size(), -1);
    std::vector<char> taken(b.peaks.size(), 0);
    std::map<std::string, int> label_in_b;
    for (size_t k = 0; k < b.peaks.size(); ++k)
        if (!b.peaks[k].label.empty()) label_in_b[b.peaks[k].label] = int(k);
    int labelled = 0;
    for (size_t i = 0; i < a.peaks.size(); ++i) {
        const auto it = a.peaks[i].label.empty() ? label_in_b.end() : label_in_b.find(a.peaks[i].label);
        if (it == label_in_b.end()) continue;
        partner[i] = it->second;
        taken[it->second] = 1;
        ++labelled;
    }
    if (by_label) *by_label = labelled;
    if (!a.positions || !b.positions) return partner;
    // By position: peaks that carry labels both sides, different ones, are
    // different peaks; the rest pair nearest first.
    std::vector<std::tuple<double, int, int>> near;
    for (size_t i = 0; i < a.peaks.size(); ++i) {
        if (partner[i] >= 0) continue;
        for (size_t k = 0; k < b.peaks.size(); ++k) {
            if (taken[k] || (!a.peaks[i].label.empty() && !b.peaks[k].label.empty())) continue;
            const double dh = (a.peaks[i].proton - b.peaks[k].proton) / tol_h;
            const double dx = (a.peaks[i].heavy - b.peaks[k].heavy) / tol_x;
            const double d = std::sqrt(dh * dh + dx * dx);
            if (d <= 1.0) near.emplace_back(d, int(i), int(k));
        }
    }
    std::sort(near.begin(), near.end());
    for (const auto& [d, i, k] : near) {
        if (partner[i] >= 0 || taken[k]) continue;
        partner[i] = k;
        taken[k] = 1;
    }
    return partner;
}

Imported import_sites(const std::vector<SiteLists>& sites, const ImportOptions& o) {
    Imported out;
    const PeakList& ref = sites[0].dia;
    const size_t n = ref.peaks.size();
    const bool two_points = o.tb > o.ta && o.ta >= 0.0 && o.tb > 0.0;
    std::vector<std::vector<Value>> values(sites.size(), std::vector<Value>(n));
    int above_one = 0, below_zero = 0;
    for (size_t s = 0; s < sites.size(); ++s) {
        const SiteLists& site = sites[s];
        const bool ratios = site.dia.format == ListFormat::Ratios;
        int by_label = 0;
        std::vector<int> dia_of(n);
        if (s == 0) {
            for (size_t i = 0; i < n; ++i) dia_of[i] = int(i);
        } else {
            // This site's diamagnetic peaks, found among the first site's.
            const std::vector<int> to_ref = pair_peaks(site.dia, ref, o.tol_h, o.tol_x, nullptr);
            std::fill(dia_of.begin(), dia_of.end(), -1);
            for (size_t k = 0; k < to_ref.size(); ++k)
                if (to_ref[k] >= 0) dia_of[size_t(to_ref[k])] = int(k);
        }
        std::vector<int> para_of, dia_b_of, para_b_of;
        if (!ratios) {
            para_of = pair_peaks(site.dia, site.para, o.tol_h, o.tol_x, &by_label);
            if (two_points) {
                dia_b_of = pair_peaks(site.dia, site.dia_b, o.tol_h, o.tol_x, nullptr);
                para_b_of = pair_peaks(site.dia, site.para_b, o.tol_h, o.tol_x, nullptr);
            }
            // Paramagnetic peaks that no diamagnetic one claims.
            std::vector<char> claimed(site.para.peaks.size(), 0);
            for (int k : para_of)
                if (k >= 0) claimed[size_t(k)] = 1;
            std::string list;
            int unpaired = 0;
            for (size_t k = 0; k < claimed.size(); ++k)
                if (!claimed[k] && unpaired++ < 10) list += (list.empty() ? "" : ", ") + where(site.para.peaks[k], true);
            if (unpaired > 0)
                out.warnings.push_back(site.para.path + ": " + std::to_string(unpaired) +
                                       " paramagnetic peaks pair with no diamagnetic one (" + list +
                                       (unpaired > 10 ? ", ..." : "") + "): left out");
        }
        int paired = 0, broadened = 0, absent = 0, unmeasured = 0;
        for (size_t i = 0; i < n; ++i) {
            Value& v = values[s][i];
            const int d = dia_of[i];
            if (d < 0) {
                ++absent;
                continue;
            }
            const Peak& dp = site.dia.peaks[size_t(d)];
            if (ratios) {
                if (!dp.has_value) {
                    ++unmeasured;
                    continue;
                }
                const double ratio = dp.height, err = dp.noise > 0.0 ? dp.noise : o.noise;
                ++paired;
                if (ratio <= 0.0) {
                    ++below_zero;
                    ++broadened;
                    v = {kBroadened, 0.0};
                    continue;
                }
                if (ratio >= 1.0) ++above_one;
                if (o.r2 <= 0.0)
                    throw Failure{kStatusUsage, "a ratio table needs the diamagnetic R2: give --r2 (see --help)"};
                const double g = gamma2_from_ratio(ratio, o.r2, o.delay, o.r2_mq);
                v = {g, err > 0.0 ? err / std::fabs(ratio_slope(g, o.r2, o.delay, o.r2_mq)) : 0.0};
                continue;
            }
            const int p = para_of[size_t(d)];
            const double dia_noise = dp.noise > 0.0 ? dp.noise : o.noise;
            const Peak* pp = p >= 0 ? &site.para.peaks[size_t(p)] : nullptr;
            const double para_noise = pp && pp->noise > 0.0 ? pp->noise : o.noise;
            // Missing, or lost in the noise: broadened beyond detection.
            if (!pp || (para_noise > 0.0 && pp->height < 3.0 * para_noise) || pp->height <= 0.0) {
                ++broadened;
                v = {kBroadened, 0.0};
                continue;
            }
            ++paired;
            if (dp.height <= 0.0)
                throw Failure{kStatusInput, site.dia.path + ":" + std::to_string(dp.line) +
                                                ": a diamagnetic height of 0 or less cannot be divided by"};
            auto rel = [](double noise, double h) { return noise > 0.0 ? noise / h : 0.0; };
            if (two_points) {
                const int db = dia_b_of[size_t(d)], pb = para_b_of[size_t(d)];
                if (db < 0 || pb < 0) {
                    ++broadened;
                    v = {kBroadened, 0.0};
                    continue;
                }
                const Peak& dbp = site.dia_b.peaks[size_t(db)];
                const Peak& pbp = site.para_b.peaks[size_t(pb)];
                const double g = gamma2_two_points(dp.height, pp->height, dbp.height, pbp.height, o.ta, o.tb);
                const double e = std::sqrt(std::pow(rel(dia_noise, dp.height), 2) + std::pow(rel(para_noise, pp->height), 2) +
                                           std::pow(rel(dbp.noise > 0 ? dbp.noise : o.noise, dbp.height), 2) +
                                           std::pow(rel(pbp.noise > 0 ? pbp.noise : o.noise, pbp.height), 2)) /
                                 (o.tb - o.ta);
                v = {std::max(g, 0.0), e};
                continue;
            }
            const double r2 = dp.width_hz > 0.0 ? M_PI * dp.width_hz : o.r2;
            if (!(r2 > 0.0))
                throw Failure{kStatusUsage, site.dia.path +
                                                ": no 1H linewidths to take R2 from: give the diamagnetic R2 as "
                                                "--r2 (see --help)"};
            const double ratio = pp->height / dp.height;
            if (ratio >= 1.0) ++above_one;
            const double g = gamma2_from_ratio(ratio, r2, o.delay, o.r2_mq);
            const double sr = ratio * std::hypot(rel(para_noise, pp->height), rel(dia_noise, dp.height));
            v = {g, sr > 0.0 ? sr / std::fabs(ratio_slope(g, r2, o.delay, o.r2_mq)) : 0.0};
        }
        std::string note = "site " + std::to_string(s + 1) + " (" + site.dia.path +
                           (ratios ? "" : ", " + site.para.path) + "): " + std::to_string(n) + " peaks: " +
                           std::to_string(paired) + " measured";
        if (!ratios)
            note += " (" + std::to_string(by_label) + " paired by label, the rest by position within " +
                    num(o.tol_h) + " ppm 1H and " + num(o.tol_x) + " ppm 13C/15N)";
        note += ", " + std::to_string(broadened) + " broadened beyond detection";
        if (unmeasured) note += ", " + std::to_string(unmeasured) + " without a value";
        if (s > 0 || absent) note += ", " + std::to_string(absent) + " not in this site's diamagnetic list";
        out.notes.push_back(note);
    }
    if (above_one)
        out.warnings.push_back(std::to_string(above_one) +
                               " ratios at or above 1 (noise, or no enhancement): their PRE is taken as 0");
    if (below_zero)
        out.warnings.push_back(std::to_string(below_zero) +
                               " ratios at or below 0: taken as broadened beyond detection");
    for (size_t s = 0; s < sites.size(); ++s)
        for (size_t i = 0; i < n; ++i) {
            const Value& v = values[s][i];
            const Peak& rp = ref.peaks[i];
            // A ratio table has no shifts: 23 ppm lies inside both the Leu
            // and the Val window, so it favours neither.
            out.profiles += std::to_string(i + 1) + " " + num(v.pre) + " " + num(v.err) + " " +
                            num(ref.positions ? rp.heavy : 23.0) + " " + num(ref.positions ? rp.proton : 0.0) + "\n";
        }
    out.map = "peak_id\tlabel\theavy_ppm\tproton_ppm\n";
    for (size_t i = 0; i < n; ++i) {
        const Peak& rp = ref.peaks[i];
        out.map += std::to_string(i + 1) + "\t" + (rp.label.empty() ? "?-?" : rp.label) + "\t" +
                   (ref.positions ? num(rp.heavy) + "\t" + num(rp.proton) : "\t") + "\n";
    }
    if (!ref.positions)
        out.notes.push_back("a ratio table has no shifts: 23 ppm (inside both the Leu and the Val window) is written "
                            "as each peak's tested value");
    return out;
}
