// Any bytes as a sequence file: loading never crashes, never reads past a
// buffer, and leaves the sequence either as it was or holding exactly what
// the file says; what loads saves and loads back identically.
#include "FuzzFile.h"
#include "images/PatternRing.h"

#include <cstring>

namespace {

// Element i's class and bytes, walking from the cursor's successor.
std::string Contents(const PatternRing& ring)
{
    std::string s = std::to_string(ring.Dimension) + "/" + std::to_string(ring.Count) + ":";
    if (!ring.Current)
        return s;
    const TAbsImage* e = ring.Current->Next;
    for (std::uint32_t k = 0; k < ring.Count; ++k, e = e->Next) {
        s += std::to_string(e->ClassIndex) + "=";
        s.append(reinterpret_cast<const char*>(e->Cells.data()), e->Cells.size());
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".llt");
    static const std::string output = ScratchFile("-out.llt");
    WriteFile(input, data, size);

    PatternRing ring;
    TAbsImage marker(3);
    std::memset(marker.Cells.data(), 1, 3);
    ring.SetDimension(3);
    ring.Add(marker, 7);
    const std::string before = Contents(ring);

    TSequenceFileError error = TSequenceFileError::None;
    if (!ring.LoadFromFile(input, &error)) {
        if (error == TSequenceFileError::None || Contents(ring) != before)
            std::abort(); // a failed load must say why and change nothing
        return 0;
    }
    if (ring.Count > 0 && ring.Current->Next == nullptr)
        std::abort();

    const std::string loaded = Contents(ring);
    if (!ring.SaveToFile(output))
        std::abort();
    if (Contents(ring) != loaded)
        std::abort(); // saving moved the cursor or changed an element
    PatternRing again;
    if (!again.LoadFromFile(output) || Contents(again) != loaded)
        std::abort(); // what was saved does not load back the same
    const std::string saved = ReadFile(output);
    if (!again.SaveToFile(output) || ReadFile(output) != saved)
        std::abort(); // save right after load must reproduce the file
    return 0;
}
