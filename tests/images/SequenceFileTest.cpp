// The sequence file: its byte layout with the line-end translation, the round
// trip, and damaged or unreachable files.

#include <random>

#include "images/PatternRing.h"
#include "TempFiles.h"

namespace {

TAbsImage Pattern(std::vector<std::int8_t> cells) {
    TAbsImage img(static_cast<std::uint32_t>(cells.size()));
    img.Cells = std::move(cells);
    return img;
}

struct Element {
    std::int32_t classIndex;
    std::vector<std::int8_t> cells;   // the whole buffer, bias byte included
    bool operator==(const Element&) const = default;
};

// The elements from the one after the cursor round to the cursor's.
std::vector<Element> Contents(const PatternRing& ring) {
    std::vector<Element> out;
    for (const TAbsImage& e : ring.FileOrder())
        out.push_back({e.ClassIndex, e.Cells});
    return out;
}

void Append(Bytes& b, std::initializer_list<int> values) {
    for (int v : values)
        b.push_back(static_cast<std::uint8_t>(v));
}

// A sequence of n elements of d cells holding every kind of byte the
// translation cares about, with assorted class indices.
void FillRandom(PatternRing& ring, std::uint32_t n, std::uint32_t d, unsigned seed) {
    std::mt19937 rng(seed);
    const std::int8_t special[] = {0, 1, 0x0A, 0x0D, 0x1A, -1};
    ring.SetDimension(d);
    for (std::uint32_t k = 0; k < n; ++k) {
        std::vector<std::int8_t> cells(d);
        for (auto& c : cells)
            c = special[rng() % 6];
        const std::int32_t cls[] = {0, 10, 13, 26, 0x0A0D0A0D, -1, 3};
        ring.Add(Pattern(cells), cls[rng() % 7]);
    }
}

class SequenceFile : public TempFolderTest {};

} // namespace

TEST_F(SequenceFile, OneElementIsStoredAsHeaderClassAndCells) {
    PatternRing ring;
    ring.SetDimension(4);
    ring.Add(Pattern({1, 0, 0, 1}), 2);
    ASSERT_TRUE(ring.SaveToFile(Path("one.llt")));
    EXPECT_EQ(ReadBytes(Path("one.llt")),
              (Bytes{0x04, 0, 0, 0, 0x01, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0x00, 0x00, 0x01}));
}

TEST_F(SequenceFile, EveryLineFeedIsStoredAsCarriageReturnLineFeed) {
    PatternRing ring;
    ring.SetDimension(1);
    for (int k = 0; k < 10; ++k)
        ring.Add(Pattern({0}), k == 3 ? 13 : k == 4 ? 26 : k == 5 ? 10 : 0);
    ASSERT_TRUE(ring.SaveToFile(Path("ten.llt")));
    const Bytes stored = ReadBytes(Path("ten.llt"));

    Bytes expected;
    Append(expected, {0x01, 0, 0, 0, 0x0D, 0x0A, 0, 0, 0});
    for (int k = 0; k < 10; ++k) {
        if (k == 3)
            Append(expected, {0x0D, 0, 0, 0});       // 13 as it is
        else if (k == 4)
            Append(expected, {0x1A, 0, 0, 0});       // 26 as it is
        else if (k == 5)
            Append(expected, {0x0D, 0x0A, 0, 0, 0}); // 10 translated
        else
            Append(expected, {0, 0, 0, 0});
        Append(expected, {0});
    }
    EXPECT_EQ(stored, expected);

    PatternRing loaded;
    ASSERT_TRUE(loaded.LoadFromFile(Path("ten.llt")));
    EXPECT_EQ(loaded.GetCount(), 10u);
    EXPECT_EQ(loaded.GetDimension(), 1u);
    EXPECT_EQ(Contents(loaded), Contents(ring));
}

TEST_F(SequenceFile, ReaderJoinsOnlyCarriageReturnLineFeedPairs) {
    // D = 3, N = 1, class 0x0D; cells: a lone CR, the pair CR CR LF, 1A.
    Bytes file;
    Append(file, {0x03, 0, 0, 0, 0x01, 0, 0, 0, 0x0D, 0, 0, 0, 0x0D, 0x0D, 0x0A, 0x1A});
    WriteBytes(Path("pairs.llt"), file);
    PatternRing ring;
    ASSERT_TRUE(ring.LoadFromFile(Path("pairs.llt")));
    ASSERT_EQ(ring.GetCount(), 1u);
    EXPECT_EQ(ring.CurrentElement()->ClassIndex, 13);
    EXPECT_EQ(ring.CurrentElement()->Cells, (std::vector<std::int8_t>{0x0D, 0x0A, 0x1A, 1}));
    ASSERT_TRUE(ring.SaveToFile(Path("again.llt")));
    EXPECT_EQ(ReadBytes(Path("again.llt")), file);
}

