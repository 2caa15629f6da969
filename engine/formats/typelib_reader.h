#pragma once
// Type libraries: the MSFT format, the older SLTG format, and either of them
// stored as a TYPELIB resource inside an executable.

#include "engine/formats/byte_source.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sorvane {

enum class TypeLibraryFormat { Msft, Sltg };

/// The library attributes the program shows.
struct TypeLibraryInfo {
    TypeLibraryFormat format = TypeLibraryFormat::Msft;
    std::uint16_t majorVersion = 0;
    std::uint16_t minorVersion = 0;
    /// The locale declared for the library; 0 when none was declared.
    std::uint32_t lcid = 0;
    std::string helpString; ///< empty when none
    std::string name;       ///< library name; empty when it cannot be found
    std::string helpFile;
    std::uint32_t helpContext = 0;
    std::uint16_t flags = 0;   ///< LIBFLAGS
    std::uint16_t sysKind = 0; ///< 0 Win16, 1 Win32, 2 Mac, 3 Win64
    std::string guid;          ///< "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", empty when none
};

/// Parses a type library image that starts at offset 0 of `source` ("MSFT"
/// or "SLTG" magic). Nothing when the image is neither, its header is
/// damaged or its tables do not fit in `budgetBytes` bytes (what the parser
/// reads and keeps, in all); fields whose data is damaged or cannot be paid
/// for stay empty.
std::optional<TypeLibraryInfo> ParseTypeLibrary(const ByteSource& source,
                                                std::size_t budgetBytes = kReadBudgetBytes);

} // namespace sorvane
