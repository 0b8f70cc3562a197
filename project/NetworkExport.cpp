#include "project/NetworkExport.h"

#include "images/ClassNames.h"
#include "project/AtomicFile.h"

#include <onnx/onnx_pb.h>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <new>

namespace {

// The file as the messages name it: its name without the folder.
std::string Shown(const std::string& path)
{
    return "«" + std::filesystem::path(path).filename().string() + "»";
}

std::string LowerExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

// The shortest text that reads back as the same float, whatever the
// program's locale.
std::string Shortest(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Every digit of the float in exponent notation, as FANN writes its own.
std::string Exact(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::scientific, 20);
    return std::string(buffer, result.ptr);
}

// What a series network adds around its layers: the window in the file's
// units scaled to 0..1 (then by the network's own input scaling), and the
// answer scaled back.
struct TSeriesScaling {
    float min = 0.0f;         // the series' smallest value
    float range = 1.0f;       // largest minus smallest, above 0
    float inputScale = 1.0f;  // the network's factor on each float input
    float inputOffset = 0.0f; // added after it
};

// The network as every format writes it.
struct TExported {
    const TNeuralNet& net;
    std::optional<TSeriesScaling> series;  // a series network
    std::vector<std::string> classNames;   // a pattern network: the name of each output
    std::int32_t retinaWidth = 0;
    std::int32_t retinaHeight = 0;

    std::uint32_t Inputs() const { return net.layers.front().inputCount; }
    std::uint32_t Outputs() const { return net.outputCount; }
};

bool IsSeriesNetwork(const TProjectState& project)
{
    return project.HasSeries() && project.net && !project.net->layers.empty() &&
           project.net->layers.front().inputCount == project.windowSize && project.net->outputCount == 1;
}

bool Finite(float v)
{
    return std::isfinite(v);
}

// ---------------------------------------------------------------- ONNX

class TOnnxGraph {
public:
    explicit TOnnxGraph(onnx::GraphProto& graph)
        : graph_(graph)
    {
    }

    void Input(const std::string& name, std::uint32_t width) { Value(*graph_.add_input(), name, width); }
    void Output(const std::string& name, std::uint32_t width) { Value(*graph_.add_output(), name, width); }

    // A constant tensor of the given shape (none: a scalar), filled by `fill`.
    template <class F>
    const std::string& Constant(const std::string& name, std::initializer_list<std::int64_t> dims, F&& fill)
    {
        onnx::TensorProto& t = *graph_.add_initializer();
        t.set_name(name);
        t.set_data_type(onnx::TensorProto::FLOAT);
        std::int64_t count = 1;
        for (std::int64_t d : dims) {
            t.add_dims(d);
            count *= d;
        }
        auto& data = *t.mutable_float_data();
        data.Reserve(static_cast<int>(count));
        fill(data);
        return t.name();
    }
    const std::string& Scalar(const std::string& name, float value)
    {
        return Constant(name, {}, [value](auto& data) { data.Add(value); });
    }

    // One node op(a, b) or op(a), giving `out`.
    std::string Node(const char* op, const std::string& a, const std::string& b, const std::string& out)
    {
        onnx::NodeProto& node = *graph_.add_node();
        node.set_op_type(op);
        node.set_name(out);
        node.add_input(a);
        if (!b.empty())
            node.add_input(b);
        node.add_output(out);
        return out;
    }

private:
    // A float tensor of [N, width], N the number of rows of one call.
    static void Value(onnx::ValueInfoProto& v, const std::string& name, std::uint32_t width)
    {
        v.set_name(name);
        onnx::TypeProto_Tensor& t = *v.mutable_type()->mutable_tensor_type();
        t.set_elem_type(onnx::TensorProto::FLOAT);
        t.mutable_shape()->add_dim()->set_dim_param("N");
        t.mutable_shape()->add_dim()->set_dim_value(width);
    }

