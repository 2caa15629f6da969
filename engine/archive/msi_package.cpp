#include "engine/archive/msi_package.h"

#include "engine/archive/member_bytes.h"

#include "engine/files/opened_file.h"

#include <algorithm>
#include "engine/archive/library_calls.h"
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace sorvane {
namespace {

// ---------------------------------------------------------------------------
// GLib and libmsi objects

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            Libmsi().g_object_unref(object);
    }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

/// A GError out-parameter that frees itself.
class GErrorSlot {
public:
    GErrorSlot() = default;
    ~GErrorSlot() { Clear(); }
    GErrorSlot(const GErrorSlot&) = delete;
    GErrorSlot& operator=(const GErrorSlot&) = delete;

    GError** out() {
        Clear();
        return &error_;
    }
    bool set() const { return error_ != nullptr; }
    std::string message() const { return error_ && error_->message ? error_->message : ""; }
    void Clear() {
        if (error_)
            Libmsi().g_error_free(error_);
        error_ = nullptr;
    }

private:
    GError* error_ = nullptr;
};

std::string TakeString(gchar* text) {
    std::string out = text ? text : "";
    Libmsi().g_free(text);
    return out;
}

std::string StringField(LibmsiRecord* record, guint field) {
    if (Libmsi().libmsi_record_is_null(record, field))
        return {};
    return TakeString(Libmsi().libmsi_record_get_string(record, field));
}

std::optional<std::int64_t> IntField(LibmsiRecord* record, guint field) {
    if (Libmsi().libmsi_record_is_null(record, field))
        return std::nullopt;
    const gint value = Libmsi().libmsi_record_get_int(record, field);
    if (static_cast<guint>(value) == LIBMSI_NULL_INT)
        return std::nullopt;
    return value;
}

Failure TableFailure(const std::string& path, std::string detail) {
    Failure failure(Reason::BadFormat, Step::Read, path);
    failure.detail = std::move(detail);
    return failure;
}

/// Runs `sql` (with `parameter` for its one "?", when given) and hands each
/// row to `row`; at most `limit` rows.
Result<void> ForEachRow(LibmsiDatabase* database, const std::string& path, const char* sql,
                        std::size_t limit, const std::function<void(LibmsiRecord*)>& row,
                        const char* parameter = nullptr) {
    GErrorSlot error;
    GObjectPtr<LibmsiQuery> query(Libmsi().libmsi_query_new(database, sql, error.out()));
    if (!query)
        return Fail(TableFailure(path, error.message()));
    GObjectPtr<LibmsiRecord> parameters;
    if (parameter) {
        parameters.reset(Libmsi().libmsi_record_new(1));
        Libmsi().libmsi_record_set_string(parameters.get(), 1, parameter);
    }
    if (!Libmsi().libmsi_query_execute(query.get(), parameters.get(), error.out()))
        return Fail(TableFailure(path, error.message()));
    for (std::size_t count = 0;; ++count) {
        GObjectPtr<LibmsiRecord> record(Libmsi().libmsi_query_fetch(query.get(), error.out()));
        // No record at the end of the rows; with an error, a table that
        // cannot be read on.
        if (!record && error.set())
            return Fail(TableFailure(path, error.message()));
        if (!record)
            break;
        if (count == limit) {
            Failure failure(Reason::OverBudget, Step::Read, path);
            failure.detail = std::string("more rows than allowed: ") + sql;
            return Fail(std::move(failure));
        }
        row(record.get());
    }
    Libmsi().libmsi_query_close(query.get(), nullptr);
    return {};
}

bool HasTable(LibmsiDatabase* database, const std::string& path, const char* table) {
    bool found = false;
    const auto result = ForEachRow(
        database, path, "SELECT `Name` FROM `_Tables` WHERE `Name` = ?", 1,
        [&](LibmsiRecord*) { found = true; }, table);
    return result && found;
}

// ---------------------------------------------------------------------------
// Names of the tables

/// The folders the installer sets itself; a path installed below one of
/// them starts with its name.
constexpr std::array<std::string_view, 27> kStandardFolders = {
    "AdminToolsFolder",   "AppDataFolder",        "CommonAppDataFolder", "CommonFiles64Folder",
    "CommonFilesFolder",  "DesktopFolder",        "FavoritesFolder",     "FontsFolder",
    "LocalAppDataFolder", "MyPicturesFolder",     "NetHoodFolder",       "PersonalFolder",
    "PrintHoodFolder",    "ProgramFiles64Folder", "ProgramFilesFolder",  "ProgramMenuFolder",
    "RecentFolder",       "SendToFolder",         "StartMenuFolder",     "StartupFolder",
    "System16Folder",     "System64Folder",       "SystemFolder",        "TempFolder",
    "TemplateFolder",     "WindowsFolder",        "WindowsVolume",
};

bool IsStandardFolder(std::string_view key) {
    return std::find(kStandardFolders.begin(), kStandardFolders.end(), key) !=
           kStandardFolders.end();
}

/// The long name of "short|long" (the whole text when it has no "|"); the
/// short name when `shortName`.
std::string_view PickName(std::string_view names, bool shortName) {
    const auto bar = names.find('|');
    if (bar == std::string_view::npos)
        return names;
    return shortName ? names.substr(0, bar) : names.substr(bar + 1);
}

/// The target part of a DefaultDir "target:source" (the whole text without
/// ":"), or its source part (the target part when there is none).
std::string_view DefaultDirPart(std::string_view defaultDir, bool source) {
    const auto colon = defaultDir.find(':');
    if (colon == std::string_view::npos)
        return defaultDir;
    return source ? defaultDir.substr(colon + 1) : defaultDir.substr(0, colon);
}

/// A name that stays one part of a path: not empty, ".", "..", and free of
/// "/" and "\" (the installer's own separator).
bool IsSafePart(std::string_view part) {
    return !part.empty() && part != "." && part != ".." &&
           part.find_first_of("/\\") == std::string_view::npos;
}

std::string Join(const std::vector<std::string>& parts, std::size_t from = 0) {
    std::string out;
    for (std::size_t i = from; i < parts.size(); ++i) {
        if (!out.empty())
            out += '/';
        out += parts[i];
    }
    return out;
}

// Attributes of a File row, and the word count of the summary information,
// that decide where a file's bytes are.
constexpr std::int64_t kFileNoncompressed = 0x2000;
constexpr std::int64_t kFileCompressed = 0x4000;
constexpr std::int64_t kWordCountShortNames = 0x1;
constexpr std::int64_t kWordCountCompressed = 0x2;

/// Folders deeper than this make a path unreadable: no real installer comes
/// near it, and it bounds the work of a table made to be deep.
constexpr std::size_t kMostFolderDepth = 256;

// ---------------------------------------------------------------------------
// Reading a cabinet
//
// The cabinets are read with libarchive rather than libgcab: libarchive
// unpacks a member as far as it is asked and no further, reading the cabinet
// forward from any stream, while libgcab's extraction unpacks whole members
// into files or memory before anyone reads them.

/// Where libarchive reads a cabinet from.
class CabinetInput {
public:
    virtual ~CabinetInput() = default;
    /// The next bytes (none at the end), or -1 after an error.
    virtual la_ssize_t Read(const void** buffer) = 0;
    /// Skips up to `count` bytes; how many were skipped (0 to have them read).
    virtual la_int64_t Skip(la_int64_t count) = 0;

    static la_ssize_t ReadCallback(archive*, void* input, const void** buffer) {
        return static_cast<CabinetInput*>(input)->Read(buffer);
    }
    static la_int64_t SkipCallback(archive*, void* input, la_int64_t count) {
        return static_cast<CabinetInput*>(input)->Skip(count);
    }

protected:
    static constexpr std::size_t kChunk = 64 * 1024;
};

/// A stream of the installer (an embedded cabinet).
class StreamInput final : public CabinetInput {
public:
    explicit StreamInput(GInputStream* stream) : stream_(stream), buffer_(kChunk) {}
    la_ssize_t Read(const void** buffer) override {
        GErrorSlot error;
        const gssize got =
            Libmsi().g_input_stream_read(stream_, buffer_.data(), buffer_.size(), nullptr, error.out());
        *buffer = buffer_.data();
        return got < 0 ? -1 : static_cast<la_ssize_t>(got);
    }
    la_int64_t Skip(la_int64_t count) override {
        const gssize skipped = Libmsi().g_input_stream_skip(
            stream_, static_cast<gsize>(std::min<la_int64_t>(count, G_MAXSSIZE)), nullptr, nullptr);
        return skipped < 0 ? 0 : skipped;
    }

private:
    GInputStream* stream_;
    std::vector<std::byte> buffer_;
};

/// A cabinet file next to the installer.
class FileInput final : public CabinetInput {
public:
    explicit FileInput(const ByteSource& file) : file_(file) {}
    la_ssize_t Read(const void** buffer) override {
        buffer_ = file_.ReadUpTo(offset_, kChunk);
        if (buffer_.empty() && offset_ < file_.size())
            return -1;
        offset_ += buffer_.size();
        *buffer = buffer_.data();
        return static_cast<la_ssize_t>(buffer_.size());
    }
    la_int64_t Skip(la_int64_t count) override {
        const std::uint64_t left = file_.size() - std::min(offset_, file_.size());
        const auto skipped = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), left);
        offset_ += skipped;
        return static_cast<la_int64_t>(skipped);
    }

