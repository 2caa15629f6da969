#pragma once
// The identity of a .NET assembly from its metadata: the name, the
// AssemblyVersion, the culture and the public key token of the Assembly
// table. Only the metadata root, the stream headers, the table header, the
// one Assembly row and the heap entries it names are read.

#include "engine/failure.h"
#include "engine/formats/byte_source.h"

#include <cstdint>
#include <span>
#include <string>

namespace sorvane {

struct AssemblyIdentity {
    std::string name;
    std::string version;        ///< "4.0.0.0": the four parts in decimal
    std::string culture;        ///< empty for a neutral assembly
    std::string publicKeyToken; ///< 16 lower-case hex digits; empty when unsigned
    bool operator==(const AssemblyIdentity&) const = default;
};

/// Most bytes of a name or culture read from the strings heap.
inline constexpr std::size_t kMaxIdentityText = 1024;
/// Most bytes of a public key read from the blob heap.
inline constexpr std::size_t kMaxPublicKeyBytes = 4096;

/// Reads the Assembly table of the metadata held by `metadata` (the bytes
/// the CLI header's MetaData directory names, from the "BSJB" root on).
/// Fails (step ReadAssemblyIdentity) with BadFormat for a damaged root,
/// stream or table, Truncated when a structure runs past the end, and
/// NotVersioned for a module without an assembly manifest.
Result<AssemblyIdentity> ReadAssemblyIdentity(const ByteSource& metadata);

/// The token of a public key: the last eight bytes of its SHA-1, in reverse
/// order, as 16 lower-case hex digits.
std::string PublicKeyToken(std::span<const std::byte> publicKey);

} // namespace sorvane
