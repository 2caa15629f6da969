#include "folder_enumerator.h"

#include "text_utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    explicit Directory(int fd) : dir_(fd >= 0 ? ::fdopendir(fd) : nullptr) {
        if (fd >= 0 && dir_ == nullptr)
            ::close(fd);
    }
    ~Directory() {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

} // namespace

bool MatchesFilter(std::string_view name, std::string_view filter) {
    return Matches(name, Patterns(filter));
}

void FolderEnumerator::Walk(const std::string& root) {
    entries_.clear();
    folders_.clear();
    walkedRoot_ = root;
    walkedFilter_ = FileFilter;
    walkedSubfolders_ = IncludeSubfolders;
    walked_ = true;
    const auto patterns = Patterns(FileFilter);

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
        const int fd = ::open(full.c_str(), O_RDONLY | O_DIRECTORY | noFollow | O_CLOEXEC);
        Directory dir(fd);
        if (dir.get() == nullptr)
            continue; // unreadable folders are skipped
        struct stat self {};
        if (::fstat(::dirfd(dir.get()), &self) != 0 ||
            !visited.insert({self.st_dev, self.st_ino}).second)
            continue; // a bind mount can bring a folder round again

        std::vector<std::pair<std::string, std::int64_t>> files;
        std::vector<std::string> subfolders;
        while (const dirent* e = ::readdir(dir.get())) {
            const std::string_view name = e->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st {};
            if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                if (IncludeSubfolders)
                    subfolders.emplace_back(name);
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                // Links to files count as files; links to folders are not followed.
                if (::fstatat(::dirfd(dir.get()), e->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode))
                    continue;
            }
            if (Matches(name, patterns))
                files.emplace_back(std::string(name), static_cast<std::int64_t>(st.st_size));
        }
        std::sort(files.begin(), files.end(),
                  [](const auto& a, const auto& b) { return NameLess(a.first, b.first); });
        std::sort(subfolders.begin(), subfolders.end(), NameLess);

        const auto folderIndex = static_cast<std::uint32_t>(folders_.size());
        folders_.push_back(full);
        for (auto& [name, size] : files)
            entries_.push_back({folder.relative + name, size, folderIndex});
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            stack.push_back({folder.relative + *it + "/"});
    }
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
        ++reported_;
        bool cancel = false;
        onFileFound(entry.relativePath, cancel);
        if (cancel)
            break;
    }
    stop_.store(false);
    currentSize_ = 0;
}

} // namespace sorvane
