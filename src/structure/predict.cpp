// Nuclei are chosen in the first model and found again, by chain, number and
// insertion code, in every other; the label is placed in each model from
// that model's own backbone, so it moves with its residue.
#include "structure/predict.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "io/failure.h"

namespace {

using Vec = Point;
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec at(const Atom& a) { return {a.x, a.y, a.z}; }

using Key = std::tuple<std::string, int, char>;
Key key_of(const Residue& r) { return {r.chain, r.number, r.icode}; }

std::string residue_text(const Residue& r) {
    std::string s = r.chain + ":" + std::to_string(r.number);
    if (r.icode != ' ') s += r.icode;
    return s + " " + r.name;
}

// CB, or where Gly would have it: from N, CA and C by ideal geometry.
bool beta_carbon(const Residue& r, Vec& cb) {
    if (const Atom* b = r.find("CB")) {
        cb = at(*b);
        return true;
    }
    const Atom *n = r.find("N"), *ca = r.find("CA"), *c = r.find("C");
    if (!n || !ca || !c) return false;
    const Vec b = at(*ca) - at(*n), cc = at(*c) - at(*ca), a = cross(b, cc);
    cb = -0.58273431 * a + 0.56802827 * b + (-0.54067466) * cc + at(*ca);
    return true;
}

// Where the label's electron may be in one model: one point, or a cloud.
std::vector<Vec> label_points(const Model& m, const Residue& site, const PredictOptions& o, std::string& why) {
    const Atom* ca = site.find("CA");
    Vec cb;
    if (!ca || !beta_carbon(site, cb)) {
        why = "lacks the CA and CB (or N, CA and C) that place a label";
        return {};
    }
    const Vec axis = cb - at(*ca);
    const double len = std::sqrt(dot(axis, axis));
    if (!std::isfinite(len)) {
        why = "has a CA or CB position that is not a finite number";
        return {};
    }
    if (!(len > 0.0)) {
        why = "has CA and CB at one place";
        return {};
    }
    if (o.label == LabelModel::Pseudo) return {at(*ca) + (o.label_distance / len) * axis};
    // Heavy atoms of other residues near enough to clash with a point.
    std::vector<Vec> near;
    const double reach = o.label_distance + o.clash;
    for (const Residue& r : m.residues) {
        // Crystal waters would not stop a label, which moves through the solvent.
        if (key_of(r) == key_of(site) || r.water) continue;
        for (const Atom& a : r.atoms) {
            const Vec d = at(a) - cb;
            if (!a.hydrogen && dot(d, d) <= reach * reach) near.push_back(at(a));
        }
    }
    std::vector<Vec> cloud;
    const int steps = int(o.label_distance / o.grid);
    for (int i = -steps; i <= steps; ++i)
        for (int j = -steps; j <= steps; ++j)
            for (int k = -steps; k <= steps; ++k) {
                const Vec d{i * o.grid, j * o.grid, k * o.grid};
                // Within the tether's reach, and away from the backbone.
                if (dot(d, d) > o.label_distance * o.label_distance || dot(d, axis) < 0.0) continue;
                const Vec p = cb + d;
                bool clear = true;
                for (const Vec& a : near) {
                    const Vec e = p - a;
                    if (dot(e, e) < o.clash * o.clash) {
                        clear = false;
                        break;
                    }
                }
                if (clear) cloud.push_back(p);
            }
    if (cloud.empty()) why = "leaves no room for a label (an empty cloud)";
    return cloud;
}

// The nuclei a residue gives: each entry's atoms, averaged over.
struct Pick {
    Nucleus nucleus;
    std::vector<std::string> atoms;
    Key key;
};

// A residue's nuclei, from the atoms it has; `said` gets a line for each
// methyl missing: what stands for the residue instead, or that it is left out.
std::vector<Pick> picks_of(const Residue& r, const PredictOptions& o, std::vector<std::string>& said) {
    std::vector<Pick> out;
    const std::string who = residue_text(r);
    auto add = [&](int type, std::vector<std::string> atoms) {
        std::string name = who + " ";
        for (size_t i = 0; i < atoms.size(); ++i) name += (i ? "/" : "") + atoms[i];
        out.push_back({Nucleus{r.number, type, name}, atoms, key_of(r)});
    };
    if (o.nuclei == Nuclei::Amide) {
        if (r.name == "PRO") return out;
        if (r.find("H"))
            add(0, {"H"});
        else if (r.find("HN"))
            add(0, {"HN"});
        return out;  // a residue without either is named where H are placed
    }
    const bool leu = r.name == "LEU", val = r.name == "VAL";
    if (leu || val) {
        const int type = leu ? 1 : 2;
        const std::string pro_r = leu ? "CD1" : "CG1", pro_s = leu ? "CD2" : "CG2";
        const bool has_r = r.find(pro_r), has_s = r.find(pro_s);
        const std::string both = who + " lacks " + pro_r + " and " + pro_s + ": left out";
        switch (o.methyl) {
            case MethylChoice::Mean:
                if (has_r && has_s)
                    add(type, {pro_r, pro_s});
                else if (has_r || has_s) {
                    // Not stereospecific: the methyl that is there stands for the residue.
                    const std::string& there = has_r ? pro_r : pro_s;
                    add(type, {there});
                    said.push_back(who + " lacks " + (has_r ? pro_s : pro_r) + ": its " + there +
                                   " alone stands for the residue");
                } else
                    said.push_back(both);
                break;
            case MethylChoice::ProR:
            case MethylChoice::ProS: {
                const bool want_r = o.methyl == MethylChoice::ProR;
                const std::string& want = want_r ? pro_r : pro_s;
                const std::string& other = want_r ? pro_s : pro_r;
                if (want_r ? has_r : has_s)
                    add(type, {want});
                else if (want_r ? has_s : has_r)
                    said.push_back(who + " lacks " + want + ": left out (its " + other + " is " +
                                   (want_r ? "pro-S" : "pro-R") + "; --methyl mean would use it)");
                else
                    said.push_back(both);
                break;
            }
            case MethylChoice::Each:
                if (has_r) add(type, {pro_r});
                if (has_s) add(type, {pro_s});
                if (has_r != has_s)
                    said.push_back(who + " lacks " + (has_r ? pro_s : pro_r) + ": only its " + (has_r ? pro_r : pro_s) +
                                   " is given");
                else if (!has_r)
                    said.push_back(both);
                break;
        }
        return out;
    }
    if (!o.untyped) return out;
    static const std::map<std::string, std::string> single = {
        {"ILE", "CD1"}, {"MET", "CE"}, {"ALA", "CB"}, {"THR", "CG2"}};
    const auto it = single.find(r.name);
    if (it == single.end()) return out;
    if (r.find(it->second))
        add(0, {it->second});
    else
        said.push_back(who + " lacks " + it->second + ": left out");
    return out;
}

std::string describe(const PredictOptions& o) {
    if (o.nuclei == Nuclei::Amide) return "amide H";
    std::string s = o.untyped ? "Leu/Val methyl carbons (Ile, Met, Ala, Thr untyped)" : "Leu/Val methyl carbons";
    switch (o.methyl) {
        case MethylChoice::Mean: return s + ", mean of the two";
        case MethylChoice::ProR: return s + ", pro-R (Leu CD1, Val CG1)";
        case MethylChoice::ProS: return s + ", pro-S (Leu CD2, Val CG2)";
        case MethylChoice::Each: return s + ", one entry each";
    }
    return s;
}

}  // namespace

