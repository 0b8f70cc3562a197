#include "images/PatternRing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The whole file; false when it cannot be read to its end.
bool ReadAll(std::FILE* f, std::vector<std::uint8_t>& out) {
    out.clear();
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long len = std::ftell(f);
        if (len > 0)
            out.reserve(static_cast<std::size_t>(len));
        std::rewind(f);
    }
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
        out.insert(out.end(), chunk, chunk + got);
        if (got < sizeof chunk)
            return std::ferror(f) == 0;
    }
}

// Undoes the line-end translation in place: every pair CR LF becomes LF,
// every other byte (a lone CR included) is kept.
void DecodeLineEnds(std::vector<std::uint8_t>& b) {
    const std::size_t n = b.size();
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] == CR && i + 1 < n && b[i + 1] == LF)
            continue; // the LF that follows is kept on its own
        b[out++] = b[i];
    }
    b.resize(out);
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Buffered writer that stores every LF as CR LF.
class LineEndWriter {
public:
    explicit LineEndWriter(std::FILE* f) : file_(f) { buf_.reserve(Capacity); }

    void Put(const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const std::uint8_t* lf = static_cast<const std::uint8_t*>(std::memchr(p, LF, n));
            const std::size_t plain = lf ? static_cast<std::size_t>(lf - p) : n;
            Append(p, plain);
            if (!lf)
                return;
            static constexpr std::uint8_t crlf[2] = {CR, LF};
            Append(crlf, 2);
            p += plain + 1;
            n -= plain + 1;
        }
    }
    void PutU32(std::uint32_t v) {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 24)};
        Put(b, 4);
    }
    void PutZeros(std::size_t n) {
        static constexpr std::uint8_t zeros[256] = {};
        while (n > 0) {
            const std::size_t k = std::min(n, sizeof zeros);
            Append(zeros, k);
            n -= k;
        }
    }
    bool Flush() {
        if (!buf_.empty() && ok_)
            ok_ = std::fwrite(buf_.data(), 1, buf_.size(), file_) == buf_.size();
        buf_.clear();
        return ok_;
    }

private:
    static constexpr std::size_t Capacity = 1 << 16;

    void Append(const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            if (buf_.size() == Capacity)
                Flush();
            const std::size_t k = std::min(n, Capacity - buf_.size());
            buf_.insert(buf_.end(), p, p + k);
            p += k;
            n -= k;
        }
    }

    std::FILE* file_;
    std::vector<std::uint8_t> buf_;
    bool ok_ = true;
};

} // namespace

PatternRing::~PatternRing() { Clear(); }

void PatternRing::Swap(PatternRing& other) noexcept {
    std::swap(Count, other.Count);
    std::swap(Dimension, other.Dimension);
    std::swap(Current, other.Current);
}

// Links a new element in right after the cursor and puts the cursor on it.
static void LinkAfterCursor(PatternRing& ring, TAbsImage* e) {
    if (ring.Count == 0) {
        e->Next = e;
    } else {
        e->Next = ring.Current->Next;
        ring.Current->Next = e;
    }
    ring.Current = e;
    ++ring.Count;
}

void PatternRing::Add(const TAbsImage& image, std::int32_t classIndex) {
    auto e = std::make_unique<TAbsImage>();
    e->AssignWithBias(image);
    e->ClassIndex = classIndex;
    LinkAfterCursor(*this, e.release());
}

void PatternRing::RemoveCurrent() {
    if (Count == 0 || Current == nullptr)
        return;
    TAbsImage* old = Current;
    if (Count == 1) {
        Current = nullptr;
    } else {
        TAbsImage* prev = old;
        while (prev->Next != old)
            prev = prev->Next;
        prev->Next = old->Next;
        Current = prev;
    }
    --Count;
    delete old;
}

void PatternRing::Clear() {
    if (Count == 0 || Current == nullptr) {
        Count = 0;
        Current = nullptr;
        return;
    }
    TAbsImage* e = Current->Next;
    for (;;) {
        TAbsImage* next = e->Next;
        const bool last = e == Current;
        delete e;
        --Count;
        if (last)
            break;
        e = next;
    }
    Count = 0;
    Current = nullptr;
}

bool PatternRing::LoadFromFile(const std::string& fileName, TSequenceFileError* error) {
    TSequenceFileError why = TSequenceFileError::None;
    const bool loaded = Load(fileName, why);
    if (error)
        *error = why;
    return loaded;
}

bool PatternRing::Load(const std::string& fileName, TSequenceFileError& error) {
    // Read-only access is enough: a sequence on read-only media or an
    // installed example must load too. A folder is no sequence file.
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(fileName, ec);
    FilePtr f(folder ? nullptr : std::fopen(fileName.c_str(), "rb"));
    if (!f) {
        error = TSequenceFileError::CannotOpen;
        return false;
    }
    try {
        std::vector<std::uint8_t> bytes;
        if (!ReadAll(f.get(), bytes)) {
            error = TSequenceFileError::ReadFailed;
            return false;
        }
        f.reset();
        DecodeLineEnds(bytes);

        if (bytes.size() < 8) {
            error = TSequenceFileError::NoHeader;
            return false;
        }
        const std::uint32_t d = GetU32(bytes.data());
        const std::uint32_t n = GetU32(bytes.data() + 4);
        if (d > MaxDimension) {
            error = TSequenceFileError::TooLarge;
            return false;
        }
        // The records must all be in the file before anything is allocated.
        const std::uint64_t record = 4ull + d;
        const std::uint64_t room = bytes.size() - 8;
        if (n > 0 && record > room / n) {
            error = TSequenceFileError::Truncated;
            return false;
        }

        PatternRing loaded;
        loaded.Dimension = d;
        const std::uint8_t* p = bytes.data() + 8;
        for (std::uint32_t k = 0; k < n; ++k) {
            auto e = std::make_unique<TAbsImage>();
            e->ClassIndex = static_cast<std::int32_t>(GetU32(p));
            e->Size = d;
            e->Cells.resize(static_cast<std::size_t>(d) + 1);
            if (d > 0)
                std::memcpy(e->Cells.data(), p + 4, d);
            e->Cells[d] = 1;
            LinkAfterCursor(loaded, e.release());
            p += record;
        }
        Swap(loaded);
        error = TSequenceFileError::None;
        return true;
    } catch (const std::bad_alloc&) {
        error = TSequenceFileError::OutOfMemory;
        return false;
    }
}

bool PatternRing::SaveToFile(const std::string& fileName) {
    FilePtr f(std::fopen(fileName.c_str(), "wb"));
    if (!f)
        return false;
    LineEndWriter out(f.get());
    out.PutU32(Dimension);
    out.PutU32(Count);
    if (Count > 0 && Current != nullptr) {
        const TAbsImage* e = Current;
        for (std::uint32_t k = 0; k < Count; ++k) {
            e = e->Next;
            out.PutU32(static_cast<std::uint32_t>(e->ClassIndex));
            const std::size_t have = std::min<std::size_t>(Dimension, e->Cells.size());
            out.Put(reinterpret_cast<const std::uint8_t*>(e->Cells.data()), have);
            out.PutZeros(Dimension - have);
        }
    }
    bool ok = out.Flush();
    if (std::fclose(f.release()) != 0)
        ok = false;
    return ok;
}
