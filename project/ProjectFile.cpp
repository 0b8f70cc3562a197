#include "project/ProjectFile.h"

#include "project/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Blocks of numbers are stored as their little-endian bytes, copied as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the project file code assumes a little-endian machine");

namespace {

using Json = nlohmann::json;

// ---------------------------------------------------------------------------
// CRC-32 (the polynomial of zlib, Ethernet and PNG), eight bytes at a time.

struct TCrcTables {
    std::uint32_t t[8][256] = {};
    constexpr TCrcTables()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

constexpr TCrcTables kCrc;

// The CRC register after `data`, from the register `c` before it; the
// checksum of a whole text is ~CrcUpdate(CrcStart, text).
constexpr std::uint32_t CrcStart = 0xFFFFFFFFu;

std::uint32_t CrcUpdate(std::uint32_t c, const char* data, std::size_t n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto& t = kCrc.t;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

// ---------------------------------------------------------------------------
// Base64 (RFC 4648, with padding).

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct TBase64Values {
    std::int8_t v[256] = {};
    constexpr TBase64Values()
    {
        for (auto& x : v) x = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kBase64[i])] = static_cast<std::int8_t>(i);
    }
};

constexpr TBase64Values kBase64Values;

// Characters of the encoding of n bytes.
constexpr std::uint64_t Base64Length(std::uint64_t n)
{
    return (n + 2) / 3 * 4;
}

// The document on its way to the file: it is gathered in a buffer of a
// fixed size, each full buffer added to the checksum and written out, so
// that saving needs no more memory however large the project.
class TTextOut {
public:
    explicit TTextOut(std::FILE* file) : file_(file) { buffer_.reserve(Capacity); }

    void operator+=(char c)
    {
        if (buffer_.size() == Capacity)
            Flush();
        buffer_ += c;
    }
    void operator+=(std::string_view text) { append(text.data(), text.size()); }
    void append(const char* data, std::size_t n)
    {
        while (n > 0) {
            if (buffer_.size() == Capacity)
                Flush();
            const std::size_t take = std::min(n, Capacity - buffer_.size());
            buffer_.append(data, take);
            data += take;
            n -= take;
        }
    }
    void append(std::size_t n, char c)
    {
        for (; n > 0; --n) *this += c;
    }

    // The checksum of everything written so far.
    std::uint32_t Crc()
    {
        Flush();
        return ~crc_;
    }

    // Writes what is left; false when any write failed, with errno as that
    // write left it.
    bool Finish()
    {
        Flush();
        errno = error_;
        return ok_;
    }

private:
    static constexpr std::size_t Capacity = std::size_t{1} << 16;

    void Flush()
    {
        crc_ = CrcUpdate(crc_, buffer_.data(), buffer_.size());
        if (ok_ && !buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            ok_ = false;
            error_ = errno;
        }
        buffer_.clear();
    }

    std::FILE* file_;
    std::string buffer_;
    std::uint32_t crc_ = CrcStart;
    bool ok_ = true;
    int error_ = 0;
};

// Writes base64 text of bytes handed over in pieces.
class TBase64Writer {
public:
    explicit TBase64Writer(TTextOut& out) : out_(out) {}

    void Put(const void* data, std::size_t n)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        while (n > 0 && held_ > 0 && held_ < 3) {
            carry_[held_++] = *p++;
            --n;
            if (held_ == 3) {
                char s[4];
                Triple(carry_, s);
                out_.append(s, 4);
                held_ = 0;
            }
        }
        // Whole groups, encoded a line of them at a time.
        char line[4 * 256];
        while (n >= 3) {
            const std::size_t groups = std::min<std::size_t>(n / 3, 256);
            for (std::size_t g = 0; g < groups; ++g, p += 3) Triple(p, line + 4 * g);
            out_.append(line, 4 * groups);
            n -= 3 * groups;
        }
        while (n-- > 0) carry_[held_++] = *p++;
    }

    void Finish()
    {
        if (held_ == 1) {
            out_ += kBase64[carry_[0] >> 2];
            out_ += kBase64[(carry_[0] & 3) << 4];
            out_ += "==";
        } else if (held_ == 2) {
            out_ += kBase64[carry_[0] >> 2];
            out_ += kBase64[((carry_[0] & 3) << 4) | (carry_[1] >> 4)];
            out_ += kBase64[(carry_[1] & 15) << 2];
            out_ += '=';
        }
        held_ = 0;
    }

private:
    static void Triple(const unsigned char* p, char* s)
    {
        s[0] = kBase64[p[0] >> 2];
        s[1] = kBase64[((p[0] & 3) << 4) | (p[1] >> 4)];
        s[2] = kBase64[((p[1] & 15) << 2) | (p[2] >> 6)];
        s[3] = kBase64[p[2] & 63];
    }

    TTextOut& out_;
    unsigned char carry_[3] = {};
    int held_ = 0;
};

