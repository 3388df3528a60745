// Cells are written straight into the image's pixels; cairo draws the text,
// the frame and the colour bar, and writes the PNG.
#include "report/heatmap.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <numeric>

#include "io/failure.h"

namespace {

// Viridis at ten evenly spaced stops, interpolated linearly between them.
constexpr uint8_t kStops[10][3] = {{68, 1, 84},    {72, 40, 120},  {62, 73, 137},  {49, 104, 142},
                                   {38, 130, 142}, {31, 158, 137}, {53, 183, 121}, {110, 206, 88},
                                   {181, 222, 43}, {253, 231, 37}};

void text_at(cairo_t* cr, double x, double y, const std::string& s, double align) {
    cairo_text_extents_t ext;
    cairo_text_extents(cr, s.c_str(), &ext);
    cairo_move_to(cr, x - align * ext.x_advance, y);
    cairo_show_text(cr, s.c_str());
}

std::string id_text(double id) { return std::to_string(static_cast<long long>(id)); }

}  // namespace

uint32_t viridis(double f) {
    f = std::clamp(std::isnan(f) ? 0.0 : f, 0.0, 1.0) * 9.0;
    const int i = std::min(static_cast<int>(f), 8);
    const double t = f - i;
    uint32_t rgb = 0;
    for (int c = 0; c < 3; ++c) {
        const double v = kStops[i][c] + t * (kStops[i + 1][c] - kStops[i][c]);
        rgb = (rgb << 8) | static_cast<uint32_t>(std::lround(v));
    }
    return rgb;
}

HeatmapLayout heatmap_layout(int rows, int cols) {
    HeatmapLayout l;
    l.rows = rows;
    l.cols = cols;
    l.cell = std::max(1, std::min(20, 800 / std::max({rows, cols, 1})));
    l.left = 80;
    l.top = 50;
    l.bar_h = std::max(rows * l.cell, 120);
    l.bar_x = l.left + cols * l.cell + 30;
    l.width = l.bar_x + 20 + 60;
    l.height = l.top + l.bar_h + 80;
    return l;
}

std::vector<int> heatmap_rows(const std::vector<int>& assign) {
    std::vector<int> rows(assign.size());
    std::iota(rows.begin(), rows.end(), 0);
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return assign[a] < assign[b]; });
    return rows;
}

std::vector<std::string> heatmap_row_labels(const std::vector<int>& rows, const std::vector<std::string>& peak_ids) {
    std::vector<std::string> labels;
    for (int j : rows) labels.push_back(peak_ids[j]);
    return labels;
}

std::string valid_utf8(const std::string& s) {
    std::string out;
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = b[i];
        // The sequence's length and the range its second byte must lie in.
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c < 0x80) len = 1;
        else if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c == 0xE0) len = 3, lo = 0xA0;
        else if (c >= 0xE1 && c <= 0xEC) len = 3;
        else if (c == 0xED) len = 3, hi = 0x9F;
        else if (c >= 0xEE && c <= 0xEF) len = 3;
        else if (c == 0xF0) len = 4, lo = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) len = 4;
        else if (c == 0xF4) len = 4, hi = 0x8F;
        bool ok = len > 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            const unsigned char d = b[i + k];
            ok = k == 1 ? (d >= lo && d <= hi) : (d >= 0x80 && d <= 0xBF);
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

namespace {

void label(HeatmapMatrix& m, const ProfileTable& sim, const ProfileTable& obs) {
    for (int j = 0; j < m.rows; ++j) m.peak_ids.push_back(id_text(obs[0].id[j]));
    for (int r = 0; r < m.cols; ++r) m.residue_numbers.push_back(id_text(sim[0].id[r]));
}

}  // namespace

HeatmapMatrix walk_matrix(const CAnnealingSampler& s, Shape shape, const ProfileTable& sim, const ProfileTable& obs) {
    const int n = shape.maxres;
    HeatmapMatrix m;
    m.rows = m.cols = n;
    m.value.resize(size_t(n) * n);
    for (int j = 0; j < n; ++j)
        for (int r = 0; r < n; ++r) m.value[size_t(j) * n + r] = s.visit(j, r) / s.samples();
    m.assign = s.assign;
    label(m, sim, obs);
    return m;
}

HeatmapMatrix posterior_matrix(const Posterior& p, const ProfileTable& sim, const ProfileTable& obs) {
    HeatmapMatrix m;
    m.rows = p.peaks;
    m.cols = p.residues;
    m.value_name = "probability";
    m.value.resize(size_t(m.rows) * m.cols);
    m.assign = p.optimum;
    for (int j = 0; j < m.rows; ++j) {
        double best = p.unassigned(j);
        for (int r = 0; r < m.cols; ++r) {
            m.value[size_t(j) * m.cols + r] = p.p(j, r);
            if (p.p(j, r) > best) {
                best = p.p(j, r);
                m.assign[j] = r;
            }
        }
    }
    label(m, sim, obs);
    return m;
}

