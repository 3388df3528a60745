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
    double x = 0, y = 0, z = 0;  // angstrom, finite
};

struct Residue {
    std::string chain;
    int number = 0;
    char icode = ' ';        // insertion code, ' ' for none
    std::string name;        // "LEU"
    bool water = false;      // HOH, WAT, DOD or H2O
    std::vector<Atom> atoms;  // the first alternative location of each atom

    // The atom named so, or nullptr.
    const Atom* find(const std::string& atom) const;
};

struct Model {
    std::vector<Residue> residues;  // polymer and other residues, in file order
};

struct Structure {
    std::vector<Model> models;          // every whole model of an ensemble; at least one
    std::vector<std::string> warnings;  // "FILE: ...", for the caller to print as warnings
};

// Reads a file, plain or gzipped (told by its content). Throws Failure
// "FILE: reason" when the file cannot be read, is empty or a directory, or
// holds no atoms, and "FILE:LINE: reason" for an atom whose coordinate is
// not a finite number. A last model with fewer atoms than every model
// before it (a file cut inside it) is left out, with a warning, as is a
// PDB file holding fewer models than its NUMMDL record says.
Structure read_structure(const std::string& path);

// The same for a file's bytes, already uncompressed; `path` names it in
// messages.
Structure parse_structure(const std::string& bytes, const std::string& path);
