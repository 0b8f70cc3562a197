// The project file: what is saved opens bit for bit the same and trains on
// as if it had never been saved; what is damaged, hostile or not a project
// file at all is refused with a reason and leaves the caller's state alone;
// a failed save leaves the old file as it was and no scratch file behind.
#include "project/ProjectFile.h"

#include "StateDifference.h"
#include "project/Learning.h"
#include "project/SeriesMath.h"

#include "tests/images/TempFiles.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <bit>
#include <csignal>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using ProjectFileTest = TempFolderTest;

// Element with the given cells, class and Size; the buffer is exactly `cells`
// (Size may be less than its length, or equal to it: no bias byte).
void AddElement(PatternRing& ring, std::vector<std::int8_t> cells, std::uint32_t size, std::int32_t classIndex)
{
    auto element = std::make_unique<TAbsImage>();
    element->Size = size;
    element->ClassIndex = classIndex;
    element->Cells = std::move(cells);
    ring.Insert(std::move(element));
}

std::unique_ptr<TNeuralNet> Net(const std::vector<std::uint32_t>& sizes, float range)
{
    return std::make_unique<TNeuralNet>(static_cast<std::uint32_t>(sizes.size() - 1), sizes, range, 0.0f, 0.0f,
                                        1.0f, 1.0f);
}

void SetSeries(TProjectState& s, std::vector<float> values, std::uint32_t windowSize, std::uint32_t trainLength)
{
    s.series.count = static_cast<std::int32_t>(values.size());
    s.series.values = std::make_unique<float[]>(values.size());
    std::copy(values.begin(), values.end(), s.series.values.get());
    s.windowSize = windowSize;
    s.trainLength = trainLength;
}

// A state that uses every member, with the awkward values each may hold.
void FillRich(TProjectState& s)
{
    s.net = Net({5, 3, 4, 2}, 0.5f);
    TNeuralNet& net = *s.net;
    net.inputOffset = 0.25f;
    net.targetOffset = -1e-30f;
    net.inputScale = std::numeric_limits<float>::infinity();
    net.targetScale = std::bit_cast<float>(0x7fc01234u); // a NaN with a payload
    net.layers[1].slope = 0.5f;
    net.layers[1].amplitude = 2.0f;
    net.layers[1].offset = -0.0f;
    net.layers[2].slope = 1e-45f; // the smallest subnormal
    net.layers[0].weights[0][0] = std::bit_cast<float>(0xffc00001u);
    net.layers[0].weights[1][1] = -std::numeric_limits<float>::infinity();
    net.layers[0].weights[2][2] = -0.0f;
    for (std::size_t k = 0; k < net.changes.size(); ++k) {
        TWeightMatrix& c = net.changes[k].weights;
        for (std::size_t i = 0; i < c.Rows(); ++i)
            for (std::size_t j = 0; j < c.Columns(); ++j) c[i][j] = static_cast<float>(k + 1) * 0.001f * (i - j);
    }
    net.changes[2].weights[0][1] = std::numeric_limits<float>::infinity();

    s.sequence.SetDimension(7);
    AddElement(s.sequence, {1, 0, 1, 1, 0, 0, 1, 1}, 7, 0);
    AddElement(s.sequence, {1}, 0, -1);
    AddElement(s.sequence, {1, 1, 0}, 3, std::numeric_limits<std::int32_t>::max());
    AddElement(s.sequence, {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 1, -5, 7, 9}, 9, 25);
    s.sequence.StepCursor(); // the cursor mid-ring
    s.sequence.StepCursor();

    s.classNames = {"ноль", "", "класс \"два\"\\\n\t", std::string(80, 'A') + "==", std::string(70, 'B') + "\"", "日本", "z"};
    s.retinaWidth = 13;
    s.retinaHeight = 17;
    SetSeries(s, {0.0f, 1.0f, 0.5f, std::bit_cast<float>(0x7f800001u), -0.0f, 0.25f, 1e-40f, 0.75f, 0.125f}, 3, 7);
    s.seriesMin = -3.5f;
    s.seriesMax = 1e10f;
    s.fromFirstWindow = true;
    s.generator = 0xf00dbeef12345678u;
    s.fit = TFigureFit::Aspect;
    s.seed = 0x7fffffffffffffffu;
    s.training.step = {TTrainingMethod::Stochastic, 0.3f, 0.9f, 1e-45f};
    s.training.maxEpochs = 77;
    s.training.keepGoing = true;
    s.training.targetAccuracy = 0.25;
    s.training.patience = 5;
    s.training.heldOutPath = "проверка \"digits\".llt";
    s.training.keepBest = false;
    s.training.seed = 0;
}

