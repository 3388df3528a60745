// The only file that includes gemmi: PDB and mmCIF, plain or gzipped, by
// the library the field uses, copied into plain structs; what it takes on
// trust (a PDB coordinate that is text, a cut ensemble) is checked here.
#include "structure/model.h"

#include <gemmi/mmread.hpp>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <string_view>

#include "io/failure.h"

const Atom* Residue::find(const std::string& atom) const {
    for (const Atom& a : atoms)
        if (a.name == atom) return &a;
    return nullptr;
}

namespace {

// The whole file, uncompressed where it is gzipped; zlib passes a plain
// file through unchanged.
std::string file_bytes(const std::string& path) {
    struct stat s;
    if (::stat(path.c_str(), &s) != 0) throw Failure{kStatusInput, path + ": " + std::strerror(errno)};
    if (S_ISDIR(s.st_mode)) throw Failure{kStatusInput, path + ": " + std::strerror(EISDIR)};
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) throw Failure{kStatusInput, path + ": " + std::strerror(errno ? errno : ENOMEM)};
    std::string bytes;
    char buf[1 << 16];
    for (;;) {
        const int n = gzread(f, buf, sizeof buf);
        if (n < 0) {
            int code = 0;
            const char* why = gzerror(f, &code);
            const std::string reason = code == Z_ERRNO ? std::strerror(errno) : why;
            gzclose(f);
            throw Failure{kStatusInput, path + ": " + reason};
        }
        if (n == 0) break;
        bytes.append(buf, size_t(n));
    }
    gzclose(f);
    return bytes;
}

