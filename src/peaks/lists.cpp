// Lines are split on white space; a header names the columns, and each row
// is read by those names, so optional columns may come in any order.
#include "peaks/lists.h"

#include <charconv>
#include <cmath>
#include <map>

#include "io/failure.h"

namespace {

[[noreturn]] void fail(const std::string& path, int line, const std::string& why) {
    throw Failure{kStatusInput, path + ":" + std::to_string(line) + ": " + why};
}

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.emplace_back(line.substr(start, i - start));
    }
    return out;
}

// A number as a list writes it ("+8.12e+05" included); false otherwise.
bool number(const std::string& s, double& v) {
    const char* first = s.data() + (!s.empty() && s[0] == '+' ? 1 : 0);
    const char* last = s.data() + s.size();
    const auto r = std::from_chars(first, last, v);
    return r.ec == std::errc() && r.ptr == last && std::isfinite(v);
}

struct Line {
    int number;
    std::string_view text;
};

std::vector<Line> lines_of(std::string_view text) {
    std::vector<Line> out;
    size_t start = 0;
    for (int n = 1; start <= text.size(); ++n) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.push_back({n, text.substr(start, end - start)});
        if (end == text.size()) break;
        start = end + 1;
    }
    return out;
}

bool unassigned(const std::string& label) {
    return label.empty() || label == "?-?" || label == "?" || label == "None" || label == "*" || label == "-";
}

// Sparky: the header's names, some of two words.
PeakList read_sparky(const std::vector<Line>& lines, size_t header, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::Sparky;
    std::vector<std::string> names;
    const std::vector<std::string> w = words(lines[header].text);
    for (size_t i = 0; i < w.size(); ++i) {
        if (i + 1 < w.size() && ((w[i] == "Data" && w[i + 1] == "Height") || w[i + 1] == "(hz)" || w[i + 1] == "(Hz)")) {
            names.push_back(w[i] + " " + w[i + 1]);
            ++i;
        } else {
            names.push_back(w[i]);
        }
    }
    std::map<std::string, int> col;
    for (size_t i = 0; i < names.size(); ++i) col[names[i]] = int(i);
    const int line_no = lines[header].number;
    if (!col.count("w1") || !col.count("w2"))
        fail(path, line_no, "a Sparky header without w1 and w2 (a 2D list's two shift columns)");
    if (col.count("w3")) fail(path, line_no, "a 3D list (w3): give a 2D list, 13C or 15N in w1 and 1H in w2");
    if (!col.count("Data Height")) fail(path, line_no, "no heights: the list has no 'Data Height' column");
    for (size_t k = header + 1; k < lines.size(); ++k) {
        std::vector<std::string> f = words(lines[k].text);
        if (f.empty()) continue;
        // A volume may be followed by its fit's tag ("ga", "ge"): not a column.
        if (col.count("Volume") && f.size() > names.size()) {
            const size_t v = size_t(col["Volume"]) + 1;
            double x;
            if (v < f.size() && !number(f[v], x)) f.erase(f.begin() + long(v));
        }
        if (f.size() != names.size())
            fail(path, lines[k].number, std::to_string(f.size()) + " fields where the header names " +
                                            std::to_string(names.size()));
        Peak p;
        p.line = lines[k].number;
        if (col.count("Assignment") && !unassigned(f[col["Assignment"]])) p.label = f[col["Assignment"]];
        auto num = [&](const char* name, double& v) {
            if (!number(f[col[name]], v))
                fail(path, p.line, std::string("expected a number (") + name + "), found '" + f[col[name]] + "'");
        };
        num("w1", p.heavy);
        num("w2", p.proton);
        num("Data Height", p.height);
        if (col.count("S/N")) {
            double sn;
            num("S/N", sn);
            if (sn > 0.0) p.noise = std::fabs(p.height) / sn;
        }
        for (const char* lw : {"lw2 (hz)", "lw2 (Hz)"})
            if (col.count(lw)) num(lw, p.width_hz);
        list.peaks.push_back(p);
    }
    return list;
}

