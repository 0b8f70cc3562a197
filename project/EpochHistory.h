#pragma once
// The figures of many epochs in bounded memory, for a learning curve. Each
// kept point stands for `Stride()` consecutive additions and carries the
// figures of the first of them; when the points fill the capacity, every
// second one is dropped and the stride doubles, so the history always covers
// everything added at an even resolution. The first point added and the
// last one are always kept exactly. Adding allocates nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

// One epoch's figures: the epoch's number and up to four values.
struct TEpochPoint {
    std::uint64_t epoch = 0;
    std::array<double, 4> values{};
};

class TEpochHistory {
public:
    // Keeps at most `capacity` points besides the last one (rounded up to an
    // even number, at least 2).
    explicit TEpochHistory(std::size_t capacity = 2048);

    void Clear();
    // Adds the next point; epochs are expected to grow.
    void Add(const TEpochPoint& point);

    // The points in order: the kept ones, then the last one added when it
    // is not itself kept. At most Capacity() + 1.
    std::size_t Count() const { return kept_ + (pending_ > 0 ? 1 : 0); }
    const TEpochPoint& operator[](std::size_t i) const { return i < kept_ ? points_[i] : last_; }
    bool Empty() const { return kept_ == 0; }
    const TEpochPoint& Last() const { return last_; }

    // Points added since the last Clear, and how many each kept point stands for.
    std::uint64_t Added() const { return added_; }
    std::uint64_t Stride() const { return stride_; }
    std::size_t Capacity() const { return capacity_; }

private:
    std::size_t capacity_;
    std::unique_ptr<TEpochPoint[]> points_; // capacity_ points
    std::size_t kept_ = 0;    // points_[0 .. kept_-1] are in use
    std::uint64_t stride_ = 1;
    std::uint64_t pending_ = 0; // additions since the last kept point
    std::uint64_t added_ = 0;
    TEpochPoint last_;
};
