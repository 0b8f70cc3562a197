// Exported networks run by the programs that read them: the ONNX model
// through ONNX's checker and OpenCV's DNN module (Python), FANN's network
// file through libfann, and the C header compiled by the system's compiler.
// Each must give Trelis's own outputs and winners.
#include "project/NetworkExport.h"

#include "engine/Random.h"
#include "images/PatternRing.h"
#include "project/Learning.h"
#include "project/SeriesLoad.h"
#include "project/SeriesMath.h"
#include "tests/images/TempFiles.h"

#include <floatfann.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>

namespace {

const std::string Examples = TRELIS_EXAMPLES_DIR;

// A network with the questions it is asked and Trelis's own answers.
struct TCase {
    std::string name;
    TProjectState project;
    std::uint32_t rows = 0;
    std::vector<float> inputs;        // rows x inputs, as the other program takes them
    std::vector<float> answers;       // rows x outputs, Trelis's forward pass
    std::vector<std::string> names;   // the names a pattern network's outputs go by
    bool series = false;
};

std::uint32_t Inputs(const TCase& c) { return c.project.net->layers.front().inputCount; }
std::uint32_t Outputs(const TCase& c) { return c.project.net->outputCount; }

void LoadRing(const std::string& path, PatternRing& ring)
{
    EXPECT_TRUE(ring.LoadFromFile(path)) << path;
}

// Asks the network every element of examples/digits_check.llt.
void AskCheckDigits(TCase& c)
{
    PatternRing ring;
    LoadRing(Examples + "/digits_check.llt", ring);
    TNeuralNet& net = *c.project.net;
    std::vector<std::int8_t> scratch;
    for (const TAbsImage& e : ring.Elements()) {
        const std::int8_t* cells = NetworkInput(e, Inputs(c), scratch);
        c.inputs.insert(c.inputs.end(), cells, cells + Inputs(c));
        net.ForwardBytes(cells);
        c.answers.insert(c.answers.end(), net.outputs, net.outputs + net.outputCount);
    }
    c.rows = ring.GetCount();
}

// The network of a new digits project (100 cells, 25 hidden, 10 classes)
// trained on the digits sample by back-propagation, its classes named in
// ways a C string or JSON must carry (one left unnamed, so shown by number).
void Digits(TCase& c)
{
    c.name = "digits";
    SetSeedClock([] { return std::time_t{7}; });
    c.project.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{100, 25, 10}, 0.68f, 0.0f, 0.0f,
                                                 1.0f, 1.0f);
    SetSeedClock({});
    c.project.retinaWidth = c.project.retinaHeight = 10;
    c.project.classNames = {"ноль", "один", "два \"в кавычках\"", "три?\?=", "четыре\\", "5", "", "7\t", "восемь", "девять"};
    c.names = c.project.classNames;
    c.names[6] = "6";
    PatternRing ring;
    LoadRing(Examples + "/digits.llt", ring);
    TNeuralNet& net = *c.project.net;
    std::vector<std::int8_t> scratch, target;
    for (int epoch = 0; epoch < 200; ++epoch) {
        for (const TAbsImage& e : ring.Elements()) {
            BuildTarget(e.ClassIndex, net.outputCount, target);
            net.TrainBytes(NetworkInput(e, 100, scratch), target.data(), 0.1f, 0.0f);
        }
    }
    AskCheckDigits(c);
}

// Three layers of untrained weights with both of FANN's sigmoids and slopes
// other than 1, on a retina that is not square; the classes have no names.
void ThreeLayers(TCase& c)
{
    c.name = "three_layers";
    SetSeedClock([] { return std::time_t{11}; });
    c.project.net = std::make_unique<TNeuralNet>(3, std::vector<std::uint32_t>{100, 12, 9, 10}, 0.68f, 0.0f, 0.0f,
                                                 1.0f, 1.0f);
    SetSeedClock({});
    TNeuralNet& net = *c.project.net;
    net.layers[0].slope = 2.0f;
    net.layers[0].amplitude = 2.0f;
    net.layers[0].offset = -1.0f;
    net.layers[1].slope = 0.5f;
    net.layers[2].amplitude = 2.0f;
    net.layers[2].offset = -1.0f;
    c.project.retinaWidth = 20;
    c.project.retinaHeight = 5;
    for (int k = 0; k < 10; ++k)
        c.names.push_back(std::to_string(k));
    AskCheckDigits(c);
}

