#include "command_table.h"

#include <algorithm>

namespace sorvane::cli {
namespace {

using enum ValueKind;

const std::vector<std::string_view> kExecuteCommands = {
    "Maximize", "Minimize", "Restore", "Hide",   "Show",   "Tab",    "Scan",
    "Stop",     "Save",     "Recur",   "Find",   "Synchr", "Resize", "Backup"};

std::vector<CommandSpec> MakeTable() {
    const OptionSpec filter{"--filter", "PATTERNS", Text, {},
                            "only files matching these wildcards (\"*.dll;*.exe\")"};
    const OptionSpec subfolders{"-r,--subfolders", "", None, {}, "include sub-folders"};
    return {
        {"compare",
         "compare SOURCE [TARGET] [OPTIONS]",
         "compare the versions of the files in two folders, or list one",
         R"(Compare the versions of the files in the folder SOURCE with the files
of the same relative path under the folder TARGET, and list each pair
with a mark:  >  source newer   <  target newer   !  languages differ
~  same version, different size (or bytes, with --content)
-  no versioned target (orphan)
=  equal.  SOURCE may also be a Source Map (a file ending in .map,
saved with --save-map); without TARGET a map is compared against the
folder or archive it was saved from, and a folder is simply listed.
SOURCE and TARGET may also be archives, read as the folder tree they
hold without unpacking them to the disk: ZIP (.zip, .nupkg, .jar,
.vsix, .appx), 7-Zip, tar (plain, .gz, .bz2, .xz, .zst), CAB and ISO
9660. A member whose name leads outside the tree (absolute, "..", a
backslash), a duplicate name, a link, an encrypted member, one that
cannot be decompressed or unpacks to more than its budget gives no
row and is named as ARCHIVE/MEMBER on standard error.)",
         {{"SOURCE", Path}, {"TARGET", Folder}},
         {filter,
          subfolders,
          {"--show", "all|different|newer", Choice, {"all", "different", "newer"},
           "which rows to list (default: different; \"newer\" also keeps rows with unequal "
           "language or size)"},
          {"--sort", "COLUMN", Choice,
           {"none", "name", "ext", "language", "source-version", "mark", "target-version",
            "target-language", "busy", "description", "copyright"},
           "the column to sort by: name, ext, language, source-version, mark, target-version, "
           "target-language, busy, description, copyright, or none (default)"},
          {"--descending", "", None, {}, "sort in descending order"},
          {"--format", "table|csv|csv-raw|json|html|junit|github", Choice,
           {"table", "csv", "csv-raw", "json", "html", "junit", "github"},
           "output format (default: table); html is one page with the paths, the date, the "
           "display mode, the counters and the rows in the window's default colours. csv is "
           "for spreadsheets: a cell that would start a formula (\"=\", \"+\", \"-\", \"@\", "
           "a tab or CR, then more) gets a leading \"'\". csv-raw is csv without that, for "
           "other programs. junit is a JUnit XML report for CI systems (GitLab, Jenkins): one "
           "test case per listed file (every compared file unless --show says otherwise), a "
           "failure for each row that --fail-on fails, an error for each entry that could "
           "not be read. github is one GitHub Actions workflow command per listed row that is "
           "not \"=\" or that --fail-on fails: ::error for a row --fail-on fails, ::warning "
           "for the others. Both give the versions, the mark and, for .NET assemblies, the "
           "assembly versions; json rows hold them as sourceAssemblyVersion and "
           "targetAssemblyVersion."},
          {"--fail-on", "CATEGORIES", Text, {},
           "a release gate: exit status 1 only when a row of one of these comma-separated "
           "categories is found, else 0 (2 on trouble as always): newer-source, newer-target, "
           "unequal-language, different-size, incomparable, orphans; and assembly-version-down: "
           "a pair of .NET assemblies whose source has the lower AssemblyVersion, whatever its "
           "mark (its file version may have gone up). Without --show the rows of every "
           "category named are let through; a --show that leaves them out is refused."},
          {"--save-map", "FILE", File, {},
           "also save the listed rows as a Source Map; its first line is the absolute source "
           "folder or archive. Files whose names a map line cannot hold (\"|\", \"\\\", a line break, "
           "bytes that are not UTF-8) are left out and named on standard error. With --content "
           "each entry also holds the XXH3-128 hash of its file's bytes, so a later compare "
           "against the map with --content marks a target of the same version and size whose "
           "bytes differ \"~\"."},
          {"--strict", "", None, {}, "mark versions whose parts differ in length \"?\""},
          {"--content", "", None, {},
           "also compare the bytes of each pair whose versions and sizes are equal (XXH3-128, "
           "each file read once): \"~\" then also means same version, different bytes. "
           "Against a Source Map the target's bytes are compared with the hash its entry holds "
           "(a map saved with --content). The members of an archive are read whole for it."},
          {"--threads", "N", Text, {},
           "at most N files read in parallel (default 4; 0 = sequential): one per core at "
           "first, all N when the files come from the disk"},
          {"--list", "CATEGORY", Choice,
           {"newer-source", "newer-target", "unequal-language", "different-size",
            "incomparable", "orphans"},
           "print the absolute paths of one category instead of the rows, one a line: "
           "newer-source, newer-target, unequal-language, different-size, incomparable (with "
           "--strict) or orphans. Newer-target paths are under TARGET, the others under "
           "SOURCE, both made absolute when given relative. Every file of the category is "
           "listed (no --show); names are printed exactly as on disk. Exit status 1 when a "
           "path was printed, 0 when none."},
          {"--null", "", None, {},
           "end each path of --list with a NUL byte instead of a line feed (for xargs -0)"}},
         R"(Text is written as UTF-8. A byte of a file name that is not part of
valid UTF-8 is shown as its Windows-1252 character (0xE9 as "é"), so
csv, json and html stay valid whatever the names hold; csv quotes
fields holding commas, quotes or line breaks. A pipeline that reads
the rows takes json or csv-raw, which keep the texts as they are
(but for that decoding); --list with --null gives the paths byte for
byte. Ctrl+C stops the scan and prints the rows found so far.
In the table, in html and on standard error, control characters
of names and version texts and the marks that reorder text are
shown as escapes (\x1b, \u202E); csv and json keep them exact.)",
         "0 no row listed, 1 rows listed, 2 trouble or usage",
         R"(Exit status like diff: 0 when no row was listed, 1 when rows were
listed (a plain listing without TARGET exits 0); with --fail-on, 1
only when a row of its categories (or, with assembly-version-down, a
pair whose assembly version went down) was found, else 0. 2 on bad paths,
usage, entries that could not be read (each named on standard
error; the rows that could be read are still listed) or too little
memory.)",
         {"sorvane-cli compare -r build/release /opt/product --show all --sort name",
          "sorvane-cli compare -r product-1.1.zip product-1.2.zip",
          "sorvane-cli compare -r build/release --save-map release.map",
          "sorvane-cli compare release.map /opt/product --format json",
          "sorvane-cli compare -r build/release /opt/product --format html > report.html",
          "sorvane-cli compare -r build/release /opt/product --list orphans --null | xargs -0 ls -l"}},
        {"copy",
         "copy SOURCE TARGET [OPTIONS]",
         "copy each file whose source is newer onto its target",
         R"(Scan the two folders as compare does and copy every file whose
source is newer (">") onto its target, as the window's Batch Copy
does. Each replaced target file is first saved under TARGET/_Backup
(or the folder --backup-dir names) with the same relative path (an
older backup there is replaced); on the Target's file system the
backup is a second name (a hard link) of the old file, so nothing is
copied for it.
A copy is written to a temporary file beside the target, flushed and
renamed over it, so a failure (a full disk, a folder that cannot be
written) or a kill leaves the old target as it was; the files are
flushed in groups of up to a few hundred, each group at once. The copy
gets the source's permission bits and modification time. Missing
sub-folders are made.
Nothing is written through a symbolic link: a link at a target
file, at a folder on its way, at TARGET/_Backup or below it refuses
that file, as does a source or target file that changed after the
scan (scan again); the holes of a sparse file stay holes.
SOURCE may be an archive or installer, as for compare: its members
are copied out of it in one pass, each with the member's permission
bits and time where the format keeps them (0644 and the archive's
time otherwise); a member that cannot be unpacked is not copied and
its target stays. TARGET must be a folder: an archive is read-only.)",
         {{"SOURCE", Folder}, {"TARGET", Folder}},
         {filter,
          subfolders,
          {"--backup", "", None, {}, "save each target file before it is replaced (default)"},
          {"--no-backup", "", None, {}, "replace the target files without saving them",
           "--backup"},
          {"--backup-dir", "DIR", Folder, {},
           "save the backups below DIR instead of TARGET/_Backup, with the same relative "
           "paths. DIR must exist apart from SOURCE and TARGET (neither inside them nor "
           "holding them); below it, as below _Backup, nothing is written through a symbolic "
           "link."},
          {"-n,--dry-run", "", None, {},
           "only list what would be copied; nothing is written, so a system folder is only "
           "a note on standard error"},
          {"--force", "", None, {},
           "copy into a folder that looks like a system folder (the Wine prefix's Windows "
           "folder, /usr, /etc, ..., or one below a folder holding win.ini and system.ini), "
           "which is otherwise refused"}},
         R"(Each file copied is printed, each failure is named with its reason
on standard error. A target file the scan found not writable is
skipped, as in the window. When a backup fails, copying stops.
Ctrl+C stops after the file being copied.)",
         "0 all copied, 1 a file not copied, 2 trouble or usage",
         R"(Exit status: 0 when every newer file was copied (or there was none),
