// A protein structure as plain data: models of residues of atoms, read from
// PDB or mmCIF, plain or gzipped. The library that parses these formats is
// kept behind this one header: its own headers take close to a minute to
// compile.
#pragma once

#include <string>
#include <vector>

struct Atom {
    std::string name;  // as the file gives it: "CA", "CD1", "H"
    bool hydrogen = false;
    double x = 0, y = 0, z = 0;  // angstrom
};

struct Residue {
    std::string chain;
    int number = 0;
    char icode = ' ';        // insertion code, ' ' for none
    std::string name;        // "LEU"
    std::vector<Atom> atoms;  // the first alternative location of each atom

    // The atom named so, or nullptr.
    const Atom* find(const std::string& atom) const;
};

struct Model {
    std::vector<Residue> residues;  // polymer and other residues, in file order
};

struct Structure {
    std::vector<Model> models;  // every model of an ensemble; at least one
};

// Throws Failure "FILE: reason" when the file cannot be read or holds no atoms.
Structure read_structure(const std::string& path);
