#include "engine/formats/pe_image.h"

#include "engine/formats/byte_reader.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <array>
#include <limits>

namespace sorvane {
namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::uint16_t kDosMagic = 0x5A4D;    // "MZ"
constexpr std::uint32_t kPeSignature = 0x4550; // "PE\0\0"
constexpr std::uint16_t kNeSignature = 0x454E; // "NE"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kCoffHeaderEnd = 0x18; // signature + COFF header
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kClrDirectoryIndex = 14; ///< the CLI header of a .NET image
constexpr std::size_t kDataDirectorySize = 8;
constexpr std::size_t kClrHeaderSize = 72;

// Windows XP refused images with more sections; later versions allow more,
// but no real image needs them and the cap keeps the header read small.
constexpr std::size_t kMaxSections = 96;
constexpr std::size_t kSectionHeaderSize = 40;

constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kMaxDirectoryEntries = 4096;
constexpr std::size_t kDataEntrySize = 16;
// Longer names are never looked up; the cap bounds what a hostile directory
// full of named entries can make us read.
constexpr std::size_t kMaxNameUnits = 512;
constexpr std::uint32_t kHighBit = 0x80000000u;

constexpr std::size_t kNeHeaderSize = 64;
constexpr std::size_t kNeResourceTableOffset = 0x24;
constexpr std::size_t kNeResidentNameTableOffset = 0x26;
constexpr std::size_t kNeTypeInfoSize = 8;
constexpr std::size_t kNeNameInfoSize = 12;
constexpr std::uint16_t kNeIntegerId = 0x8000;
constexpr std::size_t kMaxNeResources = 8192;
// A shift this large would place every resource past any real file.
constexpr std::uint16_t kMaxNeAlignShift = 31;

constexpr std::array<std::uint16_t, 3> kPreferredLanguages = {0x0000, 0x0409, 0x0009};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

/// Where an RVA lies in the file.
struct MappedRva {
    std::uint64_t fileOffset = 0;
    std::uint64_t storedBytes = 0;   ///< from the RVA to the end of the section's file data
    std::uint64_t inMemoryBytes = 0; ///< from the RVA to the end of the section in memory
};

struct NeResource {
    ResourceId type;
    ResourceId name;
    std::uint64_t fileOffset = 0;
    std::uint32_t size = 0;
};

struct DirectoryEntry {
    std::uint32_t name = 0;
    std::uint32_t target = 0;
    bool named() const { return (name & kHighBit) != 0; }
    bool isDirectory() const { return (target & kHighBit) != 0; }
    std::uint32_t nameOffset() const { return name & ~kHighBit; }
    std::uint32_t targetOffset() const { return target & ~kHighBit; }
    std::uint16_t id() const { return static_cast<std::uint16_t>(name & 0xFFFF); }
};

/// The entries of one directory. Real directories have a few entries: those
/// are kept in place, and only a larger one takes memory of its own.
class DirectoryEntries {
public:
    static constexpr std::size_t kInPlace = 32;

