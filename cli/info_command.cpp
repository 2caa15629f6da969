// sorvane-cli info: what the program reads from single files.

#include "command_parser.h"
#include "commands.h"
#include "json_writer.h"
#include "terminal_text.h"

#include "row_output.h"

#include "engine/archive/member_name.h"
#include "engine/archive/packed_tree.h"
#include "engine/files/opened_file.h"
#include "engine/scan/scan_driver.h"
#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"
#include "engine/formats/version_reader.h"

#include <functional>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <optional>
#include <ostream>
#include <span>

namespace sorvane::cli {
namespace {

struct InfoOptions {
    bool json = false;
    bool all = false;
    /// Which members of an archive are shown.
    std::string filter;
    bool subfolders = false;
    std::vector<std::string> files;
};

std::string_view KindName(FileKind kind) {
    switch (kind) {
    case FileKind::TrueType:
        return "truetype";
    case FileKind::TypeLibrary:
        return "typelib";
    case FileKind::VersionResource:
        break;
    }
    return "version-resource";
}

// Why the file gave no data: "failure": {"code", "step", "message"}.
void WriteFailureJson(JsonWriter& json, const Failure& failure) {
    json.Key("failure");
    json.BeginObject();
    json.Field("code", failure.CodeName());
    json.Field("step", StepName(failure.step));
    json.Field("message", failure.Message());
    json.EndObject();
}

std::string Hex(std::uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
    return buffer;
}

std::string DottedVersion(std::uint32_t ms, std::uint32_t ls) {
    return std::to_string(HiWord(ms)) + "." + std::to_string(LoWord(ms)) + "." +
           std::to_string(HiWord(ls)) + "." + std::to_string(LoWord(ls));
}

std::string_view FormatName(TypeLibraryFormat format) {
    return format == TypeLibraryFormat::Sltg ? "SLTG" : "MSFT";
}

// A hostile file can hold tens of thousands of name records or strings, each
// up to 64 KB long: --all lists the first entries of each list and the start
// of each text, and says how much it left out.
constexpr std::size_t kListLimit = 100;
constexpr std::size_t kTextLimit = 1000; // characters

std::size_t Listed(std::size_t count) {
    return std::min(count, kListLimit);
}

/// The first kTextLimit characters of a text of `length` characters, and
/// how many more it has.
std::string Cut(std::string_view head, std::size_t length) {
    if (length <= kTextLimit)
        return std::string(head);
    return std::string(head) + "… [" + std::to_string(length - kTextLimit) + " more characters]";
}

std::string Shown(std::string_view text) {
    const std::string_view head = Utf8Prefix(text, kTextLimit);
    return head.size() == text.size() ? std::string(text) : Cut(head, Utf8Length(text));
}

/// A name record's text, decoded only as far as it is shown.
std::string Shown(const TrueTypeNames& names, const TrueTypeNameRecord& record) {
    return Cut(names.Text(record, kTextLimit), names.TextLength(record));
}

/// Everything --all shows of one file: the parse the scan uses, and for
/// fonts the whole naming table (the scan keeps only the names it shows).
struct AllData {
    const FileVersionData& data;
    const TrueTypeNames* names = nullptr;
};

void WriteAllJson(JsonWriter& json, const AllData& all) {
    const FileVersionData& data = all.data;
    json.BoolField("opened", data.opened);
    if (data.version) {
        const VersionInfo& v = *data.version;
        json.Field("resourceLanguage", data.resourceLanguage);
        json.BoolField("sixteenBit", v.sixteenBit);
        if (v.fixed) {
            const FixedFileInfo& f = *v.fixed;
            json.Key("fixed");
            json.BeginObject();
            json.Field("fileVersion", DottedVersion(f.fileVersionMS, f.fileVersionLS));
            json.Field("productVersion", DottedVersion(f.productVersionMS, f.productVersionLS));
            json.Field("structVersion", Hex(f.structVersion, 8));
            json.Field("fileFlagsMask", Hex(f.fileFlagsMask, 8));
            json.Field("fileFlags", Hex(f.fileFlags, 8));
            json.Field("fileOS", Hex(f.fileOS, 8));
            json.Field("fileType", Hex(f.fileType, 8));
            json.Field("fileSubtype", Hex(f.fileSubtype, 8));
            json.Field("fileDate", Hex(f.fileDateMS, 8) + Hex(f.fileDateLS, 8).substr(2));
            json.EndObject();
        }
        json.Key("translations");
        json.BeginArray();
        for (const auto& t : std::span(v.translations).first(Listed(v.translations.size()))) {
            json.BeginObject();
            json.Field("code", TranslationCode(t));
            json.Field("language", t.language);
            json.Field("languageName", LanguageText(t.language));
            json.Field("codePage", t.codePage);
            json.EndObject();
        }
        json.EndArray();
        if (v.translations.size() > kListLimit)
            json.Field("moreTranslations", v.translations.size() - kListLimit);
        json.Key("stringTables");
        json.BeginArray();
        for (const auto& table : std::span(v.stringTables).first(Listed(v.stringTables.size()))) {
            json.BeginObject();
            json.Field("key", Shown(table.key));
            json.Key("strings");
            json.BeginArray();
            for (const auto& s : std::span(table.strings).first(Listed(table.strings.size()))) {
                json.BeginObject();
                json.Field("name", Shown(s.name));
                json.Field("value", Shown(s.value));
                json.Field("valueLength", s.valueLength);
                json.EndObject();
            }
            json.EndArray();
            if (table.strings.size() > kListLimit)
                json.Field("moreStrings", table.strings.size() - kListLimit);
            json.EndObject();
        }
        json.EndArray();
        if (v.stringTables.size() > kListLimit)
            json.Field("moreStringTables", v.stringTables.size() - kListLimit);
        if (v.budgetSpent)
            json.BoolField("budgetSpent", true);
    }
    if (all.names) {
        const TrueTypeNames& names = *all.names;
        json.Key("names");
        json.BeginArray();
        for (const auto& r : std::span(names.records).first(Listed(names.records.size()))) {
            json.BeginObject();
            json.Field("platform", r.platform);
            json.Field("encoding", r.encoding);
            json.Field("language", r.language);
            json.Field("nameId", r.nameId);
            json.BoolField("singleByte", r.singleByte);
            json.Field("text", Shown(names, r));
            json.EndObject();
        }
        json.EndArray();
        if (names.records.size() > kListLimit)
            json.Field("moreNames", names.records.size() - kListLimit);
        if (names.budgetSpent)
            json.BoolField("budgetSpent", true);
    }
    if (data.typeLibrary) {
        const TypeLibraryInfo& t = *data.typeLibrary;
        json.Key("typeLibrary");
        json.BeginObject();
        json.Field("format", FormatName(t.format));
        json.Field("name", Shown(t.name));
        json.Field("guid", t.guid);
        json.Field("majorVersion", t.majorVersion);
        json.Field("minorVersion", t.minorVersion);
        json.Field("lcid", t.lcid);
        json.Field("helpString", Shown(t.helpString));
        json.Field("helpFile", Shown(t.helpFile));
        json.Field("helpContext", t.helpContext);
        json.Field("flags", t.flags);
        json.Field("sysKind", t.sysKind);
        json.EndObject();
    }
}

// One "label  value" line; a value of several lines continues under itself.
void WriteLine(std::ostream& out, int indent, std::string_view label, std::string_view value) {
    constexpr std::size_t width = 16;
    const std::string margin(static_cast<std::size_t>(indent), ' ');
    // Labels and values come from the file: their control characters are
    // shown as escapes, only their line breaks are kept as such.
    const std::string shownLabel = TerminalText(label);
    std::string line = margin + shownLabel;
    line.append(shownLabel.size() < width ? width - shownLabel.size() : 1, ' ');
    const std::string continuation = "\n" + margin + std::string(width, ' ');
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.remove_suffix(1);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] != '\n' && value[i] != '\r')
            continue;
        line += TerminalText(value.substr(start, i - start));
        if (i < value.size()) {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
            line += continuation;
        }
        start = i + 1;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    out << line << "\n";
}

