#include "view/grid_find.h"

#include "engine/scan/row_sort.h"
#include "engine/text/text_utils.h"
#include "view/result_model.h"

namespace sorvane::view {
namespace {

bool IsDelimiter(QChar c) {
    for (const char d : kWordDelimiters)
        if (c == QLatin1Char(d))
            return true;
    return false;
}

// A whole word under every pair of delimiters at once: some occurrence of
// the text has a delimiter, the cell's start or the text's own leading
// delimiter before it, and a delimiter, the cell's end or the text's own
// trailing delimiter after it.
bool WholeWordAnywhere(QStringView cell, QStringView text, Qt::CaseSensitivity sensitivity) {
    if (text.isEmpty())
        return false;
    const bool bringsLeft = IsDelimiter(text.front());
    const bool bringsRight = IsDelimiter(text.back());
    for (qsizetype at = cell.indexOf(text, 0, sensitivity); at >= 0;
         at = cell.indexOf(text, at + 1, sensitivity)) {
        const qsizetype end = at + text.size();
        const bool leftOk = bringsLeft || at == 0 || IsDelimiter(cell[at - 1]);
        const bool rightOk = bringsRight || end == cell.size() || IsDelimiter(cell[end]);
        if (leftOk && rightOk)
            return true;
    }
    return false;
}

bool CellMatches(const QString& cell, const QString& text, const FindOptions& options) {
    const Qt::CaseSensitivity sensitivity = options.matchCase ? Qt::CaseSensitive
                                                              : Qt::CaseInsensitive;
    if (!options.wholeWord)
        return cell.contains(text, sensitivity);
    return WholeWordAnywhere(cell, text, sensitivity);
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
    std::string scratch; // the size column's digits
    const int step = options.upwards ? -1 : 1;
    const int last = options.upwards ? 0 : rows - 1;
    for (int row = currentRow + step; options.upwards ? row >= last : row <= last; row += step) {
        if (row < 0 || row >= rows)
            break;
        if (!model.HoldsRow(row))
            continue; // the empty placeholder
        for (int column = kNameColumn; column < kGridColumnCount; ++column) {
            // The text as it is, and as the grid shows it when that differs:
            // a name holding U+202E is found both by the name pasted from
            // elsewhere and by the "\u202E" the user reads in the grid.
            const std::string_view cell = model.CellText(row, column, scratch);
            if (CellMatches(QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size())),
                            text, options) ||
                (NeedsEscapes(cell) && CellMatches(ShownText(cell), text, options)))
                return row;
        }
    }
    return -1;
}

} // namespace sorvane::view
