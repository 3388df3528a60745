// A methyl's PCS is its protons' mean and its carbon's; an amide's, its H's
// and its N's: the positions come from the geometry's atoms and partners.
#include "metal/shifts.h"

#include <cmath>
#include <cstdlib>

#include "io/failure.h"
#include "metal/relax.h"

namespace metal {

namespace {

Failure bad_place(const std::string& text, const std::string& what) {
    return Failure{kStatusUsage, what + ": '" + text +
                                     "' is not a metal's place: give an atom CHAIN:NUMBER:ATOM (A:77:CA), a point "
                                     "X,Y,Z in A, or a tagged residue CHAIN:NUMBER (A:40; its place is fitted)"};
}

}  // namespace

Place parse_place(const std::string& text, const std::string& what) {
    Place p;
    p.text = text;
    if (text.find(',') != std::string::npos) {
        double v[3];
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t end = i < 2 ? text.find(',', start) : text.size();
            if (end == std::string::npos) throw bad_place(text, what);
            const std::string f = text.substr(start, end - start);
            char* stop = nullptr;
            v[i] = std::strtod(f.c_str(), &stop);
            if (f.empty() || *stop != '\0' || !std::isfinite(v[i])) throw bad_place(text, what);
            start = end + 1;
        }
        p.kind = Place::Kind::Point;
        p.at = {v[0], v[1], v[2]};
        return p;
    }
    const size_t first = text.find(':'), second = first == std::string::npos ? first : text.find(':', first + 1);
    try {
        if (second == std::string::npos) {
            p.kind = Place::Kind::Tag;
            p.residue = parse_site(text, what);
        } else {
            p.kind = Place::Kind::Atom;
            p.residue = parse_site(text.substr(0, second), what);
            p.atom = text.substr(second + 1);
            if (p.atom.empty() || p.atom.find_first_of(" :,") != std::string::npos) throw bad_place(text, what);
        }
    } catch (const Failure&) {
        throw bad_place(text, what);
    }
    p.residue.text = text;
    return p;
}

std::vector<Point> positions(const Structure& st, const Place& p, const std::string& path) {
    std::vector<Point> out;
    if (p.kind == Place::Kind::Point) return std::vector<Point>(st.models.size(), p.at);
    if (p.kind == Place::Kind::Tag)
        throw Failure{kStatusUsage, "metal " + p.text +
                                        " is a tagged residue, whose metal is placed by a fit: give --fit-tensors, "
                                        "or the metal's atom (A:77:CA) or point (X,Y,Z)"};
    for (size_t m = 0; m < st.models.size(); ++m) {
        const Atom* a = nullptr;
        for (const Residue& r : st.models[m].residues)
            if (r.chain == p.residue.chain && r.number == p.residue.number && r.icode == p.residue.icode)
                a = r.find(p.atom);
        if (!a)
            throw Failure{kStatusInput, path + ": no atom " + p.text +
                                            (st.models.size() > 1 ? " in model " + std::to_string(m + 1) : "") +
                                            " (the metal given as " + p.text + ")"};
        out.push_back({a->x, a->y, a->z});
    }
    return out;
}

const Point& proton_at(const Geometry& g, bool amide, size_t n, size_t m, int k) {
    const size_t i = (n * g.models + m) * 2 + k;
    return amide ? g.atom_at[i] : g.partner_at[i];
}

const Point& heavy_at(const Geometry& g, bool amide, size_t n, size_t m, int k) {
    const size_t i = (n * g.models + m) * 2 + k;
    return amide ? g.partner_at[i] : g.atom_at[i];
}

std::array<double, 5> pcs_row(const Geometry& g, bool amide, bool heavy, size_t n, const std::vector<Point>& metal) {
    std::array<double, 5> sum{};
    int held = 0;
    for (size_t m = 0; m < metal.size() && m < g.models; ++m) {
        const int k = g.atoms_in[n * g.models + m];
        if (k == 0) continue;
        std::array<double, 5> s{};
        for (int a = 0; a < k; ++a) {
            const auto r = metal::pcs_row(metal[m], heavy ? heavy_at(g, amide, n, m, a) : proton_at(g, amide, n, m, a));
            for (int e = 0; e < 5; ++e) s[e] += r[e];
        }
        for (int e = 0; e < 5; ++e) sum[e] += s[e] / k;
        ++held;
    }
    if (held > 0)
        for (double& x : sum) x /= held;
    return sum;
}

