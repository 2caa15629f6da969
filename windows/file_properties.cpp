#include "windows/file_properties.h"

#include "engine/archive/packed_tree.h"
#include "engine/text/language_table.h"
#include "engine/files/opened_file.h"
#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"
#include "engine/formats/version_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sorvane::windows {
namespace {

// ------------------------------------------------------------ shown texts

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

/// A text from the file, cut to kTextLimit characters and made visible.
QString Shown(std::string_view text, bool keepLineBreaks = false) {
    const std::string_view head = Utf8Prefix(text, kTextLimit);
    QString shown = VisibleText(head, keepLineBreaks);
    if (head.size() < text.size())
        shown += QStringLiteral("… [%1 more characters]").arg(Utf8Length(text) - kTextLimit);
    return shown;
}

std::size_t Listed(std::size_t count) {
    return std::min(count, kListLimit);
}

QString More(std::size_t count, const char* what) {
    return QStringLiteral("%1 more %2").arg(count - kListLimit).arg(QLatin1String(what));
}

const QString kMoreLabel = QStringLiteral("…");

QString Hex(std::uint32_t value, int digits) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString Dotted(std::uint32_t ms, std::uint32_t ls) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HiWord(ms))
        .arg(LoWord(ms))
        .arg(HiWord(ls))
        .arg(LoWord(ls));
}

QString LanguageWithCode(std::uint32_t lcid) {
    return Q(LanguageText(lcid)) + QStringLiteral(" (") + Hex(lcid, 4) + QLatin1Char(')');
}

// ------------------------------------------------------------- file system

