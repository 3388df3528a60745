// What metals give each nucleus of a structure: the PCS of its 1H and of its
// heavy atom (15N of an amide, 13C of a methyl) and the metal's PRE of its
// 1H, each averaged over the nucleus's atoms and the models, as PREs are.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "metal/tensor.h"
#include "structure/model.h"
#include "structure/predict.h"

namespace metal {

// Where a metal sits: at an atom ("A:77:CA"), at a point ("25.8,9.5,6.6",
// A), or on a tag at a residue ("A:40"), where its place is to be fitted.
struct Place {
    enum class Kind { Atom, Point, Tag };
    Kind kind = Kind::Point;
    SiteName residue;   // Atom, Tag
    std::string atom;   // Atom
    Point at;           // Point
    std::string text;   // as given
};

// Throws Failure (usage) "what: 'TEXT' is not a metal's place: ..." for any
// other form.
Place parse_place(const std::string& text, const std::string& what);

// The metal in each model: the atom's own position in each, or the point in
// all. Throws Failure "FILE: reason" for an atom or residue not in the
// structure, and for a tag (its place is fitted, not given).
std::vector<Point> positions(const Structure& st, const Place& p, const std::string& path);

// Where a nucleus's 1H or heavy atom is, atom k of nucleus n in model m.
const Point& proton_at(const Geometry& g, bool amide, size_t n, size_t m, int k);
const Point& heavy_at(const Geometry& g, bool amide, size_t n, size_t m, int k);

// The coefficients of the tensor's five elements in nucleus n's PCS (ppm
// per 1e-32 m^3), its 1H's or its heavy atom's, averaged over its atoms and
// the models that hold it, the metal at metal[m] in model m (models:
// metal.size()). Zeros where no model holds the nucleus.
std::array<double, 5> pcs_row(const Geometry& g, bool amide, bool heavy, size_t n, const std::vector<Point>& metal);

// <r^-6> of nucleus n's 1H from the metal, A^-6, as mean_r6 averages.
double proton_r6(const Geometry& g, bool amide, size_t n, const std::vector<Point>& metal);

// One metal as predict takes it: its tensor and its place in each model.
struct Metal {
    Tensor tensor;
    std::vector<Point> at;  // per model
    std::string name;       // as given, for notes
};

// PCS profiles, two per metal (1H, then the heavy atom), ppm; or with
// `relaxation`, the metals' PREs of the 1H, one profile per metal, s^-1,
// at field_t tesla.
Prediction predict_metals(const Geometry& g, const PredictOptions& o, const std::vector<Metal>& metals,
                          bool relaxation, double field_t);

}  // namespace metal
