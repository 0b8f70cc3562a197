#pragma once
// Files that appear together or not at all. Each is written beside its
// target under a temporary name (".NAME.XXXXXX" in the target's folder) and
// flushed to the disk; only when every one of them has been written in full
// are they renamed over their targets, in the order given, and the folders
// flushed. A failure before the renames removes every temporary file and
// leaves every target as it was. (A rename within one folder does not fail
// on a working disk; should one fail all the same, the files renamed before
// it stay in place and the rest are removed.)

#include <functional>
#include <string>
#include <vector>

struct TStagedFile {
    std::string target;
    // Writes the whole file to `path` (it exists, empty, and may be opened
    // for writing by name); false when it could not.
    std::function<bool(const std::string& path)> write;
};

// Empty on success, otherwise why not, in Russian, naming the file.
// A new file gets the usual permissions (0666 less the umask), a replaced
// one keeps its own.
std::string WriteFilesTogether(const std::vector<TStagedFile>& files);
