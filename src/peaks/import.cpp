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

namespace {

// Which peak of a site's lists each peak stands with: indices, -1 for none.
// A later site's peaks are known by the first site's diamagnetic ones, the ids.
struct Pairing {
    std::vector<int> dia_of;                        // per id: this site's diamagnetic peak
    std::vector<int> para_of, dia_b_of, para_b_of;  // per diamagnetic peak: its partners
    int by_label = 0;                               // diamagnetic-paramagnetic pairs made by label
    bool flipped = false;                           // a paramagnetic list with no height above 0
};

// What became of one site's peaks, for its note.
struct Tally {
    int paired = 0, broadened = 0, absent = 0, unmeasured = 0;
};

// Ratios at the ends, counted over every site and said once.
struct RatioEnds {
    int above_one = 0, below_zero = 0;
};

// A list without a single peak is a wrong file far more often than a
// site that broadens everything.
void check_lists(const std::vector<SiteLists>& sites, bool two_points) {
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
}

// Values in other units than the formulas' give PREs wrong by orders of
// magnitude, yet read.
void warn_units(const ImportOptions& o, bool two_points, std::vector<std::string>& warnings) {
    if (!two_points && o.delay > 0.1)
        warnings.push_back("--delay " + num(o.delay) +
                           " s is longer than any transverse delay (about 0.01 s is usual): the delay is in "
                           "seconds (10 ms is 0.01)");
    if (two_points && o.tb > 0.1)
        warnings.push_back("--delays " + num(o.ta) + " " + num(o.tb) +
                           " s: longer than any transverse delay (about 0.01 s is usual): the time points are "
                           "in seconds (10 ms is 0.01)");
}

// The ids are the first site's diamagnetic peaks; a later site's own are
// found among them, and those that find no id are said, not kept.
std::vector<int> to_ids(const SiteLists& site, size_t s, const PeakList& ref, const ImportOptions& o,
                        std::vector<std::string>& warnings) {
    const size_t n = ref.peaks.size();
    std::vector<int> dia_of(n);
    if (s == 0) {
        for (size_t i = 0; i < n; ++i) dia_of[i] = int(i);
        return dia_of;
    }
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
        warnings.push_back(site.dia.path + ": " + std::to_string(lost) + " peaks match none of " + ref.path +
                           ", whose peaks are the ids (" + list + (lost > 10 ? ", ..." : "") + "): left out");
    warn_far(ref, site.dia, dia_of, o, warnings);
    return dia_of;
}

// Percentages read as ratios would be enhancements of tens of times: a
// table of them is said, as it reads without an error.
void warn_percentages(const PeakList& table, std::vector<std::string>& warnings) {
    std::vector<double> r;
    for (const Peak& p : table.peaks)
        if (p.has_value) r.push_back(p.height);
    if (r.empty()) return;
    const double mid = median(r), top = *std::max_element(r.begin(), r.end());
    if (mid > 1.5 || (mid > 1.0 && top > 10.0))
        warnings.push_back(table.path + ": the ratios look like percentages (median " + num(mid) + ", largest " +
                           num(top) + "): a ratio table gives Ipara/Idia, 1 for no change; divide them by 100");
}

// Each diamagnetic peak's partners in the site's other lists, and what the
// pairing shows that a user must hear: labels far apart, a phase flipped,
// paramagnetic peaks left over.
void pair_partners(const SiteLists& site, bool two_points, const ImportOptions& o, Pairing& pr,
                   std::vector<std::string>& warnings) {
    pr.para_of = pair_peaks(site.dia, site.para, o.tol_h, o.tol_x, &pr.by_label);
    warn_far(site.dia, site.para, pr.para_of, o, warnings);
    if (two_points) {
        pr.dia_b_of = pair_peaks(site.dia, site.dia_b, o.tol_h, o.tol_x, nullptr);
        pr.para_b_of = pair_peaks(site.dia, site.para_b, o.tol_h, o.tol_x, nullptr);
        warn_far(site.dia, site.dia_b, pr.dia_b_of, o, warnings);
        warn_far(site.dia, site.para_b, pr.para_b_of, o, warnings);
    }
    // A phase flipped by 180 degrees turns every height negative,
    // and so every peak into one broadened beyond detection.
    for (const PeakList* l : {&site.para, &site.para_b}) {
        if (l->peaks.empty() ||
            std::any_of(l->peaks.begin(), l->peaks.end(), [](const Peak& p) { return p.height > 0.0; }))
            continue;
        pr.flipped = true;
        warnings.push_back(l->path + ": every height is 0 or below (a spectrum phased upside down?): "
                           "every peak of this site is taken as broadened beyond detection");
    }
    // Paramagnetic peaks that no diamagnetic one claims.
    std::vector<char> claimed(site.para.peaks.size(), 0);
    for (int k : pr.para_of)
        if (k >= 0) claimed[size_t(k)] = 1;
    std::string list;
    int unpaired = 0;
    for (size_t k = 0; k < claimed.size(); ++k)
        if (!claimed[k] && unpaired++ < 10) list += (list.empty() ? "" : ", ") + where(site.para.peaks[k], true);
    if (unpaired > 0)
        warnings.push_back(site.para.path + ": " + std::to_string(unpaired) +
                           " paramagnetic peaks pair with no diamagnetic one (" + list +
                           (unpaired > 10 ? ", ..." : "") + "): left out");
}

// A ratio table's peak: the ratio is Ipara/Idia already, its error given or
// --noise; at or below 0 the peak is gone.
Value from_ratio(const Peak& dp, const ImportOptions& o, Tally& t, RatioEnds& ends) {
    if (!dp.has_value) {
        ++t.unmeasured;
        return Value{};
    }
    const double ratio = dp.height, err = dp.noise > 0.0 ? dp.noise : o.noise;
    if (ratio <= 0.0) {
        ++ends.below_zero;
        ++t.broadened;
        return {kBroadened, 0.0};
    }
    ++t.paired;
    if (ratio >= 1.0) ++ends.above_one;
    if (o.r2 <= 0.0) throw Failure{kStatusUsage, "a ratio table needs the diamagnetic R2: give --r2 (see --help)"};
    const double g = gamma2_from_ratio(ratio, o.r2, o.delay, o.r2_mq);
    return {g, err > 0.0 ? err / std::fabs(ratio_slope(g, o.r2, o.delay, o.r2_mq)) : 0.0};
}

// Heights are divided by: 0 or less would give infinities that read as data.
void check_divisor(const PeakList& l, const Peak& q) {
    if (q.height <= 0.0)
        throw Failure{kStatusInput,
                      l.path + ":" + std::to_string(q.line) + ": a diamagnetic height of 0 or less cannot be divided by"};
}

// A height's relative error; 0 where no noise is known.
double rel(double noise, double h) { return noise > 0.0 ? noise / h : 0.0; }

// A peak from its heights in the site's lists: missing, or lost in the
// noise, at either time point, it is broadened beyond detection.
Value from_heights(const SiteLists& site, const Pairing& pr, size_t d, bool two_points, const ImportOptions& o,
                   Tally& t, RatioEnds& ends) {
    const Peak& dp = site.dia.peaks[d];
    const int p = pr.para_of[d];
    const double dia_noise = dp.noise > 0.0 ? dp.noise : o.noise;
    const Peak* pp = p >= 0 ? &site.para.peaks[size_t(p)] : nullptr;
    const double para_noise = pp && pp->noise > 0.0 ? pp->noise : o.noise;
    if (!pp || (para_noise > 0.0 && pp->height < 3.0 * para_noise) || pp->height <= 0.0) {
        ++t.broadened;
        return {kBroadened, 0.0};
    }
    check_divisor(site.dia, dp);
    if (two_points) {
        // The second time point's peaks are checked as the first's.
        const int db = pr.dia_b_of[d], pb = pr.para_b_of[d];
        const Peak* dbp = db >= 0 ? &site.dia_b.peaks[size_t(db)] : nullptr;
        const Peak* pbp = pb >= 0 ? &site.para_b.peaks[size_t(pb)] : nullptr;
        if (dbp) check_divisor(site.dia_b, *dbp);
        const double dia_b_noise = dbp && dbp->noise > 0.0 ? dbp->noise : o.noise;
        const double para_b_noise = pbp && pbp->noise > 0.0 ? pbp->noise : o.noise;
        if (!dbp || !pbp || pbp->height <= 0.0 || (para_b_noise > 0.0 && pbp->height < 3.0 * para_b_noise)) {
            ++t.broadened;
            return {kBroadened, 0.0};
        }
        ++t.paired;
        const double g = gamma2_two_points(dp.height, pp->height, dbp->height, pbp->height, o.ta, o.tb);
        const double e =
            std::sqrt(std::pow(rel(dia_noise, dp.height), 2) + std::pow(rel(para_noise, pp->height), 2) +
                      std::pow(rel(dia_b_noise, dbp->height), 2) + std::pow(rel(para_b_noise, pbp->height), 2)) /
            (o.tb - o.ta);
        return {std::max(g, 0.0), e};
    }
    ++t.paired;
    const double r2 = dp.width_hz > 0.0 ? M_PI * dp.width_hz : o.r2;
    if (!(r2 > 0.0))
        throw Failure{kStatusUsage, site.dia.path +
                                        ": no 1H linewidths to take R2 from: give the diamagnetic R2 as "
                                        "--r2 (see --help)"};
    const double ratio = pp->height / dp.height;
    if (ratio >= 1.0) ++ends.above_one;
    const double g = gamma2_from_ratio(ratio, r2, o.delay, o.r2_mq);
    const double sr = ratio * std::hypot(rel(para_noise, pp->height), rel(dia_noise, dp.height));
    return {g, sr > 0.0 ? sr / std::fabs(ratio_slope(g, r2, o.delay, o.r2_mq)) : 0.0};
}

// Heights and noise at the ends of the double range can make a value
// or an error that no file can carry: not measured, and said.
void drop_unwritable(std::vector<Value>& values, const PeakList& dia, const std::vector<int>& dia_of, Tally& t,
                     std::vector<std::string>& warnings) {
    std::vector<size_t> overflow;
    for (size_t i = 0; i < values.size(); ++i) {
        Value& v = values[i];
        if (std::isfinite(v.pre) && std::isfinite(v.err)) continue;
        v = Value{};
        --t.paired;
        overflow.push_back(i);
    }
    if (overflow.empty()) return;
    std::string list;
    for (size_t k = 0; k < overflow.size() && k < 10; ++k)
        list += (k ? ", " : "") + where(dia.peaks[size_t(dia_of[overflow[k]])], dia.positions);
    warnings.push_back(dia.path + ": " + std::to_string(overflow.size()) +
                       " peaks whose PRE or error is not a finite number (" + list +
                       (overflow.size() > 10 ? ", ..." : "") +
                       "; heights or noise out of scale?): written as not measured (-999)");
    t.unmeasured += int(overflow.size());
}

// The site's note accounts for every id, so that a user sees where peaks went.
std::string site_note(const SiteLists& site, size_t s, size_t n, int by_label, const Tally& t,
                      const ImportOptions& o) {
    const bool ratios = site.dia.format == ListFormat::Ratios;
    std::string note = "site " + std::to_string(s + 1) + " (" + site.dia.path +
                       (ratios ? "" : ", " + site.para.path) + "): " + std::to_string(n) + " peaks: " +
                       std::to_string(t.paired) + " measured";
    if (!ratios)
        note += " (" + std::to_string(by_label) + " paired by label, the rest by position within " + num(o.tol_h) +
                " ppm 1H and " + num(o.tol_x) + " ppm 13C/15N)";
    note += ", " + std::to_string(t.broadened) + " broadened beyond detection";
    if (t.unmeasured) note += ", " + std::to_string(t.unmeasured) + " without a value";
    if (s > 0 || t.absent)
        note += ", " + std::to_string(t.absent) + " not in this site's " +
                (ratios ? "ratio table" : "diamagnetic list");
    return note;
}

// One site, start to end: its peaks found among the ids and paired, each
// measured, then its note and what it warns of; a value per id.
std::vector<Value> import_site(const std::vector<SiteLists>& sites, size_t s, bool two_points,
                               const ImportOptions& o, RatioEnds& ends, Imported& out) {
    const SiteLists& site = sites[s];
    const PeakList& ref = sites[0].dia;
    const size_t n = ref.peaks.size();
    const bool ratios = site.dia.format == ListFormat::Ratios;
    Pairing pr;
    pr.dia_of = to_ids(site, s, ref, o, out.warnings);
    if (ratios)
        warn_percentages(site.dia, out.warnings);
    else
        pair_partners(site, two_points, o, pr, out.warnings);
    std::vector<Value> values(n);
    Tally t;
    for (size_t i = 0; i < n; ++i) {
        const int d = pr.dia_of[i];
        if (d < 0) {
            ++t.absent;
            continue;
        }
        values[i] = ratios ? from_ratio(site.dia.peaks[size_t(d)], o, t, ends)
                           : from_heights(site, pr, size_t(d), two_points, o, t, ends);
    }
    drop_unwritable(values, site.dia, pr.dia_of, t, out.warnings);
    out.notes.push_back(site_note(site, s, n, pr.by_label, t, o));
    // Nothing measured where peaks were there to pair: the lists do not
    // meet (axes swapped, tolerances too tight, another sample).
    if (!ratios && !pr.flipped && t.paired == 0 && t.broadened > 1)
        out.warnings.push_back("site " + std::to_string(s + 1) + " (" + site.dia.path + ", " + site.para.path +
                               "): no peak measured, all " + std::to_string(t.broadened) +
                               " taken as broadened beyond detection: check that the lists are of one sample, "
                               "their axes, and --tolerance");
    return values;
}

// Said once for every site, as the same cause (noise at the ends) shows in each.
void warn_ratio_ends(const RatioEnds& ends, std::vector<std::string>& warnings) {
    if (ends.above_one)
        warnings.push_back(std::to_string(ends.above_one) +
                           " ratios at or above 1 (noise, or no enhancement): their PRE is taken as 0");
    if (ends.below_zero)
        warnings.push_back(std::to_string(ends.below_zero) +
                           " ratios at or below 0: taken as broadened beyond detection");
}

// The experimental-profile file: the ids in order, one profile per site.
std::string profiles_text(const std::vector<std::vector<Value>>& values, const PeakList& ref) {
    std::string text;
    for (const std::vector<Value>& site : values)
        for (size_t i = 0; i < site.size(); ++i) {
            const Value& v = site[i];
            const Peak& rp = ref.peaks[i];
            // A ratio table has no shifts: 23 ppm lies inside both the Leu
            // and the Val window, so it favours neither.
            text += std::to_string(i + 1) + " " + num(v.pre) + " " + num(v.err) + " " +
                    num(ref.positions ? rp.heavy : 23.0) + " " + num(ref.positions ? rp.proton : 0.0) + "\n";
        }
    return text;
}

// The map from ids back to the user's labels and shifts, as the report
// knows peaks by id alone.
std::string map_text(const PeakList& ref) {
    std::string map = "peak_id\tlabel\theavy_ppm\tproton_ppm\n";
    for (size_t i = 0; i < ref.peaks.size(); ++i) {
        const Peak& rp = ref.peaks[i];
        map += std::to_string(i + 1) + "\t" + (rp.label.empty() ? "?-?" : rp.label) + "\t" +
               (ref.positions ? num(rp.heavy) + "\t" + num(rp.proton) : "\t") + "\n";
    }
    return map;
}

}  // namespace

Imported import_sites(const std::vector<SiteLists>& sites, const ImportOptions& o) {
    Imported out;
    const PeakList& ref = sites[0].dia;
    const bool two_points = o.tb > o.ta && o.ta >= 0.0 && o.tb > 0.0;
    check_lists(sites, two_points);
    warn_units(o, two_points, out.warnings);
    std::vector<std::vector<Value>> values;
    RatioEnds ends;
    for (size_t s = 0; s < sites.size(); ++s) values.push_back(import_site(sites, s, two_points, o, ends, out));
    warn_ratio_ends(ends, out.warnings);
    out.profiles = profiles_text(values, ref);
    out.map = map_text(ref);
    if (!ref.positions)
        out.notes.push_back("a ratio table has no shifts: 23 ppm (inside both the Leu and the Val window) is written "
                            "as each peak's tested value");
    return out;
}
