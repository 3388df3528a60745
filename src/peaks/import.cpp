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

// A pair's distance in tolerances (1: at the edge of pairing by position).
double apart(const Peak& a, const Peak& b, const ImportOptions& o) {
    return std::hypot((a.proton - b.proton) / o.tol_h, (a.heavy - b.heavy) / o.tol_x);
}

// Labels override positions; a labelled pair further apart than this many
// tolerances is more likely a mislabelled peak, or swapped axes, than a shift.
constexpr double kFarApart = 5.0;

void warn_far(const PeakList& a, const PeakList& b, const std::vector<int>& partner, const ImportOptions& o,
              std::vector<std::string>& warnings) {
    if (!a.positions || !b.positions) return;
    std::string list;
    int far = 0;
    for (size_t i = 0; i < partner.size(); ++i) {
        if (partner[i] < 0) continue;
        const Peak& p = a.peaks[i];
        const Peak& q = b.peaks[size_t(partner[i])];
        if (p.label.empty() || apart(p, q, o) <= kFarApart) continue;
        if (far++ < 10)
            list += (list.empty() ? "" : ", ") + p.label + ": " + num(q.proton) + "/" + num(q.heavy) + " against " +
                    num(p.proton) + "/" + num(p.heavy) + " ppm";
    }
    if (far > 0)
        warnings.push_back(b.path + ": " + std::to_string(far) + " peaks paired by label lie more than " +
                           num(kFarApart) + " tolerances from their partner in " + a.path + " (" + list +
                           (far > 10 ? ", ..." : "") + "): paired all the same; check the labels");
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
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
    // A list without a single peak is a wrong file far more often than a
    // site that broadens everything.
    for (const SiteLists& site : sites) {
        const bool ratios = site.dia.format == ListFormat::Ratios;
        std::vector<const PeakList*> used{&site.dia};
        if (!ratios) used.push_back(&site.para);
        if (!ratios && two_points) used.insert(used.end(), {&site.dia_b, &site.para_b});
        for (const PeakList* l : used)
            if (l->peaks.empty())
                throw Failure{kStatusInput,
                              l->path + (ratios ? ": holds no ratios"
                                                : l == &site.para || l == &site.para_b
                                                      ? ": holds no peaks: a paramagnetic list shows at least the "
                                                        "peaks far from the label; is it the right file?"
                                                      : ": holds no peaks")};
    }
    // Values in other units than the formulas' give PREs wrong by orders of
    // magnitude, yet read.
    if (!two_points && o.delay > 0.1)
        out.warnings.push_back("--delay " + num(o.delay) +
                               " s is longer than any transverse delay (about 0.01 s is usual): the delay is in "
                               "seconds (10 ms is 0.01)");
    if (two_points && o.tb > 0.1)
        out.warnings.push_back("--delays " + num(o.ta) + " " + num(o.tb) +
                               " s: longer than any transverse delay (about 0.01 s is usual): the time points are "
                               "in seconds (10 ms is 0.01)");
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
            std::string list;
            int lost = 0;
            for (size_t k = 0; k < to_ref.size(); ++k) {
                if (to_ref[k] >= 0)
                    dia_of[size_t(to_ref[k])] = int(k);
                else if (lost++ < 10)
                    list += (list.empty() ? "" : ", ") + where(site.dia.peaks[k], site.dia.positions);
            }
            if (lost > 0)
                out.warnings.push_back(site.dia.path + ": " + std::to_string(lost) + " peaks match none of " +
                                       ref.path + ", whose peaks are the ids (" + list + (lost > 10 ? ", ..." : "") +
                                       "): left out");
            warn_far(ref, site.dia, dia_of, o, out.warnings);
        }
        if (ratios) {
            std::vector<double> r;
            for (const Peak& p : site.dia.peaks)
                if (p.has_value) r.push_back(p.height);
            if (!r.empty()) {
                const double mid = median(r), top = *std::max_element(r.begin(), r.end());
                if (mid > 1.5 || (mid > 1.0 && top > 10.0))
                    out.warnings.push_back(site.dia.path + ": the ratios look like percentages (median " + num(mid) +
                                           ", largest " + num(top) +
                                           "): a ratio table gives Ipara/Idia, 1 for no change; divide them by 100");
            }
        }
        std::vector<int> para_of, dia_b_of, para_b_of;
        bool flipped = false;
        if (!ratios) {
            para_of = pair_peaks(site.dia, site.para, o.tol_h, o.tol_x, &by_label);
            warn_far(site.dia, site.para, para_of, o, out.warnings);
            if (two_points) {
                dia_b_of = pair_peaks(site.dia, site.dia_b, o.tol_h, o.tol_x, nullptr);
                para_b_of = pair_peaks(site.dia, site.para_b, o.tol_h, o.tol_x, nullptr);
                warn_far(site.dia, site.dia_b, dia_b_of, o, out.warnings);
                warn_far(site.dia, site.para_b, para_b_of, o, out.warnings);
            }
            // A phase flipped by 180 degrees turns every height negative,
            // and so every peak into one broadened beyond detection.
            for (const PeakList* l : {&site.para, &site.para_b}) {
                if (l->peaks.empty() || std::any_of(l->peaks.begin(), l->peaks.end(),
                                                    [](const Peak& p) { return p.height > 0.0; }))
                    continue;
                flipped = true;
                out.warnings.push_back(l->path + ": every height is 0 or below (a spectrum phased upside down?): "
                                       "every peak of this site is taken as broadened beyond detection");
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
            auto divisor = [](const PeakList& l, const Peak& q) {
                if (q.height <= 0.0)
                    throw Failure{kStatusInput, l.path + ":" + std::to_string(q.line) +
                                                    ": a diamagnetic height of 0 or less cannot be divided by"};
            };
            divisor(site.dia, dp);
            auto rel = [](double noise, double h) { return noise > 0.0 ? noise / h : 0.0; };
            if (two_points) {
                // The second time point's peaks are checked as the first's.
                const int db = dia_b_of[size_t(d)], pb = para_b_of[size_t(d)];
                const Peak* dbp = db >= 0 ? &site.dia_b.peaks[size_t(db)] : nullptr;
                const Peak* pbp = pb >= 0 ? &site.para_b.peaks[size_t(pb)] : nullptr;
                if (dbp) divisor(site.dia_b, *dbp);
                const double dia_b_noise = dbp && dbp->noise > 0.0 ? dbp->noise : o.noise;
                const double para_b_noise = pbp && pbp->noise > 0.0 ? pbp->noise : o.noise;
                if (!dbp || !pbp || pbp->height <= 0.0 || (para_b_noise > 0.0 && pbp->height < 3.0 * para_b_noise)) {
                    ++broadened;
                    v = {kBroadened, 0.0};
                    continue;
                }
                ++paired;
                const double g = gamma2_two_points(dp.height, pp->height, dbp->height, pbp->height, o.ta, o.tb);
                const double e = std::sqrt(std::pow(rel(dia_noise, dp.height), 2) +
                                           std::pow(rel(para_noise, pp->height), 2) +
                                           std::pow(rel(dia_b_noise, dbp->height), 2) +
                                           std::pow(rel(para_b_noise, pbp->height), 2)) /
                                 (o.tb - o.ta);
                v = {std::max(g, 0.0), e};
                continue;
            }
            ++paired;
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
        // Heights and noise at the ends of the double range can make a value
        // or an error that no file can carry: not measured, and said.
        std::vector<size_t> overflow;
        for (size_t i = 0; i < n; ++i) {
            Value& v = values[s][i];
            if (std::isfinite(v.pre) && std::isfinite(v.err)) continue;
            v = Value{};
            --paired;
            overflow.push_back(i);
        }
        if (!overflow.empty()) {
            std::string list;
            for (size_t k = 0; k < overflow.size() && k < 10; ++k)
                list += (k ? ", " : "") + where(site.dia.peaks[size_t(dia_of[overflow[k]])], site.dia.positions);
            out.warnings.push_back(site.dia.path + ": " + std::to_string(overflow.size()) +
                                   " peaks whose PRE or error is not a finite number (" + list +
                                   (overflow.size() > 10 ? ", ..." : "") +
                                   "; heights or noise out of scale?): written as not measured (-999)");
            unmeasured += int(overflow.size());
        }
        std::string note = "site " + std::to_string(s + 1) + " (" + site.dia.path +
                           (ratios ? "" : ", " + site.para.path) + "): " + std::to_string(n) + " peaks: " +
                           std::to_string(paired) + " measured";
        if (!ratios)
            note += " (" + std::to_string(by_label) + " paired by label, the rest by position within " +
                    num(o.tol_h) + " ppm 1H and " + num(o.tol_x) + " ppm 13C/15N)";
        note += ", " + std::to_string(broadened) + " broadened beyond detection";
        if (unmeasured) note += ", " + std::to_string(unmeasured) + " without a value";
        if (s > 0 || absent)
            note += ", " + std::to_string(absent) + " not in this site's " + (ratios ? "ratio table" : "diamagnetic list");
        out.notes.push_back(note);
        // Nothing measured where peaks were there to pair: the lists do not
        // meet (axes swapped, tolerances too tight, another sample).
        if (!ratios && !flipped && paired == 0 && broadened > 1)
            out.warnings.push_back("site " + std::to_string(s + 1) + " (" + site.dia.path + ", " + site.para.path +
                                   "): no peak measured, all " + std::to_string(broadened) +
                                   " taken as broadened beyond detection: check that the lists are of one sample, "
                                   "their axes, and --tolerance");
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