TEST_F(ProjectFileTest, SavedProjectsOpenBitForBitTheSame)
{
    const std::vector<std::pair<const char*, std::function<void(TProjectState&)>>> cases = {
        {"an empty project", [](TProjectState&) {}},
        {"every member with awkward values", FillRich},
        {"a network of no layers and one element", [](TProjectState& s) {
             s.net = Net({0}, 0.0f);
             AddElement(s.sequence, {1, 1}, 1, 3);
         }},
        {"a wide network", [](TProjectState& s) { s.net = Net({400, 64, 26}, 0.5f); }},
        {"the largest retina", [](TProjectState& s) {
             s.retinaWidth = 400;
             s.retinaHeight = 500;
         }},
    };
    for (const auto& [name, fill] : cases) {
        SCOPED_TRACE(name);
        TProjectState saved;
        fill(saved);
        ASSERT_EQ(SaveProjectFile(saved, Path("a.trelis")), "");
        TProjectState opened;
        ASSERT_EQ(OpenProjectFile(Path("a.trelis"), opened), "");
        EXPECT_EQ(StateDifference(saved, opened), "");
        // And what opens saves back to the very same bytes.
        ASSERT_EQ(SaveProjectFile(opened, Path("b.trelis")), "");
        EXPECT_EQ(ReadText(Path("a.trelis")), ReadText(Path("b.trelis")));
    }
}

// What K more epochs leave: the network and what each step answered.
struct TTrainingTrace {
    std::unique_ptr<TNeuralNet> net;
    std::vector<std::uint32_t> winners;
    std::vector<std::uint32_t> answerBits; // best output or epoch error, as bits
};

using TEpochs = std::function<void(TProjectState&, int, TTrainingTrace*)>;

// A fingerprint of every weight change of the network's first layer.
std::uint32_t FirstChangesHash(const TNeuralNet& net)
{
    const TWeightMatrix& c = net.changes[0].weights;
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < c.Rows(); ++i)
        for (std::size_t j = 0; j < c.Columns(); ++j) h = (h ^ std::bit_cast<std::uint32_t>(c[i][j])) * 16777619u;
    return h;
}

// Each step's answer and the changes it left (a stale change row would show
// up mid-epoch only: the epoch's last element clears it again).
void PatternEpochs(TProjectState& s, int epochs, TTrainingTrace* trace)
{
    TPatternTrainer trainer;
    for (int e = 0; e < epochs; ++e)
        trainer.RunEpoch(*s.net, s.sequence, TTrainingSettings{}, [&](const TPatternAnswer& a) {
            if (trace) {
                trace->winners.push_back(a.winner);
                trace->answerBits.push_back(std::bit_cast<std::uint32_t>(a.best));
                trace->answerBits.push_back(FirstChangesHash(*s.net));
            }
        });
    if (trace) {
        std::vector<std::int8_t> scratch;
        for (const TAbsImage& e : s.sequence.Elements()) {
            const TWinner w = Classify(*s.net, e, scratch);
            trace->winners.push_back(w.index);
            trace->answerBits.push_back(std::bit_cast<std::uint32_t>(w.value));
        }
    }
}

void SeriesEpochs(TProjectState& s, int epochs, TTrainingTrace* trace)
{
    std::vector<float> window(s.windowSize + 1);
    float target = 0.0f;
    float lastError = 0.0f;
    for (int e = 0; e < epochs; ++e) {
        const TEpochErrors errors = TrainSeriesEpoch(*s.net, s.series.values.get(), s.trainLength, s.windowSize,
                                                     window.data(), &target, lastError);
        lastError = errors.lastError;
        if (trace)
            for (float f : {errors.minError, errors.maxError, errors.lastError})
                trace->answerBits.push_back(std::bit_cast<std::uint32_t>(f));
    }
    if (trace) {
        const auto n = static_cast<std::uint32_t>(s.series.count);
        std::vector<float> reproduction(n);
        ReproduceSeries(*s.net, s.series.values.get(), n, s.trainLength, s.windowSize, s.fromFirstWindow,
                        window.data(), reproduction.data());
        for (float f : reproduction) trace->answerBits.push_back(std::bit_cast<std::uint32_t>(f));
    }
}

