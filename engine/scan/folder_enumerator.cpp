#include "engine/scan/folder_enumerator.h"

#include "engine/files/opened_file.h"
#include "engine/text/text_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <set>
#include <utility>

namespace sorvane {
namespace {

// Matches folded code points; "*" backtracks to the last star only, which
// is linear in practice and never exponential.
bool MatchPattern(const std::u32string& name, const std::u32string& pattern) {
    std::size_t n = 0, p = 0;
    std::size_t starP = std::u32string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++n, ++p;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

std::u32string Folded(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(FoldCaseChar(NextCodePoint(text, i)));
    return out;
}

std::vector<std::u32string> Patterns(std::string_view filter) {
    std::vector<std::u32string> patterns;
    std::size_t i = 0;
    while (i < filter.size()) {
        const auto start = filter.find_first_not_of("; \t", i);
        if (start == std::string_view::npos)
            break;
        const auto end = filter.find_first_of("; \t", start);
        patterns.push_back(Folded(filter.substr(start, end - start)));
        i = end == std::string_view::npos ? filter.size() : end;
    }
    return patterns;
}

bool Matches(std::string_view name, const std::vector<std::u32string>& patterns) {
    if (patterns.empty())
        return true;
    const std::u32string folded = Folded(name);
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::u32string& p) { return MatchPattern(folded, p); });
}

bool NameLess(const std::string& a, const std::string& b) {
    const int c = CompareIgnoreCase(a, b);
    return c != 0 ? c < 0 : a < b;
}

class Directory {
public:
    /// Takes over `fd`, an open folder.
    explicit Directory(int fd) : dir_(::fdopendir(fd)) {
        if (dir_ == nullptr) {
            error_ = errno;
            ::close(fd);
        }
    }
    ~Directory() {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return dir_; }
    /// Why the folder could not be read, when get() is null.
    int error() const { return error_; }

private:
    DIR* dir_;
    int error_ = 0;
};

std::string ChildPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

} // namespace

bool MatchesFilter(std::string_view name, std::string_view filter) {
    return Matches(name, Patterns(filter));
}

void FolderEnumerator::Walk(const std::string& root, const FolderListedHandler* onFolder) {
    entries_.clear();
    folders_.clear();
    unreadable_.clear();
    walkedRoot_ = root;
    walkedFilter_ = FileFilter;
    walkedSubfolders_ = IncludeSubfolders;
    walked_ = true;
    const auto patterns = Patterns(FileFilter);
    // The entries of one folder that cannot be read, sorted like its files.
    std::vector<std::pair<std::string, int>> unreadableHere;
    const auto note = [this](std::string path, int error) {
        // No memory for a folder's buffer is no fault of the folder.
        if (error == ENOMEM)
            throw std::bad_alloc();
        unreadable_.push_back({std::move(path), std::error_code(error, std::generic_category())});
    };
    // Whether an entry whose kind is unknown could have been reported or
    // entered; `type` is what the listing said about it, if anything.
    const auto mayMatter = [&](unsigned char type, std::string_view name) {
        if (type == DT_DIR)
            return IncludeSubfolders;
        return Matches(name, patterns) || (type == DT_UNKNOWN && IncludeSubfolders);
    };

    struct Pending {
        std::string relative; // "" for the root, else "a/b/"
    };
    std::set<std::pair<dev_t, ino_t>> visited;
    // A stack gives depth-first order; sub-folders are pushed in reverse so
    // that they come out sorted.
    std::vector<Pending> stack{{""}};
    while (!stack.empty() && !stop_.load(std::memory_order_relaxed)) {
        const Pending folder = std::move(stack.back());
        stack.pop_back();
        const std::string full = folder.relative.empty()
                                     ? root
                                     : (root == "/" ? root : root + "/") +
                                           folder.relative.substr(0, folder.relative.size() - 1);
        // The root may be a link; below it, links to folders are never entered.
        const int noFollow = folder.relative.empty() ? 0 : O_NOFOLLOW;
        // One descriptor at a time, whatever the depth: the walk must work
        // under a low limit of open files.
        const int fd = OpenLongPath(full, O_RDONLY | O_DIRECTORY | noFollow);
        if (fd < 0) {
            // A folder that vanished, or became a file or a link since it was
            // listed, is no longer part of the tree.
            const int error = errno;
            if (!IsMissingPathError(error) && !(noFollow != 0 && error == ELOOP))
                note(full, error);
            continue;
        }
        Directory dir(fd);
        if (dir.get() == nullptr) {
            note(full, dir.error());
            continue;
        }
        struct stat self {};
        if (::fstat(::dirfd(dir.get()), &self) != 0) {
            note(full, errno);
            continue;
        }
        if (!visited.insert({self.st_dev, self.st_ino}).second)
            continue; // a bind mount can bring a folder round again

        std::vector<std::pair<std::string, std::int64_t>> files;
        std::vector<std::string> subfolders;
        unreadableHere.clear();
        int listingError = 0;
        bool searchable = false;
        for (;;) {
            errno = 0;
            const dirent* e = ::readdir(dir.get());
            if (e == nullptr) {
                listingError = errno; // what was listed before still counts
                break;
            }
            const std::string_view name = e->d_name;
            if (name == "." || name == "..")
                continue;
            // A listing that names a regular file needs no stat of its own
            // once one file of the folder could be looked up: the size is
            // learnt when it is asked for, and most scans learn it by
            // opening the file anyway.
            if (e->d_type == DT_REG && searchable) {
                if (Matches(name, patterns))
                    files.emplace_back(std::string(name), kSizeUnknown);
                continue;
            }
            // So does one that names a folder: the folder is opened, and
            // looked at, when its turn comes.
            if (e->d_type == DT_DIR && searchable) {
                if (IncludeSubfolders)
                    subfolders.emplace_back(name);
                continue;
            }
            struct stat st {};
            if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // A folder with read but without search permission lists
                // names whose kind cannot be learnt.
                const int error = errno;
                if (!IsMissingPathError(error) && mayMatter(e->d_type, name))
                    unreadableHere.emplace_back(name, error);
                continue;
            }
            searchable = true;
            if (S_ISDIR(st.st_mode)) {
                if (IncludeSubfolders)
                    subfolders.emplace_back(name);
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                // Links to files count as files; links to folders are not
                // followed; a link that leads nowhere is no file, one that
                // leads into a folder that cannot be searched is unreadable.
                if (::fstatat(::dirfd(dir.get()), e->d_name, &st, 0) != 0) {
                    const int error = errno;
                    if (!IsMissingPathError(error) && Matches(name, patterns))
                        unreadableHere.emplace_back(name, error);
                    continue;
                }
                if (S_ISDIR(st.st_mode))
                    continue;
            }
            if (Matches(name, patterns))
                files.emplace_back(std::string(name), static_cast<std::int64_t>(st.st_size));
        }
        std::sort(files.begin(), files.end(),
                  [](const auto& a, const auto& b) { return NameLess(a.first, b.first); });
        std::sort(subfolders.begin(), subfolders.end(), NameLess);
        std::sort(unreadableHere.begin(), unreadableHere.end(),
                  [](const auto& a, const auto& b) { return NameLess(a.first, b.first); });
        if (listingError != 0)
            note(full, listingError);
        for (const auto& [name, error] : unreadableHere)
            note(ChildPath(full, name), error);

        if (onFolder != nullptr) {
            if (!files.empty()) {
                std::vector<std::string> paths;
                paths.reserve(files.size());
                for (auto& [name, size] : files)
                    paths.push_back(folder.relative + name);
                listed_ += static_cast<std::int64_t>(paths.size());
                (*onFolder)(full, std::move(paths));
            }
        } else {
            const auto folderIndex = static_cast<std::uint32_t>(folders_.size());
            folders_.push_back(full);
            for (auto& [name, size] : files)
                entries_.push_back({folder.relative + name, size, folderIndex});
        }
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            stack.push_back({folder.relative + *it + "/"});
    }
}

