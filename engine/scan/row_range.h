#pragma once
// Result rows read one at a time: a vector of rows, or rows held some other
// way (the window's grid keeps them compact, in the order it shows them),
// without a copy of them all.

#include "engine/scan/comparison.h"

#include <cstddef>
#include <iterator>
#include <ranges>
#include <vector>

namespace sorvane {

/// Rows that can be read back one at a time.
class RowSource {
public:
    virtual std::size_t RowCount() const = 0;
    /// Writes row `i` (0 <= i < RowCount()) into `row`, reusing the storage
    /// its texts hold.
    virtual void ReadRow(std::size_t i, ComparisonRow& row) const = 0;

protected:
    ~RowSource() = default;
};

/// A view of rows, from a vector or from a RowSource; it must not outlive
/// them. Row i comes as a copy; At() reads without one where it can.
class RowRange {
public:
    RowRange() = default;
    // Implicit: every function that takes rows takes a vector of them too.
    RowRange(const std::vector<ComparisonRow>& rows) : vector_(&rows) {} // NOLINT
    explicit RowRange(const RowSource& source) : source_(&source) {}

    std::size_t size() const {
        return vector_ != nullptr ? vector_->size() : source_ != nullptr ? source_->RowCount() : 0;
    }
    bool empty() const { return size() == 0; }

    /// Row `i`, which must exist, as a reference into the vector, or read
    /// into `scratch`: valid until `scratch` is read into again.
    const ComparisonRow& At(std::size_t i, ComparisonRow& scratch) const {
        if (vector_ != nullptr)
            return (*vector_)[i];
        source_->ReadRow(i, scratch);
        return scratch;
    }
    /// Row `i`, which must exist, as a copy.
    ComparisonRow operator[](std::size_t i) const {
        ComparisonRow row;
        return At(i, row);
    }
    ComparisonRow front() const { return (*this)[0]; }
    ComparisonRow back() const { return (*this)[size() - 1]; }

    /// Every row as a copy.
    std::vector<ComparisonRow> ToVector() const {
        if (vector_ != nullptr)
            return *vector_;
        std::vector<ComparisonRow> rows(size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            source_->ReadRow(i, rows[i]);
        return rows;
    }

    /// Yields copies of the rows; holds what the range views, not the range.
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using iterator_concept = std::random_access_iterator_tag;
        using value_type = ComparisonRow;
        using difference_type = std::ptrdiff_t;
        using reference = ComparisonRow;
        using pointer = void;

        iterator() = default;
        ComparisonRow operator*() const { return RowRange(*this)[at_]; }
        ComparisonRow operator[](difference_type n) const {
            return RowRange(*this)[static_cast<std::size_t>(static_cast<difference_type>(at_) + n)];
        }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        iterator operator++(int) {
            iterator old = *this;
            ++at_;
            return old;
        }
        iterator& operator--() {
            --at_;
            return *this;
        }
        iterator operator--(int) {
            iterator old = *this;
            --at_;
            return old;
        }
        iterator& operator+=(difference_type n) {
            at_ = static_cast<std::size_t>(static_cast<difference_type>(at_) + n);
            return *this;
        }
        iterator& operator-=(difference_type n) { return *this += -n; }
        friend iterator operator+(iterator it, difference_type n) { return it += n; }
        friend iterator operator+(difference_type n, iterator it) { return it += n; }
        friend iterator operator-(iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const iterator& a, const iterator& b) {
            return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }
        friend auto operator<=>(const iterator& a, const iterator& b) { return a.at_ <=> b.at_; }

    private:
        friend class RowRange;
        iterator(const RowRange& range, std::size_t at)
            : vector_(range.vector_), source_(range.source_), at_(at) {}
        explicit operator RowRange() const {
            RowRange range;
            range.vector_ = vector_;
            range.source_ = source_;
            return range;
        }

        const std::vector<ComparisonRow>* vector_ = nullptr;
        const RowSource* source_ = nullptr;
        std::size_t at_ = 0;
    };

    iterator begin() const { return iterator(*this, 0); }
    iterator end() const { return iterator(*this, size()); }

private:
    const std::vector<ComparisonRow>* vector_ = nullptr;
    const RowSource* source_ = nullptr;
};

} // namespace sorvane

// The iterators hold what the range views, so they stay valid after the
// range object itself is gone.
template <> inline constexpr bool std::ranges::enable_borrowed_range<sorvane::RowRange> = true;