    onnx::GraphProto& graph_;
};

// The ONNX model: per layer MatMul with the weights, Add of the bias row,
// and the activation offset + amplitude * Sigmoid(slope * x) with only the
// factors and terms that change anything.
std::string OnnxModel(const TExported& e)
{
    onnx::ModelProto model;
    // Version 7 of the format goes with opset 13; ONNX 1.12 and OpenCV 4.6
    // both read it.
    model.set_ir_version(7);
    model.set_producer_name("Trelis");
    model.set_producer_version("0.3");
    onnx::OperatorSetIdProto& opset = *model.add_opset_import();
    opset.set_domain("");
    opset.set_version(13);
    onnx::GraphProto& graph = *model.mutable_graph();
    graph.set_name(e.series ? "trelis_series" : "trelis_patterns");
    TOnnxGraph g(graph);

    const std::string inputName = e.series ? "window" : "cells";
    const std::string outputName = e.series ? "next" : "scores";
    g.Input(inputName, e.Inputs());
    std::string x = inputName;
    if (e.series) {
        const TSeriesScaling& s = *e.series;
        x = g.Node("Sub", x, g.Scalar("series_min", s.min), "window_shifted");
        x = g.Node("Div", x, g.Scalar("series_range", s.range), "window_scaled");
        if (s.inputScale != 1.0f)
            x = g.Node("Mul", x, g.Scalar("input_scale", s.inputScale), "window_input_scaled");
        if (s.inputOffset != 0.0f)
            x = g.Node("Add", x, g.Scalar("input_offset", s.inputOffset), "window_input");
    }
    for (std::size_t k = 0; k < e.net.layers.size(); ++k) {
        const TLayer& layer = e.net.layers[k];
        const std::string p = "layer" + std::to_string(k + 1) + "_";
        const std::uint32_t n = layer.inputCount, m = layer.neuronCount;
        const std::string& w = g.Constant(p + "weights", {n, m}, [&](auto& data) {
            for (std::uint32_t i = 0; i < n; ++i)
                data.Add(layer.weights[i], layer.weights[i] + m);
        });
        const std::string& b = g.Constant(p + "bias", {m}, [&](auto& data) { data.Add(layer.weights[n], layer.weights[n] + m); });
        x = g.Node("MatMul", x, w, p + "product");
        x = g.Node("Add", x, b, p + "sum");
        if (layer.slope != 1.0f)
            x = g.Node("Mul", x, g.Scalar(p + "slope", layer.slope), p + "steep");
        x = g.Node("Sigmoid", x, {}, p + "sigmoid");
        if (layer.amplitude != 1.0f)
            x = g.Node("Mul", x, g.Scalar(p + "amplitude", layer.amplitude), p + "amplified");
        if (layer.offset != 0.0f)
            x = g.Node("Add", x, g.Scalar(p + "offset", layer.offset), p + "output");
    }
    if (e.series) {
        x = g.Node("Mul", x, g.Scalar("series_range_back", e.series->range), "next_unshifted");
        x = g.Node("Add", x, g.Scalar("series_min_back", e.series->min), "next_value");
    }
    // The last node gives the graph's output under its public name.
    graph.mutable_node(graph.node_size() - 1)->set_output(0, outputName);
    graph.mutable_node(graph.node_size() - 1)->set_name(outputName);
    g.Output(outputName, e.Outputs());

    if (!e.series) {
        const auto meta = [&model](const std::string& key, const std::string& value) {
            onnx::StringStringEntryProto& entry = *model.add_metadata_props();
            entry.set_key(key);
            entry.set_value(value);
        };
        meta("class_names", nlohmann::json(e.classNames).dump());
        meta("retina_width", std::to_string(e.retinaWidth));
        meta("retina_height", std::to_string(e.retinaHeight));
    }
    std::string bytes;
    if (!model.SerializeToString(&bytes))
        throw std::bad_alloc();
    return bytes;
}

// ---------------------------------------------------------------- FANN

// FANN's activation functions that a layer can be: the sigmoid
// 1/(1 + e^(-2 s x)) and the symmetric one 2/(1 + e^(-2 s x)) - 1, s the
// steepness.
constexpr int FannSigmoid = 3;
constexpr int FannSigmoidSymmetric = 5;

// Why a layer's activation is none of FANN's; empty when it is one.
std::string FannRefusal(const TNeuralNet& net)
{
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& l = net.layers[k];
        const bool plain = l.amplitude == 1.0f && l.offset == 0.0f;
        const bool symmetric = l.amplitude == 2.0f && l.offset == -1.0f;
        if (!plain && !symmetric)
            return "FANN умеет только сигмоиду (амплитуда 1, смещение 0) и симметричную сигмоиду (амплитуда 2, "
                   "смещение −1), а у слоя " +
                   std::to_string(k + 1) + " амплитуда " + Shortest(l.amplitude) + " и смещение " +
                   Shortest(l.offset) + ". Сохраните сеть в ONNX или заголовок C.";
    }
    return {};
}

