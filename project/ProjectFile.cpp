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

std::uint32_t Crc32(const char* data, std::size_t n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::uint32_t c = 0xFFFFFFFFu;
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
    return ~c;
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

// Whether a byte may appear in base64 text (the padding included).
bool IsBase64Char(unsigned char c)
{
    return kBase64Values.v[c] >= 0 || c == '=';
}

// Appends base64 text of bytes handed over in pieces.
class TBase64Writer {
public:
    explicit TBase64Writer(std::string& out) : out_(out) {}

    void Put(const void* data, std::size_t n)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        while (n > 0 && held_ > 0 && held_ < 3) {
            carry_[held_++] = *p++;
            --n;
            if (held_ == 3) {
                Triple(carry_[0], carry_[1], carry_[2]);
                held_ = 0;
            }
        }
        for (; n >= 3; p += 3, n -= 3) Triple(p[0], p[1], p[2]);
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
    void Triple(unsigned char a, unsigned char b, unsigned char c)
    {
        const char s[4] = {kBase64[a >> 2], kBase64[((a & 3) << 4) | (b >> 4)], kBase64[((b & 15) << 2) | (c >> 6)],
                           kBase64[c & 63]};
        out_.append(s, 4);
    }

    std::string& out_;
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
void PutFloat(std::string& out, float value)
{
    char buf[64];
    if (!std::isfinite(value)) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        auto r = std::to_chars(buf, buf + sizeof buf, bits, 16);
        out += "\"0x";
        out.append(8 - static_cast<std::size_t>(r.ptr - buf), '0');
        out.append(buf, r.ptr);
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
void PutInt(std::string& out, Int value)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

// One `"key": ` at the given indentation, after a comma unless first.
void PutKey(std::string& out, int indent, const char* key, bool first = false)
{
    if (!first)
        out += ',';
    out += '\n';
    out.append(static_cast<std::size_t>(indent), ' ');
    out += '"';
    out += key;
    out += "\": ";
}

// A weight block's Rows() x Columns() floats, row after row, as base64.
void PutMatrix(std::string& out, const TWeightMatrix& m)
{
    out += '"';
    TBase64Writer w(out);
    for (std::size_t i = 0; i < m.Rows(); ++i) w.Put(m[i], m.Columns() * sizeof(float));
    w.Finish();
    out += '"';
}

// The elements from the one after the cursor round to the cursor, as the
// sequence file lists them; none when there is no cursor.
std::vector<const TAbsImage*> RingElements(const PatternRing& ring)
{
    std::vector<const TAbsImage*> elements;
    if (ring.Count == 0 || ring.Current == nullptr)
        return elements;
    elements.reserve(ring.Count);
    const TAbsImage* e = ring.Current;
    for (std::uint32_t k = 0; k < ring.Count; ++k) {
        e = e->Next;
        elements.push_back(e);
    }
    return elements;
}

std::uint32_t SeriesCountOf(const TProjectState& state)
{
    return state.series.values != nullptr && state.series.count > 0 ? static_cast<std::uint32_t>(state.series.count)
                                                                     : 0;
}

// Why the state cannot be saved within the limits the reader checks; empty
// when it can.
std::string StateRefusal(const TProjectState& state, const std::vector<const TAbsImage*>& elements)
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

// The whole document up to, not including, the "checksum" member.
std::string ProjectText(const TProjectState& state, const std::vector<const TAbsImage*>& elements)
{
    std::string out;
    std::uint64_t estimate = 4096;
    if (state.net)
        for (const TLayer& layer : state.net->layers)
            estimate += 2 * Base64Length((std::uint64_t{layer.inputCount} + 1) * layer.neuronCount * 4) + 256;
    std::uint64_t cellBytes = 0;
    for (const TAbsImage* e : elements) cellBytes += e->Cells.size();
    estimate += Base64Length(12 * std::uint64_t{elements.size()}) + Base64Length(cellBytes);
    estimate += Base64Length(4 * std::uint64_t{SeriesCountOf(state)});
    for (const std::string& name : state.classNames) estimate += name.size() + 8;
    out.reserve(static_cast<std::size_t>(estimate));

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
        out += Json(state.classNames[k]).dump(-1, ' ', false, Json::error_handler_t::replace);
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

    if (state.generator) {
        PutKey(out, 1, "generator");
        char hex[19] = "\"";
        for (int i = 0; i < 16; ++i)
            hex[1 + i] = "0123456789abcdef"[(*state.generator >> (60 - 4 * i)) & 15];
        hex[17] = '"';
        out.append(hex, 18);
    }
    out += ",\n ";
    return out;
}

// Appends the checksum member over everything before it, and the closing brace.
void PutChecksum(std::string& out)
{
    const std::uint32_t crc = Crc32(out.data(), out.size());
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
// Strings at least this long made of base64 characters only are kept out of
// the JSON parser's way (see TDocument).
constexpr std::size_t BlobThreshold = 64;

// The parsed document. The JSON parser reads text one character at a time,
// which for megabytes of base64 is slow; so long base64 strings (which need
// no unescaping) are first cut out of a copy of the text, leaving "", and the
// parser reads that skeleton. Counting strings in document order, the parse
// callback turns each cut-out string into a binary value whose subtype is its
// index among the cut-out ones: a value no JSON text can produce, so a blob
// is never confused with a real string. TextOf gives either kind's text.
class TDocument {
public:
    explicit TDocument(const std::string& text) : text_(text) {}

    void Parse()
    {
        std::string skeleton = CutBlobs();
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

    const Json& Root() const { return root_; }

    // The text of a string value (or a cut-out one); nullopt for any other value.
    std::optional<std::string_view> TextOf(const Json& v) const
    {
        if (v.is_string())
            return std::string_view(v.get_ref<const std::string&>());
        if (v.is_binary() && v.get_binary().has_subtype()) {
            const std::uint64_t k = v.get_binary().subtype();
            if (k < blobs_.size())
                return std::string_view(text_).substr(blobs_[k].offset, blobs_[k].length);
        }
        return std::nullopt;
    }

private:
    struct TBlob {
        std::size_t stringIndex; // among all strings of the document, keys included
        std::size_t offset;      // of the first character inside the quotes
        std::size_t length;
    };

    // The text with the contents of long base64 value strings removed.
    // Outside strings JSON has no quote, inside one a quote ends it unless
    // escaped: so the strings found here are the ones the parser finds.
    std::string CutBlobs()
    {
        std::string out;
        const std::string& t = text_;
        const std::size_t n = t.size();
        std::size_t copied = 0;
        std::size_t strings = 0;
        std::size_t i = 0;
        while (i < n) {
            const char* q = static_cast<const char*>(std::memchr(t.data() + i, '"', n - i));
            if (!q)
                break;
            const std::size_t open = static_cast<std::size_t>(q - t.data());
            std::size_t j = open + 1;
            bool plain = true;
            while (j < n && t[j] != '"') {
                if (t[j] == '\\') {
                    plain = false;
                    j += 2;
                    continue;
                }
                if (plain && !IsBase64Char(static_cast<unsigned char>(t[j])))
                    plain = false;
                ++j;
            }
            if (j >= n)
                break; // an unterminated string: the parser reports it
            const std::size_t length = j - open - 1;
            std::size_t after = j + 1;
            while (after < n && (t[after] == ' ' || t[after] == '\n' || t[after] == '\r' || t[after] == '\t')) ++after;
            const bool key = after < n && t[after] == ':';
            if (plain && !key && length >= BlobThreshold) {
                if (out.empty())
                    out.reserve(n / 16 + 4096);
                out.append(t, copied, open + 1 - copied);
                blobs_.push_back({strings, open + 1, length});
                copied = j;
            }
            ++strings;
            i = j + 1;
        }
        if (blobs_.empty())
            return t;
        out.append(t, copied, n - copied);
        return out;
    }

    const std::string& text_;
    std::vector<TBlob> blobs_;
    Json root_;
};

// A member path for messages: network.layers[1].weights.
std::string Member(const std::string& parent, const std::string& key)
{
    return parent.empty() ? key : parent + "." + key;
}

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
        } else if (auto text = doc_.TextOf(v); text && text->size() == 10 && text->substr(0, 2) == "0x") {
            std::uint32_t bits = 0;
            const char* end = text->data() + text->size();
            auto r = std::from_chars(text->data() + 2, end, bits, 16);
            if (r.ec == std::errc() && r.ptr == end)
                return std::bit_cast<float>(bits);
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

    // A base64 block that must hold exactly `bytes` bytes: its text, checked
    // for length before anything is allocated for it.
    std::string_view Block(const Json& parent, const std::string& path, const char* key, std::uint64_t bytes) const
    {
        const Json& v = Get(parent, path, key);
        auto text = doc_.TextOf(v);
        if (!text)
            Damaged("поле «" + Member(path, key) + "» должно быть строкой base64.");
        if (text->size() != Base64Length(bytes))
            Damaged("длина поля «" + Member(path, key) + "» не согласуется с размерами: ожидалось " +
                    std::to_string(bytes) + " байт.");
        return *text;
    }

    void Decode(std::string_view block, const std::string& path, const char* key, void* out, std::size_t bytes) const
    {
        if (!DecodeBase64(block, out, bytes))
            Damaged("поле «" + Member(path, key) + "» — не правильная запись base64.");
    }

    std::optional<std::string_view> TextOf(const Json& v) const { return doc_.TextOf(v); }

private:
    const TDocument& doc_;
};

struct TLayerPlan {
    std::uint32_t inputs = 0;
    std::uint32_t neurons = 0;
    float slope = 1.0f, amplitude = 1.0f, offset = 0.0f;
    std::string_view weights, changes;
};

void ReadNetwork(const TReader& r, const Json& root, TProjectState& state)
{
    const Json& v = r.Get(root, "", "network");
    if (v.is_null())
        return;
    if (!v.is_object())
        Damaged("поле «network» должно быть объектом или null.");
    const std::string path = "network";
    const float inputOffset = r.Float(v, path, "inputOffset");
    const float targetOffset = r.Float(v, path, "targetOffset");
    const float inputScale = r.Float(v, path, "inputScale");
    const float targetScale = r.Float(v, path, "targetScale");
    const Json& layers = r.Get(v, path, "layers");
    if (!layers.is_array() || layers.size() > MaxLayerCount)
        Damaged("поле «network.layers» должно быть массивом не более чем из " + std::to_string(MaxLayerCount) +
                " слоёв.");
    std::vector<TLayerPlan> plan(layers.size());
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < plan.size(); ++k) {
        const std::string lp = "network.layers[" + std::to_string(k) + "]";
        const Json& l = layers[k];
        if (!l.is_object())
            Damaged("поле «" + lp + "» должно быть объектом.");
        TLayerPlan& p = plan[k];
        p.inputs = static_cast<std::uint32_t>(r.Unsigned(l, lp, "inputs", 1, PatternRing::MaxDimension));
        p.neurons = static_cast<std::uint32_t>(r.Unsigned(l, lp, "neurons", 1, MaxNeuronCount));
        if (k > 0 && p.inputs != plan[k - 1].neurons)
            Damaged("входов у слоя " + std::to_string(k) + " (" + std::to_string(p.inputs) +
                    ") не столько, сколько нейронов у слоя перед ним (" + std::to_string(plan[k - 1].neurons) + ").");
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

    std::vector<std::uint32_t> sizes;
    if (!plan.empty())
        sizes.push_back(plan[0].inputs);
    for (const TLayerPlan& p : plan) sizes.push_back(p.neurons);
    auto net = std::make_unique<TNeuralNet>(static_cast<std::uint32_t>(plan.size()), sizes, 0.0f, inputOffset,
                                            targetOffset, inputScale, targetScale);
    std::vector<float> row;
    for (std::size_t k = 0; k < plan.size(); ++k) {
        const TLayerPlan& p = plan[k];
        const std::string lp = "network.layers[" + std::to_string(k) + "]";
        TLayer& layer = net->layers[k];
        layer.slope = p.slope;
        layer.amplitude = p.amplitude;
        layer.offset = p.offset;
        row.resize((std::size_t{p.inputs} + 1) * p.neurons);
        const auto fill = [&](std::string_view block, const char* key, TWeightMatrix& m) {
            r.Decode(block, lp, key, row.data(), row.size() * sizeof(float));
            for (std::size_t i = 0; i < m.Rows(); ++i)
                std::memcpy(m[i], row.data() + i * m.Columns(), m.Columns() * sizeof(float));
        };
        fill(p.weights, "weights", layer.weights);
        fill(p.changes, "changes", net->changes[k].weights);
    }
    net->ChangesRestored();
    state.net = std::move(net);
}

void ReadSequence(const TReader& r, const Json& root, TProjectState& state)
{
    const std::string path = "sequence";
    const Json& v = r.Object(root, "", "sequence");
    const auto dimension = static_cast<std::uint32_t>(r.Unsigned(v, path, "dimension", 0, PatternRing::MaxDimension));
    const auto count = static_cast<std::uint32_t>(r.Unsigned(v, path, "count", 0, MaxSequenceCount));
    const std::uint64_t column = std::uint64_t{count} * 4;
    const std::string_view classBlock = r.Block(v, path, "classes", column);
    const std::string_view sizeBlock = r.Block(v, path, "sizes", column);
    const std::string_view lengthBlock = r.Block(v, path, "lengths", column);
    std::vector<std::int32_t> classes(count);
    std::vector<std::uint32_t> sizes(count);
    std::vector<std::uint32_t> lengths(count);
    r.Decode(classBlock, path, "classes", classes.data(), column);
    r.Decode(sizeBlock, path, "sizes", sizes.data(), column);
    r.Decode(lengthBlock, path, "lengths", lengths.data(), column);
    std::uint64_t cellBytes = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (sizes[k] > PatternRing::MaxDimension || lengths[k] < sizes[k] ||
            lengths[k] > std::uint64_t{PatternRing::MaxDimension} + 1)
            Damaged("у элемента " + std::to_string(k + 1) + " последовательности размер " + std::to_string(sizes[k]) +
                    " и длина буфера " + std::to_string(lengths[k]) + " не согласуются.");
        cellBytes += lengths[k];
    }
    const std::string_view cellBlock = r.Block(v, path, "cells", cellBytes);
    std::vector<std::int8_t> cells(cellBytes);
    r.Decode(cellBlock, path, "cells", cells.data(), cells.size());

    PatternRing ring;
    ring.Dimension = dimension;
    const std::int8_t* p = cells.data();
    for (std::uint32_t k = 0; k < count; ++k) {
        auto e = std::make_unique<TAbsImage>();
        e->Size = sizes[k];
        e->ClassIndex = classes[k];
        e->Cells.assign(p, p + lengths[k]);
        p += lengths[k];
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
    }
    state.sequence.Swap(ring);
}

void ReadClassNames(const TReader& r, const Json& root, TProjectState& state)
{
    const Json& v = r.Get(root, "", "classNames");
    if (!v.is_array() || v.size() > static_cast<std::size_t>(MaxClassCount))
        Damaged("поле «classNames» должно быть массивом не более чем из " + std::to_string(MaxClassCount) +
                " строк.");
    state.classNames.reserve(v.size());
    for (const Json& name : v) {
        auto text = r.TextOf(name);
        if (!text)
            Damaged("имена классов в поле «classNames» должны быть строками.");
        state.classNames.emplace_back(*text);
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

void ReadSeries(const TReader& r, const Json& root, TProjectState& state)
{
    const std::string path = "series";
    const Json& v = r.Object(root, "", "series");
    const auto count = static_cast<std::uint32_t>(r.Unsigned(v, path, "count", 0, std::numeric_limits<std::int32_t>::max()));
    const std::string_view block = r.Block(v, path, "values", std::uint64_t{count} * sizeof(float));
    const float min = r.Float(v, path, "min");
    const float max = r.Float(v, path, "max");
    const auto windowSize = static_cast<std::uint32_t>(r.Unsigned(v, path, "windowSize", 0, PatternRing::MaxDimension));
    const auto trainLength = static_cast<std::uint32_t>(r.Unsigned(v, path, "trainLength", 0, count));
    if (windowSize > 0 && windowSize >= count)
        Damaged("размер окна ряда (" + std::to_string(windowSize) + ") должен быть меньше числа его значений (" +
                std::to_string(count) + ").");
    const bool fromFirstWindow = r.Bool(v, path, "fromFirstWindow");
    if (count > 0) {
        state.series.values = std::make_unique_for_overwrite<float[]>(count);
        r.Decode(block, path, "values", state.series.values.get(), std::size_t{count} * sizeof(float));
    }
    state.series.count = static_cast<std::int32_t>(count);
    state.seriesMin = min;
    state.seriesMax = max;
    state.windowSize = windowSize;
    state.trainLength = trainLength;
    state.fromFirstWindow = fromFirstWindow;
}

// The random generator's state, when the file holds one: 16 hexadecimal digits.
void ReadGenerator(const TReader& r, const Json& root, TProjectState& state)
{
    state.generator.reset();
    const auto member = root.find("generator");
    if (member == root.end())
        return;
    const std::optional<std::string_view> text = r.TextOf(*member);
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
    state.generator = value;
}

// The checksum member closing the file: where its key starts and the value
// it states; nullopt when the file does not end with one.
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

// The whole file, or a refusal: only a regular file no larger than the
// limit is read, and never one that would block (a FIFO).
std::string ReadWholeFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw TRefusal{errno == ENOENT ? std::string("не найден.") : "недоступен: " + SystemReason(errno) + "."};
    if (S_ISDIR(st.st_mode))
        throw TRefusal{"— это папка, а не файл проекта."};
    if (!S_ISREG(st.st_mode))
        throw TRefusal{"— не обычный файл (а канал, устройство или сокет), его нельзя открыть как проект."};
    if (static_cast<std::uint64_t>(st.st_size) > MaxProjectFileBytes)
        throw TRefusal{"слишком велик для файла проекта: " + std::to_string(st.st_size) +
                       " байт, допустимо не больше " + std::to_string(MaxProjectFileBytes) + "."};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw TRefusal{"не удаётся открыть: " + SystemReason(errno) + "."};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // The name may have been given to something else since stat.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > MaxProjectFileBytes)
        throw TRefusal{"— не обычный файл (а канал, устройство или сокет), его нельзя открыть как проект."};
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t have = 0;
    for (;;) {
        // One byte more than announced is asked for, to notice a file that grew.
        char extra;
        const bool full = have == text.size();
        const ssize_t got = full ? ::read(fd, &extra, 1) : ::read(fd, text.data() + have, text.size() - have);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw TRefusal{"не удаётся прочитать: " + SystemReason(errno) + "."};
        }
        if (got == 0)
            break;
        if (full)
            throw TRefusal{"изменился во время чтения."};
        have += static_cast<std::size_t>(got);
    }
    if (have != text.size())
        throw TRefusal{"изменился во время чтения."};
    return text;
}

void ReadProject(const std::string& path, TProjectState& state)
{
    const std::string text = ReadWholeFile(path);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        throw TRefusal{"пуст."};
    const std::optional<TChecksumTail> tail = FindChecksumTail(text);
    TDocument doc(text);
    try {
        doc.Parse();
    } catch (const Json::parse_error& e) {
        throw TRefusal{"не является файлом проекта Trelis или повреждён: ошибка разбора JSON в байте " +
                       std::to_string(e.byte) + "."};
    }
    const Json& root = doc.Root();
    TReader r(doc);
    const auto format = root.is_object() && root.contains("format") ? doc.TextOf(root["format"]) : std::nullopt;
    if (!format || *format != ProjectFileFormat)
        throw TRefusal{"не является файлом проекта Trelis."};
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer() || version->get<std::int64_t>() < 1)
        Damaged("нет правильного номера версии.");
    if (version->get<std::int64_t>() > ProjectFileVersion)
        throw TRefusal{"записан более новой версией программы (версия формата " +
                       std::to_string(version->get<std::int64_t>()) + ", а эта программа читает версии до " +
                       std::to_string(ProjectFileVersion) + "). Обновите программу, чтобы открыть его."};
    if (!tail)
        Damaged("в конце нет контрольной суммы (возможно, файл обрезан).");
    if (Crc32(text.data(), tail->keyOffset) != tail->value)
        Damaged("контрольная сумма не совпадает.");

    ReadNetwork(r, root, state);
    ReadSequence(r, root, state);
    ReadClassNames(r, root, state);
    ReadRetina(r, root, state);
    ReadSeries(r, root, state);
    ReadGenerator(r, root, state);
}

} // namespace

std::string SaveProjectFile(const TProjectState& state, const std::string& path)
{
    const std::string failed = "Не удалось сохранить проект в файл " + Shown(path) + ": ";
    std::string text;
    try {
        const std::vector<const TAbsImage*> elements = RingElements(state.sequence);
        if (std::string refusal = StateRefusal(state, elements); !refusal.empty())
            return failed + refusal;
        text = ProjectText(state, elements);
        PutChecksum(text);
    } catch (const std::bad_alloc&) {
        return failed + "недостаточно памяти.";
    }

    const std::string reason = SaveFileAtomically(path, text);
    return reason.empty() ? reason : failed + reason;
}

std::string OpenProjectFile(const std::string& path, TProjectState& out)
{
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
