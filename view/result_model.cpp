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
    : QAbstractTableModel(parent), colors_(ColorSet::Defaults(QGuiApplication::palette())) {}

int ResultModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return std::max(1, static_cast<int>(rows_.size()));
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() < 0 || index.column() >= kGridColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        if (const ComparisonRow* row = RowAt(index.row())) {
            std::string scratch;
            return ShownText(ColumnView(*row, index.column(), scratch));
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
        if (RowAt(index.row()) != nullptr) {
            const ColorRef color = rowColors_[static_cast<std::size_t>(index.row())];
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
    if (index.isValid() && RowAt(index.row()) == nullptr)
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
    rows_.clear();
    rows_.shrink_to_fit();
    rowColors_.clear();
    rowColors_.shrink_to_fit();
    endResetModel();

    for (WidthCache& cache : widthCache_)
        cache.clear();
    const QFontMetrics metrics(measuringFont_);
    widest_.fill(0);
    for (int column = kNameColumn; column < kGridColumnCount; ++column)
        widest_[static_cast<std::size_t>(column)] = metrics.horizontalAdvance(Caption(column));
}

void ResultModel::ReserveRows(std::int64_t count) {
    if (count <= 0 || static_cast<std::uint64_t>(count) <= rows_.capacity())
        return;
    // Room that is never filled (a scan that shows only a few of its files)
    // costs address space, not memory. Where even that is short, the rows
    // simply grow as they come.
    try {
        rows_.reserve(static_cast<std::size_t>(count));
        rowColors_.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

void ResultModel::AppendRows(std::vector<ComparisonRow> rows) {
    if (rows.empty())
        return;
    const QFontMetrics metrics(measuringFont_);
    PrepareEstimates(metrics);
    for (const ComparisonRow& row : rows)
        Measure(row, metrics);

    // The first rows take the place of the empty placeholder row: row 0
    // changes and only the rest is inserted.
    const bool replacesPlaceholder = rows_.empty();
    const int first = replacesPlaceholder ? 1 : static_cast<int>(rows_.size());
    const int last = static_cast<int>(rows_.size() + rows.size()) - 1;
    const bool inserts = first <= last;
    if (inserts)
        beginInsertRows({}, first, last);
    for (const ComparisonRow& row : rows)
        rowColors_.push_back(RowColor(row.Mark));
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                 std::make_move_iterator(rows.end()));
    if (inserts)
        endInsertRows();
    if (replacesPlaceholder)
        emit dataChanged(index(0, 0), index(0, kGridColumnCount - 1));
}

bool ResultModel::HasResults() const {
    return !rows_.empty() && !rows_.front().Name.empty();
}

const ComparisonRow* ResultModel::RowAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
}

void ResultModel::UpdateTarget(int row, ComparisonMark mark, const std::string& targetVersion,
                               const std::string& targetLanguage, const FileStamp& targetStamp) {
    if (RowAt(row) == nullptr)
        return;
    const auto at = static_cast<std::size_t>(row);
    rows_[at].Mark = mark;
    rows_[at].TargetVersion = targetVersion;
    rows_[at].TargetLanguage = targetLanguage;
    rows_[at].TargetStamp = targetStamp;
    rowColors_[at] = RowColor(mark);
    emit dataChanged(index(row, 0), index(row, kGridColumnCount - 1));
}

void ResultModel::SetColorSet(const ColorSet& colors) {
    const ColorSet old = colors_;
    colors_ = colors;
    bool recoloured = false;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const auto color = static_cast<std::size_t>(ColorIndexOfMark(rows_[i].Mark));
        const bool recolourable =
            (color >= kNewerSourceColor && color <= kIncomparableColor) || color == kOrphansColor;
        if (recolourable && old.colors[color] != colors.colors[color]) {
            rowColors_[i] = colors.colors[color];
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
    if (rows_.empty())
        return 0;
    const ComparisonRow* current = RowAt(currentRow);
    const std::string name = current != nullptr ? current->Name : std::string();

    const std::vector<std::uint32_t> order = SortedRowOrder(rows_, key, ascending);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Position i takes the row from order[i]. Each cycle of the permutation
    // is moved round in place, so the rows are never held twice.
    std::vector<int> newRowOf(rows_.size());
    std::vector<bool> placed(rows_.size());
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (placed[start])
            continue;
        ComparisonRow row = std::move(rows_[start]);
        const ColorRef color = rowColors_[start];
        std::size_t at = start;
        while (order[at] != start) {
            rows_[at] = std::move(rows_[order[at]]);
            rowColors_[at] = rowColors_[order[at]];
            newRowOf[order[at]] = static_cast<int>(at);
            placed[at] = true;
            at = order[at];
        }
        rows_[at] = std::move(row);
        rowColors_[at] = color;
        newRowOf[start] = static_cast<int>(at);
        placed[at] = true;
    }

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);

    if (name.empty())
        return 0;
    const auto found = std::find_if(rows_.begin(), rows_.end(), [&](const ComparisonRow& row) {
        return EqualsIgnoreCase(row.Name, name);
    });
    return found != rows_.end() ? static_cast<int>(found - rows_.begin()) : 0;
}

void ResultModel::SetMeasuringFont(const QFont& font) {
    // Every scan sets the window's font again; what was learnt of it stays.
    if (estimatesReady_ && font == measuringFont_)
        return;
    measuringFont_ = font;
    for (WidthCache& cache : widthCache_)
        cache.clear();
    estimatesReady_ = false;
}

int ResultModel::WidestText(int column) const {
    if (column < 0 || column >= kGridColumnCount)
        return 0;
    return widest_[static_cast<std::size_t>(column)];
}

void ResultModel::Measure(const ComparisonRow& row, const QFontMetrics& metrics) {
    std::string scratch;
    std::string escaped;
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column) {
        std::string_view text = ColumnView(row, column, scratch);
        if (text.empty())
            continue;
        // Measured as shown: an escape is wider than what it stands for.
        if (NeedsEscapes(text)) {
            escaped = EscapeControls(text);
            text = escaped;
        }
        int& widest = widest_[static_cast<std::size_t>(column)];
        // Most texts are clearly narrower than the widest one so far; the sum
        // of their characters' advances shows that without laying them out.
        if (const auto estimate = EstimateWidth(text); estimate && *estimate <= widest)
            continue;
        widest = std::max(widest, MeasureCached(column, text, metrics));
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

} // namespace sorvane::view
