#pragma once

// The layout of the six row pages (Reader 1..4, Sensors, Egress in tab
// order): which words each page shows in which order and the resource
// identifiers of the texts that name them. The pages build their rows from
// it and termset-cli's show and diff describe the image by it.

#include <vector>

namespace pagelayout {

struct RowLayout {
    int word = 0;      // the row word of the image
    int labelId = 0;   // control identifier of the row's label; 0: the page shows none
    int number = 0;    // the large digit the page shows beside the row (sensors, egress); 0: none
};

struct PageLayout {
    int dialogId = 0;
    std::vector<RowLayout> rows;
};

const std::vector<PageLayout>& rowPages();

// Indexes into rowPages().
inline constexpr int kReader1 = 0;
inline constexpr int kSensors = 4;
inline constexpr int kEgress = 5;

} // namespace pagelayout