    std::span<DirectoryEntry> Resize(std::size_t count) {
        count_ = count;
        if (count <= kInPlace)
            return std::span<DirectoryEntry>(inPlace_).first(count);
        large_.resize(count);
        return large_;
    }
    std::span<const DirectoryEntry> entries() const {
        return count_ <= kInPlace ? std::span<const DirectoryEntry>(inPlace_).first(count_)
                                  : std::span<const DirectoryEntry>(large_);
    }
    bool empty() const { return count_ == 0; }
    const DirectoryEntry* begin() const { return entries().data(); }
    const DirectoryEntry* end() const { return entries().data() + count_; }

private:
    std::array<DirectoryEntry, kInPlace> inPlace_;
    std::vector<DirectoryEntry> large_;
    std::size_t count_ = 0;
};

/// The directories a walk down the tree has entered (the root first), so a
/// tree that points back into its own path ends the walk.
class VisitedDirectories {
public:
    /// False when `offset` was entered already, or the walk is deeper than
    /// the three levels a resource tree has.
    bool Enter(std::uint32_t offset) {
        const auto seen = std::span(offsets_).first(count_);
        if (count_ == offsets_.size() || std::find(seen.begin(), seen.end(), offset) != seen.end())
            return false;
        offsets_[count_++] = offset;
        return true;
    }

private:
    std::array<std::uint32_t, 3> offsets_{};
    std::size_t count_ = 0;
};

std::span<const std::byte> View(const Bytes& bytes) {
    return {bytes.data(), bytes.size()};
}

// Small fixed-size reads land on the stack: a scan reads a dozen headers and
// table entries of every file.
template <std::size_t N> using Fixed = std::array<std::byte, N>;

std::optional<MappedRva> MapRva(std::span<const Section> sections, std::uint32_t rva) {
    for (const Section& s : sections) {
        const std::uint64_t start = s.virtualAddress;
        const std::uint64_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva < start || rva - start >= extent)
            continue;
        const std::uint64_t delta = rva - start;
        MappedRva out;
        out.fileOffset = std::uint64_t{s.rawOffset} + delta;
        out.storedBytes = s.rawSize > delta ? s.rawSize - delta : 0;
        out.inMemoryBytes = extent - delta;
        return out;
    }
    return std::nullopt;
}

bool Matches(const ResourceId& wanted, const ResourceId& found) {
    if (wanted.id || found.id)
        return wanted.id == found.id;
    return EqualsIgnoreCase(wanted.name, found.name);
}

} // namespace

struct ExecutableImage::State {
    // PE: the section table. An image is made for every file a scan reads:
    // a table of the usual size stays in place, in the one allocation that
    // holds the image's state.
    static constexpr std::size_t kSectionsInPlace = 16;
    std::array<Section, kSectionsInPlace> sectionsInPlace;
    std::vector<Section> moreSections;
    std::size_t sectionCount = 0;
    void SetSections(std::size_t count) {
        sectionCount = count;
        if (count > kSectionsInPlace)
            moreSections.resize(count);
    }
    std::span<Section> sections() {
        return sectionCount > kSectionsInPlace
                   ? std::span<Section>(moreSections)
                   : std::span<Section>(sectionsInPlace).first(sectionCount);
    }
    std::span<const Section> sections() const {
        return sectionCount > kSectionsInPlace
                   ? std::span<const Section>(moreSections)
                   : std::span<const Section>(sectionsInPlace).first(sectionCount);
    }
    std::optional<std::uint32_t> resourceRva;
    std::optional<std::uint32_t> clrRva;
    // NE: every resource in table order.
    std::vector<NeResource> neResources;
};

namespace {

/// The resource tree of a PE image, every read paid from the image's budget.
class ResourceTree {
public:
    ResourceTree(const ByteSource& source, std::span<const Section> sections,
                 std::uint32_t resourceRva, ReadBudget& budget)
        : source_(source), sections_(sections), rva_(resourceRva), budget_(budget) {}

