#include "project/ProjectFileScan.h"

#include "project/AtomicFile.h"
#include "project/FileReasons.h"
#include "project/ProjectFile.h"
#include "project/ProjectFileFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace project_file {

namespace {

// Everything a document may hold: far more than a project's members and
// class names, far less than would strain memory.
constexpr std::size_t MaxJsonEvents = 1u << 16;
constexpr int MaxJsonDepth = 8;
// Strings at least this long stay in the file, whatever they hold: the
// document in memory holds "" in their place (see TScanner), and a string
// is read from the file only when a member needs its text.
constexpr std::size_t BlobThreshold = 64;
// The most bytes of the document without its long strings, each run of
// white space cut to one blank: its punctuation, numbers, literals and
// short strings. MaxJsonEvents short strings with their quotes and commas
// fit in it with room to spare; a longer one is no project's.
constexpr std::size_t MaxSkeletonBytes = std::size_t{8} << 20;
// The file is read in pieces of this size.
constexpr std::size_t ReadPiece = std::size_t{1} << 20;

// The characters of a JSON string between its quotes, taken a byte at a
// time as JSON has them: the escapes, with a surrogate pair written as two
// \u escapes, and otherwise UTF-8 that is well formed (RFC 3629: no
// overlong forms, no surrogates, nothing beyond U+10FFFF), no control
// character. Each byte of the text they stand for goes to `emit`, never
// before the bytes it comes from are taken, so that a string can be decoded
// in place.
class TStringDecoder {
public:
    // False when `c` cannot come next. (A quote between characters ends the
    // string: the caller's to see before it calls.)
    template <class Emit>
    bool Put(unsigned char c, Emit&& emit)
    {
        switch (state_) {
        case TState::Between:
            if (c == '\\') {
                state_ = TState::Escape;
                return true;
            }
            if (c < 0x20 || c == '"' || (c >= 0x80 && !Lead(c)))
                return false;
            emit(c);
            return true;
        case TState::Tail:
            if (c < low_ || c > high_)
                return false;
            low_ = 0x80;
            high_ = 0xBF;
            if (--tail_ == 0)
                state_ = TState::Between;
            emit(c);
            return true;
        case TState::Escape:
            state_ = TState::Between;
            switch (c) {
            case '"':
            case '\\':
            case '/':
                emit(c);
                return true;
            case 'b':
                emit('\b');
                return true;
            case 'f':
                emit('\f');
                return true;
            case 'n':
                emit('\n');
                return true;
            case 'r':
                emit('\r');
                return true;
            case 't':
                emit('\t');
                return true;
            case 'u':
                state_ = TState::Hex;
                digits_ = 0;
                unit_ = 0;
                return true;
            default:
                return false;
            }
        case TState::Hex: {
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return false;
            unit_ = unit_ << 4 | static_cast<std::uint32_t>(d);
            return ++digits_ < 4 || Unit(emit);
        }
        case TState::PairBackslash:
            state_ = TState::PairU;
            return c == '\\';
        case TState::PairU:
            state_ = TState::Hex;
            digits_ = 0;
            unit_ = 0;
            return c == 'u';
        }
        return false;
    }

    // Between two characters: a quote here ends the string.
    bool Between() const { return state_ == TState::Between; }

private:
    enum class TState { Between, Tail, Escape, Hex, PairBackslash, PairU };

    // The first byte of a character of more than one byte.
    bool Lead(unsigned char c)
    {
        const TUtf8Lead lead = Utf8Lead(c);
        tail_ = lead.tails;
        low_ = lead.low;
        high_ = lead.high;
        state_ = TState::Tail;
        return tail_ > 0;
    }

