#include "engine/formats/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane {

std::optional<Bytes> ByteSource::Read(std::uint64_t offset, std::size_t length) const {
    const std::uint64_t total = size();
    if (length > kMaxReadBytes || offset > total || length > total - offset)
        return std::nullopt;
    Bytes out(length);
    if (length > 0 && !ReadInto(offset, out))
        return std::nullopt;
    return out;
}

Bytes ByteSource::ReadUpTo(std::uint64_t offset, std::size_t length) const {
    const std::uint64_t total = size();
    if (offset >= total)
        return {};
    const auto available =
        static_cast<std::size_t>(std::min<std::uint64_t>({total - offset, length, kMaxReadBytes}));
    return Read(offset, available).value_or(Bytes{});
}

bool ByteSource::ReadExactly(std::uint64_t offset, std::span<std::byte> out) const {
    const std::uint64_t total = size();
    if (out.size() > kMaxReadBytes || offset > total || out.size() > total - offset)
        return false;
    return out.empty() || ReadInto(offset, out);
}

bool MemorySource::ReadInto(std::uint64_t offset, std::span<std::byte> out) const {
    std::memcpy(out.data(), data_.data() + offset, out.size());
    return true;
}

SubSource::SubSource(const ByteSource& parent, std::uint64_t offset, std::uint64_t length)
    : parent_(parent), offset_(std::min(offset, parent.size())),
      length_(std::min(length, parent.size() - offset_)) {}

bool SubSource::ReadInto(std::uint64_t offset, std::span<std::byte> out) const {
    // Straight into `out`: a reader of an embedded file reads many small
    // fields, and a heap block for each would cost more than the reading.
    return parent_.ReadExactly(offset_ + offset, out);
}

bool ReadBudget::Take(std::size_t bytes) {
    if (bytes > left_) {
        spent_ = true;
        return false;
    }
    left_ -= bytes;
    return true;
}

std::size_t ReadBudget::TakeItems(std::size_t count, std::size_t size) {
    const std::size_t granted = size == 0 ? count : std::min(count, left_ / size);
    if (granted < count)
        spent_ = true;
    left_ -= granted * size;
    return granted;
}

std::optional<Bytes> ReadBudget::Read(const ByteSource& source, std::uint64_t offset,
                                      std::size_t length) {
    if (!Take(length))
        return std::nullopt;
    return source.Read(offset, length);
}

bool ReadBudget::ReadExactly(const ByteSource& source, std::uint64_t offset,
                             std::span<std::byte> out) {
    return Take(out.size()) && source.ReadExactly(offset, out);
}

std::size_t ReadBudget::ReadUpTo(const ByteSource& source, std::uint64_t offset,
                                 std::span<std::byte> out) {
    const std::uint64_t total = source.size();
    const std::uint64_t available =
        offset < total ? std::min<std::uint64_t>(total - offset, out.size()) : 0;
    const auto granted = static_cast<std::size_t>(std::min<std::uint64_t>(available, left_));
    if (granted < available)
        spent_ = true;
    left_ -= granted;
    // As the Bytes version: at most kMaxReadBytes, all or nothing.
    const auto length = std::min(granted, kMaxReadBytes);
    return source.ReadExactly(offset, out.first(length)) ? length : 0;
}

Bytes ReadBudget::ReadUpTo(const ByteSource& source, std::uint64_t offset, std::size_t length) {
    const std::uint64_t total = source.size();
    const std::uint64_t available =
        offset < total ? std::min<std::uint64_t>(total - offset, length) : 0;
    const auto granted = static_cast<std::size_t>(std::min<std::uint64_t>(available, left_));
    if (granted < available)
        spent_ = true;
    left_ -= granted;
    return source.ReadUpTo(offset, granted);
}

} // namespace sorvane