/// "  ... 5 more string tables" when `count` is over the limit.
void WriteMore(std::ostream& out, int indent, std::size_t count, std::string_view what) {
    if (count > kListLimit)
        out << std::string(static_cast<std::size_t>(indent), ' ') << "... " << count - kListLimit
            << " more " << what << "\n";
}

constexpr std::string_view kBudgetNote = "the reader's budget ran out; the lists end there";

void WriteAllText(std::ostream& out, const AllData& all) {
    const FileVersionData& data = all.data;
    if (data.version) {
        const VersionInfo& v = *data.version;
        WriteLine(out, 2, "resource lang", Hex(data.resourceLanguage, 4));
        if (v.fixed) {
            const FixedFileInfo& f = *v.fixed;
            WriteLine(out, 2, "file version", DottedVersion(f.fileVersionMS, f.fileVersionLS));
            WriteLine(out, 2, "product version",
                      DottedVersion(f.productVersionMS, f.productVersionLS));
            WriteLine(out, 2, "file flags", Hex(f.fileFlags, 8) + " of " + Hex(f.fileFlagsMask, 8));
            WriteLine(out, 2, "file OS", Hex(f.fileOS, 8));
            WriteLine(out, 2, "file type", Hex(f.fileType, 8) + " / " + Hex(f.fileSubtype, 8));
        }
        for (const auto& t : std::span(v.translations).first(Listed(v.translations.size())))
            WriteLine(out, 2, "translation",
                      TranslationCode(t) + " " + LanguageText(t.language) + ", code page " +
                          std::to_string(t.codePage));
        WriteMore(out, 2, v.translations.size(), "translations");
        for (const auto& table : std::span(v.stringTables).first(Listed(v.stringTables.size()))) {
            out << "  string table " << TerminalText(Shown(table.key)) << "\n";
            for (const auto& s : std::span(table.strings).first(Listed(table.strings.size())))
                WriteLine(out, 4, OneLine(Shown(s.name)), Shown(s.value));
            WriteMore(out, 4, table.strings.size(), "strings");
        }
        WriteMore(out, 2, v.stringTables.size(), "string tables");
        if (v.budgetSpent)
            WriteLine(out, 2, "note", kBudgetNote);
    }
    if (all.names) {
        const TrueTypeNames& names = *all.names;
        for (const auto& r : std::span(names.records).first(Listed(names.records.size()))) {
            char label[64];
            std::snprintf(label, sizeof label, "name %u (%u,%u,%s)", r.nameId, r.platform,
                          r.encoding, Hex(r.language, 4).c_str());
            WriteLine(out, 2, label, Shown(names, r));
        }
        WriteMore(out, 2, names.records.size(), "name records");
        if (names.budgetSpent)
            WriteLine(out, 2, "note", kBudgetNote);
    }
    if (data.assembly) {
        WriteLine(out, 2, "assembly", Shown(data.assembly->name));
        WriteLine(out, 2, "assembly ver.", data.assembly->version);
        WriteLine(out, 2, "culture", Shown(data.assembly->culture));
        WriteLine(out, 2, "key token", data.assembly->publicKeyToken);
    } else if (data.assemblyFailure) {
        WriteLine(out, 2, "assembly", "not read: " + data.assemblyFailure->Message());
    }
    if (data.typeLibrary) {
        const TypeLibraryInfo& t = *data.typeLibrary;
        WriteLine(out, 2, "format", FormatName(t.format));
        WriteLine(out, 2, "name", Shown(t.name));
        WriteLine(out, 2, "guid", t.guid);
        WriteLine(out, 2, "lcid", Hex(t.lcid, 4));
        WriteLine(out, 2, "help file", Shown(t.helpFile));
        WriteLine(out, 2, "help context", std::to_string(t.helpContext));
        WriteLine(out, 2, "flags", Hex(t.flags, 4));
        WriteLine(out, 2, "system kind", std::to_string(t.sysKind));
    }
}