    /// Up to `length` bytes at `rva` as a loaded image holds them: the part
    /// stored in the file, then zeros up to the section's end in memory. Fewer
    /// bytes when the section (or the file, or the budget) ends first.
    Bytes ReadRva(std::uint64_t rva, std::size_t length) const;
    /// The same into `out`: the number of bytes it holds.
    std::size_t ReadRvaInto(std::uint64_t rva, std::span<std::byte> out) const;
    /// Reads the entries of the directory at `offset` (from the tree's
    /// start) into `entries`; false when its header cannot be read.
    bool ReadDirectory(std::uint32_t offset, DirectoryEntries& entries) const;
    /// The entry's name or number. A name is read only when its length in
    /// UTF-16 units lies in [minUnits, maxUnits]; nothing otherwise.
    std::optional<ResourceId> EntryId(const DirectoryEntry& e, std::size_t minUnits = 0,
                                      std::size_t maxUnits = kMaxNameUnits) const;
    /// The sub-directory that the entry matching `id` points to; nothing when
    /// there is none, it is a data entry, or it was already visited.
    std::optional<std::uint32_t> FindSubdirectory(const DirectoryEntries& entries,
                                                  const ResourceId& id,
                                                  VisitedDirectories& visited) const;

private:
    const ByteSource& source_;
    std::span<const Section> sections_;
    std::uint32_t rva_;
    ReadBudget& budget_;
};

Bytes ResourceTree::ReadRva(std::uint64_t rva, std::size_t length) const {
    // Callers ask for at most a directory's entries or a name.
    Bytes out(std::min(length, kMaxReadBytes));
    out.resize(ReadRvaInto(rva, out));
    return out;
}

std::size_t ResourceTree::ReadRvaInto(std::uint64_t rva, std::span<std::byte> out) const {
    if (rva > std::numeric_limits<std::uint32_t>::max())
        return 0;
    const auto mapped = MapRva(sections_, static_cast<std::uint32_t>(rva));
    if (!mapped)
        return 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
        {out.size(), mapped->inMemoryBytes, std::uint64_t{kMaxReadBytes}}));
    const auto stored =
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted, mapped->storedBytes));
    const std::size_t got = budget_.ReadUpTo(source_, mapped->fileOffset, out.first(stored));
    // The part past the section's file data reads as zeros.
    if (got == stored && budget_.Take(wanted - stored)) {
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(stored),
                  out.begin() + static_cast<std::ptrdiff_t>(wanted), std::byte{0});
        return wanted;
    }
    return got;
}

bool ResourceTree::ReadDirectory(std::uint32_t offset, DirectoryEntries& entries) const {
    const std::uint64_t rva = std::uint64_t{rva_} + offset;
    Fixed<kDirectoryHeaderSize> header;
    if (ReadRvaInto(rva, header) < kDirectoryHeaderSize)
        return false;
    const ByteReader h(header, Endian::Little);
    const std::size_t count = std::size_t{*h.u16At(12)} + *h.u16At(14);
    // Counts larger than the data hold: keep the whole entries that are there.
    // Real directories have a few entries: those are read on the stack.
    const std::size_t wanted = std::min(count, kMaxDirectoryEntries) * kDirectoryEntrySize;
    Fixed<DirectoryEntries::kInPlace * kDirectoryEntrySize> small;
    Bytes large;
    std::span<std::byte> buffer = std::span<std::byte>(small).first(std::min(wanted, small.size()));
    if (wanted > small.size()) {
        large.resize(wanted);
        buffer = large;
    }
    const std::size_t got = ReadRvaInto(rva + kDirectoryHeaderSize, buffer);
    // Paid for as if each entry were kept on its own.
    const std::size_t present =
        budget_.TakeItems(got / kDirectoryEntrySize, sizeof(DirectoryEntry));
    const ByteReader r(buffer.first(got), Endian::Little);
    std::size_t at = 0;
    for (DirectoryEntry& e : entries.Resize(present)) {
        e.name = *r.u32At(at);
        e.target = *r.u32At(at + 4);
        at += kDirectoryEntrySize;
    }
    return true;
}

std::optional<ResourceId> ResourceTree::EntryId(const DirectoryEntry& e, std::size_t minUnits,
                                                std::size_t maxUnits) const {
    if (!e.named())
        return ResourceId::Number(e.id());
    const std::uint64_t rva = std::uint64_t{rva_} + e.nameOffset();
    Fixed<2> lengthBytes;
    if (ReadRvaInto(rva, lengthBytes) < 2)
        return std::nullopt;
    const std::uint16_t units = *ByteReader(lengthBytes, Endian::Little).u16At(0);
    if (units < minUnits || units > std::min(maxUnits, kMaxNameUnits))
        return std::nullopt;
    // Counted, not terminated: the length is in UTF-16 units.
    const Bytes text = ReadRva(rva + 2, std::size_t{units} * 2);
    if (text.size() < std::size_t{units} * 2)
        return std::nullopt;
    std::string name = Utf16ToUtf8(View(text), Endian::Little);
    if (!budget_.Take(name.size()))
        return std::nullopt;
    return ResourceId::Named(std::move(name));
}

