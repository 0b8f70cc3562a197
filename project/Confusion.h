#pragma once
// The confusion matrix of a set of answers: how often an element of each
// true class was answered with each class, and the figures read from it
// (accuracy, each class's recall and precision). Plain C++: the learning
// progress window, its held-out check and trelis-cli share it.

#include <cstddef>
#include <cstdint>
#include <vector>

// One element's true class and the class the network answered.
struct TElementAnswer {
    std::int32_t trueClass = 0; // below 0: filed under no class
    std::uint32_t answer = 0;   // the winning output
};

// One cell of a confusion matrix that is not zero.
struct TConfusionCount {
    std::int32_t trueClass = 0;
    std::uint32_t answer = 0;
    std::uint64_t count = 0;
};

// The cells that are not zero of the matrix of these answers, by true class
// and then by answer: the matrix in long form, in memory that grows with the
// answers, not with the square of the classes.
std::vector<TConfusionCount> ConfusionCounts(std::vector<TElementAnswer> answers);

class TConfusion {
public:
    // A matrix of `classes` rows and columns, all counts 0.
    explicit TConfusion(std::size_t classes = 0) { Reset(classes); }

    // Empties the matrix and gives it `classes` rows and columns; memory is
    // kept, so a matrix reset to its old size allocates nothing.
    void Reset(std::size_t classes);

    // Counts one answer. An element whose true class or answer has no row
    // or column (a class below 0 or beyond the matrix) is counted as a wrong
    // answer outside the matrix.
    void Add(std::int32_t trueClass, std::uint32_t answer);
    void Add(const TElementAnswer& a) { Add(a.trueClass, a.answer); }

    std::size_t Classes() const { return classes_; }
    // Elements of true class t answered a.
    std::uint64_t Count(std::size_t t, std::size_t a) const { return counts_[t * classes_ + a]; }
    // Elements of true class t, and elements answered a.
    std::uint64_t RowSum(std::size_t t) const { return rows_[t]; }
    std::uint64_t ColumnSum(std::size_t a) const { return columns_[a]; }
    // Elements counted outside the matrix.
    std::uint64_t Outside() const { return outside_; }
    // Every element counted, and those answered right (the diagonal).
    std::uint64_t Total() const { return total_; }
    std::uint64_t Right() const { return right_; }

    // Right / Total; NaN when nothing was counted.
    double Accuracy() const;
    // Count(c, c) / RowSum(c): the share of class c's elements answered c;
    // NaN for a class without elements.
    double Recall(std::size_t c) const;
    // Count(c, c) / ColumnSum(c): the share of the answers c that were
    // right; NaN for a class never answered.
    double Precision(std::size_t c) const;

private:
    std::size_t classes_ = 0;
    std::vector<std::uint64_t> counts_; // row-major, true class by answer
    std::vector<std::uint64_t> rows_;
    std::vector<std::uint64_t> columns_;
    std::uint64_t outside_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t right_ = 0;
};
