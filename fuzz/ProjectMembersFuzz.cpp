// The members of a project file, past its JSON and its checksum: the input
// is read as a list of edits to a small, correct project document (a member
// removed, a number set near its value or to a limit, a block re-encoded
// with a few bytes more or less, a character of a block changed, a layer or
// a name added or dropped, ...). The edited document is written the way
// another tool would write it, with a correct checksum, and must then do
// what CheckProjectFile asks.
#include "ProjectRoundTrip.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

using Json = nlohmann::json;

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::uint32_t Crc32(const std::string& bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (const unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

std::string Base64(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto b = [&](std::size_t k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u; };
        const std::uint32_t v = b(i) << 16 | b(i + 1) << 8 | b(i + 2);
        out += Alphabet[v >> 18];
        out += Alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? Alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? Alphabet[v & 63] : '=';
    }
    return out;
}

// The bytes a canonical block of this many characters holds.
std::size_t BlockBytes(const std::string& text)
{
    const std::size_t pads = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    return text.size() / 4 * 3 - std::min(pads, text.size() / 4 * 3);
}

// A small project using every member, as this program saves it.
const Json& BaseDocument()
{
    static const Json doc = [] {
        TProjectState s;
        s.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{4, 3, 2}, 0.5f, 0.0f, 0.0f, 1.0f, 1.0f);
        s.sequence.SetDimension(4);
        for (int k = 0; k < 3; ++k) {
            TAbsImage image(4);
            image.Cells[static_cast<std::size_t>(k)] = 1;
            s.sequence.Add(image, k % 2);
        }
        s.classNames = {"круг", "квадрат"};
        s.retinaWidth = 2;
        s.retinaHeight = 2;
        s.series.count = 6;
        s.series.values = std::make_unique<float[]>(6);
        for (int i = 0; i < 6; ++i) s.series.values[i] = 0.125f * static_cast<float>(i);
        s.windowSize = 2;
        s.trainLength = 5;
        s.generator = 0x0123456789abcdefu;
        const std::string path = ScratchFile("-base.trelis");
        if (!SaveProjectFile(s, path).empty())
            std::abort();
        return Json::parse(ReadFile(path));
    }();
    return doc;
}

// Every object of the document with the members it may hold.
std::vector<std::pair<Json*, std::vector<std::string>>> Places(Json& doc)
{
    std::vector<std::pair<Json*, std::vector<std::string>>> places = {
        {&doc, {"format", "version", "network", "sequence", "classNames", "retina", "series", "generator"}}};
    const auto add = [&](Json& parent, const char* key, std::vector<std::string> members) {
        auto it = parent.find(key);
        if (it != parent.end() && it->is_object())
            places.push_back({&*it, std::move(members)});
    };
    add(doc, "network", {"inputOffset", "targetOffset", "inputScale", "targetScale", "layers"});
    add(doc, "sequence", {"dimension", "count", "classes", "sizes", "lengths", "cells"});
    add(doc, "retina", {"width", "height"});
    add(doc, "series", {"count", "values", "min", "max", "windowSize", "trainLength", "fromFirstWindow"});
    auto network = doc.find("network");
    if (network != doc.end() && network->is_object()) {
        auto layers = network->find("layers");
        if (layers != network->end() && layers->is_array())
            for (Json& layer : *layers)
                if (layer.is_object())
                    places.push_back(
                        {&layer, {"inputs", "neurons", "slope", "amplitude", "offset", "weights", "changes"}});
    }
    return places;
}

constexpr std::uint64_t Limits[] = {0,       1,        2,        3,        4,          15,         16,
                                    17,      447,      448,      10000,    10001,      65536,      199809,
                                    200000,  200001,   8388608,  8388609,  16777216,   16777217,   33554437,
                                    33554438, 2147483647, 2147483648u, 4294967295u, 4294967296u};

void Edit(FuzzedDataProvider& in, Json& doc)
{
    auto places = Places(doc);
    auto& [parent, members] = places[in.ConsumeIntegralInRange<std::size_t>(0, places.size() - 1)];
    const std::string& key = members[in.ConsumeIntegralInRange<std::size_t>(0, members.size() - 1)];
    Json& v = (*parent)[key];
    switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
        parent->erase(key);
        break;
    case 1: // a whole number near the present one
        v = (v.is_number_integer() ? v.get<std::int64_t>() : 0) + in.ConsumeIntegralInRange<std::int64_t>(-3, 3);
        break;
    case 2:
        v = Limits[in.ConsumeIntegralInRange<std::size_t>(0, std::size(Limits) - 1)];
        break;
    case 3:
        v = in.ConsumeIntegral<std::uint64_t>();
        break;
    case 4:
        v = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
        if (!std::isfinite(v.get<double>()))
            v = in.ConsumeProbability<double>();
        break;
    case 5:
        v = in.ConsumeRandomLengthString(80);
        break;
    case 6: { // a block of a few bytes more or less
        const std::size_t now = v.is_string() ? BlockBytes(v.get<std::string>()) : 0;
        const auto delta = in.ConsumeIntegralInRange<std::int64_t>(-4, 4);
        const auto n = static_cast<std::size_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(now) + delta));
        std::string bytes = in.ConsumeBytesAsString(n);
        bytes.resize(n, '\0');
        v = Base64(bytes);
        break;
    }
    case 7: // one character of a string changed
        if (v.is_string() && !v.get<std::string>().empty()) {
            std::string text = v.get<std::string>();
            text[in.ConsumeIntegralInRange<std::size_t>(0, text.size() - 1)] = in.ConsumeIntegral<char>();
            v = text;
        }
        break;
    case 8: {
        const int kind = in.ConsumeIntegralInRange(0, 4);
        v = kind == 0 ? Json(nullptr) : kind == 1 ? Json(true) : kind == 2 ? Json::array() : kind == 3 ? Json::object()
                                                                                                     : Json(-1);
        break;
    }
    case 9: // a float as the bits of a value that is not a number
        v = "0x" + std::string(in.ConsumeBool() ? "7fc00001" : "ff80000g").substr(0, in.ConsumeIntegralInRange(7, 8));
        break;
    case 10: { // a layer or a class name more or fewer
        Json* list = doc.contains("classNames") && doc["classNames"].is_array() ? &doc["classNames"] : nullptr;
        if (in.ConsumeBool() && doc.contains("network") && doc["network"].is_object() &&
            doc["network"].contains("layers") && doc["network"]["layers"].is_array())
            list = &doc["network"]["layers"];
        if (list && !list->empty()) {
            if (in.ConsumeBool())
                list->push_back(list->back());
            else
                list->erase(list->size() - 1);
        }
        break;
    }
    default: // a member of another type or place: the whole of another member
        v = (*parent)[members[in.ConsumeIntegralInRange<std::size_t>(0, members.size() - 1)]];
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile("-members.trelis");
    FuzzedDataProvider in(data, size);
    Json doc = BaseDocument();
    for (int edits = 0; edits < 8 && in.remaining_bytes() > 0; ++edits) Edit(in, doc);

    // Written as another tool would: indented, the checksum recomputed last.
    doc.erase("checksum");
    std::string text = doc.dump(1, ' ', false, Json::error_handler_t::replace);
    text.erase(text.size() - 2); // "\n}"
    text += ",\n ";
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", Crc32(text));
    text += std::string("\"checksum\": \"") + hex + "\"\n}\n";
    WriteFile(input, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    CheckProjectFile(input);
    return 0;
}
