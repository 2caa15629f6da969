#include "engine/formats/version_reader.h"

#include "engine/text/language_table.h"
#include "engine/files/opened_file.h"
#include "engine/formats/pe_image.h"
#include "engine/text/text_utils.h"

#include <cerrno>
#include <cstdlib>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {
namespace {

constexpr std::string_view kNeutral = "[Neutral]";

// The strings ScanTexts shows.
constexpr std::string_view kRowStrings[] = {"FileDescription", "LegalCopyright"};

// A switch for bench/identity_bench.sh alone: SORVANE_BENCH_NO_ASSEMBLY=1
// leaves the metadata of .NET assemblies unread, so the bench can time what
// reading it adds. Asked once.
bool ReadsAssemblyIdentity() {
    static const bool reads = [] {
        const char* value = std::getenv("SORVANE_BENCH_NO_ASSEMBLY");
        return value == nullptr || std::string_view(value) != "1";
    }();
    return reads;
}

// Reads the version resource of `source` into `info`: true when it holds a
// parsed block. Tells `data` the kind of executable, the languages the
// resource is stored in (when all is read), the language read, and why
// there is no block.
bool ReadVersionResourceInto(const ByteSource& source, ReadDepth depth, VersionInfo& info,
                             FileVersionData& data) {
    const auto image = ExecutableImage::Open(source);
    if (!image) {
        data.failure = image.error();
        return false;
    }
    data.executable = image->format();
    // Only files with a CLI header pay for this: a native image has no
    // metadata to read.
    if (auto assembly = ReadsAssemblyIdentity() ? image->Assembly() : std::nullopt) {
        if (*assembly)
            data.assembly = std::move(**assembly);
        else
            data.assemblyFailure = std::move(assembly->error());
    }
    const auto where = image->FindResource(
        ResourceId::Number(kResourceTypeVersion), ResourceId::Number(kVersionResourceName),
        depth == ReadDepth::Everything ? &data.resourceLanguages : nullptr);
    if (!where) {
        data.failure = Failure(Reason::NotVersioned, Step::FindVersionResource);
        return false;
    }
    // One buffer a thread for the blocks of every file it reads: a scan
    // reads tens of thousands, and the parse keeps nothing of it.
    thread_local Bytes block;
    if (!image->ReadResourceInto(*where, kMaxVersionBlockBytes, block)) {
        data.failure = Failure(Reason::Truncated, Step::ReadVersionResource);
        return false;
    }
    data.resourceLanguage = where->language;
    if (!ParseVersionBlockInto(block, info, kReadBudgetBytes,
                               depth == ReadDepth::RowTexts
                                   ? std::span<const std::string_view>(kRowStrings)
                                   : std::span<const std::string_view>())) {
        data.failure = Failure(Reason::BadFormat, Step::ParseVersionBlock);
        return false;
    }
    return true;
}

void ReadVersionResource(const ByteSource& source, FileVersionData& data, ReadDepth depth) {
    VersionInfo info;
    if (ReadVersionResourceInto(source, depth, info, data))
        data.version = std::move(info);
}

// Why a reader that needs at least `headerBytes` found nothing in `source`.
Failure NothingRead(const ByteSource& source, std::uint64_t headerBytes, Step step) {
    return {source.size() < headerBytes ? Reason::Truncated : Reason::BadFormat, step};
}

// Why `path`, which gave no open file and no error, was not read: it names
// nothing, or something that is not a regular file.
Failure WhyNotOpened(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Failure::System(errno, Step::Open);
    if (!S_ISREG(st.st_mode))
        return {Reason::NotRegularFile, Step::Open, {}, FileTypeOf(st.st_mode)};
    // Most often no permission to read it: open says so.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Failure::System(errno, Step::Open);
    ::close(fd);
    return {Reason::NotOpened, Step::Open};
}

// A type library is told by its content, whatever the extension says: an
// executable carries it as a TYPELIB resource (number 1, else the first one),
// anything else must be the library itself.
void ReadTypeLibrary(const ByteSource& source, FileVersionData& data) {
    // The fixed header of an MSFT library; no real library is shorter.
    constexpr std::uint64_t kLibraryHeaderBytes = 0x54;
    const auto image = ExecutableImage::Open(source);
    if (!image) {
        data.typeLibrary = ParseTypeLibrary(source);
        if (!data.typeLibrary)
            data.failure = NothingRead(source, kLibraryHeaderBytes, Step::ReadTypeLibrary);
        return;
    }
    data.executable = image->format();
    const Failure none(Reason::NotVersioned, Step::ReadTypeLibrary);
    const ResourceId type = ResourceId::Named(kTypeLibraryResourceType);
    const auto names = image->ResourceNames(type);
    if (names.empty()) {
        data.failure = none;
        return;
    }
    ResourceId name = names.front();
    for (const auto& candidate : names)
        if (candidate == ResourceId::Number(1))
            name = candidate;
    const auto where = image->FindResource(type, name);
    if (!where) {
        data.failure = none;
        return;
    }
    const SubSource embedded(source, where->fileOffset, where->storedSize);
    data.typeLibrary = ParseTypeLibrary(embedded);
    if (!data.typeLibrary)
        data.failure = NothingRead(embedded, kLibraryHeaderBytes, Step::ReadTypeLibrary);
}

const Translation* FirstTranslation(const FileVersionData& data) {
    if (!data.version || data.version->translations.empty())
        return nullptr;
    return &data.version->translations.front();
}

std::string StringOfFirstTranslation(const FileVersionData& data, std::string_view name) {
    const Translation* first = FirstTranslation(data);
    if (first == nullptr)
        return {};
    return data.version->QueryString(TranslationCode(*first), name).value_or(std::string{});
}

std::string FontVersionText(const TrueTypeNames& names) {
    std::string text = names.Name(5);
    if (text.size() >= 8 && EqualsIgnoreCase(std::string_view(text).substr(0, 8), "Version "))
        text.erase(0, 8);
    return text;
}

} // namespace

