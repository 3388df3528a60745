// A matrix of peaks by residues as a PNG: the walk's frequencies or the
// posterior's probabilities. Peaks are rows in the order of their assigned
// residue (a confident assignment is a bright diagonal), residues columns,
// viridis from 0 to 1 with a colour bar.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/output_file.h"
#include "profiles/profile.h"
#include "posterior/posterior.h"
#include "search/sampler.h"

struct HeatmapLayout {
    int rows, cols, cell;  // cells down and across, pixels per cell
    int left, top;        // the matrix's top-left corner
    int width, height;    // of the whole picture
    int bar_x, bar_h;     // colour bar
};

HeatmapLayout heatmap_layout(int rows, int cols);

// What the picture shows: values in [0, 1], [row * cols + col], peaks by
// entry index as rows, residues as columns, each peak's residue, and the
// ids that label them.
struct HeatmapMatrix {
    int rows = 0, cols = 0;
    std::vector<double> value;
    std::vector<int> assign;
    std::vector<std::string> peak_ids, residue_numbers;
    const char* value_name = "frequency";
};

HeatmapMatrix walk_matrix(const CAnnealingSampler& s, Shape shape, const ProfileTable& sim, const ProfileTable& obs);
// Probabilities of the real peaks on the residues; a peak's residue is its
// most probable one (the optimum's when it is most probably unassigned).
HeatmapMatrix posterior_matrix(const Posterior& p, const ProfileTable& sim, const ProfileTable& obs);

// Peak indices, top row first: by assigned residue, then by peak.
std::vector<int> heatmap_rows(const std::vector<int>& assign);

// 0xRRGGBB of frequency f in [0, 1].
uint32_t viridis(double f);

// The label of each row: the peak id of the row's peak.
std::vector<std::string> heatmap_row_labels(const std::vector<int>& rows, const std::vector<std::string>& peak_ids);

// Text as UTF-8, each byte that is not part of a valid sequence replaced
// by U+FFFD: cairo draws nothing at all, from then on, after invalid text.
std::string valid_utf8(const std::string& s);

// Throws Failure "FILE: cannot draw the heat map: reason" when cairo cannot
// make or draw the picture, and "FILE: reason" when it cannot be written.
void write_heatmap(OutputFile& file, const HeatmapMatrix& m, const std::string& title);