double proton_r6(const Geometry& g, bool amide, size_t n, const std::vector<Point>& metal) {
    double sum = 0.0;
    int held = 0;
    for (size_t m = 0; m < metal.size() && m < g.models; ++m) {
        const int k = g.atoms_in[n * g.models + m];
        if (k == 0) continue;
        double s = 0.0;
        for (int a = 0; a < k; ++a) {
            const Point& p = proton_at(g, amide, n, m, a);
            const double dx = p.x - metal[m].x, dy = p.y - metal[m].y, dz = p.z - metal[m].z;
            const double r2 = std::max(dx * dx + dy * dy + dz * dz, 1e-6);
            s += 1.0 / (r2 * r2 * r2);
        }
        sum += s / k;
        ++held;
    }
    return held > 0 ? sum / held : 0.0;
}

Prediction predict_metals(const Geometry& g, const PredictOptions& o, const std::vector<Metal>& metals,
                          bool relaxation, double field_t) {
    const bool amide = o.nuclei == Nuclei::Amide;
    Prediction out;
    out.nuclei = g.nuclei;
    out.warnings = g.warnings;
    const std::string heavy = amide ? "15N" : "13C";
    for (const Metal& mt : metals) {
        const Point& p = mt.at.front();
        std::string note = "metal " + mt.name + " at (" + number_text(p.x) + ", " + number_text(p.y) + ", " +
                           number_text(p.z) + ")" + (g.models > 1 ? " in model 1" : "") + ": ";
        if (relaxation) {
            const Relaxation r{mt.tensor.mueff, mt.tensor.taur_ns * 1e-9, mt.tensor.t1e_ps * 1e-12, mt.tensor.temp, field_t};
            const double k = curie_factor(r) + dipolar_factor(r);
            std::vector<double> gamma(g.nuclei.size());
            for (size_t n = 0; n < g.nuclei.size(); ++n) gamma[n] = k * proton_r6(g, amide, n, mt.at);
            out.gamma2.push_back(std::move(gamma));
            note += "1H PRE of " + std::to_string(g.nuclei.size()) + " nuclei (mueff " + number_text(mt.tensor.mueff) +
                    " Bohr magnetons, taur " + number_text(mt.tensor.taur_ns) + " ns, t1e " +
                    number_text(mt.tensor.t1e_ps) + " ps, " + number_text(field_t) + " T)";
        } else {
            const auto e = elements(cartesian(mt.tensor));
            for (const bool h : {false, true}) {
                std::vector<double> v(g.nuclei.size());
                for (size_t n = 0; n < g.nuclei.size(); ++n) {
                    const auto row = pcs_row(g, amide, h, n, mt.at);
                    double s = 0.0;
                    for (int k = 0; k < 5; ++k) s += row[k] * e[k];
                    v[n] = s + mt.tensor.shift;
                }
                out.gamma2.push_back(std::move(v));
            }
            note += "PCS of " + std::to_string(g.nuclei.size()) + " nuclei, 1H then " + heavy + " (ax " +
                    number_text(mt.tensor.ax) + ", rh " + number_text(mt.tensor.rh) + " x 1e-32 m^3)";
        }
        note += ", " + std::to_string(g.models) + (g.models == 1 ? " model" : " models averaged");
        out.notes.push_back(note);
    }
    // The carbon sits about 0.36 A from its protons' mean: up to some 20% on r^-6 at 10 A.
    if (!amide && g.partners_placed > 0)
        out.warnings.push_back("the structure lacks the protons of " + std::to_string(g.partners_placed) +
                               " methyls: their carbons stand for them in the 1H " + (relaxation ? "PRE" : "PCS"));
    return out;
}

}  // namespace metal