TEST_F(ProjectFileTest, TrainingGoesOnAfterOpeningExactlyAsWithoutTheSave)
{
    constexpr int K = 3;
    const std::vector<std::tuple<const char*, std::function<void(TProjectState&)>, TEpochs>> cases = {
        {"pattern network, back-propagation epochs",
         [](TProjectState& s) {
             s.net = Net({30, 8, 5}, 0.5f);
             s.sequence.SetDimension(30);
             std::mt19937 random(7);
             for (int k = 0; k < 12; ++k) {
                 TAbsImage image(30);
                 for (auto& c : image.Cells) c = static_cast<std::int8_t>(random() % 3 == 0);
                 s.sequence.Add(image, k % 6); // class 5 has no output
             }
             for (int step = 0; step < 3; ++step)
                 s.sequence.StepCursor();
         },
         PatternEpochs},
        {"series network, series epochs",
         [](TProjectState& s) {
             std::vector<float> values(40);
             for (std::size_t i = 0; i < values.size(); ++i)
                 values[i] = 0.5f + 0.5f * std::sin(static_cast<float>(i) * 0.4f);
             SetSeries(s, values, 4, 30);
             s.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{4, 2, 1}, 0.68f, 0.0f, 0.0f, 1.0f,
                                                  1.0f);
         },
         SeriesEpochs},
    };
    for (const auto& [name, fill, epochs] : cases) {
        SCOPED_TRACE(name);
        TProjectState s;
        fill(s);
        // The straight run: 2K epochs on a copy of the untrained network.
        TProjectState straight;
        straight.Swap(s);
        auto untrained = std::make_unique<TNeuralNet>(*straight.net);
        TTrainingTrace expected;
        epochs(straight, K, nullptr);
        epochs(straight, K, &expected);
        straight.net.swap(untrained);
        straight.Swap(s);
        expected.net = std::move(untrained);

        // K epochs, a save, an open, K more.
        epochs(s, K, nullptr);
        ASSERT_EQ(SaveProjectFile(s, Path("p.trelis")), "");
        TProjectState opened;
        ASSERT_EQ(OpenProjectFile(Path("p.trelis"), opened), "");
        TTrainingTrace actual;
        epochs(opened, K, &actual);

        EXPECT_EQ(NetworkDifference(*expected.net, *opened.net), "");
        EXPECT_EQ(actual.winners, expected.winners);
        EXPECT_EQ(actual.answerBits, expected.answerBits);
        EXPECT_TRUE(SameBits(expected.net->outputs, opened.net->outputs, opened.net->outputCount));
    }
}

// CRC-32 as zlib computes it, bit by bit: the file's checksum recomputed
// independently of the library's.
std::uint32_t ReferenceCrc(const std::string& s)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// A document's text (one object, written by dump(1), with no checksum) with
// its checksum, as another tool would write it.
std::string Sealed(std::string text)
{
    text.erase(text.size() - 2); // "\n}"
    text += ",\n ";
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", ReferenceCrc(text));
    return text + "\"checksum\": \"" + hex + "\"\n}\n";
}

std::string Sealed(const Json& doc)
{
    Json body = doc;
    body.erase("checksum");
    return Sealed(body.dump(1));
}

std::string Base64Of(const std::vector<std::uint32_t>& words)
{
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes(reinterpret_cast<const char*>(words.data()), words.size() * 4);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto b = [&](std::size_t k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u; };
        const std::uint32_t v = b(i) << 16 | b(i + 1) << 8 | b(i + 2);
        out += abc[v >> 18];
        out += abc[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? abc[v & 63] : '=';
    }
    return out;
}

