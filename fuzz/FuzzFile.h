#pragma once
// The readers under test take file names: each input is written to one
// scratch file of the fuzzing process and read back from there.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string ScratchFile(const char* ending)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/trelis-fuzz-" + std::to_string(getpid()) + ending;
}

inline void WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    if (std::fclose(f) != 0)
        std::abort();
}

inline std::string ReadFile(const std::string& name)
{
    std::string bytes;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f)
        std::abort();
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    std::fclose(f);
    return bytes;
}
