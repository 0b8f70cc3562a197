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
    // The rows of a CSV file, each cut into its fields. A field may be quoted
    // (RFC 4180): commas, quotes (doubled) and line breaks inside it are its
    // own. Outside quotes a line ends at LF, CR or CR LF, as spreadsheets
    // take it; a quote inside an unquoted field, or anything but a comma or
    // the line's end after a closing quote, fails the test.
    static std::vector<std::vector<std::string>> CsvRows(const std::string& path) {
        const std::string text = ReadText(path);
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> row;
        std::string field;
        bool quoted = false, closed = false, started = false;
        const auto endField = [&] {
            row.push_back(field);
            field.clear();
            closed = false;
            started = false;
        };
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (quoted) {
                if (c != '"')
                    field += c;
                else if (i + 1 < text.size() && text[i + 1] == '"')
                    field += text[++i];
                else
                    quoted = false, closed = true;
            } else if (c == ',') {
                endField();
            } else if (c == '\n' || c == '\r') {
                if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                endField();
                rows.push_back(std::move(row));
                row.clear();
            } else if (c == '"' && !started) {
                quoted = started = true;
            } else if (c == '"' || closed) {
                ADD_FAILURE() << path << ": not CSV at byte " << i;
                return rows;
            } else {
                field += c;
                started = true;
            }
        }
        if (quoted)
            ADD_FAILURE() << path << ": a quoted field is not closed";
        if (started || closed || !row.empty()) {
            endField();
            rows.push_back(std::move(row));
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