private:
    const ByteSource& file_;
    std::uint64_t offset_ = 0;
    Bytes buffer_;
};

// ---------------------------------------------------------------------------
// The package

struct MediaRow {
    std::int64_t lastSequence = 0;
    std::int64_t diskId = 0;
    std::string cabinet;
};

/// One row of the File table and what the other tables make of it.
struct PackageFile {
    std::string key;
    std::string folderKey; ///< the Directory row of its component
    std::int64_t sequence = 0;
    bool compressed = true;
    PackedMember member;
    /// The folders of its installed path, from the standard folder or root
    /// down, and its long name.
    std::vector<std::string> folder;
    std::string longName;
    /// Where an uncompressed file lies below the installer's folder.
    std::string sourcePath;
    /// Why it gives no entry, and its name as the package gives it.
    std::optional<Failure> failure;
    std::string storedName;
    std::size_t media = std::numeric_limits<std::size_t>::max();
};

struct DirectoryRow {
    std::string parent;
    std::string defaultDir;
};

class MsiPackage final : public PackedTree {
public:
    MsiPackage(std::string path, MsiLimits limits, GObjectPtr<LibmsiDatabase> database)
        : path_(std::move(path)), limits_(limits), database_(std::move(database)) {}

    Result<void> Load();
    Result<void> Walk(const Wanted& wanted, const Visit& visit,
                      const Unreadable& unreadable) override;

private:
    // What Load reads.
    Result<void> ReadFiles();
    void PlaceFiles(const std::unordered_map<std::string, DirectoryRow>& directories);
    void NameMembers();

