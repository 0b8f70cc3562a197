#pragma once
// Reading a training sequence file with the class names beside it, as
// "Последовательность" / "Из файла" reads it; the progress window's check on
// held-out samples reads its files the same way.

#include "images/PatternRing.h"

#include <QString>

#include <string>
#include <vector>

struct TSequenceFileRead {
    PatternRing sequence;
    std::vector<std::string> names; // the class names, UTF-8; empty when the names file was not read
    bool namesRead = false;         // the names file was found and read
    std::string namesPath;          // the names file beside the sequence
};

// Reads the sequence at `path` (a path for the C library) and the names file
// beside it. The names are read and checked first: a names file that can
// never be a project's refuses the sequence as well; one that is missing or
// unreadable leaves the classes unnamed. Empty on success, otherwise why the
// file cannot serve, as a clause that follows "…: ".
QString ReadSequenceFile(const std::string& path, TSequenceFileRead& read);
