// What every file reader does with inputs that are no ordinary files, or
// whose sizes are out of proportion: refuse them with a reason, before
// reading them, and change nothing.

#include <functional>
#include <sys/stat.h>

#include "images/ClassNames.h"
#include "images/PatternRing.h"
#include "images/SeriesFile.h"
#include "TempFiles.h"

namespace {

// The element of the sequence a load must leave alone.
PatternRing& Marked(PatternRing& ring)
{
    TAbsImage marker(2);
    marker.Cells = {1, 0};
    ring.SetDimension(2);
    ring.Add(marker, 5);
    return ring;
}

bool StillMarked(const PatternRing& ring)
{
    const TAbsImage* marker = ring.CurrentElement();
    return ring.GetCount() == 1 && ring.GetDimension() == 2 && marker && &*ring.FileOrder().begin() == marker &&
           marker->ClassIndex == 5 && marker->Cells == std::vector<std::int8_t>{1, 0, 1};
}

struct Refusal {
    bool cannotOpen = false;
    TFileOpenError openError = TFileOpenError::None;
};

// Each reader of the program, as what it tells about a file it refuses.
const std::vector<std::pair<const char*, std::function<Refusal(const std::string&)>>> readers = {
    {"sequence",
     [](const std::string& name) {
         PatternRing ring;
         Refusal r;
         TSequenceFileError error = TSequenceFileError::None;
         EXPECT_FALSE(Marked(ring).LoadFromFile(name, &error, &r.openError));
         EXPECT_TRUE(StillMarked(ring));
         r.cannotOpen = error == TSequenceFileError::CannotOpen;
         return r;
     }},
    {"class names",
     [](const std::string& name) {
         const TClassNamesFile names = LoadClassNames(name);
         EXPECT_TRUE(names.names.empty());
         return Refusal{names.error == TClassNamesError::CannotOpen, names.openError};
     }},
    {"series",
     [](const std::string& name) {
         const TSeriesFileResult series = ReadSeriesFile(name);
         EXPECT_TRUE(series.values.empty());
         return Refusal{series.status == SeriesFileStatus::CannotOpen, series.openError};
     }},
};

class UntrustedFiles : public TempFolderTest {};

} // namespace

TEST_F(UntrustedFiles, OnlyRegularFilesAreOpened)
{
    // A pipe without a writer would keep a reader waiting for ever, and a
    // device such as /dev/zero never ends.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    const std::pair<std::string, TFileOpenError> inputs[] = {
        {Path("pipe"), TFileOpenError::NotAFile},
        {"/dev/zero", TFileOpenError::NotAFile},
        {dir_.string(), TFileOpenError::NotAFile},
        {Path("missing"), TFileOpenError::NotFound},
        {Path("missing/below"), TFileOpenError::NotFound},
        {"", TFileOpenError::NotFound},
    };
    for (const auto& [reader, read] : readers)
        for (const auto& [name, why] : inputs) {
            const Refusal r = read(name);
            EXPECT_TRUE(r.cannotOpen) << reader << ": " << name;
            EXPECT_EQ(r.openError, why) << reader << ": " << name;
        }
}

TEST_F(UntrustedFiles, SizesAreCheckedBeforeTheFileIsRead)
{
    // Records of no cells cost some twenty times their four bytes in memory:
    // 2^32 - 1 of them, in a sparse file of 16 GiB, are refused before any
    // record is read.
    Bytes header{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    WriteBytes(Path("many.llt"), header);
    std::filesystem::resize_file(Path("many.llt"), 8 + 4 * std::uint64_t{0xFFFFFFFF});
    PatternRing ring;
    TSequenceFileError error = TSequenceFileError::None;
    EXPECT_FALSE(Marked(ring).LoadFromFile(Path("many.llt"), &error));
    EXPECT_EQ(error, TSequenceFileError::OutOfMemory);
    EXPECT_TRUE(StillMarked(ring));

    // A names file without white space, too large to be one.
    WriteBytes(Path("huge.nam"), {});
    std::filesystem::resize_file(Path("huge.nam"), MaxClassNamesFileSize + 1);
    EXPECT_EQ(LoadClassNames(Path("huge.nam")).error, TClassNamesError::TooLarge);

    // One name more than a project can have classes.
    for (const std::size_t count : {MaxClassNames, MaxClassNames + 1}) {
        Bytes names;
        for (std::size_t k = 0; k < count; ++k)
            names.insert(names.end(), {'n', '\r', '\n'});
        WriteBytes(Path("count.nam"), names);
        const TClassNamesFile read = LoadClassNames(Path("count.nam"));
        EXPECT_EQ(read.error, count > MaxClassNames ? TClassNamesError::TooManyNames : TClassNamesError::None);
        EXPECT_EQ(read.names.size(), read.Ok() ? count : 0);
    }
}