// A series network trained on examples/noisy_sine.ser, asked every window of
// the file's values; its answer in the file's units, as the series window
// reproduces a point. `inputScale` and `inputOffset` are the network's own
// scaling of its float inputs.
void Series(TCase& c, const std::string& name, float inputScale, float inputOffset)
{
    c.name = name;
    c.series = true;
    constexpr std::uint32_t w = 6, trainLength = 200;
    TSeriesLoad load = CheckFullLoad(Examples + "/noisy_sine.ser", w, trainLength);
    ASSERT_FALSE(load.Refused()) << load.refusal;
    const std::vector<float> fileValues(load.values.get(), load.values.get() + load.count);
    // The project as a series load leaves it: the values scaled to 0..1 and
    // a network of w inputs, 2 hidden neurons and 1 output.
    TProjectState& p = c.project;
    ScaleSeries(load.values.get(), fileValues.size(), load.range);
    p.series.values = std::move(load.values);
    p.series.count = load.count;
    p.seriesMin = load.range.min;
    p.seriesMax = load.range.max;
    p.windowSize = w;
    p.trainLength = trainLength;
    p.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{w, 2, 1}, 0.68f, 0.0f, 0.0f, inputScale,
                                         1.0f);
    p.net->inputOffset = inputOffset;
    std::vector<float> window(w + 1), target(1);
    float lastError = 0.0f;
    for (int epoch = 0; epoch < 300; ++epoch)
        lastError = TrainSeriesEpoch(*p.net, p.series.values.get(), trainLength, w, window.data(), target.data(),
                                     lastError)
                        .lastError;
    const double unit = static_cast<double>(p.seriesMax) - static_cast<double>(p.seriesMin);
    for (std::uint32_t m = 0; m + w < fileValues.size(); ++m) {
        c.inputs.insert(c.inputs.end(), fileValues.begin() + m, fileValues.begin() + m + w);
        std::copy(p.series.values.get() + m, p.series.values.get() + m + w, window.begin());
        window[w] = 1.0f;
        p.net->Forward(window.data());
        c.answers.push_back(static_cast<float>(static_cast<double>(p.net->outputs[0]) * unit + p.seriesMin));
        ++c.rows;
    }
}

// The first strictly greatest output, starting from 0.0, as Trelis decides.
std::uint32_t Winner(const float* outputs, std::uint32_t count)
{
    std::uint32_t index = 0;
    float best = 0.0f;
    for (std::uint32_t i = 0; i < count; ++i)
        if (outputs[i] > best) {
            best = outputs[i];
            index = i;
        }
    return index;
}

void ExpectTrelisAnswers(const TCase& c, const std::vector<float>& got, const std::string& consumer)
{
    SCOPED_TRACE(c.name + " through " + consumer);
    ASSERT_EQ(got.size(), c.answers.size());
    const std::uint32_t m = Outputs(c);
    float worst = 0.0f;
    std::uint32_t otherWinners = 0;
    for (std::uint32_t r = 0; r < c.rows; ++r) {
        for (std::uint32_t j = 0; j < m; ++j) {
            const float want = c.answers[r * m + j];
            // A series answer is in the file's units: within 1e-5 of its size.
            const float scale = c.series ? std::max(1.0f, std::fabs(want)) : 1.0f;
            worst = std::max(worst, std::fabs(got[r * m + j] - want) / scale);
        }
        otherWinners += Winner(&got[r * m], m) != Winner(&c.answers[r * m], m);
    }
    EXPECT_LE(worst, 1e-5f);
    EXPECT_EQ(otherWinners, 0u);
}

void WriteFloats(const std::string& path, const std::vector<float>& values)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(float)));
}