std::string number_text(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

SiteName parse_site(const std::string& text, const std::string& what) {
    SiteName s;
    s.text = text;
    const size_t colon = text.find(':');
    const auto bad = [&] {
        return Failure{kStatusUsage, what + ": '" + text + "' is not a site: give CHAIN:NUMBER, as A:17 (see --help)"};
    };
    if (colon == std::string::npos || colon == 0) throw bad();
    s.chain = text.substr(0, colon);
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto r = std::from_chars(first, last, s.number);
    if (r.ec != std::errc() || r.ptr == first) throw bad();
    if (r.ptr != last) {
        if (last - r.ptr != 1 || !std::isalpha(static_cast<unsigned char>(*r.ptr))) throw bad();
        s.icode = *r.ptr;
    }
    return s;
}

double gamma2_factor(double tau_c_s, double field_hz) {
    const double w = 2.0 * M_PI * field_hz;
    return kPreConstant * (4.0 * tau_c_s + 3.0 * tau_c_s / (1.0 + w * w * tau_c_s * tau_c_s));
}

Point in_frame(const Geometry::Frame& f, const Point& u) {
    return f.origin + u.x * f.e1 + u.y * f.e2 + u.z * f.e3;
}

namespace {

// <r^-6> over the first `models` models, points_of(m) giving model m's label
// points as (first, count).
template <typename PointsOf>
double mean_r6_over(const Geometry& g, size_t n, size_t models, PointsOf points_of) {
    const size_t M = g.models;
    double sum = 0.0;
    int held = 0;
    for (size_t m = 0; m < models; ++m) {
        const int k = g.atoms_in[n * M + m];
        const auto [first, count] = points_of(m);
        if (k == 0 || count == 0) continue;
        double s = 0.0;
        for (int a = 0; a < k; ++a) {
            const Vec x = g.atom_at[(n * M + m) * 2 + a];
            for (size_t i = 0; i < count; ++i) {
                const Vec d = x - first[i];
                const double r2 = std::max(dot(d, d), 1e-6);
                s += 1.0 / (r2 * r2 * r2);
            }
        }
        sum += s / (double(k) * double(count));
        ++held;
    }
    return held > 0 ? sum / held : 0.0;
}

}  // namespace

double mean_r6(const Geometry& g, size_t n, const std::vector<std::vector<Point>>& points) {
    return mean_r6_over(g, n, g.models, [&](size_t m) { return std::pair{points[m].data(), points[m].size()}; });
}

double mean_r6(const Geometry& g, size_t n, const std::vector<Point>& one_per_model, size_t models) {
    const size_t used = models > 0 ? std::min(models, g.models) : g.models;
    return mean_r6_over(g, n, used, [&](size_t m) { return std::pair{&one_per_model[m], size_t(1)}; });
}

namespace {

// Each model's residues by chain, number and insertion code.
std::vector<std::map<Key, const Residue*>> index_of(const Structure& st) {
    std::vector<std::map<Key, const Residue*>> index(st.models.size());
    for (size_t m = 0; m < st.models.size(); ++m)
        for (const Residue& r : st.models[m].residues) index[m].emplace(key_of(r), &r);
    return index;
}

// The site's residue in model m, or a failure naming it.
const Residue& site_in(const std::vector<std::map<Key, const Residue*>>& index, size_t m, const SiteName& site,
                       const std::string& path) {
    const auto it = index[m].find(Key{site.chain, site.number, site.icode});
    if (it == index[m].end())
        throw Failure{kStatusInput, path + ": no residue " + site.text +
                                        (index.size() > 1 ? " in model " + std::to_string(m + 1) : "") +
                                        " (the site given as " + site.text + ")"};
    return *it->second;
}

}  // namespace

int place_amide_hydrogens(Model& m, std::vector<AmideGap>* gaps) {
    int placed = 0;
    const Residue* before = nullptr;  // the residue before in the file
    for (Residue& r : m.residues) {
        const Residue* prev = before && before->chain == r.chain ? before : nullptr;
        before = &r;
        const Atom *n = r.find("N"), *ca = r.find("CA");
        if (!n || !ca || r.find("H") || r.find("HN") || r.name == "PRO" || !prev) continue;
        const auto gap = [&](std::string why) {
            if (gaps) gaps->push_back({&r, std::move(why)});
        };
        const Atom* c = prev->find("C");
        if (!c) {
            gap("the residue before it has no C");
            continue;
        }
        const Vec from_c = at(*n) - at(*c), from_ca = at(*n) - at(*ca);
        const double lc = std::sqrt(dot(from_c, from_c)), lca = std::sqrt(dot(from_ca, from_ca));
        if (!(lc <= kPeptideBondMax)) {
            char d[32];
            std::snprintf(d, sizeof d, "%.2f", lc);
            gap(std::string("no C bonded before its N (a chain break: C-N ") + d + " A)");
            continue;
        }
        const Vec bis = (1.0 / lc) * from_c + (1.0 / lca) * from_ca;
        const double lb = std::sqrt(dot(bis, bis));
        // Collinear C, N, CA (or atoms at one place) leave no direction.
        if (!(lc > 1e-3 && lca > 1e-3 && lb > 1e-3)) {
            gap("its C(i-1), N and CA are in line or at one place");
            continue;
        }
        const Vec h = at(*n) + (kAmideNH / lb) * bis;
        if (!std::isfinite(h.x) || !std::isfinite(h.y) || !std::isfinite(h.z)) {
            gap("its backbone coordinates are not finite");
            continue;
        }
        Atom a;
        a.name = "H";
        a.hydrogen = true;
        a.x = h.x;
        a.y = h.y;
        a.z = h.z;
        r.atoms.push_back(a);
        ++placed;
    }
    return placed;
}

std::vector<std::string> unit_warnings(const PredictOptions& o) {
    std::vector<std::string> w;
    if (o.field_mhz < 100.0)
        w.push_back("--field " + number_text(o.field_mhz) +
                    " is below 100 MHz, which no spectrometer for proteins uses: the 1H frequency is given in MHz "
                    "(14.1 T is 600 MHz), and every PRE depends on it");
    if (o.tau_c_ns < 0.1 || o.tau_c_ns > 100.0)
        w.push_back("--tau-c " + number_text(o.tau_c_ns) +
                    " lies outside 0.1 to 100 ns, where proteins' correlation times fall: it is given in ns, and "
                    "every PRE scales with it");
    return w;
}

namespace {

using Index = std::vector<std::map<Key, const Residue*>>;

Failure input_fault(const std::string& path, const std::string& why) { return Failure{kStatusInput, path + ": " + why}; }

void warn(Geometry& g, const std::string& path, const std::string& what) { g.warnings.push_back(path + ": " + what); }

// Amide H where the structure has none (X-ray structures), each model from
// its own backbone; on `copy`, so that the caller's structure stays as read.
// Returns the structure to take nuclei from; `gaps` are the first model's,
// the one nuclei are chosen in.
const Structure& with_amide_h(const Structure& st, const PredictOptions& o, Structure& copy,
                              std::vector<AmideGap>& gaps) {
    if (o.nuclei != Nuclei::Amide) return st;
    copy = st;
    for (size_t m = 0; m < copy.models.size(); ++m)
        place_amide_hydrogens(copy.models[m], m == 0 ? &gaps : nullptr);
    return copy;
}

// The nuclei, chosen in the first model of `src`, and a word on every residue
// left out and on amide H placed: a user must know which residues the
// profiles cannot hold. None at all fails, with the first word as the reason.
std::vector<Pick> choose_nuclei(const Structure& st, const Structure& src, const std::vector<AmideGap>& gaps,
                                const PredictOptions& o, const std::string& path, Geometry& g) {
    const auto chosen = [&](const Residue& r) { return o.chain.empty() || r.chain == o.chain; };
    std::vector<Pick> picks;
    std::vector<std::string> said;
    for (const Residue& r : src.models[0].residues)
        if (chosen(r))
            for (Pick& p : picks_of(r, o, said)) picks.push_back(std::move(p));
    for (const std::string& line : said) warn(g, path, line);
    if (o.nuclei == Nuclei::Amide) {
        for (const AmideGap& gap : gaps)
            if (chosen(*gap.residue))
                warn(g, path, residue_text(*gap.residue) + " left out: no amide H, and " + gap.why);
        const auto as_read = index_of(st);
        int placed = 0;
        for (const Pick& p : picks) {
            const Residue* r = as_read[0].at(p.key);
            placed += !r->find("H") && !r->find("HN");
        }
        if (placed > 0)
            warn(g, path,
                 "the structure lacks " + std::to_string(placed) + " of the " + std::to_string(picks.size()) +
                     " amide H: placed by ideal geometry (" + number_text(kAmideNH) +
                     " A from N on the bisector of C(i-1)-N and CA-N" +
                     (src.models.size() > 1 ? "), in each model from its own backbone" : ")"));
    }
    if (picks.empty()) {
        // The warnings would not be seen: the first says why.
        std::string why;
        if (!g.warnings.empty())
            why = " (" + g.warnings[0].substr(path.size() + 2) +
                  (g.warnings.size() > 1 ? "; and " + std::to_string(g.warnings.size() - 1) + " more" : "") + ")";
        throw input_fault(path, "holds no " + describe(o) + (o.chain.empty() ? "" : " in chain " + o.chain) + why);
    }
    return picks;
}

// The simulated file starts a new profile where the number goes down, and
// knows a residue by its number alone: numbering it cannot read back is
// refused, not written.
void check_numbers(const std::vector<Pick>& picks, const std::map<Key, const Residue*>& first,
                   const PredictOptions& o, const std::string& path) {
    for (size_t i = 1; i < picks.size(); ++i) {
        const Pick &a = picks[i - 1], &b = picks[i];
        if (b.nucleus.residue < a.nucleus.residue)
            throw input_fault(path, "residue numbers go down from " + a.nucleus.name + " to " + b.nucleus.name +
                                        ", which the simulated file would read as a new profile: choose one chain "
                                        "with --chain");
        if (b.nucleus.residue == a.nucleus.residue && b.key != a.key)
            throw input_fault(path, "residues " + residue_text(*first.at(a.key)) + " and " +
                                        residue_text(*first.at(b.key)) + " would both be residue " +
                                        std::to_string(b.nucleus.residue) +
                                        " in the simulated file, which knows a residue by its number alone: " +
                                        (std::get<0>(a.key) != std::get<0>(b.key)
                                             ? "choose one chain with --chain"
                                             : "give a structure renumbered so that each residue "
                                               "has a number of its own"));
    }
    // One residue's entries, the same number in every profile, would read
    // back as a single profile.
    if (o.sites.size() > 1 && picks.front().nucleus.residue == picks.back().nucleus.residue)
        throw input_fault(path, "only " + residue_text(*first.at(picks.front().key)) + " gives nuclei (" +
                                    describe(o) +
                                    "): the simulated file starts a new profile where the residue number goes "
                                    "down, so its " +
                                    std::to_string(o.sites.size()) +
                                    " profiles would read back as one; give one site per run, or choose more nuclei");
}

// The other nucleus of an atom's peak: an amide H's N, a methyl carbon's
// protons' mean (CD1: HD11, HD12, HD13); the atom itself where the file
// lacks them (`stood_in` set).
Vec partner_of(const Residue& r, const Atom& a, bool& stood_in) {
    if (a.hydrogen || a.name == "H" || a.name == "HN") {
        const Atom* n = r.find("N");
        return n ? at(*n) : at(a);
    }
    Vec sum{0, 0, 0};
    int k = 0;
    for (const char* i : {"1", "2", "3"})
        if (const Atom* h = r.find("H" + a.name.substr(1) + i)) {
            sum = sum + at(*h);
            ++k;
        }
    if (k == 0) {
        stood_in = true;
        return at(a);
    }
    return (1.0 / k) * sum;
}

// Each nucleus's atoms in every model, up to two an entry; a model lacking
// the residue or an atom holds none, is left out of that nucleus's average,
// and is named, as the average then stands on fewer models.
void fill_atoms(const std::vector<Pick>& picks, const Index& index, const std::string& path, Geometry& g) {
    const size_t M = g.models;
    g.atom_at.resize(picks.size() * M * 2);
    g.partner_at.resize(picks.size() * M * 2);
    g.atoms_in.assign(picks.size() * M, 0);
    std::vector<std::string> partial;  // nuclei some models lack
    for (size_t n = 0; n < picks.size(); ++n) {
        std::vector<size_t> lacking;
        // A methyl counts once however many models lack its protons.
        bool stood_in[2] = {false, false};
        for (size_t m = 0; m < M; ++m) {
            const auto it = index[m].find(picks[n].key);
            int found = 0;
            if (it != index[m].end())
                for (size_t i = 0; i < picks[n].atoms.size(); ++i)
                    if (const Atom* a = it->second->find(picks[n].atoms[i])) {
                        g.partner_at[(n * M + m) * 2 + found] = partner_of(*it->second, *a, stood_in[i]);
                        g.atom_at[(n * M + m) * 2 + found++] = at(*a);
                    }
            if (found == int(picks[n].atoms.size()))
                g.atoms_in[n * M + m] = found;
            else
                lacking.push_back(m + 1);
        }
        g.partners_placed += int(stood_in[0]) + int(stood_in[1]);
        if (!lacking.empty()) {
            std::string which;
            for (size_t i = 0; i < lacking.size() && i < 3; ++i) which += (i ? ", " : "") + std::to_string(lacking[i]);
            if (lacking.size() > 3) which += " and " + std::to_string(lacking.size() - 3) + " more";
            partial.push_back(picks[n].nucleus.name + " (model" + (lacking.size() > 1 ? "s " : " ") + which + ")");
        }
    }
    if (!partial.empty()) {
        std::string list;
        for (size_t i = 0; i < partial.size() && i < 5; ++i) list += (i ? ", " : "") + partial[i];
        if (partial.size() > 5) list += " and " + std::to_string(partial.size() - 5) + " more";
        warn(g, path,
             std::to_string(partial.size()) + (partial.size() == 1 ? " nucleus is" : " nuclei are") +
                 " missing from some models and averaged over those that hold " +
                 (partial.size() == 1 ? "it" : "them") + ": " + list);
    }
}

// A site's residue frame in model m (origin CB, e1 along CA-CB, e2 towards
// N): a fitted label moves with it. A frame from atoms at one place or in
// line would be noise or NaN, so it fails instead.
Geometry::Frame frame_of(const Residue& r, const SiteName& site, size_t m, size_t M, const std::string& path) {
    const Atom *ca = r.find("CA"), *n = r.find("N");
    Vec cb;
    if (!ca || !n || !beta_carbon(r, cb))
        throw input_fault(path, "site " + site.text + " lacks the N, CA and CB (or C) that place a label" +
                                    (M > 1 ? " in model " + std::to_string(m + 1) : ""));
    Geometry::Frame f;
    f.origin = cb;
    f.ca = at(*ca);
    const Vec e1 = cb - at(*ca), towards_n = at(*n) - at(*ca);
    const double l1 = std::sqrt(dot(e1, e1));
    const auto degenerate = [&](const std::string& why) {
        return input_fault(path, "site " + site.text + " " + why +
                                     (M > 1 ? " in model " + std::to_string(m + 1) : "") +
                                     ": its label has no residue frame");
    };
    // Real residues are far from these limits (CA-CB 1.53 A, N 1.4 A
    // off that line); a frame from less would be noise or NaN.
    constexpr double kLeast = 0.01;  // A
    if (!std::isfinite(l1) || !std::isfinite(dot(towards_n, towards_n)))
        throw degenerate("has an N, CA or CB position that is not a finite number");
    if (!(l1 > kLeast)) throw degenerate("has CA and CB at one place");
    f.e1 = (1.0 / l1) * e1;
    const Vec e2 = towards_n - dot(towards_n, f.e1) * f.e1;
    const double l2 = std::sqrt(dot(e2, e2));
    if (!(l2 > kLeast)) throw degenerate("has its N on the line through CA and CB");
    f.e2 = (1.0 / l2) * e2;
    f.e3 = cross(f.e1, f.e2);
    return f;
}

// A site's frames in every model, and a word where a non-Gly site's CB is
// placed rather than read: the label then stands on ideal geometry.
void add_site_frames(const SiteName& site, const Index& index, const std::string& path, Geometry& g) {
    const size_t M = g.models;
    std::vector<Geometry::Frame> frames;
    std::vector<size_t> no_cb;  // models where a non-Gly site's CB is placed
    for (size_t m = 0; m < M; ++m) {
        const Residue& r = site_in(index, m, site, path);
        const Geometry::Frame f = frame_of(r, site, m, M, path);
        if (r.name != "GLY" && !r.find("CB")) no_cb.push_back(m + 1);
        frames.push_back(f);
    }
    if (!no_cb.empty())
        warn(g, path,
             "site " + site.text + " (" + site_in(index, 0, site, path).name + ") lacks CB" +
                 (M == 1 ? std::string()
                  : no_cb.size() == M ? " in every model"
                  : " in " + std::to_string(no_cb.size()) + " of " + std::to_string(M) + " models") +
                 ": placed from N, CA and C by ideal geometry, as for Gly");
    g.frames.push_back(frames);
    g.site_residues.push_back(site_in(index, 0, site, path).name);
}

}  // namespace

Geometry geometry(const Structure& st, const PredictOptions& o, const std::string& path) {
    Geometry g;
    Structure copy;
    std::vector<AmideGap> gaps;
    const Structure& src = with_amide_h(st, o, copy, gaps);
    const auto index = index_of(src);
    const std::vector<Pick> picks = choose_nuclei(st, src, gaps, o, path, g);
    check_numbers(picks, index[0], o, path);
    g.models = src.models.size();
    for (const Pick& p : picks) g.nuclei.push_back(p.nucleus);
    fill_atoms(picks, index, path, g);
    for (const SiteName& site : o.sites) add_site_frames(site, index, path, g);
    return g;
}

Prediction predict(const Structure& st, const PredictOptions& o, const std::string& path) {
    const Geometry g = geometry(st, o, path);
    const auto index = index_of(st);
    Prediction out;
    out.nuclei = g.nuclei;
    out.warnings = g.warnings;
    const double factor = gamma2_factor(o.tau_c_ns * 1e-9, o.field_mhz * 1e6);
    for (size_t s = 0; s < o.sites.size(); ++s) {
        const SiteName& site = o.sites[s];
        // The label's points in each model.
        std::vector<std::vector<Vec>> points(g.models);
        size_t total = 0;
        for (size_t m = 0; m < g.models; ++m) {
            std::string why;
            points[m] = label_points(st.models[m], site_in(index, m, site, path), o, why);
            if (points[m].empty())
                throw Failure{kStatusInput, path + ": site " + site.text + " " + why +
                                                (g.models > 1 ? " in model " + std::to_string(m + 1) : "")};
            total += points[m].size();
        }
        std::vector<double> gamma(g.nuclei.size());
        for (size_t n = 0; n < g.nuclei.size(); ++n) gamma[n] = factor * mean_r6(g, n, points);
        out.gamma2.push_back(std::move(gamma));
        std::string note = "site " + site.text + " (" + g.site_residues[s] + "): " + std::to_string(g.nuclei.size()) +
                           " nuclei (" + describe(o) + "), ";
        if (o.label == LabelModel::Pseudo)
            note += "label " + number_text(o.label_distance) + " A from CA along CA-CB";
        else
            note += "label cloud of " + std::to_string(total / g.models) + " points on average";
        note += ", " + std::to_string(g.models) + (g.models == 1 ? " model" : " models averaged");
        out.notes.push_back(note);
    }
    return out;
}

std::string simulated_profiles_text(const Prediction& p) {
    std::string s;
    for (const std::vector<double>& g : p.gamma2)
        for (size_t n = 0; n < p.nuclei.size(); ++n)
            s += std::to_string(p.nuclei[n].residue) + " " + number_text(g[n]) + " " +
                 std::to_string(p.nuclei[n].type) + "\n";
    return s;
}