/// What info tells of a member of an archive besides what its bytes hold.
struct MemberInfo {
    std::string archive;
    std::optional<PackedMember> member;
    /// The bytes are not there: the version shown is the File table's.
    bool bytesMissing = false;
    /// The File table's version is not the one read from the bytes.
    bool declaredDiffers = false;
};

/// "2024-05-01 12:30:00 UTC" for seconds since 1970.
std::string TimeText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[64] = "";
    if (::gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
        return std::to_string(seconds);
    return text;
}

// One file, or one member of an archive, as info shows it.
void WriteFile(const std::string& path, FileKind kind, const FileVersionData& data,
               const TrueTypeNames* names, const std::optional<std::string>& error,
               const MemberInfo& facts, const InfoOptions& options, JsonWriter& json,
               std::ostream& out) {
    VersionTexts texts = ScanTexts(data);
    const AllData all{data, names};
    const PackedMember* member = facts.member ? &*facts.member : nullptr;
    if (member != nullptr && facts.bytesMissing) {
        // What the package declares stands for the bytes it lacks.
        texts.version = member->declaredVersion;
        texts.language = DeclaredLanguageText(member->declaredLanguage);
    }
    if (options.json) {
        json.BeginObject();
        json.Field("path", DecodeText(path));
        if (member != nullptr) {
            json.Field("archive", DecodeText(facts.archive));
            json.Field("member", DecodeText(member->name));
        }
        json.Field("kind", KindName(kind));
        json.Field("version", texts.version);
        json.Field("language", texts.language);
        json.Field("description", texts.description);
        json.Field("copyright", texts.copyright);
        if (member != nullptr) {
            json.Field("size", data.size);
            if (member->stored)
                json.Field("storedSize", static_cast<std::int64_t>(*member->stored));
            if (member->modified)
                json.Field("modified", *member->modified);
            if (!member->declaredVersion.empty()) {
                json.Field("declaredVersion", DecodeText(member->declaredVersion));
                json.BoolField("declaredVersionDiffers", facts.declaredDiffers);
            }
            if (facts.bytesMissing)
                json.Field("note", kVersionFromFileTableNote);
        }
        if (error)
            json.Field("error", *error);
        if (data.failure)
            WriteFailureJson(json, *data.failure);
        if (data.assembly) {
            json.Field("assemblyName", DecodeText(data.assembly->name));
            json.Field("assemblyVersion", data.assembly->version);
            json.Field("assemblyCulture", DecodeText(data.assembly->culture));
            json.Field("publicKeyToken", data.assembly->publicKeyToken);
        }
        if (options.all)
            WriteAllJson(json, all);
        json.EndObject();
    } else {
        out << TerminalText(DecodeText(path)) << "\n";
        WriteLine(out, 2, "kind", KindName(kind));
        WriteLine(out, 2, "version", texts.version);
        WriteLine(out, 2, "language", texts.language);
        WriteLine(out, 2, "description", texts.description);
        WriteLine(out, 2, "copyright", texts.copyright);
        if (member != nullptr) {
            WriteLine(out, 2, "size", std::to_string(data.size));
            if (member->stored)
                WriteLine(out, 2, "stored size", std::to_string(*member->stored));
            if (member->modified)
                WriteLine(out, 2, "modified", TimeText(*member->modified));
            if (!member->declaredVersion.empty())
                WriteLine(out, 2, "File table ver.",
                          DecodeText(member->declaredVersion) +
                              (facts.declaredDiffers
                                   ? std::string(" ") + kDeclaredVersionDiffersText
                                   : std::string()));
            if (facts.bytesMissing)
                WriteLine(out, 2, "note", kVersionFromFileTableNote);
        }
        if (error)
            WriteLine(out, 2, "error", *error);
        if (options.all)
            WriteAllText(out, all);
    }
}

