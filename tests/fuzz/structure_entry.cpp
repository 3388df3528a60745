#include "structure_entry.h"

#include <cmath>
#include <string>

#include "io/failure.h"
#include "profiles/reader.h"
#include "structure/predict.h"

namespace {

constexpr const char* kName = "s.pdb";

void check_failure(const Failure& f) {
    if (f.message.compare(0, std::string(kName).size() + 1, std::string(kName) + ":") != 0) __builtin_trap();
}

}  // namespace

void fuzz_structure_one(const uint8_t* data, size_t size) {
    Structure st;
    try {
        st = parse_structure(std::string(reinterpret_cast<const char*>(data), size), kName);
    } catch (const Failure& f) {
        check_failure(f);
        return;
    }
    if (st.models.empty()) __builtin_trap();
    for (const Model& m : st.models)
        for (const Residue& r : m.residues)
            for (const Atom& a : r.atoms)
                if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(a.z)) __builtin_trap();
    // The first two residues that have a CA, as sites.
    PredictOptions o;
    for (const Residue& r : st.models[0].residues) {
        if (!r.find("CA") || o.sites.size() == 2) continue;
        SiteName s;
        s.chain = r.chain;
        s.number = r.number;
        s.icode = r.icode;
        s.text = r.chain + ":" + std::to_string(r.number);
        o.sites.push_back(s);
    }
    if (o.sites.empty()) return;
    o.untyped = true;
    o.label_distance = 3.0;  // a small cloud: the fuzzer's time is for the reader
    static auto sim = make_table();
    for (int variant = 0; variant < 4; ++variant) {
        o.nuclei = variant & 1 ? Nuclei::Amide : Nuclei::Methyl;
        o.methyl = variant & 1 ? MethylChoice::Mean : MethylChoice::Each;
        o.label = variant & 2 ? LabelModel::Cloud : LabelModel::Pseudo;
        try {
            const Prediction p = predict(st, o, kName);
            for (const std::vector<double>& site : p.gamma2)
                for (double g : site)
                    if (!std::isfinite(g) || g < 0) __builtin_trap();
            if (p.nuclei.size() > size_t(kMaxEntries)) continue;
            const ReadResult back = read_simulated(simulated_profiles_text(p), "sim", *sim);
            if (back.profiles != int(o.sites.size())) __builtin_trap();
        } catch (const Failure& f) {
            check_failure(f);
        }
    }
}