// NMRPipe: VARS names the columns; X is 1H unless the DATA lines say otherwise.
PeakList read_nmrpipe(const std::vector<Line>& lines, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::NmrPipe;
    std::vector<std::string> names;
    std::map<std::string, int> col;
    std::string null_string = "*";
    bool x_is_proton = true;
    int vars_line = 0;
    for (const Line& l : lines) {
        const std::vector<std::string> f = words(l.text);
        if (f.empty()) continue;
        if (f[0] == "VARS") {
            names.assign(f.begin() + 1, f.end());
            for (size_t i = 0; i < names.size(); ++i) col[names[i]] = int(i);
            vars_line = l.number;
            continue;
        }
        if (f[0] == "NULLSTRING" && f.size() > 1) null_string = f[1];
        if (f[0] == "DATA" && f.size() > 2 && f[1] == "X_AXIS")
            x_is_proton = f[2].find('H') != std::string::npos && f[2].find('C') == std::string::npos &&
                          f[2].find('N') == std::string::npos;
        if (f[0] == "FORMAT" || f[0] == "REMARK" || f[0] == "DATA" || f[0] == "NULLVALUE" || f[0] == "NULLSTRING" ||
            f[0][0] == '#')
            continue;
        if (names.empty()) fail(path, l.number, "a row before the VARS line that names the columns");
        if (!col.count("X_PPM") || !col.count("Y_PPM"))
            fail(path, vars_line, "VARS names no X_PPM and Y_PPM (the two shift columns)");
        if (!col.count("HEIGHT")) fail(path, vars_line, "no heights: VARS names no HEIGHT column");
        if (f.size() != names.size())
            fail(path, l.number, std::to_string(f.size()) + " fields where VARS names " + std::to_string(names.size()));
        Peak p;
        p.line = l.number;
        auto num = [&](const char* name, double& v) {
            if (!number(f[col[name]], v))
                fail(path, p.line, std::string("expected a number (") + name + "), found '" + f[col[name]] + "'");
        };
        double x, y;
        num("X_PPM", x);
        num("Y_PPM", y);
        p.proton = x_is_proton ? x : y;
        p.heavy = x_is_proton ? y : x;
        num("HEIGHT", p.height);
        if (col.count("DHEIGHT")) {
            num("DHEIGHT", p.noise);
            p.noise = std::fabs(p.noise);
        }
        const char* width = x_is_proton ? "XW_HZ" : "YW_HZ";
        if (col.count(width)) num(width, p.width_hz);
        if (col.count("ASS") && f[col["ASS"]] != null_string && !unassigned(f[col["ASS"]])) p.label = f[col["ASS"]];
        list.peaks.push_back(p);
    }
    if (names.empty()) fail(path, 1, "no VARS line: not an NMRPipe peak table");
    return list;
}

// label ratio [error]; "nan" for no value; '#' starts a comment.
PeakList read_ratios(const std::vector<Line>& lines, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::Ratios;
    list.positions = false;
    for (const Line& l : lines) {
        std::string_view t = l.text.substr(0, l.text.find('#'));
        const std::vector<std::string> f = words(t);
        if (f.empty()) continue;
        if (f.size() > 3) fail(path, l.number, std::to_string(f.size()) + " fields where a ratio table has 2 or 3");
        if (f.size() < 2) fail(path, l.number, "a label without a ratio");
        Peak p;
        p.line = l.number;
        p.label = f[0];
        if (f[1] == "nan" || f[1] == "NaN" || f[1] == "NAN") {
            p.has_value = false;
        } else if (!number(f[1], p.height)) {
            fail(path, l.number, "expected a number (the ratio), found '" + f[1] + "'");
        }
        if (f.size() == 3 && f[2] != "nan" && !number(f[2], p.noise))
            fail(path, l.number, "expected a number (the ratio's error), found '" + f[2] + "'");
        list.peaks.push_back(p);
    }
    return list;
}

}  // namespace

const char* format_name(ListFormat f) {
    switch (f) {
        case ListFormat::Sparky: return "Sparky";
        case ListFormat::NmrPipe: return "NMRPipe";
        case ListFormat::Ratios: return "ratio table";
    }
    return "";
}

PeakList read_peak_list(std::string_view text, const std::string& path, bool ratios) {
    const std::vector<Line> lines = lines_of(text);
    PeakList list;
    bool nmrpipe = false;
    size_t sparky = lines.size();
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::vector<std::string> f = words(lines[k].text);
        if (f.empty()) continue;
        if (f[0] == "VARS") nmrpipe = true;
        if (sparky == lines.size() && f[0] == "Assignment") sparky = k;
    }
    if (ratios) {
        if (nmrpipe || sparky < lines.size())
            fail(path, 1, std::string("a ") + (nmrpipe ? "NMRPipe peak table" : "Sparky list") +
                              " given as a ratio table: give it as --site DIA PARA");
        list = read_ratios(lines, path);
    } else if (nmrpipe && sparky < lines.size()) {
        fail(path, lines[sparky].number, "both a Sparky header and NMRPipe's VARS: which list is it?");
    } else if (nmrpipe) {
        list = read_nmrpipe(lines, path);
    } else if (sparky < lines.size()) {
        list = read_sparky(lines, sparky, path);
    } else {
        fail(path, 1, "neither a Sparky list (an 'Assignment w1 w2 ... Data Height' header) nor an NMRPipe peak "
                      "table (a VARS line); a ratio table is given as --ratios");
    }
    // A label names one peak.
    std::map<std::string, int> seen;
    for (const Peak& p : list.peaks) {
        if (p.label.empty()) continue;
        const auto [it, fresh] = seen.emplace(p.label, p.line);
        if (!fresh)
            fail(path, p.line, "label '" + p.label + "' is given twice (first on line " + std::to_string(it->second) +
                                   ")");
    }
    return list;
}