// Prints one file as info shows it; false when it could not be read.
bool InfoFile(const std::string& path, FileKind kind, const FileVersionData& data,
              const InfoOptions& options, JsonWriter& json, std::ostream& out,
              std::ostream& err) {
    std::optional<std::string> error;
    if (!data.opened) {
        error = data.failure ? data.failure->Message() : std::string("cannot be read");
        err << "sorvane-cli: " << TerminalText(DecodeText(path)) << ": " << *error << "\n";
    }
    std::optional<TrueTypeNames> names;
    if (options.all && data.font) {
        if (const auto file = OpenedFile::Open(path))
            names = ReadTrueTypeNames(*file);
    }
    WriteFile(path, kind, data, names ? &*names : nullptr, error, {}, options, json, out);
    return !error;
}

// The path of a member as info and its messages show it.
std::string MemberPath(const std::string& archive, std::string_view member) {
    return archive + "/" + std::string(member);
}

// An entry that could not be read, at `path`: on standard error, and in the
// listing; `fields` adds what the JSON object says of it besides.
void WriteUnreadableEntry(const std::string& path, const Failure& failure,
                          const std::function<void(JsonWriter&)>& fields,
                          const InfoOptions& options, JsonWriter& json, std::ostream& out,
                          std::ostream& err) {
    const std::string message = failure.Message();
    err << "sorvane-cli: " << TerminalText(DecodeText(path)) << ": " << TerminalText(message)
        << "\n";
    if (options.json) {
        json.BeginObject();
        json.Field("path", DecodeText(path));
        fields(json);
        json.Field("error", DecodeText(message));
        WriteFailureJson(json, failure);
        json.EndObject();
    } else {
        out << TerminalText(DecodeText(path)) << "\n";
        WriteLine(out, 2, "error", DecodeText(message));
    }
}

