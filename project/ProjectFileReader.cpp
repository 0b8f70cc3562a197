// The project file's reader: every member of the scanned and parsed
// document (ProjectFileScan.h) checked, then the state built from it.

#include "project/ProjectFile.h"

#include "project/AtomicFile.h"
#include "project/ProjectFileFormat.h"
#include "project/ProjectFileScan.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

using namespace project_file;

namespace {

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
    const Json& v = r.Get(root, "", member::network);
    if (v.is_null())
        return plan;
    if (!v.is_object())
        Damaged("поле «network» должно быть объектом или null.");
    const std::string path = member::network;
    plan.present = true;
    plan.inputOffset = r.Float(v, path, member::inputOffset);
    plan.targetOffset = r.Float(v, path, member::targetOffset);
    plan.inputScale = r.Float(v, path, member::inputScale);
    plan.targetScale = r.Float(v, path, member::targetScale);
    const Json& layers = r.Get(v, path, member::layers);
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
        p.inputs = static_cast<std::uint32_t>(r.Unsigned(l, lp, member::inputs, 1, PatternRing::MaxDimension));
        p.neurons = static_cast<std::uint32_t>(r.Unsigned(l, lp, member::neurons, 1, MaxNeuronCount));
        if (k > 0 && p.inputs != plan.layers[k - 1].neurons)
            Damaged("входов у слоя " + std::to_string(k) + " (" + std::to_string(p.inputs) +
                    ") не столько, сколько нейронов у слоя перед ним (" + std::to_string(plan.layers[k - 1].neurons) +
                    ").");
        p.slope = r.Float(l, lp, member::slope);
        p.amplitude = r.Float(l, lp, member::amplitude);
        p.offset = r.Float(l, lp, member::offset);
        const std::uint64_t count = (std::uint64_t{p.inputs} + 1) * p.neurons;
        total += count;
        if (total > MaxNetworkWeightCount)
            Damaged("в сети больше " + std::to_string(MaxNetworkWeightCount) + " весов.");
        p.weights = r.Block(l, lp, member::weights, count * sizeof(float));
        p.changes = r.Block(l, lp, member::changes, count * sizeof(float));
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
    const std::string path = member::sequence;
    const Json& v = r.Object(root, "", member::sequence);
    TSequencePlan plan;
    plan.dimension = static_cast<std::uint32_t>(r.Unsigned(v, path, member::dimension, 0, PatternRing::MaxDimension));
    const auto count = static_cast<std::uint32_t>(r.Unsigned(v, path, member::count, 0, MaxSequenceCount));
    const std::uint64_t column = std::uint64_t{count} * 4;
    const TBlock classBlock = r.Block(v, path, member::classes, column);
    const TBlock sizeBlock = r.Block(v, path, member::sizes, column);
    const TBlock lengthBlock = r.Block(v, path, member::lengths, column);
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
    plan.cells = r.Block(v, path, member::cells, cellBytes);
    return plan;
}

void BuildSequence(const TReader& r, const TSequencePlan& plan, TProjectState& state)
{
    PatternRing ring;
    ring.SetDimension(plan.dimension);
    // Linked in after the cursor, which then moves onto it: the element
    // listed last ends up the cursor, the first one its successor.
    const auto link = [&ring](std::unique_ptr<TAbsImage> e) { ring.Insert(std::move(e)); };
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
    const Json& v = r.Get(root, "", member::classNames);
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
    Json& v = root[member::classNames];
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
    const Json& v = r.Object(root, "", member::retina);
    const auto width = r.Unsigned(v, member::retina, member::width, 0, MaxElementSize);
    const auto height = r.Unsigned(v, member::retina, member::height, 0, MaxElementSize);
    if (width * height > static_cast<std::uint64_t>(MaxElementSize))
        Damaged("ретина " + std::to_string(width) + " × " + std::to_string(height) + " больше допустимой.");
    state.retinaWidth = static_cast<std::int32_t>(width);
    state.retinaHeight = static_cast<std::int32_t>(height);
}