// Decodes text that must be the canonical encoding of exactly n bytes into
// out[0..n); false when it is not.
bool DecodeBase64(std::string_view text, void* out, std::size_t n)
{
    if (text.size() != Base64Length(n))
        return false;
    auto* o = static_cast<unsigned char*>(out);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto& v = kBase64Values.v;
    const std::size_t whole = n / 3;
    for (std::size_t g = 0; g < whole; ++g, s += 4, o += 3) {
        const int a = v[s[0]], b = v[s[1]], c = v[s[2]], d = v[s[3]];
        if ((a | b | c | d) < 0)
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        o[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
        o[2] = static_cast<unsigned char>(((c & 3) << 6) | d);
    }
    const std::size_t rest = n % 3;
    if (rest == 1) {
        const int a = v[s[0]], b = v[s[1]];
        if ((a | b) < 0 || (b & 15) != 0 || s[2] != '=' || s[3] != '=')
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
    } else if (rest == 2) {
        const int a = v[s[0]], b = v[s[1]], c = v[s[2]];
        if ((a | b | c) < 0 || (c & 3) != 0 || s[3] != '=')
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        o[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
    }
    return true;
}

// ---------------------------------------------------------------------------
// JSON strings

// How many of the first n bytes are printable ASCII other than the quote and
// the backslash: characters a JSON string holds as they are. Eight bytes at
// a time up to the first eight that hold any other.
std::size_t PlainRun(const char* p, std::size_t n)
{
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + k, 8);
        const std::uint64_t quote = x ^ (ones * '"');
        const std::uint64_t backslash = x ^ (ones * '\\');
        // The high bit of a byte of 0x80 or above, of one below 0x20, and of
        // one that the xor turned to zero; a false alarm only after a real one.
        if ((x | ((x - ones * 0x20) & ~x) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) & highs)
            break;
    }
    for (; k < n; ++k) {
        const auto c = static_cast<unsigned char>(p[k]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
    }
    return k;
}

// What the first byte of a UTF-8 character asks of the bytes after it (RFC
// 3629): how many there are, and the range of the first of them (of the
// others 0x80..0xBF), which keeps out overlong forms, surrogates and
// anything beyond U+10FFFF. No tails: the byte starts no character.
struct TUtf8Lead {
    int tails = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

constexpr TUtf8Lead Utf8Lead(unsigned char c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return {1};
    if (c == 0xE0)
        return {2, 0xA0};
    if (c == 0xED)
        return {2, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {2};
    if (c == 0xF0)
        return {3, 0x90};
    if (c >= 0xF1 && c <= 0xF3)
        return {3};
    if (c == 0xF4)
        return {3, 0x80, 0x8F};
    return {0};
}

// ---------------------------------------------------------------------------
// Messages

// The file as the messages name it: its name without the folder.
std::string Shown(const std::string& path)
{
    return "«" + std::filesystem::path(path).filename().string() + "»";
}

// A reason to refuse a file, thrown inside the reader.
struct TRefusal {
    std::string reason;
};

// A damaged file: the text says what is wrong.
[[noreturn]] void Damaged(const std::string& what)
{
    throw TRefusal{"повреждён: " + what};
}

// ---------------------------------------------------------------------------
// Writing

// A float as JSON: the shortest decimal text that reads back as the same
// double (and so the same float), always with a point or an exponent so
// that -0.0 keeps its sign; NaN and the infinities as "0x" and the eight
// hex digits of their bits.
void PutFloat(TTextOut& out, float value)
{
    char buf[64];
    if (!std::isfinite(value)) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        auto r = std::to_chars(buf, buf + sizeof buf, bits, 16);
        out += "\"0x";
        out.append(8 - static_cast<std::size_t>(r.ptr - buf), '0');
        out.append(buf, static_cast<std::size_t>(r.ptr - buf));
        out += '"';
        return;
    }
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value));
    const std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos)
        out += ".0";
}

template <class Int>
void PutInt(TTextOut& out, Int value)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

// One `"key": ` at the given indentation, after a comma unless first.
void PutKey(TTextOut& out, int indent, const char* key, bool first = false)
{
    if (!first)
        out += ',';
    out += '\n';
    out.append(static_cast<std::size_t>(indent), ' ');
    out += '"';
    out += key;
    out += "\": ";
}

// A string as JSON: well-formed UTF-8 as it is; the quote, the backslash and
// the control characters escaped as the JSON library escapes them; each byte
// sequence that is no character (the longest start of one, or one byte) as
// U+FFFD. Written straight to the file, however long.
void PutString(TTextOut& out, std::string_view text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t run = PlainRun(text.data() + i, text.size() - i);
        out.append(text.data() + i, run);
        i += run;
        if (i == text.size())
            break;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            const char* const named = c == '"'    ? "\\\""
                                      : c == '\\' ? "\\\\"
                                      : c == '\b' ? "\\b"
                                      : c == '\f' ? "\\f"
                                      : c == '\n' ? "\\n"
                                      : c == '\r' ? "\\r"
                                      : c == '\t' ? "\\t"
                                                  : nullptr;
            if (named) {
                out += named;
            } else {
                const char escape[] = {'\\', 'u', '0', '0', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
                out.append(escape, sizeof escape);
            }
            ++i;
            continue;
        }
        const TUtf8Lead lead = Utf8Lead(c);
        std::size_t length = 1;
        unsigned char low = lead.low, high = lead.high;
        for (; length <= static_cast<std::size_t>(lead.tails) && i + length < text.size(); ++length) {
            const auto tail = static_cast<unsigned char>(text[i + length]);
            if (tail < low || tail > high)
                break;
            low = 0x80;
            high = 0xBF;
        }
        if (lead.tails > 0 && length == static_cast<std::size_t>(lead.tails) + 1)
            out.append(text.data() + i, length);
        else
            out += "\xEF\xBF\xBD";
        i += length;
    }
    out += '"';
}

// A weight block's Rows() x Columns() floats, row after row, as base64.
void PutMatrix(TTextOut& out, const TWeightMatrix& m)
{
    out += '"';
    TBase64Writer w(out);
    for (std::size_t i = 0; i < m.Rows(); ++i) w.Put(m[i], m.Columns() * sizeof(float));
    w.Finish();
    out += '"';
}

// The elements from the one after the cursor round to the cursor, as the
// sequence file lists them; none when there is no cursor. Walked through
// the ring itself, without a list of them.
class TRingElements {
public:
    explicit TRingElements(const PatternRing& ring)
        : first_(ring.Current ? ring.Current->Next : nullptr), count_(ring.Current ? ring.Count : 0)
    {
    }

    struct TIterator {
        const TAbsImage* element;
        std::uint32_t left;
        const TAbsImage* operator*() const { return element; }
        TIterator& operator++()
        {
            element = element->Next;
            --left;
            return *this;
        }
        bool operator!=(const TIterator& other) const { return left != other.left; }
    };

    TIterator begin() const { return {first_, count_}; }
    TIterator end() const { return {nullptr, 0}; }
    std::uint32_t size() const { return count_; }

private:
    const TAbsImage* first_;
    std::uint32_t count_;
};

std::uint32_t SeriesCountOf(const TProjectState& state)
{
    return state.series.values != nullptr && state.series.count > 0 ? static_cast<std::uint32_t>(state.series.count)
                                                                     : 0;
}

// Why the state cannot be saved within the limits the reader checks; empty
// when it can.
std::string StateRefusal(const TProjectState& state, const TRingElements& elements)
{
    if (const TNeuralNet* net = state.net.get()) {
        if (net->layers.size() != net->layerCount || net->changes.size() != net->layers.size() ||
            net->layerCount > MaxLayerCount)
            return "у сети больше " + std::to_string(MaxLayerCount) + " слоёв.";
        std::uint64_t weights = 0;
        for (std::size_t k = 0; k < net->layers.size(); ++k) {
            const TLayer& layer = net->layers[k];
            if (layer.inputCount < 1 || layer.inputCount > PatternRing::MaxDimension || layer.neuronCount < 1 ||
                layer.neuronCount > MaxNeuronCount || (k > 0 && layer.inputCount != net->layers[k - 1].neuronCount))
                return "размеры слоя " + std::to_string(k + 1) + " сети вне допустимых пределов.";
            weights += (std::uint64_t{layer.inputCount} + 1) * layer.neuronCount;
        }
        if (weights > MaxNetworkWeightCount)
            return "в сети больше " + std::to_string(MaxNetworkWeightCount) + " весов.";
    }
    if (state.sequence.Dimension > PatternRing::MaxDimension || elements.size() > MaxSequenceCount)
        return "обучающая последовательность слишком велика.";
    for (const TAbsImage* e : elements)
        if (e->Size > PatternRing::MaxDimension || e->Cells.size() < e->Size ||
            e->Cells.size() > std::size_t{PatternRing::MaxDimension} + 1)
            return "элемент обучающей последовательности слишком велик или его клетки не все на месте.";
    if (state.classNames.size() > static_cast<std::size_t>(MaxClassCount))
        return "имён классов больше " + std::to_string(MaxClassCount) + ".";
    if (state.retinaWidth < 0 || state.retinaHeight < 0 ||
        std::int64_t{state.retinaWidth} * state.retinaHeight > MaxElementSize)
        return "размеры ретины вне допустимых пределов.";
    const std::uint32_t count = SeriesCountOf(state);
    if (state.trainLength > count || (state.windowSize > 0 && state.windowSize >= count))
        return "настройки временного ряда не согласуются с числом его значений.";
    return {};
}