QString Time(const struct timespec& t) {
    return QDateTime::fromSecsSinceEpoch(t.tv_sec).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString SizeText(std::int64_t size) {
    const QLocale english(QLocale::English);
    QString text = english.toString(static_cast<qlonglong>(size)) +
                   (size == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    if (size >= 1024)
        text += QStringLiteral(" (") + english.formattedDataSize(size) + QLatin1Char(')');
    return text;
}

/// "rwxr-xr-x (0755)", with the set-id and sticky bits where ls shows them.
QString PermissionsText(mode_t mode) {
    std::string text = "---------";
    const std::array<mode_t, 9> bits = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                                        S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (mode & bits[i])
            text[i] = "rwx"[i % 3];
    const auto special = [&](std::size_t at, mode_t bit, char set) {
        if (mode & bit)
            text[at] = text[at] == 'x' ? set : static_cast<char>(set - 32);
    };
    special(2, S_ISUID, 's');
    special(5, S_ISGID, 's');
    special(8, S_ISVTX, 't');
    char octal[16];
    std::snprintf(octal, sizeof octal, " (%04o)", static_cast<unsigned>(mode & 07777));
    return QString::fromLatin1(text + octal);
}

QString UserText(uid_t uid) {
    std::array<char, 4096> buffer{};
    struct passwd entry {};
    struct passwd* found = nullptr;
    QString text;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        text = VisibleText(DecodeText(found->pw_name)) + QLatin1Char(' ');
    return text + QStringLiteral("(%1)").arg(uid);
}

QString GroupText(gid_t gid) {
    std::array<char, 4096> buffer{};
    struct group entry {};
    struct group* found = nullptr;
    QString text;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        text = VisibleText(DecodeText(found->gr_name)) + QLatin1Char(' ');
    return text + QStringLiteral("(%1)").arg(gid);
}

QString TypeText(mode_t mode) {
    if (S_ISREG(mode))
        return QStringLiteral("regular file");
    if (S_ISDIR(mode))
        return QStringLiteral("folder");
    if (S_ISLNK(mode))
        return QStringLiteral("symbolic link");
    if (S_ISFIFO(mode))
        return QStringLiteral("FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("socket");
    if (S_ISCHR(mode))
        return QStringLiteral("character device");
    if (S_ISBLK(mode))
        return QStringLiteral("block device");
    return QStringLiteral("unknown");
}

/// The entry at `path` itself and, through a symbolic link, what it leads to.
struct Entry {
    std::optional<struct stat> self;
    std::optional<struct stat> followed;
    std::string linkTarget;
};

std::optional<struct stat> StatOf(const std::string& path, int flags) {
    // O_PATH opens anything, FIFOs included, without reading it.
    const int fd = OpenLongPath(path, O_PATH | flags);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    return ok ? std::optional(st) : std::nullopt;
}

Entry EntryOf(const std::string& path) {
    Entry entry;
    entry.self = StatOf(path, O_NOFOLLOW);
    if (!entry.self || !S_ISLNK(entry.self->st_mode)) {
        entry.followed = entry.self;
        return entry;
    }
    entry.followed = StatOf(path, 0);
    const int fd = OpenLongPath(path, O_PATH | O_NOFOLLOW);
    if (fd >= 0) {
        std::array<char, 4096> target{};
        const ssize_t length = ::readlinkat(fd, "", target.data(), target.size());
        if (length > 0)
            entry.linkTarget.assign(target.data(), static_cast<std::size_t>(length));
        ::close(fd);
    }
    return entry;
}

// ------------------------------------------------------- version resources

QString CodePageText(std::uint16_t codePage) {
    struct Named {
        std::uint16_t codePage;
        const char* name;
    };
    static constexpr std::array<Named, 15> kNames = {{
        {0, "7-bit ASCII"},
        {874, "Thai"},
        {932, "Japanese (Shift JIS)"},
        {936, "Chinese, Simplified (GBK)"},
        {949, "Korean"},
        {950, "Chinese, Traditional (Big5)"},
        {1200, "Unicode"},
        {1250, "Central European (Windows-1250)"},
        {1251, "Cyrillic (Windows-1251)"},
        {1252, "Western European (Windows-1252)"},
        {1253, "Greek (Windows-1253)"},
        {1254, "Turkish (Windows-1254)"},
        {1255, "Hebrew (Windows-1255)"},
        {1256, "Arabic (Windows-1256)"},
        {1257, "Baltic (Windows-1257)"},
    }};
    for (const Named& n : kNames)
        if (n.codePage == codePage)
            return QStringLiteral("%1, code page %2").arg(QLatin1String(n.name)).arg(codePage);
    return QStringLiteral("code page %1").arg(codePage);
}

QString FlagsText(const FixedFileInfo& f) {
    static constexpr std::array<const char*, 6> kFlags = {
        "debug", "prerelease", "patched", "private build", "info inferred", "special build"};
    QStringList names;
    const std::uint32_t set = f.fileFlags & f.fileFlagsMask;
    for (std::size_t i = 0; i < kFlags.size(); ++i)
        if (set & (1u << i))
            names << QLatin1String(kFlags[i]);
    const QString list =
        names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
    return list + QStringLiteral(" (") + Hex(f.fileFlags, 8) + QStringLiteral(" of mask ") +
           Hex(f.fileFlagsMask, 8) + QLatin1Char(')');
}

QString OsText(std::uint32_t os) {
    static constexpr std::array<const char*, 6> kHigh = {
        "", "MS-DOS", "16-bit OS/2", "32-bit OS/2", "Windows NT", "Windows CE"};
    static constexpr std::array<const char*, 5> kLow = {
        "", "16-bit Windows", "16-bit Presentation Manager", "32-bit Presentation Manager",
        "32-bit Windows"};
    QStringList parts;
    const std::uint16_t high = HiWord(os);
    const std::uint16_t low = LoWord(os);
    bool known = true;
    if (high < kHigh.size()) {
        if (high != 0)
            parts << QLatin1String(kHigh[high]);
    } else {
        known = false;
    }
    if (low < kLow.size()) {
        if (low != 0)
            parts << QLatin1String(kLow[low]);
    } else {
        known = false;
    }
    QString text = !known            ? QStringLiteral("unknown")
                   : parts.isEmpty() ? QStringLiteral("not stated")
                                     : parts.join(QStringLiteral(", "));
    return text + QStringLiteral(" (") + Hex(os, 8) + QLatin1Char(')');
}

QString FileTypeText(std::uint32_t type, std::uint32_t subtype) {
    static constexpr std::array<const char*, 8> kTypes = {
        "not stated", "application",    "DLL", "driver",
        "font",       "virtual device", "",    "static library"};
    static constexpr std::array<const char*, 13> kDrivers = {"",
                                                             "printer",
                                                             "keyboard",
                                                             "language",
                                                             "display",
                                                             "mouse",
                                                             "network",
                                                             "system",
                                                             "installable",
                                                             "sound",
                                                             "communications",
                                                             "input method",
                                                             "versioned printer"};
    static constexpr std::array<const char*, 4> kFonts = {"", "raster", "vector", "TrueType"};
    QString text = type < kTypes.size() && *kTypes[type] != '\0' ? QLatin1String(kTypes[type])
                                                                 : QStringLiteral("unknown");
    if (type == 3 && subtype > 0 && subtype < kDrivers.size())
        text = QLatin1String(kDrivers[subtype]) + QLatin1Char(' ') + text;
    else if (type == 4 && subtype > 0 && subtype < kFonts.size())
        text = QLatin1String(kFonts[subtype]) + QLatin1Char(' ') + text;
    text += QStringLiteral(" (") + Hex(type, 8);
    if (subtype != 0)
        text += QStringLiteral(", subtype ") + Hex(subtype, 8);
    return text + QLatin1Char(')');
}

QString FileDateText(const FixedFileInfo& f) {
    const std::uint64_t ticks = (std::uint64_t{f.fileDateMS} << 32) | f.fileDateLS;
    if (ticks == 0)
        return QStringLiteral("none");
    // 100-nanosecond intervals since 1601-01-01 UTC.
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;
    const QString raw = Hex(f.fileDateMS, 8) + QLatin1Char(' ') + Hex(f.fileDateLS, 8);
    if (ticks < kUnixEpoch)
        return raw;
    const auto seconds = static_cast<qint64>((ticks - kUnixEpoch) / 10000000u);
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) +
           QStringLiteral(" (") + raw + QLatin1Char(')');
}

/// Language and code page named by a table key such as "040904B0".
QString TableKeyText(std::string_view key) {
    if (key.size() != 8)
        return {};
    for (const char c : key)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
    const auto language = static_cast<std::uint32_t>(HexToNumber(key.substr(0, 4)));
    const auto codePage = static_cast<std::uint16_t>(HexToNumber(key.substr(4, 4)));
    return Q(LanguageText(language)) + QStringLiteral(", ") + CodePageText(codePage);
}

void AddVersionSections(const FileVersionData& data, FileProperties& out) {
    PropertySection resource{QStringLiteral("Version resource"), {}};
    if (!data.version) {
        resource.rows.push_back({QStringLiteral("Found"), QStringLiteral("no")});
        out.sections.push_back(std::move(resource));
        return;
    }
    const VersionInfo& v = *data.version;
    resource.rows.push_back(
        {QStringLiteral("Layout"), v.sixteenBit ? QStringLiteral("16-bit (8-bit text)")
                                                : QStringLiteral("32-bit (UTF-16 text)")});
    if (!data.resourceLanguages.empty()) {
        QStringList languages;
        for (const std::uint16_t lang :
             std::span(data.resourceLanguages).first(Listed(data.resourceLanguages.size())))
            languages << LanguageWithCode(lang) +
                             (lang == data.resourceLanguage ? QStringLiteral(", read") : QString());
        if (data.resourceLanguages.size() > kListLimit)
            languages << More(data.resourceLanguages.size(), "languages");
        resource.rows.push_back({data.resourceLanguages.size() == 1 ? QStringLiteral("Language")
                                                                    : QStringLiteral("Languages"),
                                 languages.join(QLatin1Char('\n'))});
    }
    if (v.budgetSpent)
        resource.rows.push_back(
            {QStringLiteral("Note"),
             QStringLiteral("the reader's budget ran out; the lists end there")});
    out.sections.push_back(std::move(resource));

    PropertySection fixed{QStringLiteral("Fixed file information"), {}};
    if (v.fixed) {
        const FixedFileInfo& f = *v.fixed;
        fixed.rows = {
            {QStringLiteral("File version"), Dotted(f.fileVersionMS, f.fileVersionLS)},
            {QStringLiteral("Product version"), Dotted(f.productVersionMS, f.productVersionLS)},
            {QStringLiteral("Flags"), FlagsText(f)},
            {QStringLiteral("Operating system"), OsText(f.fileOS)},
            {QStringLiteral("File type"), FileTypeText(f.fileType, f.fileSubtype)},
            {QStringLiteral("File date"), FileDateText(f)},
            {QStringLiteral("Structure version"),
             QStringLiteral("%1.%2").arg(HiWord(f.structVersion)).arg(LoWord(f.structVersion))},
        };
    } else {
        fixed.rows.push_back({QStringLiteral("Found"), QStringLiteral("no")});
    }
    out.sections.push_back(std::move(fixed));

    PropertySection translations{QStringLiteral("Translations"), {}};
    for (const Translation& t : std::span(v.translations).first(Listed(v.translations.size())))
        translations.rows.push_back(
            {Q(TranslationCode(t)),
             Q(LanguageText(t.language)) + QStringLiteral(", ") + CodePageText(t.codePage)});
    if (v.translations.size() > kListLimit)
        translations.rows.push_back({kMoreLabel, More(v.translations.size(), "translations")});
    if (translations.rows.empty())
        translations.rows.push_back({QStringLiteral("Found"), QStringLiteral("none")});
    out.sections.push_back(std::move(translations));

    for (const StringTable& table :
         std::span(v.stringTables).first(Listed(v.stringTables.size()))) {
        PropertySection section;
        section.title = QStringLiteral("Strings ") + Shown(table.key);
        const QString named = TableKeyText(table.key);
        if (!named.isEmpty())
            section.title += QStringLiteral(": ") + named;
        // Windows queries only the first StringFileInfo block.
        if (table.block > 0)
            section.title += QStringLiteral(" (a later StringFileInfo block, not read by Windows)");
        for (const VersionString& s : std::span(table.strings).first(Listed(table.strings.size())))
            section.rows.push_back({Shown(s.name), Shown(s.value, true)});
        if (table.strings.size() > kListLimit)
            section.rows.push_back({kMoreLabel, More(table.strings.size(), "strings")});
        out.sections.push_back(std::move(section));
    }
    if (v.stringTables.size() > kListLimit)
        out.sections.push_back({QStringLiteral("More string tables"),
                                {{kMoreLabel, More(v.stringTables.size(), "string tables")}}});

    // The grid compares the fixed information; strings that say otherwise
    // are worth a plain warning.
    if (!v.fixed)
        return;
    const FixedFileInfo& f = *v.fixed;
    for (const StringTable& table :
         std::span(v.stringTables).first(Listed(v.stringTables.size()))) {
        for (const VersionString& s : table.strings) {
            const bool file = EqualsIgnoreCase(s.name, "FileVersion");
            if (!file && !EqualsIgnoreCase(s.name, "ProductVersion"))
                continue;
            const std::uint32_t ms = file ? f.fileVersionMS : f.productVersionMS;
            const std::uint32_t ls = file ? f.fileVersionLS : f.productVersionLS;
            if (VersionTextAgrees(s.value, ms, ls) || out.disagreements.size() >= kListLimit)
                continue;
            out.disagreements.push_back(
                {file ? QStringLiteral("FileVersion") : QStringLiteral("ProductVersion"),
                 Shown(table.key), Dotted(ms, ls), Shown(s.value)});
        }
    }
}

// ------------------------------------------------------------------ fonts

QString NameIdText(std::uint16_t id) {
    static constexpr std::array<const char*, 26> kNames = {"Copyright",
                                                           "Family",
                                                           "Subfamily",
                                                           "Unique identifier",
                                                           "Full name",
                                                           "Version",
                                                           "PostScript name",
                                                           "Trademark",
                                                           "Manufacturer",
                                                           "Designer",
                                                           "Description",
                                                           "Vendor URL",
                                                           "Designer URL",
                                                           "License",
                                                           "License URL",
                                                           "",
                                                           "Typographic family",
                                                           "Typographic subfamily",
                                                           "Compatible full name",
                                                           "Sample text",
                                                           "PostScript CID name",
                                                           "WWS family",
                                                           "WWS subfamily",
                                                           "Light background palette",
                                                           "Dark background palette",
                                                           "Variations PostScript prefix"};
    const QString number = QString::number(id);
    if (id < kNames.size() && *kNames[id] != '\0')
        return QLatin1String(kNames[id]) + QStringLiteral(" (") + number + QLatin1Char(')');
    return QStringLiteral("Name ") + number;
}

QString NameGroupText(const TrueTypeNameRecord& r) {
    QString platform;
    QString encoding = QStringLiteral("encoding %1").arg(r.encoding);
    QString language = QStringLiteral("language %1").arg(r.language);
    switch (r.platform) {
    case 0:
        platform = QStringLiteral("Unicode");
        break;
    case 1:
        platform = QStringLiteral("Macintosh");
        if (r.encoding == 0)
            encoding = QStringLiteral("Roman");
        if (r.language == 0)
            language = QStringLiteral("English");
        break;
    case 2:
        platform = QStringLiteral("ISO");
        break;
    case 3:
        platform = QStringLiteral("Windows");
        if (r.encoding == 0)
            encoding = QStringLiteral("Symbol");
        else if (r.encoding == 1)
            encoding = QStringLiteral("Unicode BMP");
        else if (r.encoding == 10)
            encoding = QStringLiteral("Unicode full");
        language = LanguageWithCode(r.language);
        break;
    default:
        platform = QStringLiteral("platform %1").arg(r.platform);
        break;
    }
    return QStringLiteral("Names: %1, %2, %3").arg(platform, encoding, language);
}

void AddFontSections(const TrueTypeNames& names, FileProperties& out) {
    const auto listed = std::span(names.records).first(Listed(names.records.size()));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const TrueTypeNameRecord& r = listed[i];
        if (i == 0 || r.platform != listed[i - 1].platform ||
            r.encoding != listed[i - 1].encoding || r.language != listed[i - 1].language)
            out.sections.push_back({NameGroupText(r), {}});
        QString text = Shown(names.Text(r, kTextLimit), true);
        const std::size_t length = names.TextLength(r);
        if (length > kTextLimit)
            text += QStringLiteral("… [%1 more characters]").arg(length - kTextLimit);
        if (text.isEmpty() && r.length > 0)
            text = QStringLiteral("(%1 bytes this program does not decode)").arg(r.length);
        out.sections.back().rows.push_back({NameIdText(r.nameId), text});
    }
    if (names.records.size() > kListLimit)
        out.sections.back().rows.push_back(
            {kMoreLabel, More(names.records.size(), "name records")});
    if (names.records.empty())
        out.sections.push_back(
            {QStringLiteral("Names"), {{QStringLiteral("Found"), QStringLiteral("none")}}});
    if (names.budgetSpent)
        out.sections.back().rows.push_back(
            {QStringLiteral("Note"),
             QStringLiteral("the reader's budget ran out; the list ends there")});
}

// --------------------------------------------------------- type libraries

void AddTypeLibrarySection(const TypeLibraryInfo& t, FileProperties& out) {
    static constexpr std::array<const char*, 4> kSystems = {"16-bit Windows", "32-bit Windows",
                                                            "Macintosh", "64-bit Windows"};
    static constexpr std::array<const char*, 4> kFlags = {"restricted", "control", "hidden",
                                                          "has disk image"};
    QStringList flags;
    for (std::size_t i = 0; i < kFlags.size(); ++i)
        if (t.flags & (1u << i))
            flags << QLatin1String(kFlags[i]);
    const QString system = t.sysKind < kSystems.size() ? QLatin1String(kSystems[t.sysKind])
                                                       : QStringLiteral("unknown");
    out.sections.push_back(
        {QStringLiteral("Type library"),
         {
             {QStringLiteral("Name"), Shown(t.name)},
             {QStringLiteral("Version"),
              QStringLiteral("%1.%2").arg(t.majorVersion).arg(t.minorVersion)},
             {QStringLiteral("Locale"), LanguageWithCode(t.lcid)},
             {QStringLiteral("Help string"), Shown(t.helpString, true)},
             {QStringLiteral("Help file"), Shown(t.helpFile)},
             {QStringLiteral("Help context"), QString::number(t.helpContext)},
             {QStringLiteral("GUID"), Shown(t.guid)},
             {QStringLiteral("Flags"),
              (flags.isEmpty() ? QStringLiteral("none") : flags.join(QStringLiteral(", "))) +
                  QStringLiteral(" (") + Hex(t.flags, 4) + QLatin1Char(')')},
             {QStringLiteral("System"), system + QStringLiteral(" (%1)").arg(t.sysKind)},
             {QStringLiteral("Format"), t.format == TypeLibraryFormat::Sltg
                                            ? QStringLiteral("SLTG (the older format)")
                                            : QStringLiteral("MSFT")},
         }});
}

// --------------------------------------------------------------- .NET

// The identity a .NET assembly binds by, beside its file version.
void AddAssemblySection(const FileVersionData& data, FileProperties& out) {
    if (data.assembly) {
        const AssemblyIdentity& a = *data.assembly;
        out.sections.push_back(
            {QStringLiteral(".NET assembly"),
             {
                 {QStringLiteral("Name"), Shown(a.name)},
                 {QStringLiteral("Assembly version"), Q(a.version)},
                 {QStringLiteral("Culture"),
                  a.culture.empty() ? QStringLiteral("neutral") : Shown(a.culture)},
                 {QStringLiteral("Public key token"),
                  a.publicKeyToken.empty() ? QStringLiteral("none (not signed)")
                                           : Q(a.publicKeyToken)},
             }});
    } else if (data.assemblyFailure) {
        out.sections.push_back(
            {QStringLiteral(".NET assembly"),
             {{QStringLiteral("Not read"), Q(data.assemblyFailure->Message())}}});
    }
}

// ------------------------------------------------------------- the whole

QString ExecutableText(ExecutableFormat format) {
    switch (format) {
    case ExecutableFormat::Pe32:
        return QStringLiteral("PE32 executable");
    case ExecutableFormat::Pe32Plus:
        return QStringLiteral("PE32+ executable");
    case ExecutableFormat::Ne:
        break;
    }
    return QStringLiteral("16-bit NE executable");
}

/// What the readers made of the file, in a few words.
QString ContentText(const FileVersionData& data) {
    switch (data.kind) {
    case FileKind::VersionResource:
        if (!data.executable)
            return QStringLiteral("not a Windows executable: no version information");
        return ExecutableText(*data.executable) +
               (data.version ? QStringLiteral(" with a version resource")
                             : QStringLiteral(" without a version resource"));
    case FileKind::TrueType:
        return data.font ? QStringLiteral("TrueType font")
                         : QStringLiteral("no TrueType naming table this program reads");
    case FileKind::TypeLibrary:
        if (!data.typeLibrary)
            return data.executable ? ExecutableText(*data.executable) +
                                         QStringLiteral(" without a type library")
                                   : QStringLiteral("not a type library");
        if (data.executable)
            return QStringLiteral("type library in the TYPELIB resource of a ") +
                   ExecutableText(*data.executable);
        return QStringLiteral("type library");
    }
    return {};
}

// What a scan of the file would put in the grid now; the grid itself may
// show something else (a row copied since, or read before the file changed).
void AddReadNowSection(const FileVersionData& data, FileProperties& out) {
    const VersionTexts texts = ScanTexts(data);
    out.sections.push_back({QString::fromLatin1(kReadNowSectionTitle),
                            {{QStringLiteral("Version"), Shown(texts.version)},
                             {QStringLiteral("Language"), Shown(texts.language)},
                             {QStringLiteral("Description"), Shown(texts.description, true)},
                             {QStringLiteral("Copyright"), Shown(texts.copyright, true)}}});
}

/// Values wrap at the width of their column; the tree asks each row for its
/// height with the column's width, so a long copyright shows whole.
class WrappingDelegate : public QStyledItemDelegate {
public:
    explicit WrappingDelegate(QTreeWidget* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        // The style wraps only inside a valid rectangle: any height will do.
        item.rect = QRect(0, 0, tree_->header()->sectionSize(index.column()), 1);
        item.features |= QStyleOptionViewItem::WrapText;
        return tree_->style()->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), tree_);
    }

