#include "engine/scan/row_sort.h"

#include "engine/text/text_utils.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace sorvane {

std::string_view ColumnView(const ComparisonRow& row, int column, std::string& scratch) {
    switch (column) {
    case kRootColumn:
        return row.Name.find('/') == std::string::npos ? "." : "";
    case kNameColumn:
        return row.Name;
    case kExtColumn:
        return row.Ext;
    case kSourceLanguageColumn:
        return row.SourceLanguage;
    case kSourceVersionColumn:
        return row.SourceVersion;
    case kMarkColumn:
        return MarkText(row.Mark);
    case kTargetVersionColumn:
        return row.TargetVersion;
    case kTargetLanguageColumn:
        return row.TargetLanguage;
    case kBusyColumn:
        return row.Busy ? "*" : "";
    case kDescriptionColumn:
        return row.Description;
    case kCopyrightColumn:
        return row.Copyright;
    case kSizeColumn:
        scratch = std::to_string(row.SourceSize);
        return scratch;
    default:
        return "";
    }
}

std::string_view ColumnCaption(int column) {
    switch (column) {
    case kNameColumn:
        return "Name";
    case kExtColumn:
        return "Ext";
    case kSourceLanguageColumn:
    case kTargetLanguageColumn:
        return "Language";
    case kSourceVersionColumn:
        return "Source Version";
    case kMarkColumn:
        return "=";
    case kTargetVersionColumn:
        return "Target Version";
    case kBusyColumn:
        return "Busy";
    case kDescriptionColumn:
        return "Description";
    case kCopyrightColumn:
        return "Copyright";
    default:
        return {};
    }
}

namespace {

// Columns with more different texts than this are sorted by their texts.
constexpr std::size_t kMaxRanked = 4096;

// The folded texts of one column, end to end, with the offset of each row's
// text. Byte order of folded UTF-8 is code point order, which is the order
// CompareIgnoreCase gives, so the comparison needs no decoding.
class FoldedColumn {
public:
    FoldedColumn(const std::vector<ComparisonRow>& rows, int column) {
        offsets_.reserve(rows.size() + 1);
        offsets_.push_back(0);
        std::string scratch;
        for (const ComparisonRow& row : rows) {
            AppendFolded(ColumnView(row, column, scratch));
            offsets_.push_back(static_cast<std::uint32_t>(bytes_.size()));
        }
    }

    std::string_view Text(std::uint32_t row) const {
        return std::string_view(bytes_).substr(offsets_[row], offsets_[row + 1] - offsets_[row]);
    }

    /// When the column holds at most `limit` different texts, gives each row
    /// the place of its text among them (equal texts, equal places), so rows
    /// compare as numbers; otherwise nothing. Extensions, languages, marks and
    /// most descriptions have a few texts each over thousands of rows.
    std::optional<std::vector<std::uint32_t>> Ranks(std::size_t limit) const {
        const std::size_t rows = offsets_.size() - 1;
        std::unordered_map<std::string_view, std::uint32_t> ids;
        std::vector<std::uint32_t> idOfRow(rows);
        for (std::size_t row = 0; row < rows; ++row) {
            const auto [at, added] =
                ids.try_emplace(Text(static_cast<std::uint32_t>(row)),
                                static_cast<std::uint32_t>(ids.size()));
            if (added && ids.size() > limit)
                return std::nullopt;
            idOfRow[row] = at->second;
        }
        std::vector<std::pair<std::string_view, std::uint32_t>> distinct(ids.begin(), ids.end());
        std::sort(distinct.begin(), distinct.end());
        std::vector<std::uint32_t> rankOfId(distinct.size());
        for (std::size_t rank = 0; rank < distinct.size(); ++rank)
            rankOfId[distinct[rank].second] = static_cast<std::uint32_t>(rank);
        for (std::uint32_t& id : idOfRow)
            id = rankOfId[id];
        return idOfRow;
    }

private:
    void AppendFolded(std::string_view text) {
        const bool ascii = std::all_of(text.begin(), text.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii) {
            bytes_ += FoldCase(std::string(text));
            return;
        }
        for (const char c : text)
            bytes_.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
    }

    std::string bytes_;
    std::vector<std::uint32_t> offsets_;
};

} // namespace

