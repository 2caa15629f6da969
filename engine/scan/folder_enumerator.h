#pragma once
// Finds the files of a folder tree that match a filter, in a stable order:
// folder by folder, the files of a folder before its sub-folders, names
// sorted without regard to case. Links to folders are not followed. Folders
// and entries that cannot be read are listed with the reason, not skipped
// in silence.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace sorvane {

/// A file or folder that is there but could not be read, and why.
struct UnreadableEntry {
    std::string path; ///< full path (ARCHIVE/member for a member of an archive)
    std::error_code error;
    /// What a library that read it said beyond the code; usually empty.
    std::string detail = {};
    bool operator==(const UnreadableEntry&) const = default;
};

/// True when `name` matches one of the patterns of `filter`: patterns are
/// separated by ";" or blanks, "*" stands for any run of characters and "?"
/// for one, letter case is ignored. An empty filter matches every name.
bool MatchesFilter(std::string_view name, std::string_view filter);

class FolderEnumerator {
public:
    /// Called once per file with its path relative to the root ("/" between
    /// folders, no leading "/"). Setting `cancel` ends the search after this file.
    using FileFoundHandler = std::function<void(const std::string& relativePath, bool& cancel)>;

    /// Wildcard patterns, see MatchesFilter.
    std::string FileFilter;
    /// Descend into sub-folders.
    bool IncludeSubfolders = false;

    /// The number of files SearchFiles will report for the same root, filter
    /// and sub-folder setting. The tree is walked here and the result kept, so
    /// the following SearchFiles reports exactly these files without a second walk.
    /// Throws std::bad_alloc when memory runs out, the system's included.
    std::int64_t CountFiles(const std::string& root);

    /// Reports every matching file under `root` through `onFileFound`, on the
    /// caller's thread, before it returns. Walks first, like CountFiles, unless
    /// the same walk was just counted.
    void SearchFiles(const std::string& root, const FileFoundHandler& onFileFound);

    /// Called once per folder that has matching files, with the folder (a full
    /// path) and its files (relative to the root, in the order SearchFiles
    /// reports them), as soon as the folder is listed.
    using FolderListedHandler =
        std::function<void(const std::string& folder, std::vector<std::string>&& relativePaths)>;

    /// Walks like CountFiles but hands over the files of each folder as the
    /// walk goes, so they can be worked on before the walk ends; gives the
    /// number of files. Keeps nothing for a following SearchFiles. Ends early
    /// on RequestStop (and clears the request then). Throws std::bad_alloc
    /// when memory runs out, and what `onFolder` throws.
    std::int64_t WalkFolders(const std::string& root, const FolderListedHandler& onFolder);

    /// During FileFound: the size in bytes of the reported file (0 when it
    /// is gone). Learnt on the first call when the walk did not need it.
    std::int64_t CurrentFileSize() const;
    /// During FileFound: the folder being searched (a full path).
    const std::string& CurrentFolder() const { return currentFolder_; }
    /// During FileFound: the files reported so far, the current one included.
    std::int64_t FilesReported() const { return reported_; }

    /// Asks a running walk to end early (from any thread); the walk then
    /// reports the files it found so far.
    void RequestStop() { stop_.store(true); }

    /// What the last walk could not read, in the order it met them: folders
    /// it could not open or list (the files listed before a listing failed
    /// are still reported), and entries whose kind it could not learn when
    /// their name matches the filter or they may be folders to enter. A
    /// missing root, entries that vanish during the walk and links that lead
    /// nowhere are not in it.
    const std::vector<UnreadableEntry>& Unreadable() const { return unreadable_; }

private:
    struct Entry {
        std::string relativePath;
        std::int64_t size = 0;
        std::uint32_t folder = 0; // index into folders_
    };

    void Walk(const std::string& root, const FolderListedHandler* onFolder = nullptr);

    std::vector<Entry> entries_;
    std::vector<std::string> folders_;
    std::vector<UnreadableEntry> unreadable_;
    std::string walkedRoot_;
    std::string walkedFilter_;
    bool walkedSubfolders_ = false;
    bool walked_ = false;

    static constexpr std::int64_t kSizeUnknown = -1;
    mutable std::int64_t currentSize_ = 0;
    const std::string* currentPath_ = nullptr;
    std::string currentFolder_;
    std::int64_t reported_ = 0;
    std::int64_t listed_ = 0; // files handed over by WalkFolders
    std::atomic<bool> stop_{false};
};

} // namespace sorvane