private:
    QTreeWidget* tree_;
};

} // namespace

std::optional<QString> PropertySection::Value(const QString& label) const {
    for (const PropertyRow& row : rows)
        if (row.label == label)
            return row.value;
    return std::nullopt;
}

const PropertySection* FileProperties::Section(const QString& title) const {
    for (const PropertySection& section : sections)
        if (section.title.startsWith(title))
            return &section;
    return nullptr;
}

std::vector<std::uint32_t> LeadingVersionNumbers(std::string_view text) {
    std::vector<std::uint32_t> numbers;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    const auto digit = [&] { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    skipBlanks();
    while (numbers.size() < 4 && digit()) {
        std::uint32_t value = 0;
        for (; digit(); ++i)
            value = std::min<std::uint32_t>(value * 10 + static_cast<std::uint32_t>(text[i] - '0'),
                                            0x10000);
        numbers.push_back(value);
        if (value > 0xFFFF)
            break;
        const std::size_t before = i;
        skipBlanks();
        if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
            ++i;
            skipBlanks();
        } else {
            i = before;
            break;
        }
    }
    return numbers;
}

bool VersionTextAgrees(std::string_view text, std::uint32_t ms, std::uint32_t ls) {
    const std::vector<std::uint32_t> numbers = LeadingVersionNumbers(text);
    const std::array<std::uint32_t, 4> fixed = {HiWord(ms), LoWord(ms), HiWord(ls), LoWord(ls)};
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] != fixed[i])
            return false;
    return true;
}