// A PDB coordinate field (8 columns) as the format writes it: a decimal
// number, spaces around it and nothing else. gemmi reads the longest number
// the field starts with and 0 for text, so "12.3ab" and "abc" pass there.
bool plain_number(const char* p, int width) {
    int i = 0, end = width;
    while (i < end && p[i] == ' ') ++i;
    while (end > i && p[end - 1] == ' ') --end;
    if (i < end && (p[i] == '+' || p[i] == '-')) ++i;
    int digits = 0;
    while (i < end && gemmi::is_digit(p[i])) ++i, ++digits;
    if (i < end && p[i] == '.') ++i;
    while (i < end && gemmi::is_digit(p[i])) ++i, ++digits;
    if (digits == 0) return false;
    if (i < end && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        if (i < end && (p[i] == '+' || p[i] == '-')) ++i;
        int exp_digits = 0;
        while (i < end && gemmi::is_digit(p[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == end;
}

std::string residue_text(const std::string& chain, int number, char icode) {
    std::string s = chain + ":" + std::to_string(number);
    if (icode != ' ' && icode != '\0') s += icode;
    return s;
}

// gemmi's MemoryStream, with the place it has read to in view: records
// are split exactly as its PDB reader splits them, and their lines counted.
struct LineStream {
    const char *cur, *end;
    char* gets(char* line, int size) {
        --size;
        if (cur >= end) return nullptr;
        if (size > end - cur) size = int(end - cur);
        const char* nl = static_cast<const char*>(std::memchr(cur, '\n', size_t(size)));
        const size_t len = nl ? size_t(nl - cur + 1) : size_t(size);
        std::memcpy(line, cur, len);
        line[len] = '\0';
        cur += len;
        return line;
    }
    int getc() { return cur < end ? *cur++ : EOF; }
};

struct PdbFacts {
    int nummdl = 0;  // 0 where the file gives none
};

// Goes over the PDB records gemmi reads, split into lines as it splits them,
// and refuses an atom record whose coordinate is not a plain number.
// Unused fields that gemmi would convert to float (occupancy, B) are blanked
// in `bytes`: a huge value there overflows the conversion inside gemmi.
PdbFacts check_pdb(std::string& bytes, const std::string& path) {
    PdbFacts facts;
    LineStream in{bytes.data(), bytes.data() + bytes.size()};
    char line[122] = {0};
    int number = 1;  // the file's line at `in.cur`
    const char* counted = bytes.data();
    while (true) {
        const char* start = in.cur;
        number += int(std::count(counted, start, '\n'));
        counted = start;
        const size_t len = gemmi::copy_line_from_stream(line, 121, in);
        if (len == 0) break;
        using gemmi::pdb_impl::is_record_type;
        if (gemmi::pdb_impl::is_record_type3(line, "END")) break;
        if (is_record_type(line, "NUMMDL")) {
            facts.nummdl = gemmi::pdb_impl::read_int(line + 10, 4);
        } else if ((is_record_type(line, "ATOM") || is_record_type(line, "HETATM")) && len >= 55) {
            for (int k = 0; k < 3; ++k) {
                const char* field = line + 30 + 8 * k;
                if (plain_number(field, 8)) continue;
                const gemmi::SeqId id = gemmi::pdb_impl::read_seq_id(line + 22);
                std::string text(field, 8);
                text = text.substr(0, text.find_first_of("\r\n"));
                text.erase(0, text.find_first_not_of(' '));
                text.erase(text.find_last_not_of(' ') + 1);
                throw Failure{kStatusInput,
                              path + ":" + std::to_string(number) + ": atom " + gemmi::pdb_impl::read_string(line + 12, 4) +
                                  " of residue " +
                                  residue_text(gemmi::pdb_impl::read_string(line + 20, 2), id.num.value, id.icode) +
                                  " has a coordinate that is not a number ('" + text + "')"};
            }
            char* record = bytes.data() + (start - bytes.data());
            for (size_t c = 54; c < std::min<size_t>(len, 66); ++c)
                if (record[c] != '\n' && record[c] != '\r') record[c] = ' ';
        }
    }
    return facts;
}

// The line of an mmCIF atom_site row, found by its id (rows are one line
// each in files as written); 0 where none is found.
int cif_line_of(const std::string& bytes, int serial) {
    const std::string id = std::to_string(serial);
    int number = 1;
    for (size_t start = 0; start < bytes.size(); ++number) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view row(bytes.data() + start, end - start);
        for (const char* group : {"ATOM", "HETATM"}) {
            const size_t g = std::strlen(group);
            if (row.size() > g && row.compare(0, g, group) == 0 && (row[g] == ' ' || row[g] == '\t')) {
                const size_t a = row.find_first_not_of(" \t", g);
                const size_t b = a == std::string_view::npos ? a : row.find_first_of(" \t\r", a);
                if (a != std::string_view::npos && row.substr(a, b == std::string_view::npos ? b : b - a) == id)
                    return number;
            }
        }
        start = end + 1;
    }
    return 0;
}

}  // namespace

Structure parse_structure(const std::string& bytes_in, const std::string& path) {
    if (bytes_in.empty()) throw Failure{kStatusInput, path + ": empty file"};
    std::string bytes = bytes_in;
    const gemmi::CoorFormat format = gemmi::coor_format_from_content(bytes.data(), bytes.data() + bytes.size());
    PdbFacts facts;
    if (format == gemmi::CoorFormat::Pdb) facts = check_pdb(bytes, path);
    gemmi::Structure st;
    try {
        st = gemmi::read_structure_from_char_array(bytes.data(), bytes.size(), path);
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
                r.water = gr.is_water();
                for (const gemmi::Atom& ga : gr.atoms) {
                    // The first alternative location only.
                    if (ga.altloc != '\0' && r.find(ga.name)) continue;
                    if (!std::isfinite(ga.pos.x) || !std::isfinite(ga.pos.y) || !std::isfinite(ga.pos.z)) {
                        const int line = format == gemmi::CoorFormat::Pdb ? 0 : cif_line_of(bytes, ga.serial);
                        throw Failure{kStatusInput, path + (line > 0 ? ":" + std::to_string(line) : std::string()) +
                                                        ": atom " + ga.name + " of residue " +
                                                        residue_text(r.chain, r.number, r.icode) +
                                                        " has a coordinate that is not a number" +
                                                        (line > 0 ? "" : " (atom " + std::to_string(ga.serial) + ")")};
                    }
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
    // A file cut inside its last model: that model has fewer atoms than any
    // before it, and would pull the mean towards whatever it still holds.
    const auto atoms_of = [](const Model& m) {
        size_t n = 0;
        for (const Residue& r : m.residues) n += r.atoms.size();
        return n;
    };
    const size_t present = out.models.size();
    bool cut = false;
    if (present > 1) {
        size_t fewest = std::numeric_limits<size_t>::max();
        for (size_t i = 0; i + 1 < present; ++i) fewest = std::min(fewest, atoms_of(out.models[i]));
        const size_t last = atoms_of(out.models.back());
        if (last < fewest) {
            cut = true;
            out.warnings.push_back(path + ": the last model (" + std::to_string(present) + ") has " +
                                   std::to_string(last) + " atoms, the others at least " + std::to_string(fewest) +
                                   ": the file looks cut inside it; that model is left out, " +
                                   std::to_string(present - 1) + (present - 1 == 1 ? " model" : " models") +
                                   " used");
            out.models.pop_back();
        }
    }
    if (facts.nummdl > int(present))
        out.warnings.push_back(path + ": NUMMDL says " + std::to_string(facts.nummdl) + " models, the file holds " +
                               std::to_string(present) + (cut ? " (the last cut short)" : "") +
                               ": the file may be cut; " + std::to_string(out.models.size()) +
                               (out.models.size() == 1 ? " model" : " models") + " used");
    return out;
}

Structure read_structure(const std::string& path) { return parse_structure(file_bytes(path), path); }