// The settings of the next training run.
void PutTraining(TTextOut& out, const TRunSettings& t)
{
    PutKey(out, 1, "training");
    out += '{';
    PutKey(out, 2, "method", true);
    out += t.step.method == TTrainingMethod::Stochastic ? "\"stochastic\"" : "\"backprop\"";
    PutKey(out, 2, "rate");
    PutFloat(out, t.step.learningRate);
    PutKey(out, 2, "momentum");
    PutFloat(out, t.step.momentum);
    PutKey(out, 2, "stepWidth");
    PutFloat(out, t.step.stepWidth);
    PutKey(out, 2, "maxEpochs");
    PutInt(out, t.maxEpochs);
    PutKey(out, 2, "keepGoing");
    out += t.keepGoing ? "true" : "false";
    if (t.targetAccuracy) {
        PutKey(out, 2, "targetAccuracy");
        out += Json(*t.targetAccuracy).dump();
    }
    PutKey(out, 2, "patience");
    PutInt(out, t.patience);
    PutKey(out, 2, "heldOut");
    PutString(out, t.heldOutPath);
    PutKey(out, 2, "keepBest");
    out += t.keepBest ? "true" : "false";
    if (t.seed) {
        PutKey(out, 2, "seed");
        PutInt(out, *t.seed);
    }
    out += "\n }";
}

// The whole document up to, not including, the "checksum" member.
void WriteProjectText(TTextOut& out, const TProjectState& state, const TRingElements& elements)
{
    out += '{';
    PutKey(out, 1, "format", true);
    out += '"';
    out += ProjectFileFormat;
    out += '"';
    PutKey(out, 1, "version");
    PutInt(out, ProjectFileVersion);

    PutKey(out, 1, "network");
    if (const TNeuralNet* net = state.net.get()) {
        out += '{';
        PutKey(out, 2, "inputOffset", true);
        PutFloat(out, net->inputOffset);
        PutKey(out, 2, "targetOffset");
        PutFloat(out, net->targetOffset);
        PutKey(out, 2, "inputScale");
        PutFloat(out, net->inputScale);
        PutKey(out, 2, "targetScale");
        PutFloat(out, net->targetScale);
        PutKey(out, 2, "layers");
        out += '[';
        for (std::size_t k = 0; k < net->layers.size(); ++k) {
            const TLayer& layer = net->layers[k];
            out += k == 0 ? "\n   {" : ",\n   {";
            PutKey(out, 4, "inputs", true);
            PutInt(out, layer.inputCount);
            PutKey(out, 4, "neurons");
            PutInt(out, layer.neuronCount);
            PutKey(out, 4, "slope");
            PutFloat(out, layer.slope);
            PutKey(out, 4, "amplitude");
            PutFloat(out, layer.amplitude);
            PutKey(out, 4, "offset");
            PutFloat(out, layer.offset);
            PutKey(out, 4, "weights");
            PutMatrix(out, layer.weights);
            PutKey(out, 4, "changes");
            PutMatrix(out, net->changes[k].weights);
            out += "\n   }";
        }
        out += net->layers.empty() ? "]" : "\n  ]";
        out += "\n }";
    } else {
        out += "null";
    }

    PutKey(out, 1, "sequence");
    out += '{';
    PutKey(out, 2, "dimension", true);
    PutInt(out, state.sequence.Dimension);
    PutKey(out, 2, "count");
    PutInt(out, elements.size());
    const auto putColumn = [&](const char* key, auto field) {
        PutKey(out, 2, key);
        out += '"';
        TBase64Writer w(out);
        for (const TAbsImage* e : elements) {
            const auto value = field(*e);
            w.Put(&value, sizeof value);
        }
        w.Finish();
        out += '"';
    };
    putColumn("classes", [](const TAbsImage& e) { return e.ClassIndex; });
    putColumn("sizes", [](const TAbsImage& e) { return e.Size; });
    putColumn("lengths", [](const TAbsImage& e) { return static_cast<std::uint32_t>(e.Cells.size()); });
    PutKey(out, 2, "cells");
    out += '"';
    {
        TBase64Writer w(out);
        for (const TAbsImage* e : elements) w.Put(e->Cells.data(), e->Cells.size());
        w.Finish();
    }
    out += "\"\n }";

    PutKey(out, 1, "classNames");
    out += '[';
    for (std::size_t k = 0; k < state.classNames.size(); ++k) {
        out += k == 0 ? "\n  " : ",\n  ";
        PutString(out, state.classNames[k]);
    }
    out += state.classNames.empty() ? "]" : "\n ]";

    PutKey(out, 1, "retina");
    out += '{';
    PutKey(out, 2, "width", true);
    PutInt(out, state.retinaWidth);
    PutKey(out, 2, "height");
    PutInt(out, state.retinaHeight);
    out += "\n }";

    const std::uint32_t count = SeriesCountOf(state);
    PutKey(out, 1, "series");
    out += '{';
    PutKey(out, 2, "count", true);
    PutInt(out, count);
    PutKey(out, 2, "values");
    out += '"';
    {
        TBase64Writer w(out);
        if (count > 0)
            w.Put(state.series.values.get(), std::size_t{count} * sizeof(float));
        w.Finish();
    }
    out += '"';
    PutKey(out, 2, "min");
    PutFloat(out, state.seriesMin);
    PutKey(out, 2, "max");
    PutFloat(out, state.seriesMax);
    PutKey(out, 2, "windowSize");
    PutInt(out, state.windowSize);
    PutKey(out, 2, "trainLength");
    PutInt(out, state.trainLength);
    PutKey(out, 2, "fromFirstWindow");
    out += state.fromFirstWindow ? "true" : "false";
    out += "\n }";

    PutTraining(out, state.training);
    PutKey(out, 1, "fit");
    out += state.fit == TFigureFit::Aspect ? "\"aspect\"" : "\"stretch\"";
    if (state.seed) {
        PutKey(out, 1, "seed");
        PutInt(out, *state.seed);
    }
    if (state.generator) {
        PutKey(out, 1, "generator");
        char hex[19] = "\"";
        for (int i = 0; i < 16; ++i)
            hex[1 + i] = "0123456789abcdef"[(*state.generator >> (60 - 4 * i)) & 15];
        hex[17] = '"';
        out.append(hex, 18);
    }
    out += ",\n ";
}

