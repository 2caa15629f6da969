// Feeds arbitrary bytes to the version block parser and queries the result.
// Each input is parsed twice: afresh, and into the result the inputs before
// left behind (as a scan parses block after block into the same memory);
// both must give the same, or the fuzzer stops. A parse that keeps only the
// strings a scan shows must also answer every question about them as the
// parse of the whole block does.

#include "engine/formats/version_block.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

bool Same(const sorvane::VersionInfo& a, const sorvane::VersionInfo& b) {
    using namespace sorvane;
    const auto sameFixed = [](const std::optional<FixedFileInfo>& x,
                              const std::optional<FixedFileInfo>& y) {
        if (x.has_value() != y.has_value())
            return false;
        return !x ||
               (x->signature == y->signature && x->structVersion == y->structVersion &&
                x->fileVersionMS == y->fileVersionMS && x->fileVersionLS == y->fileVersionLS &&
                x->productVersionMS == y->productVersionMS &&
                x->productVersionLS == y->productVersionLS &&
                x->fileFlagsMask == y->fileFlagsMask && x->fileFlags == y->fileFlags &&
                x->fileOS == y->fileOS && x->fileType == y->fileType &&
                x->fileSubtype == y->fileSubtype && x->fileDateMS == y->fileDateMS &&
                x->fileDateLS == y->fileDateLS);
    };
    if (a.sixteenBit != b.sixteenBit || a.budgetSpent != b.budgetSpent ||
        !sameFixed(a.fixed, b.fixed) || a.translations != b.translations ||
        a.stringTables.size() != b.stringTables.size())
        return false;
    for (std::size_t i = 0; i < a.stringTables.size(); ++i) {
        const StringTable& x = a.stringTables[i];
        const StringTable& y = b.stringTables[i];
        if (x.key != y.key || x.block != y.block || x.strings.size() != y.strings.size())
            return false;
        for (std::size_t j = 0; j < x.strings.size(); ++j) {
            if (x.strings[j].name != y.strings[j].name ||
                x.strings[j].value != y.strings[j].value ||
                x.strings[j].valueLength != y.strings[j].valueLength)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    const auto block = std::as_bytes(std::span<const std::uint8_t>(data, size));
    // Every string kept, or only the two a scan shows: picked by the size.
    static constexpr std::string_view kRowStrings[] = {"FileDescription", "LegalCopyright"};
    const auto only = size % 2 == 0 ? std::span<const std::string_view>()
                                    : std::span<const std::string_view>(kRowStrings);
    const auto info = ParseVersionBlock(block, kReadBudgetBytes, only);
    static VersionInfo reused;
    const bool parsed = ParseVersionBlockInto(block, reused, kReadBudgetBytes, only);
    if (parsed != info.has_value() || (info && !Same(*info, reused)))
        __builtin_trap();
    if (!info)
        return 0;
    for (const StringTable& table : info->stringTables) {
        for (const VersionString& s : table.strings)
            info->QueryString(table.key, s.name);
    }
    if (!only.empty()) {
        const auto whole = ParseVersionBlock(block, kReadBudgetBytes);
        if (!whole || whole->budgetSpent != info->budgetSpent ||
            whole->translations != info->translations ||
            whole->stringTables.size() != info->stringTables.size())
            __builtin_trap();
        for (std::size_t i = 0; i < whole->stringTables.size(); ++i) {
            const StringTable& table = whole->stringTables[i];
            if (table.key != info->stringTables[i].key || table.block != info->stringTables[i].block)
                __builtin_trap();
            for (const std::string_view name : kRowStrings)
                if (whole->QueryString(table.key, name) != info->QueryString(table.key, name))
                    __builtin_trap();
        }
    }
    return 0;
}