std::optional<std::uint32_t> ResourceTree::FindSubdirectory(const DirectoryEntries& entries,
                                                            const ResourceId& id,
                                                            VisitedDirectories& visited) const {
    // A name of n characters takes n to 2n UTF-16 units (surrogate pairs
    // make one character of two), and letter case never changes the count:
    // names of other lengths are passed over without reading them.
    const std::size_t characters = id.id ? 0 : Utf8Length(id.name);
    for (const DirectoryEntry& e : entries) {
        // An integer is only looked for among the ID entries and a name among
        // the named ones, so no name is read for an integer query.
        if (e.named() == id.id.has_value())
            continue;
        const auto found = EntryId(e, characters, 2 * characters);
        if (!found || !Matches(id, *found))
            continue;
        if (!e.isDirectory())
            return std::nullopt;
        const std::uint32_t offset = e.targetOffset();
        if (!visited.Enter(offset))
            return std::nullopt; // points back into the path already walked
        return offset;
    }
    return std::nullopt;
}

} // namespace

namespace {

std::optional<ResourceId> NeId(std::span<const std::byte> table, std::uint16_t value) {
    if ((value & kNeIntegerId) != 0)
        return ResourceId::Number(static_cast<std::uint16_t>(value & ~kNeIntegerId));
    // Otherwise an offset from the table start to a length-prefixed name.
    ByteReader r(table, Endian::Little);
    if (!r.seek(value))
        return std::nullopt;
    const auto length = r.u8();
    if (!length)
        return std::nullopt;
    const auto text = r.bytes(*length);
    if (!text)
        return std::nullopt;
    return ResourceId::Named(Windows1252ToUtf8(BytesToString(*text)));
}

std::vector<NeResource> ParseNeResourceTable(std::span<const std::byte> table,
                                             std::uint64_t fileSize, ReadBudget& budget) {
    std::vector<NeResource> out;
    ByteReader r(table, Endian::Little);
    const auto shift = r.u16();
    if (!shift || *shift > kMaxNeAlignShift)
        return out;
    // Every record read moves forward, and the table is at most 64 KB, so the
    // walk ends; the count cap only bounds the list.
    while (out.size() < kMaxNeResources) {
        const auto typeId = r.u16();
        if (!typeId || *typeId == 0)
            break;
        const auto count = r.u16();
        if (!count || !r.skip(4)) // reserved
            break;
        const auto type = NeId(table, *typeId);
        for (std::uint16_t i = 0; i < *count; ++i) {
            if (r.remaining() < kNeNameInfoSize || out.size() >= kMaxNeResources)
                return out;
            const std::uint16_t offset = *r.u16();
            const std::uint16_t length = *r.u16();
            r.skip(2); // flags
            const std::uint16_t id = *r.u16();
            r.skip(4); // handle, usage
            const auto name = NeId(table, id);
            if (!type || !name)
                continue;
            // Each resource keeps a copy of its type's name as well as its own.
            if (!budget.Take(sizeof(NeResource) + type->name.size() + name->name.size()))
                return out;
            NeResource res{*type, *name, std::uint64_t{offset} << *shift, 0};
            if (res.fileOffset < fileSize) {
                const std::uint64_t size = std::uint64_t{length} << *shift;
                res.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                    {size, fileSize - res.fileOffset, std::numeric_limits<std::uint32_t>::max()}));
            }
            out.push_back(std::move(res));
        }
    }
    return out;
}

} // namespace

ExecutableImage::ExecutableImage(const ByteSource& source, std::size_t budgetBytes)
    : source_(&source) {
    // The budget and the parsed headers share one allocation.
    struct Shared {
        explicit Shared(std::size_t bytes) : budget(bytes) {}
        ReadBudget budget;
        State state;
    };
    auto shared = std::make_shared<Shared>(budgetBytes);
    budget_ = std::shared_ptr<ReadBudget>(shared, &shared->budget);
    state_ = std::shared_ptr<State>(shared, &shared->state);
}