// A member that could not be read.
void WriteUnreadableMember(const std::string& archive, std::string_view member,
                           const Failure& failure, const InfoOptions& options, JsonWriter& json,
                           std::ostream& out, std::ostream& err) {
    WriteUnreadableEntry(
        MemberPath(archive, member), failure,
        [&](JsonWriter& j) {
            j.Field("archive", DecodeText(archive));
            j.Field("member", DecodeText(member));
        },
        options, json, out, err);
}

// An archive that could not be opened, or read to its end.
void WriteUnreadableArchive(const std::string& archive, const Failure& failure,
                            const InfoOptions& options, JsonWriter& json, std::ostream& out,
                            std::ostream& err) {
    WriteUnreadableEntry(
        archive, failure, [](JsonWriter& j) { j.Field("kind", "archive"); }, options, json, out,
        err);
}

// Keeps the rows of a scan as they come.
class RowsKept : public ScanObserver {
public:
    void RowAdded(ComparisonRow row) override { rows.push_back(std::move(row)); }
    std::vector<ComparisonRow> rows;
};

// The versioned members of an archive, as `compare ARCHIVE` lists them;
// false when a member or the archive could not be read.
bool InfoArchiveRows(const std::string& path, const InfoOptions& options, JsonWriter& json,
                     std::ostream& out, std::ostream& err) {
    ScanRequest request;
    request.source = path;
    request.filter = options.filter;
    request.includeSubfolders = options.subfolders;
    Scanner scanner;
    RowsKept kept;
    const ScanOutcome outcome = scanner.Run(request, kept);
    const std::string& archive = outcome.source;
    if (options.json) {
        for (const ComparisonRow& row : kept.rows) {
            json.BeginObject();
            json.Field("path", DecodeText(MemberPath(archive, row.Name)));
            json.Field("archive", DecodeText(archive));
            json.Field("member", DecodeText(row.Name));
            json.Field("kind", KindName(FileKindOf(row.Ext)));
            json.Field("version", row.SourceVersion);
            json.Field("language", row.SourceLanguage);
            json.Field("description", row.Description);
            json.Field("copyright", row.Copyright);
            json.Field("size", row.SourceSize);
            json.EndObject();
        }
    } else {
        out << TerminalText(DecodeText(archive)) << "\n";
        WriteTable(out, ScanMode::SourceOnly, kept.rows, "  ");
    }
    // What could not be read is named like a file that could not be read.
    for (const UnreadableEntry& entry : outcome.unreadable) {
        Failure failure(entry.error, Step::Read);
        failure.detail = entry.detail;
        if (entry.path.size() > archive.size() && entry.path.starts_with(archive))
            WriteUnreadableMember(archive, std::string_view(entry.path).substr(archive.size() + 1),
                                  failure, options, json, out, err);
        else
            WriteUnreadableArchive(archive, failure, options, json, out, err);
    }
    if (outcome.failed)
        err << "sorvane-cli: " << TerminalText(DecodeText(archive)) << ": " << outcome.message
            << "\n";
    return outcome.unreadable.empty() && !outcome.failed;
}