// FANN 2.2's training settings at their defaults, as it writes them.
constexpr const char* FannDefaultSettings =
    "learning_rate=0.700000\n"
    "connection_rate=1.000000\n"
    "network_type=0\n"
    "learning_momentum=0.000000\n"
    "training_algorithm=2\n"
    "train_error_function=1\n"
    "train_stop_function=0\n"
    "cascade_output_change_fraction=0.010000\n"
    "quickprop_decay=-0.000100\n"
    "quickprop_mu=1.750000\n"
    "rprop_increase_factor=1.200000\n"
    "rprop_decrease_factor=0.500000\n"
    "rprop_delta_min=0.000000\n"
    "rprop_delta_max=50.000000\n"
    "rprop_delta_zero=0.100000\n"
    "cascade_output_stagnation_epochs=12\n"
    "cascade_candidate_change_fraction=0.010000\n"
    "cascade_candidate_stagnation_epochs=12\n"
    "cascade_max_out_epochs=150\n"
    "cascade_min_out_epochs=50\n"
    "cascade_max_cand_epochs=150\n"
    "cascade_min_cand_epochs=50\n"
    "cascade_num_candidate_groups=2\n"
    "bit_fail_limit=3.49999994039535522461e-01\n"
    "cascade_candidate_limit=1.00000000000000000000e+03\n"
    "cascade_weight_multiplier=4.00000005960464477539e-01\n"
    "cascade_activation_functions_count=10\n"
    "cascade_activation_functions=3 5 7 8 10 11 14 15 16 17 \n"
    "cascade_activation_steepnesses_count=4\n"
    "cascade_activation_steepnesses=2.50000000000000000000e-01 5.00000000000000000000e-01 "
    "7.50000000000000000000e-01 1.00000000000000000000e+00 \n";

// FANN's scaling lines: none for a pattern network. FANN scales an input x
// to ((x - mean) / deviation + 1) * factor + new_min and an output back the
// other way: with mean the series' smallest value and deviation its range
// this is the series network's scaling to 0..1.
void PutFannScaling(std::string& t, const TExported& e)
{
    if (!e.series) {
        t += "scale_included=0\n";
        return;
    }
    const TSeriesScaling& s = *e.series;
    const auto row = [&t](const char* key, std::uint32_t count, float value) {
        t += key;
        t += "=";
        for (std::uint32_t i = 0; i < count; ++i)
            t += Exact(value) + " ";
        t += "\n";
    };
    const std::uint32_t n = e.Inputs();
    t += "scale_included=1\n";
    row("scale_mean_in", n, s.min);
    row("scale_deviation_in", n, s.range);
    row("scale_new_min_in", n, s.inputOffset - s.inputScale);
    row("scale_factor_in", n, s.inputScale);
    row("scale_mean_out", 1, s.min);
    row("scale_deviation_out", 1, s.range);
    row("scale_new_min_out", 1, -1.0f);
    row("scale_factor_out", 1, 1.0f);
}

