// sorvane-cli info: what the program reads from single files.

#include "command_parser.h"
#include "commands.h"
#include "json_writer.h"

#include "engine/path_utils.h"
#include "engine/text_utils.h"
#include "engine/version_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace sorvane::cli {
namespace {

struct InfoOptions {
    bool json = false;
    bool all = false;
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

// Why a file could not be opened, for the message on standard error.
std::string Unreadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a folder";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    return "cannot be opened for reading";
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

void WriteAllJson(JsonWriter& json, const FileVersionData& data) {
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
        for (const auto& t : v.translations) {
            json.BeginObject();
            json.Field("code", TranslationCode(t));
            json.Field("language", t.language);
            json.Field("languageName", LanguageText(t.language));
            json.Field("codePage", t.codePage);
            json.EndObject();
        }
        json.EndArray();
        json.Key("stringTables");
        json.BeginArray();
        for (const auto& table : v.stringTables) {
            json.BeginObject();
            json.Field("key", table.key);
            json.Key("strings");
            json.BeginArray();
            for (const auto& s : table.strings) {
                json.BeginObject();
                json.Field("name", s.name);
                json.Field("value", s.value);
                json.Field("valueLength", s.valueLength);
                json.EndObject();
            }
            json.EndArray();
            json.EndObject();
        }
        json.EndArray();
    }
    if (data.font) {
        json.Key("names");
        json.BeginArray();
        for (const auto& r : data.font->records) {
            json.BeginObject();
            json.Field("platform", r.platform);
            json.Field("encoding", r.encoding);
            json.Field("language", r.language);
            json.Field("nameId", r.nameId);
            json.BoolField("singleByte", r.singleByte);
            json.Field("text", r.text);
            json.EndObject();
        }
        json.EndArray();
    }
    if (data.typeLibrary) {
        const TypeLibraryInfo& t = *data.typeLibrary;
        json.Key("typeLibrary");
        json.BeginObject();
        json.Field("format", FormatName(t.format));
        json.Field("name", t.name);
        json.Field("guid", t.guid);
        json.Field("majorVersion", t.majorVersion);
        json.Field("minorVersion", t.minorVersion);
        json.Field("lcid", t.lcid);
        json.Field("helpString", t.helpString);
        json.Field("helpFile", t.helpFile);
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
    std::string line = margin + std::string(label);
    line.append(label.size() < width ? width - label.size() : 1, ' ');
    const std::string continuation = "\n" + margin + std::string(width, ' ');
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.remove_suffix(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;
        if (value[i] == '\n' || value[i] == '\r')
            line += continuation;
        else
            line += value[i];
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    out << line << "\n";
}

void WriteAllText(std::ostream& out, const FileVersionData& data) {
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
        for (const auto& t : v.translations)
            WriteLine(out, 2, "translation",
                      TranslationCode(t) + " " + LanguageText(t.language) + ", code page " +
                          std::to_string(t.codePage));
        for (const auto& table : v.stringTables) {
            out << "  string table " << table.key << "\n";
            for (const auto& s : table.strings)
                WriteLine(out, 4, s.name, s.value);
        }
    }
    if (data.font) {
        for (const auto& r : data.font->records) {
            char label[64];
            std::snprintf(label, sizeof label, "name %u (%u,%u,%s)", r.nameId, r.platform,
                          r.encoding, Hex(r.language, 4).c_str());
            WriteLine(out, 2, label, r.text);
        }
    }
    if (data.typeLibrary) {
        const TypeLibraryInfo& t = *data.typeLibrary;
        WriteLine(out, 2, "format", FormatName(t.format));
        WriteLine(out, 2, "name", t.name);
        WriteLine(out, 2, "guid", t.guid);
        WriteLine(out, 2, "lcid", Hex(t.lcid, 4));
        WriteLine(out, 2, "help file", t.helpFile);
        WriteLine(out, 2, "help context", std::to_string(t.helpContext));
        WriteLine(out, 2, "flags", Hex(t.flags, 4));
        WriteLine(out, 2, "system kind", std::to_string(t.sysKind));
    }
}

} // namespace

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    InfoOptions options;
    CommandParser parser("info");
    parser->add_option("FILE", options.files)->required();
    parser->add_flag("--json", options.json);
    parser->add_flag("--all", options.all);
    if (const auto status = parser.Parse(args, out, err))
        return *status;

    int status = 0;
    JsonWriter json(out);
    if (options.json)
        json.BeginArray();
    for (const auto& path : options.files) {
        const FileKind kind = FileKindOf(ExtensionOf(path));
        const FileVersionData data = ReadFileVersionData(path, kind);
        if (!data.opened) {
            err << "sorvane-cli: " << DecodeText(path) << ": " << Unreadable(path) << "\n";
            status = 1;
        }
        const VersionTexts texts = ScanTexts(data);
        if (options.json) {
            json.BeginObject();
            json.Field("path", DecodeText(path));
            json.Field("kind", KindName(kind));
            json.Field("version", texts.version);
            json.Field("language", texts.language);
            json.Field("description", texts.description);
            json.Field("copyright", texts.copyright);
            if (options.all)
                WriteAllJson(json, data);
            json.EndObject();
        } else {
            out << DecodeText(path) << "\n";
            WriteLine(out, 2, "kind", KindName(kind));
            WriteLine(out, 2, "version", texts.version);
            WriteLine(out, 2, "language", texts.language);
            WriteLine(out, 2, "description", texts.description);
            WriteLine(out, 2, "copyright", texts.copyright);
            if (options.all)
                WriteAllText(out, data);
        }
    }
    if (options.json)
        json.EndArray();
    return status;
}

} // namespace sorvane::cli