// Writes the checksum member over everything before it, and the closing brace.
void PutChecksum(TTextOut& out)
{
    const std::uint32_t crc = out.Crc();
    char hex[9];
    for (int i = 0; i < 8; ++i) hex[i] = "0123456789abcdef"[(crc >> (28 - 4 * i)) & 15];
    hex[8] = '\0';
    out += "\"checksum\": \"";
    out += hex;
    out += "\"\n}\n";
}

// ---------------------------------------------------------------------------
// Reading

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

// The project file, open for reading: a regular file no larger than the
// limit, never one that would block (a FIFO).
class TSourceFile {
public:
    explicit TSourceFile(const std::string& path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            throw TRefusal{errno == ENOENT ? std::string("не найден.") : "недоступен: " + SystemReason(errno) + "."};
        if (S_ISDIR(st.st_mode))
            throw TRefusal{"— это папка, а не файл проекта."};
        if (!S_ISREG(st.st_mode))
            throw TRefusal{"— не обычный файл (а канал, устройство или сокет), его нельзя открыть как проект."};
        CheckSize(st);
        fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            throw TRefusal{"не удаётся открыть: " + SystemReason(errno) + "."};
        // The name may have been given to something else since stat.
        if (::fstat(fd_, &opened_) != 0 || !S_ISREG(opened_.st_mode))
            throw TRefusal{"— не обычный файл (а канал, устройство или сокет), его нельзя открыть как проект."};
        CheckSize(opened_);
    }
    ~TSourceFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TSourceFile(const TSourceFile&) = delete;
    TSourceFile& operator=(const TSourceFile&) = delete;

    std::uint64_t Size() const { return static_cast<std::uint64_t>(opened_.st_size); }

    // Reads the next bytes from where the last call ended; 0 at the end.
    std::size_t ReadNext(char* out, std::size_t n) const
    {
        for (;;) {
            const ssize_t got = ::read(fd_, out, n);
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                throw TRefusal{"не удаётся прочитать: " + SystemReason(errno) + "."};
        }
    }

    // Exactly n bytes from `offset`.
    void ReadAt(std::uint64_t offset, char* out, std::size_t n) const
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

    // The file is read more than once (the long blocks when they are
    // decoded); a file written to meanwhile is refused.
    void CheckUnchanged() const
    {
        struct stat now {};
        if (::fstat(fd_, &now) != 0 || now.st_size != opened_.st_size || now.st_mtim.tv_sec != opened_.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec || now.st_ctim.tv_sec != opened_.st_ctim.tv_sec ||
            now.st_ctim.tv_nsec != opened_.st_ctim.tv_nsec)
            Changed();
    }

    [[noreturn]] static void Changed() { throw TRefusal{"изменился во время чтения."}; }

private:
    static void CheckSize(const struct stat& st)
    {
        if (static_cast<std::uint64_t>(st.st_size) > MaxProjectFileBytes)
            throw TRefusal{"слишком велик для файла проекта: " + std::to_string(st.st_size) +
                           " байт, допустимо не больше " + std::to_string(MaxProjectFileBytes) + "."};
    }

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

    bool Empty() const { return !content_; }
    std::string& Skeleton() { return skeleton_; }
    std::vector<TBlob>& Blobs() { return blobs_; }
    // Why the file is refused, when the scan stopped at something no
    // project holds; what it had gathered up to there is kept.
    const std::optional<std::string>& Fault() const { return fault_; }

    // The checksum of the bytes before the last "checksum" key, when its
    // opening quote is at `skeletonOffset` of the skeleton.
    std::optional<std::uint32_t> ChecksumBefore(std::size_t skeletonOffset) const
    {
        if (!lastKey_ || lastKey_->skeletonOffset != skeletonOffset)
            return std::nullopt;
        return ~lastKey_->crc;
    }

private:
    struct TKey {
        std::size_t skeletonOffset;
        std::uint32_t crc; // the register before its opening quote
    };

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