Result<ExecutableImage> ExecutableImage::Open(const ByteSource& source,
                                              std::size_t budgetBytes) {
    ExecutableImage image(source, budgetBytes);
    ReadBudget& budget = *image.budget_;
    const auto failed = [](Reason reason) {
        return Fail({reason, Step::ReadExecutableHeader});
    };
    // A header that cannot be read where the file claims it: cut off by the
    // end of the file, or (an offset inside the file) a read that failed.
    const auto unread = [&](std::uint64_t offset, std::size_t length) {
        const std::uint64_t size = source.size();
        return failed(offset <= size && length <= size - offset ? Reason::BadFormat
                                                                : Reason::Truncated);
    };
    Fixed<kDosHeaderSize> dos;
    if (!budget.ReadExactly(source, 0, dos)) {
        Fixed<2> start;
        const bool mz = budget.ReadExactly(source, 0, start) &&
                        ByteReader(start, Endian::Little).u16At(0) == kDosMagic;
        return failed(mz ? Reason::Truncated : Reason::NotVersioned);
    }
    const ByteReader dosReader(dos, Endian::Little);
    if (dosReader.u16At(0) != kDosMagic)
        return failed(Reason::NotVersioned);
    const std::uint64_t lfanew = *dosReader.u32At(kLfanewOffset);

    Fixed<2> magic;
    if (!budget.ReadExactly(source, lfanew, magic))
        return unread(lfanew, magic.size());
    const std::uint16_t signature = *ByteReader(magic, Endian::Little).u16At(0);

    State* state = image.state_.get();

    if (signature == kNeSignature) {
        Fixed<kNeHeaderSize> header;
        if (!budget.ReadExactly(source, lfanew, header))
            return unread(lfanew, header.size());
        const ByteReader h(header, Endian::Little);
        const std::uint16_t rsrctab = *h.u16At(kNeResourceTableOffset);
        const std::uint16_t restab = *h.u16At(kNeResidentNameTableOffset);
        // The resource table ends where the resident-name table begins.
        if (restab > rsrctab) {
            const Bytes table = budget.ReadUpTo(source, lfanew + rsrctab, restab - rsrctab);
            state->neResources = ParseNeResourceTable(View(table), source.size(), budget);
        }
        image.format_ = ExecutableFormat::Ne;
        return image;
    }

    Fixed<kCoffHeaderEnd> coff;
    if (!budget.ReadExactly(source, lfanew, coff))
        return unread(lfanew, coff.size());
    const ByteReader c(coff, Endian::Little);
    if (c.u32At(0) != kPeSignature)
        return failed(Reason::BadFormat);
    const std::uint16_t sectionCount = *c.u16At(0x06);
    const std::uint16_t optionalSize = *c.u16At(0x14);

    const std::uint64_t optionalStart = lfanew + kCoffHeaderEnd;
    if (optionalSize < 2)
        return failed(Reason::BadFormat);
    Fixed<2> optionalMagic;
    if (!budget.ReadExactly(source, optionalStart, optionalMagic))
        return unread(optionalStart, optionalMagic.size());
    const std::uint16_t kind = *ByteReader(optionalMagic, Endian::Little).u16At(0);
    if (kind != kPe32Magic && kind != kPe32PlusMagic)
        return failed(Reason::BadFormat);
    const bool plus = kind == kPe32PlusMagic;
    const std::size_t rvaCountOffset = plus ? 108 : 92;
    const std::size_t directories = plus ? 112 : 96;
    const std::size_t resourceEntryOffset = directories + kResourceDirectoryIndex * kDataDirectorySize;
    const std::size_t clrEntryOffset = directories + kClrDirectoryIndex * kDataDirectorySize;

    // The header bytes up to the resource entry must be in the file as far
    // as the header claims them; those up to the CLI header's entry are read
    // when they are there.
    const std::size_t required = std::min<std::size_t>(optionalSize, resourceEntryOffset + 8);
    const std::size_t wanted = std::min<std::size_t>(optionalSize, clrEntryOffset + 8);
    Fixed<112 + kClrDirectoryIndex * kDataDirectorySize + 8> optional;
    const auto optionalBytes = std::span<std::byte>(optional).first(required);
    if (!budget.ReadExactly(source, optionalStart, optionalBytes))
        return unread(optionalStart, optionalBytes.size());
    const std::size_t held =
        required + budget.ReadUpTo(source, optionalStart + required,
                                   std::span<std::byte>(optional).subspan(required, wanted - required));
    const ByteReader o(std::span<const std::byte>(optional).first(held), Endian::Little);
    // The directory `index`, when the header holds it and it is not empty.
    const auto directory = [&](std::size_t index, std::size_t entry) -> std::optional<std::uint32_t> {
        if (entry + kDataDirectorySize > held || *o.u32At(rvaCountOffset) <= index)
            return std::nullopt;
        const std::uint32_t rva = *o.u32At(entry);
        const std::uint32_t size = *o.u32At(entry + 4);
        return rva != 0 && size != 0 ? std::optional(rva) : std::nullopt;
    };
    state->resourceRva = directory(kResourceDirectoryIndex, resourceEntryOffset);
    state->clrRva = directory(kClrDirectoryIndex, clrEntryOffset);

    // A table cut short by the end of the file keeps its whole entries.
    const std::size_t tableCount = std::min<std::size_t>(sectionCount, kMaxSections);
    Fixed<kMaxSections * kSectionHeaderSize> tableBytes;
    const std::size_t tableSize =
        budget.ReadUpTo(source, optionalStart + optionalSize,
                        std::span<std::byte>(tableBytes).first(tableCount * kSectionHeaderSize));
    const ByteReader t(std::span<const std::byte>(tableBytes).first(tableSize), Endian::Little);
    state->SetSections(tableSize / kSectionHeaderSize);
    std::size_t at = 0;
    for (Section& s : state->sections()) {
        s.virtualSize = *t.u32At(at + 0x08);
        s.virtualAddress = *t.u32At(at + 0x0C);
        s.rawSize = *t.u32At(at + 0x10);
        s.rawOffset = *t.u32At(at + 0x14);
        at += kSectionHeaderSize;
    }

    image.format_ = plus ? ExecutableFormat::Pe32Plus : ExecutableFormat::Pe32;
    return image;
}