TEST_F(SequenceFile, PairsAndLoneCarriageReturnsAcrossTheReadersChunks) {
    // The reader takes the file 64 KiB at a time: stored byte 65535 is the
    // last of the first chunk. It is a CR there, followed by LF or not.
    constexpr std::uint32_t d = 70000;
    constexpr std::size_t at = 65535 - 12;   // the cell stored there
    for (const bool pair : {true, false}) {
        Bytes file;
        Append(file, {0x70, 0x11, 0x01, 0, 0x01, 0, 0, 0, 0x07, 0, 0, 0});
        file.resize(file.size() + d, 1);
        file[12 + at] = 0x0D;
        if (pair)
            file.insert(file.begin() + 12 + at + 1, 0x0A);
        WriteBytes(Path("wide.llt"), file);
        PatternRing ring;
        ASSERT_TRUE(ring.LoadFromFile(Path("wide.llt")));
        std::vector<std::int8_t> cells(d + 1, 1);
        cells[at] = pair ? 0x0A : 0x0D;
        EXPECT_EQ(Contents(ring), (std::vector<Element>{{7, cells}}));
    }
}

TEST_F(SequenceFile, SaveAfterLoadReproducesTheFile) {
    PatternRing ring;
    FillRandom(ring, 300, 25, 1);
    for (int step = 0; step < 3; ++step)
        ring.StepCursor();                          // the file starts after the cursor
    const TAbsImage* cursor = ring.CurrentElement();
    const auto before = Contents(ring);
    ASSERT_TRUE(ring.SaveToFile(Path("a.llt")));
    EXPECT_EQ(ring.CurrentElement(), cursor);
    EXPECT_EQ(Contents(ring), before);

    PatternRing loaded;
    ASSERT_TRUE(loaded.LoadFromFile(Path("a.llt")));
    EXPECT_EQ(loaded.GetDimension(), 25u);
    EXPECT_EQ(Contents(loaded), before);   // cursor on the last record read
    ASSERT_TRUE(loaded.SaveToFile(Path("b.llt")));
    EXPECT_EQ(ReadBytes(Path("b.llt")), ReadBytes(Path("a.llt")));
}