std::vector<float> ReadFloats(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<float> values;
    float v;
    while (in.read(reinterpret_cast<char*>(&v), sizeof v))
        values.push_back(v);
    return values;
}

// Runs a command line; its standard output, or nothing when it failed.
std::optional<std::string> Shell(const std::string& command)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (::pclose(pipe) != 0) {
        ADD_FAILURE() << command << "\n" << out;
        return std::nullopt;
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// FANN's list of connections: for each neuron with inputs, layer by layer,
// every neuron of the layer below (its bias neuron last) by its number
// among all the file's neurons, which layer_sizes counts. libfann rebuilds a
// fully connected network's connections from the layer sizes and never
// looks at these numbers, so the text itself is read here.
void ExpectFannConnections(const TCase& c, const std::string& text)
{
    const auto after = [&text](const std::string& key) {
        const std::size_t at = text.find(key);
        EXPECT_NE(at, std::string::npos) << key;
        return std::istringstream(at == std::string::npos ? "" : text.substr(at + key.size()));
    };
    std::istringstream sizeText = after("\nlayer_sizes=");
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t n; sizeText.peek() != '\n' && sizeText >> n;)
        sizes.push_back(n);
    const TNeuralNet& net = *c.project.net;
    ASSERT_EQ(sizes.size(), net.layers.size() + 1);
    std::istringstream in = after("\nconnections (connected_to_neuron, weight)=");
    std::uint32_t below = 0; // the number of the first neuron of the layer below
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& l = net.layers[k];
        ASSERT_EQ(sizes[k], l.inputCount + 1);
        for (std::uint32_t j = 0; j < l.neuronCount; ++j)
            for (std::uint32_t i = 0; i <= l.inputCount; ++i) {
                char open = 0, comma = 0;
                std::uint32_t from = 0;
                std::string weight;
                in >> open >> from >> comma;
                std::getline(in, weight, ')');
                ASSERT_TRUE(in && open == '(' && comma == ',') << c.name << " layer " << k + 1;
                ASSERT_EQ(from, below + i) << c.name << " layer " << k + 1 << " neuron " << j;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(std::strtof(weight.c_str(), nullptr)),
                          std::bit_cast<std::uint32_t>(l.weights[i][j]))
                    << c.name << " layer " << k + 1 << " neuron " << j << " input " << i;
            }
        below += sizes[k];
    }
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ(rest, " ") << c.name << ": connections beyond the network's";
}

class Export : public TempFolderTest {
protected:
    // Exports the case's network to `file` in the scratch folder.
    std::string Exported(const TCase& c, const std::string& file)
    {
        const std::string path = Path(c.name + "_" + file);
        const TExportResult result = ExportNetwork(c.project, path);
        EXPECT_TRUE(result.Ok()) << result.reason;
        return path;
    }

    void CheckOnnx(const TCase& c)
    {
        const std::string model = Exported(c, "model.onnx");
        WriteFloats(Path("inputs"), c.inputs);
        const std::optional<std::string> said = Shell(std::string(TRELIS_PYTHON) + " " + TRELIS_EXPORT_TESTS +
                                                    "/run_onnx.py " + model + " " + Path("inputs") + " " +
                                                    std::to_string(c.rows) + " " + Path("outputs"));
        ASSERT_TRUE(said);
        ExpectTrelisAnswers(c, ReadFloats(Path("outputs")), "OpenCV");
        const nlohmann::json info = nlohmann::json::parse(*said);
        EXPECT_GE(info["opset"][0].get<int>(), 13);
        const nlohmann::json in = {c.series ? "window" : "cells", {"N", Inputs(c)}};
        const nlohmann::json out = {c.series ? "next" : "scores", {"N", Outputs(c)}};
        EXPECT_EQ(info["inputs"], nlohmann::json::array({in}));
        EXPECT_EQ(info["outputs"], nlohmann::json::array({out}));
        const nlohmann::json& meta = info["metadata"];
        if (c.series) {
            EXPECT_FALSE(meta.contains("class_names"));
        } else {
            EXPECT_EQ(nlohmann::json::parse(meta["class_names"].get<std::string>()), nlohmann::json(c.names));
            EXPECT_EQ(meta["retina_width"], std::to_string(c.project.retinaWidth));
            EXPECT_EQ(meta["retina_height"], std::to_string(c.project.retinaHeight));
        }
    }