TEST_F(ProjectFileTest, DamagedHostileAndForeignFilesAreRefusedAndChangeNothing)
{
    TProjectState source;
    FillRich(source);
    ASSERT_EQ(SaveProjectFile(source, Path("good.trelis")), "");
    const std::string good = ReadText(Path("good.trelis"));
    const Json doc = Json::parse(good);
    const auto edited = [&](const std::function<void(Json&)>& edit) {
        Json d = doc;
        edit(d);
        return Sealed(d);
    };
    const auto flipped = [&](const std::string& near) {
        std::string t = good;
        t[t.find(near) + near.size() + 10] ^= 0x01;
        return t;
    };
    // The last character before the padding with a bit set that must be 0.
    const auto paddingBit = [](Json& block) {
        static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text = block.get<std::string>();
        char& c = text[text.find_first_of('=') - 1];
        c = abc[abc.find(c) | 1];
        block = text;
    };
    std::string deep = "{\"format\": \"trelis-project\", \"version\": 1, \"x\": ";
    for (int i = 0; i < 20; ++i) deep += "[";
    for (int i = 0; i < 20; ++i) deep += "]";
    deep += "}";

    // name, file contents (or a special kind of path), a fragment of the reason
    const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
        {"empty", "", "пуст"},
        {"only white space", " \n", "пуст"},
        {"one byte", good.substr(0, 1), "повреждён"},
        {"cut inside a block", good.substr(0, good.find("\"cells\"") + 20), "повреждён"},
        {"cut before the checksum", good.substr(0, good.rfind("\"checksum\"")), "повреждён"},
        {"cut before the last brace", good.substr(0, good.size() - 2), "повреждён"},
        {"a byte flipped in the cells", flipped("\"cells\": \""), "контрольная сумма не совпадает"},
        {"a byte flipped in the weights", flipped("\"weights\": \""), "контрольная сумма не совпадает"},
        {"not JSON", "Hello, world", "открываются проекты .trelis"},
        {"a sequence file", std::string("\x03\0\0\0\x01\0\0\0\0\0\0\0\x01\x01\x01", 15),
         "последовательность .llt загружается через"},
        {"JSON but another format", edited([](Json& d) { d["format"] = "something-else"; }), "не является файлом проекта"},
        {"no format", "{\"version\": 1}", "не является файлом проекта"},
        {"a newer version", edited([](Json& d) { d["version"] = 2; }), "более новой версией"},
        {"no checksum", [&] { Json d = doc; d.erase("checksum"); return d.dump(1); }(), "нет контрольной суммы"},
        {"layers that do not chain",
         edited([](Json& d) { d["network"]["layers"][1]["inputs"] = 4; }), "не столько"},
        {"a weights block of the wrong length",
         edited([](Json& d) {
             auto& w = d["network"]["layers"][0]["weights"];
             w = w.get<std::string>().substr(4);
         }),
         "длина поля «network.layers[0].weights»"},
        {"weights that are not base64",
         edited([](Json& d) {
             auto& w = d["network"]["layers"][0]["weights"];
             std::string s = w.get<std::string>();
             s[5] = '*';
             w = s;
         }),
         "base64"},
        {"padding bits set in a short block (two '=')",
         edited([&](Json& d) { paddingBit(d["sequence"]["classes"]); }), "base64"},
        {"padding bits set in a short block (one '=')", edited([&](Json& d) { paddingBit(d["sequence"]["cells"]); }),
         "base64"},
        {"padding bits set in a long block",
         edited([&](Json& d) { paddingBit(d["network"]["layers"][1]["weights"]); }), "base64"},
        {"a layer of 2^32-1 inputs",
         edited([](Json& d) { d["network"]["layers"][0]["inputs"] = 4294967295u; }), "network.layers[0].inputs"},
        {"17 layers",
         edited([](Json& d) {
             auto& layers = d["network"]["layers"];
             while (layers.size() < 17) layers.push_back(layers[0]);
         }),
         "network.layers"},
        {"a slope that is text", edited([](Json& d) { d["network"]["layers"][0]["slope"] = "abc"; }),
         "числом с плавающей точкой"},
        {"a slope beyond float", edited([](Json& d) { d["network"]["layers"][0]["slope"] = 1e300; }),
         "числом с плавающей точкой"},
        {"2^32-1 sequence elements", edited([](Json& d) { d["sequence"]["count"] = 4294967295u; }), "sequence.count"},
        {"more sequence elements than blocks hold", edited([](Json& d) { d["sequence"]["count"] = 5000000; }),
         "длина поля «sequence.classes»"},
        {"an element larger than its buffer",
         edited([](Json& d) { d["sequence"]["sizes"] = Base64Of({7, 0, 3, 15}); }), "не согласуются"},
        {"an element of 2^32-1 cells",
         edited([](Json& d) { d["sequence"]["sizes"] = Base64Of({7, 0, 3, 4294967295u}); }), "не согласуются"},
        {"cells missing", edited([](Json& d) { d["sequence"]["cells"] = Base64Of({1, 2}); }), "sequence.cells"},
        {"2^31-1 series values", edited([](Json& d) { d["series"]["count"] = 2147483647; }),
         "длина поля «series.values»"},
        {"a window as long as the series", edited([](Json& d) { d["series"]["windowSize"] = 9; }), "размер окна"},
        {"training beyond the series", edited([](Json& d) { d["series"]["trainLength"] = 10; }),
         "series.trainLength"},
        {"too many class names",
         edited([](Json& d) { d["classNames"] = std::vector<std::string>(MaxClassCount + 1, "x"); }),
         "classNames"},
        {"a class name that is a number", edited([](Json& d) { d["classNames"][0] = 5; }), "classNames"},
        {"a retina of 200,001 cells",
         edited([](Json& d) { d["retina"] = {{"width", 3}, {"height", 66667}}; }), "ретина"},
        {"no series", edited([](Json& d) { d.erase("series"); }), "нет поля «series»"},
        {"a generator state of 15 digits", edited([](Json& d) { d["generator"] = "f00dbeef1234567"; }), "generator"},
        {"a generator state as a number", edited([](Json& d) { d["generator"] = 12; }), "generator"},
        {"an unknown fit", edited([](Json& d) { d["fit"] = "crop"; }), "fit"},
        {"a negative seed", edited([](Json& d) { d["seed"] = -1; }), "seed"},
        {"an unknown training method", edited([](Json& d) { d["training"]["method"] = "adam"; }), "training.method"},
        {"a training held-out path as a number", edited([](Json& d) { d["training"]["heldOut"] = 3; }),
         "training.heldOut"},
        {"a flood of values", edited([](Json& d) { d["extra"] = std::vector<int>(70000, 0); }),
         "слишком много значений"},
        {"deep nesting", deep, "вложенность"},
        {"a number of 9 MiB digits",
         "{\"format\": \"trelis-project\", \"version\": 1, \"x\": " + std::string(std::size_t{9} << 20, '1') + "}",
         "слишком длинные числа"},
        {"a file of 1 GiB and one byte", "<1 GiB + 1>", "слишком велик"},
        {"a folder", "<folder>", "папка"},
        {"a FIFO", "<fifo>", "не обычный файл"},
        {"no such file", "<missing>", "не найден"},
    };
    for (const auto& [name, contents, reason] : cases) {
        SCOPED_TRACE(name);
        const std::string path = Path("bad.trelis");
        fs::remove_all(path);
        if (contents == "<folder>")
            fs::create_directory(path);
        else if (contents == "<fifo>")
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else if (contents != "<missing>")
            WriteText(path, contents == "<1 GiB + 1>" ? "" : contents);
        if (contents == "<1 GiB + 1>")
            fs::resize_file(path, (std::uintmax_t{1} << 30) + 1); // sparse: no disk space taken

        TProjectState out;
        out.classNames = {"прежний"};
        out.retinaWidth = 5;
        out.net = Net({2, 1}, 0.5f);
        const TNeuralNet* const net = out.net.get();
        const std::string message = OpenProjectFile(path, out);
        EXPECT_EQ(message.rfind("Файл «bad.trelis» ", 0), 0u) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
        EXPECT_EQ(message.find("памяти"), std::string::npos) << message;
        EXPECT_EQ(out.net.get(), net);
        EXPECT_EQ(out.classNames, std::vector<std::string>{"прежний"});
        EXPECT_EQ(out.retinaWidth, 5);
        EXPECT_EQ(out.sequence.GetCount(), 0u);
    }
}