    // Takes string characters from data[i]; returns where it stopped: at
    // the end of the piece, or after the closing quote.
    std::size_t InString(const char* data, std::size_t n, std::size_t i, std::uint64_t base)
    {
        const auto& v = kBase64Values.v;
        while (i < n) {
            // A long string, not kept: runs of the characters that change
            // nothing but the count are only counted (and, while they are
            // all base64, checked as such).
            if (!buffering_ && plain_) {
                for (; i < n; ++i, ++length_) {
                    const auto c = static_cast<unsigned char>(data[i]);
                    const int value = v[c];
                    if (value >= 0) {
                        afterPad_ = afterPad_ || pads_ > 0;
                        last_ = value;
                    } else if (c == '=') {
                        ++pads_;
                    } else {
                        break;
                    }
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
            if (plain_) {
                const int value = v[c];
                if (value >= 0) {
                    afterPad_ = afterPad_ || pads_ > 0;
                    last_ = value;
                } else if (c == '=') {
                    ++pads_;
                } else {
                    plain_ = false;
                }
            }
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
            if (pending_ == "checksum")
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

// The parsed document. Counting strings in document order, the parse
// callback turns each string left in the file into a binary value whose
// subtype is its index among them: a value no JSON text can produce, so a
// blob is never confused with a real string. A key left in the file stays
// the empty key, which no member has.
class TDocument {
public:
    TDocument(const TSourceFile& file, std::vector<TBlob> blobs) : file_(file), blobs_(std::move(blobs)) {}

    void Parse(const std::string& skeleton)
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
    std::optional<std::string> TextOf(const Json& v) const
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

private:
    const TSourceFile& file_;
    std::vector<TBlob> blobs_;
    Json root_;
};

// A member path for messages: network.layers[1].weights.
std::string Member(const std::string& parent, const std::string& key)
{
    return parent.empty() ? key : parent + "." + key;
}

// A checked block: the canonical base64 encoding of `bytes` bytes, held by
// the document or left in the file.
struct TBlock {
    std::string_view text;
    const TBlob* blob = nullptr;
    std::uint64_t bytes = 0;
};

// The reader of a parsed document's members, each checked before use.
class TReader {
public:
    explicit TReader(const TDocument& doc) : doc_(doc) {}

    const Json& Object(const Json& parent, const std::string& path, const char* key) const
    {
        const Json& v = Get(parent, path, key);
        if (!v.is_object())
            Damaged("поле «" + Member(path, key) + "» должно быть объектом.");
        return v;
    }

    const Json& Get(const Json& parent, const std::string& path, const char* key) const
    {
        auto it = parent.find(key);
        if (it == parent.end())
            Damaged("нет поля «" + Member(path, key) + "».");
        return *it;
    }

    std::uint64_t Unsigned(const Json& parent, const std::string& path, const char* key, std::uint64_t lo,
                           std::uint64_t hi) const
    {
        const Json& v = Get(parent, path, key);
        std::uint64_t value = 0;
        bool ok = false;
        if (v.is_number_unsigned()) {
            value = v.get<std::uint64_t>();
            ok = true;
        } else if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
            value = static_cast<std::uint64_t>(v.get<std::int64_t>());
            ok = true;
        }
        if (!ok || value < lo || value > hi)
            Damaged("поле «" + Member(path, key) + "» должно быть целым числом от " + std::to_string(lo) + " до " +
                    std::to_string(hi) + ".");
        return value;
    }

    float Float(const Json& parent, const std::string& path, const char* key) const
    {
        const Json& v = Get(parent, path, key);
        if (v.is_number()) {
            const double d = v.get<double>();
            if (std::isfinite(d) && std::fabs(d) <= std::numeric_limits<float>::max())
                return static_cast<float>(d);
        } else if (v.is_string()) {
            const std::string& text = v.get_ref<const std::string&>();
            std::uint32_t bits = 0;
            const char* end = text.data() + text.size();
            if (text.size() == 10 && text.starts_with("0x")) {
                auto r = std::from_chars(text.data() + 2, end, bits, 16);
                if (r.ec == std::errc() && r.ptr == end)
                    return std::bit_cast<float>(bits);
            }
        }
        Damaged("поле «" + Member(path, key) + "» должно быть числом с плавающей точкой.");
    }

    bool Bool(const Json& parent, const std::string& path, const char* key) const
    {
        const Json& v = Get(parent, path, key);
        if (!v.is_boolean())
            Damaged("поле «" + Member(path, key) + "» должно быть true или false.");
        return v.get<bool>();
    }

    // A base64 block that must hold exactly `bytes` bytes, checked for
    // length and for being a correct encoding before anything is allocated
    // for it.
    TBlock Block(const Json& parent, const std::string& path, const char* key, std::uint64_t bytes) const
    {
        const Json& v = Get(parent, path, key);
        TBlock block;
        block.bytes = bytes;
        std::uint64_t length = 0;
        if (v.is_string()) {
            block.text = v.get_ref<const std::string&>();
            length = block.text.size();
        } else if ((block.blob = doc_.BlobOf(v)) != nullptr) {
            length = block.blob->length;
        } else {
            Damaged("поле «" + Member(path, key) + "» должно быть строкой base64.");
        }
        if (length != Base64Length(bytes))
            Damaged("длина поля «" + Member(path, key) + "» не согласуется с размерами: ожидалось " +
                    std::to_string(bytes) + " байт.");
        const bool correct = block.blob ? block.blob->canonical && block.blob->bytes == bytes
                                        : Decode(block, [](const unsigned char*, std::size_t) {});
        if (!correct)
            Damaged("поле «" + Member(path, key) + "» — не правильная запись base64.");
        return block;
    }

    // Hands a checked block's bytes to `sink` in pieces, in order. A block
    // that no longer decodes was changed in the file since it was checked.
    template <class Sink>
    void Read(const TBlock& block, Sink&& sink) const
    {
        if (!Decode(block, sink))
            TSourceFile::Changed();
    }

    std::optional<std::string> TextOf(const Json& v) const { return doc_.TextOf(v); }
    bool IsText(const Json& v) const { return v.is_string() || doc_.BlobOf(v) != nullptr; }

private:
    // Decodes the block piece by piece; false at the first fault.
    template <class Sink>
    bool Decode(const TBlock& block, Sink&& sink) const
    {
        constexpr std::size_t PieceBytes = 3 * (std::size_t{1} << 14);
        std::vector<char> text;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(block.bytes, PieceBytes)));
        for (std::uint64_t done = 0; done < block.bytes;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(PieceBytes, block.bytes - done));
            const std::uint64_t from = done / 3 * 4;
            const auto length = static_cast<std::size_t>(Base64Length(n));
            std::string_view piece;
            if (block.blob) {
                text.resize(length);
                doc_.File().ReadAt(block.blob->offset + from, text.data(), length);
                piece = std::string_view(text.data(), length);
            } else {
                piece = block.text.substr(static_cast<std::size_t>(from), length);
            }
            if (!DecodeBase64(piece, bytes.data(), n))
                return false;
            sink(bytes.data(), n);
            done += n;
        }
        return true;
    }

    const TDocument& doc_;
};

// Copies the bytes handed over into consecutive rows of a weight block.
class TRowSink {
public:
    explicit TRowSink(TWeightMatrix& m) : m_(m), rowBytes_(m.Columns() * sizeof(float)) {}
    void operator()(const unsigned char* p, std::size_t n)
    {
        while (n > 0) {
            const std::size_t take = std::min(n, rowBytes_ - at_);
            std::memcpy(reinterpret_cast<unsigned char*>(m_[row_]) + at_, p, take);
            at_ += take;
            p += take;
            n -= take;
            if (at_ == rowBytes_) {
                ++row_;
                at_ = 0;
            }
        }
    }

private:
    TWeightMatrix& m_;
    std::size_t rowBytes_;
    std::size_t row_ = 0;
    std::size_t at_ = 0;
};

// Copies the bytes handed over into one buffer.
struct TBufferSink {
    unsigned char* out;
    void operator()(const unsigned char* p, std::size_t n)
    {
        std::memcpy(out, p, n);
        out += n;
    }
};

// Everything read from the document and checked, before any of it is built.
struct TLayerPlan {
    std::uint32_t inputs = 0;
    std::uint32_t neurons = 0;
    float slope = 1.0f, amplitude = 1.0f, offset = 0.0f;
    TBlock weights, changes;
};

struct TNetworkPlan {
    bool present = false;
    float inputOffset = 0.0f, targetOffset = 0.0f, inputScale = 1.0f, targetScale = 1.0f;
    std::vector<TLayerPlan> layers;
};

struct TSequencePlan {
    std::uint32_t dimension = 0;
    std::vector<std::int32_t> classes;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint32_t> lengths;
    TBlock cells;
};

struct TSeriesPlan {
    std::uint32_t count = 0;
    TBlock values;
    float min = 0.0f, max = 0.0f;
    std::uint32_t windowSize = 0, trainLength = 0;
    bool fromFirstWindow = false;
};

TNetworkPlan CheckNetwork(const TReader& r, const Json& root)
{
    TNetworkPlan plan;
    const Json& v = r.Get(root, "", "network");
    if (v.is_null())
        return plan;
    if (!v.is_object())
        Damaged("поле «network» должно быть объектом или null.");
    const std::string path = "network";
    plan.present = true;
    plan.inputOffset = r.Float(v, path, "inputOffset");
    plan.targetOffset = r.Float(v, path, "targetOffset");
    plan.inputScale = r.Float(v, path, "inputScale");
    plan.targetScale = r.Float(v, path, "targetScale");
    const Json& layers = r.Get(v, path, "layers");
    if (!layers.is_array() || layers.size() > MaxLayerCount)
        Damaged("поле «network.layers» должно быть массивом не более чем из " + std::to_string(MaxLayerCount) +
                " слоёв.");
    plan.layers.resize(layers.size());
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < plan.layers.size(); ++k) {
        const std::string lp = "network.layers[" + std::to_string(k) + "]";
        const Json& l = layers[k];
        if (!l.is_object())
            Damaged("поле «" + lp + "» должно быть объектом.");
        TLayerPlan& p = plan.layers[k];
        p.inputs = static_cast<std::uint32_t>(r.Unsigned(l, lp, "inputs", 1, PatternRing::MaxDimension));
        p.neurons = static_cast<std::uint32_t>(r.Unsigned(l, lp, "neurons", 1, MaxNeuronCount));
        if (k > 0 && p.inputs != plan.layers[k - 1].neurons)
            Damaged("входов у слоя " + std::to_string(k) + " (" + std::to_string(p.inputs) +
                    ") не столько, сколько нейронов у слоя перед ним (" + std::to_string(plan.layers[k - 1].neurons) +
                    ").");
        p.slope = r.Float(l, lp, "slope");
        p.amplitude = r.Float(l, lp, "amplitude");
        p.offset = r.Float(l, lp, "offset");
        const std::uint64_t count = (std::uint64_t{p.inputs} + 1) * p.neurons;
        total += count;
        if (total > MaxNetworkWeightCount)
            Damaged("в сети больше " + std::to_string(MaxNetworkWeightCount) + " весов.");
        p.weights = r.Block(l, lp, "weights", count * sizeof(float));
        p.changes = r.Block(l, lp, "changes", count * sizeof(float));
    }
    return plan;
}