    /// One walk's state.
    struct WalkState {
        const Wanted& wanted;
        const Visit& visit;
        const Unreadable& unreadable;
        std::uint64_t passed = 0;
        bool overBudget = false;
        bool stopped = false;
    };
    /// Offers `file` without bytes from a cabinet: its failure, or `problem`
    /// when it is wanted, or a visit with `bytes`.
    void Offer(WalkState& walk, const PackageFile& file, const ByteSource* bytes,
               const std::optional<Failure>& problem = std::nullopt);
    void WalkCabinet(WalkState& walk, const MediaRow& media, const std::vector<std::size_t>& files);
    void WalkUncompressed(WalkState& walk, const std::vector<std::size_t>& files);
    Failure MemberFailure(Reason reason, std::string detail) const {
        Failure failure(reason, Step::Read, path_);
        failure.detail = std::move(detail);
        return failure;
    }

    std::string path_;
    MsiLimits limits_;
    GObjectPtr<LibmsiDatabase> database_;
    bool shortNames_ = false;
    bool compressedByDefault_ = false;
    std::vector<MediaRow> media_;
    std::vector<PackageFile> files_; ///< in File.Sequence order
};

Result<void> MsiPackage::Load() {
    LibmsiDatabase* db = database_.get();
    {
        GErrorSlot error;
        GObjectPtr<LibmsiSummaryInfo> summary(Libmsi().libmsi_summary_info_new(db, 0, error.out()));
        if (summary) {
            GErrorSlot intError;
            const gint words =
                Libmsi().libmsi_summary_info_get_int(summary.get(), LIBMSI_PROPERTY_SOURCE, intError.out());
            if (!intError.set() && words >= 0) {
                shortNames_ = (words & kWordCountShortNames) != 0;
                compressedByDefault_ = (words & kWordCountCompressed) != 0;
            }
        }
    }
    // A package that installs no file has no File table.
    if (!HasTable(db, path_, "File"))
        return {};

    if (auto read = ReadFiles(); !read)
        return read;

    std::unordered_map<std::string, DirectoryRow> directories;
    if (HasTable(db, path_, "Directory")) {
        auto read = ForEachRow(
            db, path_, "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
            limits_.tableRows, [&](LibmsiRecord* row) {
                directories.emplace(StringField(row, 1),
                                    DirectoryRow{StringField(row, 2), StringField(row, 3)});
            });
        if (!read)
            return read;
    }
    if (HasTable(db, path_, "Media")) {
        auto read =
            ForEachRow(db, path_, "SELECT `DiskId`, `LastSequence`, `Cabinet` FROM `Media`",
                       limits_.tableRows, [&](LibmsiRecord* row) {
                           media_.push_back({IntField(row, 2).value_or(0),
                                             IntField(row, 1).value_or(0), StringField(row, 3)});
                       });
        if (!read)
            return read;
    }
    std::sort(media_.begin(), media_.end(), [](const MediaRow& a, const MediaRow& b) {
        return std::tie(a.lastSequence, a.diskId) < std::tie(b.lastSequence, b.diskId);
    });

    PlaceFiles(directories);
    NameMembers();

    // Each file's media: the first whose last sequence reaches its own.
    for (PackageFile& file : files_) {
        const auto at = std::lower_bound(media_.begin(), media_.end(), file.sequence,
                                         [](const MediaRow& media, std::int64_t sequence) {
                                             return media.lastSequence < sequence;
                                         });
        if (at != media_.end())
            file.media = static_cast<std::size_t>(at - media_.begin());
        else if (!file.failure)
            file.failure = MemberFailure(Reason::BadFormat,
                                         "no row of the Media table holds file " + file.key);
    }
    return {};
}

