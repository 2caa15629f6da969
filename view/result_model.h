#pragma once
// The result grid's model: one row per ComparisonRow in the grid's column
// layout, an empty placeholder row while there are no results, the text
// colour of each row's category, and the widest text of each column.

#include "engine/comparison.h"
#include "engine/row_sort.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QPalette>

#include <array>
#include <cstdint>
#include <vector>

namespace sorvane::view {

/// The eight colours of the colour set, in the order of their menu items.
enum ColorIndex : int {
    kBackgroundColor = 0,
    kRegularTextColor = 1,
    kNewerSourceColor = 2,
    kNewerTargetColor = 3,
    kUnequalLanguageColor = 4,
    kDifferentSizeColor = 5,
    kIncomparableColor = 6,
    kCopiedFileColor = 7,
    kColorCount = 8,
};

/// Colours are kept as the settings file stores them: 0x00BBGGRR.
using ColorRef = std::uint32_t;
QColor FromColorRef(ColorRef value);
ColorRef ToColorRef(const QColor& color);

/// The keys of the colours in the settings section "Color", in index order.
extern const std::array<const char*, kColorCount> kColorKeys;

struct ColorSet {
    std::array<ColorRef, kColorCount> colors{};
    /// Background and regular text from the palette, the rest fixed: blue,
    /// red, purple, purple, purple, dark green.
    static ColorSet Defaults(const QPalette& palette);
    QColor color(int index) const { return FromColorRef(colors.at(static_cast<std::size_t>(index))); }
};

/// The colour index of a mark's rows; -1 for the empty mark of a source-only
/// scan, whose rows keep the view's default text colour.
int ColorIndexOfMark(ComparisonMark mark);

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Removes every row (the placeholder row stays) and resets the widest
    /// texts to the header captions.
    void ClearResults();
    /// Appends rows at the end, measuring their texts.
    void AppendRows(const std::vector<ComparisonRow>& rows);
    /// True when the first row has a name.
    bool HasResults() const;
    /// The result rows (without the placeholder).
    const std::vector<ComparisonRow>& Rows() const { return rows_; }
    /// Row `row` or null (the placeholder, or out of range).
    const ComparisonRow* RowAt(int row) const;
    /// Replaces the mark and target columns of one row (after a copy).
    void UpdateTarget(int row, ComparisonMark mark, const std::string& targetVersion,
                      const std::string& targetLanguage);

    void SetColorSet(const ColorSet& colors);
    const ColorSet& Colors() const { return colors_; }

    /// The sort column whose header is marked (0 for none).
    void SetSortColumn(int column);
    int SortColumn() const { return sortColumn_; }
    /// Sorts the rows by `key` (1 to 11) and direction; returns the row that
    /// now holds the row that was `currentRow` (found again by its name, case
    /// ignored), or 0 when there was none. A key of 0 changes nothing.
    int Sort(int key, bool ascending, int currentRow);

    /// The font texts are measured with for the widest-text table.
    void SetMeasuringFont(const QFont& font);
    /// The widest text seen in `column` since the last ClearResults, in pixels.
    int WidestText(int column) const;

    /// Header caption of a column ("Name", ..., "" for 0, 11 and 12).
    static QString Caption(int column);

private:
    void Measure(const ComparisonRow& row);

    std::vector<ComparisonRow> rows_;
    ColorSet colors_;
    int sortColumn_ = 0;
    QFont measuringFont_;
    std::array<int, kGridColumnCount> widest_{};
};

} // namespace sorvane::view
