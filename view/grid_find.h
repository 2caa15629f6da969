#pragma once
// Find in the result grid: a text looked for in every data cell of the rows
// after (or before) the current one, as a part of a cell or as a whole word.

#include <QString>

namespace sorvane::view {

class ResultModel;

/// The options of a search, as the find box keeps them.
struct FindOptions {
    bool wholeWord = false;
    bool matchCase = false;
    bool upwards = false;
};

/// True when `text` stands in `cell` as a whole word: bounded on each side by
/// the start or end of the cell or by the delimiter `left` before it and
/// `right` after it (a text that itself begins with `left` or ends with
/// `right` brings its own). A cell that is exactly the text is a whole word
/// too.
bool WholeWordMatch(const QString& cell, const QString& text, QChar left, QChar right,
                    Qt::CaseSensitivity sensitivity);

/// The characters that bound a whole word: blank, "\", ".", '"' and, on
/// Linux, "/" between the folders of a name.
inline constexpr char kWordDelimiters[] = {' ', '\\', '.', '"', '/'};

/// The first row after `currentRow` (before it, upwards) with a cell of
/// columns 1 to 12 — hidden ones included — that matches, as it is or as the
/// grid shows it (control characters as escapes); -1 when none does. There
/// is no wrap-around.
int FindInGrid(const ResultModel& model, int currentRow, const QString& text,
               const FindOptions& options);

} // namespace sorvane::view
