#pragma once
// Everything a sort can see of a row: its text in each column the sort
// compares, for tests that check one order against another.

#include "engine/scan/row_sort.h"

#include <string>
#include <vector>

namespace sorvane::test {

inline std::vector<std::string> SortTexts(const ComparisonRow& row) {
    std::vector<std::string> texts;
    for (int column = kRootColumn; column < kFillerColumn; ++column)
        texts.push_back(ColumnText(row, column));
    return texts;
}

} // namespace sorvane::test
