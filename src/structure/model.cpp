// The only file that includes gemmi: PDB and mmCIF, plain or gzipped, by
// the library the field uses, copied into plain structs.
#include "structure/model.h"

#include <gemmi/gz.hpp>
#include <gemmi/mmread.hpp>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

#include "io/failure.h"

const Atom* Residue::find(const std::string& atom) const {
    for (const Atom& a : atoms)
        if (a.name == atom) return &a;
    return nullptr;
}

Structure read_structure(const std::string& path) {
    // gemmi's own message for a missing file names no reason; ours does.
    if (!std::ifstream(path)) throw Failure{kStatusInput, path + ": " + std::strerror(errno)};
    gemmi::Structure st;
    try {
        st = gemmi::read_structure(gemmi::MaybeGzipped(path), gemmi::CoorFormat::Detect);
    } catch (const std::exception& e) {
        throw Failure{kStatusInput, path + ": not a structure that can be read (" + e.what() + ")"};
    }
    Structure out;
    for (const gemmi::Model& gm : st.models) {
        Model m;
        for (const gemmi::Chain& ch : gm.chains)
            for (const gemmi::Residue& gr : ch.residues) {
                Residue r;
                r.chain = ch.name;
                r.number = gr.seqid.num.value;
                r.icode = gr.seqid.icode;
                r.name = gr.name;
                for (const gemmi::Atom& ga : gr.atoms) {
                    // The first alternative location only.
                    if (ga.altloc != '\0' && r.find(ga.name)) continue;
                    Atom a;
                    a.name = ga.name;
                    a.hydrogen = ga.is_hydrogen();
                    a.x = ga.pos.x;
                    a.y = ga.pos.y;
                    a.z = ga.pos.z;
                    r.atoms.push_back(a);
                }
                m.residues.push_back(std::move(r));
            }
        if (!m.residues.empty()) out.models.push_back(std::move(m));
    }
    if (out.models.empty()) throw Failure{kStatusInput, path + ": holds no atoms"};
    return out;
}
