// Walks an installer as the tree it installs and reads every member's
// version from its bytes with the engine's readers, as a scan would.
//
//   msi_walk [--list] PACKAGE.msi
//
// Prints one summary line: members visited, members without bytes, entries
// that could not be read, versions read, and how many of those agree with
// the version the File table declares. --list also prints every member
// ("name<TAB>version read<TAB>version declared<TAB>size") and every
// unreadable entry ("! name<TAB>message").
// Exit status: 0 when every member was visited with bytes and each version
// read equals the declared one, 1 otherwise, 2 when the package cannot be
// opened.

#include "engine/archive/msi_package.h"
#include "engine/formats/version_reader.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    using namespace sorvane;
    bool list = false;
    int at = 1;
    if (at < argc && std::string_view(argv[at]) == "--list") {
        list = true;
        ++at;
    }
    if (at + 1 != argc) {
        std::fprintf(stderr, "usage: msi_walk [--list] PACKAGE.msi\n");
        return 2;
    }
    auto tree = OpenMsiPackage(argv[at]);
    if (!tree) {
        std::fprintf(stderr, "msi_walk: %s: %s\n", argv[at], tree.error().Message().c_str());
        return 2;
    }
    std::size_t visited = 0, withoutBytes = 0, unreadable = 0, versioned = 0, agree = 0;
    const auto walked = (*tree)->Walk(
        [](const PackedMember&) { return true; },
        [&](const PackedMember& member, const ByteSource* bytes) {
            ++visited;
            std::string version;
            if (!bytes) {
                ++withoutBytes;
            } else {
                const auto kind =
                    FileKindOf(std::filesystem::path(member.name).extension().string());
                version = ScanTexts(ReadFileVersionData(*bytes, kind, ReadDepth::RowTexts)).version;
                if (!version.empty()) {
                    ++versioned;
                    // The table writes "5.0.2134.1" where the reader gives
                    // "5.00.2134.01", and "2.3.0.0" where it gives
                    // "2.03.0000": the numbers are compared, a missing one
                    // counting as 0.
                    unsigned a[4] = {}, b[4] = {};
                    const int na =
                        std::sscanf(version.c_str(), "%u.%u.%u.%u", &a[0], &a[1], &a[2], &a[3]);
                    const int nb = std::sscanf(member.declaredVersion.c_str(), "%u.%u.%u.%u", &b[0],
                                               &b[1], &b[2], &b[3]);
                    if (na > 0 && nb > 0 && a[0] == b[0] && a[1] == b[1] && a[2] == b[2] &&
                        a[3] == b[3])
                        ++agree;
                }
            }
            if (list)
                std::printf("%s\t%s\t%s\t%llu\n", member.name.c_str(), version.c_str(),
                            member.declaredVersion.c_str(),
                            static_cast<unsigned long long>(member.size));
            return true;
        },
        [&](const std::string& name, const Failure& failure) {
            ++unreadable;
            if (list)
                std::printf("! %s\t%s\n", name.c_str(), failure.Message().c_str());
        });
    if (!walked) {
        std::fprintf(stderr, "msi_walk: %s\n", walked.error().Message().c_str());
        return 2;
    }
    std::printf("members %zu, without bytes %zu, unreadable %zu, versions read %zu, agreeing with "
                "the File table %zu\n",
                visited, withoutBytes, unreadable, versioned, agree);
    return withoutBytes == 0 && unreadable == 0 && versioned == visited && agree == versioned ? 0
                                                                                              : 1;
}
