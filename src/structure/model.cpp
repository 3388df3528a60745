// The only file that includes gemmi: PDB and mmCIF, plain or gzipped, by
// the library the field uses, copied into plain structs; what it takes on
// trust (a PDB coordinate that is text, a cut ensemble) is checked here.
#include "structure/model.h"

#include <gemmi/mmread.hpp>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
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
    // zlib ends a gzip stream cut short as if it were whole, and says so only here.
    int code = Z_OK;
    gzerror(f, &code);
    gzclose(f);
    if (code == Z_BUF_ERROR) throw Failure{kStatusInput, path + ": the compressed file is cut short"};
    return bytes;
}

// A PDB coordinate field (8 columns) as the format writes it: a decimal
// number, spaces around it and nothing else. gemmi reads the longest number
// the field starts with and 0 for text, so "12.3ab" and "abc" pass there.
bool plain_number(const char* p, int width) {
    int i = 0, end = width;
    while (i < end && p[i] == ' ') ++i;
    while (end > i && (p[end - 1] == ' ' || p[end - 1] == '\r')) --end;  // a CRLF line may end right there
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

struct PdbFacts {
    int nummdl = 0;  // 0 where the file gives none
};

// What of a PDB file reaches gemmi: the records read here (atoms, models,
// TER, END, NUMMDL), each checked, and blank lines in place of the others,
// so that line numbers hold. gemmi's record test shifts each byte as a
// signed char, which is undefined for bytes above 0x7f; and nothing else in
// the file is used. A coordinate must be a plain number: gemmi reads the
// longest number a field starts with and 0 for text, so "12.3ab" and "abc"
// would pass there. Occupancy and B are blanked: unused, and a huge value
// overflows gemmi's conversion to float.
PdbFacts check_pdb(std::string& bytes, const std::string& path) {
    using gemmi::pdb_impl::is_record_type;
    PdbFacts facts;
    int number = 0;
    for (size_t start = 0; start < bytes.size();) {
        ++number;
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        char* const line = bytes.data() + start;
        const size_t len = end - start;
        const auto text = [&](size_t from, size_t n) {
            return from >= len ? std::string() : std::string(line + from, std::min(n, len - from));
        };
        char head[9] = {0};
        bool ascii_head = true;
        for (size_t i = 0; i < 8 && i < len; ++i) {
            ascii_head = ascii_head && static_cast<unsigned char>(line[i]) < 0x80;
            head[i] = line[i];
        }
        const bool atom = ascii_head && (is_record_type(head, "ATOM") || is_record_type(head, "HETATM"));
        const bool kept = atom || (ascii_head && (is_record_type(head, "MODEL") || is_record_type(head, "ENDMDL") ||
                                                  is_record_type(head, "NUMMDL") ||
                                                  gemmi::pdb_impl::is_record_type3(head, "TER") ||
                                                  gemmi::pdb_impl::is_record_type3(head, "END")));
        if (!kept) {
            std::fill(line, line + len, ' ');
            start = end + 1;
            continue;
        }
        if (gemmi::pdb_impl::is_record_type3(head, "END")) break;  // gemmi reads no further
        for (size_t i = 0; i < len; ++i)
            if (static_cast<unsigned char>(line[i]) >= 0x80 || line[i] == '\0') {
                std::string record = text(0, 6);
                record.erase(record.find_last_not_of(' ') + 1);
                throw Failure{kStatusInput, path + ":" + std::to_string(number) + ": the " + record +
                                                " record holds a byte that is not text (column " +
                                                std::to_string(i + 1) + ")"};
            }
        if (is_record_type(head, "NUMMDL")) facts.nummdl = std::atoi(text(10, 4).c_str());
        if (atom && len >= 54) {
            for (int k = 0; k < 3; ++k) {
                const char* field = line + 30 + 8 * k;
                if (plain_number(field, 8)) continue;
                std::string value(field, 8);
                value.erase(0, value.find_first_not_of(" \r"));
                value.erase(value.find_last_not_of(" \r") + 1);
                std::string residue = text(22, 5);
                residue.erase(0, residue.find_first_not_of(' '));
                residue.erase(residue.find_last_not_of(" \r") + 1);
                std::string name = text(12, 4), chain = text(20, 2);
                name.erase(0, name.find_first_not_of(' '));
                name.erase(name.find_last_not_of(' ') + 1);
                chain.erase(0, chain.find_first_not_of(' '));
                chain.erase(chain.find_last_not_of(' ') + 1);
                throw Failure{kStatusInput, path + ":" + std::to_string(number) + ": atom " + name + " of residue " +
                                                chain + ":" + residue + " has a coordinate that is not a number ('" +
                                                value + "')"};
            }
            for (size_t c = 54; c < std::min<size_t>(len, 66); ++c)
                if (line[c] != '\r') line[c] = ' ';
        }
        start = end + 1;
    }
    return facts;
}

// The line of an mmCIF atom_site row, found by its id (rows are one line
// each in files as written); 0 where none is found.
int cif_line_of(const std::string& bytes, const std::string& id) {
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

// What of an mmCIF document reaches gemmi: the first block's
// _atom_site, the only category used. gemmi reads integers without a check
// for overflow (a residue number of 12 digits wraps around silently) and
// converts occupancy and B to float (a huge value overflows): integers of
// more than 9 digits are refused, occupancy and B, unused, left out.
void check_cif(gemmi::cif::Document& doc, const std::string& bytes, const std::string& path) {
    if (doc.blocks.empty()) return;
    for (size_t i = 1; i < doc.blocks.size(); ++i)
        if (doc.blocks[i].has_tag("_atom_site.id"))
            throw Failure{kStatusInput, path + ": not a structure that can be read (coordinates in block " +
                                            std::to_string(i + 1) + ", where the first is read)"};
    doc.blocks.resize(1);
    std::vector<gemmi::cif::Item>& items = doc.blocks[0].items;
    const auto atom_site = [](const std::string& tag) { return gemmi::istarts_with(tag, "_atom_site."); };
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const gemmi::cif::Item& it) {
                                   if (it.type == gemmi::cif::ItemType::Pair) return !atom_site(it.pair[0]);
                                   if (it.type == gemmi::cif::ItemType::Loop)
                                       return it.loop.tags.empty() || !atom_site(it.loop.tags[0]);
                                   return true;
                               }),
                items.end());
    // Each value with its tag, and the id of its row (for the line).
    const auto check = [&](const std::string& tag, std::string& value, const std::string& id) {
        const std::string name = gemmi::to_lower(tag.substr(std::strlen("_atom_site.")));
        if (name == "occupancy" || name == "b_iso_or_equiv") {
            value = "?";
            return;
        }
        if (name != "id" && name != "label_seq_id" && name != "auth_seq_id" && name != "pdbx_formal_charge" &&
            name != "pdbx_tls_group_id")
            return;
        size_t run = 0, longest = 0;
        for (char c : value) longest = std::max(longest, run = gemmi::is_digit(c) ? run + 1 : 0);
        if (longest <= 9) return;
        const int line = cif_line_of(bytes, id);
        throw Failure{kStatusInput, path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + tag +
                                        " '" + value + "' is a number too large for a structure"};
    };
    for (gemmi::cif::Item& it : items) {
        if (it.type == gemmi::cif::ItemType::Pair) {
            check(it.pair[0], it.pair[1], std::string());
            continue;
        }
        gemmi::cif::Loop& loop = it.loop;
        const size_t width = loop.tags.size();
        const int id_at = loop.find_tag("_atom_site.id");
        for (size_t row = 0; width > 0 && row + width <= loop.values.size(); row += width) {
            const std::string id = id_at >= 0 ? loop.values[row + size_t(id_at)] : std::string();
            for (size_t k = 0; k < width; ++k) check(loop.tags[k], loop.values[row + k], id);
        }
    }
}

}  // namespace