Result<void> MsiPackage::ReadFiles() {
    LibmsiDatabase* db = database_.get();
    std::unordered_map<std::string, std::string> componentFolders;
    if (HasTable(db, path_, "Component")) {
        auto read =
            ForEachRow(db, path_, "SELECT `Component`, `Directory_` FROM `Component`",
                       limits_.tableRows, [&](LibmsiRecord* row) {
                           componentFolders.emplace(StringField(row, 1), StringField(row, 2));
                       });
        if (!read)
            return read;
    }
    struct Row {
        PackageFile file;
        std::string component;
        std::string fileName;
        std::int64_t attributes = 0;
    };
    std::vector<Row> rows;
    auto read =
        ForEachRow(db, path_,
                   "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Version`, `Language`, "
                   "`Attributes`, `Sequence` FROM `File`",
                   limits_.tableRows, [&](LibmsiRecord* record) {
                       Row row;
                       row.file.key = StringField(record, 1);
                       row.component = StringField(record, 2);
                       row.fileName = StringField(record, 3);
                       row.file.member.size = static_cast<std::uint64_t>(
                           std::max<std::int64_t>(0, IntField(record, 4).value_or(0)));
                       row.file.member.declaredVersion = StringField(record, 5);
                       row.file.member.declaredLanguage = StringField(record, 6);
                       row.attributes = IntField(record, 7).value_or(0);
                       row.file.sequence = IntField(record, 8).value_or(0);
                       rows.push_back(std::move(row));
                   });
    if (!read)
        return read;

    std::unordered_set<std::string> keys;
    for (const Row& row : rows)
        keys.insert(row.file.key);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.file.sequence < b.file.sequence; });
    files_.reserve(rows.size());
    for (Row& row : rows) {
        PackageFile& file = files_.emplace_back(std::move(row.file));
        // The Version of a companion file names the file whose version it
        // shares: a key of the File table, not a version of its own.
        if (keys.contains(file.member.declaredVersion))
            file.member.declaredVersion.clear();
        if (row.attributes & kFileNoncompressed)
            file.compressed = false;
        else if (row.attributes & kFileCompressed)
            file.compressed = true;
        else
            file.compressed = compressedByDefault_;
        file.longName = std::string(PickName(row.fileName, false));
        // The uncompressed image names files as the package's names say.
        file.sourcePath = std::string(PickName(row.fileName, shortNames_));
        file.storedName = file.longName;
        const auto folder = componentFolders.find(row.component);
        if (folder == componentFolders.end())
            file.failure = MemberFailure(Reason::BadFormat,
                                         "no row of the Component table for " + row.component);
        else
            file.folderKey = folder->second;
    }
    return {};
}

