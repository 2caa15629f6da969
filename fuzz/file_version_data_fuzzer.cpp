// Feeds arbitrary bytes through the whole per-file read the scan does: the
// first byte picks the kind of file (version resource, TrueType font, type
// library, which may sit inside an executable), the rest is the file.

#include "engine/formats/byte_source.h"
#include "engine/formats/version_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sorvane;
    if (size == 0)
        return 0;
    const FileKind kinds[] = {FileKind::VersionResource, FileKind::TrueType, FileKind::TypeLibrary};
    const FileKind kind = kinds[data[0] % 3];
    const MemorySource source(std::as_bytes(std::span<const std::uint8_t>(data + 1, size - 1)));
    const FileVersionData read = ReadFileVersionData(source, kind);
    const VersionTexts texts = ScanTexts(read);
    // Touch every text so a bad one is noticed by the sanitizers.
    volatile std::size_t total = texts.version.size() + texts.language.size() +
                                 texts.description.size() + texts.copyright.size();
    (void)total;
    return 0;
}