// Every neuron (each layer ends with a bias neuron), then every connection,
// the bias last among a neuron's inputs.
void PutFannNeurons(std::string& t, const TExported& e)
{
    const TNeuralNet& net = e.net;
    const auto activation = [](const TLayer& l) {
        return l.amplitude == 1.0f ? FannSigmoid : FannSigmoidSymmetric;
    };
    t += "neurons (num_inputs, activation_function, activation_steepness)=";
    for (std::uint32_t i = 0; i <= e.Inputs(); ++i)
        t += "(0, 0, " + Exact(0.0f) + ") ";
    for (const TLayer& l : net.layers) {
        const std::string act = std::to_string(activation(l));
        const std::string neuron = std::to_string(l.inputCount + 1) + ", " + act + ", " + Exact(l.slope / 2.0f);
        for (std::uint32_t j = 0; j < l.neuronCount; ++j)
            t.append("(").append(neuron).append(") ");
        t += "(0, " + act + ", " + Exact(0.0f) + ") ";
    }
    t += "\nconnections (connected_to_neuron, weight)=";
    std::uint64_t first = 0; // the number of the first neuron of the layer below
    for (const TLayer& l : net.layers) {
        for (std::uint32_t j = 0; j < l.neuronCount; ++j)
            for (std::uint32_t i = 0; i <= l.inputCount; ++i)
                t.append("(").append(std::to_string(first + i)).append(", ").append(Exact(l.weights[i][j])).append(") ");
        first += l.inputCount + 1;
    }
    t += "\n";
}

// FANN's network file as FANN 2.2 writes a standard network: its training
// settings at their defaults, the layer sizes, the scaling, then every
// neuron and every connection.
std::string FannFile(const TExported& e)
{
    std::string t = "FANN_FLO_2.1\n";
    t += "num_layers=" + std::to_string(e.net.layers.size() + 1) + "\n";
    t += FannDefaultSettings;
    t += "layer_sizes=" + std::to_string(e.Inputs() + 1) + " ";
    for (const TLayer& l : e.net.layers)
        t += std::to_string(l.neuronCount + 1) + " ";
    t += "\n";
    PutFannScaling(t, e);
    PutFannNeurons(t, e);
    return t;
}

// ---------------------------------------------------------------- C header

// A float as a C constant.
std::string CFloat(float value)
{
    std::string text = Shortest(value);
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text + "f";
}

// A UTF-8 name as a C string literal: printable ASCII as it is, every other
// byte (and the characters that could end or bend the literal) in octal.
std::string CString(const std::string& text)
{
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '"' && c != '\\' && c != '?') {
            s += c;
        } else {
            s += '\\';
            s += static_cast<char>('0' + (u >> 6));
            s += static_cast<char>('0' + ((u >> 3) & 7));
            s += static_cast<char>('0' + (u & 7));
        }
    }
    return s + "\"";
}