void MsiPackage::PlaceFiles(const std::unordered_map<std::string, DirectoryRow>& directories) {
    // First which folders reach a root at all: a parent that is missing, or
    // a chain of parents that comes back to itself, leaves every folder on
    // the way without a path.
    enum class State : std::uint8_t { Unknown, OnChain, Good, Bad };
    std::unordered_map<std::string, State> state;
    std::unordered_map<std::string, std::string> badDetail;
    const auto classify = [&](const std::string& start) {
        std::vector<std::string> chain;
        std::string current = start;
        State outcome = State::Good;
        std::string detail;
        for (;;) {
            const auto known = state.find(current);
            if (known != state.end() && known->second == State::Good)
                break;
            if (known != state.end() && known->second == State::Bad) {
                outcome = State::Bad;
                detail = badDetail[current];
                break;
            }
            if (known != state.end() && known->second == State::OnChain) {
                outcome = State::Bad;
                detail = "the Directory table's parents of " + current + " come back to it";
                break;
            }
            const auto row = directories.find(current);
            if (row == directories.end()) {
                outcome = State::Bad;
                detail = "no row of the Directory table for " + current;
                break;
            }
            state[current] = State::OnChain;
            chain.push_back(current);
            const std::string& parent = row->second.parent;
            if (parent.empty() || parent == current)
                break;
            current = parent;
        }
        for (const std::string& key : chain) {
            state[key] = outcome;
            if (outcome == State::Bad)
                badDetail[key] = detail;
        }
        return outcome == State::Good ? std::string() : detail;
    };

    struct Placed {
        std::vector<std::string> target;
        std::vector<std::string> source;
        std::optional<std::string> unsafe; ///< the path so far, when a part is unsafe
        std::optional<std::string> bad;    ///< why the folder has no path
    };
    std::unordered_map<std::string, Placed> placed;
    const auto place = [&](const std::string& key) -> const Placed& {
        if (const auto known = placed.find(key); known != placed.end())
            return known->second;
        Placed result;
        if (const std::string bad = classify(key); !bad.empty()) {
            result.bad = bad;
            return placed.emplace(key, std::move(result)).first->second;
        }
        // The chain from the folder up to its root, now known to end.
        std::vector<const std::pair<const std::string, DirectoryRow>*> chain;
        for (auto row = directories.find(key);;) {
            chain.push_back(&*row);
            if (chain.size() > kMostFolderDepth) {
                result.bad = "the folder " + key + " lies deeper than " +
                             std::to_string(kMostFolderDepth) + " folders";
                return placed.emplace(key, std::move(result)).first->second;
            }
            const std::string& parent = row->second.parent;
            if (parent.empty() || parent == row->first)
                break;
            row = directories.find(parent);
        }
        for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
            const std::string& folder = (*at)->first;
            const std::string_view defaultDir = (*at)->second.defaultDir;
            if (at == chain.rbegin() || IsStandardFolder(folder)) {
                // A root, or a folder the installer sets: named by its key.
                result.target.assign(1, folder);
                if (!IsSafePart(folder) && !result.unsafe)
                    result.unsafe = Join(result.target);
            } else {
                const std::string_view name = PickName(DefaultDirPart(defaultDir, false), false);
                if (name != ".") {
                    result.target.emplace_back(name);
                    if (!IsSafePart(name) && !result.unsafe)
                        result.unsafe = Join(result.target);
                }
            }
            if (at != chain.rbegin()) {
                const std::string_view name =
                    PickName(DefaultDirPart(defaultDir, true), shortNames_);
                if (name != ".")
                    result.source.emplace_back(name);
            }
        }
        return placed.emplace(key, std::move(result)).first->second;
    };

    for (PackageFile& file : files_) {
        if (file.failure)
            continue;
        const Placed& where = place(file.folderKey);
        if (where.bad) {
            file.failure = MemberFailure(Reason::BadFormat, *where.bad);
            continue;
        }
        file.folder = where.target;
        file.storedName = Join(file.folder) + "/" + file.longName;
        if (where.unsafe || !IsSafePart(file.longName)) {
            file.failure = MemberFailure(Reason::MemberNameUnsafe, {});
            continue;
        }
        if (!file.compressed) {
            bool safe = IsSafePart(file.sourcePath);
            for (const std::string& part : where.source)
                safe = safe && IsSafePart(part);
            if (!safe) {
                file.failure = MemberFailure(Reason::MemberNameUnsafe, {});
                continue;
            }
            file.sourcePath = Join(where.source).empty()
                                  ? file.sourcePath
                                  : Join(where.source) + "/" + file.sourcePath;
        }
    }
}