1 when a file was not copied, 2 on bad paths, usage, a refused
system folder, entries that could not be read or files refused for
a link or a change since the scan (each named on standard error;
the other files are still copied).)",
         {"sorvane-cli copy -r build/release /opt/product --dry-run",
          "sorvane-cli copy -r --filter '*.dll' build/release /opt/product",
          "sorvane-cli copy -r product-1.2.zip /opt/product"}},
        {"info",
         "info [--json] [--all] [-r] [--filter PATTERNS] FILE...",
         "show what Sorvane reads from single files",
         R"(Show what Sorvane reads from each file: its kind (chosen by the
extension: .ttf is a TrueType font, .tlb and .olb are type libraries,
anything else is read for a Windows version resource), version,
language, description and copyright. A file without version data is
shown with empty texts; that is not an error.
A FILE that is an archive (ZIP, .nupkg, .jar, .vsix, .appx, 7-Zip, tar
plain or .gz, .bz2, .xz, .zst, CAB, ISO 9660) lists its versioned
members as compare lists it without a TARGET; with --all, every member
with its size and time and all that is found in it, in the order the
archive holds them. An installer's member shows its File table version,
flagged when it differs from the file's own; when its cabinet is missing,
the File table's version stands in and a note says so.)",
         {{"FILE", File}},
         {{"--json", "", None, {},
           "print one JSON array, an object for each file; a file that could not be read "
           "has an \"error\" field with the reason, and a file that gave no data (not read, "
           "or not versioned, truncated, of a bad format) a \"failure\" object: \"code\" "
           "(an errno name such as ENOENT, or not-versioned, truncated, bad-format, "
           "not-regular-file), \"step\" (open, read, read executable header, find version "
           "resource, read version resource, parse version block, read font names, read type "
           "library) and \"message\""},
          {"--all", "", None, {},
           "add everything found in the file (fixed version fields, every translation and "
           "string table, every font name, the type library's attributes)"},
          {"--filter", "PATTERNS", Text, {},
           "only the members of an archive that match these wildcards (\"*.dll;*.exe\")"},
          {"-r,--subfolders", "", None, {},
           "the members of an archive below its folders too, not only those at its root"}},
         {},
         "0 every file read, 2 a file could not be read or usage",
         R"(Exit status: 0 when every file could be read (with or without
