#include "project/Confusion.h"

#include <algorithm>
#include <limits>

namespace {

double Share(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? std::numeric_limits<double>::quiet_NaN()
                      : static_cast<double>(part) / static_cast<double>(whole);
}

} // namespace

std::vector<TConfusionCount> ConfusionCounts(std::vector<TElementAnswer> answers)
{
    std::sort(answers.begin(), answers.end(), [](const TElementAnswer& a, const TElementAnswer& b) {
        return a.trueClass != b.trueClass ? a.trueClass < b.trueClass : a.answer < b.answer;
    });
    std::vector<TConfusionCount> cells;
    for (const TElementAnswer& a : answers) {
        if (cells.empty() || cells.back().trueClass != a.trueClass || cells.back().answer != a.answer)
            cells.push_back({a.trueClass, a.answer, 0});
        ++cells.back().count;
    }
    return cells;
}

void TConfusion::Reset(std::size_t classes)
{
    classes_ = classes;
    counts_.assign(classes * classes, 0);
    rows_.assign(classes, 0);
    columns_.assign(classes, 0);
    outside_ = 0;
    total_ = 0;
    right_ = 0;
}

void TConfusion::Add(std::int32_t trueClass, std::uint32_t answer)
{
    ++total_;
    if (trueClass < 0 || static_cast<std::size_t>(trueClass) >= classes_ || answer >= classes_) {
        ++outside_;
        return;
    }
    const auto t = static_cast<std::size_t>(trueClass);
    ++counts_[t * classes_ + answer];
    ++rows_[t];
    ++columns_[answer];
    if (t == answer)
        ++right_;
}

double TConfusion::Accuracy() const
{
    return Share(right_, total_);
}

double TConfusion::Recall(std::size_t c) const
{
    return Share(Count(c, c), rows_[c]);
}

double TConfusion::Precision(std::size_t c) const
{
    return Share(Count(c, c), columns_[c]);
}
