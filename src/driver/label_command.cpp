// preassign label: the peak list again, in Sparky's format, each peak
// labelled with its residue where the posterior is sure enough, so that the
// assignments load straight into the viewer.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

#include "driver/cli.h"
#include "driver/commands.h"
#include "io/failure.h"
#include "io/output_file.h"
#include "profiles/reader.h"

namespace {

struct Row {
    std::vector<std::string> cells;
    int line;
};

// A tab-separated file with a header; `need` are the columns it must have.
std::vector<Row> read_tsv(const std::string& path, const std::vector<std::string>& need,
                          std::map<std::string, size_t>& col) {
    const std::string text = load_file(path);
    std::vector<Row> rows;
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        Row r{{}, n};
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            r.cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (col.empty()) {
            // A name given twice would leave the count of columns short of the
            // header's, and rows of that count without the later column.
            for (size_t i = 0; i < r.cells.size(); ++i)
                if (!col.emplace(r.cells[i], i).second)
                    throw Failure{kStatusInput, path + ":" + std::to_string(n) + ": column '" + r.cells[i] +
                                                    "' named twice"};
            for (const std::string& c : need)
                if (!col.count(c))
                    throw Failure{kStatusInput, path + ":" + std::to_string(n) + ": no column '" + c + "'"};
            continue;
        }
        if (r.cells.size() != col.size())
            throw Failure{kStatusInput, path + ":" + std::to_string(n) + ": " + std::to_string(r.cells.size()) +
                                            " cells where the header names " + std::to_string(col.size())};
        rows.push_back(std::move(r));
    }
    if (col.empty()) throw Failure{kStatusInput, path + ": holds no header"};
    return rows;
}

// Residue types by number, from the simulated file's first profile.
std::map<std::string, int> types_from(const std::string& path) {
    auto table = make_table();
    const ReadResult r = read_simulated(load_file(path), path, *table);
    std::map<std::string, int> types;
    for (int i = 0; r.profiles > 0 && i < r.records[0]; ++i)
        types[std::to_string(static_cast<long long>((*table)[0].id[i]))] = (*table)[0].restype[i];
    return types;
}

// A Sparky label: the residue's group (L23, V41, or 23 untyped) and the
// nuclei: a methyl's carbon and protons, or an amide's N and H.
std::string label_of(const std::string& residue, int type, bool amide) {
    if (amide) return residue + "N-H";
    const char* group = type == 1 ? "L" : type == 2 ? "V" : "";
    return group + residue + "C-H";
}

// The length of a label's leading residue name: one or three capitals
// ("L", "LEU"), or none; -1 where the letters are no residue name ("p001",
// "peak12": a peak's name, which names no residue).
long residue_name_length(const std::string& label) {
    size_t i = 0;
    bool capitals = true;
    for (; i < label.size() && std::isalpha(static_cast<unsigned char>(label[i])); ++i)
        if (!std::isupper(static_cast<unsigned char>(label[i]))) capitals = false;
    return capitals && (i == 0 || i == 1 || i == 3) ? long(i) : -1;
}

// The residue number a label names: the digits after a leading residue name
// ("L23CD1-HD1", "LEU3N-HN", a ratio table's "23"); -1 where none.
long residue_in(const std::string& label) {
    const long name = residue_name_length(label);
    if (name < 0) return -1;
    const size_t i = size_t(name);
    long v = -1;
    const auto r = std::from_chars(label.data() + i, label.data() + label.size(), v);
    return r.ec == std::errc() && v >= 0 ? v : -1;
}

// The heavy atom a label names after its residue: 'N' (amide), 'C'
// (methyl), or 0 where it names none ("23", "?-?").
char heavy_atom_in(const std::string& label) {
    size_t i = 0;
    while (i < label.size() && std::isalpha(static_cast<unsigned char>(label[i]))) ++i;
    if (i == 0 || i == label.size()) return 0;
    while (i < label.size() && std::isdigit(static_cast<unsigned char>(label[i]))) ++i;
    return i < label.size() && (label[i] == 'N' || label[i] == 'C') ? label[i] : 0;
}

