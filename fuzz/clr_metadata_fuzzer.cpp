// libFuzzer entry point for the .NET metadata reader (the assembly identity).

#include "engine/formats/byte_source.h"
#include "engine/formats/clr_metadata.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    const MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    const auto identity = ReadAssemblyIdentity(source);
    if (!identity) {
        // Every refusal says why.
        if (!identity.error().code || identity.error().Message().empty())
            __builtin_trap();
        return 0;
    }
    // What was read stays within its limits.
    if (identity->name.size() > kMaxIdentityText || identity->culture.size() > kMaxIdentityText ||
        (!identity->publicKeyToken.empty() && identity->publicKeyToken.size() != 16) ||
        identity->version.size() > 23)
        __builtin_trap();
    return 0;
}
