#pragma once
// The result grid's model: one row per ComparisonRow in the grid's column
// layout, an empty placeholder row while there are no results, the text
// colour of each row's category, and the widest text of each column. The
// rows are held compactly (RowStore) and never move: a sort changes only
// the order they are shown in.

#include "engine/scan/comparison.h"
#include "engine/scan/row_range.h"
#include "engine/scan/row_sort.h"
#include "engine/scan/row_store.h"

#include <array>
#include <cstdint>
#include <optional>
#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPalette>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sorvane::view {

/// The colours of the colour set, in the order of their menu items: the
/// eight of the classic set, then the orphans' own.
enum ColorIndex : int {
    kBackgroundColor = 0,
    kRegularTextColor = 1,
    kNewerSourceColor = 2,
    kNewerTargetColor = 3,
    kUnequalLanguageColor = 4,
    kDifferentSizeColor = 5,
    kIncomparableColor = 6,
    kCopiedFileColor = 7,
    /// Rows without a versioned target; the regular text colour unless the
    /// user gives them one of their own.
    kOrphansColor = 8,
    kColorCount = 9,
};

/// Colours are kept as the settings file stores them: 0x00BBGGRR.
using ColorRef = std::uint32_t;
QColor FromColorRef(ColorRef value);
ColorRef ToColorRef(const QColor& color);

/// The keys of the colours in the settings section "Color", in index order.
extern const std::array<const char*, kColorCount> kColorKeys;

struct ColorSet {
    std::array<ColorRef, kColorCount> colors{};
    /// The colours the user chose; the others are defaults.
    std::array<bool, kColorCount> userSet{};
    /// Background and regular text from the palette; blue, red, purple,
    /// purple, purple and dark green, each made lighter or darker as far as
    /// needed to read well on the background; orphans as regular text.
    static ColorSet Defaults(const QPalette& palette);
    /// Gives colour `index` the value `color` and counts it as the user's.
    /// Orphans that still look like regular text (never given a colour of
    /// their own) follow a new regular text colour; category colours left at
    /// their defaults follow a new background.
    void Set(int index, ColorRef color);
    /// Works the default category colours (those not set by the user) out
    /// again for the current background.
    void AdaptDefaults();
    QColor color(int index) const {
        return FromColorRef(colors.at(static_cast<std::size_t>(index)));
    }
};

/// The colour index of a mark's rows; -1 for the empty mark of a source-only
/// scan, whose rows keep the view's default text colour.
int ColorIndexOfMark(ComparisonMark mark);

/// A cell's text as the grid shows it: control characters and the marks
/// that reorder text as visible escapes (EscapeControls), so a name holding
/// U+202E reads as it is stored. Sorting and the searches use the real text.
QString ShownText(std::string_view text);

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    /// The placeholder row can be current but is never shown selected.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Removes every row (the placeholder row stays) and resets the widest
    /// texts to the header captions.
    void ClearResults();
    /// Appends rows at the end, measuring their texts.
    void AppendRows(std::vector<ComparisonRow> rows);
    /// Makes room for `count` rows in all, so that appending up to that many
    /// never moves the rows already held. Less than the rows held does nothing.
    void ReserveRows(std::int64_t count);
    /// True when the first row has a name.
    bool HasResults() const;
    /// The result rows (without the placeholder) in the order shown, read
    /// one at a time.
    RowRange Rows() const { return RowRange(shownRows_); }
    /// True when `row` holds a result row: not the placeholder, not out of range.
    bool HoldsRow(int row) const {
        return row >= 0 && static_cast<std::size_t>(row) < store_.size();
    }
    /// Row `row` as a copy; nothing for the placeholder or out of range.
    std::optional<ComparisonRow> RowAt(int row) const;
    /// The name of row `row`; empty for the placeholder or out of range.
    std::string_view NameAt(int row) const;
    /// The mark of row `row`; None for the placeholder or out of range.
    ComparisonMark MarkAt(int row) const {
        return HoldsRow(row) ? store_.Mark(IdAt(row)) : ComparisonMark::None;
    }
    /// The text row `row` shows in `column` as it is held (not escaped);
    /// empty for the placeholder or out of range. The size column's digits
    /// are written into `scratch`.
    std::string_view CellText(int row, int column, std::string& scratch) const;
    /// The rows as they are held.
    const RowStore& Store() const { return store_; }
    /// Replaces the mark and target columns of one row (after a copy), and
    /// what is known of the target file now.
    void UpdateTarget(int row, ComparisonMark mark, const std::string& targetVersion,
                      const std::string& targetLanguage, const FileStamp& targetStamp = {});

    /// Takes a new colour set. Each row keeps the colour it was given when it
    /// was added or updated, except that a change of colour 2 to 6 or of the
    /// orphans' colour recolours the rows of that colour's mark; rows of the
    /// Regular Text and Copied File colours keep theirs until the next scan.
    /// Emits ColorsChanged.
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
    /// The widest text seen in `column` since the last ClearResults, in pixels
    /// (0 before the first ClearResults). Only the data columns 1 to 10 are
    /// measured, as only they are ever fitted; the others keep the width of
    /// their empty caption, 0.
    int WidestText(int column) const;

    /// Header caption of a column ("Name", ..., "" for 0, 11 and 12).
    static QString Caption(int column);

