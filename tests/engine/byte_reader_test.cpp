#include "engine/files/opened_file.h"
#include "engine/formats/byte_reader.h"
#include "engine/formats/byte_source.h"
#include "support/temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {
namespace {

std::span<const std::byte> Span(const std::string& s) {
    return AsBytes(s);
}

TEST(ByteReader, ReadsBothByteOrdersAndNeverPastTheEnd) {
    const std::string data("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
    ByteReader le(Span(data), Endian::Little);
    EXPECT_EQ(le.u16(), 0x0201);
    EXPECT_EQ(le.u32(), 0x06050403u);
    EXPECT_EQ(le.u32(), std::nullopt); // three bytes left
    EXPECT_EQ(le.offset(), 6u);        // a failed read does not move
    EXPECT_EQ(le.u8(), 7);
    EXPECT_EQ(le.u16(), 0x0908);
    EXPECT_EQ(le.u8(), std::nullopt);

    ByteReader be(Span(data), Endian::Big);
    EXPECT_EQ(be.u32(), 0x01020304u);
    EXPECT_EQ(be.u16At(7), 0x0809);
    EXPECT_EQ(be.u16At(8), std::nullopt);
    EXPECT_EQ(be.u32At(SIZE_MAX - 1), std::nullopt); // offset + width would overflow
    EXPECT_FALSE(be.seek(10));
    EXPECT_TRUE(be.seek(9));
    EXPECT_FALSE(be.skip(1));
    EXPECT_FALSE(be.sub(5, 5).has_value());
    ASSERT_TRUE(be.sub(5, 4).has_value());
    EXPECT_EQ(be.sub(5, 4)->u32(), 0x06070809u);
    EXPECT_FALSE(be.contains(SIZE_MAX, 2));

    const std::string neg("\xFE\xFF\xFF\xFF", 4);
    ByteReader n(Span(neg), Endian::Little);
    EXPECT_EQ(n.i32(), -2);
}

// The value of `width` bytes at `offset` put together one byte at a time:
// what a one-load read must give.
std::optional<std::uint64_t> ByteWise(const std::vector<std::byte>& data, std::size_t offset,
                                      std::size_t width, Endian endian) {
    if (offset > data.size() || width > data.size() - offset)
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t k = endian == Endian::Little ? width - 1 - i : i;
        value = value << 8 | std::to_integer<std::uint64_t>(data[offset + k]);
    }
    return value;
}

TEST(ByteReader, ReadsEveryWidthAtEveryOffsetInBothByteOrders) {
    // Distinct bytes with the high bit set in some, so a byte out of place
    // or sign-extended shows. The reader starts one byte into the storage,
    // so most reads are not aligned to their width.
    std::vector<std::byte> storage(20);
    for (std::size_t i = 0; i < storage.size(); ++i)
        storage[i] = static_cast<std::byte>(0x11 * i + 0x80 * (i % 3 == 0));
    const std::vector<std::byte> data(storage.begin() + 1, storage.end());
    const std::span<const std::byte> view(storage.data() + 1, data.size());
    for (const Endian endian : {Endian::Little, Endian::Big}) {
        const ByteReader r(view, endian);
        for (std::size_t offset = 0; offset <= data.size() + 1; ++offset) {
            SCOPED_TRACE(testing::Message() << (endian == Endian::Little ? "little" : "big")
                                            << " endian, offset " << offset);
            const auto as = [](auto v) -> std::optional<std::uint64_t> {
                return v ? std::optional<std::uint64_t>(*v) : std::nullopt;
            };
            EXPECT_EQ(as(r.u16At(offset)), ByteWise(data, offset, 2, endian));
            EXPECT_EQ(as(r.u32At(offset)), ByteWise(data, offset, 4, endian));
            EXPECT_EQ(as(r.u64At(offset)), ByteWise(data, offset, 8, endian));

            // The reads that move give the same and move only on success.
            ByteReader moving(view, endian);
            if (!moving.seek(offset))
                continue;
            EXPECT_EQ(as(moving.u8()), ByteWise(data, offset, 1, endian));
            ASSERT_TRUE(moving.seek(offset));
            EXPECT_EQ(as(moving.u16()), ByteWise(data, offset, 2, endian));
            const std::size_t after16 = moving.offset();
            EXPECT_EQ(as(moving.u32()), ByteWise(data, after16, 4, endian));
            const std::size_t after32 = moving.offset();
            EXPECT_EQ(as(moving.u64()), ByteWise(data, after32, 8, endian));
            EXPECT_EQ(moving.offset(), after32 + (ByteWise(data, after32, 8, endian) ? 8 : 0));
            EXPECT_EQ(after16, offset + (ByteWise(data, offset, 2, endian) ? 2 : 0));
        }
    }
}

TEST(ByteReader, AlignsFromTheBufferStart) {
    const std::string data(10, '\0');
    ByteReader r(Span(data), Endian::Little);
    ASSERT_TRUE(r.skip(1));
    EXPECT_TRUE(r.alignTo(4));
    EXPECT_EQ(r.offset(), 4u);
    EXPECT_TRUE(r.alignTo(4)); // already aligned
    EXPECT_EQ(r.offset(), 4u);
    ASSERT_TRUE(r.skip(5));
    EXPECT_FALSE(r.alignTo(4)); // 12 is past the end
    EXPECT_EQ(r.offset(), 9u);
}

TEST(ByteReader, ReadsTerminatedTexts) {
    const std::string utf16("A\0\xE4\0=\xD8\x00\xDE\0\0Z\0", 12); // "Aä😀" NUL "Z"
    ByteReader r(Span(utf16), Endian::Little);
    EXPECT_EQ(r.utf16z(100), "Aä😀");
    EXPECT_EQ(r.offset(), 10u);
    EXPECT_EQ(r.utf16z(100), "Z"); // ends with the buffer, no NUL
    ByteReader capped(Span(utf16), Endian::Little);
    EXPECT_EQ(capped.utf16z(1), "A");

    const std::string odd("B\0C", 3);
    EXPECT_EQ(Utf16ToUtf8(Span(odd), Endian::Little), "B"); // the odd byte is dropped
    const std::string lone("\x00\xD8\x41\x00", 4);
    EXPECT_EQ(Utf16ToUtf8(Span(lone), Endian::Little), "\uFFFDA");
    const std::string be("\x00\x41\x00\xE9", 4);
    EXPECT_EQ(Utf16ToUtf8(Span(be), Endian::Big), "Aé");

    const std::string ansi("abc\0def", 7);
    ByteReader a(Span(ansi), Endian::Little);
    EXPECT_EQ(a.bytesz(100), "abc");
    EXPECT_EQ(a.bytesz(2), "de");
}

TEST(ByteSource, ReadsExactRangesWithinTheCap) {
    const std::string data = "0123456789";
    MemorySource memory(Span(data));
    EXPECT_EQ(memory.Read(2, 3).value().size(), 3u);
    EXPECT_EQ(std::to_integer<char>(memory.Read(9, 1).value()[0]), '9');
    EXPECT_FALSE(memory.Read(8, 3).has_value());
    EXPECT_FALSE(memory.Read(UINT64_MAX, 2).has_value());
    EXPECT_TRUE(memory.Read(10, 0).has_value());
    EXPECT_EQ(memory.ReadUpTo(8, 100).size(), 2u);
    EXPECT_TRUE(memory.ReadUpTo(11, 1).empty());

    SubSource window(memory, 4, 100); // clamped to the parent
    EXPECT_EQ(window.size(), 6u);
    EXPECT_EQ(std::to_integer<char>(window.Read(0, 1).value()[0]), '4');
    EXPECT_FALSE(window.Read(5, 2).has_value());
}

TEST(ReadBudget, PaysForReadsUntilItRunsOut) {
    const std::string data = "0123456789";
    const MemorySource memory(Span(data));
    // Each step against one budget of 10 bytes: what it gives, what is left,
    // whether the budget counts as spent afterwards.
    ReadBudget budget(10);
    struct Step {
        const char* what;
        std::function<std::size_t()> run; ///< bytes or items granted
        std::size_t granted, left;
        bool spent;
    };
    const Step steps[] = {
        {"a read within", [&] { return budget.Read(memory, 0, 3).value().size(); }, 3, 7, false},
        {"a read up to the end of the data", [&] { return budget.ReadUpTo(memory, 8, 50).size(); },
         2, 5, false},
        {"a read past the end of the data", [&] { return budget.ReadUpTo(memory, 20, 50).size(); },
         0, 5, false},
        {"a read it cannot pay", [&] { return budget.Read(memory, 0, 6).value_or(Bytes{}).size(); },
         0, 5, true},
        {"items: two of three", [&] { return budget.TakeItems(3, 2); }, 2, 1, true},
        {"a read shortened", [&] { return budget.ReadUpTo(memory, 0, 5).size(); }, 1, 0, true},
        {"an empty take", [&] { return std::size_t{budget.Take(0)}; }, 1, 0, true},
        {"a take refused", [&] { return std::size_t{budget.Take(1)}; }, 0, 0, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.run(), step.granted);
        EXPECT_EQ(budget.left(), step.left);
        EXPECT_EQ(budget.spent(), step.spent);
    }
    ReadBudget items(SIZE_MAX);
    EXPECT_EQ(items.TakeItems(SIZE_MAX, 2), SIZE_MAX / 2); // no overflow in count * size
}

TEST(OpenedFile, OpensOnlyRegularFiles) {
    test::TempDir dir;
    auto file = OpenedFile::Open(dir.write("f.bin", "hello"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 5u);
    EXPECT_EQ(file->Read(1, 4).value().size(), 4u);
    EXPECT_FALSE(file->Read(1, 5).has_value());
    EXPECT_FALSE(file->Read(0, kMaxReadBytes + 1).has_value());

    EXPECT_EQ(OpenedFile::Open(dir.file("missing")), nullptr);
    EXPECT_EQ(OpenedFile::Open(dir.path().string()), nullptr);
    EXPECT_EQ(OpenedFile::Open(""), nullptr);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenedFile::Open(fifo), nullptr); // returns at once, no reader needed
    EXPECT_EQ(OpenedFile::Open("/dev/zero"), nullptr);
}


TEST(OpenedFile, ReadsTheSameBytesWhereverAReadFallsAgainstItsCache) {
    // 20,000 bytes, each a function of its offset, so a read from the wrong
    // place or a stale cache shows.
    std::string content(20000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    test::TempDir dir;
    const std::string path = dir.write("f.bin", content);
    const auto file = OpenedFile::Open(path);
    ASSERT_NE(file, nullptr);
    struct Row {
        std::uint64_t offset;
        std::size_t length;
    };
    const Row rows[] = {
        {0, 64},        // a header at the start
        {64, 2},        // the next field, from the same window
        {4090, 12},     // across a 4 KiB boundary
        {8190, 4},      // across the end of the first window
        {12000, 4096},  // the largest read served from a window
        {3000, 4097},   // one byte more: read straight from the file
        {19990, 10},    // up to the last byte
        {0, 20000},     // the whole file
        {16300, 200},   // a fifth window: the first one gives way
        {16, 8},        // back at the start
        {4096, 0},      // nothing
    };
    for (const auto& row : rows) {
        const auto bytes = file->Read(row.offset, row.length);
        ASSERT_TRUE(bytes.has_value()) << row.offset << "+" << row.length;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                  content.substr(row.offset, row.length))
            << row.offset << "+" << row.length;
    }
    EXPECT_FALSE(file->Read(19990, 11).has_value()); // past the end
    EXPECT_FALSE(file->ReadError());

    // A file that shrinks after it was opened gives short reads, not an
    // error.
    const auto shrinking = OpenedFile::Open(path);
    ASSERT_NE(shrinking, nullptr);
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    EXPECT_EQ(shrinking->ReadUpTo(16000, 16).size(), 0u);
    EXPECT_EQ(shrinking->Read(16, 8).value().size(), 8u); // within what is left
    EXPECT_FALSE(shrinking->Read(90, 20).has_value());
    EXPECT_FALSE(shrinking->ReadError());
}

} // namespace
} // namespace sorvane