version data), 2 when a file could not be read, or a member of an
archive (each named with the reason on standard error; the others
are still shown), or on usage.)",
         {"sorvane-cli info /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll",
          "sorvane-cli info --json --all build/*.dll",
          "sorvane-cli info -r --filter '*.dll' product-1.2.zip"}},
        {"order",
         "order VERSION1 VERSION2 [--strict]",
         "compare two version texts",
         R"(Compare two version texts part by part, as numbers (2.10 is newer
than 2.9, 5.00.2134.01 equals 5.0.2134.1). Prints ">" when VERSION1
is newer, "<" when VERSION2 is newer, "=" when they are equal, and
with --strict "?" when parts of different lengths make the pair
incomparable.)",
         {{"VERSION1"}, {"VERSION2"}},
         {{"--strict", "", None, {}, "print \"?\" for versions whose parts differ in length"}},
         {},
         "0 compared, 2 usage",
         "Exit status: 0 when the versions were compared, 2 on usage.",
         {"sorvane-cli order 2.10 2.9"}},
        {"language",
         "language LCID...",
         "print the names of Windows language identifiers",
         R"(Print the name of each Windows language identifier (decimal, or
hexadecimal with 0x), "[Neutral]" for identifiers without a name.)",
         {{"LCID"}},
         {},
         {},
         "0 named, 2 usage",
         "Exit status: 0 when every identifier was named, 2 on usage.",
         {"sorvane-cli language 1033 0x407"}},
        {"settings-file",
         "settings-file [--settings FILE]",
         "print where the settings file is",
         R"(Print where the settings file is (or would be created): FILE, else
$SORVANE_SETTINGS, else Sorvane.dat beside the program when it exists
and is writable, else $XDG_CONFIG_HOME/Sorvane/Sorvane.dat
(~/.config/Sorvane/Sorvane.dat).)",
         {},
         {{"--settings", "FILE", File, {}, "the settings file the window is given"}},
         {},
         "0 printed, 1 no home folder known, 2 usage",
         R"(Exit status: 0 when the place was printed, 1 when neither HOME nor
