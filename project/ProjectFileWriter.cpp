// The project file's writer: the document is written by hand, member after
// member, straight into a buffer of a fixed size that goes to the file (and
// into the checksum) whenever it fills. Nothing of the document is built in
// memory first, neither as a JSON value nor as text: the large blocks (the
// weights, the sequence's cells, the series) are encoded as base64 piece by
// piece from where they lie, and the class names are escaped on their way
// out. That is what keeps the memory a save takes near the project's own
// size, however large the project: a JSON library's document would hold the
// whole text, and more, besides the project. Keep it so.

#include "project/ProjectFile.h"

#include "project/AtomicFile.h"
#include "project/ProjectFileFormat.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

using namespace project_file;

namespace {

using Json = nlohmann::json;

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

// One of the document's own names as a JSON string (plain ASCII, nothing to escape).
void PutName(TTextOut& out, const char* name)
{
    out += '"';
    out += name;
    out += '"';
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
    if (state.sequence.GetDimension() > PatternRing::MaxDimension || elements.size() > MaxSequenceCount)
        return "обучающая последовательность слишком велика.";
    for (const TAbsImage& e : elements)
        if (e.Size > PatternRing::MaxDimension || e.Cells.size() < e.Size ||
            e.Cells.size() > std::size_t{PatternRing::MaxDimension} + 1)
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
    PutKey(out, 1, member::training);
    out += '{';
    PutKey(out, 2, member::method, true);
    PutName(out, t.step.method == TTrainingMethod::Stochastic ? value::stochastic : value::backprop);
    PutKey(out, 2, member::rate);
    PutFloat(out, t.step.learningRate);
    PutKey(out, 2, member::momentum);
    PutFloat(out, t.step.momentum);
    PutKey(out, 2, member::stepWidth);
    PutFloat(out, t.step.stepWidth);
    PutKey(out, 2, member::maxEpochs);
    PutInt(out, t.maxEpochs);
    PutKey(out, 2, member::keepGoing);
    out += t.keepGoing ? "true" : "false";
    if (t.targetAccuracy) {
        PutKey(out, 2, member::targetAccuracy);
        out += Json(*t.targetAccuracy).dump();
    }
    PutKey(out, 2, member::patience);
    PutInt(out, t.patience);
    PutKey(out, 2, member::heldOut);
    PutString(out, t.heldOutPath);
    PutKey(out, 2, member::keepBest);
    out += t.keepBest ? "true" : "false";
    if (t.seed) {
        PutKey(out, 2, member::seed);
        PutInt(out, *t.seed);
    }
    out += "\n }";
}

// The network's offsets and scales, and each layer with its two weight
// blocks; null when there is none.
void PutNetwork(TTextOut& out, const TNeuralNet* net)
{
    PutKey(out, 1, member::network);
    if (!net) {
        out += "null";
        return;
    }
    out += '{';
    PutKey(out, 2, member::inputOffset, true);
    PutFloat(out, net->inputOffset);
    PutKey(out, 2, member::targetOffset);
    PutFloat(out, net->targetOffset);
    PutKey(out, 2, member::inputScale);
    PutFloat(out, net->inputScale);
    PutKey(out, 2, member::targetScale);
    PutFloat(out, net->targetScale);
    PutKey(out, 2, member::layers);
    out += '[';
    for (std::size_t k = 0; k < net->layers.size(); ++k) {
        const TLayer& layer = net->layers[k];
        out += k == 0 ? "\n   {" : ",\n   {";
        PutKey(out, 4, member::inputs, true);
        PutInt(out, layer.inputCount);
        PutKey(out, 4, member::neurons);
        PutInt(out, layer.neuronCount);
        PutKey(out, 4, member::slope);
        PutFloat(out, layer.slope);
        PutKey(out, 4, member::amplitude);
        PutFloat(out, layer.amplitude);
        PutKey(out, 4, member::offset);
        PutFloat(out, layer.offset);
        PutKey(out, 4, member::weights);
        PutMatrix(out, layer.weights);
        PutKey(out, 4, member::changes);
        PutMatrix(out, net->changes[k].weights);
        out += "\n   }";
    }
    out += net->layers.empty() ? "]" : "\n  ]";
    out += "\n }";
}

// One column of the sequence: a field of every element, as base64 of its bytes.
template <class Field>
void PutColumn(TTextOut& out, const TRingElements& elements, const char* key, Field field)
{
    PutKey(out, 2, key);
    out += '"';
    TBase64Writer w(out);
    for (const TAbsImage& e : elements) {
        const auto value = field(e);
        w.Put(&value, sizeof value);
    }
    w.Finish();
    out += '"';
}

// The training sequence: its elements' classes, sizes and buffer lengths as
// columns, then all their cells as one block.
void PutSequence(TTextOut& out, const PatternRing& sequence, const TRingElements& elements)
{
    PutKey(out, 1, member::sequence);
    out += '{';
    PutKey(out, 2, member::dimension, true);
    PutInt(out, sequence.GetDimension());
    PutKey(out, 2, member::count);
    PutInt(out, elements.size());
    PutColumn(out, elements, member::classes, [](const TAbsImage& e) { return e.ClassIndex; });
    PutColumn(out, elements, member::sizes, [](const TAbsImage& e) { return e.Size; });
    PutColumn(out, elements, member::lengths, [](const TAbsImage& e) { return static_cast<std::uint32_t>(e.Cells.size()); });
    PutKey(out, 2, member::cells);
    out += '"';
    {
        TBase64Writer w(out);
        for (const TAbsImage& e : elements) w.Put(e.Cells.data(), e.Cells.size());
        w.Finish();
    }
    out += "\"\n }";
}

void PutClassNames(TTextOut& out, const std::vector<std::string>& classNames)
{
    PutKey(out, 1, member::classNames);
    out += '[';
    for (std::size_t k = 0; k < classNames.size(); ++k) {
        out += k == 0 ? "\n  " : ",\n  ";
        PutString(out, classNames[k]);
    }
    out += classNames.empty() ? "]" : "\n ]";
}

void PutRetina(TTextOut& out, const TProjectState& state)
{
    PutKey(out, 1, member::retina);
    out += '{';
    PutKey(out, 2, member::width, true);
    PutInt(out, state.retinaWidth);
    PutKey(out, 2, member::height);
    PutInt(out, state.retinaHeight);
    out += "\n }";
}

// The series' values as base64 of their floats, and its settings.
void PutSeries(TTextOut& out, const TProjectState& state)
{
    const std::uint32_t count = SeriesCountOf(state);
    PutKey(out, 1, member::series);
    out += '{';
    PutKey(out, 2, member::count, true);
    PutInt(out, count);
    PutKey(out, 2, member::values);
    out += '"';
    {
        TBase64Writer w(out);
        if (count > 0)
            w.Put(state.series.values.get(), std::size_t{count} * sizeof(float));
        w.Finish();
    }
    out += '"';
    PutKey(out, 2, member::min);
    PutFloat(out, state.seriesMin);
    PutKey(out, 2, member::max);
    PutFloat(out, state.seriesMax);
    PutKey(out, 2, member::windowSize);
    PutInt(out, state.windowSize);
    PutKey(out, 2, member::trainLength);
    PutInt(out, state.trainLength);
    PutKey(out, 2, member::fromFirstWindow);
    out += state.fromFirstWindow ? "true" : "false";
    out += "\n }";
}

// How the samples were cut, the seed of the initial weights and the random
// generator's state; the last two only when the state has them.
void PutFitAndSeeds(TTextOut& out, const TProjectState& state)
{
    PutKey(out, 1, member::fit);
    PutName(out, state.fit == TFigureFit::Aspect ? value::aspect : value::stretch);
    if (state.seed) {
        PutKey(out, 1, member::seed);
        PutInt(out, *state.seed);
    }
    if (state.generator) {
        PutKey(out, 1, member::generator);
        char hex[19] = "\"";
        for (int i = 0; i < 16; ++i)
            hex[1 + i] = "0123456789abcdef"[(*state.generator >> (60 - 4 * i)) & 15];
        hex[17] = '"';
        out.append(hex, 18);
    }
}

// The whole document up to, not including, the "checksum" member.
void WriteProjectText(TTextOut& out, const TProjectState& state, const TRingElements& elements)
{
    out += '{';
    PutKey(out, 1, member::format, true);
    out += '"';
    out += ProjectFileFormat;
    out += '"';
    PutKey(out, 1, member::version);
    PutInt(out, ProjectFileVersion);
    PutNetwork(out, state.net.get());
    PutSequence(out, state.sequence, elements);
    PutClassNames(out, state.classNames);
    PutRetina(out, state);
    PutSeries(out, state);
    PutTraining(out, state.training);
    PutFitAndSeeds(out, state);
    out += ",\n ";
}

// Writes the checksum member over everything before it, and the closing brace.
void PutChecksum(TTextOut& out)
{
    const std::uint32_t crc = out.Crc();
    char hex[9];
    for (int i = 0; i < 8; ++i) hex[i] = "0123456789abcdef"[(crc >> (28 - 4 * i)) & 15];
    hex[8] = '\0';
    // The document before it ends with the comma and indentation of this key.
    out += '"';
    out += member::checksum;
    out += "\": \"";
    out += hex;
    out += "\"\n}\n";
}

} // namespace

std::string SaveProjectFile(const TProjectState& state, const std::string& path,
                            const std::vector<TFileToWrite>& alongside)
{
    const std::string failed = "Не удалось сохранить проект в файл " + Shown(path) + ": ";
    const TRingElements elements = state.sequence.FileOrder();
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