bool number_in(const std::string& s, double& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

// A table cell that must be empty or a probability; throws "FILE:LINE: ...".
double probability_in(const Row& r, const std::string& cell, const char* column, const std::string& path) {
    double v = -1.0;
    if (!number_in(cell, v) || v < 0.0 || v > 1.0)
        throw Failure{kStatusInput, path + ":" + std::to_string(r.line) + ": " + column + " '" + cell +
                                        "' is not a probability (a number from 0 to 1)"};
    return v;
}

// A probability for the note: as the table gives it, cut to three decimals,
// or in three significant digits where that would show a small one as 0.000.
std::string shown_probability(const std::string& cell, double v) {
    if (cell.find_first_of("eE") == std::string::npos && (v == 0.0 || v >= 0.001)) return cell.substr(0, 5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// 15N amide shifts lie near 100 to 135 ppm, 13C methyl shifts near 8 to 30:
// each map row votes by its heavy shift, else by its label's heavy atom.
// Returns "amide", "methyl", or "" where no row tells.
std::string nuclei_of(const std::vector<Row>& map, size_t heavy, size_t label) {
    int amide = 0, methyl = 0;
    for (const Row& m : map) {
        double ppm;
        const char atom = heavy_atom_in(m.cells[label]);
        if (number_in(m.cells[heavy], ppm))
            ++(ppm >= 60.0 ? amide : methyl);
        else if (atom)
            ++(atom == 'N' ? amide : methyl);
    }
    if (amide == methyl) return amide ? "amide" : "";
    return amide > methyl ? "amide" : "methyl";
}

}  // namespace

int run_label(int argc, const char* const* argv, Out& out, Out& err) {
    std::string map_path, table_path, sim_path, output, nuclei = "methyl";
    double least = 0.9;
    CLI::App app{"The peak list again in Sparky's format, each peak labelled with its most probable residue where the "
                 "posterior reaches a threshold (?-? elsewhere), the probability and the runner-up in a note.",
                 "preassign label"};
    app.add_option("MAP", map_path, "the peak map that import wrote")->required()->check(given());
    app.add_option("TABLE", table_path, "the table of a run with --posterior --table")->required()->check(given());
    app.add_option("--sim", sim_path, "the simulated profiles, to name each residue's type (L, V)")
        ->type_name("FILE")
        ->check(given());
    app.add_option("--min", least, "the least probability a label is given at; default 0.9")
        ->check(given())
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--nuclei", nuclei,
                   "methyl (labels L23C-H) or amide (23N-H); default as the map's shifts or labels tell, else methyl")
        ->check(CLI::IsMember({"methyl", "amide"}));
    app.add_option("-o", output, "write the list to FILE, whole or not at all; default standard output")
        ->type_name("FILE")
        ->check(given());
    if (!parse_command(app, argc, argv, out, "preassign label MAP TABLE")) return 0;
    refuse_clashes({{"-o", output}}, {{"MAP", map_path}, {"TABLE", table_path}, {"--sim", sim_path}});

    std::map<std::string, size_t> mcol, tcol;
    const std::vector<Row> map = read_tsv(map_path, {"peak_id", "label", "heavy_ppm", "proton_ppm"}, mcol);
    const std::vector<Row> table = read_tsv(
        table_path,
        {"peak_id", "posterior_residue_number", "posterior_probability", "posterior_runner_up_residue_number",
         "posterior_runner_up_probability"},
        tcol);
    const std::map<std::string, int> types = sim_path.empty() ? std::map<std::string, int>{} : types_from(sim_path);
    std::map<std::string, const Row*> by_peak;
    for (const Row& r : table) {
        by_peak[r.cells[tcol["peak_id"]]] = &r;
        // Every row's, whether the map names its peak or not.
        for (const char* c : {"posterior_probability", "posterior_runner_up_probability"})
            if (!r.cells[tcol[c]].empty()) probability_in(r, r.cells[tcol[c]], c, table_path);
    }
    auto type_of = [&](const std::string& residue) {
        const auto it = types.find(residue);
        return it == types.end() ? 0 : it->second;
    };

    const bool positions = std::any_of(map.begin(), map.end(), [&](const Row& m) {
        return !m.cells[mcol["heavy_ppm"]].empty() || !m.cells[mcol["proton_ppm"]].empty();
    });
    const std::string told = nuclei_of(map, mcol["heavy_ppm"], mcol["label"]);
    if (app.count("--nuclei") == 0) {
        if (!told.empty())
            nuclei = told;
        else
            err << "preassign: warning: " << map_path << ": neither shifts nor labels tell methyls from amides: "
                << "labels are written for methyls (give --nuclei amide for amide peaks)" << eol;
    } else if (!told.empty() && told != nuclei) {
        err << "preassign: warning: " << map_path << ": the shifts or labels are those of " << told
            << " peaks, but --nuclei " << nuclei << " is given: labels are written for " << nuclei << "s" << eol;
    }

    std::optional<OutputFile> file;
    if (!output.empty()) file.emplace(output);
    std::string text = "      Assignment         w1         w2   Note\n\n";
    int labelled = 0, missing = 0, disagree = 0;
    std::string first_disagree;
    for (const Row& m : map) {
        const std::string& id = m.cells[mcol["peak_id"]];
        const std::string& own = m.cells[mcol["label"]];
        const bool own_given = !own.empty() && own != "?-?";
        // A ratio table's peaks have no shifts: its own label (or the peak
        // id) stands in, so that the list can be matched back to the table.
        std::string label = own_given ? own : positions ? "?-?" : "peak" + id;
        std::string note = "not in the table", posterior_residue;
        const auto it = by_peak.find(id);
        if (it == by_peak.end()) {
            ++missing;
        } else {
            const Row& t = *it->second;
            const std::string& residue = t.cells[tcol["posterior_residue_number"]];
            const std::string& p = t.cells[tcol["posterior_probability"]];
            const std::string& next = t.cells[tcol["posterior_runner_up_residue_number"]];
            const std::string& q = t.cells[tcol["posterior_runner_up_probability"]];
            if (p.empty()) {
                note = "no probability";
            } else {
                const double prob = probability_in(t, p, "posterior_probability", table_path);
                note = "p=" + shown_probability(p, prob) + " " + (residue.empty() ? "none" : residue);
                if (!next.empty() && !q.empty())
                    note += " next=" + next + " p=" +
                            shown_probability(q, probability_in(t, q, "posterior_runner_up_probability", table_path));
                posterior_residue = residue;
                // The list's own label stays where it names the residue the posterior is sure of.
                if (!residue.empty() && prob >= least) {
                    if (!own_given || !heavy_atom_in(own) || residue_in(own) != residue_in(residue))
                        label = label_of(residue, type_of(residue), nuclei == "amide");
                    ++labelled;
                }
            }
        }
        if (own_given) {
            if (!posterior_residue.empty() && residue_in(own) >= 0 && residue_in(own) != residue_in(posterior_residue)) {
                note += " list=" + own + " disagrees";
                if (disagree++ == 0) first_disagree = id;
            } else if (label != own) {
                note += " list=" + own;
            }
        }
        auto shift = [&](const char* column) {
            const std::string& c = m.cells[mcol[column]];
            return c.empty() ? std::string("0.000") : c;
        };
        char row[160];
        std::snprintf(row, sizeof row, "%16s %10s %10s   ", label.c_str(), shift("heavy_ppm").c_str(),
                      shift("proton_ppm").c_str());
        text += row + note + "\n";
    }
    err << "preassign: label: " << labelled << " of " << int(map.size()) << " peaks labelled at p >= " << least
        << eol;
    if (missing > 0)
        err << "preassign: warning: " << table_path << ": " << missing << " peaks of the map are not in the table" << eol;
    if (!positions && !map.empty())
        err << "preassign: warning: " << map_path << ": no shifts (a ratio table's map): w1 and w2 are written as "
            << "0.000, and a peak left unlabelled keeps its own label from the table (or peakID)" << eol;
    if (disagree > 0)
        err << "preassign: warning: " << disagree << " peaks whose own label in " << map_path
            << " names another residue than the posterior's most probable (the first: peak " << first_disagree
            << "): see 'disagrees' in their notes" << eol;
    deliver(file, text, out);
    return 0;
}