void MsiPackage::NameMembers() {
    // The tree's root: the deepest folder every placed file lies in.
    const PackageFile* first = nullptr;
    std::size_t common = 0;
    for (const PackageFile& file : files_) {
        if (file.failure)
            continue;
        if (!first) {
            first = &file;
            common = file.folder.size();
            continue;
        }
        std::size_t same = 0;
        while (same < common && same < file.folder.size() &&
               file.folder[same] == first->folder[same])
            ++same;
        common = same;
    }
    std::unordered_set<std::string> names;
    for (PackageFile& file : files_) {
        if (file.failure) {
            // The stored name below the same root where it lies below it.
            if (first && file.folder.size() >= common &&
                std::equal(first->folder.begin(),
                           first->folder.begin() + static_cast<std::ptrdiff_t>(common),
                           file.folder.begin()) &&
                !file.folder.empty()) {
                const std::string below = Join(file.folder, common);
                file.storedName = below.empty() ? file.longName : below + "/" + file.longName;
            }
            continue;
        }
        const std::string below = Join(file.folder, common);
        file.member.name = below.empty() ? file.longName : below + "/" + file.longName;
        file.storedName = file.member.name;
        if (!names.insert(file.member.name).second)
            file.failure = MemberFailure(Reason::DuplicateMember, {});
    }
}

void MsiPackage::Offer(WalkState& walk, const PackageFile& file, const ByteSource* bytes,
                       const std::optional<Failure>& problem) {
    if (walk.stopped)
        return;
    if (file.failure) {
        walk.unreadable(file.storedName, *file.failure);
        return;
    }
    if (!walk.wanted(file.member))
        return;
    if (problem) {
        walk.unreadable(file.storedName, *problem);
        return;
    }
    if (!walk.visit(file.member, bytes))
        walk.stopped = true;
}

void MsiPackage::WalkUncompressed(WalkState& walk, const std::vector<std::size_t>& files) {
    const auto slash = path_.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path_.substr(0, slash);
    for (const std::size_t index : files) {
        if (walk.stopped)
            return;
        const PackageFile& file = files_[index];
        if (file.failure || !walk.wanted(file.member)) {
            Offer(walk, file, nullptr);
            continue;
        }
        const std::string source =
            (folder.empty() ? std::string() : folder) + "/" + file.sourcePath;
        std::error_code error;
        const auto opened = OpenedFile::Open(source, error);
        if (!opened && error) {
            Offer(walk, file, nullptr, Failure(error, Step::Open, source));
            continue;
        }
        // A file the image lacks is visited without bytes, as a member of a
        // missing cabinet is.
        Offer(walk, file, opened.get());
    }
}

