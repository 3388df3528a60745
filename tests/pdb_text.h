// Structures as PDB text for the tests that write their own: atom records,
// models, a site residue; and <r^-6> between two points by hand.
#pragma once

#include <cstdio>
#include <string>

struct Xyz {
    double x, y, z;
};

inline std::string coord(double v) {
    char b[16];
    std::snprintf(b, sizeof b, "%8.3f", v);
    return b;
}

// PDB records, one model after another; a coordinate may be given as the
// text of its field.
struct Pdb {
    std::string text;
    int serial = 1;
    void atom(const char* name, const char* res, int num, Xyz p, const char* element = "C", char chain = 'A',
              char icode = ' ', const char* record = "ATOM  ") {
        atom_text(name, res, num, coord(p.x), coord(p.y), coord(p.z), element, chain, icode, record);
    }
    void atom_text(const char* name, const char* res, int num, const std::string& x, const std::string& y,
                   const std::string& z, const char* element = "C", char chain = 'A', char icode = ' ',
                   const char* record = "ATOM  ") {
        char line[120];
        std::snprintf(line, sizeof line, "%s%5d %-4s %3s %c%4d%c   %8s%8s%8s  1.00  0.00          %2s\n", record,
                      serial++, name, res, chain, num, icode, x.c_str(), y.c_str(), z.c_str(), element);
        text += line;
    }
    void line(const std::string& l) { text += l + "\n"; }
    void model(int n) { text += "MODEL     " + std::to_string(n) + "\n"; }
    void end_model() { text += "ENDMDL\n"; }
    // A site: Ala with CA at `ca`, CB 1.5 A along -y, N and C beside.
    void site(int num, Xyz ca, char chain = 'A') {
        atom("N", "ALA", num, {ca.x - 1, ca.y + 1, ca.z}, "N", chain);
        atom("CA", "ALA", num, ca, "C", chain);
        atom("C", "ALA", num, {ca.x + 1, ca.y + 1, ca.z}, "C", chain);
        atom("CB", "ALA", num, {ca.x, ca.y - 1.5, ca.z}, "C", chain);
    }
    void leu(int num, Xyz cd1, Xyz cd2, char chain = 'A', char icode = ' ') {
        atom("CA", "LEU", num, {cd1.x, cd1.y + 3, cd1.z}, "C", chain, icode);
        atom("CD1", "LEU", num, cd1, "C", chain, icode);
        atom("CD2", "LEU", num, cd2, "C", chain, icode);
    }
};

inline double r6(Xyz a, Xyz b) {
    const double d2 = (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z);
    return 1.0 / (d2 * d2 * d2);
}