TSeriesPlan CheckSeries(const TReader& r, const Json& root)
{
    const std::string path = member::series;
    const Json& v = r.Object(root, "", member::series);
    TSeriesPlan plan;
    plan.count =
        static_cast<std::uint32_t>(r.Unsigned(v, path, member::count, 0, std::numeric_limits<std::int32_t>::max()));
    plan.values = r.Block(v, path, member::values, std::uint64_t{plan.count} * sizeof(float));
    plan.min = r.Float(v, path, member::min);
    plan.max = r.Float(v, path, member::max);
    plan.windowSize = static_cast<std::uint32_t>(r.Unsigned(v, path, member::windowSize, 0, PatternRing::MaxDimension));
    plan.trainLength = static_cast<std::uint32_t>(r.Unsigned(v, path, member::trainLength, 0, plan.count));
    if (plan.windowSize > 0 && plan.windowSize >= plan.count)
        Damaged("размер окна ряда (" + std::to_string(plan.windowSize) + ") должен быть меньше числа его значений (" +
                std::to_string(plan.count) + ").");
    plan.fromFirstWindow = r.Bool(v, path, member::fromFirstWindow);
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
    const auto found = root.find(member::generator);
    if (found == root.end())
        return std::nullopt;
    const std::string* text = found->is_string() ? &found->get_ref<const std::string&>() : nullptr;
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
    const auto found = root.find(member::fit);
    if (found == root.end())
        return TFigureFit::Stretch;
    if (found->is_string() && found->get_ref<const std::string&>() == value::aspect)
        return TFigureFit::Aspect;
    if (found->is_string() && found->get_ref<const std::string&>() == value::stretch)
        return TFigureFit::Stretch;
    Damaged("способ вырезания фигур («fit») — не \"stretch\" и не \"aspect\".");
}

// The settings of the next training run; the defaults when the file has
// none (files saved before they were kept).
TRunSettings ReadTraining(const TReader& r, const Json& root)
{
    TRunSettings t;
    const auto found = root.find(member::training);
    if (found == root.end())
        return t;
    const std::string path = member::training;
    const Json& v = r.Object(root, "", member::training);
    const auto method = r.TextOf(r.Get(v, path, member::method));
    if (!method || (*method != value::backprop && *method != value::stochastic))
        Damaged("поле «training.method» должно быть \"backprop\" или \"stochastic\".");
    t.step.method = *method == value::stochastic ? TTrainingMethod::Stochastic : TTrainingMethod::BackPropagation;
    t.step.learningRate = r.Float(v, path, member::rate);
    t.step.momentum = r.Float(v, path, member::momentum);
    t.step.stepWidth = r.Float(v, path, member::stepWidth);
    t.maxEpochs = r.Unsigned(v, path, member::maxEpochs, 0, 1000000000);
    t.keepGoing = r.Bool(v, path, member::keepGoing);
    if (const auto target = v.find(member::targetAccuracy); target != v.end()) {
        if (!target->is_number() || !(target->get<double>() >= 0.0 && target->get<double>() <= 1.0))
            Damaged("поле «training.targetAccuracy» должно быть числом от 0 до 1.");
        t.targetAccuracy = target->get<double>();
    }
    t.patience = r.Unsigned(v, path, member::patience, 0, 1000000000);
    const auto heldOut = r.TextOf(r.Get(v, path, member::heldOut));
    if (!heldOut)
        Damaged("поле «training.heldOut» должно быть строкой.");
    t.heldOutPath = *heldOut;
    t.keepBest = r.Bool(v, path, member::keepBest);
    if (v.find(member::seed) != v.end())
        t.seed = r.Unsigned(v, path, member::seed, 0, 0x7fffffffffffffffull);
    return t;
}

// The seed of the network's initial weights, when the file holds one.
std::optional<std::uint64_t> ReadSeed(const Json& root)
{
    const auto found = root.find(member::seed);
    if (found == root.end())
        return std::nullopt;
    if (!found->is_number_unsigned() && !(found->is_number_integer() && found->get<std::int64_t>() >= 0))
        Damaged("зерно начальных весов («seed») — не целое неотрицательное число.");
    return found->get<std::uint64_t>();
}

// The checksum member closing the file: where its key starts and the value
// it states; nullopt when the text does not end with one.
struct TChecksumTail {
    std::size_t keyOffset = 0;
    std::uint32_t value = 0;
};

std::optional<TChecksumTail> FindChecksumTail(const std::string& text)
{
    const std::string key = std::string("\"") + member::checksum + '"';
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
    TScan scan = ScanProjectFile(file);
    if (scan.empty)
        throw TRefusal{"пуст."};
    std::optional<std::uint32_t> checksum;
    const std::optional<TChecksumTail> tail = FindChecksumTail(scan.skeleton);
    if (tail)
        checksum = scan.ChecksumBefore(tail->keyOffset);
    // A project is a JSON object; anything else is another kind of file.
    const std::size_t first = scan.skeleton.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || scan.skeleton[first] != '{')
        throw TRefusal{NotAProject};
    if (scan.fault)
        throw TRefusal{*scan.fault};
    TDocument doc(file, std::move(scan.blobs));
    try {
        doc.Parse(scan.skeleton);
    } catch (const Json::parse_error& e) {
        throw TRefusal{"не является файлом проекта Trelis или повреждён: ошибка разбора JSON в байте " +
                       std::to_string(e.byte) + "."};
    }
    std::string().swap(scan.skeleton);
    Json& root = doc.Root();
    TReader r(doc);
    const auto format = root.is_object() && root.contains(member::format) ? doc.TextOf(root[member::format]) : std::nullopt;
    if (!format || *format != ProjectFileFormat)
        throw TRefusal{NotAProject};
    const auto version = root.find(member::version);
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
