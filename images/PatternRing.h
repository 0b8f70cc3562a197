#pragma once
// The training sequence: a circle of elements linked through Next, with a
// cursor. Elements are copies of the images added, each with its bias byte.

#include <cstdint>
#include <cstdio>
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

class PatternRing {
public:
    // The largest element size a sequence file may announce: far beyond any
    // retina or series window, and small enough that saving a sequence never
    // writes gigabytes of padding for an element size read from a damaged
    // header.
    static constexpr std::uint32_t MaxDimension = 1u << 24;

    std::uint32_t Count = 0;        // number of elements
    std::uint32_t Dimension = 0;    // bytes per element in the sequence file
    TAbsImage* Current = nullptr;   // the cursor; null while Count is 0

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
    // Removes every element; Dimension is kept.
    void Clear();

    std::uint32_t GetCount() const { return Count; }
    std::uint32_t GetDimension() const { return Dimension; }
    void SetDimension(std::uint32_t d) { Dimension = d; }

    // Replaces the contents and Dimension by the file's. On any failure
    // (cannot open, damaged or short file) returns false and the sequence
    // stays exactly as it was; *error (when given) tells why, or None, and
    // *openError why the file could not be opened (with CannotOpen).
    // Only a regular file is read, and only as far as its header announces:
    // the header's sizes are checked against the file's size and the memory
    // the records would take before any record is read.
    bool LoadFromFile(const std::string& fileName, TSequenceFileError* error = nullptr,
                      TFileOpenError* openError = nullptr);
    // Writes Dimension, Count and every element from Current->Next round to
    // Current. The cursor is not moved. False when the file cannot be
    // created or written.
    bool SaveToFile(const std::string& fileName);
    // The same file written to an open stream; false when a write failed.
    bool Write(std::FILE* file) const;

    // Exchanges the whole contents (elements, Count, Dimension, cursor).
    void Swap(PatternRing& other) noexcept;

private:
    bool Load(const std::string& fileName, TSequenceFileError& error, TFileOpenError& openError);
};
