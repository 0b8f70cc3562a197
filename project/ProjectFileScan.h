#pragma once
// The project file as the reader first meets it (ProjectFileReader.cpp):
// the file opened and read once through, piece by piece, into the document
// without its long strings, and that document parsed, the long strings left
// in the file until a member needs them. Internal to the project file.

#include "images/RegularFile.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace project_file {

using Json = nlohmann::json;

// A reason to refuse a file, thrown inside the reader.
struct TRefusal {
    std::string reason;
};

// A damaged file: the text says what is wrong.
[[noreturn]] inline void Damaged(const std::string& what)
{
    throw TRefusal{"повреждён: " + what};
}

// The project file, open for reading: a regular file no larger than the
// limit, never one that would block (a FIFO).
class TSourceFile {
public:
    explicit TSourceFile(const std::string& path);
    TSourceFile(const TSourceFile&) = delete;
    TSourceFile& operator=(const TSourceFile&) = delete;

    std::uint64_t Size() const { return static_cast<std::uint64_t>(opened_.st_size); }

    // Reads the next bytes from where the last call ended; 0 at the end.
    std::size_t ReadNext(char* out, std::size_t n) const;

    // Exactly n bytes from `offset`.
    void ReadAt(std::uint64_t offset, char* out, std::size_t n) const;

    // The file is read more than once (the long blocks when they are
    // decoded); a file written to meanwhile is refused.
    void CheckUnchanged() const;

    [[noreturn]] static void Changed() { throw TRefusal{"изменился во время чтения."}; }

private:
    static void CheckSize(const struct stat& st);

    TFilePtr file_;
    int fd_ = -1;
    struct stat opened_ {};
};

// A long string left in the file.
struct TBlob {
    std::size_t stringIndex = 0; // among all strings of the document, keys included
    std::uint64_t offset = 0;    // of its first character inside the quotes
    std::uint64_t length = 0;
    bool escaped = false;        // it has escapes: its text is not its bytes as they are
    bool canonical = false;      // base64 characters only, the canonical encoding of `bytes` bytes
    std::uint64_t bytes = 0;
};

// What the one pass over the file gathered (ScanProjectFile).
struct TScan {
    // The document without its long strings, each run of white space cut to
    // one blank: what the JSON parser reads.
    std::string skeleton;
    // The long strings, in document order.
    std::vector<TBlob> blobs;
    // Why the file is refused, when the scan stopped at something no
    // project holds; what it had gathered up to there is kept.
    std::optional<std::string> fault;
    bool empty = true; // no byte other than white space

    // The checksum of the bytes before the last "checksum" key, when its
    // opening quote is at `skeletonOffset` of the skeleton.
    std::optional<std::uint32_t> ChecksumBefore(std::size_t skeletonOffset) const
    {
        if (!lastKey || lastKey->skeletonOffset != skeletonOffset)
            return std::nullopt;
        return ~lastKey->crc;
    }

    // The last "checksum" key: where its opening quote lies in the skeleton,
    // and the CRC register before it.
    struct TKey {
        std::size_t skeletonOffset;
        std::uint32_t crc;
    };
    std::optional<TKey> lastKey;
};

// One pass over the file, piece by piece, that gathers what the reader
// needs before it builds anything: the skeleton, where the long strings
// lie, whether each is a correct base64 encoding and whether it has
// escapes, and the checksum of the bytes before each "checksum" key. Each
// string is checked here as the parser would check it, the long ones too,
// which it never sees. What the scan keeps does not grow with the file.
TScan ScanProjectFile(const TSourceFile& file);

// The parsed document. Counting strings in document order, the parse
// callback turns each string left in the file into a binary value whose
// subtype is its index among them: a value no JSON text can produce, so a
// blob is never confused with a real string. A key left in the file stays
// the empty key, which no member has.
class TDocument {
public:
    TDocument(const TSourceFile& file, std::vector<TBlob> blobs) : file_(file), blobs_(std::move(blobs)) {}

    void Parse(const std::string& skeleton);

    Json& Root() { return root_; }
    const TSourceFile& File() const { return file_; }

    // The blob a value stands for; none for any other value.
    const TBlob* BlobOf(const Json& v) const
    {
        if (v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() < blobs_.size())
            return &blobs_[static_cast<std::size_t>(v.get_binary().subtype())];
        return nullptr;
    }

    // The text of a string value, or of a blob read from the file; none for
    // any other value.
    std::optional<std::string> TextOf(const Json& v) const;

private:
    const TSourceFile& file_;
    std::vector<TBlob> blobs_;
    Json root_;
};

} // namespace project_file