TEST_F(SequenceFile, LoadReplacesContentsAndDimension) {
    PatternRing small;
    FillRandom(small, 3, 2, 2);
    ASSERT_TRUE(small.SaveToFile(Path("small.llt")));

    PatternRing ring;
    FillRandom(ring, 5, 7, 3);
    ASSERT_TRUE(ring.LoadFromFile(Path("small.llt")));
    EXPECT_EQ(ring.GetDimension(), 2u);
    EXPECT_EQ(Contents(ring), Contents(small));

    PatternRing none;
    none.SetDimension(9);
    ASSERT_TRUE(none.SaveToFile(Path("empty.llt")));
    EXPECT_EQ(ReadBytes(Path("empty.llt")), (Bytes{0x09, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(ring.LoadFromFile(Path("empty.llt")));
    EXPECT_EQ(ring.GetCount(), 0u);
    EXPECT_EQ(ring.CurrentElement(), nullptr);
    EXPECT_EQ(ring.GetDimension(), 9u);
}

TEST_F(SequenceFile, ElementsOfOtherSizesAreCutOrPaddedToDimension) {
    PatternRing ring;
    ring.Add(Pattern({1, 1}), 0);           // buffer 1 1 + bias: 3 bytes
    ring.Add(Pattern({1, 0, 1, 0, 1}), 1);  // longer than the file's element
    ring.SetDimension(4);
    ASSERT_TRUE(ring.SaveToFile(Path("mixed.llt")));
    EXPECT_EQ(ReadBytes(Path("mixed.llt")),
              (Bytes{0x04, 0, 0, 0, 0x02, 0, 0, 0,
                     0, 0, 0, 0, 1, 1, 1, 0,       // its bytes, then 0
                     1, 0, 0, 0, 1, 0, 1, 0}));    // its first four bytes

    PatternRing loaded;
    ASSERT_TRUE(loaded.LoadFromFile(Path("mixed.llt")));
    for (const Element& e : Contents(loaded))
        EXPECT_EQ(e.cells.size(), 5u);
}

TEST_F(SequenceFile, TrailingBytesAfterTheRecordsAreIgnored) {
    Bytes file;
    Append(file, {0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0, 0x01, 0xEE, 0xEE});
    WriteBytes(Path("tail.llt"), file);
    PatternRing ring;
    ASSERT_TRUE(ring.LoadFromFile(Path("tail.llt")));
    EXPECT_EQ(Contents(ring), (std::vector<Element>{{5, {1, 1}}}));
}

TEST_F(SequenceFile, ShortOverstatedOrUnreachableFilesFailAndKeepTheSequence) {
    PatternRing source;
    FillRandom(source, 6, 5, 5);
    ASSERT_TRUE(source.SaveToFile(Path("full.llt")));
    const Bytes full = ReadBytes(Path("full.llt"));

    Bytes huge;   // D = 4,000,000,000 and one record of a few bytes
    Append(huge, {0x00, 0x28, 0x6B, 0xEE, 0x01, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3});
    Bytes many;   // N = 0xFFFFFFFF records of no cells
    Append(many, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
    Bytes header7;
    Append(header7, {0x05, 0, 0, 0, 0x01, 0, 0});
    std::vector<Bytes> damaged = {huge, many, header7, {}};
    for (std::size_t cut : {full.size() - 1, full.size() - 5, std::size_t{12}, std::size_t{8}})
        damaged.emplace_back(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    // A pair CR LF counts as one byte: a file that is long enough only when
    // its stored bytes are counted falls short once they are joined.
    Bytes joined;
    Append(joined, {0x02, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0x0A});
    damaged.push_back(joined);

    PatternRing ring;
    FillRandom(ring, 4, 3, 6);
    ring.StepCursor();
    const auto before = Contents(ring);
    const TAbsImage* cursor = ring.CurrentElement();
    // Beyond them, a file that is missing and a folder in a file's place.
    for (std::size_t i = 0; i < damaged.size() + 2; ++i) {
        if (i < damaged.size())
            WriteBytes(Path("bad.llt"), damaged[i]);
        const std::string path = i < damaged.size() ? Path("bad.llt") : i == damaged.size() ? Path("none.llt") : dir_.string();
        EXPECT_FALSE(ring.LoadFromFile(path)) << "file " << i;
        EXPECT_EQ(ring.GetCount(), 4u);
        EXPECT_EQ(ring.GetDimension(), 3u);
        EXPECT_EQ(ring.CurrentElement(), cursor);
        EXPECT_EQ(Contents(ring), before);
    }
    EXPECT_FALSE(ring.SaveToFile(Path("no/such/folder.llt")));
}

TEST_F(SequenceFile, AFailedLoadTellsWhy) {
    PatternRing source;
    FillRandom(source, 3, 4, 8);
    ASSERT_TRUE(source.SaveToFile(Path("good.llt")));
    const Bytes good = ReadBytes(Path("good.llt"));
    WriteBytes(Path("cut.llt"), Bytes(good.begin(), good.end() - 1));
    WriteBytes(Path("stub.llt"), Bytes(good.begin(), good.begin() + 5));
    // No records, but an element size that a later save would pad out to
    // gigabytes for every element added.
    WriteBytes(Path("vast.llt"), Bytes{0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0});
    WriteBytes(Path("largest.llt"), Bytes{0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0});

    struct Case {
        std::string path;
        TSequenceFileError expected;
    };
    const Case cases[] = {
        {Path("good.llt"), TSequenceFileError::None},
        {Path("missing.llt"), TSequenceFileError::CannotOpen},
        {Path("stub.llt"), TSequenceFileError::NoHeader},
        {Path("cut.llt"), TSequenceFileError::Truncated},
        {Path("vast.llt"), TSequenceFileError::TooLarge},
        {Path("largest.llt"), TSequenceFileError::None},
    };
    for (const Case& c : cases) {
        PatternRing ring;
        TSequenceFileError why = TSequenceFileError::OutOfMemory;   // overwritten every time
        EXPECT_EQ(ring.LoadFromFile(c.path, &why), c.expected == TSequenceFileError::None) << c.path;
        EXPECT_EQ(why, c.expected) << c.path;
    }

    PatternRing ring;
    TSequenceFileError why = TSequenceFileError::None;
    EXPECT_FALSE(ring.LoadFromFile(dir_.string(), &why));   // a folder
    EXPECT_EQ(why, TSequenceFileError::CannotOpen);
}

TEST_F(SequenceFile, ArbitraryBytesLoadConsistentlyOrNotAtAll) {
    std::mt19937 rng(99);
    PatternRing ring;
    FillRandom(ring, 2, 2, 7);
    const auto before = Contents(ring);
    for (int round = 0; round < 400; ++round) {
        Bytes file(rng() % 48);
        for (auto& b : file)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x0A + rng() % 4 : rng() % 3);
        if (file.size() >= 8 && round % 2 == 0)
            file[7] = file[6] = file[5] = 0;   // plausible counts now and then
        WriteBytes(Path("fuzz.llt"), file);
        PatternRing probe;
        FillRandom(probe, 2, 2, 7);
        if (probe.LoadFromFile(Path("fuzz.llt"))) {
            for (const Element& e : Contents(probe)) {
                ASSERT_EQ(e.cells.size(), std::size_t{probe.GetDimension()} + 1);
                EXPECT_EQ(e.cells.back(), 1);
            }
        } else {
            EXPECT_EQ(Contents(probe), before);
            EXPECT_EQ(probe.GetDimension(), 2u);
        }
    }
}
