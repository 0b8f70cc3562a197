#pragma once
// Why a file the user named could not be read, in the words the user reads
// (a clause that follows "…: ").

#include "images/PatternRing.h"
#include "images/RegularFile.h"

#include <string>

// Why the file could not be opened for reading.
std::string FileOpenReason(TFileOpenError error);

// Why a sequence file did not load; openError tells more where the file
// could not be opened.
std::string SequenceLoadReason(TSequenceFileError error, TFileOpenError openError = TFileOpenError::None);
