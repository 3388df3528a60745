// Lines are split on white space; a header names the columns, and each row
// is read by those names, so optional columns may come in any order.
#include "peaks/lists.h"

#include <algorithm>
#include <cctype>
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

// Sparky: the header's names, some of two words. The intensity is the
// first of these the list has: what Sparky, and the tools that imitate it,
// write for a peak's height, a fitted one, or at last its volume.
constexpr const char* kIntensityColumns[] = {"Data Height", "Height", "Fit Height", "Volume"};

PeakList read_sparky(const std::vector<Line>& lines, size_t header, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::Sparky;
    std::vector<std::string> names;
    const std::vector<std::string> w = words(lines[header].text);
    for (size_t i = 0; i < w.size(); ++i) {
        const bool pair = i + 1 < w.size() && (((w[i] == "Data" || w[i] == "Fit") && w[i + 1] == "Height") ||
                                               w[i + 1] == "(hz)" || w[i + 1] == "(Hz)");
        if (pair) {
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
    std::string height;
    std::vector<std::string> others;
    for (const char* c : kIntensityColumns) {
        if (!col.count(c)) continue;
        if (height.empty())
            height = c;
        else
            others.push_back(c);
    }
    if (height.empty())
        fail(path, line_no, "no heights: the list has none of the columns 'Data Height', 'Height', 'Fit Height', "
                            "'Volume'");
    if (height != "Data Height" || !others.empty()) {
        std::string note = "intensities from the '" + height + "' column";
        for (size_t i = 0; i < others.size(); ++i)
            note += (i == 0 ? " (not '" : ", '") + others[i] + "'" + (i + 1 == others.size() ? ")" : "");
        list.notes.push_back(note);
    }
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
        auto num = [&](const std::string& name, const char* unit, double& v) {
            if (!number(f[col[name]], v))
                fail(path, p.line, "expected a number (" + name + unit + "), found '" + f[col[name]] + "'");
        };
        num("w1", ", ppm", p.heavy);
        num("w2", ", ppm", p.proton);
        num(height, "", p.height);
        if (col.count("S/N")) {
            double sn;
            num("S/N", "", sn);
            if (sn > 0.0) p.noise = std::fabs(p.height) / sn;
        }
        for (const char* lw : {"lw2 (hz)", "lw2 (Hz)"})
            if (col.count(lw)) num(lw, "", p.width_hz);
        list.peaks.push_back(p);
    }
    return list;
}

// The nucleus an NMRPipe axis label names: 'H' for 1H, H, HN, H1; 'C' for
// 13C, C, CA; 'N' for 15N, N; 0 for a label that names none (X, F2).
char nucleus(const std::string& label) {
    size_t i = 0;
    while (i < label.size() && label[i] >= '0' && label[i] <= '9') ++i;
    if (i == label.size()) return 0;
    const char c = char(std::toupper(static_cast<unsigned char>(label[i])));
    return c == 'H' || c == 'C' || c == 'N' ? c : 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// NMRPipe: VARS names the columns; the axes are told apart once all rows
// are read, since the shifts may have to decide.
PeakList read_nmrpipe(const std::vector<Line>& lines, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::NmrPipe;
    std::vector<std::string> names;
    std::map<std::string, int> col;
    std::string null_string = "*";
    char x_axis = 0, y_axis = 0;
    std::string x_label, y_label;
    int vars_line = 0;
    std::vector<double> xs, ys, x_widths, y_widths;
    std::string height;
    for (const Line& l : lines) {
        const std::vector<std::string> f = words(l.text);
        if (f.empty()) continue;
        if (f[0] == "VARS") {
            names.assign(f.begin() + 1, f.end());
            col.clear();
            for (size_t i = 0; i < names.size(); ++i) col[names[i]] = int(i);
            vars_line = l.number;
            continue;
        }
        if (f[0] == "NULLSTRING" && f.size() > 1) null_string = f[1];
        if (f[0] == "DATA" && f.size() > 2 && f[1] == "X_AXIS") x_axis = nucleus(x_label = f[2]);
        if (f[0] == "DATA" && f.size() > 2 && f[1] == "Y_AXIS") y_axis = nucleus(y_label = f[2]);
        if (f[0] == "FORMAT" || f[0] == "REMARK" || f[0] == "DATA" || f[0] == "NULLVALUE" || f[0] == "NULLSTRING" ||
            f[0][0] == '#')
            continue;
        if (names.empty()) fail(path, l.number, "a row before the VARS line that names the columns");
        if (!col.count("X_PPM") || !col.count("Y_PPM"))
            fail(path, vars_line, "VARS names no X_PPM and Y_PPM (the two shift columns)");
        if (height.empty()) {
            if (col.count("HEIGHT")) {
                height = "HEIGHT";
            } else if (col.count("VOL")) {
                height = "VOL";
                list.notes.push_back("intensities from the 'VOL' column (VARS names no HEIGHT)");
            } else {
                fail(path, vars_line, "no heights: VARS names no HEIGHT column (nor VOL)");
            }
        }
        if (f.size() != names.size())
            fail(path, l.number, std::to_string(f.size()) + " fields where VARS names " + std::to_string(names.size()));
        Peak p;
        p.line = l.number;
        auto num = [&](const std::string& name, const char* unit, double& v) {
            if (!number(f[col[name]], v))
                fail(path, p.line, "expected a number (" + name + unit + "), found '" + f[col[name]] + "'");
        };
        double x, y, xw = 0.0, yw = 0.0;
        num("X_PPM", ", ppm", x);
        num("Y_PPM", ", ppm", y);
        num(height, "", p.height);
        if (col.count("DHEIGHT")) {
            num("DHEIGHT", "", p.noise);
            p.noise = std::fabs(p.noise);
        }
        if (col.count("XW_HZ")) num("XW_HZ", ", Hz", xw);
        if (col.count("YW_HZ")) num("YW_HZ", ", Hz", yw);
        if (col.count("ASS") && f[col["ASS"]] != null_string && !unassigned(f[col["ASS"]])) p.label = f[col["ASS"]];
        xs.push_back(x);
        ys.push_back(y);
        x_widths.push_back(xw);
        y_widths.push_back(yw);
        list.peaks.push_back(p);
    }
    if (names.empty()) fail(path, 1, "no VARS line: not an NMRPipe peak table");
    // The labels' word, where they give one that agrees with itself.
    int said = 0;  // +1: X is 1H; -1: Y is
    if (x_axis == 'H' || (y_axis && y_axis != 'H')) said = 1;
    if (y_axis == 'H' || (x_axis && x_axis != 'H')) said = said == 1 ? 0 : -1;
    // The shifts' word: 1H lies below 13C and 15N by far more than 3 ppm.
    int seen = 0;
    if (!xs.empty()) {
        const double mx = median(xs), my = median(ys);
        if (std::fabs(mx - my) > 3.0) seen = mx < my ? 1 : -1;
    }
    bool x_is_proton = true;
    if (said != 0 && (seen == 0 || seen == said)) {
        x_is_proton = said > 0;
    } else if (seen != 0) {
        x_is_proton = seen > 0;
        const std::string axes = x_label.empty() && y_label.empty()
                                     ? std::string("no DATA line names the axes")
                                     : "the DATA lines name X '" + x_label + "' and Y '" + y_label + "'";
        if (said != 0 || !x_is_proton)
            list.notes.push_back(axes + "; the shifts put 1H on " + (x_is_proton ? "X" : "Y") +
                                 " (its ppm the smaller): read so");
    }
    for (size_t k = 0; k < list.peaks.size(); ++k) {
        Peak& p = list.peaks[k];
        p.proton = x_is_proton ? xs[k] : ys[k];
        p.heavy = x_is_proton ? ys[k] : xs[k];
        p.width_hz = x_is_proton ? x_widths[k] : y_widths[k];
    }
    return list;
}

// label ratio [error]; "nan" for no value; '#' starts a comment. Fields
// are split on white space or commas; a first row whose ratio is a word
// (not "nan" or "inf") is a header.
PeakList read_ratios(const std::vector<Line>& lines, const std::string& path) {
    PeakList list;
    list.path = path;
    list.format = ListFormat::Ratios;
    list.positions = false;
    bool first = true;
    auto is_nan = [](const std::string& t) { return t == "nan" || t == "NaN" || t == "NAN"; };
    for (const Line& l : lines) {
        std::string t(l.text.substr(0, l.text.find('#')));
        std::replace(t.begin(), t.end(), ',', ' ');
        const std::vector<std::string> f = words(t);
        if (f.empty()) continue;
        if (first && f.size() >= 2 && f.size() <= 3 && std::isalpha(static_cast<unsigned char>(f[1][0])) &&
            !is_nan(f[1]) && f[1] != "inf" && f[1] != "Inf" && f[1] != "infinity") {
            first = false;
            list.notes.push_back("line " + std::to_string(l.number) + " read as a header");
            continue;
        }
        first = false;
        if (f.size() > 3) fail(path, l.number, std::to_string(f.size()) + " fields where a ratio table has 2 or 3");
        if (f.size() < 2) fail(path, l.number, "a label without a ratio");
        Peak p;
        p.line = l.number;
        p.label = f[0];
        if (is_nan(f[1])) {
            p.has_value = false;
        } else if (!number(f[1], p.height)) {
            fail(path, l.number, "expected a number (the ratio Ipara/Idia, without a unit), found '" + f[1] + "'");
        }
        if (f.size() == 3 && !is_nan(f[2]) && !number(f[2], p.noise))
            fail(path, l.number, "expected a number (the ratio's error, without a unit), found '" + f[2] + "'");
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
