#pragma once
// The training sequence: a circle of elements linked through Next, with a
// cursor. Elements are copies of the images added, each with its bias byte.
// Whoever reads the elements walks them through TRingElements, in one of
// the ring's orders; only the ring links and unlinks them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include "images/Images.h"
#include "images/RegularFile.h"

// Why a sequence file could not be loaded.
enum class TSequenceFileError {
    None,          // loaded
    CannotOpen,    // missing, not a regular file (a folder, device or
                   // pipe), or no permission to read: see TFileOpenError
    ReadFailed,    // the file could not be read to its end
    NoHeader,      // shorter than the two header words
    Truncated,     // ends before the records its header announces
    TooLarge,      // announces elements larger than MaxDimension bytes
    OutOfMemory    // the records announced do not fit in memory
};

// The elements once round a ring from one of them, read only. It holds
// while the ring's elements stay as they are (none added or removed).
class TRingElements {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TAbsImage;
        using difference_type = std::ptrdiff_t;
        using pointer = const TAbsImage*;
        using reference = const TAbsImage&;

        iterator() = default;
        reference operator*() const { return *element_; }
        pointer operator->() const { return element_; }
        iterator& operator++()
        {
            element_ = element_->Next;
            --left_;
            return *this;
        }
        iterator operator++(int)
        {
            iterator before = *this;
            ++*this;
            return before;
        }
        // Two places of one walk are equal when as many elements are left.
        bool operator==(const iterator& other) const { return left_ == other.left_; }

    private:
        friend class TRingElements;
        iterator(const TAbsImage* element, std::uint32_t left)
            : element_(element), left_(left)
        {
        }
        const TAbsImage* element_ = nullptr;
        std::uint32_t left_ = 0;
    };

    TRingElements() = default;
    // `count` elements from `first` on (none when first is null).
    TRingElements(const TAbsImage* first, std::uint32_t count)
        : first_(first), count_(first ? count : 0)
    {
    }

    iterator begin() const { return {first_, count_}; }
    iterator end() const { return {nullptr, 0}; }
    std::uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

private:
    const TAbsImage* first_ = nullptr;
    std::uint32_t count_ = 0;
};

class PatternRing {
public:
    // The largest element size a sequence file may announce: far beyond any
    // retina or series window, and small enough that saving a sequence never
    // writes gigabytes of padding for an element size read from a damaged
    // header.
    static constexpr std::uint32_t MaxDimension = 1u << 24;

    PatternRing() = default;
    ~PatternRing();
    PatternRing(const PatternRing&) = delete;
    PatternRing& operator=(const PatternRing&) = delete;

    // Inserts a copy of the image (its Size cells and the bias byte 1) right
    // after the cursor; the copy becomes the cursor.
    void Add(const TAbsImage& image, std::int32_t classIndex);
    // Removes the element under the cursor; the cursor moves to its
    // predecessor. Nothing happens on an empty sequence.
    void RemoveCurrent();
    // Links the element in right after the cursor as it is (its cells, size
    // and class kept); it becomes the cursor.
    void Insert(std::unique_ptr<TAbsImage> element);
    // Removes every element; the dimension is kept.
    void Clear();

    // The number of elements, and the bytes per element in the sequence file.
    std::uint32_t GetCount() const { return count_; }
    std::uint32_t GetDimension() const { return dimension_; }
    void SetDimension(std::uint32_t d) { dimension_ = d; }

    // The element under the cursor; null when the sequence is empty.
    const TAbsImage* CurrentElement() const { return current_; }
    // Every element once, from the cursor's round the ring.
    TRingElements Elements() const { return {current_, count_}; }
    // Every element once as the sequence file lists them: from the element
    // after the cursor round to the cursor's.
    TRingElements FileOrder() const { return {current_ ? current_->Next : nullptr, count_}; }
    // Every element once from `first`, which must be one of the ring's.
    TRingElements ElementsFrom(const TAbsImage& first) const { return {&first, count_}; }

    // Moves the cursor one element on; returns the element it rests on,
    // null when the sequence is empty.
    const TAbsImage* StepCursor();
    // Puts the cursor on `element`, which must be one of the ring's.
    void MoveCursorTo(const TAbsImage& element);

    // Replaces the contents and the dimension by the file's. On any failure
    // (cannot open, damaged or short file) returns false and the sequence
    // stays exactly as it was; *error (when given) tells why, or None, and
    // *openError why the file could not be opened (with CannotOpen).
    // Only a regular file is read, and only as far as its header announces:
    // the header's sizes are checked against the file's size and the memory
    // the records would take before any record is read.
    bool LoadFromFile(const std::string& fileName, TSequenceFileError* error = nullptr,
                      TFileOpenError* openError = nullptr);
    // Writes the dimension, the count and every element in FileOrder. The
    // cursor is not moved. False when the file cannot be
    // created or written.
    bool SaveToFile(const std::string& fileName);
    // The same file written to an open stream; false when a write failed.
    bool Write(std::FILE* file) const;

    // Exchanges the whole contents (elements, count, dimension, cursor).
    void Swap(PatternRing& other) noexcept;

private:
    bool Load(const std::string& fileName, TSequenceFileError& error, TFileOpenError& openError);

    std::uint32_t count_ = 0;      // number of elements
    std::uint32_t dimension_ = 0;  // bytes per element in the sequence file
    TAbsImage* current_ = nullptr; // the cursor; null while there are no elements
};
