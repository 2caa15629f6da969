#include "engine/scan/archive_side.h"

#include "engine/archive/member_name.h"
#include "engine/archive/packed_tree.h"
#include "engine/scan/comparison.h"
#include "engine/text/number_utils.h"
#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"
#include "engine/text/tokenizer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace sorvane {
namespace {

bool NameLess(std::string_view a, std::string_view b) {
    const int c = CompareIgnoreCase(a, b);
    return c != 0 ? c < 0 : a < b;
}

std::optional<std::int64_t> Signed(const std::optional<std::uint64_t>& value) {
    if (!value)
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

// What the package tells of `member`, whose bytes are `bytes` (null when
// they are not there).
MemberFacts FactsOf(const std::string& archive, const PackedMember& member,
                    const ByteSource* bytes) {
    MemberFacts facts;
    facts.archive = archive;
    facts.name = member.name;
    facts.size = static_cast<std::int64_t>(member.size);
    facts.stored = Signed(member.stored);
    facts.modified = member.modified;
    facts.declaredVersion = member.declaredVersion;
    facts.declaredLanguage = member.declaredLanguage;
    facts.bytesMissing = bytes == nullptr;
    return facts;
}

} // namespace

std::string DeclaredLanguageText(std::string_view declared) {
    unsigned number = 0;
    const auto [end, error] = std::from_chars(declared.data(), declared.data() + declared.size(), number);
    if (error != std::errc() || end == declared.data())
        return std::string(declared);
    return LanguageText(number);
}

bool DeclaredVersionDiffers(std::string_view declared, std::string_view own) {
    if (declared.empty())
        return false;
    // A file without a version of its own differs from any declared one.
    if (own.empty())
        return true;
    // Parts compare as numbers, and missing parts count as 0: the scan
    // shows 2.3.0.0 as "2.03.0000", which the table writes "2.3.0.0".
    const auto parts = [](std::string_view text) {
        std::vector<double> numbers;
        for (const std::string& part : SplitText(text, ".").value_or(std::vector<std::string>{}))
            numbers.push_back(NumericValue(part));
        while (!numbers.empty() && numbers.back() == 0)
            numbers.pop_back();
        return numbers;
    };
    return parts(declared) != parts(own);
}

std::string DeclaredVersionNote(bool source, bool target) {
    if (!source && !target)
        return {};
    const char* whose = source && target ? "Source and target versions"
                        : source        ? "Source version"
                                        : "Target version";
    return std::string(whose) + " from the File table: the file's cabinet is missing.";
}

MemberTable::MemberTable(std::string archive, std::vector<MemberFacts> members)
    : archive_(std::move(archive)), members_(std::move(members)) {
    std::sort(members_.begin(), members_.end(),
              [](const MemberFacts& a, const MemberFacts& b) { return a.name < b.name; });
}

const MemberFacts* MemberTable::Find(std::string_view name) const {
    const auto it = std::lower_bound(
        members_.begin(), members_.end(), name,
        [](const MemberFacts& member, std::string_view key) { return member.name < key; });
    return it != members_.end() && it->name == name ? &*it : nullptr;
}

std::shared_ptr<const MemberTable> MemberTableOf(const ArchiveSide& side) {
    std::vector<MemberFacts> members;
    members.reserve(side.entries.size());
    for (const ArchiveEntry& entry : side.entries) {
        if (entry.failure)
            continue;
        members.emplace_back(entry).archive = side.path;
    }
    return std::make_shared<const MemberTable>(side.path, std::move(members));
}

Result<MemberFacts> ReadMemberFacts(const std::string& archive, const std::string& name) {
    auto tree = OpenPackedTree(archive);
    if (!tree)
        return Fail(std::move(tree.error()));
    std::optional<MemberFacts> found;
    const auto wanted = [&](const PackedMember& member) { return member.name == name; };
    const auto visit = [&](const PackedMember& member, const ByteSource* bytes) {
        found = FactsOf(archive, member, bytes);
        return false; // the listing is all that is asked for
    };
    const auto unreadable = [](const std::string&, const Failure&) {};
    if (auto walked = (*tree)->Walk(wanted, visit, unreadable); !walked && !found)
        return Fail(std::move(walked.error()));
    if (!found)
        return Fail({SystemError(ENOENT), Step::Open, JoinPath(archive, name)});
    return *std::move(found);
}

bool WalkOrderLess(std::string_view a, std::string_view b) {
    for (;;) {
        const auto aSlash = a.find('/');
        const auto bSlash = b.find('/');
        const bool aFile = aSlash == std::string_view::npos;
        const bool bFile = bSlash == std::string_view::npos;
        // The files of a folder come before its sub-folders.
        if (aFile != bFile)
            return aFile;
        const std::string_view aPart = a.substr(0, aSlash);
        const std::string_view bPart = b.substr(0, bSlash);
        if (aPart != bPart)
            return NameLess(aPart, bPart);
        if (aFile)
            return false;
        a.remove_prefix(aSlash + 1);
        b.remove_prefix(bSlash + 1);
    }
}

const ArchiveEntry* ArchiveSide::Find(const std::string& name) const {
    const auto it = byName.find(name);
    return it == byName.end() ? nullptr : &entries[it->second];
}

ArchiveSide ReadArchiveSide(const std::string& path, const ArchiveSideRequest& request,
                            const std::atomic<bool>& stop) {
    ArchiveSide side;
    side.path = path;
    auto tree = OpenPackedTree(path);
    if (!tree) {
        side.failure = std::move(tree.error());
        return side;
    }
    if (struct stat st {}; ::stat(path.c_str(), &st) == 0)
        side.stamp = StampOf(st);
    auto& entries = side.entries;
    auto& byName = side.byName;
    // The entry the last visit made, which a failure of its bytes reported
    // right after the visit takes back.
    std::optional<std::size_t> lastVisited;
    // A name met a second time gives no row, nor does the first member of it.
    const auto spoil = [&](std::size_t index, std::error_code why) {
        ArchiveEntry& entry = entries[index];
        if (entry.failure)
            return;
        entry.failure = why;
        entry.texts = {};
        entry.typeLibrary = false;
        entry.assemblyVersion.clear();
        entry.hash.reset();
    };
    const auto add = [&](ArchiveEntry entry) {
        byName.emplace(entry.name, entries.size());
        entries.push_back(std::move(entry));
    };

    const auto wanted = [&](const PackedMember& member) {
        if (!request.includeSubfolders && member.name.find('/') != std::string::npos)
            return false;
        if (request.names != nullptr && !request.names->contains(member.name))
            return false;
        return MatchesFilter(MemberFileName(member.name), request.filter);
    };
    const auto visit = [&](const PackedMember& member, const ByteSource* bytes) {
        lastVisited.reset();
        if (const auto it = byName.find(member.name); it != byName.end()) {
            spoil(it->second, make_error_code(Reason::DuplicateMember));
            return !stop.load();
        }
        ArchiveEntry entry;
        static_cast<MemberFacts&>(entry) = FactsOf({}, member, bytes);
        if (bytes != nullptr) {
            const FileVersionData data =
                ReadFileVersionData(*bytes, FileKindOf(ExtensionOf(member.name)), ReadDepth::RowTexts);
            entry.texts = ScanTexts(data);
            entry.typeLibrary = data.typeLibrary.has_value();
            entry.size = static_cast<std::int64_t>(bytes->size());
            if (data.assembly)
                entry.assemblyVersion = data.assembly->version;
            // Bytes that fail on the way are reported right after this
            // visit, with the tree's own reason for them.
            if (request.hashContents) {
                auto hash = HashSource(*bytes);
                if (hash)
                    entry.hash = *hash;
                else
                    entry.failure = hash.error().code;
            }
        } else {
            // The package tells of the member but its bytes are not there:
            // what it declares stands for them.
            entry.texts.version = member.declaredVersion;
            entry.texts.language = DeclaredLanguageText(member.declaredLanguage);
        }
        lastVisited = entries.size();
        add(std::move(entry));
        return !stop.load();
    };
    const auto unreadable = [&](const std::string& name, const Failure& failure) {
        if (lastVisited && entries[*lastVisited].name == name) {
            entries[*lastVisited].failure.clear(); // the tree's reason is the better one
            spoil(*lastVisited, failure.code);
            lastVisited.reset();
            return;
        }
        lastVisited.reset();
        const auto safe = NormalizeMemberName(name);
        if (!safe || safe->empty() || *safe != name) {
            side.unreadable.push_back({JoinPath(path, name), failure.code});
            return;
        }
        if (const auto it = byName.find(name); it != byName.end()) {
            spoil(it->second, make_error_code(Reason::DuplicateMember));
            return;
        }
        ArchiveEntry entry;
        entry.name = name;
        entry.failure = failure.code;
        add(std::move(entry));
    };

    // Progress at every change of the percentage, and every so many members
    // of an archive too small to change it. The share is taken from the
    // second member on: a format that keeps its directory at the end (7-Zip)
    // has read that first, from where its members' bytes are not. It never
    // goes back.
    int percentTold = -1;
    std::int64_t membersTold = 0;
    const auto tell = [&] {
        ++side.members;
        if (!request.progress)
            return;
        const int percent =
            side.members < 2 ? 0 : std::max(percentTold, (*tree)->PercentWalked());
        if (percent == percentTold && side.members - membersTold < 256)
            return;
        percentTold = percent;
        membersTold = side.members;
        request.progress(side.members, percent);
    };
    const auto wantedAndTold = [&](const PackedMember& member) {
        tell();
        return wanted(member);
    };
    if (auto walked = (*tree)->Walk(wantedAndTold, visit, unreadable); !walked)
        side.failure = std::move(walked.error());
    side.stopped = stop.load();
    if (request.progress && !side.failure && !side.stopped)
        request.progress(side.members, 100);

    std::stable_sort(entries.begin(), entries.end(), [](const ArchiveEntry& a, const ArchiveEntry& b) {
        return WalkOrderLess(a.name, b.name);
    });
    byName.clear();
    for (std::size_t i = 0; i < entries.size(); ++i)
        byName.emplace(entries[i].name, i);
    return side;
}

} // namespace sorvane
