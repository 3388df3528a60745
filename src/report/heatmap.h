// The frequency matrix as a PNG: peaks as rows in the order of their
// assigned residue (a confident assignment is a bright diagonal), residues as
// columns, viridis from 0 to 1 with a colour bar.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/output_file.h"
#include "profiles/profile.h"
#include "search/sampler.h"

struct HeatmapLayout {
    int n, cell;          // cells per side, pixels per cell
    int left, top;        // the matrix's top-left corner
    int width, height;    // of the whole picture
    int bar_x, bar_h;     // colour bar
};

HeatmapLayout heatmap_layout(int n);

// Peak indices, top row first: by assigned residue, then by peak.
std::vector<int> heatmap_rows(const std::vector<int>& assign);

// 0xRRGGBB of frequency f in [0, 1].
uint32_t viridis(double f);

// The label of each row: the peak id of the row's peak.
std::vector<std::string> heatmap_row_labels(const std::vector<int>& rows, const ProfileTable& obs);

// Throws Failure when the file cannot be written.
void write_heatmap(OutputFile& file, const CAnnealingSampler& s, const ProfileTable& sim, const ProfileTable& obs,
                   Shape shape, const std::string& title);
