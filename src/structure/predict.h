// PREs predicted from a structure: for each spin-label site, Gamma2 of each
// chosen nucleus from the label's place in each model,
//   Gamma2 = K <r^-6> (4 tau_c + 3 tau_c / (1 + omega_H^2 tau_c^2)),
// K = 1.23e16 A^6 s^-2, <r^-6> averaged with equal weights over the models,
// over the label's points (one, or a cloud) and, for a methyl residue's
// mean, over its two methyls.
#pragma once

#include <string>
#include <vector>

#include "structure/model.h"

// A residue named on the command line as CHAIN:NUMBER, with an optional
// insertion code after the number ("A:17", "B:52A").
struct SiteName {
    std::string chain;
    int number = 0;
    char icode = ' ';
    std::string text;  // as given
};

// Throws Failure "what: reason" when `text` is not CHAIN:NUMBER.
SiteName parse_site(const std::string& text, const std::string& what);

enum class Nuclei { Methyl, Amide };
enum class MethylChoice { Mean, ProR, ProS, Each };
enum class LabelModel { Pseudo, Cloud };

struct PredictOptions {
    std::vector<SiteName> sites;
    Nuclei nuclei = Nuclei::Methyl;
    MethylChoice methyl = MethylChoice::Mean;
    bool untyped = false;          // Ile CD1, Met CE, Ala CB, Thr CG2 too, as untyped residues
    std::string chain;             // nuclei of this chain only; empty: every chain
    LabelModel label = LabelModel::Pseudo;
    double label_distance = 6.0;   // A: the point's distance from CA, or the cloud's reach from CB
    double clash = 3.4;            // A: cloud points this near another residue's heavy atom are dropped
    double grid = 1.0;             // A: the cloud's grid spacing
    double tau_c_ns = 4.0;         // the correlation time
    double field_mhz = 600.0;      // the 1H frequency
};

inline constexpr double kPreConstant = 1.23e16;  // A^6 s^-2

// K (4 tau_c + 3 tau_c / (1 + omega_H^2 tau_c^2)), in A^6 s^-1.
double gamma2_factor(double tau_c_s, double field_hz);

struct Nucleus {
    int residue = 0;   // its residue number, the simulated file's first column
    int type = 0;      // 1 Leu, 2 Val, 0 untyped
    std::string name;  // "A:23 LEU CD1/CD2", for messages
};

struct Point {
    double x = 0, y = 0, z = 0;
};

// What predictions are made from, found once: each nucleus's atoms in each
// model, and each site's residue frame in each model (origin CB, e1 along
// CA->CB, e2 towards N square to it, e3 = e1 x e2), so that a label placed
// in the frame moves with its residue.
struct Geometry {
    std::vector<Nucleus> nuclei;
    size_t models = 0;
    std::vector<Point> atom_at;  // [(nucleus * models + model) * 2 + atom]
    std::vector<int> atoms_in;   // [nucleus * models + model]: its atoms there, 0 where the model lacks one
    // Beside each atom, its partner in the peak: an amide H's N, a methyl
    // carbon's protons' mean (the carbon itself where the file has none).
    std::vector<Point> partner_at;  // as atom_at
    int partners_placed = 0;        // methyls whose protons a model lacks (each once): their carbons stand in
    struct Frame {
        Point origin, e1, e2, e3, ca;
    };
    std::vector<std::vector<Frame>> frames;  // [site][model]
    std::vector<std::string> site_residues;  // each site's residue name
    // What was made of missing atoms, one line each, "FILE: ...": residues
    // left out and why, a methyl standing alone for its residue, amide H
    // placed, a site's CB placed, nuclei some models lack.
    std::vector<std::string> warnings;
};

// Throws Failure "FILE: reason" for a site that is not in the structure or
// lacks the atoms of its frame, or for no nucleus at all. For amide H, a
// residue without one gets one placed (place_amide_hydrogens) where it can.
Geometry geometry(const Structure& st, const PredictOptions& opt, const std::string& path);

// A residue that has N and CA but no amide H, and got none placed.
struct AmideGap {
    const Residue* residue = nullptr;
    std::string why;
};

inline constexpr double kAmideNH = 1.01;      // A, the N-H bond (neutron value 1.009, Allen 1986, Acta Cryst B42:515)
inline constexpr double kPeptideBondMax = 2.0;  // A: a longer C(i-1)-N is a chain break, not a bond

// Gives each residue of the model that has N and CA but neither H nor HN an
// amide H (named H) by ideal geometry: kAmideNH from N on the bisector of
// the directions C(i-1)->N and CA->N, so in the peptide plane, away from
// both. None on Pro, on a chain's first residue (no residue of its chain
// before it in the file), or where the C before is missing, more than
// kPeptideBondMax from N, or in line with N and CA; those go to `gaps`
// (when given) with the reason, but for Pro and a chain's first residue.
// Returns the number of H placed.
int place_amide_hydrogens(Model& m, std::vector<AmideGap>* gaps = nullptr);

// v in the shortest digits that read back exactly ("4", "0.1").
std::string number_text(double v);

// Warnings for --field and --tau-c values that no protein sample shows,
// the likely sign of another unit (tesla for MHz, s or us for ns); empty
// when both are plausible.
std::vector<std::string> unit_warnings(const PredictOptions& opt);

// <r^-6> of nucleus n, in A^-6: over each model's label points and the
// nucleus's atoms, then over the models that hold it; 0 where none does.
double mean_r6(const Geometry& g, size_t n, const std::vector<std::vector<Point>>& points);
// The same for one point per model (a fitted centre), over the first
// `models` models (0: all).
double mean_r6(const Geometry& g, size_t n, const std::vector<Point>& one_per_model, size_t models = 0);

// A point given in a site's frame, in a model's coordinates.
Point in_frame(const Geometry::Frame& f, const Point& u);

struct Prediction {
    std::vector<Nucleus> nuclei;
    std::vector<std::vector<double>> gamma2;  // [site][nucleus], s^-1
    std::vector<std::string> notes;           // one line per site: nuclei, label, models
    std::vector<std::string> warnings;        // the geometry's, "FILE: ..."
};

// Throws Failure "FILE: reason" for a site that is not in the structure or
// lacks the atoms its label needs, an empty cloud, or no nucleus at all.
Prediction predict(const Structure& st, const PredictOptions& opt, const std::string& path);

// The simulated-profile file: one profile per site, each nucleus a record
// "residue Gamma2 type", Gamma2 in the shortest digits that read back exactly.
std::string simulated_profiles_text(const Prediction& p);
