#include "view/grid_find.h"

#include "engine/row_sort.h"
#include "view/result_model.h"

namespace sorvane::view {
namespace {

bool CellMatches(const QString& cell, const QString& text, const FindOptions& options) {
    const Qt::CaseSensitivity sensitivity = options.matchCase ? Qt::CaseSensitive
                                                              : Qt::CaseInsensitive;
    if (!options.wholeWord)
        return cell.contains(text, sensitivity);
    for (const char left : kWordDelimiters)
        for (const char right : kWordDelimiters)
            if (WholeWordMatch(cell, text, QLatin1Char(left), QLatin1Char(right), sensitivity))
                return true;
    return false;
}

} // namespace

bool WholeWordMatch(const QString& cell, const QString& text, QChar left, QChar right,
                    Qt::CaseSensitivity sensitivity) {
    if (text.isEmpty())
        return false;
    // The text's own first and last characters are compared without case.
    const bool bringsLeft = text.startsWith(left, Qt::CaseInsensitive);
    const bool bringsRight = text.endsWith(right, Qt::CaseInsensitive);
    const QString leftPart = bringsLeft ? QString() : QString(left);
    const QString rightPart = bringsRight ? QString() : QString(right);
    if (cell.contains(leftPart + text + rightPart, sensitivity))
        return true; // inside the cell, a delimiter on each side
    if (cell.startsWith(text + rightPart, sensitivity))
        return true; // at its start
    if (cell.endsWith(leftPart + text, sensitivity))
        return true; // at its end
    // The whole cell: a word bounded by the cell's start and end.
    return cell.compare(text, sensitivity) == 0;
}

int FindInGrid(const ResultModel& model, int currentRow, const QString& text,
               const FindOptions& options) {
    const int rows = model.rowCount();
    if (text.isEmpty() || rows == 0)
        return -1;
    const int step = options.upwards ? -1 : 1;
    const int last = options.upwards ? 0 : rows - 1;
    for (int row = currentRow + step; options.upwards ? row >= last : row <= last; row += step) {
        if (row < 0 || row >= rows)
            break;
        for (int column = kNameColumn; column < kGridColumnCount; ++column) {
            const QString cell = model.data(model.index(row, column), Qt::DisplayRole).toString();
            if (CellMatches(cell, text, options))
                return row;
        }
    }
    return -1;
}

} // namespace sorvane::view