    // The four hex digits of a \u escape are in.
    template <class Emit>
    bool Unit(Emit& emit)
    {
        std::uint32_t code = unit_;
        if (highSurrogate_ != 0) {
            if (code < 0xDC00 || code > 0xDFFF)
                return false;
            code = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (code - 0xDC00);
            highSurrogate_ = 0;
        } else if (code >= 0xD800 && code <= 0xDBFF) {
            highSurrogate_ = code;
            state_ = TState::PairBackslash;
            return true;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        state_ = TState::Between;
        const auto byte = [&emit](std::uint32_t b) { emit(static_cast<unsigned char>(b)); };
        if (code < 0x80) {
            byte(code);
        } else if (code < 0x800) {
            byte(0xC0 | code >> 6);
            byte(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            byte(0xE0 | code >> 12);
            byte(0x80 | (code >> 6 & 0x3F));
            byte(0x80 | (code & 0x3F));
        } else {
            byte(0xF0 | code >> 18);
            byte(0x80 | (code >> 12 & 0x3F));
            byte(0x80 | (code >> 6 & 0x3F));
            byte(0x80 | (code & 0x3F));
        }
        return true;
    }

    TState state_ = TState::Between;
    int tail_ = 0;             // bytes of the character still to come
    unsigned char low_ = 0x80; // the range of the next of them
    unsigned char high_ = 0xBF;
    int digits_ = 0; // of a \u escape, and their value so far
    std::uint32_t unit_ = 0;
    std::uint32_t highSurrogate_ = 0; // the first of a pair, waiting for the second
};

// One pass over the file, piece by piece, that gathers what the reader
// needs before it builds anything: the document without its long strings
// and with each run of white space cut to one blank (the skeleton, which the
// JSON parser reads), where those strings lie, whether each is a correct
// base64 encoding and whether it has escapes, and the checksum of the bytes
// before each "checksum" key. Outside strings JSON has no quote, inside one
// a quote ends it unless escaped: so the strings found here are the ones the
// parser finds. Each string is checked here as the parser would check it,
// the long ones too, which it never sees. The skeleton is bounded
// (MaxSkeletonBytes) and so is the number of strings (MaxJsonEvents): what
// the scan keeps does not grow with the file.
class TScanner {
public:
    explicit TScanner(const TSourceFile& file) : file_(file) {}

    void Scan()
    {
        std::vector<char> piece(ReadPiece);
        std::uint64_t at = 0;
        for (;;) {
            // One byte more than announced is asked for, to notice a file that grew.
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(piece.size(), file_.Size() - at + 1));
            const std::size_t got = file_.ReadNext(piece.data(), want);
            if (got == 0)
                break;
            if (at + got > file_.Size())
                TSourceFile::Changed();
            Feed(piece.data(), got, at);
            if (fault_)
                return;
            at += got;
        }
        if (at != file_.Size())
            TSourceFile::Changed();
        if (inString_)
            skeleton_ += pending_; // an unterminated string: the parser reports it
    }

    // What the scan gathered, moved out of the scanner.
    TScan Take()
    {
        TScan scan;
        scan.skeleton = std::move(skeleton_);
        scan.blobs = std::move(blobs_);
        scan.fault = std::move(fault_);
        scan.empty = !content_;
        scan.lastKey = lastKey_;
        return scan;
    }

private:
    using TKey = TScan::TKey;

    void Feed(const char* data, std::size_t n, std::uint64_t base)
    {
        std::size_t crcFrom = 0;
        std::size_t i = 0;
        while (i < n && !fault_) {
            if (!inString_) {
                const auto* q = static_cast<const char*>(std::memchr(data + i, '"', n - i));
                const std::size_t end = q ? static_cast<std::size_t>(q - data) : n;
                Outside(data + i, end - i);
                i = end;
                if (!q || fault_)
                    break;
                crc_ = CrcUpdate(crc_, data + crcFrom, i - crcFrom);
                crcFrom = i;
                content_ = true;
                Open(base + i + 1);
                ++i;
                continue;
            }
            i = InString(data, n, i, base);
        }
        crc_ = CrcUpdate(crc_, data + crcFrom, n - crcFrom);
    }

    // Text between strings, to the skeleton.
    void Outside(const char* p, std::size_t n)
    {
        const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
        for (std::size_t k = 0; k < n;) {
            std::size_t end = k;
            while (end < n && !blank(p[end]))
                ++end;
            if (end > k) {
                skeleton_.append(p + k, end - k);
                content_ = true;
                CheckSkeletonSize();
                if (fault_)
                    return;
            }
            if (end < n && (skeleton_.empty() || skeleton_.back() != ' '))
                skeleton_ += ' ';
            for (k = end; k < n && blank(p[k]);)
                ++k;
        }
    }

    void CheckSkeletonSize()
    {
        if (skeleton_.size() > MaxSkeletonBytes)
            fault_ = "повреждён: в нём слишком много значений или слишком длинные числа.";
    }

    void Open(std::uint64_t contentOffset)
    {
        if (strings_ >= MaxJsonEvents) {
            fault_ = "повреждён: в нём слишком много значений.";
            return;
        }
        inString_ = true;
        decoder_ = {};
        escaped_ = false;
        plain_ = true;
        buffering_ = true;
        pending_.clear();
        start_ = contentOffset;
        length_ = 0;
        pads_ = 0;
        afterPad_ = false;
        last_ = 0;
        quote_ = {skeleton_.size(), crc_};
        skeleton_ += '"';
    }

    // Counts a base64 character or padding of a string that has held
    // nothing else; false for any other character.
    bool TakeBase64(unsigned char c)
    {
        const int value = kBase64Values.v[c];
        if (value >= 0) {
            afterPad_ = afterPad_ || pads_ > 0;
            last_ = value;
        } else if (c == '=') {
            ++pads_;
        }
        return value >= 0 || c == '=';
    }

    // Takes string characters from data[i]; returns where it stopped: at
    // the end of the piece, or after the closing quote.
    std::size_t InString(const char* data, std::size_t n, std::size_t i, std::uint64_t base)
    {
        while (i < n) {
            // A long string, not kept: runs of the characters that change
            // nothing but the count are only counted (and, while they are
            // all base64, checked as such).
            if (!buffering_ && plain_) {
                for (; i < n && TakeBase64(static_cast<unsigned char>(data[i])); ++i, ++length_) {
                }
            } else if (!buffering_ && decoder_.Between()) {
                const std::size_t run = PlainRun(data + i, n - i);
                i += run;
                length_ += run;
            }
            if (i == n)
                break;
            const auto c = static_cast<unsigned char>(data[i]);
            if (c == '"' && decoder_.Between()) {
                Close();
                return i + 1;
            }
            if (!decoder_.Put(c, [](unsigned char) {})) {
                // As the parser says of a string it cannot read, by the
                // byte's place in the file.
                fault_ = "не является файлом проекта Trelis или повреждён: ошибка разбора JSON в байте " +
                         std::to_string(base + i + 1) + ".";
                return n;
            }
            if (plain_ && !TakeBase64(c))
                plain_ = false;
            escaped_ = escaped_ || c == '\\';
            if (buffering_)
                pending_ += static_cast<char>(c);
            ++i;
            if (++length_ == BlobThreshold) {
                // Long enough to stay in the file.
                buffering_ = false;
                pending_.clear();
            }
        }
        return n;
    }

    void Close()
    {
        inString_ = false;
        if (length_ >= BlobThreshold) {
            TBlob blob;
            blob.stringIndex = strings_;
            blob.offset = start_;
            blob.length = length_;
            blob.escaped = escaped_;
            blob.canonical = plain_ && length_ % 4 == 0 && !afterPad_ &&
                             (pads_ == 0 || (pads_ == 1 && (last_ & 3) == 0) || (pads_ == 2 && (last_ & 15) == 0));
            blob.bytes = length_ / 4 * 3 - std::min<std::uint64_t>(pads_, 2);
            blobs_.push_back(blob);
        } else {
            skeleton_ += pending_;
            if (pending_ == member::checksum)
                lastKey_ = quote_;
        }
        skeleton_ += '"';
        ++strings_;
        CheckSkeletonSize();
    }

    const TSourceFile& file_;
    std::string skeleton_;
    std::vector<TBlob> blobs_;
    std::uint32_t crc_ = CrcStart;
    bool content_ = false; // a byte other than white space was seen
    std::size_t strings_ = 0;
    std::optional<TKey> lastKey_;
    std::optional<std::string> fault_;

    // The string being read.
    bool inString_ = false;
    TStringDecoder decoder_;
    bool escaped_ = false;  // an escape was seen
    bool plain_ = true;     // base64 characters only
    bool buffering_ = true; // shorter than BlobThreshold so far: its characters are kept in pending_
    std::string pending_;
    std::uint64_t start_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t pads_ = 0;
    bool afterPad_ = false; // a character after a '='
    int last_ = 0;          // the value of the last character before the padding
    TKey quote_{};
};

} // namespace

// ---------------------------------------------------------------------------
// The file

TSourceFile::TSourceFile(const std::string& path)
{
    // Opened as every file the user names is: only a regular file, with the same reasons.
    TRegularFile regular = OpenRegularFile(path);
    if (!regular.file)
        throw TRefusal{"не открывается: " + FileOpenReason(regular.error) + "."};
    if (::fstat(::fileno(regular.file.get()), &opened_) != 0)
        throw TRefusal{"не открывается: " + SystemReason(errno) + "."};
    CheckSize(opened_);
    // Read through the descriptor alone (read and pread), never through the stream's buffer.
    file_ = std::move(regular.file);
    fd_ = ::fileno(file_.get());
}

std::size_t TSourceFile::ReadNext(char* out, std::size_t n) const
{
    for (;;) {
        const ssize_t got = ::read(fd_, out, n);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throw TRefusal{"не удаётся прочитать: " + SystemReason(errno) + "."};
    }
}

void TSourceFile::ReadAt(std::uint64_t offset, char* out, std::size_t n) const
{
    while (n > 0) {
        const ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw TRefusal{"не удаётся прочитать: " + SystemReason(errno) + "."};
        if (got == 0)
            Changed();
        out += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
}

void TSourceFile::CheckUnchanged() const
{
    struct stat now {};
    if (::fstat(fd_, &now) != 0 || now.st_size != opened_.st_size || now.st_mtim.tv_sec != opened_.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec || now.st_ctim.tv_sec != opened_.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != opened_.st_ctim.tv_nsec)
        Changed();
}

void TSourceFile::CheckSize(const struct stat& st)
{
    if (static_cast<std::uint64_t>(st.st_size) > MaxProjectFileBytes)
        throw TRefusal{"слишком велик для файла проекта: " + std::to_string(st.st_size) +
                       " байт, допустимо не больше " + std::to_string(MaxProjectFileBytes) + "."};
}

// ---------------------------------------------------------------------------
// The scan

TScan ScanProjectFile(const TSourceFile& file)
{
    TScanner scanner(file);
    scanner.Scan();
    return scanner.Take();
}

// ---------------------------------------------------------------------------
// The document

void TDocument::Parse(const std::string& skeleton)
{
    std::size_t events = 0;
    std::size_t strings = 0;
    std::size_t nextBlob = 0;
    auto callback = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (++events > MaxJsonEvents)
            Damaged("в нём слишком много значений.");
        if (depth > MaxJsonDepth)
            Damaged("слишком глубокая вложенность.");
        if (event == Json::parse_event_t::key || (event == Json::parse_event_t::value && parsed.is_string())) {
            if (nextBlob < blobs_.size() && blobs_[nextBlob].stringIndex == strings) {
                if (event == Json::parse_event_t::value)
                    parsed = Json::binary({}, static_cast<std::uint64_t>(nextBlob));
                ++nextBlob;
            }
            ++strings;
        }
        return true;
    };
    root_ = Json::parse(skeleton, callback);
    if (nextBlob != blobs_.size())
        Damaged("строки документа не удаётся сопоставить.");
}

std::optional<std::string> TDocument::TextOf(const Json& v) const
{
    if (v.is_string())
        return v.get_ref<const std::string&>();
    if (const TBlob* blob = BlobOf(v)) {
        std::string text(static_cast<std::size_t>(blob->length), '\0');
        file_.ReadAt(blob->offset, text.data(), text.size());
        if (blob->escaped) {
            // The scan found the escapes right; if they no longer are,
            // the file was written to since.
            TStringDecoder decoder;
            char* const p = text.data();
            const std::size_t n = text.size();
            std::size_t written = 0;
            for (std::size_t k = 0; k < n;) {
                if (decoder.Between()) {
                    const std::size_t run = PlainRun(p + k, n - k);
                    std::memmove(p + written, p + k, run);
                    written += run;
                    k += run;
                    if (k == n)
                        break;
                }
                if (!decoder.Put(static_cast<unsigned char>(p[k++]),
                                 [&](unsigned char b) { p[written++] = static_cast<char>(b); }))
                    TSourceFile::Changed();
            }
            if (!decoder.Between())
                TSourceFile::Changed();
            text.resize(written);
            if (written < text.capacity() / 2)
                text.shrink_to_fit();
        }
        return text;
    }
    return std::nullopt;
}

} // namespace project_file