FileKind FileKindOf(std::string_view extension) {
    if (EqualsIgnoreCase(extension, ".ttf"))
        return FileKind::TrueType;
    if (EqualsIgnoreCase(extension, ".tlb") || EqualsIgnoreCase(extension, ".olb"))
        return FileKind::TypeLibrary;
    return FileKind::VersionResource;
}

FileVersionData ReadFileVersionData(const ByteSource& source, FileKind kind, ReadDepth depth) {
    FileVersionData data;
    data.kind = kind;
    data.opened = true;
    data.size = static_cast<std::int64_t>(source.size());
    switch (kind) {
    case FileKind::VersionResource:
        ReadVersionResource(source, data, depth);
        break;
    case FileKind::TrueType:
        data.font = ReadTrueTypeNames(source, kShownNameIds);
        if (!data.font) // a font shorter than its offset table is cut off
            data.failure = NothingRead(source, 12, Step::ReadFontNames);
        break;
    case FileKind::TypeLibrary:
        ReadTypeLibrary(source, data);
        break;
    }
    return data;
}

FileVersionData ReadFileVersionData(const std::string& path, FileKind kind) {
    std::error_code error;
    const auto file = OpenedFile::Open(path, error);
    FileVersionData data = ReadFileVersionData(file.get(), error, kind);
    if (!file && !data.failure)
        data.failure = WhyNotOpened(path);
    if (data.failure)
        data.failure->path = path;
    return data;
}

FileVersionData ReadFileVersionData(const OpenedFile* file, std::error_code openError,
                                    FileKind kind, ReadDepth depth) {
    if (file == nullptr) {
        FileVersionData data;
        data.kind = kind;
        data.error = openError;
        if (openError)
            data.failure = Failure(openError, Step::Open);
        return data;
    }
    FileVersionData data =
        ReadFileVersionData(static_cast<const ByteSource&>(*file), kind, depth);
    data.error = file->ReadError();
    // A failed read explains what the reader then missed.
    if (data.error)
        data.failure = Failure(data.error, Step::Read);
    return data;
}

namespace {

// The texts of a version resource: its fixed file version, and the language,
// description and copyright of its first translation.
VersionTexts VersionResourceTexts(const VersionInfo& info) {
    VersionTexts texts;
    if (info.fixed)
        texts.version = FixedFileVersionText(*info.fixed);
    if (!info.translations.empty()) {
        const Translation& first = info.translations.front();
        texts.language = LanguageText(first.language);
        const std::string code = TranslationCode(first);
        texts.description = info.QueryString(code, "FileDescription").value_or(std::string{});
        texts.copyright = info.QueryString(code, "LegalCopyright").value_or(std::string{});
    }
    return texts;
}

} // namespace

ScanFileTexts ReadScanTexts(const OpenedFile* file, std::error_code openError, FileKind kind) {
    ScanFileTexts out;
    if (file == nullptr || kind != FileKind::VersionResource) {
        const FileVersionData data =
            ReadFileVersionData(file, openError, kind, ReadDepth::RowTexts);
        out.texts = ScanTexts(data);
        out.size = data.size;
        out.error = data.error;
        out.typeLibrary = data.typeLibrary.has_value();
        if (data.assembly)
            out.assemblyVersion = data.assembly->version;
        return out;
    }
    out.size = static_cast<std::int64_t>(file->size());
    // The parse of every block this thread reads goes into the same lists
    // and texts; only what the row keeps is copied out of them.
    thread_local VersionInfo info;
    FileVersionData notes;
    if (ReadVersionResourceInto(*file, ReadDepth::RowTexts, info, notes))
        out.texts = VersionResourceTexts(info);
    if (notes.assembly)
        out.assemblyVersion = std::move(notes.assembly->version);
    out.error = file->ReadError();
    return out;
}