// The C header: the weights of each layer as a [inputs + 1][neurons] array
// (the last row the bias), and trelis_forward() summing in single precision
// row by row, the bias last, as Trelis itself does.
std::string CHeader(const TExported& e)
{
    const TNeuralNet& net = e.net;
    std::string t;
    t += "/* A network trained in Trelis, as a self-contained C99 header.\n";
    if (e.series)
        t += " * A series network: trelis_forward() takes a window of TRELIS_INPUTS\n"
             " * values of the series, in the units of its file, and gives the next value. */\n";
    else
        t += " * A pattern network: trelis_forward() takes the retina's cells (0 or 1,\n"
             " * row by row) and gives one value per class; the class with the greatest\n"
             " * value wins (the first of equal ones). */\n";
    t += "#ifndef TRELIS_NETWORK_H\n#define TRELIS_NETWORK_H\n\n#include <math.h>\n\n";
    t += "#define TRELIS_INPUTS " + std::to_string(e.Inputs()) + "\n";
    t += "#define TRELIS_OUTPUTS " + std::to_string(e.Outputs()) + "\n";
    if (!e.series) {
        t += "#define TRELIS_RETINA_WIDTH " + std::to_string(e.retinaWidth) + "\n";
        t += "#define TRELIS_RETINA_HEIGHT " + std::to_string(e.retinaHeight) + "\n";
    }
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& l = net.layers[k];
        t += "\n/* Layer " + std::to_string(k + 1) +
             ": row i holds the weights from input i to each neuron, the last row the bias. */\n";
        t += "static const float trelis_layer" + std::to_string(k + 1) + "_weights[" +
             std::to_string(l.inputCount + 1) + "][" + std::to_string(l.neuronCount) + "] = {\n";
        for (std::uint32_t i = 0; i <= l.inputCount; ++i) {
            t += "    {";
            for (std::uint32_t j = 0; j < l.neuronCount; ++j)
                t += (j ? ", " : "") + CFloat(l.weights[i][j]);
            t += "},\n";
        }
        t += "};\n";
    }
    if (!e.series) {
        t += "\nstatic const char *const trelis_class_names[TRELIS_OUTPUTS] = {";
        for (std::size_t k = 0; k < e.classNames.size(); ++k)
            t += (k ? ", " : "") + CString(e.classNames[k]);
        t += "};\n";
    }

    t += "\nstatic void trelis_forward(const float *input, float *output)\n{\n";
    for (std::size_t k = 0; k < net.layers.size(); ++k)
        t += "    float y" + std::to_string(k + 1) + "[" + std::to_string(net.layers[k].neuronCount) + "];\n";
    t += "    float x;\n    unsigned i, j;\n";
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& l = net.layers[k];
        const std::string w = "trelis_layer" + std::to_string(k + 1) + "_weights";
        const std::string y = "y" + std::to_string(k + 1);
        const std::string n = std::to_string(l.inputCount), m = std::to_string(l.neuronCount);
        std::string x = k == 0 ? "input[i]" : "y" + std::to_string(k) + "[i]";
        if (k == 0 && e.series) {
            const TSeriesScaling& s = *e.series;
            x = "(input[i] - " + CFloat(s.min) + ") / " + CFloat(s.range);
            if (s.inputScale != 1.0f)
                x += " * " + CFloat(s.inputScale);
            if (s.inputOffset != 0.0f)
                x += " + " + CFloat(s.inputOffset);
        }
        const std::string limit = CFloat(100.0f / l.slope);
        t += "\n    /* Layer " + std::to_string(k + 1) + (k == 0 && e.series ? ", on the window scaled to 0..1" : "") +
             ". */\n";
        t += "    for (j = 0; j < " + m + "; ++j)\n        " + y + "[j] = 0.0f;\n";
        t += "    for (i = 0; i < " + n + "; ++i) {\n        x = " + x + ";\n";
        t += "        for (j = 0; j < " + m + "; ++j)\n            " + y + "[j] += " + w + "[i][j] * x;\n    }\n";
        t += "    for (j = 0; j < " + m + "; ++j) {\n        " + y + "[j] += " + w + "[" + n + "][j];\n";
        t += "        " + y + "[j] = " + y + "[j] > " + limit + " ? " + CFloat(l.amplitude + l.offset) + "\n";
        t += "             : " + y + "[j] < -" + limit + " ? " + CFloat(l.offset) + "\n";
        t += "             : " + CFloat(l.offset) + " + " + CFloat(l.amplitude) + " / (1.0f + expf(" +
             CFloat(-l.slope) + " * " + y + "[j]));\n    }\n";
    }
    const std::string last = "y" + std::to_string(net.layers.size());
    if (e.series)
        t += "    output[0] = " + last + "[0] * " + CFloat(e.series->range) + " + " + CFloat(e.series->min) + ";\n";
    else
        t += "    for (j = 0; j < TRELIS_OUTPUTS; ++j)\n        output[j] = " + last + "[j];\n";
    t += "}\n\n#endif\n";
    return t;
}

} // namespace

std::optional<TExportFormat> ExportFormatOf(const std::string& path)
{
    const std::string ext = LowerExtension(path);
    if (ext == ".onnx")
        return TExportFormat::Onnx;
    if (ext == ".net")
        return TExportFormat::Fann;
    if (ext == ".h")
        return TExportFormat::CHeader;
    return std::nullopt;
}

