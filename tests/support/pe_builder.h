#pragma once
// Builds small PE32, PE32+ and NE images with a resource directory, field by
// field, and reports where each part went so tests can damage it.

#include "engine/formats/pe_image.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvane::test {

/// One resource to put into an image.
struct TestResource {
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0; ///< ignored for NE images
    std::string data;
};

struct PeOptions {
    bool pe32Plus = false;
    /// SizeOfRawData of the resource section; by default its whole content,
    /// rounded up to the file alignment. A smaller value leaves the rest of
    /// the content out of the file (it then exists only in memory).
    std::optional<std::uint32_t> resourceRawSize;
    /// The bytes of the code section (at most kPeCodeBytes); a lone "ret"
    /// when empty. A .NET image keeps its CLI header and metadata there.
    std::string code = {};
    /// Data directory 14, the CLI header: its RVA and size; none when 0.
    std::uint32_t clrRva = 0;
    std::uint32_t clrSize = 0;
};

/// Where BuildPe loads the code section, and the most bytes it holds.
inline constexpr std::uint32_t kPeCodeRva = 0x1000;
inline constexpr std::size_t kPeCodeBytes = 0x200;

/// A PE image and where its parts are.
struct PeLayout {
    std::string bytes;
    std::size_t lfanew = 0;
    std::size_t optionalHeader = 0;  ///< file offset of the optional header
    std::size_t resourceEntry = 0;   ///< file offset of data directory 2
    std::size_t sectionTable = 0;    ///< file offset of the section table
    std::size_t resourceSection = 0; ///< file offset of the resource section's data
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceContentSize = 0; ///< bytes of directory, entries and data
    /// File offset of the type, name and language directories in the order
    /// they are written (root first).
    std::vector<std::size_t> directories;
    /// File offset of each resource's data entry and data, in the order given.
    std::vector<std::size_t> dataEntries;
    std::vector<std::size_t> data;
};

/// Builds a PE image with a code section and a resource section holding
/// `resources`. Named entries come before ID entries in each directory; within
/// each group the order is the order of first appearance in `resources`.
PeLayout BuildPe(const std::vector<TestResource>& resources, const PeOptions& options = {});

/// Where BuildPe and BuildPeAround load the resource section.
inline constexpr std::uint32_t kPeResourceRva = 0x2000;

/// The same image around a resource section's content made by the test (for
/// directories no resource list describes); the layout lists no
/// directories, data entries or data.
PeLayout BuildPeAround(const std::string& resourceContent, const PeOptions& options = {});

/// An NE image and where its parts are.
struct NeLayout {
    std::string bytes;
    std::size_t lfanew = 0;
    std::size_t resourceTable = 0; ///< file offset of the resource table
    std::size_t resourceTableSize = 0;
    /// File offset of each resource's NAMEINFO record and data, in the order given.
    std::vector<std::size_t> nameInfos;
    std::vector<std::size_t> data;
};

/// Builds an NE image whose resource table holds `resources` (grouped by
/// type in the order of first appearance), with the given alignment shift.
NeLayout BuildNe(const std::vector<TestResource>& resources, std::uint16_t alignShift = 4);

} // namespace sorvane::test