void MsiPackage::WalkCabinet(WalkState& walk, const MediaRow& media,
                             const std::vector<std::size_t>& files) {
    const auto offerAll = [&](const std::optional<Failure>& problem) {
        for (const std::size_t index : files)
            Offer(walk, files_[index], nullptr, problem);
    };
    if (walk.overBudget)
        return offerAll(MemberFailure(Reason::OverBudget, "the package's budget is spent"));

    // Where the cabinet is: a stream of the package ("#name"), or a file
    // beside the package.
    std::unique_ptr<CabinetInput> input;
    GObjectPtr<LibmsiRecord> streamRecord;
    GObjectPtr<GInputStream> stream;
    std::unique_ptr<OpenedFile> cabinetFile;
    if (media.cabinet.starts_with('#')) {
        const std::string name = media.cabinet.substr(1);
        const auto found = ForEachRow(
            database_.get(), path_, "SELECT `Data` FROM `_Streams` WHERE `Name` = ?", 1,
            [&](LibmsiRecord* row) { streamRecord.reset(static_cast<LibmsiRecord*>((Libmsi().g_object_ref)(row))); },
            name.c_str());
        if (streamRecord)
            stream.reset(Libmsi().libmsi_record_get_stream(streamRecord.get(), 1));
        if (!stream)
            return offerAll(std::nullopt); // visited without bytes
        input = std::make_unique<StreamInput>(stream.get());
    } else {
        if (!IsSafePart(media.cabinet))
            return offerAll(
                MemberFailure(Reason::OutsideFolder, "the cabinet " + media.cabinet +
                                                         " is not a file beside the package"));
        const auto slash = path_.rfind('/');
        const std::string cabinetPath =
            (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) +
            media.cabinet;
        std::error_code error;
        cabinetFile = OpenedFile::Open(cabinetPath, error);
        if (!cabinetFile && error)
            return offerAll(Failure(error, Step::Open, cabinetPath));
        if (!cabinetFile) {
            struct stat status {};
            if (stat(cabinetPath.c_str(), &status) == 0)
                return offerAll(Failure(Reason::NotRegularFile, Step::Open, cabinetPath,
                                        FileTypeOf(status.st_mode)));
            return offerAll(std::nullopt); // missing: visited without bytes
        }
        input = std::make_unique<FileInput>(*cabinetFile);
    }

    std::unordered_map<std::string, std::size_t> byKey;
    for (const std::size_t index : files)
        byKey.emplace(files_[index].key, index);
    std::unordered_set<std::size_t> seen;
    // A member's bytes as the archives' members are read; its size and the
    // package's total are paid above, from the cabinet's header.
    UnpackBudget unpack;
    unpack.heldInMemory = limits_.memoryBytes;
    unpack.memberBytes = limits_.memberBytes;
    unpack.ratio = std::numeric_limits<std::uint64_t>::max();
    WalkTally tally;
    tally.limit = std::numeric_limits<std::uint64_t>::max();
    Bytes held;

    ArchivePtr reader(Libarchive().archive_read_new());
    std::string cabinetError;
    if (!reader) {
        cabinetError = "out of memory";
    } else {
        Libarchive().archive_read_support_format_cab(reader.get());
        if (Libarchive().archive_read_open2(reader.get(), input.get(), nullptr, &CabinetInput::ReadCallback,
                               &CabinetInput::SkipCallback, nullptr) != ARCHIVE_OK) {
            const char* text = Libarchive().archive_error_string(reader.get());
            cabinetError = text ? text : "not a cabinet";
        }
    }
    while (cabinetError.empty() && !walk.stopped) {
        archive_entry* entry = nullptr;
        const int status = Libarchive().archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN) {
            const char* text = Libarchive().archive_error_string(reader.get());
            cabinetError = text ? text : "the cabinet cannot be read on";
            break;
        }
        const std::uint64_t size =
            Libarchive().archive_entry_size_is_set(entry)
                ? static_cast<std::uint64_t>(std::max<la_int64_t>(0, Libarchive().archive_entry_size(entry)))
                : 0;
        const char* keyText = Libarchive().archive_entry_pathname(entry);
        const auto found = keyText ? byKey.find(keyText) : byKey.end();
        // Passing a member can mean unpacking it: it is paid for either way.
        const bool withinBudget =
            size <= limits_.packageBytes - std::min(walk.passed, limits_.packageBytes);
        if (!withinBudget)
            walk.overBudget = true;
        else
            walk.passed += size;
        if (found == byKey.end()) {
            if (walk.overBudget)
                break;
            continue; // a member no File row names: not part of the tree
        }
        PackageFile& file = files_[found->second];
        if (!seen.insert(found->second).second) {
            if (!file.failure && walk.wanted(file.member))
                walk.unreadable(file.storedName, MemberFailure(Reason::DuplicateMember,
                                                               "the cabinet holds it twice"));
            if (walk.overBudget)
                break;
            continue;
        }
        PackedMember& member = file.member;
        if (Libarchive().archive_entry_mtime_is_set(entry))
            member.modified = static_cast<std::int64_t>(Libarchive().archive_entry_mtime(entry));
        if (walk.overBudget) {
            Offer(walk, file, nullptr,
                  MemberFailure(Reason::OverBudget, "the package's budget is spent"));
            break;
        }
        if (size > limits_.memberBytes) {
            Offer(walk, file, nullptr,
                  MemberFailure(Reason::OverBudget, std::to_string(size) + " bytes"));
            continue;
        }
        if (file.failure || !walk.wanted(member)) {
            Offer(walk, file, nullptr);
            continue;
        }
        MemberBytes bytes(reader.get(), size, unpack, tally, held);
        if (!walk.visit(member, &bytes))
            walk.stopped = true;
        else if (bytes.failure())
            walk.unreadable(member.name, *bytes.failure());
    }
    if (walk.stopped)
        return;
    // The files the cabinet did not give.
    const std::string cabinetName =
        media.cabinet.starts_with('#') ? media.cabinet.substr(1) : media.cabinet;
    for (const std::size_t index : files) {
        if (seen.contains(index))
            continue;
        if (walk.overBudget)
            Offer(walk, files_[index], nullptr,
                  MemberFailure(Reason::OverBudget, "the package's budget is spent"));
        else if (!cabinetError.empty())
            Offer(walk, files_[index], nullptr,
                  MemberFailure(Reason::NotDecompressed, cabinetError));
        else
            Offer(walk, files_[index], nullptr,
                  MemberFailure(Reason::NotDecompressed,
                                "the cabinet " + cabinetName + " does not hold it"));
    }
}