void BuildNetwork(const TReader& r, const TNetworkPlan& plan, TProjectState& state)
{
    if (!plan.present)
        return;
    std::vector<std::uint32_t> sizes;
    if (!plan.layers.empty())
        sizes.push_back(plan.layers[0].inputs);
    for (const TLayerPlan& p : plan.layers) sizes.push_back(p.neurons);
    auto net = std::make_unique<TNeuralNet>(static_cast<std::uint32_t>(plan.layers.size()), sizes, 0.0f,
                                            plan.inputOffset, plan.targetOffset, plan.inputScale, plan.targetScale);
    for (std::size_t k = 0; k < plan.layers.size(); ++k) {
        const TLayerPlan& p = plan.layers[k];
        TLayer& layer = net->layers[k];
        layer.slope = p.slope;
        layer.amplitude = p.amplitude;
        layer.offset = p.offset;
        r.Read(p.weights, TRowSink(layer.weights));
        r.Read(p.changes, TRowSink(net->changes[k].weights));
    }
    state.net = std::move(net);
}

TSequencePlan CheckSequence(const TReader& r, const Json& root)
{
    const std::string path = "sequence";
    const Json& v = r.Object(root, "", "sequence");
    TSequencePlan plan;
    plan.dimension = static_cast<std::uint32_t>(r.Unsigned(v, path, "dimension", 0, PatternRing::MaxDimension));
    const auto count = static_cast<std::uint32_t>(r.Unsigned(v, path, "count", 0, MaxSequenceCount));
    const std::uint64_t column = std::uint64_t{count} * 4;
    const TBlock classBlock = r.Block(v, path, "classes", column);
    const TBlock sizeBlock = r.Block(v, path, "sizes", column);
    const TBlock lengthBlock = r.Block(v, path, "lengths", column);
    plan.classes.resize(count);
    plan.sizes.resize(count);
    plan.lengths.resize(count);
    r.Read(classBlock, TBufferSink{reinterpret_cast<unsigned char*>(plan.classes.data())});
    r.Read(sizeBlock, TBufferSink{reinterpret_cast<unsigned char*>(plan.sizes.data())});
    r.Read(lengthBlock, TBufferSink{reinterpret_cast<unsigned char*>(plan.lengths.data())});
    std::uint64_t cellBytes = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (plan.sizes[k] > PatternRing::MaxDimension || plan.lengths[k] < plan.sizes[k] ||
            plan.lengths[k] > std::uint64_t{PatternRing::MaxDimension} + 1)
            Damaged("у элемента " + std::to_string(k + 1) + " последовательности размер " +
                    std::to_string(plan.sizes[k]) + " и длина буфера " + std::to_string(plan.lengths[k]) +
                    " не согласуются.");
        cellBytes += plan.lengths[k];
    }
    plan.cells = r.Block(v, path, "cells", cellBytes);
    return plan;
}

void BuildSequence(const TReader& r, const TSequencePlan& plan, TProjectState& state)
{
    PatternRing ring;
    ring.Dimension = plan.dimension;
    const auto link = [&ring](std::unique_ptr<TAbsImage> e) {
        // Linked in after the cursor, which then moves onto it: the element
        // listed last ends up the cursor, the first one its successor.
        TAbsImage* raw = e.release();
        if (ring.Count == 0) {
            raw->Next = raw;
        } else {
            raw->Next = ring.Current->Next;
            ring.Current->Next = raw;
        }
        ring.Current = raw;
        ++ring.Count;
    };
    // The cells come in pieces that run across the elements' buffers; an
    // element is linked in once its buffer is full.
    std::size_t k = 0;
    std::unique_ptr<TAbsImage> element;
    std::size_t filled = 0;
    const std::size_t count = plan.sizes.size();
    const auto next = [&] {
        for (; k < count; ++k) {
            element = std::make_unique<TAbsImage>();
            element->Size = plan.sizes[k];
            element->ClassIndex = plan.classes[k];
            element->Cells.resize(plan.lengths[k]);
            filled = 0;
            if (plan.lengths[k] > 0)
                return;
            link(std::move(element));
        }
    };
    next();
    r.Read(plan.cells, [&](const unsigned char* p, std::size_t n) {
        while (n > 0 && k < count) {
            const std::size_t take = std::min(n, element->Cells.size() - filled);
            std::memcpy(element->Cells.data() + filled, p, take);
            filled += take;
            p += take;
            n -= take;
            if (filled == element->Cells.size()) {
                link(std::move(element));
                ++k;
                next();
            }
        }
    });
    state.sequence.Swap(ring);
}

