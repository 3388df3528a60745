// preassign label: the peak list again, in Sparky's format, each peak
// labelled with its residue where the posterior is sure enough, so that the
// assignments load straight into the viewer.
#include <charconv>
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
            for (size_t i = 0; i < r.cells.size(); ++i) col[r.cells[i]] = i;
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
    app.add_option("--nuclei", nuclei, "methyl (labels L23C-H) or amide (23N-H); default methyl")
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
    for (const Row& r : table) by_peak[r.cells[tcol["peak_id"]]] = &r;
    auto type_of = [&](const std::string& residue) {
        const auto it = types.find(residue);
        return it == types.end() ? 0 : it->second;
    };

    std::optional<OutputFile> file;
    if (!output.empty()) file.emplace(output);
    std::string text = "      Assignment         w1         w2   Note\n\n";
    int labelled = 0, missing = 0;
    for (const Row& m : map) {
        const std::string& id = m.cells[mcol["peak_id"]];
        std::string label = "?-?", note = "not in the table";
        const auto it = by_peak.find(id);
        if (it == by_peak.end()) {
            ++missing;
        } else {
            const Row& t = *it->second;
            const std::string& residue = t.cells[tcol["posterior_residue_number"]];
            const std::string& p = t.cells[tcol["posterior_probability"]];
            const std::string& next = t.cells[tcol["posterior_runner_up_residue_number"]];
            const std::string& q = t.cells[tcol["posterior_runner_up_probability"]];
            double prob = 0.0;
            std::from_chars(p.data(), p.data() + p.size(), prob);
            if (p.empty()) {
                note = "no probability";
            } else {
                note = "p=" + p.substr(0, 5) + " " + (residue.empty() ? "none" : residue);
                if (!next.empty()) note += " next=" + next + " p=" + q.substr(0, 5);
                if (!residue.empty() && prob >= least) {
                    label = label_of(residue, type_of(residue), nuclei == "amide");
                    ++labelled;
                }
            }
        }
        char row[160];
        std::snprintf(row, sizeof row, "%16s %10s %10s   ", label.c_str(), m.cells[mcol["heavy_ppm"]].c_str(),
                      m.cells[mcol["proton_ppm"]].c_str());
        text += row + note + "\n";
    }
    err << "preassign: label: " << labelled << " of " << int(map.size()) << " peaks labelled at p >= " << least
        << eol;
    if (missing > 0)
        err << "preassign: warning: " << table_path << ": " << missing << " peaks of the map are not in the table" << eol;
    deliver(file, text, out);
    return 0;
}