// --all of an archive: every member the options ask for, in the order the
// archive holds them, with everything the readers find in it. A member is
// held back until the walk has gone past it: a failure of its bytes is told
// right after it, and then it is listed as unreadable instead.
bool InfoArchiveAll(const std::string& path, const InfoOptions& options, JsonWriter& json,
                    std::ostream& out, std::ostream& err) {
    const std::string archive = NormalizeFolderPath(path, false);
    auto tree = OpenPackedTree(archive);
    if (!tree) {
        WriteUnreadableArchive(archive, tree.error(), options, json, out, err);
        return false;
    }
    bool read = true;
    std::optional<std::string> pending;
    JsonWriter::Mark mark;
    std::ostringstream text;
    const auto flush = [&] {
        if (!pending)
            return;
        if (options.json)
            json.Release();
        else
            out << text.str();
        text.str("");
        pending.reset();
    };
    const auto wanted = [&](const PackedMember& member) {
        return (options.subfolders || member.name.find('/') == std::string::npos) &&
               MatchesFilter(MemberFileName(member.name), options.filter);
    };
    const auto visit = [&](const PackedMember& member, const ByteSource* bytes) {
        flush();
        const FileKind kind = FileKindOf(ExtensionOf(member.name));
        FileVersionData data;
        std::optional<TrueTypeNames> names;
        if (bytes != nullptr) {
            data = ReadFileVersionData(*bytes, kind);
            if (data.font)
                names = ReadTrueTypeNames(*bytes);
        } else {
            data.kind = kind;
            data.size = static_cast<std::int64_t>(member.size);
        }
        MemberInfo facts{archive, member};
        facts.bytesMissing = bytes == nullptr;
        facts.declaredDiffers =
            bytes != nullptr && DeclaredVersionDiffers(member.declaredVersion, ScanTexts(data).version);
        pending = member.name;
        if (options.json)
            mark = json.Hold();
        WriteFile(MemberPath(archive, member.name), kind, data, names ? &*names : nullptr,
                  std::nullopt, facts, options, json, text);
        return true;
    };
    const auto unreadable = [&](const std::string& name, const Failure& failure) {
        if (pending && *pending == name) {
            if (options.json)
                json.Restore(mark);
            text.str("");
            pending.reset();
        }
        flush();
        read = false;
        WriteUnreadableMember(archive, name, failure, options, json, out, err);
    };
    const auto walked = (*tree)->Walk(wanted, visit, unreadable);
    flush();
    if (!walked) {
        WriteUnreadableArchive(archive, walked.error(), options, json, out, err);
        return false;
    }
    return read;
}

// A file in a format of archives that really is one: an OLE compound file
// that is no installer, for one, is shown as a file.
bool OpensAsArchive(const std::string& path) {
    const auto tree = OpenPackedTree(NormalizeFolderPath(path, false));
    return tree || !tree.error().Is(Reason::NotAnArchive);
}

} // namespace

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    InfoOptions options;
    CommandParser parser("info");
    parser.Argument("FILE", options.files)->required();
    parser.Flag("--json", options.json);
    parser.Flag("--all", options.all);
    parser.Option("--filter", options.filter);
    parser.Flag("--subfolders", options.subfolders);
    if (const auto status = parser.Parse(args, out, err))
        return *status;

    int status = 0;
    JsonWriter json(out);
    if (options.json)
        json.BeginArray();
    for (const auto& path : options.files) {
        bool read = true;
        const FileKind kind = FileKindOf(ExtensionOf(path));
        const FileVersionData data = ReadFileVersionData(path, kind);
        // A file its reader got data from is no archive, nor is one it found
        // to be an executable or a font: only the others are looked at again
        // as archives.
        const bool knownFormat = data.executable || data.font || data.typeLibrary;
        if (data.failure && !knownFormat && IsArchiveSide(path) && OpensAsArchive(path))
            read = options.all ? InfoArchiveAll(path, options, json, out, err)
                               : InfoArchiveRows(path, options, json, out, err);
        else
            read = InfoFile(path, kind, data, options, json, out, err);
        if (!read)
            status = kUsageError;
    }
    if (options.json)
        json.EndArray();
    return status;
}

} // namespace sorvane::cli
