#pragma once
// The class-names file that goes beside a sequence file: one name per line,
// each line ended by CR LF, in the single-byte Cyrillic code page. These
// functions work on the bytes as they are on disk.

#include <cstddef>
#include <string>
#include <vector>

// The file as white-space-separated words (blank, tab, CR, LF, vertical tab,
// form feed), each word one class, in order; words are kept whole. *ok (when
// given) tells whether the file could be opened and read to its end (a
// folder cannot); if not, no word is returned.
std::vector<std::string> ReadClassNames(const std::string& fileName, bool* ok = nullptr);

// Writes one name per line. So that reading gives back the same number of
// classes in the same order, white space inside a name is written as '_' and
// an empty name as its class number. False when the file cannot be created
// or written.
bool WriteClassNames(const std::string& fileName, const std::vector<std::string>& names);

// The name a name stored by WriteClassNames is read back as.
std::string StorableClassName(const std::string& name, std::size_t classNumber);

// The names file of a sequence file: its last three characters replaced by
// "nam" (a.llt -> a.nam). A name whose last path component is shorter than
// three characters gets ".nam" appended instead.
std::string ClassNamesFileName(const std::string& sequenceFileName);
