#pragma once
// The text and sequence files that the windows and trelis-cli read and
// write: a training sequence with the class names beside it, and CSV
// tables. Every file is written through the one atomic writer.

#include "images/PatternRing.h"

#include <string>
#include <string_view>
#include <vector>

// A sequence file read with its names file.
struct TSequenceWithNames {
    PatternRing sequence;
    std::vector<std::string> names; // the class names, UTF-8; empty when the names file was not read
    bool namesRead = false;         // the names file was found and read
    std::string namesPath;          // the names file beside the sequence
    // Set when the names file seems not to belong to the sequence (it names
    // fewer classes than the sequence has): a clause that says so, no final
    // period. Its names are still used; the classes past them go unnamed.
    std::string namesMismatch;
};

// Reads the sequence at `path` (a path for the C library) and the names file
// beside it, all or nothing, once a group write that a killed process left
// in the folder is settled. The names are read and checked first: a names
// file that can never be a project's refuses the sequence as well; one that
// is missing or unreadable leaves the classes unnamed (namesRead false).
// Empty on success, otherwise why the file cannot serve, as a clause that
// follows "…: " (no final period).
std::string LoadSequenceWithNames(const std::string& path, TSequenceWithNames& read);

// Writes the sequence to `path` and the class names (UTF-8, stored in
// Windows-1251) to the names file beside it, both new or both old. Empty on
// success, otherwise a sentence that names the file that failed.
std::string SaveSequenceWithNames(const std::string& path, const PatternRing& sequence,
                                  const std::vector<std::string>& names);

// A CSV field: the text as it is, or in double quotes (quotes doubled) when
// it holds a comma, a quote or a line end.
std::string CsvField(std::string_view text);
// The shortest text that reads back as the same number; empty for NaN.
std::string CsvNumber(double value);
std::string CsvNumber(float value);
