#pragma once
// The class-names file that goes beside a sequence file: one name per line,
// each line ended by CR LF. The program writes the single-byte Cyrillic code
// page (Windows-1251); it reads that, and UTF-8 as a modern editor saves it.
// These functions work on the bytes as they are on disk.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "images/Cp1251.h"
#include "images/RegularFile.h"

// The most names a file may hold: as many classes as a project can have.
inline constexpr std::size_t MaxClassNames = 10000;
// The largest names file read: ample for MaxClassNames long names.
inline constexpr std::uint64_t MaxClassNamesFileSize = std::uint64_t{4} << 20;

enum class TClassNamesError {
    None,         // read
    CannotOpen,   // see TClassNamesFile::openError
    ReadFailed,   // the file could not be read to its end
    TooLarge,     // more than MaxClassNamesFileSize bytes
    TooManyNames, // more than MaxClassNames names
};

enum class TTextEncoding {
    Cp1251, // Windows-1251, one byte a character
    Utf8,
};

struct TClassNamesFile {
    TClassNamesError error = TClassNamesError::None;
    TFileOpenError openError = TFileOpenError::None; // with CannotOpen
    // How the names are written: UTF-8 when the file starts with the UTF-8
    // byte-order mark, or is valid UTF-8 and holds a character of more than
    // one byte; Windows-1251 otherwise.
    TTextEncoding encoding = TTextEncoding::Cp1251;
    // The white-space-separated words (blank, tab, CR, LF, vertical tab, form
    // feed), each one class, in order, kept whole, as bytes in `encoding`
    // (the byte-order mark dropped); empty unless error is None.
    std::vector<std::string> names;

    bool Ok() const { return error == TClassNamesError::None; }
};

// Reads a names file: a regular file of at most MaxClassNamesFileSize bytes
// holding at most MaxClassNames names. Nothing after the size the file had
// when it was opened is read.
TClassNamesFile LoadClassNames(const std::string& fileName);

// The encoding LoadClassNames assigns to a file's bytes.
TTextEncoding DetectEncoding(std::string_view bytes);

// Writes one name per line. So that reading gives back the same number of
// classes in the same order, white space inside a name is written as '_' and
// an empty name as its class number; a first name that starts with the
// UTF-8 byte-order mark gets a mark before it, which the reader drops. False when the file cannot be created
// or written.
bool WriteClassNames(const std::string& fileName, const std::vector<std::string>& names);
// The same names written to an open stream; false when a write failed.
bool WriteClassNames(std::FILE* file, const std::vector<std::string>& names);

// The name a name stored by WriteClassNames is read back as.
std::string StorableClassName(const std::string& name, std::size_t classNumber);

// The name class k is shown by: its name, or its number when it has none
// (a class below 0 or beyond the names included).
std::string ShownClassName(const std::vector<std::string>& names, std::int64_t k);

// The names file of a sequence file: its last three characters replaced by
// "nam" (a.llt -> a.nam). A name whose last path component is shorter than
// three characters gets ".nam" appended instead.
std::string ClassNamesFileName(const std::string& sequenceFileName);