QString VisibleText(std::string_view utf8, bool keepLineBreaks) {
    return QString::fromStdString(EscapeControls(utf8, keepLineBreaks));
}

namespace {
// What the readers found, after the section "File".
void AddContentSections(const FileVersionData& data, const std::optional<TrueTypeNames>& names,
                        FileProperties& out);
} // namespace

FileProperties ReadFileProperties(const std::string& path) {
    FileProperties out;
    out.path = path;
    const std::string shownPath = DecodeText(path);
    const std::size_t slash = shownPath.rfind('/');
    out.name = VisibleText(slash == std::string::npos ? shownPath : shownPath.substr(slash + 1));
    out.folder = VisibleText(slash == std::string::npos ? std::string()
                             : slash == 0               ? std::string("/")
                                                        : shownPath.substr(0, slash));

    const Entry entry = EntryOf(path);
    out.exists = entry.self.has_value();
    PropertySection file{QStringLiteral("File"), {}};
    file.rows.push_back({QStringLiteral("Name"), out.name});
    file.rows.push_back({QStringLiteral("Folder"), out.folder});
    if (!entry.self) {
        file.rows.push_back({QStringLiteral("Type"), QStringLiteral("nothing is there")});
        out.sections.push_back(std::move(file));
        return out;
    }
    if (S_ISLNK(entry.self->st_mode)) {
        file.rows.push_back({QStringLiteral("Link target"),
                             VisibleText(DecodeText(entry.linkTarget)) +
                                 (entry.followed ? QString() : QStringLiteral(" (missing)"))});
    }
    const struct stat& st = entry.followed ? *entry.followed : *entry.self;

    // One read of the file: the parse the scan makes and, for a font, its
    // whole naming table from the same open file.
    const FileKind kind = FileKindOf(ExtensionOf(path));
    FileVersionData data;
    data.kind = kind;
    std::optional<TrueTypeNames> names;
    if (entry.followed && S_ISREG(entry.followed->st_mode)) {
        std::error_code error;
        if (const auto opened = OpenedFile::Open(path, error)) {
            data = ReadFileVersionData(*opened, kind);
            if (data.font)
                names = ReadTrueTypeNames(*opened);
            data.error = opened->ReadError();
        } else {
            data.error = error;
        }
    }

    QString type = TypeText(st.st_mode);
    if (data.opened)
        type += QStringLiteral(": ") + ContentText(data);
    file.rows.push_back({QStringLiteral("Type"), type});
    if (S_ISREG(st.st_mode))
        file.rows.push_back({QStringLiteral("Size"), SizeText(st.st_size)});
    file.rows.push_back({QStringLiteral("Modified"), Time(st.st_mtim)});
    file.rows.push_back({QStringLiteral("Accessed"), Time(st.st_atim)});
    file.rows.push_back({QStringLiteral("Status changed"), Time(st.st_ctim)});
    file.rows.push_back({QStringLiteral("Owner"), UserText(st.st_uid)});
    file.rows.push_back({QStringLiteral("Group"), GroupText(st.st_gid)});
    file.rows.push_back({QStringLiteral("Permissions"), PermissionsText(st.st_mode)});
    if (data.error)
        file.rows.push_back({QStringLiteral("Read error"), Q(data.error.message())});
    out.sections.push_back(std::move(file));
    AddContentSections(data, names, out);
    return out;
}