void write_heatmap(OutputFile& file, const HeatmapMatrix& m, const std::string& title) {
    const HeatmapLayout l = heatmap_layout(m.rows, m.cols);
    const std::vector<int> rows = heatmap_rows(m.assign);
    const std::vector<std::string> labels = heatmap_row_labels(rows, m.peak_ids);
    auto cannot_draw = [&](cairo_status_t st) {
        throw Failure{kStatusInput, file.path + ": cannot draw the heat map: " + cairo_status_to_string(st)};
    };

    // Surfaces and contexts own nothing once destroyed; these hold them
    // through a failure's unwinding.
    struct Owned {
        cairo_surface_t* surface;
        cairo_t* cr = nullptr;
        ~Owned() {
            if (cr) cairo_destroy(cr);
            cairo_surface_destroy(surface);
        }
    } own{cairo_image_surface_create(CAIRO_FORMAT_RGB24, l.width, l.height)};
    cairo_surface_t* surface = own.surface;
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) cannot_draw(cairo_surface_status(surface));
    cairo_t* cr = own.cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) cannot_draw(cairo_status(cr));
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_surface_flush(surface);

    auto* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    auto fill = [&](int x0, int y0, int w, int h, uint32_t rgb) {
        for (int y = y0; y < y0 + h; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
            std::fill(row + x0, row + x0 + w, rgb);
        }
    };
    for (int i = 0; i < m.rows; ++i)
        for (int r = 0; r < m.cols; ++r)
            fill(l.left + r * l.cell, l.top + i * l.cell, l.cell, l.cell, viridis(m.value[size_t(rows[i]) * m.cols + r]));
    for (int y = 0; y < l.bar_h; ++y) fill(l.bar_x, l.top + y, 20, 1, viridis(1.0 - double(y) / (l.bar_h - 1)));
    cairo_surface_mark_dirty(surface);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, l.left - 0.5, l.top - 0.5, m.cols * l.cell + 1, m.rows * l.cell + 1);
    cairo_rectangle(cr, l.bar_x - 0.5, l.top - 0.5, 21, l.bar_h + 1);
    cairo_stroke(cr);

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 14);
    text_at(cr, l.width / 2.0, 25, valid_utf8(title), 0.5);
    cairo_set_font_size(cr, 10);
    // Every k-th label, so that labels stand at least 12 px apart.
    const int k = (12 + l.cell - 1) / l.cell;
    for (int i = 0; i < m.rows; i += k)
        text_at(cr, l.left - 4, l.top + (i + 0.5) * l.cell + 3.5, labels[i], 1.0);
    for (int r = 0; r < m.cols; r += k) {
        cairo_save(cr);
        cairo_move_to(cr, 0, 0);
        cairo_translate(cr, l.left + (r + 0.5) * l.cell + 3.5, l.top + m.rows * l.cell + 4);
        cairo_rotate(cr, -M_PI / 2);
        text_at(cr, 0, 0, m.residue_numbers[r], 1.0);
        cairo_restore(cr);
    }
    for (double v : {0.0, 0.5, 1.0})
        text_at(cr, l.bar_x + 24, l.top + (1.0 - v) * (l.bar_h - 1) + 3.5, v == 0.5 ? "0.5" : v == 0 ? "0" : "1", 0.0);
    cairo_set_font_size(cr, 12);
    text_at(cr, l.left + m.cols * l.cell / 2.0, l.height - 12, "residue number", 0.5);
    cairo_save(cr);
    cairo_translate(cr, 16, l.top + m.rows * l.cell / 2.0);
    cairo_rotate(cr, -M_PI / 2);
    text_at(cr, 0, 0, "peak id (by assigned residue)", 0.5);
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, l.bar_x + 52, l.top + l.bar_h / 2.0);
    cairo_rotate(cr, -M_PI / 2);
    text_at(cr, 0, 0, m.value_name, 0.5);
    cairo_restore(cr);

    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) cannot_draw(cairo_status(cr));
    cairo_destroy(cr);
    own.cr = nullptr;
    // Through our own file, so that a failed write reports the system's reason.
    auto put = [](void* f, const unsigned char* data, unsigned int length) {
        return static_cast<OutputFile*>(f)->write(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
    };
    const cairo_status_t st = cairo_surface_write_to_png_stream(surface, put, &file);
    if (st != CAIRO_STATUS_SUCCESS && file.error == 0) cannot_draw(st);
    file.close();
}