void CheckClassNames(const TReader& r, const Json& root)
{
    const Json& v = r.Get(root, "", "classNames");
    if (!v.is_array() || v.size() > static_cast<std::size_t>(MaxClassCount))
        Damaged("поле «classNames» должно быть массивом не более чем из " + std::to_string(MaxClassCount) +
                " строк.");
    for (const Json& name : v)
        if (!r.IsText(name))
            Damaged("имена классов в поле «classNames» должны быть строками.");
}

// The names are moved out of the document, not copied.
void BuildClassNames(const TReader& r, Json& root, TProjectState& state)
{
    Json& v = root["classNames"];
    state.classNames.reserve(v.size());
    for (Json& name : v) {
        if (name.is_string())
            state.classNames.push_back(std::move(name.get_ref<std::string&>()));
        else
            state.classNames.push_back(*r.TextOf(name));
    }
}

void ReadRetina(const TReader& r, const Json& root, TProjectState& state)
{
    const Json& v = r.Object(root, "", "retina");
    const auto width = r.Unsigned(v, "retina", "width", 0, MaxElementSize);
    const auto height = r.Unsigned(v, "retina", "height", 0, MaxElementSize);
    if (width * height > static_cast<std::uint64_t>(MaxElementSize))
        Damaged("ретина " + std::to_string(width) + " × " + std::to_string(height) + " больше допустимой.");
    state.retinaWidth = static_cast<std::int32_t>(width);
    state.retinaHeight = static_cast<std::int32_t>(height);
}

TSeriesPlan CheckSeries(const TReader& r, const Json& root)
{
    const std::string path = "series";
    const Json& v = r.Object(root, "", "series");
    TSeriesPlan plan;
    plan.count =
        static_cast<std::uint32_t>(r.Unsigned(v, path, "count", 0, std::numeric_limits<std::int32_t>::max()));
    plan.values = r.Block(v, path, "values", std::uint64_t{plan.count} * sizeof(float));
    plan.min = r.Float(v, path, "min");
    plan.max = r.Float(v, path, "max");
    plan.windowSize = static_cast<std::uint32_t>(r.Unsigned(v, path, "windowSize", 0, PatternRing::MaxDimension));
    plan.trainLength = static_cast<std::uint32_t>(r.Unsigned(v, path, "trainLength", 0, plan.count));
    if (plan.windowSize > 0 && plan.windowSize >= plan.count)
        Damaged("размер окна ряда (" + std::to_string(plan.windowSize) + ") должен быть меньше числа его значений (" +
                std::to_string(plan.count) + ").");
    plan.fromFirstWindow = r.Bool(v, path, "fromFirstWindow");
    return plan;
}

void BuildSeries(const TReader& r, const TSeriesPlan& plan, TProjectState& state)
{
    if (plan.count > 0) {
        state.series.values = std::make_unique_for_overwrite<float[]>(plan.count);
        r.Read(plan.values, TBufferSink{reinterpret_cast<unsigned char*>(state.series.values.get())});
    }
    state.series.count = static_cast<std::int32_t>(plan.count);
    state.seriesMin = plan.min;
    state.seriesMax = plan.max;
    state.windowSize = plan.windowSize;
    state.trainLength = plan.trainLength;
    state.fromFirstWindow = plan.fromFirstWindow;
}

// The random generator's state, when the file holds one: 16 hexadecimal digits.
std::optional<std::uint64_t> ReadGenerator(const Json& root)
{
    const auto member = root.find("generator");
    if (member == root.end())
        return std::nullopt;
    const std::string* text = member->is_string() ? &member->get_ref<const std::string&>() : nullptr;
    std::uint64_t value = 0;
    bool ok = text && text->size() == 16;
    for (std::size_t i = 0; ok && i < 16; ++i) {
        const char c = (*text)[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        ok = d >= 0;
        value = value << 4 | static_cast<std::uint64_t>(d & 15);
    }
    if (!ok)
        Damaged("состояние генератора случайных чисел («generator») — не 16 шестнадцатеричных цифр.");
    return value;
}

// How the samples were cut: "stretch" (also when the member is absent, as
// in files saved before it was kept) or "aspect".
TFigureFit ReadFit(const Json& root)
{
    const auto member = root.find("fit");
    if (member == root.end())
        return TFigureFit::Stretch;
    if (member->is_string() && member->get_ref<const std::string&>() == "aspect")
        return TFigureFit::Aspect;
    if (member->is_string() && member->get_ref<const std::string&>() == "stretch")
        return TFigureFit::Stretch;
    Damaged("способ вырезания фигур («fit») — не \"stretch\" и не \"aspect\".");
}

// The settings of the next training run; the defaults when the file has
// none (files saved before they were kept).
TRunSettings ReadTraining(const TReader& r, const Json& root)
{
    TRunSettings t;
    const auto member = root.find("training");
    if (member == root.end())
        return t;
    const std::string path = "training";
    const Json& v = r.Object(root, "", "training");
    const auto method = r.TextOf(r.Get(v, path, "method"));
    if (!method || (*method != "backprop" && *method != "stochastic"))
        Damaged("поле «training.method» должно быть \"backprop\" или \"stochastic\".");
    t.step.method = *method == "stochastic" ? TTrainingMethod::Stochastic : TTrainingMethod::BackPropagation;
    t.step.learningRate = r.Float(v, path, "rate");
    t.step.momentum = r.Float(v, path, "momentum");
    t.step.stepWidth = r.Float(v, path, "stepWidth");
    t.maxEpochs = r.Unsigned(v, path, "maxEpochs", 0, 1000000000);
    t.keepGoing = r.Bool(v, path, "keepGoing");
    if (const auto target = v.find("targetAccuracy"); target != v.end()) {
        if (!target->is_number() || !(target->get<double>() >= 0.0 && target->get<double>() <= 1.0))
            Damaged("поле «training.targetAccuracy» должно быть числом от 0 до 1.");
        t.targetAccuracy = target->get<double>();
    }
    t.patience = r.Unsigned(v, path, "patience", 0, 1000000000);
    const auto heldOut = r.TextOf(r.Get(v, path, "heldOut"));
    if (!heldOut)
        Damaged("поле «training.heldOut» должно быть строкой.");
    t.heldOutPath = *heldOut;
    t.keepBest = r.Bool(v, path, "keepBest");
    if (v.find("seed") != v.end())
        t.seed = r.Unsigned(v, path, "seed", 0, 0x7fffffffffffffffull);
    return t;
}

// The seed of the network's initial weights, when the file holds one.
std::optional<std::uint64_t> ReadSeed(const Json& root)
{
    const auto member = root.find("seed");
    if (member == root.end())
        return std::nullopt;
    if (!member->is_number_unsigned() && !(member->is_number_integer() && member->get<std::int64_t>() >= 0))
        Damaged("зерно начальных весов («seed») — не целое неотрицательное число.");
    return member->get<std::uint64_t>();
}

// The checksum member closing the file: where its key starts and the value
// it states; nullopt when the text does not end with one.
struct TChecksumTail {
    std::size_t keyOffset = 0;
    std::uint32_t value = 0;
};

std::optional<TChecksumTail> FindChecksumTail(const std::string& text)
{
    static constexpr std::string_view key = "\"checksum\"";
    const std::size_t at = text.rfind(key);
    if (at == std::string::npos)
        return std::nullopt;
    std::size_t i = at + key.size();
    const auto skipSpace = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\t')) ++i;
    };
    skipSpace();
    if (i >= text.size() || text[i] != ':')
        return std::nullopt;
    ++i;
    skipSpace();
    if (i + 10 > text.size() || text[i] != '"' || text[i + 9] != '"')
        return std::nullopt;
    TChecksumTail tail;
    tail.keyOffset = at;
    for (std::size_t k = i + 1; k < i + 9; ++k) {
        const char c = text[k];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            return std::nullopt;
        tail.value = tail.value << 4 | static_cast<std::uint32_t>(d);
    }
    i += 10;
    skipSpace();
    if (i >= text.size() || text[i] != '}')
        return std::nullopt;
    ++i;
    skipSpace();
    if (i != text.size())
        return std::nullopt;
    return tail;
}