FileProperties ReadMemberProperties(const std::string& archive, const std::string& member) {
    FileProperties out;
    out.path = JoinPath(archive, member);
    const std::string shownPath = DecodeText(out.path);
    const std::size_t slash = shownPath.rfind('/');
    out.name = VisibleText(shownPath.substr(slash + 1));
    out.folder = VisibleText(shownPath.substr(0, slash));
    PropertySection file{QStringLiteral("File"), {}};
    file.rows.push_back({QStringLiteral("Name"), out.name});
    file.rows.push_back({QStringLiteral("Folder"), out.folder});

    // The member read now, out of the archive as it is now: one walk that
    // unpacks this member alone, as far as its reader needs.
    const FileKind kind = FileKindOf(ExtensionOf(member));
    FileVersionData data;
    data.kind = kind;
    std::optional<TrueTypeNames> names;
    std::optional<Failure> failed;
    bool found = false;
    if (auto tree = OpenPackedTree(archive)) {
        const auto walked = (*tree)->Walk(
            [&](const PackedMember& m) { return m.name == member; },
            [&](const PackedMember& m, const ByteSource* bytes) {
                found = true;
                out.exists = true;
                if (bytes == nullptr) {
                    failed = Failure{Reason::CabinetMissing, Step::Read};
                    return false;
                }
                data = ReadFileVersionData(*bytes, kind);
                if (data.font)
                    names = ReadTrueTypeNames(*bytes);
                (void)m;
                return false; // the one member asked for
            },
            [&](const std::string& name, const Failure& failure) {
                if (name == member) {
                    found = true;
                    failed = failure;
                }
            });
        if (!walked && !failed)
            failed = walked.error();
    } else {
        failed = tree.error();
    }
    if (failed) {
        // What was read of a member whose bytes then failed is not shown.
        data = {};
        data.kind = kind;
        names.reset();
    }
    QString type = QStringLiteral("member of an archive");
    if (!found && !failed)
        type = QStringLiteral("the archive holds no such member now");
    else if (data.opened)
        type += QStringLiteral(": ") + ContentText(data);
    file.rows.push_back({QStringLiteral("Type"), type});
    if (data.opened)
        file.rows.push_back({QStringLiteral("Size"), SizeText(data.size)});
    if (failed)
        file.rows.push_back({QStringLiteral("Read error"), Q(failed->Message())});
    out.sections.push_back(std::move(file));
    AddContentSections(data, names, out);
    return out;
}

