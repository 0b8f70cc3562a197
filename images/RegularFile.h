#pragma once
// Opening a file the user named for reading. Only a regular file is opened:
// a folder, a device (/dev/zero), a pipe or a socket is refused before it is
// opened for reading, so that a reader never waits for a writer that does not
// come, nor reads an endless stream. The size the file has when it is opened
// is the most any reader takes from it, so a file that grows meanwhile is
// read only as far as it then reached.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Why a file could not be opened for reading.
enum class TFileOpenError {
    None,       // opened
    NotFound,   // no such file (or a folder on its path is missing)
    NotAFile,   // a folder, device, pipe or socket: not a regular file
    NoAccess,   // no permission to read it
    Failed,     // any other error of the system
};

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

struct TRegularFile {
    TFilePtr file;                 // open for reading in binary; null on error
    std::uint64_t size = 0;        // bytes when it was opened
    TFileOpenError error = TFileOpenError::None;
};

TRegularFile OpenRegularFile(const std::string& fileName);

// Reads up to n bytes into buffer, fewer only at the end of the file or on
// an error (std::ferror tells which). Never reads past `limit` bytes from the
// start of the file; `done` counts the bytes read so far and is advanced.
std::size_t ReadAtMost(std::FILE* file, void* buffer, std::size_t n, std::uint64_t limit, std::uint64_t& done);
