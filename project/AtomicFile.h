#pragma once
// The one way the program and trelis-cli write files: each file, or each
// group of files that belong together, is either all there or not at all.
//
// A file is written beside its target, unnamed where the file system allows
// it (so that a process killed meanwhile leaves nothing behind), flushed to
// the disk, and only then put in place by a rename; the folder is flushed
// too. A replaced file keeps its permissions; a new one gets the usual ones
// (0666 less the umask). The hidden names a write may need for a moment are
// short, so any file name the system allows can be written, and those a
// killed process left behind are removed by the next write into the folder.
// A group of files is put in place under a journal, so that a process killed
// part way leaves the group for the next reader or writer to settle.
// A write onto a symbolic link writes the file the link leads to and keeps
// the link; a link that leads to no file is refused.

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The reason a system call failed, as the user reads it, in Russian words
// (no final period).
std::string SystemReason(int error);

// Why nothing can be written at `path`, before any work is done for it: its
// folder is missing, is not a folder or may not be written to, or a folder
// lies at the path itself. A clause naming the folder (no final period);
// empty when a write may go ahead.
std::string WriteRefusal(const std::string& path);

// Writes a file's whole contents to the stream; false when it could not.
using TFileWriter = std::function<bool(std::FILE* file)>;

// One file of a group: where it goes and what writes it.
struct TFileToWrite {
    std::string path; // a path for the C library
    TFileWriter write;
};

// One file. Empty on success, otherwise why not, a clause ending with a
// period ("нет прав на запись.").
std::string SaveFileAtomically(const std::string& path, const TFileWriter& write);
std::string SaveFileAtomically(const std::string& path, std::string_view bytes);

// Files that belong together, and files that go with them (`removals`):
// every one is written in full before any is put in place, and should
// putting one in place fail, those put before it get their old contents
// back. Killed part way, the group is settled by whoever next writes into
// its folders or calls SettleInterruptedWrites: all new once every file was
// written, all old before. Empty on success, otherwise a sentence that names
// the file that failed and says what became of the others.
std::string SaveFilesTogether(const std::vector<TFileToWrite>& files,
                              const std::vector<std::string>& removals = {});

// Before a file is read: settles the groups that a killed process left part
// way in the file's folder, so that the file and those written with it are
// all new or all old.
void SettleInterruptedWrites(const std::string& path);
