// Any bytes as a class-names file: reading never crashes, gives words free
// of white space, and what is written from them reads back the same.
#include "FuzzFile.h"
#include "images/ClassNames.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".nam");
    static const std::string output = ScratchFile("-out.nam");
    WriteFile(input, data, size);

    bool ok = false;
    const std::vector<std::string> names = ReadClassNames(input, &ok);
    if (!ok)
        std::abort();
    for (const std::string& name : names)
        if (name.empty() || name.find_first_of(" \t\r\n\v\f") != std::string::npos)
            std::abort();

    if (!WriteClassNames(output, names))
        std::abort();
    if (ReadClassNames(output) != names)
        std::abort();
    return 0;
}
