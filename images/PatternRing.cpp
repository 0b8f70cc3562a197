#include "images/PatternRing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "images/RegularFile.h"

namespace {

constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;

// The bytes of a sequence file with the line-end translation undone: every
// pair CR LF becomes LF, every other byte (a lone CR included) is kept. Reads
// the file in chunks and never past `limit` bytes.
class LineEndReader {
public:
    LineEndReader(std::FILE* f, std::uint64_t limit) : file_(f), limit_(limit), buf_(Capacity) {}

    // The next n bytes; false when the file ends before them or cannot be
    // read (Failed tells which).
    bool Get(std::uint8_t* out, std::size_t n) {
        while (n > 0) {
            if (pos_ == end_ && !Refill())
                return false;
            if (buf_[pos_] == CR) {
                ++pos_;
                const bool pair = (pos_ < end_ || Refill()) && buf_[pos_] == LF;
                pos_ += pair ? 1 : 0;
                *out++ = pair ? LF : CR;
                --n;
                continue;
            }
            const std::size_t span = std::min(n, end_ - pos_);
            const void* cr = std::memchr(buf_.data() + pos_, CR, span);
            const std::size_t run = cr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(cr) - (buf_.data() + pos_)) : span;
            std::memcpy(out, buf_.data() + pos_, run);
            pos_ += run;
            out += run;
            n -= run;
        }
        return true;
    }
    bool Failed() const { return failed_; }
    // File bytes not yet taken, up to the limit.
    std::uint64_t Left() const { return limit_ - done_ + (end_ - pos_); }

private:
    static constexpr std::size_t Capacity = 1 << 16;

    bool Refill() {
        pos_ = 0;
        end_ = ReadAtMost(file_, buf_.data(), buf_.size(), limit_, done_);
        if (end_ == 0)
            failed_ = std::ferror(file_) != 0;
        return end_ > 0;
    }

    std::FILE* file_;
    std::uint64_t limit_;
    std::uint64_t done_ = 0;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;
};

// Memory one loaded element of d cells takes: the element, its buffer with
// the bias byte, and the heap's bookkeeping for both. A file of elements of
// no cells needs some twenty times its size.
std::uint64_t ElementFootprint(std::uint32_t d) {
    constexpr std::uint64_t heapOverhead = 16;
    return sizeof(TAbsImage) + d + 1 + 2 * heapOverhead;
}

// The most memory the program may hope to get: the machine's memory, or the
// process's address-space or data limit when one is lower.
std::uint64_t MemoryCeiling() {
    std::uint64_t ceiling = UINT64_MAX;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        ceiling = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            ceiling = std::min<std::uint64_t>(ceiling, limit.rlim_cur);
    }
    return ceiling;
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
    std::swap(count_, other.count_);
    std::swap(dimension_, other.dimension_);
    std::swap(current_, other.current_);
}

void PatternRing::Insert(std::unique_ptr<TAbsImage> element) {
    TAbsImage* e = element.release();
    if (count_ == 0) {
        e->Next = e;
    } else {
        e->Next = current_->Next;
        current_->Next = e;
    }
    current_ = e;
    ++count_;
}

void PatternRing::Add(const TAbsImage& image, std::int32_t classIndex) {
    auto e = std::make_unique<TAbsImage>();
    e->AssignWithBias(image);
    e->ClassIndex = classIndex;
    Insert(std::move(e));
}

const TAbsImage* PatternRing::StepCursor() {
    if (current_ != nullptr)
        current_ = current_->Next;
    return current_;
}

void PatternRing::MoveCursorTo(const TAbsImage& element) {
    // The ring owns its elements: the one given is one of them.
    current_ = const_cast<TAbsImage*>(&element);
}

void PatternRing::RemoveCurrent() {
    if (count_ == 0 || current_ == nullptr)
        return;
    TAbsImage* old = current_;
    if (count_ == 1) {
        current_ = nullptr;
    } else {
        TAbsImage* prev = old;
        while (prev->Next != old)
            prev = prev->Next;
        prev->Next = old->Next;
        current_ = prev;
    }
    --count_;
    delete old;
}