Result<void> MsiPackage::Walk(const Wanted& wanted, const Visit& visit,
                              const Unreadable& unreadable) {
    WalkState walk{wanted, visit, unreadable};
    // The files of each media: those in its cabinet, then those lying
    // uncompressed beside the package.
    std::vector<std::vector<std::size_t>> packed(media_.size());
    std::vector<std::vector<std::size_t>> loose(media_.size());
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const std::size_t index = files_[i].media;
        if (index >= media_.size())
            continue;
        if (files_[i].compressed && !media_[index].cabinet.empty())
            packed[index].push_back(i);
        else
            loose[index].push_back(i);
    }
    for (std::size_t index = 0; index < media_.size() && !walk.stopped; ++index) {
        if (!packed[index].empty())
            WalkCabinet(walk, media_[index], packed[index]);
        WalkUncompressed(walk, loose[index]);
    }
    // The files no media holds.
    for (const PackageFile& file : files_) {
        if (file.media == std::numeric_limits<std::size_t>::max())
            Offer(walk, file, nullptr);
    }
    return {};
}

} // namespace

Result<std::unique_ptr<PackedTree>> OpenMsiPackage(const std::string& path) {
    return OpenMsiPackage(path, MsiLimits{});
}

Result<std::unique_ptr<PackedTree>> OpenMsiPackage(const std::string& path,
                                                   const MsiLimits& limits) {
    if (std::string why; !LoadLibmsi(&why)) {
        Failure failure(Reason::LibraryMissing, Step::Open, path);
        failure.detail = std::move(why);
        return Fail(std::move(failure));
    }
    // The file itself first, for the system's word on why it cannot be read
    // and so that nothing but a regular file reaches the library.
    {
        std::error_code error;
        const auto file = OpenedFile::Open(path, error);
        if (!file) {
            if (error)
                return Fail(Failure(error, Step::Open, path));
            struct stat status {};
            if (stat(path.c_str(), &status) != 0)
                return Fail(Failure::System(errno, Step::Open, path));
            return Fail(
                Failure(Reason::NotRegularFile, Step::Open, path, FileTypeOf(status.st_mode)));
        }
        // Every installer database is a compound file.
        static constexpr std::array<unsigned char, 8> kCompoundFile = {0xD0, 0xCF, 0x11, 0xE0,
                                                                       0xA1, 0xB1, 0x1A, 0xE1};
        const auto head = file->Read(0, kCompoundFile.size());
        if (!head || !std::equal(kCompoundFile.begin(), kCompoundFile.end(), head->begin(),
                                 [](unsigned char a, std::byte b) {
                                     return a == std::to_integer<unsigned char>(b);
                                 }))
            return Fail(Failure(Reason::NotAnArchive, Step::Open, path));
    }
    GErrorSlot error;
    GObjectPtr<LibmsiDatabase> database(
        Libmsi().libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, error.out()));
    if (!database) {
        Failure failure(Reason::NotAnArchive, Step::Open, path);
        failure.detail = error.message();
        return Fail(std::move(failure));
    }
    auto package = std::make_unique<MsiPackage>(path, limits, std::move(database));
    if (auto loaded = package->Load(); !loaded)
        return Fail(std::move(loaded.error()));
    return package;
}

} // namespace sorvane