std::int64_t FolderEnumerator::WalkFolders(const std::string& root,
                                           const FolderListedHandler& onFolder) {
    listed_ = 0;
    struct ClearStop {
        FolderEnumerator& walk;
        ~ClearStop() { walk.stop_.store(false); }
    } clearStop{*this};
    Walk(root, &onFolder);
    walked_ = false; // nothing kept: the next search walks afresh
    return listed_;
}

std::int64_t FolderEnumerator::CountFiles(const std::string& root) {
    Walk(root);
    return static_cast<std::int64_t>(entries_.size());
}

void FolderEnumerator::SearchFiles(const std::string& root, const FileFoundHandler& onFileFound) {
    if (!walked_ || walkedRoot_ != root || walkedFilter_ != FileFilter ||
        walkedSubfolders_ != IncludeSubfolders)
        Walk(root);
    walked_ = false; // the next search walks afresh unless counted again
    reported_ = 0;
    for (const Entry& entry : entries_) {
        if (stop_.load(std::memory_order_relaxed))
            break;
        currentSize_ = entry.size;
        currentFolder_ = folders_[entry.folder];
        currentPath_ = &entry.relativePath;
        ++reported_;
        bool cancel = false;
        onFileFound(entry.relativePath, cancel);
        if (cancel)
            break;
    }
    stop_.store(false);
    currentSize_ = 0;
    currentPath_ = nullptr;
}

std::int64_t FolderEnumerator::CurrentFileSize() const {
    if (currentSize_ != kSizeUnknown)
        return currentSize_;
    currentSize_ = 0;
    if (currentPath_ == nullptr)
        return currentSize_;
    const auto slash = currentPath_->rfind('/');
    const std::string path =
        ChildPath(currentFolder_, slash == std::string::npos
                                      ? std::string_view(*currentPath_)
                                      : std::string_view(*currentPath_).substr(slash + 1));
    const int fd = OpenLongPath(path, O_PATH);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0)
        currentSize_ = static_cast<std::int64_t>(st.st_size);
    if (fd >= 0)
        ::close(fd);
    return currentSize_;
}

} // namespace sorvane
