#pragma once
// The resources of Windows executables: PE32 and PE32+ images and 16-bit NE
// images. Only the headers, the resource directory and the bytes of the
// resources asked for are read.

#include "engine/failure.h"
#include "engine/formats/byte_source.h"
#include "engine/formats/clr_metadata.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sorvane {

enum class ExecutableFormat { Pe32, Pe32Plus, Ne };

/// A resource type or name: an integer identifier or a name (UTF-8; names
/// compare without regard to case).
struct ResourceId {
    std::optional<std::uint16_t> id;
    std::string name;

    static ResourceId Number(std::uint16_t value) { return {value, {}}; }
    static ResourceId Named(std::string value) { return {std::nullopt, std::move(value)}; }
    bool operator==(const ResourceId&) const = default;
};

inline constexpr std::uint16_t kResourceTypeVersion = 16; ///< RT_VERSION
inline constexpr std::uint16_t kVersionResourceName = 1;  ///< VS_VERSION_INFO
inline constexpr const char* kTypeLibraryResourceType = "TYPELIB";

/// Where one resource's bytes are.
struct ResourceLocation {
    std::uint16_t language = 0; ///< LANGID (0 for NE files)
    std::uint64_t fileOffset = 0;
    std::uint32_t size = 0; ///< size the resource claims
    /// Bytes of it that are stored in the file; the rest of `size` exists
    /// only in memory and reads as zeros (PE sections shorter than their
    /// virtual size).
    std::uint32_t storedSize = 0;
};

/// The headers and resource directory of an executable, parsed once.
/// Everything the image reads and keeps, from opening on and in all the
/// calls below, is paid from one budget; once it is spent, lookups find
/// nothing more. An image (and its copies, which share the budget) belongs
/// to one thread.
class ExecutableImage {
public:
    /// Parses the DOS header and the PE or NE header. Fails (step
    /// ReadExecutableHeader) with NotVersioned when the source is no
    /// executable (no "MZ"), Truncated when it ends inside a header it
    /// declares, BadFormat when a header is of no known kind or damaged.
    static Result<ExecutableImage> Open(const ByteSource& source,
                                        std::size_t budgetBytes = kReadBudgetBytes);

    ExecutableFormat format() const { return format_; }

    /// The resource of `type` and `name`, choosing among its languages as an
    /// English (United States) Windows does: 0x0000, then 0x0409, then 0x0009,
    /// then the first in the directory. When the resource is found and
    /// `storedLanguages` is given, it receives every language the resource is
    /// stored in, in directory order (nothing for NE images, whose resources
    /// have none).
    std::optional<ResourceLocation> FindResource(const ResourceId& type, const ResourceId& name,
                                                 std::vector<std::uint16_t>* storedLanguages = nullptr) const;

    /// The names of all resources of `type`, in directory order (as many as
    /// the budget pays for).
    std::vector<ResourceId> ResourceNames(const ResourceId& type) const;

    /// The bytes of a resource, at most `maxBytes` of them; the part not
    /// stored in the file reads as zeros. Nothing when they cannot be read or
    /// paid for.
    std::optional<Bytes> ReadResource(const ResourceLocation& where, std::size_t maxBytes) const;
    /// The same into `out`, which then holds exactly those bytes; its
    /// capacity is kept, so a buffer read into file after file is allocated
    /// once. False, with `out` holding nothing of use, when they cannot be
    /// read or paid for.
    bool ReadResourceInto(const ResourceLocation& where, std::size_t maxBytes, Bytes& out) const;

    /// The identity of the .NET assembly the image is, from its CLI header
    /// and metadata; nothing when the image has no CLI header (no .NET
    /// image, or an NE image). Fails as ReadAssemblyIdentity does, and with
    /// Truncated or BadFormat when the CLI header cannot be read or names no
    /// metadata in the image.
    std::optional<Result<AssemblyIdentity>> Assembly() const;

    /// True once the budget refused or shortened a read.
    bool budgetSpent() const { return budget_->spent(); }

private:
    ExecutableImage(const ByteSource& source, std::size_t budgetBytes);
    struct State;
    const ByteSource* source_;
    std::shared_ptr<ReadBudget> budget_;
    ExecutableFormat format_ = ExecutableFormat::Pe32;
    // Filled by Open only; read-only once the image is handed out.
    std::shared_ptr<State> state_;
};

} // namespace sorvane