namespace {

void AddContentSections(const FileVersionData& data, const std::optional<TrueTypeNames>& names,
                        FileProperties& out) {
    if (!data.opened)
        return;
    AddReadNowSection(data, out);
    switch (data.kind) {
    case FileKind::VersionResource:
        AddVersionSections(data, out);
        AddAssemblySection(data, out);
        break;
    case FileKind::TrueType:
        if (names)
            AddFontSections(*names, out);
        break;
    case FileKind::TypeLibrary:
        if (data.typeLibrary)
            AddTypeLibrarySection(*data.typeLibrary, out);
        break;
    }
}

} // namespace

// ------------------------------------------------------------------ window

namespace {

std::vector<PropertySection> Sections(std::optional<PropertySection> gridRow) {
    std::vector<PropertySection> known;
    if (gridRow)
        known.push_back(*std::move(gridRow));
    return known;
}

} // namespace

FilePropertiesWindow::FilePropertiesWindow(const std::string& path, QWidget* owner,
                                           std::optional<PropertySection> gridRow)
    : FilePropertiesWindow(path, owner, Sections(std::move(gridRow))) {}

FilePropertiesWindow::FilePropertiesWindow(const std::string& path, QWidget* owner,
                                           std::vector<PropertySection> known, std::string member)
    : QWidget(owner, Qt::Window), file_(path), member_(std::move(member)), known_(std::move(known)) {
    setObjectName(QStringLiteral("filePropertiesWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    if (owner != nullptr)
        setWindowIcon(owner->windowIcon());
    properties_.path = path;

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(32, 32));
    nameLabel_ = new QLabel(this);
    nameLabel_->setObjectName(QStringLiteral("nameLabel"));
    QFont bold = nameLabel_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    nameLabel_->setFont(bold);
    folderLabel_ = new QLabel(this);
    folderLabel_->setObjectName(QStringLiteral("folderLabel"));
    for (QLabel* label : {nameLabel_, folderLabel_}) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    names->addWidget(nameLabel_);
    names->addWidget(folderLabel_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(names, 1);

    disagreementBox_ = new QFrame(this);
    disagreementBox_->setObjectName(QStringLiteral("disagreementBox"));
    disagreementBox_->setFrameShape(QFrame::StyledPanel);
    disagreementGrid_ = new QGridLayout(disagreementBox_);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("propertyTree"));
    tree_->setColumnCount(2);
    tree_->setHeaderLabels({tr("Property"), tr("Value")});
    tree_->setRootIsDecorated(true);
    tree_->setUniformRowHeights(false);
    tree_->setWordWrap(true);
    tree_->setTextElideMode(Qt::ElideNone);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->header()->setStretchLastSection(true);
    tree_->setItemDelegateForColumn(1, new WrappingDelegate(tree_));
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* copy = menu.addAction(tr("&Copy"));
        copy->setEnabled(!tree_->selectedItems().isEmpty());
        QAction* copyAll = menu.addAction(tr("Copy &All"));
        QAction* chosen = menu.exec(tree_->viewport()->mapToGlobal(at));
        if (chosen == copy || chosen == copyAll)
            QApplication::clipboard()->setText(RowsText(chosen == copyAll));
    });
    // Wrapped values need their rows laid out again when the columns change.
    connect(tree_->header(), &QHeaderView::sectionResized, tree_,
            [this] { tree_->doItemsLayout(); });

    auto* refresh = new QPushButton(tr("&Refresh"), this);
    refresh->setObjectName(QStringLiteral("refresh"));
    connect(refresh, &QPushButton::clicked, this, &FilePropertiesWindow::Reload);
    auto* copyAll = new QPushButton(tr("Copy &All"), this);
    copyAll->setObjectName(QStringLiteral("copyAll"));
    connect(copyAll, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(RowsText(true)); });
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyAll);
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(disagreementBox_);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);

    resize(600, 640);
    Reload();
    close->setFocus();
}