Structure parse_structure(const std::string& bytes_in, const std::string& path) {
    if (bytes_in.empty()) throw Failure{kStatusInput, path + ": empty file"};
    std::string bytes = bytes_in;
    // A byte-order mark from an editor: not part of either format.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.replace(0, 3, "   ");
    // gemmi tells the format by the first byte that is not white space or
    // in a comment, and shifts it as a signed char (undefined above 0x7f).
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '#') {
            i = std::min(bytes.find('\n', i), bytes.size());
        } else if (c >= 0x80) {
            throw Failure{kStatusInput, path + ": not a structure that can be read (it begins with a byte that is "
                                               "not text)"};
        } else if (!std::isspace(c)) {
            break;
        }
    }
    const gemmi::CoorFormat format = gemmi::coor_format_from_content(bytes.data(), bytes.data() + bytes.size());
    PdbFacts facts;
    if (format == gemmi::CoorFormat::Pdb) facts = check_pdb(bytes, path);
    gemmi::Structure st;
    try {
        if (format == gemmi::CoorFormat::Pdb) {
            st = gemmi::read_pdb_from_memory(bytes.data(), bytes.size(), path);
        } else if (format == gemmi::CoorFormat::Mmcif) {
            gemmi::cif::Document doc = gemmi::cif::read_memory(bytes.data(), bytes.size(), path.c_str());
            check_cif(doc, bytes, path);
            st = gemmi::make_structure(doc);
        } else if (format == gemmi::CoorFormat::Mmjson) {
            // gemmi 0.5.7 takes a category of empty arrays for a loop it
            // never made (undefined behaviour); the format is not one the
            // lab writes.
            gemmi::fail("mmJSON is not read here: give PDB or mmCIF");
        } else {
            gemmi::fail("wrong format of coordinate file " + path);
        }
    } catch (const Failure&) {
        throw;
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
                        const int line = format == gemmi::CoorFormat::Pdb ? 0 : cif_line_of(bytes, std::to_string(ga.serial));
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
    // What it holds is the start of the model before it; a model that lacks
    // an atom in its middle is an ensemble's own, averaged where it has them.
    const auto starts_like = [](const Model& cut, const Model& whole) {
        if (cut.residues.empty() || cut.residues.size() > whole.residues.size()) return false;
        for (size_t i = 0; i < cut.residues.size(); ++i) {
            const Residue &a = cut.residues[i], &b = whole.residues[i];
            const bool last = i + 1 == cut.residues.size();
            if (a.chain != b.chain || a.number != b.number || a.icode != b.icode || a.name != b.name) return false;
            if (a.atoms.size() > b.atoms.size() || (!last && a.atoms.size() != b.atoms.size())) return false;
            for (size_t k = 0; k < a.atoms.size(); ++k)
                if (a.atoms[k].name != b.atoms[k].name) return false;
        }
        return true;
    };
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
        if (last < fewest && starts_like(out.models.back(), out.models[present - 2])) {
            cut = true;
            out.warnings.push_back(path + ": the last model (" + std::to_string(present) + ") has " +
                                   std::to_string(last) + " atoms where each before it has at least " +
                                   std::to_string(fewest) + ": the file looks cut inside it; that model is left out, " +
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
