// The peak map read by column name, as `label` reads it, and written as the
// PRE import writes it.
#include "peaks/peak_map.h"

#include <charconv>
#include <cmath>
#include <map>

#include "io/failure.h"

namespace {

[[noreturn]] void fail(const std::string& path, int line, const std::string& why) {
    throw Failure{kStatusInput, path + ":" + std::to_string(line) + ": " + why};
}

std::vector<std::string> cells(std::string_view line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        out.emplace_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return out;
        start = tab + 1;
    }
}

bool number(const std::string& s, double& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

std::string num(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

constexpr int kMaxId = 999999;
constexpr const char* kColumns[] = {"peak_id", "label", "heavy_ppm", "proton_ppm"};

// One row into a peak, checked against the one before.
MapPeak peak_of(const std::vector<std::string>& c, const std::map<std::string, size_t>& col, int last_id,
                const std::string& path, int n) {
    MapPeak p;
    const std::string& id = c[col.at("peak_id")];
    const auto r = std::from_chars(id.data(), id.data() + id.size(), p.id);
    // Ids past the map's go on counting from its last: a bound keeps that finite.
    if (r.ec != std::errc() || r.ptr != id.data() + id.size() || p.id < 1 || p.id > kMaxId)
        fail(path, n, "peak_id '" + id + "' is not a whole number from 1 to " + std::to_string(kMaxId));
    if (p.id <= last_id)
        fail(path, n, "peak_id " + id + " after " + std::to_string(last_id) + ": ids must increase");
    p.label = c[col.at("label")] == "?-?" ? "" : c[col.at("label")];
    const std::string& h = c[col.at("heavy_ppm")];
    const std::string& x = c[col.at("proton_ppm")];
    if (h.empty() && x.empty()) return p;
    if (!number(h, p.heavy) || !number(x, p.proton))
        fail(path, n, "shifts '" + h + "' and '" + x + "' are not two numbers (ppm), nor both empty");
    p.shifts = true;
    return p;
}

}  // namespace

std::vector<MapPeak> read_peak_map(std::string_view text, const std::string& path) {
    std::vector<MapPeak> peaks;
    std::map<std::string, size_t> col;
    std::map<std::string, int> label_line;
    size_t start = 0;
    for (int n = 1; start <= text.size(); ++n) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::vector<std::string> c = cells(line);
        if (col.empty()) {
            for (size_t i = 0; i < c.size(); ++i)
                if (!col.emplace(c[i], i).second) fail(path, n, "column '" + c[i] + "' named twice");
            for (const char* name : kColumns)
                if (!col.count(name)) fail(path, n, std::string("no column '") + name + "': not a peak map");
            continue;
        }
        if (c.size() != col.size())
            fail(path, n, std::to_string(c.size()) + " cells where the header names " + std::to_string(col.size()));
        peaks.push_back(peak_of(c, col, peaks.empty() ? 0 : peaks.back().id, path, n));
        const std::string& label = peaks.back().label;
        if (label.empty()) continue;
        const auto [it, fresh] = label_line.emplace(label, n);
        if (!fresh)
            fail(path, n, "label '" + label + "' is given twice (first on line " + std::to_string(it->second) + ")");
    }
    if (peaks.empty()) throw Failure{kStatusInput, path + ": holds no peaks"};
    return peaks;
}

std::string peak_map_text(const std::vector<MapPeak>& peaks) {
    std::string map = "peak_id\tlabel\theavy_ppm\tproton_ppm\n";
    for (const MapPeak& p : peaks)
        map += std::to_string(p.id) + "\t" + (p.label.empty() ? "?-?" : p.label) + "\t" +
               (p.shifts ? num(p.heavy) + "\t" + num(p.proton) : "\t") + "\n";
    return map;
}
