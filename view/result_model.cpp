#include "view/result_model.h"

#include "engine/text/text_utils.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <QBrush>
#include <QFontMetricsF>
#include <QGuiApplication>

namespace sorvane::view {
namespace {

// The colour value of rows that have no colour of their own and show the
// view's default text colour. No 0x00BBGGRR value has the top byte set.
constexpr ColorRef kNoRowColor = 0xFFFFFFFFu;

// A distinct-text cache stops growing here; texts past it are measured each
// time, which only columns with mostly unique texts reach.
constexpr std::size_t kMaxCachedWidths = 4096;

// The palette of row colours holds at most this many. Each colour beyond the
// current set's nine needs a colour change followed by a copy, so a palette
// that fills up holds mostly colours no row shows any more.
constexpr std::size_t kMaxPalette = 0x10000;

} // namespace

QString ShownText(std::string_view text) {
    if (!NeedsEscapes(text))
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromStdString(EscapeControls(text));
}

QColor FromColorRef(ColorRef value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

ColorRef ToColorRef(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<ColorRef>(rgb.red()) | static_cast<ColorRef>(rgb.green()) << 8 |
           static_cast<ColorRef>(rgb.blue()) << 16;
}

const std::array<const char*, kColorCount> kColorKeys = {
    "Background",       "Regular Text",   "Newer Source", "Newer Target",
    "Unequal Language", "Different Size", "Incomparable", "Copied File",
    "Orphans",
};

int ColorIndexOfMark(ComparisonMark mark) {
    switch (mark) {
    case ComparisonMark::Equal:
        return kRegularTextColor;
    case ComparisonMark::Orphan:
        return kOrphansColor;
    case ComparisonMark::NewerSource:
        return kNewerSourceColor;
    case ComparisonMark::NewerTarget:
        return kNewerTargetColor;
    case ComparisonMark::UnequalLanguage:
        return kUnequalLanguageColor;
    case ComparisonMark::DifferentSize:
        return kDifferentSizeColor;
    case ComparisonMark::Incomparable:
        return kIncomparableColor;
    case ComparisonMark::Copied:
        return kCopiedFileColor;
    case ComparisonMark::None:
        break;
    }
    return -1;
}

ResultModel::ResultModel(QObject* parent)
    : QAbstractTableModel(parent), palette_{kNoRowColor},
      colors_(ColorSet::Defaults(QGuiApplication::palette())) {}

void ResultModel::ShownRows::ReadRow(std::size_t i, ComparisonRow& row) const {
    model_.store_.Read(model_.IdAt(static_cast<int>(i)), row);
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return std::max(1, static_cast<int>(store_.size()));
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() < 0 || index.column() >= kGridColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        if (HoldsRow(index.row())) {
            std::string scratch;
            return ShownText(store_.Text(IdAt(index.row()), index.column(), scratch));
        }
        return QString();
    case Qt::TextAlignmentRole: {
        Qt::Alignment horizontal = Qt::AlignLeft;
        if (index.column() == kMarkColumn || index.column() == kBusyColumn)
            horizontal = Qt::AlignHCenter;
        else if (index.column() == kSizeColumn)
            horizontal = Qt::AlignRight;
        return static_cast<int>(horizontal | Qt::AlignVCenter);
    }
    case Qt::ForegroundRole:
        if (HoldsRow(index.row())) {
            const ColorRef color = palette_[rowColors_[IdAt(index.row())]];
            if (color != kNoRowColor)
                return FromColorRef(color);
        }
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && !HoldsRow(index.row()))
        return flags & ~Qt::ItemIsSelectable;
    return flags;
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kGridColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    const bool sortColumn = sortColumn_ != kNoSortKey && section == sortColumn_;
    switch (role) {
    case Qt::DisplayRole:
        return Caption(section);
    case Qt::TextAlignmentRole:
        return static_cast<int>(Qt::AlignCenter);
    case Qt::BackgroundRole:
        if (sortColumn)
            return QBrush(QGuiApplication::palette().color(QPalette::Dark));
        return {};
    case Qt::ForegroundRole:
        if (sortColumn)
            return QBrush(QGuiApplication::palette().color(QPalette::HighlightedText));
        return {};
    default:
        return {};
    }
}

QString ResultModel::Caption(int column) {
    const std::string_view caption = ColumnCaption(column);
    return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

void ResultModel::ClearResults() {
    beginResetModel();
    store_.Clear();
    order_.clear();
    order_.shrink_to_fit();
    rowColors_.clear();
    rowColors_.shrink_to_fit();
    palette_.assign(1, kNoRowColor);
    endResetModel();

    for (WidthCache& cache : widthCache_)
        cache.clear();
    ForgetMeasured();
    const QFontMetrics metrics(measuringFont_);
    widest_.fill(0);
    for (int column = kNameColumn; column < kGridColumnCount; ++column)
        widest_[static_cast<std::size_t>(column)] = metrics.horizontalAdvance(Caption(column));
}

void ResultModel::ReserveRows(std::int64_t count) {
    if (count <= 0 || static_cast<std::uint64_t>(count) <= store_.size())
        return;
    // Room that is never filled (a scan that shows only a few of its files)
    // costs address space, not memory. Where even that is short, the rows
    // simply grow as they come.
    try {
        store_.Reserve(static_cast<std::size_t>(count));
        rowColors_.reserve(static_cast<std::size_t>(count));
        if (!order_.empty())
            order_.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

void ResultModel::AppendRows(std::vector<ComparisonRow> rows) {
    if (rows.empty())
        return;
    // The first rows take the place of the empty placeholder row: row 0
    // changes and only the rest is inserted.
    const bool replacesPlaceholder = store_.empty();
    const std::size_t firstId = store_.size();
    const int first = replacesPlaceholder ? 1 : static_cast<int>(store_.size());
    const int last = static_cast<int>(store_.size() + rows.size()) - 1;
    const bool inserts = first <= last;
    if (inserts)
        beginInsertRows({}, first, last);
    for (ComparisonRow& row : rows) {
        const std::uint32_t id = store_.Append(row);
        rowColors_.push_back(PaletteIndex(RowColor(row.Mark)));
        if (!order_.empty())
            order_.push_back(id);
        row = {}; // the texts go as soon as they are held
    }
    if (inserts)
        endInsertRows();
    if (replacesPlaceholder)
        emit dataChanged(index(0, 0), index(0, kGridColumnCount - 1));

    const QFontMetrics metrics(measuringFont_);
    PrepareEstimates(metrics);
    for (std::size_t id = firstId; id < store_.size(); ++id)
        Measure(static_cast<std::uint32_t>(id), metrics);
}

bool ResultModel::HasResults() const {
    return !store_.empty() && !NameAt(0).empty();
}

std::optional<ComparisonRow> ResultModel::RowAt(int row) const {
    if (!HoldsRow(row))
        return std::nullopt;
    return store_.Row(IdAt(row));
}

std::string_view ResultModel::NameAt(int row) const {
    return HoldsRow(row) ? store_.Name(IdAt(row)) : std::string_view();
}

std::string_view ResultModel::CellText(int row, int column, std::string& scratch) const {
    return HoldsRow(row) ? store_.Text(IdAt(row), column, scratch) : std::string_view();
}

void ResultModel::UpdateTarget(int row, ComparisonMark mark, const std::string& targetVersion,
                               const std::string& targetLanguage, const FileStamp& targetStamp) {
    if (!HoldsRow(row))
        return;
    const std::uint32_t id = IdAt(row);
    store_.UpdateTarget(id, mark, targetVersion, targetLanguage, targetStamp);
    rowColors_[id] = PaletteIndex(RowColor(mark));
    emit dataChanged(index(row, 0), index(row, kGridColumnCount - 1));
}

void ResultModel::SetColorSet(const ColorSet& colors) {
    const ColorSet old = colors_;
    colors_ = colors;
    // The place of each mark colour's new value, where rows of that mark
    // take it; the palette keeps the set's own colours when it makes room.
    std::array<int, kColorCount> recolour;
    recolour.fill(-1);
    for (int color = 0; color < kColorCount; ++color) {
        const auto at = static_cast<std::size_t>(color);
        const bool recolourable =
            (color >= kNewerSourceColor && color <= kIncomparableColor) || color == kOrphansColor;
        if (recolourable && old.colors[at] != colors.colors[at])
            recolour[at] = PaletteIndex(colors.colors[at]);
    }
    bool recoloured = false;
    for (std::uint32_t id = 0; id < store_.size(); ++id) {
        const int color = ColorIndexOfMark(store_.Mark(id));
        if (color >= 0 && recolour[static_cast<std::size_t>(color)] >= 0) {
            rowColors_[id] = static_cast<std::uint16_t>(recolour[static_cast<std::size_t>(color)]);
            recoloured = true;
        }
    }
    if (recoloured)
        emit dataChanged(index(0, 0), index(rowCount() - 1, kGridColumnCount - 1),
                         {Qt::ForegroundRole});
    emit ColorsChanged();
}

void ResultModel::SetSortColumn(int column) {
    if (column < kNameColumn || column > kSizeColumn)
        column = kNoSortKey;
    if (column == sortColumn_)
        return;
    const int old = sortColumn_;
    sortColumn_ = column;
    if (old != kNoSortKey)
        emit headerDataChanged(Qt::Horizontal, old, old);
    if (column != kNoSortKey)
        emit headerDataChanged(Qt::Horizontal, column, column);
}

int ResultModel::Sort(int key, bool ascending, int currentRow) {
    if (key < kNameColumn || key > kSizeColumn)
        return currentRow >= 0 && currentRow < rowCount() ? currentRow : 0;
    if (store_.empty())
        return 0;
    const bool hasCurrent = HoldsRow(currentRow);
    const std::uint32_t current = hasCurrent ? IdAt(currentRow) : 0;

    // Only the order changes: the rows stay where they are held.
    std::vector<std::uint32_t> order = SortedRowOrder(store_, order_, key, ascending);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> persistentIds;
    persistentIds.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        persistentIds.push_back(HoldsRow(index.row()) ? IdAt(index.row()) : 0);
    order_ = std::move(order);
    QModelIndexList after;
    if (!before.isEmpty()) {
        std::vector<int> shownAt(order_.size());
        for (std::size_t at = 0; at < order_.size(); ++at)
            shownAt[order_[at]] = static_cast<int>(at);
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after.append(this->index(shownAt[persistentIds[static_cast<std::size_t>(i)]],
                                     before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);

    if (!hasCurrent || store_.Name(current).empty())
        return 0;
    // The first row whose name equals the current row's without regard to
    // case: mostly the current row itself.
    const std::vector<std::uint32_t> same = store_.SameNames(current);
    const auto found = std::find_if(order_.begin(), order_.end(), [&](std::uint32_t id) {
        return std::binary_search(same.begin(), same.end(), id);
    });
    return found != order_.end() ? static_cast<int>(found - order_.begin()) : 0;
}

void ResultModel::SetMeasuringFont(const QFont& font) {
    // Every scan sets the window's font again; what was learnt of it stays.
    if (estimatesReady_ && font == measuringFont_)
        return;
    measuringFont_ = font;
    for (WidthCache& cache : widthCache_)
        cache.clear();
    ForgetMeasured();
    estimatesReady_ = false;
}

int ResultModel::WidestText(int column) const {
    if (column < 0 || column >= kGridColumnCount)
        return 0;
    return widest_[static_cast<std::size_t>(column)];
}

void ResultModel::Measure(std::uint32_t id, const QFontMetrics& metrics) {
    MeasureText(kNameColumn, store_.Name(id), metrics);
    std::string scratch;
    for (int column = kExtColumn; column <= kCopyrightColumn; ++column) {
        // Each text once per column: pooled texts by their id, the mark by
        // its character, Busy by its state.
        std::size_t text;
        if (RowStore::IsPooled(column))
            text = store_.TextId(id, column);
        else if (column == kMarkColumn)
            text = static_cast<unsigned char>(store_.Mark(id));
        else
            text = store_.Busy(id) ? 1 : 0;
        std::vector<bool>& seen = measured_[static_cast<std::size_t>(column)];
        if (text >= seen.size())
            seen.resize(std::max(text + 1, seen.size() * 2));
        if (seen[text])
            continue;
        seen[text] = true;
        MeasureText(column, store_.Text(id, column, scratch), metrics);
    }
}

void ResultModel::MeasureText(int column, std::string_view text, const QFontMetrics& metrics) {
    if (text.empty())
        return;
    // Measured as shown: an escape is wider than what it stands for.
    std::string escaped;
    if (NeedsEscapes(text)) {
        escaped = EscapeControls(text);
        text = escaped;
    }
    int& widest = widest_[static_cast<std::size_t>(column)];
    // Most texts are clearly narrower than the widest one so far; the sum of
    // their characters' advances shows that without laying them out.
    if (const auto estimate = EstimateWidth(text); estimate && *estimate <= widest)
        return;
    widest = std::max(widest, MeasureCached(column, text, metrics));
}

void ResultModel::ForgetMeasured() {
    for (std::vector<bool>& seen : measured_) {
        seen.clear();
        seen.shrink_to_fit();
    }
}

int ResultModel::MeasureCached(int column, std::string_view text, const QFontMetrics& metrics) {
    // Texts that differ only in characters the font draws alike (mostly
    // digits: numbered names, versions) are measured once.
    LookAlikeKey(text, keyScratch_);
    WidthCache& cache = widthCache_[static_cast<std::size_t>(column)];
    if (const auto found = cache.find(keyScratch_); found != cache.end())
        return found->second;
    const int width = metrics.horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    if (cache.size() < kMaxCachedWidths)
        cache.emplace(keyScratch_, width);
    return width;
}

void ResultModel::LookAlikeKey(std::string_view text, std::string& key) const {
    key.assign(text);
    for (char& c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            c = lookAlike_[byte];
    }
}

void ResultModel::FindLookAlikes() {
    for (std::size_t c = 0; c < lookAlike_.size(); ++c)
        lookAlike_[c] = static_cast<char>(c);
    const QFontMetricsF exact(measuringFont_);
    auto width = [&](QChar a, QChar b) {
        const QChar pair[2] = {a, b};
        return exact.horizontalAdvance(QString(pair, 2));
    };
    // A character is compared only with the earlier ones of its advance that
    // stand for themselves; in most fonts only the digits share one.
    for (char16_t c = 0x21; c < 0x7F; ++c) {
        for (char16_t first = 0x21; first < c; ++first) {
            if (lookAlike_[first] != static_cast<char>(first) ||
                charAdvance_[c] != charAdvance_[first])
                continue;
            bool alike = true;
            for (char16_t other = 0x20; other < 0x7F && alike; ++other)
                alike = width(QChar(c), QChar(other)) == width(QChar(first), QChar(other)) &&
                        width(QChar(other), QChar(c)) == width(QChar(other), QChar(first));
            if (alike) {
                lookAlike_[c] = static_cast<char>(first);
                break;
            }
        }
    }
}

std::optional<double> ResultModel::EstimateWidth(std::string_view text) const {
    double sum = estimateSlack_;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        // U+0080 to U+00FF take two bytes, C2 or C3 and a continuation byte.
        if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            c = static_cast<unsigned char>(((c & 0x03) << 6) |
                                           (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            ++i;
        } else if (c >= 0x80) {
            return std::nullopt;
        }
        // Control characters and the soft hyphen are not drawn at their own
        // advance; other scripts are shaped. Those texts are laid out.
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD)
            return std::nullopt;
        sum += charAdvance_[c];
    }
    return sum;
}

void ResultModel::PrepareEstimates(const QFontMetrics& metrics) {
    if (estimatesReady_)
        return;
    const QFontMetricsF exact(measuringFont_);
    for (int c = 0x20; c < 0x100; ++c)
        charAdvance_[static_cast<std::size_t>(c)] = exact.horizontalAdvance(QChar(c));
    // Kerning and rounding make a laid-out text at most a pixel or two wider
    // than the sum of its advances; half the line height is ample for that.
    estimateSlack_ = metrics.height() / 2.0 + 1.0;
    FindLookAlikes();
    estimatesReady_ = true;
}

ColorRef ResultModel::RowColor(ComparisonMark mark) const {
    const int index = ColorIndexOfMark(mark);
    return index < 0 ? kNoRowColor : colors_.colors[static_cast<std::size_t>(index)];
}

std::uint16_t ResultModel::PaletteIndex(ColorRef color) {
    // Mostly the colour asked for last, or one of a handful.
    for (std::size_t at = palette_.size(); at-- > 0;)
        if (palette_[at] == color)
            return static_cast<std::uint16_t>(at);
    if (palette_.size() == kMaxPalette) {
        // Keeps the colours rows show and those of the current set.
        std::vector<bool> keep(palette_.size());
        keep[0] = true;
        for (const std::uint16_t at : rowColors_)
            keep[at] = true;
        std::vector<std::uint16_t> moved(palette_.size());
        std::vector<ColorRef> kept;
        for (std::size_t at = 0; at < palette_.size(); ++at) {
            const bool inSet = std::find(colors_.colors.begin(), colors_.colors.end(),
                                         palette_[at]) != colors_.colors.end();
            if (keep[at] || inSet) {
                moved[at] = static_cast<std::uint16_t>(kept.size());
                kept.push_back(palette_[at]);
            }
        }
        for (std::uint16_t& at : rowColors_)
            at = moved[at];
        palette_ = std::move(kept);
        if (palette_.size() == kMaxPalette)
            return 0; // every colour in use: the row shows the default text colour
    }
    palette_.push_back(color);
    return static_cast<std::uint16_t>(palette_.size() - 1);
}

} // namespace sorvane::view