std::optional<Result<AssemblyIdentity>> ExecutableImage::Assembly() const {
    const State& s = *state_;
    if (format_ == ExecutableFormat::Ne || !s.clrRva)
        return std::nullopt;
    const auto bad = [](Reason reason) -> Result<AssemblyIdentity> {
        return Fail({reason, Step::ReadAssemblyIdentity});
    };
    // The CLI header names the metadata by its place in memory and its size.
    const auto header = MapRva(s.sections(), *s.clrRva);
    Fixed<kClrHeaderSize> bytes;
    if (!header || header->storedBytes < bytes.size() ||
        !budget_->ReadExactly(*source_, header->fileOffset, bytes))
        return bad(Reason::Truncated);
    const ByteReader h(bytes, Endian::Little);
    const std::uint32_t metadataRva = *h.u32At(8);
    const std::uint32_t metadataSize = *h.u32At(12);
    const auto metadata = MapRva(s.sections(), metadataRva);
    if (!metadata || metadataSize == 0)
        return bad(Reason::BadFormat);
    const SubSource view(*source_, metadata->fileOffset,
                         std::min<std::uint64_t>(metadataSize, metadata->storedBytes));
    return ReadAssemblyIdentity(view);
}

std::optional<ResourceLocation>
ExecutableImage::FindResource(const ResourceId& type, const ResourceId& name,
                              std::vector<std::uint16_t>* storedLanguages) const {
    const State& s = *state_;
    if (format_ == ExecutableFormat::Ne) {
        for (const NeResource& r : s.neResources) {
            if (Matches(type, r.type) && Matches(name, r.name))
                return ResourceLocation{0, r.fileOffset, r.size, r.size};
        }
        return std::nullopt;
    }

    if (!s.resourceRva)
        return std::nullopt;
    const ResourceTree tree(*source_, s.sections(), *s.resourceRva, *budget_);
    VisitedDirectories visited;
    visited.Enter(0);
    DirectoryEntries types;
    if (!tree.ReadDirectory(0, types))
        return std::nullopt;
    const auto typeDir = tree.FindSubdirectory(types, type, visited);
    if (!typeDir)
        return std::nullopt;
    DirectoryEntries names;
    if (!tree.ReadDirectory(*typeDir, names))
        return std::nullopt;
    const auto nameDir = tree.FindSubdirectory(names, name, visited);
    if (!nameDir)
        return std::nullopt;
    DirectoryEntries languages;
    if (!tree.ReadDirectory(*nameDir, languages) || languages.empty())
        return std::nullopt;

    const DirectoryEntry* chosen = languages.begin();
    for (const std::uint16_t preferred : kPreferredLanguages) {
        const auto it =
            std::find_if(languages.begin(), languages.end(), [&](const DirectoryEntry& e) {
                return !e.named() && e.id() == preferred;
            });
        if (it != languages.end()) {
            chosen = it;
            break;
        }
    }
    if (chosen->isDirectory())
        return std::nullopt; // a fourth level does not exist

    Fixed<kDataEntrySize> entry;
    if (tree.ReadRvaInto(std::uint64_t{*s.resourceRva} + chosen->targetOffset(), entry) <
        kDataEntrySize)
        return std::nullopt;
    const ByteReader e(entry, Endian::Little);
    const std::uint32_t dataRva = *e.u32At(0); // an RVA, unlike the offsets inside the tree
    const std::uint32_t size = *e.u32At(4);
    const auto mapped = MapRva(s.sections(), dataRva);
    if (!mapped)
        return std::nullopt;

    ResourceLocation where;
    where.language = chosen->named() ? 0 : chosen->id();
    where.fileOffset = mapped->fileOffset;
    where.size = size;
    where.storedSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(size, mapped->storedBytes));
    if (storedLanguages != nullptr) {
        // A named language entry counts as language 0, as in the choice above.
        for (const DirectoryEntry& e : languages)
            storedLanguages->push_back(e.named() ? 0 : e.id());
    }
    return where;
}