VersionTexts ScanTexts(const FileVersionData& data) {
    VersionTexts texts;
    switch (data.kind) {
    case FileKind::VersionResource:
        if (data.version)
            texts = VersionResourceTexts(*data.version);
        break;
    case FileKind::TrueType:
        if (!data.font)
            break;
        texts.version = FontVersionText(*data.font);
        texts.description = data.font->Name(1);
        texts.copyright = data.font->Name(0);
        break;
    case FileKind::TypeLibrary:
        if (!data.typeLibrary)
            break;
        texts.version = std::to_string(data.typeLibrary->majorVersion) + "." +
                        std::to_string(data.typeLibrary->minorVersion);
        texts.language = LanguageText(data.typeLibrary->lcid);
        texts.description = data.typeLibrary->helpString;
        break;
    }
    return texts;
}

namespace {

// Decimal digits of `value`, at least two.
void AppendTwoDigits(std::string& out, unsigned value) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    if (end - digits < 2)
        out.push_back('0');
    out.append(digits, end);
}

} // namespace

std::string FixedFileVersionText(const FixedFileInfo& fixed) {
    // Called for every file of a scan: no printf.
    std::string text;
    text.reserve(16);
    char digits[8];
    text.append(digits, std::to_chars(digits, digits + sizeof digits,
                                      unsigned{HiWord(fixed.fileVersionMS)}).ptr);
    text.push_back('.');
    AppendTwoDigits(text, LoWord(fixed.fileVersionMS));
    if (fixed.fileVersionLS == 0) {
        text.append(".0000");
        return text;
    }
    text.push_back('.');
    AppendTwoDigits(text, HiWord(fixed.fileVersionLS));
    text.push_back('.');
    AppendTwoDigits(text, LoWord(fixed.fileVersionLS));
    return text;
}

std::string LanguageText(std::uint32_t lcid) {
    const auto name = LanguageName(static_cast<std::int32_t>(lcid));
    return std::string(name.empty() ? kNeutral : name);
}

std::string TranslationCode(const Translation& translation) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string code(8, '0');
    for (int i = 0; i < 4; ++i) {
        code[3 - i] = kHex[(translation.language >> (4 * i)) & 0xF];
        code[7 - i] = kHex[(translation.codePage >> (4 * i)) & 0xF];
    }
    return code;
}

std::string ReadFixedFileVersion(const std::string& path) {
    const auto data = ReadFileVersionData(path, FileKind::VersionResource);
    if (!data.version || !data.version->fixed)
        return {};
    return FixedFileVersionText(*data.version->fixed);
}

std::string ReadFileDescription(const std::string& path, std::string* language) {
    const auto data = ReadFileVersionData(path, FileKind::VersionResource);
    const Translation* first = FirstTranslation(data);
    if (first == nullptr)
        return {};
    if (language != nullptr) {
        // The language comes from the translation code's first four digits.
        const std::string code = TranslationCode(*first);
        *language = LanguageText(static_cast<std::uint32_t>(HexToNumber(code.substr(0, 4))));
    }
    return StringOfFirstTranslation(data, "FileDescription");
}

std::string ReadVersionString(const std::string& path, std::string_view valueName) {
    return StringOfFirstTranslation(ReadFileVersionData(path, FileKind::VersionResource),
                                    valueName);
}

std::string ReadTrueTypeName(const std::string& path, int wanted) {
    const auto data = ReadFileVersionData(path, FileKind::TrueType);
    if (!data.font || wanted < 0)
        return {};
    if (wanted == kTrueTypeVersion)
        return FontVersionText(*data.font);
    if (wanted > 0xFFFF)
        return {};
    return data.font->Name(static_cast<std::uint16_t>(wanted));
}

TypeLibraryTexts ReadTypeLibraryInfo(const std::string& path) {
    const auto data = ReadFileVersionData(path, FileKind::TypeLibrary);
    TypeLibraryTexts texts;
    if (!data.typeLibrary)
        return texts;
    const VersionTexts scan = ScanTexts(data);
    texts.version = scan.version;
    texts.language = scan.language;
    texts.helpString = scan.description;
    texts.loaded = true;
    return texts;
}

double HexToNumber(std::string_view text) {
    double value = 0;
    for (const char c : text) {
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        int digit = 0;
        if (lower >= 'a' && lower <= 'f')
            digit = lower - 'a' + 10;
        else if (lower >= '0' && lower <= '9')
            digit = lower - '0';
        value = value * 16 + digit;
    }
    return value;
}

} // namespace sorvane