void PatternRing::Clear() {
    if (count_ == 0 || current_ == nullptr) {
        count_ = 0;
        current_ = nullptr;
        return;
    }
    TAbsImage* e = current_->Next;
    for (;;) {
        TAbsImage* next = e->Next;
        const bool last = e == current_;
        delete e;
        --count_;
        if (last)
            break;
        e = next;
    }
    count_ = 0;
    current_ = nullptr;
}

bool PatternRing::LoadFromFile(const std::string& fileName, TSequenceFileError* error,
                               TFileOpenError* openError) {
    TSequenceFileError why = TSequenceFileError::None;
    TFileOpenError openWhy = TFileOpenError::None;
    const bool loaded = Load(fileName, why, openWhy);
    if (error)
        *error = why;
    if (openError)
        *openError = openWhy;
    return loaded;
}

bool PatternRing::Load(const std::string& fileName, TSequenceFileError& error,
                       TFileOpenError& openError) {
    // Read-only access is enough: a sequence on read-only media or an
    // installed example must load too.
    TRegularFile f = OpenRegularFile(fileName);
    openError = f.error;
    if (!f.file) {
        error = TSequenceFileError::CannotOpen;
        return false;
    }
    LineEndReader in(f.file.get(), f.size);
    std::uint8_t header[8];
    if (!in.Get(header, sizeof header)) {
        error = in.Failed() ? TSequenceFileError::ReadFailed : TSequenceFileError::NoHeader;
        return false;
    }
    const std::uint32_t d = GetU32(header);
    const std::uint32_t n = GetU32(header + 4);
    if (d > MaxDimension) {
        error = TSequenceFileError::TooLarge;
        return false;
    }
    // Joining line ends only shortens the file: the records must fit in the
    // bytes it has, and in memory, before anything is allocated.
    const std::uint64_t record = 4ull + d;
    if (record * n > in.Left()) {
        error = TSequenceFileError::Truncated;
        return false;
    }
    if (ElementFootprint(d) * n > MemoryCeiling()) {
        error = TSequenceFileError::OutOfMemory;
        return false;
    }
    try {
        PatternRing loaded;
        loaded.dimension_ = d;
        for (std::uint32_t k = 0; k < n; ++k) {
            auto e = std::make_unique<TAbsImage>();
            std::uint8_t classIndex[4];
            e->Size = d;
            e->Cells.resize(static_cast<std::size_t>(d) + 1);
            if (!in.Get(classIndex, 4) || !in.Get(reinterpret_cast<std::uint8_t*>(e->Cells.data()), d)) {
                error = in.Failed() ? TSequenceFileError::ReadFailed : TSequenceFileError::Truncated;
                return false;
            }
            e->ClassIndex = static_cast<std::int32_t>(GetU32(classIndex));
            e->Cells[d] = 1;
            loaded.Insert(std::move(e));
        }
        Swap(loaded);
        error = TSequenceFileError::None;
        return true;
    } catch (const std::bad_alloc&) {
        error = TSequenceFileError::OutOfMemory;
        return false;
    }
}

bool PatternRing::Write(std::FILE* file) const {
    LineEndWriter out(file);
    out.PutU32(dimension_);
    out.PutU32(count_);
    for (const TAbsImage& e : FileOrder()) {
        out.PutU32(static_cast<std::uint32_t>(e.ClassIndex));
        const std::size_t have = std::min<std::size_t>(dimension_, e.Cells.size());
        out.Put(reinterpret_cast<const std::uint8_t*>(e.Cells.data()), have);
        out.PutZeros(dimension_ - have);
    }
    return out.Flush();
}

bool PatternRing::SaveToFile(const std::string& fileName) {
    TFilePtr f(std::fopen(fileName.c_str(), "wb"));
    if (!f)
        return false;
    bool ok = Write(f.get());
    if (std::fclose(f.release()) != 0)
        ok = false;
    return ok;
}