std::vector<ResourceId> ExecutableImage::ResourceNames(const ResourceId& type) const {
    std::vector<ResourceId> out;
    const State& s = *state_;
    if (format_ == ExecutableFormat::Ne) {
        for (const NeResource& r : s.neResources) {
            if (Matches(type, r.type))
                out.push_back(r.name);
        }
        return out;
    }

    if (!s.resourceRva)
        return out;
    const ResourceTree tree(*source_, s.sections(), *s.resourceRva, *budget_);
    VisitedDirectories visited;
    visited.Enter(0);
    DirectoryEntries types;
    if (!tree.ReadDirectory(0, types))
        return out;
    const auto typeDir = tree.FindSubdirectory(types, type, visited);
    if (!typeDir)
        return out;
    DirectoryEntries names;
    if (!tree.ReadDirectory(*typeDir, names))
        return out;
    for (const DirectoryEntry& e : names) {
        if (!budget_->Take(sizeof(ResourceId)))
            break;
        if (auto id = tree.EntryId(e))
            out.push_back(std::move(*id)); // names that cannot be read are left out
    }
    return out;
}

std::optional<Bytes> ExecutableImage::ReadResource(const ResourceLocation& where,
                                                   std::size_t maxBytes) const {
    Bytes bytes;
    if (!ReadResourceInto(where, maxBytes, bytes))
        return std::nullopt;
    return bytes;
}

bool ExecutableImage::ReadResourceInto(const ResourceLocation& where, std::size_t maxBytes,
                                       Bytes& out) const {
    const auto total = static_cast<std::size_t>(
        std::min<std::uint64_t>({where.size, maxBytes, std::uint64_t{kMaxReadBytes}}));
    const std::size_t stored = std::min<std::size_t>(total, where.storedSize);
    if (!budget_->Take(total - stored))
        return false;
    out.resize(total);
    const auto fromFile = std::span<std::byte>(out).first(stored);
    if (stored > 0 && !budget_->ReadExactly(*source_, where.fileOffset, fromFile))
        return false;
    // The part only present in memory is zeros, whatever the buffer held
    // before.
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(stored), out.end(), std::byte{0});
    return true;
}

} // namespace sorvane