void FilePropertiesWindow::Reload() {
    properties_ = member_.empty() ? ReadFileProperties(file_) : ReadMemberProperties(file_, member_);
    const auto afterFile = properties_.sections.empty() ? properties_.sections.begin()
                                                        : properties_.sections.begin() + 1;
    properties_.sections.insert(afterFile, known_.begin(), known_.end());
    Fill();
}

void FilePropertiesWindow::SetGridRow(std::optional<PropertySection> gridRow) {
    SetKnownSections(Sections(std::move(gridRow)));
}

void FilePropertiesWindow::SetKnownSections(std::vector<PropertySection> known) {
    known_ = std::move(known);
    Reload();
}

void FilePropertiesWindow::Fill() {
    setWindowTitle(tr("%1 - File Properties").arg(properties_.name));
    nameLabel_->setText(properties_.name);
    folderLabel_->setText(properties_.folder);
    FillDisagreements();

    tree_->clear();
    QFont headingFont = tree_->font();
    headingFont.setBold(true);
    for (const PropertySection& section : properties_.sections) {
        auto* heading = new QTreeWidgetItem(tree_, {section.title});
        heading->setFont(0, headingFont);
        heading->setFirstColumnSpanned(true);
        for (const PropertyRow& row : section.rows) {
            auto* item = new QTreeWidgetItem(heading, {row.label, row.value});
            item->setTextAlignment(0, Qt::AlignLeft | Qt::AlignTop);
            item->setTextAlignment(1, Qt::AlignLeft | Qt::AlignTop);
        }
        heading->setExpanded(true);
    }
    tree_->resizeColumnToContents(0);
    tree_->setColumnWidth(0, std::min(tree_->columnWidth(0) + 8, 260));
}

