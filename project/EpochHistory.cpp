#include "project/EpochHistory.h"

#include <algorithm>

TEpochHistory::TEpochHistory(std::size_t capacity)
    : capacity_(std::max<std::size_t>(2, capacity + (capacity & 1))),
      points_(std::make_unique<TEpochPoint[]>(capacity_))
{
}

void TEpochHistory::Clear()
{
    kept_ = 0;
    stride_ = 1;
    pending_ = 0;
    added_ = 0;
    last_ = {};
}

void TEpochHistory::Add(const TEpochPoint& point)
{
    ++added_;
    last_ = point;
    if (kept_ > 0 && ++pending_ < stride_)
        return;
    points_[kept_++] = point;
    pending_ = 0;
    if (kept_ < capacity_)
        return;
    // Full: keep points 0, 2, 4, ...; the dropped last one lies one old
    // stride back, so the next point is kept one old stride from now.
    for (std::size_t i = 1; i < capacity_ / 2; ++i)
        points_[i] = points_[2 * i];
    kept_ = capacity_ / 2;
    pending_ = stride_;
    stride_ *= 2;
}