    void CheckFann(const TCase& c)
    {
        const std::string file = Exported(c, "network.net");
        ExpectFannConnections(c, ReadText(file));
        fann* ann = fann_create_from_file(file.c_str());
        ASSERT_NE(ann, nullptr);
        EXPECT_EQ(fann_get_num_input(ann), Inputs(c));
        EXPECT_EQ(fann_get_num_output(ann), Outputs(c));
        std::vector<float> got, row(Inputs(c));
        for (std::uint32_t r = 0; r < c.rows; ++r) {
            std::copy_n(c.inputs.begin() + r * Inputs(c), Inputs(c), row.begin());
            // A series network keeps its scaling as FANN's own.
            if (c.series)
                fann_scale_input(ann, row.data());
            float* y = fann_run(ann, row.data());
            if (c.series)
                fann_descale_output(ann, y);
            got.insert(got.end(), y, y + Outputs(c));
        }
        fann_destroy(ann);
        ExpectTrelisAnswers(c, got, "FANN");
    }

    // The header's answers to the case's inputs.
    std::vector<float> CheckHeader(const TCase& c)
    {
        std::filesystem::create_directories(Path(c.name));
        const std::string header = Exported(c, "network.h");
        std::filesystem::rename(header, Path(c.name + "/network.h"));
        const std::string program = Path(c.name + "/driver");
        if (!Shell(std::string(TRELIS_CC) + " -std=c99 -pedantic -Wall -Wextra -Werror -I" + Path(c.name) + " " +
                   TRELIS_EXPORT_TESTS + "/header_driver.c -o " + program + " -lm"))
            return {};
        WriteFloats(Path("inputs"), c.inputs);
        const std::optional<std::string> said =
            Shell(program + " " + Path("inputs") + " " + std::to_string(c.rows) + " " + Path("outputs"));
        if (!said)
            return {};
        const std::vector<float> got = ReadFloats(Path("outputs"));
        ExpectTrelisAnswers(c, got, "C");
        EXPECT_EQ(Lines(*said), c.series ? std::vector<std::string>{} : c.names);
        return got;
    }
};

TEST_F(Export, EveryProgramAnswersAsTrelisDoes)
{
    TCase cases[4];
    Digits(cases[0]);
    ThreeLayers(cases[1]);
    Series(cases[2], "series", 1.0f, 0.0f);
    Series(cases[3], "series_scaled", 0.5f, 0.25f);
    for (const TCase& c : cases) {
        ASSERT_GT(c.rows, 10u) << c.name;
        CheckOnnx(c);
        CheckFann(c);
        CheckHeader(c);
    }
}

// A network of the given layer sizes with weights drawn as the program draws them.
std::unique_ptr<TNeuralNet> Network(std::vector<std::uint32_t> sizes)
{
    return std::make_unique<TNeuralNet>(static_cast<std::uint32_t>(sizes.size() - 1), sizes, 0.68f, 0.0f, 0.0f, 1.0f,
                                        1.0f);
}

