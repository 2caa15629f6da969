#pragma once
// The rows of `compare` as JSON, CSV or a list of paths, written a row at a
// time: while the scan still runs when the rows keep the order they are
// found in, or afterwards from the sorted rows. Either way the text is the
// same.

#include "engine/scan/comparison.h"
#include "engine/scan/scan_driver.h"
#include "engine/text/text_utils.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

/// What the output begins with: the compared paths and the kind of scan.
struct ScanHeading {
    std::string source;
    std::string target;
    ScanMode mode = ScanMode::Compare;
};

class RowOutput {
public:
    virtual ~RowOutput() = default;

    /// Before the first row; once.
    virtual void Begin(const ScanHeading& heading) = 0;
    /// One row. When memory runs out (std::bad_alloc) nothing of the row
    /// stays written, so the text can still be ended properly.
    virtual void Row(const ComparisonRow& row) = 0;
    /// After the last row: what only the end of the scan knows.
    virtual void End(const ScanOutcome& outcome) = 0;

    /// Rows (or, for a list, paths) written so far.
    std::size_t Written() const { return written_; }

protected:
    std::size_t written_ = 0;
};

std::unique_ptr<RowOutput> MakeJsonOutput(std::ostream& out);
/// CSV of the rows; for spreadsheets a cell that would start a formula gets
/// a leading "'", Exact keeps every text as it is.
std::unique_ptr<RowOutput> MakeCsvOutput(std::ostream& out, CsvCells cells);
/// The full paths of the rows with `mark`, each ended by LF or NUL. Names
/// are written as they are on disk: they are data for other programs.
std::unique_ptr<RowOutput> MakeListOutput(std::ostream& out, ComparisonMark mark,
                                          bool nullSeparated);

/// Why an entry could not be read, with what the library that read it said.
std::string UnreadableText(const UnreadableEntry& entry);

/// The columns the table and the page show: a source-only scan has no
/// target side.
std::vector<int> ShownColumns(ScanMode mode);

/// The rows as a table of aligned columns under their captions, each line
/// after `indent`; control characters of the texts are shown as escapes.
void WriteTable(std::ostream& out, ScanMode mode, const std::vector<ComparisonRow>& rows,
                std::string_view indent = {});

} // namespace sorvane::cli