std::string NetworkExportRefusal(const TProjectState& project)
{
    const TNeuralNet* net = project.net.get();
    if (net == nullptr || net->layers.empty() || net->outputCount == 0)
        return "в проекте нет сети.";
    if (net->layers.size() == 1 && net->layers[0].inputCount == 1 && net->outputCount == 1)
        return "в проекте только начальная сеть из одного входа. Создайте проект («Файл» → «Новый проект») или "
               "загрузите временной ряд и обучите сеть.";
    for (std::size_t k = 0; k < net->layers.size(); ++k) {
        const TLayer& l = net->layers[k];
        const std::string layer = "у слоя " + std::to_string(k + 1) + " ";
        // A positive slope keeps the activation the plain sigmoid that every
        // format writes, its saturation included.
        if (!(l.slope > 0.0f) || !Finite(100.0f / l.slope) || !Finite(l.amplitude) || !Finite(l.offset) ||
            !Finite(l.amplitude + l.offset))
            return layer + "наклон, амплитуда или смещение функции активации не подходят (наклон " +
                   Shortest(l.slope) + ", амплитуда " + Shortest(l.amplitude) + ", смещение " + Shortest(l.offset) +
                   ").";
    }
    if (IsSeriesNetwork(project)) {
        const double range = static_cast<double>(project.seriesMax) - static_cast<double>(project.seriesMin);
        if (!(range > 0.0) || !Finite(static_cast<float>(range)) || !Finite(project.seriesMin) ||
            !Finite(net->inputScale) || !Finite(net->inputOffset))
            return "у временного ряда проекта нет разброса значений.";
    }
    return {};
}

TExportResult ExportNetwork(const TProjectState& project, const std::string& path)
{
    const std::string failed = "Не удалось экспортировать сеть в файл " + Shown(path) + ": ";
    const std::optional<TExportFormat> format = ExportFormatOf(path);
    if (!format)
        return {TExportOutcome::UnknownFormat,
                failed + "неизвестный формат. Нужно расширение .onnx (ONNX), .net (FANN) или .h (заголовок C)."};
    if (std::string refusal = NetworkExportRefusal(project); !refusal.empty())
        return {TExportOutcome::Refused, failed + refusal};
    const TNeuralNet& net = *project.net;
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& l = net.layers[k];
        for (std::uint32_t i = 0; i <= l.inputCount; ++i)
            for (std::uint32_t j = 0; j < l.neuronCount; ++j)
                if (!Finite(l.weights[i][j]))
                    return {TExportOutcome::Refused, failed + "у слоя " + std::to_string(k + 1) +
                                                         " не все веса — конечные числа: обучение разошлось."};
    }
    if (*format == TExportFormat::Fann)
        if (std::string refusal = FannRefusal(net); !refusal.empty())
            return {TExportOutcome::Refused, failed + refusal};

    std::string bytes;
    try {
        TExported e{net, std::nullopt, {}, project.retinaWidth, project.retinaHeight};
        if (IsSeriesNetwork(project)) {
            const double range = static_cast<double>(project.seriesMax) - static_cast<double>(project.seriesMin);
            e.series = TSeriesScaling{project.seriesMin, static_cast<float>(range), net.inputScale, net.inputOffset};
        } else {
            // Each output is named as the windows show it: by its class name,
            // or by its number where the class has none.
            for (std::uint32_t k = 0; k < net.outputCount; ++k)
                e.classNames.push_back(ShownClassName(project.classNames, k));
        }
        switch (*format) {
        case TExportFormat::Onnx:
            bytes = OnnxModel(e);
            break;
        case TExportFormat::Fann:
            bytes = FannFile(e);
            break;
        case TExportFormat::CHeader:
            bytes = CHeader(e);
            break;
        }
    } catch (const std::bad_alloc&) {
        return {TExportOutcome::Refused, failed + "недостаточно памяти."};
    }
    if (std::string reason = SaveFileAtomically(path, bytes); !reason.empty())
        return {TExportOutcome::Refused, failed + reason};
    return {};
}