TEST_F(Export, TheHeaderSaturatesWhereTrelisDoes)
{
    // A neuron saturates only beyond ±100/slope (engine/NeuralNet.h). For a
    // slope below 1 that lies past ±100, where 1/(1 + e^(slope·x)) is still a
    // float above 0: so the header's neurons must answer as Trelis's do on
    // either side of the bound, and not just to within an absolute error.
    const float sides[] = {-1.5f, -0.75f, -0.5f, 0.5f, 0.75f, 1.5f}; // sums as a share of the bound
    for (const float slope : {0.25f, 0.5f, 2.0f}) {
        TCase c;
        c.name = "slope_" + std::to_string(slope);
        c.project.net = Network({1, std::size(sides)});
        TNeuralNet& net = *c.project.net;
        net.layers[0].slope = slope;
        for (std::uint32_t j = 0; j < std::size(sides); ++j) {
            net.layers[0].weights[0][j] = 1.0f;
            net.layers[0].weights[1][j] = sides[j] * 100.0f / slope;
            c.names.push_back(std::to_string(j));
        }
        float input[] = {0.0f, 1.0f};
        net.Forward(input);
        c.rows = 1;
        c.inputs = {0.0f};
        c.answers.assign(net.outputs, net.outputs + net.outputCount);
        const std::vector<float> got = CheckHeader(c);
        ASSERT_EQ(got.size(), c.answers.size()) << c.name;
        for (std::size_t j = 0; j < got.size(); ++j)
            EXPECT_LE(std::fabs(got[j] - c.answers[j]), 1e-5f * std::fabs(c.answers[j]))
                << c.name << ": " << got[j] << " for " << c.answers[j] << " at " << sides[j];
    }
}

TEST_F(Export, RefusalsWriteNothing)
{
    struct TRefusal {
        const char* what;
        std::function<void(TProjectState&)> make;
        const char* file;
        TExportOutcome outcome;
        const char* reason; // a part of the message
        bool exportable;    // NetworkExportRefusal says nothing
    };
    const std::vector<TRefusal> refusals = {
        {"no network", [](TProjectState&) {}, "a.onnx", TExportOutcome::Refused, "нет сети", false},
        {"the placeholder the program starts with",
         [](TProjectState& s) { s.net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{1, 1}, 0.68f, 0.0f, 1.0f, 0.0f, 1.0f); },
         "a.h", TExportOutcome::Refused, "начальная сеть", false},
        {"an unknown extension", [](TProjectState& s) { s.net = Network({4, 3, 2}); }, "a.onnx.txt",
         TExportOutcome::UnknownFormat, ".onnx", true},
        {"FANN and an amplitude of 1.5",
         [](TProjectState& s) {
             s.net = Network({4, 3, 2});
             s.net->layers[1].amplitude = 1.5f;
         },
         "a.NET", TExportOutcome::Refused, "амплитуда 1.5 и смещение 0", true},
        {"FANN and the symmetric amplitude without its offset",
         [](TProjectState& s) {
             s.net = Network({4, 3, 2});
             s.net->layers[0].amplitude = 2.0f;
         },
         "a.net", TExportOutcome::Refused, "у слоя 1 амплитуда 2 и смещение 0", true},
        {"a weight that is not a number",
         [](TProjectState& s) {
             s.net = Network({4, 3, 2});
             s.net->layers[1].weights[3][1] = std::nanf("");
         },
         "a.onnx", TExportOutcome::Refused, "у слоя 2 не все веса", true},
        {"a slope below 0",
         [](TProjectState& s) {
             s.net = Network({4, 3, 2});
             s.net->layers[0].slope = -1.0f;
         },
         "a.h", TExportOutcome::Refused, "наклон -1", false},
        {"a folder that does not exist", [](TProjectState& s) { s.net = Network({4, 3, 2}); }, "missing/a.onnx",
         TExportOutcome::Refused, "a.onnx", true},
    };
    for (const TRefusal& r : refusals) {
        SCOPED_TRACE(r.what);
        TProjectState state;
        r.make(state);
        const TExportResult result = ExportNetwork(state, Path(r.file));
        EXPECT_EQ(result.outcome, r.outcome);
        EXPECT_NE(result.reason.find(r.reason), std::string::npos) << result.reason;
        EXPECT_EQ(NetworkExportRefusal(state).empty(), r.exportable) << NetworkExportRefusal(state);
        EXPECT_TRUE(std::filesystem::is_empty(dir_));
    }
    // What FANN cannot hold the other formats write.
    TProjectState state;
    state.net = Network({4, 3, 2});
    state.net->layers[1].amplitude = 1.5f;
    EXPECT_TRUE(ExportNetwork(state, Path("a.onnx")).Ok());
    EXPECT_TRUE(ExportNetwork(state, Path("a.h")).Ok());
}

} // namespace