the account's home folder is known, 2 on usage.)",
         {}},
        {"execute",
         "execute COMMAND [--timeout SECONDS] [--socket PATH]",
         "send a command to the running Sorvane window",
         R"(Send COMMAND to the Sorvane window running for this user and print
its reply, "accepted" or "not accepted". Maximize, Minimize, Restore,
Hide and Show set the window's state; Tab gives the window the focus
and presses Tab once. Any other text clicks the window's tool bar
button of that name, as a click of the user would, even when the
button is disabled or hidden: Scan, Stop, Save, Recur, Find, Synchr,
Resize or Backup; such a command is answered "not accepted", as is
a text that names nothing. Letter case does not matter.
While a dialog or message box in the window waits for the user,
every command is answered "not accepted" and does nothing. When the
window serving commands closes, another running Sorvane window
takes over within a second or so.)",
         {{"COMMAND", Choice, kExecuteCommands}},
         {{"--timeout", "SECONDS", Text, {}, "how long to wait for the reply (default 10)"},
          {"--socket", "PATH", File, {},
           "the window's socket (default: $XDG_RUNTIME_DIR/Sorvane.Main, else "
           "/tmp/Sorvane-UID/Sorvane.Main)"}},
         {},
         "0 accepted, 1 not accepted, 2 no window, trouble or usage",
         R"(Exit status: 0 when the command was accepted, 1 when not, 2 when no
window is running ("no Sorvane window is running"), when the
socket's folder belongs to another user or others can write to it
(the command is not sent; the message names the folder), when the
socket cannot be reached or no reply came in time, or on usage.)",
         {"sorvane-cli execute Scan", "sorvane-cli execute minimize"}},
    };
}

} // namespace

const std::vector<CommandSpec>& CommandTable() {
    static const std::vector<CommandSpec> table = MakeTable();
    return table;
}

const CommandSpec* FindCommand(std::string_view name) {
    const auto& table = CommandTable();
    const auto it = std::ranges::find(table, name, &CommandSpec::name);
    return it == table.end() ? nullptr : &*it;
}

std::vector<std::string_view> OptionNames(const OptionSpec& option) {
    std::vector<std::string_view> names;
    std::string_view rest = option.names;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        names.push_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return names;
}

const OptionSpec* FindOption(const CommandSpec& command, std::string_view name) {
    for (const auto& option : command.options) {
        const auto names = OptionNames(option);
        if (std::ranges::find(names, name) != names.end())
            return &option;
    }
    return nullptr;
}

std::string_view ShortHelp(std::string_view help) {
    std::size_t end = help.size();
    for (const std::string_view stop : {". ", "; ", " (", ":"})
        end = std::min(end, help.find(stop));
    return help.substr(0, end);
}

} // namespace sorvane::cli