std::string ColumnText(const ComparisonRow& row, int column) {
    std::string scratch;
    return std::string(ColumnView(row, column, scratch));
}

int CompareRowsForSort(const ComparisonRow& a, const ComparisonRow& b, int sortKey) {
    const int first = sortKey == kNameColumn ? kRootColumn : sortKey;
    std::string scratchA, scratchB;
    // The filler column is always empty and never breaks a tie.
    for (int column = first; column < kFillerColumn; ++column) {
        const int c =
            CompareIgnoreCase(ColumnView(a, column, scratchA), ColumnView(b, column, scratchB));
        if (c != 0)
            return c;
    }
    return 0;
}

std::vector<std::uint32_t> SortedRowOrder(const std::vector<ComparisonRow>& rows, int sortKey,
                                          bool ascending) {
    std::vector<std::uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    if (sortKey < kNameColumn || sortKey > kSizeColumn || rows.size() < 2)
        return order;

    // The same column sequence as CompareRowsForSort: a Name sort starts at
    // the root marker; the filler is always empty and never breaks a tie.
    // The rows are sorted by the first column, then each run of rows equal so
    // far by the next one. Each sort is stable, so rows equal in every column
    // keep their order, and a column is folded only when some rows tie on all
    // the columns before it: a sort by Name needs the root marker and the
    // names only.
    const int first = sortKey == kNameColumn ? kRootColumn : sortKey;
    const auto levels = static_cast<std::size_t>(kFillerColumn - first);
    struct Column {
        std::optional<FoldedColumn> texts;
        std::optional<std::vector<std::uint32_t>> ranks;
    };
    std::vector<Column> columns(levels);
    struct Run {
        std::size_t begin, end, level;
    };
    std::vector<Run> runs{{0, order.size(), 0}};
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        Column& column = columns[run.level];
        if (!column.texts) {
            column.texts.emplace(rows, first + static_cast<int>(run.level));
            column.ranks = column.texts->Ranks(kMaxRanked);
        }
        const auto begin = order.begin() + static_cast<std::ptrdiff_t>(run.begin);
        const auto end = order.begin() + static_cast<std::ptrdiff_t>(run.end);
        // Whether rows a and b have the same text; only for the run just sorted.
        std::function<bool(std::uint32_t, std::uint32_t)> same;
        if (column.ranks) {
            const std::vector<std::uint32_t>& rank = *column.ranks;
            std::stable_sort(begin, end, [&](std::uint32_t a, std::uint32_t b) {
                return ascending ? rank[a] < rank[b] : rank[a] > rank[b];
            });
            same = [&](std::uint32_t a, std::uint32_t b) { return rank[a] == rank[b]; };
        } else {
            const FoldedColumn& texts = *column.texts;
            std::stable_sort(begin, end, [&](std::uint32_t a, std::uint32_t b) {
                const int c = texts.Text(a).compare(texts.Text(b));
                return ascending ? c < 0 : c > 0;
            });
            same = [&](std::uint32_t a, std::uint32_t b) { return texts.Text(a) == texts.Text(b); };
        }
        if (run.level + 1 == levels)
            continue;
        for (std::size_t i = run.begin; i < run.end;) {
            std::size_t j = i + 1;
            while (j < run.end && same(order[j], order[i]))
                ++j;
            if (j - i > 1)
                runs.push_back({i, j, run.level + 1});
            i = j;
        }
    }
    return order;
}

void SortRows(std::vector<ComparisonRow>& rows, int sortKey, bool ascending) {
    if (sortKey < kNameColumn || sortKey > kSizeColumn)
        return;
    // The rows are moved round the cycles of the order in place: a second
    // vector of a million rows would double the memory the rows take.
    std::vector<std::uint32_t> order = SortedRowOrder(rows, sortKey, ascending);
    for (std::uint32_t start = 0; start < order.size(); ++start) {
        if (order[start] == start)
            continue; // in place, or moved already
        ComparisonRow first = std::move(rows[start]);
        std::uint32_t at = start;
        for (;;) {
            const std::uint32_t from = order[at];
            order[at] = at;
            if (from == start) {
                rows[at] = std::move(first);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
}

} // namespace sorvane
