#pragma once
// Scratch files for the file tests: a fresh folder per test, removed after it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("trelis_images_" + std::to_string(::getpid()) + "_" + info->test_suite_name() +
                "_" + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static Bytes ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteBytes(const std::string& path, const Bytes& b) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

    static std::string ReadText(const std::string& path) {
        const Bytes bytes = ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }
    static void WriteText(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    // The rows of a CSV file without quoted fields, each cut at its commas.
    static std::vector<std::vector<std::string>> CsvRows(const std::string& path) {
        std::vector<std::vector<std::string>> rows;
        std::ifstream in(path);
        for (std::string row; std::getline(in, row);) {
            rows.emplace_back();
            for (std::size_t at = 0, comma; ; at = comma + 1) {
                comma = row.find(',', at);
                rows.back().push_back(row.substr(at, comma - at));
                if (comma == std::string::npos)
                    break;
            }
        }
        return rows;
    }
    // The names in the folder itself.
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The files in the folder and below it.
    std::size_t FileCount() const {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
            n += entry.is_regular_file() ? 1 : 0;
        return n;
    }

    std::filesystem::path dir_;
};