void FilePropertiesWindow::FillDisagreements() {
    while (QLayoutItem* item = disagreementGrid_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& list = properties_.disagreements;
    disagreementBox_->setVisible(!list.empty());
    if (list.empty())
        return;
    const auto add = [this](const QString& text, int row, int column, bool bold = false) {
        auto* label = new QLabel(text, disagreementBox_);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setWordWrap(column > 0);
        if (bold) {
            QFont font = label->font();
            font.setBold(true);
            label->setFont(font);
        }
        disagreementGrid_->addWidget(label, row, column);
        return label;
    };
    auto* note = add(tr("The version strings of this file disagree with its fixed file "
                        "information. The result grid shows and compares the fixed file "
                        "information."),
                     0, 0, true);
    note->setWordWrap(true);
    note->setObjectName(QStringLiteral("disagreementNote"));
    disagreementGrid_->addWidget(note, 0, 0, 1, 3);
    add(tr("Fixed information"), 1, 1, true);
    add(tr("Version string"), 1, 2, true);
    // A file with many string tables could fill the window; the tables
    // themselves are listed below.
    constexpr std::size_t kShownRows = 6;
    int row = 2;
    for (const VersionDisagreement& d : std::span(list).first(std::min(list.size(), kShownRows))) {
        add(QStringLiteral("%1 (%2)").arg(d.field, d.table), row, 0);
        add(d.fixed, row, 1);
        add(d.text, row, 2);
        ++row;
    }
    if (list.size() > kShownRows)
        add(tr("and %1 more").arg(list.size() - kShownRows), row, 0);
    disagreementGrid_->setColumnStretch(2, 1);
}

QString FilePropertiesWindow::RowsText(bool all) const {
    QString text;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* heading = tree_->topLevelItem(i);
        if (all || heading->isSelected())
            text += heading->text(0) + QLatin1Char('\n');
        for (int j = 0; j < heading->childCount(); ++j) {
            const QTreeWidgetItem* item = heading->child(j);
            if (all || item->isSelected())
                text += item->text(0) + QLatin1Char('\t') + item->text(1) + QLatin1Char('\n');
        }
    }
    return text;
}

void FilePropertiesWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(RowsText(false));
        return;
    }
    QWidget::keyPressEvent(event);
}

int ShowFileProperties(const std::string& path, QWidget* owner,
                       std::optional<PropertySection> gridRow) {
    return ShowFileProperties(path, owner, Sections(std::move(gridRow)));
}

int ShowFileProperties(const std::string& path, QWidget* owner,
                       std::vector<PropertySection> known) {
    return ShowMemberProperties(path, {}, owner, std::move(known));
}

int ShowMemberProperties(const std::string& path, const std::string& member, QWidget* owner,
                         std::vector<PropertySection> known) {
    if (!EntryOf(path).self)
        return -1;
    const std::string shown = member.empty() ? path : JoinPath(path, member);
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<FilePropertiesWindow*>(widget);
        if (window == nullptr || !window->isVisible())
            continue;
        if (window->Path() == shown) {
            window->SetKnownSections(std::move(known));
            window->raise();
            window->activateWindow();
            return 0;
        }
        ++open;
    }
    auto* window = new FilePropertiesWindow(path, owner, std::move(known), member);
    // Each new window a step further down and right, so the source and the
    // target window of a row are both in sight.
    QRect area = window->screen() != nullptr ? window->screen()->availableGeometry() : QRect();
    QPoint at = owner != nullptr ? owner->frameGeometry().topLeft() + QPoint(60, 60)
                                 : area.topLeft() + QPoint(60, 60);
    at += QPoint(40, 40) * (open % 8);
    if (area.isValid()) {
        window->resize(window->size().boundedTo(area.size() - QSize(40, 40)));
        at.setX(
            std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - window->width())));
        at.setY(
            std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - window->height())));
    }
    window->move(at);
    window->show();
    window->raise();
    window->activateWindow();
    return 0;
}

} // namespace sorvane::windows
