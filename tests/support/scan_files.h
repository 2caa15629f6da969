#pragma once
// Files for scan tests: small PE images with a version resource, made to
// order, and a recording observer.

#include "engine/scan_driver.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::test {

struct VersionedFile {
    VersionedFile(std::array<std::uint16_t, 4> v, std::uint16_t lang = 0x0409,
                  std::string desc = {}, std::string copy = {}, std::size_t extra = 0)
        : version(v), language(lang), description(std::move(desc)), copyright(std::move(copy)),
          extraBytes(extra) {}

    std::array<std::uint16_t, 4> version;
    std::uint16_t language;
    std::string description;
    std::string copyright;
    std::size_t extraBytes; ///< appended to change the size only
};

/// A PE32 image whose version resource says what `file` says.
std::string VersionedPe(const VersionedFile& file);

/// Collects what a scan reports.
class RecordingObserver : public ScanObserver {
public:
    void PathsChanged(const std::string& source, const std::string& target) override {
        paths.emplace_back(source, target);
    }
    void RowAdded(const ComparisonRow& row) override { rows.push_back(row); }
    void Progress(const ScanProgress& p) override { progress.push_back(p); }
    void FolderChanged(const std::string& folder) override { folders.push_back(folder); }

    std::vector<std::pair<std::string, std::string>> paths;
    std::vector<ComparisonRow> rows;
    std::vector<ScanProgress> progress;
    std::vector<std::string> folders;
};

} // namespace sorvane::test
