#pragma once
// Writing a whole file so that it is either all there or not at all: the
// project file, and the pictures and tables the windows save.

#include <string>

// The reason a system call failed, as the user reads it (no final period).
std::string SystemReason(int error);

// Writes `bytes` to `path` (a path for the C library): beside the target
// under a temporary name, flushed (fsync), then renamed over it, and the
// folder flushed. A replaced file keeps its permissions; a new one gets the
// usual ones. A failed or interrupted write never leaves a half file in
// place of the old one, and the temporary file is removed on failure. Empty
// on success, otherwise why not in Russian, a clause ending with a period
// ("нет прав на запись.").
std::string SaveFileAtomically(const std::string& path, const std::string& bytes);
