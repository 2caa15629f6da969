// sorvane-cli: the command-line face of the comparison engine.

#include "commands.h"

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHelp = R"(sorvane-cli - compare the versions of files in two folders

Usage:
  sorvane-cli COMMAND [ARGUMENTS]

Commands:
  compare SOURCE [TARGET] [OPTIONS]
        Compare the versions of the files in the folder SOURCE with the files
        of the same relative path under the folder TARGET, and list each pair
        with a mark:  >  source newer   <  target newer   !  languages differ
        ~  same version, different size   -  no versioned target (orphan)
        =  equal.  SOURCE may also be a Source Map (a file ending in .map,
        saved with --save-map); without TARGET a map is compared against the
        folder it was saved from, and a folder is simply listed.
        --filter PATTERNS   only files matching these wildcards ("*.dll;*.exe")
        --subfolders, -r    include sub-folders
        --show all|different|newer
                            which rows to list (default: different; "newer"
                            also keeps rows with unequal language or size)
        --sort COLUMN       name, ext, language, source-version, mark,
                            target-version, target-language, busy,
                            description, copyright, or none (default)
        --descending        sort in descending order
        --format table|csv|json
                            output format (default: table)
        --save-map FILE     also save the listed rows as a Source Map
        --strict            mark versions whose parts differ in length "?"
        --threads N         files read in parallel (default 4; 0 = sequential)
        Exit status like diff: 0 when no row was listed, 1 when rows were
        listed (a plain listing without TARGET exits 0), 2 on bad paths or
        usage. Ctrl+C stops the scan and prints the rows found so far.
  info [--json] [--all] FILE...
        Show what Sorvane reads from each file: its kind (chosen by the
        extension: .ttf is a TrueType font, .tlb and .olb are type libraries,
        anything else is read for a Windows version resource), version,
        language, description and copyright. --json prints one JSON array;
        --all adds everything found in the file (fixed version fields, every
        translation and string table, every font name, the type library's
        attributes). Exit status 1 when a file could not be read.
  order VERSION1 VERSION2 [--strict]
        Compare two version texts part by part, as numbers (2.10 is newer
        than 2.9, 5.00.2134.01 equals 5.0.2134.1). Prints ">" when VERSION1
        is newer, "<" when VERSION2 is newer, "=" when they are equal, and
        with --strict "?" when parts of different lengths make the pair
        incomparable.
  language LCID...
        Print the name of each Windows language identifier (decimal, or
        hexadecimal with 0x), "[Neutral]" for identifiers without a name.
  settings-file [--settings FILE]
        Print where the settings file is (or would be created): FILE, else
        $SORVANE_SETTINGS, else Sorvane.dat beside the program when it exists
        and is writable, else ~/.config/Sorvane/Sorvane.dat.

Options:
  -h, --help     show this help
  --version      show the program version

Examples:
  sorvane-cli compare -r build/release /opt/product --show all --sort name
  sorvane-cli compare -r build/release --save-map release.map
  sorvane-cli compare release.map /opt/product --format json
  sorvane-cli info /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll
  sorvane-cli info --json --all build/*.dll

Exit status: 0 on success, 1 when a file could not be read, 2 on a usage error.
)";

} // namespace

int main(int argc, char** argv) {
    using namespace sorvane::cli;
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return UsageError(std::cerr, "no command given");
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "--version") {
        std::cout << "sorvane-cli 1.00\n";
        return 0;
    }
    if (command == "compare")
        return RunCompare(args, std::cout, std::cerr);
    if (command == "info")
        return RunInfo(args, std::cout, std::cerr);
    if (command == "order")
        return RunOrder(args, std::cout, std::cerr);
    if (command == "language")
        return RunLanguage(args, std::cout, std::cerr);
    if (command == "settings-file")
        return RunSettingsFile(args, std::cout, std::cerr);
    return UsageError(std::cerr, "unknown command '" + command + "'");
}
