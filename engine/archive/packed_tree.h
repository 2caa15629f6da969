#pragma once
// The folder tree an archive or an installer holds, read without unpacking
// it to the disk. Members come in the order they are stored (a compressed
// stream can only be read forward); each is read only as far as its reader
// asks, and no member's bytes are unpacked unless it is wanted.

#include "engine/failure.h"
#include "engine/formats/byte_source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace sorvane {

/// One member as the tree shows it.
struct PackedMember {
    /// Relative path below the tree's root, parts joined by "/", never
    /// empty, absolute or holding ".." (such members are unreadable entries).
    std::string name;
    std::uint64_t size = 0;               ///< unpacked bytes
    std::optional<std::uint64_t> stored;  ///< compressed bytes, when known
    std::optional<mode_t> mode;           ///< permission bits, when kept
    std::optional<std::int64_t> modified; ///< seconds since 1970, when kept
    /// The version and language the package declares for the member apart
    /// from its bytes (an installer's File table), empty where none.
    std::string declaredVersion;
    std::string declaredLanguage;
};

class PackedTree {
public:
    virtual ~PackedTree() = default;

    /// Which members to unpack: asked with the name only, before any byte of
    /// the member is decompressed.
    using Wanted = std::function<bool(const PackedMember&)>;
    /// A wanted member and its bytes, read on demand; `bytes` is valid only
    /// during the call. `bytes` is null where the member's bytes cannot be
    /// had but the package still tells of it (an installer whose cabinet is
    /// missing). False from the visitor stops the walk.
    using Visit = std::function<bool(const PackedMember&, const ByteSource* bytes)>;
    /// A member that gives no entry of the tree, and why: its path below the
    /// root (PackedMember::name) when it has a safe one, else its name as
    /// stored (with control characters as they are). A visited member whose
    /// bytes failed while the visitor read them (they could not be
    /// decompressed, or went over a budget: the reads failed from there on)
    /// is reported here too, right after its visit: what the visitor made of
    /// it is to be dropped.
    using Unreadable = std::function<void(const std::string& name, const Failure&)>;

    /// Walks the members in their stored order. A member whose name is
    /// unsafe is unreadable whatever it is; any other member is offered to
    /// `wanted` first, and one not wanted gives neither a visit nor an
    /// unreadable entry. Folders give nothing. Fails when the package itself
    /// cannot be read on (its members up to then were visited), or when all
    /// its members together went over the package's budget. Walks once.
    virtual Result<void> Walk(const Wanted& wanted, const Visit& visit,
                              const Unreadable& unreadable) = 0;

    /// How far the walk has come, 0 to 100, for a progress bar: the share of
    /// the package's bytes read so far where it can tell; 0 where it cannot.
    virtual int PercentWalked() const { return 0; }
};

/// True when the file at `path` is read as a tree (by its first bytes, and
/// by its name for the formats without a signature).
bool IsPackedTree(const std::string& path);

/// Opens the archive or installer at `path`.
Result<std::unique_ptr<PackedTree>> OpenPackedTree(const std::string& path);

} // namespace sorvane