// Reads the file in two steps. First one pass over it gathers the document
// without its long blocks and checks the checksum; then every member is
// checked, the blocks by their length and encoding, before anything is
// built; only then are the network, the sequence and the series built, their
// blocks decoded from the file straight into place. The memory taken is
// that of the project itself and of the small members, not of the file.
// What a file that is no project at all is told, with what the program
// opens and where the other files go.
const std::string NotAProject =
    "не является файлом проекта Trelis: открываются проекты .trelis, которые записывает «Файл» → «Сохранить "
    "проект» (последовательность .llt загружается через «Последовательность» → «Из файла», ряд .ser — через "
    "«Временной ряд» → «Из файла»).";

void ReadProject(const std::string& path, TProjectState& state)
{
    const TSourceFile file(path);
    TScanner scanner(file);
    scanner.Scan();
    if (scanner.Empty())
        throw TRefusal{"пуст."};
    std::optional<std::uint32_t> checksum;
    const std::optional<TChecksumTail> tail = FindChecksumTail(scanner.Skeleton());
    if (tail)
        checksum = scanner.ChecksumBefore(tail->keyOffset);
    // A project is a JSON object; anything else is another kind of file.
    const std::size_t first = scanner.Skeleton().find_first_not_of(" \t\r\n");
    if (first == std::string::npos || scanner.Skeleton()[first] != '{')
        throw TRefusal{NotAProject};
    if (scanner.Fault())
        throw TRefusal{*scanner.Fault()};
    TDocument doc(file, std::move(scanner.Blobs()));
    try {
        doc.Parse(scanner.Skeleton());
    } catch (const Json::parse_error& e) {
        throw TRefusal{"не является файлом проекта Trelis или повреждён: ошибка разбора JSON в байте " +
                       std::to_string(e.byte) + "."};
    }
    std::string().swap(scanner.Skeleton());
    Json& root = doc.Root();
    TReader r(doc);
    const auto format = root.is_object() && root.contains("format") ? doc.TextOf(root["format"]) : std::nullopt;
    if (!format || *format != ProjectFileFormat)
        throw TRefusal{NotAProject};
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer() || version->get<std::int64_t>() < 1)
        Damaged("нет правильного номера версии.");
    if (version->get<std::int64_t>() > ProjectFileVersion)
        throw TRefusal{"записан более новой версией программы (версия формата " +
                       std::to_string(version->get<std::int64_t>()) + ", а эта программа читает версии до " +
                       std::to_string(ProjectFileVersion) + "). Обновите программу, чтобы открыть его."};
    if (!tail || !checksum)
        Damaged("в конце нет контрольной суммы (возможно, файл обрезан).");
    if (*checksum != tail->value)
        Damaged("контрольная сумма не совпадает.");

    const TNetworkPlan network = CheckNetwork(r, root);
    const TSequencePlan sequence = CheckSequence(r, root);
    CheckClassNames(r, root);
    ReadRetina(r, root, state);
    const TSeriesPlan series = CheckSeries(r, root);
    state.generator = ReadGenerator(root);
    state.fit = ReadFit(root);
    state.training = ReadTraining(r, root);
    state.seed = ReadSeed(root);

    BuildNetwork(r, network, state);
    BuildSequence(r, sequence, state);
    BuildClassNames(r, root, state);
    BuildSeries(r, series, state);
    file.CheckUnchanged();
}

} // namespace

std::string SaveProjectFile(const TProjectState& state, const std::string& path,
                            const std::vector<TFileToWrite>& alongside)
{
    const std::string failed = "Не удалось сохранить проект в файл " + Shown(path) + ": ";
    const TRingElements elements(state.sequence);
    if (std::string refusal = StateRefusal(state, elements); !refusal.empty())
        return failed + refusal;
    const TFileWriter write = [&](std::FILE* file) {
        TTextOut out(file);
        WriteProjectText(out, state, elements);
        PutChecksum(out);
        return out.Finish();
    };
    if (!alongside.empty()) {
        std::vector<TFileToWrite> group{{path, write}};
        group.insert(group.end(), alongside.begin(), alongside.end());
        return SaveFilesTogether(group);
    }
    const std::string reason = SaveFileAtomically(path, write);
    return reason.empty() ? reason : failed + reason;
}

std::string OpenProjectFile(const std::string& path, TProjectState& out)
{
    SettleInterruptedWrites(path); // a project saved with other files, killed part way
    TProjectState opened;
    try {
        ReadProject(path, opened);
    } catch (const TRefusal& refusal) {
        return "Файл " + Shown(path) + " " + refusal.reason;
    } catch (const std::bad_alloc&) {
        return "Недостаточно памяти, чтобы открыть файл " + Shown(path) + ".";
    } catch (const Json::exception&) {
        return "Файл " + Shown(path) + " не является файлом проекта Trelis или повреждён.";
    }
    out.Swap(opened);
    return {};
}
