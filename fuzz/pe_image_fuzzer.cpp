// Feeds arbitrary bytes through the whole path of reading a version
// resource: the executable's headers, its resource directory, the resource
// bytes and the version block.

#include "engine/formats/byte_source.h"
#include "engine/formats/pe_image.h"
#include "engine/formats/version_block.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    const sorvane::MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data, size)));
    const auto image = ExecutableImage::Open(source);
    if (!image)
        return 0;
    image->ResourceNames(ResourceId::Named(kTypeLibraryResourceType));
    image->FindResource(ResourceId::Named(kTypeLibraryResourceType), ResourceId::Number(1));
    const auto where = image->FindResource(ResourceId::Number(kResourceTypeVersion),
                                           ResourceId::Number(kVersionResourceName));
    if (!where)
        return 0;
    const auto bytes = image->ReadResource(*where, kMaxVersionBlockBytes);
    if (!bytes)
        return 0;
    const auto info = ParseVersionBlock(*bytes);
    if (!info || info->translations.empty())
        return 0;
    char key[9];
    static const char* const kHex = "0123456789ABCDEF";
    const std::uint32_t pair =
        (std::uint32_t{info->translations[0].language} << 16) | info->translations[0].codePage;
    for (int i = 0; i < 8; ++i)
        key[i] = kHex[(pair >> (28 - 4 * i)) & 0xF];
    key[8] = '\0';
    info->QueryString(key, "FileDescription");
    info->QueryString(key, "LegalCopyright");
    return 0;
}
