#pragma once
// Random access to the bytes of a file or a buffer, with a cap on every read.
// Parsers read headers and the few ranges they need, never a whole file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sorvane {

using Bytes = std::vector<std::byte>;

/// Largest single read any parser may ask for.
inline constexpr std::size_t kMaxReadBytes = 16 * 1024 * 1024;

class ByteSource {
public:
    virtual ~ByteSource() = default;

    /// Total number of bytes.
    virtual std::uint64_t size() const = 0;

    /// Exactly `length` bytes at `offset`; nothing when the range is not
    /// wholly inside the source, when `length` exceeds kMaxReadBytes, or when
    /// reading fails.
    std::optional<Bytes> Read(std::uint64_t offset, std::size_t length) const;

    /// Up to `length` bytes at `offset`: fewer when the source ends first
    /// (an empty vector when `offset` is at or past the end).
    Bytes ReadUpTo(std::uint64_t offset, std::size_t length) const;

    /// Read without a buffer of its own: fills all of `out` from `offset`;
    /// false when that range is not wholly inside the source, is longer than
    /// kMaxReadBytes, or reading fails.
    bool ReadExactly(std::uint64_t offset, std::span<std::byte> out) const;

protected:
    /// Fills `out` from `offset`; the range is already checked to be inside.
    virtual bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const = 0;
};

/// A borrowed buffer.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::byte> data) : data_(data) {}
    std::uint64_t size() const override { return data_.size(); }

protected:
    bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const override;

private:
    std::span<const std::byte> data_;
};

/// A window [offset, offset + length) of another source, clamped to it.
class SubSource final : public ByteSource {
public:
    SubSource(const ByteSource& parent, std::uint64_t offset, std::uint64_t length);
    std::uint64_t size() const override { return length_; }

protected:
    bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const override;

private:
    const ByteSource& parent_;
    std::uint64_t offset_;
    std::uint64_t length_;
};

/// Bytes one reader may read from one file and make out of it, in all.
/// Every read, every decoded text and every kept list entry is paid from it
/// before it is allocated, so whatever a file's tables claim, no file makes
/// a reader allocate more; a reader whose budget runs out stops and keeps
/// what it has, as if the file ended there.
class ReadBudget {
public:
    explicit ReadBudget(std::size_t bytes) : left_(bytes) {}

    std::size_t left() const { return left_; }
    /// True once the budget refused or shortened a request.
    bool spent() const { return spent_; }

    /// Takes `bytes`; false, taking nothing, when fewer are left.
    bool Take(std::size_t bytes);
    /// Takes room for as many of `count` items of `size` bytes each as the
    /// budget has left (all of them when it can) and returns that number.
    std::size_t TakeItems(std::size_t count, std::size_t size);
    /// source.Read(offset, length), paid first; nothing when the budget
    /// cannot pay (or the read fails).
    std::optional<Bytes> Read(const ByteSource& source, std::uint64_t offset, std::size_t length);
    /// source.ReadUpTo(offset, length), shortened to what the budget can pay.
    Bytes ReadUpTo(const ByteSource& source, std::uint64_t offset, std::size_t length);
    /// source.ReadExactly(offset, out), paid first.
    bool ReadExactly(const ByteSource& source, std::uint64_t offset, std::span<std::byte> out);
    /// ReadUpTo into `out` (at most out.size() bytes): the number of bytes
    /// read, 0 when the read fails.
    std::size_t ReadUpTo(const ByteSource& source, std::uint64_t offset, std::span<std::byte> out);

private:
    std::size_t left_;
    bool spent_ = false;
};

/// Another source, every read of which is paid from `budget` first: a
/// reader that takes a source then spends the budget of the file it reads.
class PaidSource final : public ByteSource {
public:
    PaidSource(const ByteSource& parent, ReadBudget& budget) : parent_(parent), budget_(budget) {}
    std::uint64_t size() const override { return parent_.size(); }

protected:
    bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const override {
        return budget_.ReadExactly(parent_, offset, out);
    }

private:
    const ByteSource& parent_;
    ReadBudget& budget_;
};

/// The budget each reader has for one file. A real version block, naming
/// table or type library needs a small part of it.
inline constexpr std::size_t kReadBudgetBytes = 4 * 1024 * 1024;

/// Views text as bytes (handy for tests and fuzzers).
inline std::span<const std::byte> AsBytes(const std::string& text) {
    return std::as_bytes(std::span<const char>(text.data(), text.size()));
}

} // namespace sorvane
