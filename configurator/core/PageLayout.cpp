#include "core/PageLayout.h"

namespace pagelayout {

const std::vector<PageLayout>& rowPages()
{
    // Row labels are the controls 2021.. of each page; the sensors carry
    // their number as a digit beside each Opened/Closed pair, the egress
    // inputs only their number.
    static const std::vector<PageLayout> pages{
        {206, {{10, 2021, 0}, {30, 2022, 0}, {11, 2023, 0}, {34, 2024, 0}}},
        {209, {{12, 2021, 0}, {31, 2022, 0}, {13, 2023, 0}, {35, 2024, 0}}},
        {210, {{14, 2021, 0}, {32, 2022, 0}, {15, 2023, 0}, {36, 2024, 0}}},
        {211, {{16, 2021, 0}, {33, 2022, 0}, {17, 2023, 0}, {37, 2024, 0}}},
        {208,
         {{18, 2021, 1}, {19, 2022, 1}, {20, 2023, 2}, {21, 2024, 2},
          {22, 2025, 3}, {23, 2026, 3}, {24, 2027, 4}, {25, 2028, 4}}},
        {207, {{26, 0, 1}, {27, 0, 2}, {28, 0, 3}, {29, 0, 4}}},
    };
    return pages;
}

} // namespace pagelayout
