#pragma once
// Files for scan tests: small PE images with a version resource, made to
// order, a recording observer, trees deeper than a path can name, and a
// forked child that runs under limits (open files, memory, processes, an
// unprivileged user).

#include "engine/scan/scan_driver.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

/// The same image made a .NET assembly: a CLI header and metadata whose
/// Assembly table names `name` with `assemblyVersion`, neutral, unsigned.
std::string AssemblyPe(const VersionedFile& file, std::array<std::uint16_t, 4> assemblyVersion,
                       const std::string& name = "Library");

/// Collects what a scan reports.
class RecordingObserver : public ScanObserver {
public:
    void PathsChanged(const std::string& source, const std::string& target) override {
        paths.emplace_back(source, target);
    }
    void RowAdded(ComparisonRow row) override { rows.push_back(std::move(row)); }
    void Progress(const ScanProgress& p) override { progress.push_back(p); }
    void FolderChanged(const std::string& folder) override { folders.push_back(folder); }

    std::vector<std::pair<std::string, std::string>> paths;
    std::vector<ComparisonRow> rows;
    std::vector<ScanProgress> progress;
    std::vector<std::string> folders;
};

/// Writes `contents` to `relative` below `root`, making the folders on the
/// way one at a time, so the whole path may be longer than PATH_MAX.
void WriteDeep(const std::string& root, std::string_view relative, std::string_view contents);

/// Removes `relative` below `root` with everything in it, however deep.
void RemoveDeep(const std::string& root, std::string_view relative);

/// Every entry below `folder` (itself included) with what it holds: kind,
/// permission bits, owner, size, modification time and a hash of the bytes
/// of a file, the target of a link; one sorted line each. Two equal
/// digests mean nothing below the folder changed.
std::string TreeDigest(const std::string& folder);

/// Gives every entry below `folder` (itself included) to `uid` and `gid`,
/// links themselves rather than what they lead to.
void ChownDeep(const std::string& folder, unsigned uid, unsigned gid);

/// What a forked child may use.
struct ChildLimits {
    /// Descriptors it may open besides stdin, stdout, stderr and the pipe
    /// that carries its output back.
    std::optional<int> freeDescriptors;
    /// Address space it may map beyond what it has mapped when it starts.
    std::optional<std::size_t> spareAddressSpace;
    /// Processes and threads of its user. Root is never held to this, so
    /// the child also gives up root.
    std::optional<int> processes;
    /// Run as the user nobody when the tests run as root, who reads and
    /// enters everything whatever the permissions say.
    bool unprivileged = false;

    ChildLimits& FreeDescriptors(int count) { return freeDescriptors = count, *this; }
    ChildLimits& SpareAddressSpace(std::size_t bytes) { return spareAddressSpace = bytes, *this; }
    ChildLimits& Processes(int count) { return processes = count, *this; }
    ChildLimits& Unprivileged() { return unprivileged = true, *this; }
};

struct ChildResult {
    /// False when the limits could not be put in place (the test skips).
    bool ran = false;
    /// The exit status, or 128 plus the signal that ended the child.
    int status = -1;
    /// What the body wrote into its argument.
    std::string output;
};

/// Runs `body` in a forked child under `limits`: its return value is the
/// child's exit status, and what it writes into its argument comes back in
/// `output`. The parent must have no other threads.
ChildResult RunInChild(const ChildLimits& limits, const std::function<int(std::string&)>& body);

} // namespace sorvane::test