signals:
    /// The colour set changed: the view takes the new background and default
    /// text colour from it.
    void ColorsChanged();

private:
    // The rows in the order shown, for Rows().
    class ShownRows final : public RowSource {
    public:
        explicit ShownRows(const ResultModel& model) : model_(model) {}
        std::size_t RowCount() const override { return model_.store_.size(); }
        void ReadRow(std::size_t i, ComparisonRow& row) const override;

    private:
        const ResultModel& model_;
    };

    // Widths already measured, per column, by text.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    using WidthCache = std::unordered_map<std::string, int, TextHash, std::equal_to<>>;

    /// The id of the row shown at `row`, which must hold one.
    std::uint32_t IdAt(int row) const {
        return order_.empty() ? static_cast<std::uint32_t>(row)
                              : order_[static_cast<std::size_t>(row)];
    }
    /// Measures what row `id` shows: its name, and each text of the other
    /// columns the first time the column shows it.
    void Measure(std::uint32_t id, const QFontMetrics& metrics);
    void MeasureText(int column, std::string_view text, const QFontMetrics& metrics);
    int MeasureCached(int column, std::string_view text, const QFontMetrics& metrics);
    void ForgetMeasured();
    std::optional<double> EstimateWidth(std::string_view text) const;
    void PrepareEstimates(const QFontMetrics& metrics);
    void FindLookAlikes();
    /// `text` with each ASCII character replaced by the first character the
    /// font draws exactly like it; texts with the same result are equally wide.
    void LookAlikeKey(std::string_view text, std::string& key) const;
    ColorRef RowColor(ComparisonMark mark) const;
    /// The place of `color` in the palette, added when new.
    std::uint16_t PaletteIndex(ColorRef color);

    RowStore store_;
    // The ids of the rows in the order shown; empty while that is the order
    // they were added in.
    std::vector<std::uint32_t> order_;
    ShownRows shownRows_{*this};
    // The text colour each row was given, by id, as a place in the palette:
    // the colours rows were given since the last ClearResults.
    std::vector<std::uint16_t> rowColors_;
    std::vector<ColorRef> palette_;
    ColorSet colors_;
    int sortColumn_ = 0;
    QFont measuringFont_;
    std::array<int, kGridColumnCount> widest_{};
    std::array<WidthCache, kGridColumnCount> widthCache_;
    // For each column but the name's, which of its texts (by id in the
    // column's pool, by mark, by Busy) were measured in the measuring font.
    std::array<std::vector<bool>, kGridColumnCount> measured_;
    // Advances of the characters U+0020 to U+00FF in the measuring font, and
    // the most a text can be wider than the sum of its characters' advances.
    std::array<double, 256> charAdvance_{};
    double estimateSlack_ = 0;
    bool estimatesReady_ = false;
    // For each ASCII character the first one that has the same advance and
    // the same width next to every printable ASCII character, on both sides:
    // digits, in most fonts. Names like file000123.dll and file004567.dll
    // then share one measurement.
    std::array<char, 128> lookAlike_{};
    std::string keyScratch_;
};

} // namespace sorvane::view