TEST_F(ProjectFileTest, StringsAreWrittenAndReadAsTheJsonLibraryHasThem)
{
    // Class names as another tool could write them, between the quotes:
    // each is read as the JSON library reads it, or refused where it refuses
    // it, both alone and amid blanks enough to be read from the file rather
    // than from the parsed document.
    const std::vector<std::string> written = {
        "plain", "\\u0416\\u0436 \\u00e9", "\\ud83d\\ude00", "\\/\\b\\f\\n\\r\\t\\\"\\\\", "\\u0000",
        "日本ё😀\x7f", "\\ud83d", "\\ude00", "\\ud83d\\u0041", "\\ud83dx", "\\x", "\\u12G4", "\x1f", "\xC0\xAF",
        "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97x", "\x80", "\xFF",
    };
    const std::string placeholder = "@@";
    std::string document = Json{{"format", "trelis-project"},
                                {"version", 1},
                                {"network", nullptr},
                                {"sequence", Json::parse(R"({"dimension": 0, "count": 0, "classes": "", "sizes": "",
                                                              "lengths": "", "cells": ""})")},
                                {"classNames", {placeholder}},
                                {"retina", {{"width", 0}, {"height", 0}}},
                                {"series", Json::parse(R"({"count": 0, "values": "", "min": 0.0, "max": 0.0,
                                                            "windowSize": 0, "trainLength": 0,
                                                            "fromFirstWindow": false})")}}
                               .dump(1);
    const std::size_t at = document.find(placeholder);
    for (const std::string& shortText : written)
        for (const std::string& text : {shortText, std::string(64, ' ') + shortText + std::string(9, ' ')}) {
            SCOPED_TRACE(Json(text).dump(-1, ' ', true, Json::error_handler_t::replace));
            std::optional<std::string> parsed;
            try {
                parsed = Json::parse("\"" + text + "\"").get<std::string>();
            } catch (const Json::parse_error&) {
            }
            WriteText(Path("a.trelis"), Sealed(std::string(document).replace(at, placeholder.size(), text)));
            TProjectState opened;
            const std::string message = OpenProjectFile(Path("a.trelis"), opened);
            if (!parsed) {
                EXPECT_NE(message.find("ошибка разбора JSON"), std::string::npos) << message;
                continue;
            }
            ASSERT_EQ(message, "");
            ASSERT_EQ(opened.classNames.size(), 1u);
            EXPECT_EQ(opened.classNames[0], *parsed);
        }
    // Names that are not UTF-8, from a names file, are written as the library
    // writes them: a U+FFFD for each sequence of bytes that is no character.
    const std::vector<std::string> names = {
        "\x01\x1f\x7f\"\\/\b\f\n\r\t", "a\xFF" "b", "\xE6\x97", "\xE6\x97x", "\xF0\x9F\x98", "\xF0\x9F\x98\x80\x80",
        "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "日本ё😀" + std::string(70, '\xE6'),
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(Json(name).dump(-1, ' ', true, Json::error_handler_t::replace));
        TProjectState saved;
        saved.classNames = {name};
        saved.training.heldOutPath = name;
        ASSERT_EQ(SaveProjectFile(saved, Path("b.trelis")), "");
        const std::string stored = Json(name).dump(-1, ' ', false, Json::error_handler_t::replace);
        const std::string file = ReadText(Path("b.trelis"));
        EXPECT_NE(file.find("\n  " + stored + "\n"), std::string::npos);
        EXPECT_NE(file.find("\"heldOut\": " + stored + ","), std::string::npos);
        TProjectState opened;
        ASSERT_EQ(OpenProjectFile(Path("b.trelis"), opened), "");
        EXPECT_EQ(opened.classNames, std::vector<std::string>{Json::parse(stored).get<std::string>()});
    }
}

TEST_F(ProjectFileTest, AStateTheFileCouldNotHoldIsNotSaved)
{
    const std::vector<std::pair<const char*, std::function<void(TProjectState&)>>> cases = {
        {"17 layers", [](TProjectState& s) { s.net = Net(std::vector<std::uint32_t>(18, 1), 0.5f); }},
        {"a retina of 200,001 cells",
         [](TProjectState& s) {
             s.retinaWidth = 3;
             s.retinaHeight = 66667;
         }},
        {"more class names than classes", [](TProjectState& s) { s.classNames.assign(MaxClassCount + 1, "x"); }},
        {"an element with fewer cells than its size", [](TProjectState& s) { AddElement(s.sequence, {1, 1}, 3, 0); }},
        {"a window as long as the series", [](TProjectState& s) { SetSeries(s, {0.5f, 0.25f}, 2, 1); }},
    };
    for (const auto& [name, fill] : cases) {
        SCOPED_TRACE(name);
        TProjectState state;
        FillRich(state);
        fill(state);
        const std::string message = SaveProjectFile(state, Path("p.trelis"));
        EXPECT_EQ(message.rfind("Не удалось сохранить проект в файл «p.trelis»: ", 0), 0u) << message;
        EXPECT_TRUE(Listing().empty());
    }
}

TEST_F(ProjectFileTest, AFileTouchedWhileItIsReadIsRefused)
{
    // Large enough that reading it takes a while: 20000 elements of 400 cells.
    TProjectState saved;
    saved.sequence.SetDimension(400);
    for (std::int32_t k = 0; k < 20000; ++k)
        saved.sequence.Add(TAbsImage(400), k % 7);
    const std::string path = Path("p.trelis");
    ASSERT_EQ(SaveProjectFile(saved, path), "");
    // Its bytes stay the same; only its modification time moves on, again
    // and again, from before the read until after it.
    std::atomic<bool> reading{true};
    std::atomic<std::int64_t> touches{0};
    std::thread toucher([&] {
        for (std::int64_t t = 1; reading; ++t) {
            const timespec times[2] = {{t, 0}, {t, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            ++touches;
        }
    });
    while (touches == 0)
        std::this_thread::yield();
    TProjectState opened;
    const std::string message = OpenProjectFile(path, opened);
    reading = false;
    toucher.join();
    EXPECT_NE(message.find("изменился во время чтения"), std::string::npos) << message;
    EXPECT_EQ(opened.sequence.GetCount(), 0u);
}

// Applies a limit on file size for the scope; writing past it fails with
// EFBIG instead of killing the process.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        const rlimit limit{bytes, previous_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ProjectFileTest, ASaveThatFailsHalfWayLeavesTheOldFileAndNoScratchFile)
{
    // The disk fills up half way through a file well over the limit; the
    // writer's other failures are its own tests' (AtomicFileTest).
    TProjectState state;
    FillRich(state);
    state.net = Net({50, 20, 5}, 0.5f);
    const std::string old = "the previous project, byte for byte\n";
    WriteText(Path("full.trelis"), old);
    std::string message;
    {
        TFileSizeLimit limit(4096);
        message = SaveProjectFile(state, Path("full.trelis"));
    }
    EXPECT_NE(message.find("«full.trelis»"), std::string::npos) << message;
    EXPECT_EQ(ReadText(Path("full.trelis")), old);
    EXPECT_EQ(Listing(), std::set<std::string>{"full.trelis"});
}

} // namespace


namespace {

// Caps the address space the process may add while it lives, so that a test
// sees how much a call takes. Not under AddressSanitizer, whose reservations
// no such cap allows.
class TAddedMemoryCap {
public:
    explicit TAddedMemoryCap(std::size_t added)
    {
#if !defined(__SANITIZE_ADDRESS__)
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + added;
        if (pages > 0 && ::getrlimit(RLIMIT_AS, &old_) == 0 && cap < old_.rlim_cur) {
            const rlimit lowered{cap, old_.rlim_max};
            set_ = ::setrlimit(RLIMIT_AS, &lowered) == 0;
        }
#else
        (void)added;
#endif
    }
    ~TAddedMemoryCap()
    {
        if (set_)
            ::setrlimit(RLIMIT_AS, &old_);
    }
    TAddedMemoryCap(const TAddedMemoryCap&) = delete;
    TAddedMemoryCap& operator=(const TAddedMemoryCap&) = delete;

private:
    rlimit old_{};
    bool set_ = false;
};

} // namespace

TEST_F(ProjectFileTest, ALongClassNameOpensWithoutCopies)
{
    // Opening takes little more than the name itself: the reader may add
    // three times the name's size, which a reader that parsed the whole
    // document into copies of it (five) would pass. Its letters of two
    // bytes, quote, backslash and line break are kept or escaped as JSON has
    // them, some far into it.
    constexpr std::size_t Length = std::size_t{64} << 20;
    const auto name = [] {
        std::string n(Length, 'a');
        n.replace(0, 2, "ё");
        n.replace(Length / 2, 8, "\"\\ \nжж");
        return n;
    };
    const std::string path = Path("long.trelis");
    {
        TProjectState saved;
        saved.classNames = {"ноль", name(), "два"};
        ASSERT_EQ(SaveProjectFile(saved, path), "");
    }
    TProjectState opened;
    std::string refusal;
    {
        const TAddedMemoryCap cap(3 * Length);
        refusal = OpenProjectFile(path, opened);
    }
    ASSERT_EQ(refusal, "");
    ASSERT_EQ(opened.classNames.size(), 3u);
    EXPECT_EQ(opened.classNames[0], "ноль");
    EXPECT_TRUE(opened.classNames[1] == name());
    EXPECT_EQ(opened.classNames[2], "два");
}
